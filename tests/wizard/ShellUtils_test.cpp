#include "wizard/ShellUtils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/classes.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "support/process.h"
#include "wizard/BrowseDirectoryDlg.h"

namespace pelvar {
namespace {

using test::TempDir;

std::vector<std::string> Pieces(const TStrings& list) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < list.Count(); ++i) out.push_back(list.Strings(i));
  return out;
}

struct TokenCase {
  const char* text;
  const char* separator;
  int n;
  const char* expected;
};

TEST(ShellUtils, TokenPicksTheNthFieldBetweenSeparators) {
  const TokenCase cases[] = {
      {"a|b|c", "|", 1, "a"},
      {"a|b|c", "|", 3, "c"},
      {"a|b|c", "|", 4, ""},
      {"a|b|c", "|", 0, ""},
      {"a|b|c", "|", -1, ""},
      {"a||b", "||", 2, "b"},
      {"a||b", "||", 1, "a"},
      {"a|||b", "||", 2, "|b"},  // the first match wins, the rest belongs to the field
      {"|x|", "|", 1, ""},
      {"|x|", "|", 2, "x"},
      {"|x|", "|", 3, ""},
      {"|x|", "|", 4, ""},
      {"", "|", 1, ""},
      {"no separator", "|", 1, "no separator"},
      {"no separator", "|", 2, ""},
      {"whole", "", 1, "whole"},
      {"whole", "", 2, ""},
      {"Po\xE8\xEDta\xE8 2|c:\\data\\st.zip;x", "|", 2, "c:\\data\\st.zip;x"},
  };
  for (const TokenCase& c : cases) {
    EXPECT_EQ(GetToken(c.text, c.separator, c.n), c.expected)
        << "'" << c.text << "' sep '" << c.separator << "' n=" << c.n;
  }
}

TEST(ShellUtils, SplitKeepsInnerEmptyPiecesButNoEmptyLastPiece) {
  struct Case {
    const char* text;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"a,b,", {"a", "b"}},
      {"a,,b", {"a", "", "b"}},
      {",a", {"", "a"}},
      {",", {""}},
      {"", {}},
      {" a , b ", {" a ", " b "}},  // pieces are not trimmed
      {"abc", {"abc"}},
  };
  TStringList list;
  for (const Case& c : cases) {
    list.Add("left over");
    Split(c.text, ',', &list);
    EXPECT_EQ(Pieces(list), c.expected) << "'" << c.text << "'";
  }
}

TEST(ShellUtils, WordFunctionsCountRunsOfNonDelimiters) {
  const TSysCharSet blank{' '};
  const TSysCharSet blank_or_comma = TSysCharSet::Of(" ,");
  struct Case {
    const char* text;
    const TSysCharSet* delims;
    int count;
    int n;
    int position;
    const char* word;
  };
  const Case cases[] = {
      {"   first    second  ", &blank, 2, 2, 13, "second"},
      {"   first    second  ", &blank, 2, 1, 4, "first"},
      {"   first    second  ", &blank, 2, 3, 0, ""},
      {"one", &blank, 1, 1, 1, "one"},
      {"", &blank, 0, 1, 0, ""},
      {"    ", &blank, 0, 1, 0, ""},
      {"a, b,,c", &blank_or_comma, 3, 3, 7, "c"},
      {"a b", &blank, 2, 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("'") + c.text + "' n=" + std::to_string(c.n));
    EXPECT_EQ(WordCount(c.text, *c.delims), c.count);
    EXPECT_EQ(WordPosition(c.n, c.text, *c.delims), c.position);
    EXPECT_EQ(ExtractWord(c.n, c.text, *c.delims), c.word);
  }
}

TEST(ShellUtils, ReplaceAllDoesNotRescanReplacements) {
  struct Case {
    const char* text;
    const char* search;
    const char* replacement;
    const char* expected;
  };
  const Case cases[] = {
      {"a.b.c", ".", "..", "a..b..c"},
      {"aaa", "a", "aa", "aaaaaa"},
      {"abab", "ab", "b", "bb"},
      {"xyz", "q", "r", "xyz"},
      {"", "a", "b", ""},
      {"keep", "", "x", "keep"},
      {"a||b||", "||", "|", "a|b|"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReplaceAll(c.text, c.search, c.replacement), c.expected) << c.text;
  }
}

bool IsDir(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(ShellUtils, DirectoryCreationMakesEveryMissingParent) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.File("a").c_str(), 0777), 0);
  CreateDirPath(dir.File("a/b/c/"));
  EXPECT_TRUE(IsDir(dir.File("a/b")));
  EXPECT_TRUE(IsDir(dir.File("a/b/c")));

  // An existing directory, an empty path and the root are left alone.
  CreateDirPath(dir.File("a/b/c"));
  CreateDirPath("");
  CreateDirPath("/");
  EXPECT_TRUE(IsDir(dir.File("a/b/c")));

  // A Czech name is a UTF-8 name on disk.
  CreateDirPath(dir.Path() + "/" + CZ("Záloha") + "/x");
  EXPECT_TRUE(IsDir(dir.Path() + "/Záloha/x"));

  // A file in the way: nothing is reported, nothing is created.
  test::WriteFile(dir.File("file"), "x");
  CreateDirPath(dir.File("file/sub"));
  EXPECT_FALSE(IsDir(dir.File("file/sub")));
}

TEST(ShellUtils, TemporaryDirectoryAndRecorderQueries) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  ::setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(GetTempDirectory(), "/var/tmp/");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(GetTempDirectory(), "/tmp/");
  if (old) ::setenv("TMPDIR", saved.c_str(), 1);

  // No recordable drive on this system: the drive output is cleared.
  AnsiString drive = "E:";
  EXPECT_FALSE(GetRecorderDrive(drive));
  EXPECT_EQ(drive, "");
  EXPECT_EQ(GetCDBurnStagingFolder(), "");
}

TEST(ShellUtils, CharacterTablesFollowWindows1250) {
  const TCharTable& upper = AnsiUpperTable();
  const TCharTable& lower = AnsiLowerTable();
  const TCharTable& coll = AnsiCollationTable();
  for (int k = 0; k <= 32; ++k) {
    EXPECT_EQ(upper[k], k);
    EXPECT_EQ(lower[k], k);
  }
  EXPECT_EQ(upper['a'], 'A');
  EXPECT_EQ(lower['A'], 'a');
  EXPECT_EQ(upper['1'], '1');
  EXPECT_EQ(upper[0xE8], 0xC8);  // č -> Č
  EXPECT_EQ(lower[0x8A], 0x9A);  // Š -> š
  EXPECT_EQ(upper[0xF8], 0xD8);  // ř -> Ř

  // Collation: letters of either case share a place, and the order is the one of the
  // case-insensitive comparison.
  EXPECT_EQ(coll[0], 0);
  EXPECT_EQ(coll['a'], coll['A']);
  EXPECT_EQ(coll[0xE8], coll[0xC8]);
  EXPECT_LT(coll['a'], coll['b']);
  EXPECT_LT(coll['B'], coll['c']);
  for (int a = 1; a < 256; ++a) {
    for (int b : {int{'a'}, int{'M'}, int{'z'}, int{'5'}, 0xE8}) {
      const char ca = static_cast<char>(a), cb = static_cast<char>(b);
      const int cmp = AnsiCompareText(std::string(1, ca), std::string(1, cb));
      const int order = (coll[a] > coll[b]) - (coll[a] < coll[b]);
      EXPECT_EQ(order, (cmp > 0) - (cmp < 0)) << a << " " << b;
    }
  }
}

TEST(BrowseDirectoryDlg, ExecuteGoesThroughTheChooserAndNormalisesTheSelection) {
  TdfsBrowseDirectoryDlg dlg(nullptr);
  EXPECT_EQ(dlg.ImageIndex(), -1);
  EXPECT_TRUE(dlg.Center());
  EXPECT_TRUE(dlg.EnableOKButton());
  EXPECT_TRUE(dlg.FitStatusText());

  // Headless, nothing can be chosen: cancelled, selection cleared.
  dlg.SetSelection("/home");
  EXPECT_FALSE(dlg.Execute());
  EXPECT_EQ(dlg.Selection(), "");

  std::vector<std::string> answers = {"/srv/data/", "/", "C:\\", "D:\\Data\\"};
  TFolderBrowseRequest seen;
  size_t next = 0;
  TFolderChooser previous = SetFolderChooser(
      [&](const TFolderBrowseRequest& request, AnsiString& chosen) {
        seen = request;
        chosen = answers[next++];
        return true;
      });
  dlg.SetTitle("Vyberte adres\xE1\xF8");
  dlg.SetOptions(TBrowseFlags{bfDirectoriesOnly});
  dlg.SetSelection("/srv");
  EXPECT_TRUE(dlg.Execute());
  EXPECT_EQ(seen.Title, "Vyberte adres\xE1\xF8");
  EXPECT_EQ(seen.Selection, "/srv");
  EXPECT_TRUE(seen.Options.Contains(bfDirectoriesOnly));
  EXPECT_EQ(dlg.Selection(), "/srv/data");
  EXPECT_TRUE(dlg.Execute());
  EXPECT_EQ(dlg.Selection(), "/");
  EXPECT_TRUE(dlg.Execute());
  EXPECT_EQ(dlg.Selection(), "C:\\");
  EXPECT_TRUE(dlg.Execute());
  EXPECT_EQ(dlg.Selection(), "D:\\Data");

  SetFolderChooser([](const TFolderBrowseRequest&, AnsiString&) { return false; });
  EXPECT_FALSE(dlg.Execute());
  EXPECT_EQ(dlg.Selection(), "");
  SetFolderChooser(previous);
}

}  // namespace
}  // namespace pelvar
