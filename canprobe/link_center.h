#pragma once
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "canprobe/data_transport.h"
#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "common/platform/registry.h"
#include "common/platform/serial.h"
#include "common/platform/sync.h"
#include "common/platform/text.h"

namespace hu {

class Manager;
class PlatformQuery;

// What the CAN link needs of the platform. Serial may be null (no ports).
struct CanLinkServices {
  Serial* serial = nullptr;
  Sync* sync = nullptr;
  Clock* clock = nullptr;
  Registry* registry = nullptr;
  Files* files = nullptr;
  CodePage* codePage = nullptr;
  std::string moduleDir;  // the program's folder (device path, no trailing backslash)
};

// The process-wide owner of the one active CAN box transport, the Manager
// and the platform query. Created on first request with the services given
// to SetServices; destroyed by Destroy (at program exit, and between tests).
class LinkCenter {
 public:
  // Must be called before the first Get; the services must outlive the instance.
  static void SetServices(const CanLinkServices& services);
  // The instance, created on first call; null when no services were set.
  static LinkCenter* Get();
  // The instance if one exists, without creating it.
  static LinkCenter* Existing();
  // Destroys the instance (which closes its transport) if one exists.
  static void Destroy();

  explicit LinkCenter(const CanLinkServices& services);
  LinkCenter(const LinkCenter&) = delete;
  LinkCenter& operator=(const LinkCenter&) = delete;
  // Destroys the transport, the platform query and the Manager, in this order.
  virtual ~LinkCenter();

  // The transport, creating the platform's default (not opened) when none is installed.
  virtual DataTransport* GetTransport();
  virtual Manager* GetManager();
  // Installs `transport` (may be null) with `kind`; the previous one is
  // destroyed, which closes its port. Installing the current one changes nothing.
  virtual void SetTransport(std::unique_ptr<DataTransport> transport, int kind);
  // The same for a transport the center already holds: the installed one
  // stays (nothing happens); any other pointer is refused (traced).
  void SetTransport(DataTransport* installed, int kind);
  void SetTransport(std::nullptr_t, int kind) { SetTransport(std::unique_ptr<DataTransport>(), kind); }
  virtual int GetKind() const { return m_nKind.load(); }
  // For a kind 1 link: the ComTransport's port and rate for its next Open.
  virtual void SetParams(int port, uint32_t baud);
  virtual PlatformQuery* GetPlatformQuery();

  // Installs nothing and destroys the current transport (SetTransport(none, 0)).
  void CloseTransport() { SetTransport(nullptr, kLinkNone); }
  // A new raw transport, not installed, for pages that need their own rate.
  std::unique_ptr<DataTransport> MakeComTransport(int port, uint32_t baud) const;
  const CanLinkServices& Services() const { return services_; }
  // The port of the raw link on this platform: 14 on platform type 13, else 4.
  int DefaultRawPort();

 private:
  std::unique_ptr<DataTransport> MakeDefaultTransport(int* kind);

  CanLinkServices services_;
  mutable std::mutex mutex_;
  std::unique_ptr<DataTransport> m_pTransport;
  std::unique_ptr<Manager> m_pManager;
  std::unique_ptr<PlatformQuery> m_pPlatformQuery;
  std::atomic<int> m_nKind{kLinkNone};
};

}  // namespace hu
