// The framework's Currency: a fixed-point number of four decimals, held as a 64-bit
// integer scaled by 10,000. Arithmetic is exact; results that leave the 64-bit range
// raise EOverflow, a division by zero raises EZeroDivide, and conversions from double
// round half to even (as the floating-point unit does by default).
#pragma once

#include <compare>
#include <cstdint>

#include "platform/types.h"

namespace pelvar {

class Currency {
 public:
  static constexpr int64_t kScale = 10000;

  constexpr Currency() = default;
  // Whole units: Currency(5) is 5.0000.
  Currency(int v) : raw_(int64_t(v) * kScale) {}
  Currency(unsigned v) : raw_(int64_t(v) * kScale) {}
  Currency(long v);
  Currency(long long v);
  Currency(unsigned long v);
  Currency(unsigned long long v);
  // Rounded half to even to four decimals; NaN raises EInvalidOp, out of range EOverflow.
  Currency(double v);
  Currency(long double v);

  static constexpr Currency FromRaw(int64_t raw) {
    Currency c;
    c.raw_ = raw;
    return c;
  }
  constexpr int64_t Raw() const { return raw_; }

  double ToDouble() const { return double(raw_) / kScale; }
  long double ToLongDouble() const { return static_cast<long double>(raw_) / kScale; }
  explicit operator double() const { return ToDouble(); }
  explicit operator long double() const { return ToLongDouble(); }
  // Whole part towards zero, and rounded half to even (the framework's Trunc and Round).
  int64_t Trunc() const { return raw_ / kScale; }
  int64_t Round() const;

  Currency operator-() const;
  Currency operator+() const { return *this; }
  Currency& operator+=(Currency o);
  Currency& operator-=(Currency o);
  Currency& operator*=(Currency o);
  Currency& operator/=(Currency o);

  friend Currency operator+(Currency a, Currency b) { return a += b; }
  friend Currency operator-(Currency a, Currency b) { return a -= b; }
  // Products and quotients are rounded half to even to four decimals.
  friend Currency operator*(Currency a, Currency b) { return a *= b; }
  friend Currency operator/(Currency a, Currency b) { return a /= b; }

  friend constexpr bool operator==(Currency a, Currency b) { return a.raw_ == b.raw_; }
  friend constexpr std::strong_ordering operator<=>(Currency a, Currency b) {
    return a.raw_ <=> b.raw_;
  }

 private:
  int64_t raw_ = 0;
};

}  // namespace pelvar
