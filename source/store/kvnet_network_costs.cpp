// TNetwork: cost, time and speed arrays, the dBASE column operations that fill and save them,
// and the lower-bound factors (alphas) of time and cost.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "foundation/kvnet_baselist.h"
#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "gisin/kvnet_dbffiles.h"
#include "store/kvnet_network.h"
#include "store/kvnet_roadclassspeed.h"

namespace kvnet {

namespace {

constexpr double kMilesToKm = 1.609344;

// A double as a single; values beyond the single range become infinite (a plain conversion of
// such a value is undefined).
float ToSingle(double value) {
  if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

// Stores a value and raises the alpha flag when it may lower the bound (smaller, or not a
// number on either side).
void StoreValue(std::vector<float>& array, std::int32_t link, float value, bool& flag) {
  float& slot = array[static_cast<std::size_t>(link)];
  if (!(value >= slot)) flag = true;
  slot = value;
}

// The single-precision time of a link at a speed in km/h (0 for a link of length 0).
float TimeAtSpeed(float length, double speed) {
  return ToSingle(static_cast<double>(length) / speed * 60.0);
}

bool ValidTime(float time) {
  return time > 0 && std::isfinite(time);
}

// The largest single alpha with alpha x largestRatio <= 1, one step lower still, so that no
// rounding in the caller's distance x alpha can exceed a link's value. 0 when no bound exists.
float LowerBoundFactor(double largestRatio) {
  if (!(largestRatio > 0) || !std::isfinite(largestRatio)) return 0;
  float alpha = ToSingle(1.0 / largestRatio);
  while (alpha > 0 && static_cast<double>(alpha) * largestRatio > 1.0)
    alpha = std::nextafter(alpha, 0.0f);
  return std::nextafter(alpha, 0.0f);
}

// Field types that hold numbers a float can be read from and written to.
bool NumericField(TGISField type) {
  return type == gfInteger || type == gfSmallInt || type == gfInt64 || type == gfDecimal ||
         type == gfFloat;
}

// Field types of the array and bit operations.
bool ArrayField(TGISField type) {
  return type == gfInteger || type == gfSmallInt || type == gfDecimal || type == gfFloat ||
         type == gfLogical;
}

void CheckFieldType(const TDbfFile& dbf, std::int32_t field, bool (*allowed)(TGISField)) {
  if (!allowed(dbf.FieldInfo(field).FieldType)) {
    throw Exception(Format("Field %d is the wrong type", field));
  }
}

void OpenTable(TDbfFile& dbf, bool readWrite) {
  dbf.Open(readWrite);
  if (!dbf.IsOpen()) {
    throw Exception("Table " + dbf.FileName() + " is neither a dBASE file nor a native table");
  }
}

bool FileExists(const std::string& filename) {
  std::error_code ec;
  return std::filesystem::is_regular_file(filename, ec);
}

// Opens the file of a link column (ReadCost, ReadTime, ReadSpeed, SaveSpeed) and resolves the
// field, raising the operation's messages.
std::int32_t OpenLinkColumn(TDbfFile& dbf, bool readWrite, std::int32_t linkCount,
                            std::int32_t fieldindex, const std::string& fieldname,
                            const std::string& op) {
  if (!FileExists(dbf.FileName())) throw Exception(op + ": File does not exist");
  OpenTable(dbf, readWrite);
  if (dbf.RecordCount() != linkCount) throw Exception(op + ": Wrong record count");
  std::int32_t field = fieldindex;
  if (!fieldname.empty()) {
    field = dbf.FindField(fieldname);
    if (field < 0) throw Exception(op + ": Invalid fieldname");
  } else if (fieldindex < 0 || fieldindex >= dbf.FieldCount()) {
    throw Exception(op + ": Invalid field index");
  }
  CheckFieldType(dbf, field, NumericField);
  return field;
}

// Opens the file of an array column (Read3, Write1..Write4) and resolves the field.
std::int32_t OpenArrayColumn(TDbfFile& dbf, bool readWrite, std::int32_t fieldindex,
                             const std::string& fieldname) {
  OpenTable(dbf, readWrite);
  std::int32_t field = fieldindex;
  if (!fieldname.empty()) {
    field = dbf.FindField(fieldname);
    if (field < 0) {
      throw Exception(Format("Field %s not found in %s", fieldname, dbf.FileName()));
    }
  } else if (fieldindex < 0 || fieldindex >= dbf.FieldCount()) {
    throw Exception(Format("Invalid field index: %d", fieldindex));
  }
  CheckFieldType(dbf, field, ArrayField);
  return field;
}

void CheckArraySize(const TDbfFile& dbf, std::int64_t size) {
  if (size != dbf.RecordCount() + 1) throw Exception("Size of array do not match file size");
}

}  // namespace

// ---- arrays and single values

void TNetwork::CreateArrayCost(std::int32_t n) {
  CheckOpen();
  while (CostCount() < n)
    FCost.push_back(FLength);
  FCostAlphaUpdateNeeded = true;
}

void TNetwork::CreateArrayTime(std::int32_t n) {
  CheckOpen();
  while (TimeCount() < n)
    FTime.push_back(FLength);
  FTimeAlphaUpdateNeeded = true;
}

void TNetwork::SetCost(std::int32_t index, std::int32_t link, float cost) {
  CheckOpen();
  if (index < 0 || index >= CostCount()) {
    throw EOutOfRange(Format("Index must be 0 to %d (is %d)", CostCount() - 1, index));
  }
  CheckLinkRange(link);
  // Not finite is never accepted, negative costs allowed or not.
  if (!std::isfinite(cost) || (!(cost > 0) && !FAllowNegativeCost && LengthOf(link) != 0)) {
    throw EOutOfRange(Format("Cost should be >0 (is %n)", cost));
  }
  StoreValue(FCost[static_cast<std::size_t>(index)], link, cost, FCostAlphaUpdateNeeded);
}

void TNetwork::SetTime(std::int32_t index, std::int32_t link, float time) {
  CheckOpen();
  if (index < 0 || index >= TimeCount()) {
    throw EOutOfRange(Format("index must be 0 to %d (is %d)", TimeCount() - 1, index));
  }
  CheckLinkRange(link);
  if (!std::isfinite(time) || (!(time > 0) && LengthOf(link) != 0)) {
    throw EOutOfRange(Format("Time should be >0 (is %n)", time));
  }
  StoreValue(FTime[static_cast<std::size_t>(index)], link, time, FTimeAlphaUpdateNeeded);
}

void TNetwork::SetSpeed(std::int32_t index, std::int32_t link, float speed) {
  CheckOpen();
  if (index < 0 || index >= TimeCount()) {
    throw EOutOfRange(Format("index must be 0 to %d (is %d)", TimeCount() - 1, index));
  }
  CheckLinkRange(link);
  if (!(speed > 0) || !std::isfinite(speed)) {
    throw EOutOfRange(Format("Speed should be >0 (is %n)", speed));
  }
  const float length = LengthOf(link);
  const float time = TimeAtSpeed(length, speed);
  // An extreme speed can give a time beyond the single range (0 or infinite).
  if (length != 0 && !ValidTime(time)) {
    throw EOutOfRange(Format("Speed %g gives no valid time on link %d", speed, link));
  }
  StoreValue(FTime[static_cast<std::size_t>(index)], link, time, FTimeAlphaUpdateNeeded);
}

float TNetwork::GetCost(std::int32_t index, std::int32_t link) const {
  CheckOpen();
  if (index < 0 || index >= CostCount()) {
    throw EOutOfRange(Format("Index must be 0 to %d (is %d)", CostCount() - 1, index));
  }
  CheckLink(link);
  return FCost[static_cast<std::size_t>(index)][static_cast<std::size_t>(link)];
}

float TNetwork::GetTime(std::int32_t index, std::int32_t link) const {
  CheckOpen();
  if (index < 0 || index >= TimeCount()) {
    throw EOutOfRange(Format("index must be 0 to %d (is %d)", TimeCount() - 1, index));
  }
  CheckLinkRange(link);
  return FTime[static_cast<std::size_t>(index)][static_cast<std::size_t>(link)];
}

float TNetwork::GetSpeed(std::int32_t index, std::int32_t link) const {
  const float time = GetTime(index, link);
  const float length = LengthOf(link);
  if (length == 0) return 0;
  return ToSingle(static_cast<double>(length) / time * 60.0);
}

// ---- whole arrays

void TNetwork::CalculateTime(std::int32_t index, const TRoadClassSpeed& rcs) {
  CheckOpen();
  if (index < 0 || index >= TimeCount()) {
    throw EOutOfRange(Format("index must be 0 to %d (is %d)", TimeCount() - 1, index));
  }
  std::vector<float>& times = FTime[static_cast<std::size_t>(index)];
  std::vector<float> result = times;
  bool decreased = false;
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    const std::int32_t roadClass = AttributeOf(link) & kAttrRoadClass;
    const float speed = rcs.Get(roadClass);
    const float time = TimeAtSpeed(LengthOf(link), speed);
    if (LengthOf(link) != 0 && !ValidTime(time)) {
      throw EOutOfRange(Format("Speed %g of road class %d gives no valid time on link %d", speed,
                               roadClass, link));
    }
    StoreValue(result, link, time, decreased);
  }
  times.swap(result);
  if (decreased) FTimeAlphaUpdateNeeded = true;
}

void TNetwork::CalculateCost(std::int32_t costindex, float weightlength, float weighttime,
                             std::int32_t timeindex, double maxspeed) {
  CheckOpen();
  if (costindex < 0 || costindex >= CostCount()) {
    throw EOutOfRange(Format("costindex must be 0 to %d (is %d)", CostCount() - 1, costindex));
  }
  const bool useTime = weighttime > 0;
  if (useTime && (timeindex < 0 || timeindex >= TimeCount())) {
    throw EOutOfRange(Format("timeindex must be 0 to %d (is %d)", TimeCount() - 1, timeindex));
  }
  if (!std::isfinite(weightlength)) {
    throw EOutOfRange(Format("weightlength must be a finite number (is %g)", weightlength));
  }
  if (!std::isfinite(weighttime)) {
    throw EOutOfRange(Format("weighttime must be a finite number (is %g)", weighttime));
  }
  if (!(maxspeed >= 0) || !std::isfinite(maxspeed)) {
    throw EOutOfRange(Format("maxspeed must be 0 or a positive number (is %g)", maxspeed));
  }
  std::vector<float> result(FCost[static_cast<std::size_t>(costindex)]);
  const std::vector<float>* times = useTime ? &FTime[static_cast<std::size_t>(timeindex)] : nullptr;
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    const auto k = static_cast<std::size_t>(link);
    const double length = FLength[k];
    double cost = 0;
    if (useTime) {
      double t = (*times)[k];
      if (maxspeed != 0) t = std::max(t, length / maxspeed * 60.0);
      cost = t * weighttime;
      if (weightlength > 0) cost += length * weightlength;
    } else {
      cost = length * weightlength;
    }
    const float value = ToSingle(cost);
    // The rules of SetCost hold for every computed value as well.
    if (!std::isfinite(value) || (!(value > 0) && !FAllowNegativeCost && length != 0)) {
      throw EOutOfRange(Format("Cost should be >0 (is %n)", value));
    }
    result[k] = value;
  }
  FCost[static_cast<std::size_t>(costindex)].swap(result);
  FCostAlphaUpdateNeeded = true;
}

// ---- link columns of dBASE files

void TNetwork::ReadCost(std::int32_t index, const std::string& filename, std::int32_t fieldindex,
                        const std::string& fieldname) {
  CheckOpen();
  if (index < 0 || index >= CostCount()) {
    throw EOutOfRange(Format("ReadCost: index must be 0 to %d (is %d)", CostCount() - 1, index));
  }
  TDbfFile dbf(filename, 0);
  const std::int32_t field =
      OpenLinkColumn(dbf, false, FLinkCount, fieldindex, fieldname, "ReadCost");
  std::vector<float> result(FCost[static_cast<std::size_t>(index)]);
  bool decreased = false;
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    if (LengthOf(link) == 0) continue;
    const auto cost = ToSingle(dbf.ReadFloat(field, link));
    if (cost > 0 && std::isfinite(cost)) StoreValue(result, link, cost, decreased);
  }
  FCost[static_cast<std::size_t>(index)].swap(result);
  if (decreased) FCostAlphaUpdateNeeded = true;
}

void TNetwork::ReadTime(std::int32_t index, const std::string& filename, std::int32_t fieldindex,
                        const std::string& fieldname) {
  CheckOpen();
  if (index < 0 || index >= TimeCount()) {
    throw EOutOfRange(Format("ReadTime: index must be 0 to %d (is %d)", TimeCount() - 1, index));
  }
  TDbfFile dbf(filename, 0);
  const std::int32_t field =
      OpenLinkColumn(dbf, false, FLinkCount, fieldindex, fieldname, "ReadTime");
  std::vector<float> result(FTime[static_cast<std::size_t>(index)]);
  bool decreased = false;
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    if (LengthOf(link) == 0) continue;
    const auto time = ToSingle(dbf.ReadFloat(field, link));
    if (ValidTime(time)) StoreValue(result, link, time, decreased);
  }
  FTime[static_cast<std::size_t>(index)].swap(result);
  if (decreased) FTimeAlphaUpdateNeeded = true;
}

void TNetwork::ReadSpeed(std::int32_t index, const std::string& filename, std::int32_t fieldindex,
                         const std::string& fieldname, bool mph) {
  CheckOpen();
  if (index < 0 || index >= TimeCount()) {
    throw EOutOfRange(Format("ReadSpeed: index must be 0 to %d (is %d)", TimeCount() - 1, index));
  }
  TDbfFile dbf(filename, 0);
  const std::int32_t field =
      OpenLinkColumn(dbf, false, FLinkCount, fieldindex, fieldname, "ReadSpeed");
  std::vector<float> result(FTime[static_cast<std::size_t>(index)]);
  bool decreased = false;
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    const float length = LengthOf(link);
    if (length == 0) continue;
    double speed = dbf.ReadFloat(field, link);
    // Blank (NaN), non-positive and infinite speeds are skipped, as are speeds whose time falls
    // outside the single range.
    if (!(speed > 0) || !std::isfinite(speed)) continue;
    if (mph) speed *= kMilesToKm;
    const float time = TimeAtSpeed(length, speed);
    if (ValidTime(time)) StoreValue(result, link, time, decreased);
  }
  FTime[static_cast<std::size_t>(index)].swap(result);
  if (decreased) FTimeAlphaUpdateNeeded = true;
}

void TNetwork::SaveSpeed(std::int32_t index, const std::string& filename, std::int32_t fieldindex,
                         const std::string& fieldname) const {
  CheckOpen();
  if (index < 0 || index >= TimeCount()) {
    throw EOutOfRange(Format("SaveSpeed: index must be 0 to %d (is %d)", TimeCount() - 1, index));
  }
  TDbfFile dbf(filename, 0);
  const std::int32_t field =
      OpenLinkColumn(dbf, true, FLinkCount, fieldindex, fieldname, "SaveSpeed");
  const std::vector<float>& times = FTime[static_cast<std::size_t>(index)];
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    const float length = LengthOf(link);
    if (length == 0) continue;
    dbf.WriteFloat(field, link,
                   static_cast<double>(length) / times[static_cast<std::size_t>(link)] * 60.0);
  }
  dbf.Close();
}

// ---- record columns of dBASE files

void TNetwork::Read3(const std::string& filename, std::int32_t fieldindex,
                     const std::string& fieldname, TBitArray& value) const {
  CheckOpen();
  TDbfFile dbf(filename, 0);
  const std::int32_t field = OpenArrayColumn(dbf, false, fieldindex, fieldname);
  TBitArray bits(dbf.RecordCount() + 1);
  for (std::int64_t r = 1; r <= dbf.RecordCount(); ++r) {
    if (dbf.ReadBoolean(field, r)) bits.SetBit2(r, true);
  }
  value = std::move(bits);
}

void TNetwork::Write1(const std::string& filename, std::int32_t fieldindex,
                      const std::string& fieldname, const TIntegerArray& value) const {
  CheckOpen();
  TDbfFile dbf(filename, 0);
  const std::int32_t field = OpenArrayColumn(dbf, true, fieldindex, fieldname);
  CheckArraySize(dbf, static_cast<std::int64_t>(value.size()));
  dbf.WriteIntegerArray(field, value);
  dbf.Close();
}

void TNetwork::Write2(const std::string& filename, std::int32_t fieldindex,
                      const std::string& fieldname, const std::vector<float>& value) const {
  CheckOpen();
  TDbfFile dbf(filename, 0);
  const std::int32_t field = OpenArrayColumn(dbf, true, fieldindex, fieldname);
  CheckArraySize(dbf, static_cast<std::int64_t>(value.size()));
  dbf.WriteCostArray(field, value);
  dbf.Close();
}

void TNetwork::Write3(const std::string& filename, std::int32_t fieldindex,
                      const std::string& fieldname, const TBitArray& value) const {
  CheckOpen();
  TDbfFile dbf(filename, 0);
  const std::int32_t field = OpenArrayColumn(dbf, true, fieldindex, fieldname);
  CheckArraySize(dbf, value.Size());
  dbf.WriteBitArray(field, value);
  dbf.Close();
}

void TNetwork::Write4(const std::string& filename, std::int32_t fieldindex,
                      const std::string& fieldname, const TIntegerList& value, bool reset) const {
  CheckOpen();
  TDbfFile dbf(filename, 0);
  const std::int32_t field = OpenArrayColumn(dbf, true, fieldindex, fieldname);
  const std::int64_t records = dbf.RecordCount();
  if (reset) {
    TBitArray bits(records + 1);
    for (std::int32_t i = 0; i < value.Count(); ++i) {
      if (value[i] >= 1 && value[i] <= records) bits.SetBit2(value[i], true);
    }
    dbf.WriteBitArray(field, bits);
  } else {
    for (std::int32_t i = 0; i < value.Count(); ++i) {
      if (value[i] >= 1 && value[i] <= records) dbf.WriteBoolean(field, value[i], true);
    }
  }
  dbf.Close();
}

// ---- lower bounds

void TNetwork::UpdateAlphas() {
  if (!FTimeAlphaUpdateNeeded && !FCostAlphaUpdateNeeded) return;
  CheckOpen();
  // Straight-line distance between the end nodes of every valid link, as DistanceBetweenNodes.
  std::vector<double> straight(static_cast<std::size_t>(FLinkCount) + 1, 0.0);
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    if (LengthOf(link) == 0) continue;
    const auto from = static_cast<std::size_t>(FromNodeOf(link));
    const auto to = static_cast<std::size_t>(ToNodeOf(link));
    straight[static_cast<std::size_t>(link)] =
        UnitDistance(FCoordinateUnit, {FX[from], FY[from]}, {FX[to], FY[to]}) * FDistfactor;
  }
  // The largest distance / value ratio over all arrays of a kind; a value that is not > 0 on a
  // valid link admits no bound at all (infinity).
  const auto largestRatio = [&](const std::vector<std::vector<float>>& arrays) {
    double best = 0;
    for (const std::vector<float>& values : arrays) {
      for (std::int32_t link = 1; link <= FLinkCount; ++link) {
        if (LengthOf(link) == 0) continue;
        const double value = values[static_cast<std::size_t>(link)];
        if (!(value > 0)) return HUGE_VAL;
        best = std::max(best, straight[static_cast<std::size_t>(link)] / value);
      }
    }
    return best;
  };
  if (FTimeAlphaUpdateNeeded) FTimeAlpha = LowerBoundFactor(largestRatio(FTime));
  if (FCostAlphaUpdateNeeded) FCostAlpha = LowerBoundFactor(largestRatio(FCost));
  FTimeAlphaUpdateNeeded = false;
  FCostAlphaUpdateNeeded = false;
}

}  // namespace kvnet
