// Named mutexes on POSIX (Linux, glibc).
//
// Each mutex is a small file <instance folder>/mutex/<file_name_for(name)> holding a header
// and a robust, recursive, process-shared pthread mutex; every process maps it.
//
// Lifetime. A process that has the mutex open holds flock(LOCK_SH) on one descriptor of the
// file. The mutex "exists" exactly while some process holds that lock: at create, a file
// nobody holds (its processes all died, or one died half-way through creating it) is
// replaced by a fresh file, and at open it is removed and reported as not found. The last
// close anywhere gets flock(LOCK_EX) and removes the file. Creating, opening, probing and
// closing-last run under an exclusive flock on <mutex folder>/.lock, so a probe never sees a
// file half initialised and a create never maps a file that is being removed. The lock file
// itself is removed together with the last mutex: a process that wins the lock checks that
// the file it locked is still the one at the path and otherwise starts again.
//
// Abandonment. The kernel marks a robust mutex whose owner thread ended (kill -9 included);
// the next waiter gets EOWNERDEAD, makes the mutex consistent, owns it and reports
// kWaitAbandoned. The header also records the owner thread and its recursion depth, written
// only by the owner; they tell the close path whether a thread of this process still owns
// the mutex, and they let release refuse non-owners without a system call.
//
// Mappings. A process maps each mutex file once (a Mapping, keyed by path); every handle of
// that process to the mutex shares it, so the robust list of an owner thread always points
// into one mapping. The mapping is released after the process's last handle closes, unless
//  - a call on the mutex is in progress in another thread (its hazard, see below), or
//  - a thread of this process still owns the mutex: its robust list points into the
//    mapping, and the kernel and the C library write through that list when the thread
//    ends or locks another robust mutex. As on Windows, the mutex stays owned until the
//    thread releases it (through another handle) or ends (then it is abandoned).
// Such mappings are retired and unmapped by a later create/open/close/exists once the owner
// released or ended. A thread that ends holding a mutex whose last handle was closed keeps
// its page mapped while its thread id is alive; that is a page per misuse, not a fault.
//
// Handles. A handle is not a pointer: it encodes a slot index and a serial number. Slots are
// allocated in chunks that are never freed, so any value can be checked without reading
// freed memory: an unknown, closed or reused handle fails with kErrorInvalidHandle.
//
// Hazards. A call publishes the mapping it is about to use in its thread's hazard slot (a
// plain store) and then checks the handle again; a close that drops the last handle first
// marks the slot closed, then runs membarrier(PRIVATE_EXPEDITED), which acts as a full
// barrier on every running thread of the process, and only then looks at the hazards. So
// either the call sees its handle closed and backs off, or the closer sees the hazard and
// retires the mapping instead of unmapping it. The fast path thus pays no atomic
// read-modify-write for safety; the cost moves to the last close (a few microseconds).
// Without membarrier the hazard is published with an exchange instead.
//
// Fast path. An uncontended wait or release makes no system call: a trylock first, the clock
// is read only when the mutex is busy and the time-out is finite. Timed waits run on
// CLOCK_MONOTONIC, so setting the wall clock does not stretch or cut them (see
// lock_with_timeout for ThreadSanitizer builds).
//
// fork(). Handles are not inherited, as on Windows: in a child the handles of the parent
// fail with kErrorInvalidHandle, and the child drops its copies of the parent's descriptors
// and mappings (the parent's locks are untouched).
#if defined(__SANITIZE_THREAD__)
#define VEXLOR_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VEXLOR_TSAN 1
#endif
#endif
#if defined(VEXLOR_TSAN)
#include <sanitizer/tsan_interface.h>
#endif
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "os/instance.h"
#include "os/live_file.h"
#include "os/named_mutex.h"

namespace vexlor::os {
namespace {

// ---------------------------------------------------------------------------------------
// The shared file

constexpr uint32_t kFileMagic = 0x584D5856u;  // "VXMX"
constexpr uint32_t kFileVersion = 1;
// Processes of different ABIs must not share a pthread mutex.
constexpr uint32_t kFileAbi =
    static_cast<uint32_t>(sizeof(pthread_mutex_t)) | (static_cast<uint32_t>(sizeof(void*)) << 16);

struct SharedBlock {
  uint32_t magic;
  uint32_t version;
  uint32_t abi;
  uint32_t reserved;
  pthread_mutex_t mutex;
  // Written only by the owner thread while it owns the mutex.
  std::atomic<int32_t> owner_tid;  // 0 when not owned
  std::atomic<uint32_t> depth;     // recursion depth of the owner
};
static_assert(std::atomic<int32_t>::is_always_lock_free, "shared atomics must be lock-free");
static_assert(std::atomic<uint32_t>::is_always_lock_free, "shared atomics must be lock-free");

// Further Windows error codes used here.
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorTooManyOpenFiles = 4;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorFilenameTooLong = 206;
constexpr uint32_t kErrorTooManyPosts = 298;

uint32_t error_from_errno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ELOOP:  // a symbolic link where a mutex file belongs
      return kErrorAccessDenied;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    case ENAMETOOLONG:
      return kErrorFilenameTooLong;
    default:
      return kErrorGenFailure;
  }
}

// ---------------------------------------------------------------------------------------
// Process-local state

struct Mapping {
  SharedBlock* block = nullptr;
  int fd = -1;       // holds flock(LOCK_SH) while handles are open
  int users = 0;     // open handles of this process (under g_lock)
  std::string path;  // the mutex file
  std::string dir;   // the mutex folder
};

// One per thread that ever called wait or release; never freed, reused after the thread ends.
struct Hazard {
  std::atomic<Mapping*> in_use{nullptr};  // written only by the thread that took the hazard
  std::atomic<bool> taken{false};
  Hazard* next = nullptr;  // immutable once published
};
std::atomic<Hazard*> g_hazards{nullptr};
std::atomic<bool> g_membarrier{false};  // set once before the first handle exists

struct Slot {
  // (serial << 1) | open. The serial grows at every close so old handle values go stale.
  std::atomic<uintptr_t> state{0};
  std::atomic<Mapping*> mapping{nullptr};
  uint32_t next_free = 0;  // under g_lock
};

constexpr unsigned kChunkBits = 10;
constexpr uint32_t kChunkSize = 1u << kChunkBits;
constexpr uint32_t kMaxChunks = 1024;
constexpr unsigned kIndexBits = 21;  // slot index + 1, up to kChunkSize * kMaxChunks
constexpr uintptr_t kIndexMask = (uintptr_t{1} << kIndexBits) - 1;
constexpr uint32_t kNoSlot = 0xFFFFFFFFu;
static_assert(uint64_t{kChunkSize} * kMaxChunks <= kIndexMask, "slot index must fit the handle");

// Slots are never freed: chunks live for the whole process.
std::atomic<Slot*> g_chunks[kMaxChunks];

std::mutex g_lock;  // guards everything below and serialises the slow paths
uint32_t g_slot_count = 0;
uint32_t g_free_slot = kNoSlot;
std::unordered_map<std::string, Mapping*>* g_live = nullptr;  // path -> mapping
std::vector<Mapping*>* g_retired = nullptr;  // closed but still in use or owned here
std::vector<Mapping*>* g_spare = nullptr;    // Mapping structs for reuse (never freed)

struct ThreadState {
  uint32_t error = 0;
  int32_t tid = 0;           // cached kernel thread id; reset in a forked child
  Hazard* hazard = nullptr;  // this thread's hazard slot, taken on first use
};
// Initial-exec: the shared library is loaded at program start, so the fast path reaches its
// thread state without a call to __tls_get_addr.
thread_local ThreadState t_state __attribute__((tls_model("initial-exec")));

// Gives the thread's hazard back when the thread ends. Kept apart from t_state so the fast
// path reads a trivially destructible thread-local.
struct HazardReturn {
  ~HazardReturn() {
    if (t_state.hazard != nullptr) {
      t_state.hazard->in_use.store(nullptr, std::memory_order_relaxed);
      t_state.hazard->taken.store(false, std::memory_order_release);
      t_state.hazard = nullptr;
    }
  }
};

Hazard* take_hazard(ThreadState& ts) {
  static thread_local HazardReturn give_back;
  (void)&give_back;  // odr-use: registers the destructor for this thread
  for (Hazard* h = g_hazards.load(std::memory_order_acquire); h != nullptr; h = h->next) {
    bool expected = false;
    if (!h->taken.load(std::memory_order_relaxed) &&
        h->taken.compare_exchange_strong(expected, true, std::memory_order_acquire)) {
      return ts.hazard = h;
    }
  }
  Hazard* h = new (std::nothrow) Hazard();
  if (h == nullptr) return nullptr;
  h->taken.store(true, std::memory_order_relaxed);
  h->next = g_hazards.load(std::memory_order_relaxed);
  while (!g_hazards.compare_exchange_weak(h->next, h, std::memory_order_release,
                                          std::memory_order_relaxed)) {
  }
  return ts.hazard = h;
}

// The closer's side of the hazard handshake (see the file comment).
void heavy_barrier() {
  if (g_membarrier.load(std::memory_order_relaxed) &&
      ::syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) == 0) {
    return;
  }
  // Without membarrier, enter() publishes with a seq_cst exchange; a seq_cst exchange here
  // orders the closer's slot store before its hazard loads.
  static std::atomic<int> fence_word{0};
  fence_word.exchange(0, std::memory_order_seq_cst);
}

// True when some thread's call is using `m`.
bool hazard_on(const Mapping* m) {
  for (Hazard* h = g_hazards.load(std::memory_order_acquire); h != nullptr; h = h->next) {
    if (h->in_use.load(std::memory_order_seq_cst) == m) return true;
  }
  return false;
}

int32_t current_tid(ThreadState& ts) {
  if (ts.tid == 0) ts.tid = static_cast<int32_t>(::syscall(SYS_gettid));
  return ts.tid;
}

Slot* slot_at(uint32_t index) {
  Slot* chunk = g_chunks[index >> kChunkBits].load(std::memory_order_acquire);
  return chunk ? &chunk[index & (kChunkSize - 1)] : nullptr;
}

// Decodes a handle value into its slot and the state the slot has while that handle is open.
Slot* decode(MutexHandle handle, uintptr_t* open_state) {
  uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  uintptr_t index = value & kIndexMask;
  if (index == 0 || index > uint64_t{kChunkSize} * kMaxChunks) return nullptr;
  *open_state = ((value >> kIndexBits) << 1) | 1;
  return slot_at(static_cast<uint32_t>(index - 1));
}

MutexHandle encode(uint32_t index, uintptr_t state) {
  uintptr_t serial = state >> 1;
  return reinterpret_cast<MutexHandle>((serial << kIndexBits) | (uintptr_t{index} + 1));
}

// Publishes the mapping of an open handle as in use by this thread, or returns null when the
// handle is not open. Pairs with close: either the closer sees the hazard, or we see the
// slot closed.
Mapping* enter(MutexHandle handle, ThreadState& ts) {
  uintptr_t open_state = 0;
  Slot* slot = decode(handle, &open_state);
  if (slot == nullptr || slot->state.load(std::memory_order_acquire) != open_state) return nullptr;
  Mapping* mapping = slot->mapping.load(std::memory_order_acquire);
  Hazard* hazard = ts.hazard != nullptr ? ts.hazard : take_hazard(ts);
  if (mapping == nullptr || hazard == nullptr) return nullptr;
  if (g_membarrier.load(std::memory_order_relaxed)) {
    hazard->in_use.store(mapping, std::memory_order_relaxed);
    std::atomic_signal_fence(std::memory_order_seq_cst);  // the closer's membarrier does the rest
  } else {
    hazard->in_use.exchange(mapping, std::memory_order_seq_cst);
  }
  if (slot->state.load(std::memory_order_seq_cst) != open_state) {
    hazard->in_use.store(nullptr, std::memory_order_release);
    return nullptr;
  }
  return mapping;
}

void leave(ThreadState& ts) { ts.hazard->in_use.store(nullptr, std::memory_order_release); }

// True when a live thread of this process owns the mutex (its robust list points at it).
bool owned_here(const SharedBlock* block) {
  int32_t tid = block->owner_tid.load(std::memory_order_acquire);
  if (tid <= 0 || block->depth.load(std::memory_order_acquire) == 0) return false;
  return ::syscall(SYS_tgkill, static_cast<long>(::getpid()), static_cast<long>(tid), 0L) == 0;
}

void unmap_block(SharedBlock* block) {
  ::munmap(block, sizeof(SharedBlock));
}

Mapping* new_mapping() {
  if (!g_spare->empty()) {
    Mapping* m = g_spare->back();
    g_spare->pop_back();
    return m;
  }
  return new (std::nothrow) Mapping();
}

void recycle(Mapping* m) {
  if (m->block != nullptr) unmap_block(m->block);
  if (m->fd >= 0) ::close(m->fd);
  m->block = nullptr;
  m->fd = -1;
  m->users = 0;
  m->path.clear();
  m->dir.clear();
  g_spare->push_back(m);
}

// Unmaps retired mappings that nobody uses and no thread of this process owns any more. Their
// handles were closed before a heavy_barrier(), so a hazard published later cannot name them.
void reclaim_retired() {
  auto& retired = *g_retired;
  for (size_t i = 0; i < retired.size();) {
    Mapping* m = retired[i];
    if (!hazard_on(m) && !owned_here(m->block)) {
      retired[i] = retired.back();
      retired.pop_back();
      recycle(m);
    } else {
      ++i;
    }
  }
}

// Drops a mapping whose last handle in this process closed.
void retire_or_recycle(Mapping* m) {
  heavy_barrier();
  if (!hazard_on(m) && !owned_here(m->block)) {
    recycle(m);
  } else {
    g_retired->push_back(m);
  }
}

// Forked child: the parent's handles are not inherited; forget its descriptors and mappings.
void reset_in_child() {
  for (uint32_t i = 0; i < g_slot_count; ++i) {
    Slot* slot = slot_at(i);
    uintptr_t state = slot->state.load(std::memory_order_relaxed);
    if ((state & 1) == 0) continue;
    slot->state.store(((state >> 1) + 1) << 1, std::memory_order_relaxed);
    slot->next_free = g_free_slot;
    g_free_slot = i;
  }
  // No allocator call here: it runs between fork and exec in a child of a process with other
  // threads, one of which may have held the allocator's lock at the fork. The parent's mappings
  // are unmapped and their descriptors closed; the objects and the containers' memory are left
  // behind (the containers start again empty in place, without freeing what they held).
  auto let_go = [](Mapping* m) {
    if (m->block != nullptr) unmap_block(m->block);
    if (m->fd >= 0) ::close(m->fd);
    m->block = nullptr;
    m->fd = -1;
    m->users = 0;
  };
  for (auto& entry : *g_live) let_go(entry.second);
  new (g_live) std::unordered_map<std::string, Mapping*>();
  for (Mapping* m : *g_retired) let_go(m);
  new (g_retired) std::vector<Mapping*>();
  // Hazards of the parent's other threads were copied; those threads do not exist here.
  for (Hazard* h = g_hazards.load(std::memory_order_relaxed); h != nullptr; h = h->next) {
    h->in_use.store(nullptr, std::memory_order_relaxed);
    h->taken.store(h == t_state.hazard, std::memory_order_relaxed);
  }
  t_state.tid = 0;
}

void init_once() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_live = new std::unordered_map<std::string, Mapping*>();
    g_retired = new std::vector<Mapping*>();
    g_spare = new std::vector<Mapping*>();
    g_membarrier.store(
        ::syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0,
        std::memory_order_relaxed);
    ::pthread_atfork([] { g_lock.lock(); }, [] { g_lock.unlock(); },
                     [] {
                       reset_in_child();
                       g_lock.unlock();
                     });
  });
}

// Allocates a slot for `m` and returns its handle (null when the table is full).
MutexHandle open_slot(Mapping* m) {
  uint32_t index;
  if (g_free_slot != kNoSlot) {
    index = g_free_slot;
    g_free_slot = slot_at(index)->next_free;
  } else {
    if (g_slot_count == kChunkSize * kMaxChunks) return nullptr;
    index = g_slot_count;
    if (g_chunks[index >> kChunkBits].load(std::memory_order_relaxed) == nullptr) {
      Slot* chunk = new (std::nothrow) Slot[kChunkSize];
      if (chunk == nullptr) return nullptr;
      g_chunks[index >> kChunkBits].store(chunk, std::memory_order_release);
    }
    ++g_slot_count;
  }
  Slot* slot = slot_at(index);
  uintptr_t state = slot->state.load(std::memory_order_relaxed);
  uintptr_t serial = (state >> 1) + ((state & 1) ? 1 : 0);
  if (serial == 0 || serial > (~uintptr_t{0} >> kIndexBits)) serial = 1;
  slot->mapping.store(m, std::memory_order_release);
  state = (serial << 1) | 1;
  slot->state.store(state, std::memory_order_release);
  ++m->users;
  return encode(index, state);
}

// ---------------------------------------------------------------------------------------
// The mutex folder and its lock

std::string mutex_dir(bool create) {
  std::string base = instance_dir({}, false);
  if (base.empty()) return {};
  std::string dir = base + "/mutex";
  if (!create) return dir;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (::mkdir(dir.c_str(), 0770) == 0) {
      ::chmod(dir.c_str(), 0770);  // not narrowed by the umask: the group shares it
      return dir;
    }
    if (errno == EEXIST) return dir;
    // Only when the instance folder is missing: make it and its parents.
    if (errno != ENOENT || instance_dir({}, true).empty()) break;
  }
  return {};
}

// Exclusive flock on <dir>/.lock, re-checked against the path so that a lock file removed
// by its last holder is never trusted. With `create` the folder is made as needed.
class FolderLock {
 public:
  FolderLock(const std::string& dir, bool create) : path_(dir + "/.lock") {
    for (int attempt = 0; attempt < 1000; ++attempt) {
      if (create && attempt > 0 && mutex_dir(true) != dir) break;
      int fd = ::open(path_.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0660);
      if (fd >= 0) {
        ::fchmod(fd, 0660);
      } else if (errno == EEXIST) {
        fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0 && errno == ENOENT) continue;  // removed meanwhile
      }
      if (fd < 0) {
        error_ = errno;
        if (error_ == ENOENT && create) continue;  // folder removed meanwhile
        return;
      }
      int rc;
      while ((rc = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
      }
      struct stat locked, current;
      if (rc == 0 && ::fstat(fd, &locked) == 0 && ::stat(path_.c_str(), &current) == 0 &&
          locked.st_dev == current.st_dev && locked.st_ino == current.st_ino) {
        fd_ = fd;
        error_ = 0;
        return;
      }
      int err = errno;
      ::close(fd);
      if (rc != 0) {
        error_ = err;
        return;
      }
    }
    if (error_ == 0) error_ = EAGAIN;
  }
  ~FolderLock() {
    // Unlocked before the close: a child forked meanwhile shares the descriptor, and its copy
    // would otherwise keep the folder locked for as long as the child lives.
    if (fd_ >= 0) {
      ::flock(fd_, LOCK_UN);
      ::close(fd_);
    }
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  bool ok() const { return fd_ >= 0; }
  int error() const { return error_; }

  // After the folder's last mutex file went: removes the lock file and the folder when
  // nothing else is in it (both only while the lock is held; see the constructor).
  void remove_lock_file(const std::string& dir) {
    ::unlink(path_.c_str());
    ::rmdir(dir.c_str());
  }

 private:
  std::string path_;
  int fd_ = -1;
  int error_ = ENOENT;
};

// ---------------------------------------------------------------------------------------
// Mapping files (all under the folder lock)

bool init_block(SharedBlock* block) {
  std::memset(static_cast<void*>(block), 0, sizeof(SharedBlock));
  pthread_mutexattr_t attr;
  if (::pthread_mutexattr_init(&attr) != 0) return false;
  bool ok = ::pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
            ::pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
            ::pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
            ::pthread_mutex_init(&block->mutex, &attr) == 0;
  ::pthread_mutexattr_destroy(&attr);
  if (!ok) return false;
  new (&block->owner_tid) std::atomic<int32_t>(0);
  new (&block->depth) std::atomic<uint32_t>(0);
  block->version = kFileVersion;
  block->abi = kFileAbi;
  block->magic = kFileMagic;
  return true;
}

SharedBlock* map_block(int fd) {
  void* p = ::mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return p == MAP_FAILED ? nullptr : static_cast<SharedBlock*>(p);
}

enum class Found { kNew, kExisting, kAbsent, kFailed };

// Creates a fresh mutex file at `path`: exclusive lock, initialise, then downgrade to shared.
Found create_file(const std::string& path, int* out_fd, SharedBlock** out_block, uint32_t* error) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0660);
  if (fd < 0) {
    *error = error_from_errno(errno);
    return Found::kFailed;
  }
  ::fchmod(fd, 0660);
  SharedBlock* block = nullptr;
  bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::ftruncate(fd, static_cast<off_t>(sizeof(SharedBlock))) == 0 &&
            (block = map_block(fd)) != nullptr && init_block(block) &&
            ::flock(fd, LOCK_SH | LOCK_NB) == 0;
  if (!ok) {
    *error = error_from_errno(errno);
    if (block != nullptr) unmap_block(block);
    ::unlink(path.c_str());
    ::close(fd);
    return Found::kFailed;
  }
  *out_fd = fd;
  *out_block = block;
  return Found::kNew;
}

// Opens the mutex file at `path` when some process holds it. A file nobody holds is left
// over from processes that died: it is removed and reported absent.
Found open_file(const std::string& path, int* out_fd, SharedBlock** out_block, uint32_t* error) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ENOENT) return Found::kAbsent;
    *error = error_from_errno(errno);
    return Found::kFailed;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    ::unlink(path.c_str());
    ::close(fd);
    return Found::kAbsent;
  }
  int err = errno;
  struct stat st;
  SharedBlock* block = nullptr;
  if (err == EWOULDBLOCK && ::flock(fd, LOCK_SH | LOCK_NB) != 0) err = errno;
  if (err == EWOULDBLOCK && ::fstat(fd, &st) != 0) err = errno;
  if (err == EWOULDBLOCK) {
    if (st.st_size != static_cast<off_t>(sizeof(SharedBlock))) {
      // Not a mutex of this build: Windows answers a name used by another kind of object so.
      *error = kErrorInvalidHandle;
      ::close(fd);
      return Found::kFailed;
    }
    block = map_block(fd);
    if (block == nullptr) err = errno;
  }
  if (block == nullptr) {
    *error = error_from_errno(err);
    ::close(fd);
    return Found::kFailed;
  }
  if (block->magic != kFileMagic || block->version != kFileVersion || block->abi != kFileAbi) {
    *error = kErrorInvalidHandle;
    unmap_block(block);
    ::close(fd);
    return Found::kFailed;
  }
  *out_fd = fd;
  *out_block = block;
  return Found::kExisting;
}

bool valid_name(const char* name) { return name != nullptr && name[0] != '\0'; }

enum class Mode { kCreate, kOpen };

MutexHandle create_or_open(const char* name, bool initial_owner, Mode mode) {
  ThreadState& ts = t_state;
  if (!valid_name(name)) {
    ts.error = kErrorInvalidParameter;
    return nullptr;
  }
  init_once();
  std::lock_guard<std::mutex> guard(g_lock);
  reclaim_retired();
  std::string dir = mutex_dir(false);
  if (dir.empty()) {
    ts.error = mode == Mode::kCreate ? kErrorPathNotFound : kErrorFileNotFound;
    return nullptr;
  }
  std::string path = dir + "/" + file_name_for(name);

  // Another handle of this process has it open: the file is ours while we hold it.
  auto live = g_live->find(path);
  if (live != g_live->end()) {
    MutexHandle handle = open_slot(live->second);
    ts.error = handle == nullptr ? kErrorNotEnoughMemory
                                 : (mode == Mode::kCreate ? kErrorAlreadyExists : kErrorSuccess);
    return handle;
  }
  if (mode == Mode::kCreate && mutex_dir(true) != dir) {
    ts.error = kErrorPathNotFound;
    return nullptr;
  }

  Mapping* m = new_mapping();
  if (m == nullptr) {
    ts.error = kErrorNotEnoughMemory;
    return nullptr;
  }
  FolderLock lock(dir, mode == Mode::kCreate);
  if (!lock.ok()) {
    g_spare->push_back(m);
    ts.error = lock.error() == ENOENT ? kErrorFileNotFound : error_from_errno(lock.error());
    return nullptr;
  }
  uint32_t error = kErrorGenFailure;
  Found found = open_file(path, &m->fd, &m->block, &error);
  if (found == Found::kAbsent && mode == Mode::kCreate) {
    found = create_file(path, &m->fd, &m->block, &error);
  }
  if (found == Found::kAbsent || found == Found::kFailed) {
    if (found == Found::kAbsent) error = kErrorFileNotFound;
    lock.remove_lock_file(dir);  // leaves nothing behind when the folder is now empty
    g_spare->push_back(m);
    ts.error = error;
    return nullptr;
  }
  m->path = path;
  m->dir = dir;
  MutexHandle handle = open_slot(m);
  if (handle == nullptr) {
    if (found == Found::kNew) {
      ::unlink(path.c_str());
      lock.remove_lock_file(dir);
    }
    recycle(m);
    ts.error = kErrorNotEnoughMemory;
    return nullptr;
  }
  (*g_live)[path] = m;
  if (found == Found::kNew && initial_owner && ::pthread_mutex_trylock(&m->block->mutex) == 0) {
    m->block->owner_tid.store(current_tid(ts), std::memory_order_relaxed);
    m->block->depth.store(1, std::memory_order_relaxed);
  }
  ts.error = found == Found::kNew ? kErrorSuccess
                                  : (mode == Mode::kCreate ? kErrorAlreadyExists : kErrorSuccess);
  return handle;
}

timespec add_ms(timespec t, uint32_t ms) {
  t.tv_sec += static_cast<time_t>(ms / 1000);
  t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_nsec -= 1000000000L;
    t.tv_sec += 1;
  }
  return t;
}

#if defined(VEXLOR_TSAN)
// ThreadSanitizer (GCC 12) intercepts pthread_mutex_timedlock but not clocklock, and a lock it
// does not see makes it report races that are none. timedlock measures on CLOCK_REALTIME, so
// the wait runs in slices of at most kSliceMs, each ended by the wall clock and the whole
// bounded by CLOCK_MONOTONIC: a forward jump of the wall clock only ends a slice early, a
// backward jump stretches one slice by the jump. Only sanitizer builds take this path.
int lock_with_timeout(pthread_mutex_t* mutex, uint32_t timeout_ms) {
  if (timeout_ms == kInfinite) return ::pthread_mutex_lock(mutex);
  constexpr uint32_t kSliceMs = 100;
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const timespec end = add_ms(now, timeout_ms);
  while (true) {
    int64_t left_ns = (int64_t{end.tv_sec} - now.tv_sec) * 1000000000 + (end.tv_nsec - now.tv_nsec);
    if (left_ns <= 0) return ETIMEDOUT;
    uint32_t slice = left_ns >= int64_t{kSliceMs} * 1000000 ? kSliceMs
                                                            : static_cast<uint32_t>(left_ns / 1000000) + 1;
    timespec wall;
    ::clock_gettime(CLOCK_REALTIME, &wall);
    int rc = ::pthread_mutex_timedlock(mutex, &(wall = add_ms(wall, slice)));
    // Its timedlock interceptor records only a plain success: a lock taken from a dead owner
    // (EOWNERDEAD) is told to it here, or the next release looks like an unlock of a free mutex.
    if (rc == EOWNERDEAD) {
      __tsan_mutex_pre_lock(mutex, __tsan_mutex_try_lock);
      __tsan_mutex_post_lock(mutex, __tsan_mutex_try_lock, 0);
    }
    if (rc != ETIMEDOUT && rc != EINTR) return rc;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
  }
}
#else
// Timed waits run on CLOCK_MONOTONIC: setting the wall clock neither stretches nor cuts them.
int lock_with_timeout(pthread_mutex_t* mutex, uint32_t timeout_ms) {
  if (timeout_ms == kInfinite) return ::pthread_mutex_lock(mutex);
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const timespec deadline = add_ms(now, timeout_ms);
  int rc;
  do {
    rc = ::pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
  } while (rc == EINTR);
  return rc;
}
#endif

}  // namespace

MutexHandle mutex_create(const char* name, bool initial_owner) {
  return create_or_open(name, initial_owner, Mode::kCreate);
}

MutexHandle mutex_open(const char* name) { return create_or_open(name, false, Mode::kOpen); }

uint32_t mutex_wait(MutexHandle handle, uint32_t timeout_ms) {
  ThreadState& ts = t_state;
  Mapping* m = enter(handle, ts);
  if (m == nullptr) {
    ts.error = kErrorInvalidHandle;
    return kWaitFailed;
  }
  SharedBlock* block = m->block;
  int rc = ::pthread_mutex_trylock(&block->mutex);
  if (rc == EBUSY && timeout_ms != 0) rc = lock_with_timeout(&block->mutex, timeout_ms);
  uint32_t result;
  if (rc == 0 || rc == EOWNERDEAD) {
    uint32_t depth = block->depth.load(std::memory_order_relaxed);
    if (rc == EOWNERDEAD) {
      ::pthread_mutex_consistent(&block->mutex);
      depth = 0;  // the dead owner's levels die with it
    }
    block->owner_tid.store(current_tid(ts), std::memory_order_relaxed);
    block->depth.store(depth + 1, std::memory_order_release);
    result = rc == 0 ? kWaitObject0 : kWaitAbandoned;
    ts.error = kErrorSuccess;
  } else if (rc == EBUSY || rc == ETIMEDOUT) {
    result = kWaitTimeout;
    ts.error = kErrorSuccess;
  } else {
    // EAGAIN: the recursion count is exhausted; ENOTRECOVERABLE: unusable mutex.
    result = kWaitFailed;
    ts.error = rc == EAGAIN ? kErrorTooManyPosts : kErrorGenFailure;
  }
  leave(ts);
  return result;
}

bool mutex_release(MutexHandle handle) {
  ThreadState& ts = t_state;
  Mapping* m = enter(handle, ts);
  if (m == nullptr) {
    ts.error = kErrorInvalidHandle;
    return false;
  }
  SharedBlock* block = m->block;
  int32_t me = current_tid(ts);
  uint32_t depth = block->depth.load(std::memory_order_relaxed);
  bool released = false;
  if (depth > 0 && block->owner_tid.load(std::memory_order_relaxed) == me) {
    if (depth == 1) block->owner_tid.store(0, std::memory_order_relaxed);
    block->depth.store(depth - 1, std::memory_order_release);
    if (::pthread_mutex_unlock(&block->mutex) == 0) {
      released = true;
    } else {
      block->owner_tid.store(me, std::memory_order_relaxed);
      block->depth.store(depth, std::memory_order_relaxed);
    }
  }
  ts.error = released ? kErrorSuccess : kErrorNotOwner;
  leave(ts);
  return released;
}

bool mutex_close(MutexHandle handle) {
  ThreadState& ts = t_state;
  uintptr_t open_state = 0;
  Slot* slot = handle ? decode(handle, &open_state) : nullptr;
  if (slot == nullptr) {
    ts.error = kErrorInvalidHandle;
    return false;
  }
  init_once();
  std::lock_guard<std::mutex> guard(g_lock);
  if (slot->state.load(std::memory_order_relaxed) != open_state) {
    ts.error = kErrorInvalidHandle;
    return false;
  }
  Mapping* m = slot->mapping.load(std::memory_order_relaxed);
  // Closed before the hazards are read: see enter().
  slot->state.store(((open_state >> 1) + 1) << 1, std::memory_order_seq_cst);
  uint32_t index = static_cast<uint32_t>((reinterpret_cast<uintptr_t>(handle) & kIndexMask) - 1);
  slot->next_free = g_free_slot;
  g_free_slot = index;
  ts.error = kErrorSuccess;
  if (--m->users > 0) {
    reclaim_retired();
    return true;
  }

  g_live->erase(m->path);
  {
    FolderLock lock(m->dir, false);
    if (lock.ok()) {
      // Exclusive only when no other descriptor anywhere holds the file: the last close.
      if (::flock(m->fd, LOCK_EX | LOCK_NB) == 0) {
        ::unlink(m->path.c_str());
        lock.remove_lock_file(m->dir);
      }
    }
    // Without the folder lock the file stays; whoever finds it unheld later removes it.
    ::close(m->fd);
    m->fd = -1;
  }
  retire_or_recycle(m);
  reclaim_retired();
  return true;
}

uint32_t mutex_last_error() { return t_state.error; }

bool mutex_exists(const char* name) {
  ThreadState& ts = t_state;
  if (!valid_name(name)) {
    ts.error = kErrorInvalidParameter;
    return false;
  }
  init_once();
  std::lock_guard<std::mutex> guard(g_lock);
  reclaim_retired();
  ts.error = kErrorSuccess;
  std::string dir = mutex_dir(false);
  if (dir.empty()) return false;
  std::string path = dir + "/" + file_name_for(name);
  if (g_live->count(path) != 0) return true;
  FolderLock lock(dir, false);
  if (!lock.ok()) return false;  // no folder: no mutex
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  if (!held) {
    ::unlink(path.c_str());  // left over from processes that died
    lock.remove_lock_file(dir);
  }
  ::close(fd);
  return held;
}

int remove_unheld_mutexes() {
  init_once();
  std::lock_guard<std::mutex> guard(g_lock);
  reclaim_retired();
  const std::string dir = mutex_dir(false);
  if (dir.empty()) return 0;
  FolderLock lock(dir, false);
  if (!lock.ok()) return 0;  // no folder
  int held = 0;
  for (const std::string& entry : list_dir(dir)) {
    if (entry == ".lock") continue;
    const std::string path = dir + "/" + entry;
    if (g_live->count(path) != 0) {
      ++held;
      continue;
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
      ++held;  // not a mutex file this process can judge: left alone
      continue;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      ::unlink(path.c_str());  // left over from processes that died
    } else {
      ++held;
    }
    ::close(fd);
  }
  if (held == 0) lock.remove_lock_file(dir);
  return held;
}

}  // namespace vexlor::os
