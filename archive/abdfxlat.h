// The tables of the Deflate format (in their Deflate64 form) and the translator from
// match lengths and distances to their symbols.
#pragma once

#include <cstdint>

namespace pelvar {

// Base length of each length symbol 257..285 (285 is 3 here: in Deflate64 it takes
// 16 extra bits; plain Deflate reads it as 258 without extra bits).
extern const uint16_t dfc_LengthBase[29];
// Extra bits of each length symbol 257..287 (99 marks the invalid 286 and 287).
extern const uint8_t dfc_LengthExtraBits[31];
// Base distance and extra bits of each distance symbol 0..31 (30 and 31 only in
// Deflate64).
extern const uint32_t dfc_DistanceBase[32];
extern const uint8_t dfc_DistanceExtraBits[32];

class TAbDfTranslator {
 public:
  TAbDfTranslator();
  // 3..65536: 257 + the symbol offset for 3..258, 285 for longer lengths.
  int32_t TranslateLength(int32_t Length) const;
  // 1..65536: the distance symbol.
  int32_t TranslateDistance(int32_t Distance) const;

  // Without checks, for the encoder's inner loops.
  int32_t LengthSymbol(int32_t Length) const {
    return Length > 258 ? 285 : 257 + lengths_[Length - 3];
  }
  int32_t DistanceSymbol(int32_t Distance) const {
    if (Distance <= 256) return short_[Distance - 1];
    if (Distance > 32768) return long_[(Distance - 1) / 16384 - 2];
    return medium_[(Distance - 1) / 128 - 2];
  }

 private:
  uint8_t lengths_[256];
  uint8_t long_[2];
  uint8_t medium_[256];
  uint8_t short_[256];
};

// The process-wide translator.
const TAbDfTranslator& AbStaticTranslator();

}  // namespace pelvar
