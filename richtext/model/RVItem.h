// Document items: the item base with its paragraph flags, tags, hints, checkpoints, word
// painters and "name=value" extra properties; the item-class registry and factory; the
// text, non-text, full-line, break and tab kinds; checkpoints and sub-document stores.
//
// The kinds of pictures, bullets, hotspots, controls and list markers live in their own
// files; here they exist as classes so that the factory creates them by kind number.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <typeinfo>
#include <vector>

#include "platform/canvas.h"
#include "platform/classes.h"
#include "platform/exceptions.h"
#include "platform/graphics.h"
#include "platform/streams.h"
#include "platform/types.h"
#include "richtext/model/RVClasses.h"
#include "richtext/model/RVFuncs.h"
#include "richtext/model/RVStyle.h"

namespace pelvar {

// The family's error class.
class EDocViewError : public Exception {
 public:
  using Exception::Exception;
};

class TCustomRVData;
class TRVStyle;
class TCustomRVItemInfo;
class TRVDrawLineInfo;  // a fragment of the formatted layout (the viewer's)
class TRVControlWindowing;  // what control items do with controls in windows (below)
struct TRVJumpInfo;     // a hyperlink area of the formatted layout (the viewer's)

// ---- Tags --------------------------------------------------------------------------------
// A user tag: an integer, or (when the document's options contain rvoTagsArePChars) a
// string owned by whoever holds the tag; no string is the nil tag.
struct TRVTag {
  int32_t Int = 0;
  std::optional<AnsiString> Str;

  static TRVTag FromInt(int32_t v) { return TRVTag{v, std::nullopt}; }
  static TRVTag FromStr(const AnsiString& s) { return TRVTag{0, s}; }
  bool IsNil() const { return !Str.has_value(); }
};
// A copy of the tag (a new string for string tags).
TRVTag RV_CopyTag(const TRVTag& tag, bool tags_are_pchars);
// Strings: both nil equal, one nil unequal, else their texts; integers: their values.
bool RV_CompareTags(const TRVTag& tag1, const TRVTag& tag2, bool tags_are_pchars);

// ---- Options and states ---------------------------------------------------------------------
// Bit 3 (rvioUnicodeText) is the option byte value rvioUnicode (8) of the text services.
enum TRVItemOption : uint8_t { rvioSameAsPrev, rvioPageBreakBefore, rvioBR, rvioUnicodeText };
using TRVItemOptions = TRVSet<TRVItemOption, uint8_t>;
enum TRVItemState : uint8_t { rvisSpellChecked };
using TRVItemStates = TRVSet<TRVItemState, uint8_t>;

enum TRVLoadFormat : uint8_t { rvlfRTF, rvlfURL, rvlfHTML, rvlfRVF, rvlfOther };
enum TRVSaveFormat : uint8_t { rvsfText, rvsfHTML, rvsfRTF, rvsfRVF };
enum TRVItemAction : uint8_t { rviaInserting, rviaInserted, rviaTextModifying, rviaDestroying, rviaMovingToUndoList };
enum TRVControlAction : uint8_t {
  rvcaAfterRVFLoad,
  rvcaDestroy,
  rvcaMoveToUndoList,
  rvcaMoveFromUndoList,
  rvcaDestroyInUndoList,
  rvcaBeforeRVFSave,
  rvcaAfterRVFSave
};
// Item paint states (bit values as given).
constexpr uint32_t ipsSelected = 1;
constexpr uint32_t ipsCurrent = 2;
constexpr uint32_t ipsHover = 4;
constexpr uint32_t ipsControlFocused = 64;
constexpr uint32_t ipsControlFlag = 128;
constexpr uint32_t ipsRightToLeft = 256;
constexpr uint32_t ipsSpecialCharacters = 512;

// Positions of GetSubRVData: the first and the last sub-document, those at the bottom
// right and the top left corner of the item's selection, and the ones after and before a
// state.
enum TRVSubRVDataPos : uint8_t { rvdFirst, rvdLast, rvdChosenDown, rvdChosenUp, rvdNext, rvdPrev };

// Kind numbers (StyleNo < 0).
constexpr int32_t rvsBreak = -1;
constexpr int32_t rvsCheckpoint = -2;
constexpr int32_t rvsPicture = -3;
constexpr int32_t rvsHotspot = -4;
constexpr int32_t rvsComponent = -5;
constexpr int32_t rvsBullet = -6;
constexpr int32_t rvsBack = -7;
constexpr int32_t rvsVersionInfo = -8;
constexpr int32_t rvsDocProperty = -9;
constexpr int32_t rvsHotPicture = -10;
constexpr int32_t rvsListMarker = -11;
constexpr int32_t rvsTab = -12;
constexpr int32_t rvsTable = -60;
// StyleNo of text in its paragraph's default text style.
constexpr int32_t rvsDefStyle = 2147483647;

// ---- Checkpoints and sub-document stores ---------------------------------------------------
class TRVCPInfo : public TObject {
 public:
  AnsiString Name;
  TRVCPInfo* Next = nullptr;
  TRVCPInfo* Prev = nullptr;
  bool RaiseEvent = false;
  bool Persistent = false;
  TCustomRVItemInfo* ItemInfo = nullptr;
  int32_t ItemNo = -1;
  TRVTag Tag;

  // Name, RaiseEvent, Persistent and a copy of the tag; no links, no item.
  void Assign(const TRVCPInfo& source, bool tags_are_pchars);
  std::unique_ptr<TRVCPInfo> CreateCopy(bool tags_are_pchars) const;
};

class TRVStoreSubRVData : public TObject {
 public:
  virtual std::unique_ptr<TRVStoreSubRVData> Duplicate() const { return nullptr; }
  virtual int32_t Compare(const TRVStoreSubRVData* /*other*/) const { return 0; }
};

// ---- Word painters (marks drawn over an item's text) ------------------------------------------
class TRVWordPainter : public TObject {
 public:
  TRVWordPainter(int32_t start_offs, int32_t length) : StartOffs(start_offs), Length(length) {}
  int32_t StartOffs;
  int32_t Length;
};
class TRVWordMisspellPainter : public TRVWordPainter {
 public:
  using TRVWordPainter::TRVWordPainter;
};
using TRVWordPainterList = std::vector<std::unique_ptr<TRVWordPainter>>;

// ---- Styles-in-use record ---------------------------------------------------------------------
// While styles are marked: one flag per style (1 used). After the unused styles are deleted
// the same lists hold, per old style number, how many styles before it were deleted, so that
// a kept style's new number is old - Shift[old] (RenumberText/Para/List).
struct TRVDeleteUnusedStylesData {
  bool Initialized = false;
  TRVIntegerList UsedTextStyles;
  TRVIntegerList UsedParaStyles;
  TRVIntegerList UsedListStyles;
  bool ConvertedTextStyles = true;  // delete unused text styles
  bool ConvertedParaStyles = true;
  bool ConvertedListStyles = true;

  int32_t RenumberText(int32_t style_no) const { return Renumber(UsedTextStyles, ConvertedTextStyles, style_no); }
  int32_t RenumberPara(int32_t para_no) const { return Renumber(UsedParaStyles, ConvertedParaStyles, para_no); }
  int32_t RenumberList(int32_t list_no) const { return Renumber(UsedListStyles, ConvertedListStyles, list_no); }
  static int32_t Renumber(const TRVIntegerList& shift, bool converted, int32_t no);
};
// Starts the record: one entry per style, 0 for kinds whose unused styles are deleted (with
// the standard styles and a valid DefUnicodeStyle marked), 1 otherwise.
void InitStylesInUse(TRVDeleteUnusedStylesData& data, TRVStyle* style);

// ---- Item base ---------------------------------------------------------------------------------
class TCustomRVItemInfo : public TPersistent {
 public:
  explicit TCustomRVItemInfo(TCustomRVData* rvdata);
  ~TCustomRVItemInfo() override;

  int32_t StyleNo = 0;
  int32_t ParaNo = 0;
  TRVItemOptions ItemOptions;
  TRVItemStates ItemState;
  // Owned by the document data, which frees it with the item; an item destroyed outside a
  // document (a copy never inserted) frees the checkpoint it still carries.
  TRVCPInfo* Checkpoint = nullptr;
  int32_t JumpID = 0;
  TRVTag Tag;
  int32_t DrawItemNo = -1;
  AnsiString Hint;
  TRVWordPainterList* WordPaintList() { return word_paint_list_.get(); }

  // Paragraph flags.
  bool GetSameAsPrev() const { return ItemOptions.Contains(rvioSameAsPrev); }
  void SetSameAsPrev(bool value);
  bool GetBR() const { return ItemOptions.Contains(rvioBR); }
  void SetBR(bool value);
  bool GetPageBreakBefore() const { return ItemOptions.Contains(rvioPageBreakBefore); }
  void SetPageBreakBefore(bool value);
  bool IsParaStart() const { return !GetSameAsPrev() && !GetBR(); }
  // StyleNo, or for rvsDefStyle the paragraph's DefStyleNo when >= 0, else 0.
  int32_t GetActualStyleNo(TRVStyle* rvstyle) const;

  // ---- Virtual operations ----
  // A new item of this object's own class for rvdata (the virtual constructor).
  virtual std::unique_ptr<TCustomRVItemInfo> NewInstance(TCustomRVData* rvdata) const;
  virtual int32_t GetAssociatedTextStyleNo() const { return -1; }
  virtual void SetAssociatedTextStyleNo(int32_t) {}
  virtual int32_t GetMinWidth(const TRVScreenAndDevice* sad, TCanvas* canvas, TCustomRVData* rvdata);
  virtual bool GetBoolValue(int32_t ordinal) const;
  virtual bool GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const;
  // Draws a non-text item at (x, y) of the canvas for its draw item (the viewer's painter).
  virtual void Paint(int32_t /*x*/, int32_t /*y*/, TCanvas& /*canvas*/, uint32_t /*state*/, TRVStyle* /*style*/,
                     TRVDrawLineInfo* /*dli*/) {}
  virtual void PaintFullWidth(int32_t /*left*/, int32_t /*right*/, int32_t /*top*/, TCanvas& /*canvas*/,
                              uint32_t /*state*/, TRVStyle* /*style*/, const TRect& /*clip*/) {}
  virtual int32_t GetImageWidth(TRVStyle*) const { return 0; }
  virtual int32_t GetImageHeight(TRVStyle*) const { return 0; }
  virtual int32_t GetBorderWidth() const { return 0; }
  virtual int32_t GetBorderHeight() const { return 0; }
  // Reports rviaInserting (the owner may change text) / rviaInserted.
  virtual void Inserting(TCustomRVData* rvdata, AnsiString& text, bool safe);
  virtual void Inserted(TCustomRVData* rvdata, int32_t item_no);

  // ---- Second group ----
  virtual AnsiString SaveRVFHeaderTail(TCustomRVData* rvdata);
  virtual int32_t GetRVFExtraPropertyCount() const;
  virtual void SaveRVFExtraProperties(TStream& stream);
  void Assign(TPersistent* source) override;
  virtual bool OwnsControl(TObject* /*control*/) const { return false; }
  // Writes the item as HTML (nothing in the base).
  virtual void SaveToHTML(TStream& /*stream*/, TCustomRVData* /*rvdata*/, int32_t /*item_no*/,
                          const AnsiString& /*text*/, const AnsiString& /*path*/, const AnsiString& /*images_prefix*/,
                          int32_t& /*image_save_no*/, TColor /*color*/, uint32_t /*save_options*/, bool /*use_css*/) {}
  virtual AnsiString AsText(int32_t /*line_width*/, TCustomRVData* /*rvdata*/, const AnsiString& /*text*/,
                            const AnsiString& /*path*/, bool /*text_only*/, bool /*unicode*/) {
    return AnsiString();
  }
  virtual bool ReadRVFHeaderTail(const char*& /*p*/, TCustomRVData* /*rvdata*/) { return true; }
  // One body line of the item: the base reads it as an extra property.
  virtual bool ReadRVFLine(const AnsiString& s, TCustomRVData* rvdata, int32_t& read_state, bool& next_binary,
                           AnsiString& name, int32_t line_no, int32_t line_count, int32_t read_mode);
  virtual void SaveRVF(TStream& /*stream*/, TCustomRVData* /*rvdata*/, int32_t /*item_no*/, int32_t /*para_no*/,
                       const AnsiString& /*name*/, int32_t /*part*/, bool /*force_same_as_prev*/) {}
  virtual void SaveRVFSelection(TStream&, TCustomRVData*, int32_t /*item_no*/, int32_t /*para_no*/) {}
  virtual void SaveRTF(TStream& /*stream*/, TCustomRVData* /*rvdata*/, int32_t /*item_no*/, const AnsiString& /*text*/,
                       double /*twips_per_pixel*/, int32_t /*level*/, TRVColorList& /*color_list*/) {}
  virtual void FillRTFTables(TRVColorList& /*color_list*/, TCustomRVData* /*rvdata*/) {}
  virtual void MovingToUndoList(int32_t item_no, TCustomRVData* rvdata);
  virtual void MovingFromUndoList(int32_t /*item_no*/, TCustomRVData* /*rvdata*/) {}
  virtual void BeforeLoading(TRVLoadFormat) {}
  virtual void AfterLoading(TRVLoadFormat) {}
  virtual TCursor GetHypertextCursor(TRVStyle* rvstyle) const;
  virtual void Execute(TCustomRVData*) {}
  virtual void MarkStylesInUse(TRVDeleteUnusedStylesData& data);
  virtual void UpdateStyles(const TRVDeleteUnusedStylesData& data);
  // The item's sub-documents one by one (nil after the last); the state is the caller's.
  virtual TCustomRVData* GetSubRVData(std::unique_ptr<TRVStoreSubRVData>& state, TRVSubRVDataPos /*position*/) {
    state.reset();
    return nullptr;
  }
  virtual void ChooseSubRVData(const TRVStoreSubRVData*) {}
  virtual void CleanUpChosen() {}
  virtual bool SetExtraIntProperty(int32_t /*index*/, int32_t /*value*/) { return false; }
  virtual bool GetExtraIntProperty(int32_t /*index*/, int32_t& /*value*/) const { return false; }
  virtual bool SetExtraStrProperty(int32_t index, const AnsiString& value);
  virtual bool GetExtraStrProperty(int32_t index, AnsiString& value) const;
  virtual bool SetExtraCustomProperty(const AnsiString& /*name*/, const AnsiString& /*value*/) { return false; }
  virtual void UpdatePaletteInfo(int32_t /*palette_action*/, bool /*force_recreate_copy*/) {}
  // Base behaviours of the rarely overridden operations (mouse buttons and shift states as
  // the platform numbers them).
  virtual TGraphic* AsImage() { return nullptr; }
  virtual TCustomRVData* GetSubRVDataAt(int32_t /*x*/, int32_t /*y*/) { return nullptr; }
  // The laid-out document of the sub-document under (x, y), a point relative to the item's
  // top left, with the point in that document's own coordinates; nil when none (a cell
  // being edited answers nil: its editor takes the mouse itself).
  virtual TCustomRVData* GetSubLayoutAt(int32_t /*x*/, int32_t /*y*/, int32_t& /*sub_x*/, int32_t& /*sub_y*/) {
    return nullptr;
  }
  // editor: the in-place editor widget (compared by address).
  virtual bool OwnsInplaceEditor(const void* /*editor*/) const { return false; }
  virtual void TransferAnimator(TCustomRVItemInfo* /*source*/, TCustomRVData* /*rvdata*/) {}
  // The mouse over the item (coordinates relative to its draw item); True when the item
  // set the cursor itself.
  virtual bool MouseMove(uint32_t /*shift*/, int32_t /*x*/, int32_t /*y*/, int32_t /*item_no*/,
                         TCustomRVData* /*rvdata*/) {
    return false;
  }
  virtual bool MouseDown(int32_t /*button*/, uint32_t /*shift*/, int32_t /*x*/, int32_t /*y*/, int32_t /*item_no*/,
                         TCustomRVData* /*rvdata*/) {
    return false;
  }
  virtual bool MouseUp(int32_t /*button*/, uint32_t /*shift*/, int32_t /*x*/, int32_t /*y*/, int32_t /*item_no*/,
                       TCustomRVData* /*rvdata*/) {
    return false;
  }
  virtual void DeselectPartial() {}
  virtual bool IsPartiallySelected() const { return false; }
  virtual bool CanDeletePartiallySelected() const { return false; }
  virtual void DeletePartiallySelected() {}
  // Repeats a style application in the item's sub-documents (a table's cells, all or the
  // selected ones); code is the editor's mode of the running application (0 paragraph style,
  // 1 text style, 2 and 3 the conversion events, 4 and 5 the style templates).
  virtual void ApplyStyleConversionToSubRVDatas(int32_t /*user_data*/, bool /*selected_only*/, int32_t /*code*/) {}
  virtual void ApplyStyleConversion(TCustomRVData* /*rvdata*/, int32_t user_data, int32_t code) {
    ApplyStyleConversionToSubRVDatas(user_data, false, code);
  }
  virtual void BeginItemUpdate() {}
  virtual void EndItemUpdate() {}
  virtual void BeforeUndoChangeProperty() {}
  virtual void AfterUndoChangeProperty() {}
  // direction: 0 first, 1 last, 2 from above, 3 from below.
  virtual bool EnterFromKeyboard(int32_t /*direction*/, int32_t /*x*/) { return false; }
  virtual void FocusControl() {}
  virtual bool EnterItem(bool /*from_next*/, int32_t /*x*/) { return false; }
  virtual void LeaveItem() {}
  virtual bool AdjustFocusToControl(TObject* /*control*/, TCustomRVData*& /*chosen_rvdata*/,
                                    TCustomRVItemInfo*& /*chosen_item*/) {
    return false;
  }
  virtual void UpdateItemCoords(TCustomRVData* /*rvdata*/, int32_t /*item_no*/) {}
  // Hyperlinks inside the item (sub-documents): numbered on from counter; with a list, their
  // areas are added to it, placed relative to the item's draw item draw_item_no.
  virtual void BuildJumps(TCustomRVData* /*rvdata*/, int32_t /*draw_item_no*/, int32_t& /*counter*/,
                          std::vector<std::unique_ptr<TRVJumpInfo>>* /*list*/) {}
  virtual int32_t GetSplitOffsetY(int32_t value) const { return value; }
  virtual void UpdateAnimator(TCustomRVData* /*rvdata*/) {}

  // Parses one "name=value" line.
  void ReadRVFExtraProperty(const AnsiString& line);

  // Word painters.
  void AddMisspelling(int32_t start_offs, int32_t length);
  bool IsMisspelled(int32_t offs) const;
  bool GetMisspelling(int32_t offs, int32_t& start_offs, int32_t& length) const;
  void ClearLiveSpellingResult();
  void ClearWordPainters(int32_t index);
  bool AdjustWordPaintersOnInsert(int32_t index, char16_t ch, TCustomRVData* rvdata);
  // After deleting count characters at index: painters after the range move back by the
  // count, painters the range touches are removed; True when one was removed.
  bool AdjustWordPaintersOnDelete(int32_t index, int32_t count);

 protected:
  TPersistent* GetOwner() const override { return nullptr; }

 private:
  std::unique_ptr<TRVWordPainterList> word_paint_list_;
};

using TCustomRVItemInfoClass = std::function<TCustomRVItemInfo*(TCustomRVData*)>;

// "name=value" extra properties: integer indexes 1.., string indexes 1..; 0 for an unknown name.
int32_t RVGetExtraIntPropertyIndex(const AnsiString& name);
int32_t RVGetExtraStrPropertyIndex(const AnsiString& name);
AnsiString RVGetExtraIntPropertyName(int32_t index);
AnsiString RVGetExtraStrPropertyName(int32_t index);
void RVFWriteExtraIntProperty(TStream& stream, int32_t index, int32_t value);
void RVFWriteExtraStrProperty(TStream& stream, int32_t index, const AnsiString& value);

// ---- Kinds ---------------------------------------------------------------------------------------
class TRVTextItemInfo : public TCustomRVItemInfo {
 public:
  std::unique_ptr<TCustomRVItemInfo> NewInstance(TCustomRVData* d) const override { return std::make_unique<TRVTextItemInfo>(d); }
  explicit TRVTextItemInfo(TCustomRVData* rvdata) : TCustomRVItemInfo(rvdata) {}
  bool GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const override;
  bool ReadRVFHeaderTail(const char*& p, TCustomRVData* rvdata) override;
  void MarkStylesInUse(TRVDeleteUnusedStylesData& data) override;
  void UpdateStyles(const TRVDeleteUnusedStylesData& data) override;
};

class TRVNonTextItemInfo : public TCustomRVItemInfo {
 public:
  std::unique_ptr<TCustomRVItemInfo> NewInstance(TCustomRVData* d) const override { return std::make_unique<TRVNonTextItemInfo>(d); }
  explicit TRVNonTextItemInfo(TCustomRVData* rvdata) : TCustomRVItemInfo(rvdata) {}
  bool Unremovable = false;

  virtual int32_t GetHeight() const { return 0; }
  virtual int32_t GetWidth() const { return 0; }
  virtual int32_t GetHShift() const { return 0; }
  // Sizes the item for a document width before formatting places it: dx (0) shifts it
  // right, descent (1) is the part below the baseline; printing caches nothing.
  virtual void AdjustToDocWidth(int32_t /*doc_width*/, TRVDrawLineInfo* /*dli*/, bool /*printing*/,
                                TCanvas* /*canvas*/, TCustomRVData* /*rvdata*/, const TRVScreenAndDevice* /*sad*/,
                                int32_t& /*dx*/, int32_t& /*descent*/, bool /*flag1*/, bool /*flag2*/) {}
  virtual void AdjustInserted(int32_t /*x*/, int32_t /*y*/, bool /*reformat*/) {}

  void Assign(TPersistent* source) override;
  bool SetExtraIntProperty(int32_t index, int32_t value) override;
  bool GetExtraIntProperty(int32_t index, int32_t& value) const override;
  int32_t GetRVFExtraPropertyCount() const override;
  void SaveRVFExtraProperties(TStream& stream) override;
};

class TRVFullLineItemInfo : public TRVNonTextItemInfo {
 public:
  std::unique_ptr<TCustomRVItemInfo> NewInstance(TCustomRVData* d) const override { return std::make_unique<TRVFullLineItemInfo>(d); }
  using TRVNonTextItemInfo::TRVNonTextItemInfo;
  bool GetBoolValue(int32_t ordinal) const override;
};

class TRVBreakItemInfo : public TRVFullLineItemInfo {
 public:
  std::unique_ptr<TCustomRVItemInfo> NewInstance(TCustomRVData* d) const override { return std::make_unique<TRVBreakItemInfo>(d); }
  explicit TRVBreakItemInfo(TCustomRVData* rvdata) : TRVFullLineItemInfo(rvdata) {}
  uint8_t LineWidth = 0;
  uint8_t Style = 0;  // 0 line, 1 rectangle, 2 3-D frame, 3 dotted, 4 dashed
  TColor Color = 0;   // clNone: the colour of text style 0

  void Assign(TPersistent* source) override;
  bool GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const override;
  void PaintFullWidth(int32_t left, int32_t right, int32_t top, TCanvas& canvas, uint32_t state, TRVStyle* style,
                      const TRect& clip) override;
  // The same figures on a printer canvas, scaled to the device and in the colour mode.
  void Print(TCanvas& canvas, int32_t left, int32_t right, int32_t top, const TRVScreenAndDevice& sad,
             TRVStyle* style, int32_t color_mode);
  AnsiString SaveRVFHeaderTail(TCustomRVData* rvdata) override;
  bool ReadRVFHeaderTail(const char*& p, TCustomRVData* rvdata) override;
  void SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, int32_t para_no, const AnsiString& name,
               int32_t part, bool force_same_as_prev) override;
  AnsiString AsText(int32_t line_width, TCustomRVData* rvdata, const AnsiString& text, const AnsiString& path,
                    bool text_only, bool unicode) override;
  void FillRTFTables(TRVColorList& color_list, TCustomRVData* rvdata) override;
  void SaveRTF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text,
               double twips_per_pixel, int32_t level, TRVColorList& color_list) override;
  void SaveToHTML(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text,
                  const AnsiString& path, const AnsiString& images_prefix, int32_t& image_save_no, TColor color,
                  uint32_t save_options, bool use_css) override;

 private:
  void DrawFigure(TCanvas& canvas, int32_t x1, int32_t x2, int32_t y, int32_t w, TColor color, int32_t frame_width,
                  TColor top_left, TColor bottom_right, int32_t pen_width1);
};

// The rectangular base of pictures, controls, bullets, markers and tabs.
class TRVRectItemInfo : public TRVNonTextItemInfo {
 public:
  std::unique_ptr<TCustomRVItemInfo> NewInstance(TCustomRVData* d) const override { return std::make_unique<TRVRectItemInfo>(d); }
  using TRVNonTextItemInfo::TRVNonTextItemInfo;
  virtual int32_t GetSpacing() const { return 0; }
  // Vertical alignment in its line: 0 baseline, 1 middle, 2 line top, 3 line bottom,
  // 4 line middle (the last three align to the line's other items).
  virtual uint8_t GetVAlign() const { return 0; }

  // Pictures and controls (RVItem_graphic.cpp): the smallest printed piece when split
  // over pages (0: never split), alignment, vertical shift (pixels, or percent of the
  // height unless VShiftAbs) and the empty border on every side.
  // The draw item's size computed by AdjustToDocWidth (device pixels) for items whose
  // size depends on the document (GetBoolValueEx 5); false when there is none.
  virtual bool GetDrawItemSize(int32_t& /*width*/, int32_t& /*height*/) const { return false; }

  int32_t MinHeightOnPage = 0;
  uint8_t VAlign = 0;
  int32_t VShift = 0;
  bool VShiftAbs = false;
  int32_t Spacing = 1;
};

class TRVTabItemInfo : public TRVRectItemInfo {
 public:
  std::unique_ptr<TCustomRVItemInfo> NewInstance(TCustomRVData* d) const override { return std::make_unique<TRVTabItemInfo>(d); }
  explicit TRVTabItemInfo(TCustomRVData* rvdata) : TRVRectItemInfo(rvdata) {}
  int32_t TextStyleNo = 0;
  AnsiString Leader;

  int32_t GetAssociatedTextStyleNo() const override { return TextStyleNo; }
  void SetAssociatedTextStyleNo(int32_t value) override { TextStyleNo = value; }
  int32_t GetActualTextStyleNo(TRVStyle* rvstyle) const;
  void Assign(TPersistent* source) override;
  bool GetBoolValue(int32_t ordinal) const override;
  bool GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const override;
  void MarkStylesInUse(TRVDeleteUnusedStylesData& data) override;
  void UpdateStyles(const TRVDeleteUnusedStylesData& data) override;
  // Draws the tab in the draw item's rectangle (x, y, width, height).
  using TCustomRVItemInfo::Paint;
  void Paint(int32_t x, int32_t y, int32_t width, int32_t height, TCanvas& canvas, uint32_t state, TRVStyle* style,
             bool printing, int32_t color_mode);
  AnsiString SaveRVFHeaderTail(TCustomRVData* rvdata) override;
  bool ReadRVFHeaderTail(const char*& p, TCustomRVData* rvdata) override;
  // The header line, then the hint and the leader as "name=value" lines ("leader" with its
  // line breaks encoded), so that both survive a save and a load.
  void SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, int32_t para_no, const AnsiString& name,
               int32_t part, bool force_same_as_prev) override;
  bool SetExtraCustomProperty(const AnsiString& name, const AnsiString& value) override;
  void SaveRTF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text,
               double twips_per_pixel, int32_t level, TRVColorList& color_list) override;
  void SaveToHTML(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text,
                  const AnsiString& path, const AnsiString& images_prefix, int32_t& image_save_no, TColor color,
                  uint32_t save_options, bool use_css) override;
  AnsiString AsText(int32_t line_width, TCustomRVData* rvdata, const AnsiString& text, const AnsiString& path,
                    bool text_only, bool unicode) override;
};

// The frame animator of a picture (the viewer's animation); the item owns it.
class TRVAnimatorBase {
 public:
  virtual ~TRVAnimatorBase() = default;
  virtual void DrawFrame(int32_t x, int32_t y, TCanvas& canvas) = 0;
};
class TRVGraphicItemInfo;
// Creates, keeps or drops the animator of a picture for a document (set by the viewer's
// animation; nothing is animated while it is empty).
// A plain pointer: constant-initialised, so a start-up assignment in another unit holds.
using TRVAnimatorFactory = void (*)(TRVGraphicItemInfo*, TCustomRVData*, std::unique_ptr<TRVAnimatorBase>&);
extern TRVAnimatorFactory AnimatorFactory;

// Kinds whose behaviour lives in their own files; here the classes the factory creates.
class TRVGraphicItemInfo : public TRVRectItemInfo {
 public:
  std::unique_ptr<TCustomRVItemInfo> NewInstance(TCustomRVData* d) const override { return std::make_unique<TRVGraphicItemInfo>(d); }
  explicit TRVGraphicItemInfo(TCustomRVData* rvdata) : TRVRectItemInfo(rvdata) { StyleNo = rvsPicture; }
  TRVGraphicItemInfo(TCustomRVData* rvdata, std::unique_ptr<TGraphic> image, uint8_t valign);
  ~TRVGraphicItemInfo() override;

  std::unique_ptr<TGraphic> Image;
  std::unique_ptr<TGraphic> ImageCopy;
  std::unique_ptr<TRVAnimatorBase> Animator;
  bool ResizableFlag = true;
  int32_t ImageWidth = 0, ImageHeight = 0;
  int32_t Interval = 0;
  bool NoHTMLImageSize = false;
  AnsiString Alt, ImageFileName;

  int32_t GetSpacing() const override { return Spacing; }
  uint8_t GetVAlign() const override { return VAlign; }
  int32_t GetBorderWidth() const override { return Spacing; }
  int32_t GetBorderHeight() const override { return Spacing; }
  int32_t GetImageWidth(TRVStyle* = nullptr) const override;
  int32_t GetImageHeight(TRVStyle* = nullptr) const override;
  int32_t GetWidth() const override { return GetImageWidth() + 2 * Spacing; }
  int32_t GetHeight() const override { return GetImageHeight() + 2 * Spacing; }
  int32_t GetMinWidth(const TRVScreenAndDevice* sad, TCanvas* canvas, TCustomRVData* rvdata) override;
  TGraphic* AsImage() override { return Image.get(); }
  bool GetBoolValue(int32_t ordinal) const override;
  bool GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const override;
  void Assign(TPersistent* source) override;
  void Paint(int32_t x, int32_t y, TCanvas& canvas, uint32_t state, TRVStyle* style, TRVDrawLineInfo* dli) override;
  int32_t GetRVFExtraPropertyCount() const override;
  void SaveRVFExtraProperties(TStream& stream) override;
  bool SetExtraIntProperty(int32_t index, int32_t value) override;
  bool GetExtraIntProperty(int32_t index, int32_t& value) const override;
  bool SetExtraStrProperty(int32_t index, const AnsiString& value) override;
  bool GetExtraStrProperty(int32_t index, AnsiString& value) const override;
  AnsiString SaveRVFHeaderTail(TCustomRVData* rvdata) override;
  void SaveRTF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text,
               double twips_per_pixel, int32_t level, TRVColorList& color_list) override;
  void MovingToUndoList(int32_t item_no, TCustomRVData* rvdata) override;
  // Takes a picture source's animator when this item has none (the source loses it).
  void TransferAnimator(TCustomRVItemInfo* source, TCustomRVData* rvdata) override;
  void UpdateAnimator(TCustomRVData* rvdata) override;
  // The native format: the header, the name, the picture class, the extra properties and
  // the body (hex or a binary block; none without rvfoSavePicturesBody).
  void SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, int32_t para_no, const AnsiString& name,
               int32_t part, bool force_same_as_prev) override;
  bool ReadRVFLine(const AnsiString& s, TCustomRVData* rvdata, int32_t& read_state, bool& next_binary,
                   AnsiString& name, int32_t line_no, int32_t line_count, int32_t read_mode) override;
  bool ReadRVFHeaderTail(const char*& p, TCustomRVData* rvdata) override;
  // <img> with alignment, size, alt text, spacing, hint and shift; the picture file is
  // the owner's, its source file (save option bit 12) or one written beside the page.
  void SaveToHTML(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text,
                  const AnsiString& path, const AnsiString& images_prefix, int32_t& image_save_no, TColor color,
                  uint32_t save_options, bool use_css) override;
  // "vertical-align : N" for the HTML export (empty when there is no shift).
  AnsiString GetVShiftCSS() const;
};

// The RTF picture group of a graphic (nothing for nullptr): "\picscalex/y" for a display
// size, bitmaps as a device-independent bitmap without the 14-byte file header, JPEG and
// PNG pictures with their own bytes, metafiles without their 22-byte placeable header.
// rtf_options: the bits of the document's TRVRTFOptions.
void RVSaveImageToRTF(TStream& stream, TGraphic* graphic, int32_t width, int32_t height, uint8_t rtf_options,
                      double twips_per_pixel);
class TRVHotGraphicItemInfo : public TRVGraphicItemInfo {
 public:
  std::unique_ptr<TCustomRVItemInfo> NewInstance(TCustomRVData* d) const override { return std::make_unique<TRVHotGraphicItemInfo>(d); }
  explicit TRVHotGraphicItemInfo(TCustomRVData* rvdata) : TRVGraphicItemInfo(rvdata) { StyleNo = rvsHotPicture; }
  TRVHotGraphicItemInfo(TCustomRVData* rvdata, std::unique_ptr<TGraphic> image, uint8_t valign)
      : TRVGraphicItemInfo(rvdata, std::move(image), valign) {
    StyleNo = rvsHotPicture;
  }
  // A hyperlink (1, 2 and 4).
  bool GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const override {
    return ordinal == 1 || ordinal == 2 || ordinal == 4 || TRVGraphicItemInfo::GetBoolValueEx(ordinal, rvstyle);
  }
  // Fires the hyperlink's jump (formatted documents).
  void Execute(TCustomRVData* rvdata) override;
};
class TCustomImageList;
class TBitmap;
class TRVHTMLBulletList;
// An image of an image list inline in the text (RVItem_bullet.cpp); the list is not owned
// (the native format keeps its Tag and asks the owner for the list when reading).
class TRVBulletItemInfo : public TRVRectItemInfo {
 public:
  std::unique_ptr<TCustomRVItemInfo> NewInstance(TCustomRVData* d) const override { return std::make_unique<TRVBulletItemInfo>(d); }
  explicit TRVBulletItemInfo(TCustomRVData* rvdata) : TRVRectItemInfo(rvdata) { StyleNo = rvsBullet; }

  TCustomImageList* ImageList = nullptr;
  int32_t ImageIndex = 0;
  bool NoHTMLImageSize = false;
  AnsiString Alt;

  // The image shown: ImageIndex (a hotspot's hot image while hot).
  virtual int32_t GetImageIndex(bool hot) const;
  int32_t GetSpacing() const override { return Spacing; }
  uint8_t GetVAlign() const override { return VAlign; }
  int32_t GetBorderWidth() const override { return Spacing; }
  int32_t GetBorderHeight() const override { return Spacing; }
  int32_t GetImageWidth(TRVStyle* = nullptr) const override;
  int32_t GetImageHeight(TRVStyle* = nullptr) const override;
  int32_t GetWidth() const override { return GetImageWidth() + 2 * Spacing; }
  int32_t GetHeight() const override { return GetImageHeight() + 2 * Spacing; }
  int32_t GetMinWidth(const TRVScreenAndDevice* sad, TCanvas* canvas, TCustomRVData* rvdata) override;
  bool GetBoolValue(int32_t ordinal) const override;
  void Assign(TPersistent* source) override;
  void Paint(int32_t x, int32_t y, TCanvas& canvas, uint32_t state, TRVStyle* style, TRVDrawLineInfo* dli) override;
  // The image (ImageIndex) at (0, 0) of the bitmap.
  bool PrintToBitmap(TBitmap& bitmap);
  int32_t GetRVFExtraPropertyCount() const override;
  void SaveRVFExtraProperties(TStream& stream) override;
  bool SetExtraIntProperty(int32_t index, int32_t value) override;
  bool GetExtraIntProperty(int32_t index, int32_t& value) const override;
  bool SetExtraStrProperty(int32_t index, const AnsiString& value) override;
  bool GetExtraStrProperty(int32_t index, AnsiString& value) const override;
  // "<list's Tag> <ImageIndex>"; reading asks the owner for the list with that Tag.
  AnsiString SaveRVFHeaderTail(TCustomRVData* rvdata) override;
  bool ReadRVFHeaderTail(const char*& p, TCustomRVData* rvdata) override;
  bool ReadRVFLine(const AnsiString& s, TCustomRVData* rvdata, int32_t& read_state, bool& next_binary,
                   AnsiString& name, int32_t line_no, int32_t line_count, int32_t read_mode) override;
  void SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, int32_t para_no, const AnsiString& name,
               int32_t part, bool force_same_as_prev) override;
  void SaveRTF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text,
               double twips_per_pixel, int32_t level, TRVColorList& color_list) override;
  void SaveToHTML(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text,
                  const AnsiString& path, const AnsiString& images_prefix, int32_t& image_save_no, TColor color,
                  uint32_t save_options, bool use_css) override;
  AnsiString GetVShiftCSS() const;

 protected:
  // Reads an image index of the tail and checks it against the list (warning 8).
  bool ReadImageIndex(const char*& p, TCustomRVData* rvdata, int32_t& index);
};

// A bullet that is a hyperlink and may show another image while the mouse is over it.
class TRVHotspotItemInfo : public TRVBulletItemInfo {
 public:
  std::unique_ptr<TCustomRVItemInfo> NewInstance(TCustomRVData* d) const override { return std::make_unique<TRVHotspotItemInfo>(d); }
  explicit TRVHotspotItemInfo(TCustomRVData* rvdata) : TRVBulletItemInfo(rvdata) { StyleNo = rvsHotspot; }

  int32_t HotImageIndex = 0;

  int32_t GetImageIndex(bool hot) const override { return hot ? HotImageIndex : ImageIndex; }
  void Assign(TPersistent* source) override;
  bool GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const override;
  AnsiString SaveRVFHeaderTail(TCustomRVData* rvdata) override;
  bool ReadRVFHeaderTail(const char*& p, TCustomRVData* rvdata) override;
  void Execute(TCustomRVData* rvdata) override;
};

// The RTF picture of an image of a list (nothing for no list or an index out of range): a
// device-independent bitmap with rvrtfSaveBitmapDefault, otherwise a metafile holding that
// bitmap. rtf_options: the bits of the document's TRVRTFOptions.
void RTFImageListImage(TStream& stream, TCustomImageList* image_list, int32_t image_index, uint8_t rtf_options);

// One picture file of an HTML export made from an image of a list or from a list level's
// picture on a background colour; the export keeps them so that each is written once.
struct TRVHTMLBulletInfo {
  AnsiString FileName;
  TCustomImageList* ImageList = nullptr;
  int32_t ImageIndex = 0;
  TColor BackColor = clNone;
  TGraphic* Graphic = nullptr;
};
class TRVHTMLBulletList {
 public:
  std::vector<TRVHTMLBulletInfo> Items;
};
// The location of the picture file for the image (or the graphic) on back_color: the one
// written before for the same image and colour, else a new file written by the document.
void HTMLBulletLocation(TCustomImageList* image_list, int32_t image_index, TGraphic* graphic,
                        TRVHTMLBulletList& bullet_list, uint32_t save_options, TColor back_color,
                        int32_t& image_counter, const AnsiString& image_prefix, const AnsiString& path,
                        TCustomRVData* rvdata, AnsiString& location);
class TRVControlItemInfo : public TRVRectItemInfo {
 public:
  std::unique_ptr<TCustomRVItemInfo> NewInstance(TCustomRVData* d) const override { return std::make_unique<TRVControlItemInfo>(d); }
  using TRVRectItemInfo::TRVRectItemInfo;
  // Frees the control (a widget leaves the viewer's window with it).
  ~TRVControlItemInfo() override;
  // The inserted control, owned by the item: the application gives it a control it made
  // with new and does not free it itself; the item frees it when the item is freed (also
  // from the undo list).
  TObject* Control = nullptr;
  bool OwnsControl(TObject* control) const override { return control && control == Control; }

  // The control in the viewer's window (controls that live in windows, see
  // TRVControlWindowing): placed at the item's place (the document top kept in its tag,
  // its top set from the tag when reformat is set) and shown as Visible says.
  void AdjustInserted(int32_t x, int32_t y, bool reformat) override;
  // Hidden and put into the window of the document's viewer (none when detached).
  void Inserting(TCustomRVData* rvdata, AnsiString& text, bool detached) override;
  // Out of the window while the item is in the undo list; back when it returns.
  void MovingToUndoList(int32_t item_no, TCustomRVData* rvdata) override;
  void MovingFromUndoList(int32_t item_no, TCustomRVData* rvdata) override;
  void FocusControl() override;

  // RVItem_control.cpp: the user may resize it; it is shown; its width in percent of the
  // document width (0: its own width). The control's size is read and set through
  // TRVControlSize when the control object implements it.
  bool ResizableFlag = false;
  bool Visible = true;
  int32_t PercentWidth = 0;
  // The draw item's size that AdjustToDocWidth computed for a width in percent (device
  // pixels); the formatting gives it to the draw item.
  int32_t DrawWidth = 0, DrawHeight = 0;
  int32_t GetSpacing() const override { return Spacing; }
  uint8_t GetVAlign() const override { return VAlign; }
  int32_t GetImageWidth(TRVStyle* = nullptr) const override;
  int32_t GetImageHeight(TRVStyle* = nullptr) const override;
  int32_t GetWidth() const override { return GetImageWidth() + 2 * Spacing; }
  int32_t GetHeight() const override { return GetImageHeight() + 2 * Spacing; }
  int32_t GetMinWidth(const TRVScreenAndDevice* sad, TCanvas* canvas, TCustomRVData* rvdata) override;
  void AdjustToDocWidth(int32_t doc_width, TRVDrawLineInfo* dli, bool printing, TCanvas* canvas,
                        TCustomRVData* rvdata, const TRVScreenAndDevice* sad, int32_t& dx, int32_t& descent,
                        bool flag1, bool flag2) override;
  bool GetDrawItemSize(int32_t& width, int32_t& height) const override {
    width = DrawWidth, height = DrawHeight;
    return PercentWidth >= 1 && PercentWidth <= 100;
  }
  bool GetBoolValue(int32_t ordinal) const override;
  bool GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const override;
  void Assign(TPersistent* source) override;
  int32_t GetRVFExtraPropertyCount() const override;
  void SaveRVFExtraProperties(TStream& stream) override;
  bool SetExtraIntProperty(int32_t index, int32_t value) override;
  bool GetExtraIntProperty(int32_t index, int32_t& value) const override;
  // Nothing for a hidden item (the control paints itself); the current-item and selection
  // outlines otherwise.
  void Paint(int32_t x, int32_t y, TCanvas& canvas, uint32_t state, TRVStyle* style, TRVDrawLineInfo* dli) override;
  // The text of the control is the owner's (OnSaveComponentToFile); nothing without one.
  AnsiString AsText(int32_t line_width, TCustomRVData* rvdata, const AnsiString& text, const AnsiString& path,
                    bool text_only, bool unicode) override;
  void SaveToHTML(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text,
                  const AnsiString& path, const AnsiString& images_prefix, int32_t& image_save_no, TColor color,
                  uint32_t save_options, bool use_css) override;
  void SaveRTF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text,
               double twips_per_pixel, int32_t level, TRVColorList& color_list) override;
  // The native format: with rvfoSaveControlsBody (and a control that is a component) the
  // class name and the control in the component streaming follow the name; without, the
  // name alone, and the owner supplies the control when reading (OnRVFControlNeeded).
  void SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, int32_t para_no, const AnsiString& name,
               int32_t part, bool force_same_as_prev) override;
  bool ReadRVFLine(const AnsiString& s, TCustomRVData* rvdata, int32_t& read_state, bool& next_binary,
                   AnsiString& name, int32_t line_no, int32_t line_count, int32_t read_mode) override;
  // The tail is VAlign (0 when missing).
  AnsiString SaveRVFHeaderTail(TCustomRVData* rvdata) override;
  bool ReadRVFHeaderTail(const char*& p, TCustomRVData* rvdata) override;
  // The control's picture for printing, which image_of gives (the print component's image
  // of the control, else the control painting itself): nothing for a hidden item; the
  // picture is centred in bitmap, which grows to at least its size. False without one.
  bool PrintToBitmap(TBitmap& bitmap, const std::function<std::unique_ptr<TBitmap>(TObject*)>& image_of);
 private:
  // The windowing when Control lives in windows (watched from then on), else nullptr.
  TRVControlWindowing* Windowed();
  void HideAndParent(TCustomRVData* rvdata, bool detached);
  // Control := control, the one it replaces freed.
  void TakeControl(TObject* control);
  AnsiString read_class_name_;
  TObject* watched_ = nullptr;
  std::shared_ptr<const bool> watched_alive_;
};

// The size of an inserted control as a control item reads and sets it.
class TRVControlSize {
 public:
  virtual ~TRVControlSize() = default;
  virtual int32_t ControlWidth() const = 0;
  virtual int32_t ControlHeight() const = 0;
  virtual void SetControlWidth(int32_t value) = 0;
};

// What control items do with controls that live in windows: the viewer's library installs
// this for controls that are widgets. Without it (no viewer linked) control items only
// read and set sizes through TRVControlSize.
class TRVControlWindowing {
 public:
  virtual ~TRVControlWindowing() = default;
  // False for a control that has no window of its own: the other calls are not made.
  virtual bool IsWindowed(TObject* control) const = 0;
  virtual bool GetSize(TObject* control, int32_t& width, int32_t& height) const = 0;
  virtual void SetWidth(TObject* control, int32_t width) = 0;
  // parent: what the document's GetParentControl gives (its viewer); nullptr takes the
  // control out of every window.
  virtual void SetParent(TObject* control, TObject* parent) = 0;
  virtual bool HasParent(TObject* control) const = 0;
  virtual void SetVisible(TObject* control, bool visible) = 0;
  // left in window coordinates; top is the control's place in the window as the document
  // gives it, kept in the control's tag; with apply_top the control is moved there
  // (clamped to what the window system can place).
  virtual void Place(TObject* control, int32_t left, int32_t top, bool apply_top) = 0;
  // The control takes the focus by the keyboard (enabled, a tab stop, focusable).
  virtual bool CanFocus(TObject* control) const = 0;
  virtual void Focus(TObject* control) = 0;
  // A flag that stays true while the control exists: a widget its parent window took down
  // with itself is not freed a second time by its item.
  virtual std::shared_ptr<const bool> Watch(TObject* control) = 0;
};
// The installed windowing (nullptr: none) and its installation (returns the previous).
TRVControlWindowing* RVControlWindowing();
TRVControlWindowing* RVSetControlWindowing(TRVControlWindowing* windowing);
class TRVMarkerItemInfo : public TRVRectItemInfo {
 public:
  std::unique_ptr<TCustomRVItemInfo> NewInstance(TCustomRVData* d) const override { return std::make_unique<TRVMarkerItemInfo>(d); }
  using TRVRectItemInfo::TRVRectItemInfo;
  int32_t ListNo = -1;
  int32_t Level = 0;
  int32_t Counter = 1;
  // Numbering restarts here with StartFrom; the text shown; the cached place in the
  // document's marker list (-1 unknown); the size of the last screen pass (RVMarker.h).
  bool Reset = false;
  int32_t StartFrom = 1;
  AnsiString DisplayString;
  int32_t IndexInList = -1;
  int32_t CachedWidth = 0, CachedHeight = 0, CachedDescent = 0, CachedHShift = 0;
  bool NoHTMLImageSize = false;

  // RVMarker.cpp: sized from the level's text, picture or Unicode bullet and its indents.
  int32_t GetWidth() const override { return CachedWidth; }
  int32_t GetHeight() const override { return CachedHeight; }
  int32_t GetHShift() const override { return CachedHShift; }
  int32_t GetSpacing() const override { return CachedDescent; }
  bool GetBoolValue(int32_t ordinal) const override;
  bool GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const override;
  void Assign(TPersistent* source) override;
  int32_t GetMinWidth(const TRVScreenAndDevice* sad, TCanvas* canvas, TCustomRVData* rvdata) override;
  void AdjustToDocWidth(int32_t doc_width, TRVDrawLineInfo* dli, bool printing, TCanvas* canvas,
                        TCustomRVData* rvdata, const TRVScreenAndDevice* sad, int32_t& dx, int32_t& descent,
                        bool flag1, bool flag2) override;
  bool GetDrawItemSize(int32_t& width, int32_t& height) const override;
  // The paragraph style and the list style (ListNo) are marked and renumbered.
  void MarkStylesInUse(TRVDeleteUnusedStylesData& data) override;
  void UpdateStyles(const TRVDeleteUnusedStylesData& data) override;
  // The picture's or the image list's image size (0 for text markers).
  int32_t GetImageWidth(TRVStyle* rvstyle) const override;
  int32_t GetImageHeight(TRVStyle* rvstyle) const override;
  void Paint(int32_t x, int32_t y, TCanvas& canvas, uint32_t state, TRVStyle* style, TRVDrawLineInfo* dli) override;
  AnsiString SaveRVFHeaderTail(TCustomRVData* rvdata) override;
  bool ReadRVFHeaderTail(const char*& p, TCustomRVData* rvdata) override;
  // The marker's text and a space ("* " for picture markers); UTF-16 bytes when unicode.
  AnsiString AsText(int32_t line_width, TCustomRVData* rvdata, const AnsiString& text, const AnsiString& path,
                    bool text_only, bool unicode) override;
  // RVMarker.cpp: output. The native format writes the header and the extra properties (no
  // name line); RTF writes the marker text in a "listtext" group followed by the list
  // override and level; HTML writes the marker inline (markers as text) or nothing (the
  // export writes the list structure).
  int32_t GetRVFExtraPropertyCount() const override;
  void SaveRVFExtraProperties(TStream& stream) override;
  bool SetExtraIntProperty(int32_t index, int32_t value) override;
  bool GetExtraIntProperty(int32_t index, int32_t& value) const override;
  void SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, int32_t para_no, const AnsiString& name,
               int32_t part, bool force_same_as_prev) override;
  void SaveRTF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text,
               double twips_per_pixel, int32_t level, TRVColorList& color_list) override;
  void SaveToHTML(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text,
                  const AnsiString& path, const AnsiString& images_prefix, int32_t& image_save_no, TColor color,
                  uint32_t save_options, bool use_css) override;

 private:
  // The size of the last computation (device pixels): content width and height, the
  // widths before and after the marker's position.
  int32_t draw_width_ = 0, draw_height_ = 0;
  void Measure(TCanvas* canvas, TCustomRVData* rvdata, const TRVScreenAndDevice* sad, int32_t& before,
               int32_t& after, int32_t& height, int32_t& descent, int32_t& d);
};

// ---- Registry and factory ---------------------------------------------------------------------
// The class created for StyleNo >= 0 (replaceable before use).
extern TCustomRVItemInfoClass RVTextItemFactory;

// Registers an item kind below -9. Raises EDocViewError "Can't register DocView item type -
// this StyleNo is already registered" for StyleNo >= -9 or a number taken by another class.
// class_id names the class (the same id again for the same number is accepted).
void RegisterRVItemClass(int32_t style_no, const AnsiString& class_id, TCustomRVItemInfoClass factory);
template <typename T>
void RegisterRVItemClass(int32_t style_no) {
  RegisterRVItemClass(style_no, typeid(T).name(), [](TCustomRVData* d) -> TCustomRVItemInfo* { return new T(d); });
}
// A new item of the kind StyleNo (StyleNo set), nullptr for an unknown kind.
std::unique_ptr<TCustomRVItemInfo> CreateRVItem(int32_t style_no, TCustomRVData* rvdata);
// A copy of source (same class), with a new checkpoint when asked and a copy of the tag.
std::unique_ptr<TCustomRVItemInfo> CreateRVItemCopy(const TCustomRVItemInfo* source, TCustomRVData* rvdata,
                                                    bool copy_checkpoint);

}  // namespace pelvar
