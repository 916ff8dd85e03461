// The table item: grid, grid operations and output (see RVTable.h).
#include "richtext/edit/RVTable.h"

#include <algorithm>
#include <cmath>

#include "platform/sysutils.h"
#include "richtext/edit/RVERVData.h"
#include "richtext/edit/RVTableUndo.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVFMisc.h"

namespace pelvar {

namespace {

[[noreturn]] void BadIndex() { throw EDocViewError("Invalid row or column index"); }

// The four visible sides of a cell as the published object "VisibleBorders".
class TCellBorders : public TPersistent {
 public:
  explicit TCellBorders(bool* sides) : sides_(sides) {}
  void DefinePublished(TPublishedProperties& props) override {
    props.Boolean("Left", sides_[0], true);
    props.Boolean("Top", sides_[1], true);
    props.Boolean("Right", sides_[2], true);
    props.Boolean("Bottom", sides_[3], true);
  }

 private:
  bool* sides_;
};

}  // namespace

int32_t TRVTableStoreSubRVData::Compare(const TRVStoreSubRVData* other) const {
  auto* o = static_cast<const TRVTableStoreSubRVData*>(other);
  return Row != o->Row ? Row - o->Row : Col - o->Col;
}

// ---- Cells ---------------------------------------------------------------------------------------

TRVTableCellData::TRVTableCellData(TRVTableRow* owner_list, TRVTableItemInfo* table, TCustomRVData* host)
    : OwnerList(owner_list), borders_(std::make_unique<TCellBorders>(VisibleBorders)), table_(table), host_(host) {
  State = 0;
  AddTextItem("", 0, 0);
}

TRVTableCellData::~TRVTableCellData() = default;

TRVOptions TRVTableCellData::GetOptions() {
  TCustomRVData* source = host_;
  if (UndoHolder && UndoHolder->Owner && UndoHolder->Owner->Document) source = UndoHolder->Owner->Document;
  TRVOptions o = source ? source->GetOptions() : TCustomRVData::GetOptions();
  return o.Exclude(rvoClientTextWidth);
}

void TRVTableCellData::GetParentInfo(int32_t& parent_item_no, std::unique_ptr<TRVStoreSubRVData>& location) {
  parent_item_no = table_ ? table_->GetItemNoInParent() : -1;
  location.reset();
  if (!table_ || UndoHolder) return;
  const TRVTableRows& rows = table_->Rows();
  for (int32_t r = 0; r < rows.Count(); ++r)
    if (rows.GetItem(r) == OwnerList)
      for (int32_t c = 0; c < OwnerList->Count(); ++c)
        if (OwnerList->Items(c) == this) {
          location = std::make_unique<TRVTableStoreSubRVData>(r, c);
          return;
        }
}

void TRVTableCellData::AssignAttributesFrom(const TRVTableCellData* s, bool include_size, int32_t col_divisor,
                                            int32_t row_divisor) {
  Color = s->Color;
  BorderColor = s->BorderColor;
  BorderLightColor = s->BorderLightColor;
  std::copy(std::begin(s->VisibleBorders), std::end(s->VisibleBorders), std::begin(VisibleBorders));
  VAlign = s->VAlign;
  BackgroundImageFileName = s->BackgroundImageFileName;
  Hint = s->Hint;
  if (include_size) {
    BestWidth = s->BestWidth / std::max(col_divisor, 1);
    BestHeight = s->BestHeight / std::max(row_divisor, 1);
  }
}

void TRVTableCellData::AssignGeometryFrom(const TRVTableCellData* s) {
  Left = s->Left;
  Top = s->Top;
  Width = s->Width;
  Height = s->Height;
}

TRVCellVAlign TRVTableCellData::EffectiveVAlign() const {
  if (VAlign != rvcVDefault) return VAlign;
  const TRVCellVAlign row = OwnerList ? OwnerList->VAlign : rvcTop;
  return row == rvcVDefault ? rvcMiddle : row;
}

bool TRVTableCellData::HasContent(bool strict) {
  if (ItemCount() > 1) return true;
  if (ItemCount() == 0) return false;
  TCustomRVItemInfo* item = GetItem(0);
  if (item->StyleNo < 0 || !GetItemTextRaw(0).empty()) return true;
  return strict && (item->StyleNo != 0 || item->ParaNo != 0);
}

void TRVTableCellData::MovingToUndoList(TRVUndoInfo* holder) {
  for (int32_t i = 0; i < ItemCount(); ++i) GetItem(i)->MovingToUndoList(i, this);
  UndoHolder = holder;
  OwnerList = nullptr;
}

void TRVTableCellData::MovingFromUndoList() {
  UndoHolder = nullptr;
  for (int32_t i = 0; i < ItemCount(); ++i) GetItem(i)->MovingFromUndoList(i, this);
}

void TRVTableCellData::DefinePublished(TPublishedProperties& props) {
  props.Integer("Color", Color, static_cast<TColor>(clNone));
  props.Integer("BorderColor", BorderColor, static_cast<TColor>(clNone));
  props.Integer("BorderLightColor", BorderLightColor, static_cast<TColor>(clNone));
  props.Integer("BestWidth", BestWidth, 0);
  props.Integer("BestHeight", BestHeight, 0);
  // Written only when some side is hidden: each side defaults to true.
  props.Object("VisibleBorders", borders_.get());
  props.Enum("VAlign", VAlign, rvcVDefault, {"rvcTop", "rvcMiddle", "rvcBottom", "rvcVDefault"});
  props.String("BackgroundImageFileName", BackgroundImageFileName);
  props.String("Hint", Hint);
}

void TRVTableCellData::DefineProperties(TFiler* filer) {
  const bool has_data = !SavingWithoutContent && HasContent(true);
  filer->DefineBinaryProperty(
      "Data", [this](TStream& s) { ReadDataProperty(s); }, [this](TStream& s) { WriteDataProperty(s); }, has_data);
}

void TRVTableCellData::WriteDataProperty(TStream& stream) {
  const TRVFOptions old = GetRVFOptions();
  TRVFOptions o = old;
  SetRVFOptions(o.Exclude(rvfoSaveBack));
  try {
    SaveRVFToStream(stream, false, nullptr, nullptr, clNone);
  } catch (...) {
    SetRVFOptions(old);
    throw;
  }
  SetRVFOptions(old);
}

void TRVTableCellData::ReadDataProperty(TStream& stream) {
  Clear();
  TColor c = clNone;
  if (!LoadRVFFromStream(stream, c, nullptr, nullptr)) throw EReadError("Invalid cell data in the table stream");
}

// ---- Rows ----------------------------------------------------------------------------------------

TRVTableRow::TRVTableRow(int32_t col_count, TRVTableRows* rows, bool create_cells) : OwnerGrid(rows) {
  cells_.reserve(static_cast<size_t>(std::max(col_count, 0)));
  for (int32_t c = 0; c < col_count; ++c) cells_.push_back(create_cells ? NewCell() : nullptr);
}

TRVTableRow::~TRVTableRow() {
  // Later cells first, as a list frees its objects.
  while (!cells_.empty()) cells_.pop_back();
}

std::unique_ptr<TRVTableCellData> TRVTableRow::NewCell() {
  if (OwnerGrid) return OwnerGrid->NewCell(this);
  return std::make_unique<TRVTableCellData>(this, nullptr, nullptr);
}

TRVTableCellData* TRVTableRow::AddCell() {
  cells_.push_back(NewCell());
  return cells_.back().get();
}

TRVTableCellData* TRVTableRow::InsertCell(int32_t index) {
  if (index < 0 || index > Count()) BadIndex();
  auto it = cells_.insert(cells_.begin() + index, NewCell());
  return it->get();
}

void TRVTableRow::InsertEmpty(int32_t index) {
  if (index < 0 || index > Count()) BadIndex();
  cells_.insert(cells_.begin() + index, nullptr);
}

void TRVTableRow::InsertCellObject(int32_t index, std::unique_ptr<TRVTableCellData> cell) {
  if (index < 0 || index > Count()) BadIndex();
  if (cell) cell->OwnerList = this;
  cells_.insert(cells_.begin() + index, std::move(cell));
}

std::unique_ptr<TRVTableCellData> TRVTableRow::PutCell(int32_t index, std::unique_ptr<TRVTableCellData> cell) {
  if (index < 0 || index >= Count()) BadIndex();
  if (cell) cell->OwnerList = this;
  std::swap(cells_[static_cast<size_t>(index)], cell);
  return cell;
}

std::unique_ptr<TRVTableCellData> TRVTableRow::TakeCell(int32_t index) {
  if (index < 0 || index >= Count()) BadIndex();
  return std::move(cells_[static_cast<size_t>(index)]);
}

std::unique_ptr<TRVTableCellData> TRVTableRow::RemoveEntry(int32_t index) {
  std::unique_ptr<TRVTableCellData> cell = TakeCell(index);
  cells_.erase(cells_.begin() + index);
  return cell;
}

void TRVTableRow::AdoptCells() {
  for (auto& cell : cells_)
    if (cell) cell->OwnerList = this;
}

int32_t TRVTableRow::MaxBestHeight() const {
  int32_t best = 0;
  for (const auto& cell : cells_)
    if (cell && cell->RowSpan <= 1) best = std::max(best, cell->BestHeight);
  return best;
}

bool TRVTableRow::SpanEndsInside(int32_t row_index, int32_t first, int32_t count) const {
  if (row_index < first) return false;
  for (const auto& cell : cells_)
    if (cell && row_index + cell->RowSpan - 1 <= first + count - 1) return true;
  return false;
}

// ---- Grid: construction and look-ups ----------------------------------------------------------------

TRVTableRows::TRVTableRows(int32_t row_count, int32_t col_count, TCustomRVData* host, TRVTableItemInfo* table)
    : HostDocument(host), OwnerTable(table) {
  Reset(row_count, col_count);
}

TRVTableRows::~TRVTableRows() {
  while (!rows_.empty()) rows_.pop_back();
}

std::unique_ptr<TRVTableCellData> TRVTableRows::NewCell(TRVTableRow* row) {
  return std::make_unique<TRVTableCellData>(row, OwnerTable, HostDocument);
}

void TRVTableRows::Reset(int32_t row_count, int32_t col_count) {
  read_covered_.clear();
  while (!rows_.empty()) rows_.pop_back();
  for (int32_t r = 0; r < row_count; ++r) AddRow(col_count);
}

TRVTableRow* TRVTableRows::AddRow(int32_t col_count) { return InsertRow(Count(), col_count); }

TRVTableRow* TRVTableRows::InsertRow(int32_t index, int32_t col_count) {
  if (index < 0 || index > Count()) BadIndex();
  auto it = rows_.insert(rows_.begin() + index, std::make_unique<TRVTableRow>(col_count, this));
  return it->get();
}

void TRVTableRows::InsertRowObject(int32_t index, std::unique_ptr<TRVTableRow> row) {
  if (index < 0 || index > Count()) BadIndex();
  row->OwnerGrid = this;
  rows_.insert(rows_.begin() + index, std::move(row));
}

std::unique_ptr<TRVTableRow> TRVTableRows::TakeRow(int32_t index) {
  if (index < 0 || index >= Count()) BadIndex();
  std::unique_ptr<TRVTableRow> row = std::move(rows_[static_cast<size_t>(index)]);
  rows_.erase(rows_.begin() + index);
  return row;
}

void TRVTableRows::SetHostDocument(TCustomRVData* host) {
  HostDocument = host;
  for (auto& row : rows_)
    for (int32_t c = 0; c < row->Count(); ++c)
      if (TRVTableCellData* cell = row->Items(c)) cell->SetHost(host);
}

TRVTableCellData* TRVTableRows::GetMainCell(int32_t row, int32_t col, int32_t& main_row, int32_t& main_col) const {
  main_row = main_col = -1;
  if (row < 0 || row >= Count() || col < 0 || col >= ColCount()) BadIndex();
  for (int32_t r = row; r >= 0; --r) {
    const TRVTableRow* line = rows_[static_cast<size_t>(r)].get();
    int32_t c = std::min(col, line->Count() - 1);
    while (c >= 0 && !line->Items(c)) --c;
    if (c < 0) continue;
    TRVTableCellData* cell = line->Items(c);
    if (col - c < cell->ColSpan && row - r < cell->RowSpan) {
      main_row = r;
      main_col = c;
      return cell;
    }
  }
  return nullptr;
}

int32_t TRVTableRows::MergedBestWidth(int32_t row, int32_t col, int32_t col_count, int32_t row_count) const {
  int32_t result = 0;
  for (int32_t r = row; r < row + row_count; ++r) {
    int32_t sum = 0;
    bool percent = false;
    for (int32_t c = col; c < col + col_count; ++c) {
      TRVTableCellData* cell = Cell(r, c);
      if (!cell || cell->BestWidth == 0) continue;
      if (cell->BestWidth < 0) {
        if (!percent) sum = 0;
        percent = true;
        sum += cell->BestWidth;
      } else if (!percent) {
        sum += cell->BestWidth;
      }
    }
    if (sum == 0) continue;
    if (result == 0 || (sum < 0) != (result < 0))
      result = (result == 0 || sum < 0) ? sum : result;
    else
      result = sum < 0 ? std::min(result, sum) : std::max(result, sum);
  }
  return result;
}

int32_t TRVTableRows::ColBestWidth(int32_t col) const {
  int32_t best = 0;
  for (int32_t r = 0; r < Count(); ++r) {
    TRVTableCellData* cell = Cell(r, col);
    if (!cell || cell->ColSpan > 1) continue;
    if (cell->BestWidth < 0) return 0;
    best = std::max(best, cell->BestWidth);
  }
  return best;
}

int32_t TRVTableRows::ColPercentWidth(int32_t col, int32_t table_width) const {
  int32_t best = 0;
  for (int32_t r = 0; r < Count(); ++r) {
    TRVTableCellData* cell = Cell(r, col);
    if (cell && cell->ColSpan <= 1 && cell->BestWidth < 0)
      best = std::max(best, static_cast<int32_t>(static_cast<int64_t>(table_width) * -cell->BestWidth / 100));
  }
  return best;
}

bool TRVTableRows::ColHasPercentCell(int32_t col) const {
  for (int32_t r = 0; r < Count(); ++r) {
    int32_t mr = 0, mc = 0;
    TRVTableCellData* cell = GetMainCell(r, col, mr, mc);
    if (cell && cell->BestWidth < 0 && mc + cell->ColSpan - 1 == col) return true;
  }
  return false;
}

bool TRVTableRows::IsValid() const {
  const int32_t rows = Count(), cols = ColCount();
  std::vector<int32_t> owner(static_cast<size_t>(rows) * static_cast<size_t>(cols), 0);
  auto at = [&](int32_t r, int32_t c) -> int32_t& { return owner[static_cast<size_t>(r) * cols + c]; };
  for (int32_t r = 0; r < rows; ++r) {
    if (rows_[static_cast<size_t>(r)]->Count() != cols || rows_[static_cast<size_t>(r)]->OwnerGrid != this)
      return false;
    for (int32_t c = 0; c < cols; ++c) {
      TRVTableCellData* cell = Cell(r, c);
      if (!cell) continue;
      if (cell->OwnerList != rows_[static_cast<size_t>(r)].get() || cell->UndoHolder) return false;
      if (cell->RowSpan < 1 || cell->ColSpan < 1 || r + cell->RowSpan > rows || c + cell->ColSpan > cols) return false;
      for (int32_t rr = r; rr < r + cell->RowSpan; ++rr)
        for (int32_t cc = c; cc < c + cell->ColSpan; ++cc) {
          if ((rr != r || cc != c) && Cell(rr, cc)) return false;
          if (at(rr, cc)++) return false;
        }
    }
  }
  return std::all_of(owner.begin(), owner.end(), [](int32_t n) { return n == 1; });
}

// ---- Grid: reading ---------------------------------------------------------------------------------

void TRVTableRows::ResetForReading(int32_t row_count, int32_t col_count) {
  // Nothing is allocated before the size is known to be sane: the entries are nil until a
  // cell record arrives, and the entries themselves are capped.
  if (row_count < 0 || col_count < 0) throw EReadError("Invalid table size in the stream");
  if (static_cast<int64_t>(row_count) * col_count > kRVTableMaxEntries)
    throw EReadError("Table too large in the stream: " + std::to_string(row_count) + " x " + std::to_string(col_count));
  while (!rows_.empty()) rows_.pop_back();
  for (int32_t r = 0; r < row_count; ++r) rows_.push_back(std::make_unique<TRVTableRow>(col_count, this, false));
  read_covered_.assign(static_cast<size_t>(row_count) * static_cast<size_t>(col_count), false);
}

bool TRVTableRows::IsFreeForReading(int32_t row, int32_t col) const {
  const int32_t cols = ColCount();
  if (row < 0 || col < 0 || row >= Count() || col >= cols) return false;
  return !read_covered_[static_cast<size_t>(row) * cols + col];
}

TRVTableCellData* TRVTableRows::PlaceReadCell(int32_t row, int32_t col, int32_t row_span, int32_t col_span) {
  if (!IsFreeForReading(row, col)) return nullptr;
  const int32_t cols = ColCount();
  row_span = std::clamp(row_span, 1, Count() - row);
  col_span = std::clamp(col_span, 1, cols - col);
  for (int32_t r = row; r < row + row_span; ++r)
    for (int32_t c = col; c < col + col_span; ++c)
      if (read_covered_[static_cast<size_t>(r) * cols + c]) return nullptr;
  for (int32_t r = row; r < row + row_span; ++r)
    for (int32_t c = col; c < col + col_span; ++c) read_covered_[static_cast<size_t>(r) * cols + c] = true;
  TRVTableRow* line = rows_[static_cast<size_t>(row)].get();
  line->PutCell(col, NewCell(line));
  TRVTableCellData* cell = line->Items(col);
  cell->RowSpan = row_span;
  cell->ColSpan = col_span;
  return cell;
}

bool TRVTableRows::FinishReading() {
  const bool complete = std::all_of(read_covered_.begin(), read_covered_.end(), [](bool b) { return b; });
  read_covered_.clear();
  return complete;
}

// ---- Table item ------------------------------------------------------------------------------------

TRVTableItemInfo::TRVTableItemInfo(TCustomRVData* rvdata, int32_t rows, int32_t cols)
    : TRVTableItemBase(rvdata), host_(rvdata) {
  grid_ = std::make_unique<TRVTableRows>(0, 0, rvdata, this);
  Reset(rows, cols);
  TableState = 1 << 6;
}

TRVTableItemInfo::~TRVTableItemInfo() { grid_.reset(); }

void TRVTableItemInfo::Reset(int32_t rows, int32_t cols) {
  pending_cols_ = std::max(cols, 0);
  grid_->Reset(rows, pending_cols_);
}

void TRVTableItemInfo::SetHostDocument(TCustomRVData* host) {
  host_ = host;
  grid_->SetHostDocument(host);
}

TRVTableCellData* TRVTableItemInfo::GetCells(int32_t row, int32_t col) const {
  if (row < 0 || row >= RowCount() || col < 0 || col >= ColCount()) BadIndex();
  return grid_->GetItem(row)->Items(col);
}

TRVTableCellData* TRVTableItemInfo::GetMainCell(int32_t row, int32_t col, int32_t& main_row, int32_t& main_col) const {
  return grid_->GetMainCell(row, col, main_row, main_col);
}

int32_t TRVTableItemInfo::GetItemNoInParent() const {
  if (!host_) return -1;
  if (item_no_cache_ >= 0 && item_no_cache_ < host_->ItemCount() && host_->GetItem(item_no_cache_) == this)
    return item_no_cache_;
  item_no_cache_ = host_->GetItemNo(this);
  return item_no_cache_;
}

int32_t TRVTableItemInfo::GetEditorItemNoForUndo() const {
  auto* edit = dynamic_cast<TRVEditRVData*>(host_);
  if (!edit || !edit->GetUndoDestination()) return -1;
  return GetItemNoInParent();
}

void TRVTableItemInfo::BeginTableUndoGroup() {
  auto* edit = dynamic_cast<TRVEditRVData*>(host_);
  if (!edit || GetItemNoInParent() < 0) return;
  edit->BeginUndoGroup(rvutModifyItem);
  edit->SetUndoGroupMode(true);
}

void TRVTableItemInfo::EndTableUndoGroup() {
  auto* edit = dynamic_cast<TRVEditRVData*>(host_);
  if (!edit || GetItemNoInParent() < 0) return;
  edit->SetUndoGroupMode(false);
  // A refused or empty operation leaves no undo step behind.
  edit->UndoList->DropEmptyGroup();
}

namespace {
// The table's undo group around one operation, closed also when it fails.
class TTableUndoGroup {
 public:
  explicit TTableUndoGroup(TRVTableItemInfo* t) : t_(t) { t_->BeginTableUndoGroup(); }
  ~TTableUndoGroup() {
    t_->EndTableUndoGroup();
    t_->MarkChanged();
  }

 private:
  TRVTableItemInfo* t_;
};
}  // namespace

void TRVTableItemInfo::InsertRows(int32_t index, int32_t count, int32_t copy_index) {
  if (index < 0 || index > RowCount() || copy_index < -1 || copy_index >= RowCount()) BadIndex();
  TTableUndoGroup group(this);
  if (grid_->Count() == 0) {
    // A grid without rows keeps its column count apart until its first row.
    for (int32_t i = 0; i < count; ++i) grid_->AddRow(pending_cols_);
    return;
  }
  grid_->InsertRows(index, count, copy_index, false);
}

void TRVTableItemInfo::InsertCols(int32_t index, int32_t count, int32_t copy_index) {
  if (index < 0 || index > ColCount() || copy_index < -1 || copy_index >= ColCount()) BadIndex();
  TTableUndoGroup group(this);
  if (grid_->Count() == 0) {
    if (count < 1) BadIndex();
    pending_cols_ += count;
    return;
  }
  grid_->InsertCols(index, count, copy_index, false);
}

void TRVTableItemInfo::DeleteRows(int32_t index, int32_t count, bool decrease_height) {
  if (grid_->IsEmpty()) return;
  TTableUndoGroup group(this);
  grid_->DeleteRows(index, count, decrease_height);
}

void TRVTableItemInfo::DeleteCols(int32_t index, int32_t count, bool decrease_width) {
  if (grid_->IsEmpty()) return;
  TTableUndoGroup group(this);
  grid_->DeleteCols(index, count, decrease_width);
}

void TRVTableItemInfo::DeleteEmptyRows() {
  TTableUndoGroup group(this);
  for (int32_t r = RowCount() - 1; r >= 0; --r) {
    const TRVTableRow* row = grid_->GetItem(r);
    bool any = false;
    for (int32_t c = 0; c < row->Count() && !any; ++c) any = row->Items(c) != nullptr;
    if (!any && RowCount() > 1) grid_->DeleteRows(r, 1, false);
  }
}

void TRVTableItemInfo::MergeCells(int32_t top_row, int32_t left_col, int32_t col_span, int32_t row_span) {
  MergeCells(top_row, left_col, col_span, row_span, true);
}

void TRVTableItemInfo::MergeCells(int32_t top_row, int32_t left_col, int32_t col_span, int32_t row_span,
                                  bool allow_empty_lines) {
  TTableUndoGroup group(this);
  grid_->MergeCells(top_row, left_col, col_span, row_span, allow_empty_lines, true);
}

void TRVTableItemInfo::DefinePublished(TPublishedProperties& props) {
  props.Integer("Color", Color, static_cast<TColor>(clNone));
  props.Integer("BestWidth", BestWidth, 0);
  props.Integer("HeadingRowCount", HeadingRowCount, 0);
  props.Integer("BorderWidth", BorderWidth, 0);
  props.Integer("BorderColor", BorderColor, static_cast<TColor>(clWindowText));
  props.Integer("BorderLightColor", BorderLightColor, static_cast<TColor>(clBtnHighlight));
  const std::vector<AnsiString> styles = {"rvtbRaised", "rvtbLowered", "rvtbColor", "rvtbRaisedColor",
                                          "rvtbLoweredColor"};
  props.Enum("BorderStyle", BorderStyle, rvtbRaised, styles);
  props.Integer("BorderVSpacing", BorderVSpacing, 2);
  props.Integer("BorderHSpacing", BorderHSpacing, 2);
  props.Integer("CellBorderWidth", CellBorderWidth, 0);
  props.Integer("CellBorderColor", CellBorderColor, static_cast<TColor>(clWindowText));
  props.Integer("CellBorderLightColor", CellBorderLightColor, static_cast<TColor>(clBtnHighlight));
  props.Integer("CellPadding", CellPadding, 1);
  props.Enum("CellBorderStyle", CellBorderStyle, rvtbLowered, styles);
  props.Integer("CellVSpacing", CellVSpacing, 2);
  props.Integer("CellHSpacing", CellHSpacing, 2);
}

void TRVTableItemInfo::ForEachCell(const std::function<void(TRVTableCellData*)>& proc) const {
  for (int32_t r = 0; r < grid_->Count(); ++r) {
    TRVTableRow* row = grid_->GetItem(r);
    for (int32_t c = 0; c < row->Count(); ++c)
      if (TRVTableCellData* cell = row->Items(c)) proc(cell);
  }
}

bool TRVTableItemInfo::GetBoolValue(int32_t ordinal) const {
  // 12: a block of its own in HTML.
  return ordinal == 12 ? true : TRVTableItemBase::GetBoolValue(ordinal);
}

TCustomRVData* TRVTableItemInfo::GetSubRVData(std::unique_ptr<TRVStoreSubRVData>& state, TRVSubRVDataPos position) {
  std::vector<std::pair<int32_t, int32_t>> mains;
  for (int32_t r = 0; r < RowCount(); ++r)
    for (int32_t c = 0; c < ColCount(); ++c)
      if (GetCells(r, c)) mains.emplace_back(r, c);
  int32_t at = -1;
  auto* loc = dynamic_cast<TRVTableStoreSubRVData*>(state.get());
  auto index_of = [&]() {
    for (size_t i = 0; i < mains.size(); ++i)
      if (loc && mains[i].first == loc->Row && mains[i].second == loc->Col) return static_cast<int32_t>(i);
    return -1;
  };
  switch (position) {
    case rvdFirst:
      at = mains.empty() ? -1 : 0;
      break;
    case rvdLast:
      at = static_cast<int32_t>(mains.size()) - 1;
      break;
    case rvdNext:
      at = index_of() < 0 ? -1 : index_of() + 1;
      break;
    case rvdPrev:
      at = index_of() - 1;
      break;
  }
  if (at < 0 || at >= static_cast<int32_t>(mains.size())) {
    state.reset();
    return nullptr;
  }
  state = std::make_unique<TRVTableStoreSubRVData>(mains[static_cast<size_t>(at)].first,
                                                   mains[static_cast<size_t>(at)].second);
  return GetCells(mains[static_cast<size_t>(at)].first, mains[static_cast<size_t>(at)].second);
}

void TRVTableItemInfo::MarkStylesInUse(TRVDeleteUnusedStylesData& data) {
  TRVTableItemBase::MarkStylesInUse(data);
  ForEachCell([&](TRVTableCellData* cell) {
    for (int32_t i = 0; i < cell->ItemCount(); ++i) cell->GetItem(i)->MarkStylesInUse(data);
  });
}

void TRVTableItemInfo::UpdateStyles(const TRVDeleteUnusedStylesData& data) {
  TRVTableItemBase::UpdateStyles(data);
  ForEachCell([&](TRVTableCellData* cell) {
    for (int32_t i = 0; i < cell->ItemCount(); ++i) cell->GetItem(i)->UpdateStyles(data);
  });
}

void TRVTableItemInfo::Inserting(TCustomRVData* rvdata, AnsiString& text, bool safe) {
  SetHostDocument(rvdata);
  if (rvdata) {
    TableState |= 1;
    if (dynamic_cast<TRVEditRVData*>(rvdata->GetRootData()))
      TableState |= 2;
    else
      TableState &= static_cast<uint16_t>(~2u);
  } else {
    TableState &= static_cast<uint16_t>(~3u);
  }
  ForEachCell([&](TRVTableCellData* cell) {
    if (cell->ItemCount() == 0) cell->AddTextItem("", 0, 0);
    cell->NotifyItemsInserting(cell, safe);
  });
  for (int32_t r = 0; r < RowCount(); ++r) grid_->GetItem(r)->AdoptCells();
  TRVTableItemBase::Inserting(rvdata, text, safe);
}

void TRVTableItemInfo::Inserted(TCustomRVData* rvdata, int32_t item_no) {
  if (rvdata && rvdata != host_) SetHostDocument(rvdata);
  TRVTableItemBase::Inserted(rvdata, item_no);
}

// ---- Native format ---------------------------------------------------------------------------
// Header tail: rows and columns. Lines: the table's attributes, then one line per cell that
// is not covered: row, column, row span, column span, colour, best width, best height,
// vertical alignment, the four visible borders as a bit set, and the cell's document in
// the native format as hexadecimal.
void TRVTableItemInfo::SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t, int32_t para_no, const AnsiString&,
                               int32_t, bool) {
  std::vector<AnsiString> lines;
  lines.push_back(Format("%d %d %d %d %d %d %d", {Color, BestWidth, HeadingRowCount, CellPadding, CellBorderWidth,
                                                  BorderWidth, Options.ToBits()}));
  for (int32_t r = 0; r < RowCount(); ++r)
    for (int32_t c = 0; c < ColCount(); ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell) continue;
      int32_t vis = 0;
      for (int i = 0; i < 4; ++i) vis |= cell->VisibleBorders[i] ? (1 << i) : 0;
      TMemoryStream m;
      cell->WriteRVFData(m);
      lines.push_back(
          Format("%d %d %d %d %d %d %d %d %d ", {r, c, cell->RowSpan, cell->ColSpan, cell->Color, cell->BestWidth,
                                                 cell->BestHeight, static_cast<int32_t>(cell->VAlign), vis}) +
          RVFStreamToHex(m));
    }
  const bool tags_str = rvdata && rvdata->GetOptions().Contains(rvoTagsArePChars);
  RVFWriteItemHeader(stream, StyleNo, static_cast<int32_t>(lines.size()), RVFSaveParaNo(para_no, rvdata, false),
                     ItemOptions.ToBits() & 0x0F, 0, RVFSaveTag(tags_str, Tag),
                     Format("%d %d", {RowCount(), ColCount()}));
  for (const AnsiString& l : lines) RVFWriteLine(stream, l);
}

bool TRVTableItemInfo::ReadRVFHeaderTail(const char*& p, TCustomRVData*) {
  int32_t rows = 0, cols = 0;
  if (!RVFReadInteger(p, rows) || !RVFReadInteger(p, cols)) return false;
  // The size is checked before anything is allocated, and cells are made only as their
  // lines arrive: a header cannot make the reader allocate more than its data holds.
  try {
    grid_->ResetForReading(rows, cols);
  } catch (const EReadError&) {
    return false;
  }
  pending_cols_ = cols;
  return true;
}

bool TRVTableItemInfo::ReadRVFLine(const AnsiString& s, TCustomRVData*, int32_t&, bool&, AnsiString&, int32_t line_no,
                                   int32_t line_count, int32_t) {
  const char* p = s.c_str();
  auto finish = [&](bool ok) {
    // After the last line every position must belong to a cell.
    if (ok && line_no == line_count - 1) return grid_->FinishReading();
    return ok;
  };
  if (line_no == 0) {
    int32_t v[7] = {};
    for (int32_t& x : v)
      if (!RVFReadInteger(p, x)) return false;
    Color = v[0];
    BestWidth = v[1];
    HeadingRowCount = v[2];
    CellPadding = v[3];
    CellBorderWidth = v[4];
    BorderWidth = v[5];
    Options = decltype(Options)::FromBits(static_cast<uint8_t>(v[6]));
    return finish(true);
  }
  int32_t v[9] = {};
  for (int32_t& x : v)
    if (!RVFReadInteger(p, x)) return false;
  TRVTableCellData* cell = grid_->PlaceReadCell(v[0], v[1], v[2], v[3]);
  if (!cell || cell->RowSpan != std::max(v[2], 1) || cell->ColSpan != std::max(v[3], 1)) return false;
  cell->Color = v[4];
  cell->BestWidth = v[5];
  cell->BestHeight = v[6];
  cell->VAlign = static_cast<TRVCellVAlign>(std::clamp(v[7], 0, 3));
  for (int i = 0; i < 4; ++i) cell->VisibleBorders[i] = (v[8] >> i) & 1;
  TMemoryStream m;
  if (!RVFHexToStream(AnsiString(p), m)) return false;
  m.SetPosition(0);
  try {
    cell->Clear();
    cell->ReadRVFData(m);
  } catch (const Exception&) {
    return false;
  }
  return finish(true);
}

// ---- RTF -------------------------------------------------------------------------------------
void TRVTableItemInfo::FillRTFTables(TRVColorList& color_list, TCustomRVData*) {
  color_list.AddUnique(Color);
  ForEachCell([&](TRVTableCellData* cell) {
    color_list.AddUnique(cell->Color);
    for (int32_t i = 0; i < cell->ItemCount(); ++i) cell->GetItem(i)->FillRTFTables(color_list, cell);
  });
}

void TRVTableItemInfo::SaveRTF(TStream& stream, TCustomRVData*, int32_t, const AnsiString&, double twips, int32_t level,
                               TRVColorList& color_list) {
  const TRVRTFSaveTables* t = RVCurrentRTFTables();
  if (!t) return;
  const int32_t cell_level = level + 1;
  // Column widths: a single-column cell's best width, else 100 pixels.
  std::vector<int32_t> widths(static_cast<size_t>(ColCount()), 100);
  for (int32_t c = 0; c < ColCount(); ++c)
    for (int32_t r = 0; r < RowCount(); ++r)
      if (TRVTableCellData* cell = GetCells(r, c); cell && cell->ColSpan == 1 && cell->BestWidth > 0) {
        widths[static_cast<size_t>(c)] = cell->BestWidth;
        break;
      }
  auto tw = [&](int32_t px) { return static_cast<int32_t>(std::lround(px * twips)); };
  auto color_index = [&](TColor c) {
    for (int32_t i = 1; i < color_list.Count(); ++i)
      if (color_list.Items(i) == c) return i;
    return 0;
  };
  for (int32_t r = 0; r < RowCount(); ++r) {
    AnsiString defs = Format("\\trowd\\trgaph%d\\trleft0", {tw(CellPadding)});
    if (r < HeadingRowCount) defs += "\\trhdr";
    int32_t x = 0;
    for (int32_t c = 0; c < ColCount();) {
      int32_t mr = 0, mc = 0;
      TRVTableCellData* m = GetMainCell(r, c, mr, mc);
      const int32_t span = m ? m->ColSpan : 1;
      if (m && mr < r)
        defs += "\\clvmrg";
      else if (m && m->RowSpan > 1)
        defs += "\\clvmgf";
      if (m) {
        if (m->VAlign == rvcMiddle) defs += "\\clvertalc";
        if (m->VAlign == rvcBottom) defs += "\\clvertalb";
        static const char* const kSide[] = {"\\clbrdrl", "\\clbrdrt", "\\clbrdrr", "\\clbrdrb"};
        if (CellBorderWidth > 0)
          for (int i = 0; i < 4; ++i)
            if (m->VisibleBorders[i]) defs += Format("%s\\brdrs\\brdrw%d", {kSide[i], tw(CellBorderWidth)});
        if (m->Color != clNone) defs += Format("\\clcbpat%d", {color_index(m->Color)});
      }
      for (int32_t k = 0; k < span; ++k) x += tw(widths[static_cast<size_t>(c + k)]);
      defs += Format("\\cellx%d", {x});
      c += span;
    }
    if (cell_level == 1) RVFWrite(stream, defs + "\r\n");
    for (int32_t c = 0; c < ColCount();) {
      int32_t mr = 0, mc = 0;
      TRVTableCellData* m = GetMainCell(r, c, mr, mc);
      const int32_t span = m ? m->ColSpan : 1;
      if (m && mr == r && m->ItemCount() > 0) {
        m->SaveRTFToStream(stream, t->Path, twips, t->FontTable, t->FontNumbers, t->OverrideCounts, t->ListIds,
                           t->ColorList, cell_level, clNone, false);
      } else {
        RVFWrite(stream, cell_level == 1 ? "\\pard\\intbl" : Format("\\pard\\itap%d", {cell_level}));
      }
      RVFWrite(stream, cell_level == 1 ? "\\cell " : "\\nestcell ");
      c += span;
    }
    if (cell_level == 1)
      RVFWrite(stream, "\\row\r\n");
    else
      RVFWrite(stream, "{\\*\\nesttableprops " + defs + "\\nestrow}{\\nonesttables\\par}\r\n");
  }
}

// ---- HTML and text -----------------------------------------------------------------------------
void TRVTableItemInfo::SaveToHTML(TStream& stream, TCustomRVData*, int32_t, const AnsiString&, const AnsiString& path,
                                  const AnsiString& images_prefix, int32_t& image_save_no, TColor color,
                                  uint32_t save_options, bool use_css) {
  AnsiString open = "<table";
  open += " border=" + RV_HTMLIntAttrValue(BorderWidth, save_options);
  open += " cellpadding=" + RV_HTMLIntAttrValue(CellPadding, save_options);
  open += " cellspacing=" + RV_HTMLIntAttrValue(std::max(CellHSpacing, 0), save_options);
  if (BestWidth > 0) open += " width=" + RV_HTMLIntAttrValue(BestWidth, save_options);
  if (BestWidth < 0) open += " width=\"" + IntToStr(-BestWidth) + "%\"";
  if (Color != clNone) open += " bgcolor=" + RV_GetHTMLColor(Color, (save_options & rvsoXHTML) != 0);
  RVFWrite(stream, open + ">\r\n");
  const uint32_t body_only = (save_options & ~(rvsoFirstOnly | rvsoLastOnly)) | rvsoMiddleOnly | rvsoDefault0Style;
  for (int32_t r = 0; r < RowCount(); ++r) {
    RVFWrite(stream, "<tr>\r\n");
    for (int32_t c = 0; c < ColCount(); ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell) continue;
      AnsiString td = r < HeadingRowCount ? "<th" : "<td";
      if (cell->ColSpan > 1) td += " colspan=" + RV_HTMLIntAttrValue(cell->ColSpan, save_options);
      if (cell->RowSpan > 1) td += " rowspan=" + RV_HTMLIntAttrValue(cell->RowSpan, save_options);
      if (cell->BestWidth > 0) td += " width=" + RV_HTMLIntAttrValue(cell->BestWidth, save_options);
      if (cell->VAlign == rvcMiddle) td += " valign=" + RV_HTMLQuoteAttrValue("middle", save_options);
      if (cell->VAlign == rvcBottom) td += " valign=" + RV_HTMLQuoteAttrValue("bottom", save_options);
      if (cell->Color != clNone) td += " bgcolor=" + RV_GetHTMLColor(cell->Color, (save_options & rvsoXHTML) != 0);
      RVFWrite(stream, td + ">");
      TColor cur = color;
      if (use_css)
        cell->SaveHTMLToStreamEx(stream, path, "", images_prefix, "", "", "", body_only, clNone, cur, image_save_no, 0,
                                 0, 0, 0, nullptr);
      else
        cell->SaveHTMLToStream(stream, path, "", images_prefix, body_only, clNone, image_save_no, 0, 0, 0, 0, nullptr);
      RVFWrite(stream, r < HeadingRowCount ? "</th>\r\n" : "</td>\r\n");
    }
    RVFWrite(stream, "</tr>\r\n");
  }
  RVFWrite(stream, "</table>");
}

AnsiString TRVTableItemInfo::AsText(int32_t line_width, TCustomRVData*, const AnsiString&, const AnsiString& path,
                                    bool text_only, bool unicode) {
  AnsiString out;
  auto put = [&](const char* ascii) {
    if (unicode)
      for (const char* p = ascii; *p; ++p) out += AnsiString(1, *p) + AnsiString(1, '\0');
    else
      out += ascii;
  };
  for (int32_t r = 0; r < RowCount(); ++r) {
    if (r > 0) put("\r\n");
    bool first = true;
    for (int32_t c = 0; c < ColCount(); ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell) continue;
      if (!first) put("\t");
      first = false;
      TMemoryStream m;
      cell->SaveTextToStream(path, m, line_width, false, text_only, unicode, false);
      out.append(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
    }
  }
  return out;
}

void RVRegisterTableItem() {
  static bool done = false;
  if (done) return;
  done = true;
  RegisterRVItemClass(rvsTable, "TRVTableItemInfo",
                      [](TCustomRVData* d) -> TCustomRVItemInfo* { return new TRVTableItemInfo(d); });
  // Importers fill the cells themselves: their cells start without items, and a cell still
  // empty when the table enters a document gets its empty paragraph then (Inserting).
  RVCreateTableItem = [](TCustomRVData* d, int32_t rows, int32_t cols) -> TRVTableItemBase* {
    TRVTableItemInfo* t = TRVTableItemInfo::CreateEx(d, rows, cols);
    t->ForEachCell([](TRVTableCellData* cell) { cell->Clear(); });
    return t;
  };
}

namespace {
const bool kRegistered = (RVRegisterTableItem(), true);
}  // namespace

}  // namespace pelvar
