#include "tests/mcuflash_app/mcu_bench.h"

#include <sstream>

#include "common/ui/control.h"
#include "common/ui/dialog.h"
#include "common/ui/script_runner.h"
#include "tests/support/s19_text.h"

namespace hu {
namespace testing_mcu {

namespace {
class TestMutex : public NamedMutex {
 public:
  bool AlreadyExisted() const override { return false; }
};

class TrackedEvent : public Event {
 public:
  explicit TrackedEvent(std::shared_ptr<SettleSync::State> state) : state_(std::move(state)) {}
  ~TrackedEvent() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->closed = true;
    ++state_->activity;
  }
  void Set() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->signalled = true;
    ++state_->activity;
    state_->cv.notify_all();
  }
  void Reset() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->signalled = false;
    ++state_->activity;
  }
  uint32_t Wait(uint32_t timeoutMs) override {
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (state_->inFlight) {
      state_->inFlight = false;
      ++state_->activity;
    }
    auto set = [this] { return state_->signalled; };
    if (timeoutMs == INFINITE) {
      state_->cv.wait(lock, set);
    } else if (!state_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), set)) {
      return WAIT_TIMEOUT;
    }
    if (!state_->manual) state_->signalled = false;
    state_->inFlight = true;
    ++state_->activity;
    return WAIT_OBJECT_0;
  }

 private:
  std::shared_ptr<SettleSync::State> state_;
};
}  // namespace

std::unique_ptr<NamedMutex> SettleSync::CreateMutex(const std::string& /*name*/) {
  return std::make_unique<TestMutex>();
}

std::unique_ptr<Event> SettleSync::CreateEvent(bool manualReset, bool initialState, const std::string& /*name*/) {
  auto state = std::make_shared<State>();
  state->manual = manualReset;
  state->signalled = initialState;
  std::lock_guard<std::mutex> lock(mutex_);
  states_.push_back(state);
  return std::make_unique<TrackedEvent>(state);
}

bool SettleSync::Quiet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& state : states_) {
    std::lock_guard<std::mutex> stateLock(state->mutex);
    if (state->closed) continue;
    if (state->inFlight || (state->signalled && !state->manual)) return false;
  }
  return true;
}

uint64_t SettleSync::Activity() const {
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t sum = 0;
  for (const auto& state : states_) {
    std::lock_guard<std::mutex> stateLock(state->mutex);
    sum += state->activity;
  }
  return sum;
}

SettleClock::SettleClock(std::function<bool()> quiet, std::function<uint64_t()> activity, uint32_t start)
    : quiet_(std::move(quiet)), activity_(std::move(activity)), owner_(std::this_thread::get_id()), now_(start) {}

void SettleClock::Settle() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!quiet_()) {
    if (std::chrono::steady_clock::now() > deadline) {
      timeouts_.fetch_add(1);
      return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

void SettleClock::Sleep(uint32_t ms) {
  if (OwnThread()) Settle();
  slept_.fetch_add(ms);
  now_.fetch_add(ms);
}

bool SettleClock::WaitFor(uint32_t ms, const std::function<bool()>& ready) {
  if (ready()) return true;
  if (!OwnThread()) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!ready() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return ready();
  }
  Settle();
  if (ready()) return true;
  const uint64_t generation = Generation();
  if (generation != seen_) {
    seen_ = generation;
    return false;
  }
  now_.fetch_add(ms);
  return ready();
}

McuBench::McuBench()
    : com4(serial.AddPort("COM4")),
      clock([this] { return serial.Quiet() && sync.Quiet(); }, [this] { return serial.Activity() + sync.Activity(); }),
      processes(kModule),
      desktop(clock, windows, ScreenSize{800, 480}) {
  desktop.SetTitleHook(windows.TitleHook());
}

McuBench::~McuBench() {
  com4.SetPeer({});
}

McuflashServices McuBench::Services() {
  return McuflashServices{files, registry, clock, sync, processes, &serial, windows, kModule};
}

void McuBench::SetPlatform(const std::string& cpu, uint32_t project, const std::string& hw) {
  registry.Put("SoftWare\\Dravik\\Os", "CPU_TYPE", RegValue::String(cpu));
  registry.Put("SoftWare\\Dravik\\Os", "PROJECTTYPE", RegValue::Dword(project));
  if (!hw.empty()) registry.Put("SoftWare\\Dravik\\Os", "HW_VERSION", RegValue::String(hw));
}

McuSimulator& McuBench::AttachMcu(McuSimConfig config,
                                  std::function<void(const std::vector<uint8_t>&, std::vector<uint8_t>&)> tap) {
  com4.SetPeer({});
  mcu = std::make_unique<McuSimulator>(std::move(config));
  McuSimulator* sim = mcu.get();
  com4.SetPeer([this, sim, tap](const uint8_t* bytes, size_t n) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      writeTicks_.push_back(clock.GetTickCount());
    }
    const std::vector<uint8_t> in(bytes, bytes + n);
    std::vector<uint8_t> out = sim->Feed(in);
    if (tap) tap(in, out);
    if (!out.empty()) com4.PeerWrite(out);
  });
  return *sim;
}

std::vector<std::vector<uint8_t>> McuBench::WrittenFrames() const {
  const std::vector<uint8_t> all = com4.Written();
  std::vector<std::vector<uint8_t>> frames;
  size_t at = 0;
  while (at + 5 < all.size()) {
    size_t length = 0;
    if (all[at] == 0x21 && all[at + 1] == 0x23) {
      length = (static_cast<size_t>(all[at + 4]) | (static_cast<size_t>(all[at + 5]) << 8)) + 1;
    } else if (all[at] == 0x24 && all[at + 1] == 0x23) {
      length = static_cast<size_t>(all[at + 4]) + 8;
    } else {
      ++at;
      continue;
    }
    length = std::min(length, all.size() - at);
    frames.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                        all.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  }
  return frames;
}

std::vector<uint32_t> McuBench::WriteTicks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writeTicks_;
}

TextLog::TextLog(Desktop& desktop, Clock& clock) : desktop_(desktop), clock_(clock) { desktop_.AddObserver(this); }

TextLog::~TextLog() { desktop_.RemoveObserver(this); }

void TextLog::OnUiEvent(const UiEvent& event) {
  if (event.kind != UiEventKind::ControlChanged || event.control == nullptr || !(event.changes & kChangeText)) return;
  entries_.push_back(Entry{event.dialog->ResourceId(), event.control->GetDlgCtrlID(),
                           event.control->GetWindowText(), clock_.GetTickCount()});
}

std::vector<std::string> TextLog::Texts(int dialog, int control) const {
  std::vector<std::string> texts;
  for (const Entry& e : entries_) {
    if (e.dialog == dialog && e.control == control) texts.push_back(e.text);
  }
  return texts;
}

uint32_t TextLog::When(const std::string& text) const {
  for (const Entry& e : entries_) {
    if (e.text == text) return e.tick;
  }
  return 0;
}

std::string RunScript(Desktop& desktop, Dialog& dialog, const std::string& script) {
  std::ostringstream errors;
  ScriptRunner runner(desktop, errors, 20000);
  runner.AddText(script);
  desktop.loop().AddAgent(&runner);
  dialog.DoModal();
  desktop.loop().RemoveAgent(&runner);
  if (runner.Failed()) return runner.FailureMessage();
  return runner.Finished() ? std::string() : "script not finished";
}

std::string Stm8Image(const std::vector<uint8_t>& image) {
  using namespace testing_s19;
  std::string text = Header("mcu") + TagRecord("STM8QX4B");
  for (size_t at = 0; at < image.size(); at += 32) {
    const size_t n = std::min<size_t>(32, image.size() - at);
    text += Record(1, static_cast<uint32_t>(0xA000 + at),
                   std::vector<uint8_t>(image.begin() + static_cast<std::ptrdiff_t>(at),
                                        image.begin() + static_cast<std::ptrdiff_t>(at + n)));
  }
  return text + End();
}

std::string LineImage(size_t bytes) {
  using namespace testing_s19;
  const std::vector<uint8_t> data = Pattern(bytes, 11);
  std::string text = Header("line mcu");
  for (size_t at = 0; at < data.size(); at += 16) {
    const size_t n = std::min<size_t>(16, data.size() - at);
    text += Record(1, static_cast<uint32_t>(0x8000 + at),
                   std::vector<uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(at),
                                        data.begin() + static_cast<std::ptrdiff_t>(at + n)));
  }
  return text + End();
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 13 + seed + (i >> 8));
  return v;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> bytes) {
  std::vector<uint8_t> v;
  for (int b : bytes) v.push_back(static_cast<uint8_t>(b));
  return v;
}

}  // namespace testing_mcu
}  // namespace hu
