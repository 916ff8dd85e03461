// The typed columns against real Firebird 3: Czech text byte-exact through CHAR and
// VARCHAR (WIN1250 and UTF8 connections, checked with isql as an independent reader),
// scaled numbers exact as text, dates before 1899-12-30, a large memo read once, array
// element order checked with the server's own subscripts, booleans and infinities.
#include <gtest/gtest.h>

#include <cmath>

#include "dbclient/ClientLibraryName.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"
#include "row_statement_double.h"

namespace pelvar {
namespace {

using test::FbTestDb;
using test::RowStatement;

const std::string kCzech = "Příliš žluťoučký kůň úpěl ďábelské ódy";

// The row test double plus what the columns ask of a statement beyond it: the
// connection's character set and the server's length of a blob.
class ColumnStatement : public RowStatement {
 public:
  ColumnStatement(TIB_Session* session, isc_db_handle& db, isc_tr_handle& tr)
      : RowStatement(session, db, tr), session_(session), db_(db), tr_(tr) {}

  AnsiString charset = "WIN1250";
  int size_asks = 0;

  AnsiString ConnectionCharSet() const override { return charset; }
  // A parameter loses its relation and field name when it is named after the SQL's
  // parameter; the test's arrays all live in table T under the parameter's name.
  bool LookupArrayBounds(const XSQLVAR* var, ISC_ARRAY_DESC& desc) override {
    if (var->relname_length > 0) return RowStatement::LookupArrayBounds(var, desc);
    XSQLVAR named = *var;
    std::memcpy(named.relname, "T", 2);
    named.relname_length = 1;
    std::memcpy(named.sqlname, var->aliasname, sizeof named.sqlname);
    return RowStatement::LookupArrayBounds(&named, desc);
  }
  bool ServerBlobSize(XSQLVAR* var, int32_t& size) override {
    ++size_asks;
    ISC_QUAD id;
    std::memcpy(&id, var->sqldata, sizeof id);
    isc_blob_handle blob = 0;
    if (CallClient(ClientCallTable.isc_open_blob2, session_->StatusVector(), &db_, &tr_, &blob, &id,
                   static_cast<ISC_USHORT>(0), nullptr) != 0) {
      return false;
    }
    int32_t max_segment = 0, segments = 0;
    session_->GetBlobInfo(max_segment, size, segments, &blob, var);
    CallClient(ClientCallTable.isc_close_blob, session_->StatusVector(), &blob);
    return true;
  }

 private:
  TIB_Session* session_;
  isc_db_handle& db_;
  isc_tr_handle& tr_;
};

class ColumnsDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    db_ = FbTestDb::Create(FbTestDb::Mode::Embedded).release();
    db_->RunSql(
        "create table T (ID integer not null primary key, VC varchar(60), CH char(60),\n"
        "  SHORTVC varchar(5), N184 numeric(18,4), N186 numeric(18,6), N152 numeric(15,2),\n"
        "  N92 numeric(9,2), BI bigint, DP double precision, D date, TM time, TS timestamp,\n"
        "  MEMO blob sub_type 1, BIN blob sub_type 0, BO boolean, AR2 integer[1:3, 1:2],\n"
        "  ACH char(4)[0:1], AVC varchar(5)[2], AN numeric(9,2)[2]);\n"
        "commit;\n");
  }
  static void TearDownTestSuite() {
    delete db_;
    db_ = nullptr;
  }

  void SetUp() override { Connect("WIN1250"); }
  void TearDown() override { Disconnect(); }

  void Connect(const std::string& charset) {
    charset_ = charset;
    InstallClientLibraryNameProvider();
    session_ = std::make_unique<TIB_Session>(nullptr);
    db_handle_ = test::Attach(*session_, db_->ConnectString(), test::MakeDpb(charset));
    ASSERT_NE(db_handle_, 0u);
    tr_ = test::StartTransaction(*session_, db_handle_);
    st_ = std::make_unique<ColumnStatement>(session_.get(), db_handle_, tr_);
    st_->charset = charset;
  }
  void Disconnect() {
    if (!session_) return;
    st_.reset();
    test::CleanUp(*session_, db_handle_, tr_);
    session_.reset();
    ClientLibraryNameHook = nullptr;
  }
  // Commits and detaches: the embedded engine lets isql open the file only then.
  void CommitWork() {
    st_->Close();
    test::Commit(*session_, tr_);
    Disconnect();
  }
  void Reconnect() { Connect(charset_); }
  // Inserts one row with the given columns set by the callback.
  void Insert(int id, const std::string& columns, const std::function<void(TIB_Row&)>& fill) {
    std::string marks;
    for (const AnsiString& c : SplitToStrings(columns)) marks += ", :" + c;
    st_->Prepare("insert into T (ID, " + columns + ") values (:ID" + marks + ")");
    st_->Params().ColumnByName("ID")->SetAsInteger(id);
    fill(st_->Params());
    st_->Execute();
  }
  TIB_Row& Select(const std::string& columns, int id) {
    st_->Prepare("select " + columns + " from T where ID = " + std::to_string(id));
    st_->Execute();
    EXPECT_TRUE(st_->Fetch());
    return st_->Fields();
  }
  // isql's answer (UTF-8) to a one-value query, its heading and blank lines dropped.
  std::string IsqlValue(const std::string& expression, int id) {
    const std::string out = db_->RunSql("set list on;\nselect " + expression + " as V from T where ID = " +
                                        std::to_string(id) + ";\n");
    const size_t at = out.find("V ");
    if (at == std::string::npos) return "<none>";
    size_t b = out.find_first_not_of(' ', at + 1);
    size_t e = out.find('\n', b);
    std::string v = out.substr(b, e == std::string::npos ? std::string::npos : e - b);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\r')) v.pop_back();
    return v;
  }

  static FbTestDb* db_;
  std::string charset_;
  std::unique_ptr<TIB_Session> session_;
  isc_db_handle db_handle_ = 0;
  isc_tr_handle tr_ = 0;
  std::unique_ptr<ColumnStatement> st_;
};

FbTestDb* ColumnsDb::db_ = nullptr;

TEST_F(ColumnsDb, CzechTextRoundTripsByteExactThroughVarcharAndChar) {
  Insert(1, "VC, CH", [](TIB_Row& p) {
    p.ColumnByName("VC")->SetAsString(CZ(kCzech));
    p.ColumnByName("CH")->SetAsString(CZ(kCzech));
  });
  TIB_Row& f = Select("VC, CH", 1);
  EXPECT_EQ(f.ColumnByName("VC")->GetAsString(), CZ(kCzech));
  EXPECT_EQ(f.ColumnByName("CH")->GetAsString(), CZ(kCzech)) << "the CHAR padding is trimmed";
  EXPECT_EQ(f.ColumnByName("VC")->GetAsRawString(), CZ(kCzech));
  CommitWork();
  // An independent reader sees the same characters.
  EXPECT_EQ(IsqlValue("VC", 1), kCzech);
  EXPECT_EQ(IsqlValue("trim(CH)", 1), kCzech);
  EXPECT_EQ(IsqlValue("octet_length(VC)", 1), std::to_string(CZ(kCzech).size()));

  // Through a UTF8 connection the same texts arrive and leave in the program's code page.
  Connect("UTF8");
  TIB_Row& u = Select("VC, CH", 1);
  EXPECT_EQ(u.ColumnByName("VC")->GetAsString(), CZ(kCzech));
  EXPECT_EQ(u.ColumnByName("CH")->GetAsString(), CZ(kCzech));
  Insert(2, "VC", [](TIB_Row& p) { p.ColumnByName("VC")->SetAsString(CZ("Kůň úpěl")); });
  CommitWork();
  EXPECT_EQ(IsqlValue("VC", 2), "Kůň úpěl");
}

TEST_F(ColumnsDb, TextLongerThanItsColumnRaisesUnlessTheTrimmingCuts) {
  st_->Prepare("insert into T (ID, SHORTVC) values (3, :S)");
  TIB_Column* s = st_->Params().ColumnByName("S");
  EXPECT_EQ(s->Trimming, ctRightCheckLen) << "default: trailing blanks go, then the length is checked";
  s->SetAsString("abcde   ");  // fits once the blanks are trimmed
  EXPECT_EQ(s->GetAsString(), "abcde");
  try {
    s->SetAsString(CZ("žluťoučký"));
    ADD_FAILURE() << "a longer text was accepted";
  } catch (const EIB_StatementError& e) {
    EXPECT_EQ(e.Message(), "S overrun: 5 bytes expected but 9 bytes found");
  }
  EXPECT_EQ(s->GetAsString(), "abcde") << "nothing changed";
  // The option stays: a trimming without the check cuts.
  s->Trimming = ctRight;
  s->SetAsString(CZ("žluťoučký"));
  st_->Execute();
  EXPECT_EQ(Select("SHORTVC", 3).ColumnByName("SHORTVC")->GetAsString(), CZ("žluťo"));
}

TEST_F(ColumnsDb, ScaledNumbersAndCurrencyTextsStoreExactly) {
  struct Case {
    const char* column;
    const char* text;      // written, Czech settings (UTF-8)
    const char* back;      // read back through the column
    const char* isql;      // what the server holds
  };
  const Case cases[] = {
      {"N184", "12345678901234,5678", "12345678901234,5678", "12345678901234.5678"},
      {"N184", "-0,0001", "-0,0001", "-0.0001"},
      {"N186", "123456789012,345678", "123456789012,345678", "123456789012.345678"},
      {"N186", "-9,000001", "-9,000001", "-9.000001"},
      {"N152", "1 234,50 Kč", "1234,50", "1234.50"},
      {"N152", "1\xC2\xA0" "234,50 Kč", "1234,50", "1234.50"},
      {"N92", "-1 234,56", "-1234,56", "-1234.56"},
      {"BI", "-9223372036854775808", "-9223372036854775808", "-9223372036854775808"},
  };
  int id = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " " + c.text);
    Insert(++id, c.column, [&](TIB_Row& p) { p.ColumnByName(c.column)->SetAsString(CZ(c.text)); });
    EXPECT_EQ(Select(c.column, id).ColumnByName(c.column)->GetAsString(), CZ(c.back));
  }
  CommitWork();
  id = 100;
  for (const Case& c : cases) EXPECT_EQ(IsqlValue(c.column, ++id), c.isql) << c.column << " " << c.text;
  Reconnect();

  // Values beyond 32 bits never come back as their low word.
  Insert(120, "BI, N184", [](TIB_Row& p) {
    p.ColumnByName("BI")->SetAsInt64((int64_t{1} << 32) + 1);
    p.ColumnByName("N184")->SetAsString("3000000000,5");
  });
  TIB_Row& f = Select("BI, N184", 120);
  EXPECT_THROW(f.ColumnByName("BI")->GetAsInteger(), EIntOverflow);
  EXPECT_THROW(f.ColumnByName("N184")->GetAsInteger(), Exception);
  EXPECT_EQ(f.ColumnByName("N184")->GetAsInt64(), 3000000000LL);
  EXPECT_EQ(f.ColumnByName("BI")->GetAsInt64(), (int64_t{1} << 32) + 1);
}

// Decimal text into a scaled column takes its exact value and rounds its surplus
// decimals as the server's own cast of the same text does, whatever the storage (LONG
// and INT64, with and without BCD); no binary floating value in between.
TEST_F(ColumnsDb, DecimalTextsRoundAsTheServersCast) {
  struct Case {
    const char* column;
    const char* type;
    const char* text;  // Czech settings
  };
  const Case cases[] = {
      {"N92", "numeric(9,2)", "1,005"},
      {"N92", "numeric(9,2)", "-1,005"},
      {"N92", "numeric(9,2)", "2,675"},
      {"N92", "numeric(9,2)", "1,00499999"},
      {"N92", "numeric(9,2)", "0,015"},
      {"N152", "numeric(15,2)", "1 234,565 Kč"},
      {"N152", "numeric(15,2)", "9999999999999,994"},
      {"N184", "numeric(18,4)", "-2,00015"},
      {"N186", "numeric(18,6)", "1,2345675"},
      {"N186", "numeric(18,6)", "123456789012,3456785"},
      {"N186", "numeric(18,6)", "0,0000005"},
      {"N186", "numeric(18,6)", "-0,00000049"},
  };
  int id = 700;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " " + c.text);
    Insert(++id, c.column, [&](TIB_Row& p) { p.ColumnByName(c.column)->SetAsString(CZ(c.text)); });
  }
  CommitWork();
  id = 700;
  for (const Case& c : cases) {
    // The same number as the server reads text: a full stop, no grouping, no currency.
    std::string plain;
    for (const char ch : std::string(c.text)) {
      if (ch == ',') plain += '.';
      else if ((ch >= '0' && ch <= '9') || ch == '-') plain += ch;
    }
    ++id;
    ASSERT_NE(IsqlValue(c.column, id), "<none>");
    EXPECT_EQ(IsqlValue(c.column, id), IsqlValue("cast('" + plain + "' as " + c.type + ")", id))
        << c.column << " " << c.text;
  }
  EXPECT_EQ(IsqlValue("N92", 701), "1.01");
  EXPECT_EQ(IsqlValue("N186", 710), "123456789012.345679");
  Reconnect();

  // A text that is no number in these settings says what it is and what was expected,
  // and leaves the parameter as it was.
  st_->Prepare("insert into T (ID, N152, N92) values (:ID, :N152, :N92)");
  for (const char* column : {"N152", "N92"}) {
    TIB_Column* p = st_->Params().ColumnByName(column);
    p->SetAsString("7");
    const AnsiString before = p->GetAsString();
    try {
      p->SetAsString("12.34");
      ADD_FAILURE() << column << " took 12.34";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "'12.34' is not a valid numeric value for " + std::string(column) +
                                 ": expected a number with ',' as the decimal separator");
    }
    EXPECT_EQ(p->GetAsString(), before);
    EXPECT_EQ(p->GetAsInt64(), 7);
  }
  // Beyond the storage: the storage's overflow.
  EXPECT_THROW(st_->Params().ColumnByName("N92")->SetAsString("21474836,48"), Exception);
  EXPECT_THROW(st_->Params().ColumnByName("N152")->SetAsString("1E17"), Exception);
}

TEST_F(ColumnsDb, DatesAndTimesRoundTripIncludingBefore1899) {
  struct Case {
    const char* column;
    TDateTime value;
    const char* isql;
  };
  const Case cases[] = {
      {"D", EncodeDate(1800, 2, 28), "1800-02-28"},
      {"D", EncodeDate(1899, 12, 29), "1899-12-29"},
      {"D", EncodeDate(2024, 2, 29), "2024-02-29"},
      {"TM", EncodeTime(23, 59, 59, 999), "23:59:59.9990"},
      // Before the epoch the day counts down and the time of day still counts up.
      {"TS", EncodeDate(1899, 12, 29) - EncodeTime(13, 14, 15, 500), "1899-12-29 13:14:15.5000"},
      {"TS", EncodeDate(1650, 6, 1) - EncodeTime(6, 0, 0, 0), "1650-06-01 06:00:00.0000"},
      {"TS", EncodeDate(2099, 12, 31) + EncodeTime(8, 9, 10, 0), "2099-12-31 08:09:10.0000"},
  };
  int id = 200;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.isql);
    Insert(++id, c.column, [&](TIB_Row& p) { p.ColumnByName(c.column)->SetAsDateTime(c.value); });
    TIB_Column* col = Select(c.column, id).ColumnByName(c.column);
    EXPECT_NEAR(col->GetAsDateTime(), c.value, 1e-8);
    // And back through text with the Czech settings.
    const AnsiString text = col->GetAsString();
    Insert(++id + 50, c.column, [&](TIB_Row& p) { p.ColumnByName(c.column)->SetAsString(text); });
    EXPECT_EQ(Select(c.column, id + 50).ColumnByName(c.column)->GetAsString(), text);
  }
  CommitWork();
  id = 200;
  for (const Case& c : cases) {
    EXPECT_EQ(IsqlValue(c.column, ++id), c.isql);
    ++id;
  }
  Reconnect();

  // Date words against a fixed clock.
  SetNowSource([] { return EncodeDate(2024, 5, 1) + EncodeTime(10, 30, 0, 0); });
  Insert(300, "D, TS, TM", [](TIB_Row& p) {
    p.ColumnByName("D")->SetAsString("tomorrow");
    p.ColumnByName("TS")->SetAsString("NOW");
    p.ColumnByName("TM")->SetAsString("now");
  });
  SetNowSource({});
  TIB_Row& f = Select("D, TS, TM", 300);
  EXPECT_EQ(f.ColumnByName("D")->GetAsDate(), EncodeDate(2024, 5, 2));
  EXPECT_NEAR(f.ColumnByName("TS")->GetAsDateTime(), EncodeDate(2024, 5, 1) + EncodeTime(10, 30, 0, 0), 1e-8);
  EXPECT_NEAR(f.ColumnByName("TM")->GetAsDateTime(), EncodeTime(10, 30, 0, 0), 1e-8);
}

TEST_F(ColumnsDb, LargeMemoIsReadFromTheServerOnce) {
  const AnsiString czech = CZ(kCzech);
  AnsiString text;
  for (size_t i = 0; text.size() < 150000; ++i) text += czech.substr(0, 1 + i % czech.size()) + "\r\n";
  text.resize(150000);
  // SHORTVC first: the blob values then sit at odd offsets of the packed row buffer.
  Insert(400, "SHORTVC, MEMO, BIN", [&](TIB_Row& p) {
    p.ColumnByName("SHORTVC")->SetAsString("abc");
    p.ColumnByName("MEMO")->SetAsString(text);
    p.ColumnByName("BIN")->SetAsString("");
  });
  TIB_Row& f = Select("MEMO, BIN", 400);
  TIB_Column* m = f.ColumnByName("MEMO");
  EXPECT_EQ(m->GetDataSize(), 150000) << "the length, asked of the server";
  EXPECT_EQ(st_->size_asks, 1);
  EXPECT_EQ(st_->blob_loads, 0) << "without reading the content";
  EXPECT_FALSE(m->GetIsLoaded());
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(m->GetAsString() == text);
  EXPECT_EQ(m->GetDisplayText().size(), 150000u) << "a loaded memo shows its text";
  EXPECT_EQ(m->GetDataSize(), 150000);
  EXPECT_EQ(st_->blob_loads, 1);
  EXPECT_EQ(st_->size_asks, 1);
  TIB_Column* b = f.ColumnByName("BIN");
  EXPECT_FALSE(b->GetIsNull()) << "an empty text is an empty blob, not null";
  EXPECT_EQ(b->GetDataSize(), 0);
  EXPECT_EQ(b->GetDisplayText(), "( BIN )");

  // During an edit the old content stays readable from the cache.
  m->SetAsString("new");
  EXPECT_EQ(m->GetAsString(), "new");
  EXPECT_TRUE(m->GetOldAsString() == text);
  EXPECT_EQ(st_->blob_loads, 1);
}

TEST_F(ColumnsDb, ArrayKeepsBoundsAndTheServersElementOrder) {
  // Written with other bounds than the server's: only the element counts must match.
  Variant v = VarArrayCreate({0, 2, 10, 11}, varInteger);
  for (int i = 0; i <= 2; ++i) {
    for (int j = 10; j <= 11; ++j) VarArrayPut(v, Variant(10 * (i + 1) + (j - 9)), {i, j});
  }
  Variant chars = VarArrayCreate({5, 6}, varVariant);
  VarArrayPut(chars, Variant("ab"), {5});
  VarArrayPut(chars, Variant(CZ("kůň")), {6});
  Variant texts = VarArrayOf({Variant("x"), Variant(CZ("žluťoučký"))});
  Variant amounts = VarArrayOf({Variant("12,34"), Variant(-0.5)});
  Insert(500, "AR2, ACH, AVC, AN", [&](TIB_Row& p) {
    p.ColumnByName("AR2")->SetAsVariant(v);
    p.ColumnByName("ACH")->SetAsVariant(chars);
    p.ColumnByName("AVC")->SetAsVariant(texts);
    p.ColumnByName("AN")->SetAsVariant(amounts);
  });
  CommitWork();
  // The server's own subscripts see element [i, j] where the Variant had it.
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 2; ++j) {
      EXPECT_EQ(IsqlValue("AR2[" + std::to_string(i) + ", " + std::to_string(j) + "]", 500),
                std::to_string(10 * i + j));
    }
  }
  EXPECT_EQ(IsqlValue("AN[1]", 500), "12.34");
  EXPECT_EQ(IsqlValue("AVC[2]", 500), "žluťo");
  Reconnect();

  TIB_Row& f = Select("AR2, ACH, AVC, AN", 500);
  const Variant back = f.ColumnByName("AR2")->GetAsVariant();
  ASSERT_EQ(VarArrayDimCount(back), 2);
  EXPECT_EQ(VarArrayLowBound(back, 1), 1);
  EXPECT_EQ(VarArrayHighBound(back, 1), 3);
  EXPECT_EQ(VarArrayLowBound(back, 2), 1);
  EXPECT_EQ(VarArrayHighBound(back, 2), 2);
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 2; ++j) EXPECT_EQ(VarArrayGet(back, {i, j}).AsInteger(), 10 * i + j);
  }
  const Variant c = f.ColumnByName("ACH")->GetAsVariant();
  EXPECT_EQ(VarArrayGet(c, {0}).AsString(), "ab  ") << "CHAR elements keep their padding";
  EXPECT_EQ(VarArrayGet(c, {1}).AsString(), CZ("kůň "));
  EXPECT_EQ(VarArrayGet(f.ColumnByName("AVC")->GetAsVariant(), {2}).AsString(), CZ("žluťo"));
  const Variant n = f.ColumnByName("AN")->GetAsVariant();
  EXPECT_DOUBLE_EQ(VarArrayGet(n, {1}).AsDouble(), 12.34) << "a NUMERIC array reads its scale";
  EXPECT_DOUBLE_EQ(VarArrayGet(n, {2}).AsDouble(), -0.5);
  EXPECT_EQ(f.ColumnByName("AR2")->GetSQLTypeSource(true), "INTEGER[ 3, 2 ]");
  EXPECT_EQ(f.ColumnByName("AR2")->GetAsString(), "(ARRAY)");

  // Wrong shapes store nothing.
  TIB_Column* ar = f.ColumnByName("AR2");
  EXPECT_THROW(ar->SetAsVariant(VarArrayCreate({0, 3, 0, 1}, varInteger)), Exception);
  EXPECT_THROW(ar->SetAsVariant(VarArrayCreate({1, 6}, varInteger)), Exception);
  EXPECT_THROW(ar->SetAsVariant(Variant(5)), Exception);
  EXPECT_EQ(VarArrayGet(ar->GetAsVariant(), {3, 2}).AsInteger(), 32);
  ar->Clear();
  EXPECT_TRUE(ar->GetIsNull());
  EXPECT_TRUE(VarIsEmpty(ar->GetAsVariant())) << "a null array is Unassigned";
}

TEST_F(ColumnsDb, BooleanAndInfinitiesReadAndWrite) {
  Insert(600, "BO, DP", [](TIB_Row& p) {
    p.ColumnByName("BO")->SetAsString("yes");
    p.ColumnByName("DP")->SetAsString("-inf");
  });
  Insert(601, "BO, DP", [](TIB_Row& p) {
    p.ColumnByName("BO")->SetAsBoolean(false);
    p.ColumnByName("DP")->SetAsString("INF");
  });
  Insert(602, "BO", [](TIB_Row& p) { p.ColumnByName("BO")->SetAsString("unknown"); });
  TIB_Row& f = Select("BO, DP", 600);
  EXPECT_TRUE(f.ColumnByName("BO")->GetAsBoolean());
  EXPECT_EQ(f.ColumnByName("BO")->GetAsString(), "TRUE");
  EXPECT_EQ(f.ColumnByName("DP")->GetAsString(), "-INF");
  TIB_Row& g = Select("BO, DP", 601);
  EXPECT_EQ(g.ColumnByName("BO")->GetAsString(), "FALSE");
  EXPECT_EQ(g.ColumnByName("DP")->GetAsString(), "INF");
  EXPECT_TRUE(std::isinf(g.ColumnByName("DP")->GetAsDouble()));
  EXPECT_EQ(Select("BO", 602).ColumnByName("BO")->GetAsString(), "UNKNOWN");
  CommitWork();
  EXPECT_EQ(IsqlValue("BO", 600), "<true>");
  EXPECT_EQ(IsqlValue("BO", 601), "<false>");
}

}  // namespace
}  // namespace pelvar
