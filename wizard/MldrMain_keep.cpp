// The rows a station keeps marked after its play-in go back to the station with its
// result. The result is rebuilt from the harmonised data, which hold main's keys, plus
// the station's own tables; a row that did not arrive in main would be gone from it, and
// the next round could not play it again. So each such row is written into the result
// with its mark:
// - a row the result holds under the same key and the same natural key (code, number,
//   creation date) is the station's version of that row and replaces it there;
// - any other row takes a key from the result's own generator, free there and never
//   handed out by it again (a station's new rows share their keys with main's later
//   ones, so its own key may name another row of the result);
// - its references name rows of the result: a parent carried here by the key it got, a
//   parent that arrived in main by the key the play-in gave it (the station's new-key
//   columns, the key mappings, or main's row of the parent's code), any other parent
//   (unchanged at the station) by its own key, which main shares;
// - each new key goes into the station's key mappings, which the journal remap applies
//   to the station's journal copied into the result.
// Only tables whose marks the play-in clears are carried: there a mark left means the
// row did not arrive. Tables whose marks the play-in never clears keep them whether
// their rows arrived or not, and carrying those would double rows that did arrive.
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "dbadapters/REZDataset.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "wizard/MldrMain.h"

namespace pelvar {

namespace {

// The natural key of a table: what tells its row apart from another of the same key.
struct TNaturalKey {
  const char* table;
  const char* columns;
};
constexpr TNaturalKey kNaturalKeys[] = {
    {"PARTNER", "PARTNER"},
    {"PACIENT", "PACIENT"},
    {"DOKLAD", "DOKLAD,TYP_DOKLADU"},
    {"VARIANTA", "VARIANTA"},
    {"CENIK", "CENIK"},
    {"BANKA", "BANKA"},
    {"DIAGNOZA", "DIAGNOZA"},
    {"FRAZE", "FRAZE"},
    {"HODNOCENI", "HODNOCENI"},
    {"MERNA_JEDNOTKA", "MERNA_JEDNOTKA"},
    {"PSC", "PSC"},
    {"SKLAD", "SKLAD"},
    {"POHLAVI", "POHLAVI"},
    {"KATASTR", "KATASTR"},
    {"TYP_USTAJENI", "TYP_USTAJENI_NAZEV"},
    {"UZIVATEL_NEW", "ZKRATKA"},
    {"PRISTUPOVA_PRAVA", "NAZEV"},
    {"SABLONA_VYKONU", "SABLONA_VYKONU_NAZEV"},
    {"PRODEJKA", "PRODEJKA"},
};

// References whose column is not "ID_" + the parent's table ("*": in every table).
struct TReference {
  const char* table;
  const char* column;
  const char* parent;  // "" the table itself
};
constexpr TReference kReferences[] = {
    {"*", "ID_ZALOZIL", "UZIVATEL_NEW"},
    {"*", "ID_MODIFIKOVAL", "UZIVATEL_NEW"},
    {"*", "ID_ORG_JEDNOTKA", "UZIVATEL_NEW"},
    {"*", "ID_ORG_JEDNOTKA_PRO", "UZIVATEL_NEW"},
    {"*", "ID_ORG_JEDNOTKA_PROVEDL", "UZIVATEL_NEW"},
    {"*", "ID_ZARIZENI_PRO", "ZARIZENI"},
    {"*", "ID_ODDELENI_PRO", "ODDELENI"},
    {"*", "ID_PRACOVISTE_PRO", "PRACOVISTE"},
    {"*", "ID_ZARIZENI_PROVEDL", "ZARIZENI"},
    {"*", "ID_ODDELENI_PROVEDL", "ODDELENI"},
    {"*", "ID_PRACOVISTE_PROVEDL", "PRACOVISTE"},
    {"*", "ID_ZARIZENI_PLATI_PRO", "ZARIZENI"},
    {"*", "ID_ODDELENI_PLATI_PRO", "ODDELENI"},
    {"*", "ID_PRACOVISTE_PLATI_PRO", "PRACOVISTE"},
    {"*", "ID_VLASTNI_ZASTUPCE", "UZIVATEL_NEW"},
    {"*", "ID_UZIVATEL", "UZIVATEL_NEW"},
    {"*", "ID_PREDEK", ""},
    {"*", "ID_DOKLAD_PREDEK", "DOKLAD"},
    {"*", "ID_SKLAD_CIL", "SKLAD"},
    {"VARIANTA", "ID_MERNA_JEDNOTKA_SK", "MERNA_JEDNOTKA"},
    {"VARIANTA", "ID_MERNA_JEDNOTKA_VY", "MERNA_JEDNOTKA"},
    {"OBRAZOVA_DOKUMENTACE", "ID_SKUPINA", "SKUPINA_OBRAZOVE_DOKUMENTACE"},
};

// Generators not named "GEN_" + their table.
struct TGenerator {
  const char* table;
  const char* generator;
};
constexpr TGenerator kGenerators[] = {
    {"DOKLAD_POLOZKA_FA", "GEN_DOKLAD_POLOZKA"}, {"DOKLAD_POLOZKA_PD", "GEN_DOKLAD_POLOZKA"},
    {"DOKLAD_POLOZKA_UM", "GEN_DOKLAD_POLOZKA"}, {"DOKLAD_POLOZKA_SK", "GEN_DOKLAD_POLOZKA"},
    {"DOKLAD_POLOZKA_BV", "GEN_DOKLAD_POLOZKA"}, {"DOKLAD_POLOZKA_UZ", "GEN_DOKLAD_POLOZKA"},
    {"SKUPINA_OBRAZOVE_DOKUMENTACE", "GEN_SKUPINA_OBR_DOK"}, {"UZIVATEL_NEW", "GEN_UZIVATEL"},
};

// Columns that only tell who made or changed a row: a user the result does not hold is
// no reason to leave the row out; the column is left empty.
bool TellsWho(const AnsiString& column) {
  for (const char* c : {"ID_ZALOZIL", "ID_MODIFIKOVAL", "ID_ORG_JEDNOTKA", "ID_ORG_JEDNOTKA_PRO",
                        "ID_ORG_JEDNOTKA_PROVEDL"})
    if (column == c) return true;
  return false;
}

AnsiString GeneratorOf(const AnsiString& table) {
  for (const TGenerator& g : kGenerators)
    if (table == g.table) return g.generator;
  return "GEN_" + table;
}

bool IsDbKey(const TField* f) {
  return f->DataType() == ftBytes &&
         (AnsiSameText(f->FieldName(), "DB_KEY") || AnsiSameText(f->FieldName(), "RDB$DB_KEY"));
}

bool NoValue(const Variant& v) { return v.IsNull() || v.IsEmpty(); }

// The first column of every row of sql, trimmed and upper-cased.
std::vector<AnsiString> Names(TREZDatabase* db, const AnsiString& sql) {
  std::vector<AnsiString> out;
  TREZQuery q(nullptr);
  q.SetDatabaseName(db->DatabaseName());
  q.SQL()->SetText(sql);
  q.Open();
  for (q.First(); !q.Eof(); q.Next()) out.push_back(AnsiUpperCase(Trim(q.Fields(0)->AsString())));
  q.Close();
  TIB_Transaction* t = q.IB_Transaction();
  if (t != nullptr && IsTransactionStarted(t)) t->Commit();
  return out;
}

AnsiString Quoted(const AnsiString& name) { return AnsiQuotedStr(name, '"'); }

// The tables whose marks the play-in clears, parents before children (the order of the
// play steps).
std::vector<AnsiString> ClearedTables() {
  std::vector<AnsiString> out;
  std::set<AnsiString> seen;
  for (const TPlayStepDef& step : TMeldrun::PlaySteps()) {
    if (step.Play == nullptr) continue;
    TStringList tables;
    TDMMeldrun::SplitToList(&tables, step.ClearedMarks, ',');
    for (int32_t i = 0; i < tables.Count(); ++i) {
      const AnsiString t = AnsiUpperCase(Trim(tables.Strings(i)));
      if (!t.empty() && seen.insert(t).second) out.push_back(t);
    }
  }
  return out;
}

}  // namespace

// What the carry knows of the two databases and of the rows it wrote.
class TKeptRows {
 public:
  TKeptRows(TDMMeldrun& dm, int32_t station) : dm_(dm), station_(station) {
    for (const AnsiString& t : Names(dm.Src(), "select RDB$RELATION_NAME from RDB$RELATIONS where "
                                               "RDB$SYSTEM_FLAG = 0 and RDB$VIEW_BLR is null"))
      station_tables_.insert(t);
  }

  // The cleared tables both databases have, with marked rows at the station.
  std::vector<AnsiString> MarkedTables() {
    std::vector<AnsiString> out;
    for (const AnsiString& t : ClearedTables()) {
      if (station_tables_.count(t) == 0 || !HasColumn(true, t, "ST") || ColumnsOf(false, t).empty()) continue;
      const Variant n = dm_.SelectSrc("select count(*) from " + t + " where ST is not null");
      if (!NoValue(n) && n.AsInteger() > 0) out.push_back(t);
    }
    return out;
  }

  // A kept row that was not carried: it names a row the result does not hold.
  struct TLeftOut {
    AnsiString Table, Row, Column, Parent, Reason;
  };
  const std::vector<TLeftOut>& LeftOut() const { return left_out_; }

  void CarryTable(const AnsiString& table) {
    const std::vector<AnsiString>& key = KeyOf(table);
    const std::set<AnsiString>& target = ColumnsOf(false, table);
    const bool own_keys = key.size() == 1 && HasGenerator(table);
    TREZQuery q(nullptr);
    q.SetDatabaseName(dm_.Src()->DatabaseName());
    AnsiString order;
    for (const AnsiString& k : key) order += (order.empty() ? " order by " : ", ") + k;
    q.SQL()->SetText("select * from " + table + " where ST is not null" + order);
    q.Open();
    for (q.First(); !q.Eof(); q.Next()) {
      // The columns the result has, with the values they take there.
      std::vector<std::pair<AnsiString, Variant>> values;
      Variant station_key;
      // Every reference of a delivered row names a row of the result; a row whose parent
      // the result does not hold (main deleted it, or it was left out itself) can never
      // arrive and is left out, named with the reason.
      AnsiString missing_column, missing_parent, reason;
      for (TField* f : q.FieldList()) {
        if (IsDbKey(f)) continue;
        const AnsiString column = AnsiUpperCase(f->FieldName());
        if (target.count(column) == 0) continue;
        Variant v = f->IsNull() ? Variant::MakeNull() : f->AsVariant();
        if (own_keys && column == key[0]) {
          station_key = v;  // the key is chosen below
          continue;
        }
        if (!NoValue(v)) {
          const AnsiString parent = ParentOf(table, column);
          if (!parent.empty() && missing_column.empty()) {
            const int32_t old_key = v.AsInteger();
            if (left_out_keys_.count({parent, old_key}) != 0) {
              missing_column = column;
              missing_parent = parent;
              reason = Format(CZ("odkazuje na záznam %d tabulky %s, který také nelze sehrát"), {old_key, parent});
            } else {
              v = ResultKey(parent, old_key);
              // A reference the station itself left without its row stays as the
              // station had it: the row may still arrive by what else it holds.
              if (!InResult(parent, v) && AtStation(parent, old_key)) {
                if (TellsWho(column)) {
                  v = Variant::MakeNull();
                } else {
                  missing_column = column;
                  missing_parent = parent;
                  reason = Format(CZ("odkazuje na záznam %d tabulky %s, který hlavní databáze nemá (byl v ní "
                                     "smazán nebo do ní nepřišel)"),
                                  {old_key, parent});
                }
              }
            }
          }
        }
        values.emplace_back(column, v);
      }
      if (!missing_column.empty()) {
        AnsiString row;
        for (TField* f : q.FieldList()) {
          if (IsDbKey(f) || f->IsNull() || f->DataType() == ftBlob || f->DataType() == ftMemo) continue;
          const AnsiString column = AnsiUpperCase(f->FieldName());
          if (column.size() > 4 && column.compare(column.size() - 4, 4, "_NEW") == 0) continue;
          row += AnsiString(row.empty() ? "" : ", ") + column + "=" + f->AsString();
        }
        left_out_.push_back(TLeftOut{table, row, missing_column, missing_parent, reason});
        if (key.size() == 1 && !q.FieldByName(key[0])->IsNull())
          left_out_keys_.insert({table, q.FieldByName(key[0])->AsInteger()});
        continue;
      }
      if (own_keys) {
        CarryOwnKey(table, key[0], station_key, q, values);
      } else {
        CarryByKey(table, key, values);
      }
    }
    q.Close();
    TIB_Transaction* t = q.IB_Transaction();
    if (t != nullptr && IsTransactionStarted(t)) t->Commit();
  }

 private:
  // A table keyed by one column with a generator: the station's version of the result's
  // row of the same key and natural key, else a row under a new key.
  void CarryOwnKey(const AnsiString& table, const AnsiString& key, const Variant& station_key, TDataSet& source,
                   std::vector<std::pair<AnsiString, Variant>>& values) {
    if (NoValue(station_key)) return;
    const int32_t old_key = station_key.AsInteger();
    if (SameRowInResult(table, key, old_key, source)) {
      Update(table, {key}, values, {station_key});
      carried_[{table, old_key}] = old_key;
      carried_keys_.insert({table, old_key});
      return;
    }
    const Variant next = dm_.SelectDst("select gen_id(" + Quoted(GeneratorOf(table)) + ", 1) from RDB$DATABASE");
    const int32_t new_key = next.AsInteger();
    values.emplace_back(key, Variant(new_key));
    Insert(table, values);
    carried_[{table, old_key}] = new_key;
    carried_keys_.insert({table, new_key});
    if (new_key != old_key) dm_.AddIdMapping(table, IntToStr(old_key), IntToStr(new_key));
  }

  // A table keyed otherwise (by its parent's key, by several columns, without a
  // generator): the row of the same key in the result is replaced, else it is added.
  void CarryByKey(const AnsiString& table, const std::vector<AnsiString>& key,
                  const std::vector<std::pair<AnsiString, Variant>>& values) {
    std::vector<Variant> key_values;
    AnsiString where;
    for (const AnsiString& k : key) {
      Variant v = Variant::MakeNull();
      for (const auto& [column, value] : values)
        if (column == k) v = value;
      if (NoValue(v)) return;  // no key, no row to write
      where += AnsiString(where.empty() ? "" : " and ") + Quoted(k) + " = :P" +
               IntToStr(static_cast<int32_t>(key_values.size()));
      key_values.push_back(v);
    }
    const Variant n = dm_.SelectPrepared(false, "select count(*) from " + table + " where " + where, key_values);
    if (!NoValue(n) && n.AsInteger() > 0) {
      Update(table, key, values, key_values);
    } else {
      Insert(table, values);
    }
    if (key.size() == 1) {
      carried_[{table, key_values[0].AsInteger()}] = key_values[0].AsInteger();
      carried_keys_.insert({table, key_values[0].AsInteger()});
    }
  }

  // The result's row under key is the same row as the station's: its natural key (or,
  // for a table without one, its creation date) is the station row's. A row whose natural
  // key the station emptied (a document without its number) is told by its creation
  // date and time.
  bool SameRowInResult(const AnsiString& table, const AnsiString& key, int32_t old_key, TDataSet& source) {
    std::vector<AnsiString> columns = NaturalKeyOf(table);
    const auto both_have = [&](const char* column) {
      return HasColumn(false, table, column) && HasColumn(true, table, column);
    };
    bool emptied = false;
    for (const AnsiString& c : columns) {
      TField* f = source.FindField(c);
      emptied = emptied || f == nullptr || f->IsNull() || Trim(f->AsString()).empty();
    }
    if (emptied) {
      columns.clear();
      if (both_have("ZALOZENI_ZAZNAMU")) {
        columns.push_back("ZALOZENI_ZAZNAMU");
        TField* time = source.FindField("CAS");
        if (both_have("CAS") && time != nullptr && !time->IsNull()) columns.push_back("CAS");
      }
    }
    if (columns.empty() && both_have("ZALOZENI_ZAZNAMU")) columns.push_back("ZALOZENI_ZAZNAMU");
    if (columns.empty()) return false;
    AnsiString sql = "select count(*) from " + table + " where " + Quoted(key) + " = :P0";
    std::vector<Variant> params{Variant(old_key)};
    for (const AnsiString& c : columns) {
      TField* f = source.FindField(c);
      if (f == nullptr || f->IsNull() || Trim(f->AsString()).empty()) return false;
      sql += " and " + Quoted(c) + " = :P" + IntToStr(static_cast<int32_t>(params.size()));
      params.push_back(f->AsVariant());
    }
    const Variant n = dm_.SelectPrepared(false, sql, params);
    return !NoValue(n) && n.AsInteger() > 0;
  }

  void Insert(const AnsiString& table, const std::vector<std::pair<AnsiString, Variant>>& values) {
    AnsiString columns, params;
    std::vector<Variant> list;
    for (const auto& [column, value] : values) {
      columns += AnsiString(columns.empty() ? "" : ", ") + Quoted(column);
      params += AnsiString(params.empty() ? ":P" : ", :P") + IntToStr(static_cast<int32_t>(list.size()));
      list.push_back(value);
    }
    dm_.ExecPrepared(false, "insert into " + table + " (" + columns + ") values (" + params + ")", list);
  }

  void Update(const AnsiString& table, const std::vector<AnsiString>& key,
              const std::vector<std::pair<AnsiString, Variant>>& values, const std::vector<Variant>& key_values) {
    AnsiString set, where;
    std::vector<Variant> list;
    for (const auto& [column, value] : values) {
      set += AnsiString(set.empty() ? "" : ", ") + Quoted(column) + " = :P" + IntToStr(static_cast<int32_t>(list.size()));
      list.push_back(value);
    }
    for (size_t i = 0; i < key.size(); ++i) {
      where += AnsiString(where.empty() ? "" : " and ") + Quoted(key[i]) + " = :P" +
               IntToStr(static_cast<int32_t>(list.size()));
      list.push_back(key_values[i]);
    }
    dm_.ExecPrepared(false, "update " + table + " set " + set + " where " + where, list);
  }

  // The parent table a column refers to ("" none).
  AnsiString ParentOf(const AnsiString& table, const AnsiString& column) {
    for (const TReference& r : kReferences) {
      if (AnsiString(r.table) != "*" && table != r.table) continue;
      if (column != r.column) continue;
      return r.parent[0] == '\0' ? table : AnsiString(r.parent);
    }
    if (column.size() <= 3 || column.compare(0, 3, "ID_") != 0) return AnsiString();
    const AnsiString parent = column.substr(3);
    if (station_tables_.count(parent) == 0) return AnsiString();
    // The row's own key is no reference; the key of a detail that is its parent's is.
    const std::vector<AnsiString>& key = KeyOf(table);
    if (parent == table || (key.size() == 1 && key[0] == column && HasGenerator(table))) return AnsiString();
    return parent;
  }

  // The result holds a row of parent under key (a placeholder key, 0 or below, names no
  // row and stands).
  bool InResult(const AnsiString& parent, const Variant& key) {
    if (NoValue(key) || key.AsInteger() <= 0) return true;
    const std::vector<AnsiString>& k = KeyOf(parent);
    if (k.size() != 1 || ColumnsOf(false, parent).empty()) return true;
    const std::pair<AnsiString, int32_t> id{parent, key.AsInteger()};
    if (carried_keys_.count(id) != 0) return true;
    auto known = in_result_.find(id);
    if (known != in_result_.end()) return known->second;
    const Variant n = dm_.SelectPrepared(false, "select count(*) from " + parent + " where " + Quoted(k[0]) + " = :P0",
                                         {Variant(key.AsInteger())});
    return in_result_[id] = !NoValue(n) && n.AsInteger() > 0;
  }

  // The station holds a row of parent under key.
  bool AtStation(const AnsiString& parent, int32_t key) {
    const std::vector<AnsiString>& k = KeyOf(parent);
    if (k.size() != 1) return false;
    const std::pair<AnsiString, int32_t> id{parent, key};
    auto known = at_station_.find(id);
    if (known != at_station_.end()) return known->second;
    const Variant n =
        dm_.SelectPrepared(true, "select count(*) from " + parent + " where " + Quoted(k[0]) + " = :P0", {Variant(key)});
    return at_station_[id] = !NoValue(n) && n.AsInteger() > 0;
  }

  // The key in the result of the parent row the station knows as old_key.
  Variant ResultKey(const AnsiString& parent, int32_t old_key) {
    if (old_key <= 0) return Variant(old_key);  // -1: no row; the placeholders stand
    const auto carried = carried_.find({parent, old_key});
    if (carried != carried_.end()) return Variant(carried->second);
    const auto known = parents_.find({parent, old_key});
    if (known != parents_.end()) return known->second;
    Variant result = Variant(old_key);
    const std::vector<AnsiString>& key = KeyOf(parent);
    if (key.size() == 1) {
      const AnsiString k = key[0];
      bool found = false;
      // The key the play-in wrote into the station's parent.
      if (HasColumn(true, parent, k + "_NEW")) {
        const Variant v = dm_.SelectPrepared(true, "select " + Quoted(k + "_NEW") + " from " + parent + " where " +
                                                       Quoted(k) + " = :P0",
                                             {Variant(old_key)});
        if (!NoValue(v)) {
          result = v;
          found = true;
        }
      }
      // The key mapping the play-in recorded.
      if (!found) {
        const AnsiString prefix = parent + "|" + IntToStr(old_key) + "|";
        const auto& lists = dm_.StationMappings();
        if (station_ >= 0 && static_cast<size_t>(station_) < lists.size() && lists[static_cast<size_t>(station_)]) {
          TStringList& list = *lists[static_cast<size_t>(station_)];
          for (int32_t i = 0; i < list.Count() && !found; ++i) {
            const AnsiString line = list.Strings(i);
            if (line.compare(0, prefix.size(), prefix) != 0) continue;
            const AnsiString rest = line.substr(prefix.size());
            int32_t v = 0;
            if (TryStrToInt(rest, v)) {
              result = Variant(v);
              found = true;
            }
          }
        }
      }
      // Main's row of the parent's code.
      const std::vector<AnsiString> code = NaturalKeyOf(parent);
      if (!found && !code.empty()) {
        AnsiString read, where;
        for (const AnsiString& c : code) read += AnsiString(read.empty() ? "" : ", ") + Quoted(c);
        bool station_found = false;
        Variant row;
        dm_.SelectPreparedRow(true, "select " + read + " from " + parent + " where " + Quoted(k) + " = :P0",
                              {Variant(old_key)}, station_found, row);
        if (station_found) {
          std::vector<Variant> params;
          bool complete = true;
          for (size_t i = 0; i < code.size(); ++i) {
            const Variant v = row[static_cast<int32_t>(i)];
            if (NoValue(v) || Trim(v.AsString()).empty()) complete = false;
            where += AnsiString(where.empty() ? "" : " and ") + Quoted(code[i]) + " = :P" +
                     IntToStr(static_cast<int32_t>(params.size()));
            params.push_back(v);
          }
          if (complete) {
            const Variant v = dm_.SelectPrepared(
                false, "select min(" + Quoted(k) + ") from " + parent + " where " + where, params);
            if (!NoValue(v)) result = v;
          }
        }
      }
    }
    parents_[{parent, old_key}] = result;
    return result;
  }

  std::vector<AnsiString> NaturalKeyOf(const AnsiString& table) const {
    std::vector<AnsiString> out;
    for (const TNaturalKey& n : kNaturalKeys) {
      if (table != n.table) continue;
      TStringList columns;
      TDMMeldrun::SplitToList(&columns, n.columns, ',');
      for (int32_t i = 0; i < columns.Count(); ++i) out.push_back(Trim(columns.Strings(i)));
    }
    return out;
  }

  const std::vector<AnsiString>& KeyOf(const AnsiString& table) {
    auto it = keys_.find(table);
    if (it != keys_.end()) return it->second;
    return keys_[table] = Names(dm_.Src(),
                                "select s.RDB$FIELD_NAME from RDB$RELATION_CONSTRAINTS c join RDB$INDEX_SEGMENTS s "
                                "on s.RDB$INDEX_NAME = c.RDB$INDEX_NAME where c.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY' "
                                "and c.RDB$RELATION_NAME = " + QuotedStr(table) + " order by s.RDB$FIELD_POSITION");
  }

  const std::set<AnsiString>& ColumnsOf(bool station, const AnsiString& table) {
    auto& cache = station ? station_columns_ : result_columns_;
    auto it = cache.find(table);
    if (it != cache.end()) return it->second;
    std::set<AnsiString> columns;
    for (const AnsiString& c : Names(station ? dm_.Src() : dm_.Dst(),
                                     "select RDB$FIELD_NAME from RDB$RELATION_FIELDS where RDB$RELATION_NAME = " +
                                         QuotedStr(table)))
      columns.insert(c);
    return cache[table] = std::move(columns);
  }

  bool HasColumn(bool station, const AnsiString& table, const AnsiString& column) {
    return ColumnsOf(station, table).count(AnsiUpperCase(column)) > 0;
  }

  bool HasGenerator(const AnsiString& table) {
    auto it = generators_.find(table);
    if (it != generators_.end()) return it->second;
    const Variant n = dm_.SelectDst("select count(*) from RDB$GENERATORS where RDB$GENERATOR_NAME = " +
                                    QuotedStr(GeneratorOf(table)));
    return generators_[table] = !NoValue(n) && n.AsInteger() > 0;
  }

  TDMMeldrun& dm_;
  int32_t station_;
  std::set<AnsiString> station_tables_;
  std::map<AnsiString, std::vector<AnsiString>> keys_;
  std::map<AnsiString, std::set<AnsiString>> station_columns_, result_columns_;
  std::map<AnsiString, bool> generators_;
  // Station rows written into the result: their key there.
  std::map<std::pair<AnsiString, int32_t>, int32_t> carried_;
  // Parents looked up: their key in the result.
  std::map<std::pair<AnsiString, int32_t>, Variant> parents_;
  // Keys of rows written into the result, and whether the result holds a key.
  std::set<std::pair<AnsiString, int32_t>> carried_keys_;
  std::map<std::pair<AnsiString, int32_t>, bool> in_result_, at_station_;
  // Kept rows left out, and their station keys.
  std::vector<TLeftOut> left_out_;
  std::set<std::pair<AnsiString, int32_t>> left_out_keys_;
};

AnsiString TFrmMldrMain::LeftOutRowsPath(int32_t index) const { return StationWorkFile("Nesehratelne", index); }

void TFrmMldrMain::ListRowsThatCannotArrive(const TKeptRows& rows) {
  const AnsiString file = LeftOutRowsPath(station_index_);
  DeleteFile(file);
  if (rows.LeftOut().empty()) return;
  const AnsiString ident = station_idents_->Strings(station_index_);
  TStringList text;
  text.Add(Format(CZ("Stanice \"%s\" (soubor %s): záznamy, které do hlavní databáze nepřišly a nikdy přijít "
                     "nemohou, protože odkazují na záznam, který hlavní databáze nemá."),
                  {ident, station_sources_->Strings(station_index_)}));
  text.Add(CZ("Do sehraných dat stanice nebyly předány. Mají-li v praxi zůstat, zadejte je na stanici znovu do "
              "sehraných dat (s platným odkazem, případně i se záznamem, na který odkazují); původní data stanice "
              "zůstala v souboru .old na jejím médiu."));
  text.Add("");
  for (const auto& r : rows.LeftOut()) {
    text.Add(Format(CZ("Tabulka %s, sloupec %s: %s."), {r.Table, r.Column, r.Reason}));
    text.Add("  " + r.Row);
  }
  text.SaveToFile(file);
}

bool TFrmMldrMain::StationKeepsRows() {
  TDMMeldrun* dm = MakeDataModule();
  TKeptRows rows(*dm, station_index_);
  return !rows.MarkedTables().empty();
}

void TFrmMldrMain::CarryKeptRows() {
  TDMMeldrun* dm = MakeDataModule();
  if (!dm->Dst()->Connected()) dm->Dst()->SetConnected(true);
  TKeptRows rows(*dm, station_index_);
  const std::vector<AnsiString> tables = rows.MarkedTables();
  if (tables.empty()) return;
  // The rows go in as they are: no journal row of the result's own records them.
  const int32_t state = trigger_state_;
  if (state != 0) dm->SetJournalTriggers(0);
  try {
    int32_t n = 0;
    for (const AnsiString& table : tables) {
      FinishProgress(++n, static_cast<int32_t>(tables.size()),
                     Format(CZ("Přenos neodehraných záznamů : %s do výsledku stanice."), {table}));
      rows.CarryTable(table);
    }
    ListRowsThatCannotArrive(rows);
    dm->ReleasePrepared();
    if (IsTransactionStarted(dm->REZTransactionDst())) dm->REZTransactionDst()->Commit();
  } catch (...) {
    dm->ReleasePrepared();
    throw;
  }
  if (state != 0) dm->SetJournalTriggers(state);
}

}  // namespace pelvar
