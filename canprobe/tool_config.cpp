#include "canprobe/tool_config.h"

#include <vector>

#include "common/platform/errors.h"
#include "common/platform/trace.h"

namespace hu {
namespace {

struct DefaultRow {
  const char* key;
  const char* value;
};

// Searched in this order.
const DefaultRow kDefaults[] = {
    {"SendDataPrefix_5", "@@A150*$"},
    {"SendDataPrefix_4", "@@A140*$"},
    {"SendDataPrefix_3", "@@A130*$"},
    {"SendDataPrefix_2", "@@A120*$"},
    {"SendDataPrefix_1", "@@A110*$"},
    {"SendDataPrefix_0", "@@A100*$"},
    {"FileReplaceDes", "\\dravik\\$KVR$\\App\\Canrelay.nap"},
    {"FileReplaceSrc", "\\SDMMC\\Canprobe\\Canrelay.nap"},
    {"Show", "1"},
    {"ShowOwner", "1"},
    {"HexShow", "1"},
    {"NewLine", "0"},
};

// The store keeps C strings: anything after a zero byte is not part of them.
std::string CutAtZero(const std::string& s) {
  size_t zero = s.find('\0');
  return zero == std::string::npos ? s : s.substr(0, zero);
}

}  // namespace

CToolConfig::CToolConfig(Files& files, CodePage& codePage, const std::string& path, bool builtInDefaults)
    : files_(files), m_bDefaults(builtInDefaults) {
  // The 8-bit copy must fit its buffer with the terminating zero.
  std::string ansi = codePage.FromUtf8(path);
  if (ansi.size() < kPathBufferSize) m_path = path;
}

std::string CToolConfig::ToolCfgPath(const std::string& moduleDir) { return moduleDir + "\\tool.cfg"; }

const char* CToolConfig::BuiltInDefault(const std::string& key) {
  for (const DefaultRow& row : kDefaults) {
    if (key == row.key) return row.value;
  }
  return nullptr;
}

bool CToolConfig::Load() {
  m_entries.clear();
  if (m_path.empty()) return false;
  std::unique_ptr<File> file = files_.Open(m_path, FileAccess::Read, FileCreate::OpenExisting, FILE_SHARE_READ);
  if (!file) return false;

  std::string line;
  bool tooLong = false;
  std::vector<char> chunk(4096);
  for (;;) {
    uint32_t done = 0;
    if (!file->Read(chunk.data(), static_cast<uint32_t>(chunk.size()), &done)) {
      Trace("CToolConfig::Load ReadFile failed %u\n", GetLastError());
      break;
    }
    if (done == 0) break;
    for (uint32_t i = 0; i < done; ++i) {
      const char c = chunk[i];
      if (c != '\n') {
        // A line beyond the format is dropped whole rather than cut into a wrong value.
        if (line.size() < kMaxLine) {
          line.push_back(c);
        } else {
          tooLong = true;
        }
        continue;
      }
      if (tooLong) {
        Trace("CToolConfig::Load line longer than %u characters skipped\n", static_cast<unsigned>(kMaxLine));
      } else {
        size_t eq = line.find('=');
        if (eq != std::string::npos) {
          m_entries[CutAtZero(line.substr(0, eq))] = CutAtZero(line.substr(eq + 1));
        }
      }
      line.clear();
      tooLong = false;
    }
  }
  // Text after the last line feed is no entry.
  return true;
}

bool CToolConfig::Save() {
  if (m_path.empty()) return false;
  std::unique_ptr<File> file = files_.Open(m_path, FileAccess::Write, FileCreate::CreateAlways);
  if (!file) {
    Trace("CToolConfig::Save create %s failed %u\n", m_path.c_str(), GetLastError());
    return false;
  }
  bool ok = true;
  std::string text;
  for (const auto& entry : m_entries) {
    const size_t length = entry.first.size() + 1 + entry.second.size();
    if (length > kMaxLine || entry.first.find('\n') != std::string::npos ||
        entry.second.find('\n') != std::string::npos || entry.first.find('=') != std::string::npos) {
      Trace("CToolConfig::Save entry %s left out: not a line of the format\n", entry.first.c_str());
      ok = false;
      continue;
    }
    text += entry.first;
    text += '=';
    text += entry.second;
    text += '\n';
  }
  uint32_t done = 0;
  if (!text.empty() && (!file->Write(text.data(), static_cast<uint32_t>(text.size()), &done) || done != text.size())) {
    Trace("CToolConfig::Save write %s failed %u\n", m_path.c_str(), GetLastError());
    return false;
  }
  return ok;
}

std::optional<std::string> CToolConfig::Get(const std::string& key) const {
  auto it = m_entries.find(key);
  if (it != m_entries.end()) return it->second;
  if (m_bDefaults) {
    if (const char* value = BuiltInDefault(key)) return std::string(value);
  }
  return std::nullopt;
}

bool CToolConfig::GetBool(const std::string& key) const {
  std::optional<std::string> value = Get(key);
  return value && !value->empty() && *value != "0";
}

void CToolConfig::Set(const std::string& key, const std::optional<std::string>& value) {
  if (!value) {
    m_entries.erase(key);
    return;
  }
  m_entries[key] = *value;
}

}  // namespace hu
