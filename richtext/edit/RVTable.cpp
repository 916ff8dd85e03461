// The table item: grid, grid operations and output (see RVTable.h).
#include "richtext/edit/RVTable.h"

#include <algorithm>
#include <cmath>

#include "platform/sysutils.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVFMisc.h"

namespace pelvar {

namespace {

// Where a sub-document stands in its table.
class TCellLocation : public TRVStoreSubRVData {
 public:
  TCellLocation(int32_t r, int32_t c) : Row(r), Col(c) {}
  int32_t Row, Col;
  std::unique_ptr<TRVStoreSubRVData> Duplicate() const override { return std::make_unique<TCellLocation>(Row, Col); }
  int32_t Compare(const TRVStoreSubRVData* other) const override {
    auto* o = static_cast<const TCellLocation*>(other);
    return Row != o->Row ? Row - o->Row : Col - o->Col;
  }
};

[[noreturn]] void BadIndex() { throw EDocViewError("Invalid row or column index"); }

}  // namespace

void TRVTableCellData::GetParentInfo(int32_t& parent_item_no, std::unique_ptr<TRVStoreSubRVData>& location) {
  parent_item_no = host_ ? host_->GetItemNo(table_) : -1;
  for (int32_t r = 0; r < table_->RowCount(); ++r)
    for (int32_t c = 0; c < table_->ColCount(); ++c)
      if (table_->GetCells(r, c) == this) {
        location = std::make_unique<TCellLocation>(r, c);
        return;
      }
  location.reset();
}

void TRVTableCellData::AssignAttributesFrom(const TRVTableCellData* s) {
  Color = s->Color;
  BorderColor = s->BorderColor;
  BorderLightColor = s->BorderLightColor;
  std::copy(std::begin(s->VisibleBorders), std::end(s->VisibleBorders), std::begin(VisibleBorders));
  VAlign = s->VAlign;
}

TRVTableItemInfo::TRVTableItemInfo(TCustomRVData* rvdata, int32_t rows, int32_t cols) : TRVTableItemBase(rvdata), host_(rvdata) {
  Reset(rows, cols);
}

std::unique_ptr<TRVTableCellData> TRVTableItemInfo::NewCell() { return std::make_unique<TRVTableCellData>(this, host_); }

void TRVTableItemInfo::Reset(int32_t rows, int32_t cols) {
  rows_.clear();
  cols_ = std::max(cols, 0);
  for (int32_t r = 0; r < rows; ++r) {
    auto row = std::make_unique<TRVTableRow>();
    for (int32_t c = 0; c < cols_; ++c) row->Cells().push_back(NewCell());
    rows_.push_back(std::move(row));
  }
}

void TRVTableItemInfo::SetHostDocument(TCustomRVData* host) {
  host_ = host;
  for (auto& row : rows_)
    for (auto& cell : row->Cells())
      if (cell) cell->SetHost(host);
}

TRVTableCellData* TRVTableItemInfo::GetCells(int32_t row, int32_t col) const {
  if (row < 0 || row >= RowCount() || col < 0 || col >= ColCount()) BadIndex();
  return rows_[static_cast<size_t>(row)]->Items(col);
}

TRVTableCellData* TRVTableItemInfo::GetMainCell(int32_t row, int32_t col, int32_t& main_row, int32_t& main_col) const {
  if (row < 0 || row >= RowCount() || col < 0 || col >= ColCount()) BadIndex();
  for (int32_t r = row; r >= 0; --r)
    for (int32_t c = col; c >= 0; --c) {
      TRVTableCellData* cell = rows_[static_cast<size_t>(r)]->Items(c);
      if (cell && r + cell->RowSpan > row && c + cell->ColSpan > col) {
        main_row = r;
        main_col = c;
        return cell;
      }
    }
  main_row = main_col = -1;
  return nullptr;
}

void TRVTableItemInfo::InsertRows(int32_t index, int32_t count, int32_t) {
  if (index < 0 || index > RowCount() || count < 0) BadIndex();
  // Cells spanning across the insertion point grow over the new rows.
  std::vector<bool> covered(static_cast<size_t>(cols_), false);
  if (index > 0 && index < RowCount()) {
    for (int32_t c = 0; c < cols_; ++c) {
      int32_t mr = 0, mc = 0;
      TRVTableCellData* m = GetMainCell(index, c, mr, mc);
      if (m && mr < index) {
        covered[static_cast<size_t>(c)] = true;
        if (mc == c) m->RowSpan += count;
      }
    }
  }
  for (int32_t i = 0; i < count; ++i) {
    auto row = std::make_unique<TRVTableRow>();
    for (int32_t c = 0; c < cols_; ++c)
      row->Cells().push_back(covered[static_cast<size_t>(c)] ? nullptr : NewCell());
    rows_.insert(rows_.begin() + index + i, std::move(row));
  }
}

void TRVTableItemInfo::InsertCols(int32_t index, int32_t count, int32_t) {
  if (index < 0 || index > cols_ || count < 0) BadIndex();
  std::vector<bool> covered(rows_.size(), false);
  std::vector<TRVTableCellData*> grow;
  if (index > 0 && index < cols_) {
    for (int32_t r = 0; r < RowCount(); ++r) {
      int32_t mr = 0, mc = 0;
      TRVTableCellData* m = GetMainCell(r, index, mr, mc);
      if (m && mc < index) {
        covered[static_cast<size_t>(r)] = true;
        if (mr == r) grow.push_back(m);
      }
    }
  }
  for (TRVTableCellData* m : grow) m->ColSpan += count;
  for (size_t r = 0; r < rows_.size(); ++r) {
    auto& cells = rows_[r]->Cells();
    for (int32_t i = 0; i < count; ++i)
      cells.insert(cells.begin() + index + i, covered[r] ? nullptr : NewCell());
  }
  cols_ += count;
}

void TRVTableItemInfo::DeleteCols(int32_t index, int32_t count, bool) {
  if (index < 0 || count < 0 || index + count > cols_) BadIndex();
  const int32_t end = index + count;
  for (int32_t r = 0; r < RowCount(); ++r) {
    auto& cells = rows_[static_cast<size_t>(r)]->Cells();
    for (int32_t c = 0; c < cols_; ++c) {
      TRVTableCellData* cell = cells[static_cast<size_t>(c)].get();
      if (!cell) continue;
      const int32_t a = c, b = c + cell->ColSpan;  // columns a..b-1
      const int32_t overlap = std::max(0, std::min(b, end) - std::max(a, index));
      if (overlap == 0) continue;
      if (overlap == b - a) continue;  // entirely deleted below
      cell->ColSpan -= overlap;
      if (a >= index) {
        // Starts inside the range: it moves to the first column after it.
        cells[static_cast<size_t>(end)] = std::move(cells[static_cast<size_t>(c)]);
      }
    }
    cells.erase(cells.begin() + index, cells.begin() + end);
  }
  cols_ -= count;
}

void TRVTableItemInfo::DeleteEmptyRows() {
  for (int32_t r = RowCount() - 1; r >= 0; --r) {
    auto& cells = rows_[static_cast<size_t>(r)]->Cells();
    if (std::any_of(cells.begin(), cells.end(), [](const auto& c) { return c != nullptr; })) continue;
    for (int32_t c = 0; c < cols_; ++c) {
      int32_t mr = 0, mc = 0;
      TRVTableCellData* m = GetMainCell(r, c, mr, mc);
      if (m && mc == c && mr < r) m->RowSpan = std::max(1, m->RowSpan - 1);
    }
    rows_.erase(rows_.begin() + r);
  }
}

void TRVTableItemInfo::MergeCells(int32_t top, int32_t left, int32_t col_span, int32_t row_span) {
  if (top < 0 || left < 0 || col_span < 1 || row_span < 1 || top + row_span > RowCount() ||
      left + col_span > cols_)
    return;
  // A rectangle that cuts a merged cell is refused.
  for (int32_t r = top; r < top + row_span; ++r)
    for (int32_t c = left; c < left + col_span; ++c) {
      int32_t mr = 0, mc = 0;
      TRVTableCellData* m = GetMainCell(r, c, mr, mc);
      if (!m || mr < top || mc < left || mr + m->RowSpan > top + row_span || mc + m->ColSpan > left + col_span)
        return;
    }
  TRVTableCellData* main = GetCells(top, left);
  if (!main) return;
  for (int32_t r = top; r < top + row_span; ++r)
    for (int32_t c = left; c < left + col_span; ++c) {
      auto& slot = rows_[static_cast<size_t>(r)]->Cells()[static_cast<size_t>(c)];
      if (!slot || slot.get() == main) continue;
      main->AppendFrom(slot.get());
      slot.reset();
    }
  main->ColSpan = col_span;
  main->RowSpan = row_span;
}

bool TRVTableItemInfo::GetBoolValue(int32_t ordinal) const {
  // 12: a block of its own in HTML.
  return ordinal == 12 ? true : TRVTableItemBase::GetBoolValue(ordinal);
}

TCustomRVData* TRVTableItemInfo::GetSubRVData(std::unique_ptr<TRVStoreSubRVData>& state, TRVSubRVDataPos position) {
  std::vector<std::pair<int32_t, int32_t>> mains;
  for (int32_t r = 0; r < RowCount(); ++r)
    for (int32_t c = 0; c < cols_; ++c)
      if (GetCells(r, c)) mains.emplace_back(r, c);
  int32_t at = -1;
  auto* loc = dynamic_cast<TCellLocation*>(state.get());
  auto index_of = [&]() {
    for (size_t i = 0; i < mains.size(); ++i)
      if (loc && mains[i].first == loc->Row && mains[i].second == loc->Col) return static_cast<int32_t>(i);
    return -1;
  };
  switch (position) {
    case rvdFirst: at = mains.empty() ? -1 : 0; break;
    case rvdLast: at = static_cast<int32_t>(mains.size()) - 1; break;
    case rvdNext: at = index_of() < 0 ? -1 : index_of() + 1; break;
    case rvdPrev: at = index_of() - 1; break;
  }
  if (at < 0 || at >= static_cast<int32_t>(mains.size())) {
    state.reset();
    return nullptr;
  }
  state = std::make_unique<TCellLocation>(mains[static_cast<size_t>(at)].first, mains[static_cast<size_t>(at)].second);
  return GetCells(mains[static_cast<size_t>(at)].first, mains[static_cast<size_t>(at)].second);
}

void TRVTableItemInfo::MarkStylesInUse(TRVDeleteUnusedStylesData& data) {
  TRVTableItemBase::MarkStylesInUse(data);
  for (auto& row : rows_)
    for (auto& cell : row->Cells())
      if (cell)
        for (int32_t i = 0; i < cell->ItemCount(); ++i) cell->GetItem(i)->MarkStylesInUse(data);
}

void TRVTableItemInfo::UpdateStyles(const TRVDeleteUnusedStylesData& data) {
  TRVTableItemBase::UpdateStyles(data);
  for (auto& row : rows_)
    for (auto& cell : row->Cells())
      if (cell)
        for (int32_t i = 0; i < cell->ItemCount(); ++i) cell->GetItem(i)->UpdateStyles(data);
}

void TRVTableItemInfo::Inserted(TCustomRVData* rvdata, int32_t item_no) {
  if (rvdata) SetHostDocument(rvdata);
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
    for (int32_t c = 0; c < cols_; ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell) continue;
      int32_t vis = 0;
      for (int i = 0; i < 4; ++i) vis |= cell->VisibleBorders[i] ? (1 << i) : 0;
      TMemoryStream m;
      cell->WriteRVFData(m);
      lines.push_back(Format("%d %d %d %d %d %d %d %d %d ", {r, c, cell->RowSpan, cell->ColSpan, cell->Color,
                                                             cell->BestWidth, cell->BestHeight,
                                                             static_cast<int32_t>(cell->VAlign), vis}) +
                      RVFStreamToHex(m));
    }
  const bool tags_str = rvdata && rvdata->GetOptions().Contains(rvoTagsArePChars);
  RVFWriteItemHeader(stream, StyleNo, static_cast<int32_t>(lines.size()), RVFSaveParaNo(para_no, rvdata, false),
                     ItemOptions.ToBits() & 0x0F, 0, RVFSaveTag(tags_str, Tag), Format("%d %d", {RowCount(), cols_}));
  for (const AnsiString& l : lines) RVFWriteLine(stream, l);
}

bool TRVTableItemInfo::ReadRVFHeaderTail(const char*& p, TCustomRVData*) {
  int32_t rows = 0, cols = 0;
  if (!RVFReadInteger(p, rows) || !RVFReadInteger(p, cols)) return false;
  // A grid larger than any document holds is damage, not a table.
  if (rows < 0 || cols < 0 || rows > 100000 || cols > 4096 || static_cast<int64_t>(rows) * cols > 1000000) return false;
  Reset(rows, cols);
  return true;
}

bool TRVTableItemInfo::ReadRVFLine(const AnsiString& s, TCustomRVData*, int32_t&, bool&, AnsiString&, int32_t line_no,
                                   int32_t, int32_t) {
  const char* p = s.c_str();
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
    return true;
  }
  int32_t v[9] = {};
  for (int32_t& x : v)
    if (!RVFReadInteger(p, x)) return false;
  const int32_t r = v[0], c = v[1];
  if (r < 0 || r >= RowCount() || c < 0 || c >= cols_ || !GetCells(r, c)) return false;
  if (v[2] > 1 || v[3] > 1) MergeCells(r, c, v[3], v[2]);
  TRVTableCellData* cell = GetCells(r, c);
  if (cell->RowSpan != std::max(v[2], 1) || cell->ColSpan != std::max(v[3], 1)) return false;
  cell->Color = v[4];
  cell->BestWidth = v[5];
  cell->BestHeight = v[6];
  cell->VAlign = static_cast<TRVCellVAlign>(std::clamp(v[7], 0, 3));
  for (int i = 0; i < 4; ++i) cell->VisibleBorders[i] = (v[8] >> i) & 1;
  TMemoryStream m;
  if (!RVFHexToStream(AnsiString(p), m)) return false;
  m.SetPosition(0);
  try {
    cell->ReadRVFData(m);
  } catch (const Exception&) {
    return false;
  }
  return true;
}

// ---- RTF -------------------------------------------------------------------------------------
void TRVTableItemInfo::FillRTFTables(TRVColorList& color_list, TCustomRVData*) {
  color_list.AddUnique(Color);
  for (auto& row : rows_)
    for (auto& cell : row->Cells())
      if (cell) {
        color_list.AddUnique(cell->Color);
        for (int32_t i = 0; i < cell->ItemCount(); ++i) cell->GetItem(i)->FillRTFTables(color_list, cell.get());
      }
}

void TRVTableItemInfo::SaveRTF(TStream& stream, TCustomRVData*, int32_t, const AnsiString&, double twips,
                               int32_t level, TRVColorList& color_list) {
  const TRVRTFSaveTables* t = RVCurrentRTFTables();
  if (!t) return;
  const int32_t cell_level = level + 1;
  // Column widths: a single-column cell's best width, else 100 pixels.
  std::vector<int32_t> widths(static_cast<size_t>(cols_), 100);
  for (int32_t c = 0; c < cols_; ++c)
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
    for (int32_t c = 0; c < cols_;) {
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
    for (int32_t c = 0; c < cols_;) {
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
    for (int32_t c = 0; c < cols_; ++c) {
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
    for (int32_t c = 0; c < cols_; ++c) {
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
  RegisterRVItemClass(rvsTable, "TRVTableItemInfo", [](TCustomRVData* d) -> TCustomRVItemInfo* {
    return new TRVTableItemInfo(d);
  });
  RVCreateTableItem = [](TCustomRVData* d, int32_t rows, int32_t cols) -> TRVTableItemBase* {
    return TRVTableItemInfo::CreateEx(d, rows, cols);
  };
}

namespace {
const bool kRegistered = (RVRegisterTableItem(), true);
}  // namespace

}  // namespace pelvar
