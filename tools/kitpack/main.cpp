// kitpack: builds and inspects update kits (pack archives and containers)
// with the updater's own readers checking what it writes.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "canprobe/canbox_file_maker.h"
#include "common/platform/host/iconv_code_page.h"
#include "common/platform/trace.h"
#include "sysmend/packages/kit_layout.h"
#include "tools/kitpack/kit_inspect.h"
#include "tools/kitpack/kit_writer.h"

namespace {

using namespace hu;
using namespace hu::kitpack;

class StderrTrace : public TraceSink {
 public:
  void Write(const std::string& text) override { std::fputs(text.c_str(), stderr); }
};

int Fail(const std::string& file, const std::string& why) {
  std::cerr << "kitpack: " << file << ": " << why << "\n";
  return 1;
}

int BuildPack(const std::string& out, const std::string& src, const std::string& version, bool incremental,
              CodePage& codePage) {
  std::vector<GroupSource> groups;
  std::vector<std::string> warnings;
  std::string error;
  if (!CollectKitTree(src, version, incremental, &groups, &warnings, &error)) return Fail(src, error);
  for (const auto& w : warnings) std::cerr << "kitpack: warning: " << w << "\n";
  if (!WritePack(out, groups, codePage, &error)) return Fail(out, error);
  KitListing check = InspectKit(out, codePage);
  if (check.kind != "pack" || !check.valid) {
    std::remove(out.c_str());
    return Fail(out, "the pack written does not read back: " + check.problem);
  }
  std::cout << out << ": pack of " << check.pack.info.ulFileCount << " members, " << check.pack.info.ulTotalSize
            << " bytes, version " << check.pack.appVersion << "\n";
  return 0;
}

int BuildContainer(const std::string& out, const std::string& version, const std::map<SectionKind, std::string>& files,
                   CodePage& codePage) {
  auto app = files.find(SectionKind::App);
  if (app != files.end()) {
    KitListing pack = InspectKit(app->second, codePage);
    if (pack.kind != "pack" || !pack.valid) {
      return Fail(app->second, "not a pack archive" + (pack.problem.empty() ? std::string() : ": " + pack.problem));
    }
  }
  std::string error;
  if (!WriteContainer(out, version, files, &error)) return Fail(out, error);
  KitListing check = InspectKit(out, codePage);
  if (check.kind != "container" || !check.valid || check.sections.size() != files.size()) {
    std::remove(out.c_str());
    return Fail(out, "the container written does not read back: " + check.problem);
  }
  std::cout << out << ": container of " << check.sections.size() << " sections, version " << version << "\n";
  return 0;
}

int BuildCanbox(const std::string& out, const std::string& imagePath) {
  std::ifstream in(imagePath, std::ios::binary);
  if (!in) return Fail(imagePath, "cannot be read");
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string bytes, error;
  if (!MakeCanboxFile(image, &bytes, &error)) return Fail(imagePath, error);
  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    std::remove(out.c_str());
    return Fail(out, "cannot be written");
  }
  std::cout << out << ": CAN-box firmware of " << image.size() << " bytes\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Builds and inspects update kits: pack archives (auk, aukinc) and containers (kvq)."};
  app.require_subcommand(1);
  app.fallthrough();
  uint32_t codePageNumber = 936;
  bool trace = false;
  app.add_option("--code-page", codePageNumber, "code page of the names in pack indexes")->capture_default_str();
  app.add_flag("--trace", trace, "show the updater's trace lines on standard error");

  std::string out, src, version, file, dir;
  bool json = false;
  auto* auk = app.add_subcommand("auk", "build a full pack archive from the files below SRC_DIR");
  auto* aukinc = app.add_subcommand("aukinc", "build an incremental pack archive from the files below SRC_DIR");
  for (auto* sub : {auk, aukinc}) {
    sub->add_option("OUT", out, "pack file to write")->required();
    sub->add_option("SRC_DIR", src, "folder whose files become \\kit\\... members")->required();
    sub->add_option("--version", version, "application version (AppVerInfo.cfg)")->required();
  }
  auto* kvq = app.add_subcommand("kvq", "build an update container");
  std::map<SectionKind, std::string> sectionFiles;
  std::map<SectionKind, std::string> optionText;
  kvq->add_option("OUT", out, "container file to write")->required();
  kvq->add_option("--version", version, "container version text, e.g. V12X-0A1B2C3-1.2.3")->required();
  const std::pair<const char*, SectionKind> sectionOptions[] = {
      {"--boot", SectionKind::Boot},   {"--os", SectionKind::Os},       {"--app", SectionKind::App},
      {"--logo1", SectionKind::Logo1}, {"--logo2", SectionKind::Logo2}, {"--logo3", SectionKind::Logo3},
      {"--conf", SectionKind::Conf}};
  for (const auto& o : sectionOptions) kvq->add_option(o.first, optionText[o.second], "section image file");
  auto* list = app.add_subcommand("list", "show what a kit file is and holds");
  list->add_flag("--json", json, "one JSON object");
  list->add_option("FILE", file, "kit file")->required();
  auto* extract = app.add_subcommand("extract", "unpack a pack (or a container's application section) into DIR");
  extract->add_option("FILE", file, "kit file")->required();
  extract->add_option("DIR", dir, "target folder")->required();
  auto* canbox = app.add_subcommand("canbox", "make a .canbox CAN-box firmware file from a binary image");
  canbox->add_option("OUT", out, ".canbox file to write")->required();
  canbox->add_option("IMAGE", file, "binary firmware image")->required();

  app.set_version_flag("--version", "kitpack 0.1.0");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version end with 0; any other mistake on the command line is a usage error.
    return app.exit(e) == 0 ? 0 : 2;
  }

  StderrTrace stderrTrace;
  if (trace) SetTraceSink(&stderrTrace);
  IconvCodePage codePage(codePageNumber);
  if (!codePage.valid()) return Fail("--code-page", "code page " + std::to_string(codePageNumber) + " is not known");

  if (auk->parsed() || aukinc->parsed()) return BuildPack(out, src, version, aukinc->parsed(), codePage);
  if (kvq->parsed()) {
    for (const auto& o : optionText) {
      if (!o.second.empty()) sectionFiles[o.first] = o.second;
    }
    return BuildContainer(out, version, sectionFiles, codePage);
  }
  if (list->parsed()) {
    KitListing l = InspectKit(file, codePage);
    if (json) {
      std::cout << ListingJson(l).dump(2) << "\n";
    } else {
      std::cout << ListingText(file, l);
    }
    return l.valid ? 0 : Fail(file, l.problem);
  }
  if (canbox->parsed()) return BuildCanbox(out, file);
  if (extract->parsed()) {
    std::string error;
    if (!ExtractKit(file, dir, codePage, &error)) return Fail(file, error);
    return 0;
  }
  return 2;
}
