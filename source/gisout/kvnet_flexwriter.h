// A text sink that writes to a UTF-8 file (no byte-order mark) when it has a file name and
// collects the text in memory when it has none. The GeoJSON writer uses it for both cases.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "foundation/kvnet_textfile.h"

namespace kvnet {

class TFlexWriter {
 public:
  explicit TFlexWriter(const std::string& filename);

  // Appends s unchanged (no line break).
  void append(std::string_view s);
  // Empties the collected text; no effect on a file.
  void clear();
  // The collected text; empty for a file.
  const std::string& ToString() const { return fText; }
  bool FileStyle() const { return fFileStyle; }
  // Flushes and closes the file (raises when its data could not be written).
  void Close();

 private:
  bool fFileStyle;
  std::string fText;
  std::unique_ptr<TTextFileWriter> fFile;
};

}  // namespace kvnet
