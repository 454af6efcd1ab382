#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace hu {

// A named mutex of the unit; held until the handle is destroyed or the
// process ends (a crashed instance never blocks the next start).
class NamedMutex {
 public:
  virtual ~NamedMutex() = default;
  // True when another live process of the unit already held the name when
  // this handle was created (CreateMutex's ERROR_ALREADY_EXISTS).
  virtual bool AlreadyExisted() const = 0;
};

enum : uint32_t { WAIT_OBJECT_0 = 0, WAIT_TIMEOUT = 258, WAIT_FAILED = 0xFFFFFFFFu, INFINITE = 0xFFFFFFFFu };

// An event; a named one is shared by every process of the unit.
class Event {
 public:
  virtual ~Event() = default;
  virtual void Set() = 0;
  virtual void Reset() = 0;
  // WAIT_OBJECT_0 or WAIT_TIMEOUT; the timeout is in unit time.
  virtual uint32_t Wait(uint32_t timeoutMs) = 0;
};

class Sync {
 public:
  virtual ~Sync() = default;
  // Null only when the name cannot be created at all.
  virtual std::unique_ptr<NamedMutex> CreateMutex(const std::string& name) = 0;
  // Empty name: a private event of this process.
  virtual std::unique_ptr<Event> CreateEvent(bool manualReset, bool initialState,
                                             const std::string& name = "") = 0;
};

}  // namespace hu
