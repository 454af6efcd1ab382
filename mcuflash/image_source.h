#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "mcuflash/s19_file.h"

namespace hu {

enum TranState : int {
  eTranState_Start = 0,
  eTranState_Data = 1,
  eTranState_Repeat = 2,
  eTranState_End = 3,
  eTranState_Stop = 4,
};

// An image reader with its platform-tag test and the transfer state, which
// the sender, the reader thread and the dialog thread share.
class CImageSource {
 public:
  static constexpr size_t kBlockSize = 128;

  virtual ~CImageSource();
  CImageSource(const CImageSource&) = delete;
  CImageSource& operator=(const CImageSource&) = delete;

  // Chooses the image file; true when one was found.
  virtual bool Prepare() = 0;
  // Loads the chosen file and tests its tag: 0 on success (state Start), -1.
  virtual int Open();
  virtual void Begin();
  virtual size_t ReadBlock(uint8_t* destination, size_t maximum);
  virtual uint32_t BlockAddress() const = 0;
  virtual void SetState(TranState state) { m_eState.store(state); }
  virtual TranState GetState() const { return static_cast<TranState>(m_eState.load()); }
  virtual uint32_t TotalLength() const { return m_pReader->TotalLength(); }
  virtual uint32_t Position() const { return m_pReader->Position(); }
  virtual std::string FileName() const { return m_pReader->FileName(); }
  virtual void SetVersion(const std::string& version) { m_strVersion = version; }

  const std::string& Version() const { return m_strVersion; }
  CS19File& Reader() { return *m_pReader; }

 protected:
  explicit CImageSource(std::unique_ptr<CS19File> reader);
  virtual bool TagAccepted(const std::string& tag) const = 0;
  virtual const char* Name() const = 0;

  std::string m_strVersion;
  std::unique_ptr<CS19File> m_pReader;
  std::atomic<int> m_eState{eTranState_Stop};
};

// Binary blocks for the STM8 loader; the image must carry the "STM8QX4B" tag.
class CStm8ImageSource : public CImageSource {
 public:
  // `platformType` is the unit's PlatformType; 8 chooses between a 64K and a
  // 128K image by the MCU version and remembers the choice in the flag file.
  CStm8ImageSource(Files& files, const std::string& modulePath, int platformType,
                   McuNotifier* notifier);

  bool Prepare() override;
  uint32_t BlockAddress() const override { return m_pReader->BlockAddress(); }

 protected:
  bool TagAccepted(const std::string& tag) const override;
  const char* Name() const override { return "CStm8ImageSource"; }

 private:
  Files& m_files;
  std::string m_strModulePath;
  int m_nPlatformType;
};

// Record lines as text; refuses an image tagged for the STM8 loader.
class CLineImageSource : public CImageSource {
 public:
  CLineImageSource(Files& files, const std::string& modulePath);

  bool Prepare() override;
  size_t ReadBlock(uint8_t* destination, size_t maximum) override;
  uint32_t BlockAddress() const override { return 0; }

 protected:
  bool TagAccepted(const std::string& tag) const override;
  const char* Name() const override { return "CLineImageSource"; }
};

}  // namespace hu
