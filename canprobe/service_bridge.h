#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "canprobe/received_item.h"

namespace hu {

// Gets each item the service delivers (the receive page).
class ReceivedItemSink {
 public:
  virtual ~ReceivedItemSink() = default;
  virtual void OnReceivedItem(const ReceivedItem& item) = 0;
};

// The entry points of a CAN service library. This system loads none; a
// supplied service fills them in.
struct ServiceEntries {
  int (*start)() = nullptr;
  int (*send)(uint8_t channel, uint16_t length, const uint8_t* data, int flags) = nullptr;
  int (*stop)() = nullptr;
};

// The channel through which the receive page gets its data: items arrive by
// Deliver (from any thread) and are kept in arrival order.
class CServiceBridge {
 public:
  static constexpr int kSendFlags = 68;

  // The process-wide instance, created on first call.
  static CServiceBridge& Get();
  // Drops the instance's items, sink and entries (between tests).
  static void Reset();

  void SetSink(ReceivedItemSink* sink);
  // Loads nothing: the service library stays absent, so only Deliver fills the list.
  void Start();
  // Hands the data to the service's send entry when there is one; else drops it.
  void Send(uint8_t channel, const uint8_t* data, size_t length);
  // A copy of the list, in arrival order.
  std::vector<ReceivedItem> Items() const;
  size_t ItemCount() const;
  // Erases the items at positions first..last (last -1: to the end).
  void Erase(int first, int last);
  // The receive entry of the service: keeps a copy and tells the sink.
  void Deliver(uint8_t channel, uint16_t length, const uint8_t* data);

  void SetEntries(const ServiceEntries& entries);

 private:
  CServiceBridge() = default;

  mutable std::mutex mutex_;
  ReceivedItemSink* m_pSink = nullptr;
  ServiceEntries m_entries;
  std::vector<ReceivedItem> m_items;
};

}  // namespace hu
