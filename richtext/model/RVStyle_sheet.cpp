// The style sheet component, its CSS style sheet, and the published properties through
// which the component streaming writes and reads every style class.
#include <array>

#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVStyle.h"
#include "richtext/model/RVStyleTemplate.h"
#include "richtext/model/RVStyle_list.h"
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

TGraphic* TRVStyle::InvalidPicture() {
  if (!invalid_picture_) invalid_picture_ = RVMakeBadPicture();
  return invalid_picture_.get();
}

void TRVStyle::SetInvalidPicture(const TGraphic* value) { invalid_picture_ = RVCopyGraphic(value); }

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
  props.Collection("ListStyles", ListStyles());
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
  props.Collection("StyleTemplates", StyleTemplates());
  // The collection's own property, under the collection's name.
  props.String("StyleTemplates.DefStyleName", StyleTemplates()->DefStyleName, "Style %d");
}

void TRVStyle::Loaded() {
  TComponent::Loaded();
  StyleTemplates()->UpdateParentReferences();
}

void TRVStyle::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && list_styles_) list_styles_->RemoveImageList(component);
}

// ---- List styles -----------------------------------------------------------------------------------
namespace {
const std::vector<AnsiString> kListTypeNames = {
    "rvlstBullet",     "rvlstPicture",    "rvlstImageList",  "rvlstDecimal",          "rvlstLowerAlpha",
    "rvlstUpperAlpha", "rvlstLowerRoman", "rvlstUpperRoman", "rvlstImageListCounter", "rvlstUnicodeBullet"};
const std::vector<AnsiString> kMarkerAlignNames = {"rvmaLeft", "rvmaRight", "rvmaCenter"};
const std::vector<AnsiString> kListOptionNames = {"rvloContinuous", "rvloLevelReset", "rvloLegalStyleNumbering"};
const std::vector<AnsiString> kPitchNames = {"fpDefault", "fpVariable", "fpFixed"};

TPublishedProperty OrdProp(const AnsiString& name, TPropKind kind, std::function<int64_t()> get,
                           std::function<void(int64_t)> set, int64_t def) {
  TPublishedProperty p;
  p.Name = name;
  p.Kind = kind;
  p.GetOrd = std::move(get);
  p.SetOrd = std::move(set);
  p.OrdDefault = def;
  return p;
}

// The publishing part of TPublishedProperties without the names given.
void PublishWithout(TPublishedProperties& props, const TPublishedProperties& all,
                    std::initializer_list<const char*> left_out) {
  for (const TPublishedProperty& p : all.List()) {
    bool skip = false;
    for (const char* n : left_out) skip = skip || p.Name == n;
    if (!skip) props.Add(p);
  }
}
}  // namespace

// The marker font of a level as the streaming sees it: written only when the level has a
// font object; reading a font property creates one.
class TRVListLevelFontProps : public TPersistent {
 public:
  explicit TRVListLevelFontProps(TRVListLevel* level) : level_(level) {}
  void DefinePublished(TPublishedProperties& props) override {
    TRVListLevel* l = level_;
    static const TRVMarkerFont def;
    auto font = [l]() -> const TFont& { return l->font_ ? static_cast<const TFont&>(*l->font_) : def; };
    props.Add(OrdProp(
        "Charset", TPropKind::Integer, [font] { return int64_t{font().Charset()}; },
        [l](int64_t v) { l->Font()->SetCharset(static_cast<TFontCharset>(v)); }, DEFAULT_CHARSET));
    props.Add(OrdProp(
        "Color", TPropKind::Integer, [font] { return int64_t{font().Color()}; },
        [l](int64_t v) { l->Font()->SetColor(static_cast<TColor>(v)); }, clWindowText));
    props.Add(OrdProp(
        "Height", TPropKind::Integer, [font] { return int64_t{font().Height()}; },
        [l](int64_t v) { l->Font()->SetHeight(static_cast<int32_t>(v)); }, def.Height()));
    TPublishedProperty name;
    name.Name = "Name";
    name.Kind = TPropKind::String;
    name.GetStr = [font] { return font().Name(); };
    name.SetStr = [l](const AnsiString& v) { l->Font()->SetName(v); };
    name.StrDefault = "Arial";
    props.Add(std::move(name));
    TPublishedProperty pitch = OrdProp(
        "Pitch", TPropKind::Enum, [font] { return int64_t{font().Pitch()}; },
        [l](int64_t v) { l->Font()->SetPitch(static_cast<TFontPitch>(v)); }, fpDefault);
    pitch.Names = kPitchNames;
    props.Add(std::move(pitch));
    TPublishedProperty style = OrdProp(
        "Style", TPropKind::Set, [font] { return int64_t{font().Style().Bits()}; },
        [l](int64_t v) { l->Font()->SetStyle(TFontStyles::FromBits(static_cast<uint8_t>(v))); }, 0);
    style.Names = kFontStyleNames;
    props.Add(std::move(style));
  }

 private:
  TRVListLevel* level_;
};

// The marker picture of a level: "Data" holds the graphic's class name (a short string)
// and the graphic's own bytes.
class TRVListLevelPictureProps : public TPersistent {
 public:
  explicit TRVListLevelPictureProps(TRVListLevel* level) : level_(level) {}

 protected:
  void DefineProperties(TFiler* filer) override {
    TRVListLevel* l = level_;
    filer->DefineBinaryProperty(
        "Data",
        [l](TStream& stream) {
          uint8_t n = 0;
          if (stream.Read(&n, 1) != 1) throw EReadError("Invalid picture data of a list level");
          AnsiString class_name(n, '\0');
          if (n) stream.ReadBuffer(class_name.data(), n);
          std::shared_ptr<TGraphic> g(RVCreateGraphic(class_name));
          if (!g) throw EReadError("Unknown picture class " + class_name + " of a list level");
          TMemoryStream rest;
          const int64_t size = stream.Size() - stream.Position();
          rest.CopyFrom(stream, size);
          rest.SetPosition(0);
          g->LoadFromStream(rest);
          l->picture_ = std::move(g);
        },
        [l](TStream& stream) {
          const AnsiString class_name = RVGraphicClassName(l->picture_.get());
          const uint8_t n = static_cast<uint8_t>(std::min<size_t>(class_name.size(), 255));
          stream.WriteBuffer(&n, 1);
          if (n) stream.WriteBuffer(class_name.data(), n);
          l->picture_->SaveToStream(stream);
        },
        l->picture_ != nullptr);
  }

 private:
  TRVListLevel* level_;
};

void TRVListLevel::DefinePublished(TPublishedProperties& props) {
  if (!font_props_) font_props_ = std::make_unique<TRVListLevelFontProps>(this);
  if (!picture_props_) picture_props_ = std::make_unique<TRVListLevelPictureProps>(this);
  props.Enum("ListType", ListType, rvlstBullet, kListTypeNames);
  props.Integer("StartFrom", StartFrom, 1);
  props.Integer("ImageIndex", ImageIndex, 0);
  props.Integer("LeftIndent", LeftIndent, 0);
  props.Integer("FirstIndent", FirstIndent, 10);
  props.Integer("MarkerIndent", MarkerIndent, 0);
  props.Enum("MarkerAlignment", MarkerAlignment, rvmaLeft, kMarkerAlignNames);
  props.Object("Picture", picture_props_.get());
  props.Object("Font", font_props_.get());
  PublishSet(props, "Options", Options, kListOptionNames);
}

TObject* TRVListLevel::StreamingRVData() const {
  auto* levels = dynamic_cast<TRVListLevelCollection*>(Collection());
  auto* info = levels ? dynamic_cast<TRVListInfo*>(levels->Owner()) : nullptr;
  auto* infos = info ? dynamic_cast<TRVListInfos*>(info->Collection()) : nullptr;
  return infos ? infos->RVData : nullptr;
}

void TRVListLevel::DefineProperties(TFiler* filer) {
  filer->DefineProperty(
      "FormatStringCode", [this](TReader& r) { FormatString = RVFHexToString(r.ReadString()); },
      [this](TWriter& w) { w.WriteString(RVFStringToHex(FormatString)); }, FormatString != AnsiString(1, '\xB7'));
  filer->DefineProperty(
      "FormatStringWCode", [this](TReader& r) { FormatStringW = RVFHexToWideString(r.ReadString()); },
      [this](TWriter& w) { w.WriteString(RVFWideStringToHex(FormatStringW)); }, !FormatStringW.empty());
  if (TObject* rvdata = StreamingRVData()) {
    // A document names image lists by their Tag and asks its owner for them when reading.
    auto* data = dynamic_cast<TCustomRVData*>(rvdata);
    auto* list = dynamic_cast<TComponent*>(ImageList);
    filer->DefineProperty(
        "ILTag", [this, data](TReader& r) { SetImageList(data ? data->DoRVFImageListNeeded(r.ReadInteger()) : nullptr); },
        [list](TWriter& w) { w.WriteInteger(list->Tag()); }, list != nullptr);
    return;
  }
  // Otherwise by the name of the component, found among the components of the root read.
  auto* list = dynamic_cast<TComponent*>(ImageList);
  filer->DefineProperty(
      "ImageList",
      [this](TReader& r) {
        const AnsiString name = r.ReadIdent();
        TComponent* root = r.Root();
        TComponent* found = nullptr;
        if (root) found = SameText(root->Name(), name) ? root : root->FindComponent(name);
        SetImageList(found);
      },
      [list](TWriter& w) { w.WriteIdent(list->Name()); }, list != nullptr && !list->Name().empty());
}

void TRVListInfo::DefinePublished(TPublishedProperties& props) {
  TCustomRVInfo::DefinePublished(props);
  // A list style's name defaults to "List Style" (the base writes every name).
  props.Collection("Levels", &levels_);
  props.Boolean("OneLevelPreview", OneLevelPreview, false);
}

void TRVListInfo::DefineProperties(TFiler* filer) {
  TCustomRVInfo::DefineProperties(filer);
  filer->DefineProperty(
      "LstID", [this](TReader& r) { SetListId(r.ReadInteger()); }, [this](TWriter& w) { w.WriteInteger(GetListId()); },
      !DoNotStoreListIds);
}

// ---- Style templates -------------------------------------------------------------------------------

void TRVSTFontInfo::DefinePublished(TPublishedProperties& props) {
  TPublishedProperties all;
  TCustomRVFontInfo::DefinePublished(all);
  PublishWithout(props, all, {"StyleTemplateId", "StyleName", "Standard", "BaseStyleNo"});
}

void TRVSTParaInfo::DefinePublished(TPublishedProperties& props) {
  TPublishedProperties all;
  TCustomRVParaInfo::DefinePublished(all);
  PublishWithout(props, all, {"StyleTemplateId", "StyleName", "Standard", "BaseStyleNo"});
}

void TRVStyleTemplate::DefinePublished(TPublishedProperties& props) {
  props.Object("TextStyle", &TextStyle);
  props.Object("ParaStyle", &ParaStyle);
  PublishSet(props, "ValidTextProperties", ValidTextProperties, kFontPropNames);
  PublishSet(props, "ValidParaProperties1", ValidParaProperties1, Slice(kParaPropNames, rvpiFirstIndent, rvpiNoWrap));
  PublishSet(props, "ValidParaProperties2", ValidParaProperties2, Slice(kParaPropNames, rvpiNoWrap, rvpiCustom));
  TPublishedProperty name;
  name.Name = "Name";
  name.Kind = TPropKind::String;
  name.GetStr = [this] { return Name(); };
  name.SetStr = [this](const AnsiString& v) { SetName(v); };
  props.Add(std::move(name));
  props.Add(OrdProp(
      "ParentId", TPropKind::Integer, [this] { return int64_t{ParentId()}; },
      [this](int64_t v) { SetParentId(static_cast<TRVStyleTemplateId>(v)); }, -1));
}

void TRVStyleTemplate::DefineProperties(TFiler* filer) {
  filer->DefineProperty(
      "IDProp", [this](TReader& r) { SetIdValue(r.ReadInteger()); }, [this](TWriter& w) { w.WriteInteger(Id()); },
      true);
}

}  // namespace pelvar
