// A dataset's part in its transaction's DML cache (announcing the key of a posted change
// and handing a received change to its handler), and the server's column defaults for
// its new rows.
#include "dbclient/IB_Components_dmlcache.h"
#include "dbclient/IB_SchemaCache.h"
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

void TIB_Dataset::ApplyServerDefaults(bool ForDesign) {
  TIB_Connection* conn = IB_Connection();
  if (conn == nullptr || !conn->GetConnected()) return;
  TIB_StringList* defaults = conn->SchemaCache()->Defaults();
  const bool all = ForDesign || ComponentState().Contains(csDesigning);
  TIB_Row* row = Fields();
  for (int32_t i = 0; i < row->ColumnCount(); ++i) {
    TIB_Column* c = row->GetColumn(i);
    if ((!all && !c->GetIsNull()) || !c->GetHasServerDefault()) continue;
    const AnsiString name = c->GetRelName() + "." + c->GetFieldName();
    const int32_t at = defaults->IndexOfLinkName(name);
    if (at < 0) continue;
    const AnsiString value = defaults->GetItemValue(at);
    if (ForDesign) {
      default_values_->SetValues(name, value);
      continue;
    }
    if (value == "NULL") {
      c->SetIsNull(true);
      continue;
    }
    // A default the client cannot write as a value (an expression such as
    // CURRENT_TIMESTAMP, or none that the schema could tell) stays with the server:
    // the column stays null and the INSERT leaves it out.
    if (value.empty()) continue;
    try {
      c->SetAsString(value);
    } catch (const Exception&) {
      c->SetIsNull(true);
    }
  }
}

}  // namespace pelvar
