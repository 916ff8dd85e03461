#include "dbadapters/REZDataset_errors.h"

#include "platform/sysutils.h"

namespace pelvar {

namespace {
std::shared_ptr<TStringList> CopyList(const TStringList* Source) {
  auto list = std::make_shared<TStringList>();
  if (Source != nullptr) list->Assign(const_cast<TStringList*>(Source));
  return list;
}
AnsiString Cut255(const AnsiString& Message) {
  return Message.size() > 255 ? Message.substr(0, 255) : Message;
}
}  // namespace

EREZ_ISCError::EREZ_ISCError(TComponent* Sender, const AnsiString& Message, int32_t ERRCODE,
                             const TStringList* ErrorMessage, const TStringList* ErrorCodes,
                             int32_t SQLCODE, const TStringList* SQLMessage, const TStringList* SQL)
    : EDatabaseError(Cut255(Message)),
      sender_(Sender),
      errcode_(ERRCODE),
      sqlcode_(SQLCODE),
      error_message_(CopyList(ErrorMessage)),
      error_codes_(CopyList(ErrorCodes)),
      sql_message_(CopyList(SQLMessage)),
      sql_(CopyList(SQL)) {}

AnsiString REZErrorMessage(int32_t SQLCODE, const TStringList* ErrorMessage) {
  if (ErrorMessage == nullptr) return {};
  const int32_t n = ErrorMessage->Count();
  // With fewer than five lines the exception's line is not there: the whole text.
  if (SQLCODE == -836 && n >= 5) {
    const AnsiString line = ErrorMessage->Strings(n > 5 ? 5 : 4);
    if (!Trim(line).empty()) return line;
  }
  return ErrorMessage->Text();
}

}  // namespace pelvar
