#pragma once
#include <string>

#include "common/ui/control.h"

namespace hu {

class Dialog;

// The owner-drawn status panel of the updater: a step strip in lines 0..8 and
// message lines from 9 on, drawn from the line data of a Panel control.
class StepPanel {
 public:
  static constexpr int kLines = 64;
  static constexpr int kFirstMessageLine = 10;
  static constexpr int kFirstMessageY = 57;
  static constexpr int kLineHeight = 30;
  static constexpr COLORREF kBlack = 0;
  static constexpr COLORREF kRed = 255;

  // `screenWidth` stands in for the client width while the panel has none.
  StepPanel(Dialog& dialog, int controlId, int screenWidth);

  // 4: Start --> Update --> Finish --> Reboot; 5: Start --> Prepare --> Reboot --> Update --> Finish.
  void SetStepLayout(int steps);
  int StepLayout() const { return m_nLayout; }
  // Emphasises line `step` in red; the previously selected one goes back to normal.
  void SelectStep(int step);
  int SelectedStep() const { return m_nCurStep; }

  // Title line k is panel line 9 + k.
  void SetTitleLine(int k, const std::string& text, bool titleFlag = false);
  // Writes at the append position; only `advance` moves it to the next line,
  // so running texts overwrite themselves.
  void AppendLine(const std::string& text, COLORREF color, bool repaintNow, bool emphasised, bool advance);
  // Empties lines 10..63 and resets the append position.
  void Clear();
  // Replaces the text of line n in place (n below 64).
  void SetLine(int n, const std::string& text);

  const PanelLine* Line(int n) const;
  int AppendPosition() const { return m_nAppendLine; }
  bool TitleFlag() const { return m_bTitleFlag; }

  static Font NormalFont() { return Font{"Tahoma", 26, 400}; }
  static Font EmphasisedFont() { return Font{"Tahoma", 26, 700}; }

 private:
  Control* Panel() const;
  int LineWidth() const;
  void Put(int n, const PanelLine& line);

  Dialog& dialog_;
  int id_;
  int screenWidth_;
  int m_nLayout = 0;
  int m_nCurStep = -1;
  int m_nAppendLine = kFirstMessageLine;
  int m_nAppendY = kFirstMessageY;
  bool m_bTitleFlag = false;
};

}  // namespace hu
