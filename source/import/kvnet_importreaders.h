// The geometry readers of the import, one per input kind. Each walks the objects of every file
// of import.Files() (all of its kind) in order and hands them to the import through its reader
// interface (see TBaseImport), establishing the coordinate unit and the coordinate-system text.
// A bad file raises an exception of this library; the import removes what it wrote.
#pragma once

#include <string>

#include "import/kvnet_import.h"

namespace kvnet {

// ESRI shape files (.shp with .shx and .prj; .dbf for z-levels).
void ReadSHP(TBaseImport& import);
// MapInfo interchange files (.mif; .mid for z-levels).
void ReadMIF(TBaseImport& import);
// MapInfo native tables (.tab with .map and .id; .dat for z-levels); extended says whether the
// .map uses 8-byte object pointers.
void ReadTAB(TBaseImport& import, bool extended);

// The unit of an ESRI projection text: the name after its last UNIT keyword.
TCoordinateUnit PrjToCoordinateUnit(const std::string& prj);

// A companion file of a layer: base + ext as given, else with ext in the other letter case
// (".dbf" / ".DBF"), else base + ext (which then does not exist).
std::string CompanionFile(const std::string& base, const std::string& ext);

}  // namespace kvnet
