#include "platform/dialogs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/application.h"
#include "platform/codepage.h"

namespace pelvar {
namespace {

TDialogResponder& CurrentResponder() {
  static TDialogResponder responder;
  return responder;
}

int ButtonResult(TMsgDlgBtn b) {
  switch (b) {
    case mbYes: return mrYes;
    case mbNo: return mrNo;
    case mbOK: return mrOk;
    case mbCancel: return mrCancel;
    case mbAbort: return mrAbort;
    case mbRetry: return mrRetry;
    case mbIgnore: return mrIgnore;
    case mbAll: return mrAll;
    case mbNoToAll: return mrNoToAll;
    case mbYesToAll: return mrYesToAll;
    case mbHelp: return mrNone;
  }
  return mrNone;
}

TDialogButton MakeButton(TMsgDlgBtn b) { return TDialogButton{ButtonResult(b), ButtonCaption(b)}; }

std::string Quote(const AnsiString& text) { return "\"" + AnsiToUtf8(text) + "\""; }

std::string Describe(const TDialogRequest& r) {
  std::string s = Quote(r.Text) + " (" + AnsiToUtf8(r.Caption) + "; ";
  for (size_t i = 0; i < r.Buttons.size(); ++i) {
    if (i) s += ", ";
    s += AnsiToUtf8(r.Buttons[i].Caption);
  }
  return s + ")";
}

// The answer of a box nobody can see: what closing it gives, else "Ne", else Enter.
int HeadlessAnswer(const TDialogRequest& r) {
  int answer = r.CancelResult;
  if (answer == mrNone) answer = r.Offers(mrNo) ? mrNo : r.DefaultResult;
  std::fprintf(stderr, "[dialog] %s -> %d\n", Describe(r).c_str(), answer);
  return answer;
}

int Show(const TDialogRequest& r) {
  const TDialogResponder& responder = CurrentResponder();
  return responder ? responder(r) : HeadlessAnswer(r);
}

TMsgDlgType IconType(uint32_t flags) {
  switch (flags & 0xF0) {
    case MB_ICONERROR: return mtError;
    case MB_ICONQUESTION: return mtConfirmation;
    case MB_ICONWARNING: return mtWarning;
    case MB_ICONINFORMATION: return mtInformation;
    default: return mtCustom;
  }
}

}  // namespace

bool TDialogRequest::Offers(int result) const {
  return std::any_of(Buttons.begin(), Buttons.end(),
                     [result](const TDialogButton& b) { return b.Result == result; });
}

AnsiString DialogTypeCaption(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return CZ("Varování");
    case mtError: return CZ("Chyba");
    case mtInformation: return CZ("Informace");
    case mtConfirmation: return CZ("Potvrzení");
    case mtCustom: break;
  }
  return {};
}

AnsiString ButtonCaption(TMsgDlgBtn button) {
  switch (button) {
    case mbYes: return CZ("Ano");
    case mbNo: return CZ("Ne");
    case mbOK: return CZ("OK");
    case mbCancel: return CZ("Storno");
    case mbAbort: return CZ("Přerušit");
    case mbRetry: return CZ("Opakovat");
    case mbIgnore: return CZ("Ignorovat");
    case mbAll: return CZ("Vše");
    case mbNoToAll: return CZ("Ne všem");
    case mbYesToAll: return CZ("Ano všem");
    case mbHelp: return CZ("Nápověda");
  }
  return {};
}

TDialogResponder SetDialogResponder(TDialogResponder responder) {
  TDialogResponder previous = std::move(CurrentResponder());
  CurrentResponder() = std::move(responder);
  return previous;
}

namespace {

TDialogRequest MessageDlgRequest(const AnsiString& msg, TMsgDlgType type, TMsgDlgButtons buttons) {
  TDialogRequest r;
  r.Kind = TDialogKind::MessageDlg;
  r.Type = type;
  r.Caption = type == mtCustom ? Application()->Title() : DialogTypeCaption(type);
  r.Text = msg;
  if (buttons.Empty()) buttons = TMsgDlgButtons{mbOK};  // a box must be closable
  // The help button does not close the box; nothing here shows help.
  for (TMsgDlgBtn b : {mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll,
                       mbYesToAll})
    if (buttons.Contains(b)) r.Buttons.push_back(MakeButton(b));
  if (r.Buttons.empty()) r.Buttons.push_back(MakeButton(mbOK));
  r.DefaultResult = r.Offers(mrOk) ? mrOk : r.Offers(mrYes) ? mrYes : r.Buttons.front().Result;
  r.CancelResult = r.Offers(mrCancel) ? mrCancel : r.Offers(mrNo) ? mrNo : r.Offers(mrOk) ? mrOk : mrNone;
  return r;
}

}  // namespace

int MessageDlg(const AnsiString& msg, TMsgDlgType type, TMsgDlgButtons buttons, int) {
  return Show(MessageDlgRequest(msg, type, buttons));
}

int MessageDlg(const AnsiString& msg, TMsgDlgType type, TMsgDlgButtons buttons, int,
               TMsgDlgBtn default_button) {
  TDialogRequest r = MessageDlgRequest(msg, type, buttons);
  const int wanted = ButtonResult(default_button);
  if (r.Offers(wanted)) r.DefaultResult = wanted;
  return Show(r);
}

int MessageBox(const AnsiString& text, const AnsiString& caption, uint32_t flags) {
  TDialogRequest r;
  r.Kind = TDialogKind::MessageBox;
  r.Type = IconType(flags);
  r.Caption = caption;
  r.Text = text;
  std::vector<TMsgDlgBtn> group;
  switch (flags & 0x0F) {
    case MB_OKCANCEL: group = {mbOK, mbCancel}; break;
    case MB_ABORTRETRYIGNORE: group = {mbAbort, mbRetry, mbIgnore}; break;
    case MB_YESNOCANCEL: group = {mbYes, mbNo, mbCancel}; break;
    case MB_YESNO: group = {mbYes, mbNo}; break;
    case MB_RETRYCANCEL: group = {mbRetry, mbCancel}; break;
    default: group = {mbOK}; break;
  }
  for (TMsgDlgBtn b : group) r.Buttons.push_back(MakeButton(b));
  const size_t def = (flags >> 8) & 0x3;
  r.DefaultResult = r.Buttons[def < r.Buttons.size() ? def : 0].Result;
  r.CancelResult = r.Offers(mrCancel) ? mrCancel : (flags & 0x0F) == MB_OK ? mrOk : mrNone;
  return Show(r);
}

void ShowMessage(const AnsiString& msg) {
  TDialogRequest r;
  r.Kind = TDialogKind::ShowMessage;
  r.Type = mtCustom;
  r.Caption = Application()->Title();
  r.Text = msg;
  r.Buttons.push_back(MakeButton(mbOK));
  r.DefaultResult = mrOk;
  r.CancelResult = mrOk;
  Show(r);
}

// --- Scripted responder --------------------------------------------------------------

TScriptedResponder::TScriptedResponder(TFailure on_failure) : on_failure_(std::move(on_failure)) {
  previous_ = SetDialogResponder([this](const TDialogRequest& r) { return Respond(r); });
}

TScriptedResponder::~TScriptedResponder() {
  for (size_t i = next_; i < expected_.size(); ++i)
    Fail("Expected dialog was not shown: " + Quote(expected_[i].text));
  SetDialogResponder(std::move(previous_));
}

TScriptedResponder& TScriptedResponder::Expect(const AnsiString& text, int answer) {
  expected_.push_back({false, mtCustom, text, answer});
  return *this;
}

TScriptedResponder& TScriptedResponder::Expect(TMsgDlgType type, const AnsiString& text,
                                               int answer) {
  expected_.push_back({true, type, text, answer});
  return *this;
}

int TScriptedResponder::Respond(const TDialogRequest& r) {
  shown_.push_back(r);
  const int fallback = r.CancelResult != mrNone ? r.CancelResult : r.DefaultResult;
  if (next_ >= expected_.size()) {
    Fail("Unexpected dialog: " + Describe(r));
    return fallback;
  }
  const Expectation& e = expected_[next_++];
  if (e.text != r.Text) {
    Fail("Expected dialog " + Quote(e.text) + ", shown " + Describe(r));
    return fallback;
  }
  if (e.check_type && e.type != r.Type) {
    Fail("Dialog " + Describe(r) + " has type " + std::to_string(r.Type) + ", expected " +
         std::to_string(e.type));
    return fallback;
  }
  if (!r.Offers(e.answer)) {
    Fail("Dialog " + Describe(r) + " has no button answering " + std::to_string(e.answer));
    return fallback;
  }
  return e.answer;
}

void TScriptedResponder::Fail(const std::string& message) {
  if (on_failure_) {
    on_failure_(message);
    return;
  }
  std::fprintf(stderr, "TScriptedResponder: %s\n", message.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace pelvar
