#include "tools/kitpack/kit_verify.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tools/kitpack/kit_consistency.h"
#include "tools/kitpack/kit_digest.h"
#include "tools/kitpack/kit_inspect.h"
#include "tools/kitpack/kit_signature.h"

namespace hu::kitpack {

namespace {

namespace fs = std::filesystem;

void Add(std::vector<std::string>* to, const std::vector<std::string>& more) {
  to->insert(to->end(), more.begin(), more.end());
}

// Sections inside the file, behind the header and apart from each other.
void CheckSectionPlaces(const KitListing& l, uint64_t fileSize, std::vector<std::string>* problems) {
  for (size_t i = 0; i < l.sections.size(); ++i) {
    const auto& [kind, r] = l.sections[i];
    uint64_t end = static_cast<uint64_t>(r.offset) + r.length;
    if (end > fileSize) {
      problems->push_back(std::string("the ") + SectionName(kind) + " section ends at " + std::to_string(end) +
                          ", beyond the end of the file (" + std::to_string(fileSize) + ")");
    }
    if (r.offset < container::kHeaderSize) {
      problems->push_back(std::string("the ") + SectionName(kind) + " section overlaps the header");
    }
    for (size_t j = 0; j < i; ++j) {
      const auto& [otherKind, o] = l.sections[j];
      uint64_t otherEnd = static_cast<uint64_t>(o.offset) + o.length;
      if (r.offset < otherEnd && o.offset < end) {
        problems->push_back(std::string("the ") + SectionName(otherKind) + " and " + SectionName(kind) +
                            " sections overlap");
      }
    }
  }
}

// Members inside the pack's room, counts as the header says, and every body
// inflated and checked.
void CheckMembers(const std::string& hostPath, const PackListing& pack, uint64_t packEnd, const std::string& where,
                  std::vector<std::string>* problems, size_t* memberCount) {
  uint64_t count = 0, total = 0;
  for (const auto& g : pack.groups) {
    for (const auto& m : g.members) {
      ++count;
      total += m.unpacked;
      uint64_t start = static_cast<uint64_t>(pack.base) + m.offset;
      if (start + m.stored > packEnd) {
        problems->push_back(where + "member " + m.name + " lies outside its pack");
        continue;
      }
      MemberCheck c = InflateMember(hostPath, start, m.stored, m.unpacked);
      if (!c.ok) problems->push_back(where + "member " + m.name + ": " + c.problem);
    }
  }
  if (count != pack.info.ulFileCount) {
    problems->push_back(where + "the pack header counts " + std::to_string(pack.info.ulFileCount) +
                        " members, its index lists " + std::to_string(count));
  }
  if (total != pack.info.ulTotalSize) {
    problems->push_back(where + "the pack header gives " + std::to_string(pack.info.ulTotalSize) +
                        " bytes in all, its members hold " + std::to_string(total) +
                        " (the updater's room check uses the header)");
  }
  *memberCount = static_cast<size_t>(count);
}

}  // namespace

VerifyReport VerifyKit(const std::string& hostPath, CodePage& codePage, const std::string& pubKeyPath,
                       const std::string& signaturePath) {
  VerifyReport report;
  std::vector<std::string>& problems = report.problems;
  KitListing l = InspectKit(hostPath, codePage);
  std::error_code ec;
  uint64_t size = fs::file_size(hostPath, ec);
  size_t members = 0;
  if (l.kind == "container") {
    CheckSectionPlaces(l, size, &problems);
    std::vector<SectionKind> kinds;
    for (const auto& s : l.sections) kinds.push_back(s.first);
    if (kinds.empty()) problems.push_back("the container has no section");
    const std::string version = l.versions.count("version") ? l.versions.at("version") : std::string();
    Add(&problems, ContainerVersionProblems(version, kinds));
    Add(&problems, ContainerVersionDecodeProblems(version, kinds));
    for (const auto& [kind, r] : l.sections) {
      if (kind == SectionKind::Conf && r.length < container::kConfBlockSize) {
        problems.push_back("the configuration section is shorter than its " +
                           std::to_string(container::kConfBlockSize) + "-byte block");
      }
      if (kind != SectionKind::App) continue;
      if (!l.pack.valid) {
        problems.push_back("the application section is not a readable pack" +
                           (l.problem.empty() ? std::string() : " (" + l.problem + ")"));
        continue;
      }
      Add(&problems, ContainerAppVersionProblems(version, l.pack.appVersion));
      CheckMembers(hostPath, l.pack, static_cast<uint64_t>(r.offset) + r.length, "application section: ", &problems,
                   &members);
    }
    report.summary = std::to_string(l.sections.size()) + " sections, " + std::to_string(members) + " members";
  } else if (l.kind == "pack") {
    if (!l.pack.valid) problems.push_back("not a readable pack (" + l.problem + ")");
    if (l.pack.valid && l.pack.appVersion.empty()) problems.push_back("the pack has no \\kit\\AppVerInfo.cfg version");
    if (l.pack.valid && l.pack.packType == "aukinc") {
      Add(&problems, IncrementalVersionProblems(l.pack.appVersion, fs::path(hostPath).filename().string()));
    }
    if (l.pack.valid) CheckMembers(hostPath, l.pack, size, "", &problems, &members);
    report.summary = "pack of " + std::to_string(members) + " members";
  } else {
    problems.push_back(l.problem);
    return report;
  }
  if (problems.empty()) report.summary += ", every CRC-32 correct";
  if (!pubKeyPath.empty()) {
    std::ifstream in(signaturePath, std::ios::binary);
    std::string signature((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string error;
    if (!in.is_open()) {
      problems.push_back(signaturePath + ": no signature to check");
    } else if (!CheckKitSignature(hostPath, signature, pubKeyPath, &error)) {
      problems.push_back(error);
    } else {
      report.summary += ", signature good";
    }
  }
  return report;
}

}  // namespace hu::kitpack
