// One Modbus TCP driver: its device connection, the scan of its input points, the writes of
// routines handed over on the driver's endpoint, link loss and return, and its statistics.
// The device connection is used by one thread at a time, under device_lock_ (a libmodbus
// context is never used by two threads at once): the scan thread for each of its requests, and
// the endpoint thread of a routine for its write, which the scan lets in before its next
// request. Endpoint threads answer status requests themselves.
#pragma once

#include <vexlor/records.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "db/driver_link.h"
#include "modbus/mapping.h"
#include "modbus/scan_plan.h"
#include "os/local_endpoint.h"
#include "os/named_mutex.h"

struct _modbus;

namespace vexlor::drivers::modbus {

class Driver {
 public:
  Driver(Vexlor::MMAP_STRU* db, int driver);
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Opens the driver's endpoint; false (with the reason) when another process serves it.
  bool open(std::string* error);
  // Scans and writes until stop() is called, the database is retired or the program's parent
  // ends.
  void run();
  void stop();
  // Only sets the flag (safe in a signal handler); the loops notice it within 0.2 s.
  void request_stop() { stop_ = true; }

  // The steps of run(), for benchmarks: connect to the device (false when it cannot), and one
  // scan of the input points.
  bool connect_device();
  void scan();

  // The statistics as one JSON object.
  std::string status_json();
  // The file the statistics are published in, once per second while the program runs (the
  // console reads it): driver.<index>.status.json in the instance's runtime folder; the
  // object gains "updated", seconds since 1970.
  std::string status_path() const;

 private:
  struct InputPoint {
    char kind;  // 'D', 'A', 'S'
    int index;
    bool bad = false;
  };

  void collect_points();
  void publish_status();
  // False once the database is replaced or removed, or the process that started the program
  // (vexlor-manager) ended, even killed: nobody would supervise the program any more.
  bool still_wanted();
  void link_down(const std::string& reason);
  void link_up();
  bool read_group(const ReadGroup& g, std::vector<uint16_t>& regs, std::vector<uint8_t>& bits);
  void store(int planned, const uint16_t* regs);
  void mark_bad(int planned, bool bad, const std::string& reason);
  bool execute(const detail::DriverWrite& w);
  // After an acknowledged write: a point read from the very entry it is written to takes the
  // written value at once (the device holds it), so a read right after the write sees it.
  void read_back(char kind, int point, const Mapping& written, const uint16_t* regs);
  void accept_loop();
  void client_loop(std::shared_ptr<os::LocalStream> stream);
  void note_io(double seconds, bool ok);
  void set_offline_param(int value);
  std::string point_name(char kind, int index) const;
  void log(int type, const std::string& text);

  Vexlor::MMAP_STRU* db_;
  int driver_;
  long parent_;
  std::string name_;
  DeviceSettings settings_;
  _modbus* ctx_ = nullptr;
  bool online_ = false;
  bool known_ = false;  // a state was logged once
  bool alarm_posted_ = false;
  double next_connect_ = 0;
  double backoff_ = 0;

  std::vector<InputPoint> inputs_;
  std::vector<PlannedPoint> planned_;
  std::vector<ReadGroup> groups_;
  std::vector<os::MutexHandle> string_mutexes_;

  std::atomic<bool> stop_{false};
  std::mutex device_lock_;           // the connection, its state, the points' plan
  std::atomic<int> writers_{0};      // writes waiting for device_lock_
  std::mutex wake_lock_;
  std::condition_variable wake_;     // the scan thread's sleep between scans

  os::LocalListener listener_;
  std::thread acceptor_;
  std::mutex clients_lock_;
  std::vector<std::shared_ptr<os::LocalStream>> clients_;
  std::vector<std::thread> client_threads_;

  // Statistics (stats_lock_).
  std::mutex stats_lock_;
  uint64_t reads_ok_ = 0, writes_ok_ = 0, io_errors_ = 0, exceptions_ = 0, scans_ = 0;
  uint64_t requests_last_scan_ = 0;
  double last_io_ = 0, longest_io_ = 0, last_cycle_ = 0;
  uint64_t histogram_[10] = {};
  std::string online_since_;
  std::string last_error_;
};

}  // namespace vexlor::drivers::modbus
