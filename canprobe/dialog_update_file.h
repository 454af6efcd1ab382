#pragma once
#include <string>
#include <vector>

#include "common/platform/files.h"
#include "common/ui/dialog.h"

namespace hu {

// A folder chooser over the unit's folders: a tree of folder names, each
// opened on selection ("请选择路径:").
class DialogFolderBrowse : public Dialog {
 public:
  enum { IDD = 135, IDC_TREE = 1000, IDC_PROMPT = 1001 };
  DialogFolderBrowse(Desktop& desktop, Dialog* parent, Files& files, const std::string& start);
  // The chosen folder with a trailing backslash, after OK.
  const std::string& Folder() const { return m_strFolder; }

 protected:
  bool OnInitDialog() override;
  bool OnNotify(int id, int code) override;
  void OnOK() override;

 private:
  void AddChildren(int item);
  std::string PathOf(int item) const;

  Files& m_files;
  std::string m_strStart;
  std::string m_strFolder;
  std::vector<std::string> m_paths;  // by tree item handle, with trailing backslash
  std::vector<bool> m_filled;
};

// The upgrade file selection (dialog 134): the "*.canbox" files of a folder.
class DialogUpdateFile : public Dialog {
 public:
  enum { IDD = 134, IDC_TREE = 1044, IDC_BROWSE = 1019, IDC_PROMPT = 1000 };
  // `moduleDir` without a trailing backslash.
  DialogUpdateFile(Desktop& desktop, Dialog* parent, Files& files, const std::string& moduleDir);

  // The folder chosen last in this run (with a trailing backslash); empty before any.
  static std::string& LastFolder();
  const std::string& Folder() const { return m_strFolder; }
  const std::string& FileName() const { return m_strFileName; }

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id) override;
  void OnOK() override;

 private:
  void Fill();

  Files& m_files;
  std::string m_strModuleDir;
  std::string m_strFolder;
  std::string m_strFileName;
};

}  // namespace hu
