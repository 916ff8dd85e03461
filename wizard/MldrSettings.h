// The wizard's configuration: the settings file "Meldrun.ini" next to the executable
// (only ever read) and the wizard's state and last choices in the current user's
// registry. The main form holds one TMldrSettings; everything here works headless.
//
// "Meldrun.ini" (every value trimmed after reading):
//   [DATABAZE]     Path (directory of the main database; empty: the fallbacks below),
//                  BkpPath (directory of the rotated backups), DBFileName ("Pelvar.gdb"),
//                  BkpFileName ("Pelvar.gbk")
//   [WORKSTATION]  ShareDataDir (the working directory as the main server sees it),
//                  MyProtocol (read by the data module)
//   [SERVER]       ServerName, ServerProtocol (read by the data module)
//   [PROGRAM_FLOW] CommitAfter (900), WorkFlowCycles (1): integers; anything else fails
//                  the start-up with a conversion error naming the key
//   [RESULTS]      RequestForDestination ("NE"; true when it contains "ANO", any case)
//   [ARCHIV]       ArchDir ("ARCHIV": the directory ARCHIV in the working directory)
// Paths that name the main server's files (a remote server's Path, ShareDataDir) are
// passed on as they stand; local paths are Linux paths.
//
// Registry, below the root "Software\Brontek" (or "Software\Calvimo" when that key
// exists) + "\Pelvar", in sub-keys ("sections"):
//   Wizard       the form placement, "Level", "LastHarmonised", "LastOK"
//   LastValues   "Path" (the station grid text) and the eight group check boxes
//   AutoChange, VerifyZaloha, PonechatData: one check box each
// The check boxes are stored as 1 or 0 and read with the default 1.
// The product's installation key, root + "\Pelvar 2008", section "Config", supplies the
// main database's directory when the settings file gives none.
#pragma once

#include <cstdint>

#include "platform/classes.h"
#include "platform/types.h"

namespace pelvar {

class TMldrSettings {
 public:
  // exe_dir: the executable's directory, with a trailing delimiter; empty means the
  // directory of the running executable.
  explicit TMldrSettings(const AnsiString& exe_dir = AnsiString());

  const AnsiString& ExeDir() const { return exe_dir_; }
  // ExeDir + "Meldrun.ini".
  AnsiString IniFileName() const;

  // Opens "Meldrun.ini" for this one read and returns the value, trimmed; the default
  // when the file or the key is missing.
  AnsiString ReadIniString(const AnsiString& section, const AnsiString& ident,
                           const AnsiString& def) const;

  // What the main form reads when it is created, in this order: the registry root, the
  // settings file (with the installed data path when it names none), the defaults for
  // what is still empty, and the working directory (created when missing). Raises
  // EConvertError when "CommitAfter" or "WorkFlowCycles" is not a number.
  void ReadStartupSettings();
  // "Software\Calvimo" when the current user's "Software" key has the sub-key
  // "Calvimo", otherwise "Software\Brontek"; the form manager's key is root + "\Pelvar".
  void ChooseRegistryRoot();
  // The keys of the main form from the settings file.
  void ReadSettings();
  // The data-path fallback from the installation key: "DataPathNew"; else
  // "InstallPathNew" + "DataFB"; else "DataPath"; else "InstallPath" + "DataFB"; the
  // first non-empty one wins, empty when none is set. Reads only, never creates keys.
  AnsiString ReadInstalledDataPath() const;
  // The archive directory of finishing: exactly "ARCHIV" means WorkDir + "ARCHIV"; any
  // other value is used as it stands.
  AnsiString ReadArchiveDir() const;

  // Open the form manager's key for this one write and close it again.
  void WriteRegInteger(const AnsiString& section, const AnsiString& ident, int32_t value) const;
  void WriteRegString(const AnsiString& section, const AnsiString& ident,
                      const AnsiString& value) const;

  const AnsiString& RegistryRoot() const { return registry_root_; }
  // RegistryRoot + "\Pelvar": the key of the form manager and of the wizard's values.
  AnsiString FormManagerKey() const;

  const AnsiString& DataPath() const { return data_path_; }
  void SetDataPath(const AnsiString& v) { data_path_ = v; }
  const AnsiString& BkpPath() const { return bkp_path_; }
  const AnsiString& DBFileName() const { return db_file_name_; }
  void SetDBFileName(const AnsiString& v) { db_file_name_ = v; }
  const AnsiString& BkpFileName() const { return bkp_file_name_; }
  const AnsiString& ShareDataDir() const { return share_data_dir_; }
  bool RequestForDestination() const { return request_for_destination_; }
  // ExeDir + "MAINDATA".
  const AnsiString& WorkDir() const { return work_dir_; }
  // Rows between commits of the play-in (800 until the settings are read).
  int32_t CommitAfter() const { return commit_after_; }
  // Work-flow cycles per station.
  int32_t WorkFlowCycles() const { return work_flow_cycles_; }

 private:
  int32_t ReadIniInteger(const AnsiString& section, const AnsiString& ident,
                         const AnsiString& def) const;

  AnsiString exe_dir_;
  AnsiString registry_root_;
  AnsiString data_path_;
  AnsiString bkp_path_;
  AnsiString db_file_name_;
  AnsiString bkp_file_name_;
  AnsiString share_data_dir_;
  AnsiString work_dir_;
  bool request_for_destination_ = false;
  int32_t commit_after_ = 800;
  int32_t work_flow_cycles_ = 1;
};

// The user's last choices, kept from one complete run (closed with OK) to the next.
struct TMldrLastValues {
  // The station grid: rows joined by ";", identification and path joined by "|".
  AnsiString Path;
  bool CB_Zaklad = true;
  bool CB_ExPartner = true;
  bool CB_ExPacient = true;
  bool CB_Karty = true;
  bool CB_Doklady = true;
  bool CB_Uzaverky = true;
  bool CB_Ciselniky = true;
  bool CB_OrgStruktura = true;
  bool CB_AutoChange = true;
  bool CB_VerifyZaloha = true;
  bool CB_PonechatData = true;

  bool operator==(const TMldrLastValues&) const = default;
};

// Read and write the last values through the form manager's open store (a TRegIniFile
// or a TIniFile, see FormPlacement.h). A check box is ticked when the integer read
// (default 1) is not 0.
TMldrLastValues ReadLastValues(TObject* ini_file);
void WriteLastValues(TObject* ini_file, const TMldrLastValues& values);

}  // namespace pelvar
