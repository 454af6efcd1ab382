// Power failures at every point of an application update:
//   power_cut [--points N] [--seed S] [--only N,...] [--loose] [-v]
#include <CLI/CLI.hpp>
#include <iostream>

#include "tests/e2e/power_cut_campaign.h"

int main(int argc, char** argv) {
  hu::e2e::PowerCutCampaignOptions options;
  bool verbose = false;
  CLI::App app{"Cuts the power at each mutating file operation of an application update and checks the unit"};
  app.add_option("--points", options.maxPoints, "Points at most (an even sample when there are more operations)")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--seed", options.seed, "Where a cut write ends");
  app.add_option("--only", options.only, "Only these points")->delimiter(',');
  app.add_flag("--loose", options.loosePack, "The kit is a lone application pack instead of a container");
  app.add_flag("-v,--verbose", verbose, "A line for every point");
  CLI11_PARSE(app, argc, argv);
  if (verbose) options.progress = &std::cout;

  hu::e2e::PowerCutReport report = hu::e2e::RunPowerCutCampaign(options);
  if (!report.setupError.empty()) {
    std::cerr << "power_cut: " << report.setupError << "\n";
    return 2;
  }
  std::cout << "operations " << report.operations << "\n";
  for (const auto& f : report.failures) {
    std::cout << "failed at " << f.point << ": " << f.what << " [" << f.step << "]\n";
  }
  std::cout << "survived " << report.survived << "/" << report.runs << "\n";
  return report.survived == report.runs ? 0 : 1;
}
