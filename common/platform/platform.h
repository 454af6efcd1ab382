#pragma once
#include "clock.h"
#include "devices.h"
#include "errors.h"
#include "files.h"
#include "library.h"
#include "processes.h"
#include "registry.h"
#include "serial.h"
#include "sync.h"
#include "text.h"
#include "trace.h"
#include "windows.h"

namespace hu {

// The services bundle a process gets at start. Services a platform does not
// offer yet are null; components take the references they need.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual Files& files() = 0;
  virtual Registry& registry() = 0;
  virtual Clock& clock() = 0;
  virtual Sync& sync() = 0;
  virtual Processes& processes() = 0;
  virtual CodePage& codePage() = 0;
  virtual Windows* windows() { return nullptr; }
  virtual Serial* serial() { return nullptr; }
  virtual Library* library() { return nullptr; }
  virtual Devices* devices() { return nullptr; }
};

}  // namespace hu
