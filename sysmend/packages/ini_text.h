#pragma once
#include <string>
#include <utility>
#include <vector>

namespace hu {

// Minimal reading of 8-bit INI text: "[section]" lines and "key=value" lines,
// names compared ignoring ASCII case, blanks around names and values trimmed.
bool IniValue(const std::string& text, const std::string& section, const std::string& key, std::string* out);
// Every key=value entry of a section, in file order.
std::vector<std::pair<std::string, std::string>> IniEntries(const std::string& text, const std::string& section);

}  // namespace hu
