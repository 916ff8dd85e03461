// Password scrambling against the file-backed registry: the security level and key kept
// there, round trips at every level, and the marker rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "dbclient/IB_Utils.h"
#include "platform/exceptions.h"
#include "platform/registry.h"
#include "support/process.h"

namespace pelvar::test {
namespace {

// Points the registry at a fresh file for the test and back afterwards.
class JumbleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("PELVAR_REGISTRY");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("PELVAR_REGISTRY", dir_.File("registry.reg").c_str(), 1);
    JumbleRootKey = HKEY_CURRENT_USER;
  }
  void TearDown() override {
    if (had_old_) {
      setenv("PELVAR_REGISTRY", old_.c_str(), 1);
    } else {
      unsetenv("PELVAR_REGISTRY");
    }
    JumbleRootKey = HKEY_CURRENT_USER;
  }
  static void StoreLevel(HKEY root, const AnsiString& level, const AnsiString& key = {}) {
    TRegistry reg;
    reg.SetRootKey(root);
    ASSERT_TRUE(reg.OpenKey("\\" + JumbleSecurityKey, true));
    reg.WriteString("Level", level);
    if (!key.empty()) reg.WriteString("JumbleKey", key);
  }
  static AnsiString StoredKey(HKEY root) {
    TRegistry reg(KEY_READ);
    reg.SetRootKey(root);
    if (!reg.OpenKeyReadOnly("\\" + JumbleSecurityKey)) return "<missing>";
    return reg.ReadString("Level") + "|" + reg.ReadString("JumbleKey");
  }

  TempDir dir_;
  bool had_old_ = false;
  std::string old_;
};

TEST_F(JumbleTest, FirstUseCreatesLevelTwoAndLaterUsesReuseIt) {
  EXPECT_EQ(StoredKey(HKEY_CURRENT_USER), "<missing>");
  const AnsiString key = GetJumbleKey();
  ASSERT_EQ(key.size(), 16u);
  for (char c : key) {
    const auto code = static_cast<unsigned char>(c);
    EXPECT_GE(code, 1);
    EXPECT_LE(code, 254);
  }
  EXPECT_EQ(StoredKey(HKEY_CURRENT_USER), "2|" + key);
  EXPECT_EQ(GetJumbleKey(), key);
  // The machine's settings are apart from the user's.
  JumbleRootKey = HKEY_LOCAL_MACHINE;
  const AnsiString machine = GetJumbleKey();
  EXPECT_EQ(machine.size(), 16u);
  EXPECT_NE(machine, key);
  EXPECT_EQ(StoredKey(HKEY_CURRENT_USER), "2|" + key);
}

TEST_F(JumbleTest, RoundTripsAtEveryLevel) {
  // Bytes that need care: Czech letters, a character equal to a key character (XOR 0),
  // high codes and the empty password.
  const AnsiString passwords[] = {"masterkey", "\xB9\xE8\xF8\xBE\xFD\xE1\xED\xE9",
                                  ".FiNo", AnsiString("\x01\xFF\x80", 3), ""};
  struct Level {
    const char* level;
    bool scrambled;
  };
  for (const Level& l : {Level{"0", false}, Level{"1", true}, Level{"2", true},
                         Level{"7", true}}) {
    SCOPED_TRACE(l.level);
    StoreLevel(HKEY_CURRENT_USER, l.level, AnsiString("\x05\x0A\x0D\x22\x5C\xFE", 6));
    const AnsiString key = GetJumbleKey();
    if (std::string(l.level) == "0") {
      EXPECT_EQ(key, "");
    } else if (std::string(l.level) == "1") {
      EXPECT_EQ(key, JumbleMarker);
    }
    for (const AnsiString& password : passwords) {
      const AnsiString text = JumblePassword(password, key);
      if (l.scrambled) {
        EXPECT_EQ(text.size(), 2 * password.size() + 11);
        EXPECT_EQ(text.substr(0, 11), JumbleMarker);
        if (!password.empty()) {
          EXPECT_EQ(text.find(password, 11), AnsiString::npos);
        }
      } else {
        EXPECT_EQ(text, password);
      }
      EXPECT_EQ(UnjumblePassword(text, key), password);
      // The key survived the registry file byte for byte.
      EXPECT_EQ(UnjumblePassword(text, GetJumbleKey()), password);
    }
  }
}

TEST_F(JumbleTest, MarkerRules) {
  const AnsiString key = "k3y";
  const AnsiString once = JumblePassword("secret", key);
  EXPECT_EQ(JumblePassword(once, key), once);           // never scrambled twice
  EXPECT_EQ(UnjumblePassword("secret", key), "secret");  // a plain password
  EXPECT_EQ(UnjumblePassword(JumbleMarker, key), "");
  EXPECT_EQ(UnjumblePassword(once, ""), once);
  EXPECT_EQ(once, JumbleMarker + "18561A19560D");
  EXPECT_THROW(UnjumblePassword(JumbleMarker + "1G", key), Exception);
  EXPECT_THROW(UnjumblePassword(JumbleMarker + "ZZ", key), Exception);
}

TEST_F(JumbleTest, UnwritableRegistryLeavesThePasswordPlain) {
  // The store is a directory: it can be neither read as a file nor written.
  setenv("PELVAR_REGISTRY", dir_.Path().c_str(), 1);
  AnsiString key = "unset";
  try {
    key = GetJumbleKey();
  } catch (const Exception&) {
    key = "raised";
  }
  EXPECT_EQ(key, "");
}

}  // namespace
}  // namespace pelvar::test
