#include "support/kvnet_test_gdal.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/kvnet_test_support.h"

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

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

// "Name: Type (w.d)" of the layer's field list.
bool FieldDefinition(const std::string& text, std::string& name, std::string& type) {
  const auto colon = text.find(": ");
  if (text.empty() || text[0] == ' ' || colon == std::string::npos || text.back() != ')') {
    return false;
  }
  const auto open = text.rfind(" (");
  if (open == std::string::npos || open < colon) return false;
  // The parentheses hold width.precision.
  const std::string size = text.substr(open + 2, text.size() - open - 3);
  const auto dot = size.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == size.size() ||
      size.find_first_not_of("0123456789.") != std::string::npos) {
    return false;
  }
  name = text.substr(0, colon);
  type = text.substr(colon + 2);
  return type.find(' ') == open - colon - 2;  // one word before the parentheses
}

bool IsGeometry(const std::string& text) {
  for (const char* kind : {"POINT", "LINESTRING", "POLYGON", "MULTIPOINT", "MULTILINESTRING",
                           "MULTIPOLYGON", "GEOMETRYCOLLECTION"}) {
    const std::string prefix = std::string("  ") + kind;
    if (StartsWith(text, prefix + " (") || StartsWith(text, prefix + " EMPTY")) return true;
  }
  return false;
}

}  // namespace

TOgrLayer OgrLayer(const std::string& file, const std::string& options) {
  TOgrLayer layer;
  const TTempDir dir;
  const std::string errors = dir.File("stderr.txt");
  const std::string command = "ogrinfo -al -ro " + options + " '" + file + "' 2>'" + errors + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return layer;
  char* line = nullptr;
  std::size_t capacity = 0;
  std::string name;
  std::string type;
  while (::getline(&line, &capacity, pipe) != -1) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
      text.pop_back();
    if (StartsWith(text, "Layer name:")) {
      layer.opened = true;
    } else if (StartsWith(text, "OGRFeature(")) {
      layer.features.emplace_back();
    } else if (layer.features.empty()) {
      if (FieldDefinition(text, name, type)) layer.fields.emplace_back(name, type);
    } else if (IsGeometry(text)) {
      layer.features.back().geometry = text.substr(2);
    } else {
      // "  name (Type) = value"
      const auto open = text.find(" (");
      const auto equals = text.find(") = ");
      if (StartsWith(text, "  ") && open != std::string::npos && equals != std::string::npos &&
          open < equals) {
        layer.features.back().values[text.substr(2, open - 2)] = text.substr(equals + 4);
      }
    }
  }
  std::free(line);
  ::pclose(pipe);
  std::ifstream in(errors);
  std::stringstream messages;
  messages << in.rdbuf();
  layer.messages = messages.str();
  return layer;
}

}  // namespace kvnet::test
