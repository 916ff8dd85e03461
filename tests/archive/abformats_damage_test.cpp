// Damaged zip, tar and gzip files: whatever bytes are flipped or cut off, loading,
// testing and extracting end in the kit's exceptions or item failures, never in a
// crash, a hang or a write over the damaged file.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/abdfdec.h"
#include "archive/abgztyp.h"
#include "archive/abtartyp.h"
#include "archive/abziptyp.h"
#include "support/process.h"

namespace pelvar {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

std::string Text(size_t n, int seed) {
  std::string s;
  for (size_t i = 0; s.size() < n; ++i) s += std::to_string((i * 7919 + static_cast<size_t>(seed)) % 100003) + " ";
  s.resize(n);
  return s;
}

// Reads stored and deflated entries: the damage must be met by the archive's code.
void ZipExtract(TAbZipArchive& Archive, TAbZipItem& Item, TStream& Out) {
  TStream* in = Archive.Stream();
  in->Seek(Item.RelativeOffset(), TSeekOrigin::soBeginning);
  TAbZipLocalFileHeader lfh;
  lfh.LoadFromStream(*in);
  if (Item.CompressionMethod() == 8)
    Inflate(in, &Out, nullptr);
  else if (Item.CompressedSize32() > 0)
    Out.CopyFrom(*in, Item.CompressedSize32());
}

struct Format {
  std::string name;
  std::function<std::unique_ptr<TAbArchive>(const std::string&)> open;
};

TEST(AbFormatsDamage, FlippedAndCutFilesFailCleanly) {
  TempDir dir;
  ASSERT_EQ(RunCommand({"mkdir", dir.File("src")}).exit_code, 0);
  WriteFile(dir.File("src/a.txt"), Text(3000, 1));
  WriteFile(dir.File("src/b.txt"), Text(700, 2));
  WriteFile(dir.File("src/c.bin"), "");
  const std::string src = dir.File("src");
  ASSERT_EQ(RunCommand({"sh", "-c", "cd " + src + " && zip -q -9 ../good.zip a.txt b.txt c.bin && tar -cf ../good.tar "
                        "a.txt b.txt c.bin && tar -czf ../good.tgz a.txt b.txt && gzip -c a.txt > ../good.gz"})
                .exit_code,
            0);
  const std::vector<std::pair<Format, std::string>> formats = {
      {{"zip",
        [](const std::string& p) {
          auto a = std::make_unique<TAbZipArchive>(p, fmOpenRead | fmShareDenyNone);
          a->ExtractToStreamHelper = ZipExtract;
          // A damaged end record may claim a set of volumes: no other volume is there.
          a->OnRequestImage = [](TObject*, int32_t, AnsiString&, bool& Abort) { Abort = true; };
          return std::unique_ptr<TAbArchive>(std::move(a));
        }},
       "good.zip"},
      {{"tar", [](const std::string& p) { return std::unique_ptr<TAbArchive>(new TAbTarArchive(p, fmOpenReadWrite)); }},
       "good.tar"},
      {{"tgz",
        [](const std::string& p) {
          auto a = std::make_unique<TAbGzipArchive>(p, fmOpenReadWrite);
          a->SetHoldsTar(true);
          a->SetAutoOpenTar(true);
          return std::unique_ptr<TAbArchive>(std::move(a));
        }},
       "good.tgz"},
      {{"gz", [](const std::string& p) { return std::unique_ptr<TAbArchive>(new TAbGzipArchive(p, fmOpenReadWrite)); }},
       "good.gz"},
  };
  uint32_t x = 12345;
  auto next = [&x](uint32_t bound) {
    x = x * 1103515245u + 12345u;
    return (x >> 8) % bound;
  };
  for (const auto& [format, file] : formats) {
    SCOPED_TRACE(format.name);
    const std::string good = ReadFile(dir.File(file));
    ASSERT_FALSE(good.empty());
    for (int round = 0; round < 150; ++round) {
      std::string bad = good;
      if (round % 5 == 4) {
        // Cut short (an empty file is a new, empty archive, which closing writes).
        bad.resize(1 + next(static_cast<uint32_t>(good.size() - 1)));
      } else {
        for (uint32_t flips = 1 + next(3); flips > 0; --flips) {
          bad[next(static_cast<uint32_t>(bad.size()))] ^= static_cast<char>(1u << next(8));
        }
      }
      const std::string path = dir.File("bad_" + format.name);
      WriteFile(path, bad);
      {
        std::unique_ptr<TAbArchive> archive = format.open(path);
        archive->OnProcessItemFailure = [](TObject*, TAbArchiveItem*, TAbProcessType, TAbErrorClass, int32_t) {};
        try {
          archive->Load();
        } catch (const Exception&) {
          EXPECT_EQ(archive->Status(), asInvalid);
          continue;
        }
        for (int32_t i = 0; i < archive->ItemCount(); ++i) {
          TMemoryStream out;
          archive->ExtractToStream(archive->Items(i)->FileName(), out);
          try {
            archive->TestItemAt(i);
          } catch (const Exception&) {
          }
        }
        // Closing without changes keeps what is there.
        archive->Save();
      }
      EXPECT_EQ(ReadFile(path), bad) << "round " << round << " rewrote the damaged file";
    }
  }
}

}  // namespace
}  // namespace pelvar
