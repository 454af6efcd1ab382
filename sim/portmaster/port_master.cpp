#include "sim/portmaster/port_master.h"

#include <utility>

#include "common/platform/errors.h"
#include "common/platform/trace.h"

namespace hu {

const char* const CPortMaster::kClassName = "SERIAL_WINDOW_CLASS_NAME";
const char* const CPortMaster::kWindowName = "SERIAL_WINDOW_NAME";
const char* const CPortMaster::kModulePath = "\\dravik\\$KVR$\\App\\Portmaster.exe";

namespace {
constexpr WPARAM kMcuPort = 4;
constexpr LPARAM kRelease = 0;
constexpr LPARAM kReturn = 1;
}  // namespace

CPortMaster::CPortMaster(Windows& windows, Serial* serial, Options options)
    : m_windows(windows), m_pSerial(serial), m_options(std::move(options)) {}

CPortMaster::~CPortMaster() {
  Stop();
}

bool CPortMaster::Start(MessageSink* sink) {
  if (m_hWnd != 0) return false;
  m_uComOp = m_windows.RegisterWindowMessage("WM_MCU_COM_OP");
  m_hWnd = m_windows.CreateWindow(kClassName, kWindowName, sink);
  if (m_hWnd == 0) {
    Trace("Portmaster: window not created, err = %u\n", GetLastError());
    return false;
  }
  m_bWantPort = true;
  OpenPort();
  return true;
}

void CPortMaster::Stop() {
  m_bWantPort = false;
  m_pPort.reset();
  if (m_hWnd != 0) m_windows.DestroyWindow(m_hWnd);
  m_hWnd = 0;
}

bool CPortMaster::OpenPort() {
  if (m_pPort) return true;
  if (m_pSerial == nullptr) return false;
  m_pPort = m_pSerial->Open(m_options.portName);
  if (!m_pPort) {
    Trace("Portmaster: %s busy, err = %u\n", m_options.portName.c_str(), GetLastError());
    return false;
  }
  Dcb dcb;
  m_pPort->GetCommState(&dcb);
  dcb.baudRate = m_options.baudRate;
  dcb.byteSize = 8;
  dcb.parity = NOPARITY;
  dcb.stopBits = ONESTOPBIT;
  m_pPort->SetCommState(dcb);
  Trace("Portmaster: %s held\n", m_options.portName.c_str());
  return true;
}

bool CPortMaster::HandleMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (message != m_uComOp || m_uComOp == 0) return false;
  if (wParam != kMcuPort) return true;
  if (lParam == kRelease) {
    ++m_dwReleaseRequests;
    if (m_options.stubborn) {
      Trace("Portmaster: keeps %s\n", m_options.portName.c_str());
      return true;
    }
    m_bWantPort = false;
    m_pPort.reset();
    Trace("Portmaster: %s released\n", m_options.portName.c_str());
  } else if (lParam == kReturn) {
    ++m_dwReturnNotices;
    m_bWantPort = true;
    OpenPort();
  }
  return true;
}

void CPortMaster::OnTimer() {
  if (m_bWantPort && !m_pPort) OpenPort();
}

}  // namespace hu
