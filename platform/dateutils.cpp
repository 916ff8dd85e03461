#include "platform/dateutils.h"

#include <sys/time.h>

#include <cmath>
#include <ctime>
#include <mutex>

#include "platform/exceptions.h"

namespace pelvar {

namespace {

// Days from 1899-12-30 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days_1970 = era * 146097 + doe - 719468;
  return days_1970 + 25569;  // 1970-01-01 is day 25569
}

void CivilFromDays(int64_t days, int& y, int& m, int& d) {
  const int64_t z = days - 25569 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = int(doy - (153 * mp + 2) / 5 + 1);
  m = int(mp < 10 ? mp + 3 : mp - 9);
  y = int(yoe + era * 400 + (m <= 2));
}

// The day (with sign) and the milliseconds of the day, the time rounded to the millisecond.
void Split(TDateTime dt, int64_t& day, int64_t& ms) {
  if (!std::isfinite(dt) || std::fabs(dt) > 1e7) throw EConvertError("Invalid date value");
  const double whole = std::trunc(dt);
  day = int64_t(whole);
  ms = std::llround(std::fabs(static_cast<long double>(dt) - whole) * kMSecsPerDay);
  if (ms >= kMSecsPerDay) {  // rounds up to midnight: the next calendar day
    ms = 0;
    ++day;
  }
  // 0001-01-01 .. 9999-12-31
  if (day < -693593 || day > 2958465) throw EConvertError("Invalid date value");
}

std::mutex g_now_mutex;
std::function<TDateTime()> g_now_source;

TDateTime SystemNow() {
  struct timeval tv;
  ::gettimeofday(&tv, nullptr);
  std::tm tm{};
  const time_t secs = tv.tv_sec;
  ::localtime_r(&secs, &tm);
  return ComposeDateTime(
      EncodeDate(uint16_t(tm.tm_year + 1900), uint16_t(tm.tm_mon + 1), uint16_t(tm.tm_mday)),
      EncodeTime(uint16_t(tm.tm_hour), uint16_t(tm.tm_min), uint16_t(std::min(tm.tm_sec, 59)),
                 uint16_t(tv.tv_usec / 1000)));
}

AnsiString Pad(int v, int digits) {
  AnsiString s = std::to_string(v);
  if (int(s.size()) < digits) s.insert(0, size_t(digits) - s.size(), '0');
  return s;
}

inline char Up(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

bool StartsWithNoCase(std::string_view s, size_t pos, std::string_view what) {
  if (what.empty() || pos + what.size() > s.size()) return false;
  return SameText(s.substr(pos, what.size()), what);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return kDays[month - 1] + (month == 2 && IsLeapYear(year));
}

int DayOfWeek(TDateTime dt) {
  int64_t day, ms;
  Split(dt, day, ms);
  const int64_t stamp = kDateDelta + day;  // 0001-01-01 is 1, a Monday
  return int(((stamp % 7) + 7) % 7) + 1;
}

bool TryEncodeDate(uint16_t year, uint16_t month, uint16_t day, TDateTime& dt) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  dt = double(DaysFromCivil(year, month, day));
  return true;
}

TDateTime EncodeDate(uint16_t year, uint16_t month, uint16_t day) {
  TDateTime dt;
  if (!TryEncodeDate(year, month, day, dt)) throw EConvertError("Invalid argument to date encode");
  return dt;
}

bool TryEncodeTime(uint16_t hour, uint16_t min, uint16_t sec, uint16_t msec, TDateTime& t) {
  if (hour >= 24 || min >= 60 || sec >= 60 || msec >= 1000) return false;
  t = double(((int64_t(hour) * 60 + min) * 60 + sec) * 1000 + msec) / kMSecsPerDay;
  return true;
}

TDateTime EncodeTime(uint16_t hour, uint16_t min, uint16_t sec, uint16_t msec) {
  TDateTime t;
  if (!TryEncodeTime(hour, min, sec, msec, t))
    throw EConvertError("Invalid argument to time encode");
  return t;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
  const double d = std::trunc(date);
  const double t = std::fabs(time - std::trunc(time));
  return d < 0 ? d - t : d + t;
}

void DecodeDate(TDateTime dt, uint16_t& year, uint16_t& month, uint16_t& day) {
  int64_t days, ms;
  Split(dt, days, ms);
  int y, m, d;
  CivilFromDays(days, y, m, d);
  year = uint16_t(y);
  month = uint16_t(m);
  day = uint16_t(d);
}

void DecodeTime(TDateTime dt, uint16_t& hour, uint16_t& min, uint16_t& sec, uint16_t& msec) {
  int64_t days, ms;
  Split(dt, days, ms);
  msec = uint16_t(ms % 1000);
  ms /= 1000;
  sec = uint16_t(ms % 60);
  ms /= 60;
  min = uint16_t(ms % 60);
  hour = uint16_t(ms / 60);
}

void DecodeDateTime(TDateTime dt, uint16_t& year, uint16_t& month, uint16_t& day,
                    uint16_t& hour, uint16_t& min, uint16_t& sec, uint16_t& msec) {
  DecodeDate(dt, year, month, day);
  DecodeTime(dt, hour, min, sec, msec);
}

TDateTime DateOf(TDateTime dt) { return std::trunc(dt); }
TDateTime TimeOf(TDateTime dt) { return std::fabs(dt - std::trunc(dt)); }

TDateTime Now() {
  std::function<TDateTime()> source;
  {
    std::lock_guard<std::mutex> lock(g_now_mutex);
    source = g_now_source;
  }
  return source ? source() : SystemNow();
}

TDateTime Date() { return DateOf(Now()); }
TDateTime Time() { return TimeOf(Now()); }

void SetNowSource(std::function<TDateTime()> source) {
  std::lock_guard<std::mutex> lock(g_now_mutex);
  g_now_source = std::move(source);
}

TDateTime IncMonth(TDateTime dt, int months) {
  uint16_t y, m, d;
  DecodeDate(dt, y, m, d);
  int64_t total = int64_t(y) * 12 + (m - 1) + months;
  const int ny = int(total / 12), nm = int(total % 12) + 1;
  if (ny < 1 || ny > 9999) throw EConvertError("Invalid argument to date encode");
  const int nd = std::min<int>(d, DaysInMonth(ny, nm));
  return ComposeDateTime(EncodeDate(uint16_t(ny), uint16_t(nm), uint16_t(nd)), TimeOf(dt));
}

TDateTime IncDay(TDateTime dt, int days) {
  // Moves the day and keeps the time of day, also across 1899-12-30.
  return ComposeDateTime(std::trunc(dt) + days, TimeOf(dt));
}

// ---------------------------------------------------------------------------------------------
// Formatting

namespace {

struct DateParts {
  int year, month, day, dow, hour, min, sec, msec;
  bool has_time;
};

DateParts Parts(TDateTime dt) {
  int64_t days, ms;
  Split(dt, days, ms);
  DateParts p{};
  CivilFromDays(days, p.year, p.month, p.day);
  p.dow = int((((kDateDelta + days) % 7) + 7) % 7);  // 0 Sunday
  p.has_time = ms != 0;
  p.msec = int(ms % 1000);
  ms /= 1000;
  p.sec = int(ms % 60);
  ms /= 60;
  p.min = int(ms % 60);
  p.hour = int(ms / 60);
  return p;
}

void AppendFormatted(AnsiString& out, std::string_view f, const DateParts& p,
                     const TFormatSettings& fs, int level) {
  if (level >= 3) return;
  if (f.empty()) f = "C";
  char last_token = ' ';
  size_t i = 0;
  const size_t n = f.size();
  auto count_of = [&](char token) {
    size_t j = i;
    while (j < n && Up(f[j]) == token) ++j;
    const int count = int(j - i) + 1;
    i = j;
    return count;
  };
  while (i < n) {
    const char raw = f[i++];
    char token = Up(raw);
    if (token >= 'A' && token <= 'Z') {
      if (token == 'M' && last_token == 'H') token = 'N';
      last_token = token;
    }
    switch (token) {
      case 'Y': {
        const int count = count_of('Y');
        out += count <= 2 ? Pad(p.year % 100, 2) : Pad(p.year, 4);
        break;
      }
      case 'M': {
        const int count = count_of('M');
        if (count <= 2)
          out += Pad(p.month, count);
        else if (count == 3)
          out += fs.ShortMonthNames[size_t(p.month - 1)];
        else
          out += fs.LongMonthNames[size_t(p.month - 1)];
        break;
      }
      case 'D': {
        const int count = count_of('D');
        if (count <= 2)
          out += Pad(p.day, count);
        else if (count == 3)
          out += fs.ShortDayNames[size_t(p.dow)];
        else if (count == 4)
          out += fs.LongDayNames[size_t(p.dow)];
        else if (count == 5)
          AppendFormatted(out, fs.ShortDateFormat, p, fs, level + 1);
        else
          AppendFormatted(out, fs.LongDateFormat, p, fs, level + 1);
        break;
      }
      case 'H': {
        const int count = std::min(count_of('H'), 2);
        // A following am/pm, a/p or ampm makes the hour a 12-hour one.
        bool twelve = false;
        char quote = 0;
        for (size_t j = i; j < n; ++j) {
          if (quote) {
            if (f[j] == quote) quote = 0;
            continue;
          }
          if (f[j] == '"' || f[j] == '\'') {
            quote = f[j];
          } else if (StartsWithNoCase(f, j, "am/pm") || StartsWithNoCase(f, j, "a/p") ||
                     StartsWithNoCase(f, j, "ampm")) {
            twelve = true;
            break;
          }
        }
        int hour = p.hour;
        if (twelve) {
          hour %= 12;
          if (hour == 0) hour = 12;
        }
        out += Pad(hour, count);
        break;
      }
      case 'N': {
        const int count = std::min(count_of(Up(raw)), 2);
        out += Pad(p.min, count);
        break;
      }
      case 'S': {
        const int count = std::min(count_of('S'), 2);
        out += Pad(p.sec, count);
        break;
      }
      case 'Z': {
        const int count = std::min(count_of('Z'), 3);
        out += Pad(p.msec, count);
        break;
      }
      case 'T': {
        const int count = count_of('T');
        AppendFormatted(out, count == 1 ? fs.ShortTimeFormat : fs.LongTimeFormat, p, fs,
                        level + 1);
        break;
      }
      case 'C':
        count_of('C');
        AppendFormatted(out, fs.ShortDateFormat, p, fs, level + 1);
        if (p.has_time) {
          out.push_back(' ');
          AppendFormatted(out, fs.LongTimeFormat, p, fs, level + 1);
        }
        break;
      case 'A': {
        const size_t at = i - 1;
        if (StartsWithNoCase(f, at, "am/pm")) {
          out.append(f.substr(p.hour >= 12 ? at + 3 : at, 2));
          i = at + 5;
        } else if (StartsWithNoCase(f, at, "a/p")) {
          out.push_back(f[p.hour >= 12 ? at + 2 : at]);
          i = at + 3;
        } else if (StartsWithNoCase(f, at, "ampm")) {
          out += p.hour >= 12 ? fs.TimePMString : fs.TimeAMString;
          i = at + 4;
        } else {
          out.push_back(raw);
        }
        break;
      }
      case '/': out.push_back(fs.DateSeparator); break;
      case ':': out.push_back(fs.TimeSeparator); break;
      case '"': case '\'': {
        const size_t end = f.find(raw, i);
        const size_t stop = end == std::string_view::npos ? n : end;
        out.append(f.substr(i, stop - i));
        i = stop == n ? n : stop + 1;
        break;
      }
      default: out.push_back(raw); break;
    }
  }
}

}  // namespace

AnsiString FormatDateTime(std::string_view format, TDateTime dt) {
  return FormatDateTime(format, dt, FormatSettings());
}

AnsiString FormatDateTime(std::string_view format, TDateTime dt, const TFormatSettings& fs) {
  AnsiString out;
  AppendFormatted(out, format, Parts(dt), fs, 0);
  return out;
}

AnsiString DateToStr(TDateTime dt) { return DateToStr(dt, FormatSettings()); }
AnsiString DateToStr(TDateTime dt, const TFormatSettings& fs) {
  return FormatDateTime("ddddd", dt, fs);
}
AnsiString TimeToStr(TDateTime dt) { return TimeToStr(dt, FormatSettings()); }
AnsiString TimeToStr(TDateTime dt, const TFormatSettings& fs) {
  return FormatDateTime("tt", dt, fs);
}
AnsiString DateTimeToStr(TDateTime dt) { return DateTimeToStr(dt, FormatSettings()); }
AnsiString DateTimeToStr(TDateTime dt, const TFormatSettings& fs) {
  return FormatDateTime("c", dt, fs);
}

// ---------------------------------------------------------------------------------------------
// Parsing

namespace {

class Scanner {
 public:
  explicit Scanner(std::string_view s) : s_(s) {}
  size_t pos = 0;
  bool AtEnd() const { return pos >= s_.size(); }
  void Blanks() {
    while (pos < s_.size() && s_[pos] == ' ') ++pos;
  }
  bool Char(char c) {
    Blanks();
    if (pos < s_.size() && s_[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  }
  // Up to four digits (the framework stops a number at 1000 and above).
  bool Number(int& v, int& digits) {
    Blanks();
    const size_t start = pos;
    v = 0;
    while (pos < s_.size() && s_[pos] >= '0' && s_[pos] <= '9' && v < 1000)
      v = v * 10 + (s_[pos++] - '0');
    digits = int(pos - start);
    return digits > 0;
  }
  bool String(std::string_view what) {
    Blanks();
    if (StartsWithNoCase(s_, pos, what)) {
      pos += what.size();
      return true;
    }
    return false;
  }

 private:
  std::string_view s_;
};

enum class DateOrder { DMY, MDY, YMD };

DateOrder OrderOf(std::string_view f) {
  for (char c : f) {
    switch (Up(c)) {
      case 'D': return DateOrder::DMY;
      case 'M': return DateOrder::MDY;
      case 'Y': return DateOrder::YMD;
      default: break;
    }
  }
  return DateOrder::DMY;
}

int CurrentYear() {
  uint16_t y, m, d;
  DecodeDate(Now(), y, m, d);
  return y;
}

bool ScanDate(Scanner& sc, const TFormatSettings& fs, TDateTime& date) {
  int n1, n2, n3 = 0, l1, l2, l3 = 0;
  if (!sc.Number(n1, l1) || !sc.Char(fs.DateSeparator) || !sc.Number(n2, l2)) return false;
  bool three = false;
  const size_t before = sc.pos;
  if (sc.Char(fs.DateSeparator)) {
    if (sc.Number(n3, l3)) {
      three = true;
      // A trailing separator ("1.2.2020.") is allowed.
      const size_t after = sc.pos;
      if (!sc.Char(fs.DateSeparator)) sc.pos = after;
    } else {
      sc.pos = before + 0;
      sc.Char(fs.DateSeparator);  // "1.2." : day and month with a trailing separator
    }
  }
  const DateOrder order = OrderOf(fs.ShortDateFormat);
  int y, m, d, ylen;
  if (!three) {
    y = CurrentYear();
    ylen = 4;
    if (order == DateOrder::DMY) {
      d = n1;
      m = n2;
    } else {
      m = n1;
      d = n2;
    }
  } else {
    switch (order) {
      case DateOrder::MDY: m = n1; d = n2; y = n3; ylen = l3; break;
      case DateOrder::DMY: d = n1; m = n2; y = n3; ylen = l3; break;
      default: y = n1; ylen = l1; m = n2; d = n3; break;
    }
  }
  if (y <= 99 && ylen <= 2) {
    const int century = CurrentYear() - fs.TwoDigitYearCenturyWindow;
    y += century / 100 * 100;
    if (fs.TwoDigitYearCenturyWindow > 0 && y < century) y += 100;
  }
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  return TryEncodeDate(uint16_t(y), uint16_t(m), uint16_t(d), date);
}

bool ScanTime(Scanner& sc, const TFormatSettings& fs, TDateTime& time) {
  int base_hour = -1;
  auto scan_ampm = [&]() {
    const size_t save = sc.pos;
    if (sc.String(fs.TimeAMString) || sc.String("AM")) return 0;
    sc.pos = save;
    if (sc.String(fs.TimePMString) || sc.String("PM")) return 12;
    sc.pos = save;
    return -1;
  };
  base_hour = scan_ampm();
  int hour, min = 0, sec = 0, msec = 0, len;
  if (!sc.Number(hour, len)) return false;
  if (sc.Char(fs.TimeSeparator)) {
    if (!sc.Number(min, len)) return false;
    if (sc.Char(fs.TimeSeparator)) {
      if (!sc.Number(sec, len)) return false;
      if (sc.Char(fs.DecimalSeparator) && !sc.Number(msec, len)) return false;
    }
  }
  if (base_hour < 0) base_hour = scan_ampm();
  if (base_hour >= 0) {
    if (hour == 0 || hour > 12) return false;
    if (hour == 12) hour = 0;
    hour += base_hour;
  }
  sc.Blanks();
  if (hour > 23 || min > 59 || sec > 59 || msec > 999) return false;
  return TryEncodeTime(uint16_t(hour), uint16_t(min), uint16_t(sec), uint16_t(msec), time);
}

[[noreturn]] void RaiseInvalid(std::string_view s, const char* what) {
  throw EConvertError("'" + AnsiString(s) + "' is not a valid " + what);
}

}  // namespace

bool TryStrToDate(std::string_view s, TDateTime& dt, const TFormatSettings& fs) {
  Scanner sc(s);
  TDateTime d;
  if (!ScanDate(sc, fs, d)) return false;
  sc.Blanks();
  if (!sc.AtEnd()) return false;
  dt = d;
  return true;
}
bool TryStrToDate(std::string_view s, TDateTime& dt) { return TryStrToDate(s, dt, FormatSettings()); }

bool TryStrToTime(std::string_view s, TDateTime& dt, const TFormatSettings& fs) {
  Scanner sc(s);
  TDateTime t;
  if (!ScanTime(sc, fs, t) || !sc.AtEnd()) return false;
  dt = t;
  return true;
}
bool TryStrToTime(std::string_view s, TDateTime& dt) { return TryStrToTime(s, dt, FormatSettings()); }

bool TryStrToDateTime(std::string_view s, TDateTime& dt, const TFormatSettings& fs) {
  Scanner sc(s);
  TDateTime date, time = 0;
  if (ScanDate(sc, fs, date)) {
    sc.Blanks();
    if (sc.AtEnd() || (ScanTime(sc, fs, time) && sc.AtEnd())) {
      dt = ComposeDateTime(date, time);
      return true;
    }
  }
  return TryStrToTime(s, dt, fs);
}
bool TryStrToDateTime(std::string_view s, TDateTime& dt) {
  return TryStrToDateTime(s, dt, FormatSettings());
}

TDateTime StrToDate(std::string_view s) { return StrToDate(s, FormatSettings()); }
TDateTime StrToDate(std::string_view s, const TFormatSettings& fs) {
  TDateTime dt;
  if (!TryStrToDate(s, dt, fs)) RaiseInvalid(s, "date");
  return dt;
}
TDateTime StrToTime(std::string_view s) { return StrToTime(s, FormatSettings()); }
TDateTime StrToTime(std::string_view s, const TFormatSettings& fs) {
  TDateTime dt;
  if (!TryStrToTime(s, dt, fs)) RaiseInvalid(s, "time");
  return dt;
}
TDateTime StrToDateTime(std::string_view s) { return StrToDateTime(s, FormatSettings()); }
TDateTime StrToDateTime(std::string_view s, const TFormatSettings& fs) {
  TDateTime dt;
  if (!TryStrToDateTime(s, dt, fs)) RaiseInvalid(s, "date and time");
  return dt;
}
TDateTime StrToDateDef(std::string_view s, TDateTime def) {
  TDateTime dt;
  return TryStrToDate(s, dt) ? dt : def;
}
TDateTime StrToDateTimeDef(std::string_view s, TDateTime def) {
  TDateTime dt;
  return TryStrToDateTime(s, dt) ? dt : def;
}

}  // namespace pelvar
