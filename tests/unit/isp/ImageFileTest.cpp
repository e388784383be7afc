// Firmware image files: size, checksum and contents as the display prints them, and the
// results for names that are not readable files.
#include <gtest/gtest.h>

#include <string>

#include "isp/ImageFile.h"
#include "common/TestSupport.h"

namespace brumel {
namespace {

using test::TempFolder;

struct ImageCase {
  const char* name;
  std::string bytes;
  uint16_t checksum;
};

void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.name; }

class ImageFileLoad : public ::testing::TestWithParam<ImageCase> {};

TEST_P(ImageFileLoad, ReadsWholeFileWithByteSum) {
  const ImageCase& c = GetParam();
  TempFolder dir;
  const std::string path = dir.File("image.bin");
  TempFolder::Write(path, c.bytes);

  fileinfo info;
  ::testing::internal::CaptureStdout();
  const bool ok = LoadImageFile(path, info);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  ASSERT_TRUE(ok);
  EXPECT_EQ(info.Path, path);
  EXPECT_EQ(info.Size, c.bytes.size());
  EXPECT_EQ(info.Checksum, c.checksum);
  EXPECT_EQ(std::string(info.Data.begin(), info.Data.end()), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    ImageFile, ImageFileLoad,
    ::testing::Values(ImageCase{"Empty", "", 0x0000}, ImageCase{"Abc", "abc", 0x0126},
                      // 258 * 0xFF = 65790, which wraps to 0x00FE.
                      ImageCase{"SumWraps", std::string(258, '\xFF'), 0x00FE},
                      ImageCase{"BytesAreUnsigned", std::string("\x80\x01\x00\xFE", 4), 0x017F}),
    [](const ::testing::TestParamInfo<ImageCase>& info) { return info.param.name; });

fileinfo Marked() {
  fileinfo info;
  info.Path = "before";
  info.Size = 3;
  info.Checksum = 0x1234;
  info.Data = {1, 2, 3};
  return info;
}

void ExpectUntouched(const fileinfo& info) {
  EXPECT_EQ(info.Path, "before");
  EXPECT_EQ(info.Size, 3u);
  EXPECT_EQ(info.Checksum, 0x1234);
  EXPECT_EQ(info.Data, (std::vector<uint8_t>{1, 2, 3}));
}

TEST(ImageFile, FolderIsRefusedWithMessageAndRecordUntouched) {
  TempFolder dir;
  const std::string path = dir.File("sub");
  std::filesystem::create_directory(path);
  EXPECT_TRUE(IsFolder(path));

  fileinfo info = Marked();
  ::testing::internal::CaptureStdout();
  const bool ok = LoadImageFile(path, info);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "THis is a folder\n");
  EXPECT_FALSE(ok);
  ExpectUntouched(info);
}

TEST(ImageFile, MissingFileIsFalseAndSilent) {
  TempFolder dir;
  const std::string path = dir.File("missing.bin");
  EXPECT_FALSE(IsFolder(path));

  fileinfo info = Marked();
  ::testing::internal::CaptureStdout();
  const bool ok = LoadImageFile(path, info);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(ok);
  ExpectUntouched(info);
}

TEST(ImageFile, LoadingAgainReplacesEarlierContents) {
  TempFolder dir;
  const std::string big = dir.File("big.bin"), small = dir.File("small.bin");
  TempFolder::Write(big, std::string(100, '\x01'));
  TempFolder::Write(small, "xy");
  fileinfo info;
  ASSERT_TRUE(LoadImageFile(big, info));
  ASSERT_TRUE(LoadImageFile(small, info));
  EXPECT_EQ(info.Size, 2u);
  EXPECT_EQ(info.Data.size(), 2u);
  EXPECT_EQ(info.Checksum, 'x' + 'y');
}

}  // namespace
}  // namespace brumel
