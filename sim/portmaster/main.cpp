// The serial arbiter stand-in as a program of the unit. "--stubborn" (or the
// device command line "stubborn") makes it keep the port whatever it is asked.
#include <cstring>
#include <vector>

#include "common/runner/program_main.h"
#include "common/ui/event_loop.h"
#include "sim/portmaster/port_master.h"

namespace {

constexpr uint32_t kRetryTimerId = 1;
constexpr uint32_t kRetryMs = 1000;

class PortMasterTarget : public hu::MessageTarget {
 public:
  PortMasterTarget(hu::CPortMaster& arbiter, hu::EventLoop& loop) : arbiter_(arbiter), loop_(loop) {}
  hu::LRESULT HandleMessage(uint32_t message, hu::WPARAM wParam, hu::LPARAM lParam) override {
    if (message == hu::WM_TIMER) {
      arbiter_.OnTimer();
    } else if (message == hu::WM_CLOSE || message == hu::WM_DESTROY) {
      loop_.Quit(0);
    } else {
      arbiter_.HandleMessage(message, wParam, lParam);
    }
    return 0;
  }

 private:
  hu::CPortMaster& arbiter_;
  hu::EventLoop& loop_;
};

}  // namespace

int main(int argc, char** argv) {
  bool stubborn = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && std::strcmp(argv[i], "--stubborn") == 0) {
      stubborn = true;
      continue;
    }
    args.push_back(argv[i]);
  }
  args.push_back(nullptr);
  hu::ProgramInfo info{"portmaster", "Portmaster, the unit's serial arbiter (stand-in)", hu::CPortMaster::kModulePath,
                       "1.0"};
  return hu::ProgramMain(static_cast<int>(args.size()) - 1, args.data(), info, [stubborn](hu::ProgramContext& ctx) {
    hu::CPortMaster::Options options;
    options.stubborn = stubborn || ctx.platform.processes().GetCommandLine().find("stubborn") != std::string::npos;
    hu::EventLoop& loop = ctx.desktop.loop();
    hu::CPortMaster arbiter(ctx.desktop.windows(), ctx.platform.serial(), options);
    if (!arbiter.Start(&loop)) return 1;
    PortMasterTarget target(arbiter, loop);
    loop.AddTarget(arbiter.Window(), &target);
    loop.SetTimer(arbiter.Window(), kRetryTimerId, kRetryMs);
    loop.RunWhile([] { return true; });
    loop.RemoveTarget(arbiter.Window());
    arbiter.Stop();
    return 0;
  });
}
