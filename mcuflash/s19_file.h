#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/platform/files.h"

namespace hu {

// Where the updater reports to its dialog. `code` and `value` are the wParam
// and lParam of UpdateNotifyMsg; `sync` asks for a sent rather than posted
// message (image decoding progress, code 9).
class McuNotifier {
 public:
  virtual ~McuNotifier() = default;
  virtual void Notify(uint32_t code, int64_t value, bool sync) = 0;
};

enum : uint32_t { kNotifyDecodeProgress = 9 };

// The ".s19" file beside the program: how it is chosen and read. The two
// readers differ in what they make of the text.
class CS19File {
 public:
  static constexpr uint32_t kImageBase = 0xA000;
  // Far above any MCU image; keeps a stray huge file from exhausting memory.
  static constexpr uint64_t kMaxFileSize = 16u * 1024u * 1024u;

  // `modulePath` is the program's own device path (GetModuleFileName).
  CS19File(Files& files, std::string modulePath);
  virtual ~CS19File();
  CS19File(const CS19File&) = delete;
  CS19File& operator=(const CS19File&) = delete;

  // Looks for the image file in the program's folder. sizeCode: 0 = a "64K"
  // image, 1 = a "128K" image, -1 = any; used only with the filter enabled.
  virtual bool Select(bool filterEnabled, int sizeCode);
  virtual bool Load() = 0;
  // Copies the next block (image bytes, or one record line) into
  // destination[0, maximum); returns its size, 0 at the end.
  virtual size_t ReadBlock(uint8_t* destination, size_t maximum) = 0;
  virtual uint32_t BlockAddress() const { return m_dwPosition + kImageBase; }
  virtual uint32_t TotalLength() const = 0;
  virtual uint32_t Position() const { return m_dwPosition; }
  virtual void Rewind() { m_dwPosition = 0; }
  virtual std::string FileName() const { return m_strFileName; }
  virtual std::string Tag() const = 0;

  bool Found() const { return m_bFound; }
  const std::string& FullPath() const { return m_strFullPath; }
  bool FilterEnabled() const { return m_bFilter; }
  int SizeCode() const { return m_nSizeCode; }
  // The program's folder, with its trailing '\'.
  std::string ProgramDirectory() const;

 protected:
  // Opens, reads the whole selected file into the text buffer and closes it.
  bool LoadFile(const char* who);
  bool OpenFile(const char* who);
  bool ReadAll(const char* who);
  void CloseFile();
  uint64_t FileSize() const;
  bool Find();
  void FreeText();

  Files& m_files;
  std::string m_strModulePath;
  bool m_bFound = false;
  std::string m_strFileName;
  std::string m_strFullPath;
  bool m_bFilter = false;
  int m_nSizeCode = 0;
  std::unique_ptr<File> m_hFile;
  std::vector<char> m_text;
  size_t m_nTextLen = 0;
  uint32_t m_dwPosition = 0;
};

}  // namespace hu
