// The integrity check of a play-in, for every engine test that plays tables:
// - every reference column of the played tables holds -1, Null or a key the main
//   database has;
// - no generator of a played table is below the highest key of its table;
// - no main row is lost, and a main row that changed (apart from the change mark, the
//   source-key column and new-key columns) is one the station had marked as changed.
// - (CheckChangedRows) every row a station marked changed is in main, with its values,
//   or named in the logs; a row new to main that a generator keys never has its
//   station key.
// Snapshot the stations' marks and the main rows before the play, check after it. The
// reference and generator lists are data: later tables add their rows to them. Every
// check reads a database in one isql run.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <set>
#include <string>
#include <utility>
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
    for (const char* t :
         {"DOKLAD_POLOZKA_FA", "DOKLAD_POLOZKA_PD", "DOKLAD_POLOZKA_UM", "DOKLAD_POLOZKA_SK", "DOKLAD_POLOZKA_BV"}) {
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
      "DOKLAD_POLOZKA_BV",
      "DENNI_ZAZNAM_HODNOTA", "DENNI_ZAZNAM_RECEPT", "DENNI_ZAZNAM_OFTALMO", "DENNI_ZAZNAM_STOMATO",
      "DENNI_ZAZNAM_MEKKE_TKANE", "DZS_ZUB"};
  return tables;
}

// The reference check in one isql run: the dangling references, as
// "TABLE.COLUMN = value has no PARENT".
inline std::vector<std::string> DanglingRefs(const std::string& main, const std::vector<PlayRef>& refs) {
  // One statement per 50 references: a statement names at most 256 tables.
  std::string script = "set list on;\n";
  for (size_t i = 0; i < refs.size(); ++i) {
    const PlayRef& r = refs[i];
    script += std::string(i % 50 == 0 ? "" : " union all ") + "select cast('" + r.table + "." + r.column +
              " = ' || c." + r.column + " || ' has no " + r.parent + "' as varchar(200)) as V from " + r.table +
              " c where c." + r.column + " is not null and c." + r.column + " <> -1 and not exists (select 1 from " +
              r.parent + " p where p." + r.parent_key + " = c." + r.column + ")";
    if (i % 50 == 49 || i + 1 == refs.size()) script += ";\n";
  }
  if (refs.empty()) return {};
  const CommandResult r = RunIsql(script, main);
  if (r.exit_code != 0) throw std::runtime_error("isql-fb failed on " + main + ": " + r.output.substr(0, 2000));
  return ListValues(r.output, "V");
}

// The columns of the tables of a database and the first column of each primary key.
struct PlaySchema {
  struct Table {
    std::string key;
    std::vector<std::string> columns;
    std::set<std::string> text;    // CHAR and VARCHAR columns
    std::set<std::string> floats;  // FLOAT and DOUBLE PRECISION columns
  };
  std::map<std::string, Table> tables;
  std::set<std::string> generators;

  static PlaySchema Read(const std::string& db) {
    PlaySchema s;
    const CommandResult r = RunIsql(
        "set list on;\n"
        "select trim(rf.RDB$RELATION_NAME) as T, trim(rf.RDB$FIELD_NAME) as C, f.RDB$FIELD_TYPE as Y from "
        "RDB$RELATION_FIELDS rf join RDB$RELATIONS r on r.RDB$RELATION_NAME = rf.RDB$RELATION_NAME join RDB$FIELDS f "
        "on f.RDB$FIELD_NAME = rf.RDB$FIELD_SOURCE where r.RDB$SYSTEM_FLAG = 0 and r.RDB$VIEW_BLR is null order by "
        "rf.RDB$RELATION_NAME, rf.RDB$FIELD_POSITION;\n"
        "select trim(c.RDB$RELATION_NAME) as PT, trim(s.RDB$FIELD_NAME) as PK from RDB$RELATION_CONSTRAINTS c join "
        "RDB$INDEX_SEGMENTS s on s.RDB$INDEX_NAME = c.RDB$INDEX_NAME where c.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY' and "
        "s.RDB$FIELD_POSITION = 0;\n"
        "select trim(RDB$GENERATOR_NAME) as G from RDB$GENERATORS where RDB$SYSTEM_FLAG = 0;\n",
        db);
    if (r.exit_code != 0) throw std::runtime_error("reading the schema of " + db + ": " + r.output);
    const auto t = ListValues(r.output, "T"), c = ListValues(r.output, "C"), y = ListValues(r.output, "Y");
    for (size_t i = 0; i < t.size() && i < c.size() && i < y.size(); ++i) {
      Table& table = s.tables[t[i]];
      table.columns.push_back(c[i]);
      if (y[i] == "14" || y[i] == "37") table.text.insert(c[i]);
      if (y[i] == "10" || y[i] == "27") table.floats.insert(c[i]);
    }
    const auto pt = ListValues(r.output, "PT"), pk = ListValues(r.output, "PK");
    for (size_t i = 0; i < pt.size() && i < pk.size(); ++i)
      if (s.tables.count(pt[i])) s.tables[pt[i]].key = pk[i];
    for (const std::string& g : ListValues(r.output, "G")) s.generators.insert(g);
    return s;
  }
  bool Has(const std::string& table) const { return tables.count(table) != 0; }
  bool HasColumn(const std::string& table, const std::string& column) const {
    const auto it = tables.find(table);
    if (it == tables.end()) return false;
    for (const std::string& c : it->second.columns)
      if (c == column) return true;
    return false;
  }
};

// Runs one "select 'TABLE' as T, K, V" per table in one isql script: table -> key -> value.
// A key met twice keeps its values joined by ";".
inline std::map<std::string, std::map<std::string, std::string>> KeyedValues(
    const std::string& db, const std::vector<std::pair<std::string, std::string>>& selects) {
  std::map<std::string, std::map<std::string, std::string>> out;
  if (selects.empty()) return out;
  std::string script = "set list on;\n";
  for (const auto& [table, sql] : selects) script += sql + ";\n";
  const CommandResult r = RunIsql(script, db);
  if (r.exit_code != 0) throw std::runtime_error("isql-fb failed on " + db + ": " + r.output.substr(0, 2000));
  const auto t = ListValues(r.output, "T"), k = ListValues(r.output, "K"), v = ListValues(r.output, "V");
  if (t.size() != k.size() || t.size() != v.size()) throw std::runtime_error("unexpected isql output on " + db);
  for (size_t i = 0; i < t.size(); ++i) {
    std::string& value = out[t[i]][k[i]];
    value = value.empty() ? v[i] : value + ";" + v[i];
  }
  return out;
}

class PlayIntegrity {
 public:
  PlayIntegrity(std::string main, std::string station, std::vector<std::string> tables,
                std::vector<PlayRef> refs)
      : PlayIntegrity(std::move(main), std::vector<std::string>{std::move(station)}, std::move(tables),
                      std::move(refs)) {}
  // Several stations played one after the other into the same main database.
  PlayIntegrity(std::string main, std::vector<std::string> stations, std::vector<std::string> tables,
                std::vector<PlayRef> refs)
      : main_(std::move(main)), stations_(std::move(stations)), tables_(std::move(tables)), refs_(std::move(refs)) {}

  // Before the play: the stations' marked keys (with the plain values of their rows) and
  // the main rows.
  void Snapshot() {
    schema_ = PlaySchema::Read(main_);
    station_rows_.clear();
    station_texts_.clear();
    station_schemas_.clear();
    for (const std::string& station : stations_) {
      const PlaySchema st = PlaySchema::Read(station);
      std::vector<std::pair<std::string, std::string>> selects;
      for (const std::string& t : tables_) {
        if (!st.Has(t) || !st.HasColumn(t, "ST") || KeyOf(t).empty()) continue;
        const auto passed = PassedOver.find(t);
        const std::string where =
            " from " + t + " where ST is not null" + (passed == PassedOver.end() ? "" : " and not (" + passed->second + ")");
        selects.push_back({t, "select '" + t + "' as T, cast(" + KeyOf(t) + " as varchar(20)) as K, " +
                                  PlainExpr(t, &st) + " as V" + where});
        selects.push_back({"W:" + t, "select 'W:" + t + "' as T, cast(" + KeyOf(t) + " as varchar(20)) as K, " +
                                         TextsExpr(t, st) + " as V" + where});
      }
      // The marks the play passes over count as marked: those rows may change too.
      for (const auto& [t, condition] : PassedOver)
        if (st.Has(t))
          selects.push_back({"P:" + t, "select 'P:" + t + "' as T, cast(" + KeyOf(t) + " as varchar(20)) as K, '-' as V from " +
                                           t + " where ST is not null and (" + condition + ")"});
      auto rows = KeyedValues(station, selects);
      std::map<std::string, std::map<std::string, std::string>> values, texts, passed;
      for (auto& [t, r] : rows)
        (t.rfind("W:", 0) == 0 ? texts[t.substr(2)] : t.rfind("P:", 0) == 0 ? passed[t.substr(2)] : values[t]) =
            std::move(r);
      station_rows_.push_back(std::move(values));
      station_texts_.push_back(std::move(texts));
      station_schemas_.push_back(st);
      for (const auto& [t, r] : station_rows_.back())
        for (const auto& [k, v] : r) marked_[t].insert(k);
      for (const auto& [t, r] : passed)
        for (const auto& [k, v] : r) marked_[t].insert(k);
    }
    auto rows = RowsAnd(GeneratorSelects(false));
    generator_values_ = TakeGenerators(rows);
    before_ = std::move(rows);
  }

  // After the play: the list of problems (empty when all is well).
  // - every reference holds -1, Null or a main key;
  // - no generator of a played table is below the highest key of its table;
  // - no main row is lost, and no main row that no station marked changed.
  std::vector<std::string> Check() const {
    std::vector<std::string> problems = DanglingRefs(main_, refs_);
    auto after = RowsAnd(GeneratorSelects(true));
    const auto generators = TakeGenerators(after);
    for (const std::string& t : tables_) {
      const auto g = generators.find(t);
      if (g != generators.end() && !g->second.empty() && g->second[0] == '-')
        problems.push_back("GEN_" + t + " is below the highest key of " + t);
      const auto b = before_.find(t);
      if (b == before_.end()) continue;
      const auto a = after.find(t);
      const auto m = marked_.find(t);
      for (const auto& [key, row] : b->second) {
        const auto it = a == after.end() ? decltype(a->second.end()){} : a->second.find(key);
        if (a == after.end() || it == a->second.end()) {
          problems.push_back(t + " row " + key + " was lost");
        } else if (it->second != row && (m == marked_.end() || m->second.count(key) == 0)) {
          problems.push_back(t + " row " + key + " changed though the station had not changed it");
        }
      }
    }
    return problems;
  }

  // Station rows the play passes over by design (table -> SQL condition on the station
  // row), and columns it rewrites by design ("TABLE.COLUMN", compared neither with the
  // station's values nor between main's before and after): set before Snapshot.
  std::map<std::string, std::string> PassedOver;
  std::set<std::string> Rewritten;

  // What became of the rows a station marked changed, checked right after the station
  // was played (a later station may change the same rows again).
  struct ChangedRows {
    int32_t marked = 0;    // marked rows of the station, in the checked tables
    int32_t in_main = 0;   // found in main with the station's plain values (inserted or merged)
    int32_t reported = 0;  // not so, but named in the logs
    std::vector<std::string> problems;
    std::vector<std::pair<std::string, std::string>> reported_rows;  // (table, station key) of those
    std::vector<std::pair<std::string, std::string>> unreported_rows;  // those of problems
  };
  // Every marked row of station s is in main (a main row holds its plain values), or
  // named in a log line of its table (skipped as a duplicate of a natural key, refused,
  // failed): an Import.txt line "<label>: TABLE, v1 | v2 | ..." whose values hold the
  // row's key or all its texts, or an Errors.txt line with "KEY_COLUMN: key | ". logs
  // holds their text.
  ChangedRows CheckChangedRows(size_t s, const std::string& logs) const {
    ChangedRows out;
    std::vector<std::pair<std::string, std::string>> selects;
    for (const auto& [t, rows] : station_rows_[s])
      selects.push_back({t, "select '" + t + "' as T, " + PlainExpr(t, &station_schemas_[s]) + " as K, cast(" +
                                KeyOf(t) + " as varchar(20)) as V from " + t});
    const auto main_by_values = KeyedValues(main_, selects);
    for (const auto& [t, rows] : station_rows_[s]) {
      const auto found = main_by_values.find(t);
      for (const auto& [key, values] : rows) {
        ++out.marked;
        if (found != main_by_values.end() && found->second.count(values)) {
          ++out.in_main;
        } else if (Reported(logs, t, key, station_texts_[s].at(t).at(key))) {
          ++out.reported;
          out.reported_rows.emplace_back(t, key);
        } else {
          out.problems.push_back(t + " row " + key + " of " + stations_[s] + " is neither in main nor reported");
          out.unreported_rows.emplace_back(t, key);
        }
      }
    }
    return out;
  }

  // Rows new to main in a table whose play draws keys from its generator have keys above
  // the generator's value at Snapshot: no station key went in. (Raise the working copy's
  // generators above every station key first, so that the two cannot meet.)
  std::vector<std::string> CheckDrawnKeys(const std::set<std::string>& keeps_station_keys) const {
    std::vector<std::string> problems;
    std::vector<std::pair<std::string, std::string>> selects;
    for (const std::string& t : tables_) {
      const auto g = generator_values_.find(t);
      if (g == generator_values_.end() || keeps_station_keys.count(t)) continue;
      selects.push_back({t, "select '" + t + "' as T, cast(" + KeyOf(t) + " as varchar(20)) as K, '-' as V from " + t +
                                " where " + KeyOf(t) + " <= " + g->second});
    }
    for (const auto& [t, rows] : KeyedValues(main_, selects))
      for (const auto& [k, v] : rows)
        if (before_.at(t).count(k) == 0)
          problems.push_back(t + " row " + k + " is new to main under a key its generator did not give");
    return problems;
  }

  const std::set<std::string>& Marked(const std::string& table) const { return marked_.at(table); }
  // The schema of main at Snapshot.
  const PlaySchema& Schema() const { return schema_; }
  // The main database the next checks read (a copy of the snapshot's, say the working one).
  void SetMain(std::string main) { main_ = std::move(main); }
  // Rows of a table in main before the play.
  size_t RowsBefore(const std::string& table) const {
    const auto it = before_.find(table);
    return it == before_.end() ? 0 : it->second.size();
  }

 private:
  std::string KeyOf(const std::string& table) const {
    const auto it = schema_.tables.find(table);
    return it == schema_.tables.end() ? std::string() : it->second.key;
  }
  // A hash of every column but the change mark, the source key and new-key columns.
  std::string RowExpr(const std::string& table) const {
    std::string expr;
    for (const std::string& c : schema_.tables.at(table).columns) {
      if (c == "ST" || c == "ID" || (c.size() > 4 && c.substr(c.size() - 4) == "_NEW")) continue;
      // The laboratory-request step writes its new request's key back into the daily
      // record it belongs to, whether or not the station changed that record.
      if (table == "DENNI_ZAZNAM" && c == "ID_ZADANKA") continue;
      if (Rewritten.count(table + "." + c)) continue;
      if (!expr.empty()) expr += "||'|'||";
      expr += "coalesce(cast(hash(\"" + c + "\") as varchar(24)), 'N')";
    }
    return expr.empty() ? "''" : expr;
  }
  // A hash of the plain values of a row: no keys nor references (ID...), no change mark,
  // no new-key column, no column rewritten by design; texts without trailing blanks,
  // numbers to four places. Over the columns both main and the station have.
  std::string PlainExpr(const std::string& table, const PlaySchema* station) const {
    std::string expr;
    const auto& t = schema_.tables.at(table);
    for (const std::string& c : t.columns) {
      if (c == "ST" || c.rfind("ID", 0) == 0 || (c.size() > 4 && c.substr(c.size() - 4) == "_NEW")) continue;
      if (station && !station->HasColumn(table, c)) continue;
      if (Rewritten.count(table + "." + c)) continue;
      if (!expr.empty()) expr += "||'|'||";
      // The play compares numbers to four decimal places: closer ones count as equal.
      const std::string v = t.text.count(c)     ? "trim(trailing from \"" + c + "\")"
                            : t.floats.count(c) ? "round(\"" + c + "\", 4)"
                                                : "\"" + c + "\"";
      expr += "coalesce(cast(hash(" + v + ") as varchar(24)), 'N')";
    }
    return expr.empty() ? "'-'" : "cast(hash(" + expr + ") as varchar(24))";
  }
  // One select per played table with a generator of its name, under "G:<table>": the
  // generator's value, or its lead over the highest key of its table.
  std::vector<std::pair<std::string, std::string>> GeneratorSelects(bool lead) const {
    std::vector<std::pair<std::string, std::string>> selects;
    for (const std::string& t : tables_) {
      if (KeyOf(t).empty() || schema_.generators.count("GEN_" + t) == 0) continue;
      const std::string over = lead ? " - (select coalesce(max(" + KeyOf(t) + "), 0) from " + t + ")" : "";
      selects.push_back({"G:" + t, "select 'G:" + t + "' as T, '-' as K, cast(gen_id(GEN_" + t + ", 0)" + over +
                                       " as varchar(24)) as V from RDB$DATABASE"});
    }
    return selects;
  }
  // Takes the generator values ("G:<table>") out of rows: table -> value. As the lead over
  // the highest key, "-..." means behind.
  static std::map<std::string, std::string> TakeGenerators(std::map<std::string, std::map<std::string, std::string>>& rows) {
    std::map<std::string, std::string> out;
    for (auto it = rows.begin(); it != rows.end();) {
      if (it->first.rfind("G:", 0) == 0) {
        if (!it->second.empty()) out[it->first.substr(2)] = it->second.begin()->second;
        it = rows.erase(it);
      } else {
        ++it;
      }
    }
    return out;
  }
  // The texts of a station row (CHAR and VARCHAR columns but keys), joined by "|~|".
  std::string TextsExpr(const std::string& table, const PlaySchema& station) const {
    std::string expr;
    for (const std::string& c : schema_.tables.at(table).text) {
      if (c == "ST" || c.rfind("ID", 0) == 0 || !station.HasColumn(table, c)) continue;
      if (Rewritten.count(table + "." + c)) continue;
      if (!expr.empty()) expr += "||'|~|'||";
      expr += "coalesce(trim(trailing from \"" + c + "\"), '')";
    }
    return expr.empty() ? "'-'" : "'-|~|'||" + expr;
  }
  // Table -> key -> hash of the row, with the results of more selects in the same run.
  std::map<std::string, std::map<std::string, std::string>> RowsAnd(
      std::vector<std::pair<std::string, std::string>> selects) const {
    for (const std::string& t : tables_)
      if (!KeyOf(t).empty())
        selects.push_back({t, "select '" + t + "' as T, cast(" + KeyOf(t) + " as varchar(20)) as K, " + RowExpr(t) +
                                  " as V from " + t});
    auto rows = KeyedValues(main_, selects);
    for (const std::string& t : tables_) rows[t];
    return rows;
  }
  // A line of Import.txt on the table ("<label>: TABLE, v1 | v2 | ...") with the key or
  // every text of the row among its values, or a line of Errors.txt with "KEY_COLUMN: key | ".
  bool Reported(const std::string& logs, const std::string& table, const std::string& key,
                const std::string& texts) const {
    std::vector<std::string> fields;
    for (size_t from = 0;;) {
      const size_t at = texts.find("|~|", from);
      const std::string t = texts.substr(from, at == std::string::npos ? std::string::npos : at - from);
      if (!t.empty() && t != "-") fields.push_back("| " + t + " | ");
      if (at == std::string::npos) break;
      from = at + 3;
    }
    const std::string head = ": " + table + ", ";
    const std::string error = KeyOf(table) + ": " + key + " | ";
    for (size_t from = 0; from < logs.size();) {
      size_t end = logs.find('\n', from);
      if (end == std::string::npos) end = logs.size();
      const std::string line = logs.substr(from, end - from);
      from = end + 1;
      if (line.find(error) != std::string::npos) return true;
      const size_t at = line.find(head);
      if (at == std::string::npos) continue;
      const std::string values = "| " + line.substr(at + head.size());
      if (values.find("| " + key + " | ") != std::string::npos) return true;
      bool all = !fields.empty();
      for (const std::string& f : fields) all = all && values.find(f) != std::string::npos;
      if (all) return true;
    }
    return false;
  }

  std::string main_;
  std::vector<std::string> stations_;
  std::vector<std::string> tables_;
  std::vector<PlayRef> refs_;
  PlaySchema schema_;
  std::vector<PlaySchema> station_schemas_;
  std::vector<std::map<std::string, std::map<std::string, std::string>>> station_rows_;
  std::vector<std::map<std::string, std::map<std::string, std::string>>> station_texts_;
  std::map<std::string, std::string> generator_values_;
  std::map<std::string, std::set<std::string>> marked_;
  std::map<std::string, std::map<std::string, std::string>> before_;
};

}  // namespace pelvar::test
