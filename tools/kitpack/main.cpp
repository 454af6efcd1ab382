// kitpack: builds, inspects, checks and signs update kits and firmware
// images, reading them with the updater's own code.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "common/platform/host/iconv_code_page.h"
#include "common/platform/trace.h"
#include "sysmend/packages/kit_layout.h"
#include "tools/kitpack/image_inspect.h"
#include "tools/kitpack/kit_build.h"
#include "tools/kitpack/kit_check.h"
#include "tools/kitpack/kit_inspect.h"
#include "tools/kitpack/kit_verify.h"

namespace {

using namespace hu;
using namespace hu::kitpack;

class StderrTrace : public TraceSink {
 public:
  void Write(const std::string& text) override { std::fputs(text.c_str(), stderr); }
};

int List(const std::string& file, bool json, CodePage& codePage) {
  ImageListing image;
  if (InspectImageFile(file, &image)) {
    if (json) {
      std::cout << ImageJson(image).dump(2) << "\n";
    } else {
      std::cout << ImageText(file, image);
    }
    return image.valid ? 0 : Fail(file, image.problem);
  }
  KitListing l = InspectKit(file, codePage);
  if (json) {
    AddDigests(file, &l);
    std::cout << ListingJson(l).dump(2) << "\n";
  } else {
    std::cout << ListingText(file, l);
  }
  return l.valid ? 0 : Fail(file, l.problem);
}

int Verify(const std::string& file, const std::string& pubKey, const std::string& signature, CodePage& codePage) {
  VerifyReport report = VerifyKit(file, codePage, pubKey, signature.empty() ? file + ".sig" : signature);
  for (const std::string& p : report.problems) std::cerr << "kitpack: " << file << ": " << p << "\n";
  if (!report.problems.empty()) {
    std::cout << file << ": NOT verified, " << report.problems.size() << " problem"
              << (report.problems.size() == 1 ? "" : "s") << "\n";
    return 1;
  }
  std::cout << file << ": verified: " << report.summary << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Builds, inspects, checks and signs update kits (auk, aukinc, kvq) and firmware images.", "kitpack"};
  app.require_subcommand(1);
  app.fallthrough();
  uint32_t codePageNumber = 936;
  bool trace = false;
  app.add_option("--code-page", codePageNumber, "code page of the names in pack indexes")->capture_default_str();
  app.add_flag("--trace", trace, "show the updater's trace lines on standard error");

  std::string out, src, version, file, dir, key, signature;
  bool json = false, force = false;
  auto* auk = app.add_subcommand("auk", "build a full pack archive from the files below SRC_DIR");
  auto* aukinc = app.add_subcommand("aukinc", "build an incremental pack archive from the files below SRC_DIR");
  for (auto* sub : {auk, aukinc}) {
    sub->add_option("OUT", out, "pack file to write")->required();
    sub->add_option("SRC_DIR", src, "folder whose files become \\kit\\... members")->required();
    sub->add_option("--version", version, "application version (AppVerInfo.cfg)")->required();
    sub->add_flag("--force", force, "build even what the consistency checks refuse, with a warning");
  }
  auto* kvq = app.add_subcommand("kvq", "build an update container");
  std::map<SectionKind, std::string> sectionFiles;
  std::map<SectionKind, std::string> optionText;
  kvq->add_option("OUT", out, "container file to write")->required();
  kvq->add_option("--version", version, "container version BOOT-OS-APP, e.g. V12X-0A1B2C3-1.2.3")->required();
  kvq->add_flag("--force", force, "build even what the consistency checks refuse, with a warning");
  const std::pair<const char*, SectionKind> sectionOptions[] = {
      {"--boot", SectionKind::Boot},   {"--os", SectionKind::Os},       {"--app", SectionKind::App},
      {"--logo1", SectionKind::Logo1}, {"--logo2", SectionKind::Logo2}, {"--logo3", SectionKind::Logo3},
      {"--conf", SectionKind::Conf}};
  for (const auto& o : sectionOptions) kvq->add_option(o.first, optionText[o.second], "section image file");
  auto* list = app.add_subcommand("list", "show what a kit or image file is and holds");
  list->add_flag("--json", json, "one JSON object, with the sha256 of every section, member and image");
  list->add_option("FILE", file, "kit (kvq, auk, aukinc) or image (canbox, s19) file")->required();
  auto* extract = app.add_subcommand("extract", "unpack a pack (or a container's application section) into DIR");
  extract->add_option("FILE", file, "kit file")->required();
  extract->add_option("DIR", dir, "target folder")->required();
  auto* canbox = app.add_subcommand("canbox", "make a .canbox CAN-box firmware file from a binary image");
  canbox->add_option("OUT", out, ".canbox file to write")->required();
  canbox->add_option("IMAGE", file, "binary firmware image")->required();
  auto* s19 = app.add_subcommand("s19", "make an .s19 MCU firmware file that mcuflash accepts for a family");
  std::string family;
  s19->add_option("IMAGE", file, "binary firmware image, placed from 0xA000")->required();
  s19->add_option("OUT", out, ".s19 file to write")->required();
  s19->add_option("--family", family, "block (STM8 loader, tagged) or line (records sent as lines)")
      ->required()
      ->check(CLI::IsMember({"block", "line"}));
  auto* verify = app.add_subcommand("verify", "check a kit: sections, versions, every member's CRC-32, signature");
  verify->add_option("KIT", file, "kit file")->required();
  verify->add_option("--pubkey", key, "Ed25519 public key (PEM): also check the detached signature");
  verify->add_option("--sig", signature, "signature file (default KIT.sig)");
  auto* sign = app.add_subcommand("sign", "write KIT.sig, a detached Ed25519 signature of the kit");
  sign->add_option("KIT", file, "kit file")->required();
  sign->add_option("--key", key, "Ed25519 private key (PEM), from openssl genpkey -algorithm ed25519")->required();
  sign->add_option("--sig", signature, "signature file to write (default KIT.sig)");

  auto* check = app.add_subcommand(
      "check", "dry run: what sysmend on a unit would do with these kits in its update folder; writes nothing");
  CheckTarget target;
  CheckOptions checkOptions;
  bool allPlatforms = false;
  std::string os, boot, conf, appVersion;
  check->add_option("KIT", checkOptions.kits, "kit files, as they would lie in the update folder")->required();
  auto* unitOption = check->add_option("--unit", target.unitDir, "an existing unit folder");
  auto* cpuOption = check->add_option("--cpu", target.cpu, "CPU_TYPE of a described unit")->capture_default_str();
  auto* projectOption =
      check->add_option("--project", target.project, "PROJECTTYPE of a described unit")->capture_default_str();
  auto* osOption = check->add_option("--os-version", os, "installed OS version of a described unit");
  auto* bootOption = check->add_option("--boot-version", boot, "installed boot version of a described unit");
  auto* confOption = check->add_option("--conf-version", conf, "installed configuration version of a described unit");
  auto* appOption = check->add_option("--app-version", appVersion, "installed application of a described unit");
  check->add_flag("--auto", checkOptions.autoMode, "judge as `sysmend auto` does (the same versions refused)");
  auto* allOption = check->add_flag("--all-platforms", allPlatforms, "one line for each PlatformType");
  check->add_option("--module", checkOptions.modulePath, "device path of sysmend, which names the update folder")
      ->capture_default_str();
  for (auto* described : {cpuOption, projectOption, osOption, bootOption, confOption, appOption, allOption}) {
    described->excludes(unitOption);
  }

  app.set_version_flag("--version", "kitpack 0.2.0");
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

  if (auk->parsed() || aukinc->parsed()) return BuildPack(out, src, version, aukinc->parsed(), force, codePage);
  if (kvq->parsed()) {
    for (const auto& o : optionText) {
      if (!o.second.empty()) sectionFiles[o.first] = o.second;
    }
    return BuildContainer(out, version, sectionFiles, force, codePage);
  }
  if (list->parsed()) return List(file, json, codePage);
  if (canbox->parsed()) return BuildCanbox(out, file);
  if (s19->parsed()) return BuildS19(file, out, family == "block" ? McuFamily::Block : McuFamily::Line);
  if (verify->parsed()) return Verify(file, key, signature, codePage);
  if (sign->parsed()) return SignKitFile(file, key, signature.empty() ? file + ".sig" : signature);
  if (check->parsed()) {
    if (osOption->count()) target.osVersion = os;
    if (bootOption->count()) target.bootVersion = boot;
    if (confOption->count()) target.confVersion = conf;
    if (appOption->count()) target.appVersion = appVersion;
    checkOptions.traceToStderr = trace;
    if (trace) SetTraceSink(nullptr);
    return allPlatforms ? CheckKitsOnAllPlatforms(target, checkOptions, std::cout, std::cerr)
                        : CheckKits(target, checkOptions, std::cout, std::cerr);
  }
  if (extract->parsed()) {
    std::string error;
    if (!ExtractKit(file, dir, codePage, &error)) return Fail(file, error);
    return 0;
  }
  return 2;
}
