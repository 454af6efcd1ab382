#pragma once
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "sim/faults/answer_faults.h"

namespace hu {

// Faults the simulated CAN box puts on its answers. Probabilities are 0..1;
// the same seed gives the same faults for the same input.
using CanBoxFaults = AnswerFaults;

struct CanBoxSimConfig {
  // The vehicle type the box reports (1..19 characters). The tool finds it
  // behind the MCU only when it has 11 characters and begins with 'V'.
  std::string type = "VZD3A000105";
  // Host files for the programmed image (UNIT/flash/canbox.bin) and the
  // vehicle id (UNIT/flash/canbox.ini); empty: memory only. Both are read
  // back when the simulator starts.
  std::string imagePath;
  std::string iniPath;
  CanBoxFaults faults;
};

// The CAN box at the far end of the tool's link, fed with the box's own byte
// stream (raw, or what the MCU relays) in any split. In its application it
// answers the vehicle-type requests "\r$Z2N0\r\n" and "\r$Z220\r\n" with
// "\r$Z" + ('0' + n) + the n type characters + a check + "\r\n", takes the
// vehicle id of "\r$Z2C?\r\n" and enters its loader on "\r$Z2B0\r\n". The
// loader takes "\r$STM32-IAP0\r\n" and then the STM32 records 'A' (erase),
// 'B' (program) and 'D' (leave), checking both checks, the payload length of
// each command and the doubling of every 0x0D; "\r$STM32-IAP1\r\n" erases the
// IAP flag and returns to the application. Accepted commands are answered
// "OK\r\n", damaged or misplaced records "ER\r\n". Thread-safe.
class CanBoxSimulator {
 public:
  static constexpr uint32_t kFlashBase = 0x08002000;
  static constexpr size_t kMaxImage = 1u << 20;
  static constexpr size_t kMaxPending = 64 * 1024;

  enum class Mode { App, Loader, Iap };

  struct Stats : AnswerFaultStats {
    uint32_t typeRequests = 0;
    uint32_t loaderCommands = 0;
    uint32_t carIdSets = 0;
    uint32_t banners = 0;
    uint32_t erases = 0;
    uint32_t programs = 0;       // 'B' records written
    uint32_t leaves = 0;
    uint32_t badRecords = 0;     // records that failed a check or came out of place
    uint32_t ignored = 0;        // well-formed commands the current mode does not take
  };

  explicit CanBoxSimulator(CanBoxSimConfig config = {});
  CanBoxSimulator(const CanBoxSimulator&) = delete;
  CanBoxSimulator& operator=(const CanBoxSimulator&) = delete;

  // Takes bytes the tool sent; returns what the box answers to them.
  std::vector<uint8_t> Feed(const uint8_t* bytes, size_t n);
  std::vector<uint8_t> Feed(const std::vector<uint8_t>& bytes) { return Feed(bytes.data(), bytes.size()); }

  // False (unchanged) for an empty type or one over 19 characters.
  bool SetType(const std::string& type);
  void SetFaults(const CanBoxFaults& faults);

  std::string Type() const;
  int VehicleId() const;  // -1 until one was set
  Mode GetMode() const;
  // The programmed flash from 0x08002000, as far as program records reached.
  std::vector<uint8_t> Image() const;
  Stats GetStats() const;

  // The reply the box gives to a type request for `type`.
  static std::vector<uint8_t> TypeReply(const std::string& type);

 private:
  enum class Parse { Done, NeedMore, Bad };
  struct Record {
    uint8_t command = 0;
    uint32_t address = 0;
    std::vector<uint8_t> payload;
  };

  void Process(std::vector<uint8_t>* out);
  void OnTextCommand(uint8_t a, uint8_t b, uint8_t c, std::vector<uint8_t>* out);
  void OnBanner(uint8_t digit, std::vector<uint8_t>* out);
  void OnRecord(const Record& record, std::vector<uint8_t>* out);
  Parse ParseRecord(size_t start, size_t* consumed, Record* record) const;
  void Answer(std::vector<uint8_t> bytes, std::vector<uint8_t>* out);
  void AnswerOk(std::vector<uint8_t>* out) { Answer({'O', 'K', '\r', '\n'}, out); }
  void AnswerError(std::vector<uint8_t>* out) { Answer({'E', 'R', '\r', '\n'}, out); }
  void LoadFiles();
  void WriteIni() const;
  void TruncateImageFile() const;
  void WriteImageBytes(size_t offset, const uint8_t* bytes, size_t n) const;

  mutable std::mutex m_mutex;
  CanBoxSimConfig m_config;
  std::mt19937 m_rng;
  std::vector<uint8_t> m_rx;
  Stats m_stats;
  Mode m_mode = Mode::App;
  bool m_bErased = false;
  int m_nVehicleId = -1;
  std::vector<uint8_t> m_image;
};

}  // namespace hu
