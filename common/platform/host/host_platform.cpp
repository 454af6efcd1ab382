#include "common/platform/host/host_platform.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "common/platform/host/serial/unit_io_config.h"

namespace hu {

std::unique_ptr<HostPlatform> HostPlatform::Open(const std::string& unitDir, const HostOptions& opts,
                                                 std::string* error) {
  auto p = std::make_unique<HostPlatform>(Key{});
  p->unit_ = Unit::Load(unitDir, error);
  if (!p->unit_) return nullptr;
  const Unit& unit = *p->unit_;
  struct stat st {};
  if (::stat(unit.fs().c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (error) *error = "unit has no file system folder: " + unit.fs();
    return nullptr;
  }
  if (::mkdir(unit.runDir().c_str(), 0755) != 0 && errno != EEXIST) {
    if (error) *error = "cannot create " + unit.runDir() + ": " + std::strerror(errno);
    return nullptr;
  }
  p->registry_ = HostRegistry::Open(unit.registryDb(), false, error);
  if (!p->registry_) return nullptr;
  p->trace_ = std::make_unique<FileTraceSink>(unit.traceLog(), opts.traceToStderr);
  if (!p->trace_->ok()) {
    if (error) *error = "cannot write trace log " + unit.traceLog() + ": " + std::strerror(errno);
    return nullptr;
  }
  HostFilesOptions fileOptions;
  fileOptions.disk = unit.diskOverrides();
  p->powerCut_ = PowerCut::FromEnvironment(unit.dir());
  fileOptions.powerCut = p->powerCut_.get();
  p->files_ = std::make_unique<HostFiles>(unit.fs(), fileOptions);
  p->clock_ = std::make_unique<HostClock>(unit.timeScale());
  p->sync_ = std::make_unique<HostSync>(unit.runDir(), *p->clock_);
  HostFiles* files = p->files_.get();
  HostProcessesConfig processConfig;
  processConfig.unitDir = unit.dir();
  processConfig.modulePath = opts.modulePath;
  processConfig.commandLine = opts.commandLine;
  processConfig.hostPath = [files](const std::string& devicePath) { return files->HostPath(devicePath); };
  processConfig.registerSelf = opts.registerProcess;
  p->processes_ = std::make_unique<HostProcesses>(std::move(processConfig));
  p->windows_ = std::make_unique<HostWindows>(unit.runDir(), *p->clock_, p->processes_->CurrentProcessId());
  p->codePage_ = std::make_unique<IconvCodePage>(unit.codePage());
  p->serial_ = std::make_unique<HostSerial>(UnitPortMap(unit));
  p->library_ = std::make_unique<HostLibrary>(
      [files](const std::string& devicePath) { return files->HostPath(devicePath); }, unit.dir());
  p->devices_ = std::make_unique<HostDevices>(unit.dir(), UnitDevicesConfig(unit));
  p->previousSink_ = GetTraceSink();
  SetTraceSink(p->trace_.get());
  return p;
}

HostPlatform::~HostPlatform() {
  if (trace_ && GetTraceSink() == trace_.get()) SetTraceSink(previousSink_);
}

}  // namespace hu
