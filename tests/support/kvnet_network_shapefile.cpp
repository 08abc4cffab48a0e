#include "support/kvnet_network_shapefile.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kvnet::test {

namespace {

template <class T>
T Load(const std::string& bytes, std::size_t at) {
  if (at + sizeof(T) > bytes.size()) throw std::runtime_error("shapefile cut short");
  T value;
  std::memcpy(&value, bytes.data() + at, sizeof(T));
  return value;
}

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
  const auto b = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.at(at + i)));
  };
  return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

}  // namespace

std::vector<std::vector<TFloatPoint>> ReadShapefileLines(const std::string& shpFile) {
  std::ifstream in(shpFile, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::vector<TFloatPoint>> lines;
  std::size_t at = 100;
  while (at + 8 <= bytes.size()) {
    const std::size_t length = 2 * static_cast<std::size_t>(BigEndian32(bytes, at + 4));
    const std::size_t content = at + 8;
    const auto type = Load<std::int32_t>(bytes, content);
    std::vector<TFloatPoint> points;
    if (type == 3 || type == 13 || type == 23) {
      const auto parts = Load<std::int32_t>(bytes, content + 36);
      const auto count = Load<std::int32_t>(bytes, content + 40);
      const std::size_t first = content + 44 + 4 * static_cast<std::size_t>(parts);
      for (std::int32_t k = 0; k < count; ++k) {
        points.push_back({Load<double>(bytes, first + 16 * static_cast<std::size_t>(k)),
                          Load<double>(bytes, first + 16 * static_cast<std::size_t>(k) + 8)});
      }
    }
    lines.push_back(std::move(points));
    at = content + length;
  }
  return lines;
}

}  // namespace kvnet::test
