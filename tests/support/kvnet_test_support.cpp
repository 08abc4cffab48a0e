#include "support/kvnet_test_support.h"

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kvnet::test {

TTempDir::TTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kvnet_test_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  FPath = pattern;
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

std::string ReadFileBytes(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + fileName);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFileBytes(const std::string& fileName, const std::string& bytes) {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + fileName);
}

std::string FixturePath(const std::string& relative) {
  return (std::filesystem::path(KVNET_FIXTURES_DIR) / relative).string();
}

std::string DataSetPath(const std::string& name) {
  const std::filesystem::path folder = std::filesystem::path(KVNET_DATA_DIR) / name;
  std::error_code ec;
  return std::filesystem::is_directory(folder, ec) ? folder.string() : std::string();
}

TFloatPointArrayEx MakeSection(const std::vector<TFloatPoint>& points) {
  TFloatPointArrayEx section;
  section.Pnt = points;
  section.Count = static_cast<std::int32_t>(points.size());
  return section;
}

}  // namespace kvnet::test
