#include "sim/mcu/mcu_simulator.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace hu {
namespace {
constexpr uint8_t kXor0 = 0x21;  // '!'
constexpr uint8_t kSum0 = 0x24;  // '$'
constexpr uint8_t kMark1 = 0x23; // '#'
constexpr uint8_t kXorEnd = 0x0D;
constexpr uint8_t kSumEnd0 = 0x40;
constexpr uint8_t kSumEnd1 = 0x24;
// Longest "!#" frame the MCU buffers; anything longer is a damaged length.
constexpr size_t kMaxXorFrame = 1024;
constexpr size_t kMaxPending = 64 * 1024;

constexpr uint8_t kBlockCommand = 'A';
constexpr uint8_t kBlockSub = 'O';
constexpr uint8_t kRelayXorSub = 'C';
constexpr uint8_t kHeartbeatSub = 'W';
constexpr uint8_t kLineCommand = '3';
constexpr uint8_t kLineSub = 0x01;
constexpr uint8_t kRelaySumSub = 0x08;
constexpr uint8_t kLineAnswer = 0x84;
// The CAN box's text commands: "\r$Z", three characters, "\r\n".
constexpr size_t kTextCommandLength = 8;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsStm8(const std::vector<uint8_t>& d) {
  return d.size() == 5 && d[1] == 'S' && d[2] == 'T' && d[3] == 'M' && d[4] == '8';
}

// `first` followed by `rest`, built without growing (GCC warns wrongly on that).
template <typename Container>
std::vector<uint8_t> Prefixed(uint8_t first, const Container& rest) {
  std::vector<uint8_t> v(rest.size() + 1, first);
  std::copy(rest.begin(), rest.end(), v.begin() + 1);
  return v;
}

void PutFile(const std::string& path, const void* bytes, size_t n) {
  if (path.empty()) return;
  std::error_code ec;
  const std::filesystem::path p(path);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(n));
}
}  // namespace

std::vector<uint8_t> BuildXorFrame(uint8_t command, uint8_t subCommand, const std::vector<uint8_t>& data) {
  const size_t length = data.size() + 7;
  std::vector<uint8_t> f(length + 1, 0);
  f[0] = kXor0;
  f[1] = kMark1;
  f[2] = command;
  f[3] = subCommand;
  f[4] = static_cast<uint8_t>(length & 0xFF);
  f[5] = static_cast<uint8_t>((length >> 8) & 0xFF);
  std::copy(data.begin(), data.end(), f.begin() + 6);
  uint8_t check = 0;
  for (size_t i = 0; i + 2 < f.size(); ++i) check ^= f[i];
  f[length - 1] = check;
  f[length] = kXorEnd;
  return f;
}

std::vector<uint8_t> BuildSumFrame(uint8_t command, uint8_t subCommand, const std::vector<uint8_t>& data) {
  const size_t n = std::min<size_t>(data.size(), 255);
  std::vector<uint8_t> f{kSum0, kMark1, command, subCommand, static_cast<uint8_t>(n)};
  unsigned sum = command + subCommand + static_cast<unsigned>(n);
  for (size_t i = 0; i < n; ++i) {
    f.push_back(data[i]);
    sum += data[i];
  }
  f.push_back(static_cast<uint8_t>(sum & 0xFF));
  f.push_back(kSumEnd0);
  f.push_back(kSumEnd1);
  return f;
}

McuSimulator::McuSimulator(McuSimConfig config)
    : m_config(std::move(config)), m_rng(m_config.faults.seed), m_dwNotReadyLeft(m_config.notReadyStarts) {}

McuFamily McuSimulator::FamilyFor(uint32_t projectType, const std::string& cpuType) {
  return projectType == 20 || cpuType.find("MSTAR") != std::string::npos ? McuFamily::Block : McuFamily::Line;
}

void McuSimulator::SetRelayPeer(McuRelayPeer* peer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pRelay = peer;
}

void McuSimulator::SetTextRelayKind(int linkKind) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_iTextKind = linkKind == 4 || linkKind == 5 ? linkKind : 0;
}

void McuSimulator::TakeText(size_t n, std::vector<uint8_t>* out) {
  n = std::min(n, m_rx.size());
  for (size_t i = 0; i < n; ++i) {
    m_text.push_back(m_rx[i]);
    if (m_text.size() > kTextCommandLength) m_text.erase(m_text.begin());
    if (m_text.size() == kTextCommandLength && m_text[0] == '\r' && m_text[1] == '$' && m_text[2] == 'Z' &&
        m_text[6] == '\r' && m_text[7] == '\n') {
      if (m_iTextKind != 0 && m_pRelay != nullptr) {
        ++m_stats.relayedText;
        AnswerRaw(m_pRelay->OnRelay(m_iTextKind, m_text), out);
      }
      m_text.clear();
    }
  }
}

void McuSimulator::SetVersion(const std::string& version) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_config.version = version;
}

void McuSimulator::SetFaults(const McuFaults& faults) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_config.faults = faults;
  m_rng.seed(faults.seed);
}

std::vector<uint8_t> McuSimulator::Image() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_image;
}

std::vector<std::string> McuSimulator::Lines() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lines;
}

bool McuSimulator::ImageComplete() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bComplete;
}

std::vector<uint8_t> McuSimulator::Key() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_key;
}

McuSimulator::Stats McuSimulator::GetStats() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_stats;
}

std::vector<uint8_t> McuSimulator::Feed(const uint8_t* bytes, size_t n) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<uint8_t> out;
  if (bytes == nullptr || n == 0) return out;
  m_rx.insert(m_rx.end(), bytes, bytes + n);
  ParseFrames(&out);
  if (m_rx.size() > kMaxPending) m_rx.clear();
  return out;
}

McuSimulator::Probe McuSimulator::ProbeAt(size_t pos, Frame* frame, size_t* total) const {
  const uint8_t b = m_rx[pos];
  if (b == kXor0) {
    if (pos + 6 > m_rx.size()) return Probe::NeedMore;
    const size_t length = static_cast<size_t>(m_rx[pos + 4]) | (static_cast<size_t>(m_rx[pos + 5]) << 8);
    if (length < 7 || length >= kMaxXorFrame) return Probe::Bad;
    *total = length + 1;
    if (pos + *total > m_rx.size()) return Probe::NeedMore;
    uint8_t check = 0;
    for (size_t i = pos; i < pos + length - 1; ++i) check ^= m_rx[i];
    if (m_rx[pos + length] != kXorEnd || check != m_rx[pos + length - 1]) return Probe::Bad;
    frame->xorFrame = true;
    frame->data.assign(m_rx.begin() + static_cast<std::ptrdiff_t>(pos + 6),
                       m_rx.begin() + static_cast<std::ptrdiff_t>(pos + length - 1));
  } else {
    if (pos + 5 > m_rx.size()) return Probe::NeedMore;
    const size_t n = m_rx[pos + 4];
    *total = n + 8;
    if (pos + *total > m_rx.size()) return Probe::NeedMore;
    unsigned sum = m_rx[pos + 2] + m_rx[pos + 3] + static_cast<unsigned>(n);
    for (size_t i = 0; i < n; ++i) sum += m_rx[pos + 5 + i];
    if ((sum & 0xFF) != m_rx[pos + 5 + n] || m_rx[pos + 6 + n] != kSumEnd0 || m_rx[pos + 7 + n] != kSumEnd1) {
      return Probe::Bad;
    }
    frame->xorFrame = false;
    frame->data.assign(m_rx.begin() + static_cast<std::ptrdiff_t>(pos + 5),
                       m_rx.begin() + static_cast<std::ptrdiff_t>(pos + 5 + n));
  }
  frame->command = m_rx[pos + 2];
  frame->subCommand = m_rx[pos + 3];
  return Probe::Good;
}

void McuSimulator::ParseFrames(std::vector<uint8_t>* out) {
  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t pos = 0;
  size_t pending = kNone;  // the first candidate that more bytes may complete
  while (pos < m_rx.size()) {
    const uint8_t b = m_rx[pos];
    if (b != kXor0 && b != kSum0) {
      ++pos;
      continue;
    }
    if (pos + 1 >= m_rx.size()) {
      if (pending == kNone) pending = pos;
      break;
    }
    if (m_rx[pos + 1] != kMark1) {
      ++pos;
      continue;
    }
    Frame frame;
    size_t total = 0;
    const Probe probe = ProbeAt(pos, &frame, &total);
    if (probe == Probe::NeedMore) {
      // A damaged length must not hold up good frames behind it.
      if (pending == kNone) pending = pos;
      ++pos;
      continue;
    }
    if (probe == Probe::Bad) {
      // Only this marker is given up: a good frame may start inside.
      ++m_stats.badFrames;
      ++pos;
      continue;
    }
    if (pending != kNone) ++m_stats.badFrames;
    pending = kNone;
    ++m_stats.frames;
    TakeText(pos, out);
    m_text.clear();  // a text command does not run across a frame
    OnFrame(frame, out);
    m_rx.erase(m_rx.begin(), m_rx.begin() + static_cast<std::ptrdiff_t>(pos + total));
    pos = 0;
  }
  const size_t keep = pending == kNone ? m_rx.size() : pending;
  TakeText(keep, out);
  m_rx.erase(m_rx.begin(), m_rx.begin() + static_cast<std::ptrdiff_t>(keep));
}

void McuSimulator::OnFrame(const Frame& frame, std::vector<uint8_t>* out) {
  const std::vector<uint8_t>& d = frame.data;
  if (frame.xorFrame && frame.command == kBlockCommand) {
    if (frame.subCommand == kRelayXorSub || frame.subCommand == kHeartbeatSub) {
      if (frame.subCommand == kHeartbeatSub) {
        ++m_stats.heartbeatStops;
        return;
      }
      ++m_stats.relayed;
      if (m_pRelay != nullptr) AnswerRaw(m_pRelay->OnRelay(5, d), out);
      return;
    }
    if (frame.subCommand == kBlockSub && !d.empty()) {
      // The heartbeat stop and the key configuration use the block frames on
      // every platform.
      if (d.size() == 2 && d[0] == 'C' && d[1] == '1') {
        ++m_stats.heartbeatStops;
        return;
      }
      if (d[0] == 'L') {
        ++m_stats.keyWrites;
        m_key.assign(d.begin() + 1, d.end());
        WriteKeyFile();
        return;
      }
      if (d[0] == 'M' && d.size() == 1) {
        ++m_stats.keyReads;
        Answer(Prefixed('_', m_key), out);
        return;
      }
      if (m_config.family == McuFamily::Block) {
        OnBlockCommand(d, out);
        return;
      }
    }
  } else if (!frame.xorFrame && frame.command == kLineCommand) {
    if (frame.subCommand == kRelaySumSub) {
      ++m_stats.relayed;
      if (m_pRelay != nullptr) AnswerRaw(m_pRelay->OnRelay(4, d), out);
      return;
    }
    if (frame.subCommand == kLineSub && !d.empty() && m_config.family == McuFamily::Line) {
      OnLineCommand(d, out);
      return;
    }
  }
  ++m_stats.foreign;
}

void McuSimulator::OnBlockCommand(const std::vector<uint8_t>& d, std::vector<uint8_t>* out) {
  switch (d[0]) {
    case 'D': {
      if (d.size() != 1) break;
      ++m_stats.versionQueries;
      Answer(Prefixed('V', m_config.version), out);
      return;
    }
    case 'a': {
      ++m_stats.startBlocks;
      if (!IsStm8(d) || m_dwNotReadyLeft > 0) {
        if (m_dwNotReadyLeft > 0) --m_dwNotReadyLeft;
        Answer({'a', 0}, out);
        return;
      }
      m_bReceiving = true;
      m_bComplete = false;
      m_dwExpected = kImageBase;
      m_bHaveLast = false;
      m_image.clear();
      Answer({'a', 1}, out);
      return;
    }
    case 'b': {
      uint32_t address = 0;
      if (d.size() >= 5) {
        address = static_cast<uint32_t>(d[1]) | (static_cast<uint32_t>(d[2]) << 8) |
                  (static_cast<uint32_t>(d[3]) << 16) | (static_cast<uint32_t>(d[4]) << 24);
      }
      const bool whole = d.size() == 5 + kBlockBytes;
      const bool next = address == m_dwExpected;
      const bool repeat = m_bHaveLast && address == m_dwLast;
      const size_t offset = address >= kImageBase ? address - kImageBase : 0;
      bool good = m_bReceiving && whole && (next || repeat) && offset + kBlockBytes <= kMaxImage;
      if (good) {
        if (m_image.size() < offset + kBlockBytes) m_image.resize(offset + kBlockBytes, 0);
        std::copy(d.begin() + 5, d.end(), m_image.begin() + static_cast<std::ptrdiff_t>(offset));
        if (next) {
          ++m_stats.dataBlocks;
          m_dwLast = address;
          m_bHaveLast = true;
          m_dwExpected = address + kBlockBytes;
        } else {
          ++m_stats.repeatedBlocks;
        }
      } else {
        ++m_stats.rejectedBlocks;
      }
      Answer({'b', static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
              static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24),
              static_cast<uint8_t>(good ? 1 : 0)},
             out);
      return;
    }
    case 'c':
      if (!IsStm8(d) || (!m_bReceiving && !m_bComplete)) break;
      ++m_stats.endBlocks;
      m_bReceiving = false;
      m_bComplete = true;
      WriteImageFile();
      Answer({'s'}, out);
      return;
    default:
      break;
  }
  ++m_stats.foreign;
}

void McuSimulator::OnLineCommand(const std::vector<uint8_t>& d, std::vector<uint8_t>* out) {
  if (d[0] == 'D' && d.size() == 1) {
    ++m_stats.versionQueries;
    Answer(Prefixed('V', m_config.version), out);
    return;
  }
  if (d[0] != 'Y' || d.size() < 2) {
    ++m_stats.foreign;
    return;
  }
  switch (d[1]) {
    case 0x01:
      ++m_stats.startBlocks;
      if (m_dwNotReadyLeft > 0) {
        --m_dwNotReadyLeft;
        Answer({kLineAnswer, 1}, out);
        return;
      }
      m_bReceiving = true;
      m_bComplete = false;
      m_lines.clear();
      Answer({kLineAnswer, 2}, out);
      return;
    case 0x02: {
      const std::string line(d.begin() + 2, d.end());
      if (!m_bReceiving || !ValidRecordLine(line)) {
        ++m_stats.rejectedBlocks;
        Answer({kLineAnswer, 1}, out);
        return;
      }
      // A line sent again because its answer went missing is programmed once.
      if (!m_lines.empty() && m_lines.back() == line) {
        ++m_stats.repeatedBlocks;
      } else {
        ++m_stats.dataBlocks;
        m_lines.push_back(line);
      }
      Answer({kLineAnswer, 2}, out);
      return;
    }
    case 0x00:
      if (!m_bReceiving && !m_bComplete) {
        ++m_stats.foreign;
        return;
      }
      ++m_stats.endBlocks;
      m_bReceiving = false;
      m_bComplete = true;
      WriteImageFile();
      Answer({kLineAnswer, 0}, out);
      return;
    default:
      ++m_stats.foreign;
      return;
  }
}

bool McuSimulator::ValidRecordLine(const std::string& line) {
  if (line.size() < 10 || line[0] != 'S' || line[1] < '0' || line[1] > '9' || line.size() % 2 != 0) return false;
  std::vector<int> pairs;
  for (size_t i = 2; i < line.size(); i += 2) {
    const int hi = HexValue(line[i]);
    const int lo = HexValue(line[i + 1]);
    if (hi < 0 || lo < 0) return false;
    pairs.push_back(hi * 16 + lo);
  }
  const size_t count = static_cast<size_t>(pairs[0]);
  if (count + 1 != pairs.size()) return false;
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < pairs.size(); ++i) sum += static_cast<unsigned>(pairs[i]);
  return ((sum & 0xFF) ^ 0xFF) == static_cast<unsigned>(pairs.back());
}

void McuSimulator::Answer(const std::vector<uint8_t>& data, std::vector<uint8_t>* out) {
  AnswerRaw(m_config.family == McuFamily::Block ? BuildXorFrame(kBlockCommand, kBlockSub, data)
                                                : BuildSumFrame(kLineCommand, kLineSub, data),
            out);
}

void McuSimulator::AnswerRaw(std::vector<uint8_t> bytes, std::vector<uint8_t>* out) {
  SendWithFaults(m_config.faults, m_rng, [](uint8_t b) { return b == kXor0 || b == kSum0; }, std::move(bytes),
                 &m_stats, out);
}

void McuSimulator::WriteImageFile() const {
  if (m_config.imagePath.empty()) return;
  if (m_config.family == McuFamily::Block) {
    PutFile(m_config.imagePath, m_image.data(), m_image.size());
    return;
  }
  std::string text;
  for (const std::string& line : m_lines) text += line + "\r\n";
  PutFile(m_config.imagePath, text.data(), text.size());
}

void McuSimulator::WriteKeyFile() const {
  PutFile(m_config.keyPath, m_key.data(), m_key.size());
}

}  // namespace hu
