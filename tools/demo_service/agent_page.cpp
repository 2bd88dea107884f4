// The agent page. Plain ES5 and XMLHttpRequest, so it runs in the Windows
// browser control as well as in Qt WebEngine and any browser; without the
// program's external object it says "not embedded" and its bridge buttons
// only report that. The conversations, newest activity first, come by long
// polling; the chosen one's messages beside them with a reply box, and the
// capture button captures for that conversation.
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
body { font-family: "WenQuanYi Micro Hei", "Microsoft YaHei", sans-serif; margin: 10px; color: #222; }
h1 { font-size: 17px; margin: 0 0 4px; }
section { border: 1px solid #ccd; border-radius: 4px; padding: 6px 10px; margin-bottom: 8px; }
input { width: 8em; }
#embedded { margin: 0 0 6px; } #embedded.yes { color: #070; } #embedded.no { color: #a00; }
#chat { display: flex; gap: 8px; height: calc(100vh - 150px); min-height: 260px; }
#conversations { list-style: none; margin: 0; padding: 0; width: 190px; overflow-y: auto; border: 1px solid #ccd; }
#conversations li { padding: 6px 8px; border-bottom: 1px solid #eee; cursor: pointer; }
#conversations li.chosen { background: #dbe8ff; }
#conversations .last { display: block; color: #777; font-size: 12px; white-space: nowrap; overflow: hidden; text-overflow: ellipsis; }
#conversations .unread { float: right; background: #d33; color: #fff; border-radius: 9px; padding: 0 6px; font-size: 12px; }
#pane { flex: 1; display: flex; flex-direction: column; min-width: 0; }
#messages { list-style: none; margin: 0 0 6px; padding: 6px; flex: 1; overflow-y: auto; border: 1px solid #ccd; background: #fafafc; }
#messages li { margin: 4px 0; white-space: pre-wrap; word-break: break-word; }
#messages li.agent { text-align: right; }
#messages img { max-width: 100%; max-height: 160px; border: 1px solid #999; }
#reply-text { width: 100%; height: 3.2em; box-sizing: border-box; }
#status { color: #555; margin: 4px 0; }
/* The program's window starts small: the list goes above the messages. */
@media (max-width: 560px) {
  #chat { flex-direction: column; height: auto; }
  #conversations { width: auto; max-height: 110px; }
  #messages { height: 160px; flex: none; }
}
</style>
</head>
<body>
<h1>Ostrel 客服工作台</h1>
<p id="embedded">…</p>
<section>
  <button id="capture" type="button" disabled>截屏</button>
  <button id="maximize" type="button">最大化</button>
  <button id="quit" type="button">退出</button>
  通知 <input id="notify-title" value="Ostrel"> <input id="notify-text" value="你好">
  <button id="notify" type="button">通知</button>
</section>
<div id="chat">
  <ul id="conversations"></ul>
  <div id="pane">
    <ul id="messages"><li>请选择左侧的会话（访客页面：<a href="/visitor" target="_blank">/visitor</a>）</li></ul>
    <textarea id="reply-text" maxlength="4096" placeholder="回复访客，Enter 发送" disabled></textarea>
  </div>
</div>
<p id="status"></p>
<script src="/chat.js"></script>
<script>
var version = '';
var conversations = [];
var unreadSeen = null;  // conversation key -> unread count at the last listing
var chosen = null;      // { companyId, visitorId }
var lastId = 0;
var loading = false;
var loadAgain = false;
// For whoever looks from outside (tests, a developer's console).
var sentReplies = [];
var notified = 0;

function $(id) { return document.getElementById(id); }
function setStatus(text) { $('status').textContent = text; }
function keyOf(c) { return c.companyId + '/' + c.visitorId; }

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
  data = data || {};
  data.event = event;
  try { request('POST', '/agent-log', data, null); } catch (e) {}
}

function rectOf(el) {
  var r = el.getBoundingClientRect();
  return { x: Math.round(r.left), y: Math.round(r.top), width: Math.round(r.width), height: Math.round(r.height) };
}
// Where the controls are, for whoever drives the page with a pointer.
function reportLayout(event) {
  var items = $('conversations').getElementsByTagName('li');
  var list = [];
  for (var i = 0; i < items.length; i++) {
    list.push({ companyId: conversations[i].companyId, visitorId: conversations[i].visitorId, rect: rectOf(items[i]) });
  }
  report(event, { embeded: isEmbedded(), capture: rectOf($('capture')), quit: rectOf($('quit')),
                  maximize: rectOf($('maximize')), width: window.innerWidth, height: window.innerHeight,
                  reply: rectOf($('reply-text')), conversations: list, devicePixelRatio: window.devicePixelRatio || 1 });
}

function showEmbedded() {
  var yes = isEmbedded();
  var p = $('embedded');
  p.className = yes ? 'yes' : 'no';
  p.textContent = yes ? 'embeded: true（已嵌入 Parlex）' : 'embeded: false（not embedded，普通浏览器）';
}

function conversationPath(c) { return '/api/conversations/' + c.companyId + '/' + c.visitorId; }

function renderConversations() {
  var list = $('conversations');
  list.innerHTML = '';
  for (var i = 0; i < conversations.length; i++) {
    var c = conversations[i];
    var li = document.createElement('li');
    if (chosen && keyOf(chosen) === keyOf(c)) li.className = 'chosen';
    if (c.unread > 0) {
      var badge = document.createElement('span');
      badge.className = 'unread';
      badge.textContent = c.unread;
      li.appendChild(badge);
    }
    li.appendChild(document.createTextNode('访客 ' + c.visitorId + '（公司 ' + c.companyId + '）'));
    var last = document.createElement('span');
    last.className = 'last';
    last.textContent = c.lastText === '' ? '（图片或无消息）' : c.lastText;
    li.appendChild(last);
    li.onclick = (function (c) { return function () { choose(c); }; })(c);
    list.appendChild(li);
  }
}

function choose(c) {
  chosen = { companyId: c.companyId, visitorId: c.visitorId };
  lastId = 0;
  $('messages').innerHTML = '';
  $('capture').disabled = false;
  $('reply-text').disabled = false;
  renderConversations();
  loadMessages();
  $('reply-text').focus();
}

function addMessage(m) {
  var li = document.createElement('li');
  li.className = m.from;
  var who = (m.from === 'agent' ? '我' : '访客') + ' ' + new Date(m.time).toLocaleTimeString() + '  ';
  li.appendChild(document.createTextNode(who));
  if (m.image) {
    var img = document.createElement('img');
    img.src = m.image.url;
    img.alt = m.image.width + '×' + m.image.height;
    li.appendChild(document.createElement('br'));
    li.appendChild(img);
  } else {
    li.appendChild(document.createTextNode(m.text));
  }
  var list = $('messages');
  list.appendChild(li);
  list.scrollTop = list.scrollHeight;  // the list scrolls, never the page
}

// The chosen conversation's messages after the last one shown; read once
// the agent can see them.
function loadMessages() {
  if (!chosen) return;
  if (loading) { loadAgain = true; return; }
  loading = true;
  loadAgain = false;
  var c = chosen;
  request('GET', conversationPath(c) + '/messages?after=' + lastId, null, function (status, data) {
    loading = false;
    // Something changed while this was on its way, or another conversation
    // was chosen meanwhile: ask again.
    if (loadAgain || !chosen || keyOf(chosen) !== keyOf(c)) { loadMessages(); return; }
    if (status !== 200 || !data) { setStatus('无法读取会话（' + status + '）'); return; }
    var shown = [];
    for (var i = 0; i < data.messages.length; i++) {
      var m = data.messages[i];
      if (m.id <= lastId) continue;
      lastId = m.id;
      addMessage(m);
      shown.push(m.image ? '[image ' + m.image.width + 'x' + m.image.height + ']' : m.text);
    }
    if (shown.length > 0) report('shown', { companyId: c.companyId, visitorId: c.visitorId, texts: shown });
    markRead();
  });
}

function markRead() {
  if (!chosen || pageHidden()) return;
  for (var i = 0; i < conversations.length; i++) {
    if (keyOf(conversations[i]) === keyOf(chosen) && conversations[i].unread > 0) {
      request('POST', conversationPath(chosen) + '/read', {}, null);
    }
  }
}

// One request always waits at the service for the next change.
function poll() {
  request('GET', '/api/conversations' + (version === '' ? '' : '?since=' + version), null, function (status, data) {
    if (status !== 200 || !data) { setStatus('聊天服务不可达，正在重试…'); setTimeout(poll, 2000); return; }
    var changed = String(data.version) !== version;
    version = String(data.version);
    var order = '';
    for (var j = 0; j < conversations.length; j++) order += keyOf(conversations[j]) + ',';
    conversations = data.conversations;
    var news = {};
    for (var i = 0; i < conversations.length; i++) {
      var c = conversations[i];
      news[keyOf(c)] = c.unread;
      // A balloon only for news the agent cannot see; what was there when
      // the page loaded is no news.
      if (unreadSeen !== null && c.unread > (unreadSeen[keyOf(c)] || 0) && pageHidden() && isEmbedded()) {
        notified++;
        window.external.notify('新消息', c.lastText === '' ? '（图片）' : c.lastText);
      }
    }
    var firstListing = unreadSeen === null;
    unreadSeen = news;
    if (changed) {
      renderConversations();
      loadMessages();
      var newOrder = '';
      for (var k = 0; k < conversations.length; k++) newOrder += keyOf(conversations[k]) + ',';
      if (!firstListing && newOrder !== order) reportLayout('layout');
    }
    if (firstListing) reportLayout('loaded');
    setStatus('');
    poll();
  });
}

// Called by the program after a capture was sent, with the service's reply
// (empty when the upload failed). The service has put the image into the
// conversation already; it arrives here with the next change.
function onFileSent(reply) {
  sentReplies.push(reply);
  report('fileSent', { reply: reply });
  var data = null;
  try { data = JSON.parse(reply); } catch (e) { data = null; }
  setStatus(data && data.url ? '截图已发送（' + data.width + '×' + data.height + '）' : '截图未发送');
}

function sendReply() {
  var box = $('reply-text');
  var text = box.value;
  if (!chosen) { setStatus('请先选择会话'); return; }
  if (/^\s*$/.test(text)) { setStatus('消息不能为空'); return; }
  request('POST', conversationPath(chosen) + '/messages', { text: text }, function (status, data) {
    if (status === 201) { box.value = ''; setStatus('已发送'); }
    else { setStatus('发送失败（' + (data && data.error ? data.error : status) + '）'); }
  });
}

$('reply-text').onkeydown = function (e) {
  e = e || window.event;
  if ((e.key === 'Enter' || e.keyCode === 13) && !e.shiftKey && !e.isComposing) { sendReply(); return false; }
  return true;
};
$('maximize').onclick = function () { bridge(function (x) { x.maxmize(); }); };
$('quit').onclick = function () { bridge(function (x) { x.quit(); }); };
$('notify').onclick = function () {
  bridge(function (x) { x.notify($('notify-title').value, $('notify-text').value); });
};
$('capture').onclick = function () {
  if (!chosen) { setStatus('请先选择会话'); return; }
  var c = chosen;
  bridge(function (x) {
    setStatus('截屏中…');
    x.capture(c.companyId, c.visitorId);
    // onFileSent, when a capture was sent, has run by now.
    report('captureReturned', { sent: sentReplies.length, companyId: c.companyId, visitorId: c.visitorId });
  });
};
document.addEventListener('visibilitychange', markRead);
var resized = null;
window.addEventListener('resize', function () {
  clearTimeout(resized);
  resized = setTimeout(function () { if (unreadSeen !== null) reportLayout('layout'); }, 300);
});

showEmbedded();
window.addEventListener('load', function () { setTimeout(poll, 100); });
</script>
</body>
</html>
)html";
  return kPage;
}

}  // namespace parlex::demo
