// Every file of a valid demo kit, cut short at evenly spread lengths and with
// single bytes flipped, put through `sysmend auto` on a fresh copy of one unit
// (over its boots). No run may crash or hang, leave the application other
// than whole (byte for byte the old one or one the kit installs) or the
// user's files changed, write an image out of a container whose header fails
// its checks (or an image other than its section), or create, change or
// remove a file outside what an update writes.
//   bad_kit_campaign [--per-file N] [--seed S] [--bin DIR] [--only FILE]
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <sstream>

#include "common/platform/host/host_registry.h"
#include "common/platform/text.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/update_outcome.h"
#include "tests/reliability/campaign.h"
#include "tools/unitctl/regedit_text.h"

namespace hu::reliability {
namespace {
namespace fs = std::filesystem;
using e2e::Bin;
using e2e::ReadFile;
using e2e::WriteFile;

const char kOs[] = "3A1F0C01234567";
const char kKitM[] = "StorageCard/UpdateKitM/";
const char kContainer[] = "StorageCard/UpdateKitM/full.kvq";
const char* const kKitFiles[] = {kContainer, "StorageCard/UpdateKitM/extra.auk",
                                 "StorageCard/Sysmend/UpdatePathInfo.ini"};
const char* const kOutcomes[] = {"crashed", "hung", "application not whole", "wrong writes"};

// What an update may write, by lower-case path in the unit folder: the
// application folder and its old copy, the flags beside it, the update's own
// NandFlash settings, the partition backups, the failure flag and pack list
// beside the updater, the kit (its packs are deleted), the simulated flash
// (judged on its own), the unit's trace, reboot record and kernel objects.
const char* const kWritable[] = {
    "fs/dravik/$kvr$/app/", "fs/dravik/$kvr$/app_old/", "fs/dravik/$kvr$/kitupdated.flg",
    "fs/dravik/$kvr$/screencheckflag.dat", "fs/nandflash/$kvr$/", "fs/storagecard/sysmend/dravik_bk/",
    "fs/storagecard/sysmend/nandflash_bk/", "fs/storagecard/sysmend/appupdatefailed.dat",
    "fs/storagecard/sysmend/updatepathinfo.ini", "fs/storagecard/updatekitm/", "flash/", "trace.log",
    "reboot.flag", "run/", "registry.db", "unit.ini"};

// Section kinds by their image name, with the header offset of their record's offset/length pair.
struct Section {
  const char* image;
  size_t pair;
  char16_t letter;
  size_t letterAt;
  char16_t second = 0;  // the logos' digit at letterAt + 2
};
const Section kSections[] = {{"boot", 264, u'B', 48},         {"os", 292, u'O', 50},
                             {"logo1", 348, u'L', 54, u'1'}, {"logo2", 376, u'L', 58, u'2'},
                             {"conf", 404, u'C', 66},        {"logo3", 432, u'L', 62, u'3'}};

uint32_t Le32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}
char16_t Le16(const std::string& b, size_t at) {
  return static_cast<char16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

// The container checks, written apart from the updater's: 440 header bytes,
// the magic with its terminating unit, and the pack tag of a present
// application section inside the file.
bool ContainerHeaderPasses(const std::string& b) {
  const std::u16string magic = u"kvr version1.0";
  if (b.size() < 440) return false;
  for (size_t i = 0; i <= magic.size(); ++i) {
    if (Le16(b, 2 * i) != (i < magic.size() ? magic[i] : 0)) return false;
  }
  const uint64_t app = Le32(b, 320);
  return Le32(b, 324) == 0 || (app + 34 <= b.size() && b.compare(app + 20, 14, "version:kvr1.0") == 0);
}

// Which images the flash may hold after a run with `container` on the card:
// none when its header fails; else each present section's bytes.
std::string JudgeImages(const std::string& unitDir, const std::string& container) {
  const bool passes = ContainerHeaderPasses(container);
  std::string wrong;
  for (const Section& s : kSections) {
    const std::string path = unitDir + "/flash/" + s.image + ".img";
    if (!fs::exists(path)) continue;
    if (!passes) {
      wrong += std::string(" ") + s.image + ".img written from a container whose header fails;";
      continue;
    }
    const uint64_t at = Le32(container, s.pair), length = Le32(container, s.pair + 4);
    const bool present = length != 0 && Le16(container, s.letterAt) == s.letter &&
                         (s.second == 0 || Le16(container, s.letterAt + 2) == s.second);
    if (!present || at + length > container.size() || ReadFile(path) != container.substr(at, length)) {
      wrong += std::string(" ") + s.image + ".img is not the container's section;";
    }
  }
  return wrong;
}

// The unit's files by lower-case path (the device's file system ignores
// case), the registry as text and unit.ini without the installed versions.
using Snapshot = std::map<std::string, std::string>;

Snapshot Snap(const std::string& unitDir) {
  Snapshot snap;
  for (const auto& e : fs::recursive_directory_iterator(unitDir)) {
    const std::string rel = AsciiLower(fs::relative(e.path(), unitDir).string());
    if (e.is_regular_file() && rel.rfind("registry.db", 0) != 0) snap[rel] = ReadFile(e.path().string());
  }
  std::string error;
  auto registry = HostRegistry::Open(unitDir + "/registry.db", false, &error);
  snap["<registry>"] = registry ? ExportRegedit(*registry) : error;
  std::string ini, line, section;
  std::istringstream in(ReadFile(unitDir + "/unit.ini"));
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') section = line;
    if (section != "[versions]") ini += line + "\n";
  }
  snap["<unit.ini>"] = ini;
  return snap;
}

bool Writable(const std::string& rel) {
  for (const char* w : kWritable) {
    if (rel.rfind(w, 0) == 0) return true;
  }
  return false;
}

std::string JudgeWrites(const Snapshot& before, const Snapshot& after) {
  std::string wrong;
  for (const auto& [path, bytes] : after) {
    auto old = before.find(path);
    if (old == before.end() && !Writable(path)) wrong += " created " + path + ";";
    if (old != before.end() && old->second != bytes && !Writable(path)) wrong += " changed " + path + ";";
  }
  for (const auto& [path, bytes] : before) {
    if (!after.count(path) && !Writable(path)) wrong += " removed " + path + ";";
  }
  return wrong;
}

// The demo unit of scripts/demo: an installed application with its settings
// and the user's files, a staged-kit success flag, and the kit on the card.
class DemoKit {
 public:
  explicit DemoKit(uint32_t seed)
      : unit_({"--cpu", "S5P6450", "--project", "18", "--os-version", kOs, "--boot-version", "12345678",
               "--conf-version", "00A100000001", "--app-version", "1.0.0"},
              0.01) {
    std::mt19937 random(seed);
    unit_.Put("Dravik/$KVR$/App/Appvisor.exe", "application 1.0.0\n");
    unit_.Put("Dravik/$KVR$/App/Skin/default.skn", "old skin\n");
    unit_.Put("Dravik/Notes/readme.txt", "not the application's\n");
    unit_.Put("NandFlash/$KVR$/AppConfig/DeviceConfig.cfg", "volume=12\n");
    unit_.Put("NandFlash/Music/song.mp3", RandomBytes(random, 20000));
    unit_.Put("Dravik/$KVR$/KitUpdated.flg", std::string("app Update Flag!", 17));
    unit_.Put("StorageCard/Sysmend/UpdatePathInfo.ini",
              "[Ver]\r\nVersion=1.0\r\n[Q7UpdatePacks]\r\nPack1=\\StorageCard\\UpdateKitM\\extra.auk\r\n");
    const std::string w = work_.path();
    WriteFile(w + "/app/Appvisor.exe", "application 1.1.0\n");
    WriteFile(w + "/app/Skin/default.skn", "new skin\n");
    WriteFile(w + "/app/Maps.dat", RandomBytes(random, 30000));
    WriteFile(w + "/extra/Tool.exe", "extra tool\n");
    const std::pair<const char*, size_t> images[] = {{"os.nb0", 65536}, {"boot.bin", 16384}, {"conf.kvr", 1024},
                                                     {"logo1.bmp", 4096}, {"logo2.bmp", 4096}, {"logo3.bmp", 4096}};
    for (const auto& [name, size] : images) WriteFile(w + "/" + name, RandomBytes(random, size));
    fs::create_directories(unit_.Fs(kKitM));
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"auk", w + "/app.auk", w + "/app", "--version", "1.1.0"},
             {"auk", unit_.Fs(kKitM) + "extra.auk", w + "/extra", "--version", "1.1.0"},
             {"kvq", unit_.Fs(kContainer), "--version", std::string("12345679X-3A1F0C01234568-1.1.0"), "--boot",
              w + "/boot.bin", "--os", w + "/os.nb0", "--app", w + "/app.auk", "--logo1", w + "/logo1.bmp", "--logo2",
              w + "/logo2.bmp", "--logo3", w + "/logo3.bmp", "--conf", w + "/conf.kvr"}}) {
      std::vector<std::string> argv = {Bin("kitpack")};
      argv.insert(argv.end(), args.begin(), args.end());
      const e2e::RunResult r = e2e::RunProgram(argv);
      if (r.exitCode != 0) error_ += "kitpack " + args[0] + ": " + r.err;
    }
    // The applications the kit may install: the container's, or the loose
    // pack's over the old one (its update brings back the files it lacks).
    e2e::Tree loose;
    if (e2e::ExtractedTree(w + "/app.auk", &containerApp_, &error_) &&
        e2e::ExtractedTree(unit_.Fs(kKitM) + "extra.auk", &loose, &error_)) {
      const e2e::Tree old = e2e::UpdateFilesOf(unit_.dir()).app;
      loose.insert(old.begin(), old.end());
      looseApp_ = loose;
    }
  }

  const std::string& error() const { return error_; }
  std::string File(const std::string& rel) const { return ReadFile(unit_.Fs(rel)); }

  // One run on a fresh copy of the unit with `rel` replaced by `bytes`: what
  // went wrong, empty when nothing did; `outcome` gets its tally name.
  std::string Run(const std::string& rel, const std::string& bytes, std::string* outcome, std::string* log) const {
    e2e::TempDir run;
    const std::string dir = run.path() + "/unit";
    CopyTree(unit_.dir(), dir);
    WriteFile(dir + "/fs/" + rel, bytes);
    const std::string container = ReadFile(dir + "/fs/" + kContainer);
    const Snapshot before = Snap(dir);
    const e2e::UpdateFiles filesBefore = e2e::UpdateFilesOf(dir);
    const e2e::RunResult r = e2e::RunProgram(
        {Bin("unitctl"), "boot", dir, "--max-boots", "4", "--", Bin("sysmend"), "auto"}, "", 120000);
    *log = r.out;
    const std::string sanitizer = SanitizerReport(r.err);
    if (r.timedOut || r.err.find("rebooted again after") != std::string::npos) {
      *outcome = "hung";
      return r.timedOut ? "still running after 120 s" : "reboots without end: " + r.out;
    }
    if (!sanitizer.empty() || !e2e::BootFault(r).empty() || r.out.find("crashed") != std::string::npos) {
      *outcome = "crashed";
      return sanitizer.empty() ? r.out + r.err : sanitizer;
    }
    *outcome = "application not whole";
    const std::string lost = e2e::ApplicationFault(filesBefore, {containerApp_, looseApp_}, e2e::UpdateFilesOf(dir));
    if (!lost.empty()) return " " + lost + ";";
    *outcome = "wrong writes";
    return JudgeImages(dir, container) + JudgeWrites(before, Snap(dir));
  }

 private:
  e2e::TestUnit unit_;
  e2e::TempDir work_;
  std::string error_;
  e2e::Tree containerApp_, looseApp_;
};

std::string Name(const std::string& rel) { return rel.substr(rel.rfind('/') + 1); }

int Run(int argc, char** argv) {
  int perFile = 64;
  uint32_t seed = 1;
  std::string bin = e2e::BinDir(), only;
  bool verbose = false;
  CLI::App app{"Bad-kit campaign: damaged copies of every file of a demo kit through sysmend"};
  app.add_option("--per-file", perFile, "Truncated and flipped copies of each file, each (default 64)")
      ->check(CLI::Range(1, 100000));
  app.add_option("--seed", seed, "Seed of the kit's contents and the flipped bytes (default 1)");
  app.add_option("--only", only, "Only this kit file (full.kvq, extra.auk, UpdatePathInfo.ini)");
  app.add_option("--bin", bin, "Folder of the built executables");
  app.add_flag("-v,--verbose", verbose, "A line per run");
  CLI11_PARSE(app, argc, argv);
  UseBinFolder(bin);

  const DemoKit kit(seed);
  if (!kit.error().empty()) {
    std::cerr << "bad_kit_campaign: " << kit.error() << "\n";
    return 2;
  }
  // The intact kit must update everything, or the checks above would judge nothing.
  std::string outcome, log;
  const std::string intact = kit.Run(kContainer, kit.File(kContainer), &outcome, &log);
  if (!intact.empty() || log.find("App updated OK") == std::string::npos) {
    std::cerr << "bad_kit_campaign: the intact kit does not update the unit: " << intact << "\n" << log << "\n";
    return 2;
  }
  Tally tally({std::begin(kOutcomes), std::end(kOutcomes)});
  std::mt19937 random(seed);
  for (const char* rel : kKitFiles) {
    if (!only.empty() && only != Name(rel)) continue;
    const std::string good = kit.File(rel);
    for (int i = 0; i < 2 * perFile; ++i) {
      std::string bad = good, damage;
      if (i < perFile) {
        bad.resize(good.size() * static_cast<size_t>(i) / static_cast<size_t>(perFile));
        damage = "cut to " + std::to_string(bad.size()) + " of " + std::to_string(good.size()) + " bytes";
      } else {
        const size_t at = random() % good.size();
        const uint8_t mask = static_cast<uint8_t>(1 + random() % 255);
        bad[at] = static_cast<char>(bad[at] ^ mask);
        char text[64];
        std::snprintf(text, sizeof text, "byte %zu flipped with 0x%02x", at, mask);
        damage = text;
      }
      const std::string wrong = kit.Run(rel, bad, &outcome, &log);
      if (wrong.empty()) {
        tally.Pass();
      } else {
        tally.Fail(outcome, Name(rel) + " " + damage + ":" + wrong);
      }
      if (verbose) std::cout << Name(rel) << " " << damage << ": " << (wrong.empty() ? "ok" : outcome) << std::endl;
    }
  }
  std::cout << tally.Line("bad kits") << "\n";
  for (const std::string& f : tally.failures()) std::cout << "  " << f << "\n";
  return tally.failures().empty() ? 0 : 1;
}

}  // namespace
}  // namespace hu::reliability

int main(int argc, char** argv) { return hu::reliability::Run(argc, argv); }
