#pragma once
#include <string>

namespace hu {

// Gives the terminal back in a usable state however the process ends while
// the terminal front end holds it:
//   - the normal end: the front end ends curses, then calls End;
//   - SIGINT, SIGTERM, SIGHUP, SIGQUIT and the crash signals: the handler
//     writes the reset sequence, restores the saved modes and lets the signal
//     take its previous course;
//   - std::terminate (an exception nobody caught) and exit(): the same reset;
//   - ends that run no code of ours at all (_exit when the unit reboots,
//     SIGKILL): a small watcher process, which does nothing but wait for the
//     end of its parent, does the reset.
// One terminal per process; UI thread, except the handlers.
class TerminalGuard {
 public:
  // Remembers the modes of the terminal `fd` and installs the handlers;
  // before curses starts.
  static bool Begin(int fd);
  // Once curses runs: `reset` is what puts the terminal's screen back (leave
  // the alternate screen, show the cursor ...); starts the watcher.
  static void Arm(const std::string& reset);
  // The normal end, after curses has restored the terminal itself.
  static void End();
  static bool Armed();
};

}  // namespace hu
