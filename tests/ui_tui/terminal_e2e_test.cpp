// The terminal front end for real: the demo program in a tmux pane of
// 100 x 30, driven by keys and read back from the pane.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

namespace hu {
namespace {

using Clock = std::chrono::steady_clock;

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

bool HaveTmux() { return std::system("command -v tmux >/dev/null 2>&1") == 0; }

// One tmux server of our own, with the demo run by a small script that
// reports how it ended and the terminal modes it left behind.
class Pane {
 public:
  explicit Pane(const std::string& name)
      : socket_("hu_tui_" + name + "_" + std::to_string(::getpid())),
        script_(::testing::TempDir() + socket_ + ".sh") {
    std::ofstream out(script_);
    out << "export LANG=C.UTF-8 LC_ALL=C.UTF-8\n"
        << "trap true INT\n"  // the script outlives a Ctrl-C; the demo gets it as usual
        << "'" << HU_TUI_DEMO << "'\n"
        << "rc=$?\n"
        << "sleep 0.3\n"
        << "echo \"EXIT=$rc\"\n"
        << "echo \"MODES=$(stty -a | tr ' ;' '\\n\\n' | grep -xE -- '-?(icanon|echo|isig)' | tr '\\n' ' ')\"\n"
        << "sleep 30\n";
  }
  ~Pane() {
    Tmux("kill-server");
    std::remove(script_.c_str());
  }

  std::string Tmux(const std::string& args) const {
    return Shell("env -u TMUX tmux -u -f /dev/null -L " + socket_ + " " + args);
  }
  void Start() { Tmux("new-session -d -x 100 -y 30 -s demo 'sh " + script_ + "'"); }
  std::string Screen() const { return Tmux("capture-pane -p -t demo"); }
  void Keys(const std::string& keys) const { Tmux("send-keys -t demo " + keys); }
  bool Alternate() const { return Tmux("display-message -p -t demo '#{alternate_on}'").rfind("1", 0) == 0; }

  // Polls the pane until `text` shows; the screen then is left in *screen.
  bool WaitFor(const std::string& text, int ms, std::string* screen = nullptr) const {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    std::string s;
    do {
      s = Screen();
      if (s.find(text) != std::string::npos) {
        if (screen != nullptr) *screen = s;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < end);
    if (screen != nullptr) *screen = s;
    return false;
  }

 private:
  std::string socket_;
  std::string script_;
};

void ExpectSaneModes(const Pane& pane) {
  std::string screen;
  ASSERT_TRUE(pane.WaitFor("MODES=", 3000, &screen)) << screen;
  std::smatch m;
  std::string modes = std::regex_search(screen, m, std::regex("MODES=([^\n]*)")) ? m[1].str() : "";
  EXPECT_NE(modes.find("icanon"), std::string::npos) << modes;
  EXPECT_EQ(modes.find("-icanon"), std::string::npos) << modes;
  EXPECT_EQ(modes.find("-echo"), std::string::npos) << modes;
  EXPECT_NE(modes.find("echo"), std::string::npos) << modes;
  EXPECT_FALSE(pane.Alternate());
}

// Where "[ Exit ]" starts on its line, -1 when it is not on the screen.
int ExitColumn(const std::string& screen) {
  size_t at = screen.find("[ Exit ]");
  if (at == std::string::npos) return -1;
  size_t lineStart = screen.rfind('\n', at);
  return static_cast<int>(at - (lineStart == std::string::npos ? 0 : lineStart + 1));
}

#ifdef HU_TUI_DEMO

TEST(TerminalEndToEnd, ShowsTheDialogKeepsTimeAndAnswersKeys) {
  if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed";
  Pane pane("main");
  pane.Start();
  std::string screen;
  ASSERT_TRUE(pane.WaitFor("Count 3", 3000, &screen)) << screen;
  auto shown = Clock::now();
  EXPECT_NE(screen.find("TUI demo"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Panel says hello"), std::string::npos) << screen;
  EXPECT_NE(screen.find("\xE6\xB3\xA8\xE6\x84\x8F\xEF\xBC\x9A\xE5\x8D\x87\xE7\xBA\xA7\xE4\xB8\xAD"), std::string::npos)
      << screen;
  EXPECT_NE(screen.find("[ Update ]"), std::string::npos) << screen;
  EXPECT_TRUE(pane.Alternate());

  // A hot key, then Enter on the focused first button.
  pane.Keys("u");
  ASSERT_TRUE(pane.WaitFor("Clicked Update 1", 2000, &screen)) << screen;
  pane.Keys("Enter");
  ASSERT_TRUE(pane.WaitFor("Clicked Update 2", 2000, &screen)) << screen;
  // A click of the mouse (X10 reports: button 1 down, then up) on the button.
  int row = 0;
  int col = -1;
  for (size_t pos = 0; pos < screen.size(); ++row) {
    size_t end = screen.find('\n', pos);
    std::string line = screen.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    bool ascii = std::all_of(line.begin(), line.end(), [](char c) { return (c & 0x80) == 0; });
    if (ascii && line.find("[ Update ]") != std::string::npos) {
      col = static_cast<int>(line.find("[ Update ]")) + 3;
      break;
    }
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  ASSERT_GE(col, 0) << screen;
  char report[64];
  std::snprintf(report, sizeof report, "1b 5b 4d 20 %02x %02x 1b 5b 4d 23 %02x %02x", col + 33, row + 33, col + 33,
                row + 33);
  pane.Keys(std::string("-H ") + report);
  ASSERT_TRUE(pane.WaitFor("Clicked Update 3", 2000, &screen)) << screen;
  EXPECT_EQ(screen.find("note on stderr"), std::string::npos) << screen;  // held back while drawing

  // A smaller terminal: everything is laid out again to fit.
  int exitBefore = ExitColumn(screen);
  pane.Tmux("resize-window -t demo -x 60 -y 20");
  auto resized = Clock::now() + std::chrono::seconds(2);
  // A capture may catch the redraw half done: wait for the whole new layout.
  auto laidOut = [&](const std::string& s) {
    int column = ExitColumn(s);
    return column > 0 && column != exitBefore && s.find("Panel says hello") != std::string::npos;
  };
  screen = pane.Screen();
  while (Clock::now() < resized && !laidOut(screen)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    screen = pane.Screen();
  }
  int exitAfter = ExitColumn(screen);
  EXPECT_GT(exitAfter, 0) << screen;
  EXPECT_LE(exitAfter + 8, 60) << screen;
  EXPECT_NE(screen.find("Panel says hello"), std::string::npos) << screen;

  // The bar moves while the count-down runs at its own pace.
  std::smatch m;
  std::regex percent("\\] +([0-9]+)%");
  ASSERT_TRUE(std::regex_search(screen, m, percent)) << screen;
  int before = std::stoi(m[1].str());
  ASSERT_TRUE(pane.WaitFor("Count 0", 4500, &screen)) << screen;
  double seconds = std::chrono::duration<double>(Clock::now() - shown).count();
  EXPECT_GT(seconds, 2.5);
  EXPECT_LT(seconds, 4.2);
  ASSERT_TRUE(pane.WaitFor("Reached 0 after", 1000, &screen)) << screen;
  ASSERT_TRUE(std::regex_search(screen, m, std::regex("Reached 0 after ([0-9]+) ms"))) << screen;
  int took = std::stoi(m[1].str());
  EXPECT_GE(took, 2990);
  // Three ticks of 1000 ms, each late by a work step at most; an input poll
  // that held the loop would push them out by far more.
  EXPECT_LE(took, 3400);
  ASSERT_TRUE(std::regex_search(screen, m, percent)) << screen;
  EXPECT_NE(std::stoi(m[1].str()), before);

  pane.Keys("Escape");
  ASSERT_TRUE(pane.WaitFor("EXIT=0", 3000, &screen)) << screen;
  EXPECT_NE(screen.find("note on stderr 1\nnote on stderr 2\nnote on stderr 3\n"), std::string::npos) << screen;
  ExpectSaneModes(pane);
}

TEST(TerminalEndToEnd, InterruptGivesTheTerminalBack) {
  if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed";
  Pane pane("int");
  pane.Start();
  std::string screen;
  ASSERT_TRUE(pane.WaitFor("Count 3", 3000, &screen)) << screen;
  pane.Keys("C-c");
  ASSERT_TRUE(pane.WaitFor("EXIT=130", 3000, &screen)) << screen;
  ExpectSaneModes(pane);
}

TEST(TerminalEndToEnd, AnEndWithoutCleanUpGivesTheTerminalBack) {
  if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed";
  Pane pane("hard");
  pane.Start();
  std::string screen;
  ASSERT_TRUE(pane.WaitFor("Count 3", 3000, &screen)) << screen;
  pane.Keys("q");  // "Quit hard": _exit, as when the unit reboots
  ASSERT_TRUE(pane.WaitFor("EXIT=7", 3000, &screen)) << screen;
  ExpectSaneModes(pane);
}

#else

TEST(TerminalEndToEnd, NeedsTheTerminalFrontEnd) { GTEST_SKIP() << "built without the terminal front end"; }

#endif

}  // namespace
}  // namespace hu
