// The blob stream over a fetched row: reading through the chain cache, seeking within
// the value, writing a new value, and the modes' rules.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "../dbengine/row_statement_double.h"
#include "dbclient/IB_Components_blobstream.h"

namespace pelvar::test {
namespace {

class BlobStreamDb : public ::testing::Test {
 protected:
  void SetUp() override {
    fb_ = FbTestDb::Create(FbTestDb::Mode::Embedded);
    fb_->RunSql(
        "create table T (ID integer, B blob sub_type 0, M blob sub_type 1);\n"
        "commit;\n"
        "insert into T values (1, 'hello world', null);\n"
        "create table T2 (ID integer, M blob sub_type 1);\n"
        "commit;\n"
        "insert into T2 values (1, 'abc');\n"
        "insert into T2 values (2, '');\n"
        "insert into T2 values (3, null);\n"
        "insert into T2 values (4, 'x');\n"
        "commit;\n");
    InstallClientLibraryNameProvider();
    session_ = std::make_unique<TIB_Session>(nullptr);
    db_ = Attach(*session_, fb_->ConnectString());
    ASSERT_NE(db_, 0u);
    tr_ = StartTransaction(*session_, db_);
    st_ = std::make_unique<RowStatement>(session_.get(), db_, tr_);
    st_->Prepare("select B, M from T");
    st_->Execute();
    ASSERT_TRUE(st_->Fetch());
  }
  void TearDown() override {
    st_.reset();
    CleanUp(*session_, db_, tr_);
    session_.reset();
    ClientLibraryNameHook = nullptr;
  }
  TIB_Column* Col(int i) { return st_->Fields().GetColumn(i); }
  ISC_QUAD IdOf(int i) {
    ISC_QUAD id{};
    std::memcpy(&id, Col(i)->PSQLVAR()->sqldata, sizeof id);
    return id;
  }
  static std::string ReadAll(TIB_BlobStream& s) {
    std::string text(static_cast<size_t>(s.Size()), '\0');
    s.SetPosition(0);
    EXPECT_EQ(s.Read(text.data(), static_cast<int32_t>(text.size())),
              static_cast<int32_t>(text.size()));
    return text;
  }

  std::unique_ptr<FbTestDb> fb_;
  std::unique_ptr<TIB_Session> session_;
  isc_db_handle db_ = 0;
  isc_tr_handle tr_ = 0;
  std::unique_ptr<RowStatement> st_;
};

TEST_F(BlobStreamDb, ReadsOnceThroughTheChainAndIgnoresWrites) {
  const ISC_QUAD id = IdOf(0);
  ASSERT_FALSE(IsNullBlobId(id));
  {
    TIB_BlobStream s(Col(0), bmRead);
    EXPECT_EQ(ReadAll(s), "hello world");
    EXPECT_EQ(s.Write("x", 1), 0);
    EXPECT_FALSE(s.Modified());
    char c = 0;
    EXPECT_EQ(s.Seek(100, TSeekOrigin::soBeginning), 11);
    EXPECT_EQ(s.Read(&c, 1), 0);
    EXPECT_EQ(s.Seek(-100, TSeekOrigin::soCurrent), 0);
    EXPECT_EQ(s.Seek(-5, TSeekOrigin::soEnd), 6);
    EXPECT_EQ(s.Read(&c, 1), 1);
    EXPECT_EQ(c, 'w');
  }
  EXPECT_TRUE(SameBlobId(IdOf(0), id));
  EXPECT_EQ(st_->blob_loads, 1);
  // The second stream finds the value in the row's chain.
  TIB_BlobStream again(Col(0), bmRead);
  EXPECT_EQ(ReadAll(again), "hello world");
  EXPECT_EQ(st_->blob_loads, 1);
}

// Each row reads its own value in both reading modes, an empty one after a longer one
// included; a stored value is never taken from an edit of the column kept in the chain.
TEST_F(BlobStreamDb, EveryRowReadsItsOwnValueNeverAnEditOfTheColumn) {
  RowStatement rows(session_.get(), db_, tr_);
  rows.Prepare("select M, ID from T2 order by ID");
  rows.Execute();
  const char* expected[] = {"abc", "", "", "x"};
  TIB_Column* m = rows.Fields().GetColumn(0);
  for (int id = 1; id <= 4; ++id) {
    ASSERT_TRUE(rows.Fetch());
    SCOPED_TRACE("row " + std::to_string(id));
    EXPECT_EQ(m->GetIsNull(), id == 3);
    if (id == 4) {
      // An edit of the column kept in the row's chain is another value than the stored one.
      auto* edit = new TIB_BlobCacheNode{};
      edit->Changed = true;
      edit->FieldNo = 0;
      ReallocBuffer(edit->Buffer, 0, 4);
      edit->Capacity = 4;
      std::memcpy(edit->Buffer, "edit", 4);
      edit->Size = 4;
      edit->Next = *rows.Fields().GetBlobNodes();
      *rows.Fields().GetBlobNodes() = edit;
    }
    for (TBlobStreamMode mode : {bmRead, bmReadWrite, bmRead}) {
      TIB_BlobStream s(m, mode);
      EXPECT_EQ(ReadAll(s), expected[id - 1]);
    }
  }
}

TEST_F(BlobStreamDb, ReadWriteAppendsAndWriteStartsEmpty) {
  TIB_BlobStream s(Col(0), bmReadWrite);
  EXPECT_EQ(ReadAll(s), "hello world");
  s.Seek(0, TSeekOrigin::soEnd);
  EXPECT_EQ(s.Write(" again", 6), 6);
  EXPECT_TRUE(s.Modified());
  EXPECT_TRUE(s.Node()->Changed);
  EXPECT_EQ(ReadAll(s), "hello world again");
  EXPECT_TRUE(IsNullBlobId(IdOf(0)));
  EXPECT_FALSE(Col(0)->GetIsNull());
  s.Close();

  // A write stream starts an empty, null value.
  ASSERT_TRUE(Col(1)->GetIsNull());
  {
    TIB_BlobStream s(Col(1), bmWrite);
    EXPECT_EQ(s.Size(), 0);
    EXPECT_TRUE(Col(1)->GetIsNull());
    const std::string text = "nový text";
    EXPECT_EQ(s.Write(text.data(), static_cast<int32_t>(text.size())),
              static_cast<int32_t>(text.size()));
    EXPECT_FALSE(Col(1)->GetIsNull());
    EXPECT_EQ(ReadAll(s), text);
  }
  // A read-write stream on a null column without a node, and a write stream without a
  // node, have nothing to work on.
  TIB_Row& row = st_->Fields();
  const XSQLVAR* var = Col(0)->PSQLVAR();
  try {
    std::unique_ptr<TIB_BlobStream>(
        TIB_BlobStream::CreateForRow(&row, var, 0, nullptr, row.GetBlobNodes(), bmWrite));
    ADD_FAILURE() << "no error";
  } catch (const EIB_Error& e) {
    EXPECT_EQ(e.Message(), IB_Message(TIB_Msg::BlobNodeUnassigned));
    EXPECT_EQ(e.Sender(), st_.get());
  }
}

}  // namespace
}  // namespace pelvar::test
