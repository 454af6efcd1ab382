#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "common/platform/clock.h"
#include "common/platform/sync.h"

namespace hu {

// Named mutexes and events of one simulated unit in memory. Waits run on the
// given clock, so with a manual clock a time-out passes at once. A test
// signals a named event "from another program" with SignalNamed, also before
// the waiter creates it.
class FakeSync : public Sync {
 public:
  explicit FakeSync(Clock& clock) : clock_(clock) {}

  std::unique_ptr<NamedMutex> CreateMutex(const std::string& name) override;
  std::unique_ptr<Event> CreateEvent(bool manualReset, bool initialState, const std::string& name) override;

  void SignalNamed(const std::string& name);
  // Names held by live mutex handles.
  bool IsHeld(const std::string& name) const;

 private:
  friend class FakeNamedMutex;
  friend class FakeEvent;
  struct EventState {
    bool signalled = false;
    bool manualReset = false;
  };
  std::shared_ptr<EventState> Named(const std::string& name, bool manualReset);

  Clock& clock_;
  mutable std::mutex mutex_;
  std::map<std::string, int> held_;
  std::map<std::string, std::shared_ptr<EventState>> events_;
};

}  // namespace hu
