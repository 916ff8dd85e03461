// The adapter database and transaction without a server: their defaults beside the
// client layer's components, the saved password, the parameters as the data module
// sets them before an open, the explicit-transaction state, and references that go
// with the components.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dbadapters/REZDatabase.h"
#include "dbclient/IB_Utils.h"
#include "platform/codepage.h"

namespace pelvar::test {
namespace {

std::vector<std::string> SortedLines(const TStrings& list) {
  std::vector<std::string> lines;
  for (int32_t i = 0; i < list.Count(); ++i) lines.push_back(list.Strings(i));
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(REZDatabase, DiffersFromTheDatabaseComponentOnlyInPasswordStorage) {
  TComponent form(nullptr);
  auto* plain = new TIB_Database(&form);
  auto* db = new TREZDatabase(&form);
  db->SetName("Src");

  EXPECT_EQ(plain->PasswordStorage(), psNone);
  EXPECT_EQ(db->PasswordStorage(), psNotSecure);
  for (TIB_Database* d : {static_cast<TIB_Database*>(plain), static_cast<TIB_Database*>(db)}) {
    EXPECT_EQ(d->ParameterOrder(), poAuto);
    EXPECT_FALSE(d->LoginPrompt());
    EXPECT_EQ(d->SQLDialect(), 3);
    EXPECT_FALSE(d->Connected());
    // The embedded default transaction: auto-commit, read committed, on this database.
    TIB_Transaction* tr = d->DefaultTransaction();
    ASSERT_NE(tr, nullptr);
    EXPECT_NE(dynamic_cast<TIB_TransactionDefault*>(tr), nullptr);
    EXPECT_TRUE(tr->GetAutoCommit());
    EXPECT_EQ(tr->Isolation(), tiCommitted);
    EXPECT_EQ(tr->IB_Connection(), d);
    EXPECT_EQ(tr->Owner(), d);
  }
  EXPECT_EQ(db->DefaultTransaction()->Name(), "trSrc");

  // Kept, and read by nothing.
  EXPECT_EQ(db->DriverName(), "");
  EXPECT_EQ(db->SessionName(), "");
  db->SetDriverName("INTRBASE");
  db->SetSessionName("Default");
  EXPECT_EQ(db->DriverName(), "INTRBASE");
  EXPECT_EQ(db->SessionName(), "Default");
  EXPECT_EQ(db->Params()->Count(), 0);
}

TEST(REZDatabase, SavedPasswordIsScrambledAndReadBack) {
  TComponent form(nullptr);
  auto* db = new TREZDatabase(&form);
  db->SetPassword("masterkey");
  // Kept for the attach, not written into Params.
  EXPECT_EQ(db->Password(), "masterkey");
  EXPECT_EQ(db->Params()->IndexOfName("PASSWORD"), -1);
  EXPECT_TRUE(db->HasSavedPassword());
  const AnsiString saved = db->GetSavedPassword();
  EXPECT_EQ(saved.rfind(JumbleMarker, 0), 0u) << saved;
  EXPECT_EQ(saved.find("masterkey"), AnsiString::npos);

  // Another adapter database (a form read back) recovers it; the client layer's own
  // component keeps no saved password by default.
  auto* read_back = new TREZDatabase(&form);
  read_back->SetSavedPassword(saved);
  EXPECT_EQ(read_back->Password(), "masterkey");
  auto* plain = new TIB_Database(&form);
  plain->SetPassword("masterkey");
  EXPECT_FALSE(plain->HasSavedPassword());
  EXPECT_EQ(plain->GetSavedPassword(), "");
}

// The parameter steps of the data module's open, from Dst's stored settings, once over
// the server's protocol and once locally: nothing of an earlier setting survives.
TEST(REZDatabase, ParametersAsTheDataModuleSetsThem) {
  struct Case {
    TIB_Protocol protocol;
    std::string database_name;
    std::vector<std::string> params;
  };
  const std::string path = "/srv/pelvar/MAINDATA/Main.fdb";
  const std::vector<Case> cases = {
      {cpTCP_IP,
       "localhost:" + path,
       {"CHARACTER SET=WIN1250", "PATH=" + path, "PROTOCOL=TCP/IP", "SERVER=localhost",
        "SQL DIALECT=3", "USER NAME=SYSDBA"}},
      {cpLocal,
       path,
       {"CHARACTER SET=WIN1250", "PATH=" + path, "SQL DIALECT=3", "USER NAME=SYSDBA"}},
      {cpTCP_IP,
       "localhost:" + path,
       {"CHARACTER SET=WIN1250", "PATH=" + path, "PROTOCOL=TCP/IP", "SERVER=localhost",
        "SQL DIALECT=3", "USER NAME=SYSDBA"}},
  };
  TComponent form(nullptr);
  auto* dst = new TREZDatabase(&form);
  dst->SetName("Dst");
  dst->Params()->SetText(
      "CHARACTER SET=WIN1250\r\nUSER NAME=SYSDBA\r\nSQL DIALECT=3\r\nPROTOCOL=TCP/IP\r\n"
      "SERVER=localhost\r\nPASSWORD=stale\r\nROLE NAME=KEEPER\r\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.database_name);
    dst->Params()->Clear();
    dst->SetDatabaseName(path);
    dst->SetUsername("SYSDBA");
    dst->SetPassword("masterkey");
    dst->SetCharSet("WIN1250");
    dst->SetProtocol(c.protocol);
    dst->SetServer(c.protocol != cpLocal ? "localhost" : "");
    dst->SetSQLDialect(3);
    dst->SetLoginPrompt(false);

    EXPECT_EQ(dst->DatabaseName(), c.database_name);
    EXPECT_EQ(dst->Protocol(), c.protocol);
    EXPECT_EQ(SortedLines(*dst->Params()), c.params);
    // What the attach would send: the database, the administrator and the kept
    // password, the character set.
    const std::string dpb = dst->BuildDPB();
    EXPECT_EQ(dst->AttachDatabase(), c.database_name);
    EXPECT_EQ(dst->AttachUsername(), "SYSDBA");
    EXPECT_EQ(dst->AttachPassword(), "masterkey");
    EXPECT_EQ(dst->AttachSQLRole(), "");
    EXPECT_NE(dpb.find("WIN1250"), std::string::npos);
  }
}

TEST(REZTransaction, IsTheTransactionComponentWithItsDefaults) {
  TComponent form(nullptr);
  auto* src = new TREZDatabase(&form);
  auto* plain = new TIB_Transaction(&form);
  auto* tr = new TREZTransaction(&form);
  for (TIB_Transaction* t : {plain, static_cast<TIB_Transaction*>(tr)}) {
    EXPECT_FALSE(t->GetAutoCommit());
    EXPECT_FALSE(t->ServerAutoCommit());
    EXPECT_FALSE(t->ReadOnly());
    EXPECT_EQ(t->Isolation(), tiCommitted);
    EXPECT_TRUE(t->RecVersion());
    EXPECT_FALSE(t->LockWait());
    EXPECT_EQ(t->IB_Connection(), nullptr);
    EXPECT_FALSE(IsTransactionStarted(t));
  }
  tr->SetIB_Connection(src);
  EXPECT_EQ(tr->IB_Connection(), src);
  EXPECT_EQ(tr->Get_ConnectionCount(), 1);
}

// StartTransaction only marks the explicit transaction (the server transaction begins
// with the first statement); the started state covers it, a second start is refused,
// and ending it clears it without a server.
TEST(REZTransaction, ExplicitStartAndItsEnd) {
  TComponent form(nullptr);
  auto* src = new TREZDatabase(&form);
  auto* tr = new TREZTransaction(&form);
  tr->SetIB_Connection(src);
  EXPECT_FALSE(IsTransactionStarted(nullptr));

  tr->StartTransaction();
  EXPECT_TRUE(tr->InTransaction());
  EXPECT_FALSE(tr->GetStarted());
  EXPECT_FALSE(src->Connected());
  EXPECT_TRUE(IsTransactionStarted(tr));
  try {
    tr->StartTransaction();
    ADD_FAILURE() << "started twice";
  } catch (const EIB_TransactionError& e) {
    EXPECT_EQ(e.Message(), CZ("Transakce již byla nastartována"));
  }
  tr->Rollback();
  EXPECT_FALSE(IsTransactionStarted(tr));
  tr->StartTransaction();
  tr->CommitRetaining();
  EXPECT_FALSE(IsTransactionStarted(tr));

  tr->SetServerAutoCommit(true);
  try {
    tr->StartTransaction();
    ADD_FAILURE() << "explicit start under server auto-commit";
  } catch (const EIB_TransactionError& e) {
    EXPECT_EQ(e.Message(), CZ("Explicitní transakce není povolena při ServerAutoCommit"));
  }
  EXPECT_FALSE(IsTransactionStarted(tr));
}

// A transaction loses its connection when the database goes, and a database forgets a
// transaction that goes; an owner-less transaction (as the look-up lists make) is freed
// by its holder in either order.
TEST(REZComponents, ReferencesGoWithTheComponents) {
  TComponent form(nullptr);
  auto* src = new TREZDatabase(&form);
  auto* dst = new TREZDatabase(&form);
  auto* tr_src = new TREZTransaction(&form);
  auto* tr_tmp = new TREZTransaction(&form);
  auto* tr_dst = new TREZTransaction(&form);
  tr_src->SetIB_Connection(src);
  tr_tmp->SetIB_Connection(src);
  tr_dst->SetIB_Connection(dst);
  auto lookup_first = std::make_unique<TREZTransaction>(nullptr);
  auto lookup_last = std::make_unique<TREZTransaction>(nullptr);
  lookup_first->SetIB_Connection(dst);
  lookup_last->SetIB_Connection(src);
  const int32_t with_lookup = dst->TransactionCount();

  lookup_first.reset();
  EXPECT_EQ(dst->TransactionCount(), with_lookup - 1);
  EXPECT_EQ(tr_dst->IB_Connection(), dst);

  delete src;
  EXPECT_EQ(tr_src->IB_Connection(), nullptr);
  EXPECT_EQ(tr_tmp->IB_Connection(), nullptr);
  EXPECT_EQ(lookup_last->IB_Connection(), nullptr);
  EXPECT_EQ(tr_dst->IB_Connection(), dst);
  lookup_last.reset();

  delete tr_dst;
  EXPECT_EQ(dst->TransactionCount(), with_lookup - 2);
  EXPECT_EQ(dst->DefaultTransaction()->IB_Connection(), dst);
}

}  // namespace
}  // namespace pelvar::test
