#include "richtext/view/RVXPTheme.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace pelvar {
namespace {

bool FakeIsThemeActive() { return true; }
bool FakeIsAppThemed() { return true; }
int32_t FakeCloseThemeData(HTHEME) { return 0; }

// A library that exports the names it is given.
class TFakeLoader : public TRVThemeLibraryLoader {
 public:
  explicit TFakeLoader(std::set<std::string> exports, bool available = true)
      : exports_(std::move(exports)), available_(available) {}
  HTHEMEMODULE Load(const AnsiString& name) override {
    loaded_name = name;
    ++loads;
    return available_ ? this : nullptr;
  }
  void* GetProc(HTHEMEMODULE, const char* name) override {
    if (!exports_.count(name)) return nullptr;
    std::string n = name;
    if (n == "IsThemeActive") return reinterpret_cast<void*>(&FakeIsThemeActive);
    if (n == "IsAppThemed") return reinterpret_cast<void*>(&FakeIsAppThemed);
    return reinterpret_cast<void*>(&FakeCloseThemeData);  // any function will do for the rest
  }
  void Free(HTHEMEMODULE) override { ++frees; }
  AnsiString loaded_name;
  int loads = 0;
  int frees = 0;

 private:
  std::set<std::string> exports_;
  bool available_;
};

int BoundCount(const TRVThemeBinding& b) {
  return (b.IsThemeActive != nullptr) + (b.IsAppThemed != nullptr) + (b.OpenThemeData != nullptr) +
         (b.CloseThemeData != nullptr) + (b.DrawThemeParentBackground != nullptr) + (b.DrawThemeText != nullptr) +
         (b.DrawThemeEdge != nullptr) + (b.DrawThemeBackground != nullptr) +
         (b.IsThemeBackgroundPartiallyTransparent != nullptr);
}

const std::set<std::string> kAll = {"IsThemeActive", "IsAppThemed", "OpenThemeData", "CloseThemeData",
                                    "DrawThemeParentBackground", "DrawThemeText", "DrawThemeEdge",
                                    "DrawThemeBackground", "IsThemeBackgroundPartiallyTransparent"};

class RVXPThemeTest : public ::testing::Test {
 protected:
  void TearDown() override { RVXPThemeShutdown(); }
};

TEST_F(RVXPThemeTest, ThisPlatformHasNoThemesAtStartup) {
  // What start-up bound on this platform: nothing, and a caller sees empty pointers.
  const TRVThemeBinding& b = RVThemeBinding();
  EXPECT_EQ(b.Library, nullptr);
  EXPECT_EQ(BoundCount(b), 0);
}

TEST_F(RVXPThemeTest, VersionDecidesWhetherTheLibraryIsLoaded) {
  struct Case {
    TRVPlatformVersion version;
    bool loaded;
  } cases[] = {
      {{true, 5, 0}, false}, {{true, 4, 9}, false}, {{false, 6, 0}, false},
      {{true, 5, 1}, true},  {{true, 6, 0}, true},  {{true, 10, 0}, true},
  };
  for (const Case& c : cases) {
    auto loader = std::make_shared<TFakeLoader>(kAll);
    RVXPThemeStartup(c.version, loader);
    const TRVThemeBinding& b = RVThemeBinding();
    EXPECT_EQ(b.Library != nullptr, c.loaded) << c.version.Major << "." << c.version.Minor;
    EXPECT_EQ(BoundCount(b), c.loaded ? 9 : 0);
    EXPECT_EQ(loader->loads, c.loaded ? 1 : 0);
    if (c.loaded) {
      EXPECT_EQ(loader->loaded_name, "uxtheme.dll");
    }
    RVXPThemeShutdown();
    EXPECT_EQ(loader->frees, c.loaded ? 1 : 0);
    EXPECT_EQ(RVThemeBinding().Library, nullptr);
  }
}

TEST_F(RVXPThemeTest, MissingLibraryAndMissingEntryPoints) {
  auto absent = std::make_shared<TFakeLoader>(kAll, false);
  RVXPThemeStartup({true, 6, 1}, absent);
  EXPECT_EQ(RVThemeBinding().Library, nullptr);
  EXPECT_EQ(BoundCount(RVThemeBinding()), 0);

  auto partial = std::make_shared<TFakeLoader>(std::set<std::string>{"IsThemeActive", "CloseThemeData"});
  RVXPThemeStartup({true, 6, 1}, partial);
  const TRVThemeBinding& b = RVThemeBinding();
  EXPECT_NE(b.Library, nullptr);
  EXPECT_EQ(BoundCount(b), 2);
  ASSERT_NE(b.IsThemeActive, nullptr);
  EXPECT_TRUE(b.IsThemeActive());
  EXPECT_NE(b.CloseThemeData, nullptr);
  EXPECT_EQ(b.IsAppThemed, nullptr);
  EXPECT_EQ(b.DrawThemeBackground, nullptr);
  EXPECT_EQ(b.OpenThemeData, nullptr);
  // A second start-up unloads the first binding.
  RVXPThemeStartup({true, 5, 0}, std::make_shared<TFakeLoader>(kAll));
  EXPECT_EQ(partial->frees, 1);
  EXPECT_EQ(BoundCount(RVThemeBinding()), 0);
}

}  // namespace
}  // namespace pelvar
