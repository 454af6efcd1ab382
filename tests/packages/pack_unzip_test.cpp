#include "sysmend/packages/pack_unzip.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/platform/errors.h"
#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/mem_files.h"
#include "kit_builder.h"
#include "common/platform/testing/passthrough_code_page.h"

namespace hu {
namespace {

using testkit::BuildPack;
using testkit::BuildPackRaw;
using testkit::Gzip;

constexpr char kPack[] = "\\SDMMC\\UpdateKitM\\app.auk";

std::string Utf16Bom(const std::u16string& text) {
  std::string out = "\xff\xfe";
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

class PackUnzipTest : public ::testing::Test {
 protected:
  CPackUnzip Pack(const std::string& bytes) {
    files.PutFile(kPack, bytes);
    return CPackUnzip(files, codePage, kPack);
  }
  MemFiles files;
  PassthroughCodePage codePage;
  CaptureTrace trace;
};

TEST_F(PackUnzipTest, KitMembersLandBelowTargetOthersAtTheirPath) {
  auto unzip = Pack(BuildPack({{"\\kit\\", {{"\\kit\\top.txt", "top"}}},
                               {"\\kit\\a\\", {{"\\kit\\a\\b.txt", "bee"}}},
                               {"\\Windows\\", {{"\\Windows\\x.dll", "dll"}}}}));
  EXPECT_EQ(unzip.CheckZipPack(), 0u);
  EXPECT_EQ(unzip.DoUnzipPack("\\Storage\\Tmp"), 0u);
  EXPECT_EQ(files.FileBytes("\\Storage\\Tmp\\top.txt"), "top");
  EXPECT_EQ(files.FileBytes("\\Storage\\Tmp\\a\\b.txt"), "bee");
  EXPECT_EQ(files.FileBytes("\\Windows\\x.dll"), "dll");
  EXPECT_EQ(files.OpenFileCount(), 0);
  EXPECT_TRUE(trace.Contains("\r Header Offset = 39 \r"));
}

TEST_F(PackUnzipTest, ThreeMembersReport33And66And100) {
  auto unzip = Pack(BuildPack({{"\\kit\\", {{"\\kit\\1", "a"}, {"\\kit\\2", "b"}, {"\\kit\\3", "c"}}}}));
  std::vector<uint32_t> seen;
  int context = 0;
  unzip.SetCallback(
      [&](uint32_t code, const PackProgress& r, void* ctx) {
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(ctx, &context);
        EXPECT_EQ(r.result, 0u);
        seen.push_back(r.percentage);
      },
      &context);
  EXPECT_EQ(unzip.DoUnzipPack("\\T"), 0u);
  EXPECT_EQ(seen, (std::vector<uint32_t>{33, 66, 100}));
}

TEST_F(PackUnzipTest, ZeroCountDoesNotDivide) {
  auto unzip = Pack(BuildPack({{"\\kit\\", {{"\\kit\\1", "a"}, {"\\kit\\2", "b"}}}}, 0));
  std::vector<uint32_t> seen;
  unzip.SetCallback([&](uint32_t, const PackProgress& r, void*) { seen.push_back(r.percentage); }, nullptr);
  EXPECT_EQ(unzip.DoUnzipPack("\\T"), 0u);
  EXPECT_EQ(seen, (std::vector<uint32_t>{50, 100}));
}

TEST_F(PackUnzipTest, IndexGrammar) {
  std::string line259 = "\\kit\\" + std::string(259 - 6, 'n');  // with its line feed: 259 bytes
  std::string index =
      "\\kit\\early.txt\n@0\x01"  // before any group: ignored, its bytes merge into the next line
      "fileInfo\n\\kit\\\n" + line259 + "\n@1\x01"
      "\\kit\\cr.txt\r\n@2\x01"
      "fileEnd\n"
      "fileInfo\n\\kit\\open\\\n\\kit\\open\\never.txt\n@3\x01"  // no fileEnd: dropped
      "fileInfo\n\\kit\\\n\\kit\\after.txt\n@4\x01" "fileEnd\n"
      "fileHeadEnd\n"
      "fileInfo\n\\kit\\\n\\kit\\late.txt\n@5\x01" "fileEnd\n";
  auto unzip = Pack(BuildPackRaw(index,
                                 {{"", "e"}, {"", "long"}, {"", "cr"}, {"", "never"}, {"", "after"}, {"", "late"}},
                                 3));
  ASSERT_TRUE(unzip.OpenZipPack());
  ASSERT_EQ(unzip.Groups().size(), 2u);
  ASSERT_EQ(unzip.Groups()[0].members.size(), 2u);
  EXPECT_EQ(unzip.Groups()[0].name, "\\kit\\");
  EXPECT_EQ(unzip.Groups()[0].members[0].name, line259);
  EXPECT_EQ(unzip.Groups()[0].members[1].name, "\\kit\\cr.txt\r");
  EXPECT_EQ(unzip.Groups()[1].members[0].name, "\\kit\\after.txt");
  EXPECT_EQ(unzip.DoUnzipPack("\\T"), 0u);
  EXPECT_EQ(files.FileBytes("\\T" + line259.substr(4)), "long");
  EXPECT_FALSE(files.Exists("\\T\\early.txt"));
  EXPECT_FALSE(files.Exists("\\T\\open"));
  EXPECT_FALSE(files.Exists("\\T\\late.txt"));
}

TEST_F(PackUnzipTest, OverlongIndexLineRejectsTheIndex) {
  std::string line260 = "\\kit\\" + std::string(260 - 6, 'n');
  auto unzip = Pack(BuildPackRaw("fileInfo\n\\kit\\\n" + line260 + "\n@0\x01" + "fileEnd\nfileHeadEnd\n",
                                 {{"", "x"}}, 1));
  EXPECT_FALSE(unzip.OpenZipPack());
  EXPECT_EQ(unzip.DoUnzipPack("\\T"), 1u);
  EXPECT_TRUE(trace.Contains("index line too long nLen = 260"));
  EXPECT_FALSE(files.Exists("\\T"));
}

TEST_F(PackUnzipTest, MemberCutShortRejectsTheIndex) {
  auto unzip = Pack(BuildPackRaw("fileInfo\n\\kit\\\n\\kit\\a\n12345", {}, 1));
  EXPECT_FALSE(unzip.OpenZipPack());
}

TEST_F(PackUnzipTest, CheckZipPackCodes) {
  std::string pack = BuildPack({{"\\kit\\", {{"\\kit\\a", "a"}}}});
  std::string upper = pack;
  upper.replace(20, 14, "VERSION:KVR1.0");
  EXPECT_EQ(Pack(upper).CheckZipPack(), 0u);
  std::string wrong = pack;
  wrong[25] = '_';
  EXPECT_EQ(Pack(wrong).CheckZipPack(), 5u);
  EXPECT_TRUE(trace.Contains("\n CPackUnzip::CheckZipPack ReadFile failed !!! \n"));
  EXPECT_EQ(Pack(pack.substr(0, 30)).CheckZipPack(), 5u);
  CPackUnzip missing(files, codePage, "\\no\\such.auk");
  EXPECT_EQ(missing.CheckZipPack(), 3u);
  EXPECT_TRUE(trace.Contains("\n CPackUnzip::OpenZipPack m_strPackPath = \\no\\such.auk  nErrCode = 3 \n"));
  EXPECT_EQ(missing.DoUnzipPack("\\T"), 1u);
  uint32_t total = 7;
  EXPECT_FALSE(missing.GetTotalSize(&total));
  EXPECT_EQ(total, 7u);
  EXPECT_FALSE(Pack(pack.substr(0, 19)).GetTotalSize(&total));
}

TEST_F(PackUnzipTest, HeadSizeBeyondTheFileIsRefusedBeforeAllocating) {
  std::string pack = BuildPack({{"\\kit\\", {{"\\kit\\a", "a"}}}});
  for (uint32_t head : {0xFFFFFFFFu, static_cast<uint32_t>(pack.size())}) {
    std::string bad = pack;
    testkit::PutLe32(&bad, 8, head);
    auto unzip = Pack(bad);
    EXPECT_EQ(unzip.CheckZipPack(), 0u);
    EXPECT_FALSE(unzip.OpenZipPack());
    EXPECT_EQ(unzip.DoUnzipPack("\\T"), 1u);
  }
}

TEST_F(PackUnzipTest, BodyBeyondTheFileIsAReadFailure) {
  std::string pack = BuildPack({{"\\kit\\", {{"\\kit\\a", "first"}, {"\\kit\\b", "second"}}}});
  // The second member's offset field: after "...\\kit\\b\n" and 4 bytes of stored length.
  size_t at = pack.find("\\kit\\b\n") + 7 + 4;
  testkit::PutLe32(&pack, at, 0xFFFFFFF0u);
  auto unzip = Pack(pack);
  std::vector<PackProgress> seen;
  unzip.SetCallback([&](uint32_t, const PackProgress& r, void*) { seen.push_back(r); }, nullptr);
  EXPECT_EQ(unzip.DoUnzipPack("\\T"), 5u);
  EXPECT_TRUE(trace.Contains("\n CPackUnzip::DoUnzipPack ReadFile fileName = \\T\\b nErrCode = 38 failed !!! \n"));
  // The first member stays; the failing one is reported with its code.
  EXPECT_EQ(files.FileBytes("\\T\\a"), "first");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].percentage, 100u);
  EXPECT_EQ(seen[1].result, 5u);
}

TEST_F(PackUnzipTest, MembersThatWouldLeaveTheirPlaceAreRefused) {
  for (const char* name : {"\\kit\\..\\..\\Windows\\evil.dll", "\\Windows\\..\\x.dll",
                           "\\kit/../x", "\\kit"}) {
    files.PutFile("\\Storage\\Tmp\\keep", "k");
    auto unzip = Pack(BuildPack({{"\\kit\\", {{name, "evil"}}}}));
    trace.Clear();
    EXPECT_EQ(unzip.DoUnzipPack("\\Storage\\Tmp"), 3u) << name;
    EXPECT_TRUE(trace.Contains("\n CPackUnzip::DoUnzipPack unsafe fileName = ")) << name;
    std::vector<std::string> expected = {"\\SDMMC", "\\SDMMC\\UpdateKitM", "\\SDMMC\\UpdateKitM\\app.auk",
                                         "\\Storage", "\\Storage\\Tmp", "\\Storage\\Tmp\\keep"};
    EXPECT_EQ(files.ListAll(), expected) << name;
  }
  EXPECT_EQ(PackMemberTarget("\\KIT\\a.txt", "\\T"), "\\T\\a.txt");
  EXPECT_EQ(PackMemberTarget("\\kit\\a..b\\c", "\\T"), "\\T\\a..b\\c");
  EXPECT_EQ(PackMemberTarget("\\kitchen\\k.txt", "\\T"), "\\Tchen\\k.txt");
}

TEST_F(PackUnzipTest, EitherSeparatorMakesTheMembersFolders) {
  auto unzip = Pack(BuildPack({{"\\kit\\", {{"\\kit/a/b.txt", "slash"}, {"\\kit\\c\\d.txt", "backslash"}}}}));
  EXPECT_EQ(unzip.DoUnzipPack("\\T"), 0u);
  EXPECT_EQ(files.FileBytes("\\T\\a\\b.txt"), "slash");
  EXPECT_EQ(files.FileBytes("\\T\\c\\d.txt"), "backslash");
}

TEST_F(PackUnzipTest, UnZipFileIntoMemory) {
  auto unzip = Pack(BuildPack({{"\\kit\\", {{"\\kit\\AppVerInfo.cfg", "0123456789"}}},
                               {"\\kit\\sub\\", {{"\\kit\\sub\\x", "x"}}}}));
  uint8_t buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  uint32_t length = 9;
  EXPECT_EQ(unzip.UnZipFile("\\KIT\\appverinfo.CFG", buffer, &length), 9u);
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_TRUE(trace.Contains("CPackUnzip::UnZipFile buf length is not enough, nDataLen = 9, origLen = 10"));
  EXPECT_EQ(unzip.UnZipFile("\\kit\\AppVerInfo.cfg", buffer, &length), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), "0123456789");
  EXPECT_EQ(buffer[10], '#');
  length = 16;
  EXPECT_EQ(unzip.UnZipFile("\\kit\\AppVerInfo.cfg", nullptr, &length), 9u);
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(unzip.UnZipFile("\\kit\\Missing.cfg", buffer, &length), 1u);
  EXPECT_EQ(unzip.UnZipFile("\\nogroup\\x", buffer, &length), 1u);
  EXPECT_EQ(unzip.UnZipFile("\\kit\\x", buffer, &length), 1u);  // lives in another group
}

TEST_F(PackUnzipTest, UnZipFileStopsAtTheUnpackedLengthTheIndexStates) {
  std::string big(4000, 'b');
  std::string index = "fileInfo\n\\kit\\\n\\kit\\liar\n@0\x01" "fileEnd\nfileHeadEnd\n";
  std::string pack = BuildPackRaw(index, {{"", big}}, 1);
  testkit::PutLe32(&pack, pack.find("\\kit\\liar\n") + 10 + 8, 100);  // claims 100 bytes
  auto unzip = Pack(pack);
  std::string buffer(200, '#');
  uint32_t length = 200;
  EXPECT_EQ(unzip.UnZipFile("\\kit\\liar", reinterpret_cast<uint8_t*>(&buffer[0]), &length), 1u);
  EXPECT_EQ(buffer.substr(0, 100), std::string(100, 'b'));
  EXPECT_EQ(buffer.substr(100), std::string(100, '#'));
}

TEST_F(PackUnzipTest, PackAtAnOffsetInsideAContainer) {
  std::string pack = BuildPack({{"\\kit\\", {{"\\kit\\a", "inside"}}}});
  // Offsets in the index count from the pack's start, so the pack moves as a whole.
  files.PutFile(kPack, std::string(1000, 'c') + pack);
  CPackUnzip unzip(files, codePage, kPack);
  unzip.SetOffset(1000);
  EXPECT_EQ(unzip.CheckZipPack(), 0u);
  EXPECT_EQ(unzip.DoUnzipPack("\\T"), 0u);
  EXPECT_EQ(files.FileBytes("\\T\\a"), "inside");
  EXPECT_EQ(ReadPackAppVer(files, codePage, kPack, 1000), "");
}

TEST_F(PackUnzipTest, AppVersionAndPackType) {
  std::string pack = BuildPack({{"\\kit\\", {{"\\kit\\AppVerInfo.cfg", Utf16Bom(u"V3.1.4")},
                                             {"\\kit\\AukPackInfo.ini", "; kit\r\n[Other]\r\nPackType=auk\r\n"
                                                                        "[AukPackInfo]\r\nPackType = aukinc \r\n"}}}});
  files.PutFile(kPack, pack);
  EXPECT_EQ(ReadPackAppVer(files, codePage, kPack), "V3.1.4");
  EXPECT_EQ(ReadPackType(files, codePage, kPack), "aukinc");
  files.PutFile("\\plain.auk", BuildPack({{"\\kit\\", {{"\\kit\\a", "a"}}}}));
  EXPECT_EQ(ReadPackAppVer(files, codePage, "\\plain.auk"), "");
  EXPECT_EQ(ReadPackType(files, codePage, "\\plain.auk"), "");
  // A version file larger than the 520-byte buffer is not read.
  files.PutFile("\\big.auk", BuildPack({{"\\kit\\", {{"\\kit\\AppVerInfo.cfg", Utf16Bom(std::u16string(300, u'9'))}}}}));
  EXPECT_EQ(ReadPackAppVer(files, codePage, "\\big.auk"), "");
}

}  // namespace
}  // namespace hu

namespace hu {
namespace {

testkit::GzipOptions BadCrc() {
  testkit::GzipOptions o;
  o.badCrc = true;
  return o;
}

// A kit that lies about its sizes never writes more than it declared, and a
// damaged member fails the pack instead of landing as a wrong file.
TEST_F(PackUnzipTest, DeclaredLengthsBoundWhatIsWritten) {
  const std::string big(200000, 'z');
  const size_t kAnyPrefix = SIZE_MAX;  // how much of a cut member lands is not fixed
  // Past 8 MiB a member streams in blocks instead of inflating whole.
  const std::string huge((9u << 20) + 7, 'h'), huger(10u << 20, 'h');
  using testkit::Member;
  struct Case {
    const char* what;
    Member member;
    int64_t total;  // the pack's declared total, -1 for the sum
    uint32_t result;
    size_t written;  // bytes of \T\a.bin afterwards
    const std::string* inflated;  // what they begin
  } const cases[] = {
      {"member inflating past its length", {"\\kit\\a.bin", "0123456789", Gzip(big)}, -1, kPackNoIndex, 10, &big},
      {"members over the pack's total", {"\\kit\\a.bin", big}, 1000, kPackNoIndex, 0, &big},
      {"member whose data does not match its CRC", {"\\kit\\a.bin", big, Gzip(big, BadCrc())}, -1, kPackNoIndex,
       big.size(), &big},
      {"member cut short", {"\\kit\\a.bin", big, Gzip(big).substr(0, 100)}, -1, kPackNoIndex, kAnyPrefix, &big},
      {"honest sizes", {"\\kit\\a.bin", big}, -1, kPackOk, big.size(), &big},
      {"long member inflating past its length", {"\\kit\\a.bin", huge, Gzip(huger)}, -1, kPackNoIndex, huge.size(),
       &huger},
      {"long member, honest size", {"\\kit\\a.bin", huge}, -1, kPackOk, huge.size(), &huge},
  };
  // Alone, and behind other members: then it is read and inflated ahead, on
  // another thread, while they are written.
  for (bool behind : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (behind ? ", behind others" : ""));
      files.DeleteFile("\\T\\a.bin");
      files.DeleteFile("\\T\\1.txt");
      std::vector<Member> members;
      if (behind) members = {{"\\kit\\0.txt", "zero"}, {"\\kit\\1.txt", "one"}};
      members.push_back(c.member);
      auto unzip = Pack(BuildPack({{"\\kit\\", members}}, -1, c.total < 0 ? -1 : c.total + (behind ? 7 : 0)));
      EXPECT_EQ(unzip.DoUnzipPack("\\T"), c.result);
      if (c.written != kAnyPrefix) {
        EXPECT_EQ(files.FileBytes("\\T\\a.bin"), c.inflated->substr(0, c.written));
      }
      if (behind) {
        EXPECT_EQ(files.FileBytes("\\T\\1.txt"), c.total < 0 ? "one" : "");
      }
    }
  }
}

}  // namespace
}  // namespace hu
