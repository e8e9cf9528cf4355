// The serve loop of <vexlor/routine.h>: the function's side of run, event, message, pool, exit
// and reload requests arriving at the routine's own endpoint.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "fifo/own_endpoint.h"
#include "os/named_mutex.h"
#include "os/wakeup.h"
#include "util/type_names.h"
#include "vexlor/frame.h"
#include "vexlor/functions.h"
#include "vexlor/routine.h"

namespace vexlor::routine {
namespace {

using fifo::Reply;
using fifo::Request;
using fifo::RequestType;

// A run request is acknowledged once the serve thread holds the run mutex; a serve thread that
// does not get there in this time (it is stuck before its loop) refuses the request.
constexpr auto kStartBound = std::chrono::seconds(2);

// What a run handler returned, as the final status of its run. A status a run ends with is
// written as it is; anything else (SYS_AVAILABLE, SYS_RUNNING, SYS_WAITTING, SYS_KILLED, a value
// that is no FUNC_STATUS such as a bool) would leave the function looking idle, busy or gone
// while it serves: SYS_ERROR is written instead, with a log line naming the value.
Vexlor::FUNC_STATUS final_status(const std::string& name, Vexlor::FUNC_STATUS status) {
  switch (status) {
    case Vexlor::SYS_ABORTED:
    case Vexlor::SYS_SUCCESS:
    case Vexlor::SYS_ERROR:
    case Vexlor::SYS_BUSY:
    case Vexlor::SYS_SKIP:
      return status;
    default:
      if (status >= Vexlor::SYS_ERRCODE && status <= Vexlor::SYS_ERRCODE9) return status;
      Vexlor::VSystem_Log(Vexlor::LOG_ERR,
                          "%s: the run handler returned %s (%d), which ends no run: SYS_ERROR "
                          "written",
                          name.c_str(), detail::status_name(status), static_cast<int>(status));
      return Vexlor::SYS_ERROR;
  }
}

int sender_index(const std::string& text) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  return end != text.c_str() ? static_cast<int>(v) : -1;
}

class Server : public std::enable_shared_from_this<Server> {
 public:
  Server(const Handlers& handlers, int index)
      : handlers_(handlers), index_(index), name_(Vexlor::VFunction_Get_Name(index)) {
    const int count = Vexlor::VFunction_Get_Pool_Count(index);
    pool_limit_ = count > 0 ? count : 1;
  }

  bool open() {
    run_mutex_ = os::mutex_create((name_ + "_RUN").c_str(), false);
    return run_mutex_ != nullptr;
  }

  void close() {
    if (run_mutex_ != nullptr) os::mutex_close(run_mutex_);
    run_mutex_ = nullptr;
  }

  Reply dispatch(const Request& r) {
    switch (r.type) {
      case RequestType::FunctionRun:
        return accept_run(r);
      case RequestType::FunctionExit:
        request_exit();
        return Reply{true, "exiting"};
      case RequestType::SendEvent:
      case RequestType::PostEvent:
        return queue_event(r);
      case RequestType::Dnload:
        if (!handlers_.message) return Reply{false, "no message handler"};
        return Reply{true, handlers_.message(sender_index(r.argument))};
      case RequestType::Pool:
        return pool(r);
      case RequestType::EngineWrite:
        if (r.kind == "$F" && r.param == "P8") {
          if (handlers_.reload && handlers_.reload()) return Reply{true, "reloaded"};
          request_exit();
          return Reply{true, "exiting"};
        }
        return Reply{true, {}};
      default:
        return Reply{true, {}};
    }
  }

  // The serve thread: one run after another until told to exit. A run that was not queued
  // behind another is acknowledged from here, once the run mutex is held and SYS_RUNNING is
  // written, so the endpoint's thread never waits for this one.
  void run_loop() {
    event_thread_ = std::thread([this] { event_loop(); });
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      while (runs_.empty() && !exiting_) {
        lock.unlock();
        run_posted_.wait();
        lock.lock();
      }
      if (exiting_) break;
      Job job = std::move(runs_.front());
      runs_.pop_front();
      busy_ = true;
      lock.unlock();

      if (!take_run_mutex(job)) {
        lock.lock();
        busy_ = false;
        continue;
      }
      Vexlor::VFunction_Set_Parent_Points(job.parents.c_str());
      Vexlor::VFunction_Set_Run_Status(index_, Vexlor::SYS_RUNNING);
      if (job.ack) job.ack->send(Reply{true, "running"});

      Run run{job.param, job.parents, Vexlor::VFunction_Get_Free_Flag(index_)};
      const Vexlor::FUNC_STATUS status =
          final_status(name_, handlers_.run ? handlers_.run(run) : Vexlor::SYS_SUCCESS);
      Vexlor::VFunction_Set_Run_Status(index_, status);
      // Idle before the mutex goes: a caller that saw this run end and starts the next one at
      // once must be answered when that run has started, not "queued" behind a finished one.
      lock.lock();
      busy_ = false;
      lock.unlock();
      os::mutex_release(run_mutex_);
      lock.lock();
    }
    runs_.clear();  // their callers are told "not answered"
    lock.unlock();
    event_cv_.notify_all();
    event_thread_.join();
  }

 private:
  struct Job {
    std::string param, parents;
    // The caller's acknowledgement, when it waits for the run to start.
    std::unique_ptr<fifo::LaterReply> ack;
    std::chrono::steady_clock::time_point queued_at;
  };

  // The run mutex, for one run. A caller waiting for its acknowledgement is refused when the
  // mutex is not had within the start bound (another process holds it); the run is dropped then.
  bool take_run_mutex(Job& job) {
    if (!job.ack) {
      os::mutex_wait(run_mutex_, os::kInfinite);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        job.queued_at + kStartBound - std::chrono::steady_clock::now());
    const uint32_t result =
        os::mutex_wait(run_mutex_, left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0);
    if (result == os::kWaitObject0 || result == os::kWaitAbandoned) return true;
    job.ack->send(Reply{false, "not started"});
    return false;
  }

  Reply accept_run(const Request& r) {
    std::unique_ptr<fifo::LaterReply> ack;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (exiting_) return Reply{false, "exiting"};
      if (!busy_) {
        ack = fifo::defer_reply();
        if (!ack) return Reply{false, "not started"};
      }
      runs_.push_back(Job{r.param, r.argument, std::move(ack), std::chrono::steady_clock::now()});
    }
    run_posted_.post();
    return Reply{true, "queued"};  // dropped when the acknowledgement is deferred
  }

  void request_exit() {
    Vexlor::VFunction_Set_Exit_Flag(index_, true);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      exiting_ = true;
    }
    run_posted_.post();
    event_cv_.notify_all();
  }

  Reply queue_event(const Request& r) {
    Event event{r.param, sender_index(r.argument), r.type == RequestType::PostEvent};
    if (handlers_.keep) {
      // Acknowledged once the routine has kept it; then it goes on to the event handler.
      std::shared_ptr<fifo::LaterReply> ack = fifo::defer_reply();
      if (ack) {
        std::weak_ptr<Server> self = weak_from_this();
        handlers_.keep(event, [ack, self, event](bool kept) {
          ack->send(kept ? Reply{true, {}} : Reply{false, "not kept"});
          if (auto server = self.lock(); server && kept) server->push_event(event);
        });
        return Reply{true, {}};  // dropped: the acknowledgement is deferred
      }
    }
    push_event(std::move(event));
    return Reply{true, {}};
  }

  void push_event(Event event) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(std::move(event));
    }
    event_cv_.notify_one();
  }

  void event_loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      event_cv_.wait(lock, [this] { return !events_.empty() || exiting_; });
      if (events_.empty()) return;  // exiting, nothing left
      Event event = std::move(events_.front());
      events_.pop_front();
      lock.unlock();
      const Vexlor::FUNC_STATUS status =
          handlers_.event ? handlers_.event(event) : Vexlor::SYS_SUCCESS;
      if (event.posted) Vexlor::VFunction_Set_Event_Status(index_, status);
      lock.lock();
    }
  }

  Reply pool(const Request& r) {
    if (!handlers_.pool) return Reply{false, "no pool handler"};
    {
      std::unique_lock<std::mutex> lock(mutex_);
      pool_cv_.wait(lock, [this] { return pool_busy_ < pool_limit_; });
      ++pool_busy_;
    }
    std::string answer = handlers_.pool(r.param, sender_index(r.argument));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --pool_busy_;
    }
    pool_cv_.notify_one();
    return Reply{true, std::move(answer)};
  }

  const Handlers& handlers_;
  const int index_;
  const std::string name_;
  os::MutexHandle run_mutex_ = nullptr;

  std::mutex mutex_;
  os::Wakeup run_posted_;  // the serve thread: a run was queued, or exit
  std::condition_variable event_cv_, pool_cv_;
  std::deque<Job> runs_;
  std::deque<Event> events_;
  bool busy_ = false, exiting_ = false;
  int pool_limit_ = 1, pool_busy_ = 0;
  std::thread event_thread_;
};

}  // namespace

int serve(const char* name, const Handlers& handlers) {
  const bool started_here = Vexlor::MMAP_DB() == nullptr;
  if (started_here && !Vexlor::VHub_Initial(name)) return 2;
  const int index = Vexlor::VFunction_Get_Point();
  if (index < 0 || index >= Vexlor::VSystem_Get_Function_Count() + 12) {
    if (started_here) Vexlor::VHub_Release();
    return 2;
  }
  // The process lock tells VFunction_Exit callers that this routine lives.
  Vexlor::VFunction_Create_Locker(index);
  // Shared with the endpoint's threads: a request still being handled when serve() ends (the
  // exit request itself, say) keeps the server until it returns.
  auto server = std::make_shared<Server>(handlers, index);
  if (!server->open()) {
    if (started_here) Vexlor::VHub_Release();
    return 2;
  }
  // A new life of the routine: whatever the last one left is over.
  Vexlor::VFunction_Set_Exit_Flag(index, false);
  const Vexlor::FUNC_STATUS last = Vexlor::VFunction_Get_Run_Status(index);
  if (last == Vexlor::SYS_KILLED || last == Vexlor::SYS_RUNNING) {
    Vexlor::VFunction_Set_Run_Status(index, Vexlor::SYS_AVAILABLE);
  }
  fifo::set_own_handler([server](const Request& r) { return server->dispatch(r); });
  server->run_loop();
  if (handlers.exit) handlers.exit();
  fifo::set_own_handler({});
  Vexlor::VFunction_Set_Run_Status(index, Vexlor::SYS_KILLED);
  server->close();
  if (started_here) Vexlor::VHub_Release();
  return 0;
}

}  // namespace vexlor::routine
