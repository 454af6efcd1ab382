#include "public_ver_checker.h"

#include <cstdio>

#include "common/platform/text.h"
#include "common/platform/trace.h"

namespace hu {
namespace {

const char* const kVerdictTexts[kVerdictCount] = {
    "is valid !",
    "is invalid, os cpu invalid !",
    "is invalid, os machine invalid !",
    "is invalid, os GPS invalid !",
    "is invalid, os flash invalid !",
    "is invalid, os 3G invalid !",
    "is invalid, os CMMB invalid !",
    "is invalid, boot cpu invalid !",
    "is invalid, boot machine invalid !",
    "is invalid, boot filesystem invalid !",
    "is invalid, app CMMB invalid !",
    "is invalid, app bluetooth invalid !",
    "is invalid, the same ver of os with local",
    "is invalid, the same ver of boot with local",
    "is invalid, the same ver of app with local",
    "do not exist !",
    "is ignored for other valid pack !",
    "is invalid pack !!!",
    "is invalid, the same ver of kvr with local",
    "is invalid, customer ID invalid !",
    "is unknow, Getting terminal version failed !",
    "is invalid, os generation don't match!",
    "is invalid, app generation don't match!",
    "is invalid, os and app don't match!",
};

struct Field {
  uint32_t firstBit;
  uint32_t bitCount;
};

// Byte order of OsVerInfo: head fields 0..9, the long-text fields 10..12, then the tail.
const Field kOsHead[10] = {{0, 4}, {4, 4}, {8, 1}, {9, 1}, {10, 2}, {12, 1}, {13, 2}, {15, 1}, {16, 2}, {18, 2}};
const Field kOsLong[3] = {{20, 3}, {23, 3}, {26, 2}};
const Field kOsTail[4] = {{0, 8}, {8, 8}, {16, 8}, {24, 4}};
const Field kBootHead[7] = {{0, 4}, {4, 4}, {8, 1}, {9, 1}, {10, 2}, {12, 2}, {14, 2}};
const Field kBootTail[3] = {{0, 4}, {4, 4}, {8, 8}};

// Lengths and indexes count UTF-16 units, as the device's wide texts do.
std::u16string Wide(const std::string& s) { return Utf8ToUtf16(s); }

bool DecodeFields(const std::string& text, const Field* fields, size_t count, uint8_t* out) {
  for (size_t i = 0; i < count; ++i) {
    if (!CPublicVerChecker::GetInfo(text, fields[i].firstBit, fields[i].bitCount, &out[i])) return false;
  }
  return true;
}

bool SameNoCase(const std::string& a, const std::string& b) { return EqualsNoCase(a, b); }

}  // namespace

const char* VerdictText(uint32_t code) { return code < kVerdictCount ? kVerdictTexts[code] : ""; }

bool CPublicVerChecker::GetInfo(const std::string& text, uint32_t firstBit, uint32_t bitCount, uint8_t* out) {
  std::u16string wide = Wide(text);
  uint32_t d = firstBit / 4;
  uint32_t r = firstBit % 4;
  uint32_t n = (bitCount + r + 3) / 4;
  if (d + n > wide.size()) {
    Trace("\n CPublicVerChecker::GetInfo nVerOffset + nByteCnts = %d  wcslen(lpVerInfo) = %d \n",
          static_cast<int>(d + n), static_cast<int>(wide.size()));
    return false;
  }
  // "%x" semantics: leading blanks, sign and "0x" accepted, stops at the first non-digit.
  std::string digits;
  for (uint32_t i = 0; i < n; ++i) {
    char16_t u = wide[d + i];
    digits.push_back(u < 0x80 ? static_cast<char>(u) : '?');
  }
  unsigned int parsed = 0;
  if (std::sscanf(digits.c_str(), "%x", &parsed) != 1) parsed = 0;
  uint32_t v = parsed;
  uint32_t left = 32 - 4 * n + r;
  v = left >= 32 ? 0 : v << left;
  uint32_t right = 32 - bitCount;
  v = right >= 32 ? 0 : v >> right;
  *out = static_cast<uint8_t>(v & 0xFF);
  return true;
}

bool CPublicVerChecker::DecodeOsVer(const std::string& text, OsVerInfo* out) {
  std::u16string wide = Wide(text);
  if (wide.size() < 7) return false;
  std::string head = Utf16ToUtf8(wide.substr(0, wide.size() - 7));
  std::string tail = Utf16ToUtf8(wide.substr(wide.size() - 7));
  if (!DecodeFields(head, kOsHead, 10, &out->bytes[0])) return false;
  if (wide.size() > 12 && !DecodeFields(head, kOsLong, 3, &out->bytes[10])) return false;
  return DecodeFields(tail, kOsTail, 4, &out->bytes[13]);
}

bool CPublicVerChecker::DecodeBootVer(const std::string& text, BootVerInfo* out) {
  std::u16string wide = Wide(text);
  if (wide.size() < 4) return false;
  if (!DecodeFields(text, kBootHead, 7, &out->bytes[0])) return false;
  return DecodeFields(Utf16ToUtf8(wide.substr(wide.size() - 4)), kBootTail, 3, &out->bytes[7]);
}

uint32_t CPublicVerChecker::CheckOSVer(const std::string& local, const std::string& update, bool checkSame) {
  Trace("\n CPublicVerChecker::CheckOSVer lpOSVerLocal = %s  lpOSVerUpdate = %s \n", local.c_str(), update.c_str());
  if (checkSame && SameNoCase(local, update)) return kVerdictSameOs;
  OsVerInfo l, u;
  if (!DecodeOsVer(local, &l) || !DecodeOsVer(update, &u)) return kVerdictInvalidPack;
  struct {
    const char* name;
    uint8_t a, b;
    uint32_t code;
  } const fields[] = {
      {"byOSCPU", l.byOSCPU(), u.byOSCPU(), kVerdictOsCpu},
      {"byOSMachine", l.byOSMachine(), u.byOSMachine(), kVerdictOsMachine},
      {"byOSGPS", l.byOSGPS(), u.byOSGPS(), kVerdictOsGps},
      {"byOSFlash", l.byOSFlash(), u.byOSFlash(), kVerdictOsFlash},
      {"byOS3G", l.byOS3G(), u.byOS3G(), kVerdictOs3G},
      {"byOSCMMB", l.byOSCMMB(), u.byOSCMMB(), kVerdictOsCmmb},
  };
  for (const auto& f : fields) {
    if (f.a != f.b) {
      Trace("\n CPublicVerChecker::CheckOSVer osVerLocal.%s = %d osVerUpdate.%s = %d \n", f.name, f.a, f.name, f.b);
      return f.code;
    }
  }
  return kVerdictValid;
}

uint32_t CPublicVerChecker::CheckBootVer(const std::string& local, const std::string& update, bool checkSame) {
  Trace("\n CPublicVerChecker::CheckBootVer lpBootVerLocal = %s  lpBootVerUpdate = %s \n", local.c_str(),
        update.c_str());
  if (checkSame && SameNoCase(local, update)) return kVerdictSameBoot;
  BootVerInfo l, u;
  if (!DecodeBootVer(local, &l) || !DecodeBootVer(update, &u)) return kVerdictInvalidPack;
  struct {
    const char* name;
    uint8_t a, b;
    uint32_t code;
  } const fields[] = {
      {"byBootCPU", l.byBootCPU(), u.byBootCPU(), kVerdictBootCpu},
      {"byBootMachine", l.byBootMachine(), u.byBootMachine(), kVerdictBootMachine},
      {"byBootFileSystem", l.byBootFileSystem(), u.byBootFileSystem(), kVerdictBootFileSystem},
  };
  for (const auto& f : fields) {
    if (f.a != f.b) {
      Trace("\n CPublicVerChecker::CheckOSVer bootVerLocal.%s = %d bootVerUpdate.%s = %d \n", f.name, f.a, f.name,
            f.b);
      return f.code;
    }
  }
  return kVerdictValid;
}

uint32_t CPublicVerChecker::CheckAppVer(const std::string& local, const std::string& update, bool checkSame) {
  Trace("\n CPublicVerChecker::CheckAppVer lpAppVerLocal = %s  lpAppVerUpdate = %s \n", local.c_str(),
        update.c_str());
  if (checkSame && SameNoCase(local, update) &&
      files_.GetAttributes("\\dravik\\$KVR$\\KitUpdated.flg") != INVALID_FILE_ATTRIBUTES) {
    return kVerdictSameApp;
  }
  return kVerdictValid;
}

bool CPublicVerChecker::CheckResVer(const std::string& local, const std::string& update) {
  Trace("\n CPublicVerChecker::CheckResVer lpResVerLocal = %s  lpResVerUpdate = %s \n", local.c_str(),
        update.c_str());
  return SameNoCase(local, update);
}

uint32_t CPublicVerChecker::CheckKvrVer(const std::string& local, const std::string& update, bool checkSame) {
  std::u16string l = Wide(local), u = Wide(update);
  auto first4 = [](const std::u16string& s) { return Utf16ToUtf8(s.substr(0, 4)); };
  // A text shorter than 8 units is compared whole rather than read before its start.
  auto last8 = [](const std::u16string& s) { return Utf16ToUtf8(s.size() > 8 ? s.substr(s.size() - 8) : s); };
  if (!SameNoCase(first4(l), first4(u))) return kVerdictCustomerId;
  if (checkSame && SameNoCase(last8(l), last8(u))) return kVerdictSameKvr;
  return kVerdictValid;
}

namespace {

int64_t PackVersionNumber(const std::string& path) {
  size_t slash = path.rfind('\\');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  std::string name = (dot == std::string::npos || dot < start) ? path.substr(start) : path.substr(start, dot - start);
  int a = 0, b = 0, c = 0;
  std::sscanf(name.c_str(), "%d.%d.%d", &a, &b, &c);
  // 64-bit so that absurd numbers in a file name cannot overflow.
  return (static_cast<int64_t>(a) * 256 + b) * 256 + c;
}

}  // namespace

void SortPacksByVersion(std::vector<std::string>& packPaths) {
  size_t end = packPaths.size();
  while (end > 1) {
    size_t lastSwap = 0;
    for (size_t i = 0; i + 1 < end; ++i) {
      if (PackVersionNumber(packPaths[i]) < PackVersionNumber(packPaths[i + 1])) {
        std::swap(packPaths[i], packPaths[i + 1]);
        lastSwap = i + 1;
      }
    }
    end = lastSwap;
  }
}

}  // namespace hu
