#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/frames/frame_codec.h"
#include "common/platform/sync.h"
#include "mcuflash/block_builder.h"
#include "mcuflash/image_source.h"
#include "mcuflash/mcuflash_services.h"
#include "mcuflash/retry_timer.h"
#include "mcuflash/serial_port.h"
#include "mcuflash/worker_thread.h"

namespace hu {

class EventLoop;

enum class McuProtocol {
  BlockProtocol,  // "!#" frames, 128-byte binary blocks for the STM8 loader
  LineProtocol,   // "$#" frames, one S-record line each
};

// The platform values that choose the protocol family and its line speed.
struct McuPlatform {
  int platformType = 0;
  uint32_t projectType = 18;
  std::string cpuType;
  std::string hwVersion;
  McuProtocol protocol = McuProtocol::LineProtocol;
  uint32_t baudRate = 115200;
};

// Reads CPU_TYPE, PROJECTTYPE and HW_VERSION of "SoftWare\Dravik\Os" and
// derives the family: blocks for project type 20 or an MStar CPU, lines
// otherwise, at 19200 baud when the hardware version begins with "V1".
McuPlatform ReadMcuPlatform(Registry& registry);

// Codes (wParam) of UpdateNotifyMsg.
enum : uint32_t {
  kNotifyFound = 0,
  kNotifyStarting = 1,
  kNotifySucceeded = 2,
  kNotifyFailed = 3,
  kNotifyNoImage = 4,
  kNotifyNoPort = 5,
  kNotifySendProgress = 7,
  kNotifyInitialise = 8,
  // kNotifyDecodeProgress = 9 (s19_file.h)
  kNotifyKeyReadBack = 10,
};

// The MCU's key configuration as read back (notification 10): the answer's
// first byte, the count of bytes after it and the answer's data bytes.
struct KeyReadBack {
  uint8_t first = 0;
  uint16_t count = 0;
  std::vector<uint8_t> data;
};

// One MCU update over COM4: the family's codec, block builder and image
// source, the serial port taken from the serial arbiter, a reader thread that
// parses answers and a sender thread woken by one auto-reset event, and the
// response timer on the dialog window. It reports to the dialog only through
// UpdateNotifyMsg.
class CMcuTransfer : public McuNotifier {
 public:
  static constexpr uint32_t kPortNumber = 4;
  static constexpr uint32_t kResponsePeriodMs = 1000;
  static constexpr uint32_t kResponseTicks = 3;
  static constexpr uint32_t kReadChunk = 512;
  static constexpr uint32_t kVersionWaits = 30;
  static constexpr uint32_t kVersionWaitMs = 100;
  static constexpr uint32_t kPortWaitMs = 5000;
  static constexpr uint32_t kPortRetryMs = 1000;
  static constexpr size_t kMaxReadBacks = 16;

  // `dialog` gets the notifications and owns the response timer; `loop` is
  // the dialog's event loop (its timers).
  CMcuTransfer(const McuflashServices& services, EventLoop& loop, HWND dialog);
  ~CMcuTransfer() override;
  CMcuTransfer(const CMcuTransfer&) = delete;
  CMcuTransfer& operator=(const CMcuTransfer&) = delete;

  // UI thread: family, port, threads, version, image choice. Runs once.
  void Initialise();
  // UI thread: loads the image and wakes the sender; false (notification 4)
  // when the image cannot be used.
  bool StartUpdate();
  // Ends both threads; the port stays open until destruction.
  void StopTransfer();
  // UI thread, timer 1324 of the dialog.
  void OnResponseTimer(uint32_t id);
  std::string GetImageFileName() const;
  SerialPort* PortHandle() const;

  // Port hand-over with the serial arbiter.
  bool AcquirePort(uint32_t port, uint32_t baudRate);
  void ReleasePort();
  // Terminates the first process whose program is `path` (ASCII case
  // ignored); always true.
  bool KillProcessByPath(const std::string& path);

  // The read-back record that notification 10 names by its lParam; null when
  // it was taken already.
  std::unique_ptr<KeyReadBack> TakeReadBack(int64_t id);

  // McuNotifier: posts to the dialog; a sent one goes to the foreground window.
  void Notify(uint32_t code, int64_t value, bool sync) override;

  // State, for the dialog and for tests.
  const McuPlatform& Platform() const { return m_platform; }
  TranState State() const;
  bool VersionReceived() const { return m_bVersionReceived.load(); }
  std::string Version() const;
  int LastPercent() const { return m_nLastPercent.load(); }
  uint32_t UpdateNotifyMsg() const { return m_uUpdateNotifyMsg; }
  CImageSource* ImageSource() { return m_pImageSource.get(); }
  CSerialPort* Port() { return m_pPort.get(); }

  // Names of the serial arbiter.
  static const char* const kArbiterClass;
  static const char* const kArbiterTitle;
  static const char* const kArbiterPath;

 private:
  void CreateParts();
  void SendVersionQuery();
  void WaitForVersion();
  bool PrepareImage();
  void SenderStep();
  void ReaderStep();
  void HandleResponse(const UpdateDescriptor& descriptor);
  bool BlockAnswer(const std::vector<uint8_t>& b, TranState* next);
  bool LineAnswer(const std::vector<uint8_t>& b, TranState* next);
  void PostReadBack(const std::vector<uint8_t>& b);
  void ReportProgress();
  void TraceWriteError(uint32_t error, const uint8_t* frame, size_t length);
  std::unique_ptr<CFrameCodec> MakeCodec() const;

  McuflashServices m_services;
  EventLoop& m_loop;
  HWND m_hDialog;
  uint32_t m_uUpdateNotifyMsg = 0;
  uint32_t m_uComOpMsg = 0;

  McuPlatform m_platform;
  uint8_t m_byCommand = 0;
  uint8_t m_bySubCommand = 0;
  uint32_t m_dwPort = kPortNumber;

  std::unique_ptr<CSerialPort> m_pPort;
  std::unique_ptr<CFrameCodec> m_pCodec;
  std::unique_ptr<CBlockBuilder> m_pBuilder;
  std::unique_ptr<CImageSource> m_pImageSource;
  std::unique_ptr<CWorkerThread> m_pReader;
  std::unique_ptr<CWorkerThread> m_pSender;
  std::unique_ptr<CRetryTimer> m_pTimer;
  std::unique_ptr<Event> m_pWake;

  bool m_bInitialised = false;
  bool m_bPortRequested = false;
  bool m_bStopped = false;
  std::atomic<bool> m_bStop{false};
  std::atomic<bool> m_bVersionReceived{false};
  mutable std::mutex m_versionMutex;
  std::string m_strVersion;
  uint32_t m_dwVersionWaits = 0;
  std::atomic<int> m_nLastPercent{-1};
  std::atomic<uint32_t> m_dwLastAddress{0};

  std::mutex m_readBackMutex;
  std::map<int64_t, std::unique_ptr<KeyReadBack>> m_readBacks;
  int64_t m_nNextReadBack = 1;
};

}  // namespace hu
