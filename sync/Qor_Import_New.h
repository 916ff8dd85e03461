// The import framework: TImportTable copies the rows of a source dataset into a target
// table, one table at a time, with a field map, per-field defaults, generated keys and a
// record of old-to-new key mappings, a per-field handler through which the caller takes
// over single fields, per-row outcomes (saved, merged into an existing row, skipped,
// failed), six counters and the log "Import.txt". TImport is the job around it: it owns
// one copy engine, reused for every table, and two look-up lists, and relays progress.
//
// The copy engine reads CommitAfter, PageNo and SourceRowCount of the data module and
// records key mappings through it, so a data module must exist while it copies.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "dbadapters/REZDatabase.h"
#include "dbadapters/REZDataset.h"
#include "platform/application.h"
#include "platform/classes.h"
#include "platform/db.h"
#include "platform/types.h"
#include "platform/variant.h"
#include "sync/Qor_Lookup.h"

namespace pelvar {

using TImportProgressEvent =
    std::function<void(int32_t current, int32_t count, const AnsiString& text)>;
using TImportStepEvent = std::function<void(int32_t step, int32_t total, const AnsiString& caption)>;
using TImportTimeEvent = std::function<void(const AnsiString& elapsed, const AnsiString& remaining,
                                            int32_t planned, int32_t done)>;
using TImportFieldEvent = std::function<void(TField* field, TDataSet* source, bool& handled)>;
// A source row that did not arrive in the target (it failed, or the handler refused it).
using TImportRowEvent = std::function<void(TDataSet* source)>;

class TImportTable {
 public:
  // Log labels, padded to one width ("Import.txt").
  static const char* const kLogInit;
  static const char* const kLogConvert;
  static const char* const kLogChanged;
  static const char* const kLogSkipped;
  static const char* const kLogSave;

  // The datasets on the two connections, the lists, and "Import.txt" in the current
  // directory, emptied. A log that cannot be written raises.
  TImportTable(TIB_Connection* source_connection, TIB_Connection* target_connection);
  virtual ~TImportTable();
  TImportTable(const TImportTable&) = delete;
  TImportTable& operator=(const TImportTable&) = delete;

  // --- Configuration of one table
  void SetTargetTable(const AnsiString& name);
  // Clears the field map and the defaults; the source table closed, its filter off.
  void ResetMapping();
  // Source kind 0: a table by name; 2: an SQL text (prepared); 1: a text file.
  void SetSource(const AnsiString& text);
  void SetRange(int32_t from, int32_t to);
  // An empty generator with an empty key field: no keys are generated.
  void SetKeyGenerator(const AnsiString& generator, const AnsiString& key_field, bool map_ids);
  // From the field handler: drop the current row (logged and counted when log), or count
  // it as merged into an existing row.
  void SkipRecord(bool log);
  void MarkChanged();
  // From the field handler: the row cannot arrive (its parent is missing, it has no
  // code...): dropped, logged as skipped with the reason and counted, and reported
  // through OnRowFailed like a row whose conversion or post failed.
  void RefuseRecord(const AnsiString& reason);
  // A row of table that the copy never reads and that cannot arrive: logged as skipped
  // with the reason and counted.
  void LogRefused(const AnsiString& table, TDataSet* row, const AnsiString& reason);
  // Rows that another writer of the job (the memory-table import) wrote, counted like the
  // copy's own: new main rows as saved; a main row written over as changed, with its
  // "Změněno" line.
  void CountSaved(int32_t saved);
  void LogChanged(const AnsiString& table, TDataSet* row);

  // Copies the source into the target table; excluded: comma-separated target fields the
  // engine leaves to the handler. Per-row failures are counted and logged, never raised;
  // a failing preparation, count, delete or commit raises. CommitAfter below 1 is refused.
  void Execute(const AnsiString& excluded);

  // --- Steps of Execute
  int32_t CountSourceRows(const AnsiString& sql);
  void Prepare();
  void Unprepare();
  void DeleteTargetRows();
  // Every field's text followed by " | ". A binary blob is written as its length, and
  // line breaks inside a text as blanks, so that a dump is always one line.
  static AnsiString DumpSourceRow(TDataSet* dataset);
  // The generator's next value; the mapping of the source row's key to it is recorded
  // once the row is written.
  int32_t NewKeyValue();

  // target field name "=" source field name
  TStringList& FieldMap() { return *field_map_; }
  TVariants& Defaults() { return *defaults_; }
  TImportFieldEvent OnField;
  // Called for every source row that did not arrive: a conversion that stopped the row,
  // a failing post (or after-post write-back), a refused row.
  TImportRowEvent OnRowFailed;
  TImportProgressEvent OnProgress;
  uint8_t Options = 0;
  AnsiString DeleteFilter;
  uint8_t SourceKind = 2;
  uint8_t TargetKind = 0;

  int32_t RangeFrom() const { return range_from_; }
  int32_t RangeTo() const { return range_to_; }
  int32_t RowNo() const { return row_no_; }
  int32_t RowTotal() const { return row_total_; }
  bool IsPrepared() const { return is_prepared_; }
  const TStringList& FieldSources() const { return *field_sources_; }
  const AnsiString& Generator() const { return generator_; }
  const AnsiString& KeyField() const { return key_field_; }
  bool MapIds() const { return map_ids_; }
  TDataSet* ActiveSource() const { return active_source_; }
  TREZQuery* SourceQuery() const { return source_query_.get(); }
  TREZTable* SourceTable() const { return source_table_.get(); }
  TREZTable* TargetTable() const { return target_table_.get(); }
  TAsciTable& TextTable() { return *text_table_; }

  int32_t InitErrorCount() const { return init_error_count_; }
  int32_t SkippedCount() const { return skipped_count_; }
  int32_t ConvertErrorCount() const { return convert_error_count_; }
  int32_t SaveErrorCount() const { return save_error_count_; }
  int32_t SavedCount() const { return saved_count_; }
  int32_t ChangedCount() const { return changed_count_; }

 protected:
  // Commit retaining of the target table's transaction every CommitAfter rows.
  virtual void CommitTarget();

 private:
  // Fills the row's empty key field from the generator just before the row is written;
  // a failing draw counts and logs a conversion failure and gives false.
  bool DrawKey(TField* field, TDataSet* source);
  struct TFieldPlanEntry {
    int32_t Kind = 0;  // 0 fixed value, 1 running number
    Variant Value;
  };
  void Log(const AnsiString& line);
  void CopyLoop(const TStringList& excluded, int32_t count, AnsiString& last_error);
  void ExportText();

  std::unique_ptr<TStringList> field_map_;
  std::unique_ptr<TVariants> defaults_;
  std::vector<TFieldPlanEntry> field_plan_;
  int32_t range_from_ = 0;
  int32_t range_to_ = 0;
  int32_t row_no_ = 0;
  std::unique_ptr<TStringList> field_sources_;
  bool is_prepared_ = false;
  int32_t row_total_ = 0;
  std::unique_ptr<TAsciTable> text_table_;
  TDataSet* active_source_ = nullptr;
  bool skip_requested_ = false;
  bool changed_requested_ = false;
  std::ofstream log_file_;
  int32_t init_error_count_ = 0;
  int32_t skipped_count_ = 0;
  bool skip_logged_ = false;
  bool refused_ = false;
  AnsiString refuse_reason_;
  int32_t convert_error_count_ = 0;
  int32_t save_error_count_ = 0;
  int32_t saved_count_ = 0;
  int32_t changed_count_ = 0;
  AnsiString generator_;
  AnsiString key_field_;
  bool map_ids_ = false;
  // The mapping of the row being filled, recorded once the row is written.
  std::optional<std::pair<AnsiString, int32_t>> pending_mapping_;
  TIB_Connection* source_connection_;
  TIB_Connection* target_connection_;
  std::unique_ptr<TREZQuery> source_query_;
  std::unique_ptr<TREZTable> source_table_;
  std::unique_ptr<TREZTable> target_table_;
  // The generator read of NewKeyValue, prepared once per generator and table.
  std::unique_ptr<TREZQuery> key_query_;
  AnsiString key_query_sql_;
};

class TImport {
 public:
  TImport(TIB_Connection* source_database, TIB_Connection* target_connection);
  virtual ~TImport();
  TImport(const TImport&) = delete;
  TImport& operator=(const TImport&) = delete;

  // The base job only plans its units and starts the time display.
  virtual void Execute();
  virtual int32_t GetStepCount();
  // Starts a step: its row count, the next step number and OnStep.
  virtual void StartStep(const AnsiString& caption, int32_t row_count);
  // One progress report; a requested cancel ends the job with "Import byl přerušen
  // uživatelem".
  virtual void RecordProgress(int32_t current, int32_t count, const AnsiString& text);
  void TimerTick();

  TImportStepEvent OnStep;
  TImportProgressEvent OnProgress;
  TImportTimeEvent OnTime;
  bool CancelRequested = false;

  int32_t StepNo() const { return step_no_; }
  int32_t StepRowNo() const { return step_row_no_; }
  int32_t StepRowCount() const { return step_row_count_; }
  int32_t PlannedUnits() const { return planned_units_; }
  int32_t DoneUnits() const { return done_units_; }
  int32_t StepTotal() const { return step_total_; }
  TImportTable& ImportTable() { return *import_table_; }
  TQorLookupList& SourceLookup() { return *source_lookup_; }
  TQorLookupList& TargetLookup() { return *target_lookup_; }

  int32_t GetInitErrorCount() const { return import_table_->InitErrorCount(); }
  int32_t GetSkippedCount() const { return import_table_->SkippedCount(); }
  int32_t GetConvertErrorCount() const { return import_table_->ConvertErrorCount(); }
  int32_t GetSaveErrorCount() const { return import_table_->SaveErrorCount(); }
  int32_t GetSavedCount() const { return import_table_->SavedCount(); }
  int32_t GetChangedCount() const { return import_table_->ChangedCount(); }

 protected:
  int32_t step_no_ = 0;
  int32_t step_row_no_ = 0;
  int32_t step_row_count_ = 0;
  int32_t planned_units_ = 0;
  int32_t done_units_ = 0;
  TDateTime start_time_ = 0;
  int32_t step_total_ = 0;

 private:
  std::unique_ptr<TTimer> progress_timer_;
  std::unique_ptr<TREZQuery> query_;
  std::unique_ptr<TREZTable> table_;
  std::unique_ptr<TImportTable> import_table_;
  std::unique_ptr<TQorLookupList> source_lookup_;
  std::unique_ptr<TQorLookupList> target_lookup_;
};

}  // namespace pelvar
