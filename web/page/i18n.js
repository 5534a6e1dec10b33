// The page's words, from the table in strings.js, in the language chosen;
// English for any text the other language lacks.
'use strict';

(function (page) {
  let lang = 'en';

  function T(key, ...args) {
    const s = key in STRINGS[lang] ? STRINGS[lang][key] : STRINGS.en[key];
    return typeof s === 'function' ? s(...args) : s;
  }

  // The page's language: `next` if the table has it, else English.
  function setLanguage(next) {
    lang = STRINGS[next] ? next : 'en';
    return lang;
  }

  // The language a page opens in: the one chosen before, else the first of
  // the browser's that the table has (ru-RU is ru), else English.
  function pick(chosen, languages) {
    const wanted = chosen || (languages || []).map((l) => String(l).slice(0, 2)).find((l) => STRINGS[l]);
    return STRINGS[wanted] ? wanted : 'en';
  }

  const capital = (s) => s.charAt(0).toUpperCase() + s.slice(1);
  const number = (n) => n.toLocaleString(lang);
  const count = (n, what) => T('count', n, what);
  // "single press", from the catalog's press words.
  const pressName = (i) => T('press', i, page.catalog.pressWords[i]);

  // A text with **bold** and `code` marked, as elements: nothing is parsed as HTML.
  function rich(target, text) {
    const { el } = page.dom;
    const parts = String(text).split(/(\*\*[^*]+\*\*|`[^`]+`)/).filter(Boolean).map((p) => {
      if (p.startsWith('**')) return el('strong', { textContent: p.slice(2, -2) });
      if (p.startsWith('`')) return el('code', { textContent: p.slice(1, -1) });
      return p;
    });
    target.replaceChildren(...parts);
  }

  // The markup's own texts: data-t the text, data-t-label the aria-label.
  function applyStrings() {
    document.documentElement.lang = lang;
    document.querySelectorAll('[data-t]').forEach((e) => {
      if (e.tagName === 'TITLE') e.textContent = T(e.dataset.t);
      else rich(e, T(e.dataset.t));
    });
    document.querySelectorAll('[data-t-label]').forEach((e) => e.setAttribute('aria-label', T(e.dataset.tLabel)));
    page.dom.$('lang').value = lang;
  }

  page.i18n = {
    T, setLanguage, pick, capital, number, count, pressName, rich, applyStrings,
    get lang() { return lang; },
  };
})(page);
