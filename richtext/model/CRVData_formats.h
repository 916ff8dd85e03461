// Types of the document's output formats: the layout block of the native format and the
// font table of the RTF writer.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/streams.h"
#include "platform/types.h"
#include "richtext/model/CRVData.h"

namespace pelvar {

class TRVListLevel;

// Warnings of the native-format reader (GetRVFWarnings).
constexpr uint32_t rvfwUnknownPicFmt = 1;
constexpr uint32_t rvfwUnknownCtrls = 2;
constexpr uint32_t rvfwConvUnknownStyles = 4;
constexpr uint32_t rvfwConvLargeImageIdx = 8;
constexpr uint32_t rvfwConvToUnicode = 16;
constexpr uint32_t rvfwConvFromUnicode = 32;
constexpr uint32_t rvfwInvalidStyles = 128;

// The owning control's layout as the native format stores it.
class TRVLayoutInfo : public TObject {
 public:
  TRVLayoutInfo() = default;
  bool Loaded = false;
  int32_t LeftMargin = 0, RightMargin = 0, TopMargin = 0, BottomMargin = 0;
  int32_t MinTextWidth = 0, MaxTextWidth = 0;
  TRVBiDiMode BiDiMode = rvbdUnspecified;
  int32_t FirstParaPartial = 0, LastParaPartial = 0;
  int32_t FirstParaListNo = -1, FirstParaListLevel = 0;

  // with_size: a 32-bit size prefix (L + 8) first, as in the binary form.
  void SaveToStream(TStream& stream, bool with_size) const;
  // Raises EDocViewError "Invalid RVF format" for a length below 25.
  void LoadFromStream(TStream& stream, bool with_size);
  void SaveTextToStream(TStream& stream) const;
  void LoadText(const AnsiString& hex);
  void LoadBinary(const AnsiString& bytes);
};

struct TRVRTFFontTableItem {
  AnsiString FontName;
  int32_t Charset = 0;
};

// Fonts of an RTF output: a font is its name (compared ignoring case) plus its charset; the
// RTF font number is the index.
class TRVRTFFontTable {
 public:
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  const TRVRTFFontTableItem& Items(int32_t i) const { return items_.at(static_cast<size_t>(i)); }
  int32_t Find(const AnsiString& name, int32_t charset) const;
  int32_t AddUnique(const AnsiString& name, int32_t charset);

 private:
  std::vector<TRVRTFFontTableItem> items_;
};

// The tables of the RTF output being written (set by the outermost SaveRTFToStream for its
// duration), for items that write sub-documents of their own: nil outside an RTF export.
struct TRVRTFSaveTables {
  AnsiString Path;
  TRVRTFFontTable* FontTable = nullptr;
  TRVIntegerList* FontNumbers = nullptr;
  TRVIntegerList* OverrideCounts = nullptr;
  TRVIntegerList* ListIds = nullptr;
  TRVColorList* ColorList = nullptr;
  // Per list style: the \ls number of the last restarting marker written (starts at the
  // list's first \ls number); the charset of text style 0.
  TRVIntegerList* OverrideCounters = nullptr;
  int32_t Charset0 = 0;
};
const TRVRTFSaveTables* RVCurrentRTFTables();
// The RTF font properties of a list level's marker font in the output being written: font
// number, style, size, language and colour.
AnsiString RVRTFLevelFontProps(const TRVRTFSaveTables& tables, TRVListLevel* level);
// The \ls number of a marker of list list_no: the list's first number, or for a marker that
// restarts its numbering the next of the numbers the list's overrides took.
int32_t RVRTFOverrideNumber(const TRVRTFSaveTables& tables, int32_t list_no, bool restarting);
// Whether a marker has an override of its own in the RTF list-override table (it restarts a
// numbered list level whose counter is text).
bool RVRTFMarkerHasOwnOverride(const TRVMarkerItemInfo* marker, TRVStyle* style);

// Page breaks become form feeds in text export (family-wide switch, off by default).
extern bool RVPageBreaksAsFormFeeds;

// Text for an HTML attribute value: '&', '<', '>' and '"' as character entities.
AnsiString RV_HTMLEscapeAttrText(const AnsiString& s);

// HTML save options (the caller's 16-bit set).
constexpr uint32_t rvsoOverrideImages = 0x0001;
constexpr uint32_t rvsoFirstOnly = 0x0002;
constexpr uint32_t rvsoMiddleOnly = 0x0004;
constexpr uint32_t rvsoLastOnly = 0x0008;
constexpr uint32_t rvsoDefault0Style = 0x0010;
constexpr uint32_t rvsoNoHypertextImageBorders = 0x0020;
constexpr uint32_t rvsoImageSizes = 0x0040;
constexpr uint32_t rvsoForceNonTextCSS = 0x0080;
constexpr uint32_t rvsoUseCheckpointsNames = 0x0100;
constexpr uint32_t rvsoMarkersAsText = 0x0200;
constexpr uint32_t rvsoInlineCSS = 0x0400;
constexpr uint32_t rvsoNoDefCSSStyle = 0x0800;

}  // namespace pelvar
