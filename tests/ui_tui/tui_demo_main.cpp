// A small dialog on the terminal front end, for the end-to-end test: a panel,
// a count-down, a progress bar driven by long work with flush hints, and
// buttons.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "common/ui/control.h"
#include "common/ui/dialog.h"
#include "common/ui/dialog_program.h"
#include "common/ui/local_windows.h"
#include "tests/ui/ui_test_support.h"

namespace hu {
namespace {

constexpr int kPanel = 1009;
constexpr int kCounter = 1001;
constexpr int kProgress = 1013;
constexpr int kUpdate = 1005;
constexpr int kCrash = 1006;
constexpr uint32_t kCountTimer = 1;
constexpr uint32_t kWorkTimer = 2;

class DemoDialog : public Dialog {
 public:
  explicit DemoDialog(Desktop& desktop) : Dialog(desktop, 102) {
    Template().title = "TUI demo";
    Template().rect = Rect{0, 0, 800, 480};
    DefineControl(ControlKind::Panel, kPanel, "", Rect{0, 0, 800, 200}).SetPanelLineCount(8);
    DefineControl(ControlKind::Static, kCounter, "", Rect{16, 220, 400, 30});
    DefineControl(ControlKind::Progress, kProgress, "", Rect{16, 280, 600, 30});
    DefineControl(ControlKind::PushButton, kUpdate, "Update", Rect{16, 400, 200, 50});
    DefineControl(ControlKind::PushButton, kCrash, "Quit hard", Rect{280, 400, 200, 50});
    DefineControl(ControlKind::PushButton, IDCANCEL, "Exit", Rect{560, 400, 200, 50});
  }

 protected:
  bool OnInitDialog() override {
    Control* panel = GetDlgItem(kPanel);
    panel->SetPanelLine(0, PanelLine{"Panel says hello", 0, false, Rect{3, 3, 400, 27}});
    // 注意：升级中
    panel->SetPanelLine(1, PanelLine{"\xE6\xB3\xA8\xE6\x84\x8F\xEF\xBC\x9A\xE5\x8D\x87\xE7\xBA\xA7\xE4\xB8\xAD", 255,
                                     true, Rect{3, 33, 400, 27}});
    start_ = GetDesktop().clock().GetTickCount();
    ShowCount();
    SetTimer(kCountTimer, 1000);
    SetTimer(kWorkTimer, 100);
    return true;
  }

  void OnTimer(uint32_t id) override {
    if (id == kCountTimer) {
      --count_;
      ShowCount();
      if (count_ == 0) {
        KillTimer(kCountTimer);
        uint32_t took = GetDesktop().clock().GetTickCount() - start_;
        GetDlgItem(kPanel)->SetPanelLineText(2, "Reached 0 after " + std::to_string(took) + " ms");
      }
    } else if (id == kWorkTimer) {
      // Long work inside a handler that repaints between its steps.
      Control* bar = GetDlgItem(kProgress);
      for (int step = 0; step < 2; ++step) {
        bar->SetPos((bar->GetPos() + 1) % 101);
        UpdateWindow();
        GetDesktop().clock().Sleep(10);
      }
    }
  }

  bool OnCommand(int id) override {
    if (id == kUpdate) {
      GetDlgItem(kPanel)->SetPanelLineText(3, "Clicked Update " + std::to_string(++clicks_));
      std::fprintf(stderr, "note on stderr %d\n", clicks_);
      return true;
    }
    if (id == kCrash) ::_exit(7);  // ends as a reboot of the unit does: no clean-up at all
    return false;
  }

 private:
  void ShowCount() { SetDlgItemText(kCounter, "Count " + std::to_string(count_)); }

  int count_ = 3;
  int clicks_ = 0;
  uint32_t start_ = 0;
};

}  // namespace
}  // namespace hu

int main() {
  hu::RealClock clock;
  hu::LocalWindows windows;
  hu::Desktop desktop(clock, windows);
  desktop.SetTitleHook(windows.TitleHook());
  hu::DemoDialog dialog(desktop);
  hu::UiOptions options;
  options.frontEnd = "tui";
  return hu::RunDialogProgram(desktop, dialog, options);
}
