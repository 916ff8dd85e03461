#include "platform/classes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "support/process.h"

namespace pelvar {
namespace {

std::vector<AnsiString> Lines(const TStrings& s) {
  std::vector<AnsiString> out;
  for (int32_t i = 0; i < s.Count(); ++i) out.push_back(s.Get(i));
  return out;
}

void Fill(TStrings& s, const std::vector<AnsiString>& lines) {
  s.Clear();
  for (const auto& l : lines) s.Add(l);
}

// ---------------------------------------------------------------------------
// A list that records its notifications, as owning lists derived from TList do.
class RecordingList : public TList {
 public:
  ~RecordingList() override { Clear(); }
  std::vector<std::pair<void*, TListNotification>> log;

 protected:
  void Notify(void* ptr, TListNotification action) override { log.emplace_back(ptr, action); }
};

TEST(TListTest, EditsNotifyAndCheckIndexes) {
  int a = 1, b = 2, c = 3;
  RecordingList list;
  EXPECT_EQ(list.Add(&a), 0);
  EXPECT_EQ(list.Add(nullptr), 1);
  list.Insert(0, &b);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.IndexOf(&a), 1);
  EXPECT_EQ(list.First(), &b);
  EXPECT_EQ(list.Last(), nullptr);
  list.Pack();
  EXPECT_EQ(list.Count(), 2);
  list.Add(&c);
  list.Move(2, 0);  // c b a
  EXPECT_EQ(list.Items(0), &c);
  EXPECT_EQ(list.Items(2), &a);
  list.Exchange(0, 2);  // a b c
  EXPECT_EQ(list.Items(0), &a);
  EXPECT_EQ(list.Extract(&b), &b);
  EXPECT_EQ(list.Extract(&b), nullptr);
  EXPECT_EQ(list.Remove(&c), 1);
  EXPECT_EQ(list.Remove(&c), -1);
  list.Put(0, &c);

  std::vector<std::pair<void*, TListNotification>> expected = {
      {&a, lnAdded}, {&b, lnAdded},     {&c, lnAdded}, {&b, lnExtracted},
      {&c, lnDeleted}, {&a, lnDeleted}, {&c, lnAdded}};
  EXPECT_EQ(list.log, expected);

  try {
    list.Get(5);
    FAIL() << "no exception";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (5)");
  }
  EXPECT_THROW(list.Delete(-1), EListError);
  EXPECT_THROW(list.Insert(3, &a), EListError);
  EXPECT_THROW(list.SetCapacity(0), EListError);
  list.log.clear();
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.log.size(), 1u);  // the one remaining item is reported deleted
}

TEST(TListTest, GrowsSortsAndResizes) {
  TList list;
  std::vector<int> values = {5, 3, 9, 1, 7};
  for (int& v : values) list.Add(&v);
  EXPECT_GE(list.Capacity(), 5);
  list.Sort([](void* x, void* y) { return *static_cast<int*>(x) - *static_cast<int*>(y); });
  const std::vector<int> sorted = {1, 3, 5, 7, 9};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(*static_cast<int*>(list.Items(i)), sorted[i]);
  list.SetCount(7);
  EXPECT_EQ(list.Items(6), nullptr);
  list.SetCount(2);
  EXPECT_EQ(list.Count(), 2);
  TList copy;
  copy.Assign(list);
  EXPECT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.Items(1), list.Items(1));
}

// ---------------------------------------------------------------------------
TEST(TStringsText, SplitsAtEveryLineBreakAndJoinsWithCrLf) {
  struct Case {
    AnsiString text;
    std::vector<AnsiString> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\nb\rc\r\n\r\nd", {"a", "b", "c", "", "d"}},
      {"\r\n", {""}},
      {"a\n\rb", {"a", "", "b"}},  // LF then CR: two breaks
  };
  for (const auto& c : cases) {
    TStringList list;
    list.SetText(c.text);
    EXPECT_EQ(Lines(list), c.lines) << c.text;
  }
  TStringList list;
  Fill(list, {"x", "", "y"});
  EXPECT_EQ(list.Text(), "x\r\n\r\ny\r\n");
}

TEST(TStringsCommaText, QuotesWhatNeedsQuoting) {
  struct Case {
    std::vector<AnsiString> lines;
    AnsiString text;
  };
  const Case cases[] = {
      {{}, ""},
      {{""}, "\"\""},
      {{"a", "b"}, "a,b"},
      {{"a b"}, "\"a b\""},
      {{"x,y", "z"}, "\"x,y\",z"},
      {{"he said \"hi\""}, "\"he said \"\"hi\"\"\""},
      {{"a", "", "b"}, "a,,b"},
      {{"tab\there"}, "\"tab\there\""},
      {{AnsiString("nul\0inside", 10)}, AnsiString("\"nul\0inside\"", 12)},
      {{CZ("Žluťoučký"), CZ("kůň")}, CZ("Žluťoučký,kůň")},
  };
  for (const auto& c : cases) {
    TStringList list;
    Fill(list, c.lines);
    EXPECT_EQ(list.CommaText(), c.text);
    // And back: the text gives the same lines.
    TStringList back;
    back.SetCommaText(c.text);
    EXPECT_EQ(Lines(back), c.lines) << c.text;
  }
}

TEST(TStringsCommaText, ParsesBlanksQuotesAndEmptyItems) {
  struct Case {
    AnsiString text;
    std::vector<AnsiString> lines;
  };
  const Case cases[] = {
      {"a, b ,c", {"a", "b", "c"}},
      {"a b", {"a", "b"}},  // a blank separates items too
      {"  \"a b\" , c", {"a b", "c"}},
      {"\"x\"\"y\"", {"x\"y"}},
      {"a,", {"a", ""}},
      {",a", {"", "a"}},
      {"\"unterminated, rest", {"unterminated, rest"}},
      {"\"a\"b", {"a", "b"}},
      {AnsiString("a\0b", 3), {"a", "b"}},
      {AnsiString("\"a\0b\"", 6), {AnsiString("a\0b", 3)}},
  };
  for (const auto& c : cases) {
    TStringList list;
    list.Add("old");
    list.SetCommaText(c.text);
    EXPECT_EQ(Lines(list), c.lines) << c.text;
  }
}

TEST(TStringsDelimitedText, UsesDelimiterQuoteCharAndStrictness) {
  TStringList list;
  list.SetDelimiter(';');
  list.SetQuoteChar('\'');
  Fill(list, {"a b", "it's", "c,d", "e"});
  EXPECT_EQ(list.DelimitedText(), "'a b';'it''s';c,d;e");
  list.SetDelimitedText("x y;'q''s';z");
  EXPECT_EQ(Lines(list), (std::vector<AnsiString>{"x", "y", "q's", "z"}));

  list.SetStrictDelimiter(true);
  list.SetDelimitedText(" x y ; z");
  EXPECT_EQ(Lines(list), (std::vector<AnsiString>{" x y ", " z"}));
  EXPECT_EQ(list.DelimitedText(), " x y ; z");
  // CommaText keeps its own delimiter and quote whatever the list's are.
  EXPECT_EQ(list.CommaText(), "\" x y \",\" z\"");
}

// ---------------------------------------------------------------------------
TEST(TStringsValues, NamesValuesAndEmptyValueDeletes) {
  TStringList list;
  Fill(list, {"Server=localhost", "no separator", "Path=C:\\a=b", CZ("Žluťoučký=kůň")});
  EXPECT_EQ(list.Values("server"), "localhost");
  EXPECT_EQ(list.Values("Path"), "C:\\a=b");  // only the first '=' separates
  EXPECT_EQ(list.Values(CZ("ŽLUŤOUČKÝ")), CZ("kůň"));
  EXPECT_EQ(list.IndexOfName(CZ("žluťoučký")), 3);
  EXPECT_EQ(list.Values("missing"), "");
  EXPECT_EQ(list.Values("no separator"), "");
  EXPECT_EQ(list.Names(1), "");
  EXPECT_EQ(list.ValueFromIndex(1), "");
  EXPECT_EQ(list.Names(2), "Path");

  list.SetValue("SERVER", "remote");  // replaces in place, keeps the stored name
  EXPECT_EQ(list.Get(0), "Server=remote");
  list.SetValue("User", "SYSDBA");
  EXPECT_EQ(list.Get(4), "User=SYSDBA");
  list.SetValue("Server", "");
  EXPECT_EQ(list.IndexOfName("Server"), -1);
  EXPECT_EQ(list.Count(), 4);
  list.SetValue("missing", "");  // deleting what is not there is no change
  EXPECT_EQ(list.Count(), 4);

  list.SetValueFromIndex(1, "v");
  EXPECT_EQ(list.Get(1), "Path=v");

  TStringList colon;
  colon.SetNameValueSeparator(':');
  colon.Add("a:1");
  EXPECT_EQ(colon.Values("a"), "1");
}

// ---------------------------------------------------------------------------
TEST(TStringListSorted, DuplicatesFollowTheirSetting) {
  struct Case {
    TDuplicates duplicates;
    int32_t expected_count;
    bool raises;
  };
  const Case cases[] = {{dupIgnore, 3, false}, {dupAccept, 4, false}, {dupError, 3, true}};
  for (const auto& c : cases) {
    TStringList list;
    list.SetSorted(true);
    list.SetDuplicates(c.duplicates);
    list.Add("pear");
    list.Add("apple");
    list.Add("fig");
    if (c.raises) {
      EXPECT_THROW(list.Add("APPLE"), EStringListError);
    } else {
      int32_t i = list.Add("APPLE");  // the same string for a case-insensitive list
      EXPECT_EQ(list.Get(i).size(), 5u);
      EXPECT_EQ(i, 0);
    }
    EXPECT_EQ(list.Count(), c.expected_count);
    EXPECT_EQ(list.Get(c.expected_count - 1), "pear");
  }
}

TEST(TStringListSorted, FindUsesTheListsOwnComparison) {
  TStringList list;
  list.SetDuplicates(dupAccept);
  Fill(list, {"d", CZ("č"), "c", "B", "a", CZ("Č"), "b"});
  list.SetSorted(true);
  // Case-insensitive, Czech letters in their place: č after c, before d.
  ASSERT_EQ(list.Count(), 7);
  EXPECT_EQ(AnsiUpperCase(list.Get(0)), "A");
  EXPECT_EQ(AnsiUpperCase(list.Get(1)), "B");
  EXPECT_EQ(AnsiUpperCase(list.Get(2)), "B");
  EXPECT_EQ(list.Get(3), "c");
  EXPECT_EQ(AnsiUpperCase(list.Get(4)), CZ("Č"));
  EXPECT_EQ(list.Get(6), "d");

  int32_t index = -1;
  EXPECT_TRUE(list.Find("b", index));
  EXPECT_EQ(index, 1);  // the first of the equal ones
  EXPECT_TRUE(list.Find(CZ("č"), index));
  EXPECT_EQ(index, 4);
  EXPECT_FALSE(list.Find("bb", index));
  EXPECT_EQ(index, 3);  // where it would go
  EXPECT_FALSE(list.Find("zz", index));
  EXPECT_EQ(index, 7);
  EXPECT_EQ(list.IndexOf("D"), 6);

  // Case-sensitive: the order changes and Find follows it.
  list.SetCaseSensitive(true);
  for (int32_t i = 1; i < list.Count(); ++i)
    EXPECT_LE(AnsiCompareStr(list.Get(i - 1), list.Get(i)), 0) << i;
  EXPECT_TRUE(list.Find("B", index));
  EXPECT_EQ(list.Get(index), "B");
  EXPECT_FALSE(list.Find("D", index));
  EXPECT_EQ(list.IndexOf("D"), -1);
}

TEST(TStringListSorted, RefusesPositionalEditsButKeepsLines) {
  TStringList list;
  list.SetSorted(true);
  list.Add("b");
  list.Add("a");
  EXPECT_THROW(list.Insert(0, "c"), EStringListError);
  EXPECT_THROW(list.Put(0, "c"), EStringListError);
  EXPECT_THROW(list.Move(0, 1), EStringListError);
  EXPECT_EQ(Lines(list), (std::vector<AnsiString>{"a", "b"}));

  // Values on a sorted list keeps it sorted.
  list.SetValue("m", "1");
  list.SetValue("a", "2");  // a line "a=2", separate from "a"
  list.SetValue("m", "0");
  EXPECT_EQ(Lines(list), (std::vector<AnsiString>{"a", "a=2", "b", "m=0"}));
}

TEST(TStringListSort, CustomSortAndUnsortedIndexOf) {
  TStringList list;
  Fill(list, {"10", "9", "100", "1"});
  EXPECT_EQ(list.IndexOf("9"), 1);
  list.CustomSort([](TStringList* l, int32_t a, int32_t b) {
    return static_cast<int>(std::stoi(l->Get(a)) - std::stoi(l->Get(b)));
  });
  EXPECT_EQ(Lines(list), (std::vector<AnsiString>{"1", "9", "10", "100"}));
  list.Sort();
  EXPECT_EQ(Lines(list), (std::vector<AnsiString>{"1", "10", "100", "9"}));
  EXPECT_FALSE(list.Sorted());
}

// ---------------------------------------------------------------------------
TEST(TStringListEvents, ChangeEventsAndUpdateBrackets) {
  TStringList list;
  std::vector<std::string> log;
  list.OnChanging = [&](TObject* sender) {
    EXPECT_EQ(sender, &list);
    log.push_back("changing");
  };
  list.OnChange = [&](TObject*) { log.push_back("change"); };

  list.Add("a");
  EXPECT_EQ(log, (std::vector<std::string>{"changing", "change"}));
  log.clear();

  list.BeginUpdate();
  list.BeginUpdate();
  list.Add("b");
  list.Delete(0);
  list.EndUpdate();
  EXPECT_EQ(log, (std::vector<std::string>{"changing"}));
  list.EndUpdate();
  EXPECT_EQ(log, (std::vector<std::string>{"changing", "change"}));
  log.clear();

  list.SetText("x\r\ny\r\n");  // one bracket around the whole replacement
  EXPECT_EQ(log, (std::vector<std::string>{"changing", "change"}));
  log.clear();
  list.Clear();
  list.Clear();  // an empty list does not change
  EXPECT_EQ(log.size(), 2u);
}

// ---------------------------------------------------------------------------
class Tagged : public TObject {};

TEST(TStringsAssign, CopiesStringsAndObjects) {
  Tagged t1, t2;
  TStringList source;
  source.AddObject("one", &t1);
  source.AddObject("two", &t2);
  TStringList dest;
  dest.Add("old");
  dest.Assign(&source);
  EXPECT_EQ(Lines(dest), (std::vector<AnsiString>{"one", "two"}));
  EXPECT_EQ(dest.Objects(1), &t2);
  EXPECT_EQ(dest.IndexOfObject(&t1), 0);
  EXPECT_TRUE(dest.Equals(&source));
  dest.Assign(&dest);
  EXPECT_EQ(dest.Count(), 2);
  dest.AddStrings(&dest);  // adding a list to itself doubles it
  EXPECT_EQ(dest.Count(), 4);
  EXPECT_FALSE(dest.Equals(&source));

  class Other : public TPersistent {} other;
  try {
    dest.Assign(&other);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a Other to a TStringList");
  }
  EXPECT_THROW(dest.Assign(nullptr), EConvertError);
}

TEST(TStringsMove, MovesAndExchangesWithObjects) {
  Tagged t;
  TStringList list;
  Fill(list, {"a", "b", "c"});
  list.PutObject(0, &t);
  list.Move(0, 2);
  EXPECT_EQ(Lines(list), (std::vector<AnsiString>{"b", "c", "a"}));
  EXPECT_EQ(list.Objects(2), &t);
  list.Exchange(0, 2);
  EXPECT_EQ(Lines(list), (std::vector<AnsiString>{"a", "c", "b"}));
  EXPECT_EQ(list.Objects(0), &t);
  EXPECT_THROW(list.Move(0, 3), EStringListError);
  EXPECT_EQ(list.Count(), 3);  // nothing lost
}

TEST(TStringsStreams, SaveAndLoadThroughStreamsAndFiles) {
  TStringList list;
  Fill(list, {CZ("Příliš žluťoučký kůň"), "", "end"});
  TStringStream stream;
  list.SaveToStream(stream);
  EXPECT_EQ(stream.DataString(), CZ("Příliš žluťoučký kůň\r\n\r\nend\r\n"));

  TStringStream input("skip|a\nb");
  input.SetPosition(5);  // loads from the current position
  TStringList loaded;
  loaded.LoadFromStream(input);
  EXPECT_EQ(Lines(loaded), (std::vector<AnsiString>{"a", "b"}));

  test::TempDir dir;
  AnsiString file = CZ(dir.Path() + "/seznam.txt");
  list.SaveToFile(file);
  EXPECT_EQ(test::ReadFile(dir.Path() + "/seznam.txt"), list.Text());
  TStringList from_file;
  from_file.LoadFromFile(file);
  EXPECT_TRUE(from_file.Equals(&list));
  EXPECT_THROW(from_file.LoadFromFile(file + ".missing"), EFOpenError);
}

// ---------------------------------------------------------------------------
// A component that counts its destruction and holds a reference to another component.
class Probe : public TComponent {
 public:
  explicit Probe(TComponent* owner, int* destroyed = nullptr) : TComponent(owner), destroyed_(destroyed) {}
  ~Probe() override {
    if (destroyed_) ++*destroyed_;
  }
  void SetPeer(TComponent* peer) {
    if (peer_) peer_->RemoveFreeNotification(this);
    peer_ = peer;
    if (peer_) peer_->FreeNotification(this);
  }
  TComponent* Peer() const { return peer_; }
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == opRemove && c == peer_) peer_ = nullptr;
    if (op == opRemove) removed.push_back(c);
    if (op == opInsert) inserted.push_back(c);
  }
  std::vector<TComponent*> removed;
  std::vector<TComponent*> inserted;

 private:
  int* destroyed_;
  TComponent* peer_ = nullptr;
};

TEST(TComponentTest, OwnerDestroysOwnedAndNotificationClearsReferences) {
  int destroyed = 0;
  Probe watcher(nullptr);
  auto owner = std::make_unique<Probe>(nullptr, &destroyed);
  auto* child = new Probe(owner.get(), &destroyed);
  auto* grandchild = new Probe(child, &destroyed);
  EXPECT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(child->Owner(), owner.get());
  EXPECT_EQ(owner->inserted, std::vector<TComponent*>{child});

  watcher.SetPeer(grandchild);
  EXPECT_TRUE(grandchild->ComponentState().Contains(csFreeNotification));
  owner.reset();
  EXPECT_EQ(destroyed, 3);
  EXPECT_EQ(watcher.Peer(), nullptr);
  EXPECT_EQ(watcher.removed, std::vector<TComponent*>{grandchild});
}

TEST(TComponentTest, DeletingAnOwnedComponentTellsOwnerAndSiblings) {
  Probe owner(nullptr);
  auto* a = new Probe(&owner);
  auto* b = new Probe(&owner);
  b->SetPeer(a);  // same owner: no link needed, the owner passes the news on
  delete a;
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), b);
  EXPECT_EQ(b->Peer(), nullptr);
  EXPECT_EQ(owner.removed, std::vector<TComponent*>{a});
}

TEST(TComponentTest, LinksWorkBothWaysAndCanBeRemoved) {
  auto x = std::make_unique<Probe>(nullptr);
  auto y = std::make_unique<Probe>(nullptr);
  x->SetPeer(y.get());
  y->SetPeer(x.get());  // the link exists already; either end's death is reported
  x.reset();
  EXPECT_EQ(y->Peer(), nullptr);
  auto z = std::make_unique<Probe>(nullptr);
  y->SetPeer(z.get());
  y->SetPeer(nullptr);  // removes the link both ways
  z.reset();
  EXPECT_TRUE(y->removed.size() == 1u);  // only x's death was reported
  y.reset();  // z is gone and y holds no link to it (ASan would see a use after free)
}

// A Notification override that forgets the base call must not leave a dangling link.
class Forgetful : public TComponent {
 public:
  using TComponent::TComponent;
  void Notification(TComponent*, TOperation) override {}
};

TEST(TComponentTest, OverrideWithoutBaseCallLeavesNoDanglingLink) {
  auto f = std::make_unique<Forgetful>(nullptr);
  auto target = std::make_unique<TComponent>(nullptr);
  target->FreeNotification(f.get());
  target.reset();
  f.reset();  // would notify the freed target if the link had survived
  SUCCEED();
}

class StateRecorder : public TComponent {
 public:
  StateRecorder(TComponent* owner, TComponentState* seen) : TComponent(owner), seen_(seen) {}
  ~StateRecorder() override { *seen_ = ComponentState(); }
  void Loaded() override {
    TComponent::Loaded();
    loaded = true;
  }
  bool loaded = false;

 private:
  TComponentState* seen_;
};

TEST(TComponentTest, StateFlagsDuringLoadingAndDestruction) {
  TComponentState seen;
  auto owner = std::make_unique<TComponent>(nullptr);
  auto* child = new StateRecorder(owner.get(), &seen);
  child->BeginLoading();
  EXPECT_TRUE(child->ComponentState().Contains(csLoading));
  child->EndLoading();
  EXPECT_TRUE(child->loaded);
  EXPECT_FALSE(child->ComponentState().Contains(csLoading));
  EXPECT_FALSE(child->ComponentState().Contains(csReading));
  owner->SetDesigning(true);
  EXPECT_TRUE(child->ComponentState().Contains(csDesigning));
  owner.reset();
  EXPECT_TRUE(seen.Contains(csDestroying));
}

TEST(TComponentTest, NamesAreIdentifiersUniqueWithinTheOwner) {
  TComponent owner(nullptr);
  auto* a = new TComponent(&owner);
  auto* b = new TComponent(&owner);
  a->SetName("Connection1");
  EXPECT_EQ(owner.FindComponent("CONNECTION1"), a);
  EXPECT_EQ(owner.FindComponent(""), nullptr);
  EXPECT_THROW(b->SetName("connection1"), EComponentError);
  EXPECT_THROW(b->SetName("1abc"), EComponentError);
  EXPECT_THROW(b->SetName("a b"), EComponentError);
  a->SetName("CONNECTION1");  // the same name in another case is a rename of itself
  b->SetName("_Transaction2");
  EXPECT_EQ(b->Name(), "_Transaction2");
  EXPECT_EQ(b->ComponentIndex(), 1);
  b->SetComponentIndex(0);
  EXPECT_EQ(owner.Components(0), b);

  // Moving a component to another owner takes it out of the first.
  TComponent other(nullptr);
  other.InsertComponent(a);
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(a->Owner(), &other);
  auto* clash = new TComponent(&owner);
  clash->SetName("Connection1");
  EXPECT_THROW(owner.InsertComponent(a), EComponentError);
  EXPECT_EQ(a->Owner(), &other);
}

// ---------------------------------------------------------------------------
class Field : public TCollectionItem {
 public:
  using TCollectionItem::TCollectionItem;
  AnsiString name;
  void Assign(TPersistent* source) override {
    if (auto* f = dynamic_cast<Field*>(source)) {
      name = f->name;
      return;
    }
    TCollectionItem::Assign(source);
  }
};

class Fields : public TCollection {
 public:
  Fields() : TCollection(ItemClass<Field>()) {}
  std::vector<TCollectionItem*> updates;
  Field* At(int32_t i) const { return static_cast<Field*>(Items(i)); }

 protected:
  void Update(TCollectionItem* item) override { updates.push_back(item); }
};

TEST(TCollectionTest, ItemsIdsOrderAndAssign) {
  Fields fields;
  auto* a = static_cast<Field*>(fields.Add());
  auto* b = static_cast<Field*>(fields.Add());
  a->name = "A";
  b->name = "B";
  EXPECT_EQ(a->ID(), 0);
  EXPECT_EQ(b->ID(), 1);
  EXPECT_EQ(b->Index(), 1);
  auto* c = static_cast<Field*>(fields.Insert(0));
  c->name = "C";
  EXPECT_EQ(fields.At(0), c);
  EXPECT_EQ(c->ID(), 2);
  EXPECT_EQ(fields.FindItemID(1), b);
  fields.Delete(1);  // a
  EXPECT_EQ(fields.Count(), 2);
  EXPECT_EQ(fields.FindItemID(0), nullptr);
  delete b;  // an item deleted directly leaves its collection
  EXPECT_EQ(fields.Count(), 1);
  EXPECT_EQ(c->GetNamePath(), "Fields[0]");

  fields.updates.clear();
  Fields copy;
  copy.Add();
  copy.Assign(&fields);
  ASSERT_EQ(copy.Count(), 1);
  EXPECT_EQ(copy.At(0)->name, "C");
  EXPECT_EQ(copy.updates.size(), 2u);  // Add, then one for the whole Assign
  EXPECT_EQ(copy.updates.back(), nullptr);

  c->SetCollection(&copy);
  EXPECT_EQ(fields.Count(), 0);
  EXPECT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.At(1), c);
  fields.Add();
  fields.Clear();
  EXPECT_EQ(fields.Count(), 0);
}

TEST(TEnumSetTest, IncludesExcludesAndCombines) {
  TComponentState s{csLoading, csReading};
  EXPECT_TRUE(s.Contains(csReading));
  s.Exclude(csReading).Include(csDesigning);
  EXPECT_EQ(s, (TComponentState{csLoading, csDesigning}));
  EXPECT_EQ(s - TComponentState{csLoading}, TComponentState{csDesigning});
  EXPECT_TRUE((s * TComponentState{csWriting}).Empty());
}

}  // namespace
}  // namespace pelvar
