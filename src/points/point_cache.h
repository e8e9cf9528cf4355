// Lazy point caches of the fixed-name accessors: a slot, a row or a grid of 32-bit points,
// each -99999999 at load time, resolved once by name on first use, -1 for good after a failed
// lookup. Resolved access is one atomic load and one comparison.
//
//   static PointSlot cache;                  // constant-initialised, no start-up code
//   int32_t p = cache.get(IO_D, "CTC.EnvSts");
//   if (p < 0) return VEXLOR_UNUSED_POINT;   // missing (-1) or not attached yet
//
//   static PointRow<100> row;
//   int32_t p = row.get(i, IO_D, "CTC.PM%d_ABORT_FLAG", i + 1);
//
// A lookup before start-up writes nothing, so the slot stays unresolved and the next call
// tries again. Two threads may resolve one slot at once; both store the same point.
// Arguments are evaluated on every call; use get_with() where building them costs more than
// a few instructions (it runs the callable only while the slot is unresolved).
#pragma once

#include <vexlor/points.h>
#include <vexlor/types.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace vexlor::detail {

class PointSlot {
 public:
  constexpr PointSlot() noexcept : point_(Vexlor::VEXLOR_UNUSED_POINT) {}
  PointSlot(const PointSlot&) = delete;
  PointSlot& operator=(const PointSlot&) = delete;

  // The point (0 or more), or a negative value: -1 after a failed lookup, -99999999 while the
  // library is not attached. A name without arguments is taken literally, not as a format.
  template <typename... Args>
  int32_t get(Vexlor::IO_TYPE type, const char* format, Args... args) {
    const int32_t p = point_.load(std::memory_order_acquire);
    if (p != Vexlor::VEXLOR_UNUSED_POINT) return p;
    return resolve([&](int* out) {
      if constexpr (sizeof...(Args) == 0) {
        Vexlor::VIO_Find_PointF(out, type, "%s", format);
      } else {
        Vexlor::VIO_Find_PointF(out, type, format, args...);
      }
    });
  }

  // As get(), with the lookup left to `lookup(int* point)`, which stores the point it found
  // (or -1) and writes nothing when it could not search.
  template <typename Lookup>
  int32_t get_with(Lookup&& lookup) {
    const int32_t p = point_.load(std::memory_order_acquire);
    if (p != Vexlor::VEXLOR_UNUSED_POINT) return p;
    return resolve(std::forward<Lookup>(lookup));
  }

  // The current value, without resolving.
  int32_t peek() const noexcept { return point_.load(std::memory_order_acquire); }

  // Looks the name up again whatever the slot holds and keeps what the lookup stored (the
  // point, or -1), so a name configured since a failed lookup resolves from now on. Nothing
  // changes while the library is not attached. Only for the few accessors that must retry.
  int32_t find_again(Vexlor::IO_TYPE type, const char* name) {
    int found = Vexlor::VEXLOR_UNUSED_POINT;
    Vexlor::VIO_Find_PointF(&found, type, "%s", name);
    if (found == Vexlor::VEXLOR_UNUSED_POINT) return peek();
    point_.store(found, std::memory_order_release);
    return found;
  }

 private:
  template <typename Lookup>
  int32_t resolve(Lookup&& lookup) {
    int found = Vexlor::VEXLOR_UNUSED_POINT;
    lookup(&found);
    if (found == Vexlor::VEXLOR_UNUSED_POINT) return found;
    int32_t expected = Vexlor::VEXLOR_UNUSED_POINT;
    // The first resolution wins; a racing thread found the same point anyway.
    if (!point_.compare_exchange_strong(expected, found, std::memory_order_acq_rel)) {
      return expected;
    }
    return found;
  }

  std::atomic<int32_t> point_;
};

// A row of N slots indexed by i; an index outside the row fails (-1) without a lookup.
template <std::size_t N>
class PointRow {
 public:
  constexpr PointRow() noexcept = default;

  template <typename... Args>
  int32_t get(int i, Vexlor::IO_TYPE type, const char* format, Args... args) {
    if (i < 0 || static_cast<std::size_t>(i) >= N) return Vexlor::VEXLOR_ERROR_POINT;
    return slots_[static_cast<std::size_t>(i)].get(type, format, args...);
  }

  template <typename Lookup>
  int32_t get_with(int i, Lookup&& lookup) {
    if (i < 0 || static_cast<std::size_t>(i) >= N) return Vexlor::VEXLOR_ERROR_POINT;
    return slots_[static_cast<std::size_t>(i)].get_with(std::forward<Lookup>(lookup));
  }

  int32_t peek(int i) const noexcept {
    if (i < 0 || static_cast<std::size_t>(i) >= N) return Vexlor::VEXLOR_ERROR_POINT;
    return slots_[static_cast<std::size_t>(i)].peek();
  }

  static constexpr std::size_t size() { return N; }

 private:
  std::array<PointSlot, N> slots_{};
};

// A grid of N x M slots indexed by (i, j).
template <std::size_t N, std::size_t M>
class PointGrid {
 public:
  constexpr PointGrid() noexcept = default;

  template <typename... Args>
  int32_t get(int i, int j, Vexlor::IO_TYPE type, const char* format, Args... args) {
    if (i < 0 || static_cast<std::size_t>(i) >= N) return Vexlor::VEXLOR_ERROR_POINT;
    return rows_[static_cast<std::size_t>(i)].get(j, type, format, args...);
  }

  template <typename Lookup>
  int32_t get_with(int i, int j, Lookup&& lookup) {
    if (i < 0 || static_cast<std::size_t>(i) >= N) return Vexlor::VEXLOR_ERROR_POINT;
    return rows_[static_cast<std::size_t>(i)].get_with(j, std::forward<Lookup>(lookup));
  }

  int32_t peek(int i, int j) const noexcept {
    if (i < 0 || static_cast<std::size_t>(i) >= N) return Vexlor::VEXLOR_ERROR_POINT;
    return rows_[static_cast<std::size_t>(i)].peek(j);
  }

 private:
  std::array<PointRow<M>, N> rows_{};
};

}  // namespace vexlor::detail
