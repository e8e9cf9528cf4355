// WAFER_ORDER references in the 4-byte slots of the transfer module block.
//
// On the 32-bit target a pointer fills the slot exactly and is stored as it is. A 64-bit
// process cannot store a pointer in 4 bytes, so it stores a reference that fits:
//   0                      no order (null);
//   1 to 0x7FFFFFFF        an offset into the shared database image: a record that lives in
//                          shared memory, valid in every process that maps the image;
//   0x80000000 | n         entry n of this process's table of orders: a record of the
//                          process's own memory, which only this process can use (exactly
//                          as a pointer to private memory on the 32-bit target).
// The table keeps one entry per distinct record and never forgets one, so a reference stays
// valid for the life of the process. Unknown references read as null.
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "db/db_image.h"
#include "scheduler/block_access.h"

namespace vexlor::detail::sch {

#if UINTPTR_MAX == 0xFFFFFFFFu

uint32_t encode_order(Vexlor::WAFER_ORDER* order) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(order));
}

Vexlor::WAFER_ORDER* decode_order(uint32_t slot) {
  return reinterpret_cast<Vexlor::WAFER_ORDER*>(static_cast<uintptr_t>(slot));
}

#else

namespace {

constexpr uint32_t kLocal = 0x80000000u;

class LocalOrders {
 public:
  // The table entry of `order`, added on first use; 0 when the table is full.
  uint32_t reference(Vexlor::WAFER_ORDER* order) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = index_.find(order);
    if (it != index_.end()) return kLocal | it->second;
    if (orders_.size() >= kLocal - 1) return 0;
    const auto n = static_cast<uint32_t>(orders_.size());
    orders_.push_back(order);
    index_.emplace(order, n);
    return kLocal | n;
  }

  Vexlor::WAFER_ORDER* order(uint32_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    return n < orders_.size() ? orders_[n] : nullptr;
  }

 private:
  std::mutex mutex_;
  std::vector<Vexlor::WAFER_ORDER*> orders_;
  std::unordered_map<Vexlor::WAFER_ORDER*, uint32_t> index_;
};

LocalOrders& local_orders() {
  static LocalOrders* orders = new LocalOrders;  // outlives every static destructor
  return *orders;
}

// The attached image as [start, start + size); null when the library is not started.
const char* image(uint64_t* size) {
  Vexlor::MMAP_STRU* db = attached_db();
  if (db == nullptr || db->system_block == nullptr) return nullptr;
  *size = image_header(*db).total_size;
  return static_cast<const char*>(image_base(*db));
}

}  // namespace

uint32_t encode_order(Vexlor::WAFER_ORDER* order) {
  if (order == nullptr) return 0;
  uint64_t size = 0;
  const char* start = image(&size);
  const auto at = reinterpret_cast<uintptr_t>(order);
  const auto base = reinterpret_cast<uintptr_t>(start);
  if (start != nullptr && at > base && at - base < size && at - base < kLocal) {
    return static_cast<uint32_t>(at - base);
  }
  return local_orders().reference(order);
}

Vexlor::WAFER_ORDER* decode_order(uint32_t slot) {
  if (slot == 0) return nullptr;
  if ((slot & kLocal) != 0) return local_orders().order(slot & ~kLocal);
  uint64_t size = 0;
  const char* start = image(&size);
  if (start == nullptr || slot >= size) return nullptr;
  return reinterpret_cast<Vexlor::WAFER_ORDER*>(const_cast<char*>(start) + slot);
}

#endif

}  // namespace vexlor::detail::sch
