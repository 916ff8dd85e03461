#include "platform/clipboard.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "platform/codepage.h"

namespace pelvar {

// ---- Global memory ------------------------------------------------------------------------------

namespace {
std::atomic<size_t> g_alloc_limit{0};

uint32_t Le(const std::string& s, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
  return v;
}
void PutLe(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Text formats the platform converts into each other.
bool IsTextFormat(uint16_t f) { return f == CF_TEXT || f == CF_UNICODETEXT; }
bool IsBitmapFormat(uint16_t f) { return f == CF_BITMAP || f == CF_DIB; }

// Zero-terminated narrow text <-> zero-terminated UTF-16 bytes.
std::string AnsiBlockToUnicode(const std::string& data) {
  const std::string text = data.substr(0, data.find('\0'));
  const std::u16string w = ToWide(text);
  std::string r;
  r.reserve(w.size() * 2 + 2);
  for (char16_t c : w) PutLe(r, c, 2);
  r.append(2, '\0');
  return r;
}
std::string UnicodeBlockToAnsi(const std::string& data) {
  std::u16string w;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(Le(data, i, 2));
    if (c == 0) break;
    w += c;
  }
  std::string r = FromWide(w);
  r += '\0';
  return r;
}
}  // namespace

HGLOBAL GlobalAlloc(uint32_t flags, size_t size) {
  const size_t limit = g_alloc_limit.load();
  if (limit != 0 && size > limit) return nullptr;
  try {
    auto block = std::make_shared<TGlobalBlock>();
    block->Data.assign(size, '\0');
    block->Flags = flags;
    return block;
  } catch (const std::bad_alloc&) {
    return nullptr;
  } catch (const std::length_error&) {
    return nullptr;
  }
}

HGLOBAL GlobalAllocCopy(uint32_t flags, const std::string& data) {
  HGLOBAL block = GlobalAlloc(flags, data.size());
  if (block) std::copy(data.begin(), data.end(), block->Data.begin());
  return block;
}

size_t GlobalSize(const HGLOBAL& block) { return block ? block->Data.size() : 0; }

void SetGlobalAllocLimit(size_t limit) { g_alloc_limit.store(limit); }

// ---- The clipboard object ------------------------------------------------------------------------

void TClipboard::Open() {
  if (open_count_++ == 0) {
    dirty_ = false;
    pending_.clear();
  }
}

void TClipboard::Close() {
  if (open_count_ == 0) return;
  if (--open_count_ > 0) return;
  if (dirty_) {
    std::vector<std::pair<uint16_t, std::string>> content;
    content.swap(pending_);
    dirty_ = false;
    Publish(content);
  }
}

void TClipboard::Clear() {
  Open();
  pending_.clear();
  dirty_ = true;
  Close();
}

void TClipboard::Put(uint16_t format, std::string data) {
  Open();
  if (!dirty_) {
    // The first write of an opening starts from what the clipboard holds, as a write into
    // an open system clipboard adds to it.
    for (uint16_t f : ReadFormats()) {
      std::string d;
      if (ReadData(f, d)) pending_.emplace_back(f, std::move(d));
    }
    dirty_ = true;
  }
  auto it = std::find_if(pending_.begin(), pending_.end(), [&](const auto& p) { return p.first == format; });
  if (it != pending_.end())
    it->second = std::move(data);
  else
    pending_.emplace_back(format, std::move(data));
  Close();
}

void TClipboard::SetAsHandle(uint16_t format, const HGLOBAL& block) {
  if (!block || format == 0) return;
  Put(format, block->Data);
}

bool TClipboard::ReadRaw(uint16_t format, std::string& data) {
  if (dirty_) {
    for (const auto& p : pending_)
      if (p.first == format) {
        data = p.second;
        return true;
      }
    return false;
  }
  return ReadData(format, data);
}

std::vector<uint16_t> TClipboard::Formats() {
  std::vector<uint16_t> formats;
  if (dirty_)
    for (const auto& p : pending_) formats.push_back(p.first);
  else
    formats = ReadFormats();
  auto has = [&](uint16_t f) { return std::find(formats.begin(), formats.end(), f) != formats.end(); };
  const size_t own = formats.size();
  for (size_t i = 0; i < own; ++i) {
    const uint16_t f = formats[i];
    if (IsTextFormat(f) && !has(f == CF_TEXT ? CF_UNICODETEXT : CF_TEXT))
      formats.push_back(f == CF_TEXT ? CF_UNICODETEXT : CF_TEXT);
    if (IsBitmapFormat(f) && !has(f == CF_BITMAP ? CF_DIB : CF_BITMAP))
      formats.push_back(f == CF_BITMAP ? CF_DIB : CF_BITMAP);
  }
  return formats;
}

bool TClipboard::HasFormat(uint16_t format) {
  const std::vector<uint16_t> f = Formats();
  return format != 0 && std::find(f.begin(), f.end(), format) != f.end();
}

HGLOBAL TClipboard::GetAsHandle(uint16_t format) {
  std::string data;
  if (!ReadRaw(format, data)) {
    if (format == CF_TEXT && ReadRaw(CF_UNICODETEXT, data))
      data = UnicodeBlockToAnsi(data);
    else if (format == CF_UNICODETEXT && ReadRaw(CF_TEXT, data))
      data = AnsiBlockToUnicode(data);
    else if (!(format == CF_BITMAP && ReadRaw(CF_DIB, data)) && !(format == CF_DIB && ReadRaw(CF_BITMAP, data)))
      return nullptr;
  }
  auto block = std::make_shared<TGlobalBlock>();
  block->Data = std::move(data);
  block->Flags = GMEM_MOVEABLE | GMEM_DDESHARE;
  return block;
}

void TClipboard::SetAsText(const AnsiString& text) {
  std::string data = text.substr(0, text.find('\0'));
  data += '\0';
  Put(CF_TEXT, std::move(data));
}

AnsiString TClipboard::AsText() {
  HGLOBAL block = GetAsHandle(CF_TEXT);
  if (!block) return AnsiString();
  return block->Data.substr(0, block->Data.find('\0'));
}

// ---- In memory ---------------------------------------------------------------------------------

std::vector<uint16_t> TMemoryClipboard::ReadFormats() {
  std::vector<uint16_t> r;
  for (const auto& p : content_) r.push_back(p.first);
  return r;
}

bool TMemoryClipboard::ReadData(uint16_t format, std::string& data) {
  for (const auto& p : content_)
    if (p.first == format) {
      data = p.second;
      return true;
    }
  return false;
}

void TMemoryClipboard::Publish(const std::vector<std::pair<uint16_t, std::string>>& content) {
  content_ = content;
  ++PublishCount;
}

namespace {
TClipboard*& CurrentClipboard() {
  static TClipboard* current = nullptr;
  return current;
}
}  // namespace

TClipboard& Clipboard() {
  static TMemoryClipboard memory;
  TClipboard* c = CurrentClipboard();
  return c ? *c : memory;
}

TClipboard* SetClipboard(TClipboard* clipboard) {
  TClipboard* old = CurrentClipboard();
  CurrentClipboard() = clipboard;
  return old;
}

// ---- DIBs ----------------------------------------------------------------------------------------

bool ReadPackedDIB(const std::string& dib, TDIBPixels& pixels) {
  if (dib.size() < 40) return false;
  const uint32_t header_size = Le(dib, 0, 4);
  if (header_size < 40 || header_size > dib.size()) return false;
  const int32_t width = static_cast<int32_t>(Le(dib, 4, 4));
  int32_t height = static_cast<int32_t>(Le(dib, 8, 4));
  const uint32_t bpp = Le(dib, 14, 2);
  const uint32_t compression = Le(dib, 16, 4);
  uint32_t colors_used = Le(dib, 32, 4);
  const bool top_down = height < 0;
  if (top_down) height = -height;
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535) return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
  if (!(compression == 0 || (compression == 3 && bpp == 32))) return false;
  // The colour table: 2^bpp entries for up to 8 bits (fewer when the header says so);
  // three masks follow a 40-byte header with bit fields.
  uint64_t table = 0;
  if (bpp <= 8) {
    const uint32_t max_colors = 1u << bpp;
    if (colors_used == 0 || colors_used > max_colors) colors_used = max_colors;
    table = uint64_t{colors_used} * 4;
  } else if (compression == 3 && header_size == 40) {
    table = 12;
  }
  const uint64_t line = (uint64_t{static_cast<uint32_t>(width)} * bpp + 31) / 32 * 4;
  const uint64_t bits_at = uint64_t{header_size} + table;
  if (bits_at > dib.size() || line * static_cast<uint64_t>(height) > dib.size() - bits_at) return false;
  TDIBPixels r;
  r.Width = width;
  r.Height = height;
  r.Pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0xFF000000u);
  for (int32_t row = 0; row < height; ++row) {
    const size_t base = static_cast<size_t>(bits_at + line * static_cast<uint64_t>(row));
    const int32_t y = top_down ? row : height - 1 - row;
    for (int32_t x = 0; x < width; ++x) {
      uint32_t argb;
      if (bpp >= 24) {
        argb = 0xFF000000u | Le(dib, base + static_cast<size_t>(x) * (bpp / 8), 3);
      } else {
        const size_t bit = static_cast<size_t>(x) * bpp;
        const uint8_t byte = static_cast<uint8_t>(dib[base + bit / 8]);
        const uint32_t index = (byte >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        argb = index < colors_used ? 0xFF000000u | Le(dib, header_size + index * 4, 3) : 0xFF000000u;
      }
      r.Pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = argb;
    }
  }
  pixels = std::move(r);
  return true;
}

std::string MakePackedDIB(const TDIBPixels& p) {
  const uint32_t line = (static_cast<uint32_t>(p.Width) * 3 + 3) / 4 * 4;
  std::string s;
  PutLe(s, 40, 4);
  PutLe(s, static_cast<uint32_t>(p.Width), 4);
  PutLe(s, static_cast<uint32_t>(p.Height), 4);
  PutLe(s, 1, 2);
  PutLe(s, 24, 2);
  PutLe(s, 0, 4);
  PutLe(s, line * static_cast<uint32_t>(p.Height), 4);
  PutLe(s, 3780, 4);  // 96 dpi
  PutLe(s, 3780, 4);
  PutLe(s, 0, 4);
  PutLe(s, 0, 4);
  for (int32_t y = p.Height - 1; y >= 0; --y) {
    const size_t row_start = s.size();
    for (int32_t x = 0; x < p.Width; ++x) PutLe(s, p.Pixels[static_cast<size_t>(y * p.Width + x)] & 0xFFFFFF, 3);
    s.append(line - (s.size() - row_start), '\0');
  }
  return s;
}

}  // namespace pelvar
