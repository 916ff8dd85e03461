// The dataset: a statement that owns a named server cursor. It keeps a state over the
// current row, fires its Before/After events in a fixed order, sends its link events
// (held back while a compound operation runs), opens, closes and refreshes its cursor and
// moves forward through the rows. TIB_Cursor is its published, forward-only face.
//
// What later layers add (editing and posting, fetching with callbacks, key and master
// links, data sources, the buffered dataset) reaches this class through the protected
// virtual hooks below; their defaults here are the forward-only behaviour.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "dbclient/IBD_CancelQuery.h"
#include "dbclient/IB_Components.h"
#include "dbengine/IB_Components_statement.h"

namespace pelvar {

enum TIB_DatasetState : uint8_t {
  dstInactive = 0,
  dstPrepared = 1,
  dstSearch = 2,
  dstBrowse = 3,
  dstEdit = 4,
  dstInsert = 5,
  dstDelete = 6,
};

// The link event codes a dataset sends besides the statement's own.
enum : uint8_t {
  dsetBeforePost = 14,         // a pending change is about to be posted
  dsetRowStateChanged = 18,    // followed by 22: the field row's row state changed
  dsetDataChange = 22,         // the row or the state changed
  dsetUpdateData = 23,         // links write their pending values into the dataset
  dsetRowRefreshed = 25,       // that row (the argument) was re-read
};

// The row number that designates no buffered row.
constexpr int32_t NoRowNum = -2147483647;

class TIB_Dataset;
using TIB_DatasetEvent = std::function<void(TIB_Dataset* IB_Dataset)>;
using TIB_GetCanScrollEvent = std::function<void(TIB_Dataset* Sender, bool& CanScroll)>;

// The moments a fetch with progress callbacks reports.
enum TIB_CallbackStatus : uint8_t { csInit, csRefresh, csFinal };
using TIB_CallbackEvent = std::function<void(TIB_Dataset* IB_Dataset, TIB_CallbackStatus Status,
                                             int32_t CursorRowNum, bool& Abort)>;
using TIB_CustomRecordCount = std::function<void(TIB_Dataset* Sender, int32_t& RecordCount)>;

// What a change is asked for when OnGetCanModify is offered a right.
enum TIB_DatasetCanModify : uint8_t { cmDelete = 0, cmEdit = 1, cmInsert = 2 };
// The answer of an error event: raise, end silently, or run the failed step again.
enum TIB_DataAction : uint8_t { dacFail = 0, dacAbort = 1, dacRetry = 2 };
using TIB_DataSetErrorEvent =
    std::function<void(TIB_Dataset* DataSet, EIB_Error& E, TIB_DataAction& Action)>;
using TIB_GetCanModifyEvent =
    std::function<void(TIB_Dataset* Sender, TIB_DatasetCanModify Kind, bool& CanModify)>;
using TIB_ConfirmDeleteEvent = std::function<void(TIB_Dataset* Sender, bool& Confirmed)>;

// How a detail searches together with its master.
enum TIB_MasterSearchFlag : uint8_t { msfOpenMasterOnOpen, msfSearchMasterOnSearch, msfSearchAppliesToMasterOnly };
using TIB_MasterSearchFlags = TEnumSet<TIB_MasterSearchFlag>;

class TIB_UpdateSQL;
class TIB_DataSource;
class TIB_KeyDataLink;
class TIB_MasterDataLink;

class TIB_Dataset : public TIB_Statement, public IB_FetchAbortTarget {
 public:
  explicit TIB_Dataset(TComponent* Owner);
  ~TIB_Dataset() override;

  void Loaded() override;
  // An open asked for while loading runs now (unless still loading); a failure is shown,
  // not raised, and the request stays pending until the dataset is active.
  void CheckPendingOpen() override;
  // Beside the statement list, the dataset leaves the old session's dataset list (and
  // its focus) and joins the new session's: the searches shared with details walk it.
  void SetIB_Session(TIB_Session* Value) override;
  // The dataset leaves the old transaction's dataset list and joins the new one's.
  void SetIB_Transaction(TIB_Transaction* Value) override;

  // --- State
  TIB_DatasetState GetState() const { return state_; }
  TIB_DatasetState State() const { return state_; }
  bool GetIsEditing() const { return state_ >= dstEdit && state_ <= dstDelete; }
  // Active, or prepared with a row in the field row.
  bool GetIsOpen() const;
  void CheckActive();
  void CheckPrepared();
  void CheckCanScroll();
  bool GetModified() const;
  bool GetCanSearch() const { return !PreventSearching; }
  // A forward-only dataset; the buffered dataset answers False.
  virtual bool GetUnidirectional() const { return true; }
  // StateChanged for the data links: runs only while not already running twice.
  void LinkStateChanged();

  // --- Buffer fields: the row the current buffered row is read into; a forward-only
  // dataset reads straight into its field row.
  virtual TIB_Row* GetBufferFields() const { return Fields(); }
  TIB_Column* FindBufferField(const AnsiString& Name) const;
  TIB_Column* BufferFieldByName(const AnsiString& Name) const;
  // The buffer field columns named in a ";"-separated list ("*" or empty: all).
  void GetBufferFieldList(TList* AList, const AnsiString& Names) const;

  // --- Opening, closing, refreshing
  void Open();
  void Close();
  void SetActive(bool Value) override;
  bool QuickFetch();
  bool Refresh();
  bool RefreshAll();
  bool RefreshCurrentRow();
  bool GetRefreshing() const { return refresh_nesting_ > 0; }
  void FetchAll();
  void ExecSQL() override;

  // --- Navigation
  void First();
  void Last();
  int32_t MoveBy(int32_t Distance);
  void Next();
  void Prior();
  void CursorNext();
  virtual bool GetBof() const { return row_num_ == 0; }
  virtual bool GetEof() const { return eof_; }
  bool Bof() const { return GetBof(); }
  bool Eof() const { return GetEof(); }
  virtual int32_t GetRowNum() const { return row_num_; }
  int32_t RowNum() const { return GetRowNum(); }
  virtual void SetRowNum(int32_t Value);
  virtual int32_t GetEofRowNum() const;
  virtual int32_t GetBofRowNum() const { return 0; }
  // Whether the rows before the first (after the last) are all read; a forward-only
  // dataset starts at the first row and has read all at the end of data.
  virtual bool GetBofFetched() const { return true; }
  virtual bool GetEofFetched() const { return eof_; }
  // Makes rows First..Last hold their data; only a buffered dataset keeps rows to refresh.
  virtual bool SysRefreshKeys(int32_t First, int32_t Last);
  virtual AnsiString GetBookmark() const { return AnsiString(); }
  virtual void SetBookmark(const AnsiString& Value);
  bool GetIsReady() const;
  bool GetCanScroll() const;

  // --- Link events
  void DisableLinkEvents();
  void EnableLinkEvents();
  void ProcessLinkEvent(uint8_t Code, intptr_t Argument) override;
  int32_t LinkEventsDisabled() const { return link_events_disabled_; }

  // Posts a pending change, or cancels one without changes, after the links wrote it.
  void CheckBrowseMode();

  // --- Cursor
  const AnsiString& CursorName() const { return cursor_name_; }
  bool CursorDeclared() const { return cursor_declared_; }
  // Only while a fetch with callbacks runs: the fetch stops at its next check.
  void AbortFetching() override;
  // Changes at every abort; loops compare it before and after.
  int32_t FetchAbortCount() const { return fetch_abort_count_; }
  bool Fetching() const { return fetching_; }
  // Switch callbacks off for every dataset of the session while a time-limited fetch runs.
  void BeginTimedFetch();
  void EndTimedFetch();
  // Shows (csRefresh) or hides (csFinal) the cancel-query dialog.
  void ShowCallbackDialog(TIB_CallbackStatus Status);
  TdlgCancelQuery* CallbackDialog() const { return callback_dialog_.get(); }

  // --- Record count: -1 when unknown.
  int32_t GetRecordCount();
  int32_t GetRecordCountBusy();
  int32_t RecordCount() { return GetRecordCount(); }

  // --- Slot operations called from outside (transaction, adapter)
  virtual bool SysOpenCursor();
  void SysClose() override;
  virtual bool SysRefresh(bool RefreshRow, bool Reopen);
  virtual bool SysQuickFetch();
  // Ticks > 0: stops once that many milliseconds passed, with callbacks switched off.
  virtual void SysFetchAll(uint32_t Ticks = 0);

  // --- Properties
  TIB_CommitAction CommitAction() const { return commit_action_; }
  void SetCommitAction(TIB_CommitAction Value) { commit_action_ = Value; }
  TIB_RefreshAction RefreshAction() const { return refresh_action_; }
  void SetRefreshAction(TIB_RefreshAction Value) { refresh_action_ = Value; }
  bool AutoFetchAll() const { return auto_fetch_all_; }
  void SetAutoFetchAll(bool Value) { auto_fetch_all_ = Value; }
  bool AutoFetchFirst() const { return auto_fetch_first_; }
  void SetAutoFetchFirst(bool Value) { auto_fetch_first_ = Value; }
  uint8_t WorkFlags() const { return work_flags_; }
  void SetWorkFlags(uint8_t Value) { work_flags_ = Value; }
  bool PendingOpen() const { return pending_open_; }
  // An open dataset refreshes itself when a parameter value changes.
  bool RefreshOnParamChange() const { return refresh_on_param_change_; }
  void SetRefreshOnParamChange(bool Value) { refresh_on_param_change_ = Value; }
  bool PreventSearching = false;

  // --- SQL sections, criteria, ordering and key links (IB_Components_dataset_sql.cpp)
  // The clause Kind (ssSelect .. ssForUpdate) as an editable list, refilled from the SQL
  // on every call; editing it writes the clause back. nullptr for another Kind.
  TIB_StringList* GetSQLSection(int32_t Kind);
  // Conditions added to the WHERE clause at every SQL build (cleared at its start): in
  // front, appended, and appended last. A line is a condition, "(" or ")" groups.
  TIB_StringProperty* WhereCriteriaFirst() const { return where_first_.get(); }
  TIB_StringProperty* WhereCriteria() const { return where_mid_.get(); }
  TIB_StringProperty* WhereCriteriaLast() const { return where_last_.get(); }
  // The dataset's own WHERE conditions with its criteria, without the keyword.
  const AnsiString& LinkCriteriaText() const { return link_criteria_; }
  // Adds the criteria lines of List to Where as one or more conditions (in front with
  // Prepend); unbalanced "(" and ")" lines raise.
  void AddCriteria(TStrings* List, AnsiString& Where, bool Prepend);
  // Key links: RELATION.FIELD lines (optionally =value), one per key column of the
  // result. GetKeyLinks defines them first when KeyLinksAutoDefine allows.
  TIB_StringProperty* GetKeyLinks();
  TIB_StringProperty* KeyLinks() { return GetKeyLinks(); }
  void SetKeyLinks(const TStrings* Value);
  bool HasKeyLinks() const { return key_links_->Count() > 0; }
  bool IsKeyLinksStored() const { return !key_links_auto_defined_; }
  bool KeyLinksAutoDefined() const { return key_links_auto_defined_; }
  bool KeyLinksByDBKey() const { return key_links_by_db_key_; }
  // Key links are defined from the key relation's primary key (or RDB$DB_KEY) while the
  // SQL is prepared and none are set.
  bool KeyLinksAutoDefine() const { return key_links_auto_define_; }
  void SetKeyLinksAutoDefine(bool Value) { key_links_auto_define_ = Value; }
  TIB_StringProperty* KeyDescLinks() const { return key_desc_links_.get(); }
  void SetKeyDescLinks(const TStrings* Value);
  // DETAIL.FIELD=MASTER.FIELD lines: each puts DETAIL.FIELD=?MLNK_FIELD_<n> in front of
  // the WHERE clause.
  TIB_StringProperty* MasterLinks() const { return master_links_.get(); }
  void SetMasterLinks(const TStrings* Value);
  TIB_StringProperty* MasterParamLinks() const { return master_param_links_.get(); }
  void SetMasterParamLinks(const TStrings* Value);
  AnsiString GetMasterLinkParamName(int32_t Index);
  // The key-field row when it has columns, else the field row.
  TIB_Row* GetKeyFields() const;
  // Ordering: NAME=ascending ORDER BY;descending ORDER BY items, COLUMN=item number (or
  // ITEM=n;PLANASC=..;PLANDESC=..) links, COLUMN=parameter searching links.
  TIB_StringProperty* OrderingItems() const { return ordering_items_.get(); }
  void SetOrderingItems(const TStrings* Value);
  TIB_StringProperty* OrderingLinks() const { return ordering_links_.get(); }
  void SetOrderingLinks(const TStrings* Value);
  TIB_StringProperty* SearchingLinks() const { return searching_links_.get(); }
  void SetSearchingLinks(const TStrings* Value);
  int32_t OrderingItemNo() const { return ordering_item_no_; }
  void SetOrderingItemNo(int32_t Value);
  const AnsiString& OrderingLink() const { return ordering_link_; }
  void SetOrderingLink(const AnsiString& Name);
  TIB_Column* OrderingField() const { return ordering_field_; }
  TIB_Column* OrderingParam() const { return ordering_param_; }
  const AnsiString& SearchingLink() const { return searching_link_; }
  void SetSearchingLink(const AnsiString& Name);
  TIB_Column* SearchingParam() const { return searching_param_; }
  // One line per ORDER BY item of the last build: the item, "=" and ASC or DESC.
  TIB_StringList* OrderingKeys() const { return ordering_keys_.get(); }
  AnsiString BuildOrderByText(int32_t ItemNo);
  void SyncOrderingLink();
  void SyncSearchingLink();
  void ClearSearchingLinkParams();
  void AssignSQLFrom(TIB_Dataset* Other);
  TIB_DatasetEvent OnOrderingChanged;

  // --- Master and key links (IB_Components_dataset_links.cpp)
  // A detail follows the current row of its MasterSource's dataset through MasterLinks
  // (its MLNK_ parameters) and MasterParamLinks; a look-up follows its KeySource's
  // dataset through KeyLinks. A source from which this dataset can be reached again
  // raises "Kruhové odkazy nejsou povoleny".
  TIB_DataSource* MasterSource() const;
  void SetMasterSource(TIB_DataSource* Value);
  TIB_DataSource* KeySource() const;
  void SetKeySource(TIB_DataSource* Value);
  TIB_Dataset* GetMasterDataset() const;
  TIB_Dataset* GetKeyDataset() const;
  bool KeySeeking() const { return key_seeking_; }
  void SetKeySeeking(bool Value);
  void DisableKeySourceSync();
  void EnableKeySourceSync();
  bool KeySourceSyncDisabled() const { return key_source_disabled_ > 0; }
  // The reactions of the two links: the key source's row changed; the master's row (or
  // its Column) changed.
  void KeySourceDataChange();
  void MasterDataChange(TIB_Column* Column);
  // Detail columns named by MasterLinks take the master's values (a new row's keys).
  void AssignMasterLinkValues();
  // The key dataset's key columns follow this dataset's current row.
  void SyncKeySource();
  // Column lists of the links, built on demand and released when a link or a preparation
  // changes.
  void BindMasterLinks();
  void UnbindMasterLinks();
  void BindKeyLinks();
  void UnbindKeyLinks();
  TIB_MasterDataLink* MasterDataLink() const { return master_link_.get(); }
  TIB_KeyDataLink* KeyDataLink() const { return key_link_.get(); }
  bool Posting() const { return posting_nesting_ > 0; }
  bool MasterLinkUpdating() const { return master_update_nesting_ > 0; }
  // The buffered detail's cached rows and a change of its master: mode 0 reverts the
  // cached changes of the master row (it is being deleted), mode 1 gives them the
  // master's new link values. Nothing here.
  virtual void UpdateCachedDetailRows(int32_t /*Mode*/, TIB_Column* /*MasterColumn*/) {}
  // A detail row's link columns against the master's current values.
  bool DetailRowMatchesMaster(TIB_Row* Row);

  // --- Search mode: the dataset collects criteria instead of values; executing the
  // search opens it with them. A detail with MasterSearch adds an EXISTS condition of
  // its criteria to its master's SQL.
  bool MasterSearch() const { return master_search_; }
  void SetMasterSearch(bool Value) { master_search_ = Value; }
  TIB_MasterSearchFlags MasterSearchFlags() const { return master_search_flags_; }
  void SetMasterSearchFlags(TIB_MasterSearchFlags Value) { master_search_flags_ = Value; }
  void BeginSearch();
  void ExecuteSearch(bool OpenIt);
  bool GetSearchActive() const;
  TIB_DatasetEvent BeforeSearch, AfterSearch;
  // A dataset in search state has its links write their criteria and its searching
  // details build theirs again before its own SQL is built (their EXISTS conditions).
  bool SysPrepare() override;
  // The kept criteria go with the preparation.
  void SysUnprepare() override;
  // A detail searching with its master makes the master build its SQL again too.
  void InvalidateSQL() override;
  // While raised, a buffered look-up does not follow its key source and its key link
  // does not move it to the key dataset's search text.
  void BeginKeyFollowingGuard();
  void EndKeyFollowingGuard();
  virtual bool KeyFollowingHeld() const { return key_following_guard_ > 0; }
  // The links' query-by-example criteria (event 31 to every link, then to the details
  // that search with this dataset): empty them, keep them, bring back what was kept or
  // what the last executed search used, write them into Strings as name=value lines
  // (Strings is emptied first unless a master writes into the same list) and read them
  // back.
  void ClearSearchCriteria();
  void SaveSearchCriteria();
  void RecallSearchCriteria();
  void RecallLastSearchCriteria();
  void WriteSearchCriteria(TStrings* Strings);
  void ReadSearchCriteria(TStrings* Strings);
  // The list WriteSearchCriteria / ReadSearchCriteria work on while they run; else nullptr.
  TStrings* CriteriaInTransfer() const { return criteria_in_transfer_; }
  // Whether the prepared WHERE holds criteria the dataset generated (link criteria,
  // filters).
  bool HasGeneratedCriteria() const { return where_changed_; }

  // --- DML cache (IB_Components_dataset_dml.cpp)
  // Bits: 1/2/4 announce posted edits/inserts/deletes, 8/16/32 receive them.
  uint8_t DMLCacheFlags() const { return dml_cache_flags_; }
  void SetDMLCacheFlags(uint8_t Value) { dml_cache_flags_ = Value; }
  // After a posted change: OnDMLCacheAnnounceItem, else the key of the row goes to the
  // transaction's DML cache.
  void AnnounceDMLCacheItem(TIB_DMLCacheItemType ItemType);
  // Another dataset's change: OnDMLCacheReceivedItem, else SysDMLCacheReceivedItem.
  void DoDMLCacheReceivedItem(const TIB_DMLCacheItem& Item);
  std::function<void(TIB_Dataset* ADataset, TIB_DMLCacheItemType ItemType)> OnDMLCacheAnnounceItem;
  std::function<void(TIB_Dataset* ADataset, const TIB_DMLCacheItem& Item)> OnDMLCacheReceivedItem;

  // Overrides of the statement's SQL build and row layout.
  void GetEffectiveKeyRelation(AnsiString& Relation) override;
  using TIB_Statement::GetEffectiveKeyRelation;
  bool GetOrderingPlan() override;
  void SysApplyOrderingPlan() override;
  void SysApplyForUpdate() override;
  void SysBuildServerSQL() override;
  void SysStringsChanged(TObject* List, bool& Apply) override;
  void SysLayoutRows() override;
  void SysDescribeRow(TIB_Row* Row) override;
  void SysPrepareFailed() override;
  // Setting the SQL from another dataset's SQL copies its links, orderings, criteria and
  // DML settings; from nil clears them.
  void AssignDatasetDefinition(TIB_Statement* Source) override;

  // --- Events
  TIB_DatasetEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeScroll, AfterScroll,
      AfterFetchRow, AfterFetchEof;
  TIB_GetCanScrollEvent OnGetCanScroll;
  TIB_CallbackEvent OnCallback;
  TIB_CustomRecordCount OnGetRecordCount;

  // --- Fetch limits and progress callbacks
  // Callbacks on every CallbackInc-th row; negative: no callbacks and no abort checks.
  int32_t CallbackInc() const { return callback_inc_; }
  void SetCallbackInc(int32_t Value) { callback_inc_ = Value; }
  uint32_t CallbackInitInt() const { return callback_init_int_; }
  void SetCallbackInitInt(uint32_t Value) { callback_init_int_ = Value; }
  uint32_t CallbackRefreshInt() const { return callback_refresh_int_; }
  void SetCallbackRefreshInt(uint32_t Value) { callback_refresh_int_ = Value; }
  const AnsiString& CallbackCaption() const { return callback_caption_; }
  void SetCallbackCaption(const AnsiString& Value);
  // 0: no limit.
  int32_t MaxRows() const { return max_rows_; }
  void SetMaxRows(int32_t Value) { max_rows_ = Value; }
  uint32_t MaxTicks() const { return max_ticks_; }
  void SetMaxTicks(uint32_t Value) { max_ticks_ = Value; }

  // --- Editing (IB_Components_dataset_edit.cpp)
  void Edit();
  void Insert();
  void Append();
  void Delete();
  void Post();
  void PostRetaining();
  void Cancel();
  bool GetReadOnly() const;
  bool GetCanEdit();
  bool GetCanInsert();
  bool GetCanDelete();
  virtual bool HasCustomDML(int32_t Kind) const;
  // The dataset's column rule: a field column is read-only where the dataset cannot
  // write it in the current state (the custom UPDATE or INSERT has no parameter for it,
  // the generated one leaves it out, or the row is being deleted).
  void GetColumnReadOnly(const TIB_Column* Column, bool& ReadOnly) override;
  using TIB_Statement::GetColumnReadOnly;
  bool ConfirmDelete();
  bool PostedRetaining() const { return posted_retaining_; }
  bool PostSucceeded() const { return post_succeeded_; }

  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool Value);
  bool PreventEditing() const { return prevent_editing_; }
  void SetPreventEditing(bool Value);
  bool PreventInserting() const { return prevent_inserting_; }
  void SetPreventInserting(bool Value);
  bool PreventDeleting() const { return prevent_deleting_; }
  void SetPreventDeleting(bool Value);
  bool RequestLive() const { return request_live_; }
  void SetRequestLive(bool Value);
  bool CheckRequired = true;
  bool PessimisticLocking = false;
  bool AutoPostDelete() const { return auto_post_delete_; }
  void SetAutoPostDelete(bool Value);
  // Set by the buffered dataset: no row locks and no work flags.
  bool CachedUpdates = false;
  // Cached updates live in the buffered dataset; a transaction's apply, commit and
  // cancel of them reach it here.
  virtual void ApplyUpdates() {}
  virtual void CancelUpdates() {}
  virtual void CommitUpdates() {}
  // NAME=value defaults and column=generator pairs for new rows.
  TIB_StringList* DefaultValues() const { return default_values_.get(); }
  void SetDefaultValues(TStrings* Value);
  // New rows take the server's column defaults from the schema cache.
  bool GetServerDefaults() const { return get_server_defaults_; }
  void SetGetServerDefaults(bool Value) { get_server_defaults_ = Value; }
  // Null columns with a server default get it (ForDesign: every such column's default is
  // written into DefaultValues instead).
  void ApplyServerDefaults(bool ForDesign);
  TIB_StringList* GeneratorLinks() const { return generator_links_.get(); }
  void SetGeneratorLinks(TStrings* Value);
  TIB_StringList* ConfirmDeletePrompt() const { return confirm_delete_prompt_.get(); }
  void SetConfirmDeletePrompt(TStrings* Value);

  // The internal update SQL and the settings it keeps.
  TIB_UpdateSQL* UpdateSQL() const { return update_sql_.get(); }
  bool PreparedEdits() const;
  void SetPreparedEdits(bool Value);
  bool PreparedInserts() const;
  void SetPreparedInserts(bool Value);
  bool SearchedEdits() const;
  void SetSearchedEdits(bool Value);
  bool SearchedDeletes() const;
  void SetSearchedDeletes(bool Value);
  TIB_StringList* EditSQL() const;
  TIB_StringList* InsertSQL() const;
  TIB_StringList* DeleteSQL() const;
  TIB_StringList* LockSQL() const;
  void SetEditSQL(TStrings* Value);
  void SetInsertSQL(TStrings* Value);
  void SetDeleteSQL(TStrings* Value);
  void SetLockSQL(TStrings* Value);

  TIB_DatasetEvent BeforeEdit, AfterEdit, BeforeInsert, AfterInsert, BeforeDelete, AfterDelete,
      BeforePost, AfterPost, BeforeCancel, AfterCancel, OnNewRecord;
  TIB_DataSetErrorEvent OnEditError, OnPostError, OnDeleteError;
  TIB_GetCanModifyEvent OnGetCanModify;
  TIB_ConfirmDeleteEvent OnConfirmDelete;

 protected:
  void SetState(TIB_DatasetState NewState);
  // Tells the attached data sources that the state changed (none are attached here).
  // Tells the data sources attached to this dataset that its state changed.
  virtual void NotifyDataSourcesStateChanged();
  void StateChanged();
  virtual bool IsBufferedDataset() const { return !GetUnidirectional(); }
  void SysResetState();

  // The announcement of a posted change: the key-field row's column names and the
  // key's values (new ones for an insert, old ones otherwise).
  virtual void SysAnnounceDMLCacheItem(TIB_DMLCacheItemType ItemType);
  // Nothing here; the buffered dataset follows the change in its rows.
  virtual void SysDMLCacheReceivedItem(const TIB_DMLCacheItem& /*Item*/) {}
  IB_TransactionDataset* TransactionFace();
  // The master-link conditions of the WHERE clause: a buffered dataset's locate and
  // filter cursors take none; its binding cursors bind through "?BIND_<n>".
  virtual bool TakesMasterLinks() const { return true; }
  virtual AnsiString MasterLinkParamMarker(int32_t Index) {
    return "?" + GetMasterLinkParamName(Index);
  }

  // Overrides of the statement's steps.
  void SysExecute() override;
  void SysInitFieldBuffers() override;
  void SysExecSelect() override;
  void SysActivate() override;
  void DoActiveChange() override;
  void DoPreparedChanged() override;
  void DoAfterPrepare() override;
  void DoAfterUnprepare() override;
  void SysDeallocate() override;
  void SysAfterParamChange(TIB_Row* Row, TIB_Column* Column) override;
  // Assigning a column of a browsing dataset starts an edit (or an insert) by itself.
  void SysBeforeFieldChange(TIB_Row* Row, TIB_Column* Column) override;
  void ProcessTransactionEvent(TIB_TransactionLink* Sender, uint8_t Event) override;

  // Navigation steps.
  virtual void SysFetchFirstRow();
  virtual void SysFirst();
  virtual void SysLast();
  virtual int32_t SysMoveBy(int32_t Distance);
  virtual void SysBeforeScroll();
  virtual void SysAfterScroll();
  virtual void SysDeclareCursor();
  virtual void SysCloseCursor();
  void MakeCursorName();
  virtual void SysRefreshRow();
  virtual void SysRefreshRowNum(int32_t ARowNum);

  // Fetching: one row from the open cursor; the bracket of a fetch with progress
  // callbacks around multi-row fetches.
  virtual void SysFetchRow();
  bool FetchingWithCallbacks() const { return fetching_; }
  void BeginCallbackFetch();
  void EndCallbackFetch();
  void SysFetchCallback();
  void SysCheckFetchAbort();
  virtual void DoCallback(TIB_CallbackStatus Status);
  virtual int32_t SysGetRecordCount();

  // Editing hooks: posting and cancelling a pending change (nothing pends here), the
  // buffered rows, and the row lock of a pessimistic edit.
  virtual void SysPost(bool OnlyIfModified, bool Retaining);
  virtual void SysCancel();
  virtual void SysEdit();
  virtual void SysInsert();
  virtual void SysDelete();
  virtual void DoNewRecord();
  // The key source moved: a buffered look-up finds the matching row (nothing here).
  virtual void SysKeyDataChange() {}
  virtual void SysBeginSearch();
  void SysEndSearch();
  void ApplyDefaultValues();
  void ApplyGeneratorLinks();
  virtual void SysCheckRequired();
  virtual void SysLockRow();
  virtual void SysExecPostWithRetry();
  virtual void SysPostEdit();
  virtual void SysPostInsert();
  virtual void SysExecuteEdit();
  virtual void SysExecuteInsert();
  virtual void SysExecuteDelete();
  // Runs Step; an EIB_Error goes to the event, which may ask for a retry or a silent end.
  void ExecuteWithRetry(const TIB_DataSetErrorEvent& ErrorEvent, const std::function<void()>& Step);
  // The next value of a generator, taken with increment 1 in the dataset's transaction.
  int64_t GetGeneratorValue(const AnsiString& Generator);
  // A forward-only dataset buffers the one row its field row holds.
  virtual int32_t GetBufferRowCount() const;
  void ReleaseRowLock();

  // Fire one event each (not while loading, destroying, or for open/close a refresh).
  virtual void DoBeforeOpen();
  virtual void DoAfterOpen();
  virtual void DoBeforeClose();
  virtual void DoAfterClose();
  virtual void DoBeforeScroll();
  virtual void DoAfterScroll();
  // False rejects the fetched row.
  virtual bool DoAfterFetchRow();
  virtual void DoAfterFetchEof();

  bool Opening() const { return opening_; }

 private:
  void FireDatasetEvent(const TIB_DatasetEvent& Handler, bool SuppressWhileRefreshing);
  bool TransactionRollingBack() const;
  void JoinTransactionList();
  void LeaveTransactionList();
  class TransactionSide;
  friend class TransactionSide;
  // A data source starts edits and inserts the quiet way: refused rights answer False.
  friend class TIB_DataSource;

  TIB_DatasetState state_ = dstInactive;
  uint8_t last_row_state_ = 0xFF;  // 0xFF: none seen yet
  bool opening_ = false;
  bool closing_ = false;
  bool inserting_ = false;
  bool reopen_in_search_ = false;
  int32_t row_num_ = 0;
  bool eof_ = false;
  bool cursor_declared_ = false;
  bool row_lock_held_ = false;
  AnsiString cursor_name_;
  int32_t link_events_disabled_ = 0;
  bool deferred_state_changed_ = false;
  bool deferred_data_change_ = false;
  bool deferred_after_scroll_ = false;
  int32_t state_changed_nesting_ = 0;
  uint8_t work_flags_ = 0;
  bool refresh_all_requested_ = false;
  bool pending_open_ = false;
  int32_t refresh_nesting_ = 0;
  int32_t refresh_generation_ = 0;
  bool reposition_needed_ = false;
  bool positioned_exactly_ = false;
  bool saved_bof_or_eof_ = false;
  int32_t saved_row_num_ = 0;
  AnsiString saved_bookmark_;
  // Compared for change only, so they wrap rather than overflow.
  uint32_t open_generation_ = 0;
  int32_t fetch_abort_count_ = 0;
  bool fetch_aborted_ = false;
  bool fetching_ = false;
  int32_t fetch_nesting_ = 0;
  uint32_t fetch_start_ticks_ = 0;
  uint32_t last_callback_ticks_ = 0;
  int32_t record_count_ = -1;
  int32_t callback_inc_ = 5;
  uint32_t callback_init_int_ = 3000;
  uint32_t callback_refresh_int_ = 250;
  AnsiString callback_caption_;
  int32_t max_rows_ = 0;
  uint32_t max_ticks_ = 0;
  std::unique_ptr<TdlgCancelQuery> callback_dialog_;
  // End of data after a fetch: cursor closed, field row cleared, events fired.
  void SysFetchEof();
  bool CallbacksEnabled();
  void IncFetchAbortCount();
  bool key_links_auto_define_ = false;
  uint8_t dml_cache_flags_ = 0;
  bool get_server_defaults_ = false;
  // Dataset SQL state (IB_Components_dataset_sql.cpp).
  void InitSQLLists();
  void SectionChanged(int32_t Kind);
  void WriteSection(int32_t Kind, const AnsiString& Text);
  void BuildOrderBy();
  void DropAutoKeyLinks();
  void DoOrderingChanged();
  int32_t OrderingLinkItemNo(int32_t Index) const;
  std::unique_ptr<TIB_StringList> sections_[10];
  int32_t writing_section_ = 0;
  int32_t filling_section_ = 0;
  std::unique_ptr<TIB_StringProperty> where_first_, where_mid_, where_last_, key_links_,
      key_desc_links_, master_links_, master_param_links_, ordering_items_, ordering_links_,
      searching_links_;
  std::unique_ptr<TIB_StringList> ordering_keys_;
  AnsiString link_criteria_;
  bool where_changed_ = false;
  bool order_by_changed_ = false;
  int32_t ordering_item_no_ = 0;
  AnsiString ordering_link_, searching_link_, searching_param_name_;
  TIB_Column* ordering_field_ = nullptr;
  TIB_Column* ordering_param_ = nullptr;
  TIB_Column* searching_param_ = nullptr;
  int32_t ordering_item_nesting_ = 0, ordering_link_nesting_ = 0, searching_link_nesting_ = 0;
  bool key_links_auto_defined_ = false;
  bool key_links_by_db_key_ = false;
  // The key links found for this preparation name columns the select list does not
  // carry: none are looked for again until the next preparation.
  bool key_links_unbuildable_ = false;
  int32_t key_links_nesting_ = 0;
  TIB_CommitAction commit_action_ = caClose;
  TIB_RefreshAction refresh_action_ = raOpen;
  bool auto_fetch_all_ = false;
  bool auto_fetch_first_ = true;
  bool refresh_on_param_change_ = false;
  bool param_changing_ = false;
  std::unique_ptr<TransactionSide> transaction_side_;
  TIB_Transaction* joined_transaction_ = nullptr;

  // Editing state.
  class UpdateSide;
  friend class UpdateSide;
  bool read_only_ = false;
  bool prevent_editing_ = false;
  bool prevent_inserting_ = false;
  bool prevent_deleting_ = false;
  bool request_live_ = false;
  // The effective key relation as last worked out, under the column rules' stamp (it
  // rests on the same settings); asked for every row appended and posted.
  TIB_RowOwner::ColumnRuleStamp key_relation_stamp_;
  AnsiString key_relation_kept_;
  void WorkOutKeyRelation(AnsiString& Relation);
  bool auto_post_delete_ = true;
  bool posted_retaining_ = false;
  bool post_succeeded_ = false;
  bool cancelling_ = false;
  int32_t posting_nesting_ = 0;
  int32_t retaining_nesting_ = 0;
  TIB_DatasetState state_before_post_ = dstInactive;
  TIB_DatasetState state_before_cancel_ = dstInactive;
  std::unique_ptr<TIB_StringList> default_values_, generator_links_, confirm_delete_prompt_;
  // Values the dataset assigns itself to a new row (defaults, generator values) pass the
  // read-only check while this is positive.
  int32_t own_assignments_ = 0;
  // The server names of the columns after FOR UPDATE OF in the SQL text they were read
  // from; empty: every column.
  AnsiString for_update_sql_;
  std::vector<AnsiString> for_update_columns_;
  bool ForUpdateAllows(const TIB_Column* Column);
  std::unique_ptr<UpdateSide> update_side_;
  std::unique_ptr<TIB_UpdateSQL> update_sql_;

  // Master and key links.
  struct MasterLinkColumns {
    TIB_Column* Detail;
    TIB_Column* Master;
    TIB_Column* Param;
  };
  void AssignLinkParams();
  std::unique_ptr<TIB_KeyDataLink> key_link_;
  std::unique_ptr<TIB_MasterDataLink> master_link_;
  std::vector<MasterLinkColumns> master_cols_, master_param_cols_;
  std::vector<std::pair<TIB_Column*, TIB_Column*>> key_cols_, key_desc_cols_;
  bool master_links_bound_ = false;
  bool key_links_bound_ = false;
  bool key_seeking_ = false;
  int32_t key_source_nesting_ = 0;
  int32_t key_source_disabled_ = 0;
  int32_t master_update_nesting_ = 0;
  int32_t master_update_passes_ = 0;
  bool master_search_ = false;
  TIB_MasterSearchFlags master_search_flags_{msfOpenMasterOnOpen, msfSearchAppliesToMasterOnly};
  int32_t key_following_guard_ = 0;
  // The dataset was active when its master entered search mode: it opens again once
  // the master's search ran.
  bool reopen_after_master_search_ = false;
  TStrings* criteria_in_transfer_ = nullptr;
  // The reaction of every detail that searches with this dataset to its search state.
  void CascadeSearchStateToDetails();
  void LeaveSessionDatasetList();
  // Calls fn for each of the session's datasets whose MasterSource is this dataset (only
  // those that search with it when searching_only), over a copy of the session's list: a
  // detail that an earlier call took out of the list is skipped.
  void ForEachDetail(bool searching_only, const std::function<void(TIB_Dataset*)>& fn);
  // A new master row: the details' pending changes are posted first. A master row that
  // goes (deleted, or a new one cancelled): the details' new rows for it go too.
  void PostDetails();
  void CancelDetailInserts();
  // This detail's reaction to its master's search state.
  void MasterSearchStateChanged();
  // Sends event 31 with Code to the links, then applies Operation to the details that
  // search with this dataset.
  void SearchCriteriaOperation(intptr_t Code, int Operation);
};

// A forward-only cursor over one SELECT.
class TIB_Cursor : public TIB_Dataset {
 public:
  explicit TIB_Cursor(TComponent* Owner) : TIB_Dataset(Owner) {}
};

}  // namespace pelvar
