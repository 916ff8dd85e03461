// libFuzzer target for the RTF reader: arbitrary bytes as an RTF stream, parsed with
// every event handled (text, pictures, objects, tables, headers and footers, markers),
// the way an importer uses the reader. Any result code is fine; a crash, an escaped
// exception or a hang is not.
#include <cstdint>
#include <string>

#include "platform/canvas.h"
#include "fuzz_support.h"
#include "richtext/model/RVRTF.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pelvar;
  TRVRTFReader reader(nullptr);
  // The options follow the input's length, so every input sees one fixed setting.
  reader.SetTabAsSeparateChar(size & 1);
  reader.SetExtractMetafileBitmaps(size & 2);
  reader.SetConvertHighlight(static_cast<TRVRTFHighlightConvert>(size % 3));
  volatile uint64_t sink = 0;
  auto look_at_state = [&](TRVRTFReader* r) {
    const TRVRTFReaderState& s = r->GroupState();
    sink = sink + s.CharProps.Size + s.ParaProps.LeftIndent + static_cast<uint32_t>(s.CharProps.Color);
    const int32_t font = s.CharProps.FontIndex;
    if (font >= 0 && font < r->FontTable().Count()) sink = sink + r->FontTable().Items(font)->Name.size();
  };
  reader.OnNewText = [&](TRVRTFReader* r, const AnsiString& text, TRVRTFPosition) {
    sink = sink + text.size();
    look_at_state(r);
  };
  reader.OnNewUnicodeText = [&](TRVRTFReader* r, const WideString& text, TRVRTFPosition) {
    sink = sink + text.size();
    look_at_state(r);
  };
  reader.OnNewPicture = [&](TRVRTFReader*, TRVRTFPicture* pic, TGraphic* graphic, TRVRTFPosition, const AnsiString&,
                            bool& inserted) {
    sink = sink + static_cast<uint64_t>(pic->Data.Size()) + pic->SuggestedWidth;
    if (graphic) sink = sink + static_cast<uint64_t>(graphic->Width());
    inserted = (pic->Data.Size() & 1) != 0;
    if (inserted) delete graphic;  // an inserted picture's graphic is the handler's
  };
  reader.OnNewObject = [&](TRVRTFReader*, TRVRTFObject* obj, TRVRTFPosition, bool& inserted) {
    sink = sink + static_cast<uint64_t>(obj->Data.Size());
    inserted = true;
  };
  reader.OnUpdateMarker = [&](TRVRTFReader* r) { look_at_state(r); };
  reader.OnTable = [&](TRVRTFReader* r, TRVRTFTableEventKind) {
    if (TRVRTFRowProperties* row = r->GroupState().RowPropsOrNull()) sink = sink + row->Cells.Count();
    sink = sink + r->TableLevel();
  };
  reader.OnHeaderFooter = [](TRVRTFReader*, TRVRTFHeaderFooterType, bool, bool& supported) { supported = true; };
  reader.OnImportPicture = [](TRVRTFReader*, const AnsiString&, TGraphic*& graphic, bool& invalid) {
    graphic = nullptr;
    invalid = true;
  };
  reader.OnTranslateKeyword = [](TRVRTFReader*, const AnsiString&, int32_t, bool, AnsiString&, bool& doDefault) {
    doDefault = true;
  };
  TStringStream in(std::string(reinterpret_cast<const char*>(data), size));
  (void)reader.Parse(in);
  // Style links point into the style sheet itself: follow them.
  for (int32_t i = 0; i < reader.StyleSheet().Count(); ++i) {
    const TRVRTFStyleSheetEntry* e = reader.StyleSheet().Items(i);
    sink = sink + e->Name.size() + (e->BasedOn ? e->BasedOn->Name.size() : 0) + (e->Next ? e->Next->Number : 0);
  }
  for (int32_t i = 0; i < reader.ListOverrideTable().Count(); ++i)
    sink = sink + reader.ListOverrideTable().Items(i)->ListIndex;
  return 0;
}
