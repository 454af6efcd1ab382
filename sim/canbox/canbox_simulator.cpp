#include "sim/canbox/canbox_simulator.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace hu {
namespace {

constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kLf = 0x0A;
constexpr uint8_t kDollar = 0x24;
constexpr uint8_t kHeaderSeed = 0x8C;
const char kBannerHead[] = "\r$STM32-IAP";  // then '0' or '1', "\r\n"
constexpr size_t kBannerLength = 14;
constexpr size_t kTextCommandLength = 8;

size_t PayloadLengthOf(uint8_t command) {
  switch (command) {
    case 'A': return 64;
    case 'B': return 128;
    case 'D': return 4;
    default: return 0;
  }
}

void MakeParent(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path p(path);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
}

}  // namespace

CanBoxSimulator::CanBoxSimulator(CanBoxSimConfig config) : m_config(std::move(config)), m_rng(m_config.faults.seed) {
  if (m_config.type.empty() || m_config.type.size() > 19) m_config.type = CanBoxSimConfig().type;
  LoadFiles();
}

std::vector<uint8_t> CanBoxSimulator::TypeReply(const std::string& type) {
  std::vector<uint8_t> reply;
  reply.reserve(type.size() + 7);
  reply.push_back(kCr);
  reply.push_back(kDollar);
  reply.push_back('Z');
  reply.push_back(static_cast<uint8_t>('0' + type.size()));
  for (char c : type) reply.push_back(static_cast<uint8_t>(c));
  // The tool reads the frame by its length and does not examine this byte.
  uint8_t check = 0;
  for (size_t i = 2; i < reply.size(); ++i) check ^= reply[i];
  reply.push_back(check);
  reply.push_back(kCr);
  reply.push_back(kLf);
  return reply;
}

std::vector<uint8_t> CanBoxSimulator::Feed(const uint8_t* bytes, size_t n) {
  std::vector<uint8_t> out;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (bytes != nullptr && n > 0) m_rx.insert(m_rx.end(), bytes, bytes + n);
  Process(&out);
  // A stream that never forms a command must not grow without end.
  if (m_rx.size() > kMaxPending) m_rx.erase(m_rx.begin(), m_rx.end() - static_cast<std::ptrdiff_t>(kMaxPending / 2));
  return out;
}

void CanBoxSimulator::Process(std::vector<uint8_t>* out) {
  size_t pos = 0;
  while (pos < m_rx.size()) {
    if (m_rx[pos] != kCr) {
      ++pos;
      continue;
    }
    if (pos + 3 > m_rx.size()) break;  // "\r$" and the command letter first
    if (m_rx[pos + 1] != kDollar) {
      ++pos;
      continue;
    }
    const uint8_t c = m_rx[pos + 2];
    if (c == 'Z') {
      if (pos + kTextCommandLength > m_rx.size()) break;
      if (m_rx[pos + 6] != kCr || m_rx[pos + 7] != kLf) {
        ++pos;
        continue;
      }
      OnTextCommand(m_rx[pos + 3], m_rx[pos + 4], m_rx[pos + 5], out);
      pos += kTextCommandLength;
    } else if (c == 'S') {
      if (pos + kBannerLength > m_rx.size()) break;
      if (std::memcmp(m_rx.data() + pos, kBannerHead, sizeof kBannerHead - 1) != 0 || m_rx[pos + 12] != kCr ||
          m_rx[pos + 13] != kLf) {
        ++pos;
        continue;
      }
      OnBanner(m_rx[pos + 11], out);
      pos += kBannerLength;
    } else if (c == 'A' || c == 'B' || c == 'D') {
      size_t consumed = 0;
      Record record;
      const Parse result = ParseRecord(pos, &consumed, &record);
      if (result == Parse::NeedMore) break;
      if (result == Parse::Bad) {
        ++m_stats.badRecords;
        if (m_mode == Mode::Iap) AnswerError(out);
        ++pos;
        continue;
      }
      OnRecord(record, out);
      pos += consumed;
    } else {
      ++pos;
    }
  }
  m_rx.erase(m_rx.begin(), m_rx.begin() + static_cast<std::ptrdiff_t>(std::min(pos, m_rx.size())));
}

CanBoxSimulator::Parse CanBoxSimulator::ParseRecord(size_t start, size_t* consumed, Record* record) const {
  size_t pos = start + 2;
  // One byte of the record, undoing the doubling of 0x0D.
  auto next = [this, &pos](uint8_t* value) -> Parse {
    if (pos >= m_rx.size()) return Parse::NeedMore;
    if (m_rx[pos] != kCr) {
      *value = m_rx[pos++];
      return Parse::Done;
    }
    if (pos + 1 >= m_rx.size()) return Parse::NeedMore;
    if (m_rx[pos + 1] != kCr) return Parse::Bad;  // a single 0x0D inside a record
    *value = kCr;
    pos += 2;
    return Parse::Done;
  };

  uint8_t header[8];
  for (uint8_t& b : header) {
    const Parse p = next(&b);
    if (p != Parse::Done) return p;
  }
  uint8_t headerCheck = kHeaderSeed ^ kCr ^ kDollar;
  for (int i = 0; i < 7; ++i) headerCheck ^= header[i];
  if (headerCheck != header[7]) return Parse::Bad;
  const size_t length = static_cast<size_t>(header[5]) << 8 | header[6];
  if (length != PayloadLengthOf(header[0])) return Parse::Bad;

  record->command = header[0];
  record->address = static_cast<uint32_t>(header[1]) << 24 | static_cast<uint32_t>(header[2]) << 16 |
                    static_cast<uint32_t>(header[3]) << 8 | header[4];
  record->payload.resize(length);
  uint8_t check = 0;
  for (uint8_t b : header) check ^= b;
  for (uint8_t& b : record->payload) {
    const Parse p = next(&b);
    if (p != Parse::Done) return p;
    check ^= b;
  }
  uint8_t given = 0;
  const Parse p = next(&given);
  if (p != Parse::Done) return p;
  if (pos + 2 > m_rx.size()) return Parse::NeedMore;
  if (m_rx[pos] != kCr || m_rx[pos + 1] != kLf) return Parse::Bad;
  if (given != check) return Parse::Bad;
  *consumed = pos + 2 - start;
  return Parse::Done;
}

void CanBoxSimulator::OnTextCommand(uint8_t a, uint8_t b, uint8_t c, std::vector<uint8_t>* out) {
  if (a != '2') {
    ++m_stats.ignored;
    return;
  }
  if ((b == 'N' || b == '2') && c == '0') {
    ++m_stats.typeRequests;
    // The loader does not run the application's command set.
    if (m_mode == Mode::Iap) {
      ++m_stats.ignored;
      return;
    }
    Answer(TypeReply(m_config.type), out);
    return;
  }
  if (b == 'B') {
    ++m_stats.loaderCommands;
    if (c == '0' && m_mode == Mode::App) m_mode = Mode::Loader;
    if (c == '1' && m_mode == Mode::Loader) m_mode = Mode::App;
    return;
  }
  if (b == 'C') {
    ++m_stats.carIdSets;
    m_nVehicleId = static_cast<uint8_t>(c - '0');
    WriteIni();
    return;
  }
  ++m_stats.ignored;
}

void CanBoxSimulator::OnBanner(uint8_t digit, std::vector<uint8_t>* out) {
  ++m_stats.banners;
  if (digit == '0' && (m_mode == Mode::Loader || m_mode == Mode::Iap)) {
    m_mode = Mode::Iap;
    m_bErased = false;
    AnswerOk(out);
    return;
  }
  if (digit == '1' && (m_mode == Mode::Loader || m_mode == Mode::Iap)) {
    m_mode = Mode::App;
    AnswerOk(out);
    return;
  }
  ++m_stats.ignored;
}

void CanBoxSimulator::OnRecord(const Record& record, std::vector<uint8_t>* out) {
  if (m_mode != Mode::Iap) {
    ++m_stats.ignored;
    return;
  }
  switch (record.command) {
    case 'A':
      if (record.address != kFlashBase) break;
      ++m_stats.erases;
      m_image.clear();
      m_bErased = true;
      TruncateImageFile();
      AnswerOk(out);
      return;
    case 'B': {
      if (!m_bErased || record.address < kFlashBase) break;
      const size_t offset = record.address - kFlashBase;
      if (offset + record.payload.size() > kMaxImage) break;
      if (m_image.size() < offset + record.payload.size()) m_image.resize(offset + record.payload.size(), 0xFF);
      std::copy(record.payload.begin(), record.payload.end(), m_image.begin() + static_cast<std::ptrdiff_t>(offset));
      WriteImageBytes(offset, record.payload.data(), record.payload.size());
      ++m_stats.programs;
      AnswerOk(out);
      return;
    }
    case 'D':
      if (record.address != kFlashBase) break;
      ++m_stats.leaves;
      AnswerOk(out);
      return;
    default:
      break;
  }
  ++m_stats.badRecords;
  AnswerError(out);
}

void CanBoxSimulator::Answer(std::vector<uint8_t> bytes, std::vector<uint8_t>* out) {
  SendWithFaults(m_config.faults, m_rng,
                 [](uint8_t b) { return b == kCr || b == kDollar || b == '!' || b == 'O'; }, std::move(bytes),
                 &m_stats, out);
}

bool CanBoxSimulator::SetType(const std::string& type) {
  if (type.empty() || type.size() > 19) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_config.type = type;
  return true;
}

void CanBoxSimulator::SetFaults(const CanBoxFaults& faults) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_config.faults = faults;
  m_rng.seed(faults.seed);
}

std::string CanBoxSimulator::Type() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_config.type;
}

int CanBoxSimulator::VehicleId() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_nVehicleId;
}

CanBoxSimulator::Mode CanBoxSimulator::GetMode() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_mode;
}

std::vector<uint8_t> CanBoxSimulator::Image() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_image;
}

CanBoxSimulator::Stats CanBoxSimulator::GetStats() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_stats;
}

void CanBoxSimulator::LoadFiles() {
  if (!m_config.imagePath.empty()) {
    std::ifstream in(m_config.imagePath, std::ios::binary);
    if (in) {
      m_image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (m_image.size() > kMaxImage) m_image.resize(kMaxImage);
    }
  }
  if (!m_config.iniPath.empty()) {
    std::ifstream in(m_config.iniPath);
    std::string line;
    while (std::getline(in, line)) {
      const std::string key = "VehicleId=";
      if (line.compare(0, key.size(), key) == 0) {
        try {
          const int id = std::stoi(line.substr(key.size()));
          if (id >= 0 && id <= 255) m_nVehicleId = id;
        } catch (...) {
        }
      }
    }
  }
}

void CanBoxSimulator::WriteIni() const {
  if (m_config.iniPath.empty()) return;
  MakeParent(m_config.iniPath);
  std::ofstream out(m_config.iniPath, std::ios::trunc);
  out << "[canbox]\nVehicleId=" << m_nVehicleId << "\n";
}

void CanBoxSimulator::TruncateImageFile() const {
  if (m_config.imagePath.empty()) return;
  MakeParent(m_config.imagePath);
  std::ofstream out(m_config.imagePath, std::ios::binary | std::ios::trunc);
}

void CanBoxSimulator::WriteImageBytes(size_t offset, const uint8_t* bytes, size_t n) const {
  if (m_config.imagePath.empty()) return;
  MakeParent(m_config.imagePath);
  std::fstream file(m_config.imagePath, std::ios::binary | std::ios::in | std::ios::out);
  if (!file) {
    std::ofstream create(m_config.imagePath, std::ios::binary);
    create.close();
    file.open(m_config.imagePath, std::ios::binary | std::ios::in | std::ios::out);
    if (!file) return;
  }
  file.seekg(0, std::ios::end);
  const auto size = static_cast<size_t>(file.tellg());
  // A gap before the record reads as erased flash.
  if (size < offset) {
    file.seekp(static_cast<std::streamoff>(size));
    const std::string fill(offset - size, '\xFF');
    file.write(fill.data(), static_cast<std::streamsize>(fill.size()));
  }
  file.seekp(static_cast<std::streamoff>(offset));
  file.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(n));
}

}  // namespace hu
