#include "tools/kitpack/kit_inspect.h"

#include <filesystem>
#include <mutex>
#include <sstream>
#include <vector>

#include "common/platform/host/host_files.h"
#include "common/platform/trace.h"
#include "sysmend/packages/kvq_parser.h"
#include "tools/kitpack/kit_digest.h"
#include "tools/kitpack/pinned_files.h"

namespace hu::kitpack {

namespace fs = std::filesystem;

namespace {

constexpr SectionKind kKinds[] = {SectionKind::Boot, SectionKind::Os, SectionKind::App, SectionKind::Logo1,
                                  SectionKind::Logo2, SectionKind::Logo3, SectionKind::Conf};

// Keeps the product's trace lines of one operation so a failure can name its cause.
class LastTrace : public TraceSink {
 public:
  LastTrace() : previous_(GetTraceSink()) { SetTraceSink(this); }
  ~LastTrace() override { SetTraceSink(previous_); }
  void Write(const std::string& text) override {
    if (previous_) previous_->Write(text);
    std::lock_guard<std::mutex> lock(mutex_);
    size_t b = text.find_first_not_of(" \r\n\t");
    size_t e = text.find_last_not_of(" \r\n\t");
    if (b != std::string::npos) last_ = text.substr(b, e - b + 1);
  }
  std::string Last() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
  }

 private:
  TraceSink* previous_;
  std::mutex mutex_;
  std::string last_;
};

PackListing InspectPack(Files& files, CodePage& codePage, uint32_t base, uint64_t fileSize, std::string* problem) {
  PackListing p;
  p.base = base;
  CPackUnzip unzip(files, codePage, kInputDevicePath);
  unzip.SetOffset(base);
  if (unzip.CheckZipPack() != kPackOk || !unzip.GetPackInfo(&p.info)) {
    *problem = "no pack archive magic";
    return p;
  }
  if (!unzip.OpenZipPack()) {
    *problem = "the pack index cannot be read";
    return p;
  }
  p.groups = unzip.Groups();
  for (const auto& g : p.groups) {
    for (const auto& m : g.members) {
      if (static_cast<uint64_t>(base) + m.offset + m.stored > fileSize) {
        *problem = "member " + m.name + " lies beyond the end of the file";
        return p;
      }
    }
  }
  p.appVersion = ReadPackAppVer(files, codePage, kInputDevicePath, base);
  p.packType = ReadPackType(files, codePage, kInputDevicePath, base);
  p.valid = true;
  return p;
}

}  // namespace

KitListing InspectKit(const std::string& hostPath, CodePage& codePage) {
  KitListing l;
  std::error_code ec;
  if (!fs::is_regular_file(hostPath, ec)) {
    l.problem = "cannot be opened as a file";
    return l;
  }
  uint64_t size = fs::file_size(hostPath, ec);
  PinnedFiles files(nullptr, kInputDevicePath, hostPath);
  LastTrace quiet;
  CKvqParser parser(files, codePage);
  if (parser.IsVaildKvrFile(kInputDevicePath)) {
    l.kind = "container";
    std::string v;
    if (parser.GetKvrVer(&v)) l.versions["version"] = v;
    if (parser.GetBootVer(&v)) l.versions["boot_version"] = v;
    if (parser.GetOSVer(&v)) l.versions["os_version"] = v;
    if (parser.GetAppVer(&v)) l.versions["app_version"] = v;
    if (parser.GetConfVer(&v)) l.versions["conf_version"] = v;
    l.valid = true;
    for (SectionKind kind : kKinds) {
      SectionRecord r;
      if (!parser.GetSectionInfo(kind, &r)) continue;
      l.sections.emplace_back(kind, r);
      if (static_cast<uint64_t>(r.offset) + r.length > size && l.valid) {
        l.valid = false;
        l.problem = std::string("the ") + SectionName(kind) + " section lies beyond the end of the file";
      }
    }
    if (parser.IsHasConf() && l.versions.count("conf_version") == 0 && l.valid) {
      l.valid = false;
      l.problem = "the configuration section is shorter than its block";
    }
    SectionRecord app;
    if (parser.GetSectionInfo(SectionKind::App, &app)) {
      l.hasPack = true;
      std::string problem;
      l.pack = InspectPack(files, codePage, app.offset, size, &problem);
      if (!l.pack.valid && l.valid) {
        l.valid = false;
        l.problem = "application section: " + problem;
      }
    }
    return l;
  }
  CPackUnzip probe(files, codePage, kInputDevicePath);
  if (probe.CheckZipPack() == kPackOk) {
    l.kind = "pack";
    l.hasPack = true;
    l.pack = InspectPack(files, codePage, 0, size, &l.problem);
    l.valid = l.pack.valid;
    return l;
  }
  l.problem = "neither an update container nor a pack archive";
  return l;
}

void AddDigests(const std::string& hostPath, KitListing* l) {
  for (const auto& [kind, r] : l->sections) {
    std::string sha = Sha256OfRange(hostPath, r.offset, r.length);
    if (!sha.empty()) l->sectionSha256[kind] = sha;
  }
  if (!l->hasPack || !l->pack.valid) return;
  for (const auto& g : l->pack.groups) {
    for (const auto& m : g.members) {
      MemberCheck c = InflateMember(hostPath, static_cast<uint64_t>(l->pack.base) + m.offset, m.stored, m.unpacked);
      if (c.ok) l->memberSha256[m.name] = c.sha256;
    }
  }
}

nlohmann::json ListingJson(const KitListing& l) {
  nlohmann::json j;
  j["kind"] = l.kind;
  j["valid"] = l.valid;
  if (!l.problem.empty()) j["problem"] = l.problem;
  if (l.kind == "container") {
    for (const auto& v : l.versions) j[v.first] = v.second;
    nlohmann::json sections = nlohmann::json::object();
    for (const auto& s : l.sections) {
      nlohmann::json& j = sections[SectionName(s.first)];
      j = {{"offset", s.second.offset}, {"length", s.second.length}};
      auto sha = l.sectionSha256.find(s.first);
      if (sha != l.sectionSha256.end()) j["sha256"] = sha->second;
    }
    j["sections"] = sections;
  }
  if (l.hasPack) {
    // A container's own app_version is the one its version text names.
    j[l.kind == "container" ? "pack_app_version" : "app_version"] = l.pack.appVersion;
    j["pack_type"] = l.pack.packType;
    j["count"] = l.pack.info.ulFileCount;
    j["total_size"] = l.pack.info.ulTotalSize;
    nlohmann::json members = nlohmann::json::array();
    for (const auto& g : l.pack.groups) {
      for (const auto& m : g.members) {
        nlohmann::json member = {
            {"name", m.name}, {"group", g.name}, {"stored", m.stored}, {"offset", m.offset}, {"size", m.unpacked}};
        auto sha = l.memberSha256.find(m.name);
        if (sha != l.memberSha256.end()) member["sha256"] = sha->second;
        members.push_back(member);
      }
    }
    j["members"] = members;
  }
  return j;
}

std::string ListingText(const std::string& hostPath, const KitListing& l) {
  std::ostringstream o;
  o << hostPath << ": " << l.kind << (l.valid ? "" : " (not valid: " + l.problem + ")") << "\n";
  for (const auto& v : l.versions) o << "  " << v.first << ": " << v.second << "\n";
  for (const auto& s : l.sections) {
    o << "  section " << SectionName(s.first) << ": offset " << s.second.offset << ", length " << s.second.length << "\n";
  }
  if (l.hasPack) {
    o << "  pack at " << l.pack.base << ": " << l.pack.info.ulFileCount << " members, " << l.pack.info.ulTotalSize
      << " bytes";
    if (!l.pack.appVersion.empty()) o << ", version " << l.pack.appVersion;
    if (!l.pack.packType.empty()) o << ", type " << l.pack.packType;
    o << "\n";
    for (const auto& g : l.pack.groups) {
      o << "  " << g.name << "\n";
      for (const auto& m : g.members) {
        o << "    " << m.name << "  " << m.unpacked << " bytes (" << m.stored << " stored at " << m.offset << ")\n";
      }
    }
  }
  return o.str();
}

bool ExtractKit(const std::string& hostPath, const std::string& dir, CodePage& codePage, std::string* error) {
  KitListing l = InspectKit(hostPath, codePage);
  if (!l.valid || !l.hasPack) {
    *error = l.valid ? "holds no application pack" : l.problem;
    return false;
  }
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir, ec)) {
    *error = dir + ": cannot be created";
    return false;
  }
  HostFiles host(dir);
  PinnedFiles files(&host, kInputDevicePath, hostPath);
  LastTrace trace;
  CPackUnzip unzip(files, codePage, kInputDevicePath);
  unzip.SetOffset(l.pack.base);
  // "\kit\x" lands at DIR\x; any other member path below DIR as well, since DIR is the root.
  uint32_t result = unzip.DoUnzipPack("");
  if (result != kPackOk) {
    *error = "extraction stopped with code " + std::to_string(result) + " (" + trace.Last() + ")";
    return false;
  }
  return true;
}

}  // namespace hu::kitpack
