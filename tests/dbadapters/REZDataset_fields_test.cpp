// Field data exchange of the adapter datasets on hand-made column buffers: the type
// mapping of every column type, reading and writing each pair that the pairing table
// names, and that a failing write leaves the column as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "dbadapters/REZDataset_errors.h"
#include "dbadapters/REZDataset_fields.h"
#include "dbclient/IB_Header.h"
#include "dbclient/IB_Session.h"

namespace pelvar::test {
namespace {

// One column in a record buffer: two bytes of null indicator, then its data.
struct Cell {
  TREZColumnDesc col;
  std::vector<char> bytes;
  explicit Cell(int16_t type, uint16_t len, int16_t scale = 0) {
    col.SQLType = type;
    col.Length = len;
    col.Scale = scale;
    col.Name = "T.C";
    bytes.assign(static_cast<size_t>(col.DataSize()) + 2, 0);
  }
  char* data() { return bytes.data() + 2; }
  int16_t ind() const {
    int16_t v;
    std::memcpy(&v, bytes.data(), 2);
    return v;
  }
  void SetNull() {
    const int16_t v = -1;
    std::memcpy(bytes.data(), &v, 2);
  }
  template <class T>
  void Set(T v) {
    std::memcpy(data(), &v, sizeof v);
    std::memset(bytes.data(), 0, 2);
  }
  template <class T>
  T Get() {
    T v;
    std::memcpy(&v, data(), sizeof v);
    return v;
  }
  void SetText(const std::string& s) {
    std::memset(bytes.data(), 0, 2);
    if (col.SQLType == SQL_VARYING) {
      const uint16_t n = static_cast<uint16_t>(s.size());
      std::memcpy(data(), &n, 2);
      std::memcpy(data() + 2, s.data(), s.size());
    } else {
      std::memset(data(), ' ', col.Length);
      std::memcpy(data(), s.data(), s.size());
    }
  }
  std::string Text() {
    if (col.SQLType == SQL_VARYING) return std::string(data() + 2, Get<uint16_t>());
    return std::string(data(), col.Length);
  }
  template <class T>
  T Read(TFieldType ft) {
    T v{};
    EXPECT_TRUE(REZReadColumn(col, data(), ft, 0, &v));
    return v;
  }
  std::string ReadString(int32_t size) {
    std::vector<char> buf(static_cast<size_t>(size) + 1, 'x');
    if (!REZReadColumn(col, data(), ftString, size, buf.data())) return "<null>";
    return std::string(buf.data());
  }
  template <class T>
  void Write(TFieldType ft, T v) {
    REZWriteColumn(col, data(), ft, 0, &v);
  }
  void WriteString(const std::string& s) {
    std::vector<char> buf(s.begin(), s.end());
    buf.push_back('\0');
    REZWriteColumn(col, data(), ftString, static_cast<int32_t>(s.size()), buf.data());
  }
};

TEST(REZFieldMapping, EveryColumnTypeMapsAsThePairingTableSays) {
  struct Case {
    const char* what;
    int16_t type, scale, subtype;
    uint16_t len;
    const char* name;
    TFieldType ft;
    int32_t size, precision;
  };
  const Case cases[] = {
      {"VARCHAR(255)", SQL_VARYING, 0, 0, 255, "A", ftString, 255, 0},
      {"VARCHAR(300)", SQL_VARYING + 1, 0, 0, 300, "A", ftMemo, 300, 0},
      {"CHAR(12)", SQL_TEXT, 0, 0, 12, "A", ftString, 12, 0},
      {"CHAR(0)", SQL_TEXT, 0, 0, 0, "A", ftString, 1, 0},
      {"DB_KEY", SQL_TEXT, 0, 1, 8, "DB_KEY", ftBytes, 8, 0},
      {"RDB$DB_KEY", SQL_TEXT, 0, 1, 8, "rdb$db_key", ftBytes, 8, 0},
      {"DOUBLE", SQL_DOUBLE, 0, 0, 8, "A", ftFloat, 0, 0},
      {"FLOAT", SQL_FLOAT, 0, 0, 4, "A", ftFloat, 0, 0},
      {"INTEGER", SQL_LONG + 1, 0, 0, 4, "A", ftInteger, 0, 0},
      {"SMALLINT", SQL_SHORT, 0, 0, 2, "A", ftSmallint, 0, 0},
      {"BIGINT", SQL_INT64, 0, 0, 8, "A", ftLargeint, 0, 0},
      {"NUMERIC(15,2)", SQL_INT64, -2, 0, 8, "A", ftBCD, 2, 18},
      {"NUMERIC(18,2)", SQL_INT64, -2, 0, 8, "A", ftBCD, 2, 18},
      {"NUMERIC(9,4)", SQL_LONG, -4, 0, 4, "A", ftBCD, 4, 9},
      {"NUMERIC(4,1)", SQL_SHORT, -1, 0, 2, "A", ftBCD, 1, 4},
      {"NUMERIC(18,6)", SQL_INT64, -6, 0, 8, "A", ftFloat, 0, 0},
      {"TIMESTAMP", SQL_TIMESTAMP, 0, 0, 8, "A", ftDateTime, 0, 0},
      {"DATE", SQL_TYPE_DATE, 0, 0, 4, "A", ftDate, 0, 0},
      {"TIME", SQL_TYPE_TIME, 0, 0, 4, "A", ftTime, 0, 0},
      {"BLOB SUB_TYPE TEXT", SQL_BLOB, 0, 1, 8, "A", ftMemo, 8, 0},
      {"BLOB SUB_TYPE BINARY", SQL_BLOB, 0, 0, 8, "A", ftBlob, 8, 0},
      {"ARRAY", SQL_ARRAY, 0, 0, 8, "A", ftBytes, 8, 0},
      {"BOOLEAN", SQL_BOOLEAN, 0, 0, 1, "A", ftBoolean, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool custom = false;
    const bool keeps_bcd = c.scale < 0 && c.scale >= -4;
    const TREZFieldMapping m = REZMapColumnType(c.type, c.scale, c.subtype, c.len, c.name, false,
                                                "", "", keeps_bcd, false, custom);
    EXPECT_EQ(m.DataType, c.ft);
    EXPECT_EQ(m.Size, c.size);
    EXPECT_EQ(m.Precision, c.precision);
    EXPECT_FALSE(custom);
  }
}

TEST(REZFieldMapping, BooleanColumnsAndTheCustomTextFlag) {
  bool custom = false;
  // CHAR(1) with the default texts: boolean, no custom texts.
  EXPECT_EQ(REZMapColumnType(SQL_TEXT, 0, 0, 1, "B", true, "T", "F", false, false, custom).DataType,
            ftBoolean);
  EXPECT_FALSE(custom);
  // An integer 1/0 boolean sets the flag too.
  EXPECT_EQ(REZMapColumnType(SQL_SHORT, 0, 0, 2, "B", true, "1", "0", false, false, custom).DataType,
            ftBoolean);
  EXPECT_TRUE(custom);
  custom = false;
  EXPECT_EQ(REZMapColumnType(SQL_VARYING, 0, 0, 3, "B", true, "ANO", "NE", false, false, custom)
                .DataType,
            ftBoolean);
  EXPECT_TRUE(custom);
  // A scaled integer with the attribute is no boolean; a float with BCD becomes BCD.
  custom = false;
  EXPECT_EQ(REZMapColumnType(SQL_LONG, -2, 0, 4, "B", true, "1", "0", false, false, custom).DataType,
            ftFloat);
  EXPECT_EQ(REZMapColumnType(SQL_DOUBLE, 0, 0, 8, "B", false, "", "", false, true, custom).DataType,
            ftBCD);
}

TEST(REZFieldExchange, TextColumnsReadTrimmedAndWritePadded) {
  Cell c(SQL_TEXT, 10);
  c.SetText("ABC");
  EXPECT_EQ(c.ReadString(10), "ABC");
  c.col.NoTrimming = true;
  EXPECT_EQ(c.ReadString(10), "ABC       ");
  c.WriteString("XY");
  EXPECT_EQ(c.Text(), "XY        ");

  Cell v(SQL_VARYING, 5);
  v.WriteString("ab");
  EXPECT_EQ(v.Text(), "ab");
  EXPECT_EQ(v.ReadString(5), "ab");
  v.WriteString("");
  EXPECT_EQ(v.ind(), 0);
  EXPECT_EQ(v.ReadString(5), "");

  // A long column is converted on the heap, a short one on the stack: both alike.
  Cell l(SQL_VARYING, 300);
  const std::string long_text(300, 'y');
  l.WriteString(long_text);
  EXPECT_EQ(l.ReadString(300), long_text);
}

TEST(REZFieldExchange, Utf8ConnectionsConvertAtTheColumn) {
  Cell v(SQL_VARYING, 12);
  v.col.Utf8 = true;
  const std::string ansi = "\xe8\x61";  // "ča" in Windows-1250
  v.WriteString(ansi);
  EXPECT_EQ(v.Text(), "\xc4\x8d" "a");
  EXPECT_EQ(v.ReadString(12), ansi);
}

TEST(REZFieldExchange, NumbersConvertAsThePairingTableSays) {
  Cell n(SQL_INT64, 8, -2);  // NUMERIC(15,2)
  n.Set<int64_t>(12345);
  EXPECT_EQ(n.Read<Currency>(ftBCD), Currency::FromRaw(1234500));
  EXPECT_DOUBLE_EQ(n.Read<double>(ftFloat), 123.45);
  n.Write<double>(ftFloat, 2.5);
  EXPECT_EQ(n.Get<int64_t>(), 250);
  n.Write<Currency>(ftBCD, Currency::FromRaw(-1234567));  // -123.4567 -> -123.46
  EXPECT_EQ(n.Get<int64_t>(), -12346);

  Cell d(SQL_DOUBLE, 8);
  for (auto [v, want] : {std::pair{2.9, 2}, std::pair{-2.9, -2}}) {
    d.Set<double>(v);
    EXPECT_EQ(d.Read<int32_t>(ftInteger), want) << v;
  }
  d.Set<double>(0.125);
  EXPECT_EQ(d.Read<Currency>(ftBCD), Currency::FromRaw(1250));

  Cell i(SQL_LONG, 4);
  // A float into a 32-bit column rounds, halves to even.
  i.Write<double>(ftFloat, 2.5);
  EXPECT_EQ(i.Get<int32_t>(), 2);
  i.Write<double>(ftFloat, 3.5);
  EXPECT_EQ(i.Get<int32_t>(), 4);
  i.Set<int32_t>(-7);
  EXPECT_EQ(i.ReadString(11), "-7");
  EXPECT_EQ(i.Read<int64_t>(ftLargeint), -7);
  EXPECT_EQ(i.Read<Currency>(ftBCD), Currency(-7));

  Cell s(SQL_SHORT, 2);
  s.Write<double>(ftFloat, -2.9);  // a 16-bit column truncates
  EXPECT_EQ(s.Get<int16_t>(), -2);

  Cell big(SQL_INT64, 8);
  big.WriteString(" 42 ");
  EXPECT_EQ(big.Get<int64_t>(), 42);
  big.WriteString("5000000000");
  EXPECT_EQ(big.Get<int64_t>(), 5000000000LL);
  EXPECT_EQ(big.ReadString(20), "5000000000");
}

TEST(REZFieldExchange, DatesAndTimesUseTheServersDayZero) {
  Cell d(SQL_TYPE_DATE, 4);
  d.Set<int32_t>(0);
  EXPECT_EQ(d.Read<int32_t>(ftDate), 678576);
  EXPECT_DOUBLE_EQ(d.Read<double>(ftDateTime), 678576.0 * 86400000);
  d.Write<int32_t>(ftDate, 678577);
  EXPECT_EQ(d.Get<int32_t>(), 1);

  Cell ts(SQL_TIMESTAMP, 8);
  ts.Write<int32_t>(ftDate, 739000);
  EXPECT_EQ(ts.Get<int32_t>(), 739000 - 678576);
  int32_t time;
  std::memcpy(&time, ts.data() + 4, 4);
  EXPECT_EQ(time, 0);
  ts.Write<int32_t>(ftTime, 3723004);  // 01:02:03.004
  EXPECT_EQ(ts.Get<int32_t>(), -678576);
  std::memcpy(&time, ts.data() + 4, 4);
  EXPECT_EQ(time, 37230040);
  const double ms = 739000.0 * 86400000 + 3723004;
  ts.Write<double>(ftDateTime, ms);
  EXPECT_DOUBLE_EQ(ts.Read<double>(ftDateTime), ms);
  EXPECT_EQ(ts.Read<int32_t>(ftTime), 3723004);

  Cell t(SQL_TYPE_TIME, 4);
  t.Set<uint32_t>(37230049);  // ten-thousandths are cut to milliseconds
  EXPECT_EQ(t.Read<int32_t>(ftTime), 3723004);
}

TEST(REZFieldExchange, BooleansOverTextAndBooleanColumns) {
  Cell c(SQL_TEXT, 1);
  int16_t b = 0;
  c.SetText("T");
  EXPECT_TRUE(REZReadColumn(c.col, c.data(), ftBoolean, 0, &b));
  EXPECT_NE(b, 0);
  c.SetText("F");
  EXPECT_TRUE(REZReadColumn(c.col, c.data(), ftBoolean, 0, &b));
  EXPECT_EQ(b, 0);
  c.SetText("X");
  EXPECT_FALSE(REZReadColumn(c.col, c.data(), ftBoolean, 0, &b));
  c.Write<int16_t>(ftBoolean, -1);
  EXPECT_EQ(c.Text(), "T");

  Cell v(SQL_VARYING, 1);
  v.Write<int16_t>(ftBoolean, -1);
  EXPECT_EQ(v.Text(), "T");
  Cell wide(SQL_VARYING, 3);
  EXPECT_THROW(wide.Write<int16_t>(ftBoolean, -1), EIB_Error);
  wide.col.CustomBool = true;
  wide.col.BoolTrue = "ANO";
  wide.col.BoolFalse = "NE";
  wide.Write<int16_t>(ftBoolean, 0);
  EXPECT_EQ(wide.Text(), "NE");
  EXPECT_TRUE(REZReadColumn(wide.col, wide.data(), ftBoolean, 0, &b));
  EXPECT_EQ(b, 0);

  Cell fb(SQL_BOOLEAN, 1);
  fb.Write<int16_t>(ftBoolean, -1);
  EXPECT_EQ(fb.data()[0], 1);
  fb.data()[0] = 2;
  EXPECT_THROW(REZReadColumn(fb.col, fb.data(), ftBoolean, 0, &b), Exception);

  // A boolean into an integer column stores 1, as the column's own true text says.
  Cell i(SQL_LONG, 4);
  i.Write<int16_t>(ftBoolean, -1);
  EXPECT_EQ(i.Get<int32_t>(), 1);
  Cell scaled(SQL_LONG, 4, -2);
  EXPECT_THROW(scaled.Write<int16_t>(ftBoolean, -1), EIB_Error);
}

TEST(REZFieldExchange, NullAndUnsupportedPairs) {
  Cell i(SQL_LONG, 4);
  i.SetNull();
  int32_t v = 5;
  EXPECT_FALSE(REZReadColumn(i.col, i.data(), ftInteger, 0, &v));
  EXPECT_FALSE(REZReadColumn(i.col, i.data(), ftInteger, 0, nullptr));
  i.Write<int32_t>(ftInteger, 9);
  EXPECT_EQ(i.ind(), 0);
  EXPECT_TRUE(REZReadColumn(i.col, i.data(), ftInteger, 0, nullptr));
  REZWriteColumn(i.col, i.data(), ftInteger, 0, nullptr);
  EXPECT_EQ(i.ind(), -1);

  Cell s(SQL_SHORT, 2);
  s.Set<int16_t>(1);
  EXPECT_THROW(s.ReadString(6), EIB_Error);  // no text of a SMALLINT in the table
  Cell t(SQL_TEXT, 4);
  t.SetText("1");
  EXPECT_THROW(t.Read<int32_t>(ftInteger), EIB_Error);
}

// A write that fails leaves the column exactly as it was: bytes and null indicator.
TEST(REZFieldExchange, AFailedWriteLeavesTheColumnAsItWas) {
  struct Case {
    const char* what;
    Cell cell;
    std::function<void(Cell&)> write;
  };
  std::vector<Case> cases;
  cases.push_back({"text longer than a VARCHAR", Cell(SQL_VARYING, 3),
                   [](Cell& c) { c.WriteString("abcd"); }});
  cases.push_back({"text longer than a CHAR", Cell(SQL_TEXT, 3),
                   [](Cell& c) { c.WriteString("abcd"); }});
  cases.push_back({"text longer than a long VARCHAR", Cell(SQL_VARYING, 300),
                   [](Cell& c) { c.WriteString(std::string(301, 'x')); }});
  cases.push_back({"integer beyond a SMALLINT", Cell(SQL_SHORT, 2),
                   [](Cell& c) { c.Write<int32_t>(ftInteger, 70000); }});
  cases.push_back({"large integer beyond an INTEGER", Cell(SQL_LONG, 4),
                   [](Cell& c) { c.Write<int64_t>(ftLargeint, 5000000000LL); }});
  cases.push_back({"amount beyond NUMERIC(9,2)", Cell(SQL_LONG, 4, -2),
                   [](Cell& c) { c.Write<Currency>(ftBCD, Currency(30000000)); }});
  cases.push_back({"text that is no number", Cell(SQL_INT64, 8),
                   [](Cell& c) { c.WriteString("12x"); }});
  cases.push_back({"unsupported pair", Cell(SQL_TYPE_DATE, 4),
                   [](Cell& c) { c.Write<int32_t>(ftInteger, 1); }});
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool was_null : {true, false}) {
      Cell& cell = c.cell;
      std::memset(cell.data(), 0x5A, cell.bytes.size() - 2);
      if (was_null)
        cell.SetNull();
      else
        std::memset(cell.bytes.data(), 0, 2);
      const std::vector<char> before = cell.bytes;
      EXPECT_ANY_THROW(c.write(cell));
      EXPECT_EQ(cell.bytes, before);
    }
  }
}

TEST(REZErrors, TriggerExceptionsShowTheirOwnLine) {
  auto lines = [](int n) {
    auto l = std::make_unique<TStringList>();
    for (int i = 0; i < n; ++i) l->Add("line " + std::to_string(i));
    return l;
  };
  auto six_p = lines(6), five_p = lines(5), four_p = lines(4), three_p = lines(3);
  const TStringList &six = *six_p, &five = *five_p, &four = *four_p, &three = *three_p;
  EXPECT_EQ(REZErrorMessage(-836, &six), "line 5");
  EXPECT_EQ(REZErrorMessage(-836, &five), "line 4");
  EXPECT_EQ(REZErrorMessage(-836, &four), four.Text());
  EXPECT_EQ(REZErrorMessage(-836, &three), three.Text());
  EXPECT_EQ(REZErrorMessage(-803, &six), six.Text());
  auto blank_p = lines(6);
  TStringList& blank = *blank_p;
  blank.SetStrings(5, "  ");
  EXPECT_EQ(REZErrorMessage(-836, &blank), blank.Text());

  const EREZ_ISCError e(nullptr, std::string(300, 'x'), 335544349, &six, nullptr, -803, nullptr,
                        nullptr);
  EXPECT_EQ(e.Message().size(), 255u);
  EXPECT_EQ(e.SQLCODE(), -803);
  EXPECT_EQ(e.ERRCODE(), 335544349);
  EXPECT_EQ(e.ErrorMessage()->Count(), 6);
  EXPECT_EQ(e.ErrorCodes()->Count(), 0);
  const EREZ_ISCError copy = e;
  EXPECT_EQ(copy.ErrorMessage()->Text(), six.Text());
}

}  // namespace
}  // namespace pelvar::test
