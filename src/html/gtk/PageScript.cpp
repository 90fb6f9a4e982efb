#include "html/gtk/PageScript.h"

namespace quorvin::gtk {

namespace {

// @TOKEN@ is replaced with the view's token. Replies: {"k":"r","x":result},
// {"k":"e","x":error} (thrown into the script) or {"k":"n","s":seq,"x":text}
// (a notification for OnDlgNotify that came while the call was pending; the
// page hands it over and asks again). Sequence numbers keep a notification
// that also travels the ordinary route from being delivered twice.
const char kBootstrap[] = R"JS((function () {
  'use strict';
  var token = '@TOKEN@';
  var lastSeq = 0;
  function post(msg) {
    msg.t = token;
    var x = new XMLHttpRequest();
    x.open('POST', 'quorvin://bridge/call', false);
    x.setRequestHeader('Content-Type', 'text/plain;charset=UTF-8');
    x.send(JSON.stringify(msg));
    return JSON.parse(x.responseText);
  }
  function deliver(seq, text) {
    if (seq <= lastSeq) return false;
    lastSeq = seq;
    var f = window.OnDlgNotify;
    if (typeof f === 'function') {
      try { f(text, undefined); } catch (e) { if (window.console) console.error(e); }
    }
    return true;
  }
  function str(v) { return v === undefined || v === null ? '' : String(v); }
  function call(a, b, c) {
    var r = post({op: 'call', a: str(a), b: str(b), c: str(c)});
    for (var guard = 0; ; ++guard) {
      if (r.k === 'n') { deliver(r.s, r.x); r = post({op: 'resume', s: r.s}); continue; }
      if (r.k === 'e') throw new Error(r.x);
      return r.x;
    }
  }
  var external = Object.freeze({CallFromHtml: call});
  try {
    Object.defineProperty(window, 'external', {value: external, writable: false, configurable: false});
  } catch (e) {
    window.external = external;
  }
  Object.defineProperty(window, '__quorvinDeliver', {value: deliver, writable: false, configurable: false});
  document.addEventListener('click', function (e) {
    for (var el = e.target; el && el.nodeType === 1; el = el.parentElement) {
      var name = el.id || el.getAttribute('name');
      if (name === 'BtnCancel') { post({op: 'cancel'}); return; }
      if (name === 'BtnOK') return;
    }
  }, true);
})();)JS";

}  // namespace

std::string PageBootstrapScript(const std::string& token) {
    std::string script = kBootstrap;
    const std::string mark = "@TOKEN@";
    script.replace(script.find(mark), mark.size(), token);
    return script;
}

const char* const kDeliverNotification =
    "var d = window.__quorvinDeliver;"
    "if (typeof d === 'function') d(s, x);"
    "return true;";

const char* const kCallPageFunction =
    "var f = window[n];"
    "if (typeof f === 'function') f(x, undefined);"
    "return true;";

const char* const kFirstLoad =
    "var e = document.getElementById('txtPageParam') || document.getElementsByName('txtPageParam')[0];"
    "if (e) { if (e.tagName === 'INPUT') e.value = p; else e.textContent = p; }"
    "var f = window.OnDlgInit;"
    "if (typeof f === 'function') f(p, undefined);"
    "return true;";

}  // namespace quorvin::gtk
