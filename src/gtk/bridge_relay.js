// Runs in the bridge's own script world, main frame only: forwards the page's messages to
// the shell. Only text made by the page-side stand-in is passed on.
document.addEventListener(
  "brivok-bridge-message",
  (event) => {
    if (typeof event.detail === "string") window.webkit.messageHandlers.brivok.postMessage(event.detail);
  },
  true,
);
