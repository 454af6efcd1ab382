#include "common/ui/terminal_front_end.h"

#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstring>

#include "common/platform/sync.h"
#include "common/platform/trace.h"
#include "common/ui/terminal_guard.h"
#include "common/ui/tui_canvas.h"

// Last, and without its macros (they would clash with names such as clear or
// erase used everywhere else).
#define NCURSES_NOMACROS 1
#define NCURSES_WIDECHAR 1
#include <curses.h>

namespace hu {

namespace {

constexpr auto kLivePaintInterval = std::chrono::milliseconds(50);
constexpr uint32_t kPollMs = 30;
constexpr short kRedPair = 1;

SCREEN* AsScreen(void* screen) { return static_cast<SCREEN*>(screen); }

bool LocaleIsUtf8() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
}

std::string Capability(const char* name) {
  char* value = tigetstr(name);
  if (value == nullptr || value == reinterpret_cast<char*>(-1)) return {};
  return value;
}

TuiKey KeyOf(TuiKeyCode code, char32_t ch = 0) { return TuiKey{code, ch}; }

}  // namespace

class TerminalFrontEnd::CursesCanvas : public TuiCanvas {
 public:
  CursesCanvas(bool utf8, bool colours) : utf8_(utf8), colours_(colours) {}

  int Rows() const override { return getmaxy(stdscr); }
  int Cols() const override { return getmaxx(stdscr); }

 protected:
  void PutGlyph(int row, int col, const std::string& bytes, int width, uint32_t attrs) override {
    wattr_set(stdscr, Attributes(attrs), Pair(attrs), nullptr);
    if (!utf8_ && static_cast<unsigned char>(bytes[0]) >= 0x80) {
      // A terminal without UTF-8 gets a stand-in of the same width.
      mvwaddnstr(stdscr, row, col, "??", width);
    } else {
      mvwaddnstr(stdscr, row, col, bytes.data(), static_cast<int>(bytes.size()));
    }
  }

  void PutSymbol(int row, int col, FrameSymbol symbol, uint32_t attrs) override {
    chtype ch = ACS_HLINE;
    switch (symbol) {
      case FrameSymbol::Horizontal: ch = ACS_HLINE; break;
      case FrameSymbol::Vertical: ch = ACS_VLINE; break;
      case FrameSymbol::TopLeft: ch = ACS_ULCORNER; break;
      case FrameSymbol::TopRight: ch = ACS_URCORNER; break;
      case FrameSymbol::BottomLeft: ch = ACS_LLCORNER; break;
      case FrameSymbol::BottomRight: ch = ACS_LRCORNER; break;
    }
    wattr_set(stdscr, Attributes(attrs), Pair(attrs), nullptr);
    mvwaddch(stdscr, row, col, ch);
  }

  void ClearAll() override {
    wattr_set(stdscr, A_NORMAL, 0, nullptr);
    werase(stdscr);
  }

 private:
  attr_t Attributes(uint32_t attrs) const {
    attr_t a = A_NORMAL;
    if ((attrs & kAttrBold) != 0) a |= A_BOLD;
    if ((attrs & kAttrDim) != 0) a |= A_DIM;
    if ((attrs & kAttrReverse) != 0) a |= A_REVERSE;
    if ((attrs & kAttrUnderline) != 0) a |= A_UNDERLINE;
    // Without colours red text stands out by weight.
    if ((attrs & kAttrRed) != 0 && !colours_) a |= A_BOLD;
    return a;
  }
  short Pair(uint32_t attrs) const { return (attrs & kAttrRed) != 0 && colours_ ? kRedPair : 0; }

  bool utf8_;
  bool colours_;
};

TerminalFrontEnd::TerminalFrontEnd(Desktop& desktop) : desktop_(desktop), view_(desktop) {}

TerminalFrontEnd::~TerminalFrontEnd() { Stop(); }

bool TerminalFrontEnd::Start(std::string* error) {
  if (Active()) return true;
  if (!::isatty(STDOUT_FILENO)) {
    *error = "standard output is not a terminal";
    return false;
  }
  if (::isatty(STDIN_FILENO)) {
    input_ = stdin;
    ownInput_ = false;
  } else {
    input_ = std::fopen("/dev/tty", "re");
    ownInput_ = input_ != nullptr;
    if (input_ == nullptr) {
      *error = "no terminal to read keys from";
      return false;
    }
  }
  std::setlocale(LC_CTYPE, "");
  bool utf8 = LocaleIsUtf8();
  std::fflush(stdout);
  TerminalGuard::Begin(STDOUT_FILENO);
  SCREEN* screen = newterm(nullptr, stdout, input_);
  if (screen == nullptr) {
    TerminalGuard::End();
    const char* term = std::getenv("TERM");
    *error = std::string("the terminal type \"") + (term ? term : "") + "\" is unknown";
    if (ownInput_) std::fclose(input_);
    input_ = nullptr;
    return false;
  }
  screen_ = screen;
  set_term(screen);
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  intrflush(stdscr, FALSE);
  set_escdelay(25);
  curs_set(0);
  bool colours = has_colors();
  if (colours) {
    start_color();
    use_default_colors();
    init_pair(kRedPair, COLOR_RED, -1);
  }
  mousemask(BUTTON1_PRESSED | BUTTON1_RELEASED | BUTTON1_CLICKED, nullptr);
  mouseinterval(0);
  // What puts the screen back should the process end without us.
  std::string reset = Capability("sgr0");
  if (!Capability("kmous").empty()) reset += "\033[?1006l\033[?1002l\033[?1000l";
  reset += Capability("rmkx") + Capability("cnorm") + Capability("rmcup");
  TerminalGuard::Arm(reset);

  HoldStandardError();
  canvas_ = std::make_unique<CursesCanvas>(utf8, colours);
  lastPaint_ = std::chrono::steady_clock::now() - kLivePaintInterval;
  rateStart_ = std::chrono::steady_clock::now();
  rateUnitStart_ = desktop_.clock().GetTickCount();
  desktop_.AddObserver(this);
  desktop_.loop().AddAgent(this);
  dirty_ = true;
  Paint();
  return true;
}

void TerminalFrontEnd::Stop() {
  if (!Active()) return;
  desktop_.RemoveObserver(this);
  desktop_.loop().RemoveAgent(this);
  endwin();
  delscreen(AsScreen(screen_));
  screen_ = nullptr;
  canvas_.reset();
  if (ownInput_ && input_ != nullptr) std::fclose(input_);
  input_ = nullptr;
  TerminalGuard::End();
  std::fflush(stdout);
  ReleaseStandardError();
}

void TerminalFrontEnd::HoldStandardError() {
  struct stat err {};
  struct stat out {};
  if (::fstat(STDERR_FILENO, &err) != 0 || ::fstat(STDOUT_FILENO, &out) != 0) return;
  if (!S_ISCHR(err.st_mode) || err.st_rdev != out.st_rdev) return;
  FILE* held = std::tmpfile();
  if (held == nullptr) return;
  // Programs started meanwhile write their errors to the held copy (their
  // standard error), but get no other handle of it or of the terminal's.
  ::fcntl(::fileno(held), F_SETFD, FD_CLOEXEC);
  std::fflush(stderr);
  int saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (saved < 0 || ::dup2(::fileno(held), STDERR_FILENO) < 0) {
    if (saved >= 0) ::close(saved);
    std::fclose(held);
    return;
  }
  savedStderr_ = saved;
  heldStderr_ = held;
}

void TerminalFrontEnd::ReleaseStandardError() {
  if (heldStderr_ == nullptr) return;
  std::fflush(stderr);
  ::dup2(savedStderr_, STDERR_FILENO);
  ::close(savedStderr_);
  savedStderr_ = -1;
  std::rewind(heldStderr_);
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, heldStderr_)) > 0) {
    if (::write(STDERR_FILENO, buffer, n) < 0) break;
  }
  std::fclose(heldStderr_);
  heldStderr_ = nullptr;
}

void TerminalFrontEnd::Paint() {
  if (!Active() || painting_) return;
  painting_ = true;
  if (view_.TakeRedrawRequest() || resized_) clearok(curscr, TRUE);
  resized_ = false;
  dirty_ = false;
  view_.Paint(*canvas_);
  wnoutrefresh(stdscr);
  doupdate();
  lastPaint_ = std::chrono::steady_clock::now();
  painting_ = false;
}

void TerminalFrontEnd::OnUiEvent(const UiEvent& event) {
  if (!Active()) return;
  dirty_ = true;
  // Curses belongs to the UI thread; a change made elsewhere waits for it.
  if (!desktop_.loop().IsLoopThread() || handling_ || painting_) return;
  if (event.kind == UiEventKind::Flush) {
    ReadInput();
    Paint();
    return;
  }
  if (std::chrono::steady_clock::now() - lastPaint_ >= kLivePaintInterval) Paint();
}

bool TerminalFrontEnd::ReadInput() {
  bool any = false;
  // Bounded, so that a flood of input cannot hold the UI thread.
  for (int n = 0; n < 256; ++n) {
    wint_t ch = 0;
    int kind = wget_wch(stdscr, &ch);
    if (kind == ERR) break;
    any = true;
    Input in;
    if (kind == KEY_CODE_YES) {
      switch (ch) {
        case KEY_RESIZE:
          resized_ = true;
          dirty_ = true;
          continue;
        case KEY_MOUSE: {
          MEVENT event{};
          if (getmouse(&event) != OK) continue;
          in.mouse = true;
          in.row = event.y;
          in.col = event.x;
          if ((event.bstate & BUTTON1_PRESSED) != 0) {
            in.key = KeyOf(TuiKeyCode::None, 1);
          } else if ((event.bstate & (BUTTON1_RELEASED | BUTTON1_CLICKED)) != 0) {
            in.key = KeyOf(TuiKeyCode::None, (event.bstate & BUTTON1_CLICKED) != 0 ? 3 : 2);
          } else {
            continue;
          }
          break;
        }
        case KEY_UP: in.key = KeyOf(TuiKeyCode::Up); break;
        case KEY_DOWN: in.key = KeyOf(TuiKeyCode::Down); break;
        case KEY_LEFT: in.key = KeyOf(TuiKeyCode::Left); break;
        case KEY_RIGHT: in.key = KeyOf(TuiKeyCode::Right); break;
        case KEY_BTAB: in.key = KeyOf(TuiKeyCode::BackTab); break;
        case KEY_PPAGE: in.key = KeyOf(TuiKeyCode::PageUp); break;
        case KEY_NPAGE: in.key = KeyOf(TuiKeyCode::PageDown); break;
        case KEY_HOME: in.key = KeyOf(TuiKeyCode::Home); break;
        case KEY_END: in.key = KeyOf(TuiKeyCode::End); break;
        case KEY_ENTER: in.key = KeyOf(TuiKeyCode::Enter); break;
        default: continue;
      }
    } else {
      switch (ch) {
        case L'\t': in.key = KeyOf(TuiKeyCode::Tab); break;
        case L'\r':
        case L'\n': in.key = KeyOf(TuiKeyCode::Enter); break;
        case L' ': in.key = KeyOf(TuiKeyCode::Space); break;
        case 12: in.key = KeyOf(TuiKeyCode::Redraw); break;
        case 27: {
          // Escape followed at once by a key is Alt with that key: a hot key.
          // The rest of a sequence curses does not know is dropped, so that
          // its digits and letters cannot pass for hot keys.
          wint_t next = 0;
          int nextKind = wget_wch(stdscr, &next);
          if (nextKind == OK && (next == L'[' || next == L'O')) {
            bool csi = next == L'[';
            while (wget_wch(stdscr, &next) == OK && csi && next >= 0x20 && next < 0x40) {
            }
            continue;
          }
          if (nextKind == OK && next > 0x20 && next < 0x7F) {
            in.key = KeyOf(TuiKeyCode::Char, static_cast<char32_t>(next));
          } else {
            if (nextKind == KEY_CODE_YES) {
              ungetch(static_cast<int>(next));
            } else if (nextKind != ERR) {
              unget_wch(static_cast<wchar_t>(next));
            }
            in.key = KeyOf(TuiKeyCode::Escape);
          }
          break;
        }
        default:
          if (ch < 0x20 || ch == 0x7F) continue;
          in.key = KeyOf(TuiKeyCode::Char, static_cast<char32_t>(ch));
          break;
      }
    }
    pending_.push_back(in);
  }
  return any;
}

bool TerminalFrontEnd::Handle(const Input& input) {
  if (!input.mouse) return view_.HandleKey(input.key);
  switch (input.key.ch) {
    case 1:  // pressed: a click is where the button goes down and up again
      pressed_ = true;
      pressSpot_ = view_.SpotAt(input.row, input.col);
      return false;
    case 2: {  // released
      bool wasPressed = pressed_;
      pressed_ = false;
      if (wasPressed && view_.SpotAt(input.row, input.col) != pressSpot_) return false;
      return view_.HandleClick(input.row, input.col);
    }
    default:
      return view_.HandleClick(input.row, input.col);
  }
}

uint32_t TerminalFrontEnd::Step() {
  if (!Active()) return INFINITE;
  ReadInput();
  if (dirty_ || resized_ || view_.NeedsPaint()) Paint();
  while (!pending_.empty()) {
    Input input = pending_.front();
    pending_.pop_front();
    handling_ = true;
    bool posted = Handle(input);
    handling_ = false;
    if (dirty_ || view_.NeedsPaint()) Paint();
    // The loop runs the posted work before the next key is looked at.
    if (posted) break;
  }
  return UnitWait(kPollMs);
}

uint32_t TerminalFrontEnd::UnitWait(uint32_t realMs) {
  auto now = std::chrono::steady_clock::now();
  double real = std::chrono::duration<double, std::milli>(now - rateStart_).count();
  if (real >= 500.0) {
    uint32_t unitNow = desktop_.clock().GetTickCount();
    double ratio = static_cast<double>(unitNow - rateUnitStart_) / real;
    // Only a clock that runs is measured (a stopped test clock keeps the last value).
    if (ratio > 0.0) unitPerReal_ = std::clamp(ratio, 0.01, 1000.0);
    rateStart_ = now;
    rateUnitStart_ = unitNow;
  }
  double wait = realMs * unitPerReal_;
  return static_cast<uint32_t>(std::clamp(wait, 1.0, 1000.0));
}

}  // namespace hu
