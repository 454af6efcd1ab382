// unitctl: create and inspect a unit folder.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "common/platform/errors.h"
#include "common/platform/host/host_registry.h"
#include "common/platform/host/unit.h"
#include "common/platform/text.h"
#include "common/platform/trace.h"
#include "common/settings/settings_store.h"
#include "sysmend/app/storage_roots.h"
#include "common/platform/host/host_sync.h"
#include "tools/unitctl/regedit_text.h"
#include "tools/unitctl/unit_boot.h"
#include "tools/unitctl/unit_flash.h"
#include "tools/unitctl/unit_init.h"
#include "tools/unitctl/unit_ps.h"
#include "tools/unitctl/unit_serve.h"

namespace hu {
namespace {

constexpr int kFailure = 1;
constexpr int kUsage = 2;

int Error(const std::string& message, int code = kFailure) {
  std::fprintf(stderr, "unitctl: %s\n", message.c_str());
  return code;
}

class StderrTrace : public TraceSink {
 public:
  void Write(const std::string& text) override { std::fwrite(text.data(), 1, text.size(), stderr); }
};

// Decimal or 0x-prefixed hexadecimal, 32 bits.
bool ParseDword(const std::string& text, uint32_t* out) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  errno = 0;
  char* end = nullptr;
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  unsigned long long v = std::strtoull(hex ? text.c_str() + 2 : text.c_str(), &end, hex ? 16 : 10);
  if (errno != 0 || *end != 0 || end == text.c_str() || v > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

// The unit's registry; null after printing the error.
std::unique_ptr<HostRegistry> OpenRegistry(const std::string& dir, std::unique_ptr<Unit>* unitOut = nullptr) {
  std::string error;
  auto unit = Unit::Load(dir, &error);
  if (!unit) {
    Error(error);
    return nullptr;
  }
  auto registry = HostRegistry::Open(unit->registryDb(), false, &error);
  if (!registry) Error(error);
  if (unitOut) *unitOut = std::move(unit);
  return registry;
}

std::string Describe(const RegValue& v) {
  uint32_t dword = 0;
  std::string text;
  if (v.AsDword(&dword)) return std::to_string(dword);
  if (v.AsString(&text)) return text;
  std::string out = "hex:";
  char buf[4];
  for (size_t i = 0; i < v.data.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", v.data[i]);
    out += buf;
  }
  return out;
}

int RegGet(const std::string& dir, const std::string& key, const std::string& name) {
  auto registry = OpenRegistry(dir);
  if (!registry) return kFailure;
  auto k = registry->OpenKey(key);
  if (!k) return Error("no key " + key + " in " + dir + "/registry.db");
  RegValue v;
  uint32_t rc = k->QueryValue(name, &v);
  if (rc == ERROR_FILE_NOT_FOUND) return Error("no value " + name + " under " + key + " in " + dir + "/registry.db");
  if (rc != ERROR_SUCCESS) return Error("cannot read " + key + "\\" + name + " (error " + std::to_string(rc) + ")");
  std::printf("%s\n", Describe(v).c_str());
  return 0;
}

int RegSet(const std::string& dir, const std::string& key, const std::string& name, const std::string& type,
           const std::string& value) {
  RegValue v;
  std::string t = AsciiLower(type);
  if (t == "dword") {
    uint32_t n = 0;
    if (!ParseDword(value, &n)) return Error("not a dword: " + value, kUsage);
    v = RegValue::Dword(n);
  } else if (t == "sz") {
    v = RegValue::String(value);
  } else {
    return Error("type must be dword or sz: " + type, kUsage);
  }
  auto registry = OpenRegistry(dir);
  if (!registry) return kFailure;
  auto k = registry->CreateKey(key);
  if (!k) return Error("cannot create key " + key + " in " + dir + "/registry.db");
  uint32_t rc = k->SetValue(name, v);
  if (rc != ERROR_SUCCESS) return Error("cannot write " + key + "\\" + name + " (error " + std::to_string(rc) + ")");
  return 0;
}

int RegDelete(const std::string& dir, const std::string& key, const std::string& name, bool haveName) {
  auto registry = OpenRegistry(dir);
  if (!registry) return kFailure;
  if (!haveName) {
    uint32_t rc = registry->DeleteKey(key);
    if (rc == ERROR_FILE_NOT_FOUND) return Error("no key " + key + " in " + dir + "/registry.db");
    if (rc != ERROR_SUCCESS) return Error("cannot delete key " + key + " (error " + std::to_string(rc) + ")");
    return 0;
  }
  auto k = registry->OpenKey(key);
  if (!k) return Error("no key " + key + " in " + dir + "/registry.db");
  uint32_t rc = k->DeleteValue(name);
  if (rc == ERROR_FILE_NOT_FOUND) return Error("no value " + name + " under " + key + " in " + dir + "/registry.db");
  if (rc != ERROR_SUCCESS) return Error("cannot delete " + key + "\\" + name + " (error " + std::to_string(rc) + ")");
  return 0;
}

int RegExport(const std::string& dir, const std::string& file) {
  auto registry = OpenRegistry(dir);
  if (!registry) return kFailure;
  std::string text = ExportRegedit(*registry);
  if (file.empty() || file == "-") {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : Error("cannot write standard output");
  }
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.flush();
  if (!out) return Error("cannot write " + file + ": " + std::strerror(errno));
  return 0;
}

int RegImport(const std::string& dir, const std::string& file) {
  std::string text;
  if (file == "-") {
    std::ostringstream ss;
    ss << std::cin.rdbuf();
    text = ss.str();
  } else {
    std::ifstream in(file, std::ios::binary);
    if (!in) return Error("cannot read " + file + ": " + std::strerror(errno));
    std::ostringstream ss;
    ss << in.rdbuf();
    text = ss.str();
  }
  auto registry = OpenRegistry(dir);
  if (!registry) return kFailure;
  std::string error;
  if (!ImportRegedit(*registry, text, &error)) return Error(file + ": " + error);
  return 0;
}

// The platform type and the storage roots as the updater derives them.
int Info(const std::string& dir) {
  std::unique_ptr<Unit> unit;
  auto registry = OpenRegistry(dir, &unit);
  if (!registry) return kFailure;
  SettingsStore settings(*registry);
  StorageRoots roots;
  SetDefaultStorageRoots(roots);
  GetDiskInfo(*registry, roots, unit->osMajor());
  std::printf("PlatformType=%d\n", settings.GetPlatformType());
  std::printf("DravikRoot=%s\n", roots.dravik.c_str());
  std::printf("NandFlashRoot=%s\n", roots.nandFlash.c_str());
  std::printf("StorageCardRoot=%s\n", roots.storageCard.c_str());
  std::printf("Dravik2Root=%s\n", roots.dravik2.c_str());
  std::printf("SecondCardRoot=%s\n", roots.secondCard.c_str());
  std::printf("Dravik2CopyRoot=%s\n", roots.dravik2Copy.c_str());
  return std::fflush(stdout) == 0 ? 0 : Error("cannot write standard output");
}

int Run(int argc, char** argv) {
  CLI::App app{"Create and inspect a head-unit stand-in (a unit folder)."};
  app.name("unitctl");
  app.set_version_flag("--version", "unitctl 0.1.0");
  app.require_subcommand(1);
  bool trace = false;
  app.add_flag("--trace", trace, "Copy trace lines to standard error");

  std::string dir;
  UnitInitOptions initOptions;
  std::string cpu;
  uint32_t project = 0, codePage = 0;
  auto* init = app.add_subcommand("init", "Create a unit folder");
  init->add_option("DIR", dir, "Unit folder")->required();
  auto* cpuOpt = init->add_option("--cpu", cpu, "CPU_TYPE (default S3C6410; the table below)");
  auto* projectOpt = init->add_option("--project", project, "PROJECTTYPE (default 18; the table below)");
  std::string hwVersion;
  auto* hwOpt = init->add_option("--hw-version", hwVersion, "HW_VERSION (V1... makes the line-family MCU 19200 baud)");
  init->footer("CPU and project types, with the PlatformType they give:\n" + PlatformChoicesText());
  auto* codePageOpt = init->add_option("--code-page", codePage, "System code page (default 936)")
                          ->check(CLI::Range(1u, 65535u));
  init->add_flag("--force", initOptions.force, "Complete an existing unit");
  bool noHalbridge = false, noCon1 = false;
  std::string without, osVersion, bootVersion, confVersion, appVersion;
  init->add_flag("--no-halbridge", noHalbridge, "Leave the driver library out");
  init->add_option("--halbridge-without", without, "Driver library entries to leave out (NAME[,NAME])");
  init->add_flag("--no-con1", noCon1, "The unit has no console device");
  auto* osOpt = init->add_option("--os-version", osVersion, "Installed OS version");
  auto* bootOpt = init->add_option("--boot-version", bootVersion, "Installed boot version");
  auto* confOpt = init->add_option("--conf-version", confVersion, "Installed configuration version");
  auto* appOpt = init->add_option("--app-version", appVersion, "Installed application version (AppVerInfo.cfg)");

  auto* flash = app.add_subcommand("flash", "List the images written and the calls made");
  flash->add_option("DIR", dir, "Unit folder")->required();

  std::string eventName;
  auto* event = app.add_subcommand("event", "Signal a named event of the running unit");
  event->add_option("DIR", dir, "Unit folder")->required();
  event->add_option("NAME", eventName, "Event name, e.g. Exit")->required();

  auto* reg = app.add_subcommand("reg", "Read and write the unit's registry");
  reg->add_option("DIR", dir, "Unit folder")->required();
  reg->require_subcommand(1);
  std::string key, name, type, value, file;
  auto* get = reg->add_subcommand("get", "Print a value (DWORD as decimal, string as text)");
  get->add_option("KEY", key)->required();
  get->add_option("NAME", name)->required();
  auto* set = reg->add_subcommand("set", "Write a value");
  set->add_option("KEY", key)->required();
  set->add_option("NAME", name)->required();
  set->add_option("TYPE", type, "dword or sz")->required();
  set->add_option("VALUE", value, "dword: decimal or 0x hex")->required();
  auto* del = reg->add_subcommand("delete", "Delete a value, or a key with its subkeys");
  del->add_option("KEY", key)->required();
  auto* delName = del->add_option("NAME", name);
  auto* exp = reg->add_subcommand("export", "Write the registry as REGEDIT4 text");
  exp->add_option("FILE", file, "Output file (standard output without)");
  auto* imp = reg->add_subcommand("import", "Read REGEDIT4 text into the registry");
  imp->add_option("FILE", file, "Input file ('-' for standard input)")->required();

  auto* info = app.add_subcommand("info", "Print the platform type and the storage roots");
  info->add_option("DIR", dir, "Unit folder")->required();

  BootOptions bootOptions;
  auto* boot = app.add_subcommand("boot", "Run a program as the unit's autostart, again after each reboot");
  boot->add_option("DIR", dir, "Unit folder")->required();
  boot->add_option("--max-boots", bootOptions.maxBoots, "Boots at most (default 5)")->check(CLI::Range(1, 1000));
  boot->add_option("PROGRAM", bootOptions.program, "Host executable, after --")->required();
  boot->add_option("ARGS", bootOptions.args, "Its arguments (after --unit DIR)");

  auto* ps = app.add_subcommand("ps", "List the processes of the running unit");
  ps->add_option("DIR", dir, "Unit folder")->required();

  ServeOptions serveOptions;
  std::string arbiterMode = "normal";
  bool noArbiter = false;
  auto* serve = app.add_subcommand(
      "serve",
      "Serve the unit's ports on pseudo-terminals (simulated MCU, CAN box, serial arbiter) until SIGTERM/SIGINT.\n"
      "Project type 17/19: COM4 = the MCU with the CAN box behind it (kind 5 on platform types 8, 9, 12, else 4).\n"
      "Other project types: COM4 = the MCU, and COM14 = the raw CAN box on platform type 13; elsewhere the raw\n"
      "box is served (on COM4) only with --canbox-only, which then serves no MCU. The arbiter runs when the MCU\n"
      "is served. Prints one line per port and 'ready'.");
  serve->add_option("DIR", dir, "Unit folder")->required();
  serve->add_option("--mcu-version", serveOptions.mcuVersion, "Version the MCU reports (default 3900R20130101)");
  serve->add_option("--loss", serveOptions.loss, "Probability that an answer is lost")->check(CLI::Range(0.0, 1.0));
  serve->add_option("--corrupt", serveOptions.corrupt, "Probability that an answer is damaged")
      ->check(CLI::Range(0.0, 1.0));
  serve->add_option("--duplicate", serveOptions.duplicate, "Probability that an answer is sent twice")
      ->check(CLI::Range(0.0, 1.0));
  serve->add_option("--garbage", serveOptions.garbage, "Probability that stray bytes go before an answer")
      ->check(CLI::Range(0.0, 1.0));
  serve->add_option("--silent-after", serveOptions.silentAfter, "Answers given before falling silent")
      ->check(CLI::Range(0, 1 << 30));
  serve->add_option("--seed", serveOptions.seed, "Seed of the faults (default 1)");
  serve->add_option("--arbiter", arbiterMode, "normal, or stubborn (never lets the port go)")
      ->check(CLI::IsMember({"normal", "stubborn"}));
  serve->add_flag("--no-arbiter", noArbiter, "Run no serial arbiter");
  serve->add_option("--canbox-type", serveOptions.canboxType, "Vehicle type the CAN box reports (1..19 characters)")
      ->check([](const std::string& t) { return t.empty() || t.size() > 19 ? std::string("1..19 characters") : std::string(); });
  serve->add_flag("--canbox-only", serveOptions.canboxOnly, "Project types other than 17/19: the raw CAN box instead of the MCU");
  serve->add_option("--canbox-baud", serveOptions.canboxBaud, "Line speed of the raw CAN box for --pace (115200 or 625000)")
      ->check(CLI::IsMember({115200u, 625000u}));
  serve->add_flag("--pace", serveOptions.pace, "Answer at line speed (scaled by the unit's time scale)");
  serve->add_flag("--siblings", serveOptions.siblings,
                  "Install stand-ins for the unit's own programs (Appvisor, Zentrova, Startdeck, explorer) and start\n"
                  "the ones a booted unit runs; they own the windows the tools close, and end with serve");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    return Error(e.what(), kUsage);
  }

  StderrTrace stderrTrace;
  if (trace) SetTraceSink(&stderrTrace);

  if (init->parsed()) {
    if (cpuOpt->count()) initOptions.cpu = cpu;
    if (projectOpt->count()) initOptions.project = project;
    if (hwOpt->count()) initOptions.hwVersion = hwVersion;
    if (codePageOpt->count()) initOptions.codePage = codePage;
    initOptions.halbridge = !noHalbridge;
    initOptions.console = !noCon1;
    for (size_t start = 0; !without.empty() && start <= without.size();) {
      size_t comma = without.find(',', start);
      std::string name = without.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      if (!name.empty()) initOptions.halbridgeWithout.push_back(name);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    if (osOpt->count()) initOptions.osVersion = osVersion;
    if (bootOpt->count()) initOptions.bootVersion = bootVersion;
    if (confOpt->count()) initOptions.confVersion = confVersion;
    if (appOpt->count()) initOptions.appVersion = appVersion;
    std::string error;
    if (!InitUnit(dir, initOptions, &error)) {
      const bool refused = error.rfind("unknown", 0) == 0 || error.rfind("no platform", 0) == 0;
      return Error(error, refused ? kUsage : kFailure);
    }
    return 0;
  }
  if (info->parsed()) return Info(dir);
  if (boot->parsed()) {
    bootOptions.unitDir = dir;
    std::string error;
    int rc = BootUnit(bootOptions, stdout, &error);
    if (!error.empty()) Error(error);
    return rc;
  }
  if (ps->parsed()) {
    std::string error;
    if (!ListUnitProcesses(dir, std::cout, &error)) return Error(error);
    return 0;
  }
  if (serve->parsed()) {
    serveOptions.unitDir = dir;
    serveOptions.arbiter = noArbiter ? ServeArbiter::None
                                     : (arbiterMode == "stubborn" ? ServeArbiter::Stubborn : ServeArbiter::Normal);
    struct sigaction sa {};
    sa.sa_handler = [](int) { RequestServeStop(); };
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::string error;
    int rc = ServeUnit(serveOptions, stdout, &error);
    if (rc != 0) Error(error);
    return rc;
  }
  if (flash->parsed()) {
    std::string error;
    if (!ListFlash(dir, std::cout, &error)) return Error(error);
    return 0;
  }
  if (event->parsed()) {
    std::string error;
    std::unique_ptr<Unit> unit = Unit::Load(dir, &error);
    if (!unit) return Error(error);
    if (!SignalNamedEvent(unit->runDir(), eventName, &error)) return Error(error);
    return 0;
  }
  if (get->parsed()) return RegGet(dir, key, name);
  if (set->parsed()) return RegSet(dir, key, name, type, value);
  if (del->parsed()) return RegDelete(dir, key, name, delName->count() > 0);
  if (exp->parsed()) return RegExport(dir, file);
  if (imp->parsed()) return RegImport(dir, file);
  return Error("no command", kUsage);
}

}  // namespace
}  // namespace hu

int main(int argc, char** argv) {
  try {
    return hu::Run(argc, argv);
  } catch (const std::exception& e) {
    return hu::Error(e.what());
  }
}
