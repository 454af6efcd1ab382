// Arbitrary serial input, cut into arbitrary reads, for the text frame parser
// of the raw link and for the Manager that dispatches what it finds (on every
// link kind): frames lie inside the buffer, start with "\r$", end with "\r\n"
// and are as long as their length character says; the kept vehicle type
// never exceeds its 19 characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "canprobe/link_center.h"
#include "canprobe/manager.h"
#include "canprobe/text_frame_parser.h"
#include "common/platform/testing/fake_sync.h"
#include "common/platform/testing/manual_clock.h"
#include "common/platform/testing/mem_files.h"
#include "common/platform/testing/mem_registry.h"
#include "common/platform/testing/passthrough_code_page.h"

namespace {

class Exposed : public hu::CTextFrameParser {
 public:
  const uint8_t* Base() const { return m_buf.data(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  hu::ManualClock clock;
  hu::FakeSync sync(clock);
  hu::MemRegistry registry;
  hu::MemFiles files;
  hu::PassthroughCodePage codePage;
  hu::CanLinkServices services;
  services.sync = &sync;
  services.clock = &clock;
  services.registry = &registry;
  services.files = &files;
  services.codePage = &codePage;
  hu::LinkCenter center(services);
  const int kinds[3] = {hu::kLinkRaw, hu::kLinkFrame, hu::kLinkAc};
  center.SetTransport(nullptr, kinds[data[0] % 3]);
  hu::Manager* manager = center.GetManager();

  Exposed parser;
  size_t pos = 1;
  while (pos < size) {
    const size_t want = static_cast<size_t>(data[pos++]) * 8u + 1u;
    const size_t n = want < size - pos ? want : size - pos;
    const size_t repeat = (want & 0x100) ? 12 : 1;
    for (size_t r = 0; r < repeat; ++r) {
      parser.Append(data + pos, n);
      manager->Receive(data + pos, n);
      const uint8_t* f = nullptr;
      size_t len = 0;
      while (parser.NextFrame(&f, &len)) {
        if (f < parser.Base() || f + len > parser.Base() + hu::CFrameRing::kCapacity || len < 4) std::abort();
        if (f[0] != '\r' || f[1] != '$' || f[len - 2] != '\r' || f[len - 1] != '\n') std::abort();
        if (static_cast<int>(len) != static_cast<int>(f[3]) - 41) std::abort();
      }
      if (parser.ParseMark() > parser.FillMark() || parser.FillMark() > hu::CFrameRing::kCapacity) std::abort();
    }
    pos += n;
  }
  if (manager->CarType().size() > 19) std::abort();
  if (manager->Version().size() > 4) std::abort();
  hu::Manager::BuildDate(manager->CarType());
  return 0;
}
