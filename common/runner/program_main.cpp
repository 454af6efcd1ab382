#include "common/runner/program_main.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <memory>

#include "common/platform/host/host_platform.h"
#include "common/platform/host/host_processes.h"
#include "common/runner/field_run.h"
#include "common/runner/unit_setup.h"

namespace hu {

int ProgramMain(int argc, char** argv, const ProgramInfo& info, const ProgramOptions& extra,
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
  FieldUnitRequest field;
  field.ports = extra.fieldPorts;
  std::vector<CLI::Option*> fieldOptions;
  CLI::Option* portOption = nullptr;
  if (!extra.fieldPorts.empty()) {
    const std::string group = "Field use (a unit made for the run, removed afterwards)";
    portOption = app.add_option("--port", field.port, "the device of the cable: /dev/ttyUSB0")->group(group);
    fieldOptions = {
        app.add_option("--cpu", field.cpu, "CPU_TYPE of the unit (with --port)")->group(group),
        app.add_option("--project", field.project, "PROJECTTYPE of the unit (with --port)")->group(group),
        app.add_option("--hw-version", field.hwVersion, "HW_VERSION of the unit (with --port): V1.0")->group(group),
        app.add_option("--keep-unit", field.keepDir, "make the unit in DIR and keep it (for a bug report)")
            ->group(group)};
    app.footer("CPU and project types, with the PlatformType they give:\n" + PlatformChoicesText());
  }
  if (extra.addOptions) extra.addOptions(app);
  app.add_option("args", deviceArgs, extra.usage);
  app.allow_extras(false);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }
  ui.frontEnd = frontEnd;
  if (!ui.inputPath.empty() && frontEnd == "headless") ui.frontEnd = "script";
  const bool fieldRun = portOption != nullptr && portOption->count() > 0;
  if (fieldRun && (fieldOptions[0]->count() == 0 || fieldOptions[1]->count() == 0)) {
    std::cerr << info.name << ": --port needs --cpu and --project (see --help for the values)\n";
    return 2;
  }
  if (!fieldRun) {
    for (CLI::Option* option : fieldOptions) {
      if (option->count() > 0) {
        std::cerr << info.name << ": " << option->get_name() << " goes with --port\n";
        return 2;
      }
    }
  }
  if (fieldRun) {
    std::string error;
    if (!MakeFieldUnit(info.name, field, &unitDir, &error)) {
      std::cerr << info.name << ": " << error << "\n";
      return error.rfind("unknown", 0) == 0 || error.rfind("no platform", 0) == 0 ? 2 : 1;
    }
  }
  // A person on a terminal without the dialog and without a script would
  // wait for clicks that cannot come.
  if (ui.frontEnd == "headless" && ui.inputPath.empty() && envUi == nullptr && isatty(STDIN_FILENO) &&
      !isatty(STDOUT_FILENO)) {
    std::cerr << info.name
              << ": no terminal for the dialog: it waits for a click; give actions on standard input with"
                 " --input - (\"click ID\", \"close\"), or run it with its output on a terminal\n";
  }

  std::string commandLine;
  for (size_t i = 0; i < deviceArgs.size(); ++i) commandLine += (i ? " " : "") + deviceArgs[i];
  HostOptions options;
  options.modulePath = module;
  options.commandLine = commandLine;
  options.traceToStderr = trace;
  std::string error;
  int rc = 1;
  {
    std::unique_ptr<HostPlatform> platform = HostPlatform::Open(unitDir, options, &error);
    if (!platform) {
      std::cerr << info.name << ": " << error << "\n";
    } else {
      // The unit's windows: those of every program of the unit.
      Windows* windows = platform->windows();
      Desktop desktop(platform->clock(), *windows);
      desktop.SetTitleHook(
          [windows](HWND hwnd, const std::string& title) { windows->SetWindowTitle(hwnd, title); });
      ProgramContext context{*platform, desktop, ui, deviceArgs, fieldRun};
      rc = body(context);
    }
  }
  if (fieldRun && field.keepDir.empty()) {
    RemoveFieldUnit(unitDir);
  } else if (fieldRun) {
    std::cerr << info.name << ": the unit is kept in " << unitDir << " (trace.log has every step)\n";
  }
  return rc;
}

}  // namespace hu
