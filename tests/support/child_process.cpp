#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <thread>

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

}  // namespace parlex::test
