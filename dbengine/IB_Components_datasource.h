// The data source stands between one dataset and any number of data links: it hears the
// dataset's link events as a statement link, passes them on to its links, fires its own
// events and can be switched off as a whole, holding state and data changes back until it
// is switched on again. A data link is the consumer end: it turns the events into calls of
// its handlers and keeps whether its consumer may modify now.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "dbengine/IB_Components_dataset.h"

namespace pelvar {

class TIB_DataSource;
class TIB_DataLink;

using TIB_DataSourceEvent = std::function<void(TIB_DataSource* Sender, TIB_Dataset* ADataset)>;
using TIB_ColLinkEvent =
    std::function<void(TIB_StatementLink* Sender, TIB_Statement* Statement, TIB_Column* Field)>;
using TIB_DataLinkEvent = std::function<void(TIB_DataLink* Sender, TIB_DataSource* ADataSource)>;
using TIB_DataLinkFieldEvent =
    std::function<void(TIB_DataLink* Sender, TIB_DataSource* ADataSource, TIB_Column* Field)>;

// Link event codes a data link reacts to beside the statement's and the dataset's.
enum : uint8_t {
  dlnkFocusColumn = 27,
  dlnkOrderingItemChanged = 28,
  dlnkOrderingLinkChanged = 29,
  dlnkSearchingLinkChanged = 30,
  dlnkSearchCriteria = 31,  // the argument: 0 clear, 1 save, 2 recall, 3 save last,
                            // 4 recall last, 5 write, 6 read
};

class TIB_DataSource : public TIB_StatementLink {
 public:
  explicit TIB_DataSource(TComponent* Owner);
  ~TIB_DataSource() override;

  TIB_Dataset* GetDataset() const;
  TIB_Dataset* Dataset() const { return GetDataset(); }
  // Leaves the old dataset's data-source list and joins the new one's.
  void SetDataset(TIB_Dataset* Value);
  // Only datasets (or nothing) may be attached.
  void SetStatement(TIB_Statement* Value) override;
  void DoPrepareSQL() override;
  void ProcessEvent(uint8_t Code, intptr_t Argument) override;
  virtual void DoDataChange(TIB_Column* Field);
  void DoUpdateData(TIB_Column* Field);
  void DoStateChanged();

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool Value);
  int32_t DisableCount() const { return disable_count_; }

  // Editing shortcuts for controls: they start editing only as AutoEdit and AutoInsert
  // allow and answer whether the dataset is now in the wanted state.
  virtual bool Edit();
  virtual bool Insert();
  // Edits the current row, or inserts when there is none.
  virtual bool Modify();
  // The dataset is searching, editing or inserting.
  virtual bool GetModifying() const;
  virtual void SendDataChange();

  TIB_DatasetState GetState() const;
  bool GetEditing() const;
  bool GetEof() const;
  bool GetBof() const;
  bool GetHasRow() const;
  // False while searching, True without a dataset, else the dataset's answer.
  bool GetReadOnly() const;

  bool AnnounceFocus() const { return announce_focus_; }
  void SetAnnounceFocus(bool Value);
  bool AllowFocus() const { return allow_focus_; }
  void SetAllowFocus(bool Value);
  bool AutoEdit = true;
  bool AutoInsert = true;
  // With AllowFocus: becomes the session's focused data source.
  virtual void SetFocus();
  bool AnnouncesFocus() const override { return announce_focus_; }
  void DoGainFocus() override;
  void DoLoseFocus() override;
  TIB_Component* FocusDataset() override { return GetDataset(); }

  // Called by the links themselves.
  void AddDataLink(TIB_DataLink* Link);
  void RemoveDataLink(TIB_DataLink* Link);
  int32_t Get_DataLinkCount() const { return static_cast<int32_t>(links_.size()); }
  TIB_DataLink* DataLinks(int32_t Index) const { return links_.at(static_cast<size_t>(Index)); }
  // Puts an attached link first in the link list, so that it hears events first.
  void MoveDataLinkToFront(TIB_DataLink* Link);
  // Puts this source first in its dataset's source list, so that its links hear state
  // changes first.
  void MoveToFrontOfDataset();

  // The sources attached to ADataset, in order of attachment.
  static const std::vector<TIB_DataSource*>& DataSourcesOf(const TIB_Dataset* ADataset);
  // Runs DoStateChanged of every source attached to ADataset; a dataset's
  // NotifyDataSourcesStateChanged calls it.
  static void NotifyStateChanged(TIB_Dataset* ADataset);

  TIB_DataSourceEvent BeforeAssignment, AfterAssignment, OnGainFocus, OnLoseFocus, OnStateChanged;
  TIB_ColLinkEvent OnDataChange, OnUpdateData;

 private:
  bool Quiet() const;
  void DisableEvents();
  void EnableEvents();

  std::vector<TIB_DataLink*> links_;
  // The dataset whose source list holds this source. Kept apart from the statement
  // reference: a dataset being destroyed no longer casts to TIB_Dataset.
  TIB_Dataset* joined_ = nullptr;
  bool announce_focus_ = false;
  bool allow_focus_ = false;
  bool state_change_pending_ = false;
  bool data_change_pending_ = false;
  int32_t disable_count_ = 0;
  bool enabled_ = true;
};

class TIB_DataLink : public TIB_Component {
 public:
  explicit TIB_DataLink(TComponent* Owner);
  ~TIB_DataLink() override;

  TIB_DataSource* DataSource() const { return data_source_; }
  // Event 0 with Value, leave the old source, join Value, event 1 with the old source.
  void SetDataSource(TIB_DataSource* Value);

  // Joins the session's data-link list and, unless the session is being read, takes its
  // focused data source (FollowFocus).
  void SetIB_Session(TIB_Session* Value) override;
  void Loaded() override;
  // With FollowFocusFlag: the receive-focus handler when assigned, else SetDataSource.
  void FollowFocus(TIB_Component* Source);
  // Ends the session's busy bracket and cursor hold that the link holds (SessionHold).
  void EndSessionFocus();
  void DoReceiveFocus(TIB_Component* Focused) override { FollowFocus(Focused); }

  TIB_Dataset* GetDataset() const;
  bool GetPrepared() const;
  bool GetActive() const;
  // The dataset's state; dstBrowse for an active link that shows the buffer row.
  TIB_DatasetState GetState() const;
  bool GetEditing() const;
  // Whether the row the link shows (buffer row or field row) holds a row.
  bool GetHasRow() const;
  // While searching: whether searching is prevented; else the source's answer, then
  // whether the dataset prevents what its state is doing.
  virtual bool GetReadOnly() const;
  virtual bool GetPreventDeleting() const;
  virtual bool GetPreventEditing() const;
  virtual bool GetPreventInserting() const;
  virtual bool GetPreventSearching() const;
  // The name under which the link's criteria are written to a string list.
  virtual AnsiString GetLinkIdentifier() const { return AnsiString(); }
  virtual intptr_t GetLinkFlags() const { return 0; }
  // Whether the consumer may modify now: editing or searching and not read-only.
  bool ModifyState() const { return modify_state_; }
  // The link's source is switched off and its dataset is not unidirectional.
  bool GetSourceDisabled() const;

  // --- Query-by-example criteria: data name, display text, WHERE text, search text.
  virtual AnsiString GetDataName() const { return data_name_; }
  void SetDataName(const AnsiString& Text);
  // The display text, or the data name when none was set.
  AnsiString GetSearchDisplay() const { return display_.empty() ? GetDataName() : display_; }
  void SetSearchDisplay(const AnsiString& Text);
  const AnsiString& GetSearchWhere() const { return where_; }
  void SetSearchWhere(const AnsiString& Text);
  const AnsiString& GetSearchText() const { return search_text_; }
  virtual void SetSearchText(const AnsiString& Text);
  // Empties the four texts; with Apply, invalidates the SQL once if any changed.
  void ClearCriteria(bool Apply);
  void SaveCriteria();
  void RecallCriteria();
  void SaveLastCriteria();
  void RecallLastCriteria();
  // Into (from) the dataset's criteria list in transfer, under GetLinkIdentifier.
  void WriteCriteria();
  void ReadCriteria();

  // --- State colours (the session's colours; OnGetDataLinkColor may replace them).
  virtual TColor GetStateColor();
  virtual TColor GetEditingColor();
  virtual TColor GetInsertingColor();
  virtual TColor GetDeletingColor();
  virtual TColor GetSearchingColor();
  virtual TColor GetInvalidColor();
  TColor GetBrowsingColor();

  virtual void SysPrepareSQL();
  virtual void DoPreparedChanged();
  virtual void SysStateChanged();
  virtual void DoLayoutChanged();
  virtual void SysRowDataChange(TIB_Column* Field);
  virtual void SysUpdateData(TIB_Column* Field);
  virtual void SysRefreshAll();
  virtual void SysReset() { SetDataName(AnsiString()); }
  virtual void ProcessEvent(uint8_t Code, intptr_t Argument);
  virtual void SysEventHook(uint8_t /*Code*/, intptr_t /*Argument*/) {}
  virtual void DoBeforeAssignment();
  virtual void DoAfterAssignment();
  virtual void DoPrepareSQL() { if (OnPrepareSQL) OnPrepareSQL(this, data_source_); }
  virtual void SysBeforePost() {}
  virtual void SysActiveHook() {}
  virtual void SysLinkChanged() { SysLinkHook3(0); }
  virtual void SysModifyStateHook() {}
  virtual void SysLinkHook3(intptr_t /*Argument*/) {}

  // Posts a dataset that is editing and moves a buffered one to its end, then inserts;
  // nothing when the link is not prepared or the dataset cannot insert.
  virtual void Append();
  virtual void FocusColumn(TIB_Column* /*Column*/) {}
  virtual void Insert();
  // False when read-only; else the source's Modify.
  virtual bool Modify();
  virtual void RefreshData();
  // The data source's SetFocus.
  virtual void SetFocus();
  virtual void UpdateData();
  void UpdateRecord() { UpdateData(); }

  // After every event, SysEventHook when set.
  bool EventHook = false;
  // The link follows the session's focused data source.
  bool FollowFocusFlag = false;
  // The link shows the dataset's buffer row instead of its field row.
  bool BufferRow = false;
  // The state colour is always the searching colour.
  bool SearchingColorFlag = false;
  // The link holds the session's busy bracket and cursor hold until EndSessionFocus.
  bool SessionHold = false;

  TIB_DataLinkEvent BeforeAssignment, AfterAssignment, BeforeExecute, AfterExecute,
      OnPreparedChanged, OnPrepareSQL, OnReceiveFocus, OnModifyStateChanged, OnActiveChanged,
      OnStateChanged, OnLayoutChanged, OnOrderingItemChanged, OnOrderingLinkChanged,
      OnSearchingLinkChanged;
  TIB_DataLinkFieldEvent OnDataChange, OnUpdateData;

 protected:
  void SetModifyState(bool Value);
  // While the criteria lock count is positive the criteria setters only mark a change.
  int32_t CriteriaLockCount() const { return criteria_lock_; }
  bool CriteriaChanged() const { return criteria_changed_; }
  void LockCriteria() { ++criteria_lock_; }
  void UnlockCriteria() { --criteria_lock_; }

 private:
  struct Criteria {
    AnsiString data_name, display, where, search_text;
  };
  Criteria Current() const { return {data_name_, display_, where_, search_text_}; }
  void SetCriteria(const Criteria& c);
  // A criteria change made while the lock count was raised takes effect.
  void ApplyCriteriaChange();
  void ApplyRecalledCriteria();
  void SearchCriteriaEvent(intptr_t SubCode);

  TIB_DataSource* data_source_ = nullptr;
  bool modify_state_ = false;
  int32_t reentry_ = 0;
  bool updating_ = false;
  AnsiString data_name_, display_, where_, search_text_;
  Criteria kept_, last_;
  int32_t criteria_lock_ = 0;
  bool criteria_changed_ = false;
};

}  // namespace pelvar
