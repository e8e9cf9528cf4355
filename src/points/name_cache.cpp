// The name cache of access by name: a hash table that readers search without a lock.
//
// Every process hit of a by-name access goes through here, from any number of threads, so a
// hit must not take a lock. The table is one per process, made on first use and never
// destroyed, and it is built so that nothing a reader can reach ever moves or is freed:
//
// - An entry (the name and one 64-bit word holding the point, the type and the session that
//   stored them) is allocated once per distinct name and kept for the life of the process.
//   Overwriting an entry's IO_MAP is one atomic store of that word.
// - The slot array (open addressing over entry pointers, at most half full) is searched by
//   readers after an acquire load of the current array. Writers hold the table's mutex: a new
//   entry is complete before the release store that puts it in its slot; a fuller table is
//   copied into one twice the size that is then published, and the old array is kept, so a
//   reader still probing it sees an older, consistent picture and at worst misses a new name,
//   which then takes the slow path like any other miss.
// - The cache is emptied when the library is released. Instead of freeing entries under
//   readers, each context gets a session number on its first use of the cache and a reader
//   sees only entries stored in its context's session; a new context starts with nothing.
//   A name stored again later reuses its entry, so memory is bounded by the distinct names a
//   process has used. A store carries the session taken before its search and is dropped when
//   the context has been released since (its search ran on a database that is gone).
#include "points/name_cache.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "frame/context.h"
#include "vexlor/points.h"

namespace vexlor::detail {
namespace {

// Word layout: point in bits 0-31, type (0-4) in bits 32-34, session in bits 35-63. A word of
// 0 is no entry: sessions start at 1.
constexpr int kSessionShift = 35;
constexpr uint32_t kMaxSession = (uint32_t{1} << (64 - kSessionShift)) - 1;

uint64_t encode(uint32_t session, Vexlor::IO_MAP map) {
  return (uint64_t{session} << kSessionShift) | (uint64_t(map.type & 7) << 32) |
         static_cast<uint32_t>(map.point);
}

uint32_t session_of(uint64_t word) { return static_cast<uint32_t>(word >> kSessionShift); }

Vexlor::IO_MAP decode(uint64_t word) {
  return Vexlor::IO_MAP{static_cast<int32_t>(static_cast<uint32_t>(word)),
                        static_cast<Vexlor::IO_TYPE>((word >> 32) & 7)};
}

// A 64-bit hash of a name, eight bytes at a time.
uint64_t mix(uint64_t h, uint64_t w) {
  h ^= w;
  h *= 0xbf58476d1ce4e5b9ULL;
  return h ^ (h >> 31);
}

uint64_t hash_name(std::string_view name) {
  const char* s = name.data();
  std::size_t n = name.size();
  uint64_t h = 0x9e3779b97f4a7c15ULL * (n + 1);
  for (; n >= 8; s += 8, n -= 8) {
    uint64_t w;
    std::memcpy(&w, s, 8);
    h = mix(h, w);
  }
  if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + n - 4, 4);
    h = mix(h, (uint64_t{a} << 32) | b);
  } else if (n > 0) {
    const auto byte = [s](std::size_t i) { return uint64_t{static_cast<unsigned char>(s[i])}; };
    h = mix(h, byte(0) << 16 | byte(n / 2) << 8 | byte(n - 1));
  }
  return mix(h, h >> 29);
}

struct Entry {
  Entry(std::string_view text, uint64_t h) : name(text), hash(h) {}
  const std::string name;
  const uint64_t hash;
  std::atomic<uint64_t> word{0};
};

struct Slots {
  explicit Slots(std::size_t size) : mask(size - 1), slot(new std::atomic<Entry*>[size]) {
    for (std::size_t i = 0; i < size; ++i) slot[i].store(nullptr, std::memory_order_relaxed);
  }
  const std::size_t mask;
  const std::unique_ptr<std::atomic<Entry*>[]> slot;
};

class NameTable {
 public:
  NameTable() { publish(std::make_unique<Slots>(kFirstSize)); }

  // Lock-free.
  const Entry* find(std::string_view name, uint64_t hash) const {
    const Slots* s = current_.load(std::memory_order_acquire);
    for (std::size_t i = hash & s->mask;; i = (i + 1) & s->mask) {
      const Entry* e = s->slot[i].load(std::memory_order_acquire);
      if (e == nullptr) return nullptr;
      if (e->hash == hash && std::string_view(e->name) == name) return e;
    }
  }

  // Under mutex().
  Entry* find_or_add(std::string_view name, uint64_t hash) {
    if (const Entry* e = find(name, hash)) return const_cast<Entry*>(e);
    if ((count_ + 1) * 2 > current().mask + 1) grow();
    entries_.push_back(std::make_unique<Entry>(name, hash));
    Entry* e = entries_.back().get();
    place(current(), e);
    ++count_;
    return e;
  }

  // Under mutex(): a new session number for a context; when the numbers run out every entry
  // is cleared and they start again.
  uint32_t next_session() {
    if (last_session_ == kMaxSession) {
      for (const auto& e : entries_) e->word.store(0, std::memory_order_relaxed);
      last_session_ = 0;
    }
    return ++last_session_;
  }

  std::mutex& mutex() { return mutex_; }

 private:
  static constexpr std::size_t kFirstSize = 256;

  Slots& current() { return *current_.load(std::memory_order_relaxed); }

  static void place(Slots& s, Entry* e) {
    std::size_t i = e->hash & s.mask;
    while (s.slot[i].load(std::memory_order_relaxed) != nullptr) i = (i + 1) & s.mask;
    s.slot[i].store(e, std::memory_order_release);
  }

  void grow() {
    auto bigger = std::make_unique<Slots>((current().mask + 1) * 2);
    for (const auto& e : entries_) place(*bigger, e.get());
    publish(std::move(bigger));
  }

  void publish(std::unique_ptr<Slots> s) {
    current_.store(s.get(), std::memory_order_release);
    arrays_.push_back(std::move(s));
  }

  std::mutex mutex_;
  std::atomic<Slots*> current_{nullptr};
  std::size_t count_ = 0;
  uint32_t last_session_ = 0;
  std::vector<std::unique_ptr<Entry>> entries_;  // every entry, for the life of the process
  std::vector<std::unique_ptr<Slots>> arrays_;   // every array published: readers may hold any
};

// Never destroyed: threads may still read it while the process exits.
NameTable& table() {
  static NameTable* const t = new NameTable();
  return *t;
}

}  // namespace

uint32_t name_cache_session(HUB_CONTEXT& ctx) {
  const uint32_t session = ctx.io_map_session.load(std::memory_order_acquire);
  if (session != 0) return session;
  NameTable& t = table();
  std::lock_guard<std::mutex> lock(t.mutex());
  if (ctx.io_map_session.load(std::memory_order_relaxed) == 0) {
    ctx.io_map_session.store(t.next_session(), std::memory_order_release);
  }
  return ctx.io_map_session.load(std::memory_order_relaxed);
}

bool name_cache_find(HUB_CONTEXT& ctx, const char* name, Vexlor::IO_MAP* found) {
  const uint32_t session = ctx.io_map_session.load(std::memory_order_acquire);
  if (session == 0 || name == nullptr) return false;
  const std::string_view text(name);
  const Entry* e = table().find(text, hash_name(text));
  if (e == nullptr) return false;
  const uint64_t word = e->word.load(std::memory_order_relaxed);
  if (session_of(word) != session) return false;
  *found = decode(word);
  return true;
}

void name_cache_store(uint32_t session, const char* name, Vexlor::IO_MAP map) {
  if (name == nullptr || map.type < Vexlor::IO_D || map.type > Vexlor::IO_L) return;
  NameTable& t = table();
  const std::string_view text(name);
  std::lock_guard<std::mutex> lock(t.mutex());
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr || ctx->io_map_session.load(std::memory_order_relaxed) != session) return;
  t.find_or_add(text, hash_name(text))->word.store(encode(session, map), std::memory_order_relaxed);
}

bool resolve_point(Vexlor::IO_TYPE type, const char* name, bool silent, int32_t* index) {
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr || ctx->db == nullptr || name == nullptr) return false;
  Vexlor::IO_MAP cached;
  if (name_cache_find(*ctx, name, &cached) && cached.type == type) {
    *index = cached.point;
    return true;
  }
  const uint32_t session = name_cache_session(*ctx);
  int point = Vexlor::VEXLOR_ERROR_POINT;
  if (!Vexlor::VIO_Find_Point(&point, type, silent, name)) return false;
  name_cache_store(session, name, Vexlor::IO_MAP{point, type});
  *index = point;
  return true;
}

}  // namespace vexlor::detail
