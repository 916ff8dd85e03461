// Editing through a forward-only dataset against real Firebird 3 (embedded): inserts with a
// generator key and defaults, edits, deletes, the required-column check, the rights, the
// error events with retry and abort, and the order of the editing events.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../dbclient/connection_calls.h"
#include "dbengine/IB_Components_dataset.h"
#include "dbengine/IB_Components_updatesql.h"
#include "platform/sysutils.h"

namespace pelvar::test {
namespace {

class DatasetEditDb : public ::testing::Test {
 protected:
  void SetUp() override {
    fb_ = FbTestDb::Create(FbTestDb::Mode::Embedded);
    fb_->RunSql(
        "create table PRACTICE (ID integer not null primary key, NAME varchar(40) not null,\n"
        "  PRICE numeric(9,2), NOTE varchar(10) default 'dflt' not null);\n"
        "create generator GEN_PRACTICE;\n"
        "set generator GEN_PRACTICE to 100;\n"
        "commit;\n"
        "insert into PRACTICE values (1, 'Žluťoučký kůň', 12.50, 'a');\n"
        "insert into PRACTICE values (2, 'Běla', 3.00, 'b');\n"
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
    ds_ = new TIB_Cursor(&form_);
    ds_->SetIB_Connection(conn_);
    ds_->SetIB_Transaction(tr_);
    ds_->SQL()->SetText("select ID, NAME, PRICE, NOTE from PRACTICE for update");
    ds_->SetRequestLive(true);
    Track(ds_->BeforeEdit, "BeforeEdit");
    Track(ds_->AfterEdit, "AfterEdit");
    Track(ds_->BeforeInsert, "BeforeInsert");
    Track(ds_->AfterInsert, "AfterInsert");
    Track(ds_->BeforeDelete, "BeforeDelete");
    Track(ds_->AfterDelete, "AfterDelete");
    Track(ds_->BeforePost, "BeforePost");
    Track(ds_->AfterPost, "AfterPost");
    Track(ds_->BeforeCancel, "BeforeCancel");
    Track(ds_->AfterCancel, "AfterCancel");
    Track(ds_->OnNewRecord, "OnNewRecord");
  }
  void TearDown() override {
    while (form_.ComponentCount() > 0) delete form_.Components(form_.ComponentCount() - 1);
    fb_.reset();
    ClientLibraryNameHook = nullptr;
  }

  void Track(TIB_DatasetEvent& Event, const std::string& Name) {
    Event = [this, Name](TIB_Dataset*) { events_.push_back(Name); };
  }

  // The value as a fresh statement in the same transaction reads it now.
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

  static std::string ErrorOf(const std::function<void()>& Action) {
    try {
      Action();
    } catch (const EIB_DatasetError& e) {
      return AnsiToUtf8(e.Message());
    }
    return "<no error>";
  }

  TIB_Column* F(const char* name) { return ds_->FieldByName(name); }

  std::unique_ptr<FbTestDb> fb_;
  TComponent form_{nullptr};
  TIB_Session* session_ = nullptr;
  TIB_Connection* conn_ = nullptr;
  TIB_Transaction* tr_ = nullptr;
  TIB_Cursor* ds_ = nullptr;
  std::vector<std::string> events_;
};

TEST_F(DatasetEditDb, InsertTakesTheKeyFromTheGeneratorAndDefaults) {
  TIB_StringList links;
  links.SetText("  ID=GEN_PRACTICE  \r\n");
  ds_->SetGeneratorLinks(&links);
  TIB_StringList defaults;
  defaults.SetText("PRACTICE.PRICE=9,50");
  ds_->SetDefaultValues(&defaults);
  ds_->Open();
  ds_->Insert();
  EXPECT_EQ(ds_->State(), dstInsert);
  EXPECT_EQ(F("ID")->GetAsInteger(), 101);
  EXPECT_EQ(AnsiToUtf8(F("PRICE")->GetAsString()), "9,5");
  EXPECT_FALSE(ds_->GetModified());
  F("NAME")->SetAsString(CZ("Nový pacient"));
  F("NOTE")->SetAsString("n");
  ds_->Post();
  EXPECT_EQ((std::vector<std::string>{"BeforeInsert", "OnNewRecord", "AfterInsert", "BeforePost", "AfterPost"}),
            events_);
  EXPECT_NE(ds_->GetState(), dstInsert);
  EXPECT_EQ(Read("select NAME || '/' || PRICE || '/' || NOTE from PRACTICE where ID = 101"),
            "Nový pacient/9.50/n");
  EXPECT_EQ(ds_->WorkFlags() & 1, 1);

  // A key already given is left alone.
  ds_->Insert();
  EXPECT_EQ(F("ID")->GetAsInteger(), 102);
  ds_->Cancel();
  EXPECT_EQ(Read("select count(*) from PRACTICE where ID = 102"), "0");
}

TEST_F(DatasetEditDb, EditPostsTheChangedRow) {
  ds_->Open();
  ASSERT_EQ(F("ID")->GetAsInteger(), 1);
  ds_->Edit();
  EXPECT_EQ(ds_->State(), dstEdit);
  F("NAME")->SetAsString(CZ("Opravený kůň"));
  ds_->Post();
  EXPECT_EQ(ds_->State(), dstBrowse);
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 1"), "Opravený kůň");
  EXPECT_EQ((std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost"}), events_);

  // Cancel restores the old values and runs its own pair of events.
  events_.clear();
  ds_->Edit();
  F("NAME")->SetAsString("x");
  ds_->Cancel();
  EXPECT_EQ(AnsiToUtf8(F("NAME")->GetAsString()), "Opravený kůň");
  EXPECT_EQ((std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel"}), events_);
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 1"), "Opravený kůň");
}

TEST_F(DatasetEditDb, AssigningAColumnInBrowseStartsAnEdit) {
  ds_->Open();
  F("PRICE")->SetAsString("4");
  EXPECT_EQ(ds_->State(), dstEdit);
  ds_->Post();
  EXPECT_EQ(Read("select cast(PRICE as varchar(20)) from PRACTICE where ID = 1"), "4.00");
  EXPECT_EQ((std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost"}), events_);

  // A read-only dataset refuses the change before anything is written.
  ds_->SetReadOnly(true);
  EXPECT_EQ(ErrorOf([&] { F("PRICE")->SetAsString("5"); }), "Dataset je jen pro čtení");
  EXPECT_EQ(ds_->State(), dstBrowse);
}

TEST_F(DatasetEditDb, EditWithoutARowInsertsAndAnUnchangedEditIsCancelled) {
  ds_->SQL()->SetText("select ID, NAME, PRICE, NOTE from PRACTICE where ID < 0 for update");
  ds_->Open();
  ds_->Edit();
  EXPECT_EQ(ds_->State(), dstInsert);
  ds_->Cancel();

  // Through CheckBrowseMode an untouched edit cancels rather than updating.
  ds_->SQL()->SetText("select ID, NAME, PRICE, NOTE from PRACTICE for update");
  ds_->Open();
  events_.clear();
  ds_->Edit();
  ds_->CheckBrowseMode();
  EXPECT_EQ(ds_->State(), dstBrowse);
  EXPECT_EQ((std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel"}), events_);
}

TEST_F(DatasetEditDb, DeleteWaitsForPostWithoutAutoPost) {
  ds_->Open();
  ds_->SetAutoPostDelete(false);
  ds_->Delete();
  EXPECT_EQ(ds_->State(), dstDelete);
  EXPECT_EQ(Read("select count(*) from PRACTICE where ID = 1"), "1");
  ds_->Post();
  EXPECT_EQ(Read("select count(*) from PRACTICE where ID = 1"), "0");
  EXPECT_EQ((std::vector<std::string>{"BeforeDelete", "AfterDelete", "BeforePost", "AfterPost"}), events_);

  // With the automatic post the row goes at once; AfterDelete follows the post.
  events_.clear();
  ds_->SetAutoPostDelete(true);
  ds_->Next();
  ASSERT_EQ(F("ID")->GetAsInteger(), 2);
  ds_->Delete();
  EXPECT_EQ(Read("select count(*) from PRACTICE"), "0");
  EXPECT_EQ((std::vector<std::string>{"BeforeDelete", "BeforePost", "AfterPost", "AfterDelete"}), events_);
}

TEST_F(DatasetEditDb, RequiredColumnsAreCheckedBeforeTheInsert) {
  ds_->Open();
  ds_->Insert();
  F("ID")->SetAsInteger(50);
  EXPECT_EQ(ErrorOf([&] { ds_->Post(); }), "NAME je povinná položka");
  EXPECT_EQ(ds_->State(), dstInsert);
  F("NAME")->SetAsString("Max");
  // NOTE has a server default, but the kept INSERT would write its null over it.
  EXPECT_EQ(ErrorOf([&] { ds_->Post(); }), "NOTE je povinná položka");
  F("NOTE")->SetAsString("m");
  ds_->Post();
  EXPECT_EQ(Read("select NAME || '/' || NOTE from PRACTICE where ID = 50"), "Max/m");
}

TEST_F(DatasetEditDb, RightsAndStateChecksRaiseTheirMessages) {
  ds_->Open();
  EXPECT_EQ(ErrorOf([&] { ds_->Post(); }), "Nemohu uložit současný záznam");
  EXPECT_EQ(ErrorOf([&] { ds_->Cancel(); }), "Nemohu stornovat současný záznam");
  ds_->SetPreventEditing(true);
  EXPECT_EQ(ErrorOf([&] { ds_->Edit(); }), "Nemohu opravit současný řádek");
  ds_->SetPreventInserting(true);
  EXPECT_EQ(ErrorOf([&] { ds_->Insert(); }), "Nemohu vložit nový řádek");
  ds_->SetPreventDeleting(true);
  EXPECT_EQ(ErrorOf([&] { ds_->Delete(); }), "Nemohu smazat současný řádek");
  ds_->SetPreventEditing(false);
  // RequestLive changes only while the dataset is closed.
  EXPECT_EQ(ErrorOf([&] { ds_->SetRequestLive(false); }),
            "Nemohu změnit hodnotu RequestLive během aktivního stavu");
  ds_->Close();
  ds_->SetRequestLive(false);
  ds_->Open();
  EXPECT_EQ(ErrorOf([&] { ds_->Edit(); }), "Nemohu opravit současný řádek");
  // A veto of the event wins.
  ds_->Close();
  ds_->SetRequestLive(true);
  ds_->Open();
  std::vector<TIB_DatasetCanModify> asked;
  ds_->OnGetCanModify = [&](TIB_Dataset*, TIB_DatasetCanModify Kind, bool& Can) {
    asked.push_back(Kind);
    Can = false;
  };
  EXPECT_EQ(ErrorOf([&] { ds_->Edit(); }), "Nemohu opravit současný řádek");
  EXPECT_EQ(asked, std::vector<TIB_DatasetCanModify>{cmEdit});
  EXPECT_EQ(ds_->State(), dstBrowse);
}

TEST_F(DatasetEditDb, PostErrorHandlerRetriesOrAbortsSilently) {
  ds_->Open();
  ds_->Insert();
  F("ID")->SetAsInteger(1);  // taken
  F("NAME")->SetAsString("Dup");
  F("NOTE")->SetAsString("d");
  int calls = 0;
  ds_->OnPostError = [&](TIB_Dataset*, EIB_Error&, TIB_DataAction& Action) {
    ++calls;
    F("ID")->SetAsInteger(77);
    Action = dacRetry;
  };
  ds_->Post();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 77"), "Dup");

  ds_->Open();
  ds_->Insert();
  F("ID")->SetAsInteger(2);
  F("NAME")->SetAsString("Dup2");
  F("NOTE")->SetAsString("d");
  ds_->OnPostError = [&](TIB_Dataset*, EIB_Error&, TIB_DataAction& Action) { Action = dacAbort; };
  EXPECT_THROW(ds_->Post(), EAbort);
  EXPECT_EQ(ds_->State(), dstInsert);
  ds_->OnPostError = nullptr;
  EXPECT_THROW(ds_->Post(), EIB_Error);
  ds_->Cancel();
  EXPECT_EQ(Read("select count(*) from PRACTICE where NAME = 'Dup2'"), "0");
}

TEST_F(DatasetEditDb, PostRetainingInsertUpdatesThenCancelDeletes) {
  // The forward-only cursor closes for an insert, so the row is addressed by its key.
  TIB_StringList edit, del;
  edit.SetText("update PRACTICE set NAME = :NAME where ID = :OLD_ID");
  del.SetText("delete from PRACTICE where ID = :OLD_ID");
  ds_->SetEditSQL(&edit);
  ds_->SetDeleteSQL(&del);
  ds_->Open();
  ds_->Insert();
  F("ID")->SetAsInteger(60);
  F("NAME")->SetAsString("R1");
  F("NOTE")->SetAsString("r");
  ds_->PostRetaining();
  EXPECT_EQ(ds_->State(), dstInsert);
  EXPECT_TRUE(ds_->PostedRetaining());
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 60"), "R1");
  F("NAME")->SetAsString("R2");
  ds_->PostRetaining();
  EXPECT_EQ(Read("select NAME from PRACTICE where ID = 60"), "R2");
  ds_->Cancel();
  EXPECT_EQ(Read("select count(*) from PRACTICE where ID = 60"), "0");
}

TEST_F(DatasetEditDb, PessimisticLockingRefusesALockWaitTransaction) {
  tr_->SetLockWait(true);
  ds_->PessimisticLocking = true;
  ds_->Open();
  EXPECT_EQ(ErrorOf([&] { ds_->Edit(); }), "Nemohu použít pesimistické zamykání s hodnotou LockWait");
  EXPECT_EQ(ds_->State(), dstBrowse);
}

}  // namespace
}  // namespace pelvar::test
