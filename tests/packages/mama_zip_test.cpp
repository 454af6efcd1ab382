#include "sysmend/packages/mama_zip.h"

#include <gtest/gtest.h>

#include <random>

#include "common/platform/errors.h"
#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/mem_files.h"
#include "kit_builder.h"

namespace hu {
namespace {

using testkit::Gzip;
using testkit::GzipOptions;

std::string Noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() % 7 == 0 ? rng() : 'a' + rng() % 3);
  return s;
}

// A ZIP local file header followed by the entry data.
std::string ZipEntry(const std::string& data, uint16_t method) {
  std::string body = method == 8 ? testkit::RawDeflate(data) : data;
  std::string h(30, '\0');
  auto* p = reinterpret_cast<uint8_t*>(&h[0]);
  WriteLe32(p, 0x04034b50);
  WriteLe16(p + 8, method);
  WriteLe32(p + 18, static_cast<uint32_t>(body.size()));
  WriteLe32(p + 22, static_cast<uint32_t>(data.size()));
  WriteLe16(p + 26, 5);
  return h + "a.bin" + body;
}

class MamaZipTest : public ::testing::Test {
 protected:
  uint32_t ToFile(const std::string& stream, const std::string& target) {
    zip.SetSource(reinterpret_cast<const uint8_t*>(stream.data()), stream.size());
    zip.SetOutputFile();
    return zip.SwapSize(target, CMamaZip::kModeMemory);
  }
  uint32_t ToMemory(const std::string& stream, std::string* out, size_t capacity) {
    // Guard bytes past the capacity catch any write beyond it.
    out->assign(capacity + 16, '#');
    zip.SetSource(reinterpret_cast<const uint8_t*>(stream.data()), stream.size());
    zip.SetOutputMemory(reinterpret_cast<uint8_t*>(&(*out)[0]), capacity);
    uint32_t r = zip.SwapSize("mem", CMamaZip::kModeMemory);
    EXPECT_EQ(out->substr(capacity), std::string(16, '#'));
    return r;
  }
  MemFiles files;
  CaptureTrace trace;
  CMamaZip zip{files, "placeholder"};
};

TEST_F(MamaZipTest, InflatesIntoNewFileCreatingItsFolders) {
  std::string data = Noise(300000, 1);
  EXPECT_EQ(ToFile(Gzip(data), "\\Storage\\New\\Deep\\out.bin"), 0u);
  EXPECT_EQ(files.FileBytes("\\Storage\\New\\Deep\\out.bin"), data);
  EXPECT_EQ(zip.OutputLength(), data.size());
  EXPECT_EQ(zip.Operation(), "unzipping");
  EXPECT_EQ(files.OpenFileCount(), 0);
}

TEST_F(MamaZipTest, AcceptedHeaderFlags) {
  std::string data = "payload\r\n";
  GzipOptions named;
  named.flags = 0x08;
  named.name = "other-name.txt";
  GzipOptions all;
  all.flags = 0x01 | 0x04 | 0x08 | 0x10;
  all.extra = std::string("\0\n\x1f\x8b", 4);
  all.name = "n";
  all.comment = "a comment";
  GzipOptions badCrc;
  badCrc.badCrc = true;
  for (const auto& o : {named, all, badCrc}) {
    EXPECT_EQ(ToFile(Gzip(data, o), "\\t\\x.txt"), 0u);
    EXPECT_EQ(files.FileBytes("\\t\\x.txt"), data);
  }
  EXPECT_FALSE(files.Exists("\\t\\other-name.txt"));
}

TEST_F(MamaZipTest, RefusedHeadersGiveOneAndAnEmptyFile) {
  std::string good = Gzip("data");
  std::vector<std::string> bad;
  for (uint8_t flag : {0x02, 0x20, 0x40, 0x80}) {
    std::string s = good;
    s[3] = static_cast<char>(flag);
    bad.push_back(s);
  }
  std::string method = good;
  method[2] = 7;
  std::string magic = good;
  magic[1] = 0x00;
  bad.push_back(method);
  bad.push_back(magic);
  bad.push_back(good.substr(0, 9));
  GzipOptions open;
  open.flags = 0x08;
  open.name = "unterminated";
  bad.push_back(Gzip("d", open).substr(0, 20));
  for (const auto& s : bad) {
    files.PutFile("\\t\\x.bin", "old content");
    trace.Clear();
    EXPECT_EQ(ToFile(s, "\\t\\x.bin"), 1u);
    EXPECT_EQ(files.FileBytes("\\t\\x.bin"), "");
    EXPECT_TRUE(trace.Contains("\n CMamaZip::SwapSize m_sOperation= unzipping sTargetFileName = \\t\\x.bin Err = "));
  }
  EXPECT_EQ(zip.ErrorText(), "unzipping error!CMamaZip::SwapSize\n");
}

TEST_F(MamaZipTest, DamagedDeflateDataStillSucceedsWithPartialOutput) {
  std::string data = Noise(200000, 2);
  std::string s = Gzip(data);
  EXPECT_EQ(ToFile(s.substr(0, s.size() / 2), "\\t\\half"), 0u);
  std::string half = files.FileBytes("\\t\\half");
  EXPECT_GT(half.size(), 0u);
  EXPECT_LT(half.size(), data.size());
  EXPECT_EQ(half, data.substr(0, half.size()));
}

TEST_F(MamaZipTest, MemoryOutputNeverPassesItsCapacity) {
  std::string data = Noise(5000, 3);
  std::string out;
  EXPECT_EQ(ToMemory(Gzip(data), &out, data.size()), 0u);
  EXPECT_EQ(out.substr(0, data.size()), data);
  EXPECT_EQ(ToMemory(Gzip(data), &out, data.size() - 1), 1u);
  EXPECT_EQ(ToMemory(Gzip(data), &out, 0), 1u);
  EXPECT_TRUE(files.ListAll().empty());
}

TEST_F(MamaZipTest, SingleZipEntry) {
  std::string data = Noise(10000, 4);
  std::string out;
  EXPECT_EQ(ToMemory(ZipEntry(data, 8), &out, data.size()), 0u);
  EXPECT_EQ(out.substr(0, data.size()), data);
  EXPECT_EQ(ToMemory(ZipEntry(data, 0), &out, data.size()), 0u);
  EXPECT_EQ(out.substr(0, data.size()), data);
  EXPECT_EQ(ToMemory(ZipEntry(data, 8) + ZipEntry("x", 0), &out, data.size() + 1), 1u);
  EXPECT_EQ(ToMemory(ZipEntry(data, 12), &out, data.size()), 1u);  // bzip2 entry
}

TEST_F(MamaZipTest, CreateAndWriteFailures) {
  files.FailNth(MemOp::Create, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(ToFile(Gzip("abc"), "\\t\\y"), 3u);
  EXPECT_TRUE(trace.Contains("\n CMamaZip::SwapSize CreateFile sTargetFileName = \\t\\y Err = 5 \n"));

  std::string data = Noise(100000, 5);
  files.SetQuota(files.UsedBytes() + 1000);
  EXPECT_EQ(ToFile(Gzip(data), "\\t\\z"), 4u);
  EXPECT_TRUE(trace.Contains("\n util WriteFile Err = 112 LINE = "));
  EXPECT_TRUE(trace.Contains("\n CMamaZip::SwapSize write sTargetFileName = \\t\\z Err = 112 \n"));
  EXPECT_EQ(zip.ErrorText(), "write \\t\\z file error!\n");
  EXPECT_EQ(files.FileBytes("\\t\\z"), data.substr(0, 1000));
  EXPECT_EQ(files.OpenFileCount(), 0);
}

TEST_F(MamaZipTest, FileInputMode) {
  files.PutFile("\\src.gz", Gzip("from a file"));
  CMamaZip fromFile(files, "\\src.gz");
  fromFile.SetOutputFile();
  EXPECT_EQ(fromFile.SwapSize("\\out.txt", 1), 0u);
  EXPECT_EQ(files.FileBytes("\\out.txt"), "from a file");
  CMamaZip missing(files, "\\none.gz");
  EXPECT_EQ(missing.SwapSize("\\out2.txt", 1), 3u);
  EXPECT_TRUE(trace.Contains("\n CMamaZip::SwapSize _tfopen m_sSourceFileName = \\none.gz Err = 2 \n"));
}

}  // namespace
}  // namespace hu
