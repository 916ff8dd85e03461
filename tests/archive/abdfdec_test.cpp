// The inflate decoder against streams made by Python's zlib, hand-built streams and
// damaged input.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "archive/abdfdec.h"
#include "deflate_test_util.h"

namespace pelvar {
namespace {

using test::BitWriter;

struct Inflated {
  uint32_t crc;
  std::string out;
  int64_t source_pos;
};

Inflated InflateString(const std::string& raw, TAbDeflateHelper* helper = nullptr) {
  TStringStream src(raw);
  TStringStream dst;
  Inflated r;
  r.crc = Inflate(&src, &dst, helper);
  r.out = dst.DataString();
  r.source_pos = src.Position();
  return r;
}

uint32_t Crc(const std::string& s) {
  uint32_t c = 0xFFFFFFFF;
  AbCrc32Buffer(c, s.data(), static_cast<int64_t>(s.size()));
  return ~c;
}

std::string InflateErrorOf(const std::string& raw, uint32_t options = 15) {
  TAbDeflateHelper h;
  h.SetOptions(options);
  try {
    InflateString(raw, &h);
  } catch (const EAbInflateError& e) {
    return e.Message();
  }
  return "no error";
}

std::string Cause(const char* cause) {
  return std::string("Pelvar archive kit inflate error, possibly a corrupted compressed stream. (Internal cause: ") +
         cause + ")";
}

TEST(AbDfDecTest, PythonCorpusAtEveryLevelAndStrategy) {
  test::TempDir dir("abdfdec");
  const std::vector<std::pair<std::string, std::string>> corpus = {
      {"empty", ""},
      {"one", "x"},
      {"text", test::MakeText(300000)},
      {"random", test::MakeRandom(1 << 20)},
      {"zeros", std::string(5 << 20, '\0')},
      {"binary", test::MakeBinary(400000)},
  };
  for (const auto& [name, data] : corpus) test::WriteFile(dir.File(name), data);
  const std::string script =
      "import sys,zlib,os\n"
      "d=sys.argv[1]\n"
      "variants=[('l%d'%l,l,zlib.Z_DEFAULT_STRATEGY) for l in range(10)]+[\n"
      "  ('filtered',6,zlib.Z_FILTERED),('huffman',6,zlib.Z_HUFFMAN_ONLY),('rle',6,zlib.Z_RLE),('fixed',6,zlib.Z_FIXED)]\n"
      "for n in sys.argv[2:]:\n"
      "  data=open(os.path.join(d,n),'rb').read()\n"
      "  for v,l,s in variants:\n"
      "    c=zlib.compressobj(l,zlib.DEFLATED,-15,9,s)\n"
      "    open(os.path.join(d,n+'.'+v),'wb').write(c.compress(data)+c.flush())\n"
      "    print(n,v,zlib.crc32(data))\n";
  std::vector<std::string> argv = {"python3", "-c", script, dir.Path()};
  for (const auto& c : corpus) argv.push_back(c.first);
  const auto r = test::RunCommand(argv);
  ASSERT_EQ(r.exit_code, 0) << r.output;

  std::istringstream lines(r.output);
  std::string name, variant;
  uint32_t python_crc;
  int streams = 0;
  while (lines >> name >> variant >> python_crc) {
    SCOPED_TRACE(name + "." + variant);
    const std::string& data =
        std::find_if(corpus.begin(), corpus.end(), [&](const auto& c) { return c.first == name; })->second;
    const std::string raw = test::ReadFile(dir.File(name + "." + variant));
    // Trailing bytes after the stream stay unread.
    TAbDeflateHelper helper;
    const Inflated got = InflateString(raw + "TRAILING BYTES", &helper);
    EXPECT_EQ(got.crc, python_crc);
    EXPECT_TRUE(got.out == data) << got.out.size() << " vs " << data.size();
    EXPECT_EQ(got.source_pos, static_cast<int64_t>(raw.size()));
    EXPECT_EQ(helper.CompressedCount(), static_cast<int32_t>(raw.size()));
    EXPECT_EQ(helper.UncompressedCount(), static_cast<int32_t>(data.size()));
    ++streams;
  }
  EXPECT_EQ(streams, 6 * 14);
}

TEST(AbDfDecTest, HandBuiltStreams) {
  {  // one empty stored final block
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(0, 2);
    w.Bytes(std::string("\x00\x00\xFF\xFF", 4));
    const Inflated got = InflateString(w.Data());
    EXPECT_EQ(got.crc, 0u);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.source_pos, 5);
  }
  {  // 'a' then a match of length 10 at distance 1
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(1, 2);
    w.FixedLitLen('a');
    w.FixedLitLen(264);  // length 10
    w.FixedDist(0);      // distance 1
    w.FixedLitLen(256);
    EXPECT_EQ(InflateString(w.Data()).out, std::string(11, 'a'));
    EXPECT_EQ(test::PythonInflate(w.Data()), std::string(11, 'a'));
  }
  {  // Adler-32 instead of CRC-32 as the checksum
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(0, 2);
    w.Bytes(std::string("\x03\x00\xFC\xFF" "abc", 7));
    TAbDeflateHelper h;
    h.SetOptions(15 | dfc_UseAdler32);
    EXPECT_EQ(InflateString(w.Data(), &h).crc, 0x024d0127u);
  }
}

// A fixed-code block: 'a', then symbol 285, then distance `dsym` with its extra bits.
std::string Symbol285Stream(bool with_extra, uint32_t extra_value) {
  BitWriter w;
  w.Bits(1, 1);
  w.Bits(1, 2);
  w.FixedLitLen('a');
  w.FixedLitLen(285);
  if (with_extra) w.Bits(extra_value, 16);
  w.FixedDist(0);
  w.FixedLitLen(256);
  return w.Data();
}

TEST(AbDfDecTest, Deflate64Streams) {
  TAbDeflateHelper d64;
  d64.SetOptions(15 | dfc_UseDeflate64);
  // In Deflate, symbol 285 is 258 without extra bits; in Deflate64 it reads 16 extra
  // bits on base 3.
  EXPECT_EQ(InflateString(Symbol285Stream(false, 0)).out, std::string(259, 'a'));
  EXPECT_EQ(InflateString(Symbol285Stream(true, 1000), &d64).out, std::string(1004, 'a'));
  EXPECT_EQ(InflateString(Symbol285Stream(true, 65535), &d64).out, std::string(65539, 'a'));

  // A stored block of 40,000 bytes, then a match at distance 40,000 (symbol 30) and one
  // at distance 65,536 (symbol 31) once enough output exists.
  const std::string block = test::MakeRandom(40000, 9);
  BitWriter w;
  w.Bits(0, 1);
  w.Bits(0, 2);
  w.Bytes(std::string("\x40\x9C\xBF\x63", 4) + block);
  w.Bits(0, 1);
  w.Bits(0, 2);
  w.Bytes(std::string("\x40\x9C\xBF\x63", 4) + block);
  w.Bits(1, 1);
  w.Bits(1, 2);
  w.FixedLitLen(265);  // length 11 + 1 extra bit
  w.Bits(1, 1);        // 12
  w.FixedDist(30);
  w.Bits(40000 - 32769, 14);
  w.FixedLitLen(265);
  w.Bits(0, 1);  // 11
  w.FixedDist(31);
  w.Bits(65536 - 49153, 14);
  w.FixedLitLen(256);
  const std::string doubled = block + block;
  const std::string expected = doubled + doubled.substr(80000 - 40000, 12) +
                               (doubled + doubled.substr(40000, 12)).substr(80012 - 65536, 11);
  const Inflated got = InflateString(w.Data(), &d64);
  EXPECT_TRUE(got.out == expected);
  EXPECT_EQ(got.crc, Crc(expected));
  EXPECT_EQ(InflateErrorOf(w.Data()), Cause("decoded an invalid distance symbol: greater than 29 [DecodeData]"));
}

// A dynamic block header declaring hdist distance codes of 5 bits (4 for the last two
// of 30), literal/length codes of 7 to 9 bits, then 'a' and the end of block.
std::string DynamicStream(int hdist, const std::vector<int>* dist_lengths = nullptr, bool bad_distance = false) {
  BitWriter w;
  w.Bits(1, 1);
  w.Bits(2, 2);
  const int hlit = 286;
  w.Bits(hlit - 257, 5);
  w.Bits(hdist - 1, 5);
  w.Bits(19 - 4, 4);
  // Code-length code: symbols 0..15 with 4 bits each, 16..18 unused.
  static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  std::vector<int> cl(19, 0);
  for (int i = 0; i < 16; ++i) cl[i] = 4;
  for (int i = 0; i < 19; ++i) w.Bits(cl[kOrder[i]], 3);
  const auto cl_codes = test::CanonicalCodes(cl);
  std::vector<int> lit(hlit);
  for (int i = 0; i < hlit; ++i) lit[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  lit[284] = lit[285] = 7;  // a complete code over 286 symbols
  std::vector<int> dist(hdist, 5);
  if (hdist == 30) dist[28] = dist[29] = 4;  // complete as well
  if (dist_lengths) dist = *dist_lengths;
  for (int l : lit) w.Code(cl_codes[l], 4);
  for (int l : dist) w.Code(cl_codes[l], 4);
  const auto lit_codes = test::CanonicalCodes(lit);
  w.Code(lit_codes['a'], lit['a']);
  if (bad_distance) {
    w.Code(lit_codes[257], lit[257]);  // length 3, then a distance code no symbol has
    w.Code(1, 1);
  }
  w.Code(lit_codes[256], lit[256]);
  return w.Data();
}

TEST(AbDfDecTest, DynamicBlockDistanceCounts) {
  EXPECT_EQ(InflateString(DynamicStream(30)).out, "a");
  EXPECT_EQ(test::PythonInflate(DynamicStream(30)), "a");
  EXPECT_EQ(InflateErrorOf(DynamicStream(31)),
            Cause("count of distance codes in dynamic block is greater than 30 [InflateDynamicBlock]"));
  TAbDeflateHelper d64;
  d64.SetOptions(15 | dfc_UseDeflate64);
  EXPECT_EQ(InflateString(DynamicStream(31), &d64).out, "a");
  EXPECT_EQ(InflateString(DynamicStream(32), &d64).out, "a");

  // Only distance symbol 0 has a code (one bit, 0); the code 1 reaches nothing.
  std::vector<int> one(31, 0);
  one[0] = 1;
  const std::string bad = DynamicStream(31, &one, true);
  try {
    InflateString(bad, &d64);
    ADD_FAILURE();
  } catch (const EAbInflateError& e) {
    EXPECT_EQ(e.Message(), Cause("decoded an invalid distance symbol: no code has it [DecodeData]"));
  }
}

TEST(AbDfDecTest, CorruptStreamsRaiseInflateError) {
  struct Case {
    const char* name;
    std::function<void(BitWriter&)> build;
    const char* cause;
  };
  const Case cases[] = {
      {"block type 3", [](BitWriter& w) { w.Bits(1, 1); w.Bits(3, 2); },
       "starting new block, but invalid block type [Inflate]"},
      {"stored length mismatch", [](BitWriter& w) { w.Bits(1, 1); w.Bits(0, 2); w.Bytes(std::string("\x05\x00\x00\x00", 4)); },
       "invalid stored block (length and NOT length do not match) [InflateStoredBlock]"},
      {"distance before the start",
       [](BitWriter& w) { w.Bits(1, 1); w.Bits(1, 2); w.FixedLitLen('a'); w.FixedLitLen(257); w.FixedDist(1); w.FixedLitLen(256); },
       "distance is farther back than the data produced [DecodeData]"},
      {"no data at all", [](BitWriter&) {}, "no more compressed data in stream [TAbDfInBitStream.ReadBits]"},
      {"length symbol 286",
       [](BitWriter& w) { w.Bits(1, 1); w.Bits(1, 2); w.FixedLitLen(286); },
       "decoded an invalid length symbol: greater than 285 [DecodeData]"},
      {"literal count above 286", [](BitWriter& w) { w.Bits(1, 1); w.Bits(2, 2); w.Bits(30, 5); w.Bits(0, 5); w.Bits(0, 4); },
       "count of literal codes in dynamic block is greater than 286 [InflateDynamicBlock]"},
      {"repeat as the first code length",
       [](BitWriter& w) {
         w.Bits(1, 1); w.Bits(2, 2); w.Bits(0, 5); w.Bits(0, 5); w.Bits(0, 4);
         w.Bits(1, 3); w.Bits(1, 3); w.Bits(0, 3); w.Bits(0, 3);  // 16 and 17 with one bit each
         w.Code(0, 1); w.Bits(0, 2);
       },
       "repeat of the previous code length with no previous length {ReadLitDistCodeLengths}"},
      {"repeat past the count",
       [](BitWriter& w) {
         w.Bits(1, 1); w.Bits(2, 2); w.Bits(0, 5); w.Bits(0, 5); w.Bits(0, 4);
         w.Bits(0, 3); w.Bits(0, 3); w.Bits(1, 3); w.Bits(0, 3);  // only 18, one bit
         w.Code(0, 1); w.Bits(127, 7); w.Code(0, 1); w.Bits(127, 7); w.Code(0, 1); w.Bits(127, 7);
       },
       "repeated code lengths run past the count of lengths {ReadLitDistCodeLengths}"},
      {"over-subscribed code lengths",
       [](BitWriter& w) {
         w.Bits(1, 1); w.Bits(2, 2); w.Bits(0, 5); w.Bits(0, 5); w.Bits(15, 4);
         for (int i = 0; i < 19; ++i) w.Bits(1, 3);  // 19 codes of one bit
       },
       "over-subscribed set of code lengths [TAbDfDecodeHuffmanTree.Build]"},
  };
  for (const auto& c : cases) {
    BitWriter w;
    c.build(w);
    EXPECT_EQ(InflateErrorOf(w.Data()), Cause(c.cause)) << c.name;
  }
}

std::string PythonDeflate(const std::string& data, int level) {
  const auto r = test::RunCommand(
      {"python3", "-c",
       "import sys,zlib\nc=zlib.compressobj(" + std::to_string(level) +
           ",zlib.DEFLATED,-15)\nsys.stdout.buffer.write(c.compress(sys.stdin.buffer.read())+c.flush())"},
      data);
  return r.output;
}

TEST(AbDfDecTest, EveryTruncationFails) {
  const std::string data = test::MakeText(4000, 4) + test::MakeBinary(4000, 5) + test::MakeRandom(300, 6);
  for (int level : {0, 1, 9}) {
    const std::string raw = PythonDeflate(data, level);
    ASSERT_EQ(InflateString(raw).out, data);
    for (size_t cut = 0; cut < raw.size(); ++cut) {
      TAbDeflateHelper h;
      EXPECT_THROW(InflateString(raw.substr(0, cut), &h), EAbInflateError) << level << " cut " << cut;
    }
  }
}

TEST(AbDfDecTest, DamagedStreamsNeverCrash) {
  const std::string data = test::MakeText(150000, 7) + test::MakeBinary(100000, 8) + test::MakeRandom(20000, 10);
  const std::string raw = PythonDeflate(data, 6);
  ASSERT_GT(raw.size(), 60000u);
  std::mt19937 rng(99);
  int failures = 0;
  for (int i = 0; i < 1000; ++i) {
    std::string bad = raw;
    const int flips = 1 + static_cast<int>(rng() % 3);
    for (int f = 0; f < flips; ++f) bad[rng() % bad.size()] ^= static_cast<char>(1 << (rng() % 8));
    try {
      const Inflated got = InflateString(bad);
      EXPECT_EQ(got.crc, Crc(got.out));
    } catch (const EAbInflateError&) {
      ++failures;
    }
  }
  EXPECT_GT(failures, 0);
  for (size_t cut = 0; cut < raw.size(); cut += 151) EXPECT_THROW(InflateString(raw.substr(0, cut)), EAbInflateError);
}

TEST(AbDfDecTest, TestOnlyPartialLimitAndProgress) {
  const std::string data = test::MakeText(200000, 11);
  const std::string raw = PythonDeflate(data, 6);

  TAbDeflateHelper test_only;
  test_only.SetOptions(15 | dfc_TestOnly);
  const Inflated tested = InflateString(raw, &test_only);
  EXPECT_EQ(tested.out, "");
  EXPECT_EQ(tested.crc, Crc(data));
  EXPECT_EQ(test_only.UncompressedCount(), 200000);

  TAbDeflateHelper partial;
  partial.SetPartialLimit(512);
  const Inflated first = InflateString(raw, &partial);
  EXPECT_EQ(first.crc, 0u);
  EXPECT_GE(first.out.size(), 512u);
  EXPECT_LT(first.out.size(), 512u + 258u);
  EXPECT_EQ(first.out, data.substr(0, first.out.size()));

  std::vector<int32_t> steps;
  TAbDeflateHelper progress;
  progress.SetInputSize(-1);
  progress.SetOnStepProgress([&](int32_t p) { steps.push_back(p); });
  EXPECT_EQ(InflateString(raw, &progress).out, data);
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(steps.back(), 100);
  EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));

  TAbDeflateHelper abort;
  abort.SetInputSize(static_cast<int32_t>(raw.size()));
  abort.SetOnStepProgress([](int32_t) { throw EAbAbortProgress("Process aborted by user"); });
  // An abort is no result: it must not look like a finished run with CRC 0.
  EXPECT_THROW(InflateString(raw, &abort), EAbAbortProgress);
}

TEST(AbDfDecTest, LogFileRecordsFailures) {
  test::TempDir dir("abdfdec");
  TAbDeflateHelper h;
  h.SetLogFileName(dir.File("inflate.log"));
  BitWriter w;
  w.Bits(1, 1);
  w.Bits(3, 2);
  EXPECT_THROW(InflateString(w.Data(), &h), EAbInflateError);
  EXPECT_EQ(test::ReadFile(dir.File("inflate.log")),
            "INFLATING STREAM...\r\nNeed to recompile the app with UseLogging turned on\r\n"
            "Internal exception raised: starting new block, but invalid block type [Inflate]\r\n");
}

}  // namespace
}  // namespace pelvar
