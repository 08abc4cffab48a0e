// The common body of the import fuzz programs: the parts of the input become the files of one
// layer, the layer is imported (with z-levels from its table when it has one), and a network
// that comes out is opened and walked.
#pragma once

#include <string>
#include <vector>

#include "foundation/kvnet_exceptions.h"
#include "import/kvnet_import.h"
#include "kvnet_fuzz_support.h"
#include "store/kvnet_network.h"

namespace kvnet::fuzz {

// names[i] receives part i; the first name is the layer file the import is given.
inline void ImportLayer(const std::uint8_t* data, std::size_t size,
                        const std::vector<std::string>& names, bool zlevels) {
  ClearFolder();
  const auto parts = SplitParts(data, size);
  std::string layer;
  for (std::size_t i = 0; i < names.size() && i < parts.size(); ++i) {
    const std::string path = WriteFile(names[i], parts[i]);
    if (i == 0) layer = path;
  }
  const std::string directory = (Folder() / "net").string();
  std::filesystem::create_directories(directory);
  try {
    TImport import;
    import.SetDirectory(directory);
    if (zlevels) {
      import.SetZFromField(0);
      import.SetZToField(1);
    }
    import.Add(layer);
    import.Execute();

    TNetwork net;
    net.SetDirectory(directory);
    net.Open(false, false, true, 0);
    for (std::int32_t link = 1; link <= net.LinkCount() && link <= 64; ++link) {
      net.Link2FromNode(link);
      net.Link2ToNode(link);
      net.LinkLength(link);
    }
  } catch (const Exception&) {
  }
}

}  // namespace kvnet::fuzz
