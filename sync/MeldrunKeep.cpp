// The station rows a run could not play keep their change marks, so that the next run
// plays them again; one mechanism for every step:
// - the copy engine reports every row that did not arrive (a conversion that stopped
//   it, a failing post, a row the step refused); the memory import its refused rows;
// - a step refuses a row whose parent main lacks (RefuseMissingParent), and a row that
//   refers to a station row still marked, one that has not arrived (HeldAtStation),
//   rather than writing it without the link;
// - marked rows that a step's source never reads, because a parent it joins is gone on
//   the station, are looked up after the step, counted and logged with the parent they
//   miss;
// - each such row is held by its station key (or, where the source does not deliver
//   the key, by its plain values), and the clearing of the table's marks leaves it out.
#include <memory>
#include <set>

#include "dbadapters/REZDataset.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"

namespace pelvar {

namespace {

// A parent that a step's source joins: a station row of Table whose Column finds no
// row in From (alias p) by p.Key is never read. Missing names it in the log.
struct TJoinedParent {
  const char* Table;
  const char* Column;
  const char* From;
  const char* Key;
  const char* Missing;
};

constexpr TJoinedParent kJoinedParents[] = {
    {"ODDELENI", "ID_ZARIZENI", "ZARIZENI p", "ID_ZARIZENI", "ZARIZENI"},
    {"PRACOVISTE", "ID_ZARIZENI", "ZARIZENI p", "ID_ZARIZENI", "ZARIZENI"},
    {"PRACOVISTE", "ID_ODDELENI", "ODDELENI p", "ID_ODDELENI", "ODDELENI"},
    {"PRISTUP", "ID_PRISTUPOVA_PRAVA", "PRISTUPOVA_PRAVA p", "ID_PRISTUPOVA_PRAVA", "PRISTUPOVA_PRAVA"},
    {"PRACUZIV", "ID_ZARIZENI", "ZARIZENI p", "ID_ZARIZENI", "ZARIZENI"},
    {"PRACUZIV", "ID_PRACOVISTE", "PRACOVISTE p", "ID_PRACOVISTE", "PRACOVISTE"},
    {"PRACUZIV", "ID_UZIVATEL", "UZIVATEL_NEW p", "ID_UZIVATEL", "UZIVATEL_NEW"},
    {"PRISTUP_ORG_JEDNOTKA", "ID_ZARIZENI", "ZARIZENI p", "ID_ZARIZENI", "ZARIZENI"},
    {"PRISTUP_ORG_JEDNOTKA", "ID_PRACOVISTE", "PRACOVISTE p", "ID_PRACOVISTE", "PRACOVISTE"},
    {"PRISTUP_ORG_JEDNOTKA", "ID_ODDELENI", "ODDELENI p", "ID_ODDELENI", "ODDELENI"},
    {"PRISTUP_ORG_JEDNOTKA", "ID_PRISTUP", "PRISTUP p", "ID_PRISTUP", "PRISTUP"},
    {"PARTNER_KONTAKT", "ID_PARTNER", "PARTNER p", "ID_PARTNER", "PARTNER"},
    {"PARTNER_BANKA", "ID_PARTNER", "PARTNER p", "ID_PARTNER", "PARTNER"},
    {"FARMA", "ID_PARTNER", "PARTNER p", "ID_PARTNER", "PARTNER"},
    {"PACIENT", "ID_PARTNER", "PARTNER p", "ID_PARTNER", "PARTNER"},
    {"PARTNER_ZALOHA", "ID_PARTNER", "PARTNER p", "ID_PARTNER", "PARTNER"},
    {"PARTNER_ZALOHA_CERPANI", "ID_PARTNER_ZALOHA", "PARTNER_ZALOHA p", "ID_PARTNER_ZALOHA", "PARTNER_ZALOHA"},
    {"PREMISTENI_ZVIRETE", "ID_PARTNER", "PARTNER p", "ID_PARTNER", "PARTNER"},
    {"PREMISTENI_ZVIRETE_ZVI", "ID_PREMISTENI_ZVIRETE",
     "PREMISTENI_ZVIRETE p join PARTNER g on p.ID_PARTNER = g.ID_PARTNER", "ID_PREMISTENI_ZVIRETE",
     "PREMISTENI_ZVIRETE/PARTNER"},
    {"SABLONA_VYKONU_POLOZKA", "ID_SABLONA_VYKONU", "SABLONA_VYKONU p", "ID_SABLONA_VYKONU", "SABLONA_VYKONU"},
    {"DENNI_ZAZNAM", "ID_PACIENT", "PACIENT p", "ID_PACIENT", "PACIENT"},
    {"DOKLAD_POLOZKA_FA", "ID_DOKLAD", "DOKLAD p", "ID_DOKLAD", "DOKLAD"},
    {"DOKLAD_POLOZKA_PD", "ID_DOKLAD", "DOKLAD p", "ID_DOKLAD", "DOKLAD"},
    {"DOKLAD_POLOZKA_UM", "ID_DOKLAD", "DOKLAD p", "ID_DOKLAD", "DOKLAD"},
    {"DOKLAD_POLOZKA_SK", "ID_DOKLAD", "DOKLAD p", "ID_DOKLAD", "DOKLAD"},
    {"DOKLAD_POLOZKA_BV", "ID_DOKLAD", "DOKLAD p", "ID_DOKLAD", "DOKLAD"},
    {"DENNI_ZAZNAM_OFTALMO", "ID_PACIENT", "PACIENT p", "ID_PACIENT", "PACIENT"},
    {"DENNI_ZAZNAM_ORTOPED", "ID_PACIENT", "PACIENT p", "ID_PACIENT", "PACIENT"},
    {"DENNI_ZAZNAM_STOMATO", "ID_PACIENT", "PACIENT p", "ID_PACIENT", "PACIENT"},
    {"DENNI_ZAZNAM_MEKKE_TKANE", "ID_PACIENT", "PACIENT p", "ID_PACIENT", "PACIENT"},
    {"DENNI_ZAZNAM_PLAZI", "ID_PACIENT", "PACIENT p", "ID_PACIENT", "PACIENT"},
    {"DENNI_ZAZNAM_DROBNI_SAVCI", "ID_PACIENT", "PACIENT p", "ID_PACIENT", "PACIENT"},
    {"KOPROLOGIE", "ID_PACIENT", "PACIENT p", "ID_PACIENT", "PACIENT"},
    {"SOUBOR", "ID_PACIENT", "PACIENT p", "ID_PACIENT", "PACIENT"},
    {"VAKCINACE_ODCERVENI", "ID_PACIENT", "PACIENT p", "ID_PACIENT", "PACIENT"},
    {"LABVH", "ID_PACIENT", "PACIENT p", "ID_PACIENT", "PACIENT"},
    {"LABVD", "ID_LABVH", "LABVH p join PACIENT g on p.ID_PACIENT = g.ID_PACIENT", "ID_LABVH", "LABVH/PACIENT"},
    {"OBRAZOVA_DOKUMENTACE", "ID_PACIENT", "PACIENT p", "ID_PACIENT", "PACIENT"},
    {"OBRAZOVA_DOKUMENTACE", "ID_SKUPINA", "SKUPINA_OBRAZOVE_DOKUMENTACE p", "ID_SKUPINA",
     "SKUPINA_OBRAZOVE_DOKUMENTACE"},
    {"ZADANKA", "ID_PACIENT", "PACIENT p", "ID_PACIENT", "PACIENT"},
    {"ZPRAVA", "ID_PACIENT", "PACIENT p", "ID_PACIENT", "PACIENT"},
    {"DOKLAD_POLOZKA_UZ", "ID_DOKLAD", "DOKLAD p", "ID_DOKLAD", "DOKLAD"},
};

bool IsIntegerType(TFieldType t) {
  return t == ftSmallint || t == ftInteger || t == ftWord || t == ftLargeint || t == ftAutoInc;
}
bool IsPlainText(TFieldType t) { return t == ftString || t == ftFixedChar || t == ftWideString; }

// A field's value as an SQL literal (integers and texts), "" for any other type.
AnsiString Literal(TField* f) {
  if (f->IsNull()) return "NULL";
  if (IsIntegerType(f->DataType())) return f->AsString();
  if (IsPlainText(f->DataType())) return QuotedStr(f->AsString());
  return AnsiString();
}

// Ends the read transaction of a query made for one read.
void Release(TREZQuery& q) {
  TIB_Transaction* transaction = q.IB_Transaction();
  if (transaction != nullptr && IsTransactionStarted(transaction)) transaction->CommitRetaining();
}

// The station columns of a query's rows, upper-cased.
std::vector<AnsiString> Names(TIB_Connection* db, const AnsiString& sql) {
  std::vector<AnsiString> out;
  TREZQuery q(nullptr);
  q.SetDatabaseName(db->DatabaseName());
  q.SQL()->SetText(sql);
  q.Open();
  for (q.First(); !q.Eof(); q.Next()) out.push_back(AnsiUpperCase(Trim(q.Fields(0)->AsString())));
  q.Close();
  Release(q);
  return out;
}

// The longest condition the clearing takes; a table with more held rows keeps all its
// marks (nothing is lost; the next run finds the played rows as duplicates).
constexpr size_t kMaxCondition = 48000;

}  // namespace

const std::vector<AnsiString>& TMeldrun::StationKeyColumns(const AnsiString& table) {
  const AnsiString t = AnsiUpperCase(table);
  auto it = station_keys_.find(t);
  if (it != station_keys_.end()) return it->second;
  return station_keys_[t] = Names(dm_.Src(),
                                  "select s.RDB$FIELD_NAME from RDB$RELATION_CONSTRAINTS c join RDB$INDEX_SEGMENTS s "
                                  "on s.RDB$INDEX_NAME = c.RDB$INDEX_NAME where c.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY' "
                                  "and c.RDB$RELATION_NAME = " + Sql(t));
}

const std::vector<AnsiString>& TMeldrun::StationPlainColumns(const AnsiString& table) {
  const AnsiString t = AnsiUpperCase(table);
  auto it = station_columns_.find(t);
  if (it != station_columns_.end()) return it->second;
  // Integers (7, 8, 16) and texts (14, 37); floats, dates and blobs do not compare safely.
  return station_columns_[t] = Names(dm_.Src(),
                                     "select rf.RDB$FIELD_NAME from RDB$RELATION_FIELDS rf join RDB$FIELDS f on "
                                     "f.RDB$FIELD_NAME = rf.RDB$FIELD_SOURCE where f.RDB$FIELD_TYPE in (7, 8, 16, "
                                     "14, 37) and rf.RDB$RELATION_NAME = " + Sql(t));
}

void TMeldrun::HoldRow(const AnsiString& table, TDataSet* source) {
  const AnsiString t = AnsiUpperCase(table);
  THeldRow row;
  bool by_key = true;
  for (const AnsiString& column : StationKeyColumns(t)) {
    TField* f = source->FindField(column);
    const AnsiString value = f == nullptr || f->IsNull() ? AnsiString() : Literal(f);
    if (value.empty()) {
      by_key = false;
      break;
    }
    row.emplace_back(column, value);
  }
  if (!by_key || row.empty()) {
    // The source does not deliver the key (a code list read by its values): the row's
    // plain values select it.
    row.clear();
    for (const AnsiString& column : StationPlainColumns(t)) {
      if (column == "ST") continue;
      TField* f = source->FindField(column);
      if (f == nullptr) continue;
      const AnsiString value = Literal(f);
      if (!value.empty()) row.emplace_back(column, value);
    }
  }
  failed_rows_[t].push_back(std::move(row));
}

void TMeldrun::HoldKey(const AnsiString& table, const AnsiString& column, int32_t key) {
  failed_rows_[AnsiUpperCase(table)].push_back(THeldRow{{AnsiUpperCase(column), IntToStr(key)}});
}

std::map<AnsiString, std::vector<AnsiString>> TMeldrun::FailedRows() const {
  std::map<AnsiString, std::vector<AnsiString>> out;
  for (const auto& [table, rows] : failed_rows_) {
    auto& keys = out[table];
    for (const THeldRow& row : rows) {
      AnsiString key;
      for (const auto& [column, value] : row) key += (key.empty() ? "" : ",") + value;
      keys.push_back(key);
    }
  }
  return out;
}

AnsiString TMeldrun::KeptMarks(const AnsiString& table) const { return KeptMarksCondition(table); }

AnsiString TMeldrun::KeptMarksCondition(const AnsiString& table) const {
  const auto it = failed_rows_.find(AnsiUpperCase(table));
  if (it == failed_rows_.end() || it->second.empty()) return AnsiString();
  // Rows held by one column go into "not in" lists of at most 1000 values (the server's
  // limit is 1500); the others into a "not (...)" each.
  std::map<AnsiString, std::vector<AnsiString>> single;
  AnsiString condition;
  auto add = [&condition](const AnsiString& part) { condition += (condition.empty() ? "" : " and ") + part; };
  for (const THeldRow& row : it->second) {
    if (row.empty()) return "1 = 0";  // a row that cannot be told apart: all marks stay
    if (row.size() == 1 && row[0].second != "NULL") {
      single[row[0].first].push_back(row[0].second);
      continue;
    }
    AnsiString match;
    for (const auto& [column, value] : row)
      match += (match.empty() ? "" : " and ") + column + (value == "NULL" ? AnsiString(" is null") : " = " + value);
    add("not (" + match + ")");
  }
  for (const auto& [column, values] : single) {
    for (size_t i = 0; i < values.size(); i += 1000) {
      AnsiString list;
      for (size_t j = i; j < values.size() && j < i + 1000; ++j) list += (list.empty() ? "" : ",") + values[j];
      add(column + " not in (" + list + ")");
    }
  }
  return condition.size() > kMaxCondition ? AnsiString("1 = 0") : condition;
}

void TMeldrun::RefuseMissingParent(const AnsiString& parent, const AnsiString& reference) {
  ImportTable().RefuseRecord(CZ("nadřazený záznam ") + parent + " " +
                             (reference.empty() ? CZ("bez kódu") : QuotedStr(reference)) +
                             CZ(" není v hlavní databázi"));
}

void TMeldrun::RefuseUnmatched() {
  ImportTable().RefuseRecord(CZ("odpovídající záznam hlavní databáze nenalezen"));
}

bool TMeldrun::HeldAtStation(const AnsiString& table, const AnsiString& column, const AnsiString& value) {
  if (value.empty()) return false;
  const Variant n =
      dm_.SelectSrc("select count(*) from " + table + " where ST is not null and " + column + " = " + Sql(value));
  return !n.IsNull() && !n.IsEmpty() && n.AsInteger() > 0;
}

void TMeldrun::HoldOrphans(const AnsiString& table) {
  const AnsiString t = AnsiUpperCase(table);
  std::set<AnsiString> logged;  // a row that misses two parents is reported once
  for (const TJoinedParent& parent : kJoinedParents) {
    if (t != parent.Table) continue;
    TREZQuery q(nullptr);
    q.SetDatabaseName(dm_.Src()->DatabaseName());
    q.SQL()->SetText("select c.* from " + t + " c where c.ST is not null and not exists (select 1 from " +
                     parent.From + " where p." + parent.Key + " = c." + parent.Column + ")");
    q.Open();
    for (q.First(); !q.Eof(); q.Next()) {
      AnsiString identity;
      for (int32_t i = 0; i < q.FieldCount(); ++i) identity += q.Fields(i)->AsString() + "|";
      if (!logged.insert(identity).second) continue;
      TField* ref = q.FieldByName(parent.Column);
      ImportTable().LogRefused(t, &q,
                               CZ("chybí nadřazený záznam ") + parent.Missing + ", " + parent.Column + " = " +
                                   (ref->IsNull() ? AnsiString("NULL") : ref->AsString()));
      HoldRow(t, &q);
    }
    q.Close();
    Release(q);
  }
}

}  // namespace pelvar
