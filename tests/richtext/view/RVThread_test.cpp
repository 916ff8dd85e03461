// Live spelling over a real document: the walk stepped by hand (words in item order,
// into sub-documents in their order and back, a web address skipped, apostrophes, marks
// and repaints, rechecking from an edited word), and the real worker thread: it marks the
// same words through the GUI thread's queue, and Stop always leaves it parked, delaying
// or not, so that the document can be changed. This file also runs under ThreadSanitizer.
#include "richtext/view/RVThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

using viewtest::TTestDoc;

// The spelling handler: every word goes into a list (the worker calls it); the words in
// Bad are misspelt.
class TTestHost : public TRVSpellingHost {
 public:
  explicit TTestHost(TCustomRVData* root) : root_(root) {}
  std::vector<std::string> Bad;
  TCustomRVData* SpellingRootData() override { return root_; }
  bool IsSpellingCheckAssigned() override { return true; }
  void DoSpellingCheck(const AnsiString& word, int32_t style_no, bool& misspelled) override {
    std::lock_guard g(mu_);
    words_.push_back(word);
    styles_.push_back(style_no);
    for (const auto& b : Bad)
      if (b == word) misspelled = true;
  }
  std::vector<std::string> Words() {
    std::lock_guard g(mu_);
    return words_;
  }
  std::vector<int32_t> Styles() {
    std::lock_guard g(mu_);
    return styles_;
  }
  void ClearWords() {
    std::lock_guard g(mu_);
    words_.clear();
  }

 private:
  TCustomRVData* root_;
  std::mutex mu_;
  std::vector<std::string> words_;
  std::vector<int32_t> styles_;
};

// An item with sub-documents (the shape of a table: cells walked in order, each a document
// whose parent is the item's document).
class TCellLocation : public TRVStoreSubRVData {
 public:
  explicit TCellLocation(int32_t index) : Index(index) {}
  int32_t Index;
  std::unique_ptr<TRVStoreSubRVData> Duplicate() const override { return std::make_unique<TCellLocation>(Index); }
  int32_t Compare(const TRVStoreSubRVData* other) const override {
    return Index - static_cast<const TCellLocation*>(other)->Index;
  }
};

class TCellsItem;
class TCellDoc : public TCustomRVData {
 public:
  TCellDoc(TCustomRVData* host, TCellsItem* owner, int32_t index) : host_(host), owner_(owner), index_(index) {}
  TCustomRVData* GetParentData() override { return host_; }
  TCustomRVData* GetAbsoluteParentData() override { return host_; }
  TCustomRVData* GetRootData() override { return host_->GetRootData(); }
  TCustomRVData* GetAbsoluteRootData() override { return host_->GetAbsoluteRootData(); }
  void GetParentInfo(int32_t& parent_item_no, std::unique_ptr<TRVStoreSubRVData>& location) override;

 private:
  TCustomRVData* host_;
  TCellsItem* owner_;
  int32_t index_;
};

class TCellsItem : public TRVNonTextItemInfo {
 public:
  TCellsItem(TCustomRVData* host, int32_t count) : TRVNonTextItemInfo(host), host_(host) {
    StyleNo = rvsTable;
    for (int32_t i = 0; i < count; ++i) Cells.push_back(std::make_unique<TCellDoc>(host, this, i));
  }
  std::vector<std::unique_ptr<TCellDoc>> Cells;
  TCustomRVData* GetSubRVData(std::unique_ptr<TRVStoreSubRVData>& state, TRVSubRVDataPos position) override {
    int32_t at = -1;
    if (position == rvdFirst)
      at = 0;
    else if (position == rvdNext && state)
      at = static_cast<TCellLocation*>(state.get())->Index + 1;
    if (at < 0 || at >= static_cast<int32_t>(Cells.size())) {
      state.reset();
      return nullptr;
    }
    state = std::make_unique<TCellLocation>(at);
    return Cells[static_cast<size_t>(at)].get();
  }
  TCustomRVData* Host() const { return host_; }

 private:
  TCustomRVData* host_;
};

void TCellDoc::GetParentInfo(int32_t& parent_item_no, std::unique_ptr<TRVStoreSubRVData>& location) {
  parent_item_no = host_->GetItemNo(owner_);
  location = std::make_unique<TCellLocation>(index_);
}

class LiveSpellingTest : public ::testing::Test {
 protected:
  LiveSpellingTest() : doc(&style, 400), host(&doc) {
    doc.SetDelimiters(" .;,:(){}\"/\\<>!?[]-+*=");
    host.Bad = {"wrold", "teh", "celll"};
  }
  // Steps until the walk is over (a bounded number of steps).
  int32_t Walk(TRVWordEnumThread& t) {
    int32_t steps = 0;
    while (t.Step() && steps < 10000) ++steps;
    return steps;
  }
  static std::vector<std::pair<int32_t, int32_t>> Marks(TCustomRVItemInfo* item) {
    std::vector<std::pair<int32_t, int32_t>> r;
    if (auto* l = item->WordPaintList())
      for (const auto& p : *l) r.emplace_back(p->StartOffs, p->Length);
    return r;
  }
  TRVStyle style{nullptr};
  TTestDoc doc;
  TTestHost host;
};

TEST_F(LiveSpellingTest, HandSteppedWalkChecksItemsAndCellsInOrderAndSkipsAWebAddress) {
  doc.AddText("Hello wrold,", 0, 0);
  doc.AddText("www.example.com/teh", 4, 0);  // a hyperlink style holding a web address
  doc.AddText("'don't' teh", 0, 0);
  auto* cells = new TCellsItem(&doc, 2);
  cells->Cells[0]->AddTextItem("first celll", 0, 0);
  cells->Cells[1]->AddTextItem("second", 1, 0);
  cells->Cells[1]->AddTextItem("cell", 0, 0);
  doc.AddItem("", cells);
  doc.AddText("after", 0, 0);
  // The address item had marks from an earlier walk: they go.
  doc.GetItem(1)->AddMisspelling(1, 3);

  TRVWordEnumThread t(false);
  t.SetControl(&host);
  t.Resume();
  Walk(t);
  EXPECT_EQ(host.Words(), (std::vector<std::string>{"Hello", "wrold", "don't", "teh", "first", "celll", "second",
                                                    "cell", "after"}));
  EXPECT_EQ(host.Styles()[6], 1);
  EXPECT_TRUE(t.Suspended());
  EXPECT_EQ(t.CurData(), &doc);
  EXPECT_EQ(t.CurItem(), doc.ItemCount());
  using M = std::vector<std::pair<int32_t, int32_t>>;
  EXPECT_EQ(Marks(doc.GetItem(0)), (M{{7, 5}}));
  EXPECT_EQ(Marks(doc.GetItem(1)), M{});
  EXPECT_EQ(Marks(doc.GetItem(2)), (M{{9, 3}}));
  EXPECT_EQ(Marks(cells->Cells[0]->GetItem(0)), (M{{7, 5}}));
  for (int32_t i : {0, 1, 2, 4}) EXPECT_TRUE(doc.GetItem(i)->ItemState.Contains(rvisSpellChecked)) << i;

  // Checked items are passed over on the next walk: only the item whose result was cleared
  // is asked about again.
  host.ClearWords();
  doc.GetItem(2)->ClearLiveSpellingResult();
  t.SetControl(&host);
  t.Resume();
  Walk(t);
  EXPECT_EQ(host.Words(), (std::vector<std::string>{"don't", "teh"}));
}

TEST_F(LiveSpellingTest, AMisspeltWordIsRepaintedOnItsDrawItems) {
  doc.AddText("one wrold two", 0, 0);
  doc.Format();
  TRVWordEnumThread t(false);
  t.SetControl(&host);
  t.Resume();
  Walk(t);
  ASSERT_EQ(doc.Invalidated.size(), 1u);
  // The draw item grown by 3 pixels.
  TRVDrawLineInfo* d = doc.DrawLines[0];
  EXPECT_EQ(doc.Invalidated[0], (TRect{d->Left - 3, d->Top - 3, d->Left + d->Width + 3, d->Top + d->Height + 3}));
}

TEST_F(LiveSpellingTest, AnEditedWordIsCheckedAgainFromItsFirstCharacter) {
  doc.AddText("Hello wrold", 0, 0);
  doc.AddText("tail", 0, 0);
  TRVWordEnumThread t(false);
  t.SetControl(&host);
  t.Resume();
  Walk(t);
  host.ClearWords();
  // The caret edited inside "wrold" (offset 9), which removed the item's marks, and moved
  // away.
  t.Stop(true);
  doc.GetItem(0)->ClearLiveSpellingResult();
  t.SetPending(&doc, 1, 3);
  t.SetPending(&doc, 0, 9);  // the earlier position wins
  t.SetPending(&doc, 1, 1);
  t.RunDelayed();
  EXPECT_TRUE(t.DelayMode());
  Walk(t);
  EXPECT_EQ(host.Words(), (std::vector<std::string>{"wrold"}));
  EXPECT_EQ(Marks(doc.GetItem(0)), (std::vector<std::pair<int32_t, int32_t>>{{7, 5}}));

  // A modified word after the walk position: the walk goes back to its item.
  host.ClearWords();
  t.SetWordModified(true);
  t.Stop(true);
  t.ContinueAfterEdit(&doc, 0);
  EXPECT_FALSE(t.WordModified());
  EXPECT_EQ(t.CurItem(), 0);
  EXPECT_TRUE(Marks(doc.GetItem(0)).empty());
  t.RunDelayed();
  Walk(t);
  EXPECT_EQ(host.Words(), (std::vector<std::string>{"Hello", "wrold"}));
  EXPECT_EQ(Marks(doc.GetItem(0)).size(), 1u);
}

TEST_F(LiveSpellingTest, DeletingTheCellBeingCheckedRestartsFromTheTop) {
  auto* cells = new TCellsItem(&doc, 1);
  cells->Cells[0]->AddTextItem("a b c", 0, 0);
  doc.AddText("x", 0, 0);
  doc.AddItem("", cells);
  TRVWordEnumThread t(false);
  t.SetControl(&host);
  t.Resume();
  while (t.CurData() == &doc) ASSERT_TRUE(t.Step());
  t.Stop(false);
  t.NotifyCellDeleted(cells->Cells[0].get());
  t.RunDelayed();
  EXPECT_EQ(t.CurData(), &doc);
  EXPECT_EQ(t.CurItem(), 0);
}

TEST_F(LiveSpellingTest, AThreadStoppedAndResumedWalksAgain) {
  doc.AddText("a b", 0, 0);
  doc.AddText("c teh", 0, 0);
  TRVWordEnumThread t(false);
  t.SetControl(&host);
  t.Resume();
  ASSERT_TRUE(t.Step());
  t.Stop(false);
  EXPECT_EQ(t.RunState(), rvwsStopAcknowledged);
  EXPECT_FALSE(t.Step());
  // A control that starts live spelling again stops the thread, binds it and resumes it.
  t.SetControl(&host);
  t.Resume();
  EXPECT_EQ(t.RunState(), rvwsRunning);
  Walk(t);
  EXPECT_EQ(host.Words(), (std::vector<std::string>{"a", "a", "b", "c", "teh"}));
}

// ---- The worker thread ----------------------------------------------------------------------------

// Runs the GUI thread's queue until cond holds (at most about 20 seconds).
template <typename F>
bool PumpUntil(F cond) {
  for (int i = 0; i < 20000; ++i) {
    Application()->ProcessMessages();
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

TEST_F(LiveSpellingTest, TheWorkerMarksWordsThroughTheGuiThreadAndStopsInEveryMode) {
  for (int i = 0; i < 300; ++i) doc.AddText("alpha wrold beta teh gamma", 0, 0);
  TRVWordEnumThread t;
  t.SetControl(&host);
  t.Resume();
  // Stopped while walking: parked, the walk position does not move while the GUI thread
  // changes the document.
  ASSERT_TRUE(PumpUntil([&] { return host.Words().size() > 20; }));
  t.Stop(false);
  EXPECT_EQ(t.RunState(), rvwsStopAcknowledged);
  const int32_t at = t.CurItem();
  const size_t asked = host.Words().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Application()->ProcessMessages();
  EXPECT_EQ(t.CurItem(), at);
  EXPECT_EQ(host.Words().size(), asked);
  doc.AddText("zeta teh", 0, 0);

  // Stopped while delaying after an edit: it waits for the worker too.
  t.RunDelayed();
  t.Stop(false);
  EXPECT_EQ(t.RunState(), rvwsStopAcknowledged);
  EXPECT_TRUE(t.DelayMode());

  t.RunDelayed();
  ASSERT_TRUE(PumpUntil([&] { return t.Suspended(); }));
  for (int32_t i = 0; i < doc.ItemCount() - 1; ++i) {
    ASSERT_EQ(Marks(doc.GetItem(i)).size(), 2u) << i;
    ASSERT_TRUE(doc.GetItem(i)->ItemState.Contains(rvisSpellChecked));
  }
  EXPECT_EQ(Marks(doc.GetItem(doc.ItemCount() - 1)), (std::vector<std::pair<int32_t, int32_t>>{{6, 3}}));

  // A stop of a thread that suspended itself returns at once; a resumed thread walks again.
  t.Stop(true);
  doc.GetItem(0)->ClearLiveSpellingResult();
  t.SetControl(&host);
  t.Resume();
  ASSERT_TRUE(PumpUntil([&] { return t.Suspended(); }));
  EXPECT_EQ(Marks(doc.GetItem(0)).size(), 2u);
}

TEST_F(LiveSpellingTest, FinishEndsAWorkerThatWaitsOnTheGuiThread) {
  for (int i = 0; i < 200; ++i) doc.AddText("wrold teh", 0, 0);
  {
    TRVWordEnumThread t;
    t.SetControl(&host);
    t.Resume();
    ASSERT_TRUE(PumpUntil([&] { return !host.Words().empty(); }));
    // No message loop runs now: the worker is stuck on a synchronized call until Finish
    // runs it.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    t.Finish();
    EXPECT_EQ(t.RunState(), rvwsFinished);
  }
  // What was queued for the dead thread's window is dropped.
  Application()->ProcessMessages();
  EXPECT_FALSE(host.Words().empty());
}

}  // namespace
}  // namespace pelvar
