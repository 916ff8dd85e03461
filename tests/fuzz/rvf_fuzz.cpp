// libFuzzer target for the native document format reader: arbitrary bytes loaded as a
// whole document or inserted between two items of a document, with the read options
// (unknown styles to zero, unknown pictures and controls ignored, layout, document
// properties, background, string tags, style read modes) chosen by the input's length.
// A failed read is an answer; after a successful one the document must be writable
// (in text or binary mode, with its style tables, layout, properties, pictures and
// controls; a control class is registered) and the
// written stream must read back to as many items (of the kinds whose writer is built);
// every item refers to styles the style sheet has.
// Anything else is a finding: a crash,
// an escaped exception other than the project's own, a hang, or a failed write or
// read-back (reported by abort()).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>

#include "fuzz_support.h"
#include "rvf_control.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/CRVData_formats.h"

namespace {

using namespace pelvar;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "rvf_fuzz: %s\n", what);
  std::abort();
}

struct Settings {
  TRVFOptions read;
  bool tags_are_strings = false;
  TRVFReaderStyleMode text_mode = rvf_sInsertMerge, para_mode = rvf_sInsertMerge;
};

void Apply(TCustomRVData& doc, const Settings& s) {
  doc.SetRVFOptions(s.read);
  TRVOptions o = doc.GetOptions();
  o.Set(rvoTagsArePChars, s.tags_are_strings);
  doc.SetOptions(o);
  doc.SetRVFTextStylesReadMode(s.text_mode);
  doc.SetRVFParaStylesReadMode(s.para_mode);
}

// An item kind writes itself to the native format when its class declares SaveRVF (the
// base writes nothing); &T::SaveRVF has the type of the declaring class's member.
template <typename T>
constexpr bool kWritesItself =
    !std::is_same_v<decltype(&T::SaveRVF), decltype(&TCustomRVItemInfo::SaveRVF)>;

// A root document with document properties (the base keeps none).
class Document : public TCustomRVData {
 public:
  explicit Document(TRVStyle* style) { SetRVStyle(style); }
  TStringList* GetDocProperties() override { return &props_; }

 private:
  TStringList props_;
};

bool Written(TCustomRVItemInfo* item) {
  if (dynamic_cast<TRVMarkerItemInfo*>(item)) return kWritesItself<TRVMarkerItemInfo>;
  if (dynamic_cast<TRVHotspotItemInfo*>(item)) return kWritesItself<TRVHotspotItemInfo>;
  if (dynamic_cast<TRVBulletItemInfo*>(item)) return kWritesItself<TRVBulletItemInfo>;
  if (dynamic_cast<TRVControlItemInfo*>(item)) return kWritesItself<TRVControlItemInfo>;
  return true;
}

// Every item refers to styles the style sheet has.
void CheckStyles(TCustomRVData& doc, TRVStyle& style) {
  const int32_t texts = style.TextStyles()->Count(), paras = style.ParaStyles()->Count();
  for (int32_t i = 0; i < doc.ItemCount(); ++i) {
    TCustomRVItemInfo* it = doc.GetItem(i);
    if (it->StyleNo >= 0 && it->StyleNo != rvsDefStyle && it->StyleNo >= texts)
      Fail("an item refers to a text style the style sheet lacks");
    if (it->ParaNo < 0 || it->ParaNo >= paras) Fail("an item refers to a paragraph style the style sheet lacks");
  }
}

int32_t WrittenItems(TCustomRVData& doc) {
  int32_t n = 0;
  for (int32_t i = 0; i < doc.ItemCount(); ++i) n += Written(doc.GetItem(i));
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::RegisterFuzzControl();
  Settings s;
  s.read.Set(rvfoConvUnknownStylesToZero, (size & 1) != 0);
  s.read.Set(rvfoIgnoreUnknownPicFmt, (size & 2) != 0);
  s.read.Set(rvfoIgnoreUnknownCtrls, (size & 2) != 0);
  s.read.Set(rvfoLoadLayout, (size & 4) == 0);
  s.read.Set(rvfoLoadDocProperties, (size & 4) == 0);
  s.read.Set(rvfoLoadBack, (size & 4) == 0);
  s.tags_are_strings = (size & 8) != 0;
  s.text_mode = static_cast<TRVFReaderStyleMode>((size >> 4) % 3);
  s.para_mode = static_cast<TRVFReaderStyleMode>((size >> 5) % 3);
  const bool insert = (size & 0x40) != 0;
  const bool binary = (size & 0x80) != 0;

  TRVStyle style(nullptr);
  Document doc(&style);
  Apply(doc, s);
  TRVLayoutInfo layout;
  TColor color = clNone;
  try {
    TStringStream in(std::string(reinterpret_cast<const char*>(data), size));
    bool ok;
    if (insert) {
      doc.AddTextItem("before", 0, 0);
      doc.AddTextItem("after", 0, 0);
      int32_t index = 1;
      ok = doc.InsertRVFFromStream(in, index, nullptr, nullptr, color, false, false, (size & 0x100) != 0, 0);
    } else {
      ok = doc.LoadRVFFromStream(in, color, nullptr, &layout);
    }
    if (!ok) return 0;
  } catch (const Exception&) {
    return 0;  // the project's own errors are answers, not findings
  }

  CheckStyles(doc, style);

  // What was read must be written and read back.
  TRVFOptions write = s.read;
  write.Include(rvfoSaveTextStyles).Include(rvfoSaveParaStyles).Include(rvfoSaveLayout);
  write.Include(rvfoSaveDocProperties).Include(rvfoSavePicturesBody).Include(rvfoSaveControlsBody);
  write.Set(rvfoSaveBinary, binary);
  doc.SetRVFOptions(write);
  doc.SetFlags(static_cast<uint16_t>(doc.GetFlags() | 0x100));  // the style tables travel along
  TMemoryStream out;
  if (!doc.SaveRVFToStream(out, false, &layout, nullptr, color)) Fail("a document read could not be written");
  out.SetPosition(0);
  if (std::getenv("RVF_FUZZ_SHOW")) {  // for a finding: the stream written
    std::fprintf(stderr, "rvf_fuzz: %d items written as:\n", doc.ItemCount());
    std::fwrite(out.Memory(), 1, static_cast<size_t>(out.Size()), stderr);
    std::fprintf(stderr, "\n");
  }
  TRVStyle back_style(nullptr);
  Document back(&back_style);
  Apply(back, s);
  TRVLayoutInfo back_layout;
  TColor back_color = clNone;
  try {
    if (!back.LoadRVFFromStream(out, back_color, nullptr, &back_layout)) {
      if (std::getenv("RVF_FUZZ_SHOW"))
        std::fprintf(stderr, "rvf_fuzz: %d items read back, warnings %u\n", back.ItemCount(), back.GetRVFWarnings());
      Fail("a written document did not read back");
    }
  } catch (const Exception& e) {
    std::fprintf(stderr, "rvf_fuzz: %s\n", e.Message().c_str());
    Fail("reading a written document raised an error");
  }
  if (std::getenv("RVF_FUZZ_SHOW")) std::fprintf(stderr, "rvf_fuzz: %d items read back\n", back.ItemCount());
  CheckStyles(back, back_style);
  if (WrittenItems(back) != WrittenItems(doc)) Fail("a written document read back with another number of items");
  return 0;
}
