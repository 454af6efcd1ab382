#pragma once
#include <map>
#include <string>

#include "common/platform/text.h"
#include "sysmend/packages/kit_layout.h"
#include "tools/kitpack/s19_writer.h"

namespace hu::kitpack {

// The commands that write a file. Each writes through SafeOutput, reads what
// it wrote back with the reader that will use it, and only then replaces the
// target; exit codes 0 done, 1 failed or refused. `force` builds a kit that
// the consistency checks refuse, with a warning for each problem.
int BuildPack(const std::string& out, const std::string& src, const std::string& version, bool incremental,
              bool force, CodePage& codePage);
int BuildContainer(const std::string& out, const std::string& version,
                   const std::map<SectionKind, std::string>& files, bool force, CodePage& codePage);
int BuildCanbox(const std::string& out, const std::string& imagePath);
int BuildS19(const std::string& imagePath, const std::string& out, McuFamily family);
// Writes KIT.sig, the detached Ed25519 signature of the kit.
int SignKitFile(const std::string& kit, const std::string& keyPath, const std::string& sigPath);

// A one-line failure on standard error naming the file; 1.
int Fail(const std::string& file, const std::string& why);

}  // namespace hu::kitpack
