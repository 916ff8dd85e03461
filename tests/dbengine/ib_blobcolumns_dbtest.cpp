// Blob columns against Firebird 3 (embedded): empty, null and short texts and binaries
// beside a longer one, read through a cursor, a buffered dataset scrolled both ways, the
// buffer row and after an edit is posted.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../dbclient/connection_calls.h"
#include "dbclient/IB_Utils.h"
#include "dbengine/IB_Components_bdataset.h"
#include "platform/sysutils.h"

namespace pelvar::test {
namespace {

class BlobColumnsDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    db_ = FbTestDb::Create(FbTestDb::Mode::Embedded, "blobcolumns.fdb").release();
    db_->RunSql(
        "create table TB (ID integer not null primary key, V varchar(20),\n"
        "  M blob sub_type text, BIN blob sub_type binary);\n"
        "commit;\n"
        "insert into TB values (1, 'abc', 'abc', 'abc');\n"
        "insert into TB values (2, '', '', '');\n"
        "insert into TB values (3, null, null, null);\n"
        "insert into TB values (4, 'x', 'x', 'x');\n"
        "commit;\n");
  }
  static void TearDownTestSuite() {
    delete db_;
    db_ = nullptr;
  }

  void SetUp() override {
    InstallClientLibraryNameProvider();
    session_ = new TIB_Session(&form_);
    conn_ = new TIB_Connection(&form_);
    conn_->SetDatabaseName(CZ(db_->ConnectString()));
    conn_->SetUsername(kSysdbaUser);
    conn_->SetPassword(kSysdbaPassword);
    conn_->SetCharSet("WIN1250");
    conn_->SetSQLDialect(3);
    conn_->Open();
    tr_ = new TIB_Transaction(&form_);
    tr_->SetIB_Connection(conn_);
  }
  void TearDown() override {
    if (tr_->GetStarted()) tr_->Rollback();
    while (form_.ComponentCount() > 0) delete form_.Components(form_.ComponentCount() - 1);
    ClientLibraryNameHook = nullptr;
  }

  template <class D>
  D* New(const char* sql = "select ID, V, M, BIN from TB order by ID") {
    auto* d = new D(&form_);
    d->SetIB_Connection(conn_);
    d->SetIB_Transaction(tr_);
    d->SQL()->SetText(sql);
    return d;
  }

  // Every way of reading row Row's blobs agrees with its VARCHAR twin.
  static void CheckRow(TIB_Row* Row, const std::vector<std::string>& Expected, const std::string& Where) {
    const int id = Row->ColumnByName("ID")->GetAsInteger();
    SCOPED_TRACE(Where + ", row " + std::to_string(id));
    ASSERT_GE(id, 1);
    ASSERT_LE(id, static_cast<int>(Expected.size()));
    const std::string& want = Expected[static_cast<size_t>(id - 1)];
    for (const char* name : {"M", "BIN"}) {
      SCOPED_TRACE(name);
      TIB_Column* c = Row->ColumnByName(name);
      EXPECT_EQ(c->GetIsNull(), id == 3);
      EXPECT_EQ(c->GetAsString(), want);
      EXPECT_EQ(c->GetDataSize(), static_cast<int32_t>(want.size()));
      EXPECT_TRUE(c->GetIsLoaded());
      EXPECT_EQ(c->GetAsString(), want);
    }
  }

  void Run(const char* Sql) {
    TIB_DSQL q(nullptr);
    q.SetIB_Connection(conn_);
    q.SetIB_Transaction(tr_);
    q.SQL()->SetText(Sql);
    q.Execute();
    q.SetIB_Transaction(nullptr);
  }
  // The rows as the suite made them, for a test that committed changes.
  void Restore() {
    Run("delete from TB");
    Run("insert into TB values (1, 'abc', 'abc', 'abc')");
    Run("insert into TB values (2, '', '', '')");
    Run("insert into TB values (3, null, null, null)");
    Run("insert into TB values (4, 'x', 'x', 'x')");
    tr_->Commit();
  }

  static FbTestDb* db_;
  TComponent form_{nullptr};
  TIB_Session* session_ = nullptr;
  TIB_Connection* conn_ = nullptr;
  TIB_Transaction* tr_ = nullptr;
};

FbTestDb* BlobColumnsDb::db_ = nullptr;

const std::vector<std::string> kValues = {"abc", "", "", "x"};

TEST_F(BlobColumnsDb, ACursorReadsEachRowsOwnBlob) {
  auto* c = New<TIB_Cursor>();
  int rows = 0;
  for (c->First(); !c->Eof(); c->Next()) {
    CheckRow(c->Fields(), kValues, "cursor");
    ++rows;
  }
  EXPECT_EQ(rows, 4);
}

TEST_F(BlobColumnsDb, ABufferedDatasetReadsEachRowsOwnBlobBothWays) {
  auto* d = New<TIB_BDataset>();
  TIB_StringList links;
  links.SetText("TB.ID");
  d->SetKeyLinks(&links);
  d->Open();
  for (int pass = 0; pass < 2; ++pass) {
    for (d->First(); !d->Eof(); d->Next()) CheckRow(d->Fields(), kValues, "forwards " + std::to_string(pass));
    for (d->Last(); !d->Bof(); d->Prior()) CheckRow(d->Fields(), kValues, "backwards " + std::to_string(pass));
  }
  // The buffer row reads other rows without moving the current one.
  d->SetRowNum(1);
  for (int n : {2, 1, 4, 2, 3, 2}) {
    d->SetBufferRowNum(n);
    CheckRow(d->BufferFields(), kValues, "buffer row " + std::to_string(n));
  }
  CheckRow(d->Fields(), kValues, "current after the buffer row");
}

// A file copy of the database whose rows have since got other blobs: its blob ids are
// the original's, naming other values or none. The buffer row of a dataset reads its
// blobs from the dataset's own database, never from the session's default one.
TEST_F(BlobColumnsDb, TheBufferRowReadsItsBlobsFromItsOwnDatabaseBesideACopy) {
  const std::string copy = db_->Dir().Path() + "/copy.fdb";
  std::filesystem::copy_file(db_->Path(), copy, std::filesystem::copy_options::overwrite_existing);
  const CommandResult r = RunIsql(
      "delete from TB;\ncommit;\nselect count(*) from TB;\n"
      "insert into TB values (1, 'copy 1', 'copy 1', 'copy 1');\n"
      "insert into TB values (2, 'copy 2', 'copy 2', 'copy 2');\n"
      "insert into TB values (4, 'copy 4', 'copy 4', 'copy 4');\ncommit;\n",
      copy);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  auto* other = new TIB_Connection(&form_);
  other->SetDatabaseName(CZ(copy));
  other->SetUsername(kSysdbaUser);
  other->SetPassword(kSysdbaPassword);
  other->SetCharSet("WIN1250");
  other->SetSQLDialect(3);
  other->Open();
  // As in the play-in data module: the copy's connection is the session's default.
  session_->SetDefaultConnection(other);
  auto* d = New<TIB_BDataset>();
  TIB_StringList links;
  links.SetText("TB.ID");
  d->SetKeyLinks(&links);
  d->Open();
  d->SetRowNum(1);
  for (int n : {2, 4, 1, 3, 2}) {
    d->SetBufferRowNum(n);
    CheckRow(d->BufferFields(), kValues, "buffer row " + std::to_string(n));
  }
  CheckRow(d->Fields(), kValues, "current after the buffer row");
  session_->SetDefaultConnection(nullptr);
}

TEST_F(BlobColumnsDb, PostedBlobsReadBackAfterScrollingAndCommitting) {
  auto* d = New<TIB_BDataset>();
  TIB_StringList links;
  links.SetText("TB.ID");
  d->SetKeyLinks(&links);
  d->SetRequestLive(true);
  d->Open();
  // A text made empty, an empty text filled, a null made empty, a short one made empty.
  std::vector<std::string> now = {"", "yz", "", ""};
  for (d->First(); !d->Eof(); d->Next()) {
    const int id = d->Fields()->ColumnByName("ID")->GetAsInteger();
    CheckRow(d->Fields(), kValues, "before edit");
    d->Edit();
    for (const char* name : {"V", "M", "BIN"}) d->Fields()->ColumnByName(name)->SetAsString(now[static_cast<size_t>(id - 1)]);
    d->Post();
  }
  const auto check_now = [&](TIB_Row* Row, const std::string& Where) {
    const int id = Row->ColumnByName("ID")->GetAsInteger();
    SCOPED_TRACE(Where + ", row " + std::to_string(id));
    for (const char* name : {"V", "M", "BIN"}) {
      SCOPED_TRACE(name);
      EXPECT_FALSE(Row->ColumnByName(name)->GetIsNull());
      EXPECT_EQ(Row->ColumnByName(name)->GetAsString(), now[static_cast<size_t>(id - 1)]);
    }
  };
  for (int pass = 0; pass < 2; ++pass) {
    for (d->Last(); !d->Bof(); d->Prior()) check_now(d->Fields(), "posted, backwards");
    for (d->First(); !d->Eof(); d->Next()) check_now(d->Fields(), "posted, forwards");
    for (int n : {4, 1, 2, 3}) {
      d->SetBufferRowNum(n);
      check_now(d->BufferFields(), "posted, buffer row");
    }
    if (pass == 0) tr_->CommitRetaining();
  }
  tr_->Commit();
  d->Open();
  for (d->Last(); !d->Bof(); d->Prior()) check_now(d->Fields(), "committed");
  d->Close();
  Restore();
}

// Cached edits keep each row's own blob: an edit to an empty text is neither shown on the
// rows scrolled to afterwards nor lost, and the server gets exactly the edited values.
TEST_F(BlobColumnsDb, CachedEditsToEmptyTextsStayWithTheirRows) {
  auto* d = New<TIB_BDataset>();
  TIB_StringList links;
  links.SetText("TB.ID");
  d->SetKeyLinks(&links);
  d->SetRequestLive(true);
  d->SetCachedUpdates(true);
  d->Open();
  std::vector<std::string> now = kValues;
  const auto edit = [&](int id, const std::string& value) {
    ASSERT_TRUE(d->LocateRecord("ID", Variant(id), 0, true, false));
    d->Edit();
    for (const char* name : {"V", "M", "BIN"}) d->Fields()->ColumnByName(name)->SetAsString(value);
    d->Post();
    now[static_cast<size_t>(id - 1)] = value;
  };
  const auto check_all = [&](const std::string& Where) {
    for (int pass = 0; pass < 2; ++pass) {
      for (pass == 0 ? d->First() : d->Last(); pass == 0 ? !d->Eof() : !d->Bof(); pass == 0 ? d->Next() : d->Prior()) {
        const int id = d->Fields()->ColumnByName("ID")->GetAsInteger();
        SCOPED_TRACE(Where + ", row " + std::to_string(id));
        const std::string& want = now[static_cast<size_t>(id - 1)];
        for (const char* name : {"V", "M", "BIN"}) {
          SCOPED_TRACE(name);
          EXPECT_EQ(d->Fields()->ColumnByName(name)->GetIsNull(), id == 3 && want.empty() && now[2] == kValues[2]);
          EXPECT_EQ(d->Fields()->ColumnByName(name)->GetAsString(), want);
        }
      }
    }
  };
  check_all("loaded");
  edit(1, "");
  check_all("row 1 emptied");
  edit(4, "zz");
  check_all("row 4 changed");
  edit(2, "two");
  check_all("row 2 filled");
  d->ApplyUpdates();
  check_all("applied");
  auto* c = New<TIB_Cursor>("select ID, coalesce(V, '<null>') || '|' || coalesce(M, '<null>') || '|' || "
                            "coalesce(cast(BIN as varchar(10)), '<null>') from TB where ID < 5 order by ID");
  std::vector<std::string> rows;
  for (c->First(); !c->Eof(); c->Next()) rows.push_back(std::string(c->Fields()->GetColumn(1)->GetAsString()));
  EXPECT_EQ(rows, (std::vector<std::string>{"||", "two|two|two", "<null>|<null>|<null>", "zz|zz|zz"}));
}

// One prepared insert run for a text, an empty text, a null and a short text: every row
// stores its own parameter values.
TEST_F(BlobColumnsDb, APreparedInsertStoresEachRunsOwnBlobParameters) {
  TIB_DSQL q(nullptr);
  q.SetIB_Connection(conn_);
  q.SetIB_Transaction(tr_);
  q.SQL()->SetText("insert into TB (ID, V, M, BIN) values (:ID, :V, :M, :BIN)");
  q.Prepare();
  const std::vector<std::pair<int, const char*>> runs = {{11, "abc"}, {12, ""}, {13, nullptr}, {14, "x"}, {15, ""}};
  for (const auto& [id, value] : runs) {
    q.ParamByName("ID")->SetAsInteger(id);
    for (const char* name : {"V", "M", "BIN"}) {
      if (value == nullptr)
        q.ParamByName(name)->Clear();
      else
        q.ParamByName(name)->SetAsString(value);
    }
    q.Execute();
  }
  q.SetIB_Transaction(nullptr);
  auto* c = New<TIB_Cursor>("select coalesce(V, '<null>') || '|' || coalesce(M, '<null>') || '|' || "
                            "coalesce(cast(BIN as varchar(10)), '<null>') from TB where ID > 10 order by ID");
  std::vector<std::string> rows;
  for (c->First(); !c->Eof(); c->Next()) rows.push_back(std::string(c->Fields()->GetColumn(0)->GetAsString()));
  EXPECT_EQ(rows, (std::vector<std::string>{"abc|abc|abc", "||", "<null>|<null>|<null>", "x|x|x", "||"}));
}

}  // namespace
}  // namespace pelvar::test
