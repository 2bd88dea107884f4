// The agent page. Plain ES5 and XMLHttpRequest, so it runs in the Windows
// browser control as well as in Qt WebEngine and any browser; without the
// program's external object it says "not embedded" and its buttons only
// report that.
#include "pages.h"

namespace parlex::demo {

std::string_view AgentPage() {
  static constexpr std::string_view kPage = R"html(<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<meta http-equiv="X-UA-Compatible" content="IE=edge">
<title>Ostrel 客服工作台</title>
<style>
body { font-family: "WenQuanYi Micro Hei", "Microsoft YaHei", sans-serif; margin: 12px; color: #222; }
h2 { font-size: 15px; margin: 14px 0 6px; }
section { border: 1px solid #ccd; border-radius: 4px; padding: 6px 10px; margin-bottom: 8px; }
input { width: 9em; }
input[size] { width: 3em; }
h1 { font-size: 17px; margin: 0 0 4px; }
#embedded.yes { color: #070; } #embedded.no { color: #a00; }
#messages { max-height: 240px; overflow-y: auto; padding-left: 20px; }
#reply { white-space: pre-wrap; word-break: break-all; background: #f4f4f8; padding: 4px; }
#reply-image { display: none; max-width: 100%; border: 1px solid #999; margin-top: 4px; }
#status { color: #555; }
</style>
</head>
<body>
<h1>Ostrel 客服工作台</h1>
<p id="embedded">…</p>
<section>
  <button id="capture" type="button">截屏</button>
  公司 <input id="company" value="12" size="4">
  访客 <input id="visitor" value="34" size="4">
  <button id="maximize" type="button">最大化</button>
  <button id="quit" type="button">退出</button>
</section>
<section>
  <h2>截屏回复（onFileSent）</h2>
  <pre id="reply">（尚无）</pre>
  <img id="reply-image" alt="">
</section>
<section>
  <h2>通知</h2>
  标题 <input id="notify-title" value="Ostrel">
  内容 <input id="notify-text" value="你好">
  <button id="notify" type="button">通知</button>
</section>
<section>
  <h2>访客消息</h2>
  <p>访客页面：<a href="/visitor" target="_blank">/visitor</a></p>
  <ul id="messages"></ul>
</section>
<p id="status"></p>
<script>
var lastId = 0;
var firstPoll = true;
var polling = false;
// For whoever looks from outside (tests, a developer's console).
var sentReplies = [];
var notified = 0;

function $(id) { return document.getElementById(id); }
function setText(id, text) { $(id).textContent = text; }
function setStatus(text) { setText('status', text); }

function isEmbedded() {
  try { return !!(window.external && window.external.embeded == true); } catch (e) { return false; }
}
function pageHidden() {
  return document.hidden === true || document.visibilityState === 'hidden';
}
function bridge(action) {
  if (!isEmbedded()) { setStatus('not embedded：请在 Parlex 中打开本页'); return; }
  try { action(window.external); } catch (e) { setStatus('调用失败：' + e.message); }
}

// Tells the service what happened here; it shows the report in its log.
function report(event, data) {
  try {
    var xhr = new XMLHttpRequest();
    xhr.open('POST', '/agent-log', true);
    xhr.setRequestHeader('Content-Type', 'application/json');
    data = data || {};
    data.event = event;
    xhr.send(JSON.stringify(data));
  } catch (e) {}
}

function rectOf(id) {
  var r = $(id).getBoundingClientRect();
  return { x: Math.round(r.left), y: Math.round(r.top), width: Math.round(r.width), height: Math.round(r.height) };
}

function showEmbedded() {
  var yes = isEmbedded();
  var p = $('embedded');
  p.className = yes ? 'yes' : 'no';
  p.textContent = yes ? 'embeded: true（已嵌入 Parlex）' : 'embeded: false（not embedded，普通浏览器）';
}

// Called by the program after a capture was sent, with the service's reply
// (empty when the upload failed).
function onFileSent(reply) {
  sentReplies.push(reply);
  report('fileSent', { reply: reply });
  setText('reply', reply === '' ? '（空回复：上传失败）' : reply);
  var img = $('reply-image');
  var data = null;
  try { data = JSON.parse(reply); } catch (e) { data = null; }
  if (data && typeof data.url === 'string') {
    img.src = data.url;
    img.alt = data.width + '×' + data.height;
    img.style.display = 'block';
  } else {
    img.removeAttribute('src');
    img.style.display = 'none';
  }
  setStatus('截图已发送');
}

function addMessage(m) {
  var li = document.createElement('li');
  li.textContent = new Date(m.time).toLocaleTimeString() + '  ' + m.text;
  var list = $('messages');
  list.appendChild(li);
  list.scrollTop = list.scrollHeight;  // the list scrolls, never the page
}

function poll() {
  if (polling) return;
  polling = true;
  var xhr = new XMLHttpRequest();
  xhr.open('GET', '/messages?after=' + lastId, true);
  xhr.onreadystatechange = function () {
    if (xhr.readyState !== 4) return;
    polling = false;
    if (xhr.status !== 200) { setStatus('消息服务不可达'); return; }
    var data;
    try { data = JSON.parse(xhr.responseText); } catch (e) { return; }
    if (data.last < lastId) { lastId = 0; $('messages').innerHTML = ''; return; }  // the service restarted
    for (var i = 0; i < data.messages.length; i++) {
      var m = data.messages[i];
      if (m.id <= lastId) continue;
      lastId = m.id;
      addMessage(m);
      // A balloon only for news the agent cannot see; the history shown at
      // load time is no news.
      if (!firstPoll && pageHidden() && isEmbedded()) {
        notified++;
        window.external.notify('新消息', m.text);
      }
    }
    firstPoll = false;
  };
  xhr.send(null);
}

$('maximize').onclick = function () { bridge(function (x) { x.maxmize(); }); };
$('quit').onclick = function () { bridge(function (x) { x.quit(); }); };
$('notify').onclick = function () {
  bridge(function (x) { x.notify($('notify-title').value, $('notify-text').value); });
};
$('capture').onclick = function () {
  var c = $('company').value, v = $('visitor').value;
  if (!/^[+-]?\d+$/.test(c) || !/^[+-]?\d+$/.test(v)) { setStatus('公司编号和访客编号须为整数'); return; }
  bridge(function (x) {
    setStatus('截屏中…');
    x.capture(Number(c), Number(v));
    // onFileSent, when a capture was sent, has run by now.
    report('captureReturned', { sent: sentReplies.length });
  });
};

showEmbedded();
// Where the buttons are once the page is laid out, for whoever drives it.
window.addEventListener('load', function () {
  setTimeout(function () {
    report('loaded', { embeded: isEmbedded(), capture: rectOf('capture'), quit: rectOf('quit'),
                       devicePixelRatio: window.devicePixelRatio || 1 });
  }, 200);
});
poll();
setInterval(poll, 1000);
</script>
</body>
</html>
)html";
  return kPage;
}

}  // namespace parlex::demo
