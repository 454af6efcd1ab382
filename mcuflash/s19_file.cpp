#include "mcuflash/s19_file.h"

#include <new>
#include <utility>

#include "common/platform/errors.h"
#include "common/platform/trace.h"

namespace hu {

CS19File::CS19File(Files& files, std::string modulePath)
    : m_files(files), m_strModulePath(std::move(modulePath)) {}

CS19File::~CS19File() {
  CloseFile();
}

std::string CS19File::ProgramDirectory() const {
  const size_t slash = m_strModulePath.rfind('\\');
  return slash == std::string::npos ? std::string() : m_strModulePath.substr(0, slash + 1);
}

bool CS19File::Select(bool filterEnabled, int sizeCode) {
  m_bFilter = filterEnabled;
  m_nSizeCode = sizeCode;
  return Find();
}

bool CS19File::Find() {
  m_bFound = false;
  m_strFileName.clear();
  m_strFullPath.clear();
  const std::string dir = ProgramDirectory();
  FindData entry;
  std::unique_ptr<FindHandle> find = m_files.FindFirst(dir + "*.s19", &entry);
  if (!find) {
    Trace("CS19File::Find no *.s19 in %s\n", dir.c_str());
    return false;
  }
  const char* token = nullptr;
  if (m_nSizeCode == 0) token = "64K";
  if (m_nSizeCode == 1) token = "128K";
  do {
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    bool take = false;
    if (!m_bFilter || m_nSizeCode == -1) {
      take = true;
    } else if (token != nullptr) {
      take = entry.name.find(token) != std::string::npos &&
             entry.name.find("3900R") != std::string::npos;
    }
    if (take) {
      m_bFound = true;
      m_strFileName = entry.name;
      m_strFullPath = dir + entry.name;
      return true;
    }
  } while (find->Next(&entry));
  Trace("CS19File::Find no image for size code %d\n", m_nSizeCode);
  return false;
}

bool CS19File::OpenFile(const char* who) {
  CloseFile();
  m_hFile = m_files.Open(m_strFullPath, FileAccess::Read, FileCreate::OpenExisting, 0);
  if (!m_hFile) {
    Trace("%s CreateFile %s failed, err = %u\n", who, m_strFullPath.c_str(), GetLastError());
    return false;
  }
  return true;
}

uint64_t CS19File::FileSize() const {
  return m_hFile ? m_hFile->Size() : 0;
}

bool CS19File::ReadAll(const char* who) {
  size_t total = 0;
  while (total < m_nTextLen) {
    uint32_t done = 0;
    if (!m_hFile->Read(m_text.data() + total, static_cast<uint32_t>(m_nTextLen - total), &done)) {
      Trace("%s ReadFile failed, err = %u\n", who, GetLastError());
      return false;
    }
    if (done == 0) {
      Trace("%s ReadFile short: %u of %u\n", who, static_cast<unsigned>(total),
            static_cast<unsigned>(m_nTextLen));
      return false;
    }
    total += done;
  }
  return true;
}

void CS19File::CloseFile() {
  m_hFile.reset();
}

void CS19File::FreeText() {
  m_text.clear();
  m_text.shrink_to_fit();
}

bool CS19File::LoadFile(const char* who) {
  FreeText();
  m_nTextLen = 0;
  if (!OpenFile(who)) return false;
  const uint64_t size = FileSize();
  if (size == 0 || size > kMaxFileSize) {
    Trace("%s file size %llu refused\n", who, static_cast<unsigned long long>(size));
    CloseFile();
    return false;
  }
  try {
    m_text.assign(static_cast<size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    Trace("%s out of memory\n", who);
    CloseFile();
    return false;
  }
  m_nTextLen = static_cast<size_t>(size);
  const bool ok = ReadAll(who);
  CloseFile();
  if (!ok) {
    FreeText();
    m_nTextLen = 0;
  }
  return ok;
}

}  // namespace hu
