#include "richtext/model/RVClasses.h"

#include <cmath>
#include <cstdlib>

#include "platform/checked.h"
#include "platform/exceptions.h"

namespace pelvar {

// ---- TRVList -------------------------------------------------------------------------
TRVList::~TRVList() { TRVList::Clear(); }

void TRVList::Clear() {
  // Entries are detached one by one before they are freed, so that a destructor that
  // looks at the list never sees a dangling entry.
  for (int32_t i = 0; i < Count(); ++i) {
    TObject* obj = Object(i);
    Put(i, nullptr);
    delete obj;
  }
  TList::Clear();
}

void TRVList::Delete(int32_t index) {
  TObject* obj = Object(index);  // raises EListError for a bad index, list unchanged
  TList::Delete(index);
  delete obj;
}

void TRVList::DeleteNoFree(int32_t index) { TList::Delete(index); }

// ---- TRVIntegerList --------------------------------------------------------------------
void* TRVIntegerList::ToSlot(int32_t value) {
  return reinterpret_cast<void*>(static_cast<intptr_t>(value));
}

int32_t TRVIntegerList::FromSlot(void* slot) {
  return static_cast<int32_t>(reinterpret_cast<intptr_t>(slot));
}

TRVIntegerList TRVIntegerList::CreateFilled(int32_t count, int32_t value) {
  TRVIntegerList list;
  list.InitWith(value, count);
  return list;
}

TRVIntegerList TRVIntegerList::CreateCopy(const TRVIntegerList& source) { return TRVIntegerList(source); }

int32_t TRVIntegerList::Add(int32_t value) { return TList::Add(ToSlot(value)); }

void TRVIntegerList::Insert(int32_t index, int32_t value) { TList::Insert(index, ToSlot(value)); }

int32_t TRVIntegerList::GetItem(int32_t index) const { return FromSlot(Get(index)); }

void TRVIntegerList::SetItem(int32_t index, int32_t value) { Put(index, ToSlot(value)); }

int32_t TRVIntegerList::AddUnique(int32_t value) {
  for (int32_t i = 0; i < Count(); ++i)
    if (GetItem(i) == value) return i;
  return Add(value);
}

void TRVIntegerList::Assign(const TRVIntegerList& source) {
  if (&source == this) return;
  TList::Clear();
  SetCapacity(source.Count());
  for (int32_t i = 0; i < source.Count(); ++i) Add(source.GetItem(i));
}

void TRVIntegerList::InitWith(int32_t value, int32_t count) {
  TList::Clear();
  if (count < 0) count = 0;
  SetCapacity(count);
  for (int32_t i = 0; i < count; ++i) Add(value);
}

void TRVIntegerList::Sort() {
  // Compared, not subtracted: a difference of two far-apart values does not fit 32 bits,
  // and an overflow here would either wrap (a wrong order) or raise on valid data.
  TList::Sort([](void* a, void* b) {
    int32_t x = FromSlot(a), y = FromSlot(b);
    return x < y ? -1 : (x > y ? 1 : 0);
  });
}

// ---- TRVColorList ----------------------------------------------------------------------
void TRVColorList::AddUnique(TColor color) {
  if (color == clNone) return;
  for (int32_t i = 0; i < Count(); ++i)
    if (GetItem(i) == color) return;
  Add(color);
}

// ---- Similarity --------------------------------------------------------------------------
namespace {
int32_t CheckedAbs(int32_t v) {
  if (v == INT32_MIN) RaiseIntOverflow();
  return v < 0 ? -v : v;
}
}  // namespace

int32_t CalcIntSimilarity(int32_t base, int32_t value, int32_t weight) {
  if (base == 0) return CheckedMul(CheckedSub(int32_t{1}, CheckedAbs(value)), weight);
  int32_t diff = CheckedAbs(CheckedSub(base, value));
  double score = (1.0 - static_cast<double>(diff) / std::fabs(static_cast<double>(base))) * weight;
  int64_t r = RoundHalfEven(score);
  if (r < INT32_MIN || r > INT32_MAX) RaiseIntOverflow();
  return static_cast<int32_t>(r);
}

int32_t CalcColorSimilarity(TColor color1, TColor color2, int32_t weight, int32_t bonus) {
  if (color1 == clNone || color2 == clNone) {
    if (color1 != color2) return 0;
    return CheckedAdd(CheckedMul(int32_t{3}, weight), bonus);
  }
  TColor c1 = ColorToRGB(color1), c2 = ColorToRGB(color2);
  uint8_t ch1[3] = {GetRValue(c1), GetGValue(c1), GetBValue(c1)};
  uint8_t ch2[3] = {GetRValue(c2), GetGValue(c2), GetBValue(c2)};
  int32_t score = 0;
  bool bright1 = false, bright2 = false;
  for (int i = 0; i < 3; ++i) {
    bright1 = bright1 || ch1[i] > 64;
    bright2 = bright2 || ch2[i] > 64;
    int32_t d = std::abs(static_cast<int32_t>(ch1[i]) - static_cast<int32_t>(ch2[i]));
    score = CheckedSub(score, CheckedMul(d, weight) / 255);
  }
  if (bright1 == bright2) score = CheckedAdd(score, bonus);
  return score;
}

}  // namespace pelvar
