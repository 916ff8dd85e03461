// The adapter datasets against Firebird 3 on the practice schema: queries that open,
// navigate and keep bookmarks; tables that append through the generated INSERT, edit by
// the old primary key and meet rows deleted meanwhile; server errors as the adapter's
// exception; parameters that follow the SQL; master links; blobs through the stream.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "adapter_practice.h"
#include "dbadapters/REZDataset.h"
#include "dbengine/IB_Components_dataset.h"

namespace pelvar::test {
namespace {

class REZDatasetDb : public ::testing::Test {
 protected:
  std::unique_ptr<AdapterDb> a = std::make_unique<AdapterDb>();

  template <class T>
  T* New() {
    auto* d = new T(&a->form);
    d->SetIB_Connection(a->db);
    d->SetIB_Transaction(a->tr);
    return d;
  }
  TREZQuery* Query(const std::string& sql) {
    auto* q = New<TREZQuery>();
    q->SQL()->SetText(CZ(sql));
    return q;
  }
  void Exec(const std::string& sql) {
    auto* q = Query(sql);
    q->ExecSQL();
    delete q;
  }
  void AddPartners(int n) {
    for (int i = 1; i <= n; ++i)
      Exec("insert into PARTNER (ID_PARTNER, PARTNER, PARTNER_NAZEV) values (" + std::to_string(i) +
           ", 'P" + std::to_string(i) + "', 'Partner " + std::to_string(i) + "')");
  }
};

TEST_F(REZDatasetDb, QueryOpensNavigatesAndKeepsBookmarks) {
  AddPartners(5);
  TREZQuery* q = Query("select ID_PARTNER, PARTNER from PARTNER order by ID_PARTNER");
  q->Open();
  ASSERT_TRUE(q->Active());
  ASSERT_EQ(q->FieldCount(), 2);
  EXPECT_EQ(q->Fields(0)->DataType(), ftInteger);
  EXPECT_EQ(q->Fields(1)->DataType(), ftString);
  EXPECT_EQ(q->Fields(1)->Size(), 10);
  std::vector<int> ids;
  for (q->First(); !q->Eof(); q->Next()) ids.push_back(q->FieldByName("ID_PARTNER")->AsInteger());
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4, 5}));
  q->First();
  q->Next();
  q->Next();
  const TBookmark bm = q->GetBookmark();
  EXPECT_EQ(q->FieldByName("PARTNER")->AsString(), "P3");
  q->Last();
  EXPECT_EQ(q->FieldByName("ID_PARTNER")->AsInteger(), 5);
  q->GotoBookmark(bm);
  EXPECT_EQ(q->FieldByName("ID_PARTNER")->AsInteger(), 3);
  q->Prior();
  EXPECT_EQ(q->FieldByName("ID_PARTNER")->AsInteger(), 2);
  EXPECT_EQ(q->CompareBookmarks(bm, TBookmark()), 0);
  EXPECT_TRUE(q->Locate("PARTNER", Variant(AnsiString("P4")), {}));
  EXPECT_EQ(q->FieldByName("ID_PARTNER")->AsInteger(), 4);
  const Variant found = q->Lookup("ID_PARTNER", Variant(2), "PARTNER");
  EXPECT_EQ(VarToStr(found), "P2");
  EXPECT_TRUE(VarIsNull(q->Lookup("ID_PARTNER", Variant(99), "PARTNER")));
  EXPECT_EQ(q->FieldByName("ID_PARTNER")->AsInteger(), 4);  // Lookup does not move
  int scrolls = 0;
  q->AfterScroll = [&](TDataSet*) { ++scrolls; };
  EXPECT_FALSE(q->Locate("PARTNER", Variant(AnsiString("nic")), {}));
  EXPECT_EQ(q->FieldByName("ID_PARTNER")->AsInteger(), 4);
  EXPECT_EQ(scrolls, 0);
  q->Close();
}


// A query over a table without a primary key reads and writes its rows by their db-key,
// a bare star in its select list too.
TEST_F(REZDatasetDb, AStarQueryOverATableWithoutPrimaryKeyOpensReadOnlyAndLive) {
  Exec("insert into ADAPTER_NOPK values (1, 'one')");
  Exec("insert into ADAPTER_NOPK values (2, 'two')");
  for (const bool live : {false, true}) {
    SCOPED_TRACE(live);
    TREZQuery* q = Query("select * from ADAPTER_NOPK order by A");
    q->SetRequestLive(live);
    q->Open();
    ASSERT_TRUE(q->Active());
    EXPECT_EQ(q->FieldCount(), 2);
    q->Last();
    EXPECT_EQ(q->FieldByName("B")->AsString(), "two");
    if (live) {
      q->Edit();
      q->FieldByName("B")->SetAsString("dva");
      q->Post();
      TREZQuery* r = Query("select B from ADAPTER_NOPK where A = 2");
      r->Open();
      EXPECT_EQ(r->FieldByName("B")->AsString(), "dva");
    }
  }
}

TEST_F(REZDatasetDb, TableOpensByNameAndPostsThroughGeneratedStatements) {
  AddPartners(2);
  auto* t = New<TREZTable>();
  t->SetTableName("PARTNER");
  EXPECT_EQ(t->SQL()->Text(), "SELECT ALL PARTNER.*\r\nFROM PARTNER\r\n");
  EXPECT_EQ(t->InternalDataset()->KeyRelation(), "PARTNER");
  t->Open();
  EXPECT_EQ(t->OrderingItems(), "TABLE ORDER=ID_PARTNER;ID_PARTNER DESC");
  EXPECT_EQ(t->OrderingItemNo(), 1);
  EXPECT_TRUE(t->CanModify());
  // Append and post: a generated INSERT of the non-null columns.
  t->Append();
  t->FieldByName("ID_PARTNER")->SetAsInteger(10);
  t->FieldByName("PARTNER")->SetAsString(CZ("Šťastný"));
  t->FieldByName("SLEVA")->SetAsFloat(12.5);
  t->Post();
  EXPECT_EQ(t->FieldByName("ID_PARTNER")->AsInteger(), 10);
  EXPECT_EQ(t->RecordCount(), 3);
  // Edit by the old primary key, the key itself included.
  t->First();
  t->Edit();
  t->FieldByName("ID_PARTNER")->SetAsInteger(11);
  t->FieldByName("PARTNER_NAZEV")->SetAsString(CZ("Přejmenovaný"));
  t->Post();
  EXPECT_EQ(t->FieldByName("ID_PARTNER")->AsInteger(), 11);
  t->Close();
  a->tr->Commit();
  EXPECT_EQ(a->Seen("select count(*) as V from PARTNER"), "3");
  EXPECT_EQ(a->Seen("select PARTNER_NAZEV as V from PARTNER where ID_PARTNER = 11"), "Přejmenovaný");
  EXPECT_EQ(a->Seen("select SLEVA as V from PARTNER where ID_PARTNER = 10"), "12.50000000000000");
  EXPECT_EQ(a->Seen("select count(*) as V from PARTNER where ID_PARTNER = 1"), "0");
}

TEST_F(REZDatasetDb, AnAppendedRowLeavesOutNullColumnsSoDefaultsApply) {
  auto* t = New<TREZTable>();
  t->SetTableName("ADAPTER_DEFAULTS");
  t->Open();
  t->Append();
  t->FieldByName("ID")->SetAsInteger(1);
  t->Post();
  EXPECT_FALSE(t->GetBookmark().empty());
  t->Append();
  t->FieldByName("ID")->SetAsInteger(2);
  t->FieldByName("POCET")->SetAsInteger(7);
  t->Post();
  t->Close();
  a->tr->Commit();
  EXPECT_EQ(a->Seen("select NAZEV || '/' || POCET as V from ADAPTER_DEFAULTS where ID = 1"), "výchozí/5");
  EXPECT_EQ(a->Seen("select NAZEV || '/' || POCET as V from ADAPTER_DEFAULTS where ID = 2"), "výchozí/7");
}

TEST_F(REZDatasetDb, EditOfARowDeletedMeanwhileIsRefused) {
  AddPartners(2);
  a->tr->Commit();
  auto* t = New<TREZTable>();
  t->SetTableName("PARTNER");
  t->Open();
  t->First();
  // Another transaction deletes the row under the cursor.
  auto* other = new TREZTransaction(&a->form);
  other->SetIB_Connection(a->db);
  auto* del = Query("delete from PARTNER where ID_PARTNER = 1");
  del->SetIB_Transaction(other);
  del->ExecSQL();
  other->Commit();
  t->Edit();
  t->FieldByName("PARTNER")->SetAsString("X");
  try {
    t->Post();
    FAIL() << "the post went through";
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find(CZ("Záznam nebyl nalezen, aby mohl být změněn")), std::string::npos)
        << e.Message();
  }
  EXPECT_EQ(t->State(), dsEdit);
  t->Cancel();
}

TEST_F(REZDatasetDb, ServerErrorsArriveAsTheAdaptersException) {
  AddPartners(1);
  auto* t = New<TREZTable>();
  t->SetTableName("PARTNER");
  t->Open();
  t->Append();
  t->FieldByName("ID_PARTNER")->SetAsInteger(1);
  try {
    t->Post();
    FAIL() << "a duplicate key was posted";
  } catch (const EREZ_ISCError& e) {
    EXPECT_EQ(e.SQLCODE(), -803);
    EXPECT_GT(e.ErrorMessage()->Count(), 0);
    EXPECT_EQ(e.Message(), e.ErrorMessage()->Text().substr(0, 255));
  }
  t->Cancel();
  t->Close();

  // A trigger's exception: its own text.
  auto* d = New<TREZTable>();
  d->SetTableName("ADAPTER_DEFAULTS");
  d->Open();
  d->Append();
  d->FieldByName("ID")->SetAsInteger(-1);
  try {
    d->Post();
    FAIL() << "the trigger let the row in";
  } catch (const EREZ_ISCError& e) {
    EXPECT_EQ(e.SQLCODE(), -836);
    EXPECT_GT(e.ErrorMessage()->Count(), 5) << e.ErrorMessage()->Text();
    EXPECT_EQ(e.Message(), CZ("Záporný klíč není dovolen")) << e.ErrorMessage()->Text();
  }
  d->Cancel();

  // OnError sees the error first and may keep it from being raised.
  auto* q = Query("insert into PARTNER (ID_PARTNER) values (1)");
  int seen = 0;
  q->OnError = [&](TComponent*, int32_t, TStringList*, TStringList*, int32_t SQLCODE, TStringList*,
                   TStringList*, bool& Raise) {
    ++seen;
    EXPECT_EQ(SQLCODE, -803);
    Raise = false;
  };
  EXPECT_NO_THROW(q->ExecSQL());
  EXPECT_EQ(seen, 1);
}

TEST_F(REZDatasetDb, ParametersFollowTheSqlAndBind) {
  AddPartners(4);
  TREZQuery* q = Query("select * from PARTNER where ID_PARTNER >= :ID and PARTNER <> :P order by ID_PARTNER");
  ASSERT_EQ(q->Params().Count(), 2);
  EXPECT_EQ(q->Params().Items(0)->Name(), "ID");
  EXPECT_EQ(q->Params().Items(1)->Name(), "P");
  q->ParamByName("ID")->SetAsInteger(2);
  q->ParamByName("P")->SetAsString("P3");
  q->Open();
  std::vector<int> ids;
  for (q->First(); !q->Eof(); q->Next()) ids.push_back(q->FieldByName("ID_PARTNER")->AsInteger());
  EXPECT_EQ(ids, (std::vector<int>{2, 4}));
  q->Close();
  // The text changes: names, order and repeats follow; values stay with their names.
  q->SQL()->SetText("select * from PARTNER where PARTNER <> :P and (ID_PARTNER = :N or ID_PARTNER = :N)");
  ASSERT_EQ(q->Params().Count(), 2);
  EXPECT_EQ(q->Params().Items(0)->Name(), "P");
  EXPECT_EQ(q->Params().Items(0)->AsString(), "P3");
  q->ParamByName("N")->SetAsInteger(3);
  q->Open();
  EXPECT_TRUE(q->IsEmpty());
  q->Close();
  // ExecSQL returns the rows affected.
  TREZQuery* u = Query("update PARTNER set ST = 'U' where ID_PARTNER <= :MAXID");
  u->ParamByName("MAXID")->SetAsInteger(3);
  u->ExecSQL();
  EXPECT_EQ(u->GetRowsAffected(), 3);
}

TEST_F(REZDatasetDb, AMasterLinkRefreshesTheDetail) {
  AddPartners(2);
  Exec("insert into PARTNER_KONTAKT (ID_PARTNER_KONTAKT, ID_PARTNER, PARTNER_KONTAKT) values (1, 1, 'a')");
  Exec("insert into PARTNER_KONTAKT (ID_PARTNER_KONTAKT, ID_PARTNER, PARTNER_KONTAKT) values (2, 2, 'b')");
  Exec("insert into PARTNER_KONTAKT (ID_PARTNER_KONTAKT, ID_PARTNER, PARTNER_KONTAKT) values (3, 2, 'c')");
  TREZQuery* m = Query("select * from PARTNER order by ID_PARTNER");
  auto* src = new TDataSource(&a->form);
  src->SetDataSet(m);
  TREZQuery* d = Query("select * from PARTNER_KONTAKT where ID_PARTNER = :ID_PARTNER order by 1");
  d->SetDataSource(src);
  m->Open();
  d->Open();
  auto texts = [&] {
    std::string s;
    for (d->First(); !d->Eof(); d->Next()) s += d->FieldByName("PARTNER_KONTAKT")->AsString();
    return s;
  };
  EXPECT_EQ(texts(), "a");
  m->Next();
  EXPECT_EQ(texts(), "bc");
  // A new detail row takes its link field from the master.
  d->Close();
  d->SetRequestLive(true);
  d->InternalDataset()->SetKeyRelation("PARTNER_KONTAKT");
  d->Open();
  d->Append();
  EXPECT_EQ(d->FieldByName("ID_PARTNER")->AsInteger(), 2);
  d->Cancel();
}

TEST_F(REZDatasetDb, BlobsStreamThroughTheFramework) {
  std::string big(1 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  auto* t = New<TREZTable>();
  t->SetTableName("ADAPTER_TYPES");
  t->Open();
  t->Append();
  t->FieldByName("ID")->SetAsInteger(1);
  {
    auto s = t->CreateBlobStream(t->FieldByName("BIN"), bmWrite);
    s->WriteBuffer(big.data(), static_cast<int64_t>(big.size()));
  }
  {
    auto s = t->CreateBlobStream(t->FieldByName("V300"), bmWrite);
    s->WriteBuffer("abc", 3);
    EXPECT_THROW(s->WriteBuffer(std::string(300, 'x').data(), 300), EIB_StatementError);
  }
  t->FieldByName("M")->SetAsString(CZ("Poznámka: kůň ťukal"));
  t->Post();
  t->Close();
  a->tr->Commit();
  t->Open();
  t->First();
  EXPECT_EQ(t->FieldByName("M")->AsString(), CZ("Poznámka: kůň ťukal"));
  auto s = t->CreateBlobStream(t->FieldByName("BIN"), bmRead);
  std::string back(static_cast<size_t>(s->Size()), '\0');
  s->ReadBuffer(back.data(), static_cast<int64_t>(back.size()));
  EXPECT_TRUE(back == big);
  EXPECT_EQ(t->FieldByName("V300")->AsString(), "abc");
}


// An empty text, a null and a short text after a longer one: every row shows its own
// value however the dataset is scrolled, read, edited and posted.
TEST_F(REZDatasetDb, EmptyAndNullBlobsNeverShowAnotherRowsValue) {
  Exec("insert into ADAPTER_TYPES (ID, V255, M, BIN) values (1, 'abc', 'abc', 'abc')");
  Exec("insert into ADAPTER_TYPES (ID, V255, M, BIN) values (2, '', '', '')");
  Exec("insert into ADAPTER_TYPES (ID, V255, M, BIN) values (3, null, null, null)");
  Exec("insert into ADAPTER_TYPES (ID, V255, M, BIN) values (4, 'x', 'x', 'x')");
  a->tr->Commit();
  TREZQuery* q = Query("select ID, V255, M, BIN from ADAPTER_TYPES order by ID");
  q->SetRequestLive(true);
  q->Open();
  const char* expected[] = {"abc", "", "", "x"};
  const auto stream_text = [&](const char* name) {
    auto s = q->CreateBlobStream(q->FieldByName(name), bmRead);
    std::string back(static_cast<size_t>(s->Size()), '\0');
    if (!back.empty()) s->ReadBuffer(back.data(), static_cast<int64_t>(back.size()));
    return back;
  };
  const auto check_row = [&](int pass) {
    const int id = q->FieldByName("ID")->AsInteger();
    SCOPED_TRACE("pass " + std::to_string(pass) + ", row " + std::to_string(id));
    const std::string want = expected[id - 1];
    EXPECT_EQ(q->FieldByName("V255")->AsString(), want);
    EXPECT_EQ(q->FieldByName("M")->AsString(), want);
    EXPECT_EQ(stream_text("M"), want);
    EXPECT_EQ(stream_text("BIN"), want);
    EXPECT_EQ(q->FieldByName("BIN")->AsString(), want);
    EXPECT_EQ(q->FieldByName("M")->IsNull(), id == 3);
    EXPECT_EQ(q->FieldByName("BIN")->IsNull(), id == 3);
  };
  for (int pass = 0; pass < 2; ++pass) {
    for (q->First(); !q->Eof(); q->Next()) check_row(pass);
    for (q->Last(); !q->Bof(); q->Prior()) check_row(pass);
  }
  // An edited row posts and then reads back its own values, and so do its neighbours.
  ASSERT_TRUE(q->Locate("ID", Variant(int32_t{2}), {}));
  q->Edit();
  q->FieldByName("V255")->SetAsString("");
  q->Post();
  for (q->First(); !q->Eof(); q->Next()) check_row(3);
  ASSERT_TRUE(q->Locate("ID", Variant(int32_t{1}), {}));
  q->Edit();
  q->FieldByName("M")->SetAsString("");
  q->FieldByName("V255")->SetAsString("");
  q->Post();
  expected[0] = "";
  EXPECT_EQ(q->FieldByName("M")->AsString(), "");
  EXPECT_FALSE(q->FieldByName("M")->IsNull());
  for (q->Last(); !q->Bof(); q->Prior()) {
    if (q->FieldByName("ID")->AsInteger() == 1) {
      EXPECT_EQ(q->FieldByName("M")->AsString(), "");
      continue;
    }
    check_row(4);
  }
}

// Cached edits through the fields: an emptied memo is neither shown on the rows scrolled to
// afterwards nor lost, and applying sends each row its own values.
TEST_F(REZDatasetDb, CachedBlobEditsStayWithTheirRows) {
  Exec("insert into ADAPTER_TYPES (ID, M, BIN) values (1, 'abc', 'abc')");
  Exec("insert into ADAPTER_TYPES (ID, M, BIN) values (2, '', '')");
  Exec("insert into ADAPTER_TYPES (ID, M, BIN) values (3, null, null)");
  Exec("insert into ADAPTER_TYPES (ID, M, BIN) values (4, 'x', 'x')");
  a->tr->Commit();
  TREZQuery* q = Query("select ID, M, BIN from ADAPTER_TYPES order by ID");
  q->SetRequestLive(true);
  q->SetCachedUpdates(true);
  q->Open();
  std::map<int, std::string> want = {{1, "abc"}, {2, ""}, {3, ""}, {4, "x"}};
  const auto edit = [&](int id, const std::string& value) {
    ASSERT_TRUE(q->Locate("ID", Variant(int32_t{id}), {}));
    q->Edit();
    q->FieldByName("M")->SetAsString(value);
    q->FieldByName("BIN")->SetAsString(value);
    q->Post();
    want[id] = value;
  };
  const auto check_all = [&](const std::string& where) {
    const auto check = [&] {
      const int id = q->FieldByName("ID")->AsInteger();
      SCOPED_TRACE(where + ", row " + std::to_string(id));
      EXPECT_EQ(q->FieldByName("M")->AsString(), want.at(id));
      EXPECT_EQ(q->FieldByName("BIN")->AsString(), want.at(id));
    };
    for (q->First(); !q->Eof(); q->Next()) check();
    for (q->Last(); !q->Bof(); q->Prior()) check();
  };
  edit(1, "");
  check_all("row 1 emptied");
  edit(4, "zz");
  check_all("row 4 changed");
  q->ApplyUpdates();
  q->CommitUpdates();
  a->tr->Commit();
  auto* c = new TIB_Cursor(&a->form);
  c->SetIB_Connection(a->db);
  c->SetIB_Transaction(a->tr);
  c->SQL()->SetText("select coalesce(M, '<null>') || '|' || coalesce(cast(BIN as varchar(10)), '<null>') "
                    "from ADAPTER_TYPES order by ID");
  std::vector<std::string> rows;
  for (c->First(); !c->Eof(); c->Next()) rows.push_back(std::string(c->Fields()->GetColumn(0)->GetAsString()));
  EXPECT_EQ(rows, (std::vector<std::string>{"|", "|", "<null>|<null>", "zz|zz"}));
}

// Rows copied value by value into a table, committing as the copy goes: an empty or null
// blob arrives as it left, never as the row before it.
TEST_F(REZDatasetDb, BlobsCopiedAcrossCommitsArriveAsTheyLeft) {
  Exec("insert into ADAPTER_TYPES (ID, V255, M, BIN) values (1, 'abc', 'abc', 'abc')");
  Exec("insert into ADAPTER_TYPES (ID, V255, M, BIN) values (2, '', '', '')");
  Exec("insert into ADAPTER_TYPES (ID, V255, M, BIN) values (3, null, null, null)");
  Exec("insert into ADAPTER_TYPES (ID, V255, M, BIN) values (4, 'x', 'x', 'x')");
  Exec("insert into ADAPTER_TYPES (ID, V255, M, BIN) values (5, '', '', '')");
  a->tr->Commit();
  TREZQuery* source = Query("select ID, V255, M, BIN from ADAPTER_TYPES where ID < 10 order by ID");
  source->Open();
  auto* target = New<TREZTable>();
  target->SetTableName("ADAPTER_TYPES");
  target->Open();
  int copied = 0;
  for (source->First(); !source->Eof(); source->Next()) {
    target->Append();
    target->FieldByName("ID")->SetAsInteger(source->FieldByName("ID")->AsInteger() + 10);
    for (const char* name : {"V255", "M", "BIN"}) target->FieldByName(name)->SetAsVariant(source->FieldByName(name)->AsVariant());
    target->Post();
    if (++copied % 2 == 0) a->tr->Commit();
  }
  a->tr->Commit();
  EXPECT_EQ(copied, 5);
  // The rows the table appended read back their own values, in whatever order.
  {
    const std::map<int, std::string> want = {{11, "abc"}, {12, ""}, {13, ""}, {14, "x"}, {15, ""}};
    for (int pass = 0; pass < 2; ++pass) {
      for (pass == 0 ? target->Last() : target->First(); pass == 0 ? !target->Bof() : !target->Eof();
           pass == 0 ? target->Prior() : target->Next()) {
        const int id = target->FieldByName("ID")->AsInteger();
        if (id < 10) continue;
        SCOPED_TRACE("table row " + std::to_string(id));
        EXPECT_EQ(target->FieldByName("M")->AsString(), want.at(id));
        EXPECT_EQ(target->FieldByName("BIN")->AsString(), want.at(id));
        EXPECT_EQ(target->FieldByName("M")->IsNull(), id == 13);
      }
    }
  }
  auto* c = new TIB_Cursor(&a->form);
  c->SetIB_Connection(a->db);
  c->SetIB_Transaction(a->tr);
  c->SQL()->SetText("select ID, V255, M, BIN, char_length(M), octet_length(BIN) from ADAPTER_TYPES where ID > 10 order by ID");
  std::vector<std::string> rows;
  for (c->First(); !c->Eof(); c->Next()) {
    std::string r;
    for (int32_t i = 0; i < c->Fields()->ColumnCount(); ++i) {
      TIB_Column* col = c->Fields()->GetColumn(i);
      r += (col->GetIsNull() ? std::string("<null>") : std::string(col->GetAsString())) + "|";
    }
    rows.push_back(r);
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"11|abc|abc|abc|3|3|", "12||||0|0|", "13|<null>|<null>|<null>|<null>|<null>|",
                                            "14|x|x|x|1|1|", "15||||0|0|"}));
}

TEST_F(REZDatasetDb, FieldDefinitionsFollowThePairingTable) {
  TREZQuery* q = Query("select * from ADAPTER_TYPES");
  q->Open();
  struct Case {
    const char* name;
    TFieldType ft;
    int32_t size, precision;
  };
  for (const Case& c : {Case{"V255", ftString, 255, 0}, Case{"V300", ftMemo, 300, 0},
                        Case{"N182", ftBCD, 2, 18}, Case{"N152", ftBCD, 2, 18},
                        Case{"M", ftMemo, 8, 0}, Case{"BIN", ftBlob, 8, 0},
                        Case{"TS", ftDateTime, 0, 0}, Case{"D", ftDate, 0, 0}, Case{"T", ftTime, 0, 0},
                        Case{"S", ftSmallint, 0, 0}, Case{"B", ftLargeint, 0, 0},
                        Case{"F", ftFloat, 0, 0}, Case{"BOOL", ftBoolean, 0, 0}}) {
    SCOPED_TRACE(c.name);
    TFieldDef* def = q->FieldDefs().Find(c.name);
    EXPECT_EQ(def->DataType(), c.ft);
    EXPECT_EQ(def->Size(), c.size);
    EXPECT_EQ(def->Precision(), c.precision);
    EXPECT_EQ(q->FieldByName(c.name)->DataType(), c.ft);
  }
  EXPECT_TRUE(q->FieldDefs().Find("ID")->Required());
  EXPECT_NE(dynamic_cast<TREZFloatField*>(q->FieldByName("F")), nullptr);
  EXPECT_NE(dynamic_cast<TREZLargeIntField*>(q->FieldByName("B")), nullptr);
}

TEST_F(REZDatasetDb, ValuesReadAndRoundTripThroughTheFields) {
  Exec("insert into ADAPTER_TYPES (ID, V255, N152, N182, C10, TS, D, T, S, B, F, BOOL) values "
       "(1, 'Příliš žluťoučký kůň úpěl ďábelské ódy', 12345.67, -9876543210123.45, 'ABC   ', "
       "'2026-06-15 08:05:03.1230', '1858-11-17', '23:59:59.9990', -32768, 9007199254740993, "
       "0.25, false)");
  auto* t = New<TREZTable>();
  t->SetTableName("ADAPTER_TYPES");
  t->Open();
  t->First();
  EXPECT_EQ(t->FieldByName("C10")->AsString(), "ABC");
  int32_t day = 0;
  ASSERT_TRUE(t->FieldByName("D")->GetData(&day));
  EXPECT_EQ(day, 678576);
  EXPECT_EQ(t->FieldByName("D")->AsDateTime(), -15018.0);  // 17 November 1858
  EXPECT_EQ(t->FieldByName("V255")->AsString(), CZ("Příliš žluťoučký kůň úpěl ďábelské ódy"));
  EXPECT_EQ(t->FieldByName("N152")->AsCurrency(), Currency::FromRaw(123456700));
  EXPECT_EQ(t->FieldByName("N152")->AsString(), CZ("12345,67"));
  EXPECT_EQ(t->FieldByName("B")->AsLargeInt(), 9007199254740993LL);
  EXPECT_FALSE(t->FieldByName("BOOL")->AsBoolean());
  EXPECT_TRUE(t->FieldByName("M")->IsNull());

  // Every data field copied in its native form into a new row: the server then holds the
  // same bytes.
  std::vector<std::vector<char>> values;
  std::vector<bool> present;
  for (TField* f : t->FieldList()) {
    std::vector<char> buf(512, 0);
    present.push_back(f->IsBlob() ? false : f->GetData(buf.data()));
    values.push_back(buf);
  }
  t->Append();
  for (size_t i = 0; i < t->FieldList().size(); ++i) {
    TField* f = t->FieldList()[i];
    if (f->IsBlob()) continue;
    if (f->FieldName() == "ID")
      f->SetAsInteger(2);
    else if (present[i])
      f->SetData(values[i].data());
  }
  t->Post();
  t->Close();
  auto* c = new TIB_Cursor(&a->form);
  c->SetIB_Connection(a->db);
  c->SetIB_Transaction(a->tr);
  c->SQL()->SetText("select V255, N152, N182, C10, TS, D, T, S, B, F, BOOL from ADAPTER_TYPES order by ID");
  std::vector<std::vector<std::string>> rows;
  for (c->First(); !c->Eof(); c->Next()) {
    std::vector<std::string> r;
    for (int32_t i = 0; i < c->Fields()->ColumnCount(); ++i) r.push_back(c->Fields()->GetColumn(i)->GetColData());
    rows.push_back(r);
  }
  ASSERT_EQ(rows.size(), 2u);
  for (size_t i = 0; i < rows[0].size(); ++i) EXPECT_EQ(rows[0][i], rows[1][i]) << "column " << i;
}

TEST_F(REZDatasetDb, AFailedFieldWriteLeavesTheRecordAsItWas) {
  auto* t = New<TREZTable>();
  t->SetTableName("PARTNER");
  t->Open();
  t->Append();
  TField* f = t->FieldByName("PARTNER");
  EXPECT_THROW(f->SetAsString("ABCDEFGHIJK"), EIB_StatementError);  // VARCHAR(10)
  EXPECT_TRUE(f->IsNull());
  f->SetAsString("ABC");
  EXPECT_THROW(f->SetAsString("ABCDEFGHIJK"), EIB_StatementError);
  EXPECT_EQ(f->AsString(), "ABC");
  TField* n = t->FieldByName("ID_PARTNER");
  n->SetAsInteger(1);
  EXPECT_ANY_THROW(n->SetAsString("5000000000"));
  EXPECT_EQ(n->AsInteger(), 1);
  t->Post();
  t->Close();
  a->tr->Commit();
  EXPECT_EQ(a->Seen("select PARTNER as V from PARTNER where ID_PARTNER = 1"), "ABC");
}

TEST_F(REZDatasetDb, ATableDrivenLikeAQueryEditsTheRowItFound) {
  AddPartners(3);
  auto* t = New<TREZTable>();
  t->SQL()->SetText("select * from PARTNER where PARTNER = 'P2'");
  t->Prepare();
  t->Open();
  ASSERT_FALSE(t->IsEmpty());
  t->Edit();
  t->FieldByName("ST")->SetAsString("U");
  t->Post();
  t->Close();
  // An INSERT text runs through ExecSQL.
  t->SQL()->SetText("insert into PARTNER (ID_PARTNER, PARTNER) values (9, 'P9')");
  t->ExecSQL();
  EXPECT_EQ(t->GetRowsAffected(), 1);
  a->tr->Commit();
  EXPECT_EQ(a->Seen("select cast(list(ID_PARTNER || ST) as varchar(100)) as V from PARTNER where ST is not null"), "2U");
  EXPECT_EQ(a->Seen("select count(*) as V from PARTNER"), "4");
}

TEST_F(REZDatasetDb, IndexFieldNamesOrderTheTable) {
  AddPartners(3);
  auto* t = New<TREZTable>();
  t->SetTableName("PARTNER");
  t->SetIndexFieldNames("ID_PARTNER DESC");
  t->Open();
  std::string order;
  for (t->First(); !t->Eof(); t->Next()) order += t->FieldByName("PARTNER")->AsString();
  EXPECT_EQ(order, "P3P2P1");
  EXPECT_EQ(t->OrderingItems(), "TABLE ORDER=ID_PARTNER;ID_PARTNER DESC");
  EXPECT_EQ(t->OrderingItemNo(), -1);
  // The same names with other separators change nothing.
  t->SetIndexFieldNames(" ID_PARTNER DESC ");
  EXPECT_TRUE(t->Active());
  // Another order is read again on the row the table stands on, without re-opening.
  ASSERT_TRUE(t->Locate("ID_PARTNER", Variant(2), {}));
  int opens = 0;
  t->AfterOpen = [&](TDataSet*) { ++opens; };
  t->SetIndexFieldNames("PARTNER_NAZEV;ID_PARTNER");
  EXPECT_EQ(opens, 0);
  EXPECT_EQ(t->FieldByName("ID_PARTNER")->AsInteger(), 2);
  t->Next();
  EXPECT_EQ(t->FieldByName("ID_PARTNER")->AsInteger(), 3);
  order.clear();
  for (t->First(); !t->Eof(); t->Next()) order += t->FieldByName("PARTNER")->AsString();
  EXPECT_EQ(order, "P1P2P3");
  EXPECT_EQ(t->OrderingItemNo(), 1);
}

TEST_F(REZDatasetDb, RecordCountIsAServerCountOrAnEstimate) {
  AddPartners(30);
  TREZQuery* q = Query("select * from PARTNER");
  q->Open();
  EXPECT_EQ(q->RecordCount(), 30);
  q->SetRecordCountAccurate(false);
  const int32_t estimate = q->RecordCount();
  EXPECT_GT(estimate, 0);
  q->Last();
  EXPECT_EQ(q->RecordCount(), 30);
}

TEST_F(REZDatasetDb, AnUpdateObjectPostsCachedChangesThroughItsStatements) {
  AddPartners(2);
  TREZQuery* q = Query("select * from PARTNER order by ID_PARTNER");
  auto* u = new TREZUpdateSQL(&a->form);
  u->ModifySQL()->SetText("update PARTNER set PARTNER_NAZEV = :PARTNER_NAZEV where ID_PARTNER = :OLD_ID_PARTNER");
  q->SetUpdateObject(u);
  q->SetCachedUpdates(true);
  // The engine grants edits to a live statement with a key relation.
  q->SetRequestLive(true);
  q->SetKeyRelation("PARTNER");
  q->Open();
  EXPECT_TRUE(q->CanModify());
  q->First();
  q->Edit();
  // A column the modify statement has no parameter for is read-only while editing.
  EXPECT_TRUE(q->InternalDataset()->FieldByName("PARTNER")->GetReadOnly());
  EXPECT_FALSE(q->InternalDataset()->FieldByName("PARTNER_NAZEV")->GetReadOnly());
  q->FieldByName("PARTNER_NAZEV")->SetAsString(CZ("Nový název"));
  q->Post();
  q->ApplyUpdates();
  q->CommitUpdates();
  q->Close();

  // A modify statement that finds no row.
  u->ModifySQL()->SetText("update PARTNER set PARTNER_NAZEV = :PARTNER_NAZEV where ID_PARTNER = -:OLD_ID_PARTNER");
  q->Open();
  q->First();
  q->Edit();
  q->FieldByName("PARTNER_NAZEV")->SetAsString("X");
  q->Post();
  AnsiString reported;
  q->InternalDataset()->OnUpdateError = [&](TComponent* Sender, std::exception& E, int32_t,
                                            int32_t& Action) {
    EXPECT_EQ(Sender, q);
    reported = E.what();
    Action = nuaFail;
  };
  EXPECT_THROW(q->ApplyUpdates(), EDatabaseError);
  EXPECT_EQ(reported, CZ("Záznam nebyl nalezen, aby mohl být změněn"));
  q->CancelUpdates();
  q->Close();
  a->tr->Commit();
  EXPECT_EQ(a->Seen("select PARTNER_NAZEV as V from PARTNER where ID_PARTNER = 1"), "Nový název");
}

TEST_F(REZDatasetDb, ATableFollowsItsMasterSource) {
  AddPartners(2);
  Exec("insert into PARTNER_KONTAKT (ID_PARTNER_KONTAKT, ID_PARTNER, PARTNER_KONTAKT) values (1, 1, 'a')");
  Exec("insert into PARTNER_KONTAKT (ID_PARTNER_KONTAKT, ID_PARTNER, PARTNER_KONTAKT) values (2, 2, 'b')");
  Exec("insert into PARTNER_KONTAKT (ID_PARTNER_KONTAKT, ID_PARTNER, PARTNER_KONTAKT) values (3, 2, 'c')");
  TREZQuery* m = Query("select * from PARTNER order by ID_PARTNER");
  auto* src = new TDataSource(&a->form);
  src->SetDataSet(m);
  auto* d = New<TREZTable>();
  d->SetTableName("PARTNER_KONTAKT");
  d->SetMasterFields("ID_PARTNER=ID_PARTNER");
  d->SetMasterSource(src);
  m->Open();
  d->Open();
  auto texts = [&] {
    std::string s;
    for (d->First(); !d->Eof(); d->Next()) s += d->FieldByName("PARTNER_KONTAKT")->AsString();
    return s;
  };
  EXPECT_EQ(texts(), "a");
  m->Next();
  EXPECT_EQ(texts(), "bc");
  // A new row takes its link field from the master.
  d->Append();
  EXPECT_EQ(d->FieldByName("ID_PARTNER")->AsInteger(), 2);
  d->FieldByName("ID_PARTNER_KONTAKT")->SetAsInteger(4);
  d->FieldByName("PARTNER_KONTAKT")->SetAsString("d");
  d->Post();
  EXPECT_EQ(texts(), "bcd");
  // A circular link is refused.
  auto* back = new TDataSource(&a->form);
  back->SetDataSet(d);
  EXPECT_THROW(m->SetDataSource(back), EDatabaseError);
}

TEST_F(REZDatasetDb, RowsAreFilteredByTextAndByTheRecordFilter) {
  AddPartners(6);
  TREZQuery* q = Query("select * from PARTNER order by ID_PARTNER");
  q->Open();
  auto ids = [&] {
    std::string s;
    for (q->First(); !q->Eof(); q->Next()) s += q->FieldByName("ID_PARTNER")->AsString();
    return s;
  };
  q->SetOnFilterRecord([](TDataSet* ds, bool& accept) {
    accept = ds->FieldByName("ID_PARTNER")->AsInteger() % 2 == 0;
  });
  EXPECT_EQ(ids(), "123456");  // the record filter acts while Filtered is set
  q->SetFiltered(true);
  EXPECT_EQ(ids(), "246");
  q->SetFiltered(false);
  q->SetOnFilterRecord(nullptr);
  EXPECT_EQ(ids(), "123456");
  q->SetFilterText("ID_PARTNER > 4");
  q->SetFiltered(true);
  EXPECT_EQ(ids(), "56");
  q->SetFiltered(false);
  EXPECT_EQ(ids(), "123456");
}

// A commit while a row is being appended posts it through the framework first.
TEST_F(REZDatasetDb, ACommitPostsThePendingRowThroughTheFramework) {
  auto* t = New<TREZTable>();
  t->SetTableName("PARTNER");
  t->Open();
  a->tr->StartTransaction();
  t->Append();
  t->FieldByName("ID_PARTNER")->SetAsInteger(5);
  t->FieldByName("PARTNER")->SetAsString("P5");
  a->tr->Commit();
  EXPECT_EQ(t->State(), dsBrowse);
  t->Close();
  EXPECT_EQ(a->Seen("select PARTNER as V from PARTNER where ID_PARTNER = 5"), "P5");
}

TEST_F(REZDatasetDb, AProcedureCallFillsItsOutputParameters) {
  TREZQuery* q = Query("execute procedure ADAPTER_SUM(:A, :B)");
  q->ParamByName("A")->SetAsInteger(2);
  q->ParamByName("B")->SetAsInteger(3);
  q->ExecSQL();
  TParam* s = q->Params().FindParam("S");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->ParamType(), ptOutput);
  EXPECT_EQ(s->AsInteger(), 5);
  EXPECT_EQ(q->Params().ParamByName("T")->AsString(), CZ("součet"));
  EXPECT_EQ(q->Params().ParamByName("A")->ParamType(), ptInput);
}

TEST_F(REZDatasetDb, IndexNamesOrderTheTableAndIndexDefsComeFromTheSchema) {
  AddPartners(3);
  Exec("update PARTNER set PARTNER_NAZEV = 'C' where ID_PARTNER = 1");
  Exec("update PARTNER set PARTNER_NAZEV = 'A' where ID_PARTNER = 2");
  Exec("update PARTNER set PARTNER_NAZEV = 'B' where ID_PARTNER = 3");
  Exec("create descending index PARTNER_NAZEV_D on PARTNER (PARTNER_NAZEV)");
  Exec("create index PACIENT_ID_PARTNER on PACIENT (ID_PARTNER)");
  a->tr->Commit();
  a->db->InvalidateSchemaCache();
  auto* t = New<TREZTable>();
  t->SetTableName("PARTNER");
  t->SetIndexName("PARTNER_NAZEV_D");
  t->Open();
  std::string order;
  for (t->First(); !t->Eof(); t->Next()) order += t->FieldByName("PARTNER_NAZEV")->AsString();
  EXPECT_EQ(order, "CBA");
  EXPECT_EQ(t->OrderingItemNo(), -1);
  t->Close();
  // An unknown index and one of another table are refused; the old setting stays.
  EXPECT_THROW(t->SetIndexName("NO_SUCH_INDEX"), EIB_Error);
  EXPECT_THROW(t->SetIndexName("PACIENT_ID_PARTNER"), EIB_Error);
  EXPECT_EQ(t->IndexName(), "PARTNER_NAZEV_D");
  TIndexDefs& defs = t->IndexDefs();
  ASSERT_GE(defs.Count(), 2);
  bool primary = false, desc = false;
  for (int32_t i = 0; i < defs.Count(); ++i) {
    if (defs[i]->Options().Contains(ixPrimary)) {
      primary = true;
      EXPECT_EQ(defs[i]->Fields(), "ID_PARTNER");
    }
    if (defs[i]->Name() == "PARTNER_NAZEV_D") {
      desc = true;
      EXPECT_TRUE(defs[i]->Options().Contains(ixDescending));
      EXPECT_EQ(defs[i]->DescFields(), "PARTNER_NAZEV");
    }
  }
  EXPECT_TRUE(primary);
  EXPECT_TRUE(desc);
}

// A table whose first index field has an ascending and a descending index reads from a
// position of it: its ends are reached without reading the rows between them.
TEST_F(REZDatasetDb, ATableWithIndexesBothWaysRefinesHorizontally) {
  Exec("execute block as declare i integer = 1; begin while (i <= 300) do begin "
       "insert into PARTNER (ID_PARTNER, PARTNER, PARTNER_NAZEV) values (:i, 'P' || :i, 'Partner'); "
       "i = i + 1; end end");
  Exec("create descending index PARTNER_ID_D on PARTNER (ID_PARTNER)");
  a->tr->Commit();
  a->db->InvalidateSchemaCache();
  for (const bool allow : {true, false}) {
    SCOPED_TRACE(allow);
    auto* t = New<TREZTable>();
    EXPECT_TRUE(t->AllowHorizontalRefinement());
    t->SetAllowHorizontalRefinement(allow);
    t->SetTableName("PARTNER");
    t->Open();
    EXPECT_EQ(std::string(t->InternalDataset()->OrderingLinks()->Text()),
              allow ? "ID_PARTNER=ITEM=1;POS=0\r\n" : "ID_PARTNER=ITEM=1\r\n");
    EXPECT_EQ(t->IsSequenced(), false);
    EXPECT_EQ(t->FieldByName("ID_PARTNER")->AsInteger(), 1);
    t->Last();
    EXPECT_EQ(t->FieldByName("ID_PARTNER")->AsInteger(), 300);
    t->Prior();
    EXPECT_EQ(t->FieldByName("ID_PARTNER")->AsInteger(), 299);
    EXPECT_EQ(t->InternalDataset()->GetBufferRowCount() < 300, allow);
    t->First();
    EXPECT_EQ(t->FieldByName("ID_PARTNER")->AsInteger(), 1);
    delete t;
  }
}

// What a data provider asks of the adapters: transactions, statements run beside them,
// keys, the table's name and default order, and a failed update with the server's codes.
TEST_F(REZDatasetDb, TheProviderInterfaceAnswersFromTheInternalDataset) {
  auto* bare = new TREZQuery(&a->form);
  try {
    bare->PSInTransaction();
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(AnsiToUtf8(e.Message()), "Musí být přiřazena IB_Transaction");
  }

  TREZQuery* q = Query("select P.ID_PARTNER, P.PARTNER from PARTNER P where P.ID_PARTNER > :LOW");
  q->SetKeyRelation("P");
  EXPECT_EQ(q->PSGetTableName(), "PARTNER");
  EXPECT_EQ(q->PSGetQuoteChar(), "\"");
  EXPECT_TRUE(q->PSIsSQLBased());
  EXPECT_FALSE(q->PSUpdateRecord(0, nullptr));
  q->PSStartTransaction();
  EXPECT_TRUE(q->PSInTransaction());

  // Parameters given by position take the statement's names.
  TParams params;
  params.CreateParam(ftInteger, "X", ptUnknown)->SetValue(Variant(7));
  params.CreateParam(ftString, "Y", ptUnknown)->SetValue(Variant(AnsiString("P7")));
  EXPECT_EQ(q->PSExecuteStatement("insert into PARTNER (ID_PARTNER, PARTNER, PARTNER_NAZEV) "
                                  "values (:ID, :NAME, 'Partner')", &params), 1);
  EXPECT_EQ(params.Items(0)->Name(), "ID");
  TREZQuery* rows = nullptr;
  q->PSExecuteStatement("select PARTNER from PARTNER where ID_PARTNER = 7", nullptr, &rows);
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(rows->FieldByName("PARTNER")->AsString(), "P7");
  delete rows;

  TParams low;
  low.CreateParam(ftInteger, "LOW", ptInput)->SetValue(Variant(5));
  q->PSSetParams(&low);
  q->Open();
  EXPECT_EQ(q->FieldByName("ID_PARTNER")->AsInteger(), 7);
  q->PSReset();
  EXPECT_TRUE(q->Active());

  auto* t = New<TREZTable>();
  t->SetTableName("PARTNER");
  t->Open();
  EXPECT_EQ(t->PSGetKeyFields(), "ID_PARTNER");
  std::unique_ptr<TIndexDef> order = t->PSGetDefaultOrder();
  ASSERT_NE(order, nullptr);
  EXPECT_TRUE(order->Options().Contains(ixPrimary));
  EXPECT_EQ(order->Fields(), "ID_PARTNER");

  // A trigger's exception arrives with the server's codes.
  auto* d = New<TREZTable>();
  d->SetTableName("ADAPTER_DEFAULTS");
  d->Open();
  d->Append();
  d->FieldByName("ID")->SetAsInteger(-1);
  std::exception_ptr failure;
  try {
    d->Post();
  } catch (...) {
    failure = std::current_exception();
  }
  ASSERT_TRUE(failure);
  EREZ_UpdateError previous("earlier", AnsiString(), 335544517, 0, nullptr);
  std::unique_ptr<EREZ_UpdateError> e = d->PSGetUpdateException(failure, &previous);
  EXPECT_EQ(e->SQLCode(), -836);
  EXPECT_EQ(e->PreviousError(), 335544517);
  EXPECT_NE(AnsiToUtf8(e->Message()).find("Záporný klíč není dovolen"), std::string::npos);
  d->Cancel();

  for (TREZDataset* x : {static_cast<TREZDataset*>(q), static_cast<TREZDataset*>(t), static_cast<TREZDataset*>(d)})
    x->Close();
  q->PSEndTransaction(false);
  EXPECT_FALSE(q->PSInTransaction());
}

// Persistent fields whose names differ from the columns' only in letter case are bound
// and take the columns' spelling.
// Fields take their display settings from the columns (a boolean column is centred) and
// follow the statement's field order.
TEST_F(REZDatasetDb, FieldsTakeTheColumnsAlignmentAndFieldOrder) {
  TREZQuery* q = Query("select ID, BOOL, V255 from ADAPTER_TYPES");
  q->Open();
  EXPECT_EQ(q->FieldByName("BOOL")->Alignment(), taCenter);
  EXPECT_EQ(q->FieldByName("ID")->Alignment(), taRightJustify);
  EXPECT_EQ(q->FieldByName("V255")->Alignment(), taLeftJustify);
  q->Close();

  AddPartners(1);
  TREZQuery* p = Query("select ID_PARTNER, PARTNER from PARTNER");
  auto* id = new TIntegerField(p);
  id->SetFieldName("ID_PARTNER");
  id->SetDataSet(p);
  auto* name = new TStringField(p);
  name->SetFieldName("PARTNER");
  name->SetSize(10);
  name->SetDataSet(p);
  TIB_StringList order;
  order.SetText("PARTNER\r\nID_PARTNER");
  p->InternalDataset()->SetFieldsIndex(&order);
  p->Open();
  EXPECT_EQ(p->Fields(0)->FieldName(), "PARTNER");
  EXPECT_EQ(p->Fields(1)->FieldName(), "ID_PARTNER");
  EXPECT_EQ(p->FieldByName("PARTNER")->AsString(), "P1");
}

// Read from an ordering position, the buffered rows are no measure of the count, and a
// bookmark of a row a little before the position is found among the rows before it.
TEST_F(REZDatasetDb, FromAnOrderingPositionBookmarksBeforeItAreFound) {
  Exec("execute block as declare i integer = 1; begin while (i <= 300) do begin "
       "insert into PARTNER (ID_PARTNER, PARTNER, PARTNER_NAZEV) values (:i, 'P' || :i, 'Partner'); "
       "i = i + 1; end end");
  TREZQuery* all = Query("select ID_PARTNER, PARTNER from PARTNER order by ID_PARTNER");
  all->Open();
  ASSERT_TRUE(all->Locate("ID_PARTNER", Variant(145), {}));
  const TBookmark bm = all->GetBookmark();

  TREZQuery* q = Query("select ID_PARTNER, PARTNER from PARTNER");
  q->SetRecordCountAccurate(false);
  TIB_StringList items, links;
  items.SetText("BYID=ORDER BY ID_PARTNER;ORDER BY ID_PARTNER DESC");
  links.SetText("ID_PARTNER=ITEM=1;POS");
  q->InternalDataset()->SetOrderingItems(&items);
  q->InternalDataset()->SetOrderingLinks(&links);
  q->InternalDataset()->SetOrderingItemNo(1);
  q->Prepare();
  q->InternalDataset()->SetOrderingPosition("150");
  q->Open();
  EXPECT_EQ(q->FieldByName("ID_PARTNER")->AsInteger(), 150);
  EXPECT_FALSE(q->IsSequenced());
  q->GotoBookmark(bm);
  EXPECT_EQ(q->FieldByName("ID_PARTNER")->AsInteger(), 145);
  q->Next();
  EXPECT_EQ(q->FieldByName("ID_PARTNER")->AsInteger(), 146);
  q->Prior();
  q->Prior();
  EXPECT_EQ(q->FieldByName("ID_PARTNER")->AsInteger(), 144);
}

TEST_F(REZDatasetDb, PersistentFieldsBindIgnoringLetterCase) {
  AddPartners(1);
  TREZQuery* q = Query("select ID_PARTNER, PARTNER from PARTNER");
  auto* id = new TIntegerField(q);
  id->SetFieldName("id_partner");
  id->SetDataSet(q);
  auto* name = new TStringField(q);
  name->SetFieldName("Partner");
  name->SetSize(10);
  name->SetDataSet(q);
  q->Open();
  EXPECT_EQ(id->FieldName(), "ID_PARTNER");
  EXPECT_EQ(name->FieldName(), "PARTNER");
  EXPECT_EQ(id->AsInteger(), 1);
  EXPECT_EQ(name->AsString(), "P1");
  q->Close();
  EXPECT_EQ(q->FieldCount(), 2);  // persistent fields stay
}

// The import framework's rhythm: rows appended to an open table with a commit every few
// rows, retaining or not; the table goes on appending after each commit.
TEST_F(REZDatasetDb, AnOpenTableGoesOnAppendingAcrossCommits) {
  auto* t = New<TREZTable>();
  t->SetTableName("PARTNER");
  t->Open();
  for (int i = 1; i <= 9; ++i) {
    t->Append();
    t->FieldByName("ID_PARTNER")->SetAsInteger(i);
    t->FieldByName("PARTNER")->SetAsString("P" + std::to_string(i));
    t->Post();
    if (i == 3) a->tr->CommitRetaining();
    if (i == 6) a->tr->Commit();
  }
  a->tr->Commit();
  t->Close();
  EXPECT_EQ(a->Seen("select count(*) as V from PARTNER"), "9");
}

// Key ranges over the table's index fields bind their bounds as parameters.
TEST_F(REZDatasetDb, KeyRangesRestrictTheTable) {
  AddPartners(8);
  auto* t = New<TREZTable>();
  t->SetTableName("PARTNER");
  t->Open();
  auto ids = [&] {
    std::string s;
    for (t->First(); !t->Eof(); t->Next()) s += t->FieldByName("ID_PARTNER")->AsString();
    return s;
  };
  t->SetRangeStart();
  t->FieldByName("ID_PARTNER")->SetAsInteger(3);
  // Only index fields take key values.
  EXPECT_THROW(t->FieldByName("PARTNER")->SetAsString("x"), EDatabaseError);
  t->Post();
  t->SetRangeEnd();
  t->FieldByName("ID_PARTNER")->SetAsInteger(6);
  t->SetKeyExclusive(true);
  t->Post();
  t->ApplyRange();
  EXPECT_EQ(ids(), "345");
  // A cancelled key edit keeps the old bound.
  t->EditRangeEnd();
  t->FieldByName("ID_PARTNER")->SetAsInteger(8);
  t->Cancel();
  t->ApplyRange();
  EXPECT_EQ(ids(), "345");
  t->CancelRange();
  EXPECT_EQ(ids(), "12345678");
  EXPECT_THROW(t->GetIndexField(1), EDatabaseError);
}

// A commit while a query is half read: the rows not read yet are still reached.
TEST_F(REZDatasetDb, AQueryReadsOnAcrossACommit) {
  AddPartners(30);
  a->tr->Commit();
  TREZQuery* q = Query("select ID_PARTNER from PARTNER order by ID_PARTNER");
  q->Open();
  q->First();
  q->Next();
  EXPECT_EQ(q->FieldByName("ID_PARTNER")->AsInteger(), 2);
  a->tr->Commit();
  int n = 0, last = 0;
  for (; q->Active() && !q->Eof(); q->Next()) {
    ++n;
    last = q->FieldByName("ID_PARTNER")->AsInteger();
  }
  EXPECT_EQ(n, 29);
  EXPECT_EQ(last, 30);
}

// A query over one table that does not select the table's key is keyed by the db-key,
// which the buffered dataset adds to the select list for itself: it never shows as a
// field. One whose only column is an expression of the key columns still opens and
// reads, read-only.
TEST_F(REZDatasetDb, KeysTheQueryDoesNotSelectStayOutOfItsFields) {
  Exec("insert into PSC (ID_PSC, PSC, PSC_NAZEV) values (1, '60200', 'Brno')");
  Exec("insert into PSC (ID_PSC, PSC, PSC_NAZEV) values (2, '11000', 'Praha')");
  Exec("insert into ZURNAL (ID_ZURNAL, TABULKA, ID_ZAZNAM, AKCE) values (900001, 'TEST', 7, 'I')");
  Exec("insert into ZURNAL (ID_ZURNAL, TABULKA, ID_ZAZNAM, AKCE) values (900002, 'TEST', 8, 'U')");
  struct Case {
    const char* sql;
    std::vector<std::string> fields;
    std::vector<std::string> rows;  // the first field of each row
  };
  const Case cases[] = {
      {"select 1 from RDB$DATABASE", {"CONSTANT"}, {"1"}},
      {"select PSC from PSC order by PSC", {"PSC"}, {"11000", "60200"}},
      {"select PSC_NAZEV, PSC from PSC order by PSC_NAZEV", {"PSC_NAZEV", "PSC"}, {"Brno", "Praha"}},
      {"select ID_ZURNAL || ':' || ID_ZAZNAM from ZURNAL where TABULKA = 'TEST' order by ID_ZURNAL",
       {"CONCATENATION"},
       {"900001:7", "900002:8"}},
      {"select ID_ZURNAL || ':' || ID_ZAZNAM as K, AKCE from ZURNAL where TABULKA = 'TEST' order by ID_ZURNAL desc",
       {"K", "AKCE"},
       {"900002:8", "900001:7"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    TREZQuery* q = Query(c.sql);
    ASSERT_NO_THROW(q->Open());
    std::vector<std::string> names;
    for (int i = 0; i < q->FieldCount(); ++i) names.push_back(q->Fields(i)->FieldName());
    EXPECT_EQ(names, c.fields);
    EXPECT_EQ(q->FindField("DB_KEY"), nullptr);
    std::vector<std::string> rows;
    for (q->First(); !q->Eof(); q->Next()) rows.push_back(q->Fields(0)->AsString());
    EXPECT_EQ(rows, c.rows);
    // Back and forth over the buffered rows, and to a bookmark.
    q->Last();
    const TBookmark bm = q->GetBookmark();
    q->First();
    q->GotoBookmark(bm);
    EXPECT_EQ(q->Fields(0)->AsString(), c.rows.back());
    delete q;
  }
}

}  // namespace
}  // namespace pelvar::test
