#include "sysmend/app/installed_versions.h"

#include <gtest/gtest.h>

#include "sysmend/app/console_device.h"
#include "sysmend/packages/kvq_unzip.h"
#include "tests/sysmend_app/sysmend_fixture.h"

namespace hu {
namespace {

class InstalledVersionsTest : public ::testing::Test, public SysmendFixture {
 protected:
  InstalledVersions versions{files, registry, &library, &devices};
};

TEST_F(InstalledVersionsTest, LibraryAnswersFirst) {
  InstallHalbridge();
  SetInstalled("3A1F0C01234567", "12345678", "00A100000001", "");
  EXPECT_EQ(versions.ReadOSVer(), "3A1F0C01234567");
  EXPECT_EQ(versions.ReadBootVer(), "12345678");
  EXPECT_EQ(versions.ReadConfVer(), "00A100000001");
  EXPECT_TRUE(trace.Contains("****** &&&&&&& ReadOSVer  wcBuf = 3A1F0C01234567 \r\n"));
}

TEST_F(InstalledVersionsTest, WithoutTheLibraryTheRegistryAndTheConsoleDeviceAnswer) {
  registry.Put("SOFTWARE\\Dravik\\Os", "KVRVER", RegValue::String("3A1F0C01234567"));
  EXPECT_EQ(versions.ReadOSVer(), "3A1F0C01234567");
  // A value longer than the 40 bytes the device reads is not taken.
  registry.Put("SOFTWARE\\Dravik\\Os", "KVRVER", RegValue::String("0123456789012345678901234567890"));
  EXPECT_EQ(versions.ReadOSVer(), "");

  devices.SetAnswer(kKernelBootVersion, true, {0x78, 0x56, 0x34, 0x12});
  EXPECT_EQ(versions.ReadBootVer(), "12345678");
  devices.SetAnswer(kConConfIdentity, true, {0xA1, 0x00, 0x01, 0x00, 0x00, 0x00});
  EXPECT_EQ(versions.ReadConfVer(), "00a100000001");

  devices.SetPresent("CON1:", false);
  EXPECT_EQ(versions.ReadBootVer(), "");
  EXPECT_EQ(versions.ReadConfVer(), "");
}

TEST_F(InstalledVersionsTest, ApplicationVersionFromDravikThenNandFlash) {
  EXPECT_EQ(versions.ReadAppVer(), "");
  files.PutFile("\\NANDFlash\\$KVR$\\App\\AppVerInfo.cfg", AppVerInfo("N1.0"));
  EXPECT_EQ(versions.ReadAppVer(), "N1.0");
  files.PutFile("\\Dravik\\$KVR$\\App\\AppVerInfo.cfg", AppVerInfo("D2.0"));
  EXPECT_EQ(versions.ReadAppVer(), "D2.0");
}

TEST_F(InstalledVersionsTest, ContainerChecksUseTheInstalledVersions) {
  InstallHalbridge();
  SetInstalled("3A1F0C01234567", "12345678", "00A100000001", "1.0");
  PutKitFile("k.kvq", testkit::BuildContainer(u"12345678X-4A1F0C01234567-1.0", {{SectionKind::Os, "OS"}}));
  CPublicVerChecker checker(files);
  CKvqUnzip kvq(files, codePage, versions);
  EXPECT_EQ(kvq.CheckOSVer(false), 17u);  // no checker yet
  kvq.SetVerChecker(&checker);
  ASSERT_TRUE(kvq.Open(kitFolder + "\\k.kvq"));
  EXPECT_EQ(kvq.CheckOSVer(false), 1u);  // another cpu
  EXPECT_EQ(kvq.CheckBootVer(false), 17u);  // no boot section
  EXPECT_TRUE(trace.Contains("CKvqUnzip::CheckOSVer m_pKvqParser->GetOSVe failed !!!"));
}

}  // namespace
}  // namespace hu
