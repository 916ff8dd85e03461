// A bitmap turned into a JPEG picture (baseline, 4:2:0, quality 90 as the picture classes
// give by default): how exports write pictures whose own format a web page cannot show.
#pragma once

#include <memory>

#include "richtext/model/RVGraphics.h"

namespace pelvar {

// Raises EInvalidGraphic for an empty bitmap or when the encoder fails. Alpha is ignored:
// callers draw transparent pictures onto their background first.
std::unique_ptr<TJPEGImage> RVBitmapToJPEG(const TBitmap& bitmap, int quality = 90);

}  // namespace pelvar
