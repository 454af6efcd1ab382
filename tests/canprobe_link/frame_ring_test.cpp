#include "canprobe/frame_ring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "canprobe/text_frame_parser.h"
#include "common/platform/testing/capture_trace.h"

namespace hu {
namespace {

std::vector<uint8_t> V(const std::string& s) { return {s.begin(), s.end()}; }

void Feed(CFrameRing& ring, const std::vector<uint8_t>& bytes) { ring.Append(bytes.data(), bytes.size()); }

std::vector<std::vector<uint8_t>> Frames(CFrameRing& ring) {
  std::vector<std::vector<uint8_t>> out;
  const uint8_t* f = nullptr;
  size_t n = 0;
  while (ring.NextFrame(&f, &n)) out.emplace_back(f, f + n);
  return out;
}

const std::string kReply = std::string("\r$Z;VZD3A000105") + "\x5A" + "\r\n";

TEST(TextFrameParser, FindsTheReplyInAnySplit) {
  ASSERT_EQ(kReply.size(), 18u);
  for (size_t cut = 1; cut < kReply.size(); ++cut) {
    CTextFrameParser parser;
    Feed(parser, V("noise\r\r$" + kReply.substr(0, cut)));
    EXPECT_TRUE(Frames(parser).empty()) << cut;
    Feed(parser, V(kReply.substr(cut)));
    const auto frames = Frames(parser);
    ASSERT_EQ(frames.size(), 1u) << cut;
    EXPECT_EQ(frames[0], V(kReply));
  }
}

TEST(TextFrameParser, SkipsWrongTerminatorsAndLengthsOutOfRange) {
  CaptureTrace trace;
  CTextFrameParser parser;
  // Length character ' ' gives a negative length; '+' (43) a length of 2, which
  // would put the terminator before the frame.
  Feed(parser, V("\r$Z \r$Z+\r$Z;VZD3A000105XX\r\n" + kReply));
  const auto frames = Frames(parser);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], V(kReply));
  EXPECT_TRUE(trace.Contains("frameLen big than buffer,overflow,frame error!!! parserPos++\n"));
}

TEST(TextFrameParser, AnIncompleteFrameWaitsAndLaterGarbageIsLeftBehind) {
  CTextFrameParser parser;
  Feed(parser, V("\r$Z;VZD"));
  EXPECT_TRUE(Frames(parser).empty());
  EXPECT_EQ(parser.ParseMark(), 0u);
  Feed(parser, V("3A000105*\r\n"));
  EXPECT_EQ(Frames(parser).size(), 1u);
  Feed(parser, V("abcdefgh"));
  EXPECT_TRUE(Frames(parser).empty());
  EXPECT_EQ(parser.ParseMark(), parser.FillMark() - 3);
}

TEST(FrameRing, FullBuffersMoveTheUnparsedPartForwardAndDropTheExcess) {
  CTextFrameParser parser;
  std::vector<uint8_t> filler(CFrameRing::kCapacity - 10, 'x');
  Feed(parser, filler);
  EXPECT_TRUE(Frames(parser).empty());
  // The unparsed tail is 3 bytes; the reply must still fit after moving it.
  Feed(parser, V(kReply));
  const auto frames = Frames(parser);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], V(kReply));

  CTextFrameParser full;
  Feed(full, V("\r$Z\xFF"));  // waits for a 214-byte frame
  EXPECT_EQ(full.Append(std::vector<uint8_t>(CFrameRing::kCapacity, 'y').data(), CFrameRing::kCapacity),
            CFrameRing::kCapacity - 4);
  EXPECT_EQ(full.FillMark(), CFrameRing::kCapacity);
  EXPECT_EQ(full.Append(reinterpret_cast<const uint8_t*>("z"), 1), 0u);
}

TEST(SumFrameRing, TakesFramesByTheirLengthAndEnd) {
  CSumFrameRing ring;
  const std::vector<uint8_t> frame = {0x24, 0x23, 0x44, 0x08, 0x01, 'O', 0x4D, 0x40, 0x24};
  std::vector<uint8_t> in = {0x24, 0x23, 0x44, 0x08, 0x02, 1, 2, 3, 0x00, 0x00};  // wrong end
  in.insert(in.end(), frame.begin(), frame.end());
  Feed(ring, std::vector<uint8_t>(in.begin(), in.begin() + 14));
  EXPECT_TRUE(Frames(ring).empty());
  Feed(ring, std::vector<uint8_t>(in.begin() + 14, in.end()));
  const auto frames = Frames(ring);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], frame);
  EXPECT_EQ(ring.ParseMark(), ring.FillMark());
}

TEST(XorFrameRing, TakesFramesByTheirLengthFieldAndSkipsImpossibleLengths) {
  CaptureTrace trace;
  CXorFrameRing ring;
  const std::vector<uint8_t> frame = {0x21, 0x23, 0x42, 0x43, 0x09, 0x00, 'O', 'K', 0x00, 0x0D};
  // 10245 bytes of data could never fit the buffer: without the check the
  // search would wait for it for good.
  std::vector<uint8_t> in = {0x21, 0x23, 0x42, 0x43, 0x0C, 0x28, 0, 0, 0, 0};
  in.insert(in.end(), frame.begin(), frame.end());
  Feed(ring, in);
  const auto frames = Frames(ring);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], frame);
  EXPECT_TRUE(trace.Contains("frameLen big than buffer,overflow,frame error!!! parserPos++\n"));

  // A length below 7 is an empty frame of 8 bytes.
  CXorFrameRing empty;
  Feed(empty, {0x21, 0x23, 0x42, 0x43, 0x00, 0x00, 0x00, 0x0D, 0x55});
  ASSERT_EQ(Frames(empty).size(), 1u);
}

}  // namespace
}  // namespace hu
