// A sample of the power-failure campaign: the full one is scripts/power-cut.
#include <gtest/gtest.h>

#include "tests/e2e/power_cut_campaign.h"

namespace hu::e2e {
namespace {

TEST(PowerCutE2E, ApplicationUpdateSurvivesPowerLossAtSpreadPoints) {
  PowerCutCampaignOptions options;
  options.maxPoints = 8;
  options.seed = 7;
  PowerCutReport report = RunPowerCutCampaign(options);
  ASSERT_EQ(report.setupError, "");
  EXPECT_GT(report.operations, 20u);
  EXPECT_EQ(report.runs, 8);
  for (const PowerCutFailure& f : report.failures) ADD_FAILURE() << "point " << f.point << ": " << f.what << " [" << f.step << "]";
  EXPECT_EQ(report.survived, report.runs);
}

}  // namespace
}  // namespace hu::e2e
