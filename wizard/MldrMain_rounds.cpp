// What ties a station's data to the rounds of this practice, and what a run keeps of
// each station's play-in.
//
// The harmonised data carry, in their database description after the mark of the
// finishing that made them, the practice's identity, the number of that round and, for
// every station delivered so far, the round whose data it was given last:
//   Praxe=<16 hex digits>
//   Kolo=<round>
//   Stanice.<identification, hex of its upper-cased bytes>=<round>
// Every station's result is made from those data, so the database a station hands in
// tells which practice and round it comes from. Before a station's rows are played:
// - a database of another practice is refused;
// - a database older than the round the station was given last (its archive of an
//   earlier round handed in again, or one without the identity from a station that was
//   given it) is refused: its marked rows were played already, and playing them again
//   would put their old versions over what every station changed since.
// Databases without the identity play while main has none, and for a station main has
// never delivered to: the first round plays as it always did.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/oslayer.h"
#include "platform/sysutils.h"
#include "sync/DmMeld.h"
#include "wizard/MldrMain.h"

namespace pelvar {

namespace {

const char* const kPracticeName = "Praxe";
const char* const kRoundName = "Kolo";
const char* const kStationPrefix = "Stanice.";

// The identity lines of a database description (the first line is the finishing's mark).
struct TRoundLedger {
  AnsiString Practice;
  int32_t Round = 0;
  std::map<AnsiString, int32_t> Stations;  // hex identification -> round given last

  static TRoundLedger Parse(const AnsiString& description) {
    TRoundLedger l;
    TStringList lines;
    lines.SetText(description);
    for (int32_t i = 0; i < lines.Count(); ++i) {
      const AnsiString line = Trim(lines.Strings(i));
      const size_t eq = line.find('=');
      if (eq == AnsiString::npos) continue;
      const AnsiString name = line.substr(0, eq);
      const AnsiString value = line.substr(eq + 1);
      if (name == kPracticeName) {
        l.Practice = value;
      } else if (name == kRoundName) {
        l.Round = StrToIntDef(value, 0);
      } else if (name.compare(0, 8, kStationPrefix) == 0) {
        l.Stations[name.substr(8)] = StrToIntDef(value, 0);
      }
    }
    return l;
  }

  AnsiString Text() const {
    AnsiString text = AnsiString(kPracticeName) + "=" + Practice + "\r\n" + kRoundName + "=" + IntToStr(Round);
    for (const auto& [station, round] : Stations) text += "\r\n" + AnsiString(kStationPrefix) + station + "=" + IntToStr(round);
    return text;
  }
};

// A station's identification as the ledger keeps it: its upper-cased bytes in hex, so
// that any character of it survives the description's character set.
AnsiString StationKey(const AnsiString& ident) {
  AnsiString key;
  for (unsigned char c : AnsiUpperCase(Trim(ident))) key += IntToHex(static_cast<uint64_t>(c), 2);
  return key;
}

AnsiString NewPracticeIdentity() {
  std::random_device random;
  const uint64_t token = (static_cast<uint64_t>(random()) << 32) ^ random();
  return IntToHex(token, 16);
}

// The description of the station database (Src) or of the working database (Dst).
AnsiString DescriptionOf(TDMMeldrun& dm, bool station) {
  const AnsiString sql =
      "select cast(substring(RDB$DESCRIPTION from 1 for 8000) as varchar(8000)) from RDB$DATABASE";
  const Variant v = station ? dm.SelectSrc(sql) : dm.SelectDst(sql);
  return v.IsNull() || v.IsEmpty() ? AnsiString() : v.AsString();
}

// A file name made of a station's identification: characters a file name cannot hold
// become "_".
AnsiString FileNamePart(const AnsiString& ident) {
  AnsiString out;
  for (char c : Trim(ident))
    out += AnsiString("\\/:*?\"<>|").find(c) != AnsiString::npos || static_cast<unsigned char>(c) < 0x20 ? '_' : c;
  return out.empty() ? AnsiString("_") : out;
}

}  // namespace

bool TFrmMldrMain::CheckStationRound(int32_t index) {
  station_refused_ = false;
  TDMMeldrun* dm = MakeDataModule();
  const TRoundLedger main = TRoundLedger::Parse(DescriptionOf(*dm, false));
  if (main.Practice.empty()) return true;
  const TRoundLedger station = TRoundLedger::Parse(DescriptionOf(*dm, true));
  const AnsiString ident = station_idents_->Strings(index);
  const AnsiString file = station_sources_->Strings(index);
  const auto given = main.Stations.find(StationKey(ident));
  AnsiString reason;
  if (!station.Practice.empty() && station.Practice != main.Practice) {
    reason = Format(CZ("Archiv %s stanice \"%s\" nepochází z této praxe: jeho data byla předána jiné hlavní "
                       "databázi."),
                    {file, ident}) +
             "\r" +
             CZ("Nic z něj nebude sehráno a stanice nedostane sehraná data. Zkontrolujte, zda je v úvodní tabulce "
                "uveden správný soubor stanice.");
  } else if (given != main.Stations.end() && station.Round < given->second) {
    const AnsiString from = station.Practice.empty() ? CZ("z dat, která stanice měla před prvním sehráním")
                                                     : Format(CZ("z dat %d. sehrání"), {station.Round});
    reason = Format(CZ("Archiv %s stanice \"%s\" už byl sehrán: vychází %s, stanice však od té doby dostala "
                       "data %d. sehrání."),
                    {file, ident, from, given->second}) +
             "\r" +
             CZ("Jeho změny jsou v hlavní databázi a jejich opětovné sehrání by přepsalo novější změny ostatních "
                "stanic, proto nebude sehrán. Stanice má pracovat s daty, která dostala z posledního sehrání; "
                "změny zadané od té doby do starých dat na ní zadejte znovu.");
  }
  if (reason.empty()) return true;
  station_refused_ = true;
  MessageDlg(reason, mtWarning, {mbOK});
  return false;
}

AnsiString TFrmMldrMain::NextRoundLedger() {
  TRoundLedger ledger = TRoundLedger::Parse(DescriptionOf(*MakeDataModule(), false));
  if (ledger.Practice.empty()) ledger.Practice = NewPracticeIdentity();
  ++ledger.Round;
  for (int32_t i = 0; i < station_idents_->Count(); ++i)
    if (!StationLeftOut(i)) ledger.Stations[StationKey(station_idents_->Strings(i))] = ledger.Round;
  return ledger.Text();
}

AnsiString TFrmMldrMain::StationWorkFile(const AnsiString& prefix, int32_t index) const {
  return IncludeTrailingPathDelimiter(settings_.WorkDir()) +
         Format("%s_%d_%s.txt", {prefix, index + 1, FileNamePart(station_idents_->Strings(index))});
}

AnsiString TFrmMldrMain::StationLogPath(int32_t index) const { return StationWorkFile("Import", index); }

void TFrmMldrMain::KeepStationLog(int32_t index, int32_t errors_before) {
  // Each engine empties "Import.txt" when it is made: what it wrote goes to the
  // station's own log in the working directory, which the run's end moves to the
  // archive with its other results.
  std::ofstream out(SysFileName(StationLogPath(index)), std::ios::binary | std::ios::app);
  std::ifstream in(SysFileName("Import.txt"), std::ios::binary);
  if (in) out << in.rdbuf();
  const TStringList& errors = MakeDataModule()->ErrorList();
  for (int32_t i = std::max<int32_t>(errors_before, 0); i < errors.Count(); ++i) out << errors.Strings(i) << "\r\n";
}

}  // namespace pelvar
