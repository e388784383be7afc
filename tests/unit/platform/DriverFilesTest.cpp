#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "platform/DriverFiles.h"

namespace plat {
namespace {

using brumel::test::TempFolder;

TEST(DriverFiles, WriteProbeAndRemoveAFile) {
  TempFolder folder;
  DriverFiles& files = SystemDriverFiles();
  const std::string path = folder.File("BrumelDrv103.sys");
  const std::vector<uint8_t> image = {'M', 'Z', 0x00, 0xFF, 0x90};

  EXPECT_EQ(files.Probe(path), FileProbe::Missing);
  EXPECT_EQ(files.Probe(folder.File("no-folder/BrumelDrv103.sys")), FileProbe::Missing);
  EXPECT_EQ(files.Write(folder.File("no-folder/BrumelDrv103.sys"), image.data(), image.size()),
            FileWrite::NotOpened);

  TempFolder::Write(path, std::string(100, 'x'));
  ASSERT_EQ(files.Write(path, image.data(), image.size()), FileWrite::Written);
  EXPECT_EQ(TempFolder::Read(path), std::string(image.begin(), image.end()));  // truncated
  EXPECT_EQ(files.Probe(path), FileProbe::Present);
  EXPECT_EQ(files.Probe(folder.Folder()), FileProbe::Unreadable);

  EXPECT_TRUE(files.Remove(path));
  EXPECT_EQ(files.Probe(path), FileProbe::Missing);
  EXPECT_FALSE(files.Remove(path));
}

}  // namespace
}  // namespace plat
