// Page side of the "brivok" channel, in the main frame only. The real channel lives in a
// separate script world, so frames of other sites cannot reach it; this stand-in hands each
// message across as JSON text, which keeps strings, numbers, booleans and arrays apart.
(() => {
  const stringify = JSON.stringify;
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
})();
