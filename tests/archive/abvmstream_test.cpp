// The virtual-memory stream: pages in memory within a budget, the rest in a swap file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <random>
#include <string>

#include "archive/abexcept.h"
#include "archive/abvmstream.h"
#include "support/process.h"

namespace pelvar {
namespace {

using test::TempDir;

bool Exists(const AnsiString& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

std::string ReadAll(TStream& s) {
  std::string out(static_cast<size_t>(s.Size()), '\0');
  s.SetPosition(0);
  if (!out.empty()) s.ReadBuffer(out.data(), static_cast<int64_t>(out.size()));
  return out;
}

TEST(AbVirtualMemoryStreamTest, MegabyteRoundTripSpillsToASwapFileThatGoesAway) {
  TempDir dir("abvm");
  const std::string data = RandomBytes(1 << 20, 7);
  AnsiString swap_name;
  {
    TAbVirtualMemoryStream vm;
    vm.SetSwapFileDirectory(dir.Path());
    EXPECT_EQ(vm.MemSize(), 102400);
    // Uneven pieces, so that writes straddle page boundaries.
    size_t done = 0;
    for (size_t piece = 1; done < data.size(); piece = piece * 3 % 10007 + 1) {
      const size_t n = std::min(piece, data.size() - done);
      vm.WriteBuffer(data.data() + done, static_cast<int64_t>(n));
      done += n;
    }
    EXPECT_EQ(vm.Size(), 1 << 20);
    EXPECT_LE(vm.PageCount(), 25);
    swap_name = vm.SwapFileName();
    ASSERT_FALSE(swap_name.empty());
    EXPECT_EQ(swap_name.rfind(dir.Path() + "/", 0), 0u) << swap_name;
    EXPECT_TRUE(Exists(swap_name));
    EXPECT_EQ(ReadAll(vm), data);
    EXPECT_LE(vm.PageCount(), 25);
  }
  EXPECT_FALSE(Exists(swap_name));
}

TEST(AbVirtualMemoryStreamTest, SmallStreamNeedsNoSwapFile) {
  TAbVirtualMemoryStream vm;
  const std::string data = RandomBytes(100000, 1);
  vm.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  EXPECT_TRUE(vm.SwapFileName().empty());
  EXPECT_EQ(ReadAll(vm), data);
}

// Random reads, writes, seeks and size changes against a plain string, with a budget
// of two pages so that nearly every step goes through the swap file.
TEST(AbVirtualMemoryStreamTest, MatchesAPlainBufferUnderRandomUse) {
  TempDir dir("abvm");
  TAbVirtualMemoryStream vm;
  vm.SetSwapFileDirectory(dir.Path());
  vm.SetMemSize(8000);
  ASSERT_EQ(vm.MemSize(), 8192);
  std::string model;
  int64_t pos = 0;
  std::mt19937 gen(42);
  for (int step = 0; step < 3000; ++step) {
    const int op = static_cast<int>(gen() % 10);
    if (op < 4) {
      const std::string chunk = RandomBytes(gen() % 9000, static_cast<uint32_t>(step));
      ASSERT_EQ(vm.Write(chunk.data(), static_cast<int32_t>(chunk.size())), static_cast<int32_t>(chunk.size()));
      if (model.size() < pos + chunk.size()) model.resize(static_cast<size_t>(pos) + chunk.size());
      model.replace(static_cast<size_t>(pos), chunk.size(), chunk);
      pos += static_cast<int64_t>(chunk.size());
    } else if (op < 7) {
      std::string buf(gen() % 9000, '\0');
      const int32_t got = vm.Read(buf.data(), static_cast<int32_t>(buf.size()));
      const auto expect = static_cast<int32_t>(std::min<int64_t>(buf.size(), static_cast<int64_t>(model.size()) - pos));
      ASSERT_EQ(got, expect) << "step " << step;
      ASSERT_EQ(buf.substr(0, static_cast<size_t>(got)), model.substr(static_cast<size_t>(pos), static_cast<size_t>(got)))
          << "step " << step;
      pos += got;
    } else if (op < 9) {
      pos = model.empty() ? 0 : static_cast<int64_t>(gen() % (model.size() + 1));
      ASSERT_EQ(vm.Seek(pos, TSeekOrigin::soBeginning), pos);
    } else {
      // Only shrinking: a grown tail has no defined content.
      const auto size = model.empty() ? 0 : static_cast<int64_t>(gen() % (model.size() + 1));
      vm.SetSize(size);
      model.resize(static_cast<size_t>(size));
      pos = std::min(pos, size);
      ASSERT_EQ(vm.Position(), pos);
    }
    ASSERT_EQ(vm.Size(), static_cast<int64_t>(model.size()));
    ASSERT_LE(vm.PageCount(), 2);
  }
  EXPECT_EQ(ReadAll(vm), model);
}

TEST(AbVirtualMemoryStreamTest, ReadingStopsAtTheSize) {
  TAbVirtualMemoryStream vm;
  const std::string data = RandomBytes(10000, 3);
  vm.WriteBuffer(data.data(), 10000);
  char buf[5000];
  vm.Seek(9000, TSeekOrigin::soBeginning);
  EXPECT_EQ(vm.Read(buf, 5000), 1000);
  EXPECT_EQ(std::string(buf, 1000), data.substr(9000));
  EXPECT_EQ(vm.Read(buf, 5000), 0);
  vm.Seek(2000, TSeekOrigin::soEnd);  // beyond the size: nothing to read
  EXPECT_EQ(vm.Read(buf, 10), 0);
  vm.Seek(-5, TSeekOrigin::soBeginning);  // before the start: nothing either
  EXPECT_EQ(vm.Read(buf, 10), 0);
  EXPECT_EQ(vm.Write(buf, 10), 0);
  EXPECT_EQ(vm.Size(), 10000);
}

TEST(AbVirtualMemoryStreamTest, ShrinkingDropsThePagesBeyondTheNewSize) {
  TAbVirtualMemoryStream vm;
  const std::string data = RandomBytes(20000, 4);
  vm.WriteBuffer(data.data(), 20000);
  ASSERT_EQ(vm.PageOffsets(), (std::vector<int64_t>{0, 4096, 8192, 12288, 16384}));
  vm.SetSize(5000);
  EXPECT_EQ(vm.PageOffsets(), (std::vector<int64_t>{0, 4096}));
  EXPECT_EQ(vm.Size(), 5000);
  EXPECT_EQ(vm.Position(), 5000);
  EXPECT_EQ(ReadAll(vm), data.substr(0, 5000));
}

TEST(AbVirtualMemoryStreamTest, ShrinkingCutsTheSwapFileToWholePages) {
  TempDir dir("abvm");
  TAbVirtualMemoryStream vm;
  vm.SetSwapFileDirectory(dir.Path());
  vm.SetMemSize(1);
  const std::string data = RandomBytes(40000, 5);
  vm.WriteBuffer(data.data(), 40000);
  ASSERT_GE(vm.SwapFileSize(), 32768);
  vm.SetSize(5000);
  EXPECT_EQ(vm.SwapFileSize(), 8192);
  EXPECT_EQ(ReadAll(vm), data.substr(0, 5000));
  // Growing again reads the swapped pages that were kept, zeros beyond them.
  vm.SetSize(12000);
  EXPECT_EQ(ReadAll(vm).substr(0, 5000), data.substr(0, 5000));
  EXPECT_EQ(ReadAll(vm).substr(8192), std::string(12000 - 8192, '\0'));
}

TEST(AbVirtualMemoryStreamTest, MemoryBudgetIsWholePagesFromOneTo256) {
  struct Case {
    int32_t asked, pages;
  };
  for (const Case c : {Case{1, 1}, Case{4096, 1}, Case{4097, 2}, Case{102400, 25}, Case{1 << 20, 256},
                       Case{1 << 24, 256}, Case{0, 1}, Case{-5, 1}}) {
    TAbVirtualMemoryStream vm;
    vm.SetMemSize(c.asked);
    EXPECT_EQ(vm.MemSize(), c.pages * 4096) << c.asked;
  }
}

TEST(AbVirtualMemoryStreamTest, Failures) {
  TAbVirtualMemoryStream vm;
  try {
    vm.Seek(0, static_cast<TSeekOrigin>(3));
    FAIL() << "no exception";
  } catch (const EAbQorInvalidOrigin& e) {
    EXPECT_EQ(e.ErrorCode(), 201);
  }

  // A swap file that cannot be made.
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", "/nonexistent-pelvar-dir", 1);
  {
    TAbVirtualMemoryStream spill;
    spill.SetSwapFileDirectory("/nonexistent-pelvar-dir/too");
    spill.SetMemSize(1);
    const std::string data = RandomBytes(10000, 6);
    EXPECT_THROW(spill.WriteBuffer(data.data(), 10000), EAbQorErrorOpenSwap);
  }
  if (old) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");
}

}  // namespace
}  // namespace pelvar
