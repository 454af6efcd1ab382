#pragma once
#include "mcuflash/mcu_file_frame.h"
#include "mcuflash/s19_file.h"

namespace hu {

// Decodes the data records into one binary image whose first byte has the
// MCU address 0xA000, handed out in blocks.
class CS19ImageFile : public CS19File {
 public:
  // `notifier` (may be null) gets the decoding progress.
  CS19ImageFile(Files& files, std::string modulePath, McuNotifier* notifier);

  bool Load() override;
  size_t ReadBlock(uint8_t* destination, size_t maximum) override;
  uint32_t TotalLength() const override { return m_dwImageLen; }
  std::string Tag() const override { return m_frame.Platform(); }

  // Decodes S-record text into the image buffer; Load uses it on the file
  // text. Refuses records beyond the image and a text without S7/S8/S9.
  bool DecodeText(const char* text, size_t length);
  const std::vector<uint8_t>& Image() const { return m_image; }

  // The last decoding percent reported belongs to the process; tests start
  // from a known value.
  static void ResetDecodeProgress();

 private:
  void ReportProgress(size_t position, size_t total);

  McuNotifier* m_pNotifier;
  std::vector<uint8_t> m_image;
  uint32_t m_dwImageLen = 0;
  CMcuFileFrame m_frame;
};

}  // namespace hu
