#pragma once
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "canprobe/data_transport.h"
#include "canprobe/frame_ring.h"
#include "canprobe/tool_config.h"

namespace hu {

class LinkCenter;

// Told when a vehicle-type reply has arrived (on the transport's reader thread).
class CarTypeReplyTarget {
 public:
  virtual ~CarTypeReplyTarget() = default;
  virtual void OnCarTypeReply() = 0;
};

// The receiving end of the CAN box link and the sender of the box's text
// commands: finds the vehicle-type reply in whatever framing the link has,
// keeps it and tells the page that asked.
class Manager : public DataSink {
 public:
  static constexpr size_t kCarTypeSize = 20;  // with the terminating zero
  static constexpr const char* kDescriptionFile = "CarInfoDescription.txt";

  explicit Manager(LinkCenter& center);
  ~Manager() override;

  // Clears the vehicle type, opens the link if needed with this Manager as
  // its sink and sends "\r$Z2N0\r\n" (form 1) or "\r$Z220\r\n" (form 0).
  bool RequestCarType(int form);
  // Over the transport when it is open; false without opening it.
  bool Send(const uint8_t* text, size_t length);
  // Opens the link's transport with this Manager as sink unless it is open.
  void EnsureOpen();
  bool SendLoaderCommand();   // "\r$Z2B0\r\n"
  bool SendLoaderCommand1();  // "\r$Z2B1\r\n"
  // "\r$Z2C0\r\n" with its sixth character ('0' + id) modulo 256.
  bool SetCarId(int id);
  void SetNotifyTarget(CarTypeReplyTarget* target) { m_pNotifyTarget.store(target); }
  CarTypeReplyTarget* NotifyTarget() const { return m_pNotifyTarget.load(); }
  // Clears the target if it is `target` and returns only when no reply is
  // being handed to it, so that it may be destroyed. Not from inside a reply.
  void DetachNotifyTarget(CarTypeReplyTarget* target);

  // The last vehicle type received (8-bit text, at most 19 characters).
  std::string CarType() const;
  // Its last four characters; the whole of a shorter type.
  std::string Version();
  // The readable description of `type` from CarInfoDescription.txt, if listed.
  std::optional<std::string> Description(const std::string& type);
  // The build date of a vehicle type as shown after "Data:".
  static std::string BuildDate(const std::string& type);

  // The sink: parses the blocks of the reader thread.
  int Receive(const uint8_t* data, size_t length) override;
  // One text command of the box.
  void ParserAscCmd(uint8_t letter, const uint8_t* data, int n);

  static const uint8_t kRequestForm1[8];
  static const uint8_t kRequestForm0[8];
  static const uint8_t kLoaderCommand[8];
  static const uint8_t kLoaderCommand1[8];
  static const uint8_t kSetCarIdCommand[8];

 private:
  void Dispatch(const uint8_t* frame, size_t length);
  DataTransport* OpenTransport();

  LinkCenter& center_;
  std::mutex receiveMutex_;
  std::unique_ptr<CFrameRing> m_pParser;
  int m_nParserKind = kLinkNone;  // the link kind the parser was made for

  mutable std::mutex carTypeMutex_;
  std::array<char, kCarTypeSize> m_carType{};
  std::array<char, kCarTypeSize> m_version{};

  std::atomic<CarTypeReplyTarget*> m_pNotifyTarget{nullptr};

  std::mutex descriptionMutex_;
  std::unique_ptr<CToolConfig> m_pDescriptions;
};

}  // namespace hu
