#include "support/kvnet_test_import.h"

namespace kvnet::test {

void TRecordingImport::Run(const std::function<void(TBaseImport&)>& reader) {
  links.clear();
  marks = 0;
  fLinkCount = 0;
  fImportErrorList.clear();
  reader(*this);
}

void TRecordingImport::StoreLink(std::int32_t fileIndex) {
  TRecordedLink& link = links[fLinkCount];
  link.fileIndex = fileIndex;
  link.vertices.assign(fVertices.begin(), fVertices.begin() + fNumPoints);
  link.zFrom = fZFrom;
  link.zTo = fZTo;
}

void TRecordingImport::AddImportError(std::int32_t fileIndex, std::int32_t linklocal,
                                      std::int32_t value, TErrorCode errorcode, std::int32_t link) {
  TRecordedLink& recorded = links[link];
  recorded.fileIndex = fileIndex;
  recorded.error = true;
  recorded.importError = TImportError{fileIndex, linklocal, link, errorcode, value};
  fImportErrorList.push_back(recorded.importError);
}

}  // namespace kvnet::test
