#include "errors.h"

namespace hu {
namespace {
thread_local uint32_t tLastError = ERROR_SUCCESS;
}
uint32_t GetLastError() { return tLastError; }
void SetLastError(uint32_t code) { tLastError = code; }
}  // namespace hu
