// Zip records and the zip archive against real peers: archives written by zip and
// by Python are loaded, archives the kit saves pass unzip -t and Python's zipfile,
// untouched entries keep their bytes, and damaged or oversized archives fail
// clearly without a byte written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/abdfbase.h"
#include "archive/abdfdec.h"
#include "archive/abdfenc.h"
#include "archive/abziptyp.h"
#include "platform/codepage.h"
#include "support/process.h"

namespace pelvar {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

constexpr uint16_t kOpenRead = fmOpenRead | fmShareDenyNone;  // as the zip kit opens
constexpr uint16_t kCreate = 0xFFFF;

int64_t FileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// --- Processing handlers of the tests (the kit's own come with the item processing) ---

// Deflates (or stores, when asked or when the input is empty) the input and fills the
// header as the kit does.
void InsertFromStream(TAbZipArchive& Archive, TAbZipItem& Item, TStream& Out, TStream* In) {
  if (In == nullptr) throw EAbZipNoInsertion();
  In->Seek(0, TSeekOrigin::soBeginning);
  Item.SetUncompressedSize32(static_cast<uint32_t>(In->Size()));
  Item.SetVersionMadeBy(20);
  Item.SetGeneralPurposeBitFlag(0);
  uint32_t crc = 0;
  if (Archive.CompressionMethodToUse() != smStored && In->Size() > 0) {
    TAbDeflateHelper helper;
    crc = Deflate(In, &Out, &helper);
    Item.SetCompressionMethod(8);
    Item.SetVersionNeededToExtract(20);
  } else {
    std::vector<uint8_t> buf(4096);
    uint32_t running = 0xFFFFFFFF;
    for (int32_t n; (n = In->Read(buf.data(), 4096)) > 0;) {
      AbCrc32Buffer(running, buf.data(), n);
      Out.WriteBuffer(buf.data(), n);
    }
    crc = In->Size() > 0 ? ~running : 0;
    Item.SetCompressionMethod(0);
    Item.SetVersionNeededToExtract(10);
  }
  Item.SetCRC32(crc);
}

void InsertFromFile(TAbZipArchive& Archive, TAbZipItem& Item, TStream& Out) {
  TFileStream file(Item.DiskFileName(), fmOpenRead | fmShareDenyWrite);
  const int32_t age = AbFileAge(Item.DiskFileName());
  Item.SetLastModFileTime(static_cast<uint16_t>(age & 0xFFFF));
  Item.SetLastModFileDate(static_cast<uint16_t>(static_cast<uint32_t>(age) >> 16));
  Item.SetExternalFileAttributes(0x20);
  InsertFromStream(Archive, Item, Out, &file);
}

// Reads stored and deflated entries through the archive stream.
void ExtractToStream(TAbZipArchive& Archive, TAbZipItem& Item, TStream& Out) {
  TStream* in = Archive.Stream();
  if (in == nullptr) throw EAbReadError();
  in->Seek(Item.RelativeOffset(), TSeekOrigin::soBeginning);
  TAbZipLocalFileHeader lfh;
  lfh.LoadFromStream(*in);
  if (Item.CompressionMethod() == 8) {
    Inflate(in, &Out, nullptr);
  } else if (Item.CompressedSize32() > 0) {
    Out.CopyFrom(*in, Item.CompressedSize32());
  }
}

void InstallHandlers(TAbZipArchive& Archive) {
  Archive.InsertHelper = InsertFromFile;
  Archive.InsertFromStreamHelper = InsertFromStream;
  Archive.ExtractToStreamHelper = ExtractToStream;
}

std::unique_ptr<TAbZipArchive> OpenZip(const std::string& path) {
  auto zip = std::make_unique<TAbZipArchive>(path, kOpenRead);
  InstallHandlers(*zip);
  zip->Load();
  return zip;
}

std::unique_ptr<TAbZipArchive> NewZip(const std::string& path) {
  auto zip = std::make_unique<TAbZipArchive>(path, kCreate);
  InstallHandlers(*zip);
  return zip;
}

// Python's view of an archive: "name|size|crc" per entry after a full test, or the
// error text.
std::string PythonCheck(const std::string& path) {
  const char* script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "bad = z.testzip()\n"
      "if bad: print('BAD', bad); sys.exit(1)\n"
      "for i in z.infolist(): print('%s|%d|%08x' % (i.filename, i.file_size, i.CRC))\n";
  const auto r = RunCommand({"python3", "-c", script, path});
  return r.exit_code == 0 ? r.output : "FAILED: " + r.output;
}

std::string PythonRead(const std::string& path, const std::string& name) {
  const auto r = RunCommand({"python3", "-c",
                             "import sys, zipfile\nsys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))",
                             path, name});
  return r.exit_code == 0 ? r.output : "FAILED: " + r.output;
}

std::string Pattern(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>((i % 7 == 0) ? (x >> 16) : 'a' + (i % 13));
  }
  return s;
}

// The stored bytes of every entry, read from the local headers.
std::map<std::string, std::string> StoredData(const std::string& path) {
  std::map<std::string, std::string> out;
  TFileStream file(path, fmOpenRead);
  const int64_t end = AbFindEndRecord(file);
  TAbZipDirectoryFileFooter footer;
  footer.LoadFromStream(file);
  file.Seek(footer.DirectoryOffset, TSeekOrigin::soBeginning);
  std::vector<TAbZipDirectoryFileHeader> entries;
  while (file.Position() < end) {
    entries.emplace_back();
    entries.back().LoadFromStream(file);
  }
  for (const auto& e : entries) {
    file.Seek(e.RelativeOffset, TSeekOrigin::soBeginning);
    TAbZipLocalFileHeader lfh;
    lfh.LoadFromStream(file);
    std::string data(e.CompressedSize, '\0');
    file.ReadBuffer(data.data(), e.CompressedSize);
    out[e.FileName] = data;
  }
  return out;
}

// --- Records ---

TEST(AbZipRecords, HeadersAndEndRecordRoundTripAndRefuseWrongSignatures) {
  TAbZipDirectoryFileHeader cdh;
  cdh.VersionMadeBy = 20;
  cdh.VersionNeededToExtract = 20;
  cdh.GeneralPurposeBitFlag = 2;
  cdh.CompressionMethod = 8;
  cdh.LastModFileTime = 0x6C21;
  cdh.LastModFileDate = 0x5B8A;
  cdh.CRC32 = 0xDEADBEEF;
  cdh.CompressedSize = 123;
  cdh.UncompressedSize = 0xFFFFFFF0;
  cdh.FileName = "dir/name.txt";
  cdh.ExtraField = std::string("\x55\x54\x01\x00\x07", 5);
  cdh.FileComment = "note";
  cdh.DiskNumberStart = 3;
  cdh.InternalFileAttributes = 1;
  cdh.ExternalFileAttributes = 0x20;
  cdh.RelativeOffset = 0x12345678;
  TStringStream s;
  cdh.SaveToStream(s);
  EXPECT_EQ(s.DataString().size(), static_cast<size_t>(cdh.RecordSize()));
  s.Seek(0, TSeekOrigin::soBeginning);
  TAbZipDirectoryFileHeader back;
  back.LoadFromStream(s);
  EXPECT_EQ(back.UncompressedSize, 0xFFFFFFF0u);
  EXPECT_EQ(back.RelativeOffset, 0x12345678u);
  EXPECT_EQ(back.FileName, cdh.FileName);
  EXPECT_EQ(back.ExtraField, cdh.ExtraField);
  EXPECT_EQ(back.FileComment, "note");
  EXPECT_EQ(back.LastModFileDate, 0x5B8A);
  EXPECT_EQ(back.DiskNumberStart, 3);

  TAbZipDirectoryFileFooter footer;
  footer.TotalEntries = footer.EntriesOnDisk = 2;
  footer.DirectorySize = 100;
  footer.DirectoryOffset = 200;
  footer.ZipfileComment = "comment";
  TStringStream f;
  footer.SaveToStream(f);
  EXPECT_EQ(f.DataString().size(), 29u);
  f.Seek(0, TSeekOrigin::soBeginning);
  TAbZipDirectoryFileFooter footer_back;
  footer_back.LoadFromStream(f);
  EXPECT_EQ(footer_back.DirectoryOffset, 200u);
  EXPECT_EQ(footer_back.ZipfileComment, "comment");

  TAbZipItem method6;
  method6.SetCompressionMethod(6);
  method6.SetGeneralPurposeBitFlag(6);
  EXPECT_EQ(method6.Header().DictionarySize(), 8192);
  EXPECT_EQ(method6.Header().ShannonFanoTreeCount(), 3);

  // A central header read as a local one, and a cut-short record.
  s.Seek(0, TSeekOrigin::soBeginning);
  TAbZipLocalFileHeader lfh;
  EXPECT_THROW(lfh.LoadFromStream(s), EAbZipInvalid);
  TStringStream cut(s.DataString().substr(0, 40));
  EXPECT_THROW(back.LoadFromStream(cut), EAbZipInvalid);
  // A name too long for its 16-bit length.
  cdh.FileName.assign(70000, 'x');
  TStringStream big;
  EXPECT_THROW(cdh.SaveToStream(big), EAbZipException);
  EXPECT_TRUE(big.DataString().empty());
}

// --- Finding the end record and the kind of a file ---

TEST(AbZipFind, EndRecordWithAndWithoutCommentsAndKinds) {
  TempDir dir;
  WriteFile(dir.File("a.txt"), "alpha\n");
  ASSERT_EQ(RunCommand({"zip", "-q", "-j", dir.File("plain.zip"), dir.File("a.txt")}).exit_code, 0);
  ASSERT_EQ(RunCommand({"zip", "-q", "-j", "-z", dir.File("commented.zip"), dir.File("a.txt")},
                       "a comment of the archive\n.\n")
                .exit_code,
            0);
  // A comment that holds the signature itself, in front of the real record's end.
  ASSERT_EQ(RunCommand({"python3", "-c",
                        "import sys, zipfile\n"
                        "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
                        "z.writestr('a.txt', 'alpha')\n"
                        "z.comment = b'x' * 700 + b'PK\\x05\\x06' + b'y' * 40\n"
                        "z.close()",
                        dir.File("stray.zip")})
                .exit_code,
            0);
  struct Case {
    std::string file;
    bool at_tail;
  };
  for (const Case& c : {Case{"plain.zip", true}, Case{"commented.zip", false}, Case{"stray.zip", false}}) {
    SCOPED_TRACE(c.file);
    const std::string bytes = ReadFile(dir.File(c.file));
    TFileStream file(dir.File(c.file), fmOpenRead);
    const int64_t pos = AbFindEndRecord(file);
    ASSERT_GE(pos, 0);
    EXPECT_EQ(file.Position(), pos);
    EXPECT_EQ(bytes.compare(static_cast<size_t>(pos), 4, "PK\x05\x06"), 0);
    if (c.at_tail) {
      EXPECT_EQ(pos, static_cast<int64_t>(bytes.size()) - 22);
    }
    TAbZipDirectoryFileFooter footer;
    footer.LoadFromStream(file);
    EXPECT_EQ(footer.TotalEntries, 1);
    EXPECT_EQ(static_cast<int64_t>(footer.DirectoryOffset + footer.DirectorySize), pos);
    EXPECT_EQ(AbZipKindOf(file), AbZipTypeOf);
  }

  const std::string zip = ReadFile(dir.File("plain.zip"));
  struct Kind {
    std::string name;
    std::string content;
    int32_t zip_kind;
    int32_t sfx_kind;
  };
  const std::vector<Kind> kinds = {
      {"text", std::string(3000, 't'), 0, 0},
      {"empty", "", 0, 0},
      {"zip", zip, AbZipTypeOf, 0},
      {"spanned", std::string("PK\x07\x08", 4) + std::string(100, 'x'), AbSpannedZipTypeOf, 0},
      {"program", "MZ" + std::string(200, '\0') + zip, AbZipTypeOf, AbSelfExtractingZipTypeOf},
      {"elf", "\x7F" "ELF" + std::string(200, '\0') + zip, AbZipTypeOf, AbSelfExtractingZipTypeOf},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    TStringStream s(k.content);
    s.Seek(5 < k.content.size() ? 5 : 0, TSeekOrigin::soBeginning);
    const int64_t before = s.Position();
    EXPECT_EQ(AbZipKindOf(s), k.zip_kind);
    EXPECT_EQ(AbSelfExtractingKindOf(s), k.sfx_kind);
    EXPECT_EQ(s.Position(), before);
    if (k.zip_kind == 0) {
      EXPECT_EQ(AbFindEndRecord(s), -1);
    }
  }
}

// --- Loading ---

TEST(AbZipLoad, ArchivesOfPeersListAsThePeersSee) {
  TempDir dir;
  WriteFile(dir.File("text.txt"), Pattern(20000, 1));
  WriteFile(dir.File("empty.bin"), "");
  WriteFile(dir.File("small.txt"), "0123456789");
  ASSERT_EQ(RunCommand({"zip", "-q", "-9", "-j", dir.File("peer.zip"), dir.File("text.txt"), dir.File("empty.bin"),
                        dir.File("small.txt")})
                .exit_code,
            0);
  // Python marks a non-ASCII name as UTF-8 (flag bit 11).
  ASSERT_EQ(RunCommand({"python3", "-c",
                        "import sys, zipfile\n"
                        "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
                        "z.writestr('\\u017elu\\u0165ou\\u010dk\\u00fd k\\u016f\\u0148.txt', 'horse')\n"
                        "z.writestr('plain.txt', 'x' * 1000)\n"
                        "z.close()",
                        dir.File("python.zip")})
                .exit_code,
            0);

  for (const std::string name : {"peer.zip", "python.zip"}) {
    SCOPED_TRACE(name);
    auto zip = OpenZip(dir.File(name));
    std::string listing;
    for (int32_t i = 0; i < zip->ItemCount(); ++i) {
      const TAbZipItem& item = *zip->ZipItems(i);
      char line[512];
      std::snprintf(line, sizeof line, "%s|%u|%08x\n", AnsiToUtf8(item.FileName()).c_str(), item.UncompressedSize32(),
                    item.CRC32());
      listing += line;
      EXPECT_EQ(item.Action(), aaNone);
    }
    EXPECT_EQ(listing, PythonCheck(dir.File(name)));
    EXPECT_EQ(zip->Status(), asIdle);
    EXPECT_FALSE(zip->IsDirty());
  }
  auto python = OpenZip(dir.File("python.zip"));
  EXPECT_EQ(python->FindFile(CZ("žluťoučký kůň.txt")), 0);
  TMemoryStream horse;
  python->ExtractToStream(CZ("žluťoučký kůň.txt"), horse);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(horse.Memory()), static_cast<size_t>(horse.Size())), "horse");
}

TEST(AbZipLoad, BrokenFilesFailAndAreNeverWrittenOver) {
  TempDir dir;
  struct Case {
    std::string name;
    std::string content;
    int32_t code;  // of the EAbException raised
  };
  const std::vector<Case> cases = {
      {"text.zip", "This is no archive at all.\n" + std::string(100, '-'), AbErrZipInvalid},
      // An entry first and no volume beside it: a single archive cut short.
      {"lost_end.zip", std::string("PK\x03\x04", 4) + std::string(300, '\x11'), AbDamagedArchive},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir.File(c.name), c.content);
    {
      TAbZipArchive zip(dir.File(c.name), kOpenRead);
      try {
        zip.Load();
        ADD_FAILURE() << "loaded";
      } catch (const EAbException& e) {
        EXPECT_EQ(e.ErrorCode(), c.code) << e.Message();
      }
      EXPECT_EQ(zip.Status(), asInvalid);
      zip.Save();  // closing an archive whose load failed writes nothing
      EXPECT_THROW(zip.CheckValid(), EAbNoArchive);
    }
    EXPECT_EQ(ReadFile(dir.File(c.name)), c.content);
  }
}

TEST(AbZipLoad, Zip64ArchivesAreRefusedClearly) {
  TempDir dir;
  // Python writes Zip64 records once its limit is lowered.
  ASSERT_EQ(RunCommand({"python3", "-c",
                        "import sys, zipfile\n"
                        "zipfile.ZIP64_LIMIT = 10\n"
                        "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
                        "z.writestr('a.txt', 'a' * 100)\n"
                        "z.writestr('b.txt', 'b' * 100)\n"
                        "z.close()",
                        dir.File("z64.zip")})
                .exit_code,
            0);
  const std::string before = ReadFile(dir.File("z64.zip"));
  TAbZipArchive zip(dir.File("z64.zip"), kOpenRead);
  try {
    zip.Load();
    ADD_FAILURE() << "a Zip64 archive loaded";
  } catch (const EAbUnsupportedFeature& e) {
    EXPECT_NE(e.Message().find("Zip64"), std::string::npos) << e.Message();
  }
  zip.Save();
  EXPECT_EQ(ReadFile(dir.File("z64.zip")), before);
}

// --- Saving ---

TEST(AbZipSave, EmptyFileLoadsEmptyAndSavesOnlyTheEndRecord) {
  TempDir dir;
  WriteFile(dir.File("empty.zip"), "");
  {
    auto zip = OpenZip(dir.File("empty.zip"));
    EXPECT_EQ(zip->ItemCount(), 0);
    zip->Save();
  }
  const std::string bytes = ReadFile(dir.File("empty.zip"));
  EXPECT_EQ(bytes, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  EXPECT_EQ(PythonCheck(dir.File("empty.zip")), "");
  // A new archive saved without items is the same.
  { NewZip(dir.File("new.zip"))->Save(); }
  EXPECT_EQ(ReadFile(dir.File("new.zip")), bytes);
}

TEST(AbZipSave, NewArchivePassesThePeersWithTheSameNameInBothHeaders) {
  TempDir dir;
  const std::string czech_name = "Příliš žluťoučký.txt";
  WriteFile(dir.File("Identifikace.txt"), "Stanice 1\r\n");
  WriteFile(dir.File(czech_name), Pattern(50000, 7));
  WriteFile(dir.File("empty.dat"), "");
  {
    auto zip = NewZip(dir.File("station.zip"));
    zip->SetStoreOptions({soStripDrive, soStripPath, soRemoveDots});
    zip->AddFiles(dir.File("Identifikace.txt"), 63);
    zip->AddFiles(Utf8ToAnsi(dir.File(czech_name)), 63);
    zip->AddFiles(dir.File("empty.dat"), 63);
    ASSERT_EQ(zip->ItemCount(), 3);
    zip->Save();
    for (int32_t i = 0; i < zip->ItemCount(); ++i) EXPECT_EQ(zip->Items(i)->Action(), aaNone);
    // Stored in the OEM code page, given back in ANSI.
    EXPECT_EQ(zip->ZipItems(1)->RawFileName(), AbCharToOem(Utf8ToAnsi(czech_name)));
    EXPECT_EQ(zip->ZipItems(1)->FileName(), Utf8ToAnsi(czech_name));
  }
  const std::string path = dir.File("station.zip");
  const auto unzip = RunCommand({"unzip", "-t", path});
  EXPECT_EQ(unzip.exit_code, 0) << unzip.output;
  const std::string listing = PythonCheck(path);
  EXPECT_EQ(listing.find("FAILED"), std::string::npos) << listing;
  EXPECT_NE(listing.find("Identifikace.txt|11|"), std::string::npos) << listing;
  EXPECT_NE(listing.find("empty.dat|0|00000000"), std::string::npos) << listing;
  EXPECT_EQ(PythonRead(path, "Identifikace.txt"), "Stanice 1\r\n");
  // The local header carries the stored (OEM) bytes as the central one does, so
  // Python reads the entry by its name as it decodes the central header.
  const auto czech = RunCommand({"python3", "-c",
                                 "import sys, zipfile\n"
                                 "z = zipfile.ZipFile(sys.argv[1])\n"
                                 "sys.stdout.buffer.write(z.read(z.infolist()[1]))",
                                 path});
  EXPECT_EQ(czech.exit_code, 0) << czech.output.substr(0, 300);
  EXPECT_EQ(czech.output, Pattern(50000, 7));
  // The end record closes the file; it counts the three entries.
  const std::string bytes = ReadFile(path);
  EXPECT_EQ(bytes.compare(bytes.size() - 22, 4, "PK\x05\x06"), 0);
  EXPECT_EQ(static_cast<uint8_t>(bytes[bytes.size() - 12]), 3);
}

TEST(AbZipSave, ResaveKeepsUntouchedEntriesDropsDeletedOnesAndCutsTheFile) {
  TempDir dir;
  WriteFile(dir.File("one.txt"), Pattern(30000, 1));
  WriteFile(dir.File("two.bin"), Pattern(90000, 2));
  WriteFile(dir.File("three.txt"), Pattern(5000, 3));
  WriteFile(dir.File("added.txt"), "added later\n");
  const std::string path = dir.File("peer.zip");
  ASSERT_EQ(RunCommand({"zip", "-q", "-9", "-j", path, dir.File("one.txt"), dir.File("two.bin"), dir.File("three.txt")})
                .exit_code,
            0);
  const auto before = StoredData(path);
  const int64_t old_size = FileSize(path);
  {
    auto zip = OpenZip(path);
    zip->SetStoreOptions({soStripDrive, soStripPath});
    zip->Items(zip->FindFile("two.bin"))->SetAction(aaDelete);
    zip->SetIsDirty(true);
    zip->AddFiles(dir.File("added.txt"), 63);
    EXPECT_EQ(zip->ActiveItemCount(), 3);
    zip->Save();
    EXPECT_EQ(zip->ItemCount(), 3);
    EXPECT_EQ(zip->FindFile("two.bin"), -1);
    // The archive reads from the file just written.
    TMemoryStream one;
    zip->ExtractToStream("one.txt", one);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(one.Memory()), static_cast<size_t>(one.Size())),
              Pattern(30000, 1));
  }
  const auto after = StoredData(path);
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after.at("one.txt"), before.at("one.txt"));
  EXPECT_EQ(after.at("three.txt"), before.at("three.txt"));
  const auto unzip = RunCommand({"unzip", "-t", path});
  EXPECT_EQ(unzip.exit_code, 0) << unzip.output;
  EXPECT_EQ(PythonRead(path, "added.txt"), "added later\n");
  const std::string bytes = ReadFile(path);
  EXPECT_LT(static_cast<int64_t>(bytes.size()), old_size);
  EXPECT_EQ(bytes.compare(bytes.size() - 22, 4, "PK\x05\x06"), 0);
  EXPECT_EQ(static_cast<uint8_t>(bytes[bytes.size() - 12]), 3);  // total entries
}

TEST(AbZipSave, EntriesWithDataDescriptorsStayReadable) {
  TempDir dir;
  const std::string path = dir.File("dd.zip");
  // Written to a pipe, Python marks its entries with flag bit 3 and follows their
  // data with descriptors, the stored one too.
  const auto made = RunCommand(
      {"sh", "-c",
       "python3 -c \"import sys, zipfile\nz = zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED)\n"
       "z.writestr('s.txt', 'streamed ' * 500)\nz.writestr(zipfile.ZipInfo('st.txt'), 'stored')\nz.close()\" | cat > " +
           path});
  ASSERT_EQ(made.exit_code, 0) << made.output;
  WriteFile(dir.File("new.txt"), "new\n");
  {
    auto zip = OpenZip(path);
    ASSERT_EQ(zip->ItemCount(), 2);
    EXPECT_EQ(zip->ZipItems(1)->CompressionMethod(), 0);
    EXPECT_EQ(zip->ZipItems(1)->GeneralPurposeBitFlag() & 8, 8);
    zip->SetStoreOptions({soStripPath});
    zip->AddFiles(dir.File("new.txt"), 63);
    zip->Save();
  }
  const auto t = RunCommand({"unzip", "-t", path});
  EXPECT_EQ(t.exit_code, 0) << t.output;
  std::string streamed;
  for (int i = 0; i < 500; ++i) streamed += "streamed ";
  EXPECT_EQ(PythonRead(path, "s.txt"), streamed);
  EXPECT_EQ(PythonRead(path, "st.txt"), "stored");
  EXPECT_EQ(PythonRead(path, "new.txt"), "new\n");
}

TEST(AbZipSave, EncryptedEntriesAndDirectoriesSurviveAResave) {
  TempDir dir;
  ASSERT_EQ(RunCommand({"mkdir", "-p", dir.File("src/sub")}).exit_code, 0);
  WriteFile(dir.File("src/sub/a.txt"), Pattern(5000, 3));
  WriteFile(dir.File("src/b.txt"), "bbb\n");
  WriteFile(dir.File("new.txt"), "new\n");
  const std::string path = dir.File("enc.zip");
  ASSERT_EQ(RunCommand({"sh", "-c", "cd " + dir.File("src") + " && zip -q -r -P secret " + path + " ."}).exit_code, 0);
  {
    auto zip = OpenZip(path);
    ASSERT_EQ(zip->ItemCount(), 3);
    zip->SetStoreOptions({soStripPath});
    zip->AddFiles(dir.File("new.txt"), 63);
    zip->Save();
  }
  const auto t = RunCommand({"unzip", "-P", "secret", "-t", path});
  EXPECT_EQ(t.exit_code, 0) << t.output;
  const auto read = RunCommand({"python3", "-c",
                                "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\nz.setpassword(b'secret')\n"
                                "sys.stdout.buffer.write(z.read('sub/a.txt') + z.read('b.txt') + z.read('new.txt'))",
                                path});
  EXPECT_EQ(read.output, Pattern(5000, 3) + "bbb\nnew\n");
}

TEST(AbZipSave, AutoSaveAddsOneFileAfterAnotherAndCommentIsWritten) {
  TempDir dir;
  WriteFile(dir.File("a.txt"), "first\n");
  WriteFile(dir.File("b.txt"), "second\n");
  const std::string path = dir.File("auto.zip");
  {
    auto zip = NewZip(path);
    zip->SetAutoSave(true);
    zip->SetStoreOptions({soStripPath});
    zip->AddFiles(dir.File("a.txt"), 63);
    zip->AddFiles(dir.File("b.txt"), 63);
    zip->SetZipfileComment("station archive");
    zip->Save();
  }
  EXPECT_EQ(PythonRead(path, "a.txt"), "first\n");
  EXPECT_EQ(PythonRead(path, "b.txt"), "second\n");
  const auto comment =
      RunCommand({"python3", "-c", "import sys, zipfile\nprint(zipfile.ZipFile(sys.argv[1]).comment.decode())", path});
  EXPECT_EQ(comment.output, "station archive\n");
  auto again = OpenZip(path);
  EXPECT_EQ(again->ZipfileComment(), "station archive");
  EXPECT_EQ(again->ItemCount(), 2);
}

TEST(AbZipSave, BeyondTheFormatsLimitsNothingIsWritten) {
  TempDir dir;
  WriteFile(dir.File("a.txt"), "keep me\n");
  const std::string path = dir.File("limits.zip");
  ASSERT_EQ(RunCommand({"zip", "-q", "-j", path, dir.File("a.txt")}).exit_code, 0);
  const std::string before = ReadFile(path);
  auto zip = OpenZip(path);
  // An entry whose compressed data would not fit a 32-bit size.
  zip->InsertFromStreamHelper = [](TAbZipArchive&, TAbZipItem&, TStream& Out, TStream*) {
    Out.SetSize(0x100000001ll);
  };
  TStringStream in("data");
  zip->SetInStream(&in);
  auto item = zip->CreateItem(dir.File("huge.bin"));
  zip->Add(std::move(item));
  zip->Items(1)->SetAction(aaStreamAdd);
  try {
    zip->Save();
    ADD_FAILURE() << "saved";
  } catch (const EAbZipException& e) {
    EXPECT_NE(e.Message().find("4 GB"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(ReadFile(path), before);
  // The archive is still readable.
  TMemoryStream a;
  zip->ExtractToStream("a.txt", a);
  EXPECT_EQ(a.Size(), 8);
}

TEST(AbZipSave, MissingHandlersAndSpannedArchivesRaise) {
  TempDir dir;
  WriteFile(dir.File("a.txt"), Pattern(3000, 5));
  const std::string path = dir.File("h.zip");
  {
    TAbZipArchive zip(path, kCreate);
    zip.AddFiles(dir.File("a.txt"), 63);
    EXPECT_THROW(zip.Save(), EAbZipNoInsertion);
    EXPECT_THROW(zip.TestItemAt(0), EAbZipNoExtraction);
  }
  // A save over a threshold spreads over volumes, after which the set is not rewritten.
  {
    auto zip = NewZip(path);
    zip->SetCompressionMethodToUse(smStored);
    zip->SetSpanningThreshold(1200);
    zip->SetStoreOptions({soStripPath});
    zip->AddFiles(dir.File("a.txt"), 63);
    zip->Save();
    EXPECT_TRUE(zip->Spanned());
    zip->SetIsDirty(true);
    EXPECT_THROW(zip->Save(), EAbZipSpanOverwrite);
  }
  EXPECT_LE(FileSize(path), 1200);
  EXPECT_EQ(ReadFile(path).substr(0, 4), std::string("PK\x07\x08", 4));
  EXPECT_GT(FileSize(dir.File("h.z01")), 0);
  // Loading the set finds the end record on the last volume by the numbered names.
  auto back = OpenZip(path);
  ASSERT_EQ(back->ItemCount(), 1);
  EXPECT_EQ(back->Items(0)->FileName(), "a.txt");
  EXPECT_TRUE(back->Spanned());
  EXPECT_TRUE(back->AutoNamedVolumes());
}

TEST(AbZipNames, FixNameFollowsTheStoreOptions) {
  TempDir dir;
  TAbZipArchive zip(dir.File("n.zip"), kCreate);
  struct Case {
    TAbStoreOptions options;
    std::string name;
    std::string stored;
  };
  const std::vector<Case> cases = {
      {{}, "C:\\Data\\Sub\\file.txt", "Data/Sub/file.txt"},
      {{}, "/home/user/file.txt", "home/user/file.txt"},
      {{soStripPath}, "C:\\Data\\Sub\\file.txt", "file.txt"},
      {{soStripPath}, "/home/user/file.txt", "file.txt"},
      {{soRemoveDots}, "..\\..\\up\\file.txt", "up/file.txt"},
      {{}, "\\\\server\\share\\dir\\f.txt", "dir/f.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zip.SetStoreOptions(c.options);
    EXPECT_EQ(zip.FixName(c.name), c.stored);
    EXPECT_TRUE(zip.StoreOptions().Contains(soStripDrive));
  }
}

}  // namespace
}  // namespace pelvar
