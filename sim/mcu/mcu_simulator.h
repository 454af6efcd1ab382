#pragma once
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "sim/faults/answer_faults.h"

namespace hu {

// The two MCU loaders: STM8 binary blocks in "!#" frames, S-record lines in
// "$#" frames.
enum class McuFamily { Block, Line };

// Faults the simulated MCU puts on its answers. Probabilities are 0..1; the
// same seed gives the same faults for the same input.
using McuFaults = AnswerFaults;

struct McuSimConfig {
  McuFamily family = McuFamily::Block;
  std::string version = "3900R20130101";
  // Host files written when an image is complete / a key configuration is
  // written (UNIT/flash/mcu.bin or mcu.s19, UNIT/flash/mcu.key); empty: kept
  // in memory only.
  std::string imagePath;
  std::string keyPath;
  // Start blocks answered "not ready" before the loader accepts one.
  uint32_t notReadyStarts = 0;
  McuFaults faults;
};

// What lies behind the MCU on the line it shares (a CAN box): the MCU hands it
// the data of the frames it relays and puts its answer on the line. Link kind
// 4 is a "$#" frame with command 0x33 and sub-command 0x08, kind 5 a "!#"
// frame with command 'A' and sub-command 'C'.
class McuRelayPeer {
 public:
  virtual ~McuRelayPeer() = default;
  virtual std::vector<uint8_t> OnRelay(int linkKind, const std::vector<uint8_t>& data) = 0;
};

// The MCU at the other end of COM4, as the updater sees it. Fed with the bytes
// the program sends, in any split, it answers the version query, takes start,
// data and end blocks of its family with real checks (frame checks, the block
// address sequence, the record checks of lines), keeps the programmed image,
// answers the key write and read-back, and puts the configured faults on its
// answers. Thread-safe.
class McuSimulator {
 public:
  static constexpr uint32_t kImageBase = 0xA000;
  static constexpr size_t kBlockBytes = 128;
  static constexpr size_t kMaxImage = 1u << 20;

  struct Stats : AnswerFaultStats {
    uint32_t frames = 0;        // whole frames with a good check
    uint32_t badFrames = 0;     // markers whose frame failed its checks
    uint32_t foreign = 0;       // good frames the MCU does not act on
    uint32_t versionQueries = 0;
    uint32_t startBlocks = 0;
    uint32_t dataBlocks = 0;     // accepted as the next block
    uint32_t repeatedBlocks = 0; // the last block again
    uint32_t rejectedBlocks = 0;
    uint32_t endBlocks = 0;
    uint32_t keyWrites = 0;
    uint32_t keyReads = 0;
    uint32_t heartbeatStops = 0;
    uint32_t relayed = 0;
    uint32_t relayedText = 0;    // unframed text commands passed to the box
  };

  explicit McuSimulator(McuSimConfig config = {});
  McuSimulator(const McuSimulator&) = delete;
  McuSimulator& operator=(const McuSimulator&) = delete;

  // The family the updater chooses for these platform values: blocks for
  // project type 20 or an MStar CPU, lines otherwise.
  static McuFamily FamilyFor(uint32_t projectType, const std::string& cpuType);

  // Takes bytes the program sent; returns what the MCU answers to them.
  std::vector<uint8_t> Feed(const uint8_t* bytes, size_t n);
  std::vector<uint8_t> Feed(const std::vector<uint8_t>& bytes) { return Feed(bytes.data(), bytes.size()); }

  void SetRelayPeer(McuRelayPeer* peer);
  // Kind 4 or 5: the CAN box's unframed text commands ("\r$Z2B0\r\n"), sent
  // between frames, go to the relay peer as well, and its answer comes back
  // as that kind's relay answer. 0 (default): they are ignored.
  void SetTextRelayKind(int linkKind);
  void SetVersion(const std::string& version);
  void SetFaults(const McuFaults& faults);

  McuFamily Family() const { return m_config.family; }
  // The block family's image: the bytes from 0xA000 on, as far as blocks came.
  std::vector<uint8_t> Image() const;
  // The line family's image: the record lines received, without line ends.
  std::vector<std::string> Lines() const;
  bool ImageComplete() const;
  std::vector<uint8_t> Key() const;
  Stats GetStats() const;

 private:
  struct Frame {
    bool xorFrame = true;
    uint8_t command = 0;
    uint8_t subCommand = 0;
    std::vector<uint8_t> data;
  };

  enum class Probe { Good, NeedMore, Bad };
  // Looks at the candidate whose marker is at `pos`; Good fills the frame and
  // its length in bytes.
  Probe ProbeAt(size_t pos, Frame* frame, size_t* total) const;
  void ParseFrames(std::vector<uint8_t>* out);
  // The first n bytes of m_rx, which belong to no frame, searched for text commands.
  void TakeText(size_t n, std::vector<uint8_t>* out);
  void OnFrame(const Frame& frame, std::vector<uint8_t>* out);
  void OnBlockCommand(const std::vector<uint8_t>& d, std::vector<uint8_t>* out);
  void OnLineCommand(const std::vector<uint8_t>& d, std::vector<uint8_t>* out);
  void Answer(const std::vector<uint8_t>& data, std::vector<uint8_t>* out);
  void AnswerRaw(std::vector<uint8_t> bytes, std::vector<uint8_t>* out);
  void WriteImageFile() const;
  void WriteKeyFile() const;
  static bool ValidRecordLine(const std::string& line);

  mutable std::mutex m_mutex;
  McuSimConfig m_config;
  std::mt19937 m_rng;
  McuRelayPeer* m_pRelay = nullptr;
  int m_iTextKind = 0;
  std::vector<uint8_t> m_text;  // the tail of the unframed bytes, shorter than a text command
  std::vector<uint8_t> m_rx;
  Stats m_stats;

  // Block loader.
  bool m_bReceiving = false;
  bool m_bComplete = false;
  uint32_t m_dwExpected = kImageBase;
  bool m_bHaveLast = false;
  uint32_t m_dwLast = 0;
  uint32_t m_dwNotReadyLeft = 0;
  std::vector<uint8_t> m_image;
  // Line loader.
  std::vector<std::string> m_lines;
  std::vector<uint8_t> m_key;
};

// The frames of the MCU link, built independently of the updater's codecs so
// that the simulator checks them.
std::vector<uint8_t> BuildXorFrame(uint8_t command, uint8_t subCommand, const std::vector<uint8_t>& data);
std::vector<uint8_t> BuildSumFrame(uint8_t command, uint8_t subCommand, const std::vector<uint8_t>& data);

}  // namespace hu
