#include "richtext/model/RVConst.h"

#include <map>
#include <mutex>

#include "platform/sysutils.h"

namespace pelvar {

const char* const RVListTypeStr[kRVListTypeCount] = {
    "bullet", "pic", "image-list", "1,2,3", "a,b,c", "A,B,C", "i,ii,iii", "I,II,III", "image-list counter",
    "unicode bullet"};

const char* const RVAlignStr[kRVTabAlignCount] = {"left", "right", "center"};

namespace {

struct TFormatRegistry {
  std::mutex lock;
  std::map<AnsiString, uint16_t> ids;  // keyed by the upper-cased name
  std::map<uint16_t, AnsiString> names;
  uint16_t next = 0xC000;
};

TFormatRegistry& Registry() {
  static TFormatRegistry registry;
  return registry;
}

struct TFamilyFormats {
  uint16_t rvf = 0, rtf = 0, url = 0, html = 0;
};

TFamilyFormats& Formats() {
  static TFamilyFormats formats = [] {
    TFamilyFormats f;
    f.rvf = RegisterClipboardFormat("DocView Format");
    f.rtf = RegisterClipboardFormat("Rich Text Format");
    f.url = RegisterClipboardFormat("UniformResourceLocator");
    f.html = RegisterClipboardFormat("HTML Format");
    return f;
  }();
  return formats;
}

// Start-up registration, as the family does when a program starts.
const bool kRegisteredAtStartup = (Formats(), true);

}  // namespace

uint16_t RegisterClipboardFormat(const AnsiString& name) {
  if (name.empty()) return 0;
  TFormatRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.lock);
  AnsiString key = AnsiUpperCase(name);
  auto it = r.ids.find(key);
  if (it != r.ids.end()) return it->second;
  if (r.next == 0) return 0;  // the id range (0xC000..0xFFFF) is used up
  uint16_t id = r.next;
  r.next = r.next == 0xFFFF ? 0 : static_cast<uint16_t>(r.next + 1);
  r.ids[key] = id;
  r.names[id] = name;
  return id;
}

AnsiString GetClipboardFormatName(uint16_t id) {
  TFormatRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = r.names.find(id);
  return it == r.names.end() ? AnsiString() : it->second;
}

uint16_t CFRV_RVF() { return Formats().rvf; }
uint16_t CFRV_RTF() { return Formats().rtf; }
uint16_t CFRV_URL() { return Formats().url; }
uint16_t CFRV_HTML() { return Formats().html; }

void RVRegisterClipboardFormats() {
  TFamilyFormats& f = Formats();
  f.rvf = RegisterClipboardFormat("DocView Format");
  f.rtf = RegisterClipboardFormat("Rich Text Format");
  f.url = RegisterClipboardFormat("UniformResourceLocator");
  f.html = RegisterClipboardFormat("HTML Format");
}

}  // namespace pelvar
