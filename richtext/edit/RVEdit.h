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

// Edit-control messages the editor answers.
constexpr uint32_t WM_CLEAR = 0x0303;
constexpr uint32_t WM_UNDO = 0x0304;
constexpr uint32_t EM_CANUNDO = 0x00C6;
constexpr uint32_t EM_UNDO = 0x00C7;
constexpr uint32_t EM_REDO = 0x0454;
constexpr uint32_t EM_CANREDO = 0x0455;
// Posted to itself: close the cell editor, then undo (redo) in this editor's document.
constexpr uint32_t WM_RVUNDOFROMINPLACE = WM_USER + 13;
constexpr uint32_t WM_RVREDOFROMINPLACE = WM_USER + 14;

class TCustomDocViewEdit;

using TRVChangingEvent = std::function<void(TCustomDocViewEdit* sender, bool& can_edit)>;
using TRVStyleConversionEvent = std::function<void(TCustomDocViewEdit* sender, int32_t style_no, int32_t user_data,
                                                   bool applied_to_text, int32_t& new_style_no)>;
using TRVOnCaretGetOutEvent = std::function<void(TCustomDocViewEdit* sender, TRVGetOutDirection direction)>;
using TRVEditNotifyEvent = std::function<void(TCustomDocViewEdit* sender)>;

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
  void EditKeyPress(const QString& text);

  // ---- Events ----
  TRVEditNotifyEvent OnChange;
  TRVChangingEvent OnChanging;
  TRVEditNotifyEvent OnCaretMove;
  TRVEditNotifyEvent OnCurTextStyleChanged;
  TRVEditNotifyEvent OnCurParaStyleChanged;
  TRVStyleConversionEvent OnStyleConversion;
  TRVStyleConversionEvent OnParaStyleConversion;
  TRVOnCaretGetOutEvent OnCaretGetOut;

  // Copies the viewer's events and the editor's (not OnChange, OnChanging, OnCaretGetOut).
  void AssignEvents(TCustomDocViewEdit* source);

 protected:
  void CreateWnd() override;
  // The edit-control messages of undo, redo and clearing.
  void WndProc(TMessage& message) override;
  void keyPressEvent(QKeyEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  friend class TRVEditorControlData;
  // Runs an editing command: BeforeChange, one undo group in group mode, the notification.
  bool RunCommand(uint8_t group_type, const std::function<void(TRVEditRVData*)>& body, bool delete_selection);
  void SetConversion(const TRVStyleConversionEvent& event);
  bool InsertStream(const std::function<bool(TRVEditRVData*)>& read);
  std::unique_ptr<TRVRTFReaderProperties> rtf_read_properties_;
  bool read_only_ = false;
  int32_t command_depth_ = 0;
  bool changed_in_command_ = false;
  QPointer<TCustomDocViewEdit> inplace_editor_;
  TCustomDocViewEdit* root_editor_ = nullptr;
};

class TDocViewEdit : public TCustomDocViewEdit {
 public:
  using TCustomDocViewEdit::TCustomDocViewEdit;
};

}  // namespace pelvar
