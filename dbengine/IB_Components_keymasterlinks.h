// The two data links every dataset owns: the master data link, through which a detail
// hears its master's row changes, and the key data link, through which a look-up hears
// its key source. They hold references to the owning dataset, never ownership.
#pragma once

#include <cstdint>

#include "dbengine/IB_Components_datasource.h"

namespace pelvar {

class TIB_KeyDataLink : public TIB_DataLink {
 public:
  explicit TIB_KeyDataLink(TIB_Dataset* Owner);
  TIB_Dataset* OwnerDataset() const { return owner_; }
  // "KLNK." + the key dataset's owner's name + "." + its name (without an owner:
  // "KLNK." + its name); empty without a key dataset.
  AnsiString GetLinkIdentifier() const override;
  void ProcessEvent(uint8_t Code, intptr_t Argument) override;
  void SysStateChanged() override;
  void SysRowDataChange(TIB_Column* Field) override;
  void SysBeforePost() override;
  // False unless the owner is active and every key-value column of the key dataset is
  // valid and not required; else the data source's answer.
  bool Modify() override;
  // Stores the text; an active look-up moves to the row the text is the bookmark of
  // while the key dataset searches, and otherwise makes the key dataset build its SQL
  // again.
  void SetSearchText(const AnsiString& Text) override;
  // While the key dataset searches, the look-up's current row becomes the key link's
  // criteria: its bookmark as the search text and the key columns' values as the WHERE
  // text; an inactive look-up clears them.
  void SyncSearchCriteria();
  // The key dataset's criteria go when the link leaves it or it is unprepared.
  void DoBeforeAssignment() override;
  void DoPreparedChanged() override;

 private:
  bool Quiet() const;
  // The look-up moves to the row of the search text (opened first when it is not active).
  void FollowSearchText();
  TIB_Dataset* owner_;
  bool syncing_ = false;
};

class TIB_MasterDataLink : public TIB_DataLink {
 public:
  explicit TIB_MasterDataLink(TIB_Dataset* Owner);
  TIB_Dataset* OwnerDataset() const { return owner_; }
  void ProcessEvent(uint8_t Code, intptr_t Argument) override;
  void SysStateChanged() override;
  void SysRowDataChange(TIB_Column* Field) override;
  // The master is about to post (or to revert a cached change): the detail posts its
  // own change first; a master row being deleted takes the detail's cached changes
  // for it along.
  void SysBeforePost() override;
  // While the master builds its SQL: a detail that searches with its master and holds
  // criteria adds "EXISTS ( SELECT * FROM <detail tables> WHERE <links> AND <criteria> )"
  // to the master's WhereCriteriaLast.
  void SysPrepareSQL() override;

 private:
  bool Quiet() const;
  TIB_Dataset* owner_;
  int32_t nesting_ = 0;
};

}  // namespace pelvar
