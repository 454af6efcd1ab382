#include "canprobe/service_bridge.h"

namespace hu {

CServiceBridge& CServiceBridge::Get() {
  // Lives until exit, as the service may deliver until then.
  static CServiceBridge instance;
  return instance;
}

void CServiceBridge::Reset() {
  CServiceBridge& bridge = Get();
  std::lock_guard<std::mutex> lock(bridge.mutex_);
  bridge.m_items.clear();
  bridge.m_pSink = nullptr;
  bridge.m_entries = ServiceEntries();
}

void CServiceBridge::SetSink(ReceivedItemSink* sink) {
  std::lock_guard<std::mutex> lock(mutex_);
  m_pSink = sink;
}

void CServiceBridge::Start() {}

void CServiceBridge::SetEntries(const ServiceEntries& entries) {
  std::lock_guard<std::mutex> lock(mutex_);
  m_entries = entries;
}

void CServiceBridge::Send(uint8_t channel, const uint8_t* data, size_t length) {
  decltype(m_entries.send) send;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    send = m_entries.send;
  }
  if (send == nullptr || length > 0xFFFF) return;
  send(channel, static_cast<uint16_t>(length), data, kSendFlags);
}

std::vector<ReceivedItem> CServiceBridge::Items() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_items;
}

size_t CServiceBridge::ItemCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_items.size();
}

void CServiceBridge::Erase(int first, int last) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int size = static_cast<int>(m_items.size());
  if (first < 0) first = 0;
  const int end = (last < 0 || last >= size) ? size : last + 1;
  if (first >= end) return;
  m_items.erase(m_items.begin() + first, m_items.begin() + end);
}

void CServiceBridge::Deliver(uint8_t channel, uint16_t length, const uint8_t* data) {
  ReceivedItemSink* sink;
  ReceivedItem copy(channel, length, data);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    m_items.push_back(copy);
    sink = m_pSink;
  }
  if (sink != nullptr) sink->OnReceivedItem(copy);
}

}  // namespace hu
