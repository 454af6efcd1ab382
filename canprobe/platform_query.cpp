#include "canprobe/platform_query.h"

#include "common/settings/settings_store.h"

namespace hu {

int PlatformQuery::PlatformType() { return SettingsStore(registry_).GetPlatformType(); }

uint32_t PlatformQuery::ProjectType() {
  uint32_t project = 18;
  SettingsStore(registry_).GetPROJECTTYPE(project);
  return project;
}

bool PlatformQuery::IsIapPlatform() {
  const int type = PlatformType();
  return type == 8 || type == 9 || type == 12;
}

bool PlatformQuery::IsProjectType18() { return ProjectType() == 18; }

bool PlatformQuery::IsProjectType17Or19() {
  const uint32_t project = ProjectType();
  return project == 17 || project == 19;
}

}  // namespace hu
