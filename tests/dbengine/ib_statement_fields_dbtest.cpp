// What a statement knows of its SQL and how its field property lists shape its columns,
// against real Firebird 3 (embedded): select items, aggregate and procedure questions,
// the server text with parameter names, key relation and history, the SQL strings'
// clause cache and definition copy, the Fields lists of statement and connection,
// column order, read-only rule, attribute defaults and the column display settings.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../dbclient/connection_calls.h"
#include "dbengine/IB_Components_statement.h"
#include "dbengine/IB_SchemaFacts.h"
#include "platform/sysutils.h"

namespace pelvar::test {
namespace {

class StatementFieldsDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fb_ = FbTestDb::Create(FbTestDb::Mode::Embedded).release();
    fb_->RunSql(
        "create domain D_NAME as varchar(20);\n"
        "create table T (ID integer not null primary key, NAME D_NAME, CODE char(3),\n"
        "  AMOUNT numeric(9,2), BORN date);\n"
        "create table U (UID integer, T_ID integer, NOTE varchar(10));\n"
        "commit;\n"
        "insert into T values (1, 'jedna', 'A', 1.50, '2024-05-01');\n"
        "insert into T values (2, 'dva', 'B', 2.00, '2024-05-02');\n"
        "insert into U values (10, 1, 'x');\n"
        "commit;\n"
        "set term ^ ;\n"
        "create procedure P (X integer) returns (Y integer) as begin Y = X; suspend; end^\n"
        "set term ; ^\n"
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
    SetSchemaFactsProvider({});
    ClientLibraryNameHook = nullptr;
  }

  TIB_DSQL* NewStatement(const std::string& sql, bool connect = true) {
    auto* st = new TIB_DSQL(&form_);
    if (connect) st->SetIB_Connection(conn_);
    st->SQL()->SetText(CZ(sql));
    return st;
  }

  static std::vector<std::string> Items(TIB_StringList* list) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < list->Count(); ++i) out.push_back(DecodeAttributeValue(list->Strings(i)));
    return out;
  }

  static std::vector<std::string> ColumnOrder(TIB_Statement* st) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < st->FieldCount(); ++i) out.push_back(st->Fields()->GetColumn(i)->GetFieldName());
    return out;
  }

  static FbTestDb* fb_;
  TComponent form_{nullptr};
  TIB_Session* session_ = nullptr;
  TIB_Connection* conn_ = nullptr;
};
FbTestDb* StatementFieldsDb::fb_ = nullptr;

// --- SQL analysis ------------------------------------------------------------------------------

TEST_F(StatementFieldsDb, SelectItemsLoseTheirAliasesAndStarsExpandWhenTheTableIsKnown) {
  TIB_DSQL* st = NewStatement("select ID as X, NAME Y, AMOUNT from T");
  st->Prepare();
  EXPECT_EQ(Items(st->GetSQLSelectItems()), (std::vector<std::string>{"ID", "NAME", "AMOUNT"}));

  // Stars expand from the connection's schema cache, in the table's field order.
  TIB_DSQL* star = NewStatement("select * from T");
  star->Prepare();
  EXPECT_EQ(Items(star->GetSQLSelectItems()),
            (std::vector<std::string>{"ID", "NAME", "CODE", "AMOUNT", "BORN"}));

  TIB_DSQL* alias_star = NewStatement("select A.*, U.NOTE from T A join U on U.T_ID = A.ID");
  alias_star->Prepare();
  EXPECT_EQ(Items(alias_star->GetSQLSelectItems()),
            (std::vector<std::string>{"ID", "NAME", "CODE", "AMOUNT", "BORN", "U.NOTE"}));

  // Where the table's fields are unknown the star stays.
  SetSchemaFactsProvider({[](TIB_Connection*, const AnsiString&, std::vector<AnsiString>&) {
                            return false;
                          },
                          nullptr, nullptr});
  star->Unprepare();
  star->Prepare();
  EXPECT_EQ(Items(star->GetSQLSelectItems()), (std::vector<std::string>{"*"}));
}

TEST_F(StatementFieldsDb, AggregateSelectsAreRecognised) {
  struct Case {
    const char* sql;
    bool aggregate;
  } cases[] = {
      {"select count(*) from T", true},
      {"select distinct NAME from T", true},
      {"select NAME from T group by NAME", true},
      {"select ID, sum (AMOUNT) from T group by ID", true},
      {"select ID, (select max(UID) from U where U.T_ID = T.ID) from T", false},
      {"select ID, NAME from T", false},
      {"select ID, upper(NAME) from T", false},
      {"select ID, ACCOUNT(ID) from T", false},
  };
  for (const Case& c : cases) {
    TIB_DSQL* st = NewStatement(c.sql, false);
    EXPECT_EQ(st->IsAggregateSelect(), c.aggregate) << c.sql;
  }

  // The question leaves the written SQL as it was, whatever the builders add.
  TIB_DSQL* built = NewStatement("select ID, upper(NAME) from T", false);
  built->OnPrepareSQL = [](TIB_Statement* s) { s->SQL()->SetText("select count(*) from T"); };
  EXPECT_TRUE(built->IsAggregateSelect());
  EXPECT_EQ(Trim(built->SQL()->Text()), "select ID, upper(NAME) from T");
}

TEST_F(StatementFieldsDb, ProcedureAndBlockQuestions) {
  EXPECT_TRUE(NewStatement("select Y from P(:X)", false)->IsSelectFromProcedure());
  EXPECT_FALSE(NewStatement("select ID from T", false)->IsSelectFromProcedure());
  EXPECT_FALSE(NewStatement("select T.ID from T join U on (U.T_ID = T.ID)", false)->IsSelectFromProcedure());

  // A key relation that the schema cache knows as a stored procedure.
  TIB_DSQL* by_name = NewStatement("select Y from P");
  by_name->SetKeyRelation("P");
  EXPECT_TRUE(by_name->IsSelectFromProcedure());
  TIB_DSQL* table = NewStatement("select ID from T");
  table->SetKeyRelation("T");
  EXPECT_FALSE(table->IsSelectFromProcedure());

  EXPECT_TRUE(NewStatement("  execute block returns (A integer) as begin A = 1; suspend; end", false)
                  ->IsExecuteBlock());
  EXPECT_FALSE(NewStatement("execute procedure P 1", false)->IsExecuteBlock());
}

TEST_F(StatementFieldsDb, ServerTextHasTheParameterNamesBack) {
  TIB_DSQL* st = NewStatement("select NAME from T where ID = :ID and CODE = :CODE");
  EXPECT_EQ(st->GetServerSQLText(), st->SQL()->Text());  // not prepared: the text itself
  st->Prepare();
  const AnsiString text = st->GetServerSQLText();
  EXPECT_NE(text.find(":ID"), AnsiString::npos) << text;
  EXPECT_NE(text.find(":CODE"), AnsiString::npos) << text;
  EXPECT_EQ(text.find('?'), AnsiString::npos) << text;
  EXPECT_FALSE(st->IsOrderingPlanApplied());
}

// A statement whose ordering brings its own PLAN, put in by the second builder pass.
class PlannedStatement : public TIB_DSQL {
 public:
  using TIB_DSQL::TIB_DSQL;
  bool GetOrderingPlan() override { return true; }
  void SysApplyOrderingPlan() override {
    if (BuildingPlanVariant()) SQL()->SetText(SQL()->Text() + " PLAN (T NATURAL)");
  }
};

TEST_F(StatementFieldsDb, PlanPassPreparesWithThePlanAndReportsWithout) {
  auto* st = new PlannedStatement(&form_);
  st->SetIB_Connection(conn_);
  st->SQL()->SetText("select NAME from T where ID = :ID");
  st->Prepare();
  EXPECT_NE(st->ServerSQL().find("PLAN (T NATURAL)"), AnsiString::npos);
  EXPECT_EQ(st->ServerSQLWithoutPlan().find("PLAN"), AnsiString::npos);
  EXPECT_TRUE(st->IsOrderingPlanApplied());
  const AnsiString text = st->GetServerSQLText();
  EXPECT_EQ(text.find("PLAN"), AnsiString::npos);
  EXPECT_NE(text.find(":ID"), AnsiString::npos);
  EXPECT_EQ(Trim(st->SQL()->Text()), "select NAME from T where ID = :ID");
}

TEST_F(StatementFieldsDb, KeyRelationChangesUnprepareOnlyWhenDifferent) {
  TIB_DSQL* st = NewStatement("select ID, NAME from T");
  st->Prepare();
  EXPECT_EQ(st->GetEffectiveKeyRelation(), "T");
  st->SetKeyRelation("");
  EXPECT_TRUE(st->Prepared());
  st->SetKeyRelation("T");
  EXPECT_FALSE(st->Prepared());
  EXPECT_EQ(st->GetEffectiveKeyRelation(), "T");
}

TEST_F(StatementFieldsDb, HistoryKeepsEachTextOnce) {
  TIB_DSQL* st = NewStatement("select ID from T");
  st->SetKeepSQLHistory(true);
  st->Prepare();
  st->Unprepare();
  st->SQL()->SetText(" select ID from T ");
  st->Prepare();
  st->SQL()->SetText("select NAME from T");
  st->Prepare();
  ASSERT_EQ(st->SQLHistory()->Count(), 2);
  EXPECT_EQ(st->SQLHistory()->Strings(1), "select NAME from T");
  EXPECT_EQ(st->SQLHistoryPos(), 2);
}

TEST_F(StatementFieldsDb, SqlChangesDuringAPrepareAreIgnored) {
  TIB_DSQL* st = NewStatement("select ID from T");
  st->OnPrepareSQL = [](TIB_Statement* s) { s->SQL()->SetText("select ID, NAME from T"); };
  st->Prepare();
  EXPECT_TRUE(st->Prepared());
  EXPECT_EQ(st->FieldCount(), 2);
  EXPECT_EQ(Trim(st->SQL()->Text()), "select ID from T");  // the user's text is back
}

// --- SQL strings --------------------------------------------------------------------------------

TEST_F(StatementFieldsDb, SectionsAreCachedUntilTheTextChanges) {
  TIB_DSQL* st = NewStatement("select ID from T where ID > 0", false);
  TIB_SQLStrings* sql = st->SQL();
  EXPECT_EQ(sql->GetSection(ssOrderBy), "");
  EXPECT_EQ(sql->GetSection(ssWhere), "where ID > 0");
  const int32_t searches = sql->SectionSearches();
  EXPECT_EQ(sql->GetSection(ssOrderBy), "");
  EXPECT_EQ(sql->GetSection(ssWhere), "where ID > 0");
  EXPECT_EQ(sql->SectionSearches(), searches);
  sql->SetText("select ID from T order by ID");
  EXPECT_EQ(sql->GetSection(ssOrderBy), "order by ID");
  EXPECT_EQ(sql->GetSection(ssWhere), "");
  EXPECT_EQ(sql->SectionSearches(), searches + 2);

  TStringList copy;
  sql->AssignTo(&copy);
  EXPECT_EQ(copy.Text(), sql->Text());
}

TEST_F(StatementFieldsDb, AssigningAnotherStatementsSqlCopiesItsDefinition) {
  TIB_DSQL* source = NewStatement("select NAME from T where ID = :ID");
  source->FieldsDisplayLabel()->Add(CZ("NAME=Jméno"));
  source->ColumnAttributes()->Add("NAME=NOCASE");
  source->Prepare();
  source->ParamByName("ID")->SetAsInteger(2);

  TIB_DSQL* target = NewStatement("select ID from T");
  target->FieldsAlignment()->Add("ID=C");
  target->Prepare();
  target->SetSQL(source->SQL());
  EXPECT_FALSE(target->Prepared());
  EXPECT_EQ(target->SQL()->Text(), source->SQL()->Text());
  EXPECT_EQ(target->FieldsDisplayLabel()->Text(), source->FieldsDisplayLabel()->Text());
  EXPECT_EQ(target->ColumnAttributes()->Count(), 1);
  EXPECT_EQ(target->FieldsAlignment()->Count(), 0);
  target->Prepare();
  EXPECT_EQ(target->ParamByName("ID")->GetAsInteger(), 2);
  target->Execute();
  EXPECT_EQ(target->FieldByName("NAME")->GetAsString(), "dva");
  EXPECT_EQ(target->FieldByName("NAME")->GetDisplayLabel(), CZ("Jméno"));

  // A nil source clears the text and the lists.
  target->SQL()->Assign(nullptr);
  EXPECT_EQ(target->SQL()->Count(), 0);
  EXPECT_EQ(target->FieldsDisplayLabel()->Count(), 0);
  EXPECT_EQ(target->ColumnAttributes()->Count(), 0);
}

TEST_F(StatementFieldsDb, LinkHearsPreparedChangesAndCanAddToTheSql) {
  TIB_DSQL* st = NewStatement("select ID from T");
  TIB_StatementLink link(nullptr);
  int changes = 0;
  link.OnPreparedChanged = [&](TIB_StatementLink*, TIB_Statement*) { ++changes; };
  link.OnPrepareSQL = [](TIB_StatementLink*, TIB_Statement* s) {
    s->SQL()->SetText("select ID, NAME from T");
  };
  link.SetStatement(st);
  st->Prepare();
  EXPECT_TRUE(link.GetPrepared());
  EXPECT_EQ(st->FieldCount(), 2);
  st->InvalidateSQL();
  st->Prepare();  // a re-prepare: no prepared-state change
  st->Unprepare();
  EXPECT_EQ(changes, 2);
  link.SetStatement(nullptr);
  EXPECT_EQ(st->StatementLinkCount(), 0);
}

// --- Field property lists ----------------------------------------------------------------------

TEST_F(StatementFieldsDb, ConnectionEntriesApplyUnlessTheStatementHasItsOwn) {
  conn_->FieldsAlignment()->Add("T.NAME=R");
  conn_->FieldsDisplayLabel()->Add(CZ("T.NAME=Jméno"));
  TIB_DSQL* plain = NewStatement("select ID, NAME from T");
  plain->Prepare();
  EXPECT_EQ(plain->FieldByName("NAME")->Alignment, 1);
  EXPECT_EQ(plain->FieldByName("NAME")->GetDisplayLabel(), CZ("Jméno"));
  EXPECT_EQ(plain->FieldByName("ID")->Alignment, 1);  // numeric default

  TIB_DSQL* own = NewStatement("select ID, NAME from T");
  own->FieldsAlignment()->Add("NAME=C");
  own->Prepare();
  EXPECT_EQ(own->FieldByName("NAME")->Alignment, 2);

  // Unprepared: the list takes the change, the next prepare applies it.
  own->Unprepare();
  own->FieldsAlignment()->Clear();
  own->FieldsAlignment()->Add("NAME=L");
  own->Prepare();
  EXPECT_EQ(own->FieldByName("NAME")->Alignment, 0);
  // Prepared: a change applies at once.
  own->FieldsAlignment()->SetText("NAME=C");
  EXPECT_EQ(own->FieldByName("NAME")->Alignment, 2);
}

TEST_F(StatementFieldsDb, DomainAndTypeEntriesComeFromTheConnectionOnly) {
  TIB_DSQL* st = NewStatement("select NAME, CODE from T");
  st->ColumnAttributes()->Add("NAME=DOMAIN=D_NAME");
  st->ColumnAttributes()->Add("CODE=DOMAIN=D_NAME");
  st->FieldsVisible()->Add("D_NAME=F");
  conn_->SetFieldEntryTypes(TIB_ConnectionFieldEntryTypeSet{fetDomainName, fetSQLType});
  conn_->FieldsDisplayFormat()->Add("D_NAME=dom");
  conn_->FieldsEditMask()->Add("VARCHAR=vc");
  st->Prepare();
  TIB_Column* name = st->FieldByName("NAME");
  TIB_Column* code = st->FieldByName("CODE");
  EXPECT_EQ(name->GetDomainName(), "D_NAME");
  EXPECT_EQ(name->DisplayFormat, "dom");
  EXPECT_EQ(code->DisplayFormat, "dom");
  EXPECT_TRUE(name->Visible);  // a statement entry named after a domain is not used
  EXPECT_EQ(name->EditMask, "vc");  // VARCHAR(20) matches VARCHAR
  EXPECT_EQ(code->EditMask, "");   // CHAR does not
}

TEST_F(StatementFieldsDb, TrimmingValuesGiveTheTwelveModes) {
  const char* values[] = {"NONE", "CNONE", "ALL",   "CALL",     "BOTH",     "CBOTH",
                          "LEFT", "CLEFT", "RIGHT", "CRIGHT", "SENTENCE", "CSENTENCE"};
  TIB_DSQL* st = NewStatement("select NAME, CODE from T");
  st->Prepare();
  const TIB_ColumnTrimming default_mode = st->FieldByName("NAME")->Trimming;
  EXPECT_EQ(default_mode, ctRightCheckLen);
  for (int i = 0; i < 12; ++i) {
    st->FieldsTrimming()->SetText(AnsiString("NAME=") + values[i]);
    EXPECT_EQ(st->FieldByName("NAME")->Trimming, static_cast<TIB_ColumnTrimming>(i)) << values[i];
  }
  st->FieldsTrimming()->SetText("NAME=X");
  EXPECT_EQ(st->FieldByName("NAME")->Trimming, default_mode);

  // The column setter writes the list without applying it again.
  st->FieldByName("CODE")->SetTrimming(ctSentence);
  EXPECT_EQ(st->FieldByName("CODE")->Trimming, ctSentence);
  EXPECT_NE(st->FieldsTrimming()->Text().find("CODE=SENTENCE"), AnsiString::npos);
}

TEST_F(StatementFieldsDb, FieldsIndexOrdersColumnsAndSetIndexRewritesIt) {
  TIB_DSQL* st = NewStatement("select ID, NAME, CODE, AMOUNT from T");
  st->FieldsIndex()->SetText("AMOUNT\r\nNOSUCH\r\nCODE");
  int layouts = 0;
  st->OnLayoutChanged = [&](TIB_Statement*) { ++layouts; };
  st->Prepare();
  EXPECT_EQ(ColumnOrder(st), (std::vector<std::string>{"AMOUNT", "CODE", "ID", "NAME"}));
  EXPECT_EQ(layouts, 1);

  st->FieldByName("ID")->SetIndex(0);
  EXPECT_EQ(ColumnOrder(st), (std::vector<std::string>{"ID", "AMOUNT", "CODE", "NAME"}));
  EXPECT_EQ(Trim(st->FieldsIndex()->Text()), "ID\r\nAMOUNT\r\nCODE\r\nNAME");
  EXPECT_EQ(layouts, 2);

  st->FieldsIndex()->Clear();
  EXPECT_EQ(ColumnOrder(st), (std::vector<std::string>{"ID", "NAME", "CODE", "AMOUNT"}));
}

TEST_F(StatementFieldsDb, LayoutBracketAppliesOnceAtItsEnd) {
  TIB_DSQL* st = NewStatement("select ID, NAME from T");
  st->Prepare();
  int layouts = 0;
  st->OnLayoutChanged = [&](TIB_Statement*) { ++layouts; };
  st->BeginLayout();
  st->FieldsVisible()->Add("ID=F");
  st->FieldsDisplayWidth()->Add("NAME=123");
  EXPECT_TRUE(st->FieldByName("ID")->Visible);
  EXPECT_EQ(layouts, 0);
  st->EndLayout();
  EXPECT_FALSE(st->FieldByName("ID")->Visible);
  EXPECT_EQ(st->FieldByName("NAME")->GetDisplayWidth(), 123);
  EXPECT_EQ(layouts, 1);
}

TEST_F(StatementFieldsDb, BadDisplayWidthFailsThePrepare) {
  TIB_DSQL* st = NewStatement("select ID from T");
  st->FieldsDisplayWidth()->Add("ID=wide");
  EXPECT_THROW(st->Prepare(), EConvertError);
}

TEST_F(StatementFieldsDb, ReadOnlyFollowsListsAndKeyRelation) {
  TIB_DSQL* st = NewStatement("select A.ID, A.NAME, U.NOTE, A.ID + 1 as NEXT_ID from T A join U on U.T_ID = A.ID");
  st->FieldsReadOnly()->Add("A.NAME=TRUE;NOINSERT");
  st->Prepare();
  EXPECT_TRUE(st->FieldByName("A.NAME")->GetReadOnly());
  EXPECT_TRUE(st->FieldByName("A.NAME")->NoInsert);
  EXPECT_FALSE(st->FieldByName("A.NAME")->NoEdit);
  EXPECT_FALSE(st->FieldByName("U.NOTE")->GetReadOnly());  // no key relation: no rule
  EXPECT_TRUE(st->FieldByName("NEXT_ID")->GetReadOnly());  // an expression

  st->SetKeyRelation("T");
  st->ColumnAttributes()->Add("NEXT_ID=MODIFIABLE");
  st->Prepare();
  EXPECT_FALSE(st->FieldByName("A.ID")->GetReadOnly());  // the key relation through an alias
  EXPECT_TRUE(st->FieldByName("U.NOTE")->GetReadOnly());
  EXPECT_FALSE(st->FieldByName("NEXT_ID")->GetReadOnly());
}

// The verdicts are kept for every row written: asked once, they still follow every
// setting they rest on.
TEST_F(StatementFieldsDb, ReadOnlyAndComputedFollowTheirSettingsOnceAsked) {
  TIB_DSQL* st = NewStatement("select A.ID, U.NOTE, A.ID + 1 as NEXT_ID from T A join U on U.T_ID = A.ID");
  st->SetKeyRelation("A");
  st->Prepare();
  TIB_Column* id = st->FieldByName("A.ID");
  TIB_Column* note = st->FieldByName("U.NOTE");
  TIB_Column* next = st->FieldByName("NEXT_ID");
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_FALSE(id->GetReadOnly());
    EXPECT_TRUE(note->GetReadOnly());
    EXPECT_FALSE(note->GetComputed());
    EXPECT_TRUE(next->GetReadOnly());
  }
  st->ColumnAttributes()->Add("U.NOTE=COMPUTED");
  EXPECT_TRUE(note->GetComputed());
  EXPECT_FALSE(note->GetReadOnly());  // a computed column is the application's to fill
  st->ColumnAttributes()->Clear();
  EXPECT_FALSE(note->GetComputed());
  EXPECT_TRUE(note->GetReadOnly());

  conn_->ColumnAttributes()->Add("NEXT_ID=MODIFIABLE");
  EXPECT_FALSE(next->GetReadOnly());
  conn_->ColumnAttributes()->Clear();
  EXPECT_TRUE(next->GetReadOnly());

  id->SetRelAlias("B");
  EXPECT_TRUE(id->GetReadOnly());
  id->SetRelAlias("A");
  EXPECT_FALSE(id->GetReadOnly());

  st->SetKeyRelation("U");
  st->Prepare();
  EXPECT_TRUE(st->FieldByName("A.ID")->GetReadOnly());
  EXPECT_FALSE(st->FieldByName("U.NOTE")->GetReadOnly());
}

TEST_F(StatementFieldsDb, DefaultNoCaseIsOverriddenByYesCase) {
  conn_->SetDefaultNoCase(true);
  TIB_DSQL* st = NewStatement("select NAME, CODE from T");
  st->ColumnAttributes()->Add("CODE=YESCASE");
  st->Prepare();
  EXPECT_TRUE(st->FieldByName("NAME")->IsAttributeSet("NOCASE"));
  EXPECT_FALSE(st->FieldByName("CODE")->IsAttributeSet("NOCASE"));
  conn_->SetDefaultNoCase(false);
  EXPECT_FALSE(st->FieldByName("NAME")->IsAttributeSet("NOCASE"));
}

// --- Column display settings --------------------------------------------------------------------

TEST_F(StatementFieldsDb, LabelsWidthsAndMasks) {
  TIB_DSQL* st = NewStatement("select ID as \"Row id\", NAME as FIRST_NAME, BORN from T");
  st->ColumnAttributes()->Add("BORN=NOTIME=dd.mm.yyyy");
  st->Prepare();
  TIB_Column* id = st->Fields()->GetColumn(0);
  TIB_Column* name = st->Fields()->GetColumn(1);
  TIB_Column* born = st->Fields()->GetColumn(2);
  EXPECT_EQ(id->GetDisplayLabel(), "Row id");
  EXPECT_EQ(name->GetDisplayLabel(), "FIRST NAME");
  EXPECT_EQ(name->GetDisplayName(), "FIRST_NAME");

  name->SetDisplayLabel("-");
  EXPECT_EQ(name->GetDisplayLabel(), "-");
  EXPECT_NE(st->FieldsDisplayLabel()->Text().find("FIRST_NAME=/-"), AnsiString::npos);
  name->SetDisplayLabel("");
  EXPECT_EQ(name->GetDisplayLabel(), "");
  name->SetGridDisplayLabel("Grid");
  EXPECT_EQ(name->GetGridDisplayLabel(), "Grid");

  // The default width removes the entry; the width then follows the label.
  name->SetDisplayWidth(150);
  EXPECT_EQ(name->GetDisplayWidth(), 150);
  name->SetDisplayWidth(name->GetDefaultWidth());
  EXPECT_EQ(st->FieldsDisplayWidth()->Count(), 0);
  EXPECT_EQ(name->DisplayWidth, -1);

  name->SetVisible(false);
  EXPECT_FALSE(name->Visible);
  name->SetVisible(true);
  EXPECT_EQ(st->FieldsVisible()->Count(), 0);

  FormatSettings().DateSeparator = '.';
  EXPECT_TRUE(born->GetDateOnly());
  EXPECT_EQ(born->GetEditMask(), "!99.99.9999;1; ");
  st->FieldsEditMask()->Add("ID=99%d99");
  EXPECT_EQ(id->GetEditMask(), "99.99");
}

}  // namespace
}  // namespace pelvar::test
