// Starting the built Parlex.exe from a test and finding its windows, every
// wait bounded. A started copy that is still running when its owner goes is
// terminated.
#pragma once

#include <windows.h>

#include <string>

namespace parlex::app::win32::testing {

class ParlexProcess {
 public:
  ParlexProcess() = default;
  ParlexProcess(const ParlexProcess&) = delete;
  ParlexProcess& operator=(const ParlexProcess&) = delete;
  ~ParlexProcess() { Kill(); }

  // Starts Parlex.exe with a show command.
  bool Start(int showCommand = SW_SHOWNORMAL);
  DWORD Id() const { return process_.dwProcessId; }
  // True when it ended within timeoutMs; exitCode then holds its code.
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode);
  bool IsRunning() const;
  void Kill();

 private:
  PROCESS_INFORMATION process_{};
};

// Disables a DLL for one program under Wine while it exists (a per-program
// DLL override in the registry; a child does not take them from the
// environment it is given).
class ScopedDllDisabled {
 public:
  ScopedDllDisabled(const wchar_t* program, const wchar_t* dll);
  ~ScopedDllDisabled();
  ScopedDllDisabled(const ScopedDllDisabled&) = delete;
  ScopedDllDisabled& operator=(const ScopedDllDisabled&) = delete;

 private:
  std::wstring programKey_;
  std::wstring dll_;
};

// A top-level window of process pid with this class and title, waiting up to
// timeoutMs for it to appear (and, if asked, to be visible); null otherwise.
HWND WaitForWindow(DWORD pid, const wchar_t* className, const wchar_t* title, DWORD timeoutMs,
                   bool visible = true);

// The main window of a started copy.
inline HWND WaitForMainWindow(DWORD pid, DWORD timeoutMs = 30000) {
  return WaitForWindow(pid, L"#32770", L"Ostrel", timeoutMs);
}

std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);

// Lets the other process handle what was sent so far.
void Settle(DWORD ms = 300);

}  // namespace parlex::app::win32::testing
