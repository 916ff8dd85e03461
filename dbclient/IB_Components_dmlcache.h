// The transaction's DML cache: a posted insert, edit or delete is announced (which kind,
// which key) to the other datasets of the transaction at once and kept; when the
// transaction commits, the kept changes go to the datasets of the other read-committed
// transactions on its connections, which see them only from then on; a rollback drops
// them.
//
// Part of the IB_Components unit; dbclient/IB_Components.h declares the transaction.
#pragma once

#include <cstdint>

#include "dbclient/IB_Components.h"
#include "platform/classes.h"
#include "platform/variant.h"

namespace pelvar {

// The DMLCacheFlags bits of a dataset: what it announces and what it receives.
enum : uint8_t {
  dcfAnnounceEdit = 1,
  dcfAnnounceInsert = 2,
  dcfAnnounceDelete = 4,
  dcfReceiveEdit = 8,
  dcfReceiveInsert = 16,
  dcfReceiveDelete = 32,
};

class TIB_DMLCacheItem : public TCollectionItem {
 public:
  explicit TIB_DMLCacheItem(TCollection* Collection) : TCollectionItem(Collection) {}
  TIB_Connection* Connection = nullptr;
  // The key column names joined by ";".
  AnsiString KeyFieldNames;
  // The key value, or an array of values for a composite key.
  Variant KeyFieldValues;
  TIB_DMLCacheItemType DMLCacheItemType = ditEdit;
};

class TIB_TransactionDMLCache : public TCollection {
 public:
  explicit TIB_TransactionDMLCache(TIB_Transaction* ATransaction);
  TIB_Transaction* Transaction() const { return transaction_; }

  TIB_DMLCacheItem* Add() { return static_cast<TIB_DMLCacheItem*>(TCollection::Add()); }
  TIB_DMLCacheItem* GetItem(int32_t Index) const {
    return static_cast<TIB_DMLCacheItem*>(Items(Index));
  }

  // With ADataset: delivered at once to the other active datasets of the transaction
  // and kept until the transaction ends. Without one: delivered to the active datasets
  // of the connection's read-committed transactions and dropped.
  void AddDMLCacheItem(TIB_Connection* AConnection, IB_TransactionDataset* ADataset,
                       const AnsiString& AKeyNames, const Variant& AKeyValues,
                       TIB_DMLCacheItemType AType);
  // Empties the cache; with Announce each item goes to the other read-committed
  // transactions' datasets first (after a commit), otherwise it is just dropped.
  void Flush(bool Announce);
  void AnnounceCommittedItem(TIB_DMLCacheItem* Item);
  // The dataset's handling when it takes part in items of this kind.
  static void DeliverDMLCacheItem(const TIB_DMLCacheItem& Item, IB_TransactionDataset* ADataset);

 private:
  // Every active dataset of Conn's read-committed transactions other than Skip; an
  // exception of a receiver is shown and ends the delivery.
  void AnnounceToConnectionDatasets(const TIB_DMLCacheItem& Item, TIB_Transaction* Skip);
  TIB_Transaction* transaction_;
};

}  // namespace pelvar
