// TIniFile: a Windows INI file with the semantics of the Windows profile functions.
//
// The file is Windows-1250 text ("[Section]" lines, "Key=Value" lines, ';' comments).
// Section and key names compare case-insensitively (Czech letters included); names and
// values are trimmed, and a value enclosed in matching quotes ('...' or "...") loses
// them. The first of duplicated sections or keys wins. A missing file, section or key
// gives the default. Every write goes to the file at once, keeps all other lines, and
// replaces the file atomically (a temporary file renamed over it), so a crash leaves
// the old file or the new one, never a mixture.
#pragma once

#include "platform/classes.h"
#include "platform/types.h"

namespace pelvar {

class TIniFile : public TObject {
 public:
  explicit TIniFile(const AnsiString& file_name);

  const AnsiString& FileName() const { return file_name_; }

  AnsiString ReadString(const AnsiString& section, const AnsiString& ident,
                        const AnsiString& def) const;
  // Raises EIniFileException when the file cannot be written, or for a value or name
  // with a line break (it would break the file's structure).
  void WriteString(const AnsiString& section, const AnsiString& ident, const AnsiString& value);
  // Decimal, "$FF" or "0xFF"; anything else gives the default.
  int32_t ReadInteger(const AnsiString& section, const AnsiString& ident, int32_t def) const;
  void WriteInteger(const AnsiString& section, const AnsiString& ident, int32_t value);
  // An integer, non-zero is true; written as "1" or "0".
  bool ReadBool(const AnsiString& section, const AnsiString& ident, bool def) const;
  void WriteBool(const AnsiString& section, const AnsiString& ident, bool value);
  // With the process's format settings (decimal comma); a bad number gives the default.
  double ReadFloat(const AnsiString& section, const AnsiString& ident, double def) const;
  void WriteFloat(const AnsiString& section, const AnsiString& ident, double value);
  // In the process's date and time formats ("10.12.2026 14:05:00"); text that is not a
  // date gives the default.
  TDateTime ReadDate(const AnsiString& section, const AnsiString& ident, TDateTime def) const;
  TDateTime ReadDateTime(const AnsiString& section, const AnsiString& ident, TDateTime def) const;
  TDateTime ReadTime(const AnsiString& section, const AnsiString& ident, TDateTime def) const;
  void WriteDate(const AnsiString& section, const AnsiString& ident, TDateTime value);
  void WriteDateTime(const AnsiString& section, const AnsiString& ident, TDateTime value);
  void WriteTime(const AnsiString& section, const AnsiString& ident, TDateTime value);

  bool SectionExists(const AnsiString& section) const;
  bool ValueExists(const AnsiString& section, const AnsiString& ident) const;
  // The key names of the section, in file order.
  void ReadSection(const AnsiString& section, TStrings* strings) const;
  // The section names, in file order.
  void ReadSections(TStrings* strings) const;
  // "Key=Value" lines of the section.
  void ReadSectionValues(const AnsiString& section, TStrings* strings) const;
  // Removes the section with all its keys.
  void EraseSection(const AnsiString& section);
  void DeleteKey(const AnsiString& section, const AnsiString& ident);
  // Writes are immediate; nothing to flush.
  void UpdateFile() {}

 private:
  AnsiString file_name_;
};

// Replaces the file (a Linux path) with data atomically: written to a temporary file in
// the same directory, flushed, then renamed over it; an existing file keeps its
// permissions. Raises EInOutError with the system's reason when that fails.
void ReplaceFileAtomically(const std::string& sys_path, const std::string& data);

}  // namespace pelvar
