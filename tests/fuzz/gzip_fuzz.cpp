// libFuzzer target for the gzip reader: arbitrary bytes as a .gz file, read through the
// zip kit twice: as a plain gzip file, and as a gzipped tar whose tar is opened.
#include <cstdint>

#include "archive_reader.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const pelvar::AnsiString path = pelvar::fuzz::WriteInput("input.gz", data, size);
  pelvar::fuzz::ReadArchiveThroughKit(path, pelvar::atGzip, false);
  // A save on close may have rewritten the file: start afresh.
  pelvar::fuzz::WriteInput("input.gz", data, size);
  pelvar::fuzz::ReadArchiveThroughKit(path, pelvar::atGzippedTar, true);
  return 0;
}
