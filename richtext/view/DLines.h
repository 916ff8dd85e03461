// The layout of a formatted document: one draw item per fragment of one item on one
// screen line, kept in document order in a list that can leave a reusable hole while a
// range of paragraphs is formatted again. Also the wavy underline of misspelt words.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/canvas.h"
#include "platform/types.h"

namespace pelvar {

class TCustomRVData;

class TRVDrawLineInfo {
 public:
  TRVDrawLineInfo() = default;
  TRVDrawLineInfo(int32_t left, int32_t top, int32_t width, int32_t height, int32_t item_no, bool from_new_line) {
    SetData(left, top, item_no, from_new_line);
    SetSize(width, height);
  }
  virtual ~TRVDrawLineInfo() = default;

  int32_t SpaceBefore = 0;
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t ItemNo = 0;
  int32_t Offs = 0;
  int32_t Length = 0;
  int32_t ExtraSpaceBelow = 0;
  bool FromNewLine = false;

  virtual void SetData(int32_t left, int32_t top, int32_t item_no, bool from_new_line) {
    Left = left;
    Top = top;
    ItemNo = item_no;
    FromNewLine = from_new_line;
  }
  virtual void SetSize(int32_t width, int32_t height) {
    Width = width;
    Height = height;
  }
  // Splitting across printed pages: an ordinary draw item is never split.
  virtual bool InitSplit() { return false; }
  virtual bool CanSplitFirst(int32_t /*y*/) { return false; }
  virtual bool SplitAt(int32_t /*y*/) { return false; }
};

// Owns its draw items. Reserved slots (the hole) hold nullptr.
class TRVDrawLines {
 public:
  int32_t HoleStart = -1;
  int32_t HoleCount = 0;

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TRVDrawLineInfo* GetItem(int32_t index) const { return items_[static_cast<size_t>(index)].get(); }
  TRVDrawLineInfo* operator[](int32_t index) const { return GetItem(index); }
  void Add(std::unique_ptr<TRVDrawLineInfo> item) { items_.push_back(std::move(item)); }
  void Clear();

  void ReserveRange(int32_t first, int32_t last);
  void InsertDrawItem(int32_t index, std::unique_ptr<TRVDrawLineInfo> item);
  void DeleteDrawItem(int32_t index);
  void DropReserved();

  // The characters of draw item d_item_no (text of its item from Offs, Length characters).
  AnsiString GetSubString(int32_t d_item_no, TCustomRVData* rvdata) const;
  // count characters from the from-th (1-based) character of the draw item, clipped to it.
  AnsiString GetSubStringPart(int32_t d_item_no, TCustomRVData* rvdata, int32_t from, int32_t count) const;

 private:
  std::vector<std::unique_ptr<TRVDrawLineInfo>> items_;
};

// The wavy mark under the misspelt characters occupying rect (client coordinates) in the
// given colour: points zigzag every 2 pixels, at most 1024 points.
void RVDrawMisspelling(TCanvas& canvas, const TRect& rect, TColor color);

}  // namespace pelvar
