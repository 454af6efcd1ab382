#pragma once
#include <string>

#include "common/ui/dialog.h"

namespace hu {

// The confirmation before an update: it accepts itself when nobody answers
// within the count-down.
class CAutoUpdateDlg : public Dialog {
 public:
  static constexpr int kDialogId = 129;
  static constexpr int kCounterId = 1001;  // the count-down text
  static constexpr uint32_t kCountTimer = 105;

  CAutoUpdateDlg(Desktop& desktop, Dialog* parent, const std::string& caption);

  int Counter() const { return m_nCount; }

 protected:
  bool OnInitDialog() override;
  void OnTimer(uint32_t id) override;
  void OnOK() override;
  void OnCancel() override;

 private:
  void ShowCounter();

  std::string m_strCaption;
  int m_nCount = 5;
};

}  // namespace hu
