// The legacy methods of the zip format (shrink, reduce, implode), which no peer here
// writes: the entries are built in the test by small encoders. Shrunk and imploded
// entries are first accepted by unzip, so the fixtures are real; reduced ones (unzip
// cannot read them) are checked by their known content. Encrypted legacy entries
// take the password and its retries; damaged ones fail without a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/abdfbase.h"
#include "archive/abdfcrys.h"
#include "archive/abunzprc.h"
#include "archive/abzipprc.h"
#include "support/process.h"

namespace pelvar {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

// --- Building zip files by hand ---

class BitWriter {
 public:
  // Value's low Count bits, least significant first.
  void Put(uint32_t Value, int Count) {
    for (int i = 0; i < Count; ++i) Bit((Value >> i) & 1);
  }
  void Bit(uint32_t B) {
    acc_ |= (B & 1) << n_;
    if (++n_ == 8) {
      out_ += static_cast<char>(acc_);
      acc_ = 0;
      n_ = 0;
    }
  }
  std::string Finish() {
    if (n_ > 0) out_ += static_cast<char>(acc_);
    acc_ = 0;
    n_ = 0;
    return out_;
  }

 private:
  std::string out_;
  uint32_t acc_ = 0;
  int n_ = 0;
};

void U16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void U32(std::string& s, uint32_t v) {
  U16(s, v & 0xFFFF);
  U16(s, v >> 16);
}

uint32_t Crc(const std::string& s) {
  uint32_t c = 0xFFFFFFFF;
  AbCrc32Buffer(c, s.data(), static_cast<int64_t>(s.size()));
  return ~c;
}

struct RawEntry {
  std::string name;
  uint16_t method;
  uint16_t flag;
  std::string plain;   // the content
  std::string packed;  // the stored data
};

std::string BuildZip(const std::vector<RawEntry>& Entries) {
  std::string zip, directory;
  for (const RawEntry& e : Entries) {
    const uint32_t offset = static_cast<uint32_t>(zip.size());
    auto fixed = [&](std::string& s) {
      U16(s, 10);  // version needed 1.0
      U16(s, e.flag);
      U16(s, e.method);
      U16(s, 0x6000);  // 12:00:00
      U16(s, 0x5A21);  // 2025-01-01
      U32(s, Crc(e.plain));
      U32(s, static_cast<uint32_t>(e.packed.size()));
      U32(s, static_cast<uint32_t>(e.plain.size()));
      U16(s, static_cast<uint32_t>(e.name.size()));
      U16(s, 0);
    };
    U32(zip, 0x04034B50);
    fixed(zip);
    zip += e.name + e.packed;
    U32(directory, 0x02014B50);
    U16(directory, 20);
    fixed(directory);
    U16(directory, 0);
    U16(directory, 0);
    U16(directory, 0);
    U32(directory, 0x20);
    U32(directory, offset);
    directory += e.name;
  }
  const uint32_t dir_offset = static_cast<uint32_t>(zip.size());
  zip += directory;
  U32(zip, 0x06054B50);
  U16(zip, 0);
  U16(zip, 0);
  U16(zip, static_cast<uint32_t>(Entries.size()));
  U16(zip, static_cast<uint32_t>(Entries.size()));
  U32(zip, static_cast<uint32_t>(directory.size()));
  U32(zip, dir_offset);
  U16(zip, 0);
  return zip;
}

// Traditional encryption of packed data with the CRC-32 as check value.
std::string Encrypt(const std::string& Packed, const std::string& Plain, const AnsiString& Password) {
  TAbZipEncryptEngine engine;
  uint8_t header[12];
  engine.CreateHeader(header, Password, Crc(Plain));
  std::string data = Packed;
  engine.EncodeBuffer(data.data(), static_cast<int32_t>(data.size()));
  return std::string(reinterpret_cast<char*>(header), 12) + data;
}

// --- Test data ---

std::string Words(size_t n, uint32_t seed) {
  static const char* kWords[] = {"pes ",   "kočka ", "vakcína ", "ordinace ", "\x90",   "recept ",
                                 "\x90\x90", "faktura ", "léčba ", "kontrola\n", "a ", "e "};
  std::string s;
  uint32_t x = seed;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    s += kWords[(x >> 16) % 12];
    if ((x >> 8) % 7 == 0) s += static_cast<char>(x >> 24);
  }
  s.resize(n);
  return s;
}

// --- Shrink: LZW with 9- to 13-bit codes, control code 256 ---

// A partial clear comes once the table is nearly full, after a one-byte string
// (whose code a clear never frees); the table never runs full, as readers require.
std::string Shrink(const std::string& In, int* Clears = nullptr) {
  constexpr int kTable = 8192;
  BitWriter w;
  std::map<std::pair<int, uint8_t>, int> dict;
  std::vector<int> prefix(kTable, -1);
  std::vector<uint8_t> suffix(kTable);
  int code_size = 9;
  int free_code = 257;
  auto emit = [&](int code) {
    while (code >= (1 << code_size)) {
      w.Put(256, code_size);
      w.Put(1, code_size);
      ++code_size;
    }
    w.Put(static_cast<uint32_t>(code), code_size);
  };
  auto add = [&](int p, uint8_t c) {
    if (free_code >= kTable) return;
    dict[{p, c}] = free_code;
    prefix[static_cast<size_t>(free_code)] = p;
    suffix[static_cast<size_t>(free_code)] = c;
    while (free_code < kTable && prefix[static_cast<size_t>(free_code)] != -1) ++free_code;
  };
  auto partial_clear = [&] {
    w.Put(256, code_size);
    w.Put(2, code_size);
    std::vector<bool> parent(kTable);
    for (int c = 257; c < kTable; ++c)
      if (prefix[static_cast<size_t>(c)] > 256) parent[static_cast<size_t>(prefix[static_cast<size_t>(c)])] = true;
    for (int c = 257; c < kTable; ++c) {
      if (prefix[static_cast<size_t>(c)] != -1 && !parent[static_cast<size_t>(c)]) {
        dict.erase({prefix[static_cast<size_t>(c)], suffix[static_cast<size_t>(c)]});
        prefix[static_cast<size_t>(c)] = -1;
      }
    }
    free_code = 257;
    while (free_code < kTable && prefix[static_cast<size_t>(free_code)] != -1) ++free_code;
  };
  int cur = static_cast<uint8_t>(In[0]);
  for (size_t i = 1; i < In.size(); ++i) {
    const auto c = static_cast<uint8_t>(In[i]);
    auto it = dict.find({cur, c});
    if (it != dict.end()) {
      cur = it->second;
      continue;
    }
    emit(cur);
    if (free_code >= kTable - 600 && cur < 256) {
      partial_clear();
      if (Clears != nullptr) ++*Clears;
    }
    add(cur, c);
    cur = c;
  }
  emit(cur);
  return w.Finish();
}

// --- Reduce: follower sets and the run-length / back-reference expansion ---

std::string Reduce(const std::string& In, int Factor) {
  const uint32_t mask = 0xFFu >> Factor;
  const size_t max_distance = ((0xFFu >> (8 - Factor)) << 8) + 256;
  // The byte stream of the expansion: literals (144 doubled as 144 0) and matches.
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < In.size();) {
    size_t best_len = 0, best_dist = 0;
    for (size_t d = 1; d <= std::min(i, max_distance); d += (d < 64 ? 1 : 37)) {
      size_t l = 0;
      while (i + l < In.size() && l < mask + 255 + 3 && In[i + l] == In[i + l - d]) ++l;
      if (l > best_len) {
        best_len = l;
        best_dist = d;
      }
    }
    if (best_len >= 4) {
      const uint32_t len = static_cast<uint32_t>(best_len - 3);
      const uint32_t dist = static_cast<uint32_t>(best_dist - 1);
      bytes.push_back(144);
      bytes.push_back(static_cast<uint8_t>(((dist >> 8) << (8 - Factor)) | std::min(len, mask)));
      if (len >= mask) bytes.push_back(static_cast<uint8_t>(len - mask));
      bytes.push_back(static_cast<uint8_t>(dist & 0xFF));
      i += best_len;
    } else {
      const auto b = static_cast<uint8_t>(In[i++]);
      bytes.push_back(b);
      if (b == 144) bytes.push_back(0);
    }
  }
  // Follower sets: the most frequent successors, at most 32; some bytes get none.
  std::vector<std::vector<uint8_t>> sets(256);
  {
    std::vector<std::map<uint8_t, int>> freq(256);
    uint8_t last = 0;
    for (uint8_t b : bytes) {
      ++freq[last][b];
      last = b;
    }
    for (int j = 0; j < 256; ++j) {
      if (j % 5 == 4) continue;
      std::vector<std::pair<int, uint8_t>> order;
      for (auto [b, n] : freq[static_cast<size_t>(j)]) order.push_back({-n, b});
      std::sort(order.begin(), order.end());
      for (size_t k = 0; k < order.size() && k < static_cast<size_t>(1 + j % 32); ++k)
        sets[static_cast<size_t>(j)].push_back(order[k].second);
    }
  }
  BitWriter w;
  for (int j = 255; j >= 0; --j) {
    w.Put(static_cast<uint32_t>(sets[static_cast<size_t>(j)].size()), 6);
    for (uint8_t b : sets[static_cast<size_t>(j)]) w.Put(b, 8);
  }
  uint8_t last = 0;
  for (uint8_t b : bytes) {
    const auto& set = sets[last];
    if (set.empty()) {
      w.Put(b, 8);
    } else {
      const auto at = std::find(set.begin(), set.end(), b);
      if (at == set.end()) {
        w.Put(1, 1);
        w.Put(b, 8);
      } else {
        int bits = 0;
        while ((1u << bits) < set.size()) ++bits;
        w.Put(0, 1);
        w.Put(static_cast<uint32_t>(at - set.begin()), std::max(bits, 1));
      }
    }
    last = b;
  }
  return w.Finish();
}

// --- Implode: Shannon-Fano trees, sliding dictionary of 4 or 8 KB ---

struct SFTree {
  std::vector<int> length;      // by value
  std::vector<uint16_t> code;   // by value, most significant bit sent first
};

SFTree MakeTree(std::vector<int> Lengths) {
  SFTree t;
  t.length = Lengths;
  t.code.resize(Lengths.size());
  std::vector<int> order(Lengths.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return Lengths[a] < Lengths[b]; });
  uint32_t code = 0, increment = 0;
  int last = 0;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    code += increment;
    if (Lengths[static_cast<size_t>(*it)] != last) {
      last = Lengths[static_cast<size_t>(*it)];
      increment = 1u << (16 - last);
    }
    t.code[static_cast<size_t>(*it)] = static_cast<uint16_t>(code);
  }
  return t;
}

void PutTree(BitWriter& W, const SFTree& T) {
  std::vector<uint8_t> runs;
  for (size_t i = 0; i < T.length.size();) {
    size_t n = 1;
    while (i + n < T.length.size() && n < 16 && T.length[i + n] == T.length[i]) ++n;
    runs.push_back(static_cast<uint8_t>(((n - 1) << 4) | static_cast<size_t>(T.length[i] - 1)));
    i += n;
  }
  W.Put(static_cast<uint32_t>(runs.size() - 1), 8);
  for (uint8_t r : runs) W.Put(r, 8);
}

void PutCode(BitWriter& W, const SFTree& T, size_t Value) {
  for (int i = 0; i < T.length[Value]; ++i) W.Bit((T.code[Value] >> (15 - i)) & 1);
}

// Complete trees: Kraft sums of exactly 1 (checked by a test below).
SFTree LiteralTree() {
  // 16 letters of 5 bits, then in value order 32 of 7, 48 of 9 and 160 of 10 bits.
  std::vector<int> l(256, 0);
  for (int v : {' ', 'a', 'e', 'o', 'i', 'n', 'r', 'c', 'k', 't', 's', 'l', 'p', 'd', 'v', 'z'})
    l[static_cast<size_t>(v)] = 5;
  int rest = 0;
  for (int v = 0; v < 256; ++v) {
    if (l[static_cast<size_t>(v)] != 0) continue;
    l[static_cast<size_t>(v)] = rest < 32 ? 7 : rest < 80 ? 9 : 10;
    ++rest;
  }
  return MakeTree(l);
}

SFTree LengthTree() {
  // 2 of 2, 4 of 4, 8 of 6, 14 of 8 and 36 of 9 bits.
  std::vector<int> l(64);
  for (int v = 0; v < 64; ++v) l[static_cast<size_t>(v)] = v < 2 ? 2 : v < 6 ? 4 : v < 14 ? 6 : v < 28 ? 8 : 9;
  return MakeTree(l);
}

SFTree DistanceTree() {
  // 4 of 3, 8 of 5, 16 of 7, 28 of 8 and 8 of 9 bits.
  std::vector<int> l(64);
  for (int v = 0; v < 64; ++v) l[static_cast<size_t>(v)] = v < 4 ? 3 : v < 12 ? 5 : v < 28 ? 7 : v < 56 ? 8 : 9;
  return MakeTree(l);
}

std::string Implode(const std::string& In, bool EightK, bool LiteralTreeToo) {
  const int low_bits = EightK ? 7 : 6;
  const size_t window = EightK ? 8192 : 4096;
  const size_t min_match = LiteralTreeToo ? 3 : 2;
  const SFTree lit = LiteralTree(), len = LengthTree(), dist = DistanceTree();
  BitWriter w;
  if (LiteralTreeToo) PutTree(w, lit);
  PutTree(w, len);
  PutTree(w, dist);
  for (size_t i = 0; i < In.size();) {
    size_t best_len = 0, best_dist = 0;
    for (size_t d = 1; d <= std::min(i, window); d += (d < 64 ? 1 : 29)) {
      size_t l = 0;
      while (i + l < In.size() && l < min_match + 63 + 255 && In[i + l] == In[i + l - d]) ++l;
      if (l > best_len) {
        best_len = l;
        best_dist = d;
      }
    }
    if (best_len >= min_match + 1) {
      w.Put(0, 1);
      const size_t d = best_dist - 1;
      w.Put(static_cast<uint32_t>(d & ((1u << low_bits) - 1)), low_bits);
      PutCode(w, dist, d >> low_bits);
      const size_t l = best_len - min_match;
      if (l < 63) {
        PutCode(w, len, l);
      } else {
        PutCode(w, len, 63);
        w.Put(static_cast<uint32_t>(l - 63), 8);
      }
      i += best_len;
    } else {
      w.Put(1, 1);
      const auto b = static_cast<uint8_t>(In[i++]);
      if (LiteralTreeToo)
        PutCode(w, lit, b);
      else
        w.Put(b, 8);
    }
  }
  return w.Finish();
}

std::unique_ptr<TAbZipArchive> OpenZip(const std::string& path) {
  auto zip = std::make_unique<TAbZipArchive>(path, fmOpenRead | fmShareDenyNone);
  zip->ExtractHelper = AbUnzipToFile;
  zip->ExtractToStreamHelper = AbUnzipToStream;
  zip->TestHelper = AbTestZipItem;
  zip->Load();
  return zip;
}

std::string Extract(TAbZipArchive& Zip, int32_t Index) {
  TMemoryStream out;
  Zip.ExtractItemToStreamAt(Index, out);
  return std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size()));
}

::testing::AssertionResult SameBytes(const std::string& Actual, const std::string& Expected) {
  if (Actual == Expected) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < Actual.size() && at < Expected.size() && Actual[at] == Expected[at]) ++at;
  return ::testing::AssertionFailure() << "sizes " << Actual.size() << " and " << Expected.size()
                                       << ", first difference at " << at;
}

TEST(AbUnzPrc, TheEncodersTreesAreComplete) {
  for (const SFTree& t : {LiteralTree(), LengthTree(), DistanceTree()}) {
    double kraft = 0;
    for (int l : t.length) kraft += 1.0 / (1 << l);
    EXPECT_DOUBLE_EQ(kraft, 1.0);
  }
}

TEST(AbUnzPrc, ShrunkAndImplodedEntriesThatUnzipAcceptsExpand) {
  TempDir dir("abunzprc");
  const std::string big = Words(120000, 1);
  const std::string small = Words(3000, 2);
  int clears = 0;
  std::vector<RawEntry> entries = {
      {"shrunk.txt", 1, 0, big, Shrink(big, &clears)},
      {"short.txt", 1, 0, small, Shrink(small)},
      {"imploded-8k-3.txt", 6, 6, big, Implode(big, true, true)},
      {"imploded-8k-2.txt", 6, 2, big, Implode(big, true, false)},
      {"imploded-4k-3.txt", 6, 4, big, Implode(big, false, true)},
      {"imploded-4k-2.txt", 6, 0, small, Implode(small, false, false)},
  };
  // The long text went through 13-bit codes and partial clears.
  EXPECT_GE(clears, 2);
  const std::string path = dir.File("legacy.zip");
  WriteFile(path, BuildZip(entries));
  const auto t = RunCommand({"unzip", "-t", path});
  ASSERT_EQ(t.exit_code, 0) << t.output;

  auto zip = OpenZip(path);
  ASSERT_EQ(zip->ItemCount(), static_cast<int32_t>(entries.size()));
  for (int32_t i = 0; i < zip->ItemCount(); ++i) {
    SCOPED_TRACE(entries[static_cast<size_t>(i)].name);
    EXPECT_TRUE(SameBytes(Extract(*zip, i), entries[static_cast<size_t>(i)].plain));
    EXPECT_NO_THROW(zip->TestItemAt(i));
  }
  // To a file, with the item's date.
  zip->SetBaseDirectory(dir.Path());
  zip->ExtractItemAt(3, "out.txt");
  EXPECT_TRUE(SameBytes(ReadFile(dir.File("out.txt")), big));
  EXPECT_EQ(AbFileAge(dir.File("out.txt")), 0x5A216000);
}

TEST(AbUnzPrc, ReducedEntriesOfEveryFactorExpand) {
  TempDir dir("abunzprc");
  // Long enough for back-references beyond 8 KB of output, with 144 bytes in it.
  const std::string data = Words(40000, 3);
  ASSERT_NE(data.find('\x90'), std::string::npos);
  std::vector<RawEntry> entries;
  for (int factor = 1; factor <= 4; ++factor)
    entries.push_back({"reduced" + std::to_string(factor) + ".txt", static_cast<uint16_t>(factor + 1), 0, data,
                       Reduce(data, factor)});
  for (const RawEntry& e : entries) EXPECT_LT(e.packed.size(), data.size()) << e.name;
  WriteFile(dir.File("r.zip"), BuildZip(entries));
  auto zip = OpenZip(dir.File("r.zip"));
  for (int32_t i = 0; i < zip->ItemCount(); ++i) {
    SCOPED_TRACE(entries[static_cast<size_t>(i)].name);
    EXPECT_TRUE(SameBytes(Extract(*zip, i), data));
    EXPECT_NO_THROW(zip->TestItemAt(i));
  }
}

TEST(AbUnzPrc, EncryptedLegacyEntriesTakeThePasswordAndItsRetries) {
  TempDir dir("abunzprc");
  const std::string data = Words(20000, 4);
  const std::vector<RawEntry> entries = {
      {"imploded.txt", 6, 6 | 1, data, Encrypt(Implode(data, true, true), data, "heslo")},
      {"shrunk.txt", 1, 1, data, Encrypt(Shrink(data), data, "heslo")},
  };
  const std::string path = dir.File("e.zip");
  WriteFile(path, BuildZip(entries));
  const auto t = RunCommand({"unzip", "-t", "-P", "heslo", path});
  ASSERT_EQ(t.exit_code, 0) << t.output;

  for (int32_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(entries[static_cast<size_t>(i)].name);
    // A wrong answer that this entry's random header really refuses: one wrong password
    // in 256 passes the one-byte check and fails later as damaged data.
    AnsiString refused = "spatne";
    TAbZipDecryptEngine check;
    for (int k = 1; check.VerifyHeader(reinterpret_cast<const uint8_t*>(entries[static_cast<size_t>(i)].packed.data()),
                                       refused, Crc(data));
         ++k)
      refused = "spatne" + std::to_string(k);

    auto zip = OpenZip(path);
    std::vector<std::string> answers = {refused, "heslo"};
    size_t asked = 0;
    zip->OnNeedPassword = [&](TObject*, AnsiString& p) { p = answers[std::min(asked++, answers.size() - 1)]; };
    EXPECT_TRUE(SameBytes(Extract(*zip, i), data));
    EXPECT_EQ(asked, 2u);

    auto wrong = OpenZip(path);
    wrong->SetPasswordRetries(2);
    size_t wrong_asked = 0;
    wrong->OnNeedPassword = [&](TObject*, AnsiString& p) {
      ++wrong_asked;
      p = refused;
    };
    TMemoryStream out;
    EXPECT_THROW(wrong->ExtractItemToStreamAt(i, out), EAbZipInvalidPassword);
    EXPECT_EQ(wrong_asked, 2u);
    EXPECT_EQ(out.Size(), 0);
  }
}

TEST(AbUnzPrc, DamagedLegacyDataFailsOnceWithoutACrash) {
  TempDir dir("abunzprc");
  const std::string data = Words(30000, 5);
  const std::vector<std::pair<uint16_t, std::string>> good = {
      {1, Shrink(data)}, {3, Reduce(data, 2)}, {6, Implode(data, true, true)}};
  std::vector<RawEntry> entries;
  uint32_t x = 99;
  for (const auto& [method, packed] : good) {
    const uint16_t flag = method == 6 ? 6 : 0;
    // Flipped bytes, the data cut short, and noise.
    std::string flipped = packed;
    for (size_t i = 40; i < flipped.size(); i += 997) flipped[i] = static_cast<char>(flipped[i] ^ 0x5A);
    std::string noise(packed.size(), '\0');
    for (char& c : noise) {
      x = x * 1664525u + 1013904223u;
      c = static_cast<char>(x >> 24);
    }
    entries.push_back({"flipped" + std::to_string(method), method, flag, data, flipped});
    entries.push_back({"cut" + std::to_string(method), method, flag, data, packed.substr(0, packed.size() / 2)});
    entries.push_back({"noise" + std::to_string(method), method, flag, data, noise});
  }
  // A tree description with more entries than its tree has.
  {
    BitWriter w;
    w.Put(20, 8);
    for (int i = 0; i < 21; ++i) w.Put(0xF7, 8);  // 21 runs of 16 eights: 336 > 256
    entries.push_back({"bad-tree", 6, 6, data, w.Finish() + std::string(100, '\x55')});
  }
  // An unshrink code size beyond 13 bits.
  {
    BitWriter w;
    w.Put('a', 9);
    int size = 9;
    for (int i = 0; i < 6; ++i) {
      w.Put(256, size);
      w.Put(1, size);
      ++size;
    }
    entries.push_back({"wide-codes", 1, 0, data, w.Finish()});
  }
  entries.push_back({"method7", 7, 0, data, "xx"});
  WriteFile(dir.File("d.zip"), BuildZip(entries));
  auto zip = OpenZip(dir.File("d.zip"));
  for (int32_t i = 0; i < zip->ItemCount(); ++i) {
    SCOPED_TRACE(entries[static_cast<size_t>(i)].name);
    int failures = 0;
    int32_t code = -1;
    zip->OnProcessItemFailure = [&](TObject*, TAbArchiveItem*, TAbProcessType, TAbErrorClass, int32_t c) {
      ++failures;
      code = c;
    };
    TMemoryStream out;
    zip->ExtractToStream(zip->Items(i)->FileName(), out);
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(out.Size(), 0);
    if (entries[static_cast<size_t>(i)].name == "method7") {
      EXPECT_EQ(code, EAbZipInvalidMethod::kCode);
    }
  }
}

}  // namespace
}  // namespace pelvar
