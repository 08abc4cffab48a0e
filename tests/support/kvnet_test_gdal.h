// GDAL's command-line tools (Debian's gdal-bin) as the independent reader of tables and layers
// the library reads or writes. Tests that use them skip with a message when they are missing.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace kvnet::test {

struct TOgrFeature {
  std::map<std::string, std::string> values;  // field name -> value text ("(null)" for null)
};

bool OgrInfoAvailable();

// The features "ogrinfo -al -q -geom=NO" reports for a file, in order.
std::vector<TOgrFeature> OgrFeatures(const std::string& file);

}  // namespace kvnet::test

#define KVNET_REQUIRE_OGRINFO()                                                      \
  if (!::kvnet::test::OgrInfoAvailable()) {                                          \
    GTEST_SKIP() << "ogrinfo (Debian package gdal-bin) is not installed; this test " \
                    "compares with it";                                              \
  }
