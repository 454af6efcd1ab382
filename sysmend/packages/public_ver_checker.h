#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/platform/files.h"

namespace hu {

// Result of judging one update file; the text table is shared with the dialog.
enum VerdictCode : uint32_t {
  kVerdictValid = 0,
  kVerdictOsCpu = 1,
  kVerdictOsMachine = 2,
  kVerdictOsGps = 3,
  kVerdictOsFlash = 4,
  kVerdictOs3G = 5,
  kVerdictOsCmmb = 6,
  kVerdictBootCpu = 7,
  kVerdictBootMachine = 8,
  kVerdictBootFileSystem = 9,
  kVerdictAppCmmb = 10,
  kVerdictAppBluetooth = 11,
  kVerdictSameOs = 12,
  kVerdictSameBoot = 13,
  kVerdictSameApp = 14,
  kVerdictMissing = 15,
  kVerdictIgnored = 16,
  kVerdictInvalidPack = 17,
  kVerdictSameKvr = 18,
  kVerdictCustomerId = 19,
  kVerdictUnknownLocal = 20,
  kVerdictOsGeneration = 21,
  kVerdictAppGeneration = 22,
  kVerdictOsAppMismatch = 23,
  kVerdictCount = 24,
};

// The fixed text of a verdict; "" for codes outside the table.
const char* VerdictText(uint32_t code);

struct OsVerInfo {
  uint8_t bytes[17] = {};
  uint8_t byOSCPU() const { return bytes[0]; }
  uint8_t byOSMachine() const { return bytes[1]; }
  uint8_t byOSGPS() const { return bytes[5]; }
  uint8_t byOSFlash() const { return bytes[8]; }
  uint8_t byOS3G() const { return bytes[10]; }
  uint8_t byOSCMMB() const { return bytes[11]; }
};

struct BootVerInfo {
  uint8_t bytes[10] = {};
  uint8_t byBootCPU() const { return bytes[0]; }
  uint8_t byBootMachine() const { return bytes[1]; }
  uint8_t byBootFileSystem() const { return bytes[5]; }
};

// Compares installed and update version texts. OS and boot versions are
// hexadecimal bit strings describing the hardware an image is built for.
class CPublicVerChecker {
 public:
  explicit CPublicVerChecker(Files& files) : files_(files) {}
  virtual ~CPublicVerChecker() = default;

  virtual uint32_t CheckOSVer(const std::string& local, const std::string& update, bool checkSame);
  virtual uint32_t CheckBootVer(const std::string& local, const std::string& update, bool checkSame);
  virtual uint32_t CheckAppVer(const std::string& local, const std::string& update, bool checkSame);
  virtual bool CheckResVer(const std::string& local, const std::string& update);
  virtual uint32_t CheckKvrVer(const std::string& local, const std::string& update, bool checkSame);

  // Field (first bit, bit count) of a hexadecimal text; bit 0 is the first digit's top bit.
  static bool GetInfo(const std::string& text, uint32_t firstBit, uint32_t bitCount, uint8_t* out);
  static bool DecodeOsVer(const std::string& text, OsVerInfo* out);
  static bool DecodeBootVer(const std::string& text, BootVerInfo* out);

 private:
  Files& files_;
};

// Orders incremental pack paths by the "a.b.c" version of their file names,
// highest first.
void SortPacksByVersion(std::vector<std::string>& packPaths);

}  // namespace hu
