#include "tools/unitctl/unit_serve.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "common/platform/host/host_platform.h"
#include "common/platform/host/unit.h"
#include "common/platform/text.h"
#include "common/settings/settings_store.h"
#include "sim/canbox/canbox_relay.h"
#include "sim/canbox/canbox_simulator.h"
#include "sim/portmaster/port_master.h"
#include "sim/pty/peer_pty_server.h"

namespace hu {
namespace {

constexpr uint32_t kBaudFast = 115200;
constexpr uint32_t kBaudSlow = 19200;
constexpr int kPollMs = 50;
constexpr int kArbiterWaitMs = 5000;

std::atomic<bool> g_stopRequested{false};

bool IsIapPlatform(int platformType) { return platformType == 8 || platformType == 9 || platformType == 12; }

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return std::string();
  size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

std::string Folder(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string OwnFolder() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  return Folder(buf);
}

bool MakeFolders(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    std::string part = path.substr(0, at);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Single quotes for /bin/sh.
std::string ShellQuoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// A stand-in as a unit program: a wrapper that execs the built one (with
// `fixedArgs` first), so the unit's process start runs it for real.
bool InstallWrapper(const std::string& hostPath, const std::string& program, const std::string& fixedArgs,
                    const char* what, std::string* error) {
  if (::access(program.c_str(), X_OK) != 0) {
    *error = std::string("no ") + what + " executable at " + program;
    return false;
  }
  if (!MakeFolders(Folder(hostPath))) {
    *error = "cannot create " + Folder(hostPath) + ": " + std::strerror(errno);
    return false;
  }
  std::ofstream f(hostPath, std::ios::binary | std::ios::trunc);
  f << "#!/bin/sh\nexec " << ShellQuoted(program) << fixedArgs << " \"$@\"\n";
  f.close();
  if (!f || ::chmod(hostPath.c_str(), 0755) != 0) {
    *error = "cannot write " + hostPath + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// What was in [ports] before, so the stop can give it back.
struct PortBackup {
  std::string key;
  std::string slave;
  bool had = false;
  std::string previous;
};

bool WritePortMap(const std::string& dir, const std::vector<PortBackup>& ports, std::string* error) {
  std::unique_ptr<Unit> unit = Unit::Load(dir, error);
  if (!unit) return false;
  for (const PortBackup& p : ports) unit->Set("ports", p.key, p.slave);
  return unit->Save(error);
}

// Gives back the ports still pointing at our terminals; someone may have
// changed the map meanwhile, and such a change is left alone.
bool RestorePortMap(const std::string& dir, const std::vector<PortBackup>& ports, std::string* error) {
  IniFile ini;
  if (!ini.Load(dir + "/unit.ini", error)) return false;
  for (const PortBackup& p : ports) {
    if (ini.Get("ports", p.key) != p.slave) continue;
    if (p.had) {
      ini.Set("ports", p.key, p.previous);
    } else {
      IniFile without;
      without.Parse(RemoveIniKey(ini.Text(), "ports", p.key));
      ini = without;
    }
  }
  return ini.Save(dir + "/unit.ini", error);
}

bool SameNoCase(const std::string& a, const std::string& b) { return AsciiLower(a) == AsciiLower(b); }

// Polls until the window is there; false after kArbiterWaitMs or on a stop request.
bool WaitForWindow(Windows* windows, const std::string& className, const std::string& title) {
  for (int waited = 0; windows != nullptr && waited < kArbiterWaitMs && !g_stopRequested.load();
       waited += kPollMs) {
    if (windows->FindWindow(className, title) != 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  return false;
}

// Installs the stand-ins and starts those a booted unit runs; they are left
// running for the tools to close and start again.
bool StartSiblings(HostPlatform& platform, const std::string& program, std::FILE* out, std::string* error) {
  std::vector<std::pair<const SiblingProgram*, uint32_t>> started;
  for (const SiblingProgram& s : SiblingPrograms()) {
    const std::string hostPath = platform.hostFiles().HostPath(s.modulePath);
    const std::string args = *s.title != 0 ? " --title " + ShellQuoted(s.title) : std::string();
    if (hostPath.empty()) {
      *error = std::string("cannot place ") + s.modulePath;
      return false;
    }
    if (!InstallWrapper(hostPath, program, args, "sibling", error)) return false;
    if (!s.running) continue;
    uint32_t pid = 0;
    if (!platform.processes().CreateProcess(s.modulePath, "", &pid)) {
      *error = std::string("cannot start ") + s.modulePath;
      return false;
    }
    started.emplace_back(&s, pid);
  }
  for (const auto& [s, pid] : started) {
    if (*s->title != 0 && !WaitForWindow(platform.windows(), "", s->title)) {
      if (!g_stopRequested.load()) *error = std::string(s->modulePath) + " did not come up";
      return false;
    }
    std::fprintf(out, "sibling %s, pid %u\n", s->modulePath, pid);
  }
  return true;
}

// Ends whatever runs at a stand-in's path, started by serve or by a tool.
void EndSiblings(HostPlatform& platform) {
  for (const ProcessEntry& e : platform.processes().Snapshot()) {
    for (const SiblingProgram& s : SiblingPrograms()) {
      if (SameNoCase(e.exePath, s.modulePath)) platform.processes().TerminateProcess(e.pid, 0);
    }
  }
}

}  // namespace

void RequestServeStop() { g_stopRequested.store(true); }

const std::vector<SiblingProgram>& SiblingPrograms() {
  // The launcher has no window the tools look for (they terminate it); the
  // shell is started by the tools once the front end is closed.
  static const std::vector<SiblingProgram> programs = {
      {"\\dravik\\$KVR$\\App\\Appvisor.exe", "", true},
      {"\\dravik\\$KVR$\\App\\Zentrova.exe", "Zentrova", true},
      {"\\dravik\\$KVR$\\App\\Startdeck.exe", "Startdeck_Window", true},
      {"\\Windows\\explorer.exe", "", false},
  };
  return programs;
}

bool PlanServedPorts(uint32_t projectType, const std::string& cpuType, int platformType,
                     const std::string& hwVersion, bool canboxOnly, uint32_t canboxBaud,
                     std::vector<ServedPort>* ports, std::string* error) {
  ports->clear();
  ServedPort mcu;
  mcu.port = "COM4";
  mcu.peer = ServedPort::Peer::Mcu;
  mcu.family = McuSimulator::FamilyFor(projectType, cpuType);
  mcu.baudRate = mcu.family == McuFamily::Line && hwVersion.size() >= 2 && hwVersion[0] == 'V' && hwVersion[1] == '1'
                     ? kBaudSlow
                     : kBaudFast;
  if (projectType == 17 || projectType == 19) {
    if (canboxOnly) {
      *error = "--canbox-only: on project type 17 or 19 the CAN box is reached through the MCU";
      return false;
    }
    mcu.relayKind = IsIapPlatform(platformType) ? 5 : 4;
    ports->push_back(mcu);
    return true;
  }
  ServedPort box;
  box.port = platformType == 13 ? "COM14" : "COM4";
  box.peer = ServedPort::Peer::CanBox;
  box.baudRate = canboxBaud;
  if (!canboxOnly) ports->push_back(mcu);
  if (canboxOnly || platformType == 13) ports->push_back(box);
  return true;
}

std::string DescribeServedPort(const ServedPort& port, const std::string& slavePath) {
  std::string s = port.port + " -> " + slavePath + " (";
  if (port.peer == ServedPort::Peer::CanBox) {
    s += "can box, raw";
  } else {
    s += port.family == McuFamily::Block ? "mcu, block family" : "mcu, line family";
  }
  s += ", " + std::to_string(port.baudRate);
  if (port.relayKind != 0) s += ", can box behind it, kind " + std::to_string(port.relayKind);
  return s + ")";
}

std::string RemoveIniKey(const std::string& text, const std::string& section, const std::string& key) {
  std::istringstream in(text);
  std::string out, line, current;
  bool first = true;
  while (std::getline(in, line)) {
    std::string t = Trim(line);
    bool drop = false;
    if (!t.empty() && t[0] == '[' && t.back() == ']') {
      current = Trim(t.substr(1, t.size() - 2));
    } else if (!t.empty() && t[0] != '#' && t[0] != ';' && SameNoCase(current, section)) {
      size_t eq = t.find('=');
      drop = eq != std::string::npos && SameNoCase(Trim(t.substr(0, eq)), key);
    }
    if (drop) continue;
    if (!first) out += '\n';
    out += line;
    first = false;
  }
  if (!text.empty() && text.back() == '\n') out += '\n';
  return out;
}

int ServeUnit(const ServeOptions& options, std::FILE* out, std::string* error) {
  g_stopRequested.store(false);
  std::unique_ptr<Unit> unit = Unit::Load(options.unitDir, error);
  if (!unit) return 1;
  const double timeScale = unit->timeScale();

  uint32_t project = 18;
  std::string cpu, hw;
  int platformType = 0;
  {
    auto registry = HostRegistry::Open(unit->registryDb(), false, error);
    if (!registry) return 1;
    SettingsStore settings(*registry);
    platformType = settings.GetPlatformType();
    settings.GetPROJECTTYPE(project);
    settings.GetCPU_TYPE(cpu);
    settings.GetHW_VERSION(hw);
  }
  std::vector<ServedPort> plan;
  if (!PlanServedPorts(project, cpu, platformType, hw, options.canboxOnly, options.canboxBaud, &plan, error)) {
    return 1;
  }
  const std::string flash = unit->flashDir();
  if (!MakeFolders(flash)) {
    *error = "cannot create " + flash + ": " + std::strerror(errno);
    return 1;
  }

  McuFaults mcuFaults;
  mcuFaults.lossProbability = options.loss;
  mcuFaults.corruptProbability = options.corrupt;
  mcuFaults.duplicateProbability = options.duplicate;
  mcuFaults.garbageProbability = options.garbage;
  mcuFaults.silentAfter = options.silentAfter;
  mcuFaults.seed = options.seed;
  CanBoxFaults boxFaults;
  boxFaults.lossProbability = options.loss;
  boxFaults.corruptProbability = options.corrupt;
  boxFaults.duplicateProbability = options.duplicate;
  boxFaults.garbageProbability = options.garbage;
  boxFaults.silentAfter = options.silentAfter;
  boxFaults.seed = options.seed;

  std::unique_ptr<McuSimulator> mcu;
  std::unique_ptr<CanBoxSimulator> box;
  std::unique_ptr<CanBoxRelay> relay;
  bool mcuOnCom4 = false;
  for (const ServedPort& p : plan) {
    if (p.peer == ServedPort::Peer::Mcu) {
      McuSimConfig config;
      config.family = p.family;
      config.version = options.mcuVersion;
      config.imagePath = flash + (p.family == McuFamily::Block ? "/mcu.bin" : "/mcu.s19");
      config.keyPath = flash + "/mcu.key";
      config.faults = mcuFaults;
      mcu = std::make_unique<McuSimulator>(config);
      mcuOnCom4 = true;
    }
    if (p.peer == ServedPort::Peer::CanBox || p.relayKind != 0) {
      CanBoxSimConfig config;
      if (!options.canboxType.empty()) config.type = options.canboxType;
      config.imagePath = flash + "/canbox.bin";
      config.iniPath = flash + "/canbox.ini";
      // Behind the MCU its answers already pass the MCU's faults.
      if (p.peer == ServedPort::Peer::CanBox) config.faults = boxFaults;
      box = std::make_unique<CanBoxSimulator>(config);
    }
    if (p.relayKind != 0) {
      relay = std::make_unique<CanBoxRelay>(*box);
      mcu->SetRelayPeer(relay.get());
      // The loader commands reach the box unframed through the MCU.
      mcu->SetTextRelayKind(p.relayKind);
    }
  }

  struct Served {
    int fd = -1;
    std::string slave;
    std::unique_ptr<PeerPtyServer> server;
  };
  std::vector<Served> served(plan.size());
  std::vector<PortBackup> backups;
  auto closeAll = [&served] {
    for (Served& s : served) {
      if (s.server) s.server->Stop();
      s.server.reset();
      if (s.fd >= 0) ::close(s.fd);
      s.fd = -1;
    }
  };
  for (size_t i = 0; i < plan.size(); ++i) {
    served[i].fd = PeerPtyServer::OpenPty(&served[i].slave);
    if (served[i].fd < 0) {
      *error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
      closeAll();
      return 1;
    }
    PeerPtyServer::Peer peer;
    if (plan[i].peer == ServedPort::Peer::Mcu) {
      McuSimulator* m = mcu.get();
      peer = [m](const uint8_t* b, size_t n) { return m->Feed(b, n); };
    } else {
      CanBoxSimulator* c = box.get();
      peer = [c](const uint8_t* b, size_t n) { return c->Feed(b, n); };
    }
    served[i].server = std::make_unique<PeerPtyServer>(served[i].fd, std::move(peer),
                                                       options.pace ? plan[i].baudRate : 0, timeScale);
    if (!served[i].server->Start()) {
      *error = "cannot start serving " + plan[i].port;
      closeAll();
      return 1;
    }
    PortBackup b;
    b.key = plan[i].port;
    b.slave = served[i].slave;
    IniMap ports = unit->ports();
    auto it = ports.find(b.key);
    b.had = it != ports.end();
    if (b.had) b.previous = it->second;
    backups.push_back(b);
  }
  if (!WritePortMap(options.unitDir, backups, error)) {
    closeAll();
    return 1;
  }

  int rc = 0;
  std::unique_ptr<HostPlatform> platform;
  uint32_t arbiterPid = 0;
  const bool wantArbiter = mcuOnCom4 && options.arbiter != ServeArbiter::None;
  if (wantArbiter || options.siblings) {
    HostOptions hostOptions;
    hostOptions.modulePath = "\\Windows\\unitctl.exe";
    hostOptions.commandLine = "serve";
    hostOptions.registerProcess = false;
    platform = HostPlatform::Open(options.unitDir, hostOptions, error);
    if (!platform) {
      if (error->empty()) *error = "cannot open the unit " + options.unitDir;
      rc = 1;
    }
  }
  if (rc == 0 && options.siblings) {
    std::string program = options.siblingPath.empty() ? OwnFolder() + "/sibling" : options.siblingPath;
    if (!StartSiblings(*platform, program, out, error)) rc = 1;
  }
  if (rc == 0 && wantArbiter) {
    std::string program =
        options.portmasterPath.empty() ? OwnFolder() + "/portmaster" : options.portmasterPath;
    std::string hostPath = platform->hostFiles().HostPath(CPortMaster::kModulePath);
    if (hostPath.empty() || !InstallWrapper(hostPath, program, "", "serial arbiter", error)) {
      if (error->empty()) *error = std::string("cannot place the serial arbiter at ") + CPortMaster::kModulePath;
      rc = 1;
    } else if (!platform->processes().CreateProcess(
                   CPortMaster::kModulePath, options.arbiter == ServeArbiter::Stubborn ? "stubborn" : "",
                   &arbiterPid)) {
      *error = std::string("cannot start ") + CPortMaster::kModulePath;
      rc = 1;
    } else if (!WaitForWindow(platform->windows(), CPortMaster::kClassName, CPortMaster::kWindowName) &&
               !g_stopRequested.load()) {
      // Ready means the arbiter holds the port, as on a running unit.
      *error = "the serial arbiter did not come up";
      rc = 1;
    }
  }

  if (rc == 0) {
    for (size_t i = 0; i < plan.size(); ++i) {
      std::fprintf(out, "%s\n", DescribeServedPort(plan[i], served[i].slave).c_str());
    }
    if (arbiterPid != 0) {
      std::fprintf(out, "arbiter %s (%s), pid %u\n", CPortMaster::kModulePath,
                   options.arbiter == ServeArbiter::Stubborn ? "stubborn" : "lets go on request", arbiterPid);
    }
    std::fprintf(out, "ready\n");
    std::fflush(out);
    while (!g_stopRequested.load()) std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }

  if (arbiterPid != 0 && platform) {
    for (const ProcessEntry& e : platform->processes().Snapshot()) {
      if (e.pid == arbiterPid) platform->processes().TerminateProcess(arbiterPid, 0);
    }
  }
  if (options.siblings && platform) EndSiblings(*platform);
  // The traffic of each port, for people and the transfer benchmark.
  if (rc == 0) {
    for (size_t i = 0; i < plan.size(); ++i) {
      std::fprintf(out, "%s: %llu bytes in, %llu bytes out\n", plan[i].port.c_str(),
                   static_cast<unsigned long long>(served[i].server->BytesIn()),
                   static_cast<unsigned long long>(served[i].server->BytesOut()));
    }
    std::fflush(out);
  }
  closeAll();
  std::string restoreError;
  if (!RestorePortMap(options.unitDir, backups, &restoreError)) {
    if (rc == 0) *error = restoreError;
    rc = 1;
  }
  return rc;
}

}  // namespace hu
