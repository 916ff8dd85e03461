// Cabinet archives against the gcab tool: cabinets it makes are detected, listed and
// extracted byte-exactly; cabinets the kit builds are listed and extracted by it.
// Where the cabinet library cannot be loaded, EAbNoCabinetDll.
#include "archive/abcabtyp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/abzipkit.h"
#include "archive/abutils.h"
#include "platform/cabinet.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"
#include "support/process.h"

namespace pelvar {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

std::string Content(size_t n, uint32_t seed) {
  std::string s;
  uint32_t x = seed;
  while (s.size() < n) {
    x = x * 1664525 + 1013904223;
    s += "zaznam " + std::to_string(x % 1000) + ";";
    s += static_cast<char>(x >> 24);
  }
  s.resize(n);
  return s;
}

class CabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveProgram("gcab")) GTEST_SKIP() << "gcab is not installed (apt-get install gcab)";
    ASSERT_TRUE(CabinetLibraryAvailable()) << "libgcab-1.0.so.0 cannot be loaded (apt-get install libgcab-1.0-0)";
    ForceDirectories(dir_.File("src/sub"));
    files_ = {{"a.txt", Content(1000, 1)}, {"b.bin", Content(200000, 2)}, {"empty.dat", ""}};
    for (const auto& [name, data] : files_) WriteFile(dir_.File("src/" + name), data);
  }

  // Loads a cabinet for reading with the extraction going to dir/out.
  std::unique_ptr<TAbCabArchive> OpenCab(const std::string& path) {
    auto cab = std::make_unique<TAbCabArchive>(path, fmOpenRead | fmShareDenyNone);
    cab->Load();
    ForceDirectories(dir_.File("out"));
    cab->SetBaseDirectory(dir_.File("out"));
    return cab;
  }

  TempDir dir_{"cab"};
  std::vector<std::pair<std::string, std::string>> files_;
};

TEST_F(CabTest, CabinetsOfTheToolAreDetectedListedAndExtracted) {
  for (const bool compressed : {true, false}) {
    SCOPED_TRACE(compressed ? "MSZIP" : "uncompressed");
    const std::string cab_path = dir_.File(compressed ? "tool-z.cab" : "tool.cab");
    std::vector<std::string> argv = {"gcab", "-c"};
    if (compressed) argv.push_back("-z");
    argv.push_back(cab_path);
    for (const auto& f : files_) argv.push_back(f.first);
    auto made = RunCommand({"sh", "-c", "cd " + dir_.File("src") + " && " + [&] {
                              std::string cmd;
                              for (const auto& a : argv) cmd += "'" + a + "' ";
                              return cmd;
                            }()});
    ASSERT_EQ(made.exit_code, 0) << made.output;

    EXPECT_EQ(AbArchiveTypeOf(cab_path, atUnknown), atCab);
    EXPECT_EQ(AbCabKindOf(cab_path), AbCabTypeOf);

    auto cab = OpenCab(cab_path);
    ASSERT_EQ(cab->ItemCount(), static_cast<int32_t>(files_.size()));
    for (int32_t i = 0; i < cab->ItemCount(); ++i) {
      EXPECT_EQ(cab->Items(i)->FileName(), files_[i].first);
      EXPECT_EQ(cab->Items(i)->UncompressedSize(), static_cast<int32_t>(files_[i].second.size()));
      EXPECT_NE(cab->Items(i)->LastModFileDate(), 0);
      EXPECT_FALSE(cab->CabItems(i)->PartialFile());
    }
    EXPECT_EQ(cab->FolderCount(), 1);
    std::vector<int32_t> failures;
    cab->OnProcessItemFailure = [&](TObject*, TAbArchiveItem*, TAbProcessType, TAbErrorClass c, int32_t) {
      failures.push_back(c);
    };
    for (int32_t i = 0; i < cab->ItemCount(); ++i) cab->ExtractItemAt(i, cab->Items(i)->FileName());
    EXPECT_TRUE(failures.empty());
    for (const auto& [name, data] : files_) EXPECT_EQ(ReadFile(dir_.File("out/" + name)), data) << name;
  }
}

TEST_F(CabTest, CabinetsOfTheKitAreReadByTheTool) {
  for (const TAbCabCompressionType type : {ctMSZIP, ctNone}) {
    SCOPED_TRACE(static_cast<int>(type));
    const std::string cab_path = dir_.File(type == ctMSZIP ? "kit-z.cab" : "kit.cab");
    std::vector<std::string> progress;
    {
      TAbCabArchive cab(cab_path, 0xFFFF);
      cab.SetCompressionType(type);
      cab.SetStoreOptions(TAbStoreOptions{soStripPath});
      cab.OnArchiveItemProgress = [&](TObject*, TAbArchiveItem* item, uint8_t p, bool&) {
        if (p == 100) progress.push_back(item->FileName());
      };
      cab.Load();
      for (const auto& f : files_) cab.Add(cab.CreateItem(dir_.File("src/" + f.first)));
      EXPECT_THROW(cab.Add(cab.CreateItem(dir_.File("src/a.txt"))), EAbDuplicateName);
      EXPECT_THROW(cab.Add(cab.CreateItem(dir_.File("src/missing.txt"))), EAbFileNotFound);
      // The cabinet holds bare names: another a.txt from elsewhere would shadow the first.
      WriteFile(dir_.File("src/sub/a.txt"), "other");
      cab.SetStoreOptions(TAbStoreOptions{});
      EXPECT_THROW(cab.Add(cab.CreateItem(dir_.File("src/sub/a.txt"))), EAbDuplicateName);
      EXPECT_EQ(cab.ItemCount(), 3);
      cab.Save();
      // Saving again with nothing new leaves the cabinet as it is.
      cab.Save();
    }
    EXPECT_EQ(progress, (std::vector<std::string>{"a.txt", "b.bin", "empty.dat"}));

    auto list = RunCommand({"gcab", "-l", cab_path});
    ASSERT_EQ(list.exit_code, 0) << list.output;
    // Names, sizes and the files' dates as the tool lists them.
    std::string expected;
    for (const auto& [name, data] : files_) {
      const TDateTime age = AbFileDateToDateTime(AbFileAge(dir_.File("src/" + name)));
      expected += name + " " + std::to_string(data.size()) + " " +
                  AnsiString(FormatDateTime("yyyy-mm-dd hh:nn:ss", age)) + " 0x20\n";
    }
    EXPECT_EQ(list.output, expected);
    const std::string out = dir_.File(type == ctMSZIP ? "x-z" : "x");
    ForceDirectories(out);
    auto x = RunCommand({"gcab", "-x", "-C", out, cab_path});
    ASSERT_EQ(x.exit_code, 0) << x.output;
    for (const auto& [name, data] : files_) EXPECT_EQ(ReadFile(out + "/" + name), data) << name;

    // And the kit reads back what it wrote.
    auto back = OpenCab(cab_path);
    ASSERT_EQ(back->ItemCount(), 3);
    back->ExtractItemAt(1, "b.bin");
    EXPECT_EQ(ReadFile(dir_.File("out/b.bin")), files_[1].second);
  }
}

TEST_F(CabTest, EmptyCabinetSavedIsListedEmpty) {
  const std::string path = dir_.File("empty.cab");
  {
    TAbCabArchive cab(path, 0xFFFF);
    cab.Load();
    cab.Save();
  }
  auto list = RunCommand({"gcab", "-l", path});
  EXPECT_EQ(list.exit_code, 0) << list.output;
  EXPECT_EQ(list.output, "");
  EXPECT_EQ(OpenCab(path)->ItemCount(), 0);
}

TEST_F(CabTest, FailuresOfTheCabinetAreReported) {
  // Not a cabinet.
  WriteFile(dir_.File("fake.cab"), std::string(100, 'x'));
  EXPECT_THROW(AbArchiveTypeOf(dir_.File("fake.cab"), atUnknown), EAbInvalidCabFile);
  // The zip component refuses a real cabinet.
  ASSERT_EQ(RunCommand({"gcab", "-c", dir_.File("real.cab"), dir_.File("src/a.txt")}).exit_code, 0);
  TAbZipKit kit(nullptr);
  EXPECT_THROW(kit.SetFileName(dir_.File("real.cab")), EAbUnhandledType);
  EXPECT_EQ(kit.Archive(), nullptr);
  // LZX cannot be written.
  {
    TAbCabArchive cab(dir_.File("lzx.cab"), 0xFFFF);
    cab.SetCompressionType(ctLZX);
    cab.SetStoreOptions(TAbStoreOptions{soStripPath});
    cab.Load();
    EXPECT_THROW(cab.Add(cab.CreateItem(dir_.File("src/a.txt"))), EAbFCIAddFileError);
    EXPECT_EQ(cab.ItemCount(), 0);
  }
  // Adding to a cabinet opened for reading is an item failure.
  auto cab = OpenCab(dir_.File("real.cab"));
  std::vector<TAbErrorClass> failures;
  cab->OnProcessItemFailure = [&](TObject*, TAbArchiveItem*, TAbProcessType t, TAbErrorClass c, int32_t) {
    EXPECT_EQ(t, ptAdd);
    failures.push_back(c);
  };
  cab->Add(cab->CreateItem(dir_.File("src/b.bin")));
  EXPECT_EQ(failures, std::vector<TAbErrorClass>{ecCabError});
  EXPECT_EQ(cab->ItemCount(), 1);
  // Damaged data (uncompressed, so only the block checksums can tell): one failure
  // report, no file (not even a partial one).
  {
    ASSERT_EQ(RunCommand({"sh", "-c", "cd " + dir_.File("src") + " && gcab -c ../damaged.cab a.txt b.bin"}).exit_code,
              0);
    std::string bytes = ReadFile(dir_.File("damaged.cab"));
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x5A);
    WriteFile(dir_.File("damaged.cab"), bytes);
    auto damaged = OpenCab(dir_.File("damaged.cab"));
    ASSERT_EQ(damaged->ItemCount(), 2);
    std::vector<TAbProcessType> reports;
    damaged->OnProcessItemFailure = [&](TObject*, TAbArchiveItem* item, TAbProcessType t, TAbErrorClass c,
                                        int32_t) {
      EXPECT_EQ(item, damaged->Items(1));
      EXPECT_EQ(c, ecCabError);
      reports.push_back(t);
    };
    damaged->ExtractItemAt(1, "b.bin");
    EXPECT_EQ(reports, std::vector<TAbProcessType>{ptExtract});
    EXPECT_FALSE(FileExists(dir_.File("out/b.bin")));
    auto left = RunCommand({"ls", dir_.File("out")});
    EXPECT_EQ(left.output, "");
  }
  // An extraction refused by the overwrite question keeps the existing file.
  WriteFile(dir_.File("out/a.txt"), "older");
  cab->OnConfirmOverwrite = [](AnsiString&, bool& confirm) { confirm = false; };
  cab->ExtractItemAt(0, "a.txt");
  EXPECT_EQ(ReadFile(dir_.File("out/a.txt")), "older");
}

TEST(CabinetLibrary, MissingLibraryRaisesNoCabinetDll) {
  TempDir dir("cab");
  WriteFile(dir.File("a.txt"), "abc");
  const bool have_tool = test::HaveProgram("gcab");
  if (have_tool) {
    ASSERT_EQ(RunCommand({"gcab", "-c", dir.File("a.cab"), dir.File("a.txt")}).exit_code, 0);
  }

  SetCabinetLibraryName("libgcab-missing.so.0");
  EXPECT_FALSE(CabinetLibraryAvailable());
  EXPECT_THROW(AbBindCabinetLibrary(), EAbNoCabinetDll);
  try {
    AbBindCabinetLibrary();
  } catch (const EAbNoCabinetDll& e) {
    EXPECT_EQ(e.Message(), "Cannot load cabinet.dll");
  }
  {
    TAbCabArchive writer(dir.File("new.cab"), 0xFFFF);
    EXPECT_THROW(writer.Load(), EAbNoCabinetDll);
  }
  if (have_tool) {
    EXPECT_THROW(AbArchiveTypeOf(dir.File("a.cab"), atUnknown), EAbNoCabinetDll);
    TAbZipKit kit(nullptr);
    EXPECT_THROW(kit.SetFileName(dir.File("a.cab")), EAbNoCabinetDll);
  }
  SetCabinetLibraryName("");
  EXPECT_TRUE(CabinetLibraryAvailable());
}

}  // namespace
}  // namespace pelvar
