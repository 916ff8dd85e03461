// Tar archives against GNU tar: what the kit writes lists and extracts byte-exactly,
// what GNU tar writes (ustar and gnu formats, long names) is read back, and fields
// never overflow.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/abtartyp.h"
#include "platform/codepage.h"
#include "support/process.h"

namespace pelvar {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::RunShell;
using test::TempDir;
using test::WriteFile;

constexpr uint16_t kOpenReadWrite = fmOpenReadWrite | fmShareDenyNone;  // as the zip kit opens tar files
constexpr uint16_t kCreate = 0xFFFF;

std::string Pattern(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
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

std::string Extract(TAbArchive& archive, const AnsiString& name) {
  TMemoryStream out;
  archive.ExtractToStream(name, out);
  return std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size()));
}

TEST(AbTarFields, OctalTextAsWrittenAndRead) {
  struct Case {
    int64_t value;
    int32_t width;
    std::string text;
  };
  const std::vector<Case> cases = {
      {0744, 8, "    744 "},
      {1000, 12, "       1750 "},
      {0, 8, "      0 "},
      {077777777, 12, "   77777777 "},
      {07777777, 8, "7777777 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    char field[16];
    std::memset(field, 'Z', sizeof field);
    AbPadOctalField(field, c.width, c.value);
    EXPECT_EQ(std::string(field, static_cast<size_t>(c.width)), c.text);
    EXPECT_EQ(field[c.width], 'Z');  // nothing past the field
    EXPECT_EQ(AbOctalValue(field, c.width), c.value);
  }
  // A value too wide for its field is refused, the field untouched.
  char field[8];
  std::memset(field, 'Z', sizeof field);
  EXPECT_THROW(AbPadOctalField(field, 8, 010000000), EAbException);
  EXPECT_EQ(std::string(field, 8), "ZZZZZZZZ");

  struct Read {
    std::string text;
    int64_t value;
  };
  for (const Read& r : {Read{"0000644", 0644}, Read{std::string("000644 \0", 8), 0644}, Read{"        ", 0},
                        Read{"  17x77 ", 017}}) {
    EXPECT_EQ(AbOctalValue(r.text.data(), static_cast<int32_t>(r.text.size())), r.value) << r.text;
  }
}

TEST(AbTarWrite, KitArchiveListsAndExtractsWithGnuTar) {
  TempDir dir;
  WriteFile(dir.File("thousand.bin"), Pattern(1000, 1));
  WriteFile(dir.File("text.txt"), "hello tar\n");
  WriteFile(dir.File("empty.dat"), "");
  const std::string path = dir.File("kit.tar");
  {
    TAbTarArchive tar(path, kCreate);
    tar.SetStoreOptions({soStripPath});
    for (const char* name : {"thousand.bin", "text.txt", "empty.dat"}) tar.AddFiles(dir.File(name), 63);
    ASSERT_EQ(tar.ItemCount(), 3);
    tar.Save();
  }
  const std::string bytes = ReadFile(path);
  // 1,000 bytes of data take two blocks: the next header is 1,536 bytes on.
  ASSERT_EQ(bytes.size(), 512u * (1 + 2 + 1 + 1 + 1 + 1));
  EXPECT_EQ(bytes.substr(124, 12), "       1750 ");
  EXPECT_EQ(bytes.substr(1536, 8), "text.txt");
  EXPECT_EQ(bytes.substr(257, 8), std::string("ustar  \0", 8));
  EXPECT_EQ(bytes.substr(bytes.size() - 512), std::string(512, '\0'));

  const auto list = RunCommand({"tar", "-tvf", path});
  EXPECT_EQ(list.exit_code, 0) << list.output;
  for (const char* name : {"thousand.bin", "text.txt", "empty.dat"}) EXPECT_NE(list.output.find(name), std::string::npos);
  TempDir out;
  const auto x = RunCommand({"tar", "-xf", path, "-C", out.Path()});
  EXPECT_EQ(x.exit_code, 0) << x.output;
  EXPECT_EQ(ReadFile(out.File("thousand.bin")), Pattern(1000, 1));
  EXPECT_EQ(ReadFile(out.File("text.txt")), "hello tar\n");
  EXPECT_EQ(ReadFile(out.File("empty.dat")), "");

  // Read back by the kit: test and extract.
  TAbTarArchive back(path, kOpenReadWrite);
  back.Load();
  ASSERT_EQ(back.ItemCount(), 3);
  EXPECT_EQ(back.Items(0)->UncompressedSize(), 1000);
  back.TestItemAt(1);
  EXPECT_THROW(back.TestItemAt(3), EAbException);
  EXPECT_EQ(Extract(back, "thousand.bin"), Pattern(1000, 1));
  TMemoryStream none;
  EXPECT_THROW(back.ExtractItemToStreamAt(3, none), Exception);
}

TEST(AbTarWrite, EmptyArchiveIsOneZeroBlock) {
  TempDir dir;
  const std::string path = dir.File("empty.tar");
  { TAbTarArchive(path, kCreate).Save(); }
  EXPECT_EQ(ReadFile(path), std::string(512, '\0'));
  EXPECT_EQ(RunCommand({"tar", "-tf", path}).exit_code, 0);
  TAbTarArchive back(path, kOpenReadWrite);
  back.Load();
  EXPECT_EQ(back.ItemCount(), 0);
}

TEST(AbTarRead, GnuTarFormatsAndLongNamesReadBack) {
  TempDir dir;
  const std::string long_dir = std::string(60, 'd') + "/" + std::string(50, 'e');
  ASSERT_EQ(RunCommand({"mkdir", "-p", dir.File("src/" + long_dir)}).exit_code, 0);
  WriteFile(dir.File("src/a.txt"), "alpha\n");
  WriteFile(dir.File("src/b.bin"), Pattern(70000, 2));
  const std::string long_name = long_dir + "/" + std::string(30, 'f') + ".txt";
  WriteFile(dir.File("src/" + long_name), "deep\n");
  for (const std::string format : {"ustar", "gnu"}) {
    SCOPED_TRACE(format);
    const std::string path = dir.File(format + ".tar");
    const auto made = RunCommand({"tar", "--format=" + format, "-cf", path, "-C", dir.File("src"), "a.txt", "b.bin",
                                  long_name});
    ASSERT_EQ(made.exit_code, 0) << made.output;
    TFileStream probe(path, fmOpenRead);
    EXPECT_EQ(AbTarKindOf(probe), AbTarTypeOf);
    TAbTarArchive tar(path, kOpenReadWrite);
    tar.Load();
    ASSERT_EQ(tar.ItemCount(), 3);  // the directory entries are not items
    EXPECT_EQ(tar.Items(2)->FileName(), long_name);
    EXPECT_EQ(Extract(tar, "a.txt"), "alpha\n");
    EXPECT_EQ(Extract(tar, "b.bin"), Pattern(70000, 2));
    EXPECT_EQ(Extract(tar, long_name), "deep\n");
  }
}

TEST(AbTarWrite, FieldsNeverOverflowAndLongNamesKeepTheirLength) {
  TempDir dir;
  const std::string long_name = std::string(120, 'n') + ".txt";
  WriteFile(dir.File(long_name), "long named\n");
  WriteFile(dir.File("short.txt"), "short\n");
  const std::string path = dir.File("f.tar");
  {
    TAbTarArchive tar(path, kCreate);
    tar.SetStoreOptions({soStripPath});
    tar.AddFiles(dir.File(long_name), 63);
    tar.AddFiles(dir.File("short.txt"), 63);
    tar.Save();
  }
  EXPECT_EQ(TarListing({"tar", "-tf", path}), long_name + "\nshort.txt\n");
  TempDir out;
  ASSERT_EQ(RunCommand({"tar", "-xf", path, "-C", out.Path()}).exit_code, 0);
  EXPECT_EQ(ReadFile(out.File(long_name)), "long named\n");
  {
    // Read back and saved again, the long name survives.
    TAbTarArchive tar(path, kOpenReadWrite);
    tar.Load();
    ASSERT_EQ(tar.ItemCount(), 2);
    EXPECT_EQ(tar.Items(0)->FileName(), long_name);
    tar.Items(1)->SetAction(aaDelete);
    tar.SetIsDirty(true);
    tar.Save();
  }
  EXPECT_EQ(TarListing({"tar", "-tf", path}), long_name + "\n");

  TAbTarItem item;
  EXPECT_THROW(item.SetUsrName(std::string(32, 'u')), EAbException);
  item.SetUsrName(std::string(31, 'u'));
  item.SetFileName(std::string(150, 'a'));
  const TAbTarHeaderRec rec = item.BuildHeader();
  EXPECT_EQ(rec.Name[98], 'a');
  EXPECT_EQ(rec.Name[99], '\0');
  EXPECT_EQ(rec.UsrName[31], '\0');
  item.SetUid(010000000);  // eight octal digits do not fit the eight bytes with their blank
  EXPECT_THROW(item.BuildHeader(), EAbException);
}

TEST(AbTarWrite, ShorterResaveCutsTheFileAndBadItemsAreReported) {
  TempDir dir;
  WriteFile(dir.File("big.bin"), Pattern(40000, 3));
  WriteFile(dir.File("small.txt"), "small\n");
  WriteFile(dir.File("gone.txt"), "soon gone\n");
  const std::string path = dir.File("cut.tar");
  ASSERT_EQ(RunCommand({"tar", "-cf", path, "-C", dir.Path(), "big.bin", "small.txt"}).exit_code, 0);
  const auto old_size = ReadFile(path).size();
  std::vector<std::pair<AnsiString, TAbErrorClass>> failures;
  {
    TAbTarArchive tar(path, kOpenReadWrite);
    tar.OnProcessItemFailure = [&](TObject*, TAbArchiveItem* Item, TAbProcessType Type, TAbErrorClass Class, int32_t) {
      EXPECT_EQ(Type, ptAdd);
      failures.emplace_back(Item->FileName(), Class);
    };
    tar.SetStoreOptions({soStripPath});
    tar.Load();
    tar.Items(0)->SetAction(aaDelete);
    tar.AddFiles(dir.File("gone.txt"), 63);
    ::unlink(dir.File("gone.txt").c_str());  // vanishes before the save
    tar.Save();
    EXPECT_EQ(tar.ItemCount(), 1);
  }
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].first, "gone.txt");
  EXPECT_EQ(failures[0].second, ecFileOpenError);
  const std::string bytes = ReadFile(path);
  EXPECT_LT(bytes.size(), old_size);
  EXPECT_EQ(bytes.size(), 512u * 3);
  EXPECT_EQ(TarListing({"tar", "-tf", path}), "small.txt\n");
}

TEST(AbTarWrite, ResaveKeepsDirectoriesAndLinksOfGnuTar) {
  TempDir dir;
  ASSERT_EQ(RunCommand({"sh", "-c",
                        "cd " + dir.Path() + " && mkdir -p src/sub && echo one > src/sub/one.txt && "
                        "ln -s sub/one.txt src/link && echo two > src/two.txt && echo new > new.txt"})
                .exit_code,
            0);
  const std::string path = dir.File("mixed.tar");
  ASSERT_EQ(RunCommand({"tar", "-cf", path, "-C", dir.File("src"), "sub", "link", "two.txt"}).exit_code, 0);
  {
    TAbTarArchive tar(path, kOpenReadWrite);
    tar.Load();
    ASSERT_EQ(tar.ItemCount(), 2);  // sub/one.txt and two.txt
    tar.SetStoreOptions({soStripPath});
    tar.AddFiles(dir.File("new.txt"), 63);
    tar.Save();
  }
  EXPECT_EQ(TarListing({"tar", "-tf", path}), "sub/\nsub/one.txt\nlink\ntwo.txt\nnew.txt\n");
  TempDir out;
  ASSERT_EQ(RunCommand({"tar", "-xf", path, "-C", out.Path()}).exit_code, 0);
  EXPECT_EQ(ReadFile(out.File("link")), "one\n");  // through the link
  EXPECT_EQ(ReadFile(out.File("new.txt")), "new\n");
}

TEST(AbTarRead, NonTarFileIsRefusedAndKept) {
  TempDir dir;
  const std::string content = "not a tar archive\n" + std::string(2000, 'z');
  WriteFile(dir.File("fake.tar"), content);
  {
    TAbTarArchive tar(dir.File("fake.tar"), kOpenReadWrite);
    EXPECT_THROW(tar.Load(), EAbException);
    tar.Save();
  }
  EXPECT_EQ(ReadFile(dir.File("fake.tar")), content);
}

TEST(AbTarExtract, ToFilesInsideTheBaseDirectoryOnly) {
  TempDir dir;
  const std::string path = dir.File("evil.tar");
  ASSERT_EQ(RunCommand({"python3", "-c",
                        "import sys, tarfile, io\n"
                        "t = tarfile.open(sys.argv[1], 'w', format=tarfile.GNU_FORMAT)\n"
                        "for name, data in (('ok.txt', b'fine'), ('../evil.txt', b'evil'),\n"
                        "                   ('line\\nfeed.txt', b'lf'), ('esc\\x1b[2J/x.txt', b'esc')):\n"
                        "    i = tarfile.TarInfo(name); i.size = len(data); i.mtime = 1700000000\n"
                        "    t.addfile(i, io.BytesIO(data))\n"
                        "t.close()",
                        path})
                .exit_code,
            0);
  ASSERT_EQ(RunCommand({"mkdir", dir.File("out")}).exit_code, 0);
  TAbTarArchive tar(path, kOpenReadWrite);
  tar.Load();
  tar.SetBaseDirectory(dir.File("out"));
  tar.SetExtractOptions({eoRestorePath});
  int failures = 0;
  tar.OnProcessItemFailure = [&](TObject*, TAbArchiveItem*, TAbProcessType Type, TAbErrorClass Class, int32_t Code) {
    EXPECT_EQ(Type, ptExtract);
    // The report says why: an unsafe stored name.
    EXPECT_EQ(Class, ecArchiveKit);
    EXPECT_EQ(Code, AbUnsafeName);
    ++failures;
  };
  ASSERT_EQ(tar.ItemCount(), 4);
  for (int32_t i = 0; i < tar.ItemCount(); ++i) tar.ExtractItemAt(i, tar.Items(i)->FileName());
  EXPECT_EQ(ReadFile(dir.File("out/ok.txt")), "fine");
  // A name leading outside, or holding a line feed or an escape sequence, makes
  // neither a file nor a folder.
  EXPECT_EQ(failures, 3);
  EXPECT_FALSE(Exists(dir.File("evil.txt")));
  EXPECT_EQ(RunShell("ls -A " + dir.File("out")).output, "ok.txt\n");
  // The file takes the item's date.
  struct stat st;
  ASSERT_EQ(::stat(dir.File("out/ok.txt").c_str(), &st), 0);
  const int32_t stamp = static_cast<int32_t>((static_cast<uint32_t>(tar.Items(0)->LastModFileDate()) << 16) |
                                             tar.Items(0)->LastModFileTime());
  EXPECT_EQ(AbFileAge(dir.File("out/ok.txt")), stamp);
}

}  // namespace
}  // namespace pelvar
