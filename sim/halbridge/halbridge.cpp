// The substitute "\Windows\Halbridge.dll": the platform driver library of the
// unit, writing images to the unit's simulated flash and reporting the
// installed versions from it.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "common/platform/host/serial/module_exports.h"
#include "common/platform/host/serial/unit_reboot.h"
#include "common/platform/host/unit.h"
#include "common/platform/text.h"
#include "sim/flashstore/flash_store.h"
#include "sysmend/app/halbridge_abi.h"

#define HU_EXPORT extern "C" __attribute__((visibility("default")))

namespace hu {
namespace {

constexpr size_t kVersionUnits = 260;

std::mutex gMutex;
std::string gUnitDir;  // set by HuModuleInit
// One table per set of entries presented, kept for the life of the library:
// a module loaded earlier may still look names up in its table.
std::map<unsigned, std::vector<HuExport>> gTables;
const HuExport* gExports = nullptr;

std::string UnitDir() {
  std::lock_guard<std::mutex> lock(gMutex);
  return gUnitDir;
}

std::vector<std::string> SplitNames(const std::string& list) {
  std::vector<std::string> names;
  std::string item;
  std::istringstream in(list);
  while (std::getline(in, item, ',')) {
    size_t b = item.find_first_not_of(" \t"), e = item.find_last_not_of(" \t");
    if (b != std::string::npos) names.push_back(item.substr(b, e - b + 1));
  }
  return names;
}

bool ImageOf(uint32_t kind, FlashImage* image) {
  static const FlashImage kKinds[] = {FlashImage::Boot,  FlashImage::Conf,  FlashImage::Logo1,
                                      FlashImage::Logo2, FlashImage::Logo3, FlashImage::Os};
  if (kind >= sizeof kKinds / sizeof kKinds[0]) return false;
  *image = kKinds[kind];
  return true;
}

void BuildExports(const std::string& unitDir);

}  // namespace
}  // namespace hu

using hu::FlashImage;
using hu::FlashStore;

HU_EXPORT HB_BOOL UpdatePack(uint32_t kind, const FlashRequest* request) {
  std::string unitDir = hu::UnitDir();
  if (unitDir.empty()) return 0;
  FlashStore store(unitDir);
  FlashImage image;
  if (!hu::ImageOf(kind, &image) || request == nullptr) {
    store.Log("UpdatePack", "kind=" + std::to_string(kind), request ? "0 unknown kind" : "0 no request");
    return 0;
  }
  return store.WriteImage("UpdatePack", image, *request) ? 1 : 0;
}

HU_EXPORT HB_BOOL ResetBootConf(void) {
  std::string unitDir = hu::UnitDir();
  if (unitDir.empty()) return 0;
  return FlashStore(unitDir).ResetBootConf("ResetBootConf") ? 1 : 0;
}

HU_EXPORT HB_BOOL EraseFlase(void) {
  std::string unitDir = hu::UnitDir();
  if (unitDir.empty()) return 0;
  return FlashStore(unitDir).EraseAppArea("EraseFlase") ? 1 : 0;
}

HU_EXPORT HB_BOOL GetSysVerInfo(uint32_t kind, char16_t* buffer) {
  std::string unitDir = hu::UnitDir();
  if (unitDir.empty() || buffer == nullptr) return 0;
  FlashStore store(unitDir);
  static const FlashImage kKinds[] = {FlashImage::Boot, FlashImage::Conf, FlashImage::Os};
  if (kind >= sizeof kKinds / sizeof kKinds[0]) {
    buffer[0] = 0;
    store.Log("GetSysVerInfo", "kind=" + std::to_string(kind), "0 unknown kind");
    return 0;
  }
  std::string version = store.InstalledVersion(kKinds[kind]);
  std::u16string wide = hu::Utf8ToUtf16(version);
  if (wide.size() > hu::kVersionUnits - 1) wide.resize(hu::kVersionUnits - 1);
  std::memcpy(buffer, wide.data(), wide.size() * sizeof(char16_t));
  buffer[wide.size()] = 0;
  store.Log("GetSysVerInfo", std::string("kind=") + hu::FlashImageName(kKinds[kind]),
            version.empty() ? "0 no version" : "1 " + version);
  return version.empty() ? 0 : 1;
}

HU_EXPORT HB_BOOL SysSoftReset(void) {
  std::string unitDir = hu::UnitDir();
  if (unitDir.empty()) return 0;
  FlashStore(unitDir).Log("SysSoftReset", "", "reboot");
  hu::RebootUnit(unitDir, "SysSoftReset");
}

HU_EXPORT void UpdateState(uint32_t code) {
  std::string unitDir = hu::UnitDir();
  if (unitDir.empty()) return;
  FlashStore(unitDir).Log("UpdateState", "code=" + std::to_string(code) + " low8=" + std::to_string(code & 0xFF),
                          "done");
}

HU_EXPORT void HuModuleInit(const char* unitDir) {
  std::string dir = unitDir ? unitDir : "";
  {
    std::lock_guard<std::mutex> lock(hu::gMutex);
    hu::gUnitDir = dir;
  }
  hu::BuildExports(dir);
}

HU_EXPORT const HuExport* HuModuleExports(void) {
  std::lock_guard<std::mutex> lock(hu::gMutex);
  return hu::gExports;
}

namespace hu {
namespace {

// The entries the library presents: all six less those [halbridge] without
// of unit.ini names, so that a unit can stand for an older library.
void BuildExports(const std::string& unitDir) {
  static const HuExport kAll[] = {
      {"UpdatePack", reinterpret_cast<void*>(&::UpdatePack)},
      {"ResetBootConf", reinterpret_cast<void*>(&::ResetBootConf)},
      {"EraseFlase", reinterpret_cast<void*>(&::EraseFlase)},
      {"GetSysVerInfo", reinterpret_cast<void*>(&::GetSysVerInfo)},
      {"SysSoftReset", reinterpret_cast<void*>(&::SysSoftReset)},
      {"UpdateState", reinterpret_cast<void*>(&::UpdateState)},
  };
  std::vector<std::string> without;
  if (std::unique_ptr<Unit> unit = Unit::Load(unitDir, nullptr)) without = SplitNames(unit->Get("halbridge", "without"));
  unsigned present = 0;
  std::vector<HuExport> table;
  for (unsigned i = 0; i < sizeof kAll / sizeof kAll[0]; ++i) {
    bool dropped = false;
    for (const std::string& name : without) dropped = dropped || EqualsNoCase(name, kAll[i].name);
    if (dropped) continue;
    present |= 1u << i;
    table.push_back(kAll[i]);
  }
  table.push_back({nullptr, nullptr});
  std::lock_guard<std::mutex> lock(gMutex);
  auto it = gTables.find(present);
  if (it == gTables.end()) it = gTables.emplace(present, std::move(table)).first;
  gExports = it->second.data();
}

}  // namespace
}  // namespace hu
