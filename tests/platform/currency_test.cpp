// Currency, checked integer arithmetic, rounding and the floating-point control word.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/checked.h"
#include "platform/currency.h"

namespace pelvar {
namespace {

constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();
constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();

TEST(Currency, ExactArithmeticAndRounding) {
  const Currency a = 0.1, b = 0.2;
  EXPECT_EQ((a + b).Raw(), 3000);  // no binary fraction error
  EXPECT_EQ(Currency(5).Raw(), 50000);
  EXPECT_EQ(Currency(int64_t(-3)).Raw(), -30000);
  EXPECT_EQ((Currency(10) / 3).Raw(), 33333);
  EXPECT_EQ((Currency(2) / 3).Raw(), 6667);
  EXPECT_EQ((Currency::FromRaw(15) * Currency(0.5)).Raw(), 8);   // 7.5 -> 8 (even)
  EXPECT_EQ((Currency::FromRaw(25) * Currency(0.5)).Raw(), 12);  // 12.5 -> 12 (even)
  EXPECT_EQ((Currency::FromRaw(-25) * Currency(0.5)).Raw(), -12);
  EXPECT_EQ(Currency(1.23456).Raw(), 12346);
  EXPECT_EQ(Currency(-1.23456).Raw(), -12346);
  EXPECT_DOUBLE_EQ(Currency::FromRaw(12345).ToDouble(), 1.2345);
  EXPECT_EQ(Currency::FromRaw(25000).Round(), 2);
  EXPECT_EQ(Currency::FromRaw(35000).Round(), 4);
  EXPECT_EQ(Currency::FromRaw(-25001).Round(), -3);
  EXPECT_EQ(Currency::FromRaw(-29999).Trunc(), -2);

  Currency c = 1;
  c += 2;
  c -= Currency(0.5);
  c *= 2;
  EXPECT_EQ(c, Currency(5));
  EXPECT_LT(Currency(-1), Currency(0));
  EXPECT_TRUE(Currency(1.5) > 1);
  EXPECT_EQ(-Currency(2), Currency(-2));
}

TEST(Currency, OverflowAndInvalidValuesRaise) {
  const Currency max = Currency::FromRaw(kMax64);
  const Currency min = Currency::FromRaw(kMin64);
  EXPECT_THROW(max + Currency::FromRaw(1), EOverflow);
  EXPECT_THROW(min - Currency::FromRaw(1), EOverflow);
  EXPECT_THROW(-min, EOverflow);
  EXPECT_THROW(max * 2, EOverflow);
  EXPECT_THROW(Currency(1) / Currency(), EZeroDivide);
  EXPECT_THROW(Currency(1e15), EOverflow);
  EXPECT_THROW(Currency(int64_t(1000000000000000LL)), EOverflow);
  EXPECT_THROW(Currency(std::nan("")), EInvalidOp);
  EXPECT_THROW(Currency(std::numeric_limits<double>::infinity()), EOverflow);
  // A failed operation leaves the operand as it was.
  Currency c = max;
  EXPECT_THROW(c += Currency(1), EOverflow);
  EXPECT_EQ(c, max);
  EXPECT_EQ((max - Currency::FromRaw(1) + Currency::FromRaw(1)).Raw(), kMax64);
}

TEST(Checked, OverflowRaisesEIntOverflow) {
  EXPECT_EQ(CheckedAdd(kMax32 - 1, 1), kMax32);
  EXPECT_THROW(CheckedAdd(kMax32, 1), EIntOverflow);
  EXPECT_THROW(CheckedSub(kMin32, 1), EIntOverflow);
  EXPECT_THROW(CheckedMul(65536, 32768), EIntOverflow);
  EXPECT_EQ(CheckedMul(65536, 32767), 2147418112);
  // A 64-bit operand makes the operation 64-bit.
  EXPECT_EQ(CheckedAdd(int64_t(kMax32), 1), int64_t(kMax32) + 1);
  EXPECT_THROW(CheckedAdd(kMax64, 1), EIntOverflow);
  EXPECT_THROW(CheckedSub(kMin64, int64_t(1)), EIntOverflow);
  EXPECT_THROW(CheckedMul(kMin64, int64_t(-1)), EIntOverflow);
  EXPECT_THROW(CheckedSub(0u, 1u), EIntOverflow);

  int32_t counter = kMax32 - 1;
  CheckedInc(counter);
  EXPECT_EQ(counter, kMax32);
  EXPECT_THROW(CheckedInc(counter), EIntOverflow);
  EXPECT_EQ(counter, kMax32);  // unchanged
  int64_t big = kMin64 + 5;
  EXPECT_THROW(CheckedDec(big, 6), EIntOverflow);
  EXPECT_EQ(big, kMin64 + 5);
  EXPECT_EQ(CheckedCast<int16_t>(32767), 32767);
  EXPECT_THROW(CheckedCast<int16_t>(32768), EIntOverflow);
  EXPECT_THROW(CheckedCast<uint32_t>(-1), EIntOverflow);
  // EIntOverflow is an integer error and an Exception.
  try {
    CheckedAdd(kMax32, kMax32);
    FAIL();
  } catch (const EIntError& e) {
    EXPECT_EQ(e.Message(), "Integer overflow");
  }
}

TEST(Checked, Rounding) {
  struct Case {
    long double v;
    int64_t even, away, trunc;
  };
  const Case cases[] = {
      {0.5L, 0, 1, 0},     {1.5L, 2, 2, 1},     {2.5L, 2, 3, 2},    {-0.5L, 0, -1, 0},
      {-1.5L, -2, -2, -1}, {-2.5L, -2, -3, -2}, {2.4999L, 2, 2, 2}, {-2.6L, -3, -3, -2},
      {1e15L + 0.5L, 1000000000000000LL, 1000000000000001LL, 1000000000000000LL},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RoundHalfEven(c.v), c.even) << double(c.v);
    EXPECT_EQ(RoundHalfAway(c.v), c.away) << double(c.v);
    EXPECT_EQ(TruncToInt64(c.v), c.trunc) << double(c.v);
  }
  EXPECT_THROW(RoundHalfEven(1e19L), EInvalidOp);
  EXPECT_THROW(RoundHalfAway(std::nan("")), EInvalidOp);
  EXPECT_THROW(TruncToInt64(-std::numeric_limits<double>::infinity()), EInvalidOp);
  EXPECT_EQ(RoundHalfEven(-9223372036854775808.0L), kMin64);
}

TEST(FpuControlWord, GuardRestoresRoundingModeAndMasks) {
  const uint16_t original = Get8087CW();
  volatile double two_point_seven = 2.7, minus_two_point_seven = -2.7;
  {
    TFpuControlWordGuard guard;
    EXPECT_EQ(guard.Saved(), original);
    // Rounding control 01: towards minus infinity, in the x87 unit and the SSE unit.
    Set8087CW(uint16_t((original & ~0x0C00) | 0x0400));
    EXPECT_EQ(Get8087CW() & 0x0C00, 0x0400);
    EXPECT_EQ(std::fegetround(), FE_DOWNWARD);
    EXPECT_EQ(std::nearbyint(two_point_seven), 2.0);
    EXPECT_EQ(std::nearbyint(minus_two_point_seven), -3.0);
    {
      TFpuControlWordGuard inner;
      Set8087CW(uint16_t((original & ~0x0C00) | 0x0C00));  // towards zero
      EXPECT_EQ(std::nearbyint(minus_two_point_seven), -2.0);
    }
    EXPECT_EQ(std::nearbyint(minus_two_point_seven), -3.0);
  }
  EXPECT_EQ(Get8087CW(), original);
  EXPECT_EQ(std::fegetround(), FE_TONEAREST);
  EXPECT_EQ(std::nearbyint(two_point_seven), 3.0);
  // All exceptions masked by default on Linux; a division by zero stays quiet.
  EXPECT_EQ(original & 0x3F, 0x3F);
  volatile double zero = 0.0;
  EXPECT_TRUE(std::isinf(1.0 / zero));
}

TEST(FpuControlWord, ExceptionsStayMasked) {
  TFpuControlWordGuard guard;
  // The framework's word with invalid operation, zero division and overflow unmasked would be
  // a SIGFPE on Linux: the masks stay set, precision and rounding are taken.
  Set8087CW(0x1332);
  EXPECT_EQ(Get8087CW(), 0x137F);  // bit 6 is reserved, read as 1
  EXPECT_EQ(Get8087CW(), kDefault8087CW);
  volatile double zero = 0.0;
  EXPECT_TRUE(std::isnan(zero / zero));
  EXPECT_TRUE(std::isinf(1.0 / zero));
  volatile long double lzero = 0.0L;
  EXPECT_TRUE(std::isinf(1.0L / lzero));  // the x87 unit too
}

}  // namespace
}  // namespace pelvar
