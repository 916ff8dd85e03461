#include "dbclient/IB_StatusItems.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "dbclient/IB_Components.h"
#include "dbclient/IB_Session.h"
#include "dbengine/IB_Components_statement.h"
#include "platform/dateutils.h"
#include "platform/oslayer.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

AnsiString Bool(bool v) { return v ? "True" : "False"; }

// An address as "$" and at least 8 hex digits (all of them on a 64-bit system).
AnsiString Hex(const void* p) {
  return "$" + IntToHex(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)), 8);
}

// The name of a referenced component: "_nil_ " without one, "_unnamed_" without a name.
AnsiString RefName(const TComponent* c) {
  if (c == nullptr) return "_nil_ ";
  return c->Name().empty() ? AnsiString("_unnamed_") : c->Name();
}

// The name of a described component: its name, or two blanks and its class name in
// parentheses; "_nil_ " without one.
AnsiString DisplayName(const TComponent* c) {
  if (c == nullptr) return "_nil_ ";
  return c->Name().empty() ? "  (" + c->ClassName() + ")" : c->Name();
}

AnsiString Count(const AnsiString& label, int32_t n, const AnsiString& sub, int32_t m) {
  return label + "=" + IntToStr(n) + " (" + sub + "=" + IntToStr(m) + ")";
}

// What the summary and the per-component counts gather.
struct Tally {
  int32_t forms = 0, visible_forms = 0, data_modules = 0;
  int32_t connections = 0, connected = 0;
  int32_t transactions = 0, started = 0;
  double oldest = 0;
  int32_t datasets = 0, active_datasets = 0, max_buffer = 0;
  int32_t statements = 0, active_statements = 0;
  int32_t data_sources = 0, data_links = 0;

  void Transaction(const TIB_Transaction* t) {
    if (t == nullptr) return;
    ++transactions;
    if (t->GetStarted()) ++started;
    oldest = std::max(oldest, t->GetTimeActive());
  }
  void Connection(const TIB_Connection* c) {
    if (c == nullptr) return;
    ++connections;
    if (c->GetConnected()) ++connected;
  }
  void Statement(const TComponent* c) {
    if (const auto* ds = dynamic_cast<const IB_StatusDataset*>(c)) {
      ++datasets;
      if (ds->StatusActive()) ++active_datasets;
      max_buffer = std::max(max_buffer, ds->StatusBufferCount());
      return;
    }
    if (const auto* s = dynamic_cast<const TIB_Statement*>(c)) {
      ++statements;
      if (s->Active()) ++active_statements;
    }
  }
  void Any(TComponent* c) {
    if (const auto* f = dynamic_cast<const IB_StatusForm*>(c)) {
      ++forms;
      if (f->StatusVisible()) ++visible_forms;
    } else if (dynamic_cast<const IB_StatusDataModule*>(c) != nullptr) {
      ++data_modules;
    } else if (const auto* conn = dynamic_cast<const TIB_Connection*>(c)) {
      Connection(conn);
    } else if (const auto* tr = dynamic_cast<const TIB_Transaction*>(c)) {
      Transaction(tr);
    } else if (const auto* src = dynamic_cast<const IB_StatusDataSource*>(c)) {
      ++data_sources;
      data_links += src->StatusDataLinkCount();
    } else {
      Statement(c);
    }
  }

  AnsiString ConnectionsLine() const {
    return Count("Connections", connections, "Active", connected);
  }
  AnsiString TransactionsLine() const {
    return Count("Transactions", transactions, "Active", started) + "  OAT=" +
           FormatDuration(oldest);
  }
  AnsiString DatasetsLine() const {
    return Count("Datasets", datasets, "Active", active_datasets) +
           "  Max_Buffer=" + IntToStr(max_buffer);
  }
  AnsiString StatementsLine() const {
    return Count("Statements", statements, "Active", active_statements);
  }
  AnsiString DataSourcesLine() const {
    return Count("DataSources", data_sources, "Data Links", data_links);
  }
};

// A dataset may stand on a component's dataset list and on its statement list: it is
// counted once.
void AddOnce(std::vector<TComponent*>& list, TComponent* c) {
  if (c != nullptr && std::find(list.begin(), list.end(), c) == list.end()) list.push_back(c);
}

const char* DatasetStateText(int32_t state) {
  static const char* const kStates[] = {"Inactive", "Prepared", "Search", "Browse",
                                        "Edit",     "Insert",   "Delete"};
  return state >= 0 && state < 7 ? kStates[state] : "Unknown";
}

// The thread's default session, when it has one; never makes one.
TIB_Session* PeekDefaultSession() {
  const uint32_t slot = DefaultSessionSlot();
  if (slot == TLS_OUT_OF_INDEXES) return nullptr;
  return static_cast<TIB_Session*>(TlsGetValue(slot));
}

}  // namespace

AnsiString FormatDuration(double Days) {
  if (!(Days > 0)) return "";
  // Whole seconds; the small allowance keeps 1/24 day from reading as 0:59:59.
  const auto total = static_cast<int64_t>(std::floor(Days * 86400.0 + 1e-6));
  const int64_t days = total / 86400;
  const int64_t rest = total % 86400;
  AnsiString s = days > 0 ? IntToStr(days) + "+" : AnsiString();
  return s + IntToStr(rest / 3600) + ":" + IntToStr(rest / 60 % 60) + ":" + IntToStr(rest % 60);
}

TInterestingNode* TInterestingNode::AddChild(const AnsiString& text) {
  Children.push_back(std::make_unique<TInterestingNode>());
  TInterestingNode* n = Children.back().get();
  n->Text = text;
  n->Parent = this;
  return n;
}

// --- Base item ------------------------------------------------------------------------------

TInterestingItem::TInterestingItem(TInterestingInspector* Inspector, TComponent* Component)
    : inspector_(Inspector), component_(Component) {}

AnsiString TInterestingItem::GetCategory() { return "[?]"; }

void TInterestingItem::AddChildItems() {}

void TInterestingItem::Add(const AnsiString& Name, const AnsiString& Value) {
  details_.Add(Name + "=" + Value);
}

void TInterestingItem::AddChild(TComponent* C) {
  if (C != nullptr && inspector_ != nullptr && node_ != nullptr) inspector_->AddItem(C, node_);
}

void TInterestingItem::FillDetails() {
  details_.Clear();
  TComponent* c = component_;
  Add("Name", DisplayName(c));
  if (c == nullptr) return;
  Add("Class", c->ClassName() + "  (Instance=" + Hex(c) + ")");
  TComponent* owner = c->Owner();
  Add("Owner", owner == nullptr ? AnsiString("_nil_ ") : owner->Name() + ": " + owner->ClassName());
  if (auto* ib = dynamic_cast<TIB_Component*>(c)) {
    // The assigned session only: describing a component must not make it search.
    TIB_Session* s = ib->AssignedSession();
    Add("Session", s == nullptr ? AnsiString("_nil_ ") : Hex(s) + " (" + RefName(s) + ")");
  }
}

void TInterestingItem::AddSummary(TComponent* Owner) {
  Tally t;
  if (inspector_ != nullptr) {
    for (TComponent* c : inspector_->Known()) {
      if (Owner == nullptr || c->Owner() == Owner) t.Any(c);
    }
  }
  details_.Add(t.ConnectionsLine());
  details_.Add(t.TransactionsLine());
  details_.Add(t.DatasetsLine());
  details_.Add(t.StatementsLine());
  details_.Add(t.DataSourcesLine());
  if (Owner == nullptr) {
    details_.Add(Count("Forms", t.forms, "Visible", t.visible_forms));
    Add("DataModules", IntToStr(t.data_modules));
  }
  Add("Last Refresh", DateTimeToStr(Now()));
  if (Owner != nullptr) return;
  details_.Add("- - - - -=- - - - -");
  TIB_Session* s = PeekDefaultSession();
  Add("Default Session", s == nullptr ? AnsiString("_nil_ ") : Hex(s) + " (" + RefName(s) + ")");
  auto size = [s](auto member) {
    return s == nullptr ? 0 : static_cast<int32_t>((s->*member)().size());
  };
  Add("Session Connections", IntToStr(size(&TIB_Session::ConnectionList)));
  Add("Session Transactions", IntToStr(size(&TIB_Session::TransactionList)));
  Add("Session Datasets", IntToStr(size(&TIB_Session::DatasetList)));
  Add("Session Statements",
      IntToStr(size(&TIB_Session::StatementList) - size(&TIB_Session::DatasetList)));
  Add("Session DataSources", IntToStr(size(&TIB_Session::DataSourceList)));
  Add("Session Data Links", IntToStr(size(&TIB_Session::DataLinkList)));
}

// --- Forms and data modules --------------------------------------------------------------------

AnsiString TInterestingForm::GetCategory() { return "[ Forms ]"; }

void TInterestingForm::AddChildItems() {
  if (component_ == nullptr) return;
  for (int32_t i = 0; i < component_->ComponentCount(); ++i) AddChild(component_->Components(i));
}

void TInterestingForm::FillDetails() {
  TInterestingItem::FillDetails();
  if (component_ != nullptr) AddSummary(component_);
}

AnsiString TInterestingDataModule::GetCategory() { return "[ DataModules ]"; }

void TInterestingDataModule::AddChildItems() {
  if (component_ == nullptr) return;
  for (int32_t i = 0; i < component_->ComponentCount(); ++i) AddChild(component_->Components(i));
}

void TInterestingDataModule::FillDetails() {
  TInterestingItem::FillDetails();
  if (component_ != nullptr) AddSummary(component_);
}

// --- Connection -----------------------------------------------------------------------------

AnsiString TInterestingConnection::GetCategory() { return "[ Connections ]"; }

void TInterestingConnection::AddChildItems() {
  auto* c = dynamic_cast<TIB_Connection*>(component_);
  if (c == nullptr) return;
  for (int32_t i = 0; i < c->TransactionCount(); ++i) AddChild(c->GetTransaction(i));
  for (int32_t i = 0; i < c->StatementCount(); ++i) AddChild(c->GetStatement(i));
  for (int32_t i = 0; i < c->DatasetCount(); ++i) AddChild(c->GetDataset(i));
}

void TInterestingConnection::FillDetails() {
  TInterestingItem::FillDetails();
  auto* c = dynamic_cast<TIB_Connection*>(component_);
  if (c == nullptr) return;
  Add("Connected", Bool(c->GetConnected()));
  Add("Server", c->Server());
  Add("Path", c->Path());
  switch (c->GetProtocol()) {
    case cpLocal: Add("Protocol", "Local"); break;
    case cpNetBEUI: Add("Protocol", "NetBEUI"); break;
    case cpTCP_IP: Add("Protocol", "TCP/IP"); break;
    case cpNovell: Add("Protocol", "Novell"); break;
    default: Add("Protocol", "Unknown"); break;
  }
  Add("Username", c->Username());
  Add("Version", c->Version());
  Add("Page Size", IntToStr(c->GetPageSize()));
  Add("Sweep Interval", IntToStr(c->GetSweepInterval()));
  Tally t;
  for (int32_t i = 0; i < c->TransactionCount(); ++i) t.Transaction(c->GetTransaction(i));
  std::vector<TComponent*> users;
  for (int32_t i = 0; i < c->DatasetCount(); ++i) AddOnce(users, c->GetDataset(i));
  for (int32_t i = 0; i < c->StatementCount(); ++i) AddOnce(users, c->GetStatement(i));
  for (TComponent* u : users) t.Statement(u);
  details_.Add(t.TransactionsLine());
  details_.Add(t.DatasetsLine());
  details_.Add(t.StatementsLine());
}

// --- Transaction ------------------------------------------------------------------------------

AnsiString TInterestingTransaction::GetCategory() { return "[ Transactions ]"; }

void TInterestingTransaction::AddChildItems() {
  auto* t = dynamic_cast<TIB_Transaction*>(component_);
  if (t == nullptr) return;
  for (int32_t i = 0; i < t->Get_ConnectionCount(); ++i) AddChild(t->GetConnection(i));
  for (int32_t i = 0; i < t->Get_StatementCount(); ++i) AddChild(t->GetStatement(i));
  for (int32_t i = 0; i < t->Get_DatasetCount(); ++i) {
    if (IB_TransactionDataset* ds = t->GetDataset(i)) AddChild(ds->DatasetComponent());
  }
}

void TInterestingTransaction::FillDetails() {
  TInterestingItem::FillDetails();
  auto* t = dynamic_cast<TIB_Transaction*>(component_);
  if (t == nullptr) return;
  Add("Started", Bool(t->GetStarted()));
  switch (t->Isolation()) {
    case tiCommitted: Add("Isolation", "Read-Committed"); break;
    case tiConcurrency: Add("Isolation", "Concurrency/Snapshot"); break;
    case tiConsistency: Add("Isolation", "Consistency/Exclusive"); break;
    default: Add("Isolation", "Unknown"); break;
  }
  Add("Post Pending Count", IntToStr(t->PostPendingCount()));
  // Nothing in this system pauses a transaction.
  Add("Paused", Bool(false));
  Add("Pause Disabled", Bool(false));
  Add("AutoCommit", Bool(t->GetAutoCommit()));
  details_.Add(TransactionStateText(t->State()));
  Add("Time Active", FormatDuration(t->GetTimeActive()));
  Tally tally;
  for (int32_t i = 0; i < t->Get_ConnectionCount(); ++i) tally.Connection(t->GetConnection(i));
  std::vector<TComponent*> users;
  for (int32_t i = 0; i < t->Get_DatasetCount(); ++i) {
    if (IB_TransactionDataset* ds = t->GetDataset(i)) AddOnce(users, ds->DatasetComponent());
  }
  for (int32_t i = 0; i < t->Get_StatementCount(); ++i) AddOnce(users, t->GetStatement(i));
  for (TComponent* u : users) tally.Statement(u);
  details_.Add(tally.ConnectionsLine());
  details_.Add(tally.DatasetsLine());
  details_.Add(tally.StatementsLine());
}

// --- Statement ----------------------------------------------------------------------------------

namespace {

// The data sources known to the inspector whose dataset is C.
std::vector<TComponent*> DataSourcesOf(TInterestingInspector* inspector, const TComponent* c) {
  std::vector<TComponent*> r;
  if (inspector == nullptr || c == nullptr) return r;
  for (TComponent* k : inspector->Known()) {
    auto* src = dynamic_cast<IB_StatusDataSource*>(k);
    if (src != nullptr && src->StatusDataset() == c) {
      r.push_back(k);
    }
  }
  return r;
}

}  // namespace

AnsiString TInterestingStatement::GetCategory() { return "[ Statements ]"; }

void TInterestingStatement::AddChildItems() {
  auto* s = dynamic_cast<TIB_Statement*>(component_);
  if (s == nullptr) return;
  AddChild(s->IB_Connection());
  AddChild(s->IB_Transaction());
  for (TComponent* src : DataSourcesOf(inspector_, component_)) AddChild(src);
}

void TInterestingStatement::FillDetails() {
  TInterestingItem::FillDetails();
  auto* s = dynamic_cast<TIB_Statement*>(component_);
  if (s == nullptr) return;
  const auto* ds = dynamic_cast<const IB_StatusDataset*>(component_);
  Add("Active", Bool(ds != nullptr ? ds->StatusActive() : s->Active()));
  Add("Prepared", Bool(s->Prepared()));
  Add("Statement Handle", IntToStr(static_cast<uint64_t>(s->StmtHandle())));
  Add("Connection", RefName(s->IB_Connection()));
  Add("Transaction", RefName(s->IB_Transaction()));
  Add("Buffer", IntToStr(ds != nullptr ? ds->StatusBufferCount() : 0));
  if (ds != nullptr) Add("State", DatasetStateText(ds->StatusState()));
  Add("DataSources", IntToStr(static_cast<int32_t>(DataSourcesOf(inspector_, component_).size())));
}

// --- Data source ------------------------------------------------------------------------------

AnsiString TInterestingDataSource::GetCategory() { return "[ DataSources ]"; }

void TInterestingDataSource::AddChildItems() {
  if (const auto* src = dynamic_cast<const IB_StatusDataSource*>(component_)) {
    AddChild(src->StatusDataset());
  }
}

void TInterestingDataSource::FillDetails() {
  TInterestingItem::FillDetails();
  const auto* src = dynamic_cast<const IB_StatusDataSource*>(component_);
  if (src == nullptr) return;
  Add("Dataset", RefName(src->StatusDataset()));
  Add("Data Links", IntToStr(src->StatusDataLinkCount()));
}

// --- Inspector ----------------------------------------------------------------------------------

TInterestingInspector::TInterestingInspector(TComponent* Owner) : TComponent(Owner) {}

TInterestingInspector::~TInterestingInspector() {
  root_.Children.clear();
  for (TComponent* c : watched_) c->RemoveFreeNotification(this);
  watched_.clear();
  known_.clear();
}

void TInterestingInspector::Watch(TComponent* C) {
  if (std::find(watched_.begin(), watched_.end(), C) != watched_.end()) return;
  watched_.push_back(C);
  C->FreeNotification(this);
}

void TInterestingInspector::AddComponent(TComponent* C) {
  if (C == nullptr || std::find(known_.begin(), known_.end(), C) != known_.end()) return;
  known_.push_back(C);
  Watch(C);
}

void TInterestingInspector::RemoveComponent(TComponent* C) {
  auto it = std::find(known_.begin(), known_.end(), C);
  if (it == known_.end()) return;
  known_.erase(it);
  Forget(root_, C);
}

std::unique_ptr<TInterestingItem> TInterestingInspector::CreateItem(
    TInterestingInspector* Inspector, TComponent* C) {
  if (dynamic_cast<IB_StatusForm*>(C) != nullptr) {
    return std::make_unique<TInterestingForm>(Inspector, C);
  }
  if (dynamic_cast<IB_StatusDataModule*>(C) != nullptr) {
    return std::make_unique<TInterestingDataModule>(Inspector, C);
  }
  if (dynamic_cast<TIB_Connection*>(C) != nullptr) {
    return std::make_unique<TInterestingConnection>(Inspector, C);
  }
  if (dynamic_cast<TIB_Transaction*>(C) != nullptr) {
    return std::make_unique<TInterestingTransaction>(Inspector, C);
  }
  if (dynamic_cast<TIB_Statement*>(C) != nullptr) {
    return std::make_unique<TInterestingStatement>(Inspector, C);
  }
  if (dynamic_cast<IB_StatusDataSource*>(C) != nullptr) {
    return std::make_unique<TInterestingDataSource>(Inspector, C);
  }
  return nullptr;
}

TInterestingItem* TInterestingInspector::AddItem(TComponent* C, TInterestingNode* Parent) {
  std::unique_ptr<TInterestingItem> item = CreateItem(this, C);
  if (!item) return nullptr;
  // Items may describe components the inspector does not list: each is watched, so that
  // its items go with it.
  Watch(C);
  TInterestingNode* node = (Parent != nullptr ? Parent : &root_)->AddChild(DisplayName(C));
  item->node_ = node;
  node->Item = std::move(item);
  return node->Item.get();
}

void TInterestingInspector::Refresh() {
  root_.Children.clear();
  static const char* const kCategories[] = {"[ Forms ]",        "[ DataModules ]",
                                            "[ Connections ]",  "[ Transactions ]",
                                            "[ Statements ]",   "[ DataSources ]"};
  for (const char* category : kCategories) {
    TInterestingNode* header = root_.AddChild(category);
    for (TComponent* c : known_) {
      std::unique_ptr<TInterestingItem> probe = CreateItem(this, c);
      if (!probe || probe->GetCategory() != category) continue;
      if (TInterestingItem* item = AddItem(c, header)) {
        item->AddChildItems();
        item->FillDetails();
      }
    }
  }
}

void TInterestingInspector::Forget(TInterestingNode& Node, TComponent* C) {
  auto& kids = Node.Children;
  kids.erase(std::remove_if(kids.begin(), kids.end(),
                            [C](const std::unique_ptr<TInterestingNode>& n) {
                              return n->Item && n->Item->Component() == C;
                            }),
             kids.end());
  for (auto& n : kids) Forget(*n, C);
}

void TInterestingInspector::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  auto it = std::find(known_.begin(), known_.end(), AComponent);
  if (it != known_.end()) known_.erase(it);
  auto w = std::find(watched_.begin(), watched_.end(), AComponent);
  if (w != watched_.end()) watched_.erase(w);
  Forget(root_, AComponent);
}

}  // namespace pelvar
