// Huffman trees, the fixed trees and the length/distance translator.
#include <gtest/gtest.h>

#include "archive/abdfhufd.h"
#include "archive/abdfxlat.h"
#include "archive/abexcept.h"

namespace pelvar {
namespace {

uint32_t SymbolOf(uint32_t e) { return e & 0xFFFF; }
uint32_t LengthOf(uint32_t e) { return (e >> 16) & 0xFF; }

TEST(AbDfHufDTest, SmallTreeDecodesAndEncodes) {
  const uint8_t lengths[] = {1, 2, 3, 3};
  TAbDfDecodeHuffmanTree tree(4, huBoth, 15);
  tree.Build(lengths, 0, 4, nullptr, 0);
  EXPECT_EQ(tree.LookupBitLength(), 3);
  // Codes 0, 10, 110, 111, read least significant bit first.
  struct Case {
    uint32_t bits, symbol, length;
  };
  const Case cases[] = {{0b000, 0, 1}, {0b100, 0, 1}, {0b010, 0, 1}, {0b001, 1, 2},
                        {0b101, 1, 2}, {0b011, 2, 3}, {0b111, 3, 3}};
  for (const auto& c : cases) {
    const uint32_t e = tree.Decode(c.bits);
    EXPECT_EQ(SymbolOf(e), c.symbol) << c.bits;
    EXPECT_EQ(LengthOf(e), c.length) << c.bits;
  }
  EXPECT_EQ(tree.Encode(2), 0b011u | (3u << 16));
  EXPECT_THROW(tree.Decode(8), EAssertionFailed);
  EXPECT_THROW(tree.Encode(4), EAssertionFailed);
  const uint8_t unused[] = {1, 1, 0, 0};
  tree.Build(unused, 0, 4, nullptr, 0);
  EXPECT_THROW(tree.Encode(3), EAssertionFailed);
  EXPECT_EQ(tree.Decode(1), 1u | (1u << 16));
}

TEST(AbDfHufDTest, LongCodesGoThroughSubTables) {
  // A complete code with lengths 1..15 (two of length 15).
  uint8_t lengths[16];
  for (int i = 0; i < 15; ++i) lengths[i] = static_cast<uint8_t>(i + 1);
  lengths[15] = 15;
  const uint8_t extra[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 9};
  TAbDfDecodeHuffmanTree tree(16, huBoth, 15);
  tree.Build(lengths, 0, 16, extra, 0);
  EXPECT_EQ(tree.LookupBitLength(), 15);
  for (int s = 0; s < 16; ++s) {
    const uint32_t enc = tree.Encode(s);
    const uint32_t code = enc & 0xFFFF;
    // Any continuation bits above the code decode to the same entry.
    for (uint32_t above : {0u, 0x7FFFu}) {
      const uint32_t bits = (code | (above << LengthOf(enc))) & 0x7FFF;
      const uint32_t dec = tree.Decode(bits);
      EXPECT_EQ(SymbolOf(dec), static_cast<uint32_t>(s));
      EXPECT_EQ(LengthOf(dec), lengths[s]);
      EXPECT_EQ(dec >> 24, extra[s]);
    }
  }
}

TEST(AbDfHufDTest, BadLengthSets) {
  TAbDfDecodeHuffmanTree tree(3, huDecoding, 7);
  const uint8_t over[] = {1, 1, 1};
  EXPECT_THROW(tree.Build(over, 0, 3, nullptr, 0), EAbInternalInflateError);
  const uint8_t too_long[] = {8, 1, 1};
  EXPECT_THROW(tree.Build(too_long, 0, 3, nullptr, 0), EAssertionFailed);
  // An incomplete set is accepted; what no code reaches stays empty.
  const uint8_t incomplete[] = {1, 0, 0};
  tree.Build(incomplete, 0, 3, nullptr, 0);
  EXPECT_EQ(tree.Decode(0), 0u | (1u << 16));
  EXPECT_EQ(tree.Decode(1), kAbHuffEmpty);
  EXPECT_THROW(TAbDfDecodeHuffmanTree(1, huBoth, 15), EAssertionFailed);
}

TEST(AbDfHufDTest, FixedTrees) {
  const auto& lit = AbStaticLitLenTree();
  EXPECT_EQ(lit.LookupBitLength(), 9);
  struct Case {
    int symbol;
    uint32_t length, extra;
  };
  const Case cases[] = {{0, 8, 0}, {143, 8, 0}, {144, 9, 0}, {255, 9, 0}, {256, 7, 0},
                        {265, 7, 1}, {279, 7, 4}, {280, 8, 4}, {284, 8, 5}, {285, 8, 16}};
  for (const auto& c : cases) {
    const uint32_t e = lit.Encode(c.symbol);
    EXPECT_EQ(LengthOf(e), c.length) << c.symbol;
    EXPECT_EQ(e >> 24, c.extra) << c.symbol;
    EXPECT_EQ(SymbolOf(lit.Decode(e & 0xFFFF)), static_cast<uint32_t>(c.symbol));
  }
  const auto& dist = AbStaticDistTree();
  EXPECT_EQ(dist.LookupBitLength(), 5);
  EXPECT_EQ(dist.Encode(31) >> 24, 14u);
  EXPECT_EQ(dist.Encode(4) >> 24, 1u);
}

TEST(AbDfXlatTest, TranslatesLengthsAndDistances) {
  const auto& t = AbStaticTranslator();
  struct Case {
    int value, symbol;
  };
  const Case lengths[] = {{3, 257}, {10, 264}, {11, 265}, {12, 265}, {13, 266}, {257, 284}, {258, 285}, {259, 285}, {65536, 285}};
  for (const auto& c : lengths) EXPECT_EQ(t.TranslateLength(c.value), c.symbol) << c.value;
  const Case distances[] = {{1, 0}, {4, 3}, {5, 4}, {6, 4}, {256, 15}, {257, 16}, {24577, 29},
                            {32768, 29}, {32769, 30}, {49152, 30}, {49153, 31}, {65536, 31}};
  for (const auto& c : distances) EXPECT_EQ(t.TranslateDistance(c.value), c.symbol) << c.value;
  // Every distance lies within its symbol's range.
  for (int d = 1; d <= 65536; ++d) {
    const int s = t.TranslateDistance(d);
    ASSERT_GE(static_cast<uint32_t>(d), dfc_DistanceBase[s]);
    ASSERT_LT(static_cast<uint32_t>(d) - dfc_DistanceBase[s], 1u << dfc_DistanceExtraBits[s]);
  }
  for (int l = 3; l <= 258; ++l) {
    const int s = t.TranslateLength(l) - 257;
    if (s == 28) continue;
    ASSERT_GE(l, dfc_LengthBase[s]);
    ASSERT_LT(l - dfc_LengthBase[s], 1 << dfc_LengthExtraBits[s]);
  }
  EXPECT_THROW(t.TranslateLength(2), EAssertionFailed);
  EXPECT_THROW(t.TranslateDistance(65537), EAssertionFailed);
}

}  // namespace
}  // namespace pelvar
