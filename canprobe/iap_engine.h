#pragma once
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "canprobe/canbox_image.h"
#include "canprobe/data_transport.h"
#include "canprobe/frame_ring.h"
#include "canprobe/stm32_record_builder.h"
#include "common/platform/files.h"
#include "common/platform/windows.h"

namespace hu {

// The services the engine uses. `windows` may be null: decoding progress
// then goes nowhere.
struct IapServices {
  Files* files = nullptr;
  Windows* windows = nullptr;
  std::string moduleDir;  // the program's folder, no trailing backslash
};

// Upgrades the CAN box through its STM32 IAP loader, driven step by step:
// the upgrade page sends a stage's bytes, polls the acknowledgement that the
// receive side sets and decides on tries and time-outs. No thread of its own.
//
// Stages: 0 enter IAP, 1 erase, 2 program (one block a call), 3 leave IAP,
// 4 erase the IAP flag. Sending runs on the page's worker thread, Receive on
// the transport's reader thread.
class CStm32IapEngine : public DataSink {
 public:
  static constexpr int kStageCount = 5;
  static constexpr uint32_t kEraseAddress = 0x08002000;
  static constexpr const char* kUpdateNotifyMsgName = "{D39CDAEE-94B6-4a7e-BE32-B0AED1161B9C}";
  static constexpr uint32_t kNotifyDecodeProgress = 9;

  // `transport` is the link's current transport (not owned); `linkKind` its kind (1, 4 or 5).
  CStm32IapEngine(const IapServices& services, DataTransport* transport, int linkKind);

  // Loads and decodes the ".canbox" file (or the first one of the program folder).
  bool Parse(const std::string& path);
  // Builds and sends the stage's bytes. Stage 2 sends the next block and
  // answers false when no image byte is left. A failed send still answers
  // true (it is traced and LastSendOk tells): its acknowledgement does not
  // come, so the page's tries and time-outs handle it like a lost record.
  bool BeginStage(int stage);
  // Sends the last bytes again; false when there are none or sending failed.
  bool Resend();
  bool LastSendOk() const { return m_bLastSendOk.load(); }
  bool BlockLeft() const { return m_nPosition.load() < m_nImageLength.load(); }
  bool Acknowledged(int stage) const;
  void ClearAcknowledged(int stage);
  // Loader address of the last program record; 0 after stage 0.
  uint32_t CurrentAddress() const { return m_nCurrentAddress.load(); }
  // Read position / image length (0 for an empty image).
  double Progress() const;
  // The same in whole percent, rounded down.
  int ProgressPercent() const;

  int Receive(const uint8_t* data, size_t length) override;

  const CCanboxImage& Image() const { return m_image; }
  int LinkKindOf() const { return m_nLinkKind; }
  int LastCommandIndex() const { return m_nLastIndex.load(); }

 private:
  bool SendLast();
  void OnAnswer(const uint8_t* answer, size_t length);
  void NotifyDecodeProgress(int percent);

  IapServices services_;
  DataTransport* transport_;
  int m_nLinkKind;
  CCanboxImage m_image;
  std::atomic<size_t> m_nPosition{0};  // the image's read position, readable from any thread
  std::atomic<size_t> m_nImageLength{0};

  std::mutex sendMutex_;  // the builder's buffer between BeginStage and Resend
  CStm32RecordBuilder m_builder;
  std::atomic<int> m_nLastIndex{0};
  std::atomic<uint32_t> m_nCurrentAddress{0};
  std::atomic<bool> m_bLastSendOk{false};

  std::unique_ptr<CFrameRing> m_ring;  // kinds 4 and 5
  std::array<std::atomic<bool>, kStageCount> m_bAck{};
};

}  // namespace hu
