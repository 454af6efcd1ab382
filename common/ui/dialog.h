#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/platform/windows.h"
#include "common/ui/control.h"
#include "common/ui/desktop.h"
#include "common/ui/event_loop.h"
#include "common/ui/ui_types.h"

namespace hu {

// What a dialog is created from each time it opens (its resource).
struct DialogTemplate {
  std::string title;
  Rect rect;                      // pixels; a child page's rectangle is in its parent
  std::string className = "#32770";
  bool visible = true;            // shown after OnInitDialog; child pages start hidden
  uint32_t style = WS_VISIBLE;
  uint32_t exStyle = 0;
};

// A dialog of the retained control model. Product dialogs derive from it,
// define their controls in the constructor with DefineControl, and react in the
// On* handlers; they never draw. The controls are made afresh from the
// definitions each time the dialog opens, as from a resource template.
//
//   class CAutoUpdateDlg : public hu::Dialog {
//    public:
//     explicit CAutoUpdateDlg(hu::Desktop& desktop) : Dialog(desktop, 129) {
//       DefineControl(hu::ControlKind::PushButton, hu::IDOK, "Update Now");
//       DefineControl(hu::ControlKind::PushButton, hu::IDCANCEL, "Cancel Update");
//     }
//    protected:
//     bool OnInitDialog() override { SetTimer(105, 1000); return true; }
//     void OnTimer(uint32_t id) override { if (id == 105 && --m_nCount < 0) OnOK(); }
//     void OnOK() override { KillTimer(105); EndDialog(hu::IDOK); }
//    private:
//     int m_nCount = 5;
//   };
//
// Everything here belongs to the UI thread except PostMessage, SetTimer and
// KillTimer, which any thread may call.
class Dialog : private MessageTarget {
 public:
  // `parent` is the owner of a modal dialog; child pages get theirs from Create.
  Dialog(Desktop& desktop, int resourceId, Dialog* parent = nullptr);
  ~Dialog() override;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Definition (any time; takes effect at the next opening).
  DialogTemplate& Template() { return template_; }
  // Returns the prototype, whose setters (SetMultiLine, SetGroup, SetRange ...)
  // give the control's initial state.
  Control& DefineControl(ControlKind kind, int id, const std::string& caption = {}, Rect rect = {});

  // Runs the dialog modally on this thread: creates it, calls OnInitDialog,
  // runs a nested loop until EndDialog and destroys it. Returns the EndDialog
  // result, -1 when it could not be created or the loop was quit.
  int DoModal();
  // Creates the dialog modeless; with a parent it is a child page of it (it
  // moves and hides with the parent and never counts as the top dialog).
  bool Create(Dialog* parent = nullptr);
  // Ends a modal dialog with `result` once the current handler returns; a
  // modeless dialog is destroyed.
  void EndDialog(int result);
  void DestroyWindow();

  bool IsOpen() const { return open_; }
  bool IsModal() const { return modal_; }
  bool IsChild() const { return child_; }
  int ResourceId() const { return resourceId_; }
  HWND GetSafeHwnd() const { return hwnd_.load(); }
  Dialog* GetParent() const { return parent_; }
  Desktop& GetDesktop() const { return desktop_; }
  std::vector<Dialog*> GetChildren() const;

  void SetWindowText(const std::string& title);
  const std::string& GetWindowText() const { return title_; }
  void ShowWindow(int showCommand);
  bool IsWindowVisible() const { return visible_; }
  // Visible with every parent page: what a person can see.
  bool IsShown() const;
  bool IsControlShown(const Control& control) const;
  // Moves and sizes the window; a new size reaches OnSize at once.
  void MoveWindow(int x, int y, int w, int h, bool repaint = true);
  void MoveWindow(const Rect& rect, bool repaint = true) { MoveWindow(rect.x, rect.y, rect.w, rect.h, repaint); }
  bool SetWindowPos(int insertAfter, int x, int y, int cx, int cy, uint32_t flags);
  const Rect& GetWindowRect() const { return rect_; }
  Rect GetClientRect() const { return Rect{0, 0, rect_.w, rect_.h}; }
  bool IsTopmost() const { return topmost_; }
  uint32_t GetStyle() const { return style_; }
  uint32_t GetExStyle() const { return exStyle_; }
  void ModifyStyle(uint32_t remove, uint32_t add);
  // WS_EX_TOPMOST also sets the topmost state.
  void ModifyStyleEx(uint32_t remove, uint32_t add);
  void SetIcon(int iconId, bool big);
  int GetIcon(bool big) const { return big ? bigIcon_ : smallIcon_; }
  bool SetForegroundWindow();
  int GetSystemMetrics(int index) const { return desktop_.GetSystemMetrics(index); }
  // Hints that the front ends should show the current state now: long work in
  // a handler repaints between its steps.
  void Invalidate();
  void UpdateWindow();

  bool SetTimer(uint32_t id, uint32_t periodMs);
  bool KillTimer(uint32_t id);
  bool PostMessage(uint32_t message, WPARAM wParam = 0, LPARAM lParam = 0);
  // To this dialog, without time-out: from its own thread the handler runs at
  // once; another thread waits until the UI thread has handled it.
  LRESULT SendMessage(uint32_t message, WPARAM wParam = 0, LPARAM lParam = 0);
  uint32_t RegisterWindowMessage(const std::string& name);
  // The message being handled now (for the notification code of a command).
  const WindowMessage& GetCurrentMessage() const { return current_; }

  Control* GetDlgItem(int id);
  const Control* GetDlgItem(int id) const;
  const std::vector<std::unique_ptr<Control>>& Controls() const { return controls_; }
  // A control added while the dialog is open; null when the id is taken.
  Control* CreateControl(ControlKind kind, int id, const std::string& caption = {}, Rect rect = {});
  bool SetDlgItemText(int id, const std::string& text);
  std::string GetDlgItemText(int id) const;
  bool CheckDlgButton(int id, int check);
  int IsDlgButtonChecked(int id) const;
  // Checks `control` and unchecks the other radio buttons of its group.
  void CheckRadio(Control& control);

  // The result of the job the user (or the command line) started last, told
  // by whichever dialog ran it: kJobDone, kJobFailed with the text the
  // message area showed, or kJobNothingToDo. It is kept by the program's main
  // dialog (the root of the owner and page chain), and RunDialogProgram
  // returns it when that dialog closes; a program that never tells one exits
  // with 0. UI thread.
  void SetJobResult(int code, const std::string& failureText = {});
  int JobResult() const { return Root().jobResult_; }
  const std::string& JobFailureText() const { return Root().jobFailureText_; }

  // The window procedure: routes a message to the handlers below. The loop
  // calls it; tests and front ends may too (UI thread).
  LRESULT WindowProc(uint32_t message, WPARAM wParam, LPARAM lParam);

 protected:
  virtual bool OnInitDialog() { return true; }
  // WM_COMMAND; return false for ids you do not handle (IDOK and IDCANCEL then
  // go to OnOK and OnCancel).
  virtual bool OnCommand(int id) { (void)id; return false; }
  // WM_NOTIFY from a list, tree or tab control.
  virtual bool OnNotify(int id, int code) { (void)id; (void)code; return false; }
  virtual void OnTimer(uint32_t id) { (void)id; }
  // Any other message, registered and WM_USER ones included; return true when
  // handled (SetMessageResult gives SendMessage its answer).
  virtual bool OnMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
    (void)message; (void)wParam; (void)lParam;
    return false;
  }
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  virtual void OnClose() { OnCancel(); }
  virtual void OnDestroy() {}
  virtual void OnLButtonDown(int x, int y) { (void)x; (void)y; }
  virtual void OnLButtonUp(int x, int y) { (void)x; (void)y; }
  virtual void OnSize(int cx, int cy) { (void)cx; (void)cy; }
  void SetMessageResult(LRESULT result) { messageResult_ = result; }

 private:
  friend class Control;
  friend class Desktop;
  LRESULT HandleMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override {
    return WindowProc(message, wParam, lParam);
  }
  bool CreateWindowInternal(Dialog* parent, bool modal);
  void DestroyInternal();
  void ControlChanged(const Control& control, uint32_t changes, int index, ItemOp op, const std::string& text);
  void EmitDialogChanged(uint32_t changes);
  void SetTopmost(bool topmost);
  void SetVisible(bool visible);
  const Dialog& Root() const;

  Desktop& desktop_;
  int resourceId_;
  Dialog* owner_;
  DialogTemplate template_;
  std::vector<std::unique_ptr<Control>> prototypes_;

  Dialog* parent_ = nullptr;
  bool child_ = false;
  bool open_ = false;
  bool modal_ = false;
  bool ended_ = false;
  bool destroying_ = false;
  bool showSetDuringInit_ = false;
  int result_ = -1;
  std::atomic<HWND> hwnd_{0};  // read by SetTimer/PostMessage from other threads
  std::string title_;
  Rect rect_;
  bool visible_ = false;
  bool topmost_ = false;
  uint32_t style_ = 0;
  uint32_t exStyle_ = 0;
  int bigIcon_ = 0;
  int smallIcon_ = 0;
  std::vector<std::unique_ptr<Control>> controls_;
  WindowMessage current_;
  LRESULT messageResult_ = 0;
  bool warnedThread_ = false;
  int jobResult_ = kJobDone;
  std::string jobFailureText_;
};

}  // namespace hu
