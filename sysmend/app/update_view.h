#pragma once
#include <cstdint>

namespace hu {

class StepPanel;

// What the update steps show while they run inside the dialog's handlers.
class UpdateView {
 public:
  virtual ~UpdateView() = default;
  virtual StepPanel& Panel() = 0;
  // Progress bar position and its "%d%%" text.
  virtual void SetProgress(int percent) = 0;
  virtual void ShowUpdateControls(bool updating) = 0;
  // Repaints now: the steps run without returning to the message loop.
  virtual void Repaint() = 0;
  // Tells the driver library how the application update ended (1 updated, 2 not).
  virtual void NoticeAppUdpateResult(uint32_t code) = 0;
};

}  // namespace hu
