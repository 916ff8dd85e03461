#include "archive/abdfbase.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "archive/abutils.h"

namespace pelvar {

// --- TAbDeflateHelper ---

namespace {
int32_t Tuned(int32_t value) { return (value != -1 && value < 4) ? 4 : value; }
}  // namespace

void TAbDeflateHelper::SetSufficientMatch(int32_t Value) {
  if (Value == sufficient_match_) return;
  sufficient_match_ = Tuned(Value);
  preset_letter_ = '?';
}

void TAbDeflateHelper::SetMaxChainSteps(int32_t Value) {
  if (Value == max_chain_steps_) return;
  max_chain_steps_ = Tuned(Value);
  preset_letter_ = '?';
}

void TAbDeflateHelper::SetLazyLimit(int32_t Value) {
  if (Value == lazy_limit_) return;
  lazy_limit_ = Tuned(Value);
  preset_letter_ = '?';
}

void TAbDeflateHelper::SetOptions(uint32_t Value) {
  if (Value == options_) return;
  options_ = Value;
  preset_letter_ = '?';
}

void TAbDeflateHelper::SetPresetLetter(char Value) {
  if (Value >= 'A' && Value <= 'Z') Value = static_cast<char>(Value - 'A' + 'a');
  if (Value == preset_letter_) return;
  struct Preset {
    char letter;
    int32_t sufficient, chain, lazy;
  };
  static constexpr Preset kPresets[] = {
      {'0', 8, 32, 16}, {'2', 8, 32, 16}, {'f', 4, 32, 6},
      {'n', 16, 32, 24}, {'s', 4, 4, 4},  {'x', 64, 4096, 258},
  };
  for (const Preset& p : kPresets) {
    if (p.letter != Value) continue;
    switch (Value) {
      case '0': options_ = (options_ & ~15u) | 1u; break;
      case '2': case 'n': case 'x': options_ |= 15u; break;
      default: options_ |= 7u; break;  // 'f', 's': lazy bit left as it was
    }
    sufficient_match_ = p.sufficient;
    max_chain_steps_ = p.chain;
    lazy_limit_ = p.lazy;
    preset_letter_ = Value;
    return;
  }
}

// --- Checksums ---

namespace {

// Tables for folding eight bytes per step (slicing by 8); row 0 is the standard table.
struct Crc32Slices {
  uint32_t t[8][256];
  Crc32Slices() {
    for (int i = 0; i < 256; ++i) t[0][i] = AbCrc32Table[i];
    for (int i = 0; i < 256; ++i) {
      for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
  }
};
const Crc32Slices kSlices;

}  // namespace

#if defined(__x86_64__)
namespace {

// CRC-32 of whole 16-byte blocks (at least 64 bytes) by folding with carry-less
// multiplication; the constants are the powers of x modulo the CRC polynomial that
// fold 512, 128 and 64 bits, and the Barrett reduction pair.
__attribute__((target("pclmul,sse4.1"))) uint32_t Crc32Fold(const uint8_t* buf, size_t len, uint32_t crc) {
  alignas(16) static const uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
  alignas(16) static const uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
  alignas(16) static const uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
  alignas(16) static const uint64_t poly[] = {0x01db710641, 0x01f7011641};
  __m128i x0, x1, x2, x3, x4, x5, x6, x7, x8, y5, y6, y7, y8;
  x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
  x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
  x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
  x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(crc)));
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
  buf += 64;
  len -= 64;
  while (len >= 64) {
    x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
    x7 = _mm_clmulepi64_si128(x3, x0, 0x00);
    x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x11);
    x3 = _mm_clmulepi64_si128(x3, x0, 0x11);
    x4 = _mm_clmulepi64_si128(x4, x0, 0x11);
    y5 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
    y6 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
    y7 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
    y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), y5);
    x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), y6);
    x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), y7);
    x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), y8);
    buf += 64;
    len -= 64;
  }
  // Fold the four lanes into one.
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
  x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
  x1 = _mm_xor_si128(_mm_xor_si128(x1, x2), x5);
  x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
  x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
  x1 = _mm_xor_si128(_mm_xor_si128(x1, x3), x5);
  x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
  x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
  x1 = _mm_xor_si128(_mm_xor_si128(x1, x4), x5);
  while (len >= 16) {
    x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf));
    x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x2), x5);
    buf += 16;
    len -= 16;
  }
  // 128 bits to 64, then Barrett reduction to 32.
  x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
  x3 = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_srli_si128(x1, 8);
  x1 = _mm_xor_si128(x1, x2);
  x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_and_si128(x1, x3);
  x1 = _mm_clmulepi64_si128(x1, x0, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
  x2 = _mm_and_si128(x1, x3);
  x2 = _mm_clmulepi64_si128(x2, x0, 0x10);
  x2 = _mm_and_si128(x2, x3);
  x2 = _mm_clmulepi64_si128(x2, x0, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

const bool kHaveClmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");

}  // namespace
#endif

void AbCrc32Buffer(uint32_t& Crc, const void* Buffer, int64_t Count) {
  const uint8_t* p = static_cast<const uint8_t*>(Buffer);
  uint32_t crc = Crc;
#if defined(__x86_64__)
  if (kHaveClmul && Count >= 64) {
    const size_t whole = static_cast<size_t>(Count) & ~size_t{15};
    crc = Crc32Fold(p, whole, crc);
    p += whole;
    Count -= static_cast<int64_t>(whole);
  }
#endif
  const auto& t = kSlices.t;
  while (Count >= 8) {
    uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + 4, 4);
#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
    lo = __builtin_bswap32(lo);
    hi = __builtin_bswap32(hi);
#endif
    lo ^= crc;
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    p += 8;
    Count -= 8;
  }
  while (Count-- > 0) crc = AbCrc32Byte(*p++, crc);
  Crc = crc;
}

void AbAdler32Buffer(uint32_t& Adler, const void* Buffer, int64_t Count) {
  constexpr uint32_t kBase = 65521;
  const uint8_t* p = static_cast<const uint8_t*>(Buffer);
  uint32_t a = Adler & 0xFFFF;
  uint32_t b = Adler >> 16;
  while (Count > 0) {
    // Rounds of at most 4096 bytes never overflow the 32-bit sums.
    int64_t n = Count < 4096 ? Count : 4096;
    Count -= n;
    while (n-- > 0) {
      a += *p++;
      b += a;
    }
    a %= kBase;
    b %= kBase;
  }
  Adler = (b << 16) | a;
}

// --- TAbLogger ---

TAbLogger::TAbLogger(const AnsiString& FileName) {
  AbAssert(!FileName.empty(), "TAbLogger.Create: a filename must be provided for the logger");
  file_ = std::make_unique<TFileStream>(FileName, fmCreate);
}

TAbLogger::~TAbLogger() {
  try {
    FlushBuffer();
  } catch (...) {
  }
}

int32_t TAbLogger::Read(void*, int32_t) {
  AbRaiseAssert("TAbLogger.Read: loggers are write-only, no reading allowed");
}

int32_t TAbLogger::Write(const void* Buffer, int32_t Count) {
  const uint8_t* p = static_cast<const uint8_t*>(Buffer);
  int32_t done = 0;
  while (done < Count) {
    if (fill_ == static_cast<int32_t>(sizeof buffer_) && !FlushBuffer()) break;
    const int32_t n = std::min<int32_t>(Count - done, static_cast<int32_t>(sizeof buffer_) - fill_);
    std::memcpy(buffer_ + fill_, p + done, static_cast<size_t>(n));
    fill_ += n;
    done += n;
  }
  return done;
}

int64_t TAbLogger::Seek(int64_t Offset, TSeekOrigin Origin) {
  AbAssert(Offset == 0 && Origin != TSeekOrigin::soBeginning,
           "TAbLogger.Seek: loggers are write-only, no seeking allowed");
  return file_->Seek(0, TSeekOrigin::soCurrent) + fill_;
}

void TAbLogger::LogLine(const AnsiString& Text) {
  if (!Text.empty()) Write(Text.data(), static_cast<int32_t>(Text.size()));
  if (line_delimiter_ == 0)
    Write("\r\n", 2);
  else if (line_delimiter_ == 1)
    Write("\n", 1);
}

bool TAbLogger::FlushBuffer() {
  if (fill_ == 0) return true;
  const int32_t written = file_->Write(buffer_, fill_);
  if (written > 0 && written < fill_) std::memmove(buffer_, buffer_ + written, static_cast<size_t>(fill_ - written));
  fill_ -= written > 0 ? written : 0;
  return fill_ == 0;
}

// --- TAbNodeManager ---

TAbNodeManager::TAbNodeManager(int32_t NodeSize) {
  node_size_ = NodeSize < 4 ? 4 : (NodeSize + 3) & ~3;
  nodes_per_page_ = 8188 / node_size_;
  if (nodes_per_page_ < 2) {
    nodes_per_page_ = 1;
    page_size_ = static_cast<size_t>(node_size_) + 4;
  } else {
    page_size_ = 8192;
  }
}

TAbNodeManager::~TAbNodeManager() = default;

void* TAbNodeManager::NewNode() {
  if (!free_list_) {
    // A new page: its nodes go onto the free list.
    pages_.push_back(std::make_unique<uint8_t[]>(page_size_ + sizeof(void*)));
    uint8_t* first = pages_.back().get() + sizeof(void*);
    const size_t stride = static_cast<size_t>(node_size_) < sizeof(void*) ? sizeof(void*) : static_cast<size_t>(node_size_);
    const int32_t count = stride == static_cast<size_t>(node_size_) ? nodes_per_page_
                                                                    : static_cast<int32_t>(page_size_ / stride);
    for (int32_t i = count - 1; i >= 0; --i) {
      void* node = first + static_cast<size_t>(i) * stride;
      std::memcpy(node, &free_list_, sizeof(void*));
      free_list_ = node;
    }
  }
  void* node = free_list_;
  std::memcpy(&free_list_, node, sizeof(void*));
  return node;
}

}  // namespace pelvar
