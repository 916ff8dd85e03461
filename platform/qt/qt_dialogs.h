// Real message boxes for the dialogs of platform/dialogs.h.
#pragma once

#include "platform/dialogs.h"

namespace pelvar {

// Shows the request as a modal QMessageBox (Czech captions, the type's icon, the
// default and the escape button) and answers the chosen button's result; a box
// closed without a button answers what closing gives (else the default button).
int QtShowDialog(const TDialogRequest& request);

}  // namespace pelvar
