// The editor control: the viewer control with an editable document. It adds the editing
// commands (each one asks BeforeChange, runs in one undo group and ends with the change
// notification), the current text and paragraph styles, read-only mode, undo and redo, the
// change events and the keys of the editor, which arrive through the Qt event queue.
#pragma once

#include <QPointer>
#include <cstdint>
#include <functional>

#include "richtext/edit/RVERVData.h"
#include "richtext/model/RVRTFProps.h"
#include "richtext/view/DocView.h"
#include "richtext/view/RVDragDrop.h"

class QInputMethodEvent;
class QLocale;

namespace pelvar {

enum TRVEditorOption : uint8_t {
  rvoClearTagOnStyleApp,
  rvoCtrlJumps,
  rvoDoNotWantReturns,
  rvoDoNotWantShiftReturns,
  rvoWantTabs,
  rvoAutoSwitchLang,
  rvoHideReadOnlyCaret,
  rvoNoImageResize,
  rvoNoCaretHighlightJumps
};
using TRVEditorOptions = TRVSet<TRVEditorOption, uint16_t>;

enum TRVDragDropFormat : uint8_t {
  rvddRVF,
  rvddRTF,
  rvddText,
  rvddUnicodeText,
  rvddBitmap,
  rvddMetafile,
  rvddURL,
  rvddFiles
};
using TRVDragDropFormats = TRVSet<TRVDragDropFormat, uint8_t>;

enum TRVGetOutDirection : uint8_t { rvdLeft, rvdUp, rvdRight, rvdDown, rvdTop, rvdBottom };
enum TRVDropFileAction : uint8_t { rvdfNone, rvdfInsert, rvdfLink };
// The bits of a set of effects are the platform's DROPEFFECT bits shifted one up.
enum TRVOleDropEffect : uint8_t { rvdeNone, rvdeCopy, rvdeMove, rvdeLink };
using TRVOleDropEffects = TRVSet<TRVOleDropEffect, uint8_t>;

// Edit-control messages the editor answers.
constexpr uint32_t WM_CLEAR = 0x0303;
constexpr uint32_t WM_UNDO = 0x0304;
constexpr uint32_t EM_CANUNDO = 0x00C6;
constexpr uint32_t EM_UNDO = 0x00C7;
constexpr uint32_t EM_REDO = 0x0454;
constexpr uint32_t EM_CANREDO = 0x0455;
constexpr uint32_t EM_CANPASTE = 0x0432;
// The keyboard's input language changed; the first parameter is the new language's charset.
constexpr uint32_t WM_INPUTLANGCHANGE = 0x0051;
// Posted to itself: close the cell editor, then undo (redo) in this editor's document.
constexpr uint32_t WM_RVUNDOFROMINPLACE = WM_USER + 13;
constexpr uint32_t WM_RVREDOFROMINPLACE = WM_USER + 14;

class TCustomDocViewEdit;

using TRVChangingEvent = std::function<void(TCustomDocViewEdit* sender, bool& can_edit)>;
using TRVStyleConversionEvent = std::function<void(TCustomDocViewEdit* sender, int32_t style_no, int32_t user_data,
                                                   bool applied_to_text, int32_t& new_style_no)>;
using TRVOnCaretGetOutEvent = std::function<void(TCustomDocViewEdit* sender, TRVGetOutDirection direction)>;
using TRVEditNotifyEvent = std::function<void(TCustomDocViewEdit* sender)>;
using TRVPasteEvent = std::function<void(TCustomDocViewEdit* sender, bool& do_default)>;
using TRVDropFilesEvent = std::function<void(TCustomDocViewEdit* sender, TStrings* files,
                                             TRVDropFileAction& file_action, bool& do_default)>;
using TRVOleDragEnterEvent =
    std::function<void(TCustomDocView* sender, IDataObject* data_object, TShiftState shift, int32_t x, int32_t y,
                       TRVOleDropEffects possible_drop_effects, TRVOleDropEffect& drop_effect)>;
using TRVOleDragOverEvent = std::function<void(TCustomDocView* sender, TShiftState shift, int32_t x, int32_t y,
                                               TRVOleDropEffects possible_drop_effects,
                                               TRVOleDropEffect& drop_effect)>;
using TRVOleDropEvent =
    std::function<void(TCustomDocView* sender, IDataObject* data_object, TShiftState shift, int32_t x, int32_t y,
                       TRVOleDropEffects possible_drop_effects, TRVOleDropEffect& drop_effect, bool& do_default)>;

// The editable document of an editor control: its hooks ask and tell the control.
class TRVEditorControlData : public TRVEditRVData {
 public:
  explicit TRVEditorControlData(TCustomDocViewEdit* editor);
  TCustomDocViewEdit* Editor;
  bool BeforeChange(bool forced) override;
  void DoChange(bool clear_redo) override;
  void DoCaretMove() override;
  bool IsReadOnly() override;
  void SetCurTextStyleNo(int32_t value) override;
  void SetCurParaStyleNo(int32_t value) override;
  bool NoImageResize() override;
};

class TCustomDocViewEdit : public TCustomDocView {
 public:
  explicit TCustomDocViewEdit(QWidget* parent = nullptr);
  ~TCustomDocViewEdit() override;

  TRVEditRVData* EditData() const { return static_cast<TRVEditRVData*>(RVData.get()); }

  // ---- Properties ----
  TRVEditorOptions EditorOptions;
  TRVDragDropFormats AcceptDragDropFormats;
  bool Modified = false;
  virtual bool GetReadOnly() const { return read_only_; }
  virtual void SetReadOnly(bool value);
  bool ReadOnly() const { return GetReadOnly(); }
  int32_t UndoLimit() const { return EditData()->GetUndoLimit(); }
  void SetUndoLimit(int32_t value) { EditData()->SetUndoLimit(value); }
  // Tab navigation is the viewer's; an editor takes Tab as text.
  void SetTabNavigation(TRVTabNavigationType value);
  TRVTabNavigationType TabNavigation() const { return RVData->TabNavigation; }

  // ---- Editors in a chain (a table cell's in-place editor) ----
  QWidget* GetInplaceEditor() override { return inplace_editor_.data(); }
  // Hosts the in-place editor of a cell (nullptr: none).
  void SetInplaceEditor(TCustomDocViewEdit* editor) { inplace_editor_ = editor; }
  // Closes the cell editor (hidden and forgotten; its owner frees it).
  void CloseInplaceEditor();
  void DestroyInplaceEditor() override;
  // How a cell editor is closed by the editor hosting it: hidden by default; a table's cell
  // editor returns its items to the cell.
  virtual void CloseByHost() { hide(); }
  TCustomDocViewEdit* InplaceEdit() { return dynamic_cast<TCustomDocViewEdit*>(GetInplaceEditor()); }
  TCustomDocViewEdit* InnermostEditor();
  TCustomDocViewEdit* RootEditor() { return root_editor_ ? root_editor_ : this; }
  void SetRootEditor(TCustomDocViewEdit* root) { root_editor_ = root; }

  // ---- Change control ----
  virtual bool BeforeChange(bool forced);
  void DoNotifyChanged(bool clear_redo);
  void NotifyChanged() { DoNotifyChanged(true); }
  // Whether the change being reported (OnChange) was a new edit that ended what could be
  // redone, rather than an undo or redo.
  bool ChangeClearsRedo() const { return change_clears_redo_; }
  void DoCurTextStyleChanged();
  void DoCurParaStyleChanged();
  void DoCaretMove();

  // ---- Current styles ----
  int32_t CurrentTextStyle();
  int32_t CurrentParaStyle();
  void SetCurrentTextStyle(int32_t value);
  void SetCurrentParaStyle(int32_t value);
  int32_t EffectiveTextStyle();
  void SwitchToUnicodeStyle();
  int32_t CaretItemIndex() { return EditData()->CurItemNo(); }
  int32_t CaretItemOffset() { return EditData()->OffsetInCurItem(); }

  // ---- Editing commands ----
  void InsertText(const AnsiString& text, bool caret_before = false);
  void InsertUnicodeText(const AnsiString& text);
  // False when the file cannot be read or the insertion was refused.
  bool InsertTextFromFile(const AnsiString& file_name);
  bool InsertTab();
  void DeleteSelection();
  // False when the command was refused or the stream could not be read.
  bool InsertRVFFromStream(TStream& stream);
  bool InsertRVFFromFile(const AnsiString& file_name);
  bool InsertRTFFromStream(TStream& stream);
  bool InsertRTFFromFile(const AnsiString& file_name);
  // The RTF import properties (made on first use).
  TRVRTFReaderProperties* RTFReadProperties();
  bool InsertTaggedText(const AnsiString& text, const TRVTag& tag);
  // The picture item takes the graphic.
  bool InsertPicture(const AnsiString& name, std::unique_ptr<TGraphic> graphic, uint8_t valign);
  // Inserts any item at the caret (freed when refused); false when refused.
  bool InsertItem(const AnsiString& name, TCustomRVItemInfo* item);
  void ChangeItemExtraIntProperty(int32_t item_no, int32_t prop_id, int32_t value, bool auto_reformat);
  void SetSelectionTextStyle(int32_t style_no);
  void SetSelectionParaStyle(int32_t para_no);
  void ConvertTextStyles(int32_t user_data);
  void ConvertParaStyles(int32_t user_data);
  // Style templates (a negative number resets to the defaults): the converted style is
  // looked up among the existing ones and added when none matches.
  void ApplyParaTemplate(int32_t template_no);
  void ApplyTextTemplate(int32_t template_no, bool whole_paragraphs);
  virtual void Undo();
  virtual void Redo();
  void Clear();
  uint8_t PendingUndoType();
  uint8_t PendingRedoType();
  bool OpenUndoGroup(uint8_t group_type) { return EditData()->BeginUndoGroup(group_type, true); }
  void SetGroupMode(bool on) { EditData()->SetUndoGroupMode(on); }
  void DiscardUndoHistory();
  TCustomRVItemInfo* GetCurrentItem();

  // ---- Keys (the framework's key handlers) ----
  void EditKeyDown(int key, TShiftState shift);
  void EditKeyUp(int key, TShiftState shift);
  void EditKeyPress(const QString& text);
  // A string an input method committed: inserted as UTF-16 text in one step.
  void ImeCommit(const QString& text);
  // The keyboard now types text of this charset: with rvoAutoSwitchLang and a non-Unicode
  // current style, the current style becomes its copy in that charset (added when the style
  // sheet has none). True when the current style was switched.
  bool InputLanguageChanged(TFontCharset charset);
  // The charset of text typed in a language (Windows charset numbers; ANSI for the rest).
  static TFontCharset CharsetOfLocale(const QLocale& locale);

  // ---- Clipboard (RVEdit_input.cpp) ----
  // Copies the selection and deletes it (one undo step); nothing when refused or when
  // nothing was copied.
  void CutToClipboard();
  // Pastes the best format of the clipboard: the native format, else RTF, else text or a
  // picture (one undo step). Failures beep.
  virtual void Paste();
  virtual bool CanPaste();
  bool CanPasteRVF();
  bool CanPasteRTF();
  void PasteRVF();
  // False when the clipboard has no usable RTF.
  bool PasteRTF();
  void PasteText();
  void PasteUnicodeText();
  void PasteBitmap(bool text_as_name);
  void PasteMetafile(bool text_as_name);
  // The folder of the page that "HTML Format" on the clipboard names as its source.
  AnsiString GetHTMLSourceFolder();

  // ---- Drops (the scroller's drop-target hooks; RVEdit_input.cpp) ----
  bool OleDragEnterAllowed(int32_t x, int32_t y) override;
  void OleDragEnterEvent(IDataObject* data_object, uint32_t key_state, TPoint pt, uint32_t possible_effects,
                         uint32_t& effect) override;
  void OleDragLeft() override;
  bool OleDragMoved(int32_t x, int32_t y) override;
  void OleDragOverEvent(uint32_t key_state, TPoint pt, uint32_t possible_effects, uint32_t& effect) override;
  void OleForgetTarget() override {}
  uint32_t OleDropped(IDataObject* data_object, bool move, uint32_t key_state, TPoint pt,
                      uint32_t possible_effects) override;
  bool OleFormatAccepted(uint16_t format) override;
  TRVDropTarget* DropTarget() const { return drop_target_.get(); }

  // ---- Events ----
  TRVEditNotifyEvent OnChange;
  TRVChangingEvent OnChanging;
  TRVEditNotifyEvent OnCaretMove;
  TRVEditNotifyEvent OnCurTextStyleChanged;
  TRVEditNotifyEvent OnCurParaStyleChanged;
  TRVStyleConversionEvent OnStyleConversion;
  TRVStyleConversionEvent OnParaStyleConversion;
  TRVOnCaretGetOutEvent OnCaretGetOut;
  TRVPasteEvent OnPaste;
  TRVDropFilesEvent OnDropFiles;
  TRVOleDragEnterEvent OnOleDragEnter;
  TRVOleDragOverEvent OnOleDragOver;
  TRVOleDropEvent OnOleDrop;
  TRVEditNotifyEvent OnOleDragLeave;

  // Copies the viewer's events and the editor's (not OnChange, OnChanging, OnCaretGetOut).
  void AssignEvents(TCustomDocViewEdit* source);

 protected:
  void CreateWnd() override;
  // The edit-control messages of undo, redo and clearing.
  void WndProc(TMessage& message) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  // An editor that wants tabs takes Tab (and Shift+Tab) itself: the framework would move the
  // focus to the next control of the form before the key reached it.
  bool TakesTabKey() override { return EditorOptions.Contains(rvoWantTabs) || TCustomDocView::TakesTabKey(); }
  // The resize frame takes the mouse first.
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void inputMethodEvent(QInputMethodEvent* e) override;
  QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
  void paintEvent(QPaintEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  friend class TRVEditorControlData;
  // Runs an editing command: BeforeChange, one undo group in group mode, the notification.
  bool RunCommand(uint8_t group_type, const std::function<void(TRVEditRVData*)>& body, bool delete_selection);
  void SetConversion(const TRVStyleConversionEvent& event);
  bool InsertStream(const std::function<bool(TRVEditRVData*)>& read);
  // Undo and redo stop live spelling (the walk may restart); the undone range tells the
  // thread where to recheck.
  void StopLiveSpellingForUndo();
  // The caret leaves a word edited by typing: live spelling checks it again.
  void RecheckModifiedWord();
  void PasteTextOrPicture();
  // The drop caret over the painted document (a dotted line).
  void PaintDropCaret();
  // The drop: the formats tried at the caret, the bracket around an insertion that selects
  // what was inserted, and whether anything changed in the editor that took it.
  bool DropFormats(IDataObject* data_object, bool move, TShiftState shift, TPoint pt, uint32_t possible_effects,
                   uint16_t own_format, TRVOleDropEffect& effect);
  bool DropKind(IDataObject* data_object, TRVDropKind kind, uint16_t own_format);
  bool DropFiles(IDataObject* data_object);
  void BeginDropInsertion();
  void EndDropInsertion();
  struct TDropState {
    bool Begun = false;
    int32_t ItemNo = 0, Offs = 0;
    bool AtItemStart = false, WasText = false;
    int32_t LengthBefore = 0;
    TCustomDocViewEdit* Editor = nullptr;
  } drop_;
  std::unique_ptr<TRVDropTarget> drop_target_;
  // Counts the change notifications of this editor's document.
  int32_t change_count_ = 0;
  std::unique_ptr<TRVRTFReaderProperties> rtf_read_properties_;
  bool read_only_ = false;
  int32_t command_depth_ = 0;
  bool changed_in_command_ = false;
  bool change_clears_redo_ = true;
  QPointer<TCustomDocViewEdit> inplace_editor_;
  TCustomDocViewEdit* root_editor_ = nullptr;
};

class TDocViewEdit : public TCustomDocViewEdit {
 public:
  using TCustomDocViewEdit::TCustomDocViewEdit;
  // The live-spelling worker calls the control's virtual operations: it ends before the
  // first base destructor changes the object's dynamic type.
  ~TDocViewEdit() override { StopLiveSpelling(); }
};

}  // namespace pelvar
