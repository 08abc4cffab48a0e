#include "foundation/kvnet_filebase.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "foundation/kvnet_exceptions.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

class TOpenableFileBase : public TFileBase {
 public:
  void SetOpen(bool value) { fIsOpen = value; }
};

TEST(FileBase, DirectoryStartsAtTheWorkingDirectoryAndEndsWithASlash) {
  TOpenableFileBase f;
  EXPECT_EQ(f.Directory(), std::filesystem::current_path().string() + "/");
  f.SetDirectory("bin_data");
  EXPECT_EQ(f.Directory(), "bin_data/");
  f.SetDirectory("out/");
  EXPECT_EQ(f.Directory(), "out/");
  f.SetOpen(true);
  f.SetDirectory("elsewhere");  // ignored while open
  EXPECT_EQ(f.Directory(), "out/");
  EXPECT_EQ(f.EncryptionKey(), 0);
  f.SetEncryptionKey(-42);
  EXPECT_EQ(f.EncryptionKey(), -42);
}

TEST(FileBase, CheckDirectory) {
  test::TTempDir dir;
  TFileBase f;
  f.SetDirectory(dir.Path().string());
  EXPECT_NO_THROW(f.CheckDirectory());
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));  // the write test leaves nothing behind

  f.SetDirectory(dir.File("missing"));
  try {
    f.CheckDirectory();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Output directory does not exist");
  }
  // /proc exists but takes no new files, even for root.
  f.SetDirectory("/proc");
  try {
    f.CheckDirectory();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Output directory is not writeable");
  }
}

}  // namespace
}  // namespace kvnet
