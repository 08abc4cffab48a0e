#include "store/kvnet_coord3file.h"

#include <gtest/gtest.h>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_io.h"
#include "support/kvnet_test_networks.h"

namespace kvnet {
namespace {

using test::ParseLinks;
using test::TNetworkDir;

TEST(Coord3File, StraightLinkHasNoShapePoints) {
  const TNetworkDir dir(ParseLinks("0 0, 5 5"));
  EXPECT_EQ(test::ReadFileBytes(dir.File("coord3i.bin")), std::string(8, '\0'));
  EXPECT_EQ(test::ReadFileBytes(dir.File("coord3.bin")), "");
  TCoord3File file;
  file.SetDirectory(dir.Path());
  file.Open(false);
  TFloatPointArrayEx list;
  file.ReadSection(0, list);
  EXPECT_EQ(list.Count, 2);
  EXPECT_EQ(file.GetCount(0), 2);
  double x = 0;
  double y = 0;
  try {
    file.GetCoord(0, 0, x, y);
    FAIL();
  } catch (const EOutOfRange& e) {
    EXPECT_STREQ(e.what(), "Coord3file.GetCoord index argument 0 > -1");
  }
}

TEST(Coord3File, CachedUncachedStreamedAndClonedReadersAgree) {
  for (const std::int64_t key : {std::int64_t{0}, std::int64_t{4242}}) {
    test::TNetworkWriterOptions options;
    options.key = key;
    const TNetworkDir dir(ParseLinks("0 0, 1 1, 2 0, 3 1, 4 0; 4 0, 5 5; 5 5, 6 6.5, 7 5"),
                          options);
    TCoord3File cached;
    TCoord3File uncached;
    for (TCoord3File* f : {&cached, &uncached}) {
      f->SetDirectory(dir.Path());
      f->SetEncryptionKey(key);
    }
    cached.Open(true);
    uncached.Open(false);
    TKVMemoryStream points;
    TKVMemoryStream index;
    points.LoadFromFile(dir.File("coord3.bin"));
    index.LoadFromFile(dir.File("coord3i.bin"));
    TCoord3File streamed(false, key, &points, &index);
    TCoord3File clone;
    uncached.Clone(clone);
    uncached.Close();
    EXPECT_TRUE(cached.Cached());
    EXPECT_EQ(cached.Count(), 3);
    const std::vector<std::vector<TFloatPoint>> expected = {
        {{1, 1}, {2, 0}, {3, 1}}, {}, {{6, 6.5}}};
    for (TCoord3File* f : {&cached, &streamed, &clone}) {
      for (std::int32_t r = 0; r < 3; ++r) {
        TFloatPointArrayEx list;
        list.Pnt.resize(10);  // room enough: not shrunk
        f->ReadSection(r, list);
        ASSERT_EQ(list.Count,
                  static_cast<std::int32_t>(expected[static_cast<std::size_t>(r)].size()) + 2);
        EXPECT_EQ(list.Pnt.size(), 10u);
        for (std::size_t k = 0; k < expected[static_cast<std::size_t>(r)].size(); ++k) {
          EXPECT_EQ(list.Pnt[k + 1], expected[static_cast<std::size_t>(r)][k]);
        }
      }
      double x = 0;
      double y = 0;
      f->GetCoord(0, 2, x, y);
      EXPECT_EQ(x, 3);
      EXPECT_EQ(y, 1);
      EXPECT_THROW(f->GetCoord(0, 3, x, y), EOutOfRange);
      EXPECT_THROW(f->GetCount(3), EOutOfRange);
    }
  }
}

TEST(Coord3File, MissingAndInconsistentFilesRaise) {
  const TNetworkDir dir(ParseLinks("0 0, 1 1, 2 0; 2 0, 3 3"));
  TCoord3File file;
  file.SetDirectory(dir.Path());
  std::filesystem::rename(dir.File("coord3.bin"), dir.File("saved.bin"));
  try {
    file.Open(false);
    FAIL();
  } catch (const EFileMissing& e) {
    EXPECT_EQ(std::string(e.what()), dir.Path() + "coord3.bin is missing");
  }
  std::filesystem::rename(dir.File("saved.bin"), dir.File("coord3.bin"));
  const std::string index = test::ReadFileBytes(dir.File("coord3i.bin"));
  const std::string cases[] = {
      index.substr(0, 6),                                           // not whole words
      std::string("\x01\0\0\0", 4) + index.substr(4),               // does not start at 0
      index.substr(0, 4) + std::string("\x02\0\0\0\x01\0\0\0", 8),  // falls
      index.substr(0, 8) + std::string("\x05\0\0\0", 4),  // more points than the file holds
  };
  for (const std::string& bad : cases) {
    test::WriteFileBytes(dir.File("coord3i.bin"), bad);
    EXPECT_THROW(file.Open(true), Exception);
    EXPECT_FALSE(file.IsOpen());
  }
}

}  // namespace
}  // namespace kvnet
