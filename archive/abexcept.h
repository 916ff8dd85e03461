// The archive kit's exceptions: one tree rooted at EAbException, each leaf class
// standing for one code of the message table; the codec's own exceptions; and the
// classification of a caught exception for the item-failure event.
#pragma once

#include <cstdint>
#include <exception>
#include <utility>

#include "archive/abconst.h"
#include "platform/exceptions.h"

namespace pelvar {

class EAbException : public Exception {
 public:
  // A plain text raised directly carries the code 0.
  explicit EAbException(AnsiString message = {}, int32_t error_code = 0)
      : Exception(std::move(message)), error_code_(error_code) {}
  int32_t ErrorCode() const { return error_code_; }
  void SetErrorCode(int32_t code) { error_code_ = code; }

 private:
  int32_t error_code_;
};

class EAbZipException : public EAbException {
 public:
  using EAbException::EAbException;
};
class EAbCabException : public EAbException {
 public:
  using EAbException::EAbException;
};
class EAbGzipException : public EAbException {
 public:
  using EAbException::EAbException;
};

// The text of Code with its placeholders (%d, %s) filled in order.
AnsiString AbFormatErrorText(int32_t Code, std::initializer_list<AnsiString> args = {});

#define PELVAR_AB_LEAF(Name, Parent, Code)                       \
  class Name : public Parent {                                   \
   public:                                                       \
    static constexpr int32_t kCode = Code;                       \
    Name() : Parent(AbErrorText(Code), Code) {}                  \
  };

PELVAR_AB_LEAF(EAbZipVersion, EAbZipException, 1)
PELVAR_AB_LEAF(EAbZipInvalidMethod, EAbZipException, 2)
PELVAR_AB_LEAF(EAbZipNoExtraction, EAbZipException, 3)
PELVAR_AB_LEAF(EAbZipInvalidPassword, EAbZipException, 4)
PELVAR_AB_LEAF(EAbZipNoInsertion, EAbZipException, 5)
PELVAR_AB_LEAF(EAbZipInvalidFactor, EAbZipException, 6)
PELVAR_AB_LEAF(EAbDuplicateName, EAbException, 7)
PELVAR_AB_LEAF(EAbUserAbort, EAbException, 9)
PELVAR_AB_LEAF(EAbZipBadSpanStream, EAbZipException, 13)
PELVAR_AB_LEAF(EAbZipSpanOverwrite, EAbZipException, 15)
PELVAR_AB_LEAF(EAbNoSuchDirectory, EAbException, 19)
PELVAR_AB_LEAF(EAbBadStream, EAbException, 21)
PELVAR_AB_LEAF(EAbZipBadCRC, EAbZipException, 23)
PELVAR_AB_LEAF(EAbFileNotFound, EAbException, 25)
PELVAR_AB_LEAF(EAbZipInvalidLFH, EAbZipException, 26)
PELVAR_AB_LEAF(EAbNoArchive, EAbException, 27)
PELVAR_AB_LEAF(EAbZipInvalid, EAbZipException, 28)
PELVAR_AB_LEAF(EAbReadError, EAbZipException, 29)
PELVAR_AB_LEAF(EAbUnhandledType, EAbException, 35)
PELVAR_AB_LEAF(EAbSpanningNotSupported, EAbException, 36)
PELVAR_AB_LEAF(EAbBBSSeekOutsideBuffer, EAbZipException, 41)
PELVAR_AB_LEAF(EAbBBSInvalidOrigin, EAbZipException, 42)
PELVAR_AB_LEAF(EAbNoCabinetDll, EAbCabException, 50)
PELVAR_AB_LEAF(EAbFCIFileOpenError, EAbCabException, 51)
PELVAR_AB_LEAF(EAbFCIFileReadError, EAbCabException, 52)
PELVAR_AB_LEAF(EAbFCIFileWriteError, EAbCabException, 53)
PELVAR_AB_LEAF(EAbFCIFileCloseError, EAbCabException, 54)
PELVAR_AB_LEAF(EAbFCIFileSeekError, EAbCabException, 55)
PELVAR_AB_LEAF(EAbFCIFileDeleteError, EAbCabException, 56)
PELVAR_AB_LEAF(EAbFCIAddFileError, EAbCabException, 57)
PELVAR_AB_LEAF(EAbFCICreateError, EAbCabException, 58)
PELVAR_AB_LEAF(EAbFDICopyError, EAbCabException, 61)
PELVAR_AB_LEAF(EAbFDICreateError, EAbCabException, 62)
PELVAR_AB_LEAF(EAbInvalidCabFile, EAbCabException, 64)
PELVAR_AB_LEAF(EAbGzipInvalid, EAbGzipException, 400)
PELVAR_AB_LEAF(EAbGzipBadCRC, EAbGzipException, 401)
PELVAR_AB_LEAF(EAbGzipBadFileSize, EAbGzipException, 402)

#undef PELVAR_AB_LEAF

class EAbBBSReadTooManyBytes : public EAbZipException {
 public:
  static constexpr int32_t kCode = 40;
  explicit EAbBBSReadTooManyBytes(int32_t count);
};
class EAbBBSWriteTooManyBytes : public EAbZipException {
 public:
  static constexpr int32_t kCode = 43;
  explicit EAbBBSWriteTooManyBytes(int32_t count);
};
class EAbQorInvalidOrigin : public EAbZipException {
 public:
  static constexpr int32_t kCode = 201;
  explicit EAbQorInvalidOrigin(int32_t origin);
};
class EAbQorErrorOpenSwap : public EAbZipException {
 public:
  static constexpr int32_t kCode = 202;
  explicit EAbQorErrorOpenSwap(const AnsiString& swap_name);
};
class EAbQorSeekFail : public EAbZipException {
 public:
  static constexpr int32_t kCode = 203;
  explicit EAbQorSeekFail(const AnsiString& swap_name);
};
class EAbQorReadFail : public EAbZipException {
 public:
  static constexpr int32_t kCode = 204;
  EAbQorReadFail(int32_t count, const AnsiString& swap_name);
};
class EAbQorWriteFail : public EAbZipException {
 public:
  static constexpr int32_t kCode = 205;
  EAbQorWriteFail(int32_t count, const AnsiString& swap_name);
};

// Failures that say what is wrong (codes of the kit's own records). Detail is the
// particular: which record or entry is damaged, what in the data is wrong, the
// stored name, the feature.
class EAbDamagedArchive : public EAbException {
 public:
  static constexpr int32_t kCode = AbDamagedArchive;
  explicit EAbDamagedArchive(const AnsiString& detail);
};
class EAbBadData : public EAbException {
 public:
  static constexpr int32_t kCode = AbBadData;
  explicit EAbBadData(const AnsiString& detail);
};
class EAbUnsafeName : public EAbException {
 public:
  static constexpr int32_t kCode = AbUnsafeName;
  explicit EAbUnsafeName(const AnsiString& detail);
};
class EAbUnsupportedFeature : public EAbException {
 public:
  static constexpr int32_t kCode = AbUnsupportedFeature;
  explicit EAbUnsupportedFeature(const AnsiString& detail);
};

// The codec's exceptions: framework exceptions without an error code.
class EAbAbortProgress : public Exception {
 public:
  using Exception::Exception;
};
class EAbPartSizedInflate : public Exception {
 public:
  using Exception::Exception;
};
class EAbInflatePasswordError : public Exception {
 public:
  EAbInflatePasswordError() : Exception("Inflate: stream is encrypted but passphrase is wrong") {}
};
// Raised inside the codec with a plain cause; Inflate and Deflate turn them into
// EAbInflateError and EAbDeflateError.
class EAbInternalInflateError : public Exception {
 public:
  using Exception::Exception;
};
class EAbInternalDeflateError : public Exception {
 public:
  using Exception::Exception;
};
class EAbInflateError : public Exception {
 public:
  explicit EAbInflateError(const AnsiString& cause);
  // What the decoder found wrong.
  const AnsiString& Cause() const { return cause_; }

 private:
  AnsiString cause_;
};
class EAbDeflateError : public Exception {
 public:
  explicit EAbDeflateError(const AnsiString& cause);
};

// The framework's input/output error carrying the operating-system error code, as
// the kit raises it for a directory it cannot create.
class EAbInOutError : public EInOutError {
 public:
  EAbInOutError(AnsiString message, int error_code)
      : EInOutError(std::move(message)), error_code_(error_code) {}
  int ErrorCode() const { return error_code_; }

 private:
  int error_code_;
};

// The kind of a failure as the item-failure event reports it.
enum TAbErrorClass : uint8_t {
  ecArchiveKit = 0,
  ecInOutError = 1,
  ecFilerError = 2,
  ecFileCreateError = 3,
  ecFileOpenError = 4,
  ecCabError = 5,
  ecOther = 6,
};

struct TAbErrorInfo {
  TAbErrorClass ErrorClass;
  int32_t ErrorCode;
  bool operator==(const TAbErrorInfo&) const = default;
};

// Classifies a caught exception; never fails.
TAbErrorInfo AbClassifyException(const std::exception& E);

// The framework's assertion failure with a text naming the class and method.
[[noreturn]] void AbRaiseAssert(const char* text);
inline void AbAssert(bool condition, const char* text) {
  if (!condition) AbRaiseAssert(text);
}

}  // namespace pelvar
