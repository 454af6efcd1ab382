#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>

#include "common/ui/desktop.h"
#include "common/ui/event_loop.h"
#include "common/ui/tui_keys.h"
#include "common/ui/tui_screen.h"
#include "common/ui/ui_observer.h"

namespace hu {

class TuiCanvas;

// The dialogs of a desktop on the terminal (ncurses): what TuiScreen draws,
// with the keyboard and mouse of the terminal.
//
// It paints when the model changes: at once on a flush hint
// (Invalidate/UpdateWindow), so long work inside a handler shows each step;
// for other changes at most every 50 ms while a handler runs, and otherwise
// once per loop iteration. Input is read between loop iterations without ever
// waiting (the loop polls it every 30 ms of real time), and keys typed while a
// handler works are kept for when it returns; a change of the terminal's size
// is taken even then. Every key is handled after the work of the key before
// it has run.
//
// The terminal is given back on every way out (see TerminalGuard). Standard
// output must be a terminal; input comes from standard input when that is
// one, else from /dev/tty (so a script can come on standard input). What the
// process writes to standard error on the same terminal meanwhile (--trace)
// would tear the screen: it is held back and written out at Stop.
class TerminalFrontEnd : public UiObserver, public LoopAgent {
 public:
  explicit TerminalFrontEnd(Desktop& desktop);
  ~TerminalFrontEnd() override;
  TerminalFrontEnd(const TerminalFrontEnd&) = delete;
  TerminalFrontEnd& operator=(const TerminalFrontEnd&) = delete;

  // Takes the terminal and starts observing; false with *error set when
  // there is no usable terminal.
  bool Start(std::string* error);
  // Gives the terminal back; also done by the destructor.
  void Stop();
  bool Active() const { return screen_ != nullptr; }

  void OnUiEvent(const UiEvent& event) override;
  uint32_t Step() override;

 private:
  struct Input {
    bool mouse = false;
    TuiKey key;
    int row = 0, col = 0;
  };
  class CursesCanvas;

  void HoldStandardError();
  void ReleaseStandardError();
  void Paint();
  // Reads what the terminal has; a resize is handled at once, the rest queued.
  bool ReadInput();
  bool Handle(const Input& input);
  uint32_t UnitWait(uint32_t realMs);

  Desktop& desktop_;
  TuiScreen view_;
  void* screen_ = nullptr;  // the curses SCREEN
  FILE* input_ = nullptr;
  bool ownInput_ = false;
  int savedStderr_ = -1;
  FILE* heldStderr_ = nullptr;
  std::unique_ptr<CursesCanvas> canvas_;
  std::atomic<bool> dirty_{true};
  bool painting_ = false;
  bool handling_ = false;
  bool resized_ = false;
  std::chrono::steady_clock::time_point lastPaint_;
  std::deque<Input> pending_;
  int pressSpot_ = -1;
  bool pressed_ = false;
  // Unit time per real time, measured, so that polls stay 30 ms of real time
  // whatever the unit's time scale.
  double unitPerReal_ = 1.0;
  std::chrono::steady_clock::time_point rateStart_;
  uint32_t rateUnitStart_ = 0;
};

}  // namespace hu
