// Small routines of the wizard and its form-placement family: directory creation, the
// temporary directory, the recordable-CD queries, word and token functions on text, and
// the character tables for case-insensitive text handling.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "platform/classes.h"
#include "platform/types.h"

namespace pelvar {

// Creates the directory with every missing parent. An empty path does nothing; failures
// are not reported (the caller finds out when it uses the directory).
void CreateDirPath(const AnsiString& path);

// The system's temporary directory ($TMPDIR, else /tmp) with a trailing delimiter.
AnsiString GetTempDirectory();

// Recordable-CD queries. This system has no CD-burning service: the query always answers
// that there is no recordable drive (drive is cleared), and there is no staging folder.
bool GetRecorderDrive(AnsiString& drive);
AnsiString GetCDBurnStagingFolder();

// A set of characters (the delimiter sets of the word functions).
class TSysCharSet {
 public:
  TSysCharSet() = default;
  TSysCharSet(std::initializer_list<char> chars);
  // Every character of the text.
  static TSysCharSet Of(std::string_view chars);
  bool Contains(char c) const { return bits_.test(static_cast<unsigned char>(c)); }
  TSysCharSet& Include(char c) {
    bits_.set(static_cast<unsigned char>(c));
    return *this;
  }

 private:
  std::bitset<256> bits_;
};

// Replaces every occurrence of search, scanning left to right; text produced by a
// replacement is not searched again. An empty search changes nothing.
AnsiString ReplaceAll(const AnsiString& text, const AnsiString& search,
                      const AnsiString& replacement);

// A word is a maximal run of characters not in the delimiter set.
int32_t WordCount(const AnsiString& text, const TSysCharSet& delims);
// 1-based position of the first character of the n-th word (n from 1); 0 when there are
// fewer words.
int32_t WordPosition(int32_t n, const AnsiString& text, const TSysCharSet& delims);
// The n-th word (n from 1); empty when there are fewer words.
AnsiString ExtractWord(int32_t n, const AnsiString& text, const TSysCharSet& delims);

// The n-th field (from 1) of text, fields being the pieces between occurrences of the
// separator (which may be longer than one character); the last field runs to the end.
// n < 1 or beyond the last field gives an empty text. An empty separator makes the whole
// text one field.
AnsiString GetToken(const AnsiString& text, const AnsiString& separator, int32_t n);
// Clears list and fills it with the pieces of text between separators, untrimmed; a
// trailing empty piece is not added (so "a,b," gives "a" and "b"; "a,,b" gives "a", ""
// and "b"; an empty text gives no piece).
void Split(const AnsiString& text, char separator, TStrings* list);

// The character tables, built once on first use (the unit initialisations build them at
// start). Upper and lower: entries 0 to 32 map to themselves, the others to the
// Windows-1250 case conversion. Collation: entry k (1 to 255) is the 0-based position of
// the upper-cased character k among the characters 1 to 255 sorted by the
// case-insensitive comparison (AnsiCompareText); entry 0 is 0.
using TCharTable = std::array<uint8_t, 256>;
const TCharTable& AnsiUpperTable();
const TCharTable& AnsiLowerTable();
const TCharTable& AnsiCollationTable();

}  // namespace pelvar
