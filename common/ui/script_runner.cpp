#include "common/ui/script_runner.h"

#include "common/ui/control_actions.h"

#include <cerrno>
#include <cstdlib>
#include <thread>
#include <vector>

#include "common/platform/sync.h"
#include "common/platform/text.h"
#include "common/ui/control.h"
#include "common/ui/dialog.h"
#include "common/ui/headless_front_end.h"

namespace hu {

namespace {

struct Token {
  std::string text;
  bool quoted = false;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Splits a line into words and quoted strings; a word starting with '#' ends it.
// `end` receives where the action's text ends (before a comment).
bool Tokenize(const std::string& line, std::vector<Token>* tokens, size_t* end, std::string* error) {
  size_t i = 0;
  *end = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size() || line[i] == '#') break;
    Token token;
    if (line[i] == '"') {
      token.quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\' && i < line.size()) {
          char e = line[i++];
          switch (e) {
            case 'n': token.text += '\n'; break;
            case 'r': token.text += '\r'; break;
            case 't': token.text += '\t'; break;
            default: token.text += e; break;
          }
        } else {
          token.text += c;
        }
      }
      if (!closed) {
        *error = "unterminated quoted text";
        return false;
      }
    } else {
      while (i < line.size() && !IsBlank(line[i])) token.text += line[i++];
    }
    tokens->push_back(std::move(token));
    *end = i;
  }
  return true;
}

bool ParseInt(const Token& token, long minValue, long maxValue, long* value) {
  if (token.quoted || token.text.empty()) return false;
  if (EqualsNoCase(token.text, "IDOK")) {
    *value = IDOK;
    return true;
  }
  if (EqualsNoCase(token.text, "IDCANCEL")) {
    *value = IDCANCEL;
    return true;
  }
  errno = 0;
  char* endPtr = nullptr;
  long v = std::strtol(token.text.c_str(), &endPtr, 0);
  if (errno != 0 || endPtr == nullptr || *endPtr != '\0' || v < minValue || v > maxValue) return false;
  *value = v;
  return true;
}

// The top dialog and, depth first, the child pages in it.
void CollectDialogs(Dialog* dialog, std::vector<Dialog*>* out) {
  out->push_back(dialog);
  for (Dialog* child : dialog->GetChildren()) CollectDialogs(child, out);
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

}  // namespace

bool ParseScriptLine(const std::string& line, int lineNo, std::optional<ScriptAction>* action, std::string* error) {
  action->reset();
  std::vector<Token> tokens;
  size_t end = 0;
  if (!Tokenize(line, &tokens, &end, error)) return false;
  if (tokens.empty()) return true;
  ScriptAction a;
  a.lineNo = lineNo;
  size_t begin = line.find_first_not_of(" \t");
  a.source = line.substr(begin, end - begin);
  const std::string word = tokens[0].quoted ? std::string() : AsciiLower(tokens[0].text);
  const size_t args = tokens.size() - 1;
  long v1 = 0;
  long v2 = 0;
  constexpr long kMaxMs = 0x7FFFFFFF;
  auto badArgs = [&](const char* usage) {
    *error = std::string("expected ") + usage;
    return false;
  };
  if (word == "click" || word == "check") {
    a.kind = word == "click" ? ScriptAction::Kind::Click : ScriptAction::Kind::Check;
    if (args != 1 || !ParseInt(tokens[1], 0, 0xFFFF, &v1)) return badArgs(word == "click" ? "click ID" : "check ID");
    a.id = static_cast<int>(v1);
  } else if (word == "select") {
    a.kind = ScriptAction::Kind::Select;
    if (args != 2 || !ParseInt(tokens[1], 0, 0xFFFF, &v1) || !ParseInt(tokens[2], 0, 0x7FFFFFFF, &v2)) {
      return badArgs("select ID ROW");
    }
    a.id = static_cast<int>(v1);
    a.row = static_cast<int>(v2);
  } else if (word == "tab") {
    a.kind = ScriptAction::Kind::Tab;
    if (args != 1 || !ParseInt(tokens[1], 0, 0x7FFFFFFF, &v1)) return badArgs("tab N");
    a.row = static_cast<int>(v1);
  } else if (word == "wait") {
    a.kind = ScriptAction::Kind::Wait;
    if (args != 1 || !ParseInt(tokens[1], 0, kMaxMs, &v1)) return badArgs("wait MS");
    a.ms = static_cast<uint32_t>(v1);
  } else if (word == "expect") {
    a.kind = ScriptAction::Kind::Expect;
    if (args < 1 || args > 2) return badArgs("expect \"TEXT\" [MS]");
    a.text = tokens[1].text;
    if (args == 2) {
      if (!ParseInt(tokens[2], 0, kMaxMs, &v1)) return badArgs("expect \"TEXT\" [MS]");
      a.ms = static_cast<uint32_t>(v1);
      a.timeoutGiven = true;
    }
  } else if (word == "close") {
    a.kind = ScriptAction::Kind::Close;
    if (args != 0) return badArgs("close");
  } else if (word == "press" || word == "release") {
    a.kind = word == "press" ? ScriptAction::Kind::Press : ScriptAction::Kind::Release;
    if (args == 2) {
      if (!ParseInt(tokens[1], 0, 0xFFFF, &v1) || !ParseInt(tokens[2], 0, 0xFFFF, &v2)) {
        return badArgs("press|release [X Y]");
      }
      a.x = static_cast<int>(v1);
      a.y = static_cast<int>(v2);
    } else if (args != 0) {
      return badArgs("press|release [X Y]");
    }
  } else {
    *error = "unknown action";
    return false;
  }
  *action = std::move(a);
  return true;
}

ScriptRunner::ScriptRunner(Desktop& desktop, std::ostream& err, uint32_t defaultTimeoutMs)
    : desktop_(desktop),
      err_(err),
      defaultTimeoutMs_(defaultTimeoutMs),
      input_(std::make_shared<Input>()),
      pending_(std::make_shared<bool>(false)) {
  input_->wake = &desktop_.loop();
  desktop_.loop().AddAgent(this);
}

ScriptRunner::~ScriptRunner() {
  {
    std::lock_guard<std::mutex> lock(input_->mutex);
    input_->wake = nullptr;
  }
  desktop_.loop().RemoveAgent(this);
}

void ScriptRunner::AddLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(input_->mutex);
  input_->lines.push_back(line);
  if (input_->wake != nullptr) input_->wake->Post([] {});
}

void ScriptRunner::EndInput() {
  std::lock_guard<std::mutex> lock(input_->mutex);
  input_->ended = true;
  if (input_->wake != nullptr) input_->wake->Post([] {});
}

void ScriptRunner::AddText(const std::string& text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    AddLine(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  EndInput();
}

void ScriptRunner::ReadAsync(std::istream& in) {
  std::shared_ptr<Input> input = input_;
  std::thread([input, &in] {
    std::string line;
    while (std::getline(in, line)) {
      std::lock_guard<std::mutex> lock(input->mutex);
      input->lines.push_back(line);
      if (input->wake != nullptr) input->wake->Post([] {});
    }
    std::lock_guard<std::mutex> lock(input->mutex);
    input->ended = true;
    if (input->wake != nullptr) input->wake->Post([] {});
  }).detach();
}

bool ScriptRunner::Finished() const {
  std::lock_guard<std::mutex> lock(input_->mutex);
  return input_->ended && input_->lines.empty() && !current_ && !*pending_;
}

bool ScriptRunner::FetchNext() {
  while (true) {
    std::string line;
    {
      std::lock_guard<std::mutex> lock(input_->mutex);
      if (input_->lines.empty()) return false;
      line = std::move(input_->lines.front());
      input_->lines.pop_front();
    }
    ++lineNo_;
    std::string error;
    std::optional<ScriptAction> action;
    if (!ParseScriptLine(line, lineNo_, &action, &error)) {
      ScriptAction bad;
      bad.lineNo = lineNo_;
      size_t begin = line.find_first_not_of(" \t");
      size_t last = line.find_last_not_of(" \t\r\n");
      bad.source = begin == std::string::npos ? std::string() : line.substr(begin, last - begin + 1);
      current_ = bad;
      Fail(error);
      return false;
    }
    if (!action) continue;
    if (action->kind == ScriptAction::Kind::Expect && !action->timeoutGiven) action->ms = defaultTimeoutMs_;
    current_ = std::move(action);
    sawAction_ = true;
    started_ = desktop_.clock().GetTickCount();
    return true;
  }
}

void ScriptRunner::Fail(const std::string& reason) {
  failed_ = true;
  failure_ = "script line " + std::to_string(current_ ? current_->lineNo : lineNo_) + ": " +
             (current_ ? current_->source : std::string()) + ": " + reason;
  err_ << failure_ << std::endl;
  desktop_.loop().Quit(kExitCode);
}

ScriptRunner::Target ScriptRunner::FindControl(int id) const {
  Target found;
  Dialog* top = desktop_.TopDialog();
  if (top == nullptr) {
    found.problem = "no dialog is open";
    return found;
  }
  std::vector<Dialog*> dialogs;
  CollectDialogs(top, &dialogs);
  for (Dialog* dialog : dialogs) {
    Control* control = dialog->GetDlgItem(id);
    if (control == nullptr) continue;
    std::string problem;
    if (!dialog->IsControlShown(*control)) {
      problem = "control " + std::to_string(id) + " is hidden";
    } else if (!control->IsWindowEnabled()) {
      problem = "control " + std::to_string(id) + " is disabled";
    }
    if (problem.empty()) return Target{dialog, control, ""};
    // Pages may reuse ids; keep looking for a usable one.
    if (found.control == nullptr) found = Target{dialog, control, problem};
  }
  if (found.control == nullptr) {
    found.problem = "no control " + std::to_string(id) + " in dialog " + std::to_string(top->ResourceId());
  }
  return found;
}

ScriptRunner::Target ScriptRunner::FindTab() const {
  Target found;
  Dialog* top = desktop_.TopDialog();
  if (top == nullptr) {
    found.problem = "no dialog is open";
    return found;
  }
  std::vector<Dialog*> dialogs;
  CollectDialogs(top, &dialogs);
  for (Dialog* dialog : dialogs) {
    for (const auto& control : dialog->Controls()) {
      if (control->Kind() != ControlKind::Tab) continue;
      if (dialog->IsControlShown(*control) && control->IsWindowEnabled()) {
        return Target{dialog, control.get(), ""};
      }
      if (found.control == nullptr) {
        found = Target{dialog, control.get(),
                       "tab control " + std::to_string(control->GetDlgCtrlID()) + " is hidden or disabled"};
      }
    }
  }
  if (found.control == nullptr) found.problem = "no tab control in dialog " + std::to_string(top->ResourceId());
  return found;
}

bool ScriptRunner::TextShown(const std::string& text) const {
  for (Dialog* dialog : desktop_.OpenDialogs()) {
    if (!dialog->IsShown()) continue;
    if (Contains(dialog->GetWindowText(), text)) return true;
    for (const auto& control : dialog->Controls()) {
      if (!dialog->IsControlShown(*control)) continue;
      if (Contains(control->GetWindowText(), text)) return true;
      for (int i = 0; i < control->GetPanelLineCount(); ++i) {
        if (Contains(control->GetPanelLine(i)->text, text)) return true;
      }
      for (const ControlItem& item : control->Items()) {
        for (const std::string& cell : item.cells) {
          if (Contains(cell, text)) return true;
        }
      }
    }
  }
  return false;
}

void ScriptRunner::Perform(std::function<void()> act) {
  *pending_ = true;
  std::shared_ptr<bool> pending = pending_;
  desktop_.loop().Post([pending, act = std::move(act)] {
    // Later actions may go on as soon as this one has started: a handler that
    // opens a modal dialog runs the loop that the next action needs.
    *pending = false;
    act();
  });
}

// Performs the current (control or dialog) action when it can be done now;
// otherwise returns why not.
std::string ScriptRunner::Attempt() {
  const ScriptAction& a = *current_;
  Desktop& desktop = desktop_;
  switch (a.kind) {
    case ScriptAction::Kind::Click:
    case ScriptAction::Kind::Check: {
      Target t = FindControl(a.id);
      if (!t.problem.empty()) return t.problem;
      ControlKind kind = t.control->Kind();
      bool isCheck = kind == ControlKind::CheckBox || kind == ControlKind::RadioButton;
      if (a.kind == ScriptAction::Kind::Check && !isCheck) {
        return "control " + std::to_string(a.id) + " is a " + ControlKindName(kind) + ", not a check box";
      }
      HWND hwnd = t.dialog->GetSafeHwnd();
      int id = a.id;
      bool toggle = a.kind == ScriptAction::Kind::Click;
      Perform([&desktop, hwnd, id, toggle] { ClickDialogControl(desktop, hwnd, id, toggle); });
      return {};
    }
    case ScriptAction::Kind::Select:
    case ScriptAction::Kind::Tab: {
      Target t = a.kind == ScriptAction::Kind::Tab ? FindTab() : FindControl(a.id);
      if (!t.problem.empty()) return t.problem;
      ControlKind kind = t.control->Kind();
      int code = SelectionNotification(kind);
      int id = t.control->GetDlgCtrlID();
      if (code == 0) {
        return "control " + std::to_string(id) + " is a " + ControlKindName(kind) + ", not a list, tree or tab";
      }
      if (a.row >= t.control->GetItemCount()) {
        return "control " + std::to_string(id) + " has no item " + std::to_string(a.row) + " (" +
               std::to_string(t.control->GetItemCount()) + " items)";
      }
      HWND hwnd = t.dialog->GetSafeHwnd();
      int row = a.row;
      Perform([&desktop, hwnd, id, row] { SelectDialogItem(desktop, hwnd, id, row); });
      return {};
    }
    case ScriptAction::Kind::Close:
    case ScriptAction::Kind::Press:
    case ScriptAction::Kind::Release: {
      Dialog* top = desktop_.TopDialog();
      if (top == nullptr) return "no dialog is open";
      if (a.kind != ScriptAction::Kind::Close && !top->IsShown()) {
        return "dialog " + std::to_string(top->ResourceId()) + " is hidden";
      }
      HWND hwnd = top->GetSafeHwnd();
      uint32_t message = a.kind == ScriptAction::Kind::Close  ? WM_CLOSE
                         : a.kind == ScriptAction::Kind::Press ? WM_LBUTTONDOWN
                                                               : WM_LBUTTONUP;
      LPARAM where = a.kind == ScriptAction::Kind::Close ? 0 : MakeLParam(a.x, a.y);
      Perform([&desktop, hwnd, message, where] { desktop.loop().Dispatch(hwnd, message, 0, where); });
      return {};
    }
    case ScriptAction::Kind::Wait:
    case ScriptAction::Kind::Expect:
      break;
  }
  return {};
}

uint32_t ScriptRunner::Step() {
  if (failed_ || *pending_ || quitSent_) return INFINITE;
  while (true) {
    if (!current_ && !FetchNext()) {
      if (!failed_ && onFinished_ && sawAction_ && Finished()) {
        quitSent_ = true;
        onFinished_();
      }
      return INFINITE;
    }
    if (failed_) return INFINITE;
    const ScriptAction& a = *current_;
    uint32_t elapsed = desktop_.clock().GetTickCount() - started_;
    switch (a.kind) {
      case ScriptAction::Kind::Wait:
        if (elapsed >= a.ms) {
          current_.reset();
          continue;
        }
        return a.ms - elapsed;
      case ScriptAction::Kind::Expect:
        if (TextShown(a.text)) {
          current_.reset();
          continue;
        }
        if (elapsed >= a.ms) {
          Fail(HeadlessFrontEnd::Quote(a.text) + " not shown within " + std::to_string(a.ms) + " ms");
          return INFINITE;
        }
        return a.ms - elapsed;
      default: {
        std::string problem = Attempt();
        if (problem.empty()) {
          current_.reset();
          return INFINITE;
        }
        if (elapsed >= defaultTimeoutMs_) {
          Fail(problem);
          return INFINITE;
        }
        return defaultTimeoutMs_ - elapsed;
      }
    }
  }
}

}  // namespace hu
