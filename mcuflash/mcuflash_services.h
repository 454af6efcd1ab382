#pragma once
#include <string>

#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "common/platform/processes.h"
#include "common/platform/registry.h"
#include "common/platform/serial.h"
#include "common/platform/sync.h"
#include "common/platform/windows.h"

namespace hu {

// The platform services the MCU updater uses, handed to its parts by the
// application. `serial` is null on a unit without serial ports.
struct McuflashServices {
  Files& files;
  Registry& registry;
  Clock& clock;
  Sync& sync;
  Processes& processes;
  Serial* serial;
  Windows& windows;
  // The program's own device path ("\StorageCard\Mcuflash\Mcuflash.exe"): the
  // image and key files lie beside it.
  std::string modulePath;
};

// Registered window messages of the updater.
extern const char* const kUpdateNotifyMsgName;  // to the main dialog
extern const char* const kKeyNotifyMsgName;     // to the key dialog
extern const char* const kMcuComOpMsgName;      // to the serial arbiter

}  // namespace hu
