// The connection's statement-handle cache and the process-wide pool of attachments.
//
// Allocating and dropping a statement handle cost a server round trip each, so a
// connection keeps the handles its statements give back and hands them out again, last
// in first out. The block grows and shrinks in steps of 10 entries. A connection given
// up with DisconnectToPool leaves its attachment in the pool, where a later connect with
// the same database, user, password and role takes it over.
#include <utility>

#include "dbclient/IB_Components.h"
#include "dbclient/IB_SchemaCache.h"
#include "dbclient/IB_Utils.h"

namespace pelvar {

namespace {

constexpr int32_t kHandleCacheStep = 10;

bool IsRealHandle(isc_stmt_handle Handle) { return Handle != 0 && Handle != PlaceholderHandle; }

}  // namespace

// --- Statement-handle cache -------------------------------------------------------------------

void TIB_Connection::ResizeHandleCache(int32_t NewCapacity) {
  if (NewCapacity == handle_capacity_) {
    return;
  }
  void* block = handle_cache_;
  ReallocBuffer(block, handle_capacity_ * static_cast<int32_t>(sizeof(isc_stmt_handle)),
                NewCapacity * static_cast<int32_t>(sizeof(isc_stmt_handle)));
  handle_cache_ = static_cast<isc_stmt_handle*>(block);
  handle_capacity_ = NewCapacity;
}

isc_stmt_handle TIB_Connection::CachedStatementHandle(int32_t Index) const {
  return Index >= 0 && Index < handle_fill_ ? handle_cache_[Index] : 0;
}

void TIB_Connection::AllocateStatementHandle(isc_stmt_handle& Handle) {
  if (IsRealHandle(Handle)) {
    return;
  }
  Handle = 0;
  int32_t capacity = handle_capacity_;
  if (handle_fill_ > 0) {
    --handle_fill_;
    Handle = handle_cache_[handle_fill_];
    handle_cache_[handle_fill_] = 0;
    if (handle_fill_ == 0) {
      capacity = 0;
    } else if (handle_fill_ + kHandleCacheStep < capacity) {
      capacity -= kHandleCacheStep;
    }
  } else {
    TIB_Session* session = GetIB_Session();
    session->API_Call(this, ClientCallTable.isc_dsql_allocate_statement, &db_handle_, &Handle);
    capacity = 0;
  }
  ResizeHandleCache(capacity);
}

void TIB_Connection::ReleaseStatementHandle(isc_stmt_handle& Handle) {
  if (!IsRealHandle(Handle)) {
    Handle = 0;
    return;
  }
  if (cache_statement_handles_) {
    // The block grows as soon as the new fill count reaches its capacity, so it always
    // keeps a free entry.
    ++handle_fill_;
    if (handle_fill_ >= handle_capacity_) {
      ResizeHandleCache(handle_capacity_ + kHandleCacheStep);
    }
    handle_cache_[handle_fill_ - 1] = Handle;
  } else if (ClientCallTable.isc_dsql_free_statement != nullptr) {
    TIB_Session* session = GetIB_Session();
    session->SetLastResult(CallClient(ClientCallTable.isc_dsql_free_statement,
                                      session->StatusVector(), &Handle, DSQL_drop));
  }
  Handle = 0;
}

void TIB_Connection::TrimStatementHandles(int32_t Keep) {
  if (Keep < 0) {
    Keep = 0;
  }
  // With Keep 0 the schema cache first gives up its look-up cursors and its read
  // transaction.
  if (Keep == 0 && schema_cache_ != nullptr) schema_cache_->FreeCursors();
  ISC_STATUS_ARRAY status{};
  while (handle_fill_ > Keep) {
    --handle_fill_;
    isc_stmt_handle handle = handle_cache_[handle_fill_];
    handle_cache_[handle_fill_] = 0;
    if (ClientCallTable.isc_dsql_free_statement != nullptr) {
      // A refused drop is passed over; the next handle is still dropped.
      CallClient(ClientCallTable.isc_dsql_free_statement, status, &handle, DSQL_drop);
    }
  }
  if (handle_fill_ < handle_capacity_) {
    ResizeHandleCache(handle_fill_);
  }
}

// --- Connection pool --------------------------------------------------------------------------

TIB_ConnectionPool* ConnectionPool = nullptr;

namespace {

// Detaches what the pool still holds when the program ends.
struct PoolFinaliser {
  ~PoolFinaliser() { FreeConnectionPool(); }
} pool_finaliser;

}  // namespace

TIB_ConnectionPoolItem::TIB_ConnectionPoolItem(isc_db_handle Handle, AnsiString Database,
                                               AnsiString User, AnsiString Password,
                                               AnsiString Role)
    : Handle(Handle),
      Database(std::move(Database)),
      User(std::move(User)),
      Password(std::move(Password)),
      Role(std::move(Role)) {}

TIB_ConnectionPoolItem::~TIB_ConnectionPoolItem() {
  if (Handle != 0 && ClientCallTable.isc_detach_database != nullptr) {
    ISC_STATUS_ARRAY status{};
    CallClient(ClientCallTable.isc_detach_database, status, &Handle);
  }
}

TIB_ConnectionPool::TIB_ConnectionPool() {
  UnitRefAcquire();
  InitializeCriticalSection(lock_);
}

TIB_ConnectionPool::~TIB_ConnectionPool() {
  try {
    Clear();
  } catch (...) {
    // Going anyway.
  }
  UnitRefRelease();
  DeleteCriticalSection(lock_);
}

void TIB_ConnectionPool::Clear() {
  TCriticalSectionGuard guard(lock_);
  while (!items_.empty()) {
    std::unique_ptr<TIB_ConnectionPoolItem> item = std::move(items_.front());
    items_.erase(items_.begin());
  }
}

void TIB_ConnectionPool::Append(std::unique_ptr<TIB_ConnectionPoolItem> Item) {
  TCriticalSectionGuard guard(lock_);
  items_.push_back(std::move(Item));
}

int32_t TIB_ConnectionPool::Count() {
  TCriticalSectionGuard guard(lock_);
  return static_cast<int32_t>(items_.size());
}

bool TIB_ConnectionPool::TakeOver(const AnsiString& Database, const AnsiString& User,
                                  const AnsiString& Password, const AnsiString& Role,
                                  const std::function<bool(isc_db_handle)>& Take) {
  TCriticalSectionGuard guard(lock_);
  size_t i = 0;
  while (i < items_.size()) {
    TIB_ConnectionPoolItem& item = *items_[i];
    if (item.Database != Database || item.User != User || item.Password != Password ||
        item.Role != Role) {
      ++i;
      continue;
    }
    const isc_db_handle handle = item.Handle;
    // Taken out without a detach, whether the attachment is kept or abandoned.
    item.Handle = 0;
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
    if (Take(handle)) {
      return true;
    }
  }
  return false;
}

void FreeConnectionPool() {
  if (ConnectionPool != nullptr) {
    TIB_ConnectionPool* pool = ConnectionPool;
    ConnectionPool = nullptr;
    pool->Clear();
    delete pool;
  }
}

void TIB_Connection::DisconnectToPool() {
  if (ConnectionPool == nullptr) {
    ConnectionPool = new TIB_ConnectionPool();
  }
  if (!GetConnected() || pooled_) {
    CloseConnection();
    return;
  }
  auto item = std::make_unique<TIB_ConnectionPoolItem>(db_handle_, attach_database_, attach_user_,
                                                       attach_password_, attach_role_);
  const isc_db_handle handle = db_handle_;
  pooled_ = true;
  try {
    CloseConnection();
  } catch (...) {
    if (db_handle_ == handle) {
      // The disconnect stopped before it gave up the attachment: the connection keeps
      // using it, so the item must not detach it, and the next disconnect detaches.
      item->Handle = 0;
      pooled_ = false;
    }
    throw;
  }
  if (db_handle_ == handle) {
    // Still attached (a handler reconnected or the disconnect was declined): nothing
    // is handed over.
    item->Handle = 0;
    pooled_ = false;
    return;
  }
  ConnectionPool->Append(std::move(item));
}

bool TIB_Connection::TakePooledAttachment() {
  if (ConnectionPool == nullptr) {
    return false;
  }
  return ConnectionPool->TakeOver(attach_database_, attach_user_, attach_password_, attach_role_,
                                  [this](isc_db_handle Handle) {
                                    db_handle_ = Handle;
                                    if (AttachmentAnswers()) {
                                      return true;
                                    }
                                    // Dead: abandoned without a detach.
                                    db_handle_ = 0;
                                    return false;
                                  });
}

}  // namespace pelvar
