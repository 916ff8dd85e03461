// The BDE alias look-up over a configuration file written here in the file's token
// format, found through the registry; and a connection that takes its missing attach
// strings from its alias.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "dbclient/IB_Components.h"
#include "dbclient/IB_Schema.h"
#include "platform/registry.h"
#include "support/process.h"

namespace pelvar::test {
namespace {

std::string Token(const std::string& text) { return text + '\x03' + std::string("\x01\x02", 2); }
std::string Z(const char* text, size_t n) { return std::string(text, n); }

class BDEAlias : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("PELVAR_REGISTRY")) saved_ = old, had_ = true;
    ::setenv("PELVAR_REGISTRY", dir_.File("registry.reg").c_str(), 1);
    std::string file = "\x01\x02";
    file += Token(Z("\0DRIVERS\0\1\0", 11));
    file += Token(Z("\0DATABASES\0\1\0", 13));
    file += Token("PELVAR");
    file += Token(Z("\0DB INFO\0\1\0", 11));
    file += Token(Z("\0TYPE\0\4\0INTRBASE", 16));
    file += Token(Z("SERVER NAME\0\4\0 /data/main.fdb ", 31));
    file += Token(Z("USER NAME\0\4\0SYSDBA", 18));
    file += Token(Z("\2\0\2\0", 4));
    file += Token("OTHER");
    file += Token(Z("\0DB INFO\0\1\0", 11));
    file += Token(Z("\0TYPE\0\4\0STANDARD", 16));
    file += Token(Z("\2\0\2\0", 4));
    file += Token(Z("\2\0\2\0\2\0", 6));
    WriteFile(dir_.File("idapi.cfg"), file);
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Borland\\Database Engine", true));
    reg.WriteString("CONFIGFILE01", dir_.File("idapi.cfg"));
  }
  void TearDown() override {
    if (had_) {
      ::setenv("PELVAR_REGISTRY", saved_.c_str(), 1);
    } else {
      ::unsetenv("PELVAR_REGISTRY");
    }
  }
  TempDir dir_{"pelvar-bde"};
  std::string saved_;
  bool had_ = false;
};

TEST_F(BDEAlias, ParametersOfAnAliasAndAliasesOfAType) {
  EXPECT_EQ(GetBDEConfigFileName(), dir_.File("idapi.cfg"));
  TStringList list;
  LoadBDEAliasParams("ALIAS", "pelvar", &list);
  EXPECT_EQ(list.Values("SERVER NAME"), "/data/main.fdb");
  EXPECT_EQ(list.Values("USER NAME"), "SYSDBA");
  EXPECT_EQ(list.Values("TYPE"), "INTRBASE");
  LoadBDEAliasParams("INTRBASE", "", &list);
  EXPECT_EQ(list.Text(), "PELVAR\r\n");
  LoadBDEAliasParams("", "", &list);
  EXPECT_EQ(list.Text(), "PELVAR\r\nOTHER\r\n");
  LoadBDEAliasParams("ALIAS", "NOSUCH", &list);
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(BDEAlias, AConnectionFillsItsMissingAttachStringsFromItsAlias) {
  TComponent form(nullptr);
  auto* conn = new TIB_Connection(&form);
  conn->SetAliasName("PELVAR");
  conn->SetPassword("secret");
  conn->BuildDPB();
  EXPECT_EQ(conn->AttachDatabase(), "/data/main.fdb");
  EXPECT_EQ(conn->AttachUsername(), "SYSDBA");
  EXPECT_EQ(conn->AttachPassword(), "secret") << "its own password wins";
}

TEST_F(BDEAlias, AMissingConfigurationFileRaises) {
  TRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Borland\\Database Engine", true));
  reg.WriteString("CONFIGFILE01", dir_.File("missing.cfg"));
  TStringList list;
  EXPECT_THROW(LoadBDEAliasParams("ALIAS", "PELVAR", &list), EFOpenError);
}

}  // namespace
}  // namespace pelvar::test
