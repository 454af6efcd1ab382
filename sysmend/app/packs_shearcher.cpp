#include "sysmend/app/packs_shearcher.h"

#include "common/platform/trace.h"
#include "sysmend/packages/kvq_parser.h"
#include "sysmend/packages/pack_unzip.h"
#include "sysmend/packages/public_ver_checker.h"

namespace hu {

namespace {
std::string TitleBefore(const std::string& path, bool lastDot) {
  size_t slash = path.rfind('\\');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = lastDot ? path.rfind('.') : path.find('.', start);
  if (dot != std::string::npos && dot < start) dot = std::string::npos;
  return dot == std::string::npos ? path.substr(start) : path.substr(start, dot - start);
}
}  // namespace

std::string FileTitleOf(const std::string& path) { return TitleBefore(path, true); }

std::string LogoTitleOf(const std::string& path) { return TitleBefore(path, false); }

uint32_t FileSizeOf(Files& files, const std::string& path) {
  std::unique_ptr<File> f = files.Open(path, FileAccess::Read, FileCreate::OpenExisting, FILE_SHARE_READ);
  if (!f) return 0;
  uint64_t size = f->Size();
  return size > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
}

bool CPacksShearcher::Classify(const std::string& path, uint32_t* kind) {
  size_t dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = AsciiLower(path.substr(dot + 1));
  if (ext == "bin") {
    *kind = kPackBoot;
  } else if (ext == "kvr") {
    *kind = kPackConf;
  } else if (ext == "nb0") {
    *kind = kPackOs;
  } else if (ext == "kvq") {
    *kind = kPackContainer;
  } else if (ext == "aukinc") {
    *kind = kPackIncremental;
  } else if (ext == "bmp") {
    std::string title = AsciiLower(LogoTitleOf(path));
    if (title == "logo1") {
      *kind = kPackLogo1;
    } else if (title == "logo2") {
      *kind = kPackLogo2;
    } else if (title == "logo3") {
      *kind = kPackLogo3;
    } else {
      return false;
    }
  } else if (ext == "auk") {
    CKvqParser parser(files_, codePage_);
    if (parser.IsVaildKvrFile(path)) {
      *kind = kPackContainer;
    } else {
      *kind = ReadPackType(files_, codePage_, path) == "aukinc" ? kPackIncremental : kPackApp;
    }
  } else {
    return false;
  }
  return true;
}

bool CPacksShearcher::ShearchPacksInfoVec(const std::string& folder) {
  m_packInfoVec.reset(new (std::nothrow) std::vector<PackInfo>());
  if (!m_packInfoVec) {
    Trace("CPacksShearcher::ShearchPacksInfoVec m_pPackInfoVec = %0X failed !!!", 0u);
    return false;
  }
  std::string pattern = (!folder.empty() && folder.back() == '\\') ? folder + "*.*" : folder + "\\*.*";
  std::string base = pattern.substr(0, pattern.size() - 3);
  FindData entry;
  std::unique_ptr<FindHandle> find = files_.FindFirst(pattern, &entry);
  if (!find) {
    // An existing but empty folder lists nothing; only a missing one fails the search.
    uint32_t attributes = files_.GetAttributes(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  do {
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::string path = base + entry.name;
    uint32_t kind = 0;
    if (Classify(path, &kind)) m_packInfoVec->push_back(PackInfo{kind, 0, path});
  } while (find->Next(&entry));
  return true;
}

void FillSlotFromPack(Files& files, PackSlot& slot, PackInfo& info) {
  if (info.flag != kVerdictValid) return;
  if (slot.present) {
    info.flag = kVerdictIgnored;
    return;
  }
  slot.present = true;
  slot.path = info.path;
  slot.offset = 0;
  slot.length = FileSizeOf(files, info.path);
}

}  // namespace hu
