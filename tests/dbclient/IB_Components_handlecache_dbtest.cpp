// The connection's statement-handle cache and the connection pool on the embedded engine:
// handles are reused last in first out in blocks of 10, dropped when caching is off or
// the connection disconnects, and whole attachments are handed over through the pool.
#include <gtest/gtest.h>

#include "connection_calls.h"

namespace pelvar::test {
namespace {

constexpr ISC_STATUS kBadStmtHandle = 335544485L;

// Counts (and can refuse) the handle and attach calls of the call table for its lifetime.
class HandleCallSpy {
 public:
  HandleCallSpy() {
    InstallClientLibraryNameProvider();
    EnsureClientAPI();
    saved_ = static_cast<TIB_ClientEntryPoints&>(ClientCallTable);
    ClientCallTable.isc_dsql_allocate_statement = &Allocate;
    ClientCallTable.isc_dsql_free_statement = &Free;
    ClientCallTable.isc_attach_database = &Attach;
    ClientCallTable.isc_detach_database = &Detach;
    ClientCallTable.isc_database_info = &Info;
    allocates = frees = attaches = detaches = 0;
    fail_allocate = false;
    fail_frees = 0;
    fail_infos = 0;
  }
  ~HandleCallSpy() { static_cast<TIB_ClientEntryPoints&>(ClientCallTable) = saved_; }
  HandleCallSpy(const HandleCallSpy&) = delete;
  HandleCallSpy& operator=(const HandleCallSpy&) = delete;

  static inline int allocates = 0, frees = 0, attaches = 0, detaches = 0;
  static inline bool fail_allocate = false;
  // The next so many drops and information calls fail.
  static inline int fail_frees = 0, fail_infos = 0;

 private:
  static void Fail(ISC_STATUS* s) {
    s[0] = isc_arg_gds;
    s[1] = kBadStmtHandle;
    s[2] = isc_arg_end;
  }
  static ISC_STATUS Allocate(ISC_STATUS* s, isc_db_handle* db, isc_stmt_handle* h) {
    ++allocates;
    if (fail_allocate) {
      Fail(s);
      return s[1];
    }
    return saved_.isc_dsql_allocate_statement(s, db, h);
  }
  static ISC_STATUS Free(ISC_STATUS* s, isc_stmt_handle* h, unsigned short option) {
    if (option == DSQL_drop) {
      ++frees;
      if (fail_frees > 0) {
        --fail_frees;
        Fail(s);
        return s[1];
      }
    }
    return saved_.isc_dsql_free_statement(s, h, option);
  }
  static ISC_STATUS Attach(ISC_STATUS* s, short l, const ISC_SCHAR* n, isc_db_handle* h, short dl,
                           const ISC_SCHAR* d) {
    ++attaches;
    return saved_.isc_attach_database(s, l, n, h, dl, d);
  }
  static ISC_STATUS Detach(ISC_STATUS* s, isc_db_handle* h) {
    ++detaches;
    return saved_.isc_detach_database(s, h);
  }
  static ISC_STATUS Info(ISC_STATUS* s, isc_db_handle* h, short il, const ISC_SCHAR* i, short bl,
                         ISC_SCHAR* b) {
    if (fail_infos > 0) {
      --fail_infos;
      Fail(s);
      return s[1];
    }
    return saved_.isc_database_info(s, h, il, i, bl, b);
  }
  static inline TIB_ClientEntryPoints saved_{};
};

class HandleCacheDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { fb_ = FbTestDb::Create(FbTestDb::Mode::Embedded).release(); }
  static void TearDownTestSuite() {
    FreeConnectionPool();
    delete fb_;
    fb_ = nullptr;
  }
  void TearDown() override { FreeConnectionPool(); }

  static FbTestDb* fb_;
};
FbTestDb* HandleCacheDb::fb_ = nullptr;

// The handle works on the attachment: a prepare through it succeeds.
bool HandleWorks(TIB_Connection& conn, isc_stmt_handle& h) {
  TIB_Session& session = *conn.IB_Session();
  isc_tr_handle tr = StartTransaction(session, *conn.GetDbHandlePtr());
  const ISC_STATUS r =
      CallClient(ClientCallTable.isc_dsql_prepare, session.StatusVector(), &tr, &h,
                 static_cast<unsigned short>(0), "select 1 from rdb$database",
                 static_cast<unsigned short>(3), static_cast<XSQLDA*>(nullptr));
  CallClient(ClientCallTable.isc_commit_transaction, session.StatusVector(), &tr);
  return r == 0;
}

TEST_F(HandleCacheDb, HandlesComeBackLastInFirstOutInBlocksOfTen) {
  HandleCallSpy spy;
  ConnectionRig rig(fb_->ConnectString());
  TIB_Connection& conn = *rig.conn;
  conn.Open();
  HandleCallSpy::allocates = 0;  // (the connect's own probe query allocates one)

  std::vector<isc_stmt_handle> handles(21, 0);
  for (auto& h : handles) conn.AllocateStatementHandle(h);
  EXPECT_EQ(HandleCallSpy::allocates, 21);
  // Release them one by one: the block grows when the fill count reaches it.
  const std::vector<std::pair<int, int>> growth = {{1, 10}, {9, 10}, {10, 20}, {19, 20},
                                                   {20, 30}, {21, 30}};
  size_t next = 0;
  for (int i = 0; i < 21; ++i) {
    isc_stmt_handle copy = handles[static_cast<size_t>(i)];
    conn.ReleaseStatementHandle(copy);
    EXPECT_EQ(copy, 0u);
    if (next < growth.size() && growth[next].first == i + 1) {
      EXPECT_EQ(conn.CachedStatementHandleCapacity(), growth[next].second) << "fill " << i + 1;
      ++next;
    }
  }
  EXPECT_EQ(conn.CachedStatementHandleCount(), 21);

  // Taken back in reverse order without the server; the block shrinks at 19 and 9.
  const std::vector<std::pair<int, int>> shrink = {{20, 30}, {19, 20}, {10, 20},
                                                   {9, 10},  {1, 10},  {0, 0}};
  next = 0;
  for (int i = 20; i >= 0; --i) {
    isc_stmt_handle h = 0;
    conn.AllocateStatementHandle(h);
    EXPECT_EQ(h, handles[static_cast<size_t>(i)]);
    if (next < shrink.size() && shrink[next].first == i) {
      EXPECT_EQ(conn.CachedStatementHandleCapacity(), shrink[next].second) << "fill " << i;
      ++next;
    }
  }
  EXPECT_EQ(HandleCallSpy::allocates, 21);
  EXPECT_TRUE(HandleWorks(conn, handles[3]));

  // A handle held is left alone; the placeholder is replaced by a real handle.
  isc_stmt_handle held = handles[0];
  conn.AllocateStatementHandle(held);
  EXPECT_EQ(held, handles[0]);
  isc_stmt_handle placeholder = PlaceholderHandle;
  conn.AllocateStatementHandle(placeholder);
  EXPECT_NE(placeholder, PlaceholderHandle);
  EXPECT_NE(placeholder, 0u);
  EXPECT_EQ(HandleCallSpy::allocates, 22);
  EXPECT_TRUE(HandleWorks(conn, placeholder));
  handles.push_back(placeholder);

  // The placeholder given back is only cleared.
  placeholder = PlaceholderHandle;
  conn.ReleaseStatementHandle(placeholder);
  EXPECT_EQ(placeholder, 0u);
  EXPECT_EQ(conn.CachedStatementHandleCount(), 0);

  for (auto& h : handles) conn.ReleaseStatementHandle(h);
  EXPECT_EQ(conn.CachedStatementHandleCount(), 22);
  // The disconnect drops every cached handle before the detach.
  HandleCallSpy::frees = 0;
  conn.Close();
  EXPECT_EQ(HandleCallSpy::frees, 22);
  EXPECT_EQ(conn.CachedStatementHandleCount(), 0);
  EXPECT_EQ(conn.CachedStatementHandleCapacity(), 0);
}

TEST_F(HandleCacheDb, WithoutCachingHandlesAreDroppedAtOnce) {
  HandleCallSpy spy;
  ConnectionRig rig(fb_->ConnectString());
  TIB_Connection& conn = *rig.conn;
  conn.Open();
  isc_stmt_handle a = 0, b = 0, c = 0;
  conn.AllocateStatementHandle(a);
  conn.AllocateStatementHandle(b);
  conn.AllocateStatementHandle(c);
  conn.ReleaseStatementHandle(a);
  conn.ReleaseStatementHandle(b);
  ASSERT_EQ(conn.CachedStatementHandleCount(), 2);

  // Switching caching off drops what is cached; a refused drop does not stop the rest.
  HandleCallSpy::frees = 0;
  HandleCallSpy::fail_frees = 1;
  conn.SetCacheStatementHandles(false);
  EXPECT_EQ(HandleCallSpy::frees, 2);
  EXPECT_EQ(conn.CachedStatementHandleCount(), 0);
  EXPECT_EQ(conn.CachedStatementHandleCapacity(), 0);

  // A release now drops the handle on the server; a refusal is only recorded.
  HandleCallSpy::fail_frees = 1;
  conn.ReleaseStatementHandle(c);
  EXPECT_EQ(c, 0u);
  EXPECT_EQ(HandleCallSpy::frees, 3);
  EXPECT_EQ(conn.IB_Session()->LastResult(), kBadStmtHandle);
  EXPECT_EQ(conn.CachedStatementHandleCount(), 0);

  // A refused allocation raises and leaves the cache as it was.
  conn.SetCacheStatementHandles(true);
  isc_stmt_handle d = 0;
  conn.AllocateStatementHandle(d);
  conn.ReleaseStatementHandle(d);
  HandleCallSpy::fail_allocate = true;
  isc_stmt_handle e = 0, f = 0;
  conn.AllocateStatementHandle(e);  // from the cache: no server call
  EXPECT_NE(e, 0u);
  EXPECT_THROW(conn.AllocateStatementHandle(f), EIB_ISCError);
  EXPECT_EQ(f, 0u);
  EXPECT_EQ(conn.CachedStatementHandleCount(), 0);
  HandleCallSpy::fail_allocate = false;
  conn.ReleaseStatementHandle(e);
  conn.TrimStatementHandles(-5);
  EXPECT_EQ(conn.CachedStatementHandleCount(), 0);
}

TEST_F(HandleCacheDb, PooledAttachmentsAreTakenOverFirstInFirstOut) {
  HandleCallSpy spy;
  ConnectionRig one(fb_->ConnectString());
  ConnectionRig two(fb_->ConnectString());
  one.conn->Open();
  two.conn->Open();
  const isc_db_handle first = one.conn->DbHandle();
  const isc_db_handle second = two.conn->DbHandle();
  HandleCallSpy::attaches = HandleCallSpy::detaches = 0;

  // Given up with every disconnect event, but not detached.
  one.log.clear();
  one.conn->DisconnectToPool();
  two.conn->DisconnectToPool();
  EXPECT_EQ(one.log, kDisconnectLog);
  EXPECT_FALSE(one.conn->GetConnected());
  EXPECT_FALSE(one.conn->Pooled());
  EXPECT_EQ(HandleCallSpy::detaches, 0);
  ASSERT_NE(ConnectionPool, nullptr);
  EXPECT_EQ(ConnectionPool->Count(), 2);

  // Other credentials (the user name compares exactly) attach anew.
  ConnectionRig other(fb_->ConnectString());
  other.conn->SetUsername("sysdba");
  other.conn->Open();
  EXPECT_EQ(HandleCallSpy::attaches, 1);
  EXPECT_EQ(ConnectionPool->Count(), 2);
  other.conn->Close();

  // The same strings take the pooled attachments over in the order they came.
  ConnectionRig three(fb_->ConnectString());
  three.conn->Open();
  EXPECT_EQ(three.conn->DbHandle(), first);
  one.conn->Open();
  EXPECT_EQ(one.conn->DbHandle(), second);
  EXPECT_EQ(HandleCallSpy::attaches, 1);
  EXPECT_EQ(ConnectionPool->Count(), 0);
  EXPECT_EQ(QueryOne(*three.conn, "select 7 from rdb$database"), "7");

  // A pooled attachment that does not answer is abandoned and the next one is taken.
  three.conn->DisconnectToPool();
  one.conn->DisconnectToPool();
  HandleCallSpy::fail_infos = 1;
  ConnectionRig four(fb_->ConnectString());
  four.conn->Open();
  EXPECT_EQ(four.conn->DbHandle(), second);
  EXPECT_EQ(ConnectionPool->Count(), 0);
  EXPECT_EQ(HandleCallSpy::attaches, 1);
  four.conn->Close();
  // (The abandoned one is really alive here: let it go.)
  isc_db_handle abandoned = first;
  ISC_STATUS_ARRAY status{};
  EXPECT_EQ(CallClient(ClientCallTable.isc_detach_database, status, &abandoned), 0);

  // Pooling a disconnected connection is a plain close; freeing the pool detaches.
  four.conn->DisconnectToPool();
  EXPECT_EQ(ConnectionPool->Count(), 0);
  two.conn->Open();
  two.conn->DisconnectToPool();
  const int detaches = HandleCallSpy::detaches;
  FreeConnectionPool();
  EXPECT_EQ(HandleCallSpy::detaches, detaches + 1);
  EXPECT_EQ(ConnectionPool, nullptr);
}

TEST_F(HandleCacheDb, RefusedDisconnectKeepsTheAttachmentOutOfThePool) {
  HandleCallSpy spy;
  ConnectionRig rig(fb_->ConnectString());
  TIB_Connection& conn = *rig.conn;
  conn.Open();
  const isc_db_handle handle = conn.DbHandle();
  conn.BeforeDisconnect = [](TIB_Connection*) { throw Exception("not now"); };
  HandleCallSpy::detaches = 0;
  EXPECT_THROW(conn.DisconnectToPool(), Exception);
  // Still attached, with an attachment nobody else will detach.
  EXPECT_TRUE(conn.GetConnected());
  EXPECT_EQ(conn.DbHandle(), handle);
  EXPECT_FALSE(conn.Pooled());
  EXPECT_EQ(ConnectionPool->Count(), 0);
  EXPECT_EQ(HandleCallSpy::detaches, 0);
  EXPECT_EQ(QueryOne(conn, "select 3 from rdb$database"), "3");
  // The next ordinary close detaches it.
  conn.BeforeDisconnect = nullptr;
  conn.Close();
  EXPECT_EQ(HandleCallSpy::detaches, 1);
}

}  // namespace
}  // namespace pelvar::test
