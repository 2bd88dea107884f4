#include "pages.h"

namespace parlex::demo {

std::string_view ChatScript() {
  static constexpr std::string_view kScript =
      R"js(// What both pages share: a JSON request to the service, answered as
// done(status, data) (data null when the answer is not JSON).
function request(method, url, body, done) {
  var xhr = new XMLHttpRequest();
  xhr.open(method, url, true);
  if (body !== null) xhr.setRequestHeader('Content-Type', 'application/json; charset=utf-8');
  xhr.onreadystatechange = function () {
    if (xhr.readyState !== 4) return;
    var data = null;
    try { data = JSON.parse(xhr.responseText); } catch (e) { data = null; }
    if (done) done(xhr.status, data);
  };
  xhr.send(body === null ? null : JSON.stringify(body));
}
)js";
  return kScript;
}

}  // namespace parlex::demo
