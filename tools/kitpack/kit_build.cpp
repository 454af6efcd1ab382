#include "tools/kitpack/kit_build.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "canprobe/canbox_file_maker.h"
#include "tools/kitpack/image_inspect.h"
#include "tools/kitpack/kit_consistency.h"
#include "tools/kitpack/kit_inspect.h"
#include "tools/kitpack/kit_signature.h"
#include "tools/kitpack/kit_writer.h"
#include "tools/kitpack/safe_output.h"

namespace hu::kitpack {

namespace fs = std::filesystem;

namespace {

// Problems refuse the build unless forced; forced, each is a warning.
bool Refused(const std::string& file, const std::vector<std::string>& problems, bool force) {
  for (const std::string& p : problems) {
    std::cerr << "kitpack: " << file << ": " << (force ? "warning: " : "") << p << "\n";
  }
  if (!problems.empty() && !force) {
    std::cerr << "kitpack: " << file << ": not written (--force builds it anyway)\n";
    return true;
  }
  return false;
}

bool ReadWhole(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Writes `bytes` as the whole of `out`, safely.
bool WriteWhole(SafeOutput& output, const std::string& bytes, std::string* error) {
  if (!output.Create(error)) return false;
  std::ofstream file(output.TempPath(), std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    *error = "write error";
    return false;
  }
  return true;
}

}  // namespace

int Fail(const std::string& file, const std::string& why) {
  std::cerr << "kitpack: " << file << ": " << why << "\n";
  return 1;
}

int BuildPack(const std::string& out, const std::string& src, const std::string& version, bool incremental,
              bool force, CodePage& codePage) {
  std::vector<GroupSource> groups;
  std::vector<std::string> warnings;
  std::string error;
  if (!CollectKitTree(src, version, incremental, &groups, &warnings, &error)) return Fail(src, error);
  for (const auto& w : warnings) std::cerr << "kitpack: warning: " << w << "\n";
  SafeOutput output(out);
  if (!output.Create(&error) || !WritePack(output.TempPath(), groups, codePage, &error)) return Fail(out, error);
  if (incremental && Refused(out, IncrementalVersionProblems(version, fs::path(out).filename().string()), force)) {
    return 1;
  }
  KitListing check = InspectKit(output.TempPath(), codePage);
  if (check.kind != "pack" || !check.valid) return Fail(out, "the pack written does not read back: " + check.problem);
  if (!output.Commit(&error)) return Fail(out, error);
  std::cout << out << ": pack of " << check.pack.info.ulFileCount << " members, " << check.pack.info.ulTotalSize
            << " bytes, version " << check.pack.appVersion << "\n";
  return 0;
}

int BuildContainer(const std::string& out, const std::string& version,
                   const std::map<SectionKind, std::string>& files, bool force, CodePage& codePage) {
  std::vector<std::string> problems;
  std::vector<SectionKind> kinds;
  for (const auto& f : files) kinds.push_back(f.first);
  if (files.empty()) problems.push_back("a container with no section installs nothing");
  for (auto& q : ContainerVersionProblems(version, kinds)) problems.push_back(q);
  auto app = files.find(SectionKind::App);
  if (app != files.end()) {
    KitListing pack = InspectKit(app->second, codePage);
    if (pack.kind != "pack" || !pack.valid) {
      return Fail(app->second, "not a pack archive" + (pack.problem.empty() ? std::string() : ": " + pack.problem));
    }
    for (auto& q : ContainerAppVersionProblems(version, pack.pack.appVersion)) problems.push_back(q);
  }
  // Faults of the inputs first, then what the updater would misread.
  std::string error;
  SafeOutput output(out);
  if (!output.Create(&error) || !WriteContainer(output.TempPath(), version, files, &error)) return Fail(out, error);
  if (Refused(out, problems, force)) return 1;
  KitListing check = InspectKit(output.TempPath(), codePage);
  bool readsBack = files.empty() ? check.kind == "container" : check.kind == "container" && check.valid;
  if (!readsBack || check.sections.size() != files.size()) {
    return Fail(out, "the container written does not read back: " + check.problem);
  }
  if (!output.Commit(&error)) return Fail(out, error);
  std::cout << out << ": container of " << check.sections.size() << " sections, version " << version << "\n";
  return 0;
}

int BuildCanbox(const std::string& out, const std::string& imagePath) {
  std::string raw;
  if (!ReadWhole(imagePath, &raw)) return Fail(imagePath, "cannot be read");
  std::vector<uint8_t> image(raw.begin(), raw.end());
  std::string bytes, error;
  if (!MakeCanboxFile(image, &bytes, &error)) return Fail(imagePath, error);
  SafeOutput output(out);
  if (!WriteWhole(output, bytes, &error) || !output.Commit(&error)) return Fail(out, error);
  std::cout << out << ": CAN-box firmware of " << image.size() << " bytes\n";
  return 0;
}

int BuildS19(const std::string& imagePath, const std::string& out, McuFamily family) {
  std::string raw;
  if (!ReadWhole(imagePath, &raw)) return Fail(imagePath, "cannot be read");
  std::vector<uint8_t> image(raw.begin(), raw.end());
  std::string text, error;
  if (!MakeS19Text(image, family, fs::path(imagePath).filename().string(), &text, &error)) {
    return Fail(imagePath, error);
  }
  SafeOutput output(out);
  if (!WriteWhole(output, text, &error)) return Fail(out, error);
  // Read back with mcuflash's own readers before the file is put in place.
  ImageListing check;
  const char* want = family == McuFamily::Block ? "block" : "line";
  InspectS19Text(text, &check);
  if (!check.valid || check.family != want || check.size != image.size()) {
    return Fail(out, std::string("mcuflash's ") + want + " family does not accept what was written: " + check.problem);
  }
  if (!output.Commit(&error)) return Fail(out, error);
  std::cout << out << ": " << want << " family S-records of " << image.size() << " bytes from 0xA000, sha256 "
            << check.sha256 << "\n";
  return 0;
}

int SignKitFile(const std::string& kit, const std::string& keyPath, const std::string& sigPath) {
  std::string signature, error;
  if (!SignKit(kit, keyPath, &signature, &error)) return Fail(kit, error);
  SafeOutput output(sigPath);
  if (!WriteWhole(output, signature, &error) || !output.Commit(&error)) return Fail(sigPath, error);
  std::cout << sigPath << ": Ed25519 signature of " << kit << "\n";
  return 0;
}

}  // namespace hu::kitpack
