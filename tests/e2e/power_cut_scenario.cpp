#include "tests/e2e/power_cut_scenario.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <regex>

namespace hu::e2e {
namespace {
namespace fs = std::filesystem;

const char kOs[] = "3A1F0C01234567";
const char kBoot[] = "12345678";
// Newer than the installed ones: the boot-fails kit writes both images.
const char kNewerOs[] = "3A1F0C01234568";
const char kNewerBoot[] = "12345679";
// The member whose body the unpack-fails kit damages; it comes after
// \kit\AppVerInfo.cfg, so the version check still reads the pack.
const char kDamagedMember[] = "\\kit\\Maps\\maps.dat";
// The disk-full unit's whole file system is a tmpfs with this much room over
// what the unit holds: the backups fit, the new application's large map does not.
constexpr uint64_t kSmallDiskRoom = 1536u << 10;
constexpr size_t kLargeMap = 8u << 20;
// What the updater's room check is told about \Dravik in the disk-full unit,
// so that the unpack itself meets the full disk.
const char kClaimedFree[] = "1073741824";
const char kClaimedTotal[] = "2147483648";

struct Named {
  const char* name;
  PowerCutScenario scenario;
};
const Named kNames[] = {{"success", PowerCutScenario::Success},
                        {"unpack-fails", PowerCutScenario::UnpackFails},
                        {"disk-full", PowerCutScenario::DiskFull},
                        {"boot-fails", PowerCutScenario::BootFails}};

std::string MountTmpfs(const std::string& dir, uint64_t size) {
  const std::string options = "size=" + std::to_string((size + 4095) / 4096 * 4096);
  if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
    return std::string("cannot mount a tmpfs (") + std::strerror(errno) + ")";
  }
  return "";
}

void PutLe32(std::string* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}
uint32_t Le32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(bytes[at + i]);
  return v;
}

}  // namespace

const char* ScenarioName(PowerCutScenario scenario) {
  for (const Named& n : kNames) {
    if (n.scenario == scenario) return n.name;
  }
  return "?";
}

bool ParseScenario(const std::string& name, PowerCutScenario* out) {
  for (const Named& n : kNames) {
    if (name == n.name) {
      *out = n.scenario;
      return true;
    }
  }
  return false;
}

ScenarioUnit::~ScenarioUnit() {
  if (!mountPoint_.empty()) ::umount2(mountPoint_.c_str(), MNT_DETACH);
}

PowerCutKit::PowerCutKit(PowerCutScenario scenario, bool loosePack) : scenario_(scenario), loosePack_(loosePack) {}

bool PowerCutKit::BuildApp(std::string* error) {
  WriteFile(app_.path() + "/Appvisor.exe", "application 1.1.0");
  WriteFile(app_.path() + "/Skin/a.skn", "new skin");
  WriteFile(app_.path() + "/Maps/maps.dat", ImageBytes(70000, 3));
  WriteFile(app_.path() + "/Maps/index.dat", ImageBytes(3000, 4));
  // Compresses to a few kilobytes on the card, unpacks past the small disk.
  if (scenario_ == PowerCutScenario::DiskFull) WriteFile(app_.path() + "/Maps/large.dat", std::string(kLargeMap, 'm'));
  const std::string pack = work_.path() + "/app.auk";
  RunResult r = RunProgram({Bin("kitpack"), "auk", pack, app_.path(), "--version", "1.1.0"});
  if (r.exitCode != 0) {
    *error = "cannot build the pack: " + r.err;
    return false;
  }
  return ExtractedTree(pack, &packedApp_, error) &&
         (scenario_ != PowerCutScenario::UnpackFails || DamagePack(pack, error));
}

// The member's body loses its gzip magic, which the updater refuses (damaged
// deflate data it would take as the end of the member); the index and the
// version member stay intact, so the kit passes its checks.
bool PowerCutKit::DamagePack(const std::string& pack, std::string* error) const {
  RunResult list = RunProgram({Bin("kitpack"), "list", pack});
  std::smatch m;
  const std::regex member(std::regex_replace(kDamagedMember, std::regex(R"(\\)"), R"(\\)") +
                          R"(\s+\d+ bytes \((\d+) stored at (\d+)\))");
  if (!std::regex_search(list.out, m, member)) {
    *error = "no " + std::string(kDamagedMember) + " in the pack: " + list.out + list.err;
    return false;
  }
  const size_t stored = std::stoul(m[1]), at = std::stoul(m[2]);
  std::string bytes = ReadFile(pack);
  if (stored < 2 || at + stored > bytes.size()) {
    *error = "the member to damage lies outside the pack";
    return false;
  }
  bytes[at] = bytes[at + 1] = 0;
  WriteFile(pack, bytes);
  Tree unpacked;
  std::string ignored;
  if (ExtractedTree(pack, &unpacked, &ignored)) {
    *error = "the damaged pack still unpacks";
    return false;
  }
  return true;
}

// The boot section is made to reach past the end of the container: the
// driver library refuses it after the OS image before it was written.
bool PowerCutKit::DamageBootSection(const std::string& container, std::string* error) const {
  std::string bytes = ReadFile(container);
  const size_t bootOffset = 264, bootLength = 268;
  if (bytes.size() < 440 || Le32(bytes, bootLength) == 0) {
    *error = "the container has no boot section";
    return false;
  }
  PutLe32(&bytes, bootLength, static_cast<uint32_t>(bytes.size() - Le32(bytes, bootOffset) + 1));
  WriteFile(container, bytes);
  return true;
}

bool PowerCutKit::Build(std::string* error, std::string* skip) {
  if (scenario_ == PowerCutScenario::DiskFull) {
    TempDir probe;
    std::string refused = MountTmpfs(probe.path(), kSmallDiskRoom);
    if (!refused.empty()) {
      *skip = refused + ": the disk-full scenario needs a small tmpfs as the unit's disk";
      return false;
    }
    ::umount2(probe.path().c_str(), MNT_DETACH);
  }
  if (scenario_ == PowerCutScenario::BootFails && loosePack_) {
    *error = "the boot-fails scenario needs a container";
    return false;
  }
  if (!BuildApp(error)) return false;
  const std::string pack = work_.path() + "/app.auk";
  if (loosePack_) {
    fs::copy_file(pack, kit_.path() + "/app.auk");
    return true;
  }
  const bool images = scenario_ == PowerCutScenario::BootFails;
  const std::string version = std::string(images ? kNewerBoot : kBoot) + "X-" + (images ? kNewerOs : kOs) + "-1.1.0";
  WriteFile(work_.path() + "/os.nb0", images ? ImageBytes(20000, 6) : "OS");
  WriteFile(work_.path() + "/boot.bin", images ? ImageBytes(8000, 7) : "BOOT");
  const std::string container = kit_.path() + "/full.kvq";
  RunResult kit = RunProgram({Bin("kitpack"), "kvq", container, "--version", version, "--boot",
                              work_.path() + "/boot.bin", "--os", work_.path() + "/os.nb0", "--app", pack});
  if (kit.exitCode != 0) {
    *error = "cannot build the kit: " + kit.err;
    return false;
  }
  return !images || DamageBootSection(container, error);
}

std::unique_ptr<ScenarioUnit> PowerCutKit::NewUnit(std::string* error) const {
  auto made = std::make_unique<ScenarioUnit>();
  made->unit_ = std::make_unique<TestUnit>(std::vector<std::string>{
      "--os-version", kOs, "--boot-version", kBoot, "--conf-version", "00A100000001", "--app-version", "1.0.0"});
  const TestUnit& unit = *made->unit_;
  unit.Put("Dravik/$KVR$/App/Appvisor.exe", "application 1.0.0");
  unit.Put("Dravik/$KVR$/App/Skin/a.skn", "old skin");
  unit.Put("Dravik/$KVR$/App/Skin/b.skn", "old second skin");
  unit.Put("NandFlash/$KVR$/AppConfig/DeviceConfig.cfg", "settings");
  unit.Put("NandFlash/$KVR$/Radio/stations.dat", "87.5 90.1 104.3");
  unit.Put("NandFlash/Music/song.mp3", ImageBytes(40000, 5));
  unit.Put("NandFlash/Music/Live/other.mp3", "another song");
  unit.Put("NandFlash/notes.txt", "notes");
  // An earlier update succeeded and the head unit staged the kit: backups are made.
  unit.Put("Dravik/$KVR$/KitUpdated.flg", std::string("app Update Flag!", 17));
  unit.Put("StorageCard/Sysmend/UpdatePathInfo.ini", "[Ver]\r\nVersion=1.0\r\n[Q7UpdatePacks]\r\n");
  fs::create_directories(unit.Fs("StorageCard/UpdateKitM"));
  fs::copy(kit_.path(), unit.Fs("StorageCard/UpdateKitM"), fs::copy_options::recursive);
  if (scenario_ != PowerCutScenario::DiskFull) return made;

  // The whole file system moves onto the small disk.
  const std::string fsDir = unit.dir() + "/fs", aside = unit.dir() + "/fs.disk";
  fs::rename(fsDir, aside);
  fs::create_directory(fsDir);
  uint64_t held = 0;
  for (const auto& e : fs::recursive_directory_iterator(aside)) {
    held += 4096 + (e.is_regular_file() ? (e.file_size() + 4095) / 4096 * 4096 : 0);
  }
  *error = MountTmpfs(fsDir, held + kSmallDiskRoom);
  if (!error->empty()) return nullptr;
  made->mountPoint_ = fsDir;
  for (const auto& e : fs::recursive_directory_iterator(aside)) {
    const std::string to = fsDir + "/" + e.path().lexically_relative(aside).string();
    if (e.is_directory()) {
      fs::create_directories(to);
    } else if (e.is_regular_file()) {
      WriteFile(to, ReadFile(e.path().string()));
      fs::permissions(to, e.status().permissions());
    }
  }
  fs::remove_all(aside);
  unit.SetIni("disk", "dravik.free_bytes", kClaimedFree);
  unit.SetIni("disk", "dravik.total_bytes", kClaimedTotal);
  return made;
}

}  // namespace hu::e2e
