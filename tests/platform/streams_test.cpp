#include "platform/streams.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "support/process.h"

namespace pelvar {
namespace {

TEST(Streams, MemoryStreamGrowsSeeksAndCopies) {
  TMemoryStream m;
  std::string data(100000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  for (size_t i = 0; i < data.size(); i += 1000) m.WriteBuffer(data.data() + i, 1000);
  EXPECT_EQ(m.Size(), 100000);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.Memory()), 100000), data);

  TStringStream s;
  EXPECT_EQ(s.CopyFrom(m, 0), 100000);  // 0: the whole source from its start
  EXPECT_EQ(s.DataString(), data);

  m.SetPosition(99990);
  char buf[20];
  EXPECT_EQ(m.Read(buf, 20), 10);
  EXPECT_THROW(m.ReadBuffer(buf, 1), EReadError);
  m.SetSize(10);
  EXPECT_EQ(m.Position(), 10);
}

TEST(Streams, FileStreamUsesUtf8NamesAndShareModes) {
  test::TempDir dir;
  const AnsiString name = CZ(dir.Path() + "/žluťoučký.bin");
  {
    TFileStream f(name, fmCreate);
    f.WriteBuffer("abcdef", 6);
  }
  EXPECT_EQ(test::ReadFile(dir.Path() + "/žluťoučký.bin"), "abcdef");

  TFileStream reader(name, fmOpenRead | fmShareDenyWrite);
  EXPECT_EQ(reader.Size(), 6);
  EXPECT_THROW(TFileStream(name, fmOpenReadWrite | fmShareExclusive), EFOpenError);
  EXPECT_THROW(TFileStream(name, fmCreate), EFCreateError);
  EXPECT_NO_THROW(TFileStream(name, fmOpenRead | fmShareDenyWrite));
  EXPECT_EQ(test::ReadFile(dir.Path() + "/žluťoučký.bin"), "abcdef") << "a refused create truncated";

  EXPECT_THROW(TFileStream(CZ(dir.Path() + "/missing"), fmOpenRead), EFOpenError);
}

}  // namespace
}  // namespace pelvar
