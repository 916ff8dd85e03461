#include "dbclient/IBD_Login.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "dbclient/IB_Components.h"
#include "dbclient/IB_Constants.h"
#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

TLoginDialogResponder& Responder() {
  static TLoginDialogResponder responder;
  return responder;
}

// Without a window system nobody can type: the dialog is closed unanswered.
int HeadlessLogin(TLoginDialogForm& form) {
  std::fprintf(stderr, "[login dialog] %s: %s, %s -> Storno\n", AnsiToUtf8(form.Caption).c_str(),
               AnsiToUtf8(form.Database).c_str(), AnsiToUtf8(form.UserName).c_str());
  return mrCancel;
}

}  // namespace

TLoginDialogResponder SetLoginDialogResponder(TLoginDialogResponder responder) {
  return std::exchange(Responder(), std::move(responder));
}

TdlgLogin::TdlgLogin() {
  form_.DatabaseLabel = IB_Message(TIB_Msg::Database);
  form_.UserLabel = IB_Message(TIB_Msg::User);
  form_.PasswordLabel = IB_Message(TIB_Msg::Password);
  form_.SQLRoleLabel = "SQL Role";
  form_.OKCaption = IB_Message(TIB_Msg::Ok);
  form_.CancelCaption = IB_Message(TIB_Msg::Cancel);
  form_.HelpCaption = IB_Message(TIB_Msg::Help);
  const AnsiString title = Application() != nullptr ? Application()->Title() : AnsiString();
  form_.Caption = Trim(title) + " " + IB_Message(TIB_Msg::LoginDialog);
  form_.TabOrder = {TLoginControl::edPassword, TLoginControl::cbSQLRole, TLoginControl::OKBtn,
                    TLoginControl::CancelBtn,  TLoginControl::HelpBtn,   TLoginControl::edDatabase,
                    TLoginControl::edUserName};
  form_.ActiveControl = form_.TabOrder.front();
}

void TdlgLogin::SetDatabaseReadOnly(bool Value) {
  if (Value == form_.DatabaseReadOnly) return;
  form_.DatabaseReadOnly = Value;
  form_.DatabaseColor = Value ? LoginDatabaseColorReadOnly : LoginDatabaseColorWindow;
}

void TdlgLogin::SetUserName(const AnsiString& Value) { form_.UserName = AnsiUpperCase(Value); }

int TdlgLogin::ShowModal() {
  form_.ActiveControl = form_.UserName.empty() ? TLoginControl::edUserName : form_.TabOrder.front();
  TLoginDialogForm shown = form_;
  const TLoginDialogResponder& responder = Responder();
  const int result = responder ? responder(shown) : HeadlessLogin(shown);
  // Only OK and Storno end the dialog; anything else is a window closed unanswered.
  modal_result_ = result == mrOk ? mrOk : mrCancel;
  // Take back only what the user can type into; the read-only field keeps its value.
  if (!form_.DatabaseReadOnly) form_.Database = shown.Database;
  SetUserName(shown.UserName);
  form_.Password = shown.Password;
  form_.SQLRole = shown.SQLRole;
  return modal_result_;
}

bool ExecuteLoginDialog(TIB_Connection* /*Sender*/, TIB_LoginDialogValues& Values) {
  TdlgLogin dlg;
  if (!Values.Caption.empty()) dlg.SetCaption(Values.Caption);
  dlg.SetDatabaseReadOnly(Values.DatabaseReadOnly);
  dlg.SetDatabase(Values.Database);
  dlg.SetUserName(Values.Username);
  dlg.SetPassword(Values.Password);
  dlg.SetSQLRole(Values.SQLRole);
  dlg.SetSQLRoles(Values.SQLRoles);
  if (Values.HelpContext != 0) {
    dlg.SetHelpContext(Values.HelpContext);
    dlg.SetHelpVisible(true);
  }
  if (dlg.ShowModal() != mrOk) return false;
  Values.Database = dlg.Database();
  Values.Username = dlg.UserName();
  Values.Password = dlg.Password();
  Values.SQLRole = dlg.SQLRole();
  return true;
}

namespace {

bool& Installed() {
  static bool installed = false;
  return installed;
}

TIB_LoginDialogHook& PreviousHook() {
  static TIB_LoginDialogHook previous;
  return previous;
}

}  // namespace

void InitializeIBD_Login() {
  if (Installed()) return;
  Installed() = true;
  PreviousHook() = std::exchange(LoginDialogHook, &ExecuteLoginDialog);
}

void FinalizeIBD_Login() {
  if (!Installed()) return;
  Installed() = false;
  LoginDialogHook = std::exchange(PreviousHook(), nullptr);
}

// --- Scripted responder ----------------------------------------------------------------------

TScriptedLoginResponder::TScriptedLoginResponder(TFailure on_failure)
    : on_failure_(std::move(on_failure)) {
  previous_ = SetLoginDialogResponder([this](TLoginDialogForm& form) { return Respond(form); });
}

TScriptedLoginResponder::~TScriptedLoginResponder() {
  SetLoginDialogResponder(std::move(previous_));
  if (Pending() > 0) {
    Fail(std::to_string(Pending()) + " expected login dialog(s) never shown");
  }
}

TScriptedLoginResponder& TScriptedLoginResponder::Expect(TAnswer answer) {
  expected_.push_back(std::move(answer));
  return *this;
}

TScriptedLoginResponder& TScriptedLoginResponder::ExpectPassword(const AnsiString& password) {
  TAnswer a;
  a.Password = password;
  return Expect(std::move(a));
}

TScriptedLoginResponder& TScriptedLoginResponder::ExpectCancel() {
  TAnswer a;
  a.Result = mrCancel;
  return Expect(std::move(a));
}

int TScriptedLoginResponder::Respond(TLoginDialogForm& form) {
  shown_.push_back(form);
  if (next_ >= expected_.size()) {
    Fail("unexpected login dialog \"" + AnsiToUtf8(form.Caption) + "\" for " +
         AnsiToUtf8(form.Database));
    return mrCancel;
  }
  const TAnswer& a = expected_[next_++];
  if (a.Database) {
    if (form.DatabaseReadOnly) {
      Fail("typed into the read-only database field of the login dialog");
    } else {
      form.Database = *a.Database;
    }
  }
  if (a.UserName) form.UserName = *a.UserName;
  if (a.Password) form.Password = *a.Password;
  if (a.SQLRole) form.SQLRole = *a.SQLRole;
  return a.Result;
}

void TScriptedLoginResponder::Fail(const std::string& message) {
  if (on_failure_) {
    on_failure_(message);
    return;
  }
  std::fprintf(stderr, "TScriptedLoginResponder: %s\n", message.c_str());
  std::abort();
}

}  // namespace pelvar
