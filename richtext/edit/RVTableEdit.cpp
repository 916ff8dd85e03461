// Table interaction: the cell editor's opening and closing with its undo hand-over, keyboard
// moves between cells, mouse handling with cell selection and border dragging, and the
// operations applied to several cells at once.
#include <QApplication>
#include <QDateTime>
#include <algorithm>

#include "platform/application.h"
#include "platform/beep.h"
#include "platform/screen.h"
#include "richtext/edit/RVEdit.h"
#include "richtext/edit/RVTable.h"
#include "richtext/edit/RVTableInplace.h"
#include "richtext/edit/RVTableLayout.h"
#include "richtext/edit/RVTableStream.h"
#include "richtext/edit/RVTableUndo.h"
#include "richtext/view/RVRVData.h"

namespace pelvar {

bool RVTableTabAddsRow = true;

namespace {
constexpr int32_t kMaxEditorHeight = 10000;

// The table's undo group around one operation, closed also when it fails.
class TEditUndoGroup {
 public:
  explicit TEditUndoGroup(TRVTableItemInfo* t) : t_(t) { t_->BeginTableUndoGroup(); }
  ~TEditUndoGroup() { t_->EndTableUndoGroup(); }

 private:
  TRVTableItemInfo* t_;
};

// The resize line of a border drag, drawn by the document at the mouse position.
class TTableResizeLine : public TRVXorDrawer {
 public:
  explicit TTableResizeLine(TRVTableItemInfo* t) : t_(t) {}
  // Drawing twice erases: the line is shown and hidden in turn, at the mouse's client position
  // taken into the table's coordinates, and painted with the table.
  void XorDraw(TCustomRVFormattedData* rvdata, int32_t /*shift*/, int32_t x, int32_t y) override {
    int32_t tx = 0, ty = 0;
    t_->GetItemClientCoords(tx, ty);
    t_->ResizeLineShown = !t_->ResizeLineShown;
    t_->ResizeLineX = x - tx;
    t_->ResizeLineY = y - ty;
    rvdata->InvalidateControl();
  }

 private:
  TRVTableItemInfo* t_;
};
}  // namespace

// ---- Cell editor ---------------------------------------------------------------------------------

TCustomDocViewEdit* TRVTableItemInfo::EditorControl() const {
  if (!host_) return nullptr;
  // A table in an edited cell belongs to that cell's editor.
  if (auto* own = dynamic_cast<TDocViewRVData*>(host_))
    if (auto* ctrl = dynamic_cast<TCustomDocViewEdit*>(own->Control)) return ctrl;
  auto* root = dynamic_cast<TDocViewRVData*>(host_->GetAbsoluteRootData());
  return root ? dynamic_cast<TCustomDocViewEdit*>(root->Control) : nullptr;
}

void TRVTableItemInfo::GetItemClientCoords(int32_t& x, int32_t& y) const {
  x = y = 0;
  auto* fd = dynamic_cast<TCustomRVFormattedData*>(host_);
  if (!fd) return;
  const int32_t item_no = GetItemNoInParent();
  if (item_no < 0) return;
  const int32_t d = fd->FindDrawItemOfItem(item_no);
  if (d < 0 || d >= fd->DrawLines.Count()) return;
  x = fd->DrawLines[d]->Left - fd->GetHOffs();
  y = fd->DrawLines[d]->Top - fd->GetVOffs();
}

bool TRVTableItemInfo::AskCellEditing(int32_t row, int32_t col, bool automatic) {
  bool allow = true;
  if (OnCellEditing) OnCellEditing(this, row, col, automatic, allow);
  return allow;
}

TRVTableInplaceEdit* TRVTableItemInfo::GetEditedCellPos(int32_t& row, int32_t& col) const {
  row = col = -1;
  if (!CellEditor) return nullptr;
  row = CellEditor->Row;
  col = CellEditor->Col;
  return CellEditor;
}

TCustomRVFormattedData* TRVTableItemInfo::EditedCellDocument(const TRVTableCellData* cell) const {
  if (!CellEditor || CellEditor->Cell != cell || CellEditor->BeingDestroyed || PrintScale) return nullptr;
  return CellEditor->RVData.get();
}

bool TRVTableItemInfo::OpenCellEditor(int32_t item_no, int32_t row, int32_t col, bool build_jumps, bool caret_to_start,
                                      bool caret_to_end, bool by_mouse, bool no_event) {
  if (!(TableState & 1)) return false;
  auto* edit = dynamic_cast<TRVEditRVData*>(host_);
  TCustomDocViewEdit* ctrl = EditorControl();
  if (!edit || !ctrl) return false;
  TRVTableCellData* cell =
      (row >= 0 && row < RowCount() && col >= 0 && col < ColCount()) ? GetCells(row, col) : nullptr;
  if (!cell) return false;
  if (!no_event && !AskCellEditing(row, col, false)) return false;
  if (item_no < 0) item_no = GetItemNoInParent();
  CloseCellEditor(true);
  ClearCellSelection();
  edit->CaptureMouseItem = nullptr;
  edit->StoreSelectionBounds(item_no, item_no, 1, 1);
  edit->SelectionChanged(false);
  TableMinWidthAtEdit = GetMinWidth(nullptr, nullptr, host_);

  auto* ed = new TRVTableInplaceEdit(ctrl);
  // The cell's text measures as in the main control (whose metrics outlive its cell editors).
  if (TCanvas* c = ctrl->FormatCanvas())
    ed->SetTextMetrics(std::shared_ptr<TTextMetrics>(std::shared_ptr<void>(), &c->Metrics()));
  ed->SetParentDocument(host_);
  ed->EditorOptions = ctrl->EditorOptions;
  ed->EditorOptions.Include(rvoWantTabs);
  ed->SetUndoLimit(ctrl->UndoLimit() != 0 ? -1 : 0);
  ed->Color = GetCellEffectiveColor(cell);
  ed->Transparent = IsCellEditorTransparent(cell);
  ed->SetVScrollVisible(false);
  ed->SetHScrollVisible(false);
  ed->OnChangeCallback = [this](TRVTableInplaceEdit* e) { CellEditorResized(e); };
  ed->Cursor = ctrl->Cursor;
  ed->ApplyCursor(ed->Cursor);
  // Moves and drops over the cell reach the main control's handlers in its coordinates.
  if (ctrl->OnMouseMove)
    ed->OnMouseMove = [ctrl, ed](TCustomDocView*, TShiftState shift, int32_t x, int32_t y) {
      if (ctrl->OnMouseMove) ctrl->OnMouseMove(ctrl, shift, x + ed->x(), y + ed->y());
    };
  if (ctrl->OnDragOver)
    ed->OnDragOver = [ctrl, ed](TCustomDocView*, TObject* source, int32_t x, int32_t y, TRVScroller::TDragState state,
                                bool& accept) {
      if (ctrl->OnDragOver) ctrl->OnDragOver(ctrl, source, x + ed->x(), y + ed->y(), state, accept);
    };
  if (ctrl->OnDragDrop)
    ed->OnDragDrop = [ctrl, ed](TCustomDocView*, TObject* source, int32_t x, int32_t y) {
      if (ctrl->OnDragDrop) ctrl->OnDragDrop(ctrl, source, x + ed->x(), y + ed->y());
    };
  // Mouse buttons in the cell reach the main control's events, in its coordinates.
  // Queued on the main control: nothing is left behind when it goes first.
  auto forward = [this, ed, ctrl](bool down, TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
    const int32_t item_no = GetRootItemNo(), cx = x + ed->x(), cy = y + ed->y();
    QMetaObject::invokeMethod(
        ctrl,
        [ctrl, down, button, shift, item_no, cx, cy] {
          if (down)
            ctrl->RVData->DoRVMouseDown(button, shift, item_no, cx, cy);
          else
            ctrl->RVData->DoRVMouseUp(button, shift, item_no, cx, cy);
        },
        Qt::QueuedConnection);
  };
  ed->OnRVMouseDown = [forward](TCustomDocView*, TMouseButton b, TShiftState s, int32_t, int32_t x, int32_t y) {
    forward(true, b, s, x, y);
  };
  ed->OnRVMouseUp = [forward](TCustomDocView*, TMouseButton b, TShiftState s, int32_t, int32_t x, int32_t y) {
    forward(false, b, s, x, y);
  };
  // Arrow keys leaving the cell's text move to the neighbouring cell, after the key's handling.
  ed->OnCaretGetOut = [ed](TCustomDocViewEdit*, TRVGetOutDirection direction) {
    PostMessage(ed->MessageHandle(), WM_RVINPLACEMOVE, static_cast<WPARAM>(direction), 0);
  };
  ed->SetCell(row, col, this, CellPadding);
  // The content's place in the cell, from the cell's own layout (its items are still there).
  const int32_t offset = CellContentTop(cell) - CellPadding;
  CellEditor = ed;
  GetItemClientCoords(ClientLeft, ClientTop);
  PlaceCellEditor(ClientLeft + cell->Left, ClientTop + cell->Top + offset, cell->Width, cell->Height - offset);
  ed->HandleNeeded();
  ed->RVData->AppendFrom(cell);
  ed->Format();
  if (ed->height() < ed->RVData->DocumentHeight) ed->HeightLimited = true;
  if (by_mouse) ed->LastClickTime = TRVTableInplaceEdit::ClickTime();
  // In a read-only editor the cell's hyperlinks work at once; they are numbered on from the
  // document's hyperlinks before the table.
  if (build_jumps || ctrl->ReadOnly()) {
    int32_t counter = 0;
    TRVStyle* style = host_->GetRVStyle();
    for (int32_t i = 0; i < item_no && i < host_->ItemCount() && style; ++i) {
      TCustomRVItemInfo* item = host_->GetItem(i);
      if (item->GetBoolValueEx(1, style))
        ++counter;
      else
        item->BuildJumps(host_, -1, counter, nullptr);
    }
    BuildJumps(host_, -1, counter, nullptr);
  }
  ctrl->SetInplaceEditor(ed);
  ed->show();
  ChosenRow = row;
  ChosenCol = col;
  TRVEditRVData* d = ed->EditData();
  const int32_t last = d->ItemCount() - 1;
  if (caret_to_end && last >= 0)
    d->SetSelectionBounds(last, d->GetOffsAfterItem(last), last, d->GetOffsAfterItem(last));
  if (caret_to_start && last >= 0) d->SetSelectionBounds(0, d->GetOffsBeforeItem(0), 0, d->GetOffsBeforeItem(0));
  if (last >= 0 && !d->NotFormatted()) d->ChangeCaret(false, false, false);
  // The editor becomes the focused control of the form, the root document knowing meanwhile
  // that the focus goes to a cell editor.
  TCustomRVData* root = host_->GetAbsoluteRootData();
  root->State |= (1u << 18);
  try {
    FocusControlInForm(ed);
  } catch (...) {
    root->State &= ~(1u << 18);
    throw;
  }
  root->State &= ~(1u << 18);
  return true;
}

int32_t TRVTableItemInfo::CellEditorContentOffset(TRVTableCellData* cell) {
  if (CellEditor && CellEditor->Cell == cell)
    return std::max(0, CellFreeHeight(cell, cell->Height, CellEditor->RVData->DocumentHeight));
  return CellContentTop(cell) - CellPadding;
}

void TRVTableItemInfo::PlaceCellEditor(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (!CellEditor) return;
  CellEditor->HeightLimited = height > kMaxEditorHeight;
  height = std::min(height, kMaxEditorHeight);
  // The Tag keeps the true top; scrolling moves the editor with the other child controls.
  SetControlTag(CellEditor, top);
  CellEditor->setGeometry(left, ControlTopFromTag(CellEditor), std::max(width, 0), std::max(height, 0));
  if (CellEditor->RVData->DocumentHeight > 0 && CellEditor->RVData->DocumentHeight > height)
    CellEditor->HeightLimited = true;
}

void TRVTableItemInfo::CloseCellEditor(bool normal) {
  TRVTableInplaceEdit* ed = CellEditor;
  if (!ed || ed->BeingDestroyed) return;
  if (!normal) ed->MarkClearing();
  ed->BeingDestroyed = true;
  // The items go back now; the widget itself is freed once control is back in the event loop,
  // since this may run inside one of its own messages.
  CellEditorClosing(ed, ed->Clearing);
  ed->Table = nullptr;
  ed->hide();
  ed->deleteLater();
}

void TRVTableItemInfo::CellEditorClosing(TRVTableInplaceEdit* editor, bool clearing) {
  if (!editor || editor != CellEditor) return;
  TCustomDocViewEdit* ctrl = EditorControl();
  clearing = clearing || !ctrl || ctrl->Destroying || (host_ && (host_->State & (1u << 31)));
  if (clearing) {
    // The table leaves its document (or goes away): a record naming it by its index would undo
    // another item. The cell's text stays with the table; only the cell's own history goes.
    editor->EditData()->UndoList->Clear();
    editor->EditData()->RedoList->Clear();
  }
  MoveEditorUndo(true);
  TRVTableCellData* cell = editor->Cell;
  const int32_t row = editor->Row, col = editor->Col;
  int32_t si = -1, ei = -1, so = 0, eo = 0;
  TRVEditRVData* d = editor->EditData();
  d->GetSelBounds(si, ei, so, eo, false);
  if (cell) cell->AppendFrom(d);
  CellEditor = nullptr;
  if (ctrl && ctrl->GetInplaceEditor() == editor) ctrl->SetInplaceEditor(nullptr);
  if (!clearing) {
    GetItemClientCoords(OriginX, OriginY);
    MarkChanged();
    if (auto* edit = dynamic_cast<TRVEditRVData*>(host_)) {
      const int32_t item_no = GetItemNoInParent();
      if (item_no >= 0 && !edit->NotFormatted()) edit->FormatKeepingCaret();
    }
    if (cell && si >= 0 && si < cell->ItemCount() && ei >= 0 && ei < cell->ItemCount()) {
      if (auto* fd = dynamic_cast<TCustomRVFormattedData*>(cell->View())) fd->StoreSelectionBounds(si, ei, so, eo);
    }
    if (ctrl) {
      ctrl->update();
      if (!ctrl->Destroying && ctrl->OnCaretMove) ctrl->OnCaretMove(ctrl);
    }
  }
  if (OnCellEndEdit) OnCellEndEdit(this, row, col, clearing);
}

void TRVTableItemInfo::MoveEditorUndo(bool final) {
  if (!CellEditor) return;
  auto* edit = dynamic_cast<TRVEditRVData*>(host_);
  TRVEditRVData* ed = CellEditor->EditData();
  auto move = [&](TRVUndoList& from, TRVUndoList& to, bool for_redo) {
    if (from.Count() == 0) return;
    if (!edit || edit->GetUndoLimit() == 0) {
      from.Clear();
      return;
    }
    auto rec = std::make_unique<TRVUndoCellModify>();
    rec->ItemNo = GetItemNoInParent();
    rec->ForRedo = for_redo;
    rec->InnerList = std::make_unique<TRVUndoList>(edit);
    rec->CellRow = CellEditor->Row;
    rec->CellCol = CellEditor->Col;
    rec->CellCaretItem = ed->CurItemNo();
    rec->CellCaretOffset = ed->OffsetInCurItem();
    const TRVUndoInfos* newest = from.Last();
    auto group = std::make_unique<TRVUndoInfos>();
    group->GroupType = rvutModifyItem;
    group->Title = newest->Title;
    group->CaretItem = rec->ItemNo;
    group->CaretOffset = 1;
    while (from.Count() > 0) rec->InnerList->AddGroup(from.ExtractGroup(0).release());
    group->Records.push_back(std::move(rec));
    to.AddGroup(group.release());
  };
  if (!edit) {
    ed->UndoList->Clear();
    ed->RedoList->Clear();
    return;
  }
  move(*ed->UndoList, *edit->UndoList, false);
  move(*ed->RedoList, *edit->RedoList, true);
  (void) final;
}

void TRVTableItemInfo::CellEditorResized(TRVTableInplaceEdit* editor) {
  if (!editor || editor != CellEditor) return;
  TCustomDocViewEdit* ctrl = EditorControl();
  if (!ctrl) return;
  const bool size_changed = editor->TakeSizeChanged();
  MarkChanged();
  if (size_changed) {
    // The table is laid out again around the edited cell; the editor follows the cell.
    const int32_t row = editor->Row, col = editor->Col;
    const QRect bounds = editor->geometry();
    auto* edit = dynamic_cast<TRVEditRVData*>(host_);
    if (edit) edit->FormatKeepingCaret();
    if (TRVTableCellData* cell = GetCells(row, col)) {
      GetItemClientCoords(ClientLeft, ClientTop);
      PlaceCellEditor(ClientLeft + cell->Left, ClientTop + cell->Top + CellEditorContentOffset(cell), cell->Width,
                      cell->Height - CellEditorContentOffset(cell));
    }
    editor->TakeSizeChanged();
    // The table around a moved or resized editor is shown at once, not after the editor.
    if (edit && editor->geometry() != bounds) edit->RefreshControl();
  }
  // The main editor reports the change; its redo list goes only with a new edit in the cell,
  // not with an undo or a redo there (a redo that empties the cell's own list included).
  if (TableState & 1) ctrl->DoNotifyChanged(editor->ChangeClearsRedo());
}

bool TRVTableItemInfo::NeighbourCell(int32_t row, int32_t col, int32_t direction, int32_t& new_row, int32_t& new_col,
                                     bool silent, bool auto_add_row) {
  const int32_t R = RowCount(), C = ColCount();
  if (R == 0 || C == 0 || row < 0 || row >= R || col < 0 || col >= C) return false;
  auto covering = [&](int32_t r, int32_t c) {
    int32_t mr = 0, mc = 0;
    if (!GetMainCell(r, c, mr, mc)) return false;
    new_row = mr;
    new_col = mc;
    return true;
  };
  TRVTableCellData* cell = GetCells(row, col);
  const int32_t cs = cell ? cell->ColSpan : 1, rs = cell ? cell->RowSpan : 1;
  switch (direction) {
    case 0:
      if (row == 0 && col == 0) return false;
      if (col == 0) return NeighbourCell(row, col, 7, new_row, new_col, true, false);
      return covering(row, col - 1);
    case 1:
      return row > 0 && covering(row - 1, col);
    case 2:
      if (col + cs >= C) {
        if (row + rs >= R) return false;
        return NeighbourCell(row, col, 6, new_row, new_col, true, false);
      }
      return covering(row, col + cs);
    case 3:
      return row + rs < R && covering(row + rs, col);
    case 6: {
      for (int32_t c = col + 1; c < C; ++c)
        if (GetCells(row, c)) {
          new_row = row, new_col = c;
          return true;
        }
      for (int32_t r = row + 1; r < R; ++r)
        for (int32_t c = 0; c < C; ++c)
          if (GetCells(r, c)) {
            new_row = r, new_col = c;
            return true;
          }
      auto* edit = dynamic_cast<TRVEditRVData*>(host_);
      if (auto_add_row && edit && (TableState & 1)) {
        const int32_t item_no = GetItemNoInParent();
        const int32_t before = NoteMinWidthBefore(item_no);
        try {
          InsertRows(R, 1, R - 1);
        } catch (...) {
          ReformatAfterChange(item_no, before);
          ReportChange();
          throw;
        }
        ReformatAfterChange(item_no, before);
        ReportChange();
        return NeighbourCell(row, col, 6, new_row, new_col, silent, false);
      }
      if (!silent) MessageBeep(0);
      return false;
    }
    case 7: {
      for (int32_t c = col - 1; c >= 0; --c)
        if (GetCells(row, c)) {
          new_row = row, new_col = c;
          return true;
        }
      for (int32_t r = row - 1; r >= 0; --r)
        for (int32_t c = C - 1; c >= 0; --c)
          if (GetCells(r, c)) {
            new_row = r, new_col = c;
            return true;
          }
      if (!silent) MessageBeep(0);
      return false;
    }
    default:
      return false;
  }
}

void TRVTableItemInfo::MoveFromCellEditor(TRVTableInplaceEdit* editor, int32_t direction) {
  if (!editor || editor != CellEditor) return;
  TCustomDocViewEdit* ctrl = EditorControl();
  if (!ctrl) return;
  TRVEditRVData* main = ctrl->EditData();
  const int32_t row = editor->Row, col = editor->Col;
  const int32_t item_no = GetItemNoInParent();
  auto leave = [&](int32_t item, int32_t offs) {
    CloseCellEditor(true);
    ChosenRow = ChosenCol = -1;
    main->SetSelectionBounds(item, offs, item, offs);
    if (!main->NotFormatted()) main->ChangeCaret(false, false, false);
    ctrl->setFocus();
  };
  if (direction == 4) return leave(0, main->GetOffsBeforeItem(0));
  if (direction == 5) {
    const int32_t last = main->ItemCount() - 1;
    return leave(last, main->GetOffsAfterItem(last));
  }
  int32_t nr = -1, nc = -1;
  if (NeighbourCell(row, col, direction, nr, nc, false, RVTableTabAddsRow)) {
    const bool to_start = direction == 2 || direction == 3 || direction == 6;
    OpenCellEditor(item_no, nr, nc, false, to_start, !to_start, false, false);
    return;
  }
  TRVTableCellData* cell = GetCells(row, col);
  if ((direction == 0 && col == 0) || (direction == 1 && row == 0)) return leave(item_no, 0);
  if (cell &&
      ((direction == 2 && col + cell->ColSpan >= ColCount()) || (direction == 3 && row + cell->RowSpan >= RowCount())))
    return leave(item_no, 1);
}

void TRVTableItemInfo::BuildJumps(TCustomRVData* rvdata, int32_t draw_item_no, int32_t& counter,
                                  std::vector<std::unique_ptr<TRVJumpInfo>>* list) {
  TRVStyle* style = rvdata ? rvdata->GetRVStyle() : nullptr;
  if (!style) return;
  const int32_t first = rvdata->FirstJumpNo;
  const int32_t P = CellPadding;
  for (int32_t r = 0; r < RowCount(); ++r)
    for (int32_t c = 0; c < Row(r).Count(); ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell) continue;
      cell->FirstJumpNo = first;
      if (CellEditor && CellEditor->Row == r && CellEditor->Col == c) {
        TRVEditRVData* d = CellEditor->EditData();
        d->FirstJumpNo = counter + first;
        counter = d->FirstJumpNo + BuildCellEditorJumps(d) - first;
        continue;
      }
      TRVTableCellView* view = cell->View();
      if (!view) continue;
      view->FirstJumpNo = first;
      int32_t free = cell->Height - 2 * P - view->DocumentHeight;
      const TRVCellVAlign va = cell->EffectiveVAlign();
      const int32_t dy = std::max(0, va == rvcBottom ? free : va == rvcMiddle ? free / 2 : 0);
      int32_t previous = -1;
      for (int32_t i = 0; i < view->DrawLines.Count(); ++i) {
        TRVDrawLineInfo* d = view->DrawLines[i];
        TCustomRVItemInfo* item = cell->GetItem(d->ItemNo);
        if (!item->GetBoolValueEx(1, style)) {
          previous = -1;
          continue;
        }
        if (d->ItemNo != previous) item->JumpID = counter++;
        previous = d->ItemNo;
        if (!list) continue;
        auto j = std::make_unique<TRVJumpInfo>();
        j->RVData = rvdata;
        j->Width = d->Width;
        j->Height = d->Height;
        j->Id = item->JumpID;
        j->DrawItemNo = draw_item_no;
        j->DX = cell->Left + P + d->Left;
        j->DY = cell->Top + P + dy + d->Top;
        j->Cursor = item->GetHypertextCursor(style);
        list->push_back(std::move(j));
      }
    }
}

bool TRVTableItemInfo::EnterFromKeyboard(int32_t direction, int32_t x) {
  const int32_t R = RowCount(), C = ColCount();
  if (R == 0 || C == 0 || !Options.Contains(rvtoEditing)) return false;
  int32_t r = 0, c = 0;
  bool to_start = true;
  switch (direction) {
    case 0:
      break;
    case 1:
      GetMainCell(R - 1, C - 1, r, c);
      to_start = false;
      break;
    case 2:
    case 3: {
      const int32_t k = ColumnAtX(x);
      if (k < 0) return false;
      GetMainCell(direction == 2 ? 0 : R - 1, k, r, c);
      to_start = direction == 2;
      break;
    }
    default:
      return false;
  }
  OpenCellEditor(-1, r, c, false, to_start, !to_start, false, false);
  return true;
}

void TRVTableItemInfo::CleanUpChosen() {
  ValidateChosenCell();
  if (ChosenRow >= 0 && ChosenCol >= 0)
    if (auto* fd = dynamic_cast<TCustomRVFormattedData*>(GetCells(ChosenRow, ChosenCol)->View()))
      fd->Deselect(nullptr, false);
  ChosenRow = ChosenCol = -1;
  CloseCellEditor(true);
}

// ---- Sub-documents and the chosen cell ------------------------------------------------------------

void FindCellOfData(const TRVTableItemInfo* table, const TCustomRVData* data, int32_t& row, int32_t& col) {
  row = col = -1;
  if (!table || !data) return;
  for (int32_t r = 0; r < table->RowCount(); ++r)
    for (int32_t c = 0; c < table->ColCount(); ++c) {
      TRVTableCellData* cell = table->GetCells(r, c);
      if (!cell) continue;
      const bool edited = table->CellEditor && table->CellEditor->Cell == cell &&
                          data == static_cast<const TCustomRVData*>(table->CellEditor->RVData.get());
      if (data == cell || data == static_cast<const TCustomRVData*>(cell->View()) || edited) {
        row = r;
        col = c;
        return;
      }
    }
}

void TRVTableItemInfo::ValidateChosenCell() {
  if (ChosenRow < 0 || ChosenCol < 0 || ChosenRow >= RowCount() || ChosenCol >= ColCount()) {
    ChosenRow = ChosenCol = -1;
    return;
  }
  int32_t r = ChosenRow, c = ChosenCol;
  GetMainCell(ChosenRow, ChosenCol, r, c);
  ChosenRow = r;
  ChosenCol = c;
}

void TRVTableItemInfo::AdjustInserted(int32_t x, int32_t y, bool /*reformat*/) {
  if (CellEditor && !CellEditor->BeingDestroyed)
    if (TRVTableCellData* cell = CellEditor->Cell) {
      ClientLeft = x;
      ClientTop = y;
      const QSize old_size = CellEditor->size();
      const int32_t offset = CellEditorContentOffset(cell);
      PlaceCellEditor(x + cell->Left, y + cell->Top + offset, cell->Width, cell->Height - offset);
      // A new width lays the cell's text out again, the caret kept where it was.
      if (CellEditor->size() != old_size && !CellEditor->EditData()->NotFormatted()) CellEditor->Reformat();
    }
  OriginX = x;
  OriginY = y;
  // The inserted controls of the cells follow the table (those of the edited cell live in
  // its editor, which places them itself).
  auto* fd = dynamic_cast<TCustomRVFormattedData*>(host_);
  if (!fd || (fd->GetFlags() & 0x0004)) return;
  for (int32_t r = 0; r < RowCount(); ++r)
    for (int32_t c = 0; c < ColCount(); ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell || (CellEditor && CellEditor->Cell == cell)) continue;
      TRVTableCellView* view = cell->View();
      if (view->IsStale()) continue;
      const int32_t cx = x + cell->Left + CellPadding, cy = y + cell->Top + CellContentTop(cell);
      for (int32_t i = 0; i < view->DrawLines.Count(); ++i)
        if (auto* ci = dynamic_cast<TRVControlItemInfo*>(view->GetItem(view->DrawLines[i]->ItemNo)))
          ci->AdjustInserted(cx + view->DrawLines[i]->Left, cy + view->DrawLines[i]->Top, true);
    }
}

void TRVTableItemInfo::UpdateItemCoords(TCustomRVData* rvdata, int32_t /*item_no*/) {
  if (dynamic_cast<TCustomRVFormattedData*>(rvdata)) GetItemClientCoords(OriginX, OriginY);
}

bool TRVTableItemInfo::OwnsInplaceEditor(const void* editor) const {
  return editor && editor == static_cast<const QWidget*>(CellEditor);
}

bool TRVTableItemInfo::FindCellOfControl(TObject* control, int32_t& row, int32_t& col, int32_t& item_index) const {
  row = col = item_index = -1;
  for (int32_t r = 0; r < RowCount(); ++r)
    for (int32_t c = 0; c < ColCount(); ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell) continue;
      // While the cell is edited its items live in the editor's document.
      const TCustomRVData* doc = (CellEditor && CellEditor->Cell == cell) ? static_cast<TCustomRVData*>(CellEditor->RVData.get())
                                                                          : static_cast<TCustomRVData*>(cell);
      const int32_t k = doc->FindControlItemNo(control);
      if (k >= 0) {
        row = r;
        col = c;
        item_index = k;
        return true;
      }
    }
  return false;
}

bool TRVTableItemInfo::OwnsControl(TObject* control) const {
  int32_t r, c, k;
  return control && FindCellOfControl(control, r, c, k);
}

TCustomRVData* TRVTableItemInfo::GetSubRVDataAt(int32_t x, int32_t y) {
  int32_t r, c;
  if (!FindCellAt(x, y, r, c)) return nullptr;
  TRVTableCellData* cell = GetCells(r, c);
  if (CellEditor && CellEditor->Cell == cell) return CellEditor->RVData.get();
  return cell;
}

TCustomRVData* TRVTableItemInfo::GetSubLayoutAt(int32_t x, int32_t y, int32_t& sub_x, int32_t& sub_y) {
  int32_t r, c;
  if (!FindCellAt(x, y, r, c)) return nullptr;
  TRVTableCellData* cell = GetCells(r, c);
  if (!cell || (CellEditor && CellEditor->Cell == cell)) return nullptr;
  TRVTableCellView* view = cell->View();
  auto* fd = dynamic_cast<TCustomRVFormattedData*>(host_);
  if (view->IsStale() || !fd) return nullptr;
  // Look-ups in the cell measure on the canvas of the document around it (the one the cell
  // was laid out on may be gone).
  view->FormatCanvas = fd->GetCanvas();
  sub_x = x - cell->Left - CellPadding;
  sub_y = y - cell->Top - CellContentTop(cell);
  return view;
}

void TRVTableItemInfo::ChooseSubRVData(const TRVStoreSubRVData* state) {
  if (auto* s = dynamic_cast<const TRVTableStoreSubRVData*>(state)) ChooseCell(s->Row, s->Col);
}

void TRVTableItemInfo::ChooseCell(int32_t row, int32_t col) {
  TRVTableCellData* cell = (row >= 0 && row < RowCount() && col >= 0 && col < ColCount()) ? GetCells(row, col) : nullptr;
  auto* fd = dynamic_cast<TCustomRVFormattedData*>(host_);
  // Outside an editor the chosen cell is the document's active sub-document.
  const bool viewer = fd && (TableState & 3) == 1;
  if (row == ChosenRow && col == ChosenCol && (TableState & 2 ? CellEditor != nullptr : true) &&
      (!viewer || !cell || fd->GetActiveSubData() == cell->View()))
    return;
  if (!cell) return;
  int32_t si = -1, ei = -1, so = 0, eo = 0;
  if (auto* view = dynamic_cast<TCustomRVFormattedData*>(cell->View())) view->GetSelBounds(si, ei, so, eo, false);
  const int32_t item_no = GetItemNoInParent();
  if (fd && item_no >= 0) {
    fd->StoreSelectionBounds(item_no, item_no, 1, 1);
    fd->SelectionChanged(false);
  }
  if (viewer) fd->SetActiveSubData(cell->View(), this);
  ChosenRow = row;
  ChosenCol = col;
  if ((TableState & 3) == 3) OpenEditorForCell(row, col, false);
  // The cell's own selection comes back in the document that now stands for it.
  TCustomRVFormattedData* doc = CellEditor && CellEditor->Cell == cell
                                    ? static_cast<TCustomRVFormattedData*>(CellEditor->RVData.get())
                                    : dynamic_cast<TCustomRVFormattedData*>(cell->View());
  if (doc && si >= 0 && ei >= 0 && si < doc->ItemCount() && ei < doc->ItemCount() && doc->DrawLines.Count() > 0) {
    doc->SetSelectionBounds(si, so, ei, eo);
    doc->InvalidateControl();
  }
}

void TRVTableItemInfo::OpenEditorForCell(int32_t row, int32_t col, bool no_event) {
  if (!(TableState & 1) || !(TableState & 2)) return;
  if (!no_event && !Options.Contains(rvtoEditing)) return;
  // A table in a cell of another table: that cell is edited first.
  if (auto* outer_cell = dynamic_cast<TRVTableCellData*>(host_)) {
    TRVTableItemInfo* outer = outer_cell->Table();
    int32_t r = -1, c = -1;
    FindCellOfData(outer, host_, r, c);
    if (r < 0) throw EDocViewError("Internal error");
    outer->OpenEditorForCell(r, c, no_event);
  }
  OpenCellEditor(-1, row, col, false, true, false, false, no_event);
}

void TRVTableItemInfo::DropChosenCell() {
  ValidateChosenCell();
  if (auto* fd = dynamic_cast<TCustomRVFormattedData*>(host_); fd && ChosenRow >= 0) {
    // The document ends its active sub-document (which closes a cell editor of it).
    if (fd->GetActiveSubDataItem() == this) fd->ClearActiveSubData();
    CloseCellEditor(true);
  }
  ChosenRow = ChosenCol = -1;
}

bool TRVTableItemInfo::ChosenCellHasSelection() {
  ValidateChosenCell();
  if (ChosenRow < 0) return false;
  TRVTableCellData* cell = GetCells(ChosenRow, ChosenCol);
  TCustomRVFormattedData* doc = CellEditor && CellEditor->Cell == cell
                                    ? static_cast<TCustomRVFormattedData*>(CellEditor->RVData.get())
                                    : dynamic_cast<TCustomRVFormattedData*>(cell->View());
  return doc && doc->SelectionExists(false);
}

// ---- Hit tests ----------------------------------------------------------------------------------

bool TRVTableItemInfo::FindCellAt(int32_t x, int32_t y, int32_t& row, int32_t& col) {
  auto inside = [&](TRVTableCellData* cell) {
    return cell && x > cell->Left && x < cell->Left + cell->Width - 1 && y > cell->Top &&
           y < cell->Top + cell->Height - 1;
  };
  if (HitRow >= 0 && HitRow < RowCount() && HitCol >= 0 && HitCol < ColCount()) {
    TRVTableCellData* cell = GetCells(HitRow, HitCol);
    if (inside(cell)) {
      row = HitRow, col = HitCol;
      return true;
    }
  }
  const int32_t R = RowCount(), C = ColCount();
  if (R == 0 || C == 0 || Layout.RowTops.size() < static_cast<size_t>(R) ||
      Layout.ColumnLefts.size() < static_cast<size_t>(C))
    return false;
  TRVTableCellData* first = GetCells(0, 0);
  const int32_t L = first ? first->Left : 0, T = first ? first->Top : 0;
  if (!(x > L + 1 && y > T + 1 && x < Layout.TableWidth - L - 1 && y < Layout.TableHeight - T - 1)) return false;
  int32_t r = R - 1;
  for (int32_t k = 0; k + 1 < R; ++k)
    if (y < Layout.RowTops[static_cast<size_t>(k + 1)]) {
      r = k;
      break;
    }
  int32_t c = C - 1;
  for (int32_t k = 0; k + 1 < C; ++k)
    if (x < Layout.ColumnLefts[static_cast<size_t>(k + 1)]) {
      c = k;
      break;
    }
  int32_t mr = 0, mc = 0;
  TRVTableCellData* cell = GetMainCell(r, c, mr, mc);
  if (!inside(cell)) return false;
  row = HitRow = mr;
  col = HitCol = mc;
  return true;
}

int32_t TRVTableItemInfo::FindColumnBorder(int32_t x, int32_t& min_pos, int32_t& border_pos) const {
  const int32_t C = ColCount();
  if (x < 0 || x > Layout.TableWidth || C == 0 || Layout.ColumnLefts.size() < static_cast<size_t>(C)) return -1;
  const int32_t gap = 2 * CellBorderWidth + CellHSpacing;
  const int32_t outer = BorderWidth + BorderHSpacing + CellBorderWidth;
  auto near = [&](int32_t p, int32_t t) { return std::abs(x - p) <= std::max(t / 2, 2); };
  if (near(outer / 2, outer)) {
    min_pos = -1;
    border_pos = outer / 2;
    return 0;
  }
  if (near(Layout.TableWidth - outer / 2, outer)) {
    min_pos = Layout.ColumnLefts[static_cast<size_t>(C - 1)];
    border_pos = Layout.TableWidth - outer / 2;
    return C;
  }
  for (int32_t k = 1; k < C; ++k)
    if (near(Layout.ColumnLefts[static_cast<size_t>(k)] - gap / 2, gap)) {
      min_pos = Layout.ColumnLefts[static_cast<size_t>(k - 1)];
      border_pos = Layout.ColumnLefts[static_cast<size_t>(k)] - (gap + 1) / 2;
      return k;
    }
  return -1;
}

int32_t TRVTableItemInfo::FindRowBorder(int32_t y, int32_t& min_pos, int32_t& border_pos) const {
  const int32_t R = RowCount();
  if (y < 0 || y > Layout.TableHeight || R == 0 || Layout.RowTops.size() < static_cast<size_t>(R)) return -1;
  const int32_t gap = 2 * CellBorderWidth + CellVSpacing;
  const int32_t outer = BorderWidth + BorderVSpacing + CellBorderWidth;
  auto near = [&](int32_t p, int32_t t) { return std::abs(y - p) <= std::max(t / 2, 2); };
  if (near(outer / 2, outer)) {
    min_pos = -1;
    border_pos = outer / 2;
    return 0;
  }
  if (near(Layout.TableHeight - outer / 2, outer)) {
    min_pos = Layout.RowTops[static_cast<size_t>(R - 1)];
    border_pos = Layout.TableHeight - outer / 2;
    return R;
  }
  for (int32_t k = 1; k < R; ++k)
    if (near(Layout.RowTops[static_cast<size_t>(k)] - gap / 2, gap)) {
      min_pos = Layout.RowTops[static_cast<size_t>(k - 1)];
      border_pos = Layout.RowTops[static_cast<size_t>(k)] - (gap + 1) / 2;
      return k;
    }
  return -1;
}

int32_t TRVTableItemInfo::ColumnAtX(int32_t x) const {
  for (size_t k = 0; k < Layout.ColumnLefts.size() && k < Layout.ColumnWidths.size(); ++k) {
    if (x < Layout.ColumnLefts[k]) return -1;
    if (x <= Layout.ColumnLefts[k] + Layout.ColumnWidths[k] + 2 * CellPadding) return static_cast<int32_t>(k);
  }
  return -1;
}

int32_t TRVTableItemInfo::RowAtY(int32_t y) const {
  for (size_t k = 0; k < Layout.RowTops.size() && k < Layout.RowContentHeights.size(); ++k) {
    if (y < Layout.RowTops[k]) return -1;
    if (y <= Layout.RowTops[k] + Layout.RowContentHeights[k] + 2 * CellPadding) return static_cast<int32_t>(k);
  }
  return -1;
}

// ---- Cell selection ------------------------------------------------------------------------------

bool TRVTableItemInfo::EnterItem(bool from_next, int32_t /*x*/) {
  const bool forward = !from_next;
  const int32_t rows = RowCount(), cols = ColCount();
  if (rows == 0 || cols == 0) return false;
  if (FocusRow < 0 || FocusCol < 0 || FocusRow >= rows || FocusCol >= cols) FocusRow = FocusCol = -1;
  TRVTableCellData* cell = nullptr;
  if (FocusRow < 0) {
    int32_t r = 0, c = 0;
    cell = forward ? GetMainCell(0, 0, r, c) : GetMainCell(rows - 1, cols - 1, r, c);
    if (!cell) return false;
    FocusRow = r;
    FocusCol = c;
    cell->View()->FocusedItem = -1;
  }
  for (;;) {
    cell = GetCells(FocusRow, FocusCol);
    if (cell) {
      TRVTableCellView* view = cell->View();
      TCustomRVFormattedData* rvdata = nullptr;
      int32_t inner = -1;
      view->FocusedItem = view->FindNextFocusableItem(view->FocusedItem, forward, rvdata, inner);
      if (view->FocusedItem >= 0 && rvdata) {
        TCustomRVFormattedData* host = dynamic_cast<TCustomRVFormattedData*>(host_);
        if (!host)
          if (auto* outer = dynamic_cast<TRVTableCellData*>(host_)) host = outer->View();
        if (host) {
          host->FocusReachedData = rvdata;
          host->FocusReachedItemNo = inner;
        }
        return true;
      }
    }
    int32_t nr = -1, nc = -1;
    if (!NeighbourCell(FocusRow, FocusCol, forward ? 6 : 7, nr, nc, true, false)) {
      FocusRow = FocusCol = -1;
      return false;
    }
    FocusRow = nr;
    FocusCol = nc;
    if (TRVTableCellData* next = GetCells(nr, nc)) next->View()->FocusedItem = -1;
  }
}

void TRVTableItemInfo::LeaveItem() {
  if (FocusRow >= 0 && FocusCol >= 0 && FocusRow < RowCount() && FocusCol < ColCount())
    if (TRVTableCellData* cell = GetCells(FocusRow, FocusCol)) cell->View()->ClearItemFocus();
  FocusRow = FocusCol = -1;
}

bool TRVTableItemInfo::AdjustFocusToControl(TObject* control, TCustomRVData*& top_data, TCustomRVItemInfo*& item) {
  int32_t r = -1, c = -1, k = -1;
  if (!control || !FindCellOfControl(control, r, c, k)) return false;
  TRVTableCellData* cell = GetCells(r, c);
  // While the cell is edited the control's item lives in the editor's document.
  TCustomRVFormattedData* doc = cell->View();
  if (CellEditor && CellEditor->Cell == cell)
    if (auto* edited = dynamic_cast<TCustomRVFormattedData*>(CellEditor->RVData.get())) doc = edited;
  FocusRow = r;
  FocusCol = c;
  doc->FocusedItem = k;
  TCustomRVItemInfo* owner = doc->GetItem(k);
  owner->AdjustFocusToControl(control, top_data, item);
  if (owner->GetBoolValue(7)) {
    item = owner;
    top_data = doc;
  }
  return true;
}

bool TRVTableItemInfo::StartMouseCellSelection(int32_t row, int32_t col) {
  auto* fd = dynamic_cast<TCustomRVFormattedData*>(host_);
  if (!fd || !host_->GetOptions().Contains(rvoAllowSelection) || Options.Contains(rvtoNoCellSelect)) return false;
  // A table that already has a cell selection is the partly selected item already.
  if (!cell_selection_) fd->SetPartiallySelected(this);
  SelAnchorRow = row;
  SelAnchorCol = col;
  SelRowDelta = SelColDelta = 0;
  cell_selection_ = false;
  fd->SetMouseCapture(this, ClientLeft, ClientTop);
  RefreshCellSelectionFlags();
  MouseSelecting = true;
  return true;
}

void TRVTableItemInfo::SelectCellRange(int32_t row, int32_t col, int32_t col_delta, int32_t row_delta) {
  if (!(TableState & 1)) return;
  CloseCellEditor(true);
  auto* fd = dynamic_cast<TCustomRVFormattedData*>(host_);
  if (!fd || !host_->GetOptions().Contains(rvoAllowSelection)) return;
  cell_selection_ = true;
  SelAnchorRow = row;
  SelAnchorCol = col;
  SelColDelta = col_delta;
  SelRowDelta = row_delta;
  RefreshCellSelectionFlags();
  fd->InvalidateControl();
  fd->DoSelect();
}

void TRVTableItemInfo::SelectWholeColumns(int32_t col, int32_t count) {
  SelectCellRange(0, col, count - 1, RowCount() - 1);
}

void TRVTableItemInfo::SelectWholeRows(int32_t row, int32_t count) {
  SelectCellRange(row, 0, Row(row).Count() - 1, count - 1);
}

void TRVTableItemInfo::ClearCellSelection() {
  CloseCellEditor(true);
  cell_selection_ = false;
  SelAnchorRow = SelAnchorCol = -1;
  SelRowDelta = SelColDelta = 0;
  RefreshCellSelectionFlags();
  ChosenRow = ChosenCol = -1;
  if (auto* fd = dynamic_cast<TCustomRVFormattedData*>(host_)) {
    fd->InvalidateControl();
    fd->DoSelect();
  }
}

bool TRVTableItemInfo::GetCellSelectionRect(bool include_edited_cell, int32_t& top_row, int32_t& left_col,
                                            int32_t& col_count, int32_t& row_count) {
  if (cell_selection_ && (SelAnchorRow < 0 || SelAnchorCol < 0)) {
    cell_selection_ = false;
    if (auto* fd = dynamic_cast<TCustomRVFormattedData*>(host_)) fd->ReleaseMouseCapture(this);
    MouseSelecting = false;
  }
  if (!cell_selection_) {
    if (include_edited_cell && CellEditor && CellEditor->Cell) {
      top_row = CellEditor->Row;
      left_col = CellEditor->Col;
      col_count = CellEditor->Cell->ColSpan;
      row_count = CellEditor->Cell->RowSpan;
      return true;
    }
    return false;
  }
  const int32_t R = RowCount(), C = ColCount();
  auto clamp = [](int32_t v, int32_t n) { return std::max(0, std::min(v, n - 1)); };
  int32_t ar = 0, ac = 0, br = 0, bc = 0;
  TRVTableCellData* a = GetMainCell(clamp(SelAnchorRow, R), clamp(SelAnchorCol, C), ar, ac);
  TRVTableCellData* b = GetMainCell(clamp(SelAnchorRow + SelRowDelta, R), clamp(SelAnchorCol + SelColDelta, C), br, bc);
  if (!a || !b) return false;
  top_row = std::min(ar, br);
  left_col = std::min(ac, bc);
  row_count = std::max(ar + a->RowSpan, br + b->RowSpan) - top_row;
  col_count = std::max(ac + a->ColSpan, bc + b->ColSpan) - left_col;
  return true;
}

bool TRVTableItemInfo::GetCellSelectionRectFull(bool include_edited_cell, int32_t& top_row, int32_t& left_col,
                                                int32_t& col_count, int32_t& row_count) {
  if (!cell_selection_ || SelAnchorRow < 0 || SelAnchorCol < 0)
    return GetCellSelectionRect(include_edited_cell, top_row, left_col, col_count, row_count);
  const int32_t R = RowCount(), C = ColCount();
  auto clamp = [](int32_t v, int32_t n) { return std::max(0, std::min(v, n - 1)); };
  const int32_t r1 = clamp(SelAnchorRow, R), c1 = clamp(SelAnchorCol, C);
  const int32_t r2 = clamp(SelAnchorRow + SelRowDelta, R), c2 = clamp(SelAnchorCol + SelColDelta, C);
  int32_t top = std::min(r1, r2), bottom = std::max(r1, r2) + 1, left = std::min(c1, c2), right = std::max(c1, c2) + 1;
  const int32_t top0 = top, bottom0 = bottom, left0 = left, right0 = right;
  auto take = [&](int32_t r, int32_t c) {
    int32_t mr = 0, mc = 0;
    if (TRVTableCellData* cell = GetMainCell(r, c, mr, mc)) {
      top = std::min(top, mr);
      bottom = std::max(bottom, mr + cell->RowSpan);
      left = std::min(left, mc);
      right = std::max(right, mc + cell->ColSpan);
    }
  };
  // One pass along the four edges, so that merged cells crossing them are taken whole.
  for (int32_t c = left0; c < right0; ++c) {
    take(top0, c);
    take(bottom0 - 1, c);
  }
  for (int32_t r = top0; r < bottom0; ++r) {
    take(r, left0);
    take(r, right0 - 1);
  }
  top_row = top;
  left_col = left;
  row_count = bottom - top;
  col_count = right - left;
  return true;
}

bool TRVTableItemInfo::IsCellInSelection(int32_t row, int32_t col) {
  if (!cell_selection_) return false;
  int32_t tr = 0, lc = 0, cc = 0, rc = 0;
  if (!GetCellSelectionRect(false, tr, lc, cc, rc)) return false;
  int32_t mr = 0, mc = 0;
  TRVTableCellData* cell = GetMainCell(row, col, mr, mc);
  if (!cell) return false;
  return mr < tr + rc && mr + cell->RowSpan > tr && mc < lc + cc && mc + cell->ColSpan > lc;
}

void TRVTableItemInfo::RefreshCellSelectionFlags() {
  for (int32_t r = 0; r < RowCount(); ++r)
    for (int32_t c = 0; c < ColCount(); ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell) continue;
      if (IsCellInSelection(r, c))
        cell->State |= rvstCompletelySelected;
      else
        cell->State &= ~rvstCompletelySelected;
    }
}

// ---- Mouse ------------------------------------------------------------------------------------------

bool TRVTableItemInfo::MouseMove(uint32_t shift, int32_t x, int32_t y, int32_t /*item_no*/, TCustomRVData* rvdata) {
  auto* fd = dynamic_cast<TCustomRVFormattedData*>(rvdata);
  if (RowCount() == 0 || (fd && resize_line_ && fd->UsesXorDrawing(resize_line_.get()))) return false;
  if (UpdateLock > 0) return true;
  int32_t r = 0, c = 0;
  const bool editable = dynamic_cast<TRVEditRVData*>(host_) != nullptr;
  if (FindCellAt(x, y, r, c)) {
    if (MouseSelecting && (shift & rvssLeft)) {
      const int32_t cd = c - SelAnchorCol, rd = r - SelAnchorRow;
      cell_selection_ = cd != 0 || rd != 0;
      if (cd != SelColDelta || rd != SelRowDelta) {
        SelColDelta = cd;
        SelRowDelta = rd;
        // The editor stays until the button is released, shown as part of the selection.
        if (CellEditor) CellEditor->SetCellSelected(cell_selection_);
        RefreshCellSelectionFlags();
        if (fd) fd->InvalidateControl();
      }
    }
    // Within one cell the move goes to the cell's document (it extends a selection made
    // there, and sets the cursor over its text).
    int32_t sx = 0, sy = 0;
    if (!MouseSelecting || !cell_selection_)
      if (TRVTableCellView* view = CellContentViewAt(r, c, x, y, sx, sy)) {
        if (MouseSelecting && r == SelAnchorRow && c == SelAnchorCol) {
          view->MouseMove(shift, sx, sy);
        } else {
          // Only the anchor cell selects; another cell under the mouse shows its cursor.
          view->MouseMove(shift & ~static_cast<uint32_t>(rvssLeft), sx, sy);
        }
        return true;
      }
    if (fd) fd->SetControlCursor(crArrow);
    return true;
  }
  int32_t mn = 0, bp = 0;
  if (fd) {
    const bool may_select = host_ && host_->GetOptions().Contains(rvoAllowSelection);
    const int32_t b = FindColumnBorder(x, mn, bp);
    if (Options.Contains(rvtoRowSelect) && b == 0 && may_select) {
      fd->SetControlCursor(crRVSelectRow);
      return true;
    }
    if (editable && Options.Contains(rvtoColSizing) && b > 0) {
      fd->SetControlCursor(crHSplit);
      return true;
    }
    const int32_t v = FindRowBorder(y, mn, bp);
    if (Options.Contains(rvtoColSelect) && v == 0 && may_select) {
      fd->SetControlCursor(crRVSelectCol);
      return true;
    }
    if (editable && Options.Contains(rvtoRowSizing) && v > 0) {
      fd->SetControlCursor(crVSplit);
      return true;
    }
    fd->SetControlCursor(crArrow);
  }
  return true;
}

TRVTableCellView* TRVTableItemInfo::CellContentViewAt(int32_t row, int32_t col, int32_t x, int32_t y, int32_t& sub_x,
                                                      int32_t& sub_y) {
  TRVTableCellData* cell = GetCells(row, col);
  auto* fd = dynamic_cast<TCustomRVFormattedData*>(host_);
  if (!cell || !fd || (CellEditor && CellEditor->Cell == cell)) return nullptr;
  // Inside the cell shrunk by the padding on every side.
  if (x < cell->Left + CellPadding || x >= cell->Left + cell->Width - CellPadding || y < cell->Top + CellPadding ||
      y >= cell->Top + cell->Height - CellPadding)
    return nullptr;
  TRVTableCellView* view = cell->View();
  if (view->IsStale()) return nullptr;
  view->FormatCanvas = fd->GetCanvas();
  sub_x = x - cell->Left - CellPadding;
  sub_y = y - cell->Top - CellContentTop(cell);
  return view;
}

bool TRVTableItemInfo::MouseDown(int32_t button, uint32_t shift, int32_t x, int32_t y, int32_t item_no,
                                 TCustomRVData* rvdata) {
  auto* fd = dynamic_cast<TCustomRVFormattedData*>(rvdata);
  if (RowCount() == 0 || UpdateLock > 0 || !fd) return false;
  const bool editable = dynamic_cast<TRVEditRVData*>(host_) != nullptr;
  int32_t r = 0, c = 0;
  if ((button == rvmbLeft || button == rvmbRight) && editable && Options.Contains(rvtoEditing) &&
      FindCellAt(x, y, r, c)) {
    int32_t tr = 0, lc = 0, cc = 0, rc = 0;
    if (button == rvmbRight && ((cell_selection_ && GetCellSelectionRect(false, tr, lc, cc, rc) &&
                                 IsCellInSelection(r, c)) ||
                                IsSelectedAsWhole()))
      return false;
    OpenCellEditor(item_no, r, c, (shift & 4u) != 0, false, false, button == rvmbLeft, false);
    if (CellEditor && CellEditor->Row == r && CellEditor->Col == c) {
      if (button == rvmbLeft) {
        CellEditor->MouseDownFlag = true;
        StartMouseCellSelection(r, c);
      }
      TRVTableCellData* cell = GetCells(r, c);
      CellEditor->RVData->MouseDown(button, shift, x - cell->Left, y - cell->Top - CellEditorContentOffset(cell));
    }
    return false;
  }
  OriginX = OriginY = 0;
  if (FindCellAt(x, y, r, c)) {
    CloseCellEditor(true);
    TRVTableCellData* cell = GetCells(r, c);
    // A left press makes the cell the chosen one; a press on its content goes to its
    // document (a text selection starts there).
    if (button == rvmbLeft && cell) {
      fd->SetActiveSubData(cell->View(), this);
      ChosenRow = r;
      ChosenCol = c;
    }
    int32_t sx = 0, sy = 0;
    if (TRVTableCellView* view = CellContentViewAt(r, c, x, y, sx, sy)) view->MouseDown(button, shift, sx, sy);
    TCustomRVData* root = fd->GetAbsoluteRootData();
    if (button == rvmbLeft && !(root && (root->State & rvstDragPending)) && StartMouseCellSelection(r, c))
      fd->InvalidateControl();
    return false;
  }
  if (button == rvmbLeft && (Options.Contains(rvtoRowSizing) || Options.Contains(rvtoColSizing) ||
                             Options.Contains(rvtoColSelect) || Options.Contains(rvtoRowSelect))) {
    auto start_drag = [&](int32_t border, int32_t pos, int32_t border_pos, bool column) {
      DragBorder = border;
      DragStartPos = pos;
      DragGrabOffset = border_pos - pos;
      DraggingColumn = column;
      DragShift = (shift & rvssShift) != 0;
      DragMaxPos = -1;
      SuspendCellEditor();
      if (!resize_line_) resize_line_ = std::make_unique<TTableResizeLine>(this);
      fd->AssignXorDrawing(resize_line_.get());
      int32_t l = 0, t = 0;
      fd->SetMouseCapture(this, l, t);
      Dragging = true;
    };
    int32_t bp = 0, b = -1, v = -1;
    if ((editable && Options.Contains(rvtoColSizing)) || Options.Contains(rvtoRowSelect))
      b = FindColumnBorder(x, DragMinPos, bp);
    if (b > 0 && editable && Options.Contains(rvtoColSizing)) {
      start_drag(b, x, bp, true);
      return false;
    }
    int32_t row_min = -1;
    if ((editable && Options.Contains(rvtoRowSizing)) || Options.Contains(rvtoColSelect))
      v = FindRowBorder(y, row_min, bp);
    if (v > 0 && editable && Options.Contains(rvtoRowSizing)) {
      DragMinPos = row_min;
      start_drag(v, y, bp, false);
      return false;
    }
    int32_t l = 0, t = 0;
    if (v == 0 && Options.Contains(rvtoColSelect)) {
      const int32_t k = ColumnAtX(x);
      if (k >= 0) {
        SelectWholeColumns(k, 1);
        fd->SetMouseCapture(this, l, t);
      }
      return false;
    }
    if (b == 0 && Options.Contains(rvtoRowSelect)) {
      const int32_t k = RowAtY(y);
      if (k >= 0) {
        SelectWholeRows(k, 1);
        fd->SetMouseCapture(this, l, t);
      }
      return false;
    }
    return false;
  }
  CloseCellEditor(true);
  return false;
}

bool TRVTableItemInfo::IsSelectedAsWhole() {
  auto* fd = dynamic_cast<TCustomRVFormattedData*>(host_);
  if (!fd) return false;
  if (fd->State & rvstCompletelySelected) return true;
  if (!fd->SelectionExists(false)) return false;
  const int32_t no = GetItemNoInParent();
  if (no < 0) return false;
  int32_t si, ei, so, eo;
  fd->GetSelBounds(si, ei, so, eo, true);
  return (si < no || (si == no && so == 0)) && (ei > no || (ei == no && eo == 1));
}

bool TRVTableItemInfo::MouseUp(int32_t button, uint32_t shift, int32_t x, int32_t y, int32_t item_no,
                               TCustomRVData* rvdata) {
  auto* fd = dynamic_cast<TCustomRVFormattedData*>(rvdata);
  if (RowCount() == 0 || UpdateLock >= 1 || !fd) return false;
  OriginX = OriginY = 0;
  if (button == rvmbLeft && Dragging) {
    Dragging = false;
    if (resize_line_) fd->UnassignXorDrawing(resize_line_.get());
    ResizeLineShown = false;
    // The capture goes first: a document holding a captured item refuses changes.
    fd->ReleaseMouseCapture(this);
    TCustomDocViewEdit* ctrl = EditorControl();
    if (ctrl && ctrl->BeforeChange(false)) {
      if (DraggingColumn && x != DragStartPos)
        ChangeColumnWidthByDrag(DragBorder - 1, x - DragMinPos + DragGrabOffset, DragShift);
      else if (!DraggingColumn && y != DragStartPos)
        ChangeRowHeightByDrag(DragBorder - 1, y - DragMinPos + DragGrabOffset);
    }
    ResumeCellEditor();
    return false;
  }
  int32_t r = 0, c = 0, sx = 0, sy = 0;
  if (button == rvmbLeft) {
    if (fd->CaptureMouseItem == this && !MouseSelecting) fd->ReleaseMouseCapture(this);
    if (MouseSelecting) {
      // The release ends a selection made in the anchor cell's document.
      if (!CellEditor && SelAnchorRow >= 0 && SelAnchorCol >= 0 && SelAnchorRow < RowCount() &&
          SelAnchorCol < ColCount())
        if (TRVTableCellData* anchor = GetCells(SelAnchorRow, SelAnchorCol)) {
          TRVTableCellView* view = anchor->View();
          if (!view->IsStale())
            view->MouseUp(button, shift, x - anchor->Left - CellPadding, y - CellContentTop(anchor) - anchor->Top);
        }
      fd->ReleaseMouseCapture(this);
      MouseSelecting = false;
      if (CellEditor) {
        CellEditor->MouseDownFlag = false;
        if (cell_selection_) CloseCellEditor(true);
      }
      // A chosen cell that the cell selection covers whole stands no longer for the
      // document's selection.
      if (auto* chosen = dynamic_cast<TRVTableCellView*>(fd->GetActiveSubData());
          chosen && fd->GetActiveSubDataItem() == this && (chosen->Cell->State & rvstCompletelySelected))
        fd->ClearActiveSubData();
    } else if (!CellEditor && FindCellAt(x, y, r, c)) {
      if (TRVTableCellView* view = CellContentViewAt(r, c, x, y, sx, sy)) view->MouseUp(button, shift, sx, sy);
    }
    return false;
  }
  if (!CellEditor && FindCellAt(x, y, r, c))
    if (TRVTableCellView* view = CellContentViewAt(r, c, x, y, sx, sy)) view->MouseUp(button, shift, sx, sy);
  // A right click outside the selection moves the document's selection to just after the table.
  if (button == rvmbRight && fd->GetOptions().Contains(rvoRClickDeselects) && FindCellAt(x, y, r, c) &&
      !IsCellInSelection(r, c) && !IsSelectedAsWhole()) {
    const bool chosen = ChosenRow == r && ChosenCol == c;
    TRVTableCellData* cell = GetCells(r, c);
    // The cell's document (its editor's while edited) must not have a chosen sub-document of
    // its own (a nested table's edited cell).
    TCustomRVFormattedData* cell_doc = cell ? EditedCellDocument(cell) : nullptr;
    if (!cell_doc && cell) cell_doc = cell->View();
    const bool cell_has_chosen = cell_doc && cell_doc->GetActiveSubData();
    if ((!chosen || !cell || !cell->View()->SelectionExists(false)) && !cell_has_chosen && item_no >= 0)
      fd->SetSelectionBounds(item_no, 1, item_no, 1);
  }
  return false;
}

void TRVTableItemInfo::SuspendCellEditor() {
  saved_editor_state_.Valid = false;
  if (!CellEditor) return;
  TRVEditRVData* d = CellEditor->EditData();
  d->GetSelBounds(saved_editor_state_.StartItem, saved_editor_state_.EndItem, saved_editor_state_.StartOffs,
                  saved_editor_state_.EndOffs, false);
  saved_editor_state_.Row = CellEditor->Row;
  saved_editor_state_.Col = CellEditor->Col;
  saved_editor_state_.Valid = true;
  CloseCellEditor(true);
}

void TRVTableItemInfo::ResumeCellEditor() {
  if (!saved_editor_state_.Valid) return;
  saved_editor_state_.Valid = false;
  if (!OpenCellEditor(-1, saved_editor_state_.Row, saved_editor_state_.Col, false, true, false, false, true)) return;
  TRVEditRVData* d = CellEditor->EditData();
  const int32_t n = d->ItemCount();
  if (saved_editor_state_.StartItem >= 0 && saved_editor_state_.StartItem < n && saved_editor_state_.EndItem >= 0 &&
      saved_editor_state_.EndItem < n)
    d->SetSelectionBounds(saved_editor_state_.StartItem, saved_editor_state_.StartOffs, saved_editor_state_.EndItem,
                          saved_editor_state_.EndOffs);
  CellEditor->update();
}

// ---- Resizing -----------------------------------------------------------------------------------------

void TRVTableItemInfo::SetCellBestWidthUndoable(int32_t value, int32_t row, int32_t col) {
  SetCellIntPropertiesUndoable(this, GetEditorItemNoForUndo(), row, col, {{"BestWidth", value}}, true, true);
  MarkChanged();
}

void TRVTableItemInfo::SetCellBestHeightUndoable(int32_t value, int32_t row, int32_t col) {
  SetCellIntPropertiesUndoable(this, GetEditorItemNoForUndo(), row, col, {{"BestHeight", value}}, true, false);
  MarkChanged();
}

void TRVTableItemInfo::SetColumnPixelWidths(int32_t k, int32_t new_width, bool is_neighbour) {
  const int32_t C = ColCount(), P = CellPadding, CB = CellBorderWidth, HS = CellHSpacing, B = BorderWidth,
                BHS = BorderHSpacing;
  const auto& lefts = Layout.ColumnLefts;
  int32_t box = new_width;
  if (is_neighbour) {
    const int32_t right =
        k < C - 1 ? lefts[static_cast<size_t>(k + 1)] - CB - (HS + 1) / 2 : Layout.TableWidth - (B + BHS + CB) / 2;
    box = right + (lefts[static_cast<size_t>(k)] - lefts[static_cast<size_t>(k - 1)]) - (HS + 1) / 2 - new_width - CB -
          lefts[static_cast<size_t>(k)];
  }
  const int32_t content = box - 2 * P;
  const int32_t w = k < C - 1 ? content - CB - HS / 2 : content - (B + BHS + CB + 1) / 2;
  bool one_col_set = false;
  for (int32_t r = 0; r < RowCount(); ++r) {
    TRVTableCellData* cell = GetCells(r, k);
    if (cell && cell->ColSpan == 1) {
      SetCellBestWidthUndoable(std::max(w, 1), r, k);
      one_col_set = true;
    }
  }
  if (is_neighbour) return;
  for (int32_t r = 0; r < RowCount(); ++r) {
    if (GetCells(r, k)) continue;
    int32_t mr = 0, mc = 0;
    TRVTableCellData* cell = GetMainCell(r, k, mr, mc);
    if (!cell || mc >= k || mr != r || mc + cell->ColSpan - 1 != k) continue;
    const int32_t value =
        one_col_set ? 0 : std::max(1, cell->Width + new_width - Layout.ColumnWidths[static_cast<size_t>(k)] - 2 * P);
    SetCellBestWidthUndoable(value, mr, mc);
  }
}

void TRVTableItemInfo::SetColumnPercentWidths(int32_t k, int32_t new_width) {
  const int32_t C = ColCount(), CB = CellBorderWidth, HS = CellHSpacing, B = BorderWidth, BHS = BorderHSpacing;
  const int32_t content = k < C - 1 ? new_width - CB - HS / 2 : new_width - (B + BHS + CB) / 2;
  const int32_t avail = std::max(1, Layout.TableWidth - ExtraHorzSpace());
  bool one_col_set = false;
  for (int32_t r = 0; r < RowCount(); ++r) {
    TRVTableCellData* cell = GetCells(r, k);
    if (cell && cell->ColSpan == 1) {
      int32_t v = -(content * 100 / avail);
      if (v >= 0) v = -1;
      SetCellBestWidthUndoable(v, r, k);
      one_col_set = true;
    }
  }
  for (int32_t r = 0; r < RowCount(); ++r) {
    if (GetCells(r, k)) continue;
    int32_t mr = 0, mc = 0;
    TRVTableCellData* cell = GetMainCell(r, k, mr, mc);
    if (!cell || mc >= k || mr != r || mc + cell->ColSpan - 1 != k) continue;
    int32_t v = 0;
    if (!one_col_set)
      v = std::min(-1, -((content + Layout.ColumnLefts[static_cast<size_t>(k)] - cell->Left) * 100 / avail));
    SetCellBestWidthUndoable(v, mr, mc);
  }
}

void TRVTableItemInfo::ChangeColumnWidthByDrag(int32_t col, int32_t new_width, bool keep_table_width_off) {
  if (col < 0 || col >= ColCount()) return;
  const int32_t item_no = GetItemNoInParent();
  const int32_t before = NoteMinWidthBefore(item_no);
  const bool pct = Rows().ColHasPercentCell(col);
  {
    TEditUndoGroup group(this);
    if (pct) {
      SetColumnPercentWidths(col, new_width);
    } else {
      SetColumnPixelWidths(col, new_width, false);
      if (!keep_table_width_off && col + 1 < ColCount() && !Rows().ColHasPercentCell(col + 1))
        SetColumnPixelWidths(col + 1, new_width, true);
    }
  }
  Layout.TableWidth = 0;
  MarkChanged();
  ReformatAfterChange(item_no, before);
  ReportChange();
}

void TRVTableItemInfo::ChangeRowHeightByDrag(int32_t row, int32_t new_height) {
  if (row < 0 || row >= RowCount()) return;
  const int32_t item_no = GetItemNoInParent();
  const int32_t R = RowCount(), P = CellPadding, CB = CellBorderWidth, VS = CellVSpacing, B = BorderWidth,
                BVS = BorderVSpacing;
  const int32_t content = new_height - 2 * P;
  const int32_t h = row < R - 1 ? content - VS / 2 - CB : content - (B + BVS + CB + 1) / 2;
  {
    TEditUndoGroup group(this);
    bool one_row_set = false;
    for (int32_t c = 0; c < ColCount(); ++c) {
      TRVTableCellData* cell = GetCells(row, c);
      if (cell && cell->RowSpan == 1) {
        SetCellBestHeightUndoable(std::max(h, 0), row, c);
        one_row_set = true;
      }
    }
    for (int32_t c = 0; c < ColCount(); ++c) {
      if (GetCells(row, c)) continue;
      int32_t mr = 0, mc = 0;
      TRVTableCellData* cell = GetMainCell(row, c, mr, mc);
      if (!cell || mr >= row || mc != c || mr + cell->RowSpan - 1 != row) continue;
      SetCellBestHeightUndoable(one_row_set ? 0 : std::max(0, h + Layout.RowTops[static_cast<size_t>(row)] - cell->Top),
                                mr, mc);
    }
  }
  Layout.TableWidth = 0;
  MarkChanged();
  ReformatAfterChange(item_no, NoteMinWidthBefore(item_no));
  ReportChange();
}

// ---- Operations over cells -------------------------------------------------------------------------

int32_t TRVTableItemInfo::NoteMinWidthBefore(int32_t /*item_no*/) {
  if (!dynamic_cast<TRVEditRVData*>(host_)) return 0;
  return GetMinWidth(nullptr, nullptr, host_);
}

void TRVTableItemInfo::ReformatAfterChange(int32_t /*item_no*/, int32_t /*before*/) {
  auto* edit = dynamic_cast<TRVEditRVData*>(host_);
  TCustomDocViewEdit* ctrl = EditorControl();
  if (!edit || !ctrl || edit->NotFormatted()) return;
  // The whole document is laid out again: the table's width may move every line below it.
  const int32_t row = CellEditor ? CellEditor->Row : -1, col = CellEditor ? CellEditor->Col : -1;
  edit->FormatKeepingCaret();
  ctrl->update();
  if (CellEditor && row >= 0)
    if (TRVTableCellData* cell = GetCells(row, col)) {
      GetItemClientCoords(ClientLeft, ClientTop);
      PlaceCellEditor(ClientLeft + cell->Left, ClientTop + cell->Top + CellEditorContentOffset(cell), cell->Width,
                      cell->Height - CellEditorContentOffset(cell));
    }
}

void TRVTableItemInfo::ReportChange() {
  if (TCustomDocViewEdit* ctrl = EditorControl()) ctrl->NotifyChanged();
}

bool TRVTableItemInfo::CanDeletePartiallySelected() const {
  if (!Options.Contains(rvtoEditing)) return false;
  if (!cell_selection_ || !dynamic_cast<TRVEditRVData*>(host_)) return true;
  auto* self = const_cast<TRVTableItemInfo*>(this);
  for (int32_t r = 0; r < RowCount(); ++r)
    for (int32_t c = 0; c < ColCount(); ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell || !self->IsCellInSelection(r, c)) continue;
      TRVStyle* style = cell->GetRVStyle();
      for (int32_t i = 0; i < cell->ItemCount(); ++i) {
        TCustomRVItemInfo* item = cell->GetItem(i);
        if (auto* non_text = dynamic_cast<TRVNonTextItemInfo*>(item); non_text && non_text->Unremovable) return false;
        const int32_t s = item->StyleNo >= 0 ? item->StyleNo : item->GetAssociatedTextStyleNo();
        if (style && s >= 0 && s < style->TextStyles()->Count() &&
            style->TextStyles()->Items(s)->Protection.Contains(rvprDeleteProtect))
          return false;
      }
    }
  return true;
}

void TRVTableItemInfo::DeletePartiallySelected() {
  if (!cell_selection_) return;
  TCustomDocViewEdit* ctrl = EditorControl();
  if (ctrl && !ctrl->BeforeChange(false)) return;
  std::vector<int32_t> rows, cols;
  for (int32_t r = 0; r < RowCount(); ++r)
    for (int32_t c = 0; c < ColCount(); ++c)
      if (GetCells(r, c) && IsCellInSelection(r, c) && AskCellEditing(r, c, true)) {
        rows.push_back(r);
        cols.push_back(c);
      }
  if (rows.empty()) return;
  CloseCellEditor(true);
  const int32_t item_no = GetItemNoInParent();
  const int32_t before = NoteMinWidthBefore(item_no);
  struct TAfter {
    TRVTableItemInfo* t;
    int32_t item_no, before;
    ~TAfter() {
      t->EndTableUndoGroup();
      t->RefreshCellSelectionFlags();
      t->MarkChanged();
      t->ReformatAfterChange(item_no, before);
      t->ReportChange();
    }
  };
  BeginTableUndoGroup();
  TAfter after{this, item_no, before};
  auto* edit = dynamic_cast<TRVEditRVData*>(host_);
  if (auto* rec = edit ? RecordTableUndo<TRVUndoCellsClear>(edit, GetEditorItemNoForUndo(), true, true) : nullptr) {
    rec->Deleting = false;
    rec->CellRows = rows;
    rec->CellCols = cols;
    Rows().ClearCells(&rec->HeldCells, rows, cols, rec);
  } else {
    Rows().ClearCells(nullptr, rows, cols, nullptr);
  }
}

void TRVTableItemInfo::ApplyToCells(int32_t code, int32_t user_data, bool selected_only) {
  if (!Options.Contains(rvtoEditing)) return;
  const int32_t item_no = GetItemNoInParent();
  auto* edit = dynamic_cast<TRVEditRVData*>(host_);
  TCustomDocViewEdit* ctrl = EditorControl();
  int32_t tr = 0, lc = 0, cc = 0, rc = 0;
  int32_t before = 0;
  if (selected_only) {
    if (!GetCellSelectionRect(false, tr, lc, cc, rc)) return;
    if (ctrl && !ctrl->BeforeChange(false)) return;
    before = NoteMinWidthBefore(item_no);
    BeginTableUndoGroup();
  }
  struct TEnd {
    TRVTableItemInfo* t;
    bool on;
    ~TEnd() {
      if (on) t->EndTableUndoGroup();
    }
  } end{this, selected_only};
  // A hidden editor runs each operation on one cell's items at a time.
  TCustomDocViewEdit temp;
  temp.hide();
  if (ctrl)
    if (TCanvas* c = ctrl->FormatCanvas())
      temp.SetTextMetrics(std::shared_ptr<TTextMetrics>(std::shared_ptr<void>(), &c->Metrics()));
  temp.Options = host_ ? host_->GetOptions() : temp.Options;
  if (ctrl) {
    temp.EditorOptions = ctrl->EditorOptions;
    temp.SetStyle(ctrl->Style());
    if (code == 2) temp.OnParaStyleConversion = ctrl->OnParaStyleConversion;
    if (code == 3) temp.OnStyleConversion = ctrl->OnStyleConversion;
  } else if (host_) {
    temp.SetStyle(host_->GetRVStyle());
  }
  temp.SetUndoLimit(edit && edit->GetUndoLimit() != 0 ? -1 : 0);
  temp.HandleNeeded();
  TRVUndoMultiCellsModify* rec = nullptr;
  if (edit && item_no >= 0)
    if (TRVUndoList* list = RVTableUndoDestination(edit, GetEditorItemNoForUndo())) {
      auto r = std::make_unique<TRVUndoMultiCellsModify>();
      r->ItemNo = item_no;
      r->InnerList = std::make_unique<TRVUndoList>(edit);
      rec = r.get();
      list->AddInfo(r.release());
    }
  TRVEditRVData* td = temp.EditData();
  for (int32_t r = 0; r < RowCount(); ++r)
    for (int32_t c = 0; c < ColCount(); ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell) continue;
      if (selected_only && !IsCellInSelection(r, c)) continue;
      if (!AskCellEditing(r, c, true)) continue;
      temp.Clear();
      td->UndoList->Clear();
      td->AppendFrom(cell);
      // The cell gets its items back whatever the operation does.
      try {
        temp.Format();
        td->SelectAll();
        td->State |= (1u << 3);
        switch (code) {
          case 0:
            temp.SetSelectionParaStyle(user_data);
            break;
          case 1:
            temp.SetSelectionTextStyle(user_data);
            break;
          case 2:
            temp.ConvertParaStyles(user_data);
            break;
          case 3:
            temp.ConvertTextStyles(user_data);
            break;
          case 4:
            temp.ApplyParaTemplate(user_data);
            break;
          case 5:
            temp.ApplyTextTemplate(user_data, false);
            break;
          default:
            break;
        }
        td->State &= ~(1u << 3);
        if (td->UndoList->Count() > 0) {
          if (rec) {
            rec->CellRows.push_back(r);
            rec->CellCols.push_back(c);
            rec->GroupCounts.push_back(td->UndoList->Count());
            while (td->UndoList->Count() > 0) rec->InnerList->AddGroup(td->UndoList->ExtractGroup(0).release());
          }
          MarkChanged();
        }
      } catch (...) {
        td->State &= ~(1u << 3);
        // The groups recorded for this cell so far stay in the record together with the cell's
        // entry, so that undo can take back what was changed before the failure.
        if (rec && td->UndoList->Count() > 0) {
          rec->CellRows.push_back(r);
          rec->CellCols.push_back(c);
          rec->GroupCounts.push_back(td->UndoList->Count());
          while (td->UndoList->Count() > 0) rec->InnerList->AddGroup(td->UndoList->ExtractGroup(0).release());
        }
        cell->AppendFrom(td);
        MarkChanged();
        throw;
      }
      cell->AppendFrom(td);
    }
  if (selected_only) {
    if (TableState & 4) ReformatAfterChange(item_no, before);
    end.on = false;
    EndTableUndoGroup();
    ReportChange();
  }
}

}  // namespace pelvar
