// The deflate encoder and its block writer, read back by our inflate and by Python's
// zlib.
#include <gtest/gtest.h>

#include <sstream>

#include "archive/abdfdec.h"
#include "archive/abdfenc.h"
#include "archive/abdfinw.h"
#include "archive/abdfpkmg.h"
#include "deflate_test_util.h"

namespace pelvar {
namespace {

using test::BitWriter;

std::string DeflateString(const std::string& data, TAbDeflateHelper* helper = nullptr, size_t skip = 0,
                          uint32_t* crc = nullptr) {
  TStringStream src(data);
  src.SetPosition(static_cast<int64_t>(skip));
  TStringStream dst;
  const uint32_t c = Deflate(&src, &dst, helper);
  if (crc) *crc = c;
  return dst.DataString();
}

uint32_t Crc(const std::string& s) {
  uint32_t c = 0xFFFFFFFF;
  AbCrc32Buffer(c, s.data(), static_cast<int64_t>(s.size()));
  return ~c;
}

// Inflates raw followed by trailing bytes, which must stay unread.
std::string InflateString(const std::string& raw, uint32_t options = 15, uint32_t* crc = nullptr) {
  TStringStream src(raw + "trailing");
  TStringStream dst;
  TAbDeflateHelper h;
  h.SetOptions(options);
  const uint32_t c = Inflate(&src, &dst, &h);
  if (crc) *crc = c;
  EXPECT_EQ(src.Position(), static_cast<int64_t>(raw.size()));
  return dst.DataString();
}

struct OptionSet {
  const char* name;
  std::function<void(TAbDeflateHelper&)> apply;
  bool deflate64;
};

TEST(AbDfEncTest, EveryPresetAndOptionSetRoundTrips) {
  const std::vector<std::pair<std::string, std::string>> corpus = {
      {"empty", ""},
      {"one", "x"},
      {"text", test::MakeText(120000, 21)},
      {"binary", test::MakeBinary(80000, 22)},
      {"random", test::MakeRandom(70000, 23)},
      {"zeros", std::string(200000, '\0')},
      {"mixed", test::MakeText(30000, 24) + test::MakeRandom(70000, 25) + std::string(70000, 'q') +
                    test::MakeBinary(30000, 26)},
  };
  auto preset = [](char letter) {
    return [letter](TAbDeflateHelper& h) {
      h.SetPresetLetter('0');
      h.SetPresetLetter(letter);
    };
  };
  const std::vector<OptionSet> sets = {
      {"preset 0", preset('0'), false},
      {"preset 2", preset('2'), false},
      {"preset f", preset('f'), false},
      {"preset n", preset('n'), false},
      {"preset s", preset('s'), false},
      {"preset x", preset('x'), false},
      {"fresh helper", [](TAbDeflateHelper&) {}, false},
      {"fixed codes only", [](TAbDeflateHelper& h) { h.SetOptions(2 | 8); }, false},
      {"dynamic codes only", [](TAbDeflateHelper& h) { h.SetOptions(4 | 8); }, false},
      {"no lazy matching", [](TAbDeflateHelper& h) { h.SetOptions(7); }, false},
      {"stored and fixed", [](TAbDeflateHelper& h) { h.SetOptions(3); }, false},
      {"no limits", [](TAbDeflateHelper& h) {
         h.SetSufficientMatch(-1);
         h.SetMaxChainSteps(-1);
         h.SetLazyLimit(-1);
       }, false},
      {"small window", [](TAbDeflateHelper& h) { h.SetHistorySize(4096); }, false},
      {"deflate64", [](TAbDeflateHelper& h) { h.SetOptions(15 | dfc_UseDeflate64); }, true},
      {"deflate64 maximum", [](TAbDeflateHelper& h) {
         h.SetPresetLetter('x');
         h.SetOptions(15 | dfc_UseDeflate64);
         h.SetHistorySize(65536);
       }, true},
  };
  test::TempDir dir("abdfenc");
  std::string manifest;
  int n = 0;
  for (const auto& [name, data] : corpus) {
    test::WriteFile(dir.File(name), data);
    for (const auto& set : sets) {
      SCOPED_TRACE(name + " / " + set.name);
      TAbDeflateHelper h;
      set.apply(h);
      uint32_t crc = 0;
      const std::string raw = DeflateString(data, &h, 0, &crc);
      EXPECT_EQ(crc, Crc(data));
      EXPECT_EQ(h.UncompressedCount(), static_cast<int32_t>(data.size()));
      EXPECT_EQ(h.CompressedCount(), static_cast<int32_t>(raw.size()));
      uint32_t back_crc = 0;
      const std::string back = InflateString(raw, set.deflate64 ? 15 | dfc_UseDeflate64 : 15, &back_crc);
      EXPECT_TRUE(back == data) << back.size() << " vs " << data.size();
      EXPECT_EQ(back_crc, crc);
      if (!set.deflate64) {
        const std::string stream = "s" + std::to_string(n++);
        test::WriteFile(dir.File(stream), raw);
        manifest += stream + " " + name + " " + std::to_string(crc) + "\n";
      }
    }
  }
  // Python's zlib reads every plain Deflate stream back with the same CRC.
  test::WriteFile(dir.File("manifest"), manifest);
  const auto r = test::RunCommand(
      {"python3", "-c",
       "import sys,zlib,os\n"
       "d=sys.argv[1]\n"
       "for line in open(os.path.join(d,'manifest')):\n"
       "  s,name,crc=line.split()\n"
       "  raw=open(os.path.join(d,s),'rb').read()\n"
       "  try:\n"
       "    out=zlib.decompress(raw,-15)\n"
       "    ok=out==open(os.path.join(d,name),'rb').read() and zlib.crc32(out)==int(crc)\n"
       "  except Exception as e:\n"
       "    ok=str(e)\n"
       "  if ok is not True: print(s,name,ok)\n"
       "print('checked')\n",
       dir.Path()});
  EXPECT_EQ(r.output, "checked\n");
}

TEST(AbDfEncTest, ExactStreams) {
  {  // empty input: one final fixed-code block holding only the end of block
    TAbDeflateHelper h;
    uint32_t crc = 1;
    EXPECT_EQ(DeflateString("", &h, 0, &crc), std::string("\x03\x00", 2));
    EXPECT_EQ(crc, 0u);
    h.SetOptions(15 | dfc_UseAdler32);
    EXPECT_EQ(DeflateString("", &h, 0, &crc), std::string("\x03\x00", 2));
    EXPECT_EQ(crc, 1u);
  }
  {  // stored only, empty input: one empty final stored block, readable
    TAbDeflateHelper h;
    h.SetOptions(1);
    uint32_t crc = 1;
    const std::string raw = DeflateString("", &h, 0, &crc);
    EXPECT_EQ(raw, std::string("\x01\x00\x00\xFF\xFF", 5));
    EXPECT_EQ(crc, 0u);
    EXPECT_EQ(InflateString(raw), "");
    EXPECT_EQ(test::PythonInflate(raw), "");
  }
  {  // stored only, 100,000 bytes: 65,535 then 34,465
    const std::string data = test::MakeRandom(100000, 31);
    TAbDeflateHelper h;
    h.SetPresetLetter('0');
    const std::string raw = DeflateString(data, &h);
    ASSERT_EQ(raw.size(), 100000u + 10u);
    EXPECT_EQ(raw.substr(0, 5), std::string("\x00\xFF\xFF\x00\x00", 5));
    EXPECT_EQ(raw.substr(5 + 65535, 5), std::string("\x01\xA1\x86\x5E\x79", 5));
    EXPECT_EQ(InflateString(raw), data);
  }
  {  // abcabcabcabc: three literals and a match of length 9 at distance 3
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(1, 2);
    for (char c : std::string("abc")) w.FixedLitLen(c);
    w.FixedLitLen(263);  // length 9
    w.FixedDist(2);      // distance 3
    w.FixedLitLen(256);
    EXPECT_EQ(DeflateString("abcabcabcabc"), w.Data());
  }
  {  // a 3-byte repetition 5,000 bytes back is not a match: the same bytes as literals
    std::string filler;
    for (int i = 0; i < 4997; ++i) filler += static_cast<char>('A' + (i * 7 + i / 26) % 26);
    const std::string data = "xyz" + filler + "xyz";
    TAbDeflateHelper fixed;
    fixed.SetOptions(2);
    const std::string with_repeat = DeflateString(data, &fixed);
    const std::string control = DeflateString("xyz" + filler + "xyq", &fixed);
    EXPECT_EQ(with_repeat.size(), control.size());
    EXPECT_EQ(InflateString(with_repeat), data);
  }
}

TEST(AbDfEncTest, CompressingFromAnOffsetEqualsCompressingACopy) {
  const std::string data = test::MakeRandom(1000, 41) + test::MakeText(60000, 42) + test::MakeRandom(90000, 43);
  for (char letter : {'0', 'n', 'x'}) {
    TAbDeflateHelper a, b;
    a.SetPresetLetter(letter);
    b.SetPresetLetter(letter);
    const std::string from_offset = DeflateString(data, &a, 1000);
    const std::string from_copy = DeflateString(data.substr(1000), &b);
    EXPECT_EQ(from_offset, from_copy) << letter;
    EXPECT_EQ(a.UncompressedCount(), static_cast<int32_t>(data.size() - 1000));
    EXPECT_EQ(InflateString(from_offset), data.substr(1000));
  }
}

TEST(AbDfEncTest, HelperOfTheCallerKeepsItsTuning) {
  const std::string text = test::MakeText(50000, 51);
  TAbDeflateHelper h;
  h.SetPresetLetter('0');
  h.SetPresetLetter('n');
  DeflateString(text, &h);
  EXPECT_EQ(h.PresetLetter(), 'n');
  EXPECT_EQ(h.SufficientMatch(), 16);
  EXPECT_EQ(h.MaxChainSteps(), 32);
  EXPECT_EQ(h.LazyLimit(), 24);
}

TEST(AbDfEncTest, ProgressPassphraseAndFailures) {
  const std::string data = test::MakeText(300000, 61);
  for (char letter : {'0', 'x'}) {
    std::vector<int32_t> steps;
    TAbDeflateHelper h;
    h.SetPresetLetter(letter);
    h.SetInputSize(-1);
    h.SetOnStepProgress([&](int32_t p) { steps.push_back(p); });
    InflateString(DeflateString(data, &h));
    ASSERT_FALSE(steps.empty()) << letter;
    EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));
    EXPECT_GE(steps.back(), 98);
    EXPECT_LE(steps.back(), 100);
  }
  for (char letter : {'0', 'n'}) {  // a callback with input size 0 never divides by zero
    TAbDeflateHelper h;
    h.SetPresetLetter(letter);
    h.SetOnStepProgress([](int32_t p) { EXPECT_GE(p, 0); });
    EXPECT_EQ(InflateString(DeflateString(data, &h)), data);
  }
  {
    TAbDeflateHelper h;
    h.SetInputSize(-1);
    h.SetOnStepProgress([](int32_t) { throw EAbAbortProgress("Process aborted by user"); });
    EXPECT_THROW(DeflateString(data, &h), EAbAbortProgress);
  }
  {  // encrypted: the header comes first and is counted
    TAbDeflateHelper h;
    h.SetPresetLetter('x');
    h.SetPassphrase("secret");
    h.SetChecksum(0x12345678);
    const std::string raw = DeflateString(data, &h);
    EXPECT_EQ(h.CompressedCount(), static_cast<int32_t>(raw.size()));
    TStringStream src(raw);
    TStringStream dst;
    TAbDeflateHelper back;
    back.SetPassphrase("secret");
    back.SetChecksum(0x12345678);
    EXPECT_EQ(Inflate(&src, &dst, &back), Crc(data));
    EXPECT_TRUE(dst.DataString() == data);
  }
  {
    TAbDeflateHelper h;
    h.SetOptions(8 | 16);
    EXPECT_THROW(DeflateString(data, &h), EAssertionFailed);
  }
}

// A destination that takes only the first bytes.
class FullStream : public TStream {
 public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t count) override {
    const int32_t n = count < room_ ? count : room_;
    room_ -= n;
    return n;
  }
  int64_t Seek(int64_t, TSeekOrigin) override { return 0; }

 private:
  int32_t room_ = 20000;
};

TEST(AbDfEncTest, ShortWriteIsADeflateError) {
  TStringStream src(test::MakeRandom(200000, 71));
  FullStream dst;
  try {
    Deflate(&src, &dst, nullptr);
    FAIL();
  } catch (const EAbDeflateError& e) {
    EXPECT_EQ(e.Message(),
              "Pelvar archive kit deflate error. (Internal cause: could not write to the output atream "
              "[TAbDfInBitStream.obsEmptyBuffer])");
  }
}

int KraftSumTimes(const uint8_t* lengths, int n, int scale_bits) {
  int sum = 0;
  for (int i = 0; i < n; ++i) if (lengths[i]) sum += 1 << (scale_bits - lengths[i]);
  return sum;
}

TEST(AbDfPkMgTest, GeneratesLengthLimitedCodes) {
  {
    const uint32_t w[] = {1, 1, 1, 1};
    uint8_t l[4];
    GenerateCodeLengths(15, w, 4, l, 0);
    EXPECT_EQ(std::vector<int>(l, l + 4), (std::vector<int>{2, 2, 2, 2}));
  }
  {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = 1u << i;
    uint8_t l[16];
    GenerateCodeLengths(7, w, 16, l, 0);
    EXPECT_LE(*std::max_element(l, l + 16), 7);
    EXPECT_EQ(KraftSumTimes(l, 16, 7), 128);
    GenerateCodeLengths(15, w, 16, l, 0);
    EXPECT_EQ(l[0], 15);
    EXPECT_EQ(l[15], 1);
    EXPECT_EQ(KraftSumTimes(l, 16, 15), 1 << 15);
  }
  {  // unused symbols, one symbol, none; output from First on
    const uint32_t w[] = {0, 5, 0, 3, 9};
    uint8_t l[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    GenerateCodeLengths(15, w, 5, l, 3);
    EXPECT_EQ(std::vector<int>(l, l + 8), (std::vector<int>{9, 9, 9, 0, 2, 0, 2, 1}));
    const uint32_t one[] = {0, 0, 4};
    GenerateCodeLengths(15, one, 3, l, 0);
    EXPECT_EQ(std::vector<int>(l, l + 3), (std::vector<int>{0, 0, 1}));
    const uint32_t none[] = {0, 0};
    GenerateCodeLengths(15, none, 2, l, 0);
    EXPECT_EQ(std::vector<int>(l, l + 2), (std::vector<int>{1, 0}));
  }
  {  // random weights: limit kept, code space filled, never worse than a longer limit allows
    std::mt19937 rng(5);
    for (int round = 0; round < 50; ++round) {
      uint32_t w[286];
      int used = 0;
      for (auto& x : w) {
        x = (rng() % 4 == 0) ? 0 : 1 + (rng() % 1000) * (rng() % 1000);
        used += x > 0;
      }
      if (used < 2) continue;
      uint8_t l[286];
      GenerateCodeLengths(15, w, 286, l, 0);
      EXPECT_LE(*std::max_element(l, l + 286), 15);
      EXPECT_EQ(KraftSumTimes(l, 286, 15), 1 << 15);
    }
  }
  uint8_t l[300];
  const uint32_t w[3] = {1, 1, 1};
  EXPECT_THROW(GenerateCodeLengths(16, w, 3, l, 0), EAssertionFailed);
  EXPECT_THROW(GenerateCodeLengths(1, w, 3, l, 0), EAssertionFailed);
}

TEST(AbDfStrmTest, RunLengthCodesCodeLengths) {
  struct Case {
    std::vector<uint8_t> lengths;
    std::vector<std::pair<int, int>> items;  // symbol, extra
  };
  std::vector<uint8_t> zeros140(140, 0);
  std::vector<uint8_t> eights(7, 8);
  const Case cases[] = {
      {zeros140, {{18, 127}, {0, 0}, {0, 0}}},
      {eights, {{8, 0}, {16, 3}}},
      {{5, 5}, {{5, 0}, {5, 0}}},
      {{5, 5, 5}, {{5, 0}, {5, 0}, {5, 0}}},
      {{3, 3, 3, 3}, {{3, 0}, {16, 0}}},
      {std::vector<uint8_t>(10, 0), {{17, 7}}},
      {std::vector<uint8_t>(12, 7), {{7, 0}, {16, 3}, {16, 2}}},
      {{0, 0, 4, 0, 0, 0}, {{0, 0}, {0, 0}, {4, 0}, {17, 0}}},
  };
  for (const auto& c : cases) {
    TAbDfCodeLenStream s;
    s.RunLengthCode(c.lengths.data(), static_cast<int32_t>(c.lengths.size()));
    std::vector<std::pair<int, int>> got;
    for (const auto& item : s.Items()) got.emplace_back(item.symbol, item.extra);
    EXPECT_EQ(got, c.items);
  }
}

TEST(AbDfEncTest, BlockWriterForms) {
  // Stored pieces of a block covering more than 65,535 bytes: only the last piece of
  // the final block is final.
  const std::string data = test::MakeRandom(103200, 81);
  TStringStream src(data);
  TAbDfInputWindow window(&src, true, false, 32, 32768, 0, nullptr);
  TAbDfLZStream lz(&window, nullptr, false);
  for (int i = 0; i < 400; ++i) lz.PutMatch(258, 1);
  TStringStream out;
  const int64_t read_so_far = src.Position();
  {
    TAbDfOutBitStream bits(&out);
    WriteStoredBlocks(true, lz, bits);
    bits.Flush();
  }
  const std::string raw = out.DataString();
  ASSERT_EQ(raw.size(), 103200u + 10u);
  EXPECT_EQ(static_cast<uint8_t>(raw[0]), 0);
  EXPECT_EQ(static_cast<uint8_t>(raw[5 + 65535]), 1);
  EXPECT_TRUE(InflateString(raw) == data);
  EXPECT_EQ(src.Position(), read_so_far);  // put back after re-reading

  // A block without matches: one distance code of length 1 (HDIST 1), still readable
  // by the peer.
  TStringStream text_src(test::MakeText(3000, 82));
  TAbDfInputWindow w2(&text_src, true, false, 32, 32768, 0, nullptr);
  TAbDfLZStream lz2(&w2, nullptr, false);
  const std::string letters = "the quick brown fox";
  for (char c : letters) lz2.PutLiteral(static_cast<uint8_t>(c));
  TStringStream out2;
  {
    TAbDfOutBitStream bits(&out2);
    WriteDynamicBlock(true, false, false, lz2, bits);
    bits.Flush();
  }
  const std::string dyn = out2.DataString();
  EXPECT_EQ((static_cast<uint8_t>(dyn[0]) >> 1) & 3, 2);        // dynamic
  EXPECT_EQ((static_cast<uint8_t>(dyn[1]) >> 0) & 0x1F, 0);      // HDIST - 1 (bits 8..12 of the stream)
  EXPECT_EQ(InflateString(dyn), letters);
  EXPECT_EQ(test::PythonInflate(dyn), letters);
}

TEST(AbDfEncTest, MaximumPresetAgainstZlibLevel9) {
  const std::string data = test::MakeText(600000, 91) + test::MakeBinary(400000, 92) + test::MakeRandom(50000, 93);
  TAbDeflateHelper h;
  h.SetPresetLetter('0');
  h.SetPresetLetter('x');
  const std::string ours = DeflateString(data, &h);
  const auto r = test::RunCommand(
      {"python3", "-c",
       "import sys,zlib\nc=zlib.compressobj(9,zlib.DEFLATED,-15)\nd=sys.stdin.buffer.read()\n"
       "print(len(c.compress(d)+c.flush()))"},
      data);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const double zlib9 = std::stod(r.output);
  EXPECT_LT(static_cast<double>(ours.size()), zlib9 * 1.03) << ours.size() << " vs " << zlib9;
  EXPECT_TRUE(InflateString(ours) == data);
}

}  // namespace
}  // namespace pelvar
