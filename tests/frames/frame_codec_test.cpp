#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "common/frames/sum_frame_codec.h"
#include "common/frames/xor_frame_codec.h"
#include "common/platform/testing/capture_trace.h"

namespace hu {
namespace {

using Bytes = std::vector<uint8_t>;

template <typename Codec>
Bytes Build(uint8_t cmd, uint8_t sub, const Bytes& data) {
  Codec codec;
  EXPECT_TRUE(codec.BuildFrame(cmd, sub, data.size(), data.data()));
  return Bytes(codec.FrameBytes(), codec.FrameBytes() + codec.FrameLength());
}
const auto BuildXor = Build<CXorFrameCodec>;
const auto BuildSum = Build<CSumFrameCodec>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Appends `bytes` and returns the data of every frame extracted after it.
std::vector<Bytes> Push(CFrameCodec& codec, const Bytes& bytes) {
  EXPECT_TRUE(codec.Append(bytes.data(), bytes.size()));
  std::vector<Bytes> got;
  UpdateDescriptor d;
  while (codec.Extract()) {
    codec.Describe(&d);
    EXPECT_EQ(d.dataLength, d.data.size());
    got.push_back(d.data);
  }
  return got;
}

TEST(FrameLayout, XorFramesOfTheUnit) {
  // Heartbeat stop (general, PlatformType 10), version query, start block, key write.
  EXPECT_EQ(BuildXor('A', 'O', {'C', '1'}), (Bytes{0x21, 0x23, 0x41, 0x4F, 0x09, 0x00, 0x43, 0x31, 0x77, 0x0D}));
  EXPECT_EQ(BuildXor('A', 'W', {0x07}), (Bytes{0x21, 0x23, 0x41, 0x57, 0x08, 0x00, 0x07, 0x1B, 0x0D}));
  EXPECT_EQ(BuildXor('A', 'O', {'D'}), (Bytes{0x21, 0x23, 0x41, 0x4F, 0x08, 0x00, 0x44, 0x40, 0x0D}));
  EXPECT_EQ(BuildXor('A', 'O', {'a', 'S', 'T', 'M', '8'}),
            (Bytes{0x21, 0x23, 0x41, 0x4F, 0x0C, 0x00, 0x61, 0x53, 0x54, 0x4D, 0x38, 0x13, 0x0D}));
  EXPECT_EQ(BuildXor('A', 'O', {'L'}), (Bytes{0x21, 0x23, 0x41, 0x4F, 0x08, 0x00, 0x4C, 0x48, 0x0D}));
  const Bytes data = BuildXor('A', 'O', Bytes(133, 0x5A));
  EXPECT_EQ(data.size(), 141u);
  EXPECT_EQ(data[4], 0x8C);
  const Bytes key = BuildXor('A', 'O', Bytes(256, 1));
  EXPECT_EQ(key.size(), 264u);
  EXPECT_EQ(key[4] | (key[5] << 8), 263);
}

TEST(FrameLayout, SumFrames) {
  EXPECT_EQ(BuildSum(0x33, 0x01, {'Y', 0x01}), (Bytes{0x24, 0x23, 0x33, 0x01, 0x02, 0x59, 0x01, 0x90, 0x40, 0x24}));
  EXPECT_EQ(BuildSum(0x33, 0x08, {}), (Bytes{0x24, 0x23, 0x33, 0x08, 0x00, 0x3B, 0x40, 0x24}));
}

TEST(FrameLayout, DataThatDoesNotFitIsRefused) {
  CaptureTrace trace;
  Bytes big(600, 0);
  CXorFrameCodec x;
  EXPECT_TRUE(x.BuildFrame('A', 'O', 504, big.data()));
  EXPECT_EQ(x.FrameLength(), CFrameCodec::kSendBufferSize);
  EXPECT_FALSE(x.BuildFrame('A', 'O', 505, big.data()));
  EXPECT_EQ(x.FrameLength(), 0u);  // no stale frame left to be sent by mistake
  EXPECT_FALSE(x.BuildFrame('A', 'O', 3, nullptr));
  CSumFrameCodec s;
  EXPECT_TRUE(s.BuildFrame(0x33, 1, 255, big.data()));
  EXPECT_EQ(s.FrameLength(), 263u);
  EXPECT_FALSE(s.BuildFrame(0x33, 1, 256, big.data()));
  EXPECT_EQ(s.FrameLength(), 0u);
}

TEST(XorExtract, SplitAndMergedReads) {
  CXorFrameCodec codec;
  const Bytes f = BuildXor('B', 'o', {'b', 0x00, 0xA0, 0, 0, 1});
  for (size_t i = 0; i + 1 < f.size(); ++i) EXPECT_TRUE(Push(codec, {f[i]}).empty()) << "byte " << i;
  ASSERT_TRUE(codec.Append(&f.back(), 1));
  ASSERT_TRUE(codec.Extract());
  UpdateDescriptor d;
  codec.Describe(&d);
  EXPECT_EQ(d.command, 'B');
  EXPECT_EQ(d.subCommand, 'o');
  EXPECT_EQ(d.data, (Bytes{'b', 0x00, 0xA0, 0, 0, 1}));
  EXPECT_EQ(codec.ReceiveFill(), 0u);

  // Two whole frames and the start of a third in one read: one frame per Extract.
  const Bytes a = BuildXor('A', 'O', {'a', 1});
  const Bytes s = BuildXor('A', 'O', {'s'});
  const Bytes v = BuildXor('A', 'O', {'V', '3', '9'});
  const Bytes head(v.begin(), v.begin() + 4);
  ASSERT_TRUE(codec.Append(Cat({a, s, head}).data(), a.size() + s.size() + 4));
  ASSERT_TRUE(codec.Extract());
  EXPECT_EQ(codec.ReceiveFill(), s.size() + 4);
  EXPECT_EQ(Push(codec, {}), (std::vector<Bytes>{{'s'}}));
  EXPECT_EQ(codec.ReceiveFill(), 4u);  // the started frame waits
  EXPECT_EQ(Push(codec, Bytes(v.begin() + 4, v.end())), (std::vector<Bytes>{{'V', '3', '9'}}));
}

TEST(XorExtract, GarbageAndDamagedFramesAreSkipped) {
  CXorFrameCodec codec;
  const Bytes good = BuildXor('A', 'O', {'s'});
  Bytes badCheck = BuildXor('A', 'O', {'b', 1, 2, 3, 4, 5});
  badCheck[badCheck.size() - 2] ^= 0x01;
  Bytes badEnd = BuildXor('A', 'O', {'a', 0});
  badEnd.back() = 0x0E;
  Bytes tiny = BuildXor('A', 'O', {});
  tiny[4] = 3;  // shorter than a header
  // Garbage with false marker starts, then damaged frames, then a good one.
  const Bytes garbage{0x00, 0x21, 0x21, 0x22, 0x0D, 0x21, 0x23, 0x01, 0x00};
  EXPECT_EQ(Push(codec, Cat({garbage, badCheck, badEnd, tiny, good})), (std::vector<Bytes>{{'s'}}));
  EXPECT_EQ(codec.ReceiveFill(), 0u);

  // Nothing valid: everything goes except a possible frame start.
  EXPECT_TRUE(Push(codec, Cat({badCheck, Bytes{0x55, 0x21}})).empty());
  ASSERT_EQ(codec.ReceiveFill(), 1u);
  EXPECT_EQ(Push(codec, Bytes(good.begin() + 1, good.end())).size(), 1u);

  // A corrupted length must not hold back the frames that follow it.
  Bytes stuck = BuildXor('A', 'O', {'b', 1, 2});
  stuck[5] = 0x0F;  // claims almost 4 KB
  EXPECT_TRUE(Push(codec, stuck).empty());
  EXPECT_EQ(Push(codec, BuildXor('A', 'O', {'a', 1})), (std::vector<Bytes>{{'a', 1}}));
  stuck[4] = stuck[5] = 0xFF;  // more than the receive buffer could ever hold
  EXPECT_TRUE(Push(codec, stuck).empty());
  EXPECT_EQ(codec.ReceiveFill(), 0u);
}

TEST(SumExtract, PiecesNoiseAndDamagedFrames) {
  CSumFrameCodec codec;
  Bytes bad = BuildSum(0x33, 0x01, {0x84, 0x01});
  bad[7] ^= 0xFF;
  const Bytes stream = Cat({Bytes{0x24, 0x24, 0x40, 0x99}, bad, BuildSum(0x33, 0x01, {0x84, 0x02}),
                            BuildSum(0x33, 0x01, {0x84, 0x00})});
  std::vector<Bytes> got;
  size_t pos = 0;
  for (size_t piece : {3u, 1u, 9u, 2u, 30u}) {
    const size_t n = std::min(piece, stream.size() - pos);
    for (const Bytes& g : Push(codec, Bytes(stream.begin() + pos, stream.begin() + pos + n))) got.push_back(g);
    pos += n;
  }
  EXPECT_EQ(got, (std::vector<Bytes>{{0x84, 0x02}, {0x84, 0x00}}));
  EXPECT_EQ(codec.ReceiveFill(), 0u);
}

TEST(SumParse, SkipsToTheMarkerAndChecksTheTrailer) {
  CSumFrameCodec codec;
  const Bytes f = Cat({Bytes{0x11, 0x22}, BuildSum(0x44, 0x02, {1, 2, 3})});
  ASSERT_TRUE(codec.Parse(f.data(), f.size()));
  UpdateDescriptor d;
  codec.Describe(&d);
  EXPECT_EQ(d.command, 0x44);
  EXPECT_EQ(d.data, (Bytes{1, 2, 3}));
  EXPECT_FALSE(codec.Parse(f.data(), f.size() - 1));  // never reads past the given bytes
  Bytes bad = f;
  bad[bad.size() - 2] = 0x41;
  EXPECT_FALSE(codec.Parse(bad.data(), bad.size()));
}

TEST(ReceiveBuffer, OverflowEmptiesIt) {
  CaptureTrace trace;
  CSumFrameCodec codec;
  Bytes chunk(5000, 0x24);
  ASSERT_TRUE(codec.Append(chunk.data(), chunk.size()));
  EXPECT_FALSE(codec.Append(chunk.data(), 200));
  EXPECT_EQ(codec.ReceiveFill(), 0u);
  EXPECT_EQ(codec.ReceiveBytes()[0], 0);
  EXPECT_TRUE(trace.Contains("the receive buf is overflow, reset the buf, Module lenth =200"));
}

TEST(ReceiveBuffer, UnframedReadIsOneFrame) {
  CXorFrameCodec codec;
  const Bytes f = Cat({Bytes{0}, BuildXor('A', 'O', {'s'})});
  ASSERT_TRUE(codec.Append(f.data() + 1, f.size() - 1, false));
  EXPECT_TRUE(codec.Extract());
  ASSERT_TRUE(codec.Append(f.data(), f.size(), false));
  EXPECT_FALSE(codec.Extract());  // no search for a frame start
  EXPECT_EQ(codec.ReceiveFill(), 0u);
}

// Random frames cut at random points and mixed with noise must all come out,
// intact and in order (the noise never forms a valid frame with these seeds).
template <typename Codec>
void RoundTrip(uint32_t seed, size_t maxData) {
  std::mt19937 rng(seed);
  Codec builder;
  Codec parser;
  std::vector<Bytes> sent;
  std::vector<Bytes> got;
  Bytes stream;
  for (int k = 0; k < 200; ++k) {
    for (unsigned j = rng() % 4 == 0 ? rng() % 6 : 0; j > 0; --j) {
      stream.push_back(static_cast<uint8_t>(rng() % 3 == 0 ? 0x0D : rng()));
    }
    Bytes data(rng() % (maxData + 1));
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    ASSERT_TRUE(builder.BuildFrame(static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), data.size(), data.data()));
    stream.insert(stream.end(), builder.FrameBytes(), builder.FrameBytes() + builder.FrameLength());
    sent.push_back(data);
  }
  for (size_t pos = 0; pos < stream.size();) {
    const size_t n = std::min<size_t>(1 + rng() % 97, stream.size() - pos);
    for (const Bytes& g : Push(parser, Bytes(stream.begin() + pos, stream.begin() + pos + n))) got.push_back(g);
    pos += n;
  }
  EXPECT_EQ(got, sent);
}

TEST(RoundTrip, BothFormats) {
  for (uint32_t seed = 1; seed <= 5; ++seed) {
    RoundTrip<CXorFrameCodec>(seed, 300);
    RoundTrip<CSumFrameCodec>(seed, 255);
  }
}

}  // namespace
}  // namespace hu
