// The main form with the steps that later parts of the wizard provide replaced by
// doubles: the play-in of a station, finishing, the version check and the journal
// switch of the working database.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "wizard/MldrMain.h"

namespace pelvar::test {

class TestWizard : public TFrmMldrMain {
 public:
  using TFrmMldrMain::TFrmMldrMain;
  using TFrmMldrMain::AddPreparedStation;
  ~TestWizard() override { BeforeDestruction(); }

  std::vector<std::string> log;
  std::function<bool(int32_t)> play = [](int32_t) { return true; };
  std::function<bool()> finish = [] { return true; };
  bool version_ok = true;
  std::vector<int32_t> trigger_calls;

 protected:
  bool RunStation(int32_t index) override {
    log.push_back("Start " + std::to_string(index));
    return play(index);
  }
  bool FinishAll() override {
    log.push_back("Finish");
    return finish();
  }
  bool CheckWorkingDatabaseVersion() override { return version_ok; }
  int32_t SetWorkingJournalTriggers(int32_t state) override {
    trigger_calls.push_back(state);
    return state;
  }
};

}  // namespace pelvar::test
