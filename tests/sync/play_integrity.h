// The integrity check of a play-in, for every engine test that plays tables:
// - every reference column of the played tables holds -1, Null or a key the main
//   database has;
// - no generator of a played table is below the highest key of its table;
// - no main row is lost, and a main row that changed (apart from the change mark, the
//   source-key column and new-key columns) is one the station had marked as changed.
// Snapshot the station's marks and the main rows before the play, check after it. The
// reference and generator lists are data: later tables add their rows to them.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/practice.h"

namespace pelvar::test {

// One statement through isql (the semicolon added): the values of its column V.
inline std::vector<std::string> Qn(const std::string& db, const std::string& sql) { return Query(db, sql + ";"); }
inline std::string Q1(const std::string& db, const std::string& sql) { return QueryOne(db, sql + ";"); }

struct PlayRef {
  const char* table;
  const char* column;
  const char* parent;
  const char* parent_key;
};

// References among the organisation, user and code-list tables.
inline const std::vector<PlayRef>& OrgAndCodeRefs() {
  static const std::vector<PlayRef> refs = {
      {"ZARIZENI_BANKA", "ID_ZARIZENI", "ZARIZENI", "ID_ZARIZENI"},
      {"ODDELENI", "ID_ZARIZENI", "ZARIZENI", "ID_ZARIZENI"},
      {"ODDELENI", "ID_CENIK", "CENIK", "ID_CENIK"},
      {"PRACOVISTE", "ID_ZARIZENI", "ZARIZENI", "ID_ZARIZENI"},
      {"PRACOVISTE", "ID_ODDELENI", "ODDELENI", "ID_ODDELENI"},
      {"PRISTUP", "ID_PRISTUPOVA_PRAVA", "PRISTUPOVA_PRAVA", "ID_PRISTUPOVA_PRAVA"},
      {"UZIVATEL_NEW", "ID_PRISTUPOVA_PRAVA", "PRISTUPOVA_PRAVA", "ID_PRISTUPOVA_PRAVA"},
      {"PRACUZIV", "ID_PRACOVISTE", "PRACOVISTE", "ID_PRACOVISTE"},
      {"PRACUZIV", "ID_ZARIZENI", "ZARIZENI", "ID_ZARIZENI"},
      {"PRACUZIV", "ID_UZIVATEL", "UZIVATEL_NEW", "ID_UZIVATEL"},
      {"PRACUZIV", "ID_PRISTPRAV", "PRISTUPOVA_PRAVA", "ID_PRISTUPOVA_PRAVA"},
      {"PRISTUP_ORG_JEDNOTKA", "ID_PRISTUP", "PRISTUP", "ID_PRISTUP"},
      {"PRISTUP_ORG_JEDNOTKA", "ID_ZARIZENI", "ZARIZENI", "ID_ZARIZENI"},
      {"PRISTUP_ORG_JEDNOTKA", "ID_ODDELENI", "ODDELENI", "ID_ODDELENI"},
      {"PRISTUP_ORG_JEDNOTKA", "ID_PRACOVISTE", "PRACOVISTE", "ID_PRACOVISTE"},
      {"FRAZE", "ID_ZARIZENI", "ZARIZENI", "ID_ZARIZENI"},
      {"FRAZE", "ID_ODDELENI", "ODDELENI", "ID_ODDELENI"},
      {"FRAZE", "ID_PRACOVISTE", "PRACOVISTE", "ID_PRACOVISTE"},
      {"FRAZE", "ID_ZALOZIL", "UZIVATEL_NEW", "ID_UZIVATEL"},
      {"FRAZE", "ID_MODIFIKOVAL", "UZIVATEL_NEW", "ID_UZIVATEL"},
      {"FRAZE", "ID_ZARIZENI_PLATI_PRO", "ZARIZENI", "ID_ZARIZENI"},
      {"FRAZE", "ID_ODDELENI_PLATI_PRO", "ODDELENI", "ID_ODDELENI"},
      {"FRAZE", "ID_PRACOVISTE_PLATI_PRO", "PRACOVISTE", "ID_PRACOVISTE"},
      {"RECEPTAR", "ID_PREDEK", "RECEPTAR", "ID_RECEPTAR"},
      {"KATEGORIE_PACIENTA", "ID_PREDEK", "KATEGORIE_PACIENTA", "ID_KATEGORIE_PACIENTA"},
  };
  return refs;
}

// The played tables of the organisation and code-list steps.
inline const std::vector<std::string>& OrgAndCodeTables() {
  static const std::vector<std::string> tables = {
      "ZARIZENI", "ZARIZENI_BANKA", "ODDELENI", "PRACOVISTE", "PRISTUPOVA_PRAVA", "PRISTUP", "UZIVATEL_NEW",
      "PRACUZIV", "PRISTUP_ORG_JEDNOTKA", "CENIK", "BANKA", "DIAGNOZA", "FRAZE", "HODNOCENI", "MERNA_JEDNOTKA",
      "PSC", "RECEPTAR", "SKLAD", "POHLAVI", "TEXT", "TYP_USTAJENI", "KATASTR", "KATEGORIE_PACIENTA"};
  return tables;
}

// References of the documents, daily records, document items and the daily records'
// detail tables.
inline const std::vector<PlayRef>& DocumentRefs() {
  static const std::vector<PlayRef> refs = [] {
    std::vector<PlayRef> r = {
        {"DOKLAD", "ID_PARTNER", "PARTNER", "ID_PARTNER"},
        {"DOKLAD", "ID_PREDEK", "DOKLAD", "ID_DOKLAD"},
        {"DOKLAD", "ID_CENIK", "CENIK", "ID_CENIK"},
        {"DOKLAD", "ID_SKLAD", "SKLAD", "ID_SKLAD"},
        {"DOKLAD", "ID_ODDELENI", "ODDELENI", "ID_ODDELENI"},
        {"DENNI_ZAZNAM", "ID_PACIENT", "PACIENT", "ID_PACIENT"},
        {"DENNI_ZAZNAM", "ID_DOKLAD", "DOKLAD", "ID_DOKLAD"},
        {"DENNI_ZAZNAM", "ID_PRIPAD", "PRIPAD", "ID_PRIPAD"},
        {"DENNI_ZAZNAM_HODNOTA", "ID_DENNI_ZAZNAM", "DENNI_ZAZNAM", "ID_DENNI_ZAZNAM"},
        {"DENNI_ZAZNAM_RECEPT", "ID_DENNI_ZAZNAM", "DENNI_ZAZNAM", "ID_DENNI_ZAZNAM"},
        {"DZS_ZUB", "ID_DENNI_ZAZNAM", "DENNI_ZAZNAM", "ID_DENNI_ZAZNAM"},
    };
    for (const char* t : {"DOKLAD_POLOZKA_FA", "DOKLAD_POLOZKA_PD", "DOKLAD_POLOZKA_UM", "DOKLAD_POLOZKA_SK"}) {
      r.push_back({t, "ID_DOKLAD", "DOKLAD", "ID_DOKLAD"});
      r.push_back({t, "ID_VARIANTA", "VARIANTA", "ID_VARIANTA"});
      r.push_back({t, "ID_DENNI_ZAZNAM", "DENNI_ZAZNAM", "ID_DENNI_ZAZNAM"});
      r.push_back({t, "ID_MERNA_JEDNOTKA", "MERNA_JEDNOTKA", "ID_MERNA_JEDNOTKA"});
    }
    for (const char* t : {"DENNI_ZAZNAM_OFTALMO", "DENNI_ZAZNAM_STOMATO", "DENNI_ZAZNAM_MEKKE_TKANE"}) {
      r.push_back({t, "ID_DENNI_ZAZNAM", "DENNI_ZAZNAM", "ID_DENNI_ZAZNAM"});
      r.push_back({t, "ID_PACIENT", "PACIENT", "ID_PACIENT"});
    }
    return r;
  }();
  return refs;
}

// The played tables of the document steps and the daily records' detail steps that every
// schema version has.
inline const std::vector<std::string>& DocumentTables() {
  static const std::vector<std::string> tables = {
      "DOKLAD", "DENNI_ZAZNAM", "DOKLAD_POLOZKA_FA", "DOKLAD_POLOZKA_PD", "DOKLAD_POLOZKA_UM", "DOKLAD_POLOZKA_SK",
      "DENNI_ZAZNAM_HODNOTA", "DENNI_ZAZNAM_RECEPT", "DENNI_ZAZNAM_OFTALMO", "DENNI_ZAZNAM_STOMATO",
      "DENNI_ZAZNAM_MEKKE_TKANE", "DZS_ZUB"};
  return tables;
}

class PlayIntegrity {
 public:
  PlayIntegrity(std::string main, std::string station, std::vector<std::string> tables,
                std::vector<PlayRef> refs)
      : main_(std::move(main)), station_(std::move(station)), tables_(std::move(tables)), refs_(std::move(refs)) {}

  // Before the play: the station's marked keys and the main rows.
  void Snapshot() {
    for (const std::string& t : tables_) {
      const std::string key = KeyExpr(main_, t);
      for (const std::string& k : Qn(station_, "select " + key + " as V from " + t + " where ST is not null"))
        marked_[t].insert(k);
      before_[t] = Rows(t);
    }
  }

  // After the play: the list of problems (empty when all is well).
  std::vector<std::string> Check() const {
    std::vector<std::string> problems;
    for (const PlayRef& r : refs_) {
      const std::string sql = std::string("select cast(c.") + r.column + " as varchar(20)) as V from " + r.table +
                              " c where c." + r.column + " is not null and c." + r.column +
                              " <> -1 and not exists (select 1 from " + r.parent + " p where p." + r.parent_key +
                              " = c." + r.column + ")";
      for (const std::string& v : Qn(main_, sql))
        problems.push_back(std::string(r.table) + "." + r.column + " = " + v + " has no " + r.parent);
    }
    for (const std::string& t : tables_) {
      const std::string generator = "GEN_" + t;
      if (Q1(main_, "select count(*) as V from RDB$GENERATORS where RDB$GENERATOR_NAME = '" + generator + "'") ==
          "1") {
        const std::string key = KeyExpr(main_, t);
        const std::string behind = Q1(
            main_, "select gen_id(" + generator + ", 0) - (select coalesce(max(" + key + "), 0) from " + t +
                       ") as V from RDB$DATABASE");
        if (!behind.empty() && behind[0] == '-') problems.push_back(generator + " is below the highest key of " + t);
      }
      const auto after = Rows(t);
      const auto& before = before_.at(t);
      const auto& marked = marked_.count(t) ? marked_.at(t) : std::set<std::string>{};
      for (const auto& [key, row] : before) {
        const auto it = after.find(key);
        if (it == after.end()) {
          problems.push_back(t + " row " + key + " was lost");
        } else if (it->second != row && marked.count(key) == 0) {
          problems.push_back(t + " row " + key + " changed though the station had not changed it");
        }
      }
    }
    return problems;
  }

  const std::set<std::string>& Marked(const std::string& table) const { return marked_.at(table); }

 private:
  // The primary key's column (its first one).
  static std::string KeyExpr(const std::string& db, const std::string& table) {
    return Q1(db,
                    "select trim(s.RDB$FIELD_NAME) as V from RDB$RELATION_CONSTRAINTS c join RDB$INDEX_SEGMENTS s on "
                    "s.RDB$INDEX_NAME = c.RDB$INDEX_NAME where c.RDB$RELATION_NAME = '" +
                        table + "' and c.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY' and s.RDB$FIELD_POSITION = 0");
  }
  // Key -> a hash of every column but the change mark, the source key and new-key columns.
  std::map<std::string, std::string> Rows(const std::string& table) const {
    const std::vector<std::string> columns =
        Qn(main_, "select trim(RDB$FIELD_NAME) as V from RDB$RELATION_FIELDS where RDB$RELATION_NAME = '" + table +
                         "' order by RDB$FIELD_POSITION");
    std::string expr;
    for (const std::string& c : columns) {
      if (c == "ST" || c == "ID" || (c.size() > 4 && c.substr(c.size() - 4) == "_NEW")) continue;
      // The laboratory-request step writes its new request's key back into the daily
      // record it belongs to, whether or not the station changed that record.
      if (table == "DENNI_ZAZNAM" && c == "ID_ZADANKA") continue;
      if (!expr.empty()) expr += "||'|'||";
      expr += "coalesce(cast(hash(\"" + c + "\") as varchar(24)), 'N')";
    }
    const std::string key = KeyExpr(main_, table);
    const CommandResult r =
        RunIsql("set list on;\nselect cast(" + key + " as varchar(20)) as K, " + expr + " as V from " + table + ";\n",
                main_);
    const auto keys = ListValues(r.output, "K");
    const auto values = ListValues(r.output, "V");
    std::map<std::string, std::string> rows;
    for (size_t i = 0; i < keys.size() && i < values.size(); ++i) rows[keys[i]] = values[i];
    return rows;
  }

  std::string main_;
  std::string station_;
  std::vector<std::string> tables_;
  std::vector<PlayRef> refs_;
  std::map<std::string, std::set<std::string>> marked_;
  std::map<std::string, std::map<std::string, std::string>> before_;
};

}  // namespace pelvar::test
