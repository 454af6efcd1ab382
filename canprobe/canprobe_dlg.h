#pragma once
#include <array>
#include <memory>

#include "canprobe/canprobe_services.h"
#include "common/ui/dialog.h"

namespace hu {

class DialogUpdate;
class CRecvPage;
class CSendPage;
class COperPage;

// The full-screen main window: a tab control with the four working pages.
class CCanprobeDlg : public Dialog {
 public:
  enum { IDD = 102, IDC_TAB = 1000, IDR_MAINFRAME = 128 };
  static constexpr int kPageCount = 4;

  CCanprobeDlg(Desktop& desktop, const CanprobeServices& services);
  ~CCanprobeDlg() override;

  // Pages in tab order: Update, Recv, Send, Oper.
  Dialog* Page(int index) const;
  int CurrentPage() const { return m_nCurPage; }
  DialogUpdate& UpdatePage() const { return *m_pUpdate; }
  CRecvPage& RecvPage() const { return *m_pRecv; }
  CSendPage& SendPage() const { return *m_pSend; }
  COperPage& OperPage() const { return *m_pOper; }

 protected:
  bool OnInitDialog() override;
  bool OnNotify(int id, int code) override;
  void OnDestroy() override;

 private:
  void ShowPage(int index);

  CanprobeServices m_services;
  std::unique_ptr<DialogUpdate> m_pUpdate;
  std::unique_ptr<CRecvPage> m_pRecv;
  std::unique_ptr<CSendPage> m_pSend;
  std::unique_ptr<COperPage> m_pOper;
  std::array<Dialog*, kPageCount> m_pages{};
  int m_nCurPage = 0;
};

}  // namespace hu
