#include "sysmend/packages/kvq_parser.h"

#include <gtest/gtest.h>

#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/mem_files.h"
#include "kit_builder.h"
#include "common/platform/testing/passthrough_code_page.h"

namespace hu {
namespace {

using testkit::BuildContainer;
using testkit::Section;

constexpr char kPath[] = "\\SDMMC\\UpdateKitM\\kit.kvq";

std::string AppSection() {
  return testkit::BuildPack({{"\\kit\\", {{"\\kit\\a.txt", "a"}}}});
}

std::string ConfBlock(uint32_t at64, uint32_t at12) {
  std::string block(container::kConfBlockSize, '\0');
  testkit::PutLe32(&block, 64, at64);
  testkit::PutLe32(&block, 12, at12);
  return block;
}

class KvqParserTest : public ::testing::Test {
 protected:
  bool Validate(const std::string& bytes) {
    files.PutFile(kPath, bytes);
    return parser.IsVaildKvrFile(kPath);
  }
  MemFiles files;
  PassthroughCodePage codePage;
  CaptureTrace trace;
  CKvqParser parser{files, codePage};
};

TEST_F(KvqParserTest, FullContainerAnswersEverySection) {
  std::string conf = ConfBlock(0x10020, 26);
  ASSERT_TRUE(Validate(BuildContainer(u"V12X-0A1B2C3-1.2.3",
                                      {{SectionKind::Boot, "boot"}, {SectionKind::Os, "osimage"},
                                       {SectionKind::App, AppSection()}, {SectionKind::Logo1, "l1"},
                                       {SectionKind::Logo2, "l2"}, {SectionKind::Logo3, "l3"},
                                       {SectionKind::Conf, conf}})));
  EXPECT_EQ(parser.Path(), kPath);
  EXPECT_TRUE(parser.IsHasBoot() && parser.IsHasOS() && parser.IsHasApp() && parser.IsHasLogo1() &&
              parser.IsHasLogo2() && parser.IsHasLogo3() && parser.IsHasConf());
  SectionRecord os;
  ASSERT_TRUE(parser.GetSectionInfo(SectionKind::Os, &os));
  EXPECT_EQ(os.offset, 444u);
  EXPECT_EQ(os.length, 7u);
  std::string boot, osVer, app, whole, confVer;
  ASSERT_TRUE(parser.GetBootVer(&boot) && parser.GetOSVer(&osVer) && parser.GetAppVer(&app));
  EXPECT_EQ(boot, "V12");
  EXPECT_EQ(osVer, "0A1B2C3");
  EXPECT_EQ(app, "1.2.3");
  ASSERT_TRUE(parser.GetKvrVer(&whole));
  EXPECT_EQ(whole, "V12X-0A1B2C3-1.2.3");
  ASSERT_TRUE(parser.GetConfVer(&confVer));
  EXPECT_EQ(confVer, "  20      1a");
  EXPECT_TRUE(trace.Contains("Version:V12X-0A1B2C3-1.2.3\n"));
  EXPECT_TRUE(trace.Contains("boot:off-440,len-4\n os:off-444,len-7\n"));
  EXPECT_EQ(files.OpenFileCount(), 0);
}

TEST_F(KvqParserTest, TableOrderPutsConfBeforeLogo3) {
  ASSERT_TRUE(Validate(BuildContainer(u"x", {{SectionKind::Conf, "c"}, {SectionKind::Logo3, "33"}})));
  EXPECT_EQ(ReadLe32(parser.Header() + 404), 440u);
  EXPECT_EQ(ReadLe32(parser.Header() + 436), 2u);
}

TEST_F(KvqParserTest, PresenceNeedsLetterAndLength) {
  ASSERT_TRUE(Validate(BuildContainer(u"v", {{SectionKind::Os, ""}, {SectionKind::Boot, "b", false},
                                             {SectionKind::Logo2, "l"}})));
  EXPECT_FALSE(parser.IsHasOS());    // letter, length 0
  EXPECT_FALSE(parser.IsHasBoot());  // length, no letter
  EXPECT_TRUE(parser.IsHasLogo2());
  SectionRecord untouched;
  untouched.offset = 77;
  EXPECT_FALSE(parser.GetSectionInfo(SectionKind::Os, &untouched));
  EXPECT_EQ(untouched.offset, 77u);
  std::string v = "keep";
  EXPECT_FALSE(parser.GetOSVer(&v));
  EXPECT_FALSE(parser.GetBootVer(&v));
  EXPECT_FALSE(parser.GetConfVer(&v));
  EXPECT_EQ(v, "keep");

  // Logo 2 needs both units: 'L' then '2'.
  std::string bytes = BuildContainer(u"v", {{SectionKind::Logo2, "l"}});
  bytes[60] = '3';
  ASSERT_TRUE(Validate(bytes));
  EXPECT_FALSE(parser.IsHasLogo2());
}

TEST_F(KvqParserTest, AppLengthZeroSkipsTheAppCheck) {
  std::string bytes = BuildContainer(u"v", {{SectionKind::App, ""}});
  testkit::PutLe32(&bytes, 320, 0x7FFFFFFF);  // nowhere, but never looked at
  ASSERT_TRUE(Validate(bytes));
  EXPECT_FALSE(parser.IsHasApp());
}

TEST_F(KvqParserTest, VersionSplitting) {
  struct Case {
    std::u16string version;
    const char* boot;
    const char* os;
    const char* app;
  } cases[] = {
      {u"V12X-0A1B2C3-1.2.3", "V12", "0A1B2C3", "1.2.3"},
      {u"NODASH", "NODASH", "NODASH", "NODASH"},
      {u"-abc-1.0", "-abc-1.0", "abc", "1.0"},
      {u"AB-CD", "A", "CD", "CD"},
      {u"A-B-C-D", "", "B", "D"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Validate(BuildContainer(c.version, {{SectionKind::Boot, "b"}, {SectionKind::Os, "o"},
                                                    {SectionKind::App, AppSection()}})));
    std::string boot, os, app;
    ASSERT_TRUE(parser.GetBootVer(&boot) && parser.GetOSVer(&os) && parser.GetAppVer(&app));
    EXPECT_EQ(boot, c.boot);
    EXPECT_EQ(os, c.os);
    EXPECT_EQ(app, c.app);
  }
}

TEST_F(KvqParserTest, VersionFieldIsBoundedAndEmptyIsMissing) {
  ASSERT_TRUE(Validate(BuildContainer(u"", {})));
  std::string v = "keep";
  EXPECT_FALSE(parser.GetKvrVer(&v));
  EXPECT_EQ(v, "keep");

  // A field with no terminator yields 49 characters, not what follows it.
  std::string bytes = BuildContainer(u"", {});
  for (size_t i = 0; i < 50; ++i) bytes[78 + 2 * i] = 'x';
  ASSERT_TRUE(Validate(bytes));
  ASSERT_TRUE(parser.GetKvrVer(&v));
  EXPECT_EQ(v, std::string(49, 'x'));
}

TEST_F(KvqParserTest, RejectsBadHeaders) {
  std::string good = BuildContainer(u"v", {});
  std::string unterminated = good;
  unterminated[28] = 'X';  // the unit after "kvr version1.0"
  std::string wrongCase = good;
  wrongCase[0] = 'K';
  for (const std::string& bad : {unterminated, wrongCase, good.substr(0, 439)}) {
    trace.Clear();
    EXPECT_FALSE(Validate(bad));
    EXPECT_TRUE(trace.Contains("\nCKvqParser::IsVaildKvrFile ReadFile Failed strPath=\\SDMMC\\UpdateKitM\\kit.kvq nErrCode = "));
    EXPECT_TRUE(parser.Path().empty());
    EXPECT_EQ(files.OpenFileCount(), 0);
  }
}

TEST_F(KvqParserTest, MissingFileFailsWithoutTrace) {
  EXPECT_FALSE(parser.IsVaildKvrFile("\\nothing.kvq"));
  EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(KvqParserTest, AppSectionMustCarryThePackMagic) {
  std::string notPack(64, 'z');
  EXPECT_FALSE(Validate(BuildContainer(u"v", {{SectionKind::App, notPack}})));
  EXPECT_TRUE(trace.Contains("\nCKvqParser::IsVaildKvrFile read auk read  auk version is not ok  tszBuf:zzzzzzzzzzzzzzz!!!\n"));

  // An application offset past the end reads nothing: the zeroed buffer mismatches.
  std::string bytes = BuildContainer(u"v", {{SectionKind::App, AppSection()}});
  testkit::PutLe32(&bytes, 320, 1u << 30);
  trace.Clear();
  EXPECT_FALSE(Validate(bytes));
  EXPECT_TRUE(trace.Contains("auk version is not ok  tszBuf:!!!"));
  EXPECT_TRUE(parser.Path().empty());
  EXPECT_EQ(files.OpenFileCount(), 0);
}

TEST_F(KvqParserTest, ConfVersionNeedsTheWholeBlock) {
  std::string shortConf = ConfBlock(1, 2).substr(0, 782);
  std::string bytes = BuildContainer(u"v", {{SectionKind::Conf, shortConf}});
  ASSERT_TRUE(Validate(bytes));
  std::string v = "keep";
  EXPECT_FALSE(parser.GetConfVer(&v));
  EXPECT_EQ(v, "keep");
  ASSERT_TRUE(Validate(BuildContainer(u"v", {{SectionKind::Conf, ConfBlock(0xABCD1234, 0x1234567)}})));
  ASSERT_TRUE(parser.GetConfVer(&v));
  EXPECT_EQ(v, "1234 1234567");
}

}  // namespace
}  // namespace hu
