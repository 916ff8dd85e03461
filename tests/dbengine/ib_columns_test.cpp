// The typed columns over hand-made describes: numeric texts and overflows, infinities,
// text trimming and length checks, UTF-8 connections, date words, boolean texts, row
// keys, blob content loaded once and written through strings, streams and files, and
// array slices in the server's element order.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <map>

#include "dbclient/IB_Utils.h"
#include "dbengine/IB_Components_columns.h"
#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/streams.h"
#include "platform/sysutils.h"
#include "support/process.h"

namespace pelvar {
namespace {

XSQLVAR MakeVar(int16_t type, int16_t len, const char* name, int16_t scale = 0, int16_t subtype = 0) {
  XSQLVAR v{};
  v.sqltype = type;
  v.sqllen = len;
  v.sqlscale = scale;
  v.sqlsubtype = subtype;
  const auto n = static_cast<int16_t>(std::strlen(name));
  std::memcpy(v.aliasname, name, static_cast<size_t>(n));
  std::memcpy(v.sqlname, name, static_cast<size_t>(n));
  std::memcpy(v.relname, "T", 1);
  v.aliasname_length = v.sqlname_length = n;
  v.relname_length = 1;
  return v;
}

// A statement with one field column at a time, a fake blob store and array bounds.
class Stmt : public TIB_RowOwner {
 public:
  Stmt() : TIB_RowOwner(nullptr), fields(this, rtFields) {}
  ~Stmt() override { fields.ClearColumns(); }

  TIB_Column* Make(const XSQLVAR& v) {
    pending_ = v;
    fields.SetColumnCount(1);
    return fields.GetColumn(0);
  }
  template <class C>
  C* Make(const XSQLVAR& v) {
    return dynamic_cast<C*>(Make(v));
  }

  void SysDescribeRow(TIB_Row* row) override { *row->Var(0) = pending_; }
  AnsiString ConnectionCharSet() const override { return charset; }
  bool GetColumnAttribute(const TIB_Column*, const AnsiString& keyword, AnsiString& value) const override {
    auto it = attributes.find(keyword);
    if (it == attributes.end()) return false;
    value = it->second;
    return true;
  }
  void LoadBlobNode(XSQLVAR*, const ISC_ARRAY_DESC*, TIB_BlobCacheNode* node) override {
    ++loads;
    if (fail_next_load) {
      fail_next_load = false;
      throw EIB_Error(this, "read failed");
    }
    const AnsiString& content = store.at(node->BlobId.gds_quad_low);
    ReallocBuffer(node->Buffer, node->Capacity, static_cast<int32_t>(content.size()));
    node->Capacity = static_cast<int32_t>(content.size());
    if (!content.empty()) std::memcpy(node->Buffer, content.data(), content.size());
    node->Size = static_cast<int32_t>(content.size());
  }
  bool LookupArrayBounds(const XSQLVAR*, ISC_ARRAY_DESC& desc) override {
    desc = array_desc;
    return true;
  }

  // Puts a stored id into the column and makes the row loaded (old = current).
  void LoadId(TIB_Column* c, uint32_t id) {
    ISC_QUAD q{};
    q.gds_quad_low = id;
    c->SetColData(AnsiString(reinterpret_cast<const char*>(&q), sizeof q));
    fields.SetRowLoaded(true, false, false);
  }

  TIB_Row fields;
  AnsiString charset;
  std::map<AnsiString, AnsiString> attributes;
  std::map<uint32_t, AnsiString> store;
  ISC_ARRAY_DESC array_desc{};
  int loads = 0;
  bool fail_next_load = false;

 private:
  XSQLVAR pending_{};
};

// --- Numbers ---------------------------------------------------------------------------------

TEST(NumericColumns, ScaledTextsAndTheirStorage) {
  struct Case {
    int16_t type, len, scale;
    const char* text;     // written (UTF-8, Czech settings)
    const char* back;     // read as text
    int64_t stored;       // the stored integer
  };
  const Case cases[] = {
      {SQL_LONG, 4, -2, "123,45", "123,45", 12345},
      {SQL_INT64, 8, -2, "1 234,50Kč", "1234,50", 123450},
      {SQL_INT64, 8, -2, "-1\xC2\xA0" "234,5 Kč", "-1234,50", -123450},
      {SQL_INT64, 8, -6, "123456789012,345678", "123456789012,345678", 123456789012345678},
      {SQL_QUAD, 8, -3, "-98765432101234,567", "-98765432101234,567", -98765432101234567},
      {SQL_SHORT, 2, -1, "-3276,8", "-3276,8", -32768},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Stmt st;
    TIB_Column* col = st.Make(MakeVar(c.type, c.len, "N", c.scale));
    ASSERT_EQ(col->ClassName(), "TIB_ColumnNumeric");
    col->SetAsString(CZ(c.text));
    EXPECT_EQ(col->GetAsString(), CZ(c.back));
    int64_t stored = 0;
    if (c.type == SQL_SHORT) {
      int16_t v;
      std::memcpy(&v, col->DataPtr(), 2);
      stored = v;
    } else if (c.type == SQL_LONG) {
      int32_t v;
      std::memcpy(&v, col->DataPtr(), 4);
      stored = v;
    } else if (c.type == SQL_QUAD) {
      ISC_QUAD q;
      std::memcpy(&q, col->DataPtr(), 8);
      stored = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(q.gds_quad_high)) << 32) |
                                    q.gds_quad_low);
    } else {
      std::memcpy(&stored, col->DataPtr(), 8);
    }
    EXPECT_EQ(stored, c.stored);
  }
}

TEST(NumericColumns, WideValuesNeverComeBackAsTheirLowWord) {
  Stmt st;
  TIB_Column* big = st.Make(MakeVar(SQL_INT64, 8, "BI"));
  big->SetAsInt64((int64_t{1} << 32) + 1);
  EXPECT_THROW(big->GetAsInteger(), EIntOverflow);
  big->SetAsInt64(-7);
  EXPECT_EQ(big->GetAsInteger(), -7);

  TIB_Column* scaled = st.Make(MakeVar(SQL_INT64, 8, "N", -6));  // no BCD below scale -4
  EXPECT_FALSE(scaled->UseBCD);
  scaled->SetAsString(CZ("3000000000,9"));
  EXPECT_THROW(scaled->GetAsInteger(), EIntOverflow);
  EXPECT_EQ(scaled->GetAsInt64(), 3000000000LL);
  scaled->SetAsString(CZ("-2,9"));
  EXPECT_EQ(scaled->GetAsInteger(), -2);

  TIB_Column* bcd = st.Make(MakeVar(SQL_INT64, 8, "N", -4));
  EXPECT_TRUE(bcd->UseBCD);
  bcd->SetAsString(CZ("3000000000,5"));
  EXPECT_THROW(bcd->GetAsInteger(), Exception);

  TIB_Column* small = st.Make(MakeVar(SQL_SHORT, 2, "S", -2));
  try {
    small->SetAsExtended(327.68L);
    ADD_FAILURE() << "no overflow";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), CZ("Přetečení Smallint"));
  }
}

TEST(NumericColumns, EmptyTextOnNotNullFieldStoresZeroOrNullWithBlankIsNull) {
  for (bool blank_is_null : {false, true}) {
    Stmt st;
    if (blank_is_null) st.attributes["BLANKISNULL"] = "";
    TIB_Column* c = st.Make(MakeVar(SQL_LONG, 4, "N", -2));
    c->SetAsString("");
    EXPECT_EQ(c->GetIsNull(), blank_is_null);
    if (!blank_is_null) {
      EXPECT_EQ(c->GetAsString(), "0");
    }
  }
}

TEST(FloatColumns, InfinityTextsAreWholeWordsAndSymmetric) {
  struct Case {
    const char* text;
    int expect;  // +1, -1 for the infinities; 0: a conversion error
  };
  const Case cases[] = {{"INF", 1},   {"inf", 1},   {"+INF", 1},   {" -INF ", -1},  {"-inf", -1},
                        {"INFO", 0},  {"12INF", 0}, {"-INF5", 0},  {"MINF", 0},     {"INFINITE", 0}};
  for (const auto& [type, len] : {std::pair<int16_t, int16_t>{SQL_DOUBLE, 8}, {SQL_FLOAT, 4}}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.text);
      if (type == SQL_FLOAT && c.text[0] == ' ') continue;  // FLOAT texts are not trimmed
      Stmt st;
      TIB_Column* d = st.Make(MakeVar(type, len, "D"));
      d->SetAsDouble(1.5);
      if (c.expect == 0) {
        EXPECT_THROW(d->SetAsString(c.text), EConvertError);
        EXPECT_EQ(d->GetAsDouble(), 1.5) << "unchanged";
        continue;
      }
      d->SetAsString(c.text);
      EXPECT_TRUE(std::isinf(d->GetAsDouble()));
      EXPECT_EQ(d->GetAsDouble() > 0, c.expect > 0);
      // What the column writes it reads back.
      const AnsiString shown = d->GetAsString();
      d->SetAsDouble(0);
      d->SetAsString(shown);
      EXPECT_EQ(d->GetAsDouble() > 0, c.expect > 0);
      EXPECT_TRUE(std::isinf(d->GetAsDouble()));
    }
  }
}

// --- Text ------------------------------------------------------------------------------------

TEST(TextColumns, TrimmingModes) {
  struct Case {
    TIB_ColumnTrimming trimming;
    int16_t type, len;
    const char* text;
    const char* read;  // nullptr: the overrun error
  };
  const Case cases[] = {
      {ctSentence, SQL_VARYING, 40, "  a   b.   c. d  ", "a b.  c. d"},
      {ctAll, SQL_VARYING, 10, " a b  c ", "abc"},
      {ctBoth, SQL_VARYING, 10, "  ab  ", "ab"},
      {ctLeft, SQL_VARYING, 10, "  ab  ", "ab  "},
      {ctRight, SQL_TEXT, 5, "  ab", "  ab"},
      {ctNone, SQL_TEXT, 5, "ab", "ab   "},
      {ctRight, SQL_TEXT, 3, "abcdef", "abc"},
      {ctRightCheckLen, SQL_TEXT, 3, "abc    ", "abc"},
      {ctRightCheckLen, SQL_TEXT, 3, "abcd ", nullptr},
      {ctNoneCheckLen, SQL_VARYING, 3, "ab  ", nullptr},
      {ctSentenceCheckLen, SQL_VARYING, 3, "  a   b  ", "a b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Stmt st;
    TIB_Column* col = st.Make(MakeVar(c.type, c.len, "NAME"));
    col->Trimming = c.trimming;
    col->SetAsString("x");
    if (c.read == nullptr) {
      EXPECT_THROW(col->SetAsString(c.text), EIB_StatementError);
      EXPECT_EQ(col->GetAsString(), "x") << "nothing changed";
    } else {
      col->SetAsString(c.text);
      EXPECT_EQ(col->GetAsString(), c.read);
    }
  }
  Stmt st;
  TIB_Column* col = st.Make(MakeVar(SQL_TEXT, 3, "NAME"));
  EXPECT_EQ(col->Trimming, ctRightCheckLen) << "default: no silent cut";
  try {
    col->SetAsString("abcd ");
    ADD_FAILURE();
  } catch (const EIB_StatementError& e) {
    EXPECT_EQ(e.Message(), "NAME overrun: 3 bytes expected but 4 bytes found");
  }
}

TEST(TextColumns, StatementDefaultsChooseTheTrimming) {
  struct Defaults : Stmt {
    bool no_trim = false, no_check = false;
    bool DefaultNoTrimming() const override { return no_trim; }
    bool DefaultNoLengthCheck() const override { return no_check; }
  };
  const std::tuple<bool, bool, TIB_ColumnTrimming> cases[] = {
      {false, false, ctRightCheckLen}, {false, true, ctRight}, {true, false, ctNoneCheckLen}, {true, true, ctNone}};
  for (const auto& [no_trim, no_check, expected] : cases) {
    Defaults st;
    st.no_trim = no_trim;
    st.no_check = no_check;
    EXPECT_EQ(st.Make(MakeVar(SQL_VARYING, 5, "A"))->Trimming, expected);
  }
}

TEST(TextColumns, Utf8ConnectionConvertsAtTheEdge) {
  Stmt st;
  st.charset = "UTF8";
  TIB_Column* c = st.Make(MakeVar(SQL_VARYING, 12, "A"));
  c->SetAsString(CZ("Kůň úpěl"));
  uint16_t len;
  std::memcpy(&len, c->DataPtr(), 2);
  EXPECT_EQ(std::string(c->DataPtr() + 2, len), "Kůň úpěl") << "stored as UTF-8";
  EXPECT_EQ(c->GetAsString(), CZ("Kůň úpěl"));
  // The length check counts the UTF-8 bytes the server gets.
  EXPECT_THROW(c->SetAsString(CZ("žluťoučký kůň")), EIB_StatementError);
  c->CharCase = ccUpper;
  c->SetAsString(CZ("kůň"));
  EXPECT_EQ(c->GetAsString(), CZ("KŮŇ"));
  std::memcpy(&len, c->DataPtr(), 2);
  EXPECT_EQ(std::string(c->DataPtr() + 2, len), "KŮŇ");
}

TEST(TextColumns, BlankIsNullBinaryAndNoCase) {
  for (bool blank_is_null : {false, true}) {
    Stmt st;
    if (blank_is_null) st.attributes["BLANKISNULL"] = "";
    TIB_Column* c = st.Make(MakeVar(SQL_VARYING, 5, "A"));
    c->SetAsString("");
    EXPECT_EQ(c->GetIsNull(), blank_is_null);
    EXPECT_EQ(c->GetAsString(), "");
  }
  Stmt st;
  st.attributes["BINARY"] = "";
  st.attributes["NOCASE"] = "";
  auto* c = st.Make<TIB_ColumnText>(MakeVar(SQL_TEXT, 4, "A"));
  EXPECT_EQ(c->PadChar, 0);
  EXPECT_EQ(c->NoCaseFieldName, "UPPER( T.A )");
  st.attributes["NOCASE"] = "UPPER(X)";
  EXPECT_EQ(st.Make<TIB_ColumnText>(MakeVar(SQL_TEXT, 4, "A"))->NoCaseFieldName, "UPPER(X)");
}

// --- Dates -----------------------------------------------------------------------------------

TEST(DateColumns, DateWordsAgainstAFixedClock) {
  const TDateTime now = EncodeDate(2024, 5, 1) + EncodeTime(10, 30, 15, 0);
  SetNowSource([now] { return now; });
  struct Case {
    int16_t type;
    const char* text;
    TDateTime expect;  // -1: null
  };
  const TDateTime today = EncodeDate(2024, 5, 1);
  const TDateTime before = EncodeDate(2000, 1, 1);
  const Case cases[] = {
      {SQL_TYPE_DATE, "TOMORROW", today + 1},     {SQL_TYPE_DATE, "today", today},
      {SQL_TYPE_DATE, "Yesterday", today - 1},    {SQL_TYPE_DATE, "LASTWEEK", today - 7},
      {SQL_TYPE_DATE, "nextw", today + 7},        {SQL_TYPE_DATE, "CURRENT_DATE", today},
      {SQL_TIMESTAMP, "NOW", now},                {SQL_TIMESTAMP, "current_timestamp", now},
      {SQL_TYPE_TIME, "now", now - today},        {SQL_TYPE_TIME, "CURRENT_TIME", now - today},
      {SQL_TIMESTAMP, "null", -1},                {SQL_TIMESTAMP, "XYZ", before},
      {SQL_TYPE_DATE, "TO", before},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Stmt st;
    TIB_Column* col = st.Make(MakeVar(c.type, c.type == SQL_TIMESTAMP ? 8 : 4, "D"));
    col->SetAsDateTime(c.type == SQL_TYPE_TIME ? 0.25 : before);
    const TDateTime expect = c.type == SQL_TYPE_TIME && c.expect == before ? 0.25 : c.expect;
    col->SetAsString(c.text);
    if (c.expect < 0) {
      EXPECT_TRUE(col->GetIsNull());
    } else {
      EXPECT_NEAR(col->GetAsDateTime(), expect, 1e-8);
    }
  }
  SetNowSource({});

  Stmt st;
  TIB_Column* d = st.Make(MakeVar(SQL_TYPE_DATE, 4, "D"));
  EXPECT_THROW(d->SetAsString("32.13.2024"), EConvertError);
  st.attributes["NODATE"] = "";
  TIB_Column* t = st.Make(MakeVar(SQL_TIMESTAMP, 8, "T"));
  t->SetAsDateTime(EncodeDate(2024, 5, 1) + EncodeTime(10, 0, 0, 0));
  t->SetAsString("12:30");
  EXPECT_NEAR(t->GetAsDateTime(), EncodeDate(2024, 5, 1) + EncodeTime(12, 30, 0, 0), 1e-8);
}

TEST(DisplayTexts, CurrencyDatesAndTimes) {
  struct Case {
    int16_t type, len, scale;
    bool currency;
    std::function<void(TIB_Column*)> set;
    const char* display;  // UTF-8, Czech settings
  };
  const Case cases[] = {
      {SQL_INT64, 8, -2, true, [](TIB_Column* c) { c->SetAsString(CZ("1234,5")); }, "1\u00A0234,50 Kč"},
      {SQL_INT64, 8, -6, true, [](TIB_Column* c) { c->SetAsString(CZ("-2,5")); }, "-2,50 Kč"},
      {SQL_INT64, 8, -2, false, [](TIB_Column* c) { c->SetAsString(CZ("1234,5")); }, "1234,50"},
      {SQL_TYPE_TIME, 4, 0, false, [](TIB_Column* c) { c->SetAsDateTime(EncodeTime(9, 5, 7, 0)); }, "9:05"},
      {SQL_TYPE_DATE, 4, 0, false, [](TIB_Column* c) { c->SetAsDateTime(EncodeDate(1800, 3, 1)); }, "01.03.1800"},
      {SQL_TIMESTAMP, 8, 0, false,
       [](TIB_Column* c) { c->SetAsDateTime(EncodeDate(2024, 5, 1) + EncodeTime(9, 5, 7, 0)); }, "01.05.2024 09:05:07"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.display);
    Stmt st;
    if (c.currency) st.attributes["CURRENCY"] = "";
    TIB_Column* col = st.Make(MakeVar(c.type, c.len, "X", c.scale));
    c.set(col);
    EXPECT_EQ(col->GetDisplayText(), CZ(c.display));
  }
}

// --- Booleans and row keys ---------------------------------------------------------------------

TEST(BooleanColumn, Texts) {
  struct Case {
    const char* text;
    int expect;  // 1 true, 0 false, -1 null, -2 error
  };
  const Case cases[] = {{"Y", 1},  {"yes", 1},     {"1", 1},  {" true ", 1}, {"n", 0},     {"FALSE", 0},
                        {"0", 0},  {"unknown", -1}, {"NULL", -1}, {"", -1},  {"maybe", -2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Stmt st;
    TIB_Column* b = st.Make(MakeVar(SQL_BOOLEAN + 1, 1, "B"));
    b->SetAsBoolean(true);
    if (c.expect == -2) {
      try {
        b->SetAsString(c.text);
        ADD_FAILURE();
      } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Invalid Boolean string conversion: MAYBE");
      }
      continue;
    }
    b->SetAsString(c.text);
    EXPECT_EQ(b->GetIsNull(), c.expect < 0);
    if (c.expect >= 0) {
      EXPECT_EQ(b->GetAsBoolean(), c.expect == 1);
    }
  }
}

TEST(DbKeyColumn, HexTextRoundTrip) {
  Stmt st;
  TIB_Column* k = st.Make(MakeVar(SQL_TEXT, 8, "DB_KEY"));
  ASSERT_EQ(k->ClassName(), "TIB_ColumnDB_KEY");
  k->SetAsString("0000008100000001");
  EXPECT_EQ(k->GetAsString(), "0000008100000001");
  EXPECT_EQ(k->DataPtr()[3], '\x81');
  EXPECT_THROW(k->SetAsString("00AB"), Exception);
  EXPECT_EQ(k->GetAsString(), "0000008100000001");
  k->SetAsString("");
  EXPECT_TRUE(k->GetIsNull());
  EXPECT_EQ(k->GetDefaultWidth(), 128);
}

// --- Blobs -----------------------------------------------------------------------------------

TEST(BlobColumns, ContentLoadsOnceAndOldValueStaysReadable) {
  Stmt st;
  st.store[7] = CZ("první obsah");
  auto* m = st.Make<TIB_ColumnBlob>(MakeVar(SQL_BLOB + 1, 8, "MEMO", 0, 1));
  ASSERT_EQ(m->ClassName(), "TIB_ColumnMemo");
  st.LoadId(m, 7);
  EXPECT_FALSE(m->GetIsLoaded());
  EXPECT_EQ(m->GetDisplayText(), "( MEMO )") << "not loaded: the name";
  // A failed read caches nothing; the next read goes to the server again.
  st.fail_next_load = true;
  EXPECT_THROW(m->GetAsString(), EIB_Error);
  EXPECT_FALSE(m->GetIsLoaded());
  EXPECT_EQ(m->GetAsString(), CZ("první obsah"));
  EXPECT_EQ(m->GetAsString(), CZ("první obsah"));
  EXPECT_EQ(st.loads, 2);
  EXPECT_EQ(m->GetDisplayText(), CZ("první obsah"));
  EXPECT_EQ(m->GetAsWideString(), u"první obsah");

  m->SetAsWideString(u"druhý");
  EXPECT_EQ(m->GetAsString(), CZ("druhý"));
  EXPECT_TRUE(m->GetIsModified());
  EXPECT_EQ(m->GetOldAsString(), CZ("první obsah"));
  EXPECT_EQ(st.loads, 2) << "the old content came from the row's chain";
  EXPECT_EQ(m->GetDataSize(), 5);

  m->Clear();
  EXPECT_TRUE(m->GetIsNull());
  EXPECT_EQ(m->GetDataSize(), 0);
  EXPECT_EQ(m->GetAsString(), "");
}

TEST(BlobColumns, EmptyTextBlankIsNullAndBinaryDisplay) {
  for (bool blank_is_null : {false, true}) {
    Stmt st;
    if (blank_is_null) st.attributes["BLANKISNULL"] = "";
    TIB_Column* b = st.Make(MakeVar(SQL_BLOB + 1, 8, "DATA", 0, 0));
    b->SetAsString("");
    EXPECT_EQ(b->GetIsNull(), blank_is_null);
    b->SetAsBuffer("\x00\x01", 2);
    EXPECT_EQ(b->GetAsString(), std::string("\x00\x01", 2));
    EXPECT_EQ(b->GetDisplayText(), "( DATA )") << "binary content is never shown";
  }
}

TEST(BlobColumns, StringsStreamsFilesAndOtherBlobs) {
  Stmt st;
  auto* m = st.Make<TIB_ColumnBlob>(MakeVar(SQL_BLOB + 1, 8, "M", 0, 1));
  TStringList lines;
  lines.Add(CZ("řádek 1"));
  lines.Add("line 2");
  m->Assign(&lines);
  EXPECT_EQ(m->GetAsString(), CZ("řádek 1\r\nline 2\r\n"));
  TStringList back;
  m->AssignTo(&back);
  EXPECT_EQ(back.Count(), 2);
  EXPECT_EQ(back.Strings(0), CZ("řádek 1"));

  TMemoryStream in;
  in.WriteBuffer("abc\0def", 7);  // the whole stream, whatever its position
  m->Assign(&in);
  EXPECT_EQ(m->GetAsString(), std::string("abc\0def", 7));
  TMemoryStream out;
  m->AssignTo(&out);
  EXPECT_EQ(out.Size(), 7);

  test::TempDir dir;
  const AnsiString file = dir.File("blob.bin");
  m->SaveToFile(file);
  EXPECT_EQ(test::ReadFile(file), std::string("abc\0def", 7));
  Stmt other;
  auto* n = other.Make<TIB_ColumnBlob>(MakeVar(SQL_BLOB + 1, 8, "N", 0, 0));
  n->LoadFromFile(file);
  EXPECT_EQ(n->GetAsString(), std::string("abc\0def", 7));
  EXPECT_THROW(n->LoadFromFile(dir.File("missing")), EStreamError);

  m->SetAsString("from m");
  n->Assign(m);
  EXPECT_EQ(n->GetAsString(), "from m");
  m->Clear();
  n->Assign(m);
  EXPECT_TRUE(n->GetIsNull());
}

// --- Arrays ----------------------------------------------------------------------------------

ISC_ARRAY_DESC Desc(uint8_t dtype, uint16_t len, std::initializer_list<std::pair<int16_t, int16_t>> bounds,
                    int8_t scale = 0) {
  ISC_ARRAY_DESC d{};
  d.array_desc_dtype = dtype;
  d.array_desc_length = len;
  d.array_desc_scale = scale;
  for (const auto& [lo, hi] : bounds) {
    d.array_desc_bounds[d.array_desc_dimensions].array_bound_lower = lo;
    d.array_desc_bounds[d.array_desc_dimensions].array_bound_upper = hi;
    ++d.array_desc_dimensions;
  }
  return d;
}

AnsiString Ints(std::initializer_list<int32_t> v) {
  AnsiString s;
  for (int32_t x : v) s.append(reinterpret_cast<const char*>(&x), 4);
  return s;
}

TEST(ArrayColumn, ReadsTheSliceInRowMajorOrderWithTheServersBounds) {
  Stmt st;
  st.array_desc = Desc(blr_long, 4, {{1, 3}, {1, 2}});
  st.store[9] = Ints({11, 12, 21, 22, 31, 32});  // [1,1] [1,2] [2,1] ... as the server sends
  TIB_Column* a = st.Make(MakeVar(SQL_ARRAY + 1, 8, "AR"));
  EXPECT_TRUE(VarIsEmpty(a->GetAsVariant())) << "empty row";
  st.LoadId(a, 9);
  const Variant v = a->GetAsVariant();
  ASSERT_EQ(VarArrayDimCount(v), 2);
  EXPECT_EQ(VarArrayLowBound(v, 1), 1);
  EXPECT_EQ(VarArrayHighBound(v, 1), 3);
  EXPECT_EQ(VarArrayHighBound(v, 2), 2);
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 2; ++j) EXPECT_EQ(VarArrayGet(v, {i, j}).AsInteger(), 10 * i + j);
  }
  EXPECT_EQ(VarType(v), varArray | varInteger);
  EXPECT_EQ(a->GetSQLTypeSource(true), "INTEGER[ 3, 2 ]");
  EXPECT_EQ(a->GetAsString(), "(ARRAY)");
  EXPECT_THROW(a->SetAsString("1"), EIB_ColumnError);

  // Other bounds with the same element counts write the same slice.
  Variant w = VarArrayCreate({0, 2, 0, 1}, varVariant);
  for (int i = 0; i <= 2; ++i) {
    for (int j = 0; j <= 1; ++j) VarArrayPut(w, Variant(IntToStr(10 * (i + 1) + j + 1)), {i, j});
  }
  VarArrayPut(w, Variant(""), {0, 0});  // an empty text is 0
  a->SetAsVariant(w);
  EXPECT_EQ(a->Row()->GetBlobNode(0)->Size, 24);
  EXPECT_EQ(AnsiString(static_cast<char*>(a->Row()->GetBlobNode(0)->Buffer), 24), Ints({0, 12, 21, 22, 31, 32}));

  // Shape and element errors store nothing.
  struct Bad {
    Variant value;
    const char* message;
  };
  Variant text_element = w;
  VarArrayPut(text_element, Variant("abc"), {1, 1});
  const Bad bad[] = {
      {VarArrayCreate({0, 3, 0, 1}, varInteger), "Dimension has different number of elements"},
      {VarArrayCreate({0, 5}, varInteger), "Dimensions are different"},
      {Variant(3), "Variant must be of an array type"},
  };
  for (const Bad& b : bad) {
    try {
      a->SetAsVariant(b.value);
      ADD_FAILURE() << b.message;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), b.message);
    }
  }
  EXPECT_THROW(a->SetAsVariant(text_element), EConvertError) << "no silent 0 for a bad number";
  EXPECT_EQ(VarArrayGet(a->GetAsVariant(), {1, 2}).AsInteger(), 12);

  a->SetAsVariant(Null());
  EXPECT_TRUE(a->GetIsNull());
  EXPECT_TRUE(VarIsEmpty(a->GetAsVariant()));
}

TEST(ArrayColumn, TextDateAndScaledElements) {
  Stmt st;
  st.array_desc = Desc(blr_text, 4, {{0, 1}});
  TIB_Column* chars = st.Make(MakeVar(SQL_ARRAY, 8, "CH"));
  st.fields.SetRowLoaded(true, false, false);
  chars->SetAsVariant(VarArrayOf({Variant("ab"), Variant("abcdef")}));
  EXPECT_EQ(AnsiString(static_cast<char*>(chars->Row()->GetBlobNode(0)->Buffer), 8), "ab  abcd");
  EXPECT_EQ(VarArrayGet(chars->GetAsVariant(), {0}).AsString(), "ab  ");
  EXPECT_EQ(chars->GetSQLTypeSource(true), "CHAR( 4 )[ 1 ]");

  st.array_desc = Desc(blr_sql_date, 4, {{1, 2}});
  TIB_Column* dates = st.Make(MakeVar(SQL_ARRAY, 8, "D"));
  st.fields.SetRowLoaded(true, false, false);
  dates->SetAsVariant(VarArrayOf({Variant::FromDateTime(EncodeDate(1800, 1, 2)), Variant("24.12.2024")}));
  const Variant d = dates->GetAsVariant();
  EXPECT_EQ(VarArrayGet(d, {1}).AsDateTime(), EncodeDate(1800, 1, 2));
  EXPECT_EQ(VarArrayGet(d, {2}).AsDateTime(), EncodeDate(2024, 12, 24));

  st.array_desc = Desc(blr_long, 4, {{1, 2}}, -2);
  TIB_Column* amounts = st.Make(MakeVar(SQL_ARRAY, 8, "N"));
  st.fields.SetRowLoaded(true, false, false);
  amounts->SetAsVariant(VarArrayOf({Variant(CZ("12,34")), Variant(-0.5)}));
  EXPECT_EQ(AnsiString(static_cast<char*>(amounts->Row()->GetBlobNode(0)->Buffer), 8), Ints({1234, -50}));
  EXPECT_DOUBLE_EQ(VarArrayGet(amounts->GetAsVariant(), {1}).AsDouble(), 12.34);

  st.array_desc = Desc(blr_int64, 8, {{1, 2}});
  TIB_Column* wide = st.Make(MakeVar(SQL_ARRAY, 8, "W"));
  EXPECT_THROW(wide->SetAsVariant(VarArrayOf({Variant(1), Variant(2)})), Exception);
}

}  // namespace
}  // namespace pelvar
