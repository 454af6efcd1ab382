#include "tools/unitctl/regedit_text.h"

#include <gtest/gtest.h>

#include "common/platform/testing/mem_registry.h"

namespace hu {
namespace {

RegValue Raw(uint32_t type, std::vector<uint8_t> data) {
  RegValue v;
  v.type = type;
  v.data = std::move(data);
  return v;
}

TEST(RegeditTextTest, ExportFormat) {
  MemRegistry reg;
  reg.Put("SoftWare\\Dravik\\Os", "CPU_TYPE", RegValue::String("S5P6450"));
  reg.Put("SoftWare\\Dravik\\Os", "PROJECTTYPE", RegValue::Dword(26));
  reg.Put("SoftWare\\Dravik\\Os", "Path", RegValue::String("\\Dravik\\\"q\""));
  reg.Put("SoftWare\\Dravik\\Os", "", RegValue::String("def"));
  reg.Put("SoftWare\\Dravik\\Os", "Blob", Raw(REG_BINARY, {0x01, 0xAB}));
  EXPECT_EQ(ExportRegedit(reg),
            "REGEDIT4\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SoftWare]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SoftWare\\Dravik]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SoftWare\\Dravik\\Os]\n"
            "\"CPU_TYPE\"=\"S5P6450\"\n"
            "\"PROJECTTYPE\"=dword:0000001a\n"
            "\"Path\"=\"\\\\Dravik\\\\\\\"q\\\"\"\n"
            "@=\"def\"\n"
            "\"Blob\"=hex:01,ab\n"
            "\n");
}

TEST(RegeditTextTest, RoundTripKeepsEveryByte) {
  MemRegistry reg;
  reg.Put("System\\ErrorReporting\\DumpSettings", "DumpDirectory",
          Raw(REG_SZ, {'\\', 0, 'S', 0}));  // no terminating zero
  reg.Put("System\\X", "Chinese", RegValue::String("\xE7\xA1\xAC\xE7\x9B\x98"));
  reg.Put("System\\X", "Lines", RegValue::String("a\r\nb"));
  reg.Put("System\\X", "Odd", Raw(REG_SZ, {'a'}));
  reg.Put("System\\X", "Short", Raw(REG_DWORD, {1, 2}));
  reg.Put("System\\X", "Multi", Raw(7, {'a', 0, 0, 0, 0, 0}));
  reg.Put("System\\X", "Empty", Raw(REG_BINARY, {}));
  std::vector<uint8_t> big(100);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  reg.Put("System\\X", "Big", Raw(REG_BINARY, big));
  reg.Put("System\\X\\Empty Key", "", RegValue::Dword(0));
  std::string text = ExportRegedit(reg);

  MemRegistry back;
  std::string error;
  ASSERT_TRUE(ImportRegedit(back, text, &error)) << error << "\n" << text;
  EXPECT_EQ(ExportRegedit(back), text);
  for (const std::string& key : reg.AllKeys()) {
    auto k = reg.OpenKey(key);
    for (const std::string& name : k->ValueNames()) {
      RegValue a, b;
      ASSERT_EQ(k->QueryValue(name, &a), 0u);
      ASSERT_TRUE(back.Peek(key, name, &b)) << key << "\\" << name;
      EXPECT_EQ(a.type, b.type) << name;
      EXPECT_EQ(a.data, b.data) << name;
    }
  }
}

TEST(RegeditTextTest, ImportDeletionsDefaultsAndComments) {
  MemRegistry reg;
  reg.Put("System\\StorageManager\\Profiles\\SMFLASH", "Folder", RegValue::String("Dravik"));
  reg.Put("System\\StorageManager\\Profiles\\SMFLASH", "Keep", RegValue::Dword(1));
  reg.Put("Old\\Sub", "x", RegValue::Dword(1));
  std::string error;
  ASSERT_TRUE(ImportRegedit(reg,
                            "\xEF\xBB\xBFREGEDIT4\r\n"
                            "; a comment\r\n"
                            "[hkey_local_machine\\System\\StorageManager\\Profiles\\SMFLASH]\r\n"
                            "\"Folder\"=-\r\n"
                            "@=\"default\"\r\n"
                            "\"Bytes\"=hex:01,02,\\\r\n"
                            "  03\r\n"
                            "\"Cfg\"=hex(7):61,00\r\n"
                            "\r\n"
                            "[-HKEY_LOCAL_MACHINE\\Old]\r\n",
                            &error))
      << error;
  RegValue v;
  EXPECT_FALSE(reg.Peek("System\\StorageManager\\Profiles\\SMFLASH", "Folder", &v));
  EXPECT_TRUE(reg.Peek("System\\StorageManager\\Profiles\\SMFLASH", "Keep", &v));
  ASSERT_TRUE(reg.Peek("System\\StorageManager\\Profiles\\SMFLASH", "", &v));
  std::string text;
  EXPECT_TRUE(v.AsString(&text));
  EXPECT_EQ(text, "default");
  ASSERT_TRUE(reg.Peek("System\\StorageManager\\Profiles\\SMFLASH", "Bytes", &v));
  EXPECT_EQ(v.data, (std::vector<uint8_t>{1, 2, 3}));
  ASSERT_TRUE(reg.Peek("System\\StorageManager\\Profiles\\SMFLASH", "Cfg", &v));
  EXPECT_EQ(v.type, 7u);
  EXPECT_FALSE(reg.HasKey("Old"));
  EXPECT_FALSE(reg.HasKey("Old\\Sub"));
}

TEST(RegeditTextTest, BadTextWritesNothing) {
  for (const char* text : {"REGEDIT5\n", "", "[HKEY_LOCAL_MACHINE\\A]\n"}) {
    MemRegistry reg;
    std::string error;
    EXPECT_FALSE(ImportRegedit(reg, text, &error)) << text;
    EXPECT_EQ(error, "line 1: not a REGEDIT4 file");
  }
  // Each bad line follows good ones: none of those is written either.
  const char* badLines[] = {
      "[HKEY_CURRENT_USER\\Soft]",  "[HKEY_LOCAL_MACHINE\\A",     "\"x\"=dword:123456789",
      "\"x\"=\"open",               "\"x\"=hex:1g",               "\"x\"=qword:1",
      "\"x\"=\"a\\q\"",           "\"x\" \"y\"",                "[-HKEY_LOCAL_MACHINE]",
      "x=1",
  };
  for (const char* line : badLines) {
    MemRegistry reg;
    std::string error;
    std::string text = std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Before]\n\"v\"=dword:1\n") + line + "\n";
    EXPECT_FALSE(ImportRegedit(reg, text, &error)) << line;
    EXPECT_EQ(error.rfind("line 5: ", 0), 0u) << line << ": " << error;
    EXPECT_TRUE(reg.AllKeys().empty()) << line;
  }
  MemRegistry orphan;
  std::string error;
  EXPECT_FALSE(ImportRegedit(orphan, "REGEDIT4\n\"x\"=dword:1\n", &error));
  EXPECT_EQ(error, "line 2: value outside a key");
}

}  // namespace
}  // namespace hu
