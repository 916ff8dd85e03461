// Codec support: the option object and its presets, checksums, logger, node pages.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>

#include "archive/abdfbase.h"
#include "archive/abutils.h"
#include "support/process.h"

namespace pelvar {
namespace {

struct HelperState {
  uint32_t options;
  int32_t sufficient, chain, lazy;
  char letter;
  bool operator==(const HelperState&) const = default;
};
std::ostream& operator<<(std::ostream& os, const HelperState& s) {
  return os << s.options << " " << s.sufficient << "/" << s.chain << "/" << s.lazy << " '" << s.letter << "'";
}
HelperState StateOf(const TAbDeflateHelper& h) {
  return {h.Options(), h.SufficientMatch(), h.MaxChainSteps(), h.LazyLimit(), h.PresetLetter()};
}

TEST(AbDfBaseTest, PresetsAndSetters) {
  struct Case {
    const char* name;
    std::function<void(TAbDeflateHelper&)> apply;
    HelperState expected;
  };
  const Case cases[] = {
      {"fresh", [](TAbDeflateHelper&) {}, {15, 8, 32, 16, 'n'}},
      {"n on fresh changes nothing", [](TAbDeflateHelper& h) { h.SetPresetLetter('n'); }, {15, 8, 32, 16, 'n'}},
      {"X is x", [](TAbDeflateHelper& h) { h.SetPresetLetter('X'); }, {15, 64, 4096, 258, 'x'}},
      {"q ignored", [](TAbDeflateHelper& h) { h.SetPresetLetter('q'); }, {15, 8, 32, 16, 'n'}},
      {"sufficient 2 -> 4", [](TAbDeflateHelper& h) { h.SetSufficientMatch(2); }, {15, 4, 32, 16, '?'}},
      {"sufficient -1", [](TAbDeflateHelper& h) { h.SetSufficientMatch(-1); }, {15, -1, 32, 16, '?'}},
      {"same value keeps letter", [](TAbDeflateHelper& h) { h.SetMaxChainSteps(32); }, {15, 8, 32, 16, 'n'}},
      {"lazy 0 -> 4", [](TAbDeflateHelper& h) { h.SetLazyLimit(0); }, {15, 8, 32, 4, '?'}},
      {"options", [](TAbDeflateHelper& h) { h.SetOptions(7); }, {7, 8, 32, 16, '?'}},
      {"0 then f", [](TAbDeflateHelper& h) { h.SetPresetLetter('0'); h.SetPresetLetter('f'); }, {7, 4, 32, 6, 'f'}},
      {"0 then n", [](TAbDeflateHelper& h) { h.SetPresetLetter('0'); h.SetPresetLetter('n'); }, {15, 16, 32, 24, 'n'}},
      {"0 then s", [](TAbDeflateHelper& h) { h.SetPresetLetter('0'); h.SetPresetLetter('s'); }, {7, 4, 4, 4, 's'}},
      {"0 then x", [](TAbDeflateHelper& h) { h.SetPresetLetter('0'); h.SetPresetLetter('x'); }, {15, 64, 4096, 258, 'x'}},
      {"0 keeps 64", [](TAbDeflateHelper& h) { h.SetOptions(16 | 15); h.SetPresetLetter('0'); }, {17, 8, 32, 16, '0'}},
      {"2", [](TAbDeflateHelper& h) { h.SetOptions(1); h.SetPresetLetter('2'); }, {15, 8, 32, 16, '2'}},
  };
  for (const auto& c : cases) {
    TAbDeflateHelper h;
    c.apply(h);
    EXPECT_EQ(StateOf(h), c.expected) << c.name;
  }
  TAbDeflateHelper a, b;
  a.SetPresetLetter('x');
  a.SetPassphrase("p");
  a.SetInputSize(5);
  b.CopyFrom(a);
  EXPECT_EQ(StateOf(b), StateOf(a));
  EXPECT_EQ(b.Passphrase(), "p");
  EXPECT_EQ(b.InputSize(), 5);
}

TEST(AbDfBaseTest, ChecksumsMatchPythonZlib) {
  std::string data(10000, '\xFF');
  uint32_t adler = 1;
  AbAdler32Buffer(adler, data.data(), static_cast<int64_t>(data.size()));
  std::string random(300001, '\0');
  uint32_t x = 7;
  for (auto& c : random) c = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
  uint32_t adler_random = 1;
  AbAdler32Buffer(adler_random, random.data(), 1000);
  AbAdler32Buffer(adler_random, random.data() + 1000, static_cast<int64_t>(random.size()) - 1000);
  uint32_t crc_random = 0xFFFFFFFF;
  AbCrc32Buffer(crc_random, random.data(), 13);
  AbCrc32Buffer(crc_random, random.data() + 13, static_cast<int64_t>(random.size()) - 13);
  const auto r = test::RunCommand(
      {"python3", "-c",
       "import sys,zlib; d=sys.stdin.buffer.read(); print(zlib.adler32(d[:10000]), zlib.adler32(d[10000:]), "
       "zlib.crc32(d[10000:]))"},
      data + random);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output, std::to_string(adler) + " " + std::to_string(adler_random) + " " +
                          std::to_string(~crc_random) + "\n");
  // Every length and alignment gives what the byte-wise step gives.
  for (size_t off = 0; off < 16; ++off) {
    for (size_t len : {0, 1, 15, 16, 63, 64, 65, 127, 128, 200, 1000, 4097}) {
      uint32_t fast = 0xFFFFFFFF, slow = 0xFFFFFFFF;
      AbCrc32Buffer(fast, random.data() + off, static_cast<int64_t>(len));
      for (size_t i = 0; i < len; ++i) slow = AbCrc32Byte(static_cast<uint8_t>(random[off + i]), slow);
      ASSERT_EQ(fast, slow) << off << " " << len;
    }
  }
  uint32_t empty = 1;
  AbAdler32Buffer(empty, nullptr, 0);
  EXPECT_EQ(empty, 1u);
}

TEST(AbDfBaseTest, LoggerWritesLinesAndRefusesReading) {
  test::TempDir dir("abdfbase");
  const std::string name = dir.File("codec.log");
  {
    TAbLogger log(name);
    log.LogLine("INFLATING STREAM...");
    log.SetLineDelimiter(1);
    log.LogLine("two");
    log.LogLine("");
    EXPECT_EQ(log.Seek(0, TSeekOrigin::soCurrent), 19 + 2 + 4 + 1);
    EXPECT_THROW(log.Seek(1, TSeekOrigin::soBeginning), EAssertionFailed);
    char c;
    EXPECT_THROW(log.Read(&c, 1), EAssertionFailed);
    std::string big(10000, 'z');
    EXPECT_EQ(log.Write(big.data(), 10000), 10000);
  }
  EXPECT_EQ(test::ReadFile(name), "INFLATING STREAM...\r\ntwo\n\n" + std::string(10000, 'z'));
  EXPECT_THROW(TAbLogger(""), EAssertionFailed);
}

TEST(AbDfBaseTest, NodeManagerHandsOutDistinctNodes) {
  for (int size : {1, 16, 5000, 9000}) {
    TAbNodeManager nodes(size);
    EXPECT_EQ(nodes.NodeSize() % 4, 0);
    std::set<void*> seen;
    for (int i = 0; i < 3000; ++i) {
      void* n = nodes.NewNode();
      EXPECT_TRUE(seen.insert(n).second);
      std::memset(n, 0xAB, static_cast<size_t>(nodes.NodeSize()));  // the whole node is usable
    }
  }
}

}  // namespace
}  // namespace pelvar
