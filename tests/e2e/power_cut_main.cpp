// Power failures at every point of an application update:
//   power_cut [--scenario success|unpack-fails|disk-full|boot-fails] [--all] [--loose]
// Without --scenario or --loose every scenario runs.
//             [--points N] [--seed S] [--only N,...] [--keep DIR] [-v]
#include <CLI/CLI.hpp>
#include <iostream>

#include "tests/e2e/power_cut_campaign.h"

namespace {

using hu::e2e::PowerCutScenario;

// Prints one scenario's counts and failures; 0 survived, 1 failed, 2 could not run, 4 skipped.
int Report(const hu::e2e::PowerCutReport& report) {
  if (!report.skipped.empty()) {
    std::cout << report.name << ": skipped: " << report.skipped << "\n";
    return 4;
  }
  if (!report.setupError.empty()) {
    std::cout << report.name << ": could not run: " << report.setupError << "\n";
    return 2;
  }
  std::cout << report.name << ": operations " << report.operations << ", uninterrupted it ends with "
            << report.ending << "\n";
  for (const auto& f : report.failures) {
    std::cout << "  failed " << (f.point == 0 ? std::string("without a cut") : "at " + std::to_string(f.point))
              << ": " << f.what << " [" << f.step << "]\n";
  }
  std::cout << report.name << ": survived " << report.survived << "/" << report.runs << "\n";
  std::cout.flush();
  return report.passed() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  hu::e2e::PowerCutCampaignOptions options;
  std::string scenario = "success";
  bool all = false, verbose = false;
  CLI::App app{"Cuts the power at each mutating file operation of an application update and checks the unit"};
  auto* one = app.add_option("--scenario", scenario, "success, unpack-fails, disk-full or boot-fails (default: all)")
      ->check(CLI::IsMember({"success", "unpack-fails", "disk-full", "boot-fails"}));
  app.add_flag("--all", all, "Every scenario, success with a container and with a loose pack (the default)");
  app.add_option("--points", options.maxPoints, "Points at most (an even sample when there are more operations)")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--seed", options.seed, "Where a cut write ends");
  app.add_option("--only", options.only, "Only these points")->delimiter(',');
  app.add_option("--keep", options.keepDir, "Copy the unit of each failed run into this folder");
  auto* loose = app.add_flag("--loose", options.loosePack, "The kit is a lone application pack instead of a container");
  app.add_flag("-v,--verbose", verbose, "A line for every point");
  CLI11_PARSE(app, argc, argv);
  if (verbose) options.progress = &std::cout;

  std::vector<std::pair<PowerCutScenario, bool>> runs;
  if (all || (one->count() == 0 && loose->count() == 0)) {
    runs = {{PowerCutScenario::Success, false}, {PowerCutScenario::Success, true},
            {PowerCutScenario::UnpackFails, false}, {PowerCutScenario::DiskFull, false},
            {PowerCutScenario::BootFails, false}};
  } else {
    PowerCutScenario chosen;
    hu::e2e::ParseScenario(scenario, &chosen);
    runs = {{chosen, options.loosePack}};
  }
  bool failed = false, broken = false, ran = false;
  for (const auto& [chosen, loose] : runs) {
    options.scenario = chosen;
    options.loosePack = loose;
    const int rc = Report(hu::e2e::RunPowerCutCampaign(options));
    failed = failed || rc == 1;
    broken = broken || rc == 2;
    ran = ran || rc != 4;
  }
  return failed ? 1 : broken ? 2 : ran ? 0 : 4;
}
