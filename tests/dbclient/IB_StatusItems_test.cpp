// The status inspector's items: durations, categories, detail lines, the summary and the
// tree, over real library components and small stand-ins for forms, data modules,
// datasets and data sources.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dbclient/IB_Components.h"
#include "dbclient/IB_StatusItems.h"
#include "dbengine/IB_Components_statement.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"

namespace pelvar {
namespace {

class FakeForm : public TComponent, public IB_StatusForm {
 public:
  FakeForm(TComponent* owner, bool visible) : TComponent(owner), visible_(visible) {}
  bool StatusVisible() const override { return visible_; }

 private:
  bool visible_;
};

class FakeDataModule : public TComponent, public IB_StatusDataModule {
 public:
  using TComponent::TComponent;
};

class FakeDataset : public TIB_DSQL, public IB_StatusDataset {
 public:
  FakeDataset(TComponent* owner, bool active, int32_t buffer, int32_t state)
      : TIB_DSQL(owner), active_(active), buffer_(buffer), state_(state) {}
  bool StatusActive() const override { return active_; }
  int32_t StatusBufferCount() const override { return buffer_; }
  int32_t StatusState() const override { return state_; }

 private:
  bool active_;
  int32_t buffer_;
  int32_t state_;
};

class FakeDataSource : public TComponent, public IB_StatusDataSource {
 public:
  FakeDataSource(TComponent* owner, TComponent* dataset, int32_t links)
      : TComponent(owner), dataset_(dataset), links_(links) {}
  TComponent* StatusDataset() const override { return dataset_; }
  int32_t StatusDataLinkCount() const override { return links_; }

 private:
  TComponent* dataset_;
  int32_t links_;
};

std::vector<std::string> Lines(TStringList* list) {
  std::vector<std::string> r;
  for (int32_t i = 0; i < list->Count(); ++i) r.push_back(list->Strings(i));
  return r;
}

std::string HexOf(const void* p) {
  return "$" + IntToHex(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)), 8);
}

TEST(StatusItems, FormatDuration) {
  const double second = 1.0 / 86400;
  struct Case {
    double days;
    const char* text;
  };
  const Case cases[] = {
      {0, ""},
      {-1, ""},
      {std::nan(""), ""},
      {second, "0:0:1"},
      {1.0 / 24, "1:0:0"},
      {59 * second + 0.4 * second, "0:0:59"},
      {1.5, "1+12:0:0"},
      {2 + (3 * 3600 + 4 * 60 + 5) * second, "2+3:4:5"},
      {400, "400+0:0:0"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatDuration(c.days), c.text) << c.days;
}

// A data module with a session, a connection, a transaction on it, a plain statement, a
// dataset and a data source over the dataset, and a form; all known to the inspector.
struct Rig {
  TComponent root{nullptr};
  FakeDataModule* dm = new FakeDataModule(&root);
  TIB_Session* session = new TIB_Session(dm);
  TIB_Connection* conn = new TIB_Connection(dm);
  TIB_Transaction* tr = new TIB_Transaction(dm);
  TIB_DSQL* stmt = new TIB_DSQL(dm);
  FakeDataset* ds = new FakeDataset(dm, true, 120, 3);
  FakeDataSource* src = new FakeDataSource(dm, ds, 2);
  FakeForm* form = new FakeForm(&root, true);
  FakeForm* hidden = new FakeForm(&root, false);
  TInterestingInspector inspector;

  Rig() {
    dm->SetName("DM");
    session->SetName("S1");
    conn->SetName("Conn");
    tr->SetName("Tr");
    stmt->SetName("Stmt");
    ds->SetName("Ds");
    form->SetName("Form1");
    conn->SetDatabaseName("srv:C:\\Data\\Main.fdb");
    conn->SetUsername("SYSDBA");
    tr->SetIB_Connection(conn);
    stmt->SetIB_Connection(conn);
    stmt->SetIB_Transaction(tr);
    ds->SetIB_Connection(conn);
    ds->SetIB_Transaction(tr);
    for (TComponent* c : std::initializer_list<TComponent*>{form, hidden, dm, session, conn, tr,
                                                            stmt, ds, src}) {
      inspector.AddComponent(c);
    }
  }
};

TEST(StatusItems, CategoriesFollowTheComponentKind) {
  Rig rig;
  struct Case {
    TComponent* c;
    const char* category;
  };
  const Case cases[] = {
      {rig.form, "[ Forms ]"},          {rig.dm, "[ DataModules ]"},
      {rig.conn, "[ Connections ]"},    {rig.tr, "[ Transactions ]"},
      {rig.stmt, "[ Statements ]"},     {rig.ds, "[ Statements ]"},
      {rig.src, "[ DataSources ]"},
  };
  for (const Case& c : cases) {
    auto item = TInterestingInspector::CreateItem(&rig.inspector, c.c);
    ASSERT_NE(item, nullptr) << c.category;
    EXPECT_EQ(item->GetCategory(), c.category);
  }
  EXPECT_EQ(TInterestingInspector::CreateItem(&rig.inspector, rig.session), nullptr);
  EXPECT_EQ(TInterestingItem(&rig.inspector, rig.conn).GetCategory(), "[?]");
}

TEST(StatusItems, BaseLinesNameClassOwnerAndSession) {
  TComponent owner(nullptr);
  owner.SetName("Owner1");
  auto* conn = new TIB_Connection(&owner);
  TInterestingConnection item(nullptr, conn);
  item.FillDetails();
  std::vector<std::string> lines = Lines(item.Details());
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Name=  (TIB_Connection)");
  EXPECT_EQ(lines[1], "Class=TIB_Connection  (Instance=" + HexOf(conn) + ")");
  EXPECT_EQ(lines[2], "Owner=Owner1: TComponent");
  // Describing it did not make it search for a session.
  EXPECT_EQ(lines[3], "Session=_nil_ ");
  EXPECT_EQ(conn->AssignedSession(), nullptr);

  TIB_Session session(nullptr);
  conn->SetIB_Session(&session);
  conn->SetName("Conn");
  item.FillDetails();
  lines = Lines(item.Details());
  EXPECT_EQ(lines[0], "Name=Conn");
  EXPECT_EQ(lines[3], "Session=" + HexOf(&session) + " (_unnamed_)");
  session.SetName("S1");
  item.FillDetails();
  EXPECT_EQ(Lines(item.Details())[3], "Session=" + HexOf(&session) + " (S1)");
  conn->SetIB_Session(nullptr);

  TComponent plain(nullptr);
  TInterestingItem ownerless(nullptr, &plain);
  ownerless.FillDetails();
  EXPECT_EQ(Lines(ownerless.Details())[2], "Owner=_nil_ ");
  EXPECT_EQ(Lines(ownerless.Details()).size(), 3u);
  TInterestingItem none(nullptr, nullptr);
  none.FillDetails();
  EXPECT_EQ(Lines(none.Details()), (std::vector<std::string>{"Name=_nil_ "}));
}

TEST(StatusItems, ConnectionTransactionStatementAndDataSourceDetails) {
  Rig rig;
  auto details = [&rig](TComponent* c) {
    TInterestingItem* item = rig.inspector.AddItem(c);
    item->FillDetails();
    std::vector<std::string> all = Lines(item->Details());
    return std::vector<std::string>(all.begin() + 4, all.end());  // past the base lines
  };
  const std::string page_size = std::to_string(rig.conn->GetPageSize());
  const std::string sweep = std::to_string(rig.conn->GetSweepInterval());
  EXPECT_EQ(details(rig.conn),
            (std::vector<std::string>{"Connected=False", "Server=srv", "Path=C:\\Data\\Main.fdb",
                                      "Protocol=TCP/IP", "Username=SYSDBA", "Version=4.8.7",
                                      "Page Size=" + page_size, "Sweep Interval=" + sweep,
                                      "Transactions=1 (Active=0)  OAT=",
                                      "Datasets=1 (Active=1)  Max_Buffer=120",
                                      "Statements=1 (Active=0)"}));
  EXPECT_EQ(details(rig.tr),
            (std::vector<std::string>{"Started=False", "Isolation=Read-Committed",
                                      "Post Pending Count=0", "Paused=False",
                                      "Pause Disabled=False", "AutoCommit=False",
                                      TransactionStateText(rig.tr->State()),
                                      "Time Active=", "Connections=1 (Active=0)",
                                      "Datasets=1 (Active=1)  Max_Buffer=120",
                                      "Statements=1 (Active=0)"}));
  EXPECT_EQ(details(rig.stmt),
            (std::vector<std::string>{"Active=False", "Prepared=False", "Statement Handle=0",
                                      "Connection=Conn", "Transaction=Tr", "Buffer=0",
                                      "DataSources=0"}));
  EXPECT_EQ(details(rig.ds),
            (std::vector<std::string>{"Active=True", "Prepared=False", "Statement Handle=0",
                                      "Connection=Conn", "Transaction=Tr", "Buffer=120",
                                      "State=Browse", "DataSources=1"}));
  TInterestingItem* src = rig.inspector.AddItem(rig.src);
  src->FillDetails();
  std::vector<std::string> lines = Lines(src->Details());
  EXPECT_EQ(lines[0], "Name=  (FakeDataSource)");
  EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
            (std::vector<std::string>{"Dataset=Ds", "Data Links=2"}));
}

TEST(StatusItems, SummaryCountsAllOrOneOwnersComponents) {
  SetNowSource([] { return EncodeDate(2008, 5, 6) + EncodeTime(7, 8, 9, 0); });
  Rig rig;
  TInterestingItem* item = rig.inspector.AddItem(rig.form);
  item->AddSummary(nullptr);
  const std::string refresh = "Last Refresh=" + DateTimeToStr(Now());
  std::vector<std::string> lines = Lines(item->Details());
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 9),
            (std::vector<std::string>{
                "Connections=1 (Active=0)", "Transactions=1 (Active=0)  OAT=",
                "Datasets=1 (Active=1)  Max_Buffer=120", "Statements=1 (Active=0)",
                "DataSources=1 (Data Links=2)", "Forms=2 (Visible=1)", "DataModules=1", refresh,
                "- - - - -=- - - - -"}));
  EXPECT_EQ(lines[9].rfind("Default Session=", 0), 0u) << lines[9];
  EXPECT_EQ(lines[10].rfind("Session Connections=", 0), 0u);
  EXPECT_EQ(lines[13].rfind("Session Statements=", 0), 0u);
  EXPECT_EQ(lines[15].rfind("Session Data Links=", 0), 0u);

  // The data module's own summary, in its details: only what it owns.
  TInterestingItem* dm = rig.inspector.AddItem(rig.dm);
  dm->FillDetails();
  lines = Lines(dm->Details());
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()),
            (std::vector<std::string>{"Connections=1 (Active=0)", "Transactions=1 (Active=0)  OAT=",
                                      "Datasets=1 (Active=1)  Max_Buffer=120",
                                      "Statements=1 (Active=0)", "DataSources=1 (Data Links=2)",
                                      refresh}));
  // The form owns nothing.
  TInterestingItem* form = rig.inspector.AddItem(rig.form);
  form->FillDetails();
  lines = Lines(form->Details());
  EXPECT_EQ(lines[3], "Connections=0 (Active=0)");
  EXPECT_EQ(lines.back(), refresh);
  SetNowSource({});
}

// The summary's session part reads the session's lists: statements less datasets.
TEST(StatusItems, SummaryShowsTheDefaultSessionsListSizes) {
  TComponent owner(nullptr);
  auto* conn = new TIB_Connection(&owner);
  auto* stmt = new TIB_DSQL(&owner);
  auto* ds = new FakeDataset(&owner, false, 0, 0);
  TIB_Session* s = GetDefaultSession();
  conn->SetIB_Session(s);
  stmt->SetIB_Session(s);
  ds->SetIB_Session(s);
  TInterestingInspector inspector;
  TInterestingItem item(&inspector, nullptr);
  item.AddSummary(nullptr);
  std::vector<std::string> lines = Lines(item.Details());
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines[9], "Default Session=" + HexOf(s) + " (REZ_DefaultSession)");
  const std::string sizes[] = {
      "Session Connections=" + std::to_string(s->ConnectionList().size()),
      "Session Transactions=" + std::to_string(s->TransactionList().size()),
      "Session Datasets=" + std::to_string(s->DatasetList().size()),
      "Session Statements=" +
          std::to_string(s->StatementList().size() - s->DatasetList().size()),
      "Session DataSources=" + std::to_string(s->DataSourceList().size()),
      "Session Data Links=" + std::to_string(s->DataLinkList().size())};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(lines[10 + i], sizes[i]);
  EXPECT_EQ(lines[10], "Session Connections=1");
}

TEST(StatusItems, TreeHasOneHeaderPerCategoryAndForgetsComponentsThatGo) {
  Rig rig;
  rig.inspector.Refresh();
  TInterestingNode& root = rig.inspector.Root();
  std::vector<std::string> headers;
  for (auto& n : root.Children) headers.push_back(n->Text);
  EXPECT_EQ(headers, (std::vector<std::string>{"[ Forms ]", "[ DataModules ]", "[ Connections ]",
                                               "[ Transactions ]", "[ Statements ]",
                                               "[ DataSources ]"}));
  auto texts = [](const TInterestingNode& n) {
    std::vector<std::string> r;
    for (auto& c : n.Children) r.push_back(c->Text);
    return r;
  };
  EXPECT_EQ(texts(*root.Children[0]), (std::vector<std::string>{"Form1", "  (FakeForm)"}));
  ASSERT_EQ(root.Children[2]->Children.size(), 1u);
  const TInterestingNode& conn = *root.Children[2]->Children[0];
  EXPECT_EQ(conn.Text, "Conn");
  EXPECT_EQ(texts(conn), (std::vector<std::string>{"Tr", "Stmt", "Ds"}));
  EXPECT_GT(conn.Item->Details()->Count(), 4);
  const TInterestingNode& ds = *root.Children[4]->Children[1];
  EXPECT_EQ(texts(ds), (std::vector<std::string>{"Conn", "Tr", "  (FakeDataSource)"}));
  EXPECT_EQ(texts(*root.Children[5]->Children[0]), (std::vector<std::string>{"Ds"}));

  // A component that goes takes its items with it, also where it is only a child.
  delete rig.tr;
  EXPECT_EQ(texts(conn), (std::vector<std::string>{"Stmt", "Ds"}));
  EXPECT_TRUE(root.Children[3]->Children.empty());
  rig.inspector.Refresh();
  EXPECT_EQ(rig.inspector.Known().size(), 8u);
}

}  // namespace
}  // namespace pelvar
