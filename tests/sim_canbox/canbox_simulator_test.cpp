#include "sim/canbox/canbox_simulator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "canprobe/stm32_record_builder.h"
#include "sim/canbox/canbox_relay.h"
#include "sim/mcu/mcu_simulator.h"

namespace hu {
namespace {

std::vector<uint8_t> V(const std::string& s) { return {s.begin(), s.end()}; }
const std::vector<uint8_t> kOk = V("OK\r\n");
const std::vector<uint8_t> kEr = V("ER\r\n");

std::vector<uint8_t> Build(int index, uint32_t address = 0, const std::vector<uint8_t>& data = {}) {
  CStm32RecordBuilder b;
  EXPECT_TRUE(b.Build(index, address, data.data(), data.size()));
  return {b.Bytes(), b.Bytes() + b.Length()};
}

// Feeds one byte at a time and collects every answer.
std::vector<uint8_t> FeedBytewise(CanBoxSimulator& box, const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out;
  for (uint8_t b : in) {
    const std::vector<uint8_t> a = box.Feed(&b, 1);
    out.insert(out.end(), a.begin(), a.end());
  }
  return out;
}

void ToIap(CanBoxSimulator& box) {
  box.Feed(V("\r$Z2B0\r\n"));
  ASSERT_EQ(box.Feed(Build(CStm32RecordBuilder::kEnterIap)), kOk);
  ASSERT_EQ(box.GetMode(), CanBoxSimulator::Mode::Iap);
}

TEST(CanBoxSimulator, AnswersTypeRequestsInAnySplit) {
  CanBoxSimulator box;
  const std::vector<uint8_t> reply = CanBoxSimulator::TypeReply("VZD3A000105");
  ASSERT_EQ(reply.size(), 18u);
  EXPECT_EQ(std::string(reply.begin(), reply.begin() + 15), "\r$Z;VZD3A000105");
  EXPECT_EQ(std::string(reply.end() - 2, reply.end()), "\r\n");
  EXPECT_EQ(FeedBytewise(box, V("xx\r$Z2N0\r\n\r\r$Z220\r\n")), [&] {
    std::vector<uint8_t> two = reply;
    two.insert(two.end(), reply.begin(), reply.end());
    return two;
  }());
  EXPECT_EQ(box.GetStats().typeRequests, 2u);
  EXPECT_TRUE(box.Feed(V("\r$Z2N0\r\r")).empty());  // wrong terminator
  EXPECT_TRUE(box.SetType("VZE4B000107"));
  EXPECT_FALSE(box.SetType(std::string(20, 'V')));
  EXPECT_EQ(box.Feed(V("\r$Z2N0\r\n")), CanBoxSimulator::TypeReply("VZE4B000107"));
}

TEST(CanBoxSimulator, LoaderRunsTheIapCommandsWithTheirChecks) {
  CanBoxSimulator box;
  // Records before the loader are not taken.
  EXPECT_TRUE(box.Feed(Build(CStm32RecordBuilder::kErase, 0x08002000)).empty());
  EXPECT_TRUE(box.Feed(Build(CStm32RecordBuilder::kEnterIap)).empty());
  ToIap(box);
  EXPECT_TRUE(box.Feed(V("\r$Z2N0\r\n")).empty());  // the loader does not answer the type

  // Programming before an erase is refused.
  std::vector<uint8_t> block(128);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i % 3 == 0 ? 0x0D : i);
  EXPECT_EQ(box.Feed(Build(CStm32RecordBuilder::kProgram, 0x08002000, block)), kEr);
  EXPECT_EQ(FeedBytewise(box, Build(CStm32RecordBuilder::kErase, 0x08002000)), kOk);
  EXPECT_EQ(FeedBytewise(box, Build(CStm32RecordBuilder::kProgram, 0x08002080, block)), kOk);
  EXPECT_EQ(box.Feed(Build(CStm32RecordBuilder::kProgram, 0x08002000, std::vector<uint8_t>(10, 0x42))), kOk);
  EXPECT_EQ(box.Feed(Build(CStm32RecordBuilder::kLeaveIap, 0x08002000)), kOk);
  EXPECT_EQ(box.Feed(Build(CStm32RecordBuilder::kEraseFlag)), kOk);
  EXPECT_EQ(box.GetMode(), CanBoxSimulator::Mode::App);

  const std::vector<uint8_t> image = box.Image();
  ASSERT_EQ(image.size(), 256u);
  EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 10), std::vector<uint8_t>(10, 0x42));
  EXPECT_EQ(image[10], 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + 128, image.end()), block);
  const CanBoxSimulator::Stats stats = box.GetStats();
  EXPECT_EQ(stats.erases, 1u);
  EXPECT_EQ(stats.programs, 2u);
  EXPECT_EQ(stats.leaves, 1u);
  EXPECT_EQ(stats.badRecords, 1u);
}

TEST(CanBoxSimulator, DamagedRecordsAreRefused) {
  CanBoxSimulator box;
  ToIap(box);
  ASSERT_EQ(box.Feed(Build(CStm32RecordBuilder::kErase, 0x08002000)), kOk);
  const std::vector<uint8_t> good = Build(CStm32RecordBuilder::kProgram, 0x08002000, std::vector<uint8_t>(128, 0x11));

  std::vector<uint8_t> payload = good;
  payload[20] ^= 0x01;  // payload check fails
  EXPECT_EQ(box.Feed(payload), kEr);
  std::vector<uint8_t> header = good;
  header[4] ^= 0x01;  // header check fails
  EXPECT_EQ(box.Feed(header), kEr);
  std::vector<uint8_t> single = good;
  single[30] = 0x0D;  // a carriage return that is not doubled
  EXPECT_FALSE(box.Feed(single).empty());
  EXPECT_TRUE(box.Image().empty());

  // The wrong payload length for the command.
  std::vector<uint8_t> data(128, 0x22);
  std::vector<uint8_t> wrongLength = Build(CStm32RecordBuilder::kErase, 0x08002000);
  wrongLength[8] = 0x41;
  uint8_t headerCheck = 0x8C;
  for (int i = 0; i < 9; ++i) headerCheck ^= wrongLength[i];
  wrongLength[9] = headerCheck;
  EXPECT_EQ(box.Feed(wrongLength), kEr);

  EXPECT_EQ(box.Feed(good), kOk);
  EXPECT_EQ(box.Image(), std::vector<uint8_t>(128, 0x11));
  EXPECT_GE(box.GetStats().badRecords, 4u);
}

// The fault model itself is the MCU simulator's (seeds, counts, silence);
// here: the box's answers go through it, and stray bytes never look like
// the start of a box answer.
TEST(CanBoxSimulator, AnswersCarryTheFaultsWithoutFrameStarts) {
  const std::vector<uint8_t> request = V("\r$Z2N0\r\n");
  const std::vector<uint8_t> answer = CanBoxSimulator().Feed(request);
  ASSERT_FALSE(answer.empty());
  CanBoxSimConfig config;
  config.faults.garbageProbability = 1.0;
  CanBoxSimulator noisy(config);
  for (int i = 0; i < 400; ++i) {
    const std::vector<uint8_t> out = noisy.Feed(request);
    ASSERT_GT(out.size(), answer.size());
    ASSERT_LE(out.size(), answer.size() + 8);
    EXPECT_TRUE(std::equal(answer.rbegin(), answer.rend(), out.rbegin()));
    for (size_t k = 0; k < out.size() - answer.size(); ++k) {
      for (uint8_t start : {'\r', '$', '!', 'O'}) EXPECT_NE(out[k], start) << i;
    }
  }
  EXPECT_EQ(noisy.GetStats().garbage, 400u);
  config.faults = CanBoxFaults();
  config.faults.lossProbability = 1.0;
  CanBoxSimulator lost(config);
  EXPECT_TRUE(lost.Feed(request).empty());
  EXPECT_EQ(lost.GetStats().lost, 1u);
}

TEST(CanBoxSimulator, KeepsImageAndVehicleIdInItsFiles) {
  char pattern[] = "/tmp/sim_canbox_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  CanBoxSimConfig config;
  config.imagePath = dir + "/flash/canbox.bin";
  config.iniPath = dir + "/flash/canbox.ini";
  {
    CanBoxSimulator box(config);
    EXPECT_EQ(box.VehicleId(), -1);
    box.Feed(V("\r$Z2C.\r\n"));  // 254
    EXPECT_EQ(box.VehicleId(), 254);
    ToIap(box);
    box.Feed(Build(CStm32RecordBuilder::kErase, 0x08002000));
    box.Feed(Build(CStm32RecordBuilder::kProgram, 0x08002080, std::vector<uint8_t>(128, 0x33)));
    box.Feed(Build(CStm32RecordBuilder::kProgram, 0x08002000, std::vector<uint8_t>(128, 0x44)));
  }
  std::ifstream in(config.imagePath, std::ios::binary);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(file.size(), 256u);
  EXPECT_EQ(file[0], 0x44);
  EXPECT_EQ(file[255], 0x33);
  {
    CanBoxSimulator again(config);
    EXPECT_EQ(again.VehicleId(), 254);
    EXPECT_EQ(again.Image(), file);
    again.Feed(V("\r$Z2C3\r\n"));
    EXPECT_EQ(again.VehicleId(), 3);
    // A new erase empties the file.
    ToIap(again);
    again.Feed(Build(CStm32RecordBuilder::kErase, 0x08002000));
  }
  EXPECT_EQ(std::filesystem::file_size(config.imagePath), 0u);
  std::filesystem::remove_all(dir);
}

TEST(CanBoxRelay, CarriesTheBoxBehindTheMcuInBothFramings) {
  CanBoxSimulator box;
  CanBoxRelay relay(box);
  McuSimulator mcu;
  mcu.SetRelayPeer(&relay);

  const std::vector<uint8_t> request = V("\r$Z2N0\r\n");
  const std::vector<uint8_t> reply = CanBoxSimulator::TypeReply(box.Type());
  EXPECT_EQ(mcu.Feed(BuildSumFrame(0x33, 0x08, request)), BuildSumFrame(0x44, 0x08, reply));
  EXPECT_EQ(mcu.Feed(BuildXorFrame('A', 'C', request)), BuildXorFrame(0x42, 'C', reply));

  // Long answers go in several frames; unknown kinds pass the bytes as they are.
  const std::vector<uint8_t> big(300, 7);
  const std::vector<uint8_t> sum = WrapCanBoxAnswer(4, big);
  EXPECT_EQ(sum.size(), 255u + 8 + 45 + 8);
  EXPECT_EQ(WrapCanBoxAnswer(5, big).size(), 4 * (64u + 8) + 44 + 8);
  EXPECT_EQ(WrapCanBoxAnswer(1, big), big);
}

}  // namespace
}  // namespace hu
