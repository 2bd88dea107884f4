#include "headless_chromium.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "support/child_process.h"

namespace parlex::test {

using nlohmann::json;

HeadlessChromium::~HeadlessChromium() {
  if (toBrowser_ >= 0) ::close(toBrowser_);
  if (fromBrowser_ >= 0) ::close(fromBrowser_);
  if (pid_ > 0) {
    // Its helpers are in its process group.
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool HeadlessChromium::Start() {
  int in[2], out[2];
  if (!profile_.Ok() || ::pipe2(in, O_CLOEXEC) != 0) return false;
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return false;
  }
  std::vector<std::string> args = {"/usr/bin/chromium",      "--headless",
                                   "--disable-gpu",          "--remote-debugging-pipe",
                                   "--no-first-run",         "--no-default-browser-check",
                                   "--window-size=1200,900", "--user-data-dir=" + profile_.Path().string()};
  // Chromium's sandbox refuses to run as root (CI does).
  if (::geteuid() == 0) args.push_back("--no-sandbox");
  args.push_back("about:blank");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const std::string log = profile_.File("chromium.log").string();

  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setpgid(0, 0);
    EndWithParent(parent);
    // Above 4 first, so that moving them to 3 and 4 never closes one.
    int reads = ::fcntl(in[0], F_DUPFD, 10);
    int writes = ::fcntl(out[1], F_DUPFD, 10);
    int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (reads < 0 || writes < 0 || ::dup2(reads, 3) < 0 || ::dup2(writes, 4) < 0) ::_exit(127);
    if (logFd >= 0) {
      ::dup2(logFd, 1);
      ::dup2(logFd, 2);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  toBrowser_ = in[1];
  fromBrowser_ = out[0];
  if (pid_ < 0) return false;
  return Call("Browser.getVersion", json::object(), "", 30000).has_value();
}

std::optional<json> HeadlessChromium::Call(const std::string& method, const json& params,
                                           const std::string& session, int timeoutMs) {
  if (toBrowser_ < 0) return std::nullopt;
  const int id = ++lastId_;
  json message{{"id", id}, {"method", method}, {"params", params}};
  if (!session.empty()) message["sessionId"] = session;
  std::string bytes = message.dump();
  bytes.push_back('\0');
  for (std::string_view rest = bytes; !rest.empty();) {
    ssize_t n = ::write(toBrowser_, rest.data(), rest.size());
    if (n <= 0) return std::nullopt;
    rest.remove_prefix(static_cast<size_t>(n));
  }
  // Events come in between; only the answer with this id counts.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    size_t end;
    while ((end = pending_.find('\0')) != std::string::npos) {
      json answer = json::parse(pending_.substr(0, end), nullptr, false);
      pending_.erase(0, end + 1);
      if (!answer.is_object() || answer.value("id", 0) != id) continue;
      if (!answer.contains("result")) return std::nullopt;
      return answer["result"];
    }
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fromBrowser_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
    char chunk[65536];
    ssize_t n = ::read(fromBrowser_, chunk, sizeof chunk);
    if (n <= 0) return std::nullopt;
    pending_.append(chunk, static_cast<size_t>(n));
  }
}

std::string HeadlessChromium::Open(const std::string& url, bool ownContext) {
  json params{{"url", url}};
  if (ownContext) {
    auto context = Call("Target.createBrowserContext", json::object(), "");
    if (!context) return {};
    params["browserContextId"] = (*context)["browserContextId"];
  }
  auto target = Call("Target.createTarget", params, "");
  if (!target) return {};
  auto attached = Call("Target.attachToTarget", {{"targetId", (*target)["targetId"]}, {"flatten", true}}, "");
  if (!attached) return {};
  return (*attached)["sessionId"];
}

std::optional<json> HeadlessChromium::Evaluate(const std::string& session, const std::string& expression) {
  auto result = Call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}}, session);
  if (!result || result->contains("exceptionDetails")) return std::nullopt;
  return (*result)["result"].value("value", json());
}

bool HeadlessChromium::Type(const std::string& session, const std::string& text, bool enter) {
  if (!Call("Input.insertText", {{"text", text}}, session)) return false;
  if (!enter) return true;
  json key{{"key", "Enter"}, {"code", "Enter"}, {"windowsVirtualKeyCode", 13}, {"nativeVirtualKeyCode", 13}};
  json down = key;
  down["type"] = "keyDown";
  down["text"] = "\r";
  json up = key;
  up["type"] = "keyUp";
  return Call("Input.dispatchKeyEvent", down, session) && Call("Input.dispatchKeyEvent", up, session);
}

std::string HeadlessChromium::Screenshot(const std::string& session) {
  auto shot = Call("Page.captureScreenshot", {{"format", "png"}}, session);
  return shot && (*shot)["data"].is_string() ? (*shot)["data"].get<std::string>() : std::string();
}

}  // namespace parlex::test
