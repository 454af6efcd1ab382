#include "pack_unzip.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <new>

#include "common/platform/errors.h"
#include "common/platform/trace.h"
#include "sysmend/packages/inflate_worker.h"
#include "sysmend/packages/ini_text.h"
#include "sysmend/packages/mama_zip.h"

namespace hu {

namespace {

constexpr char kMemorySource[] = "PackMemberBody";
constexpr size_t kAppVerBuffer = 520;
constexpr size_t kPackTypeBuffer = 512;

void TraceOpenFailed(const std::string& path) {
  Trace("\n CPackUnzip::OpenZipPack m_strPackPath = %s  nErrCode = %d \n", path.c_str(),
        static_cast<int>(GetLastError()));
}

void TraceReadFailed(const std::string& fileName) {
  Trace("\n CPackUnzip::DoUnzipPack ReadFile fileName = %s nErrCode = %d failed !!! \n", fileName.c_str(),
        static_cast<int>(GetLastError()));
}

// Reads `stored` bytes of a member body at base + offset, bounded by the
// pack's size. kPackOk with the bytes in `body`, else the result code.
// `quiet` leaves failures untraced (a read ahead, tried again at its turn).
uint32_t ReadBody(File& pack, uint64_t base, const PackMember& member, const std::string& traceName,
                  std::unique_ptr<uint8_t[]>* body, std::optional<uint64_t>* packSize = nullptr,
                  bool quiet = false) {
  uint64_t start = base + member.offset;
  // A pack cut short after its size was taken still fails on the read below.
  std::optional<uint64_t> own;
  std::optional<uint64_t>& size = packSize ? *packSize : own;
  if (!size) size = pack.Size();
  if (start + member.stored > *size) {
    SetLastError(ERROR_HANDLE_EOF);
    if (!quiet) TraceReadFailed(traceName);
    return kPackReadFailed;
  }
  body->reset(new (std::nothrow) uint8_t[member.stored == 0 ? 1 : member.stored]);
  if (!*body) return kPackNoMemory;
  uint32_t done = 0;
  if (!pack.Seek(static_cast<int64_t>(start), SeekFrom::Begin) ||
      !pack.Read(body->get(), member.stored, &done) || done < member.stored) {
    if (!quiet) TraceReadFailed(traceName);
    return kPackReadFailed;
  }
  return kPackOk;
}

bool HasParentStep(const std::string& name) {
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

CPackUnzip::CPackUnzip(Files& files, CodePage& codePage, const std::string& packPath)
    : files_(files), codePage_(codePage), m_strPackPath(packPath) {}

void CPackUnzip::SetCallback(PackCallback callback, void* context) {
  m_pCallback = std::move(callback);
  m_pContext = context;
}

std::unique_ptr<File> CPackUnzip::OpenPack() {
  auto file = files_.Open(m_strPackPath, FileAccess::Read, FileCreate::OpenExisting, 0);
  if (!file) TraceOpenFailed(m_strPackPath);
  return file;
}

uint32_t CPackUnzip::CheckZipPack() {
  auto file = OpenPack();
  if (!file) return kPackOpenFailed;
  char magic[pack::kMagicCompare];
  uint32_t done = 0;
  if (!file->Seek(static_cast<int64_t>(m_nOffset) + pack::kMagicOffset, SeekFrom::Begin) ||
      !file->Read(magic, sizeof magic, &done) || done < sizeof magic ||
      !EqualsNoCase(std::string(magic, sizeof magic), pack::kMagic)) {
    Trace("\n CPackUnzip::CheckZipPack ReadFile failed !!! \n");
    return kPackReadFailed;
  }
  return kPackOk;
}

bool CPackUnzip::GetPackInfo(PackArchiveInfo* out) {
  auto file = OpenPack();
  if (!file) return false;
  uint8_t bytes[pack::kInfoSize];
  uint32_t done = 0;
  if (!file->Seek(m_nOffset, SeekFrom::Begin) || !file->Read(bytes, sizeof bytes, &done) ||
      done < sizeof bytes) {
    return false;
  }
  if (out) *out = DecodePackInfo(bytes);
  return true;
}

bool CPackUnzip::GetTotalSize(uint32_t* out) {
  PackArchiveInfo info;
  if (!GetPackInfo(&info)) return false;
  if (out) *out = info.ulTotalSize;
  return true;
}

bool CPackUnzip::OpenZipPack() {
  m_groups.clear();
  auto file = OpenPack();
  if (!file) return false;
  uint8_t bytes[pack::kInfoSize];
  uint32_t done = 0;
  if (!file->Seek(m_nOffset, SeekFrom::Begin) || !file->Read(bytes, sizeof bytes, &done) ||
      done < sizeof bytes) {
    return false;
  }
  PackArchiveInfo info = DecodePackInfo(bytes);
  m_nFileCount = info.ulFileCount;
  m_nTotalSize = info.ulTotalSize;
  uint64_t indexOffset = static_cast<uint64_t>(m_nOffset) + pack::kIndexOffset;
  // A head size is believed only as far as the file reaches.
  if (indexOffset + info.ulHeadSize > file->Size()) {
    Trace("\n CPackUnzip::OpenZipPack ulHeadSize = %u beyond the file size %llu !!! \n", info.ulHeadSize,
          static_cast<unsigned long long>(file->Size()));
    return false;
  }
  Trace("\r packInfo.ulHeadSize = %d \r", static_cast<int>(info.ulHeadSize));
  Trace("\r Header Offset = %d \r", static_cast<int>(indexOffset));
  std::unique_ptr<uint8_t[]> text(new (std::nothrow) uint8_t[info.ulHeadSize == 0 ? 1 : info.ulHeadSize]);
  if (!text) return false;
  if (!file->Seek(static_cast<int64_t>(indexOffset), SeekFrom::Begin) ||
      !file->Read(text.get(), info.ulHeadSize, &done) || done < info.ulHeadSize) {
    return false;
  }
  return ParseIndex(text.get(), info.ulHeadSize);
}

bool CPackUnzip::ParseIndex(const uint8_t* text, size_t length) {
  enum { kOutside, kName, kInGroup } state = kOutside;
  PackGroup group;
  size_t pos = 0;
  while (pos < length) {
    const void* lf = std::memchr(text + pos, '\n', length - pos);
    size_t lineEnd = lf ? static_cast<size_t>(static_cast<const uint8_t*>(lf) - text) + 1 : length;
    size_t lineLength = lineEnd - pos;
    if (lineLength > pack::kMaxLine) {
      Trace("\n CPackUnzip::OpenZipPack index line too long nLen = %d !!! \n", static_cast<int>(lineLength));
      m_groups.clear();
      return false;
    }
    size_t contentLength = lf ? lineLength - 1 : lineLength;
    std::string line = codePage_.ToUtf8(std::string(reinterpret_cast<const char*>(text + pos), contentLength));
    pos = lineEnd;
    if (line.find(pack::kGroupOpen) != std::string::npos) {
      group = PackGroup();
      state = kName;
    } else if (line.find(pack::kGroupClose) != std::string::npos) {
      if (state != kOutside) m_groups.push_back(std::move(group));
      group = PackGroup();
      state = kOutside;
    } else if (line.find(pack::kIndexEnd) != std::string::npos) {
      break;
    } else if (state == kName) {
      group.name = line;
      state = kInGroup;
    } else if (state == kInGroup) {
      if (length - pos < pack::kMemberBinary) {
        Trace("\n CPackUnzip::OpenZipPack member %s cut short !!! \n", line.c_str());
        m_groups.clear();
        return false;
      }
      MemberFields f = DecodeMemberFields(text + pos);
      pos += pack::kMemberBinary;
      group.members.push_back(PackMember{line, f.stored, f.offset, f.unpacked});
    }
  }
  return true;
}

bool CPackUnzip::MembersFitTotal() const {
  uint64_t declared = 0;
  for (const auto& g : m_groups) {
    for (const auto& m : g.members) declared += m.unpacked;
  }
  if (declared <= m_nTotalSize) return true;
  Trace("\n CPackUnzip::DoUnzipPack members declare %llu bytes, the pack %u !!! \n",
        static_cast<unsigned long long>(declared), m_nTotalSize);
  return false;
}

std::string PackMemberTarget(const std::string& memberName, const std::string& targetDir) {
  if (memberName.find('\0') != std::string::npos || HasParentStep(memberName)) return std::string();
  const size_t prefix = sizeof(pack::kKitPrefix) - 1;
  if (memberName.size() >= prefix && EqualsNoCase(memberName.substr(0, prefix), pack::kKitPrefix)) {
    // The four characters go whatever follows them ("\kitchen\x" too): the
    // name stays inside the unit either way. A bare "\kit" names no file.
    std::string rest = memberName.substr(prefix);
    if (rest.empty()) return std::string();
    return targetDir + rest;
  }
  return memberName;
}

namespace {

// Only members inflated whole are read ahead, and only beside such a member:
// a member that streams keeps memory at its stored bytes plus a few MiB.
bool ReadsAhead(const PackMember& m) {
  return m.unpacked <= CMamaZip::kWholeLimit && m.stored <= CMamaZip::kWholeLimit;
}
// How far ahead: a few members, within a memory budget (stored and inflated).
constexpr size_t kAheadMembers = 16;
constexpr uint64_t kAheadBytes = 16ull << 20;

}  // namespace

struct PackExtraction::Ahead {
  struct Read {
    const PackMember* member;
    std::unique_ptr<uint8_t[]> body;
  };
  std::deque<Read> queued;  // read and given to the worker, in order
  uint64_t bytes = 0;
  InflateWorker worker;  // declared last: done with the bodies before they go
};

PackExtraction::PackExtraction() = default;
PackExtraction::~PackExtraction() = default;

namespace {

// Tops up the queue of members read ahead once it is half empty, as one
// batch for the worker. A member that cannot be read ahead stops it there:
// it is read at its turn, which fails as it always did.
void ReadAhead(File& pack, uint64_t base, PackExtraction& x) {
  if (!x.ahead) x.ahead = std::make_unique<PackExtraction::Ahead>();
  PackExtraction::Ahead& a = *x.ahead;
  if (a.queued.size() > kAheadMembers / 2) return;
  const std::vector<const PackMember*>& order = *x.order;
  for (size_t i = x.position + 1 + a.queued.size(); i < order.size() && a.queued.size() < kAheadMembers; ++i) {
    const PackMember& m = *order[i];
    const uint64_t bytes = uint64_t{m.stored} + m.unpacked;
    if (!ReadsAhead(m) || a.bytes + bytes > kAheadBytes) break;
    std::unique_ptr<uint8_t[]> body;
    if (ReadBody(pack, base, m, std::string(), &body, &x.packSize, true) != kPackOk) break;
    a.worker.Add(body.get(), m.stored, m.unpacked);
    a.queued.push_back({&m, std::move(body)});
    a.bytes += bytes;
  }
  a.worker.Go();
}

}  // namespace

uint32_t ExtractPackMember(Files& files, File& pack, uint64_t base, const PackMember& member,
                           const std::string& targetDir, PackExtraction* extraction) {
  std::string target = PackMemberTarget(member.name, targetDir);
  if (target.empty()) {
    Trace("\n CPackUnzip::DoUnzipPack unsafe fileName = %s refused !!! \n", member.name.c_str());
    return kPackOpenFailed;
  }
  std::unique_ptr<uint8_t[]> body;
  InflatedAhead inflated;
  bool ahead = false;
  uint32_t result = kPackOk;
  PackExtraction::Ahead* a = extraction ? extraction->ahead.get() : nullptr;
  if (a && !a->queued.empty() && a->queued.front().member == &member) {
    body = std::move(a->queued.front().body);
    inflated = a->worker.Take();
    a->queued.pop_front();
    a->bytes -= uint64_t{member.stored} + member.unpacked;
    ahead = true;
  } else {
    result = ReadBody(pack, base, member, target, &body, extraction ? &extraction->packSize : nullptr);
    if (result != kPackOk) return result;
  }
  if (extraction && extraction->order && ReadsAhead(member)) ReadAhead(pack, base, *extraction);
  CMamaZip zip(files, kMemorySource);
  if (extraction) zip.SetMadeFolder(&extraction->madeFolder);
  zip.SetSource(body.get(), member.stored);
  zip.SetOutputFile();
  zip.SetOutputLimit(member.unpacked);
  if (ahead) zip.SetInflatedAhead(&inflated);
  // What lands in the unit is checked whole: a damaged member fails the pack.
  zip.SetCheckTrailer(true);
  result = zip.SwapSize(target, CMamaZip::kModeMemory);
  if (result != kPackOk) {
    Trace("\n CPackUnzip::DoUnzipPack oUnzip.SwapSize fileName = %s failed !!! \n", target.c_str());
  }
  return result;
}

uint32_t CPackUnzip::DoUnzipPack(const std::string& targetDir) {
  if (!OpenZipPack() || !MembersFitTotal()) return kPackNoIndex;
  auto file = OpenPack();
  if (!file) return kPackOpenFailed;
  uint64_t divisor = m_nFileCount;
  if (divisor == 0) {
    // A zero count cannot divide; the members found stand in for it.
    for (const auto& g : m_groups) divisor += g.members.size();
  }
  std::vector<const PackMember*> members;
  for (const auto& group : m_groups) {
    for (const auto& member : group.members) members.push_back(&member);
  }
  uint32_t result = kPackOk;
  PackExtraction extraction;
  extraction.order = &members;
  for (size_t i = 0; i < members.size(); ++i) {
    extraction.position = i;
    result = ExtractPackMember(files_, *file, m_nOffset, *members[i], targetDir, &extraction);
    uint32_t percentage = static_cast<uint32_t>(std::min<uint64_t>(100, (i + 1) * 100 / divisor));
    if (m_pCallback && percentage > 0) m_pCallback(0, PackProgress{percentage, result}, m_pContext);
    if (result != kPackOk) return result;
  }
  return result;
}

uint32_t CPackUnzip::UnZipFile(const std::string& memberPath, uint8_t* buffer, uint32_t* length) {
  if (!OpenZipPack()) return kPackNoIndex;
  auto file = OpenPack();
  if (!file) return kPackOpenFailed;
  size_t cut = memberPath.find_last_of('\\');
  std::string groupName = cut == std::string::npos ? std::string() : memberPath.substr(0, cut + 1);
  const PackGroup* group = nullptr;
  for (const auto& g : m_groups) {
    if (EqualsNoCase(g.name, groupName)) {
      group = &g;
      break;
    }
  }
  if (group == nullptr) return kPackNoIndex;
  for (const auto& member : group->members) {
    if (!EqualsNoCase(member.name, memberPath)) continue;
    uint32_t given = length ? *length : 0;
    if (buffer == nullptr || length == nullptr || member.unpacked > given) {
      if (length) *length = member.unpacked;
      Trace("CPackUnzip::UnZipFile buf length is not enough, nDataLen = %d, origLen = %d",
            static_cast<int>(given), static_cast<int>(member.unpacked));
      return kPackSmallBuffer;
    }
    *length = member.unpacked;
    std::unique_ptr<uint8_t[]> body;
    uint32_t result = ReadBody(*file, m_nOffset, member, memberPath, &body);
    if (result != kPackOk) return result;
    CMamaZip zip(files_, kMemorySource);
    zip.SetSource(body.get(), member.stored);
    zip.SetOutputMemory(buffer, member.unpacked);
    return zip.SwapSize(memberPath, CMamaZip::kModeMemory);
  }
  return kPackNoIndex;
}

std::string ReadPackAppVer(Files& files, CodePage& codePage, const std::string& packPath, uint32_t offset) {
  uint8_t buffer[kAppVerBuffer] = {};
  uint32_t length = sizeof buffer;
  CPackUnzip unzip(files, codePage, packPath);
  unzip.SetOffset(offset);
  if (unzip.UnZipFile(pack::kAppVerMember, buffer, &length) != kPackOk) return std::string();
  // Skip the byte-order mark.
  return Utf16LeBytesToUtf8(buffer + 2, sizeof buffer - 2);
}

std::string ReadPackType(Files& files, CodePage& codePage, const std::string& packPath, uint32_t offset) {
  char buffer[kPackTypeBuffer] = {};
  uint32_t length = sizeof buffer;
  CPackUnzip unzip(files, codePage, packPath);
  unzip.SetOffset(offset);
  if (unzip.UnZipFile(pack::kPackInfoMember, reinterpret_cast<uint8_t*>(buffer), &length) != kPackOk) {
    return std::string();
  }
  std::string text(buffer, strnlen(buffer, sizeof buffer));
  std::string value;
  if (!IniValue(text, "AukPackInfo", "PackType", &value)) return std::string();
  return codePage.ToUtf8(value);
}

}  // namespace hu
