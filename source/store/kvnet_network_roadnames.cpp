// TNetwork: selection by attributes and road names, the road-name slots, external-id queries and
// z-levels from external node ids.

#include <filesystem>
#include <system_error>
#include <utility>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "gisin/kvnet_csvfiles.h"
#include "gisout/kvnet_giswriter.h"
#include "store/kvnet_externid.h"
#include "store/kvnet_fromtonode.h"
#include "store/kvnet_network.h"
#include "store/kvnet_roadnamefile.h"

namespace kvnet {

namespace {

// Whether a bit satisfies its filter: 0 = must be clear, 1 = must be set, 2 or more = either.
bool BitMatches(std::uint16_t word, int bit, std::uint8_t filter) {
  if (filter >= 2) return true;
  return ((word >> bit) & 1U) == filter;
}

}  // namespace

// ---- selection

void TNetwork::Select(TBitArray& ba, std::uint8_t roadclassMin, std::uint8_t roadclassMax,
                      std::uint8_t hierarchyMin, std::uint8_t hierarchyMax, std::int32_t roadFileID,
                      std::int32_t roadNameID, std::uint8_t bit8, std::uint8_t bit9,
                      std::uint8_t bit10, std::uint8_t bit11, std::uint8_t bit12,
                      std::uint8_t bit13, std::uint8_t bit14, std::uint8_t bit15) const {
  CheckOpen();
  const TRoadNameFile* names = nullptr;
  if (roadFileID != 0) {
    CheckRoadNameFile(roadFileID);
    if (roadNameID != 0) names = FRoadNameFiles[static_cast<std::size_t>(roadFileID)].get();
  }
  const std::uint8_t filters[8] = {bit8, bit9, bit10, bit11, bit12, bit13, bit14, bit15};
  ba.SetSize(static_cast<std::int64_t>(FLinkCount) + 1);
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    if (LengthOf(link) == 0) continue;
    const std::uint16_t word = AttributeOf(link);
    const auto roadclass = static_cast<std::uint8_t>(word & kAttrRoadClass);
    const std::uint8_t hierarchy = HierarchyOf(link);
    if (roadclass < roadclassMin || roadclass > roadclassMax) continue;
    if (hierarchy < hierarchyMin || hierarchy > hierarchyMax) continue;
    bool match = true;
    for (int bit = 8; bit <= 15 && match; ++bit)
      match = BitMatches(word, bit, filters[bit - 8]);
    if (!match) continue;
    if (names != nullptr && names->RoadNameID1(link) != roadNameID) continue;
    ba.SetBit2(link, true);
  }
}

// ---- road names

void TNetwork::OpenRoadName(std::int32_t roadFileID, bool cache) {
  CheckOpen();
  if (roadFileID < 1 || roadFileID > kRoadNameFileSlots) {
    throw EOutOfRange(
        Format("RoadFileID should be from 1 to %d, not %d", kRoadNameFileSlots, roadFileID));
  }
  auto file = std::make_shared<TRoadNameFile>();
  file->Load(fDirectory, cache, fEncryptionKey, roadFileID, FLinkCount);
  FRoadNameFiles[static_cast<std::size_t>(roadFileID)] = std::move(file);
}

void TNetwork::CloseRoadNameFile(std::int32_t roadFileID) {
  if (roadFileID < 1 || roadFileID > kRoadNameFileSlots) {
    throw EOutOfRange(
        Format("RoadFileID should be from 1 to %d, not %d", kRoadNameFileSlots, roadFileID));
  }
  FRoadNameFiles[static_cast<std::size_t>(roadFileID)].reset();
}

std::string TNetwork::Link2RoadName(std::int32_t roadFileID, std::int32_t link) const {
  CheckRoadNameFile(roadFileID);
  CheckLinkRange(link);
  return FRoadNameFiles[static_cast<std::size_t>(roadFileID)]->RoadName1(link);
}

std::int32_t TNetwork::Link2RoadNameID(std::int32_t roadFileID, std::int32_t link) const {
  CheckRoadNameFile(roadFileID);
  CheckLinkRange(link);
  return FRoadNameFiles[static_cast<std::size_t>(roadFileID)]->RoadNameID1(link);
}

std::string TNetwork::RoadNameID2RoadName(std::int32_t roadFileID, std::int32_t roadNameID) const {
  CheckRoadNameFile(roadFileID);
  const TRoadNameFile& file = *FRoadNameFiles[static_cast<std::size_t>(roadFileID)];
  if (roadNameID < 1 || roadNameID > file.MaxRoadNameID()) {
    throw EOutOfRange(
        Format("RoadNameID should be from 1 to %d, not %d", file.MaxRoadNameID(), roadNameID));
  }
  return file.RoadName2(roadNameID);
}

std::int32_t TNetwork::RoadName2RoadNameID(std::int32_t roadFileID, const std::string& roadname,
                                           bool ignorecase) const {
  CheckRoadNameFile(roadFileID);
  return FRoadNameFiles[static_cast<std::size_t>(roadFileID)]->RoadNameID2(roadname, ignorecase);
}

std::int32_t TNetwork::RoadNameMaxWidth(std::int32_t roadFileID, std::uint16_t aCodepage) const {
  CheckRoadNameFile(roadFileID);
  const TRoadNameFile& file = *FRoadNameFiles[static_cast<std::size_t>(roadFileID)];
  return aCodepage == 65001 ? file.MaxRoadNameLengthUTF8() : file.MaxRoadNameLength() / 2;
}

// ---- external ids

std::int32_t TNetwork::ExternalID2Link(const std::string& id) const {
  CheckExternalOpen();
  std::int32_t link = 0;
  return FexternalID->FindIndex(id, link) ? link : 0;
}

std::string TNetwork::Link2ExternalID(std::int32_t link) const {
  CheckExternalOpen();
  CheckLinkRange(link);
  return FexternalID->FindExternalid(link);
}

void TNetwork::CloseExternalID() {
  // The index may be shared with clones: this network only lets go of it.
  if (fIsOpen) FexternalID.reset();
}

// ---- z-levels from external node ids

void TNetwork::ExternalNodeId2ZLevels(const std::string& inputFile, const std::string& outputFile,
                                      TGISFormat GF) {
  CheckOpen();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(inputFile, ec)) throw Exception("Input file is missing");

  // One pass over the input: the two node ids of every line, checked against the link count
  // before anything is written.
  SetProgressStart(0);
  SetProgressStop(100);
  SetProgressMaxValue(FLinkCount);
  std::vector<std::pair<std::int64_t, std::int64_t>> ids;
  ids.reserve(static_cast<std::size_t>(FLinkCount));
  {
    TCSVFiles csv(1252);
    csv.Add(inputFile);
    csv.Open();
    std::vector<std::string> values;
    while (!csv.Eof()) {
      csv.ReadLine(values);
      if (ids.size() == static_cast<std::size_t>(FLinkCount)) {
        throw Exception("Invalid number of links in input file");
      }
      const auto line = static_cast<std::int32_t>(ids.size()) + 1;
      if (values.size() < 2) {
        throw Exception(Format("Line %d of %s does not hold two node ids", line, inputFile));
      }
      ids.emplace_back(CSVStrToInt64(values[0]), CSVStrToInt64(values[1]));
    }
  }
  if (ids.size() != static_cast<std::size_t>(FLinkCount)) {
    throw Exception("Invalid number of links in input file");
  }

  TFromToNodeTree tree;
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    // A non-valid link joins no node: its ids stay out of the grouping.
    if (FromNodeOf(link) != 0) {
      const auto& [from, to] = ids[static_cast<std::size_t>(link) - 1];
      tree.Add(FromNodeOf(link), from);
      tree.Add(ToNodeOf(link), to);
    }
    ProgressExecute(link);
  }
  tree.CreateZ();

  std::unique_ptr<TGISWriter> writer = GISoutputInit(outputFile, GF);
  if (GF == gfArray) writer->GISarray = &FGISarray;
  writer->StartHeader(2, otNone);
  writer->AddField("ZFrom", gfInteger, 9, 0);
  writer->AddField("ZTo", gfInteger, 9, 0);
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    std::int32_t zFrom = 0;
    std::int32_t zTo = 0;
    if (FromNodeOf(link) != 0) {
      const auto& [from, to] = ids[static_cast<std::size_t>(link) - 1];
      // Z-levels are small signed numbers, not characters.
      zFrom = tree.GetZ(from);  // NOLINT(bugprone-signed-char-misuse)
      zTo = tree.GetZ(to);      // NOLINT(bugprone-signed-char-misuse)
    }
    writer->AddObject(0, false, Format("%d,%d", zFrom, zTo));
    ProgressExecute(link);
  }
  writer->Close();
  if (GF == gfGeoJSON) FGeoJSON = writer->GeoJSON;
  ProgressExecuteZero();
}

}  // namespace kvnet
