// The traditional zip encryption streams, against an entry written by zip -P.
#include <gtest/gtest.h>

#include "archive/abdfcrys.h"
#include "archive/abdfdec.h"
#include "deflate_test_util.h"

namespace pelvar {
namespace {

uint16_t U16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8));
}
uint32_t U32(const std::string& s, size_t at) { return U16(s, at) | (static_cast<uint32_t>(U16(s, at + 2)) << 16); }

TEST(AbDfCrySTest, EncryptDecryptRoundTrip) {
  const std::string plain = test::MakeText(5000);
  TStringStream sink;
  {
    TAbDfEncryptStream enc(&sink, "heslo", 0xA1B2C3D4);
    enc.WriteBuffer(plain.data(), 1000);
    enc.WriteBuffer(plain.data() + 1000, 4000);
    char c;
    EXPECT_THROW(enc.Read(&c, 1), EAssertionFailed);
  }
  const std::string cipher = sink.DataString();
  ASSERT_EQ(cipher.size(), 12 + plain.size());
  EXPECT_NE(cipher.substr(12), plain);

  TStringStream src(cipher);
  TAbDfDecryptStream dec(&src, "heslo", 0xA1B2C3D4);
  char c;
  EXPECT_THROW(dec.Read(&c, 1), EAssertionFailed);
  ASSERT_TRUE(dec.CheckHeader());
  std::string back(plain.size(), '\0');
  dec.ReadBuffer(back.data(), static_cast<int64_t>(back.size()));
  EXPECT_EQ(back, plain);
  EXPECT_THROW(dec.Write("x", 1), EAssertionFailed);

  // Other pass phrases fail the one-byte check almost always and step back.
  int failed = 0;
  for (const char* wrong : {"Heslo", "heslo2", "x", "secret"}) {
    TStringStream again(cipher);
    TAbDfDecryptStream bad(&again, wrong, 0xA1B2C3D4);
    if (!bad.CheckHeader()) {
      ++failed;
      EXPECT_EQ(again.Position(), 0);
    }
  }
  EXPECT_GE(failed, 2);
}

TEST(AbDfCrySTest, InflatesEntryOfZipWithPassword) {
  if (!test::HaveProgram("zip")) GTEST_SKIP() << "zip is not installed";
  test::TempDir dir("abdfcrys");
  const std::string data = test::MakeText(100000) + test::MakeBinary(50000);
  test::WriteFile(dir.File("data.bin"), data);
  const auto r = test::RunCommand({"sh", "-c", "cd '" + dir.Path() + "' && zip -q -P secret -9 t.zip data.bin"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const std::string zip = test::ReadFile(dir.File("t.zip"));
  ASSERT_EQ(U32(zip, 0), 0x04034b50u);
  const uint16_t flags = U16(zip, 6);
  ASSERT_EQ(flags & 1, 1);
  ASSERT_EQ(U16(zip, 8), 8);  // deflated
  const uint16_t time = U16(zip, 10);
  const size_t data_at = 30 + U16(zip, 26) + U16(zip, 28);
  // Sizes and CRC from the central directory (the local header may defer them).
  const size_t central = zip.find(std::string("PK\x01\x02", 4));
  ASSERT_NE(central, std::string::npos);
  const uint32_t crc = U32(zip, central + 16);
  const uint32_t compressed = U32(zip, central + 20);
  const uint32_t check = (flags & 8) ? static_cast<uint32_t>(time) << 16 : crc;

  TStringStream src(zip);
  src.SetPosition(static_cast<int64_t>(data_at));
  TStringStream out;
  TAbDeflateHelper h;
  h.SetPassphrase("secret");
  h.SetChecksum(check);
  EXPECT_EQ(Inflate(&src, &out, &h), crc);
  EXPECT_TRUE(out.DataString() == data);
  EXPECT_EQ(h.CompressedCount(), static_cast<int32_t>(compressed));
  EXPECT_EQ(src.Position(), static_cast<int64_t>(data_at + compressed));

  int password_errors = 0;
  for (const char* wrong : {"Secret", "wrong", "secret1"}) {
    TStringStream again(zip);
    again.SetPosition(static_cast<int64_t>(data_at));
    TStringStream none;
    TAbDeflateHelper w;
    w.SetPassphrase(wrong);
    w.SetChecksum(check);
    try {
      if (Inflate(&again, &none, &w) != crc) continue;  // a header that passed by chance
    } catch (const EAbInflatePasswordError& e) {
      ++password_errors;
      EXPECT_EQ(e.Message(), "Inflate: stream is encrypted but passphrase is wrong");
      EXPECT_EQ(again.Position(), static_cast<int64_t>(data_at));
      EXPECT_EQ(none.Size(), 0);
    } catch (const EAbInflateError&) {
    }
  }
  EXPECT_GE(password_errors, 1);
}

}  // namespace
}  // namespace pelvar
