// The page's words with no browser: the language a page opens in, a text
// the chosen language lacks falling back to English, and the numbers in
// words, Russian's three plural forms included.
'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { load } = require('./load');

test('the language a page opens in: the one chosen before, else the browser\'s first the page has, else English', () => {
  const { i18n } = load(['strings.js', 'i18n.js']);
  const cases = [
    [null, ['ru-RU', 'en-US'], 'ru'],
    [null, ['de-DE', 'ru'], 'ru'],
    [null, ['en-GB', 'ru-RU'], 'en'],
    [null, ['de-DE', 'fr'], 'en'],
    [null, [], 'en'],
    [null, undefined, 'en'],
    ['en', ['ru-RU'], 'en'],
    ['ru', ['en-US'], 'ru'],
    ['de', ['ru-RU'], 'en'],  // not a language the page has: English, not the browser's
  ];
  for (const [chosen, languages, want] of cases)
    assert.equal(i18n.pick(chosen, languages), want, `${chosen} ${languages}`);
  assert.equal(i18n.setLanguage('ru'), 'ru');
  assert.equal(i18n.setLanguage('de'), 'en');
  assert.equal(i18n.lang, 'en');
});

test('a text the language lacks is the English one; texts with numbers and names', () => {
  const STRINGS = {
    en: { both: 'Both', only: 'Only in English', made: (name, n) => `${name} made (${n} bytes).` },
    ru: { both: 'Оба', made: (name, n) => `${name} создан (${n} байт).` },
  };
  const { i18n } = load(['i18n.js'], { STRINGS });
  const cases = [
    ['en', ['both'], 'Both'],
    ['ru', ['both'], 'Оба'],
    ['ru', ['only'], 'Only in English'],
    ['en', ['made', 'Klavor.cab', 1024], 'Klavor.cab made (1024 bytes).'],
    ['ru', ['made', 'Klavor.cab', 1024], 'Klavor.cab создан (1024 байт).'],
  ];
  for (const [lang, args, want] of cases) {
    i18n.setLanguage(lang);
    assert.equal(i18n.T(...args), want, `${lang} ${args}`);
  }
});

test('counts in words: English singular and plural, Russian\'s three forms', () => {
  const { i18n } = load(['strings.js', 'i18n.js']);
  const cases = {
    en: { 0: 'no errors', 1: '1 error', 2: '2 errors', 11: '11 errors', 21: '21 errors' },
    ru: { 0: 'нет ошибок', 1: '1 ошибка', 2: '2 ошибки', 4: '4 ошибки', 5: '5 ошибок', 11: '11 ошибок', 12: '12 ошибок',
      14: '14 ошибок', 21: '21 ошибка', 22: '22 ошибки', 25: '25 ошибок', 101: '101 ошибка', 111: '111 ошибок' },
  };
  for (const [lang, counts] of Object.entries(cases)) {
    i18n.setLanguage(lang);
    for (const [n, want] of Object.entries(counts)) assert.equal(i18n.count(Number(n), 'error'), want, `${lang} ${n}`);
  }
  i18n.setLanguage('ru');
  assert.equal(i18n.count(3, 'warning'), '3 предупреждения');
  assert.equal(i18n.T('earlierLines', 21), 'Показать 21 строку до этих');
  assert.equal(i18n.T('earlierLines', 300), 'Показать 300 строк до этих');
});
