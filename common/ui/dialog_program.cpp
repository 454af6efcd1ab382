#include "common/ui/dialog_program.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "common/ui/dialog.h"
#include "common/ui/headless_front_end.h"
#include "common/ui/script_runner.h"
#if HU_HAVE_TERMINAL_UI
#include "common/ui/terminal_front_end.h"
#endif

namespace hu {

namespace {
// Tells a dialog that never opened from one that closed.
struct OpenWatch : UiObserver {
  OpenWatch(Desktop& d, const Dialog& dialog) : desktop(d), watched(dialog) { desktop.AddObserver(this); }
  ~OpenWatch() override { desktop.RemoveObserver(this); }
  void OnUiEvent(const UiEvent& event) override {
    if (event.kind == UiEventKind::DialogOpened && event.dialog == &watched) opened = true;
  }
  Desktop& desktop;
  const Dialog& watched;
  bool opened = false;
};
}  // namespace

int RunDialogProgram(Desktop& desktop, Dialog& mainDialog, const UiOptions& options, std::ostream& out,
                     std::ostream& err, std::istream& in) {
  const std::string& frontEnd = options.frontEnd;
  if (frontEnd != "headless" && frontEnd != "script" && frontEnd != "tui" && !frontEnd.empty()) {
    err << "ui: unknown front end \"" << frontEnd << "\" (headless, script or tui)" << std::endl;
    return 2;
  }

  std::unique_ptr<std::ofstream> log;
  if (!options.uiLogPath.empty()) {
    log = std::make_unique<std::ofstream>(options.uiLogPath, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!*log) {
      err << "ui: cannot write the UI log " << options.uiLogPath << std::endl;
      return 2;
    }
  }

  std::string inputPath = options.inputPath;
  if (inputPath.empty() && frontEnd == "script") inputPath = "-";
  std::string scriptText;
  if (!inputPath.empty() && inputPath != "-") {
    std::ifstream file(inputPath, std::ios::in | std::ios::binary);
    if (!file) {
      err << "ui: cannot read the script " << inputPath << std::endl;
      return 2;
    }
    std::ostringstream text;
    text << file.rdbuf();
    scriptText = text.str();
  }

#if HU_HAVE_TERMINAL_UI
  std::unique_ptr<TerminalFrontEnd> terminal;
  if (frontEnd == "tui") {
    // The terminal is the process's own: a caller that wants the lines
    // elsewhere gets them there.
    std::string why = "the output does not go to the terminal";
    if (&out == &std::cout) {
      terminal = std::make_unique<TerminalFrontEnd>(desktop);
      if (!terminal->Start(&why)) terminal.reset();
    }
    if (!terminal) err << "ui: no terminal front end (" << why << "); using headless" << std::endl;
  }
#else
  void* terminal = nullptr;
  if (frontEnd == "tui") err << "ui: built without the terminal front end; using headless" << std::endl;
#endif
  // While the terminal shows the dialogs, lines for people would tear the
  // screen: they wait for the end.
  std::ostringstream heldErr;
  std::ostream& scriptErr = terminal ? static_cast<std::ostream&>(heldErr) : err;

  HeadlessFrontEnd headless(desktop, terminal ? nullptr : &out, log.get());
  std::unique_ptr<ScriptRunner> script;
  if (!inputPath.empty()) {
    script = std::make_unique<ScriptRunner>(desktop, scriptErr);
    // A script that ends without "close" ends the program all the same (with
    // its job's result): left running after its last line it would wait for
    // clicks that never come. Empty input asks for nothing: the program runs
    // to its own end.
    script->SetOnFinished([&desktop] { desktop.loop().Quit(0); });
    if (inputPath == "-" && &in != &std::cin) {
      // Another stream (a test's) may not outlive this call: read it now.
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      script->AddText(text);
    } else if (inputPath == "-") {
      script->ReadAsync(in);
    } else {
      script->AddText(scriptText);
    }
  }

  OpenWatch watch(desktop, mainDialog);
  mainDialog.DoModal();
#if HU_HAVE_TERMINAL_UI
  if (terminal) terminal->Stop();
#endif
  err << heldErr.str() << std::flush;
  if (script && script->Failed()) return ScriptRunner::kExitCode;
  int code = 0;
  if (desktop.loop().IsQuitting()) {
    // A quit with 0 is the program's normal end: its job tells the result.
    code = desktop.loop().QuitCode();
    if (code == 0) code = mainDialog.JobResult();
  } else {
    code = watch.opened ? mainDialog.JobResult() : 1;
  }
  // Lines for people went to standard output; a caller that keeps only the
  // errors still learns why the job failed.
  if (code == kJobFailed && !terminal && !mainDialog.JobFailureText().empty()) {
    std::string text = mainDialog.JobFailureText();
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.replace(at, 2, "\n");
    err << text << std::endl;
  }
  return code;
}

}  // namespace hu
