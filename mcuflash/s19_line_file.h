#pragma once
#include "mcuflash/s19_file.h"

namespace hu {

// Keeps the S-record text and hands it out one record line at a time.
class CS19LineFile : public CS19File {
 public:
  // The transfer's line buffer: records have at most 62 as their count.
  static constexpr size_t kMaxLine = 128;
  static constexpr size_t kTagSize = 128;

  CS19LineFile(Files& files, std::string modulePath);

  // Also refuses a text whose records could not be sent whole: a record cut
  // off, with a character that is not a hexadecimal digit, a wrong check,
  // longer than a line buffer, or a text without S7/S8/S9.
  bool Load() override;
  size_t ReadBlock(uint8_t* destination, size_t maximum) override;
  uint32_t TotalLength() const override { return static_cast<uint32_t>(m_nTextLen); }
  std::string Tag() const override { return std::string(m_szHeaderTag); }

  // Load's work on a text already in memory.
  bool TakeText(const char* text, size_t length);

 private:
  // The record line whose 'S' is the first at or after `from`: start and
  // character count. False when no 'S' is left.
  bool NextRecord(size_t from, size_t* start, size_t* count) const;
  bool AcceptText();
  bool CheckRecords() const;
  void ReadHeaderTag();

  char m_szHeaderTag[kTagSize] = {};
};

}  // namespace hu
