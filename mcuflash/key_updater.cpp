#include "mcuflash/key_updater.h"

#include <utility>

#include "common/frames/xor_frame_codec.h"
#include "common/platform/errors.h"
#include "common/platform/trace.h"
#include "mcuflash/mcu_transfer.h"

namespace hu {
namespace {
constexpr uint8_t kCommand = 'A';
constexpr uint8_t kSubCommand = 'O';
constexpr uint8_t kWriteKey = 'L';
constexpr uint8_t kReadKey = 'M';
}  // namespace

CKeyUpdater::CKeyUpdater(Files& files, Clock& clock, Windows& windows, EventLoop& loop, HWND dialog,
                         SerialPort* port, std::string modulePath)
    : m_files(files),
      m_clock(clock),
      m_windows(windows),
      m_hDialog(dialog),
      m_hPort(port),
      m_strModulePath(std::move(modulePath)),
      m_timer(loop, dialog) {
  m_uKeyNotifyMsg = m_windows.RegisterWindowMessage(kKeyNotifyMsgName);
}

CKeyUpdater::~CKeyUpdater() {
  m_timer.Cancel();
}

void CKeyUpdater::Post(uint32_t code) {
  if (m_hDialog != 0) m_windows.PostMessage(m_hDialog, m_uKeyNotifyMsg, code, 0);
}

void CKeyUpdater::Run() {
  const size_t slash = m_strModulePath.rfind('\\');
  const std::string dir = slash == std::string::npos ? std::string() : m_strModulePath.substr(0, slash + 1);
  FindData entry;
  std::unique_ptr<FindHandle> find = m_files.FindFirst(dir + "*.key", &entry);
  while (find && (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    if (!find->Next(&entry)) find.reset();
  }
  if (!find) {
    Trace("CKeyUpdater::Run no *.key in %s\n", dir.c_str());
    Post(kKeyNotifyNoFile);
    return;
  }
  m_bFound = true;
  m_strKeyFileName = entry.name;
  m_strKeyFilePath = dir + entry.name;
  Post(kKeyNotifyFound);
  m_keyData.fill(0);
  m_keyData[0] = kWriteKey;
  m_bValid = ReadKeyFile();
  if (!m_bValid) Post(kKeyNotifyNoFile);
}

bool CKeyUpdater::ReadKeyFile() {
  std::unique_ptr<File> file = m_files.Open(m_strKeyFilePath, FileAccess::Read, FileCreate::OpenExisting, 0);
  if (!file) {
    // Nothing read is nothing to send: the file counts as damaged.
    Trace("CKeyUpdater::ReadKeyFile CreateFile %s failed, err = %u\n", m_strKeyFilePath.c_str(), GetLastError());
    return false;
  }
  m_qwKeyFileSize = file->Size();
  if (m_qwKeyFileSize > kMaxFileSize || m_qwKeyFileSize < kMinFileSize) {
    Trace("CKeyUpdater::ReadKeyFile %s size %llu refused\n", m_strKeyFileName.c_str(),
          static_cast<unsigned long long>(m_qwKeyFileSize));
    return false;
  }
  const size_t want = static_cast<size_t>(m_qwKeyFileSize - kHeaderSize);
  if (!file->Seek(static_cast<int64_t>(kHeaderSize), SeekFrom::Begin)) {
    Trace("CKeyUpdater::ReadKeyFile seek failed, err = %u\n", GetLastError());
    return false;
  }
  size_t total = 0;
  while (total < want) {
    uint32_t done = 0;
    if (!file->Read(m_keyData.data() + 1 + total, static_cast<uint32_t>(want - total), &done) || done == 0) {
      Trace("CKeyUpdater::ReadKeyFile ReadFile failed, err = %u\n", GetLastError());
      return false;
    }
    total += done;
  }
  return true;
}

bool CKeyUpdater::WriteFrame(uint8_t command, uint8_t subCommand, size_t n, const uint8_t* data) {
  CXorFrameCodec codec;
  if (!codec.BuildFrame(command, subCommand, n, data)) return false;
  uint32_t done = 0;
  const uint32_t length = static_cast<uint32_t>(codec.FrameLength());
  if (!m_hPort->Write(codec.FrameBytes(), length, &done) || done != length) {
    Trace("CKeyUpdater::Start WriteFile failed, err = %u\n", GetLastError());
    return false;
  }
  return true;
}

void CKeyUpdater::Start() {
  m_nResult = 0;
  Post(kKeyNotifyWriting);
  if (!m_bValid) {
    Post(kKeyNotifyNoFile);
    return;
  }
  if (m_hPort == nullptr || !WriteFrame(kCommand, kSubCommand, FrameDataLength(), m_keyData.data())) {
    Post(kKeyNotifyFailed);
    return;
  }
  m_clock.Sleep(kWritePauseMs);
  const uint8_t request = kReadKey;
  WriteFrame(kCommand, kSubCommand, 1, &request);
  m_timer.Arm(kAnswerPeriodMs, kAnswerTicks);
}

void CKeyUpdater::OnTimer(uint32_t id) {
  if (id != m_timer.Id()) return;
  const CRetryTimer::TickResult tick = m_timer.Tick(id);
  if (tick == CRetryTimer::TickResult::Stale) return;
  // An answer that came in before the last tick still counts.
  if (m_nResult != 0) {
    m_timer.Cancel();
    Post(m_nResult == 1 ? kKeyNotifySucceeded : kKeyNotifyFailed);
    return;
  }
  if (tick == CRetryTimer::TickResult::Exhausted) {
    Trace("CKeyUpdater::OnTimer no read-back\n");
    Post(kKeyNotifyFailed);
  }
}

void CKeyUpdater::CompareReadBack(const KeyReadBack& record) {
  // The copy starts with '_'; an answer shorter than the compared span counts
  // as zeros there, like the zero filling after a short configuration.
  bool equal = true;
  for (size_t i = 1; i <= kCompareBytes; ++i) {
    const uint8_t got = i < record.data.size() ? record.data[i] : 0;
    if (got != m_keyData[i]) {
      equal = false;
      break;
    }
  }
  m_nResult = equal ? 1 : 2;
  Trace("CKeyUpdater::CompareReadBack %s\n", equal ? "equal" : "different");
}

}  // namespace hu
