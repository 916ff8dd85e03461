// Cabinet archives against gcab and cabextract: cabinets gcab makes are detected,
// listed and extracted byte-exactly; cabinets the kit builds (uncompressed, MSZIP,
// LZX, and sets split at the spanning threshold) are listed, tested and extracted by
// both tools, and read back by the kit. Where the reading library cannot be loaded,
// reading raises EAbNoCabinetDll.
#include "archive/abcabtyp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "archive/abzipkit.h"
#include "archive/abutils.h"
#include "archive/abcablib.h"
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
    for (const char* tool : {"gcab", "cabextract"})
      if (!test::HaveProgram(tool)) GTEST_SKIP() << tool << " is not installed (scripts/deps.sh)";
    ASSERT_TRUE(CabinetLibraryAvailable()) << "libmspack.so.0 cannot be loaded (apt-get install libmspack0)";
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

TEST_F(CabTest, CabinetsOfTheKitAreReadByTheTools) {
  for (const TAbCabCompressionType type : {ctMSZIP, ctNone, ctLZX}) {
    SCOPED_TRACE(static_cast<int>(type));
    const std::string tag = std::to_string(static_cast<int>(type));
    const std::string cab_path = dir_.File("kit" + tag + ".cab");
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
    const std::string out = dir_.File("x" + tag);
    ForceDirectories(out);
    auto x = RunCommand({"gcab", "-x", "-C", out, cab_path});
    ASSERT_EQ(x.exit_code, 0) << x.output;
    for (const auto& [name, data] : files_) EXPECT_EQ(ReadFile(out + "/" + name), data) << name;
    // cabextract checks the block checksums and the folder's sizes as well.
    const std::string out2 = dir_.File("y" + tag);
    auto y = RunCommand({"cabextract", "-q", "-d", out2, cab_path});
    ASSERT_EQ(y.exit_code, 0) << y.output;
    for (const auto& [name, data] : files_) EXPECT_EQ(ReadFile(out2 + "/" + name), data) << name;

    // And the kit reads back what it wrote.
    auto back = OpenCab(cab_path);
    ASSERT_EQ(back->ItemCount(), 3);
    back->ExtractItemAt(1, "b.bin");
    EXPECT_EQ(ReadFile(dir_.File("out/b.bin")), files_[1].second);
  }
}

TEST_F(CabTest, SavingAgainAfterMoreFilesKeepsTheEarlierOnes) {
  const std::string path = dir_.File("twice.cab");
  {
    TAbCabArchive cab(path, 0xFFFF);
    cab.SetStoreOptions(TAbStoreOptions{soStripPath});
    cab.Load();
    cab.Add(cab.CreateItem(dir_.File("src/a.txt")));
    cab.Save();
    cab.Add(cab.CreateItem(dir_.File("src/b.bin")));
    cab.Save();
  }
  auto x = RunCommand({"cabextract", "-q", "-d", dir_.File("twice"), path});
  ASSERT_EQ(x.exit_code, 0) << x.output;
  EXPECT_EQ(ReadFile(dir_.File("twice/a.txt")), files_[0].second);
  EXPECT_EQ(ReadFile(dir_.File("twice/b.bin")), files_[1].second);
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
  // A set whose cabinet names run out (a threshold that lets one byte into each
  // cabinet) is refused before anything is written, rather than overwriting its own
  // cabinets; an add stopped from the progress handler adds nothing.
  {
    TAbCabArchive cab(dir_.File("tiny.cab"), 0xFFFF);
    cab.SetStoreOptions(TAbStoreOptions{soStripPath});
    cab.Load();
    cab.SetSpanningThreshold(1);
    cab.Add(cab.CreateItem(dir_.File("src/a.txt")));
    cab.OnArchiveItemProgress = [](TObject*, TAbArchiveItem*, uint8_t, bool& abort) { abort = true; };
    EXPECT_THROW(cab.Add(cab.CreateItem(dir_.File("src/b.bin"))), EAbFCIAddFileError);
    EXPECT_EQ(cab.ItemCount(), 1);
    EXPECT_THROW(cab.Save(), EAbCabException);
    EXPECT_EQ(RunCommand({"sh", "-c", "ls " + dir_.File("") + " | grep -v -x -e src -e fake.cab -e real.cab"}).output,
              "");
    cab.SetSpanningThreshold(0);
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
    std::vector<std::pair<TAbErrorClass, int32_t>> errors;
    damaged->OnProcessItemFailure = [&](TObject*, TAbArchiveItem* item, TAbProcessType t, TAbErrorClass c,
                                        int32_t code) {
      EXPECT_EQ(item, damaged->Items(1));
      errors.emplace_back(c, code);
      reports.push_back(t);
    };
    damaged->ExtractItemAt(1, "b.bin");
    EXPECT_EQ(reports, std::vector<TAbProcessType>{ptExtract});
    EXPECT_FALSE(FileExists(dir_.File("out/b.bin")));
    auto left = RunCommand({"ls", dir_.File("out")});
    EXPECT_EQ(left.output, "");
    // Testing and taking out into a stream read the blocks through as well: the sound
    // file passes whole, the damaged one fails and leaves nothing in the stream.
    EXPECT_NO_THROW(damaged->TestItemAt(0));
    EXPECT_THROW(damaged->TestItemAt(1), EAbFDICopyError);
    TMemoryStream sound, broken;
    damaged->ExtractToStream("a.txt", sound);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sound.Memory()), sound.Size()), files_[0].second);
    damaged->ExtractToStream("b.bin", broken);
    EXPECT_EQ(reports, (std::vector<TAbProcessType>{ptExtract, ptExtract}));
    // The stream's failure comes through the archive's own classification.
    EXPECT_EQ(errors, (std::vector<std::pair<TAbErrorClass, int32_t>>{{ecCabError, 0}, {ecArchiveKit, 61}}));
    EXPECT_EQ(broken.Size(), 0);
  }
  // An extraction refused by the overwrite question keeps the existing file.
  WriteFile(dir_.File("out/a.txt"), "older");
  cab->OnConfirmOverwrite = [](AnsiString&, bool& confirm) { confirm = false; };
  cab->ExtractItemAt(0, "a.txt");
  EXPECT_EQ(ReadFile(dir_.File("out/a.txt")), "older");
}

// A set split at the spanning threshold: no cabinet is larger than the threshold,
// cabextract tests and extracts the whole set from its first cabinet, and the kit
// lists each cabinet (files continuing from or into another marked partial) and
// extracts every file from each cabinet that lists it.
TEST_F(CabTest, SetSplitAtTheThresholdIsReadWhole) {
  std::string noise(120000, '\0');
  uint32_t x = 99;
  for (char& c : noise) c = static_cast<char>((x = x * 1103515245 + 12345) >> 23);
  WriteFile(dir_.File("src/noise.bin"), noise);
  files_.push_back({"noise.bin", noise});
  constexpr int32_t kThreshold = 40000;
  struct Case {
    TAbCabCompressionType type;
    bool request_names;  // the next cabinets named by the request-image handler
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      {ctNone,
       false,
       {"set.cab", "set.c01", "set.c02", "set.c03", "set.c04", "set.c05", "set.c06", "set.c07", "set.c08"}},
      {ctMSZIP, false, {"set.cab", "set.c01", "set.c02", "set.c03", "set.c04"}},
      {ctLZX,
       true,
       {"set.cab", "part1.cab", "part2.cab", "part3.cab", "part4.cab", "part5.cab", "part6.cab", "part7.cab",
        "part8.cab"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    const std::string set_dir = dir_.File("set" + std::to_string(static_cast<int>(c.type)));
    ForceDirectories(set_dir);
    {
      TAbCabArchive cab(set_dir + "/set.cab", 0xFFFF);
      cab.SetStoreOptions(TAbStoreOptions{soStripPath});
      cab.SetCompressionType(c.type);
      if (c.request_names)
        cab.OnRequestImage = [&](TObject*, int32_t n, AnsiString& name, bool&) {
          name = set_dir + "/part" + std::to_string(n) + ".cab";
        };
      cab.Load();
      cab.SetSpanningThreshold(kThreshold);
      for (const auto& f : files_) cab.Add(cab.CreateItem(dir_.File("src/" + f.first)));
      cab.Save();
    }
    // The set and nothing else (no work files), no cabinet larger than the threshold;
    // the order of the set is checked below through each cabinet's next name.
    std::set<std::string> on_disk;
    for (const auto& e : std::filesystem::directory_iterator(set_dir)) {
      on_disk.insert(e.path().filename().string());
      EXPECT_LE(e.file_size(), static_cast<uintmax_t>(kThreshold)) << e.path();
    }
    EXPECT_EQ(on_disk, std::set<std::string>(c.names.begin(), c.names.end()));

    const std::string first = set_dir + "/set.cab";
    auto tested = RunCommand({"cabextract", "-t", first});
    EXPECT_EQ(tested.exit_code, 0) << tested.output;
    const std::string tool_dir = set_dir + "-tool";
    auto x = RunCommand({"cabextract", "-q", "-d", tool_dir, first});
    ASSERT_EQ(x.exit_code, 0) << x.output;
    for (const auto& [name, data] : files_) EXPECT_EQ(ReadFile(tool_dir + "/" + name), data) << name;

    std::set<std::string> seen;
    for (size_t k = 0; k < c.names.size(); ++k) {
      SCOPED_TRACE(c.names[k]);
      auto cab = OpenCab(set_dir + "/" + c.names[k]);
      EXPECT_EQ(cab->CurrentCab(), static_cast<int32_t>(k));
      EXPECT_EQ(cab->HasPrev(), k > 0);
      EXPECT_EQ(cab->HasNext(), k + 1 < c.names.size());
      EXPECT_EQ(cab->NextCabinet(), k + 1 < c.names.size() ? c.names[k + 1] : "");
      for (int32_t i = 0; i < cab->ItemCount(); ++i) {
        const std::string name = cab->Items(i)->FileName();
        seen.insert(name);
        const std::string out = dir_.File("out/" + name);
        DeleteFile(out);
        cab->ExtractItemAt(i, name);
        const auto& src = std::find_if(files_.begin(), files_.end(), [&](const auto& f) { return f.first == name; });
        ASSERT_NE(src, files_.end()) << name;
        EXPECT_EQ(ReadFile(out), src->second) << name;
      }
      if (k == 0) {
        EXPECT_FALSE(cab->CabItems(0)->PartialFile());
      }
      // A cabinet in the middle of the set starts and ends inside a file.
      if (k > 0 && k + 1 < c.names.size()) {
        ASSERT_GT(cab->ItemCount(), 0);
        EXPECT_TRUE(cab->CabItems(0)->PartialFile());
        EXPECT_TRUE(cab->CabItems(cab->ItemCount() - 1)->PartialFile());
      }
    }
    EXPECT_EQ(seen.size(), files_.size());

    // Without its last cabinet, a file running into it is reported and not written.
    DeleteFile(set_dir + "/" + c.names.back());
    auto cut = OpenCab(set_dir + "/" + c.names[c.names.size() - 2]);
    std::vector<TAbErrorClass> failures;
    cut->OnProcessItemFailure = [&](TObject*, TAbArchiveItem*, TAbProcessType, TAbErrorClass e, int32_t) {
      failures.push_back(e);
    };
    const int32_t last = cut->ItemCount() - 1;
    DeleteFile(dir_.File("out/" + cut->Items(last)->FileName()));
    cut->ExtractItemAt(last, cut->Items(last)->FileName());
    EXPECT_EQ(failures, std::vector<TAbErrorClass>{ecCabError});
    EXPECT_FALSE(FileExists(dir_.File("out/" + cut->Items(last)->FileName())));
  }
}

TEST(CabinetLibrary, MissingLibraryRaisesNoCabinetDll) {
  TempDir dir("cab");
  WriteFile(dir.File("a.txt"), "abc");
  const bool have_tool = test::HaveProgram("gcab");
  if (have_tool) {
    ASSERT_EQ(RunCommand({"gcab", "-c", dir.File("a.cab"), dir.File("a.txt")}).exit_code, 0);
  }

  SetCabinetLibraryName("libmspack-missing.so.0");
  EXPECT_FALSE(CabinetLibraryAvailable());
  EXPECT_THROW(AbBindCabinetLibrary(), EAbNoCabinetDll);
  try {
    AbBindCabinetLibrary();
  } catch (const EAbNoCabinetDll& e) {
    EXPECT_EQ(e.Message(), "Cannot load cabinet.dll");
  }
  // Writing is the kit's own and goes on without the library.
  {
    TAbCabArchive writer(dir.File("new.cab"), 0xFFFF);
    writer.SetStoreOptions(TAbStoreOptions{soStripPath});
    writer.Load();
    writer.Add(writer.CreateItem(dir.File("a.txt")));
    writer.Save();
  }
  {
    TAbCabArchive reader(dir.File("new.cab"), fmOpenRead);
    EXPECT_THROW(reader.Load(), EAbNoCabinetDll);
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
