// The zip kit component as the wizard drives it: writing a station archive (checked
// by unzip and Python's zipfile) and reading archives made by zip and by Python,
// with the failure reports the wizard relies on.
#include "archive/abzipkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/streams.h"
#include "platform/sysutils.h"
#include "support/process.h"

namespace pelvar {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

std::string BackupLike(size_t n) {
  std::string s;
  uint32_t x = 12345;
  for (size_t i = 0; s.size() < n; ++i) {
    s += "RADA " + std::to_string(i) + " pacient očkování ";
    x = x * 1103515245 + 12345;
    s.append(1 + (x >> 28), static_cast<char>(x >> 16));
  }
  s.resize(n);
  return s;
}

struct Failure {
  TAbArchiveItem* item;
  TAbProcessType type;
  TAbErrorClass error_class;
  int32_t code;
};

// The kit as the main form configures it, with the two handlers recording.
struct Kit {
  TAbZipKit kit{nullptr};
  std::vector<Failure> failures;
  std::map<std::string, int> last_progress;

  Kit() {
    kit.SetAutoSave(false);
    kit.SetDeflationOption(doMaximum);
    kit.SetDOSMode(false);
    kit.SetExtractOptions(TAbExtractOptions{});
    kit.SetStoreOptions(TAbStoreOptions{soStripDrive, soStripPath, soRemoveDots});
    kit.OnArchiveItemProgress = [this](TObject* sender, TAbArchiveItem* item, uint8_t progress, bool&) {
      EXPECT_EQ(sender, &kit);
      int& last = last_progress[item->FileName()];
      EXPECT_GE(static_cast<int>(progress), last) << "progress went back for " << item->FileName();
      last = progress;
    };
    kit.OnProcessItemFailure = [this](TObject* sender, TAbArchiveItem* item, TAbProcessType type,
                                      TAbErrorClass error_class, int32_t code) {
      EXPECT_EQ(sender, &kit);
      failures.push_back({item, type, error_class, code});
    };
  }
};

class ZipKitTest : public ::testing::Test {
 protected:
  TempDir dir_{"zipkit"};
  std::string ident_ = "Počítač 2 - ordinace\r\n";
  std::string backup_ = BackupLike(300000);

  void MakeInputs() {
    WriteFile(dir_.File("Identifikace.txt"), ident_);
    WriteFile(dir_.File("Pelvar.cb0"), backup_);
  }
};

TEST_F(ZipKitTest, WizardWriteSequenceMakesAStationArchiveThatPeersRead) {
  MakeInputs();
  const std::string zip = dir_.File("Stanice.ZIP");
  Kit k;
  k.kit.SetFileName(zip);
  // Setting the name creates the file at once.
  EXPECT_TRUE(FileExists(zip));
  k.kit.AddFiles(dir_.File("Identifikace.txt"), 63);
  k.kit.AddFiles(dir_.File("Pelvar.cb0"), 63);
  k.kit.CloseArchive();
  EXPECT_EQ(k.kit.Archive(), nullptr);
  EXPECT_TRUE(k.failures.empty());
  EXPECT_EQ(k.last_progress["Identifikace.txt"], 100);
  EXPECT_EQ(k.last_progress["Pelvar.cb0"], 100);

  auto list = RunCommand({"unzip", "-Z1", zip});
  ASSERT_EQ(list.exit_code, 0) << list.output;
  EXPECT_EQ(list.output, "Identifikace.txt\nPelvar.cb0\n");
  auto listing = RunCommand({"unzip", "-l", zip});
  EXPECT_EQ(listing.exit_code, 0) << listing.output;
  auto t = RunCommand({"unzip", "-t", zip});
  EXPECT_EQ(t.exit_code, 0) << t.output;

  const std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "assert z.testzip() is None\n"
      "for n in ('Identifikace.txt', 'Pelvar.cb0'):\n"
      "    open(sys.argv[2] + '/' + n + '.py', 'wb').write(z.read(n))\n"
      "print(' '.join(str(i.compress_type) for i in z.infolist()))\n";
  auto py = RunCommand({"python3", "-c", script, zip, dir_.Path()});
  ASSERT_EQ(py.exit_code, 0) << py.output;
  EXPECT_EQ(ReadFile(dir_.File("Identifikace.txt.py")), ident_);
  EXPECT_EQ(ReadFile(dir_.File("Pelvar.cb0.py")), backup_);
  // The backup compresses, so it is deflated.
  EXPECT_NE(py.output.find("8"), std::string::npos) << py.output;
}

TEST_F(ZipKitTest, WizardReadSequenceIsByteExactOnArchivesOfEveryPeer) {
  MakeInputs();
  const std::string by_zip = dir_.File("zipped.zip");
  auto z = RunCommand({"zip", "-9", "-j", by_zip, dir_.File("Identifikace.txt"), dir_.File("Pelvar.cb0")});
  ASSERT_EQ(z.exit_code, 0) << z.output;
  const std::string by_python = dir_.File("python.zip");
  auto py = RunCommand({"python3", "-c",
                        "import sys, zipfile\n"
                        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                        "    z.write(sys.argv[2], 'Identifikace.txt')\n"
                        "    z.write(sys.argv[3], 'Pelvar.cb0')\n",
                        by_python, dir_.File("Identifikace.txt"), dir_.File("Pelvar.cb0")});
  ASSERT_EQ(py.exit_code, 0) << py.output;

  for (const std::string& archive : {by_zip, by_python}) {
    SCOPED_TRACE(archive);
    Kit k;
    k.kit.SetFileName(archive);
    ASSERT_NE(k.kit.Archive(), nullptr);
    EXPECT_EQ(k.kit.ArchiveType(), atZip);

    TMemoryStream ident;
    EXPECT_TRUE(k.kit.ExtractToStream("Identifikace.txt", ident));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ident.Memory()), static_cast<size_t>(ident.Size())), ident_);

    const std::string target = dir_.File("out.fbk");
    {
      TFileStream out(target, fmCreate);
      EXPECT_TRUE(k.kit.ExtractToStream("Pelvar.cb0", out));
    }
    EXPECT_EQ(ReadFile(target), backup_);
    EXPECT_EQ(k.last_progress["Pelvar.cb0"], 100);

    // A name that is not there: the stream keeps what it had, and the call says so.
    TMemoryStream keep;
    keep.Write("keep", 4);
    EXPECT_FALSE(k.kit.ExtractToStream("Chybi.txt", keep));
    EXPECT_EQ(keep.Size(), 4);
    EXPECT_EQ(keep.Position(), 4);
    ASSERT_EQ(k.failures.size(), 1u);
    EXPECT_EQ(k.failures[0].item, nullptr);
    EXPECT_EQ(k.failures[0].type, ptExtract);
    EXPECT_EQ(k.failures[0].code, EAbFileNotFound::kCode);

    k.kit.CloseArchive();
    // Reading writes nothing back.
    EXPECT_EQ(RunCommand({"unzip", "-tq", archive}).exit_code, 0);
  }
}

TEST_F(ZipKitTest, DamagedEntryGivesExactlyOneFailureReportAndNoData) {
  MakeInputs();
  const std::string zip = dir_.File("damaged.zip");
  ASSERT_EQ(RunCommand({"zip", "-9", "-j", zip, dir_.File("Identifikace.txt"), dir_.File("Pelvar.cb0")}).exit_code,
            0);
  // Flip bytes in the middle of the backup's compressed data.
  auto off = RunCommand({"python3", "-c",
                         "import sys, zipfile, struct\n"
                         "z = zipfile.ZipFile(sys.argv[1]); i = z.getinfo('Pelvar.cb0')\n"
                         "d = open(sys.argv[1], 'rb').read()\n"
                         "n, e = struct.unpack('<HH', d[i.header_offset + 26:i.header_offset + 30])\n"
                         "print(i.header_offset + 30 + n + e + i.compress_size // 2)\n",
                         zip});
  ASSERT_EQ(off.exit_code, 0) << off.output;
  std::string bytes = ReadFile(zip);
  const size_t at = std::stoul(off.output);
  for (size_t i = 0; i < 64; ++i) bytes[at + i] = static_cast<char>(~bytes[at + i]);
  WriteFile(zip, bytes);

  Kit k;
  k.kit.SetFileName(zip);
  TMemoryStream ident;
  EXPECT_TRUE(k.kit.ExtractToStream("Identifikace.txt", ident));
  EXPECT_TRUE(k.failures.empty());
  TMemoryStream out;
  EXPECT_FALSE(k.kit.ExtractToStream("Pelvar.cb0", out));
  ASSERT_EQ(k.failures.size(), 1u);
  EXPECT_EQ(k.failures[0].type, ptExtract);
  ASSERT_NE(k.failures[0].item, nullptr);
  EXPECT_EQ(k.failures[0].item->FileName(), "Pelvar.cb0");
  EXPECT_EQ(out.Size(), 0);
  k.kit.CloseArchive();
  EXPECT_EQ(ReadFile(zip), bytes);
}

TEST_F(ZipKitTest, UnknownTypesAreRefusedWithNoArchiveOpen) {
  WriteFile(dir_.File("data.dat"), "some bytes");
  WriteFile(dir_.File("fake.zip"), "not a zip at all, just text");
  for (const std::string& name : {dir_.File("new.rar"), dir_.File("data.dat"), dir_.File("fake.zip")}) {
    SCOPED_TRACE(name);
    Kit k;
    EXPECT_THROW(k.kit.SetFileName(name), EAbUnhandledType);
    EXPECT_EQ(k.kit.Archive(), nullptr);
    EXPECT_FALSE(FileExists(dir_.File("new.rar")));
    TMemoryStream s;
    EXPECT_THROW(k.kit.ExtractToStream("x", s), EAbNoArchive);
    EXPECT_THROW(k.kit.AddFiles(name, 63), EAbNoArchive);
  }
}

TEST_F(ZipKitTest, NewArchiveClosedEmptyIsAValidEmptyZip) {
  const std::string zip = dir_.File("empty.ZIP");
  Kit k;
  int changes = 0;
  k.kit.OnChange = [&](TObject*) { ++changes; };
  k.kit.SetFileName(zip);
  k.kit.CloseArchive();
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(ReadFile(zip).size(), 22u);
  auto py = RunCommand({"python3", "-c", "import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).infolist()))", zip});
  EXPECT_EQ(py.output, "0\n");
}

TEST_F(ZipKitTest, ReopeningTheSameArchiveLoadsItAnewAndKeepsAddedEntries) {
  MakeInputs();
  const std::string zip = dir_.File("again.zip");
  Kit k;
  k.kit.SetFileName(zip);
  k.kit.AddFiles(dir_.File("Identifikace.txt"), 63);
  // Setting the same name saves and reopens.
  k.kit.SetFileName(zip);
  ASSERT_NE(k.kit.Archive(), nullptr);
  EXPECT_EQ(k.kit.Count(), 1);
  k.kit.AddFiles(dir_.File("Pelvar.cb0"), 63);
  // A second add of a stored name is an item failure, not an exception.
  k.kit.AddFiles(dir_.File("Pelvar.cb0"), 63);
  ASSERT_EQ(k.failures.size(), 1u);
  EXPECT_EQ(k.failures[0].type, ptAdd);
  k.kit.CloseArchive();
  EXPECT_EQ(RunCommand({"unzip", "-Z1", zip}).output, "Identifikace.txt\nPelvar.cb0\n");
  EXPECT_EQ(RunCommand({"unzip", "-tq", zip}).exit_code, 0);
}

TEST_F(ZipKitTest, FailedSaveIsRaisedByCloseAndLeavesNoArchiveBehind) {
  MakeInputs();
  const std::string zip = dir_.File("failing.zip");
  Kit k;
  k.kit.SetFileName(zip);
  k.kit.AddFiles(dir_.File("Pelvar.cb0"), 63);
  ASSERT_EQ(std::remove(dir_.File("Pelvar.cb0").c_str()), 0);
  EXPECT_ANY_THROW(k.kit.CloseArchive());
  // The failed archive is gone: the next archive opens without saving it again.
  EXPECT_EQ(k.kit.Archive(), nullptr);
  const std::string next = dir_.File("next.zip");
  k.kit.SetFileName(next);
  k.kit.AddFiles(dir_.File("Identifikace.txt"), 63);
  EXPECT_NO_THROW(k.kit.CloseArchive());
  EXPECT_EQ(RunCommand({"unzip", "-Z1", next}).output, "Identifikace.txt\n");
}

TEST_F(ZipKitTest, ArchiveWhoseLoadFailedStaysInvalid) {
  // An end record that points at a central directory that is not there.
  std::string bytes(100, 'x');
  const unsigned char end[22] = {0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0, 1, 0, 1, 0, 46, 0, 0, 0, 10, 0, 0, 0, 0, 0};
  bytes.append(reinterpret_cast<const char*>(end), sizeof end);
  const std::string zip = dir_.File("broken.zip");
  WriteFile(zip, bytes);
  Kit k;
  EXPECT_ANY_THROW(k.kit.SetFileName(zip));
  ASSERT_NE(k.kit.Archive(), nullptr);
  EXPECT_EQ(k.kit.Archive()->Status(), asInvalid);
  TMemoryStream s;
  EXPECT_THROW(k.kit.ExtractToStream("a", s), EAbNoArchive);
  EXPECT_NO_THROW(k.kit.CloseArchive());
  EXPECT_EQ(ReadFile(zip), bytes);
}

TEST_F(ZipKitTest, SettingsReachTheOpenArchive) {
  MakeInputs();
  Kit k;
  k.kit.SetFileName(dir_.File("s.zip"));
  auto* zip = dynamic_cast<TAbZipArchive*>(k.kit.Archive());
  ASSERT_NE(zip, nullptr);
  EXPECT_EQ(zip->DeflationOption(), doMaximum);
  EXPECT_TRUE(zip->StoreOptions().Contains(soStripPath));
  k.kit.SetBaseDirectory(dir_.Path() + "/");
  EXPECT_EQ(k.kit.BaseDirectory(), dir_.Path());
  EXPECT_THROW(k.kit.SetBaseDirectory(dir_.File("missing")), EAbNoSuchDirectory);
  k.kit.SetLogFile(dir_.File("zip.log"));
  EXPECT_TRUE(k.kit.Logging());
  EXPECT_TRUE(zip->Logging());
  k.kit.SetLogFile("");
  EXPECT_FALSE(k.kit.Logging());
  k.kit.SetPassword("tajne");
  EXPECT_EQ(zip->Password(), "tajne");
  k.kit.SetPassword("");
  k.kit.CloseArchive();
}

TEST_F(ZipKitTest, TarAndGzipArchivesOpenThroughTheSameCalls) {
  MakeInputs();
  ASSERT_EQ(RunCommand({"tar", "-cf", dir_.File("st.tar"), "-C", dir_.Path(), "Identifikace.txt", "Pelvar.cb0"})
                .exit_code,
            0);
  ASSERT_EQ(RunCommand({"sh", "-c", "gzip -c " + dir_.File("Pelvar.cb0") + " > " + dir_.File("Pelvar.cb0.gz")})
                .exit_code,
            0);
  struct Case {
    std::string file;
    uint8_t type;
    std::string entry;
  };
  for (const Case& c : std::vector<Case>{{"st.tar", atTar, "Pelvar.cb0"}, {"Pelvar.cb0.gz", atGzip, "Pelvar.cb0"}}) {
    SCOPED_TRACE(c.file);
    Kit k;
    k.kit.SetFileName(dir_.File(c.file));
    EXPECT_EQ(k.kit.ArchiveType(), c.type);
    TMemoryStream out;
    EXPECT_TRUE(k.kit.ExtractToStream(c.entry, out));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size())), backup_);
    EXPECT_TRUE(k.failures.empty());
    k.kit.CloseArchive();
  }
  // A new tar written through the kit.
  Kit k;
  k.kit.SetFileName(dir_.File("new.tar"));
  k.kit.AddFiles(dir_.File("Identifikace.txt"), 63);
  k.kit.AddFiles(dir_.File("Pelvar.cb0"), 63);
  k.kit.CloseArchive();
  auto list = RunCommand({"tar", "-tf", dir_.File("new.tar")});
  EXPECT_EQ(list.exit_code, 0) << list.output;
  // The kit ends a tar with one zero block; GNU tar mentions that.
  EXPECT_EQ(list.output.substr(0, list.output.find("tar: A lone zero block")), "Identifikace.txt\nPelvar.cb0\n");
}

TEST(AbArchiveTypeOf, ByExtensionWhenMissingAndByContentWhenPresent) {
  TempDir dir("zipkit");
  struct Case {
    std::string name;
    uint8_t type;
  };
  for (const Case& c : std::vector<Case>{{"a.zip", atZip},
                                          {"a.TAR", atTar},
                                          {"a.gz", atGzip},
                                          {"a.tgz", atGzippedTar},
                                          {"a.cab", atCab},
                                          {"a.exe", atUnknown},
                                          {"a.txt", atUnknown}}) {
    EXPECT_EQ(AbArchiveTypeOf(dir.File(c.name), atUnknown), c.type) << c.name;
  }
  EXPECT_EQ(AbArchiveTypeOf(dir.File("missing.bin"), atTar), atTar);

  WriteFile(dir.File("x.txt"), "hello hello hello");
  ASSERT_EQ(RunCommand({"zip", "-q", "-j", dir.File("real.zip"), dir.File("x.txt")}).exit_code, 0);
  ASSERT_EQ(RunCommand({"sh", "-c", "gzip -c " + dir.File("x.txt") + " > " + dir.File("real.gz")}).exit_code, 0);
  ASSERT_EQ(RunCommand({"tar", "-cf", dir.File("real.tar"), "-C", dir.Path(), "x.txt"}).exit_code, 0);
  EXPECT_EQ(AbArchiveTypeOf(dir.File("real.zip"), atUnknown), atZip);
  EXPECT_EQ(AbArchiveTypeOf(dir.File("real.gz"), atUnknown), atGzip);
  EXPECT_EQ(AbArchiveTypeOf(dir.File("real.tar"), atUnknown), atTar);
  // A given type is checked against the content.
  EXPECT_EQ(AbArchiveTypeOf(dir.File("real.gz"), atZip), atUnknown);
  EXPECT_EQ(AbArchiveTypeOf(dir.File("real.zip"), atSpannedZip), atUnknown);
}

}  // namespace
}  // namespace pelvar
