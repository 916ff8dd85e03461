// What the transaction tests share: a dataset stand-in that records what the
// transaction's ending asks of it, a recorder of the transaction's event codes and
// handlers, and wrappers around client-library entries that log or capture calls.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connection_calls.h"
#include "dbclient/ClientLibraryName.h"
#include "dbclient/IB_Components.h"
#include "platform/exceptions.h"

namespace pelvar::test {

// Logs handlers as their names and link events as "e<code>", in the order they come.
struct TransactionLog {
  std::vector<std::string> log;
  TIB_TransactionLink* link = nullptr;

  // Hooks every handler of tr and a link owned by owner.
  void Attach(TIB_Transaction* tr, TComponent* owner) {
    auto handler = [this](const char* name) {
      return [this, name](TIB_Transaction*) { log.push_back(name); };
    };
    tr->BeforeStart = handler("BeforeStart");
    tr->AfterStart = handler("AfterStart");
    tr->BeforeCommit = handler("BeforeCommit");
    tr->AfterCommit = handler("AfterCommit");
    tr->BeforeCommitRetaining = handler("BeforeCommitRetaining");
    tr->AfterCommitRetaining = handler("AfterCommitRetaining");
    tr->BeforeSavePoint = handler("BeforeSavePoint");
    tr->AfterSavePoint = handler("AfterSavePoint");
    tr->BeforeLosePoint = handler("BeforeLosePoint");
    tr->AfterLosePoint = handler("AfterLosePoint");
    tr->BeforeRollback = handler("BeforeRollback");
    tr->AfterRollback = handler("AfterRollback");
    tr->BeforeRollbackRetaining = handler("BeforeRollbackRetaining");
    tr->AfterRollbackRetaining = handler("AfterRollbackRetaining");
    tr->BeforeEnd = handler("BeforeEnd");
    tr->AfterEnd = handler("AfterEnd");
    link = new TIB_TransactionLink(owner);
    link->OnProcessEvent = [this](TIB_TransactionLink*, uint8_t e) {
      log.push_back("e" + std::to_string(static_cast<int>(e)));
    };
    link->SetIB_Transaction(tr);
    log.clear();
  }
};

// A dataset as the statement engine will make it, reduced to what the ending of its
// transaction reads and calls.
class FakeDataset : public TIB_Component, public IB_TransactionDataset {
 public:
  FakeDataset(TComponent* Owner, std::vector<std::string>& Log, const std::string& Name,
              TIB_Transaction* Tr, TIB_Connection* Conn)
      : TIB_Component(Owner), log_(Log), tr_(Tr), conn_(Conn) {
    SetName(Name);
    Tr->AddDataset(this);
  }
  ~FakeDataset() override {
    if (tr_ != nullptr) tr_->RemoveDataset(this);
  }

  void StartEdit(bool Insert = false) {
    editing = true;
    inserting = Insert;
    tr_->AdjustPostPendingCount(1);
  }
  void Open() { is_open = cursor_open = active = true; }

  bool editing = false, inserting = false, cached = false, buffered = false;
  bool cursor_open = false, is_open = false, active = false, unidirectional = false;
  bool read_only = false, row_locked = false, fail_post = false, leave_on_close = false;
  TIB_CommitAction commit_action = caClose;
  TIB_RefreshAction refresh_action = raOpen;
  uint8_t work_flags = 0;
  FakeDataset* master = nullptr;

  TIB_Component* DatasetComponent() override { return this; }
  TIB_Transaction* DatasetTransaction() override { return tr_; }
  TIB_Connection* DatasetConnection() override { return conn_; }
  bool IsEditing() override { return editing; }
  bool IsInserting() override { return editing && inserting; }
  bool CachedUpdates() override { return cached; }
  bool IsBuffered() override { return buffered; }
  TIB_CommitAction CommitAction() override { return commit_action; }
  TIB_RefreshAction RefreshAction() override { return refresh_action; }
  bool CursorIsOpen() override { return cursor_open; }
  bool GetIsOpen() override { return is_open; }
  bool GetActive() override { return active; }
  bool GetUnidirectional() override { return unidirectional; }
  bool GetReadOnly() override { return read_only; }
  uint8_t WorkFlags() override { return work_flags; }
  void SetWorkFlags(uint8_t Value) override { work_flags = Value; }
  bool RowLocked() override { return row_locked; }
  void ClearRowLock() override { row_locked = false; }
  IB_TransactionDataset* MasterDataset() override { return master; }
  void SysPost() override {
    Log("post");
    if (fail_post) throw Exception("post failed");
    EndEdit();
  }
  void SysCancel() override {
    Log("cancel");
    EndEdit();
  }
  void Close() override {
    Log("close");
    is_open = cursor_open = active = false;
    if (leave_on_close && tr_ != nullptr) {
      tr_->RemoveDataset(this);
      tr_ = nullptr;
    }
  }
  void Refresh() override { Log("refresh"); }
  void RefreshAll() override { Log("refreshall"); }
  void FetchAll() override {
    Log("fetchall");
    cursor_open = false;
  }
  void ApplyUpdates() override { Log("apply"); }
  void CommitUpdates() override { Log("commitupdates"); }
  void CancelUpdates() override { Log("cancelupdates"); }

 private:
  void Log(const char* what) { log_.push_back(Name() + "." + what); }
  void EndEdit() {
    if (editing) {
      editing = inserting = false;
      tr_->AdjustPostPendingCount(-1);
    }
  }
  std::vector<std::string>& log_;
  TIB_Transaction* tr_;
  TIB_Connection* conn_;
};

template <class Fn>
std::string ErrorOf(Fn fn) {
  try {
    fn();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "<none>";
}

// Wraps client-library entries of the call table for its lifetime: logs commits and
// starts, captures the parameter block of every connection at every start, counts
// detaches, and can make the rollback fail.
class ClientSpy {
 public:
  ClientSpy() {
    InstallClientLibraryNameProvider();
    EnsureClientAPI();
    saved_ = static_cast<TIB_ClientEntryPoints&>(ClientCallTable);
    ClientCallTable.isc_start_multiple = &Start;
    ClientCallTable.isc_commit_transaction = &Commit;
    ClientCallTable.isc_rollback_transaction = &Rollback;
    ClientCallTable.isc_detach_database = &Detach;
    log = nullptr;
    tpbs.clear();
    detach_calls = 0;
    rollback_failure = 0;
  }
  ~ClientSpy() {
    static_cast<TIB_ClientEntryPoints&>(ClientCallTable) = saved_;
    log = nullptr;
  }
  ClientSpy(const ClientSpy&) = delete;
  ClientSpy& operator=(const ClientSpy&) = delete;

  static const TIB_ClientEntryPoints& Real() { return saved_; }

  static inline std::vector<std::string>* log = nullptr;
  // One entry per start: the parameter block of each connection.
  static inline std::vector<std::vector<std::string>> tpbs;
  static inline int detach_calls = 0;
  // When not 0, the rollback fails with this code and leaves the transaction alone.
  static inline ISC_STATUS rollback_failure = 0;

 private:
  static ISC_STATUS Start(ISC_STATUS* s, isc_tr_handle* h, short n, void* v) {
    std::vector<std::string> blocks;
    const auto* teb = static_cast<const ISC_TEB*>(v);
    for (short i = 0; i < n; ++i) {
      blocks.emplace_back(teb[i].tpb_ptr, static_cast<size_t>(teb[i].tpb_len));
    }
    tpbs.push_back(blocks);
    if (log) log->push_back("isc_start_multiple");
    return saved_.isc_start_multiple(s, h, n, v);
  }
  static ISC_STATUS Commit(ISC_STATUS* s, isc_tr_handle* h) {
    if (log) log->push_back("isc_commit_transaction");
    return saved_.isc_commit_transaction(s, h);
  }
  static ISC_STATUS Rollback(ISC_STATUS* s, isc_tr_handle* h) {
    if (log) log->push_back("isc_rollback_transaction");
    if (rollback_failure != 0) {
      s[0] = isc_arg_gds;
      s[1] = rollback_failure;
      s[2] = isc_arg_end;
      return rollback_failure;
    }
    return saved_.isc_rollback_transaction(s, h);
  }
  static ISC_STATUS Detach(ISC_STATUS* s, isc_db_handle* h) {
    ++detach_calls;
    return saved_.isc_detach_database(s, h);
  }
  static inline TIB_ClientEntryPoints saved_{};
};

inline void PrepareConnection(TIB_Connection* c, const std::string& connect) {
  c->SetDatabaseName(CZ(connect));
  c->SetUsername(kSysdbaUser);
  c->SetPassword(kSysdbaPassword);
  c->SetCharSet("WIN1250");
  c->SetSQLDialect(3);
}

// What another attachment sees: the first column of the first row.
inline std::string Seen(const FbTestDb& fb, const std::string& sql) {
  TComponent form(nullptr);
  auto* c = new TIB_Connection(&form);
  PrepareConnection(c, fb.ConnectString());
  c->Open();
  const std::string r = QueryOne(*c, sql);
  c->Close();
  return r;
}

inline void Exec(TIB_Transaction& tr, TIB_Connection& c, const std::string& sql) {
  ExecuteImmediate(*c.IB_Session(), *c.GetDbHandlePtr(), *tr.GetTrHandlePtr(), sql);
}

// A form with a session and a database component whose default transaction logs.
struct DbRig {
  TransactionLog rec;  // first: logs while the form goes
  TComponent form{nullptr};
  TIB_Session* session = new TIB_Session(&form);
  TIB_Database* db = new TIB_Database(&form);

  explicit DbRig(const std::string& connect) {
    InstallClientLibraryNameProvider();
    PrepareConnection(db, connect);
    db->SetName("dbMain");
    rec.Attach(db->DefaultTransaction(), &form);
  }
  TIB_Transaction& tr() { return *db->DefaultTransaction(); }
  std::vector<std::string>& log() { return rec.log; }
};

// The parameter block as readable bytes: "3 9 15 17 7".
inline std::string Bytes(const std::string& Block) {
  std::string r;
  for (unsigned char c : Block) {
    if (!r.empty()) r += ' ';
    r += std::to_string(static_cast<int>(c));
  }
  return r;
}

}  // namespace pelvar::test
