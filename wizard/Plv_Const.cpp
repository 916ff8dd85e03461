#include "wizard/Plv_Const.h"

#include "platform/codepage.h"

namespace pelvar {

const char* const PlvRegistryRoot = "Software\\Brontek";
const char* const PlvRegistryRootAlt = "Software\\Calvimo";
const char* const PlvWizardKey = "Pelvar";
const char* const PlvInstallKey = "Pelvar 2008";

AnsiString PlvTextUzemi() { return CZ("Území"); }
AnsiString PlvTextChov() { return CZ("Chov"); }
AnsiString PlvTextJedinec() { return CZ("Jedinec"); }
AnsiString PlvTextAno() { return CZ("Ano"); }
AnsiString PlvTextNe() { return CZ("Ne"); }

const char* const PlvFalseNA = "N";
const char* const PlvTrueNA = "A";
const char* const PlvFalseFT = "F";
const char* const PlvTrueFT = "T";

}  // namespace pelvar
