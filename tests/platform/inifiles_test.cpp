#include "platform/inifiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/codepage.h"
#include "support/process.h"

namespace pelvar {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// A settings file as the program finds it: Windows-1250, CR LF, mixed-case names,
// blanks around names and values, quotes, comments, a duplicated key and section.
std::string SampleIni() {
  return CZ(
      "; Nastavení průvodce\r\n"
      "[DATABAZE]\r\n"
      "  Path =   C:\\Data\\Pelvar   \r\n"
      "BkpPath=\"  D:\\Záloha  \"\r\n"
      "DBFileName=Pelvar.gdb\r\n"
      "dbfilename=Druhý.gdb\r\n"
      "\r\n"
      "[ Results ]\r\n"
      "RequestForDestination = ano\r\n"
      "Poznámka='Žluťoučký kůň'\r\n"
      "Číslo=0x1F\r\n"
      "Hex=$ff\r\n"
      "Špatné=12a\r\n"
      "Prázdné=\r\n"
      ";Komentář=není klíč\r\n"
      "bez rovnítka\r\n"
      "\r\n"
      "[databaze]\r\n"
      "Path=ignored, the first section wins\r\n");
}

TEST(IniFile, ReadsAWindows1250FileAsTheFrameworkDoes) {
  TempDir dir;
  const AnsiString file = CZ(dir.File("Meldrun.ini"));
  WriteFile(dir.File("Meldrun.ini"), SampleIni());
  TIniFile ini(file);
  struct Case {
    const char* section;
    const char* ident;
    const char* expected;
  };
  const Case cases[] = {
      {"DATABAZE", "Path", "C:\\Data\\Pelvar"},
      {"databaze", "PATH", "C:\\Data\\Pelvar"},
      {"DATABAZE", "BkpPath", "  D:\\Záloha  "},  // quotes keep the blanks inside
      {"DATABAZE", "DBFileName", "Pelvar.gdb"},    // the first key wins
      {"RESULTS", "requestfordestination", "ano"},
      {"Results", "POZNÁMKA", "Žluťoučký kůň"},     // Czech letters fold too
      {"Results", "Prázdné", ""},
      {"Results", ";Komentář", "<none>"},
      {"Results", "bez rovnítka", "<none>"},
      {"Missing", "Path", "<none>"},
      {"DATABAZE", "Missing", "<none>"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AnsiToUtf8(ini.ReadString(CZ(c.section), CZ(c.ident), CZ("<none>"))), c.expected)
        << c.section << "/" << c.ident;

  EXPECT_EQ(ini.ReadString("Missing", "x", "  def  "), "  def");  // default loses trailing blanks
  EXPECT_EQ(ini.ReadInteger("Results", CZ("Číslo"), -1), 31);
  EXPECT_EQ(ini.ReadInteger("Results", "Hex", -1), 255);
  EXPECT_EQ(ini.ReadInteger("Results", CZ("Špatné"), -1), -1);
  EXPECT_EQ(ini.ReadInteger("Results", CZ("Prázdné"), 7), 7);
  EXPECT_TRUE(ini.ReadBool("Results", CZ("Číslo"), false));
  EXPECT_TRUE(ini.ReadBool("Results", "nic", true));
  EXPECT_TRUE(ini.SectionExists("results"));
  EXPECT_FALSE(ini.SectionExists("Missing"));
  EXPECT_TRUE(ini.ValueExists("Databaze", "dbFILEname"));
  EXPECT_FALSE(ini.ValueExists("Databaze", "Nic"));

  TStringList list;
  ini.ReadSections(&list);
  EXPECT_EQ(list.CommaText(), "DATABAZE,Results");
  ini.ReadSection("databaze", &list);
  EXPECT_EQ(list.CommaText(), "Path,BkpPath,DBFileName");
  ini.ReadSectionValues("DATABAZE", &list);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Get(0), "Path=C:\\Data\\Pelvar");

  TIniFile missing(CZ(dir.File("Žádný.ini")));
  EXPECT_EQ(missing.ReadString("A", "B", "default"), "default");
  missing.ReadSections(&list);
  EXPECT_EQ(list.Count(), 0);
}

TEST(IniFile, WritingKeepsEveryOtherLineAndReplacesTheFileAtomically) {
  TempDir dir;
  const std::string path = dir.File("Meldrun.ini");
  WriteFile(path, SampleIni());
  ::chmod(path.c_str(), 0640);
  TIniFile ini(path);

  ini.WriteString("databaze", "PATH", CZ("E:\\Nová data"));  // an existing key, other case
  ini.WriteInteger("results", CZ("Nový"), 42);                      // a new key in a section
  ini.WriteBool(CZ("Nová sekce"), "Zapnuto", true);             // a new section
  const std::string expected = CZ(
      "; Nastavení průvodce\r\n"
      "[DATABAZE]\r\n"
      "  Path =E:\\Nová data\r\n"
      "BkpPath=\"  D:\\Záloha  \"\r\n"
      "DBFileName=Pelvar.gdb\r\n"
      "dbfilename=Druhý.gdb\r\n"
      "\r\n"
      "[ Results ]\r\n"
      "RequestForDestination = ano\r\n"
      "Poznámka='Žluťoučký kůň'\r\n"
      "Číslo=0x1F\r\n"
      "Hex=$ff\r\n"
      "Špatné=12a\r\n"
      "Prázdné=\r\n"
      ";Komentář=není klíč\r\n"
      "bez rovnítka\r\n"
      "Nový=42\r\n"
      "\r\n"
      "[databaze]\r\n"
      "Path=ignored, the first section wins\r\n"
      "[Nová sekce]\r\n"
      "Zapnuto=1\r\n");
  EXPECT_EQ(ReadFile(path), expected);
  EXPECT_EQ(ini.ReadString("Databaze", "Path", ""), CZ("E:\\Nová data"));
  EXPECT_EQ(ini.ReadInteger("Results", CZ("NOVÝ"), 0), 42);

  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "the file keeps its permissions";
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1) << "no temporary file is left behind";

  ini.DeleteKey("RESULTS", "hex");
  ini.DeleteKey("RESULTS", "nothing");
  ini.EraseSection("Databaze");  // both occurrences
  EXPECT_FALSE(ini.SectionExists("DATABAZE"));
  EXPECT_FALSE(ini.ValueExists("Results", "Hex"));
  EXPECT_TRUE(ini.ValueExists("Results", CZ("Špatné")));
  EXPECT_EQ(ReadFile(path).substr(0, 33), CZ("; Nastavení průvodce\r\n[ Results ]"));

  // A new file, and values that would break the structure.
  TIniFile fresh(dir.File("new.ini"));
  fresh.WriteFloat("S", "F", 2.5);
  EXPECT_EQ(ReadFile(dir.File("new.ini")), "[S]\r\nF=2,5\r\n");
  EXPECT_DOUBLE_EQ(fresh.ReadFloat("s", "f", 0), 2.5);
  fresh.WriteDateTime("S", "When", 46001.5);
  EXPECT_EQ(fresh.ReadString("S", "When", ""), "10.12.2025 12:00:00");
  EXPECT_DOUBLE_EQ(fresh.ReadDateTime("S", "When", 0), 46001.5);
  EXPECT_DOUBLE_EQ(fresh.ReadDate("S", "F", -1), -1) << "not a date: the default";
  fresh.DeleteKey("S", "When");
  EXPECT_THROW(fresh.WriteString("S", "K", "two\r\nlines"), EIniFileException);
  EXPECT_EQ(ReadFile(dir.File("new.ini")), "[S]\r\nF=2,5\r\n");
}

TEST(IniFile, UnwritableFileGivesAClearError) {
  TempDir dir;
  TIniFile ini(dir.File("no/such/dir/x.ini"));
  try {
    ini.WriteString("A", "B", "C");
    FAIL() << "no error";
  } catch (const EIniFileException& e) {
    EXPECT_NE(e.Message().find("x.ini"), std::string::npos) << e.Message();
  }
}

}  // namespace
}  // namespace pelvar
