#pragma once
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace hu::kitpack {

// The unit a dry run judges the kits for: an existing unit folder, or one
// described by its platform values and installed versions.
struct CheckTarget {
  std::string unitDir;  // empty: a described unit
  std::string cpu = "S3C6410";
  uint32_t project = 18;
  std::optional<std::string> osVersion, bootVersion, confVersion, appVersion;
};

struct CheckOptions {
  std::vector<std::string> kits;  // host files that stand in for the update folder
  bool autoMode = false;
  std::string modulePath = "\\StorageCard\\Sysmend\\Sysmend.exe";
  bool traceToStderr = false;
};

// Runs the updater's own search, verdicts, generation pairing and slot fill
// on the kits as the unit would see them in its update folder, and prints
// the verdict lines and the plan (images written, application install,
// ending). Nothing is written to the unit. 0 when something would be
// installed, 4 when nothing, 1 when the unit cannot be read.
int CheckKits(const CheckTarget& target, const CheckOptions& options, std::ostream& out, std::ostream& err);

// The same for every platform type of the platform table on a described
// unit: one line a platform type.
int CheckKitsOnAllPlatforms(const CheckTarget& target, const CheckOptions& options, std::ostream& out,
                            std::ostream& err);

}  // namespace hu::kitpack
