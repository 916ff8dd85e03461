// The connection and the transaction that the adapter datasets run on. Both are the
// client layer's own components under the names the forms use: TREZDatabase is the
// database component (a connection with its own default transaction) with the saved
// password kept scrambled by default and two properties kept only for older form
// descriptions; TREZTransaction is the transaction component as it is.
#pragma once

#include "dbclient/IB_Components.h"
#include "platform/types.h"

namespace pelvar {

class TREZDatabase : public TIB_Database {
 public:
  // The database component with PasswordStorage psNotSecure. Owned by Owner, which
  // frees it; without an owner the creator holds it.
  explicit TREZDatabase(TComponent* Owner);
  ~TREZDatabase() override;

  // Kept with the form and nothing else: no code reads them.
  const AnsiString& DriverName() const { return driver_name_; }
  void SetDriverName(const AnsiString& Value) { driver_name_ = Value; }
  const AnsiString& SessionName() const { return session_name_; }
  void SetSessionName(const AnsiString& Value) { session_name_ = Value; }

 private:
  AnsiString driver_name_;
  AnsiString session_name_;
};

class TREZTransaction : public TIB_Transaction {
 public:
  explicit TREZTransaction(TComponent* Owner);
  ~TREZTransaction() override;
};

// The started state that callers test before they start an explicit transaction and
// before they end one: a server transaction is running (begun explicitly or by the
// first statement that needed it) or an explicit transaction was started and has not
// ended. Work done by a statement run without StartTransaction counts, so it is not
// left behind uncommitted (and rolled back when the connection closes). False for
// nullptr.
inline bool IsTransactionStarted(const TIB_Transaction* Transaction) {
  return Transaction != nullptr && (Transaction->GetStarted() || Transaction->InTransaction());
}

}  // namespace pelvar
