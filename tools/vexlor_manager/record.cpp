// The manager's record: bounded memory tail, batched log writer, size-based rotation.
#include "record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vexlor/util.h>

#include <chrono>
#include <cstdio>
#include <utility>

namespace vexlor::manager {
namespace {

// The writer gathers lines for up to kBatchDelay after the first one arrives, or until
// kBatchBytes are pending, then writes them with one flush.
constexpr auto kBatchDelay = std::chrono::milliseconds(20);
constexpr std::size_t kBatchBytes = 64 * 1024;

#if defined(_WIN32)
// Binary (no "\r\n"), and never inherited by the routines the manager starts.
constexpr int kLogFlags = O_WRONLY | O_CREAT | O_APPEND | O_BINARY | O_NOINHERIT;
#else
constexpr int kLogFlags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
#endif

// Renames over an existing file, as POSIX rename does (Windows' refuses).
void rename_over(const std::string& from, const std::string& to) {
#if defined(_WIN32)
  std::remove(to.c_str());
#endif
  std::rename(from.c_str(), to.c_str());
}

}  // namespace

Record::Record(std::string log_path, bool echo, RecordLimits limits)
    : log_path_(std::move(log_path)), echo_(echo), limits_(limits) {
  if (!log_path_.empty()) open_log();
  writer_ = std::thread([this] { writer_loop(); });
}

Record::~Record() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  writer_.join();
  if (log_ != nullptr) std::fclose(log_);
}

void Record::add(std::string line) {
  bool wake;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wake = pending_.empty() || pending_.size() + line.size() >= kBatchBytes;
    pending_ += line;
    pending_ += '\n';
    ++added_;
    memory_used_ += line.size() + 1;
    lines_.push_back(std::move(line));
    // Drop the oldest lines past the bound, always keeping the newest one.
    while (memory_used_ > limits_.memory_bytes && lines_.size() > 1) {
      memory_used_ -= lines_.front().size() + 1;
      lines_.pop_front();
      ++first_;
    }
  }
  // One wake per batch, not per line: the writer collects the rest on its own.
  if (wake) wake_.notify_one();
}

std::string Record::read(long long since, std::size_t max_bytes) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  long long from = since < first_ ? first_ : since;
  for (long long i = from; i < first_ + static_cast<long long>(lines_.size()); ++i) {
    const std::string& line = lines_[static_cast<std::size_t>(i - first_)];
    if (out.size() + line.size() + 1 > max_bytes) break;
    out += line;
    out += '\n';
  }
  return out;
}

void Record::flush() {
  std::unique_lock<std::mutex> lock(mutex_);
  long long target = added_;
  if (flush_wanted_ < target) flush_wanted_ = target;
  wake_.notify_one();
  written_.wait(lock, [&] { return written_count_ >= target || stopping_; });
}

void Record::writer_loop() {
  std::string batch;
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    wake_.wait(lock,
               [&] { return stopping_ || !pending_.empty() || flush_wanted_ > written_count_; });
    wake_.wait_for(lock, kBatchDelay, [&] {
      return stopping_ || pending_.size() >= kBatchBytes || flush_wanted_ > written_count_;
    });
    batch.clear();
    batch.swap(pending_);
    long long count = added_;
    bool stop = stopping_;
    lock.unlock();
    if (!batch.empty()) write_batch(batch);
    lock.lock();
    written_count_ = count;
    written_.notify_all();
    if (stop && pending_.empty()) break;
  }
}

void Record::write_batch(const std::string& batch) {
  std::size_t start = 0;
  while (start < batch.size()) {
    std::size_t end = batch.find('\n', start);
    if (end == std::string::npos) end = batch.size() - 1;
    std::size_t length = end + 1 - start;
    if (echo_) {
      std::string line(batch, start, length - 1);
      Vexlor::VPrint("vexlor-manager", "%s", line.c_str());
    }
    if (log_ != nullptr) {
      if (log_size_ > 0 && log_size_ + length > limits_.log_bytes) rotate();
      if (log_ != nullptr && std::fwrite(batch.data() + start, 1, length, log_) == length) {
        log_size_ += length;
      }
    }
    start = end + 1;
  }
  if (log_ != nullptr) std::fflush(log_);
}

void Record::open_log() {
  // Shared with the equipment's group, never with others, whatever the umask says.
  int fd = ::open(log_path_.c_str(), kLogFlags, 0660);
  if (fd < 0) return;
#if !defined(_WIN32)
  ::fchmod(fd, 0660);
#endif
  struct stat st;
  log_size_ = ::fstat(fd, &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
  log_ = ::fdopen(fd, "ab");
  if (log_ == nullptr) {
    ::close(fd);
    return;
  }
  std::setvbuf(log_, nullptr, _IOFBF, kBatchBytes);
}

void Record::rotate() {
  std::fflush(log_);
  std::fclose(log_);
  log_ = nullptr;
  if (limits_.log_files <= 0) {
    ::unlink(log_path_.c_str());
  } else {
    for (int i = limits_.log_files - 1; i >= 1; --i) {
      rename_over(log_path_ + "." + std::to_string(i), log_path_ + "." + std::to_string(i + 1));
    }
    rename_over(log_path_, log_path_ + ".1");
  }
  open_log();
}

}  // namespace vexlor::manager
