#include "canprobe/canbox_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "canprobe/canbox_file_maker.h"
#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/mem_files.h"

namespace hu {
namespace {

std::string Record(uint16_t address, const std::vector<uint8_t>& data) {
  char head[16];
  std::snprintf(head, sizeof head, ":%02X%04X00", static_cast<unsigned>(data.size()), address);
  std::string line = head;
  for (uint8_t b : data) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
  }
  return line + "00\r\n";  // the check is not examined
}

std::vector<uint8_t> Bytes(uint8_t first, size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i);
  return v;
}

bool DecodeText(CCanboxImage* image, const std::string& text) {
  return image->Decode(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string Scramble(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(ScrambleCanboxByte(static_cast<uint8_t>(c)));
  return out;
}

TEST(CanboxScrambling, UndoesSwapsInversionsAndTheOffsetForEveryByte) {
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(UnscrambleCanboxByte(ScrambleCanboxByte(static_cast<uint8_t>(b))), b);
  }
  // 0x00: no bit swapped, bits 1 and 7 inverted -> 0x82, minus 0x30 -> 0x52.
  EXPECT_EQ(UnscrambleCanboxByte(0x00), 0x52);
  // 0x24 (bits 5 and 2): swapping leaves it, inverting gives 0xA6, minus 0x30 -> 0x76.
  EXPECT_EQ(UnscrambleCanboxByte(0x24), 0x76);
  // 0x01 (bit 0) moves to bit 3: 0x08 ^ 0x82 = 0x8A, minus 0x30 -> 0x5A.
  EXPECT_EQ(UnscrambleCanboxByte(0x01), 0x5A);
}

TEST(CanboxDecode, RecordsFollowTheFirstOneByConsecutiveAddresses) {
  const std::string text = ":020000040800F2\r\n" + Record(0x2000, Bytes(0x00, 16)) + Record(0x2010, Bytes(0x10, 16)) +
                           Record(0x2020, Bytes(0x20, 16)) + Record(0x2040, Bytes(0x40, 16)) + ":00000001FF\r\n";
  CCanboxImage image;
  std::vector<int> percents;
  ASSERT_TRUE(image.Decode(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                           [&](int p) { percents.push_back(p); }));
  EXPECT_EQ(image.Length(), 48u);
  EXPECT_EQ(image.Image(), Bytes(0x00, 48));
  ASSERT_FALSE(percents.empty());
  for (size_t i = 1; i < percents.size(); ++i) EXPECT_GT(percents[i], percents[i - 1]);
  EXPECT_LE(percents.back(), 100);
}

TEST(CanboxDecode, DamagedTextsAreRefused) {
  CaptureTrace trace;
  CCanboxImage image;
  EXPECT_FALSE(DecodeText(&image, ""));
  EXPECT_FALSE(DecodeText(&image, "no records at all\r\n"));
  // Only records after ":10200" count.
  EXPECT_FALSE(DecodeText(&image, Record(0x1000, Bytes(0, 16))));
  // Cut inside its data.
  EXPECT_FALSE(DecodeText(&image, Record(0x2000, Bytes(0, 16)).substr(0, 20)));
  // Not hexadecimal where the data should be.
  std::string bad = Record(0x2000, Bytes(0, 16));
  bad[12] = 'G';
  EXPECT_FALSE(DecodeText(&image, bad));
  EXPECT_EQ(image.Length(), 0u);
  uint8_t block[128];
  EXPECT_EQ(image.ReadBlock(block), 0u);
}

TEST(CanboxDecode, RecordsOutsideTheImageAreNotWritten) {
  // After the first record any address is taken; one that lies below the
  // image or beyond the buffer must not be written.
  const std::string text = Record(0x2000, Bytes(0, 16)) + Record(0x0100, Bytes(0x55, 16)) +
                           Record(0xFFF0, Bytes(0x66, 16));
  CCanboxImage image;
  ASSERT_TRUE(DecodeText(&image, text));
  EXPECT_EQ(image.Image(), Bytes(0, 16));
}

TEST(CanboxFile, MadeFilesDecodeToTheirImage) {
  std::vector<uint8_t> firmware(1000);
  for (size_t i = 0; i < firmware.size(); ++i) firmware[i] = static_cast<uint8_t>((i * 7 + 3) ^ (i >> 3));
  firmware[5] = 0x0D;
  std::string file;
  ASSERT_TRUE(MakeCanboxFile(firmware, &file));
  EXPECT_EQ(file.find(":10200"), std::string::npos);  // stored scrambled

  MemFiles files;
  files.PutFile("\\SDMMC\\Canprobe\\box.canbox", file);
  CCanboxImage image;
  ASSERT_TRUE(image.Load(files, "\\SDMMC\\Canprobe\\box.canbox", "\\SDMMC\\Canprobe"));
  EXPECT_EQ(image.Image(), firmware);
  EXPECT_EQ(image.FilePath(), "\\SDMMC\\Canprobe\\box.canbox");

  std::string error;
  EXPECT_FALSE(MakeCanboxFile(std::vector<uint8_t>(15), &file, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(MakeCanboxFile(std::vector<uint8_t>(0x10000 - 0x2000 + 1), &file, &error));
  ASSERT_TRUE(MakeCanboxFile(std::vector<uint8_t>(0x10000 - 0x2000, 0xA5), &file, &error));
  files.PutFile("\\big.canbox", file);
  ASSERT_TRUE(image.Load(files, "\\big.canbox", "\\"));
  EXPECT_EQ(image.Length(), 0x10000u - 0x2000);
}

TEST(CanboxFile, WithoutAPathTheFirstCanboxFileOfTheProgramFolderIsTaken) {
  CaptureTrace trace;
  MemFiles files;
  CCanboxImage image;
  EXPECT_FALSE(image.Load(files, "", "\\SDMMC\\Canprobe"));
  EXPECT_TRUE(trace.Contains("no .canbox file"));

  std::string file;
  ASSERT_TRUE(MakeCanboxFile(Bytes(1, 32), &file));
  files.MakeDirs("\\SDMMC\\Canprobe\\old.canbox");  // a folder is no file
  files.PutFile("\\SDMMC\\Canprobe\\Box.CANBOX", file);
  ASSERT_TRUE(image.Load(files, "\\SDMMC\\Canprobe\\missing.canbox", "\\SDMMC\\Canprobe"));
  EXPECT_EQ(image.Image(), Bytes(1, 32));
  EXPECT_EQ(image.FilePath(), "\\SDMMC\\Canprobe\\Box.CANBOX");

  // A file that is not a .canbox text.
  files.PutFile("\\junk.canbox", Scramble("hello"));
  EXPECT_FALSE(image.Load(files, "\\junk.canbox", "\\nowhere"));
  files.PutFile("\\empty.canbox", std::string());
  EXPECT_FALSE(image.Load(files, "\\empty.canbox", "\\nowhere"));
  files.PutFile("\\x.canbox", file);
  files.FailNth(MemOp::Read, 1, 30);
  EXPECT_FALSE(image.Load(files, "\\x.canbox", "\\nowhere"));
}

}  // namespace
}  // namespace hu
