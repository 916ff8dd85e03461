// Small helpers shared by the files of the SQL text toolkit; not part of its interface.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace pelvar::ib_parse_detail {

inline int32_t Len(const AnsiString& s) { return static_cast<int32_t>(s.size()); }

// The character at a 1-based position; outside the text a carriage return, as the scanner
// reads it.
inline char CharAt(const AnsiString& s, int32_t pos) {
  return pos >= 1 && pos <= Len(s) ? s[static_cast<size_t>(pos - 1)] : '\r';
}

inline bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

inline char AsciiUpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

inline AnsiString AsciiUpper(AnsiString s) {
  for (char& c : s) c = AsciiUpperChar(c);
  return s;
}

// Substring by 1-based start and length, clamped to the text.
inline AnsiString Mid(const AnsiString& s, int32_t start, int32_t count) {
  if (start < 1) {
    count += start - 1;
    start = 1;
  }
  if (count <= 0 || start > Len(s)) return {};
  return s.substr(static_cast<size_t>(start - 1), static_cast<size_t>(count));
}

// Text from a 1-based position to the end.
inline AnsiString From(const AnsiString& s, int32_t start) {
  if (start < 1) start = 1;
  if (start > Len(s)) return {};
  return s.substr(static_cast<size_t>(start - 1));
}

}  // namespace pelvar::ib_parse_detail
