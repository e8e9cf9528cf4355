// Named mutexes on Windows: the kernel's own named mutexes, which have exactly the semantics
// the routines rely on (existence while any handle is open, recursion, abandonment).
//
// Instance namespace: the kernel name is "Local\vexlor.<instance>.<name>". "Local\" is the
// session namespace, where an unprefixed name would live too; '\' and '%' in the instance
// and the mutex name are written as %5C and %25 (a kernel object name cannot contain '\'
// after its namespace), so every byte string stays a name of its own. Names longer than the
// kernel's limit are shortened with a hash of the whole name.
//
// The wait results and error codes of named_mutex.h are the Windows values, passed through.
#include "os/windows_api.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "os/instance.h"
#include "os/named_mutex.h"

namespace vexlor::os {

static_assert(WAIT_OBJECT_0 == kWaitObject0, "wait results are the Windows values");
static_assert(WAIT_ABANDONED == kWaitAbandoned, "wait results are the Windows values");
static_assert(WAIT_TIMEOUT == kWaitTimeout, "wait results are the Windows values");
static_assert(WAIT_FAILED == kWaitFailed, "wait results are the Windows values");
static_assert(INFINITE == kInfinite, "INFINITE is the Windows value");
static_assert(ERROR_FILE_NOT_FOUND == kErrorFileNotFound, "error codes are the Windows values");
static_assert(ERROR_INVALID_HANDLE == kErrorInvalidHandle, "error codes are the Windows values");
static_assert(ERROR_INVALID_PARAMETER == kErrorInvalidParameter, "Windows values");
static_assert(ERROR_ALREADY_EXISTS == kErrorAlreadyExists, "error codes are the Windows values");
static_assert(ERROR_NOT_OWNER == kErrorNotOwner, "error codes are the Windows values");

namespace {

constexpr DWORD kMutexAllAccess = 0x1F0001;  // MUTEX_ALL_ACCESS
static_assert(kMutexAllAccess == MUTEX_ALL_ACCESS, "MUTEX_ALL_ACCESS");
constexpr std::size_t kMaxKernelName = MAX_PATH;

thread_local uint32_t t_error = 0;

void append_escaped(std::string* out, const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\\') {
      *out += "%5C";
    } else if (*p == '%') {
      *out += "%25";
    } else {
      out->push_back(*p);
    }
  }
}

std::string kernel_name(const char* name) {
  std::string out = "Local\\vexlor.";
  append_escaped(&out, instance_name().c_str());
  out.push_back('.');
  append_escaped(&out, name);
  if (out.size() > kMaxKernelName) {
    // FNV-1a of the whole name keeps long names distinct within the length limit.
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : out) h = (h ^ c) * 1099511628211ull;
    char tail[24];
    std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(h));
    out = out.substr(0, kMaxKernelName - 20) + tail;
  }
  return out;
}

bool valid_name(const char* name) { return name != nullptr && name[0] != '\0'; }

}  // namespace

MutexHandle mutex_create(const char* name, bool initial_owner) {
  if (!valid_name(name)) {
    t_error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  std::string full = kernel_name(name);
  HANDLE h = ::CreateMutexA(nullptr, initial_owner ? TRUE : FALSE, full.c_str());
  DWORD error = ::GetLastError();
  if (h != nullptr && error != ERROR_ALREADY_EXISTS) error = ERROR_SUCCESS;
  t_error = error;
  return h;
}

MutexHandle mutex_open(const char* name) {
  if (!valid_name(name)) {
    t_error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  std::string full = kernel_name(name);
  HANDLE h = ::OpenMutexA(kMutexAllAccess, FALSE, full.c_str());
  t_error = h != nullptr ? ERROR_SUCCESS : ::GetLastError();
  return h;
}

uint32_t mutex_wait(MutexHandle handle, uint32_t timeout_ms) {
  if (handle == nullptr) {
    t_error = ERROR_INVALID_HANDLE;
    return kWaitFailed;
  }
  DWORD result = ::WaitForSingleObject(handle, timeout_ms);
  t_error = result == WAIT_FAILED ? ::GetLastError() : ERROR_SUCCESS;
  return result;
}

bool mutex_release(MutexHandle handle) {
  if (handle == nullptr) {
    t_error = ERROR_INVALID_HANDLE;
    return false;
  }
  bool released = ::ReleaseMutex(handle) != FALSE;
  t_error = released ? ERROR_SUCCESS : ::GetLastError();
  return released;
}

bool mutex_close(MutexHandle handle) {
  if (handle == nullptr) {
    t_error = ERROR_INVALID_HANDLE;
    return false;
  }
  bool closed = ::CloseHandle(handle) != FALSE;
  t_error = closed ? ERROR_SUCCESS : ::GetLastError();
  return closed;
}

uint32_t mutex_last_error() { return t_error; }

bool mutex_exists(const char* name) {
  if (!valid_name(name)) {
    t_error = ERROR_INVALID_PARAMETER;
    return false;
  }
  std::string full = kernel_name(name);
  HANDLE h = ::OpenMutexA(SYNCHRONIZE, FALSE, full.c_str());
  bool exists = h != nullptr || ::GetLastError() == ERROR_ACCESS_DENIED;
  if (h != nullptr) ::CloseHandle(h);
  t_error = ERROR_SUCCESS;
  return exists;
}

int remove_unheld_mutexes() { return 0; }

}  // namespace vexlor::os
