#include "wizard/MldrSettings.h"

#include <cctype>
#include <initializer_list>
#include <utility>

#include "platform/codepage.h"
#include "platform/application.h"
#include "platform/exceptions.h"
#include "platform/inifiles.h"
#include "platform/registry.h"
#include "platform/sysutils.h"
#include "wizard/FormPlacement.h"
#include "wizard/Plv_Const.h"
#include "wizard/ShellUtils.h"

namespace pelvar {

namespace {

const char* const kIniFileName = "Meldrun.ini";
const char* const kDefaultBkpPath = "c:\\Program Files\\Brontek\\Pelvar\\Zaloha.dat";
const char* const kDefaultDBFileName = "Pelvar.gdb";
const char* const kDefaultBkpFileName = "Pelvar.gbk";

// A text value of the open key; empty when it is missing or not text.
AnsiString ReadTextValue(TRegistry& reg, const AnsiString& name) {
  if (!reg.ValueExists(name)) return AnsiString();
  const TRegDataType type = reg.GetDataType(name);
  if (type != rdString && type != rdExpandString) return AnsiString();
  return Trim(reg.ReadString(name));
}

// The data folder inside an installation folder, joined with the separator the value
// itself uses: a value written on Windows ("C:\\Pelvar") keeps its backslashes.
AnsiString DataFolderOf(const AnsiString& install) {
  const char last = install.back();
  if (last == '/' || last == '\\') return install + "DataFB";
  const size_t sep = install.find_last_of("/\\");
  const bool drive_only =
      install.size() == 2 && install[1] == ':' && std::isalpha(static_cast<unsigned char>(install[0]));
  const bool windows = sep != AnsiString::npos ? install[sep] == '\\' : drive_only;
  return windows ? install + "\\DataFB" : IncludeTrailingPathDelimiter(install) + "DataFB";
}

// Where a check box of the last values lives: section and value name.
struct TBoxPlace {
  const char* section;
  const char* ident;
  bool TMldrLastValues::*field;
};

const TBoxPlace kBoxes[] = {
    {"LastValues", "CB_Zaklad.Checked", &TMldrLastValues::CB_Zaklad},
    {"LastValues", "CB_ExPartner.Checked", &TMldrLastValues::CB_ExPartner},
    {"LastValues", "CB_ExPacient.Checked", &TMldrLastValues::CB_ExPacient},
    {"LastValues", "CB_Karty.Checked", &TMldrLastValues::CB_Karty},
    {"LastValues", "CB_Doklady.Checked", &TMldrLastValues::CB_Doklady},
    {"LastValues", "CB_Uzaverky.Checked", &TMldrLastValues::CB_Uzaverky},
    {"LastValues", "CB_Ciselniky.Checked", &TMldrLastValues::CB_Ciselniky},
    {"LastValues", "CB_OrgStruktura.Checked", &TMldrLastValues::CB_OrgStruktura},
    {"AutoChange", "CB_AutoChange.Checked", &TMldrLastValues::CB_AutoChange},
    {"VerifyZaloha", "CB_VerifyZaloha.Checked", &TMldrLastValues::CB_VerifyZaloha},
    {"PonechatData", "CB_PonechatData.Checked", &TMldrLastValues::CB_PonechatData},
};

}  // namespace

TMldrSettings::TMldrSettings(const AnsiString& exe_dir)
    : exe_dir_(exe_dir.empty() ? ExtractFilePath(Application()->ExeName())
                               : IncludeTrailingPathDelimiter(exe_dir)),
      registry_root_(PlvRegistryRoot) {}

AnsiString TMldrSettings::IniFileName() const { return exe_dir_ + kIniFileName; }

AnsiString TMldrSettings::FormManagerKey() const {
  return registry_root_ + "\\" + PlvWizardKey;
}

AnsiString TMldrSettings::ReadIniString(const AnsiString& section, const AnsiString& ident,
                                        const AnsiString& def) const {
  const TIniFile ini(IniFileName());
  return Trim(ini.ReadString(section, ident, def));
}

int32_t TMldrSettings::ReadIniInteger(const AnsiString& section, const AnsiString& ident,
                                      const AnsiString& def) const {
  const AnsiString text = ReadIniString(section, ident, def);
  int32_t value = 0;
  if (!TryStrToInt(text, value)) {
    // The framework's conversion error, told where the bad value is.
    throw EConvertError(Format("%s [%s] %s: '%s' is not a valid integer value",
                               {AnsiString(kIniFileName), section, ident, text}));
  }
  return value;
}

void TMldrSettings::ChooseRegistryRoot() {
  TRegistry reg(KEY_READ);
  registry_root_ = reg.KeyExists(AnsiString("\\") + PlvRegistryRootAlt) ? PlvRegistryRootAlt
                                                                          : PlvRegistryRoot;
}

void TMldrSettings::ReadSettings() {
  data_path_ = ReadIniString("DATABAZE", "Path", "");
  bkp_path_ = ReadIniString("DATABAZE", "BkpPath", kDefaultBkpPath);
  if (data_path_.empty()) data_path_ = ReadInstalledDataPath();
  db_file_name_ = ReadIniString("DATABAZE", "DBFileName", "");
  bkp_file_name_ = ReadIniString("DATABAZE", "BkpFileName", "");
  share_data_dir_ = ReadIniString("WORKSTATION", "ShareDataDir", "");
  commit_after_ = ReadIniInteger("PROGRAM_FLOW", "CommitAfter", "900");
  work_flow_cycles_ = ReadIniInteger("PROGRAM_FLOW", "WorkFlowCycles", "1");
  request_for_destination_ =
      Pos("ANO", AnsiUpperCase(ReadIniString("RESULTS", "RequestForDestination", "NE"))) > 0;
}

AnsiString TMldrSettings::ReadInstalledDataPath() const {
  TRegistry reg(KEY_READ);
  if (!reg.OpenKeyReadOnly("\\" + registry_root_ + "\\" + PlvInstallKey + "\\Config")) {
    return AnsiString();
  }
  AnsiString path = ReadTextValue(reg, "DataPathNew");
  if (path.empty()) {
    const AnsiString install = ReadTextValue(reg, "InstallPathNew");
    if (!install.empty()) path = DataFolderOf(install);
  }
  if (path.empty()) path = ReadTextValue(reg, "DataPath");
  if (path.empty()) {
    const AnsiString install = ReadTextValue(reg, "InstallPath");
    if (!install.empty()) path = DataFolderOf(install);
  }
  return path;
}

void TMldrSettings::ReadStartupSettings() {
  ChooseRegistryRoot();
  ReadSettings();
  if (data_path_.empty()) data_path_ = exe_dir_ + "Data";
  if (db_file_name_.empty()) db_file_name_ = kDefaultDBFileName;
  if (bkp_file_name_.empty()) bkp_file_name_ = kDefaultBkpFileName;
  work_dir_ = exe_dir_ + "MAINDATA";
  CreateDirPath(work_dir_);
}

AnsiString TMldrSettings::ReadArchiveDir() const {
  const AnsiString dir = ReadIniString("ARCHIV", "ArchDir", "ARCHIV");
  if (dir == "ARCHIV") return IncludeTrailingPathDelimiter(work_dir_) + "ARCHIV";
  return dir;
}

void TMldrSettings::WriteRegInteger(const AnsiString& section, const AnsiString& ident,
                                    int32_t value) const {
  // An integer value of the registry (REG_DWORD), as the rest of the suite reads it.
  TRegistry reg;
  if (!reg.OpenKey("\\" + FormManagerKey() + "\\" + section, true))
    throw ERegistryException(CZ("Nelze nastavit data pro '") + ident + "'");
  reg.WriteInteger(ident, value);
  reg.CloseKey();
}

void TMldrSettings::WriteRegString(const AnsiString& section, const AnsiString& ident,
                                   const AnsiString& value) const {
  TRegIniFile reg(FormManagerKey());
  reg.WriteString(section, ident, value);
}

TMldrLastValues ReadLastValues(TObject* ini_file) {
  TMldrLastValues values;
  values.Path = IniReadString(ini_file, "LastValues", "Path", "");
  for (const TBoxPlace& box : kBoxes) {
    values.*box.field = IniReadInteger(ini_file, box.section, box.ident, 1) != 0;
  }
  return values;
}

void WriteLastValues(TObject* ini_file, const TMldrLastValues& values) {
  IniWriteString(ini_file, "LastValues", "Path", values.Path);
  auto* reg = dynamic_cast<TRegIniFile*>(ini_file);
  for (const TBoxPlace& box : kBoxes) {
    const int32_t value = values.*box.field ? 1 : 0;
    if (reg == nullptr) {
      IniWriteInteger(ini_file, box.section, box.ident, value);
      continue;
    }
    // In the registry an integer value (REG_DWORD), as the rest of the suite reads it;
    // the store's own integers are text (read either way).
    if (!reg->OpenKey(box.section, true))
      throw ERegistryException(CZ("Nelze nastavit data pro '") + AnsiString(box.ident) + "'");
    reg->TRegistry::WriteInteger(box.ident, value);
    reg->OpenKey("\\" + reg->FileName(), false);
  }
}

}  // namespace pelvar
