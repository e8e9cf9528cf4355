// The manager's record of requests: a bounded in-memory tail that Query requests read, and
// "manager.log", written by one background writer in batches and rotated by size. Adding a
// line costs the request path one short lock and two appends; nothing waits for the disk.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace vexlor::manager {

struct RecordLimits {
  // Bytes of record lines (with their line ends) kept in memory; the oldest lines go first.
  std::size_t memory_bytes = 4u << 20;
  // manager.log is rotated when it would grow past this many bytes ...
  std::size_t log_bytes = 4u << 20;
  // ... into manager.log.1 (newest) to manager.log.<log_files> (oldest, then dropped).
  int log_files = 3;
};

class Record {
 public:
  // Appends to `log_path` (created 0660 whatever the umask; empty: no log). With `echo` every
  // line is also printed on the console by the writer.
  Record(std::string log_path, bool echo, RecordLimits limits);
  ~Record();  // writes what is pending, then stops the writer
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;

  // Records one line (no line end). Lines are numbered from 0 in the order added.
  void add(std::string line);
  // The kept lines numbered `since` and later, each ended by '\n', at most `max_bytes` in all
  // (whole lines only). Lines already dropped from memory are skipped.
  std::string read(long long since, std::size_t max_bytes) const;
  // Returns once every line added so far is in the log file (and on the console).
  void flush();

 private:
  void writer_loop();
  void write_batch(const std::string& batch);
  void open_log();
  void rotate();

  const std::string log_path_;
  const bool echo_;
  const RecordLimits limits_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;     // the writer: a batch is due, a flush or the stop
  std::condition_variable written_;  // flush(): the writer finished a batch
  std::deque<std::string> lines_;
  long long first_ = 0;          // number of lines_.front()
  std::size_t memory_used_ = 0;  // bytes of lines_ with line ends
  std::string pending_;          // lines not yet handed to the writer
  long long added_ = 0, written_count_ = 0;
  long long flush_wanted_ = 0;
  bool stopping_ = false;

  // Writer thread only.
  FILE* log_ = nullptr;
  std::size_t log_size_ = 0;
  std::thread writer_;
};

}  // namespace vexlor::manager
