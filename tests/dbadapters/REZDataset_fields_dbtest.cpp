// Field data exchange against Firebird 3 on the practice schema: every column of every
// practice table maps to the field type the pairing table gives for its SQL type, values
// the server wrote read as the framework expects them, and values read and written back
// through the conversions reach the server byte for byte.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "adapter_practice.h"
#include "dbadapters/REZDataset_fields.h"
#include "dbclient/IB_Header.h"
#include "dbengine/IB_Components_dataset.h"

namespace pelvar::test {
namespace {

TIB_Cursor* NewCursor(AdapterDb& a, const std::string& sql) {
  auto* c = new TIB_Cursor(&a.form);
  c->SetIB_Connection(a.db);
  c->SetIB_Transaction(a.tr);
  c->SQL()->SetText(CZ(sql));
  return c;
}

void Exec(AdapterDb& a, const std::string& sql) {
  auto q = std::make_unique<TIB_DSQL>(nullptr);
  q->SetIB_Connection(a.db);
  q->SetIB_Transaction(a.tr);
  q->SQL()->SetText(CZ(sql));
  q->Execute();
}

// The field type the pairing table gives for a column's SQL type (no attributes set).
TFieldType Expected(const TIB_Column* c) {
  switch (c->BaseType()) {
    case SQL_VARYING: case SQL_TEXT: return c->GetSQLLen() > 255 ? ftMemo : ftString;
    case SQL_DOUBLE: case SQL_FLOAT: return ftFloat;
    case SQL_LONG: return c->GetSQLScale() == 0 ? ftInteger : ftBCD;
    case SQL_SHORT: return c->GetSQLScale() == 0 ? ftSmallint : ftBCD;
    case SQL_INT64: return c->GetSQLScale() == 0 ? ftLargeint : ftBCD;
    case SQL_TIMESTAMP: return ftDateTime;
    case SQL_TYPE_DATE: return ftDate;
    case SQL_TYPE_TIME: return ftTime;
    case SQL_BLOB: return c->GetSQLSubType() == 1 ? ftMemo : ftBlob;
    case SQL_BOOLEAN: return ftBoolean;
    default: return ftUnknown;
  }
}

TEST(REZFieldExchangeDb, EveryPracticeColumnMapsByThePairingTable) {
  AdapterDb a;
  TIB_Cursor* tables = NewCursor(a,
      "select trim(RDB$RELATION_NAME) from RDB$RELATIONS where RDB$SYSTEM_FLAG = 0 "
      "and RDB$VIEW_BLR is null order by 1");
  std::vector<std::string> names;
  for (tables->First(); !tables->Eof(); tables->Next())
    names.push_back(tables->Fields()->GetColumn(0)->GetAsString());
  ASSERT_GT(names.size(), 90u);
  std::map<TFieldType, int> seen;
  for (const std::string& t : names) {
    TIB_Cursor* c = NewCursor(a, "select * from " + t);
    c->Prepare();
    for (int32_t i = 0; i < c->Fields()->ColumnCount(); ++i) {
      TIB_Column* col = c->Fields()->GetColumn(i);
      SCOPED_TRACE(t + "." + col->GetFieldName());
      bool custom = false;
      const TREZFieldMapping m = REZMapColumn(col, custom);
      EXPECT_EQ(m.DataType, Expected(col));
      EXPECT_FALSE(custom);
      ++seen[m.DataType];
    }
    delete c;
  }
  // The practice schema holds every kind of column the play-in copies.
  for (TFieldType ft : {ftString, ftInteger, ftSmallint, ftFloat, ftBCD, ftDate, ftTime,
                        ftDateTime, ftMemo, ftBlob, ftLargeint, ftBoolean})
    EXPECT_GT(seen[ft], 0) << FieldTypeName(ft);

  struct Case {
    const char* column;
    TFieldType ft;
    int32_t size, precision;
  };
  TIB_Cursor* c = NewCursor(a, "select * from ADAPTER_TYPES");
  c->Prepare();
  for (const Case& k : {Case{"V255", ftString, 255, 0}, Case{"V300", ftMemo, 300, 0},
                        Case{"N182", ftBCD, 2, 18}, Case{"N152", ftBCD, 2, 18},
                        Case{"N94", ftBCD, 4, 9}, Case{"C10", ftString, 10, 0},
                        Case{"M", ftMemo, 8, 0}, Case{"BOOL", ftBoolean, 0, 0}}) {
    SCOPED_TRACE(k.column);
    bool custom = false;
    const TREZFieldMapping m = REZMapColumn(c->Fields()->ColumnByName(k.column), custom);
    EXPECT_EQ(m.DataType, k.ft);
    EXPECT_EQ(m.Size, k.size);
    EXPECT_EQ(m.Precision, k.precision);
  }
}

// A field buffer big enough for any non-blob field of the test table.
struct FieldBuf {
  std::vector<char> bytes = std::vector<char>(512, 0);
  void* p() { return bytes.data(); }
  template <class T>
  T As() {
    T v;
    std::memcpy(&v, bytes.data(), sizeof v);
    return v;
  }
};

TEST(REZFieldExchangeDb, ValuesReadAsWrittenAndRoundTripByteExact) {
  AdapterDb a;
  Exec(a,
       "insert into ADAPTER_TYPES (ID, V255, V300, N182, N152, N94, S, B, F, C10, TS, D, T, BOOL) "
       "values (1, 'Příliš žluťoučký kůň úpěl ďábelské ódy', 'Čeněk', -9876543210123.45, "
       "12345.67, -3.1416, -32768, 9007199254740993, 0.5, 'ABC   ', '2026-06-15 08:05:03.1200', "
       "'1858-11-17', '23:59:59.9999', true)");
  TIB_Cursor* c = NewCursor(a, "select * from ADAPTER_TYPES where ID = 1");
  c->First();
  ASSERT_FALSE(c->Eof());
  TIB_Row* row = c->Fields();
  auto read = [&](const char* name, FieldBuf& b) {
    TIB_Column* col = row->ColumnByName(name);
    bool custom = false;
    const TREZFieldMapping m = REZMapColumn(col, custom);
    return REZReadColumn(TREZColumnDesc::FromColumn(col, custom), col->DataPtr(), m.DataType,
                         m.Size, b.p());
  };
  FieldBuf b;
  ASSERT_TRUE(read("C10", b));
  EXPECT_EQ(std::string(b.bytes.data()), "ABC");
  ASSERT_TRUE(read("D", b));
  EXPECT_EQ(b.As<int32_t>(), 678576);
  ASSERT_TRUE(read("V255", b));
  EXPECT_EQ(std::string(b.bytes.data()), CZ("Příliš žluťoučký kůň úpěl ďábelské ódy"));
  ASSERT_TRUE(read("N152", b));
  EXPECT_EQ(b.As<Currency>(), Currency::FromRaw(123456700));
  ASSERT_TRUE(read("N182", b));
  EXPECT_EQ(b.As<Currency>(), Currency::FromRaw(-98765432101234500));
  ASSERT_TRUE(read("N94", b));
  EXPECT_EQ(b.As<Currency>(), Currency::FromRaw(-31416));
  ASSERT_TRUE(read("TS", b));
  // 15 June 2026 08:05:03.120 (the ten-thousandths below a millisecond are cut).
  EXPECT_DOUBLE_EQ(b.As<double>(), (678576.0 + 61206) * 86400000 + 29103120);
  ASSERT_TRUE(read("T", b));
  EXPECT_EQ(b.As<int32_t>(), 86399999);
  ASSERT_TRUE(read("BOOL", b));
  EXPECT_NE(b.As<int16_t>(), 0);
  ASSERT_TRUE(read("B", b));
  EXPECT_EQ(b.As<int64_t>(), 9007199254740993LL);

  // Every column of row 1 read into its field and written into the parameters of an
  // insert of row 2: the server then holds the same bytes (apart from the key and the
  // time's ten-thousandths, which the framework's milliseconds do not carry).
  const std::vector<std::string> cols = {"V255", "V300", "N182", "N152", "N94", "S", "B",
                                         "F",    "C10",  "TS",   "D",    "BOOL"};
  std::string list, marks;
  for (const std::string& n : cols) {
    list += ", " + n;
    marks += ", ?";
  }
  auto ins = std::make_unique<TIB_DSQL>(nullptr);
  ins->SetIB_Connection(a.db);
  ins->SetIB_Transaction(a.tr);
  ins->SQL()->SetText("insert into ADAPTER_TYPES (ID" + list + ") values (2" + marks + ")");
  ins->Prepare();
  for (size_t i = 0; i < cols.size(); ++i) {
    SCOPED_TRACE(cols[i]);
    TIB_Column* from = row->ColumnByName(cols[i]);
    TIB_Column* to = ins->Params()->GetColumn(static_cast<int32_t>(i));
    bool custom = false;
    const TREZFieldMapping m = REZMapColumn(from, custom);
    // A long VARCHAR is a memo field, which the blob stream serves; its text goes the
    // way of a string field here.
    const TFieldType ft = m.DataType == ftMemo ? ftString : m.DataType;
    FieldBuf v;
    ASSERT_TRUE(REZReadColumn(TREZColumnDesc::FromColumn(from, custom), from->DataPtr(), ft,
                              m.Size, v.p()));
    REZWriteColumn(TREZColumnDesc::FromColumn(to, custom), to->DataPtr(), ft, m.Size, v.p());
  }
  ins->Execute();
  c->Close();
  TIB_Cursor* both = NewCursor(a, "select " + list.substr(2) + " from ADAPTER_TYPES order by ID");
  std::vector<std::vector<std::string>> rows;
  for (both->First(); !both->Eof(); both->Next()) {
    std::vector<std::string> r;
    for (int32_t i = 0; i < both->Fields()->ColumnCount(); ++i)
      r.push_back(both->Fields()->GetColumn(i)->GetColData());
    rows.push_back(r);
  }
  ASSERT_EQ(rows.size(), 2u);
  for (size_t i = 0; i < cols.size(); ++i) EXPECT_EQ(rows[0][i], rows[1][i]) << cols[i];
  a.tr->Commit();
}

TEST(REZFieldExchangeDb, ATextLongerThanItsParameterIsRefusedNotCut) {
  AdapterDb a;
  auto ins = std::make_unique<TIB_DSQL>(nullptr);
  ins->SetIB_Connection(a.db);
  ins->SetIB_Transaction(a.tr);
  ins->SQL()->SetText("insert into PARTNER (ID_PARTNER, PARTNER) values (1, ?)");
  ins->Prepare();
  TIB_Column* p = ins->Params()->GetColumn(0);
  p->SetIsNull(true);
  const std::string eleven = "ABCDEFGHIJK";
  std::vector<char> buf(eleven.begin(), eleven.end());
  buf.push_back('\0');
  EXPECT_THROW(REZWriteColumn(TREZColumnDesc::FromColumn(p, false), p->DataPtr(), ftString, 11,
                              buf.data()),
               EIB_StatementError);
  EXPECT_TRUE(p->GetIsNull());
}

}  // namespace
}  // namespace pelvar::test
