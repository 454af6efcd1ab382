// The three programs in a real terminal: tmux runs them, send-keys types and
// capture-pane reads the screen, as a person would use them.
#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"

namespace hu::e2e {
namespace {

bool HaveTmux() { return std::system("command -v tmux >/dev/null 2>&1") == 0; }

// One tmux server of our own running one program.
class Terminal {
 public:
  explicit Terminal(const std::string& command, int cols = 100, int rows = 30)
      : socket_("hu_tui_" + std::to_string(::getpid())) {
    Tmux("new-session -d -x " + std::to_string(cols) + " -y " + std::to_string(rows) + " " +
         Quote("exec " + command));
  }
  ~Terminal() { Tmux("kill-server"); }

  std::string Screen() { return RunProgram({"/bin/sh", "-c", TmuxCommand("capture-pane -p")}).out; }
  void Keys(const std::string& keys) { Tmux("send-keys " + keys); }
  bool Alive() { return RunProgram({"/bin/sh", "-c", TmuxCommand("has-session")}).exitCode == 0; }
  // Waits until the screen shows `text`; false after `ms` of real time.
  bool WaitFor(const std::string& text, int ms) {
    for (int waited = 0; waited < ms; waited += 50) {
      if (Screen().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  bool WaitForEnd(int ms) {
    for (int waited = 0; waited < ms; waited += 50) {
      if (!Alive()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

 private:
  static std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  }
  std::string TmuxCommand(const std::string& args) const {
    return "env -u TMUX LANG=C.UTF-8 tmux -u -f /dev/null -L " + socket_ + " " + args + " 2>/dev/null";
  }
  void Tmux(const std::string& args) { RunProgram({"/bin/sh", "-c", TmuxCommand(args)}); }

  std::string socket_;
};

TEST(TerminalE2E, UpdaterShowsVerdictsCountsDownAndUpdates) {
  if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed";
  TestUnit unit({"--os-version", "3A1F0C01234567"}, 0.2);
  unit.Put("StorageCard/UpdateKitM/LOGO2.BMP", "LOGO TWO");
  Terminal terminal(Bin("sysmend") + " --unit " + unit.dir());
  ASSERT_TRUE(terminal.WaitFor("logo File is valid ! (ver: LOGO2)", 10000)) << terminal.Screen();
  terminal.Keys("U");
  ASSERT_TRUE(terminal.WaitFor("Update Now", 5000)) << terminal.Screen();
  EXPECT_TRUE(terminal.WaitFor("Cancel Update", 1000));
  // The count-down runs by itself and the update follows it to the reboot.
  EXPECT_TRUE(terminal.WaitForEnd(20000)) << terminal.Screen();
  EXPECT_EQ(unit.Read("flash/logo2.img"), "LOGO TWO");
  EXPECT_TRUE(unit.Exists("reboot.flag"));
}

TEST(TerminalE2E, McuUpdaterShowsProgressAndTheResult) {
  if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed";
  TestUnit unit({"--cpu", "MSTAR786", "--project", "19"}, 0.1);
  unit.Put("StorageCard/Mcuflash/app.s19", S19Text(ImageBytes(20000, 3)));
  Served serve(unit, {});
  ASSERT_TRUE(serve.ready()) << serve.Output();
  Terminal terminal(Bin("mcuflash") + " --unit " + unit.dir());
  ASSERT_TRUE(terminal.WaitFor("Find a valid file", 15000)) << terminal.Screen();
  terminal.Keys("M");
  EXPECT_TRUE(terminal.WaitFor("Mcu update successfully!", 30000)) << terminal.Screen();
  EXPECT_NE(terminal.Screen().find("100%"), std::string::npos) << terminal.Screen();
  EXPECT_EQ(unit.Read("flash/mcu.bin").substr(0, 20000), ImageBytes(20000, 3));
}

TEST(TerminalE2E, CanToolSwitchesTabs) {
  if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed";
  TestUnit unit({}, 0.1);
  Terminal terminal(Bin("canprobe") + " --unit " + unit.dir());
  ASSERT_TRUE(terminal.WaitFor("升级CAN盒", 10000)) << terminal.Screen();
  EXPECT_EQ(terminal.Screen().find("ShowOwner"), std::string::npos);
  // Focus starts on the tab control; Right goes to the receive page.
  terminal.Keys("Right");
  EXPECT_TRUE(terminal.WaitFor("ShowOwner", 3000)) << terminal.Screen();
  EXPECT_EQ(terminal.Screen().find("升级CAN盒"), std::string::npos) << terminal.Screen();
}

// The smallest usual terminal: every label whole and the keys told on the
// last row.
TEST(TerminalE2E, At80x24LabelsAreWholeAndTheKeysAreTold) {
  if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed (Debian package tmux; scripts/setup installs it)";
  TestUnit unit({"--os-version", "3A1F0C01234567"}, 0.2);
  unit.Put("StorageCard/UpdateKitM/LOGO2.BMP", "LOGO TWO");
  {
    Terminal terminal(Bin("sysmend") + " --unit " + unit.dir(), 80, 24);
    ASSERT_TRUE(terminal.WaitFor("logo File is valid ! (ver: LOGO2)", 10000)) << terminal.Screen();
    std::string screen = terminal.Screen();
    EXPECT_NE(screen.find("[ ] Format,It will set defaults "), std::string::npos) << screen;
    EXPECT_NE(screen.find("[ Update ]"), std::string::npos) << screen;
    EXPECT_NE(screen.find("[ Exit ]"), std::string::npos) << screen;
    EXPECT_NE(screen.find(" Tab next  Enter press  Esc cancel  1-9 a-z"), std::string::npos) << screen;
  }
  Terminal terminal(Bin("canprobe") + " --unit " + unit.dir(), 80, 24);
  ASSERT_TRUE(terminal.WaitFor("English", 10000)) << terminal.Screen();
  std::string screen = terminal.Screen();
  EXPECT_NE(screen.find("( ) English"), std::string::npos) << screen;
  EXPECT_NE(screen.find("[Update]  Recv   Send   Oper"), std::string::npos) << screen;
  EXPECT_NE(screen.find(" Tab next  Left/Right page"), std::string::npos) << screen;
}

}  // namespace
}  // namespace hu::e2e
