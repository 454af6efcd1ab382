#include "canprobe/canprobe_dlg.h"

#include "canprobe/dialog_update.h"
#include "canprobe/oper_page.h"
#include "canprobe/recv_page.h"
#include "canprobe/send_page.h"
#include "canprobe/service_bridge.h"

namespace hu {

namespace {
const char* const kTabTexts[CCanprobeDlg::kPageCount] = {"Update", "Recv", "Send", "Oper"};
}  // namespace

CCanprobeDlg::CCanprobeDlg(Desktop& desktop, const CanprobeServices& services)
    : Dialog(desktop, IDD), m_services(services) {
  Template().title = "Canprobe";
  Template().rect = Rect{0, 0, 800, 480};
  DefineControl(ControlKind::Tab, IDC_TAB, "", Rect{0, 0, 800, 480});
  m_pUpdate = std::make_unique<DialogUpdate>(desktop, m_services);
  m_pRecv = std::make_unique<CRecvPage>(desktop, m_services);
  m_pSend = std::make_unique<CSendPage>(desktop, m_services);
  m_pOper = std::make_unique<COperPage>(desktop, m_services);
  m_pages = {m_pUpdate.get(), m_pRecv.get(), m_pSend.get(), m_pOper.get()};
}

CCanprobeDlg::~CCanprobeDlg() = default;

Dialog* CCanprobeDlg::Page(int index) const {
  return index >= 0 && index < kPageCount ? m_pages[index] : nullptr;
}

bool CCanprobeDlg::OnInitDialog() {
  SetIcon(IDR_MAINFRAME, true);
  SetIcon(IDR_MAINFRAME, false);
  Control* tab = GetDlgItem(IDC_TAB);
  for (int i = 0; i < kPageCount; ++i) {
    if (tab != nullptr) tab->InsertItem(i, kTabTexts[i]);
    m_pages[i]->Create(this);
  }
  MoveWindow(0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));

  // The pages sit inside the tab control's client area, below its tab row.
  Rect area = tab != nullptr ? tab->GetRect() : GetClientRect();
  area = Rect{area.x + 5, area.y + 25, area.w - 10, area.h - 30};
  for (Dialog* page : m_pages) page->MoveWindow(area);
  ShowPage(0);
  if (tab != nullptr) tab->SetCurSel(0);

  CServiceBridge& bridge = CServiceBridge::Get();
  bridge.SetSink(m_pRecv.get());
  bridge.Start();

  SetForegroundWindow();
  SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  return true;
}

void CCanprobeDlg::ShowPage(int index) {
  if (index < 0 || index >= kPageCount) return;
  m_nCurPage = index;
  for (int i = 0; i < kPageCount; ++i) m_pages[i]->ShowWindow(i == index ? SW_SHOW : SW_HIDE);
}

bool CCanprobeDlg::OnNotify(int id, int code) {
  if (id != IDC_TAB || code != TCN_SELCHANGE) return false;
  const Control* tab = GetDlgItem(IDC_TAB);
  if (tab != nullptr) ShowPage(tab->GetCurSel());
  return true;
}

void CCanprobeDlg::OnDestroy() {
  // The receive page goes with this dialog; the bridge outlives it.
  CServiceBridge::Get().SetSink(nullptr);
}

}  // namespace hu
