// The editor control as a Qt widget (offscreen, the test font): keys posted to the Qt event
// queue edit the document, read-only mode and a refusing OnChanging make every command beep
// and change nothing, Tab navigation is refused, a cell editor in place takes inserted text
// (Unicode included), and the change notifications.
#include "richtext/edit/RVEdit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLocale>
#include <cstdio>
#include <fstream>
#include <random>

#include "platform/beep.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVStyleTemplate.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

class EditorGuiTest : public viewtest::TQtSuite {
 protected:
  void SetUp() override {
    previous_sink_ = SetBeepSink([this](uint32_t) { ++beeps; });
    while (style.TextStyles()->Count() < 3) style.TextStyles()->Add();
    style.TextStyles()->Items(1)->Style.Include(fsBold);
    style.TextStyles()->Items(2)->Unicode = true;
    while (style.ParaStyles()->Count() < 2) style.ParaStyles()->Add();
  }
  void TearDown() override { SetBeepSink(std::move(previous_sink_)); }
  TBeepSink previous_sink_;

  std::unique_ptr<TDocViewEdit> Make(const std::vector<std::string>& paras) {
    auto e = std::make_unique<TDocViewEdit>();
    e->SetTextMetrics(std::make_shared<viewtest::TTestFont>());
    e->SetStyle(&style);
    e->resize(300, 200);
    e->HandleNeeded();
    for (const auto& p : paras) e->RVData->AddTextItem(p, 0, 0);
    e->Format();
    return e;
  }
  static std::string Dump(TCustomDocViewEdit& e) {
    std::string out;
    TRVEditRVData* d = e.EditData();
    for (int32_t i = 0; i < d->ItemCount(); ++i) {
      TCustomRVItemInfo* it = d->GetItem(i);
      if (i > 0) out += it->GetSameAsPrev() ? "+" : "|";
      out += it->StyleNo == rvsTab ? std::string("<tab>") : d->GetItemTextRaw(i);
      if (it->StyleNo > 0) out += "/s" + std::to_string(it->StyleNo);
    }
    return out;
  }
  static void Post(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
    QCoreApplication::postEvent(w, new QKeyEvent(QEvent::KeyPress, key, mods, text));
  }
  TRVStyle style{nullptr};
  int beeps = 0;
};

TEST_F(EditorGuiTest, KeysThroughTheEventQueue) {
  struct Key {
    int key;
    Qt::KeyboardModifiers mods;
    const char* text;
  };
  struct Case {
    const char* name;
    std::vector<std::string> doc;
    int32_t item, offs;
    std::vector<Key> keys;
    const char* dump;
    const char* caret;
    int beeps;
  };
  const std::vector<Case> cases = {
      {"typing", {"ab"}, 0, 3, {{Qt::Key_X, Qt::NoModifier, "x"}, {Qt::Key_Y, Qt::NoModifier, "y"}}, "abxy", "0:5", 0},
      {"enter and backspace",
       {"abcd"},
       0,
       3,
       {{Qt::Key_Return, Qt::NoModifier, ""}, {Qt::Key_Backspace, Qt::NoModifier, ""}, {Qt::Key_Backspace, Qt::NoModifier, ""}},
       "acd",
       "0:2",
       0},
      {"shift+left selects, typing replaces",
       {"abcd"},
       0,
       4,
       {{Qt::Key_Left, Qt::ShiftModifier, ""}, {Qt::Key_Left, Qt::ShiftModifier, ""}, {Qt::Key_Z, Qt::NoModifier, "z"}},
       "azd",
       "0:3",
       0},
      {"ctrl+backspace", {"one two"}, 0, 8, {{Qt::Key_Backspace, Qt::ControlModifier, ""}}, "one ", "0:5", 0},
      {"delete at the end joins", {"ab", "cd"}, 0, 3, {{Qt::Key_Delete, Qt::NoModifier, ""}}, "abcd", "0:3", 0},
      {"ctrl+z undoes the typing", {"ab"}, 0, 3,
       {{Qt::Key_X, Qt::NoModifier, "x"}, {Qt::Key_Z, Qt::ControlModifier, ""}}, "ab", "0:3", 0},
      {"tab is typed as a tab item", {"ab"}, 0, 3, {{Qt::Key_Tab, Qt::NoModifier, ""}}, "ab+<tab>", "1:1", 0},
      {"down on the last line", {"ab"}, 0, 2, {{Qt::Key_Down, Qt::NoModifier, ""}}, "ab", "0:2", 0},
      {"a character missing from the code page", {"ab"}, 0, 3, {{Qt::Key_unknown, Qt::NoModifier, "\u4e2d"}}, "ab?",
       "0:4", 0},
  };
  for (const Case& c : cases) {
    auto e = Make(c.doc);
    e->EditData()->SetCaretAt(c.item, c.offs);
    for (const Key& k : c.keys) Post(e.get(), k.key, k.mods, QString::fromUtf8(k.text));
    QCoreApplication::processEvents();
    EXPECT_EQ(Dump(*e), c.dump) << c.name;
    EXPECT_EQ(std::to_string(e->CaretItemIndex()) + ":" + std::to_string(e->CaretItemOffset()), c.caret) << c.name;
    EXPECT_EQ(beeps, c.beeps) << c.name;
    beeps = 0;
  }
}

// The editor's own shortcuts and the typed-character hook, through the event queue: a tab
// types the style sheet's spaces when it asks for them, Ctrl+Tab types a tab even in an
// editor that leaves Tab alone, Alt+Backspace undoes (Shift: redoes), Ctrl+Down and Ctrl+Up
// scroll and leave the caret, and OnKeyPress may change or swallow a character.
TEST_F(EditorGuiTest, ShortcutsAndTheTypedCharacterHook) {
  struct Case {
    const char* name;
    std::function<void(TDocViewEdit&)> setup;
    std::vector<std::pair<int, Qt::KeyboardModifiers>> keys;
    const char* dump;
    const char* caret;
  };
  const auto none = [](TDocViewEdit&) {};
  const std::vector<Case> cases = {
      {"tab with four spaces in a tab", [&](TDocViewEdit&) { style.SpacesInTab = 4; }, {{Qt::Key_Tab, Qt::NoModifier}},
       "ab    ", "0:7"},
      {"tab replaces the selection",
       [&](TDocViewEdit& e) {
         style.SpacesInTab = 2;
         e.EditData()->SetSelectionBounds(0, 1, 0, 2);
       },
       {{Qt::Key_Tab, Qt::NoModifier}}, "  b", "0:3"},
      {"ctrl+tab without want-tabs", [](TDocViewEdit& e) { e.EditorOptions.Exclude(rvoWantTabs); },
       {{Qt::Key_Tab, Qt::ControlModifier}}, "ab+<tab>", "1:1"},
      {"tab without want-tabs", [](TDocViewEdit& e) { e.EditorOptions.Exclude(rvoWantTabs); },
       {{Qt::Key_Tab, Qt::NoModifier}}, "ab", "0:3"},
      {"alt+backspace undoes", none, {{Qt::Key_X, Qt::NoModifier}, {Qt::Key_Backspace, Qt::AltModifier}}, "ab", "0:3"},
      {"shift+alt+backspace redoes", none,
       {{Qt::Key_X, Qt::NoModifier},
        {Qt::Key_Backspace, Qt::AltModifier},
        {Qt::Key_Backspace, Qt::AltModifier | Qt::ShiftModifier}},
       "abx", "0:4"},
      {"OnKeyPress changes a character",
       [](TDocViewEdit& e) { e.OnKeyPress = [](TCustomDocView*, char16_t& k) { k = k == u'x' ? u'y' : k; }; },
       {{Qt::Key_X, Qt::NoModifier}}, "aby", "0:4"},
      {"OnKeyPress swallows a character", [](TDocViewEdit& e) { e.OnKeyPress = [](TCustomDocView*, char16_t& k) { k = 0; }; },
       {{Qt::Key_X, Qt::NoModifier}, {Qt::Key_Tab, Qt::NoModifier}}, "ab", "0:3"},
  };
  for (const Case& c : cases) {
    style.SpacesInTab = 0;
    auto e = Make({"ab"});
    e->EditData()->SetCaretAt(0, 3);
    c.setup(*e);
    for (const auto& [key, mods] : c.keys) {
      const QString text = key == Qt::Key_X ? QStringLiteral("x") : QString();
      Post(e.get(), key, mods, text);
      QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(Dump(*e), c.dump) << c.name;
    EXPECT_EQ(std::to_string(e->CaretItemIndex()) + ":" + std::to_string(e->CaretItemOffset()), c.caret) << c.name;
  }
  style.SpacesInTab = 0;

  // Ctrl+Down scrolls one step and leaves the caret; Ctrl+Up scrolls back.
  std::vector<std::string> lines(60, "line");
  auto e = Make(lines);
  e->EditData()->SetCaretAt(0, 1);
  ASSERT_EQ(e->VPos, 0);
  Post(e.get(), Qt::Key_Down, Qt::ControlModifier);
  QCoreApplication::processEvents();
  EXPECT_GT(e->VPos, 0);
  EXPECT_EQ(e->CaretItemIndex(), 0);
  Post(e.get(), Qt::Key_Up, Qt::ControlModifier);
  QCoreApplication::processEvents();
  EXPECT_EQ(e->VPos, 0);
  EXPECT_EQ(e->CaretItemIndex(), 0);
}

// Undo and redo lay out again only the paragraphs they touch while the document keeps its
// width: the draw items of the first and the last paragraph (marked by a shift the layout
// never makes) outlive the step, and the layout equals a fresh one of the whole document. A
// step that changes the document's width formats it whole.
TEST_F(EditorGuiTest, UndoAndRedoReformatOnlyTheTouchedParagraphs) {
  struct Case {
    const char* name;
    std::function<void(TDocViewEdit&)> edit;
    bool width_changes;
  };
  const std::vector<Case> cases = {
      {"typing", [](TDocViewEdit& e) {
         e.EditData()->SetCaretAt(5, 3);
         e.EditKeyPress("xy");
       }, false},
      {"enter", [](TDocViewEdit& e) {
         e.EditData()->SetCaretAt(5, 3);
         e.EditKeyDown(Qt::Key_Return, 0);
       }, false},
      {"deleting across paragraphs", [](TDocViewEdit& e) {
         e.EditData()->SetSelectionBounds(3, 2, 6, 2);
         e.EditKeyDown(Qt::Key_Delete, 0);
       }, false},
      {"a word wider than the window", [](TDocViewEdit& e) {
         e.EditData()->SetCaretAt(5, 1);
         e.InsertText(std::string(60, 'w'));
       }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> paras;
    for (int i = 0; i < 20; ++i) paras.push_back("word" + std::to_string(i) + " and more");
    auto e = Make(paras);
    TRVEditRVData* d = e->EditData();
    c.edit(*e);
    for (int step = 0; step < 2; ++step) {
      const int32_t first = 0, last = d->DrawLines.Count() - 1;
      d->DrawLines[first]->Left += 1000;
      d->DrawLines[last]->Left += 1000;
      step == 0 ? e->Undo() : e->Redo();
      const int32_t last_now = d->DrawLines.Count() - 1;
      const bool kept = d->DrawLines[first]->Left >= 1000 && d->DrawLines[last_now]->Left >= 1000;
      EXPECT_EQ(kept, !c.width_changes) << (step == 0 ? "undo" : "redo");
      if (d->DrawLines[first]->Left >= 1000) d->DrawLines[first]->Left -= 1000;
      if (d->DrawLines[last_now]->Left >= 1000) d->DrawLines[last_now]->Left -= 1000;
      const auto layout = viewtest::DrawItems(*d);
      const int32_t width = d->DocumentWidth;
      d->ReformatAll(false);
      EXPECT_EQ(viewtest::DrawItems(*d), layout) << (step == 0 ? "undo" : "redo");
      EXPECT_EQ(d->DocumentWidth, width);
    }
  }
}

// A new keyboard language switches a non-Unicode current style to its copy in the language's
// charset (added once, then found again); without rvoAutoSwitchLang or on a Unicode style
// nothing changes.
TEST_F(EditorGuiTest, InputLanguageChangeSwitchesTheCharset) {
  auto e = Make({"ab"});
  e->EditData()->SetCaretAt(0, 3);
  const int32_t count = style.TextStyles()->Count();
  EXPECT_EQ(SendMessage(e->MessageHandle(), WM_INPUTLANGCHANGE, RUSSIAN_CHARSET, 0), 0);  // option off
  EXPECT_EQ(style.TextStyles()->Count(), count);
  e->EditorOptions.Include(rvoAutoSwitchLang);
  const TFontCharset russian = TCustomDocViewEdit::CharsetOfLocale(QLocale(QLocale::Russian));
  EXPECT_EQ(russian, RUSSIAN_CHARSET);
  EXPECT_EQ(SendMessage(e->MessageHandle(), WM_INPUTLANGCHANGE, russian, 0), 1);
  ASSERT_EQ(style.TextStyles()->Count(), count + 1);
  TFontInfo* added = style.TextStyles()->Items(count);
  EXPECT_EQ(e->CurrentTextStyle(), count);
  EXPECT_EQ(added->Charset, RUSSIAN_CHARSET);
  EXPECT_FALSE(added->Standard);
  e->SetCurrentTextStyle(0);
  EXPECT_EQ(SendMessage(e->MessageHandle(), WM_INPUTLANGCHANGE, russian, 0), 1);
  EXPECT_EQ(style.TextStyles()->Count(), count + 1);  // found, not added again
  EXPECT_EQ(e->CurrentTextStyle(), count);
  e->SetCurrentTextStyle(2);  // Unicode
  EXPECT_EQ(SendMessage(e->MessageHandle(), WM_INPUTLANGCHANGE, GREEK_CHARSET, 0), 0);
  EXPECT_EQ(e->CurrentTextStyle(), 2);
  EXPECT_EQ(TCustomDocViewEdit::CharsetOfLocale(QLocale(QLocale::Czech)), EASTEUROPE_CHARSET);
}

// In an active window with another control to go to, Tab still reaches an editor that
// wants tabs (it types a tab item and keeps the focus); without rvoWantTabs the focus moves
// on to the next control.
TEST_F(EditorGuiTest, TabInAnActiveWindowIsTypedWhenTheEditorWantsTabs) {
  for (bool want : {true, false}) {
    SCOPED_TRACE(want);
    QWidget form;
    form.resize(400, 300);
    auto e = Make({"ab"});
    e->setParent(&form);
    auto* next = new QWidget(&form);
    next->setFocusPolicy(Qt::StrongFocus);
    next->setGeometry(0, 250, 20, 10);
    if (!want) e->EditorOptions.Exclude(rvoWantTabs);
    form.show();
    form.activateWindow();
    QCoreApplication::processEvents();
    if (!form.isActiveWindow()) GTEST_SKIP() << "the platform activates no window";
    e->setFocus();
    e->EditData()->SetCaretAt(0, 3);
    Post(e.get(), Qt::Key_Tab);
    QCoreApplication::processEvents();
    EXPECT_EQ(Dump(*e), want ? "ab+<tab>" : "ab");
    EXPECT_EQ(QApplication::focusWidget(), want ? static_cast<QWidget*>(e.get()) : next);
    e->setParent(nullptr);
  }
}

TEST_F(EditorGuiTest, ReadOnlyOrARefusingOnChangingMakesEveryCommandBeep) {
  const std::string path = ::testing::TempDir() + "/rvedit_gui.txt";
  {
    std::ofstream f(path);
    f << "file";
  }
  const std::vector<std::pair<const char*, std::function<void(TDocViewEdit&)>>> commands = {
      {"InsertText", [](TDocViewEdit& e) { e.InsertText("x"); }},
      {"InsertUnicodeText", [](TDocViewEdit& e) { e.InsertUnicodeText(std::string("x\0", 2)); }},
      {"InsertTextFromFile", [&](TDocViewEdit& e) { EXPECT_FALSE(e.InsertTextFromFile(path)); }},
      {"InsertTab", [](TDocViewEdit& e) { EXPECT_FALSE(e.InsertTab()); }},
      {"InsertRVFFromStream",
       [](TDocViewEdit& e) {
         TMemoryStream s;
         EXPECT_FALSE(e.InsertRVFFromStream(s));
       }},
      {"InsertRTFFromStream",
       [](TDocViewEdit& e) {
         TMemoryStream s;
         s.WriteBuffer("{\\rtf1 x}", 9);
         s.SetPosition(0);
         EXPECT_FALSE(e.InsertRTFFromStream(s));
       }},
      {"SetSelectionTextStyle", [](TDocViewEdit& e) { e.SetSelectionTextStyle(1); }},
      {"SetSelectionParaStyle", [](TDocViewEdit& e) { e.SetSelectionParaStyle(1); }},
      {"DeleteSelection",
       [](TDocViewEdit& e) {
         e.EditData()->SetSelectionBounds(0, 1, 0, 2);
         e.DeleteSelection();
         e.Deselect();
       }},
      {"typed key", [](TDocViewEdit& e) { e.EditKeyPress("x"); }},
      {"Enter", [](TDocViewEdit& e) { e.EditKeyDown(Qt::Key_Return, 0); }},
      {"Backspace", [](TDocViewEdit& e) { e.EditKeyDown(Qt::Key_Backspace, 0); }},
      {"Delete", [](TDocViewEdit& e) { e.EditKeyDown(Qt::Key_Delete, 0); }},
  };
  for (int mode = 0; mode < 2; ++mode) {
    auto e = Make({"ab", "cd"});
    e->EditData()->SetCaretAt(0, 2);
    int changes = 0;
    e->OnChange = [&](TCustomDocViewEdit*) { ++changes; };
    if (mode == 0)
      e->SetReadOnly(true);
    else
      e->OnChanging = [](TCustomDocViewEdit*, bool& can_edit) { can_edit = false; };
    for (auto& [name, run] : commands) {
      beeps = 0;
      run(*e);
      EXPECT_EQ(beeps, 1) << name << (mode ? " (OnChanging)" : " (ReadOnly)");
      EXPECT_EQ(Dump(*e), "ab|cd") << name;
    }
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(e->Modified);
    EXPECT_EQ(e->EditData()->UndoList->Count(), 0);
  }
  // Undo and Redo refuse in read-only mode only.
  auto e = Make({"ab"});
  e->EditData()->SetCaretAt(0, 3);
  e->InsertText("x");
  e->SetReadOnly(true);
  beeps = 0;
  e->Undo();
  e->Redo();
  EXPECT_EQ(beeps, 2);
  EXPECT_EQ(Dump(*e), "abx");
  e->SetReadOnly(false);
  e->OnChanging = [](TCustomDocViewEdit*, bool& can_edit) { can_edit = false; };
  e->Undo();
  EXPECT_EQ(Dump(*e), "ab");
  std::remove(path.c_str());
}

TEST_F(EditorGuiTest, PropertiesAndNotifications) {
  auto e = Make({"ab"});
  EXPECT_EQ(e->UndoLimit(), -1);
  EXPECT_TRUE(e->EditorOptions.Contains(rvoWantTabs));
  EXPECT_TRUE(e->EditorOptions.Contains(rvoCtrlJumps));
  EXPECT_EQ(e->TabNavigation(), rvtnNone);
  try {
    e->SetTabNavigation(rvtnTab);
    FAIL() << "no error";
  } catch (const EDocViewError& x) {
    EXPECT_STREQ(x.what(), "Not supported in editor");
  }
  EXPECT_NO_THROW(e->SetTabNavigation(rvtnNone));

  int changes = 0, text_style_events = 0;
  e->OnChange = [&](TCustomDocViewEdit* s) {
    EXPECT_EQ(s, e.get());
    ++changes;
  };
  e->OnCurTextStyleChanged = [&](TCustomDocViewEdit*) { ++text_style_events; };
  e->EditData()->SetCaretAt(0, 3);
  e->InsertText("x\r\ny");
  EXPECT_EQ(changes, 1);  // one notification per command
  EXPECT_TRUE(e->Modified);
  EXPECT_EQ(Dump(*e), "abx|y");
  e->Undo();
  EXPECT_EQ(Dump(*e), "ab");
  EXPECT_EQ(e->EditData()->RedoList->Count(), 1);  // Undo keeps the redo list
  e->Redo();
  EXPECT_EQ(Dump(*e), "abx|y");
  e->SetCurrentTextStyle(1);
  e->SetCurrentTextStyle(1);
  EXPECT_EQ(text_style_events, 1);
  EXPECT_EQ(e->CurrentTextStyle(), 1);

  // Bold on the middle of a word, then one Undo.
  auto w = Make({"abcde"});
  w->EditData()->SetSelectionBounds(0, 2, 0, 4);
  w->SetSelectionTextStyle(1);
  EXPECT_EQ(Dump(*w), "a+bc/s1+de");
  w->Undo();
  EXPECT_EQ(Dump(*w), "abcde");

  // AssignEvents copies neither OnChange nor OnChanging.
  auto other = Make({"z"});
  other->AssignEvents(e.get());
  EXPECT_FALSE(other->OnChange);
  EXPECT_TRUE(other->OnCurTextStyleChanged);
}

TEST_F(EditorGuiTest, ItemCommandsUndoAndPendingTypes) {
  style.SpacesInTab = 2;
  auto e = Make({"abcd"});
  e->EditData()->SetCaretAt(0, 3);
  EXPECT_TRUE(e->InsertTaggedText("x\ty", TRVTag::FromInt(7)));
  TRVEditRVData* d = e->EditData();
  ASSERT_EQ(d->ItemCount(), 3);
  EXPECT_EQ(d->GetItemTextRaw(1), "x  y");  // a tab became SpacesInTab spaces
  EXPECT_EQ(d->GetItem(1)->Tag.Int, 7);
  EXPECT_EQ(e->PendingUndoType(), rvutInsert);
  EXPECT_TRUE(e->InsertPicture("pic", std::make_unique<TBitmap>(20, 10), 0));
  EXPECT_EQ(d->GetItem(2)->StyleNo, rvsPicture);
  EXPECT_EQ(e->GetCurrentItem(), d->GetItem(2));
  e->ChangeItemExtraIntProperty(2, 3, 40, true);  // the picture's width
  int32_t w = 0;
  ASSERT_TRUE(d->GetItem(2)->GetExtraIntProperty(3, w));
  EXPECT_EQ(w, 40);
  EXPECT_EQ(e->PendingUndoType(), rvutModifyItem);
  e->Undo();
  d->GetItem(2)->GetExtraIntProperty(3, w);
  EXPECT_NE(w, 40);
  e->Undo();
  e->Undo();
  EXPECT_EQ(Dump(*e), "abcd");
  EXPECT_EQ(e->PendingUndoType(), rvutNone);
  EXPECT_EQ(e->PendingRedoType(), rvutInsert);
  // The edit-control messages.
  EXPECT_EQ(SendMessage(e->MessageHandle(), EM_CANREDO, 0, 0), 1);
  EXPECT_EQ(SendMessage(e->MessageHandle(), EM_CANUNDO, 0, 0), 0);
  EXPECT_EQ(SendMessage(e->MessageHandle(), EM_REDO, 0, 0), 1);
  EXPECT_EQ(SendMessage(e->MessageHandle(), EM_CANUNDO, 0, 0), 1);
  EXPECT_EQ(SendMessage(e->MessageHandle(), WM_UNDO, 0, 0), 1);
  e->DiscardUndoHistory();
  EXPECT_EQ(e->PendingRedoType(), rvutNone);
  // Deleting unused styles renumbers the current style and drops the history.
  while (style.TextStyles()->Count() < 6) style.TextStyles()->Add();
  e->SetCurrentTextStyle(5);
  style.TextStyles()->Items(5)->Style.Include(fsItalic);
  e->InsertText("z");
  EXPECT_EQ(e->PendingUndoType(), rvutInsert);
  d->DeleteUnusedStyles(true, false, false);
  EXPECT_EQ(e->PendingUndoType(), rvutNone);
  EXPECT_LT(e->CurrentTextStyle(), style.TextStyles()->Count());
  EXPECT_TRUE(style.TextStyles()->Items(e->CurrentTextStyle())->Style.Contains(fsItalic));
}

TEST_F(EditorGuiTest, StyleTemplates) {
  TRVStyleTemplate* t = style.StyleTemplates()->Add();
  t->ValidParaProperties1 = {rvpiFirstIndent};
  t->ParaStyle.FirstIndent = 17;
  t->ValidTextProperties = {rvfiBold};
  t->TextStyle.Style.Include(fsBold);
  auto e = Make({"abcd", "ef"});
  const int32_t paras = style.ParaStyles()->Count();
  e->EditData()->SetCaretAt(0, 2);
  e->ApplyParaTemplate(0);
  TRVEditRVData* d = e->EditData();
  ASSERT_EQ(style.ParaStyles()->Count(), paras + 1);  // no existing style matched
  EXPECT_EQ(d->GetItem(0)->ParaNo, paras);
  EXPECT_EQ(style.ParaStyles()->Items(paras)->FirstIndent, 17);
  EXPECT_FALSE(style.ParaStyles()->Items(paras)->Standard);
  EXPECT_EQ(d->GetItem(1)->ParaNo, 0);
  e->Undo();
  EXPECT_EQ(d->GetItem(0)->ParaNo, 0);
  // The whole paragraph of the caret takes the text template.
  e->EditData()->SetCaretAt(1, 1);
  e->ApplyTextTemplate(0, true);
  EXPECT_TRUE(style.TextStyles()->Items(d->GetItem(1)->StyleNo)->Style.Contains(fsBold));
  EXPECT_EQ(d->GetItem(0)->StyleNo, 0);
  e->Undo();
  EXPECT_EQ(d->GetItem(1)->StyleNo, 0);
}

TEST_F(EditorGuiTest, ACellEditorInPlaceTakesInsertedText) {
  style.DefUnicodeStyle = 2;
  auto outer = Make({"outer"});
  auto cell = Make({"cell"});
  outer->SetInplaceEditor(cell.get());
  cell->EditData()->SetCaretAt(0, 5);
  outer->InsertText("A");
  outer->InsertUnicodeText(std::string("B\0", 2));
  EXPECT_EQ(Dump(*outer), "outer");
  TRVEditRVData* d = cell->EditData();
  EXPECT_EQ(d->GetItemTextRaw(0), "cellA");
  ASSERT_EQ(d->ItemCount(), 2);
  EXPECT_EQ(d->GetItem(1)->StyleNo, 2);  // switched to the Unicode style
  EXPECT_EQ(d->GetItemTextRaw(1), std::string("B\0", 2));
  EXPECT_EQ(outer->CurrentTextStyle(), 2);  // the innermost editor's
  // Undo goes to the cell while it has something to undo.
  outer->Undo();
  outer->Undo();
  EXPECT_EQ(Dump(*cell), "cell");
  EXPECT_EQ(Dump(*outer), "outer");
  // Then the cell editor closes first and the main document undoes afterwards.
  outer->SetInplaceEditor(nullptr);
  outer->EditData()->SetCaretAt(0, 6);
  outer->InsertText("!");
  outer->SetInplaceEditor(cell.get());
  outer->Undo();
  EXPECT_EQ(Dump(*outer), "outer!");  // not inside this call
  Application()->ProcessMessages();
  EXPECT_EQ(Dump(*outer), "outer");
  EXPECT_EQ(outer->GetInplaceEditor(), nullptr);
}

TEST_F(EditorGuiTest, RandomKeySessionsKeepLayoutCaretAndUndo) {
  struct Key {
    int key;
    Qt::KeyboardModifiers mods;
    const char* text;
  };
  const std::vector<Key> keys = {
      {Qt::Key_A, Qt::NoModifier, "a"},        {Qt::Key_Space, Qt::NoModifier, " "},
      {Qt::Key_B, Qt::ShiftModifier, "B"},     {Qt::Key_Return, Qt::NoModifier, ""},
      {Qt::Key_Return, Qt::ShiftModifier, ""}, {Qt::Key_Backspace, Qt::NoModifier, ""},
      {Qt::Key_Backspace, Qt::ControlModifier, ""}, {Qt::Key_Delete, Qt::NoModifier, ""},
      {Qt::Key_Left, Qt::NoModifier, ""},      {Qt::Key_Left, Qt::ShiftModifier, ""},
      {Qt::Key_Right, Qt::ShiftModifier, ""},  {Qt::Key_Right, Qt::ControlModifier, ""},
      {Qt::Key_Up, Qt::NoModifier, ""},        {Qt::Key_Down, Qt::ShiftModifier, ""},
      {Qt::Key_Home, Qt::NoModifier, ""},      {Qt::Key_End, Qt::ShiftModifier, ""},
      {Qt::Key_Z, Qt::ControlModifier, ""},    {Qt::Key_Y, Qt::ControlModifier, ""},
      {Qt::Key_Tab, Qt::NoModifier, ""},       {Qt::Key_unknown, Qt::NoModifier, "\u010d"},
  };
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    std::mt19937 rng(seed);
    auto e = Make({"one two three four five six", "seven", "eight nine"});
    e->resize(120, 200);
    e->Format();
    e->EditData()->SetCaretAt(0, 4);
    const std::string start = Dump(*e);
    std::string log;
    for (int step = 0; step < 150; ++step) {
      const size_t k = rng() % keys.size();
      log += std::to_string(k) + " ";
      Post(e.get(), keys[k].key, keys[k].mods, QString::fromUtf8(keys[k].text));
      QCoreApplication::processEvents();
      TRVEditRVData* d = e->EditData();
      ASSERT_GE(d->CaretOffs, 0) << log;
      ASSERT_LT(d->CaretOffs, static_cast<int32_t>(d->CharPositions.size())) << log;
      const auto partial = viewtest::DrawItems(*d);
      const int32_t ci = d->CurItemNo(), co = d->OffsetInCurItem();
      int32_t s1, s2, e1, e2;
      const bool sel = d->SelectionExists(false);
      d->GetSelBounds(s1, e1, s2, e2, false);
      e->Format();
      ASSERT_EQ(viewtest::DrawItems(*d), partial) << log;
      d->SetCaretAt(ci, co);
      if (sel) d->StoreSelectionBounds(s1, e1, s2, e2);
    }
    while (e->EditData()->RedoList->Count() > 0) e->Redo();
    const std::string end = Dump(*e);
    while (e->EditData()->UndoList->Count() > 0) e->Undo();
    EXPECT_EQ(Dump(*e), start) << log;
    while (e->EditData()->RedoList->Count() > 0) e->Redo();
    EXPECT_EQ(Dump(*e), end) << log;
  }
}

}  // namespace
}  // namespace pelvar
