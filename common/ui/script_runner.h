#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <istream>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "common/ui/desktop.h"
#include "common/ui/event_loop.h"

namespace hu {

class Control;
class Dialog;

// One action of a UI script. Lines hold one action each; blank lines are
// ignored, and so is the rest of a line from a word starting with '#'. IDs are numbers (IDOK and IDCANCEL
// are understood too).
//
//   click ID               WM_COMMAND to the dialog of control ID; a check box
//                          toggles and a radio button checks first
//   check ID               check box or radio button checked, then WM_COMMAND
//   select ID ROW          selects list row, tree item or tab ROW and raises the
//                          notification a person's choice raises
//   tab N                  selects tab N of the top dialog's tab control
//   wait MS                lets MS of unit time pass
//   expect "TEXT" [MS]     waits up to MS (default 10000) of unit time until a
//                          shown dialog title, control text, panel line or list,
//                          tree or tab item of any open dialog contains TEXT
//   close                  WM_CLOSE to the top dialog (ends it as IDCANCEL)
//   press [X Y]            WM_LBUTTONDOWN on the top dialog's background
//   release [X Y]          WM_LBUTTONUP
//
// Actions act on the top dialog (the newest open one that is not a child page)
// and the pages shown in it. An action whose control is missing, hidden or
// disabled waits for it up to the default time-out.
struct ScriptAction {
  enum class Kind { Click, Check, Select, Tab, Wait, Expect, Close, Press, Release };
  Kind kind = Kind::Wait;
  int id = 0;
  int row = 0;
  int x = 0;
  int y = 0;
  uint32_t ms = 0;
  bool timeoutGiven = false;  // expect: MS was written
  std::string text;
  int lineNo = 0;
  std::string source;  // the line as written, without comment and outer blanks
};

// Parses one script line. True with *action empty for a blank or comment line;
// false with *error set when the line is not an action.
bool ParseScriptLine(const std::string& line, int lineNo, std::optional<ScriptAction>* action, std::string* error);

// Feeds script actions to the desktop between loop iterations. A failure (bad
// line, expectation not met, control never usable) writes one line to `err`:
//   script line N: SOURCE: REASON
// and quits the loop with exit code 3. When the script ends the program goes
// on, unless SetOnFinished says what to do then.
class ScriptRunner : public LoopAgent {
 public:
  static constexpr int kExitCode = 3;

  ScriptRunner(Desktop& desktop, std::ostream& err, uint32_t defaultTimeoutMs = 10000);
  ~ScriptRunner() override;
  ScriptRunner(const ScriptRunner&) = delete;
  ScriptRunner& operator=(const ScriptRunner&) = delete;

  // Input, from any thread.
  void AddLine(const std::string& line);
  void EndInput();
  // All lines of `text`, then the end of input.
  void AddText(const std::string& text);
  // Reads lines from `in` on a thread of its own until the stream ends (for a
  // person or a pipe on standard input). The stream must outlive the process's
  // use of it; the thread is left to end with the process.
  void ReadAsync(std::istream& in);

  // Called once on the UI thread when all input is read and every action of
  // it done; input without any action never calls it.
  void SetOnFinished(std::function<void()> onFinished) { onFinished_ = std::move(onFinished); }

  bool Failed() const { return failed_; }
  const std::string& FailureMessage() const { return failure_; }
  // All input read and every action done.
  bool Finished() const;

  uint32_t Step() override;

 private:
  struct Input {
    std::mutex mutex;
    std::deque<std::string> lines;
    bool ended = false;
    EventLoop* wake = nullptr;  // cleared when the runner goes
  };
  struct Target {
    Dialog* dialog = nullptr;
    Control* control = nullptr;
    std::string problem;  // why it is not usable, empty when it is
  };

  bool FetchNext();
  void Fail(const std::string& reason);
  Target FindControl(int id) const;
  Target FindTab() const;
  bool TextShown(const std::string& text) const;
  // Queues `act` and holds further actions until it has started.
  void Perform(std::function<void()> act);
  std::string Attempt();

  Desktop& desktop_;
  std::ostream& err_;
  uint32_t defaultTimeoutMs_;
  std::shared_ptr<Input> input_;
  std::shared_ptr<bool> pending_;
  int lineNo_ = 0;
  std::optional<ScriptAction> current_;
  uint32_t started_ = 0;
  bool failed_ = false;
  bool quitSent_ = false;
  bool sawAction_ = false;
  std::function<void()> onFinished_;
  std::string failure_;
};

}  // namespace hu
