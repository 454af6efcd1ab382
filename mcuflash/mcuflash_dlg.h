#pragma once
#include <string>

#include "common/ui/dialog.h"
#include "mcuflash/key_update_dlg.h"
#include "mcuflash/mcuflash_services.h"

namespace hu {

class CTransferOwner;

// Dialog 102, the updater's main window: shows what the transfer reports,
// starts the update, opens the key update and stays full screen on top.
class CMcuflashDlg : public Dialog {
 public:
  enum : int {
    IDD = 102,
    IDI_MAINFRAME = 128,
    IDC_UPDATE = 1000,
    IDC_EXIT = 1001,
    IDC_MESSAGE = 1003,
    IDC_PERCENT = 1006,
    IDC_PROGRESS = 1007,
    IDC_KEYUPDATE = 1011,
  };
  static constexpr uint32_t kTopTimerId = 1325;
  static constexpr uint32_t kTopTimerMs = 1000;
  static constexpr int kMessageFontHeight = 30;

  CMcuflashDlg(Desktop& desktop, const McuflashServices& services);
  ~CMcuflashDlg() override;

  // A job given on the command line: the dialog runs it as soon as the
  // transfer is ready, with the file named (beside the program), and closes
  // when it ends.
  enum class OneShot { None, Firmware, Key };
  void SetOneShot(OneShot job, const std::string& fileName);

  CKeyUpdateDlg& KeyDialog() { return m_keyDlg; }
  uint32_t UpdateNotifyMsg() const { return m_uUpdateNotifyMsg; }

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id) override;
  void OnTimer(uint32_t id) override;
  bool OnMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override;
  void OnClose() override;
  // Only Exit and a close request end the program.
  void OnOK() override {}
  void OnCancel() override {}
  void OnDestroy() override;

 private:
  void OnUpdateNotify(WPARAM code, LPARAM value);
  void SetMessage(const std::string& text);
  // Shows a failure, tells it as the job's result and, in a one-shot run, ends.
  void Fail(const std::string& text);
  void EndOneShot();
  // -1 leaves a button as it is.
  void SetButtons(int exitOn, int updateOn, int keyOn);
  void KeepOnTop();
  // The key configuration exists only on the block-loader platforms 8, 9 and 12.
  bool KeyUpdateOffered() const;

  McuflashServices m_services;
  CKeyUpdateDlg m_keyDlg;
  uint32_t m_uUpdateNotifyMsg = 0;
  CTransferOwner* m_pOwner = nullptr;
  OneShot m_oneShot = OneShot::None;
  std::string m_strOneShotFile;
  bool m_bUpdateStarted = false;
};

}  // namespace hu
