#include "support/kvnet_test_gdal.h"

#include <cstdio>
#include <cstdlib>

namespace kvnet::test {

bool OgrInfoAvailable() {
  return std::system("ogrinfo --version > /dev/null 2>&1") == 0;
}

std::vector<TOgrFeature> OgrFeatures(const std::string& file) {
  std::vector<TOgrFeature> features;
  const std::string command = "ogrinfo -al -q -geom=NO '" + file + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return features;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
      text.pop_back();
    if (text.rfind("OGRFeature(", 0) == 0) {
      features.emplace_back();
      continue;
    }
    // Field lines read "  name (Type) = value".
    const auto open = text.find(" (");
    const auto equals = text.find(") = ");
    if (features.empty() || text.rfind("  ", 0) != 0 || open == std::string::npos ||
        equals == std::string::npos || equals < open) {
      continue;
    }
    features.back().values[text.substr(2, open - 2)] = text.substr(equals + 4);
  }
  ::pclose(pipe);
  return features;
}

}  // namespace kvnet::test
