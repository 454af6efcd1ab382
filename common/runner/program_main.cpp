#include "common/runner/program_main.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "common/platform/host/host_platform.h"
#include "common/platform/host/host_processes.h"

namespace hu {

int ProgramMain(int argc, char** argv, const ProgramInfo& info,
                const std::function<int(ProgramContext&)>& body) {
  CLI::App app(info.description, info.name);
  app.set_version_flag("--version", info.name + " " + info.version);
  const char* envUnit = std::getenv("HU_UNIT");
  std::string unitDir = envUnit && *envUnit ? envUnit : "./unit";
  std::string frontEnd = isatty(STDOUT_FILENO) ? "tui" : "headless";
  // A program started by another one of the unit is told not to take the terminal.
  const char* envUi = std::getenv(kUnitFrontEndEnv);
  if (envUi != nullptr && (std::string(envUi) == "headless" || std::string(envUi) == "script" ||
                           std::string(envUi) == "tui")) {
    frontEnd = envUi;
  }
  UiOptions ui;
  bool trace = false;
  std::string module = info.defaultModule;
  std::vector<std::string> deviceArgs;
  app.add_option("--unit", unitDir, "the unit folder (default $HU_UNIT, else ./unit)");
  app.add_option("--ui", frontEnd, "front end: headless, script or tui")
      ->check(CLI::IsMember({"headless", "script", "tui"}));
  app.add_option("--input", ui.inputPath, "script of actions for the script front end (a file or -)");
  app.add_option("--ui-log", ui.uiLogPath, "write every visible change as JSON lines to FILE");
  app.add_flag("--trace", trace, "copy the debug output to stderr");
  app.add_option("--module", module, "device path the program runs at");
  app.add_option("args", deviceArgs, "the device command line (e.g. auto)");
  app.allow_extras(false);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }
  ui.frontEnd = frontEnd;
  if (!ui.inputPath.empty() && frontEnd == "headless") ui.frontEnd = "script";

  std::string commandLine;
  for (size_t i = 0; i < deviceArgs.size(); ++i) commandLine += (i ? " " : "") + deviceArgs[i];
  HostOptions options;
  options.modulePath = module;
  options.commandLine = commandLine;
  options.traceToStderr = trace;
  std::string error;
  std::unique_ptr<HostPlatform> platform = HostPlatform::Open(unitDir, options, &error);
  if (!platform) {
    std::cerr << info.name << ": " << error << "\n";
    return 1;
  }
  // The unit's windows: those of every program of the unit.
  Windows* windows = platform->windows();
  Desktop desktop(platform->clock(), *windows);
  desktop.SetTitleHook([windows](HWND hwnd, const std::string& title) { windows->SetWindowTitle(hwnd, title); });
  ProgramContext context{*platform, desktop, ui};
  return body(context);
}

}  // namespace hu
