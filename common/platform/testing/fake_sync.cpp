#include "common/platform/testing/fake_sync.h"

#include "common/platform/text.h"

namespace hu {

class FakeNamedMutex : public NamedMutex {
 public:
  FakeNamedMutex(FakeSync& owner, std::string name, bool existed)
      : owner_(owner), name_(std::move(name)), existed_(existed) {}
  ~FakeNamedMutex() override {
    std::lock_guard<std::mutex> lock(owner_.mutex_);
    if (--owner_.held_[name_] == 0) owner_.held_.erase(name_);
  }
  bool AlreadyExisted() const override { return existed_; }

 private:
  FakeSync& owner_;
  std::string name_;
  bool existed_;
};

class FakeEvent : public Event {
 public:
  FakeEvent(FakeSync& owner, std::shared_ptr<FakeSync::EventState> state) : owner_(owner), state_(std::move(state)) {}
  void Set() override {
    std::lock_guard<std::mutex> lock(owner_.mutex_);
    state_->signalled = true;
  }
  void Reset() override {
    std::lock_guard<std::mutex> lock(owner_.mutex_);
    state_->signalled = false;
  }
  uint32_t Wait(uint32_t timeoutMs) override {
    auto take = [this] {
      std::lock_guard<std::mutex> lock(owner_.mutex_);
      if (!state_->signalled) return false;
      if (!state_->manualReset) state_->signalled = false;
      return true;
    };
    if (take()) return WAIT_OBJECT_0;
    owner_.clock_.WaitFor(timeoutMs == INFINITE ? 0x7FFFFFFF : timeoutMs, [this] {
      std::lock_guard<std::mutex> lock(owner_.mutex_);
      return state_->signalled;
    });
    return take() ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }

 private:
  FakeSync& owner_;
  std::shared_ptr<FakeSync::EventState> state_;
};

std::unique_ptr<NamedMutex> FakeSync::CreateMutex(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string key = AsciiLower(name);
  bool existed = held_[key]++ > 0;
  return std::make_unique<FakeNamedMutex>(*this, key, existed);
}

std::shared_ptr<FakeSync::EventState> FakeSync::Named(const std::string& name, bool manualReset) {
  auto& slot = events_[AsciiLower(name)];
  if (!slot) {
    slot = std::make_shared<EventState>();
    slot->manualReset = manualReset;
  }
  return slot;
}

std::unique_ptr<Event> FakeSync::CreateEvent(bool manualReset, bool initialState, const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<EventState> state;
  if (name.empty()) {
    state = std::make_shared<EventState>();
    state->manualReset = manualReset;
    state->signalled = initialState;
  } else {
    state = Named(name, manualReset);
    if (initialState) state->signalled = true;
  }
  return std::make_unique<FakeEvent>(*this, state);
}

void FakeSync::SignalNamed(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Named(name, false)->signalled = true;
}

bool FakeSync::IsHeld(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_.count(AsciiLower(name)) > 0;
}

}  // namespace hu
