// The dataset's side of the update SQL: what the generated and custom DML asks of the
// dataset it serves.
#pragma once

#include "dbengine/IB_Components_dataset.h"
#include "dbengine/IB_Components_updatesql.h"

namespace pelvar {

class TIB_Dataset::UpdateSide : public TIB_UpdateSQLTarget {
 public:
  explicit UpdateSide(TIB_Dataset& Dataset) : d_(Dataset) {}
  TIB_Statement* UpdateStatement() override { return &d_; }
  bool CachedUpdatesMode() const override { return d_.CachedUpdates; }
  // Changes go through the open cursor's position while it is declared.
  AnsiString UpdateCursorName() override {
    return d_.cursor_declared_ ? d_.cursor_name_ : AnsiString();
  }
  void SetPostSucceeded() override { d_.post_succeeded_ = true; }
  uint8_t DMLCacheFlags() const override { return d_.dml_cache_flags_; }
  void AnnounceDMLCacheItem(TIB_UpdateKind Kind) override {
    d_.AnnounceDMLCacheItem(Kind == ukInsert ? ditInsert : Kind == ukDelete ? ditDelete : ditEdit);
  }

 private:
  TIB_Dataset& d_;
};

}  // namespace pelvar
