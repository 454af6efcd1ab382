#include "sim/mcu/mcu_simulator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace hu {
namespace {

std::vector<uint8_t> Block(const std::vector<uint8_t>& data) { return BuildXorFrame('A', 'O', data); }
std::vector<uint8_t> Line(const std::vector<uint8_t>& data) { return BuildSumFrame('3', 0x01, data); }

std::vector<uint8_t> DataBlock(uint32_t address, uint8_t fill) {
  std::vector<uint8_t> d{'b', static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                         static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)};
  d.resize(133, fill);
  return Block(d);
}

std::vector<uint8_t> BlockAnswer(uint32_t address, bool good) {
  return Block({'b', static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24),
                static_cast<uint8_t>(good ? 1 : 0)});
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("hu_sim_mcu_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
};

TEST(SimFrames, TheUnitsFrameExamples) {
  EXPECT_EQ(Block({'D'}), (std::vector<uint8_t>{0x21, 0x23, 0x41, 0x4F, 0x08, 0x00, 0x44, 0x40, 0x0D}));
  EXPECT_EQ(Block({'a', 'S', 'T', 'M', '8'}),
            (std::vector<uint8_t>{0x21, 0x23, 0x41, 0x4F, 0x0C, 0x00, 0x61, 0x53, 0x54, 0x4D, 0x38, 0x13, 0x0D}));
  EXPECT_EQ(Line({'Y', 0x01}), (std::vector<uint8_t>{0x24, 0x23, 0x33, 0x01, 0x02, 0x59, 0x01, 0x90, 0x40, 0x24}));
  EXPECT_EQ(DataBlock(0xA000, 0).size(), 141u);
}

TEST(SimFamily, ChosenLikeTheUpdater) {
  EXPECT_EQ(McuSimulator::FamilyFor(20, "S5P6450"), McuFamily::Block);
  EXPECT_EQ(McuSimulator::FamilyFor(19, "MSTAR2521"), McuFamily::Block);
  EXPECT_EQ(McuSimulator::FamilyFor(18, "S3C6410"), McuFamily::Line);
  EXPECT_EQ(McuSimulator::FamilyFor(19, "mstar786"), McuFamily::Line);  // case-sensitive, as the updater
}

TEST_F(SimTest, BlockLoaderChecksTheSequenceAndKeepsTheImage) {
  McuSimConfig config;
  config.version = "3900R20121231";
  config.imagePath = (dir / "flash" / "mcu.bin").string();
  config.notReadyStarts = 1;
  McuSimulator mcu(config);
  const std::string version = "V3900R20121231";
  EXPECT_EQ(mcu.Feed(Block({'D'})), Block(std::vector<uint8_t>(version.begin(), version.end())));
  // Blocks before a start are refused.
  EXPECT_EQ(mcu.Feed(DataBlock(0xA000, 1)), BlockAnswer(0xA000, false));
  EXPECT_EQ(mcu.Feed(Block({'a', 'S', 'T', 'M', '8'})), Block({'a', 0}));  // not ready yet
  EXPECT_EQ(mcu.Feed(Block({'a', 'S', 'T', 'M', '8'})), Block({'a', 1}));
  EXPECT_EQ(mcu.Feed(DataBlock(0xA080, 2)), BlockAnswer(0xA080, false));  // out of order
  EXPECT_EQ(mcu.Feed(DataBlock(0xA000, 1)), BlockAnswer(0xA000, true));
  EXPECT_EQ(mcu.Feed(DataBlock(0xA000, 7)), BlockAnswer(0xA000, true));  // the last block again
  std::vector<uint8_t> shortBlock = DataBlock(0xA080, 2);
  shortBlock = Block(std::vector<uint8_t>(shortBlock.begin() + 6, shortBlock.begin() + 6 + 100));
  EXPECT_EQ(mcu.Feed(shortBlock), BlockAnswer(0xA080, false));  // not 128 bytes
  EXPECT_EQ(mcu.Feed(DataBlock(0xA080, 2)), BlockAnswer(0xA080, true));
  EXPECT_FALSE(mcu.ImageComplete());
  EXPECT_EQ(mcu.Feed(Block({'c', 'S', 'T', 'M', '8'})), Block({'s'}));
  EXPECT_TRUE(mcu.ImageComplete());
  std::vector<uint8_t> expected(128, 7);
  expected.resize(256, 2);
  EXPECT_EQ(mcu.Image(), expected);
  EXPECT_EQ(ReadFile(config.imagePath), std::string(expected.begin(), expected.end()));
  const McuSimulator::Stats stats = mcu.GetStats();
  EXPECT_EQ(stats.dataBlocks, 2u);
  EXPECT_EQ(stats.repeatedBlocks, 1u);
  EXPECT_EQ(stats.rejectedBlocks, 3u);
  EXPECT_EQ(stats.startBlocks, 2u);
}

TEST_F(SimTest, FramesInAnySplitWithNoiseAndBadChecks) {
  std::vector<uint8_t> stream = Join({{0x00, 0x55, 0x21}, Block({'D'}), {0x24, 0x23, 0x99}, Block({'D'})});
  std::vector<uint8_t> damaged = Block({'D'});
  damaged[6] ^= 0x01;  // check no longer fits
  stream = Join({stream, damaged, Block({'D'})});
  McuSimulator whole;
  const std::vector<uint8_t> once = whole.Feed(stream);
  McuSimulator bytewise;
  std::vector<uint8_t> pieces;
  for (uint8_t b : stream) {
    const std::vector<uint8_t> out = bytewise.Feed(&b, 1);
    pieces.insert(pieces.end(), out.begin(), out.end());
  }
  EXPECT_EQ(once, pieces);
  EXPECT_EQ(whole.GetStats().versionQueries, 3u);
  EXPECT_GE(whole.GetStats().badFrames, 1u);
  EXPECT_EQ(bytewise.GetStats().versionQueries, 3u);
}

TEST_F(SimTest, LineLoaderChecksEveryRecord) {
  McuSimConfig config;
  config.family = McuFamily::Line;
  config.imagePath = (dir / "mcu.s19").string();
  McuSimulator mcu(config);
  auto lineFrame = [](const std::string& text) {
    std::vector<uint8_t> d(text.size() + 2, 'Y');
    d[1] = 0x02;
    std::copy(text.begin(), text.end(), d.begin() + 2);
    return Line(d);
  };
  EXPECT_EQ(mcu.Feed(Block({'D'})), std::vector<uint8_t>());  // the other family's frames are not answered
  EXPECT_EQ(mcu.Feed(Line({'Y', 0x01})), Line({0x84, 2}));
  EXPECT_EQ(mcu.Feed(lineFrame("S00600004844521B")), Line({0x84, 2}));
  EXPECT_EQ(mcu.Feed(lineFrame("S1058000AABB0A")), Line({0x84, 1}));  // wrong check
  EXPECT_EQ(mcu.Feed(lineFrame("S1058000AABB1A")), Line({0x84, 1}));
  EXPECT_EQ(mcu.Feed(lineFrame("S1058000AABB15")), Line({0x84, 2}));
  EXPECT_EQ(mcu.Feed(lineFrame("S1058000AABB15")), Line({0x84, 2}));  // sent again: kept once
  EXPECT_EQ(mcu.Feed(lineFrame("S9030000FC")), Line({0x84, 2}));
  EXPECT_EQ(mcu.Feed(Line({'Y', 0x00})), Line({0x84, 0}));
  EXPECT_EQ(mcu.Lines(), (std::vector<std::string>{"S00600004844521B", "S1058000AABB15", "S9030000FC"}));
  EXPECT_EQ(ReadFile(config.imagePath), "S00600004844521B\r\nS1058000AABB15\r\nS9030000FC\r\n");
  EXPECT_EQ(mcu.GetStats().rejectedBlocks, 2u);
  EXPECT_EQ(mcu.GetStats().foreign, 1u);
}

TEST_F(SimTest, KeyConfigurationIsStoredAndReadBack) {
  McuSimConfig config;
  config.keyPath = (dir / "mcu.key").string();
  McuSimulator mcu(config);
  EXPECT_EQ(mcu.Feed(Block({'M'})), Block({'_'}));
  EXPECT_TRUE(mcu.Feed(Block({'L', 5, 6, 7})).empty());
  EXPECT_EQ(mcu.Key(), (std::vector<uint8_t>{5, 6, 7}));
  EXPECT_EQ(ReadFile(config.keyPath), std::string("\x05\x06\x07"));
  EXPECT_EQ(mcu.Feed(Block({'M'})), Block({'_', 5, 6, 7}));
  // The heartbeat stops of the system updater are taken without an answer.
  EXPECT_TRUE(mcu.Feed({0x21, 0x23, 0x41, 0x4F, 0x09, 0x00, 0x43, 0x31, 0x77, 0x0D}).empty());
  EXPECT_TRUE(mcu.Feed({0x21, 0x23, 0x41, 0x57, 0x08, 0x00, 0x07, 0x1B, 0x0D}).empty());
  EXPECT_EQ(mcu.GetStats().heartbeatStops, 2u);
}

class EchoRelay : public McuRelayPeer {
 public:
  std::vector<uint8_t> OnRelay(int linkKind, const std::vector<uint8_t>& data) override {
    kinds.push_back(linkKind);
    std::vector<uint8_t> out{static_cast<uint8_t>(linkKind)};
    out.insert(out.end(), data.begin(), data.end());
    return out;
  }
  std::vector<int> kinds;
};

TEST_F(SimTest, RelayedFramesReachThePeerBehind) {
  McuSimulator mcu;
  EXPECT_TRUE(mcu.Feed(BuildSumFrame(0x33, 0x08, {1, 2})).empty());  // nobody behind: dropped
  EchoRelay relay;
  mcu.SetRelayPeer(&relay);
  EXPECT_EQ(mcu.Feed(BuildSumFrame(0x33, 0x08, {1, 2})), (std::vector<uint8_t>{4, 1, 2}));
  EXPECT_EQ(mcu.Feed(BuildXorFrame('A', 'C', {9})), (std::vector<uint8_t>{5, 9}));
  EXPECT_EQ(relay.kinds, (std::vector<int>{4, 5}));
  EXPECT_EQ(mcu.GetStats().relayed, 3u);
}

// The loader command goes out unframed on the MCU's line; the MCU hands it to
// the box behind it, but never a copy of one carried inside a frame.
TEST_F(SimTest, UnframedTextCommandsReachTheBoxBehind) {
  const std::string command = "\r$Z2B0\r\n";
  const std::vector<uint8_t> text(command.begin(), command.end());
  McuSimulator mcu;
  EchoRelay relay;
  mcu.SetRelayPeer(&relay);
  EXPECT_TRUE(mcu.Feed(text).empty());  // no pass-through asked for: as before
  mcu.SetTextRelayKind(4);
  std::vector<uint8_t> expected{4};
  expected.insert(expected.end(), text.begin(), text.end());
  EXPECT_EQ(mcu.Feed(text), expected);
  // Split anywhere, also right after the '$' that could start a frame.
  EXPECT_TRUE(mcu.Feed(text.data(), 2).empty());
  EXPECT_EQ(mcu.Feed(text.data() + 2, text.size() - 2), expected);
  // Between frames, which keep their own answers.
  std::vector<uint8_t> mixed = BuildSumFrame(0x33, 0x08, {1});
  mixed.insert(mixed.end(), text.begin(), text.end());
  const std::vector<uint8_t> query = Block({'D'});
  mixed.insert(mixed.end(), query.begin(), query.end());
  std::vector<uint8_t> answers{4, 1};
  answers.insert(answers.end(), expected.begin(), expected.end());
  const std::string v = "V3900R20130101";
  const std::vector<uint8_t> version = Block(std::vector<uint8_t>(v.begin(), v.end()));
  answers.insert(answers.end(), version.begin(), version.end());
  EXPECT_EQ(mcu.Feed(mixed), answers);
  // Inside a relay frame it is relayed once, as the frame's data.
  EXPECT_EQ(mcu.Feed(BuildSumFrame(0x33, 0x08, text)), expected);
  // A frame in the middle breaks a text command.
  std::vector<uint8_t> broken(text.begin(), text.begin() + 4);
  broken.insert(broken.end(), query.begin(), query.end());
  broken.insert(broken.end(), text.begin() + 4, text.end());
  EXPECT_EQ(mcu.Feed(broken), version);
  const McuSimulator::Stats stats = mcu.GetStats();
  EXPECT_EQ(stats.relayedText, 3u);
  EXPECT_EQ(stats.relayed, 2u);
  EXPECT_EQ(relay.kinds, (std::vector<int>{4, 4, 4, 4, 4}));
}

std::vector<uint8_t> Queries(McuSimulator& mcu, int count) {
  std::vector<uint8_t> all;
  for (int i = 0; i < count; ++i) {
    const std::vector<uint8_t> out = mcu.Feed(Block({'D'}));
    all.insert(all.end(), out.begin(), out.end());
    all.push_back(0xFF);  // marks where one answer ends
  }
  return all;
}

TEST(SimFaults, SameSeedSameFaults) {
  McuSimConfig config;
  config.faults = McuFaults{0.2, 0.2, 0.2, 0.2, -1, 42};
  McuSimulator a(config);
  McuSimulator b(config);
  const std::vector<uint8_t> first = Queries(a, 200);
  EXPECT_EQ(first, Queries(b, 200));
  const McuSimulator::Stats stats = a.GetStats();
  EXPECT_GT(stats.lost, 10u);
  EXPECT_GT(stats.corrupted, 10u);
  EXPECT_GT(stats.duplicated, 10u);
  EXPECT_GT(stats.garbage, 10u);
  config.faults.seed = 43;
  McuSimulator c(config);
  EXPECT_NE(first, Queries(c, 200));
}

TEST(SimFaults, SilentAfterLossAndDuplicates) {
  McuSimConfig config;
  config.faults.silentAfter = 2;
  McuSimulator silent(config);
  EXPECT_FALSE(silent.Feed(Block({'D'})).empty());
  EXPECT_FALSE(silent.Feed(Block({'D'})).empty());
  EXPECT_TRUE(silent.Feed(Block({'D'})).empty());
  EXPECT_EQ(silent.GetStats().silenced, 1u);
  EXPECT_EQ(silent.GetStats().versionQueries, 3u);  // it still listens

  config.faults = McuFaults{};
  config.faults.lossProbability = 1.0;
  McuSimulator lossy(config);
  EXPECT_TRUE(lossy.Feed(Block({'D'})).empty());

  config.faults = McuFaults{};
  config.faults.duplicateProbability = 1.0;
  McuSimulator twice(config);
  const std::vector<uint8_t> answer = McuSimulator().Feed(Block({'D'}));
  EXPECT_EQ(twice.Feed(Block({'D'})), Join({answer, answer}));

  config.faults = McuFaults{};
  config.faults.garbageProbability = 1.0;
  McuSimulator noisy(config);
  const std::vector<uint8_t> out = noisy.Feed(Block({'D'}));
  ASSERT_GT(out.size(), answer.size());
  EXPECT_LE(out.size(), answer.size() + 8);
  EXPECT_TRUE(std::equal(answer.rbegin(), answer.rend(), out.rbegin()));
  for (size_t i = 0; i < out.size() - answer.size(); ++i) {
    EXPECT_NE(out[i], 0x21);
    EXPECT_NE(out[i], 0x24);
  }
}

}  // namespace
}  // namespace hu
