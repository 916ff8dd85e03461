// The sliding-window stream: writes through, keeps the recent bytes readable.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "archive/abslidingwindow.h"
#include "platform/streams.h"

namespace pelvar {
namespace {

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

void WriteInPieces(TStream& s, const std::string& data) {
  size_t done = 0;
  for (size_t piece = 1; done < data.size(); piece = piece * 7 % 32768 + 1) {
    const size_t n = std::min(piece, data.size() - done);
    ASSERT_EQ(s.Write(data.data() + done, static_cast<int32_t>(n)), static_cast<int32_t>(n));
    done += n;
  }
}

template <typename F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no exception)";
}

TEST(AbSlidingWindowStreamTest, EveryBytePassesInOrder) {
  const std::string data = RandomBytes(100000, 11);
  TStringStream out;
  {
    TabSlidingWindowStream window(out);
    WriteInPieces(window, data);
    EXPECT_EQ(window.Size(), 100000);
    // What left the window is already in the underlying stream.
    EXPECT_GE(out.DataString().size(), 100000u - 40960u);
    EXPECT_EQ(out.DataString(), data.substr(0, out.DataString().size()));
  }
  EXPECT_EQ(out.DataString(), data);
}

TEST(AbSlidingWindowStreamTest, RecentBytesReadBackOlderOnesAreGone) {
  const std::string data = RandomBytes(100000, 12);
  TStringStream out;
  TabSlidingWindowStream window(out);
  WriteInPieces(window, data);
  // At least 32 KB behind the end are always readable.
  ASSERT_LE(window.WindowStart(), 100000 - 32768);
  for (const int64_t back : {int64_t{1}, int64_t{100}, int64_t{8192}, int64_t{20000}, int64_t{32768}, 100000 - window.WindowStart()}) {
    ASSERT_EQ(window.Seek(-back, TSeekOrigin::soEnd), 100000 - back);
    std::string buf(static_cast<size_t>(back), '\0');
    int64_t got = 0;  // at most 32 KB per call
    while (got < back) {
      const int32_t n = window.Read(buf.data() + got, static_cast<int32_t>(back - got));
      ASSERT_GT(n, 0);
      ASSERT_LE(n, 32768);
      got += n;
    }
    EXPECT_EQ(buf, data.substr(static_cast<size_t>(100000 - back))) << back;
  }
  for (const int64_t target : {window.WindowStart() - 1, int64_t{0}, int64_t{100001}, int64_t{-1}}) {
    EXPECT_EQ(MessageOf([&] { window.Seek(target, TSeekOrigin::soBeginning); }),
              "TabSlidingWindowStream.Seek: invalid new position")
        << target;
  }
  EXPECT_EQ(MessageOf([&] { window.Seek(0, static_cast<TSeekOrigin>(7)); }),
            "TabSlidingWindowStream.Seek: invalid origin");
}

TEST(AbSlidingWindowStreamTest, WritesOnlyAtTheEndAndAtMost32K) {
  TStringStream out;
  TabSlidingWindowStream window(out);
  const std::string data = RandomBytes(50000, 13);
  EXPECT_EQ(window.Write(data.data(), 50000), 32768);
  EXPECT_EQ(window.Size(), 32768);
  char buf[100];
  window.Seek(-100, TSeekOrigin::soEnd);
  EXPECT_EQ(window.Read(buf, 100), 100);
  window.Seek(-100, TSeekOrigin::soEnd);
  EXPECT_EQ(MessageOf([&] { window.Write(buf, 1); }), "TabSlidingWindowStream.Write: Not at end of stream");
  window.Seek(0, TSeekOrigin::soEnd);
  EXPECT_EQ(window.Write(buf, 10), 10);
  EXPECT_EQ(window.Read(buf, 10), 0);  // nothing beyond the end
  window.Flush();
  EXPECT_EQ(out.DataString().substr(0, 32768), data.substr(0, 32768));
}

// An underlying stream that refuses to seek or to write.
class TBrokenStream : public TStream {
 public:
  explicit TBrokenStream(bool seek_ok) : seek_ok_(seek_ok) {}
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t count) override { return count / 2; }
  int64_t Seek(int64_t offset, TSeekOrigin) override { return seek_ok_ ? offset : -1; }

 private:
  bool seek_ok_;
};

TEST(AbSlidingWindowStreamTest, FlushReportsAFailingUnderlyingStream) {
  struct Case {
    bool seek_ok;
    const char* message;
  };
  for (const Case c : {Case{false, "TabSlidingWindowStream.bsWriteChunk: seek failed"},
                       Case{true, "TabSlidingWindowStream.bsWriteChunk: write failed"}}) {
    TBrokenStream broken(c.seek_ok);
    TabSlidingWindowStream window(broken);
    char buf[100] = {};
    window.Write(buf, 100);
    EXPECT_EQ(MessageOf([&] { window.Flush(); }), c.message);
    // A chunk that leaves the window is written through as well.
    std::string big(32768, 'x');
    EXPECT_EQ(MessageOf([&] {
                for (int i = 0; i < 3; ++i) window.Write(big.data(), 32768);
              }),
              c.message);
  }  // the destructors swallow the failure
}

}  // namespace
}  // namespace pelvar
