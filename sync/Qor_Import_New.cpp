#include "sync/Qor_Import_New.h"

#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "sync/DmMeld.h"

namespace pelvar {

namespace {

bool IsBinary(TFieldType t) {
  return t == ftBlob || t == ftGraphic || t == ftBytes || t == ftVarBytes || t == ftTypedBinary || t == ftOraBlob;
}

TDMMeldrun& DataModule() {
  TDMMeldrun* dm = DMMeldrun();
  if (dm == nullptr) throw Exception(CZ("Datový modul sehrávání neexistuje."));
  return *dm;
}

bool InList(const TStringList& list, const AnsiString& name) {
  for (int32_t i = 0; i < list.Count(); ++i)
    if (AnsiSameText(list.Strings(i), name)) return true;
  return false;
}

}  // namespace

const char* const TImportTable::kLogInit = "Chyba inicializace : ";
const char* const TImportTable::kLogConvert = "Chyba konverze    : ";
const char* const TImportTable::kLogChanged = "Změněno           : ";
const char* const TImportTable::kLogSkipped = "Přeskočeno        : ";
const char* const TImportTable::kLogSave = "Chyba uložení dat : ";

// --- TImportTable --------------------------------------------------------------------

TImportTable::TImportTable(TIB_Connection* source_connection, TIB_Connection* target_connection)
    : field_map_(std::make_unique<TStringList>()),
      defaults_(std::make_unique<TVariants>()),
      field_sources_(std::make_unique<TStringList>()),
      text_table_(std::make_unique<TAsciTable>()),
      source_connection_(source_connection),
      target_connection_(target_connection),
      source_query_(std::make_unique<TREZQuery>(nullptr)),
      source_table_(std::make_unique<TREZTable>(nullptr)),
      target_table_(std::make_unique<TREZTable>(nullptr)) {
  // Bound by the database name: no transaction of their own, so they work in their
  // database's default transaction.
  source_query_->SetDatabaseName(source_connection->DatabaseName());
  source_table_->SetDatabaseName(source_connection->DatabaseName());
  target_table_->SetDatabaseName(target_connection->DatabaseName());
  log_file_.open("Import.txt", std::ios::binary | std::ios::trunc);
  if (!log_file_) throw EInOutError(CZ("Soubor Import.txt nelze vytvořit."));
}

TImportTable::~TImportTable() {
  log_file_.close();
  for (TDataSet* d : std::initializer_list<TDataSet*>{source_query_.get(), source_table_.get(),
                                                       target_table_.get()}) {
    try {
      d->Close();
    } catch (...) {
    }
  }
}

void TImportTable::Log(const AnsiString& line) {
  // The log is Windows-1250: a byte that code page leaves undefined (a station's text can
  // hold one) is written as "?", so that every reader of the file can decode it.
  AnsiString text = line;
  for (char& c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b == 0x81 || b == 0x83 || b == 0x88 || b == 0x90 || b == 0x98) c = '?';
  }
  log_file_ << text << "\r\n";
  log_file_.flush();
}

void TImportTable::SetTargetTable(const AnsiString& name) {
  if (TargetKind == 0) {
    target_table_->Close();
    target_table_->SetTableName(name);
  } else if (TargetKind == 1) {
    text_table_->FileName = name;
  }
}

void TImportTable::ResetMapping() {
  field_map_->Clear();
  defaults_->Clear();
  source_table_->Close();
  source_table_->SetFiltered(false);
}

void TImportTable::SetSource(const AnsiString& text) {
  active_source_ = nullptr;
  switch (SourceKind) {
    case 0:
      active_source_ = source_table_.get();
      source_table_->Close();
      source_table_->SetTableName(text);
      break;
    case 1:
      text_table_->FileName = text;
      break;
    case 2:
      active_source_ = source_query_.get();
      source_query_->Close();
      source_query_->SQL()->SetText(text);
      source_query_->Prepare();
      break;
    default:
      break;
  }
}

void TImportTable::SetRange(int32_t from, int32_t to) {
  range_from_ = from;
  range_to_ = to;
}

void TImportTable::SetKeyGenerator(const AnsiString& generator, const AnsiString& key_field,
                                   bool map_ids) {
  generator_ = generator;
  key_field_ = AnsiLowerCase(key_field);
  map_ids_ = map_ids;
}

void TImportTable::SkipRecord(bool log) {
  skip_requested_ = true;
  skip_logged_ = log;
}

void TImportTable::MarkChanged() { changed_requested_ = true; }

void TImportTable::RefuseRecord(const AnsiString& reason) {
  skip_requested_ = true;
  skip_logged_ = true;
  refused_ = true;
  refuse_reason_ = reason;
}

void TImportTable::LogRefused(const AnsiString& table, TDataSet* row, const AnsiString& reason) {
  Log(CZ(kLogSkipped) + table + ", " + DumpSourceRow(row) + " (" + reason + ")");
  ++skipped_count_;
}

void TImportTable::CountSaved(int32_t saved) { saved_count_ += saved; }

void TImportTable::LogChanged(const AnsiString& table, TDataSet* row) {
  Log(CZ(kLogChanged) + table + ", " + DumpSourceRow(row));
  ++changed_count_;
}

int32_t TImportTable::CountSourceRows(const AnsiString& sql) {
  TDMMeldrun& dm = DataModule();
  if (dm.SourceRowCount != 0) return dm.SourceRowCount;
  // " FROM " is searched in the upper-cased text; what follows it is taken from the text
  // as it stands, so quoted values in the condition keep their letter case.
  const int at = AnsiPos(" FROM ", AnsiUpperCase(sql));
  const AnsiString rest = at > 0 ? sql.substr(static_cast<size_t>(at - 1)) : sql;
  const Variant n = dm.SelectSrc("SELECT COUNT(*) " + rest);
  return n.IsNull() ? 0 : n.AsInteger();
}

void TImportTable::Prepare() {
  skip_requested_ = false;
  changed_requested_ = false;
  if (is_prepared_) Unprepare();
  try {
    if (TargetKind == 0) target_table_->Open();
    if (active_source_ != nullptr) active_source_->Open();
    if (SourceKind == 1 || TargetKind == 1) text_table_->Open();
    if (active_source_ == nullptr) return;
    field_plan_.assign(static_cast<size_t>(target_table_->FieldCount()), TFieldPlanEntry{});
    field_sources_->Clear();
    for (int32_t i = 0; i < target_table_->FieldCount(); ++i) {
      const AnsiString name = target_table_->Fields(i)->FieldName();
      AnsiString source_name = name;
      if (field_map_->Count() > 0) {
        for (int32_t m = 0; m < field_map_->Count(); ++m) {
          if (AnsiSameText(field_map_->Names(m), name)) {
            source_name = field_map_->ValueFromIndex(m);
            break;
          }
        }
      }
      AnsiString source_index;
      for (int32_t s = 0; s < active_source_->FieldCount(); ++s) {
        if (AnsiSameText(active_source_->Fields(s)->FieldName(), source_name)) {
          source_index = IntToStr(s);
          break;
        }
      }
      field_sources_->Add(source_index);
      TFieldPlanEntry& plan = field_plan_[static_cast<size_t>(i)];
      plan.Value = Variant::MakeNull();
      const int32_t d = defaults_->IndexOf(name);
      if (d >= 0) {
        const Variant value = defaults_->GetValue(d);
        if (value.IsNull()) {
          plan.Kind = 1;
        } else {
          plan.Value = value;
        }
      }
    }
  } catch (...) {
    ++init_error_count_;
    Log(CZ(kLogInit) + target_table_->TableName());
    throw;
  }
  is_prepared_ = true;
}

void TImportTable::Unprepare() {
  field_plan_.clear();
  field_sources_->Clear();
  target_table_->Close();
  source_query_->Close();
  source_table_->Close();
  if (SourceKind == 1 || TargetKind == 1) text_table_->Close();
  key_query_.reset();
  is_prepared_ = false;
}

void TImportTable::DeleteTargetRows() {
  if (TargetKind == 1) {
    text_table_->Clear();
    return;
  }
  TREZQuery q(nullptr);
  q.SetDatabaseName(target_connection_->DatabaseName());
  AnsiString sql = "delete from " + target_table_->TableName();
  if (!DeleteFilter.empty()) sql += " where " + DeleteFilter;
  q.SQL()->SetText(sql);
  TIB_Transaction* transaction = q.IB_Transaction();
  if (!IsTransactionStarted(transaction)) transaction->StartTransaction();
  q.ExecSQL();
  transaction->CommitRetaining();
}

AnsiString TImportTable::DumpSourceRow(TDataSet* dataset) {
  AnsiString dump;
  for (int32_t i = 0; i < dataset->FieldCount(); ++i) {
    try {
      TField* f = dataset->Fields(i);
      if (IsBinary(f->DataType())) {
        // Raw bytes would break the line and the code page: the length tells enough.
        if (!f->IsNull()) dump += "[blob " + IntToStr(static_cast<int32_t>(f->AsString().size())) + " B]";
      } else {
        AnsiString text = f->AsString();
        for (char& c : text)
          if (c == '\r' || c == '\n') c = ' ';
        dump += text;
      }
    } catch (...) {
    }
    dump += " | ";
  }
  return dump;
}

int32_t TImportTable::NewKeyValue() {
  // A generator draw does not depend on the transaction, so one prepared statement serves
  // every row of the table.
  const AnsiString sql = Format("SELECT GEN_ID(%s, 1) FROM RDB$DATABASE", {generator_});
  if (!key_query_ || key_query_sql_ != sql) {
    key_query_.reset();
    auto prepared = std::make_unique<TREZQuery>(nullptr);
    prepared->SetDatabaseName(target_connection_->DatabaseName());
    prepared->SQL()->SetText(sql);
    prepared->Prepare();
    key_query_ = std::move(prepared);
    key_query_sql_ = sql;
  }
  TREZQuery& q = *key_query_;
  q.Open();
  const int32_t key = q.IsEmpty() ? 0 : q.Fields(0)->AsInteger();
  q.Close();
  if (map_ids_) pending_mapping_.emplace(active_source_->FieldByName(key_field_)->AsString(), key);
  return key;
}

bool TImportTable::DrawKey(TField* field, TDataSet* source) {
  try {
    field->SetAsInteger(NewKeyValue());
    return true;
  } catch (const std::exception&) {
    ++convert_error_count_;
    Log(CZ(kLogConvert) + target_table_->TableName() + "-" + field->FieldName() + ", " + DumpSourceRow(source));
    return false;
  }
}

void TImportTable::CommitTarget() {
  TIB_Transaction* transaction = target_table_->IB_Transaction();
  if (transaction != nullptr) transaction->CommitRetaining();
}

void TImportTable::Execute(const AnsiString& excluded_text) {
  TDMMeldrun& dm = DataModule();
  if (dm.CommitAfter < 1) {
    throw EConvertError(Format(
        CZ("Počet záznamů mezi potvrzeními (CommitAfter) musí být kladný, je %d."), {dm.CommitAfter}));
  }
  TStringList excluded;
  AnsiString last_error;
  try {
    const int32_t count = CountSourceRows(source_query_->SQL()->Text());
    Prepare();
    row_no_ = 0;
    TDMMeldrun::SplitToList(&excluded, excluded_text, ',');
    if ((Options & 8) != 0) DeleteTargetRows();
    if (active_source_ != nullptr && TargetKind == 0) {
      CopyLoop(excluded, count, last_error);
    } else if (active_source_ != nullptr && TargetKind == 1) {
      ExportText();
    } else if (!(active_source_ == nullptr && TargetKind == 0)) {
      throw Exception(CZ("Metoda není implementována..."));
    }
    row_total_ += row_no_;
    row_no_ = 0;
    Unprepare();
  } catch (...) {
    if (!last_error.empty()) ShowMessage(last_error);
    throw;
  }
  if (!last_error.empty()) ShowMessage(last_error);
}

void TImportTable::CopyLoop(const TStringList& excluded, int32_t count, AnsiString& last_error) {
  TDMMeldrun& dm = DataModule();
  const AnsiString table = target_table_->TableName();
  int32_t counter = (dm.PageNo - 1) * dm.CommitAfter;
  TDataSet* source = active_source_;
  TREZTable* target = target_table_.get();
  while (!source->Eof()) {
    Application()->ProcessMessages();
    if (OnProgress) OnProgress(counter, count, AnsiString());
    ++counter;
    target->Append();
    ++row_no_;
    pending_mapping_.reset();
    refused_ = false;
    bool stopped = false;
    // The key field left empty: its key is drawn only for a row that is about to be
    // written, so that a row skipped or merged by a later field moves no generator.
    TField* key_to_draw = nullptr;
    for (int32_t i = 0; i < target->FieldCount(); ++i) {
      if (skip_requested_ || changed_requested_ || stopped) break;
      TField* field = target->Fields(i);
      try {
        bool handled = false;
        if (OnField) OnField(field, source, handled);
        if (skip_requested_ || changed_requested_) break;
        if (InList(excluded, field->FieldName())) continue;
        const AnsiString& source_index = field_sources_->Strings(i);
        if (!handled && !source_index.empty()) {
          TField* from = source->Fields(StrToInt(source_index));
          Variant value = from->AsVariant();
          // Texts lose their surrounding blanks; binary data (an image) is copied byte for byte.
          if ((value.VarType() == varString || value.VarType() == varOleStr) && !IsBinary(from->DataType()))
            value = Variant(Trim(value.AsString()));
          field->SetAsVariant(value);
        }
        if (field->IsNull()) {
          if (!key_field_.empty() && AnsiLowerCase(field->FieldName()) == key_field_) {
            key_to_draw = field;
          } else {
            const TFieldPlanEntry& plan = field_plan_[static_cast<size_t>(i)];
            if (plan.Kind == 1) {
              field->SetAsInteger(row_total_ + row_no_);
            } else {
              field->SetAsVariant(plan.Value);
            }
          }
        }
      } catch (const std::exception&) {
        if (!stopped) {
          ++convert_error_count_;
          Log(CZ(kLogConvert) + table + "-" + field->FieldName() + ", " + DumpSourceRow(source));
        }
        stopped = true;
      }
    }

    if (changed_requested_) {
      skip_requested_ = changed_requested_ = false;
      --row_no_;
      target->Cancel();
      ++changed_count_;
      Log(CZ(kLogChanged) + table + ", " + DumpSourceRow(source));
    } else if (skip_requested_) {
      skip_requested_ = changed_requested_ = false;
      --row_no_;
      target->Cancel();
      if (skip_logged_) {
        Log(CZ(kLogSkipped) + table + ", " + DumpSourceRow(source) + (refused_ ? " (" + refuse_reason_ + ")" : ""));
        ++skipped_count_;
      }
      if (refused_ && OnRowFailed) OnRowFailed(source);
    } else if (stopped) {
      // A row that did not take all its values is not written half-filled: it is
      // counted and logged above, and dropped.
      --row_no_;
      target->Cancel();
      if (OnRowFailed) OnRowFailed(source);
    } else if (key_to_draw != nullptr && key_to_draw->IsNull() && !DrawKey(key_to_draw, source)) {
      --row_no_;
      target->Cancel();
      if (OnRowFailed) OnRowFailed(source);
    } else {
      try {
        target->Post();
        ++saved_count_;
        if (pending_mapping_) dm.AddIdMapping(table, pending_mapping_->first, IntToStr(pending_mapping_->second));
      } catch (const Exception& e) {
        ++save_error_count_;
        last_error = e.Message();
        if (target->State() == dsBrowse) {
          // The row was written; what failed came after it (the after-post write-back).
          // The row counts as saved, its key mapping is kept, and the log says both.
          ++saved_count_;
          if (pending_mapping_) dm.AddIdMapping(table, pending_mapping_->first, IntToStr(pending_mapping_->second));
          Log(CZ(kLogSave) + table + ", " + DumpSourceRow(source) +
              CZ(" (záznam uložen, následný zápis selhal: ") + e.Message() + ")");
        } else {
          Log(CZ(kLogSave) + table + ", " + DumpSourceRow(source));
          target->Cancel();
        }
        if (OnRowFailed) OnRowFailed(source);
      }
    }
    pending_mapping_.reset();
    // A commit after every CommitAfter rows (counted over the pages of a paged import).
    if (counter % dm.CommitAfter == 0) CommitTarget();
    source->Next();
  }
  TIB_Transaction* source_transaction = nullptr;
  if (auto* d = dynamic_cast<TREZDataset*>(source)) source_transaction = d->IB_Transaction();
  if (source_transaction != nullptr) source_transaction->CommitRetaining();
  if (OnProgress) OnProgress(0, 0, AnsiString());
}

void TImportTable::ExportText() {
  TDataSet* source = active_source_;
  source->Open();
  for (source->First(); !source->Eof(); source->Next()) {
    for (int32_t i = 0; i < source->FieldCount(); ++i) {
      text_table_->WriteString(source->Fields(i)->AsString() + text_table_->Delimiter);
    }
    text_table_->WriteString("\r\n");
    ++row_no_;
  }
}

// --- TImport -----------------------------------------------------------------------------

TImport::TImport(TIB_Connection* source_database, TIB_Connection* target_connection)
    : query_(std::make_unique<TREZQuery>(nullptr)),
      table_(std::make_unique<TREZTable>(nullptr)),
      import_table_(std::make_unique<TImportTable>(source_database, target_connection)),
      source_lookup_(std::make_unique<TQorLookupList>(source_database)),
      target_lookup_(std::make_unique<TQorLookupList>(target_connection)) {
  query_->SetDatabaseName(source_database->DatabaseName());
  table_->SetDatabaseName(target_connection->DatabaseName());
  import_table_->OnProgress = [this](int32_t current, int32_t count, const AnsiString& text) {
    RecordProgress(current, count, text);
  };
  import_table_->SourceKind = 2;
  import_table_->TargetKind = 0;
}

TImport::~TImport() {
  progress_timer_.reset();
  try {
    query_->Close();
    table_->Close();
  } catch (...) {
  }
}

void TImport::Execute() {
  done_units_ = 0;
  planned_units_ = GetStepCount();
  start_time_ = Now();
  if (planned_units_ >= 1) {
    progress_timer_ = std::make_unique<TTimer>(nullptr);
    progress_timer_->SetOnTimer([this](TObject*) { TimerTick(); });
    TimerTick();
  }
}

int32_t TImport::GetStepCount() { return 0; }

void TImport::StartStep(const AnsiString& caption, int32_t row_count) {
  step_row_no_ = 0;
  step_row_count_ = row_count;
  if (!CancelRequested) {
    ++step_no_;
    if (OnStep) OnStep(step_no_, step_total_, caption);
  }
}

void TImport::RecordProgress(int32_t current, int32_t count, const AnsiString& text) {
  if (CancelRequested) {
    CancelRequested = false;
    if (OnProgress) OnProgress(current, count, AnsiString());
    const AnsiString message = CZ("Import byl přerušen uživatelem");
    if (OnStep) OnStep(step_no_, step_total_, message);
    throw Exception(message);
  }
  ++step_row_no_;
  ++done_units_;
  if (OnProgress) OnProgress(current, count, text);
}

void TImport::TimerTick() {
  const TDateTime elapsed = Now() - start_time_;
  const TDateTime remaining =
      done_units_ == 0 ? 0 : elapsed / done_units_ * (planned_units_ - done_units_);
  const AnsiString elapsed_text = FormatDateTime("hh:nn:ss", elapsed);
  const AnsiString remaining_text = done_units_ == 0 ? AnsiString("99:59:59") : FormatDateTime("hh:nn:ss", remaining);
  if (OnTime) OnTime(elapsed_text, remaining_text, planned_units_, done_units_);
  // Stopped, not freed: this runs inside the timer's own event.
  if (done_units_ == planned_units_ && progress_timer_) progress_timer_->SetEnabled(false);
}

}  // namespace pelvar
