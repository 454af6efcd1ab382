#include "common/platform/host/serial/host_library.h"

#include <gtest/gtest.h>

#include "common/platform/errors.h"
#include "common/platform/testing/capture_trace.h"
#include "tests/host_io/temp_unit.h"

namespace hu {
namespace {

using testio::TempUnit;

// The unit's files as the platform would resolve them: device path -> host file.
class HostLibraryTest : public ::testing::Test {
 protected:
  HostLibraryTest()
      : library_([this](const std::string& path) { return Resolve(path); }, unit_.dir()) {}

  std::string Resolve(const std::string& path) {
    if (path == "\\Windows\\Table.dll") return HU_TEST_MODULE_TABLE_PATH;
    if (path == "\\Windows\\Plain.dll") return HU_TEST_MODULE_PLAIN_PATH;
    if (path == "\\Windows\\Junk.dll") return unit_ / "fs/Windows/Junk.dll";
    return path == "\\Windows\\Gone.dll" ? unit_ / "fs/Windows/Gone.dll" : "";
  }

  TempUnit unit_;
  HostLibrary library_;
};

TEST_F(HostLibraryTest, ExportTableIsTheOnlyWayIn) {
  auto module = library_.LoadLibrary("\\Windows\\Table.dll");
  ASSERT_NE(module, nullptr);
  auto visible = reinterpret_cast<int (*)()>(module->GetProcAddress("Visible"));
  ASSERT_NE(visible, nullptr);
  EXPECT_EQ(visible(), 42);
  auto unitDir = reinterpret_cast<const char* (*)()>(module->GetProcAddress("UnitDirSeen"));
  ASSERT_NE(unitDir, nullptr);
  EXPECT_EQ(std::string(unitDir()), unit_.dir());  // told its unit when loaded
  // Defined and exported by the object, but not presented by its table.
  SetLastError(0);
  EXPECT_EQ(module->GetProcAddress("Hidden"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(module->GetProcAddress("HuModuleInit"), nullptr);
}

TEST_F(HostLibraryTest, WithoutTableSymbolsAreLookedUp) {
  auto module = library_.LoadLibrary("\\Windows\\Plain.dll");
  ASSERT_NE(module, nullptr);
  auto hidden = reinterpret_cast<int (*)()>(module->GetProcAddress("Hidden"));
  ASSERT_NE(hidden, nullptr);
  EXPECT_EQ(hidden(), 7);
  EXPECT_EQ(module->GetProcAddress("NoSuchEntry"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}

TEST_F(HostLibraryTest, MissingOrBrokenFileIsModNotFound) {
  CaptureTrace trace;
  SetLastError(0);
  EXPECT_EQ(library_.LoadLibrary("\\Windows\\Gone.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(library_.LoadLibrary("\\Windows\\Unresolvable.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

  scratch::WriteFile(unit_ / "fs/Windows/Junk.dll", "MZ this is no shared object");
  SetLastError(0);
  EXPECT_EQ(library_.LoadLibrary("\\Windows\\Junk.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_TRUE(trace.Contains("Junk.dll"));  // the loader's reason goes to the trace
}

}  // namespace
}  // namespace hu
