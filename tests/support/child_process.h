// A program started from a test on posix (fork and exec, no shell), its
// standard output read through a pipe, every wait bounded. A child still
// running when the object ends is killed and reaped.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace parlex::test {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts program with args (argv[0] is the program); standard input is
  // /dev/null, standard error is the test's own. False if it cannot start.
  bool Start(const std::string& program, const std::vector<std::string>& args);

  // The next line of its output (without the line end), waiting at most
  // timeoutMs; nothing on timeout or when the output ended first.
  std::optional<std::string> ReadLine(int timeoutMs);
  // Its output read so far and up to its end, waiting at most timeoutMs for that.
  std::string ReadToEnd(int timeoutMs);
  // Its exit status as waitpid gives it, waiting at most timeoutMs; nothing
  // when it still runs.
  std::optional<int> Wait(int timeoutMs);
  // Sends a signal (no effect once it has ended).
  void Signal(int signal);
  pid_t Pid() const { return pid_; }

 private:
  // Reads what is there within timeoutMs into buffer_; false at the end of the output.
  bool Fill(int timeoutMs);

  pid_t pid_ = -1;
  int out_ = -1;
  bool ended_ = false;
  std::optional<int> status_;
  std::string buffer_;
};

// Runs a program to its end within timeoutMs: its exit code (-1 when it did
// not end in time and was killed, or died of a signal) and its output.
struct RunResult {
  int exitCode = -1;
  std::string output;
};
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, int timeoutMs);

// Starts program (no arguments) as the leader of a process group of its own,
// so that it and every helper it starts can be ended at once (EndProgramGroup).
// Its environment is this process's with `overrides` ("NAME=value") replacing
// or adding entries; its standard output and error go to logFile. Answers its
// pid, or -1 when no process could be made (one that cannot run the program
// ends at once with 127).
pid_t StartProgramGroup(const std::string& program, const std::vector<std::string>& overrides,
                        const std::string& logFile);
// Kills such a group and reaps its leader.
void EndProgramGroup(pid_t pid);

// Every program these helpers start is killed as soon as the test process
// that started it ends, however it ends: a sanitizer report or a crash ends
// a test without its destructors, and a helper left running would keep
// ctest's output pipe open (the test then waits out its timeout) or hold
// the display's tray (the next test could not start its own). For a child
// between fork and exec; `parent` is the test's pid, taken before fork.
void EndWithParent(pid_t parent);

// The standard output of a shell command, which is bounded by timeout(1) to
// timeoutSeconds; its standard error is dropped.
std::string ShellOutput(const std::string& command, int timeoutSeconds = 10);

}  // namespace parlex::test
