// `kitpack check` against a real `sysmend auto` on the same unit: the same
// verdict lines and the same image writes.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "tests/e2e/e2e_support.h"

namespace hu::e2e {
namespace {

const char kOs[] = "3A1F0C01234567";
// The same hardware fields, OS generation 1 (bit 1 of its seventh digit).
const char kOsNextGeneration[] = "3A1F0C21234567";
const char kKitM[] = "StorageCard/UpdateKitM/";

struct CheckOutput {
  int exitCode = -1;
  std::vector<std::string> verdicts;  // as the dialog shows them
  std::set<std::string> writes;       // "kind=os path=... offset=.. length=.."
};

CheckOutput ParseCheck(const RunResult& r) {
  CheckOutput c;
  c.exitCode = r.exitCode;
  std::istringstream in(r.out);
  std::string section;
  for (std::string line; std::getline(in, line);) {
    if (line == "verdicts:" || line.rfind("plan", 0) == 0) {
      section = line.substr(0, 4);
      continue;
    }
    if (line.rfind("  ", 0) != 0) continue;
    line = line.substr(2);
    if (section == "verd") {
      size_t red = line.rfind("   [red]");
      c.verdicts.push_back(red == std::string::npos ? line : line.substr(0, red));
    } else if (line.rfind("write ", 0) == 0) {
      std::string request = line.substr(6, line.find(" version=") - 6);
      c.writes.insert("kind=" + request);
    }
  }
  return c;
}

// The UpdatePack requests the driver library received, without versions.
std::set<std::string> FlashRequests(const TestUnit& unit) {
  std::set<std::string> requests;
  std::istringstream in(unit.Exists("flash/calls.log") ? unit.Read("flash/calls.log") : "");
  for (std::string line; std::getline(in, line);) {
    size_t at = line.find("UpdatePack kind=");
    if (at == std::string::npos) continue;
    std::string request = line.substr(at + 11);
    request = request.substr(0, request.find(" version="));
    requests.insert(request.substr(0, request.find(" ->")));
  }
  return requests;
}

struct KitCase {
  const char* name;
  std::vector<std::string> files;  // in the update folder
  int checkExit;
  size_t writes;  // images the update writes
};

class KitpackCheckE2E : public ::testing::TestWithParam<KitCase> {
 protected:
  void SetUp() override {
    WriteFile(work.path() + "/app/Appvisor.exe", "application");
    WriteFile(work.path() + "/os.nb0", "OS IMAGE");
    WriteFile(work.path() + "/boot.bin", "BOOT");
    Run({"auk", work.path() + "/app.auk", work.path() + "/app", "--version", "1.1.0"});
    Run({"auk", work.path() + "/V2.0.0.auk", work.path() + "/app", "--version", "V2.0.0"});
    Run({"kvq", work.path() + "/full.kvq", "--version", std::string("12345679X-") + kOs + "8-1.1.0", "--boot",
         work.path() + "/boot.bin", "--os", work.path() + "/os.nb0", "--app", work.path() + "/app.auk"});
    // The OS and boot the unit has: refused in an automatic run.
    Run({"kvq", work.path() + "/same.kvq", "--version", std::string("12345678X-") + kOs + "-1.1.0", "--boot",
         work.path() + "/boot.bin", "--os", work.path() + "/os.nb0"});
    WriteFile(work.path() + "/" + kOsNextGeneration + ".nb0", "NEXT OS");
  }

  void Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {Bin("kitpack")};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = RunProgram(argv);
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }

  TempDir work;
  TestUnit unit{{"--os-version", kOs, "--boot-version", "12345678", "--app-version", "1.0.0"}};
};

TEST_P(KitpackCheckE2E, CheckShowsWhatSysmendAutoDoes) {
  const KitCase& kit = GetParam();
  std::vector<std::string> argv = {Bin("kitpack"), "check", "--unit", unit.dir(), "--auto"};
  for (const std::string& f : kit.files) {
    unit.Put(kKitM + f, ReadFile(work.path() + "/" + f));
    argv.push_back(unit.Fs(kKitM + f));
  }
  RunResult checked = RunProgram(argv);
  CheckOutput check = ParseCheck(checked);
  ASSERT_EQ(check.exitCode, kit.checkExit) << checked.out << checked.err;
  ASSERT_FALSE(check.verdicts.empty()) << checked.out;
  EXPECT_FALSE(unit.Exists("flash/calls.log")) << "the check wrote to the unit";

  RunResult sysmend = RunProgram({Bin("sysmend"), "--unit", unit.dir(), "auto"});
  EXPECT_EQ(sysmend.exitCode, kit.checkExit) << sysmend.err;  // both say whether anything was installed
  for (const std::string& line : check.verdicts) {
    EXPECT_NE(sysmend.out.find("\"" + line + "\""), std::string::npos) << line << "\n" << sysmend.out;
  }
  EXPECT_EQ(check.writes.size(), kit.writes) << checked.out;
  EXPECT_EQ(check.writes, FlashRequests(unit)) << checked.out;
  EXPECT_EQ(unit.Exists("reboot.flag"), checked.out.find("then: the unit reboots") != std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Kits, KitpackCheckE2E,
    ::testing::Values(KitCase{"container", {"full.kvq"}, 0, 2}, KitCase{"loose_pack", {"app.auk"}, 0, 0},
                      KitCase{"paired_os_and_application", {std::string(kOsNextGeneration) + ".nb0", "V2.0.0.auk"}, 0, 1},
                      KitCase{"refused", {"same.kvq"}, 4, 0}),
    [](const ::testing::TestParamInfo<KitCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hu::e2e
