// The editor's clipboard commands and its side of drag and drop: cutting and pasting in the
// best format the clipboard offers, and the drop target's hooks (the drop caret, the formats
// a drop reads, moving a selection inside the editor and selecting what was dropped).
#include <QPainter>

#include "platform/beep.h"
#include "platform/classes.h"
#include "platform/clipboard.h"
#include "platform/sysutils.h"
#include "richtext/edit/RVEdit.h"
#include "richtext/model/RVConst.h"
#include "richtext/model/RVUni.h"
#include "richtext/view/RVClipboard.h"
#include "richtext/view/RVLinear.h"

namespace pelvar {

namespace {

bool IsUnicodeTextStyle(TRVStyle* style, int32_t no) {
  return style && no >= 0 && no < style->TextStyles()->Count() && style->TextStyles()->Items(no)->Unicode;
}

TShiftState ShiftOfKeyState(uint32_t key_state) {
  TShiftState s = 0;
  if (key_state & MK_SHIFT) s |= ssShift;
  if (key_state & MK_CONTROL) s |= ssCtrl;
  if (key_state & MK_ALT) s |= ssAlt;
  if (key_state & MK_LBUTTON) s |= ssLeft;
  if (key_state & MK_RBUTTON) s |= ssRight;
  if (key_state & MK_MBUTTON) s |= ssMiddle;
  return s;
}

TRVOleDropEffects EffectsOf(uint32_t drop_effects) {
  return TRVOleDropEffects::FromBits(static_cast<uint8_t>((drop_effects & 7) << 1));
}

TRVOleDropEffect EffectOf(uint32_t drop_effect) {
  if (drop_effect & DROPEFFECT_MOVE) return rvdeMove;
  if (drop_effect & DROPEFFECT_COPY) return rvdeCopy;
  if (drop_effect & DROPEFFECT_LINK) return rvdeLink;
  return rvdeNone;
}

uint32_t DropEffectOf(TRVOleDropEffect effect) {
  return effect == rvdeNone ? DROPEFFECT_NONE : (1u << (static_cast<unsigned>(effect) - 1));
}

// The selection of a document as a linear range (start <= end); False without one.
bool LinearSelection(TCustomRVFormattedData& doc, int32_t& start, int32_t& end) {
  int32_t si, ei, so, eo;
  doc.GetSelBounds(si, ei, so, eo, true);
  if (si < 0 || ei < 0) return false;
  if (!ItemPosToLinear(&doc, &doc, si, so, start) || !ItemPosToLinear(&doc, &doc, ei, eo, end)) return false;
  if (start > end) std::swap(start, end);
  return start != end;
}

// The picture class a file's extension names ('' for other files).
AnsiString PictureClassOfFile(const AnsiString& ext) {
  if (ext == ".bmp") return "TBitmap";
  if (ext == ".jpg" || ext == ".jpeg" || ext == ".jpe" || ext == ".jfif") return "TJPEGImage";
  if (ext == ".png") return "TPNGImage";
  if (ext == ".wmf" || ext == ".emf") return "TMetafile";
  return AnsiString();
}

}  // namespace

// ---- Clipboard --------------------------------------------------------------------------------

void TCustomDocViewEdit::CutToClipboard() {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->CutToClipboard();
  if (!BeforeChange(false)) return;
  if (RVData->CopyToClipboard(GetColor(), Background.get())) DeleteSelection();
}

bool TCustomDocViewEdit::CanPaste() { return RVCanPaste(Clipboard()); }
bool TCustomDocViewEdit::CanPasteRVF() { return Clipboard().HasFormat(CFRV_RVF()); }
bool TCustomDocViewEdit::CanPasteRTF() { return Clipboard().HasFormat(CFRV_RTF()); }

void TCustomDocViewEdit::Paste() {
  if (!BeforeChange(false)) return;
  bool do_default = true;
  if (OnPaste) OnPaste(RootEditor(), do_default);
  if (!do_default) return;
  try {
    TClipboard& clipboard = Clipboard();
    switch (RVChoosePasteFormat(clipboard, IsUnicodeTextStyle(Style(), EffectiveTextStyle()))) {
      case rvpfRVF: PasteRVF(); break;
      case rvpfRTF:
        if (!PasteRTF()) PasteTextOrPicture();
        break;
      default: PasteTextOrPicture(); break;
    }
  } catch (const std::exception&) {
    EditData()->Beep();
  }
}

void TCustomDocViewEdit::PasteTextOrPicture() {
  switch (RVChooseTextOrPictureFormat(Clipboard(), IsUnicodeTextStyle(Style(), EffectiveTextStyle()))) {
    case rvpfUnicodeText: PasteUnicodeText(); break;
    case rvpfText: PasteText(); break;
    case rvpfBitmap: PasteBitmap(false); break;
    case rvpfMetafile: PasteMetafile(false); break;
    default: break;
  }
}

void TCustomDocViewEdit::PasteRVF() {
  TClipboard& clipboard = Clipboard();
  TMemoryStream stream;
  {
    clipboard.Open();
    struct Closer {
      TClipboard& c;
      ~Closer() { c.Close(); }
    } closer{clipboard};
    if (!RVReadClipboardRVF(clipboard, stream)) return;
  }
  InsertRVFFromStream(stream);
}

bool TCustomDocViewEdit::PasteRTF() {
  TClipboard& clipboard = Clipboard();
  if (!clipboard.HasFormat(CFRV_RTF())) return false;
  TMemoryStream stream;
  {
    clipboard.Open();
    struct Closer {
      TClipboard& c;
      ~Closer() { c.Close(); }
    } closer{clipboard};
    if (!RVReadClipboardRTF(clipboard, stream)) return false;
  }
  TRVRTFReaderProperties* props = InnermostEditor()->RTFReadProperties();
  props->ResourceBasePath = GetHTMLSourceFolder();
  try {
    InsertRTFFromStream(stream);
  } catch (...) {
    props->ResourceBasePath.clear();
    throw;
  }
  props->ResourceBasePath.clear();
  return true;
}

AnsiString TCustomDocViewEdit::GetHTMLSourceFolder() { return RVGetClipboardHTMLSourceFolder(Clipboard()); }

void TCustomDocViewEdit::PasteUnicodeText() {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->PasteUnicodeText();
  if (!BeforeChange(false)) return;
  AnsiString raw;
  if (RVReadClipboardUnicodeText(Clipboard(), raw) && !raw.empty()) InsertUnicodeText(raw);
}

void TCustomDocViewEdit::PasteText() {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->PasteText();
  if (!BeforeChange(false)) return;
  AnsiString text;
  if (RVReadClipboardText(Clipboard(), text)) InsertText(text, false);
}

void TCustomDocViewEdit::PasteBitmap(bool text_as_name) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->PasteBitmap(text_as_name);
  if (!BeforeChange(false)) return;
  TClipboard& clipboard = Clipboard();
  std::unique_ptr<TBitmap> bitmap = RVReadClipboardBitmap(clipboard);
  if (!bitmap) return;
  AnsiString name;
  if (text_as_name && clipboard.HasFormat(CF_TEXT)) RVReadClipboardText(clipboard, name);
  InsertPicture(name, std::move(bitmap), 0);
}

void TCustomDocViewEdit::PasteMetafile(bool text_as_name) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->PasteMetafile(text_as_name);
  if (!BeforeChange(false)) return;
  TClipboard& clipboard = Clipboard();
  std::unique_ptr<TMetafile> metafile = RVReadClipboardMetafile(clipboard);
  if (!metafile) return;
  AnsiString name;
  if (text_as_name && clipboard.HasFormat(CF_TEXT)) RVReadClipboardText(clipboard, name);
  const int32_t width = metafile->Width(), height = metafile->Height();
  const TGraphic* held = metafile.get();
  if (!InsertPicture(name, std::move(metafile), 0)) return;
  // The picture keeps the size the metafile had on the clipboard.
  TRVEditRVData* d = EditData();
  const int32_t item_no = d->CurItemNo();
  if (item_no < 0 || item_no >= d->ItemCount()) return;
  auto* pic = dynamic_cast<TRVGraphicItemInfo*>(d->GetItem(item_no));
  if (!pic || pic->Image.get() != held) return;
  pic->SetExtraIntProperty(3, width);
  pic->SetExtraIntProperty(4, height);
  d->FormatKeepingCaret();
}

// ---- Drop target hooks ----------------------------------------------------------------------------

bool TCustomDocViewEdit::OleFormatAccepted(uint16_t format) {
  TRVDropKind kind;
  return RVDropKindOfFormat(format, kind) && (AcceptDragDropFormats.ToBits() & RVDropKindBit(kind));
}

bool TCustomDocViewEdit::OleDragEnterAllowed(int32_t x, int32_t y) {
  if (!Style()) return false;
  if (GetReadOnly() && !(EditData()->GetFlags() & 0x0200)) return false;
  EditData()->BeginDragDropCaret();
  StartScrollTimer(true);
  OleDragMoved(x, y);
  InnermostEditor()->update();
  return true;
}

bool TCustomDocViewEdit::OleDragMoved(int32_t x, int32_t y) {
  ScrollDX = 0;
  ScrollDY = y < 20 ? -1 : (y > ClientHeight() - 20 ? 1 : 0);
  TRVEditRVData* d = EditData();
  TRVDragDropCaretInfo* caret = d->GetDragDropCaretInfo();
  if (!caret) return false;
  d->MoveDragDropCaret(x, y);
  update();
  auto* at = dynamic_cast<TRVEditRVData*>(caret->RVData);
  return at && !GetReadOnly() && at->CanInsertHere(caret->ItemNo, caret->Offs);
}

void TCustomDocViewEdit::OleDragEnterEvent(IDataObject* data_object, uint32_t key_state, TPoint pt,
                                           uint32_t possible_effects, uint32_t& effect) {
  TCustomDocViewEdit* root = RootEditor();
  if (!OnOleDragEnter) return;
  if (root != this) pt = root->ScreenToClient(TPoint{mapToGlobal(QPoint(pt.X, pt.Y)).x(), mapToGlobal(QPoint(pt.X, pt.Y)).y()});
  TRVOleDropEffect e = EffectOf(effect & 0xF);
  OnOleDragEnter(root, data_object, ShiftOfKeyState(key_state), pt.X, pt.Y, EffectsOf(possible_effects), e);
  effect = DropEffectOf(e);
}

void TCustomDocViewEdit::OleDragOverEvent(uint32_t key_state, TPoint pt, uint32_t possible_effects,
                                          uint32_t& effect) {
  TCustomDocViewEdit* root = RootEditor();
  if (!OnOleDragOver) return;
  if (root != this) pt = root->ScreenToClient(TPoint{mapToGlobal(QPoint(pt.X, pt.Y)).x(), mapToGlobal(QPoint(pt.X, pt.Y)).y()});
  TRVOleDropEffect e = EffectOf(effect & 0xF);
  OnOleDragOver(root, ShiftOfKeyState(key_state), pt.X, pt.Y, EffectsOf(possible_effects), e);
  effect = DropEffectOf(e);
}

void TCustomDocViewEdit::OleDragLeft() {
  StopScrollTimer();
  TRVEditRVData* d = EditData();
  d->EndDragDropCaret();
  if (!d->GetDragDropCaretInfo()) {
    TRVEditRVData* inner = InnermostEditor()->EditData();
    if (!inner->NotFormatted() && inner->CaretOffs >= 0) inner->ChangeCaret(false, true, false);
  }
  update();
  if (OnOleDragLeave) OnOleDragLeave(RootEditor());
}

uint32_t TCustomDocViewEdit::OleDropped(IDataObject* data_object, bool move, uint32_t key_state, TPoint pt,
                                        uint32_t possible_effects) {
  StopScrollTimer();
  TRVEditRVData* root = EditData();
  // A drop without a drag over the control first (a program's own drop) finds its place now.
  bool holds_caret = root->GetDragDropCaretInfo() != nullptr;
  if (!holds_caret) {
    root->BeginDragDropCaret();
    root->MoveDragDropCaret(pt.X, pt.Y);
    holds_caret = true;
  }
  auto release_caret = [&] {
    if (holds_caret) root->EndDragDropCaret();
    holds_caret = false;
  };
  TRVDragDropCaretInfo* caret = root->GetDragDropCaretInfo();
  TCustomRVData* target = caret ? caret->RVData : nullptr;
  const int32_t item_no = caret ? caret->ItemNo : 0, offs = caret ? caret->Offs : 0;
  update();
  auto* target_doc = dynamic_cast<TCustomRVFormattedData*>(target);
  if (!target_doc || item_no < 0 || item_no >= target_doc->ItemCount()) {
    release_caret();
    return DROPEFFECT_NONE;
  }
  // Onto the selection itself (its edges count for a move): the selection collapses there.
  int32_t sel_start = 0, sel_end = 0, pos = 0;
  if (LinearSelection(*target_doc, sel_start, sel_end) &&
      ItemPosToLinear(target_doc, target_doc, item_no, offs, pos) &&
      (move ? (sel_start <= pos && pos <= sel_end) : (sel_start < pos && pos < sel_end))) {
    target_doc->SetSelectionBounds(item_no, offs, item_no, offs);
    target_doc->InvalidateControl();
    release_caret();
    return DROPEFFECT_NONE;
  }
  auto* target_edit = dynamic_cast<TRVEditRVData*>(target);
  if (!target_edit || GetReadOnly() || !target_edit->CanInsertHere(item_no, offs)) {
    release_caret();
    return DROPEFFECT_NONE;
  }
  // A drag from this editor reads its own format, rendered before the caret leaves the
  // selection.
  uint16_t own_format = 0;
  const bool own_drag = root->IsDragging() && root->DropSource;
  if (own_drag) {
    TRVDropSource* source = root->DropSource;
    TCustomRVFormattedData* source_doc = source->RVData();
    own_format = RVOwnDragFormat(AcceptDragDropFormats.ToBits(), source_doc ? source_doc->GetSelectedImage() : nullptr);
    if (own_format && !source->RenderFormat(own_format)) own_format = 0;
  }
  // The moved selection as a linear range of the root document: it is deleted only after
  // the dropped copy went in, so that a drop that inserts nothing loses nothing.
  int32_t src_start = 0, src_end = 0;
  move = move && own_drag && LinearSelection(*root, src_start, src_end);
  const int32_t length_before = GetTextLength(*root);

  // One undo group for the whole drop, the move's deletion included.
  setUpdatesEnabled(false);
  root->BeginUndoGroup(rvutInsert, true);
  root->SetUndoGroupMode(true);
  const int32_t changes_before = change_count_;
  ++command_depth_;
  bool inserted = false;
  TRVOleDropEffect effect = move ? rvdeMove : rvdeCopy;
  try {
    TCustomRVData* editable = target_edit->Edit();
    auto* place = dynamic_cast<TRVEditRVData*>(editable);
    if (!place) {
      root->Beep();
    } else {
      place->SetSelectionBounds(item_no, offs, item_no, offs);
      release_caret();
      inserted = DropFormats(data_object, move, ShiftOfKeyState(key_state), pt, possible_effects, own_format, effect);
      if (inserted && move && effect != rvdeNone) {
        // The dropped content is selected; the source follows it when it lay behind the drop.
        const int32_t added = GetTextLength(*root) - length_before;
        int32_t drop_start = 0, drop_length = 0;
        GetSelection(*root, drop_start, drop_length);
        if (drop_length < 0) drop_start += drop_length;
        drop_length = added;
        const int32_t base = LinearParaBreakLength;
        int32_t s = src_start - base, n = src_end - src_start;
        if (drop_start <= s) s += added;
        SetSelection(*root, s, n);
        if (root->SelectionExists(false) && root->DeleteSelection()) root->DoChange(true);
        if (s < drop_start) drop_start -= n;
        SetSelection(*root, drop_start, drop_length);
        // The source's own end of the drag must not delete again.
        root->State &= ~rvstDragging;
      } else if (!inserted && move) {
        // Nothing went in: the moved content stays where it was, selected.
        SetSelection(*root, src_start - LinearParaBreakLength, src_end - src_start);
      }
    }
  } catch (...) {
    --command_depth_;
    root->SetUndoGroupMode(false);
    root->UndoList->DropEmptyGroup();
    setUpdatesEnabled(true);
    release_caret();
    throw;
  }
  --command_depth_;
  root->SetUndoGroupMode(false);
  root->UndoList->DropEmptyGroup();
  release_caret();
  setUpdatesEnabled(true);
  if (changed_in_command_ || change_count_ != changes_before) NotifyChanged();
  changed_in_command_ = false;
  RefreshChain(true);
  TRVEditRVData* inner = InnermostEditor()->EditData();
  if (!inner->NotFormatted() && inner->CaretOffs >= 0) inner->ChangeCaret(false, true, false);
  update();
  if (!inserted) return DROPEFFECT_NONE;
  return DropEffectOf(effect);
}

bool TCustomDocViewEdit::DropFormats(IDataObject* data_object, bool move, TShiftState shift, TPoint pt,
                                     uint32_t possible_effects, uint16_t own_format, TRVOleDropEffect& effect) {
  effect = move ? rvdeMove : rvdeCopy;
  if (OnOleDrop) {
    BeginDropInsertion();
    bool do_default = true;
    TCustomDocViewEdit* root = RootEditor();
    TPoint p = pt;
    if (root != this) {
      const QPoint g = mapToGlobal(QPoint(pt.X, pt.Y));
      p = root->ScreenToClient(TPoint{g.x(), g.y()});
    }
    const int32_t before = InnermostEditor()->change_count_;
    OnOleDrop(root, data_object, shift, p.X, p.Y, EffectsOf(possible_effects), effect, do_default);
    if (!do_default) {
      EndDropInsertion();
      return effect != rvdeNone || InnermostEditor()->change_count_ != before;
    }
  }
  bool done = false;
  if (own_format) {
    TRVDropKind kind;
    if (RVDropKindOfFormat(own_format, kind)) done = DropKind(data_object, kind, own_format);
  } else {
    const bool unicode = IsUnicodeTextStyle(Style(), EffectiveTextStyle());
    for (TRVDropKind kind : RVDropTryOrder(unicode))
      if ((done = DropKind(data_object, kind, 0))) break;
  }
  EndDropInsertion();
  if (!done) effect = rvdeNone;
  return done;
}

bool TCustomDocViewEdit::DropKind(IDataObject* data_object, TRVDropKind kind, uint16_t own_format) {
  if (!(AcceptDragDropFormats.ToBits() & RVDropKindBit(kind))) return false;
  TCustomDocViewEdit* inner = InnermostEditor();
  const int32_t before = inner->change_count_;
  auto changed = [&] { return inner->change_count_ != before; };
  switch (kind) {
    case rvdkRVF:
    case rvdkRTF: {
      const uint16_t format = kind == rvdkRVF ? CFRV_RVF() : CFRV_RTF();
      if (!TRVDropTarget::HasFormat(data_object, format)) return false;
      std::unique_ptr<TMemoryStream> stream = TRVDropTarget::GetAsStream(data_object, format);
      if (!stream || stream->Size() == 0) return false;
      BeginDropInsertion();
      const bool ok = kind == rvdkRVF ? InsertRVFFromStream(*stream) : InsertRTFFromStream(*stream);
      return ok && changed();
    }
    case rvdkText: {
      AnsiString text;
      if (!TRVDropTarget::HasFormat(data_object, CF_TEXT) || !TRVDropTarget::GetAsText(data_object, CF_TEXT, text) ||
          text.empty())
        return false;
      BeginDropInsertion();
      InsertText(text, false);
      return changed();
    }
    case rvdkUnicodeText: {
      AnsiString raw;
      if (!TRVDropTarget::HasFormat(data_object, CF_UNICODETEXT) || !TRVDropTarget::GetAsUnicodeText(data_object, raw) ||
          raw.empty())
        return false;
      BeginDropInsertion();
      InsertUnicodeText(raw);
      return changed();
    }
    case rvdkBitmap: {
      std::unique_ptr<TBitmap> bitmap = TRVDropTarget::GetAsBitmap(data_object, own_format != CF_BITMAP);
      if (!bitmap || bitmap->Empty()) return false;
      BeginDropInsertion();
      return InsertPicture(AnsiString(), std::move(bitmap), 0) && changed();
    }
    case rvdkMetafile: {
      std::unique_ptr<TMetafile> metafile = TRVDropTarget::GetAsMetafile(data_object);
      if (!metafile) return false;
      BeginDropInsertion();
      return InsertPicture(AnsiString(), std::move(metafile), 0) && changed();
    }
    case rvdkURL: {
      AnsiString url;
      if (!TRVDropTarget::HasFormat(data_object, CFRV_URL()) || !TRVDropTarget::GetAsText(data_object, CFRV_URL(), url) ||
          url.empty())
        return false;
      // The link's name: the file the source names the URL after, else the URL itself.
      AnsiString descriptor_name;
      if (TRVDropTarget::HasFormat(data_object, CFRV_FileGroupDescriptor()))
        if (std::unique_ptr<TMemoryStream> block = TRVDropTarget::GetAsStream(data_object, CFRV_FileGroupDescriptor()))
          RVReadFileGroupDescriptorName(
              std::string(reinterpret_cast<const char*>(block->Memory()), static_cast<size_t>(block->Size())),
              descriptor_name);
      BeginDropInsertion();
      TDocViewRVData* root = RootEditor()->RVData.get();
      if (root->OnReadHyperlink) {
        int32_t style_no = EffectiveTextStyle();
        TRVTag tag;
        AnsiString name = RVDroppedURLItemName(url, descriptor_name);
        root->OnReadHyperlink(url, AnsiString(), rvlfURL, style_no, tag, name);
        SetCurrentTextStyle(style_no);
        InsertTaggedText(name, tag);
      } else {
        InsertText(url, false);
      }
      return changed();
    }
    case rvdkFiles: return DropFiles(data_object);
  }
  return false;
}

bool TCustomDocViewEdit::DropFiles(IDataObject* data_object) {
  std::unique_ptr<TStringList> files = TRVDropTarget::GetAsFiles(data_object);
  if (!files) return false;
  BeginDropInsertion();
  if (OnDropFiles) {
    TRVDropFileAction action = rvdfNone;
    bool do_default = true;
    OnDropFiles(RootEditor(), files.get(), action, do_default);
    if (!do_default) return action != rvdfNone;
  }
  bool any = false;
  for (int32_t i = 0; i < files->Count(); ++i) {
    const AnsiString name = files->Strings(i);
    try {
      const AnsiString ext = LowerCase(ExtractFileExt(name));
      const AnsiString picture_class = PictureClassOfFile(ext);
      if (!picture_class.empty()) {
        if (std::unique_ptr<TGraphic> graphic = RVCreateGraphic(picture_class)) {
          bool loaded = false;
          try {
            TFileStream stream(name, fmOpenRead | fmShareDenyNone);
            graphic->LoadFromStream(stream);
            loaded = !graphic->Empty();
          } catch (const std::exception&) {
            loaded = false;
          }
          if (loaded) {
            any = InsertPicture(AnsiString(), std::move(graphic), 0) || any;
            continue;
          }
        }
      }
      if (ext == ".rtf") {
        InsertRTFFromFile(name);
        any = true;
      } else if (ext == ".rvf") {
        InsertRVFFromFile(name);
        any = true;
      } else if (ext == ".txt") {
        InsertTextFromFile(name);
        any = true;
      }
    } catch (const std::exception&) {
      // A file that cannot be inserted is skipped.
    }
  }
  return any;
}

void TCustomDocViewEdit::BeginDropInsertion() {
  if (drop_.Begun) return;
  drop_.Begun = true;
  TCustomDocViewEdit* inner = InnermostEditor();
  TRVEditRVData* d = inner->EditData();
  drop_.Editor = inner;
  drop_.ItemNo = d->CurItemNo();
  drop_.Offs = d->OffsetInCurItem();
  drop_.WasText = drop_.ItemNo >= 0 && drop_.ItemNo < d->ItemCount() && d->GetItem(drop_.ItemNo)->StyleNo >= 0;
  drop_.AtItemStart = drop_.ItemNo >= 0 && drop_.ItemNo < d->ItemCount() && drop_.Offs == d->GetOffsBeforeItem(drop_.ItemNo);
  drop_.LengthBefore = GetTextLength(*d);
}

void TCustomDocViewEdit::EndDropInsertion() {
  if (!drop_.Begun) return;
  drop_.Begun = false;
  TCustomDocViewEdit* inner = drop_.Editor ? drop_.Editor : InnermostEditor();
  TRVEditRVData* d = inner->EditData();
  int32_t item_no = drop_.ItemNo, offs = drop_.Offs;
  if (item_no < 0 || item_no >= d->ItemCount()) return;
  if (drop_.AtItemStart) {
    // The item at the remembered index is now the first one inserted.
    const bool is_text = d->GetItem(item_no)->StyleNo >= 0;
    if (drop_.WasText && !is_text)
      offs = 0;
    else if (is_text && offs == 0)
      offs = 1;
  }
  // Exactly what went in is selected: from the remembered place as far as the document grew.
  int32_t start = 0;
  if (!ItemPosToLinear(d, d, item_no, offs, start)) return;
  start -= LinearParaBreakLength;
  const int32_t added = GetTextLength(*d) - drop_.LengthBefore;
  if (added <= 0) return;
  SetSelection(*d, start, added);
}

}  // namespace pelvar
