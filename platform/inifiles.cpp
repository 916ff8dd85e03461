#include "platform/inifiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/streams.h"
#include "platform/sysutils.h"

namespace pelvar {

void ReplaceFileAtomically(const std::string& sys_path, const std::string& data) {
  // Write through a symbolic link to the file it names.
  std::string target = sys_path;
  if (char* real = ::realpath(sys_path.c_str(), nullptr)) {
    target = real;
    std::free(real);
  }
  const auto fail = [&](const std::string& what) {
    const int err = errno;
    throw EInOutError(Utf8ToAnsi(what + " \"" + target + "\": " + std::strerror(err)));
  };
  std::string tmp = target + ".tmpXXXXXX";
  const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) fail("Cannot create a temporary file next to");
  struct stat st;
  if (::stat(target.c_str(), &st) == 0) {
    ::fchmod(fd, st.st_mode & 07777);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
  }
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = errno;
      ::close(fd);
      ::unlink(tmp.c_str());
      errno = err;
      fail("Cannot write");
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    errno = err;
    fail("Cannot write");
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    errno = err;
    fail("Cannot replace");
  }
}

namespace {

enum class LineKind { Other, Section, Key };

struct Parsed {
  LineKind kind = LineKind::Other;
  AnsiString name;   // section or key name, trimmed
  AnsiString value;  // key value, trimmed and unquoted
};

AnsiString Unquote(AnsiString v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

Parsed ParseLine(const AnsiString& line) {
  Parsed p;
  const AnsiString t = Trim(line);
  if (t.empty() || t[0] == ';') return p;
  if (t[0] == '[') {
    const auto close = t.find(']');
    p.kind = LineKind::Section;
    p.name = Trim(t.substr(1, close == AnsiString::npos ? AnsiString::npos : close - 1));
    return p;
  }
  const auto eq = t.find('=');
  if (eq == AnsiString::npos) return p;
  p.kind = LineKind::Key;
  p.name = Trim(t.substr(0, eq));
  p.value = Unquote(Trim(t.substr(eq + 1)));
  return p;
}

std::vector<AnsiString> ReadLines(const AnsiString& file_name) {
  std::ifstream in(SysFileName(file_name), std::ios::binary);
  std::vector<AnsiString> lines;
  if (!in) return lines;
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t start = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] != '\r' && data[i] != '\n') continue;
    lines.push_back(data.substr(start, i - start));
    if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < data.size()) lines.push_back(data.substr(start));
  return lines;
}

void WriteLines(const AnsiString& file_name, const std::vector<AnsiString>& lines) {
  std::string data;
  for (const AnsiString& l : lines) data += l + "\r\n";
  try {
    ReplaceFileAtomically(SysFileName(file_name), data);
  } catch (const EInOutError& e) {
    throw EIniFileException(CZ("Nelze zapsat do souboru ") + file_name + " (" + e.Message() + ")");
  }
}

// The index range [first, end) of the lines of the section's first occurrence (first is
// the header); first == -1 when the section is missing.
struct SectionRange {
  int first = -1;
  int end = -1;
};

SectionRange FindSection(const std::vector<AnsiString>& lines, const AnsiString& section) {
  SectionRange r;
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    const Parsed p = ParseLine(lines[i]);
    if (p.kind != LineKind::Section) continue;
    if (r.first >= 0) {
      r.end = i;
      return r;
    }
    if (AnsiSameText(p.name, section)) r.first = i;
  }
  if (r.first >= 0) r.end = static_cast<int>(lines.size());
  return r;
}

int FindKey(const std::vector<AnsiString>& lines, SectionRange r, const AnsiString& ident) {
  for (int i = r.first + 1; i < r.end; ++i) {
    const Parsed p = ParseLine(lines[i]);
    if (p.kind == LineKind::Key && AnsiSameText(p.name, ident)) return i;
  }
  return -1;
}

void CheckOneLine(const AnsiString& text) {
  if (text.find_first_of("\r\n") != AnsiString::npos)
    throw EIniFileException(CZ("Text pro soubor INI nesmí obsahovat konec řádku: ") + text);
}

}  // namespace

TIniFile::TIniFile(const AnsiString& file_name) : file_name_(file_name) {}

AnsiString TIniFile::ReadString(const AnsiString& section, const AnsiString& ident,
                                const AnsiString& def) const {
  const auto lines = ReadLines(file_name_);
  const SectionRange r = FindSection(lines, section);
  if (r.first >= 0) {
    const int k = FindKey(lines, r, ident);
    if (k >= 0) return ParseLine(lines[k]).value;
  }
  return TrimRight(def);  // the profile functions drop a default's trailing blanks
}

void TIniFile::WriteString(const AnsiString& section, const AnsiString& ident,
                           const AnsiString& value) {
  CheckOneLine(section);
  CheckOneLine(ident);
  CheckOneLine(value);
  auto lines = ReadLines(file_name_);
  const SectionRange r = FindSection(lines, section);
  if (r.first < 0) {
    lines.push_back("[" + section + "]");
    lines.push_back(ident + "=" + value);
  } else {
    const int k = FindKey(lines, r, ident);
    if (k >= 0) {
      // Keep the key as spelled in the file.
      const AnsiString& old = lines[k];
      lines[k] = old.substr(0, old.find('=')) + "=" + value;
    } else {
      // After the section's last non-blank line, before the blank lines that part it.
      int at = r.end;
      while (at > r.first + 1 && Trim(lines[at - 1]).empty()) --at;
      lines.insert(lines.begin() + at, ident + "=" + value);
    }
  }
  WriteLines(file_name_, lines);
}

int32_t TIniFile::ReadInteger(const AnsiString& section, const AnsiString& ident,
                              int32_t def) const {
  return StrToIntDef(ReadString(section, ident, ""), def);
}

void TIniFile::WriteInteger(const AnsiString& section, const AnsiString& ident, int32_t value) {
  WriteString(section, ident, IntToStr(value));
}

bool TIniFile::ReadBool(const AnsiString& section, const AnsiString& ident, bool def) const {
  return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

void TIniFile::WriteBool(const AnsiString& section, const AnsiString& ident, bool value) {
  WriteString(section, ident, value ? "1" : "0");
}

double TIniFile::ReadFloat(const AnsiString& section, const AnsiString& ident, double def) const {
  const AnsiString s = ReadString(section, ident, "");
  double v;
  return !s.empty() && TryStrToFloat(s, v) ? v : def;
}

void TIniFile::WriteFloat(const AnsiString& section, const AnsiString& ident, double value) {
  WriteString(section, ident, FloatToStr(value));
}

TDateTime TIniFile::ReadDate(const AnsiString& section, const AnsiString& ident,
                             TDateTime def) const {
  TDateTime v;
  return TryStrToDate(ReadString(section, ident, ""), v) ? v : def;
}

TDateTime TIniFile::ReadDateTime(const AnsiString& section, const AnsiString& ident,
                                 TDateTime def) const {
  TDateTime v;
  return TryStrToDateTime(ReadString(section, ident, ""), v) ? v : def;
}

TDateTime TIniFile::ReadTime(const AnsiString& section, const AnsiString& ident,
                             TDateTime def) const {
  TDateTime v;
  return TryStrToTime(ReadString(section, ident, ""), v) ? v : def;
}

void TIniFile::WriteDate(const AnsiString& section, const AnsiString& ident, TDateTime value) {
  WriteString(section, ident, DateToStr(value));
}

void TIniFile::WriteDateTime(const AnsiString& section, const AnsiString& ident,
                             TDateTime value) {
  WriteString(section, ident, DateTimeToStr(value));
}

void TIniFile::WriteTime(const AnsiString& section, const AnsiString& ident, TDateTime value) {
  WriteString(section, ident, TimeToStr(value));
}

bool TIniFile::SectionExists(const AnsiString& section) const {
  return FindSection(ReadLines(file_name_), section).first >= 0;
}

bool TIniFile::ValueExists(const AnsiString& section, const AnsiString& ident) const {
  const auto lines = ReadLines(file_name_);
  const SectionRange r = FindSection(lines, section);
  return r.first >= 0 && FindKey(lines, r, ident) >= 0;
}

void TIniFile::ReadSection(const AnsiString& section, TStrings* strings) const {
  strings->BeginUpdate();
  strings->Clear();
  const auto lines = ReadLines(file_name_);
  const SectionRange r = FindSection(lines, section);
  std::vector<AnsiString> seen;
  for (int i = r.first + 1; r.first >= 0 && i < r.end; ++i) {
    const Parsed p = ParseLine(lines[i]);
    if (p.kind != LineKind::Key) continue;
    bool dup = false;
    for (const AnsiString& s : seen) dup = dup || AnsiSameText(s, p.name);
    if (dup) continue;
    seen.push_back(p.name);
    strings->Add(p.name);
  }
  strings->EndUpdate();
}

void TIniFile::ReadSections(TStrings* strings) const {
  strings->BeginUpdate();
  strings->Clear();
  std::vector<AnsiString> seen;
  for (const AnsiString& line : ReadLines(file_name_)) {
    const Parsed p = ParseLine(line);
    if (p.kind != LineKind::Section) continue;
    bool dup = false;
    for (const AnsiString& s : seen) dup = dup || AnsiSameText(s, p.name);
    if (dup) continue;
    seen.push_back(p.name);
    strings->Add(p.name);
  }
  strings->EndUpdate();
}

void TIniFile::ReadSectionValues(const AnsiString& section, TStrings* strings) const {
  TStringList keys;
  ReadSection(section, &keys);
  strings->BeginUpdate();
  strings->Clear();
  for (int32_t i = 0; i < keys.Count(); ++i)
    strings->Add(keys.Get(i) + "=" + ReadString(section, keys.Get(i), ""));
  strings->EndUpdate();
}

void TIniFile::EraseSection(const AnsiString& section) {
  auto lines = ReadLines(file_name_);
  bool changed = false;
  for (SectionRange r = FindSection(lines, section); r.first >= 0; r = FindSection(lines, section)) {
    lines.erase(lines.begin() + r.first, lines.begin() + r.end);
    changed = true;
  }
  if (changed) WriteLines(file_name_, lines);
}

void TIniFile::DeleteKey(const AnsiString& section, const AnsiString& ident) {
  auto lines = ReadLines(file_name_);
  const SectionRange r = FindSection(lines, section);
  if (r.first < 0) return;
  const int k = FindKey(lines, r, ident);
  if (k < 0) return;
  lines.erase(lines.begin() + k);
  WriteLines(file_name_, lines);
}

}  // namespace pelvar
