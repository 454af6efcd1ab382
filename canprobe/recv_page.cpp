#include "canprobe/recv_page.h"

#include <cstdio>

#include "common/platform/trace.h"

namespace hu {

CRecvPage::CRecvPage(Desktop& desktop, const CanprobeServices& services)
    : Dialog(desktop, IDD), m_services(services) {
  Template().title = "Recv";
  Template().visible = false;
  Template().style = 0;
  DefineControl(ControlKind::Edit, IDC_EDIT, "", Rect{0, 0, 790, 380}).SetMultiLine(true).SetReadOnly(true);
  DefineControl(ControlKind::PushButton, IDC_CLEAR, "Clear", Rect{0, 390, 100, 40});
  DefineControl(ControlKind::PushButton, IDC_SAVEFILE, "SaveFile", Rect{110, 390, 100, 40});
  DefineControl(ControlKind::PushButton, IDC_FORMAT, "Format", Rect{220, 390, 100, 40});
  DefineControl(ControlKind::CheckBox, IDC_HEX, "HEX", Rect{340, 390, 80, 40});
  DefineControl(ControlKind::CheckBox, IDC_NEWLINE, "NewLine", Rect{430, 390, 100, 40});
  DefineControl(ControlKind::CheckBox, IDC_SHOWOWNER, "ShowOwner", Rect{540, 390, 120, 40});
  DefineControl(ControlKind::CheckBox, IDC_SHOW, "Show", Rect{670, 390, 80, 40});
}

bool CRecvPage::OnInitDialog() {
  if (CToolConfig* config = m_services.config) {
    m_bHexShow = config->GetBool("HexShow");
    m_bNewLine = config->GetBool("NewLine");
    m_bShowOwner = config->GetBool("ShowOwner");
    m_bShow = config->GetBool("Show");
  }
  CheckDlgButton(IDC_HEX, m_bHexShow ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_NEWLINE, m_bNewLine ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_SHOWOWNER, m_bShowOwner ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_SHOW, m_bShow ? BST_CHECKED : BST_UNCHECKED);
  return true;
}

void CRecvPage::OnReceivedItem(const ReceivedItem& item) {
  {
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    m_pending.push_back(item);
  }
  PostMessage(kMsgItemsArrived);
}

void CRecvPage::RenderPending() {
  std::vector<ReceivedItem> items;
  {
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    items.swap(m_pending);
  }
  if (!m_bShow) return;  // the bridge keeps them for "Format"
  for (const ReceivedItem& item : items) Append(RenderItem(item));
}

std::string CRecvPage::RenderItem(const ReceivedItem& item) const {
  std::string piece;
  if (m_bNewLine) piece += "\r\n";
  if (m_bShowOwner) {
    char tag[16];
    std::snprintf(tag, sizeof(tag), "-[%d]-", item.channel);
    piece += tag;
  }
  const size_t n = std::min<size_t>(item.length, item.data.size());
  if (m_bHexShow) {
    char hex[4];
    for (size_t i = 0; i < n; ++i) {
      std::snprintf(hex, sizeof(hex), "%02x ", item.data[i]);
      piece += hex;
    }
  } else {
    piece += m_services.platform.codePage().ToUtf8(std::string(item.data.begin(), item.data.begin() + n));
  }
  return piece;
}

void CRecvPage::Append(const std::string& text) {
  Control* edit = GetDlgItem(IDC_EDIT);
  if (edit == nullptr || text.empty()) return;
  edit->AppendText(text);
  edit->ScrollToEnd();
}

void CRecvPage::TakeOption(int id, const char* key, bool* option) {
  *option = IsDlgButtonChecked(id) == BST_CHECKED;
  if (m_services.config != nullptr) m_services.config->SetBool(key, *option);
}

bool CRecvPage::OnCommand(int id) {
  switch (id) {
    case IDC_HEX: TakeOption(id, "HexShow", &m_bHexShow); return true;
    case IDC_NEWLINE: TakeOption(id, "NewLine", &m_bNewLine); return true;
    case IDC_SHOWOWNER: TakeOption(id, "ShowOwner", &m_bShowOwner); return true;
    case IDC_SHOW: TakeOption(id, "Show", &m_bShow); return true;
    case IDC_CLEAR:
      SetDlgItemText(IDC_EDIT, "");
      CServiceBridge::Get().Erase(0, -1);
      return true;
    case IDC_FORMAT: {
      SetDlgItemText(IDC_EDIT, "");
      {
        // Items queued but not yet shown are in the bridge's list already.
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pending.clear();
      }
      std::string text;
      for (const ReceivedItem& item : CServiceBridge::Get().Items()) text += RenderItem(item);
      Append(text);
      if (Control* edit = GetDlgItem(IDC_EDIT)) edit->ScrollToEnd();
      return true;
    }
    case IDC_SAVEFILE: {
      const std::string bytes = m_services.platform.codePage().FromUtf8(GetDlgItemText(IDC_EDIT));
      std::unique_ptr<File> file =
          m_services.platform.files().Open(kSavePath, FileAccess::Write, FileCreate::CreateAlways);
      if (!file) return true;
      uint32_t done = 0;
      if (!file->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &done) || done != bytes.size())
        Trace("CRecvPage::OnSaveFile write failed\n");
      return true;
    }
    case IDC_EDIT:
      if (Control* edit = GetDlgItem(IDC_EDIT)) edit->ScrollToEnd();
      return true;
    default:
      return false;
  }
}

bool CRecvPage::OnMessage(uint32_t message, WPARAM, LPARAM) {
  if (message != kMsgItemsArrived) return false;
  RenderPending();
  return true;
}

}  // namespace hu
