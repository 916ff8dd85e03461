// The table item: grid, grid operations and output (see RVTable.h).
#include "richtext/edit/RVTable.h"

#include <algorithm>
#include <cmath>

#include "platform/sysutils.h"
#include "richtext/edit/RVERVData.h"
#include "richtext/edit/RVTableInplace.h"
#include "richtext/edit/RVTableLayout.h"
#include "richtext/edit/RVTableUndo.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVGraphics.h"

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

// The table's four visible sides as the published object "VisibleBorders" (sides in the order they
// are streamed).
class TRVBooleanRectHolder : public TPersistent {
 public:
  explicit TRVBooleanRectHolder(bool* sides) : sides_(sides) {}
  void DefinePublished(TPublishedProperties& props) override {
    props.Boolean("Left", sides_[0], true);
    props.Boolean("Right", sides_[2], true);
    props.Boolean("Top", sides_[1], true);
    props.Boolean("Bottom", sides_[3], true);
  }

 private:
  bool* sides_;
};

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

namespace {

std::unique_ptr<TGraphic> CopyGraphic(TGraphic* g) { return g && !g->Empty() ? RVCopyGraphic(g) : nullptr; }

// "BackgroundImg" of a table or a cell: the picture's class name, then the picture. A class this
// program does not know is skipped (nil).
std::unique_ptr<TGraphic> ReadBackgroundImg(TStream& s) {
  int32_t len = 0;
  s.ReadBuffer(&len, 4);
  if (len < 0 || len > 255) throw EReadError("Invalid picture class name in the table stream");
  AnsiString name(static_cast<size_t>(len), '\0');
  if (len) s.ReadBuffer(name.data(), len);
  std::unique_ptr<TGraphic> g = RVCreateGraphic(name);
  if (!g) {
    int32_t size = 0;
    s.ReadBuffer(&size, 4);
    if (size < 0 || size > s.Size() - s.Position()) throw EReadError("Invalid picture in the table stream");
    s.Seek(size, TSeekOrigin::soCurrent);
    return nullptr;
  }
  RVFLoadPictureBinary(s, *g);
  return g;
}

void WriteBackgroundImg(TStream& s, TGraphic& picture) {
  const AnsiString name = RVGraphicClassName(&picture);
  const int32_t len = static_cast<int32_t>(name.size());
  s.WriteBuffer(&len, 4);
  if (len) s.WriteBuffer(name.data(), len);
  RVFSavePictureBinary(s, picture);
}

}  // namespace

void TRVTableCellData::BackgroundChanged() {
  if (Background && Background->IsEmpty()) Background.reset();
  if (table_ && table_->CellEditor && table_->CellEditor->Cell == this) table_->CellEditor->update();
  if (auto* f = dynamic_cast<TCustomRVFormattedData*>(host_)) f->InvalidateControl();
}

void TRVTableCellData::AssignBackgroundImage(std::unique_ptr<TGraphic> picture) {
  if (picture && picture->Empty()) picture.reset();
  if (!Background && picture) Background = std::make_unique<TRVBackground>(false);
  if (Background) {
    std::unique_ptr<TGraphic> old(Background->Image());
    Background->AssignImage(picture.release(), this, false);
  }
  BackgroundChanged();
}

std::unique_ptr<TGraphic> TRVTableCellData::TakeBackgroundImage() {
  if (!Background || !Background->Image()) return nullptr;
  std::unique_ptr<TGraphic> old(Background->Image());
  Background->AssignImage(nullptr, this, false);
  BackgroundChanged();
  return old;
}

void TRVTableCellData::SetBackgroundImage(TGraphic* value) {
  if (value && value == BackgroundImage()) return;
  AssignBackgroundImage(CopyGraphic(value));
}

void TRVTableCellData::SetBackgroundStyle(TRVItemBackgroundStyle value) {
  if (value == BackgroundStyle()) return;
  if (!Background && value != rvbsColor) Background = std::make_unique<TRVBackground>(false);
  if (Background) Background->SetItemBackStyle(value);
  BackgroundChanged();
}

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
  SetBackgroundImage(s->BackgroundImage());
  SetBackgroundStyle(s->BackgroundStyle());
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
  {
    // An open cell editor of this cell takes the new colour at once.
    TPublishedProperty p;
    p.Name = "Color";
    p.Kind = TPropKind::Integer;
    p.GetOrd = [this] { return static_cast<int64_t>(Color); };
    p.SetOrd = [this](int64_t v) {
      Color = static_cast<TColor>(v);
      if (table_ && table_->CellEditor && table_->CellEditor->Cell == this) {
        table_->CellEditor->Color = table_->GetCellEffectiveColor(this);
        table_->CellEditor->Transparent = table_->IsCellEditorTransparent(this);
        table_->CellEditor->update();
      }
    };
    p.OrdDefault = static_cast<TColor>(clNone);
    props.Add(std::move(p));
  }
  props.Integer("BorderColor", BorderColor, static_cast<TColor>(clNone));
  props.Integer("BorderLightColor", BorderLightColor, static_cast<TColor>(clNone));
  props.Integer("BestWidth", BestWidth, 0);
  props.Integer("BestHeight", BestHeight, 0);
  // Written only when some side is hidden: each side defaults to true.
  props.Object("VisibleBorders", borders_.get());
  props.Enum("VAlign", VAlign, rvcVDefault, {"rvcTop", "rvcMiddle", "rvcBottom", "rvcVDefault"});
  {
    TPublishedProperty p;
    p.Name = "BackgroundStyle";
    p.Kind = TPropKind::Enum;
    p.GetOrd = [this] { return static_cast<int64_t>(BackgroundStyle()); };
    p.SetOrd = [this](int64_t v) { SetBackgroundStyle(static_cast<TRVItemBackgroundStyle>(v)); };
    p.OrdDefault = rvbsColor;
    p.Names = {"rvbsColor", "rvbsStretched", "rvbsTiled", "rvbsCentered"};
    props.Add(std::move(p));
  }
  props.String("BackgroundImageFileName", BackgroundImageFileName);
  props.String("Hint", Hint);
}

void TRVTableCellData::DefineProperties(TFiler* filer) {
  const bool has_data = !SavingWithoutContent && HasContent(true);
  filer->DefineBinaryProperty(
      "Data", [this](TStream& s) { ReadDataProperty(s); }, [this](TStream& s) { WriteDataProperty(s); }, has_data);
  filer->DefineBinaryProperty(
      "BackgroundImg",
      [this](TStream& s) {
        if (std::unique_ptr<TGraphic> g = ReadBackgroundImg(s)) AssignBackgroundImage(std::move(g));
      },
      [this](TStream& s) { WriteBackgroundImg(s, *BackgroundImage()); },
      !SavingWithoutContent && Background && BackgroundImage() && !BackgroundImage()->Empty());
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
  borders_ = std::make_unique<TRVBooleanRectHolder>(VisibleBorders);
  Reset(rows, cols);
  TableState = 1 << 6;
}

TRVTableItemInfo::~TRVTableItemInfo() {
  CloseCellEditor(false);
  // A border drag or a cell selection that is running leaves nothing of the table behind in its
  // document.
  if (auto* fd = dynamic_cast<TCustomRVFormattedData*>(host_)) {
    if (resize_line_) fd->UnassignXorDrawing(resize_line_.get());
    if (fd->CaptureMouseItem == this) fd->ReleaseMouseCapture(this);
  }
  grid_.reset();
}

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

int32_t TRVTableItemInfo::GetRootItemNo() const {
  int32_t item_no = GetItemNoInParent();
  TCustomRVData* data = host_;
  while (data) {
    int32_t parent_item = -1;
    std::unique_ptr<TRVStoreSubRVData> location;
    data->GetParentInfo(parent_item, location);
    if (parent_item < 0) break;
    item_no = parent_item;
    data = data->GetParentData();
  }
  return item_no;
}

int32_t TRVTableItemInfo::GetEditorItemNoForUndo() const {
  auto* edit = dynamic_cast<TRVEditRVData*>(host_);
  if (!edit || !edit->GetUndoDestination()) return -1;
  return GetItemNoInParent();
}

void TRVTableItemInfo::BeginTableUndoGroup() {
  auto* edit = dynamic_cast<TRVEditRVData*>(host_);
  if (!edit || GetItemNoInParent() < 0) return;
  // What was typed in the cell editor goes first, so that undo takes back this change before it.
  MoveEditorUndo(false);
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

void TRVTableItemInfo::InsertRows(int32_t index, int32_t count, int32_t copy_index, bool select) {
  if (index < 0 || index > RowCount() || copy_index < -1 || copy_index >= RowCount()) BadIndex();
  CloseCellEditor(true);
  {
    TTableUndoGroup group(this);
    if (grid_->Count() == 0) {
      // A grid without rows keeps its column count apart until its first row.
      for (int32_t i = 0; i < count; ++i) grid_->AddRow(pending_cols_);
    } else {
      grid_->InsertRows(index, count, copy_index, false);
    }
  }
  if (select && count > 0) SelectWholeRows(index, count);
}

void TRVTableItemInfo::InsertCols(int32_t index, int32_t count, int32_t copy_index, bool select) {
  if (index < 0 || index > ColCount() || copy_index < -1 || copy_index >= ColCount()) BadIndex();
  CloseCellEditor(true);
  {
    TTableUndoGroup group(this);
    if (grid_->Count() == 0) {
      if (count < 1) BadIndex();
      pending_cols_ += count;
      return;
    }
    grid_->InsertCols(index, count, copy_index, false);
  }
  if (select && count > 0 && RowCount() > 0) SelectWholeColumns(index, count);
}

void TRVTableItemInfo::DeleteRows(int32_t index, int32_t count, bool decrease_height) {
  if (grid_->IsEmpty()) return;
  if (index < 0 || index >= RowCount() || count <= 0 || (index == 0 && count > RowCount())) BadIndex();
  int32_t row = -1, col = -1;
  GetEditedCellPos(row, col);
  if (row >= index + count) row -= count;
  CloseCellEditor(true);
  ClearCellSelection();
  {
    TTableUndoGroup group(this);
    grid_->DeleteRows(index, count, decrease_height);
  }
  // The editor comes back in the nearest remaining cell of the same column.
  if (RowCount() > 0 && Options.Contains(rvtoEditing) && (TableState & 1)) {
    if (row < 0) row = index, col = 0;
    row = std::min(row, RowCount() - 1);
    col = std::min(col, ColCount() - 1);
    int32_t mr = 0, mc = 0;
    if (GetMainCell(row, col, mr, mc)) OpenCellEditor(-1, mr, mc, false, true, false, false, false);
  }
}

void TRVTableItemInfo::DeleteCols(int32_t index, int32_t count, bool decrease_width) {
  if (grid_->IsEmpty()) return;
  if (index < 0 || index >= ColCount() || count <= 0 || (index == 0 && count > ColCount())) BadIndex();
  int32_t row = -1, col = -1;
  GetEditedCellPos(row, col);
  if (col >= index + count) col -= count;
  CloseCellEditor(true);
  ClearCellSelection();
  {
    TTableUndoGroup group(this);
    grid_->DeleteCols(index, count, decrease_width);
  }
  if (RowCount() > 0 && ColCount() > 0 && Options.Contains(rvtoEditing) && (TableState & 1)) {
    if (row < 0) row = 0, col = index;
    row = std::min(row, RowCount() - 1);
    col = std::min(col, ColCount() - 1);
    int32_t mr = 0, mc = 0;
    if (GetMainCell(row, col, mr, mc)) OpenCellEditor(-1, mr, mc, false, true, false, false, false);
  }
}

void TRVTableItemInfo::DeleteEmptyRows() {
  CloseCellEditor(true);
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
  CloseCellEditor(true);
  TTableUndoGroup group(this);
  grid_->MergeCells(top_row, left_col, col_span, row_span, allow_empty_lines, true);
}

void TRVTableItemInfo::DefinePublished(TPublishedProperties& props) {
  {
    TPublishedProperty p;
    p.Name = "Options";
    p.Kind = TPropKind::Set;
    p.GetOrd = [this] { return static_cast<int64_t>(Options.ToBits()); };
    p.SetOrd = [this](int64_t v) { Options = TRVTableOptions::FromBits(static_cast<uint16_t>(v)); };
    p.OrdDefault = TRVTableOptions{rvtoEditing, rvtoRowSizing, rvtoColSizing, rvtoRowSelect, rvtoColSelect}.ToBits();
    p.Names = {"rvtoEditing",
               "rvtoRowSizing",
               "rvtoColSizing",
               "rvtoRowSelect",
               "rvtoColSelect",
               "rvtoNoCellSelect",
               "rvtoRTFSaveCellPixelBestWidth",
               "rvtoRTFAllowAutofit",
               "rvtoHideGridLines",
               "rvtoOverlappingCorners",
               "rvtoCellBelowBorders",
               "rvtoIgnoreContentWidth",
               "rvtoIgnoreContentHeight"};
    props.Add(std::move(p));
  }
  {
    TPublishedProperty p;
    p.Name = "PrintOptions";
    p.Kind = TPropKind::Set;
    p.GetOrd = [this] { return static_cast<int64_t>(PrintOptions.ToBits()); };
    p.SetOrd = [this](int64_t v) { PrintOptions = TRVTablePrintOptions::FromBits(static_cast<uint8_t>(v)); };
    p.OrdDefault = TRVTablePrintOptions{rvtoHalftoneBorders, rvtoRowsSplit}.ToBits();
    p.Names = {"rvtoHalftoneBorders", "rvtoRowsSplit", "rvtoWhiteBackground"};
    props.Add(std::move(p));
  }
  props.Integer("BestWidth", BestWidth, 0);
  {
    TPublishedProperty p;
    p.Name = "Color";
    p.Kind = TPropKind::Integer;
    p.GetOrd = [this] { return static_cast<int64_t>(Color); };
    p.SetOrd = [this](int64_t v) { ApplyColor(static_cast<TColor>(v)); };
    p.OrdDefault = static_cast<TColor>(clWindow);
    props.Add(std::move(p));
  }
  {
    TPublishedProperty p;
    p.Name = "BackgroundStyle";
    p.Kind = TPropKind::Enum;
    p.GetOrd = [this] { return static_cast<int64_t>(BackgroundStyle()); };
    p.SetOrd = [this](int64_t v) { ApplyBackgroundStyle(static_cast<TRVItemBackgroundStyle>(v)); };
    p.OrdDefault = rvbsColor;
    p.Names = {"rvbsColor", "rvbsStretched", "rvbsTiled", "rvbsCentered"};
    props.Add(std::move(p));
  }
  props.Integer("HeadingRowCount", HeadingRowCount, 0);
  props.String("TextRowSeparator", TextRowSeparator);
  props.String("TextColSeparator", TextColSeparator);
  props.Integer("BorderWidth", BorderWidth, 0);
  props.Integer("BorderColor", BorderColor, static_cast<TColor>(clWindowText));
  props.Integer("BorderLightColor", BorderLightColor, static_cast<TColor>(clBtnHighlight));
  const std::vector<AnsiString> styles = {"rvtbRaised", "rvtbLowered", "rvtbColor", "rvtbRaisedColor",
                                          "rvtbLoweredColor"};
  props.Enum("BorderStyle", BorderStyle, rvtbRaised, styles);
  props.Integer("BorderVSpacing", BorderVSpacing, 2);
  props.Integer("BorderHSpacing", BorderHSpacing, 2);
  props.Object("VisibleBorders", borders_.get());
  props.Integer("CellBorderWidth", CellBorderWidth, 0);
  props.Integer("CellBorderColor", CellBorderColor, static_cast<TColor>(clWindowText));
  props.Integer("CellBorderLightColor", CellBorderLightColor, static_cast<TColor>(clBtnHighlight));
  {
    TPublishedProperty p;
    p.Name = "CellPadding";
    p.Kind = TPropKind::Integer;
    p.GetOrd = [this] { return static_cast<int64_t>(CellPadding); };
    p.SetOrd = [this](int64_t v) { ApplyCellPadding(static_cast<int32_t>(v)); };
    p.OrdDefault = 1;
    props.Add(std::move(p));
  }
  props.Enum("CellBorderStyle", CellBorderStyle, rvtbLowered, styles);
  props.Integer("VRuleWidth", VRuleWidth, 0);
  props.Integer("VRuleColor", VRuleColor, static_cast<TColor>(clWindowText));
  props.Integer("HRuleWidth", HRuleWidth, 0);
  props.Integer("HRuleColor", HRuleColor, static_cast<TColor>(clWindowText));
  props.Integer("CellVSpacing", CellVSpacing, 2);
  props.Integer("CellHSpacing", CellHSpacing, 2);
  props.Boolean("VOutermostRule", VOutermostRule, false);
  props.Boolean("HOutermostRule", HOutermostRule, false);
}

void TRVTableItemInfo::SetTablePropertyUndoable(const AnsiString& prop_name, int32_t value, bool height_affected,
                                                bool width_affected) {
  auto* edit = dynamic_cast<TRVEditRVData*>(host_);
  const uint16_t was_inserted = TableState & 1;
  TableState &= static_cast<uint16_t>(~1u);
  try {
    if (was_inserted && edit && GetItemNoInParent() >= 0) {
      TTableUndoGroup group(this);
      // A record holding the new value, performed once: it assigns the value and records its own
      // reverse (the old value) in the open group.
      TRVUndoModifyItemIntProperty change;
      change.ItemNo = GetItemNoInParent();
      change.ChangesWidth = width_affected;
      change.ChangesSize = width_affected || height_affected;
      change.PropName = prop_name;
      change.PriorValue = value;
      change.Perform(edit);
      edit->InvalidateControl();
    } else {
      TPublishedProperties props;
      DefinePublished(props);
      const TPublishedProperty* p = props.Find(prop_name);
      if (!p) throw EDocViewError("Property " + prop_name + " does not exist");
      p->SetOrd(value);
    }
  } catch (...) {
    TableState = static_cast<uint16_t>((TableState & ~1u) | was_inserted);
    throw;
  }
  TableState = static_cast<uint16_t>((TableState & ~1u) | was_inserted);
  MarkChanged();
}

// ---- Background picture ----

void TRVTableItemInfo::BackgroundChanged() {
  if (Background && Background->IsEmpty()) Background.reset();
  if (auto* f = dynamic_cast<TCustomRVFormattedData*>(host_)) f->ResetAnimation();
}

void TRVTableItemInfo::AssignBackgroundImage(std::unique_ptr<TGraphic> picture) {
  if (picture && picture->Empty()) picture.reset();
  if (!Background && picture) Background = std::make_unique<TRVBackground>(false);
  if (Background) {
    // The background gives up its old picture (freed here) and owns the new one.
    std::unique_ptr<TGraphic> old(Background->Image());
    Background->AssignImage(picture.release(), host_, false);
  }
  BackgroundChanged();
}

std::unique_ptr<TGraphic> TRVTableItemInfo::TakeBackgroundImage() {
  if (!Background || !Background->Image()) return nullptr;
  std::unique_ptr<TGraphic> old(Background->Image());
  Background->AssignImage(nullptr, host_, false);
  BackgroundChanged();
  return old;
}

void TRVTableItemInfo::SetBackgroundImage(TGraphic* value) {
  if (value && value == BackgroundImage()) return;
  std::unique_ptr<TGraphic> copy = CopyGraphic(value);
  auto* edit = dynamic_cast<TRVEditRVData*>(host_);
  if ((TableState & 1) && edit && GetItemNoInParent() >= 0) {
    TTableUndoGroup group(this);
    if (auto* rec = RecordTableUndo<TRVUndoModifyBackgroundImage>(edit, GetItemNoInParent(), false, false))
      rec->Image = TakeBackgroundImage();
  }
  AssignBackgroundImage(std::move(copy));
  MarkChanged();
}

void TRVTableItemInfo::SetCellBackgroundImageUndoable(TGraphic* value, int32_t row, int32_t col) {
  TRVTableCellData* cell = GetCells(row, col);
  if (value && value == cell->BackgroundImage()) return;
  std::unique_ptr<TGraphic> copy = CopyGraphic(value);
  auto* edit = dynamic_cast<TRVEditRVData*>(host_);
  if ((TableState & 1) && edit && GetItemNoInParent() >= 0) {
    TTableUndoGroup group(this);
    if (auto* rec = RecordTableUndo<TRVUndoModifyBackgroundImage>(edit, GetItemNoInParent(), false, false)) {
      rec->CellRow = row;
      rec->CellCol = col;
      rec->Image = cell->TakeBackgroundImage();
    }
  }
  cell->AssignBackgroundImage(std::move(copy));
  MarkChanged();
}

void TRVTableItemInfo::ApplyColor(TColor value) {
  Color = value;
  if (CellEditor && CellEditor->Cell) {
    CellEditor->Color = GetCellEffectiveColor(CellEditor->Cell);
    CellEditor->Transparent = IsCellEditorTransparent(CellEditor->Cell);
    CellEditor->update();
  }
  if (auto* f = dynamic_cast<TCustomRVFormattedData*>(host_)) f->ResetAnimation();
}

void TRVTableItemInfo::ApplyCellPadding(int32_t value) {
  CellPadding = value;
  if (CellEditor) {
    CellEditor->LeftMargin = CellEditor->RightMargin = CellEditor->TopMargin = CellEditor->BottomMargin = value;
    TableState |= 8;
  }
}

void TRVTableItemInfo::ApplyBackgroundStyle(TRVItemBackgroundStyle value) {
  if (value == BackgroundStyle()) return;
  if (!Background && value != rvbsColor) Background = std::make_unique<TRVBackground>(false);
  if (Background) Background->SetItemBackStyle(value);
  BackgroundChanged();
}

void TRVTableItemInfo::SetBackgroundStyle(TRVItemBackgroundStyle value) {
  if (value == BackgroundStyle()) return;
  if (TableState & 1)
    SetTablePropertyUndoable("BackgroundStyle", value, false, false);
  else
    ApplyBackgroundStyle(value);
}

void TRVTableItemInfo::DefineProperties(TFiler* filer) {
  TRVTableItemBase::DefineProperties(filer);
  filer->DefineBinaryProperty(
      "BackgroundImg",
      [this](TStream& s) {
        if (std::unique_ptr<TGraphic> g = ReadBackgroundImg(s)) AssignBackgroundImage(std::move(g));
      },
      [this](TStream& s) { WriteBackgroundImg(s, *BackgroundImage()); },
      Background && !Background->IsEmpty() && BackgroundImage());
}

int32_t TRVTableItemInfo::GetRVFExtraPropertyCount() const {
  return TRVTableItemBase::GetRVFExtraPropertyCount() + (BackgroundImageFileName.empty() ? 0 : 1);
}

void TRVTableItemInfo::SaveRVFExtraProperties(TStream& stream) {
  TRVTableItemBase::SaveRVFExtraProperties(stream);
  if (!BackgroundImageFileName.empty()) RVFWriteExtraStrProperty(stream, 3, BackgroundImageFileName);
}

bool TRVTableItemInfo::SetExtraStrProperty(int32_t index, const AnsiString& value) {
  if (index != 3) return TRVTableItemBase::SetExtraStrProperty(index, value);
  BackgroundImageFileName = value;
  return true;
}

bool TRVTableItemInfo::GetExtraStrProperty(int32_t index, AnsiString& value) const {
  if (index != 3) return TRVTableItemBase::GetExtraStrProperty(index, value);
  value = BackgroundImageFileName;
  return true;
}

void TRVTableItemInfo::ForEachCell(const std::function<void(TRVTableCellData*)>& proc) const {
  for (int32_t r = 0; r < grid_->Count(); ++r) {
    TRVTableRow* row = grid_->GetItem(r);
    for (int32_t c = 0; c < row->Count(); ++c)
      if (TRVTableCellData* cell = row->Items(c)) proc(cell);
  }
}

bool TRVTableItemInfo::GetBoolValue(int32_t ordinal) const {
  switch (ordinal) {
    case 4:
    case 5:
    case 6:
    case 10:
    case 12:
      return true;
    default:
      return TRVTableItemBase::GetBoolValue(ordinal);
  }
}

TCustomRVData* TRVTableItemInfo::GetSubRVData(std::unique_ptr<TRVStoreSubRVData>& state, TRVSubRVDataPos position) {
  if (position == rvdChosenDown || position == rvdChosenUp) {
    // From the selection: its bottom right (down) or top left (up) corner's cell, else the
    // chosen cell.
    state.reset();
    int32_t tr, lc, cc, rc, r, c;
    if (GetCellSelectionRect(true, tr, lc, cc, rc)) {
      if (position == rvdChosenDown)
        GetMainCell(tr + rc - 1, lc + cc - 1, r, c);
      else
        GetMainCell(tr, lc, r, c);
    } else {
      ValidateChosenCell();
      if (ChosenRow < 0) return nullptr;
      r = ChosenRow;
      c = ChosenCol;
    }
    state = std::make_unique<TRVTableStoreSubRVData>(r, c);
    return GetCells(r, c);
  }
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
    default:
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

void TRVTableItemInfo::BeforeLoading(TRVLoadFormat format) {
  if (format == rvlfRTF || format == rvlfRVF || format == rvlfOther) TableState &= static_cast<uint16_t>(~(1u << 6));
}

void TRVTableItemInfo::MovingToUndoList(int32_t item_no, TCustomRVData* rvdata) {
  // The cell editor closes in clearing mode: its items go back without a new layout.
  CloseCellEditor(false);
  ForEachCell([](TRVTableCellData* cell) {
    for (int32_t i = 0; i < cell->ItemCount(); ++i) cell->GetItem(i)->MovingToUndoList(i, cell);
  });
  Layout.Clear();
  SetHostDocument(nullptr);
  TRVTableItemBase::MovingToUndoList(item_no, rvdata);
}

void TRVTableItemInfo::MovingFromUndoList(int32_t item_no, TCustomRVData* rvdata) {
  if (rvdata) SetHostDocument(rvdata);
  ForEachCell([](TRVTableCellData* cell) {
    for (int32_t i = 0; i < cell->ItemCount(); ++i) cell->GetItem(i)->MovingFromUndoList(i, cell);
  });
  MarkChanged();
}

void TRVTableItemInfo::AfterLoading(TRVLoadFormat format) {
  ForEachCell([&](TRVTableCellData* cell) {
    for (int32_t i = 0; i < cell->ItemCount(); ++i) cell->GetItem(i)->AfterLoading(format);
  });
}

void TRVTableItemInfo::Inserted(TCustomRVData* rvdata, int32_t item_no) {
  if (rvdata && rvdata != host_) SetHostDocument(rvdata);
  TRVTableItemBase::Inserted(rvdata, item_no);
  // Once, on the first insertion: the cells' items learn where they now are. A document that is not
  // its control's root passes it on only when it lies inside an item itself.
  if (TableState & (1u << 6)) {
    bool pass = true;
    if (rvdata && !(rvdata->GetFlags() & rvflRoot)) {
      int32_t parent_item = -1;
      std::unique_ptr<TRVStoreSubRVData> location;
      rvdata->GetParentInfo(parent_item, location);
      pass = parent_item >= 0;
    }
    if (pass)
      ForEachCell([](TRVTableCellData* cell) {
        for (int32_t i = 0; i < cell->ItemCount(); ++i) cell->GetItem(i)->Inserted(cell, i);
      });
    TableState &= static_cast<uint16_t>(~(1u << 6));
  }
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
