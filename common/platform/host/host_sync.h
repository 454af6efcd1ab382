#pragma once
#include <memory>
#include <string>

#include "common/platform/host/host_clock.h"
#include "common/platform/sync.h"

namespace hu {

// Kernel objects of a unit, shared by all its processes through files under
// UNIT/run: a named mutex is a lock file held (shared) by each live handle,
// so it exists exactly while some process has it open and a crash never
// leaves it behind; a named event is a small state file that Set writes and
// Wait polls every few milliseconds. Private events are in-process only.
class HostSync : public Sync {
 public:
  // `runDir` is UNIT/run; `clock` gives unit time to event timeouts.
  HostSync(const std::string& runDir, HostClock& clock);

  std::unique_ptr<NamedMutex> CreateMutex(const std::string& name) override;
  std::unique_ptr<Event> CreateEvent(bool manualReset, bool initialState,
                                     const std::string& name = "") override;

 private:
  std::string runDir_;
  HostClock& clock_;
};

// SetEvent on the named event `name` of the unit whose run folder is
// `runDir`, from outside any unit process (unitctl). False with a one-line
// *error when no process of the unit has that event open.
bool SignalNamedEvent(const std::string& runDir, const std::string& name, std::string* error);

// File name under run/ that stands for the kernel object `name`.
std::string KernelObjectFileName(const std::string& name);

}  // namespace hu
