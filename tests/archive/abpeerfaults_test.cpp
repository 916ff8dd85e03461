// Archives from real peers (GNU tar, gzip, Info-ZIP, Python), damaged or hostile:
// every header of a tar is checked, a failed entry leaves nothing in the caller's
// stream, an entry cannot expand past the size it declares, and each failure says
// what is wrong (damaged archive, damaged data, unsupported feature, password).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/abgztyp.h"
#include "archive/abtartyp.h"
#include "archive/abzipkit.h"
#include "platform/streams.h"
#include "support/process.h"

namespace pelvar {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::RunShell;
using test::TempDir;
using test::WriteFile;

std::string Text(size_t n, int seed) {
  std::string s;
  for (size_t i = 0; s.size() < n; ++i) s += std::to_string((i * 7919 + static_cast<size_t>(seed)) % 100003) + " ";
  s.resize(n);
  return s;
}

void Shell(const std::string& line) {
  const auto r = RunShell(line);
  ASSERT_EQ(r.exit_code, 0) << line << "\n" << r.output;
}

struct Failure {
  AnsiString name;
  TAbErrorClass error_class;
  int32_t code;
  bool operator==(const Failure&) const = default;
};

// The kit as the wizard sets it up, recording the item failures.
struct Kit {
  TAbZipKit kit{nullptr};
  std::vector<Failure> failures;
  Kit() {
    kit.SetExtractOptions(TAbExtractOptions{});
    kit.OnProcessItemFailure = [this](TObject*, TAbArchiveItem* item, TAbProcessType, TAbErrorClass error_class,
                                      int32_t code) {
      failures.push_back({item ? item->FileName() : AnsiString("(none)"), error_class, code});
    };
  }
  // Extracts Name into a stream that holds "HEAD" already; gives what followed it.
  std::string Extract(const AnsiString& Name, bool* ok = nullptr) {
    TStringStream out("HEAD");
    out.Seek(0, TSeekOrigin::soEnd);
    const bool done = kit.ExtractToStream(Name, out);
    if (ok != nullptr) *ok = done;
    const std::string all = out.DataString();
    EXPECT_EQ(all.substr(0, 4), "HEAD");
    return all.size() > 4 ? all.substr(4) : std::string();
  }
};

int32_t LoadErrorCode(const std::string& path) {
  Kit k;
  try {
    k.kit.SetFileName(path);
  } catch (const EAbException& e) {
    return e.ErrorCode();
  }
  return -1;
}

// --- Tar ---

TEST(AbTarPeerFaults, EveryHeaderIsCheckedAndADamagedOneFailsTheArchive) {
  TempDir dir;
  WriteFile(dir.File("a.txt"), Text(700, 1));
  WriteFile(dir.File("big.bin"), Text(300000, 2));
  WriteFile(dir.File("c.txt"), Text(90, 3));
  Shell("cd " + dir.Path() + " && tar -cf good.tar a.txt big.bin c.txt");
  const std::string good = ReadFile(dir.File("good.tar"));
  {
    Kit k;
    k.kit.SetFileName(dir.File("good.tar"));
    ASSERT_EQ(k.kit.Archive()->ItemCount(), 3);
    EXPECT_EQ(k.Extract("big.bin"), Text(300000, 2));
  }
  // Headers: a.txt at 0, big.bin at 512 + 1024, c.txt after big.bin's 300,032 bytes.
  const size_t second = 1536;
  const size_t third = second + 512 + 300032;
  struct Case {
    const char* what;
    size_t offset;  // a byte flipped there, or the length the file is cut to
    bool cut;
  };
  for (const Case& c : {Case{"size of the second header", second + 124 + 5, false},
                        Case{"name of the third header", third + 1, false},
                        Case{"mode of the first header", 100 + 3, false},
                        Case{"cut inside big.bin", second + 512 + 1000, true}}) {
    SCOPED_TRACE(c.what);
    std::string bad = good;
    if (c.cut)
      bad.resize(c.offset);
    else
      bad[c.offset] ^= 0x04;
    const std::string path = dir.File("bad.tar");
    WriteFile(path, bad);
    // No items are made up from data: the load fails as a whole and names the damage.
    TAbTarArchive tar(path, fmOpenReadWrite);
    try {
      tar.Load();
      ADD_FAILURE() << "a damaged tar loaded with " << tar.ItemCount() << " items";
    } catch (const EAbDamagedArchive& e) {
      EXPECT_EQ(e.ErrorCode(), AbDamagedArchive);
      EXPECT_NE(e.Message().find("Damaged archive - the tar "), std::string::npos) << e.Message();
    }
    EXPECT_EQ(tar.ItemCount(), 0);
    EXPECT_EQ(tar.Status(), asInvalid);
    EXPECT_EQ(LoadErrorCode(path), AbDamagedArchive);
    EXPECT_EQ(ReadFile(path), bad);
  }
}

// --- Failed entries leave nothing behind, in all three formats ---

TEST(AbPeerFaults, AFailedEntryLeavesNothingInTheCallersStream) {
  TempDir dir;
  const std::string data = Text(200000, 4);
  WriteFile(dir.File("data.txt"), data);
  Shell("cd " + dir.Path() + " && gzip -c data.txt > data.txt.gz && tar -cf data.tar data.txt && zip -q data.zip data.txt");
  const std::string gz = ReadFile(dir.File("data.txt.gz"));
  const std::string zip = ReadFile(dir.File("data.zip"));
  struct Case {
    const char* what;
    std::string file;
    std::string content;
    AnsiString entry;
    Failure failure;
  };
  std::string gz_crc = gz;
  gz_crc[gz.size() - 8] ^= 0x01;
  std::string gz_data = gz;
  gz_data[gz.size() / 2] ^= 0x55;
  std::string zip_data = zip;
  zip_data[zip.find("data.txt") + 8 + 2000] ^= 0x55;
  const std::vector<Case> cases = {
      {"gzip tail CRC", "crc.gz", gz_crc, "data.txt", {"data.txt", ecArchiveKit, AbGzipBadCRC}},
      {"gzip data", "data.gz", gz_data, "data.txt", {"data.txt", ecArchiveKit, AbBadData}},
      {"zip data", "data.zip", zip_data, "data.txt", {"data.txt", ecArchiveKit, AbBadData}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir.File(c.file), c.content);
    Kit k;
    k.kit.SetFileName(dir.File(c.file));
    bool ok = true;
    EXPECT_EQ(k.Extract(c.entry, &ok), "");
    EXPECT_FALSE(ok);
    ASSERT_EQ(k.failures.size(), 1u);
    // A flipped byte in deflated data fails either in the decoder or at the CRC.
    if (c.failure.code == AbBadData && k.failures[0].code == AbZipBadCRC) continue;
    if (c.failure.code == AbBadData && k.failures[0].code == AbGzipBadCRC) continue;
    EXPECT_EQ(k.failures[0], c.failure);
  }
  // A tar whose file is cut short after it was opened: the copy fails halfway.
  Kit k;
  k.kit.SetFileName(dir.File("data.tar"));
  Shell("truncate -s 100000 " + dir.File("data.tar"));
  bool ok = true;
  EXPECT_EQ(k.Extract("data.txt", &ok), "");
  EXPECT_FALSE(ok);
  EXPECT_EQ(k.failures.size(), 1u);
}

// --- Zip ---

TEST(AbZipPeerFaults, AWrongPasswordWithoutAHandlerFailsTheEntryOnly) {
  TempDir dir;
  WriteFile(dir.File("secret.txt"), Text(5000, 5));
  WriteFile(dir.File("stored.txt"), Text(300, 6));
  WriteFile(dir.File("plain.txt"), "not secret");
  // The traditional encryption checks one byte: made again until the wrong password
  // fails that check for both entries (as Python's zipfile finds).
  const std::string check =
      "import zipfile\n"
      "z = zipfile.ZipFile('mix.zip')\n"
      "for n in ('secret.txt', 'stored.txt'):\n"
      "    try:\n"
      "        z.open(n, pwd=b'spatne').close()\n"
      "        raise SystemExit(1)\n"
      "    except RuntimeError:\n"
      "        pass\n";
  for (int attempt = 0;; ++attempt) {
    ASSERT_LT(attempt, 20);
    Shell("cd " + dir.Path() + " && rm -f mix.zip && zip -q -P heslo mix.zip secret.txt" +
          " && zip -q -0 -P heslo mix.zip stored.txt && zip -q mix.zip plain.txt");
    if (RunShell("cd " + dir.Path() + " && python3 -c \"" + check + "\"").exit_code == 0) break;
  }
  for (const char* password : {"spatne", ""}) {
    SCOPED_TRACE(password);
    Kit k;
    k.kit.SetPassword(password);
    k.kit.SetFileName(dir.File("mix.zip"));
    EXPECT_EQ(k.Extract("secret.txt"), "");
    EXPECT_EQ(k.Extract("stored.txt"), "");
    EXPECT_EQ(k.failures, (std::vector<Failure>{{"secret.txt", ecArchiveKit, AbInvalidPassword},
                                                {"stored.txt", ecArchiveKit, AbInvalidPassword}}));
    // The archive stays usable, for streams and for files.
    EXPECT_EQ(k.Extract("plain.txt"), "not secret");
    TAbArchive* a = k.kit.Archive();
    a->SetBaseDirectory(dir.Path());
    EXPECT_THROW(a->ExtractItemAt(a->FindFile("secret.txt"), "out.txt"), EAbZipInvalidPassword);
    EXPECT_EQ(a->Status(), asIdle);
    EXPECT_EQ(k.Extract("plain.txt"), "not secret");
  }
  // The right password still opens them.
  Kit k;
  k.kit.SetPassword("heslo");
  k.kit.SetFileName(dir.File("mix.zip"));
  EXPECT_EQ(k.Extract("secret.txt"), Text(5000, 5));
  EXPECT_EQ(k.Extract("stored.txt"), Text(300, 6));
  EXPECT_TRUE(k.failures.empty());
}

TEST(AbZipPeerFaults, AnEntryCannotExpandPastTheSizeItDeclares) {
  TempDir dir;
  const std::string path = dir.File("bomb.zip");
  // Python writes 4 MB of zeros (a few KB deflated); the headers then claim 10 bytes.
  Shell("python3 -c \"import zipfile; z = zipfile.ZipFile('" + path +
        "', 'w', zipfile.ZIP_DEFLATED); z.writestr('bomb.bin', bytes(4 << 20)); z.writestr('ok.txt', 'ok'); z.close()\"");
  std::string zip = ReadFile(path);
  auto put32 = [&zip](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) zip[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
  };
  put32(zip.find("PK\x03\x04") + 22, 10);
  put32(zip.find("PK\x01\x02") + 24, 10);
  WriteFile(path, zip);

  // Records the largest size the caller's stream ever reached.
  class Watched : public TMemoryStream {
   public:
    int64_t peak = 0;
    int32_t Write(const void* Buffer, int32_t Count) override {
      const int32_t n = TMemoryStream::Write(Buffer, Count);
      peak = std::max(peak, Size());
      return n;
    }
  };
  Kit k;
  k.kit.SetFileName(path);
  Watched out;
  EXPECT_FALSE(k.kit.ExtractToStream("bomb.bin", out));
  EXPECT_EQ(k.failures, (std::vector<Failure>{{"bomb.bin", ecArchiveKit, AbBadData}}));
  EXPECT_LE(out.peak, 10);
  EXPECT_EQ(out.Size(), 0);
  TAbArchive* a = k.kit.Archive();
  try {
    a->TestItemAt(a->FindFile("bomb.bin"));
    ADD_FAILURE() << "the test passed";
  } catch (const EAbBadData& e) {
    EXPECT_NE(e.Message().find("more than the 10 bytes"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(k.Extract("ok.txt"), "ok");
}

TEST(AbZipPeerFaults, StreamingWritersAreReadAndDamageIsNamed) {
  TempDir dir;
  const std::string data = Text(50000, 7);
  WriteFile(dir.File("data.txt"), data);
  // Info-ZIP reading standard input writes version 4.5 with Zip64 local fields; into
  // a pipe it adds data descriptors. Python into a pipe writes data descriptors too.
  Shell("cd " + dir.Path() + " && cat data.txt | zip -q - - > seek.zip && cat data.txt | zip -q - - | cat > pipe.zip");
  Shell("cd " + dir.Path() +
        " && python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED);"
        " z.writestr('data.txt', open('data.txt').read()); z.close()\" | cat > python.zip");
  for (const char* name : {"seek.zip", "pipe.zip", "python.zip"}) {
    SCOPED_TRACE(name);
    Kit k;
    k.kit.SetFileName(dir.File(name));
    TAbArchive* a = k.kit.Archive();
    ASSERT_EQ(a->ItemCount(), 1);
    const AnsiString entry = a->Items(0)->FileName();
    EXPECT_EQ(k.Extract(entry), data);
    EXPECT_NO_THROW(a->TestItemAt(0));
    EXPECT_TRUE(k.failures.empty());
  }

  // Cut short anywhere (the end record lost), or with its directory misplaced: a
  // damaged zip, not an unknown type.
  WriteFile(dir.File("other.txt"), Text(3000, 8));
  Shell("cd " + dir.Path() + " && zip -q two.zip data.txt other.txt");
  const std::string two = ReadFile(dir.File("two.zip"));
  std::string misplaced = two;
  const size_t end = two.rfind("PK\x05\x06");
  misplaced[end + 16] = static_cast<char>(0xF0);
  for (const std::string& bad : {two.substr(0, 100), two.substr(0, two.size() / 2), two.substr(0, two.size() - 10),
                                 two.substr(0, end + 10), misplaced}) {
    SCOPED_TRACE(bad.size());
    WriteFile(dir.File("bad.zip"), bad);
    EXPECT_EQ(LoadErrorCode(dir.File("bad.zip")), AbDamagedArchive);
    EXPECT_EQ(ReadFile(dir.File("bad.zip")), bad);
  }

  // A feature the kit does not read is named: strong encryption, bzip2.
  std::string strong = two;
  strong[strong.find("PK\x01\x02") + 8] |= 0x41;
  strong[strong.find("PK\x03\x04") + 6] |= 0x41;
  std::string bzip2 = two;
  const size_t central = bzip2.find("PK\x01\x02");
  bzip2[central + 6] = 46;
  bzip2[central + 10] = 12;
  struct Case {
    std::string content;
    const char* named;
  };
  for (const Case& c : {Case{strong, "strong encryption"}, Case{bzip2, "BZIP2"}}) {
    SCOPED_TRACE(c.named);
    WriteFile(dir.File("feature.zip"), c.content);
    Kit k;
    k.kit.SetFileName(dir.File("feature.zip"));
    EXPECT_EQ(k.Extract("data.txt"), "");
    EXPECT_EQ(k.failures, (std::vector<Failure>{{"data.txt", ecArchiveKit, AbUnsupportedFeature}}));
    try {
      k.kit.Archive()->TestItemAt(0);
      ADD_FAILURE() << "the test passed";
    } catch (const EAbUnsupportedFeature& e) {
      EXPECT_NE(e.Message().find(c.named), std::string::npos) << e.Message();
    }
    EXPECT_EQ(k.Extract("other.txt"), Text(3000, 8));
  }

  // Damaged deflate data reaches the failure event as damaged data, not as "other".
  std::string broken = two;
  const size_t lfh = broken.find("PK\x03\x04");
  const size_t extra = static_cast<uint8_t>(broken[lfh + 28]) | (static_cast<uint8_t>(broken[lfh + 29]) << 8);
  broken[lfh + 30 + 8 + extra] = static_cast<char>(0x07);  // the first block: final, type 3 (invalid)
  WriteFile(dir.File("broken.zip"), broken);
  Kit k;
  k.kit.SetFileName(dir.File("broken.zip"));
  EXPECT_EQ(k.Extract("data.txt"), "");
  EXPECT_EQ(k.failures, (std::vector<Failure>{{"data.txt", ecArchiveKit, AbBadData}}));
}

}  // namespace
}  // namespace pelvar
