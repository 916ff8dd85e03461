// libFuzzer target for the cabinet reader: arbitrary bytes as a .cab file, read through
// the cabinet archive over the kit's cabinet library (load, list, extract every file
// with the stored paths restored). Files must land below the base directory, nowhere
// else. The cabinet library itself (loaded at run time) is not instrumented: coverage
// guides through our layer only.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "archive/abcabtyp.h"
#include "archive/abexcept.h"
#include "fuzz_support.h"

namespace {

// The names in dir, to see that nothing appeared beside the base directory.
std::set<std::string> Names(const std::filesystem::path& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) names.insert(e.path().filename().string());
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pelvar;
  const AnsiString path = fuzz::WriteInput("input.cab", data, size);
  const AnsiString base = fuzz::FreshDir("a/b/out");
  try {
    TAbCabArchive cab(path, fmOpenRead | fmShareDenyNone);
    cab.Load();
    cab.SetBaseDirectory(base);
    cab.SetExtractOptions(TAbExtractOptions{eoCreateDirs, eoRestorePath});
    for (int32_t i = 0; i < cab.ItemCount(); ++i) {
      volatile uint64_t sink = cab.Items(i)->FileName().size() + cab.Items(i)->UncompressedSize();
      (void)sink;
    }
    for (int32_t i = 0; i < cab.ItemCount(); ++i) cab.ExtractItemAt(i, AnsiString());
  } catch (const Exception&) {
  }
  const std::filesystem::path scratch = fuzz::ScratchDir();
  if (Names(scratch / "a" / "b") != std::set<std::string>{"out"} ||
      Names(scratch / "a") != std::set<std::string>{"b"} ||
      Names(scratch) != std::set<std::string>{"a", "input.cab"}) {
    std::fprintf(stderr, "a file was extracted outside the base directory\n");
    std::abort();
  }
  return 0;
}
