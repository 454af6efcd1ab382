#include "mcuflash/mcuflash_app.h"

#include "common/platform/text.h"
#include "mcuflash/mcu_transfer.h"

namespace hu {

namespace {
bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}
}  // namespace

int CMcuflashApp::Run(const UiOptions& ui) { return RunDialog(ui, CMcuflashDlg::OneShot::None, {}); }

int CMcuflashApp::RunOneShot(const UiOptions& ui, CMcuflashDlg::OneShot job, const std::string& fileName) {
  return RunDialog(ui, job, fileName);
}

int CMcuflashApp::RunDialog(const UiOptions& ui, CMcuflashDlg::OneShot job, const std::string& fileName) {
  McuflashServices services{m_platform.files(),     m_platform.registry(), m_platform.clock(),
                            m_platform.sync(),      m_platform.processes(), m_platform.serial(),
                            m_desktop.windows(),    m_platform.processes().GetModuleFileName()};
  CMcuflashDlg dialog(m_desktop, services);
  dialog.SetOneShot(job, fileName);
  return RunDialogProgram(m_desktop, dialog, ui);
}

CMcuflashDlg::OneShot CMcuflashApp::JobOf(const std::string& fileName) {
  const std::string lower = AsciiLower(fileName);
  if (EndsWith(lower, ".s19")) return CMcuflashDlg::OneShot::Firmware;
  if (EndsWith(lower, ".key")) return CMcuflashDlg::OneShot::Key;
  return CMcuflashDlg::OneShot::None;
}

std::string CMcuflashApp::RuleBreach(CMcuflashDlg::OneShot job, const std::string& fileName) {
  if (job == CMcuflashDlg::OneShot::None) {
    return fileName + ": the updater takes a firmware image \"*.s19\" or a key configuration \"*.key\"";
  }
  const McuPlatform platform = ReadMcuPlatform(m_platform.registry());
  const std::string type = "PlatformType " + std::to_string(platform.platformType);
  if (job == CMcuflashDlg::OneShot::Key) {
    const int t = platform.platformType;
    if (t != 8 && t != 9 && t != 12) {
      return fileName + ": the MCU of " + type + " has no key configuration (only PlatformType 8, 9 and 12)";
    }
    return {};
  }
  // The two-size platform takes only names with the family mark and a size.
  if (platform.platformType == 8 && (fileName.find("3900R") == std::string::npos ||
                                     (fileName.find("64K") == std::string::npos &&
                                      fileName.find("128K") == std::string::npos))) {
    return fileName + ": on " + type +
           " the image's name must contain \"3900R\" and the size \"64K\" or \"128K\" (case-sensitive)";
  }
  return {};
}

}  // namespace hu
