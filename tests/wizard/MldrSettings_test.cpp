#include "wizard/MldrSettings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <optional>
#include <string>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/registry.h"
#include "platform/sysutils.h"
#include "wizard/FormPlacement.h"
#include "wizard_env.h"

namespace pelvar {
namespace {

using test::WriteFile;

class MldrSettingsTest : public test::WizardEnv {
 protected:
  void SetUp() override {
    WizardEnv::SetUp();
    exe_dir_ = dir_.Path() + "/bin/";
    ASSERT_EQ(::mkdir(exe_dir_.c_str(), 0777), 0);
  }

  // Writes "Meldrun.ini" (given as UTF-8, stored as Windows-1250).
  void WriteIni(const std::string& utf8) { WriteFile(exe_dir_ + "Meldrun.ini", CZ(utf8)); }

  // The product's installation key under the given root.
  static void WriteInstallKey(const AnsiString& root,
                              const std::map<std::string, std::string>& values) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\" + root + "\\Pelvar 2008\\Config", true));
    for (const auto& [name, value] : values) reg.WriteString(name, value);
  }

  TMldrSettings ReadAll() {
    TMldrSettings settings(exe_dir_);
    settings.ReadStartupSettings();
    return settings;
  }

  std::string exe_dir_;
};

TEST_F(MldrSettingsTest, MissingFileGivesEveryDefault) {
  const TMldrSettings s = ReadAll();
  EXPECT_EQ(s.RegistryRoot(), "Software\\Brontek");
  EXPECT_EQ(s.FormManagerKey(), "Software\\Brontek\\Pelvar");
  EXPECT_EQ(s.DataPath(), exe_dir_ + "Data");
  EXPECT_EQ(s.BkpPath(), "c:\\Program Files\\Brontek\\Pelvar\\Zaloha.dat");
  EXPECT_EQ(s.DBFileName(), "Pelvar.gdb");
  EXPECT_EQ(s.BkpFileName(), "Pelvar.gbk");
  EXPECT_EQ(s.ShareDataDir(), "");
  EXPECT_EQ(s.CommitAfter(), 900);
  EXPECT_EQ(s.WorkFlowCycles(), 1);
  EXPECT_FALSE(s.RequestForDestination());
  EXPECT_EQ(s.WorkDir(), exe_dir_ + "MAINDATA");
  struct stat st {};
  EXPECT_EQ(::stat((exe_dir_ + "MAINDATA").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(s.ReadIniString("SERVER", "ServerName", "localhost"), "localhost");
  // Before the file is read the commit interval is the built-in 800.
  EXPECT_EQ(TMldrSettings(exe_dir_).CommitAfter(), 800);
}

TEST_F(MldrSettingsTest, ValuesOfTheFileAreTrimmedAndKeptAsTheyStand) {
  WriteIni(
      "[DATABAZE]\r\n"
      "Path =  /srv/pelvar/Data  \r\n"
      "BkpPath=/srv/pelvar/Záloha\r\n"
      "DBFileName= Hlavní.fdb\r\n"
      "BkpFileName=Hlavní.fbk\r\n"
      "[WORKSTATION]\r\n"
      "ShareDataDir=D:\\Pelvar\\MAINDATA\r\n"
      "MyProtocol=TCP/IP\r\n"
      "[PROGRAM_FLOW]\r\n"
      "CommitAfter= 250 \r\n"
      "WorkFlowCycles=3\r\n");
  const TMldrSettings s = ReadAll();
  EXPECT_EQ(s.DataPath(), "/srv/pelvar/Data");
  EXPECT_EQ(s.BkpPath(), CZ("/srv/pelvar/Záloha"));
  EXPECT_EQ(s.DBFileName(), CZ("Hlavní.fdb"));
  EXPECT_EQ(s.BkpFileName(), CZ("Hlavní.fbk"));
  // A path on the main server's machine is passed on as it stands.
  EXPECT_EQ(s.ShareDataDir(), "D:\\Pelvar\\MAINDATA");
  EXPECT_EQ(s.CommitAfter(), 250);
  EXPECT_EQ(s.WorkFlowCycles(), 3);
  EXPECT_EQ(s.ReadIniString("WORKSTATION", "MyProtocol", "local"), "TCP/IP");
  EXPECT_EQ(s.ReadIniString("workstation", "myprotocol", "local"), "TCP/IP");
  EXPECT_EQ(s.ReadIniString("SERVER", "ServerProtocol", "local"), "local");
}

TEST_F(MldrSettingsTest, DataPathFallsBackThroughTheInstallationKey) {
  struct Case {
    std::map<std::string, std::string> install;
    std::string expected;  // "<exe>" stands for the executable's directory
  };
  const Case cases[] = {
      {{{"DataPathNew", "/d/new"}, {"InstallPathNew", "/i/new"}, {"DataPath", "/d/old"},
        {"InstallPath", "/i/old"}},
       "/d/new"},
      {{{"InstallPathNew", "/i/new"}, {"DataPath", "/d/old"}, {"InstallPath", "/i/old"}},
       "/i/new/DataFB"},
      {{{"InstallPathNew", "/i/new/"}}, "/i/new/DataFB"},
      {{{"DataPathNew", ""}, {"DataPath", "/d/old"}, {"InstallPath", "/i/old"}}, "/d/old"},
      {{{"InstallPath", "/i/old"}}, "/i/old/DataFB"},
      // A value written on Windows is joined with its own separator.
      {{{"InstallPathNew", "C:\\Pelvar"}}, "C:\\Pelvar\\DataFB"},
      {{{"InstallPath", "C:\\Program Files\\Pelvar\\"}}, "C:\\Program Files\\Pelvar\\DataFB"},
      {{{"InstallPath", "D:"}}, "D:\\DataFB"},
      {{{"Unrelated", "/x"}}, "<exe>Data"},
      {{}, "<exe>Data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    ::unlink(RegistryFile().c_str());
    if (!c.install.empty()) WriteInstallKey("Software\\Brontek", c.install);
    const std::string expected =
        c.expected.rfind("<exe>", 0) == 0 ? exe_dir_ + c.expected.substr(5) : c.expected;
    EXPECT_EQ(ReadAll().DataPath(), expected);
  }
  // The settings file's own path wins over the installation key.
  WriteInstallKey("Software\\Brontek", {{"DataPathNew", "/d/new"}});
  WriteIni("[DATABAZE]\r\nPath=/from/ini\r\n");
  EXPECT_EQ(ReadAll().DataPath(), "/from/ini");
}

TEST_F(MldrSettingsTest, InstallationKeyIsOnlyRead) {
  TMldrSettings s(exe_dir_);
  s.ChooseRegistryRoot();
  EXPECT_EQ(s.ReadInstalledDataPath(), "");
  TRegistry reg;
  EXPECT_FALSE(reg.KeyExists("\\Software\\Brontek\\Pelvar 2008"));
  // A value of another kind counts as not set.
  ASSERT_TRUE(reg.OpenKey("\\Software\\Brontek\\Pelvar 2008\\Config", true));
  reg.WriteInteger("DataPathNew", 7);
  reg.WriteString("DataPath", "/d/old");
  EXPECT_EQ(s.ReadInstalledDataPath(), "/d/old");
}

TEST_F(MldrSettingsTest, CalvimoRootWinsWhenItsKeyExists) {
  WriteInstallKey("Software\\Brontek", {{"DataPathNew", "/brontek"}});
  EXPECT_EQ(ReadAll().RegistryRoot(), "Software\\Brontek");
  WriteInstallKey("Software\\Calvimo", {{"DataPathNew", "/calvimo"}});
  const TMldrSettings s = ReadAll();
  EXPECT_EQ(s.RegistryRoot(), "Software\\Calvimo");
  EXPECT_EQ(s.FormManagerKey(), "Software\\Calvimo\\Pelvar");
  EXPECT_EQ(s.DataPath(), "/calvimo");

  // The state marks go below the chosen root.
  s.WriteRegInteger("Wizard", "Level", 4);
  s.WriteRegString("Wizard", "LastHarmonised", "10.12.2026 14:05:00");
  TRegIniFile reg("Software\\Calvimo\\Pelvar");
  EXPECT_EQ(reg.ReadInteger("Wizard", "Level", -1), 4);
  EXPECT_EQ(reg.ReadString("Wizard", "LastHarmonised", ""), "10.12.2026 14:05:00");
  TRegistry plain;
  EXPECT_FALSE(plain.KeyExists("\\Software\\Brontek\\Pelvar"));
}

TEST_F(MldrSettingsTest, RequestForDestinationMeansTheValueContainsAno) {
  const std::pair<const char*, bool> cases[] = {
      {"ano", true},  {"ANO", true},  {" Ano ", true}, {"ano - vždy", true}, {"xANOx", true},
      {"NE", false},  {"ne", false},  {"", false},     {"an o", false},      {"A", false},
  };
  for (const auto& [value, expected] : cases) {
    WriteIni(std::string("[RESULTS]\r\nRequestForDestination=") + value + "\r\n");
    EXPECT_EQ(ReadAll().RequestForDestination(), expected) << "'" << value << "'";
  }
}

TEST_F(MldrSettingsTest, ANonNumericCounterFailsStartUpNamingTheKey) {
  struct Case {
    const char* ini;
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"[PROGRAM_FLOW]\r\nCommitAfter=x\r\n", "CommitAfter", "x"},
      {"[PROGRAM_FLOW]\r\nCommitAfter=\r\n", "CommitAfter", ""},
      {"[PROGRAM_FLOW]\r\nWorkFlowCycles=dva\r\n", "WorkFlowCycles", "dva"},
      {"[PROGRAM_FLOW]\r\nCommitAfter=99999999999\r\n", "CommitAfter", "99999999999"},
  };
  for (const Case& c : cases) {
    WriteIni(c.ini);
    try {
      ReadAll();
      ADD_FAILURE() << "no error for " << c.ini;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("Meldrun.ini [PROGRAM_FLOW] ") + c.key + ": '" +
                                 c.value + "' is not a valid integer value");
    }
  }
}

TEST_F(MldrSettingsTest, ArchiveDirectoryIsBelowTheWorkingDirectoryOnlyForExactlyArchiv) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {nullptr, std::nullopt},  // no key: the default "ARCHIV"
      {"ARCHIV", std::nullopt},
      {"archiv", "archiv"},
      {"/srv/Archiv", "/srv/Archiv"},
      {"D:\\Archiv", "D:\\Archiv"},
  };
  for (const auto& [value, expected] : cases) {
    WriteIni(value ? std::string("[ARCHIV]\r\nArchDir=") + value + "\r\n" : "");
    const TMldrSettings s = ReadAll();
    EXPECT_EQ(s.ReadArchiveDir(), expected ? *expected : exe_dir_ + "MAINDATA/ARCHIV")
        << (value ? value : "(none)");
  }
}

TEST_F(MldrSettingsTest, LastValuesRoundTripWithTickedDefaults) {
  TRegIniFile reg("Software\\Brontek\\Pelvar");
  // Nothing stored yet: every box ticked, no stations.
  EXPECT_EQ(ReadLastValues(&reg), TMldrLastValues{});

  TMldrLastValues values;
  values.Path = CZ("Počítač 2|/media/a.zip;Počítač 3|/media/b.gbk");
  values.CB_ExPacient = false;
  values.CB_Uzaverky = false;
  values.CB_PonechatData = false;
  WriteLastValues(&reg, values);
  EXPECT_EQ(ReadLastValues(&reg), values);

  // The layout other programs of the suite read: the path as text, the boxes as integer
  // values (REG_DWORD).
  EXPECT_EQ(reg.ReadString("LastValues", "Path", ""), values.Path);
  const struct {
    const char* section;
    const char* ident;
    int32_t value;
  } boxes[] = {{"LastValues", "CB_ExPacient.Checked", 0},
               {"LastValues", "CB_Zaklad.Checked", 1},
               {"AutoChange", "CB_AutoChange.Checked", 1},
               {"VerifyZaloha", "CB_VerifyZaloha.Checked", 1},
               {"PonechatData", "CB_PonechatData.Checked", 0}};
  for (const auto& box : boxes) {
    TRegistry raw;
    ASSERT_TRUE(raw.OpenKeyReadOnly(AnsiString("\\Software\\Brontek\\Pelvar\\") + box.section)) << box.section;
    TRegDataInfo info;
    ASSERT_TRUE(raw.GetDataInfo(box.ident, info)) << box.ident;
    EXPECT_EQ(info.RegData, rdInteger) << box.ident;
    EXPECT_EQ(raw.ReadInteger(box.ident), box.value) << box.ident;
  }

  // Values stored as text by earlier versions are read too; any integer but 0 ticks
  // the box.
  reg.WriteInteger("LastValues", "CB_Karty.Checked", 5);
  reg.WriteInteger("LastValues", "CB_Zaklad.Checked", 0);
  const TMldrLastValues read = ReadLastValues(&reg);
  EXPECT_TRUE(read.CB_Karty);
  EXPECT_FALSE(read.CB_Zaklad);
}

}  // namespace
}  // namespace pelvar
