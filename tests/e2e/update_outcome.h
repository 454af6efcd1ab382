#pragma once
// What a unit must hold after an application update, whatever went wrong in
// it: the application whole (byte for byte the old one or a new one), the
// user's files on NandFlash untouched, and boots that end with the program
// closing rather than with the boot bound.
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace hu::e2e {

using Tree = std::map<std::string, std::string>;

// The parts of a unit's file system an update is judged by.
struct UpdateFiles {
  Tree app;   // \dravik\$KVR$\App
  Tree user;  // \NandFlash outside $KVR$
  Tree kvr;   // \NandFlash\$KVR$: the application's own settings
};
UpdateFiles UpdateFilesOf(const std::string& unitDir);

// How `unitctl boot` ended: its last boot line and any error.
std::string DescribeBoot(const RunResult& run);
// Empty when the last boot ended with the program closing (its exit code
// may report a failure); otherwise why not: a crash, the boot bound, a hang.
std::string BootFault(const RunResult& run);

// Empty when `after` holds the old application of `before` or one of
// `newApps` (empty trees are ignored) and the user's files of `before`.
std::string ApplicationFault(const UpdateFiles& before, const std::vector<Tree>& newApps, const UpdateFiles& after);

// "missing a; changed b; extra c" (a few names at most); empty when equal.
std::string TreeDifference(const Tree& want, const Tree& got);

// What `kitpack extract` makes of a pack (or of a container's application
// section): the application folder after an update from it alone.
bool ExtractedTree(const std::string& kitFile, Tree* out, std::string* error);

}  // namespace hu::e2e
