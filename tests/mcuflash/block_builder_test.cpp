#include "mcuflash/block_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/platform/testing/capture_trace.h"

namespace hu {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Block(const CBlockBuilder& b) { return Bytes(b.Buffer(), b.Buffer() + b.Length()); }

TEST(BlockBuilders, FixedBlocks) {
  CStm8BlockBuilder stm8;
  CLineBlockBuilder line;
  stm8.BuildVersionQuery();
  line.BuildVersionQuery();
  EXPECT_EQ(Block(stm8), (Bytes{'D'}));
  EXPECT_EQ(Block(line), (Bytes{'D'}));
  stm8.BuildStart();
  line.BuildStart();
  EXPECT_EQ(Block(stm8), (Bytes{'a', 'S', 'T', 'M', '8'}));
  EXPECT_EQ(Block(line), (Bytes{'Y', 0x01}));
  stm8.BuildEnd();
  line.BuildEnd();
  EXPECT_EQ(Block(stm8), (Bytes{'c', 'S', 'T', 'M', '8'}));
  EXPECT_EQ(Block(line), (Bytes{'Y', 0x00}));
}

TEST(BlockBuilders, Stm8DataBlockIsPaddedWithZeros) {
  CStm8BlockBuilder b;
  const Bytes full(128, 0xAB);
  ASSERT_TRUE(b.BuildData(0x0001A080, full.data(), full.size()));
  const Bytes tail{1, 2, 3};
  ASSERT_TRUE(b.BuildData(0xA100, tail.data(), tail.size()));
  Bytes expected(133, 0);
  expected[0] = 'b';
  expected[1] = 0x00;
  expected[2] = 0xA1;
  expected[5] = 1;
  expected[6] = 2;
  expected[7] = 3;
  EXPECT_EQ(Block(b), expected);  // nothing of the previous block remains
  CaptureTrace trace;
  const Bytes tooMany(129, 1);
  EXPECT_FALSE(b.BuildData(0xA000, tooMany.data(), tooMany.size()));
  EXPECT_EQ(b.Length(), 0u);
}

TEST(BlockBuilders, LineDataBlockCarriesTheText) {
  CLineBlockBuilder b;
  const std::string text = "Y\x02S1058000010278";
  ASSERT_TRUE(b.BuildData(0, reinterpret_cast<const uint8_t*>(text.data()) + 2, text.size() - 2));
  EXPECT_EQ(Block(b), Bytes(text.begin(), text.end()));
  CaptureTrace trace;
  const Bytes big(CBlockBuilder::kBufferSize - 1, 'S');
  EXPECT_FALSE(b.BuildData(0, big.data(), big.size()));
  EXPECT_EQ(b.Length(), 0u);
  EXPECT_TRUE(b.BuildData(0, big.data(), big.size() - 1));
  EXPECT_EQ(b.Length(), CBlockBuilder::kBufferSize);
}

}  // namespace
}  // namespace hu
