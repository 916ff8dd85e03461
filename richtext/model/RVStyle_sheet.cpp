// The style sheet component, its CSS style sheet, and the published properties through
// which the component streaming writes and reads every style class.
#include <array>

#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "richtext/model/RVStyle.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

uint8_t ShownSpecialCharacters = 0x0F;

void RV_StreamWrite(TStream& stream, const AnsiString& s) {
  if (!s.empty()) stream.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
}

void RV_StreamWriteLine(TStream& stream, const AnsiString& s) { RV_StreamWrite(stream, s + "\r\n"); }

void RV_StreamWriteDecl(TStream& stream, const AnsiString& s, bool multiline) {
  RV_StreamWrite(stream, multiline ? s + "\r\n" : s);
}

// ---- Published properties of the style classes ------------------------------------------------
namespace {

const std::vector<AnsiString> kBiDiNames = {"rvbdUnspecified", "rvbdLeftToRight", "rvbdRightToLeft"};
const std::vector<AnsiString> kFontStyleNames = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};
const std::vector<AnsiString> kFontStyleExNames = {"rvfsOverline", "rvfsAllCaps"};
const std::vector<AnsiString> kProtectNames = {
    "rvprStyleProtect",     "rvprStyleSplitProtect", "rvprModifyProtect",    "rvprDeleteProtect",
    "rvprConcateProtect",   "rvprRVFInsertProtect",  "rvprDoNotAutoSwitch",  "rvprParaStartProtect",
    "rvprSticking",         "rvprStickToTop",        "rvprStickToBottom"};
const std::vector<AnsiString> kTextOptionNames = {"rvteoHTMLCode", "rvteoRTFCode"};
const std::vector<AnsiString> kFontPropNames = {
    "rvfiFontName",  "rvfiSize",         "rvfiCharset",       "rvfiUnicode",       "rvfiBold",
    "rvfiItalic",    "rvfiUnderline",    "rvfiStrikeout",     "rvfiOverline",      "rvfiAllCaps",
    "rvfiVShift",    "rvfiColor",        "rvfiBackColor",     "rvfiJump",          "rvfiHoverBackColor",
    "rvfiHoverColor", "rvfiJumpCursor",  "rvfiNextStyleNo",   "rvfiProtection",    "rvfiCharScale",
    "rvfiBaseStyleNo", "rvfiBiDiMode",   "rvfiCharSpacing",   "rvfiHTMLCode",      "rvfiRTFCode",
    "rvfiCustom"};
const std::vector<AnsiString> kParaPropNames = {
    "rvpiFirstIndent",          "rvpiLeftIndent",        "rvpiRightIndent",         "rvpiSpaceBefore",
    "rvpiSpaceAfter",           "rvpiAlignment",         "rvpiNextParaNo",          "rvpiDefStyleNo",
    "rvpiLineSpacing",          "rvpiLineSpacingType",   "rvpiBackground_Color",    "rvpiBackground_BO_Left",
    "rvpiBackground_BO_Top",    "rvpiBackground_BO_Right", "rvpiBackground_BO_Bottom", "rvpiBorder_Color",
    "rvpiBorder_Style",         "rvpiBorder_Width",      "rvpiBorder_InternalWidth", "rvpiBorder_BO_Left",
    "rvpiBorder_BO_Top",        "rvpiBorder_BO_Right",   "rvpiBorder_BO_Bottom",    "rvpiBorder_Vis_Left",
    "rvpiBorder_Vis_Top",       "rvpiBorder_Vis_Right",  "rvpiBorder_Vis_Bottom",   "rvpiNoWrap",
    "rvpiReadOnly",             "rvpiStyleProtect",      "rvpiDoNotWantReturns",    "rvpiKeepLinesTogether",
    "rvpiKeepWithNext",         "rvpiTabs",              "rvpiBiDiMode",            "rvpiCustom"};
const std::vector<AnsiString> kAlignNames = {"rvaLeft", "rvaRight", "rvaCenter", "rvaJustify"};
const std::vector<AnsiString> kLineSpacingNames = {"rvlsPercent", "rvlsSpaceBetween"};
const std::vector<AnsiString> kParaOptionNames = {"rvpaoNoWrap",           "rvpaoReadOnly",
                                                  "rvpaoStyleProtect",     "rvpaoDoNotWantReturns",
                                                  "rvpaoKeepLinesTogether", "rvpaoKeepWithNext"};
const std::vector<AnsiString> kBorderStyleNames = {"rvbNone",       "rvbSingle",        "rvbDouble",
                                                   "rvbTriple",     "rvbThickInside",   "rvbThickOutside"};
const std::vector<AnsiString> kTabAlignNames = {"rvtaLeft", "rvtaRight", "rvtaCenter"};
const std::vector<AnsiString> kSelModeNames = {"rvsmChar", "rvsmWord", "rvsmParagraph"};
const std::vector<AnsiString> kSelStyleNames = {"rvssItems", "rvssLines"};

// A set held in a TRVSet field.
template <typename S>
void PublishSet(TPublishedProperties& props, const AnsiString& name, S& field, std::vector<AnsiString> names) {
  TPublishedProperty p;
  p.Name = name;
  p.Kind = TPropKind::Set;
  S* f = &field;
  p.GetOrd = [f] { return static_cast<int64_t>(f->ToBits()); };
  p.SetOrd = [f](int64_t v) { *f = S::FromBits(static_cast<decltype(f->ToBits())>(v)); };
  p.OrdDefault = 0;
  p.Names = std::move(names);
  props.Add(std::move(p));
}

std::vector<AnsiString> Slice(const std::vector<AnsiString>& v, size_t from, size_t to) {
  return std::vector<AnsiString>(v.begin() + static_cast<ptrdiff_t>(from), v.begin() + static_cast<ptrdiff_t>(to));
}

}  // namespace

void TCustomRVInfo::DefinePublished(TPublishedProperties& props) {
  props.Integer("BaseStyleNo", BaseStyleNo, -1);
  TPublishedProperty name;
  name.Name = "StyleName";
  name.Kind = TPropKind::String;
  name.GetStr = [this] { return StyleName; };
  name.SetStr = [this](const AnsiString& v) { StyleName = v; };
  name.HasDefault = false;
  props.Add(std::move(name));
  props.Boolean("Standard", Standard, true);
  props.Integer("StyleTemplateId", StyleTemplateId, -1);
}

void TCustomRVFontInfo::DefinePublished(TPublishedProperties& props) {
  TCustomRVInfo::DefinePublished(props);
  props.Integer("Charset", Charset, DEFAULT_CHARSET);
  TPublishedProperty font;
  font.Name = "FontName";
  font.Kind = TPropKind::String;
  font.GetStr = [this] { return FontName; };
  font.SetStr = [this](const AnsiString& v) { FontName = v; };
  font.HasDefault = false;
  props.Add(std::move(font));
  props.Integer("Size", Size, 10);
  TPublishedProperty style;
  style.Name = "Style";
  style.Kind = TPropKind::Set;
  style.GetOrd = [this] { return static_cast<int64_t>(Style.Bits()); };
  style.SetOrd = [this](int64_t v) { Style = TFontStyles::FromBits(static_cast<uint8_t>(v)); };
  style.Names = kFontStyleNames;
  props.Add(std::move(style));
  props.Integer("VShift", VShift, 0);
  props.Integer("Color", Color, clWindowText);
  props.Integer("BackColor", BackColor, clNone);
  props.Integer("HoverBackColor", HoverBackColor, clNone);
  props.Integer("HoverColor", HoverColor, clNone);
  PublishSet(props, "StyleEx", StyleEx, kFontStyleExNames);
  props.Boolean("Jump", Jump, false);
  props.Integer("JumpCursor", JumpCursor, crJump);
  props.Integer("CharScale", CharScale, 100);
  props.Integer("CharSpacing", CharSpacing, 0);
  props.Enum("BiDiMode", BiDiMode, rvbdUnspecified, kBiDiNames);
  PublishSet(props, "Protection", Protection, kProtectNames);
  PublishSet(props, "Options", Options, kTextOptionNames);
}

void TCustomRVFontInfo::DefineProperties(TFiler* filer) {
  // The older "SingleSymbols" is read and never written.
  filer->DefineProperty(
      "SingleSymbols",
      [this](TReader& reader) {
        if (reader.ReadBoolean()) Protection.Include(rvprStyleProtect).Include(rvprDoNotAutoSwitch);
      },
      nullptr, false);
}

void TFontInfo::DefinePublished(TPublishedProperties& props) {
  TCustomRVFontInfo::DefinePublished(props);
  props.Integer("NextStyleNo", NextStyleNo, -1);
  props.Boolean("Unicode", Unicode, false);
  PublishSet(props, "ModifiedProperties", ModifiedProperties, kFontPropNames);
}

void TRVRect::DefinePublished(TPublishedProperties& props) {
  props.Integer("Top", Top, 0);
  props.Integer("Left", Left, 0);
  props.Integer("Right", Right, 0);
  props.Integer("Bottom", Bottom, 0);
}

void TRVBooleanRect::DefinePublished(TPublishedProperties& props) {
  props.Boolean("Top", Top, true);
  props.Boolean("Left", Left, true);
  props.Boolean("Right", Right, true);
  props.Boolean("Bottom", Bottom, true);
}

void TRVBorder::DefinePublished(TPublishedProperties& props) {
  props.Integer("Width", Width, 1);
  props.Integer("InternalWidth", InternalWidth, 1);
  props.Integer("Color", Color, clWindowText);
  props.Enum("Style", Style, rvbNone, kBorderStyleNames);
  props.Object("VisibleBorders", &visible_borders_);
  props.Object("BorderOffsets", &border_offsets_);
}

void TRVBackgroundRect::DefinePublished(TPublishedProperties& props) {
  props.Integer("Color", Color, clNone);
  props.Object("BorderOffsets", &border_offsets_);
}

void TRVTabInfo::DefinePublished(TPublishedProperties& props) {
  props.Enum("Align", Align, rvtaLeft, kTabAlignNames);
  TPublishedProperty pos;
  pos.Name = "Position";
  pos.Kind = TPropKind::Integer;
  pos.GetOrd = [this] { return static_cast<int64_t>(position_); };
  pos.SetOrd = [this](int64_t v) { SetPosition(static_cast<int32_t>(v)); };
  props.Add(std::move(pos));
  props.String("Leader", Leader);
}

void TCustomRVParaInfo::DefinePublished(TPublishedProperties& props) {
  TCustomRVInfo::DefinePublished(props);
  props.Integer("FirstIndent", FirstIndent, 0);
  props.Integer("LeftIndent", LeftIndent, 0);
  props.Integer("RightIndent", RightIndent, 0);
  props.Integer("SpaceBefore", SpaceBefore, 0);
  props.Integer("SpaceAfter", SpaceAfter, 0);
  props.Enum("Alignment", Alignment, rvaLeft, kAlignNames);
  props.Object("Border", &border_);
  props.Object("Background", &background_);
  props.Integer("LineSpacing", LineSpacing, 100);
  props.Enum("LineSpacingType", LineSpacingType, rvlsPercent, kLineSpacingNames);
  PublishSet(props, "Options", Options, kParaOptionNames);
  props.Enum("BiDiMode", BiDiMode, rvbdUnspecified, kBiDiNames);
  props.Collection("Tabs", &tabs_);
}

void TParaInfo::DefinePublished(TPublishedProperties& props) {
  TCustomRVParaInfo::DefinePublished(props);
  props.Integer("NextParaNo", NextParaNo, -1);
  props.Integer("DefStyleNo", DefStyleNo, -1);
  PublishSet(props, "ModifiedProperties1", ModifiedProperties1, Slice(kParaPropNames, rvpiFirstIndent, rvpiNoWrap));
  PublishSet(props, "ModifiedProperties2", ModifiedProperties2, Slice(kParaPropNames, rvpiNoWrap, rvpiCustom));
}

// ---- The style sheet ----------------------------------------------------------------------------
TRVStyle::TRVStyle(TComponent* owner)
    : TComponent(owner),
      text_styles_(std::make_unique<TFontInfos>(this)),
      para_styles_(std::make_unique<TParaInfos>(this)) {
  ResetParaStyles();
  ResetTextStyles();
}

TRVStyle::~TRVStyle() = default;

void TRVStyle::SetTextStyles(TFontInfos* value) {
  if (value != text_styles_.get()) text_styles_->Assign(value);
}

void TRVStyle::SetParaStyles(TParaInfos* value) {
  if (value != para_styles_.get()) para_styles_->Assign(value);
}

void TRVStyle::ResetParaStyles() {
  para_styles_->Clear();
  para_styles_->Add()->StyleName = "Paragraph Style";
  TParaInfo* centered = para_styles_->Add();
  centered->StyleName = "Centered";
  centered->Alignment = rvaCenter;
}

void TRVStyle::ResetTextStyles() {
  struct Def {
    const char* name;
    TFontStyles style;
    TColor color;
    bool jump;
  };
  static const Def defs[] = {{"Normal text", {}, clWindowText, false},   {"Heading", {fsBold}, 0xFF0000, false},
                             {"Subheading", {fsBold}, 0x800000, false},  {"Keywords", {fsItalic}, 0x000080, false},
                             {"Jump 1", {fsUnderline}, 0x008000, true},  {"Jump 2", {fsUnderline}, 0x008000, true}};
  text_styles_->Clear();
  for (const Def& d : defs) {
    TFontInfo* f = text_styles_->Add();
    f->StyleName = d.name;
    f->Style = d.style;
    f->Color = d.color;
    if (d.jump) {
      f->Jump = true;
      f->JumpCursor = JumpCursor;
    }
  }
}

void TRVStyle::ApplyStyle(TCanvas& canvas, int32_t style_no, TRVBiDiMode def_bidi_mode, bool can_use_custom_ppi) {
  bool do_default = true;
  if (OnApplyStyle) OnApplyStyle(this, canvas, style_no, do_default);
  if (do_default) text_styles_->Items(style_no)->ApplyToCanvas(canvas, def_bidi_mode, can_use_custom_ppi);
}

void TRVStyle::ApplyStyleColor(TCanvas& canvas, int32_t style_no, TRVTextDrawStates draw_state, bool printing,
                               int32_t color_mode) {
  bool do_default = true;
  if (OnApplyStyleColor) OnApplyStyleColor(this, canvas, style_no, draw_state, do_default);
  if (do_default) text_styles_->Items(style_no)->ApplyColor(canvas, this, draw_state, printing, color_mode);
}

void TRVStyle::DrawStyleText(const AnsiString& s, TCanvas& canvas, int32_t item_no, int32_t offset_in_item,
                             int32_t style_no, TCustomRVData* rvdata, int32_t space_before, int32_t left, int32_t top,
                             int32_t width, int32_t height, TRVTextDrawStates draw_state, bool printing,
                             bool preview_correction, int32_t color_mode, TRVBiDiMode def_bidi_mode) {
  bool do_default = true;
  if (OnDrawStyleText) {
    DrawingItemNo = item_no;
    DrawingOffset = offset_in_item;
    DrawingRVData = rvdata;
    OnDrawStyleText(this, s, canvas, style_no, space_before, left, top, width, height, draw_state, do_default);
  }
  if (do_default)
    text_styles_->Items(style_no)->Draw(s, canvas, style_no, space_before, left, top, width, height, this, draw_state,
                                        printing, preview_correction, color_mode, def_bidi_mode);
}

void TRVStyle::DrawTextBack(TCanvas& canvas, int32_t item_no, int32_t style_no, TCustomRVData* rvdata, int32_t left,
                            int32_t top, int32_t width, int32_t height, TRVTextDrawStates draw_state) {
  if (!OnDrawTextBack) return;
  DrawingItemNo = item_no;
  DrawingRVData = rvdata;
  bool do_default = true;
  OnDrawTextBack(this, canvas, style_no, left, top, width, height, draw_state, do_default);
}

bool TRVStyle::IsStyleHoverSensitive(int32_t style_no) {
  TFontInfo* f = text_styles_->Items(style_no);
  bool sensitive = !(GetHoverColor(f->HoverColor) == clNone && f->HoverBackColor == f->BackColor);
  if (OnStyleHoverSensitive) OnStyleHoverSensitive(this, style_no, sensitive);
  return sensitive;
}

void TRVStyle::DrawCheckpoint(TCanvas& canvas, int32_t x, int32_t y, int32_t left, int32_t width,
                              TCustomRVData* rvdata, int32_t item_no, int32_t x_shift, bool raise_event,
                              TObject* control) {
  bool do_default = true;
  if (OnDrawCheckpoint) {
    DrawingRVData = rvdata;
    DrawingItemNo = item_no;
    OnDrawCheckpoint(this, canvas, x, y, item_no, x_shift, raise_event, control, do_default);
  }
  if (do_default) {
    canvas.Pen().Width = 1;
    canvas.Pen().Color = raise_event ? CheckpointEvColor : CheckpointColor;
    canvas.Brush().SetStyle(bsClear);
    if (item_no != -1) {
      canvas.Pen().Style = psSolid;
      canvas.Ellipse(x - 2, y - 2, x + 2, y + 2);
    }
    canvas.Pen().Style = psDot;
    canvas.MoveTo(left - x_shift, y);
    canvas.LineTo(left + width - x_shift, y);
  }
  canvas.Pen().Style = psSolid;
  canvas.Brush().SetStyle(bsClear);
}

void TRVStyle::DrawPageBreak(TCanvas& canvas, int32_t y, int32_t x_shift, TRVPageBreakType type, TObject* control,
                             int32_t client_width) {
  bool do_default = true;
  if (OnDrawPageBreak) OnDrawPageBreak(this, canvas, y, x_shift, type, control, do_default);
  if (do_default) {
    canvas.Pen().Color = type == rvpbPageBreak ? PageBreakColor : SoftPageBreakColor;
    canvas.Pen().Width = 1;
    canvas.Pen().Style = psSolid;
    int32_t r = client_width - x_shift;
    canvas.Brush().SetColor(clWindow);
    canvas.Brush().SetStyle(bsSolid);
    canvas.MoveTo(-x_shift, y);
    canvas.LineTo(r - 8, y);
    canvas.Polygon({{r - 8, y}, {r, y + 8}, {r - 8, y + 8}});
  }
  canvas.Pen().Style = psSolid;
  canvas.Brush().SetStyle(bsClear);
}

void TRVStyle::DrawParaBack(TCanvas& canvas, int32_t para_no, TRect& rect, bool /*printing*/, int32_t color_mode) {
  bool do_default = true;
  if (OnDrawParaBack) OnDrawParaBack(this, canvas, para_no, rect, do_default);
  if (do_default) para_styles_->Items(para_no)->Background().Draw(rect, canvas, color_mode);
}

void TRVStyle::GetNextTab(int32_t para_no, int32_t x, const TRVScreenAndDevice& sd, int32_t& position,
                          AnsiString& leader, TRVTabAlign& align, TRVBiDiMode bidi, int32_t left_ref,
                          int32_t right_ref) {
  RVGetNextTab(para_styles_->Items(para_no), DefTabWidth, x, sd, position, leader, align, bidi, left_ref, right_ref);
}

void TRVStyle::WriteCSS(TStream& stream, uint32_t options) {
  const bool relative = options & rvcssCSSRelativeToBase;
  const bool no_default = options & rvcssNoDefaultSelectors;
  const bool utf8 = options & rvcssUTF8;
  auto comment = [&](TCustomRVInfo* info) -> AnsiString {
    if (!info->Standard) return AnsiString();
    AnsiString name = utf8 ? RVU_AnsiToUTF8(DefCodePage, info->StyleName) : info->StyleName;
    return " /* " + name + " */";
  };
  TFontInfos& ts = *text_styles_;
  RV_StreamWriteLine(stream, "/* ========== Text Styles ========== */");
  RV_StreamWriteLine(stream, "hr { color: " + RV_GetHTMLColor(ts.Items(0)->Color, false) + "}");
  TFontInfo* s0 = ts.Count() > 0 ? ts.Items(0) : nullptr;
  const bool s0_is_default = s0 && !s0->Jump && s0->BackColor == clNone && !no_default;
  for (int32_t i = 0; i < ts.Count(); ++i) {
    TFontInfo* f = ts.Items(i);
    AnsiString c = comment(f);
    if (i == 0 && s0_is_default)
      RV_StreamWriteLine(stream, "body, table" + c);
    else if (f->Jump)
      RV_StreamWriteLine(stream, Format("a.rvts%d, span.rvts%d", {i, i}) + c);
    else
      RV_StreamWriteLine(stream, Format("span.rvts%d", {i}) + c);
    TFontInfo* base = nullptr;
    if (relative && f->BaseStyleNo >= 0 && f->BaseStyleNo < ts.Count())
      base = ts.Items(f->BaseStyleNo);
    else if (i > 0 && s0_is_default)
      base = s0;
    RV_StreamWriteLine(stream, "{");
    f->WriteCSS(stream, base, true, utf8);
    RV_StreamWriteLine(stream, "}");
    if (f->Jump && (GetHoverColor(f->HoverColor) != clNone || f->HoverBackColor != clNone)) {
      RV_StreamWrite(stream, Format("a.rvts%d:hover {", {i}));
      TColor hover = GetHoverColor(f->HoverColor);
      if (((!base || !base->Jump) && hover != clNone) || (base && GetHoverColor(base->HoverColor) != hover))
        RV_StreamWrite(stream, " color: " + RV_GetCSSColor(hover) + ";");
      if (((!base || !base->Jump) && f->HoverBackColor != clNone) || (base && base->HoverBackColor != f->HoverBackColor))
        RV_StreamWrite(stream, " background-color: " + RV_GetCSSColor(f->HoverBackColor) + ";");
      RV_StreamWriteLine(stream, " }");
    }
  }
  RV_StreamWriteLine(stream, "/* ========== Para Styles ========== */");
  TParaInfos& ps = *para_styles_;
  for (int32_t i = 0; i < ps.Count(); ++i) {
    TParaInfo* p = ps.Items(i);
    AnsiString c = comment(p);
    if (i > 0 || no_default)
      RV_StreamWriteLine(stream, Format(".rvps%d", {i}) + c);
    else
      RV_StreamWriteLine(stream, "p,ul,ol" + c);
    TParaInfo* base = nullptr;
    if (relative && p->BaseStyleNo >= 0 && p->BaseStyleNo < ps.Count())
      base = ps.Items(p->BaseStyleNo);
    else if (i > 0 && !no_default)
      base = ps.Items(0);
    RV_StreamWriteLine(stream, "{");
    p->WriteCSS(stream, base, true, options & rvcssCSSSkipLeftAlignment, false);
    RV_StreamWriteLine(stream, "}");
  }
}

void TRVStyle::DefinePublished(TPublishedProperties& props) {
  props.Collection("TextStyles", text_styles_.get());
  props.Collection("ParaStyles", para_styles_.get());
  props.Integer("SpacesInTab", SpacesInTab, 0);
  props.Integer("DefTabWidth", DefTabWidth, 48);
  props.Integer("JumpCursor", JumpCursor, crJump);
  props.Integer("LineSelectCursor", LineSelectCursor, crRVFlipArrow);
  props.Boolean("FullRedraw", FullRedraw, false);
  props.Boolean("UseSound", UseSound, true);
  props.Integer("Color", Color, clWindow);
  props.Integer("HoverColor", HoverColor, clNone);
  props.Integer("CurrentItemColor", CurrentItemColor, clNone);
  props.Integer("SelColor", SelColor, clHighlight);
  props.Integer("SelTextColor", SelTextColor, clHighlightText);
  props.Integer("InactiveSelColor", InactiveSelColor, clHighlight);
  props.Integer("InactiveSelTextColor", InactiveSelTextColor, clHighlightText);
  props.Integer("CheckpointColor", CheckpointColor, clGreen);
  props.Integer("CheckpointEvColor", CheckpointEvColor, clLime);
  props.Integer("PageBreakColor", PageBreakColor, clBtnShadow);
  props.Integer("SoftPageBreakColor", SoftPageBreakColor, clBtnFace);
  props.Integer("LiveSpellingColor", LiveSpellingColor, clRed);
  props.Integer("DefUnicodeStyle", DefUnicodeStyle, -1);
  props.Integer("DefCodePage", DefCodePage, 0u);
  props.Enum("SelectionMode", SelectionMode, rvsmWord, kSelModeNames);
  props.Enum("SelectionStyle", SelectionStyle, rvssItems, kSelStyleNames);
}

}  // namespace pelvar
