#pragma once
#include <string>

#include "common/platform/registry.h"

namespace hu {

// The registry as REGEDIT4 text for people: "REGEDIT4", a blank line, then
// per key "[HKEY_LOCAL_MACHINE\key]" and its values ("name"="text",
// "name"=dword:0000001a, "name"=hex:01,02, hex(N): for other types and for
// strings whose bytes the quoted form would not give back exactly), each key
// followed by a blank line. Text is UTF-8.
std::string ExportRegedit(Registry& registry);

// Reads the same text back (also "@" for the default value, "=-" to delete a
// value, "[-HKEY_LOCAL_MACHINE\key]" to delete a key, ';' comments and '\'
// continued hex lines). The whole text is checked before anything is
// written: a syntax error writes nothing and gives *error as "line N: why".
bool ImportRegedit(Registry& registry, const std::string& text, std::string* error);

}  // namespace hu
