#pragma once
// A test bench for the updater: in-memory unit services, the fake COM4 with
// the simulated MCU as its peer, and a clock whose virtual time moves only
// while the updater's threads have nothing left to do.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/platform/clock.h"
#include "common/platform/sync.h"
#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/fake_processes.h"
#include "common/platform/testing/fake_serial.h"
#include "common/platform/testing/mem_files.h"
#include "common/platform/testing/mem_registry.h"
#include "common/ui/desktop.h"
#include "common/ui/dialog.h"
#include "common/ui/local_windows.h"
#include "common/ui/ui_observer.h"
#include "mcuflash/mcuflash_services.h"
#include "sim/mcu/mcu_simulator.h"

namespace hu {
namespace testing_mcu {

const char* const kModule = "\\StorageCard\\Mcuflash\\Mcuflash.exe";
const char* const kDir = "\\StorageCard\\Mcuflash\\";

// Events whose waiters the bench can see: an event is busy while it is set
// and not yet taken, and while the thread it released has not come back to
// wait. Waits with a time-out count real milliseconds.
class SettleSync : public Sync {
 public:
  std::unique_ptr<NamedMutex> CreateMutex(const std::string& name) override;
  std::unique_ptr<Event> CreateEvent(bool manualReset, bool initialState, const std::string& name = "") override;
  bool Quiet() const;
  uint64_t Activity() const;

  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    bool manual = false;
    bool signalled = false;
    bool inFlight = false;
    bool closed = false;
    uint64_t activity = 0;
  };

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<State>> states_;
  uint64_t closedActivity_ = 0;
};

// Virtual time (as ManualClock) that the test's own thread advances only
// once `quiet` holds: when the updater's threads have handled everything
// handed to them. A wait that finds that something happened since it last
// looked returns without advancing, so that the loop recomputes its timers.
// Other threads' sleeps advance the time at once.
class SettleClock : public Clock {
 public:
  SettleClock(std::function<bool()> quiet, std::function<uint64_t()> activity, uint32_t start = 1000);

  uint32_t GetTickCount() override { return now_.load(); }
  void Sleep(uint32_t ms) override;
  SystemTime GetLocalTime() override { return SystemTime{2026, 3, 2, 9, 10, 0, 0, 0}; }
  bool WaitFor(uint32_t ms, const std::function<bool()>& ready) override;
  void Notify() override { notifies_.fetch_add(1); }

  uint64_t SleptMs() const { return slept_.load(); }
  // Times the threads did not settle within the bound (a stuck test).
  uint32_t SettleTimeouts() const { return timeouts_.load(); }

 private:
  bool OwnThread() const { return std::this_thread::get_id() == owner_; }
  void Settle();
  uint64_t Generation() const { return notifies_.load() + activity_(); }

  std::function<bool()> quiet_;
  std::function<uint64_t()> activity_;
  std::thread::id owner_;
  std::atomic<uint32_t> now_;
  std::atomic<uint64_t> notifies_{0};
  std::atomic<uint64_t> slept_{0};
  std::atomic<uint32_t> timeouts_{0};
  uint64_t seen_ = 0;
};

// A registered message's traffic, as a window that records it.
struct Note {
  uint32_t code = 0;
  int64_t value = 0;
  uint32_t tick = 0;
};

struct McuBench {
  McuBench();
  ~McuBench();

  McuflashServices Services();
  // CPU_TYPE, PROJECTTYPE and (when not empty) HW_VERSION.
  void SetPlatform(const std::string& cpu, uint32_t project, const std::string& hw = "");
  // The simulated MCU answers COM4. `tap` (optional) sees each answer before
  // it goes out and may change it.
  McuSimulator& AttachMcu(McuSimConfig config,
                          std::function<void(const std::vector<uint8_t>& in, std::vector<uint8_t>& out)> tap = {});
  // Frames the program wrote, split at their markers (both formats).
  std::vector<std::vector<uint8_t>> WrittenFrames() const;
  // Ticks at which the peer got each write.
  std::vector<uint32_t> WriteTicks() const;

  SettleSync sync;
  FakeSerial serial;
  FakeSerialLine& com4;
  SettleClock clock;
  MemFiles files;
  MemRegistry registry;
  FakeProcesses processes;
  LocalWindows windows;
  Desktop desktop;
  CaptureTrace trace;
  std::unique_ptr<McuSimulator> mcu;

 private:
  mutable std::mutex mutex_;
  std::vector<uint32_t> writeTicks_;
};

// The texts controls showed, in order, with the time.
class TextLog : public UiObserver {
 public:
  TextLog(Desktop& desktop, Clock& clock);
  ~TextLog() override;
  void OnUiEvent(const UiEvent& event) override;
  std::vector<std::string> Texts(int dialog, int control) const;
  // Tick of the first time `text` was shown; 0 when never.
  uint32_t When(const std::string& text) const;

 private:
  struct Entry {
    int dialog;
    int control;
    std::string text;
    uint32_t tick;
  };
  std::vector<Entry> entries_;
  Desktop& desktop_;
  Clock& clock_;
};

// Runs `dialog` modally with `script` fed by the script front end; returns
// the script's failure message, empty when it ran through.
std::string RunScript(Desktop& desktop, Dialog& dialog, const std::string& script);

// S-record text of `image` bytes at 0xA000 with the STM8 platform tag.
std::string Stm8Image(const std::vector<uint8_t>& image);
// Line-family text: header, records of 16 bytes at 0x8000, end record.
std::string LineImage(size_t bytes);
std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 3);
std::vector<uint8_t> Bytes(std::initializer_list<int> bytes);

}  // namespace testing_mcu
}  // namespace hu
