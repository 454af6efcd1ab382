#include "canprobe/dialog_update_file.h"

#include "common/platform/trace.h"

namespace hu {

namespace {
// Entry names of `folder` (trailing backslash) matching `pattern`; folders
// only when `folders` is set, files only otherwise.
std::vector<std::string> List(Files& files, const std::string& folder, const char* pattern, bool folders) {
  std::vector<std::string> names;
  FindData data;
  std::unique_ptr<FindHandle> find = files.FindFirst(folder + pattern, &data);
  if (!find) return names;
  do {
    const bool isFolder = (data.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder == folders && !data.name.empty()) names.push_back(data.name);
  } while (find->Next(&data));
  return names;
}
}  // namespace

DialogFolderBrowse::DialogFolderBrowse(Desktop& desktop, Dialog* parent, Files& files, const std::string& start)
    : Dialog(desktop, IDD, parent), m_files(files), m_strStart(start) {
  Template().title = "";
  Template().rect = Rect{100, 40, 600, 400};
  DefineControl(ControlKind::Static, IDC_PROMPT, "请选择路径:", Rect{10, 10, 580, 24});
  DefineControl(ControlKind::TreeView, IDC_TREE, "", Rect{10, 40, 580, 290});
  DefineControl(ControlKind::PushButton, IDOK, "确定", Rect{120, 340, 140, 44});
  DefineControl(ControlKind::PushButton, IDCANCEL, "取消", Rect{340, 340, 140, 44});
}

bool DialogFolderBrowse::OnInitDialog() {
  m_paths.clear();
  m_filled.clear();
  Control* tree = GetDlgItem(IDC_TREE);
  if (tree == nullptr) return true;
  for (const std::string& name : List(m_files, "\\", "*", true)) {
    const int item = tree->InsertTreeItem(name);
    if (item < 0) continue;
    m_paths.resize(item + 1);
    m_filled.resize(item + 1, false);
    m_paths[item] = "\\" + name + "\\";
  }
  return true;
}

void DialogFolderBrowse::AddChildren(int item) {
  Control* tree = GetDlgItem(IDC_TREE);
  if (tree == nullptr || item < 0 || item >= static_cast<int>(m_paths.size()) || m_filled[item]) return;
  m_filled[item] = true;
  const std::string base = m_paths[item];
  for (const std::string& name : List(m_files, base, "*", true)) {
    const int child = tree->InsertTreeItem(name, item);
    if (child < 0) continue;
    m_paths.resize(child + 1);
    m_filled.resize(child + 1, false);
    m_paths[child] = base + name + "\\";
  }
  tree->Expand(item, true);
}

std::string DialogFolderBrowse::PathOf(int item) const {
  return item >= 0 && item < static_cast<int>(m_paths.size()) ? m_paths[item] : std::string();
}

bool DialogFolderBrowse::OnNotify(int id, int code) {
  if (id != IDC_TREE || code != TVN_SELCHANGED) return false;
  const Control* tree = GetDlgItem(IDC_TREE);
  if (tree != nullptr) AddChildren(tree->GetCurSel());
  return true;
}

void DialogFolderBrowse::OnOK() {
  const Control* tree = GetDlgItem(IDC_TREE);
  m_strFolder = tree != nullptr ? PathOf(tree->GetCurSel()) : std::string();
  EndDialog(m_strFolder.empty() ? IDCANCEL : IDOK);
}

DialogUpdateFile::DialogUpdateFile(Desktop& desktop, Dialog* parent, Files& files, const std::string& moduleDir)
    : Dialog(desktop, IDD, parent), m_files(files), m_strModuleDir(moduleDir) {
  Template().title = "";
  Template().rect = Rect{100, 40, 600, 400};
  DefineControl(ControlKind::Static, IDC_PROMPT, "请选择要升级的hex文件:", Rect{10, 10, 480, 24});
  DefineControl(ControlKind::PushButton, IDC_BROWSE, "...", Rect{500, 6, 90, 32});
  DefineControl(ControlKind::TreeView, IDC_TREE, "", Rect{10, 40, 580, 290});
  DefineControl(ControlKind::PushButton, IDOK, "确定", Rect{120, 340, 140, 44});
  DefineControl(ControlKind::PushButton, IDCANCEL, "取消", Rect{340, 340, 140, 44});
}

std::string& DialogUpdateFile::LastFolder() {
  static std::string folder;
  return folder;
}

bool DialogUpdateFile::OnInitDialog() {
  m_strFolder = LastFolder().empty() ? m_strModuleDir + "\\" : LastFolder();
  m_strFileName.clear();
  Fill();
  return true;
}

void DialogUpdateFile::Fill() {
  Control* tree = GetDlgItem(IDC_TREE);
  if (tree == nullptr) return;
  tree->DeleteAllItems();
  for (const std::string& name : List(m_files, m_strFolder, "*.canbox", false)) tree->InsertTreeItem(name);
}

bool DialogUpdateFile::OnCommand(int id) {
  if (id != IDC_BROWSE) return false;
  DialogFolderBrowse browse(GetDesktop(), this, m_files, m_strModuleDir);
  if (browse.DoModal() == IDOK && !browse.Folder().empty()) {
    m_strFolder = browse.Folder();
    LastFolder() = m_strFolder;
    SetWindowText(m_strFolder);
    Fill();
  }
  return true;
}

void DialogUpdateFile::OnOK() {
  const Control* tree = GetDlgItem(IDC_TREE);
  const int item = tree != nullptr ? tree->GetCurSel() : -1;
  m_strFileName = item >= 0 ? tree->GetItemText(item) : std::string();
  Trace("%s\n", m_strFileName.c_str());
  EndDialog(IDOK);
}

}  // namespace hu
