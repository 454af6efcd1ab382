// A program of the unit for the tests: started through the common start-up
// like the real programs, it does what its device command line asks.
//   window CLASS TITLE  keeps a window until WM_CLOSE; WM_USER+1 (posted)
//                       stores wParam, WM_USER+2 answers it, WM_USER+3
//                       answers the id of "HU_PEER_ADD", which answers
//                       wParam + lParam
//   reboot-once         first boot: starts \Windows\leftover.exe and reboots
//                       the unit; next boot: writes the paths of its snapshot
//                       to \boot2_ps.txt, starts \dravik\$KVR$\App\Appvisor.exe
//                       and closes
//   reboot-always       reboots the unit
//   crash               aborts
//   exit N              ends with exit code N
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/platform/host/host_platform.h"
#include "common/runner/program_main.h"
#include "common/ui/event_loop.h"

namespace {

constexpr uint32_t kRebootCode = 0x0101003C;  // IOCTL_HAL_REBOOT

class PeerWindow : public hu::MessageTarget {
 public:
  PeerWindow(hu::EventLoop& loop, uint32_t addMessage) : loop_(loop), add_(addMessage) {}
  hu::LRESULT HandleMessage(uint32_t message, hu::WPARAM wParam, hu::LPARAM lParam) override {
    if (message == hu::WM_USER + 1) last_ = wParam;
    if (message == hu::WM_USER + 2) return static_cast<hu::LRESULT>(last_);
    if (message == hu::WM_USER + 3) return add_;
    if (message == add_) return static_cast<hu::LRESULT>(wParam) + lParam;
    if (message == hu::WM_CLOSE) loop_.Quit(0);
    return 0;
  }

 private:
  hu::EventLoop& loop_;
  uint32_t add_;
  hu::WPARAM last_ = 0;
};

std::vector<std::string> Words(const std::string& s) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < s.size()) {
    size_t end = s.find(' ', pos);
    if (end == std::string::npos) end = s.size();
    if (end > pos) out.push_back(s.substr(pos, end - pos));
    pos = end + 1;
  }
  return out;
}

int RunWindow(hu::ProgramContext& ctx, const std::string& className, const std::string& title) {
  hu::Windows& windows = ctx.desktop.windows();
  hu::EventLoop& loop = ctx.desktop.loop();
  PeerWindow target(loop, windows.RegisterWindowMessage("HU_PEER_ADD"));
  hu::HWND hwnd = windows.CreateWindow(className, title, &loop);
  if (hwnd == 0) return 3;
  loop.AddTarget(hwnd, &target);
  loop.RunWhile([] { return true; });
  loop.RemoveTarget(hwnd);
  windows.DestroyWindow(hwnd);
  return 0;
}

int RebootOnce(hu::ProgramContext& ctx) {
  auto& platform = static_cast<hu::HostPlatform&>(ctx.platform);
  const std::string marker = platform.unit().dir() + "/fs/boot_marker.txt";
  hu::Processes& processes = ctx.platform.processes();
  if (FILE* f = std::fopen(marker.c_str(), "r")) {
    std::fclose(f);
    FILE* ps = std::fopen((platform.unit().dir() + "/fs/boot2_ps.txt").c_str(), "w");
    if (ps == nullptr) return 4;
    for (const hu::ProcessEntry& e : processes.Snapshot()) std::fprintf(ps, "%s\n", e.exePath.c_str());
    std::fclose(ps);
    if (!processes.CreateProcess("\\dravik\\$KVR$\\App\\Appvisor.exe", "")) return 5;
    std::printf("peer: second boot\n");
    return 0;
  }
  FILE* f = std::fopen(marker.c_str(), "w");
  if (f == nullptr) return 4;
  std::fclose(f);
  if (!processes.CreateProcess("\\Windows\\leftover.exe", "")) return 5;
  std::printf("peer: first boot\n");
  ctx.platform.devices()->KernelIoControl(kRebootCode, nullptr, 0, nullptr, 0, nullptr);
  return 6;  // not reached: the reboot ends the process
}

}  // namespace

int main(int argc, char** argv) {
  hu::ProgramInfo info{"host_proc_peer", "A program of the unit for the tests", "\\Windows\\Peer.exe", "1.0"};
  return hu::ProgramMain(argc, argv, info, [](hu::ProgramContext& ctx) {
    std::vector<std::string> words = Words(ctx.platform.processes().GetCommandLine());
    std::string mode = words.empty() ? "" : words[0];
    if (mode == "window" && words.size() == 3) return RunWindow(ctx, words[1], words[2]);
    if (mode == "reboot-once") return RebootOnce(ctx);
    if (mode == "reboot-always") {
      ctx.platform.devices()->KernelIoControl(kRebootCode, nullptr, 0, nullptr, 0, nullptr);
      return 6;
    }
    if (mode == "crash") std::abort();
    if (mode == "exit" && words.size() == 2) return std::atoi(words[1].c_str());
    std::fprintf(stderr, "host_proc_peer: unknown command line\n");
    return 2;
  });
}
