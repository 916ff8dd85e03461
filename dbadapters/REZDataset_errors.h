// The exception every server error of an adapter dataset arrives as, and the choice of
// its message.
#pragma once

#include <cstdint>
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

// The message of an adapter's server error. For an exception raised by a trigger or a
// procedure (SQLCODE -836) the server's lines carry the exception's own text: line 5
// (counted from 0) when there are more than five lines, line 4 when there are exactly
// five. Otherwise, or when that line is blank, the whole text of ErrorMessage.
AnsiString REZErrorMessage(int32_t SQLCODE, const TStringList* ErrorMessage);

}  // namespace pelvar
