// A unit library for the loader tests; built twice, with and without an export table.
#include <string>

#include "common/platform/host/serial/module_exports.h"

namespace {
std::string gUnitDir;
}

extern "C" {

int Visible(void) { return 42; }
int Hidden(void) { return 7; }
const char* UnitDirSeen(void) { return gUnitDir.c_str(); }

void HuModuleInit(const char* unitDir) { gUnitDir = unitDir ? unitDir : ""; }

#ifdef HU_TEST_MODULE_TABLE
const HuExport* HuModuleExports(void) {
  static const HuExport kTable[] = {
      {"Visible", reinterpret_cast<void*>(&Visible)},
      {"UnitDirSeen", reinterpret_cast<void*>(&UnitDirSeen)},
      {nullptr, nullptr},
  };
  return kTable;
}
#endif

}  // extern "C"
