#pragma once
#include <memory>
#include <string>

#include "common/platform/host/file_trace_sink.h"
#include "common/platform/host/host_clock.h"
#include "common/platform/host/host_files.h"
#include "common/platform/host/host_processes.h"
#include "common/platform/host/host_registry.h"
#include "common/platform/host/host_sync.h"
#include "common/platform/host/host_windows.h"
#include "common/platform/host/iconv_code_page.h"
#include "common/platform/host/power_cut.h"
#include "common/platform/host/serial/host_devices.h"
#include "common/platform/host/serial/host_library.h"
#include "common/platform/host/serial/host_serial.h"
#include "common/platform/host/unit.h"
#include "common/platform/platform.h"

namespace hu {

struct HostOptions {
  std::string modulePath;   // device path of the running program
  std::string commandLine;  // its device command line ("auto")
  bool traceToStderr = false;
  // Enter the program in the unit's process table while the platform lives.
  bool registerProcess = true;
};

// The services of one unit for the process that runs on it. While it lives
// its FileTraceSink is the process's trace sink.
class HostPlatform : public Platform {
  struct Key {
    explicit Key() = default;
  };

 public:
  // Null with a one-line *error naming the path when the unit folder,
  // unit.ini or the registry cannot be read.
  static std::unique_ptr<HostPlatform> Open(const std::string& unitDir, const HostOptions& opts,
                                            std::string* error);
  explicit HostPlatform(Key) {}
  ~HostPlatform() override;
  HostPlatform(const HostPlatform&) = delete;
  HostPlatform& operator=(const HostPlatform&) = delete;

  Files& files() override { return *files_; }
  Registry& registry() override { return *registry_; }
  Clock& clock() override { return *clock_; }
  Sync& sync() override { return *sync_; }
  Processes& processes() override { return *processes_; }
  CodePage& codePage() override { return *codePage_; }
  Windows* windows() override { return windowsOverride_ != nullptr ? windowsOverride_ : windows_.get(); }
  Serial* serial() override { return serial_.get(); }
  Library* library() override { return library_.get(); }
  Devices* devices() override { return devices_.get(); }

  // Puts other windows in place of the unit's (null: the unit's again).
  void SetWindows(Windows* windows) { windowsOverride_ = windows; }

  Unit& unit() { return *unit_; }
  HostFiles& hostFiles() { return *files_; }
  HostClock& hostClock() { return *clock_; }
  HostProcesses& hostProcesses() { return *processes_; }
  HostWindows& hostWindows() { return *windows_; }

 private:
  std::unique_ptr<Unit> unit_;
  std::unique_ptr<PowerCut> powerCut_;  // before files_, which uses it
  std::unique_ptr<HostFiles> files_;
  std::unique_ptr<HostRegistry> registry_;
  std::unique_ptr<HostClock> clock_;
  std::unique_ptr<HostSync> sync_;
  std::unique_ptr<HostProcesses> processes_;
  std::unique_ptr<IconvCodePage> codePage_;
  std::unique_ptr<HostSerial> serial_;
  std::unique_ptr<HostLibrary> library_;
  std::unique_ptr<HostDevices> devices_;
  // After the processes: windows go before the program leaves the table.
  std::unique_ptr<HostWindows> windows_;
  Windows* windowsOverride_ = nullptr;
  std::unique_ptr<FileTraceSink> trace_;
  TraceSink* previousSink_ = nullptr;
};

}  // namespace hu
