// The references and tables of the last-cycle steps (details, laboratory, images,
// requests, sales, code lists II, reports, closing items) for the integrity check of
// play_integrity.h.
#pragma once

#include <string>
#include <vector>

#include "play_integrity.h"
#include "play_integrity_partners.h"

namespace pelvar::test {

// The references of the tables these steps play.
inline const std::vector<PlayRef>& DetailRefs() {
  static const std::vector<PlayRef> refs = [] {
    std::vector<PlayRef> r = {
        {"KOPROLOGIE", "ID_PACIENT", "PACIENT", "ID_PACIENT"},
        {"KOPROLOGIE", "ID_DOKLAD_POLOZKA", "DOKLAD_POLOZKA_UM", "ID_DOKLAD_POLOZKA"},
        {"SOUBOR", "ID_PACIENT", "PACIENT", "ID_PACIENT"},
        {"VAKCINACE_ODCERVENI", "ID_PACIENT", "PACIENT", "ID_PACIENT"},
        {"VAKCINACE_ODCERVENI", "ID_VARIANTA", "VARIANTA", "ID_VARIANTA"},
        {"VAKCINACE_ODCERVENI", "ID_DOKLAD_POLOZKA", "DOKLAD_POLOZKA_UM", "ID_DOKLAD_POLOZKA"},
        {"VARIANTA_SKLAD", "ID_VARIANTA", "VARIANTA", "ID_VARIANTA"},
        {"VARIANTA_SKLAD", "ID_SKLAD", "SKLAD", "ID_SKLAD"},
        {"VARIANTA_CENIK", "ID_VARIANTA", "VARIANTA", "ID_VARIANTA"},
        {"VARIANTA_CENIK", "ID_SKLAD", "SKLAD", "ID_SKLAD"},
        {"VARIANTA_CENIK", "ID_CENIK", "CENIK", "ID_CENIK"},
        {"VARIANTA_PARTNER", "ID_VARIANTA", "VARIANTA", "ID_VARIANTA"},
        {"VARIANTA_PARTNER", "ID_PARTNER", "PARTNER", "ID_PARTNER"},
        {"POHLEDAVKA", "ID_PARTNER", "PARTNER", "ID_PARTNER"},
        {"POHLEDAVKA", "ID_DOKLAD", "DOKLAD", "ID_DOKLAD"},
        {"LABVH", "ID_PACIENT", "PACIENT", "ID_PACIENT"},
        {"LABVD", "ID_LABVH", "LABVH", "ID_LABVH"},
        {"CESTA", "ID_VARIANTA", "VARIANTA", "ID_VARIANTA"},
        {"CESTA", "ID_DOKLAD_POLOZKA", "DOKLAD_POLOZKA_UM", "ID_DOKLAD_POLOZKA"},
        {"OBRAZOVA_DOKUMENTACE", "ID_PACIENT", "PACIENT", "ID_PACIENT"},
        {"OBRAZOVA_DOKUMENTACE", "ID_SKUPINA", "SKUPINA_OBRAZOVE_DOKUMENTACE", "ID_SKUPINA"},
        {"ZADANKA", "ID_PACIENT", "PACIENT", "ID_PACIENT"},
        {"ZADANKA", "ID_PRIPAD", "PRIPAD", "ID_PRIPAD"},
        {"PRODEJKA", "ID_PARTNER", "PARTNER", "ID_PARTNER"},
        {"PRODEJKA", "ID_VLASTNI_ZASTUPCE", "UZIVATEL_NEW", "ID_UZIVATEL"},
        {"LAB_VAZBY", "ID_VARIANTA", "VARIANTA", "ID_VARIANTA"},
        {"ZPRAVA", "ID_PACIENT", "PACIENT", "ID_PACIENT"},
        {"DOKLAD_POLOZKA_UZ", "ID_DOKLAD", "DOKLAD", "ID_DOKLAD"},
        {"DOKLAD_POLOZKA_UZ", "ID_VARIANTA", "VARIANTA", "ID_VARIANTA"},
        {"DOKLAD_POLOZKA_UZ", "ID_MERNA_JEDNOTKA", "MERNA_JEDNOTKA", "ID_MERNA_JEDNOTKA"},
    };
    for (const char* t : {"KOPROLOGIE", "SOUBOR", "VAKCINACE_ODCERVENI", "POHLEDAVKA", "CESTA", "OBRAZOVA_DOKUMENTACE",
                          "PRODEJKA", "DOKLAD_POLOZKA_UZ"}) {
      r.push_back({t, "ID_ZARIZENI", "ZARIZENI", "ID_ZARIZENI"});
      r.push_back({t, "ID_ODDELENI", "ODDELENI", "ID_ODDELENI"});
      r.push_back({t, "ID_PRACOVISTE", "PRACOVISTE", "ID_PRACOVISTE"});
    }
    for (const char* t : {"OBRAZOVA_DOKUMENTACE", "ZADANKA", "PRODEJKA", "ZPRAVA", "DOKLAD_POLOZKA_UZ"}) {
      r.push_back({t, "ID_ZALOZIL", "UZIVATEL_NEW", "ID_UZIVATEL"});
      r.push_back({t, "ID_MODIFIKOVAL", "UZIVATEL_NEW", "ID_UZIVATEL"});
    }
    return r;
  }();
  return refs;
}

// The tables whose rows the check compares (those keyed by one column).
inline const std::vector<std::string>& DetailTables() {
  static const std::vector<std::string> tables = {
      "KOPROLOGIE", "SOUBOR", "VAKCINACE_ODCERVENI", "VARIANTA_SKLAD", "VARIANTA_CENIK", "VARIANTA_PARTNER",
      "POHLEDAVKA", "LABVH", "CESTA", "SKUPINA_OBRAZOVE_DOKUMENTACE", "OBRAZOVA_DOKUMENTACE", "ZADANKA", "PRODEJKA",
      "ORD_CINNOST", "CIL_CESTY", "DODATEK", "FORMA_UHRADY", "LABHODN", "RTG_PROJEKCE", "RTG_OBLAST", "VYROBCE",
      "UMISTENI", "OZNACENI_ZAZNAMU", "ZPRAVA", "DOKLAD_POLOZKA_UZ"};
  return tables;
}

// Every played table whose rows the check compares, and every reference of them: the
// whole play-in.
inline std::vector<std::string> AllPlayedTables() {
  std::vector<std::string> t = PlayedUpToCases();
  t.insert(t.end(), DocumentTables().begin(), DocumentTables().end());
  for (const char* more : {"DENNI_ZAZNAM_ORTOPED", "DENNI_ZAZNAM_PLAZI", "DENNI_ZAZNAM_DROBNI_SAVCI"}) t.push_back(more);
  t.insert(t.end(), DetailTables().begin(), DetailTables().end());
  return t;
}
inline std::vector<PlayRef> AllPlayRefs() {
  std::vector<PlayRef> r = RefsUpToCases();
  r.insert(r.end(), DocumentRefs().begin(), DocumentRefs().end());
  for (const char* t : {"DENNI_ZAZNAM_ORTOPED", "DENNI_ZAZNAM_PLAZI", "DENNI_ZAZNAM_DROBNI_SAVCI"}) {
    r.push_back({t, "ID_DENNI_ZAZNAM", "DENNI_ZAZNAM", "ID_DENNI_ZAZNAM"});
    r.push_back({t, "ID_PACIENT", "PACIENT", "ID_PACIENT"});
  }
  r.insert(r.end(), DetailRefs().begin(), DetailRefs().end());
  return r;
}

}  // namespace pelvar::test
