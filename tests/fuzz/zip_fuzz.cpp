// libFuzzer target for the zip reader: arbitrary bytes as a .zip file, read through the
// zip kit (load, list, extract every entry to memory).
#include <cstdint>

#include "archive_reader.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const pelvar::AnsiString path = pelvar::fuzz::WriteInput("input.zip", data, size);
  pelvar::fuzz::ReadArchiveThroughKit(path, pelvar::atZip, false);
  return 0;
}
