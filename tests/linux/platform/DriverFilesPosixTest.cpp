#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/TestSupport.h"
#include "platform/DriverFiles.h"

namespace plat {
namespace {

using brumel::test::TempFolder;

TEST(DriverFiles, APlantedLinkIsNeitherFollowedNorWritten) {
  TempFolder folder;
  const std::string target = folder.File("target");
  TempFolder::Write(target, "keep");
  const std::string link = folder.File("BrumelDrv103.sys");
  std::filesystem::create_symlink(target, link);
  const uint8_t image[3] = {1, 2, 3};
  EXPECT_EQ(SystemDriverFiles().Write(link, image, sizeof image), FileWrite::NotOpened);
  EXPECT_EQ(SystemDriverFiles().Probe(link), FileProbe::Unreadable);
  EXPECT_EQ(TempFolder::Read(target), "keep");
}

}  // namespace
}  // namespace plat
