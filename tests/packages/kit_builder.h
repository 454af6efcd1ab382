#pragma once
// Builders of kit bytes for tests: gzip members, pack archives (also with
// hand-made indexes) and container headers.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sysmend/packages/kit_layout.h"

namespace hu::testkit {

struct GzipOptions {
  uint8_t flags = 0;
  std::string name;     // FNAME when flags has 0x08
  std::string extra;    // FEXTRA when flags has 0x04
  std::string comment;  // FCOMMENT when flags has 0x10
  bool badCrc = false;
};

std::string Gzip(const std::string& data, const GzipOptions& options = GzipOptions());
std::string RawDeflate(const std::string& data);

struct Member {
  Member(std::string n, std::string d, std::string b = std::string())
      : name(std::move(n)), data(std::move(d)), body(std::move(b)) {}
  std::string name;
  std::string data;
  std::string body;  // the stored gzip body; Gzip(data) when empty
};
struct Group {
  std::string name;
  std::vector<Member> members;
};

// A pack archive; the count and total size are filled in unless given.
std::string BuildPack(const std::vector<Group>& groups, int64_t count = -1, int64_t totalSize = -1);

// A pack from a hand-made index; "@N" in `index` is replaced by the 12 binary
// bytes of bodies[N] (stored, offset, unpacked of its data).
std::string BuildPackRaw(const std::string& index, const std::vector<Member>& bodies, uint32_t count);

struct Section {
  Section(SectionKind k, std::string d, bool l = true) : kind(k), data(std::move(d)), letter(l) {}
  SectionKind kind;
  std::string data;
  bool letter = true;  // set the section's letter(s)
};
// A container: header, then the sections in the order given.
std::string BuildContainer(const std::u16string& version, const std::vector<Section>& sections);

// Rewrites the u32 at `offset`.
void PutLe32(std::string* bytes, size_t offset, uint32_t value);

}  // namespace hu::testkit
