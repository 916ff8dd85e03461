// The adapter datasets against Firebird 3 on the practice schema: queries that open,
// navigate and keep bookmarks; tables that append through the generated INSERT, edit by
// the old primary key and meet rows deleted meanwhile; server errors as the adapter's
// exception; parameters that follow the SQL; master links; blobs through the stream.
#include <gtest/gtest.h>

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
  EXPECT_FALSE(q->Locate("PARTNER", Variant(AnsiString("nic")), {}));
  EXPECT_EQ(q->FieldByName("ID_PARTNER")->AsInteger(), 4);
  q->Close();
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
  d->SetRequestLive(true);
  d->InternalDataset()->SetKeyRelation("PARTNER_KONTAKT");
  d->Close();
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
  t->Post();
  t->Close();
  a->tr->Commit();
  t->Open();
  t->First();
  auto s = t->CreateBlobStream(t->FieldByName("BIN"), bmRead);
  std::string back(static_cast<size_t>(s->Size()), '\0');
  s->ReadBuffer(back.data(), static_cast<int64_t>(back.size()));
  EXPECT_TRUE(back == big);
  EXPECT_EQ(t->FieldByName("V300")->AsString(), "abc");
}

}  // namespace
}  // namespace pelvar::test
