// MapInfo interchange import: parts .mif and .mid (its first two columns as z-levels).
#include "kvnet_fuzz_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvnet::fuzz::ImportLayer(data, size, {"l.mif", "l.mid"}, true);
  return 0;
}
