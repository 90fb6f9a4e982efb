// Records what the window does to the page, for the tests to read back.
window.loadId = Math.random();
window.inits = [];
window.notes = [];
window.keys = [];
window.childResult = null;
function OnDlgInit(p, second) {
  var e = document.getElementById('txtPageParam');
  window.inits.push({p: p, second: typeof second, box: e ? e.value : null});
}
function OnDlgNotify(text) {
  window.notes.push(text);
  if (text === 'spin') for (;;) {}  // a page that never returns: only killing its renderer ends it
}
function OnDlgEnd(p) {
  window.external.CallFromHtml('', 'PutPageResult', 'end:' + p);
}
document.addEventListener('keydown', function (e) {
  if (['Control', 'Shift', 'Alt', 'Meta'].indexOf(e.key) >= 0) return;  // modifiers alone
  window.keys.push((e.ctrlKey ? 'ctrl+' : '') + e.key);
});
// Opens a child window from a timer, so the test's script returns at once.
function showChild(param) {
  setTimeout(function () {
    window.childResult = window.external.CallFromHtml('', 'ShowPageDlg', param);
  }, 0);
  return true;
}
