// A dataset's part in its transaction's DML cache: announcing the key of a posted
// change and handing a received change to its handler.
#include "dbclient/IB_Components_dmlcache.h"
#include "dbengine/IB_Components_dataset.h"

namespace pelvar {

void TIB_Dataset::AnnounceDMLCacheItem(TIB_DMLCacheItemType ItemType) {
  if (OnDMLCacheAnnounceItem) {
    OnDMLCacheAnnounceItem(this, ItemType);
  } else {
    SysAnnounceDMLCacheItem(ItemType);
  }
}

void TIB_Dataset::SysAnnounceDMLCacheItem(TIB_DMLCacheItemType ItemType) {
  TIB_Transaction* tr = IB_Transaction();
  if (tr == nullptr) return;
  TIB_Row* keys = KeyFields();
  AnsiString names;
  std::vector<Variant> values;
  for (int32_t i = 0; i < keys->ColumnCount(); ++i) {
    const AnsiString name = keys->GetColumn(i)->GetAliasName();
    names += i == 0 ? name : ";" + name;
    TIB_Column* f = nullptr;
    if (!Fields()->FindColumn(name, f) || f == nullptr) {
      values.emplace_back();
      continue;
    }
    values.push_back(ItemType == ditInsert ? f->GetAsVariant() : f->GetOldAsVariant());
  }
  Variant value;
  if (values.size() == 1) {
    value = values.front();
  } else if (!values.empty()) {
    value = VarArrayOf(values);
  }
  tr->AddDMLCacheItem(IB_Connection(), TransactionFace(), names, value, ItemType);
}

void TIB_Dataset::DoDMLCacheReceivedItem(const TIB_DMLCacheItem& Item) {
  if (OnDMLCacheReceivedItem) {
    OnDMLCacheReceivedItem(this, Item);
  } else {
    SysDMLCacheReceivedItem(Item);
  }
}

}  // namespace pelvar
