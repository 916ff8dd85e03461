#include "archive/abexcept.h"

#include <string>

namespace pelvar {

namespace {
// The word that names the kit at the start of the two codec messages.
constexpr const char* kKitName = "Pelvar archive kit";
}  // namespace

AnsiString AbFormatErrorText(int32_t Code, std::initializer_list<AnsiString> args) {
  const AnsiString text = AbErrorText(Code);
  AnsiString out;
  auto next = args.begin();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == 'd' || text[i + 1] == 's') &&
        next != args.end()) {
      out += *next++;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

EAbBBSReadTooManyBytes::EAbBBSReadTooManyBytes(int32_t count)
    : EAbZipException(AbFormatErrorText(kCode, {std::to_string(count)}), kCode) {}
EAbBBSWriteTooManyBytes::EAbBBSWriteTooManyBytes(int32_t count)
    : EAbZipException(AbFormatErrorText(kCode, {std::to_string(count)}), kCode) {}
EAbQorInvalidOrigin::EAbQorInvalidOrigin(int32_t origin)
    : EAbZipException(AbFormatErrorText(kCode, {std::to_string(origin)}), kCode) {}
EAbQorErrorOpenSwap::EAbQorErrorOpenSwap(const AnsiString& swap_name)
    : EAbZipException(AbFormatErrorText(kCode, {swap_name}), kCode) {}
EAbQorSeekFail::EAbQorSeekFail(const AnsiString& swap_name)
    : EAbZipException(AbFormatErrorText(kCode, {swap_name}), kCode) {}
EAbQorReadFail::EAbQorReadFail(int32_t count, const AnsiString& swap_name)
    : EAbZipException(AbFormatErrorText(kCode, {std::to_string(count), swap_name}), kCode) {}
EAbQorWriteFail::EAbQorWriteFail(int32_t count, const AnsiString& swap_name)
    : EAbZipException(AbFormatErrorText(kCode, {std::to_string(count), swap_name}), kCode) {}

EAbDamagedArchive::EAbDamagedArchive(const AnsiString& detail)
    : EAbException(AbFormatErrorText(kCode, {detail}), kCode) {}
EAbBadData::EAbBadData(const AnsiString& detail) : EAbException(AbFormatErrorText(kCode, {detail}), kCode) {}
EAbUnsafeName::EAbUnsafeName(const AnsiString& detail) : EAbException(AbFormatErrorText(kCode, {detail}), kCode) {}
EAbUnsupportedFeature::EAbUnsupportedFeature(const AnsiString& detail)
    : EAbException(AbFormatErrorText(kCode, {detail}), kCode) {}

EAbInflateError::EAbInflateError(const AnsiString& cause)
    : Exception(AnsiString(kKitName) +
                " inflate error, possibly a corrupted compressed stream. (Internal cause: " + cause +
                ")"),
      cause_(cause) {}
EAbDeflateError::EAbDeflateError(const AnsiString& cause)
    : Exception(AnsiString(kKitName) + " deflate error. (Internal cause: " + cause + ")") {}

TAbErrorInfo AbClassifyException(const std::exception& E) {
  if (auto* ab = dynamic_cast<const EAbException*>(&E)) return {ecArchiveKit, ab->ErrorCode()};
  if (dynamic_cast<const EInOutError*>(&E)) {
    auto* io = dynamic_cast<const EAbInOutError*>(&E);
    return {ecInOutError, io ? io->ErrorCode() : 0};
  }
  // The framework's filer errors: reading and writing streams.
  if (dynamic_cast<const EReadError*>(&E) || dynamic_cast<const EWriteError*>(&E))
    return {ecFilerError, 0};
  if (dynamic_cast<const EFOpenError*>(&E)) return {ecFileOpenError, 0};
  if (dynamic_cast<const EFCreateError*>(&E)) return {ecFileCreateError, 0};
  return {ecOther, 0};
}

void AbRaiseAssert(const char* text) { throw EAssertionFailed(text); }

}  // namespace pelvar
