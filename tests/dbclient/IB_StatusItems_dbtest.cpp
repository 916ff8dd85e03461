// The status inspector's items over a live attachment and a started transaction on the
// embedded engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "connection_calls.h"
#include "dbclient/IB_StatusItems.h"
#include "platform/dateutils.h"

namespace pelvar::test {
namespace {

bool Has(TStringList* list, const std::string& line) {
  for (int32_t i = 0; i < list->Count(); ++i) {
    if (list->Strings(i) == line) return true;
  }
  return false;
}

TEST(StatusItemsEmbedded, LiveConnectionAndStartedTransaction) {
  auto fb = FbTestDb::Create(FbTestDb::Mode::Embedded);
  ConnectionRig rig(fb->ConnectString());
  rig.conn->SetName("Main");
  auto* tr = new TIB_Transaction(&rig.form);
  tr->SetIsolation(tiConcurrency);
  tr->SetIB_Connection(rig.conn);
  rig.conn->Open();
  TDateTime now = EncodeDate(2008, 5, 6);
  SetNowSource([&now] { return now; });
  ASSERT_TRUE(tr->EnsureStarted());
  now += 1.5 + 61.0 / 86400;  // a day and a half, a minute and a second later

  TInterestingInspector inspector;
  inspector.AddComponent(rig.conn);
  inspector.AddComponent(tr);
  inspector.Refresh();
  TInterestingItem* conn_item = inspector.AddItem(rig.conn);
  conn_item->FillDetails();
  TStringList* c = conn_item->Details();
  EXPECT_TRUE(Has(c, "Connected=True")) << c->Text();
  EXPECT_TRUE(Has(c, "Protocol=Local")) << c->Text();
  EXPECT_TRUE(Has(c, "Page Size=8192")) << c->Text();
  EXPECT_TRUE(Has(c, "Transactions=1 (Active=1)  OAT=1+12:1:1")) << c->Text();

  TInterestingItem* tr_item = inspector.AddItem(tr);
  tr_item->FillDetails();
  TStringList* t = tr_item->Details();
  EXPECT_TRUE(Has(t, "Started=True")) << t->Text();
  EXPECT_TRUE(Has(t, "Isolation=Concurrency/Snapshot")) << t->Text();
  EXPECT_TRUE(Has(t, TransactionStateText(tr->State()))) << t->Text();
  EXPECT_TRUE(Has(t, "Time Active=1+12:1:1")) << t->Text();
  EXPECT_TRUE(Has(t, "Connections=1 (Active=1)")) << t->Text();

  TInterestingItem summary(&inspector, nullptr);
  summary.AddSummary(nullptr);
  EXPECT_TRUE(Has(summary.Details(), "Connections=1 (Active=1)")) << summary.Details()->Text();
  EXPECT_TRUE(Has(summary.Details(), "Transactions=1 (Active=1)  OAT=1+12:1:1"));

  tr->Rollback();
  SetNowSource({});
  rig.conn->Close();
}

}  // namespace
}  // namespace pelvar::test
