// The in-place editor of a table cell: a borderless editor control that the table places
// exactly over the cell and into whose document the cell's items move while it is open. Its
// read-only state, change permission and undo fall through to the main editor when it has
// nothing of its own; Tab and the arrow keys leaving the cell move to the neighbouring cell
// (message WM_RVINPLACEMOVE, posted so that the move runs outside the key's handling).
#pragma once

#include <cstdint>
#include <functional>

#include "richtext/edit/RVEdit.h"

namespace pelvar {

class TRVTableItemInfo;
class TRVTableCellData;
class TRVTableInplaceEdit;

// Posted to the cell editor: wParam 0 left, 1 up, 2 right, 3 down, 4 top, 5 bottom, 6 next
// cell, 7 previous cell.
constexpr uint32_t WM_RVINPLACEMOVE = WM_USER + 10;
// Posted to the cell editor: undo (redo) now that its groups came back from the main list.
constexpr uint32_t WM_RVINPLACEUNDO = WM_USER + 11;
constexpr uint32_t WM_RVINPLACEREDO = WM_USER + 12;
// Posted to the cell editor when a click elsewhere took its focus: the editor closes unless it
// got the focus back meanwhile.
constexpr uint32_t WM_RVINPLACECLOSE = WM_USER + 31;
// Posted to the cell editor: free yourself (a cell selection replaced the editor).
constexpr uint32_t WM_RVINPLACEFREE = 0xB021;

// The document of a cell editor: it stands for the cell.
class TRVTableInplaceRVData : public TRVEditorControlData {
 public:
  explicit TRVTableInplaceRVData(TRVTableInplaceEdit* editor);
  TRVTableInplaceEdit* Inplace;
  // Set whenever the area size is set after formatting; read and cleared by TakeSizeChanged.
  bool SizeChanged = false;
  TCustomRVData* GetSourceRVData() override;
  TCustomRVData* GetAbsoluteParentData() override;
  TCustomRVData* GetAbsoluteRootData() override;
  void GetParentInfo(int32_t& parent_item_no, std::unique_ptr<TRVStoreSubRVData>& location) override;
  bool SetDocumentAreaSize(int32_t width, int32_t height, bool redraw) override;
  // The editor of a transparent cell shows the table's own background under its text.
  void DrawBackground(TCanvas& canvas, const TRect& rect) override;
  // Hyperlinks and double clicks reach the main control's events through its queue.
  void DoJump(int32_t id) override;
  void DoRVDblClick(const AnsiString& word, int32_t style_no) override;
  bool IsAssignedOnJump() override;
  bool IsAssignedOnRVDblClick() override;
};

class TRVTableInplaceEdit : public TCustomDocViewEdit {
 public:
  explicit TRVTableInplaceEdit(QWidget* parent = nullptr);
  ~TRVTableInplaceEdit() override;

  TRVTableInplaceRVData* InplaceData() const { return static_cast<TRVTableInplaceRVData*>(RVData.get()); }

  // The document holding the table: its options and style sheet become the editor's.
  void SetParentDocument(TCustomRVData* data);
  // The edited cell; all four margins become padding.
  void SetCell(int32_t row, int32_t col, TRVTableItemInfo* table, int32_t padding);
  void MarkClearing() { Clearing = true; }
  bool TakeSizeChanged();
  // Shows the cell as part of a cell selection (the style sheet's selection colour).
  void SetCellSelected(bool selected);
  bool CellSelected() const { return cell_selected_; }

  TCustomRVData* ParentDocument = nullptr;
  TRVTableItemInfo* Table = nullptr;
  TRVTableCellData* Cell = nullptr;
  int32_t Row = -1, Col = -1, TableItemNo = -1;
  bool Clearing = false;
  // A left press started in the editor and was not released yet.
  bool MouseDownFlag = false;
  bool Transparent = false;
  bool HeightLimited = false;
  // Time (ms) of the click that opened the editor: a left press soon after it is the second
  // click of a double click.
  int64_t LastClickTime = 0;
  // The clock of LastClickTime, in ms; Qt's wall clock when empty (tests set their own).
  static inline std::function<int64_t()> ClickClock;
  static int64_t ClickTime();
  // Called after every change notification (the table adjusts its layout).
  std::function<void(TRVTableInplaceEdit* editor)> OnChangeCallback;
  // Set by the table while the editor is freed through it.
  bool BeingDestroyed = false;

  // The main editor (the control of the document holding the table) when that document is
  // editable, else nil.
  TCustomDocViewEdit* MainEditor() const;

  bool GetReadOnly() const override;
  void SetReadOnly(bool value) override;
  bool BeforeChange(bool forced) override;
  void Undo() override;
  void Redo() override;
  void CloseByHost() override;

 protected:
  void WndProc(TMessage& message) override;
  void keyPressEvent(QKeyEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  // Dragging out of the cell extends a cell selection in the table.
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  bool cell_selected_ = false;
  TColor saved_color_ = clNone;
  // The cell editor's own read-only flag (set by undo records; read by nothing that edits).
  bool own_read_only_ = false;
};

// The cell editor's document builds its hyperlink list at once, Ctrl held or not; the number
// of hyperlinks found.
int32_t BuildCellEditorJumps(TRVEditRVData* data);

}  // namespace pelvar
