#include "platform/variant.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/codepage.h"
#include "platform/sysutils.h"

namespace pelvar {
namespace {

TEST(VariantTypes, ConstructorsGiveTheFrameworkTypes) {
  struct Case {
    Variant v;
    TVarType type;
  };
  const Case cases[] = {
      {Variant(), varEmpty},
      {Null(), varNull},
      {Variant(int16_t{1}), varSmallint},
      {Variant(1), varInteger},
      {Variant(1.5f), varSingle},
      {Variant(1.5), varDouble},
      {Variant(Currency(2)), varCurrency},
      {VarFromDateTime(1.0), varDate},
      {Variant(u"wide"), varOleStr},
      {Variant(true), varBoolean},
      {Variant(int8_t{-1}), varShortInt},
      {Variant(uint8_t{1}), varByte},
      {Variant(uint16_t{1}), varWord},
      {Variant(1u), varLongWord},
      {Variant(int64_t{1}), varInt64},
      {Variant("text"), varString},
      {Variant(AnsiString("text")), varString},
      {VarArrayOf({1, "a"}), static_cast<TVarType>(varArray | varVariant)},
  };
  for (const auto& c : cases) EXPECT_EQ(VarType(c.v), c.type) << VarTypeAsText(c.type);
  EXPECT_THROW(Variant(std::numeric_limits<uint64_t>::max()), EVariantError);
}

TEST(VariantConversions, NumbersStringsAndBooleans) {
  EXPECT_EQ(Variant("  42").AsInteger(), 42);
  EXPECT_EQ(Variant(CZ("2,5")).AsInteger(), 2);  // rounded half to even
  EXPECT_EQ(Variant(3.5).AsInteger(), 4);
  EXPECT_EQ(Variant(true).AsInteger(), -1);
  EXPECT_EQ(Variant(Currency::FromRaw(15000)).AsInt64(), 2);
  EXPECT_DOUBLE_EQ(Variant("1,25").AsDouble(), 1.25);  // the Czech decimal comma
  EXPECT_EQ(Variant("12,3456").AsCurrency(), Currency::FromRaw(123456));
  EXPECT_EQ(Variant(12.5).AsCurrency(), Currency::FromRaw(125000));
  EXPECT_EQ(Variant(1.5).AsString(), "1,5");
  EXPECT_EQ(Variant(0.1f).AsString(), FloatToStr(0.1f));
  EXPECT_EQ(Variant(Currency::FromRaw(12345)).AsString(), "1,2345");
  EXPECT_EQ(Variant(int64_t{-9000000000}).AsString(), "-9000000000");
  EXPECT_EQ(Variant(true).AsString(), "True");
  EXPECT_EQ(Variant(u"kůň").AsString(), CZ("kůň"));
  EXPECT_EQ(Variant(CZ("kůň")).AsWideString(), u"kůň");
  EXPECT_TRUE(Variant("true").AsBoolean());
  EXPECT_FALSE(Variant("FALSE").AsBoolean());
  EXPECT_TRUE(Variant(0.5).AsBoolean());
  EXPECT_DOUBLE_EQ(VarFromDateTime(-1.25).AsDouble(), -1.25);
  EXPECT_DOUBLE_EQ(Variant("31.12.1899").AsDateTime(), 1.0);
  EXPECT_EQ(VarToStr(VarFromDateTime(1.0)), "31.12.1899");

  // Unassigned converts to zero, False and the empty string.
  EXPECT_EQ(Variant().AsInteger(), 0);
  EXPECT_FALSE(Variant().AsBoolean());
  EXPECT_EQ(Variant().AsString(), "");
}

TEST(VariantConversions, BadCastsRaiseEVariantError) {
  const Variant arr = VarArrayCreate({0, 1}, varInteger);
  try {
    Null().AsInteger();
    FAIL() << "no exception";
  } catch (const EVariantError& e) {
    EXPECT_EQ(e.Message(), "Could not convert variant of type (Null) into type (Integer)");
  }
  EXPECT_THROW(Null().AsString(), EVariantError);
  EXPECT_THROW(Variant("abc").AsInteger(), EVariantError);
  EXPECT_THROW(Variant("1.5").AsDouble(), EVariantError);  // the decimal separator is ','
  EXPECT_THROW(Variant("maybe").AsBoolean(), EVariantError);
  EXPECT_THROW(Variant("no date").AsDateTime(), EVariantError);
  EXPECT_THROW(arr.AsInteger(), EVariantError);
  EXPECT_THROW(arr.AsString(), EVariantError);
  // Out of range is an error, not a silently wrong number.
  EXPECT_THROW(Variant(int64_t{1} << 40).AsInteger(), EVariantError);
  EXPECT_THROW(Variant(1e300).AsInt64(), EVariantError);
  EXPECT_THROW(Variant(1e300).AsCurrency(), EVariantError);
  EXPECT_THROW(VarAsType(Variant(300), varByte), EVariantError);
  EXPECT_THROW(VarAsType(Variant(-1), varWord), EVariantError);
  EXPECT_EQ(VarAsType(Variant("-5"), varShortInt).AsInteger(), -5);
  EXPECT_EQ(VarType(VarAsType(Variant("7"), varSmallint)), varSmallint);
  // VarToStr is the one that tolerates Null.
  EXPECT_EQ(VarToStr(Null()), "");
  EXPECT_EQ(VarToStrDef(Null(), "-"), "-");
}

TEST(VariantCompare, NullAndUnassignedRules) {
  const Variant null = Null();
  const Variant empty = Unassigned();
  EXPECT_TRUE(null == Null());
  EXPECT_TRUE(empty == Unassigned());
  EXPECT_FALSE(null == empty);
  EXPECT_FALSE(null == Variant(0));
  EXPECT_FALSE(empty == Variant(0));
  EXPECT_FALSE(empty == Variant(""));
  EXPECT_TRUE(null != Variant(""));
  // Both sort before every value, Null first.
  EXPECT_TRUE(null < empty);
  EXPECT_TRUE(empty < Variant(-1000));
  EXPECT_TRUE(null < Variant(""));
  EXPECT_TRUE(null <= Null());
  EXPECT_FALSE(null < Null());

  EXPECT_EQ(VarCompareValue(null, null), vrEqual);
  EXPECT_EQ(VarCompareValue(empty, empty), vrEqual);
  EXPECT_EQ(VarCompareValue(null, empty), vrNotEqual);
  EXPECT_EQ(VarCompareValue(Variant(1), null), vrNotEqual);
  EXPECT_EQ(VarCompareValue(empty, Variant(1)), vrNotEqual);
  EXPECT_EQ(VarCompareValue(Variant(1), Variant(2.5)), vrLessThan);
  EXPECT_EQ(VarCompareValue(Variant("b"), Variant("a")), vrGreaterThan);
  EXPECT_TRUE(VarSameValue(Variant(int64_t{5}), Variant(int16_t{5})));
}

TEST(VariantCompare, ValuesOfDifferentTypes) {
  struct Case {
    Variant a, b;
    int expected;
  };
  const Case cases[] = {
      {Variant(1), Variant(1.0), 0},
      {Variant(int64_t{9007199254740993}), Variant(int64_t{9007199254740992}), 1},  // exact
      {Variant("10"), Variant(9), 1},  // a string against a number compares as numbers
      {Variant("2,5"), Variant(2.5), 0},
      {Variant(Currency::FromRaw(1)), Variant(0), 1},
      {Variant("abc"), Variant("abd"), -1},
      {Variant("abc"), Variant(u"abc"), 0},
      {Variant(false), Variant(true), -1},
      {Variant("True"), Variant(true), 0},
      {VarFromDateTime(2.0), Variant("01.01.1900"), 0},
      {Variant(CZ("čaj")), Variant("dort"), -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Variant::Compare(c.a, c.b), c.expected) << VarToStr(c.a) << " ? " << VarToStr(c.b);
    EXPECT_EQ(c.a == c.b, c.expected == 0);
    EXPECT_EQ(Variant::Compare(c.b, c.a), -c.expected);
  }
  EXPECT_FALSE(Variant("abc") == Variant("ABC"));  // equality of strings is exact
  EXPECT_THROW(Variant("abc") == Variant(1), EVariantError);
  EXPECT_THROW(VarArrayOf({1}) == VarArrayOf({1}), EVariantError);
}

TEST(VariantArray, BoundsElementOrderAndTypedElements) {
  Variant a = VarArrayCreate({1, 3, 1, 2}, varInteger);
  EXPECT_EQ(VarType(a), varArray | varInteger);
  EXPECT_EQ(VarArrayDimCount(a), 2);
  EXPECT_EQ(VarArrayLowBound(a, 1), 1);
  EXPECT_EQ(VarArrayHighBound(a, 1), 3);
  EXPECT_EQ(VarArrayHighBound(a, 2), 2);
  EXPECT_THROW(VarArrayLowBound(a, 3), EVariantError);
  EXPECT_THROW(VarArrayLowBound(a, 0), EVariantError);
  EXPECT_EQ(a.GetElement({2, 2}).AsInteger(), 0);  // typed elements start at zero

  int n = 0;
  for (int j = 1; j <= 2; ++j)
    for (int i = 1; i <= 3; ++i) a.PutElement({i, j}, Variant(++n));
  EXPECT_EQ(a.GetElement({3, 1}).AsInteger(), 3);
  EXPECT_EQ(a.GetElement({1, 2}).AsInteger(), 4);
  a.PutElement({1, 1}, Variant("12"));  // converted to the element type
  EXPECT_EQ(VarType(a.GetElement({1, 1})), varInteger);
  EXPECT_THROW(a.PutElement({1, 1}, Variant("x")), EVariantError);
  for (const auto& bad : std::vector<std::vector<int32_t>>{{0, 1}, {4, 1}, {1, 3}, {1}, {1, 1, 1}})
    EXPECT_THROW(a.GetElement(bad), EVariantError);

  // Copies are deep.
  Variant b = a;
  b.PutElement({1, 1}, Variant(99));
  EXPECT_EQ(VarArrayGet(a, {1, 1}).AsInteger(), 12);
  EXPECT_EQ(VarArrayGet(b, {1, 1}).AsInteger(), 99);

  // Negative bounds and an empty dimension.
  Variant c = VarArrayCreate({-5, -3}, varVariant);
  VarArrayPut(c, Null(), {-5});
  EXPECT_TRUE(VarIsNull(c[-5]));
  EXPECT_TRUE(VarIsEmpty(c[-3]));
  Variant empty = VarArrayCreate({0, -1}, varVariant);
  EXPECT_EQ(VarArrayHighBound(empty, 1), -1);
  EXPECT_THROW(empty.GetElement({0}), EVariantError);
}

TEST(VariantArray, DimensionLimitsAndRedim) {
  std::vector<int32_t> bounds;
  for (int d = 0; d < 16; ++d) {
    bounds.push_back(0);
    bounds.push_back(1);
  }
  Variant sixteen = VarArrayCreate(bounds, varByte);
  EXPECT_EQ(VarArrayDimCount(sixteen), 16);
  std::vector<int32_t> corner(16, 1);
  sixteen.PutElement(corner, Variant(200));
  EXPECT_EQ(sixteen.GetElement(corner).AsInteger(), 200);
  bounds.push_back(0);
  bounds.push_back(1);
  EXPECT_THROW(VarArrayCreate(bounds, varVariant), EVariantError);  // 17 dimensions
  EXPECT_THROW(VarArrayCreate({}, varVariant), EVariantError);
  EXPECT_THROW(VarArrayCreate({0}, varVariant), EVariantError);
  EXPECT_THROW(VarArrayCreate({3, 1}, varVariant), EVariantError);
  EXPECT_THROW(VarArrayCreate({0, 1}, varNull), EVariantError);

  Variant v = VarArrayOf({Variant("a"), Variant(2)});
  EXPECT_EQ(VarArrayLowBound(v, 1), 0);
  EXPECT_EQ(VarArrayHighBound(v, 1), 1);
  VarArrayRedim(v, 3);
  EXPECT_EQ(VarArrayHighBound(v, 1), 3);
  EXPECT_EQ(v[0].AsString(), "a");
  EXPECT_TRUE(VarIsEmpty(v[3]));
  VarArrayRedim(v, 0);
  EXPECT_EQ(VarArrayHighBound(v, 1), 0);
  EXPECT_THROW(v.GetElement({1}), EVariantError);
  EXPECT_FALSE(VarIsArray(Variant(1)));
  EXPECT_EQ(VarArrayDimCount(Variant(1)), 0);
}

TEST(VariantArray, ElementsOfEveryKindKeepTheirValues) {
  Variant v = VarArrayOf({Variant(int64_t{1} << 40), Variant(CZ("ň")), Variant(u"ž"),
                          Variant(Currency::FromRaw(5)), VarFromDateTime(-700.5),
                          Variant(false), Null()});
  Variant copy;
  copy = v;
  Variant moved = std::move(copy);
  EXPECT_TRUE(VarIsEmpty(copy));  // NOLINT(bugprone-use-after-move): a moved-from Variant is Unassigned
  EXPECT_EQ(moved[0].AsInt64(), int64_t{1} << 40);
  EXPECT_EQ(moved[1].AsString(), CZ("ň"));
  EXPECT_EQ(moved[2].AsWideString(), u"ž");
  EXPECT_EQ(moved[3].AsCurrency(), Currency::FromRaw(5));
  EXPECT_DOUBLE_EQ(moved[4].AsDateTime(), -700.5);
  EXPECT_EQ(VarType(moved[4]), varDate);
  EXPECT_FALSE(moved[5].AsBoolean());
  EXPECT_TRUE(VarIsNull(moved[6]));
}

}  // namespace
}  // namespace pelvar
