// The archive kit's message table, exception tree and failure classification.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <typeinfo>

#include "archive/abbase.h"
#include "archive/abconst.h"
#include "archive/abexcept.h"

namespace pelvar {
namespace {

TEST(AbConstTest, TableHasUniqueCodesAndLooksUpTexts) {
  const auto& table = AbStrRes();
  EXPECT_EQ(table.size(), 146u);
  std::set<int32_t> codes;
  for (const auto& rec : table) EXPECT_TRUE(codes.insert(rec.Code).second) << rec.Code;
  EXPECT_EQ(AbErrorText(36), "Spanning not supported by this Archive type");
  EXPECT_EQ(AbErrorText(39), "");
  EXPECT_EQ(AbErrorText(32), "Specify spanned image file # ");
  EXPECT_EQ(AbErrorText(310), " added ");
  EXPECT_EQ(AbErrorText(135),
            "PKZip Archives (*.zip)|*.zip|Self Extracting Archives (*.exe)|*.exe|All Files (*.*)|*.*");
  EXPECT_EQ(AbErrorText(-1), "");
  // The kit's own records do not take a code of the table.
  for (const auto& rec : AbKitStrRes()) {
    EXPECT_TRUE(codes.insert(rec.Code).second) << rec.Code;
    EXPECT_EQ(AbErrorText(rec.Code), rec.Str);
  }
}

enum Area { kRoot, kZip, kCab, kGzip };

struct LeafCase {
  const char* name;
  std::function<void()> raise;
  int32_t code;
  const char* text;
  Area area;
};

void ExpectLeaf(const LeafCase& c) {
  SCOPED_TRACE(c.name);
  try {
    c.raise();
    FAIL() << "nothing raised";
  } catch (const EAbException& e) {
    EXPECT_EQ(e.ErrorCode(), c.code);
    EXPECT_EQ(e.Message(), c.text);
    EXPECT_EQ(dynamic_cast<const EAbZipException*>(&e) != nullptr, c.area == kZip);
    EXPECT_EQ(dynamic_cast<const EAbCabException*>(&e) != nullptr, c.area == kCab);
    EXPECT_EQ(dynamic_cast<const EAbGzipException*>(&e) != nullptr, c.area == kGzip);
    EXPECT_EQ(AbClassifyException(e), (TAbErrorInfo{ecArchiveKit, c.code}));
  }
}

template <class E, class... Args>
std::function<void()> R(Args... args) {
  return [=] { throw E(args...); };
}

TEST(AbExceptTest, EveryLeafCarriesItsCodeTextAndArea) {
  const LeafCase cases[] = {
      {"ZipVersion", R<EAbZipVersion>(), 1, "Cannot extract file - newer version required", kZip},
      {"ZipInvalidMethod", R<EAbZipInvalidMethod>(), 2,
       "Cannot extract file - unsupported compression method", kZip},
      {"ZipNoExtraction", R<EAbZipNoExtraction>(), 3,
       "Cannot extract file - no extraction support provided", kZip},
      {"ZipInvalidPassword", R<EAbZipInvalidPassword>(), 4, "Cannot extract file - invalid password",
       kZip},
      {"ZipNoInsertion", R<EAbZipNoInsertion>(), 5,
       "Cannot insert file - no insertion support provided", kZip},
      {"ZipInvalidFactor", R<EAbZipInvalidFactor>(), 6, "Invalid Reduce Factor", kZip},
      {"DuplicateName", R<EAbDuplicateName>(), 7, "Cannot insert file - duplicates stored name", kRoot},
      {"UserAbort", R<EAbUserAbort>(), 9, "Process aborted by user", kRoot},
      {"ZipBadSpanStream", R<EAbZipBadSpanStream>(), 13,
       "Spanned archives must be opened as file streams", kZip},
      {"ZipSpanOverwrite", R<EAbZipSpanOverwrite>(), 15, "Cannot update an existing spanned disk set",
       kZip},
      {"NoSuchDirectory", R<EAbNoSuchDirectory>(), 19, "Directory does not exist", kRoot},
      {"BadStream", R<EAbBadStream>(), 21, "Invalid Stream", kRoot},
      {"ZipBadCRC", R<EAbZipBadCRC>(), 23, "Failed CRC Check", kZip},
      {"FileNotFound", R<EAbFileNotFound>(), 25, "File not found", kRoot},
      {"ZipInvalidLFH", R<EAbZipInvalidLFH>(), 26, "Invalid Local File Header entry", kZip},
      {"NoArchive", R<EAbNoArchive>(), 27, "Archive does not exist - FileName is blank", kRoot},
      {"ZipInvalid", R<EAbZipInvalid>(), 28, "Invalid file - not a PKZip file", kZip},
      {"ReadError", R<EAbReadError>(), 29, "Error reading archive", kZip},
      {"UnhandledType", R<EAbUnhandledType>(), 35, "Unhandled Archive Type", kRoot},
      {"SpanningNotSupported", R<EAbSpanningNotSupported>(), 36,
       "Spanning not supported by this Archive type", kRoot},
      {"BBSReadTooManyBytes", R<EAbBBSReadTooManyBytes>(77), 40,
       "BBS: request to read too many bytes [77]", kZip},
      {"BBSSeekOutsideBuffer", R<EAbBBSSeekOutsideBuffer>(), 41,
       "BBS: New position is outside the buffer", kZip},
      {"BBSInvalidOrigin", R<EAbBBSInvalidOrigin>(), 42, "BBS: Invalid Origin value", kZip},
      {"BBSWriteTooManyBytes", R<EAbBBSWriteTooManyBytes>(-3), 43,
       "BBS: request to write too many bytes [-3]", kZip},
      {"NoCabinetDll", R<EAbNoCabinetDll>(), 50, "Cannot load cabinet.dll", kCab},
      {"FCIFileOpenError", R<EAbFCIFileOpenError>(), 51, "FCI cannot open file", kCab},
      {"FCIFileReadError", R<EAbFCIFileReadError>(), 52, "FCI cannot read file", kCab},
      {"FCIFileWriteError", R<EAbFCIFileWriteError>(), 53, "FCI cannot write file", kCab},
      {"FCIFileCloseError", R<EAbFCIFileCloseError>(), 54, "FCI close file error", kCab},
      {"FCIFileSeekError", R<EAbFCIFileSeekError>(), 55, "FCI file seek error", kCab},
      {"FCIFileDeleteError", R<EAbFCIFileDeleteError>(), 56, "FCI file delete error", kCab},
      {"FCIAddFileError", R<EAbFCIAddFileError>(), 57, "FCI cannot add file", kCab},
      {"FCICreateError", R<EAbFCICreateError>(), 58, "FCI cannot create context", kCab},
      {"FDICopyError", R<EAbFDICopyError>(), 61, "FDI cannot enumerate files", kCab},
      {"FDICreateError", R<EAbFDICreateError>(), 62, "FDI cannot create context", kCab},
      {"InvalidCabFile", R<EAbInvalidCabFile>(), 64, "Invalid file - not a cabinet file", kCab},
      {"QorInvalidOrigin", R<EAbQorInvalidOrigin>(7), 201, "Qor: invalid origin 7, should be 0, 1, 2",
       kZip},
      {"QorErrorOpenSwap", R<EAbQorErrorOpenSwap>(AnsiString("swap.tmp")), 202,
       "Qor: Cannot open swap file swap.tmp", kZip},
      {"QorSeekFail", R<EAbQorSeekFail>(AnsiString("swap.tmp")), 203,
       "Qor: Failed to seek in swap file swap.tmp", kZip},
      {"QorReadFail", R<EAbQorReadFail>(512, AnsiString("swap.tmp")), 204,
       "Qor: Failed to read 512 bytes from swap file swap.tmp", kZip},
      {"QorWriteFail", R<EAbQorWriteFail>(100, AnsiString("a b.tmp")), 205,
       "Qor: Failed to write 100 bytes to swap file a b.tmp", kZip},
      {"GzipInvalid", R<EAbGzipInvalid>(), 400, "Invalid Gzip", kGzip},
      {"GzipBadCRC", R<EAbGzipBadCRC>(), 401, "Bad CRC", kGzip},
      {"GzipBadFileSize", R<EAbGzipBadFileSize>(), 402, "Bad File Size", kGzip},
      // The kit's own codes, beyond the table: each names the particular.
      {"DamagedArchive", R<EAbDamagedArchive>(AnsiString("the header at 512")), 600,
       "Damaged archive - the header at 512", kRoot},
      {"BadData", R<EAbBadData>(AnsiString("x.txt")), 601, "Cannot extract file - damaged data: x.txt", kRoot},
      {"UnsafeName", R<EAbUnsafeName>(AnsiString("../x")), 602, "Cannot extract file - unsafe stored name: ../x",
       kRoot},
      {"UnsupportedFeature", R<EAbUnsupportedFeature>(AnsiString("BZIP2")), 603,
       "Cannot read archive - unsupported feature: BZIP2", kRoot},
  };
  for (const auto& c : cases) ExpectLeaf(c);
}

TEST(AbExceptTest, CodecExceptionsHaveTheirTextsAndNoCode) {
  EXPECT_EQ(EAbInflateError("bad").Message(),
            "Pelvar archive kit inflate error, possibly a corrupted compressed stream. "
            "(Internal cause: bad)");
  EXPECT_EQ(EAbDeflateError("full").Message(),
            "Pelvar archive kit deflate error. (Internal cause: full)");
  EXPECT_EQ(EAbInflatePasswordError().Message(), "Inflate: stream is encrypted but passphrase is wrong");
  const EAbInflateError e("x");
  EXPECT_EQ(AbClassifyException(e), (TAbErrorInfo{ecOther, 0}));
}

TEST(AbExceptTest, ClassifiesCaughtExceptions) {
  struct Case {
    const char* name;
    std::function<void()> raise;
    TAbErrorInfo expected;
  };
  const Case cases[] = {
      {"plain kit text", [] { throw EAbException("Path not found"); }, {ecArchiveKit, 0}},
      {"io error with os code", [] { throw EAbInOutError("sharing violation", 32); }, {ecInOutError, 32}},
      {"io error without code", [] { throw EInOutError("io"); }, {ecInOutError, 0}},
      {"stream read", [] { throw EReadError("r"); }, {ecFilerError, 0}},
      {"stream write", [] { throw EWriteError("w"); }, {ecFilerError, 0}},
      {"file open", [] { throw EFOpenError("o"); }, {ecFileOpenError, 0}},
      {"file create", [] { throw EFCreateError("c"); }, {ecFileCreateError, 0}},
      {"division by zero", [] { throw EDivByZero("Division by zero"); }, {ecOther, 0}},
      {"std exception", [] { throw std::runtime_error("x"); }, {ecOther, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.raise();
    } catch (const std::exception& e) {
      EXPECT_EQ(AbClassifyException(e), c.expected);
    }
  }
}

TEST(AbBaseTest, VersionIsFixed) {
  TAbBaseComponent component(nullptr);
  component.SetVersion("9.99");
  EXPECT_EQ(component.Version(), "3.04");
}

}  // namespace
}  // namespace pelvar
