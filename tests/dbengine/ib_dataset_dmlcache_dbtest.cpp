// The transactions' DML cache with real datasets on Firebird 3 (embedded): a posted
// edit, insert or delete is announced with the row's key to the other datasets of the
// same transaction at once, to the datasets of other read-committed transactions after
// the commit (which then read the row again), never to a snapshot, never after a
// rollback, and only to datasets whose flags ask for that kind.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../dbclient/connection_calls.h"
#include "dbclient/IB_Components_dmlcache.h"
#include "dbengine/IB_Components_dataset.h"
#include "platform/sysutils.h"

namespace pelvar::test {
namespace {

struct Received {
  std::string dataset;
  TIB_DMLCacheItemType type;
  std::string names;
  int key;
};

class DMLCacheDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fb_ = FbTestDb::Create(FbTestDb::Mode::Embedded).release();
    fb_->RunSql(
        "create table K (ID integer not null primary key, NAME varchar(20));\n"
        "commit;\n"
        "insert into K values (1, 'Adam');\n"
        "insert into K values (2, 'Bára');\n"
        "commit;\n");
  }
  static void TearDownTestSuite() {
    delete fb_;
    fb_ = nullptr;
  }
  void SetUp() override {
    InstallClientLibraryNameProvider();
    session_ = new TIB_Session(&form_);
    conn_ = new TIB_Connection(&form_);
    conn_->SetDatabaseName(CZ(fb_->ConnectString()));
    conn_->SetUsername(kSysdbaUser);
    conn_->SetPassword(kSysdbaPassword);
    conn_->SetCharSet("WIN1250");
    conn_->SetSQLDialect(3);
    conn_->Open();
  }
  void TearDown() override {
    while (form_.ComponentCount() > 0) delete form_.Components(form_.ComponentCount() - 1);
    ClientLibraryNameHook = nullptr;
  }

  TIB_Transaction* NewTransaction(TIB_Isolation Isolation) {
    auto* tr = new TIB_Transaction(&form_);
    tr->SetIB_Connection(conn_);
    tr->SetIsolation(Isolation);
    return tr;
  }
  // A dataset over K in Tr that records what it receives (and reads the row again).
  TIB_Cursor* NewDataset(const char* Name, TIB_Transaction* Tr, uint8_t Flags) {
    auto* d = new TIB_Cursor(&form_);
    d->SetName(Name);
    d->SetIB_Connection(conn_);
    d->SetIB_Transaction(Tr);
    d->SetKeyLinksAutoDefine(true);
    d->SetRequestLive(true);
    d->SetDMLCacheFlags(Flags);
    d->SQL()->SetText("select ID, NAME from K where ID = :ID");
    d->OnDMLCacheReceivedItem = [this](TIB_Dataset* D, const TIB_DMLCacheItem& Item) {
      received.push_back({D->Name(), Item.DMLCacheItemType, AnsiToUtf8(Item.KeyFieldNames),
                          Item.KeyFieldValues.IsNull() || Item.KeyFieldValues.IsEmpty()
                              ? -1
                              : static_cast<int>(Item.KeyFieldValues.AsInteger())});
      D->Refresh();
    };
    return d;
  }
  void OpenAt(TIB_Cursor* D, int Id) {
    D->Prepare();
    D->ParamByName("ID")->SetAsInteger(Id);
    D->Open();
  }
  std::string Names() {
    std::string r;
    for (const Received& x : received) {
      r += x.dataset + ":" + std::to_string(static_cast<int>(x.type)) + ":" + x.names + "=" +
           std::to_string(x.key) + " ";
    }
    return r;
  }

  static FbTestDb* fb_;
  std::vector<Received> received;
  TComponent form_{nullptr};
  TIB_Session* session_ = nullptr;
  TIB_Connection* conn_ = nullptr;
};

FbTestDb* DMLCacheDb::fb_ = nullptr;

constexpr uint8_t kAll = dcfAnnounceEdit | dcfAnnounceInsert | dcfAnnounceDelete | dcfReceiveEdit |
                         dcfReceiveInsert | dcfReceiveDelete;

TEST_F(DMLCacheDb, PostedChangesReachTheOtherDatasets) {
  TIB_Transaction* writer = NewTransaction(tiCommitted);
  TIB_Transaction* reader = NewTransaction(tiCommitted);
  TIB_Transaction* snapshot = NewTransaction(tiConcurrency);
  TIB_Cursor* poster = NewDataset("poster", writer, kAll);
  TIB_Cursor* sibling = NewDataset("sibling", writer, dcfReceiveEdit);
  TIB_Cursor* other = NewDataset("other", reader, kAll);
  TIB_Cursor* deaf = NewDataset("deaf", reader, 0);
  TIB_Cursor* frozen = NewDataset("frozen", snapshot, kAll);
  for (TIB_Cursor* d : {poster, sibling, other, deaf, frozen}) OpenAt(d, 1);
  ASSERT_EQ(AnsiToUtf8(other->FieldByName("NAME")->GetAsString()), "Adam");

  poster->Edit();
  poster->FieldByName("NAME")->SetAsString(CZ("Adéla"));
  poster->Post();
  // At once only within the transaction: the sibling, not the poster itself.
  EXPECT_EQ(Names(), "sibling:0:ID=1 ");
  EXPECT_EQ(writer->DMLCache()->Count(), 1);
  received.clear();

  writer->Commit();
  EXPECT_EQ(Names(), "other:0:ID=1 ");
  EXPECT_EQ(writer->DMLCache()->Count(), 0);
  // The receiver read the row again and shows the committed value.
  EXPECT_EQ(AnsiToUtf8(other->FieldByName("NAME")->GetAsString()), "Adéla");
  received.clear();

  // An insert and a delete are announced with their keys: the new one, the old one.
  for (TIB_Cursor* d : {poster, other}) OpenAt(d, 2);
  poster->Insert();
  poster->FieldByName("ID")->SetAsInteger(3);
  poster->FieldByName("NAME")->SetAsString("Cyril");
  poster->Post();
  poster->Close();
  OpenAt(poster, 2);
  poster->Delete();
  writer->Commit();
  EXPECT_EQ(Names(), "other:1:ID=3 other:2:ID=2 ");
}

TEST_F(DMLCacheDb, NothingLeavesAfterARollback) {
  TIB_Transaction* writer = NewTransaction(tiCommitted);
  TIB_Transaction* reader = NewTransaction(tiCommitted);
  TIB_Cursor* poster = NewDataset("poster", writer, kAll);
  TIB_Cursor* other = NewDataset("other", reader, kAll);
  OpenAt(poster, 1);
  OpenAt(other, 1);
  poster->Edit();
  poster->FieldByName("NAME")->SetAsString(CZ("Zrušeno"));
  poster->Post();
  writer->Rollback();
  EXPECT_EQ(Names(), "");
  EXPECT_EQ(writer->DMLCache()->Count(), 0);
}

}  // namespace
}  // namespace pelvar::test
