#include "wizard/ShellUtils.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>

#include "platform/codepage.h"
#include "platform/streams.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

bool IsDelimiter(char c) { return c == '/' || c == '\\'; }

bool IsDirectory(const AnsiString& path) {
  struct stat st {};
  return ::stat(SysFileName(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The directory that holds path: everything before its last delimiter ("/" for "/a").
AnsiString ParentOf(const AnsiString& path) {
  size_t i = path.size();
  while (i > 0 && !IsDelimiter(path[i - 1])) --i;
  if (i == 0) return AnsiString();
  AnsiString parent = path.substr(0, i);
  while (parent.size() > 1 && IsDelimiter(parent.back())) parent.pop_back();
  return parent;
}

}  // namespace

void CreateDirPath(const AnsiString& path) {
  if (path.empty()) return;
  AnsiString dir = path;
  while (dir.size() > 1 && IsDelimiter(dir.back())) dir.pop_back();
  // The root, a bare drive ("C:") or an existing directory end the recursion.
  if (dir == "/" || (dir.size() == 2 && dir[1] == ':') || IsDirectory(dir)) return;
  const AnsiString parent = ParentOf(dir);
  if (!parent.empty() && parent != dir) CreateDirPath(parent);
  ::mkdir(SysFileName(dir).c_str(), 0777);
}

AnsiString GetTempDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  AnsiString dir = tmp && *tmp ? Utf8ToAnsi(tmp) : AnsiString("/tmp");
  return IncludeTrailingPathDelimiter(dir);
}

bool GetRecorderDrive(AnsiString& drive) {
  drive.clear();
  return false;
}

AnsiString GetCDBurnStagingFolder() { return AnsiString(); }

TSysCharSet::TSysCharSet(std::initializer_list<char> chars) {
  for (char c : chars) Include(c);
}

TSysCharSet TSysCharSet::Of(std::string_view chars) {
  TSysCharSet s;
  for (char c : chars) s.Include(c);
  return s;
}

AnsiString ReplaceAll(const AnsiString& text, const AnsiString& search,
                      const AnsiString& replacement) {
  if (search.empty()) return text;
  AnsiString result;
  size_t from = 0;
  for (;;) {
    const size_t at = text.find(search, from);
    if (at == AnsiString::npos) break;
    result.append(text, from, at - from);
    result += replacement;
    from = at + search.size();
  }
  result.append(text, from, AnsiString::npos);
  return result;
}

int32_t WordCount(const AnsiString& text, const TSysCharSet& delims) {
  int32_t count = 0;
  bool in_word = false;
  for (char c : text) {
    const bool delim = delims.Contains(c);
    if (!delim && !in_word) ++count;
    in_word = !delim;
  }
  return count;
}

int32_t WordPosition(int32_t n, const AnsiString& text, const TSysCharSet& delims) {
  if (n < 1) return 0;
  int32_t count = 0;
  bool in_word = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool delim = delims.Contains(text[i]);
    if (!delim && !in_word && ++count == n) return static_cast<int32_t>(i + 1);
    in_word = !delim;
  }
  return 0;
}

AnsiString ExtractWord(int32_t n, const AnsiString& text, const TSysCharSet& delims) {
  const int32_t pos = WordPosition(n, text, delims);
  if (pos == 0) return AnsiString();
  size_t end = static_cast<size_t>(pos - 1);
  while (end < text.size() && !delims.Contains(text[end])) ++end;
  return text.substr(static_cast<size_t>(pos - 1), end - static_cast<size_t>(pos - 1));
}

AnsiString GetToken(const AnsiString& text, const AnsiString& separator, int32_t n) {
  if (n < 1) return AnsiString();
  if (separator.empty()) return n == 1 ? text : AnsiString();
  size_t from = 0;
  for (int32_t field = 1;; ++field) {
    const size_t at = text.find(separator, from);
    if (field == n) return text.substr(from, at == AnsiString::npos ? AnsiString::npos : at - from);
    if (at == AnsiString::npos) return AnsiString();
    from = at + separator.size();
  }
}

void Split(const AnsiString& text, char separator, TStrings* list) {
  list->BeginUpdate();
  try {
    list->Clear();
    size_t from = 0;
    for (size_t at = text.find(separator); at != AnsiString::npos;
         at = text.find(separator, from)) {
      list->Add(text.substr(from, at - from));
      from = at + 1;
    }
    if (from < text.size()) list->Add(text.substr(from));
  } catch (...) {
    list->EndUpdate();
    throw;
  }
  list->EndUpdate();
}

namespace {

TCharTable BuildCaseTable(char (*convert)(char)) {
  TCharTable t{};
  for (int k = 0; k < 256; ++k) {
    t[k] = k <= 32 ? static_cast<uint8_t>(k)
                   : static_cast<uint8_t>(convert(static_cast<char>(k)));
  }
  return t;
}

TCharTable BuildCollationTable() {
  std::vector<char> sorted(255);
  std::iota(sorted.begin(), sorted.end(), 1);  // the characters 1 to 255 (char wraps)
  std::stable_sort(sorted.begin(), sorted.end(), [](char a, char b) {
    return AnsiCompareText(std::string_view(&a, 1), std::string_view(&b, 1)) < 0;
  });
  TCharTable t{};
  for (int k = 1; k < 256; ++k) {
    const char upper = AnsiUpperChar(static_cast<char>(k));
    const auto it = std::lower_bound(sorted.begin(), sorted.end(), upper, [](char a, char b) {
      return AnsiCompareText(std::string_view(&a, 1), std::string_view(&b, 1)) < 0;
    });
    t[k] = static_cast<uint8_t>(it - sorted.begin());
  }
  return t;
}

}  // namespace

const TCharTable& AnsiUpperTable() {
  static const TCharTable table = BuildCaseTable(&AnsiUpperChar);
  return table;
}

const TCharTable& AnsiLowerTable() {
  static const TCharTable table = BuildCaseTable(&AnsiLowerChar);
  return table;
}

const TCharTable& AnsiCollationTable() {
  static const TCharTable table = BuildCollationTable();
  return table;
}

}  // namespace pelvar
