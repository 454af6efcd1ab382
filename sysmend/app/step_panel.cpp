#include "sysmend/app/step_panel.h"

#include "common/ui/dialog.h"

namespace hu {
namespace {

struct StepCell {
  const char* text;
  int x0, x1;
};

const StepCell kFourSteps[] = {{"Start", 3, 63},    {"-->", 63, 108},  {"Update", 108, 188}, {"-->", 188, 233},
                               {"Finish", 233, 303}, {"-->", 303, 348}, {"Reboot", 348, 428}};
const StepCell kFiveSteps[] = {{"Start", 3, 63},     {"-->", 63, 108},  {"Prepare", 108, 188},
                               {"-->", 188, 233},    {"Reboot", 233, 308}, {"-->", 308, 353},
                               {"Update", 353, 433}, {"-->", 433, 478}, {"Finish", 478, 558}};

}  // namespace

StepPanel::StepPanel(Dialog& dialog, int controlId, int screenWidth)
    : dialog_(dialog), id_(controlId), screenWidth_(screenWidth) {}

Control* StepPanel::Panel() const { return dialog_.GetDlgItem(id_); }

const PanelLine* StepPanel::Line(int n) const {
  Control* panel = Panel();
  return panel ? panel->GetPanelLine(n) : nullptr;
}

int StepPanel::LineWidth() const {
  Control* panel = Panel();
  int width = panel ? panel->GetRect().w : 0;
  if (width < 1) width = screenWidth_;
  return width - 6;
}

void StepPanel::Put(int n, const PanelLine& line) {
  Control* panel = Panel();
  if (panel == nullptr || n < 0 || n >= kLines) return;
  panel->SetPanelLine(n, line);
}

void StepPanel::SetStepLayout(int steps) {
  const StepCell* cells = steps == 5 ? kFiveSteps : kFourSteps;
  int count = steps == 5 ? 9 : 7;
  m_nLayout = steps == 5 ? 5 : 4;
  m_nCurStep = -1;
  for (int i = 0; i < 9; ++i) {
    PanelLine line;
    if (i < count) {
      line.text = cells[i].text;
      line.rect = Rect{cells[i].x0, 3, cells[i].x1 - cells[i].x0, 27};
    }
    Put(i, line);
  }
}

void StepPanel::SelectStep(int step) {
  if (step < 0 || step > 8) return;
  if (m_nCurStep >= 0) {
    if (const PanelLine* old = Line(m_nCurStep)) {
      PanelLine l = *old;
      l.color = kBlack;
      l.emphasised = false;
      Put(m_nCurStep, l);
    }
  }
  if (const PanelLine* cur = Line(step)) {
    PanelLine l = *cur;
    l.color = kRed;
    l.emphasised = true;
    Put(step, l);
  }
  m_nCurStep = step;
}

void StepPanel::SetTitleLine(int k, const std::string& text, bool titleFlag) {
  int n = 9 + k;
  if (n < 9 || n >= kLines) return;
  m_bTitleFlag = titleFlag;
  PanelLine line;
  line.text = text;
  line.rect = Rect{3, k * kLineHeight + 3, LineWidth(), kLineHeight};
  Put(n, line);
}

void StepPanel::AppendLine(const std::string& text, COLORREF color, bool repaintNow, bool emphasised,
                           bool advance) {
  PanelLine line;
  line.text = text;
  line.color = color;
  line.emphasised = emphasised;
  line.rect = Rect{3, m_nAppendY, LineWidth(), kLineHeight};
  Put(m_nAppendLine, line);
  // The last line is reused once the panel is full rather than writing past it.
  if (advance && m_nAppendLine < kLines - 1) {
    ++m_nAppendLine;
    m_nAppendY += kLineHeight;
  }
  if (repaintNow) dialog_.UpdateWindow();
}

void StepPanel::Clear() {
  for (int n = kFirstMessageLine; n < kLines; ++n) Put(n, PanelLine());
  m_nAppendLine = kFirstMessageLine;
  m_nAppendY = kFirstMessageY;
}

void StepPanel::SetLine(int n, const std::string& text) {
  if (n < 0 || n >= kLines) return;
  if (const PanelLine* cur = Line(n)) {
    PanelLine l = *cur;
    l.text = text;
    Put(n, l);
  }
}

}  // namespace hu
