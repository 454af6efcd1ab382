#pragma once
#include <string>

#include "canprobe/canprobe_services.h"
#include "common/ui/dialog.h"

namespace hu {

// The "Send" page: the configured send prefixes, one row each; the chosen one
// goes to the service bridge on channel 1.
class CSendPage : public Dialog {
 public:
  enum { IDD = 130, IDC_LIST = 1008, IDC_TOCANRELAY = 1012, IDC_TOCOM = 1013 };

  CSendPage(Desktop& desktop, const CanprobeServices& services);

  // "SendDataPrefix_%d" for row `index`.
  static std::string PrefixKey(int index);

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id) override;
  void OnSize(int cx, int cy) override;

 private:
  CanprobeServices m_services;
};

}  // namespace hu
