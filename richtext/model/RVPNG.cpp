// PNG pictures decoded for painting through the system's libpng (its simplified reading
// interface: every colour type and bit depth arrives as 8-bit BGRA).
#include <png.h>

#include <cstring>
#include <vector>

#include "richtext/model/RVJPEG.h"

namespace pelvar {

bool RVDecodePNG(const std::string& data, TPixelImage& image) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, data.data(), data.size())) return false;
  const int64_t pixels = int64_t{png.width} * png.height;
  if (pixels <= 0 || pixels > RV_MAX_DECODED_PIXELS) {
    png_image_free(&png);
    return false;
  }
  png.format = PNG_FORMAT_BGRA;
  TPixelImage out(static_cast<int32_t>(png.width), static_cast<int32_t>(png.height));
  std::vector<png_byte> bytes(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, bytes.data(), 0, nullptr)) {
    png_image_free(&png);
    return false;
  }
  const png_byte* p = bytes.data();
  for (uint32_t& px : out.Pixels) {
    px = (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
    p += 4;
  }
  image = std::move(out);
  return true;
}

}  // namespace pelvar
