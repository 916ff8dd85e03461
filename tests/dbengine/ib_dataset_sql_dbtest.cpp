// What a dataset adds to its SQL, prepared on real Firebird 3 (embedded): key links
// defined from the schema (primary key, RDB$DB_KEY, aliases) and the key-field row, the
// ORDER BY of the ordering items with NULLS and PLAN, the WHERE criteria lists with their
// groups, master-link conditions, FOR UPDATE of a live dataset, section edits, and the
// generated DML that leaves COMPUTED BY columns out and never posts a failed generator
// read, and the server's column defaults for new rows. One small database serves the
// suite.
#include <gtest/gtest.h>

#include <memory>
#include <algorithm>
#include <string>
#include <vector>

#include "../dbclient/connection_calls.h"
#include "dbengine/IB_Components_dataset.h"
#include "dbengine/IB_Components_updatesql.h"
#include "platform/sysutils.h"

namespace pelvar::test {
namespace {

class DatasetSqlDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fb_ = FbTestDb::Create(FbTestDb::Mode::Embedded).release();
    fb_->RunSql(
        "create table K (ID integer not null primary key, NAME varchar(20), CITY varchar(20),\n"
        "  TWICE computed by (ID * 2));\n"
        "create index IX_KNAME on K (NAME);\n"
        "create table K2 (A integer not null, B integer not null, NOTE varchar(10),\n"
        "  primary key (A, B));\n"
        "create table N (X integer, Y varchar(5));\n"
        "create table ORDERS (ID integer not null primary key, CUST_ID integer, SHOP_ID integer);\n"
        "create table D (ID integer not null primary key, V varchar(10) default 'x',\n"
        "  F double precision default 1.5, TS timestamp default current_timestamp,\n"
        "  W varchar(5) default NULL, R varchar(5) default 'r' not null);\n"
        "create generator G_K;\n"
        "set generator G_K to 100;\n"
        "commit;\n"
        "set term ^ ;\n"
        "create procedure PD (B varchar(10), A integer = 5) returns (R integer) as\n"
        "begin R = A; end^\n"
        "set term ; ^\n"
        "commit;\n"
        "insert into K (ID, NAME, CITY) values (1, 'Adam', 'Brno');\n"
        "insert into K (ID, NAME, CITY) values (2, 'Bára', null);\n"
        "insert into K (ID, NAME, CITY) values (3, 'Cyril', 'Aš');\n"
        "insert into ORDERS values (10, 1, 5);\n"
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
    tr_ = new TIB_Transaction(&form_);
    tr_->SetIB_Connection(conn_);
  }
  void TearDown() override {
    while (form_.ComponentCount() > 0) delete form_.Components(form_.ComponentCount() - 1);
    ClientLibraryNameHook = nullptr;
  }

  TIB_Cursor* NewDataset(const std::string& sql, bool auto_keys = true) {
    auto* d = new TIB_Cursor(&form_);
    d->SetIB_Connection(conn_);
    d->SetIB_Transaction(tr_);
    d->SetKeyLinksAutoDefine(auto_keys);
    d->SQL()->SetText(CZ(sql));
    return d;
  }
  static std::string Text(TStrings* l) { return AnsiToUtf8(Trim(l->Text())); }
  static std::string Server(TIB_Statement* s) { return AnsiToUtf8(s->ServerSQL()); }

  static FbTestDb* fb_;
  TComponent form_{nullptr};
  TIB_Session* session_ = nullptr;
  TIB_Connection* conn_ = nullptr;
  TIB_Transaction* tr_ = nullptr;
};

FbTestDb* DatasetSqlDb::fb_ = nullptr;

template <typename F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return AnsiToUtf8(e.what());
  }
  return "<none>";
}

TEST_F(DatasetSqlDb, KeyLinksAreDefinedFromTheSchema) {
  struct Case {
    const char* sql;
    const char* links;
  } cases[] = {
      {"select ID, NAME from K", "K.ID"},
      {"select * from K", "K.ID"},
      {"select * from N", "N.RDB$DB_KEY"},
      {"select NAME from K", "K.RDB$DB_KEY"},  // the key column is not selected
      {"select A.ID, A.NAME from K A", "A.ID"},
      {"select B, A, NOTE from K2", "K2.A\r\nK2.B"},
  };
  for (const Case& c : cases) {
    TIB_Cursor* d = NewDataset(c.sql);
    d->Prepare();
    EXPECT_EQ(Text(d->KeyLinks()), c.links) << c.sql;
    EXPECT_TRUE(d->KeyLinksAutoDefined()) << c.sql;
    EXPECT_FALSE(d->IsKeyLinksStored()) << c.sql;
    EXPECT_EQ(d->KeyFields()->ColumnCount(), d->KeyLinks()->Count()) << c.sql;
    d->Unprepare();
    EXPECT_EQ(d->KeyLinks()->Count(), 0) << "dropped with the preparation: " << c.sql;
  }
  // The key row's column is the key field's.
  TIB_Cursor* keyed = NewDataset("select NAME, ID from K");
  keyed->Prepare();
  ASSERT_EQ(keyed->KeyFields()->ColumnCount(), 1);
  EXPECT_EQ(keyed->KeyFields()->GetColumn(0)->GetFieldName(), "ID");
  EXPECT_EQ(keyed->GetKeyFields(), keyed->KeyFields());
}

TEST_F(DatasetSqlDb, KeyRowWithoutKeyLinksAndWithBadOnes) {
  TIB_Cursor* plain = NewDataset("select ID, NAME from K", false);
  plain->Prepare();
  ASSERT_EQ(plain->KeyFields()->ColumnCount(), 1);
  TIB_Column* c = plain->KeyFields()->GetColumn(0);
  EXPECT_EQ(c->GetAliasName(), "KEYROWNUM");
  EXPECT_EQ(c->GetSQLType() & ~1, SQL_LONG);

  TIB_Cursor* bad = NewDataset("select ID, NAME from K", false);
  TStringList links;
  links.Add("K.NOPE");
  bad->SetKeyLinks(&links);
  EXPECT_EQ(ErrorOf([&] { bad->Prepare(); }), "Chybný údaj KeyLinks: K.NOPE");
  EXPECT_FALSE(bad->Prepared());
}

TEST_F(DatasetSqlDb, OrderingItemsLinksNullsAndPlan) {
  TIB_Cursor* d = NewDataset("select ID, NAME, CITY from K");
  TStringList items, links;
  items.Add("BYNAME=ORDER BY NAME;ORDER BY NAME DESC");
  items.Add("BYCITY=ORDER BY CITY NULLS FIRST, ID;ORDER BY CITY DESC NULLS LAST, ID DESC");
  d->SetOrderingItems(&items);
  links.Add("NAME=ITEM=1;PLANASC=(K ORDER IX_KNAME)");
  links.Add("CITY=2");
  d->SetOrderingLinks(&links);
  int changed = 0;
  d->OnOrderingChanged = [&](TIB_Dataset*) { ++changed; };

  d->SetOrderingItemNo(-1);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(AnsiToUtf8(d->OrderingLink()), "NAME");
  d->Open();
  EXPECT_NE(Server(d).find("ORDER BY NAME DESC"), std::string::npos) << Server(d);
  EXPECT_EQ(Text(d->OrderingKeys()), "NAME=DESC");
  EXPECT_EQ(d->Fields()->GetColumn(1)->GetAsString(), "Cyril");

  // Ascending with the link's own PLAN.
  d->SetOrderingItemNo(1);
  EXPECT_NE(Server(d).find("PLAN (K ORDER IX_KNAME)"), std::string::npos) << Server(d);
  EXPECT_EQ(d->Fields()->GetColumn(1)->GetAsString(), "Adam");

  // NULLS and several items; the written SQL is left as it was.
  d->SetOrderingLink("CITY");
  EXPECT_EQ(d->OrderingItemNo(), 2);
  EXPECT_NE(Server(d).find("ORDER BY CITY ASC NULLS FIRST\r\n       , ID ASC"), std::string::npos)
      << Server(d);
  EXPECT_EQ(d->Fields()->GetColumn(0)->GetAsInteger(), 2) << "the null city first";
  d->SetOrderingItemNo(-2);
  EXPECT_NE(Server(d).find("ORDER BY CITY DESC NULLS LAST"), std::string::npos) << Server(d);
  EXPECT_EQ(Text(d->OrderingKeys()), "CITY=DESC\r\nID=DESC");
  EXPECT_EQ(Trim(d->SQL()->Text()), "select ID, NAME, CITY from K");

  TIB_Cursor* written = NewDataset("select ID, NAME from K order by NAME desc nulls last");
  written->Prepare();
  EXPECT_EQ(Text(written->OrderingKeys()), "NAME=DESC");
  EXPECT_NE(Server(written).find("ORDER BY NAME DESC NULLS LAST"), std::string::npos);
}

// Records the link event codes a statement sends.
class CodeLink : public TIB_StatementLink {
 public:
  using TIB_StatementLink::TIB_StatementLink;
  void ProcessEvent(uint8_t Code, intptr_t Argument) override {
    codes.push_back(Code);
    TIB_StatementLink::ProcessEvent(Code, Argument);
  }
  std::vector<int> codes;
};

TEST_F(DatasetSqlDb, SearchingLinkChoosesItsOrderingAndParameter) {
  TIB_Cursor* d = NewDataset("select ID, NAME from K where NAME >= :SNAME");
  TStringList items, links, searching;
  items.Add("BYNAME=NAME;NAME DESC");
  links.Add("NAME=1");
  searching.Add("NAME=SNAME");
  d->SetOrderingItems(&items);
  d->SetOrderingLinks(&links);
  d->SetSearchingLinks(&searching);
  auto* link = new CodeLink(&form_);
  link->SetStatement(d);
  d->Prepare();
  link->codes.clear();
  d->SetSearchingLink("NAME");
  EXPECT_EQ(AnsiToUtf8(d->SearchingLink()), "NAME");
  EXPECT_EQ(AnsiToUtf8(d->OrderingLink()), "NAME");
  EXPECT_EQ(d->OrderingItemNo(), 1);
  for (int code : {28, 29, 30}) {
    EXPECT_NE(std::find(link->codes.begin(), link->codes.end(), code), link->codes.end()) << code;
  }
  d->Prepare();
  ASSERT_NE(d->SearchingParam(), nullptr);
  d->SearchingParam()->SetAsString("B");
  d->Open();
  EXPECT_EQ(d->Fields()->GetColumn(1)->GetAsString(), CZ("Bára"));
  d->Close();
  d->ClearSearchingLinkParams();
  EXPECT_EQ(d->SearchingParam()->GetAsString(), "");
  // A column without a searching link clears it.
  d->SetSearchingLink("ID");
  EXPECT_EQ(d->SearchingLink(), "");
}

TEST_F(DatasetSqlDb, CriteriaListsAndMasterLinks) {
  TIB_Cursor* d = NewDataset("select ID, NAME from K where ID > 0");
  d->OnPrepareSQL = [](TIB_Statement* s) {
    auto* ds = static_cast<TIB_Dataset*>(s);
    for (const char* line : {"(", "ID = 1", "OR", "ID = 3", ")"}) ds->WhereCriteria()->Add(line);
    ds->WhereCriteriaFirst()->Add("NAME IS NOT NULL");
  };
  d->Open();
  // The criteria of the first list go in front, the groups stay whole.
  EXPECT_NE(Server(d).find("NAME IS NOT NULL\r\n  AND ID > 0"), std::string::npos) << Server(d);
  EXPECT_NE(Server(d).find("AND (ID = 1 OR ID = 3)"), std::string::npos) << Server(d);
  EXPECT_NE(AnsiToUtf8(d->LinkCriteriaText()).find("(ID = 1 OR ID = 3)"), std::string::npos);
  EXPECT_EQ(AnsiToUtf8(d->LinkCriteriaText()).find("WHERE"), std::string::npos);
  int rows = 0;
  for (; !d->Eof(); d->Next()) ++rows;
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(Trim(d->SQL()->Text()), "select ID, NAME from K where ID > 0");

  TIB_Cursor* broken = NewDataset("select ID from K");
  broken->OnPrepareSQL = [](TIB_Statement* s) {
    static_cast<TIB_Dataset*>(s)->WhereCriteria()->Add("(");
    static_cast<TIB_Dataset*>(s)->WhereCriteria()->Add("ID = 1");
  };
  EXPECT_EQ(ErrorOf([&] { broken->Prepare(); }).rfind("Chybná syntaxe: nesprávný počet závorek:", 0), 0u);

  // Master links put their conditions in front of the WHERE clause, the first line's
  // first, with parameters the master's values will fill.
  TIB_Cursor* detail = NewDataset("select ID from ORDERS where ID > 0");
  TStringList master;
  master.Add("ORDERS.CUST_ID=K.ID");
  master.Add("ORDERS.SHOP_ID=SHOPS.ID");
  detail->SetMasterLinks(&master);
  detail->Prepare();
  const std::string server = Server(detail);
  const size_t cust = server.find("ORDERS.CUST_ID=? /* MLNK_CUST_ID_0 */");
  const size_t shop = server.find("ORDERS.SHOP_ID=? /* MLNK_SHOP_ID_1 */");
  const size_t own = server.find("ID > 0");
  ASSERT_NE(cust, std::string::npos) << server;
  ASSERT_NE(shop, std::string::npos) << server;
  EXPECT_LT(cust, shop);
  EXPECT_LT(shop, own);
  detail->ParamByName("MLNK_CUST_ID_0")->SetAsInteger(1);
  detail->ParamByName("MLNK_SHOP_ID_1")->SetAsInteger(5);
  detail->Open();
  ASSERT_FALSE(detail->Eof());
  EXPECT_EQ(detail->Fields()->GetColumn(0)->GetAsInteger(), 10);
}

TEST_F(DatasetSqlDb, ForUpdateAndSectionEdits) {
  TIB_Cursor* d = NewDataset("select ID, NAME from K");
  d->SetRequestLive(true);
  d->Prepare();
  EXPECT_NE(Server(d).find("FOR UPDATE"), std::string::npos) << Server(d);
  d->SetSearchedEdits(true);
  d->SetSearchedDeletes(true);
  d->Unprepare();
  d->Prepare();
  EXPECT_EQ(Server(d).find("FOR UPDATE"), std::string::npos) << "edits and deletes by key";

  // Editing a section writes the clause back without unpreparing.
  TIB_Cursor* s = NewDataset("select ID, NAME from K where ID = 1");
  s->Prepare();
  TIB_StringList* where = s->GetSQLSection(ssWhere);
  EXPECT_EQ(Text(where), "where ID = 1");
  where->SetText("WHERE ID = 2");
  EXPECT_TRUE(s->Prepared());
  EXPECT_NE(AnsiToUtf8(s->SQL()->Text()).find("WHERE ID = 2"), std::string::npos);
  s->Open();
  EXPECT_EQ(s->Fields()->GetColumn(0)->GetAsInteger(), 2);
}

TEST_F(DatasetSqlDb, SettingTheSQLFromAnotherDatasetCopiesItsDefinition) {
  TIB_Cursor* a = NewDataset("select ID, NAME from K", false);
  TStringList lines;
  lines.Add("K.ID");
  a->SetKeyLinks(&lines);
  lines.Clear();
  lines.Add("BYNAME=NAME;NAME DESC");
  a->SetOrderingItems(&lines);
  a->SetOrderingItemNo(-1);
  a->SetRequestLive(true);
  lines.Clear();
  lines.Add("update K set NAME = :NAME where ID = :OLD_ID");
  a->SetEditSQL(&lines);
  TIB_Cursor* b = NewDataset("select 1 from RDB$DATABASE", false);
  b->SetSQL(a->SQL());
  EXPECT_EQ(Text(b->KeyLinks()), "K.ID");
  EXPECT_EQ(b->OrderingItemNo(), -1);
  EXPECT_TRUE(b->RequestLive());
  EXPECT_EQ(Text(b->EditSQL()), "update K set NAME = :NAME where ID = :OLD_ID");
  b->Open();
  EXPECT_EQ(b->Fields()->GetColumn(1)->GetAsString(), "Cyril");
  b->Close();
  b->SQL()->Assign(nullptr);
  EXPECT_EQ(b->KeyLinks()->Count(), 0);
  EXPECT_EQ(b->OrderingItemNo(), 0);
  EXPECT_FALSE(b->RequestLive());
  EXPECT_EQ(b->EditSQL()->Count(), 0);
}

TEST_F(DatasetSqlDb, ProcedureParametersShowTheirDefaultClause) {
  auto* st = new TIB_DSQL(&form_);
  st->SetIB_Connection(conn_);
  st->SetIB_Transaction(tr_);
  st->SQL()->SetText("execute procedure PD :B, :A");
  st->Prepare();
  EXPECT_EQ(AnsiToUtf8(st->ParamByName("A")->GetSQLTypeSource(false)), "INTEGER = 5");
  EXPECT_EQ(AnsiToUtf8(st->ParamByName("B")->GetSQLTypeSource(false)), "VARCHAR( 10 )");
  EXPECT_EQ(AnsiToUtf8(st->ParamByName("A")->GetSQLTypeSource(true)), "INTEGER");
}

// The effective key relation is kept for every row posted; it still follows the SQL, the
// key relation and a macro handler.
TEST_F(DatasetSqlDb, EffectiveKeyRelationFollowsItsSettingsOnceAsked) {
  TIB_Cursor* d = NewDataset("select ID, NAME from K");
  d->Prepare();
  EXPECT_EQ(d->GetEffectiveKeyRelation(), "K");
  EXPECT_EQ(d->GetEffectiveKeyRelation(), "K");
  d->SQL()->SetText("select X, Y from N");
  d->Prepare();
  EXPECT_EQ(d->GetEffectiveKeyRelation(), "N");
  d->SetKeyRelation("K2");
  EXPECT_EQ(d->GetEffectiveKeyRelation(), "K2");
  int asked = 0;
  d->OnMacroSubstitute = [&](TComponent*, const AnsiString&, AnsiString& R) { ++asked, R = "D"; };
  d->SetKeyRelation("<<T>>");
  d->GetEffectiveKeyRelation();
  d->GetEffectiveKeyRelation();
  EXPECT_EQ(asked, 2);  // the handler's answer may change: it is asked every time
}

TEST_F(DatasetSqlDb, GeneratedInsertAndUpdateLeaveComputedColumnsOut) {
  TIB_Cursor* d = NewDataset("select * from K for update");
  d->SetRequestLive(true);
  TStringList gen;
  gen.Add("ID=G_K");
  d->SetGeneratorLinks(&gen);
  d->Open();
  ASSERT_NE(d->FindField("TWICE"), nullptr);
  EXPECT_TRUE(d->FindField("TWICE")->GetComputed());
  EXPECT_FALSE(d->FindField("NAME")->GetComputed());
  d->Insert();
  EXPECT_EQ(d->FieldByName("ID")->GetAsInteger(), 101);
  d->FieldByName("NAME")->SetAsString(CZ("Nový"));
  d->Post();
  const AnsiString insert = d->UpdateSQL()->GetInsertStatement()->SQL()->Text();
  EXPECT_EQ(insert.find("TWICE"), AnsiString::npos) << AnsiToUtf8(insert);
  d->Edit();
  d->FieldByName("CITY")->SetAsString("Zlín");
  d->Post();
  EXPECT_EQ(AnsiToUtf8(d->UpdateSQL()->LastImmediateSQL()).find("TWICE"), std::string::npos);
  d->Close();

  // A generator that cannot be read stops the insert: nothing is posted with key -1.
  TIB_Cursor* bad = NewDataset("select ID, NAME from K for update");
  bad->SetRequestLive(true);
  gen.Clear();
  gen.Add("ID=NO_SUCH_GENERATOR");
  bad->SetGeneratorLinks(&gen);
  bad->Open();
  EXPECT_NE(ErrorOf([&] { bad->Insert(); }).find("NO_SUCH_GENERATOR"), std::string::npos);
  TIB_Cursor* count = NewDataset("select count(*) from K where ID = -1", false);
  count->Open();
  EXPECT_EQ(count->Fields()->GetColumn(0)->GetAsInteger(), 0);
}

TEST_F(DatasetSqlDb, NewRowsTakeTheServersColumnDefaults) {
  TIB_Cursor* d = NewDataset("select ID, V, F, TS, W, R from D for update");
  d->SetRequestLive(true);
  d->SetGetServerDefaults(true);
  d->Open();
  EXPECT_TRUE(d->FieldByName("V")->GetHasServerDefault());
  EXPECT_FALSE(d->FieldByName("ID")->GetHasServerDefault());
  d->Insert();
  EXPECT_EQ(d->FieldByName("V")->GetAsString(), "x");
  EXPECT_EQ(d->FieldByName("F")->GetAsString(), "1,5");
  EXPECT_TRUE(d->FieldByName("W")->GetIsNull());
  // CURRENT_TIMESTAMP is a date word the column knows: the time now.
  EXPECT_FALSE(d->FieldByName("TS")->GetIsNull());
  d->FieldByName("ID")->SetAsInteger(1);
  d->Post();
  d->Close();
  TIB_Cursor* check = NewDataset("select V, TS from D where ID = 1", false);
  check->Open();
  EXPECT_EQ(check->Fields()->GetColumn(0)->GetAsString(), "x");
  EXPECT_FALSE(check->Fields()->GetColumn(1)->GetIsNull());

  // A required column with a server default may stay empty for an immediate insert.
  TIB_Cursor* plain = NewDataset("select ID, R from D for update");
  plain->SetRequestLive(true);
  plain->SetPreparedInserts(false);
  plain->Open();
  plain->Insert();
  plain->FieldByName("ID")->SetAsInteger(2);
  plain->Post();
  plain->Close();
  TIB_Cursor* r = NewDataset("select R from D where ID = 2", false);
  r->Open();
  EXPECT_EQ(r->Fields()->GetColumn(0)->GetAsString(), "r");

  // For design the defaults go into DefaultValues.
  TIB_Cursor* design = NewDataset("select ID, V, W from D");
  design->Prepare();
  design->ApplyServerDefaults(true);
  EXPECT_EQ(design->DefaultValues()->Values("D.V"), "x");
  EXPECT_EQ(design->DefaultValues()->Values("D.W"), "NULL");
}

}  // namespace
}  // namespace pelvar::test
