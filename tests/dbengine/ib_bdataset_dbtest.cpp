// The buffered dataset against real Firebird 3 (embedded): navigation over 1,000 rows,
// bookmarks across a re-open, keys-only fetching, rows deleted by another attachment,
// posting into the buffer, cached updates applied in first-change order and kept over a
// rollback, locating, server and client filters, finding through the filter cursor.
// One database serves the whole suite; tests that write roll their transaction back or
// use a table of their own.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../dbclient/connection_calls.h"
#include "dbclient/IB_Utils.h"
#include "dbengine/IB_Components_bdataset.h"
#include "dbengine/IB_Components_datasource.h"
#include "dbengine/IB_Components_updatesql.h"
#include "platform/application.h"
#include "platform/sysutils.h"

namespace pelvar::test {
namespace {

// Records the cached changes in the order they are sent.
class RecordingBDataset : public TIB_BDataset {
 public:
  explicit RecordingBDataset(TComponent* Owner) : TIB_BDataset(Owner) {}
  void SysApplyUpdate(int32_t Kind, int32_t& Action, const TIB_ApplyRoutine& Routine,
                      TIB_BDataset* Data) override {
    sent.push_back(std::to_string(Kind) + ":" + std::string(AnsiToUtf8(Fields()->GetColumn(0)->GetAsString())));
    TIB_BDataset::SysApplyUpdate(Kind, Action, Routine, Data);
  }
  std::vector<std::string> sent;
};

class BDatasetDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    db_ = FbTestDb::Create(FbTestDb::Mode::Embedded, "bdataset.fdb").release();
    db_->RunSql(
        "create table T (ID integer not null primary key, NAME varchar(40), GRP integer,\n"
        "  AMOUNT numeric(9,2), NOTE varchar(10) default 'dflt');\n"
        "create table T2 (ID integer not null primary key, NAME varchar(20));\n"
        "create table EMPTY_T (ID integer not null primary key);\n"
        "create table NOPK (A integer, B varchar(10));\n"
        "create table T_M (ID integer not null primary key, NAME varchar(20));\n"
        "create table T_D (ID integer not null primary key, M_ID integer not null, TXT varchar(20));\n"
        "commit;\n"
        "set term ^;\n"
        "execute block as declare i integer = 1; begin\n"
        "  while (i <= 1000) do begin\n"
        "    insert into T (ID, NAME, GRP, AMOUNT) values (:i, 'Row ' || :i, mod(:i, 10), :i * 1.5);\n"
        "    i = i + 1;\n"
        "  end\n"
        "  i = 1;\n"
        "  while (i <= 10) do begin insert into T2 values (:i, 'R' || :i); i = i + 1; end\n"
        "end^\n"
        "set term ;^\n"
        "insert into T_M values (1, 'm1');\n"
        "insert into T_M values (2, 'm2');\n"
        "insert into T_M values (3, 'm3');\n"
        "insert into T_D values (11, 1, 'a');\n"
        "insert into T_D values (12, 1, 'b');\n"
        "insert into T_D values (21, 2, 'c');\n"
        "insert into T_D values (22, 2, 'd');\n"
        "insert into T_D values (23, 2, 'e');\n"
        "insert into NOPK values (1, 'one');\n"
        "insert into NOPK values (2, 'two');\n"
        "insert into NOPK values (2, 'two again');\n"
        "update T set NAME = 'XŽ' where ID = 1;\n"
        "update T set NAME = 'Žluťák' where ID = 2;\n"
        "update T set NAME = 'Smith' where ID = 3;\n"
        "update T set NAME = 'Smetana' where ID = 7;\n"
        "update T set NAME = null where ID = 5;\n"
        "commit;\n");
  }
  static void TearDownTestSuite() {
    delete db_;
    db_ = nullptr;
  }

  void SetUp() override {
    InstallClientLibraryNameProvider();
    session_ = new TIB_Session(&form_);
    conn_ = Connect();
    tr_ = new TIB_Transaction(&form_);
    tr_->SetIB_Connection(conn_);
  }
  void TearDown() override {
    if (tr_->GetStarted()) tr_->Rollback();
    while (form_.ComponentCount() > 0) delete form_.Components(form_.ComponentCount() - 1);
    ClientLibraryNameHook = nullptr;
  }

  TIB_Connection* Connect() {
    auto* c = new TIB_Connection(&form_);
    c->SetDatabaseName(CZ(db_->ConnectString()));
    c->SetUsername(kSysdbaUser);
    c->SetPassword(kSysdbaPassword);
    c->SetCharSet("WIN1250");
    c->SetSQLDialect(3);
    c->Open();
    return c;
  }

  template <class D = TIB_BDataset>
  D* NewDataset(const std::string& sql = "select ID, NAME, GRP, AMOUNT, NOTE from T order by ID",
                const char* key = "T.ID") {
    auto* d = new D(&form_);
    d->SetIB_Connection(conn_);
    d->SetIB_Transaction(tr_);
    d->SQL()->SetText(CZ(sql));
    if (key != nullptr) {
      TIB_StringList links;
      links.SetText(key);
      d->SetKeyLinks(&links);
    }
    return d;
  }

  // The value as a fresh statement of the same transaction reads it now.
  std::string Read(const std::string& sql) {
    TIB_DSQL probe(nullptr);
    probe.SetIB_Connection(conn_);
    probe.SetIB_Transaction(tr_);
    probe.SQL()->SetText(CZ(sql));
    probe.Execute();
    std::string v = probe.Active() ? std::string(AnsiToUtf8(probe.Fields()->GetColumn(0)->GetAsString()))
                                   : std::string("<none>");
    probe.SetIB_Transaction(nullptr);
    return v;
  }

  static int32_t Id(TIB_Dataset* d) { return d->FieldByName("ID")->GetAsInteger(); }
  static std::string Name(TIB_Row* r) { return AnsiToUtf8(r->ColumnByName("NAME")->GetAsString()); }

  static std::string ErrorOf(const std::function<void()>& Action) {
    try {
      Action();
    } catch (const Exception& e) {
      return AnsiToUtf8(e.Message());
    }
    return "<no error>";
  }

  static FbTestDb* db_;
  TComponent form_{nullptr};
  TIB_Session* session_ = nullptr;
  TIB_Connection* conn_ = nullptr;
  TIB_Transaction* tr_ = nullptr;
};

FbTestDb* BDatasetDb::db_ = nullptr;

TEST_F(BDatasetDb, NewDatasetDefaults) {
  TIB_BDataset d(nullptr);
  EXPECT_TRUE(d.FetchWholeRows());
  EXPECT_FALSE(d.GetCachedUpdates());
  EXPECT_EQ(d.RefreshAction(), raKeepRowNum);
  EXPECT_TRUE(d.BufferSynchroFlags().Empty());
  EXPECT_TRUE(d.RefreshOnParamChange());
  EXPECT_TRUE(d.SearchedEdits());
  EXPECT_FALSE(d.GetUnidirectional());
}

TEST_F(BDatasetDb, ScrollsBothWaysOverAThousandRows) {
  auto* d = NewDataset();
  d->Open();
  EXPECT_EQ(d->RowNum(), 1);
  EXPECT_EQ(Id(d), 1);
  EXPECT_FALSE(d->GetEofFetched());
  d->Last();
  EXPECT_EQ(d->RowNum(), 1000);
  EXPECT_EQ(Id(d), 1000);
  EXPECT_FALSE(d->Eof());
  d->Next();
  EXPECT_TRUE(d->Eof());
  d->Prior();
  EXPECT_EQ(Id(d), 1000);
  d->MoveBy(-499);
  EXPECT_EQ(d->RowNum(), 501);
  EXPECT_EQ(Id(d), 501);
  d->First();
  EXPECT_EQ(Id(d), 1);
  d->Prior();
  EXPECT_TRUE(d->Bof());

  // The buffer row reads another row without moving the current one.
  d->SetRowNum(10);
  d->SetBufferRowNum(700);
  EXPECT_EQ(d->BufferFields()->ColumnByName("ID")->GetAsInteger(), 700);
  EXPECT_EQ(AnsiToUtf8(d->BufferFields()->ColumnByName("AMOUNT")->GetAsString()), "1050");
  EXPECT_EQ(Id(d), 10);
  EXPECT_EQ(d->RowNum(), 10);
  EXPECT_EQ(d->GetRecordCount(), 1000);
  EXPECT_EQ(d->BufferRowCount(), 1000);
}

TEST_F(BDatasetDb, GotoEofFetchesEveryRowAndRecordCountIsExact) {
  auto* d = NewDataset();
  d->Open();
  EXPECT_TRUE(d->GotoEof());
  EXPECT_TRUE(d->GetEofFetched());
  EXPECT_TRUE(d->Eof());
  EXPECT_EQ(d->BufferRowCount(), 1000);

  // A client filter that hides every third row: the count of the fully fetched buffer is
  // the number of rows shown, not an estimate.
  d->SetOnFilterRecord([](TIB_Row* r, bool& accept) { accept = r->ColumnByName("ID")->GetAsInteger() % 3 != 0; });
  d->SetFiltered(true);
  EXPECT_EQ(d->GetRecordCount(), 667);
  d->First();
  d->Next();
  d->Next();
  EXPECT_EQ(Id(d), 4);
  d->SetFiltered(false);
  EXPECT_EQ(d->GetRecordCount(), 1000);

  // Without the whole result in the buffer the count is still exact.
  auto* e = NewDataset();
  e->SetOnFilterRecord([](TIB_Row* r, bool& accept) { accept = r->ColumnByName("GRP")->GetAsInteger() == 1; });
  e->Open();
  e->SetFiltered(true);
  EXPECT_EQ(e->GetRecordCount(), 100);
}

TEST_F(BDatasetDb, BookmarkSurvivesReopenAndSyntheticKeysNumberRows) {
  auto* d = NewDataset();
  d->Open();
  d->SetRowNum(500);
  const AnsiString mark = d->GetBookmark();
  int32_t key = 500;
  EXPECT_EQ(mark, "0000" + BinaryToHexText(&key, 4));
  d->Close();
  d->Open();
  EXPECT_EQ(d->RowNum(), 1);
  d->SetBookmark(mark);
  EXPECT_EQ(d->RowNum(), 500);
  EXPECT_EQ(Id(d), 500);

  // Without key links every row is keyed by its running number.
  auto* s = NewDataset("select ID, NAME from T2 order by ID desc", nullptr);
  s->SetKeyLinksAutoDefine(false);
  s->Open();
  s->SetRowNum(3);
  int32_t three = 3;
  EXPECT_EQ(s->GetBookmark(), "0000" + BinaryToHexText(&three, 4));
  EXPECT_EQ(Id(s), 8);
}

TEST_F(BDatasetDb, KeysOnlyFetchesKeysFirstAndRowsOnDemand) {
  auto* d = NewDataset();
  d->SetFetchWholeRows(false);
  d->Open();
  EXPECT_TRUE(d->KeysOnly());
  EXPECT_EQ(Id(d), 1);
  d->Last();
  EXPECT_EQ(d->RowNum(), 1000);
  EXPECT_EQ(Id(d), 1000);
  // Only the rows shown were read, one by one.
  EXPECT_EQ(d->RowsReadByKey(), 2);
  d->SetRowNum(2);
  EXPECT_EQ(Name(d->Fields()), "Žluťák");
  EXPECT_EQ(d->RowsReadByKey(), 3);
  d->SetRowNum(1000);
  EXPECT_EQ(d->RowsReadByKey(), 3);

  // An aggregate SELECT cannot be keyed by its rows: they come whole.
  auto* g = NewDataset("select GRP, count(*) as N from T group by GRP", "T.GRP");
  g->SetFetchWholeRows(false);
  g->Open();
  EXPECT_FALSE(g->KeysOnly());
  g->Last();
  EXPECT_EQ(g->RowNum(), 10);
}

TEST_F(BDatasetDb, ARowDeletedByAnotherAttachmentIsDroppedOnReRead) {
  auto* d = NewDataset("select ID, NAME from T2 order by ID", "T2.ID");
  d->Open();
  d->Last();
  d->SetRowNum(5);
  ASSERT_EQ(Id(d), 5);
  {
    TIB_Connection* other = Connect();
    TIB_Transaction tr(nullptr);
    tr.SetIB_Connection(other);
    TIB_DSQL del(nullptr);
    del.SetIB_Connection(other);
    del.SetIB_Transaction(&tr);
    del.SQL()->SetText("delete from T2 where ID = 5");
    del.Execute();
    tr.Commit();
    del.SetIB_Transaction(nullptr);
  }
  d->RefreshCurrentRow();
  EXPECT_EQ(Id(d), 6);
  EXPECT_EQ(d->BufferRowCount(), 9);
  EXPECT_EQ(d->RowNum(), 5);
}

TEST_F(BDatasetDb, AKeyMatchingTwoRowsIsRefusedWithTheHint) {
  auto* d = NewDataset("select ID, NAME, GRP from T order by ID", "T.GRP");
  d->SetFetchWholeRows(false);
  const std::string err = ErrorOf([&] {
    d->Open();
    d->SetRowNum(3);
  });
  EXPECT_NE(err.find("Check KeyLinks and JoinLinks properties"), std::string::npos) << err;
}

TEST_F(BDatasetDb, PostsKeepTheBufferInStep) {
  auto* d = NewDataset();
  d->SetRequestLive(true);
  d->Open();
  d->SetRowNum(4);
  d->Edit();
  d->FieldByName("NAME")->SetAsString(CZ("Čtvrtý"));
  d->Post();
  EXPECT_EQ(Read("select NAME from T where ID = 4"), "Čtvrtý");
  d->First();
  d->SetRowNum(4);
  EXPECT_EQ(Name(d->Fields()), "Čtvrtý");

  d->Append();
  d->FieldByName("ID")->SetAsInteger(5001);
  d->FieldByName("NAME")->SetAsString("new");
  d->Post();
  EXPECT_EQ(d->RowNum(), 1001);
  EXPECT_EQ(Read("select NAME from T where ID = 5001"), "new");
  const AnsiString mark = d->GetBookmark();
  d->First();
  d->SetBookmark(mark);
  EXPECT_EQ(Id(d), 5001);

  d->SetRowNum(10);
  d->Delete();
  EXPECT_EQ(Read("select count(*) from T where ID = 10"), "0");
  EXPECT_EQ(d->BufferRowCount(), 1000);
  EXPECT_EQ(Id(d), 11);
}

TEST_F(BDatasetDb, APositionedEditThatCannotRunIsNotReportedAsPosted) {
  auto* d = NewDataset();
  d->SetRequestLive(true);
  d->SetSearchedEdits(false);
  d->Open();
  d->SetRowNum(6);
  d->Edit();
  d->FieldByName("NAME")->SetAsString("lost?");
  EXPECT_NE(ErrorOf([&] { d->Post(); }), "<no error>");
  EXPECT_EQ(d->State(), dstEdit);
  EXPECT_TRUE(d->GetModified());
  EXPECT_EQ(Read("select NAME from T where ID = 6"), "Row 6");
  d->Cancel();
}

TEST_F(BDatasetDb, CachedUpdatesApplyInFirstChangeOrderAndSurviveARollback) {
  auto* d = NewDataset<RecordingBDataset>();
  d->SetRequestLive(true);
  d->SetCachedUpdates(true);
  tr_->StartTransaction();
  d->Open();
  d->SetRowNum(20);
  d->Edit();
  d->FieldByName("NAME")->SetAsString("edited");
  d->Post();
  d->Append();
  d->FieldByName("ID")->SetAsInteger(7001);
  d->FieldByName("NAME")->SetAsString("inserted");
  d->Post();
  d->SetRowNum(30);
  d->Delete();
  d->SetRowNum(20);
  d->Edit();
  d->FieldByName("NAME")->SetAsString("edited twice");
  d->Post();
  // Nothing reached the server yet.
  EXPECT_EQ(Read("select NAME from T where ID = 20"), "Row 20");
  EXPECT_EQ(Read("select count(*) from T where ID = 7001"), "0");
  EXPECT_TRUE(d->UpdatesPending());
  EXPECT_EQ(d->BufferRowCount(), 1000);
  EXPECT_EQ(ErrorOf([&] { d->Edit(); d->PostRetaining(); }), AnsiToUtf8(IB_Message(TIB_Msg::PostRetainingCachedUpdates)));
  d->Cancel();

  // A change the server refuses: the whole apply is rolled back and every change is
  // pending again.
  TIB_DSQL clash(nullptr);
  clash.SetIB_Connection(conn_);
  clash.SetIB_Transaction(tr_);
  clash.SQL()->SetText("insert into T (ID, NAME) values (7001, 'clash')");
  clash.Execute();
  clash.SetIB_Transaction(nullptr);
  d->OnUpdateError = [](TComponent*, std::exception&, int32_t, int32_t& action) { action = nuaFail; };
  EXPECT_NE(ErrorOf([&] { d->ApplyUpdates(); }), "<no error>");
  EXPECT_EQ(d->sent, (std::vector<std::string>{"0:20", "1:7001"}));
  tr_->Rollback();
  EXPECT_TRUE(d->UpdatesPending());
  EXPECT_EQ(d->NodeList()->ModifiedCount(), 1);
  EXPECT_EQ(d->NodeList()->InsertedCount(), 1);
  EXPECT_EQ(d->NodeList()->DeletedCount(), 1);
  EXPECT_EQ(Read("select NAME from T where ID = 20"), "Row 20");
  tr_->Rollback();

  // Re-opened, the changes are still there; applied again, they reach the server in the
  // order they were first made, within one transaction.
  d->sent.clear();
  tr_->StartTransaction();
  d->Open();
  d->Last();
  EXPECT_EQ(d->BufferRowCount(), 1000);
  ASSERT_TRUE(d->LocateRecord("ID", Variant(20), 0, true, false));
  EXPECT_EQ(Name(d->Fields()), "edited twice");
  EXPECT_EQ(d->GetUpdateStatus(), 1);
  d->ApplyUpdates();
  EXPECT_EQ(d->sent, (std::vector<std::string>{"0:20", "1:7001", "2:30"}));
  d->CommitUpdates();
  EXPECT_FALSE(d->UpdatesPending());
  EXPECT_EQ(Read("select NAME from T where ID = 20"), "edited twice");
  EXPECT_EQ(Read("select NAME from T where ID = 7001"), "inserted");
  EXPECT_EQ(Read("select count(*) from T where ID = 30"), "0");
  tr_->Rollback();
}

TEST_F(BDatasetDb, CachedInsertDeletedBeforeApplyAndCachedUpdatesSwitchedOff) {
  auto* d = NewDataset();
  d->SetRequestLive(true);
  d->SetCachedUpdates(true);
  d->Open();
  d->Append();
  d->FieldByName("ID")->SetAsInteger(8001);
  d->Post();
  EXPECT_EQ(d->NodeList()->InsertedCount(), 1);
  d->Delete();
  EXPECT_FALSE(d->UpdatesPending());
  d->SetRowNum(1);
  d->Edit();
  d->FieldByName("NAME")->SetAsString("x");
  d->Post();
  EXPECT_TRUE(d->UpdatesPending());
  d->SetCachedUpdates(false);
  EXPECT_FALSE(d->UpdatesPending());
  d->SetRowNum(1);
  EXPECT_EQ(Name(d->Fields()), "XŽ");
}

TEST_F(BDatasetDb, LocatesInTheBufferAndOnTheServer) {
  auto* d = NewDataset();
  d->Open();
  d->Last();
  d->First();
  // Partial and case-insensitive: "ž" starts "Žluťák", not "XŽ".
  EXPECT_TRUE(d->LocateRecord("NAME", Variant(CZ("ž")), lopCaseInsensitive | lopPartialKey, true, false));
  EXPECT_EQ(Id(d), 2);
  EXPECT_FALSE(d->LocateRecord("NAME", Variant(CZ("ž")), lopPartialKey, true, false));
  EXPECT_TRUE(d->LocateRecord("NAME", Variant::MakeNull(), 0, true, false));
  EXPECT_EQ(Id(d), 5);
  EXPECT_TRUE(d->LocateRecord("GRP;NAME", VarArrayOf({Variant(3), Variant("Row 13")}), 0, true, false));
  EXPECT_EQ(Id(d), 13);

  // Not fetched yet: the key finds the row directly, and a non-key value on the server.
  auto* e = NewDataset();
  e->Open();
  EXPECT_TRUE(e->LocateRecord("ID", Variant(777), 0, true, false));
  EXPECT_EQ(Id(e), 777);
  EXPECT_EQ(e->RowNum(), 777);
  auto* f = NewDataset();
  f->Open();
  EXPECT_TRUE(f->LocateRecord("NAME", Variant("row 400"), lopCaseInsensitive, true, false));
  EXPECT_EQ(Id(f), 400);
  EXPECT_FALSE(f->GetEofFetched());
  Variant result;
  EXPECT_TRUE(f->LookupRecord("ID", Variant(12), "NAME;GRP", result));
  EXPECT_EQ(std::string(AnsiToUtf8(VarToStr(result.GetElement({0})))), "Row 12");
  EXPECT_EQ(Id(f), 400);
}

TEST_F(BDatasetDb, ServerFilterAndFindThroughTheFilterCursor) {
  auto* d = NewDataset();
  d->SetFilter("NAME = 'Sm*'");
  d->SetFiltered(true);
  d->Open();
  EXPECT_NE(std::string(d->ServerSQL()).find("NAME STARTING 'Sm'"), std::string::npos) << d->ServerSQL();
  d->Last();
  EXPECT_EQ(d->RowNum(), 2);
  EXPECT_EQ(d->GetRecordCount(), 2);

  d->SetFiltered(false);
  EXPECT_EQ(d->GetRecordCount(), 1000);
  d->First();
  EXPECT_TRUE(d->FindRecord(true, true));
  EXPECT_EQ(Id(d), 3);
  EXPECT_TRUE(d->FindRecord(false, true));
  EXPECT_EQ(Id(d), 7);
  EXPECT_NE(d->FilterCursor(), nullptr);
  EXPECT_FALSE(d->FindRecord(false, true));
  EXPECT_EQ(Id(d), 7);
  EXPECT_TRUE(d->FindRecord(false, false));
  EXPECT_EQ(Id(d), 3);
}

TEST_F(BDatasetDb, AnImmediateInsertNamesAColumnTheUserSetToNull) {
  auto* d = NewDataset();
  d->SetRequestLive(true);
  d->SetPreparedInserts(false);
  TIB_StringList defaults;
  defaults.SetText("T.NOTE=given\r\nT.AMOUNT=1");
  d->SetDefaultValues(&defaults);
  d->Open();
  d->Append();
  d->FieldByName("ID")->SetAsInteger(9001);
  d->FieldByName("NOTE")->SetIsNull(true);
  d->Post();
  // NOTE was set to null by the user: the server default 'dflt' must not replace it.
  EXPECT_EQ(Read("select coalesce(NOTE, '<null>') from T where ID = 9001"), "<null>");
  EXPECT_EQ(Read("select AMOUNT from T where ID = 9001"), "1");
  EXPECT_NE(std::string(d->UpdateSQL()->LastImmediateSQL()).find("NOTE"), std::string::npos);

  // A column nobody touched is left out and takes the server default.
  TIB_StringList none;
  d->SetDefaultValues(&none);
  d->Append();
  d->FieldByName("ID")->SetAsInteger(9002);
  d->Post();
  EXPECT_EQ(Read("select NOTE from T where ID = 9002"), "dflt");
}

TEST_F(BDatasetDb, RefreshKeepsTheRowNumberAndAParameterChangeRefreshes) {
  auto* d = NewDataset("select ID, NAME, GRP from T where GRP = :G order by ID");
  d->Prepare();
  d->ParamByName("G")->SetAsInteger(3);
  d->Open();
  d->SetRowNum(40);
  EXPECT_EQ(Id(d), 393);
  d->Refresh();
  EXPECT_EQ(d->RowNum(), 40);
  EXPECT_EQ(Id(d), 393);
  d->ParamByName("G")->SetAsInteger(4);
  EXPECT_TRUE(d->Active());
  EXPECT_EQ(d->FieldByName("GRP")->GetAsInteger(), 4);
  d->Last();
  EXPECT_EQ(d->RowNum(), 100);
}

TEST_F(BDatasetDb, LocateCursorConditionForThreeFieldsNearest) {
  auto* d = NewDataset();
  d->Prepare();
  TIB_LocateCursor lc(nullptr, d);
  lc.SetLocateLinks("GRP;NAME;ID");
  lc.SetValues(VarArrayOf({Variant(3), Variant("Row 13"), Variant(13)}));
  lc.SetNearest(true);
  std::vector<AnsiString> lines;
  AnsiString order_by;
  lc.BuildCondition(lines, order_by);
  std::string text;
  for (const AnsiString& l : lines) text += std::string(l) + " ";
  EXPECT_EQ(text,
            "( ( ( T.GRP > :LOC_2 ) OR ( ( T.GRP = :LOC_2 ) AND ( ( T.NAME > :LOC_1 ) OR ( ( T.NAME = :LOC_1 ) "
            "AND ( ( T.ID >= :LOC_0 ) ) ) ) ) ) ) ");
  EXPECT_EQ(std::string(order_by), "ORDER BY T.GRP ASC\r\n       , T.NAME ASC\r\n       , T.ID ASC");
  lc.SetValues(VarArrayOf({Variant::MakeNull(), Variant("x"), Variant(1)}));
  EXPECT_EQ(ErrorOf([&] { lc.BuildCondition(lines, order_by); }),
            AnsiToUtf8(IB_Message(TIB_Msg::LocateNearestNull)));
}

TEST_F(BDatasetDb, DataLinksSeeEveryRowTheDatasetMovesTo) {
  auto* d = NewDataset();
  TIB_DataSource source(nullptr);
  source.SetDataset(d);
  TIB_DataLink link(nullptr);
  link.SetDataSource(&source);
  std::vector<int32_t> seen;
  link.OnDataChange = [&](TIB_DataLink*, TIB_DataSource*, TIB_Column* field) {
    if (field == nullptr && d->Fields()->RowState() != rsEmpty) seen.push_back(Id(d));
  };
  d->Open();
  d->Next();
  d->SetRowNum(50);
  d->Prior();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 49);
  EXPECT_NE(std::find(seen.begin(), seen.end(), 2), seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), 50), seen.end());
  link.SetDataSource(nullptr);
  source.SetDataset(nullptr);
}

TEST_F(BDatasetDb, KeyLinksComeFromThePrimaryKeyOrTheDbKey) {
  auto* d = NewDataset("select ID, NAME from T order by ID", nullptr);
  d->Open();
  EXPECT_EQ(std::string(d->KeyLinks()->Text()), "T.ID\r\n");
  EXPECT_TRUE(d->KeysReadable());

  // Without a primary key the rows are keyed by their db-key, which the select list gets.
  auto* n = NewDataset("select A, B from NOPK order by A, B", nullptr);
  n->SetRequestLive(true);
  n->Open();
  EXPECT_TRUE(n->KeyLinksByDBKey());
  EXPECT_TRUE(n->KeysReadable());
  n->SetRowNum(3);
  EXPECT_EQ(AnsiToUtf8(n->FieldByName("B")->GetAsString()), "two again");
  n->RefreshCurrentRow();
  EXPECT_EQ(AnsiToUtf8(n->FieldByName("B")->GetAsString()), "two again");
  n->Edit();
  n->FieldByName("B")->SetAsString("changed");
  n->Post();
  EXPECT_EQ(Read("select count(*) from NOPK where B = 'changed'"), "1");
  EXPECT_EQ(Read("select count(*) from NOPK where B = 'two'"), "1");
}

class MasterDetail : public BDatasetDb {
 protected:
  void SetUp() override {
    BDatasetDb::SetUp();
    master_ = NewDataset("select ID, NAME from T_M order by ID", nullptr);
    master_->SetRequestLive(true);
    source_ = new TIB_DataSource(&form_);
    source_->SetDataset(master_);
    detail_ = NewDataset("select ID, M_ID, TXT from T_D order by ID", nullptr);
    detail_->SetRequestLive(true);
    TIB_StringList links;
    links.SetText("T_D.M_ID=T_M.ID");
    detail_->SetMasterLinks(&links);
    detail_->SetMasterSource(source_);
  }
  std::vector<int32_t> DetailIds() {
    std::vector<int32_t> ids;
    detail_->First();
    while (!detail_->Eof()) {
      ids.push_back(Id(detail_));
      detail_->Next();
    }
    return ids;
  }
  TIB_BDataset* master_ = nullptr;
  TIB_BDataset* detail_ = nullptr;
  TIB_DataSource* source_ = nullptr;
};

TEST_F(MasterDetail, MovingTheMasterRefreshesTheDetailThroughItsLinkParameter) {
  master_->Open();
  detail_->Open();
  EXPECT_NE(std::string(detail_->ServerSQL()).find("MLNK_M_ID_0"), std::string::npos) << detail_->ServerSQL();
  EXPECT_EQ(DetailIds(), (std::vector<int32_t>{11, 12}));
  master_->Next();
  EXPECT_EQ(detail_->ParamByName("MLNK_M_ID_0")->GetAsInteger(), 2);
  EXPECT_EQ(DetailIds(), (std::vector<int32_t>{21, 22, 23}));
  master_->Next();
  EXPECT_TRUE(detail_->Active());
  EXPECT_EQ(detail_->BufferRowCount(), 0);

  // A new detail row takes its master's key.
  master_->First();
  detail_->Append();
  EXPECT_EQ(detail_->FieldByName("M_ID")->GetAsInteger(), 1);
  detail_->FieldByName("ID")->SetAsInteger(13);
  detail_->Post();
  EXPECT_EQ(Read("select M_ID from T_D where ID = 13"), "1");

  TIB_DataSource* of_detail = new TIB_DataSource(&form_);
  of_detail->SetDataset(detail_);
  EXPECT_EQ(ErrorOf([&] { master_->SetMasterSource(of_detail); }),
            AnsiToUtf8(IB_Message(TIB_Msg::CircularReference)));
}

TEST_F(MasterDetail, DeletingTheMasterRevertsTheDetailsCachedChangesForIt) {
  detail_->SetCachedUpdates(true);
  master_->Open();
  detail_->Open();
  master_->Next();  // master 2
  detail_->First();
  detail_->Edit();
  detail_->FieldByName("TXT")->SetAsString("edited");
  detail_->Post();
  detail_->Append();
  detail_->FieldByName("ID")->SetAsInteger(24);
  detail_->Post();
  master_->First();  // master 1: its own cached change stays
  detail_->First();
  detail_->Edit();
  detail_->FieldByName("TXT")->SetAsString("kept");
  detail_->Post();
  EXPECT_EQ(detail_->NodeList()->ModifiedCount(), 2);
  EXPECT_EQ(detail_->NodeList()->InsertedCount(), 1);

  master_->Next();  // master 2 again: its cached rows are shown (the cached insert first)
  EXPECT_EQ(DetailIds(), (std::vector<int32_t>{24, 21, 22, 23}));
  // Master 2 goes (its rows in T_D would block the delete: remove them on the server).
  TIB_DSQL del(nullptr);
  del.SetIB_Connection(conn_);
  del.SetIB_Transaction(tr_);
  del.SQL()->SetText("delete from T_D where M_ID = 2");
  del.Execute();
  del.SetIB_Transaction(nullptr);
  master_->Delete();
  EXPECT_EQ(Read("select count(*) from T_M where ID = 2"), "0");
  // Nothing of master 2 is left to be sent; master 1's change is.
  EXPECT_EQ(detail_->NodeList()->InsertedCount(), 0);
  EXPECT_EQ(detail_->NodeList()->ModifiedCount(), 1);
  detail_->ApplyUpdates();
  EXPECT_EQ(Read("select TXT from T_D where ID = 11"), "kept");
  EXPECT_EQ(Read("select count(*) from T_D where ID = 24"), "0");
}

TEST_F(MasterDetail, ASearchingDetailAddsAnExistsConditionToItsMaster) {
  detail_->SetMasterSearch(true);
  detail_->OnPrepareSQL = [](TIB_Statement* s) {
    static_cast<TIB_Dataset*>(s)->WhereCriteria()->Add("T_D.TXT = 'd'");
  };
  detail_->Prepare();
  master_->Open();
  const std::string sql = master_->ServerSQL();
  EXPECT_NE(sql.find("EXISTS ( \r\n\r\nSELECT * from T_D\r\nWHERE T_D.M_ID=T_M.ID\r\n  AND T_D.TXT = 'd')"), std::string::npos) << sql;
  master_->Last();
  EXPECT_EQ(master_->RowNum(), 1);
  EXPECT_EQ(Id(master_), 2);

  // A detail without master links adds nothing.
  TIB_StringList none;
  detail_->SetMasterLinks(&none);
  detail_->Prepare();
  master_->Close();
  master_->InvalidateSQL();
  master_->Open();
  EXPECT_EQ(std::string(master_->ServerSQL()).find("EXISTS"), std::string::npos);
}

TEST_F(BDatasetDb, ASearchThatFindsNothingStaysInSearchMode) {
  auto* d = NewDataset("select ID, NAME from T2 order by ID", "T2.ID");
  d->BeginSearch();
  EXPECT_EQ(d->State(), dstSearch);
  EXPECT_TRUE(d->GetSearchActive());
  d->OnPrepareSQL = [](TIB_Statement* s) { static_cast<TIB_Dataset*>(s)->WhereCriteria()->Add("T2.ID < 0"); };
  d->InvalidateSQL();
  EXPECT_EQ(ErrorOf([&] { d->Post(); }), AnsiToUtf8(IB_Message(TIB_Msg::NoRecordFound)));
  EXPECT_EQ(d->State(), dstSearch);
  d->OnPrepareSQL = [](TIB_Statement* s) { static_cast<TIB_Dataset*>(s)->WhereCriteria()->Add("T2.ID > 8"); };
  d->InvalidateSQL();
  d->Post();
  EXPECT_EQ(d->State(), dstBrowse);
  d->Last();
  EXPECT_EQ(d->RowNum(), 2);
  d->PreventSearching = true;
  EXPECT_EQ(ErrorOf([&] { d->BeginSearch(); }), AnsiToUtf8(IB_Message(TIB_Msg::SearchNotAllowed)));
}

TEST_F(BDatasetDb, APositionOrderingReadsBackwardsBelowItsPosition) {
  auto* d = NewDataset("select ID, NAME from T");
  TIB_StringList items, links;
  items.SetText("BYID=ORDER BY ID;ORDER BY ID DESC");
  links.SetText("ID=ITEM=1;POS");
  d->SetOrderingItems(&items);
  d->SetOrderingLinks(&links);
  d->SetOrderingItemNo(1);
  d->Prepare();
  EXPECT_TRUE(d->OrderingRange());
  d->SetOrderingPosition("500");
  d->Open();
  EXPECT_EQ(d->RowNum(), 1);
  EXPECT_EQ(Id(d), 500);
  EXPECT_FALSE(d->GetBofFetched());
  d->SetRowNum(0);
  EXPECT_EQ(Id(d), 499);
  d->Prior();
  EXPECT_EQ(d->RowNum(), -1);
  EXPECT_EQ(Id(d), 498);
  d->SetRowNum(-2);
  EXPECT_EQ(Id(d), 497);
  d->SetRowNum(5);
  EXPECT_EQ(Id(d), 504);
  ASSERT_NE(d->ReverseDataset(), nullptr);
  EXPECT_NE(std::string(d->ReverseDataset()->SQL()->Text()).find("ID < :OLNK_ID"), std::string::npos)
      << d->ReverseDataset()->SQL()->Text();

  // From the start again: nothing lies before the first row.
  d->SetOrderingPosition("");
  EXPECT_EQ(Id(d), 1);
  EXPECT_TRUE(d->GetBofFetched());
}

TEST_F(BDatasetDb, ChangesAnnouncedByAnotherDatasetReachTheBuffer) {
  auto* writer = NewDataset("select ID, NAME from T order by ID", "T.ID");
  writer->SetRequestLive(true);
  writer->SetDMLCacheFlags(1 | 2 | 4);
  auto* reader = NewDataset("select ID, NAME from T order by ID", "T.ID");
  reader->SetDMLCacheFlags(8 | 16 | 32);
  writer->Open();
  reader->Open();
  reader->Last();
  reader->SetRowNum(3);
  ASSERT_EQ(Id(reader), 3);
  writer->SetRowNum(3);
  writer->Edit();
  writer->FieldByName("NAME")->SetAsString("new three");
  writer->Post();
  EXPECT_EQ(Name(reader->Fields()), "new three");
  writer->SetRowNum(4);
  writer->Delete();
  EXPECT_EQ(reader->BufferRowCount(), 999);
  reader->SetRowNum(4);
  EXPECT_EQ(Id(reader), 5);
}

TEST_F(BDatasetDb, ALookUpFollowsItsKeySourceAndWritesTheKeyBack) {
  auto* rows = NewDataset("select ID, M_ID, TXT from T_D order by ID", "T_D.ID");
  rows->SetRequestLive(true);
  TIB_DataSource* source = new TIB_DataSource(&form_);
  source->SetDataset(rows);
  auto* lookup = NewDataset("select ID, NAME from T_M order by ID", "T_M.ID=M_ID");
  lookup->SetKeySeeking(true);
  rows->Open();
  lookup->Open();
  lookup->SetKeySource(source);
  EXPECT_EQ(Id(lookup), 1);
  rows->SetRowNum(3);  // T_D 21, master 2
  EXPECT_EQ(Id(lookup), 2);
  EXPECT_EQ(AnsiToUtf8(lookup->FieldByName("NAME")->GetAsString()), "m2");

  // Scrolling the look-up writes its key into the key source's row, which starts an edit.
  lookup->SetRowNum(3);
  EXPECT_EQ(rows->State(), dstEdit);
  EXPECT_EQ(rows->FieldByName("M_ID")->GetAsInteger(), 3);
  rows->Cancel();
  EXPECT_EQ(rows->FieldByName("M_ID")->GetAsInteger(), 2);
}

TEST_F(MasterDetail, CachedDetailRowsFollowTheKeyOfAMasterBeingInserted) {
  detail_->SetCachedUpdates(true);
  master_->Open();
  detail_->Open();
  master_->Append();
  master_->FieldByName("ID")->SetAsInteger(10);
  detail_->Append();
  EXPECT_EQ(detail_->FieldByName("M_ID")->GetAsInteger(), 10);
  detail_->FieldByName("ID")->SetAsInteger(101);
  detail_->Post();
  master_->FieldByName("ID")->SetAsInteger(11);
  master_->FieldByName("NAME")->SetAsString("m11");
  master_->Post();
  detail_->ApplyUpdates();
  EXPECT_EQ(Read("select M_ID from T_D where ID = 101"), "11");
}

TEST_F(MasterDetail, CachedRowsOutOfViewAreSentWithTheirOwnValues) {
  detail_->SetCachedUpdates(true);
  master_->Open();
  detail_->Open();
  detail_->Append();
  detail_->FieldByName("ID")->SetAsInteger(15);
  detail_->FieldByName("TXT")->SetAsString("new");
  detail_->Post();
  detail_->First();
  detail_->Edit();
  detail_->FieldByName("TXT")->SetAsString("changed");
  detail_->Post();
  master_->Last();  // master 3: no detail rows in view, the cached ones are kept aside
  EXPECT_EQ(detail_->BufferRowCount(), 0);
  detail_->ApplyUpdates();
  EXPECT_EQ(Read("select M_ID || ':' || TXT from T_D where ID = 15"), "1:new");
  EXPECT_EQ(Read("select TXT from T_D where ID = 11"), "changed");
  EXPECT_EQ(Read("select count(*) from T_D where ID = 0"), "0");
}

TEST_F(BDatasetDb, ACustomUpdateThatChangedNoRowIsNotApplied) {
  auto* d = NewDataset("select ID, NAME from T order by ID", "T.ID");
  d->SetRequestLive(true);
  d->SetCachedUpdates(true);
  TIB_StringList edit;
  edit.SetText("update T set NAME = :NAME where ID = :OLD_ID");
  d->SetEditSQL(&edit);
  d->Open();
  d->SetRowNum(8);
  d->Edit();
  d->FieldByName("NAME")->SetAsString("cached");
  d->Post();
  // The row goes meanwhile (in the same transaction, as another writer's change would).
  TIB_DSQL del(nullptr);
  del.SetIB_Connection(conn_);
  del.SetIB_Transaction(tr_);
  del.SQL()->SetText("delete from T where ID = 8");
  del.Execute();
  del.SetIB_Transaction(nullptr);
  d->OnUpdateError = [](TComponent*, std::exception&, int32_t, int32_t& action) { action = nuaFail; };
  EXPECT_EQ(ErrorOf([&] { d->ApplyUpdates(); }), "Záznam nebyl nalezen, aby mohl být změněn");
  EXPECT_TRUE(d->UpdatesPending());
  EXPECT_EQ(d->NodeList()->ModifiedCount(), 1);
}

// A table without a primary key is keyed by its db-key: a bare star in the select list
// still opens, edits and keeps its rows.
TEST_F(BDatasetDb, SelectStarOnATableKeyedByItsDbKey) {
  for (const bool live : {false, true}) {
    SCOPED_TRACE(live);
    auto* d = NewDataset("select * from NOPK order by A, B", nullptr);
    d->SetRequestLive(live);
    d->Open();
    EXPECT_TRUE(d->KeyLinksByDBKey());
    EXPECT_EQ(d->FieldByName("B")->GetAsString(), "one");
    d->Last();
    EXPECT_EQ(d->RowNum(), 3);
    EXPECT_EQ(d->FieldByName("B")->GetAsString(), "two again");
    if (live) {
      d->Edit();
      d->FieldByName("B")->SetAsString("star");
      d->Post();
      EXPECT_EQ(Read("select count(*) from NOPK where B = 'star'"), "1");
    }
  }
}

// The record filter applies whether rows come whole or are read by key when shown.
TEST_F(BDatasetDb, TheRecordFilterHidesRowsInBothFetchModes) {
  for (const bool whole : {true, false}) {
    SCOPED_TRACE(whole);
    auto* d = NewDataset("select ID, NAME from T where ID <= 20 order by ID");
    d->SetFetchWholeRows(whole);
    d->SetOnFilterRecord([](TIB_Row* Row, bool& Accept) { Accept = Row->ColumnByName("ID")->GetAsInteger() % 2 == 0; });
    d->SetFiltered(true);
    d->Open();
    EXPECT_EQ(d->KeysOnly(), !whole);
    std::vector<int32_t> ids;
    for (d->First(); !d->Eof(); d->Next()) ids.push_back(Id(d));
    EXPECT_EQ(ids, (std::vector<int32_t>{2, 4, 6, 8, 10, 12, 14, 16, 18, 20}));
    EXPECT_EQ(d->RowNum(), 11);
    d->First();
    EXPECT_EQ(Name(d->Fields()), "Žluťák");
    // Switched off, the hidden rows show again.
    d->SetFiltered(false);
    d->First();
    EXPECT_EQ(Id(d), 1);
    d->Last();
    EXPECT_EQ(d->RowNum(), 20);
  }
}

// Read from an ordering position, the ends are the ends of the whole result: First and
// Last read again from the start or the end, whatever the position.
TEST_F(BDatasetDb, FirstAndLastFromAnOrderingPositionReachTheEndsOfTheResult) {
  struct Case {
    const char* position;
    int32_t shown;  // the row shown after opening; 0: none
  };
  for (const Case& c : {Case{"10", 10}, Case{"100", 0}}) {
    SCOPED_TRACE(c.position);
    auto* d = NewDataset("select ID, NAME from T where ID <= 20");
    TIB_StringList items, links;
    items.SetText("BYID=ORDER BY ID;ORDER BY ID DESC");
    links.SetText("ID=ITEM=1;POS");
    d->SetOrderingItems(&items);
    d->SetOrderingLinks(&links);
    d->SetOrderingItemNo(1);
    d->Prepare();
    d->SetOrderingPosition(c.position);
    d->Open();
    if (c.shown == 0) {
      EXPECT_TRUE(d->Eof());
    } else {
      EXPECT_EQ(Id(d), c.shown);
    }
    // Rows before the position exist: the result is not empty.
    EXPECT_FALSE(d->ProbeIsEmpty());
    d->First();
    EXPECT_FALSE(d->Eof());
    EXPECT_EQ(Id(d), 1);
    d->Prior();
    EXPECT_TRUE(d->Bof());
    d->Last();
    EXPECT_FALSE(d->Eof());
    EXPECT_EQ(Id(d), 20);
    d->Prior();
    EXPECT_EQ(Id(d), 19);
    d->Next();
    d->Next();
    EXPECT_TRUE(d->Eof());
    EXPECT_TRUE(d->GotoEof());
    EXPECT_TRUE(d->Eof());
    EXPECT_TRUE(d->GotoBof());
    EXPECT_TRUE(d->Bof());
    d->Next();
    EXPECT_EQ(Id(d), 1);
  }
}

TEST_F(BDatasetDb, ProbeIsEmptyOnAnEmptyResult) {
  auto* d = NewDataset("select ID from EMPTY_T", "EMPTY_T.ID");
  d->Open();
  EXPECT_TRUE(d->ProbeIsEmpty());
  EXPECT_TRUE(d->Bof());
  EXPECT_TRUE(d->Eof());
  auto* e = NewDataset();
  e->Open();
  EXPECT_FALSE(e->ProbeIsEmpty());
  EXPECT_EQ(e->RowNum(), 1);
}

}  // namespace
}  // namespace pelvar::test
