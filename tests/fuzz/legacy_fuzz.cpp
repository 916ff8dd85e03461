// libFuzzer target for the legacy zip decoders (unshrink, unreduce, explode):
// arbitrary bytes as an entry's data (the first two bytes pick the method, the
// implode flags and the claimed size), never a crash or an out-of-bounds access.
#include <cstdint>
#include <memory>
#include <string>

#include "archive/abunzprc.h"
#include "fuzz_support.h"

namespace {

pelvar::TAbZipArchive& Archive() {
  static std::unique_ptr<pelvar::TAbZipArchive> archive = [] {
    const std::string path = pelvar::fuzz::ScratchDir() + "/empty.zip";
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
