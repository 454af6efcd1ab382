#pragma once
#include <memory>
#include <string>
#include <vector>

#include "common/platform/platform.h"
#include "common/ui/dialog.h"
#include "sysmend/app/app_updater.h"
#include "sysmend/app/image_flasher.h"
#include "sysmend/app/installed_versions.h"
#include "sysmend/app/packs_shearcher.h"
#include "sysmend/app/step_panel.h"
#include "sysmend/app/sysmend_api.h"
#include "sysmend/app/update_checker.h"
#include "sysmend/app/update_view.h"

namespace hu {

// The updater's main dialog. Every step of an update runs inside one of its
// timer or button handlers on the UI thread.
class CSysmendDlg : public Dialog, public UpdateView {
 public:
  static constexpr int kDialogId = 102;
  enum : int {
    IDC_BTN_UPDATE = 1005,
    IDC_CHECK_FORMAT = 1007,
    IDC_STEP_PANEL = 1009,
    IDC_PROGRESS = 1013,
    IDC_PERCENT = 1014,
  };
  enum : uint32_t {
    kTimerHeartBeat = 12,
    kTimerStart = 1500,
    kTimerUpdate = 1200,
    kTimerRepaintUpdate = 1300,
    kTimerTopmost = 1000,
    kTimerHold = 10,
  };
  static constexpr const char* kVersion = "Ver1.28";
  static constexpr const char* kAppvisor = "\\dravik\\$KVR$\\App\\Appvisor.exe";

  CSysmendDlg(Desktop& desktop, Platform& platform);
  ~CSysmendDlg() override;

  // UpdateView
  StepPanel& Panel() override { return m_panel; }
  void SetProgress(int percent) override;
  void ShowUpdateControls(bool updating) override;
  void Repaint() override;
  void NoticeAppUdpateResult(uint32_t code) override;

  void EnableButtons(bool enable);
  void SearchUpdateFiles();
  bool CheckUpdatePacks();
  bool PreparePackSlots();
  void OnBnClickedBtnUpdate();
  // The run's result for the exit code: failed when a step's line says so.
  void TellJobResult();
  void DoSystemUpdate();
  void FormatAppDir(bool fromButton);
  int GetCPUType() { return m_checker.GetCPUType(); }
  void DeleUpdatePackPaths();
  bool NeedAppRecovery() { return m_appUpdater.NeedAppRecovery(); }

  bool IsAutoUpdate() const { return m_bAutoUpdate; }
  bool PacksReady() const { return m_bPacksReady; }
  const UpdatePlan& Plan() const { return m_plan; }
  std::vector<PackInfo>* FoundPacks() { return m_shearcher.m_pPackInfoVec(); }
  CSysmendAPI& UpdaterApi() { return m_updaterAPI; }

  // The format check box's toggle is process-wide; tests reset it.
  static void ResetFormatToggle();

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id) override;
  void OnTimer(uint32_t id) override;
  void OnLButtonDown(int x, int y) override;
  void OnLButtonUp(int x, int y) override;
  void OnSize(int cx, int cy) override;
  void OnDestroy() override;

 private:
  void LayoutControls(int cx, int cy);
  void ShowFullScreenTopmost();
  void OnFormatClicked();
  void OnTopmostTimer();
  void OnHoldTimer();
  void ExecuteProgram(const std::string& path);
  void CloseDialog() { EndDialog(IDOK); }
  bool CopyKvrappDir(const std::string& source, const std::string& target);
  uint32_t GetTouchType();
  bool AppDirExists();

  Platform& platform_;
  CSysmendAPI m_updaterAPI;
  StepPanel m_panel;
  CPacksShearcher m_shearcher;
  InstalledVersions m_installed;
  UpdateChecker m_checker;
  CAppUpdater m_appUpdater;
  CImageFlasher m_flasher;
  UpdatePlan m_plan;
  std::string m_strModulePath;

  bool m_bAutoUpdate = false;
  bool m_bPacksReady = false;
  bool m_directUpdate = false;
  bool m_bHeld = false;
  bool m_bFontsCreated = false;
  int m_nScreenWidth = 0;
  int m_nScreenHeight = 0;
};

}  // namespace hu
