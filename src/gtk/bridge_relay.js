// Runs in the bridge's own script world, main frame only: forwards the page's messages to
// the shell, with the document's origin and a name for this document that no page script can
// read, so that answers reach the document that asked and no other. Only text made by the
// page-side stand-in is passed on.
const bvDocument = (() => {
  const words = new Uint32Array(4);
  crypto.getRandomValues(words);
  return Array.from(words, (w) => w.toString(16).padStart(8, "0")).join("");
})();
document.addEventListener(
  "brivok-bridge-message",
  (event) => {
    if (typeof event.detail === "string") {
      window.webkit.messageHandlers.brivok.postMessage([location.origin, bvDocument, event.detail]);
    }
  },
  true,
);

// Tells the shell once the document is on screen: a frame begun and the next one begun means
// the first was drawn.
requestAnimationFrame(() => requestAnimationFrame(() => window.webkit.messageHandlers.brivokPainted.postMessage(0)));

// Addresses the page opens with window.open; the shell decides where they may go.
document.addEventListener(
  "brivok-open-outside",
  (event) => {
    if (typeof event.detail === "string") window.webkit.messageHandlers.brivokOutside.postMessage(event.detail);
  },
  true,
);

// A link the user clicks in the page that leads outside goes to the desktop's browser before
// the engine requests it: one-time links stay unspent, and a site that is down never replaces
// the page. Links the page handles itself, and links to other windows, are left alone.
window.addEventListener("click", (event) => {
  if (!event.isTrusted || event.defaultPrevented || event.button !== 0) return;
  if (event.ctrlKey || event.shiftKey || event.altKey || event.metaKey) return;
  const link = event.target && event.target.closest ? event.target.closest("a[href], area[href]") : null;
  if (!link || link.hasAttribute("download")) return;
  const base = document.querySelector("base[target]");
  const frame = (link.getAttribute("target") || (base ? base.getAttribute("target") : "") || "").toLowerCase();
  if (frame !== "" && frame !== "_self" && frame !== "_top" && frame !== "_parent") return;
  let url;
  try {
    url = new URL(link.href);
  } catch (e) {
    return;
  }
  if (url.protocol !== "http:" && url.protocol !== "https:") return;
  if (url.hostname === "127.0.0.1" || url.hostname === "localhost") return;
  event.preventDefault();
  window.webkit.messageHandlers.brivokOutside.postMessage(url.href);
});
