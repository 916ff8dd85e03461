// Integer arithmetic that raises EIntOverflow instead of wrapping, the framework's rounding
// rules, and the floating-point control word.
#pragma once

#include <cstdint>
#include <type_traits>

#include "platform/exceptions.h"

namespace pelvar {

[[noreturn]] void RaiseIntOverflow();

// The result type is the common type of the operands (int32_t with int32_t, int64_t when either
// is 64-bit, unsigned when both are unsigned of that width).
template <class A, class B>
  requires std::is_integral_v<A> && std::is_integral_v<B>
std::common_type_t<A, B> CheckedAdd(A a, B b) {
  std::common_type_t<A, B> r;
  if (__builtin_add_overflow(a, b, &r)) RaiseIntOverflow();
  return r;
}

template <class A, class B>
  requires std::is_integral_v<A> && std::is_integral_v<B>
std::common_type_t<A, B> CheckedSub(A a, B b) {
  std::common_type_t<A, B> r;
  if (__builtin_sub_overflow(a, b, &r)) RaiseIntOverflow();
  return r;
}

template <class A, class B>
  requires std::is_integral_v<A> && std::is_integral_v<B>
std::common_type_t<A, B> CheckedMul(A a, B b) {
  std::common_type_t<A, B> r;
  if (__builtin_mul_overflow(a, b, &r)) RaiseIntOverflow();
  return r;
}

// x += delta in x's own type; x is left unchanged when that overflows.
template <class T, class D = T>
  requires std::is_integral_v<T> && std::is_integral_v<D>
T& CheckedInc(T& x, D delta = 1) {
  T r;
  if (__builtin_add_overflow(x, delta, &r)) RaiseIntOverflow();
  x = r;
  return x;
}

template <class T, class D = T>
  requires std::is_integral_v<T> && std::is_integral_v<D>
T& CheckedDec(T& x, D delta = 1) {
  T r;
  if (__builtin_sub_overflow(x, delta, &r)) RaiseIntOverflow();
  x = r;
  return x;
}

// A value converted to a narrower integer type, raising EIntOverflow when it does not fit.
template <class To, class From>
  requires std::is_integral_v<To> && std::is_integral_v<From>
To CheckedCast(From v) {
  To r;
  if (__builtin_add_overflow(v, 0, &r)) RaiseIntOverflow();
  return r;
}

// Rounding of a floating-point value to an integer: half to even (the framework's Round) and
// half away from zero. NaN, infinity and values outside int64_t raise EInvalidOp.
int64_t RoundHalfEven(long double v);
int64_t RoundHalfAway(long double v);
// Towards zero (the framework's Trunc), with the same range check.
int64_t TruncToInt64(long double v);

// The x87 floating-point control word (exception masks, precision and rounding control).
// Set8087CW sets precision and rounding, and carries the rounding mode over to the SSE unit
// (MXCSR), which does the double arithmetic on x86-64. The six exception masks always stay
// set: on Linux an unmasked floating-point exception is a SIGFPE that kills the process, not
// an exception the program could handle, so bits 0..5 of the word are ignored.
uint16_t Get8087CW();
void Set8087CW(uint16_t cw);
// The framework's start-up word (64-bit precision, round to nearest) with, on this platform,
// every exception masked.
constexpr uint16_t kDefault8087CW = 0x137F;  // bit 6 is reserved and reads as 1

// Saves the x87 control word and MXCSR on construction and restores both on destruction.
class TFpuControlWordGuard {
 public:
  TFpuControlWordGuard();
  ~TFpuControlWordGuard();
  TFpuControlWordGuard(const TFpuControlWordGuard&) = delete;
  TFpuControlWordGuard& operator=(const TFpuControlWordGuard&) = delete;
  uint16_t Saved() const { return cw_; }

 private:
  uint16_t cw_;
  uint32_t mxcsr_;
};

}  // namespace pelvar
