// The in-memory layer that the array writer fills: field descriptions, and per record its
// attribute values and its parts of points. Network and calculation objects each own one and
// hand it to the writer; the caller reads it after the run.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "foundation/kvnet_gistypes.h"
#include "foundation/kvnet_types.h"

namespace kvnet {

// A date and time as days counted from 30 December 1899, the time of day as the fraction.
struct TGISDateTime {
  double days = 0;
  friend bool operator==(const TGISDateTime&, const TGISDateTime&) = default;
};

// One attribute value. std::monostate stands for an empty value in a numeric, date or time field
// (a null), which no number can represent.
using TGISValue = std::variant<std::monostate, std::string, double, TGISDateTime, bool,
                               std::int32_t, std::int64_t>;

struct TRec {
  std::vector<TGISValue> Attr;                  // one value per field, in field order
  std::vector<std::vector<TFloatPoint>> Coord;  // parts; a point record has one part of one point
};

class TGISArray {
 public:
  std::int32_t EPSG = 0;
  std::string Coordsys;  // MapInfo CoordSys clause
  std::string PRJ;       // projection text of a shape file's .prj
  TObjectTypes OT = otPline;
  TFloatRect MBR;                 // extent of every coordinate written
  std::vector<TFieldInfo> Field;  // entry i describes field i + 1 of the writer
  std::vector<TRec> Rec;          // the first RecCount entries are valid; the rest is spare room
  std::int32_t RecCount = 0;

  // Releases every record and field; RecCount becomes 0.
  void Clear();
};

// The value of a date (year, month, day) as days from 30 December 1899; raises Exception
// "'%s' is not a valid date" naming text when the date does not exist.
double EncodeGISDate(std::int32_t year, std::int32_t month, std::int32_t day,
                     const std::string& text);

// The value as text, the way the demo lists array contents: numbers in the general format,
// Booleans as True or False, dates as YYYY-MM-DD, times as hh:mm:ss.zzz, nulls as an empty text.
std::string GISValueToText(const TGISValue& value);

}  // namespace kvnet
