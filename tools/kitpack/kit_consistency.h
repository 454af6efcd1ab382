#pragma once
#include <string>
#include <vector>

#include "sysmend/packages/kit_layout.h"

namespace hu::kitpack {

// What the updater would read differently from what the kit's maker meant.
// Each returns one sentence per problem; none means consistent.

// A container version must be "BOOT-OS-APP": the updater takes the boot
// version as the first part less its last character, the OS version as the
// second and the application version as the last, and a missing '-' makes
// one text serve as all three.
std::vector<std::string> ContainerVersionProblems(const std::string& version, const std::vector<SectionKind>& sections);

// Boot and OS parts the updater cannot decode into hardware fields: every
// unit refuses such a section.
std::vector<std::string> ContainerVersionDecodeProblems(const std::string& version,
                                                        const std::vector<SectionKind>& sections);

// The application part of the container version against the AppVerInfo.cfg
// of the pack in its application section.
std::vector<std::string> ContainerAppVersionProblems(const std::string& version, const std::string& packVersion);

// An incremental pack is ordered by the three dotted numbers of its file
// name, each folded into one byte; its version must be such a triple and its
// file name must carry the same one.
std::vector<std::string> IncrementalVersionProblems(const std::string& version, const std::string& fileName);

}  // namespace hu::kitpack
