// The login dialog of the database library: database, user name, password and SQL
// role, asked when a connection logs in with its login prompt.
//
// The dialog's model and behaviour live here, headless. What the user types and which
// button he presses come from the installed responder: the program installs the Qt
// dialog (platform/qt/qt_ibdialogs.h), tests install a TScriptedLoginResponder; without
// either, the headless responder writes the dialog to stderr and answers as closing the
// window would (Storno).
//
// The unit's start-up (InitializeIBD_Login, called explicitly by the program: static
// initialisers of a static library may be dropped) makes this dialog the one that the
// connection's login prompt shows (LoginDialogHook).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/types.h"

namespace pelvar {

struct TIB_LoginDialogValues;
class TIB_Connection;

// The dialog's controls that can take the focus.
enum class TLoginControl : uint8_t {
  edDatabase,
  edUserName,
  edPassword,
  cbSQLRole,
  OKBtn,
  CancelBtn,
  HelpBtn,
};

// The colours of the database field: clWindow normally, clSilver while read-only.
constexpr int32_t LoginDatabaseColorWindow = static_cast<int32_t>(0xFF000005u);
constexpr int32_t LoginDatabaseColorReadOnly = 0x00C0C0C0;

// Everything the login dialog shows (texts Windows-1250). A view shows it and writes
// back what the user typed: Database (unless read-only), UserName, Password, SQLRole.
struct TLoginDialogForm {
  AnsiString Caption;
  int32_t ClientWidth = 472;
  int32_t ClientHeight = 151;
  bool AlwaysOnTop = true;
  // The picture at the left, in a raised frame.
  int32_t ImageSize = 105;

  AnsiString DatabaseLabel;
  AnsiString UserLabel;
  AnsiString PasswordLabel;
  AnsiString SQLRoleLabel;
  AnsiString OKCaption;
  AnsiString CancelCaption;
  AnsiString HelpCaption;  // with the accelerator mark '&'

  AnsiString Database;
  bool DatabaseReadOnly = false;
  int32_t DatabaseColor = LoginDatabaseColorWindow;
  // Shown and kept in upper case.
  AnsiString UserName;
  // Shown as '*'.
  AnsiString Password;
  AnsiString SQLRole;
  // The items of the role box.
  std::vector<AnsiString> SQLRoles;
  bool HelpVisible = false;
  int32_t HelpContext = 0;

  // The order in which Tab moves through the controls.
  std::vector<TLoginControl> TabOrder;
  // The control that has the focus when the dialog appears.
  TLoginControl ActiveControl = TLoginControl::edPassword;
};

// Shows the form modally, writes what the user typed into it and answers mrOk or
// mrCancel (closing the window answers mrCancel).
using TLoginDialogResponder = std::function<int(TLoginDialogForm& Form)>;
// Installs a responder (empty: the headless one) and returns the previous one.
TLoginDialogResponder SetLoginDialogResponder(TLoginDialogResponder Responder);

class TdlgLogin {
 public:
  // Sets the Czech texts and the caption: the application's title, trimmed, a blank and
  // "Přihlašovací dialog".
  TdlgLogin();

  const TLoginDialogForm& Form() const { return form_; }

  const AnsiString& Caption() const { return form_.Caption; }
  void SetCaption(const AnsiString& Value) { form_.Caption = Value; }
  bool DatabaseReadOnly() const { return form_.DatabaseReadOnly; }
  // On a change: the database field becomes read-only (silver) or editable (window colour).
  void SetDatabaseReadOnly(bool Value);
  const AnsiString& Database() const { return form_.Database; }
  void SetDatabase(const AnsiString& Value) { form_.Database = Value; }
  const AnsiString& UserName() const { return form_.UserName; }
  // The field converts to upper case (Windows-1250 letters included).
  void SetUserName(const AnsiString& Value);
  const AnsiString& Password() const { return form_.Password; }
  void SetPassword(const AnsiString& Value) { form_.Password = Value; }
  const AnsiString& SQLRole() const { return form_.SQLRole; }
  void SetSQLRole(const AnsiString& Value) { form_.SQLRole = Value; }
  const std::vector<AnsiString>& SQLRoles() const { return form_.SQLRoles; }
  void SetSQLRoles(std::vector<AnsiString> Value) { form_.SQLRoles = std::move(Value); }
  bool HelpVisible() const { return form_.HelpVisible; }
  void SetHelpVisible(bool Value) { form_.HelpVisible = Value; }
  int32_t HelpContext() const { return form_.HelpContext; }
  void SetHelpContext(int32_t Value) { form_.HelpContext = Value; }

  // Puts the focus on the user name when it is empty, else on the first control of the
  // tab order (the password), shows the dialog through the responder and takes back
  // what was typed. Answers mrOk or mrCancel.
  int ShowModal();
  int ModalResult() const { return modal_result_; }

 private:
  TLoginDialogForm form_;
  int modal_result_ = 0;
};

// Runs the login dialog for a connection's login prompt: shows Values, and on OK writes
// what the user typed back into them. False when the user cancelled.
bool ExecuteLoginDialog(TIB_Connection* Sender, TIB_LoginDialogValues& Values);

// The unit's start-up: the connection's login prompt shows this dialog from now on.
// The finalisation gives the connection back the hook it had before. Each runs once
// per pairing; a second start-up without finalisation does nothing.
void InitializeIBD_Login();
void FinalizeIBD_Login();

// A responder for tests, installed for its lifetime. Each dialog shown must be the next
// expected one; what it types and presses is given by the expectation. Anything
// unexpected (a dialog too many, typing into the read-only database field) and
// expectations left over at the end are reported through the failure function (UTF-8
// text); the default one prints it and aborts. GoogleTest users pass
// `[](const std::string& m) { ADD_FAILURE() << m; }`.
class TScriptedLoginResponder {
 public:
  struct TAnswer {
    // What the user types over each field; unset fields are left as shown.
    std::optional<AnsiString> Database;
    std::optional<AnsiString> UserName;
    std::optional<AnsiString> Password;
    std::optional<AnsiString> SQLRole;
    int Result = mrOk;
  };
  using TFailure = std::function<void(const std::string& message)>;

  explicit TScriptedLoginResponder(TFailure on_failure = {});
  ~TScriptedLoginResponder();
  TScriptedLoginResponder(const TScriptedLoginResponder&) = delete;
  TScriptedLoginResponder& operator=(const TScriptedLoginResponder&) = delete;

  TScriptedLoginResponder& Expect(TAnswer answer);
  // Shortcuts: types the password and presses OK; presses Storno.
  TScriptedLoginResponder& ExpectPassword(const AnsiString& password);
  TScriptedLoginResponder& ExpectCancel();

  // Every dialog as it appeared, before anything was typed.
  const std::vector<TLoginDialogForm>& Shown() const { return shown_; }
  size_t Pending() const { return expected_.size() - next_; }

 private:
  int Respond(TLoginDialogForm& form);
  void Fail(const std::string& message);

  TFailure on_failure_;
  TLoginDialogResponder previous_;
  std::vector<TAnswer> expected_;
  size_t next_ = 0;
  std::vector<TLoginDialogForm> shown_;
};

}  // namespace pelvar
