// The references and played tables of the partner, patient, examination, variant,
// template and case steps, for the integrity check of play_integrity.h.
#pragma once

#include <string>
#include <vector>

#include "play_integrity.h"

namespace pelvar::test {

inline const std::vector<PlayRef>& PartnerAndCaseRefs() {
  static const std::vector<PlayRef> refs = [] {
    std::vector<PlayRef> r = {
        {"PARTNER_KONTAKT", "ID_PARTNER", "PARTNER", "ID_PARTNER"},
        {"PARTNER_BANKA", "ID_PARTNER", "PARTNER", "ID_PARTNER"},
        {"FARMA", "ID_PARTNER", "PARTNER", "ID_PARTNER"},
        {"PACIENT", "ID_PARTNER", "PARTNER", "ID_PARTNER"},
        {"PACIENT", "ID_DRUH", "KATEGORIE_PACIENTA", "ID_KATEGORIE_PACIENTA"},
        {"PACIENT", "ID_TABLE_STATUS", "PRIPAD", "ID_PRIPAD"},
        {"PARTNER_ZALOHA", "ID_PARTNER", "PARTNER", "ID_PARTNER"},
        {"PARTNER_ZALOHA_CERPANI", "ID_PARTNER_ZALOHA", "PARTNER_ZALOHA", "ID_PARTNER_ZALOHA"},
        {"VYSETRENI_NA_VZTEKLINU", "ID_PACIENT", "PACIENT", "ID_PACIENT"},
        {"VYSETRENI_NOVOTVARU_MZ", "ID_PACIENT", "PACIENT", "ID_PACIENT"},
        {"VYSETRENI_NOVOTVARU_MZ", "ID_PARTNER", "PARTNER", "ID_PARTNER"},
        {"VYSETRENI_HISTOLOGIE", "ID_PACIENT", "PACIENT", "ID_PACIENT"},
        {"VYSETRENI_HISTOLOGIE", "ID_PARTNER", "PARTNER", "ID_PARTNER"},
        {"REVERS", "ID_PACIENT", "PACIENT", "ID_PACIENT"},
        {"MEZINARODNI_OSVEDCENI", "ID_PACIENT", "PACIENT", "ID_PACIENT"},
        {"PREMISTENI_ZVIRETE", "ID_PARTNER", "PARTNER", "ID_PARTNER"},
        {"PREMISTENI_ZVIRETE_ZVI", "ID_PREMISTENI_ZVIRETE", "PREMISTENI_ZVIRETE", "ID_PREMISTENI_ZVIRETE"},
        {"VARIANTA", "ID_MERNA_JEDNOTKA_SK", "MERNA_JEDNOTKA", "ID_MERNA_JEDNOTKA"},
        {"VARIANTA", "ID_MERNA_JEDNOTKA_VY", "MERNA_JEDNOTKA", "ID_MERNA_JEDNOTKA"},
        {"SABLONA_VYKONU_POLOZKA", "ID_SABLONA_VYKONU", "SABLONA_VYKONU", "ID_SABLONA_VYKONU"},
        {"SABLONA_VYKONU_POLOZKA", "ID_VARIANTA", "VARIANTA", "ID_VARIANTA"},
        {"SABLONA_VYKONU_POLOZKA", "ID_MERNA_JEDNOTKA", "MERNA_JEDNOTKA", "ID_MERNA_JEDNOTKA"},
        {"PRIPAD", "ID_PACIENT", "PACIENT", "ID_PACIENT"},
    };
    // Organisation keys of every table that carries them, user keys where they are.
    for (const char* t : {"PARTNER", "PACIENT", "PARTNER_ZALOHA", "PARTNER_ZALOHA_CERPANI", "VYSETRENI_NA_VZTEKLINU",
                          "VYSETRENI_NOVOTVARU_MZ", "VYSETRENI_HISTOLOGIE", "REVERS", "MEZINARODNI_OSVEDCENI",
                          "PREMISTENI_ZVIRETE", "PREMISTENI_ZVIRETE_ZVI", "VARIANTA", "SABLONA_VYKONU", "PRIPAD"}) {
      r.push_back({t, "ID_ZARIZENI", "ZARIZENI", "ID_ZARIZENI"});
      r.push_back({t, "ID_ODDELENI", "ODDELENI", "ID_ODDELENI"});
      r.push_back({t, "ID_PRACOVISTE", "PRACOVISTE", "ID_PRACOVISTE"});
    }
    for (const char* t : {"PARTNER", "PACIENT", "VYSETRENI_NA_VZTEKLINU", "VYSETRENI_NOVOTVARU_MZ",
                          "VYSETRENI_HISTOLOGIE", "REVERS", "MEZINARODNI_OSVEDCENI", "PRIPAD"}) {
      r.push_back({t, "ID_ZALOZIL", "UZIVATEL_NEW", "ID_UZIVATEL"});
      r.push_back({t, "ID_MODIFIKOVAL", "UZIVATEL_NEW", "ID_UZIVATEL"});
    }
    return r;
  }();
  return refs;
}

inline const std::vector<std::string>& PartnerAndCaseTables() {
  static const std::vector<std::string> tables = {
      "PARTNER", "PARTNER_KONTAKT", "PARTNER_BANKA", "FARMA", "PACIENT", "PARTNER_ZALOHA", "PARTNER_ZALOHA_CERPANI",
      "VYSETRENI_NA_VZTEKLINU", "VYSETRENI_NOVOTVARU_MZ", "VYSETRENI_HISTOLOGIE", "REVERS", "MEZINARODNI_OSVEDCENI",
      "PREMISTENI_ZVIRETE", "PREMISTENI_ZVIRETE_ZVI", "VARIANTA", "SABLONA_VYKONU", "SABLONA_VYKONU_POLOZKA",
      "PRIPAD"};
  return tables;
}

// Both groups together with the organisation and code lists they stand on.
inline std::vector<std::string> PlayedUpToCases() {
  std::vector<std::string> t = OrgAndCodeTables();
  t.insert(t.end(), PartnerAndCaseTables().begin(), PartnerAndCaseTables().end());
  return t;
}
inline std::vector<PlayRef> RefsUpToCases() {
  std::vector<PlayRef> r = OrgAndCodeRefs();
  r.insert(r.end(), PartnerAndCaseRefs().begin(), PartnerAndCaseRefs().end());
  return r;
}

}  // namespace pelvar::test
