// Shared by the codec tests: test data, a bit writer for hand-built streams and the
// peer (Python's zlib) that deflates and inflates raw streams.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/process.h"

namespace pelvar::test {

// Mixed, text-like data: words from a small vocabulary with numbers and punctuation.
inline std::string MakeText(size_t size, uint32_t seed = 1) {
  static const char* const kWords[] = {"the", "patient", "visit", "vaccination", "dog", "cat", "owner",
                                       "invoice", "Praha", "Brno", "station", "database", "backup", "of",
                                       "and", "a", "to", "in", "with", "record", "price", "Kč", "laboratory"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < size) {
    const uint32_t r = rng();
    s += kWords[r % (sizeof kWords / sizeof *kWords)];
    if (r % 11 == 0) s += std::to_string(rng() % 100000);
    s += (r % 17 == 0) ? ".\r\n" : " ";
  }
  s.resize(size);
  return s;
}

inline std::string MakeRandom(size_t size, uint32_t seed = 2) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

// A binary with structure: little-endian records with counters, small values and
// repeated blocks, as database pages have them.
inline std::string MakeBinary(size_t size, uint32_t seed = 3) {
  std::mt19937 rng(seed);
  std::string s;
  uint32_t counter = 0;
  while (s.size() < size) {
    const uint32_t a = static_cast<uint32_t>(rng() % 256), b = static_cast<uint32_t>(rng() % 65536),
                   c = static_cast<uint32_t>(rng() % 3);
    uint32_t rec[8] = {counter++, a, b, 0, 0xFFFFFFFF, c, counter * 7, 0};
    s.append(reinterpret_cast<const char*>(rec), sizeof rec);
    if (rng() % 50 == 0) s.append(s.substr(s.size() > 512 ? s.size() - 512 : 0, 256));
  }
  s.resize(size);
  return s;
}

// Writes bits least significant first, as Deflate packs them.
class BitWriter {
 public:
  void Bits(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
  }
  // A Huffman code: its bits go most significant first.
  void Code(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
  }
  void Bit(uint32_t b) {
    if (nbits_ % 8 == 0) data_.push_back(0);
    if (b) data_.back() = static_cast<char>(data_.back() | (1 << (nbits_ % 8)));
    ++nbits_;
  }
  void AlignByte() { nbits_ = (nbits_ + 7) & ~7u; }
  void Bytes(const std::string& s) {
    AlignByte();
    data_ += s;
    nbits_ += 8 * static_cast<uint32_t>(s.size());
  }
  // Fixed-code literal/length symbol.
  void FixedLitLen(int sym) {
    if (sym < 144) Code(0x30 + sym, 8);
    else if (sym < 256) Code(0x190 + sym - 144, 9);
    else if (sym < 280) Code(sym - 256, 7);
    else Code(0xC0 + sym - 280, 8);
  }
  void FixedDist(int sym) { Code(sym, 5); }
  const std::string& Data() const { return data_; }

 private:
  std::string data_;
  uint32_t nbits_ = 0;
};

// Canonical codes for lengths (RFC 1951 3.2.2).
inline std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
  int bl_count[16] = {};
  for (int l : lengths) if (l) ++bl_count[l];
  uint32_t next[16] = {};
  uint32_t code = 0;
  for (int b = 1; b <= 15; ++b) {
    code = (code + bl_count[b - 1]) << 1;
    next[b] = code;
  }
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (size_t i = 0; i < lengths.size(); ++i) if (lengths[i]) codes[i] = next[lengths[i]]++;
  return codes;
}

// Python's zlib.decompress(data, -15), or the error text prefixed "ERROR".
inline std::string PythonInflate(const std::string& raw) {
  const auto r = RunCommand({"python3", "-c",
                             "import sys,zlib\n"
                             "try:\n"
                             "  sys.stdout.buffer.write(zlib.decompress(sys.stdin.buffer.read(), -15))\n"
                             "except Exception as e:\n"
                             "  sys.stdout.write('ERROR ' + str(e))\n"},
                            raw);
  return r.output;
}

}  // namespace pelvar::test
