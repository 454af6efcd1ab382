#pragma once
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "canprobe/canprobe_services.h"
#include "canprobe/manager.h"
#include "canprobe/tool_config.h"
#include "common/ui/dialog.h"

namespace hu {

class CStm32IapEngine;

// The "Update" page: reads and sets the vehicle type of the CAN box and
// upgrades its firmware from a ".canbox" file.
class DialogUpdate : public Dialog, public CarTypeReplyTarget {
 public:
  enum {
    IDD = 133,
    IDC_UPDATE = 1019,
    IDC_SETCAR = 1020,
    IDC_EXIT = 1021,
    IDC_READCAR = 1038,
    IDC_CARLIST = 1039,
    IDC_STATUS = 1042,
    IDC_CHINESE = 1043,
    IDC_ENGLISH = 1044,
    IDC_VERSION = 1045,
  };
  enum : uint32_t { kTimerReply = 1000, kTimerQuit = 1004, kTimerUpgrade = 1005 };
  // Posted by other threads: show the latest posted status text.
  static constexpr uint32_t kMsgShowText = WM_USER + 0x201;
  static constexpr uint32_t kMsgButtons = WM_USER + 0x202;  // wParam: enable
  static constexpr uint8_t kOtherCarId = 254;
  static constexpr uint8_t kNoCarId = 255;
  static constexpr uint32_t kFastBaud = 625000;
  static constexpr uint32_t kSlowBaud = 115200;

  // A job given on the command line: run as soon as the page opens, and the
  // program ends (as by its exit button) when it is done.
  struct OneShot {
    enum class Kind { None, ReadType, SetType, Upgrade };
    Kind kind = Kind::None;
    int carId = -1;    // SetType: the vehicle id to set
    std::string file;  // Upgrade: device path of the ".canbox" file
  };
  static constexpr uint32_t kMsgOneShot = WM_USER + 0x203;
  static constexpr uint32_t kMsgUpgradeEnd = WM_USER + 0x204;  // wParam: succeeded

  DialogUpdate(Desktop& desktop, const CanprobeServices& services);
  ~DialogUpdate() override;

  void SetOneShot(const OneShot& job) { m_oneShot = job; }

  // The vehicle id of a list row's name (see the built-in table).
  uint8_t CarIdOf(const std::string& name) const;
  // Closes the programs that hold the serial line.
  void KillStartdeckAndWait();
  bool IsSelectionView() const { return m_bSelectionView; }
  bool IsEnglish() const { return m_bEnglish; }
  int IapStage() const { return m_nIapStage.load(); }
  uint8_t CarWantToUpdate() const { return m_byCarWantToUpdate; }

  // The reader thread's notification: checked here, shown on the UI thread.
  void OnCarTypeReply() override;

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id) override;
  void OnTimer(uint32_t id) override;
  bool OnMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override;
  void OnDestroy() override;

 private:
  void ShowUpgradeView();
  void ShowSelectionView();
  void SwitchLanguage(bool english);
  void LoadCarTable(bool english);
  void FillList(bool withOther, bool english);
  void EnableButtons(bool enable);
  void SetStatus(const std::string& text);
  void PostStatus(const std::string& text);
  void ReadCarType();
  void RequestCarType();
  void OnReplyTick();
  void SetCarType();
  void StartUpgrade();
  void SendLoaderAt(uint32_t baud, int times);
  // False when the programs it restarts are still going down (nothing done).
  bool Leave();
  void StartOneShot();
  // Tells the job's result; a one-shot run then ends.
  void EndJob(bool done, const std::string& failure);
  std::string WithPortFailure(const std::string& text) const;
  void MainToTop();
  int SelectedRow() const;
  void IAPProc(std::string path);
  // From the worker: the upgrade's result, handed to the UI thread.
  void EndUpgrade(bool succeeded, const std::string& failure);

  CanprobeServices m_services;
  std::unique_ptr<CToolConfig> m_pCarTable;
  std::atomic<uint8_t> m_byCarWantToUpdate{kNoCarId};
  std::atomic<bool> m_bReplied{false};
  int m_nCountdown = 0;
  std::atomic<int> m_nIapStage{5};
  std::atomic<bool> m_bStartdeckClosed{false};
  std::atomic<bool> m_bStartdeckGone{false};
  bool m_bSelectionView = false;
  bool m_bEnglish = false;
  bool m_bWaitCursor = false;
  std::string m_strHexFilePath;
  std::string m_strHexFileName;
  std::mutex m_textMutex;
  std::string m_strPosted;
  std::thread m_worker;
  std::unique_ptr<CStm32IapEngine> m_pEngine;
  OneShot m_oneShot;
  std::string m_strUpgradeFailure;  // the worker's last line, for the job's result
};

}  // namespace hu
