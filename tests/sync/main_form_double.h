// A stand-in for the wizard's main form as the data module sees it: settings from a map,
// the station index, the switches, and a record of the progress display.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sync/MainFormLink.h"

namespace pelvar::test {

class MainFormDouble : public TMainFormLink {
 public:
  // "SECTION/Ident" -> value; a missing key gives the default.
  std::map<std::string, AnsiString> Ini;
  int32_t Station = 0;
  bool Auto = false;
  bool RecentOnly = false;
  int32_t Max = 0;
  int32_t Position = 0;
  std::vector<AnsiString> CountTexts;
  int32_t Repaints = 0;

  AnsiString ReadIniString(const AnsiString& section, const AnsiString& ident,
                           const AnsiString& def) override {
    auto it = Ini.find(section + "/" + ident);
    return it == Ini.end() ? def : it->second;
  }
  int32_t StationIndex() const override { return Station; }
  bool AutoContinue() const override { return Auto; }
  bool JournalRecentOnly() const override { return RecentOnly; }
  int32_t ProgressMax() const override { return Max; }
  void SetProgressMax(int32_t value) override { Max = value; }
  void SetProgressPosition(int32_t value) override { Position = value; }
  void SetCountText(const AnsiString& text) override { CountTexts.push_back(text); }
  void RepaintProgress() override { ++Repaints; }
};

}  // namespace pelvar::test
