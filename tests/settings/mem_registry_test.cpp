#include "common/platform/testing/mem_registry.h"

#include <gtest/gtest.h>

namespace hu {
namespace {

TEST(MemRegistry, KeysAndValuesIgnoreCaseAndKeepTheFirstSpelling) {
  MemRegistry reg;
  auto key = reg.CreateKey("SOFTWARE\\Dravik\\Os\\");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(key->SetValue("CPU_TYPE", RegValue::String("S5P6450")), ERROR_SUCCESS);

  auto again = reg.OpenKey("software\\DRAVIK\\os");
  ASSERT_NE(again, nullptr);
  ASSERT_EQ(again->SetValue("cpu_type", RegValue::String("MSTAR786")), ERROR_SUCCESS);
  std::string cpu;
  EXPECT_EQ(key->QueryString("Cpu_Type", &cpu), ERROR_SUCCESS);
  EXPECT_EQ(cpu, "MSTAR786");
  EXPECT_EQ(key->ValueNames(), std::vector<std::string>{"CPU_TYPE"});

  reg.CreateKey("SoftWare\\Dravik\\App");
  EXPECT_EQ(reg.AllKeys(), (std::vector<std::string>{"SOFTWARE", "SOFTWARE\\Dravik",
                                                     "SOFTWARE\\Dravik\\App", "SOFTWARE\\Dravik\\Os"}));
  EXPECT_EQ(reg.OpenKey("software\\dravik")->SubKeyNames(),
            (std::vector<std::string>{"App", "Os"}));
}

TEST(MemRegistry, MissingKeysAndValuesReportFileNotFound) {
  MemRegistry reg;
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(reg.OpenKey("System\\StorageManager\\Profiles\\SDMemory\\"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  auto key = reg.CreateKey("System\\StorageManager\\Profiles\\SDMemory");
  EXPECT_TRUE(reg.HasKey("System\\StorageManager"));  // parents created
  RegValue value;
  EXPECT_EQ(key->QueryValue("Folder", &value), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key->DeleteValue("Folder"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.DeleteKey("System\\Nothing"), ERROR_FILE_NOT_FOUND);
}

TEST(MemRegistry, DeleteKeyTakesSubkeysAndInvalidatesHandles) {
  MemRegistry reg;
  reg.Put("A\\B\\C", "v", RegValue::Dword(1));
  reg.Put("A\\B c", "v", RegValue::Dword(2));  // sorts between "A\\B" and its subkeys
  reg.Put("A\\Bc", "v", RegValue::Dword(2));
  auto handle = reg.OpenKey("A\\B\\C");
  EXPECT_EQ(reg.DeleteKey("a\\b"), ERROR_SUCCESS);
  EXPECT_FALSE(reg.HasKey("A\\B\\C"));
  EXPECT_TRUE(reg.HasKey("A\\B c"));  // siblings sharing the prefix stay
  EXPECT_TRUE(reg.HasKey("A\\Bc"));
  EXPECT_NE(handle->SetValue("v", RegValue::Dword(3)), ERROR_SUCCESS);
  EXPECT_FALSE(reg.HasKey("A\\B\\C"));
}

TEST(MemRegistry, FailureHooksFailTheNextCallsThenRecover) {
  MemRegistry reg;
  reg.Put("K", "v", RegValue::Dword(7));
  reg.FailNext(MemRegistry::Op::kOpenKey, 2, ERROR_ACCESS_DENIED);
  EXPECT_EQ(reg.OpenKey("K"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(reg.OpenKey("K"), nullptr);
  auto key = reg.OpenKey("K");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(reg.Calls(MemRegistry::Op::kOpenKey), 3);

  reg.FailNext(MemRegistry::Op::kCreateKey, 1);
  EXPECT_EQ(reg.CreateKey("New"), nullptr);
  EXPECT_FALSE(reg.HasKey("New"));

  reg.FailNext(MemRegistry::Op::kSetValue, 1, ERROR_WRITE_FAULT);
  EXPECT_EQ(key->SetValue("v", RegValue::Dword(8)), ERROR_WRITE_FAULT);
  RegValue value;
  ASSERT_TRUE(reg.Peek("k", "V", &value));
  EXPECT_EQ(value.data[0], 7);
  EXPECT_EQ(key->SetValue("v", RegValue::Dword(8)), ERROR_SUCCESS);
  EXPECT_EQ(reg.Calls(MemRegistry::Op::kSetValue), 2);

  reg.ResetCalls();
  EXPECT_EQ(reg.Calls(MemRegistry::Op::kOpenKey), 0);
}

}  // namespace
}  // namespace hu
