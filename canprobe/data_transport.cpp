#include "canprobe/data_transport.h"

#include "common/platform/trace.h"

namespace hu {

DataTransport::~DataTransport() { Trace("Canrelay:Release DataTransport done!\n"); }

int DataTransport::Deliver(const uint8_t* data, size_t length) {
  DataSink* sink = m_pSink.load();
  if (sink == nullptr) return 0;
  return sink->Receive(data, length);
}

}  // namespace hu
