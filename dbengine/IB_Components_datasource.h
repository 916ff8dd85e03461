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

  TIB_Dataset* GetDataset() const;
  bool GetPrepared() const;
  bool GetActive() const;
  TIB_DatasetState GetState() const;
  bool GetEditing() const;
  bool GetHasRow() const;
  // While searching: whether searching is prevented; else the source's answer, then
  // whether the dataset prevents what its state is doing.
  virtual bool GetReadOnly() const;
  // Whether the consumer may modify now: editing or searching and not read-only.
  bool ModifyState() const { return modify_state_; }
  // The link's source is switched off and its dataset is not unidirectional.
  bool GetSourceDisabled() const;

  virtual void SysStateChanged();
  virtual void SysRowDataChange(TIB_Column* Field);
  virtual void SysUpdateData(TIB_Column* Field);
  virtual void SysRefreshAll();
  virtual void SysReset() {}
  virtual void ProcessEvent(uint8_t Code, intptr_t Argument);
  virtual void SysPrepareSQL() { if (OnPrepareSQL) OnPrepareSQL(this, data_source_); }
  virtual void FocusColumn(TIB_Column* /*Column*/) {}
  virtual void SysEventHook(uint8_t /*Code*/, intptr_t /*Argument*/) {}
  virtual void SysActiveHook() {}
  virtual void SysModifyStateHook() {}
  virtual void SysBeforePost() {}

  virtual void Insert();
  // False when read-only; else the source's Modify.
  virtual bool Modify();
  virtual void RefreshData();
  virtual void UpdateData();
  void UpdateRecord() { UpdateData(); }

  // After every event, SysEventHook when set.
  bool EventHook = false;

  TIB_DataLinkEvent BeforeAssignment, AfterAssignment, BeforeExecute, AfterExecute,
      OnPreparedChanged, OnPrepareSQL, OnModifyStateChanged, OnActiveChanged, OnStateChanged,
      OnLayoutChanged, OnOrderingItemChanged, OnOrderingLinkChanged, OnSearchingLinkChanged;
  TIB_DataLinkFieldEvent OnDataChange, OnUpdateData;

 protected:
  void SetModifyState(bool Value);

 private:
  TIB_DataSource* data_source_ = nullptr;
  bool modify_state_ = false;
  int32_t reentry_ = 0;
  bool updating_ = false;
};

}  // namespace pelvar
