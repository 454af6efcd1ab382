#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/platform/files.h"
#include "common/platform/registry.h"
#include "common/platform/text.h"
#include "sysmend/app/installed_versions.h"
#include "sysmend/app/pack_types.h"
#include "sysmend/packages/public_ver_checker.h"

namespace hu {

// An OS or application pack whose generation differs from the installed one.
struct UpdateCandidate {
  uint32_t generation = 0;
  std::string path;
  bool used = false;
};

struct StatusLine {
  std::string text;
  uint32_t color = 0;  // 0 black, 255 red
};

// What the check pass decided: the filled slots, how the application is to
// be installed, the verdict lines and the step strip to show.
struct UpdatePlan {
  PackSlot slots[kSlotCount];
  bool hasContainer = false;
  bool loosePack = false;
  bool directUpdate = false;
  std::vector<std::string> loosePacks;
  std::vector<UpdateCandidate> osCandidates;
  std::vector<UpdateCandidate> appCandidates;
  uint32_t kvrappCount = 0;
  std::vector<StatusLine> lines;
  int stepLayout = 4;
  int selectedStep = 0;
  enum class FormatBox { Unchanged, Ticked, Disabled } formatBox = FormatBox::Unchanged;

  bool AnySlot() const;
  bool OnlyAppSlot() const;
};

// The updater's judgement of every file found in the update folder.
class UpdateChecker {
 public:
  UpdateChecker(Files& files, CodePage& codePage, Registry& registry, InstalledVersions& installed);

  // Assigns a verdict to every found file; false when there is no list.
  bool CheckUpdatePacks(std::vector<PackInfo>* packs, bool autoMode);
  // Fills the slots, pairs generation-changing packs and composes the lines;
  // true when there is anything to install or to copy.
  bool PreparePackSlots(std::vector<PackInfo>* packs, const std::string& updatePacksPath, UpdatePlan* plan);

  // 1 when CPU_TYPE names an MStar platform, else 0.
  int GetCPUType();
  uint32_t OsGeneration(const std::string& osVersion);
  static uint32_t AppGeneration(const std::string& appVersion);

 private:
  void CheckContainer(PackInfo& info, bool autoMode);
  void FillFromContainer(const PackInfo& info, UpdatePlan* plan);
  void PairCandidates(UpdatePlan* plan);
  void ComposeVerdictLines(const std::vector<PackInfo>& packs, UpdatePlan* plan);
  uint32_t CountKvrapp(const std::string& folder);
  void ChooseSteps(UpdatePlan* plan);

  Files& files_;
  CodePage& codePage_;
  Registry& registry_;
  InstalledVersions& installed_;
  std::unique_ptr<CPublicVerChecker> m_pVerChecker;
  uint32_t m_nLocalOsGeneration = 0;
  uint32_t m_nLocalAppGeneration = 0;
  std::vector<UpdateCandidate> m_osCandidates;
  std::vector<UpdateCandidate> m_appCandidates;
  // Per container: whether only its application section is to be installed.
  std::map<std::string, bool> m_containerAppOnly;
};

// "%s %s %(ver: %s)": label, verdict text, the version in brackets.
std::string VerdictLine(const char* label, const char* verdictText, const std::string& version);

}  // namespace hu
