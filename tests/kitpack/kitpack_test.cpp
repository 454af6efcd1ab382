// Runs the built kitpack executable on real folders.
#include <gtest/gtest.h>
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
#include <unistd.h>
#include <zlib.h>

#include "canprobe/canbox_image.h"
#include "common/platform/host/host_files.h"
#include "tests/packages/kit_builder.h"
#include "tests/support/scratch.h"

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
    // Sizes from nothing to 3 MiB, so later members often finish first.
    std::string data(i % 7 == 3 ? (3u << 20) - i : static_cast<size_t>(rng() % 20000), '\0');
    for (auto& c : data) c = static_cast<char>("kit member \r\n"[rng() % 13] + (rng() % 9 == 0 ? rng() % 50 : 0));
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
  ASSERT_EQ(Kitpack({"kvq", bare.string(), "--version", "ONLYBOOT-1", "--boot", (root / "boot.bin").string()}).code, 0);
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
