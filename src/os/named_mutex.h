// Named system mutexes with the semantics the equipment's routines rely on: create-or-open
// by name, "already exists" while any handle is open, timed waits, recursive ownership by
// the owning thread, abandonment when the owner dies, and nothing left behind after the
// last handle closes. Names live in the current instance's namespace.
#pragma once

#include <cstdint>

namespace vexlor::os {

using MutexHandle = void*;

constexpr uint32_t kWaitObject0 = 0;           // acquired
constexpr uint32_t kWaitAbandoned = 128;       // acquired; the previous owner died holding it
constexpr uint32_t kWaitTimeout = 258;         // not acquired within the time-out
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;  // bad handle or system failure
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorNotOwner = 288;

// Creates the mutex, or opens it when it exists (then mutex_last_error() is
// kErrorAlreadyExists, else kErrorSuccess). With initial_owner the calling thread owns it
// on return (only when it was newly created, as on Windows). Null on failure.
MutexHandle mutex_create(const char* name, bool initial_owner);

// Opens an existing mutex; null with kErrorFileNotFound when no handle to it is open.
MutexHandle mutex_open(const char* name);

// Waits up to timeout_ms (kInfinite: no limit) for ownership. Returns kWaitObject0,
// kWaitAbandoned, kWaitTimeout or kWaitFailed. Recursive: the owner thread may wait again.
uint32_t mutex_wait(MutexHandle handle, uint32_t timeout_ms);

// Gives up one level of ownership. False (kErrorNotOwner) when the caller is not the owner.
bool mutex_release(MutexHandle handle);

// Closes the handle; the last close anywhere removes the mutex. Null is refused (false).
bool mutex_close(MutexHandle handle);

// The error of the last mutex_* call on this thread.
uint32_t mutex_last_error();

// True when a mutex of this name exists (some handle to it is open) in the instance.
bool mutex_exists(const char* name);

// Removes what the mutexes of processes that died left in the current instance (their files,
// on POSIX) and, when no mutex of the instance exists any more, its mutex folder. Returns how
// many mutexes still exist; 0 on Windows, where the kernel removes a mutex with its last handle.
int remove_unheld_mutexes();

}  // namespace vexlor::os
