// Named mutexes across real processes: existence while any process holds a handle,
// abandonment by kill -9, timed waits, recursion, per-thread ownership, nothing left behind,
// instance separation and bad arguments.
#include "os/named_mutex.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "os/instance.h"
#include "support/forked_child.h"
#include "support/instance.h"

namespace vexlor::os {
namespace {

using namespace std::chrono_literals;

using Child = test::ForkedChild;
using test::ChildIo;

// Each test gets its own runtime folder and instance, both removed afterwards.
class NamedMutexTest : public ::testing::Test {
 protected:
  static std::string mutex_folder() { return instance_dir() + "/mutex"; }

  static bool path_exists(const std::string& path) { return std::filesystem::exists(path); }

  // Entries of the mutex folder of the current instance, sorted; empty when it is gone.
  static std::vector<std::string> folder_entries() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(mutex_folder(), ec)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // A handle from mutex_create, expected with `error` as the last error.
  static MutexHandle created(const char* name, bool owner, uint32_t error) {
    MutexHandle h = mutex_create(name, owner);
    EXPECT_NE(h, nullptr) << name;
    EXPECT_EQ(mutex_last_error(), error) << name;
    return h;
  }

  test::PrivateInstance instance_{"mutex"};
};

// The start-lock probe: "already exists" exactly while another process holds a handle,
// no inheritance of handles by fork, and a killed holder's left-over file counts as absent.
TEST_F(NamedMutexTest, ExistsExactlyWhileSomeProcessHoldsAHandle) {
  const char* kName = "VPROC_Routine";
  EXPECT_FALSE(mutex_exists(kName));
  EXPECT_EQ(mutex_open(kName), nullptr);
  EXPECT_EQ(mutex_last_error(), kErrorFileNotFound);

  Child holder([&](ChildIo& io) {
    MutexHandle h = mutex_create(kName, false);
    io.say("created %d %u", h != nullptr, mutex_last_error());
    io.hear();
    io.say("closed %d", mutex_close(h));
    io.hear();
  });
  ASSERT_EQ(holder.read_line(), "created 1 0");
  EXPECT_TRUE(mutex_exists(kName));

  MutexHandle probe = created(kName, false, kErrorAlreadyExists);
  EXPECT_TRUE(mutex_close(probe));
  EXPECT_TRUE(mutex_exists(kName));

  MutexHandle opened = mutex_open(kName);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(mutex_last_error(), kErrorSuccess);

  // Handles are not inherited: in a forked child the parent's handle is invalid, and closing
  // it there must not remove the mutex.
  Child forked([&](ChildIo& io) {
    bool closed = mutex_close(opened);
    uint32_t error = mutex_last_error();
    io.say("close %d %u exists %d", closed, error, mutex_exists(kName));
  });
  EXPECT_EQ(forked.read_line(), "close 0 6 exists 1");
  EXPECT_EQ(forked.wait_exit(), 0);
  EXPECT_TRUE(mutex_close(opened));
  EXPECT_TRUE(mutex_exists(kName));
  EXPECT_EQ(folder_entries(), (std::vector<std::string>{".lock", "VPROC_Routine"}));

  ASSERT_TRUE(holder.send("close"));
  EXPECT_EQ(holder.read_line(), "closed 1");
  EXPECT_FALSE(mutex_exists(kName));
  EXPECT_EQ(mutex_open(kName), nullptr);
  EXPECT_EQ(mutex_last_error(), kErrorFileNotFound);
  EXPECT_FALSE(path_exists(mutex_folder()));
  ASSERT_TRUE(holder.send("exit"));
  EXPECT_EQ(holder.wait_exit(), 0);

  // A holder killed with -9 leaves its file behind, held by nobody: the mutex is absent.
  for (int round = 0; round < 2; ++round) {
    Child victim([&](ChildIo& io) {
      MutexHandle h = mutex_create(kName, false);
      io.say("created %d %u", h != nullptr, mutex_last_error());
      io.hear();
    });
    ASSERT_EQ(victim.read_line(), "created 1 0");
    victim.kill9();
    ASSERT_TRUE(path_exists(mutex_folder() + "/VPROC_Routine"));
    if (round == 0) {
      EXPECT_FALSE(mutex_exists(kName));
      EXPECT_FALSE(path_exists(mutex_folder()));
    } else {
      // Creating over the left-over file makes a new mutex; the initial owner is honoured.
      MutexHandle fresh = created(kName, true, kErrorSuccess);
      Child other([&](ChildIo& io) {
        MutexHandle h = mutex_open(kName);
        io.say("open %u wait %u", mutex_last_error(), mutex_wait(h, 0));
      });
      EXPECT_EQ(other.read_line(), "open 0 wait 258");
      EXPECT_EQ(other.wait_exit(), 0);
      EXPECT_TRUE(mutex_release(fresh));
      EXPECT_TRUE(mutex_close(fresh));
      EXPECT_FALSE(path_exists(mutex_folder()));
    }
  }
}

// kill -9 of an owner holding two levels: the waiter blocked here gets 128 and owns the mutex
// with one level; others time out meanwhile, and the next owner gets a plain acquisition.
TEST_F(NamedMutexTest, KilledOwnerAbandonsTheMutexToTheNextWaiter) {
  const char* kName = "TM01_RUN_LOCKING_MUTEX";
  MutexHandle h = created(kName, false, kErrorSuccess);

  Child owner([&](ChildIo& io) {
    MutexHandle c = mutex_open(kName);
    uint32_t first = mutex_wait(c, 0);
    uint32_t second = mutex_wait(c, kInfinite);
    io.say("owner %u %u", first, second);
    io.hear();
  });
  ASSERT_EQ(owner.read_line(), "owner 0 0");
  EXPECT_EQ(mutex_wait(h, 0), kWaitTimeout);
  EXPECT_EQ(mutex_wait(h, 30), kWaitTimeout);
  EXPECT_FALSE(mutex_release(h));
  EXPECT_EQ(mutex_last_error(), kErrorNotOwner);
  std::thread killer([&] {
    std::this_thread::sleep_for(50ms);  // most likely blocked in the wait by now; 128 either way
    owner.kill9();
  });
  EXPECT_EQ(mutex_wait(h, 10000), kWaitAbandoned);
  killer.join();
  Child late([&](ChildIo& io) {
    MutexHandle c = mutex_open(kName);
    io.say("late %u", mutex_wait(c, 30));
  });
  EXPECT_EQ(late.read_line(), "late 258");
  EXPECT_EQ(late.wait_exit(), 0);
  // The dead owner held two levels; the new owner holds one.
  EXPECT_TRUE(mutex_release(h));
  EXPECT_FALSE(mutex_release(h));
  EXPECT_EQ(mutex_last_error(), kErrorNotOwner);

  // Consistent again: the next owner gets a plain acquisition.
  Child next([&](ChildIo& io) {
    MutexHandle c = mutex_open(kName);
    uint32_t waited = mutex_wait(c, 1000);
    io.say("next %u %d", waited, mutex_release(c));
  });
  EXPECT_EQ(next.read_line(), "next 0 1");
  EXPECT_EQ(next.wait_exit(), 0);
  EXPECT_TRUE(mutex_close(h));
  EXPECT_FALSE(mutex_exists(kName));
  EXPECT_FALSE(path_exists(mutex_folder()));
  EXPECT_TRUE(mutex_close(created(kName, false, kErrorSuccess)));
}

// A release by anyone but the owner thread is refused and changes nothing: the owner keeps its
// levels, and when it closes its only handle and its thread ends, the waiter in another
// process is told the mutex was abandoned (the owner's mapping had to stay alive for that).
TEST_F(NamedMutexTest, RefusedReleaseLeavesOwnershipIntact) {
  const char* kName = "PM2.Status_SIO_MUTEX";
  MutexHandle h = created(kName, false, kErrorSuccess);
  Child owner([&](ChildIo& io) {
    MutexHandle c = mutex_open(kName);
    uint32_t first = 0, second = 0;
    bool released = false, closed = false;
    std::atomic<int> step{0};
    auto reach = [&](int n) {
      while (step.load() < n) std::this_thread::sleep_for(1ms);
    };
    std::thread thread([&] {
      first = mutex_wait(c, 0);
      second = mutex_wait(c, 0);
      step = 1;
      reach(2);
      released = mutex_release(c);
      step = 3;
      reach(4);
      closed = mutex_close(c);  // ends holding one level through a closed handle
    });
    reach(1);
    io.say("owner %u %u", first, second);
    io.hear();
    bool refused = !mutex_release(c);
    io.say("other thread %d %u", refused, mutex_last_error());
    io.hear();
    step = 2;
    reach(3);
    io.say("released %d", released);
    io.hear();
    step = 4;
    thread.join();
    io.say("closed %d", closed);
    io.hear();
  });
  ASSERT_EQ(owner.read_line(), "owner 0 0");
  EXPECT_FALSE(mutex_release(h));
  EXPECT_EQ(mutex_last_error(), kErrorNotOwner);
  ASSERT_TRUE(owner.send("other"));
  EXPECT_EQ(owner.read_line(), "other thread 1 288");
  ASSERT_TRUE(owner.send("release"));
  EXPECT_EQ(owner.read_line(), "released 1");
  EXPECT_EQ(mutex_wait(h, 0), kWaitTimeout);
  ASSERT_TRUE(owner.send("close"));
  EXPECT_EQ(owner.read_line(), "closed 1");
  EXPECT_EQ(mutex_wait(h, 5000), kWaitAbandoned);
  EXPECT_TRUE(mutex_release(h));
  EXPECT_TRUE(mutex_close(h));
  // Taken over, released and closed by its last handle: the name is free, nothing is left.
  EXPECT_FALSE(mutex_exists(kName));
  EXPECT_FALSE(path_exists(mutex_folder()));
  EXPECT_TRUE(mutex_close(created(kName, false, kErrorSuccess)));
  EXPECT_FALSE(path_exists(mutex_folder()));
}

// Closing the last handle while other threads are inside calls on it never touches unmapped
// memory: those calls either complete or fail with kErrorInvalidHandle.
TEST_F(NamedMutexTest, CloseDuringCallsOnOtherThreads) {
  for (int round = 0; round < 60; ++round) {
    MutexHandle h = mutex_create("Racing", false);
    ASSERT_NE(h, nullptr);
    std::atomic<int> started{0};
    std::vector<uint32_t> errors(2, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
      threads.emplace_back([&, t] {
        started.fetch_add(1);
        while (true) {
          uint32_t r = mutex_wait(h, 5);
          if (r == kWaitFailed) break;
          if (r == kWaitObject0 && !mutex_release(h)) break;
        }
        errors[t] = mutex_last_error();
      });
    }
    while (started.load() < 2) std::this_thread::yield();
    EXPECT_TRUE(mutex_close(h));
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(errors, (std::vector<uint32_t>{kErrorInvalidHandle, kErrorInvalidHandle}));
  }
  EXPECT_FALSE(path_exists(mutex_folder()));
}

// Ownership belongs to a thread: recursion, refusals for other threads, abandonment when an
// owner thread ends, and a thread that closes its only handle while it owns the mutex.
TEST_F(NamedMutexTest, OwnershipIsRecursiveAndPerThread) {
  const char* kName = "PM1.Recipe_SIO_MUTEX";
  MutexHandle h = created(kName, true, kErrorSuccess);
  EXPECT_EQ(mutex_wait(h, 0), kWaitObject0);

  uint32_t other_wait = 0;
  std::thread([&] { other_wait = mutex_wait(h, 20); }).join();
  EXPECT_EQ(other_wait, kWaitTimeout);

  EXPECT_TRUE(mutex_release(h));
  EXPECT_TRUE(mutex_release(h));
  EXPECT_FALSE(mutex_release(h));
  EXPECT_EQ(mutex_last_error(), kErrorNotOwner);

  // A second handle of the same process: already exists, initial owner ignored.
  MutexHandle h2 = created(kName, true, kErrorAlreadyExists);
  EXPECT_NE(h2, h);
  uint32_t thread_wait = 0;
  std::thread([&] { thread_wait = mutex_wait(h2, 0); }).join();  // ends owning it
  EXPECT_EQ(thread_wait, kWaitObject0);
  EXPECT_EQ(mutex_wait(h, 1000), kWaitAbandoned);
  EXPECT_EQ(mutex_wait(h2, 0), kWaitObject0);  // same mutex through either handle
  EXPECT_TRUE(mutex_release(h2));
  EXPECT_TRUE(mutex_release(h));
  EXPECT_FALSE(mutex_release(h2));
  EXPECT_TRUE(mutex_close(h2));

  // Another thread's releases racing the owner's recursive waits and releases are all refused
  // and never change the owner's levels.
  std::atomic<bool> done{false};
  int owner_failures = 0, accepted = 0, other_errors = 0;
  std::thread owner([&] {
    for (int i = 0; i < 2000; ++i) {
      if (mutex_wait(h, 5000) != kWaitObject0 || mutex_wait(h, 0) != kWaitObject0) {
        ++owner_failures;
      }
      if (!mutex_release(h) || !mutex_release(h) || mutex_release(h)) ++owner_failures;
    }
    done = true;
  });
  while (!done.load()) {
    if (mutex_release(h)) ++accepted;
    if (mutex_last_error() != kErrorNotOwner) ++other_errors;
  }
  owner.join();
  EXPECT_EQ(owner_failures, 0);
  EXPECT_EQ(accepted, 0);
  EXPECT_EQ(other_errors, 0);
  EXPECT_EQ(mutex_wait(h, 0), kWaitObject0);  // free, not abandoned
  EXPECT_TRUE(mutex_release(h));
  EXPECT_TRUE(mutex_close(h));
  EXPECT_FALSE(path_exists(mutex_folder()));

  // The owner thread closes its only handle: the name goes, the thread keeps the mutex, and
  // locking another mutex afterwards (which links it next to the first one in the thread's
  // robust list) must still find the first one's memory mapped.
  std::vector<uint32_t> seen;  // wait, close and exists of A; wait, release and close of B
  std::thread([&] {
    MutexHandle a = mutex_create("ClosedWhileOwned_A", false);
    MutexHandle b = mutex_create("ClosedWhileOwned_B", false);  // mapped before A closes
    seen = {mutex_wait(a, 0), mutex_close(a),   mutex_exists("ClosedWhileOwned_A"),
            mutex_wait(b, 0), mutex_release(b), mutex_close(b)};
  }).join();
  EXPECT_EQ(seen, (std::vector<uint32_t>{kWaitObject0, 1, 0, kWaitObject0, 1, 1}));
  EXPECT_FALSE(path_exists(mutex_folder()));
  MutexHandle again = created("ClosedWhileOwned_A", false, kErrorSuccess);
  EXPECT_EQ(mutex_wait(again, 0), kWaitObject0);
  EXPECT_TRUE(mutex_release(again));
  EXPECT_TRUE(mutex_close(again));
}

// The same name in two instances names two mutexes.
TEST_F(NamedMutexTest, InstancesDoNotShareMutexes) {
  const char* kName = "Alarm_Mutex";
  const std::string first = instance_.name() + "-one";
  const std::string second = instance_.name() + "-two";
  ::setenv("VEXLOR_INSTANCE", first.c_str(), 1);
  Child holder([&](ChildIo& io) {
    MutexHandle c = mutex_create(kName, false);
    uint32_t error = mutex_last_error();
    io.say("holder %u %u", error, mutex_wait(c, 0));
    io.hear();
  });
  ASSERT_EQ(holder.read_line(), "holder 0 0");

  ::setenv("VEXLOR_INSTANCE", second.c_str(), 1);
  EXPECT_FALSE(mutex_exists(kName));
  MutexHandle in_second = created(kName, false, kErrorSuccess);
  EXPECT_EQ(mutex_wait(in_second, 0), kWaitObject0);

  ::setenv("VEXLOR_INSTANCE", first.c_str(), 1);
  MutexHandle in_first = created(kName, false, kErrorAlreadyExists);
  EXPECT_EQ(mutex_wait(in_first, 20), kWaitTimeout);

  // Handles keep their mutex whatever the current instance is.
  EXPECT_TRUE(mutex_release(in_second));
  EXPECT_TRUE(mutex_close(in_second));
  EXPECT_TRUE(mutex_close(in_first));
  holder.kill9();
  EXPECT_FALSE(mutex_exists(kName));
  EXPECT_FALSE(path_exists(instance_dir(first) + "/mutex"));
  EXPECT_FALSE(path_exists(instance_dir(second) + "/mutex"));
}

// Bad names and handles fail with the documented values and never crash; any byte string is
// a name of its own and stays inside the mutex folder.
TEST_F(NamedMutexTest, RejectsBadArgumentsAndKeepsOddNamesApart) {
  // The error a call left when it failed, 0 when it did not fail.
  auto failed = [](bool failed) { return failed ? mutex_last_error() : 0u; };
  using Errors = std::vector<uint32_t>;
  for (const char* bad : {static_cast<const char*>(nullptr), ""}) {
    EXPECT_EQ((Errors{failed(mutex_create(bad, true) == nullptr),
                      failed(mutex_open(bad) == nullptr), failed(!mutex_exists(bad))}),
              Errors(3, kErrorInvalidParameter));
  }

  // A closed handle stays invalid, also after its slot serves a new handle.
  MutexHandle closed = created("Closed", false, kErrorSuccess);
  EXPECT_TRUE(mutex_close(closed));
  MutexHandle reused = created("Closed", false, kErrorSuccess);
  EXPECT_NE(reused, closed);
  int not_a_handle = 0;
  for (MutexHandle bad : {MutexHandle{nullptr}, reinterpret_cast<MutexHandle>(uintptr_t{1}),
                          reinterpret_cast<MutexHandle>(uintptr_t{0x12345678}),
                          static_cast<MutexHandle>(&not_a_handle), closed}) {
    EXPECT_EQ((Errors{failed(mutex_wait(bad, 0) == kWaitFailed), failed(!mutex_release(bad)),
                      failed(!mutex_close(bad))}),
              Errors(3, kErrorInvalidHandle));
  }
  EXPECT_EQ(mutex_wait(reused, 0), kWaitObject0);
  EXPECT_TRUE(mutex_release(reused));
  EXPECT_TRUE(mutex_close(reused));

  const std::string long_name(300, 'x');
  const std::vector<std::string> names = {"a/b",          "a\\b",
                                          "a%2Fb",        ".lock",
                                          "../../escape", "\xD7\xD6\xB7\xFB\xB4\xAE_SIO_MUTEX",
                                          long_name,      long_name + "y"};
  std::vector<MutexHandle> handles;
  for (const auto& name : names) handles.push_back(created(name.c_str(), false, kErrorSuccess));
  EXPECT_EQ(folder_entries().size(), names.size() + 1);  // and the lock file
  EXPECT_FALSE(path_exists(instance_.runtime_dir() + "/escape"));
  for (const auto& name : names) EXPECT_TRUE(mutex_exists(name.c_str())) << name;
  for (MutexHandle handle : handles) EXPECT_TRUE(mutex_close(handle));
  for (const auto& name : names) EXPECT_FALSE(mutex_exists(name.c_str())) << name;
  EXPECT_FALSE(path_exists(mutex_folder()));
}

// Mutual exclusion across processes while every iteration creates, waits, releases and
// closes the mutex, so last closes and new creates race all the time.
TEST_F(NamedMutexTest, ExcludesAcrossProcessesWhileCreatedAndClosedConcurrently) {
  const char* kName = "Counter";
  constexpr int kProcesses = 4;
  constexpr int kRounds = 300;
  void* shared =
      ::mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(shared, MAP_FAILED);
  auto* counter = static_cast<std::atomic<int>*>(shared);
  counter->store(0);

  std::vector<std::unique_ptr<Child>> children;
  for (int i = 0; i < kProcesses; ++i) {
    children.push_back(std::make_unique<Child>([&](ChildIo& io) {
      int failures = 0;
      for (int round = 0; round < kRounds; ++round) {
        MutexHandle h = mutex_create(kName, false);
        if (h == nullptr || mutex_wait(h, 5000) != kWaitObject0) {
          ++failures;
        } else {
          // A read-modify-write that loses updates unless the mutex excludes.
          int value = counter->load(std::memory_order_relaxed);
          if (round % 8 == 0) ::sched_yield();
          counter->store(value + 1, std::memory_order_relaxed);
          if (!mutex_release(h)) ++failures;
        }
        if (h != nullptr && !mutex_close(h)) ++failures;
      }
      io.say("failures %d", failures);
    }));
  }
  for (auto& child : children) {
    EXPECT_EQ(child->read_line(), "failures 0");
    EXPECT_EQ(child->wait_exit(), 0);
  }
  EXPECT_EQ(counter->load(), kProcesses * kRounds);
  EXPECT_FALSE(path_exists(mutex_folder()));
  ::munmap(shared, sizeof(int));
}

}  // namespace
}  // namespace vexlor::os
