// What the data module and the play-in engine need of the wizard's main form, and no
// more: the settings reader, the station being played or finished, the automatic-
// continuation switch, the finishing option that trims the journal to recent changes,
// and the main form's row progress bar with its count label.
//
// The main form implements it and hands itself to the data module when it creates it;
// nothing in this folder includes the wizard. Tests use a double of their own.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace pelvar {

class TMainFormLink {
 public:
  // A value of "Meldrun.ini", trimmed; def when the file or the key is missing.
  virtual AnsiString ReadIniString(const AnsiString& section, const AnsiString& ident,
                                   const AnsiString& def) = 0;
  // Index (0-based) of the station being played or finished, into the station lists.
  virtual int32_t StationIndex() const = 0;
  // Automatic continuation over the stations is armed: conflicts the engine would ask
  // about are decided without a dialog.
  virtual bool AutoContinue() const = 0;
  // The finishing page's option "Pouze změny za posledních" (keep only recent journal
  // rows) is ticked.
  virtual bool JournalRecentOnly() const = 0;

  // The row progress bar ("ProgressBar") and the count label ("L_Count") of the play-in
  // page. Repaint shows the current state at once (the loops that drive them pump
  // messages themselves where they should).
  virtual int32_t ProgressMax() const = 0;
  virtual void SetProgressMax(int32_t value) = 0;
  virtual void SetProgressPosition(int32_t value) = 0;
  virtual void SetCountText(const AnsiString& text) = 0;
  virtual void RepaintProgress() = 0;

 protected:
  ~TMainFormLink() = default;
};

}  // namespace pelvar
