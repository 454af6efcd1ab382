// Pack archive: index parsing, extraction to a bounded in-memory disk and
// single members into memory.
#include <cstdint>
#include <vector>

#include "common/platform/testing/manual_clock.h"
#include "common/platform/testing/mem_files.h"
#include "fuzz/fuzz_code_page.h"
#include "sysmend/packages/auk_unzip.h"
#include "sysmend/packages/incremental_packs.h"
#include "sysmend/packages/pack_unzip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr char kPack[] = "\\SDMMC\\UpdateKitM\\app.auk";
  hu::MemFiles files;
  hu::FuzzCodePage codePage;
  hu::ManualClock clock;
  files.PutFile(kPack, std::vector<uint8_t>(data, data + size));
  // Inflation bombs end at the quota instead of exhausting memory.
  files.SetQuota(files.UsedBytes() + (4u << 20));

  hu::CPackUnzip unzip(files, codePage, kPack);
  unzip.CheckZipPack();
  if (unzip.OpenZipPack()) {
    std::vector<uint8_t> buffer(4096);
    // A copy: every UnZipFile reads the index again and rebuilds the groups.
    const std::vector<hu::PackGroup> groups = unzip.Groups();
    for (const auto& group : groups) {
      for (const auto& member : group.members) {
        uint32_t length = static_cast<uint32_t>(buffer.size());
        unzip.UnZipFile(member.name, buffer.data(), &length);
      }
    }
  }
  unzip.DoUnzipPack("\\Storage\\Tmp");
  hu::ReadPackAppVer(files, codePage, kPack);
  hu::ReadPackType(files, codePage, kPack);
  hu::ExtractIncrementalPacks(files, codePage, {kPack}, "\\Storage\\Inc");
  hu::CAukUnzip auk(files, clock, codePage);
  auk.Unzip(kPack, "\\Storage\\Auk");
  return 0;
}
