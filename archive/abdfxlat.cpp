#include "archive/abdfxlat.h"

#include <cstring>

#include "archive/abexcept.h"

namespace pelvar {

const uint16_t dfc_LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
const uint8_t dfc_LengthExtraBits[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                         3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16, 99, 99};
const uint32_t dfc_DistanceBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                       49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                       2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
const uint8_t dfc_DistanceExtraBits[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                           7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

TAbDfTranslator::TAbDfTranslator() {
  // Each table entry is set at its symbol's base and gaps are filled forward.
  std::memset(lengths_, 0xFF, sizeof lengths_);
  for (int k = 0; k < 28; ++k) lengths_[dfc_LengthBase[k] - 3] = static_cast<uint8_t>(k);
  lengths_[255] = 28;
  for (int i = 1; i < 256; ++i) {
    if (lengths_[i] == 0xFF) lengths_[i] = lengths_[i - 1];
  }
  std::memset(short_, 0xFF, sizeof short_);
  for (int s = 0; s < 16; ++s) short_[dfc_DistanceBase[s] - 1] = static_cast<uint8_t>(s);
  for (int i = 1; i < 256; ++i) {
    if (short_[i] == 0xFF) short_[i] = short_[i - 1];
  }
  std::memset(medium_, 0xFF, sizeof medium_);
  for (int s = 16; s < 30; ++s) medium_[(dfc_DistanceBase[s] - 1) / 128 - 2] = static_cast<uint8_t>(s);
  for (int i = 1; i < 256; ++i) {
    if (medium_[i] == 0xFF) medium_[i] = medium_[i - 1];
  }
  long_[0] = 30;
  long_[1] = 31;
}

int32_t TAbDfTranslator::TranslateLength(int32_t Length) const {
  AbAssert(Length >= 3 && Length <= 65536, "TAbDfTranslator.Translate: length should be 3..65536");
  return LengthSymbol(Length);
}

int32_t TAbDfTranslator::TranslateDistance(int32_t Distance) const {
  AbAssert(Distance >= 1 && Distance <= 65536, "TAbDfTranslator.Translate: distance should be 1..65536");
  return DistanceSymbol(Distance);
}

const TAbDfTranslator& AbStaticTranslator() {
  static const TAbDfTranslator translator;
  return translator;
}

}  // namespace pelvar
