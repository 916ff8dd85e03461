// The framework's exception family. Messages are Windows-1250 text.
#pragma once

#include <exception>
#include <string>

#include "platform/types.h"

namespace pelvar {

class Exception : public std::exception {
 public:
  explicit Exception(AnsiString message = {}) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const AnsiString& Message() const { return message_; }
  void SetMessage(AnsiString m) { message_ = std::move(m); }
  int HelpContext() const { return help_context_; }
  void SetHelpContext(int h) { help_context_ = h; }

 private:
  AnsiString message_;
  int help_context_ = 0;
};

#define PELVAR_EXCEPTION(Name, Base) \
  class Name : public Base {         \
   public:                           \
    using Base::Base;                \
  };

// The silent abort: handlers of the application ignore it.
PELVAR_EXCEPTION(EAbort, Exception)
PELVAR_EXCEPTION(EConvertError, Exception)
PELVAR_EXCEPTION(EIntError, Exception)
PELVAR_EXCEPTION(EIntOverflow, EIntError)
PELVAR_EXCEPTION(EDivByZero, EIntError)
PELVAR_EXCEPTION(ERangeError, EIntError)
PELVAR_EXCEPTION(EMathError, Exception)
PELVAR_EXCEPTION(EOverflow, EMathError)
PELVAR_EXCEPTION(EZeroDivide, EMathError)
PELVAR_EXCEPTION(EInvalidOp, EMathError)
PELVAR_EXCEPTION(EOutOfResources, Exception)
PELVAR_EXCEPTION(EOutOfMemory, Exception)
PELVAR_EXCEPTION(EDatabaseError, Exception)
PELVAR_EXCEPTION(EUpdateError, EDatabaseError)
PELVAR_EXCEPTION(EAssertionFailed, Exception)
PELVAR_EXCEPTION(EInvalidOperation, Exception)
PELVAR_EXCEPTION(EInvalidPointer, Exception)
PELVAR_EXCEPTION(EInvalidCast, Exception)
PELVAR_EXCEPTION(EVariantError, Exception)
PELVAR_EXCEPTION(EListError, Exception)
PELVAR_EXCEPTION(EStringListError, EListError)
PELVAR_EXCEPTION(EComponentError, Exception)
PELVAR_EXCEPTION(EInOutError, Exception)
PELVAR_EXCEPTION(EOSError, Exception)
PELVAR_EXCEPTION(EStreamError, Exception)
PELVAR_EXCEPTION(EFileStreamError, EStreamError)
PELVAR_EXCEPTION(EFCreateError, EFileStreamError)
PELVAR_EXCEPTION(EFOpenError, EFileStreamError)
PELVAR_EXCEPTION(EReadError, EStreamError)
PELVAR_EXCEPTION(EWriteError, EStreamError)
PELVAR_EXCEPTION(EIniFileException, Exception)
PELVAR_EXCEPTION(ERegistryException, Exception)

#undef PELVAR_EXCEPTION

// Raises the silent EAbort.
[[noreturn]] void Abort();

}  // namespace pelvar
