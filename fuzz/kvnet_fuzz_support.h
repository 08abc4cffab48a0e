// Shared by the fuzz programs: the input becomes one or more files in a folder of this process,
// and only the library's own exceptions count as a clean rejection. Anything else (a crash, a
// sanitizer report, a std:: exception escaping, a hang) is a finding.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kvnet::fuzz {

// A folder of its own for this process (ClearFolder empties it).
inline const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    auto path =
        std::filesystem::temp_directory_path() / ("kvnet_fuzz_" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

inline void ClearFolder() {
  for (const auto& entry : std::filesystem::directory_iterator(Folder()))
    std::filesystem::remove_all(entry.path());
}

// A second folder of this process, next to Folder(), for data made once and copied per input.
inline std::filesystem::path TemplateFolder() {
  const auto path = Folder().parent_path() / (Folder().filename().string() + "_template");
  std::filesystem::create_directories(path);
  return path;
}

// Empties Folder() and copies the template folder's files into it. The fuzzer's timer signal
// can interrupt a file copy; it is then simply repeated.
inline void CopyTemplate(const std::filesystem::path& source) {
  for (;;) {
    ClearFolder();
    std::error_code ec;
    std::filesystem::copy(source, Folder(), std::filesystem::copy_options::recursive, ec);
    if (!ec) return;
    if (ec != std::errc::interrupted) throw std::filesystem::filesystem_error("copy", ec);
  }
}

inline std::string WriteFile(const std::string& name, std::string_view bytes) {
  const auto path = Folder() / name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

// Splits an input into parts at each occurrence of the separator line "\n--KVNET--\n", so one
// input can carry several companion files (a .mif and its .mid, a .shp and its .shx).
inline std::vector<std::string_view> SplitParts(const std::uint8_t* data, std::size_t size) {
  constexpr std::string_view kSeparator = "\n--KVNET--\n";
  std::vector<std::string_view> parts;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (;;) {
    const auto at = rest.find(kSeparator);
    if (at == std::string_view::npos) break;
    parts.push_back(rest.substr(0, at));
    rest.remove_prefix(at + kSeparator.size());
  }
  parts.push_back(rest);
  return parts;
}

}  // namespace kvnet::fuzz
