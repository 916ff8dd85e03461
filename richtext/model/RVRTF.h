// The event-driven RTF reader of the rich-text family. It splits an RTF byte stream into
// control words, control symbols, groups and text, resolves every control word through a
// fixed keyword table, keeps a stack of group states and the document tables (fonts,
// colours, style sheet, lists, list overrides), and hands text runs, pictures, objects,
// table structure, marker updates, header/footer regions and page breaks to its owner
// through events. It builds no document itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/classes.h"
#include "platform/graphics.h"
#include "platform/streams.h"
#include "platform/types.h"

namespace pelvar {

class TGraphic;  // the pictures the reader makes (RVGraphics.h)

// A list that owns its objects (what the family's TRVList is for these tables).
template <class T>
class TRVRTFOwnedList {
 public:
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  T* Items(int32_t i) const { return items_.at(static_cast<size_t>(i)).get(); }
  T* Last() const { return items_.empty() ? nullptr : items_.back().get(); }
  T* Add() {
    items_.push_back(std::make_unique<T>());
    return items_.back().get();
  }
  void Delete(int32_t i) { items_.erase(items_.begin() + i); }
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<T>> items_;
};

// ---- Enumerations and result codes ---------------------------------------------------

enum TRVRTFPosition : uint8_t { rtf_ts_ContinuePara = 0, rtf_ts_NewLine = 1, rtf_ts_NewPara = 2 };
enum TRVRTFProgressStage : uint8_t { rvprtfprStarting, rvprtfprRunning, rvprtfprEnding };
enum TRVRTFHighlightConvert : uint8_t { rtf_hl_Ignore, rtf_hl_FixedColors, rtf_hl_ColorTable };
enum TRVRTFTableEventKind : uint8_t {
  rvf_tbl_TableStart,
  rvf_tbl_TableEnd,
  rvf_tbl_RowEnd,
  rvf_tbl_CellEnd
};
enum TRVRTFHeaderFooterType : uint8_t { rtf_hf_MainText, rtf_hf_Header, rtf_hf_Footer };

// Result codes of TRVRTFReader::Parse.
constexpr uint8_t rtf_ec_OK = 0;
constexpr uint8_t rtf_ec_StackUnderflow = 1;     // "}" without "{"
constexpr uint8_t rtf_ec_StackOverflow = 2;      // a group state could not be created
constexpr uint8_t rtf_ec_UnmatchedBrace = 3;     // input ended inside an open group
constexpr uint8_t rtf_ec_InvalidHex = 4;         // not a hex digit after "\'"
constexpr uint8_t rtf_ec_BadTable = 5;           // unknown special or property code
constexpr uint8_t rtf_ec_Assertion = 6;          // invalid internal input state
constexpr uint8_t rtf_ec_EndOfFile = 7;          // input ended right after a backslash
constexpr uint8_t rtf_ec_Exception = 9;          // an exception escaped the parser
constexpr uint8_t rtf_ec_InvalidPicture = 10;    // invalid picture or object data
constexpr uint8_t rtf_ec_Aborted = 11;           // an event handler raised

// Deepest group nesting the reader accepts; deeper input ends with rtf_ec_StackOverflow.
constexpr int32_t RTF_MAX_GROUP_DEPTH = 1000;
// Deepest table nesting ("itap") the reader opens.
constexpr int32_t RTF_MAX_TABLE_NESTING = 64;
// Most tab stops of a paragraph and cells of a row the reader keeps; further "tx" and
// "cellx" words are ignored. Every group copies these lists, so they are bounded.
constexpr int32_t RTF_MAX_TABS = 256;
constexpr int32_t RTF_MAX_ROW_CELLS = 256;
// Largest display width or height (pixels) the reader gives a picture.
constexpr int32_t RTF_MAX_PICTURE_SIZE = 32767;
// Bounds of the parameters of length and size words (twips, percent, half-points): larger
// values are taken as these.
constexpr int32_t RTF_MAX_MEASURE = 1 << 22;
constexpr int32_t RTF_MAX_FONT_HALF_POINTS = 3276;

// Font style bits of character properties, markers and list levels.
constexpr uint8_t rtf_fs_Bold = 1, rtf_fs_Italic = 2, rtf_fs_Underline = 4, rtf_fs_StrikeOut = 8;
// Fixed-set bits of marker properties.
constexpr uint8_t rtf_mf_Font = 1, rtf_mf_Size = 2, rtf_mf_Color = 4;

// Destinations: where text goes and how keywords act.
enum TRVRTFDestination : uint8_t {
  rdsNorm, rdsSkip, rdsFontTable, rdsStyleSheet, rdsColorTable, rdsStyleSheetEntry,
  rdsPict, rdsShpPict, rdsObject, rdsObjData, rdsField, rdsFldInst,
  rdsPN, rdsPNTextAfter, rdsPNTextBefore, rdsPNSecLvl,
  rdsListTable, rdsList, rdsListLevel, rdsListName, rdsLevelText, rdsLevelNumbers,
  rdsLOTable, rdsLO, rdsLOLevel,
  // destination words that are not a destination of their own
  rdsNonShpPict, rdsResult, rdsFldRslt, rdsNestTableProps, rdsHeader, rdsFooter
};

// Input states of a group.
enum TRVRTFInputState : uint8_t { rtf_is_Normal = 0, rtf_is_Binary = 1, rtf_is_Hex = 2 };

// Which border the border words address.
enum TRVRTFBorderType : uint8_t { rtf_bt_Para = 0, rtf_bt_Row = 1, rtf_bt_Cell = 2 };

// ---- Document tables ---------------------------------------------------------------

class TRVRTFFont {
 public:
  int32_t Number = 0;
  AnsiString Name;
  uint8_t Family = 0;   // 0 fnil .. 7 fbidi
  uint8_t Charset = 1;  // DEFAULT_CHARSET
};
using TRVRTFFontList = TRVRTFOwnedList<TRVRTFFont>;

// Colour table; clWindowText marks an "auto" entry.
class TRVRTFColorList {
 public:
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TColor Items(int32_t i) const { return items_.at(static_cast<size_t>(i)); }
  TColor& operator[](int32_t i) { return items_.at(static_cast<size_t>(i)); }
  void Add(TColor c) { items_.push_back(c); }
  void DeleteLast() {
    if (!items_.empty()) items_.pop_back();
  }
  void Clear() { items_.clear(); }
  bool ValidIndex(int32_t i) const { return i >= 0 && i < Count(); }

 private:
  std::vector<TColor> items_;
};

class TRVRTFBorderSide {
 public:
  uint8_t Style = 0;
  int32_t Width = 0;
  TColor Color = clNone;
  int32_t Spacing = 0;
  void Reset() { *this = TRVRTFBorderSide(); }
};

// Four border sides (left, top, right, bottom), each created on first access.
class TRVRTFParaBorder {
 public:
  TRVRTFBorderSide& Side(int32_t i);            // creates the side on demand
  const TRVRTFBorderSide* SideOrNull(int32_t i) const;
  void Reset();
  void Assign(const TRVRTFParaBorder& src);
  bool HasVisibleSide() const;

 private:
  std::unique_ptr<TRVRTFBorderSide> sides_[4];
};

class TRVRTFCharProperties {
 public:
  bool Hidden = false;
  int32_t Size = 12;                  // points
  TColor Color = clWindowText;
  TColor BackColor = clNone;
  int32_t FontIndex = 0;
  uint8_t FontStyle = 0;              // rtf_fs_ bits
  uint8_t FontStyleEx = 0;            // bit 0 all capitals
  int32_t HScale = 100;               // percent
  uint8_t VShift = 0;                 // 0 normal, 1 subscript, 2 superscript
  int32_t CharSpacing = 0;            // twips
  int32_t Language = 0;
  AnsiString FontNameOverride;        // only while a SYMBOL field is delivered
  void Reset(int32_t language, int32_t fontIndex);
  void Assign(const TRVRTFCharProperties& src);  // all but language and override
};

class TRVRTFTab {
 public:
  int32_t Position = 0;
  uint8_t Kind = 0;     // 0 left, 1 right, 2 centre, 3 decimal
  uint8_t Leader = 0;   // 0 none, 1 dot, 2 middle dot, 3 hyphen, 4 underline, 5 equals
  bool IsListTab = false;
};
using TRVRTFTabList = TRVRTFOwnedList<TRVRTFTab>;

class TRVRTFCustomMarkerProperties {
 public:
  virtual ~TRVRTFCustomMarkerProperties() = default;
  uint8_t ListType = 0;   // 0 bullet/none, 1 decimal, 2 lower letter, 3 upper letter,
                          // 4 lower roman, 5 upper roman, 6 bullet from a list level
  int32_t FontIndex = -1;
  int32_t Indent = 0, Space = 0, Start = 0;
  uint8_t FontStyle = 0;
  TColor Color = clWindowText;
  uint8_t Alignment = 0;  // 0 left, 1 right, 2 centre
  uint8_t FixedProperties = 0;
  int32_t FontSize = 12;
  virtual void Reset();
  void TakeCharFormatting(const TRVRTFCharProperties& cp);
};

class TRVRTFMarkerProperties : public TRVRTFCustomMarkerProperties {
 public:
  int32_t Level = 0;
  bool Hanging = false;
  AnsiString TextAfter, TextBefore;
  void Reset() override;
  void CopyFrom(const TRVRTFMarkerProperties& src, bool keepFixed);
};

class TRVRTFParaProperties {
 public:
  int32_t LeftIndent = 0, RightIndent = 0, FirstIndent = 0, SpaceBefore = 0, SpaceAfter = 0;
  uint8_t Alignment = 0;      // 0 left, 1 right, 2 centre, 3 justified
  uint8_t CurBorderSide = 0;
  int32_t LineSpacing = 240;
  uint8_t LineSpacingMulti = 1;
  TColor Color = clNone;
  int32_t NestingLevel = 1;
  bool InTable = false;
  int32_t Shading = 0;        // hundredths of a percent
  TColor ForeColor = 0;       // pattern colour
  int32_t ListOverrideIndex = -1;
  int32_t ListLevel = 0;
  bool KeepLinesTogether = false, KeepWithNext = false, NoOverlap = false;
  bool TabsFinalized = false;

  TRVRTFParaBorder& Border();                       // created on demand
  const TRVRTFParaBorder* BorderOrNull() const { return border_.get(); }
  TRVRTFMarkerProperties& Marker();                 // created on demand
  TRVRTFMarkerProperties* MarkerOrNull() const { return marker_.get(); }
  TRVRTFTabList& Tabs();                            // created on demand
  TRVRTFTabList* TabsOrNull() const { return tabs_.get(); }
  bool HasBorder() const { return border_ && border_->HasVisibleSide(); }

  void Reset();
  void Assign(const TRVRTFParaProperties& src);
  // Applies shading and the tab clean-up once (before text, pictures and objects).
  void Finalize();

 private:
  std::unique_ptr<TRVRTFParaBorder> border_;
  std::unique_ptr<TRVRTFMarkerProperties> marker_;
  std::unique_ptr<TRVRTFTabList> tabs_;
};

class TRVRTFSectionProperties {
 public:
  int32_t ColumnCount = 1;
  uint8_t SectionBreak = 4;   // 0 none, 1 column, 2 even, 3 odd, 4 page
  int32_t PageNumberX = 720, PageNumberY = 720;
  uint8_t PageNumberFormat = 0;
  int32_t HeaderY = 720, FooterY = 720;
  // Numbering defaults for levels 1 to 11 (index L - 1); created on first use.
  TRVRTFMarkerProperties& NumberingDefault(int32_t level);  // raises outside 1..11
  bool HasNumberingDefaults() const { return !defaults_.empty(); }
  void Reset();
  void Assign(const TRVRTFSectionProperties& src);

 private:
  std::vector<std::unique_ptr<TRVRTFMarkerProperties>> defaults_;
};

class TRVRTFDocProperties {
 public:
  int32_t PaperWidth = 12240, PaperHeight = 15480;
  int32_t LeftMargin = 1800, TopMargin = 1440, RightMargin = 1800, BottomMargin = 1440;
  int32_t PageNumberStart = 1;
  bool FacingPages = false, Landscape = false;
  void Reset() { *this = TRVRTFDocProperties(); }
};

class TRVRTFCellProperties {
 public:
  uint8_t HMerge = 0, VMerge = 0;  // 0 none, 1 first, 2 merged into previous
  bool BestWidthInPercent = false;
  int32_t BestWidth = 0;           // twips, or minus fiftieths of a percent
  TColor Color = clNone;
  uint8_t VAlign = 0;              // 0 top, 1 bottom, 2 centre
  TRVRTFParaBorder Border;
  uint8_t CurBorderSide = 0;
  int32_t RightBoundary = 0;
  TColor ForeColor = 0;
  int32_t Shading = 0;
  int32_t BestHeight = 0;
  void Assign(const TRVRTFCellProperties& src);  // all but the percent flag
};
using TRVRTFCellPropsList = TRVRTFOwnedList<TRVRTFCellProperties>;

class TRVRTFRowProperties {
 public:
  TRVRTFRowProperties() { Reset(); }
  bool BestWidthInPercent = false;
  bool Heading = false;
  int32_t GapH = 0, Left = 0, Height = 0, BestWidth = 0;
  TRVRTFParaBorder Border;
  uint8_t CurBorderSide = 0;
  TRVRTFCellPropsList Cells;
  bool CellsNeedFinalizing = true, LastCellOpen = true, UseOwnExtensions = false;
  // left, top, right, bottom
  int32_t Padding[4] = {0, 0, 0, 0};
  int32_t Spacing[4] = {0, 0, 0, 0};
  bool PaddingGiven[4] = {false, false, false, false};
  bool SpacingGiven[4] = {false, false, false, false};
  TRVRTFCellProperties& OpenCell();  // the last cell
  void Reset();                      // "trowd"
  void Assign(const TRVRTFRowProperties& src);
  void Finalize();                   // at "row"
};

class TRVRTFStyleSheetEntry {
 public:
  TRVRTFParaProperties ParaProps;
  TRVRTFCharProperties CharProps;
  bool Additive = false, Hidden = false;
  int32_t Number = 0;
  uint8_t StyleType = 1;                   // 0 character, 1 paragraph, 2 section
  TRVRTFStyleSheetEntry* BasedOn = nullptr;
  TRVRTFStyleSheetEntry* Next = this;
  AnsiString Name;
};
using TRVRTFStyleSheet = TRVRTFOwnedList<TRVRTFStyleSheetEntry>;

class TRVRTFListLevel97 : public TRVRTFCustomMarkerProperties {
 public:
  bool Old = false, Legal = false, NoRestart = false;
  AnsiString Text, Numbers;
  WideString TextW;
  uint8_t Follow = 0;
  int32_t LeftIndent = 0, FirstIndent = 0, TabPos = 0;
  bool FontSizeDefined = false;
  bool IndentsUpdated = false;
  void Reset() override;
};

class TRVRTFList97 : public TRVRTFOwnedList<TRVRTFListLevel97> {
 public:
  int32_t Id = 0, TemplateId = 0;
  bool Simple = false;
  AnsiString Name;
};
using TRVRTFListTable97 = TRVRTFOwnedList<TRVRTFList97>;

class TRVRTFListOverrideLevel97 {
 public:
  bool UseStart = false;
  int32_t Start = 1;
};

class TRVRTFListOverride97 : public TRVRTFOwnedList<TRVRTFListOverrideLevel97> {
 public:
  int32_t ListIndex = -1, Number = 0, OverrideCount = 0;
};
using TRVRTFListOverrideTable97 = TRVRTFOwnedList<TRVRTFListOverride97>;

// ---- Pictures and objects ------------------------------------------------------------

class TRVRTFPicture {
 public:
  uint8_t PicType = 0;       // 0 emf, 1 png, 2 jpeg, 3 macpict, 4 pmmetafile, 5 wmf, 6 dib, 7 ddb
  int32_t MetafileMapMode = 0;
  int32_t PicW = 0, PicH = 0, PicWGoal = 0, PicHGoal = 0;
  int32_t PicScaleX = 100, PicScaleY = 100;
  int32_t WBMWidthBytes = 0, WBMBitsPixel = 1, WBMPlanes = 1;
  bool MetafileWithBitmap = false;
  bool ShpPict = false;
  TMemoryStream Data;
  int32_t SuggestedWidth = 0, SuggestedHeight = 0;  // pixels
};

class TRVRTFObject {
 public:
  uint8_t ObjType = 0;
  TMemoryStream Data;
  int32_t Width = 0, Height = 0;
};

// ---- Group state -------------------------------------------------------------------

class TRVRTFReaderState {
 public:
  TRVRTFReaderState();
  int32_t DefLanguage = 0;
  TRVRTFCharProperties CharProps;
  TRVRTFParaProperties ParaProps;
  TRVRTFSectionProperties SectProps;
  TRVRTFDocProperties DocProps;
  TRVRTFRowProperties& RowProps();             // created on first use
  TRVRTFRowProperties* RowPropsOrNull() const { return row_.get(); }
  uint8_t BorderType = rtf_bt_Para;
  TRVRTFDestination Destination = rdsNorm;
  TRVRTFInputState InputState = rtf_is_Normal;
  AnsiString FieldCode;
  bool FieldPictureIncluded = false;
  int32_t DefFontNumber = 0;
  int32_t DefFontIndex = -1;
  TRVRTFHeaderFooterType HFType = rtf_hf_MainText;
  int32_t UnicodeSkipWidth = 1;  // "uc": group-scoped like any other property

  void Reset();
  // The copy made on "{" and restored on "}".
  void Assign(const TRVRTFReaderState& src);

 private:
  std::unique_ptr<TRVRTFRowProperties> row_;
};

// One record of the keyword table.
enum TRVRTFKeywordType : uint8_t {
  rtf_kwd_Char = 0,
  rtf_kwd_WideChar = 1,
  rtf_kwd_Dest = 2,
  rtf_kwd_Prop = 3,
  rtf_kwd_Spec = 4
};

struct TRVRTFsymbol {
  const char* Keyword;
  int32_t DefValue;
  bool UseDef;
  TRVRTFKeywordType Kind;
  int32_t Index;  // character code, destination or property code
  int32_t Affect; // 0 none, 1 character formatting, 2 paragraph formatting
};

// The keyword table, sorted by word (ordinal, case-sensitive); for tests and tools.
const std::vector<TRVRTFsymbol>& RTFKeywordTable();
// Binary search in the sorted table; nullptr when the word is unknown.
const TRVRTFsymbol* RTFFindKeyword(const std::string& word);

// ---- The reader ----------------------------------------------------------------------

class TRVRTFReader;
using TRVRTFNewTextEvent =
    std::function<void(TRVRTFReader* sender, const AnsiString& text, TRVRTFPosition position)>;
using TRVRTFNewUnicodeTextEvent =
    std::function<void(TRVRTFReader* sender, const WideString& text, TRVRTFPosition position)>;
using TRVRTFNewPictureEvent =
    std::function<void(TRVRTFReader* sender, TRVRTFPicture* picture, TGraphic* graphic,
                       TRVRTFPosition position, const AnsiString& fileName, bool& inserted)>;
using TRVRTFNewObjectEvent = std::function<void(TRVRTFReader* sender, TRVRTFObject* object,
                                                TRVRTFPosition position, bool& inserted)>;
using TRVRTFTableEvent = std::function<void(TRVRTFReader* sender, TRVRTFTableEventKind what)>;
using TRVRTFHeaderFooterEvent = std::function<void(TRVRTFReader* sender, TRVRTFHeaderFooterType hf,
                                                   bool starting, bool& supported)>;
using TRVRTFImportPictureEvent = std::function<void(TRVRTFReader* sender, const AnsiString& location,
                                                    TGraphic*& graphic, bool& invalid)>;
using TRVRTFTranslateKeywordEvent =
    std::function<void(TRVRTFReader* sender, const AnsiString& keyword, int32_t param, bool fParam,
                       AnsiString& text, bool& doDefault)>;
using TRVRTFProgressEvent =
    std::function<void(TRVRTFReader* sender, TRVRTFProgressStage stage, uint8_t percentDone)>;
using TRVRTFNotifyEvent = std::function<void(TRVRTFReader* sender)>;

class TRVRTFReader : public TComponent {
 public:
  explicit TRVRTFReader(TComponent* owner);
  ~TRVRTFReader() override;

  // Published properties.
  uint32_t DefCodePage() const { return defCodePage_; }
  void SetDefCodePage(uint32_t v) { defCodePage_ = v; }
  TRVRTFHighlightConvert ConvertHighlight() const { return convertHighlight_; }
  void SetConvertHighlight(TRVRTFHighlightConvert v) { convertHighlight_ = v; }
  bool ExtractMetafileBitmaps() const { return extractMetafileBitmaps_; }
  void SetExtractMetafileBitmaps(bool v) { extractMetafileBitmaps_ = v; }
  int32_t PixelsPerInch() const { return pixelsPerInch_; }
  void SetPixelsPerInch(int32_t v) { pixelsPerInch_ = v; }
  // When on, a tab character is delivered as a text run of its own.
  bool TabAsSeparateChar() const { return tabAsSeparateChar_; }
  void SetTabAsSeparateChar(bool v) { tabAsSeparateChar_ = v; }

  // Published events.
  TRVRTFNewTextEvent OnNewText;
  TRVRTFNewUnicodeTextEvent OnNewUnicodeText;
  TRVRTFNewPictureEvent OnNewPicture;
  TRVRTFNewObjectEvent OnNewObject;
  TRVRTFNotifyEvent OnUpdateMarker;
  TRVRTFTableEvent OnTable;
  TRVRTFNotifyEvent OnRequiredPageBreak;
  TRVRTFHeaderFooterEvent OnHeaderFooter;
  TRVRTFImportPictureEvent OnImportPicture;
  TRVRTFTranslateKeywordEvent OnTranslateKeyword;
  TRVRTFProgressEvent OnProgress;
  TRVRTFNotifyEvent OnEndParsing;

  void Reset();
  uint8_t Parse(TStream& stream);

  // Read access for event handlers; the tables stay readable after Parse.
  const TRVRTFFontList& FontTable() const { return fontTable_; }
  const TRVRTFColorList& ColorTable() const { return colorTable_; }
  const TRVRTFStyleSheet& StyleSheet() const { return styleSheet_; }
  const TRVRTFListTable97& ListTable() const { return listTable_; }
  const TRVRTFListOverrideTable97& ListOverrideTable() const { return listOverrideTable_; }
  TRVRTFReaderState& GroupState() { return *state_; }
  const TRVRTFReaderState& GroupState() const { return *state_; }
  uint32_t CodePageInUse() const { return codePage_; }
  const AnsiString& PictureBasePath() const { return pictureBasePath_; }
  // The folder linked pictures (INCLUDEPICTURE, IMPORT) may be loaded from; empty (the
  // default): none are loaded.
  const AnsiString& PictureAllowedFolder() const { return pictureAllowedFolder_; }
  void SetPictureAllowedFolder(const AnsiString& v) { pictureAllowedFolder_ = v; }
  bool LinkedPictureAllowed(const AnsiString& location) const;
  void SetPictureBasePath(const AnsiString& v) { pictureBasePath_ = v; }
  uint8_t RowAlignment() const { return rowAlign_; }
  bool RowAlignmentGiven() const { return rowAlignGiven_; }
  int32_t TableLevel() const { return tableLevel_; }

  int32_t FontIndexOf(int32_t number, int32_t defNumber) const;

  // Code-page conversions (glibc iconv); code page 0 is the system's ANSI code page
  // (Windows-1250). Unconvertible characters become '?'.
  static WideString AnsiToWide(const AnsiString& text, uint32_t codePage);
  static AnsiString WideToAnsi(const WideString& text, uint32_t codePage);
  AnsiString WideToAnsi(const WideString& text) const { return WideToAnsi(text, codePage_); }

 private:
  // input
  bool GetByte(uint8_t& b);
  void UngetByte() { pushedBack_ = true; }
  uint8_t ParseLoop();
  uint8_t ParseKeyword();
  uint8_t TranslateKeyword(const std::string& word, int32_t param, bool fParam);
  uint8_t ParseChar(uint8_t b);
  uint8_t PassCharToDest(uint8_t b);
  uint8_t PushState();
  uint8_t PopState();
  uint8_t ChangeDest(TRVRTFDestination dest);
  uint8_t EndGroupAction(TRVRTFDestination dest);
  uint8_t ApplyProperty(int32_t code, int32_t value, bool fParam, int32_t param);
  uint8_t ApplyUnicode(int32_t value);
  uint8_t ApplyPNProperty(TRVRTFMarkerProperties& m, int32_t code, int32_t value);
  uint8_t ApplyGeneralProperty(int32_t code, int32_t value);
  uint8_t ApplyListLevelProperty(int32_t code, int32_t value);
  // text
  uint8_t AppendAnsi(uint8_t b);
  uint8_t AppendWide(char16_t c);
  uint8_t FlushText(int32_t nextPos, bool tableUpdate, bool allowClose);
  void UpdateTableLevel(bool allowClose);
  void FireTable(TRVRTFTableEventKind kind);
  void UpdateMarker();
  // pictures and objects
  uint8_t ReadPictureHex(uint8_t first);
  uint8_t EndPicture();
  std::unique_ptr<TGraphic> MakePictureGraphic(TRVRTFPicture& pic);
  uint8_t EndObjectData();
  uint8_t EndFieldInstruction();
  // A linked picture's graphic: the import handler's, else the file read here; none outside
  // the allowed folder.
  std::unique_ptr<TGraphic> LoadLinkedPicture(const AnsiString& location, bool& invalid);
  // Offers the field's invalid linked picture (if any) to OnNewPicture and forgets it.
  uint8_t OfferInvalidFieldPicture();
  int32_t DefFontIndex();
  TRVRTFBorderSide* BorderTargetSide();

  uint32_t defCodePage_ = 0;
  TRVRTFHighlightConvert convertHighlight_ = rtf_hl_FixedColors;
  bool extractMetafileBitmaps_ = true;
  int32_t pixelsPerInch_ = 0;
  bool tabAsSeparateChar_ = false;

  TStream* stream_ = nullptr;
  int64_t streamSize_ = 0;
  std::string buffer_;
  size_t bufLen_ = 0, bufPos_ = 0;
  uint8_t lastByte_ = 0;
  bool pushedBack_ = false;
  bool progress_ = false;

  AnsiString pendingText_;
  WideString pendingTextW_;

  TRVRTFFontList fontTable_;
  TRVRTFColorList colorTable_;
  bool colorPending_ = false;  // the last colour entry was opened by ';' and got no colour
  TRVRTFStyleSheet styleSheet_;
  TRVRTFListTable97 listTable_;
  TRVRTFListOverrideTable97 listOverrideTable_;
  std::unique_ptr<TRVRTFReaderState> state_;
  std::vector<std::unique_ptr<TRVRTFReaderState>> stack_;

  std::unique_ptr<TRVRTFPicture> picture_;
  // A linked picture of the current field that loaded but was marked invalid: shown when
  // the field's result brings no picture that is taken.
  std::unique_ptr<TGraphic> invalidFieldPicture_;
  std::unique_ptr<TRVRTFObject> object_;
  std::unique_ptr<TRVRTFMarkerProperties> pendingMarker_;

  uint32_t codePage_ = 0;
  int32_t skipCount_ = 0;
  int32_t tableLevel_ = 0;
  int32_t pnSecLevel_ = 0;
  AnsiString pictureBasePath_;
  AnsiString pictureAllowedFolder_;
  bool skipNonShpPict_ = false, skipResult_ = false;
  bool forceFlush_ = false;
  TRVRTFPosition position_ = rtf_ts_NewPara;
  int32_t depth_ = 0;
  int32_t binRemaining_ = 0;
  int32_t lastParam_ = 0;
  uint8_t hexValue_ = 0;
  int32_t hexCount_ = 0;          // digits of a "\'" escape read so far
  uint8_t dataNibble_ = 0;
  bool dataHighPhase_ = true;     // object data: next digit is the high nibble
  bool skipDestIfUnknown_ = false;
  uint8_t rowAlign_ = 0;
  bool rowAlignGiven_ = false;
};

}  // namespace pelvar
