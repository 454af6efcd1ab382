#include "canprobe/iap_engine.h"

#include "canprobe/com_frame_transport.h"
#include "common/platform/trace.h"

namespace hu {

CStm32IapEngine::CStm32IapEngine(const IapServices& services, DataTransport* transport, int linkKind)
    : services_(services), transport_(transport), m_nLinkKind(linkKind) {
  if (linkKind == kLinkFrame) {
    m_ring = std::make_unique<CSumFrameRing>();
  } else if (linkKind == kLinkAc) {
    m_ring = std::make_unique<CXorFrameRing>();
  }
  for (auto& ack : m_bAck) ack.store(false);
}

void CStm32IapEngine::NotifyDecodeProgress(int percent) {
  Windows* windows = services_.windows;
  if (windows == nullptr) return;
  const uint32_t message = windows->RegisterWindowMessage(kUpdateNotifyMsgName);
  const HWND target = windows->GetForegroundWindow();
  if (message == 0 || target == 0) return;
  LRESULT result = 0;
  windows->SendMessage(target, message, kNotifyDecodeProgress, percent, 5000, &result);
}

bool CStm32IapEngine::Parse(const std::string& path) {
  m_nPosition.store(0);
  m_nImageLength.store(0);
  if (services_.files == nullptr) return false;
  const bool ok = m_image.Load(*services_.files, path, services_.moduleDir,
                               [this](int percent) { NotifyDecodeProgress(percent); });
  if (!ok) return false;
  m_nImageLength.store(m_image.Length());
  return true;
}

bool CStm32IapEngine::SendLast() {
  if (transport_ == nullptr || m_builder.Length() == 0) return false;
  const uint8_t* bytes = m_builder.Bytes();
  const size_t length = m_builder.Length();
  // A "$#" frame carries at most 255 bytes; the loader reads one byte stream.
  if (m_nLinkKind == kLinkFrame) {
    for (size_t offset = 0; offset < length; offset += ComFrameTransport::kMaxData) {
      const size_t n = length - offset < ComFrameTransport::kMaxData ? length - offset : ComFrameTransport::kMaxData;
      if (!transport_->Send(bytes + offset, n)) return false;
    }
    return true;
  }
  return transport_->Send(bytes, length);
}

bool CStm32IapEngine::BeginStage(int stage) {
  std::lock_guard<std::mutex> lock(sendMutex_);
  const int index = stage + 1;
  bool built = false;
  switch (stage) {
    case 0:
      m_nCurrentAddress.store(0);
      built = m_builder.Build(index);
      break;
    case 1:
      built = m_builder.Build(index, kEraseAddress);
      break;
    case 2: {
      uint8_t block[CCanboxImage::kBlockSize] = {};
      const uint32_t address = m_image.BlockAddress();
      const size_t n = m_image.ReadBlock(block, sizeof block);
      m_nPosition.store(m_image.Position());
      if (n == 0) return false;
      m_nCurrentAddress.store(address);
      built = m_builder.Build(index, address, block, n);
      break;
    }
    case 3:
      built = m_builder.Build(index, kEraseAddress);
      break;
    case 4:
      built = m_builder.Build(index);
      break;
    default:
      Trace("CStm32IapEngine::BeginStage unknown stage %d\n", stage);
      return false;
  }
  m_nLastIndex.store(index);
  if (!built) return false;
  const bool sent = SendLast();
  m_bLastSendOk.store(sent);
  if (!sent) Trace("CStm32IapEngine::BeginStage %d send failed\n", stage);
  return true;
}

bool CStm32IapEngine::Resend() {
  std::lock_guard<std::mutex> lock(sendMutex_);
  const bool sent = SendLast();
  m_bLastSendOk.store(sent);
  return sent;
}

bool CStm32IapEngine::Acknowledged(int stage) const {
  return stage >= 0 && stage < kStageCount && m_bAck[static_cast<size_t>(stage)].load();
}

void CStm32IapEngine::ClearAcknowledged(int stage) {
  if (stage >= 0 && stage < kStageCount) m_bAck[static_cast<size_t>(stage)].store(false);
}

double CStm32IapEngine::Progress() const {
  const size_t length = m_nImageLength.load();
  if (length == 0) return 0.0;
  return static_cast<double>(m_nPosition.load()) / static_cast<double>(length);
}

int CStm32IapEngine::ProgressPercent() const {
  const size_t length = m_nImageLength.load();
  if (length == 0) return 0;
  return static_cast<int>(static_cast<uint64_t>(m_nPosition.load()) * 100 / length);
}

void CStm32IapEngine::OnAnswer(const uint8_t* answer, size_t length) {
  switch (m_nLastIndex.load()) {
    case CStm32RecordBuilder::kEnterIap:
      m_bAck[0].store(true);
      break;
    case CStm32RecordBuilder::kErase:
    case CStm32RecordBuilder::kProgram:
    case CStm32RecordBuilder::kLeaveIap:
      if (length > 0 && answer[0] == 'O') m_bAck[static_cast<size_t>(m_nLastIndex.load() - 1)].store(true);
      break;
    case CStm32RecordBuilder::kEraseFlag:
      if (length > 0) m_bAck[4].store(true);
      break;
    default:
      break;
  }
}

int CStm32IapEngine::Receive(const uint8_t* data, size_t length) {
  if (data == nullptr || length == 0) return 0;
  if (m_nLinkKind == kLinkRaw) {
    OnAnswer(data, length);
    return static_cast<int>(length);
  }
  if (!m_ring) return 0;
  size_t offset = 0;
  int answers = 0;
  // More than the ring holds arrives in parts, each searched before the next.
  while (offset < length) {
    const size_t taken = m_ring->Append(data + offset, length - offset);
    offset += taken;
    const uint8_t* frame = nullptr;
    size_t frameLength = 0;
    while (m_ring->NextFrame(&frame, &frameLength)) {
      if (m_nLinkKind == kLinkFrame) {
        if (frame[2] != 0x44) continue;
        const size_t n = frame[4];
        OnAnswer(frame + 5, n);
      } else {
        if (frame[2] != 0x42) continue;
        const size_t field = frame[4] | (frame[5] << 8);
        const size_t n = field > 7 ? field - 7 : 0;
        OnAnswer(frame + 6, n);
      }
      ++answers;
    }
    if (taken == 0) break;  // no room: the rest is dropped
  }
  return answers;
}

}  // namespace hu
