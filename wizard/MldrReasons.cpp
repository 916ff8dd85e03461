#include "wizard/MldrReasons.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "archive/abconst.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

// A reason the wizard knows: every one of `parts` occurs in the text (letter case aside).
// %s in the sentence takes the file the text names (file "..."), with the blank before
// it; without one it goes.
struct TReason {
  std::string_view parts[2];
  const char* czech;
};

// The more particular first.
constexpr TReason kReasons[] = {
    {{"No space left on device", ""},
     "Na disku souboru%s není volné místo. Uvolněte na něm místo a akci opakujte."},
    {{"Disk quota exceeded", ""},
     "Na disku souboru%s je vyčerpána kvóta uživatele. Uvolněte místo a akci opakujte."},
    {{"Read-only file system", ""},
     "Disk souboru%s je chráněn proti zápisu (připojen jen pro čtení). Umožněte zápis a akci opakujte."},
    {{"Permission denied", ""},
     "Průvodce nemá oprávnění k souboru%s. Upravte přístupová práva a akci opakujte."},
    {{"Cannot create file", "No such file or directory"},
     "Soubor%s nelze vytvořit: jeho adresář neexistuje nebo médium není připojeno."},
    {{"No such file or directory", ""},
     "Soubor%s nebo jeho adresář neexistuje, případně médium není připojeno."},
    {{"Not a directory", ""},
     "Cesta vede přes soubor tam, kde má být adresář. Opravte cestu nebo soubor přejmenujte."},
    {{"Input/output error", ""},
     "Disk ohlásil chybu při čtení nebo zápisu souboru%s; médium může být vadné nebo odpojené."},
    {{"expected backup description record", ""},
     "Soubor není záloha databáze, nebo je záloha poškozená. Vytvořte na stanici novou zálohu."},
    {{"cannot open backup file", ""},
     "Soubor zálohy nelze otevřít: neexistuje, nebo k němu průvodce nemá přístup."},
    {{"Damaged archive", ""},
     "Archiv je poškozený nebo neúplný (nejspíš nebyl celý zkopírován). Vytvořte na stanici nový archiv."},
    {{"Failed CRC Check", ""},
     "Soubor v archivu je poškozený (nesouhlasí jeho kontrolní součet). Vytvořte na stanici nový archiv."},
    {{"File not found", ""},
     "Soubor nebyl nalezen."},
    {{"Database already opened with engine instance", ""},
     "Databázi%s právě používá jiný program (server databází nebo jiný program praxe). Ukončete jej a akci "
     "opakujte."},
    {{"unsupported on-disk structure", ""},
     "Databáze%s je z jiné verze databázového stroje a průvodce ji neumí otevřít."},
    {{"is not a valid database", ""},
     "Soubor%s není databáze, nebo je poškozený."},
    {{"user name and password are not defined", ""},
     "Databáze odmítla přihlášení správce (jméno nebo heslo)."},
    {{"Unable to complete network request", ""},
     "Server databází není dostupný: neběží, nebo k němu nevede síť."},
    {{"lock time-out on wait transaction", ""},
     "Data právě mění jiný program praxe. Ukončete práci na všech stanicích a akci opakujte."},
    {{"deadlock", ""},
     "Data právě mění jiný program praxe. Ukončete práci na všech stanicích a akci opakujte."},
};

bool Contains(std::string_view text, std::string_view part) {
  if (part.empty()) return true;
  const auto it = std::search(text.begin(), text.end(), part.begin(), part.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
  return it != text.end();
}

// The file a text names as file "...".
AnsiString NamedFile(const AnsiString& text) {
  const size_t at = text.find("file \"");
  if (at == AnsiString::npos) return AnsiString();
  const size_t from = at + 6;
  const size_t end = text.find('"', from);
  if (end == AnsiString::npos) return AnsiString();
  return text.substr(from, end - from);
}

// The text on one line: the engine's lines joined by " / ".
AnsiString OneLine(const AnsiString& text) {
  AnsiString out;
  size_t from = 0;
  while (from <= text.size()) {
    size_t end = text.find_first_of("\r\n", from);
    if (end == AnsiString::npos) end = text.size();
    const AnsiString line = Trim(text.substr(from, end - from));
    if (!line.empty()) out += (out.empty() ? "" : " / ") + line;
    from = end + 1;
  }
  return out;
}

}  // namespace

AnsiString ReasonForAdministrator(const AnsiString& text) {
  for (const TReason& r : kReasons) {
    // A text that already carries a sentence of the table stays as it is.
    const AnsiString sentence = CZ(r.czech);
    const size_t at = sentence.find("%s");
    const AnsiString head = at == AnsiString::npos ? sentence : sentence.substr(0, at);
    const AnsiString tail = at == AnsiString::npos ? AnsiString() : sentence.substr(at + 2);
    if (text.find(head.size() >= tail.size() ? head : tail) != AnsiString::npos) return text;
  }
  for (const TReason& r : kReasons) {
    if (!Contains(text, r.parts[0]) || !Contains(text, r.parts[1])) continue;
    AnsiString sentence = CZ(r.czech);
    const size_t at = sentence.find("%s");
    if (at != AnsiString::npos) {
      const AnsiString file = NamedFile(text);
      sentence.replace(at, 2, file.empty() ? AnsiString() : " " + file);
    }
    return sentence + " (" + OneLine(text) + ")";
  }
  return text;
}

AnsiString ZipFailureReason(int32_t code, const AnsiString& entry) {
  // The kit's own text of the code, without the detail it has no value for here.
  AnsiString kit = AbErrorText(code);
  for (const char* tail : {": %s", " - %s", "%s"}) {
    const size_t at = kit.find(tail);
    if (at != AnsiString::npos) kit.erase(at);
  }
  kit = Trim(kit) + " (" + IntToStr(code) + ")";
  AnsiString czech;
  switch (code) {
    case AbFileNotFound:
      czech = Format(CZ("V archivu chybí soubor %s: archiv nevytvořil průvodce stanice, nebo je neúplný. "
                        "Vytvořte na stanici nový archiv."),
                     {entry});
      break;
    case AbZipBadCRC:
      czech = Format(CZ("Soubor %s v archivu je poškozený (nesouhlasí jeho kontrolní součet). Vytvořte na "
                        "stanici nový archiv."),
                     {entry});
      break;
    case AbInflateBlockError:
    case AbInvalidLFH:
    case AbErrZipInvalid:
    case AbReadError:
      czech = Format(CZ("Soubor %s v archivu je poškozený. Vytvořte na stanici nový archiv."), {entry});
      break;
    case AbUnknownCompressionMethod:
    case AbUnsupportedCompressionMethod:
    case AbNoExtractionMethod:
    case AbZipVersionNeeded:
      czech = Format(CZ("Soubor %s je v archivu uložen způsobem, který průvodce neumí rozbalit. Vytvořte archiv "
                        "průvodcem stanice."),
                     {entry});
      break;
    default:
      czech = Format(CZ("Soubor %s archivu nelze rozbalit, archiv je nejspíš poškozený. Vytvořte na stanici nový "
                        "archiv."),
                     {entry});
      break;
  }
  return czech + " (" + kit + ")";
}

}  // namespace pelvar
