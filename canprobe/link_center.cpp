#include "canprobe/link_center.h"

#include "canprobe/com_ac_transport.h"
#include "canprobe/com_frame_transport.h"
#include "canprobe/com_transport.h"
#include "canprobe/manager.h"
#include "canprobe/platform_query.h"
#include "common/platform/trace.h"

namespace hu {
namespace {

std::mutex gInstanceMutex;
std::unique_ptr<LinkCenter> gInstance;
CanLinkServices gServices;
bool gHaveServices = false;

}  // namespace

void LinkCenter::SetServices(const CanLinkServices& services) {
  std::lock_guard<std::mutex> lock(gInstanceMutex);
  gServices = services;
  gHaveServices = services.sync != nullptr && services.clock != nullptr && services.registry != nullptr;
}

LinkCenter* LinkCenter::Get() {
  std::lock_guard<std::mutex> lock(gInstanceMutex);
  if (!gInstance) {
    if (!gHaveServices) {
      Trace("LinkCenter::Get no services\n");
      return nullptr;
    }
    gInstance = std::make_unique<LinkCenter>(gServices);
  }
  return gInstance.get();
}

LinkCenter* LinkCenter::Existing() {
  std::lock_guard<std::mutex> lock(gInstanceMutex);
  return gInstance.get();
}

void LinkCenter::Destroy() {
  std::unique_ptr<LinkCenter> instance;
  {
    std::lock_guard<std::mutex> lock(gInstanceMutex);
    instance = std::move(gInstance);
  }
  // Destroyed unlocked: its reader threads may still ask for the instance.
  instance.reset();
}

LinkCenter::LinkCenter(const CanLinkServices& services) : services_(services) {}

LinkCenter::~LinkCenter() {
  std::unique_ptr<DataTransport> transport;
  std::unique_ptr<PlatformQuery> query;
  std::unique_ptr<Manager> manager;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    transport = std::move(m_pTransport);
    query = std::move(m_pPlatformQuery);
    manager = std::move(m_pManager);
  }
  transport.reset();
  query.reset();
  manager.reset();
}

PlatformQuery* LinkCenter::GetPlatformQuery() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!m_pPlatformQuery) m_pPlatformQuery = std::make_unique<PlatformQuery>(*services_.registry);
  return m_pPlatformQuery.get();
}

Manager* LinkCenter::GetManager() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!m_pManager) m_pManager = std::make_unique<Manager>(*this);
  return m_pManager.get();
}

int LinkCenter::DefaultRawPort() { return GetPlatformQuery()->PlatformType() == 13 ? 14 : 4; }

std::unique_ptr<DataTransport> LinkCenter::MakeComTransport(int port, uint32_t baud) const {
  auto transport = std::make_unique<ComTransport>(services_.serial, *services_.sync, *services_.clock);
  transport->SetPort(port);
  transport->SetBaudRate(baud);
  return transport;
}

std::unique_ptr<DataTransport> LinkCenter::MakeDefaultTransport(int* kind) {
  PlatformQuery* query = GetPlatformQuery();
  Serial* serial = services_.serial;
  Sync& sync = *services_.sync;
  Clock& clock = *services_.clock;
  std::unique_ptr<ComTransport> transport;
  if (query->IsProjectType17Or19()) {
    if (query->IsIapPlatform()) {
      transport = std::make_unique<ComAcTransport>(serial, sync, clock);
      *kind = kLinkAc;
    } else {
      transport = std::make_unique<ComFrameTransport>(serial, sync, clock);
      *kind = kLinkFrame;
    }
    transport->SetPort(4);
  } else {
    transport = std::make_unique<ComTransport>(serial, sync, clock);
    *kind = kLinkRaw;
    transport->SetPort(DefaultRawPort());
  }
  transport->SetBaudRate(ComTransport::kDefaultBaudRate);
  return transport;
}

DataTransport* LinkCenter::GetTransport() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (m_pTransport) return m_pTransport.get();
  }
  int kind = kLinkNone;
  std::unique_ptr<DataTransport> made = MakeDefaultTransport(&kind);
  std::lock_guard<std::mutex> lock(mutex_);
  // Another thread may have installed one meanwhile; the made one then goes unused.
  if (!m_pTransport) {
    m_pTransport = std::move(made);
    m_nKind.store(kind);
  }
  return m_pTransport.get();
}

void LinkCenter::SetTransport(std::unique_ptr<DataTransport> transport, int kind) {
  std::unique_ptr<DataTransport> previous;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    previous = std::move(m_pTransport);
    m_pTransport = std::move(transport);
    m_nKind.store(kind);
  }
  // Closed unlocked: its reader thread may be asking the center for the kind.
  previous.reset();
}

void LinkCenter::SetTransport(DataTransport* installed, int kind) {
  if (installed == nullptr) {
    SetTransport(std::unique_ptr<DataTransport>(), kind);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (installed != m_pTransport.get()) {
    Trace("LinkCenter::SetTransport refused a transport it does not hold\n");
  }
}

void LinkCenter::SetParams(int port, uint32_t baud) {
  if (m_nKind.load() != kLinkRaw) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto* com = dynamic_cast<ComTransport*>(m_pTransport.get())) {
    com->SetPort(port);
    com->SetBaudRate(baud);
  }
}

}  // namespace hu
