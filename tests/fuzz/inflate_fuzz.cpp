// libFuzzer target for the inflate decoder: arbitrary bytes as a Deflate or Deflate64
// stream (the first byte picks the options), never a crash or an out-of-bounds access.
#include <cstdint>
#include <string>

#include "archive/abdfdec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  pelvar::TAbDeflateHelper helper;
  uint32_t options = 15;
  if (data[0] & 1) options |= pelvar::dfc_UseDeflate64;
  if (data[0] & 2) options |= pelvar::dfc_UseAdler32;
  if (data[0] & 4) options |= pelvar::dfc_TestOnly;
  helper.SetOptions(options);
  if (data[0] & 8) helper.SetPartialLimit(data[0]);
  pelvar::TStringStream src(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  pelvar::TStringStream dst;
  try {
    pelvar::Inflate(&src, &dst, &helper);
  } catch (const pelvar::EAbInflateError&) {
  }
  return 0;
}
