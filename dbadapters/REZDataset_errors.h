// The exception every server error of an adapter dataset arrives as, and the choice of
// its message.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>

#include "platform/classes.h"
#include "platform/exceptions.h"
#include "platform/types.h"

namespace pelvar {

// A server error of a statement run through an adapter dataset: the server's error
// code, SQL code and message lists with the component that reported it. Copies share
// the lists.
class EREZ_ISCError : public EDatabaseError {
 public:
  // The message is cut to its first 255 characters; the lists are copied (nullptr: an
  // empty list).
  EREZ_ISCError(TComponent* Sender, const AnsiString& Message, int32_t ERRCODE,
                const TStringList* ErrorMessage, const TStringList* ErrorCodes,
                int32_t SQLCODE, const TStringList* SQLMessage, const TStringList* SQL);

  TComponent* Sender() const { return sender_; }
  int32_t ERRCODE() const { return errcode_; }
  int32_t SQLCODE() const { return sqlcode_; }
  TStringList* ErrorMessage() const { return error_message_.get(); }
  TStringList* ErrorCodes() const { return error_codes_.get(); }
  TStringList* SQLMessage() const { return sql_message_.get(); }
  TStringList* SQL() const { return sql_.get(); }

 private:
  TComponent* sender_;
  int32_t errcode_;
  int32_t sqlcode_;
  std::shared_ptr<TStringList> error_message_;
  std::shared_ptr<TStringList> error_codes_;
  std::shared_ptr<TStringList> sql_message_;
  std::shared_ptr<TStringList> sql_;
};

// A failed update as a data provider reports it (the framework's update error): the
// message, the server's error and SQL codes, the code of the update error before it and
// the exception it came from.
class EREZ_UpdateError : public EUpdateError {
 public:
  EREZ_UpdateError(const AnsiString& Message, const AnsiString& Context, int32_t ErrorCode,
                   int32_t PreviousError, std::exception_ptr OriginalException, int32_t SQLCode = 0)
      : EUpdateError(Message),
        context_(Context),
        error_code_(ErrorCode),
        previous_error_(PreviousError),
        sql_code_(SQLCode),
        original_(std::move(OriginalException)) {}
  const AnsiString& Context() const { return context_; }
  int32_t ErrorCode() const { return error_code_; }
  int32_t PreviousError() const { return previous_error_; }
  int32_t SQLCode() const { return sql_code_; }
  const std::exception_ptr& OriginalException() const { return original_; }

 private:
  AnsiString context_;
  int32_t error_code_;
  int32_t previous_error_;
  int32_t sql_code_;
  std::exception_ptr original_;
};

// The message of an adapter's server error. For an exception raised by a trigger or a
// procedure (SQLCODE -836) the server's lines carry the exception's own text: line 5
// (counted from 0) when there are more than five lines, line 4 when there are exactly
// five. Otherwise, or when that line is blank, the whole text of ErrorMessage.
AnsiString REZErrorMessage(int32_t SQLCODE, const TStringList* ErrorMessage);

}  // namespace pelvar
