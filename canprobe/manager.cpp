#include "canprobe/manager.h"

#include <cstdio>
#include <cstring>

#include "canprobe/link_center.h"
#include "canprobe/text_frame_parser.h"
#include "common/platform/trace.h"

namespace hu {

const uint8_t Manager::kRequestForm1[8] = {'\r', '$', 'Z', '2', 'N', '0', '\r', '\n'};
const uint8_t Manager::kRequestForm0[8] = {'\r', '$', 'Z', '2', '2', '0', '\r', '\n'};
const uint8_t Manager::kLoaderCommand[8] = {'\r', '$', 'Z', '2', 'B', '0', '\r', '\n'};
const uint8_t Manager::kLoaderCommand1[8] = {'\r', '$', 'Z', '2', 'B', '1', '\r', '\n'};
const uint8_t Manager::kSetCarIdCommand[8] = {'\r', '$', 'Z', '2', 'C', '0', '\r', '\n'};

namespace {
const uint8_t kCarTypeMark[5] = {'\r', '$', 'Z', ';', 'V'};
}  // namespace

Manager::Manager(LinkCenter& center) : center_(center) {}

Manager::~Manager() = default;

DataTransport* Manager::OpenTransport() {
  DataTransport* transport = center_.GetTransport();
  if (transport != nullptr && transport->GetState() != DataTransport::kOpened) {
    // The sink first, so that nothing read right after opening is lost.
    transport->SetSink(this);
    transport->Open();
  }
  return transport;
}

void Manager::EnsureOpen() { OpenTransport(); }

bool Manager::RequestCarType(int form) {
  {
    std::lock_guard<std::mutex> lock(carTypeMutex_);
    m_carType.fill(0);
  }
  DataTransport* transport = OpenTransport();
  if (transport == nullptr) return false;
  const uint8_t* command = form == 1 ? kRequestForm1 : kRequestForm0;
  return transport->Send(command, sizeof kRequestForm1);
}

bool Manager::Send(const uint8_t* text, size_t length) {
  DataTransport* transport = center_.GetTransport();
  if (transport == nullptr || transport->GetState() != DataTransport::kOpened) return false;
  return transport->Send(text, length);
}

bool Manager::SendLoaderCommand() { return Send(kLoaderCommand, sizeof kLoaderCommand); }
bool Manager::SendLoaderCommand1() { return Send(kLoaderCommand1, sizeof kLoaderCommand1); }

bool Manager::SetCarId(int id) {
  uint8_t command[8];
  std::memcpy(command, kSetCarIdCommand, sizeof command);
  command[5] = static_cast<uint8_t>(('0' + id) & 0xFF);
  return Send(command, sizeof command);
}

std::string Manager::CarType() const {
  std::lock_guard<std::mutex> lock(carTypeMutex_);
  return std::string(m_carType.data());
}

std::string Manager::Version() {
  std::lock_guard<std::mutex> lock(carTypeMutex_);
  const size_t length = std::strlen(m_carType.data());
  const size_t from = length > 4 ? length - 4 : 0;
  m_version.fill(0);
  std::memcpy(m_version.data(), m_carType.data() + from, length - from);
  return std::string(m_version.data());
}

std::optional<std::string> Manager::Description(const std::string& type) {
  std::lock_guard<std::mutex> lock(descriptionMutex_);
  if (!m_pDescriptions) {
    const CanLinkServices& services = center_.Services();
    if (services.files == nullptr || services.codePage == nullptr) return std::nullopt;
    m_pDescriptions = std::make_unique<CToolConfig>(*services.files, *services.codePage,
                                                    services.moduleDir + "\\" + kDescriptionFile, false);
    m_pDescriptions->Load();
  }
  return m_pDescriptions->Get(type);
}

std::string Manager::BuildDate(const std::string& type) {
  // The type is a zero-terminated text: nothing after a zero byte counts.
  const std::string t(type.c_str());
  if (t.size() < 2) return "0000-00-00";
  // Characters counted from 1; beyond the end they read as zero.
  auto at = [&t](size_t position) -> char { return position <= t.size() ? t[position - 1] : '\0'; };
  char date[20];
  if (at(2) != 'Z') {
    std::snprintf(date, sizeof date, "20%c%c-%c%c-%c%c", at(2), at(3), at(4), at(5), at(6), at(7));
    // A zero character ends the text there, as it does on the device.
    return std::string(date);
  }
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 0;
  };
  std::snprintf(date, sizeof date, "20%02d-%02d-%02d", digit(at(3)), digit(at(4)), digit(at(5)));
  return date;
}

void Manager::ParserAscCmd(uint8_t letter, const uint8_t* data, int n) {
  if (letter != 'Z' || n <= 4 || data == nullptr) return;
  const size_t keep = static_cast<size_t>(n) < kCarTypeSize - 1 ? static_cast<size_t>(n) : kCarTypeSize - 1;
  std::string shown;
  {
    std::lock_guard<std::mutex> lock(carTypeMutex_);
    m_carType.fill(0);
    std::memcpy(m_carType.data(), data, keep);
    shown = m_carType.data();
  }
  Trace("Manager::ParserAscCmd Z m_carType:%s \r\n", shown.c_str());
  if (CarTypeReplyTarget* target = m_pNotifyTarget.load()) target->OnCarTypeReply();
}

void Manager::Dispatch(const uint8_t* frame, size_t length) {
  if (m_nParserKind == kLinkRaw) {
    // "\r$", letter, '0' + n, n data bytes, one byte, "\r\n".
    ParserAscCmd(frame[2], frame + 4, static_cast<int>(frame[3]) - '0');
    return;
  }
  const uint8_t command = m_nParserKind == kLinkFrame ? 68 : 66;
  if (frame[2] != command || length < 16) return;
  for (size_t i = 0; i + 16 <= length; ++i) {
    if (std::memcmp(frame + i, kCarTypeMark, sizeof kCarTypeMark) == 0) {
      ParserAscCmd('Z', frame + i + 4, ';' - '0');
    }
  }
}

void Manager::DetachNotifyTarget(CarTypeReplyTarget* target) {
  // Replies are handed over while receiveMutex_ is held.
  std::lock_guard<std::mutex> lock(receiveMutex_);
  CarTypeReplyTarget* expected = target;
  m_pNotifyTarget.compare_exchange_strong(expected, nullptr);
}

int Manager::Receive(const uint8_t* data, size_t length) {
  if (data == nullptr || length == 0) return 0;
  std::lock_guard<std::mutex> lock(receiveMutex_);
  const int kind = center_.GetKind();
  // A link of another kind needs another parser: the old one's bytes are of no use to it.
  if (!m_pParser || kind != m_nParserKind) {
    m_pParser.reset();
    m_nParserKind = kind;
    if (kind == kLinkRaw) {
      m_pParser = std::make_unique<CTextFrameParser>();
    } else if (kind == kLinkFrame) {
      m_pParser = std::make_unique<CSumFrameRing>();
    } else if (kind == kLinkAc) {
      m_pParser = std::make_unique<CXorFrameRing>();
    }
  }
  if (!m_pParser) return 0;
  size_t offset = 0;
  while (offset < length) {
    const size_t taken = m_pParser->Append(data + offset, length - offset);
    offset += taken;
    const uint8_t* frame = nullptr;
    size_t frameLength = 0;
    while (m_pParser->NextFrame(&frame, &frameLength)) Dispatch(frame, frameLength);
    if (taken == 0) break;
  }
  return static_cast<int>(offset);
}

}  // namespace hu
