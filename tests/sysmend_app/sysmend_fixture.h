#pragma once
// A simulated unit for the updater's logic: in-memory files and registry, a
// manual clock, a console device and a driver library whose entries record
// their calls.
#include <map>
#include <string>
#include <vector>

#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/fake_platform.h"
#include "sysmend/app/halbridge_abi.h"
#include "tests/packages/kit_builder.h"

namespace hu {

// What the fake driver library was asked and what it reports.
struct FakeHalbridge {
  static std::map<uint32_t, std::string> versions;  // GetSysVerInfo kind -> text
  static std::vector<std::string> calls;            // "UpdatePack 5 \path 0 10"
  static bool updatePackResult;
  static void Reset();
  // The library's entries, without those named in `without`.
  static FakeLibrary::Exports Exports(const std::vector<std::string>& without = {});
};

class SysmendFixture {
 public:
  explicit SysmendFixture(const std::string& commandLine = "");

  // Installs the library at "\Windows\Halbridge.dll".
  void InstallHalbridge(const std::vector<std::string>& without = {});
  void SetInstalled(const std::string& os, const std::string& boot, const std::string& conf, const std::string& app);
  void PutKitFile(const std::string& name, const std::string& bytes);
  // A full pack whose application version is `appVersion`, with members under "\kit\".
  static std::string AppPack(const std::string& appVersion,
                             const std::vector<std::pair<std::string, std::string>>& files = {{"app.exe", "MZ"}},
                             bool incremental = false);
  static std::string AppVerInfo(const std::string& version);

  CaptureTrace trace;
  FakePlatform platform;
  ManualClock& clock = platform.manualClock;
  MemFiles& files = platform.memFiles;
  MemRegistry& registry = platform.memRegistry;
  FakeSync& sync = platform.fakeSync;
  FakeLibrary& library = platform.fakeLibrary;
  FakeDevices& devices = platform.fakeDevices;
  FakeProcesses& processes = platform.fakeProcesses;
  PassthroughCodePage& codePage = platform.passthrough;
  std::string kitFolder = "\\StorageCard\\UpdateKitM";
};

}  // namespace hu
