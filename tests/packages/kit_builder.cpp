#include "kit_builder.h"

#include <zlib.h>

#include <cstring>
#include <stdexcept>

namespace hu::testkit {

std::string RawDeflate(const std::string& data) {
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  if (deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflate");
  std::string out(deflateBound(&zs, data.size()) + 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

std::string Gzip(const std::string& data, const GzipOptions& o) {
  std::string out = {'\x1f', '\x8b', 8, static_cast<char>(o.flags), 0, 0, 0, 0, 0, 3};
  if (o.flags & 0x04) {
    out.push_back(static_cast<char>(o.extra.size() & 0xFF));
    out.push_back(static_cast<char>(o.extra.size() >> 8));
    out += o.extra;
  }
  if (o.flags & 0x08) out += o.name + std::string(1, '\0');
  if (o.flags & 0x10) out += o.comment + std::string(1, '\0');
  out += RawDeflate(data);
  uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  if (o.badCrc) crc ^= 0xDEADBEEF;
  uint8_t trailer[8];
  WriteLe32(trailer, crc);
  WriteLe32(trailer + 4, static_cast<uint32_t>(data.size()));
  out.append(reinterpret_cast<char*>(trailer), 8);
  return out;
}

void PutLe32(std::string* bytes, size_t offset, uint32_t value) {
  uint8_t b[4];
  WriteLe32(b, value);
  bytes->replace(offset, 4, reinterpret_cast<char*>(b), 4);
}

namespace {
std::string Prologue(uint32_t headSize, uint32_t count, uint32_t total) {
  std::string out(pack::kIndexOffset, '\0');
  PackArchiveInfo info;
  info.ulHeadSize = headSize;
  info.ulFileCount = count;
  info.ulTotalSize = total;
  EncodePackInfo(reinterpret_cast<uint8_t*>(&out[0]), info);
  std::memcpy(&out[pack::kMagicOffset], pack::kMagic, sizeof(pack::kMagic));
  return out;
}
}  // namespace

std::string BuildPack(const std::vector<Group>& groups, int64_t count, int64_t totalSize) {
  std::vector<Member> all;
  std::string index;
  for (const auto& g : groups) {
    index += std::string(pack::kGroupOpen) + "\n" + g.name + "\n";
    for (const auto& m : g.members) {
      index += m.name + "\n@" + std::to_string(all.size()) + "\x01";
      all.push_back(m);
    }
    index += std::string(pack::kGroupClose) + "\n";
  }
  index += std::string(pack::kIndexEnd) + "\n";
  uint64_t total = 0;
  for (const auto& m : all) total += m.data.size();
  std::string out = BuildPackRaw(index, all, count < 0 ? static_cast<uint32_t>(all.size()) : static_cast<uint32_t>(count));
  PutLe32(&out, pack::kTotalSizeOffset, totalSize < 0 ? static_cast<uint32_t>(total) : static_cast<uint32_t>(totalSize));
  return out;
}

std::string BuildPackRaw(const std::string& index, const std::vector<Member>& bodies, uint32_t count) {
  std::vector<std::string> stored;
  for (const auto& m : bodies) stored.push_back(m.body.empty() ? Gzip(m.data) : m.body);
  // Each "@N\x01" marker becomes 12 bytes; the index length is known before the offsets.
  std::string finalIndex;
  std::vector<std::pair<size_t, size_t>> slots;  // position in finalIndex, body
  for (size_t i = 0; i < index.size(); ++i) {
    if (index[i] == '@') {
      size_t end = index.find('\x01', i);
      if (end == std::string::npos) throw std::invalid_argument("member marker without its end");
      size_t n = std::stoul(index.substr(i + 1, end - i - 1));
      slots.emplace_back(finalIndex.size(), n);
      finalIndex += std::string(pack::kMemberBinary, '\0');
      i = end;
    } else {
      finalIndex.push_back(index[i]);
    }
  }
  uint64_t declared = 0;
  for (const auto& slot : slots) declared += bodies.at(slot.second).data.size();
  std::string out = Prologue(static_cast<uint32_t>(finalIndex.size()), count, static_cast<uint32_t>(declared));
  size_t bodyStart = out.size() + finalIndex.size();
  std::vector<uint32_t> offsets;
  size_t at = bodyStart;
  for (const auto& s : stored) {
    offsets.push_back(static_cast<uint32_t>(at));
    at += s.size();
  }
  for (const auto& slot : slots) {
    MemberFields f{static_cast<uint32_t>(stored[slot.second].size()), offsets[slot.second],
                   static_cast<uint32_t>(bodies[slot.second].data.size())};
    finalIndex.replace(slot.first, pack::kMemberBinary, EncodeMemberFields(f));
  }
  out += finalIndex;
  for (const auto& s : stored) out += s;
  return out;
}

std::string BuildContainer(const std::u16string& version, const std::vector<Section>& sections) {
  std::string out(container::kHeaderSize, '\0');
  auto* h = reinterpret_cast<uint8_t*>(&out[0]);
  std::u16string magic = u"kvr version1.0";
  for (size_t i = 0; i < magic.size(); ++i) WriteLe16(h + 2 * i, magic[i]);
  for (size_t i = 0; i < version.size() && i < container::kVersionUnits - 1; ++i) {
    WriteLe16(h + container::kVersionOffset + 2 * i, version[i]);
  }
  std::string body;
  for (const auto& s : sections) {
    SectionRecord r;
    r.offset = static_cast<uint32_t>(container::kHeaderSize + body.size());
    r.length = static_cast<uint32_t>(s.data.size());
    EncodeSectionRecord(h, s.kind, r);
    if (s.letter) {
      SectionLetters l = SectionLettersOf(s.kind);
      WriteLe16(h + l.offset, l.first);
      if (l.second) WriteLe16(h + l.offset + 2, l.second);
    }
    body += s.data;
  }
  return out + body;
}

}  // namespace hu::testkit
