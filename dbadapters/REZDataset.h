// The adapter datasets: the framework's dataset model (TDataSet, TField) over the
// statement engine's buffered dataset. TREZDataset implements the framework's protected
// contract: it copies rows between the internal dataset's row buffers and the
// framework's record buffers, maps columns to field definitions and converts values
// (REZDataset_fields.h). TREZQuery runs SQL text; TREZTable opens one table by name and
// appends rows to it. TREZInternalDataset is the buffered dataset serving one adapter:
// it calls back into the adapter wherever the framework must take part (preparing,
// posting, cancelling, closing, errors). TREZUpdateSQL lets a dataset post through
// statements the user writes; TREZBlobStream gives blob and memo fields a stream over
// their column.
//
// Implementation: REZDataset.cpp (open, close, records, navigation, bookmarks, editing),
// REZDataset_internal.cpp (the internal dataset and the server errors),
// REZDataset_tables.cpp (queries, tables, parameters, master links),
// REZDataset_update.cpp (update objects and the blob stream).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "dbadapters/REZDataset_errors.h"
#include "dbadapters/REZDataset_fields.h"
#include "dbadapters/REZDataset_params.h"
#include "dbengine/IB_Components_bdataset.h"
#include "platform/db.h"

namespace pelvar {

class TREZDataset;
class TREZUpdateSQL;
class TREZQuery;

enum TREZFieldOption { foDisplayFromREZ, foAutoAppendAllFields };
using TREZFieldOptions = TEnumSet<TREZFieldOption>;

using TREZDatasetFetchCallback = std::function<void(TREZDataset* ADataset, TIB_CallbackStatus Status,
                                                    int32_t CursorRowNum, bool& Abort)>;
using TREZCheckCachedInsert = std::function<void(TREZDataset* ADataset, bool& ShowRecord)>;
using TREZNotifyEvent = std::function<void(TREZDataset* Sender)>;
using TREZErrorEvent = std::function<void(TComponent* Sender, int32_t ERRCODE, TStringList* ErrorMessage,
                                          TStringList* ErrorCodes, int32_t SQLCODE,
                                          TStringList* SQLMessage, TStringList* SQL, bool& RaiseException)>;
using TREZUpdateRecordEvent = std::function<void(TREZDataset* DataSet, int32_t UpdateKind, int32_t& UpdateAction)>;

// --- The internal dataset ----------------------------------------------------------------
class TREZInternalDataset : public TIB_BDataset {
 public:
  // Owner is the adapter it serves.
  explicit TREZInternalDataset(TREZDataset* Owner);
  TREZDataset* Adapter() const { return adapter_; }

  void HandleError(TComponent* Sender, int32_t ERRCODE, TStringList* ErrorMessage,
                   TStringList* ErrorCodes, int32_t SQLCODE, TStringList* SQLMessage,
                   TStringList* SQL, bool& RaiseException) override;
  void DoBeforePrepare() override;
  void DoAfterPrepare() override;
  void DoAfterUnprepare() override;
  void DoBeforeExecute() override;
  void SysActivate() override;
  void DoPrepareSQL() override;
  void SysStringsChanged(TObject* List, bool& Apply) override;
  bool GetOrderingPlan() override;
  void SysClose() override;
  void SysPost(bool OnlyIfModified, bool Retaining) override;
  void SysFilterRow(TIB_Node* Node, bool& Accept) override;
  void DoUpdateRecord(int32_t UpdateKind, int32_t& UpdateAction) override;
  bool HasCustomDML(int32_t Kind) const override;
  void SysApplyUpdate(int32_t UpdateKind, int32_t& UpdateAction, const TIB_ApplyRoutine& Routine,
                      TIB_BDataset* Data) override;
  void SaveParamValues() override {}
  void RestoreParamValues() override {}
  bool GetColumnReadOnly(const TIB_Column* Column) const override;
  // Brings the key of the edited row into its node (for bookmarks during an edit).
  void UpdateBufferRowKey() { SysUpdateBufferRow(false); }
  bool Repreparing() const { return TIB_Statement::Repreparing(); }

 protected:
  void SysCancel() override;

 private:
  TREZDataset* adapter_;
};

// --- The master link of a detail dataset ---------------------------------------------------
class TREZQueryDataLink : public TDetailDataLink {
 public:
  explicit TREZQueryDataLink(TREZDataset* Detail) : detail_(Detail) {}
  TDataSet* GetDetailDataSet() override;

 protected:
  void ActiveChanged() override;
  void RecordChanged(TField* Field) override;
  void CheckBrowseMode() override;

 private:
  TREZDataset* detail_;
};

// --- The adapter dataset -------------------------------------------------------------------
class TREZDataset : public TDataSet {
 public:
  explicit TREZDataset(TComponent* Owner);
  ~TREZDataset() override;

  void Loaded() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  TREZInternalDataset* InternalDataset() const { return internal_.get(); }

  // --- Statement
  void Prepare();
  void Unprepare();
  bool Prepared() const;
  void SetPrepared(bool Value);
  void ExecSQL();
  void OpenAndFetchAll();
  TParam* ParamByName(const AnsiString& Name);
  TParams& Params() { return *params_; }
  int32_t GetRowsAffected();
  int32_t GetStatementType();
  bool ParamCheck() const { return param_check_; }
  void SetParamCheck(bool Value) { param_check_ = Value; }

  // --- Cached updates: the internal dataset's, with the framework's buffers kept in step.
  void ApplyUpdates();
  void CancelUpdates();
  void CommitUpdates();

  // --- Forwarded properties
  TIB_Connection* IB_Connection() const { return internal_->IB_Connection(); }
  virtual void SetIB_Connection(TIB_Connection* Value);
  TIB_Transaction* IB_Transaction() const { return internal_->IB_Transaction(); }
  virtual void SetIB_Transaction(TIB_Transaction* Value);
  AnsiString DatabaseName() const { return internal_->GetDatabaseName(); }
  void SetDatabaseName(const AnsiString& Value) { internal_->SetDatabaseName(Value); }
  bool AutoFetchAll() const { return auto_fetch_all_; }
  void SetAutoFetchAll(bool Value);
  bool CachedUpdates() const { return internal_->GetCachedUpdates(); }
  void SetCachedUpdates(bool Value) { internal_->SetCachedUpdates(Value); }
  const AnsiString& CallbackCaption() const { return internal_->CallbackCaption(); }
  void SetCallbackCaption(const AnsiString& Value) { internal_->SetCallbackCaption(Value); }
  int32_t CallbackInc() const { return internal_->CallbackInc(); }
  void SetCallbackInc(int32_t Value) { internal_->SetCallbackInc(Value); }
  TIB_CommitAction CommitAction() const { return internal_->CommitAction(); }
  void SetCommitAction(TIB_CommitAction Value) { internal_->SetCommitAction(Value); }
  bool FetchWholeRows() const { return internal_->FetchWholeRows(); }
  void SetFetchWholeRows(bool Value) { internal_->SetFetchWholeRows(Value); }
  TIB_StringList* GeneratorLinks() const { return internal_->GeneratorLinks(); }
  void SetGeneratorLinks(TStrings* Value) { internal_->SetGeneratorLinks(Value); }
  TIB_StringList* DefaultValues() const { return internal_->DefaultValues(); }
  void SetDefaultValues(TStrings* Value) { internal_->SetDefaultValues(Value); }
  TIB_StringList* KeyLinks() const { return internal_->KeyLinks(); }
  void SetKeyLinks(TStrings* Value) { internal_->SetKeyLinks(Value); }
  TIB_StringList* EditSQL() const { return internal_->EditSQL(); }
  TIB_StringList* InsertSQL() const { return internal_->InsertSQL(); }
  TIB_StringList* DeleteSQL() const { return internal_->DeleteSQL(); }
  int32_t MaxRows() const { return internal_->MaxRows(); }
  void SetMaxRows(int32_t Value) { internal_->SetMaxRows(Value); }
  bool PreparedEdits() const { return internal_->PreparedEdits(); }
  void SetPreparedEdits(bool Value) { internal_->SetPreparedEdits(Value); }
  bool PreparedInserts() const { return internal_->PreparedInserts(); }
  void SetPreparedInserts(bool Value) { internal_->SetPreparedInserts(Value); }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool Value);
  bool RequestLive() const { return internal_->RequestLive(); }
  void SetRequestLive(bool Value) { internal_->SetRequestLive(Value); }
  bool RecordCountAccurate() const { return record_count_accurate_; }
  void SetRecordCountAccurate(bool Value);
  bool Unidirectional() const { return internal_->GetUnidirectional(); }
  void SetUnidirectional(bool Value);
  TIB_BufferSynchroFlags BufferSynchroFlags() const { return internal_->BufferSynchroFlags(); }
  void SetBufferSynchroFlags(TIB_BufferSynchroFlags Value) { internal_->SetBufferSynchroFlags(Value); }
  uint32_t CallbackInitInt() const { return internal_->CallbackInitInt(); }
  void SetCallbackInitInt(uint32_t Value) { internal_->SetCallbackInitInt(Value); }
  uint32_t CallbackRefreshInt() const { return internal_->CallbackRefreshInt(); }
  void SetCallbackRefreshInt(uint32_t Value) { internal_->SetCallbackRefreshInt(Value); }
  TIB_StringList* ColumnAttributes() const { return internal_->ColumnAttributes(); }
  void SetColumnAttributes(const TStrings* Value) { internal_->SetColumnAttributes(Value); }
  TIB_StringList* FieldsAlignment() const { return internal_->FieldsAlignment(); }
  void SetFieldsAlignment(const TStrings* Value) { internal_->SetFieldsAlignment(Value); }
  TIB_StringList* FieldsDisplayLabel() const { return internal_->FieldsDisplayLabel(); }
  void SetFieldsDisplayLabel(const TStrings* Value) { internal_->SetFieldsDisplayLabel(Value); }
  TIB_StringList* FieldsDisplayFormat() const { return internal_->FieldsDisplayFormat(); }
  void SetFieldsDisplayFormat(const TStrings* Value) { internal_->SetFieldsDisplayFormat(Value); }
  TIB_StringList* FieldsReadOnly() const { return internal_->FieldsReadOnly(); }
  void SetFieldsReadOnly(const TStrings* Value) { internal_->SetFieldsReadOnly(Value); }
  TIB_StringList* FieldsEditMask() const { return internal_->FieldsEditMask(); }
  void SetFieldsEditMask(const TStrings* Value) { internal_->SetFieldsEditMask(Value); }
  TIB_StringList* FieldsVisible() const { return internal_->FieldsVisible(); }
  void SetFieldsVisible(const TStrings* Value) { internal_->SetFieldsVisible(Value); }
  bool KeyLinksAutoDefine() const { return internal_->KeyLinksAutoDefine(); }
  void SetKeyLinksAutoDefine(bool Value) { internal_->SetKeyLinksAutoDefine(Value); }
  TIB_StringList* LockSQL() const { return internal_->LockSQL(); }
  void SetLockSQL(TStrings* Value) { internal_->SetLockSQL(Value); }
  void SetEditSQL(TStrings* Value) { internal_->SetEditSQL(Value); }
  void SetInsertSQL(TStrings* Value) { internal_->SetInsertSQL(Value); }
  void SetDeleteSQL(TStrings* Value) { internal_->SetDeleteSQL(Value); }
  bool PessimisticLocking() const { return internal_->PessimisticLocking; }
  void SetPessimisticLocking(bool Value) { internal_->PessimisticLocking = Value; }
  const TIB_MacroSubstituteEvent& OnMacroSubstitute() const { return internal_->OnMacroSubstitute; }
  void SetOnMacroSubstitute(const TIB_MacroSubstituteEvent& Value) { internal_->OnMacroSubstitute = Value; }
  const TIB_UpdateErrorEvent& OnUpdateError() const { return internal_->OnUpdateError; }
  void SetOnUpdateError(const TIB_UpdateErrorEvent& Value) { internal_->OnUpdateError = Value; }
  // Kept for forms that name a session; the adapters work in the default one.
  const AnsiString& SessionName() const { return session_name_; }
  void SetSessionName(const AnsiString& Value) { session_name_ = Value; }
  TREZFieldOptions FieldOptions() const { return field_options_; }
  void SetFieldOptions(TREZFieldOptions Value) { field_options_ = Value; }
  TREZUpdateSQL* UpdateObject() const { return update_object_; }
  void SetUpdateObject(TREZUpdateSQL* Value);
  TDataSource* DataSource() const { return master_link_->DataSource(); }
  void SetDataSource(TDataSource* Value);

  // --- Framework operations the adapter answers
  int32_t RecordCount() override;
  int32_t RecNo() override;
  void SetRecNo(int32_t Value) override;
  bool IsSequenced() override;
  void Post() override;
  void Cancel() override;
  bool Locate(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options) override;
  Variant Lookup(const AnsiString& KeyFields, const Variant& KeyValues,
                 const AnsiString& ResultFields) override;
  TBookmark GetBookmark() override;
  bool BookmarkValid(const TBookmark& Bookmark) override;
  int32_t CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2) override;
  void Resync(TResyncMode Mode) override;
  bool GetCurrentRecord(TRecordBuffer Buffer) override;
  std::unique_ptr<TStream> CreateBlobStream(TField* Field, TBlobStreamMode Mode) override;
  TFieldFactory GetFieldClass(TFieldType Type) override;
  bool GetFieldData(TField* Field, void* Buffer) override;
  bool GetFieldData(TField* Field, void* Buffer, bool NativeFormat) override;
  void SetFieldData(TField* Field, const void* Buffer) override;
  void SetFieldData(TField* Field, const void* Buffer, bool NativeFormat) override;
  TDataSource* GetDataSource() const override { return master_link_->DataSource(); }
  void GetDetailLinkFields(std::vector<TField*>& MasterFields, std::vector<TField*>& DetailFields) override;
  void SetFiltered(bool Value) override;
  void SetFilterText(const AnsiString& Value) override;
  void SetFilterOptions(TFilterOptions Value) override;
  void SetOnFilterRecord(const TFilterRecordEvent& Value) override;

  // --- Provider interface: what a data provider asks of the dataset (the application
  // itself has none).
  void PSEndTransaction(bool Commit);
  void PSExecute() { ExecSQL(); }
  // Runs SQL with Params on a new query of the same connection and transaction (owned by
  // the session); with ResultSet the query is opened and handed out, otherwise executed
  // and freed. The rows affected.
  int32_t PSExecuteStatement(const AnsiString& SQL, TParams* Params, TREZQuery** ResultSet = nullptr);
  void PSGetAttributes(TStrings* /*List*/) {}
  virtual std::unique_ptr<TIndexDef> PSGetDefaultOrder() { return nullptr; }
  // The index definitions holding every option of Required and none of Excluded.
  std::vector<const TIndexDef*> PSGetIndexDefs(TIndexOptions Required = {}, TIndexOptions Excluded = {});
  AnsiString PSGetKeyFields();
  TParams* PSGetParams() { return params_.get(); }
  AnsiString PSGetQuoteChar();
  AnsiString PSGetTableName();
  // The provider's form of a failed update: a server error keeps its codes and message.
  std::unique_ptr<EREZ_UpdateError> PSGetUpdateException(const std::exception_ptr& E, const EREZ_UpdateError* Previous);
  bool PSInTransaction();
  bool PSIsSQLBased() const { return true; }
  bool PSIsSQLSupported() const { return true; }
  void PSReset();
  void PSSetCommandText(const AnsiString& Text);
  void PSSetParams(TParams* Params);
  void PSStartTransaction();
  // The provider applies updates itself.
  bool PSUpdateRecord(int32_t /*UpdateKind*/, TDataSet* /*Delta*/) { return false; }

  // --- Events
  TREZDatasetFetchCallback OnCallback;
  TREZErrorEvent OnError;
  TREZNotifyEvent OnPrepareSQL, BeforePrepare, AfterPrepare;
  TREZCheckCachedInsert OnCheckCachedInsert;
  TREZUpdateRecordEvent OnUpdateRecord;

  // --- What the internal dataset, the links and the update object call back
  virtual void DoBeforePrepare();
  virtual void DoAfterPrepare();
  virtual void InitMasterLinkFields();
  virtual void AssignParamFromMaster(TIB_Column* Column, TDataSet* Master);
  virtual void SysPrepareSQL();
  virtual void SQLChanged(TObject* List);
  void RefreshParams();
  void AdjustParamTypes();
  void AssignParams(TParams& Source);
  void BindMasterParams(bool Refresh);
  void FetchOutputParams();
  // --- Key ranges: six key buffers per prepared statement with columns (0 search key,
  // 1 range start, 2 range end, 3 applied start, 4 applied end, 5 the saved copy of the
  // key being edited). A key buffer is a header (Modified, Exclusive, FieldCount) and a
  // record image.
  int32_t GetIndexFieldCount() const { return static_cast<int32_t>(index_fields_.size()); }
  TField* GetIndexField(int32_t Index);
  // Clears the applied range; False when none was applied.
  bool ResetRange();
  bool IsOpenForInternal() const { return cursor_open_; }
  bool PostingNow() const { return posting_; }
  bool CancellingNow() const { return cancelling_; }
  bool ClosingNow() const { return closing_ || internal_change_ > 0; }
  bool RefreshingNow() const { return refreshing_; }
  int32_t MasterBindingDepth() const { return master_binding_depth_; }
  bool Executing() const { return executing_; }
  uint16_t RecordSize() const { return record_size_; }
  bool CustomBoolText() const { return custom_bool_; }
  // The primary-key fields of the key relation (read from the system tables once per
  // relation).
  const std::vector<AnsiString>& PrimaryKeyFields();

 protected:
  friend class TREZInternalDataset;
  friend class TREZQueryDataLink;
  friend class TREZBlobStream;

  virtual std::unique_ptr<TREZInternalDataset> CreateInternalDataset();
  virtual bool IsTable() const { return false; }

  // The framework's protected contract.
  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& Buffer) override;
  void GetBookmarkData(TRecordBuffer Buffer, void* Data) override;
  void SetBookmarkData(TRecordBuffer Buffer, const void* Data) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) override;
  void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) override;
  TGetResult GetRecord(TRecordBuffer Buffer, TGetMode Mode, bool DoCheck) override;
  uint16_t GetRecordSize() override { return record_size_; }
  void InternalAddRecord(const void* Buffer, bool Append) override;
  void InternalCancel() override;
  void InternalClose() override;
  void InternalDelete() override;
  void InternalEdit() override;
  void InternalFirst() override;
  void InternalGotoBookmark(const void* Bookmark) override;
  void InternalHandleException() override;
  void InternalInitFieldDefs() override;
  void InternalInitRecord(TRecordBuffer Buffer) override;
  void InternalInsert() override;
  void InternalLast() override;
  void InternalOpen() override;
  void InternalPost() override;
  void InternalRefresh() override;
  void InternalSetToRecord(TRecordBuffer Buffer) override;
  bool IsCursorOpen() override { return cursor_open_; }
  bool GetCanModify() override;
  TBookmarkStr GetBookmarkStr() override;
  bool FindRecord(bool Restart, bool GoForward) override;
  bool GetIsIndexField(TField* Field) override;
  void CloseCursor() override;
  void ClearCalcFields(TRecordBuffer Buffer) override;
  void CheckFieldCompatibility(TField* Field, const TFieldDef* FieldDef) override;
  void DoBeforeOpen() override;
  void DoAfterOpen() override;
  void DoBeforeInsert() override;
  void DoOnNewRecord() override;

  // The record's trailing block: which internal row it shows.
  struct RowInfo {
    int32_t RowNum;
    uint8_t Flag;
    uint8_t Spare[3];
    TIB_Node* Node;
  };
  RowInfo* Info(TRecordBuffer Buffer) const {
    return reinterpret_cast<RowInfo*>(Buffer + row_info_offset_);
  }
  // The record buffer of the state and the row data it reads: the internal dataset's
  // live row while the record shows its current row. False: no buffer.
  bool RecordFor(TRecordBuffer& Record, char*& Data, bool& Live);
  TIB_Column* ColumnOf(const TField* Field) const;
  void InitFields();
  void UpdateRecordInfo(bool Moved);
  void MoveInternalToBuffer();
  void SyncAfterInternalMove();
  void FilterChanging(const std::function<void()>& Change);
  const TREZColumnDesc& DescOf(int32_t Index);

  // Key buffers.
  struct KeyHeader {
    uint8_t Modified;
    uint8_t Exclusive;
    uint8_t Spare[2];
    int32_t FieldCount;
  };
  static constexpr int32_t kKeyHeader = 8;
  uint8_t* KeyBuffer(int32_t Index) {
    return key_buffers_.empty() ? nullptr : key_buffers_[static_cast<size_t>(Index)].data();
  }
  KeyHeader* KeyHead(uint8_t* Key) const { return reinterpret_cast<KeyHeader*>(Key); }
  void AllocKeyBuffers();
  void ClearKey(uint8_t* Key);
  void FreeKeyBuffers() { key_buffers_.clear(); current_key_ = nullptr; }
  // Enters the set-key state on key buffer Index (cleared first when Clear).
  void SetKeyBuffer(int32_t Index, bool Clear);
  // Ends the set-key state: Commit keeps the key (Modified as the dataset says),
  // otherwise the saved copy comes back.
  void PostKeyBuffer(bool Commit);
  // Copies the range keys into the applied ones and re-reads the rows.
  void ApplyKeyRange();
  // Index fields named by the table's ordering, without " DESC".
  std::vector<AnsiString> index_fields_;
  std::vector<std::vector<uint8_t>> key_buffers_;
  uint8_t* current_key_ = nullptr;
  bool range_editing_ = false;
  bool closing_for_range_ = false;

  std::unique_ptr<TREZQueryDataLink> master_link_;
  std::unique_ptr<TParams> params_;
  std::unique_ptr<TIndexDefs> index_defs_;
  std::unique_ptr<TREZInternalDataset> internal_;
  std::vector<TREZColumnDesc> descs_;
  TREZUpdateSQL* update_object_ = nullptr;
  TREZFieldOptions field_options_;
  TRecordBuffer filter_record_ = nullptr;
  TIB_Node* filter_node_ = nullptr;
  int32_t rec_buf_size_ = 0;
  uint16_t row_info_offset_ = 0;
  uint16_t record_size_ = 0;
  int32_t current_ = 0;
  int32_t master_binding_depth_ = 0;
  int32_t internal_change_ = 0;
  bool output_params_ = false;
  bool store_defs_ = false;
  bool appending_ = false;
  bool posting_ = false;
  bool cancelling_ = false;
  bool closing_ = false;
  bool refreshing_ = false;
  bool read_only_ = false;
  bool custom_bool_ = false;
  bool executing_ = false;
  bool record_count_accurate_ = true;
  bool auto_fetch_all_ = false;
  bool param_check_ = true;
  bool params_synced_ = false;
  bool sql_changing_ = false;
  bool cursor_open_ = false;
  bool prepared_on_load_ = false;
  AnsiString keys_for_;
  AnsiString session_name_;
  std::vector<AnsiString> key_fields_;
};

// --- Queries and tables -------------------------------------------------------------------
class TREZBaseQuery : public TREZDataset {
 public:
  using TREZDataset::TREZDataset;
  int32_t GetParamCount() const { return params_->Count(); }
  int32_t OrderingItemNo() const { return internal_->OrderingItemNo(); }
  void SetOrderingItemNo(int32_t Value) { internal_->SetOrderingItemNo(Value); }
  TIB_StringList* OrderingItems() const { return internal_->OrderingItems(); }
  void SetOrderingItems(const TStrings* Value) { internal_->SetOrderingItems(Value); }
  TIB_StringList* OrderingLinks() const { return internal_->OrderingLinks(); }
  void SetOrderingLinks(const TStrings* Value) { internal_->SetOrderingLinks(Value); }
};

class TREZQuery : public TREZBaseQuery {
 public:
  explicit TREZQuery(TComponent* Owner) : TREZBaseQuery(Owner) {}
  // The internal dataset's SQL list itself: changing it changes the statement.
  TIB_SQLStrings* SQL() const { return internal_->SQL(); }
  void SetSQL(const TStrings* Value);
  const AnsiString& KeyRelation() const { return internal_->KeyRelation(); }
  void SetKeyRelation(const AnsiString& Value) { internal_->SetKeyRelation(Value); }
  TIB_StringList* JoinLinks() const { return internal_->JoinLinks(); }
  void SetJoinLinks(const TStrings* Value) { internal_->JoinLinks()->Assign(const_cast<TStrings*>(Value)); }
};

class TREZBaseTable : public TREZDataset {
 public:
  explicit TREZBaseTable(TComponent* Owner);
  ~TREZBaseTable() override;

  const AnsiString& TableName() const { return table_name_; }
  void SetTableName(const AnsiString& Value);
  const AnsiString& IndexFieldNames() const { return index_field_names_; }
  void SetIndexFieldNames(const AnsiString& Value);
  // Key ranges over the index fields: SetRangeStart / SetRangeEnd put the table into the
  // set-key state to take the bounds, ApplyRange restricts the rows to them, CancelRange
  // removes the restriction. KeyExclusive makes the bound being edited exclusive.
  void SetRangeStart() { SetKeyBuffer(1, true); }
  void SetRangeEnd() { SetKeyBuffer(2, true); }
  void EditRangeStart() { SetKeyBuffer(1, false); }
  void EditRangeEnd() { SetKeyBuffer(2, false); }
  void SetKeyExclusive(bool Value);
  void ApplyRange();
  void CancelRange();
  const AnsiString& IndexName() const { return index_name_; }
  void SetIndexName(const AnsiString& Value);
  // Reading from a position of the first index field (the ordering link marked
  // ";POS=0"), where the schema has both an ascending and a descending index on it.
  bool AllowHorizontalRefinement() const { return allow_horizontal_refinement_; }
  void SetAllowHorizontalRefinement(bool Value);
  // The table's index definitions, read from the connection's schema on demand.
  TIndexDefs& IndexDefs() {
    if (!index_defs_->Updated()) UpdateIndexDefs();
    return *index_defs_;
  }
  AnsiString MasterFields() const;
  void SetMasterFields(const AnsiString& Value);
  TDataSource* MasterSource() const { return DataSource(); }
  void SetMasterSource(TDataSource* Value);
  // The internal dataset's SQL list (a table driven like a query sets it directly).
  TIB_SQLStrings* SQL() const { return internal_->SQL(); }
  // The WHERE and FOR UPDATE clauses of the table's statement, editable in place.
  TIB_StringList* SQLWhere() const { return internal_->GetSQLSection(ssWhere); }
  TIB_StringList* SQLForUpdate() const { return internal_->GetSQLSection(ssForUpdate); }
  // The ordering line the table's statement orders by ("TABLE ORDER=asc;desc").
  const AnsiString& OrderingItems() const { return ordering_items_; }
  int32_t OrderingItemNo() const { return ordering_item_no_; }

  void InitMasterLinkFields() override;
  void AssignParamFromMaster(TIB_Column* Column, TDataSet* Master) override;
  void SysPrepareSQL() override;
  void SQLChanged(TObject* List) override;
  std::unique_ptr<TIndexDef> PSGetDefaultOrder() override;

 protected:
  bool IsTable() const override { return true; }
  void UpdateIndexDefs() override;

 private:
  // The schema's index entry of Name ("NAME=PK;DESC;REL=..;SEGS=A,B"); -1 when none.
  int32_t FindIndexEntry(const AnsiString& Name, TIB_StringList*& List);
  void ApplyIndexChange(const std::function<void()>& Change);
  AnsiString table_name_;
  AnsiString index_field_names_;
  AnsiString index_name_;
  std::unique_ptr<TIB_StringList> master_fields_;
  // Both an ascending and a descending index of the key relation begin with Field.
  bool BothWayIndexes(const AnsiString& Field);
  AnsiString ordering_items_;
  int32_t ordering_item_no_ = 0;
  bool building_sql_ = false;
  bool allow_horizontal_refinement_ = true;
};

class TREZTable : public TREZBaseTable {
 public:
  explicit TREZTable(TComponent* Owner) : TREZBaseTable(Owner) {}
};

// The ordering line of a list of index fields ("A, B DESC"): "TABLE ORDER=" and the
// ascending order, ";" and the reversed order; FirstDescending tells whether the first
// field is descending.
AnsiString REZOrderingItems(const std::vector<AnsiString>& Fields, bool& FirstDescending);

// --- Update objects -------------------------------------------------------------------------
class TREZUpdateSQL : public TIB_Component {
 public:
  explicit TREZUpdateSQL(TComponent* Owner);
  ~TREZUpdateSQL() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // Kinds: 0 modify, 1 insert, 2 delete.
  TStringList* SQLText(int32_t Kind) const { return texts_[Kind].get(); }
  TStringList* ModifySQL() const { return SQLText(0); }
  TStringList* InsertSQL() const { return SQLText(1); }
  TStringList* DeleteSQL() const { return SQLText(2); }
  void SetSQLText(int32_t Kind, const TStrings* Value);
  TREZDataset* DataSet() const { return dataset_; }
  TREZDataset* GetStatement(int32_t Kind);
  virtual void Apply(int32_t Kind);
  void SetParams(int32_t Kind);
  void ExecSQL(int32_t Kind);
  void UnprepareAll();

 private:
  friend class TREZDataset;
  void SQLChanged(int32_t Kind);
  TREZDataset* dataset_ = nullptr;
  std::unique_ptr<TREZDataset> statements_[3];
  std::unique_ptr<TStringList> texts_[3];
};

// --- Blob stream ------------------------------------------------------------------------------
class TREZBlobStream : public TStream {
 public:
  TREZBlobStream(TField* Field, TBlobStreamMode Mode);
  ~TREZBlobStream() override;
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

 private:
  TREZDataset* dataset_;
  TField* field_;
  TIB_Column* column_ = nullptr;
  TBlobStreamMode mode_;
  bool modified_ = false;
  bool written_ = false;  // a write came, even one of no bytes: the value is not null
  int64_t position_ = 0;
  AnsiString content_;   // the blob or text content
  bool is_blob_ = false;
  bool is_text_ = false;
  bool utf8_ = false;
  char* data_ = nullptr; // the column's data in the record buffer
  bool live_ = false;
};

}  // namespace pelvar
