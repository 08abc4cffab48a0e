// Helpers shared by the test executables: temporary folders, whole-file reads and writes, and
// the locations of committed fixtures and of the real road data.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/kvnet_types.h"

namespace kvnet::test {

// A fresh folder under the system's temporary directory, removed with everything in it when the
// object goes out of scope.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  // Path of a file inside the folder, as a string.
  std::string File(const std::string& name) const { return (FPath / name).string(); }

 private:
  std::filesystem::path FPath;
};

std::string ReadFileBytes(const std::string& fileName);
void WriteFileBytes(const std::string& fileName, const std::string& bytes);

// A committed fixture under tests/fixtures.
std::string FixturePath(const std::string& relative);

// A polyline section holding exactly these points.
TFloatPointArrayEx MakeSection(const std::vector<TFloatPoint>& points);

// The folder of a real data set (../shared/data/<name>), or an empty string when it is absent.
std::string DataSetPath(const std::string& name);

}  // namespace kvnet::test

// Skips the current test with a clear message when the real data set is not available.
// NOLINTBEGIN(bugprone-macro-parentheses): var is a variable name
#define KVNET_REQUIRE_DATA_SET(var, name)                                              \
  const std::string var = ::kvnet::test::DataSetPath(name);                            \
  if (var.empty()) {                                                                   \
    GTEST_SKIP() << "real data set '" << (name) << "' not found under " KVNET_DATA_DIR \
                 << "; this test needs it";                                            \
  }
// NOLINTEND(bugprone-macro-parentheses)
