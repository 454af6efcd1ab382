#include "canprobe/stm32_record_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hu {
namespace {

std::vector<uint8_t> BytesOf(const CStm32RecordBuilder& b) { return {b.Bytes(), b.Bytes() + b.Length()}; }

// Undoes the doubling of 0x0D between "\r$" and the final "\r\n".
std::vector<uint8_t> Undouble(const std::vector<uint8_t>& wire) {
  std::vector<uint8_t> out(wire.begin(), wire.begin() + 2);
  for (size_t i = 2; i + 2 < wire.size(); ++i) {
    out.push_back(wire[i]);
    if (wire[i] == 0x0D) {
      EXPECT_EQ(wire[i + 1], 0x0D) << "single 0x0D at " << i;
      ++i;
    }
  }
  return out;
}

TEST(Stm32Record, BannersAreFourteenBytes) {
  CStm32RecordBuilder b;
  ASSERT_TRUE(b.Build(CStm32RecordBuilder::kEnterIap));
  EXPECT_EQ(std::string(b.Bytes(), b.Bytes() + b.Length()), "\r$STM32-IAP0\r\n");
  ASSERT_TRUE(b.Build(CStm32RecordBuilder::kEraseFlag));
  EXPECT_EQ(std::string(b.Bytes(), b.Bytes() + b.Length()), "\r$STM32-IAP1\r\n");
  EXPECT_EQ(b.Length(), 14u);
  EXPECT_EQ(b.LastIndex(), 5);
  EXPECT_FALSE(b.Build(6));
  EXPECT_EQ(b.Length(), 0u);
  EXPECT_EQ(b.LastIndex(), 6);
}

TEST(Stm32Record, ProgramRecordPadsTheBlockWithFF) {
  std::vector<uint8_t> data(100);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0x20 + i % 0x40);
  CStm32RecordBuilder b;
  ASSERT_TRUE(b.Build(CStm32RecordBuilder::kProgram, 0x08002080, data.data(), data.size()));
  const std::vector<uint8_t> w = BytesOf(b);
  ASSERT_EQ(w.size(), 10u + 128 + 3);
  EXPECT_EQ(w[8], 0x80);  // payload length 128
  EXPECT_EQ(std::vector<uint8_t>(w.begin() + 10, w.begin() + 110), data);
  for (size_t i = 110; i < 138; ++i) EXPECT_EQ(w[i], 0xFF) << i;
  EXPECT_FALSE(b.Build(CStm32RecordBuilder::kProgram, 0x08002000, std::vector<uint8_t>(129).data(), 129));
}

TEST(Stm32Record, EveryCarriageReturnGoesTwiceAndTheCheckIgnoresTheCopies) {
  // 0x0D in the address, in the data and an odd number of doublings.
  std::vector<uint8_t> data = {0x0D, 0x01, 0x0D, 0x0D, 0x02};
  CStm32RecordBuilder b;
  ASSERT_TRUE(b.Build(CStm32RecordBuilder::kProgram, 0x08020D00, data.data(), data.size()));
  const std::vector<uint8_t> wire = BytesOf(b);
  const std::vector<uint8_t> plain = Undouble(wire);
  ASSERT_EQ(plain.size(), 10u + 128 + 1);
  EXPECT_EQ(plain[5], 0x0D);
  size_t doubled = 0;
  for (size_t i = 2; i < plain.size(); ++i) doubled += plain[i] == 0x0D;
  EXPECT_GE(doubled, 4u);  // one in the address, three in the data
  EXPECT_EQ(wire.size(), plain.size() + doubled + 2);
  uint8_t check = 0;
  for (size_t i = 2; i + 1 < plain.size(); ++i) check ^= plain[i];
  EXPECT_EQ(plain.back(), check);
  EXPECT_EQ(wire[wire.size() - 2], 0x0D);
  EXPECT_EQ(wire.back(), 0x0A);
}

TEST(Stm32Record, ACheckByteOfCarriageReturnIsDoubledToo) {
  // Search a block whose payload check comes out as 0x0D.
  CStm32RecordBuilder b;
  bool seen = false;
  for (int v = 0; v < 256 && !seen; ++v) {
    const uint8_t data[1] = {static_cast<uint8_t>(v)};
    ASSERT_TRUE(b.Build(CStm32RecordBuilder::kProgram, 0x08002000, data, 1));
    const std::vector<uint8_t> plain = Undouble(BytesOf(b));
    if (plain.back() != 0x0D) continue;
    seen = true;
    const std::vector<uint8_t> w = BytesOf(b);
    EXPECT_EQ(std::vector<uint8_t>(w.end() - 4, w.end()), (std::vector<uint8_t>{0x0D, 0x0D, 0x0D, 0x0A}));
  }
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace hu
