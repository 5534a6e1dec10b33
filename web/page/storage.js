// What the page keeps in the browser between visits: the table being
// edited (as hex), the button chosen and the language. Every page opened
// from a file shares the one file:// origin, so each key carries the
// page's prefix; with storage off or full nothing is kept and nothing fails.
'use strict';

(function (page) {
  const PREFIX = 'klavor-configurator.';

  // `backing()` gives the browser's localStorage (reaching it may throw too).
  function open(backing) {
    return {
      get(key) {
        try { return backing().getItem(PREFIX + key); } catch (e) { return null; }
      },
      set(key, value) {
        try { backing().setItem(PREFIX + key, value); } catch (e) { /* storage off: nothing kept */ }
      },
    };
  }

  const toHex = (bytes) => Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
  // Bytes from what toHex wrote, or null for anything else.
  function fromHex(hex) {
    if (typeof hex !== 'string' || !/^([0-9a-f]{2})*$/.test(hex)) return null;
    return Uint8Array.from(hex.match(/../g) || [], (h) => parseInt(h, 16));
  }

  page.storage = { PREFIX, open, toHex, fromHex };
})(page);
