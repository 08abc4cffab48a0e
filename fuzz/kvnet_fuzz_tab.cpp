// MapInfo native table import: parts .tab, .map, .id and .dat (its first two fields as z-levels).
#include "kvnet_fuzz_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvnet::fuzz::ImportLayer(data, size, {"l.tab", "l.map", "l.id", "l.dat"}, true);
  return 0;
}
