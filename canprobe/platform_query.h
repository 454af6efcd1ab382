#pragma once
#include <cstdint>

#include "common/platform/registry.h"

namespace hu {

// The platform questions that choose the CAN box's port and framing. It keeps
// nothing: every question reads the registry again.
class PlatformQuery {
 public:
  explicit PlatformQuery(Registry& registry) : registry_(registry) {}
  virtual ~PlatformQuery() = default;

  // Platform types 8, 9 and 12: the MStar units whose MCU speaks "!#" frames.
  virtual bool IsIapPlatform();
  virtual bool IsProjectType18();
  virtual bool IsProjectType17Or19();

  int PlatformType();
  // PROJECTTYPE, 18 when absent (as the platform type reads it).
  uint32_t ProjectType();

 private:
  Registry& registry_;
};

}  // namespace hu
