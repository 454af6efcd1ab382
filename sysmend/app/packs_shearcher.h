#pragma once
#include <memory>
#include <string>
#include <vector>

#include "common/platform/files.h"
#include "common/platform/text.h"
#include "sysmend/app/pack_types.h"

namespace hu {

// Lists the update folder and classifies each file it finds.
class CPacksShearcher {
 public:
  CPacksShearcher(Files& files, CodePage& codePage) : files_(files), codePage_(codePage) {}

  bool ShearchPacksInfoVec(const std::string& folder);

  // Null until a search ran.
  std::vector<PackInfo>* m_pPackInfoVec() { return m_packInfoVec.get(); }

  // Kind of one file by its name (and, for "auk", its content); false when skipped.
  bool Classify(const std::string& path, uint32_t* kind);

 private:
  Files& files_;
  CodePage& codePage_;
  std::unique_ptr<std::vector<PackInfo>> m_packInfoVec;
};

// Slot-fill rule: the first valid file of a kind takes the slot, later valid
// ones are marked as ignored (16); a file with a verdict never fills a slot.
void FillSlotFromPack(Files& files, PackSlot& slot, PackInfo& info);

// Size of a file, 0 when it cannot be opened.
uint32_t FileSizeOf(Files& files, const std::string& path);

// The file title: the name without its folder and its extension (the text
// after the last '.'), so "1.1.1.aukinc" is "1.1.1".
std::string FileTitleOf(const std::string& path);
// A logo's title: the name up to the first '.' after the last backslash.
std::string LogoTitleOf(const std::string& path);

}  // namespace hu
