// Shape-file import: parts .shp, .shx, .prj and .dbf (the table's first two fields as z-levels).
#include "kvnet_fuzz_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvnet::fuzz::ImportLayer(data, size, {"l.shp", "l.shx", "l.prj", "l.dbf"}, true);
  return 0;
}
