// One of the head unit's own programs as a stand-in: it owns the window the
// service tools look for and ends when that window is closed (or when it is
// terminated). "--title T" and "--class C" (default: the title) name the
// window; without a title it owns none and runs until terminated.
#include <cstring>
#include <string>
#include <vector>

#include "common/runner/program_main.h"
#include "common/ui/event_loop.h"

namespace {

class SiblingTarget : public hu::MessageTarget {
 public:
  explicit SiblingTarget(hu::EventLoop& loop) : loop_(loop) {}
  hu::LRESULT HandleMessage(uint32_t message, hu::WPARAM, hu::LPARAM) override {
    if (message == hu::WM_CLOSE || message == hu::WM_DESTROY) loop_.Quit(0);
    return 0;
  }

 private:
  hu::EventLoop& loop_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string title, className;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && i + 1 < argc && std::strcmp(argv[i], "--title") == 0) {
      title = argv[++i];
      continue;
    }
    if (i > 0 && i + 1 < argc && std::strcmp(argv[i], "--class") == 0) {
      className = argv[++i];
      continue;
    }
    args.push_back(argv[i]);
  }
  args.push_back(nullptr);
  if (className.empty()) className = title;
  hu::ProgramInfo info{"sibling", "One of the head unit's own programs (stand-in)", "\\Windows\\sibling.exe", "1.0"};
  return hu::ProgramMain(static_cast<int>(args.size()) - 1, args.data(), info,
                         [&title, &className](hu::ProgramContext& ctx) {
                           hu::EventLoop& loop = ctx.desktop.loop();
                           hu::Windows& windows = ctx.desktop.windows();
                           hu::HWND hwnd = 0;
                           SiblingTarget target(loop);
                           if (!title.empty()) {
                             hwnd = windows.CreateWindow(className, title, &loop);
                             if (hwnd == 0) return 1;
                             loop.AddTarget(hwnd, &target);
                           }
                           loop.RunWhile([] { return true; });
                           if (hwnd != 0) {
                             loop.RemoveTarget(hwnd);
                             windows.DestroyWindow(hwnd);
                           }
                           return 0;
                         });
}
