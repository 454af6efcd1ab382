#include "tools/kitpack/kit_check.h"

#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "common/platform/host/host_files.h"
#include "common/platform/host/host_registry.h"
#include "common/platform/host/iconv_code_page.h"
#include "common/platform/host/serial/host_devices.h"
#include "common/platform/host/serial/host_library.h"
#include "common/platform/host/serial/unit_io_config.h"
#include "common/platform/host/unit.h"
#include "common/platform/trace.h"
#include "common/settings/settings_store.h"
#include "sysmend/app/app_updater.h"
#include "sysmend/app/installed_versions.h"
#include "sysmend/app/packs_shearcher.h"
#include "sysmend/app/storage_roots.h"
#include "sysmend/app/update_checker.h"
#include "tools/kitpack/pinned_files.h"
#include "tools/unitctl/unit_init.h"

namespace hu::kitpack {

namespace {

namespace fs = std::filesystem;

// The trace lines of a dry run go nowhere, or to standard error with --trace.
class CheckTrace : public TraceSink {
 public:
  explicit CheckTrace(bool toStderr) : toStderr_(toStderr), previous_(GetTraceSink()) { SetTraceSink(this); }
  ~CheckTrace() override { SetTraceSink(previous_); }
  void Write(const std::string& text) override {
    if (toStderr_) std::fputs(text.c_str(), stderr);
  }

 private:
  bool toStderr_;
  TraceSink* previous_;
};

// A folder removed with everything in it at the end of the run.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "kitpack-check-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct SlotWrite {
  int slot;
  const char* image;  // the driver library's image kind
  bool skippedOnMstar;
};
// In the order the update writes them.
const SlotWrite kWrites[] = {{kSlotOs, "os", true},         {kSlotBoot, "boot", true},
                             {kSlotConf, "conf", false},    {kSlotLogo1, "logo1", false},
                             {kSlotLogo2, "logo2", false}, {kSlotLogo3, "logo3", false}};

struct CheckResult {
  bool installs = false;
  UpdatePlan plan;
  std::vector<std::string> writes;  // image kinds written
  bool twoPhases = false;
  std::string ending;
};

std::string Request(const PackSlot& s) {
  return "path=\"" + s.path + "\" offset=" + std::to_string(s.offset) + " length=" + std::to_string(s.length);
}

// The updater's check pass over the kits on the unit `unitDir`. Whatever the
// driver library or console device log goes to `scratchDir`, a copy of the
// unit's description, so that the unit itself is not touched.
bool RunCheckPass(const std::string& unitDir, const std::string& scratchDir, const CheckOptions& options,
                  CheckResult* result, std::string* error) {
  std::unique_ptr<Unit> unit = Unit::Load(unitDir, error);
  if (!unit) return false;
  std::error_code ec;
  fs::copy_file(unit->iniPath(), scratchDir + "/unit.ini", fs::copy_options::overwrite_existing, ec);
  fs::create_directories(scratchDir + "/flash", ec);
  if (ec) {
    *error = "cannot prepare " + scratchDir + ": " + ec.message();
    return false;
  }
  auto registry = HostRegistry::Open(unit->registryDb(), false, error);
  if (!registry) return false;
  HostFiles unitFiles(unit->fs());
  const std::string packsPath = GetUpdatePacksPath(options.modulePath);
  PinnedFiles files(&unitFiles, packsPath);
  files.SetReadOnly();
  for (const std::string& kit : options.kits) files.PinInFolder(fs::path(kit).filename().string(), kit);
  IconvCodePage codePage(unit->codePage());
  HostLibrary library([&unitFiles](const std::string& path) { return unitFiles.HostPath(path); }, scratchDir);
  HostDevices devices(scratchDir, UnitDevicesConfig(*unit));

  CPacksShearcher shearcher(files, codePage);
  InstalledVersions installed(files, *registry, &library, &devices);
  UpdateChecker checker(files, codePage, *registry, installed);
  UpdatePlan& plan = result->plan;
  result->installs = shearcher.ShearchPacksInfoVec(packsPath) &&
                     checker.CheckUpdatePacks(shearcher.m_pPackInfoVec(), options.autoMode) &&
                     checker.PreparePackSlots(shearcher.m_pPackInfoVec(), packsPath, &plan);
  if (!result->installs) return true;

  // What the update then does with the plan, assuming every write succeeds.
  bool mstar = checker.GetCPUType() == 1;
  bool flashed = false;
  for (const SlotWrite& w : kWrites) {
    if (!plan.slots[w.slot].present || (w.skippedOnMstar && mstar)) continue;
    result->writes.push_back(w.image);
    flashed = true;
  }
  bool app = plan.slots[kSlotApp].present;
  // The application folder present: it is moved aside now and the new one
  // unpacked after the reboot.
  result->twoPhases = app && CAppUpdater::RunsInTwoPhases(files);
  flashed = flashed || result->twoPhases;
  if (flashed) {
    result->ending = "the unit reboots";
  } else if (app) {
    result->ending = "the application starts";
  } else {
    result->ending = "nothing more: the dialog stays open";
  }
  return true;
}

void PrintPlan(const CheckResult& r, bool mstar, std::ostream& out) {
  out << "verdicts:\n";
  for (const StatusLine& line : r.plan.lines) out << "  " << line.text << (line.color ? "   [red]" : "") << "\n";
  if (!r.installs) {
    out << "plan: nothing to install\n";
    return;
  }
  out << "plan:\n";
  for (const SlotWrite& w : kWrites) {
    const PackSlot& s = r.plan.slots[w.slot];
    if (!s.present) continue;
    if (w.skippedOnMstar && mstar) {
      out << "  not written (MStar platform): " << w.image << " " << Request(s) << "\n";
      continue;
    }
    out << "  write " << w.image << " " << Request(s) << (s.version.empty() ? "" : " version=\"" + s.version + "\"")
        << "\n";
  }
  const PackSlot& app = r.plan.slots[kSlotApp];
  if (app.present) {
    if (r.plan.loosePack) {
      out << "  install the application from loose packs:";
      for (const std::string& p : r.plan.loosePacks) out << " \"" << p << "\"";
      out << "\n";
    } else {
      out << "  install the application " << Request(app) << " version=\"" << app.version << "\"\n";
    }
    out << (r.twoPhases ? "  application in two phases: moved aside now, unpacked after the reboot\n"
                        : "  application in one phase: unpacked now\n");
  }
  out << "then: " << r.ending << "\n";
}

bool MakeDescribedUnit(const std::string& dir, const CheckTarget& t, std::string* error) {
  UnitInitOptions init;
  init.cpu = t.cpu;
  init.project = t.project;
  init.force = true;
  init.osVersion = t.osVersion;
  init.bootVersion = t.bootVersion;
  init.confVersion = t.confVersion;
  init.appVersion = t.appVersion;
  return InitUnit(dir, init, error);
}

bool DuplicateNames(const std::vector<std::string>& kits, std::string* name) {
  std::set<std::string> seen;
  for (const std::string& k : kits) {
    std::string n = fs::path(k).filename().string();
    if (!seen.insert(AsciiLower(n)).second) {
      *name = n;
      return true;
    }
  }
  return false;
}

bool CheckKitFiles(const CheckOptions& options, std::ostream& err) {
  std::string name;
  if (DuplicateNames(options.kits, &name)) {
    err << "kitpack: " << name << ": named twice; a unit's update folder holds one file of a name\n";
    return false;
  }
  for (const std::string& k : options.kits) {
    std::error_code ec;
    if (!fs::is_regular_file(k, ec)) {
      err << "kitpack: " << k << ": not a file\n";
      return false;
    }
  }
  return true;
}

}  // namespace

int CheckKits(const CheckTarget& target, const CheckOptions& options, std::ostream& out, std::ostream& err) {
  if (!CheckKitFiles(options, err)) return 2;
  CheckTrace trace(options.traceToStderr);
  ScratchFolder scratch, described;
  std::string error;
  std::string unitDir = target.unitDir;
  if (unitDir.empty()) {
    unitDir = described.path();
    if (unitDir.empty() || !MakeDescribedUnit(unitDir, target, &error)) {
      err << "kitpack: cannot describe the unit: " << error << "\n";
      return 1;
    }
  }
  CheckResult result;
  if (scratch.path().empty() || !RunCheckPass(unitDir, scratch.path(), options, &result, &error)) {
    err << "kitpack: " << error << "\n";
    return 1;
  }
  std::unique_ptr<HostRegistry> registry = HostRegistry::Open(unitDir + "/registry.db", false, &error);
  std::string cpu;
  uint32_t project = 0;
  if (registry) {
    if (auto key = registry->OpenKey("SOFTWARE\\Dravik\\Os")) {
      key->QueryString("CPU_TYPE", &cpu);
      key->QueryDword("PROJECTTYPE", &project);
    }
  }
  out << "unit: " << (target.unitDir.empty() ? "described" : target.unitDir) << ", CPU_TYPE " << cpu
      << ", PROJECTTYPE " << project << ", PlatformType " << PlatformTypeFor(cpu, project) << ", "
      << (options.autoMode ? "automatic" : "manual") << " run\n";
  PrintPlan(result, AsciiLower(cpu.substr(0, 5)) == "mstar", out);
  return result.installs ? 0 : 4;
}

int CheckKitsOnAllPlatforms(const CheckTarget& target, const CheckOptions& options, std::ostream& out,
                            std::ostream& err) {
  if (!CheckKitFiles(options, err)) return 2;
  CheckTrace trace(options.traceToStderr);
  // Every CPU type and project type the platform table knows, each platform
  // type taken at its first pair.
  const char* const cpus[] = {"S3C6410", "S5PC100", "S5P6450", "MSTAR2521", "MSTAR2531", "MSTAR786"};
  const uint32_t projects[] = {18, 19, 17, 16, 20};
  std::map<int, std::pair<std::string, uint32_t>> platforms;
  for (const char* cpu : cpus) {
    for (uint32_t project : projects) {
      int code = PlatformTypeFor(cpu, project);
      if (code == 0 && !(std::string(cpu) == "S3C6410" && project == 18)) continue;  // not in the table
      platforms.emplace(code, std::make_pair(cpu, project));
    }
  }
  ScratchFolder unitFolder, scratch;
  bool any = false;
  for (const auto& [code, pair] : platforms) {
    CheckTarget t = target;
    t.cpu = pair.first;
    t.project = pair.second;
    std::string error;
    CheckResult r;
    if (unitFolder.path().empty() || !MakeDescribedUnit(unitFolder.path(), t, &error) ||
        !RunCheckPass(unitFolder.path(), scratch.path(), options, &r, &error)) {
      err << "kitpack: PlatformType " << code << ": " << error << "\n";
      return 1;
    }
    out << "PlatformType " << code << " (" << t.cpu << ", " << t.project << "): ";
    if (r.installs) {
      any = true;
      out << "installs";
      for (const std::string& w : r.writes) out << " " << w;
      if (r.plan.slots[kSlotApp].present) out << " application" << (r.twoPhases ? " (two phases)" : "");
      out << "; then " << r.ending << "\n";
    } else {
      std::string why = "no kit fills a slot";
      for (const StatusLine& line : r.plan.lines) {
        if (line.color != 0) {
          why = line.text;
          break;
        }
      }
      out << "nothing to install (" << why << ")\n";
    }
  }
  return any ? 0 : 4;
}

}  // namespace hu::kitpack
