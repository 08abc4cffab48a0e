// A minimal reader of polyline shape files for tests and benchmarks: the vertices of every
// record, read directly from the .shp (independent of the library's import).
#pragma once

#include <string>
#include <vector>

#include "foundation/kvnet_types.h"

namespace kvnet::test {

// The polylines of a .shp (types 3, 13, 23; all parts of a record joined; other records empty).
std::vector<std::vector<TFloatPoint>> ReadShapefileLines(const std::string& shpFile);

}  // namespace kvnet::test
