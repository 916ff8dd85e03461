// Styles of the rich-text style sheet: the base of every style, text styles and their
// collections (comparison, closeness, searching, merging, INI and CSS forms), and the
// frame parts of paragraph styles (side rectangles, borders, backgrounds).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/canvas.h"
#include "platform/classes.h"
#include "platform/filer.h"
#include "platform/graphics.h"
#include "platform/inifiles.h"
#include "platform/streams.h"
#include "platform/types.h"
#include "richtext/model/RVClasses.h"
#include "richtext/model/RVFuncs.h"

namespace pelvar {

// ---- Small sets ------------------------------------------------------------------------
// A set of enumeration values of type E kept in Bits (bit n = value Low + n).
template <typename E, typename Bits, unsigned Low = 0>
class TRVSet {
 public:
  constexpr TRVSet() = default;
  constexpr TRVSet(std::initializer_list<E> values) {
    for (E v : values) bits_ |= Bit(v);
  }
  static constexpr TRVSet FromBits(Bits bits) {
    TRVSet r;
    r.bits_ = bits;
    return r;
  }
  constexpr Bits ToBits() const { return bits_; }
  constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TRVSet& Include(E v) {
    bits_ = static_cast<Bits>(bits_ | Bit(v));
    return *this;
  }
  constexpr TRVSet& Exclude(E v) {
    bits_ = static_cast<Bits>(bits_ & ~Bit(v));
    return *this;
  }
  constexpr TRVSet& Set(E v, bool on) { return on ? Include(v) : Exclude(v); }
  constexpr TRVSet operator-(TRVSet o) const { return FromBits(static_cast<Bits>(bits_ & ~o.bits_)); }
  constexpr TRVSet operator+(TRVSet o) const { return FromBits(static_cast<Bits>(bits_ | o.bits_)); }
  constexpr bool operator==(const TRVSet&) const = default;

 private:
  static constexpr Bits Bit(E v) { return static_cast<Bits>(Bits{1} << (static_cast<unsigned>(v) - Low)); }
  Bits bits_ = 0;
};

// ---- Enumerations ------------------------------------------------------------------------
enum TRVBiDiMode : uint8_t { rvbdUnspecified, rvbdLeftToRight, rvbdRightToLeft };

enum TRVProtectOption : uint8_t {
  rvprStyleProtect,
  rvprStyleSplitProtect,
  rvprModifyProtect,
  rvprDeleteProtect,
  rvprConcateProtect,
  rvprRVFInsertProtect,
  rvprDoNotAutoSwitch,
  rvprParaStartProtect,
  rvprSticking,
  rvprStickToTop,
  rvprStickToBottom
};
using TRVProtectOptions = TRVSet<TRVProtectOption, uint16_t>;

enum TRVTextOption : uint8_t { rvteoHTMLCode, rvteoRTFCode };
using TRVTextOptions = TRVSet<TRVTextOption, uint8_t>;

enum TRVFontStyle : uint8_t { rvfsOverline, rvfsAllCaps };
using TRVFontStyles = TRVSet<TRVFontStyle, uint8_t>;

enum TRVFontInfoProperty : uint8_t {
  rvfiFontName,
  rvfiSize,
  rvfiCharset,
  rvfiUnicode,
  rvfiBold,
  rvfiItalic,
  rvfiUnderline,
  rvfiStrikeout,
  rvfiOverline,
  rvfiAllCaps,
  rvfiVShift,
  rvfiColor,
  rvfiBackColor,
  rvfiJump,
  rvfiHoverBackColor,
  rvfiHoverColor,
  rvfiJumpCursor,
  rvfiNextStyleNo,
  rvfiProtection,
  rvfiCharScale,
  rvfiBaseStyleNo,
  rvfiBiDiMode,
  rvfiCharSpacing,
  rvfiHTMLCode,
  rvfiRTFCode,
  rvfiCustom
};
using TRVFontInfoProperties = TRVSet<TRVFontInfoProperty, uint32_t>;
// Every text property.
constexpr TRVFontInfoProperties RVAllFontInfoProperties = TRVFontInfoProperties::FromBits((1u << 26) - 1);

// The paragraph properties, numbered as the property masks and the modified sets store them.
enum TRVParaInfoProperty : uint8_t {
  rvpiFirstIndent,
  rvpiLeftIndent,
  rvpiRightIndent,
  rvpiSpaceBefore,
  rvpiSpaceAfter,
  rvpiAlignment,
  rvpiNextParaNo,
  rvpiDefStyleNo,
  rvpiLineSpacing,
  rvpiLineSpacingType,
  rvpiBackground_Color,
  rvpiBackground_BO_Left,
  rvpiBackground_BO_Top,
  rvpiBackground_BO_Right,
  rvpiBackground_BO_Bottom,
  rvpiBorder_Color,
  rvpiBorder_Style,
  rvpiBorder_Width,
  rvpiBorder_InternalWidth,
  rvpiBorder_BO_Left,
  rvpiBorder_BO_Top,
  rvpiBorder_BO_Right,
  rvpiBorder_BO_Bottom,
  rvpiBorder_Vis_Left,
  rvpiBorder_Vis_Top,
  rvpiBorder_Vis_Right,
  rvpiBorder_Vis_Bottom,
  rvpiNoWrap,
  rvpiReadOnly,
  rvpiStyleProtect,
  rvpiDoNotWantReturns,
  rvpiKeepLinesTogether,
  rvpiKeepWithNext,
  rvpiTabs,
  rvpiBiDiMode,
  rvpiCustom
};
using TRVParaInfoProperties = TRVSet<TRVParaInfoProperty, uint64_t>;
// The two ranges of the modified sets: rvpiFirstIndent..rvpiBorder_Vis_Bottom and
// rvpiNoWrap..rvpiBiDiMode (the second stored from rvpiNoWrap on, in one byte).
using TRVParaInfoProperties1 = TRVSet<TRVParaInfoProperty, uint32_t>;
using TRVParaInfoProperties2 = TRVSet<TRVParaInfoProperty, uint8_t, rvpiNoWrap>;

// Every paragraph property.
constexpr TRVParaInfoProperties RVAllParaInfoProperties =
    TRVParaInfoProperties::FromBits((uint64_t{1} << (rvpiCustom + 1)) - 1);

using TCursor = int16_t;

// Draw states of styled text (bit n = value n).
enum TRVTextDrawState : uint8_t {
  rvtsSelected,
  rvtsHover,
  rvtsItemStart,
  rvtsItemEnd,
  rvtsDrawItemStart,
  rvtsDrawItemEnd,
  rvtsControlFocused,
  rvtsSpecialCharacters
};
using TRVTextDrawStates = TRVSet<TRVTextDrawState, uint8_t>;
// Special characters shown when the draw state asks for them (bit n = kind n; kind 1 spaces,
// kind 2 no-break spaces). Initially all four kinds.
extern uint8_t ShownSpecialCharacters;
constexpr uint8_t rvscSpace = 1;
constexpr uint8_t rvscNBSP = 2;
class TRVStyle;
using TRVStyleTemplateId = int32_t;
constexpr TCursor crJump = 101;

// Program-wide switches (the family never changes them).
extern bool CompareStyleNames;     // equality of styles also needs equal StyleName
extern bool ResetStandardOnMerge;  // styles added by merging lose Standard

// ---- INI helpers shared by every style class ----------------------------------------------
// Key of the property named name: Format(key_format, [name]).
AnsiString RVIniKey(const AnsiString& key_format, const AnsiString& name);
void RVWriteIniInt(TIniFile& ini, const AnsiString& section, const AnsiString& key, int32_t value, int32_t def);
void RVWriteIniBool(TIniFile& ini, const AnsiString& section, const AnsiString& key, bool value, bool def);
bool RVReadIniBool(const TIniFile& ini, const AnsiString& section, const AnsiString& key, bool def);
// A long string in pieces of 500 characters under key_0, key_1, ...
void RVWriteLongString(TIniFile& ini, const AnsiString& section, const AnsiString& key, const AnsiString& value);
AnsiString RVReadLongString(const TIniFile& ini, const AnsiString& section, const AnsiString& key);

// ---- Base of every style ----------------------------------------------------------------
class TCustomRVInfo : public TCollectionItem {
 public:
  explicit TCustomRVInfo(TCollection* collection);

  int32_t BaseStyleNo = -1;
  AnsiString StyleName;
  bool Standard = true;
  TRVStyleTemplateId StyleTemplateId = -1;

  void Assign(TPersistent* source) override;
  AnsiString DisplayName() const override { return StyleName; }

  virtual bool SameProperties(TCustomRVInfo* value, bool ignore_references, bool ignore_list_id);
  virtual bool SameAsMapped(TCustomRVInfo* value, const TRVIntegerList& mapping);
  virtual int32_t Closeness(TCustomRVInfo* value);
  void DefinePublished(TPublishedProperties& props) override;
};

// ---- Text style ---------------------------------------------------------------------------
class TCustomRVFontInfo : public TCustomRVInfo {
 public:
  explicit TCustomRVFontInfo(TCollection* collection);

  TRVBiDiMode BiDiMode = rvbdUnspecified;
  bool Jump = false;
  TCursor JumpCursor = crJump;
  AnsiString FontName = "Arial";
  int32_t Size = 10;
  TColor Color = clWindowText;
  TColor BackColor = clNone;
  TColor HoverColor = clNone;
  TColor HoverBackColor = clNone;
  TFontStyles Style;
  TRVFontStyles StyleEx;
  int32_t VShift = 0;
  TFontCharset Charset = DEFAULT_CHARSET;
  TRVProtectOptions Protection;
  TRVTextOptions Options;
  int32_t CharScale = 100;
  int32_t CharSpacing = 0;

  void Assign(TPersistent* source) override;
  void AssignProperties(TCustomRVFontInfo* source, TRVFontInfoProperties mask);

  bool SameProperties(TCustomRVInfo* value, bool ignore_references, bool ignore_list_id) override;
  bool SameAsMapped(TCustomRVInfo* value, const TRVIntegerList& mapping) override;
  int32_t Closeness(TCustomRVInfo* value) override;
  virtual bool SamePropertiesExcept(TCustomRVInfo* value, TRVFontInfoProperties ignore_list);

  virtual void WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& key_format);
  virtual void ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& key_format,
                       bool jump_by_default, TCursor def_jump_cursor);
  // base_style may be nullptr.
  void WriteCSS(TStream& stream, TCustomRVFontInfo* base_style, bool multiline, bool utf8);

  // The framework font is no persistent object here: copying from and to it are these two.
  // Face name, size, colour, style set and charset only.
  void AssignFont(const TFont& font);
  void AssignToFont(TFont& font) const;

  void DefinePublished(TPublishedProperties& props) override;

  // Drawing (the style sheet wraps these with its events).
  void ApplyToCanvas(TCanvas& canvas, TRVBiDiMode def_bidi_mode, bool can_use_custom_ppi);
  void AssignToLogFont(TLogFont& lf, TCanvas& canvas, bool can_use_custom_ppi);
  void ApplyBiDiAndSpacing(TCanvas& canvas, TRVBiDiMode def_bidi_mode);
  void ApplyColor(TCanvas& canvas, TRVStyle* rvstyle, TRVTextDrawStates draw_state, bool printing,
                  int32_t color_mode);

 protected:
  void DefineProperties(TFiler* filer) override;
  // The font height for Size with the collection's PixelsPerInch when allowed and set.
  int32_t CustomPPI(bool can_use_custom_ppi) const;
};

class TFontInfo : public TCustomRVFontInfo {
 public:
  explicit TFontInfo(TCollection* collection);

  bool Unicode = false;
  int32_t NextStyleNo = -1;
  TRVFontInfoProperties ModifiedProperties;

  void Assign(TPersistent* source) override;
  bool SameProperties(TCustomRVInfo* value, bool ignore_references, bool ignore_list_id) override;
  bool SameAsMapped(TCustomRVInfo* value, const TRVIntegerList& mapping) override;
  bool SamePropertiesExcept(TCustomRVInfo* value, TRVFontInfoProperties ignore_list) override;
  void WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& key_format) override;
  void ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& key_format, bool jump_by_default,
               TCursor def_jump_cursor) override;
  void DefinePublished(TPublishedProperties& props) override;

  // Draws one drawn piece of a text item (font and colours already applied).
  void Draw(const AnsiString& s, TCanvas& canvas, int32_t style_no, int32_t space_before, int32_t left, int32_t top,
            int32_t width, int32_t height, TRVStyle* rvstyle, TRVTextDrawStates draw_state, bool printing,
            bool preview_correction, int32_t color_mode, TRVBiDiMode def_bidi_mode);
};

// ---- Collections ---------------------------------------------------------------------------
class TCustomRVInfos : public TCollection {
 public:
  TCustomRVInfos(TPersistent* owner, ItemFactory item_class);

  TPersistent* Owner() const { return owner_; }
  TCustomRVInfo* Info(int32_t index) const { return static_cast<TCustomRVInfo*>(TCollection::Items(index)); }

  // Mode 0: reuse an equal style or add one; 1: the closest style, nothing added;
  // 2: append every style. text_mapping may be nullptr.
  void MergeStyles(TCustomRVInfos* source, int32_t mode, TRVIntegerList& mapping, const TRVIntegerList* text_mapping);

 protected:
  void AssignTo(TPersistent* dest) override;
  TPersistent* GetOwner() const override { return owner_; }
  // The answer of the closest-style mode for one incoming style (-1 when empty).
  virtual int32_t FindClosest(TCustomRVInfo* style);
  // Fixes the references of a style added by merging.
  virtual void FixMergedReferences(TCustomRVInfo* style, const TRVIntegerList& mapping,
                                   const TRVIntegerList* text_mapping);

 private:
  TPersistent* owner_;
};

class TFontInfos : public TCustomRVInfos {
 public:
  explicit TFontInfos(TPersistent* owner = nullptr);
  ~TFontInfos() override;

  TFontInfo* Add() { return static_cast<TFontInfo*>(TCollection::Add()); }
  // Any index outside 0..Count-1 yields the invalid-index style.
  TFontInfo* Items(int32_t index);
  TFontInfo* GetItem(int32_t index) { return Items(index); }

  // Resolution for font heights (0: the canvas font's).
  int32_t PixelsPerInch = 0;

  int32_t FindMatchingStyle(int32_t base_style_no, TFontInfo* style, TRVFontInfoProperties mask);
  int32_t FindStyleWithCharset(int32_t base_style_no, TFontCharset charset);

 protected:
  int32_t FindClosest(TCustomRVInfo* style) override;
  void FixMergedReferences(TCustomRVInfo* style, const TRVIntegerList& mapping,
                           const TRVIntegerList* text_mapping) override;

 private:
  TFontInfo* invalid_item_ = nullptr;
};

// ---- Side rectangles, borders, backgrounds ------------------------------------------------
class TRVRect : public TPersistent {
 public:
  int32_t Top = 0;
  int32_t Left = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;

  void Assign(TPersistent* source) override;
  void AssignValidSides(TRVRect* source, bool valid_left, bool valid_top, bool valid_right, bool valid_bottom);
  void SetAll(int32_t value);
  void AssignToRect(TRect& r) const;
  void MaxWith(TRect& r) const;
  void InflateRect(TRect& r) const;
  void InflateRectScaled(TRect& r, const TRVScreenAndDevice& sd) const;
  bool IsEqual(const TRVRect* value) const;
  bool IsEqualExcept(const TRVRect* value, bool ignore_left, bool ignore_top, bool ignore_right,
                     bool ignore_bottom) const;
  int32_t Closeness(const TRVRect* value, int32_t weight) const;
  void WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& key_format) const;
  void ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& key_format);
  void DefinePublished(TPublishedProperties& props) override;
};

class TRVBooleanRect : public TPersistent {
 public:
  explicit TRVBooleanRect(bool value) : Top(value), Left(value), Right(value), Bottom(value) {}
  bool Top;
  bool Left;
  bool Right;
  bool Bottom;

  void Assign(TPersistent* source) override;
  void SetAll(bool value);
  void SetValues(bool left, bool top, bool right, bool bottom);
  void AssignValidSides(TRVBooleanRect* source, bool valid_left, bool valid_top, bool valid_right, bool valid_bottom);
  bool IsEqual(const TRVBooleanRect* value) const;
  bool IsEqualToValues(bool left, bool top, bool right, bool bottom) const;
  bool IsAllEqual(bool value) const;
  bool IsEqualExcept(const TRVBooleanRect* value, bool ignore_left, bool ignore_top, bool ignore_right,
                     bool ignore_bottom) const;
  void WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& key_format) const;
  void ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& key_format);
  void DefinePublished(TPublishedProperties& props) override;
};

enum TRVBorderStyle : uint8_t { rvbNone, rvbSingle, rvbDouble, rvbTriple, rvbThickInside, rvbThickOutside };

class TRVBorder : public TPersistent {
 public:
  TRVBorder() : visible_borders_(true) {}

  TColor Color = clWindowText;
  TRVBorderStyle Style = rvbNone;
  int32_t Width = 1;
  int32_t InternalWidth = 1;
  TRVBooleanRect& VisibleBorders() { return visible_borders_; }
  const TRVBooleanRect& VisibleBorders() const { return visible_borders_; }
  void SetVisibleBorders(TRVBooleanRect* value) { visible_borders_.Assign(value); }
  TRVRect& BorderOffsets() { return border_offsets_; }
  const TRVRect& BorderOffsets() const { return border_offsets_; }
  void SetBorderOffsets(TRVRect* value) { border_offsets_.Assign(value); }

  void Assign(TPersistent* source) override;
  void Draw(const TRect& rect, TCanvas& canvas) const;
  void DrawScaled(const TRect& rect, TCanvas& canvas, int32_t color_mode, const TRVScreenAndDevice& sd) const;
  bool IsEqual(const TRVBorder* value) const;
  bool IsEqualExcept(const TRVBorder* value, TRVParaInfoProperties ignore_list) const;
  void AssignValidProperties(const TRVBorder* source, TRVParaInfoProperties valid_properties);
  int32_t Closeness(const TRVBorder* value) const;
  int32_t GetTotalWidth() const;
  void WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& key_format) const;
  void ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& key_format);
  void DefinePublished(TPublishedProperties& props) override;

 private:
  void DoDraw(TRect rect, TCanvas& canvas, int32_t width, int32_t internal_width, int32_t one_pixel,
              int32_t color_mode) const;
  TRVBooleanRect visible_borders_;
  TRVRect border_offsets_;
};

class TRVBackgroundRect : public TPersistent {
 public:
  TColor Color = clNone;
  TRVRect& BorderOffsets() { return border_offsets_; }
  const TRVRect& BorderOffsets() const { return border_offsets_; }
  void SetBorderOffsets(TRVRect* value) { border_offsets_.Assign(value); }

  void Assign(TPersistent* source) override;
  void PrepareDraw(TRect& r) const;
  void PrepareDrawScaled(TRect& r, const TRVScreenAndDevice& sd) const;
  void Draw(const TRect& rect, TCanvas& canvas, int32_t color_mode) const;
  bool IsEqual(const TRVBackgroundRect* value) const;
  bool IsEqualExcept(const TRVBackgroundRect* value, TRVParaInfoProperties ignore_list) const;
  void AssignValidProperties(const TRVBackgroundRect* source, TRVParaInfoProperties valid_properties);
  int32_t Closeness(const TRVBackgroundRect* value) const;
  void WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& key_format) const;
  void ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& key_format);
  void DefinePublished(TPublishedProperties& props) override;

 private:
  TRVRect border_offsets_;
};

// ---- Paragraph styles and tab stops --------------------------------------------------------
enum TRVLineSpacingType : uint8_t { rvlsPercent, rvlsSpaceBetween };
enum TRVAlignment : uint8_t { rvaLeft, rvaRight, rvaCenter, rvaJustify };
enum TRVParaOption : uint8_t {
  rvpaoNoWrap,
  rvpaoReadOnly,
  rvpaoStyleProtect,
  rvpaoDoNotWantReturns,
  rvpaoKeepLinesTogether,
  rvpaoKeepWithNext
};
using TRVParaOptions = TRVSet<TRVParaOption, uint8_t>;
enum TRVTabAlign : uint8_t { rvtaLeft, rvtaRight, rvtaCenter };

class TRVTabInfo : public TCollectionItem {
 public:
  explicit TRVTabInfo(TCollection* collection) : TCollectionItem(collection) {}

  AnsiString Leader;
  TRVTabAlign Align = rvtaLeft;
  int32_t Position() const { return position_; }
  // Stores the value and re-sorts the owning list by position.
  void SetPosition(int32_t value);

  void Assign(TPersistent* source) override;
  AnsiString DisplayName() const override;
  void DefinePublished(TPublishedProperties& props) override;

 private:
  int32_t position_ = 0;
};

class TRVTabInfos : public TCollection {
 public:
  explicit TRVTabInfos(TPersistent* owner) : TCollection(ItemClass<TRVTabInfo>()), owner_(owner) {}

  TPersistent* Owner() const { return owner_; }
  TRVTabInfo* Add() { return static_cast<TRVTabInfo*>(TCollection::Add()); }
  TRVTabInfo* Items(int32_t index) const { return static_cast<TRVTabInfo*>(TCollection::Items(index)); }
  // Orders the tab stops by ascending position.
  void SortTabs();
  bool IsEqual(const TRVTabInfos* value) const;
  int32_t Closeness(const TRVTabInfos* value) const;
  void WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& key_format) const;
  void ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& key_format);

 protected:
  TPersistent* GetOwner() const override { return owner_; }

 private:
  TPersistent* owner_;
};

class TCustomRVParaInfo : public TCustomRVInfo {
 public:
  explicit TCustomRVParaInfo(TCollection* collection);

  int32_t FirstIndent = 0;
  int32_t LeftIndent = 0;
  int32_t RightIndent = 0;
  int32_t SpaceBefore = 0;
  int32_t SpaceAfter = 0;
  int32_t LineSpacing = 100;
  TRVLineSpacingType LineSpacingType = rvlsPercent;
  TRVAlignment Alignment = rvaLeft;
  TRVParaOptions Options;
  TRVBiDiMode BiDiMode = rvbdUnspecified;

  TRVBorder& Border() { return border_; }
  const TRVBorder& Border() const { return border_; }
  void SetBorder(TRVBorder* value) { border_.Assign(value); }
  TRVBackgroundRect& Background() { return background_; }
  const TRVBackgroundRect& Background() const { return background_; }
  void SetBackground(TRVBackgroundRect* value) { background_.Assign(value); }
  TRVTabInfos& Tabs() { return tabs_; }
  const TRVTabInfos& Tabs() const { return tabs_; }
  void SetTabs(TRVTabInfos* value) { tabs_.Assign(value); }

  void Assign(TPersistent* source) override;
  void AssignProperties(TCustomRVParaInfo* source, TRVParaInfoProperties mask);
  bool IsLineSpacingSet() const;

  bool SameProperties(TCustomRVInfo* value, bool ignore_references, bool ignore_list_id) override;
  bool SameAsMapped(TCustomRVInfo* value, const TRVIntegerList& mapping) override;
  int32_t Closeness(TCustomRVInfo* value) override;
  virtual bool SamePropertiesExcept(TCustomRVInfo* value, TRVParaInfoProperties ignore_list);

  virtual void WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& key_format);
  virtual void ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& key_format);
  // base_style may be nullptr.
  void WriteCSS(TStream& stream, TCustomRVParaInfo* base_style, bool multiline, bool skip_left_alignment,
                bool skip_indents);
  void DefinePublished(TPublishedProperties& props) override;

 private:
  TRVBorder border_;
  TRVBackgroundRect background_;
  TRVTabInfos tabs_;
};

class TParaInfo : public TCustomRVParaInfo {
 public:
  explicit TParaInfo(TCollection* collection) : TCustomRVParaInfo(collection) {}

  int32_t NextParaNo = -1;
  int32_t DefStyleNo = -1;
  // Properties changed by hand after a style template was applied: the first set holds
  // rvpiFirstIndent..rvpiBorder_Vis_Bottom, the second rvpiNoWrap..rvpiBiDiMode.
  TRVParaInfoProperties1 ModifiedProperties1;
  TRVParaInfoProperties2 ModifiedProperties2;

  void Assign(TPersistent* source) override;
  bool SameProperties(TCustomRVInfo* value, bool ignore_references, bool ignore_list_id) override;
  bool SameAsMapped(TCustomRVInfo* value, const TRVIntegerList& mapping) override;
  bool SamePropertiesExcept(TCustomRVInfo* value, TRVParaInfoProperties ignore_list) override;
  void WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& key_format) override;
  void ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& key_format) override;
  void DefinePublished(TPublishedProperties& props) override;
};

// The next tab stop after x (device units, x includes the left margin of sd) in paragraph
// style para: position (with the margin), leader and alignment. bidi rvbdUnspecified takes the
// paragraph's reading order; left_ref and right_ref are the paragraph's text edges (device
// units, without the margin). def_tab_width (screen pixels) spaces the default grid. The style
// sheet's GetNextTab looks the paragraph style up and passes its DefTabWidth here.
void RVGetNextTab(const TCustomRVParaInfo* para, int32_t def_tab_width, int32_t x, const TRVScreenAndDevice& sd,
                  int32_t& position, AnsiString& leader, TRVTabAlign& align, TRVBiDiMode bidi, int32_t left_ref,
                  int32_t right_ref);

class TParaInfos : public TCustomRVInfos {
 public:
  explicit TParaInfos(TPersistent* owner = nullptr);
  ~TParaInfos() override;

  TParaInfo* Add() { return static_cast<TParaInfo*>(TCollection::Add()); }
  // Any index outside 0..Count-1 yields the invalid-index style.
  TParaInfo* Items(int32_t index);
  TParaInfo* GetItem(int32_t index) { return Items(index); }

  int32_t FindMatchingStyle(int32_t base_style_no, TParaInfo* style, TRVParaInfoProperties mask);

 protected:
  void FixMergedReferences(TCustomRVInfo* style, const TRVIntegerList& mapping,
                           const TRVIntegerList* text_mapping) override;

 private:
  TParaInfo* invalid_item_ = nullptr;
};

// ---- The style sheet --------------------------------------------------------------------------
enum TRVSelectionMode : uint8_t { rvsmChar, rvsmWord, rvsmParagraph };
enum TRVSelectionStyle : uint8_t { rvssItems, rvssLines };
enum TRVPageBreakType : uint8_t { rvpbSoftPageBreak, rvpbPageBreak };
constexpr TCursor crRVFlipArrow = 106;

// CSS flags of TRVStyle::WriteCSS.
constexpr uint32_t rvcssCSSRelativeToBase = 1;
constexpr uint32_t rvcssCSSSkipLeftAlignment = 2;
constexpr uint32_t rvcssNoDefaultSelectors = 4;
constexpr uint32_t rvcssUTF8 = 8;

// The stream writers of every HTML writer of the family.
void RV_StreamWrite(TStream& stream, const AnsiString& s);
void RV_StreamWriteLine(TStream& stream, const AnsiString& s);
void RV_StreamWriteDecl(TStream& stream, const AnsiString& s, bool multiline);

class TCustomRVData;
class TRVListInfos;
class TRVStyleTemplateCollection;

// The style sheet that viewers and editors share.
class TRVStyle : public TComponent {
 public:
  explicit TRVStyle(TComponent* owner);
  ~TRVStyle() override;

  TColor Color = clWindow;
  TColor HoverColor = clNone;
  TColor CurrentItemColor = clNone;
  TColor SelColor = clHighlight;
  TColor SelTextColor = clHighlightText;
  TColor InactiveSelColor = clHighlight;
  TColor InactiveSelTextColor = clHighlightText;
  TColor CheckpointColor = clGreen;
  TColor CheckpointEvColor = clLime;
  TCursor JumpCursor = crJump;
  bool FullRedraw = false;
  int32_t SpacesInTab = 0;
  int32_t DefTabWidth = 48;
  TColor PageBreakColor = clBtnShadow;
  TColor SoftPageBreakColor = clBtnFace;
  TColor LiveSpellingColor = clRed;
  int32_t DefUnicodeStyle = -1;
  uint32_t DefCodePage = 0;
  bool UseSound = true;
  TRVSelectionMode SelectionMode = rvsmWord;
  TRVSelectionStyle SelectionStyle = rvssItems;
  TCursor LineSelectCursor = crRVFlipArrow;

  // The drawing context, set just before the drawing events fire.
  int32_t DrawingItemNo = -1;
  int32_t DrawingOffset = 0;
  TCustomRVData* DrawingRVData = nullptr;

  TFontInfos* TextStyles() { return text_styles_.get(); }
  TParaInfos* ParaStyles() { return para_styles_.get(); }
  // The list styles (RVStyle_list.h), created at the first request.
  TRVListInfos* ListStyles();
  // The style templates (RVStyleTemplate.h), created at the first request.
  TRVStyleTemplateCollection* StyleTemplates();
  // Copy the given collection's contents (nothing for the collection itself).
  void SetTextStyles(TFontInfos* value);
  void SetParaStyles(TParaInfos* value);

  void ResetTextStyles();
  void ResetParaStyles();
  // The picture that stands in for one that does not load: the program's own mark (a red
  // cross in a grey frame, 20 x 20) until another is set. Setting copies the picture;
  // nullptr drops it (the mark comes back at the next request).
  TGraphic* InvalidPicture();
  void SetInvalidPicture(const TGraphic* value);

  void ApplyStyle(TCanvas& canvas, int32_t style_no, TRVBiDiMode def_bidi_mode, bool can_use_custom_ppi);
  void ApplyStyleColor(TCanvas& canvas, int32_t style_no, TRVTextDrawStates draw_state, bool printing,
                       int32_t color_mode);
  void DrawStyleText(const AnsiString& s, TCanvas& canvas, int32_t item_no, int32_t offset_in_item, int32_t style_no,
                     TCustomRVData* rvdata, int32_t space_before, int32_t left, int32_t top, int32_t width,
                     int32_t height, TRVTextDrawStates draw_state, bool printing, bool preview_correction,
                     int32_t color_mode, TRVBiDiMode def_bidi_mode);
  void DrawTextBack(TCanvas& canvas, int32_t item_no, int32_t style_no, TCustomRVData* rvdata, int32_t left,
                    int32_t top, int32_t width, int32_t height, TRVTextDrawStates draw_state);
  bool IsStyleHoverSensitive(int32_t style_no);
  TColor GetHoverColor(TColor color) const { return color == clNone ? HoverColor : color; }
  void DrawCheckpoint(TCanvas& canvas, int32_t x, int32_t y, int32_t left, int32_t width, TCustomRVData* rvdata,
                      int32_t item_no, int32_t x_shift, bool raise_event, TObject* control);
  // client_width: the client width of the control that shows the document.
  void DrawPageBreak(TCanvas& canvas, int32_t y, int32_t x_shift, TRVPageBreakType type, TObject* control,
                     int32_t client_width);
  void DrawParaBack(TCanvas& canvas, int32_t para_no, TRect& rect, bool printing, int32_t color_mode);
  void GetNextTab(int32_t para_no, int32_t x, const TRVScreenAndDevice& sd, int32_t& position, AnsiString& leader,
                  TRVTabAlign& align, TRVBiDiMode bidi, int32_t left_ref, int32_t right_ref);
  // The CSS style sheet of all text and paragraph styles (flags rvcss...).
  void WriteCSS(TStream& stream, uint32_t options);

  // TextStyles, ParaStyles, ListStyles, the settings and StyleTemplates (with the
  // templates' DefStyleName when it is not the default).
  void DefinePublished(TPublishedProperties& props) override;
  // The end of loading from a form stream: the templates resolve their parents.
  void Loaded() override;
  // An image list going away leaves every list level.
  void Notification(TComponent* component, TOperation operation) override;

  std::function<void(TRVStyle*, TCanvas&, int32_t, bool&)> OnApplyStyle;
  std::function<void(TRVStyle*, TCanvas&, int32_t, TRVTextDrawStates, bool&)> OnApplyStyleColor;
  std::function<void(TRVStyle*, const AnsiString&, TCanvas&, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                     TRVTextDrawStates, bool&)>
      OnDrawStyleText;
  std::function<void(TRVStyle*, int32_t, bool&)> OnStyleHoverSensitive;
  std::function<void(TRVStyle*, TCanvas&, int32_t, int32_t, int32_t, int32_t, int32_t, TRVTextDrawStates, bool&)>
      OnDrawTextBack;
  std::function<void(TRVStyle*, TCanvas&, int32_t, int32_t, int32_t, int32_t, bool, TObject*, bool&)>
      OnDrawCheckpoint;
  std::function<void(TRVStyle*, TCanvas&, int32_t, int32_t, TRVPageBreakType, TObject*, bool&)> OnDrawPageBreak;
  std::function<void(TRVStyle*, TCanvas&, int32_t, TRect&, bool&)> OnDrawParaBack;

 private:
  std::unique_ptr<TFontInfos> text_styles_;
  std::unique_ptr<TParaInfos> para_styles_;
  std::shared_ptr<TRVListInfos> list_styles_;
  std::shared_ptr<TRVStyleTemplateCollection> style_templates_;
  std::unique_ptr<TGraphic> invalid_picture_;
};

}  // namespace pelvar
