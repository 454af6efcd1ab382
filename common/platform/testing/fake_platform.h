#pragma once
#include <string>

#include "common/platform/platform.h"
#include "common/platform/testing/fake_devices.h"
#include "common/platform/testing/fake_library.h"
#include "common/platform/testing/fake_processes.h"
#include "common/platform/testing/fake_sync.h"
#include "common/platform/testing/manual_clock.h"
#include "common/platform/testing/mem_files.h"
#include "common/platform/testing/mem_registry.h"
#include "common/platform/testing/passthrough_code_page.h"

namespace hu {

// A whole simulated unit in memory for one program, on a manual clock.
// Windows and serial ports are the test's to give (null until set).
class FakePlatform : public Platform {
 public:
  explicit FakePlatform(const std::string& modulePath = "\\StorageCard\\Program.exe",
                        const std::string& commandLine = "")
      : fakeProcesses(modulePath, commandLine) {}

  Files& files() override { return memFiles; }
  Registry& registry() override { return memRegistry; }
  Clock& clock() override { return manualClock; }
  Sync& sync() override { return fakeSync; }
  Processes& processes() override { return fakeProcesses; }
  CodePage& codePage() override { return passthrough; }
  Windows* windows() override { return windowsService; }
  Serial* serial() override { return serialService; }
  Library* library() override { return &fakeLibrary; }
  Devices* devices() override { return &fakeDevices; }

  MemFiles memFiles;
  MemRegistry memRegistry;
  ManualClock manualClock;
  FakeSync fakeSync{manualClock};
  FakeProcesses fakeProcesses;
  PassthroughCodePage passthrough;
  FakeLibrary fakeLibrary;
  FakeDevices fakeDevices;
  Windows* windowsService = nullptr;
  Serial* serialService = nullptr;
};

}  // namespace hu
