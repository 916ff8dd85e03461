// Gzip archives against gzip and GNU tar: the kit's members pass gzip -t and give the
// input back, gzip's own output and gzipped tars are read, damaged tails are caught,
// and one gzip never gets a second file without a tail of its own. Also the
// bit-bucket stream that tests expand into.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/abbitbkt.h"
#include "archive/abgztyp.h"
#include "support/process.h"

namespace pelvar {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

constexpr uint16_t kOpenReadWrite = fmOpenReadWrite | fmShareDenyNone;
constexpr uint16_t kCreate = 0xFFFF;

std::string Text(size_t n) {
  std::string s;
  for (size_t i = 0; s.size() < n; ++i) s += "line " + std::to_string(i * 7919 % 1000) + " of the station data\n";
  s.resize(n);
  return s;
}

// A listing of GNU tar without its notice about the kit's single end block (the
// format's end; GNU tar writes two and mentions a lone one).
std::string TarListing(const std::vector<std::string>& argv) {
  const auto r = RunCommand(argv);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  std::string out;
  size_t start = 0;
  while (start < r.output.size()) {
    size_t end = r.output.find('\n', start);
    if (end == std::string::npos) end = r.output.size();
    const std::string line = r.output.substr(start, end - start);
    if (line.rfind("tar: A lone zero block", 0) != 0) out += line + "\n";
    start = end + 1;
  }
  return out;
}

std::string Extract(TAbArchive& archive, int32_t index) {
  TMemoryStream out;
  archive.ExtractItemToStreamAt(index, out);
  return std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size()));
}

int32_t KindOf(const std::string& path) {
  TFileStream file(path, fmOpenRead);
  return AbGzipKindOf(file);
}

TEST(AbGzipWrite, KitMemberPassesGzipAndGivesTheInputBack) {
  TempDir dir;
  WriteFile(dir.File("data.txt"), Text(300000));
  const std::string path = dir.File("data.txt.gz");
  {
    TAbGzipArchive gz(path, kCreate);
    gz.AddFiles(dir.File("data.txt"), 63);
    ASSERT_EQ(gz.ItemCount(), 1);
    EXPECT_EQ(gz.Items(0)->FileName(), "data.txt");
    gz.Save();
    EXPECT_EQ(gz.Items(0)->UncompressedSize(), 300000);
  }
  const auto t = RunCommand({"gzip", "-t", path});
  EXPECT_EQ(t.exit_code, 0) << t.output;
  EXPECT_EQ(RunCommand({"gzip", "-dc", path}).output, Text(300000));
  EXPECT_NE(RunCommand({"gzip", "-lN", path}).output.find("data.txt"), std::string::npos);
  EXPECT_EQ(KindOf(path), AbGzipTypeOf);

  // Saved again unchanged in content, the member is rebuilt and still right.
  {
    TAbGzipArchive gz(path, kOpenReadWrite);
    gz.Load();
    gz.SetIsDirty(true);
    gz.Save();
  }
  EXPECT_EQ(RunCommand({"gzip", "-dc", path}).output, Text(300000));
}

TEST(AbGzipRead, GzipOutputIsReadWithAndWithoutName) {
  TempDir dir;
  WriteFile(dir.File("named.txt"), Text(50000));
  ASSERT_EQ(RunCommand({"gzip", "-9", "-k", dir.File("named.txt")}).exit_code, 0);
  const auto nameless = RunCommand({"gzip", "-9", "-n", "-c"}, Text(1234));
  WriteFile(dir.File("nameless.gz"), nameless.output);
  struct Case {
    std::string file;
    std::string name;
    std::string content;
  };
  for (const Case& c : {Case{"named.txt.gz", "named.txt", Text(50000)}, Case{"nameless.gz", "unknown", Text(1234)}}) {
    SCOPED_TRACE(c.file);
    TAbGzipArchive gz(dir.File(c.file), kOpenReadWrite);
    gz.Load();
    ASSERT_EQ(gz.ItemCount(), 1);
    EXPECT_EQ(gz.Items(0)->FileName(), c.name);
    EXPECT_EQ(gz.Items(0)->UncompressedSize(), static_cast<int32_t>(c.content.size()));
    gz.TestItemAt(0);
    EXPECT_EQ(Extract(gz, 0), c.content);
  }
}

TEST(AbGzipRead, HeaderCrcFieldIsSkipped) {
  TempDir dir;
  // gzip does not write FHCRC; a member with FEXTRA, FNAME, FCOMMENT and FHCRC made
  // by hand around zlib's deflate data.
  const auto made = RunCommand({"python3", "-c",
                                "import sys, zlib, struct\n"
                                "data = b'header crc member ' * 300\n"
                                "c = zlib.compressobj(9, zlib.DEFLATED, -15)\n"
                                "body = c.compress(data) + c.flush()\n"
                                "head = bytes([31, 139, 8, 2 | 4 | 8 | 16]) + struct.pack('<I', 1700000000) + bytes([2, 3])\n"
                                "head += struct.pack('<H', 4) + b'XYZW' + b'hc.txt\\0' + b'a comment\\0'\n"
                                "head += struct.pack('<H', zlib.crc32(head) & 0xFFFF)\n"
                                "tail = struct.pack('<II', zlib.crc32(data), len(data))\n"
                                "open(sys.argv[1], 'wb').write(head + body + tail)",
                                dir.File("hcrc.gz")});
  ASSERT_EQ(made.exit_code, 0) << made.output;
  ASSERT_EQ(RunCommand({"gzip", "-t", dir.File("hcrc.gz")}).exit_code, 0);
  TAbGzipArchive gz(dir.File("hcrc.gz"), kOpenReadWrite);
  gz.Load();
  ASSERT_EQ(gz.ItemCount(), 1);
  auto* item = static_cast<TAbGzipItem*>(gz.Items(0));
  EXPECT_EQ(item->FileName(), "hc.txt");
  EXPECT_EQ(item->FileComment(), "a comment");
  EXPECT_EQ(item->ExtraField(), "XYZW");
  std::string expected;
  for (int i = 0; i < 300; ++i) expected += "header crc member ";
  EXPECT_EQ(Extract(gz, 0), expected);
}

TEST(AbGzipRead, DamagedTailRaisesBadCrcAndBadSize) {
  TempDir dir;
  WriteFile(dir.File("d.txt"), Text(20000));
  ASSERT_EQ(RunCommand({"gzip", "-k", dir.File("d.txt")}).exit_code, 0);
  const std::string good = ReadFile(dir.File("d.txt.gz"));
  struct Case {
    size_t from_end;
    int32_t code;
  };
  for (const Case& c : {Case{8, AbGzipBadCRC}, Case{4, AbGzipBadFileSize}}) {
    SCOPED_TRACE(c.code);
    std::string bad = good;
    bad[bad.size() - c.from_end] ^= 0x01;
    WriteFile(dir.File("bad.gz"), bad);
    TAbGzipArchive gz(dir.File("bad.gz"), kOpenReadWrite);
    gz.Load();
    for (int pass = 0; pass < 2; ++pass) {
      try {
        if (pass == 0)
          gz.TestItemAt(0);
        else
          Extract(gz, 0);
        ADD_FAILURE() << "no failure";
      } catch (const EAbException& e) {
        EXPECT_EQ(e.ErrorCode(), c.code);
      }
    }
    // Through the archive model the failure is one item failure.
    int failures = 0;
    gz.OnProcessItemFailure = [&](TObject*, TAbArchiveItem*, TAbProcessType, TAbErrorClass Class, int32_t Code) {
      EXPECT_EQ(Class, ecArchiveKit);
      EXPECT_EQ(Code, c.code);
      ++failures;
    };
    TMemoryStream sink;
    gz.ExtractToStream("d.txt", sink);
    EXPECT_EQ(failures, 1);
  }
}

TEST(AbGzipWrite, OneFileOnlyAndShorterResaveCutsTheFile) {
  TempDir dir;
  WriteFile(dir.File("big.txt"), Text(200000));
  WriteFile(dir.File("a.txt"), "first file\n");
  WriteFile(dir.File("b.txt"), "second file\n");
  const std::string path = dir.File("two.gz");
  {
    TAbGzipArchive gz(path, kCreate);
    gz.AddFiles(dir.File("big.txt"), 63);
    EXPECT_THROW(gz.AddFiles(dir.File("a.txt"), 63), EAbGzipException);
    EXPECT_EQ(gz.ItemCount(), 1);
    gz.Save();
  }
  const auto big_size = ReadFile(path).size();
  {
    // The one file replaced by a much smaller one.
    TAbGzipArchive gz(path, kOpenReadWrite);
    gz.Load();
    gz.Items(0)->SetAction(aaDelete);
    gz.AddFiles(dir.File("b.txt"), 63);
    gz.Save();
    EXPECT_EQ(gz.ItemCount(), 1);
  }
  const std::string bytes = ReadFile(path);
  EXPECT_LT(bytes.size(), big_size);
  const auto t = RunCommand({"gzip", "-t", path});
  EXPECT_EQ(t.exit_code, 0) << t.output;  // no trailing garbage
  EXPECT_EQ(RunCommand({"gzip", "-dc", path}).output, "second file\n");
}

TEST(AbGzipRead, MembersOneAfterAnotherExtractWhole) {
  TempDir dir;
  const std::string one = RunCommand({"gzip", "-c"}, "part one\n").output;
  const std::string two = RunCommand({"gzip", "-c"}, "part two\n").output;
  WriteFile(dir.File("multi.gz"), one + two);
  TAbGzipArchive gz(dir.File("multi.gz"), kOpenReadWrite);
  gz.Load();
  ASSERT_EQ(gz.ItemCount(), 1);
  EXPECT_EQ(Extract(gz, 0), RunCommand({"gzip", "-dc", dir.File("multi.gz")}).output);
  gz.TestItemAt(0);
}

TEST(AbGzipRead, NonGzipIsRefusedAndKeptAndEmptyArchiveIsEmptyFile) {
  TempDir dir;
  const std::string content = "plain text, no gzip\n";
  WriteFile(dir.File("fake.gz"), content);
  {
    TAbGzipArchive gz(dir.File("fake.gz"), kOpenReadWrite);
    EXPECT_THROW(gz.Load(), EAbGzipInvalid);
    gz.Save();
  }
  EXPECT_EQ(ReadFile(dir.File("fake.gz")), content);
  EXPECT_EQ(KindOf(dir.File("fake.gz")), 0);
  { TAbGzipArchive(dir.File("new.gz"), kCreate).Save(); }
  EXPECT_EQ(ReadFile(dir.File("new.gz")), "");
}

TEST(AbGzipTar, GzippedTarIsListedExtractedAndExtended) {
  TempDir dir;
  ASSERT_EQ(RunCommand({"mkdir", dir.File("src")}).exit_code, 0);
  WriteFile(dir.File("src/a.txt"), "alpha\n");
  WriteFile(dir.File("src/b.txt"), Text(30000));
  WriteFile(dir.File("c.txt"), "added by the kit\n");
  const std::string path = dir.File("pack.tgz");
  ASSERT_EQ(RunCommand({"tar", "-czf", path, "-C", dir.File("src"), "a.txt", "b.txt"}).exit_code, 0);
  EXPECT_EQ(KindOf(path), AbGzipTarTypeOf);
  {
    TAbGzipArchive gz(path, kOpenReadWrite);
    gz.SetHoldsTar(true);
    gz.SetAutoOpenTar(true);
    gz.Load();
    EXPECT_TRUE(gz.IsTarView());
    ASSERT_EQ(gz.ItemCount(), 2);
    EXPECT_EQ(Extract(gz, 1), Text(30000));
    gz.SetStoreOptions({soStripPath});
    gz.AddFiles(dir.File("c.txt"), 63);
    gz.Save();
  }
  const auto t = RunCommand({"gzip", "-t", path});
  EXPECT_EQ(t.exit_code, 0) << t.output;
  EXPECT_EQ(TarListing({"tar", "-tzf", path}), "a.txt\nb.txt\nc.txt\n");
  TempDir out;
  ASSERT_EQ(RunCommand({"tar", "-xzf", path, "-C", out.Path()}).exit_code, 0);
  EXPECT_EQ(ReadFile(out.File("b.txt")), Text(30000));
  EXPECT_EQ(ReadFile(out.File("c.txt")), "added by the kit\n");
  // The same file in the gzip view is one member holding the tar.
  TAbGzipArchive plain(path, kOpenReadWrite);
  plain.Load();
  EXPECT_EQ(plain.ItemCount(), 1);
}

TEST(AbBitBucket, KeepsTheLastBytesOnly) {
  TAbBitBucketStream bucket(1024);
  EXPECT_EQ(bucket.Capacity(), 32768 + 1024);
  EXPECT_EQ(TAbBitBucketStream(8192).Capacity(), 8192 + 1024);
  const std::string data = Text(100000);
  std::string too_much(33793, 'x');
  EXPECT_THROW(bucket.Write(too_much.data(), 33793), EAbBBSWriteTooManyBytes);
  for (size_t at = 0; at < data.size(); at += 30000) {
    const auto n = static_cast<int32_t>(std::min<size_t>(30000, data.size() - at));
    EXPECT_EQ(bucket.Write(data.data() + at, n), n);
  }
  EXPECT_EQ(bucket.Size(), 100000);
  EXPECT_EQ(bucket.Position(), 100000);
  EXPECT_THROW(bucket.Seek(-40000, TSeekOrigin::soEnd), EAbBBSSeekOutsideBuffer);
  EXPECT_THROW(bucket.Seek(1, TSeekOrigin::soEnd), EAbBBSSeekOutsideBuffer);
  EXPECT_THROW(bucket.Seek(0, static_cast<TSeekOrigin>(7)), EAbBBSInvalidOrigin);
  EXPECT_EQ(bucket.Seek(-33792, TSeekOrigin::soEnd), 100000 - 33792);
  std::string back(33792, '\0');
  EXPECT_EQ(bucket.Read(back.data(), 33792), 33792);
  EXPECT_EQ(back, data.substr(100000 - 33792));
  bucket.Seek(-10, TSeekOrigin::soCurrent);
  EXPECT_THROW(bucket.Read(back.data(), 11), EAbBBSReadTooManyBytes);
}

}  // namespace
}  // namespace pelvar
