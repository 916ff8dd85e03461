// List markers: the marker list of a document in document order, the numbering of its
// markers per list and level, the text of numbered markers and the binary marker-list
// record of the native format.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/streams.h"
#include "richtext/model/RVItem.h"
#include "richtext/model/RVStyle_list.h"

namespace pelvar {

class TRVMarkerList {
 public:
  std::vector<TRVMarkerItemInfo*> Items;  // not owned (the items belong to their document)
  TRVMarkerList* PrevMarkerList = nullptr;
  int32_t Count() const { return static_cast<int32_t>(Items.size()); }
  TRVMarkerItemInfo* operator[](int32_t i) const { return Items[static_cast<size_t>(i)]; }
};

// Level `level` of list style `list_no` clamped to its last level; nullptr for list_no < 0,
// level < 0 or a style without levels.
TRVListLevel* GetMarkerListLevel(TRVStyle* rvstyle, int32_t list_no, int32_t level);
inline TRVListLevel* GetLevelInfo(const TRVMarkerItemInfo* marker, TRVStyle* rvstyle) {
  return GetMarkerListLevel(rvstyle, marker->ListNo, marker->Level);
}

int32_t GetIndexInList(TRVMarkerItemInfo* marker, const TRVMarkerList* list);
int32_t InsertMarker(TRVMarkerList& list, TRVMarkerItemInfo* marker, TRVMarkerItemInfo* prev_marker);
// Renumbers the markers of the list of the marker at from_index, from there on.
void RecalcCounters(TRVMarkerList& list, int32_t from_index, TRVStyle* rvstyle);
// The nearest marker before index (in list, then in the lists before it) of the same list
// style with a smaller level.
bool FindPrevOuterMarker(const TRVMarkerList* list, int32_t index, TRVMarkerItemInfo* marker,
                         const TRVMarkerList*& found_list, int32_t& found_index);

// The text of a counter in a list type: decimal, letters (bijective base 26, empty for
// n <= 0), Roman numerals ("?" for n < 1); empty for other types.
AnsiString RVGetCounterText(int32_t number, TRVListType type);
// A level's format string with string arguments ("%s", "%n:s", width and precision): argument
// n is the counter text of level n.
AnsiString RVFormatLevelString(const AnsiString& format, const std::vector<AnsiString>& args);
// The text of the numbered marker at index of list.
AnsiString RVGetMarkerText(const TRVMarkerList& list, int32_t index, TRVStyle* rvstyle);
// Fills a marker's DisplayString from its level.
void RVUpdateDisplayString(const TRVMarkerList& list, int32_t index, TRVStyle* rvstyle);

// The list tags between two list paragraphs: closes the levels from from_level down to
// to_level + 1 and opens those from from_level + 1 up to to_level, then CR LF when the
// levels differ.
void WriteHTMLListTags(TStream& stream, TRVListInfo* list, int32_t from_level, int32_t to_level, bool use_css);

// The image of an image-list level that the marker shows: ImageIndex, or for a counter level
// ImageIndex + Counter - 1; -1 when that lies outside the 32-bit range.
int32_t RVMarkerImageIndex(const TRVMarkerItemInfo* marker, const TRVListLevel* level);
// The HTML location of the picture of a picture or image-list level (empty when there is
// none): the owner's (DoHTMLSaveImage), else a picture file on the colour given, written once
// per export for the same image and colour (the absolute root's HTMLBullets while an export
// runs). A level picture that cannot be drawn here (an encoded picture) is written in its
// own format instead of being redrawn.
AnsiString RVMarkerImageLocation(TRVMarkerItemInfo* marker, TRVListLevel* level, TCustomRVData* rvdata,
                                 int32_t item_no, const AnsiString& path, const AnsiString& images_prefix,
                                 int32_t& image_save_no, TColor color, uint32_t save_options);

// Renumbers every list of a document's marker list (after markers came or went).
void RVRecalcDocumentMarkers(TCustomRVData* rvdata);

// While one lives, renumbering the markers of a document (the absolute root of the one
// given) is put off and done once when the last one for that document ends: an import
// that adds thousands of markers renumbers them once, not after each. Nothing may read the
// document's counters in between.
class TRVMarkerRecalcBatch {
 public:
  explicit TRVMarkerRecalcBatch(TCustomRVData* rvdata);
  ~TRVMarkerRecalcBatch();
  TRVMarkerRecalcBatch(const TRVMarkerRecalcBatch&) = delete;
  TRVMarkerRecalcBatch& operator=(const TRVMarkerRecalcBatch&) = delete;

 private:
  TCustomRVData* root_;
};

// The binary record of the first count markers: [size] 0, count, then per marker ListNo,
// Level, Reset (1 byte), StartFrom, Counter.
void WriteMarkerList(const TRVMarkerList& list, TStream& stream, int32_t count, bool with_size);
// Reads markers created for rvdata (owned by the caller through `owned`).
void ReadMarkerList(TRVMarkerList& list, TStream& stream, TCustomRVData* rvdata, bool with_size,
                    std::vector<std::unique_ptr<TRVMarkerItemInfo>>& owned);

// The record without its size as one hex line of the native format, and the record read
// back from that hex text or from its raw bytes (EDocViewError when it is not one).
void WriteMarkerListHex(const TRVMarkerList& list, TStream& stream, int32_t count);
void ReadMarkerListFromHex(TRVMarkerList& list, const AnsiString& hex, TCustomRVData* rvdata,
                           std::vector<std::unique_ptr<TRVMarkerItemInfo>>& owned);
void ReadMarkerListFromString(TRVMarkerList& list, const AnsiString& s, TCustomRVData* rvdata,
                              std::vector<std::unique_ptr<TRVMarkerItemInfo>>& owned);

}  // namespace pelvar
