#include "dbclient/IB_Constants.h"

#include <array>

#include "platform/codepage.h"

namespace pelvar {

namespace {

// The texts as written (UTF-8), converted to Windows-1250 once at first use.
constexpr const char* kTexts[] = {
    "Storno",
    "&Nápověda",
    "Přihlašovací dialog",
    "Uložit změny?",
    "Variant must be of an array type",
    "Unable to assign to array AsString",
    "String truncation:",
    "Unexpected Boolean Value",
    "Params buffer size mismatch",
    "Invalid INSERT statement: No columns",
    "Not ready yet",
    "Must create a TIB_Column instance",
    "Skutečně chcete skončit?",
    "Načítání výsledků dotazu",
    "Řádek# %d",
    "Přerušení",
    "Databáze",
    "Uživatel",
    "Heslo",
    "OK",
    "Nenalezen žádný záznam",
    "Kruhové odkazy nejsou povoleny",
    "Chybný typ třídy",
    "Chybná syntaxe: nesprávný počet závorek",
    "No record data to load",
    "Není implementováno na této úrovni",
    "Chybná ColData",
    "Database information return buffer was truncated",
    "Not implemented",
    "Cursor is already open",
    "Cannot use LocateNearest with NULL",
    "No LocateLinks entries",
    "Invalid Boolean string conversion:",
    "Unsupported array variant conversion",
    "Dimensions are different",
    "Dimension has different number of elements",
    "Nepřiřazený BlobNode",
    "Nepřiřazená transakce",
    "Chybný buffer pro RowsAffected",
    "Nemohu uložit do Graphic",
    "InterBase klient GDS32.DLL není nainstalován",
    "Chybné DPB: Více něž 255 znaků",
    "Chybný uživatelský DML odkaz na sloupec: %s",
    "Záznam nebyl nalezen, aby mohl být změněn",
    "Záznam nebyl nalezen, aby mohl být smazán",
    "Nemohu inicializovat defaultní %s",
    "Pro tuto operaci musí být StringList setříděn",
    "Chybná interní transakce IB_Transaction",
    "Několik záznamů opraveno",
    "Několik záznamů smazáno",
    "Několik záznamů vloženo",
    "Chybné jméno databáze",
    "Nemohu převést (assign) na %s",
    "Duplicate String Error",
    "Hodnota mimo rozsah",
    "Přetečení Smallint",
    "Přetečení Integer",
    "Přetečení Int64",
    "Nemohu změnit hodnotu ReadOnly po nastartování",
    "Nemohu změnit hodnotu Isolation po nastartování",
    "Nemohu změnit hodnotu RecVersion po nastartování",
    "Nemohu změnit hodnotu LockWait po nastartování",
    "Chybný odkaz na Delete",
    "DatabaseName nemůže být nevyplněná",
    "Nepodporovaná konverze sloupce",
    "Nemohu nalézt záznam",
    "Záznam nebyl vložen",
    "Chybný údaj KeyLinks: %s",
    "Na začátku datasetu",
    "Nemohu použít pesimistické zamykání s hodnotou LockWait",
    "Nemohu opravit současný řádek",
    "Nemohu vložit nový řádek",
    "Nemohu smazat současný řádek",
    "Prohledávání není povoleno",
    "Cannot get record count",
    "Záznam je uzamčen jiným uživatelem",
    "%s je jen na čtení",
    "%s je povinná položka",
    "Nemohu použít PostRetaining s Cached Updates",
    "Vráceno více záznamů v jednom čtení",
    "Unable to edit row",
    "Chybný buffer pro RowsAffected",
    "Chybná záložka (Bookmark)",
    "Nemohu převést (assign) z %s",
    "Nemohu Prepare nevyplněný příkaz",
    "Pokus o provedení neznámého příkazu",
    "Kruhové odkazy nejsou povoleny",
    "Nemohu změnit během připojení",
    "Přihlašování skončilo chybou",
    "Nemohu získat charakteristiku spojení",
    "Nemohu stornovat současný záznam",
    "Nemohu uložit současný záznam",
    "Dataset je neaktivní",
    "Dataset je nyní otevřen",
    "Dataset nemůže listovat (scroll)",
    "Dataset je jen pro čtení",
    "Dataset načítá data",
    "Chybná KeyRelation hodnota",
    "Číslo řádku RowNum není dosud implementováno",
    "Na konci datasetu",
    "Chyba při ukládání všech datasetů",
    "Chyba při stornování všech datasetů",
    "Nemohu měnit, %s není vlastněno %s",
    "%s overrun: %s bytes expected but %s bytes found",
    "Nevyplněný SQL příkaz není povolen",
    "Na konci datasetu",
    "Nepředvídaná délka isc_dsql_sql_info",
    "Vrácena chybná data z isc_dsql_sql_info",
    "Nemohu změnit hodnotu RequestLive během aktivního stavu",
    "IB_CURSOR je jednosměrný",
    "Nepodporovaný typ sloupce: %d",
    "Položka číslo: %d nenalezena",
    "Položka jméno: %s nenalezena",
    "Nemohu nalézt DLL import %s",
    "Nemohu otevřít kurzor bez klíče",
    "Klíž záznamu byl ztracen\r\nChyba při otevření kurzoru",
    "Spojení již bylo navázáno",
    "Spojení nebylo navázáno",
    "Chybná cesta ke spojení",
    "Nemohu nahradit interní transakci jako defaultní",
    "Transakce již byla nastartována",
    "Transakce nemá spojení",
    "Transakce je pozastavena",
    "Příkaz nebyl prepared",
    "Nemohu prepare příkaz",
    "Příkaz již je otevřen",
    "Příkaz musí mít přiřazenu IB_Connection",
    "Musí být přiřazena IB_Transaction",
    "Žádná aktivní transakce pro spuštění s",
    "Explicitní transakce není povolena při ServerAutoCommit",
    "Chybný stav transakce. Nemohu aktivovat",
    "Transakce má nevyřízené změny",
    "ISC ERROR CODE:",
    "ISC ERROR MESSAGE:",
    "SQL ERROR CODE:",
    "SQL ERROR MESSAGE:",};
static_assert(std::size(kTexts) == IB_MessageCount);

const std::array<AnsiString, IB_MessageCount>& Table() {
  static const std::array<AnsiString, IB_MessageCount> table = [] {
    std::array<AnsiString, IB_MessageCount> t;
    for (int i = 0; i < IB_MessageCount; ++i) {
      t[i] = CZ(kTexts[i]);
    }
    return t;
  }();
  return table;
}

}  // namespace

const AnsiString& IB_Message(TIB_Msg id) {
  const int i = static_cast<int>(id);
  if (i < 0 || i >= IB_MessageCount) {
    static const AnsiString empty;
    return empty;
  }
  return Table()[i];
}

const char* const IB_DefaultClientLibrary1 = "fbclient.dll";
const char* const IB_DefaultClientLibrary2 = "gds32.dll";

}  // namespace pelvar
