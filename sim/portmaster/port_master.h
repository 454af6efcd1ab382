#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "common/platform/serial.h"
#include "common/platform/windows.h"

namespace hu {

// A stand-in for the unit's serial arbiter: it owns the window the MCU
// updater looks for and holds COM4 open. WM_MCU_COM_OP with wParam 4 asks it
// to let the port go (lParam 0) or tells it the port is free again (lParam 1).
// A stubborn arbiter never lets go. Runs on its owner's UI thread.
class CPortMaster {
 public:
  static const char* const kClassName;
  static const char* const kWindowName;
  static const char* const kModulePath;

  struct Options {
    std::string portName = "COM4:";
    uint32_t baudRate = 115200;
    bool stubborn = false;
  };

  // `serial` null: the arbiter runs but holds nothing.
  CPortMaster(Windows& windows, Serial* serial, Options options);
  ~CPortMaster();
  CPortMaster(const CPortMaster&) = delete;
  CPortMaster& operator=(const CPortMaster&) = delete;

  // Creates the window, whose messages go to `sink`, and takes the port.
  bool Start(MessageSink* sink);
  // Gives the port up and removes the window.
  void Stop();

  // A message of the window; true when it was the arbiter's own.
  bool HandleMessage(uint32_t message, WPARAM wParam, LPARAM lParam);
  // Called now and then: takes the port when it should hold it and could not.
  void OnTimer();

  bool HoldsPort() const { return m_pPort != nullptr; }
  bool WantsPort() const { return m_bWantPort; }
  HWND Window() const { return m_hWnd; }
  uint32_t ComOpMessage() const { return m_uComOp; }
  uint32_t ReleaseRequests() const { return m_dwReleaseRequests; }
  uint32_t ReturnNotices() const { return m_dwReturnNotices; }

 private:
  bool OpenPort();

  Windows& m_windows;
  Serial* m_pSerial;
  Options m_options;
  HWND m_hWnd = 0;
  uint32_t m_uComOp = 0;
  std::unique_ptr<SerialPort> m_pPort;
  bool m_bWantPort = false;
  uint32_t m_dwReleaseRequests = 0;
  uint32_t m_dwReturnNotices = 0;
};

}  // namespace hu
