// Test environment of the wizard's tests: a registry store of the test's own (named by
// PELVAR_REGISTRY) in a fresh directory, and the headless screen.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/registry.h"
#include "platform/sysutils.h"
#include "support/process.h"
#include "wizard/FormModel.h"

namespace pelvar::test {

// A value of the wizard's registry section "Wizard" as text: an integer value
// (REG_DWORD) in decimal, a text as it is, def when there is none.
inline AnsiString WizardRegText(const AnsiString& ident, const AnsiString& def = "(none)") {
  TRegistry reg;
  if (!reg.OpenKeyReadOnly("\\Software\\Brontek\\Pelvar\\Wizard") || !reg.ValueExists(ident)) return def;
  TRegDataInfo info;
  reg.GetDataInfo(ident, info);
  if (info.RegData == rdInteger) return IntToStr(reg.ReadInteger(ident));
  return reg.ReadString(ident);
}

class WizardEnv : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("PELVAR_REGISTRY")) saved_ = old, had_ = true;
    ::setenv("PELVAR_REGISTRY", RegistryFile().c_str(), 1);
    FormScreen() = TScreenMetrics{};
  }
  void TearDown() override {
    if (had_) {
      ::setenv("PELVAR_REGISTRY", saved_.c_str(), 1);
    } else {
      ::unsetenv("PELVAR_REGISTRY");
    }
    FormScreen() = TScreenMetrics{};
  }
  std::string RegistryFile() const { return dir_.File("registry.reg"); }

  TempDir dir_{"pelvar-wizard"};

 private:
  std::string saved_;
  bool had_ = false;
};

}  // namespace pelvar::test
