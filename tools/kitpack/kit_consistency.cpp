#include "tools/kitpack/kit_consistency.h"

#include <algorithm>
#include <filesystem>

#include "sysmend/packages/public_ver_checker.h"

namespace hu::kitpack {

namespace {

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

bool Has(const std::vector<SectionKind>& sections, SectionKind kind) {
  return std::find(sections.begin(), sections.end(), kind) != sections.end();
}

std::vector<std::string> Split(const std::string& text, char by) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == by) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

// "1.2.3" with each number 0..255: the updater folds them into one value.
bool IsVersionTriple(const std::string& text) {
  std::vector<std::string> parts = Split(text, '.');
  if (parts.size() != 3) return false;
  for (const std::string& p : parts) {
    if (p.empty() || p.size() > 3 || !std::all_of(p.begin(), p.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return false;
    }
    if (std::stoi(p) > 255) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> ContainerVersionProblems(const std::string& version, const std::vector<SectionKind>& sections) {
  std::vector<std::string> problems;
  std::vector<std::string> parts = Split(version, '-');
  if (parts.size() != 3) {
    problems.push_back("the container version " + Quote(version) +
                       " does not split into boot, OS and application parts (BOOT-OS-APP)");
    return problems;
  }
  // The updater drops the boot part's last character.
  if (Has(sections, SectionKind::Boot) && parts[0].size() < 2) {
    problems.push_back("the boot part of the container version " + Quote(version) + " gives an empty boot version");
  }
  if (Has(sections, SectionKind::Os) && parts[1].empty()) {
    problems.push_back("the container version " + Quote(version) + " has an empty OS part");
  }
  if (Has(sections, SectionKind::App) && parts[2].empty()) {
    problems.push_back("the container version " + Quote(version) + " has an empty application part");
  }
  return problems;
}

std::vector<std::string> ContainerVersionDecodeProblems(const std::string& version,
                                                        const std::vector<SectionKind>& sections) {
  std::vector<std::string> problems;
  std::vector<std::string> parts = Split(version, '-');
  if (parts.size() != 3) return problems;
  OsVerInfo os;
  BootVerInfo boot;
  std::string bootVersion = parts[0].empty() ? std::string() : parts[0].substr(0, parts[0].size() - 1);
  if (Has(sections, SectionKind::Boot) && !CPublicVerChecker::DecodeBootVer(bootVersion, &boot)) {
    problems.push_back("the boot version " + Quote(bootVersion) + " cannot be decoded: every unit refuses it");
  }
  if (Has(sections, SectionKind::Os) && !CPublicVerChecker::DecodeOsVer(parts[1], &os)) {
    problems.push_back("the OS version " + Quote(parts[1]) + " cannot be decoded: every unit refuses it");
  }
  return problems;
}

std::vector<std::string> ContainerAppVersionProblems(const std::string& version, const std::string& packVersion) {
  std::vector<std::string> parts = Split(version, '-');
  const std::string& app = parts.back();
  if (app == packVersion) return {};
  return {"the container version names application " + Quote(app) + " but its pack's AppVerInfo.cfg says " +
          Quote(packVersion) + " (the unit would install " + Quote(packVersion) + ")"};
}

std::vector<std::string> IncrementalVersionProblems(const std::string& version, const std::string& fileName) {
  std::vector<std::string> problems;
  if (!IsVersionTriple(version)) {
    problems.push_back("the incremental version " + Quote(version) + " is not three dotted numbers of 0 to 255");
  }
  std::filesystem::path name(fileName);
  std::string title = name.stem().string();
  if (title != version) {
    problems.push_back("the file name " + Quote(name.filename().string()) + " gives the updater the version " +
                       Quote(title) + " to order incremental packs by, not " + Quote(version));
  }
  return problems;
}

}  // namespace hu::kitpack
