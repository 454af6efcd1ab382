#pragma once
#include <ostream>
#include <string>

namespace hu {

// Lists what the simulated flash of a unit holds: one line per image written
// (kind, bytes, sha256, where it came from: the driver library's request,
// or "serial" for what the MCU and the CAN box received), then the call log. False with a
// one-line *error when the unit has no flash folder.
bool ListFlash(const std::string& unitDir, std::ostream& out, std::string* error);

// SHA-256 of a host file as lower-case hexadecimal; empty when unreadable.
std::string FileSha256(const std::string& path);

}  // namespace hu
