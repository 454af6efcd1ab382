#pragma once
#include <cstdint>

namespace hu {

// System error codes as the device reports them; trace lines print these numbers.
enum : uint32_t {
  ERROR_SUCCESS = 0,
  ERROR_INVALID_FUNCTION = 1,
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_PATH_NOT_FOUND = 3,
  ERROR_ACCESS_DENIED = 5,
  ERROR_INVALID_HANDLE = 6,
  ERROR_NOT_ENOUGH_MEMORY = 8,
  ERROR_NO_MORE_FILES = 18,
  ERROR_WRITE_FAULT = 29,
  ERROR_READ_FAULT = 30,
  ERROR_SHARING_VIOLATION = 32,
  ERROR_HANDLE_EOF = 38,
  ERROR_NOT_SUPPORTED = 50,
  ERROR_DEV_NOT_EXIST = 55,
  ERROR_FILE_EXISTS = 80,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_DISK_FULL = 112,
  ERROR_INSUFFICIENT_BUFFER = 122,
  ERROR_INVALID_NAME = 123,
  ERROR_MOD_NOT_FOUND = 126,
  ERROR_PROC_NOT_FOUND = 127,
  ERROR_DIR_NOT_EMPTY = 145,
  ERROR_FILENAME_EXCED_RANGE = 206,
  ERROR_ALREADY_EXISTS = 183,
  ERROR_MORE_DATA = 234,
  WAIT_TIMEOUT_CODE = 258,
  ERROR_OPERATION_ABORTED = 995,
  ERROR_IO_PENDING = 997,
  ERROR_TIMEOUT = 1460,
};

// Per-thread last error, as GetLastError/SetLastError on the device. Every
// service sets it on failure so callers can put it in their trace lines.
uint32_t GetLastError();
void SetLastError(uint32_t code);

}  // namespace hu
