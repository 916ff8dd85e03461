#include "richtext/model/RVClasses.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "platform/exceptions.h"

namespace pelvar {
namespace {

// An object that reports its destruction.
class TTracked : public TObject {
 public:
  TTracked(std::vector<int>& log, int id) : log_(log), id_(id) {}
  ~TTracked() override { log_.push_back(id_); }

 private:
  std::vector<int>& log_;
  int id_;
};

std::vector<int32_t> Items(const TRVIntegerList& l) {
  std::vector<int32_t> v;
  for (int32_t i = 0; i < l.Count(); ++i) v.push_back(l.GetItem(i));
  return v;
}

TEST(RVListTest, ClearFreesInOrderSkippingEmptyEntries) {
  std::vector<int> freed;
  TRVList list;
  list.Add(new TTracked(freed, 1));
  list.Add(nullptr);
  list.Add(new TTracked(freed, 3));
  list.Clear();
  EXPECT_EQ(freed, (std::vector<int>{1, 3}));
  EXPECT_EQ(list.Count(), 0);
}

TEST(RVListTest, DeleteFreesDeleteNoFreeHandsOverDestructionFreesRest) {
  std::vector<int> freed;
  {
    TRVList list;
    list.Add(new TTracked(freed, 1));
    list.Add(new TTracked(freed, 2));
    list.Add(new TTracked(freed, 3));
    TObject* taken = list.Object(0);
    list.DeleteNoFree(0);
    EXPECT_TRUE(freed.empty());
    delete taken;  // the caller's; freed once only
    EXPECT_EQ(freed, (std::vector<int>{1}));
    list.Delete(0);
    EXPECT_EQ(freed, (std::vector<int>{1, 2}));
    EXPECT_EQ(list.Count(), 1);
    EXPECT_THROW(list.Delete(5), EListError);
    EXPECT_THROW(list.DeleteNoFree(-1), EListError);
    EXPECT_EQ(list.Count(), 1);
  }
  EXPECT_EQ(freed, (std::vector<int>{1, 2, 3}));
}

TEST(RVIntegerListTest, BuildingAndSearching) {
  TRVIntegerList l;
  for (int v : {3, 5, 5}) l.Add(v);
  EXPECT_EQ(l.AddUnique(5), 1);
  EXPECT_EQ(l.Count(), 3);
  TRVIntegerList one;
  one.Add(3);
  EXPECT_EQ(one.AddUnique(5), 1);
  EXPECT_EQ(Items(one), (std::vector<int32_t>{3, 5}));

  EXPECT_EQ(TRVIntegerList::CreateFilled(0, 7).Count(), 0);
  EXPECT_EQ(Items(TRVIntegerList::CreateFilled(2, 7)), (std::vector<int32_t>{7, 7}));
  TRVIntegerList init;
  init.Add(9);
  init.InitWith(-1, 3);
  EXPECT_EQ(Items(init), (std::vector<int32_t>{-1, -1, -1}));

  TRVIntegerList copy = TRVIntegerList::CreateCopy(l);
  copy.SetItem(0, INT32_MIN);
  copy.Insert(1, INT32_MAX);
  EXPECT_EQ(Items(copy), (std::vector<int32_t>{INT32_MIN, INT32_MAX, 5, 5}));
  EXPECT_EQ(Items(l), (std::vector<int32_t>{3, 5, 5}));
  EXPECT_THROW(copy.GetItem(4), EListError);
  EXPECT_THROW(copy.Insert(6, 1), EListError);
}

TEST(RVIntegerListTest, SortHandlesTheWholeRangeWithoutOverflow) {
  TRVIntegerList l;
  for (int32_t v : {5, INT32_MIN, -1, INT32_MAX, 0, -7}) l.Add(v);
  l.Sort();
  EXPECT_EQ(Items(l), (std::vector<int32_t>{INT32_MIN, -7, -1, 0, 5, INT32_MAX}));
}

TEST(RVColorListTest, AddUniqueSkipsNoneAndDuplicates) {
  TRVColorList l;
  l.AddUnique(clNone);
  EXPECT_EQ(l.Count(), 0);
  l.AddUnique(clRed);
  l.AddUnique(clBtnFace);
  l.AddUnique(clRed);
  l.AddUnique(clNone);
  EXPECT_EQ(Items(l), (std::vector<int32_t>{clRed, clBtnFace}));
}

TEST(SimilarityTest, IntegerScores) {
  struct Case {
    int32_t base, value, weight, expected;
  } cases[] = {
      {0, 0, 100, 100},   {0, 5, 100, -400},     {0, -1, 100, 0},  {10, 5, 1000, 500},
      {10, 30, 1000, -1000}, {4, 5, 6, 4},       {4, 3, 2, 2},     {-10, -10, 7, 7},
      {-4, -5, 6, 4},     {8, 8, 0, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CalcIntSimilarity(c.base, c.value, c.weight), c.expected)
        << c.base << " " << c.value << " " << c.weight;
}

TEST(SimilarityTest, ColourScores) {
  struct Case {
    TColor c1, c2;
    int32_t weight, bonus, expected;
  } cases[] = {
      {clNone, clNone, 3333, 3000, 12999},
      {clNone, clRed, 3333, 3000, 0},
      {clRed, clNone, 3333, 3000, 0},
      {clRed, clRed, 3333, 3000, 3000},
      {clBlack, clWhite, 255, 77, -765},
      // Both have a bright channel: the bonus counts; 255 * 3333 div 255 per channel.
      {clRed, clLime, 3333, 3000, 3000 - 2 * 3333},
      // A system colour takes its RGB value (the window background is white).
      {clWindow, clWhite, 10000, 50000, 50000},
      // 64 is not bright, 65 is.
      {RGB(64, 0, 0), RGB(65, 0, 0), 255, 10, -1},
      {RGB(64, 0, 0), RGB(0, 0, 0), 255, 10, -64 + 10},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CalcColorSimilarity(c.c1, c.c2, c.weight, c.bonus), c.expected) << std::hex << c.c1 << " " << c.c2;
}

TEST(SimilarityTest, OverflowRaisesInsteadOfWrapping) {
  EXPECT_THROW(CalcIntSimilarity(0, 3, INT32_MAX), EIntOverflow);
  EXPECT_THROW(CalcIntSimilarity(0, INT32_MIN, 1), EIntOverflow);
  EXPECT_THROW(CalcIntSimilarity(1, INT32_MIN, 1), EIntOverflow);
  EXPECT_THROW(CalcIntSimilarity(1, 100, INT32_MAX), EIntOverflow);
  EXPECT_THROW(CalcColorSimilarity(clNone, clNone, INT32_MAX / 2, 0), EIntOverflow);
  EXPECT_THROW(CalcColorSimilarity(clBlack, clWhite, INT32_MAX, 0), EIntOverflow);
}

}  // namespace
}  // namespace pelvar
