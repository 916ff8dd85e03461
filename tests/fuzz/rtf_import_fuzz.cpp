// libFuzzer target for the RTF import into documents: arbitrary bytes imported into a
// document that already holds items, with the style modes, Unicode modes and line-break
// option chosen by the input's length; the resulting document is then written as RTF,
// HTML and in the native format and read back. Any result code is fine; a crash, an
// escaped exception other than the project's own, or a hang is not.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVRTFProps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pelvar;
  TRVStyle style(nullptr);
  TCustomRVData doc;
  doc.SetRVStyle(&style);
  doc.AddTextItem("before", 0, 0);
  doc.AddTextItem("after", 0, 0);
  // Pictures (and list pictures) are named, not written beside the page.
  doc.OnHTMLSaveImage = [](TCustomRVData*, int32_t, const AnsiString&, TColor, AnsiString& location, bool& do_default) {
    location = "picture";
    do_default = false;
  };
  TRVRTFReaderProperties props;
  props.TextStyleMode = static_cast<TRVReaderStyleMode>(size % 3);
  props.ParaStyleMode = static_cast<TRVReaderStyleMode>((size / 3) % 3);
  props.UnicodeMode = static_cast<TRVReaderUnicode>((size / 9) % 3);
  props.LineBreaksAsParagraphs = (size & 0x20) != 0;
  props.SkipHiddenText = (size & 0x40) == 0;
  props.ResourceBasePath = "base/";
  TCustomRVData header;
  header.SetRVStyle(&style);
  if (size & 0x80) props.HeaderDocument = &header;
  try {
    TStringStream in(std::string(reinterpret_cast<const char*>(data), size));
    int32_t index = 1;
    (void)props.ReadRTFFromStream(in, &doc, index);
    // Whatever was imported must be writable and readable again.
    TMemoryStream rtf, html, rvf;
    (void)doc.SaveRTFToStream(rtf, "", 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0, clWindow, false);
    int32_t image_no = 0;
    TColor cur = clNone;
    (void)doc.SaveHTMLToStreamEx(html, "", "t", "img", "", "", "", rvsoUTF8, clNone, cur, image_no, 0, 0, 0, 0,
                                 nullptr);
    (void)doc.SaveTextToStream("", html, 80, false, false, true, true);
    if (doc.SaveRVFToStream(rvf, false, nullptr, nullptr, clNone)) {
      rvf.SetPosition(0);
      TCustomRVData back;
      back.SetRVStyle(&style);
      TColor c = clNone;
      (void)back.LoadRVFFromStream(rvf, c, nullptr, nullptr);
    }
  } catch (const Exception&) {
    // The project's own errors are answers, not findings.
  }
  return 0;
}
