#include "foundation/kvnet_filebase.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "foundation/kvnet_exceptions.h"

namespace kvnet {

TFileBase::TFileBase() {
  std::error_code ec;
  const auto cwd = std::filesystem::current_path(ec);
  SetDirectory(ec ? std::string(".") : cwd.string());
}

void TFileBase::SetDirectory(const std::string& value) {
  if (fIsOpen) return;
  fDirectory = value;
  if (fDirectory.empty() || fDirectory.back() != '/') fDirectory += '/';
}

void TFileBase::CheckDirectory() const {
  std::error_code ec;
  if (!std::filesystem::is_directory(fDirectory, ec)) {
    throw Exception("Output directory does not exist");
  }
  // Write test: create and remove a uniquely named file.
  std::string probe = fDirectory + ".kvnet_write_test_XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) throw Exception("Output directory is not writeable");
  ::close(fd);
  ::unlink(probe.c_str());
}

}  // namespace kvnet
