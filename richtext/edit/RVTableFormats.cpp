// The table's own forms in the document formats: the native-format record (the header line, the
// name, extra properties, "1", then the table's component stream as hex text or a binary block),
// RTF rows with nesting, HTML with or without CSS, and plain text.
#include <algorithm>
#include <cmath>

#include "platform/sysutils.h"
#include "richtext/edit/RVTableLayout.h"
#include "richtext/edit/RVTableStream.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

bool TableRTFAutofit = false;

namespace {
// Areas of the owner's extra RTF code for rows and cells.
constexpr int32_t rv_rtfs_RowProps = 3;
constexpr int32_t rv_rtfs_CellProps = 4;
const char* const TableHTMLVAlignNames[] = {"top", "middle", "bottom", ""};

// Halves to the even neighbour, the product taken in floating point.
int32_t RoundEven(double v) { return static_cast<int32_t>(std::nearbyint(v)); }
}  // namespace

// ---- Native format
// ---------------------------------------------------------------------------

void TRVTableItemInfo::WriteRVFRecord(TStream& stream, TCustomRVData* rvdata, int32_t para_no, const AnsiString& name,
                                      TRVTableStreamSaveInfo* range) {
  const bool binary = rvdata && rvdata->GetRVFOptions().Contains(rvfoSaveBinary);
  const bool tags_str = rvdata && rvdata->GetOptions().Contains(rvoTagsArePChars);
  // Tables always write their own paragraph style and options (no continuation).
  RVFWriteItemHeader(stream, StyleNo, GetRVFExtraPropertyCount() + 3, RVFSaveParaNo(para_no, rvdata, false),
                     ItemOptions.ToBits() & 0x0F, binary ? 2 : 0, RVFSaveTag(tags_str, Tag), "");
  RVFWriteLine(stream, name);
  SaveRVFExtraProperties(stream);
  RVFWriteLine(stream, "1");
  TMemoryStream m;
  RVWriteTableToStream(m, this, range);
  if (binary) {
    const int32_t size = static_cast<int32_t>(m.Size());
    stream.WriteBuffer(&size, 4);
    if (size) stream.WriteBuffer(m.Memory(), size);
  } else {
    RVFWriteLine(stream, RVFStreamToHex(m));
  }
}

void TRVTableItemInfo::SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t, int32_t para_no, const AnsiString& name,
                               int32_t, bool) {
  WriteRVFRecord(stream, rvdata, para_no, name, nullptr);
}

void TRVTableItemInfo::SaveRVFSelection(TStream& stream, TCustomRVData* rvdata, int32_t, int32_t para_no) {
  TRVTableStreamSaveInfo range(this);
  range.SelectionOnly = true;
  int32_t top = 0, left = 0, cols = 0, rows = 0;
  if (GetCellSelectionRectFull(false, top, left, cols, rows)) {
    range.StartRow = top;
    range.StartCol = left;
    range.RowCount = rows;
    range.ColCount = cols;
  }
  WriteRVFRecord(stream, rvdata, para_no, "", &range);
}

void TRVTableItemInfo::SaveRVFPart(TStream& stream, TCustomRVData* rvdata, int32_t para_no, const AnsiString& name,
                                   const TRVTablePrintPart& part) {
  TRVTableStreamSaveInfo range(this);
  range.SaveHeadingRows = true;
  range.StartRow = part.StartRow;
  range.RowCount = part.RowCount;
  WriteRVFRecord(stream, rvdata, para_no, name, &range);
}

bool TRVTableItemInfo::ReadRVFHeaderTail(const char*&, TCustomRVData*) { return true; }

bool TRVTableItemInfo::ReadRVFLine(const AnsiString& s, TCustomRVData*, int32_t& read_state, bool& next_binary,
                                   AnsiString& name, int32_t line_no, int32_t line_count, int32_t read_mode) {
  if (line_no == 0) {
    name = s;
    return true;
  }
  if (line_no == line_count - 1) {
    read_state = 2;
    TMemoryStream m;
    if (read_mode == 2) {
      RVFWrite(m, s);
    } else if (!RVFHexToStream(s, m)) {
      return false;
    }
    m.SetPosition(0);
    try {
      RVReadTableFromStream(m, this);
    } catch (const std::exception&) {
      return false;
    }
    return true;
  }
  if (line_no == line_count - 2) {
    if (read_mode == 2) next_binary = true;
    return true;
  }
  ReadRVFExtraProperty(s);
  return true;
}

// ---- RTF
// -------------------------------------------------------------------------------------

void TRVTableItemInfo::FillRTFTables(TRVColorList& list, TCustomRVData*) {
  list.AddUnique(Color);
  auto styled = [&](TRVTableBorderStyle style, TColor color, TColor light) {
    switch (style) {
      case rvtbRaised:
      case rvtbLowered:
        list.AddUnique(clBtnHighlight);
        list.AddUnique(clBtnShadow);
        list.AddUnique(clBtnFace);
        break;
      case rvtbColor:
        list.AddUnique(color);
        break;
      default:
        list.AddUnique(color);
        list.AddUnique(light);
        break;
    }
  };
  styled(BorderStyle, BorderColor, BorderLightColor);
  styled(CellBorderStyle, CellBorderColor, CellBorderLightColor);
  if (VRuleWidth > 0) list.AddUnique(VRuleColor);
  if (HRuleWidth > 0) list.AddUnique(HRuleColor);
  ForEachCell([&](TRVTableCellData* cell) {
    list.AddUnique(cell->Color);
    list.AddUnique(cell->BorderColor);
    list.AddUnique(cell->BorderLightColor);
    for (int32_t i = 0; i < cell->ItemCount(); ++i) cell->GetItem(i)->FillRTFTables(list, cell);
  });
}

void TRVTableItemInfo::SaveRTF(TStream& stream, TCustomRVData* rvdata, int32_t, const AnsiString&, double twips,
                               int32_t level, TRVColorList& color_list) {
  const TRVRTFSaveTables* tables = RVCurrentRTFTables();
  if (!tables) return;
  // 1. A table never laid out is laid out for 600 pixels.
  if (Layout.TableWidth == 0 && !grid_->IsEmpty()) {
    TRecordingCanvas canvas;
    int32_t dx = 0, descent = 0;
    AdjustToDocWidth(600, nullptr, false, &canvas, rvdata, nullptr, dx, descent, true, false);
    // Measured on a stand-in canvas: the next layout on screen starts afresh.
    MarkChanged();
  }
  const double T = twips;
  const int32_t P = CellPadding, CB = CellBorderWidth, HS = CellHSpacing, VS = CellVSpacing;
  const bool nested = level > 0;
  AnsiString align;
  if (TRVStyle* s = rvdata ? rvdata->GetRVStyle() : nullptr) {
    const TRVAlignment a = s->ParaStyles()->Items(ParaNo)->Alignment;
    if (a == rvaRight) align = "\\trqr";
    if (a == rvaCenter) align = "\\trqc";
  }
  auto color_index = [&](TColor c) {
    for (int32_t i = 0; i < color_list.Count(); ++i)
      if (color_list.Items(i) == c) return i;
    return 0;
  };
  auto borders = [&](const char* prefix, TRVTableBorderStyle style, int32_t w, TColor color, TColor light,
                     const bool* visible) {
    AnsiString out;
    if (w <= 0) return out;
    static const char* const kSide[] = {"l", "t", "r", "b"};
    for (int side = 0; side < 4; ++side) {
      if (!visible[side]) continue;
      AnsiString word;
      if (style == rvtbRaised) {
        word = Format("\\brdroutset\\brdrw%d", {RoundEven(w * T)});
      } else if (style == rvtbLowered) {
        word = Format("\\brdrinset\\brdrw%d", {RoundEven(w * T)});
      } else {
        const bool first_pair = side == 0 || side == 1;
        TColor c = color;
        if (style == rvtbRaisedColor) c = first_pair ? light : color;
        if (style == rvtbLoweredColor) c = first_pair ? color : light;
        word = Format("\\brdrs\\brdrw%d\\brdrcf%d", {RoundEven(w * T), color_index(c)});
      }
      out += Format("\\%sbrdr%s%s", {AnsiString(prefix), AnsiString(kSide[side]), word});
    }
    return out;
  };
  const int32_t rows = RowCount(), cols = ColCount();
  for (int32_t r = 0; r < rows; ++r) {
    AnsiString row =
        Format("\\trowd%s\\trgaph%d\\trleft%d\\itap%d", {align, RoundEven((2 * (P + CB) + HS) * T / 2), 0, level + 1});
    if (r < HeadingRowCount) row += "\\trhdr";
    if (const int32_t h = grid_->GetItem(r)->MaxBestHeight(); h > 0) row += Format("\\trrh%d", {RoundEven(h * T)});
    const int32_t pad = RoundEven(P * T);
    row += Format(
        "\\trpaddl%d\\trpaddt%d\\trpaddr%d\\trpaddb%"
        "d\\trpaddfl3\\trpaddft3\\trpaddfr3\\trpaddfb3",
        {pad, pad, pad, pad});
    const int32_t hsp = RoundEven(HS * T / 2);
    row += Format("\\trspdl%d\\trspdr%d\\trspdfl3\\trspdfr3", {hsp, hsp});
    row += Format("\\trspdt%d\\trspdft3", {RoundEven(T * (r == 0 ? BorderVSpacing : VS) / 2)});
    row += Format("\\trspdb%d\\trspdfb3", {RoundEven(T * (r == rows - 1 ? BorderVSpacing : VS) / 2)});
    if (BestWidth > 0)
      row += Format("\\trwWidth%d\\trftsWidth3", {RoundEven((BestWidth + 2 * BorderWidth) * T)});
    else if (BestWidth < 0)
      row += Format("\\trwWidth%d\\trftsWidth2", {-BestWidth * 50});
    else
      row += (TableRTFAutofit || Options.Contains(rvtoRTFAllowAutofit)) ? "\\trftsWidth1\\trautofit1" : "\\trftsWidth1";
    if (!PrintOptions.Contains(rvtoRowsSplit)) row += "\\trkeep\\trkeepfollow";
    row += Format("\\docviewtbw%d", {BestWidth});
    row += borders("tr", BorderStyle, BorderWidth, BorderColor, BorderLightColor, VisibleBorders);
    if (rvdata) {
      AnsiString extra;
      rvdata->DoSaveRTFExtra(rv_rtfs_RowProps, this, r, -1, false, extra);
      row += extra;
    }
    // The positions whose main cell starts in this column.
    std::vector<int32_t> positions;
    for (int32_t c = 0; c < cols; ++c) {
      int32_t mr = 0, mc = 0;
      TRVTableCellData* m = GetMainCell(r, c, mr, mc);
      if (m && mc == c) positions.push_back(c);
    }
    for (int32_t c : positions) {
      int32_t mr = 0, mc = 0;
      TRVTableCellData* m = GetMainCell(r, c, mr, mc);
      TRVTableCellData* stored = GetCells(r, c);
      if (stored && stored->RowSpan > 1) row += "\\clvmgf";
      if (!stored) row += "\\clvmrg";
      if (stored) {
        if (stored->BestWidth < 0)
          row += Format("\\clwWidth%d\\clftsWidth2", {-stored->BestWidth * 50});
        else if (stored->BestWidth == 0)
          row += "\\clftsWidth1";
        else if (Options.Contains(rvtoRTFSaveCellPixelBestWidth))
          row += Format("\\clwWidth%d\\clftsWidth3", {RoundEven(stored->BestWidth * T)});
        else
          row += "\\clwWidth0";
        row += Format("\\docviewcbw%d\\docviewcbh%d", {stored->BestWidth, stored->BestHeight});
      }
      row += borders("cl", CellBorderStyle, CB, m->BorderColor != clNone ? m->BorderColor : CellBorderColor,
                     m->BorderLightColor != clNone ? m->BorderLightColor : CellBorderLightColor, m->VisibleBorders);
      if (const TColor back = GetCellEffectiveColor(m); back != clNone)
        row += Format("\\clcbpat%d", {color_index(back)});
      if (m->EffectiveVAlign() == rvcMiddle) row += "\\clvertalc";
      if (m->EffectiveVAlign() == rvcBottom) row += "\\clvertalb";
      if (rvdata) {
        AnsiString extra;
        rvdata->DoSaveRTFExtra(rv_rtfs_CellProps, this, r, c, false, extra);
        row += extra;
      }
      const int32_t k = mc + m->ColSpan - 1;
      int32_t right = 0;
      if (k < static_cast<int32_t>(Layout.ColumnLefts.size()))
        right =
            RoundEven((Layout.ColumnLefts[static_cast<size_t>(k)] + Layout.ColumnWidths[static_cast<size_t>(k)]) * T +
                      T * HS / 2);
      row += Format("\\cellx%d", {right});
    }
    // A row of the outermost table: its properties, its cells, "row". A nested row as RTF
    // readers expect it: its cells first, each ended by "nestcell", then its properties in
    // the nested-table destination ended by "nestrow" (a reader that skips the destination
    // still reads every cell's text), and an empty paragraph for readers of no nesting.
    const AnsiString pard = Format("\\pard\\intbl\\itap%d", {level + 1});
    RVFWrite(stream, nested ? pard + "{" : "{" + row + pard + "{");
    for (int32_t c : positions) {
      RVFWrite(stream, "{");
      if (TRVTableCellData* cell = GetCells(r, c)) {
        cell->SaveRTFToStream(stream, tables->Path, twips, tables->FontTable, tables->FontNumbers,
                              tables->OverrideCounts, tables->ListIds, tables->ColorList, level + 1, clNone, false);
        // A cell that ends with a table comes back to its own level before it ends.
        if (cell->ItemCount() > 0 && cell->GetItem(cell->ItemCount() - 1)->StyleNo == rvsTable)
          RVFWrite(stream, pard + " ");
      }
      RVFWrite(stream, nested ? "\\nestcell}" : "\\cell}");
    }
    if (nested)
      RVFWrite(stream, "}" + pard + "{\\*\\nesttableprops" + row + "\\nestrow}{\\nonesttables\\par}\r\n");
    else
      RVFWrite(stream, "}" + pard + "\\row}\r\n");
  }
  // The table ended its last paragraph: the writer writes no paragraph end before the next item.
  if (rvdata) rvdata->State |= 0x10000;
}

// ---- HTML
// ------------------------------------------------------------------------------------

namespace {
AnsiString Attr(const char* name, const AnsiString& value, uint32_t save_options) {
  if (value.empty()) return AnsiString();
  return Format(" %s=%s", {AnsiString(name), RV_HTMLQuoteAttrValue(value, save_options)});
}
// The length text of a preferred size: empty for 0, a percentage with "%".
AnsiString LengthText(int32_t v) {
  if (v == 0) return AnsiString();
  return v > 0 ? IntToStr(v) : IntToStr(-v) + "%";
}
// A length attribute: a percentage always in double quotes.
AnsiString LengthAttr(const char* name, int32_t v, uint32_t save_options) {
  if (v >= 0) return Attr(name, LengthText(v), save_options);
  return Format(" %s=\"%s\"", {AnsiString(name), LengthText(v)});
}
void AddCSS(AnsiString& s, const AnsiString& part) {
  if (part.empty()) return;
  if (!s.empty()) s += " ";
  s += part;
}
}  // namespace

AnsiString TRVTableItemInfo::HTMLBackgroundLocation(int32_t item_no, const AnsiString& path,
                                                    const AnsiString& images_prefix, int32_t& image_save_no,
                                                    TColor current_file_color, uint32_t save_options) {
  if (!Background || !Background->HasVisibleImage() || !host_) return AnsiString();
  const TColor colour = Color == clNone ? current_file_color : Color;
  // Save option 0x1000: a picture that has a file name is named relative to the page.
  auto relative = [&]() -> AnsiString {
    if (BackgroundImageFileName.empty() || !(save_options & 0x1000)) return AnsiString();
    if (!path.empty() && BackgroundImageFileName.compare(0, path.size(), path) == 0)
      return BackgroundImageFileName.substr(path.size());
    return BackgroundImageFileName;
  };
  AnsiString location = relative();
  bool do_default = true;
  host_->DoHTMLSaveImage(host_, item_no, path, colour, location, do_default);
  if (do_default) {
    location = relative();
    if (location.empty())
      location = host_->SavePicture(rvsfHTML, images_prefix, path, image_save_no,
                                    (save_options & rvsoOverrideImages) != 0, colour, BackgroundImage());
  }
  if (location.empty()) return location;
  TRVStyle* style = host_->GetRVStyle();
  return RV_GetHTMLPath(location, save_options, style ? style->DefCodePage : 1250);
}

void TRVTableItemInfo::SaveToHTML(TStream& stream, TCustomRVData*, int32_t item_no, const AnsiString&,
                                  const AnsiString& path, const AnsiString& images_prefix, int32_t& image_save_no,
                                  TColor current_file_color, uint32_t save_options, bool use_css) {
  const bool css_mode = use_css || (save_options & rvsoForceNonTextCSS) != 0;
  const bool xhtml = (save_options & rvsoXHTML) != 0;
  const uint32_t cell_options = (save_options | rvsoMiddleOnly) & ~(rvsoFirstOnly | rvsoLastOnly);
  const int32_t P = CellPadding, CB = CellBorderWidth, B = BorderWidth;
  auto html_color = [&](TColor c) { return RV_GetHTMLColor(c, xhtml); };
  auto cell_border_text = [&](const TRVTableCellData* cell) {
    AnsiString s;
    if (!css_mode) return s;
    const TColor color = (cell && cell->BorderColor != clNone) ? cell->BorderColor : CellBorderColor;
    const TColor light = (cell && cell->BorderLightColor != clNone) ? cell->BorderLightColor : CellBorderLightColor;
    if (!((B == CB && CB <= 1) || (CB == 1 && B > 1))) AddCSS(s, Format("border-width : %dpx;", {CB}));
    if (CB > 0) switch (CellBorderStyle) {
        case rvtbRaised:
          AddCSS(s, "border-style: outset;");
          break;
        case rvtbLowered:
          AddCSS(s, "border-style: inset;");
          break;
        case rvtbColor:
          AddCSS(s, Format("border-color: %s; border-style: solid;", {html_color(color)}));
          break;
        case rvtbRaisedColor:
          AddCSS(s, Format("border-color : %s %s %s %s; border-style: solid;",
                           {html_color(light), html_color(color), html_color(color), html_color(light)}));
          break;
        case rvtbLoweredColor:
          if (!(color == BorderColor && light == BorderLightColor &&
                (BorderStyle == rvtbRaisedColor || BorderStyle == rvtbLoweredColor)))
            AddCSS(s, Format("border-color : %s %s %s %s; border-style: solid;",
                             {html_color(color), html_color(light), html_color(light), html_color(color)}));
          break;
      }
    return s;
  };
  const AnsiString default_cell_style = cell_border_text(nullptr);
  const int32_t cell_spacing = RoundEven((CellVSpacing + CellHSpacing) / 2.0);
  AnsiString open = "<table";
  open += LengthAttr("width", BestWidth, save_options);
  if (css_mode && B <= 0 && CB != 0)
    open += " border=" + RV_HTMLIntAttrValue(1, save_options) + " style=\"border-width : 0px\"";
  else
    open += " border=" + RV_HTMLIntAttrValue(B, save_options);
  open += Attr("cellpadding", IntToStr(P), save_options);
  if (!use_css) {
    auto color_attr = [&](const char* name, TColor c) {
      return c == clNone ? AnsiString() : Attr(name, html_color(c), save_options);
    };
    if (BorderStyle == rvtbColor) open += color_attr("bordercolor", BorderColor);
    if (BorderStyle == rvtbRaisedColor)
      open += color_attr("bordercolorlight", BorderLightColor) + color_attr("bordercolordark", BorderColor);
    if (BorderStyle == rvtbLoweredColor)
      open += color_attr("bordercolorlight", BorderColor) + color_attr("bordercolordark", BorderLightColor);
  }
  open += Attr("cellspacing", IntToStr(cell_spacing), save_options);
  const AnsiString back_location =
      HTMLBackgroundLocation(item_no, path, images_prefix, image_save_no, current_file_color, save_options);
  if (!use_css && Color != clNone) open += Attr("bgcolor", html_color(Color), save_options);
  if (!use_css && !back_location.empty()) open += " background=\"" + back_location + "\"";
  if (css_mode) {
    AnsiString style;
    if (B > 0) switch (BorderStyle) {
        case rvtbLowered:
          AddCSS(style, "border-style: inset;");
          break;
        case rvtbColor:
          if (use_css) AddCSS(style, Format("border-color: %s; border-style: solid;", {html_color(BorderColor)}));
          break;
        case rvtbRaisedColor:
          AddCSS(style, Format("border-color: %s %s %s %s; border-style: solid;",
                               {html_color(BorderLightColor), html_color(BorderColor), html_color(BorderColor),
                                html_color(BorderLightColor)}));
          break;
        case rvtbLoweredColor:
          AddCSS(style, Format("border-color: %s %s %s %s; border-style: solid;",
                               {html_color(BorderColor), html_color(BorderLightColor), html_color(BorderLightColor),
                                html_color(BorderColor)}));
          break;
        default:
          break;
      }
    if (BackgroundStyle() == rvbsStretched || BackgroundStyle() == rvbsCentered)
      AddCSS(style, "background-position: center center; background-repeat: no-repeat;");
    if (use_css && !back_location.empty()) AddCSS(style, Format("background-image: url('%s');", {back_location}));
    if (Color != clNone) AddCSS(style, Format("background-color: %s;", {html_color(Color)}));
    if (cell_spacing < 0) AddCSS(style, "border-collapse: collapse;");
    if (B > 0) {
      static const char* const kNone[] = {"border-top: none;", "border-right: none;", "border-bottom: none;",
                                          "border-left: none;"};
      static const int kSide[] = {1, 2, 3, 0};
      for (int i = 0; i < 4; ++i)
        if (!VisibleBorders[kSide[i]]) AddCSS(style, kNone[i]);
    }
    if (!style.empty()) open += " style=\"" + style + "\"";
  }
  RVFWriteLine(stream, open + ">");
  for (int32_t r = 0; r < RowCount(); ++r) {
    RVFWriteLine(
        stream,
        "<tr" + Attr("valign", TableHTMLVAlignNames[static_cast<int>(grid_->GetItem(r)->VAlign)], save_options) + ">");
    for (int32_t c = 0; c < ColCount(); ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell) continue;
      AnsiString td = "<td";
      if (cell->ColSpan != 1) td += Attr("colspan", IntToStr(cell->ColSpan), save_options);
      if (cell->RowSpan != 1) td += Attr("rowspan", IntToStr(cell->RowSpan), save_options);
      if (!(use_css && xhtml)) {
        td += LengthAttr("width", cell->BestWidth, save_options);
        td += LengthAttr("height", cell->BestHeight, save_options);
      }
      if (cell->VAlign != rvcVDefault)
        td += Attr("valign", TableHTMLVAlignNames[static_cast<int>(cell->VAlign)], save_options);
      if (!use_css && cell->Color != clNone && html_color(cell->Color) != html_color(Color))
        td += Attr("bgcolor", html_color(cell->Color), save_options);
      if (css_mode) {
        AnsiString style = (cell->BorderColor == clNone && cell->BorderLightColor == clNone) ? default_cell_style
                                                                                             : cell_border_text(cell);
        if (CB > 0) {
          static const char* const kNone[] = {"border-top: none;", "border-right: none;", "border-bottom: none;",
                                              "border-left: none;"};
          static const int kSide[] = {1, 2, 3, 0};
          for (int i = 0; i < 4; ++i)
            if (!cell->VisibleBorders[kSide[i]]) AddCSS(style, kNone[i]);
        }
        if (cell->Color != Color && cell->Color != clNone)
          AddCSS(style, Format("background-color: %s;", {html_color(cell->Color)}));
        if (use_css && xhtml) {
          if (!LengthText(cell->BestWidth).empty()) AddCSS(style, "width: " + LengthText(cell->BestWidth) + ";");
          if (!LengthText(cell->BestHeight).empty()) AddCSS(style, "height: " + LengthText(cell->BestHeight) + ";");
        }
        if (!style.empty()) td += " style=\"" + style + "\"";
      }
      RVFWrite(stream, td + ">");
      if (!cell->HasContent(true)) {
        RVFWriteLine(stream, "<br" + RV_HTMLEmptyTagEnd(save_options) + ">");
      } else {
        TColor cur = GetCellEffectiveColor(cell);
        if (use_css)
          cell->SaveHTMLToStreamEx(stream, path, "", images_prefix, "", "", "", cell_options, clNone, cur,
                                   image_save_no, 0, 0, 0, 0, nullptr);
        else
          cell->SaveHTMLToStream(stream, path, "", images_prefix, cell_options, clNone, image_save_no, 0, 0, 0, 0,
                                 nullptr);
      }
      RVFWriteLine(stream, "</td>");
    }
    RVFWriteLine(stream, "</tr>");
  }
  RVFWriteLine(stream, "</table>");
}

// ---- Text
// --------------------------------------------------------------------------------------

AnsiString TRVTableItemInfo::AsText(int32_t line_width, TCustomRVData* rvdata, const AnsiString&,
                                    const AnsiString& path, bool text_only, bool unicode) {
  AnsiString row_sep = TextRowSeparator, col_sep = TextColSeparator;
  if (unicode) {
    TRVStyle* s = rvdata ? rvdata->GetRVStyle() : nullptr;
    const uint32_t cp = s ? s->DefCodePage : 1250;
    row_sep = RVU_AnsiToUnicode(cp, row_sep);
    col_sep = RVU_AnsiToUnicode(cp, col_sep);
  }
  TMemoryStream m;
  for (int32_t r = 0; r < RowCount(); ++r) {
    for (int32_t c = 0; c < ColCount(); ++c) {
      if (TRVTableCellData* cell = GetCells(r, c))
        cell->SaveTextToStream(path, m, line_width, false, text_only, unicode, false);
      if (c < ColCount() - 1) RVFWrite(m, col_sep);
    }
    RVFWrite(m, row_sep);
  }
  return AnsiString(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

}  // namespace pelvar
