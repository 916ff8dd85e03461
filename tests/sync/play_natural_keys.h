// The natural keys by which the play-in recognises a station row that main already holds:
// such a row is merged into main's row, or skipped ("Přeskočeno") where its table only
// adds rows (code lists, examinations, contacts ...), so its own values need not be in
// main. Each key is written over codes and values, never over keys (a parent by its code,
// a daily record by its patient, day and time), so that one expression reads the station
// and main alike; where the play-in matches parents' keys (the rights to organisation
// units), the station's side reads the parents' new keys. The other organisation and
// access-rights tables are not here: a row of theirs passes only when it is in main or
// kept marked.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "play_integrity.h"

namespace pelvar::test {

struct NaturalKey {
  std::string table;
  std::string from;  // the table as t, with the parents its expression reads
  std::string expr;
  // Where the key is made of parents' keys: the station's side, with each parent's new
  // key (its _NEW column, which the play-in added to the station's copy) when it got one.
  std::string station_from = {}, station_expr = {};
};

inline const std::vector<NaturalKey>& NaturalKeys() {
  static const std::vector<NaturalKey> keys = [] {
    // A daily record by its patient's code, its day and its time.
    const std::string daily =
        "P.PACIENT||'\\'||snvl(cast(DZ.DATUM as varchar(11)), '')||'\\'||snvl(cast(DZ.CAS as varchar(13)), '')";
    const auto daily_from = [](const std::string& t) {
      return t + " t join DENNI_ZAZNAM DZ on DZ.ID_DENNI_ZAZNAM = t.ID_DENNI_ZAZNAM join PACIENT P on "
                 "P.ID_PACIENT = DZ.ID_PACIENT";
    };
    const auto by_patient = [](const std::string& t) { return t + " t join PACIENT P on P.ID_PACIENT = t.ID_PACIENT"; };
    const auto by_partner = [](const std::string& t) { return t + " t join PARTNER P on P.ID_PARTNER = t.ID_PARTNER"; };
    const auto day = [](const std::string& c) { return "snvl(cast(t." + c + " as varchar(11)), '')"; };
    const auto own = [](const std::string& t, const std::string& expr) { return NaturalKey{t, t + " t", expr}; };
    const std::string patient_day = "P.PACIENT||'\\'||" + day("ZALOZENI_ZAZNAMU");
    return std::vector<NaturalKey>{
        own("CENIK", "t.CENIK"),
        own("BANKA", "t.BANKA"),
        own("DIAGNOZA", "t.DIAGNOZA"),
        own("FRAZE", "t.FRAZE"),
        own("HODNOCENI", "t.HODNOCENI"),
        own("MERNA_JEDNOTKA", "t.MERNA_JEDNOTKA"),
        own("PSC", "t.PSC"),
        own("RECEPTAR", "snvl(t.OBLAST, '')||'\\'||snvl(t.SKUPINA, '')||'\\'||snvl(t.RECEPTAR, '')"),
        own("SKLAD", "t.SKLAD"),
        own("POHLAVI", "t.POHLAVI"),
        own("TEXT", "snvl(cast(t.ID_TYP_TEXTU as varchar(10)), '')||'\\'||snvl(t.TEXT, '')"),
        own("TYP_USTAJENI", "t.TYP_USTAJENI_NAZEV"),
        own("KATASTR", "t.KATASTR"),
        own("KATEGORIE_PACIENTA",
            "t.KATEGORIE_PACIENTA||case when t.ID_PREDEK = -1 then '' else '\\'||snvl(t.PREDEK, '') end"),
        own("PARTNER", "t.PARTNER"),
        {"PARTNER_KONTAKT", by_partner("PARTNER_KONTAKT"), "snvl(t.PARTNER_KONTAKT, '')||'\\'||P.PARTNER"},
        own("PARTNER_BANKA", "t.PARTNER_BANKA"),
        own("FARMA", "t.FARMA"),
        own("PACIENT", "t.PACIENT"),
        {"VYSETRENI_NA_VZTEKLINU", by_patient("VYSETRENI_NA_VZTEKLINU"), patient_day},
        {"VYSETRENI_NOVOTVARU_MZ", by_patient("VYSETRENI_NOVOTVARU_MZ"), patient_day},
        {"VYSETRENI_HISTOLOGIE", by_patient("VYSETRENI_HISTOLOGIE"), patient_day},
        {"REVERS", by_patient("REVERS"), patient_day},
        {"MEZINARODNI_OSVEDCENI", by_patient("MEZINARODNI_OSVEDCENI"), patient_day},
        {"PREMISTENI_ZVIRETE", by_partner("PREMISTENI_ZVIRETE"),
         "P.PARTNER||'\\'||snvl(t.PORADOVE_CISLO, '')||'\\'||" + day("DATUM")},
        {"PREMISTENI_ZVIRETE_ZVI",
         "PREMISTENI_ZVIRETE_ZVI t join PREMISTENI_ZVIRETE Z on Z.ID_PREMISTENI_ZVIRETE = t.ID_PREMISTENI_ZVIRETE "
         "join PARTNER P on P.ID_PARTNER = Z.ID_PARTNER",
         "P.PARTNER||'\\'||snvl(Z.PORADOVE_CISLO, '')||'\\'||snvl(t.IDENTIFIKACNI_CISLO, '')"},
        own("VARIANTA", "t.VARIANTA"),
        own("SABLONA_VYKONU", "t.SABLONA_VYKONU_NAZEV"),
        own("SABLONA_VYKONU_POLOZKA", "snvl(t.SABLONA_VYKONU_NAZEV, '')||'\\'||snvl(t.VARIANTA, '')"),
        {"PRIPAD", by_patient("PRIPAD"), "P.PACIENT||'\\'||snvl(t.PRIPAD, '')"},
        {"DENNI_ZAZNAM_HODNOTA", daily_from("DENNI_ZAZNAM_HODNOTA"),
         daily + "||'\\'||snvl(cast(t.CAS as varchar(13)), '')"},
        {"DENNI_ZAZNAM_RECEPT", daily_from("DENNI_ZAZNAM_RECEPT"),
         daily + "||'\\'||snvl(cast(t.PORADOVE_CISLO as varchar(10)), '')"},
        {"DZS_ZUB", daily_from("DZS_ZUB"), daily + "||'\\'||cast(t.ID_ZUB as varchar(10))"},
        {"KOPROLOGIE", by_patient("KOPROLOGIE"), patient_day},
        {"SOUBOR", by_patient("SOUBOR"), "P.PACIENT||'\\'||snvl(t.POPIS, '')||'\\'||" + day("DATUM")},
        {"VAKCINACE_ODCERVENI", by_patient("VAKCINACE_ODCERVENI"),
         "P.PACIENT||'\\'||snvl(t.VARIANTA, '')||'\\'||" + day("DATUM")},
        {"VARIANTA_SKLAD", "VARIANTA_SKLAD t join VARIANTA V on V.ID_VARIANTA = t.ID_VARIANTA",
         "V.VARIANTA||'\\'||snvl(t.SKLAD, '')"},
        {"VARIANTA_CENIK", "VARIANTA_CENIK t join VARIANTA V on V.ID_VARIANTA = t.ID_VARIANTA",
         "V.VARIANTA||'\\'||snvl(t.SKLAD, '')||'\\'||snvl(t.CENIK, '')"},
        {"VARIANTA_PARTNER", "VARIANTA_PARTNER t join VARIANTA V on V.ID_VARIANTA = t.ID_VARIANTA",
         "V.VARIANTA||'\\'||snvl(t.PARTNER, '')||'\\'||snvl(t.OBJEDNACI_KOD, '')"},
        {"POHLEDAVKA", by_partner("POHLEDAVKA") + " join DOKLAD D on D.ID_DOKLAD = t.ID_DOKLAD",
         "P.PARTNER||'\\'||snvl(D.DOKLAD, '')||'\\'||snvl(D.TYP_DOKLADU, '')||'\\'||snvl(t.POHLEDAVKA, '')"},
        {"LABVH", by_patient("LABVH"),
         "P.PACIENT||'\\'||snvl(t.NAZEV, '')||'\\'||" + day("DATUM") + "||'\\'||snvl(cast(t.CAS as varchar(13)), '')"},
        {"CESTA", "CESTA t left join VARIANTA V on V.ID_VARIANTA = t.ID_VARIANTA",
         day("DATUM") + "||'\\'||snvl(cast(t.HODINA_ODJEZDU as varchar(13)), '')||'\\'||"
                        "snvl(cast(t.HODINA_PRIJEZDU as varchar(13)), '')||'\\'||snvl(V.VARIANTA, '')"},
        own("SKUPINA_OBRAZOVE_DOKUMENTACE", "snvl(t.NAZEV, '')||'\\'||snvl(cast(t.TYP as varchar(10)), '')"),
        {"OBRAZOVA_DOKUMENTACE", by_patient("OBRAZOVA_DOKUMENTACE"),
         "P.PACIENT||'\\'||snvl(t.NAZEV, '')||'\\'||snvl(upper(t.TYP_SOUBORU), '')||'\\'||" + day("ZALOZENI_ZAZNAMU")},
        {"ZADANKA", by_patient("ZADANKA"), "P.PACIENT||'\\'||snvl(t.ZADANKA, '')"},
        own("PRODEJKA", "t.PRODEJKA"),
        own("ORD_CINNOST", "t.ORD_CINNOST_NAZEV"),
        own("CIL_CESTY", "snvl(t.CIL_CESTY, '')||'\\'||snvl(cast(t.VZDALENOST as varchar(11)), '')"),
        own("DODATEK", "snvl(t.DODATEK, '')||'\\'||snvl(t.TABLE_NAME, '')"),
        own("FORMA_UHRADY", "snvl(t.FORMA_UHRADY, '')||'\\'||snvl(t.FORMA_UHRADY_NAZEV, '')"),
        own("LABHODN", "snvl(t.ZKRATKA, '')||'\\'||snvl(t.HODNOCENI, '')"),
        own("RTG_PROJEKCE", "t.PROJEKCE"),
        own("RTG_OBLAST", "t.OBLAST"),
        own("VYROBCE", "t.VYROBCE"),
        own("UMISTENI", "t.UMISTENI"),
        own("OZNACENI_ZAZNAMU", "t.OZNACENI_ZAZNAMU_NAZEV"),
        {"DOKLAD_POLOZKA_UZ",
         "DOKLAD_POLOZKA_UZ t join DOKLAD D on D.ID_DOKLAD = t.ID_DOKLAD left join SKLAD S on S.ID_SKLAD = t.ID_SKLAD",
         "snvl(D.DOKLAD, '')||'\\'||snvl(t.VARIANTA, '')||'\\'||snvl(S.SKLAD, '')||'\\'||snvl(t.VYROBNI_CISLO, '')||"
         "'\\'||" + day("DATUM_EXPIRACE")},
        {"PRISTUP_ORG_JEDNOTKA", "PRISTUP_ORG_JEDNOTKA t",
         "t.ID_PRISTUP||'/'||t.ID_PRACOVISTE||'/'||t.ID_ZARIZENI||'/'||t.ID_ODDELENI",
         "PRISTUP_ORG_JEDNOTKA t join PRISTUP a on a.ID_PRISTUP = t.ID_PRISTUP join PRACOVISTE w on w.ID_PRACOVISTE = "
         "t.ID_PRACOVISTE join ZARIZENI z on z.ID_ZARIZENI = t.ID_ZARIZENI join ODDELENI o on o.ID_ODDELENI = "
         "t.ID_ODDELENI",
         "coalesce(a.ID_PRISTUP_NEW, t.ID_PRISTUP)||'/'||coalesce(w.ID_PRACOVISTE_NEW, t.ID_PRACOVISTE)||'/'||"
         "coalesce(z.ID_ZARIZENI_NEW, t.ID_ZARIZENI)||'/'||coalesce(o.ID_ODDELENI_NEW, t.ID_ODDELENI)"},
        {"ZPRAVA", by_patient("ZPRAVA"), "P.PACIENT||'\\'||" + day("DATUM") + "||'\\'||snvl(t.HLAVICKA, '')"},
    };
  }();
  return keys;
}

// The tables whose rows the play-in merges into main's row of the same natural key (the
// others skip such a row, with a log line or silently). A merged row that is not in main
// with its values was overwritten by a later row of the same key, which the log shows.
inline const std::set<std::string>& MergedTables() {
  static const std::set<std::string> tables = {
      "DIAGNOZA", "PARTNER", "PACIENT", "VARIANTA", "PRIPAD", "DZS_ZUB", "KOPROLOGIE", "SOUBOR",
      "VAKCINACE_ODCERVENI", "VARIANTA_SKLAD", "VARIANTA_CENIK", "VARIANTA_PARTNER", "POHLEDAVKA", "LABVH", "CESTA",
      "OBRAZOVA_DOKUMENTACE", "ZADANKA", "PRODEJKA", "LABHODN", "OZNACENI_ZAZNAMU", "ZPRAVA", "PRISTUP_ORG_JEDNOTKA"};
  return tables;
}

using KeyedRows = std::vector<std::pair<std::string, std::string>>;  // (table, key)

inline std::string NaturalKeyValue(const std::string& expr) {
  return "cast(coalesce(" + expr + ", '<none>') as varchar(400))";
}

// The selects (for KeyedValues) that read, on a station database, the natural keys of the
// given rows, under "N:<table>": station key -> natural key.
inline std::vector<std::pair<std::string, std::string>> StationNaturalKeySelects(const PlaySchema& station,
                                                                                  const KeyedRows& rows) {
  std::map<std::string, std::set<std::string>> wanted;
  for (const auto& [table, key] : rows) wanted[table].insert(key);
  std::vector<std::pair<std::string, std::string>> selects;
  for (const NaturalKey& n : NaturalKeys()) {
    const auto w = wanted.find(n.table);
    if (w == wanted.end() || !station.Has(n.table)) continue;
    const std::string key = station.tables.at(n.table).key;
    std::string in;
    for (const std::string& k : w->second) in += (in.empty() ? "" : ",") + k;
    const bool own_side = !n.station_expr.empty();
    selects.push_back({"N:" + n.table, "select 'N:" + n.table + "' as T, cast(t." + key + " as varchar(20)) as K, " +
                                           NaturalKeyValue(own_side ? n.station_expr : n.expr) + " as V from " +
                                           (own_side ? n.station_from : n.from) + " where t." + key + " in (" + in +
                                           ")"});
  }
  return selects;
}

// The selects that read every natural key main holds in the given tables, under
// "N:<table>": natural key -> "-".
inline std::vector<std::pair<std::string, std::string>> MainNaturalKeySelects(const std::set<std::string>& tables) {
  std::vector<std::pair<std::string, std::string>> selects;
  for (const NaturalKey& n : NaturalKeys())
    if (tables.count(n.table))
      selects.push_back({"N:" + n.table, "select 'N:" + n.table + "' as T, " + NaturalKeyValue(n.expr) +
                                             " as K, '-' as V from " + n.from});
  return selects;
}

// Whether main holds the natural key of a station row: at_station and in_main are what
// the selects above read.
inline bool NaturalKeyInMain(const std::map<std::string, std::map<std::string, std::string>>& at_station,
                             const std::map<std::string, std::map<std::string, std::string>>& in_main,
                             const std::string& table, const std::string& key) {
  const auto s = at_station.find("N:" + table);
  const auto m = in_main.find("N:" + table);
  if (s == at_station.end() || m == in_main.end()) return false;
  const auto v = s->second.find(key);
  if (v == s->second.end()) return false;  // its parent is gone at the station
  // A key that names several rows (the first column of a longer primary key) holds their
  // natural keys joined by ";": each must be in main.
  for (size_t from = 0; from <= v->second.size();) {
    size_t end = v->second.find(';', from);
    if (end == std::string::npos) end = v->second.size();
    const std::string one = v->second.substr(from, end - from);
    if (one == "<none>" || m->second.count(one) == 0) return false;
    from = end + 1;
  }
  return true;
}

}  // namespace pelvar::test
