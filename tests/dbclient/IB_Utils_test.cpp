// Value conversions between the client library's formats and the program's.
#include "dbclient/IB_Utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "dbclient/uRounding.h"
#include "platform/codepage.h"
#include "platform/dateutils.h"

namespace pelvar {
namespace {

// Runs f and returns the text of the plain Exception it raises ("" when none).
std::string Raised(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return {};
}

TEST(Timestamps, ConvertBothWays) {
  EXPECT_EQ(ISCTimestampToDateTime({15018, 0}), 0.0);
  EXPECT_EQ(ISCTimestampToDateTime({15018, 36000000}), 1.0 / 24);
  // Midday of 2024-02-29 with 123 ms.
  const ISC_TIMESTAMP ts{15018 + 45351, 12 * 36000000u + 1230};
  EXPECT_DOUBLE_EQ(ISCTimestampToDateTime(ts),
                   EncodeDate(2024, 2, 29) + EncodeTime(12, 0, 0, 123));
  // A time of 24 hours or more counts as no time.
  EXPECT_EQ(ISCTimestampToDateTime({15020, 864000000u}), 2.0);

  struct Case {
    TDateTime dt;
    ISC_DATE date;
    ISC_TIME time;
  };
  const Case cases[] = {
      {0.0, 15018, 0},
      {EncodeDate(2024, 2, 29) + EncodeTime(23, 59, 59, 999), 15018 + 45351,
       23 * 36000000u + 59 * 600000u + 59 * 10000u + 9990},
      {EncodeDate(1858, 11, 17), 0, 0},
      // Before 1899-12-30 the time counts away from the day: -1.25 is 1899-12-29 06:00.
      {-1.25, 15017, 6 * 36000000u},
  };
  for (const Case& c : cases) {
    ISC_TIMESTAMP out{};
    DateTimeToISCTimestamp(out, c.dt);
    EXPECT_EQ(out.timestamp_date, c.date) << c.dt;
    EXPECT_EQ(out.timestamp_time, c.time) << c.dt;
    EXPECT_NEAR(ISCTimestampToDateTime(out), c.dt, 1e-9) << c.dt;
  }
  ISC_TIMESTAMP out{};
  EXPECT_THROW(DateTimeToISCTimestamp(out, 3e9), Exception);
}

TEST(Timestamps, FixedTextBothWays) {
  const TDateTime dt = EncodeDate(2008, 3, 7) + EncodeTime(9, 5, 4, 321);
  EXPECT_EQ(DateTimeToTimestampStr(dt), "2008/03/07 09:05:04.3210");
  EXPECT_EQ(DateTimeToTimestampStr(0), "1899/12/30 00:00:00.0000");
  EXPECT_EQ(DateTimeToTimestampStr(-1.25), "1899/12/29 06:00:00.0000");

  EXPECT_EQ(TimestampStrToDateTime("12/30/1899 00:00"), 0.0);
  EXPECT_NEAR(TimestampStrToDateTime("2008/03/07 09:05:04.3210"), dt, 1e-10);
  EXPECT_NEAR(TimestampStrToDateTime("2008/03/07 09:05:04.3"),
              EncodeDate(2008, 3, 7) + EncodeTime(9, 5, 4, 300), 1e-10);
  EXPECT_NEAR(TimestampStrToDateTime("2008/03/07 09:05:04"),
              EncodeDate(2008, 3, 7) + EncodeTime(9, 5, 4, 0), 1e-10);
  EXPECT_NEAR(TimestampStrToDateTime("1899/12/29 06:00:00.0000"), -1.25, 1e-10);
  // Text of another shape goes to the framework's reading (Czech settings).
  EXPECT_NEAR(TimestampStrToDateTime("7.3.2008 9:05:04"),
              EncodeDate(2008, 3, 7) + EncodeTime(9, 5, 4, 0), 1e-10);
  EXPECT_THROW(TimestampStrToDateTime("2008/13/45 xx"), EConvertError);
}

TEST(HexText, RoundTripAndBadText) {
  const uint8_t bytes[] = {0x00, 0x01, 0x7F, 0x80, 0xAB, 0xFF};
  EXPECT_EQ(BinaryToHexText(bytes, 6), "00017F80ABFF");
  EXPECT_EQ(BinaryToHexText(nullptr, 6), "");
  uint8_t back[6] = {};
  HexTextToBinary("00017F80ABFF", back, 6);
  EXPECT_EQ(std::memcmp(back, bytes, 6), 0);
  EXPECT_EQ(Raised([&] { HexTextToBinary("00017F80ABF", back, 6); }),
            "Invalid text in HexTextToBinary");
  EXPECT_EQ(Raised([&] { HexTextToBinary("00017F80ABFG", back, 6); }),
            "Invalid text in HexTextToBinary");
}

TEST(ScaledNumbers, ToCurrency) {
  EXPECT_EQ(ScaledInt64ToCurrency(123456, -2).Raw(), 12345600);      // 1234.56
  EXPECT_EQ(ScaledInt64ToCurrency(5, -6).Raw(), 0);                  // cut, not rounded
  EXPECT_EQ(ScaledInt64ToCurrency(-123456789, -8).Raw(), -12345);    // towards zero
  EXPECT_EQ(ScaledInt64ToCurrency(922337203685477, 0).Raw(), 9223372036854770000);
  EXPECT_EQ(Raised([] { ScaledInt64ToCurrency(922337203685478, 0); }), CZ("Přetečení Int64"));
  EXPECT_EQ(ScaledInt64ToCurrency(7, -40).Raw(), 0);
  EXPECT_EQ(ScaledIntToCurrency(123456, -2).Raw(), 12345600);
  EXPECT_EQ(ScaledIntToCurrency(12345, -6).Raw(), 123);  // 0.012345 → 0.0123
  EXPECT_EQ(ScaledIntToCurrency(-5, 3).Raw(), -50000000);
}

TEST(ScaledNumbers, FromFloat) {
  struct Case {
    int16_t scale;
    long double value;
    int64_t expected;
  };
  const Case cases[] = {
      {2, 0.125L, 12}, {2, 0.375L, 38}, {2, -0.125L, -12}, {0, 2.5L, 2}, {0, 3.5L, 4},
      {-2, 1250.0L, 12}, {4, 1.23456L, 12346},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FloatToScaledInteger(c.scale, c.value), c.expected) << c.value;
    EXPECT_EQ(FloatToScaledInt64(c.scale, c.value), c.expected) << c.value;
    EXPECT_EQ(FloatToScaledSmallint(c.scale, c.value), c.expected) << c.value;
  }
  EXPECT_EQ(ScaleFloat(3, 1.5L), 1500.0L);
  EXPECT_EQ(ScaleFloat(-3, 1500.0L), 1.5L);
  EXPECT_EQ(FloatToScaledInteger(0, 2147483647.0L), 2147483647);
  EXPECT_EQ(FloatToScaledInteger(0, -2147483648.0L), -2147483648LL);
  EXPECT_EQ(Raised([] { FloatToScaledInteger(0, 2147483647.5L); }), CZ("Přetečení Integer"));
  EXPECT_EQ(Raised([] { FloatToScaledInteger(2, 21474837.0L); }), CZ("Přetečení Integer"));
  EXPECT_EQ(Raised([] { FloatToScaledSmallint(0, 32767.01L); }), CZ("Přetečení Smallint"));
  EXPECT_EQ(Raised([] { FloatToScaledSmallint(0, -32768.5L); }), CZ("Přetečení Smallint"));
  EXPECT_EQ(FloatToScaledInt64(2, 92233720368547758.0L), 9223372036854775800LL);
  EXPECT_EQ(Raised([] { FloatToScaledInt64(4, 1e18L); }), CZ("Přetečení Int64"));
}

TEST(ScaledNumbers, FromCurrency) {
  auto c = [](int64_t raw) { return Currency::FromRaw(raw); };
  // Halves to even on the value's own sign.
  struct Case {
    int16_t scale;
    int64_t raw;
    int64_t expected;
  };
  const Case int64_cases[] = {
      {2, 1250, 12},  {2, 1350, 14},    {2, -1250, -12}, {2, -1350, -14}, {2, -70, -1},
      {0, 25000, 2},  {0, 35000, 4},    {4, 12345, 12345}, {6, 12345, 1234500},
      {-20, 5, 0},
  };
  for (const Case& k : int64_cases) {
    EXPECT_EQ(CurrencyToScaledInt64(k.scale, c(k.raw)), k.expected) << k.scale << " " << k.raw;
  }
  EXPECT_EQ(Raised([&] { CurrencyToScaledInt64(9, c(1000000000000000)); }), CZ("Přetečení Int64"));

  EXPECT_EQ(CurrencyToScaledInteger(2, c(1250)), 12);
  EXPECT_EQ(CurrencyToScaledInteger(2, c(1350)), 14);
  EXPECT_EQ(CurrencyToScaledInteger(0, c(21474836470000)), 2147483647);
  EXPECT_EQ(Raised([&] { CurrencyToScaledInteger(0, c(21474836470001)); }),
            CZ("Přetečení Integer"));
  EXPECT_EQ(CurrencyToScaledInteger(0, c(-21474836480000)), -2147483648LL);
  EXPECT_EQ(CurrencyToScaledSmallint(0, c(327670000)), 32767);
  EXPECT_EQ(Raised([&] { CurrencyToScaledSmallint(0, c(327670001)); }),
            CZ("Přetečení Smallint"));
  EXPECT_EQ(CurrencyToScaledSmallint(-2, c(12345000000)), 12345);
  EXPECT_EQ(Raised([&] { CurrencyToScaledInteger(12, c(9000000000000000000)); }),
            CZ("Přetečení Integer"));
}

TEST(ScaledNumbers, FromAndToText) {
  TFormatSettings point = CzechFormatSettings();
  point.DecimalSeparator = '.';
  struct Case {
    const char* text;
    int16_t scale;
    int64_t expected;
  };
  const Case cases[] = {
      {"12.349", 2, 1234}, {"-5", 2, -500}, {" 7.1 ", 3, 7100}, {"-0.019", 2, -1},
      {"42", 0, 42}, {"1.99", 0, 1},
      // Surplus decimals are cut however many there are.
      {"3.14159265358979323846264338327950288", 4, 31415},
      {"-.5", 0, 0}, {"1234", -2, 12},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(StrToScaledInt64(k.text, k.scale, point), k.expected) << k.text;
  }
  EXPECT_EQ(StrToScaledInt64("12,5", 2), 1250);  // the process's Czech separator
  EXPECT_EQ(Raised([&] { StrToScaledInt64("5-", 2, point); }), "Invalid numeric format: 5-");
  EXPECT_THROW(StrToScaledInt64("12.3x4", 2, point), EConvertError);
  EXPECT_THROW(StrToScaledInt64("12.34x", 2, point), EConvertError);
  EXPECT_THROW(StrToScaledInt64("", 2, point), EConvertError);
  EXPECT_THROW(StrToScaledInt64("922337203685477580", 2, point), EIntOverflow);

  EXPECT_EQ(ScaledInt64ToStr(2, 5, point), "0.05");
  EXPECT_EQ(ScaledInt64ToStr(2, -1234, point), "-12.34");
  EXPECT_EQ(ScaledInt64ToStr(2, -5, point), "-0.05");
  EXPECT_EQ(ScaledInt64ToStr(0, 42, point), "42");
  EXPECT_EQ(ScaledInt64ToStr(4, 123456), "12,3456");
  EXPECT_EQ(ScaledInt64ToStr(2, INT64_MIN, point), "-92233720368547758.08");
}

// Decimal text to a scaled integer exactly, rounding as the server's cast does.
TEST(ScaledNumbers, DecimalTextExactly) {
  struct Case {
    const char* text;
    int16_t scale;
    bool ok;
    int64_t expected;  // when ok
    bool overflow;     // when not ok
  };
  const Case cases[] = {
      {"1,005", 2, true, 101, false},
      {"-1,005", 2, true, -101, false},
      {"1,00499999999999999999", 2, true, 100, false},
      {" +2,675 ", 2, true, 268, false},
      {",5", 0, true, 1, false},
      {"5,", 1, true, 50, false},
      {"-0,4", 0, true, 0, false},
      {"1234", -2, true, 12, false},
      {"1250", -2, true, 13, false},
      {"1,5E2", 2, true, 15000, false},
      {"15e-1", 0, true, 2, false},
      {"0,0000004", 6, true, 0, false},
      {"0E999999999", 2, true, 0, false},
      {"1E-999999999", 2, true, 0, false},
      {"9223372036854775807", 0, true, INT64_MAX, false},
      {"-9223372036854775808", 0, true, INT64_MIN, false},
      {"9223372036854775807,5", 0, false, 0, true},
      {"9223372036854775808", 0, false, 0, true},
      {"92233720368547758,08", 2, false, 0, true},
      {"-92233720368547758,08", 2, true, INT64_MIN, false},
      {"1E19", 0, false, 0, true},
      {"1E999999999", 2, false, 0, true},
      {"12.34", 2, false, 0, false},
      {"1,2,3", 2, false, 0, false},
      {"5-", 2, false, 0, false},
      {"--5", 2, false, 0, false},
      {"", 2, false, 0, false},
      {",", 2, false, 0, false},
      {"1E", 2, false, 0, false},
      {"1 000", 2, false, 0, false},
  };
  for (const Case& k : cases) {
    int64_t v = -7;
    bool overflow = true;
    EXPECT_EQ(TryDecimalTextToScaledInt64(k.text, k.scale, ',', v, overflow), k.ok) << k.text;
    if (k.ok) {
      EXPECT_EQ(v, k.expected) << k.text;
      EXPECT_FALSE(overflow) << k.text;
    } else {
      EXPECT_EQ(overflow, k.overflow) << k.text;
    }
  }
}

TEST(Rounding, HalvesAwayFromZeroOnTheDecimalValue) {
  struct Case {
    int decimals;
    double value;
    double expected;
  };
  const Case cases[] = {
      {2, 1.005, 1.01},  {0, 2.4995, 2.0}, {0, 2.5, 3.0},     {0, -2.5, -3.0},
      {2, -1.005, -1.01}, {0, 2.4999999, 2.0}, {1, 0.05, 0.1},  {2, 0.004, 0.0},
      {2, 0.005, 0.01},  {2, 9.995, 10.0},  {3, 1234.5675, 1234.568}, {2, 1e20, 1e20},
      {2, 0.1 + 0.2, 0.3}, {-2, 1250.0, 1300.0}, {12, 1.0000000000005, 1.000000000001},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<double>(RoundDecimal(c.decimals, c.value)), c.expected)
        << c.value << " to " << c.decimals;
  }
  // A long double that is no double is judged at its own precision.
  EXPECT_EQ(RoundDecimal(2, 1.005L), std::strtold("1.01", nullptr));
  EXPECT_EQ(RoundDecimal(0, -2.4995L), -2.0L);
  EXPECT_EQ(RoundDecimal(2, 0.0L), 0.0L);
  EXPECT_TRUE(std::isnan(RoundDecimal(2, NAN)));
  EXPECT_TRUE(std::isinf(RoundDecimal(2, INFINITY)));
  EXPECT_EQ(Raised([] { RoundDecimal(13, 1.0L); }), "Rounding precision too large");
}

TEST(Buffers, CompareIdsAndReallocate) {
  EXPECT_TRUE(BuffersEqual("abc", "abd", 2));
  EXPECT_FALSE(BuffersEqual("abc", "abd", 3));
  EXPECT_FALSE(BuffersEqual("abc", "abc", 0));
  EXPECT_TRUE(SameBlobId({1, 2}, {1, 2}));
  EXPECT_FALSE(SameBlobId({1, 2}, {1, 3}));
  EXPECT_TRUE(IsNullBlobId({0, 0}));
  EXPECT_FALSE(IsNullBlobId({0, 1}));

  void* p = nullptr;
  ReallocBuffer(p, 0, 4);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::memcmp(p, "\0\0\0\0", 4), 0);
  std::memcpy(p, "wxyz", 4);
  ReallocBuffer(p, 4, 8);
  EXPECT_EQ(std::memcmp(p, "wxyz\0\0\0\0", 8), 0);
  ReallocBuffer(p, 8, 2);
  EXPECT_EQ(std::memcmp(p, "wx", 2), 0);
  ReallocBuffer(p, 2, 0);
  EXPECT_EQ(p, nullptr);
}

TEST(Environment, ValueOrEmpty) {
  ::setenv("PELVAR_DBCLIENT_TEST_VAR", "SYSDBA", 1);
  EXPECT_EQ(GetEnvironmentValue("PELVAR_DBCLIENT_TEST_VAR"), "SYSDBA");
  ::unsetenv("PELVAR_DBCLIENT_TEST_VAR");
  EXPECT_EQ(GetEnvironmentValue("PELVAR_DBCLIENT_TEST_VAR"), "");
}

TEST(SoundEx, KeysBoundARange) {
  auto key = [](uint32_t first, std::initializer_list<uint32_t> slots) {
    uint32_t k = first << 24;
    int shift = 21;
    for (uint32_t s : slots) {
      k |= s << shift;
      shift -= 3;
    }
    return static_cast<int32_t>(k);
  };
  EXPECT_EQ(SoundExKey(""), 0);
  // R-o-b-e-r-t: o (0, same as start) skipped, b 1, e 0, r 6, t 3.
  EXPECT_EQ(SoundExKey("robert"), key('R', {1, 0, 6, 3}));
  EXPECT_EQ(SoundExKey("Robert"), SoundExKey("robert"));
  // Repeated codes once: "Pfister" P, f 1, i 0, s 2, t 3, e 0, r 6.
  EXPECT_EQ(SoundExKey("Pfister"), key('P', {1, 0, 2, 3, 0, 6}));
  EXPECT_EQ(SoundExKey("Abbbb"), key('A', {1}));
  // Eight slots at most.
  EXPECT_EQ(SoundExKey("Xbdbdbdbdbdbd"), key('X', {1, 3, 1, 3, 1, 3, 1, 3}));
  EXPECT_EQ(SoundExMaxKey("a"), key('A', {7, 7, 7, 7, 7, 7, 7, 7}));
  EXPECT_EQ(SoundExMaxKey("Rb"), key('R', {1, 7, 7, 7, 7, 7, 7, 7}));
  EXPECT_LE(SoundExKey("Robert"), SoundExMaxKey("Robert"));
}

}  // namespace
}  // namespace pelvar
