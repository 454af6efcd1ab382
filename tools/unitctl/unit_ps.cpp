#include "tools/unitctl/unit_ps.h"

#include <cstdio>
#include <memory>

#include "common/platform/host/process_table.h"
#include "common/platform/host/unit.h"

namespace hu {

bool ListUnitProcesses(const std::string& unitDir, std::ostream& out, std::string* error) {
  std::unique_ptr<Unit> unit = Unit::Load(unitDir, error);
  if (!unit) return false;
  ProcessTable table(unit->runDir());
  char line[128];
  std::snprintf(line, sizeof line, "%-5s %-8s %-24s %s\n", "PID", "HOST", "STARTED", "PATH");
  out << line;
  for (const ProcessRecord& r : table.List(true)) {
    std::string host = r.IsVirtual() ? "virtual" : std::to_string(r.hostPid);
    std::snprintf(line, sizeof line, "%-5u %-8s %-24s ", r.pid, host.c_str(),
                  r.started.empty() ? "-" : r.started.c_str());
    out << line << r.path << "\n";
  }
  out.flush();
  return true;
}

}  // namespace hu
