// The corpus the archive benchmarks share, and zlib reached at run time (the kit's
// codec is its own; zlib is only the yardstick).
#pragma once

#include <dlfcn.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>

#include "platform/streams.h"

namespace pelvar::bench {

// At least `size` bytes of mixed data: text-like runs, database-page-like records and
// a little noise, in alternating chunks.
inline std::string MakeCorpus(size_t size) {
  static const char* const kWords[] = {"the", "patient", "visit", "vaccination", "dog", "cat", "owner",
                                       "invoice", "Praha", "Brno", "station", "database", "backup", "of",
                                       "and", "a", "to", "in", "with", "record", "price", "laboratory"};
  std::mt19937 rng(42);
  std::string s;
  s.reserve(size + 70000);
  uint32_t counter = 0;
  while (s.size() < size) {
    const uint32_t kind = rng() % 10;
    const size_t target = s.size() + 16384 + rng() % 49152;
    if (kind < 5) {
      while (s.size() < target) {
        const uint32_t r = rng();
        s += kWords[r % (sizeof kWords / sizeof *kWords)];
        if (r % 11 == 0) s += std::to_string(rng() % 100000);
        s += (r % 17 == 0) ? ".\r\n" : " ";
      }
    } else if (kind < 9) {
      while (s.size() < target) {
        const uint32_t a = rng() % 256, b = rng() % 65536, c = rng() % 3;
        uint32_t rec[8] = {counter++, a, b, 0, 0xFFFFFFFF, c, counter * 7, 0};
        s.append(reinterpret_cast<const char*>(rec), sizeof rec);
      }
    } else {
      while (s.size() < target) s += static_cast<char>(rng());
    }
  }
  return s;
}

// A read-only stream over memory it does not own.
class MemReadStream : public TStream {
 public:
  MemReadStream(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  int32_t Read(void* buffer, int32_t count) override {
    const size_t n = std::min<size_t>(static_cast<size_t>(count), size_ - pos_);
    std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return static_cast<int32_t>(n);
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                         : origin == TSeekOrigin::soCurrent ? static_cast<int64_t>(pos_)
                                                             : static_cast<int64_t>(size_);
    pos_ = static_cast<size_t>(base + offset);
    return static_cast<int64_t>(pos_);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A write stream into a buffer reserved once.
class MemWriteStream : public TStream {
 public:
  explicit MemWriteStream(size_t capacity) { data_.reserve(capacity); }
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void* buffer, int32_t count) override {
    data_.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
    return count;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    if (offset == 0 && origin != TSeekOrigin::soBeginning) return static_cast<int64_t>(data_.size());
    if (origin == TSeekOrigin::soBeginning && offset == 0) return 0;
    throw EStreamError("seek");
  }
  void Clear() { data_.clear(); }
  const std::string& Data() const { return data_; }

 private:
  std::string data_;
};

// zlib's functions, bound by name from the shared library.
struct Zlib {
  decltype(&::deflateInit2_) deflateInit2_ = nullptr;
  decltype(&::deflate) deflate = nullptr;
  decltype(&::deflateEnd) deflateEnd = nullptr;
  decltype(&::deflateBound) deflateBound = nullptr;
  decltype(&::inflateInit2_) inflateInit2_ = nullptr;
  decltype(&::inflate) inflate = nullptr;
  decltype(&::inflateEnd) inflateEnd = nullptr;

  Zlib() {
    void* lib = dlopen("libz.so.1", RTLD_NOW);
    if (!lib) throw std::runtime_error("libz.so.1 not found");
    deflateInit2_ = reinterpret_cast<decltype(deflateInit2_)>(dlsym(lib, "deflateInit2_"));
    deflate = reinterpret_cast<decltype(deflate)>(dlsym(lib, "deflate"));
    deflateEnd = reinterpret_cast<decltype(deflateEnd)>(dlsym(lib, "deflateEnd"));
    deflateBound = reinterpret_cast<decltype(deflateBound)>(dlsym(lib, "deflateBound"));
    inflateInit2_ = reinterpret_cast<decltype(inflateInit2_)>(dlsym(lib, "inflateInit2_"));
    inflate = reinterpret_cast<decltype(inflate)>(dlsym(lib, "inflate"));
    inflateEnd = reinterpret_cast<decltype(inflateEnd)>(dlsym(lib, "inflateEnd"));
  }

  // Raw deflate (no header) at a level.
  std::string Deflate(const std::string& in, int level) const {
    z_stream z{};
    deflateInit2_(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY, ZLIB_VERSION, sizeof(z_stream));
    std::string out(deflateBound(&z, in.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
  }

  // Raw inflate into a buffer of known size; returns the bytes produced.
  size_t Inflate(const std::string& in, std::string& out) const {
    z_stream z{};
    inflateInit2_(&z, -15, ZLIB_VERSION, sizeof(z_stream));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    inflate(&z, Z_FINISH);
    const size_t n = z.total_out;
    inflateEnd(&z);
    return n;
  }
};

inline const Zlib& ZlibLib() {
  static const Zlib z;
  return z;
}

}  // namespace pelvar::bench
