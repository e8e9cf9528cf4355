// Plain fields of shared records (value slots, statuses, flags) are read and written by
// several processes and threads at once. Every such access goes through these helpers: one
// relaxed atomic load or store of the field in place, so the record layout stays exactly as
// documented and a racing reader sees either the old or the new value, never a torn one.
// Read-modify-writes of shared fields still need a lock (or fetch_add below).
#pragma once

#include <cstdint>
#include <type_traits>

namespace vexlor::os {

template <typename T>
inline T load_relaxed(const T& field) noexcept {
  static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= 8, "scalar fields only");
#if defined(__GNUC__) || defined(__clang__)
  return __atomic_load_n(&field, __ATOMIC_RELAXED);
#else
  return *static_cast<const volatile T*>(&field);
#endif
}

template <typename T, typename V>
inline void store_relaxed(T& field, V value) noexcept {
  static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= 8, "scalar fields only");
#if defined(__GNUC__) || defined(__clang__)
  __atomic_store_n(&field, static_cast<T>(value), __ATOMIC_RELAXED);
#else
  *static_cast<volatile T*>(&field) = static_cast<T>(value);
#endif
}

// Doubles have no __atomic_load_n form: they travel as their 64-bit pattern.
inline double load_relaxed(const double& field) noexcept {
  static_assert(sizeof(double) == sizeof(uint64_t));
#if defined(__GNUC__) || defined(__clang__)
  double value;
  __atomic_load(&field, &value, __ATOMIC_RELAXED);
  return value;
#else
  return *static_cast<const volatile double*>(&field);
#endif
}

inline void store_relaxed(double& field, double value) noexcept {
#if defined(__GNUC__) || defined(__clang__)
  __atomic_store(&field, &value, __ATOMIC_RELAXED);
#else
  *static_cast<volatile double*>(&field) = value;
#endif
}

// The publishing pair: a reader that sees a value stored with store_release also sees every
// store the writer made before it.
template <typename T>
inline T load_acquire(const T& field) noexcept {
  static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= 8, "scalar fields only");
#if defined(__GNUC__) || defined(__clang__)
  return __atomic_load_n(&field, __ATOMIC_ACQUIRE);
#else
  return *static_cast<const volatile T*>(&field);
#endif
}

template <typename T, typename V>
inline void store_release(T& field, V value) noexcept {
  static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= 8, "scalar fields only");
#if defined(__GNUC__) || defined(__clang__)
  __atomic_store_n(&field, static_cast<T>(value), __ATOMIC_RELEASE);
#else
  *static_cast<volatile T*>(&field) = static_cast<T>(value);
#endif
}

// Atomic add on a shared counter; returns the value before the add.
template <typename T, typename V>
inline T fetch_add_relaxed(T& field, V delta) noexcept {
#if defined(__GNUC__) || defined(__clang__)
  return __atomic_fetch_add(&field, static_cast<T>(delta), __ATOMIC_RELAXED);
#else
  const T old = field;
  field = static_cast<T>(old + delta);
  return old;
#endif
}

// Sets the field to `desired` when it holds `expected`; true when it did.
template <typename T, typename V>
inline bool compare_exchange_relaxed(T& field, V expected, V desired) noexcept {
#if defined(__GNUC__) || defined(__clang__)
  T old = static_cast<T>(expected);
  return __atomic_compare_exchange_n(&field, &old, static_cast<T>(desired), false, __ATOMIC_RELAXED,
                                     __ATOMIC_RELAXED);
#else
  if (field != static_cast<T>(expected)) return false;
  field = static_cast<T>(desired);
  return true;
#endif
}

}  // namespace vexlor::os
