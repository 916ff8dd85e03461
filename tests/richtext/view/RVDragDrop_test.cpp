// The drag-and-drop model with no OS below: the drop source as a data object over a
// formatted document's selection (formats, codes, rendering ahead of a move), its format
// enumerator, a whole drag run through a scripted service, and the readers of dropped
// data against blocks whose sizes lie.
#include <gtest/gtest.h>

#include "platform/classes.h"
#include "platform/codepage.h"
#include "richtext/model/RVConst.h"
#include "richtext/view/CRVFData.h"
#include "richtext/view/RVClipboard.h"
#include "richtext/view/RVDragDrop.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

class TDragDoc : public viewtest::TTestDoc {
 public:
  using TTestDoc::TTestDoc;
  std::vector<bool> Done;
  void DoneDragDropSource(bool moved) override {
    Done.push_back(moved);
    TTestDoc::DoneDragDropSource(moved);
  }
};

class DragDropTest : public ::testing::Test {
 protected:
  TRVStyle style{nullptr};
  void SetUp() override { style.SelectionMode = rvsmChar; }
  void Fill(TDragDoc& doc, std::unique_ptr<TGraphic> picture) {
    doc.AddText("Hello world", 0, 0);
    auto* pic = new TRVGraphicItemInfo(&doc, std::move(picture), 0);
    pic->SetSameAsPrev(true);
    doc.AddItem("", pic);
    doc.Format();
  }
  static std::vector<FORMATETC> All(IEnumFORMATETC& e) {
    std::vector<FORMATETC> r, one;
    while (e.Next(1, one, nullptr) == S_OK) r.push_back(one[0]);
    return r;
  }
};

std::unique_ptr<TGraphic> Metafile() {
  auto m = std::make_unique<TMetafile>();
  m->SetEmpty(30, 20);
  return m;
}
std::unique_ptr<TGraphic> Jpeg() {
  auto j = std::make_unique<TJPEGImage>();
  const std::string data("\xFF\xD8\xFF\xC0\x00\x11\x08\x00\x10\x00\x20\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 21);
  TStringStream s(data);
  j->LoadFromStream(s);
  return j;
}

TEST_F(DragDropTest, EnumeratorOffersFourFormatsAndAFifthForABitmapOrMetafile) {
  struct Case {
    const char* name;
    std::unique_ptr<TGraphic> picture;
    uint16_t fifth;
    uint32_t tymed;
  };
  Case cases[] = {{"bitmap", std::make_unique<TBitmap>(20, 10), CF_BITMAP, TYMED_GDI},
                  {"metafile", Metafile(), CF_ENHMETAFILE, TYMED_ENHMF},
                  {"jpeg", Jpeg(), 0, 0}};
  for (Case& c : cases) {
    TDragDoc doc(&style, 400);
    Fill(doc, std::move(c.picture));
    TRVDropSource source(&doc);
    std::shared_ptr<IEnumFORMATETC> e;

    doc.SetSelectionBounds(0, 1, 0, 6);  // text
    ASSERT_EQ(source.EnumFormatEtc(DATADIR_GET, e), S_OK);
    std::vector<FORMATETC> text = All(*e);
    ASSERT_EQ(text.size(), 4u) << c.name;
    EXPECT_EQ(text[0].cfFormat, CFRV_RVF());
    EXPECT_EQ(text[1].cfFormat, CFRV_RTF());
    EXPECT_EQ(text[2].cfFormat, CF_TEXT);
    EXPECT_EQ(text[3].cfFormat, CF_UNICODETEXT);
    for (const FORMATETC& f : text) {
      EXPECT_EQ(f.tymed, TYMED_HGLOBAL);
      EXPECT_EQ(f.dwAspect, DVASPECT_CONTENT);
      EXPECT_EQ(f.lindex, -1);
    }

    doc.SetSelectionBounds(1, 0, 1, 1);  // the picture
    ASSERT_EQ(source.EnumFormatEtc(DATADIR_GET, e), S_OK);
    std::vector<FORMATETC> pic = All(*e);
    ASSERT_EQ(pic.size(), c.fifth ? 5u : 4u) << c.name;
    if (c.fifth) {
      EXPECT_EQ(pic[4].cfFormat, c.fifth);
      EXPECT_EQ(pic[4].tymed, c.tymed);
      STGMEDIUM m;
      ASSERT_EQ(source.GetData(pic[4], m), S_OK);
      EXPECT_EQ(m.tymed, c.tymed);
    }
    EXPECT_EQ(source.QueryGetData(RVFormatEtc(CF_BITMAP)), c.fifth == CF_BITMAP ? S_OK : DV_E_FORMATETC);
    EXPECT_EQ(source.EnumFormatEtc(DATADIR_SET, e), E_NOTIMPL);
    EXPECT_EQ(source.EnumFormatEtc(7, e), E_INVALIDARG);
  }
}

TEST_F(DragDropTest, EnumeratorCountsAndClones) {
  TRVEnumFormatEtc e(nullptr, 0);
  std::vector<FORMATETC> got;
  uint32_t fetched = 99;
  EXPECT_EQ(e.Next(3, got, &fetched), S_OK);
  EXPECT_EQ(fetched, 3u);
  std::shared_ptr<IEnumFORMATETC> clone;
  ASSERT_EQ(e.Clone(clone), S_OK);
  EXPECT_EQ(e.Next(3, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(got[0].cfFormat, CF_UNICODETEXT);
  EXPECT_EQ(clone->Next(1, got, nullptr), S_OK);  // the clone kept its own position
  EXPECT_EQ(got[0].cfFormat, CF_UNICODETEXT);
  EXPECT_EQ(e.Reset(), S_OK);
  EXPECT_EQ(e.Skip(4), S_OK);
  EXPECT_EQ(e.Skip(1), S_FALSE);
}

TEST_F(DragDropTest, DataObjectCodes) {
  TDragDoc doc(&style, 400);
  Fill(doc, std::make_unique<TBitmap>(20, 10));
  doc.SetSelectionBounds(0, 1, 0, 6);
  TRVDropSource source(&doc);

  FORMATETC f = RVFormatEtc(CF_UNICODETEXT);
  STGMEDIUM m;
  ASSERT_EQ(source.GetData(f, m), S_OK);
  EXPECT_EQ(m.tymed, TYMED_HGLOBAL);
  EXPECT_EQ(m.hGlobal->Data, std::string("H\0e\0l\0l\0o\0\0\0", 12));
  // GetDataHere does not serve Unicode text.
  STGMEDIUM here;
  here.tymed = TYMED_HGLOBAL;
  here.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 64);
  EXPECT_EQ(source.GetDataHere(f, here), DV_E_FORMATETC);
  // CF_TEXT into a block too small, then into one large enough.
  here.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 3);
  EXPECT_EQ(source.GetDataHere(RVFormatEtc(CF_TEXT), here), STG_E_MEDIUMFULL);
  here.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 8);
  ASSERT_EQ(source.GetDataHere(RVFormatEtc(CF_TEXT), here), S_OK);
  EXPECT_EQ(here.hGlobal->Data, std::string("Hello\0\0\0", 8));

  FORMATETC bad = f;
  bad.dwAspect = 4;
  EXPECT_EQ(source.QueryGetData(bad), DV_E_DVASPECT);
  bad = f;
  bad.tymed = TYMED_GDI;
  EXPECT_EQ(source.QueryGetData(bad), DV_E_TYMED);
  EXPECT_EQ(source.GetData(bad, m), DV_E_TYMED);
  EXPECT_EQ(source.QueryGetData(RVFormatEtc(CF_HDROP)), DV_E_FORMATETC);
  FORMATETC canon;
  canon.ptd = &canon;
  EXPECT_EQ(source.GetCanonicalFormatEtc(f, canon), E_NOTIMPL);
  EXPECT_EQ(canon.ptd, nullptr);
  EXPECT_EQ(source.SetData(f, m, false), E_NOTIMPL);
  uint32_t connection = 0;
  EXPECT_EQ(source.DAdvise(f, 0, nullptr, connection), OLE_E_ADVISENOTSUPPORTED);

  // The native block read back through the target's reader.
  std::unique_ptr<TMemoryStream> rvf = TRVDropTarget::GetAsStream(&source, CFRV_RVF());
  ASSERT_TRUE(rvf);
  TDragDoc back(&style, 400);
  TColor color = clNone;
  ASSERT_TRUE(back.LoadRVFFromStream(*rvf, color, nullptr, nullptr));
  EXPECT_EQ(back.GetItemTextRaw(0), "Hello");

  // Out of memory while rendering.
  SetGlobalAllocLimit(4);
  EXPECT_EQ(source.GetData(RVFormatEtc(CF_TEXT), m), E_OUTOFMEMORY);
  SetGlobalAllocLimit(0);
}

TEST_F(DragDropTest, RenderedFormatOutlivesTheSelection) {
  TDragDoc doc(&style, 400);
  Fill(doc, std::make_unique<TBitmap>(20, 10));
  doc.SetSelectionBounds(0, 1, 0, 6);
  TRVDropSource source(&doc);
  ASSERT_TRUE(source.RenderFormat(CF_TEXT));
  EXPECT_TRUE(source.HasRenderedMedium());
  doc.SetSelectionBounds(0, 7, 0, 12);  // "world"
  EXPECT_EQ(source.QueryGetData(RVFormatEtc(CF_HDROP)), S_OK);
  STGMEDIUM m;
  ASSERT_EQ(source.GetData(RVFormatEtc(CF_TEXT), m), S_OK);
  EXPECT_EQ(m.hGlobal->Data, std::string("Hello\0", 6));
  EXPECT_FALSE(source.HasRenderedMedium());
  ASSERT_EQ(source.GetData(RVFormatEtc(CF_TEXT), m), S_OK);
  EXPECT_EQ(m.hGlobal->Data, std::string("world\0", 6));
  EXPECT_FALSE(source.RenderFormat(CF_HDROP));
}

TEST_F(DragDropTest, QueryContinueDragCodes) {
  TDragDoc doc(&style, 400);
  TRVDropSource source(&doc);
  doc.State |= rvstDragNotStarted;
  EXPECT_EQ(source.QueryContinueDrag(true, MK_LBUTTON), DRAGDROP_S_CANCEL);
  EXPECT_FALSE(doc.State & rvstDragNotStarted);  // the button was held: the drag moved
  EXPECT_EQ(source.QueryContinueDrag(false, MK_LBUTTON), S_OK);
  EXPECT_EQ(source.QueryContinueDrag(false, 0), DRAGDROP_S_DROP);
  EXPECT_EQ(source.GiveFeedback(DROPEFFECT_COPY), DRAGDROP_S_USEDEFAULTCURSORS);
}

// A drag run by a script: the button held for a while, then a drop that reads the text.
class TScriptedDrag : public TDragDropService {
 public:
  uint32_t Result = DROPEFFECT_NONE;
  bool Moves = true;
  std::string Dropped;
  uint32_t OkEffects = 0;
  HRESULT DoDragDrop(IDataObject* data, IDropSource* source, uint32_t ok_effects, uint32_t& effect) override {
    OkEffects = ok_effects;
    if (Moves) source->QueryContinueDrag(false, MK_LBUTTON);
    source->QueryContinueDrag(false, 0);
    AnsiString text;
    if (TRVDropTarget::GetAsText(data, CF_TEXT, text)) Dropped = text;
    effect = Result;
    return Result ? DRAGDROP_S_DROP : DRAGDROP_S_CANCEL;
  }
};

TEST_F(DragDropTest, StartOleDragRunsOneDrag) {
  TScriptedDrag script;
  TDragDropService* old = SetDragDropService(&script);
  TDragDoc doc(&style, 400);
  Fill(doc, std::make_unique<TBitmap>(20, 10));
  doc.SetSelectionBounds(0, 1, 0, 6);

  script.Result = DROPEFFECT_MOVE;
  doc.StartOleDrag();
  EXPECT_EQ(script.Dropped, "Hello");
  EXPECT_EQ(script.OkEffects, DROPEFFECT_COPY);
  EXPECT_EQ(doc.Done, std::vector<bool>{true});
  EXPECT_FALSE(doc.IsDragging());
  EXPECT_FALSE(doc.State & (rvstDragging | rvstDragNotStarted | rvstDragPending));

  // Released before the drag moved: a click, the selection collapses under the press.
  script.Result = DROPEFFECT_NONE;
  script.Moves = false;
  doc.DragStartX = 10;  // inside "Hello"
  doc.DragStartY = 5;
  doc.StartOleDrag();
  EXPECT_FALSE(doc.SelectionExists(false));
  int32_t si, ei, so, eo;
  doc.GetSelBounds(si, ei, so, eo, true);
  EXPECT_EQ(si, 0);
  EXPECT_EQ(so, eo);
  EXPECT_EQ(doc.Done, (std::vector<bool>{true, false}));
  SetDragDropService(old);

  // The headless service cancels: a drag from a viewer ends without effect.
  doc.SetSelectionBounds(0, 1, 0, 6);
  doc.StartOleDrag();
  EXPECT_EQ(doc.Done.back(), false);
  EXPECT_EQ(doc.DropSource, nullptr);
}

// An editor-like document that keeps a drop caret.
class TCaretDoc : public TDragDoc {
 public:
  using TDragDoc::TDragDoc;
  TRVDragDropCaretInfo Caret;
  TRVDragDropCaretInfo* GetDragDropCaretInfo() override { return &Caret; }
};

TEST_F(DragDropTest, DropCaretFollowsThePositionAndDrawsInvertingDots) {
  TCaretDoc doc(&style, 400);
  Fill(doc, std::make_unique<TBitmap>(20, 10));
  doc.SetDragDropCaretPos(0, 3);  // after "He"
  EXPECT_EQ(doc.Caret.RVData, &doc);
  EXPECT_EQ(doc.Caret.ItemNo, 0);
  EXPECT_EQ(doc.Caret.Offs, 3);
  EXPECT_EQ(doc.Caret.X, 14);
  TRVDrawLineInfo* text = doc.DrawLines[0];
  EXPECT_EQ(doc.Caret.Y, text->Top);
  EXPECT_EQ(doc.Caret.Height, text->Height);
  doc.SetDragDropCaretPos(0, 1);
  EXPECT_EQ(doc.Caret.X, 0);
  TRVDrawLineInfo* pic = doc.DrawLines[1];
  doc.SetDragDropCaretPos(1, 1);
  EXPECT_EQ(doc.Caret.X, pic->Left + pic->Width);
  doc.SetDragDropCaretPos(1, 0);
  EXPECT_EQ(doc.Caret.X, pic->Left);

  // The caret moves with the mouse (client point + scroll offset).
  doc.VOffs = 0;
  doc.MoveDragDropCaret(25, 5);  // inside "Hello", nearer the end of "Hell"
  EXPECT_EQ(doc.Caret.ItemNo, 0);
  EXPECT_EQ(doc.Caret.Offs, 5);

  TRecordingCanvas canvas(400, 300);
  doc.ToggleDragDropCaret(canvas);
  const std::vector<TCanvasCall> lines = canvas.Calls("LineTo");
  ASSERT_EQ(static_cast<int32_t>(lines.size()), doc.Caret.Height / 2 + 1);
  EXPECT_EQ(lines[0].Args, (std::vector<int32_t>{doc.Caret.X + 2, doc.Caret.Y}));
  EXPECT_EQ(lines[0].Pen.Mode, pmNot);
  EXPECT_EQ(lines[1].Args, (std::vector<int32_t>{doc.Caret.X + 2, doc.Caret.Y + 2}));
  EXPECT_EQ(canvas.Pen().Mode, pmCopy);
  // A viewer has no caret: nothing is drawn.
  TDragDoc viewer(&style, 400);
  Fill(viewer, std::make_unique<TBitmap>(20, 10));
  TRecordingCanvas none(400, 300);
  viewer.SetDragDropCaretPos(0, 3);
  viewer.ToggleDragDropCaret(none);
  EXPECT_TRUE(none.Calls("LineTo").empty());
}

// ---- Readers ------------------------------------------------------------------------------------------

TEST_F(DragDropTest, StreamAndTextReaders) {
  TMemoryDataObject data;
  data.Set(CFRV_RVF(), std::string("\x05\x00\x00\x00hello and more", 18));
  data.Set(CFRV_RTF(), "{\\rtf1 x}");
  data.Set(CF_TEXT, std::string("abc\0def", 7));
  data.Set(CF_UNICODETEXT, std::string("x\0y\0\0\0z\0", 8));
  auto rvf = TRVDropTarget::GetAsStream(&data, CFRV_RVF());
  ASSERT_TRUE(rvf);
  EXPECT_EQ(rvf->Size(), 5);
  EXPECT_EQ(rvf->Position(), 0);
  auto rtf = TRVDropTarget::GetAsStream(&data, CFRV_RTF());
  ASSERT_TRUE(rtf);
  EXPECT_EQ(rtf->Size(), 9);
  AnsiString s;
  ASSERT_TRUE(TRVDropTarget::GetAsText(&data, CF_TEXT, s));
  EXPECT_EQ(s, "abc");
  ASSERT_TRUE(TRVDropTarget::GetAsUnicodeText(&data, s));
  EXPECT_EQ(s, std::string("x\0y\0", 4));
  EXPECT_TRUE(TRVDropTarget::HasFormat(&data, CF_TEXT));
  EXPECT_FALSE(TRVDropTarget::HasFormat(&data, CF_HDROP));
  EXPECT_FALSE(TRVDropTarget::GetAsText(&data, CF_HDROP, s));

  // A prefix larger than the block: no stream; a block shorter than the prefix: empty.
  data.Set(CFRV_RVF(), std::string("\xFF\x00\x00\x00short", 9));
  EXPECT_FALSE(TRVDropTarget::GetAsStream(&data, CFRV_RVF()));
  data.Set(CFRV_RVF(), "ab");
  auto empty = TRVDropTarget::GetAsStream(&data, CFRV_RVF());
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->Size(), 0);
  // A format offered through another medium than its own is not read.
  data.Set(CF_TEXT, "abc", TYMED_GDI);
  EXPECT_FALSE(TRVDropTarget::GetAsText(&data, CF_TEXT, s));
}

TEST_F(DragDropTest, DropKindFollowsTheOrderAndTheAcceptedFormats) {
  TMemoryDataObject data;
  data.Set(CF_TEXT, std::string("a\0", 2));
  data.Set(CF_UNICODETEXT, std::string("a\0\0\0", 4));
  data.Set(CFRV_RTF(), "{\\rtf1 a}");
  data.Set(CF_DIB, "dib");
  const uint8_t all = 0xFF;
  const uint8_t no_rtf = all & ~RVDropKindBit(rvdkRTF);
  struct Case {
    uint8_t accepted;
    bool unicode;
    bool found;
    TRVDropKind kind;
  } cases[] = {
      {all, false, true, rvdkRTF},  // RTF before text
      {no_rtf, false, true, rvdkText},
      {no_rtf, true, true, rvdkUnicodeText},
      {RVDropKindBit(rvdkBitmap), false, true, rvdkBitmap},
      {RVDropKindBit(rvdkFiles), false, false, rvdkFiles},
  };
  for (const Case& c : cases) {
    TRVDropKind kind = rvdkFiles;
    EXPECT_EQ(RVChooseDropKind(&data, c.accepted, c.unicode, kind), c.found) << int(c.accepted);
    if (c.found) {
      EXPECT_EQ(kind, c.kind) << int(c.accepted);
    }
  }
  TRVDropKind kind;
  ASSERT_TRUE(RVDropKindOfFormat(CF_DIB, kind));
  EXPECT_EQ(kind, rvdkBitmap);
  ASSERT_TRUE(RVDropKindOfFormat(CFRV_URL(), kind));
  EXPECT_EQ(kind, rvdkURL);
  EXPECT_FALSE(RVDropKindOfFormat(CFRV_HTML(), kind));

  TBitmap bitmap(2, 2);
  EXPECT_EQ(RVOwnDragFormat(all, &bitmap), CFRV_RVF());
  EXPECT_EQ(RVOwnDragFormat(RVDropKindBit(rvdkBitmap) | RVDropKindBit(rvdkText), &bitmap), CF_BITMAP);
  EXPECT_EQ(RVOwnDragFormat(RVDropKindBit(rvdkBitmap) | RVDropKindBit(rvdkText), nullptr), CF_TEXT);
  EXPECT_EQ(RVOwnDragFormat(RVDropKindBit(rvdkMetafile), &bitmap), 0);
}

TEST_F(DragDropTest, FileListsInUnicodeAndAnsiGiveTheSameNames) {
  const std::vector<AnsiString> names = {CZ("/tmp/Příliš.txt"), "/tmp/b.rtf"};
  for (bool wide : {true, false}) {
    TMemoryDataObject data;
    data.Set(CF_HDROP, RVMakeDropFiles(names, wide));
    std::unique_ptr<TStringList> list = TRVDropTarget::GetAsFiles(&data);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->Count(), 2);
    EXPECT_EQ(list->Get(0), names[0]);
    EXPECT_EQ(list->Get(1), names[1]);
  }
  // Offsets and names that leave the block.
  std::string block = RVMakeDropFiles(names, true);
  struct Case {
    std::string block;
    bool ok;
    size_t count;
  } cases[] = {
      {block.substr(0, 19), false, 0},                                  // shorter than the header
      {std::string("\xF0\x00\x00\x00", 4) + block.substr(4), false, 0},  // offset past the end
      {std::string("\x04\x00\x00\x00", 4) + block.substr(4), false, 0},  // offset inside the header
      {block.substr(0, block.size() - 5), true, 2},                     // last name without its zero
      {block.substr(0, 21), true, 0},                                   // half a character
  };
  for (const Case& c : cases) {
    std::vector<AnsiString> got;
    EXPECT_EQ(RVReadDropFiles(c.block, got), c.ok) << c.block.size();
    EXPECT_EQ(got.size(), c.count) << c.block.size();
  }
}

TEST_F(DragDropTest, FileGroupDescriptorName) {
  std::string fgd(4 + 592, '\0');
  fgd[0] = 1;
  const std::string name = "Example Site.url";
  fgd.replace(76, name.size(), name);
  TMemoryDataObject data;
  data.Set(CFRV_FileGroupDescriptor(), fgd);
  auto stream = TRVDropTarget::GetAsStream(&data, CFRV_FileGroupDescriptor());
  ASSERT_TRUE(stream);
  AnsiString got;
  ASSERT_TRUE(RVReadFileGroupDescriptorName(std::string(reinterpret_cast<const char*>(stream->Memory()),
                                                        static_cast<size_t>(stream->Size())),
                                            got));
  EXPECT_EQ(got, name);
  EXPECT_EQ(RVDroppedURLItemName("http://example.com/", got), "Example Site");
  EXPECT_EQ(RVDroppedURLItemName("http://example.com/", ".url"), "http://example.com/");
  EXPECT_EQ(RVDroppedURLItemName("http://example.com/", ""), "http://example.com/");

  // A name running to the end of a cut block is taken up to the end; a block that stops
  // before the name, or counts no file, gives none.
  ASSERT_TRUE(RVReadFileGroupDescriptorName(fgd.substr(0, 80), got));
  EXPECT_EQ(got, "Exam");
  EXPECT_FALSE(RVReadFileGroupDescriptorName(fgd.substr(0, 76), got));
  fgd[0] = 0;
  EXPECT_FALSE(RVReadFileGroupDescriptorName(fgd, got));
  EXPECT_FALSE(RVReadFileGroupDescriptorName("", got));
}

TEST_F(DragDropTest, BitmapReaderChecksTheDIB) {
  TBitmap source(3, 2, 0xFF0000FFu);
  source.Image.Set(0, 0, 0xFF00FF00u);
  const std::string dib = RVBitmapToDIB(source);
  TMemoryDataObject good;
  good.Set(CF_DIB, dib);
  std::unique_ptr<TBitmap> b = TRVDropTarget::GetAsBitmap(&good, true);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Image.At(0, 0), 0xFF00FF00u);
  EXPECT_EQ(b->Image.At(2, 1), 0xFF0000FFu);

  // A DIB claiming more rows than it carries is not converted; CF_BITMAP is used instead.
  std::string lying = dib;
  lying[8] = 100;  // height 100
  TMemoryDataObject fallback;
  fallback.Set(CF_DIB, lying);
  EXPECT_FALSE(TRVDropTarget::GetAsBitmap(&fallback, true));
  fallback.Set(CF_BITMAP, dib, TYMED_GDI);
  b = TRVDropTarget::GetAsBitmap(&fallback, true);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Width(), 3);
  // Without CF_DIB at all the reader gives nothing.
  TMemoryDataObject only_bitmap;
  only_bitmap.Set(CF_BITMAP, dib, TYMED_GDI);
  EXPECT_FALSE(TRVDropTarget::GetAsBitmap(&only_bitmap, true));
  EXPECT_TRUE(TRVDropTarget::GetAsBitmap(&only_bitmap, false));
}

}  // namespace
}  // namespace pelvar
