// The C API (web/api/klavor_api.h) as the page calls it. Strings and byte
// arrays go in through the module's heap; the answer comes back as bytes,
// copied out (a view would not survive memory growth).
'use strict';

(function (page) {
  // Every function klavor_api.h declares, with what it takes in order:
  // `bytes` a byte array (its address and its length), `text` a string
  // (UTF-8, ended by a zero byte), `int` a number. The build exports the
  // header's own list; tests/web/unit holds this one to the header.
  const FUNCTIONS = {
    klavor_result: [],
    klavor_result_size: [],
    klavor_defaults: [],
    klavor_program: [],
    klavor_setup_program: [],
    klavor_catalog: [],
    klavor_view: ['bytes'],
    klavor_edit: ['bytes', 'int', 'text', 'int', 'text'],
    klavor_open: ['text', 'bytes'],
    klavor_export: ['bytes', 'text', 'text', 'int'],
    klavor_share_code: ['bytes'],
    klavor_share_read: ['text'],
    klavor_sheet: ['bytes'],
    klavor_session_start: ['bytes', 'text'],
    klavor_session_file: ['text', 'bytes'],
    klavor_session_replay: ['text', 'bytes'],
    klavor_session_press: ['int', 'int', 'int'],
    klavor_session_tray: ['int', 'text', 'text'],
    klavor_session_view: ['int', 'int'],
    klavor_session_scenario: [],
  };
  const FITS = {
    int: (a) => typeof a === 'number',
    text: (a) => typeof a === 'string',
    bytes: (a) => ArrayBuffer.isView(a),
  };

  const encoder = new TextEncoder();
  const decoder = new TextDecoder();

  // The calls on module K, emscripten's, which exports each function with
  // a leading underscore, and _malloc, _free and HEAPU8.
  function connect(K) {
    const missing = Object.keys(FUNCTIONS).filter((name) => typeof K['_' + name] !== 'function');
    if (missing.length) throw new Error(`the WebAssembly module has no ${missing.join(', ')}`);

    function call(name, ...args) {
      const kinds = FUNCTIONS[name];
      if (!kinds) throw new Error(`${name} is not in the C API`);
      if (args.length !== kinds.length) throw new Error(`${name} takes ${kinds.length} arguments, not ${args.length}`);
      kinds.forEach((kind, i) => {
        if (!FITS[kind](args[i])) throw new Error(`${name}: argument ${i + 1} is not ${kind}`);
      });
      const held = [];
      // _malloc may grow the memory: HEAPU8 is looked up after it.
      const put = (bytes) => {
        const p = K._malloc(Math.max(bytes.length, 1));
        held.push(p);
        K.HEAPU8.set(bytes, p);
        return p;
      };
      try {
        const real = [];
        kinds.forEach((kind, i) => {
          if (kind === 'int') real.push(args[i]);
          else if (kind === 'text') real.push(put(encoder.encode(args[i] + '\0')));
          else real.push(put(args[i]), args[i].length);
        });
        const ok = K['_' + name](...real) === 1;
        const p = K._klavor_result();
        const bytes = K.HEAPU8.slice(p, p + K._klavor_result_size());
        return { ok, bytes, text: () => decoder.decode(bytes) };
      } finally {
        held.forEach((p) => K._free(p));
      }
    }
    const json = (r) => JSON.parse(r.text());

    return {
      defaults: () => call('klavor_defaults').bytes,
      program: () => call('klavor_program').bytes,
      setupProgram: () => call('klavor_setup_program').bytes,
      catalog: () => json(call('klavor_catalog')),
      view: (t) => json(call('klavor_view', t)),
      isTable: (t) => call('klavor_view', t).ok,
      edit: (t, slot, field, press, word) => call('klavor_edit', t, slot, field, press, word),
      open: (name, data) => call('klavor_open', name, data),
      export: (t, kind, name, force) => call('klavor_export', t, kind, name, force ? 1 : 0),
      shareCode: (t) => call('klavor_share_code', t).text(),
      shareRead: (text) => call('klavor_share_read', text),
      sheet: (t) => json(call('klavor_sheet', t)),
      sessionStart: (t, title) => call('klavor_session_start', t, title),
      sessionFile: (name, data) => call('klavor_session_file', name, data),
      sessionReplay: (name, data) => call('klavor_session_replay', name, data),
      sessionPress: (t, slot, mods) => call('klavor_session_press', t, slot, mods),
      sessionTray: (t, what, item) => call('klavor_session_tray', t, what, item),
      sessionView: (now, all) => json(call('klavor_session_view', now, all ? 1 : 0)),
      sessionScenario: () => call('klavor_session_scenario').bytes,
    };
  }

  page.wasm = { FUNCTIONS, connect };
})(page);
