// The host's folder-at-a-time tree copy against the same copy made of
// FindFirst and CopyFile calls: on a tree with every awkward case (case
// twins on both sides, links, attribute bits, a read-only target, a stale
// side-file entry, empty folders) both must leave the same target, count
// the same files and take the same mutating steps.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <tuple>

#include "common/platform/host/host_files.h"
#include "common/platform/host/power_cut.h"
#include "tests/host/temp_dir.h"
#include "tests/support/scratch.h"

namespace hu {
namespace {

struct Outcome {
  std::map<std::string, std::string> tree;         // host files with their bytes
  std::map<std::string, uint32_t> attributes;      // device entries under \Dst
  int files = 0;                                   // onFile calls
  std::string steps;                               // mutating operations counted
};

void ListAttributes(Files& files, const std::string& folder, std::map<std::string, uint32_t>* out) {
  FindData d;
  auto h = files.FindFirst(folder + "\\*.*", &d);
  if (!h) return;
  do {
    (*out)[folder + "\\" + d.name] = d.attributes;
    if (d.attributes & FILE_ATTRIBUTE_DIRECTORY) ListAttributes(files, folder + "\\" + d.name, out);
  } while (h->Next(&d));
}

void Put(Files& files, const std::string& path, const std::string& bytes) {
  auto f = files.Open(path, FileAccess::Write, FileCreate::CreateAlways);
  ASSERT_TRUE(f) << path;
  uint32_t done = 0;
  ASSERT_TRUE(f->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &done));
}

Outcome CopyOnce(bool sidecarOnly, bool overwrite, bool byFiles) {
  TempDir unit;
  const std::string fs = unit.path() + "/fs";
  ::mkdir(fs.c_str(), 0755);
  PowerCut counter(unit.path(), 0, 1);
  HostFilesOptions options;
  options.sidecarAttributesOnly = sidecarOnly;
  options.powerCut = &counter;
  HostFiles files(fs, options);

  for (const char* dir : {"\\Src", "\\Src\\Sub", "\\Src\\Sub\\Empty", "\\Src\\Sub\\Inner", "\\Dst", "\\Dst\\SUB"}) {
    EXPECT_TRUE(files.CreateDirectory(dir)) << dir;
  }
  Put(files, "\\Src\\a.txt", "A");
  Put(files, "\\Src\\B.TXT", "BB");
  Put(files, "\\Src\\ro.bin", "ro");
  Put(files, "\\Src\\Sub\\deep.dat", "deep");
  Put(files, "\\Src\\Sub\\Inner\\x.cfg", "x");
  EXPECT_TRUE(files.SetAttributes("\\Src\\B.TXT", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  EXPECT_TRUE(files.SetAttributes("\\Src\\ro.bin", FILE_ATTRIBUTE_READONLY));
  // What only the host can make: case twins, links in and out of the root.
  scratch::WriteFile(fs + "/Src/Twin.txt", "T1");
  scratch::WriteFile(fs + "/Src/twin.txt", "t2");
  EXPECT_EQ(::symlink("a.txt", (fs + "/Src/link.txt").c_str()), 0);
  EXPECT_EQ(::symlink("/etc/hostname", (fs + "/Src/out.txt").c_str()), 0);

  // Case twins in the target too: neither is the one name a kept copy finds.
  scratch::WriteFile(fs + "/Dst/OUT.TXT", "D1");
  scratch::WriteFile(fs + "/Dst/Out.txt", "D2");
  Put(files, "\\Dst\\A.TXT", "old");
  Put(files, "\\Dst\\ro.bin", "keep");
  EXPECT_TRUE(files.SetAttributes("\\Dst\\ro.bin", FILE_ATTRIBUTE_READONLY));
  // Bits left behind for a name that is no longer there.
  scratch::WriteFile(fs + "/Dst/SUB/" + HostFiles::SidecarName(), "2\tdeep.dat\n");

  const std::string before = scratch::ReadFile(PowerCut::CountPath(unit.path()));
  Outcome o;
  auto onFile = [&o] { ++o.files; };
  if (byFiles) {
    files.Files::CopyTree("\\Src", "\\Dst", overwrite, onFile);
  } else {
    files.CopyTree("\\Src", "\\Dst", overwrite, onFile);
  }
  o.steps = before + " -> " + scratch::ReadFile(PowerCut::CountPath(unit.path()));
  o.tree = scratch::TreeOf(fs + "/Dst");
  ListAttributes(files, "\\Dst", &o.attributes);
  // The read-only target blocks removal of the scratch folder.
  ::chmod((fs + "/Dst/ro.bin").c_str(), 0644);
  ::chmod((fs + "/Dst/SUB/ro.bin").c_str(), 0644);
  return o;
}

class HostTreeCopy : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(HostTreeCopy, LeavesWhatTheFileByFileCopyLeaves) {
  const auto [sidecarOnly, overwrite] = GetParam();
  const Outcome fast = CopyOnce(sidecarOnly, overwrite, false);
  const Outcome plain = CopyOnce(sidecarOnly, overwrite, true);
  EXPECT_EQ(fast.tree, plain.tree);
  EXPECT_EQ(fast.attributes, plain.attributes);
  EXPECT_EQ(fast.steps, plain.steps);
  // a, B, link, out, ro, Twin, twin, Sub\deep, Sub\Inner\x; the link out of the
  // root is seen as a link and not followed, so nothing is copied for it.
  EXPECT_EQ(fast.files, 9);
  EXPECT_EQ(plain.files, 9);
  EXPECT_EQ(fast.tree.count("out.txt"), 0u);

  // A few fixed points, so that both going wrong alike shows too.
  EXPECT_EQ(fast.tree.at("A.TXT"), overwrite ? "A" : "old") << "the twin already there takes the copy";
  EXPECT_EQ(fast.tree.count("a.txt"), 0u);
  EXPECT_EQ(fast.tree.at("ro.bin"), "keep");
  EXPECT_EQ(fast.tree.at("link.txt"), "A");
  EXPECT_EQ(fast.tree.count("out.txt"), 0u);
  EXPECT_EQ(fast.tree.at("SUB/deep.dat"), "deep");
  EXPECT_EQ(fast.tree.at("SUB/Inner/x.cfg"), "x");
  EXPECT_EQ(fast.attributes.at("\\Dst\\B.TXT"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  EXPECT_EQ(fast.attributes.at("\\Dst\\SUB\\deep.dat"), FILE_ATTRIBUTE_ARCHIVE) << "stale bits are dropped";
  EXPECT_EQ(fast.attributes.count("\\Dst\\SUB\\Empty"), 0u) << "a folder without entries is not made";
  const bool oneTwin = fast.tree.count("Twin.txt") + fast.tree.count("twin.txt") == 1;
  EXPECT_TRUE(oneTwin) << "host twins land on one device name";
}

INSTANTIATE_TEST_SUITE_P(Modes, HostTreeCopy, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) ? "SideFile" : "Xattr") +
                                  (std::get<1>(info.param) ? "Overwrite" : "Keep");
                         });

}  // namespace
}  // namespace hu
