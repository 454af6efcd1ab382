// A sample of the power-failure campaign: the full one is scripts/power-cut.
#include <gtest/gtest.h>

#include "tests/e2e/power_cut_campaign.h"

namespace hu::e2e {

void PrintTo(PowerCutScenario scenario, std::ostream* os) { *os << ScenarioName(scenario); }

namespace {

void ExpectAllSurvived(const PowerCutReport& report) {
  for (const PowerCutFailure& f : report.failures) {
    ADD_FAILURE() << report.name << " point " << f.point << ": " << f.what << " [" << f.step << "]";
  }
  EXPECT_EQ(report.survived, report.runs);
}

TEST(PowerCutE2E, ApplicationUpdateSurvivesPowerLossAtSpreadPoints) {
  PowerCutCampaignOptions options;
  options.maxPoints = 8;
  options.seed = 7;
  PowerCutReport report = RunPowerCutCampaign(options);
  ASSERT_EQ(report.setupError, "");
  EXPECT_GT(report.operations, 20u);
  EXPECT_EQ(report.runs, 8);
  ExpectAllSurvived(report);
}

// The updates that cannot install: each keeps (or restores) a whole
// application, the user's files and the settings, with or without a cut.
class PowerCutUnluckyE2E : public ::testing::TestWithParam<PowerCutScenario> {};

TEST_P(PowerCutUnluckyE2E, UnitKeepsAWholeApplicationAtSpreadPoints) {
  PowerCutCampaignOptions options;
  options.scenario = GetParam();
  options.maxPoints = 4;
  options.seed = 7;
  PowerCutReport report = RunPowerCutCampaign(options);
  if (!report.skipped.empty()) GTEST_SKIP() << report.skipped;
  ASSERT_EQ(report.setupError, "");
  EXPECT_EQ(report.runs, 4);
  ExpectAllSurvived(report);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PowerCutUnluckyE2E,
                         ::testing::Values(PowerCutScenario::UnpackFails, PowerCutScenario::DiskFull,
                                           PowerCutScenario::BootFails),
                         [](const ::testing::TestParamInfo<PowerCutScenario>& info) {
                           std::string name;
                           for (char c : std::string(ScenarioName(info.param))) {
                             if (c != '-') name += c;
                           }
                           return name;
                         });

}  // namespace
}  // namespace hu::e2e
