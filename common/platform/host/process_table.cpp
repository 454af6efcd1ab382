#include "common/platform/host/process_table.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "common/platform/host/run_records.h"

namespace hu {
namespace {

constexpr uint64_t kFirstPid = 100;
constexpr const char* kSuffix = ".proc";

}  // namespace

ProcessTable::ProcessTable(const std::string& runDir) : dir_(runDir + "/processes") {}

std::string ProcessTable::EntryPath(uint32_t pid) const { return dir_ + "/" + std::to_string(pid) + kSuffix; }

uint32_t ProcessTable::AllocatePid() {
  if (!MakeRunDirs(dir_)) return 0;
  uint64_t pid = 0;
  if (!NextRunCounter(dir_ + "/next_pid", kFirstPid, 1, UINT32_MAX, &pid)) return 0;
  return static_cast<uint32_t>(pid);
}

bool ProcessTable::Write(const ProcessRecord& record) {
  if (record.pid == 0 || !MakeRunDirs(dir_)) return false;
  RunRecord r;
  r["pid"] = std::to_string(record.pid);
  r["path"] = record.path;
  r["host"] = record.IsVirtual() ? "virtual" : std::to_string(record.hostPid);
  r["host_start"] = std::to_string(record.hostStart);
  r["parent"] = std::to_string(record.parent);
  r["started"] = record.started;
  return WriteRunRecord(EntryPath(record.pid), r);
}

bool ProcessTable::Read(uint32_t pid, ProcessRecord* record) const {
  RunRecord r;
  if (!ReadRunRecord(EntryPath(pid), &r)) return false;
  ProcessRecord out;
  uint64_t n = 0;
  if (!ParseRunNumber(r["pid"], UINT32_MAX, &n) || n != pid) return false;
  out.pid = pid;
  out.path = r["path"];
  if (out.path.empty()) return false;
  if (r["host"] != "virtual") {
    if (!ParseRunNumber(r["host"], INT_MAX, &n) || n == 0) return false;
    out.hostPid = static_cast<int>(n);
  }
  if (ParseRunNumber(r["host_start"], UINT64_MAX, &n)) out.hostStart = n;
  if (ParseRunNumber(r["parent"], UINT32_MAX, &n)) out.parent = static_cast<uint32_t>(n);
  out.started = r["started"];
  if (record != nullptr) *record = std::move(out);
  return true;
}

bool ProcessTable::Remove(uint32_t pid) { return ::unlink(EntryPath(pid).c_str()) == 0; }

bool ProcessTable::IsLive(const ProcessRecord& record) {
  return record.IsVirtual() || HostProcessAlive(record.hostPid, record.hostStart);
}

std::vector<ProcessRecord> ProcessTable::List(bool dropDead) {
  std::vector<ProcessRecord> out;
  DIR* d = ::opendir(dir_.c_str());
  if (d == nullptr) return out;
  while (struct dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    const size_t suffix = std::char_traits<char>::length(kSuffix);
    if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kSuffix) != 0) continue;
    uint64_t pid = 0;
    if (!ParseRunNumber(name.substr(0, name.size() - suffix), UINT32_MAX, &pid) || pid == 0) continue;
    ProcessRecord record;
    if (!Read(static_cast<uint32_t>(pid), &record)) continue;
    if (dropDead && !IsLive(record)) {
      Remove(record.pid);
      continue;
    }
    out.push_back(std::move(record));
  }
  ::closedir(d);
  std::sort(out.begin(), out.end(), [](const ProcessRecord& a, const ProcessRecord& b) { return a.pid < b.pid; });
  return out;
}

}  // namespace hu
