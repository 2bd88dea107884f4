// The visitor page. Each browser is one visitor: the ids and the secret the
// service handed out are kept in the browser's local storage, per company
// (?company=N, 12 when not given). New messages, the agent's replies and
// captures arrive by long polling. Plain ES5 and XMLHttpRequest.
#include "pages.h"

namespace parlex::demo {

std::string_view VisitorPage() {
  static constexpr std::string_view kPage = R"html(<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<meta http-equiv="X-UA-Compatible" content="IE=edge">
<title>Ostrel 在线客服</title>
<style>
body { font-family: "WenQuanYi Micro Hei", "Microsoft YaHei", sans-serif; margin: 16px; max-width: 48em; color: #222; }
h1 { font-size: 18px; margin: 0 0 4px; }
#who { color: #666; font-size: 13px; margin: 0 0 8px; }
#messages { list-style: none; padding: 8px; margin: 0 0 8px; border: 1px solid #ccd; border-radius: 4px;
            height: 420px; overflow-y: auto; background: #fafafc; }
#messages li { margin: 6px 0; }
#messages li.visitor { text-align: right; }
#messages .bubble { display: inline-block; max-width: 100%; padding: 6px 9px; border-radius: 6px; text-align: left;
                    white-space: pre-wrap; word-break: break-word; }
#messages li.visitor .bubble { background: #d8ecff; }
#messages li.agent .bubble { background: #fff; border: 1px solid #dde; }
#messages img { display: block; max-width: 100%; height: auto; }
#messages .time { display: block; color: #888; font-size: 11px; }
textarea { width: 100%; height: 4em; box-sizing: border-box; }
#status { color: #555; }
</style>
</head>
<body>
<h1>Ostrel 在线客服</h1>
<p id="who">正在连接…</p>
<ul id="messages"></ul>
<form id="form">
  <textarea id="text" maxlength="4096" placeholder="输入消息，Enter 发送（Shift+Enter 换行）"></textarea>
  <p><button id="send" type="submit">发送消息</button> <span id="status"></span></p>
</form>
<script src="/chat.js"></script>
<script>
var me = null;      // { companyId, visitorId, token }
var lastId = 0;
var shown = {};     // message ids on the page

function $(id) { return document.getElementById(id); }
function setStatus(text) { $('status').textContent = text; }

function companyOfPage() {
  var m = /[?&]company=([+-]?\d+)(&|$)/.exec(location.search);
  return m ? Number(m[1]) : 12;
}
function storageKey() { return 'ostrel-visitor-' + companyOfPage(); }


function base() {
  return '/api/visitors/' + me.companyId + '/' + me.visitorId + '/messages?token=' + encodeURIComponent(me.token);
}

function addMessage(m) {
  if (shown[m.id]) return;
  shown[m.id] = true;
  var li = document.createElement('li');
  li.className = m.from;
  var bubble = document.createElement('span');
  bubble.className = 'bubble';
  if (m.image) {
    // At its real size, smaller only when the page is narrower; a click
    // opens it full size.
    var link = document.createElement('a');
    link.href = m.image.url;
    link.target = '_blank';
    var img = document.createElement('img');
    img.src = m.image.url;
    img.width = m.image.width;
    img.height = m.image.height;
    img.alt = '客服发来的截图 ' + m.image.width + '×' + m.image.height;
    link.appendChild(img);
    bubble.appendChild(link);
  } else {
    bubble.appendChild(document.createTextNode(m.text));
  }
  var time = document.createElement('span');
  time.className = 'time';
  time.textContent = (m.from === 'agent' ? '客服 ' : '我 ') + new Date(m.time).toLocaleTimeString();
  bubble.appendChild(time);
  li.appendChild(bubble);
  var list = $('messages');
  list.appendChild(li);
  list.scrollTop = list.scrollHeight;
}

// One request always waits at the service for what comes next.
function poll() {
  request('GET', base() + '&after=' + lastId + '&wait=1', null, function (status, data) {
    if (status === 404) { start(true); return; }  // the service forgot us: a new conversation
    if (status !== 200 || !data) { setStatus('连接中断，正在重试…'); setTimeout(poll, 2000); return; }
    setStatus('');
    for (var i = 0; i < data.messages.length; i++) {
      var m = data.messages[i];
      if (m.id > lastId) lastId = m.id;
      addMessage(m);
    }
    poll();
  });
}

function ready() {
  $('who').textContent = '访客编号 ' + me.visitorId + '（公司 ' + me.companyId + '）';
  poll();
}

function start(fresh) {
  if (!fresh) {
    try { me = JSON.parse(localStorage.getItem(storageKey())); } catch (e) { me = null; }
    if (me && me.companyId === companyOfPage() && me.token) { ready(); return; }
  }
  lastId = 0; shown = {}; $('messages').innerHTML = '';
  request('POST', '/api/visitors', { companyId: companyOfPage() }, function (status, data) {
    if (status !== 201 || !data) { setStatus('无法连接客服（' + status + '）'); setTimeout(function () { start(true); }, 3000); return; }
    me = data;
    try { localStorage.setItem(storageKey(), JSON.stringify(me)); } catch (e) {}
    ready();
  });
}

function send() {
  var box = $('text');
  var text = box.value;
  if (/^\s*$/.test(text)) { setStatus('消息不能为空'); return; }
  if (!me) { setStatus('正在连接…'); return; }
  request('POST', base(), { text: text }, function (status, data) {
    if (status === 201 && data) {
      box.value = '';
      setStatus('已发送');
      addMessage(data);
    } else {
      setStatus('发送失败（' + (data && data.error ? data.error : status) + '）');
    }
  });
}

$('form').onsubmit = function () { send(); return false; };
$('text').onkeydown = function (e) {
  e = e || window.event;
  if ((e.key === 'Enter' || e.keyCode === 13) && !e.shiftKey && !e.isComposing) { send(); return false; }
  return true;
};
start(false);
</script>
</body>
</html>
)html";
  return kPage;
}

}  // namespace parlex::demo
