// Runs the built kitpack executable on real folders.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <algorithm>
#include <signal.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <functional>

#include "canprobe/canbox_image.h"
#include "common/platform/host/host_files.h"
#include "tests/packages/kit_builder.h"
#include "tests/support/scratch.h"
#include "tools/kitpack/kit_digest.h"

namespace hu {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

using scratch::ReadFile;
using scratch::TreeOf;
using scratch::WriteFile;

class KitpackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("kitpack_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root);
  }
  void TearDown() override { fs::remove_all(root); }

  Outcome Kitpack(const std::vector<std::string>& args) {
    std::string cmd = Quote(KITPACK_EXE);
    for (const auto& a : args) cmd += " " + Quote(a);
    fs::path errFile = root / "stderr.txt";
    cmd += " 2>" + Quote(errFile.string());
    Outcome r;
    FILE* p = ::popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int status = ::pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = ReadFile(errFile);
    fs::remove(errFile);
    return r;
  }

  nlohmann::json List(const fs::path& file) {
    Outcome r = Kitpack({"list", "--json", file.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    return nlohmann::json::parse(r.out);
  }

  // A source tree with nested folders, an empty file, binary data and a CP936 name.
  fs::path MakeSource() {
    fs::path src = root / "src";
    std::mt19937 rng(7);
    std::string random(1 << 20, '\0');
    for (auto& c : random) c = static_cast<char>(rng());
    WriteFile(src / "Appvisor.exe", random);
    WriteFile(src / "readme.txt", "read me\r\n");
    WriteFile(src / "sub" / "empty.dat", "");
    WriteFile(src / "sub" / "deeper" / "\xe5\x90\x8d\xe5\xad\x97.txt", "chinese name");
    WriteFile(src / "sub" / "deeper" / "more.bin", random.substr(1000, 5000));
    return src;
  }

  fs::path root;
};

TEST_F(KitpackTest, AukListsAndExtractsByteForByte) {
  fs::path src = MakeSource();
  fs::path pack = root / "app.auk";
  Outcome built = Kitpack({"auk", pack.string(), src.string(), "--version", "V2.0.1"});
  ASSERT_EQ(built.code, 0) << built.err;

  nlohmann::json j = List(pack);
  EXPECT_EQ(j["kind"], "pack");
  EXPECT_EQ(j["valid"], true);
  EXPECT_EQ(j["app_version"], "V2.0.1");
  EXPECT_EQ(j["pack_type"], "");
  std::set<std::string> names;
  for (const auto& m : j["members"]) names.insert(m["name"].get<std::string>());
  std::set<std::string> expected = {"\\kit\\AppVerInfo.cfg", "\\kit\\Appvisor.exe", "\\kit\\readme.txt",
                                    "\\kit\\sub\\empty.dat", "\\kit\\sub\\deeper\\\xe5\x90\x8d\xe5\xad\x97.txt",
                                    "\\kit\\sub\\deeper\\more.bin"};
  EXPECT_EQ(names, expected);
  EXPECT_EQ(j["count"], 6);
  // The index holds the name in CP936.
  EXPECT_NE(ReadFile(pack).find("\xc3\xfb\xd7\xd6.txt"), std::string::npos);

  fs::path out = root / "out";
  Outcome ex = Kitpack({"extract", pack.string(), out.string()});
  ASSERT_EQ(ex.code, 0) << ex.err;
  auto extracted = TreeOf(out);
  EXPECT_EQ(extracted["AppVerInfo.cfg"], std::string("\xff\xfeV\0002\000.\0000\000.\0001\000", 14));
  extracted.erase("AppVerInfo.cfg");
  EXPECT_EQ(extracted, TreeOf(src));
}

// Members are compressed out of order on several threads: each must still be
// one whole gzip stream (trailer and CRC included) at its index place, in
// index order, that plain zlib inflates to its file.
TEST_F(KitpackTest, EveryMemberIsAGzipStreamPlainZlibInflatesInIndexOrder) {
  fs::path src = root / "many";
  std::mt19937 rng(11);
  for (int i = 0; i < 40; ++i) {
    // Sizes from nothing to 10 MiB, so later members often finish first;
    // the longest are compressed in blocks, one of them a whole number of blocks.
    const size_t size = i == 10 ? (9u << 20) + 17 : i == 20 ? 10u << 20 : i % 7 == 3 ? (3u << 20) - i : rng() % 20000;
    std::string data(size, '\0');
    for (auto& c : data) c = static_cast<char>("kit member \r\n"[rng() % 13] + (rng() % 9 == 0 ? rng() % 50 : 0));
    // Past the whole-buffer limit and barely compressible: its stream goes
    // to the writer in pieces.
    if (i == 10) {
      for (auto& c : data) c = static_cast<char>(rng());
    }
    WriteFile(src / ("d" + std::to_string(i % 3)) / ("f" + std::to_string(i) + ".bin"), data);
  }
  fs::path pack = root / "many.auk";
  ASSERT_EQ(Kitpack({"auk", pack.string(), src.string(), "--version", "1"}).code, 0);
  const std::string bytes = ReadFile(pack);
  uint64_t next = 0;
  int seen = 0;
  const nlohmann::json listing = List(pack);
  for (const auto& m : listing["members"]) {
    const std::string name = m["name"];
    const uint64_t offset = m["offset"], stored = m["stored"], size = m["size"];
    EXPECT_TRUE(next == 0 || offset == next) << name;
    next = offset + stored;
    ASSERT_LE(next, bytes.size());
    std::string out(size + 1, '\0');
    z_stream zs{};
    ASSERT_EQ(inflateInit2(&zs, MAX_WBITS + 16), Z_OK);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + offset));
    zs.avail_in = static_cast<uInt>(stored);
    zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END) << name;
    EXPECT_EQ(zs.avail_in, 0u) << name;
    out.resize(zs.total_out);
    inflateEnd(&zs);
    if (name == "\\kit\\AppVerInfo.cfg") continue;
    std::string rel = name.substr(5);
    std::replace(rel.begin(), rel.end(), '\\', '/');
    EXPECT_EQ(out, ReadFile(src / rel)) << name;
    ++seen;
  }
  EXPECT_EQ(seen, 40);
  EXPECT_EQ(next, bytes.size());
}

// Members may take either of two compressors; on every kind of content the
// pack stays within 1 % of zlib level 6 (pigz -6's size), including text of a
// few short words, where one of them alone would be 4 % larger.
TEST_F(KitpackTest, MembersStayWithinOnePercentOfZlibLevelSix) {
  const std::vector<std::string> words = {"update ", "kit ", "member ", "\\dravik\\", "$KVR$ ", "0x1F8B ", "Appvisor ", "partition\r\n"};
  const std::map<std::string, std::function<void(std::mt19937&, std::string&)>> kinds = {
      {"few_words", [&](std::mt19937& rng, std::string& d) {
         if (rng() % 4 == 0) {
           d.push_back(static_cast<char>(rng()));
         } else {
           d += words[rng() % words.size()];
         }
       }},
      {"random", [](std::mt19937& rng, std::string& d) { d.push_back(static_cast<char>(rng())); }},
      {"skewed_bytes", [](std::mt19937& rng, std::string& d) { d.push_back("etaoin shrdlu\n"[rng() % 14 * (rng() % 3) / 2]); }},
  };
  for (const auto& [kind, next] : kinds) {
    fs::path src = root / kind;
    std::mt19937 rng(3);
    uint64_t zlibTotal = 0;
    for (int i = 0; i < 12; ++i) {
      std::string data;
      const size_t size = i == 0 ? 100 : 20000 + rng() % 200000;
      while (data.size() < size) next(rng, data);
      data.resize(size);
      WriteFile(src / ("f" + std::to_string(i)), data);
      z_stream zs{};
      ASSERT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
      std::string out(deflateBound(&zs, size), '\0');
      zs.next_in = reinterpret_cast<Bytef*>(&data[0]);
      zs.avail_in = static_cast<uInt>(size);
      zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
      zs.avail_out = static_cast<uInt>(out.size());
      ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
      zlibTotal += zs.total_out;
      deflateEnd(&zs);
    }
    fs::path pack = root / (kind + ".auk");
    ASSERT_EQ(Kitpack({"auk", pack.string(), src.string(), "--version", "1"}).code, 0) << kind;
    uint64_t stored = 0;
    const nlohmann::json listing = List(pack);
    for (const auto& m : listing["members"]) {
      if (m["name"] != "\\kit\\AppVerInfo.cfg") stored += m["stored"].get<uint64_t>();
    }
    EXPECT_LE(stored * 100, zlibTotal * 101) << kind << ": " << stored << " against zlib's " << zlibTotal;
    fs::path out = root / (kind + "_out");
    ASSERT_EQ(Kitpack({"extract", pack.string(), out.string()}).code, 0) << kind;
    auto extracted = TreeOf(out);
    extracted.erase("AppVerInfo.cfg");
    EXPECT_EQ(extracted, TreeOf(src)) << kind;
  }
}

// A long member that barely compresses is written as it is compressed, not
// held whole: packing 64 MiB of noise stays far below 64 MiB resident.
TEST_F(KitpackTest, LongMemberIsNotHeldWhole) {
  std::mt19937 rng(5);
  std::string noise(64u << 20, '\0');
  for (auto& c : noise) c = static_cast<char>(rng());
  WriteFile(root / "src" / "noise.bin", noise);
  const size_t size = noise.size();
  // The child's peak counts this process's pages at the fork.
  std::string().swap(noise);
  const fs::path pack = root / "noise.auk";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::execl(KITPACK_EXE, KITPACK_EXE, "auk", pack.c_str(), (root / "src").c_str(), "--version", "1",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ASSERT_EQ(::wait4(child, &status, 0, &usage), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_LT(usage.ru_maxrss, 48 * 1024) << "KiB resident";
  const nlohmann::json listing = List(pack);
  ASSERT_EQ(listing["count"], 2);
  for (const auto& m : listing["members"]) {
    if (m["name"] == "\\kit\\noise.bin") {
      EXPECT_EQ(m["size"], size);
    }
  }
}

TEST_F(KitpackTest, AukincCarriesItsPackType) {
  fs::path src = MakeSource();
  fs::path pack = root / "1.2.4.aukinc";
  ASSERT_EQ(Kitpack({"aukinc", pack.string(), src.string(), "--version", "1.2.4"}).code, 0);
  nlohmann::json j = List(pack);
  EXPECT_EQ(j["pack_type"], "aukinc");
  EXPECT_EQ(j["app_version"], "1.2.4");
  EXPECT_EQ(j["members"][1]["name"], "\\kit\\AukPackInfo.ini");
}

TEST_F(KitpackTest, KvqSectionsAndVersions) {
  fs::path src = MakeSource();
  fs::path pack = root / "app.auk";
  ASSERT_EQ(Kitpack({"auk", pack.string(), src.string(), "--version", "1.2.3"}).code, 0);
  std::string conf(783, '\0');
  testkit::PutLe32(&conf, 64, 65568);
  testkit::PutLe32(&conf, 12, 26);
  WriteFile(root / "conf.kvr", conf);
  WriteFile(root / "boot.bin", std::string(1000, 'b'));
  WriteFile(root / "os.nb0", std::string(3000, 'o'));
  WriteFile(root / "logo.bmp", std::string(50, 'l'));
  fs::path kvq = root / "kit.kvq";
  Outcome built = Kitpack({"kvq", kvq.string(), "--version", "V12X-0A1B2C3-1.2.3", "--boot", (root / "boot.bin").string(),
                       "--os", (root / "os.nb0").string(), "--app", pack.string(), "--logo1",
                       (root / "logo.bmp").string(), "--conf", (root / "conf.kvr").string()});
  ASSERT_EQ(built.code, 0) << built.err;
  nlohmann::json j = List(kvq);
  EXPECT_EQ(j["kind"], "container");
  EXPECT_EQ(j["valid"], true);
  EXPECT_EQ(j["version"], "V12X-0A1B2C3-1.2.3");
  EXPECT_EQ(j["boot_version"], "V12");
  EXPECT_EQ(j["os_version"], "0A1B2C3");
  EXPECT_EQ(j["app_version"], "1.2.3");
  EXPECT_EQ(j["conf_version"], "  20      1a");
  EXPECT_EQ(j["pack_app_version"], "1.2.3");
  EXPECT_EQ(j["sections"].size(), 5u);
  EXPECT_FALSE(j["sections"].contains("logo3"));
  EXPECT_EQ(j["sections"]["boot"]["offset"], 440);
  EXPECT_EQ(j["sections"]["os"]["offset"], 1440);
  EXPECT_EQ(j["sections"]["app"]["length"], fs::file_size(pack));
  EXPECT_EQ(j["members"].size(), 6u);

  fs::path out = root / "out";
  ASSERT_EQ(Kitpack({"extract", kvq.string(), out.string()}).code, 0);
  auto extracted = TreeOf(out);
  extracted.erase("AppVerInfo.cfg");
  EXPECT_EQ(extracted, TreeOf(src));

  fs::path bare = root / "bare.kvq";
  // A version without its OS and application parts is built only when forced.
  Outcome forced = Kitpack({"kvq", bare.string(), "--version", "ONLYBOOT-1", "--boot", (root / "boot.bin").string(), "--force"});
  ASSERT_EQ(forced.code, 0);
  EXPECT_NE(forced.err.find("warning: the container version \"ONLYBOOT-1\" does not split"), std::string::npos) << forced.err;
  j = List(bare);
  EXPECT_EQ(j["boot_version"], "ONLYBOO");
  EXPECT_FALSE(j.contains("os_version") || j.contains("app_version") || j.contains("conf_version") ||
               j.contains("members"));
}

TEST_F(KitpackTest, MalformedInputsFailWithOneLineNamingTheFile) {
  fs::path src = MakeSource();
  fs::path pack = root / "app.auk";
  ASSERT_EQ(Kitpack({"auk", pack.string(), src.string(), "--version", "1"}).code, 0);
  std::string bytes = ReadFile(pack);
  WriteFile(root / "cut.auk", bytes.substr(0, bytes.size() / 2));
  WriteFile(root / "noise.bin", std::string(500, 'z'));
  WriteFile(root / "short.kvq", testkit::BuildContainer(u"v", {}).substr(0, 300));
  WriteFile(root / "small.kvr", std::string(100, 'c'));
  struct Case {
    std::vector<std::string> args;
    std::string named;
  } cases[] = {
      {{"list", (root / "cut.auk").string()}, "cut.auk"},
      {{"extract", (root / "cut.auk").string(), (root / "o1").string()}, "cut.auk"},
      {{"list", "--json", (root / "noise.bin").string()}, "noise.bin"},
      {{"extract", (root / "short.kvq").string(), (root / "o2").string()}, "short.kvq"},
      {{"list", (root / "missing.auk").string()}, "missing.auk"},
      {{"kvq", (root / "k.kvq").string(), "--version", "v", "--conf", (root / "small.kvr").string()}, "small.kvr"},
      {{"kvq", (root / "k.kvq").string(), "--version", "v", "--app", (root / "noise.bin").string()}, "noise.bin"},
      {{"kvq", (root / "k.kvq").string(), "--version", std::string(50, 'v')}, "k.kvq"},
      {{"auk", (root / "x.auk").string(), (root / "nowhere").string(), "--version", "1"}, "nowhere"},
  };
  for (const auto& c : cases) {
    Outcome r = Kitpack(c.args);
    EXPECT_NE(r.code, 0) << c.named;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  EXPECT_FALSE(fs::exists(root / "o1") && !fs::is_empty(root / "o1"));
  EXPECT_FALSE(fs::exists(root / "k.kvq"));
  EXPECT_FALSE(fs::exists(root / "x.auk"));
  nlohmann::json j = nlohmann::json::parse(Kitpack({"list", "--json", (root / "noise.bin").string()}).out);
  EXPECT_EQ(j["kind"], "unknown");
  EXPECT_EQ(j["valid"], false);
}

TEST_F(KitpackTest, ExtractKeepsEveryMemberInsideDir) {
  WriteFile(root / "evil.auk",
            testkit::BuildPack({{"\\kit\\", {{"\\kit\\ok.txt", "fine"}}},
                                {"\\Windows\\", {{"\\Windows\\x.dll", "dll"}, {"\\Windows\\..\\..\\..\\escaped.txt", "bad"}}}}));
  fs::path out = root / "deep" / "out";
  Outcome r = Kitpack({"extract", (root / "evil.auk").string(), out.string()});
  EXPECT_NE(r.code, 0);
  EXPECT_NE(r.err.find("code 3"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(out / "ok.txt"), "fine");
  EXPECT_EQ(ReadFile(out / "Windows" / "x.dll"), "dll");
  std::set<std::string> all;
  for (const auto& e : fs::recursive_directory_iterator(root)) all.insert(e.path().lexically_relative(root).string());
  EXPECT_EQ(all, (std::set<std::string>{"evil.auk", "deep", "deep/out", "deep/out/ok.txt", "deep/out/Windows",
                                        "deep/out/Windows/x.dll"}));
}

}  // namespace
}  // namespace hu

namespace hu {
namespace {

TEST_F(KitpackTest, CanboxFileDecodesToTheImage) {
  std::string image;
  std::mt19937 random(5);
  for (int i = 0; i < 3001; ++i) image.push_back(static_cast<char>(random()));
  WriteFile(root / "fw.bin", image);
  Outcome made = Kitpack({"canbox", (root / "fw.canbox").string(), (root / "fw.bin").string()});
  ASSERT_EQ(made.code, 0) << made.err;
  HostFiles files(root.string());
  CCanboxImage decoded;
  ASSERT_TRUE(decoded.Load(files, "\\fw.canbox", "\\"));
  std::vector<uint8_t> bytes = decoded.Image();
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()).substr(0, image.size()), image);

  WriteFile(root / "tiny.bin", "123");
  Outcome refused = Kitpack({"canbox", (root / "tiny.canbox").string(), (root / "tiny.bin").string()});
  EXPECT_NE(refused.code, 0);
  EXPECT_FALSE(fs::exists(root / "tiny.canbox"));
}

}  // namespace
}  // namespace hu

namespace hu {
namespace {

using kitpack::Sha256OfBytes;

// A signed container whose application pack holds `src`, with its pieces.
struct SignedKit {
  fs::path pack, kvq, key, pub;
};

class KitpackReleaseTest : public KitpackTest {
 protected:
  SignedKit MakeSignedKit() {
    SignedKit k{root / "app.auk", root / "full.kvq", root / "key.pem", root / "pub.pem"};
    WriteFile(root / "app" / "Appvisor.exe", std::string(20000, 'a') + "end");
    WriteFile(root / "app" / "skin" / "a.skn", "skin");
    EXPECT_EQ(Kitpack({"auk", k.pack.string(), (root / "app").string(), "--version", "1.1.0"}).code, 0);
    WriteFile(root / "os.nb0", std::string(3000, 'o'));
    WriteFile(root / "boot.bin", std::string(1000, 'b'));
    Outcome built = Kitpack({"kvq", k.kvq.string(), "--version", "12345679X-3A1F0C01234568-1.1.0", "--boot",
                             (root / "boot.bin").string(), "--os", (root / "os.nb0").string(), "--app",
                             k.pack.string()});
    EXPECT_EQ(built.code, 0) << built.err;
    EXPECT_EQ(std::system(("openssl genpkey -algorithm ed25519 -out " + Quote(k.key.string()) + " 2>/dev/null && " +
                           "openssl pkey -in " + Quote(k.key.string()) + " -pubout -out " + Quote(k.pub.string()))
                              .c_str()),
              0);
    Outcome signedKit = Kitpack({"sign", k.kvq.string(), "--key", k.key.string()});
    EXPECT_EQ(signedKit.code, 0) << signedKit.err;
    return k;
  }

  // Offset of the 12 binary bytes that follow a member's name in the index.
  static size_t MemberFields(const std::string& bytes, const std::string& name) {
    size_t at = bytes.find(name + "\n");
    EXPECT_NE(at, std::string::npos) << name;
    return at + name.size() + 1;
  }

  // Names of the files in `dir` that are not in `expected`.
  static std::set<std::string> Strays(const fs::path& dir, const std::set<std::string>& expected) {
    std::set<std::string> strays;
    for (const auto& e : fs::directory_iterator(dir)) {
      std::string n = e.path().filename().string();
      if (!expected.count(n)) strays.insert(n);
    }
    return strays;
  }
};

TEST_F(KitpackReleaseTest, KitsTheUpdaterWouldMisreadAreRefusedUnlessForced) {
  WriteFile(root / "src" / "a.txt", "a");
  fs::path pack = root / "app.auk";
  ASSERT_EQ(Kitpack({"auk", pack.string(), (root / "src").string(), "--version", "1.1.0"}).code, 0);
  WriteFile(root / "boot.bin", "boot");
  const std::string src = (root / "src").string(), boot = (root / "boot.bin").string();
  struct Case {
    std::vector<std::string> args;  // the output file first
    std::string problem;
  } cases[] = {
      {{"kvq", "k1.kvq", "--version", "1-2", "--boot", boot}, "does not split into boot, OS and application parts"},
      {{"kvq", "k2.kvq", "--version", "NODASH", "--app", pack.string()}, "does not split"},
      {{"kvq", "k3.kvq", "--version", "B-O-2.0.0", "--app", pack.string()},
       "names application \"2.0.0\" but its pack's AppVerInfo.cfg says \"1.1.0\""},
      {{"kvq", "k4.kvq", "--version", "X-O-1.1.0", "--boot", boot}, "gives an empty boot version"},
      {{"kvq", "k5.kvq", "--version", "BB-O-1"}, "a container with no section"},
      {{"aukinc", "banana.aukinc", src, "--version", "banana"}, "is not three dotted numbers"},
      {{"aukinc", "1-2-3.aukinc", src, "--version", "1-2-3"}, "is not three dotted numbers"},
      {{"aukinc", "1.2.256.aukinc", src, "--version", "1.2.256"}, "is not three dotted numbers of 0 to 255"},
      {{"aukinc", "app.aukinc", src, "--version", "1.2.3"}, "gives the updater the version \"app\""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    fs::path out = root / args[1];
    args[1] = out.string();
    Outcome refused = Kitpack(args);
    EXPECT_EQ(refused.code, 1) << args[1];
    EXPECT_NE(refused.err.find(c.problem), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(out)) << args[1];
    args.push_back("--force");
    Outcome forced = Kitpack(args);
    EXPECT_EQ(forced.code, 0) << forced.err;
    EXPECT_NE(forced.err.find("warning: "), std::string::npos) << forced.err;
    EXPECT_TRUE(fs::exists(out)) << args[1];
  }
}

TEST_F(KitpackReleaseTest, VerifyListsEachProblemAndPassesOnlyAnIntactSignedKit) {
  SignedKit k = MakeSignedKit();
  Outcome good = Kitpack({"verify", k.kvq.string(), "--pubkey", k.pub.string()});
  ASSERT_EQ(good.code, 0) << good.err;
  EXPECT_NE(good.out.find("signature good"), std::string::npos);

  nlohmann::json listing = List(k.kvq);
  const uint32_t osOffset = listing["sections"]["os"]["offset"];
  const uint32_t bootOffset = listing["sections"]["boot"]["offset"];
  const uint32_t appOffset = listing["sections"]["app"]["offset"];
  nlohmann::json exe;
  for (const auto& m : listing["members"]) {
    if (m["name"] == "\\kit\\Appvisor.exe") exe = m;
  }
  ASSERT_FALSE(exe.is_null());
  const std::string original = ReadFile(k.kvq);
  struct Case {
    std::string name;
    std::function<void(std::string*)> spoil;
    std::string problem;
  } cases[] = {
      {"flipped OS byte", [&](std::string* b) { (*b)[osOffset + 10] ^= 0x5A; }, "the signature does not match"},
      {"wrong CRC",
       [&](std::string* b) {
         size_t crc = appOffset + exe["offset"].get<size_t>() + exe["stored"].get<size_t>() - 8;
         (*b)[crc] ^= 0x01;
       },
       "member \\kit\\Appvisor.exe: wrong CRC-32"},
      {"declared length too short",
       [&](std::string* b) {
         testkit::PutLe32(b, MemberFields(*b, "\\kit\\Appvisor.exe") + 8, 100);
       },
       "member \\kit\\Appvisor.exe: inflates past its declared length of 100 bytes"},
      {"overlapping sections", [&](std::string* b) { testkit::PutLe32(b, 292, bootOffset + 1); },
       "the boot and os sections overlap"},
      {"section beyond the end", [&](std::string* b) { testkit::PutLe32(b, 296, 1u << 30); },
       "the os section ends at"},
  };
  for (const auto& c : cases) {
    std::string bytes = original;
    c.spoil(&bytes);
    WriteFile(k.kvq, bytes);
    Outcome r = Kitpack({"verify", k.kvq.string(), "--pubkey", k.pub.string()});
    EXPECT_EQ(r.code, 1) << c.name;
    EXPECT_NE(r.err.find(c.problem), std::string::npos) << c.name << ": " << r.err;
    // Every case but the first also changes the signed bytes.
    EXPECT_NE(r.err.find("the signature does not match"), std::string::npos) << c.name;
  }
  // What the updater cannot decode is a problem even for an unsigned kit.
  WriteFile(root / "os.nb0", "o");
  ASSERT_EQ(Kitpack({"kvq", (root / "short.kvq").string(), "--version", "V12X-0A1B2C3-1.1.0", "--os",
                     (root / "os.nb0").string()})
                .code,
            0);
  Outcome undecodable = Kitpack({"verify", (root / "short.kvq").string()});
  EXPECT_EQ(undecodable.code, 1);
  EXPECT_NE(undecodable.err.find("the OS version \"0A1B2C3\" cannot be decoded"), std::string::npos) << undecodable.err;
}

TEST_F(KitpackReleaseTest, ListJsonGivesTheSha256OfEverySectionAndMember) {
  SignedKit k = MakeSignedKit();
  nlohmann::json j = List(k.kvq);
  const std::string bytes = ReadFile(k.kvq);
  for (const auto& [name, s] : j["sections"].items()) {
    std::string section = bytes.substr(s["offset"].get<size_t>(), s["length"].get<size_t>());
    EXPECT_EQ(s["sha256"], Sha256OfBytes(section)) << name;
  }
  for (const auto& m : j["members"]) {
    if (m["name"] == "\\kit\\skin\\a.skn") {
      EXPECT_EQ(m["sha256"], Sha256OfBytes("skin"));
    }
    EXPECT_EQ(m["sha256"].get<std::string>().size(), 64u) << m["name"];
  }
}

TEST_F(KitpackReleaseTest, FailedAndInterruptedWritesLeaveTheOldKitAndNoFragment) {
  WriteFile(root / "src" / "a.txt", "a");
  fs::path pack = root / "1.2.3.aukinc";
  ASSERT_EQ(Kitpack({"aukinc", pack.string(), (root / "src").string(), "--version", "1.2.3"}).code, 0);
  const std::string old = ReadFile(pack);
  const std::set<std::string> expected = {"src", "1.2.3.aukinc", "big"};
  // Refused after the new pack was written aside.
  EXPECT_EQ(Kitpack({"aukinc", pack.string(), (root / "src").string(), "--version", "1.2"}).code, 1);
  EXPECT_EQ(ReadFile(pack), old);
  EXPECT_TRUE(Strays(root, expected).empty());

  // Interrupted while deflating a large tree.
  std::mt19937 rng(3);
  std::string noise(48 << 20, '\0');
  for (auto& c : noise) c = static_cast<char>(rng());
  WriteFile(root / "big" / "noise.bin", noise);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::execl(KITPACK_EXE, KITPACK_EXE, "aukinc", pack.c_str(), (root / "big").c_str(), "--version", "1.2.3",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  bool seen = false;
  for (int i = 0; i < 2000 && !seen; ++i) {
    seen = !Strays(root, expected).empty();
    if (!seen) ::usleep(1000);
  }
  ::kill(child, SIGINT);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(seen) << "no temporary file appeared";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_EQ(ReadFile(pack), old);
  EXPECT_EQ(Strays(root, expected), std::set<std::string>{});
}

TEST_F(KitpackReleaseTest, FirmwareImagesListWithTheReadersOfTheirPrograms) {
  std::string image;
  for (int i = 0; i < 30000; ++i) image.push_back(static_cast<char>(i * 13 + 1));
  WriteFile(root / "fw.bin", image);
  const std::string sha = Sha256OfBytes(image);
  ASSERT_EQ(Kitpack({"canbox", (root / "fw.canbox").string(), (root / "fw.bin").string()}).code, 0);
  nlohmann::json canbox = List(root / "fw.canbox");
  EXPECT_EQ(canbox["kind"], "canbox");
  EXPECT_EQ(canbox["sha256"], sha);
  EXPECT_EQ(canbox["first_address"], 0x08002000u);
  EXPECT_EQ(canbox["size"], image.size());
  // Beyond 0xFFFF the records take 24-bit addresses.
  for (const auto& [family, size] : std::vector<std::pair<std::string, size_t>>{{"block", 30000}, {"line", 30000},
                                                                                 {"block", 2000}}) {
    fs::path s19 = root / (family + std::to_string(size) + ".s19");
    WriteFile(root / "part.bin", image.substr(0, size));
    Outcome made = Kitpack({"s19", (root / "part.bin").string(), s19.string(), "--family", family});
    ASSERT_EQ(made.code, 0) << made.err;
    nlohmann::json j = List(s19);
    EXPECT_EQ(j["family"], family);
    EXPECT_EQ(j["sha256"], Sha256OfBytes(image.substr(0, size)));
    EXPECT_EQ(j["first_address"], 0xA000u);
    EXPECT_EQ(j["tag"] == "STM8QX4B", family == "block");
    std::string text = ReadFile(s19);
    EXPECT_EQ(text.substr(text.rfind("\r\n", text.size() - 3) + 2, 2), size > 0x6000 ? "S8" : "S9");
  }
  Outcome usage = Kitpack({"s19", (root / "fw.bin").string(), (root / "x.s19").string(), "--family", "other"});
  EXPECT_EQ(usage.code, 2);
  EXPECT_NE(Kitpack({"--help"}).out.find("Usage: kitpack "), std::string::npos);
}

}  // namespace
}  // namespace hu
