#include "sim/flashstore/flash_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "common/platform/errors.h"
#include "common/platform/host/host_files.h"
#include "common/platform/host/iconv_code_page.h"
#include "common/platform/host/serial/call_log.h"
#include "common/platform/host/unit.h"
#include "common/platform/text.h"
#include "sysmend/packages/kit_layout.h"
#include "sysmend/packages/kvq_parser.h"

namespace hu {
namespace {

constexpr size_t kPathUnits = sizeof(FlashRequest::path) / sizeof(char16_t);
constexpr uint32_t kCopyChunk = 64 * 1024;

// Serialises the read-modify-write of unit.ini among the unit's flash writers.
class FileLock {
 public:
  explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

// The device path of a request; false when it is empty or not terminated
// inside its 260 units.
bool RequestPath(const FlashRequest& request, std::string* path) {
  size_t n = 0;
  while (n < kPathUnits && request.path[n] != 0) ++n;
  if (n == 0 || n == kPathUnits) return false;
  *path = Utf16ToUtf8(std::u16string(request.path, n));
  return true;
}

// The file title: the name without folder and extension.
std::string FileTitle(const std::string& devicePath) {
  size_t slash = devicePath.find_last_of("\\/");
  std::string name = slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

bool StartsWithContainerMagic(const uint8_t* bytes, size_t size) {
  const size_t magicUnits = std::strlen(container::kMagic);
  if (size < (magicUnits + 1) * 2) return false;
  for (size_t i = 0; i < magicUnits; ++i) {
    if (ReadLe16(bytes + 2 * i) != static_cast<uint16_t>(container::kMagic[i])) return false;
  }
  return ReadLe16(bytes + 2 * magicUnits) == 0;
}

std::string ZeroPadded(std::string text) {
  for (char& c : text) {
    if (c == ' ') c = '0';
  }
  return text;
}

// The version the image of `kind` carries: from the container version (or
// its configuration block) for a container, else the file title.
std::string ImageVersion(FlashImage kind, const std::string& devicePath, Files& files, CodePage& codePage) {
  uint8_t head[container::kHeaderSize] = {};
  uint32_t got = 0;
  {
    auto file = files.Open(devicePath, FileAccess::Read, FileCreate::OpenExisting, 0);
    if (!file || !file->Read(head, sizeof head, &got)) return std::string();
  }
  if (!StartsWithContainerMagic(head, got)) return FileTitle(devicePath);
  CKvqParser parser(files, codePage);
  if (!parser.IsVaildKvrFile(devicePath)) return std::string();
  std::string version;
  switch (kind) {
    case FlashImage::Boot:
      parser.GetBootVer(&version);
      break;
    case FlashImage::Os:
      parser.GetOSVer(&version);
      break;
    case FlashImage::Conf:
      if (parser.GetConfVer(&version)) version = ZeroPadded(version);
      break;
    default:
      break;
  }
  return version;
}

bool ParseHex(const std::string& text, uint64_t* value) {
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return false;
    }
    v = v * 16 + static_cast<uint64_t>(d);
  }
  *value = v;
  return true;
}

}  // namespace

const char* FlashImageName(FlashImage kind) {
  switch (kind) {
    case FlashImage::Boot: return "boot";
    case FlashImage::Conf: return "conf";
    case FlashImage::Logo1: return "logo1";
    case FlashImage::Logo2: return "logo2";
    case FlashImage::Logo3: return "logo3";
    case FlashImage::Os: return "os";
  }
  return "unknown";
}

bool FlashImageHasVersion(FlashImage kind) {
  return kind == FlashImage::Boot || kind == FlashImage::Conf || kind == FlashImage::Os;
}

FlashStore::FlashStore(const std::string& unitDir) : unitDir_(unitDir) {
  while (unitDir_.size() > 1 && unitDir_.back() == '/') unitDir_.pop_back();
}

std::string FlashStore::ImagePath(FlashImage kind) const {
  return unitDir_ + "/flash/" + FlashImageName(kind) + ".img";
}

std::string FlashStore::AppAreaPath() const { return unitDir_ + "/flash/apparea.img"; }

void FlashStore::Log(const std::string& entry, const std::string& args, const std::string& result) const {
  AppendUnitCall(unitDir_, entry, args, result);
}

bool FlashStore::WriteImage(const std::string& entry, FlashImage kind, const FlashRequest& request) {
  std::string args = std::string("kind=") + FlashImageName(kind);
  auto fail = [&](const std::string& why) {
    Log(entry, args, "0 " + why);
    return false;
  };
  std::string devicePath;
  if (!RequestPath(request, &devicePath)) return fail("path not terminated or empty");
  args += " path=\"" + devicePath + "\" offset=" + std::to_string(request.offset) +
          " length=" + std::to_string(request.length);
  if (request.length == 0) return fail("empty image");

  std::string error;
  std::unique_ptr<Unit> unit = Unit::Load(unitDir_, &error);
  if (!unit) return fail(error);
  HostFiles files(unit->fs());
  auto source = files.Open(devicePath, FileAccess::Read, FileCreate::OpenExisting, 0);
  if (!source) return fail("cannot open the file (error " + std::to_string(GetLastError()) + ")");
  uint64_t end = static_cast<uint64_t>(request.offset) + request.length;
  if (end > source->Size()) return fail("range beyond the end of the file (" + std::to_string(source->Size()) + ")");
  if (!source->Seek(request.offset, SeekFrom::Begin)) return fail("seek failed");

  ::mkdir((unitDir_ + "/flash").c_str(), 0755);
  std::string target = ImagePath(kind);
  std::string tmp = target + ".tmp." + std::to_string(::getpid());
  int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return fail(std::string("cannot create the image: ") + std::strerror(errno));
  std::vector<uint8_t> chunk(kCopyChunk);
  uint32_t left = request.length;
  bool ok = true;
  while (left > 0 && ok) {
    uint32_t want = left < kCopyChunk ? left : kCopyChunk;
    uint32_t got = 0;
    ok = source->Read(chunk.data(), want, &got) && got == want &&
         ::write(out, chunk.data(), got) == static_cast<ssize_t>(got);
    left -= ok ? got : 0;
  }
  ok = ::close(out) == 0 && ok;
  source.reset();
  if (!ok || ::rename(tmp.c_str(), target.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return fail("copy failed");
  }

  if (FlashImageHasVersion(kind)) {
    IconvCodePage codePage(unit->codePage());
    std::string version = ImageVersion(kind, devicePath, files, codePage);
    if (version.empty()) {
      args += " version=unknown";
    } else {
      std::string why;
      if (!StoreVersion(kind, version, &why)) return fail("version " + version + " not kept: " + why);
      args += " version=" + version;
    }
  }
  Log(entry, args, "1");
  return true;
}

bool FlashStore::StoreVersion(FlashImage kind, const std::string& version, std::string* why) {
  FileLock lock(unitDir_ + "/flash/.unit_ini.lock");
  IniFile ini;
  std::string path = unitDir_ + "/unit.ini";
  if (!ini.Load(path, why)) return false;
  ini.Set("versions", FlashImageName(kind), version);
  return ini.Save(path, why);
}

bool FlashStore::EraseAppArea(const std::string& entry) {
  ::mkdir((unitDir_ + "/flash").c_str(), 0755);
  int fd = ::open(AppAreaPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  if (ok) ::close(fd);
  Log(entry, "erase application area", ok ? "1" : std::string("0 ") + std::strerror(errno));
  return ok;
}

bool FlashStore::ResetBootConf(const std::string& entry) {
  Log(entry, "reset boot configuration", "1");
  return true;
}

std::string FlashStore::InstalledVersion(FlashImage kind) const {
  if (!FlashImageHasVersion(kind)) return std::string();
  std::unique_ptr<Unit> unit = Unit::Load(unitDir_, nullptr);
  return unit ? unit->Get("versions", FlashImageName(kind)) : std::string();
}

bool ParseBootVersionWord(const std::string& text, uint32_t* word) {
  uint64_t v = 0;
  if (text.size() > 8 || !ParseHex(text, &v)) return false;
  *word = static_cast<uint32_t>(v);
  return true;
}

bool ParseConfIdentity(const std::string& text, uint16_t* customer, uint32_t* version) {
  uint64_t c = 0, v = 0;
  if (text.size() != 12 || !ParseHex(text.substr(0, 4), &c) || !ParseHex(text.substr(4), &v)) return false;
  *customer = static_cast<uint16_t>(c);
  *version = static_cast<uint32_t>(v);
  return true;
}

}  // namespace hu
