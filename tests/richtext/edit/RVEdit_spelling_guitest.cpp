// Live spelling driven by the editor: a typed character, a removed character, a deleted
// selection, Enter and style changes tell the thread what to check again; the thread is
// stopped before the document changes (for every command, undo and redo included) and goes
// on after the change notification. The walk is stepped by hand, except in the last test,
// where the real worker checks the document while keys edit it (this file also runs under
// ThreadSanitizer).
#include "richtext/edit/RVEdit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/beep.h"
#include "richtext/edit/RVTable.h"
#include "richtext/view/RVThread.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

using Marks = std::vector<std::pair<int32_t, int32_t>>;

// The test font, with a probe that runs whenever the document is measured (formatting after
// a change): it sees the thread's state in the middle of every change.
class TProbeFont : public viewtest::TTestFont {
 public:
  std::function<void()> Probe;
  std::vector<int32_t> GetAdvances(const TFont& font, std::u16string_view text) override {
    if (Probe) Probe();
    return viewtest::TTestFont::GetAdvances(font, text);
  }
};

class EditorSpellingTest : public viewtest::TQtSuite {
 protected:

  void SetUp() override {
    previous_sink_ = SetBeepSink([](uint32_t) {});
    previous_class_ = RVWordEnumThreadClass;
    RVWordEnumThreadClass = [] { return std::make_unique<TRVWordEnumThread>(false); };
    while (style.TextStyles()->Count() < 2) style.TextStyles()->Add();
    style.TextStyles()->Items(1)->Style.Include(fsBold);
  }
  void TearDown() override {
    if (editor) editor->StopLiveSpelling();
    editor.reset();
    RVWordEnumThreadClass = previous_class_;
    SetBeepSink(std::move(previous_sink_));
  }

  // An editor over the paragraphs whose spelling handler marks the words in bad_.
  TDocViewEdit& Make(const std::vector<std::string>& paras) {
    editor = std::make_unique<TDocViewEdit>();
    font = std::make_shared<TProbeFont>();
    editor->SetTextMetrics(font);
    editor->SetStyle(&style);
    editor->resize(400, 300);
    editor->HandleNeeded();
    for (const auto& p : paras) editor->RVData->AddTextItem(p, 0, 0);
    editor->Format();
    editor->OnSpellingCheck = [this](TCustomDocView*, const AnsiString& word, int32_t, bool& misspelled) {
      std::lock_guard g(mu_);
      asked_.push_back(word);
      misspelled = bad_.count(word) > 0;
    };
    return *editor;
  }
  TRVWordEnumThread& Thread() { return *editor->WordEnumThread; }
  // Steps the hand-driven walk until it is over.
  void Walk() {
    for (int i = 0; i < 10000 && Thread().Step(); ++i) {
    }
  }
  Marks MarksOf(int32_t item_no) {
    Marks r;
    if (auto* l = editor->RVData->GetItem(item_no)->WordPaintList())
      for (const auto& p : *l) r.emplace_back(p->StartOffs, p->Length);
    std::sort(r.begin(), r.end());
    return r;
  }
  std::vector<std::string> Asked() {
    std::lock_guard g(mu_);
    return asked_;
  }
  void ClearAsked() {
    std::lock_guard g(mu_);
    asked_.clear();
  }

  TRVStyle style{nullptr};
  std::shared_ptr<TProbeFont> font;
  std::unique_ptr<TDocViewEdit> editor;
  std::set<std::string> bad_ = {"wrold", "teh", "worldd"};
  std::mutex mu_;
  std::vector<std::string> asked_;
  TBeepSink previous_sink_;
  TRVWordEnumThreadFactory previous_class_;
};

TEST_F(EditorSpellingTest, TheFirstChangeStartsLiveSpellingInAnEditor) {
  TDocViewEdit& e = Make({"hello wrold"});
  EXPECT_EQ(e.LiveSpellingMode, rvlspOnChange);
  EXPECT_EQ(e.WordEnumThread, nullptr);
  e.EditData()->SetCaretAt(0, 12);
  e.EditKeyPress("s");
  ASSERT_NE(e.WordEnumThread, nullptr);
  Walk();
  EXPECT_EQ(Asked(), (std::vector<std::string>{"hello", "wrolds"}));

  // A viewer's mode waits for the program to start it.
  TDocViewEdit& m = Make({"hello wrold"});
  m.LiveSpellingMode = rvlspManualStart;
  m.EditData()->SetCaretAt(0, 1);
  m.EditKeyPress("x");
  EXPECT_EQ(m.WordEnumThread, nullptr);
}

TEST_F(EditorSpellingTest, TheWalkChecksTableCellsInOrder) {
  TDocViewEdit& e = Make({"before wrold"});
  auto* table = new TRVTableItemInfo(e.RVData.get(), 2, 2);
  const char* texts[2][2] = {{"first celll", "second"}, {"third", "fourth teh"}};
  for (int32_t r = 0; r < 2; ++r)
    for (int32_t c = 0; c < 2; ++c) {
      TRVTableCellData* cell = table->GetCells(r, c);
      cell->Clear();
      cell->AddTextItem(texts[r][c], 0, 0);
    }
  e.RVData->AddItem("", table);
  e.RVData->AddTextItem("after", 0, 0);
  e.Format();
  bad_ = {"wrold", "celll", "teh"};
  e.StartLiveSpelling();
  Walk();
  EXPECT_EQ(Asked(), (std::vector<std::string>{"before", "wrold", "first", "celll", "second", "third", "fourth",
                                               "teh", "after"}));
  Marks cell_marks;
  if (auto* l = table->GetCells(0, 0)->GetItem(0)->WordPaintList())
    for (const auto& p : *l) cell_marks.emplace_back(p->StartOffs, p->Length);
  EXPECT_EQ(cell_marks, (Marks{{7, 5}}));  // offsets count from 1
}

TEST_F(EditorSpellingTest, TypingRechecksTheEditedWord) {
  TDocViewEdit& e = Make({"hello wrold", "teh world end"});
  e.StartLiveSpelling();
  Walk();
  ASSERT_EQ(MarksOf(0), (Marks{{7, 5}}));
  ASSERT_EQ(MarksOf(1), (Marks{{1, 3}}));

  // A character typed into a marked word removes the mark; the word is checked again after
  // the typing delay, the words still marked elsewhere are not asked again.
  ClearAsked();
  e.EditData()->SetCaretAt(0, 12);
  e.EditKeyPress("s");
  EXPECT_EQ(MarksOf(0), Marks{});
  EXPECT_TRUE(Thread().DelayMode());
  Walk();
  EXPECT_EQ(Asked(), (std::vector<std::string>{"hello", "wrolds"}));
  EXPECT_EQ(MarksOf(0), Marks{});
  EXPECT_EQ(MarksOf(1), (Marks{{1, 3}}));

  // A character typed into an unmarked word is checked when the caret leaves the word.
  ClearAsked();
  e.EditData()->SetCaretAt(1, 10);
  e.EditKeyPress("d");
  EXPECT_TRUE(Thread().WordModified());
  Walk();
  EXPECT_EQ(Asked(), std::vector<std::string>{});
  e.EditKeyDown(Qt::Key_Right, 0);
  EXPECT_FALSE(Thread().WordModified());
  Walk();
  EXPECT_EQ(Asked(), (std::vector<std::string>{"worldd", "end"}));
  EXPECT_EQ(MarksOf(1), (Marks{{1, 3}, {5, 6}}));

  // A delimiter typed inside a marked word splits it: both halves are checked.
  ClearAsked();
  e.EditData()->SetCaretAt(1, 3);
  e.EditKeyPress(" ");
  Walk();
  EXPECT_EQ(Asked(), (std::vector<std::string>{"te", "h", "end"}));
  EXPECT_EQ(MarksOf(1), (Marks{{6, 6}}));
}

// The walk went back to an edit in an early paragraph; a later paragraph it had checked on
// an earlier pass is edited before the walk reaches it again: the new words are checked
// all the same, and the marks already there keep to their words. (With the real worker this
// order of events depends on timing; here it is forced.)
TEST_F(EditorSpellingTest, AnEditAheadOfTheWalkIsCheckedWhenTheWalkComesBack) {
  struct Case {
    const char* name;
    std::function<void(TDocViewEdit&)> edit;
    std::string text;
    Marks marks;
  };
  const std::vector<Case> cases = {
      {"a word typed at the end",
       [](TDocViewEdit& e) {
         e.EditData()->SetCaretAt(1, 15);
         for (const char* k : {" ", "t", "e", "h"}) e.EditKeyPress(k);
         e.EditKeyDown(Qt::Key_Left, 0);
       },
       "alpha teh beta teh", {{7, 3}, {16, 3}}},
      {"a character typed before a mark",
       [](TDocViewEdit& e) {
         e.EditData()->SetCaretAt(1, 1);
         e.EditKeyPress("x");
         e.EditKeyDown(Qt::Key_Right, 0);
       },
       "xalpha teh beta", {{8, 3}}},
      {"a character removed before a mark",
       [](TDocViewEdit& e) {
         e.EditData()->SetCaretAt(1, 2);
         e.EditKeyDown(Qt::Key_Backspace, 0);
         e.EditKeyDown(Qt::Key_Right, 0);
       },
       "lpha teh beta", {{6, 3}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TDocViewEdit& e = Make({"hello world", "alpha teh beta", "gamma"});
    e.StartLiveSpelling();
    Walk();
    ASSERT_EQ(MarksOf(1), (Marks{{7, 3}}));
    // A word changed in the first paragraph: the walk goes back there and waits.
    e.EditData()->SetCaretAt(0, 6);
    e.EditKeyPress("s");
    e.EditKeyDown(Qt::Key_Left, 0);
    ASSERT_EQ(Thread().CurItem(), 0);
    c.edit(e);
    ASSERT_EQ(e.RVData->GetItemTextA(1), c.text);
    Walk();
    EXPECT_EQ(MarksOf(1), c.marks);
  }
}

TEST_F(EditorSpellingTest, DeletedTextTakesItsMarksAlong) {
  struct Case {
    const char* name;
    std::function<void(TDocViewEdit&)> edit;
    std::vector<std::string> text;  // the items afterwards
    std::vector<Marks> marks;
  };
  const std::vector<Case> cases = {
      {"Backspace in a marked word",
       [](TDocViewEdit& e) {
         e.EditData()->SetCaretAt(1, 4);
         e.EditKeyDown(Qt::Key_Backspace, 0);
       },
       {"hello wrold", "te end"},
       {{{7, 5}}, {}}},
      {"Ctrl+Backspace over a marked word",
       [](TDocViewEdit& e) {
         e.EditData()->SetCaretAt(1, 5);
         e.EditKeyDown(Qt::Key_Backspace, ssCtrl);
       },
       {"hello wrold", "end"},
       {{{7, 5}}, {}}},
      {"Delete before a mark moves it",
       [](TDocViewEdit& e) {
         e.EditData()->SetCaretAt(0, 1);
         e.EditKeyDown(Qt::Key_Delete, 0);
       },
       {"ello wrold", "teh end"},
       {{{6, 5}}, {{1, 3}}}},
      {"a selected word deleted",
       [](TDocViewEdit& e) {
         e.EditData()->SelectItemRange(0, 6, 6, false);
         e.DeleteSelection();
       },
       {"hello", "teh end"},
       {{}, {{1, 3}}}},
      {"a join of two lines",
       [](TDocViewEdit& e) {
         e.EditData()->SetCaretAt(0, 12);
         e.EditKeyDown(Qt::Key_Delete, 0);
       },
       {"hello wroldteh end"},
       {{}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TDocViewEdit& e = Make({"hello wrold", "teh end"});
    e.StartLiveSpelling();
    Walk();
    c.edit(e);
    ASSERT_EQ(e.RVData->ItemCount(), static_cast<int32_t>(c.text.size()));
    for (int32_t i = 0; i < e.RVData->ItemCount(); ++i) EXPECT_EQ(e.RVData->GetItemTextA(i), c.text[i]);
    Walk();
    for (int32_t i = 0; i < e.RVData->ItemCount(); ++i) EXPECT_EQ(MarksOf(i), c.marks[i]) << i;
  }
}

TEST_F(EditorSpellingTest, UndoRestoresTheMarksOfWhatComesBack) {
  TDocViewEdit& e = Make({"hello wrold", "teh end"});
  e.StartLiveSpelling();
  Walk();
  e.EditData()->SelectItemRange(0, 1, 11, false);
  e.DeleteSelection();
  Walk();
  EXPECT_EQ(MarksOf(0), Marks{});
  e.Undo();
  Walk();
  EXPECT_EQ(MarksOf(0), (Marks{{7, 5}}));
  e.Redo();
  Walk();
  EXPECT_EQ(MarksOf(0), Marks{});
}

// Every command stops the thread before it changes the document (seen from the formatting
// that follows the change) and lets it go on, delayed, afterwards.
TEST_F(EditorSpellingTest, EveryCommandStopsTheThreadBeforeTheChange) {
  struct Command {
    const char* name;
    std::function<void(TDocViewEdit&)> run;
    std::function<void(TDocViewEdit&)> prepare = [](TDocViewEdit& e) { e.EditData()->SetCaretAt(0, 3); };
  };
  const std::vector<Command> commands = {
      {"typed key", [](TDocViewEdit& e) { e.EditKeyPress("x"); }},
      {"typed delimiter", [](TDocViewEdit& e) { e.EditKeyPress(","); }},
      {"Backspace", [](TDocViewEdit& e) { e.EditKeyDown(Qt::Key_Backspace, 0); }},
      {"Delete", [](TDocViewEdit& e) { e.EditKeyDown(Qt::Key_Delete, 0); }},
      {"Enter", [](TDocViewEdit& e) { e.EditKeyDown(Qt::Key_Return, 0); }},
      {"InsertText", [](TDocViewEdit& e) { e.InsertText("teh x\nwrold"); }},
      {"typing over a selection", [](TDocViewEdit& e) { e.EditKeyPress("q"); },
       [](TDocViewEdit& e) { e.EditData()->SelectItemRange(0, 1, 4, false); }},
      {"DeleteSelection", [](TDocViewEdit& e) { e.DeleteSelection(); },
       [](TDocViewEdit& e) { e.EditData()->SelectItemRange(0, 1, 8, false); }},
      {"SetSelectionTextStyle", [](TDocViewEdit& e) { e.SetSelectionTextStyle(1); },
       [](TDocViewEdit& e) { e.EditData()->SelectItemRange(0, 1, 5, false); }},
      {"Undo", [](TDocViewEdit& e) { e.Undo(); }},
      {"Redo", [](TDocViewEdit& e) { e.Redo(); }},
  };
  TDocViewEdit& e = Make({"hello wrold", "teh end", "more teh"});
  e.StartLiveSpelling();
  Walk();
  int32_t probes = 0, running = 0;
  for (const auto& c : commands) {
    SCOPED_TRACE(c.name);
    // The walk is under way when the command comes.
    Thread().RunDelayed();
    Thread().Step();
    ASSERT_FALSE(Thread().Suspended());
    c.prepare(e);
    probes = running = 0;
    font->Probe = [&] {
      ++probes;
      if (!e.WordEnumThread->Suspended()) ++running;
    };
    c.run(e);
    font->Probe = nullptr;
    EXPECT_GT(probes, 0);
    EXPECT_EQ(running, 0);
    EXPECT_FALSE(Thread().Suspended());
    EXPECT_TRUE(Thread().DelayMode());
    Walk();
    // After the walk every misspelt word carries its mark and nothing else does.
    for (int32_t i = 0; i < e.RVData->ItemCount(); ++i) {
      if (e.RVData->GetItem(i)->StyleNo < 0) continue;
      const std::string t = e.RVData->GetItemTextA(i);
      Marks want;
      for (size_t p = 0; p < t.size();) {
        const size_t q = t.find_first_of(" ,", p);
        const size_t end = q == std::string::npos ? t.size() : q;
        if (end > p && bad_.count(t.substr(p, end - p)))
          want.emplace_back(static_cast<int32_t>(p + 1), static_cast<int32_t>(end - p));
        p = end + 1;
      }
      EXPECT_EQ(MarksOf(i), want) << i << " '" << t << "'";
    }
  }
}

// ---- The real worker ----------------------------------------------------------------------------

template <typename F>
bool PumpUntil(F cond) {
  for (int i = 0; i < 20000; ++i) {
    Application()->ProcessMessages();
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

TEST_F(EditorSpellingTest, TheWorkerChecksWhileKeysEditTheDocument) {
  RVWordEnumThreadClass = [] { return std::make_unique<TRVWordEnumThread>(); };
  std::vector<std::string> paras(120, "alpha wrold beta teh gamma");
  TDocViewEdit& e = Make(paras);
  e.StartLiveSpelling();
  ASSERT_TRUE(PumpUntil([&] { return Asked().size() > 30; }));
  // Keys in the middle of the walk and behind it: every one of them changes the document
  // while the worker may be reading it.
  for (int round = 0; round < 20; ++round) {
    const int32_t item = (round * 7) % e.RVData->ItemCount();
    e.EditData()->SetCaretAt(item, 1);
    e.EditKeyPress("x");
    e.EditKeyDown(Qt::Key_Backspace, 0);
    e.EditKeyDown(Qt::Key_End, 0);
    e.EditKeyPress(" ");
    e.EditKeyPress("t");
    e.EditKeyPress("e");
    e.EditKeyPress("h");
    e.EditKeyDown(Qt::Key_Left, 0);
    if (round % 5 == 0) e.Undo();
    Application()->ProcessMessages();
  }
  ASSERT_TRUE(PumpUntil([&] { return e.WordEnumThread->Suspended() && !e.WordEnumThread->DelayMode(); }));
  for (int32_t i = 0; i < e.RVData->ItemCount(); ++i) {
    const std::string t = e.RVData->GetItemTextA(i);
    Marks want;
    for (size_t p = 0; p < t.size();) {
      const size_t q = t.find(' ', p);
      const size_t end = q == std::string::npos ? t.size() : q;
      if (end > p && bad_.count(t.substr(p, end - p)))
        want.emplace_back(static_cast<int32_t>(p + 1), static_cast<int32_t>(end - p));
      p = end + 1;
    }
    ASSERT_EQ(MarksOf(i), want) << i << " '" << t << "'";
  }
  e.StopLiveSpelling();
  EXPECT_EQ(e.WordEnumThread, nullptr);
  EXPECT_EQ(MarksOf(0), Marks{});

  // An editor destroyed in the middle of the walk ends the worker before any part of it
  // goes.
  Make(paras).StartLiveSpelling();
  ClearAsked();
  ASSERT_TRUE(PumpUntil([&] { return Asked().size() > 10; }));
  editor.reset();
  const size_t asked = Asked().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Application()->ProcessMessages();
  EXPECT_EQ(Asked().size(), asked);
}

}  // namespace
}  // namespace pelvar
