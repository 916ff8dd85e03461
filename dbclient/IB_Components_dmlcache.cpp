// The transaction's DML cache.
#include "dbclient/IB_Components_dmlcache.h"

#include <memory>
#include <vector>

#include "platform/application.h"

namespace pelvar {

TIB_TransactionDMLCache::TIB_TransactionDMLCache(TIB_Transaction* ATransaction)
    : TCollection(TCollection::ItemClass<TIB_DMLCacheItem>()), transaction_(ATransaction) {}

void TIB_TransactionDMLCache::DeliverDMLCacheItem(const TIB_DMLCacheItem& Item,
                                                  IB_TransactionDataset* ADataset) {
  if (ADataset == nullptr || ADataset->ServesAnotherDataset()) return;
  const uint8_t flags = ADataset->DMLCacheFlags();
  if (flags == 0) return;
  uint8_t wanted = 0;
  switch (Item.DMLCacheItemType) {
    case ditEdit: wanted = dcfReceiveEdit; break;
    case ditInsert: wanted = dcfReceiveInsert; break;
    case ditDelete: wanted = dcfReceiveDelete; break;
  }
  if (wanted == 0 || (flags & wanted) != 0) ADataset->DoDMLCacheReceivedItem(Item);
}

void TIB_TransactionDMLCache::AddDMLCacheItem(TIB_Connection* AConnection,
                                              IB_TransactionDataset* ADataset,
                                              const AnsiString& AKeyNames,
                                              const Variant& AKeyValues,
                                              TIB_DMLCacheItemType AType) {
  TIB_DMLCacheItem* item = Add();
  item->Connection = ADataset != nullptr ? ADataset->DatasetConnection() : AConnection;
  item->KeyFieldNames = AKeyNames;
  item->KeyFieldValues = AKeyValues;
  item->DMLCacheItemType = AType;
  if (ADataset != nullptr) {
    if (transaction_ == nullptr) return;
    const int32_t id = item->ID();
    for (int32_t i = 0; i < transaction_->Get_DatasetCount(); ++i) {
      IB_TransactionDataset* d = transaction_->GetDataset(i);
      if (d == ADataset || !d->GetActive()) continue;
      DeliverDMLCacheItem(*item, d);
      // A receiver may have ended the transaction (and with it this cache's items).
      if (FindItemID(id) == nullptr) return;
    }
    return;
  }
  std::unique_ptr<TIB_DMLCacheItem> owned(item);
  owned->SetCollection(nullptr);
  AnnounceToConnectionDatasets(*owned, nullptr);
}

void TIB_TransactionDMLCache::AnnounceToConnectionDatasets(const TIB_DMLCacheItem& Item,
                                                           TIB_Transaction* Skip) {
  TIB_Connection* conn = Item.Connection;
  if (conn == nullptr) return;
  std::vector<IB_TransactionDataset*> receivers;
  for (int32_t t = 0; t < conn->TransactionCount(); ++t) {
    TIB_Transaction* tr = conn->GetTransaction(t);
    if (tr == nullptr || tr == Skip || tr->Isolation() != tiCommitted) continue;
    for (int32_t i = 0; i < tr->Get_DatasetCount(); ++i) {
      IB_TransactionDataset* d = tr->GetDataset(i);
      if (d->DatasetConnection() == conn && d->GetActive()) receivers.push_back(d);
    }
  }
  for (IB_TransactionDataset* d : receivers) {
    try {
      DeliverDMLCacheItem(Item, d);
    } catch (const Exception&) {
      if (Application() != nullptr) Application()->HandleException(d->DatasetComponent());
      return;
    }
  }
}

void TIB_TransactionDMLCache::AnnounceCommittedItem(TIB_DMLCacheItem* Item) {
  std::unique_ptr<TIB_DMLCacheItem> owned(Item);
  owned->SetCollection(nullptr);
  if (owned->Connection == nullptr || transaction_ == nullptr ||
      transaction_->IndexOfConnection(owned->Connection) < 0) {
    return;
  }
  AnnounceToConnectionDatasets(*owned, transaction_);
}

void TIB_TransactionDMLCache::Flush(bool Announce) {
  while (Count() > 0) {
    auto* item = GetItem(0);
    if (Announce) {
      AnnounceCommittedItem(item);
    } else {
      delete item;
    }
  }
}

}  // namespace pelvar
