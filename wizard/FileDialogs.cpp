#include "wizard/FileDialogs.h"

namespace pelvar {

namespace {
TOpenDialogResponder& Responder() {
  static TOpenDialogResponder responder;
  return responder;
}
}  // namespace

bool TOpenDialog::Execute() {
  TOpenDialogResponder& responder = Responder();
  if (!responder) return false;
  TOpenDialog answer = *this;
  if (!responder(answer) || answer.FileName.empty()) return false;
  FileName = answer.FileName;
  return true;
}

TOpenDialogResponder SetOpenDialogResponder(TOpenDialogResponder responder) {
  TOpenDialogResponder previous = std::move(Responder());
  Responder() = std::move(responder);
  return previous;
}

TScriptedOpenDialog::TScriptedOpenDialog(TFailure on_failure) : on_failure_(std::move(on_failure)) {
  previous_ = SetOpenDialogResponder([this](TOpenDialog& dialog) {
    shown_.push_back(dialog);
    if (next_ >= answers_.size()) {
      if (on_failure_) on_failure_("unexpected open-file dialog: " + dialog.Title);
      return false;
    }
    dialog.FileName = answers_[next_++];
    return !dialog.FileName.empty();
  });
}

TScriptedOpenDialog::~TScriptedOpenDialog() {
  SetOpenDialogResponder(std::move(previous_));
  if (next_ < answers_.size() && on_failure_)
    on_failure_(std::to_string(answers_.size() - next_) + " open-file dialog(s) never shown");
}

TScriptedOpenDialog& TScriptedOpenDialog::Choose(const AnsiString& file_name) {
  answers_.push_back(file_name);
  return *this;
}

}  // namespace pelvar
