#include "canprobe/tool_config.h"

#include <gtest/gtest.h>

#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/mem_files.h"
#include "common/platform/testing/passthrough_code_page.h"

namespace hu {
namespace {

const char kPath[] = "\\SDMMC\\Canprobe\\tool.cfg";

class ToolConfigTest : public ::testing::Test {
 protected:
  ToolConfigTest() { files.MakeDirs("\\SDMMC\\Canprobe"); }
  MemFiles files;
  PassthroughCodePage codePage;
};

TEST_F(ToolConfigTest, LinesBecomeEntriesAndTheLaterOfTwoKeysWins) {
  files.PutFile(kPath, std::string("Show=0\nHexShow=0\r\nkey=a=b\nno equals sign\nShow=7\nNewLine=1"));
  CToolConfig cfg(files, codePage, kPath);
  ASSERT_TRUE(cfg.Load());
  EXPECT_EQ(cfg.Get("Show"), "7");
  // The carriage return before the line feed stays part of the value.
  EXPECT_EQ(cfg.Get("HexShow"), "0\r");
  EXPECT_TRUE(cfg.GetBool("HexShow"));
  EXPECT_EQ(cfg.Get("key"), "a=b");
  // The last line has no line feed: no entry, so the default shows through.
  EXPECT_EQ(cfg.Get("NewLine"), "0");
  EXPECT_EQ(cfg.Entries().size(), 3u);
}

TEST_F(ToolConfigTest, BooleansReadZeroEmptyAndAbsentAsFalse) {
  files.PutFile(kPath, std::string("HexShow=0\nA=\nB=yes\nC=1\n"));
  CToolConfig cfg(files, codePage, kPath);
  ASSERT_TRUE(cfg.Load());
  EXPECT_FALSE(cfg.GetBool("HexShow"));
  EXPECT_FALSE(cfg.GetBool("A"));
  EXPECT_FALSE(cfg.GetBool("Missing"));
  EXPECT_TRUE(cfg.GetBool("B"));
  EXPECT_TRUE(cfg.GetBool("C"));
  cfg.SetBool("A", true);
  EXPECT_EQ(cfg.Get("A"), "1");
  cfg.SetBool("A", false);
  EXPECT_EQ(cfg.Get("A"), "0");
}

TEST_F(ToolConfigTest, WithoutAFileDefaultsApplyAndSaveWritesAnEmptyFile) {
  CToolConfig cfg(files, codePage, kPath);
  EXPECT_FALSE(cfg.Load());
  EXPECT_EQ(cfg.Get("SendDataPrefix_3"), "@@A130*$");
  EXPECT_EQ(cfg.Get("NewLine"), "0");
  EXPECT_EQ(cfg.Get("FileReplaceDes"), "\\dravik\\$KVR$\\App\\Canrelay.nap");
  EXPECT_TRUE(cfg.GetBool("ShowOwner"));
  EXPECT_FALSE(cfg.Get("Unknown").has_value());
  ASSERT_TRUE(cfg.Save());
  ASSERT_TRUE(files.Exists(kPath));
  EXPECT_EQ(files.FileBytes(kPath), "");
}

TEST_F(ToolConfigTest, SaveWritesEntriesInByteOrderOfTheirKeys) {
  CToolConfig cfg(files, codePage, kPath);
  cfg.Set("b", std::string("2"));
  cfg.Set("a", std::string("1"));
  cfg.Set("B", std::string("3"));
  cfg.Set("gone", std::string("x"));
  cfg.Set("gone", std::nullopt);
  ASSERT_TRUE(cfg.Save());
  EXPECT_EQ(files.FileBytes(kPath), "B=3\na=1\nb=2\n");

  CToolConfig again(files, codePage, kPath);
  ASSERT_TRUE(again.Load());
  EXPECT_EQ(again.Entries(), cfg.Entries());
}

TEST_F(ToolConfigTest, LinesBeyondTheFormatAreSkippedWhole) {
  CaptureTrace trace;
  const std::string longValue(200, 'x');
  files.PutFile(kPath, "Long=" + longValue + "\nShort=1\n" + std::string(127 - 2, 'k') + "=v\n");
  CToolConfig cfg(files, codePage, kPath);
  ASSERT_TRUE(cfg.Load());
  EXPECT_FALSE(cfg.Get("Long").has_value());
  EXPECT_EQ(cfg.Get("Short"), "1");
  // Exactly 127 characters is still a line of the format.
  EXPECT_EQ(cfg.Get(std::string(125, 'k')), "v");
  EXPECT_TRUE(trace.Contains("skipped"));

  // An entry Save cannot write as one line is left out and reported.
  cfg.Set("Long", longValue);
  cfg.Set("Multi", std::string("a\nb"));
  EXPECT_FALSE(cfg.Save());
  CToolConfig reread(files, codePage, kPath);
  ASSERT_TRUE(reread.Load());
  EXPECT_FALSE(reread.Get("Long").has_value());
  EXPECT_FALSE(reread.Get("Multi").has_value());
  EXPECT_EQ(reread.Get("Short"), "1");
}

TEST_F(ToolConfigTest, APathThatDoesNotFitItsBufferLoadsAndSavesNothing) {
  const std::string deep = "\\StorageCard\\Service tools\\Canprobe version 2\\tool.cfg";
  ASSERT_GE(deep.size(), CToolConfig::kPathBufferSize);
  files.PutFile(deep, std::string("Show=0\n"));
  CToolConfig cfg(files, codePage, deep);
  EXPECT_TRUE(cfg.Path().empty());
  EXPECT_FALSE(cfg.Load());
  EXPECT_EQ(cfg.Get("Show"), "1");
  EXPECT_FALSE(cfg.Save());
  EXPECT_EQ(files.FileBytes(deep), "Show=0\n");
}

TEST_F(ToolConfigTest, VehicleTablesHaveNoBuiltInDefaults) {
  files.PutFile("\\a\\CarTypeDef.txt", std::string("Golf=12\n"));
  CToolConfig table(files, codePage, "\\a\\CarTypeDef.txt", false);
  ASSERT_TRUE(table.Load());
  EXPECT_EQ(table.Get("Golf"), "12");
  EXPECT_FALSE(table.Get("Show").has_value());
}

}  // namespace
}  // namespace hu
