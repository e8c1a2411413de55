// Page side of the "brivok" channel, in the main frame only. The real channel lives in a
// separate script world, so frames of other sites cannot reach it; this stand-in hands each
// message across as JSON text, which keeps strings, numbers, booleans and arrays apart.
(() => {
  const stringify = JSON.stringify;
  const parse = JSON.parse;
  const CustomEventCtor = CustomEvent;
  const dispatch = EventTarget.prototype.dispatchEvent;
  const target = document;
  const channel = Object.freeze({
    postMessage(message) {
      let text;
      try {
        text = stringify(message);
      } catch (e) {
        return;
      }
      if (typeof text !== "string") return;
      dispatch.call(target, new CustomEventCtor("brivok-bridge-message", { detail: text }));
    },
  });
  let webkit = window.webkit;
  if (!webkit || typeof webkit !== "object") {
    webkit = {};
    Object.defineProperty(window, "webkit", { value: webkit, configurable: false });
  }
  let handlers = webkit.messageHandlers;
  if (!handlers || typeof handlers !== "object") {
    handlers = {};
    try {
      Object.defineProperty(webkit, "messageHandlers", { value: handlers, configurable: false });
    } catch (e) {}
  }
  try {
    Object.defineProperty(handlers, "brivok", { value: channel, configurable: false });
  } catch (e) {}

  // Answers the shell sends this document: [callback name, value], called as
  // "window.<callback> && window.<callback>(value)" would be.
  document.addEventListener(
    "brivok-bridge-answer",
    (event) => {
      if (typeof event.detail !== "string") return;
      let call;
      try {
        call = parse(event.detail);
      } catch (e) {
        return;
      }
      const name = call[0];
      if (name !== "brivokSignedIn" && name !== "brivokPickedPaths") return;
      if (window[name]) window[name](call[1]);
    },
    true,
  );

  // The backend's page may open outside addresses in the user's browser from its scripts
  // (after a fetch, say), as it could in a desktop browser. Frames of other sites cannot reach
  // this: their own window.open still needs a click. No window opens inside the shell.
  const URLCtor = URL;
  window.open = function open(url) {
    try {
      const address = new URLCtor(url === undefined ? "" : String(url), document.baseURI).href;
      dispatch.call(target, new CustomEventCtor("brivok-open-outside", { detail: address }));
    } catch (e) {}
    return null;
  };
})();
