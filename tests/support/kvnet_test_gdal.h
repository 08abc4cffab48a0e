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

// A layer as "ogrinfo -al" reports it: field types, and per feature its values and geometry.
struct TOgrLayerFeature {
  std::map<std::string, std::string> values;  // null fields are missing
  std::string geometry;                       // WKT; empty without geometry
};

struct TOgrLayer {
  bool opened = false;                                      // ogrinfo read the file
  std::vector<std::pair<std::string, std::string>> fields;  // name -> "Integer (11.0)"
  std::vector<TOgrLayerFeature> features;
  std::string messages;  // what ogrinfo wrote to standard error
};

bool OgrInfoAvailable();

// The first layer of a file, read by ogrinfo. Extra arguments go before the file name.
TOgrLayer OgrLayer(const std::string& file, const std::string& options = "");

// The features "ogrinfo -al -q -geom=NO" reports for a file, in order.
std::vector<TOgrFeature> OgrFeatures(const std::string& file);

}  // namespace kvnet::test

#define KVNET_REQUIRE_OGRINFO()                                                      \
  if (!::kvnet::test::OgrInfoAvailable()) {                                          \
    GTEST_SKIP() << "ogrinfo (Debian package gdal-bin) is not installed; this test " \
                    "compares with it";                                              \
  }
