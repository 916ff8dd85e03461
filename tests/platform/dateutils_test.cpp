#include "platform/dateutils.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/codepage.h"

namespace pelvar {
namespace {

// Pins Now() for the duration of a test.
class FixedNow {
 public:
  explicit FixedNow(TDateTime now) { SetNowSource([now] { return now; }); }
  ~FixedNow() { SetNowSource({}); }
};

struct Stamp {
  uint16_t y, mo, d, h, mi, s, ms;
};

TEST(DateUtils, EncodeDecodeRoundTripsAroundTheEpochAndBeforeIt) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1899, 12, 31), 1.0);
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
  EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);
  // Before the epoch the time is subtracted: 1899-12-29 06:00 is -1.25.
  EXPECT_EQ(ComposeDateTime(EncodeDate(1899, 12, 29), EncodeTime(6, 0, 0, 0)), -1.25);
  EXPECT_EQ(ComposeDateTime(EncodeDate(1899, 12, 30), EncodeTime(6, 0, 0, 0)), 0.25);

  const Stamp stamps[] = {
      {1899, 12, 30, 0, 0, 0, 0},     {1899, 12, 30, 23, 59, 59, 999}, {1899, 12, 29, 6, 0, 0, 0},
      {1899, 12, 29, 23, 59, 59, 999}, {1899, 12, 31, 0, 0, 0, 1},     {1800, 2, 28, 12, 30, 15, 500},
      {1600, 2, 29, 1, 2, 3, 4},      {1, 1, 1, 0, 0, 0, 0},           {9999, 12, 31, 23, 59, 59, 999},
      {2000, 2, 29, 18, 0, 0, 0},     {1900, 3, 1, 0, 0, 1, 0},        {2026, 12, 10, 13, 45, 7, 250},
  };
  for (const Stamp& s : stamps) {
    const TDateTime dt = ComposeDateTime(EncodeDate(s.y, s.mo, s.d), EncodeTime(s.h, s.mi, s.s, s.ms));
    Stamp back{};
    DecodeDateTime(dt, back.y, back.mo, back.d, back.h, back.mi, back.s, back.ms);
    EXPECT_EQ(back.y, s.y) << dt;
    EXPECT_EQ(back.mo, s.mo) << dt;
    EXPECT_EQ(back.d, s.d) << dt;
    EXPECT_EQ(back.h, s.h) << dt;
    EXPECT_EQ(back.mi, s.mi) << dt;
    EXPECT_EQ(back.s, s.s) << dt;
    EXPECT_EQ(back.ms, s.ms) << dt;
    // Whole seconds survive the text round trip too.
    if (s.ms == 0 && s.y >= 1000) {
      EXPECT_EQ(StrToDateTime(DateTimeToStr(dt)), dt) << DateTimeToStr(dt);
    }
  }
  // Every day from 1899-12-01 to 1900-01-31 round-trips, with a time of day.
  for (int day = -29; day <= 32; ++day) {
    const TDateTime dt = ComposeDateTime(day, 0.75);
    uint16_t y, m, d, h, mi, s, ms;
    DecodeDateTime(dt, y, m, d, h, mi, s, ms);
    EXPECT_EQ(h, 18);
    EXPECT_EQ(ComposeDateTime(EncodeDate(y, m, d), EncodeTime(h, mi, s, ms)), dt) << day;
  }
}

TEST(DateUtils, TimeRoundingCarriesIntoTheNextDay) {
  uint16_t y, m, d, h, mi, s, ms;
  DecodeDateTime(0.9999999999, y, m, d, h, mi, s, ms);
  EXPECT_EQ(d, 31);
  EXPECT_EQ(h + mi + s + ms, 0);
  DecodeDateTime(-1.9999999999, y, m, d, h, mi, s, ms);  // 1899-12-29 23:59:59.99999
  EXPECT_EQ(d, 30);
  EXPECT_EQ(m, 12);
  EXPECT_EQ(h, 0);
}

TEST(DateUtils, InvalidArgumentsRaise) {
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
  EXPECT_THROW(EncodeDate(2020, 13, 1), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
  TDateTime dt;
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29, dt));
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, dt));
  uint16_t y, m, d;
  EXPECT_THROW(DecodeDate(1e12, y, m, d), EConvertError);
  EXPECT_THROW(DecodeDate(std::nan(""), y, m, d), EConvertError);
  EXPECT_THROW(DecodeDate(-693594, y, m, d), EConvertError);         // before 0001-01-01
  EXPECT_THROW(DecodeDate(2958465.9999999999, y, m, d), EConvertError);  // rounds to year 10000
  EXPECT_NO_THROW(DecodeDate(-693593.5, y, m, d));
}

TEST(DateUtils, CalendarHelpers) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(2023, 2), 28);
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);  // Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 10)), 5);  // Thursday
  EXPECT_EQ(DayOfWeek(EncodeDate(1800, 1, 1)), 4);    // Wednesday
  EXPECT_EQ(IncMonth(EncodeDate(2020, 1, 31)), EncodeDate(2020, 2, 29));
  EXPECT_EQ(IncMonth(EncodeDate(2020, 3, 31), -13), EncodeDate(2019, 2, 28));
  EXPECT_EQ(IncMonth(EncodeDate(2020, 11, 15) + 0.5, 2), EncodeDate(2021, 1, 15) + 0.5);
  EXPECT_EQ(IncMonth(-1.25, 1), ComposeDateTime(EncodeDate(1900, 1, 29), 0.25));
  EXPECT_EQ(IncDay(-1.25, 1), 0.25);
  EXPECT_EQ(DateOf(-1.25), -1.0);
  EXPECT_EQ(TimeOf(-1.25), 0.25);
}

TEST(DateUtils, NowSourceForTests) {
  const TDateTime fixed = ComposeDateTime(EncodeDate(2026, 12, 10), EncodeTime(13, 5, 0, 0));
  {
    FixedNow now(fixed);
    EXPECT_EQ(Now(), fixed);
    EXPECT_EQ(Date(), EncodeDate(2026, 12, 10));
    EXPECT_EQ(TimeToStr(Time()), "13:05:00");
  }
  const TDateTime real = Now();
  EXPECT_GT(real, EncodeDate(2020, 1, 1));
  EXPECT_LT(real, EncodeDate(2200, 1, 1));
}

TEST(DateUtils, CzechTextConversions) {
  const TDateTime dt = ComposeDateTime(EncodeDate(2026, 3, 5), EncodeTime(7, 8, 9, 10));
  EXPECT_EQ(DateToStr(dt), "05.03.2026");
  EXPECT_EQ(TimeToStr(dt), "07:08:09");
  EXPECT_EQ(DateTimeToStr(dt), "05.03.2026 07:08:09");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 3, 5)), "05.03.2026");  // midnight: no time
  EXPECT_EQ(DateTimeToStr(-1.25), "29.12.1899 06:00:00");
  EXPECT_EQ(DateTimeToStr(0), "30.12.1899");

  struct Case {
    const char* format;
    std::string text;
  };
  const Case cases[] = {
      {"dd.mm.yyyy hh:nn:ss", "05.03.2026 07:08:09"},
      {"d.m.yy h:n:s", "5.3.26 7:8:9"},
      {"hh:mm", "07:08"},  // m right after an hour is minutes
      {"yyyy-mm-dd\"T\"hh:nn:ss.zzz", "2026-03-05T07:08:09.010"},
      {"z|zzz", "10|010"},
      {"d. mmmm yyyy", CZ("5. březen 2026")},
      {"ddd dddd mmm", CZ("čt čtvrtek bře")},
      {"ddddd", "05.03.2026"},
      {"dddddd", CZ("5. březen 2026")},
      {"t|tt", "7:08|07:08:09"},
      {"c", "05.03.2026 07:08:09"},
      {"", "05.03.2026 07:08:09"},
      {"h:nn am/pm", "7:08 am"},
      {"h:nn AMPM", "7:08 dop."},
      {"yyyy/mm/dd", "2026.03.05"},
      {"'dd' dd", "dd 05"},
      {"YYYY", "2026"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatDateTime(c.format, dt), c.text) << c.format;
  const TDateTime evening = EncodeDate(2026, 3, 5) + EncodeTime(19, 0, 0, 0);
  EXPECT_EQ(FormatDateTime("hh:nn a/p", evening), "07:00 p");
  EXPECT_EQ(FormatDateTime("h AM/PM", EncodeTime(0, 30, 0, 0)), "12 AM");
  EXPECT_EQ(FormatDateTime("hh:nn:ss", EncodeTime(23, 59, 59, 999)), "23:59:59");
}

TEST(DateUtils, ParsingDatesAndTimes) {
  FixedNow now(EncodeDate(2026, 12, 10));
  struct Case {
    const char* text;
    bool ok;
    TDateTime value;
  };
  const Case dates[] = {
      {"5.3.2026", true, EncodeDate(2026, 3, 5)},
      {" 05. 03. 2026 ", true, EncodeDate(2026, 3, 5)},
      {"5.3.2026.", true, EncodeDate(2026, 3, 5)},
      {"5.3", true, EncodeDate(2026, 3, 5)},
      {"5.3.26", true, EncodeDate(2026, 3, 5)},
      {"5.3.75", true, EncodeDate(2075, 3, 5)},  // the window: 1976 .. 2075
      {"5.3.76", true, EncodeDate(1976, 3, 5)},
      {"5.3.0026", true, EncodeDate(26, 3, 5)},
      {"29.12.1899", true, -1},
      {"31.2.2026", false, 0},
      {"5/3/2026", false, 0},
      {"5.3.2026x", false, 0},
      {"", false, 0},
      {"5", false, 0},
  };
  for (const Case& c : dates) {
    TDateTime v = 0;
    EXPECT_EQ(TryStrToDate(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    } else {
      EXPECT_THROW(StrToDate(c.text), EConvertError) << c.text;
    }
  }
  const Case times[] = {
      {"10:30", true, EncodeTime(10, 30, 0, 0)},
      {"10:30:15", true, EncodeTime(10, 30, 15, 0)},
      {"10:30:15,250", true, EncodeTime(10, 30, 15, 250)},
      {"7", true, EncodeTime(7, 0, 0, 0)},
      {"1:05 PM", true, EncodeTime(13, 5, 0, 0)},
      {"12:00 am", true, EncodeTime(0, 0, 0, 0)},
      {"odp. 2:00", true, EncodeTime(14, 0, 0, 0)},
      {"24:00", false, 0},
      {"10:60", false, 0},
      {"13:00 PM", false, 0},
      {"10:30x", false, 0},
      {"10:", false, 0},
  };
  for (const Case& c : times) {
    TDateTime v = 0;
    EXPECT_EQ(TryStrToTime(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    } else {
      EXPECT_THROW(StrToTime(c.text), EConvertError) << c.text;
    }
  }
  const Case date_times[] = {
      {"5.3.2026 10:30", true, EncodeDate(2026, 3, 5) + EncodeTime(10, 30, 0, 0)},
      {"5.3.2026", true, EncodeDate(2026, 3, 5)},
      {"10:30:01", true, EncodeTime(10, 30, 1, 0)},
      {"29.12.1899 18:00:00", true, -1.75},
      {"30.12.1899 18:00:00", true, 0.75},
      {"5.3.2026 10:30 trailing", false, 0},
      {"5.3.2026 25:00", false, 0},
  };
  for (const Case& c : date_times) {
    TDateTime v = 0;
    EXPECT_EQ(TryStrToDateTime(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    } else {
      EXPECT_THROW(StrToDateTime(c.text), EConvertError) << c.text;
    }
  }
  try {
    StrToDate("x");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'x' is not a valid date");
  }
}

TEST(DateUtils, OtherSettings) {
  FixedNow now(EncodeDate(2026, 12, 10));
  TFormatSettings us = CzechFormatSettings();
  us.ShortDateFormat = "m/d/yyyy";
  us.DateSeparator = '/';
  us.LongTimeFormat = "h:nn:ss AMPM";
  us.TimeAMString = "AM";
  us.TimePMString = "PM";
  const TDateTime dt = EncodeDate(2026, 3, 5) + EncodeTime(15, 4, 5, 0);
  EXPECT_EQ(DateTimeToStr(dt, us), "3/5/2026 3:04:05 PM");
  EXPECT_EQ(StrToDateTime("3/5/2026 3:04:05 PM", us), dt);
  TFormatSettings iso = CzechFormatSettings();
  iso.ShortDateFormat = "yyyy-mm-dd";
  iso.DateSeparator = '-';
  EXPECT_EQ(StrToDate("2026-03-05", iso), EncodeDate(2026, 3, 5));
  EXPECT_EQ(DateToStr(EncodeDate(2026, 3, 5), iso), "2026-03-05");
}

}  // namespace
}  // namespace pelvar
