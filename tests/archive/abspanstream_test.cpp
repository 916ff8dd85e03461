// The span stream: one archive file, or a set of volumes when a size limit is hit.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "archive/abexcept.h"
#include "archive/abspanstream.h"
#include "support/process.h"

namespace pelvar {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 23);
  return s;
}

constexpr uint16_t kReadMode = fmOpenRead | fmShareDenyNone;
constexpr uint16_t kWriteMode = fmOpenWrite | fmShareDenyWrite;

TEST(AbSpanStreamTest, NeedsAFullPath) {
  for (const char* name : {"archive.zip", "dir\\archive.zip", "sub/archive.zip", ""}) {
    try {
      TAbSpanStream s(name, 0, mtLocal, TAbSpanStream::kCreateMode);
      FAIL() << name;
    } catch (const EAbException& e) {
      EXPECT_EQ(e.Message(), "Full Path Required") << name;
    }
  }
}

TEST(AbSpanStreamTest, ModeDecidesReadingOrWriting) {
  TempDir dir("abspan");
  const std::string file = dir.File("a.zip");
  {
    TAbSpanStream created(file, 0, mtLocal, TAbSpanStream::kCreateMode);
    EXPECT_EQ(created.SpanMode(), smWriting);
    EXPECT_TRUE(Exists(file));
    created.WriteBuffer("hello", 5);
    // A writer reports its position whatever it is asked.
    EXPECT_EQ(created.Seek(0, TSeekOrigin::soBeginning), 5);
    EXPECT_EQ(created.TotalBytesWritten(), 5);
  }
  {
    TAbSpanStream reader(file, 0, mtLocal, kReadMode);
    EXPECT_EQ(reader.SpanMode(), smReading);
    EXPECT_EQ(reader.Write("xx", 2), 0);
    EXPECT_EQ(reader.Size(), 5);
    char buf[8] = {};
    EXPECT_EQ(reader.Read(buf, 8), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
  }
  {
    TAbSpanStream writer(file, 0, mtLocal, kWriteMode);
    EXPECT_EQ(writer.SpanMode(), smWriting);
    writer.SetSize(0);
    writer.WriteBuffer("ab", 2);
  }
  EXPECT_EQ(ReadFile(file), "ab");
  // Reading a file that is not there fails as the file stream does.
  EXPECT_THROW(TAbSpanStream(dir.File("none.zip"), 0, mtLocal, kReadMode), EFOpenError);
}

TEST(AbSpanStreamTest, SeekingWhileReadingStaysWithinTheVolume) {
  TempDir dir("abspan");
  const std::string file = dir.File("a.zip");
  WriteFile(file, Pattern(100));
  TAbSpanStream s(file, 0, mtLocal, kReadMode);
  EXPECT_EQ(s.Seek(40, TSeekOrigin::soBeginning), 40);
  EXPECT_EQ(s.Seek(10, TSeekOrigin::soCurrent), 50);
  EXPECT_EQ(s.Seek(-22, TSeekOrigin::soEnd), 78);
  EXPECT_EQ(s.Seek(0, static_cast<TSeekOrigin>(9)), 78);  // an unknown origin keeps it
  EXPECT_EQ(s.Seek(500, TSeekOrigin::soBeginning), 78);   // outside: the position stays
  EXPECT_EQ(s.Seek(-1, TSeekOrigin::soBeginning), 78);
  s.SetIgnoreSpanning(true);
  EXPECT_EQ(s.Seek(500, TSeekOrigin::soBeginning), 100);  // clamped
  EXPECT_EQ(s.Seek(-1, TSeekOrigin::soBeginning), 0);
}

TEST(AbSpanStreamTest, WritingBeyondTheThresholdStartsNumberedVolumes) {
  TempDir dir("abspan");
  const std::string file = dir.File("set.zip");
  const std::string data = Pattern(2500);
  std::vector<std::pair<int32_t, AnsiString>> asked;
  {
    TAbSpanStream s(file, 1000, mtLocal, TAbSpanStream::kCreateMode);
    s.OnRequestImage = [&](TObject* sender, int32_t number, bool& cancelled, AnsiString& name) {
      EXPECT_EQ(sender, static_cast<TObject*>(&s));
      asked.emplace_back(number, name);
      cancelled = false;
    };
    s.WriteBuffer(data.data(), 600);
    s.WriteBuffer(data.data() + 600, 1900);
    EXPECT_EQ(s.SpanNumber(), 2);
    EXPECT_EQ(s.ImageName(), dir.File("set.z02"));
    EXPECT_EQ(s.BytesWritten(), 500);
    EXPECT_EQ(s.TotalBytesWritten(), 2500);
    EXPECT_TRUE(s.InCharge());
  }
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0], std::make_pair(1, AnsiString(dir.File("set.z01"))));
  EXPECT_EQ(asked[1], std::make_pair(2, AnsiString(dir.File("set.z02"))));
  EXPECT_EQ(ReadFile(file), data.substr(0, 1000));
  EXPECT_EQ(ReadFile(dir.File("set.z01")), data.substr(1000, 1000));
  EXPECT_EQ(ReadFile(dir.File("set.z02")), data.substr(2000));

  // Reading the set back through a handler that names the volumes in turn.
  {
    const std::vector<std::string> names = {dir.File("set.z01"), dir.File("set.z02")};
    TAbSpanStream r(file, 0, mtLocal, kReadMode);
    std::vector<int32_t> numbers;
    r.OnRequestImage = [&](TObject*, int32_t number, bool&, AnsiString& name) {
      numbers.push_back(number);
      name = names.at(static_cast<size_t>(number - 1));
    };
    std::string back(2500, '\0');
    r.ReadBuffer(back.data(), 2500);
    EXPECT_EQ(back, data);
    EXPECT_EQ(numbers, (std::vector<int32_t>{1, 2}));
  }
  // Without a handler the first volume is all there is.
  {
    TAbSpanStream r(file, 0, mtLocal, kReadMode);
    std::string back(2500, '\0');
    EXPECT_EQ(r.Read(back.data(), 2500), 1000);
    EXPECT_EQ(r.Read(back.data(), 10), 0);
  }
}

TEST(AbSpanStreamTest, VolumeRequestsThatCannotBeMet) {
  TempDir dir("abspan");
  const std::string file = dir.File("set.zip");
  const std::string data = Pattern(300);
  // Writing past the threshold without a handler, or cancelled.
  {
    TAbSpanStream s(file, 100, mtLocal, TAbSpanStream::kCreateMode);
    EXPECT_THROW(s.Write(data.data(), 300), EAbSpanningNotSupported);
  }
  {
    TAbSpanStream s(file, 100, mtLocal, TAbSpanStream::kCreateMode);
    s.OnRequestImage = [](TObject*, int32_t, bool& cancelled, AnsiString&) { cancelled = true; };
    EXPECT_THROW(s.Write(data.data(), 300), EAbUserAbort);
    EXPECT_TRUE(s.Cancelled());
  }
  {
    TAbSpanStream s(file, 100, mtLocal, TAbSpanStream::kCreateMode);
    s.OnRequestImage = [](TObject*, int32_t, bool&, AnsiString& name) { name = "relative.z01"; };
    EXPECT_THROW(s.Write(data.data(), 300), EAbException);
  }
  // Reading on into a volume that is not there, or cancelled.
  WriteFile(file, data);
  {
    TAbSpanStream r(file, 0, mtLocal, kReadMode);
    r.OnRequestImage = [&](TObject*, int32_t, bool&, AnsiString& name) { name = dir.File("gone.z01"); };
    std::string back(400, '\0');
    EXPECT_THROW(r.Read(back.data(), 400), EAbFileNotFound);
  }
  {
    TAbSpanStream r(file, 0, mtLocal, kReadMode);
    r.OnRequestImage = [&](TObject*, int32_t, bool& cancelled, AnsiString&) { cancelled = true; };
    std::string back(400, '\0');
    EXPECT_THROW(r.Read(back.data(), 400), EAbUserAbort);
  }
  {
    TAbSpanStream r(file, 0, mtLocal, kReadMode);
    r.OnRequestImage = [&](TObject*, int32_t, bool&, AnsiString& name) { name = dir.File("gone.z01"); };
    try {
      r.GotoNextVolume();
      FAIL();
    } catch (const EAbException& e) {
      EXPECT_EQ(e.Message(), "Cannot open spanned file: " + dir.File("gone.z01"));
    }
    EXPECT_EQ(r.SpanNumber(), 0);
  }
}

TEST(AbSpanStreamTest, GotoNextVolumeAdvancesByOne) {
  TempDir dir("abspan");
  const std::string file = dir.File("set.zip");
  TAbSpanStream s(file, 0, mtLocal, TAbSpanStream::kCreateMode);
  s.OnRequestImage = [](TObject*, int32_t, bool&, AnsiString&) {};
  s.WriteBuffer("one", 3);
  s.GotoNextVolume();
  EXPECT_EQ(s.SpanNumber(), 1);
  s.WriteBuffer("two", 3);
  s.GotoNextVolume();
  EXPECT_EQ(s.SpanNumber(), 2);
  s.WriteBuffer("three", 5);
  s.ReleaseVolume();
  EXPECT_EQ(ReadFile(file), "one");
  EXPECT_EQ(ReadFile(dir.File("set.z01")), "two");
  EXPECT_EQ(ReadFile(dir.File("set.z02")), "three");
}

TEST(AbSpanStreamTest, WriteProgressAndAbort) {
  TempDir dir("abspan");
  TAbSpanStream s(dir.File("a.zip"), 0, mtLocal, TAbSpanStream::kCreateMode);
  s.SetArchiveTotalSize(400);
  std::vector<int> seen;
  bool abort_next = false;
  s.OnArchiveProgress = [&](uint8_t progress, bool& abort) {
    seen.push_back(progress);
    abort = abort_next;
  };
  const std::string data = Pattern(100);
  s.WriteBuffer(data.data(), 100);
  s.WriteBuffer(data.data(), 100);
  EXPECT_EQ(seen, (std::vector<int>{25, 50}));
  abort_next = true;
  EXPECT_EQ(s.Write(data.data(), 100), 0);
  EXPECT_THROW(s.WriteBuffer(data.data(), 100), EWriteError);
}

}  // namespace
}  // namespace pelvar
