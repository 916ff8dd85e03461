// Test environment of the wizard's tests: a registry store of the test's own (named by
// PELVAR_REGISTRY) in a fresh directory, and the headless screen.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/process.h"
#include "wizard/FormModel.h"

namespace pelvar::test {

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
