// The viewer's context menu and smart-popup button, the checkpoint reported while scrolling
// and the layout a native document carries, through the control (offscreen, the test
// font): a right click or the menu key pops up the menu unless OnContextPopup takes it, the
// button sits at its item's end and answers its shortcut, the visible checkpoint follows
// the view, and a document saved by one control brings its margins, width limits, BiDi
// mode and colour to the control that loads it.
#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QKeyEvent>

#include "platform/streams.h"
#include "richtext/view/DocView.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

using ViewerPopupTest = viewtest::TViewerSuite;

// A right click pops up the control's menu at the click unless the handler takes it, the
// menu's AutoPopup is off or the control has no style sheet; the menu key pops it up at the
// control's top left, the handler being told (-1, -1).
TEST_F(ViewerPopupTest, RightClickAndMenuKeyPopUpTheMenu) {
  struct Case {
    const char* name;
    bool handled, auto_popup, with_style, keyboard, shown;
  };
  for (const Case& c : {Case{"plain", false, true, true, false, true}, Case{"handled", true, true, true, false, false},
                        Case{"no auto popup", false, false, true, false, false},
                        Case{"no style sheet", false, true, false, false, false},
                        Case{"menu key", false, true, true, true, true}}) {
    SCOPED_TRACE(c.name);
    auto v = Make({"first paragraph", "second"});
    v->move(200, 150);
    if (!c.with_style) v->SetStyle(nullptr);
    TPopupMenu menu;
    menu.addAction("Kopírovat");
    menu.AutoPopup = c.auto_popup;
    v->PopupMenu = &menu;
    std::vector<TPoint> asked;
    v->OnContextPopup = [&](TCustomDocView*, TPoint p, bool& handled) {
      asked.push_back(p);
      handled = c.handled;
    };
    if (c.keyboard) {
      QContextMenuEvent ev(QContextMenuEvent::Keyboard, QPoint(5, 5), v->mapToGlobal(QPoint(5, 5)));
      QCoreApplication::sendEvent(v.get(), &ev);
    } else {
      Click(v.get(), 12, 8, Qt::RightButton);
    }
    EXPECT_EQ(menu.isVisible(), c.shown);
    if (c.with_style) {
      ASSERT_EQ(asked.size(), 1u);
      EXPECT_EQ(asked[0].X, c.keyboard ? -1 : 12);
      EXPECT_EQ(asked[0].Y, c.keyboard ? -1 : 8);
    } else {
      EXPECT_TRUE(asked.empty());
    }
    if (c.shown) {
      EXPECT_EQ(menu.PopupComponent, v.get());
      EXPECT_EQ(menu.pos(), v->mapToGlobal(c.keyboard ? QPoint(0, 0) : QPoint(12, 8)));
    }
    menu.hide();
  }
}

// The smart-popup button stands at the bottom right of its item's last draw item, is
// clicked by the properties' shortcut (its menu dropping down under it), goes with
// HideSmartPopup and with Clear, and disappears at the next layout when its item is gone.
TEST_F(ViewerPopupTest, SmartPopupButtonPlacedClickedByShortcutAndHidden) {
  auto v = Make({"one", "two words"});
  TDocViewRVData& d = *v->RVData;
  EXPECT_EQ(v->SmartPopupButton(), nullptr);
  v->ShowSmartPopup(nullptr, 1);
  TRVSmartPopupButton* b = v->SmartPopupButton();
  ASSERT_NE(b, nullptr);
  int32_t last = 0;
  d.GetLastDrawItemOfItem(1, last);
  const TRVDrawLineInfo* l = d.DrawLines[last];
  EXPECT_EQ(b->parentWidget(), v.get());
  EXPECT_EQ(b->x(), l->Left + l->Width);
  EXPECT_EQ(b->y(), l->Top + l->Height);
  EXPECT_TRUE(b->isVisibleTo(v.get()));

  TPopupMenu menu;
  menu.addAction("Možnosti");
  v->SmartPopupProperties()->Menu = &menu;
  std::vector<TRVSmartPopupButton*> clicked;
  v->OnSmartPopupClick = [&](TCustomDocView*, TRVSmartPopupButton* button) { clicked.push_back(button); };
  QKeyEvent other(QEvent::KeyPress, Qt::Key_Down, Qt::ControlModifier);
  QCoreApplication::sendEvent(v.get(), &other);
  EXPECT_TRUE(clicked.empty());
  QKeyEvent key(QEvent::KeyPress, Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier);
  QCoreApplication::sendEvent(v.get(), &key);
  ASSERT_EQ(clicked, std::vector<TRVSmartPopupButton*>({b}));
  EXPECT_TRUE(menu.isVisible());
  EXPECT_EQ(menu.pos(), b->mapToGlobal(QPoint(0, b->height())));
  menu.hide();

  v->HideSmartPopup();
  EXPECT_EQ(v->SmartPopupButton(), nullptr);
  v->ShowSmartPopup(nullptr, 0);
  ASSERT_NE(v->SmartPopupButton(), nullptr);
  // The item goes: the next layout takes the button away.
  d.DeleteItems(0, 1);
  v->Format();
  EXPECT_EQ(v->SmartPopupButton(), nullptr);
  v->ShowSmartPopup(nullptr, 0);
  ASSERT_NE(v->SmartPopupButton(), nullptr);
  v->Clear();
  EXPECT_EQ(v->SmartPopupButton(), nullptr);
}

// While scrolling, the checkpoint in view (kind 2) or of the section the view is in (kind
// 1) is reported once each time it changes; other kinds report nothing.
TEST_F(ViewerPopupTest, VisibleCheckpointFollowsTheScrolling) {
  struct Case {
    uint8_t kind;
    std::vector<int32_t> reported;  // paragraph of each reported checkpoint, -1 for none
  };
  for (const Case& c : {Case{2, {10, -1, 20}}, Case{1, {10, 20}}, Case{0, {}}}) {
    SCOPED_TRACE(int(c.kind));
    auto v = Make({}, 300, 60);
    TDocViewRVData& d = *v->RVData;
    for (int32_t i = 0; i < 40; ++i) {
      if (i % 10 == 0) d.AddCheckpoint("cp" + std::to_string(i), true, TRVTag());
      d.AddTextItem("line " + std::to_string(i), 0, 0);
    }
    v->Format();
    v->CheckpointEventKind = c.kind;
    std::vector<int32_t> reported;
    v->OnCheckpointVisible = [&](TCustomDocView*, TRVCPInfo* cp) {
      reported.push_back(cp ? std::stoi(cp->Name.substr(2)) : -1);
    };
    auto top_of = [&](int32_t item) {
      int32_t di = 0;
      d.GetFirstDrawItemOfItem(item, di);
      return d.DrawLines[di]->Top;
    };
    // Paragraph 10 at the top of the view; then paragraph 12 (checkpoint 20 below the view);
    // then paragraph 20.
    for (int32_t item : {10, 12, 20}) v->ScrollToY(top_of(item));
    EXPECT_EQ(reported, c.reported);
  }
}

// A document saved by one control carries its layout, colour and background picture: a control that
// loads it with rvfoLoadLayout takes the margins, width limits and BiDi mode and formats with
// them; without the option it keeps its own. The RTF and text outputs of the control.
TEST_F(ViewerPopupTest, NativeDocumentCarriesTheLayoutOfItsControl) {
  auto a = Make({"alpha", "beta"});
  a->LeftMargin = 20, a->RightMargin = 30, a->TopMargin = 40, a->BottomMargin = 50;
  a->MinTextWidth = 100, a->MaxTextWidth = 500;
  a->SetBiDiMode(rvbdRightToLeft);
  a->Color = clYellow;
  auto* picture = dynamic_cast<TRVBitmap*>(a->Background->Image());
  ASSERT_NE(picture, nullptr);
  picture->Image = TPixelImage(3, 2, 0xFF102030u);
  picture->Image.Set(2, 1, 0xFFFF0000u);
  a->SetBackgroundStyle(bsTiled);
  a->RVFOptions.Include(rvfoSaveLayout);
  a->RVFOptions.Include(rvfoSaveBack);
  TMemoryStream rvf;
  ASSERT_TRUE(a->SaveRVFToStream(rvf, false));

  for (bool load_layout : {true, false}) {
    SCOPED_TRACE(load_layout);
    auto b = Make({"old"});
    b->RVFOptions.Include(rvfoLoadBack);
    if (load_layout) b->RVFOptions.Include(rvfoLoadLayout);
    rvf.SetPosition(0);
    ASSERT_TRUE(b->LoadRVFFromStream(rvf));
    ASSERT_EQ(b->GetItemCount(), 2);
    EXPECT_EQ(b->RVData->GetItemTextRaw(1), "beta");
    EXPECT_EQ(b->Color, clYellow);
    EXPECT_EQ(b->BackgroundStyle(), bsTiled);
    auto* read = dynamic_cast<TRVBitmap*>(b->Background->Image());
    ASSERT_NE(read, nullptr);
    ASSERT_EQ(read->Width(), 3);
    ASSERT_EQ(read->Height(), 2);
    EXPECT_EQ(read->Image.At(0, 0), 0xFF102030u);
    EXPECT_EQ(read->Image.At(2, 1), 0xFFFF0000u);
    const std::vector<int32_t> want = load_layout ? std::vector<int32_t>{20, 30, 40, 50, 100, 500}
                                                  : std::vector<int32_t>{5, 5, 5, 5, 0, 0};
    EXPECT_EQ(std::vector<int32_t>({b->LeftMargin, b->RightMargin, b->TopMargin, b->BottomMargin,
                                    b->MinTextWidth, b->MaxTextWidth}),
              want);
    EXPECT_EQ(b->BiDiMode(), load_layout ? rvbdRightToLeft : rvbdUnspecified);
    ASSERT_GT(b->RVData->DrawLines.Count(), 0);
    EXPECT_EQ(b->RVData->DrawLines[0]->Top, load_layout ? 40 : 5);
  }

  TMemoryStream rtf;
  ASSERT_TRUE(a->SaveRTFToStream(rtf, false));
  const std::string rtf_text(reinterpret_cast<const char*>(rtf.Memory()), static_cast<size_t>(rtf.Size()));
  EXPECT_NE(rtf_text.find("\\red255\\green255\\blue0"), std::string::npos) << rtf_text;
  EXPECT_NE(rtf_text.find("beta"), std::string::npos);
  TMemoryStream text, wide;
  a->SetSelectionBounds(1, 1, 1, 5);
  ASSERT_TRUE(a->SaveTextToStream("", text, 80, true, false));
  ASSERT_TRUE(a->SaveTextToStreamW("", wide, 80, true, false));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.Memory()), static_cast<size_t>(text.Size())), "beta");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(wide.Memory()), static_cast<size_t>(wide.Size())),
            std::string("b\0e\0t\0a\0", 8));
}

}  // namespace
}  // namespace pelvar
