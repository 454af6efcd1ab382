#include "mcuflash/s19_line_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/mem_files.h"
#include "tests/support/s19_text.h"

namespace hu {
namespace {

using namespace testing_s19;

const std::string kModule = "\\StorageCard\\Mcuflash\\Mcuflash.exe";
const std::string kDir = "\\StorageCard\\Mcuflash\\";

class S19LineFileTest : public ::testing::Test {
 protected:
  bool LoadText(const std::string& text) {
    files.PutFile(kDir + "mcu.s19", text);
    return lines.Select(false, 0) && lines.Load();
  }
  std::string Next(size_t maximum = 128) {
    uint8_t buf[200];
    std::memset(buf, 0xEE, sizeof buf);
    const size_t n = lines.ReadBlock(buf, maximum);
    for (size_t i = n; i < sizeof buf; ++i) EXPECT_EQ(buf[i], 0xEE) << "written past the line at " << i;
    return std::string(buf, buf + n);
  }

  MemFiles files;
  CaptureTrace trace;
  CS19LineFile lines{files, kModule};
};

TEST_F(S19LineFileTest, HandsOutEveryRecordLineWithoutLineEnds) {
  const std::string h = Header("GD32-LINE");
  const std::string a = Record(1, 0x8000, {1, 2, 3});
  const std::string b = Record(2, 0x012345, std::vector<uint8_t>(58, 0x5A));  // count 62: 128 characters
  const std::string text = h + a + "\r\n" + b + End() + "\r\n";
  ASSERT_TRUE(LoadText(text));
  EXPECT_EQ(lines.TotalLength(), text.size());
  EXPECT_EQ(lines.Tag(), "GD32-LINE");
  EXPECT_EQ(Next(), h.substr(0, h.size() - 2));
  EXPECT_EQ(Next(), a.substr(0, a.size() - 2));
  const std::string longest = Next();
  EXPECT_EQ(longest.size(), 128u);
  EXPECT_EQ(longest, b.substr(0, 128));
  EXPECT_EQ(Next(), "S9030000FC");
  EXPECT_EQ(Next(), "");
  EXPECT_EQ(lines.Position(), text.size());
  lines.Rewind();
  EXPECT_EQ(Next(), h.substr(0, h.size() - 2));
}

TEST_F(S19LineFileTest, HeaderTagRules) {
  ASSERT_TRUE(LoadText(Record(1, 0x8000, {1}) + Header("NOT-FIRST") + End()));
  EXPECT_EQ(lines.Tag(), "");  // only a header at the very start counts
  // The longest header that still fits a line carries 59 tag bytes.
  ASSERT_TRUE(LoadText(Header(std::string(59, 'T')) + End()));
  EXPECT_EQ(lines.Tag(), std::string(59, 'T'));
  EXPECT_FALSE(LoadText(Header(std::string(60, 'T')) + End()));
}

TEST_F(S19LineFileTest, TextsThatCannotBeSentWholeAreRefused) {
  const std::vector<std::string> bad = {
      Record(1, 0x8000, {1, 2}),                                  // no end record
      Record(1, 0x8000, std::vector<uint8_t>(60, 1)) + End(),     // count 63: 130 characters
      Record(1, 0x8000, {1, 2}, 1) + End(),                       // wrong check
      "S1058000010Z74\r\n" + End(),                               // not a hexadecimal digit
      End() + "S105800001",                                       // cut off at the end
      "SX\r\n" + End(),                                           // no count
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_FALSE(LoadText(bad[i])) << "case " << i;
    EXPECT_EQ(Next(), "") << "case " << i;
  }
  EXPECT_FALSE(lines.Select(true, 7));
  EXPECT_FALSE(lines.Load());
}

TEST_F(S19LineFileTest, ShortCallerBufferGetsNothing) {
  ASSERT_TRUE(LoadText(Record(1, 0x8000, {1, 2, 3, 4}) + End()));
  EXPECT_EQ(Next(10), "");
  EXPECT_EQ(lines.Position(), 0u);  // the line stays for a large enough buffer
  EXPECT_EQ(Next().size(), 18u);
}

}  // namespace
}  // namespace hu
