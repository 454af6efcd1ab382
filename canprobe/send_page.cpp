#include "canprobe/send_page.h"

#include <cstdio>

#include "canprobe/service_bridge.h"

namespace hu {

CSendPage::CSendPage(Desktop& desktop, const CanprobeServices& services)
    : Dialog(desktop, IDD), m_services(services) {
  Template().title = "Send";
  Template().visible = false;
  Template().style = 0;
  DefineControl(ControlKind::ListView, IDC_LIST, "", Rect{0, 0, 790, 380});
  DefineControl(ControlKind::PushButton, IDC_TOCANRELAY, "ToCanrelay", Rect{0, 390, 140, 40});
  DefineControl(ControlKind::PushButton, IDC_TOCOM, "ToCom", Rect{150, 390, 140, 40});
}

std::string CSendPage::PrefixKey(int index) {
  char key[40];
  std::snprintf(key, sizeof(key), "%s%d", "SendDataPrefix_", index);
  return key;
}

bool CSendPage::OnInitDialog() {
  Control* list = GetDlgItem(IDC_LIST);
  if (list == nullptr || m_services.config == nullptr) return true;
  list->InsertColumn(0, "", 780);
  for (int i = 0;; ++i) {
    const std::optional<std::string> value = m_services.config->Get(PrefixKey(i));
    if (!value) break;
    list->InsertItem(i, m_services.platform.codePage().ToUtf8(*value));
  }
  return true;
}

void CSendPage::OnSize(int cx, int cy) {
  if (Control* list = GetDlgItem(IDC_LIST)) list->MoveWindow(0, 0, cx, cy - 30);
}

bool CSendPage::OnCommand(int id) {
  if (id == IDC_TOCOM) return true;
  if (id != IDC_TOCANRELAY) return false;
  const Control* list = GetDlgItem(IDC_LIST);
  const int row = list != nullptr ? list->GetCurSel() : -1;
  if (row < 0 || m_services.config == nullptr) return true;
  const std::optional<std::string> value = m_services.config->Get(PrefixKey(row));
  if (!value) return true;
  CServiceBridge::Get().Send(1, reinterpret_cast<const uint8_t*>(value->data()), value->size());
  return true;
}

}  // namespace hu
