// Rows and columns over real Firebird 3 describes: the column class per SQL type, the
// values and nulls a fetch leaves in the row buffers, the row data round trip, repeated
// parameter names, and blob caches carried round a post.
#include <gtest/gtest.h>

#include <typeinfo>

#include "dbclient/ClientLibraryName.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"
#include "row_statement_double.h"

namespace pelvar {
namespace {

using test::FbTestDb;
using test::RowStatement;

const std::string kCzech = "Příliš žluťoučký kůň úpěl ďábelské ódy";

class RowsDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    db_ = FbTestDb::Create(FbTestDb::Mode::Embedded).release();
    std::string forty = "create table WIDE (";
    for (int i = 0; i < 40; ++i) {
      const char* types[] = {"smallint", "varchar(3)", "bigint", "char(5)", "numeric(15,2)",
                             "double precision", "varchar(1)", "timestamp"};
      forty += (i ? ", C" : "C") + std::to_string(i) + " " + types[i % 8];
    }
    forty += ");\n";
    db_->RunSql(
        "create table ALLTYPES (ID integer not null, SI smallint, II integer, BI bigint,\n"
        "  N92 numeric(9,2), N152 numeric(15,2), N184 numeric(18,4), FL float,\n"
        "  DP double precision, D date, T time, TS timestamp, CH char(10),\n"
        "  VC varchar(60), B0 blob sub_type 0, B1 blob sub_type 1, BO boolean,\n"
        "  AR integer[1:3]);\n"
        "create table PEOPLE (ID integer not null, PARENT integer, NAME varchar(20),\n"
        "  NICK varchar(8));\n" +
        forty +
        "commit;\n"
        "insert into ALLTYPES values (1, -12, 123456, 9007199254740993, 123.45,\n"
        "  1234567890123.45, 12345678901234.5678, 1.5, 2.25, '2024-05-01', '10:11:12.5',\n"
        "  '1899-12-29 13:14:15', 'abc', '" + kCzech + "', x'00FF10', 'memo " + kCzech + "',\n"
        "  true, null);\n"
        "insert into ALLTYPES (ID, BO) values (2, false);\n"
        "insert into PEOPLE values (5, null, 'pět', 'p');\n"
        "insert into PEOPLE values (6, 5, 'šest', 's');\n"
        "insert into PEOPLE values (7, 5, 'sedm', 'x');\n"
        "insert into PEOPLE values (8, 1, 'osm', 'x');\n"
        "insert into WIDE values (1, 'ab', 3, 'cd', 4.5, 5.5, 'e', '2020-01-02 03:04:05',\n"
        "  1, 'ab', 3, 'cd', 4.5, 5.5, 'e', '2020-01-02 03:04:05',\n"
        "  1, 'ab', 3, 'cd', 4.5, 5.5, 'e', '2020-01-02 03:04:05',\n"
        "  1, 'ab', 3, 'cd', 4.5, 5.5, 'e', '2020-01-02 03:04:05',\n"
        "  1, 'ab', 3, 'cd', 4.5, 5.5, 'e', '2020-01-02 03:04:05');\n"
        "commit;\n");
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

FbTestDb* RowsDb::db_ = nullptr;

TEST_F(RowsDb, EveryColumnTypeGetsItsClassValueAndNull) {
  st_->Prepare("select A.*, A.RDB$DB_KEY from ALLTYPES A order by ID");
  TIB_Row& f = st_->Fields();
  ASSERT_EQ(f.ColumnCount(), 19);
  EXPECT_EQ(f.RowState(), rsEmpty);
  EXPECT_TRUE(VarIsEmpty(f.ColumnByName("ID")->GetAsVariant())) << "no row yet: Unassigned";
  st_->Execute();

  struct Case {
    const char* name;
    const char* cls;
    const char* text;  // UTF-8, Czech settings
  };
  const Case cases[] = {
      {"ID", "TIB_ColumnInteger", "1"},
      {"SI", "TIB_ColumnSmallInt", "-12"},
      {"II", "TIB_ColumnInteger", "123456"},
      {"BI", "TIB_ColumnInt64", "9007199254740993"},
      {"N92", "TIB_ColumnNumeric", "123,45"},
      {"N152", "TIB_ColumnNumeric", "1234567890123,45"},
      {"N184", "TIB_ColumnNumeric", "12345678901234,5678"},
      {"FL", "TIB_ColumnFloat", "1,5"},
      {"DP", "TIB_ColumnDouble", "2,25"},
      {"D", "TIB_ColumnDate", "01.05.2024"},
      {"T", "TIB_ColumnTime", "10:11:12"},
      {"TS", "TIB_ColumnTimeStamp", "29.12.1899 13:14:15"},
      {"CH", "TIB_ColumnText", "abc"},
      {"VC", "TIB_ColumnVarText", kCzech.c_str()},
      {"B0", "TIB_ColumnBinary", "\x00\xFF\x10"},
      {"B1", "TIB_ColumnMemo", nullptr},
      {"BO", "TIB_ColumnBoolean", "TRUE"},
      {"AR", "TIB_ColumnArray", "(array)"},
      {"DB_KEY", "TIB_ColumnDB_KEY", nullptr},
  };
  ASSERT_TRUE(st_->Fetch());
  EXPECT_EQ(f.RowState(), rsLoaded);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIB_Column* col = f.ColumnByName(c.name);
    EXPECT_EQ(col->ClassName(), c.cls);
    if (c.text && std::string(c.name) == "B0") {
      EXPECT_EQ(col->GetAsString(), std::string("\x00\xFF\x10", 3));
    } else if (c.text) {
      EXPECT_EQ(col->GetAsString(), CZ(c.text));
    }
  }
  EXPECT_EQ(f.ColumnByName("B1")->GetAsString(), CZ("memo " + kCzech));
  EXPECT_EQ(f.ColumnByName("DB_KEY")->GetAsString().size(), 16u);
  EXPECT_EQ(f.ColumnByName("N184")->GetAsCurrency(), StrToCurr(CZ("12345678901234,5678")));
  EXPECT_EQ(f.ColumnByName("BI")->GetAsInt64(), 9007199254740993LL);
  EXPECT_THROW(f.ColumnByName("BI")->GetAsInteger(), EIntOverflow) << "no silent low 32 bits";
  EXPECT_EQ(f.ColumnByName("D")->GetAsDate(), EncodeDate(2024, 5, 1));
  EXPECT_NEAR(f.ColumnByName("T")->GetAsDateTime(), EncodeTime(10, 11, 12, 500), 1e-9);
  EXPECT_LT(f.ColumnByName("TS")->GetAsDateTime(), 0) << "before 1899-12-30";
  EXPECT_TRUE(f.ColumnByName("BO")->GetAsBoolean());
  EXPECT_EQ(f.ColumnByName("BO")->Alignment, 2);
  EXPECT_EQ(f.ColumnByName("BO")->GetSQLTypeSource(true), "BOOLEAN");
  EXPECT_EQ(VarType(f.ColumnByName("BO")->GetAsVariant()), varBoolean);
  EXPECT_TRUE(f.ColumnByName("AR")->GetIsNull());
  const ISC_ARRAY_DESC* desc = f.ColumnByName("AR")->GetArrayDesc();
  ASSERT_NE(desc, nullptr);
  EXPECT_EQ(desc->array_desc_dimensions, 1);
  EXPECT_EQ(desc->array_desc_bounds[0].array_bound_upper, 3);
  EXPECT_EQ(f.BlobCount(), 2);
  EXPECT_EQ(f.ArrayCount(), 1);
  EXPECT_EQ(f.ColumnByName("CH")->GetRelAlias(), "A") << "relation alias from the server";

  // The second row: every column null but ID and a false boolean.
  ASSERT_TRUE(st_->Fetch());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIB_Column* col = f.ColumnByName(c.name);
    const std::string n = c.name;
    if (n == "ID" || n == "BO" || n == "DB_KEY") {
      EXPECT_FALSE(col->GetIsNull());
    } else {
      EXPECT_TRUE(col->GetIsNull());
      // A null array reads as an unassigned Variant, every other null column as Null.
      if (n == "AR") {
        EXPECT_TRUE(VarIsEmpty(col->GetAsVariant()));
      } else {
        EXPECT_TRUE(VarIsNull(col->GetAsVariant()));
      }
    }
  }
  EXPECT_FALSE(f.ColumnByName("BO")->GetAsBoolean());
  EXPECT_EQ(f.ColumnByName("BO")->GetAsString(), "FALSE");
  EXPECT_EQ(f.ColumnByName("CH")->GetAsString(), "");
  EXPECT_FALSE(st_->Fetch());
}

TEST_F(RowsDb, FortyColumnsLayOutInsideTheBuffers) {
  st_->Prepare("select * from WIDE");
  TIB_Row& f = st_->Fields();
  ASSERT_EQ(f.ColumnCount(), 40);
  int32_t expected = 0;
  for (int i = 0; i < 40; ++i) {
    TIB_Column* c = f.GetColumn(i);
    EXPECT_EQ(c->FieldNo(), i);
    EXPECT_EQ(c->PSQLVAR()->sqldata, c->DataPtr());
    EXPECT_EQ(reinterpret_cast<char*>(c->PSQLVAR()->sqlind), f.RowBuffer() + expected);
    expected += c->GetBufferDataSize() + 2;
  }
  EXPECT_EQ(f.RowBufferSize(), expected);
  st_->Execute();
  ASSERT_TRUE(st_->Fetch());
  for (int i = 0; i < 40; i += 8) {
    EXPECT_EQ(f.GetColumn(i)->GetAsInteger(), 1);
    EXPECT_EQ(f.GetColumn(i + 1)->GetAsString(), "ab");
    EXPECT_EQ(f.GetColumn(i + 3)->GetAsString(), "cd");
    EXPECT_EQ(f.GetColumn(i + 4)->GetAsString(), "4,50");
    EXPECT_EQ(f.GetColumn(i + 6)->GetAsString(), "e");
    EXPECT_EQ(f.GetColumn(i + 7)->GetAsString(), "02.01.2020 03:04:05");
  }
  EXPECT_FALSE(st_->Fetch());
}

TEST_F(RowsDb, RowDataRoundTripsAndRevertRestores) {
  st_->Prepare("select ID, NAME, NICK, PARENT from PEOPLE where ID = 6");
  TIB_Row& f = st_->Fields();
  EXPECT_EQ(f.GetRowData(), "") << "empty row: no data";
  EXPECT_TRUE(VarIsEmpty(f.GetValues("*")));
  st_->Execute();
  ASSERT_TRUE(st_->Fetch());
  const AnsiString saved = f.GetRowData();
  EXPECT_EQ(saved.size(), static_cast<size_t>(2 * f.RowBufferSize()));

  int states = 0;
  f.OnRowStateChanged = [&](TIB_Row*) { ++states; };
  f.ColumnByName("NAME")->SetAsString(CZ("devět"));
  f.ColumnByName("PARENT")->SetIsNull(true);
  EXPECT_EQ(f.RowState(), rsModified);
  EXPECT_EQ(states, 1);
  EXPECT_TRUE(f.ColumnByName("NAME")->GetIsModified());
  EXPECT_EQ(f.ColumnByName("NAME")->GetOldAsString(), CZ("šest"));
  const AnsiString edited = f.GetRowData();
  EXPECT_NE(edited, saved);
  EXPECT_EQ(f.GetOldRowData(), saved);

  f.RevertRow(false);
  EXPECT_EQ(f.RowState(), rsLoaded);
  EXPECT_EQ(f.ColumnByName("NAME")->GetAsString(), CZ("šest"));
  EXPECT_EQ(f.ColumnByName("PARENT")->GetAsInteger(), 5);
  EXPECT_EQ(f.GetRowData(), saved);

  f.SetRowData(edited);
  EXPECT_EQ(f.ColumnByName("NAME")->GetAsString(), CZ("devět"));
  EXPECT_TRUE(f.ColumnByName("PARENT")->GetIsNull());
  f.SetRowData(saved);
  EXPECT_EQ(f.ColumnByName("NAME")->GetAsString(), CZ("šest"));

  const Variant all = f.GetValues("*");
  ASSERT_TRUE(VarIsArray(all));
  EXPECT_EQ(VarArrayHighBound(all, 1), 3);
  EXPECT_EQ(VarArrayGet(all, {0}).AsInteger(), 6);
  EXPECT_EQ(VarArrayGet(all, {2}).AsString(), "s");

  for (const AnsiString& bad : {saved.substr(0, saved.size() - 2), AnsiString("XYZ") + saved}) {
    try {
      f.SetRowData(bad);
      ADD_FAILURE() << "bad row data accepted";
    } catch (const EIB_StatementError& e) {
      EXPECT_EQ(e.Message(), CZ("Chybná záložka (Bookmark) in SetRowData()"));
      EXPECT_EQ(e.Sender(), st_.get());
    }
  }
  EXPECT_THROW(f.SetOldRowData("12"), EIB_StatementError);
}

TEST_F(RowsDb, RepeatedParameterSharesOneColumn) {
  st_->Prepare("select ID from PEOPLE where ID = :ID or (NICK = :NAME and PARENT = :ID) order by ID");
  TIB_Row& p = st_->Params();
  ASSERT_EQ(p.PSQLDA()->sqld, 3);
  ASSERT_EQ(p.ColumnCount(), 2);
  EXPECT_EQ(p.GetColumn(0)->GetAliasName(), "ID");
  EXPECT_EQ(p.GetColumn(1)->GetAliasName(), "NAME");
  EXPECT_EQ(p.Var(2)->sqldata, p.Var(0)->sqldata);
  EXPECT_EQ(p.Var(2)->sqlind, p.Var(0)->sqlind);

  p.ColumnByName("ID")->SetAsInteger(5);
  p.ColumnByName("NAME")->SetAsString("x");
  st_->Execute();
  std::vector<int32_t> ids;
  while (st_->Fetch()) ids.push_back(st_->Fields().GetColumn(0)->GetAsInteger());
  EXPECT_EQ(ids, (std::vector<int32_t>{5, 7}));
}

TEST_F(RowsDb, RepeatedParameterTakesTheLongerDefinition) {
  st_->Prepare("select ID from PEOPLE where NICK = :N or NAME = :N");
  TIB_Row& p = st_->Params();
  ASSERT_EQ(p.ColumnCount(), 1);
  EXPECT_EQ(p.Var(0)->sqllen, p.Var(1)->sqllen);
  EXPECT_GE(p.Var(0)->sqllen, 20);
  p.GetColumn(0)->SetAsString(CZ("šest"));
  st_->Execute();
  ASSERT_TRUE(st_->Fetch());
  EXPECT_EQ(st_->Fields().GetColumn(0)->GetAsInteger(), 6);
}

TEST_F(RowsDb, NullOnlyParameterAndNonNullableParameter) {
  // "? is null" describes as SQL_NULL: a zero-length column whose value is its null state.
  st_->Prepare("select count(*) from PEOPLE where :P is null or ID = :K");
  TIB_Row& p = st_->Params();
  ASSERT_EQ(p.ColumnCount(), 2);
  TIB_Column* pn = p.ColumnByName("P");
  EXPECT_EQ(BaseSQLType(pn->PSQLVAR()->sqltype), SQL_NULL);
  EXPECT_EQ(pn->ClassName(), "TIB_ColumnText");
  TIB_Column* k = p.ColumnByName("K");
  k->SetAsInteger(5);
  pn->SetIsNull(false);
  st_->Execute();
  ASSERT_TRUE(st_->Fetch());
  EXPECT_EQ(st_->Fields().GetColumn(0)->GetAsInteger(), 1);
  st_->Close();

  pn->SetIsNull(true);
  k->SetIsNull(true);
  EXPECT_TRUE(k->GetIsNullable()) << "a null parameter is made nullable";
  st_->Execute();
  ASSERT_TRUE(st_->Fetch());
  EXPECT_EQ(st_->Fields().GetColumn(0)->GetAsInteger(), 4);
}

TEST_F(RowsDb, ValuesWrittenThroughParametersComeBackTheSame) {
  struct Case {
    const char* column;
    const char* text;  // UTF-8, Czech settings; written and expected back
  };
  const Case cases[] = {
      {"SI", "-32768"},         {"II", "2147483647"},          {"BI", "-9223372036854775808"},
      {"N92", "-123,45"},       {"N152", "9876543210,12"},     {"N184", "12345678901234,5678"},
      {"FL", "0,5"},            {"DP", "-1,25E-10"},           {"D", "28.02.1800"},
      {"T", "23:59:59"},        {"TS", "31.12.2099 08:09:10"}, {"CH", "Kůň"},
      {"VC", kCzech.c_str()},   {"BO", "FALSE"},
  };
  std::string cols = "ID", marks = ":ID";
  for (const Case& c : cases) {
    cols += std::string(", ") + c.column;
    marks += std::string(", :") + c.column;
  }
  st_->Prepare("insert into ALLTYPES (" + cols + ") values (" + marks + ")");
  TIB_Row& p = st_->Params();
  p.ColumnByName("ID")->SetAsInteger(10);
  for (const Case& c : cases) p.ColumnByName(c.column)->SetAsString(CZ(c.text));
  st_->Execute();

  st_->Prepare("select " + cols + " from ALLTYPES where ID = 10");
  st_->Execute();
  ASSERT_TRUE(st_->Fetch());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    EXPECT_EQ(st_->Fields().ColumnByName(c.column)->GetAsString(), CZ(c.text));
  }
  EXPECT_EQ(st_->Fields().ColumnByName("BI")->GetAsInt64(), INT64_MIN);
}

TEST_F(RowsDb, BlobWrittenAndPostedIsReadFromTheCache) {
  const std::string text = "Kůň " + std::string(70000, 'x');
  st_->Prepare("insert into ALLTYPES (ID, B1, AR) values (:ID, :B1, :AR)");
  st_->Params().ColumnByName("ID")->SetAsInteger(3);
  st_->Params().ColumnByName("B1")->SetAsString(CZ(text));
  st_->Params().ColumnByName("AR")->SetIsNull(true);
  st_->Execute();
  EXPECT_EQ(st_->blob_stores, 1);
  EXPECT_TRUE(IsNullBlobId(st_->Params().GetBlobNode(1)->BlobId)) << "a parameter row keeps no id";

  // A field row: edit the memo, post it (as an update would), and read it back.
  st_->Prepare("select ID, B1 from ALLTYPES where ID = 3");
  TIB_Row& f = st_->Fields();
  st_->Execute();
  ASSERT_TRUE(st_->Fetch());
  auto* memo = f.ColumnByName("B1");
  EXPECT_FALSE(memo->GetIsLoaded());
  EXPECT_EQ(memo->GetAsString(), CZ(text));
  EXPECT_TRUE(memo->GetIsLoaded());
  EXPECT_EQ(st_->blob_loads, 1);
  EXPECT_EQ(memo->GetAsString(), CZ(text));
  EXPECT_EQ(st_->blob_loads, 1) << "read once";

  memo->SetAsString(CZ("nový"));
  EXPECT_TRUE(memo->GetIsModified());
  EXPECT_EQ(f.RowState(), rsModified);
  f.PostBlobs();
  EXPECT_EQ(st_->blob_stores, 2);
  f.AfterPostBlobs(true);
  EXPECT_FALSE(f.GetBlobNode(1)->Changed);
  ASSERT_NE(*f.GetBlobNodes(), nullptr) << "the posted blob went to the row's chain";
  EXPECT_EQ(memo->GetAsString(), CZ("nový"));
  EXPECT_EQ(st_->blob_loads, 1) << "no server read after the post";

  // A failed post leaves no id behind.
  memo->SetAsString("again");
  f.PostBlobs();
  f.AfterPostBlobs(false);
  EXPECT_TRUE(IsNullBlobId(f.GetBlobNode(1)->BlobId));
  EXPECT_TRUE(IsNullBlobId(static_cast<TIB_ColumnBlob*>(memo)->BlobId()));
}

}  // namespace
}  // namespace pelvar
