// The buffered, scrollable dataset and its internal cursors.
//
// TIB_BDataset reads the rows of its SELECT into a TIB_NodeList and lets the caller move
// freely over them. Its field row (Fields) shows the current row; a second row, the
// buffer row (BufferFields), reads other rows without moving the current one. Every row
// is addressed by its key: the columns named by KeyLinks, or, without key links, a
// running number given to each fetched row. A bookmark is the key as hex text.
//
// Two fetch modes: whole rows (FetchWholeRows, the default), where each fetched row is
// packed into its node as it arrives, and keys only, where the dataset first reads the
// keys of its result and reads each row by its key when the row is first shown.
//
// Rows are re-read from the server by key through a TIB_BindingCursor; a row whose key
// is gone on the server is dropped from the buffer. Edits keep the buffer in step
// (BufferSynchroFlags); with CachedUpdates the changes are recorded on the nodes and
// sent later, in the order they were first made, by ApplyUpdates.
//
// Rows are filtered on the server (Filter while Filtered) and on the client
// (OnFilterRecord, hidden rows stay in the buffer); LocateRecord, LookupRecord and
// FindRecord search the buffer first and the server through TIB_LocateCursor and
// TIB_FilterCursor.
//
// Implementation: IB_Components_bdataset.cpp (keys, fetching, navigation, ordering
// ranges), _bdataset_cursors.cpp (binding, locate and filter cursors), _bdataset_sync.cpp
// (bookmarks, re-reads, posting, cached updates, announced changes), _bdataset_locate.cpp
// (filtering, locating, finding, master and key sources).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "dbengine/IB_Components_dataset.h"
#include "dbengine/IB_NodeList.h"
#include "dbengine/IB_Parse_filter.h"
#include "platform/classes.h"
#include "platform/db.h"

namespace pelvar {

class TIB_BDataset;
class TIB_FilterCursor;
class TIB_LocateCursor;

// Re-read the row from the server before an edit, after an edit, after an insert.
enum TIB_BufferSynchroFlag : uint8_t { bsBeforeEdit, bsAfterEdit, bsAfterInsert };
using TIB_BufferSynchroFlags = TEnumSet<TIB_BufferSynchroFlag>;

// The locate options byte: bit 1 case-insensitive, bit 2 partial key.
constexpr uint8_t lopCaseInsensitive = 1;
constexpr uint8_t lopPartialKey = 2;

// Cached-update kinds (nukModify, nukInsert, nukDelete) and answers (nuaFail .. nuaApplied)
// are the node list's values.
using TIB_FilterRecordEvent = std::function<void(TIB_Row* ARow, bool& Accept)>;
using TIB_UpdateRecordEvent =
    std::function<void(TIB_BDataset* DataSet, int32_t UpdateKind, int32_t& UpdateAction)>;
using TIB_UpdateErrorEvent = std::function<void(TComponent* Sender, std::exception& E,
                                                int32_t UpdateKind, int32_t& UpdateAction)>;
// The default routine that sends one cached change (SysApplyUpdate's routine).
using TIB_ApplyRoutine = std::function<void()>;

// --- Binding cursor ------------------------------------------------------------------------
// Shows one buffered row as a row of columns and reads that row from the server by key.
// Until it has to read, it has no statement of its own: its row takes the served
// dataset's column descriptions. Its own statement is the served dataset's SELECT with
// one "key column = ?BIND_i" condition per key column.
class TIB_BindingCursor : public TIB_Cursor {
 public:
  TIB_BindingCursor(TComponent* Owner, TIB_BDataset* Dataset);
  ~TIB_BindingCursor() override;

  TIB_BDataset* ServedDataset() const { return served_; }
  TIB_Statement* OwningStatement() const override;
  bool Bound() const { return bound_; }
  bool OwnStatement() const { return own_statement_; }
  // Lays the row out from the served dataset (no server statement).
  void LayoutFromDataset();
  // Prepares the own statement (the served SELECT restricted to one key).
  void GetPrepare();
  // The served dataset's parameters into the own statement's parameters.
  void BindParams();
  // Makes the row show Node's row; Force reads it from the server even when the node
  // holds it; KeepOpen leaves the server cursor open on the row. False: the row's key
  // is gone on the server (the row is then empty and detached).
  bool FetchRowByKey(TIB_Node* Node, bool Force, bool KeepOpen);
  void CloseCursor();
  bool CursorOpen() const { return cursor_open_; }
  // The SQL text of the own statement (for messages).
  const AnsiString& BindingSQL() const { return binding_sql_; }
  void Unbind();
  void SysDescribeRow(TIB_Row* Row) override;
  void DoCalculateFields(TIB_Row* Row, TIB_Column* Column) override;
  // The row's blob and array values belong to the served dataset's database and
  // transaction: they are read through the served dataset, whether or not this cursor
  // has a statement (connection) of its own yet.
  void LoadBlobNode(XSQLVAR* PVAR, const ISC_ARRAY_DESC* ArrayDesc, TIB_BlobCacheNode* Node) override;
  bool LookupArrayBounds(const XSQLVAR* PVAR, ISC_ARRAY_DESC& Desc) override;

 private:
  TIB_BDataset* served_;
  bool own_statement_ = false;
  bool bound_ = false;
  bool cursor_open_ = false;
  bool key_problem_reported_ = false;
  AnsiString binding_sql_;
  friend class TIB_BDataset;
};

// --- Locate cursor -------------------------------------------------------------------------
// A SELECT of the served dataset's key columns restricted by a generated condition built
// from locate field names, values and options.
class TIB_LocateCursor : public TIB_Cursor {
 public:
  TIB_LocateCursor(TComponent* Owner, TIB_BDataset* Dataset);
  ~TIB_LocateCursor() override;

  TIB_BDataset* ServedDataset() const { return served_; }
  TIB_Statement* OwningStatement() const override;
  TIB_StringList* LocateLinks() const { return locate_links_.get(); }
  void SetLocateLinks(const AnsiString& Text);
  const Variant& Values() const { return values_; }
  void SetValues(const Variant& Value) { values_ = Value; }
  uint8_t Options() const { return options_; }
  void SetOptions(uint8_t Value);
  bool Nearest() const { return nearest_; }
  void SetNearest(bool Value);
  // "LOC_" + the column's index in the served dataset, as a stored identifier.
  AnsiString ParamName(const AnsiString& FieldName);
  // The WHERE condition lines and the ORDER BY text made from the fields, values and
  // options; the SELECT prepared from them.
  void BuildCondition(std::vector<AnsiString>& Lines, AnsiString& OrderBy);
  // Prepares (when needed) and opens; True when a row came, its key in the served
  // dataset's key row.
  bool OpenAndFetch();
  bool NextRow();

 private:
  void FillParams();
  TIB_BDataset* served_;
  std::unique_ptr<TIB_StringList> locate_links_;
  Variant values_;
  uint8_t options_ = 0;
  bool nearest_ = false;
  bool sql_stale_ = true;
};

// --- Buffered dataset ------------------------------------------------------------------------
class TIB_BDataset : public TIB_Dataset, public TIB_FilterSource {
 public:
  explicit TIB_BDataset(TComponent* Owner);
  ~TIB_BDataset() override;

  bool GetUnidirectional() const override;
  void SetUnidirectional(bool Value);
  TIB_NodeList* NodeList() const { return node_list_.get(); }

  // --- Keys
  // The key columns are the dataset's KeyLinks (defined from the primary key when none
  // are given); without them rows are keyed by a running number. Rows can be read again
  // from the server by key when every key column is a column of the result.
  bool KeysReadable() const { return !key_column_map_.empty(); }
  // The db-key column the dataset added to the select list to key its rows; nullptr
  // when it added none. It is not one of the statement's own columns.
  TIB_Column* AddedDBKeyColumn() const;
  bool FetchWholeRows() const { return fetch_whole_rows_; }
  void SetFetchWholeRows(bool Value);
  bool KeysOnly() const { return keys_only_; }
  const AnsiString& KeySQLSelect() const { return key_select_; }

  // --- Buffer row
  TIB_Row* GetBufferFields() const override;
  TIB_Row* BufferFields() const { return GetBufferFields(); }
  int32_t GetBufferRowNum() const;
  void SetBufferRowNum(int32_t Value);
  int32_t BufferRowNum() const { return GetBufferRowNum(); }
  bool GetBufferBof() const;
  bool GetBufferEof() const;
  int32_t GetBufferRowCount() const override;
  int32_t BufferRowCount() const { return GetBufferRowCount(); }
  void SyncBufferRow();

  // --- Navigation
  int32_t GetRowNum() const override;
  void SetRowNum(int32_t Value) override;
  int32_t GetBofRowNum() const override;
  int32_t GetEofRowNum() const override;
  bool GetBof() const override;
  bool GetEof() const override;
  bool GetBofFetched() const override { return node_list_->BofFetched(); }
  bool GetEofFetched() const override { return node_list_->EofFetched(); }
  bool GotoBof();
  bool GotoEof();
  // Closes and opens again reading from the start (0) or the end (2).
  bool ReopenFrom(uint8_t Direction);
  bool ProbeIsEmpty();
  // Makes rows First..Last hold their data, reading unread rows by key.
  bool SysRefreshKeys(int32_t First, int32_t Last) override;

  // --- Bookmarks
  AnsiString GetBookmark() const override;
  void SetBookmark(const AnsiString& Value) override;
  AnsiString GetBufferBookmark();
  void SetBufferBookmark(const AnsiString& Value);
  bool BookmarkValid(const AnsiString& Value);
  void SysRefreshBookmark(const AnsiString& Value);
  // The current row (or the buffer row) moves to the row whose key is in the key row.
  bool LookupKey();
  bool LookupBufferKey();

  // --- Synchronisation and record counts
  TIB_BufferSynchroFlags BufferSynchroFlags() const { return buffer_synchro_flags_; }
  void SetBufferSynchroFlags(TIB_BufferSynchroFlags Value) { buffer_synchro_flags_ = Value; }
  // Removes the current row from the buffer (not from the server).
  void RemoveRow(bool MoveAway, bool Notify);
  void RemoveBufferRow(int32_t ARowNum);

  // --- Cached updates
  bool GetCachedUpdates() const { return CachedUpdates; }
  void SetCachedUpdates(bool Value);
  void ApplyUpdates() override;
  void CancelUpdates() override;
  void CommitUpdates() override;
  void RevertRecord();
  void ProcessUpdates(int32_t Mode);
  bool GetUpdatesPending() const;
  bool UpdatesPending() const { return GetUpdatesPending(); }
  // 0 unmodified, 1 modified, 2 inserted, 3 deleted.
  int32_t GetUpdateStatus() const;
  // The flags of the current row's node (cached changes pending on it); 0 without a row.
  uint16_t RowNodeFlags() const;
  virtual void SysApplyUpdate(int32_t UpdateKind, int32_t& UpdateAction,
                              const TIB_ApplyRoutine& Routine, TIB_BDataset* Data);
  virtual void DoUpdateRecord(int32_t UpdateKind, int32_t& UpdateAction);
  virtual void SysHandleUpdateError(std::exception& E, int32_t UpdateKind, int32_t& UpdateAction);
  bool Applying() const { return applying_; }
  TComponent* OwnerForEvents() const { return owner_for_events_; }
  void SetOwnerForEvents(TComponent* Value) { owner_for_events_ = Value; }
  TIB_UpdateRecordEvent OnUpdateRecord;
  TIB_UpdateErrorEvent OnUpdateError;

  // --- Filtering
  AnsiString GetFilter() const override { return filter_; }
  const AnsiString& Filter() const { return filter_; }
  void SetFilter(const AnsiString& Value);
  bool Filtered() const { return node_list_->Filtered(); }
  void SetFiltered(bool Value);
  TFilterOptions GetFilterOptions() const override { return filter_options_; }
  TFilterOptions FilterOptions() const { return filter_options_; }
  void SetFilterOptions(TFilterOptions Value);
  TIB_Column* FindField(const AnsiString& Name) override { return TIB_Statement::FindField(Name); }
  const TIB_FilterRecordEvent& OnFilterRecord() const { return on_filter_record_; }
  void SetOnFilterRecord(const TIB_FilterRecordEvent& Handler);
  void RefilterRows();
  bool DoFilterRecord(TIB_Row* ARow);
  virtual void SysFilterRow(TIB_Node* Node, bool& Accept);
  // Mode 0: the cached changes of the master row being deleted are reverted (cached
  // inserts leave the buffer).
  void UpdateCachedDetailRows(int32_t Mode, TIB_Column* MasterColumn) override;

  // --- Ordering ranges: an ordering item whose OrderingLinks entry carries POS reads from
  // a position in that order, forwards with the SELECT and backwards (rows 0, -1, ...)
  // with a reversed one.
  bool OrderingRange() const { return !range_forward_.empty(); }
  // Reads from the first row at or after Text in the current order ("" : from the start).
  void SetOrderingPosition(const AnsiString& Text);
  TIB_Cursor* ReverseDataset() const { return reverse_.get(); }

  // --- Locating and finding
  // KeyValues: one value, or a Variant array with one element per field.
  bool LocateRecord(const AnsiString& KeyFields, const Variant& KeyValues, uint8_t Options,
                    bool SyncCursor, bool Nearest);
  bool LookupRecord(const AnsiString& KeyFields, const Variant& KeyValues,
                    const AnsiString& ResultFields, Variant& Result);
  bool FindRecord(bool Restart, bool GoForward);
  bool Found() const { return found_; }
  bool LocateInBuffer(const std::vector<TIB_Column*>& Columns, const Variant& Values,
                      uint8_t Options, int32_t Lower, int32_t Upper);
  TIB_LocateCursor* LocateCursor() const { return locate_cursor_.get(); }
  TIB_FilterCursor* FilterCursor() const { return filter_cursor_.get(); }

  // --- Overrides the adapters call or extend
  void SysActivate() override;
  void DoAfterUnprepare() override;
  void DoPrepareSQL() override;
  bool GetOrderingPlan() override;
  bool HasCustomDML(int32_t Kind) const override;
  void SysPost(bool OnlyIfModified, bool Retaining) override;
  void SysPrepareServerSQL() override;
  void SysLayoutRows() override;
  bool SysPrepare() override;

  // The number of rows, exact when the buffer holds the whole result.
  int32_t GetRecordCountExact();

  // Row cursors (internal; for the adapters' diagnostics and tests).
  TIB_BindingCursor* RowCursor() const { return row_cursor_.get(); }
  TIB_BindingCursor* BufferCursor() const { return buffer_cursor_.get(); }
  // Rows read one by one by their key so far.
  int64_t RowsReadByKey() const { return rows_read_by_key_; }

 protected:
  // --- Dataset slots
  void SysInitFieldBuffers() override;
  void SysExecSelect() override;
  void SysDeallocate() override;
  void DoPreparedChanged() override;
  void DoAfterPrepare() override;
  void DoBeforeOpen() override;
  void DoAfterOpen() override;
  void DoAfterClose() override;
  bool DoAfterFetchRow() override;
  void DoAfterFetchEof() override;
  void SysFetchRow() override;
  void SysFetchAll(uint32_t Ticks) override;
  void SysFetchFirstRow() override;
  void SysFirst() override;
  void SysLast() override;
  int32_t SysMoveBy(int32_t Distance) override;
  void SysAfterScroll() override;
  void SysRefreshRow() override;
  void SysRefreshRowNum(int32_t ARowNum) override;
  int32_t SysGetRecordCount() override;
  bool IsBufferedDataset() const override { return true; }
  void DoLinkQuery(TIB_Row* Row, TIB_Column* Column) override;

  // --- Editing slots
  void SysEdit() override;
  void SysInsert() override;
  void SysCancel() override;
  void SysLockRow() override;
  void SysExecPostWithRetry() override;
  void SysPostEdit() override;
  void SysPostInsert() override;
  void SysExecuteEdit() override;
  void SysExecuteInsert() override;
  void SysExecuteDelete() override;
  void ProcessTransactionEvent(TIB_TransactionLink* Sender, uint8_t Event) override;
  void SysKeyDataChange() override;
  // A running look-up holds the key following too.
  bool KeyFollowingHeld() const override { return locate_nesting_ > 0 || TIB_Dataset::KeyFollowingHeld(); }
  void SysDMLCacheReceivedItem(const TIB_DMLCacheItem& Item) override;

  // The key row takes the current row's key values and goes into the node's key.
  void SysUpdateBufferRow(bool SaveOldKey);
  // Reads Count more rows forwards (the node list's fetch handler).
  void FetchRows(bool Forward, int32_t Count);
  // Fetches until the row number is buffered (or the end); False when aborted.
  bool FetchToRowNum(int32_t& N);
  // Shows the current node in the field row (reading it by key when needed); False
  // when its key is gone on the server.
  bool ReadCurrentRow();
  bool ReadBufferRow();
  void UpdatePendingState();

 private:
  class RowSide;
  void InstallHandlers();
  void BuildKeyColumnMap();
  void CopyKeyFromRow(TIB_Row* Row, bool Old);
  void PackFetchedRow(TIB_Node* Node);
  void LoadNodeIntoFields(TIB_Node* Node);
  void ClearFields();
  void ApplyOneUpdate(TIB_Node* Node, int32_t& Action, int32_t Kind);
  void RevertedNode(TIB_Node* Node);
  void RunUpdateWithRetry(int32_t Kind, int32_t& Action);
  bool RowPassesFilter(TIB_Node* Node);
  bool FetchKeysOnlyRow();
  bool CompareBufferRow(const std::vector<TIB_Column*>& Columns, const Variant& Values,
                        uint8_t Options);
  void SaveFieldsForFetch(std::vector<char>& Saved, std::vector<char>& SavedOld, uint8_t& State);
  void RestoreFieldsAfterFetch(const std::vector<char>& Saved, const std::vector<char>& SavedOld,
                               uint8_t State);

  std::unique_ptr<TIB_NodeList> node_list_;
  std::unique_ptr<TIB_BindingCursor> row_cursor_;
  std::unique_ptr<TIB_BindingCursor> buffer_cursor_;
  std::unique_ptr<TIB_LocateCursor> locate_cursor_;
  std::unique_ptr<TIB_FilterCursor> filter_cursor_;
  std::unique_ptr<TIB_Cursor> reverse_;
  AnsiString range_forward_, range_backward_, range_param_;
  void BuildRange();
  void FetchBackward(int32_t Count);
  void SetRangeBoundary(TIB_Column* Param, bool Lowest);
  // Keys-only mode: the statement that reads the keys of the result.
  std::unique_ptr<TIB_Cursor> key_cursor_;
  // For every key-row column the field-row column it is copied from.
  std::vector<std::pair<TIB_Column*, TIB_Column*>> key_column_map_;
  // The relation whose RDB$DB_KEY is added to the select list (keys by DB_KEY), and the
  // SQL text it was found for.
  AnsiString db_key_relation_, db_key_for_sql_;
  bool db_key_added_ = false;  // the prepared select list ends with that db-key
  // The field row's columns in buffer order (the node format), laid out once per prepare.
  std::vector<TIB_Column*> pack_columns_;
  TIB_BufferSynchroFlags buffer_synchro_flags_;
  bool fetch_whole_rows_ = true;
  bool keys_only_ = false;
  bool unidirectional_ = false;
  AnsiString key_select_;
  AnsiString filter_;
  TFilterOptions filter_options_;
  TIB_FilterRecordEvent on_filter_record_;
  int32_t synthetic_key_ = 0;
  int32_t reverse_key_ = 1;
  uint8_t fetch_direction_ = 0;
  bool updates_pending_reported_ = false;
  bool applying_ = false;
  bool in_revert_ = false;
  bool after_post_remove_ = false;
  bool filter_without_columns_ = false;
  bool found_ = false;
  bool lookup_duplicate_check_ = false;
  int32_t locate_nesting_ = 0;
  int32_t locate_hit_ = NodeNoRow;
  int32_t fetch_rows_nesting_ = 0;
  TComponent* owner_for_events_ = nullptr;
  int64_t rows_read_by_key_ = 0;
  AnsiString last_key_text_;
  TIB_Node* current_node_shown_ = nullptr;
  friend class TIB_BindingCursor;
  friend class TIB_LocateCursor;
  friend class TIB_FilterCursor;
};

// --- Filter cursor ---------------------------------------------------------------------------
// A read-only buffered dataset over the owner's key SELECT with the owner's Filter added
// (used by FindRecord while the owner is not Filtered).
class TIB_FilterCursor : public TIB_BDataset {
 public:
  TIB_FilterCursor(TComponent* Owner, TIB_BDataset* Dataset);
  TIB_BDataset* OwnerDataset() const { return owner_dataset_; }

 protected:
  void DoBeforeOpen() override;

 private:
  TIB_BDataset* owner_dataset_;
};

}  // namespace pelvar
