// The play-in engine's sequence as data: every step in order with its gates, and what
// the gates let through for options, cycles and schema versions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sync/Meldrun.h"

namespace pelvar::test {
namespace {

std::vector<int32_t> Playing(const TPlayGate& gate) {
  std::vector<int32_t> n;
  for (const TPlayStepDef& s : TMeldrun::PlaySteps())
    if (gate.Plays(s)) n.push_back(s.Number);
  return n;
}
std::vector<int32_t> Clearing(const TPlayGate& gate) {
  std::vector<int32_t> n;
  for (const TPlayStepDef& s : TMeldrun::PlaySteps())
    if (gate.ClearsMarks(s)) n.push_back(s.Number);
  return n;
}
constexpr uint8_t kAll = pfOrgStruktura | pfZaklad | pfExPartner | pfExPacient | pfKarty | pfDoklady | pfCiselniky;

TEST(MeldrunSteps, TheSequenceListsEveryStepInOrderWithItsGates) {
  const auto steps = TMeldrun::PlaySteps();
  ASSERT_EQ(steps.size(), 78u);
  for (size_t i = 0; i < steps.size(); ++i) EXPECT_EQ(steps[i].Number, static_cast<int32_t>(i + 1));
  struct Row {
    int32_t n;
    const char* tables;
    uint8_t flags;
    TPlayCycle cycle;
    const char* cleared;
    bool always;
  };
  const Row rows[] = {
      {1, "ZARIZENI", pfOrgStruktura, TPlayCycle::First, "", false},
      {2, "ZARIZENI_BANKA", pfOrgStruktura, TPlayCycle::First, "ZARIZENI_BANKA", true},
      {3, "CENIK", pfKarty | pfCiselniky, TPlayCycle::First, "CENIK", false},
      {11, "BANKA", pfExPartner | pfCiselniky, TPlayCycle::First, "BANKA", false},
      {27, "KATEGORIE_PACIENTA", pfZaklad | pfCiselniky, TPlayCycle::First, "KATEGORIE_PACIENTA", false},
      {39, "DOKLAD", pfDoklady, TPlayCycle::Every, "DOKLAD", false},
      // The bank-statement items play with the other item tables.
      {43, "DOKLAD_POLOZKA_FA, _PD, _SK, _UM, _BV", pfDoklady, TPlayCycle::Every,
       "DOKLAD_POLOZKA_FA,DOKLAD_POLOZKA_PD,DOKLAD_POLOZKA_SK,DOKLAD_POLOZKA_UM,DOKLAD_POLOZKA_BV", false},
      {58, "VARIANTA_PARTNER", pfKarty, TPlayCycle::Last, "", false},
      {78, "DOKLAD_POLOZKA_UZ", pfDoklady, TPlayCycle::Last, "DOKLAD_POLOZKA_UZ", false},
  };
  for (const Row& r : rows) {
    const TPlayStepDef& s = steps[static_cast<size_t>(r.n - 1)];
    EXPECT_STREQ(s.Tables, r.tables) << r.n;
    EXPECT_EQ(s.Flags, r.flags) << r.n;
    EXPECT_EQ(s.Cycle, r.cycle) << r.n;
    EXPECT_STREQ(s.ClearedMarks, r.cleared) << r.n;
    EXPECT_EQ(s.ClearAlways, r.always) << r.n;
  }
  // Every step has the rules of its tables.
  for (const TPlayStepDef& s : steps) {
    EXPECT_NE(s.Play, nullptr) << s.Number;
  }
}

TEST(MeldrunSteps, WithAllOptionsOffOnlyTheAlwaysClearingsRun) {
  TPlayGate gate{0, 0, true, 200824};
  EXPECT_EQ(Playing(gate), std::vector<int32_t>{});
  EXPECT_EQ(Clearing(gate), (std::vector<int32_t>{2, 6, 7, 10}));
  gate.CycleIndex = 1;  // not the first cycle: not even those
  EXPECT_EQ(Clearing(gate), std::vector<int32_t>{});
}

TEST(MeldrunSteps, CyclesSplitTheSequence) {
  auto count = [](const TPlayGate& g, TPlayCycle c) {
    int n = 0;
    for (const TPlayStepDef& s : TMeldrun::PlaySteps())
      if (g.Plays(s) && s.Cycle == c) ++n;
    return n;
  };
  const TPlayGate one{kAll, 0, true, 200824};
  EXPECT_EQ(Playing(one).size(), 78u);
  const TPlayGate first{kAll, 0, false, 200824}, middle{kAll, 1, false, 200824}, last{kAll, 2, true, 200824};
  EXPECT_EQ(count(first, TPlayCycle::First), 38);
  EXPECT_EQ(count(first, TPlayCycle::Last), 0);
  EXPECT_EQ(Playing(middle), (std::vector<int32_t>{39, 40, 41, 42, 43}));
  EXPECT_EQ(count(last, TPlayCycle::First), 0);
  EXPECT_EQ(count(last, TPlayCycle::Every), 5);
  EXPECT_EQ(count(last, TPlayCycle::Last), 35);
}

TEST(MeldrunSteps, VersionThresholdsSkipStepsOfOlderStations) {
  struct Case {
    int32_t version;
    std::vector<int32_t> skipped;
  };
  for (const Case& c : {Case{200624, {47, 51, 52, 71, 78}}, Case{200625, {51, 52, 71, 78}},
                        Case{200628, {51, 52, 71, 78}}, Case{200629, {51, 52, 78}}, Case{200701, {}},
                        Case{200824, {}}}) {
    const TPlayGate gate{kAll, 0, true, c.version};
    std::vector<int32_t> skipped;
    for (const TPlayStepDef& s : TMeldrun::PlaySteps())
      if (!gate.Plays(s)) skipped.push_back(s.Number);
    EXPECT_EQ(skipped, c.skipped) << c.version;
  }
}

}  // namespace
}  // namespace pelvar::test
