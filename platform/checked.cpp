#include "platform/checked.h"

#include <cfenv>
#include <cmath>

namespace pelvar {

void RaiseIntOverflow() { throw EIntOverflow("Integer overflow"); }

namespace {

[[noreturn]] void RaiseInvalidOp() { throw EInvalidOp("Invalid floating point operation"); }

int64_t ToInt64Checked(long double r) {
  // Both bounds are exactly representable in long double.
  if (std::isnan(r) || r < -9223372036854775808.0L || r >= 9223372036854775808.0L)
    RaiseInvalidOp();
  return static_cast<int64_t>(r);
}

#if defined(__x86_64__) || defined(__i386__)
uint32_t GetMxcsr() {
  uint32_t v;
  __asm__ __volatile__("stmxcsr %0" : "=m"(v));
  return v;
}
void SetMxcsr(uint32_t v) { __asm__ __volatile__("ldmxcsr %0" : : "m"(v)); }
#else
uint32_t GetMxcsr() { return 0; }
void SetMxcsr(uint32_t) {}
uint16_t g_emulated_cw = 0x037F;
#endif

}  // namespace

int64_t RoundHalfEven(long double v) {
  if (std::isnan(v) || std::isinf(v)) RaiseInvalidOp();
  long double r = std::floor(v);
  const long double diff = v - r;
  if (diff > 0.5L || (diff == 0.5L && std::fmod(r, 2.0L) != 0)) r += 1;
  return ToInt64Checked(r);
}

int64_t RoundHalfAway(long double v) {
  if (std::isnan(v) || std::isinf(v)) RaiseInvalidOp();
  return ToInt64Checked(std::round(v));
}

int64_t TruncToInt64(long double v) {
  if (std::isnan(v) || std::isinf(v)) RaiseInvalidOp();
  return ToInt64Checked(std::trunc(v));
}

uint16_t Get8087CW() {
#if defined(__x86_64__) || defined(__i386__)
  uint16_t cw;
  __asm__ __volatile__("fnstcw %0" : "=m"(cw));
  return cw;
#else
  return g_emulated_cw;
#endif
}

void Set8087CW(uint16_t cw) {
#if defined(__x86_64__) || defined(__i386__)
  cw |= 0x3F;  // every exception stays masked
  __asm__ __volatile__("fldcw %0" : : "m"(cw));
  // MXCSR: masks at bits 7..12, rounding at 13..14 (the x87's at 10..11).
  uint32_t mx = GetMxcsr();
  mx &= ~uint32_t(0x6000);
  mx |= uint32_t(0x1F80);
  mx |= uint32_t((cw >> 10) & 3) << 13;
  SetMxcsr(mx);
#else
  g_emulated_cw = uint16_t(cw | 0x3F);
#endif
}

TFpuControlWordGuard::TFpuControlWordGuard() : cw_(Get8087CW()), mxcsr_(GetMxcsr()) {}

TFpuControlWordGuard::~TFpuControlWordGuard() {
#if defined(__x86_64__) || defined(__i386__)
  // Exceptions raised (flagged) in between must not fire once the saved word is back.
  __asm__ __volatile__("fnclex");
  __asm__ __volatile__("fldcw %0" : : "m"(cw_));
  SetMxcsr(mxcsr_);
#else
  Set8087CW(cw_);
#endif
}

}  // namespace pelvar
