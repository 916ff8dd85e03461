// The clipboard and drag and drop through Qt (offscreen): a viewer copies to the real
// QClipboard through the adapter (text, RTF, the native block, a single picture as an
// image), what another Qt program reads there, the "HTML Format" source folder read back,
// dragged data offered as QMimeData, and the drop target translating the protocol for a
// control's hooks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QClipboard>
#include <QImage>
#include <QMimeData>

#include "platform/codepage.h"
#include "richtext/model/RVConst.h"
#include "richtext/model/RVUni.h"
#include "richtext/view/DocView.h"
#include "richtext/view/RVClipboard.h"
#include "richtext/view/RVClipboardQt.h"
#include "richtext/view/RVDragDrop.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

class ClipboardGuiTest : public viewtest::TQtSuite {
 protected:
  void SetUp() override {
    qt_ = std::make_unique<TQtClipboard>();
    old_ = SetClipboard(qt_.get());
    QGuiApplication::clipboard()->clear();
    view.resize(300, 200);
    view.SetTextMetrics(std::make_shared<viewtest::TTestFont>());
    view.HandleNeeded();
    style.SelectionMode = rvsmChar;
    view.SetStyle(&style);
  }
  void TearDown() override { SetClipboard(old_); }
  TRVStyle style{nullptr};
  TCustomDocView view;
  std::unique_ptr<TQtClipboard> qt_;
  TClipboard* old_ = nullptr;
};

TEST_F(ClipboardGuiTest, ViewerCopiesToTheSystemClipboard) {
  view.AddTextBlock(CZ("Žluťoučký kůň"), 0, 0, 0);
  auto* pic = new TRVGraphicItemInfo(view.RVData.get(), std::make_unique<TBitmap>(8, 4, 0xFF336699u), 0);
  pic->ParaNo = 0;
  view.AddItem("", pic);
  view.Format();
  view.RVData->SetSelectionBounds(0, 1, 0, 10);  // "Žluťoučký"

  // Every copy option off: nothing copied.
  view.Options = TRVOptions{rvoAllowSelection};
  EXPECT_FALSE(view.CopyToClipboard());
  const QMimeData* before = QGuiApplication::clipboard()->mimeData();
  EXPECT_TRUE(!before || !before->hasText());

  int32_t on_copy = 0;
  view.OnCopy = [&](TCustomDocView*) { ++on_copy; };
  view.Options = TRVOptions{rvoAllowSelection, rvoAutoCopyUnicodeText, rvoAutoCopyRVF, rvoAutoCopyRTF,
                            rvoAutoCopyText, rvoAutoCopyImage};
  // The copy shortcut copies.
  view.KeyDown(Qt::Key_C, ssCtrl);
  EXPECT_EQ(on_copy, 1);
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  ASSERT_TRUE(mime);
  EXPECT_EQ(mime->text(), QString::fromUtf8("Žluťoučký"));
  EXPECT_TRUE(mime->data("text/rtf").startsWith("{\\rtf"));
  EXPECT_TRUE(mime->hasFormat("application/x-qt-windows-mime;value=\"DocView Format\""));
  EXPECT_FALSE(mime->hasImage());

  // Read back through the adapter as a paste would.
  EXPECT_EQ(RVChoosePasteFormat(*qt_, true), rvpfRVF);
  TMemoryStream stream;
  ASSERT_TRUE(RVReadClipboardRVF(*qt_, stream));
  viewtest::TTestDoc doc(&style);
  TColor color = clNone;
  ASSERT_TRUE(doc.LoadRVFFromStream(stream, color, nullptr, nullptr));
  EXPECT_EQ(doc.GetItemTextRaw(0), CZ("Žluťoučký"));
  AnsiString text;
  ASSERT_TRUE(RVReadClipboardText(*qt_, text));
  EXPECT_EQ(text, CZ("Žluťoučký"));

  // A single picture is copied as an image.
  view.RVData->SetSelectionBounds(1, 0, 1, 1);
  ASSERT_TRUE(view.CopyToClipboard());
  mime = QGuiApplication::clipboard()->mimeData();
  ASSERT_TRUE(mime->hasImage());
  const QImage image = qvariant_cast<QImage>(mime->imageData());
  EXPECT_EQ(image.size(), QSize(8, 4));
  EXPECT_EQ(image.pixel(3, 2), 0xFF336699u);
  std::unique_ptr<TBitmap> back = RVReadClipboardBitmap(*qt_);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Image.At(3, 2), 0xFF336699u);
}

TEST_F(ClipboardGuiTest, OtherProgramsDataIsReadThroughTheAdapter) {
  auto* mime = new QMimeData();
  mime->setText(QString::fromUtf8("plain kůň"));
  mime->setData("text/rtf", "{\\rtf1 kun}");
  mime->setData("application/x-qt-windows-mime;value=\"HTML Format\"",
                "Version:0.9\r\nSourceURL:file:///C:/d/x.html\r\n<html></html>");
  QGuiApplication::clipboard()->setMimeData(mime);
  EXPECT_EQ(RVChoosePasteFormat(*qt_, false), rvpfRTF);  // RTF over text
  TMemoryStream rtf;
  ASSERT_TRUE(RVReadClipboardRTF(*qt_, rtf));
  EXPECT_EQ(rtf.Size(), 11);
  EXPECT_EQ(RVGetClipboardHTMLSourceFolder(*qt_), "C:\\d\\");
  AnsiString raw;
  ASSERT_TRUE(RVReadClipboardUnicodeText(*qt_, raw));
  EXPECT_EQ(RVU_RawUnicodeToWideString(raw), u"plain kůň");
  EXPECT_EQ(qt_->AsText(), CZ("plain kůň"));
}

TEST_F(ClipboardGuiTest, DraggedDataIsOfferedAsMimeData) {
  view.AddTextBlock("drag me", 0, 0, 0);
  view.Format();
  view.RVData->SetSelectionBounds(0, 1, 0, 5);
  TRVDropSource source(view.RVData.get());
  TRVMimeData mime(&source);
  const QStringList formats = mime.formats();
  EXPECT_TRUE(formats.contains("text/plain"));
  EXPECT_TRUE(formats.contains("text/rtf"));
  EXPECT_TRUE(formats.contains("application/x-qt-windows-mime;value=\"DocView Format\""));
  EXPECT_EQ(mime.text(), "drag");
  EXPECT_TRUE(mime.data("text/rtf").startsWith("{\\rtf"));
  // Dropped back as data from another program, the same formats are offered.
  TQtMimeDataObject dropped(mime);
  AnsiString text;
  ASSERT_TRUE(TRVDropTarget::GetAsText(&dropped, CF_TEXT, text));
  EXPECT_EQ(text, "drag");
  EXPECT_TRUE(TRVDropTarget::GetAsStream(&dropped, CFRV_RVF()));
}

// A control that records the drop hooks.
class TRecordingControl : public TRVScroller {
 public:
  std::vector<uint16_t> Asked;
  bool Accepts = true, Allowed = true, Movable = true, Dragging = false;
  uint32_t DropResult = DROPEFFECT_COPY;
  std::vector<std::string> Calls;
  bool OleFormatAccepted(uint16_t f) override {
    Asked.push_back(f);
    return Accepts && f == CF_TEXT;
  }
  bool OleDragEnterAllowed(int32_t x, int32_t y) override {
    Calls.push_back("enter " + std::to_string(x) + "," + std::to_string(y));
    return Allowed;
  }
  bool OleDragMoved(int32_t, int32_t) override { return Movable; }
  void OleDragLeft() override { Calls.push_back("left"); }
  bool OleIsDragging() override { return Dragging; }
  uint32_t OleDropped(IDataObject* data, bool move, uint32_t, TPoint pt, uint32_t possible) override {
    Calls.push_back(std::string("drop ") + (move ? "move " : "copy ") + std::to_string(possible));
    LastDrop = pt;
    TRVDropTarget::GetAsText(data, CF_TEXT, DroppedText);
    return DropResult;
  }
  TPoint LastDrop;
  AnsiString DroppedText;
};

TEST_F(ClipboardGuiTest, DropTargetTranslatesTheProtocol) {
  TRecordingControl control;
  control.resize(100, 100);
  control.HandleNeeded();
  auto target = std::make_unique<TRVDropTarget>(&control);
  ASSERT_TRUE(target->RegisterTarget());
  EXPECT_EQ(DragDropService().RegisteredTarget(control.MessageHandle()), target.get());
  EXPECT_TRUE(control.acceptDrops());

  TMemoryDataObject data;
  data.Set(CF_UNICODETEXT, std::string("a\0\0\0", 4));
  data.Set(CF_TEXT, std::string("a\0", 2));
  const QPoint origin = control.mapToGlobal(QPoint(0, 0));
  const TPoint pt{origin.x() + 7, origin.y() + 9};

  struct Case {
    bool accepts, allowed, dragging;
    uint32_t key_state, offered, effect;
  } cases[] = {
      {true, true, false, 0, DROPEFFECT_COPY | DROPEFFECT_MOVE, DROPEFFECT_COPY},
      {true, true, true, 0, DROPEFFECT_COPY | DROPEFFECT_MOVE, DROPEFFECT_MOVE},  // own drag moves
      {true, true, true, MK_CONTROL, DROPEFFECT_COPY | DROPEFFECT_MOVE, DROPEFFECT_COPY},
      {true, true, false, 0, DROPEFFECT_LINK, DROPEFFECT_LINK},
      {false, true, false, 0, DROPEFFECT_COPY, DROPEFFECT_NONE},  // no format accepted
      {true, false, false, 0, DROPEFFECT_COPY, DROPEFFECT_NONE},  // not here
  };
  for (const Case& c : cases) {
    control.Accepts = c.accepts;
    control.Allowed = c.allowed;
    control.Dragging = c.dragging;
    control.Asked.clear();
    uint32_t effect = c.offered;
    EXPECT_EQ(target->DragEnter(&data, c.key_state, pt, effect), S_OK);
    EXPECT_EQ(effect, c.effect);
    EXPECT_EQ(control.Asked, (std::vector<uint16_t>{CF_UNICODETEXT, CF_TEXT}));
    effect = c.offered;
    target->DragOver(c.key_state, pt, effect);
    EXPECT_EQ(effect, c.effect);
  }
  EXPECT_EQ(control.Calls[0], "enter 7,9");

  // A drop: the move test, and a copy reported as a link when copying was not offered.
  control.Calls.clear();
  control.Dragging = true;
  uint32_t effect = DROPEFFECT_MOVE | DROPEFFECT_LINK;
  target->Drop(&data, 0, pt, effect);
  EXPECT_EQ(control.Calls, std::vector<std::string>{"drop move 6"});
  EXPECT_EQ(effect, DROPEFFECT_LINK);
  target->DragLeave();
  EXPECT_EQ(control.Calls.back(), "left");

  // Destroying a bound target unbinds it.
  target.reset();
  EXPECT_EQ(DragDropService().RegisteredTarget(control.MessageHandle()), nullptr);
}

TEST_F(ClipboardGuiTest, QtDropEventsReachTheRegisteredTarget) {
  TRecordingControl control;
  control.resize(100, 100);
  control.HandleNeeded();
  QMimeData mime;
  mime.setText(QString::fromUtf8("kůň"));
  {
    // Without a registered target the control takes nothing.
    QDragEnterEvent enter(QPoint(5, 6), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&control, &enter);
    EXPECT_FALSE(enter.isAccepted());
  }
  TRVDropTarget target(&control);
  ASSERT_TRUE(target.RegisterTarget());
  QDragEnterEvent enter(QPoint(5, 6), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&control, &enter);
  EXPECT_TRUE(enter.isAccepted());
  EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
  EXPECT_EQ(control.Calls, std::vector<std::string>{"enter 5,6"});
  QDropEvent drop(QPointF(8, 9), Qt::CopyAction | Qt::MoveAction, &mime, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&control, &drop);
  EXPECT_TRUE(drop.isAccepted());
  EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
  EXPECT_EQ(control.LastDrop, (TPoint{8, 9}));
  EXPECT_EQ(control.DroppedText, CZ("kůň"));
  target.RevokeTarget();
  EXPECT_FALSE(control.acceptDrops());
}

}  // namespace
}  // namespace pelvar
