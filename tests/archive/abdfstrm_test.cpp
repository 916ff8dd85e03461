// The codec's bit streams.
#include <gtest/gtest.h>

#include "archive/abdfstrm.h"

namespace pelvar {
namespace {

TEST(AbDfStrmTest, InBitStreamReadsAndRepositions) {
  TStringStream s(std::string("\xA5\x0F\x33\xC3\x81", 5));
  {
    TAbDfInBitStream in(&s, 0, nullptr);
    EXPECT_EQ(in.ReadBits(4), 0x5u);
    EXPECT_EQ(in.ReadBits(5), 0x1Au);  // 1010 from 0xA5, 1 from 0x0F
    EXPECT_EQ(in.PeekBits(3), 0x7u);
  }
  EXPECT_EQ(s.Position(), 2);  // 9 bits consumed: two bytes

  s.SetPosition(0);
  {
    TAbDfInBitStream in(&s, 0, nullptr);
    in.DiscardBits(32);
    EXPECT_EQ(in.PeekBits(16), 0x81u);  // past the end: zeros
    EXPECT_TRUE(in.ReadBit());
    EXPECT_EQ(in.ReadBits(7), 0x40u);
    EXPECT_THROW(in.ReadBit(), EAbInternalInflateError);
    EXPECT_THROW(in.ReadBits(1), EAbInternalInflateError);
    EXPECT_THROW(in.DiscardBits(1), EAbInternalInflateError);
    EXPECT_THROW(in.ReadBits(17), EAbInternalInflateError);
  }
  EXPECT_EQ(s.Position(), 5);

  s.SetPosition(1);
  {
    TAbDfInBitStream in(&s, 0, nullptr);
    in.ReadBits(3);
    EXPECT_THROW(in.ReadBuffer(nullptr, 1), EAssertionFailed);
    in.SkipToByteBoundary();
    char buf[3];
    in.ReadBuffer(buf, 3);
    EXPECT_EQ(std::string(buf, 3), std::string("\x33\xC3\x81", 3));
    EXPECT_THROW(in.ReadBuffer(buf, 1), EAbInternalInflateError);
  }
  EXPECT_EQ(s.Position(), 5);
}

TEST(AbDfStrmTest, LongInputCrossesBufferRefills) {
  std::string data(70001, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 256);
  TStringStream s(data + "tail");
  std::vector<int32_t> progress;
  {
    TAbDfInBitStream in(&s, static_cast<int64_t>(data.size()), [&](int32_t p) { progress.push_back(p); });
    for (size_t i = 0; i < data.size(); ++i) {
      const uint32_t b = in.ReadBits(3) | (in.ReadBits(5) << 3);
      ASSERT_EQ(b, static_cast<uint8_t>(data[i])) << i;
    }
  }
  EXPECT_EQ(s.Position(), 70001);
  EXPECT_FALSE(progress.empty());
}

TEST(AbDfStrmTest, OutBitStreamPacksBitsAndBuffers) {
  TStringStream s;
  {
    TAbDfOutBitStream out(&s);
    out.WriteBits(1, 1);
    out.WriteBits(2, 2);
    out.PadToByteBoundary();
    out.WriteBuffer("AB", 2);
    out.WriteBits(0x1FF, 9);
    EXPECT_THROW(out.WriteBits(4, 2), EAssertionFailed);
    EXPECT_THROW(out.WriteBits(0, 17), EAssertionFailed);
    EXPECT_THROW(out.WriteBuffer("x", 1), EAssertionFailed);
  }
  EXPECT_EQ(s.DataString(), std::string("\x05" "AB\xFF\x01", 5));

  // Round trip of many odd-sized values through both streams.
  TStringStream t;
  {
    TAbDfOutBitStream out(&t);
    for (uint32_t i = 0; i < 50000; ++i) out.WriteBits(i % (1u << (1 + i % 16)), 1 + static_cast<int32_t>(i % 16));
    out.Flush();
  }
  t.SetPosition(0);
  TAbDfInBitStream in(&t, 0, nullptr);
  for (uint32_t i = 0; i < 50000; ++i)
    ASSERT_EQ(in.ReadBits(1 + static_cast<int32_t>(i % 16)), i % (1u << (1 + i % 16))) << i;
}

// A stream that accepts only a few bytes.
class ShortStream : public TStream {
 public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t count) override { return count > 3 ? 3 : count; }
  int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
};

TEST(AbDfStrmTest, ShortWriteRaises) {
  ShortStream s;
  TAbDfOutBitStream out(&s);
  out.WriteBits(0xFFFF, 16);
  out.WriteBits(0xFFFF, 16);
  try {
    out.Flush();
    FAIL();
  } catch (const EAbInternalDeflateError& e) {
    EXPECT_EQ(e.Message(), "could not write to the output atream [TAbDfInBitStream.obsEmptyBuffer]");
  }
}

}  // namespace
}  // namespace pelvar
