// The clipboard of the platform: the standard format numbers, movable global memory blocks
// (a block is its bytes; a picture handle is carried the same way, see below) and the
// framework's clipboard object, with an in-memory implementation that serves programs
// without a display and tests. The Qt clipboard is an adapter over the same object
// (platform/qt is not involved: the family's own adapter maps the registered formats).
//
// Picture handles: CF_BITMAP and CF_DIB carry a packed device-independent bitmap (the
// 40-byte info header, a colour table for 1, 4 and 8 bits per pixel, then the rows);
// CF_ENHMETAFILE and CF_METAFILEPICT carry the metafile's own bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/types.h"

namespace pelvar {

// ---- Standard formats -----------------------------------------------------------------------
constexpr uint16_t CF_TEXT = 1;
constexpr uint16_t CF_BITMAP = 2;
constexpr uint16_t CF_METAFILEPICT = 3;
constexpr uint16_t CF_DIB = 8;
constexpr uint16_t CF_UNICODETEXT = 13;
constexpr uint16_t CF_ENHMETAFILE = 14;
constexpr uint16_t CF_HDROP = 15;

// ---- Global memory ------------------------------------------------------------------------------
constexpr uint32_t GMEM_MOVEABLE = 0x0002;
constexpr uint32_t GMEM_ZEROINIT = 0x0040;
constexpr uint32_t GMEM_DDESHARE = 0x2000;

struct TGlobalBlock {
  std::string Data;
  uint32_t Flags = 0;
};
using HGLOBAL = std::shared_ptr<TGlobalBlock>;

// A zero-filled block of size bytes; nullptr when the memory cannot be had.
HGLOBAL GlobalAlloc(uint32_t flags, size_t size);
// A block holding a copy of data; nullptr when the memory cannot be had.
HGLOBAL GlobalAllocCopy(uint32_t flags, const std::string& data);
size_t GlobalSize(const HGLOBAL& block);
// The largest block GlobalAlloc gives (0: no limit besides the machine's); lets a test show
// what a caller does when memory runs out.
void SetGlobalAllocLimit(size_t limit);

// ---- The clipboard object ------------------------------------------------------------------------
// Open and Close nest: writes between the outermost Open and Close form one clipboard
// content, published when it closes. Every operation opens and closes around itself, as
// the framework's object does. As the platform does, CF_TEXT is synthesised from
// CF_UNICODETEXT and the other way round, and CF_DIB from CF_BITMAP and back.
class TClipboard {
 public:
  virtual ~TClipboard() = default;

  void Open();
  void Close();
  int32_t OpenCount() const { return open_count_; }
  // Empties the clipboard (opened and closed around).
  void Clear();
  // Puts a block under a format; the clipboard owns it afterwards. A null block is ignored.
  void SetAsHandle(uint16_t format, const HGLOBAL& block);
  // The block of a format (nullptr when there is none).
  HGLOBAL GetAsHandle(uint16_t format);
  bool HasFormat(uint16_t format);
  // The formats on the clipboard, in the order they were put (synthesised ones after).
  std::vector<uint16_t> Formats();
  // CF_TEXT: Windows-1250 text, zero-terminated on the clipboard.
  void SetAsText(const AnsiString& text);
  AnsiString AsText();

 protected:
  // The backend: the data of the content being read, and publishing a written content.
  virtual std::vector<uint16_t> ReadFormats() = 0;
  virtual bool ReadData(uint16_t format, std::string& data) = 0;
  virtual void Publish(const std::vector<std::pair<uint16_t, std::string>>& content) = 0;

 private:
  bool ReadRaw(uint16_t format, std::string& data);
  void Put(uint16_t format, std::string data);
  int32_t open_count_ = 0;
  bool dirty_ = false;
  // The content being written (replaces the clipboard's when the outermost Close runs).
  std::vector<std::pair<uint16_t, std::string>> pending_;
};

// A process-local clipboard.
class TMemoryClipboard : public TClipboard {
 public:
  // How many times a content was published (a clear counts).
  int32_t PublishCount = 0;

 protected:
  std::vector<uint16_t> ReadFormats() override;
  bool ReadData(uint16_t format, std::string& data) override;
  void Publish(const std::vector<std::pair<uint16_t, std::string>>& content) override;

 private:
  std::vector<std::pair<uint16_t, std::string>> content_;
};

// The clipboard of the process: an in-memory one until a program installs another (the Qt
// program installs the adapter over the system clipboard). SetClipboard returns the previous
// one; nullptr restores the in-memory clipboard.
TClipboard& Clipboard();
TClipboard* SetClipboard(TClipboard* clipboard);

// Packed DIB (CF_DIB) <-> 32-bit pixel rows (0xAARRGGBB, rows from the top). Reading
// checks every size against the block: a header, colour table or pixel area larger than
// the block is refused (never a read past it). 1, 4, 8, 24 and 32 bits per
// pixel, uncompressed (32-bit also with bit fields).
struct TDIBPixels {
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<uint32_t> Pixels;
};
// False (and pixels untouched) when the block is not a DIB that fits in it.
bool ReadPackedDIB(const std::string& dib, TDIBPixels& pixels);
// A 24-bit bottom-up packed DIB.
std::string MakePackedDIB(const TDIBPixels& pixels);

}  // namespace pelvar
