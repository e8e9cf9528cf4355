// What the host defines on the equipment, and the spool, kept in the equipment's SQLite file
// beside the host event journal, so that they outlive a restart of the host link:
//
//   GemDefinition(name TEXT PRIMARY KEY, value TEXT)   one row per kind: reports, links,
//       enabled events, disabled alarms, equipment constant values, clock offset
//   GemSpool(seq INTEGER PRIMARY KEY, stream INTEGER, function INTEGER, wbit INTEGER,
//            body BLOB, spooled TEXT)                  the spooled primaries, oldest first
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

struct sqlite3;

namespace vexlor::gem {

struct Definitions {
  std::map<uint32_t, std::vector<uint32_t>> reports;  // RPTID -> VIDs in order
  std::map<uint32_t, std::vector<uint32_t>> links;    // CEID -> RPTIDs in order
  std::set<uint32_t> enabled_events;
  std::set<uint32_t> disabled_alarms;  // alarms are reported unless the host disabled them
  std::map<uint32_t, double> constants;  // ECID -> value the host set
  int64_t clock_offset_ms = 0;           // host time minus the machine's clock

  bool operator==(const Definitions& o) const {
    return reports == o.reports && links == o.links && enabled_events == o.enabled_events &&
           disabled_alarms == o.disabled_alarms && constants == o.constants &&
           clock_offset_ms == o.clock_offset_ms;
  }
};

struct SpoolEntry {
  int64_t seq = 0;  // the message's place in the order the equipment made its messages
  int stream = 0, function = 0;
  bool wbit = true;
  std::string body;  // the encoded item
};

class Store {
 public:
  Store();
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Opens (creates) the tables in `file`; false with a reason.
  bool open(const std::string& file, std::string* error);
  bool is_open() const;

  bool load(Definitions* definitions, std::string* error);
  bool save(const Definitions& definitions, std::string* error);

  // The spool. push keeps entries ordered by seq (an entry given back after its transaction
  // failed goes before the ones made after it).
  bool spool_push(const SpoolEntry& entry, std::string* error);
  // Up to `count` entries, oldest first.
  bool spool_front(std::size_t count, std::vector<SpoolEntry>* entries, std::string* error);
  bool spool_erase(int64_t seq, std::string* error);
  bool spool_erase_oldest(std::string* error);
  bool spool_clear(std::string* error);
  int64_t spool_count();
  int64_t spool_max_seq();

 private:
  bool exec(const char* sql, std::string* error);
  std::mutex mutex_;
  sqlite3* db_ = nullptr;
};

}  // namespace vexlor::gem
