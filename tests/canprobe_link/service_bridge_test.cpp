#include "canprobe/service_bridge.h"

#include <gtest/gtest.h>

#include <vector>

namespace hu {
namespace {

class Recorder : public ReceivedItemSink {
 public:
  void OnReceivedItem(const ReceivedItem& item) override { items.push_back(item); }
  std::vector<ReceivedItem> items;
};

int gSendFlags = 0;
std::vector<uint8_t> gSent;
int RecordSend(uint8_t channel, uint16_t length, const uint8_t* data, int flags) {
  gSent.assign(data, data + length);
  gSent.insert(gSent.begin(), channel);
  gSendFlags = flags;
  return 0;
}

TEST(ServiceBridge, KeepsCopiesInOrderErasesByPositionAndSendsOnlyToAService) {
  CServiceBridge::Reset();
  CServiceBridge& bridge = CServiceBridge::Get();
  Recorder sink;
  bridge.SetSink(&sink);
  bridge.Start();
  uint8_t data[3] = {1, 2, 3};
  for (uint8_t ch = 0; ch < 5; ++ch) bridge.Deliver(ch, 3, data);
  data[0] = 9;
  bridge.Deliver(7, 0, nullptr);
  ASSERT_EQ(sink.items.size(), 6u);
  std::vector<ReceivedItem> items = bridge.Items();
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[0].data, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_TRUE(items[5].data.empty());
  bridge.Erase(1, 2);
  ASSERT_EQ(bridge.ItemCount(), 4u);
  EXPECT_EQ(bridge.Items()[1].channel, 3);
  bridge.Erase(0, -1);
  EXPECT_EQ(bridge.ItemCount(), 0u);

  gSent.clear();
  bridge.Send(2, data, 2);  // no service: dropped
  EXPECT_TRUE(gSent.empty());
  ServiceEntries entries;
  entries.send = &RecordSend;
  bridge.SetEntries(entries);
  bridge.Send(2, data, 2);
  EXPECT_EQ(gSent, (std::vector<uint8_t>{2, 9, 2}));
  EXPECT_EQ(gSendFlags, 68);
  CServiceBridge::Reset();
}

}  // namespace
}  // namespace hu
