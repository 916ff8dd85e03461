// Rows fetched from a real Firebird database kept in a node list: every fetched row is
// packed into its node, shown again from the node in another order, its blob read once
// into the node's own chain, and an edited blob kept with its node.
#include <gtest/gtest.h>

#include "dbclient/ClientLibraryName.h"
#include "dbclient/IB_Utils.h"
#include "dbengine/IB_NodeList.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "row_statement_double.h"

namespace pelvar {
namespace {

using test::FbTestDb;
using test::RowStatement;

constexpr int kRows = 40;

class RowNodesDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    db_ = FbTestDb::Create(FbTestDb::Mode::Embedded, "rownodes.fdb").release();
    std::string sql =
        "create table T (ID integer not null, VC varchar(30), CH char(5), N numeric(15,2),\n"
        "  TS timestamp, B blob sub_type 1);\ncommit;\n";
    for (int i = 1; i <= kRows; ++i) {
      const std::string id = std::to_string(i);
      if (i % 5 == 0) {
        sql += "insert into T (ID) values (" + id + ");\n";
      } else {
        sql += "insert into T values (" + id + ", 'kůň " + id + "', 'c" + id + "', " + id + ".25, '2008-12-" +
               std::to_string(1 + i % 28) + " 10:00:0" + std::to_string(i % 10) + "', 'memo " + id + "');\n";
      }
    }
    sql += "commit;\n";
    db_->RunSql(sql);
  }
  static void TearDownTestSuite() {
    delete db_;
    db_ = nullptr;
  }
  void SetUp() override {
    InstallClientLibraryNameProvider();
    session_ = std::make_unique<TIB_Session>(nullptr);
    db_handle_ = test::Attach(*session_, db_->ConnectString());
    ASSERT_NE(db_handle_, 0u);
    tr_ = test::StartTransaction(*session_, db_handle_);
    st_ = std::make_unique<RowStatement>(session_.get(), db_handle_, tr_);
  }
  void TearDown() override {
    st_.reset();
    test::CleanUp(*session_, db_handle_, tr_);
    session_.reset();
    ClientLibraryNameHook = nullptr;
  }

  static FbTestDb* db_;
  std::unique_ptr<TIB_Session> session_;
  isc_db_handle db_handle_ = 0;
  isc_tr_handle tr_ = 0;
  std::unique_ptr<RowStatement> st_;
};

FbTestDb* RowNodesDb::db_ = nullptr;

// The texts of the scalar columns, "<null>" for null.
std::vector<AnsiString> Texts(TIB_Row& r) {
  std::vector<AnsiString> out;
  for (int32_t i = 0; i < 5; ++i) {
    TIB_Column* c = r.GetColumn(i);
    out.push_back(c->GetIsNull() ? AnsiString("<null>") : c->GetAsString());
  }
  return out;
}

TEST_F(RowNodesDb, FetchedRowsComeBackFromTheirNodes) {
  TIB_NodeList list;
  list.SetKeyLength(4);
  list.BeginFetch(0);
  st_->Prepare("select ID, VC, CH, N, TS, B from T order by ID");
  TIB_Row& f = st_->Fields();
  st_->Execute();
  std::vector<std::vector<AnsiString>> expected;
  while (st_->Fetch()) {
    const int32_t id = f.ColumnByName("ID")->GetAsInteger();
    TIB_Node* node = list.AddKey(&id, true, false, true);
    ASSERT_NE(node, nullptr);
    f.SetRowNode(node);
    f.SaveToNode();
    expected.push_back(Texts(f));
  }
  st_->Close();
  list.SetFetched(true);
  ASSERT_EQ(list.NodeCount(), kRows);
  EXPECT_EQ(expected[1][1], CZ("kůň 2"));

  // Backwards, then forwards again: every row as fetched, each blob read once.
  for (int pass = 0; pass < 2; ++pass) {
    for (int32_t n = kRows; n >= 1; --n) {
      list.SetRowNum(n);
      f.SetRowNode(list.RowNode());
      f.LoadFromNode(true, true);
      ASSERT_EQ(Texts(f), expected[static_cast<size_t>(n - 1)]) << n;
      TIB_Column* b = f.ColumnByName("B");
      if (n % 5 == 0) {
        EXPECT_TRUE(b->GetIsNull());
      } else {
        EXPECT_EQ(b->GetAsString(), "memo " + std::to_string(n));
      }
    }
    EXPECT_EQ(st_->blob_loads, kRows - kRows / 5) << "pass " << pass;
  }

  // An edited blob stays with its node while other rows are shown.
  list.SetRowNum(3);
  f.SetRowNode(list.RowNode());
  f.LoadFromNode(true, true);
  f.ColumnByName("B")->SetAsString(CZ("nová poznámka"));
  f.ColumnByName("VC")->SetAsString("edited");
  f.SaveToNode();
  list.SetRowNum(4);
  f.SetRowNode(list.RowNode());
  f.LoadFromNode(true, true);
  EXPECT_EQ(f.ColumnByName("B")->GetAsString(), "memo 4");
  list.SetRowNum(3);
  f.SetRowNode(list.RowNode());
  f.LoadFromNode(true, true);
  EXPECT_EQ(f.ColumnByName("VC")->GetAsString(), "edited");
  EXPECT_EQ(f.ColumnByName("B")->GetAsString(), CZ("nová poznámka"));
  EXPECT_EQ(st_->blob_stores, 0);

  // The bookmark of row 7 finds it again and drops its data so that it is read anew.
  TIB_NodePosition p;
  const int32_t seven = 7;
  ASSERT_TRUE(list.LocateHexKey(BinaryToHexText(&seven, 4), p));
  EXPECT_EQ(p.RowNum, 7);
  EXPECT_TRUE(p.Node->Row.empty());
  f.SetRowNode(nullptr);
}

}  // namespace
}  // namespace pelvar
