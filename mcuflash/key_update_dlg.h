#pragma once
#include <memory>

#include "common/ui/dialog.h"
#include "mcuflash/key_updater.h"
#include "mcuflash/mcuflash_services.h"

namespace hu {

// Dialog 129: writes the MCU's key configuration from a ".key" file and
// checks it by reading it back. Each opening starts a fresh run.
class CKeyUpdateDlg : public Dialog {
 public:
  enum : int { IDD = 129, IDC_START = 1008, IDC_EXIT = 1009, IDC_MESSAGE = 1012 };
  static constexpr int kMessageFontHeight = 20;

  CKeyUpdateDlg(Desktop& desktop, Dialog* parent, const McuflashServices& services);
  ~CKeyUpdateDlg() override;

  // A one-shot run: Start as soon as the file named is found, close when done.
  void SetOneShot(bool oneShot, const std::string& fileName) {
    m_bOneShot = oneShot;
    m_strOneShotFile = fileName;
  }
  // The port the transfer opened; kept for the following runs.
  void SetPortHandle(SerialPort* port) { m_hPort = port; }
  SerialPort* PortHandle() const { return m_hPort; }
  // The MCU's read-back, handed over by the main dialog.
  void CompareReadBack(const KeyReadBack& record);
  CKeyUpdater* Updater() { return m_pUpdater.get(); }

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id) override;
  void OnTimer(uint32_t id) override;
  bool OnMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override;
  void OnClose() override;
  void OnOK() override {}
  void OnCancel() override { OnClose(); }
  void OnDestroy() override;

 private:
  void NewRun();
  void OnKeyNotify(WPARAM code);
  void SetButtons(bool exitOn, bool startOn);
  void Fail(const std::string& text);
  void EndOneShot();

  McuflashServices m_services;
  SerialPort* m_hPort = nullptr;
  std::unique_ptr<CKeyUpdater> m_pUpdater;
  uint32_t m_uKeyNotifyMsg = 0;
  bool m_bOneShot = false;
  std::string m_strOneShotFile;
};

}  // namespace hu
