#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "common/platform/serial.h"
#include "common/platform/windows.h"
#include "mcuflash/retry_timer.h"

namespace hu {

class EventLoop;
struct KeyReadBack;

// Codes (wParam) of KeyNotifyMsg.
enum : uint32_t {
  kKeyNotifyFound = 0,
  kKeyNotifySucceeded = 1,
  kKeyNotifyNoFile = 2,
  kKeyNotifyFailed = 3,
  kKeyNotifyWriting = 4,
};

// One key-configuration run: finds the ".key" file beside the program, writes
// its configuration to the MCU over the borrowed port and judges the MCU's
// read-back. Reports to its dialog with KeyNotifyMsg. UI thread only.
class CKeyUpdater {
 public:
  static constexpr uint64_t kHeaderSize = 1032;  // skipped unread
  static constexpr uint64_t kMinFileSize = 1032;
  static constexpr uint64_t kMaxFileSize = 1288;
  // 'L' and up to 256 key bytes: the largest accepted file fits whole.
  static constexpr size_t kKeyDataSize = 1 + (kMaxFileSize - kHeaderSize);
  static constexpr size_t kCompareBytes = 119;
  static constexpr uint32_t kWritePauseMs = 300;
  static constexpr uint32_t kAnswerPeriodMs = 300;
  static constexpr uint32_t kAnswerTicks = 10;

  CKeyUpdater(Files& files, Clock& clock, Windows& windows, EventLoop& loop, HWND dialog, SerialPort* port,
              std::string modulePath);
  ~CKeyUpdater();
  CKeyUpdater(const CKeyUpdater&) = delete;
  CKeyUpdater& operator=(const CKeyUpdater&) = delete;

  // Looks for the key file and reads it (notification 0 and/or 2).
  void Run();
  // Writes the key configuration and asks for it back (notification 4, or 3).
  void Start();
  // Timer 1324 of the dialog.
  void OnTimer(uint32_t id);
  // The MCU's read-back (notification 10 of the main dialog).
  void CompareReadBack(const KeyReadBack& record);
  void KillTimer() { m_timer.Cancel(); }

  bool Found() const { return m_bFound; }
  bool Valid() const { return m_bValid; }
  const std::string& KeyFileName() const { return m_strKeyFileName; }
  const std::string& KeyFilePath() const { return m_strKeyFilePath; }
  uint64_t KeyFileSize() const { return m_qwKeyFileSize; }
  // 0 none yet, 1 read-back equal, 2 read-back different.
  int Result() const { return m_nResult; }
  const std::array<uint8_t, kKeyDataSize>& KeyData() const { return m_keyData; }
  // Bytes of the write frame's data: 'L' and the key configuration.
  size_t FrameDataLength() const { return m_bValid ? static_cast<size_t>(m_qwKeyFileSize - kHeaderSize + 1) : 0; }


 private:
  void Post(uint32_t code);
  bool ReadKeyFile();
  bool WriteFrame(uint8_t command, uint8_t subCommand, size_t n, const uint8_t* data);

  Files& m_files;
  Clock& m_clock;
  Windows& m_windows;
  HWND m_hDialog;
  SerialPort* m_hPort;
  std::string m_strModulePath;
  uint32_t m_uKeyNotifyMsg = 0;
  bool m_bFound = false;
  bool m_bValid = false;
  std::string m_strKeyFileName;
  std::string m_strKeyFilePath;
  uint64_t m_qwKeyFileSize = 0;
  std::array<uint8_t, kKeyDataSize> m_keyData{};
  int m_nResult = 0;
  CRetryTimer m_timer;
};

}  // namespace hu
