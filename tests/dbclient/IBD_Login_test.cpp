// The login dialog: its texts, state and focus, what it takes back from the user, and
// its place in the connection's login prompt.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "dbclient/IBD_Login.h"
#include "dbclient/IB_Components.h"
#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"

namespace pelvar {
namespace {

auto Collect(std::vector<std::string>& failures) {
  return [&failures](const std::string& m) { failures.push_back(m); };
}

// What the user types (unset: leaves the field as shown), then OK.
TScriptedLoginResponder::TAnswer Typing(std::optional<AnsiString> database,
                                        std::optional<AnsiString> user,
                                        std::optional<AnsiString> password,
                                        std::optional<AnsiString> role) {
  TScriptedLoginResponder::TAnswer a;
  a.Database = std::move(database);
  a.UserName = std::move(user);
  a.Password = std::move(password);
  a.SQLRole = std::move(role);
  return a;
}

// Sets the application's title for one test.
class TitleGuard {
 public:
  explicit TitleGuard(const AnsiString& title) : saved_(Application()->Title()) {
    Application()->SetTitle(title);
  }
  ~TitleGuard() { Application()->SetTitle(saved_); }

 private:
  AnsiString saved_;
};

// The hook installed by the unit's start-up, for one test.
class LoginUnit {
 public:
  LoginUnit() { InitializeIBD_Login(); }
  ~LoginUnit() { FinalizeIBD_Login(); }
};

TEST(IBD_Login, FormCreateSetsCzechTextsTabOrderAndTrimmedTitleCaption) {
  struct Case {
    const char* title;
    const char* caption;
  };
  const Case cases[] = {
      {"  Sehrávání dat Pelvar 2008 \t", "Sehrávání dat Pelvar 2008 Přihlašovací dialog"},
      {"Pelvar", "Pelvar Přihlašovací dialog"},
      {"", " Přihlašovací dialog"},
  };
  for (const Case& c : cases) {
    TitleGuard title(CZ(c.title));
    TdlgLogin dlg;
    EXPECT_EQ(dlg.Caption(), CZ(c.caption)) << c.title;
  }
  TdlgLogin dlg;
  const TLoginDialogForm& f = dlg.Form();
  EXPECT_EQ(f.DatabaseLabel, CZ("Databáze"));
  EXPECT_EQ(f.UserLabel, CZ("Uživatel"));
  EXPECT_EQ(f.PasswordLabel, CZ("Heslo"));
  EXPECT_EQ(f.SQLRoleLabel, "SQL Role");
  EXPECT_EQ(f.OKCaption, "OK");
  EXPECT_EQ(f.CancelCaption, "Storno");
  EXPECT_EQ(f.HelpCaption, CZ("&Nápověda"));
  EXPECT_EQ(f.ClientWidth, 472);
  EXPECT_EQ(f.ClientHeight, 151);
  EXPECT_TRUE(f.AlwaysOnTop);
  EXPECT_FALSE(f.HelpVisible);
  EXPECT_FALSE(dlg.DatabaseReadOnly());
  EXPECT_EQ(f.DatabaseColor, LoginDatabaseColorWindow);
  using C = TLoginControl;
  EXPECT_EQ(f.TabOrder, (std::vector<C>{C::edPassword, C::cbSQLRole, C::OKBtn, C::CancelBtn,
                                        C::HelpBtn, C::edDatabase, C::edUserName}));
}

TEST(IBD_Login, DatabaseReadOnlySwitchesTheFieldAndItsColourAndKeepsItsValue) {
  TdlgLogin dlg;
  dlg.SetDatabase("C:\\Data\\Main.fdb");
  dlg.SetDatabaseReadOnly(true);
  EXPECT_TRUE(dlg.DatabaseReadOnly());
  EXPECT_EQ(dlg.Form().DatabaseColor, LoginDatabaseColorReadOnly);
  dlg.SetDatabaseReadOnly(true);
  EXPECT_EQ(dlg.Form().DatabaseColor, LoginDatabaseColorReadOnly);

  // A user cannot type into the read-only field; a view that writes there anyway is
  // ignored.
  TLoginDialogResponder previous = SetLoginDialogResponder([](TLoginDialogForm& f) {
    f.Database = "other.fdb";
    f.Password = "secret";
    return mrOk;
  });
  EXPECT_EQ(dlg.ShowModal(), mrOk);
  SetLoginDialogResponder(std::move(previous));
  EXPECT_EQ(dlg.Database(), "C:\\Data\\Main.fdb");
  EXPECT_EQ(dlg.Password(), "secret");

  dlg.SetDatabaseReadOnly(false);
  EXPECT_EQ(dlg.Form().DatabaseColor, LoginDatabaseColorWindow);
  std::vector<std::string> failures;
  {
    TScriptedLoginResponder r(Collect(failures));
    r.Expect(Typing("other.fdb", {}, {}, {}));
    EXPECT_EQ(dlg.ShowModal(), mrOk);
  }
  EXPECT_TRUE(failures.empty());
  EXPECT_EQ(dlg.Database(), "other.fdb");
}

TEST(IBD_Login, FocusGoesToTheUserNameOnlyWhenItIsEmpty) {
  struct Case {
    const char* user;
    TLoginControl focus;
  };
  for (const Case& c : {Case{"SYSDBA", TLoginControl::edPassword},
                        Case{"", TLoginControl::edUserName}}) {
    std::vector<std::string> failures;
    TScriptedLoginResponder r(Collect(failures));
    r.ExpectCancel();
    TdlgLogin dlg;
    dlg.SetUserName(c.user);
    EXPECT_EQ(dlg.ShowModal(), mrCancel);
    ASSERT_EQ(r.Shown().size(), 1u);
    EXPECT_EQ(r.Shown()[0].ActiveControl, c.focus) << c.user;
    EXPECT_TRUE(failures.empty());
  }
}

TEST(IBD_Login, TypedValuesComeBackWithTheUserNameInUpperCase) {
  std::vector<std::string> failures;
  TScriptedLoginResponder r(Collect(failures));
  r.Expect(Typing({}, CZ("novák"), "PwD", "rw"));
  TdlgLogin dlg;
  dlg.SetUserName(CZ("žluťoučký"));
  EXPECT_EQ(dlg.UserName(), CZ("ŽLUŤOUČKÝ"));
  EXPECT_EQ(dlg.ShowModal(), mrOk);
  EXPECT_EQ(dlg.ModalResult(), mrOk);
  EXPECT_EQ(dlg.UserName(), CZ("NOVÁK"));
  EXPECT_EQ(dlg.Password(), "PwD");
  EXPECT_EQ(dlg.SQLRole(), "rw");
  EXPECT_TRUE(failures.empty());
}

TEST(IBD_Login, ResultsOtherThanOkCountAsCancelAndHeadlessCloses) {
  for (int answer : {mrCancel, mrNone, mrAbort}) {
    TLoginDialogResponder previous =
        SetLoginDialogResponder([answer](TLoginDialogForm&) { return answer; });
    TdlgLogin dlg;
    EXPECT_EQ(dlg.ShowModal(), mrCancel) << answer;
    SetLoginDialogResponder(std::move(previous));
  }
  // No responder installed: nobody can type, the dialog is closed.
  TLoginDialogResponder previous = SetLoginDialogResponder({});
  TdlgLogin dlg;
  EXPECT_EQ(dlg.ShowModal(), mrCancel);
  SetLoginDialogResponder(std::move(previous));
}

TEST(IBD_Login, ScriptedResponderReportsSurplusAndMissingDialogs) {
  std::vector<std::string> failures;
  {
    TScriptedLoginResponder r(Collect(failures));
    TdlgLogin dlg;
    EXPECT_EQ(dlg.ShowModal(), mrCancel);
    r.ExpectCancel();
  }
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_NE(failures[0].find("unexpected login dialog"), std::string::npos);
  EXPECT_NE(failures[1].find("never shown"), std::string::npos);
}

// The connection's login prompt shows this dialog once the unit has started: the fields
// show the connection's values (prefixes stripped), and OK hands the typed ones back
// through the prefixes.
TEST(IBD_Login, ConnectionPromptShowsTheDialogAndTakesTheValuesBack) {
  TIB_LoginDialogHook before = LoginDialogHook;
  {
    LoginUnit unit;
    ASSERT_TRUE(static_cast<bool>(LoginDialogHook));
    TComponent form(nullptr);
    auto* conn = new TIB_Connection(&form);
    conn->SetDatabaseName("srv:C:\\Data\\Main.fdb");
    conn->SetLoginUsernamePrefix("ORG_");
    conn->SetUsername("ORG_NOVAK");
    conn->SetPassword("old");
    conn->SetLoginSQLRolePrefix("R_");
    conn->SetSQLRole("R_READER");
    conn->SetLoginSQLRoleList("READER, WRITER;ADMIN\r\nAUDIT");
    conn->SetLoginCaption("Vstup");
    conn->SetLoginHelpContext(17);
    conn->SetLoginDBReadOnly(true);

    std::vector<std::string> failures;
    TScriptedLoginResponder r(Collect(failures));
    r.Expect(Typing({}, "svoboda", "new", "WRITER"));
    conn->ExecuteLoginDialog();
    ASSERT_EQ(r.Shown().size(), 1u);
    const TLoginDialogForm& shown = r.Shown()[0];
    EXPECT_EQ(shown.Caption, "Vstup");
    EXPECT_EQ(shown.Database, "srv:C:\\Data\\Main.fdb");
    EXPECT_TRUE(shown.DatabaseReadOnly);
    EXPECT_EQ(shown.UserName, "NOVAK");
    EXPECT_EQ(shown.Password, "old");
    EXPECT_EQ(shown.SQLRole, "READER");
    EXPECT_EQ(shown.SQLRoles, (std::vector<AnsiString>{"READER", "WRITER", "ADMIN", "AUDIT"}));
    EXPECT_TRUE(shown.HelpVisible);
    EXPECT_EQ(shown.HelpContext, 17);
    EXPECT_FALSE(conn->LoginAborted());
    EXPECT_EQ(conn->Username(), "ORG_SVOBODA");
    EXPECT_EQ(conn->GetPassword(), "new");
    EXPECT_EQ(conn->SQLRole(), "R_WRITER");
    EXPECT_EQ(conn->GetConnectString(), "srv:C:\\Data\\Main.fdb");

    // Storno in the prompt ends the connect silently, before any attach.
    r.ExpectCancel();
    conn->SetLoginPrompt(true);
    EXPECT_THROW(conn->Open(), EAbort);
    EXPECT_TRUE(conn->LoginAborted());
    EXPECT_FALSE(conn->GetConnected());
    ASSERT_EQ(r.Shown().size(), 2u);
    EXPECT_EQ(r.Shown()[1].Caption, "Vstup");
    EXPECT_TRUE(failures.empty());
  }
  // The finalisation gives the connection its previous hook back.
  EXPECT_EQ(static_cast<bool>(LoginDialogHook), static_cast<bool>(before));
}

TEST(IBD_Login, DefaultCaptionAndHiddenHelpWithoutConnectionSettings) {
  LoginUnit unit;
  TitleGuard title(CZ(" Sehrávání dat Pelvar 2008 "));
  TComponent form(nullptr);
  auto* conn = new TIB_Connection(&form);
  conn->SetDatabaseName("C:\\Data\\Main.fdb");
  std::vector<std::string> failures;
  TScriptedLoginResponder r(Collect(failures));
  r.ExpectCancel();
  conn->ExecuteLoginDialog();
  EXPECT_TRUE(conn->LoginAborted());
  ASSERT_EQ(r.Shown().size(), 1u);
  EXPECT_EQ(r.Shown()[0].Caption, CZ("Sehrávání dat Pelvar 2008 Přihlašovací dialog"));
  EXPECT_FALSE(r.Shown()[0].HelpVisible);
  EXPECT_FALSE(r.Shown()[0].DatabaseReadOnly);
  EXPECT_TRUE(r.Shown()[0].SQLRoles.empty());
  EXPECT_EQ(r.Shown()[0].ActiveControl, TLoginControl::edUserName);
  EXPECT_TRUE(failures.empty());
}

}  // namespace
}  // namespace pelvar
