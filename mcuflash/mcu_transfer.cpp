#include "mcuflash/mcu_transfer.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "common/frames/sum_frame_codec.h"
#include "common/frames/xor_frame_codec.h"
#include "common/platform/errors.h"
#include "common/platform/text.h"
#include "common/platform/trace.h"
#include "common/settings/settings_store.h"
#include "common/ui/event_loop.h"
#include "mcuflash/config_file.h"

namespace hu {

const char* const kUpdateNotifyMsgName = "{D39CDAEE-94B6-4a7e-BE32-B0AED1161B9C}";
const char* const kKeyNotifyMsgName = "{32539884-8BDA-4d95-87B4-8FB74801D870}";
const char* const kMcuComOpMsgName = "WM_MCU_COM_OP";

const char* const CMcuTransfer::kArbiterClass = "SERIAL_WINDOW_CLASS_NAME";
const char* const CMcuTransfer::kArbiterTitle = "SERIAL_WINDOW_NAME";
const char* const CMcuTransfer::kArbiterPath = "\\dravik\\$KVR$\\App\\Portmaster.exe";

namespace {
constexpr uint32_t kBaudFast = 115200;
constexpr uint32_t kBaudSlow = 19200;
constexpr size_t kMaxCpuType = 259;
constexpr size_t kMaxHwVersion = 16;
constexpr int kPlatformWithTwoSizes = 8;
// WM_MCU_COM_OP: wParam 4 names the MCU port; lParam 0 asks for it, 1 returns it.
constexpr WPARAM kComOpPort = 4;
constexpr LPARAM kComOpRelease = 0;
constexpr LPARAM kComOpReturn = 1;
// The sent decoding progress must not hang the updater on a window that does not answer.
constexpr uint32_t kSendTimeoutMs = 1000;
constexpr uint32_t kStopPauseMs = 300;
constexpr uint32_t kReaderRetryMs = 10;

const char* StateName(TranState state) {
  switch (state) {
    case eTranState_Start: return "Start";
    case eTranState_Data: return "Data";
    case eTranState_Repeat: return "Repeat";
    case eTranState_End: return "End";
    case eTranState_Stop: return "Stop";
  }
  return "?";
}
}  // namespace

McuPlatform ReadMcuPlatform(Registry& registry) {
  McuPlatform p;
  SettingsStore store(registry);
  p.platformType = store.GetPlatformType();
  uint32_t project = 18;
  store.GetPROJECTTYPE(project);
  p.projectType = project;
  std::string cpu;
  store.GetCPU_TYPE(cpu);
  if (cpu.size() > kMaxCpuType) cpu.resize(kMaxCpuType);
  p.cpuType = cpu;
  if (project == 20 || cpu.find("MSTAR") != std::string::npos) {
    p.protocol = McuProtocol::BlockProtocol;
    p.baudRate = kBaudFast;
    return p;
  }
  p.protocol = McuProtocol::LineProtocol;
  std::string hw;
  store.GetHW_VERSION(hw);
  if (hw.size() > kMaxHwVersion) hw.resize(kMaxHwVersion);
  p.hwVersion = hw;
  p.baudRate = hw.size() >= 2 && hw[0] == 'V' && hw[1] == '1' ? kBaudSlow : kBaudFast;
  return p;
}

CMcuTransfer::CMcuTransfer(const McuflashServices& services, EventLoop& loop, HWND dialog)
    : m_services(services), m_loop(loop), m_hDialog(dialog) {
  m_uUpdateNotifyMsg = m_services.windows.RegisterWindowMessage(kUpdateNotifyMsgName);
  m_uComOpMsg = m_services.windows.RegisterWindowMessage(kMcuComOpMsgName);
}

CMcuTransfer::~CMcuTransfer() {
  StopTransfer();
  m_pCodec.reset();
  if (m_pPort) m_pPort->ClosePort();
  m_pPort.reset();
  if (m_bPortRequested) ReleasePort();
  m_pReader.reset();
  m_pSender.reset();
  m_pBuilder.reset();
  m_pImageSource.reset();
  if (m_pTimer) m_pTimer->Cancel();
  m_pTimer.reset();
  m_pWake.reset();
}

std::unique_ptr<CFrameCodec> CMcuTransfer::MakeCodec() const {
  if (m_platform.protocol == McuProtocol::BlockProtocol) return std::make_unique<CXorFrameCodec>();
  return std::make_unique<CSumFrameCodec>();
}

void CMcuTransfer::CreateParts() {
  m_platform = ReadMcuPlatform(m_services.registry);
  if (m_platform.protocol == McuProtocol::BlockProtocol) {
    m_byCommand = 'A';
    m_bySubCommand = 'O';
    m_pBuilder = std::make_unique<CStm8BlockBuilder>();
    m_pImageSource = std::make_unique<CStm8ImageSource>(m_services.files, m_services.modulePath,
                                                        m_platform.platformType, this);
  } else {
    m_byCommand = '3';
    m_bySubCommand = 0x01;
    m_pBuilder = std::make_unique<CLineBlockBuilder>();
    m_pImageSource = std::make_unique<CLineImageSource>(m_services.files, m_services.modulePath);
  }
  m_pCodec = MakeCodec();
  m_pPort = std::make_unique<CSerialPort>(m_services.serial);
  m_pWake = m_services.sync.CreateEvent(false, false);
  m_pReader = std::make_unique<CWorkerThread>("reader", [this] { ReaderStep(); });
  m_pSender = std::make_unique<CWorkerThread>("sender", [this] { SenderStep(); });
  m_pTimer = std::make_unique<CRetryTimer>(m_loop, m_hDialog);
  m_bStop.store(false);
}

void CMcuTransfer::Initialise() {
  if (m_bInitialised) return;
  m_bInitialised = true;
  CreateParts();
  Trace("CMcuTransfer::Initialise platform %d project %u cpu [%s] %s protocol, %u baud\n",
        m_platform.platformType, m_platform.projectType, m_platform.cpuType.c_str(),
        m_platform.protocol == McuProtocol::BlockProtocol ? "block" : "line", m_platform.baudRate);
  if (!m_pWake) {
    Trace("CMcuTransfer::Initialise CreateEvent failed\n");
    Notify(kNotifyNoPort, 0, false);
    return;
  }
  if (!AcquirePort(m_dwPort, m_platform.baudRate)) {
    const uint32_t error = m_pPort->OpenPort(m_dwPort, m_platform.baudRate);
    if (error != 0) {
      Trace("CMcuTransfer::Initialise OpenPort COM%u failed, err = %u\n", m_dwPort, error);
      Notify(kNotifyNoPort, 0, false);
      return;
    }
  }
  if (!m_pReader->Start() || !m_pSender->Start()) {
    Trace("CMcuTransfer::Initialise threads not started\n");
    Notify(kNotifyNoPort, 0, false);
    return;
  }
  m_pReader->Resume();
  m_pSender->Resume();
  SendVersionQuery();
  if (m_platform.platformType == kPlatformWithTwoSizes) WaitForVersion();
  Notify(PrepareImage() ? kNotifyFound : kNotifyNoImage, 0, false);
}

void CMcuTransfer::SendVersionQuery() {
  // A codec of its own: the sender's send buffer belongs to the sender thread.
  std::unique_ptr<CFrameCodec> codec = MakeCodec();
  const uint8_t query = 'D';
  if (!codec->BuildFrame(m_byCommand, m_bySubCommand, 1, &query)) return;
  m_pPort->WritePort(codec->FrameBytes(), static_cast<uint32_t>(codec->FrameLength()));
}

void CMcuTransfer::WaitForVersion() {
  // The count belongs to the program's life: the wait never exceeds 3 s in all.
  while (m_dwVersionWaits < kVersionWaits) {
    m_services.clock.Sleep(kVersionWaitMs);
    ++m_dwVersionWaits;
    if (m_bVersionReceived.load()) break;
  }
  if (m_bVersionReceived.load()) {
    m_pImageSource->SetVersion(Version());
  } else {
    Trace("CMcuTransfer::Initialise no MCU version\n");
    Notify(kNotifyFailed, 0, false);
  }
}

bool CMcuTransfer::PrepareImage() {
  if (m_platform.platformType == kPlatformWithTwoSizes && m_pImageSource->Version().empty()) {
    // Without a version the size cannot be judged: keep to the remembered
    // choice instead of overwriting it with one derived from nothing.
    int sizeCode = -1;
    if (ReadFlagFile(m_services.files, m_services.modulePath, &sizeCode) != 0) sizeCode = -1;
    Trace("CMcuTransfer::Initialise no MCU version, image size code %d\n", sizeCode);
    return m_pImageSource->Reader().Select(true, sizeCode);
  }
  return m_pImageSource->Prepare();
}

bool CMcuTransfer::StartUpdate() {
  if (!m_pImageSource || !m_pPort || !m_pPort->IsOpen() || !m_pSender || !m_pSender->Started()) {
    Trace("CMcuTransfer::StartUpdate the link is not ready\n");
    Notify(kNotifyNoImage, 0, false);
    return false;
  }
  if (m_pImageSource->Open() != 0) {
    Notify(kNotifyNoImage, 0, false);
    return false;
  }
  m_pImageSource->Begin();
  // Posted before the sender runs: an MCU that answers at once must not have
  // its result overtaken by the "updating" notice.
  Notify(kNotifyStarting, 0, false);
  m_pWake->Set();
  return true;
}

void CMcuTransfer::StopTransfer() {
  if (m_bStopped) return;
  m_bStopped = true;
  m_bStop.store(true);
  if (m_pReader) m_pReader->RequestStop();
  if (m_pSender) {
    m_pSender->RequestStop();
    if (m_pWake) m_pWake->Set();
    m_pSender->Stop([this] {
      if (m_pWake) m_pWake->Set();
    });
  }
  if (m_pPort) m_pPort->SetCommMask(0);
  if (m_pReader) {
    m_pReader->Stop([this] {
      if (m_pPort) m_pPort->SetCommMask(0);
    });
  }
}

void CMcuTransfer::OnResponseTimer(uint32_t id) {
  if (!m_pTimer || !m_pImageSource) return;
  const CRetryTimer::TickResult result = m_pTimer->Tick(id);
  if (result == CRetryTimer::TickResult::Stale) return;
  if (m_pImageSource->GetState() == eTranState_Stop) {
    // The exchange ended while the tick was on its way.
    m_pTimer->Cancel();
    return;
  }
  if (result == CRetryTimer::TickResult::Retry) {
    m_pImageSource->SetState(eTranState_Repeat);
    m_pWake->Set();
    return;
  }
  const bool done = m_platform.protocol == McuProtocol::LineProtocol && m_nLastPercent.load() == 100;
  Trace("CMcuTransfer::OnResponseTimer no answer, %s\n", done ? "all sent" : "update failed");
  Notify(done ? kNotifySucceeded : kNotifyFailed, 0, false);
  m_pImageSource->SetState(eTranState_Stop);
}

std::string CMcuTransfer::GetImageFileName() const {
  return m_pImageSource ? m_pImageSource->FileName() : std::string();
}

SerialPort* CMcuTransfer::PortHandle() const {
  return m_pPort ? m_pPort->PortHandle() : nullptr;
}

TranState CMcuTransfer::State() const {
  return m_pImageSource ? m_pImageSource->GetState() : eTranState_Stop;
}

std::string CMcuTransfer::Version() const {
  std::lock_guard<std::mutex> lock(m_versionMutex);
  return m_strVersion;
}

bool CMcuTransfer::AcquirePort(uint32_t port, uint32_t baudRate) {
  if (!m_pPort) m_pPort = std::make_unique<CSerialPort>(m_services.serial);
  Windows& windows = m_services.windows;
  m_bPortRequested = true;
  const HWND arbiter = windows.FindWindow(kArbiterClass, kArbiterTitle);
  if (arbiter != 0 && !windows.PostMessage(arbiter, m_uComOpMsg, kComOpPort, kComOpRelease)) {
    Trace("CMcuTransfer::AcquirePort PostMessage failed, err = %u\n", GetLastError());
  }
  uint32_t waited = 0;
  while (m_pPort->OpenPort(port, baudRate) != 0) {
    if (waited > kPortWaitMs) {
      Trace("CMcuTransfer::AcquirePort COM%u still busy after %u ms\n", port, waited);
      KillProcessByPath(kArbiterPath);
      return false;
    }
    m_services.clock.Sleep(kPortRetryMs);
    waited += kPortRetryMs;
  }
  return true;
}

void CMcuTransfer::ReleasePort() {
  Windows& windows = m_services.windows;
  const HWND arbiter = windows.FindWindow(kArbiterClass, kArbiterTitle);
  if (arbiter != 0) windows.PostMessage(arbiter, m_uComOpMsg, kComOpPort, kComOpReturn);
}

bool CMcuTransfer::KillProcessByPath(const std::string& path) {
  for (const ProcessEntry& entry : m_services.processes.Snapshot()) {
    if (!EqualsNoCase(entry.exePath, path)) continue;
    if (!m_services.processes.TerminateProcess(entry.pid, 0)) {
      Trace("CMcuTransfer::KillProcessByPath TerminateProcess %s failed, err = %u\n", path.c_str(),
            GetLastError());
    }
    break;
  }
  return true;
}

void CMcuTransfer::Notify(uint32_t code, int64_t value, bool sync) {
  Windows& windows = m_services.windows;
  if (sync) {
    const HWND target = windows.GetForegroundWindow();
    LRESULT result = 0;
    if (target != 0) windows.SendMessage(target, m_uUpdateNotifyMsg, code, value, kSendTimeoutMs, &result);
    return;
  }
  if (m_hDialog != 0 && !windows.PostMessage(m_hDialog, m_uUpdateNotifyMsg, code, value)) {
    Trace("CMcuTransfer::Notify %u not posted, err = %u\n", code, GetLastError());
  }
}

void CMcuTransfer::SenderStep() {
  m_pWake->Wait(INFINITE);
  if (m_bStop.load()) return;
  TranState state = m_pImageSource->GetState();
  switch (state) {
    case eTranState_Start:
      m_pBuilder->BuildStart();
      break;
    case eTranState_Data: {
      const uint32_t address = m_pImageSource->BlockAddress();
      uint8_t block[CImageSource::kBlockSize] = {};
      const size_t n = m_pImageSource->ReadBlock(block, sizeof block);
      m_dwLastAddress.store(address);
      if (n > 0) {
        m_pBuilder->BuildData(address, block, n);
        break;
      }
      m_pImageSource->SetState(eTranState_End);
      state = eTranState_End;
      m_pBuilder->BuildEnd();
      break;
    }
    case eTranState_Repeat:
      Trace("----------------------Repeat, %d\n", static_cast<int>(m_services.clock.GetTickCount()));
      break;
    case eTranState_End:
      m_pBuilder->BuildEnd();
      break;
    case eTranState_Stop:
      Trace("--------------------------eTranState_Stop\n");
      m_services.clock.Sleep(kStopPauseMs);
      return;
  }
  if (!m_pCodec->BuildFrame(m_byCommand, m_bySubCommand, m_pBuilder->Length(), m_pBuilder->Buffer())) {
    Trace("CMcuTransfer::SenderStep no frame for state %s\n", StateName(state));
    return;
  }
  // Armed before the frame leaves, so that an answer can never come before
  // the timer it cancels. Repeats the timer asked for keep counting towards
  // the same limit; a repeat the MCU asked for (its answer ended the timer)
  // is timed afresh, or a lost answer to it would be waited for for ever.
  if (state != eTranState_Repeat || !m_pTimer->IsArmed()) m_pTimer->Arm(kResponsePeriodMs, kResponseTicks);
  const uint32_t length = static_cast<uint32_t>(m_pCodec->FrameLength());
  const int written = m_pPort->WritePort(m_pCodec->FrameBytes(), length);
  if (written != static_cast<int>(length)) {
    const uint32_t error = GetLastError();
    m_pImageSource->SetState(eTranState_Repeat);
    TraceWriteError(error, m_pCodec->FrameBytes(), length);
    return;
  }
  ReportProgress();
}

void CMcuTransfer::ReportProgress() {
  const uint32_t total = m_pImageSource->TotalLength();
  if (total == 0) return;
  const int percent = static_cast<int>(static_cast<uint64_t>(m_pImageSource->Position()) * 100u / total);
  if (percent == m_nLastPercent.load()) return;
  m_nLastPercent.store(percent);
  Notify(kNotifySendProgress, percent, false);
}

void CMcuTransfer::TraceWriteError(uint32_t error, const uint8_t* frame, size_t length) {
  Trace("+++++++++++Write Error 0x%x:\n", error);
  // Trace lines are bounded: the bytes go out in pieces.
  std::string bytes;
  for (size_t i = 0; i < length; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x ", frame[i]);
    bytes += hex;
    if (bytes.size() >= 960) {
      Trace("%s", bytes.c_str());
      bytes.clear();
    }
  }
  if (!bytes.empty()) Trace("%s", bytes.c_str());
  Trace("\n+++++++++++Write Error\n");
}

void CMcuTransfer::ReaderStep() {
  uint32_t events = 0;
  if (!m_pPort->WaitCommEvent(&events)) {
    if (m_pReader->IsRunning()) m_services.clock.Sleep(kReaderRetryMs);
    return;
  }
  if (events & EV_RXCHAR) {
    uint32_t errors = 0;
    CommStatus status;
    m_pPort->ClearCommError(&errors, &status);
    // Everything waiting is read, in pieces of the reader's buffer: bytes
    // left behind would raise no further event and stall the link.
    uint32_t left = status.inQueue;
    while (left > 0) {
      uint8_t buffer[kReadChunk] = {};
      const int got = m_pPort->ReadPort(buffer, std::min(left, kReadChunk));
      if (got < 0) {
        Trace("--------------ReadFile error 0x%x\n", GetLastError());
        break;
      }
      if (got == 0) break;
      m_pCodec->Append(buffer, static_cast<size_t>(got), true);
      // Every whole answer is handled now; one left in the buffer would wait
      // for bytes that may never come.
      while (m_pCodec->Extract()) {
        UpdateDescriptor descriptor;
        m_pCodec->Describe(&descriptor);
        HandleResponse(descriptor);
        m_pCodec->FreeData();
      }
      left -= std::min(left, static_cast<uint32_t>(got));
    }
  } else if (events & EV_ERR) {
    Trace("+++++Read Error = 0x%x\n", GetLastError());
  }
}

void CMcuTransfer::HandleResponse(const UpdateDescriptor& descriptor) {
  const std::vector<uint8_t>& b = descriptor.data;
  if (b.empty()) return;
  TranState next = eTranState_Stop;
  const bool act = m_platform.protocol == McuProtocol::BlockProtocol ? BlockAnswer(b, &next) : LineAnswer(b, &next);
  if (!act) return;
  m_pTimer->Cancel();
  m_pImageSource->SetState(next);
  m_pWake->Set();
}

bool CMcuTransfer::BlockAnswer(const std::vector<uint8_t>& b, TranState* next) {
  // Progress answers outside a running update are stale: they must not
  // restart one that has ended or failed.
  const bool running = m_pImageSource->GetState() != eTranState_Stop;
  switch (b[0]) {
    case 'V': {
      std::string version(b.begin() + 1, b.end());
      const size_t nul = version.find('\0');
      if (nul != std::string::npos) version.resize(nul);
      {
        std::lock_guard<std::mutex> lock(m_versionMutex);
        m_strVersion = version;
      }
      m_bVersionReceived.store(true);
      Trace("CMcuTransfer MCU version [%s]\n", version.c_str());
      return false;
    }
    case '_':
      PostReadBack(b);
      return false;
    case 'a':
      if (b.size() < 2 || !running) return false;
      *next = b[1] != 0 ? eTranState_Data : eTranState_Start;
      return true;
    case 'b': {
      if (b.size() < 6 || !running) return false;
      const uint32_t address = static_cast<uint32_t>(b[1]) | (static_cast<uint32_t>(b[2]) << 8) |
                               (static_cast<uint32_t>(b[3]) << 16) | (static_cast<uint32_t>(b[4]) << 24);
      *next = address == m_dwLastAddress.load() && b[5] != 0 ? eTranState_Data : eTranState_Repeat;
      return true;
    }
    case 's':
      Notify(kNotifySucceeded, 0, false);
      *next = eTranState_Stop;
      return true;
    default:
      return false;
  }
}

bool CMcuTransfer::LineAnswer(const std::vector<uint8_t>& b, TranState* next) {
  if (b[0] != 0x84 || b.size() < 2) return false;
  const bool running = m_pImageSource->GetState() != eTranState_Stop;
  switch (b[1]) {
    case 0:
      Notify(kNotifySucceeded, 0, false);
      *next = eTranState_Stop;
      return true;
    case 1:
      if (!running) return false;
      *next = eTranState_Repeat;
      return true;
    case 2:
      if (!running) return false;
      *next = eTranState_Data;
      return true;
    default:
      return false;
  }
}

void CMcuTransfer::PostReadBack(const std::vector<uint8_t>& b) {
  auto record = std::make_unique<KeyReadBack>();
  record->first = b[0];
  record->count = static_cast<uint16_t>(std::min<size_t>(b.size() - 1, 0xFFFF));
  record->data = b;
  int64_t id = 0;
  {
    std::lock_guard<std::mutex> lock(m_readBackMutex);
    id = m_nNextReadBack++;
    m_readBacks[id] = std::move(record);
    // Records nobody took are dropped, oldest first.
    while (m_readBacks.size() > kMaxReadBacks) m_readBacks.erase(m_readBacks.begin());
  }
  Notify(kNotifyKeyReadBack, id, false);
}

std::unique_ptr<KeyReadBack> CMcuTransfer::TakeReadBack(int64_t id) {
  std::lock_guard<std::mutex> lock(m_readBackMutex);
  auto it = m_readBacks.find(id);
  if (it == m_readBacks.end()) return nullptr;
  std::unique_ptr<KeyReadBack> record = std::move(it->second);
  m_readBacks.erase(it);
  return record;
}

}  // namespace hu
