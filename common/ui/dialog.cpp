#include "common/ui/dialog.h"

#include <algorithm>
#include <exception>

#include "common/platform/sync.h"
#include "common/platform/trace.h"

namespace hu {

Dialog::Dialog(Desktop& desktop, int resourceId, Dialog* parent)
    : desktop_(desktop), resourceId_(resourceId), owner_(parent) {}

Dialog::~Dialog() {
  // Handlers of the derived class are gone by now; only the base ones run.
  if (open_) DestroyInternal();
}

Control& Dialog::DefineControl(ControlKind kind, int id, const std::string& caption, Rect rect) {
  for (auto& proto : prototypes_) {
    if (proto->GetDlgCtrlID() == id) {
      *proto = Control(kind, id, caption, rect);
      return *proto;
    }
  }
  prototypes_.push_back(std::make_unique<Control>(kind, id, caption, rect));
  return *prototypes_.back();
}

std::vector<Dialog*> Dialog::GetChildren() const {
  std::vector<Dialog*> children;
  for (Dialog* dialog : desktop_.OpenDialogs()) {
    if (dialog->child_ && dialog->parent_ == this) children.push_back(dialog);
  }
  return children;
}

bool Dialog::CreateWindowInternal(Dialog* parent, bool modal) {
  if (open_) {
    Trace("hu::Dialog::Create dialog %d is already open\n", resourceId_);
    return false;
  }
  if (parent != nullptr && !parent->open_) {
    Trace("hu::Dialog::Create parent of dialog %d is not open\n", resourceId_);
    return false;
  }
  modal_ = modal;
  child_ = !modal && parent != nullptr;
  parent_ = modal ? owner_ : parent;
  ended_ = false;
  result_ = -1;
  title_ = template_.title;
  rect_ = template_.rect;
  style_ = template_.style;
  exStyle_ = template_.exStyle;
  topmost_ = (exStyle_ & WS_EX_TOPMOST) != 0;
  visible_ = false;
  controls_.clear();
  for (const auto& proto : prototypes_) {
    controls_.push_back(std::make_unique<Control>(*proto));
    controls_.back()->owner_ = this;
  }
  EventLoop& loop = desktop_.loop();
  HWND hwnd = desktop_.windows().CreateWindow(template_.className, title_, &loop);
  if (hwnd == 0) {
    Trace("hu::Dialog::Create window of dialog %d could not be created\n", resourceId_);
    controls_.clear();
    modal_ = false;
    return false;
  }
  hwnd_ = hwnd;
  loop.AddTarget(hwnd, this);
  open_ = true;
  desktop_.Opened(this);

  showSetDuringInit_ = false;
  current_ = WindowMessage{hwnd, 0, 0, 0};
  try {
    OnInitDialog();
  } catch (const std::exception& e) {
    Trace("hu::Dialog::Create OnInitDialog of dialog %d failed: %s\n", resourceId_, e.what());
  } catch (...) {
    Trace("hu::Dialog::Create OnInitDialog of dialog %d failed\n", resourceId_);
  }
  current_ = WindowMessage{};
  if (open_ && !showSetDuringInit_ && template_.visible) SetVisible(true);
  if (open_ && !child_ && visible_) desktop_.windows().SetForegroundWindow(hwnd_);
  return open_;
}

bool Dialog::Create(Dialog* parent) { return CreateWindowInternal(parent, false); }

int Dialog::DoModal() {
  EventLoop& loop = desktop_.loop();
  if (loop.IsQuitting()) return -1;
  if (!CreateWindowInternal(nullptr, true)) return -1;
  loop.RunWhile([this] { return open_ && !ended_; });
  int result = ended_ ? result_ : -1;
  DestroyInternal();
  modal_ = false;
  return result;
}

void Dialog::EndDialog(int result) {
  if (!open_) return;
  result_ = result;
  ended_ = true;
  if (!modal_) DestroyInternal();
}

void Dialog::DestroyWindow() { DestroyInternal(); }

void Dialog::DestroyInternal() {
  if (!open_ || destroying_) return;
  destroying_ = true;
  WindowProc(WM_DESTROY, 0, 0);
  for (Dialog* child : GetChildren()) child->DestroyInternal();
  HWND hwnd = hwnd_;
  desktop_.loop().RemoveTarget(hwnd);
  Windows& windows = desktop_.windows();
  bool wasForeground = windows.GetForegroundWindow() == hwnd;
  windows.DestroyWindow(hwnd);
  open_ = false;
  desktop_.Closed(this);
  controls_.clear();
  hwnd_ = 0;
  destroying_ = false;
  if (wasForeground) {
    Dialog* top = desktop_.TopDialog();
    if (top != nullptr) windows.SetForegroundWindow(top->hwnd_);
  }
}

LRESULT Dialog::WindowProc(uint32_t message, WPARAM wParam, LPARAM lParam) {
  WindowMessage saved = current_;
  LRESULT savedResult = messageResult_;
  current_ = WindowMessage{hwnd_, message, wParam, lParam};
  messageResult_ = 0;
  LRESULT result = 0;
  switch (message) {
    case WM_COMMAND: {
      int id = LoWord(wParam);
      if (!OnCommand(id)) {
        if (id == IDOK) {
          OnOK();
        } else if (id == IDCANCEL) {
          OnCancel();
        }
      }
      break;
    }
    case WM_NOTIFY:
      OnNotify(static_cast<int>(wParam), static_cast<int>(lParam));
      break;
    case WM_TIMER:
      OnTimer(static_cast<uint32_t>(wParam));
      break;
    case WM_CLOSE:
      OnClose();
      break;
    case WM_DESTROY:
      try {
        OnDestroy();
      } catch (const std::exception& e) {
        Trace("hu::Dialog OnDestroy of dialog %d failed: %s\n", resourceId_, e.what());
      } catch (...) {
        Trace("hu::Dialog OnDestroy of dialog %d failed\n", resourceId_);
      }
      break;
    case WM_LBUTTONDOWN:
      OnLButtonDown(LoWord(static_cast<uint64_t>(lParam)), HiWord(static_cast<uint64_t>(lParam)));
      break;
    case WM_LBUTTONUP:
      OnLButtonUp(LoWord(static_cast<uint64_t>(lParam)), HiWord(static_cast<uint64_t>(lParam)));
      break;
    case WM_SIZE:
      OnSize(LoWord(static_cast<uint64_t>(lParam)), HiWord(static_cast<uint64_t>(lParam)));
      break;
    default:
      if (OnMessage(message, wParam, lParam)) result = messageResult_;
      break;
  }
  current_ = saved;
  messageResult_ = savedResult;
  return result;
}

void Dialog::SetWindowText(const std::string& title) {
  if (!open_) {
    template_.title = title;
    return;
  }
  if (title == title_) return;
  title_ = title;
  desktop_.Retitle(hwnd_, title_);
  EmitDialogChanged(kChangeText);
}

void Dialog::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  EmitDialogChanged(kChangeVisible);
}

void Dialog::ShowWindow(int showCommand) {
  if (!open_) return;
  showSetDuringInit_ = true;
  SetVisible(showCommand != SW_HIDE);
}

bool Dialog::IsShown() const {
  if (!open_ || !visible_) return false;
  return !child_ || parent_ == nullptr || parent_->IsShown();
}

bool Dialog::IsControlShown(const Control& control) const {
  return control.IsWindowVisible() && IsShown();
}

void Dialog::MoveWindow(int x, int y, int w, int h, bool repaint) {
  (void)repaint;
  Rect rect{x, y, std::max(0, w), std::max(0, h)};
  if (!open_) {
    template_.rect = rect;
    return;
  }
  if (rect == rect_) return;
  bool sized = rect.w != rect_.w || rect.h != rect_.h;
  rect_ = rect;
  EmitDialogChanged(kChangeRect);
  if (sized) WindowProc(WM_SIZE, 0, MakeLParam(rect.w, rect.h));
}

bool Dialog::SetWindowPos(int insertAfter, int x, int y, int cx, int cy, uint32_t flags) {
  if (!open_) return false;
  if ((flags & SWP_NOZORDER) == 0) {
    if (insertAfter == HWND_TOPMOST) {
      SetTopmost(true);
    } else if (insertAfter == HWND_NOTOPMOST) {
      SetTopmost(false);
    }
  }
  Rect rect = rect_;
  if ((flags & SWP_NOMOVE) == 0) {
    rect.x = x;
    rect.y = y;
  }
  if ((flags & SWP_NOSIZE) == 0) {
    rect.w = cx;
    rect.h = cy;
  }
  MoveWindow(rect);
  if ((flags & SWP_SHOWWINDOW) != 0) ShowWindow(SW_SHOW);
  if ((flags & SWP_HIDEWINDOW) != 0) ShowWindow(SW_HIDE);
  if ((flags & SWP_NOACTIVATE) == 0 && !child_) SetForegroundWindow();
  return true;
}

void Dialog::SetTopmost(bool topmost) {
  if (topmost) {
    exStyle_ |= WS_EX_TOPMOST;
  } else {
    exStyle_ &= ~static_cast<uint32_t>(WS_EX_TOPMOST);
  }
  if (topmost == topmost_) return;
  topmost_ = topmost;
  EmitDialogChanged(kChangeTopmost);
}

void Dialog::ModifyStyle(uint32_t remove, uint32_t add) { style_ = (style_ & ~remove) | add; }

void Dialog::ModifyStyleEx(uint32_t remove, uint32_t add) {
  uint32_t exStyle = (exStyle_ & ~remove) | add;
  exStyle_ = exStyle;
  SetTopmost((exStyle & WS_EX_TOPMOST) != 0);
}

void Dialog::SetIcon(int iconId, bool big) { (big ? bigIcon_ : smallIcon_) = iconId; }

bool Dialog::SetForegroundWindow() {
  return open_ && desktop_.windows().SetForegroundWindow(hwnd_);
}

void Dialog::Invalidate() {
  if (!open_) return;
  UiEvent event;
  event.kind = UiEventKind::Flush;
  event.dialog = this;
  desktop_.Emit(event);
}

void Dialog::UpdateWindow() { Invalidate(); }

bool Dialog::SetTimer(uint32_t id, uint32_t periodMs) {
  HWND hwnd = hwnd_;
  return hwnd != 0 && desktop_.loop().SetTimer(hwnd, id, periodMs);
}

bool Dialog::KillTimer(uint32_t id) {
  HWND hwnd = hwnd_;
  return hwnd != 0 && desktop_.loop().KillTimer(hwnd, id);
}

bool Dialog::PostMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = hwnd_;
  return hwnd != 0 && desktop_.windows().PostMessage(hwnd, message, wParam, lParam);
}

LRESULT Dialog::SendMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = hwnd_;
  LRESULT result = 0;
  if (hwnd == 0) return 0;
  if (!desktop_.windows().SendMessage(hwnd, message, wParam, lParam, INFINITE, &result)) return 0;
  return result;
}

uint32_t Dialog::RegisterWindowMessage(const std::string& name) {
  return desktop_.windows().RegisterWindowMessage(name);
}

Control* Dialog::GetDlgItem(int id) {
  for (auto& control : controls_) {
    if (control->GetDlgCtrlID() == id) return control.get();
  }
  return nullptr;
}

const Control* Dialog::GetDlgItem(int id) const {
  for (const auto& control : controls_) {
    if (control->GetDlgCtrlID() == id) return control.get();
  }
  return nullptr;
}

Control* Dialog::CreateControl(ControlKind kind, int id, const std::string& caption, Rect rect) {
  if (!open_ || GetDlgItem(id) != nullptr) return nullptr;
  controls_.push_back(std::make_unique<Control>(kind, id, caption, rect));
  Control* control = controls_.back().get();
  control->owner_ = this;
  ControlChanged(*control, kChangeVisible, -1, ItemOp::None, {});
  return control;
}

bool Dialog::SetDlgItemText(int id, const std::string& text) {
  Control* control = GetDlgItem(id);
  if (control == nullptr) return false;
  control->SetWindowText(text);
  return true;
}

std::string Dialog::GetDlgItemText(int id) const {
  const Control* control = GetDlgItem(id);
  return control != nullptr ? control->GetWindowText() : std::string();
}

bool Dialog::CheckDlgButton(int id, int check) {
  Control* control = GetDlgItem(id);
  if (control == nullptr) return false;
  control->SetCheck(check);
  return true;
}

int Dialog::IsDlgButtonChecked(int id) const {
  const Control* control = GetDlgItem(id);
  return control != nullptr ? control->GetCheck() : BST_UNCHECKED;
}

void Dialog::CheckRadio(Control& control) {
  for (auto& other : controls_) {
    if (other.get() != &control && other->Kind() == ControlKind::RadioButton &&
        other->GetGroup() == control.GetGroup()) {
      other->SetCheck(BST_UNCHECKED);
    }
  }
  control.SetCheck(BST_CHECKED);
}

void Dialog::ControlChanged(const Control& control, uint32_t changes, int index, ItemOp op,
                            const std::string& text) {
  if (!open_) return;
  if (!warnedThread_ && !desktop_.loop().IsLoopThread()) {
    warnedThread_ = true;
    Trace("hu::Dialog control %d of dialog %d changed outside the UI thread\n", control.GetDlgCtrlID(),
          resourceId_);
  }
  UiEvent event;
  event.kind = (changes & kChangeLine) != 0 ? UiEventKind::PanelLineChanged : UiEventKind::ControlChanged;
  event.dialog = this;
  event.control = &control;
  event.changes = changes;
  event.index = index;
  event.op = op;
  event.text = text;
  desktop_.Emit(event);
}

void Dialog::EmitDialogChanged(uint32_t changes) {
  if (!open_) return;
  UiEvent event;
  event.kind = UiEventKind::DialogChanged;
  event.dialog = this;
  event.changes = changes;
  desktop_.Emit(event);
}

const Dialog& Dialog::Root() const {
  const Dialog* dialog = this;
  for (;;) {
    const Dialog* up = dialog->parent_ != nullptr ? dialog->parent_ : dialog->owner_;
    if (up == nullptr) return *dialog;
    dialog = up;
  }
}

void Dialog::SetJobResult(int code, const std::string& failureText) {
  Dialog& root = const_cast<Dialog&>(Root());
  root.jobResult_ = code;
  root.jobFailureText_ = code == kJobFailed ? failureText : std::string();
}

}  // namespace hu
