// The framework's date and time routines over TDateTime (days since 1899-12-30, the fraction
// the time of day). For dates before 1899-12-30 the integer part is the day (negative) and the
// fraction's absolute value is still the time: -1.25 is 1899-12-29 06:00.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/sysutils.h"
#include "platform/types.h"

namespace pelvar {

constexpr int kHoursPerDay = 24;
constexpr int kMinsPerDay = 24 * 60;
constexpr int kSecsPerDay = kMinsPerDay * 60;
constexpr int kMSecsPerDay = kSecsPerDay * 1000;
// Days between 0001-01-01 and 1899-12-30.
constexpr int kDateDelta = 693594;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// 1 is Sunday ... 7 is Saturday.
int DayOfWeek(TDateTime dt);

// Year 1..9999, month 1..12, valid day; hour 0..23, minutes and seconds 0..59, ms 0..999.
// A bad argument raises EConvertError.
TDateTime EncodeDate(uint16_t year, uint16_t month, uint16_t day);
TDateTime EncodeTime(uint16_t hour, uint16_t min, uint16_t sec, uint16_t msec);
bool TryEncodeDate(uint16_t year, uint16_t month, uint16_t day, TDateTime& dt);
bool TryEncodeTime(uint16_t hour, uint16_t min, uint16_t sec, uint16_t msec, TDateTime& t);
// A date and a time of day joined by the framework's rule (time subtracted for negative dates).
TDateTime ComposeDateTime(TDateTime date, TDateTime time);
// The time is rounded to the millisecond; a time that rounds up to 24:00 belongs to the next day.
void DecodeDate(TDateTime dt, uint16_t& year, uint16_t& month, uint16_t& day);
void DecodeTime(TDateTime dt, uint16_t& hour, uint16_t& min, uint16_t& sec, uint16_t& msec);
void DecodeDateTime(TDateTime dt, uint16_t& year, uint16_t& month, uint16_t& day,
                    uint16_t& hour, uint16_t& min, uint16_t& sec, uint16_t& msec);
// The date part (day) and the time part (the fraction's absolute value).
TDateTime DateOf(TDateTime dt);
TDateTime TimeOf(TDateTime dt);

// Local time. Tests replace the clock with SetNowSource (an empty function restores it).
TDateTime Now();
TDateTime Date();
TDateTime Time();
void SetNowSource(std::function<TDateTime()> source);

// Adds months, keeping the time and clamping the day to the target month's length.
TDateTime IncMonth(TDateTime dt, int months = 1);
TDateTime IncDay(TDateTime dt, int days = 1);

// Short date; long time; short date plus long time (the time left out when it is midnight).
AnsiString DateToStr(TDateTime dt);
AnsiString DateToStr(TDateTime dt, const TFormatSettings& fs);
AnsiString TimeToStr(TDateTime dt);
AnsiString TimeToStr(TDateTime dt, const TFormatSettings& fs);
AnsiString DateTimeToStr(TDateTime dt);
AnsiString DateTimeToStr(TDateTime dt, const TFormatSettings& fs);

// The framework's format: d dd ddd dddd ddddd dddddd, m mm mmm mmmm (minutes right after an
// hour), yy yyyy, h hh, n nn, s ss, z zzz, t tt, c, am/pm a/p ampm, / :, quoted text.
AnsiString FormatDateTime(std::string_view format, TDateTime dt);
AnsiString FormatDateTime(std::string_view format, TDateTime dt, const TFormatSettings& fs);

// Dates in the order of ShortDateFormat with DateSeparator (a missing year is the current one,
// two-digit years follow TwoDigitYearCenturyWindow); times "h:m[:s[.z]]" with an optional
// AM/PM; a date-time is a date followed by an optional time, or a time alone.
// The Str* functions raise EConvertError on bad text.
TDateTime StrToDate(std::string_view s);
TDateTime StrToDate(std::string_view s, const TFormatSettings& fs);
TDateTime StrToTime(std::string_view s);
TDateTime StrToTime(std::string_view s, const TFormatSettings& fs);
TDateTime StrToDateTime(std::string_view s);
TDateTime StrToDateTime(std::string_view s, const TFormatSettings& fs);
bool TryStrToDate(std::string_view s, TDateTime& dt);
bool TryStrToDate(std::string_view s, TDateTime& dt, const TFormatSettings& fs);
bool TryStrToTime(std::string_view s, TDateTime& dt);
bool TryStrToTime(std::string_view s, TDateTime& dt, const TFormatSettings& fs);
bool TryStrToDateTime(std::string_view s, TDateTime& dt);
bool TryStrToDateTime(std::string_view s, TDateTime& dt, const TFormatSettings& fs);
TDateTime StrToDateDef(std::string_view s, TDateTime def);
TDateTime StrToDateTimeDef(std::string_view s, TDateTime def);

}  // namespace pelvar
