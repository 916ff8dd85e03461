// libFuzzer target for the SQL text toolkit: arbitrary bytes through the scanners, the
// clause search, the macro expansion and the parameter parser (the driver is shared
// with the randomized robustness test of tests/dbengine).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "dbengine/ib_parse_fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size);
  pelvar::fuzz::RunSqlToolkit(input, [](const char* what) {
    std::fprintf(stderr, "invariant failed: %s\n", what);
    std::abort();
  });
  return 0;
}
