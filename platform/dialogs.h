// Message dialogs with Czech captions and buttons.
//
// Every dialog goes to the installed responder, which shows it and answers with the
// modal result of the chosen button. The program installs the Qt responder (real
// message boxes, platform/qt/); tests install a TScriptedResponder; without either, the
// headless responder writes the dialog to stderr and answers as closing the box would
// (Storno, else Ne, else the default button).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/types.h"

namespace pelvar {

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum TMsgDlgBtn {
  mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp
};

// A set of buttons: TMsgDlgButtons{mbOK, mbCancel}.
class TMsgDlgButtons {
 public:
  constexpr TMsgDlgButtons() = default;
  constexpr TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons) {
    for (TMsgDlgBtn b : buttons) bits_ |= Bit(b);
  }
  constexpr bool Contains(TMsgDlgBtn b) const { return (bits_ & Bit(b)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TMsgDlgButtons operator+(TMsgDlgBtn b) const {
    TMsgDlgButtons r = *this;
    r.bits_ |= Bit(b);
    return r;
  }
  constexpr bool operator==(const TMsgDlgButtons&) const = default;

 private:
  static constexpr uint16_t Bit(TMsgDlgBtn b) { return static_cast<uint16_t>(1u << b); }
  uint16_t bits_ = 0;
};

inline constexpr TMsgDlgButtons mbYesNoCancel{mbYes, mbNo, mbCancel};
inline constexpr TMsgDlgButtons mbYesAllNoAllCancel{mbYes, mbYesToAll, mbNo, mbNoToAll, mbCancel};
inline constexpr TMsgDlgButtons mbOKCancel{mbOK, mbCancel};
inline constexpr TMsgDlgButtons mbAbortRetryIgnore{mbAbort, mbRetry, mbIgnore};
inline constexpr TMsgDlgButtons mbAbortIgnore{mbAbort, mbIgnore};

// Modal results; MessageBox's IDOK .. IDNO have the same values.
using TModalResult = int;
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrAbort = 3;
constexpr int mrRetry = 4;
constexpr int mrIgnore = 5;
constexpr int mrYes = 6;
constexpr int mrNo = 7;
constexpr int mrAll = 8;
constexpr int mrNoToAll = 9;
constexpr int mrYesToAll = 10;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// MessageBox flags: one button group, one icon, one default button.
constexpr uint32_t MB_OK = 0x00;
constexpr uint32_t MB_OKCANCEL = 0x01;
constexpr uint32_t MB_ABORTRETRYIGNORE = 0x02;
constexpr uint32_t MB_YESNOCANCEL = 0x03;
constexpr uint32_t MB_YESNO = 0x04;
constexpr uint32_t MB_RETRYCANCEL = 0x05;
constexpr uint32_t MB_ICONHAND = 0x10;
constexpr uint32_t MB_ICONSTOP = 0x10;
constexpr uint32_t MB_ICONERROR = 0x10;
constexpr uint32_t MB_ICONQUESTION = 0x20;
constexpr uint32_t MB_ICONEXCLAMATION = 0x30;
constexpr uint32_t MB_ICONWARNING = 0x30;
constexpr uint32_t MB_ICONASTERISK = 0x40;
constexpr uint32_t MB_ICONINFORMATION = 0x40;
constexpr uint32_t MB_DEFBUTTON1 = 0x000;
constexpr uint32_t MB_DEFBUTTON2 = 0x100;
constexpr uint32_t MB_DEFBUTTON3 = 0x200;

// The dialog functions. Texts and captions are Windows-1250.
int MessageDlg(const AnsiString& msg, TMsgDlgType type, TMsgDlgButtons buttons, int help_ctx = 0);
// The same with the button that Enter presses (one of buttons).
int MessageDlg(const AnsiString& msg, TMsgDlgType type, TMsgDlgButtons buttons, int help_ctx,
               TMsgDlgBtn default_button);
// Answers IDOK .. IDNO.
int MessageBox(const AnsiString& text, const AnsiString& caption, uint32_t flags);
// An information-less box with the application's title and OK.
void ShowMessage(const AnsiString& msg);

// --- What a responder sees ------------------------------------------------------------

enum class TDialogKind { MessageDlg, MessageBox, ShowMessage };

struct TDialogButton {
  int Result = mrNone;
  AnsiString Caption;  // Czech, Windows-1250, without accelerator marks
};

struct TDialogRequest {
  TDialogKind Kind = TDialogKind::MessageDlg;
  TMsgDlgType Type = mtCustom;  // the icon (mtCustom: none)
  AnsiString Caption;
  AnsiString Text;
  std::vector<TDialogButton> Buttons;  // in the order shown
  int DefaultResult = mrNone;          // the button Enter presses
  int CancelResult = mrNone;           // what closing the box answers

  bool Offers(int result) const;
};

// The Czech caption of a dialog type ("Varování", "Chyba", "Informace", "Potvrzení";
// empty for mtCustom) and of a button ("Ano", "Ne", "OK", "Storno", ...), Windows-1250.
AnsiString DialogTypeCaption(TMsgDlgType type);
AnsiString ButtonCaption(TMsgDlgBtn button);

// Shows the dialog and answers the modal result of the chosen button.
using TDialogResponder = std::function<int(const TDialogRequest&)>;
// Installs a responder (empty: the headless one) and returns the previous one.
TDialogResponder SetDialogResponder(TDialogResponder responder);

// A responder for tests, installed for its lifetime: each dialog must be the next
// expected one (same text, and the answer must be one of its buttons); anything else,
// and expectations left over at the end, are reported through the failure function
// (UTF-8 text naming the dialog). The default failure function prints the message and
// aborts the process, so an unexpected dialog can never pass unnoticed; GoogleTest
// users pass `[](const std::string& m) { ADD_FAILURE() << m; }`.
class TScriptedResponder {
 public:
  using TFailure = std::function<void(const std::string& message)>;
  explicit TScriptedResponder(TFailure on_failure = {});
  ~TScriptedResponder();
  TScriptedResponder(const TScriptedResponder&) = delete;
  TScriptedResponder& operator=(const TScriptedResponder&) = delete;

  // The next dialog shows exactly this text (Windows-1250) and is answered so.
  TScriptedResponder& Expect(const AnsiString& text, int answer);
  // The same, also checking the dialog type.
  TScriptedResponder& Expect(TMsgDlgType type, const AnsiString& text, int answer);

  // Every dialog shown so far.
  const std::vector<TDialogRequest>& Shown() const { return shown_; }
  // Expectations not met yet.
  size_t Pending() const { return expected_.size() - next_; }

 private:
  struct Expectation {
    bool check_type;
    TMsgDlgType type;
    AnsiString text;
    int answer;
  };
  int Respond(const TDialogRequest& request);
  void Fail(const std::string& message);

  TFailure on_failure_;
  TDialogResponder previous_;
  std::vector<Expectation> expected_;
  size_t next_ = 0;
  std::vector<TDialogRequest> shown_;
};

}  // namespace pelvar
