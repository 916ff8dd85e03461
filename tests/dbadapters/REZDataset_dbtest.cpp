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

}  // namespace
}  // namespace pelvar::test
