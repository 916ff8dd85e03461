// Writes the seed inputs that come from the project's own writers into the corpus
// folders (see make_seeds.sh, which adds those of the real peers):
//   seed_writer <source dir with small files> <corpus root>
// zip, tar, gzip and gzipped tar through the zip kit; cabinets through the cabinet
// archive (MSZIP and uncompressed); raw Deflate and Deflate64 streams for inflate
// (with the option byte the inflate target reads first); a registry store; native-format
// documents (one with an item of every kind the writer knows, and the RTF seeds imported),
// in text and binary mode.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/abcabtyp.h"
#include "archive/abdfbase.h"
#include "archive/abdfenc.h"
#include "archive/abzipkit.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "platform/streams.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVRTFProps.h"
#include "richtext/model/RVUni.h"
#include "rvf_control.h"

namespace fs = std::filesystem;
using namespace pelvar;

namespace {

std::vector<std::string> Sources(const std::string& dir) {
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file()) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

void Kit(const std::string& out, uint8_t type, TAbZipSupportedMethod method, const std::vector<std::string>& files) {
  fs::remove(out);
  TAbZipKit kit(nullptr);
  kit.SetForceType(true);
  kit.SetArchiveType(type);
  kit.SetTarAutoHandle(type == atGzippedTar);
  kit.SetCompressionMethodToUse(method);
  kit.SetStoreOptions(TAbStoreOptions{soStripPath});
  kit.SetFileName(out);
  for (const auto& f : files) kit.AddFiles(f, 63);
  kit.CloseArchive();
}

void Cab(const std::string& out, TAbCabCompressionType type, const std::vector<std::string>& files) {
  fs::remove(out);
  TAbCabArchive cab(out, 0xFFFF);
  cab.SetCompressionType(type);
  cab.SetStoreOptions(TAbStoreOptions{soStripPath});
  cab.Load();
  for (const auto& f : files) cab.Add(cab.CreateItem(f));
  cab.Save();
}

void Deflated(const std::string& out, const std::string& source, bool deflate64) {
  std::ifstream in(source, std::ios::binary);
  TStringStream src(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
  TStringStream dst;
  TAbDeflateHelper helper;
  helper.SetOptions(deflate64 ? (15 | dfc_UseDeflate64) : 15);
  Deflate(&src, &dst, &helper);
  std::ofstream o(out, std::ios::binary);
  o.put(deflate64 ? 1 : 0);  // the inflate target's option byte
  o << dst.DataString();
}

// A root document with document properties (the base keeps none).
class Document : public TCustomRVData {
 public:
  explicit Document(TRVStyle* style) { SetRVStyle(style); }
  TStringList* GetDocProperties() override { return &props_; }

 private:
  TStringList props_;
};

void SaveRvf(Document& doc, const std::string& out, bool binary, TRVLayoutInfo* layout) {
  TRVFOptions o = doc.GetRVFOptions();
  o.Include(rvfoSaveTextStyles).Include(rvfoSaveParaStyles).Include(rvfoSaveLayout).Include(rvfoSaveDocProperties);
  o.Include(rvfoSavePicturesBody).Include(rvfoSaveControlsBody).Set(rvfoSaveBinary, binary);
  doc.SetRVFOptions(o);
  doc.SetFlags(static_cast<uint16_t>(doc.GetFlags() | 0x100));
  TMemoryStream m;
  if (!doc.SaveRVFToStream(m, false, layout, nullptr, clNone)) {
    std::fprintf(stderr, "seed_writer: %s not written\n", out.c_str());
    std::exit(1);
  }
  std::ofstream(out, std::ios::binary).write(reinterpret_cast<const char*>(m.Memory()), m.Size());
}

// Every item kind the native format writer knows: Czech text in several text and
// paragraph styles, a UTF-16 item, checkpoints (one pending at the end), a hint, a tag,
// a tab, a break, an empty paragraph, a line break, pictures, a hot picture and a control.
void RvfSample(const std::string& dir) {
  fuzz::RegisterFuzzControl();
  auto control = std::make_unique<fuzz::TFuzzControl>(nullptr);
  control->Level = 3;
  control->Caption = CZ("Uložit");
  control->Checked = true;
  TRVStyle style(nullptr);
  TFontInfo* u = style.TextStyles()->Add();
  u->Unicode = true;
  u->FontName = "Georgia";
  style.ParaStyles()->Add()->LeftIndent = 24;
  const int32_t uni = style.TextStyles()->Count() - 1, indented = style.ParaStyles()->Count() - 1;
  Document d(&style);
  d.GetDocProperties()->Add("Title=Karta pacienta");
  d.GetDocProperties()->Add(CZ("Author=MVDr. Novák\r\ndruhý řádek"));
  d.AddTextItem(CZ("Příliš žluťoučký kůň"), 0, 0);
  d.AddTextItem(CZ(" úpěl ďábelské ódy"), 1, -1);
  d.AddCheckpoint("kotva", true, TRVTag::FromInt(7));
  d.AddTextItemTag(CZ("Druhý odstavec"), 2, indented, TRVTag::FromInt(42));
  auto tab = std::make_unique<TRVTabItemInfo>(&d);
  tab->StyleNo = rvsTab;
  tab->TextStyleNo = 3;
  tab->SetSameAsPrev(true);
  tab->ParaNo = indented;
  d.AddItem("", tab.release());
  d.AddTextItem("po tabu", 3, -1);
  auto br = std::make_unique<TRVBreakItemInfo>(&d);
  br->StyleNo = rvsBreak;
  br->LineWidth = 2;
  br->Color = clRed;
  d.AddItem("", br.release());
  d.AddTextItem("", 0, 0);
  d.AddTextItem("line", 0, 0);
  d.GetItem(d.ItemCount() - 1)->SetBR(true);
  d.GetItem(d.ItemCount() - 1)->Hint = "a \"quoted\" hint";
  d.AddTextItem(RVU_WideStringToRawUnicode(u"\u03A9mega \u010D"), uni, 0);
  d.GetItem(d.ItemCount() - 1)->ItemOptions.Include(rvioUnicodeText);
  auto pic = new TRVGraphicItemInfo(&d, std::make_unique<TBitmap>(3, 2, 0xFF102030u), 1);
  pic->Spacing = 2;
  pic->VShift = -3;
  d.AddItem("obrazek", pic);
  auto hot = new TRVHotGraphicItemInfo(&d, std::make_unique<TBitmap>(1, 1), 0);
  hot->SetSameAsPrev(true);
  d.AddItem("odkaz", hot);
  auto ctl = new TRVControlItemInfo(&d);
  ctl->StyleNo = rvsComponent;
  ctl->Control = control.release();  // the item owns it
  ctl->VAlign = 1;
  ctl->ResizableFlag = true;
  ctl->ParaNo = -1;
  d.AddItem("tlacitko", ctl);
  d.AddTextItem(CZ("Konec"), 4, 0);
  d.AddCheckpoint("end", false, TRVTag::FromInt(0));
  TRVLayoutInfo layout;
  layout.LeftMargin = 5;
  layout.MaxTextWidth = 600;
  layout.BiDiMode = rvbdLeftToRight;
  SaveRvf(d, dir + "/kit-sample.rvf", false, &layout);
  SaveRvf(d, dir + "/kit-sample-binary.rvf", true, &layout);
  // The same without the style tables and layout: only items.
  TRVFOptions plain;
  d.SetRVFOptions(plain);
  d.SetFlags(0);
  TMemoryStream m;
  d.SaveRVFToStream(m, false, nullptr, nullptr, clNone);
  std::ofstream(dir + "/kit-items.rvf", std::ios::binary).write(reinterpret_cast<const char*>(m.Memory()), m.Size());
}

// The RTF seeds imported into documents and written in the native format.
void RvfFromRtf(const std::string& rtf_dir, const std::string& dir) {
  for (const auto& f : Sources(rtf_dir)) {
    std::ifstream in(f, std::ios::binary);
    TStringStream src(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    TRVStyle style(nullptr);
    Document d(&style);
    TRVRTFReaderProperties props;
    int32_t index = 0;
    props.ReadRTFFromStream(src, &d, index);
    const std::string name = fs::path(f).stem().string();
    SaveRvf(d, dir + "/kit-rtf-" + name + ".rvf", false, nullptr);
    SaveRvf(d, dir + "/kit-rtf-" + name + "-binary.rvf", true, nullptr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: seed_writer <source dir> <corpus root>\n");
    return 2;
  }
  const std::string src = argv[1], root = argv[2];
  const auto files = Sources(src);
  for (const char* d : {"zip", "tar", "gzip", "cab", "inflate", "registry", "rvf"}) fs::create_directories(root + "/" + d);
  Kit(root + "/zip/kit-deflated.zip", atZip, smDeflated, files);
  Kit(root + "/zip/kit-stored.zip", atZip, smStored, files);
  Kit(root + "/tar/kit.tar", atTar, smBestMethod, files);
  Kit(root + "/gzip/kit.gz", atGzip, smBestMethod, {files.front()});
  Kit(root + "/gzip/kit-tar.tgz", atGzippedTar, smBestMethod, files);
  Cab(root + "/cab/kit-mszip.cab", ctMSZIP, files);
  Cab(root + "/cab/kit-none.cab", ctNone, files);
  for (const auto& f : files) {
    const std::string name = fs::path(f).filename().string();
    Deflated(root + "/inflate/kit-" + name + ".deflate", f, false);
    Deflated(root + "/inflate/kit-" + name + ".deflate64", f, true);
  }
  // A store with a value of every kind, written by the registry itself.
  const std::string store = root + "/registry/kit.reg";
  fs::remove(store);
  ::setenv("PELVAR_REGISTRY", store.c_str(), 1);
  TRegistry reg;
  reg.OpenKey("\\Software\\Pelvar\\Meldrun", true);
  reg.WriteString("Cesta", "C:\\Pelvar\\Data");
  reg.WriteExpandString("Temp", "%TEMP%\\meldrun");
  reg.WriteInteger("Stanice", 3);
  reg.WriteBool("Zalohovat", true);
  reg.WriteDateTime("Posledni", 46000.5);
  reg.WriteCurrency("Castka", Currency(12345));
  const uint8_t bytes[] = {0, 1, 2, 0xFE, 0xFF};
  reg.WriteBinaryData("Data", bytes, sizeof bytes);
  reg.OpenKey("\\Software\\Pelvar\\Meldrun\\Okno", true);
  reg.WriteInteger("Sirka", 640);
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  reg.OpenKey("\\Software\\Pelvar", true);
  reg.WriteString("Verze", "2.0");
  fs::remove(store + ".lock");
  RvfSample(root + "/rvf");
  RvfFromRtf(root + "/rtf", root + "/rvf");
  return 0;
}
