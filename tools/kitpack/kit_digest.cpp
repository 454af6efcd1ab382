#include "tools/kitpack/kit_digest.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace hu::kitpack {

namespace {

constexpr size_t kChunk = 1 << 16;

// Reads `length` bytes from `offset` in chunks; false when the file ends early.
template <typename Sink>
bool ReadRange(const std::string& hostPath, uint64_t offset, uint64_t length, Sink sink) {
  std::ifstream in(hostPath, std::ios::binary);
  if (!in || !in.seekg(static_cast<std::streamoff>(offset))) return false;
  std::vector<char> buffer(kChunk);
  while (length > 0) {
    size_t want = length < kChunk ? static_cast<size_t>(length) : kChunk;
    in.read(buffer.data(), static_cast<std::streamsize>(want));
    if (static_cast<size_t>(in.gcount()) != want) return false;
    if (!sink(buffer.data(), want)) return true;
    length -= want;
  }
  return true;
}

}  // namespace

std::string Sha256OfRange(const std::string& hostPath, uint64_t offset, uint64_t length) {
  Sha256 sha;
  bool whole = ReadRange(hostPath, offset, length, [&](const char* data, size_t n) {
    sha.Update(data, n);
    return true;
  });
  return whole ? sha.Hex() : std::string();
}

std::string Sha256OfBytes(const std::string& bytes) {
  Sha256 sha;
  sha.Update(bytes.data(), bytes.size());
  return sha.Hex();
}

MemberCheck InflateMember(const std::string& hostPath, uint64_t offset, uint32_t stored, uint32_t unpacked) {
  MemberCheck check;
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  // Gzip only: zlib then compares the trailer's CRC-32 and length itself.
  if (inflateInit2(&zs, MAX_WBITS + 16) != Z_OK) {
    check.problem = "zlib cannot start inflating";
    return check;
  }
  Sha256 sha;
  std::vector<unsigned char> out(kChunk);
  uint64_t produced = 0;
  int rc = Z_OK;
  bool whole = ReadRange(hostPath, offset, stored, [&](const char* data, size_t n) {
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    zs.avail_in = static_cast<uInt>(n);
    // Until the input is used and zlib holds no more output for a full buffer.
    do {
      zs.next_out = out.data();
      zs.avail_out = static_cast<uInt>(out.size());
      rc = inflate(&zs, Z_NO_FLUSH);
      size_t got = out.size() - zs.avail_out;
      produced += got;
      if (produced > unpacked) return false;
      sha.Update(out.data(), got);
      if (rc == Z_BUF_ERROR && zs.avail_in == 0) rc = Z_OK;
    } while (rc == Z_OK && (zs.avail_in > 0 || zs.avail_out == 0));
    return rc == Z_OK;
  });
  std::string message = zs.msg != nullptr ? zs.msg : "";
  inflateEnd(&zs);
  if (!whole) {
    check.problem = "its stored bytes lie beyond the end of the file";
  } else if (produced > unpacked) {
    check.problem = "inflates past its declared length of " + std::to_string(unpacked) + " bytes";
  } else if (rc == Z_DATA_ERROR && message == "incorrect data check") {
    check.problem = "wrong CRC-32";
  } else if (rc == Z_DATA_ERROR && message == "incorrect length check") {
    check.problem = "wrong length in its gzip trailer";
  } else if (rc == Z_DATA_ERROR) {
    check.problem = "damaged gzip stream (" + message + ")";
  } else if (rc != Z_STREAM_END) {
    check.problem = "its gzip stream ends early";
  } else if (produced != unpacked) {
    check.problem = "inflates to " + std::to_string(produced) + " bytes, not its declared " + std::to_string(unpacked);
  } else {
    check.ok = true;
    check.sha256 = sha.Hex();
  }
  return check;
}

}  // namespace hu::kitpack
