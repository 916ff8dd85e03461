// A bitmap turned into a JPEG picture (baseline, 4:2:0, quality 90 as the picture classes
// give by default): how exports write pictures whose own format a web page cannot show.
// And the pixels of JPEG and PNG pictures, for painting them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "richtext/model/RVGraphics.h"

namespace pelvar {

// Raises EInvalidGraphic for an empty bitmap or when the encoder fails. Alpha is ignored:
// callers draw transparent pictures onto their background first.
std::unique_ptr<TJPEGImage> RVBitmapToJPEG(const TBitmap& bitmap, int quality = 90);

// Largest picture decoded for painting (pixels); larger ones are painted as a frame, so that
// a size written in a hostile file cannot make the program allocate without bound.
constexpr int64_t RV_MAX_DECODED_PIXELS = int64_t{1} << 26;

// The pixels (0xAARRGGBB, top row first) of a JPEG or PNG file's bytes; false for bytes that
// do not decode (the image is then left as it was).
bool RVDecodeJPEG(const std::string& data, TPixelImage& image);
bool RVDecodePNG(const std::string& data, TPixelImage& image);

}  // namespace pelvar
