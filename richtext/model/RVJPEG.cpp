#include "richtext/model/RVJPEG.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "platform/streams.h"

namespace pelvar {

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}
void OnMessage(j_common_ptr) {}  // warnings are not printed

// Plain C-style encoding (no objects with destructors between setjmp and longjmp). rgb:
// width * height * 3 bytes, top row first. On success *out (malloc'd) holds the file.
bool Encode(const unsigned char* rgb, int width, int height, int quality, unsigned char** out,
            unsigned long* out_size) {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.output_message = OnMessage;
  *out = nullptr;
  *out_size = 0;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::free(*out);
    *out = nullptr;
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, out, out_size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<unsigned char*>(rgb) + static_cast<size_t>(cinfo.next_scanline) * width * 3;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

std::unique_ptr<TJPEGImage> RVBitmapToJPEG(const TBitmap& bitmap, int quality) {
  const int32_t w = bitmap.Width(), h = bitmap.Height();
  // The format's limit is 65500 pixels a side.
  if (w <= 0 || h <= 0 || w > 65500 || h > 65500) throw EInvalidGraphic("Can't make a JPEG picture of this size");
  if (bitmap.Image.Pixels.size() != static_cast<size_t>(w) * static_cast<size_t>(h))
    throw EInvalidGraphic("Invalid bitmap");
  std::vector<unsigned char> rgb(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
  size_t at = 0;
  for (uint32_t p : bitmap.Image.Pixels) {
    rgb[at++] = static_cast<unsigned char>((p >> 16) & 0xFF);
    rgb[at++] = static_cast<unsigned char>((p >> 8) & 0xFF);
    rgb[at++] = static_cast<unsigned char>(p & 0xFF);
  }
  unsigned char* out = nullptr;
  unsigned long size = 0;
  if (!Encode(rgb.data(), w, h, quality, &out, &size)) throw EInvalidGraphic("JPEG encoding failed");
  TMemoryStream m;
  try {
    m.WriteBuffer(out, static_cast<int64_t>(size));
  } catch (...) {
    std::free(out);
    throw;
  }
  std::free(out);
  m.SetPosition(0);
  auto jpeg = std::make_unique<TJPEGImage>();
  jpeg->LoadFromStream(m);
  return jpeg;
}

}  // namespace pelvar

namespace pelvar {

namespace {

// Plain C-style decoding, as Encode. On success *rgb (malloc'd) holds width * height * 3
// bytes, top row first.
bool Decode(const unsigned char* data, unsigned long size, int64_t max_pixels, unsigned char** rgb, int* width,
            int* height) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.output_message = OnMessage;
  *rgb = nullptr;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    std::free(*rgb);
    *rgb = nullptr;
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, size);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;  // grey and YCbCr convert; CMYK fails to a placeholder
  jpeg_start_decompress(&cinfo);
  const int64_t pixels = int64_t{cinfo.output_width} * cinfo.output_height;
  if (cinfo.output_components != 3 || pixels <= 0 || pixels > max_pixels) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  const size_t stride = static_cast<size_t>(cinfo.output_width) * 3;
  *rgb = static_cast<unsigned char*>(std::malloc(stride * cinfo.output_height));
  if (!*rgb) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = *rgb + static_cast<size_t>(cinfo.output_scanline) * stride;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  *width = static_cast<int>(cinfo.output_width);
  *height = static_cast<int>(cinfo.output_height);
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace

bool RVDecodeJPEG(const std::string& data, TPixelImage& image) {
  if (data.empty()) return false;
  unsigned char* rgb = nullptr;
  int w = 0, h = 0;
  if (!Decode(reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned long>(data.size()),
              RV_MAX_DECODED_PIXELS, &rgb, &w, &h))
    return false;
  TPixelImage out(w, h);
  const unsigned char* p = rgb;
  for (uint32_t& px : out.Pixels) {
    px = 0xFF000000u | (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    p += 3;
  }
  std::free(rgb);
  image = std::move(out);
  return true;
}

}  // namespace pelvar
