// Generated and custom DML of the update SQL against real Firebird 3 (embedded): the
// texts of the kept UPDATE, lock, DELETE and INSERT statements, their execution with the
// field row's current and old values, the immediate forms, the row-count errors and the
// announcement of a change. The dataset is stood in for by a singleton SELECT whose field
// row holds the edited row, and a second one whose field row is the key row. Computed
// columns are left out of the SELECT: telling them apart needs the schema facts.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../dbclient/connection_calls.h"
#include "dbengine/IB_Components_dataset.h"
#include "dbengine/IB_Components_updatesql.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"

namespace pelvar::test {
namespace {

// The editing side of a dataset as the update SQL sees it.
class FakeDataset : public TIB_UpdateSQLTarget {
 public:
  TIB_Statement* UpdateStatement() override { return fields; }
  TIB_Row* UpdateKeyRow() override { return keys ? keys->Fields() : nullptr; }
  bool CachedUpdatesMode() const override { return cached; }
  AnsiString UpdateCursorName() override { return cursor; }
  uint8_t DMLCacheFlags() const override { return flags; }
  void AnnounceDMLCacheItem(TIB_UpdateKind Kind) override { announced.push_back(Kind); }
  void SetPostSucceeded() override { ++succeeded; }

  TIB_Statement* fields = nullptr;
  TIB_Statement* keys = nullptr;
  bool cached = false;
  AnsiString cursor = "C1";
  uint8_t flags = ukEdit | ukInsert | ukDelete;
  std::vector<TIB_UpdateKind> announced;
  int succeeded = 0;
};

const char* kSelect =
    "select P.ID, P.NAME, P.PRICE, P.BORN, P.MEMO, P.\"Quoted col\" from PRACTICE P "
    "where P.ID = :ID";

class UpdateSqlDb : public ::testing::Test {
 protected:
  void SetUp() override {
    fb_ = FbTestDb::Create(FbTestDb::Mode::Embedded);
    fb_->RunSql(
        "create table PRACTICE (ID integer not null primary key, NAME varchar(40),\n"
        "  PRICE numeric(9,2), BORN date, MEMO blob sub_type text,\n"
        "  \"Quoted col\" varchar(10) default 'dflt', TWICE computed by (ID * 2));\n"
        "commit;\n"
        "insert into PRACTICE values (1, 'Žluťoučký kůň', 12.50, '2020-02-29', 'Poznámka', 'q1');\n"
        "insert into PRACTICE values (2, 'Běla', 3.00, '2021-01-01', null, null);\n"
        "commit;\n"
        "set term ^ ;\n"
        "create procedure ADD_PRACTICE (NAME varchar(40)) returns (ID integer, PRICE numeric(9,2)) as\n"
        "begin ID = 100; PRICE = 7.25; insert into PRACTICE (ID, NAME, PRICE) values (:ID, :NAME, :PRICE); end^\n"
        "set term ; ^\n"
        "commit;\n");
    InstallClientLibraryNameProvider();
    session_ = new TIB_Session(&form_);
    conn_ = new TIB_Connection(&form_);
    conn_->SetDatabaseName(CZ(fb_->ConnectString()));
    conn_->SetUsername(kSysdbaUser);
    conn_->SetPassword(kSysdbaPassword);
    conn_->SetCharSet("WIN1250");
    conn_->SetSQLDialect(3);
    conn_->Open();
    tr_ = new TIB_Transaction(&form_);
    tr_->SetIB_Connection(conn_);
    ds_.fields = Load(kSelect, 1);
    ds_.keys = Load("select P.ID from PRACTICE P where P.ID = :ID", 1);
    upd_ = new TIB_UpdateSQL(&form_, &ds_);
  }
  void TearDown() override {
    while (form_.ComponentCount() > 0) delete form_.Components(form_.ComponentCount() - 1);
    fb_.reset();
    ClientLibraryNameHook = nullptr;
  }

  TIB_DSQL* Load(const std::string& sql, int id) {
    auto* st = new TIB_DSQL(&form_);
    st->SetIB_Connection(conn_);
    st->SetIB_Transaction(tr_);
    st->SQL()->SetText(CZ(sql));
    st->ParamByName("ID")->SetAsInteger(id);
    st->Execute();
    EXPECT_TRUE(st->OutputRowPresent()) << sql;
    return st;
  }

  // The row as a fresh statement in the same transaction reads it now.
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

  TIB_Column* F(const char* name) { return ds_.fields->FieldByName(name); }

  std::unique_ptr<FbTestDb> fb_;
  TComponent form_{nullptr};
  TIB_Session* session_ = nullptr;
  TIB_Connection* conn_ = nullptr;
  TIB_Transaction* tr_ = nullptr;
  FakeDataset ds_;
  TIB_UpdateSQL* upd_ = nullptr;
};

TEST_F(UpdateSqlDb, GeneratedTextsOfSearchedStatements) {
  upd_->SetSearchedEdits(true);
  upd_->SetSearchedDeletes(true);
  EXPECT_EQ(AnsiToUtf8(upd_->GetEditStatement()->SQL()->Text()),
            "UPDATE PRACTICE P\r\n"
            "  SET P.ID = :ID\r\n"
            "    , P.NAME = :NAME\r\n"
            "    , P.PRICE = :PRICE\r\n"
            "    , P.BORN = :BORN\r\n"
            "    , P.MEMO = :MEMO\r\n"
            "    , P.\"Quoted col\" = :\"Quoted col\"\r\n"
            "WHERE P.ID = :OLD.ID\r\n");
  EXPECT_EQ(AnsiToUtf8(upd_->GetLockStatement()->SQL()->Text()),
            "UPDATE PRACTICE P SET P.ID = P.ID\r\nWHERE P.ID = :OLD.ID\r\n");
  EXPECT_EQ(AnsiToUtf8(upd_->GetDeleteStatement()->SQL()->Text()),
            "DELETE FROM PRACTICE P \r\nWHERE P.ID = :OLD.ID\r\n");
  EXPECT_EQ(AnsiToUtf8(upd_->GetInsertStatement()->SQL()->Text()),
            "INSERT INTO PRACTICE\r\n( ID\r\n, NAME\r\n, PRICE\r\n, BORN\r\n, MEMO\r\n, \"Quoted col\" )\r\n"
            "VALUES \r\n( :ID\r\n, :NAME\r\n, :PRICE\r\n, :BORN\r\n, :MEMO\r\n, :\"Quoted col\" )\r\n");
  // All four were prepared by the server.
  for (TIB_Statement* st : {upd_->GetEditStatement(), upd_->GetLockStatement(),
                            upd_->GetDeleteStatement(), upd_->GetInsertStatement()})
    EXPECT_TRUE(st->Prepared());
}

TEST_F(UpdateSqlDb, CursorFormsEndWithCurrentOf) {
  // The stand-in dataset declares no cursor: the server refuses the prepare, naming it.
  upd_->SetSearchedEdits(false);
  upd_->SetSearchedDeletes(false);
  EXPECT_THROW(upd_->GetEditStatement(), EIB_ISCError);
  EXPECT_THROW(upd_->GetDeleteStatement(), EIB_ISCError);
  TIB_Statement* edit = nullptr;
  TIB_Statement* del = nullptr;
  for (int i = 0; i < upd_->ComponentCount(); ++i) {
    auto* st = dynamic_cast<TIB_Statement*>(upd_->Components(i));
    if (st && AnsiPos("UPDATE", st->SQL()->Text()) == 1) edit = st;
    if (st && AnsiPos("DELETE", st->SQL()->Text()) == 1) del = st;
  }
  ASSERT_TRUE(edit && del);
  EXPECT_NE(edit->SQL()->Text().find("\r\nWHERE CURRENT OF C1"), std::string::npos);
  EXPECT_EQ(del->SQL()->Text(), "DELETE FROM PRACTICE P \r\nWHERE CURRENT OF C1\r\n");
}

TEST_F(UpdateSqlDb, CursorFormsChangeTheRowUnderAnOpenCursor) {
  auto* cursor = new TIB_Cursor(&form_);
  cursor->SetIB_Connection(conn_);
  cursor->SetIB_Transaction(tr_);
  cursor->SQL()->SetText("select P.ID, P.NAME, P.PRICE from PRACTICE P order by P.ID for update");
  // Its FOR UPDATE makes the cursor live; it only stands in for the dataset here, so it
  // must not start edits of its own when the test assigns its columns.
  cursor->SetPreventEditing(true);
  cursor->Open();
  ASSERT_FALSE(cursor->Eof());
  ds_.fields = cursor;
  ds_.cursor = cursor->CursorName();
  ASSERT_FALSE(ds_.cursor.empty());
  TIB_UpdateSQL* upd = new TIB_UpdateSQL(&form_, &ds_);

  // Kept UPDATE by cursor position.
  upd->SetPreparedEdits(true);
  cursor->FieldByName("NAME")->SetAsString(CZ("Přes kurzor"));
  upd->ExecuteEdit();
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 1"), "Přes kurzor");

  // Immediate UPDATE by cursor position writes only the modified column of the relation.
  cursor->Next();
  ASSERT_EQ(cursor->FieldByName("ID")->GetAsInteger(), 2);
  upd->SetPreparedEdits(false);
  cursor->FieldByName("PRICE")->SetAsString("4");
  upd->ExecuteEdit();
  EXPECT_EQ(AnsiToUtf8(upd->LastImmediateSQL()),
            "UPDATE PRACTICE\r\n  SET PRICE = ?\r\nWHERE CURRENT OF " + std::string(ds_.cursor));
  EXPECT_EQ(Read("select cast(PRICE as varchar(20)) from PRACTICE where ID = 2"), "4.00");
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 2"), "Běla");

  // Kept DELETE by cursor position.
  upd->ExecuteDelete();
  EXPECT_EQ(Read("select count(*) from PRACTICE where ID = 2"), "0");
  EXPECT_EQ(ds_.succeeded, 3);
  cursor->Close();
}

TEST_F(UpdateSqlDb, KeptEditWritesEveryTypeAndTheKeyByItsOldValue) {
  upd_->SetSearchedEdits(true);
  upd_->SetPreparedEdits(true);
  F("ID")->SetAsInteger(11);  // the key itself changes: the row is found by the old key
  F("NAME")->SetAsString(CZ("Příliš žluťoučký"));
  F("PRICE")->SetAsString(CZ("99,95"));
  F("BORN")->SetAsDate(EncodeDate(1999, 12, 31));
  F("MEMO")->SetAsString(CZ("Dlouhá poznámka ěščřžýáíé"));
  F("Quoted col")->SetAsString("qq");
  upd_->ExecuteEdit();
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 11"), "Příliš žluťoučký");
  EXPECT_EQ(Read("select cast(PRICE as varchar(20)) from PRACTICE where ID = 11"), "99.95");
  EXPECT_EQ(Read("select cast(BORN as varchar(20)) from PRACTICE where ID = 11"), "1999-12-31");
  EXPECT_EQ(Read("select MEMO from PRACTICE where ID = 11"), "Dlouhá poznámka ěščřžýáíé");
  EXPECT_EQ(Read("select \"Quoted col\" from PRACTICE where ID = 11"), "qq");
  EXPECT_EQ(Read("select count(*) from PRACTICE where ID = 1"), "0");
  EXPECT_EQ(ds_.succeeded, 1);
  ASSERT_EQ(ds_.announced.size(), 1u);
  EXPECT_EQ(ds_.announced[0], ukEdit);
  EXPECT_EQ(tr_->State(), tsActive);
}

TEST_F(UpdateSqlDb, KeptEditOfAVanishedRowRaisesAndAnnouncesNothing) {
  upd_->SetSearchedEdits(true);
  upd_->SetPreparedEdits(true);
  Read("select 1 from rdb$database");
  TIB_DSQL* del = new TIB_DSQL(&form_);
  del->SetIB_Connection(conn_);
  del->SetIB_Transaction(tr_);
  del->SQL()->SetText("delete from PRACTICE where ID = 1");
  del->Execute();
  F("NAME")->SetAsString("x");
  try {
    upd_->ExecuteEdit();
    FAIL() << "no error";
  } catch (const EIB_DatasetError& e) {
    EXPECT_EQ(AnsiToUtf8(e.Message()), "Záznam nebyl nalezen, aby mohl být změněn");
  }
  EXPECT_EQ(ds_.succeeded, 0);
  EXPECT_TRUE(ds_.announced.empty());
}

TEST_F(UpdateSqlDb, ImmediateChangesOfAVanishedRowRaiseAndAnnounceNothing) {
  // Another attachment deletes the row before the change reaches the server; the
  // searched statements then match nothing, which must not pass for a change.
  TIB_Connection other(nullptr);
  other.SetDatabaseName(CZ(fb_->ConnectString()));
  other.SetUsername(kSysdbaUser);
  other.SetPassword(kSysdbaPassword);
  other.SetSQLDialect(3);
  other.Open();
  {
    TIB_Transaction tr(nullptr);
    tr.SetIB_Connection(&other);
    TIB_DSQL del(nullptr);
    del.SetIB_Connection(&other);
    del.SetIB_Transaction(&tr);
    del.SQL()->SetText("delete from PRACTICE where ID = 1");
    del.Execute();
    tr.Commit();
    del.SetIB_Transaction(nullptr);
  }
  upd_->SetSearchedEdits(true);
  F("NAME")->SetAsString("x");
  auto error = [](const std::function<void()>& Action) -> std::string {
    try {
      Action();
    } catch (const EIB_DatasetError& e) {
      return AnsiToUtf8(e.Message());
    }
    return "<no error>";
  };
  EXPECT_EQ(error([&] { upd_->ExecuteEdit(); }), "Záznam nebyl nalezen, aby mohl být změněn");

  // Cached updates address the row by its old values, both for edits and deletes.
  ds_.cached = true;
  TIB_UpdateSQL* cached = new TIB_UpdateSQL(&form_, &ds_);
  cached->SetSearchedEdits(true);
  cached->SetSearchedDeletes(true);
  EXPECT_EQ(error([&] { cached->ExecuteEdit(); }), "Záznam nebyl nalezen, aby mohl být změněn");
  EXPECT_EQ(error([&] { cached->ExecuteDelete(); }), "Záznam nebyl nalezen, aby mohl být smazán");
  EXPECT_EQ(ds_.succeeded, 0);
  EXPECT_TRUE(ds_.announced.empty());

  // A row that is there is still changed and reported once.
  ds_.fields = Load(kSelect, 2);
  ds_.fields->FieldByName("NAME")->SetAsString("B3");
  cached->ExecuteEdit();
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 2"), "B3");
  EXPECT_EQ(ds_.succeeded, 1);
  EXPECT_EQ(ds_.announced, std::vector<TIB_UpdateKind>{ukEdit});
}

TEST_F(UpdateSqlDb, ImmediateEditWritesOnlyModifiedColumns) {
  upd_->SetSearchedEdits(true);
  // Nothing modified: nothing runs, nothing is reported.
  upd_->ExecuteEdit();
  EXPECT_EQ(ds_.succeeded, 0);
  EXPECT_TRUE(upd_->LastImmediateSQL().empty());

  F("NAME")->SetAsString(CZ("Čenda"));
  F("BORN")->SetIsNull(true);
  F("MEMO")->SetAsString(CZ("Kočka přede"));
  upd_->ExecuteEdit();
  EXPECT_EQ(AnsiToUtf8(upd_->LastImmediateSQL()),
            "UPDATE PRACTICE P\r\n SET NAME = ?\r\n   , BORN = ?\r\n   , MEMO = ?\r\nWHERE P.ID = ?");
  EXPECT_EQ(Read("select MEMO from PRACTICE where ID = 1"), "Kočka přede");
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 1"), "Čenda");
  EXPECT_EQ(Read("select coalesce(cast(BORN as varchar(20)), 'NULL') from PRACTICE where ID = 1"), "NULL");
  EXPECT_EQ(Read("select cast(PRICE as varchar(20)) from PRACTICE where ID = 1"), "12.50");
  EXPECT_EQ(ds_.succeeded, 1);
}

TEST_F(UpdateSqlDb, KeptInsertAndImmediateInsertLeaveNullsToTheServer) {
  // Kept insert writes every writable column, nulls included.
  F("ID")->SetAsInteger(5);
  F("NAME")->SetAsString(CZ("Nový pacient"));
  F("Quoted col")->SetIsNull(true);
  upd_->ExecuteInsert();
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 5"), "Nový pacient");
  EXPECT_EQ(Read("select coalesce(\"Quoted col\", 'NULL') from PRACTICE where ID = 5"), "NULL");
  EXPECT_FALSE(upd_->RefreshAfterInsert());

  // The immediate insert names a column the user set to null: the server default must
  // not replace it. (A column left untouched is left out; see the buffered dataset's test.)
  upd_->SetPreparedInserts(false);
  F("ID")->SetAsInteger(6);
  upd_->ExecuteInsert();
  EXPECT_EQ(Read("select coalesce(\"Quoted col\", 'NULL') from PRACTICE where ID = 6"), "NULL");
  EXPECT_EQ(ds_.succeeded, 2);
  EXPECT_EQ(ds_.announced, (std::vector<TIB_UpdateKind>{ukInsert, ukInsert}));
}

// The dataset's statement keeps an immediate INSERT text prepared, so the next row
// that names the same columns runs it again; results, failures and announcements are
// those of a text prepared every time, and the kept text goes with the preparation.
// (Which columns are named is the buffered dataset's test.)
TEST_F(UpdateSqlDb, ImmediateInsertsStayPreparedForTheNextRow) {
  upd_->SetPreparedInserts(false);
  TIB_Statement* st = ds_.fields;
  for (int id = 10; id < 16; ++id) {
    F("ID")->SetAsInteger(id);
    F("NAME")->SetAsString(CZ(id % 2 == 0 ? "sudý" : "lichý"));
    F("Quoted col")->SetIsNull(true);
    upd_->ExecuteInsert();
  }
  EXPECT_EQ(st->KeptImmediateCount(), 1);
  EXPECT_EQ(Read("select count(*) from PRACTICE where ID between 10 and 15 and \"Quoted col\" is null"), "6");
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 14"), "sudý");
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 15"), "lichý");
  // A refused row raises as before and leaves the kept text usable.
  F("ID")->SetAsInteger(10);
  EXPECT_THROW(upd_->ExecuteInsert(), EIB_ISCError);
  F("ID")->SetAsInteger(16);
  F("NAME")->SetAsString(CZ("dál"));
  upd_->ExecuteInsert();
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 16"), "dál");
  EXPECT_EQ(ds_.succeeded, 7);
  st->Unprepare();
  EXPECT_EQ(st->KeptImmediateCount(), 0);
}

TEST_F(UpdateSqlDb, KeptDeleteByKeyAndNotFound) {
  upd_->SetSearchedDeletes(true);
  upd_->ExecuteDelete();
  EXPECT_EQ(Read("select count(*) from PRACTICE where ID = 1"), "0");
  try {
    upd_->ExecuteDelete();
    FAIL() << "no error";
  } catch (const EIB_DatasetError& e) {
    EXPECT_EQ(AnsiToUtf8(e.Message()), "Záznam nebyl nalezen, aby mohl být smazán");
  }
  EXPECT_EQ(ds_.succeeded, 1);
}

TEST_F(UpdateSqlDb, CustomEditBindsOldAndNewValuesByName) {
  upd_->EditSQL()->SetText("update PRACTICE set NAME = :NAME, ID = :ID where ID = :OLD_ID");
  F("ID")->SetAsInteger(21);
  F("NAME")->SetAsString(CZ("Vlastní"));
  upd_->ExecuteEdit();
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 21"), "Vlastní");

  upd_->EditSQL()->SetText("update PRACTICE set NAME = :NOSUCH where ID = :OLD.ID");
  try {
    upd_->ExecuteEdit();
    FAIL() << "no error";
  } catch (const EIB_DatasetError& e) {
    EXPECT_NE(AnsiToUtf8(e.Message()).find("Chybný uživatelský DML odkaz na sloupec: "),
              std::string::npos);
    EXPECT_NE(AnsiToUtf8(e.Message()).find("NOSUCH"), std::string::npos);
  }
  // The statement is left unprepared: asking again binds (and fails) again.
  EXPECT_THROW(upd_->GetEditStatement(), EIB_DatasetError);
}

TEST_F(UpdateSqlDb, SeveralRowsChangedRaiseAfterTheChangeIsAnnounced) {
  upd_->EditSQL()->SetText("update PRACTICE set PRICE = :PRICE");
  F("PRICE")->SetAsInteger(1);
  try {
    upd_->ExecuteEdit();
    FAIL() << "no error";
  } catch (const EIB_DatasetError& e) {
    EXPECT_EQ(AnsiToUtf8(e.Message()), "Několik záznamů opraveno");
  }
  EXPECT_EQ(ds_.succeeded, 1);
  EXPECT_EQ(ds_.announced, std::vector<TIB_UpdateKind>{ukEdit});
  EXPECT_EQ(tr_->State(), tsActive);
  EXPECT_EQ(Read("select count(*) from PRACTICE where PRICE = 1"), "2");
}

TEST_F(UpdateSqlDb, CustomInsertThroughAProcedureReturnsItsOutputs) {
  upd_->InsertSQL()->SetText("execute procedure ADD_PRACTICE :NAME");
  F("NAME")->SetAsString(CZ("Procedura"));
  upd_->ExecuteInsert();
  EXPECT_EQ(F("ID")->GetAsInteger(), 100);
  EXPECT_EQ(AnsiToUtf8(F("PRICE")->GetAsString()), "7,25");
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 100"), "Procedura");
  EXPECT_EQ(ds_.keys->Fields()->GetColumn(0)->GetAsInteger(), 100);
}

TEST_F(UpdateSqlDb, CachedUpdatesAddressTheRowByAllItsOldValues) {
  ds_.cached = true;
  ds_.fields = Load(kSelect, 2);  // "Quoted col" is null here
  TIB_UpdateSQL* upd = new TIB_UpdateSQL(&form_, &ds_);
  try {
    upd->ExecuteDelete();
    FAIL() << "no error";
  } catch (const EIB_DatasetError& e) {
    EXPECT_EQ(AnsiToUtf8(e.Message()), "Not ready yet");
  }
  // An immediate searched edit compares the null column with IS NULL and skips the blob.
  upd->SetSearchedEdits(true);
  ds_.fields->FieldByName("NAME")->SetAsString("B2");
  upd->ExecuteEdit();
  EXPECT_EQ(AnsiToUtf8(upd->LastImmediateSQL()),
            "UPDATE PRACTICE P\r\n SET NAME = ?\r\nWHERE P.ID = ?\r\n  AND P.NAME = ?\r\n"
            "  AND P.PRICE = ?\r\n  AND P.BORN = ?\r\n  AND P.\"Quoted col\" IS NULL");
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 2"), "B2");

  upd->SetSearchedDeletes(true);
  ds_.fields = Load(kSelect, 2);
  upd->ExecuteDelete();
  EXPECT_EQ(Read("select count(*) from PRACTICE where ID = 2"), "0");
}

TEST_F(UpdateSqlDb, ServerErrorsOfKeptStatementsReachTheDatasetAndAnnounceNothing) {
  int seen = 0;
  ds_.fields->SetOnError([&](TObject*, int32_t, TStringList*, TStringList*, int32_t, TStringList*,
                             TStringList*, bool&) { ++seen; });
  upd_->SetSearchedEdits(true);
  upd_->SetPreparedEdits(true);
  F("ID")->SetAsInteger(2);  // the primary key of the other row
  EXPECT_THROW(upd_->ExecuteEdit(), EIB_ISCError);
  EXPECT_GE(seen, 1);
  EXPECT_EQ(ds_.succeeded, 0);
  EXPECT_TRUE(ds_.announced.empty());
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 1"), "Žluťoučký kůň");
}

TEST_F(UpdateSqlDb, LockStatementTakesTheRowLock) {
  upd_->SetSearchedEdits(true);
  EXPECT_TRUE(upd_->ExecuteLock());
  EXPECT_TRUE(ds_.announced.empty());

  // A second transaction that does not wait cannot update the locked row.
  TIB_Transaction other(nullptr);
  other.SetIB_Connection(conn_);
  other.SetLockWait(false);
  TIB_DSQL upd(nullptr);
  upd.SetIB_Connection(conn_);
  upd.SetIB_Transaction(&other);
  upd.SQL()->SetText("update PRACTICE set NAME = 'x' where ID = 1");
  EXPECT_THROW(upd.Execute(), EIB_ISCError);
  upd.SetIB_Transaction(nullptr);
  other.Rollback();

  // A key that addresses no row takes no lock.
  ds_.keys->FieldByName("ID")->SetAsInteger(99);
  EXPECT_FALSE(upd_->ExecuteLock());
}

TEST_F(UpdateSqlDb, KeyRelationMustBeOneOfTheRows) {
  ds_.fields->SetKeyRelation("CUSTOMER");
  ds_.fields->Prepare();
  try {
    upd_->ExecuteDelete();
    FAIL() << "no error";
  } catch (const EIB_DatasetError& e) {
    EXPECT_EQ(AnsiToUtf8(e.Message()), "Chybná KeyRelation hodnota");
  }
}

}  // namespace
}  // namespace pelvar::test
