// The open-file dialog of the wizard. Like the message dialogs, every dialog goes to the
// installed responder: the program installs the Qt file chooser, tests install a
// TScriptedOpenDialog; without either, the dialog is cancelled at once.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace pelvar {

struct TOpenDialog {
  AnsiString Title;
  // "Description|*.ext|Description|*.ext", as the framework writes it.
  AnsiString Filter;
  AnsiString DefaultExt;
  AnsiString InitialDir;
  // In: the file proposed; out: the file chosen.
  AnsiString FileName;

  // Shows the dialog; true when a file was chosen (FileName holds it).
  bool Execute();
};

// Answers a dialog: true with the chosen file in dialog.FileName, false for Cancel.
using TOpenDialogResponder = std::function<bool(TOpenDialog& dialog)>;
// Installs a responder (empty: every dialog is cancelled) and returns the previous one.
TOpenDialogResponder SetOpenDialogResponder(TOpenDialogResponder responder);

// A responder for tests, installed for its lifetime: each dialog takes the next answer
// (a file name, or an empty text for Cancel); a dialog without an answer left fails
// the test through the failure function and is cancelled.
class TScriptedOpenDialog {
 public:
  using TFailure = std::function<void(const std::string& message)>;
  explicit TScriptedOpenDialog(TFailure on_failure);
  ~TScriptedOpenDialog();
  TScriptedOpenDialog(const TScriptedOpenDialog&) = delete;
  TScriptedOpenDialog& operator=(const TScriptedOpenDialog&) = delete;

  TScriptedOpenDialog& Choose(const AnsiString& file_name);
  TScriptedOpenDialog& Cancel() { return Choose(AnsiString()); }
  // Every dialog shown so far, as it was when shown.
  const std::vector<TOpenDialog>& Shown() const { return shown_; }
  size_t Pending() const { return answers_.size() - next_; }

 private:
  TFailure on_failure_;
  TOpenDialogResponder previous_;
  std::vector<AnsiString> answers_;
  size_t next_ = 0;
  std::vector<TOpenDialog> shown_;
};

}  // namespace pelvar
