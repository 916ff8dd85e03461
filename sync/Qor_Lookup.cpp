#include "sync/Qor_Lookup.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"

namespace pelvar {

// --- TQorLookupList ------------------------------------------------------------------

TQorLookupList::TQorLookupList(TIB_Connection* connection)
    : key_list_(std::make_unique<TStringList>()),
      column_names_(std::make_unique<TStringList>()),
      query_transaction_(std::make_unique<TREZTransaction>(nullptr)),
      query_(std::make_unique<TREZQuery>(nullptr)) {
  query_transaction_->SetIB_Connection(connection);
  query_transaction_->SetIsolation(tiCommitted);
  query_->SetDatabaseName(connection->DatabaseName());
  query_->SetIB_Connection(connection);
  query_->SetIB_Transaction(query_transaction_.get());
}

TQorLookupList::~TQorLookupList() {
  try {
    Close();
  } catch (...) {
    // The list goes with its owner; a failing commit of a read has nothing to lose.
  }
  ClearCache();
  // The query goes before its transaction.
  query_.reset();
  query_transaction_.reset();
}

void TQorLookupList::SetQuery(const AnsiString& key_field, const AnsiString& sql) {
  key_field_name_ = key_field;
  indexed_ = false;
  query_->SQL()->Add(sql);
  query_->Prepare();
}

void TQorLookupList::ClearCache() {
  key_list_->SetSorted(false);
  for (int32_t i = 0; i < key_list_->Count(); ++i) delete key_list_->Objects(i);
  key_list_->Clear();
}

void TQorLookupList::LoadKey(const AnsiString& key) {
  ClearCache();
  column_names_->Clear();
  if (!query_->Active()) {
    indexed_ = false;
    query_->Open();
  }
  TField* key_field = nullptr;
  for (TField* f : query_->FieldList()) {
    column_names_->Add(f->FieldName());
    if (key_field == nullptr && f->FieldName() == key_field_name_) key_field = f;
  }
  if (key_field == nullptr) {
    throw EDatabaseError(Format(CZ("Pole '%s' nenalezeno"), {key_field_name_}));
  }
  if (!indexed_) {
    // The values of the first row of every key, read in one pass: going back to a row of
    // the buffered result later would step through the rows before it.
    rows_by_key_.clear();
    const auto n = static_cast<int32_t>(column_names_->Count());
    for (query_->First(); !query_->Eof(); query_->Next()) {
      auto [at, fresh] = rows_by_key_.try_emplace(key_field->AsString());
      if (!fresh) continue;
      at->second = VarArrayCreate({0, n - 1}, varVariant);
      for (int32_t i = 0; i < n; ++i) at->second.PutElement({i}, query_->Fields(i)->AsVariant());
    }
    indexed_ = true;
  }
  const auto row = rows_by_key_.find(key);
  if (row != rows_by_key_.end()) {
    auto entry = std::make_unique<TNamedValue>();
    entry->Value = row->second;
    key_list_->AddObject(row->first, entry.release());
  }
  key_list_->SetSorted(true);
}

bool TQorLookupList::Find(const AnsiString& key) {
  LoadKey(key);
  current_index_ = -1;
  int32_t index = -1;
  if (!key_list_->Find(key, index)) return false;
  while (index > 0 && key_list_->Strings(index - 1) == key_list_->Strings(index)) --index;
  current_index_ = index;
  return true;
}

Variant TQorLookupList::GetValue(int32_t index) const {
  if (current_index_ < 0 || current_index_ >= key_list_->Count()) {
    throw Exception(CZ("Nebyl nalezen aktuální záznam..."));
  }
  const auto* entry = static_cast<const TNamedValue*>(key_list_->Objects(current_index_));
  return entry->Value.GetElement({index});
}

void TQorLookupList::EndTransaction() {
  if (IsTransactionStarted(query_transaction_.get())) query_transaction_->Commit();
}

void TQorLookupList::Close() {
  ClearCache();
  current_index_ = -1;
  column_names_->Clear();
  query_->Close();
  rows_by_key_.clear();
  indexed_ = false;
  EndTransaction();
  query_->SQL()->Clear();
}

// --- TVariants ---------------------------------------------------------------------

TNamedValue& TVariants::Entry(int32_t index) const {
  if (index < 0 || index >= list_.Count()) {
    throw EListError(Format(CZ("Index seznamu je mimo rozsah (%d)"), {index}));
  }
  return *static_cast<TNamedValue*>(list_.Objects(index));
}

void TVariants::Add(const AnsiString& name, const Variant& value) {
  auto entry = std::make_unique<TNamedValue>();
  entry->Value = value;
  list_.AddObject(name, entry.get());
  entry.release();
}

void TVariants::Clear() {
  for (int32_t i = 0; i < list_.Count(); ++i) delete list_.Objects(i);
  list_.Clear();
}

int32_t TVariants::IndexOf(const AnsiString& name) const {
  for (int32_t i = 0; i < list_.Count(); ++i)
    if (AnsiSameText(list_.Strings(i), name)) return i;
  return -1;
}

AnsiString TVariants::GetName(int32_t index) const {
  Entry(index);
  return list_.Strings(index);
}

Variant TVariants::GetValue(int32_t index) const { return Entry(index).Value; }

// --- TTextMemoryStream ---------------------------------------------------------------

void TTextMemoryStream::ReadTo(const AnsiString& delimiter, AnsiString& text) {
  text.clear();
  const bool single = delimiter.size() == 1;
  uint8_t b = 0;
  while (Read(&b, 1) == 1) {
    if (single && static_cast<char>(b) == delimiter[0]) break;
    if (b >= 32) text.push_back(static_cast<char>(b));
  }
}

void TTextMemoryStream::ReadLine(AnsiString& text) {
  ReadTo("\r", text);
  uint8_t lf = 0;
  Read(&lf, 1);
}

void TTextMemoryStream::WriteString(const AnsiString& text) {
  if (!text.empty()) WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TTextMemoryStream::WriteLine(const AnsiString& text) {
  WriteString(text);
  WriteString("\r\n");
}

// --- TAsciTable ----------------------------------------------------------------------

void TAsciTable::Open() {
  TagWidth = 0;
  for (int32_t i = 0; i < tag_names_.GetCount(); ++i)
    TagWidth = std::max(TagWidth, static_cast<int32_t>(tag_names_.GetName(i).size()));
  AtEnd = false;
  if (Mode == amLoadSave || Mode == amLoad) {
    LoadFromFile(FileName);
    Seek(0, TSeekOrigin::soBeginning);
    ReadTaggedLine();
  }
}

void TAsciTable::Close() {
  if (Mode == amLoadSave || Mode == amSave) SaveToFile(FileName);
}

AnsiString TAsciTable::ReadTaggedLine() {
  ReadLine(CurrentLine);
  AtEnd = CurrentLine.empty();
  CurrentTag = 0;
  if (tag_names_.GetCount() == 0) return AnsiString();
  const AnsiString head = CurrentLine.substr(0, static_cast<size_t>(TagWidth));
  for (int32_t i = 0; i < tag_names_.GetCount(); ++i) {
    const AnsiString name = tag_names_.GetName(i);
    if (head.find(name) != AnsiString::npos) {
      CurrentTag = i;
      return name;
    }
  }
  return AnsiString();
}

}  // namespace pelvar
