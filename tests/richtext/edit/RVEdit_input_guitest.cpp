// The editor's input from the clipboard, input methods and drops (Qt offscreen, the test
// font): a paste takes RTF over text (in memory and through the real Qt clipboard), paste and
// cut are one undo step each, an input method's commit is one step, drops onto the own
// selection do nothing, a drop selects exactly what it inserted, a move inside the editor
// moves (one undo restores both places) and a move that inserts nothing keeps its source;
// hyperlinks work in read-only mode and while Ctrl is held; a single selected picture gets a
// resize frame whose drag is one undo step.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <cstdio>
#include <fstream>

#include "platform/beep.h"
#include "platform/codepage.h"
#include "richtext/model/RVUni.h"
#include "richtext/edit/RVEdit.h"
#include "richtext/model/RVConst.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/view/RVClipboard.h"
#include "richtext/view/RVClipboardQt.h"
#include "richtext/view/RVDragDrop.h"
#include "richtext/view/RVLinear.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

// Runs a drag at once: the target registered for the editor's window gets the enter, one
// move and the drop at the given client point, with the given key state.
class TScriptedDrag : public TDragDropService {
 public:
  QWidget* Window = nullptr;
  HWND Handle = 0;
  QPoint At;
  uint32_t KeyState = 0;
  // When set, the drop offers this object instead of the dragged data.
  IDataObject* Replacement = nullptr;
  int32_t Drags = 0;
  HRESULT DoDragDrop(IDataObject* data_object, IDropSource* source, uint32_t ok_effects, uint32_t& effect) override {
    ++Drags;
    source->QueryContinueDrag(false, MK_LBUTTON);
    IDataObject* data = Replacement ? Replacement : data_object;
    IDropTarget* target = RegisteredTarget(Handle);
    effect = DROPEFFECT_NONE;
    if (!target) return DRAGDROP_S_CANCEL;
    const QPoint g = Window->mapToGlobal(At);
    const TPoint pt{g.x(), g.y()};
    uint32_t e = ok_effects;
    target->DragEnter(data, KeyState | MK_LBUTTON, pt, e);
    e = ok_effects;
    target->DragOver(KeyState | MK_LBUTTON, pt, e);
    e = ok_effects;
    target->Drop(data, KeyState, pt, e);
    effect = e;
    return DRAGDROP_S_DROP;
  }
};

class EditInputTest : public viewtest::TQtSuite {
 protected:

  void SetUp() override {
    previous_sink_ = SetBeepSink([this](uint32_t) { ++beeps; });
    previous_clipboard_ = SetClipboard(&memory_);
    previous_drag_ = SetDragDropService(&drag_);
    while (style.TextStyles()->Count() < 4) style.TextStyles()->Add();
    style.TextStyles()->Items(1)->Style.Include(fsBold);
    style.TextStyles()->Items(2)->Unicode = true;
    style.TextStyles()->Items(3)->Jump = true;
    style.SelectionMode = rvsmChar;
    while (style.ParaStyles()->Count() < 2) style.ParaStyles()->Add();
  }
  void TearDown() override {
    SetDragDropService(previous_drag_);
    SetClipboard(previous_clipboard_);
    SetBeepSink(std::move(previous_sink_));
  }

  std::unique_ptr<TDocViewEdit> Make(const std::vector<std::string>& paras) {
    auto e = std::make_unique<TDocViewEdit>();
    e->SetTextMetrics(std::make_shared<viewtest::TTestFont>());
    e->SetStyle(&style);
    e->resize(300, 200);
    e->HandleNeeded();
    for (const auto& p : paras) e->RVData->AddTextItem(p, 0, 0);
    e->Format();
    drag_.Window = e.get();
    drag_.Handle = e->MessageHandle();
    return e;
  }
  // The document as text: paragraphs joined by '|', bold items in brackets.
  static std::string Text(TCustomDocViewEdit& e) {
    std::string out;
    TRVEditRVData* d = e.EditData();
    for (int32_t i = 0; i < d->ItemCount(); ++i) {
      TCustomRVItemInfo* it = d->GetItem(i);
      if (i > 0 && !it->GetSameAsPrev()) out += "|";
      std::string t = d->GetItemTextRaw(i);
      if (it->ItemOptions.Contains(rvioUnicodeText)) t = FromWide(RVU_RawUnicodeToWideString(t));
      if (it->StyleNo < 0) t = "<pic>";
      const bool bold = it->StyleNo >= 0 && e.Style()->TextStyles()->Items(it->StyleNo)->Style.Contains(fsBold);
      out += bold ? "[" + t + "]" : t;
    }
    return out;
  }
  static std::pair<int32_t, int32_t> Sel(TCustomDocViewEdit& e) {
    int32_t s = 0, n = 0;
    GetSelection(*e.EditData(), s, n);
    if (n < 0) s += n, n = -n;
    return {s, n};
  }
  static void Select(TCustomDocViewEdit& e, int32_t start, int32_t length) { SetSelection(*e.EditData(), start, length); }
  // The client point of the caret stop before linear position pos of a one-line document.
  static QPoint At(int32_t pos) { return QPoint(5 + 7 * pos, 8); }

  TRVStyle style{nullptr};
  int beeps = 0;
  TBeepSink previous_sink_;
  TMemoryClipboard memory_;
  TClipboard* previous_clipboard_ = nullptr;
  TScriptedDrag drag_;
  TDragDropService* previous_drag_ = nullptr;
};

const char kRTF[] = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 R{\\b T}F}";

void PutBlock(TClipboard& c, uint16_t format, const std::string& data) { c.SetAsHandle(format, GlobalAllocCopy(0, data)); }

TEST_F(EditInputTest, PasteTakesTheBestFormatAsOneUndoStep) {
  TQtClipboard qt;
  struct Case {
    const char* name;
    bool rtf, text, unicode;
    std::string expected;
  } cases[] = {
      {"rtf and text", true, true, false, "abR[T]Fcd"},
      {"text alone", false, true, false, "abplaincd"},
      {"unicode alone", false, false, true, "abwidecd"},
  };
  for (TClipboard* clipboard : {static_cast<TClipboard*>(&memory_), static_cast<TClipboard*>(&qt)}) {
    SetClipboard(clipboard);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (clipboard == &qt ? " (Qt)" : " (memory)"));
      clipboard->Clear();
      clipboard->Open();
      if (c.rtf) PutBlock(*clipboard, CFRV_RTF(), kRTF);
      if (c.text) clipboard->SetAsText("plain");
      if (c.unicode) PutBlock(*clipboard, CF_UNICODETEXT, std::string("w\0i\0d\0e\0\0\0", 10));
      clipboard->Close();
      auto e = Make({"abcd"});
      Select(*e, 2, 0);
      ASSERT_TRUE(e->CanPaste());
      EXPECT_EQ(e->CanPasteRTF(), c.rtf);
      SendMessage(e->MessageHandle(), WM_PASTE, 0, 0);
      EXPECT_EQ(Text(*e), c.expected);
      EXPECT_EQ(e->EditData()->UndoList->Count(), 1);
      EXPECT_TRUE(e->Modified);
      e->Undo();
      EXPECT_EQ(Text(*e), "abcd");
    }
  }
  SetClipboard(&memory_);
  EXPECT_EQ(beeps, 0);
}

TEST_F(EditInputTest, CutIsOneUndoStepAndCanPasteAnswersTheMessage) {
  auto e = Make({"abcdef"});
  e->Options = TRVOptions{rvoAllowSelection, rvoAutoCopyText, rvoAutoCopyUnicodeText, rvoAutoCopyRTF, rvoAutoCopyRVF};
  memory_.Clear();
  EXPECT_EQ(SendMessage(e->MessageHandle(), EM_CANPASTE, 0, 0), 0);
  Select(*e, 1, 3);  // "bcd"
  SendMessage(e->MessageHandle(), WM_CUT, 0, 0);
  EXPECT_EQ(Text(*e), "aef");
  EXPECT_EQ(memory_.AsText(), "bcd");
  EXPECT_EQ(e->EditData()->UndoList->Count(), 1);
  EXPECT_EQ(SendMessage(e->MessageHandle(), EM_CANPASTE, 0, 0), 1);
  EXPECT_EQ(SendMessage(e->MessageHandle(), EM_CANPASTE, CF_TEXT, 0), 1);
  EXPECT_EQ(SendMessage(e->MessageHandle(), EM_CANPASTE, CFRV_RVF(), 0), 1);
  EXPECT_EQ(SendMessage(e->MessageHandle(), EM_CANPASTE, CF_BITMAP, 0), 0);
  // Pasted back at the end (the native format, the first choice).
  Select(*e, 3, 0);
  e->Paste();
  EXPECT_EQ(Text(*e), "aefbcd");
  EXPECT_EQ(e->EditData()->UndoList->Count(), 2);
  e->Undo();
  e->Undo();
  EXPECT_EQ(Text(*e), "abcdef");
  // The shortcuts reach the same commands; read-only refuses both and answers 0.
  Select(*e, 0, 2);
  QKeyEvent cut(QEvent::KeyPress, Qt::Key_X, Qt::ControlModifier);
  QCoreApplication::sendEvent(e.get(), &cut);
  EXPECT_EQ(Text(*e), "cdef");
  QKeyEvent paste(QEvent::KeyPress, Qt::Key_Insert, Qt::ShiftModifier);
  QCoreApplication::sendEvent(e.get(), &paste);
  EXPECT_EQ(Text(*e), "abcdef");
  e->SetReadOnly(true);
  EXPECT_EQ(SendMessage(e->MessageHandle(), EM_CANPASTE, 0, 0), 0);
  const int before = beeps;
  Select(*e, 0, 2);
  e->CutToClipboard();
  e->Paste();
  EXPECT_EQ(Text(*e), "abcdef");
  EXPECT_EQ(beeps, before + 2);
}

TEST_F(EditInputTest, AnInputMethodCommitIsTypedAsOneStep) {
  auto e = Make({"ab"});
  Select(*e, 1, 0);
  QInputMethodEvent compose(QString::fromUtf8("žlu"), {});
  QCoreApplication::sendEvent(e.get(), &compose);
  EXPECT_EQ(Text(*e), "ab");  // a composition alone changes nothing
  QInputMethodEvent commit;
  commit.setCommitString(QString::fromUtf8("žluť"));
  QCoreApplication::sendEvent(e.get(), &commit);
  EXPECT_EQ(Text(*e), CZ("ažluťb"));
  EXPECT_EQ(e->EditData()->UndoList->Count(), 1);
  EXPECT_EQ(e->CaretItemOffset(), 6);  // behind the commit
  e->Undo();
  EXPECT_EQ(Text(*e), "ab");
  e->SetReadOnly(true);
  QCoreApplication::sendEvent(e.get(), &commit);
  EXPECT_EQ(Text(*e), "ab");
}

TEST_F(EditInputTest, DropsFromOtherProgramsSelectWhatTheyInserted) {
  struct Case {
    const char* name;
    uint16_t format;
    std::string data;
    int32_t at;
    std::string expected;
    std::pair<int32_t, int32_t> selected;
  } cases[] = {
      {"text", CF_TEXT, std::string("XY\0", 3), 1, "aXYbcd", {1, 2}},
      {"unicode", CF_UNICODETEXT, std::string("X\0Y\0\0\0", 6), 4, "abcdXY", {4, 2}},
      {"rtf", CFRV_RTF(), kRTF, 0, "R[T]Fabcd", {0, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto e = Make({"abcd"});
    TMemoryDataObject data;
    data.Set(c.format, c.data);
    const QPoint g = e->mapToGlobal(At(c.at));
    uint32_t effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    ASSERT_TRUE(e->DropTarget());
    e->DropTarget()->DragEnter(&data, 0, TPoint{g.x(), g.y()}, effect);
    EXPECT_EQ(effect, DROPEFFECT_COPY);  // not our own drag: no move
    effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    e->DropTarget()->Drop(&data, 0, TPoint{g.x(), g.y()}, effect);
    EXPECT_EQ(effect, DROPEFFECT_COPY);
    EXPECT_EQ(Text(*e), c.expected);
    EXPECT_EQ(Sel(*e), c.selected);
    EXPECT_EQ(e->EditData()->UndoList->Count(), 1);
    e->Undo();
    EXPECT_EQ(Text(*e), "abcd");
    EXPECT_EQ(e->EditData()->GetDragDropCaretInfo(), nullptr);  // released
  }
}

TEST_F(EditInputTest, DropOntoTheOwnSelectionDoesNothing) {
  auto e = Make({"abcdef"});
  TMemoryDataObject data;
  data.Set(CF_TEXT, std::string("XY\0", 3));
  for (int32_t at : {2, 3}) {  // inside "bcd"
    Select(*e, 1, 3);
    const QPoint p = At(at);
    EXPECT_EQ(e->OleDropped(&data, false, 0, TPoint{p.x(), p.y()}, DROPEFFECT_COPY), DROPEFFECT_NONE);
    EXPECT_EQ(Text(*e), "abcdef");
    EXPECT_EQ(Sel(*e), std::make_pair(at, 0));  // collapsed at the drop point
  }
  // Data from elsewhere dropped at an edge of the selection goes in.
  Select(*e, 1, 3);
  const QPoint edge = At(4);
  EXPECT_EQ(e->OleDropped(&data, false, 0, TPoint{edge.x(), edge.y()}, DROPEFFECT_COPY), DROPEFFECT_COPY);
  EXPECT_EQ(Text(*e), "abcdXYef");
  e->Undo();
  // A move of the selection onto itself, edges included, through a whole drag.
  for (int32_t at : {1, 2, 4}) {
    Select(*e, 1, 3);
    drag_.At = At(at);
    e->EditData()->StartOleDrag();
    EXPECT_EQ(Text(*e), "abcdef");
    EXPECT_EQ(e->EditData()->UndoList->Count(), 0);
  }
}

TEST_F(EditInputTest, AMoveInsideTheEditorMovesAndOneUndoRestoresBoth) {
  struct Case {
    const char* name;
    int32_t sel_start, sel_length, drop_at;
    uint32_t key_state;
    std::string expected;
    std::pair<int32_t, int32_t> selected;
  } cases[] = {
      {"forwards", 0, 2, 5, 0, "cdeabf", {3, 2}},
      {"backwards", 3, 3, 1, 0, "adefbc", {1, 3}},
      {"to the end", 1, 1, 6, 0, "acdefb", {5, 1}},
      {"copy with Ctrl", 0, 2, 5, MK_CONTROL, "abcdeabf", {5, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto e = Make({"abcdef"});
    int32_t changes = 0;
    e->OnChange = [&](TCustomDocViewEdit*) { ++changes; };
    Select(*e, c.sel_start, c.sel_length);
    drag_.At = At(c.drop_at);
    drag_.KeyState = c.key_state;
    e->EditData()->StartOleDrag();
    drag_.KeyState = 0;
    EXPECT_EQ(Text(*e), c.expected);
    EXPECT_EQ(Sel(*e), c.selected);
    EXPECT_GT(changes, 0);
    ASSERT_EQ(e->EditData()->UndoList->Count(), 1);
    e->Undo();
    EXPECT_EQ(Text(*e), "abcdef");
    EXPECT_EQ(e->EditData()->UndoList->Count(), 0);
    e->Redo();
    EXPECT_EQ(Text(*e), c.expected);
  }
}

TEST_F(EditInputTest, AMoveThatInsertsNothingKeepsItsSource) {
  auto e = Make({"abcdef"});
  // The drop offers nothing the editor reads.
  TMemoryDataObject nothing;
  nothing.Set(CF_HDROP, std::string(4, '\0'));
  drag_.Replacement = &nothing;
  Select(*e, 1, 2);
  drag_.At = At(5);
  e->EditData()->StartOleDrag();
  drag_.Replacement = nullptr;
  EXPECT_EQ(Text(*e), "abcdef");
  EXPECT_EQ(Sel(*e), std::make_pair(1, 2));  // still selected where it was
  EXPECT_EQ(e->EditData()->UndoList->Count(), 0);
  EXPECT_FALSE(e->Modified);

  // Nor may a drop into a read-only paragraph or a read-only editor take it.
  e->SetReadOnly(true);
  e->EditData()->StartOleDrag();
  EXPECT_EQ(Text(*e), "abcdef");
}

TEST_F(EditInputTest, DragSourcesOfferMovingOnlyFromEditableEditors) {
  auto e = Make({"abcdef"});
  Select(*e, 1, 2);
  std::shared_ptr<TRVDropSource> source;
  uint32_t effects = 0;
  ASSERT_TRUE(e->EditData()->InitDragDropSource(source, effects));
  EXPECT_EQ(effects, DROPEFFECT_COPY | DROPEFFECT_MOVE);
  e->EditData()->DoneDragDropSource(false);
  source.reset();
  e->SetReadOnly(true);
  ASSERT_TRUE(e->EditData()->InitDragDropSource(source, effects));
  EXPECT_EQ(effects, DROPEFFECT_COPY);
  e->EditData()->DoneDragDropSource(false);
  source.reset();
  // A move to another program deletes the dragged selection (one undo step).
  e->SetReadOnly(false);
  Select(*e, 1, 2);
  ASSERT_TRUE(e->EditData()->InitDragDropSource(source, effects));
  e->EditData()->DoneDragDropSource(true);
  EXPECT_EQ(Text(*e), "adef");
  EXPECT_EQ(e->EditData()->UndoList->Count(), 1);
}

TEST_F(EditInputTest, HyperlinksLiveInReadOnlyModeAndWhileCtrlIsHeld) {
  auto e = Make({"ab"});
  e->RVData->AddTextItem("link", 3, -1);
  e->Format();
  int32_t jumps = 0;
  e->OnJump = [&](TCustomDocView*, int32_t) { ++jumps; };
  TRVEditRVData* d = e->EditData();
  EXPECT_TRUE(d->Jumps.empty());
  EXPECT_FALSE(e->Flags & rvflJumps);
  e->SetReadOnly(true);
  ASSERT_EQ(d->Jumps.size(), 1u);
  EXPECT_TRUE(e->Flags & rvflJumps);
  EXPECT_EQ(d->Jumps[0]->Left, 5 + 14);
  auto click = [&] {
    const QPointF p(5 + 14 + 10, 8);
    QMouseEvent press(QEvent::MouseButtonPress, p, p, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(e.get(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, p, p, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(e.get(), &release);
  };
  click();
  EXPECT_EQ(jumps, 1);  // followed without Ctrl
  e->SetReadOnly(false);
  click();
  EXPECT_EQ(jumps, 1);  // editing: the click places the caret
  EXPECT_TRUE(d->Jumps.empty());
  EXPECT_FALSE(e->Flags & rvflJumps);

  // Ctrl down shows them, Ctrl up hides them.
  QKeyEvent ctrl_down(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
  QCoreApplication::sendEvent(e.get(), &ctrl_down);
  EXPECT_TRUE(e->Flags & rvflJumps);
  EXPECT_EQ(d->Jumps.size(), 1u);
  click();
  EXPECT_EQ(jumps, 2);
  QKeyEvent ctrl_up(QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier);
  QCoreApplication::sendEvent(e.get(), &ctrl_up);
  EXPECT_FALSE(e->Flags & rvflJumps);
  // Without rvoCtrlJumps Ctrl does nothing.
  e->EditorOptions.Exclude(rvoCtrlJumps);
  QCoreApplication::sendEvent(e.get(), &ctrl_down);
  EXPECT_FALSE(e->Flags & rvflJumps);
}


TEST_F(EditInputTest, DroppedFilesURLsAndTheDropEvent) {
  const std::string dir = ::testing::TempDir();
  const std::string txt = dir + "/edit_input_drop.txt", bin = dir + "/edit_input_drop.xyz";
  {
    std::ofstream(txt, std::ios::binary) << "file";
    std::ofstream(bin, std::ios::binary) << "junk";
  }
  struct Case {
    const char* name;
    std::function<void(TMemoryDataObject&, TDocViewEdit&)> setup;
    std::string expected;
    uint32_t effect;
  } cases[] = {
      {"a text file is inserted, another file skipped",
       [&](TMemoryDataObject& d, TDocViewEdit&) { d.Set(CF_HDROP, RVMakeDropFiles({bin, txt}, true)); }, "abfilecd",
       DROPEFFECT_COPY},
      {"only files the editor cannot read",
       [&](TMemoryDataObject& d, TDocViewEdit&) { d.Set(CF_HDROP, RVMakeDropFiles({bin}, false)); }, "abcd",
       DROPEFFECT_NONE},
      {"OnDropFiles takes them",
       [&](TMemoryDataObject& d, TDocViewEdit& e) {
         d.Set(CF_HDROP, RVMakeDropFiles({txt}, false));
         e.OnDropFiles = [](TCustomDocViewEdit* sender, TStrings* files, TRVDropFileAction& action, bool& do_default) {
           sender->InsertText("<" + std::to_string(files->Count()) + ">", false);
           action = rvdfLink;
           do_default = false;
         };
       },
       "ab<1>cd", DROPEFFECT_COPY},
      {"a URL is not accepted by default: the text goes in",
       [&](TMemoryDataObject& d, TDocViewEdit&) {
         d.Set(CFRV_URL(), std::string("http://x.cz/\0", 13));
         d.Set(CF_TEXT, std::string("T\0", 2));
       },
       "abTcd", DROPEFFECT_COPY},
      {"an accepted URL goes before text",
       [&](TMemoryDataObject& d, TDocViewEdit& e) {
         e.AcceptDragDropFormats.Include(rvddURL);
         d.Set(CFRV_URL(), std::string("http://x.cz/\0", 13));
         d.Set(CF_TEXT, std::string("T\0", 2));
       },
       "abhttp://x.cz/cd", DROPEFFECT_COPY},
      {"a URL with OnReadHyperlink goes in as a link named after its file",
       [&](TMemoryDataObject& d, TDocViewEdit& e) {
         e.AcceptDragDropFormats.Include(rvddURL);
         d.Set(CFRV_URL(), std::string("http://x.cz/\0", 13));
         std::string descriptor(4 + 592, '\0');
         descriptor[0] = 1;
         descriptor.replace(76, 11, "Example.url");
         d.Set(CFRV_FileGroupDescriptor(), descriptor);
         e.RVData->OnReadHyperlink = [](const AnsiString& target, const AnsiString&, TRVLoadFormat format,
                                        int32_t& style_no, TRVTag& tag, AnsiString& name) {
           EXPECT_EQ(target, "http://x.cz/");
           EXPECT_EQ(format, rvlfURL);
           EXPECT_EQ(name, "Example");
           style_no = 3;
           tag = TRVTag::FromInt(42);
         };
       },
       "abExamplecd", DROPEFFECT_COPY},
      {"OnOleDrop inserts its own content and chooses the effect",
       [&](TMemoryDataObject& d, TDocViewEdit& e) {
         d.Set(CF_TEXT, std::string("T\0", 2));
         e.OnOleDrop = [](TCustomDocView* sender, IDataObject*, TShiftState, int32_t, int32_t, TRVOleDropEffects possible,
                          TRVOleDropEffect& effect, bool& do_default) {
           EXPECT_TRUE(possible.Contains(rvdeCopy));
           static_cast<TCustomDocViewEdit*>(sender)->InsertText("own", false);
           effect = rvdeLink;
           do_default = false;
         };
       },
       "abowncd", DROPEFFECT_LINK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto e = Make({"abcd"});
    TMemoryDataObject data;
    c.setup(data, *e);
    const QPoint p = At(2);
    EXPECT_EQ(e->OleDropped(&data, false, 0, TPoint{p.x(), p.y()}, DROPEFFECT_COPY), c.effect);
    EXPECT_EQ(Text(*e), c.expected);
    const int32_t added = static_cast<int32_t>(c.expected.size()) - 4;
    if (added > 0) {
      EXPECT_EQ(Sel(*e), std::make_pair(2, added));
      EXPECT_EQ(e->EditData()->UndoList->Count(), 1);
    }
    if (c.expected == "abExamplecd") {
      ASSERT_EQ(e->RVData->ItemCount(), 3);
      EXPECT_EQ(e->RVData->GetItem(1)->StyleNo, 3);  // the hyperlink style the event chose
      EXPECT_EQ(e->RVData->GetItem(1)->Tag.Int, 42);
    }
  }
  std::remove(txt.c_str());
  std::remove(bin.c_str());
}

TEST_F(EditInputTest, QtDropEventsInsertThroughTheEditorsTarget) {
  auto e = Make({"abcd"});
  QMimeData mime;
  mime.setText(QString::fromUtf8("kůň"));
  const QPointF at = At(4);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(e.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  EXPECT_NE(e->EditData()->GetDragDropCaretInfo(), nullptr);
  QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(e.get(), &drop);
  EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
  EXPECT_EQ(Text(*e), CZ("abcdkůň"));
  EXPECT_EQ(Sel(*e), std::make_pair(4, 3));
  EXPECT_EQ(e->EditData()->GetDragDropCaretInfo(), nullptr);
  // A read-only editor refuses the drag.
  e->SetReadOnly(true);
  QDragEnterEvent refused(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(e.get(), &refused);
  EXPECT_EQ(e->EditData()->GetDragDropCaretInfo(), nullptr);
}


// The resize frame of a single selected picture, dragged with the mouse through Qt events.
TEST_F(EditInputTest, TheResizeFrameOfASelectedPicture) {
  auto e = Make({"ab"});
  auto* pic = new TRVGraphicItemInfo(e->RVData.get(), std::make_unique<TBitmap>(100, 50, 0xFF336699u), 0);
  pic->ParaNo = 0;
  pic->Spacing = 0;
  e->AddItem("", pic);
  e->Format();
  TRVEditRVData* d = e->EditData();
  auto size = [&] {
    pic = static_cast<TRVGraphicItemInfo*>(d->GetItem(1));
    return std::make_pair(pic->GetImageWidth(), pic->GetImageHeight());
  };
  auto pick = [&] { d->SetSelectionBounds(1, 0, 1, 1); };
  // Exactly the picture (also when the selection starts at the end of the text before it):
  // a frame; one character more: none; read-only: none unless 0x200.
  pick();
  ASSERT_TRUE(d->Resizer);
  d->SetSelectionBounds(0, 3, 1, 1);
  ASSERT_TRUE(d->Resizer);
  d->SetSelectionBounds(0, 2, 1, 1);
  EXPECT_FALSE(d->Resizer);
  e->SetReadOnly(true);
  pick();
  EXPECT_FALSE(d->Resizer);
  e->Flags |= 0x0200;
  d->SetSelectionBounds(0, 1, 0, 1);
  pick();
  EXPECT_TRUE(d->Resizer);
  e->Flags &= ~0x0200;
  e->SetReadOnly(false);
  e->EditorOptions.Include(rvoNoImageResize);
  d->SetSelectionBounds(0, 1, 0, 1);
  pick();
  EXPECT_FALSE(d->Resizer);
  e->EditorOptions.Exclude(rvoNoImageResize);
  d->SetSelectionBounds(0, 1, 0, 1);
  pick();
  ASSERT_TRUE(d->Resizer);

  auto drag = [&](int32_t handle, int dx, int dy, bool escape) {
    int32_t hx = 0, hy = 0;
    d->Resizer->GetHandlePos(handle, true, hx, hy);
    const QPointF from(d->Resizer->DrawItem()->Left + hx - d->GetHOffs(), d->Resizer->DrawItem()->Top + hy - d->GetVOffs());
    const QPointF to = from + QPointF(dx, dy);
    QMouseEvent press(QEvent::MouseButtonPress, from, from, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(e.get(), &press);
    EXPECT_TRUE(d->Resizer->Dragging());
    QMouseEvent move(QEvent::MouseMove, to, to, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(e.get(), &move);
    if (escape) {
      QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QCoreApplication::sendEvent(e.get(), &esc);
    }
    QMouseEvent release(QEvent::MouseButtonRelease, to, to, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(e.get(), &release);
  };
  // Escape during the drag leaves the picture as it was.
  drag(2, 50, 10, true);
  EXPECT_EQ(size(), std::make_pair(100, 50));
  EXPECT_EQ(d->UndoList->Count(), 0);
  // The bottom-right corner keeps the proportions: one undo step of type 13.
  drag(2, 50, 10, false);
  EXPECT_EQ(size(), std::make_pair(150, 75));
  EXPECT_EQ(e->PendingUndoType(), rvutModifyItem);
  ASSERT_TRUE(d->Resizer);  // still selected, with its frame at the new size
  EXPECT_EQ(d->Resizer->Width, 150);
  e->Undo();
  EXPECT_EQ(size(), std::make_pair(100, 50));
}

// A click on a resizable picture selects it whole, with its resize frame; a click on text
// selects nothing.
TEST_F(EditInputTest, ClickingAPictureSelectsItWithItsFrame) {
  auto e = Make({"ab"});
  auto* pic = new TRVGraphicItemInfo(e->RVData.get(), std::make_unique<TBitmap>(60, 40, 0xFF336699u), 0);
  pic->ParaNo = 0;
  e->AddItem("", pic);
  e->Format();
  TRVEditRVData* d = e->EditData();
  auto click = [&](int32_t x, int32_t y) {
    const QPointF p(x - d->GetHOffs(), y - d->GetVOffs());
    QMouseEvent press(QEvent::MouseButtonPress, p, e->mapToGlobal(p), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(e.get(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, p, e->mapToGlobal(p), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(e.get(), &release);
  };
  int32_t pd = 0;
  d->GetFirstDrawItemOfItem(1, pd);
  TRVDrawLineInfo* box = d->DrawLines[pd];
  click(box->Left + box->Width / 2, box->Top + box->Height / 2);
  int32_t si, so, ei, eo;
  d->GetSelBounds(si, ei, so, eo, true);
  EXPECT_EQ(std::vector<int32_t>({si, so, ei, eo}), std::vector<int32_t>({1, 0, 1, 1}));
  EXPECT_TRUE(d->Resizer);
  TRVDrawLineInfo* text = d->DrawLines[0];
  click(text->Left + 3, text->Top + 3);
  EXPECT_FALSE(d->SelectionExists(false));
  EXPECT_FALSE(d->Resizer);
}

}  // namespace
}  // namespace pelvar
