#include "sysmend/app/com_operate.h"

#include <cstdio>

#include "common/frames/xor_frame_codec.h"
#include "common/platform/errors.h"
#include "common/platform/trace.h"
#include "common/settings/settings_store.h"

namespace hu {

void ConfigureMcuPort(SerialPort& port, uint32_t baudRate) {
  Dcb dcb;
  port.GetCommState(&dcb);
  dcb.baudRate = baudRate;
  dcb.byteSize = 8;
  dcb.parity = NOPARITY;
  dcb.stopBits = ONESTOPBIT;
  port.SetCommState(dcb);
  CommTimeouts t;
  port.GetCommTimeouts(&t);
  t.readIntervalTimeout = 0xFFFF;
  t.readTotalTimeoutMultiplier = 0;
  t.readTotalTimeoutConstant = 0;
  t.writeTotalTimeoutMultiplier = 10;
  t.writeTotalTimeoutConstant = 10;
  port.SetCommTimeouts(t);
  port.PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR);
  port.SetupComm(5120, 5120);
  port.SetCommMask(EV_RXCHAR | EV_ERR);
  uint32_t errors = 0;
  CommStatus status;
  port.ClearCommError(&errors, &status);
}

int CComOperate::OpenComm(uint32_t port, uint32_t baudRate) {
  CloseComm();
  m_nPort = port;
  m_nBaudRate = baudRate;
  char name[16];
  std::snprintf(name, sizeof name, "COM%u:", port);
  if (serial_ != nullptr) {
    m_hCom = serial_->Open(name);
  } else {
    SetLastError(ERROR_FILE_NOT_FOUND);
  }
  uint32_t error = GetLastError();
  Trace("CComOperate::OpenComm szPort = %s dwBoundRate = %d m_hCom = 0x%0x lasterr = %d \n", name,
        static_cast<int>(baudRate), m_hCom ? 1u : 0xFFFFFFFFu, static_cast<int>(m_hCom ? 0 : error));
  if (!m_hCom) return -1;
  ConfigureMcuPort(*m_hCom, baudRate);
  return 0;
}

void CComOperate::CloseComm() { m_hCom.reset(); }

int CComOperate::GetCommState(Dcb* dcb) { return m_hCom && m_hCom->GetCommState(dcb) ? 1 : 0; }

int CComOperate::SetCommState(const Dcb& dcb) {
  if (!m_hCom || !m_hCom->SetCommState(dcb)) return 0;
  m_nBaudRate = dcb.baudRate;
  return 1;
}

int CComOperate::SetCommMask(uint32_t mask) { return m_hCom && m_hCom->SetCommMask(mask) ? 1 : 0; }

uint32_t CComOperate::WriteComm(const uint8_t* bytes, uint32_t count) {
  uint32_t written = 0;
  bool ok = false;
  if (m_hCom) {
    ok = m_hCom->Write(bytes, count, &written);
  } else {
    SetLastError(ERROR_INVALID_HANDLE);
  }
  Trace("CComOperate WriteFile bRet = %d bufsize = %d dwWrite = %d lasterror = %d \n", ok ? 1 : 0,
        static_cast<int>(count), static_cast<int>(written), static_cast<int>(ok ? 0 : GetLastError()));
  return written;
}

void CloseHeartBeat(Serial* serial, Registry& registry, Clock& clock) {
  Trace("CloseHeartBeat begin ++++ \n");
  CComOperate com(serial);
  com.OpenComm(4, 115200);
  SettingsStore rgOper(registry);
  int platformType = rgOper.GetPlatformType();
  Trace("CloseHeartBeat rgOper.GetProductType() = %d \n ", platformType);
  CXorFrameCodec codec;
  if (platformType == 10) {
    const uint8_t data[] = {0x07};
    codec.BuildFrame('A', 'W', sizeof data, data);
  } else {
    const uint8_t data[] = {'C', '1'};
    codec.BuildFrame('A', 'O', sizeof data, data);
  }
  com.WriteComm(codec.FrameBytes(), static_cast<uint32_t>(codec.FrameLength()));
  clock.Sleep(200);
  com.CloseComm();
  Trace("CloseHeartBeat end ++++ \n");
}

}  // namespace hu
