#include "parlex_process.h"

#include <string>

namespace parlex::app::win32::testing {

namespace {

// The program's path as Windows sees it: the build tree through drive Z:.
std::wstring ProgramPath() {
  std::string unixPath = PARLEX_EXE_PATH;
  std::wstring path = L"Z:";
  for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

struct Search {
  DWORD pid;
  const wchar_t* className;
  const wchar_t* title;
  bool visible;
  HWND found;
};

BOOL CALLBACK Match(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  if (pid != search->pid) return TRUE;
  if (search->visible && !::IsWindowVisible(hwnd)) return TRUE;
  if (ClassName(hwnd) != search->className || WindowText(hwnd) != search->title) return TRUE;
  search->found = hwnd;
  return FALSE;
}

}  // namespace

bool ParlexProcess::Start(int showCommand) {
  Kill();
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showCommand);
  std::wstring path = ProgramPath();
  std::wstring commandLine = L"\"" + path + L"\"";
  return ::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process_);
}

bool ParlexProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
  if (!process_.hProcess) return false;
  if (::WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  ::GetExitCodeProcess(process_.hProcess, &code);
  if (exitCode) *exitCode = code;
  return true;
}

bool ParlexProcess::IsRunning() const {
  return process_.hProcess && ::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

void ParlexProcess::Kill() {
  if (process_.hProcess) {
    if (IsRunning()) {
      ::TerminateProcess(process_.hProcess, 1);
      ::WaitForSingleObject(process_.hProcess, 10000);
    }
    ::CloseHandle(process_.hProcess);
    ::CloseHandle(process_.hThread);
  }
  process_ = {};
}

ScopedDllDisabled::ScopedDllDisabled(const wchar_t* program, const wchar_t* dll)
    : programKey_(std::wstring(L"Software\\Wine\\AppDefaults\\") + program), dll_(dll) {
  HKEY key = nullptr;
  std::wstring overrides = programKey_ + L"\\DllOverrides";
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, overrides.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
    // An empty value disables the DLL.
    ::RegSetValueExW(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
    ::RegCloseKey(key);
  }
}

ScopedDllDisabled::~ScopedDllDisabled() {
  std::wstring overrides = programKey_ + L"\\DllOverrides";
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, overrides.c_str(), dll_.c_str());
  // The keys go only when nothing else is left in them.
  ::RegDeleteKeyW(HKEY_CURRENT_USER, overrides.c_str());
  ::RegDeleteKeyW(HKEY_CURRENT_USER, programKey_.c_str());
}

HWND WaitForWindow(DWORD pid, const wchar_t* className, const wchar_t* title, DWORD timeoutMs, bool visible) {
  DWORD start = ::GetTickCount();
  for (;;) {
    Search search{pid, className, title, visible, nullptr};
    ::EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    if (::GetTickCount() - start > timeoutMs) return nullptr;
    ::Sleep(50);
  }
}

std::wstring WindowText(HWND hwnd) {
  wchar_t text[512] = L"";
  ::GetWindowTextW(hwnd, text, 512);
  return text;
}

std::wstring ClassName(HWND hwnd) {
  wchar_t name[256] = L"";
  ::GetClassNameW(hwnd, name, 256);
  return name;
}

void Settle(DWORD ms) { ::Sleep(ms); }

}  // namespace parlex::app::win32::testing
