#include "gisout/kvnet_flexwriter.h"

#include "foundation/kvnet_codepage.h"

namespace kvnet {

TFlexWriter::TFlexWriter(const std::string& filename) : fFileStyle(!filename.empty()) {
  if (fFileStyle) fFile = std::make_unique<TTextFileWriter>(filename, kCodePageUtf8, false);
}

void TFlexWriter::append(std::string_view s) {
  if (fFileStyle) {
    fFile->write(s);
  } else {
    fText.append(s);
  }
}

void TFlexWriter::clear() {
  fText.clear();
}

void TFlexWriter::Close() {
  if (fFile) fFile->Close();
}

}  // namespace kvnet
