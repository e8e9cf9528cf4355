// Wake-ups on Windows: the sleeper waits on an auto-reset event that a post sets only when the
// state says a thread sleeps.
#include "os/windows_api.h"

#include "os/wakeup.h"

namespace vexlor::os {

Wakeup::Wakeup() {
  native_ = reinterpret_cast<intptr_t>(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

Wakeup::~Wakeup() {
  if (native_ != 0) ::CloseHandle(reinterpret_cast<HANDLE>(native_));
}

void Wakeup::wake() {
  if (native_ != 0) ::SetEvent(reinterpret_cast<HANDLE>(native_));
}

void Wakeup::sleep() {
  if (native_ == 0) {
    ::Sleep(1);  // no event: poll
  } else {
    ::WaitForSingleObject(reinterpret_cast<HANDLE>(native_), INFINITE);
  }
}

}  // namespace vexlor::os
