#include "tests/e2e/update_outcome.h"

#include <filesystem>

#include "common/platform/text.h"

namespace hu::e2e {
namespace {
namespace fs = std::filesystem;

// The host path of `relative` below `base`, each component found ignoring
// case as the device does (an update may re-create "\Dravik" as "\dravik").
std::string FindNoCase(const std::string& base, const std::string& relative) {
  fs::path at = base;
  for (const fs::path& part : fs::path(relative)) {
    fs::path next = at / part;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(at, ec)) {
      if (AsciiLower(e.path().filename().string()) == AsciiLower(part.string())) next = e.path();
    }
    at = next;
  }
  return at.string();
}

std::string Trimmed(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// The last "boot N: ..." line of what the boot tool printed.
std::string LastBootLine(const RunResult& run) {
  std::string text = Trimmed(run.out);
  size_t at = text.rfind("\nboot ");
  if (at != std::string::npos) text = text.substr(at + 1);
  return text.substr(0, text.find('\n'));
}

std::vector<std::string> Differences(const Tree& want, const Tree& got) {
  std::vector<std::string> parts;
  for (const auto& [path, bytes] : want) {
    auto it = got.find(path);
    if (it == got.end()) {
      parts.push_back("missing " + path);
    } else if (it->second != bytes) {
      parts.push_back("changed " + path + " (" + std::to_string(it->second.size()) + " of " +
                      std::to_string(bytes.size()) + " bytes)");
    }
  }
  for (const auto& [path, bytes] : got) {
    if (!want.count(path)) parts.push_back("extra " + path);
  }
  return parts;
}

}  // namespace

UpdateFiles UpdateFilesOf(const std::string& unitDir) {
  UpdateFiles files;
  files.app = TreeOf(FindNoCase(unitDir, "fs/Dravik/$KVR$/App"));
  for (auto& [path, bytes] : TreeOf(FindNoCase(unitDir, "fs/NandFlash"))) {
    if (AsciiLower(path).rfind("$kvr$/", 0) == 0) {
      files.kvr[path.substr(6)] = std::move(bytes);
    } else {
      files.user[path] = std::move(bytes);
    }
  }
  return files;
}

std::string DescribeBoot(const RunResult& run) {
  if (run.timedOut) return "hung";
  std::string err = Trimmed(run.err);
  return "exit " + std::to_string(run.exitCode) + ": " + LastBootLine(run) + (err.empty() ? "" : "; " + err);
}

std::string BootFault(const RunResult& run) {
  if (run.timedOut) return "the unit did not settle: hung";
  // A program that closed, with or without a failure code, ended the boots;
  // the boot bound, a crash or an error of the boot tool did not.
  const std::string last = LastBootLine(run);
  const bool closed = last.find("-> closed") != std::string::npos ||
                      last.find("-> exited with code ") != std::string::npos;
  if (!closed || run.err.find("rebooted again after") != std::string::npos) {
    return "the unit did not settle: " + DescribeBoot(run);
  }
  return "";
}

std::string TreeDifference(const Tree& want, const Tree& got) {
  const std::vector<std::string> parts = Differences(want, got);
  std::string text;
  const size_t shown = 4;
  for (size_t i = 0; i < parts.size() && i < shown; ++i) text += (i ? "; " : "") + parts[i];
  if (parts.size() > shown) text += "; " + std::to_string(parts.size() - shown) + " more";
  return text;
}

std::string ApplicationFault(const UpdateFiles& before, const std::vector<Tree>& newApps, const UpdateFiles& after) {
  // Told against the nearest application, the one it differs from least.
  const Tree* nearest = &before.app;
  const char* name = "the old";
  for (const Tree& app : newApps) {
    if (app.empty()) continue;
    if (Differences(app, after.app).size() < Differences(*nearest, after.app).size()) {
      nearest = &app;
      name = "a new";
    }
  }
  if (after.app != *nearest) {
    if (after.app.empty()) return "the application folder is missing or empty";
    return std::string("the application folder is neither the old nor the new application (against ") + name +
           ": " + TreeDifference(*nearest, after.app) + ")";
  }
  if (after.user != before.user) return "user files on NandFlash changed: " + TreeDifference(before.user, after.user);
  return "";
}

bool ExtractedTree(const std::string& kitFile, Tree* out, std::string* error) {
  TempDir dir;
  RunResult r = RunProgram({Bin("kitpack"), "extract", kitFile, dir.path() + "/app"});
  if (r.exitCode != 0) {
    *error = "kitpack extract " + kitFile + ": " + r.err;
    return false;
  }
  *out = TreeOf(dir.path() + "/app");
  return true;
}

}  // namespace hu::e2e
