#include "richtext/edit/RVEdit.h"

#include <QApplication>
#include <QGuiApplication>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QLocale>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "platform/beep.h"
#include "platform/clipboard.h"
#include "richtext/model/RVConst.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "richtext/model/RVFuncs.h"
#include "richtext/model/RVStyleTemplate.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

// ---- The control's document ---------------------------------------------------------------------

TRVEditorControlData::TRVEditorControlData(TCustomDocViewEdit* editor) : TRVEditRVData(editor), Editor(editor) {}

bool TRVEditorControlData::BeforeChange(bool forced) { return Editor->BeforeChange(forced); }

void TRVEditorControlData::DoChange(bool clear_redo) {
  TRVEditRVData::DoChange(clear_redo);
  ++Editor->change_count_;
  if (Editor->command_depth_ > 0)
    Editor->changed_in_command_ = true;
  else
    Editor->DoNotifyChanged(clear_redo);
}

void TRVEditorControlData::DoCaretMove() { Editor->DoCaretMove(); }
bool TRVEditorControlData::NoImageResize() { return Editor->EditorOptions.Contains(rvoNoImageResize); }
bool TRVEditorControlData::IsReadOnly() { return Editor->GetReadOnly(); }

void TRVEditorControlData::SetCurTextStyleNo(int32_t value) {
  if (value == CurTextStyleNo) return;
  CurTextStyleNo = value;
  Editor->DoCurTextStyleChanged();
}

void TRVEditorControlData::SetCurParaStyleNo(int32_t value) {
  if (value == CurParaStyleNo) return;
  CurParaStyleNo = value;
  Editor->DoCurParaStyleChanged();
}

// ---- Construction ---------------------------------------------------------------------------------

TCustomDocViewEdit::TCustomDocViewEdit(QWidget* parent) : TCustomDocView(parent) {
  RVData.reset();
  RVData = std::make_unique<TRVEditorControlData>(this);
  // Arrow and page keys move the caret instead of scrolling.
  KeyboardScroll = false;
  // Hyperlinks are not live while editing; no external leading; the data switches links on
  // while it saves.
  Flags = static_cast<uint16_t>((Flags & ~(rvflJumps | rvflExternalLeading)) | 0x0080);
  EditorOptions = TRVEditorOptions{rvoCtrlJumps, rvoWantTabs};
  AcceptDragDropFormats = TRVDragDropFormats{rvddRVF, rvddRTF, rvddText, rvddUnicodeText, rvddBitmap, rvddMetafile,
                                             rvddFiles};
  LiveSpellingMode = rvlspOnChange;
  EditData()->SetUndoLimit(-1);
  Cursor = crIBeam;
  ApplyCursor(Cursor);
  setAttribute(Qt::WA_InputMethodEnabled);
  // The desktop tells of a new keyboard language through the input method's locale; the
  // editor that has the focus takes it as the input-language message.
  QObject::connect(QGuiApplication::inputMethod(), &QInputMethod::localeChanged, this, [this] {
    if (!hasFocus()) return;
    SendMessage(MessageHandle(), WM_INPUTLANGCHANGE, CharsetOfLocale(QGuiApplication::inputMethod()->locale()), 0);
  });
  // A program that installed no beep of its own hears the desktop's.
  TBeepSink sink = SetBeepSink({});
  if (!sink) sink = [](uint32_t) { QApplication::beep(); };
  SetBeepSink(std::move(sink));
}

TCustomDocViewEdit::~TCustomDocViewEdit() {
  // A derived editor should have ended live spelling already (see TDocViewEdit).
  StopLiveSpelling();
  // The target unbinds itself from the window while the control still exists.
  drop_target_.reset();
}

void TCustomDocViewEdit::CreateWnd() {
  TCustomDocView::CreateWnd();
  if (!drop_target_) {
    drop_target_ = std::make_unique<TRVDropTarget>(this);
    drop_target_->RegisterTarget();
  }
  // The vertical bar stays (disabled) when the document fits.
  VDisableNoScroll = true;
}

void TCustomDocViewEdit::SetReadOnly(bool value) {
  read_only_ = value;
  // A read-only editor follows its hyperlinks as a viewer does.
  if (value)
    EditData()->ShowJumps(true);
  else
    EditData()->HideJumps();
  TCustomDocViewEdit* inner = InnermostEditor();
  if (!inner->EditData()->NotFormatted() && inner->EditData()->CaretOffs >= 0)
    inner->EditData()->ChangeCaret(false, true, false);
  update();
}

void TCustomDocViewEdit::SetTabNavigation(TRVTabNavigationType value) {
  if (value != rvtnNone) throw EDocViewError("Not supported in editor");
  RVData->TabNavigation = value;
}

TCustomDocViewEdit* TCustomDocViewEdit::InnermostEditor() {
  TCustomDocViewEdit* e = this;
  while (TCustomDocViewEdit* inner = e->InplaceEdit()) e = inner;
  return e;
}

void TCustomDocViewEdit::AssignEvents(TCustomDocViewEdit* source) {
  if (!source) return;
  OnURLNeeded = source->OnURLNeeded;
  OnJump = source->OnJump;
  OnRVMouseMove = source->OnRVMouseMove;
  OnRVMouseDown = source->OnRVMouseDown;
  OnRVMouseUp = source->OnRVMouseUp;
  OnRVDblClick = source->OnRVDblClick;
  OnRVRightClick = source->OnRVRightClick;
  OnSelect = source->OnSelect;
  OnItemHint = source->OnItemHint;
  OnKeyPress = source->OnKeyPress;
  OnStyleConversion = source->OnStyleConversion;
  OnParaStyleConversion = source->OnParaStyleConversion;
  OnCurParaStyleChanged = source->OnCurParaStyleChanged;
  OnCurTextStyleChanged = source->OnCurTextStyleChanged;
  OnCaretMove = source->OnCaretMove;
  OnPaste = source->OnPaste;
  OnDropFiles = source->OnDropFiles;
  OnOleDragEnter = source->OnOleDragEnter;
  OnOleDragOver = source->OnOleDragOver;
  OnOleDrop = source->OnOleDrop;
  OnOleDragLeave = source->OnOleDragLeave;
}

// ---- Change control ----------------------------------------------------------------------------

bool TCustomDocViewEdit::BeforeChange(bool forced) {
  TRVEditRVData* d = EditData();
  bool allowed = !GetReadOnly() && Style() != nullptr && (forced || d->CaptureMouseItem == nullptr);
  if (allowed && OnChanging) {
    bool can_edit = true;
    OnChanging(RootEditor(), can_edit);
    allowed = can_edit;
  }
  if (!allowed) {
    d->Beep();
    return false;
  }
  // Live spelling reads the document without locks: it stops before anything changes. A
  // typed character keeps the thread's pending position (the character itself tells the
  // thread what it touched); any other change makes the thread recheck from the caret item.
  if (TCustomDocView* control = d->SpellingControl(); control && control->WordEnumThread) {
    TRVEditRVData* inner = InnermostEditor()->EditData();
    const bool typing = ((inner->State | d->State) & rvstTyping) != 0;
    control->WordEnumThread->Stop(!typing);
    if (!typing) {
      const int32_t item_no = inner->CurItemNo();
      if (item_no >= 0 && item_no < inner->ItemCount())
        control->WordEnumThread->SetPending(inner->GetSourceRVData(), item_no, 0);
    }
  }
  d->ClearSoftPageBreaks();
  d->ClearTagOnStyleApp = EditorOptions.Contains(rvoClearTagOnStyleApp);
  return true;
}

void TCustomDocViewEdit::DoNotifyChanged(bool clear_redo) {
  Modified = true;
  EditData()->ClearSoftPageBreaks();
  EditData()->UpdateResizer();
  EditData()->HideJumps();
  if (clear_redo) EditData()->RedoList->Clear();
  change_clears_redo_ = clear_redo;
  if (OnChange) OnChange(this);
  // Live spelling goes on once the whole command is over.
  if (EditData()->UndoList->GroupNesting <= 0 && InnermostEditor()->EditData()->UndoList->GroupNesting <= 0) {
    if (TCustomDocView* control = EditData()->SpellingControl(); control && control->WordEnumThread)
      control->LiveSpellingRestartDelayed();
    else if (LiveSpellingMode == rvlspOnChange)
      StartLiveSpelling();
  }
  update();
}

void TCustomDocViewEdit::DoCurTextStyleChanged() {
  if (Style() && !Destroying && OnCurTextStyleChanged) OnCurTextStyleChanged(RootEditor());
}

void TCustomDocViewEdit::DoCurParaStyleChanged() {
  if (Style() && !Destroying && OnCurParaStyleChanged) OnCurParaStyleChanged(RootEditor());
}

void TCustomDocViewEdit::DoCaretMove() {
  update();
  if (OnCaretMove) OnCaretMove(RootEditor());
}

bool TCustomDocViewEdit::RunCommand(uint8_t group_type, const std::function<void(TRVEditRVData*)>& body,
                                    bool delete_selection) {
  if (!BeforeChange(false)) return false;
  TRVEditRVData* d = EditData();
  ++command_depth_;
  changed_in_command_ = false;
  d->BeginUndoGroup(group_type, true);
  d->SetUndoGroupMode(true);
  try {
    if (!delete_selection || d->DeleteSelection()) body(d);
  } catch (...) {
    d->SetUndoGroupMode(false);
    --command_depth_;
    throw;
  }
  d->SetUndoGroupMode(false);
  d->UndoList->DropEmptyGroup();
  --command_depth_;
  if (changed_in_command_) NotifyChanged();
  return true;
}

// ---- Current styles ----------------------------------------------------------------------------

int32_t TCustomDocViewEdit::CurrentTextStyle() { return InnermostEditor()->EditData()->CurTextStyleNo; }
int32_t TCustomDocViewEdit::CurrentParaStyle() { return InnermostEditor()->EditData()->CurParaStyleNo; }

void TCustomDocViewEdit::SetCurrentTextStyle(int32_t value) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->SetCurrentTextStyle(value);
  EditData()->SetCurTextStyleNo(value);
}

void TCustomDocViewEdit::SetCurrentParaStyle(int32_t value) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->SetCurrentParaStyle(value);
  EditData()->SetCurParaStyleNo(value);
}

int32_t TCustomDocViewEdit::EffectiveTextStyle() {
  TRVEditRVData* d = InnermostEditor()->EditData();
  return d->GetActualStyle2(d->CurTextStyleNo, d->CurParaStyleNo);
}

void TCustomDocViewEdit::SwitchToUnicodeStyle() {
  TRVStyle* style = Style();
  if (!style) return;
  const int32_t eff = EffectiveTextStyle();
  if (eff >= 0 && eff < style->TextStyles()->Count() && style->TextStyles()->Items(eff)->Unicode) return;
  if (style->DefUnicodeStyle >= 0 && style->DefUnicodeStyle < style->TextStyles()->Count())
    SetCurrentTextStyle(style->DefUnicodeStyle);
}

// ---- Commands ------------------------------------------------------------------------------------

void TCustomDocViewEdit::InsertText(const AnsiString& text, bool caret_before) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->InsertText(text, caret_before);
  RunCommand(rvutInsert, [&](TRVEditRVData* d) {
    if (d->InsertText(text, true, caret_before)) d->DoChange(true);
  }, true);
}

void TCustomDocViewEdit::InsertUnicodeText(const AnsiString& text) {
  // The cell being edited takes it, as every text insertion does.
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->InsertUnicodeText(text);
  if (!BeforeChange(false)) return;
  SwitchToUnicodeStyle();
  RunCommand(rvutInsert, [&](TRVEditRVData* d) {
    if (d->InsertTextW(text, true, false)) d->DoChange(true);
  }, true);
}

bool TCustomDocViewEdit::InsertTextFromFile(const AnsiString& file_name) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->InsertTextFromFile(file_name);
  bool ok = false;
  if (!RunCommand(rvutInsert,
                  [&](TRVEditRVData* d) {
                    ok = d->InsertTextFromFile(file_name, false, true);
                    if (ok) d->DoChange(true);
                  },
                  true))
    return false;
  return ok;
}

bool TCustomDocViewEdit::InsertTab() {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->InsertTab();
  bool ok = false;
  RunCommand(rvutInsert,
             [&](TRVEditRVData* d) {
               auto* tab = new TRVTabItemInfo(d);
               tab->StyleNo = rvsTab;
               tab->TextStyleNo = d->CurTextStyleNo;
               AnsiString empty;
               ok = d->InsertItemAtCaret(tab, empty, false, false);
               if (ok) d->DoChange(true);
             },
             true);
  return ok;
}

bool TCustomDocViewEdit::InsertItem(const AnsiString& name, TCustomRVItemInfo* item) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->InsertItem(name, item);
  std::unique_ptr<TCustomRVItemInfo> guard(item);
  bool ok = false;
  RunCommand(rvutInsert,
             [&](TRVEditRVData* d) {
               AnsiString text = name;
               ok = d->InsertItemAtCaret(guard.release(), text, false, false);
             },
             true);
  return ok;
}

bool TCustomDocViewEdit::InsertTaggedText(const AnsiString& text, const TRVTag& tag) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->InsertTaggedText(text, tag);
  TRVEditRVData* d = EditData();
  TRVStyle* style = Style();
  AnsiString t = style ? RV_ReplaceTabsA(text, std::max(style->SpacesInTab, 0)) : text;
  auto* item = d->NewTextItem(RV_CopyTag(tag, d->GetOptions().Contains(rvoTagsArePChars)), d->CurParaStyleNo,
                              d->CurTextStyleNo, false, false);
  const int32_t eff = d->GetActualStyle(item);
  if (item->ItemOptions.Contains(rvioUnicodeText)) t = RVU_AnsiToUnicode(d->GetStyleCodePage(eff), t);
  return InsertItem(t, item);
}

bool TCustomDocViewEdit::InsertPicture(const AnsiString& name, std::unique_ptr<TGraphic> graphic, uint8_t valign) {
  auto* pic = new TRVGraphicItemInfo(EditData(), std::move(graphic), valign);
  pic->UpdatePaletteInfo(static_cast<int32_t>(DoInPaletteMode()), false);
  return InsertItem(name, pic);
}

void TCustomDocViewEdit::ChangeItemExtraIntProperty(int32_t item_no, int32_t prop_id, int32_t value,
                                                    bool auto_reformat) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->ChangeItemExtraIntProperty(item_no, prop_id, value, auto_reformat);
  TRVEditRVData* d = EditData();
  int32_t old = 0;
  if (item_no < 0 || item_no >= d->ItemCount() || !d->GetItem(item_no)->GetExtraIntProperty(prop_id, old) ||
      old == value)
    return;
  RunCommand(rvutModifyItem,
             [&](TRVEditRVData* ed) {
               ed->RecSetExtraIntProperty(item_no, prop_id, value);
               if (auto_reformat) ed->FormatKeepingCaret();
               ed->DoChange(true);
             },
             false);
}

uint8_t TCustomDocViewEdit::PendingUndoType() {
  if (TCustomDocViewEdit* e = InplaceEdit())
    if (uint8_t t = e->PendingUndoType()) return t;
  return EditData()->UndoList->LastGroupType();
}

uint8_t TCustomDocViewEdit::PendingRedoType() {
  if (TCustomDocViewEdit* e = InplaceEdit())
    if (uint8_t t = e->PendingRedoType()) return t;
  return EditData()->RedoList->LastGroupType();
}

void TCustomDocViewEdit::DiscardUndoHistory() {
  if (TCustomDocViewEdit* e = InplaceEdit()) e->DiscardUndoHistory();
  EditData()->UndoList->Clear();
  EditData()->RedoList->Clear();
}

TCustomRVItemInfo* TCustomDocViewEdit::GetCurrentItem() {
  TRVEditRVData* d = InnermostEditor()->EditData();
  const int32_t i = d->CurItemNo();
  return i >= 0 && i < d->ItemCount() ? d->GetItem(i) : nullptr;
}

void TCustomDocViewEdit::DeleteSelection() {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->DeleteSelection();
  if (!EditData()->SelectionExists(false)) return;
  RunCommand(rvutDelete, [](TRVEditRVData*) {}, true);
  update();
}

bool TCustomDocViewEdit::InsertStream(const std::function<bool(TRVEditRVData*)>& read) {
  bool ok = false;
  TRVEditRVData* data = EditData();
  for (int32_t k = 0; k < data->ItemCount(); ++k)
    if (data->GetItem(k)->IsPartiallySelected()) {
      data->Beep();
      return false;
    }
  if (data->SelectionExists(false) && !data->CanDeleteSelection()) {
    data->Beep();
    return false;
  }
  if (!RunCommand(rvutInsert,
                  [&](TRVEditRVData* d) {
                    ok = read(d);
                    d->DoChange(true);
                  },
                  true))
    return false;
  return ok;
}

bool TCustomDocViewEdit::InsertRVFFromStream(TStream& stream) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->InsertRVFFromStream(stream);
  return InsertStream([&](TRVEditRVData* d) { return d->InsertRVFAtCaret(stream); });
}

TRVRTFReaderProperties* TCustomDocViewEdit::RTFReadProperties() {
  if (!rtf_read_properties_) rtf_read_properties_ = std::make_unique<TRVRTFReaderProperties>();
  return rtf_read_properties_.get();
}

bool TCustomDocViewEdit::InsertRTFFromStream(TStream& stream) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->InsertRTFFromStream(stream);
  EditData()->RTFReadProperties = RTFReadProperties();
  return InsertStream([&](TRVEditRVData* d) { return d->InsertRTFAtCaret(stream); });
}

bool TCustomDocViewEdit::InsertRTFFromFile(const AnsiString& file_name) {
  try {
    TFileStream stream(file_name, fmOpenRead | fmShareDenyNone);
    RTFReadProperties()->ResourceBasePath = ExtractFilePath(file_name);
    const bool ok = InsertRTFFromStream(stream);
    RTFReadProperties()->ResourceBasePath.clear();
    return ok;
  } catch (const std::exception&) {
    RTFReadProperties()->ResourceBasePath.clear();
    return false;
  }
}

bool TCustomDocViewEdit::InsertRVFFromFile(const AnsiString& file_name) {
  try {
    TFileStream stream(file_name, fmOpenRead | fmShareDenyNone);
    return InsertRVFFromStream(stream);
  } catch (const std::exception&) {
    return false;
  }
}

void TCustomDocViewEdit::SetConversion(const TRVStyleConversionEvent& event) {
  EditData()->StyleConversion = [this, event](int32_t style_no, int32_t, int32_t user_data, bool applied_to_text,
                                              int32_t& new_style_no, bool) {
    if (event) event(RootEditor(), style_no, user_data, applied_to_text, new_style_no);
  };
}

void TCustomDocViewEdit::SetSelectionTextStyle(int32_t style_no) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->SetSelectionTextStyle(style_no);
  if (!BeforeChange(false)) return;
  SetConversion([style_no](TCustomDocViewEdit* ed, int32_t old, int32_t, bool applied_to_text, int32_t& n) {
    TRVStyle* style = ed->Style();
    if (applied_to_text && style && old >= 0 && old < style->TextStyles()->Count() &&
        style->TextStyles()->Items(old)->Protection.Contains(rvprStyleProtect))
      return;
    n = style_no;
  });
  RunCommand(rvutStyleNo, [&](TRVEditRVData* d) { d->ApplyTextStyleConversion(style_no, 1, false); }, false);
}

void TCustomDocViewEdit::SetSelectionParaStyle(int32_t para_no) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->SetSelectionParaStyle(para_no);
  RunCommand(rvutPara, [&](TRVEditRVData* d) { d->ApplyParaStyle(para_no, 0); }, false);
}

void TCustomDocViewEdit::ConvertTextStyles(int32_t user_data) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->ConvertTextStyles(user_data);
  if (!OnStyleConversion) return;
  SetConversion(OnStyleConversion);
  RunCommand(rvutStyleNo, [&](TRVEditRVData* d) { d->ApplyTextStyleConversion(user_data, 3, false); }, false);
}

void TCustomDocViewEdit::ConvertParaStyles(int32_t user_data) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->ConvertParaStyles(user_data);
  if (!OnParaStyleConversion) return;
  SetConversion(OnParaStyleConversion);
  RunCommand(rvutPara, [&](TRVEditRVData* d) { d->ApplyParaStyle(user_data, 2); }, false);
}

void TCustomDocViewEdit::ApplyParaTemplate(int32_t template_no) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->ApplyParaTemplate(template_no);
  EditData()->StyleConversion = [this](int32_t style_no, int32_t, int32_t user_data, bool, int32_t& new_style_no,
                                       bool) {
    TRVStyle* st = Style();
    if (!st || style_no < 0 || style_no >= st->ParaStyles()->Count()) return;
    TParaInfo* p = st->ParaStyles()->Items(style_no);
    if (p->Options.Contains(rvpaoStyleProtect)) return;
    TParaInfo copy(nullptr);
    copy.Assign(p);
    if (user_data >= 0 && user_data < st->StyleTemplates()->Count())
      st->StyleTemplates()->Items(user_data)->ApplyToParaStyle(&copy, true);
    else
      st->StyleTemplates()->ResetParaStyle(&copy);
    int32_t found = st->ParaStyles()->FindMatchingStyle(style_no, &copy, RVAllParaInfoProperties);
    if (found < 0) {
      TParaInfo* added = st->ParaStyles()->Add();
      added->Assign(&copy);
      added->Standard = false;
      found = st->ParaStyles()->Count() - 1;
    }
    new_style_no = found;
  };
  RunCommand(rvutPara, [&](TRVEditRVData* d) { d->ApplyParaStyle(template_no, 4); }, false);
}

void TCustomDocViewEdit::ApplyTextTemplate(int32_t template_no, bool whole_paragraphs) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->ApplyTextTemplate(template_no, whole_paragraphs);
  if (!BeforeChange(false)) return;
  EditData()->StyleConversion = [this](int32_t style_no, int32_t para_no, int32_t user_data, bool,
                                       int32_t& new_style_no, bool whole) {
    TRVStyle* st = Style();
    if (!st || style_no < 0 || style_no >= st->TextStyles()->Count()) return;
    TFontInfo* f = st->TextStyles()->Items(style_no);
    if (f->Protection.Contains(rvprStyleProtect)) return;
    TFontInfo copy(nullptr);
    copy.Assign(f);
    TParaInfo* para = para_no >= 0 && para_no < st->ParaStyles()->Count() ? st->ParaStyles()->Items(para_no) : nullptr;
    if (user_data >= 0 && user_data < st->StyleTemplates()->Count())
      st->StyleTemplates()->Items(user_data)->ApplyToTextStyle(&copy, para, !whole);
    else
      st->StyleTemplates()->ResetTextStyle(&copy, para);
    int32_t found = st->TextStyles()->FindMatchingStyle(style_no, &copy, RVAllFontInfoProperties);
    if (found < 0) {
      TFontInfo* added = st->TextStyles()->Add();
      added->Assign(&copy);
      added->Standard = false;
      found = st->TextStyles()->Count() - 1;
    }
    new_style_no = found;
  };
  RunCommand(rvutPara, [&](TRVEditRVData* d) { d->ApplyTextStyleConversion(template_no, 5, whole_paragraphs); },
             false);
}

void TCustomDocViewEdit::Undo() {
  TRVEditRVData* d = EditData();
  if (GetReadOnly()) {
    d->Beep();
    return;
  }
  if (TCustomDocViewEdit* inner = InplaceEdit()) {
    if (inner->PendingUndoType() != rvutNone) return inner->Undo();
    // The cell editor closes first (not inside its own message), then this document undoes.
    if (d->UndoList->Count() > 0) PostMessage(MessageHandle(), WM_RVUNDOFROMINPLACE, 0, 0);
    return;
  }
  if (d->UndoList->Count() == 0) {
    d->Beep();
    return;
  }
  StopLiveSpellingForUndo();
  d->Undo();
  DoNotifyChanged(false);
}

void TCustomDocViewEdit::Redo() {
  TRVEditRVData* d = EditData();
  if (GetReadOnly()) {
    d->Beep();
    return;
  }
  if (TCustomDocViewEdit* inner = InplaceEdit()) {
    if (inner->PendingRedoType() != rvutNone) return inner->Redo();
    if (d->RedoList->Count() > 0) PostMessage(MessageHandle(), WM_RVREDOFROMINPLACE, 0, 0);
    return;
  }
  if (d->RedoList->Count() == 0) {
    d->Beep();
    return;
  }
  StopLiveSpellingForUndo();
  d->Redo();
  DoNotifyChanged(false);
}

void TCustomDocViewEdit::RecheckModifiedWord() {
  TCustomDocView* control = EditData()->SpellingControl();
  if (!control || !control->WordEnumThread) return;
  TRVEditRVData* inner = InnermostEditor()->EditData();
  const int32_t item_no = inner->CurItemNo();
  if (item_no >= 0 && item_no < inner->ItemCount())
    control->LiveSpellingRecheckModifiedWord(inner->GetSourceRVData(), item_no);
}

void TCustomDocViewEdit::StopLiveSpellingForUndo() {
  if (TCustomDocView* control = EditData()->SpellingControl(); control && control->WordEnumThread)
    control->WordEnumThread->Stop(true);
}

void TCustomDocViewEdit::CloseInplaceEditor() { DestroyInplaceEditor(); }

void TCustomDocViewEdit::DestroyInplaceEditor() {
  if (TCustomDocViewEdit* inner = InplaceEdit()) inner->CloseByHost();
  inplace_editor_ = nullptr;
}

void TCustomDocViewEdit::Clear() {
  TCustomDocView::Clear();
  Modified = false;
  DoCurTextStyleChanged();
  DoCurParaStyleChanged();
}

void TCustomDocViewEdit::WndProc(TMessage& message) {
  switch (message.Msg) {
    case WM_UNDO:
    case EM_UNDO:
      message.Result = PendingUndoType() != rvutNone;
      Undo();
      return;
    case EM_CANUNDO: message.Result = PendingUndoType() != rvutNone; return;
    case EM_REDO:
      message.Result = PendingRedoType() != rvutNone;
      if (message.Result) Redo();
      return;
    case EM_CANREDO: message.Result = PendingRedoType() != rvutNone; return;
    case WM_CLEAR: DeleteSelection(); return;
    case WM_CUT: CutToClipboard(); return;
    case WM_PASTE: Paste(); return;
    case EM_CANPASTE: {
      TClipboard& clipboard = Clipboard();
      const uint32_t format = static_cast<uint32_t>(message.WParam);
      if (GetReadOnly())
        message.Result = 0;
      else if (format == 0)
        message.Result = CanPaste();
      else if (format == CF_TEXT || format == CF_BITMAP || format == CF_METAFILEPICT || format == CF_UNICODETEXT)
        message.Result = clipboard.HasFormat(static_cast<uint16_t>(format));
      else if (format == CFRV_RTF())
        message.Result = CanPasteRTF();
      else if (format == CFRV_RVF())
        message.Result = CanPasteRVF();
      else
        message.Result = 0;
      return;
    }
    case WM_INPUTLANGCHANGE:
      message.Result = InputLanguageChanged(static_cast<TFontCharset>(message.WParam)) ? 1 : 0;
      return;
    case WM_RVUNDOFROMINPLACE:
      CloseInplaceEditor();
      Undo();
      return;
    case WM_RVREDOFROMINPLACE:
      CloseInplaceEditor();
      Redo();
      return;
    default: TCustomDocView::WndProc(message);
  }
}

// ---- Input language ----------------------------------------------------------------------------

TFontCharset TCustomDocViewEdit::CharsetOfLocale(const QLocale& locale) {
  switch (locale.language()) {
    case QLocale::Russian:
    case QLocale::Ukrainian:
    case QLocale::Belarusian:
    case QLocale::Bulgarian:
    case QLocale::Macedonian:
    case QLocale::Kazakh:
    case QLocale::Kyrgyz:
    case QLocale::Tatar:
    case QLocale::Mongolian: return RUSSIAN_CHARSET;
    case QLocale::Serbian: return locale.script() == QLocale::LatinScript ? EASTEUROPE_CHARSET : RUSSIAN_CHARSET;
    case QLocale::Czech:
    case QLocale::Slovak:
    case QLocale::Polish:
    case QLocale::Hungarian:
    case QLocale::Slovenian:
    case QLocale::Croatian:
    case QLocale::Bosnian:
    case QLocale::Romanian:
    case QLocale::Albanian: return EASTEUROPE_CHARSET;
    case QLocale::Greek: return GREEK_CHARSET;
    case QLocale::Turkish:
    case QLocale::Azerbaijani: return TURKISH_CHARSET;
    case QLocale::Hebrew: return HEBREW_CHARSET;
    case QLocale::Arabic:
    case QLocale::Persian:
    case QLocale::Urdu: return ARABIC_CHARSET;
    case QLocale::Estonian:
    case QLocale::Latvian:
    case QLocale::Lithuanian: return BALTIC_CHARSET;
    case QLocale::Vietnamese: return VIETNAMESE_CHARSET;
    case QLocale::Thai: return THAI_CHARSET;
    case QLocale::Japanese: return SHIFTJIS_CHARSET;
    case QLocale::Korean: return HANGEUL_CHARSET;
    case QLocale::Chinese:
      return locale.script() == QLocale::TraditionalChineseScript ? CHINESEBIG5_CHARSET : GB2312_CHARSET;
    default: return ANSI_CHARSET;
  }
}

bool TCustomDocViewEdit::InputLanguageChanged(TFontCharset charset) {
  TRVStyle* style = Style();
  TRVEditRVData* d = EditData();
  if (!style || d->ItemCount() == 0 || !EditorOptions.Contains(rvoAutoSwitchLang)) return false;
  TFontInfos* styles = style->TextStyles();
  const int32_t eff = EffectiveTextStyle();
  if (eff < 0 || eff >= styles->Count() || styles->Items(eff)->Unicode) return false;
  int32_t no = styles->FindStyleWithCharset(eff, charset);
  if (no < 0) {
    TFontInfo* added = styles->Add();
    added->Assign(styles->Items(eff));
    added->Standard = false;
    added->Charset = charset;
    no = styles->Count() - 1;
  }
  SetCurrentTextStyle(no);
  return true;
}

// ---- Keys ----------------------------------------------------------------------------------------

void TCustomDocViewEdit::EditKeyDown(int key, TShiftState shift) {
  TRVEditRVData* d = EditData();
  const bool s = (shift & ssShift) != 0, c = (shift & ssCtrl) != 0;
  auto move = [&](const std::function<bool()>& op, TRVGetOutDirection dir) {
    RecheckModifiedWord();
    if (s)
      d->AnchorSelectionAtCaret();
    else if (d->SelectionExists(false))
      d->Deselect(nullptr, true);
    const bool out = op();
    if (s) d->ExtendSelectionToCaret();
    update();
    if (out && OnCaretGetOut) OnCaretGetOut(RootEditor(), dir);
  };
  const bool rtl = BiDiMode() == rvbdRightToLeft;
  const bool alt = (shift & ssAlt) != 0;
  // Undo and redo: Ctrl+Z (with Shift: redo), and the old Alt+Backspace (with Shift: redo).
  if ((c && !alt && key == Qt::Key_Z) || (alt && key == Qt::Key_Backspace)) {
    s ? Redo() : Undo();
    return;
  }
  // Ctrl+Up and Ctrl+Down scroll the root editor one step; the caret stays.
  if (c && (key == Qt::Key_Up || key == Qt::Key_Down)) {
    TCustomDocViewEdit* root = RootEditor();
    SendMessage(root->MessageHandle(), WM_VSCROLL, key == Qt::Key_Up ? SB_LINEUP : SB_LINEDOWN, 0);
    return;
  }
  // The clipboard shortcuts; Shift+Delete cuts only a selection (else it deletes a character).
  if (IsCopyShortcut(shift, key)) {
    CopyToClipboard();
    return;
  }
  if (IsCutShortcut(shift, key) && (key != Qt::Key_Delete || d->SelectionExists(false))) {
    CutToClipboard();
    return;
  }
  if (IsPasteShortcut(shift, key)) {
    Paste();
    return;
  }
  switch (key) {
    case Qt::Key_Escape: d->CancelResize(); return;
    case Qt::Key_Control:
      // Hyperlinks work while Ctrl is held.
      if (EditorOptions.Contains(rvoCtrlJumps) && !(d->GetFlags() & rvflJumps)) {
        d->ShowJumps(false);
        GenerateMouseMove();
      }
      return;
    case Qt::Key_Left:
      move([&] { return rtl ? d->MoveRight(s, c) : d->MoveLeft(s, c); }, rtl ? rvdRight : rvdLeft);
      return;
    case Qt::Key_Right:
      move([&] { return rtl ? d->MoveLeft(s, c) : d->MoveRight(s, c); }, rtl ? rvdLeft : rvdRight);
      return;
    case Qt::Key_Up: move([&] { return d->MoveUp(s, c); }, rvdUp); return;
    case Qt::Key_Down: move([&] { return d->MoveDown(s, c); }, rvdDown); return;
    case Qt::Key_Home: move([&] { return d->MoveHome(c); }, rvdTop); return;
    case Qt::Key_End: move([&] { return d->MoveEnd(c); }, rvdBottom); return;
    case Qt::Key_PageUp: move([&] { return d->PageUp(); }, rvdUp); return;
    case Qt::Key_PageDown: move([&] { return d->PageDown(); }, rvdDown); return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (EditorOptions.Contains(rvoDoNotWantReturns)) {
        d->Beep();
        return;
      }
      if (s && EditorOptions.Contains(rvoDoNotWantShiftReturns)) return;
      RunCommand(rvutNewLine, [&](TRVEditRVData* e) { e->EnterKey(s); }, true);
      return;
    case Qt::Key_Backspace:
      if (d->SelectionExists(false))
        DeleteSelection();
      else
        RunCommand(rvutDelete, [&](TRVEditRVData* e) { e->BackspaceKey(c, false, false); }, false);
      return;
    case Qt::Key_Delete:
      if (d->SelectionExists(false))
        DeleteSelection();
      else
        RunCommand(rvutDelete, [&](TRVEditRVData* e) { e->DeleteKey(c); }, false);
      return;
    case Qt::Key_Tab:
      // A tab is typed as a character: Ctrl+Tab always (posted, as a character arrives
      // after its key), Tab when the editor wants tabs.
      if (c) {
        QPointer<TCustomDocViewEdit> self(this);
        QMetaObject::invokeMethod(
            this, [self] { if (self) self->EditKeyPress(QString(QChar(u'\t'))); }, Qt::QueuedConnection);
      } else if (EditorOptions.Contains(rvoWantTabs)) {
        EditKeyPress(QString(QChar(u'\t')));
      }
      return;
    case Qt::Key_Y:
      if (c) Redo();
      return;
    default: return;
  }
}

void TCustomDocViewEdit::EditKeyUp(int key, TShiftState) {
  if (key != Qt::Key_Control) return;
  EditData()->HideJumps();
  GenerateMouseMove();
}

void TCustomDocViewEdit::ImeCommit(const QString& text) {
  if (text.isEmpty() || !BeforeChange(false)) return;
  AnsiString raw;
  for (QChar qc : text) {
    raw += static_cast<char>(qc.unicode() & 0xFF);
    raw += static_cast<char>(qc.unicode() >> 8);
  }
  InsertUnicodeText(raw);
}

void TCustomDocViewEdit::EditKeyPress(const QString& text) {
  if (TCustomDocViewEdit* e = InplaceEdit()) return e->EditKeyPress(text);
  TRVEditRVData* d = EditData();
  for (QChar qc : text) {
    char16_t ch = qc.unicode();
    if ((ch < 0x20 && ch != u'\t') || ch == 0x7F) continue;
    if (!d->BeforeTypingChange()) return;
    if (OnKeyPress) {
      OnKeyPress(this, ch);
      if (ch == 0) continue;
    }
    if (d->PartiallySelectedItem()) {
      d->Beep();
      continue;
    }
    if (ch == u'\t') {
      // A tab replaces the selection by the style sheet's number of spaces, or by a tab
      // item when it asks for none.
      TRVStyle* style = Style();
      if (style && style->SpacesInTab > 0)
        InsertText(AnsiString(static_cast<size_t>(style->SpacesInTab), ' '), false);
      else
        InsertTab();
      continue;
    }
    ++command_depth_;
    changed_in_command_ = false;
    try {
      bool ok = true;
      if (d->SelectionExists(false)) {
        d->BeginUndoGroup(rvutDelete, true);
        ok = d->DeleteSelection();
      }
      if (ok) {
        TRVStyle* style = Style();
        const int32_t eff = d->CurEffectiveTextStyle();
        if (style && eff >= 0 && eff < style->TextStyles()->Count() && style->TextStyles()->Items(eff)->Unicode) {
          d->TypeText(RVU_WideStringToRawUnicode(WideString(1, ch)), '?');
        } else {
          const int b = CharToByte(ch);
          d->TypeChar(static_cast<char>(b < 0 ? '?' : b));
        }
      }
    } catch (...) {
      --command_depth_;
      throw;
    }
    --command_depth_;
    if (changed_in_command_) NotifyChanged();
  }
}

void TCustomDocViewEdit::keyPressEvent(QKeyEvent* e) {
  TShiftState shift = 0;
  if (e->modifiers() & Qt::ShiftModifier) shift |= ssShift;
  if (e->modifiers() & Qt::ControlModifier) shift |= ssCtrl;
  if (e->modifiers() & Qt::AltModifier) shift |= ssAlt;
  const int key = e->key();
  switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Tab:
    case Qt::Key_Insert:
    case Qt::Key_Control:
    case Qt::Key_Escape:
      EditKeyDown(key, shift);
      e->accept();
      return;
    default: break;
  }
  if ((shift & ssCtrl) && !(shift & ssAlt)) {
    EditKeyDown(key, shift);
    e->accept();
    return;
  }
  if (!e->text().isEmpty()) {
    EditKeyPress(e->text());
    e->accept();
    return;
  }
  TCustomDocView::keyPressEvent(e);
}

void TCustomDocViewEdit::keyReleaseEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Control && !e->isAutoRepeat()) {
    EditKeyUp(e->key(), 0);
    e->accept();
    return;
  }
  TCustomDocView::keyReleaseEvent(e);
}

void TCustomDocViewEdit::mousePressEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  if (e->button() == Qt::LeftButton && EditData()->ResizerMouseDown(p.x(), p.y())) {
    e->accept();
    return;
  }
  TCustomDocView::mousePressEvent(e);
}

void TCustomDocViewEdit::mouseMoveEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  TShiftState shift = 0;
  if (e->modifiers() & Qt::ShiftModifier) shift |= ssShift;
  if (e->modifiers() & Qt::ControlModifier) shift |= ssCtrl;
  if (EditData()->ResizerMouseMove(shift, p.x(), p.y())) {
    e->accept();
    return;
  }
  TCustomDocView::mouseMoveEvent(e);
}

void TCustomDocViewEdit::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && EditData()->ResizerMouseUp()) {
    e->accept();
    return;
  }
  TCustomDocView::mouseReleaseEvent(e);
}

void TCustomDocViewEdit::inputMethodEvent(QInputMethodEvent* e) {
  // The composition itself is shown by the input method; only the committed string edits.
  if (TCustomDocViewEdit* inner = InnermostEditor(); inner != this) {
    inner->ImeCommit(e->commitString());
  } else {
    ImeCommit(e->commitString());
  }
  e->accept();
}

QVariant TCustomDocViewEdit::inputMethodQuery(Qt::InputMethodQuery query) const {
  auto* self = const_cast<TCustomDocViewEdit*>(this);
  TRVEditRVData* d = self->EditData();
  switch (query) {
    case Qt::ImEnabled: return !read_only_;
    case Qt::ImCursorRectangle: {
      int32_t x = 0, y = 0;
      if (d->CaretHeight > 0) d->GetCaretClientPos(x, y);
      return QRect(x, y, 1, std::max<int32_t>(d->CaretHeight, 1));
    }
    default: return TCustomDocView::inputMethodQuery(query);
  }
}

// ---- Caret display ---------------------------------------------------------------------------

void TCustomDocViewEdit::paintEvent(QPaintEvent* e) {
  TCustomDocView::paintEvent(e);
  PaintDropCaret();
  TRVEditRVData* d = EditData();
  if (!hasFocus() || d->CaretHeight == 0) return;
  if (GetReadOnly() && EditorOptions.Contains(rvoHideReadOnlyCaret)) return;
  int32_t x = 0, y = 0;
  d->GetCaretClientPos(x, y);
  QPainter p(this);
  p.fillRect(QRect(x, y, 1, d->CaretHeight), palette().color(QPalette::Text));
}

void TCustomDocViewEdit::PaintDropCaret() {
  TRVDragDropCaretInfo* caret = EditData()->GetDragDropCaretInfo();
  auto* owner = caret ? dynamic_cast<TCustomRVFormattedData*>(caret->RVData) : nullptr;
  if (!owner) return;
  int32_t ox = 0, oy = 0;
  owner->GetOriginEx(ox, oy);
  const int32_t x = caret->X + ox - EditData()->GetHOffs();
  const int32_t y0 = caret->Y + oy - owner->GetVAlignOffset() - EditData()->GetVOffs();
  QPainter p(this);
  p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  p.setPen(Qt::white);
  for (int32_t y = y0; y <= y0 + caret->Height; y += 2) p.drawLine(x, y, x + 1, y);
}

void TCustomDocViewEdit::focusInEvent(QFocusEvent* e) {
  TCustomDocView::focusInEvent(e);
  update();
}

void TCustomDocViewEdit::focusOutEvent(QFocusEvent* e) {
  TCustomDocView::focusOutEvent(e);
  update();
}

}  // namespace pelvar
