#pragma once
#include <map>
#include <string>
#include <vector>

#include "common/platform/text.h"
#include "sysmend/packages/kit_layout.h"

namespace hu::kitpack {

// One member to be written: from a host file or from bytes made here.
struct MemberSource {
  std::string name;      // device path, UTF-8 ("\kit\sub\x.dll")
  std::string hostPath;  // empty when `bytes` is the content
  std::string bytes;
};

struct GroupSource {
  std::string name;  // "\kit\sub\"
  std::vector<MemberSource> members;
};

// The longest pack version text; the installed copy is read back in 260 bytes.
constexpr size_t kMaxAppVersionUnits = 129;

// The groups of a pack made from the files below srcDir: one group per folder
// that holds files, the version file (and for an incremental pack the pack
// information file) first in "\kit\". Warnings go to `warnings`.
bool CollectKitTree(const std::string& srcDir, const std::string& version, bool incremental,
                    std::vector<GroupSource>* groups, std::vector<std::string>* warnings, std::string* error);

// Writes a pack archive: index names in the code page, gzip bodies. On
// failure `outPath` is removed again.
bool WritePack(const std::string& outPath, const std::vector<GroupSource>& groups, CodePage& codePage,
               std::string* error);

// Writes a container: header, then the given section files in letter order.
bool WriteContainer(const std::string& outPath, const std::string& version,
                    const std::map<SectionKind, std::string>& sectionFiles, std::string* error);

// The version file's content: UTF-16LE with a byte-order mark.
std::string AppVerInfoBytes(const std::string& version);

}  // namespace hu::kitpack
