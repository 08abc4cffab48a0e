// An import that only records what a geometry reader hands it: the vertices of every link and
// every error, by link number. Tests of a reader run it through Run and compare the records.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "import/kvnet_import.h"

namespace kvnet::test {

struct TRecordedLink {
  std::int32_t fileIndex = 0;
  std::vector<TFloatPoint> vertices;  // empty for an error link
  bool error = false;
  TImportError importError;
  std::int32_t zFrom = 0;
  std::int32_t zTo = 0;
};

class TRecordingImport : public TBaseImport {
 public:
  // Runs the reader (for example [](TBaseImport& i) { ReadSHP(i); }) over the added files.
  void Run(const std::function<void(TBaseImport&)>& reader);
  void Execute() override {}

  void MarkLinkStart() override { ++marks; }
  void StoreLink(std::int32_t fileIndex) override;
  void AddImportError(std::int32_t fileIndex, std::int32_t linklocal, std::int32_t value,
                      TErrorCode errorcode, std::int32_t link) override;

  std::map<std::int32_t, TRecordedLink> links;  // by link number
  std::int32_t marks = 0;                       // MarkLinkStart calls: objects + 1 when complete
};

}  // namespace kvnet::test
