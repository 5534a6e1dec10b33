// What every part of the page does with the document: find an element,
// make one, and say something in the status line or the alert.
'use strict';

(function (page) {
  const $ = (id) => document.getElementById(id);

  function el(tag, props, ...children) {
    const e = document.createElement(tag);
    Object.assign(e, props || {});
    for (const c of children) if (c !== null && c !== undefined) e.append(c);
    return e;
  }

  // One line at a time: what was done, or what went wrong.
  function say(text) {
    $('alert').textContent = '';
    $('status').textContent = text;
  }
  function warn(text) {
    $('status').textContent = '';
    $('alert').textContent = text;
  }
  function report(error) {
    if (error) warn(error);
  }

  page.dom = { $, el, say, warn, report };
})(page);
