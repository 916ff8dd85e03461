#include "richtext/edit/RVTableInplace.h"

#include <QApplication>
#include <QDateTime>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include "platform/application.h"
#include "richtext/edit/RVTable.h"
#include "richtext/view/RVRVData.h"

namespace pelvar {

// ---- The cell editor's document ----------------------------------------------------------------

TRVTableInplaceRVData::TRVTableInplaceRVData(TRVTableInplaceEdit* editor)
    : TRVEditorControlData(editor), Inplace(editor) {}

TCustomRVData* TRVTableInplaceRVData::GetSourceRVData() {
  return Inplace->Cell ? static_cast<TCustomRVData*>(Inplace->Cell) : this;
}

TCustomRVData* TRVTableInplaceRVData::GetAbsoluteParentData() {
  return Inplace->Cell ? Inplace->Cell->GetAbsoluteParentData() : TRVEditorControlData::GetAbsoluteParentData();
}

TCustomRVData* TRVTableInplaceRVData::GetAbsoluteRootData() {
  return Inplace->Cell ? Inplace->Cell->GetAbsoluteRootData() : TRVEditorControlData::GetAbsoluteRootData();
}

void TRVTableInplaceRVData::GetParentInfo(int32_t& parent_item_no, std::unique_ptr<TRVStoreSubRVData>& location) {
  if (Inplace->Cell)
    Inplace->Cell->GetParentInfo(parent_item_no, location);
  else
    TRVEditorControlData::GetParentInfo(parent_item_no, location);
}

void TRVTableInplaceRVData::DrawBackground(TCanvas& canvas, const TRect& rect) {
  TRVEditorControlData::DrawBackground(canvas, rect);
  if (Inplace->Transparent && Inplace->Table && Inplace->Cell)
    Inplace->Table->PaintTableBackgroundForEditor(canvas, Inplace->Cell, rect);
  // The cell's own picture, placed as in the cell (the editor starts where the content does).
  TRVTableCellData* cell = Inplace->Cell;
  if (cell && Inplace->Table && cell->Background && cell->Background->HasVisibleImage()) {
    const int32_t top = Inplace->Table->CellEditorContentOffset(cell);
    const TRect area{0, 0, rect.Right - rect.Left, rect.Bottom - rect.Top};
    const TColor color = Inplace->Transparent ? static_cast<TColor>(clNone) : Inplace->Color;
    cell->Background->Draw(canvas, area, true, color, cell->Height, cell->Width, -top - rect.Top, -rect.Left, 0, 0);
  }
}

bool TRVTableInplaceRVData::SetDocumentAreaSize(int32_t width, int32_t height, bool redraw) {
  const bool r = TRVEditorControlData::SetDocumentAreaSize(width, height, redraw);
  SizeChanged = true;
  return r;
}

// Queued on the main control: nothing is left behind when it goes first.
void TRVTableInplaceRVData::DoJump(int32_t id) {
  TCustomDocViewEdit* main = Inplace->MainEditor();
  if (!main) return;
  QMetaObject::invokeMethod(
      main, [main, id] { main->RVData->DoJump(id); }, Qt::QueuedConnection);
}

void TRVTableInplaceRVData::DoRVDblClick(const AnsiString& word, int32_t style_no) {
  TCustomDocViewEdit* main = Inplace->MainEditor();
  if (!main) return;
  QMetaObject::invokeMethod(
      main, [main, word, style_no] { main->RVData->DoRVDblClick(word, style_no); }, Qt::QueuedConnection);
}

bool TRVTableInplaceRVData::IsAssignedOnJump() {
  TCustomDocViewEdit* main = Inplace->MainEditor();
  return main && main->RVData->IsAssignedOnJump();
}

bool TRVTableInplaceRVData::IsAssignedOnRVDblClick() {
  TCustomDocViewEdit* main = Inplace->MainEditor();
  return main && main->RVData->IsAssignedOnRVDblClick();
}

// ---- The cell editor ---------------------------------------------------------------------------

TRVTableInplaceEdit::TRVTableInplaceEdit(QWidget* parent) : TCustomDocViewEdit(parent) {
  RVData.reset();
  RVData = std::make_unique<TRVTableInplaceRVData>(this);
  EditData()->SetUndoLimit(-1);
  SetBorderStyle(bsNone);
  hide();
  // No hyperlinks around saving, not a root.
  Flags = static_cast<uint16_t>(Flags & ~(0x0080u | 0x0100u));
  OnChange = [this](TCustomDocViewEdit*) {
    if (OnChangeCallback) OnChangeCallback(this);
  };
}

TRVTableInplaceEdit::~TRVTableInplaceEdit() {
  Destroying = true;
  BeingDestroyed = true;
  // A nested table's cell editor goes first: its items return into this editor's document.
  if (auto* nested = dynamic_cast<TRVTableInplaceEdit*>(GetInplaceEditor())) {
    if (Clearing) nested->MarkClearing();
    delete nested;
  }
  // The cell's items go back and the table forgets the editor.
  if (Table) Table->CellEditorClosing(this, Clearing);
}

void TRVTableInplaceEdit::SetParentDocument(TCustomRVData* data) {
  ParentDocument = data;
  if (!data) return;
  Options = data->GetOptions();
  SetStyle(data->GetRVStyle());
  SetVSmallStep(1);
}

void TRVTableInplaceEdit::SetCell(int32_t row, int32_t col, TRVTableItemInfo* table, int32_t padding) {
  Row = row;
  Col = col;
  Table = table;
  Cell = table->GetCells(row, col);
  TableItemNo = table->GetItemNoInParent();
  LeftMargin = RightMargin = TopMargin = BottomMargin = padding;
}

bool TRVTableInplaceEdit::TakeSizeChanged() {
  const bool r = InplaceData()->SizeChanged;
  InplaceData()->SizeChanged = false;
  return r;
}

void TRVTableInplaceEdit::SetCellSelected(bool selected) {
  if (selected == cell_selected_) return;
  cell_selected_ = selected;
  if (selected) {
    saved_color_ = Color;
    if (Style()) Color = Style()->SelColor;
  } else {
    Color = saved_color_;
  }
  TRVEditRVData* d = EditData();
  if (!d->NotFormatted() && d->CaretOffs >= 0) d->ChangeCaret(false, true, false);
  update();
}

TCustomDocViewEdit* TRVTableInplaceEdit::MainEditor() const {
  if (!ParentDocument || !dynamic_cast<TRVEditRVData*>(ParentDocument)) return nullptr;
  auto* root = dynamic_cast<TDocViewRVData*>(ParentDocument->GetAbsoluteRootData());
  return root ? dynamic_cast<TCustomDocViewEdit*>(root->Control) : nullptr;
}

bool TRVTableInplaceEdit::GetReadOnly() const {
  TCustomDocViewEdit* main = MainEditor();
  return main ? main->GetReadOnly() : false;
}

// The main editor's state is the application's: a cell editor keeps only its own flag.
void TRVTableInplaceEdit::SetReadOnly(bool value) {
  own_read_only_ = value;
  update();
}

bool TRVTableInplaceEdit::BeforeChange(bool forced) {
  TCustomDocViewEdit* main = MainEditor();
  if (!main) return false;
  if (!main->BeforeChange(true)) return false;
  EditData()->ClearTagOnStyleApp = EditorOptions.Contains(rvoClearTagOnStyleApp);
  (void)forced;
  return true;
}

void TRVTableInplaceEdit::Undo() {
  if (PendingUndoType() != rvutNone) return TCustomDocViewEdit::Undo();
  if (TCustomDocViewEdit* main = MainEditor()) main->Undo();
}

void TRVTableInplaceEdit::Redo() {
  if (PendingRedoType() != rvutNone) return TCustomDocViewEdit::Redo();
  if (TCustomDocViewEdit* main = MainEditor()) main->Redo();
}

void TRVTableInplaceEdit::CloseByHost() {
  if (Table)
    Table->CloseCellEditor(true);
  else
    hide();
}

void TRVTableInplaceEdit::WndProc(TMessage& message) {
  switch (message.Msg) {
    case WM_RVINPLACEMOVE:
      if (Table) Table->MoveFromCellEditor(this, static_cast<int32_t>(message.WParam));
      return;
    case WM_RVINPLACEUNDO:
    case WM_RVINPLACEREDO:
      // Only this editor's own flag is cleared: the main editor's read-only state belongs to
      // the application, and a read-only main editor refuses the undo as it refuses any edit.
      own_read_only_ = false;
      if (message.Msg == WM_RVINPLACEUNDO)
        Undo();
      else
        Redo();
      return;
    case WM_UNDO:
    case EM_UNDO:
    case EM_CANUNDO:
    case EM_REDO:
    case EM_CANREDO:
      if (TCustomDocViewEdit* main = MainEditor()) {
        if (PendingUndoType() == rvutNone && PendingRedoType() == rvutNone) {
          message.Result = SendMessage(main->MessageHandle(), message.Msg, message.WParam, message.LParam);
          return;
        }
      }
      TCustomDocViewEdit::WndProc(message);
      return;
    case WM_RVINPLACECLOSE:
      if (Table && !hasFocus() && !MouseDownFlag) Table->CloseCellEditor(true);
      return;
    case WM_RVINPLACEFREE: {
      QWidget* parent = parentWidget();
      if (Table) Table->CloseCellEditor(true);
      if (parent && parent->isVisible()) parent->setFocus();
      return;
    }
    default:
      TCustomDocViewEdit::WndProc(message);
  }
}

void TRVTableInplaceEdit::keyPressEvent(QKeyEvent* e) {
  const bool ctrl = (e->modifiers() & Qt::ControlModifier) != 0;
  if ((e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab) && !ctrl) {
    const bool back = e->key() == Qt::Key_Backtab || (e->modifiers() & Qt::ShiftModifier);
    PostMessage(MessageHandle(), WM_RVINPLACEMOVE, back ? 7 : 6, 0);
    e->accept();
    return;
  }
  TCustomDocViewEdit::keyPressEvent(e);
}

void TRVTableInplaceEdit::focusOutEvent(QFocusEvent* e) {
  TCustomDocViewEdit::focusOutEvent(e);
  // A click elsewhere closes the editor; a click on another cell opens that cell's editor first.
  if (e->reason() == Qt::MouseFocusReason) PostMessage(MessageHandle(), WM_RVINPLACECLOSE, 0, 0);
}

int64_t TRVTableInplaceEdit::ClickTime() {
  return ClickClock ? ClickClock() : QDateTime::currentMSecsSinceEpoch();
}

void TRVTableInplaceEdit::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) {
    TCustomDocViewEdit::mousePressEvent(e);
    return;
  }
  // The click that opened the editor went to the main control: a press following it within
  // the double-click time completes a double click here.
  const int64_t last = LastClickTime;
  LastClickTime = 0;
  const int64_t now = ClickTime();
  if (last != 0 && now >= last && now - last < QApplication::doubleClickInterval())
    mouseDoubleClickEvent(e);
  else
    TCustomDocViewEdit::mousePressEvent(e);
}

void TRVTableInplaceEdit::mouseMoveEvent(QMouseEvent* e) {
  if (Table && Cell && (e->buttons() & Qt::LeftButton) && Table->MouseSelecting) {
    const QPoint p = e->position().toPoint();
    Table->MouseMove(rvssLeft, p.x() + Cell->Left, p.y() + Cell->Top, TableItemNo, ParentDocument);
    if (cell_selected_) return;
  }
  TCustomDocViewEdit::mouseMoveEvent(e);
}

void TRVTableInplaceEdit::mouseReleaseEvent(QMouseEvent* e) {
  TCustomDocViewEdit::mouseReleaseEvent(e);
  if (e->button() != Qt::LeftButton) return;
  MouseDownFlag = false;
  if (Table && Cell && Table->MouseSelecting) {
    const QPoint p = e->position().toPoint();
    // The table may close this editor (freed later by the event loop).
    Table->MouseUp(rvmbLeft, 0, p.x() + Cell->Left, p.y() + Cell->Top, TableItemNo, ParentDocument);
    return;
  }
  if (cell_selected_)
    PostMessage(MessageHandle(), WM_RVINPLACEFREE, 0, 0);
  else
    SetCellSelected(false);
}

int32_t BuildCellEditorJumps(TRVEditRVData* data) {
  if (!data) return 0;
  data->ShowJumps(true);
  return data->JumpCount;
}

}  // namespace pelvar
