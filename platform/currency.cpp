#include "platform/currency.h"

#include <cmath>
#include <limits>

#include "platform/exceptions.h"

namespace pelvar {

namespace {

[[noreturn]] void RaiseOverflow() { throw EOverflow("Floating point overflow"); }

int64_t FromWhole(__int128 v) {
  __int128 raw = v * Currency::kScale;
  if (raw > std::numeric_limits<int64_t>::max() || raw < std::numeric_limits<int64_t>::min())
    RaiseOverflow();
  return int64_t(raw);
}

int64_t FromFloat(long double v) {
  if (std::isnan(v)) throw EInvalidOp("Invalid floating point operation");
  long double scaled = std::nearbyint(v * Currency::kScale);  // default mode: half to even
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  if (!(scaled < 9223372036854775808.0L) || scaled < -9223372036854775808.0L) RaiseOverflow();
  return int64_t(scaled);
}

// Half-to-even division of a 128-bit numerator by a positive or negative divisor.
int64_t DivRound(__int128 num, __int128 den) {
  if (den == 0) throw EZeroDivide("Floating point division by zero");
  if (den < 0) {
    num = -num;
    den = -den;
  }
  __int128 q = num / den;
  __int128 r = num % den;
  __int128 twice = (r < 0 ? -r : r) * 2;
  if (twice > den || (twice == den && (q % 2) != 0)) q += (num < 0 ? -1 : 1);
  if (q > std::numeric_limits<int64_t>::max() || q < std::numeric_limits<int64_t>::min())
    RaiseOverflow();
  return int64_t(q);
}

}  // namespace

Currency::Currency(long v) : raw_(FromWhole(v)) {}
Currency::Currency(long long v) : raw_(FromWhole(v)) {}
Currency::Currency(unsigned long v) : raw_(FromWhole(v)) {}
Currency::Currency(unsigned long long v) : raw_(FromWhole(v)) {}
Currency::Currency(double v) : raw_(FromFloat(v)) {}
Currency::Currency(long double v) : raw_(FromFloat(v)) {}

int64_t Currency::Round() const { return DivRound(raw_, kScale); }

Currency Currency::operator-() const {
  if (raw_ == std::numeric_limits<int64_t>::min()) RaiseOverflow();
  return FromRaw(-raw_);
}

Currency& Currency::operator+=(Currency o) {
  int64_t r;
  if (__builtin_add_overflow(raw_, o.raw_, &r)) RaiseOverflow();
  raw_ = r;
  return *this;
}

Currency& Currency::operator-=(Currency o) {
  int64_t r;
  if (__builtin_sub_overflow(raw_, o.raw_, &r)) RaiseOverflow();
  raw_ = r;
  return *this;
}

Currency& Currency::operator*=(Currency o) {
  raw_ = DivRound(__int128(raw_) * o.raw_, kScale);
  return *this;
}

Currency& Currency::operator/=(Currency o) {
  raw_ = DivRound(__int128(raw_) * kScale, o.raw_);
  return *this;
}

}  // namespace pelvar
