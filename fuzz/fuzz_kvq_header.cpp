// Container header: validation and every question asked of it.
#include <cstdint>
#include <vector>

#include "common/platform/testing/mem_files.h"
#include "fuzz/fuzz_code_page.h"
#include "sysmend/packages/kvq_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hu::MemFiles files;
  hu::FuzzCodePage codePage;
  files.PutFile("\\SDMMC\\UpdateKitM\\kit.kvq", std::vector<uint8_t>(data, data + size));
  hu::CKvqParser parser(files, codePage);
  parser.IsVaildKvrFile("\\SDMMC\\UpdateKitM\\kit.kvq");
  // The answers are asked for whether or not validation passed: the header keeps what was read.
  std::string text;
  hu::SectionRecord record;
  for (int k = 0; k < hu::kSectionKinds; ++k) parser.GetSectionInfo(static_cast<hu::SectionKind>(k), &record);
  parser.GetBootVer(&text);
  parser.GetOSVer(&text);
  parser.GetAppVer(&text);
  parser.GetKvrVer(&text);
  parser.GetConfVer(&text);
  return 0;
}
