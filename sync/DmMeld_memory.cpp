// The memory-table import of documents, daily records and document items: the changed
// rows of a station table are loaded into one of the data module's memory tables,
// resolved against the working main database (their own natural keys, the natural keys of
// the rows they refer to, new keys from the generators), linked to the rows imported in
// the same run, and written row by row by an INSERT or UPDATE.
//
// A row is written whole or not at all: a failure while it is resolved, or a reference
// whose natural key the main database does not know, lists the row in ErrorList and marks
// it refused (UPDATE = -1); a refused new row loses its new key so that rows referring to
// it are refused as well instead of pointing at a key that was never written. Statements
// built from station values quote them; the written values are parameters.
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dbengine/IB_Components_dataset.h"
#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "sync/DmMeld.h"

namespace pelvar {

struct TDMMeldrun::TMemoryImportState {
  struct Table {
    // Upper-cased names of the columns the station's query delivered.
    std::set<AnsiString> delivered;
    // Per memory record ID: the string and text columns that hold an empty text (the
    // memory table reads an empty text back as null).
    std::map<int32_t, std::set<AnsiString>> empty_texts;
  };
  std::map<const TMemoryData*, Table> tables;
  bool layouts_made = false;
  // The prepared reads of the running pass, by database (true: station) and text.
  std::map<std::pair<bool, AnsiString>, std::unique_ptr<TREZQuery>> prepared;
  // The rows of the keyed look-ups of the running pass, by database and read: the values
  // of the first row of every key.
  std::map<std::pair<bool, AnsiString>, std::unordered_map<std::string, Variant>> keyed;
  // The same for the reads that keep every row of a key: the value of each row.
  std::map<std::pair<bool, AnsiString>, std::unordered_map<std::string, std::vector<Variant>>> keyed_all;
};

TDMMeldrun::TMemoryImportState& TDMMeldrun::MemoryState() {
  if (!memory_state_) memory_state_ = std::make_shared<TMemoryImportState>();
  return *memory_state_;
}

namespace {

// "NAME:TYPE" items: I integer, SI smallint, Sn string of n characters, F float, D date,
// T time, B text.
constexpr const char* kDokladLayout =
    "ID_DOKLAD:I ID_PREDEK:I ID_TYP_DOKLADU:I ID_DRUH_DOKLADU:I ID_PARTNER:I ID_SKLAD:I "
    "ID_SKLAD_CIL:I ID_TABLE_STATUS:I ID_CENIK:I ID_VLASTNI_ZASTUPCE:I ID_ZALOZIL:I "
    "ID_MODIFIKOVAL:I TYP_DOKLADU:S10 TABLE_STATUS:S10 PARTNER:S10 PARTNER_NAZEV:S51 TITUL:S10 "
    "ULICE:S30 PSC:S6 OBEC:S30 IDENTIFIKATOR:S11 DIC:S15 BANKA:S4 PARTNER_BANKA:S20 "
    "VLASTNI_ZASTUPCE:S10 ZPUSOB_DOPRAVY:S10 FORMA_UHRADY:S10 DOKLAD:S15 DOKLAD_PUVODNI:S15 "
    "DODATEK:S30 DATUM_DOKLADU:D DATUM_VYSTAVENI:D DATUM_PLNENI:D DATUM_SPLATNOSTI:D POZNAMKA:B "
    "TEXT1:B TEXT2:B VARIABILNI_SYMBOL:S10 KONSTANTNI_SYBOL:S10 SPECIFICKY_SYMBOL:S10 ROUND:S12 "
    "CENIK:S10 SKLAD:S10 SKLAD_CIL:S10 DO_ZAPORU:S1 ZALOZENI_ZAZNAMU:D POSLEDNI_MODIFIKACE:D "
    "CENA:F ZAPLACENO:F ZE_ZALOHY:F CAS:T ID:I ST:S1 ID_ZARIZENI:I ID_ODDELENI:I "
    "ID_PRACOVISTE:I UPDATE:SI ID_DOKLAD_NEW:I ID_PARTNER_NEW:I PARTNER_NAZEV_NEW:S51 "
    "ULICE_NEW:S30 PSC_NEW:S6 OBEC_NEW:S30 ID_PREDEK_NEW:I DOKLAD_PUVODNI_NEW:S15 "
    "ID_SKLAD_NEW:I SKLAD_NEW:S10 ID_CENIK_NEW:I CENIK_NEW:S10 ID_ZARIZENI_NEW:I "
    "ID_ODDELENI_NEW:I ID_PRACOVISTE_NEW:I "
    // The main keys of the references resolved through the station's rows.
    "ID_SKLAD_CIL_NEW:I ID_VLASTNI_ZASTUPCE_NEW:I ID_ZALOZIL_NEW:I ID_MODIFIKOVAL_NEW:I";

constexpr const char* kDenZaznamLayout =
    "ID_DENNI_ZAZNAM:I ID_PACIENT:I ID_ZALOZIL:I ID_MODIFIKOVAL:I ID_ORG_JEDNOTKA:I ID_DOKLAD:I "
    "ID_PRIPAD:I ID_SKLAD:I ID_ZADANKA:I TYP:I DEKURS:B DATUM:D PRIPAD:S50 DIAGNOZA:S10 "
    "DIAGNOZA_NAZEV:S50 DIAGNOZA_POPIS:S100 HODNOCENI:S20 ORG_JEDNOTKA_NAZEV:S51 CAS:T "
    "ZALOZENI_ZAZNAMU:D POSLEDNI_MODIFIKACE:D ID:I ST:S1 DOKLAD_PUVODNI:S15 ID_ZARIZENI:I "
    "ID_ODDELENI:I ID_PRACOVISTE:I ID_DENNI_ZAZNAM_NEW:I ID_DOKLAD_NEW:I ID_PACIENT_NEW:I "
    "ID_PRIPAD_NEW:I PRIPAD_NEW:S50 ID_ZARIZENI_NEW:I ID_ODDELENI_NEW:I ID_PRACOVISTE_NEW:I "
    "DATUM_PRIPADU:D PACIENT:S10 DOKLAD:S15 TYP_DOKLADU:S10 UPDATE:SI "
    "ID_SKLAD_NEW:I ID_ZADANKA_NEW:I ID_ORG_JEDNOTKA_NEW:I ID_ZALOZIL_NEW:I ID_MODIFIKOVAL_NEW:I";

constexpr const char* kDokladPolozkaLayout =
    "ID_DOKLAD_POLOZKA:I ID_DOKLAD:I ID_DOKLAD_PREDEK:I ID_MERNA_JEDNOTKA:I ID_VARIANTA:I "
    "ID_KLASIFIKACE_VYROBKU:I ID_DENNI_ZAZNAM:I ID_SKUPINA:I ID_CENIK:I ID_SKLAD:I "
    "ID_DOKLAD_POLOZKA_PREDEK:I ID_ZALOZIL:I ID_MODIFIKOVAL:I VARIANTA:S10 VARIANTA_NAZEV:S50 "
    "SKUPINA:S10 MERNA_JEDNOTKA:S10 VYROBNI_CISLO:S20 DATUM_EXPIRACE:D TYP_POHYBU:S1 "
    "BEZ_CENY:S1 DO_ZAPORU:S1 CENA_NALEZENA:S1 CENA_ZMENENA:S1 DOKLAD:S15 DOKLAD_PREDEK:S20 "
    "TEXT:B CENA_MJ:F CENA:F CENA_DPH:F CENA_MJ_SMLUVNI:F CENA_MJ_NAKLADOVA:F "
    "CENA_MJ_PRODEJNI:F SAZBA_DPH:F S_DPH:S1 RABAT:F ZNAMENKO:I MNOZSTVI:F "
    "POSLEDNI_MODIFIKACE:D ZALOZENI_ZAZNAMU:D TYP:I CENIK:S10 SKLAD:S10 CAS:T ID:I ST:S1 "
    "PREVOD_JEDNOTEK:F UZAVERKA:S1 PRISTI_APLIKACE:I ID_ZARIZENI:I ID_ODDELENI:I "
    "ID_PRACOVISTE:I STAV:F ID_DOKLAD_POLOZKA_PRIJEM:I ID_DOKLAD_POLOZKA_U:I "
    "VARIANTA_NAZEV_NEW:S50 ID_DOKLAD_POLOZKA_NEW:I ID_DOKLAD_NEW:I ID_DOKLAD_PREDEK_NEW:I "
    "ID_MERNA_JEDNOTKA_NEW:I ID_VARIANTA_NEW:I ID_DENNI_ZAZNAM_NEW:I ID_CENIK_NEW:I "
    "ID_SKLAD_NEW:I ID_DOKLAD_POLOZKA_PREDEK_NEW:I ID_ZARIZENI_NEW:I ID_ODDELENI_NEW:I "
    "ID_PRACOVISTE_NEW:I ID_DOKLAD_POLOZKA_PRIJEM_NEW:I TYP_DOKLADU:S10 UPDATE:SI "
    "ID_ZALOZIL_NEW:I ID_MODIFIKOVAL_NEW:I";

void AddLayoutFields(TMemoryData* table, const char* layout) {
  const AnsiString text = layout;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == AnsiString::npos) end = text.size();
    const AnsiString item = text.substr(at, end - at);
    at = end + 1;
    if (item.empty()) continue;
    const size_t colon = item.find(':');
    const AnsiString name = item.substr(0, colon);
    const AnsiString type = item.substr(colon + 1);
    TField* f = nullptr;
    if (type == "I") {
      f = new TIntegerField(table);
    } else if (type == "SI") {
      f = new TSmallintField(table);
    } else if (type[0] == 'S') {
      f = new TStringField(table);
      f->SetSize(StrToInt(type.substr(1)));
    } else if (type == "F") {
      f = new TFloatField(table);
    } else if (type == "D") {
      f = new TDateField(table);
    } else if (type == "T") {
      f = new TTimeField(table);
    } else {
      f = new TMemoField(table);
    }
    f->SetFieldName(name);
    f->SetDataSet(table);
  }
}

bool IsText(const TField* f) {
  return f->DataType() == ftString || f->DataType() == ftFixedChar || f->DataType() == ftMemo ||
         f->DataType() == ftWideString;
}

bool IsNoRow(const Variant& v) { return v.IsNull() || v.IsEmpty(); }

// A reference column that refers to a row: not null and not -1 ("no row").
bool Refers(TField* f) { return f != nullptr && !f->IsNull() && f->AsInteger() != -1; }

AnsiString DateText(TField* f) { return f->IsNull() ? AnsiString() : FormatDateTime("dd.mm.yyyy", f->AsDateTime()); }

// A time as the database casts it to text: 13 characters, 08:05:03.1200.
AnsiString TimeText(TField* f) {
  return f->IsNull() ? AnsiString() : FormatDateTime("hh:mm:ss.zzz", f->AsDateTime()) + "0";
}

// Table and column names come from the program, never from data; anything else in one is
// refused before it reaches a statement.
const AnsiString& CheckName(const AnsiString& name) {
  bool ok = !name.empty();
  for (char c : name) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) ok = false;
  }
  if (!ok) throw EDatabaseError(Format(CZ("Neplatný název tabulky nebo sloupce \"%s\"."), {name}));
  return name;
}

void CloseQuietly(TDataSet* ds) {
  try {
    ds->Close();
  } catch (...) {
  }
}

void RollbackRetainingQuietly(TIB_Transaction* transaction) {
  try {
    if (IsTransactionStarted(transaction)) transaction->RollbackRetaining();
  } catch (...) {
  }
}

// The references of one row that the main database could not resolve.
class TUnresolved {
 public:
  void Add(const AnsiString& column, const AnsiString& key_name, const AnsiString& key_value) {
    if (!text_.empty()) text_ += "; ";
    text_ += Format(CZ("%s: %s \"%s\" v hlavní databázi nenalezen"), {column, key_name, key_value});
  }
  void Raise() const {
    if (!text_.empty()) throw EDatabaseError(Message());
  }
  // Where a row is refused in place rather than by a raised error.
  template <class Row>
  void RefuseIn(Row& row) const {
    if (!text_.empty()) row.Refuse(Message());
  }

 private:
  AnsiString Message() const { return CZ("Nevyřešené odkazy záznamu: ") + text_; }
  AnsiString text_;
};

}  // namespace

// --- Helpers of this unit (members reach the module's state) -----------------------------

namespace {

// The ID of the memory table's current record (-1 without one).
int32_t CurrentRecordId(TMemoryData* m) {
  const int32_t n = m->RecNo();
  if (n < 1 || n > m->MemoryRecordCount()) return -1;
  return m->Records(n - 1)->ID();
}

}  // namespace

// The memory tables get their columns once, before their first use.
static void EnsureLayouts(TDMMeldrun& dm, bool& made) {
  if (made) return;
  const std::pair<TMemoryData*, std::pair<const char*, const char*>> tables[] = {
      {dm.MemoryDoklad(), {kDokladLayout, "ID_DOKLAD;DOKLAD;ID_PREDEK"}},
      {dm.MemoryDenZaznam(), {kDenZaznamLayout, "ID_DENNI_ZAZNAM"}},
      {dm.MemoryDokladPolozka(), {kDokladPolozkaLayout, "ID_DOKLAD_POLOZKA;ID_DOKLAD"}},
  };
  for (const auto& [table, layout] : tables) {
    if (table->FieldCount() == 0) AddLayoutFields(table, layout.first);
    table->SetKeyFieldNames(layout.second);
  }
  made = true;
}

namespace {

// Sets a memory field from a value, remembering an empty text.
void SetValue(std::map<int32_t, std::set<AnsiString>>& empties, TMemoryData* m, TField* f,
              const Variant& v) {
  const int32_t id = CurrentRecordId(m);
  if (IsNoRow(v)) {
    f->Clear();
  } else {
    f->SetAsVariant(v);
  }
  if (!IsText(f) || id < 0) return;
  const AnsiString name = AnsiUpperCase(f->FieldName());
  if (!IsNoRow(v) && v.AsString().empty()) {
    empties[id].insert(name);
  } else {
    auto it = empties.find(id);
    if (it != empties.end()) it->second.erase(name);
  }
}

Variant FieldValue(const std::map<int32_t, std::set<AnsiString>>* empties, TDataSet* ds, TField* f) {
  if (!f->IsNull()) return f->AsVariant();
  if (empties != nullptr && IsText(f)) {
    auto* m = dynamic_cast<TMemoryData*>(ds);
    const int32_t id = m ? CurrentRecordId(m) : -1;
    auto it = empties->find(id);
    if (it != empties->end() && it->second.count(AnsiUpperCase(f->FieldName())) > 0) return Variant(AnsiString());
  }
  return Variant::MakeNull();
}

}  // namespace

// --- Row readers ---------------------------------------------------------------------------

void TDMMeldrun::SelectDstRow(const AnsiString& sql, bool& found, Variant& values) {
  values = Variant::MakeNull();
  found = false;
  if (Trim(sql).empty()) return;
  TREZQuery* q = ib_query_dst_;
  TIB_Transaction* transaction = q->IB_Transaction();
  try {
    if (!IsTransactionStarted(transaction)) transaction->StartTransaction();
    if (q->Active()) q->Close();
    q->SQL()->SetText(sql);
    q->Prepare();
    q->OpenAndFetchAll();
    if (q->RecordCount() > 0) {
      q->First();
      std::vector<TField*> columns;
      for (TField* f : q->FieldList()) {
        if (f->DataType() == ftBytes &&
            (AnsiSameText(f->FieldName(), "DB_KEY") || AnsiSameText(f->FieldName(), "RDB$DB_KEY")))
          continue;
        columns.push_back(f);
      }
      const auto n = static_cast<int32_t>(columns.size());
      Variant row = VarArrayCreate({0, n - 1}, varVariant);
      for (int32_t i = 0; i < n; ++i) row.PutElement({i}, columns[static_cast<size_t>(i)]->AsVariant());
      values = row;
      found = true;
    }
    if (HoldsWrites(transaction)) transaction->CommitRetaining();
  } catch (...) {
    values = Variant::MakeNull();
    found = false;
    RollbackRetainingQuietly(transaction);
    CloseQuietly(q);
    throw;
  }
  q->Close();
}

namespace {

void SetParams(TREZQuery* q, const std::vector<Variant>& params) {
  for (size_t i = 0; i < params.size(); ++i) q->ParamByName("P" + IntToStr(static_cast<int32_t>(i)))->SetValue(params[i]);
}

// Runs a prepared read: the rows of the statement fetched, or the failure raised after a
// rollback retaining.
template <typename Read>
void RunPrepared(TREZQuery* q, const std::vector<Variant>& params, Read read) {
  TIB_Transaction* transaction = q->IB_Transaction();
  try {
    if (!IsTransactionStarted(transaction)) transaction->StartTransaction();
    if (q->Active()) q->Close();
    SetParams(q, params);
    q->OpenAndFetchAll();
    read(q);
    if (HoldsWrites(transaction)) transaction->CommitRetaining();
  } catch (...) {
    RollbackRetainingQuietly(transaction);
    CloseQuietly(q);
    throw;
  }
  q->Close();
}

}  // namespace

TREZQuery* TDMMeldrun::PreparedQuery(bool station, const AnsiString& sql) {
  auto& slot = MemoryState().prepared[{station, sql}];
  if (!slot) {
    auto q = std::make_unique<TREZQuery>(nullptr);
    q->SetIB_Connection(station ? src_ : dst_);
    q->SetIB_Transaction(station ? rez_transaction_src_ : rez_transaction_dst_);
    q->SQL()->SetText(sql);
    if (!IsTransactionStarted(q->IB_Transaction())) q->IB_Transaction()->StartTransaction();
    q->Prepare();
    slot = std::move(q);
  }
  return slot.get();
}

Variant TDMMeldrun::SelectPrepared(bool station, const AnsiString& sql, const std::vector<Variant>& params) {
  Variant result = Variant::MakeNull();
  RunPrepared(PreparedQuery(station, sql), params, [&](TREZQuery* q) {
    if (!q->IsEmpty()) {
      q->First();
      result = q->Fields(0)->AsVariant();
    }
  });
  return result;
}

void TDMMeldrun::SelectPreparedRow(bool station, const AnsiString& sql, const std::vector<Variant>& params,
                                   bool& found, Variant& values) {
  values = Variant::MakeNull();
  found = false;
  try {
    RunPrepared(PreparedQuery(station, sql), params, [&](TREZQuery* q) {
      if (q->RecordCount() <= 0) return;
      q->First();
      std::vector<TField*> columns;
      for (TField* f : q->FieldList()) {
        if (f->DataType() == ftBytes &&
            (AnsiSameText(f->FieldName(), "DB_KEY") || AnsiSameText(f->FieldName(), "RDB$DB_KEY")))
          continue;
        columns.push_back(f);
      }
      const auto n = static_cast<int32_t>(columns.size());
      Variant row = VarArrayCreate({0, n - 1}, varVariant);
      for (int32_t i = 0; i < n; ++i) row.PutElement({i}, columns[static_cast<size_t>(i)]->AsVariant());
      values = row;
      found = true;
    });
  } catch (...) {
    values = Variant::MakeNull();
    found = false;
    throw;
  }
}

void TDMMeldrun::ExecPrepared(bool station, const AnsiString& sql, const std::vector<Variant>& params) {
  TREZQuery* q = PreparedQuery(station, sql);
  TIB_Transaction* transaction = q->IB_Transaction();
  try {
    if (!IsTransactionStarted(transaction)) transaction->StartTransaction();
    SetParams(q, params);
    q->ExecSQL();
    transaction->CommitRetaining();
  } catch (...) {
    RollbackRetainingQuietly(transaction);
    CloseQuietly(q);
    throw;
  }
}

void TDMMeldrun::ReleasePrepared() {
  if (!memory_state_) return;
  memory_state_->prepared.clear();
  memory_state_->keyed.clear();
  memory_state_->keyed_all.clear();
}

namespace {

// One part of a keyed look-up's key: the text the server compares (trailing blanks do not
// count), behind its length; false for a null, which never matches.
bool AppendKeyPart(std::string& key, const Variant& v) {
  if (IsNoRow(v)) return false;
  std::string text = v.AsString();
  while (!text.empty() && text.back() == ' ') text.pop_back();
  key += IntToStr(static_cast<int32_t>(text.size())) + ":" + text;
  return true;
}

}  // namespace

void TDMMeldrun::SelectKeyedRow(bool station, const AnsiString& read, int32_t key_count,
                                const std::vector<Variant>& key, bool& found, Variant& values) {
  found = false;
  values = Variant::MakeNull();
  auto [rows, made] = MemoryState().keyed.try_emplace({station, read});
  if (made) {
    try {
      RunPrepared(PreparedQuery(station, read), {}, [&](TREZQuery* q) {
        const std::vector<TField*> columns = q->FieldList();
        const auto n = static_cast<int32_t>(columns.size()) - key_count;
        for (q->First(); !q->Eof(); q->Next()) {
          std::string k;
          bool complete = true;
          for (int32_t i = 0; i < key_count && complete; ++i)
            complete = AppendKeyPart(k, columns[static_cast<size_t>(i)]->AsVariant());
          if (!complete || rows->second.count(k) > 0) continue;
          Variant row = VarArrayCreate({0, n - 1}, varVariant);
          for (int32_t i = 0; i < n; ++i) row.PutElement({i}, columns[static_cast<size_t>(key_count + i)]->AsVariant());
          rows->second.emplace(std::move(k), std::move(row));
        }
      });
    } catch (...) {
      MemoryState().keyed.erase({station, read});
      throw;
    }
  }
  std::string k;
  for (const Variant& part : key)
    if (!AppendKeyPart(k, part)) return;
  const auto hit = rows->second.find(k);
  if (hit == rows->second.end()) return;
  found = true;
  values = hit->second;
}

void TDMMeldrun::SelectKeyedAll(bool station, const AnsiString& read, const std::vector<Variant>& key,
                                std::vector<Variant>& values) {
  values.clear();
  auto [rows, made] = MemoryState().keyed_all.try_emplace({station, read});
  if (made) {
    try {
      RunPrepared(PreparedQuery(station, read), {}, [&](TREZQuery* q) {
        const std::vector<TField*> columns = q->FieldList();
        const size_t parts = columns.size() - 1;
        for (q->First(); !q->Eof(); q->Next()) {
          std::string k;
          bool complete = true;
          for (size_t i = 0; i < parts && complete; ++i) complete = AppendKeyPart(k, columns[i]->AsVariant());
          if (complete) rows->second[k].push_back(columns[parts]->AsVariant());
        }
      });
    } catch (...) {
      MemoryState().keyed_all.erase({station, read});
      throw;
    }
  }
  std::string k;
  for (const Variant& part : key)
    if (!AppendKeyPart(k, part)) return;
  const auto hit = rows->second.find(k);
  if (hit != rows->second.end()) values = hit->second;
}

Variant TDMMeldrun::SelectKeyed(bool station, const AnsiString& read, int32_t key_count,
                                const std::vector<Variant>& key) {
  bool found = false;
  Variant values;
  SelectKeyedRow(station, read, key_count, key, found, values);
  return found ? values[0] : Variant::MakeNull();
}

void TDMMeldrun::SelectNewKey(const AnsiString& table_name, const AnsiString& key_field,
                              Variant& value, int32_t old_key) {
  value = SelectSrc(Format("select %s_NEW from %s where %s = %d",
                           {CheckName(key_field), CheckName(table_name), key_field, old_key}));
}

void TDMMeldrun::DumpRecord(TDataSet* dataset, AnsiString& text) {
  text.clear();
  if (dataset == nullptr || !dataset->Active()) return;
  for (TField* f : dataset->FieldList()) text += f->FieldName() + ": " + f->AsString() + " | ";
}

// --- Filling ---------------------------------------------------------------------------------

bool TDMMeldrun::FillMemoryTable(const AnsiString& table_name, TMemoryData* memory_table) {
  TMemoryImportState& state = MemoryState();
  EnsureLayouts(*this, state.layouts_made);
  TREZQuery* src = ib_query_src_other_;
  try {
    const Variant count =
        SelectTmpSrc(Format("select count(*) from %s where st is not null", {CheckName(table_name)}));
    main_form_.SetProgressMax(IsNoRow(count) ? 0 : count.AsInteger());
    main_form_.SetCountText(CZ("Plnění paměťové tabulky"));
    main_form_.RepaintProgress();
    if (!memory_table->Active()) memory_table->Open();
    TMemoryImportState::Table& t = state.tables[memory_table];
    // The columns the station delivers: appended rows must share them with those held.
    std::set<AnsiString> delivered;
    std::vector<std::pair<TField*, TField*>> pairs;
    for (TField* f : memory_table->FieldList()) {
      if (TField* s = src->FindField(f->FieldName())) {
        pairs.emplace_back(f, s);
        delivered.insert(AnsiUpperCase(f->FieldName()));
      }
    }
    if (memory_table->RecordCount() == 0) {
      t.empty_texts.clear();
      t.delivered = delivered;
    } else {
      std::set<AnsiString> both;
      for (const AnsiString& n : t.delivered)
        if (delivered.count(n) > 0) both.insert(n);
      t.delivered = std::move(both);
    }
    int32_t i = 0;
    for (src->First(); !src->Eof(); src->Next(), ++i) {
      main_form_.SetProgressPosition(i);
      main_form_.RepaintProgress();
      Application()->ProcessMessages();
      memory_table->Append();
      std::vector<AnsiString> empties;
      for (auto& [f, s] : pairs) {
        if (s->IsNull()) {
          f->Clear();
          continue;
        }
        const Variant v = s->AsVariant();
        f->SetAsVariant(v);
        if (IsText(f) && v.AsString().empty()) empties.push_back(AnsiUpperCase(f->FieldName()));
      }
      memory_table->Post();
      if (!empties.empty()) {
        const int32_t id = CurrentRecordId(memory_table);
        t.empty_texts[id].insert(empties.begin(), empties.end());
      }
    }
  } catch (...) {
    CloseQuietly(src);
    throw;
  }
  src->Close();
  return true;
}

// --- Resolution ------------------------------------------------------------------------------

namespace {

// What the resolution passes share: the table, its empty texts and the refusal of a row.
// A text parameter of a prepared read. The cast gives it a width of its own, so that a
// station text longer than the column compares unequal, as a literal would, instead of
// failing as too long for the column.
AnsiString TextParam(int32_t index) { return "cast(:P" + IntToStr(index) + " as varchar(8000))"; }

// Frees the prepared reads of a resolution pass when it ends, however it ends.
struct TPreparedPass {
  explicit TPreparedPass(TDMMeldrun& dm) : dm(dm) { dm.ReleasePrepared(); }
  ~TPreparedPass() { dm.ReleasePrepared(); }
  TPreparedPass(const TPreparedPass&) = delete;
  TPreparedPass& operator=(const TPreparedPass&) = delete;
  TDMMeldrun& dm;
};

struct TPass {
  TDMMeldrun& dm;
  TMemoryData* m;
  std::map<int32_t, std::set<AnsiString>>& empties;
  AnsiString key_field;  // the row's own key column

  TField* F(const char* name) const { return m->FieldByName(name); }
  bool Empty(const char* name) const { return F(name)->IsNull(); }
  AnsiString Text(const char* name) const { return F(name)->AsString(); }
  void Set(const char* name, const Variant& v) { SetValue(empties, m, F(name), v); }
  void EditRow() {
    if (m->State() != dsEdit) m->Edit();
  }
  void PostRow() {
    if (m->State() == dsEdit || m->State() == dsInsert) m->Post();
  }
  // Lists the current row in ErrorList and marks it refused; a new row loses its new key.
  void Refuse(const AnsiString& message) {
    EditRow();
    TField* update = F("UPDATE");
    if (update->IsNull() || update->AsInteger() == 0) F((key_field + "_NEW").c_str())->Clear();
    update->SetAsInteger(-1);
    PostRow();
    AnsiString dump;
    TDMMeldrun::DumpRecord(m, dump);
    dm.ErrorList().Add(message + CZ(" zdrojová data: ") + dump);
  }
  bool Refused() const { return !F("UPDATE")->IsNull() && F("UPDATE")->AsInteger() == -1; }
  void Progress(int32_t i, bool messages) {
    dm.MainForm().SetProgressPosition(i);
    dm.MainForm().RepaintProgress();
    if (messages) Application()->ProcessMessages();
  }
};

AnsiString MessageOf(const std::exception& e) {
  const auto* ex = dynamic_cast<const Exception*>(&e);
  return ex ? ex->Message() : AnsiString(e.what());
}

// Whether the station table carries the new-key column that the play-in adds.
bool StationHasColumn(TDMMeldrun& dm, const AnsiString& table, const AnsiString& column) {
  const Variant n = dm.SelectSrc(Format(
      "select count(*) from RDB$RELATION_FIELDS where RDB$RELATION_NAME = %s and RDB$FIELD_NAME = %s",
      {QuotedStr(AnsiUpperCase(table)), QuotedStr(AnsiUpperCase(column))}));
  return !IsNoRow(n) && n.AsInteger() > 0;
}

struct TOrgUnits {
  bool has[3] = {false, false, false};
  static constexpr const char* kTables[3] = {"ZARIZENI", "ODDELENI", "PRACOVISTE"};
  static constexpr const char* kKeys[3] = {"ID_ZARIZENI", "ID_ODDELENI", "ID_PRACOVISTE"};
  static constexpr const char* kNew[3] = {"ID_ZARIZENI_NEW", "ID_ODDELENI_NEW", "ID_PRACOVISTE_NEW"};

  explicit TOrgUnits(TDMMeldrun& dm) {
    for (int i = 0; i < 3; ++i) has[i] = StationHasColumn(dm, kTables[i], kNew[i]);
  }
  // The new keys the play-in wrote into the station's organisation tables. A unit with no
  // new key is the same in both databases; a station whose organisation structure was not
  // played (no new-key column) keeps its keys.
  void Resolve(TDMMeldrun& dm, TPass& p) const {
    for (int i = 0; i < 3; ++i) {
      TField* f = p.F(kKeys[i]);
      if (!has[i] || f->IsNull()) continue;
      const Variant v = dm.SelectPrepared(
          true, Format("select %s_NEW from %s where %s = :P0", {kKeys[i], kTables[i], kKeys[i]}),
          {Variant(f->AsInteger())});
      if (!IsNoRow(v)) p.Set(kNew[i], v);
    }
  }
};

// References that the memory rows carry as the station's keys, resolved as the copy engine
// resolves them: a user through the new key the play-in wrote into the station's user
// (else the user of the same short name in main), a store through its code. A reference
// that neither finds is unresolved: the row is refused rather than written with a key
// that names another row of main, or none.
struct TStationRefs {
  bool user_new_keys = false;

  explicit TStationRefs(TDMMeldrun& dm) : user_new_keys(StationHasColumn(dm, "UZIVATEL_NEW", "ID_UZIVATEL_NEW")) {}

  Variant User(TDMMeldrun& dm, int32_t station_key) const {
    if (user_new_keys) {
      const Variant v = dm.SelectPrepared(true, "select ID_UZIVATEL_NEW from UZIVATEL_NEW where ID_UZIVATEL = :P0",
                                          {Variant(station_key)});
      if (!IsNoRow(v)) return v;
    }
    const Variant code =
        dm.SelectPrepared(true, "select ZKRATKA from UZIVATEL_NEW where ID_UZIVATEL = :P0", {Variant(station_key)});
    if (IsNoRow(code)) return Variant::MakeNull();
    return dm.SelectPrepared(false, "select min(ID_UZIVATEL) from UZIVATEL_NEW where ZKRATKA = " + TextParam(0),
                             {code});
  }

  // A reference that carries no code of its own (column ID_<table>): the code of the
  // station's row of that key, and main's row of that code.
  static void ByStationCode(TDMMeldrun& dm, TPass& p, TUnresolved& unresolved, const char* column,
                            const AnsiString& table, const AnsiString& code_field) {
    TField* f = p.F(column);
    if (!Refers(f)) return;
    const Variant code = dm.SelectPrepared(
        true, Format("select %s from %s where ID_%s = :P0", {code_field, table, table}), {Variant(f->AsInteger())});
    Variant v;
    if (!IsNoRow(code) && !code.AsString().empty()) {
      v = dm.SelectPrepared(
          false, Format("select min(ID_%s) from %s where %s = %s", {table, table, code_field, TextParam(0)}), {code});
    }
    if (IsNoRow(v)) {
      unresolved.Add(column, code_field, IsNoRow(code) ? IntToStr(f->AsInteger()) : code.AsString());
    } else {
      p.Set((AnsiString(column) + "_NEW").c_str(), v);
    }
  }

  // Each user column of the row that refers to a user: its main key into column_NEW.
  void Users(TDMMeldrun& dm, TPass& p, TUnresolved& unresolved, std::initializer_list<const char*> columns) const {
    for (const char* column : columns) {
      TField* f = p.F(column);
      if (!Refers(f)) continue;
      const Variant v = User(dm, f->AsInteger());
      if (IsNoRow(v)) {
        unresolved.Add(column, "ID_UZIVATEL", IntToStr(f->AsInteger()));
      } else {
        p.Set((AnsiString(column) + "_NEW").c_str(), v);
      }
    }
  }

  // A store column with the code column beside it; a column that refers to no store
  // (-1) leaves the code text alone.
  static void StoreColumn(TDMMeldrun& dm, TPass& p, TUnresolved& unresolved, const char* column,
                          const char* code_column) {
    if (!Refers(p.F(column))) return;
    if (p.Empty(code_column)) {
      ByStationCode(dm, p, unresolved, column, "SKLAD", "SKLAD");
      return;
    }
    const Variant v = dm.SelectPrepared(false, "select min(ID_SKLAD) from SKLAD where SKLAD = " + TextParam(0),
                                        {Variant(p.Text(code_column))});
    if (IsNoRow(v)) {
      unresolved.Add(column, "SKLAD", p.Text(code_column));
    } else {
      p.Set((AnsiString(column) + "_NEW").c_str(), v);
    }
  }
};

}  // namespace

namespace {

// Runs body for every row of the pass in a per-row protected block: a failure refuses the
// row (the values set before it are kept, for the dump). A failure outside the rows closes
// the table and goes on.
template <typename Body>
void ForEachRow(TPass& p, Body body) {
  try {
    if (!p.m->Active()) p.m->Open();
    int32_t i = 0;
    for (p.m->First(); !p.m->Eof(); p.m->Next(), ++i) {
      p.Progress(i, true);
      try {
        body();
        p.PostRow();
      } catch (const std::exception& e) {
        p.Refuse(MessageOf(e));
      }
    }
  } catch (...) {
    CloseQuietly(p.m);
    throw;
  }
}

}  // namespace

bool TDMMeldrun::ResolveDocumentValues() {
  TMemoryImportState& state = MemoryState();
  const TPreparedPass pass(*this);
  EnsureLayouts(*this, state.layouts_made);
  main_form_.SetCountText(CZ("Aktualizace hodnot tabulky"));
  // The statuses kept belong to this import only.
  document_statuses_->Clear();
  TMemoryData* m = memory_doklad_;
  TPass p{*this, m, state.tables[m].empty_texts, "ID_DOKLAD"};
  const TOrgUnits org(*this);
  const TStationRefs refs(*this);
  // The new keys given in this pass by number and type: a second station document of the
  // same number is written over the first, as a duplicate merges in the other tables.
  std::map<std::pair<AnsiString, AnsiString>, Variant> new_documents;
  ForEachRow(p, [&] {
    TUnresolved unresolved;
    p.EditRow();
    p.Set("ID", p.F("ID_DOKLAD")->AsVariant());
    bool found = false;
    Variant row;
    // A document is known by its number: one without a number cannot be told from main's
    // documents, and written as new it would stand beside main's own as a duplicate.
    if (p.Empty("DOKLAD") || Trim(p.Text("DOKLAD")).empty()) throw EDatabaseError(CZ("doklad nemá číslo"));
    {
      SelectKeyedRow(false,
                     "select DOKLAD, TYP_DOKLADU, ID_DOKLAD, ID_DRUH_DOKLADU, ID_TABLE_STATUS, POSLEDNI_MODIFIKACE, "
                     "TABLE_STATUS from DOKLAD",
                     2, {Variant(p.Text("DOKLAD")), Variant(p.Text("TYP_DOKLADU"))}, found, row);
    }
    if (found) {
      p.Set("ID_DOKLAD_NEW", row[0]);
      p.Set("UPDATE", Variant(int16_t{1}));
      const Variant& kind = row[1];
      const Variant& status = row[2];
      const Variant& modified = row[3];
      const int32_t own_status = p.F("ID_TABLE_STATUS")->IsNull() ? 0 : p.F("ID_TABLE_STATUS")->AsInteger();
      const double own_modified =
          p.F("POSLEDNI_MODIFIKACE")->IsNull() ? 0 : p.F("POSLEDNI_MODIFIKACE")->AsDateTime();
      if (!IsNoRow(kind) && kind.AsInteger() == 1110 &&
          (IsNoRow(status) || status.AsInteger() != own_status) && !IsNoRow(modified) &&
          modified.AsDateTime() > own_modified) {
        document_statuses_->Add(row[0].AsString() + "|" + (IsNoRow(status) ? AnsiString() : status.AsString()) +
                                "|" + (IsNoRow(row[4]) ? AnsiString() : row[4].AsString()) + "|");
      }
    } else if (const auto earlier = new_documents.find({p.Text("DOKLAD"), p.Text("TYP_DOKLADU")});
               earlier != new_documents.end()) {
      p.Set("ID_DOKLAD_NEW", earlier->second);
      p.Set("UPDATE", Variant(int16_t{1}));
    } else {
      const Variant key = SelectPrepared(false, "select gen_id(gen_doklad, 1) from rdb$database");
      p.Set("ID_DOKLAD_NEW", key);
      p.Set("UPDATE", Variant(int16_t{0}));
      new_documents[{p.Text("DOKLAD"), p.Text("TYP_DOKLADU")}] = key;
    }
    if (!p.Empty("PARTNER")) {
      SelectKeyedRow(false, "select PARTNER, ID_PARTNER, PARTNER_NAZEV, ULICE, PSC, OBEC from PARTNER", 1,
                     {Variant(p.Text("PARTNER"))}, found, row);
      if (found) {
        const char* names[] = {"ID_PARTNER_NEW", "PARTNER_NAZEV_NEW", "ULICE_NEW", "PSC_NEW", "OBEC_NEW"};
        for (int32_t i = 0; i < 5; ++i) p.Set(names[i], row[i]);
      } else {
        unresolved.Add("ID_PARTNER", "PARTNER", p.Text("PARTNER"));
      }
    } else {
      TStationRefs::ByStationCode(*this, p, unresolved, "ID_PARTNER", "PARTNER", "PARTNER");
    }
    for (const char* code : {"CENIK", "SKLAD"}) {
      if (p.Empty(code)) {
        TStationRefs::ByStationCode(*this, p, unresolved, ("ID_" + AnsiString(code)).c_str(), code, code);
        continue;
      }
      const AnsiString c = code;
      const Variant v = SelectPrepared(
          false, Format("select ID_%s from %s where (%s = %s)", {c, c, c, TextParam(0)}), {Variant(p.Text(code))});
      if (!IsNoRow(v)) {
        p.Set(("ID_" + c + "_NEW").c_str(), v);
      } else {
        unresolved.Add("ID_" + c, c, p.Text(code));
      }
    }
    TStationRefs::StoreColumn(*this, p, unresolved, "ID_SKLAD_CIL", "SKLAD_CIL");
    refs.Users(*this, p, unresolved, {"ID_VLASTNI_ZASTUPCE", "ID_ZALOZIL", "ID_MODIFIKOVAL"});
    org.Resolve(*this, p);
    unresolved.Raise();
  });
  return true;
}

bool TDMMeldrun::ResolveDocumentParents() {
  TMemoryImportState& state = MemoryState();
  const TPreparedPass pass(*this);
  EnsureLayouts(*this, state.layouts_made);
  main_form_.SetCountText(CZ("Aktualizace vazeb na předky"));
  TMemoryData* m = memory_doklad_;
  TPass p{*this, m, state.tables[m].empty_texts, "ID_DOKLAD"};
  try {
    if (!m->Active()) m->Open();
    int32_t i = 0;
    for (m->First(); !m->Eof(); m->Next(), ++i) {
      p.Progress(i, false);
      if (p.Refused() || p.Empty("DOKLAD_PUVODNI")) continue;
      const AnsiString number = p.Text("DOKLAD_PUVODNI");
      const TBookmark here = m->GetBookmark();
      Variant key;
      if (m->Locate("DOKLAD", Variant(number), TLocateOptions{loCaseInsensitive})) key = m->FieldByName("ID_DOKLAD_NEW")->AsVariant();
      m->GotoBookmark(here);
      if (!IsNoRow(key)) {
        p.EditRow();
        p.Set("ID_PREDEK_NEW", key);
        p.Set("DOKLAD_PUVODNI_NEW", Variant(number));
        p.PostRow();
        continue;
      }
      // Not imported now: the station's key stands when the main database holds that
      // predecessor under it (a document the station did not change keeps its key).
      if (!Refers(p.F("ID_PREDEK"))) continue;
      const Variant same =
          SelectPrepared(false, "select count(*) from DOKLAD where ID_DOKLAD = :P0 and DOKLAD = " + TextParam(1),
                         {Variant(p.F("ID_PREDEK")->AsInteger()), Variant(number)});
      if (!IsNoRow(same) && same.AsInteger() > 0) continue;
      TUnresolved u;
      u.Add("ID_PREDEK", "DOKLAD_PUVODNI", number);
      u.RefuseIn(p);
    }
  } catch (...) {
    CloseQuietly(m);
    throw;
  }
  return true;
}

namespace {

// The new key of a document: among the documents imported in this run, else in the main
// database by its number and type; Null when neither knows it.
Variant DocumentKey(TDMMeldrun& dm, const AnsiString& number, const AnsiString& type) {
  TMemoryData* docs = dm.MemoryDoklad();
  if (docs->Active() &&
      docs->Locate("DOKLAD;TYP_DOKLADU", VarArrayOf({Variant(number), Variant(type)}),
                   TLocateOptions{loCaseInsensitive})) {
    const Variant v = docs->FieldByName("ID_DOKLAD_NEW")->AsVariant();
    // A refused new document has no key: nothing was written under it.
    if (!IsNoRow(v)) return v;
    return Variant::MakeNull();
  }
  return dm.SelectKeyed(false, "select DOKLAD, TYP_DOKLADU, ID_DOKLAD from DOKLAD", 2, {Variant(number), Variant(type)});
}

}  // namespace

bool TDMMeldrun::ResolveDailyRecordValues() {
  TMemoryImportState& state = MemoryState();
  const TPreparedPass pass(*this);
  EnsureLayouts(*this, state.layouts_made);
  main_form_.SetCountText(CZ("Aktualizace hodnot tabulky"));
  TMemoryData* m = memory_den_zaznam_;
  TPass p{*this, m, state.tables[m].empty_texts, "ID_DENNI_ZAZNAM"};
  const TOrgUnits org(*this);
  const TStationRefs refs(*this);
  ForEachRow(p, [&] {
    TUnresolved unresolved;
    const AnsiString date = DateText(p.F("DATUM"));
    const AnsiString time = TimeText(p.F("CAS"));
    const AnsiString case_date = DateText(p.F("DATUM_PRIPADU"));
    // The daily records of main by patient code, date and time as the database formats them.
    const AnsiString sql =
        "select PAC.PACIENT, snvl(DATETOSTR(DZ.DATUM, '%d.%m.%Y'), ''), snvl(cast(DZ.CAS as char(13)), ''), "
        "DZ.ID_DENNI_ZAZNAM from DENNI_ZAZNAM DZ join PACIENT PAC on DZ.ID_PACIENT = PAC.ID_PACIENT";
    p.EditRow();
    p.Set("ID", p.F("ID_DENNI_ZAZNAM")->AsVariant());
    const Variant own = SelectKeyed(false, sql, 3, {Variant(p.Text("PACIENT")), Variant(date), Variant(time)});
    if (!IsNoRow(own)) {
      p.Set("ID_DENNI_ZAZNAM_NEW", own);
      p.Set("UPDATE", Variant(int16_t{1}));
    } else {
      p.Set("ID_DENNI_ZAZNAM_NEW", SelectPrepared(false, "select gen_id(gen_denni_zaznam, 1) from rdb$database"));
      p.Set("UPDATE", Variant(int16_t{0}));
    }
    if (!p.Empty("ID_PACIENT")) {
      const Variant v = SelectKeyed(false, "select PACIENT, ID_PACIENT from PACIENT", 1, {Variant(p.Text("PACIENT"))});
      if (!IsNoRow(v)) {
        p.Set("ID_PACIENT_NEW", v);
      } else {
        unresolved.Add("ID_PACIENT", "PACIENT", p.Text("PACIENT"));
      }
    }
    if (!p.Empty("ID_PACIENT_NEW")) {
      const Variant v = SelectKeyed(false, "select id_pacient, id_pripad from pripad where aktivni = 'O'", 1,
                                    {Variant(p.F("ID_PACIENT_NEW")->AsInteger())});
      if (!IsNoRow(v)) p.Set("ID_PRIPAD_NEW", v);
    }
    if (!p.Empty("DOKLAD")) {
      const Variant v = DocumentKey(*this, p.Text("DOKLAD"), p.Text("TYP_DOKLADU"));
      if (!IsNoRow(v)) {
        p.Set("ID_DOKLAD_NEW", v);
      } else {
        unresolved.Add("ID_DOKLAD", "DOKLAD", p.Text("DOKLAD"));
      }
    } else {
      p.Set("ID_DOKLAD", Variant(-1));
    }
    if (!p.Empty("PRIPAD")) {
      const Variant v = SelectKeyed(
          false,
          "select P.PRIPAD, PAC.PACIENT, snvl(DATETOSTR(P.ZALOZENI_ZAZNAMU, '%d.%m.%Y'), ''), P.ID_PRIPAD from PRIPAD P "
          "join PACIENT PAC on P.ID_PACIENT = PAC.ID_PACIENT",
          3, {Variant(p.Text("PRIPAD")), Variant(p.Text("PACIENT")), Variant(case_date)});
      if (!IsNoRow(v)) {
        p.Set("ID_PRIPAD_NEW", v);
      } else {
        p.Set("PRIPAD_NEW", Variant(CZ("Nezařazené návštěvy")));
      }
    }
    if (Refers(p.F("ID_PRIPAD")) && p.Empty("ID_PRIPAD_NEW")) unresolved.Add("ID_PRIPAD", "PRIPAD", p.Text("PRIPAD"));
    TStationRefs::ByStationCode(*this, p, unresolved, "ID_SKLAD", "SKLAD", "SKLAD");
    refs.Users(*this, p, unresolved, {"ID_ORG_JEDNOTKA", "ID_ZALOZIL", "ID_MODIFIKOVAL"});
    if (Refers(p.F("ID_ZADANKA"))) {
      // The request by its natural key (patient and request number) in main. A request
      // main does not have yet is played after the daily records and points its daily
      // record at itself then: a new record waits with -1, a record main has keeps its
      // link.
      bool found = false;
      Variant request;
      SelectPreparedRow(true,
                        "select PAC.PACIENT, Z.ZADANKA from ZADANKA Z join PACIENT PAC on Z.ID_PACIENT = PAC.ID_PACIENT "
                        "where Z.ID_ZADANKA = :P0",
                        {Variant(p.F("ID_ZADANKA")->AsInteger())}, found, request);
      Variant v;
      if (found) {
        v = SelectPrepared(false,
                           "select min(Z.ID_ZADANKA) from ZADANKA Z join PACIENT PAC on Z.ID_PACIENT = PAC.ID_PACIENT "
                           "where PAC.PACIENT = " + TextParam(0) + " and Z.ZADANKA = " + TextParam(1),
                           {request[0], request[1]});
      }
      if (IsNoRow(v) && p.F("UPDATE")->AsInteger() == 1) {
        v = SelectPrepared(false, "select ID_ZADANKA from DENNI_ZAZNAM where ID_DENNI_ZAZNAM = :P0",
                           {Variant(p.F("ID_DENNI_ZAZNAM_NEW")->AsInteger())});
      }
      p.Set("ID_ZADANKA_NEW", IsNoRow(v) ? Variant(-1) : v);
    }
    org.Resolve(*this, p);
    unresolved.Raise();
  });
  return true;
}

bool TDMMeldrun::ResolveDocumentItemValues(const AnsiString& item_table) {
  TMemoryImportState& state = MemoryState();
  const TPreparedPass pass(*this);
  EnsureLayouts(*this, state.layouts_made);
  main_form_.SetCountText(CZ("Aktualizace hodnot tabulky"));
  CheckName(item_table);
  TMemoryData* m = memory_doklad_polozka_;
  TPass p{*this, m, state.tables[m].empty_texts, "ID_DOKLAD_POLOZKA"};
  const TOrgUnits org(*this);
  const TStationRefs refs(*this);
  ForEachRow(p, [&] {
    TUnresolved unresolved;
    // The items of main by document number, variant, creation date and time as the database
    // formats them.
    const AnsiString sql = "select d.DOKLAD, dp.VARIANTA, snvl(DATETOSTR(dp.ZALOZENI_ZAZNAMU, '%d.%m.%Y'), ''), "
                           "snvl(cast(dp.CAS as char(13)), ''), dp.ID_DOKLAD_POLOZKA from " +
                           item_table + " dp join DOKLAD d on dp.ID_DOKLAD = d.ID_DOKLAD";
    p.EditRow();
    p.Set("ID", p.F("ID_DOKLAD_POLOZKA")->AsVariant());
    const Variant own =
        SelectKeyed(false, sql, 4,
                    {Variant(p.Text("DOKLAD")), Variant(p.Text("VARIANTA")),
                     Variant(DateText(p.F("ZALOZENI_ZAZNAMU"))), Variant(TimeText(p.F("CAS")))});
    if (!IsNoRow(own)) {
      p.Set("ID_DOKLAD_POLOZKA_NEW", own);
      p.Set("UPDATE", Variant(int16_t{1}));
    } else {
      p.Set("ID_DOKLAD_POLOZKA_NEW", SelectPrepared(false, "select gen_id(gen_doklad_polozka, 1) from rdb$database"));
      p.Set("UPDATE", Variant(int16_t{0}));
    }
    if (!p.Empty("DOKLAD")) {
      const Variant v = DocumentKey(*this, p.Text("DOKLAD"), p.Text("TYP_DOKLADU"));
      if (!IsNoRow(v)) {
        p.Set("ID_DOKLAD_NEW", v);
      } else {
        unresolved.Add("ID_DOKLAD", "DOKLAD", p.Text("DOKLAD"));
      }
    } else if (Refers(p.F("ID_DOKLAD"))) {
      // The item of a document without a number: the document is refused, so is the item.
      unresolved.Add("ID_DOKLAD", "DOKLAD", AnsiString());
    }
    if (!p.Empty("VARIANTA")) {
      bool found = false;
      Variant row;
      SelectKeyedRow(false, "select VARIANTA, VARIANTA_NAZEV, ID_VARIANTA from VARIANTA", 1,
                     {Variant(p.Text("VARIANTA"))}, found, row);
      if (found) {
        p.Set("ID_VARIANTA_NEW", row[1]);
        p.Set("VARIANTA_NAZEV_NEW", row[0]);
      } else {
        unresolved.Add("ID_VARIANTA", "VARIANTA", p.Text("VARIANTA"));
      }
    } else {
      TStationRefs::ByStationCode(*this, p, unresolved, "ID_VARIANTA", "VARIANTA", "VARIANTA");
    }
    for (const char* code : {"MERNA_JEDNOTKA", "SKLAD", "CENIK"}) {
      if (p.Empty(code)) {
        TStationRefs::ByStationCode(*this, p, unresolved, ("ID_" + AnsiString(code)).c_str(), code, code);
        continue;
      }
      const AnsiString c = code;
      const Variant v = SelectPrepared(
          false, Format("select ID_%s from %s where (%s = %s)", {c, c, c, TextParam(0)}), {Variant(p.Text(code))});
      if (!IsNoRow(v)) {
        p.Set(("ID_" + c + "_NEW").c_str(), v);
      } else {
        unresolved.Add("ID_" + c, c, p.Text(code));
      }
    }
    if (Refers(p.F("ID_DENNI_ZAZNAM"))) {
      const int32_t day = p.F("ID_DENNI_ZAZNAM")->AsInteger();
      TMemoryData* days = memory_den_zaznam_;
      Variant v;
      if (days->Active() && days->Locate("ID_DENNI_ZAZNAM", Variant(day), TLocateOptions{})) {
        v = days->FieldByName("ID_DENNI_ZAZNAM_NEW")->AsVariant();
      } else {
        // A daily record the station did not change keeps its key in the main database.
        const Variant n = SelectPrepared(false, "select count(*) from DENNI_ZAZNAM where ID_DENNI_ZAZNAM = :P0", {Variant(day)});
        if (!IsNoRow(n) && n.AsInteger() > 0) v = Variant(day);
      }
      if (!IsNoRow(v)) {
        p.Set("ID_DENNI_ZAZNAM_NEW", v);
      } else {
        unresolved.Add("ID_DENNI_ZAZNAM", "ID_DENNI_ZAZNAM", IntToStr(day));
      }
    }
    refs.Users(*this, p, unresolved, {"ID_ZALOZIL", "ID_MODIFIKOVAL"});
    org.Resolve(*this, p);
    unresolved.Raise();
  });
  return true;
}

bool TDMMeldrun::ResolveDocumentItemParents() {
  TMemoryImportState& state = MemoryState();
  const TPreparedPass pass(*this);
  EnsureLayouts(*this, state.layouts_made);
  main_form_.SetCountText(CZ("Aktualizace vazeb na předky"));
  TMemoryData* m = memory_doklad_polozka_;
  TPass p{*this, m, state.tables[m].empty_texts, "ID_DOKLAD_POLOZKA"};
  // The items imported so far in this run by their station key (the source-key column
  // ID), read once per item table and pass: nothing in this pass writes to them, and the
  // column has no index, so a read per row would scan the whole table each time. The
  // first row of a key wins, as the single-row read would take it.
  std::map<AnsiString, std::unordered_map<int32_t, Variant>> by_source_key;
  auto imported_item = [&](const char* kind, int32_t source_key) {
    auto [at, fresh] = by_source_key.try_emplace(kind);
    if (fresh) {
      RunPrepared(PreparedQuery(false, "select ID, ID_DOKLAD_POLOZKA from doklad_polozka_" + AnsiString(kind) +
                                           " where ID is not null"),
                  {}, [&](TREZQuery* q) {
                    for (q->First(); !q->Eof(); q->Next())
                      at->second.try_emplace(q->Fields(0)->AsInteger(), q->Fields(1)->AsVariant());
                  });
    }
    const auto found = at->second.find(source_key);
    return found == at->second.end() ? Variant::MakeNull() : found->second;
  };
  auto exists = [&](const char* table, int32_t key) {
    const Variant n =
        SelectPrepared(false, "select count(*) from " + AnsiString(table) + " where ID_DOKLAD_POLOZKA = :P0", {Variant(key)});
    return !IsNoRow(n) && n.AsInteger() > 0;
  };
  try {
    if (!m->Active()) m->Open();
    int32_t i = 0;
    for (m->First(); !m->Eof(); m->Next(), ++i) {
      p.Progress(i, false);
      if (p.Refused()) continue;
      TUnresolved unresolved;
      bool failed = false;
      // 1. The predecessor document.
      if (Refers(p.F("ID_DOKLAD_PREDEK"))) {
        const int32_t doc = p.F("ID_DOKLAD_PREDEK")->AsInteger();
        Variant v;
        TMemoryData* docs = memory_doklad_;
        if (docs->Active() && docs->Locate("ID_DOKLAD", Variant(doc), TLocateOptions{})) {
          v = docs->FieldByName("ID_DOKLAD_NEW")->AsVariant();
        }
        if (IsNoRow(v) && !p.Empty("DOKLAD_PREDEK")) {
          const Variant n =
              SelectPrepared(false, "select count(*) from DOKLAD where ID_DOKLAD = :P0 and DOKLAD = " + TextParam(1),
                             {Variant(doc), Variant(p.Text("DOKLAD_PREDEK"))});
          if (!IsNoRow(n) && n.AsInteger() > 0) v = Variant(doc);
        }
        if (!IsNoRow(v)) {
          p.EditRow();
          p.Set("ID_DOKLAD_PREDEK_NEW", v);
        } else {
          unresolved.Add("ID_DOKLAD_PREDEK", "DOKLAD", p.Text("DOKLAD_PREDEK"));
          failed = true;
        }
      }
      // 2. An issue ("V") refers to the item it was issued from and to the receipt.
      if (!failed && p.Text("TYP_POHYBU") == "V") {
        if (Refers(p.F("ID_DOKLAD_POLOZKA_PREDEK"))) {
          const int32_t prev = p.F("ID_DOKLAD_POLOZKA_PREDEK")->AsInteger();
          Variant v;
          for (const char* kind : {"UM", "PD", "FA"}) {
            v = imported_item(kind, prev);
            if (!IsNoRow(v)) break;
          }
          if (IsNoRow(v) && (exists("DOKLAD_POLOZKA_UM", prev) || exists("DOKLAD_POLOZKA_PD", prev) ||
                             exists("DOKLAD_POLOZKA_FA", prev)))
            v = Variant(prev);
          if (!IsNoRow(v)) {
            p.EditRow();
            p.Set("ID_DOKLAD_POLOZKA_PREDEK_NEW", v);
          } else {
            unresolved.Add("ID_DOKLAD_POLOZKA_PREDEK", "ID", IntToStr(prev));
            failed = true;
          }
        }
        if (!failed && Refers(p.F("ID_DOKLAD_POLOZKA_PRIJEM"))) {
          const int32_t receipt = p.F("ID_DOKLAD_POLOZKA_PRIJEM")->AsInteger();
          p.PostRow();
          const TBookmark here = m->GetBookmark();
          Variant v;
          bool in_memory = false;
          if (m->Locate("ID_DOKLAD_POLOZKA", Variant(receipt), TLocateOptions{})) {
            in_memory = true;
            v = m->FieldByName("ID_DOKLAD_POLOZKA_NEW")->AsVariant();
          }
          m->GotoBookmark(here);
          if (!in_memory) {
            for (const char* t : {"DOKLAD_POLOZKA_UM", "DOKLAD_POLOZKA_PD", "DOKLAD_POLOZKA_FA",
                                  "DOKLAD_POLOZKA_SK"}) {
              if (exists(t, receipt)) {
                v = Variant(receipt);
                break;
              }
            }
          }
          if (!IsNoRow(v)) {
            p.EditRow();
            p.Set("ID_DOKLAD_POLOZKA_PRIJEM_NEW", v);
          } else {
            unresolved.Add("ID_DOKLAD_POLOZKA_PRIJEM", "ID_DOKLAD_POLOZKA", IntToStr(receipt));
            failed = true;
          }
        }
      }
      p.PostRow();
      if (failed) unresolved.RefuseIn(p);
    }
  } catch (...) {
    CloseQuietly(m);
    throw;
  }
  return true;
}

// --- Import ------------------------------------------------------------------------------------

namespace {

// The main table's columns that the statements write: with a memory table, those it holds
// and the station delivered (or the resolution sets), so that an UPDATE never clears a
// main value the station did not send.
std::vector<AnsiString> WrittenColumns(TDataSet* dataset, TMemoryData* memory_table,
                                       const std::set<AnsiString>* delivered,
                                       const AnsiString& key_field) {
  std::vector<AnsiString> names;
  for (TField* f : dataset->FieldList()) {
    if (f->DataType() == ftBytes &&
        (AnsiSameText(f->FieldName(), "DB_KEY") || AnsiSameText(f->FieldName(), "RDB$DB_KEY")))
      continue;
    const AnsiString name = AnsiUpperCase(f->FieldName());
    if (memory_table != nullptr) {
      if (memory_table->FindField(name) == nullptr) continue;
      const bool set_here = name == "ID" || name == AnsiUpperCase(key_field);
      if (!set_here && delivered != nullptr && delivered->count(name) == 0) continue;
    }
    names.push_back(CheckName(name));
  }
  return names;
}

}  // namespace

void TDMMeldrun::BuildInsertSQL(const AnsiString& table_name, TDataSet* dataset, AnsiString& sql,
                                TMemoryData* memory_table) {
  const auto* table = memory_table ? &MemoryState().tables[memory_table] : nullptr;
  const auto names = WrittenColumns(dataset, memory_table, table ? &table->delivered : nullptr, "");
  AnsiString columns, values;
  for (const AnsiString& n : names) {
    if (!columns.empty()) {
      columns += ", ";
      values += ", ";
    }
    columns += n;
    values += ":" + n;
  }
  sql = "insert into " + CheckName(table_name) + " (" + columns + ")" + " values (" + values + ")";
}

void TDMMeldrun::BuildUpdateSQL(const AnsiString& table_name, const AnsiString& key_field,
                                AnsiString& sql, TDataSet* dataset, TMemoryData* memory_table) {
  const auto* table = memory_table ? &MemoryState().tables[memory_table] : nullptr;
  const auto names = WrittenColumns(dataset, memory_table, table ? &table->delivered : nullptr, key_field);
  AnsiString set;
  for (const AnsiString& n : names) {
    if (!set.empty()) set += ", ";
    set += n + " = :" + n;
  }
  sql = "update " + CheckName(table_name) + " set " + set + " where (" + CheckName(key_field) + " = ";
}

void TDMMeldrun::BuildImportSQL(AnsiString& insert_sql, AnsiString& update_sql,
                                const AnsiString& key_field, const AnsiString& table_name,
                                TMemoryData* memory_table) {
  TREZQuery* q = ib_query_dst_other_;
  TIB_Transaction* transaction = q->IB_Transaction();
  try {
    if (q->Active()) q->Close();
    if (!IsTransactionStarted(transaction)) transaction->StartTransaction();
    q->SQL()->SetText(Format("select first 1 * from %s ", {CheckName(table_name)}));
    q->Prepare();
    q->Open();
    q->First();
    BuildInsertSQL(table_name, q, insert_sql, memory_table);
    BuildUpdateSQL(table_name, key_field, update_sql, q, memory_table);
    q->Close();
    transaction->Commit();
  } catch (...) {
    CloseQuietly(q);
    try {
      if (IsTransactionStarted(transaction)) transaction->Commit();
    } catch (...) {
    }
    throw;
  }
}

void TDMMeldrun::ValuePreferNew(const AnsiString& field_name, TDataSet* dataset, Variant& value) {
  auto* m = dynamic_cast<TMemoryData*>(dataset);
  const std::map<int32_t, std::set<AnsiString>>* empties = nullptr;
  if (m != nullptr && memory_state_) {
    auto it = memory_state_->tables.find(m);
    if (it != memory_state_->tables.end()) empties = &it->second.empty_texts;
  }
  value = FieldValue(empties, dataset, dataset->FieldByName(field_name));
  if (TField* n = dataset->FindField(field_name + "_NEW")) {
    const Variant v = FieldValue(empties, dataset, n);
    if (!IsNoRow(v)) value = v;
  }
}

bool TDMMeldrun::ImportNewRecords(const AnsiString& table_name, const AnsiString& key_field,
                                  TMemoryData* memory_table) {
  TMemoryImportState& state = MemoryState();
  EnsureLayouts(*this, state.layouts_made);
  main_form_.SetCountText(CZ("Import nových záznamů"));
  AnsiString insert_sql, update_sql;
  BuildImportSQL(insert_sql, update_sql, key_field, table_name, memory_table);
  TMemoryData* m = memory_table;
  TPass p{*this, m, state.tables[m].empty_texts, key_field};
  // Every new row runs the same INSERT and every updated row the same UPDATE, whose key is
  // a parameter as well: each statement is prepared once for the table.
  static const AnsiString kKeyParam = "IMPORT_KEY_";
  TREZQuery* insert = ib_query_dst_other_;
  TIB_Transaction* transaction = insert->IB_Transaction();
  if (insert->Active()) insert->Close();
  insert->SQL()->SetText(insert_sql);
  TREZQuery update(nullptr);
  update.SetIB_Connection(dst_);
  update.SetIB_Transaction(transaction);
  update.SQL()->SetText(update_sql + ":" + kKeyParam + ")");
  const int32_t station = main_form_.StationIndex();
  const bool has_mappings = station >= 0 && static_cast<size_t>(station) < station_mappings_.size();
  if (!m->Active()) m->Open();
  int32_t i = 0;
  for (m->First(); !m->Eof(); m->Next(), ++i) {
    main_form_.SetCountText(Format(CZ("Import záznamů (%d/%d)"), {i, main_form_.ProgressMax()}));
    main_form_.SetProgressPosition(i);
    main_form_.RepaintProgress();
    Application()->ProcessMessages();
    TField* mode_field = m->FieldByName("UPDATE");
    const int32_t mode = mode_field->IsNull() ? 0 : mode_field->AsInteger();
    if (mode == -1) continue;  // refused and listed already
    TREZQuery* q = mode == 1 ? &update : insert;
    if (q->Active()) q->Close();
    try {
      for (int32_t k = 0; k < q->Params().Count(); ++k) {
        TParam* param = q->Params().Items(k);
        if (mode == 1 && param->Name() == kKeyParam) {
          Variant key;
          ValuePreferNew(key_field, m, key);
          param->SetValue(Variant(key.AsInteger()));
          continue;
        }
        if (m->FindField(param->Name()) == nullptr) {
          param->Clear();
          continue;
        }
        Variant v;
        ValuePreferNew(param->Name(), m, v);
        if (IsNoRow(v)) {
          param->Clear();
        } else {
          param->SetValue(v);
        }
      }
      if (!IsTransactionStarted(transaction)) transaction->StartTransaction();
      q->ExecSQL();
      transaction->Commit();
      // A written row's station key and main key (a new one, or the main row's it was
      // written over), for the remap of the station's journal (a station whose lists
      // were not made keeps none).
      if (!m->FieldByName(key_field)->IsNull() && has_mappings) {
        Variant key;
        ValuePreferNew(key_field, m, key);
        AddIdMapping(table_name, IntToStr(m->FieldByName(key_field)->AsInteger()), IntToStr(key.AsInteger()));
      }
    } catch (const std::exception& e) {
      CloseQuietly(q);
      try {
        if (IsTransactionStarted(transaction)) transaction->Rollback();
      } catch (...) {
      }
      // Rows that refer to a new row that was not written must not be written either.
      p.Refuse(MessageOf(e));
    }
  }
  if (insert->Active()) insert->Close();
  return false;
}

void TDMMeldrun::ApplyDocumentStatuses() {
  for (int32_t i = 0; i < document_statuses_->Count(); ++i) {
    AnsiString rest = document_statuses_->Strings(i);
    const AnsiString line = rest;
    const AnsiString id = CutToken(rest, '|');
    const AnsiString id_status = CutToken(rest, '|');
    const AnsiString status = CutToken(rest, '|');
    int32_t document = 0;
    int32_t status_key = 0;
    if (!TryStrToInt(id, document) || (!id_status.empty() && !TryStrToInt(id_status, status_key))) {
      throw EConvertError(Format(CZ("Chybný záznam stavu dokladu \"%s\"."), {line}));
    }
    ExecDst(Format("update doklad set id_table_status = %s, table_status = %s where (id_doklad = %d)",
                   {id_status.empty() ? AnsiString("null") : IntToStr(status_key), QuotedStr(status), document}));
  }
  document_statuses_->Clear();
}

}  // namespace pelvar
