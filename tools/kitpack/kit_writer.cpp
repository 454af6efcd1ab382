#include "tools/kitpack/kit_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "tools/kitpack/parallel_deflate.h"

namespace hu::kitpack {

namespace fs = std::filesystem;

namespace {

constexpr size_t kChunk = 1 << 20;

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool WriteAll(std::FILE* f, const void* data, size_t n) { return n == 0 || std::fwrite(data, 1, n, f) == n; }

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// A name as the index holds it: code page bytes that read back to the same
// text, on one line that no keyword test can mistake.
bool IndexName(const std::string& name, CodePage& codePage, std::string* bytes, std::string* error) {
  std::string encoded = codePage.FromUtf8(name);
  if (codePage.ToUtf8(encoded) != name) {
    *error = "name " + Quote(name) + " cannot be written in code page " + std::to_string(codePage.Number());
    return false;
  }
  if (encoded.size() + 1 > pack::kMaxLine) {
    *error = "name " + Quote(name) + " is longer than " + std::to_string(pack::kMaxLine - 1) + " bytes";
    return false;
  }
  if (encoded.find('\n') != std::string::npos || encoded.find('\0') != std::string::npos ||
      name.find(pack::kGroupOpen) != std::string::npos || name.find(pack::kGroupClose) != std::string::npos ||
      name.find(pack::kIndexEnd) != std::string::npos) {
    *error = "name " + Quote(name) + " cannot stand in a pack index";
    return false;
  }
  *bytes = encoded;
  return true;
}

std::string Utf16Le(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

}  // namespace

std::string AppVerInfoBytes(const std::string& version) { return "\xFF\xFE" + Utf16Le(Utf8ToUtf16(version)); }

bool CollectKitTree(const std::string& srcDir, const std::string& version, bool incremental,
                    std::vector<GroupSource>* groups, std::vector<std::string>* warnings, std::string* error) {
  std::error_code ec;
  if (!fs::is_directory(srcDir, ec)) {
    *error = "not a folder";
    return false;
  }
  size_t units = Utf8ToUtf16(version).size();
  if (units == 0 || units > kMaxAppVersionUnits) {
    *error = "the version must have 1 to " + std::to_string(kMaxAppVersionUnits) + " characters";
    return false;
  }
  // Folders (relative, in depth-first order) and their files.
  std::map<fs::path, std::vector<fs::path>> byFolder;
  byFolder[fs::path()];
  for (fs::recursive_directory_iterator it(srcDir, ec), end; !ec && it != end; it.increment(ec)) {
    fs::path rel = it->path().lexically_relative(srcDir);
    if (it->is_directory(ec)) {
      byFolder[rel];
    } else if (it->is_regular_file(ec)) {
      byFolder[rel.parent_path()].push_back(rel);
    } else {
      warnings->push_back(it->path().string() + ": not a regular file, left out");
    }
  }
  if (ec) {
    *error = ec.message();
    return false;
  }
  groups->clear();
  for (auto& entry : byFolder) {
    std::sort(entry.second.begin(), entry.second.end());
    GroupSource group;
    group.name = "\\kit\\";
    for (const auto& part : entry.first) group.name += part.string() + "\\";
    if (entry.first.empty()) {
      group.members.push_back({pack::kAppVerMember, "", AppVerInfoBytes(version)});
      if (incremental) group.members.push_back({pack::kPackInfoMember, "", "[AukPackInfo]\r\nPackType=aukinc\r\n"});
    }
    for (const auto& rel : entry.second) {
      std::string leaf = rel.filename().string();
      if (leaf.find('\\') != std::string::npos) {
        *error = (fs::path(srcDir) / rel).string() + ": a backslash in a name cannot be packed";
        return false;
      }
      std::string name = group.name + leaf;
      bool generated = false;
      for (const auto& m : group.members) generated = generated || (m.hostPath.empty() && EqualsNoCase(m.name, name));
      if (generated) {
        warnings->push_back((fs::path(srcDir) / rel).string() + ": replaced by the one kitpack writes");
        continue;
      }
      group.members.push_back({name, (fs::path(srcDir) / rel).string(), ""});
    }
    if (!group.members.empty()) groups->push_back(std::move(group));
  }
  return true;
}

bool WritePack(const std::string& outPath, const std::vector<GroupSource>& groups, CodePage& codePage,
               std::string* error) {
  // The index's length does not depend on the offsets, so bodies go first.
  std::string open = std::string(pack::kGroupOpen) + "\n";
  std::string close = std::string(pack::kGroupClose) + "\n";
  std::string end = std::string(pack::kIndexEnd) + "\n";
  std::vector<std::string> groupNames;
  std::vector<std::vector<std::string>> memberNames;
  uint64_t indexSize = end.size();
  for (const auto& g : groups) {
    std::string bytes;
    if (!IndexName(g.name, codePage, &bytes, error)) return false;
    groupNames.push_back(bytes);
    indexSize += open.size() + bytes.size() + 1 + close.size();
    memberNames.emplace_back();
    for (const auto& m : g.members) {
      if (!IndexName(m.name, codePage, &bytes, error)) return false;
      memberNames.back().push_back(bytes);
      indexSize += bytes.size() + 1 + pack::kMemberBinary;
    }
  }
  if (indexSize > UINT32_MAX) {
    *error = "the index is larger than 4 GiB";
    return false;
  }
  FilePtr out(std::fopen(outPath.c_str(), "w+b"));
  if (!out) {
    *error = outPath + ": cannot be created";
    return false;
  }
  auto fail = [&](const std::string& why) {
    *error = why;
    out.reset();
    std::remove(outPath.c_str());
    return false;
  };
  uint64_t bodyStart = pack::kIndexOffset + indexSize;
  std::string zeros(static_cast<size_t>(bodyStart), '\0');
  if (!WriteAll(out.get(), zeros.data(), zeros.size())) return fail(outPath + ": write error");

  std::string index;
  uint64_t position = bodyStart;
  uint64_t total = 0;
  uint64_t count = 0;
  std::vector<const MemberSource*> order;
  for (const auto& g : groups) {
    for (const auto& m : g.members) order.push_back(&m);
  }
  ParallelDeflate deflater(order);
  for (size_t gi = 0; gi < groups.size(); ++gi) {
    index += open + groupNames[gi] + "\n";
    for (size_t mi = 0; mi < groups[gi].members.size(); ++mi) {
      uint64_t stored = 0, unpacked = 0;
      std::string why;
      if (!deflater.WriteNext(out.get(), &stored, &unpacked, &why)) return fail(why);
      if (position > UINT32_MAX) return fail("the pack is larger than 4 GiB");
      MemberFields f{static_cast<uint32_t>(stored), static_cast<uint32_t>(position), static_cast<uint32_t>(unpacked)};
      index += memberNames[gi][mi] + "\n" + EncodeMemberFields(f);
      position += stored;
      total += unpacked;
      ++count;
    }
    index += close;
  }
  index += end;
  if (total > UINT32_MAX) return fail("the files total more than 4 GiB");

  uint8_t head[pack::kIndexOffset] = {};
  PackArchiveInfo info;
  info.ulHeadSize = static_cast<uint32_t>(index.size());
  info.ulFileCount = static_cast<uint32_t>(count);
  info.ulTotalSize = static_cast<uint32_t>(total);
  EncodePackInfo(head, info);
  std::memcpy(head + pack::kMagicOffset, pack::kMagic, pack::kMagicField);
  if (std::fseek(out.get(), 0, SEEK_SET) != 0 || !WriteAll(out.get(), head, sizeof head) ||
      !WriteAll(out.get(), index.data(), index.size()) || std::fflush(out.get()) != 0) {
    return fail(outPath + ": write error");
  }
  if (std::fclose(out.release()) != 0) return fail(outPath + ": write error");
  return true;
}

bool WriteContainer(const std::string& outPath, const std::string& version,
                    const std::map<SectionKind, std::string>& sectionFiles, std::string* error) {
  std::u16string wide = Utf8ToUtf16(version);
  if (wide.empty() || wide.size() > container::kVersionUnits - 1) {
    *error = "the version must have 1 to " + std::to_string(container::kVersionUnits - 1) + " characters";
    return false;
  }
  uint8_t header[container::kHeaderSize] = {};
  std::u16string magic = Utf8ToUtf16(container::kMagic);
  for (size_t i = 0; i < magic.size(); ++i) WriteLe16(header + container::kMagicOffset + 2 * i, magic[i]);
  for (size_t i = 0; i < wide.size(); ++i) WriteLe16(header + container::kVersionOffset + 2 * i, wide[i]);

  uint64_t offset = container::kHeaderSize;
  const SectionKind order[] = {SectionKind::Boot, SectionKind::Os, SectionKind::App, SectionKind::Logo1,
                               SectionKind::Logo2, SectionKind::Logo3, SectionKind::Conf};
  for (SectionKind kind : order) {
    auto it = sectionFiles.find(kind);
    if (it == sectionFiles.end()) continue;
    std::error_code ec;
    uint64_t size = fs::is_regular_file(it->second, ec) ? fs::file_size(it->second, ec) : 0;
    if (ec || !fs::is_regular_file(it->second, ec)) {
      *error = it->second + ": cannot be read";
      return false;
    }
    if (size == 0) {
      *error = it->second + ": empty, a section of length 0 would be absent";
      return false;
    }
    if (kind == SectionKind::Conf && size < container::kConfBlockSize) {
      *error = it->second + ": a configuration image has at least " + std::to_string(container::kConfBlockSize) +
               " bytes";
      return false;
    }
    if (offset + size > UINT32_MAX) {
      *error = "the container would be larger than 4 GiB";
      return false;
    }
    SectionRecord r;
    r.offset = static_cast<uint32_t>(offset);
    r.length = static_cast<uint32_t>(size);
    EncodeSectionRecord(header, kind, r);
    SectionLetters letters = SectionLettersOf(kind);
    WriteLe16(header + letters.offset, letters.first);
    if (letters.second != 0) WriteLe16(header + letters.offset + 2, letters.second);
    offset += size;
  }

  FilePtr out(std::fopen(outPath.c_str(), "wb"));
  if (!out) {
    *error = outPath + ": cannot be created";
    return false;
  }
  auto fail = [&](const std::string& why) {
    *error = why;
    out.reset();
    std::remove(outPath.c_str());
    return false;
  };
  if (!WriteAll(out.get(), header, sizeof header)) return fail(outPath + ": write error");
  std::vector<char> buf(kChunk);
  for (SectionKind kind : order) {
    auto it = sectionFiles.find(kind);
    if (it == sectionFiles.end()) continue;
    FilePtr in(std::fopen(it->second.c_str(), "rb"));
    if (!in) return fail(it->second + ": cannot be read");
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), in.get())) > 0) {
      if (!WriteAll(out.get(), buf.data(), n)) return fail(outPath + ": write error");
    }
    if (std::ferror(in.get())) return fail(it->second + ": read error");
  }
  if (std::fclose(out.release()) != 0) return fail(outPath + ": write error");
  return true;
}

}  // namespace hu::kitpack
