// Arbitrary serial input, cut into arbitrary reads, for the "$#" and "!#"
// frame searches of the carried links and for the IAP engine that uses them:
// every frame lies inside the buffer and has its marker, length and end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "canprobe/frame_ring.h"
#include "canprobe/iap_engine.h"

namespace {

class NullTransport : public hu::DataTransport {
 public:
  bool Open() override { return true; }
  void Close() override {}
  bool Send(const uint8_t*, size_t) override { return true; }
};

// Lets the check see where the ring's buffer is.
template <class Ring>
class Exposed : public Ring {
 public:
  const uint8_t* Base() const { return this->m_buf.data(); }
};

template <class Ring>
void Run(const uint8_t* data, size_t size, bool sum, hu::CStm32IapEngine& engine) {
  Exposed<Ring> ring;
  size_t pos = 1;
  while (pos < size) {
    // Each piece: a length byte, then that many x 8 + 1 bytes, sometimes
    // repeated to fill the buffer.
    const size_t want = static_cast<size_t>(data[pos++]) * 8u + 1u;
    const size_t n = want < size - pos ? want : size - pos;
    const size_t repeat = (want & 0x100) ? 12 : 1;
    for (size_t r = 0; r < repeat; ++r) {
      ring.Append(data + pos, n);
      engine.Receive(data + pos, n);
      const uint8_t* f = nullptr;
      size_t len = 0;
      while (ring.NextFrame(&f, &len)) {
        if (f < ring.Base() || f + len > ring.Base() + hu::CFrameRing::kCapacity || len < 8) std::abort();
        if (sum) {
          if (f[0] != 0x24 || f[1] != 0x23 || len != static_cast<size_t>(f[4]) + 8 || f[len - 2] != 0x40 ||
              f[len - 1] != 0x24)
            std::abort();
        } else {
          const size_t field = f[4] | (f[5] << 8);
          if (f[0] != 0x21 || f[1] != 0x23 || len != (field > 7 ? field - 7 : 0) + 8 || f[len - 1] != 0x0D)
            std::abort();
        }
      }
      if (ring.ParseMark() > ring.FillMark() || ring.FillMark() > hu::CFrameRing::kCapacity) std::abort();
    }
    pos += n;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  NullTransport transport;
  const int kinds[3] = {hu::kLinkRaw, hu::kLinkFrame, hu::kLinkAc};
  hu::CStm32IapEngine engine(hu::IapServices{}, &transport, kinds[(data[0] >> 1) % 3]);
  engine.BeginStage((data[0] >> 3) % 5);
  if (data[0] & 1) {
    Run<hu::CSumFrameRing>(data, size, true, engine);
  } else {
    Run<hu::CXorFrameRing>(data, size, false, engine);
  }
  return 0;
}
