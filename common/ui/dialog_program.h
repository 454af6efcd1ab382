#pragma once
#include <iostream>
#include <string>

#include "common/ui/desktop.h"

namespace hu {

class Dialog;

struct UiOptions {
  std::string frontEnd = "headless";  // headless | script | tui
  std::string inputPath;              // script: a file, or "-" for standard input
  std::string uiLogPath;              // JSON Lines log; empty for none
};

// Runs a program's main dialog modally with the chosen front end and returns
// the program's exit code: the main dialog's job result (Dialog::SetJobResult,
// 0 when none was told) when it closed or the loop was quit with 0, 3 when the
// script failed, another code given to EventLoop::Quit when the loop was quit
// with it, 1 when the dialog could not be created, 2 for unusable options (unknown front end, a file
// that cannot be opened). A script given with --input runs whatever the front
// end; "script" without input reads standard input. "tui" draws on the
// terminal, and falls back to headless with a note on `err` when the output is
// not a terminal (or `out` is not standard output). Lines for people go to `out`;
// without the terminal a failed job's text is repeated on `err`.
int RunDialogProgram(Desktop& desktop, Dialog& mainDialog, const UiOptions& options,
                     std::ostream& out = std::cout, std::ostream& err = std::cerr,
                     std::istream& in = std::cin);

}  // namespace hu
