// Writes the seed inputs that come from the project's own writers into the corpus
// folders (see make_seeds.sh, which adds those of the real peers):
//   seed_writer <source dir with small files> <corpus root>
// zip, tar, gzip and gzipped tar through the zip kit; cabinets through the cabinet
// archive (MSZIP and uncompressed); raw Deflate and Deflate64 streams for inflate
// (with the option byte the inflate target reads first); a registry store.
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
#include "platform/registry.h"
#include "platform/streams.h"

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: seed_writer <source dir> <corpus root>\n");
    return 2;
  }
  const std::string src = argv[1], root = argv[2];
  const auto files = Sources(src);
  for (const char* d : {"zip", "tar", "gzip", "cab", "inflate", "registry"}) fs::create_directories(root + "/" + d);
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
  return 0;
}
