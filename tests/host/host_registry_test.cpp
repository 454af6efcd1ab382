#include "common/platform/host/host_registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "common/platform/errors.h"
#include "tests/host/temp_dir.h"

namespace hu {
namespace {

class HostRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }
  std::string Db() const { return dir_ / "registry.db"; }
  std::unique_ptr<HostRegistry> Make(bool create = true) {
    std::string error;
    auto r = HostRegistry::Open(Db(), create, &error);
    EXPECT_NE(r, nullptr) << error;
    return r;
  }
  TempDir dir_;
};

TEST_F(HostRegistryTest, KeysAndNamesIgnoreCaseAndKeepFirstSpelling) {
  auto reg = Make();
  auto os = reg->CreateKey("SoftWare\\Dravik\\Os");
  ASSERT_NE(os, nullptr);
  ASSERT_EQ(os->SetValue("CPU_TYPE", RegValue::String("S5P6450")), ERROR_SUCCESS);
  auto same = reg->OpenKey("SOFTWARE\\DRAVIK\\OS\\");
  ASSERT_NE(same, nullptr);
  std::string cpu;
  EXPECT_EQ(same->QueryString("cpu_type", &cpu), ERROR_SUCCESS);
  EXPECT_EQ(cpu, "S5P6450");
  ASSERT_EQ(same->SetValue("cpu_type", RegValue::String("MSTAR786")), ERROR_SUCCESS);
  ASSERT_NE(reg->CreateKey("SOFTWARE\\Dravik\\App"), nullptr);
  EXPECT_EQ(os->QueryString("CPU_TYPE", &cpu), ERROR_SUCCESS);
  EXPECT_EQ(cpu, "MSTAR786");
  EXPECT_EQ(os->ValueNames(), std::vector<std::string>{"CPU_TYPE"});
  EXPECT_EQ(reg->AllKeys(),
            (std::vector<std::string>{"SoftWare", "SoftWare\\Dravik", "SoftWare\\Dravik\\App", "SoftWare\\Dravik\\Os"}));
  auto dravik = reg->OpenKey("software\\dravik");
  ASSERT_NE(dravik, nullptr);
  EXPECT_EQ(dravik->SubKeyNames(), (std::vector<std::string>{"App", "Os"}));
}

TEST_F(HostRegistryTest, MissingKeysAndValues) {
  auto reg = Make();
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(reg->OpenKey("SoftWare\\None"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  auto key = reg->CreateKey("SoftWare\\Some");
  RegValue v;
  EXPECT_EQ(key->QueryValue("Absent", &v), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key->DeleteValue("Absent"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg->DeleteKey("SoftWare\\None"), ERROR_FILE_NOT_FOUND);
}

TEST_F(HostRegistryTest, ValueTypesKeepTheirBytes) {
  auto reg = Make();
  auto key = reg->CreateKey("System\\ErrorReporting\\DumpSettings");
  ASSERT_EQ(key->SetValue("Count", RegValue::Dword(0xDEADBEEF)), ERROR_SUCCESS);
  RegValue raw;
  raw.type = REG_SZ;
  raw.data = {'\\', 0, 'S', 0};  // written without its terminating zero
  ASSERT_EQ(key->SetValue("DumpDirectory", raw), ERROR_SUCCESS);
  RegValue empty;
  empty.type = REG_BINARY;
  ASSERT_EQ(key->SetValue("", empty), ERROR_SUCCESS);

  auto again = Make(false);  // another connection, as another process would have
  auto k = again->OpenKey("system\\errorreporting\\dumpsettings");
  ASSERT_NE(k, nullptr);
  uint32_t dword = 0;
  EXPECT_EQ(k->QueryDword("count", &dword), ERROR_SUCCESS);
  EXPECT_EQ(dword, 0xDEADBEEFu);
  RegValue got;
  ASSERT_EQ(k->QueryValue("DUMPDIRECTORY", &got), ERROR_SUCCESS);
  EXPECT_EQ(got.type, static_cast<uint32_t>(REG_SZ));
  EXPECT_EQ(got.data, raw.data);
  ASSERT_EQ(k->QueryValue("", &got), ERROR_SUCCESS);
  EXPECT_EQ(got.type, static_cast<uint32_t>(REG_BINARY));
  EXPECT_TRUE(got.data.empty());
  std::string text;
  EXPECT_NE(k->QueryString("Count", &text), ERROR_SUCCESS) << "a DWORD is no string";
}

TEST_F(HostRegistryTest, DeleteKeyTakesSubkeysOnly) {
  auto reg = Make();
  reg->CreateKey("A\\B\\C")->SetValue("x", RegValue::Dword(1));
  reg->CreateKey("A\\BC")->SetValue("y", RegValue::Dword(2));
  reg->CreateKey("A\\B_")->SetValue("z", RegValue::Dword(3));
  EXPECT_EQ(reg->DeleteKey("a\\b"), ERROR_SUCCESS);
  EXPECT_EQ(reg->OpenKey("A\\B\\C"), nullptr);
  EXPECT_EQ(reg->AllKeys(), (std::vector<std::string>{"A", "A\\B_", "A\\BC"}));
  uint32_t v = 0;
  EXPECT_EQ(reg->OpenKey("A\\BC")->QueryDword("y", &v), ERROR_SUCCESS);
  // A recreated key starts empty.
  EXPECT_EQ(reg->CreateKey("A\\B\\C")->QueryDword("x", &v), ERROR_FILE_NOT_FOUND);
  auto held = reg->OpenKey("A\\BC");
  EXPECT_EQ(reg->DeleteKey("A"), ERROR_SUCCESS);
  EXPECT_NE(held->SetValue("y", RegValue::Dword(5)), ERROR_SUCCESS) << "a deleted key takes no values";
  EXPECT_TRUE(reg->AllKeys().empty());
}

TEST_F(HostRegistryTest, UnusableFilesAreReportedNotCrashed) {
  std::string error;
  EXPECT_EQ(HostRegistry::Open(Db(), false, &error), nullptr);
  EXPECT_NE(error.find(Db()), std::string::npos) << error;

  scratch::WriteFile(Db(), std::string(4096, 'x'));
  error.clear();
  EXPECT_EQ(HostRegistry::Open(Db(), false, &error), nullptr);
  EXPECT_NE(error.find(Db()), std::string::npos) << error;
  error.clear();
  EXPECT_EQ(HostRegistry::Open(Db(), true, &error), nullptr) << "a damaged file is never overwritten";

  scratch::WriteFile(Db(), "");
  error.clear();
  EXPECT_EQ(HostRegistry::Open(Db(), false, &error), nullptr);
  EXPECT_NE(error.find("not a unit registry"), std::string::npos) << error;
}

constexpr int kWrites = 150;

void WriteMany(const std::string& db, const std::string& who, int* failures) {
  std::string error;
  auto reg = HostRegistry::Open(db, true, &error);
  if (!reg) {
    *failures = kWrites;
    return;
  }
  for (int i = 0; i < kWrites; ++i) {
    // Both writers also create and update the same shared key.
    auto own = reg->CreateKey("Load\\" + who + "\\K" + std::to_string(i % 10));
    auto shared = reg->CreateKey("LOAD\\Shared");
    if (!own || !shared || own->SetValue("V" + std::to_string(i), RegValue::Dword(static_cast<uint32_t>(i))) ||
        shared->SetValue("Last", RegValue::String(who))) {
      ++*failures;
    }
  }
}

void ExpectAllWritten(HostRegistry& reg, const std::string& who) {
  int found = 0;
  for (int i = 0; i < kWrites; ++i) {
    auto key = reg.OpenKey("load\\" + who + "\\k" + std::to_string(i % 10));
    uint32_t v = 0;
    if (key && key->QueryDword("v" + std::to_string(i), &v) == ERROR_SUCCESS && v == static_cast<uint32_t>(i)) {
      ++found;
    }
  }
  EXPECT_EQ(found, kWrites) << who;
}

TEST_F(HostRegistryTest, TwoProcessesWriteAtOnce) {
  Make();  // the file and its tables exist before the two writers start
  // The child opens its own connection after fork: nothing of SQLite crosses it.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int failures = 0;
    WriteMany(Db(), "Child", &failures);
    _exit(failures == 0 ? 0 : 1);
  }
  int failures = 0;
  WriteMany(Db(), "Parent", &failures);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child saw failed writes";
  EXPECT_EQ(failures, 0);
  auto reg = Make(false);
  ExpectAllWritten(*reg, "Parent");
  ExpectAllWritten(*reg, "Child");
}

TEST_F(HostRegistryTest, TwoConnectionsOnTwoThreads) {
  Make();
  int failuresA = 0, failuresB = 0;
  std::thread a(WriteMany, Db(), "A", &failuresA);
  std::thread b(WriteMany, Db(), "B", &failuresB);
  a.join();
  b.join();
  EXPECT_EQ(failuresA + failuresB, 0);
  auto reg = Make(false);
  ExpectAllWritten(*reg, "A");
  ExpectAllWritten(*reg, "B");
  std::string last;
  EXPECT_EQ(reg->OpenKey("Load\\Shared")->QueryString("Last", &last), ERROR_SUCCESS);
  EXPECT_TRUE(last == "A" || last == "B");
}

}  // namespace
}  // namespace hu
