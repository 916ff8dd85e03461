// Zip item processing against real peers: archives the kit writes pass unzip and
// Python's zipfile and carry the header values of their method; archives of zip and
// Python (stored, deflated, encrypted, with differing local and central extra
// fields) extract byte-exactly; wrong passwords, damaged data and aborts end in one
// clear failure and never in a partial output file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/abdfcrys.h"
#include "archive/abunzprc.h"
#include "archive/abzipprc.h"
#include "platform/codepage.h"
#include "support/process.h"

namespace pelvar {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

constexpr uint16_t kOpenRead = fmOpenRead | fmShareDenyNone;
constexpr uint16_t kCreate = 0xFFFF;

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// Byte equality that reports the first difference instead of both contents.
::testing::AssertionResult SameBytes(const std::string& Actual, const std::string& Expected) {
  if (Actual == Expected) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < Actual.size() && at < Expected.size() && Actual[at] == Expected[at]) ++at;
  return ::testing::AssertionFailure() << "sizes " << Actual.size() << " and " << Expected.size()
                                       << ", first difference at " << at;
}

void InstallHandlers(TAbZipArchive& Archive) {
  Archive.InsertHelper = AbZipFromFile;
  Archive.InsertFromStreamHelper = AbZipFromStream;
  Archive.ExtractHelper = AbUnzipToFile;
  Archive.ExtractToStreamHelper = AbUnzipToStream;
  Archive.TestHelper = AbTestZipItem;
}

std::unique_ptr<TAbZipArchive> OpenZip(const std::string& path) {
  auto zip = std::make_unique<TAbZipArchive>(path, kOpenRead);
  InstallHandlers(*zip);
  zip->Load();
  return zip;
}

// Text that deflates well.
std::string Text(size_t n) {
  std::string s;
  for (int i = 0; s.size() < n; ++i) s += "Radek " + std::to_string(i) + ": pacient, vyšetření, očkování.\n";
  s.resize(n);
  return s;
}

// Binary data that deflates partly: runs, counters and noise.
std::string Binary(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    s[i] = static_cast<char>((i / 512) % 3 == 0 ? (x >> 24) : (i % 251));
  }
  return s;
}

// Extracts every entry with Python, "name=<hex md5>" lines, or the error.
std::string PythonDigest(const std::string& path, const std::string& pwd = {}) {
  const char* script =
      "import sys, zipfile, hashlib\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "pwd = sys.argv[2].encode() if sys.argv[2] else None\n"
      "for n in sorted(z.namelist()): print(n + '=' + hashlib.md5(z.read(n, pwd=pwd)).hexdigest())\n";
  const auto r = RunCommand({"python3", "-c", script, path, pwd});
  return r.exit_code == 0 ? r.output : "FAILED: " + r.output;
}

std::string LocalDigest(const std::vector<std::pair<std::string, std::string>>& files) {
  std::string script = "import sys, hashlib\nfor n, p in zip(sys.argv[1::2], sys.argv[2::2]):\n"
                       "  print(n + '=' + hashlib.md5(open(p, 'rb').read()).hexdigest())\n";
  std::vector<std::string> argv = {"python3", "-c", script};
  for (const auto& [name, path] : files) {
    argv.push_back(name);
    argv.push_back(path);
  }
  return RunCommand(argv).output;
}

std::string ExtractWithKit(TAbZipArchive& Zip, const AnsiString& Name) {
  TMemoryStream out;
  Zip.ExtractToStream(Name, out);
  return std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size()));
}

// --- The kit writes ---

TEST(AbZipPrc, BestMethodAtMaximumPassesPeersWithThePartsHeaderValues) {
  TempDir dir("abzipprc");
  const std::string text = Text(40000);
  const std::string ten = "0123456789";
  const std::string big = Binary(5 * 1024 * 1024, 7);
  WriteFile(dir.File("text.txt"), text);
  WriteFile(dir.File("ten.bin"), ten);
  WriteFile(dir.File("empty.dat"), "");
  WriteFile(dir.File("big.bin"), big);
  const std::string path = dir.File("out.zip");
  {
    TAbZipArchive zip(path, kCreate);
    InstallHandlers(zip);
    zip.SetDeflationOption(doMaximum);
    zip.SetStoreOptions(zip.StoreOptions().Include(soStripPath));
    std::vector<int> progress;
    zip.OnArchiveItemProgress = [&](TObject*, TAbArchiveItem*, uint8_t p, bool&) { progress.push_back(p); };
    for (const char* name : {"text.txt", "ten.bin", "empty.dat", "big.bin"}) zip.AddFiles(dir.File(name), 0);
    zip.Save();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
  }
  EXPECT_EQ(RunCommand({"unzip", "-t", path}).exit_code, 0) << RunCommand({"unzip", "-t", path}).output;
  const auto py = RunCommand({"python3", "-m", "zipfile", "-t", path});
  EXPECT_EQ(py.exit_code, 0) << py.output;

  const std::string expected = LocalDigest({{"big.bin", dir.File("big.bin")},
                                            {"empty.dat", dir.File("empty.dat")},
                                            {"ten.bin", dir.File("ten.bin")},
                                            {"text.txt", dir.File("text.txt")}});
  EXPECT_EQ(PythonDigest(path), expected);
  ASSERT_EQ(RunCommand({"unzip", "-q", "-d", dir.File("u"), path}).exit_code, 0);
  EXPECT_EQ(LocalDigest({{"big.bin", dir.File("u/big.bin")},
                         {"empty.dat", dir.File("u/empty.dat")},
                         {"ten.bin", dir.File("u/ten.bin")},
                         {"text.txt", dir.File("u/text.txt")}}),
            expected);

  auto zip = OpenZip(path);
  ASSERT_EQ(zip->ItemCount(), 4);
  struct Expect {
    const char* name;
    uint16_t method, needed, flag;
  };
  for (const Expect& e : {Expect{"text.txt", 8, 20, 2}, Expect{"ten.bin", 0, 10, 2}, Expect{"empty.dat", 0, 10, 0},
                          Expect{"big.bin", 8, 20, 2}}) {
    SCOPED_TRACE(e.name);
    TAbZipItem* item = zip->ZipItems(zip->FindFile(e.name));
    EXPECT_EQ(item->CompressionMethod(), e.method);
    EXPECT_EQ(item->VersionNeededToExtract(), e.needed);
    EXPECT_EQ(item->GeneralPurposeBitFlag(), e.flag);
    EXPECT_EQ(item->VersionMadeBy(), 20);
    EXPECT_TRUE(item->ExtraField().empty());
    EXPECT_NO_THROW(zip->TestItemAt(zip->FindFile(e.name)));
  }
  TAbZipItem* empty = zip->ZipItems(zip->FindFile("empty.dat"));
  EXPECT_EQ(empty->CRC32(), 0u);
  EXPECT_EQ(empty->CompressedSize32(), 0u);
  EXPECT_EQ(zip->ZipItems(zip->FindFile("ten.bin"))->CompressedSize32(), 10u);
  EXPECT_LT(zip->ZipItems(zip->FindFile("text.txt"))->CompressedSize32(), text.size() / 4);
  EXPECT_TRUE(SameBytes(ExtractWithKit(*zip, "text.txt"), text));
  EXPECT_EQ(ExtractWithKit(*zip, "ten.bin"), ten);
  EXPECT_TRUE(SameBytes(ExtractWithKit(*zip, "big.bin"), big));
}

TEST(AbZipPrc, EveryMethodAndDeflationOptionRoundTripsThroughPeers) {
  TempDir dir("abzipprc");
  const std::string data = Text(20000) + Binary(30000, 3);
  struct Case {
    TAbZipSupportedMethod method;
    TAbZipDeflationOption option;
    uint16_t stored_method, flag;
  };
  const std::vector<Case> cases = {{smStored, doNormal, 0, 0},     {smDeflated, doNormal, 8, 0},
                                   {smDeflated, doMaximum, 8, 2},  {smDeflated, doFast, 8, 4},
                                   {smDeflated, doSuperFast, 8, 6}, {smBestMethod, doNormal, 8, 0}};
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    const std::string path = dir.File("m" + std::to_string(i) + ".zip");
    {
      TAbZipArchive zip(path, kCreate);
      InstallHandlers(zip);
      zip.SetCompressionMethodToUse(c.method);
      zip.SetDeflationOption(c.option);
      TMemoryStream in;
      in.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));  // left at its end
      zip.SetInStream(&in);
      auto item = zip.CreateItem("data.bin");
      item->SetAction(aaStreamAdd);
      zip.ItemList().Add(std::move(item));
      zip.SetIsDirty(true);
      zip.Save();
    }
    EXPECT_EQ(RunCommand({"unzip", "-t", path}).exit_code, 0);
    EXPECT_TRUE(SameBytes(RunCommand({"unzip", "-p", path, "data.bin"}).output, data));
    auto zip = OpenZip(path);
    EXPECT_EQ(zip->ZipItems(0)->CompressionMethod(), c.stored_method);
    EXPECT_EQ(zip->ZipItems(0)->GeneralPurposeBitFlag(), c.flag);
    EXPECT_TRUE(SameBytes(ExtractWithKit(*zip, "data.bin"), data));
  }
}

// --- Peers write ---

TEST(AbZipPrc, PeerArchivesExtractAndTestByteExactly) {
  TempDir dir("abzipprc");
  ASSERT_EQ(RunCommand({"mkdir", dir.File("src")}).exit_code, 0);
  const std::string text = Text(70000);
  const std::string bin = Binary(200000, 11);
  WriteFile(dir.File("src/a.txt"), text);
  WriteFile(dir.File("src/b.bin"), bin);
  WriteFile(dir.File("src/c.dat"), "");
  const std::string src = dir.File("src");
  struct Peer {
    std::string name;
    std::string command;
  };
  const char* py =
      "import zipfile, sys\n"
      "m = zipfile.ZIP_DEFLATED if sys.argv[2] == 'd' else zipfile.ZIP_STORED\n"
      "with zipfile.ZipFile(sys.argv[1], 'w', m) as z:\n"
      "  for n in ('a.txt', 'b.bin', 'c.dat'): z.write(n)\n";
  WriteFile(dir.File("mk.py"), py);
  const std::vector<Peer> peers = {
      {"zip -9", "zip -q -9 ../p.zip a.txt b.bin c.dat"},
      {"zip -9 -X", "zip -q -9 -X ../p.zip a.txt b.bin c.dat"},
      {"zip -0", "zip -q -0 ../p.zip a.txt b.bin c.dat"},
      {"python deflated", "python3 ../mk.py ../p.zip d"},
      {"python stored", "python3 ../mk.py ../p.zip s"},
      // Written to a pipe: data descriptors, zeros in the local CRC and sizes.
      {"zip to a pipe", "zip -q -9 - a.txt b.bin c.dat | cat > ../p.zip"},
  };
  for (const Peer& peer : peers) {
    SCOPED_TRACE(peer.name);
    ::unlink(dir.File("p.zip").c_str());
    ASSERT_EQ(RunCommand({"sh", "-c", "cd " + src + " && " + peer.command}).exit_code, 0);
    auto zip = OpenZip(dir.File("p.zip"));
    int failures = 0;
    zip->OnProcessItemFailure = [&](TObject*, TAbArchiveItem*, TAbProcessType, TAbErrorClass, int32_t) { ++failures; };
    ASSERT_EQ(zip->ItemCount(), 3);
    for (int32_t i = 0; i < zip->ItemCount(); ++i) {
      SCOPED_TRACE(zip->Items(i)->FileName());
      EXPECT_NO_THROW(zip->TestItemAt(i));
    }
    EXPECT_TRUE(SameBytes(ExtractWithKit(*zip, "a.txt"), text));
    EXPECT_TRUE(SameBytes(ExtractWithKit(*zip, "b.bin"), bin));
    EXPECT_EQ(ExtractWithKit(*zip, "c.dat"), "");
    EXPECT_EQ(failures, 0);
    zip->SetBaseDirectory(dir.Path());
    ::unlink(dir.File("b.bin").c_str());
    zip->ExtractItemAt(zip->FindFile("b.bin"), "b.bin");
    EXPECT_TRUE(SameBytes(ReadFile(dir.File("b.bin")), bin));
  }
}

TEST(AbZipPrc, Utf8NamesFromPythonExtractUnderTheirCzechName) {
  TempDir dir("abzipprc");
  const std::string path = dir.File("cz.zip");
  ASSERT_EQ(RunCommand({"python3", "-c",
                        "import zipfile, sys\n"
                        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                        "  z.writestr('Účtenka.txt', 'žluťoučký kůň' * 50)\n",
                        path})
                .exit_code,
            0);
  auto zip = OpenZip(path);
  ASSERT_EQ(zip->ItemCount(), 1);
  EXPECT_EQ(zip->Items(0)->FileName(), CZ("Účtenka.txt"));
  EXPECT_NO_THROW(zip->TestItemAt(0));
  zip->SetBaseDirectory(dir.Path());
  zip->ExtractItemAt(0, zip->Items(0)->FileName());
  std::string expected;
  for (int i = 0; i < 50; ++i) expected += "žluťoučký kůň";
  EXPECT_TRUE(SameBytes(ReadFile(dir.File("Účtenka.txt")), expected));
}

// --- Passwords ---

// Wrong passwords that the entry's encryption header really refuses. The header that
// zip -P writes is random, and one wrong password in 256 passes its one-byte check (the
// entry then fails later as damaged data), so a test that needs the password error
// takes its wrong answers from here.
std::vector<AnsiString> RefusedPasswords(const std::string& zip, const std::string& name, size_t count) {
  auto u16 = [&](size_t o) { return static_cast<uint32_t>(uint8_t(zip[o]) | uint8_t(zip[o + 1]) << 8); };
  auto u32 = [&](size_t o) { return u16(o) | u16(o + 2) << 16; };
  // Local headers found by their signature: sizes may sit in a data descriptor.
  for (size_t o = zip.find("PK\x03\x04"); o != std::string::npos && o + 30 <= zip.size();
       o = zip.find("PK\x03\x04", o + 4)) {
    const size_t header = o + 30 + u16(o + 26) + u16(o + 28);
    if (u16(o + 26) != name.size() || zip.compare(o + 30, name.size(), name) != 0 || header + 12 > zip.size())
      continue;
    // The check byte is the CRC's high byte, or the time's with a data descriptor.
    const uint32_t check = (u16(o + 6) & 8) != 0 ? u16(o + 10) << 16 : u32(o + 14);
    std::vector<AnsiString> refused;
    TAbZipDecryptEngine engine;
    for (int i = 1; refused.size() < count; ++i) {
      const AnsiString candidate = "wrong" + std::to_string(i);
      if (!engine.VerifyHeader(reinterpret_cast<const uint8_t*>(zip.data() + header), candidate, check))
        refused.push_back(candidate);
    }
    return refused;
  }
  ADD_FAILURE() << "no entry " << name;
  return {};
}

TEST(AbZipPrc, ZipPasswordArchivesAskAndRetryThenFailClearly) {
  TempDir dir("abzipprc");
  const std::string text = Text(30000);
  WriteFile(dir.File("a.txt"), text);
  WriteFile(dir.File("t.bin"), "tiny");
  const std::string path = dir.File("enc.zip");
  ASSERT_EQ(RunCommand({"sh", "-c", "cd " + dir.Path() + " && zip -q -9 -P secret enc.zip a.txt && zip -q -0 -P secret enc.zip t.bin"})
                .exit_code,
            0);

  {  // The request gives the password; both methods extract.
    auto zip = OpenZip(path);
    int asked = 0;
    zip->OnNeedPassword = [&](TObject*, AnsiString& p) {
      ++asked;
      p = "secret";
    };
    EXPECT_TRUE(SameBytes(ExtractWithKit(*zip, "a.txt"), text));
    EXPECT_EQ(ExtractWithKit(*zip, "t.bin"), "tiny");
    EXPECT_EQ(asked, 1);
    EXPECT_NO_THROW(zip->TestItemAt(0));
  }
  for (const char* name : {"a.txt", "t.bin"}) {
    SCOPED_TRACE(name);
    // Wrong answers every time: asked PasswordRetries times, then the password error.
    auto zip = OpenZip(path);
    zip->SetPasswordRetries(3);
    const std::vector<AnsiString> wrong = RefusedPasswords(ReadFile(path), name, 4);
    ASSERT_EQ(wrong.size(), 4u);
    int asked = 0;
    zip->OnNeedPassword = [&](TObject*, AnsiString& p) { p = wrong[static_cast<size_t>(asked++ % 3)]; };
    TMemoryStream out;
    EXPECT_THROW(zip->ExtractItemToStreamAt(zip->FindFile(name), out), EAbZipInvalidPassword);
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(out.Size(), 0);

    // Through the archive model: one failure report with the password code.
    std::vector<int32_t> codes;
    zip->OnProcessItemFailure = [&](TObject*, TAbArchiveItem*, TAbProcessType t, TAbErrorClass c, int32_t code) {
      EXPECT_EQ(t, ptExtract);
      EXPECT_EQ(c, ecArchiveKit);
      codes.push_back(code);
    };
    zip->SetPassword("");
    zip->ExtractToStream(name, out);
    EXPECT_EQ(codes, std::vector<int32_t>{EAbZipInvalidPassword::kCode});

    // An empty answer gives up.
    zip->SetPassword("");
    zip->OnNeedPassword = [](TObject*, AnsiString& p) { p.clear(); };
    EXPECT_THROW(zip->ExtractItemToStreamAt(zip->FindFile(name), out), EAbUserAbort);
    // No request handler and a wrong password: the password error at once.
    zip->OnNeedPassword = nullptr;
    zip->SetPassword(wrong[3]);
    EXPECT_THROW(zip->ExtractItemToStreamAt(zip->FindFile(name), out), EAbZipInvalidPassword);
  }
}

TEST(AbZipPrc, EntriesTheKitEncryptsOpenWithPeers) {
  TempDir dir("abzipprc");
  const std::string text = Text(25000);
  WriteFile(dir.File("text.txt"), text);
  WriteFile(dir.File("ten.bin"), "0123456789");
  WriteFile(dir.File("empty.dat"), "");
  const std::string path = dir.File("enc.zip");
  {
    TAbZipArchive zip(path, kCreate);
    InstallHandlers(zip);
    zip.SetPassword(CZ("tajné heslo"));
    zip.SetStoreOptions(zip.StoreOptions().Include(soStripPath));
    for (const char* name : {"text.txt", "ten.bin", "empty.dat"}) zip.AddFiles(dir.File(name), 0);
    zip.Save();
  }
  const std::string pwd = AnsiToUtf8(CZ("tajné heslo"));
  const std::string pwd1250 = CZ("tajné heslo");
  // The password bytes are the ANSI (Windows-1250) ones.
  const auto t = RunCommand({"unzip", "-t", "-P", pwd1250, path});
  EXPECT_EQ(t.exit_code, 0) << t.output;
  EXPECT_TRUE(SameBytes(RunCommand({"unzip", "-p", "-P", pwd1250, path, "text.txt"}).output, text));
  const char* script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "p = sys.argv[2].encode('cp1250')\n"
      "print(','.join('%s:%d:%d' % (i.filename, i.flag_bits & 9, len(z.read(i, pwd=p))) for i in z.infolist()))\n";
  EXPECT_EQ(RunCommand({"python3", "-c", script, path, pwd}).output, "text.txt:9:25000,ten.bin:9:10,empty.dat:9:0\n");

  auto zip = OpenZip(path);
  zip->SetPassword(CZ("tajné heslo"));
  EXPECT_TRUE(SameBytes(ExtractWithKit(*zip, "text.txt"), text));
  EXPECT_EQ(ExtractWithKit(*zip, "empty.dat"), "");
  for (int32_t i = 0; i < zip->ItemCount(); ++i) EXPECT_NO_THROW(zip->TestItemAt(i));
}

TEST(AbZipPrc, EntriesOfASpannedSetExtractFromTheirVolumes) {
  TempDir dir("abzipprc");
  const std::vector<std::pair<std::string, std::string>> files = {
      {"a.bin", Binary(5000, 1)}, {"b.txt", Text(30000)}, {"c.bin", Binary(9000, 2)}};
  for (const auto& [name, data] : files) WriteFile(dir.File(name), data);
  const std::string path = dir.File("set.zip");
  {
    TAbZipArchive zip(path, kCreate);
    InstallHandlers(zip);
    zip.SetSpanningThreshold(2500);
    zip.SetStoreOptions({soStripPath});
    for (const auto& file : files) zip.AddFiles(dir.File(file.first), 0);
    zip.Save();
    ASSERT_TRUE(zip.Spanned());
  }
  ASSERT_TRUE(Exists(dir.File("set.z02")));
  auto zip = OpenZip(path);
  ASSERT_EQ(zip->ItemCount(), 3);
  // The last entry first: each one switches to its own volume.
  for (int32_t i = 2; i >= 0; --i) {
    SCOPED_TRACE(files[static_cast<size_t>(i)].first);
    EXPECT_TRUE(SameBytes(ExtractWithKit(*zip, files[static_cast<size_t>(i)].first), files[static_cast<size_t>(i)].second));
    EXPECT_NO_THROW(zip->TestItemAt(i));
  }
}

// A set split by zip (x.z01, x.z02, ... and x.zip last, holding the end record) reads
// from the volume each entry starts on, across volume ends.
TEST(AbZipPrc, SetsSplitByZipReadFromTheirNumberedVolumes) {
  TempDir dir("abzipprc");
  const std::vector<std::pair<std::string, std::string>> files = {
      {"a.bin", Binary(200000, 3)}, {"b.txt", Text(40000)}, {"c.bin", Binary(250000, 4)}};
  for (const auto& [name, data] : files) WriteFile(dir.File(name), data);
  const std::string path = dir.File("split.zip");
  const auto made = RunCommand({"zip", "-q", "-j", "-s", "64k", path, dir.File("a.bin"), dir.File("b.txt"),
                                dir.File("c.bin")});
  ASSERT_EQ(made.exit_code, 0) << made.output;
  ASSERT_TRUE(Exists(dir.File("split.z02")));
  auto zip = OpenZip(path);
  ASSERT_EQ(zip->ItemCount(), 3);
  for (int32_t i = 2; i >= 0; --i) {
    const auto& [name, data] = files[static_cast<size_t>(i)];
    SCOPED_TRACE(name);
    EXPECT_TRUE(SameBytes(ExtractWithKit(*zip, name), data));
    EXPECT_NO_THROW(zip->TestItemAt(i));
  }
}

// --- Failures ---

// The offset of the first byte of an entry's data in a zip file.
size_t DataOffset(const std::string& zip, const std::string& name) {
  size_t pos = zip.find("PK\x03\x04");
  while (pos != std::string::npos) {
    const auto u16 = [&](size_t p) { return static_cast<size_t>(static_cast<uint8_t>(zip[p]) | (static_cast<uint8_t>(zip[p + 1]) << 8)); };
    const size_t name_len = u16(pos + 26);
    const size_t extra_len = u16(pos + 28);
    if (zip.compare(pos + 30, name_len, name) == 0) return pos + 30 + name_len + extra_len;
    pos = zip.find("PK\x03\x04", pos + 4);
  }
  return std::string::npos;
}

TEST(AbZipPrc, ADamagedEntryGivesOneReportAndNoOutputFile) {
  TempDir dir("abzipprc");
  const std::string text = Text(60000);
  WriteFile(dir.File("a.txt"), text);
  WriteFile(dir.File("s.txt"), text.substr(0, 5000));
  ASSERT_EQ(RunCommand({"sh", "-c", "cd " + dir.Path() + " && zip -q -9 good.zip a.txt && zip -q -0 good.zip s.txt"})
                .exit_code,
            0);
  std::string bytes = ReadFile(dir.File("good.zip"));
  // One byte in the middle of each entry's data.
  bytes[DataOffset(bytes, "a.txt") + 2000] ^= 0x55;
  bytes[DataOffset(bytes, "s.txt") + 100] ^= 0x55;
  WriteFile(dir.File("bad.zip"), bytes);

  for (const bool handler : {true, false}) {
    for (const char* name : {"a.txt", "s.txt"}) {
      SCOPED_TRACE(std::string(name) + (handler ? " with handler" : " without handler"));
      auto zip = OpenZip(dir.File("bad.zip"));
      zip->SetBaseDirectory(dir.Path());
      std::vector<int32_t> codes;
      if (handler) {
        zip->OnProcessItemFailure = [&](TObject*, TAbArchiveItem*, TAbProcessType, TAbErrorClass, int32_t code) {
          codes.push_back(code);
        };
      }
      // Into a file stream through the archive model, as the wizard reads.
      const std::string out_path = dir.File("out.bin");
      {
        TFileStream out(out_path, fmCreate);
        zip->ExtractToStream(name, out);
      }
      EXPECT_EQ(ReadFile(out_path), "");
      if (handler) {
        ASSERT_EQ(codes.size(), 1u);
        // The stored entry fails its CRC; the deflated one its CRC or its data.
        if (std::string(name) == "s.txt") {
          EXPECT_EQ(codes[0], AbZipBadCRC);
        }
      }
      // Into a file: the failure propagates once and no file is left.
      codes.clear();
      EXPECT_ANY_THROW(zip->ExtractItemAt(zip->FindFile(name), name));
      EXPECT_TRUE(codes.empty());
      EXPECT_TRUE(SameBytes(ReadFile(dir.File(name)), std::string(name) == "a.txt" ? text : text.substr(0, 5000)))
          << "the existing file must stay as it was";
      ::unlink(dir.File(name).c_str());
      EXPECT_ANY_THROW(zip->ExtractItemAt(zip->FindFile(name), name));
      EXPECT_FALSE(Exists(dir.File(name)));
      WriteFile(dir.File(name), std::string(name) == "a.txt" ? text : text.substr(0, 5000));
      // Only the target's own files remain.
      const auto ls = RunCommand({"sh", "-c", "ls " + dir.Path() + " | grep -ci '\\.tmp$'"});
      EXPECT_EQ(ls.output, "0\n");
    }
  }
}

TEST(AbZipPrc, AnAbortIsAnAbortNotACrcFailure) {
  TempDir dir("abzipprc");
  const std::string text = Text(300000);
  WriteFile(dir.File("a.txt"), text);
  WriteFile(dir.File("s.txt"), text);
  ASSERT_EQ(RunCommand({"sh", "-c", "cd " + dir.Path() + " && zip -q -9 z.zip a.txt && zip -q -0 z.zip s.txt"}).exit_code, 0);
  for (const char* name : {"a.txt", "s.txt"}) {
    SCOPED_TRACE(name);
    auto zip = OpenZip(dir.File("z.zip"));
    zip->SetBaseDirectory(dir.Path());
    std::vector<int32_t> codes;
    zip->OnProcessItemFailure = [&](TObject*, TAbArchiveItem*, TAbProcessType, TAbErrorClass, int32_t code) {
      codes.push_back(code);
    };
    zip->OnArchiveItemProgress = [](TObject*, TAbArchiveItem*, uint8_t p, bool& abort) { abort = p >= 20; };
    TMemoryStream out;
    zip->ExtractToStream(name, out);
    EXPECT_EQ(codes, std::vector<int32_t>{AbUserAbort});
    EXPECT_EQ(out.Size(), 0);
    // Extracting to a file: the abort propagates, no file is left, the archive is
    // no longer usable.
    ::unlink(dir.File(name).c_str());
    EXPECT_THROW(zip->ExtractItemAt(zip->FindFile(name), name), EAbUserAbort);
    EXPECT_FALSE(Exists(dir.File(name)));
    EXPECT_EQ(zip->Status(), asInvalid);
  }
}

TEST(AbZipPrc, AnAbortWhileCompressingEndsTheSaveAndKeepsTheOldArchive) {
  TempDir dir("abzipprc");
  WriteFile(dir.File("old.txt"), Text(3000));
  WriteFile(dir.File("new.txt"), Text(400000));
  ASSERT_EQ(RunCommand({"sh", "-c", "cd " + dir.Path() + " && zip -q -9 z.zip old.txt"}).exit_code, 0);
  const std::string before = ReadFile(dir.File("z.zip"));
  for (const TAbZipSupportedMethod method : {smDeflated, smStored}) {
    SCOPED_TRACE(method);
    auto zip = OpenZip(dir.File("z.zip"));
    zip->SetCompressionMethodToUse(method);
    zip->AddFiles(dir.File("new.txt"), 0);
    zip->OnArchiveItemProgress = [](TObject*, TAbArchiveItem*, uint8_t p, bool& abort) { abort = p >= 30; };
    EXPECT_THROW(zip->Save(), EAbUserAbort);
    EXPECT_TRUE(ReadFile(dir.File("z.zip")) == before);
  }
}

TEST(AbZipPrc, HeaderDisagreementsAndNewerVersionsFailTheTest) {
  TempDir dir("abzipprc");
  WriteFile(dir.File("a.txt"), Text(5000));
  ASSERT_EQ(RunCommand({"sh", "-c", "cd " + dir.Path() + " && zip -q -9 -X z.zip a.txt"}).exit_code, 0);
  const std::string good = ReadFile(dir.File("z.zip"));
  const size_t local = good.find("PK\x03\x04");
  const size_t central = good.find("PK\x01\x02");
  struct Case {
    const char* what;
    size_t offset;
    bool version;
  };
  // Local: time 10, CRC 14, compressed size 18, name 30; central: version needed 6.
  for (const Case& c : {Case{"local time", local + 10, false}, Case{"local CRC", local + 14, false},
                        Case{"local size", local + 18, false}, Case{"local name", local + 30, false},
                        Case{"version needed 6.4", central + 6, true}}) {
    SCOPED_TRACE(c.what);
    std::string bad = good;
    if (c.version)
      bad[c.offset] = 64;
    else
      bad[c.offset] ^= 0x01;
    WriteFile(dir.File("bad.zip"), bad);
    auto zip = OpenZip(dir.File("bad.zip"));
    if (c.version) {
      EXPECT_THROW(zip->TestItemAt(0), EAbZipVersion);
      TMemoryStream out;
      EXPECT_THROW(zip->ExtractItemToStreamAt(0, out), EAbZipVersion);
    } else {
      EXPECT_THROW(zip->TestItemAt(0), EAbZipInvalidLFH);
    }
  }
}

}  // namespace
}  // namespace pelvar
