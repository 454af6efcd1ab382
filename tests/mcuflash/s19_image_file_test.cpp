#include "mcuflash/s19_image_file.h"

#include <gtest/gtest.h>

#include "common/platform/errors.h"
#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/mem_files.h"
#include "tests/support/s19_text.h"

namespace hu {
namespace {

using namespace testing_s19;

const std::string kModule = "\\StorageCard\\Mcuflash\\Mcuflash.exe";
const std::string kDir = "\\StorageCard\\Mcuflash\\";

class RecordingNotifier : public McuNotifier {
 public:
  struct Note {
    uint32_t code;
    int64_t value;
    bool sync;
  };
  void Notify(uint32_t code, int64_t value, bool sync) override { notes.push_back({code, value, sync}); }
  std::vector<Note> notes;
};

class S19ImageFileTest : public ::testing::Test {
 protected:
  void SetUp() override { CS19ImageFile::ResetDecodeProgress(); }

  // Puts `text` beside the program and loads it.
  bool LoadText(const std::string& text, const std::string& name = "mcu.s19") {
    files.PutFile(kDir + name, text);
    if (!image.Select(false, 0)) return false;
    return image.Load();
  }

  MemFiles files;
  CaptureTrace trace;
  RecordingNotifier notifier;
  CS19ImageFile image{files, kModule, &notifier};
};

TEST_F(S19ImageFileTest, DataRecordLandsAtImageStart) {
  ASSERT_TRUE(LoadText(Header("x") + "S113A000000102030405060708090A0B0C0D0E0FD4\r\n" + End()));
  EXPECT_EQ(image.TotalLength(), 16u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(image.Image()[i], i);
  EXPECT_EQ(image.Tag(), "");
  // The check byte off by one either way fails the load.
  EXPECT_FALSE(LoadText("S113A000000102030405060708090A0B0C0D0E0FD5\r\n" + End()));
  EXPECT_FALSE(LoadText("S113A000000102030405060708090A0B0C0D0E0FD3\r\n" + End()));
}

TEST_F(S19ImageFileTest, PlatformTagRecord) {
  ASSERT_TRUE(LoadText(TagRecord("STM8QX4B") + Image(20) + End()));
  EXPECT_EQ(image.Tag(), "STM8QX4B");
  EXPECT_EQ(image.TotalLength(), 20u);  // the tag adds nothing
  EXPECT_TRUE(trace.Contains("CMcuFileFrame::SaveDataToBuf Addr[0x009FE0]:platform = [STM8QX4B]\n"));
}

TEST_F(S19ImageFileTest, RecordsBelowTheImageAreCheckedButIgnored) {
  ASSERT_TRUE(LoadText(Image(16) + Record(1, 0x8000, {1, 2, 3, 4}) + End()));
  EXPECT_EQ(image.TotalLength(), 16u);
  EXPECT_FALSE(LoadText(Image(16) + Record(1, 0x8000, {1, 2, 3, 4}, 1) + End()));
}

TEST_F(S19ImageFileTest, AddressWidthsOfAllTypes) {
  // S2 and S3 carry wider addresses; S5 is a count record without data.
  ASSERT_TRUE(LoadText(Record(2, 0x00A000, {9, 8}) + Record(3, 0x0000A002, {7}) + Record(5, 3, {}) +
                       "S804000000FB\r\n"));
  EXPECT_EQ(image.TotalLength(), 3u);
  EXPECT_EQ(image.Image()[0], 9);
  EXPECT_EQ(image.Image()[2], 7);
}

TEST_F(S19ImageFileTest, DamagedTextsAreRefused) {
  const std::string good = Record(1, 0xA000, {1, 2, 3, 4});
  const std::vector<std::string> bad = {
      good,                                                   // no S7/S8/S9
      good + "S",                                             // a lone 'S' at the end
      "S107A0G0010203044A\r\n" + End(),                       // not a hexadecimal digit
      "S107A00001020304\r\n" + End(),                         // cut short before its check
      good.substr(0, 10),                                     // cut inside the address
      "S101FF\r\n" + End(),                                   // count too small for the address
      Record(1, 0xA000, std::vector<uint8_t>(128, 1)) + End(),  // 128 data bytes
      Record(1, 0xFFF0, {1, 2, 3, 4}) + End(),                // beyond the image buffer
      Record(3, 0xFFFFFFFE, {1, 2, 3, 4}) + End(),            // far beyond it
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_FALSE(LoadText(bad[i])) << "case " << i;
    EXPECT_EQ(image.TotalLength(), 0u) << "case " << i;
    uint8_t block[128];
    EXPECT_EQ(image.ReadBlock(block, sizeof block), 0u) << "case " << i;
  }
  // 127 data bytes is the largest record.
  EXPECT_TRUE(LoadText(Record(1, 0xA000, std::vector<uint8_t>(127, 1)) + End()));
  EXPECT_EQ(image.TotalLength(), 127u);
}

TEST_F(S19ImageFileTest, ImageLengthIsItsExtent) {
  // A gap inside the image keeps the tail: the gap is sent as zero bytes.
  ASSERT_TRUE(LoadText(Record(1, 0xA000, {1, 2}) + Record(1, 0xA010, {3}) + End()));
  EXPECT_EQ(image.TotalLength(), 0x11u);
  EXPECT_EQ(image.Image()[0x10], 3);
  EXPECT_EQ(image.Image()[5], 0);
}

TEST_F(S19ImageFileTest, BlocksOfAThreeHundredByteImage) {
  ASSERT_TRUE(LoadText(TagRecord("STM8QX4B") + Image(300, 30) + End()));
  ASSERT_EQ(image.TotalLength(), 300u);
  uint8_t block[128];
  const size_t expectedSizes[] = {128, 128, 44, 0};
  const uint32_t expectedAddresses[] = {0xA000, 0xA080, 0xA100, 0xA12C};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(image.BlockAddress(), expectedAddresses[k]);
    const size_t n = image.ReadBlock(block, sizeof block);
    ASSERT_EQ(n, expectedSizes[k]);
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(block[i], static_cast<uint8_t>((k * 128 + i) * 7 + 3));
  }
  EXPECT_EQ(image.Position(), 300u);
  image.Rewind();
  EXPECT_EQ(image.BlockAddress(), 0xA000u);
  EXPECT_EQ(image.ReadBlock(block, 10), 10u);
}

TEST_F(S19ImageFileTest, DecodingProgressIsSentOnChange) {
  const std::string text = Image(600, 16) + End();
  ASSERT_TRUE(LoadText(text));
  ASSERT_FALSE(notifier.notes.empty());
  int64_t last = 0;
  for (const RecordingNotifier::Note& n : notifier.notes) {
    EXPECT_EQ(n.code, 9u);
    EXPECT_TRUE(n.sync);
    EXPECT_GT(n.value, last);  // only changes are sent
    last = n.value;
  }
  const size_t endAt = text.find("S9");
  EXPECT_EQ(last, static_cast<int64_t>(endAt * 100 / text.size()));

  // The last percent sent outlives the load: a file whose only step lands on
  // the same percent twice reports it once.
  std::string record = Record(1, 0xA000, std::vector<uint8_t>(16, 1));
  record.resize(record.size() - 2);
  files.PutFile(kDir + "mcu.s19", record + "S9030000FC");
  notifier.notes.clear();
  ASSERT_TRUE(image.Load());
  ASSERT_EQ(notifier.notes.size(), 1u);
  EXPECT_EQ(notifier.notes[0].value, static_cast<int64_t>(record.size() * 100 / (record.size() + 10)));
  notifier.notes.clear();
  ASSERT_TRUE(image.Load());
  EXPECT_TRUE(notifier.notes.empty());
}

class S19SelectTest : public S19ImageFileTest {};

TEST_F(S19SelectTest, SizeFilter) {
  files.PutFile(kDir + "A_3900R_64K.s19", Image(4) + End());
  files.PutFile(kDir + "B_3900R_128K.s19", Image(4) + End());
  files.PutFile(kDir + "C_128K.s19", Image(4) + End());
  files.PutFile(kDir + "readme.txt", "x");
  ASSERT_TRUE(image.Select(true, 1));
  EXPECT_EQ(image.FileName(), "B_3900R_128K.s19");
  EXPECT_EQ(image.FullPath(), kDir + "B_3900R_128K.s19");
  ASSERT_TRUE(image.Select(true, 0));
  EXPECT_EQ(image.FileName(), "A_3900R_64K.s19");
  ASSERT_TRUE(image.Select(true, -1));
  EXPECT_EQ(image.FileName(), "A_3900R_64K.s19");
  ASSERT_TRUE(image.Select(false, 1));
  EXPECT_EQ(image.FileName(), "A_3900R_64K.s19");
  EXPECT_FALSE(image.Select(true, 2));
  EXPECT_FALSE(image.Found());
  EXPECT_FALSE(image.Load());
}

TEST_F(S19SelectTest, NothingToTake) {
  files.MakeDirs(kDir + "folder.s19");
  EXPECT_FALSE(image.Select(false, 0));
  // Tokens are case-sensitive and need the model name.
  files.PutFile(kDir + "B_128K.s19", Image(4) + End());
  files.PutFile(kDir + "D_3900r_128K.s19", Image(4) + End());
  files.PutFile(kDir + "E_3900R_128k.s19", Image(4) + End());
  EXPECT_FALSE(image.Select(true, 1));
  files.PutFile(kDir + "A_empty.s19", "");
  ASSERT_TRUE(image.Select(false, 0));
  EXPECT_FALSE(image.Load());
}

TEST_F(S19SelectTest, ReadFailureFailsTheLoad) {
  files.PutFile(kDir + "m.s19", Image(64) + End());
  ASSERT_TRUE(image.Select(false, 0));
  files.FailNth(MemOp::Read, 1, ERROR_READ_FAULT);
  EXPECT_FALSE(image.Load());
  files.FailNth(MemOp::Open, 1, ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(image.Load());
  EXPECT_TRUE(image.Load());
  EXPECT_EQ(files.OpenFileCount(), 0);  // the file is closed after loading
}

}  // namespace
}  // namespace hu
