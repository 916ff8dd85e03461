// Rows and columns over hand-made describes: the column factory, parameter naming and
// hidden parameters, column look-up and field names, the modification bracket, change
// notifications, row states and raw column data.
#include <gtest/gtest.h>

#include <cstring>

#include "dbengine/IB_Components_columns.h"
#include "dbengine/IB_Parse.h"
#include "platform/codepage.h"

namespace pelvar {
namespace {

XSQLVAR MakeVar(int16_t type, int16_t len, const char* alias = "", const char* rel = "",
                const char* own = nullptr, int16_t scale = 0, int16_t subtype = 0) {
  XSQLVAR v{};
  v.sqltype = type;
  v.sqllen = len;
  v.sqlscale = scale;
  v.sqlsubtype = subtype;
  auto put = [](char* buf, int16_t& n, const char* s) {
    n = static_cast<int16_t>(std::strlen(s));
    std::memcpy(buf, s, static_cast<size_t>(n));
  };
  put(v.aliasname, v.aliasname_length, alias);
  put(v.relname, v.relname_length, rel);
  put(v.sqlname, v.sqlname_length, own ? own : alias);
  return v;
}

// A statement whose describe hands out prepared entries.
class FakeStatement : public TIB_RowOwner {
 public:
  FakeStatement() : TIB_RowOwner(nullptr), params(this, rtParams), fields(this, rtFields) {}
  ~FakeStatement() override {
    params.ClearColumns();
    fields.ClearColumns();
  }
  void Describe(TIB_Row& row, const std::vector<XSQLVAR>& vars) {
    pending_ = vars;
    row.SetColumnCount(static_cast<int16_t>(vars.size()));
  }
  void SysDescribeRow(TIB_Row* row) override {
    for (size_t i = 0; i < pending_.size(); ++i) *row->Var(static_cast<int32_t>(i)) = pending_[i];
    if (row->RowType() == rtParams && !names.empty()) row->NameParams();
  }
  const TStrings* ParamNameList() const override {
    list_.Clear();
    for (const auto& n : names) list_.Add(n);
    return &list_;
  }
  uint16_t SQLDialect() const override { return dialect; }
  const TStrings* CalculatedFieldList() const override { return calculated.Count() ? &calculated : nullptr; }
  void DoCalculateFields(TIB_Row*, TIB_Column* column) override { calculated_calls.push_back(column); }

  uint16_t dialect = 3;
  std::vector<AnsiString> names;
  TStringList calculated;
  std::vector<TIB_Column*> calculated_calls;
  TIB_Row params;
  TIB_Row fields;

 private:
  std::vector<XSQLVAR> pending_;
  mutable TStringList list_;
};

TEST(RowLayout, FactoryPicksTheClassBySqlType) {
  struct Case {
    XSQLVAR var;
    const char* cls;
  };
  const Case cases[] = {
      {MakeVar(SQL_LONG + 1, 4, "A", "T", nullptr, -2), "TIB_ColumnNumeric"},
      {MakeVar(SQL_INT64, 8, "A", "T", nullptr, -4), "TIB_ColumnNumeric"},
      {MakeVar(SQL_DOUBLE, 8, "A", "T", nullptr, -2), "TIB_ColumnNumeric"},
      {MakeVar(SQL_FLOAT, 4, "A", "T", nullptr, -2), "TIB_ColumnFloat"},
      {MakeVar(SQL_TYPE_TIME, 4, "A"), "TIB_ColumnTime"},
      {MakeVar(SQL_TYPE_DATE + 1, 4, "A"), "TIB_ColumnDate"},
      {MakeVar(SQL_INT64, 8, "A"), "TIB_ColumnInt64"},
      {MakeVar(SQL_BOOLEAN + 1, 1, "A"), "TIB_ColumnBoolean"},
      {MakeVar(590, 2, "A"), "TIB_ColumnBoolean"},
      {MakeVar(SQL_BLOB, 8, "A", "", nullptr, 0, 1), "TIB_ColumnMemo"},
      {MakeVar(SQL_BLOB, 8, "A", "", nullptr, 0, 2), "TIB_ColumnBLR"},
      {MakeVar(SQL_BLOB, 8, "A", "", nullptr, 0, 7), "TIB_ColumnBinary"},
      {MakeVar(SQL_ARRAY, 8, "A"), "TIB_ColumnArray"},
      {MakeVar(SQL_QUAD, 8, "A"), "TIB_ColumnQuad"},
      {MakeVar(SQL_FLOAT, 4, "A"), "TIB_ColumnFloat"},
      {MakeVar(SQL_LONG, 4, "A"), "TIB_ColumnInteger"},
      {MakeVar(SQL_SHORT, 2, "A"), "TIB_ColumnSmallInt"},
      {MakeVar(SQL_TIMESTAMP, 8, "A"), "TIB_ColumnTimeStamp"},
      {MakeVar(SQL_VARYING, 10, "A"), "TIB_ColumnVarText"},
      {MakeVar(SQL_TEXT, 1, "DB_KEY", "", "X"), "TIB_ColumnText"},
      {MakeVar(SQL_TEXT, 8, "DB_KEY", "", "X"), "TIB_ColumnDB_KEY"},
      {MakeVar(SQL_TEXT, 1, "K", "", "DB_KEY"), "TIB_ColumnDB_KEY"},
      {MakeVar(SQL_TEXT, 1, "db_key", "", "X"), "TIB_ColumnText"},
      {MakeVar(SQL_TEXT, 10, "A"), "TIB_ColumnText"},
      {MakeVar(SQL_NULL + 1, 0, "A"), "TIB_ColumnText"},
      {MakeVar(SQL_DOUBLE, 8, "A"), "TIB_ColumnDouble"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cls);
    FakeStatement st;
    st.Describe(st.fields, {c.var});
    ASSERT_EQ(st.fields.ColumnCount(), 1);
    EXPECT_EQ(st.fields.GetColumn(0)->ClassName(), c.cls);
  }
}

TEST(RowLayout, UnsupportedTypeFreesTheWholeLayout) {
  FakeStatement st;
  try {
    st.Describe(st.fields, {MakeVar(SQL_LONG, 4, "A"), MakeVar(SQL_D_FLOAT, 8, "B")});
    ADD_FAILURE() << "no error";
  } catch (const EIB_StatementError& e) {
    EXPECT_EQ(e.Message(), CZ("Nepodporovaný typ sloupce: 530"));
    EXPECT_EQ(e.Sender(), &st);
  }
  EXPECT_EQ(st.fields.ColumnCount(), 0);
  EXPECT_EQ(st.fields.PSQLDA(), nullptr);
  EXPECT_EQ(st.fields.RowBufferSize(), 0);
}

TEST(RowLayout, ParametersAreNamedAndHiddenOnesGoLast) {
  FakeStatement st;
  st.names = {"MLNK_X", "cust.name", "ID", "\"Mixed\""};
  st.Describe(st.params, {MakeVar(SQL_LONG, 4), MakeVar(SQL_VARYING, 20), MakeVar(SQL_LONG, 4),
                          MakeVar(SQL_LONG, 4), MakeVar(SQL_LONG, 4)});
  TIB_Row& p = st.params;
  ASSERT_EQ(p.ColumnCount(), 5);
  EXPECT_EQ(p.HiddenParamCount(), 1);
  EXPECT_EQ(p.GetColumn(4)->GetAliasName(), "MLNK_X");
  EXPECT_EQ(p.GetColumn(0)->GetAliasName(), "NAME");
  EXPECT_EQ(p.GetColumn(0)->GetRelName(), "CUST");
  EXPECT_EQ(p.GetColumn(1)->GetAliasName(), "ID");
  EXPECT_EQ(p.GetColumn(2)->GetAliasName(), "\"Mixed\"");
  EXPECT_EQ(p.GetColumn(3)->GetAliasName(), "PRM__4");
  EXPECT_EQ(p.RowState(), rsLoaded) << "a parameter row is always loaded";
  TIB_Column* c = nullptr;
  EXPECT_TRUE(p.FindColumn("Mixed", c)) << "retried quoted";
  EXPECT_EQ(c, p.GetColumn(2));
  EXPECT_TRUE(p.FindColumn("cust.name", c));
  EXPECT_EQ(c, p.GetColumn(0));
  EXPECT_FALSE(p.FindColumn("\"\"", c));
  EXPECT_THROW(p.ColumnByName("NOPE"), EIB_StatementError);
  try {
    p.ColumnByIndex(99);
    ADD_FAILURE();
  } catch (const EIB_Error& e) {
    EXPECT_EQ(e.Message(), CZ("Položka číslo: 99 nenalezena"));
  }
}

TEST(RowLayout, LookupAndFieldNamesFollowTheDialect) {
  FakeStatement st;
  st.dialect = 1;
  st.Describe(st.fields, {MakeVar(SQL_LONG, 4, "NAME", "CUSTOMER"), MakeVar(SQL_LONG, 4, "NAME", "ORDERS"),
                          MakeVar(SQL_LONG, 4, "NAME", "X"), MakeVar(SQL_LONG, 4, "", "", "")});
  TIB_Row& f = st.fields;
  TIB_Column* c = nullptr;
  ASSERT_TRUE(f.FindColumn("COLUMN3", c));
  EXPECT_EQ(c->FieldNo(), 3);
  EXPECT_TRUE(c->GetIsExpression());
  ASSERT_TRUE(f.FindColumn("orders.name", c));
  EXPECT_EQ(c->FieldNo(), 1);
  EXPECT_EQ(c->GetFullName(), "ORDERS.NAME") << "several relations: qualified";
  EXPECT_EQ(f.GetColumn(0)->GetBDEFieldName(), "NAME");
  EXPECT_EQ(f.GetColumn(1)->GetBDEFieldName(), "NAME_1");
  EXPECT_EQ(f.GetColumn(2)->GetBDEFieldName(), "NAME_2");

  FakeStatement st3;
  st3.Describe(st3.fields, {MakeVar(SQL_LONG, 4, "", "", "")});
  EXPECT_EQ(st3.fields.GetColumn(0)->GetAliasName(), "");
  EXPECT_EQ(st3.fields.GetColumn(0)->GetBDEFieldName(), "COLUMN0");
}

TEST(RowLayout, CalculatedColumnsFollowTheDescribedOnes) {
  FakeStatement st;
  st.calculated.Add("FULL=VARCHAR(30)");
  st.Describe(st.fields, {MakeVar(SQL_LONG + 1, 4, "ID", "T")});
  TIB_Row& f = st.fields;
  ASSERT_EQ(f.ColumnCount(), 2);
  TIB_Column* calc = f.ColumnByName("FULL");
  EXPECT_EQ(calc->FieldNo(), -1);
  EXPECT_EQ(calc->NullIndPtr(), f.RowBuffer() + 6);
  EXPECT_EQ(calc->GetSQLTypeSource(false), "VARCHAR( 30 ) /* CLIENT CALCULATED */");
  f.SetRowLoaded(true, false, true);
  ASSERT_EQ(st.calculated_calls.size(), 1u);
  EXPECT_EQ(st.calculated_calls[0], calc);
}

class ColumnBracket : public ::testing::Test {
 protected:
  void SetUp() override {
    st.Describe(st.fields, {MakeVar(SQL_LONG + 1, 4, "N", "T"), MakeVar(SQL_VARYING + 1, 10, "S", "T"),
                            MakeVar(SQL_TEXT, 3, "C", "T")});
    st.fields.ClearRow(rsLoaded);
    n = st.fields.ColumnByName("N");
    s = st.fields.ColumnByName("S");
    st.fields.OnDataChange = [this](TIB_Row*, TIB_Column* c) { notified.push_back(c); };
  }
  FakeStatement st;
  TIB_Column* n = nullptr;
  TIB_Column* s = nullptr;
  std::vector<TIB_Column*> notified;
};

TEST_F(ColumnBracket, ValidationFailureRestoresTheOldValue) {
  n->SetAsInteger(7);
  n->OnValidate = [](TIB_Column* c) {
    if (c->GetAsInteger() > 10) throw Exception("too big");
  };
  EXPECT_THROW(n->SetAsInteger(11), Exception);
  EXPECT_EQ(n->GetAsInteger(), 7);
  EXPECT_NO_THROW(s->SetAsVariant(Variant(11))) << "another column validates on its own";
  EXPECT_EQ(s->GetAsString(), "11");
}

TEST_F(ColumnBracket, SameVariantTwiceChangesNothingTheSecondTime) {
  int changes = 0;
  n->OnChange = [&](TIB_Column*) { ++changes; };
  n->SetAsVariant(Variant(5));
  n->SetAsVariant(Variant(5));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(notified.size(), 1u);
  n->SetIsNull(true);
  n->SetAsVariant(Null());
  EXPECT_EQ(changes, 2);
  n->SetAsVariant(Variant(0));
  EXPECT_FALSE(n->GetIsNull()) << "0 on a null column ends not null";
  EXPECT_EQ(changes, 3);
  EXPECT_TRUE(n->Bound);
  s->SetAsVariant(Variant(AnsiString("")));
  EXPECT_FALSE(s->GetIsNull());
}

TEST_F(ColumnBracket, NotificationsCollectedBetweenBeginAndEndUpdate) {
  for (bool whole : {true, false}) {
    SCOPED_TRACE(whole);
    notified.clear();
    st.fields.BeginUpdate();
    n->SetAsInteger(whole ? 1 : 2);
    s->SetAsString(whole ? "a" : "b");
    n->SetAsInteger(whole ? 3 : 4);
    EXPECT_TRUE(notified.empty());
    st.fields.EndUpdate(whole);
    if (whole) {
      EXPECT_EQ(notified, std::vector<TIB_Column*>{nullptr});
    } else {
      EXPECT_EQ(notified, (std::vector<TIB_Column*>{n, s}));
    }
  }
  EXPECT_EQ(st.fields.RowState(), rsModified);
}

TEST_F(ColumnBracket, RawStringAndColData) {
  EXPECT_THROW(s->SetAsRawString("12345678901"), Exception);
  s->SetAsRawString("abc  ");
  EXPECT_EQ(s->GetAsRawString(), "abc  ");
  EXPECT_EQ(s->GetAsString(), "abc") << "right trimming by default";
  const AnsiString data = s->GetColData();
  ASSERT_EQ(data.size(), 12u);
  EXPECT_EQ(data.substr(0, 2), AnsiString("\x05\x00", 2));
  s->SetColData("");
  EXPECT_TRUE(s->GetIsNull());
  s->SetColData(data);
  EXPECT_EQ(s->GetAsRawString(), "abc  ");
  EXPECT_THROW(s->SetColData("xy"), EIB_ColumnError);
  n->SetAsInteger(12);
  EXPECT_EQ(n->GetAsXML(), "<n>\r\n12\r\n</n>\r\n");
}

TEST_F(ColumnBracket, RevertAndClearKeepTheirStates) {
  n->SetAsInteger(4);
  st.fields.SetRowLoaded(true, false, false);
  n->SetAsInteger(9);
  EXPECT_EQ(n->GetOldAsString(), "4");
  EXPECT_EQ(VarToStr(st.fields.GetOldValues("N")), "4");
  st.fields.RevertRow(false);
  EXPECT_EQ(n->GetAsInteger(), 4);
  EXPECT_EQ(st.fields.RowState(), rsLoaded);
  st.fields.ClearRow(rsEmpty);
  EXPECT_EQ(st.fields.RowState(), rsEmpty);
  EXPECT_TRUE(VarIsEmpty(n->GetAsVariant()));

  st.fields.SetManaged(true);
  n->SetAsInteger(6);
  st.fields.RevertRow(false);
  EXPECT_EQ(n->GetAsInteger(), 6) << "a managed row is left alone";
  st.fields.SetManaged(false);
}

TEST_F(ColumnBracket, ValuesByNamesAssignAndTextFallbacks) {
  st.fields.SetValues("N;S", VarArrayOf({Variant(8), Variant(AnsiString("x"))}));
  const Variant v = st.fields.GetValues("S;N");
  ASSERT_TRUE(VarIsArray(v));
  EXPECT_EQ(VarArrayGet(v, {0}).AsString(), "x");
  EXPECT_EQ(VarArrayGet(v, {1}).AsInteger(), 8);
  EXPECT_EQ(notified, std::vector<TIB_Column*>{nullptr}) << "one whole-row notification for the list";
  st.fields.SetValues("S", VarArrayOf({Variant(AnsiString("first")), Variant(AnsiString("second"))}));
  EXPECT_EQ(s->GetAsString(), "first");

  s->SetAsString(CZ("12,7"));
  EXPECT_EQ(s->GetAsInteger(), 12) << "the float fallback truncates";
  EXPECT_EQ(s->GetAsCurrency(), Currency(12.7));

  EXPECT_THROW(n->Assign(s), EConvertError) << "an integer column parses whole numbers only";
  s->SetAsString("12");
  n->Assign(s);
  EXPECT_EQ(n->GetAsInteger(), 12) << "assigned through text";
  s->SetIsNull(true);
  n->Assign(s);
  EXPECT_TRUE(n->GetIsNull());
  TStringList lines;
  st.fields.ColumnByName("C")->SetAsString("ab");
  st.fields.ColumnByName("C")->AssignTo(&lines);
  EXPECT_EQ(lines.Strings(0), "ab");
  try {
    n->Assign(&lines);
    ADD_FAILURE();
  } catch (const EIB_ColumnError& e) {
    EXPECT_EQ(e.Message(), CZ("Nemohu převést (assign) na TStringList"));
  }
  EXPECT_THROW(n->GetAsWideString(), Exception);
  EXPECT_THROW(n->LoadFromFile("x"), Exception);
}

TEST(ColumnTypes, TypeSourceTexts) {
  FakeStatement st;
  st.Describe(st.fields, {MakeVar(SQL_INT64, 8, "A"), MakeVar(SQL_LONG, 4, "B", "", nullptr, -3),
                          MakeVar(SQL_VARYING, 12, "C"), MakeVar(SQL_BLOB, 8, "D", "", nullptr, 0, 1),
                          MakeVar(SQL_BOOLEAN, 1, "E")});
  const char* expected[] = {"DECIMAL ( 18, 0 )", "DECIMAL ( 9, 3 )", "VARCHAR( 12 )", "BLOB( 65535, 1 )",
                            "BOOLEAN"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(st.fields.GetColumn(i)->GetSQLTypeSource(false), expected[i]);
  EXPECT_EQ(st.fields.GetColumn(0)->Alignment, 1);
  EXPECT_EQ(st.fields.GetColumn(2)->Alignment, 0);
}

TEST(ParamRow, ClearedToNullAndNonNullableMadeNullable) {
  FakeStatement st;
  st.names = {"A", "B"};
  st.Describe(st.params, {MakeVar(SQL_LONG, 4), MakeVar(SQL_BOOLEAN, 1)});
  TIB_Row& p = st.params;
  TIB_Column* a = p.ColumnByName("A");
  TIB_Column* b = p.ColumnByName("B");
  a->SetAsInteger(3);
  b->SetAsString("yes");
  EXPECT_TRUE(b->GetAsBoolean());
  EXPECT_EQ(p.RowState(), rsLoaded) << "a parameter row goes back to loaded after a change";
  p.ClearRow(rsEmpty);
  EXPECT_EQ(p.RowState(), rsLoaded);
  EXPECT_TRUE(a->GetIsNull());
  EXPECT_TRUE(b->GetIsNull());
  a->SetIsNull(false);
  EXPECT_FALSE(a->GetIsNullable());
  a->SetIsNull(true);
  EXPECT_TRUE(a->GetIsNullable());
  for (const char* t : {"1", "t", "Y", "true"}) {
    b->SetAsString(t);
    EXPECT_TRUE(b->GetAsBoolean()) << t;
  }
  b->SetAsString("no");
  EXPECT_FALSE(b->GetAsBoolean());
  b->SetAsString("unknown");
  EXPECT_TRUE(b->GetIsNull());
  EXPECT_EQ(b->GetDisplayText(), "UNKNOWN");
  EXPECT_THROW(b->SetAsString("maybe"), Exception);
  b->SetAsVariant(Variant(true));
  EXPECT_EQ(b->GetAsString(), "TRUE");
  std::memset(b->DataPtr(), 7, 1);
  EXPECT_THROW(b->GetAsBoolean(), Exception) << "Unexpected Boolean Value";
}

}  // namespace
}  // namespace pelvar
