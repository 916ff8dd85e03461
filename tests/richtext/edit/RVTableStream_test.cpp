// The table's component stream: a table with merged cells, cell attributes and row settings
// written through TRVTableSW and read back whole; the rows a range save writes (heading
// rows first); the row settings left out when they hold nothing; damaged streams (a grid
// size no table has, a cell list that ends early or overlaps) refused before anything is
// allocated, leaving an empty table; a damaged table record in a document refused;
// cell positions compared; and the dotted resize line.
#include "richtext/edit/RVTableStream.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/filer.h"
#include "richtext/model/RVStyle.h"

namespace pelvar {
namespace {

struct Doc {
  TRVStyle style{nullptr};
  TRVEditRVData data;
  Doc() {
    data.SetRVStyle(&style);
    while (style.TextStyles()->Count() < 2) style.TextStyles()->Add();
  }
};

std::string Grid(TRVTableItemInfo* t) {
  std::string out;
  for (int32_t r = 0; r < t->RowCount(); ++r) {
    if (r) out += ";";
    for (int32_t c = 0; c < t->ColCount(); ++c) {
      if (c) out += ",";
      TRVTableCellData* cell = t->GetCells(r, c);
      if (!cell) {
        out += "-";
        continue;
      }
      for (int32_t i = 0; i < cell->ItemCount(); ++i) out += (i ? "/" : "") + cell->GetItemTextRaw(i);
      if (cell->RowSpan > 1 || cell->ColSpan > 1)
        out += "[" + std::to_string(cell->RowSpan) + "x" + std::to_string(cell->ColSpan) + "]";
    }
  }
  return out;
}

void SetCell(TRVTableItemInfo* t, int32_t r, int32_t c, const std::string& text, int32_t style_no = 0) {
  TRVTableCellData* cell = t->GetCells(r, c);
  cell->Clear();
  cell->AddTextItem(text, style_no, 0);
}

std::string Bytes(TMemoryStream& m) {
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

size_t Occurrences(const std::string& hay, const std::string& needle) {
  size_t n = 0;
  for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

TEST(RVTableStream, TableRoundTripsThroughTheStreamingComponent) {
  Doc a;
  auto* t = new TRVTableItemInfo(&a.data, 3, 3);
  a.data.AddItem("", t);
  SetCell(t, 0, 0, "A", 1);
  SetCell(t, 1, 2, "B");
  t->MergeCells(0, 0, 1, 2);  // A over rows 0 and 1
  t->MergeCells(2, 1, 2, 1);  // an empty cell over columns 1 and 2
  TRVTableCellData* b = t->GetCells(1, 2);
  b->Color = 0x00AA00;
  b->BestWidth = -30;
  b->BestHeight = 40;
  b->VAlign = rvcBottom;
  b->VisibleBorders[1] = false;
  b->Hint = "nápověda";
  t->Row(1).VAlign = rvcMiddle;
  t->Row(2).PageBreakBefore = true;
  t->BorderWidth = 2;
  t->CellPadding = 3;
  t->HeadingRowCount = 1;

  TMemoryStream m;
  RVWriteTableToStream(m, t);
  const std::string bytes = Bytes(m);
  EXPECT_EQ(Occurrences(bytes, std::string("\x02TD", 3)), 7u);  // one record per stored cell
  EXPECT_NE(bytes.find("RowVAlign"), std::string::npos);
  EXPECT_NE(bytes.find("RowPageBreakBefore"), std::string::npos);

  Doc d;
  TRVTableItemInfo u(&d.data, 0, 0);
  m.SetPosition(0);
  RVReadTableFromStream(m, &u);
  EXPECT_EQ(Grid(&u), Grid(t));
  EXPECT_EQ(Grid(&u), "A[2x1],,;-,,B;,[1x2],-");
  EXPECT_TRUE(u.Rows().IsValid());
  EXPECT_EQ(u.GetCells(0, 0)->GetItemStyle(0), 1);
  TRVTableCellData* ub = u.GetCells(1, 2);
  EXPECT_EQ(ub->Color, 0x00AA00);
  EXPECT_EQ(ub->BestWidth, -30);
  EXPECT_EQ(ub->BestHeight, 40);
  EXPECT_EQ(ub->VAlign, rvcBottom);
  EXPECT_FALSE(ub->VisibleBorders[1]);
  EXPECT_TRUE(ub->VisibleBorders[0]);
  EXPECT_EQ(ub->Hint, "nápověda");
  EXPECT_EQ(u.Row(1).VAlign, rvcMiddle);
  EXPECT_TRUE(u.Row(2).PageBreakBefore);
  EXPECT_FALSE(u.Row(1).PageBreakBefore);
  EXPECT_EQ(u.BorderWidth, 2);
  EXPECT_EQ(u.CellPadding, 3);
  EXPECT_EQ(u.HeadingRowCount, 1);
  // Empty cells keep their one empty paragraph and write no "Data".
  EXPECT_EQ(u.GetCells(0, 1)->ItemCount(), 1);
  EXPECT_EQ(Occurrences(bytes, "Data"), 2u);
}

TEST(RVTableStream, RangesHeadingRowsAndEmptyTables) {
  Doc a;
  TRVTableItemInfo t(&a.data, 5, 2);
  const TRVCellVAlign aligns[] = {rvcBottom, rvcTop, rvcMiddle, rvcVDefault, rvcMiddle};
  for (int32_t r = 0; r < 5; ++r) {
    SetCell(&t, r, 0, "r" + std::to_string(r));
    t.Row(r).VAlign = aligns[r];
    t.Row(r).PageBreakBefore = r == 3;
  }
  t.HeadingRowCount = 1;
  TRVTableStreamSaveInfo info(&t);
  EXPECT_EQ(info.RowCount, 5);
  EXPECT_EQ(info.ColCount, 2);
  info.StartRow = 2;
  info.RowCount = 2;
  info.SaveHeadingRows = true;
  TMemoryStream m;
  RVWriteTableToStream(m, &t, &info);
  TRVTableItemInfo u(&a.data, 0, 0);
  m.SetPosition(0);
  RVReadTableFromStream(m, &u);
  EXPECT_EQ(Grid(&u), "r0,;r2,;r3,");
  EXPECT_EQ(u.Row(0).VAlign, rvcBottom);
  EXPECT_EQ(u.Row(1).VAlign, rvcMiddle);
  EXPECT_EQ(u.Row(2).VAlign, rvcVDefault);
  EXPECT_TRUE(u.Row(2).PageBreakBefore);
  EXPECT_FALSE(u.Row(0).PageBreakBefore);

  // Rows with nothing to say leave both row lists out.
  TRVTableItemInfo plain(&a.data, 2, 2);
  TMemoryStream p;
  RVWriteTableToStream(p, &plain);
  EXPECT_EQ(Bytes(p).find("RowVAlign"), std::string::npos);
  EXPECT_EQ(Bytes(p).find("RowPageBreakBefore"), std::string::npos);

  // A table without rows: no columns in its range, and it reads back without rows.
  TRVTableItemInfo none(&a.data, 0, 0);
  EXPECT_EQ(TRVTableStreamSaveInfo(&none).ColCount, 0);
  TMemoryStream e;
  RVWriteTableToStream(e, &none);
  e.SetPosition(0);
  RVReadTableFromStream(e, &u);
  EXPECT_EQ(u.RowCount(), 0);
}

// A hand-made stream of the streaming component holding a cell list.
class CellListStream {
 public:
  CellListStream(int32_t rows, int32_t cols) : w_(m_) {
    w_.WriteSignature();
    w_.WriteStr("TRVTableSW");
    w_.WriteStr("");
    w_.WriteStr("C");
    w_.WriteInteger(rows);
    w_.WriteInteger(cols);
    w_.WriteListBegin();
  }
  // One cell record with its spans and an empty cell component.
  void Cell(int32_t col_span, int32_t row_span) {
    w_.WriteInteger(col_span);
    w_.WriteInteger(row_span);
    TD td(nullptr);
    w_.WriteComponent(&td);
  }
  TMemoryStream& Finish() {
    w_.WriteListEnd();  // the cells
    w_.WriteListEnd();  // the properties
    w_.WriteListEnd();  // the children
    m_.SetPosition(0);
    return m_;
  }

 private:
  TMemoryStream m_;
  TWriter w_;
};

TEST(RVTableStream, DamagedCellListsAreRefusedBeforeAllocating) {
  struct {
    const char* name;
    int32_t rows, cols;
    std::vector<std::pair<int32_t, int32_t>> cells;  // column span, row span
    const char* message;
  } cases[] = {
      {"a size no table has", 1 << 30, 1 << 30, {}, "Table too large"},
      {"a size just over the limit", 1025, 1024, {{1, 1}}, "Table too large"},
      {"negative rows", -2, 3, {}, "Invalid table size"},
      {"negative columns", 2, -3, {}, "Invalid table size"},
      {"a list that ends early", 1000, 1000, {{1, 1}}, "Wrong end of cells list"},
      {"a list that goes on", 1, 1, {{1, 1}, {1, 1}}, "Wrong end of cells list"},
      {"overlapping cells", 2, 2, {{1, 1}, {1, 2}, {2, 1}}, "Overlapping cells"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CellListStream s(c.rows, c.cols);
    for (auto [cs, rs] : c.cells) s.Cell(cs, rs);
    Doc d;
    TRVTableItemInfo t(&d.data, 2, 2);
    try {
      RVReadTableFromStream(s.Finish(), &t);
      ADD_FAILURE() << "read";
    } catch (const Exception& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    EXPECT_EQ(t.RowCount(), 0);
    EXPECT_TRUE(t.Rows().IsValid());
  }
  // A span below 1 beside a span above 1 is the merge's parameter error.
  CellListStream s(2, 2);
  s.Cell(0, 2);
  Doc d;
  TRVTableItemInfo t(&d.data, 0, 0);
  EXPECT_THROW(RVReadTableFromStream(s.Finish(), &t), EDocViewError);
  // Spans reaching past the grid are cut to it.
  CellListStream big(2, 2);
  big.Cell(5, 5);
  RVReadTableFromStream(big.Finish(), &t);
  EXPECT_EQ(Grid(&t), "[2x2],-;-,-");
}

TEST(RVTableStream, DamagedDocumentRecordIsRefused) {
  Doc a;
  auto* t = new TRVTableItemInfo(&a.data, 1, 1);
  SetCell(t, 0, 0, "x");
  a.data.AddItem("", t);
  TMemoryStream m;
  ASSERT_TRUE(a.data.SaveRVFToStream(m, false, nullptr, nullptr, clNone));
  const std::string good = Bytes(m);
  // The record's last line is the table's component stream as hex text.
  const size_t at = good.find("\r\n1\r\n");
  ASSERT_NE(at, std::string::npos) << good;
  const size_t data = at + 5, end = good.find("\r\n", data);
  struct {
    const char* name;
    std::string hex;
    bool ok;
  } cases[] = {{"intact", good.substr(data, end - data), true},
               {"not hex", "ZZ", false},
               {"cut short", good.substr(data, (end - data) / 2), false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string s = good;
    s.replace(data, end - data, c.hex);
    TStringStream in(s);
    Doc b;
    TColor color = clNone;
    EXPECT_EQ(b.data.LoadRVFFromStream(in, color, nullptr, nullptr), c.ok);
    if (c.ok) {
      auto* u = dynamic_cast<TRVTableItemInfo*>(b.data.GetItem(0));
      ASSERT_NE(u, nullptr);
      EXPECT_EQ(Grid(u), "x");
    }
  }
}

TEST(RVTableStream, CellPositionsCompareRowsFirst) {
  TRVTableStoreSubRVData a(1, 5), b(2, 0), c(2, 3), e(2, 1);
  EXPECT_LT(a.Compare(&b), 0);
  EXPECT_GT(c.Compare(&e), 0);
  EXPECT_EQ(c.Compare(c.Duplicate().get()), 0);
}

TEST(RVTableStream, DottedLinesDrawWholeGroups) {
  TRecordingCanvas canvas;
  DrawDottedVLine(canvas, 7, 0, 10);
  std::vector<int32_t> starts;
  for (const TCanvasCall& call : canvas.Calls("MoveTo")) {
    EXPECT_EQ(call.Args[0], 7);
    starts.push_back(call.Args[1]);
  }
  EXPECT_EQ(starts, (std::vector<int32_t>{0, 2, 4, 8, 10, 12}));
  EXPECT_EQ(canvas.Calls("LineTo").size(), 6u);
  canvas.ClearLog();
  DrawDottedHLine(canvas, 3, 4, 9);
  ASSERT_EQ(canvas.Calls("LineTo").size(), 3u);
  EXPECT_EQ(canvas.Calls("LineTo")[2].Args, (std::vector<int32_t>{8, 9}));
}

TEST(RVTableStream, TemporalEditorAnswersTheMainDocument) {
  Doc main;
  TRVTableTemporalEditorData temp(&main.data);
  EXPECT_EQ(temp.GetAbsoluteRootData(), &main.data);
  EXPECT_EQ(temp.GetAbsoluteParentData(), &main.data);
  EXPECT_EQ(temp.GetRVStyle(), &main.style);
  EXPECT_EQ(temp.UndoList->Document, &main.data);
  EXPECT_EQ(temp.RedoList->Document, &main.data);
}

}  // namespace
}  // namespace pelvar
