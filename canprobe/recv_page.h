#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "canprobe/canprobe_services.h"
#include "canprobe/service_bridge.h"
#include "common/ui/dialog.h"

namespace hu {

// The "Recv" page: shows every item the service bridge delivers, as text or
// hexadecimal, with optional channel tags and line breaks.
class CRecvPage : public Dialog, public ReceivedItemSink {
 public:
  enum {
    IDD = 129,
    IDC_CLEAR = 1002,
    IDC_SAVEFILE = 1003,
    IDC_FORMAT = 1004,
    IDC_HEX = 1015,
    IDC_NEWLINE = 1016,
    IDC_EDIT = 1017,
    IDC_SHOWOWNER = 1020,
    IDC_SHOW = 1021,
  };
  static constexpr uint32_t kMsgItemsArrived = WM_USER + 0x101;
  static constexpr const char* kSavePath = "SDMMC\\Canprobe\\test.txt";

  CRecvPage(Desktop& desktop, const CanprobeServices& services);

  // From any thread: the item is queued and rendered on the UI thread.
  void OnReceivedItem(const ReceivedItem& item) override;
  // UI thread: renders the queued items (the handler of kMsgItemsArrived).
  void RenderPending();
  // The text of one item under the current options.
  std::string RenderItem(const ReceivedItem& item) const;

  bool HexShow() const { return m_bHexShow; }
  bool NewLine() const { return m_bNewLine; }
  bool ShowOwner() const { return m_bShowOwner; }
  bool Show() const { return m_bShow; }

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id) override;
  bool OnMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Append(const std::string& text);
  void TakeOption(int id, const char* key, bool* option);

  CanprobeServices m_services;
  bool m_bHexShow = true;
  bool m_bNewLine = false;
  bool m_bShowOwner = true;
  bool m_bShow = true;
  std::mutex m_pendingMutex;
  std::vector<ReceivedItem> m_pending;
};

}  // namespace hu
