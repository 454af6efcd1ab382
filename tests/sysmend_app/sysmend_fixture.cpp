#include "tests/sysmend_app/sysmend_fixture.h"

#include <algorithm>
#include <cstring>

#include "common/platform/text.h"

namespace hu {

std::map<uint32_t, std::string> FakeHalbridge::versions;
std::vector<std::string> FakeHalbridge::calls;
bool FakeHalbridge::updatePackResult = true;

namespace {

extern "C" HB_BOOL FakeUpdatePack(uint32_t kind, const FlashRequest* request) {
  std::u16string path(request->path);
  FakeHalbridge::calls.push_back("UpdatePack " + std::to_string(kind) + " " + Utf16ToUtf8(path) + " " +
                                 std::to_string(request->offset) + " " + std::to_string(request->length));
  return FakeHalbridge::updatePackResult ? 1 : 0;
}
extern "C" HB_BOOL FakeResetBootConf() {
  FakeHalbridge::calls.push_back("ResetBootConf");
  return 1;
}
extern "C" HB_BOOL FakeEraseFlase() {
  FakeHalbridge::calls.push_back("EraseFlase");
  return 1;
}
extern "C" HB_BOOL FakeGetSysVerInfo(uint32_t kind, char16_t* buffer) {
  std::u16string text = Utf8ToUtf16(FakeHalbridge::versions[kind]);
  size_t n = std::min<size_t>(text.size(), 259);
  std::memcpy(buffer, text.data(), n * sizeof(char16_t));
  buffer[n] = 0;
  return 1;
}
extern "C" HB_BOOL FakeSysSoftReset() {
  FakeHalbridge::calls.push_back("SysSoftReset");
  return 1;
}
extern "C" void FakeUpdateState(uint32_t code) { FakeHalbridge::calls.push_back("UpdateState " + std::to_string(code)); }

}  // namespace

void FakeHalbridge::Reset() {
  versions.clear();
  calls.clear();
  updatePackResult = true;
}

FakeLibrary::Exports FakeHalbridge::Exports(const std::vector<std::string>& without) {
  FakeLibrary::Exports all = {
      {"UpdatePack", reinterpret_cast<void*>(&FakeUpdatePack)},
      {"ResetBootConf", reinterpret_cast<void*>(&FakeResetBootConf)},
      {"EraseFlase", reinterpret_cast<void*>(&FakeEraseFlase)},
      {"GetSysVerInfo", reinterpret_cast<void*>(&FakeGetSysVerInfo)},
      {"SysSoftReset", reinterpret_cast<void*>(&FakeSysSoftReset)},
      {"UpdateState", reinterpret_cast<void*>(&FakeUpdateState)},
  };
  for (const std::string& name : without) all.erase(name);
  return all;
}

SysmendFixture::SysmendFixture(const std::string& commandLine)
    : platform("\\StorageCard\\Sysmend\\Sysmend.exe", commandLine) {
  FakeHalbridge::Reset();
  for (const char* dir : {"\\StorageCard\\UpdateKitM", "\\StorageCard\\Sysmend", "\\Dravik", "\\NandFlash", "\\Windows"}) {
    files.MakeDirs(dir);
  }
}

void SysmendFixture::InstallHalbridge(const std::vector<std::string>& without) {
  library.AddModule("\\Windows\\Halbridge.dll", FakeHalbridge::Exports(without));
}

void SysmendFixture::SetInstalled(const std::string& os, const std::string& boot, const std::string& conf,
                                  const std::string& app) {
  FakeHalbridge::versions[kVersionOs] = os;
  FakeHalbridge::versions[kVersionBoot] = boot;
  FakeHalbridge::versions[kVersionConf] = conf;
  if (!app.empty()) files.PutFile("\\Dravik\\$KVR$\\App\\AppVerInfo.cfg", AppVerInfo(app));
}

void SysmendFixture::PutKitFile(const std::string& name, const std::string& bytes) {
  files.PutFile(kitFolder + "\\" + name, bytes);
}

std::string SysmendFixture::AppVerInfo(const std::string& version) {
  std::string bytes = "\xFF\xFE";
  for (char16_t u : Utf8ToUtf16(version)) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  return bytes;
}

std::string SysmendFixture::AppPack(const std::string& appVersion,
                                    const std::vector<std::pair<std::string, std::string>>& files, bool incremental) {
  testkit::Group kit{"\\kit\\", {}};
  kit.members.emplace_back("\\kit\\AppVerInfo.cfg", AppVerInfo(appVersion));
  if (incremental) kit.members.emplace_back("\\kit\\AukPackInfo.ini", "[AukPackInfo]\r\nPackType=aukinc\r\n");
  for (const auto& f : files) kit.members.emplace_back("\\kit\\" + f.first, f.second);
  return testkit::BuildPack({kit});
}

}  // namespace hu
