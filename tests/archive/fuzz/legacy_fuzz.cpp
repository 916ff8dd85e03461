// libFuzzer target for the legacy zip decoders (unshrink, unreduce, explode):
// arbitrary bytes as an entry's data (the first two bytes pick the method, the
// implode flags and the claimed size), never a crash or an out-of-bounds access.
// Not part of the CMake build (it needs clang); build and run from the repository root:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
//     tests/archive/fuzz/legacy_fuzz.cpp archive/*.cpp platform/*.cpp -o /tmp/legacy_fuzz
//   /tmp/legacy_fuzz -max_total_time=60
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>

#include "archive/abunzprc.h"

namespace {

pelvar::TAbZipArchive& Archive() {
  static std::unique_ptr<pelvar::TAbZipArchive> archive = [] {
    char dir[] = "/tmp/legacy_fuzz_XXXXXX";
    const std::string path = std::string(::mkdtemp(dir)) + "/empty.zip";
    return std::make_unique<pelvar::TAbZipArchive>(path, 0xFFFF);
  }();
  return *archive;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  pelvar::TStringStream input(std::string(reinterpret_cast<const char*>(data) + 2, size - 2));
  pelvar::TMemoryStream output;
  pelvar::TAbUnzipHelper helper(Archive(), input, output, nullptr);
  helper.CompressionMethod = static_cast<uint8_t>(1 + data[0] % 6);
  helper.DictionarySize = (data[0] & 0x40) ? 8192 : 4096;
  helper.ShannonFanoTreeCount = (data[0] & 0x80) ? 3 : 2;
  helper.CompressedSize = static_cast<uint32_t>(size - 2);
  helper.UncompressedSize = static_cast<uint32_t>(data[1]) * 1024 + 1;
  try {
    helper.Execute();
  } catch (const pelvar::Exception&) {
  }
  return 0;
}
