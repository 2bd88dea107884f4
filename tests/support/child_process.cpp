#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <string_view>
#include <thread>

extern char** environ;

namespace parlex::test {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (out_ >= 0) ::close(out_);
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return false;
  }
  if (pid == 0) {
    int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) ::dup2(null, 0);
    ::dup2(pipeFds[1], 1);
    EndWithParent(parent);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  pid_ = pid;
  out_ = pipeFds[0];
  return true;
}

bool ChildProcess::Fill(int timeoutMs) {
  if (ended_ || out_ < 0) return false;
  pollfd p{out_, POLLIN, 0};
  int ready = ::poll(&p, 1, timeoutMs);
  if (ready <= 0) return true;
  char chunk[4096];
  ssize_t n = ::read(out_, chunk, sizeof chunk);
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) {
    ended_ = true;
    return false;
  }
  buffer_.append(chunk, static_cast<size_t>(n));
  return true;
}

std::optional<std::string> ChildProcess::ReadLine(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      return line;
    }
    if (MsLeft(deadline) == 0 || !Fill(MsLeft(deadline))) return std::nullopt;
  }
}

std::string ChildProcess::ReadToEnd(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (MsLeft(deadline) > 0 && Fill(MsLeft(deadline))) {
  }
  std::string all;
  all.swap(buffer_);
  return all;
}

std::optional<int> ChildProcess::Wait(int timeoutMs) {
  if (status_ || pid_ <= 0) return status_;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = status;
      return status_;
    }
    if (MsLeft(deadline) == 0) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void ChildProcess::Signal(int signal) {
  if (pid_ > 0 && !status_) ::kill(pid_, signal);
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, int timeoutMs) {
  RunResult result;
  ChildProcess child;
  if (!child.Start(program, args)) return result;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  result.output = child.ReadToEnd(timeoutMs);
  auto status = child.Wait(MsLeft(deadline));
  if (status && WIFEXITED(*status)) result.exitCode = WEXITSTATUS(*status);
  return result;
}

std::string ShellOutput(const std::string& command, int timeoutSeconds) {
  std::string out;
  FILE* pipe =
      ::popen(("timeout " + std::to_string(timeoutSeconds) + " " + command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  ::pclose(pipe);
  return out;
}

pid_t StartProgramGroup(const std::string& program, const std::vector<std::string>& overrides,
                        const std::string& logFile) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    bool replaced = false;
    for (const std::string& o : overrides) {
      const size_t eq = o.find('=');
      replaced = replaced || text.substr(0, text.find('=') + 1) == std::string_view(o).substr(0, eq + 1);
    }
    if (!replaced) env.emplace_back(text);
  }
  env.insert(env.end(), overrides.begin(), overrides.end());
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string path = program;
  char* argv[] = {path.data(), nullptr};

  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (log < 0) ::_exit(127);
    ::dup2(log, 1);
    ::dup2(log, 2);
    EndWithParent(parent);
    ::execve(path.c_str(), argv, envp.data());
    ::_exit(127);
  }
  if (pid < 0) return -1;
  ::setpgid(pid, pid);  // set on both sides: the group exists whichever runs first
  return pid;
}

void EndWithParent(pid_t parent) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  // The test may have ended before that took effect.
  if (::getppid() != parent) ::_exit(127);
}

void EndProgramGroup(pid_t pid) {
  if (pid <= 0) return;
  ::kill(-pid, SIGKILL);  // the program and its helpers
  ::waitpid(pid, nullptr, 0);
}

}  // namespace parlex::test
