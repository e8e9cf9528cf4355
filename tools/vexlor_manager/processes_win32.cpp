// The manager's processes on Windows: routine programs start with CreateProcessW (a command line
// quoted the way the C runtime splits it again, UTF-16 texts, an environment block of the
// manager's variables plus the routine's), in a process group of their own; the manager keeps
// each child's process handle, so it learns of the end and the exit code by waiting on it. The
// manager stops on the console's control events.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "os/windows_api.h"
#include "processes.h"

namespace vexlor_manager {
namespace {

// The exit code of a routine ended by kill_now(), as Windows' own "End task" gives.
constexpr UINT kKilledExitCode = 1;

// Process handles of the children not reaped yet. Shared, so that a thread waiting on one keeps
// it open while another reaps the child.
using Handle = std::shared_ptr<void>;
std::mutex children_mutex;
std::map<pid_t, Handle> children;

Handle child_handle(pid_t pid) {
  std::lock_guard<std::mutex> lock(children_mutex);
  auto it = children.find(pid);
  return it == children.end() ? nullptr : it->second;
}

std::wstring wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
  return out;
}

// One argument as CommandLineToArgvW and the C runtime read it back: quoted when it has blanks
// or quotes, backslashes doubled only where they precede a quote.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

bool same_name(const std::wstring& entry, const std::wstring& name) {
  const std::size_t eq = entry.find(L'=', 1);  // "=C:=C:\..." entries start with '='
  return eq == name.size() && ::_wcsnicmp(entry.c_str(), name.c_str(), name.size()) == 0;
}

// The manager's environment with the routine's variables set, sorted by name as Windows
// expects, as a UTF-16 block ending in two nulls.
std::wstring environment_block(const Launch& launch) {
  std::vector<std::wstring> entries;
  if (wchar_t* block = ::GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p != L'\0'; p += std::wcslen(p) + 1) entries.emplace_back(p);
    ::FreeEnvironmentStringsW(block);
  }
  for (const auto& [key, value] : launch.env) {
    const std::wstring name = wide(key);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&name](const std::wstring& e) { return same_name(e, name); }),
                  entries.end());
    entries.push_back(name + L"=" + wide(value));
  }
  std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    return ::_wcsicmp(a.c_str(), b.c_str()) < 0;
  });
  std::wstring out;
  for (const std::wstring& e : entries) out += e + L'\0';
  out += L'\0';
  return out;
}

// The texts errno gives on POSIX for the failures a routine's command meets, so that the
// manager's lines read the same on both.
std::string start_error(DWORD err) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_NAME:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
      return "Permission denied";
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
      return "Exec format error";
    default:
      return "Windows error " + std::to_string(err);
  }
}

// The standard handles a routine gets: the manager's own, so its console lines land where the
// manager's do (console or redirected file).
std::vector<HANDLE> standard_handles(STARTUPINFOEXW& si) {
  si.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
  si.StartupInfo.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  si.StartupInfo.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  si.StartupInfo.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  std::vector<HANDLE> list;
  for (HANDLE h : {si.StartupInfo.hStdInput, si.StartupInfo.hStdOutput, si.StartupInfo.hStdError}) {
    // Console pseudo-handles (older Windows: low bits 11) reach the child with the console.
    if (h == nullptr || h == INVALID_HANDLE_VALUE || (reinterpret_cast<uintptr_t>(h) & 3) == 3 ||
        std::find(list.begin(), list.end(), h) != list.end()) {
      continue;
    }
    if (::SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) list.push_back(h);
  }
  return list;
}

HANDLE stop_event = nullptr;  // set by a control event
HANDLE done_event = nullptr;  // set by stop_done()

BOOL WINAPI on_control_event(DWORD type) {
  ::SetEvent(stop_event);
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    // The system ends the process when this returns (about 5 s after the event at most): the
    // routines are told to exit and the log is written first.
    ::WaitForSingleObject(done_event, 4500);
  }
  return TRUE;
}

}  // namespace

pid_t launch(const Launch& launch, std::string* error) {
  if (launch.argv.empty() || launch.argv[0].empty()) {
    if (error) *error = "empty command";
    return -1;
  }
  std::wstring line;
  for (const std::string& a : launch.argv) line += (line.empty() ? L"" : L" ") + quoted(wide(a));
  std::wstring env = environment_block(launch);
  const std::wstring workdir = wide(launch.workdir);

  STARTUPINFOEXW si{};
  si.StartupInfo.cb = sizeof si;
  std::vector<HANDLE> inherited = standard_handles(si);
  // Only the standard handles are inherited, never a file or pipe the manager has open.
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> attributes(size);
  si.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  const bool listed =
      !inherited.empty() && ::InitializeProcThreadAttributeList(si.lpAttributeList, 1, 0, &size) &&
      ::UpdateProcThreadAttribute(si.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                  inherited.data(), inherited.size() * sizeof(HANDLE), nullptr,
                                  nullptr);
  if (!listed) {
    si.lpAttributeList = nullptr;
    si.StartupInfo.cb = sizeof si.StartupInfo;
  }
  PROCESS_INFORMATION pi{};
  const DWORD flags = CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP |
                      (listed ? EXTENDED_STARTUPINFO_PRESENT : 0);
  const BOOL started =
      ::CreateProcessW(nullptr, &line[0], nullptr, nullptr, listed, flags, &env[0],
                       workdir.empty() ? nullptr : workdir.c_str(), &si.StartupInfo, &pi);
  const DWORD err = ::GetLastError();
  if (listed) ::DeleteProcThreadAttributeList(si.lpAttributeList);
  if (!started) {
    if (error) {
      const bool not_found =
          err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_DIRECTORY;
      *error =
          (!launch.workdir.empty() && not_found
               ? "working folder \"" + launch.workdir + "\" or program \"" + launch.argv[0] + "\": "
               : "\"" + launch.argv[0] + "\": ") +
          start_error(err);
    }
    return -1;
  }
  ::CloseHandle(pi.hThread);
  const pid_t pid = static_cast<pid_t>(pi.dwProcessId);
  std::lock_guard<std::mutex> lock(children_mutex);
  children[pid] = Handle(pi.hProcess, ::CloseHandle);
  return pid;
}

bool reap(pid_t pid, int wait_ms, std::string* how) {
  const Handle process = child_handle(pid);
  if (process == nullptr ||
      ::WaitForSingleObject(process.get(), wait_ms < 0 ? INFINITE : static_cast<DWORD>(wait_ms)) !=
          WAIT_OBJECT_0) {
    return false;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  if (how) {
    // Crashes end with an NTSTATUS such as 0xC0000005: those read better in hex.
    char text[32];
    std::snprintf(text, sizeof text, code > 0xFFFF ? "exit status 0x%08lX" : "exit status %lu",
                  static_cast<unsigned long>(code));
    *how = text;
  }
  std::lock_guard<std::mutex> lock(children_mutex);
  return children.erase(pid) == 1;
}

void kill_now(pid_t pid) {
  if (const Handle process = child_handle(pid)) ::TerminateProcess(process.get(), kKilledExitCode);
}

bool process_ended(pid_t pid, int wait_ms) {
  if (pid <= 0) return true;
  Handle process = child_handle(pid);
  if (process == nullptr) {
    HANDLE other = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (other == nullptr) return ::GetLastError() != ERROR_ACCESS_DENIED;
    process = Handle(other, ::CloseHandle);
  }
  return ::WaitForSingleObject(process.get(), static_cast<DWORD>(std::max(wait_ms, 0))) ==
         WAIT_OBJECT_0;
}

std::string process_token(pid_t pid) {
  if (pid <= 0) return {};
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return {};
  FILETIME created{}, exited{}, kernel{}, user{};
  DWORD code = 0;
  const bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  const bool timed = ::GetProcessTimes(process, &created, &exited, &kernel, &user);
  ::CloseHandle(process);
  if (!running || !timed) return {};
  const uint64_t ticks =
      (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  return std::to_string(ticks);
}

bool adopt(pid_t pid, const std::string& token) {
  if (token.empty() || process_token(pid) != token) return false;
  HANDLE process =
      ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                    static_cast<DWORD>(pid));
  if (process == nullptr) return false;
  std::lock_guard<std::mutex> lock(children_mutex);
  children[pid] = Handle(process, ::CloseHandle);
  return true;
}

void catch_stop_requests() {
  stop_event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  done_event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(on_control_event, TRUE);
}

void wait_for_stop_request() { ::WaitForSingleObject(stop_event, INFINITE); }

void stop_done() { ::SetEvent(done_event); }

void set_environment(const std::string& name, const std::string& value) {
  // The C runtime's copy for getenv and the process's block that routines inherit.
  ::_putenv_s(name.c_str(), value.c_str());
  ::SetEnvironmentVariableA(name.c_str(), value.c_str());
}

}  // namespace vexlor_manager
