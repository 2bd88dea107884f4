// The visitor page: a text box posting to /messages. With script it posts
// JSON and stays on the page; without, the form posts and comes back.
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
body { font-family: "WenQuanYi Micro Hei", "Microsoft YaHei", sans-serif; margin: 16px; max-width: 40em; }
textarea { width: 100%; height: 5em; box-sizing: border-box; }
#sent { padding-left: 20px; color: #444; }
#status { color: #555; }
</style>
</head>
<body>
<h1>Ostrel 在线客服</h1>
<p>请输入您的问题，客服会尽快回复。</p>
<form id="form" method="post" action="/messages">
  <textarea id="text" name="text" maxlength="2000" placeholder="输入消息…"></textarea>
  <p><button type="submit">发送消息</button> <span id="status"></span></p>
</form>
<ul id="sent"></ul>
<script>
document.getElementById('form').onsubmit = function () {
  var box = document.getElementById('text');
  var status = document.getElementById('status');
  var text = box.value;
  if (/^\s*$/.test(text)) { status.textContent = '消息不能为空'; return false; }
  var xhr = new XMLHttpRequest();
  xhr.open('POST', '/messages', true);
  xhr.setRequestHeader('Content-Type', 'application/json; charset=utf-8');
  xhr.onreadystatechange = function () {
    if (xhr.readyState !== 4) return;
    if (xhr.status === 201) {
      var li = document.createElement('li');
      li.textContent = text;
      document.getElementById('sent').appendChild(li);
      box.value = '';
      status.textContent = '已发送';
    } else {
      status.textContent = '发送失败（' + xhr.status + '）';
    }
  };
  xhr.send(JSON.stringify({ text: text }));
  return false;
};
</script>
</body>
</html>
)html";
  return kPage;
}

}  // namespace parlex::demo
