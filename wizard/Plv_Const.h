// Constants of the product that the wizard shares with the rest of the suite.
#pragma once

#include "platform/types.h"

namespace pelvar {

// The product's registry root below the current user. The wizard replaces it by
// PlvRegistryRootAlt when the key "Software" holds that sub-key.
extern const char* const PlvRegistryRoot;     // "Software\Brontek"
extern const char* const PlvRegistryRootAlt;  // "Software\Calvimo"
// The wizard's own key below the root, and the product's installation key.
extern const char* const PlvWizardKey;        // "Pelvar"
extern const char* const PlvInstallKey;       // "Pelvar 2008"

// Texts of the product (Windows-1250).
AnsiString PlvTextUzemi();   // "Území"
AnsiString PlvTextChov();    // "Chov"
AnsiString PlvTextJedinec(); // "Jedinec"
AnsiString PlvTextAno();     // "Ano"
AnsiString PlvTextNe();      // "Ne"
// The Boolean pairs of the database: "N"/"A" and "F"/"T".
extern const char* const PlvFalseNA;
extern const char* const PlvTrueNA;
extern const char* const PlvFalseFT;
extern const char* const PlvTrueFT;

}  // namespace pelvar
