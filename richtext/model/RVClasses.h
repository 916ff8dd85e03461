// The base containers of the rich-text family (an owning object list, a list of 32-bit
// integers, a list of colours) and the two similarity scores with which a style sheet
// finds the existing style nearest to a wanted one.
//
// These sit under the style collections of the document model as well as under the
// viewer's caches, so they live with the model library.
#pragma once

#include <cstdint>

#include "platform/classes.h"
#include "platform/graphics.h"

namespace pelvar {

// A pointer list that owns its entries: Clear, Delete and destruction free them.
// Entries are TObject (an entry may be nil). Add, Insert, Remove, Extract, Exchange,
// Move and Put only move references.
class TRVList : public TList {
 public:
  TRVList() = default;
  ~TRVList() override;
  TRVList(const TRVList&) = delete;
  TRVList& operator=(const TRVList&) = delete;

  // Frees every object, first to last (nil entries skipped), then empties the list.
  void Clear() override;
  // Frees the object at index, then removes the entry.
  void Delete(int32_t index);
  // Removes the entry at index; the caller takes the object over.
  void DeleteNoFree(int32_t index);

  TObject* Object(int32_t index) const { return static_cast<TObject*>(Get(index)); }
};

// A list of signed 32-bit integers held in the entry slots themselves.
class TRVIntegerList : public TList {
 public:
  TRVIntegerList() = default;
  // Capacity count, then count copies of value.
  static TRVIntegerList CreateFilled(int32_t count, int32_t value);
  static TRVIntegerList CreateCopy(const TRVIntegerList& source);
  TRVIntegerList(const TRVIntegerList& source) : TList() { Assign(source); }
  TRVIntegerList& operator=(const TRVIntegerList& source) {
    if (this != &source) Assign(source);
    return *this;
  }

  int32_t Add(int32_t value);
  void Insert(int32_t index, int32_t value);
  int32_t GetItem(int32_t index) const;
  void SetItem(int32_t index, int32_t value);
  int32_t Items(int32_t index) const { return GetItem(index); }
  // The index of the first entry equal to value; appended when there is none.
  int32_t AddUnique(int32_t value);
  void Assign(const TRVIntegerList& source);
  // Clears, then count copies of value.
  void InitWith(int32_t value, int32_t count);
  // Ascending numeric order.
  void Sort();

 private:
  static void* ToSlot(int32_t value);
  static int32_t FromSlot(void* slot);
};

// A list of colours (TColor values).
class TRVColorList : public TRVIntegerList {
 public:
  // Appends the colour unless it is clNone or already present.
  void AddUnique(TColor color);
};

// How close Value is to Base, at most Weight (see the style sheet's closeness rules).
// Raises EIntOverflow rather than wrap.
int32_t CalcIntSimilarity(int32_t base, int32_t value, int32_t weight);
// How close two colours are: at most Bonus; two clNone colours score 3 x Weight + Bonus,
// one clNone against a colour 0. Raises EIntOverflow rather than wrap.
int32_t CalcColorSimilarity(TColor color1, TColor color2, int32_t weight, int32_t bonus);

}  // namespace pelvar
