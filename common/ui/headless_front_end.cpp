#include "common/ui/headless_front_end.h"

#include <cstdio>

#include "common/platform/sync.h"
#include "common/ui/control.h"
#include "common/ui/dialog.h"

namespace hu {

namespace {

std::string Prefix(const Dialog& dialog) { return "[" + std::to_string(dialog.ResourceId()) + "]"; }

std::string ControlPrefix(const Dialog& dialog, const Control& control) {
  return Prefix(dialog) + " " + std::to_string(control.GetDlgCtrlID()) + " ";
}

std::string Geometry(const Rect& r) {
  return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.w) + "x" + std::to_string(r.h);
}

bool HasRows(const Control& c) {
  return c.Kind() == ControlKind::ListView || c.Kind() == ControlKind::TreeView || c.Kind() == ControlKind::Tab;
}

std::string ItemLine(const Control& c, int index, char sign) {
  std::string kind = ControlKindName(c.Kind());
  if (index < 0 || index >= c.GetItemCount()) return kind + " item " + std::to_string(index) + " " + sign;
  const ControlItem& item = c.Items()[static_cast<size_t>(index)];
  std::string line;
  switch (c.Kind()) {
    case ControlKind::TreeView:
      line = "tree item " + std::to_string(index) + " (parent " + std::to_string(item.parent) + ") " + sign;
      break;
    case ControlKind::Tab:
      line = "tab " + std::to_string(index) + " " + sign;
      break;
    default:
      line = kind + " row " + std::to_string(index) + " " + sign;
      break;
  }
  if (sign == '-') return line;
  for (size_t i = 0; i < item.cells.size(); ++i) {
    line += (i == 0 ? " " : " | ") + HeadlessFrontEnd::Quote(item.cells[i]);
  }
  if (item.cells.empty()) line += " \"\"";
  if (item.expanded) line += " expanded";
  if (item.checked) line += " checked";
  return line;
}

std::string PanelLineText(const Dialog& dialog, const Control& c, int index) {
  const PanelLine* line = c.GetPanelLine(index);
  if (line == nullptr) return {};
  std::string out = Prefix(dialog) + " " + std::to_string(c.GetDlgCtrlID()) + ":" + std::to_string(index) + " " +
                    HeadlessFrontEnd::Quote(line->text);
  if (line->color != 0) out += " color=" + std::to_string(line->color);
  if (line->emphasised) out += " bold";
  return out + "\n";
}

// Everything a person sees of one control, for a snapshot.
std::string ControlSnapshot(const Dialog& dialog, const Control& c, const std::string& suffix) {
  std::string out;
  bool worthALine = !c.GetWindowText().empty() || !suffix.empty() ||
                    (c.Kind() != ControlKind::Static && c.Kind() != ControlKind::Panel &&
                     c.Kind() != ControlKind::Edit);
  if (worthALine) out += ControlPrefix(dialog, c) + HeadlessFrontEnd::Describe(c) + suffix + "\n";
  if (HasRows(c)) {
    for (int i = 0; i < c.GetItemCount(); ++i) out += ControlPrefix(dialog, c) + ItemLine(c, i, '+') + "\n";
  }
  if (c.Kind() == ControlKind::Panel) {
    for (int i = 0; i < c.GetPanelLineCount(); ++i) {
      if (!c.GetPanelLine(i)->text.empty()) out += PanelLineText(dialog, c, i);
    }
  }
  return out;
}

std::string DialogSnapshot(const Dialog& dialog) {
  std::string out;
  for (const auto& control : dialog.Controls()) {
    if (dialog.IsControlShown(*control)) out += ControlSnapshot(dialog, *control, "");
  }
  for (const Dialog* child : dialog.GetChildren()) {
    if (child->IsShown()) out += DialogSnapshot(*child);
  }
  return out;
}

// Dialog-level changes of a child page matter only while its parent is seen.
bool DialogEventSeen(const Dialog& dialog) {
  return !dialog.IsChild() || dialog.GetParent() == nullptr || dialog.GetParent()->IsShown();
}

const char* OpName(ItemOp op) {
  switch (op) {
    case ItemOp::Inserted: return "insert";
    case ItemOp::Changed: return "change";
    case ItemOp::Deleted: return "delete";
    case ItemOp::Cleared: return "clear";
    case ItemOp::None: break;
  }
  return "none";
}

const char* ControlEventName(uint32_t changes) {
  static const struct {
    uint32_t bit;
    const char* name;
  } kNames[] = {
      {kChangeText, "text"},     {kChangeAppend, "append"},    {kChangeEnabled, "enable"},
      {kChangeVisible, "visible"}, {kChangeChecked, "check"},   {kChangeRange, "range"},
      {kChangePos, "pos"},       {kChangeFont, "font"},        {kChangeRect, "rect"},
      {kChangeItems, "item"},    {kChangeSelection, "select"}, {kChangeColumns, "column"},
      {kChangeLine, "line"},     {kChangeScroll, "scroll"},
  };
  for (const auto& entry : kNames) {
    if ((changes & entry.bit) != 0) return entry.name;
  }
  return "change";
}

void DialogFields(nlohmann::json& j, const Dialog& d) {
  j["text"] = d.GetWindowText();
  j["visible"] = d.IsShown();
  const Rect& r = d.GetWindowRect();
  j["x"] = r.x;
  j["y"] = r.y;
  j["w"] = r.w;
  j["h"] = r.h;
  j["topmost"] = d.IsTopmost();
}

void RectFields(nlohmann::json& j, const Rect& r) {
  j["x"] = r.x;
  j["y"] = r.y;
  j["w"] = r.w;
  j["h"] = r.h;
}

}  // namespace

HeadlessFrontEnd::HeadlessFrontEnd(Desktop& desktop, std::ostream* out, std::ostream* uiLog)
    : desktop_(desktop), out_(out), uiLog_(uiLog), start_(desktop.clock().GetTickCount()) {
  desktop_.AddObserver(this);
  desktop_.loop().AddAgent(this);
}

HeadlessFrontEnd::~HeadlessFrontEnd() {
  desktop_.loop().RemoveAgent(this);
  desktop_.RemoveObserver(this);
  Flush();
}

std::string HeadlessFrontEnd::Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char ch : text) {
    switch (ch) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (ch < 0x20 || ch == 0x7F) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\x%02X", ch);
          out += buffer;
        } else {
          out += static_cast<char>(ch);
        }
    }
  }
  return out + "\"";
}

std::string HeadlessFrontEnd::Describe(const Control& c) {
  std::string kind = ControlKindName(c.Kind());
  std::string out;
  switch (c.Kind()) {
    case ControlKind::Progress:
      out = kind + " " + std::to_string(c.GetPos()) + " (" + std::to_string(c.GetRangeMin()) + ".." +
            std::to_string(c.GetRangeMax()) + ")";
      break;
    case ControlKind::ListView:
    case ControlKind::TreeView:
    case ControlKind::Tab:
      out = kind + " " + Quote(c.GetWindowText()) + " items=" + std::to_string(c.GetItemCount()) +
            " sel=" + std::to_string(c.GetCurSel());
      break;
    default:
      out = kind + " " + Quote(c.GetWindowText());
      break;
  }
  if (!c.IsWindowEnabled()) out += " disabled";
  if ((c.Kind() == ControlKind::CheckBox || c.Kind() == ControlKind::RadioButton) && c.GetCheck() != 0) {
    out += " checked";
  }
  return out;
}

std::string HeadlessFrontEnd::FormatLines(const UiEvent& event) {
  if (event.dialog == nullptr) return {};
  const Dialog& d = *event.dialog;
  switch (event.kind) {
    case UiEventKind::DialogOpened:
      return Prefix(d) + " open " + Quote(d.GetWindowText()) + " " + Geometry(d.GetWindowRect()) + "\n";
    case UiEventKind::DialogClosed:
      return Prefix(d) + " close " + std::to_string(event.result) + "\n";
    case UiEventKind::Flush:
      return {};
    case UiEventKind::DialogChanged: {
      if (!DialogEventSeen(d)) return {};
      std::string out;
      if ((event.changes & kChangeVisible) != 0) {
        if (d.IsShown()) {
          out += Prefix(d) + " shown\n" + DialogSnapshot(d);
        } else {
          out += Prefix(d) + " hidden\n";
        }
      }
      if ((event.changes & kChangeText) != 0) out += Prefix(d) + " title " + Quote(d.GetWindowText()) + "\n";
      if ((event.changes & kChangeRect) != 0) out += Prefix(d) + " move " + Geometry(d.GetWindowRect()) + "\n";
      if ((event.changes & kChangeTopmost) != 0) {
        out += Prefix(d) + (d.IsTopmost() ? " topmost\n" : " not topmost\n");
      }
      return out;
    }
    case UiEventKind::PanelLineChanged:
      if (event.control == nullptr || !d.IsControlShown(*event.control)) return {};
      return PanelLineText(d, *event.control, event.index);
    case UiEventKind::ControlChanged:
      break;
  }
  if (event.control == nullptr) return {};
  const Control& c = *event.control;
  uint32_t changes = event.changes;
  if ((changes & kChangeVisible) != 0) {
    if (!d.IsShown()) return {};
    if (!c.IsWindowVisible()) return ControlPrefix(d, c) + Describe(c) + " hidden\n";
    return ControlSnapshot(d, c, " shown");
  }
  if (!d.IsControlShown(c)) return {};
  std::string prefix = ControlPrefix(d, c);
  std::string out;
  if ((changes & (kChangeText | kChangeEnabled | kChangeChecked)) != 0) out += prefix + Describe(c) + "\n";
  if ((changes & kChangeAppend) != 0) out += prefix + "edit += " + Quote(event.text) + "\n";
  if ((changes & kChangeScroll) != 0) out += prefix + "edit scroll " + std::to_string(c.GetFirstVisibleLine()) + "\n";
  if ((changes & (kChangeRange | kChangePos)) != 0) out += prefix + Describe(c) + "\n";
  if ((changes & kChangeRect) != 0) out += prefix + "rect " + Geometry(c.GetRect()) + "\n";
  if ((changes & kChangeFont) != 0) {
    const Font& f = c.GetFont();
    out += prefix + "font " + Quote(f.face) + " " + std::to_string(f.height) + " " + std::to_string(f.weight) + "\n";
  }
  if ((changes & kChangeItems) != 0) {
    switch (event.op) {
      case ItemOp::Inserted: out += prefix + ItemLine(c, event.index, '+') + "\n"; break;
      case ItemOp::Changed: out += prefix + ItemLine(c, event.index, '=') + "\n"; break;
      case ItemOp::Deleted: out += prefix + ItemLine(c, event.index, '-') + "\n"; break;
      case ItemOp::Cleared: out += prefix + ControlKindName(c.Kind()) + " cleared\n"; break;
      case ItemOp::None: break;
    }
  }
  if ((changes & kChangeSelection) != 0) {
    int sel = c.GetCurSel();
    out += prefix + ControlKindName(c.Kind()) + " sel " +
           (sel < 0 ? std::string("none") : std::to_string(sel) + " " + Quote(c.GetItemText(sel))) + "\n";
  }
  if ((changes & kChangeColumns) != 0 && event.index >= 0 &&
      event.index < static_cast<int>(c.Columns().size())) {
    const ListColumn& col = c.Columns()[static_cast<size_t>(event.index)];
    out += prefix + "list column " + std::to_string(event.index) + " " + Quote(col.caption) + " " +
           std::to_string(col.width) + "\n";
  }
  return out;
}

nlohmann::json HeadlessFrontEnd::ToJson(const UiEvent& event, uint32_t t) {
  nlohmann::json j;
  if (event.dialog == nullptr || event.kind == UiEventKind::Flush) return j;
  const Dialog& d = *event.dialog;
  j["t"] = t;
  j["dialog"] = d.ResourceId();
  switch (event.kind) {
    case UiEventKind::DialogOpened:
      j["event"] = "open";
      DialogFields(j, d);
      return j;
    case UiEventKind::DialogClosed:
      j["event"] = "close";
      DialogFields(j, d);
      j["result"] = event.result;
      return j;
    case UiEventKind::DialogChanged:
      if ((event.changes & kChangeVisible) != 0) {
        j["event"] = d.IsWindowVisible() ? "show" : "hide";
      } else if ((event.changes & kChangeText) != 0) {
        j["event"] = "title";
      } else if ((event.changes & kChangeRect) != 0) {
        j["event"] = "move";
      } else {
        j["event"] = "topmost";
      }
      DialogFields(j, d);
      return j;
    default:
      break;
  }
  if (event.control == nullptr) return nlohmann::json();
  const Control& c = *event.control;
  j["control"] = c.GetDlgCtrlID();
  j["kind"] = ControlKindName(c.Kind());
  j["enabled"] = c.IsWindowEnabled();
  j["visible"] = d.IsControlShown(c);
  if (event.kind == UiEventKind::PanelLineChanged) {
    j["event"] = "line";
    j["line"] = event.index;
    const PanelLine* line = c.GetPanelLine(event.index);
    if (line != nullptr) {
      j["text"] = line->text;
      j["color"] = line->color;
      j["bold"] = line->emphasised;
      RectFields(j, line->rect);
    }
    return j;
  }
  j["event"] = ControlEventName(event.changes);
  if ((event.changes & kChangeAppend) != 0) {
    j["text"] = event.text;
    j["length"] = c.GetWindowText().size();
  } else {
    j["text"] = c.GetWindowText();
  }
  switch (c.Kind()) {
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
      j["checked"] = c.GetCheck() != 0;
      break;
    case ControlKind::Progress:
      j["pos"] = c.GetPos();
      j["min"] = c.GetRangeMin();
      j["max"] = c.GetRangeMax();
      break;
    case ControlKind::ListView:
    case ControlKind::TreeView:
    case ControlKind::Tab:
      j["selection"] = c.GetCurSel();
      j["count"] = c.GetItemCount();
      break;
    default:
      break;
  }
  if ((event.changes & kChangeRect) != 0) RectFields(j, c.GetRect());
  if ((event.changes & kChangeFont) != 0) {
    j["font"] = {{"face", c.GetFont().face}, {"height", c.GetFont().height}, {"weight", c.GetFont().weight}};
  }
  if ((event.changes & (kChangeItems | kChangeSelection)) != 0) {
    j["item"] = event.index;
    if ((event.changes & kChangeItems) != 0) j["op"] = OpName(event.op);
    if (event.index >= 0 && event.index < c.GetItemCount() && event.op != ItemOp::Deleted) {
      const ControlItem& item = c.Items()[static_cast<size_t>(event.index)];
      j["cells"] = item.cells;
      if (c.Kind() == ControlKind::TreeView) {
        j["parent"] = item.parent;
        j["expanded"] = item.expanded;
      }
      if (c.Kind() == ControlKind::ListView) j["checked"] = item.checked;
    }
  }
  if ((event.changes & kChangeColumns) != 0 && event.index >= 0 &&
      event.index < static_cast<int>(c.Columns().size())) {
    j["item"] = event.index;
    j["caption"] = c.Columns()[static_cast<size_t>(event.index)].caption;
    j["width"] = c.Columns()[static_cast<size_t>(event.index)].width;
  }
  if ((event.changes & kChangeScroll) != 0) j["scroll"] = c.GetFirstVisibleLine();
  return j;
}

void HeadlessFrontEnd::OnUiEvent(const UiEvent& event) {
  if (event.kind == UiEventKind::Flush) {
    Flush();
    return;
  }
  if (out_ != nullptr) {
    std::string lines = FormatLines(event);
    if (!lines.empty()) {
      *out_ << lines;
      dirty_ = true;
    }
  }
  if (uiLog_ != nullptr) {
    nlohmann::json j = ToJson(event, desktop_.clock().GetTickCount() - start_);
    if (!j.is_null()) {
      *uiLog_ << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
      dirty_ = true;
    }
  }
}

uint32_t HeadlessFrontEnd::Step() {
  if (dirty_) Flush();
  return INFINITE;
}

void HeadlessFrontEnd::Flush() {
  if (out_ != nullptr) out_->flush();
  if (uiLog_ != nullptr) uiLog_->flush();
  dirty_ = false;
}

}  // namespace hu
