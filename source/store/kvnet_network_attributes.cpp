// TNetwork: attribute words, one-way signs, cul-de-sac links, no-drive-through areas, limit
// slots and one-way twin links.

#include <algorithm>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_io.h"
#include "store/kvnet_arealist.h"
#include "store/kvnet_coord3file.h"
#include "store/kvnet_encryption.h"
#include "store/kvnet_network.h"

namespace kvnet {

namespace {

constexpr std::uint16_t Bit(int bit) {
  return static_cast<std::uint16_t>(1U << bit);
}

void CheckBit(int bit) {
  if (bit < 0 || bit > 15)
    throw EOutOfRange(Format("Attribute bit must be between 0 and 15: %d", bit));
}

// Writes bytes as the whole new content of fileName (never leaving a partial file).
void WriteFileAtomically(const std::string& fileName, const void* data, std::int64_t size) {
  ReplaceFile(fileName, [&](const std::string& temporary) {
    TKVFileStream file(temporary, fmCreate);
    file.WriteBuffer(data, size);
  });
}

}  // namespace

// ---- attribute words

std::uint16_t TNetwork::AttributeGet(std::int32_t link) const {
  CheckLink(link);
  return AttributeOf(link);
}

void TNetwork::AttributeSet(std::int32_t link, std::uint16_t value) {
  CheckLink(link);
  if (FromNodeOf(link) == ToNodeOf(link)) value &= static_cast<std::uint16_t>(~kAttrOneway);
  Fattribute[static_cast<std::size_t>(link)] = value;
  UpdateSigns(link);
}

bool TNetwork::AttributeGetBit(std::int32_t link, int bit) const {
  CheckBit(bit);
  return (AttributeGet(link) & Bit(bit)) != 0;
}

void TNetwork::AttributeSetBit(std::int32_t link, int bit, bool value) {
  CheckBit(bit);
  const std::uint16_t word = AttributeGet(link);
  AttributeSet(link, value ? static_cast<std::uint16_t>(word | Bit(bit))
                           : static_cast<std::uint16_t>(word & ~Bit(bit)));
}

void TNetwork::AttributeSetBits(int bit, const TBitArray& ba) {
  CheckOpen();
  CheckBit(bit);
  if (ba.Size() < static_cast<std::int64_t>(FLinkCount) + 1) {
    throw EBitArrayError("TBitArray: Not the same size");
  }
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    std::uint16_t& word = Fattribute[static_cast<std::size_t>(link)];
    word = ba.GetBit(link) ? static_cast<std::uint16_t>(word | Bit(bit))
                           : static_cast<std::uint16_t>(word & ~Bit(bit));
    UpdateSigns(link);
  }
}

void TNetwork::AttributeSave() {
  CheckOpen();
  SetProgressStart(0);
  SetProgressStop(100);
  SetProgressMaxValue(100);
  std::vector<std::uint16_t> words(Fattribute.begin() + 1, Fattribute.end());
  T32Encryption cipher(fEncryptionKey);
  cipher.Apply(std::span<std::uint16_t>(words));
  ProgressExecute(50);
  WriteFileAtomically(FilePath("attribute.bin"), words.data(),
                      2 * static_cast<std::int64_t>(words.size()));
  ProgressExecute(100);
  ProgressExecuteZero();
}

std::uint16_t TNetwork::OneWayGet(std::int32_t link) const {
  return static_cast<std::uint16_t>(AttributeGet(link) & kAttrOneway);
}

void TNetwork::OneWaySet(std::int32_t link, std::uint16_t value) {
  CheckLinkRange(link);
  std::uint16_t& word = Fattribute[static_cast<std::size_t>(link)];
  const bool loop = FromNodeOf(link) == ToNodeOf(link);
  word = static_cast<std::uint16_t>((word & ~kAttrOneway) | (loop ? 0 : value & kAttrOneway));
  UpdateSigns(link);
}

void TNetwork::SwapOneWay() {
  CheckOpen();
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    std::uint16_t& word = Fattribute[static_cast<std::size_t>(link)];
    const std::uint16_t code = word & kAttrOneway;
    if (code == Bit(kBitOnewayFT) || code == Bit(kBitOnewayTF)) {
      word = static_cast<std::uint16_t>(word ^ kAttrOneway);
      UpdateSigns(link);
    }
  }
}

std::uint8_t TNetwork::GetRoadClass(std::int32_t link) const {
  CheckLinkRange(link);
  return static_cast<std::uint8_t>(AttributeOf(link) & kAttrRoadClass);
}

void TNetwork::SetRoadClass(std::int32_t link, std::uint8_t value) {
  CheckLink(link);
  if (value > 31) throw EOutOfRange(Format("RoadClass must be between 0 and 31: %d", value));
  std::uint16_t& word = Fattribute[static_cast<std::size_t>(link)];
  word = static_cast<std::uint16_t>((word & ~kAttrRoadClass) | value);
}

std::uint8_t TNetwork::GetHierarchy(std::int32_t link) const {
  CheckLinkRange(link);
  return static_cast<std::uint8_t>((AttributeOf(link) & kAttrHierarchy) >> 5);
}

void TNetwork::SetHierarchy(std::int32_t link, std::uint8_t value) {
  CheckLink(link);
  if (value > 7) throw EOutOfRange(Format("Hierarchy must be between 0 and 7: %d", value));
  std::uint16_t& word = Fattribute[static_cast<std::size_t>(link)];
  word = static_cast<std::uint16_t>((word & ~kAttrHierarchy) | (value << 5));
}

void TNetwork::AttributeSetSkipInSearchBit() {
  CheckOpen();
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    std::uint16_t& word = Fattribute[static_cast<std::size_t>(link)];
    word = (word & kAttrOneway) == kAttrOneway
               ? static_cast<std::uint16_t>(word | Bit(kBitSearchLink))
               : static_cast<std::uint16_t>(word & ~Bit(kBitSearchLink));
  }
}

void TNetwork::SkipLinks2BitArray(TBitArray& ba) const {
  const auto links = static_cast<std::int64_t>(Fattribute.empty() ? 0 : Fattribute.size() - 1);
  ba.SetSize(links + 1);
  for (std::int64_t link = 1; link <= links; ++link) {
    ba.SetBit2(link, (Fattribute[static_cast<std::size_t>(link)] & Bit(kBitSearchLink)) != 0);
  }
}

// ---- cul-de-sac links

bool TNetwork::GetCulDeSac(std::int32_t link) const {
  CheckLinkRange(link);
  return FCDS.GetBit(link);
}

void TNetwork::NonCulDeSacNodes(TIntegerList& nonCDSnodes) const {
  CheckOpen();
  nonCDSnodes.Clear();
  for (std::int32_t node = 1; node <= FNodeCount; ++node) {
    const auto slots = NodeSlots(node);
    if (std::any_of(slots.begin(), slots.end(),
                    [&](std::int32_t slot) { return !FCDS.GetBit(std::abs(slot)); })) {
      nonCDSnodes.Add(node);
    }
  }
}

// ---- no-drive-through areas

void TNetwork::NoDriveThroughInit() {
  CheckOpen();
  FAreaList = std::make_unique<TAreaList>();
  TAreaList& areas = *FAreaList;
  const auto hasBit8 = [&](std::int32_t link) {
    return (AttributeOf(link) & Bit(kBitNoDriveThrough)) != 0;
  };
  // 1. Areas are the connected groups of bit-8 links.
  std::int32_t nextArea = 0;
  std::vector<std::int32_t> stack;
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    if (LengthOf(link) == 0 || !hasBit8(link) || areas.GetArea(link) != 0) continue;
    const std::int32_t area = ++nextArea;
    areas.Add(link, area);
    stack = {FromNodeOf(link), ToNodeOf(link)};
    while (!stack.empty()) {
      const std::int32_t node = stack.back();
      stack.pop_back();
      for (const std::int32_t slot : NodeSlots(node)) {
        const std::int32_t other = std::abs(slot);
        if (!hasBit8(other) || areas.GetArea(other) != 0) continue;
        areas.Add(other, area);
        stack.push_back(FromNodeOf(other) == node ? ToNodeOf(other) : FromNodeOf(other));
      }
    }
  }
  if (nextArea == 0) return;

  // 2. A dead-end branch whose junction lies only among area links joins that area.
  for (std::int32_t node = 1; node <= FNodeCount; ++node) {
    std::int32_t areaLinks = 0;
    std::int32_t deadEnds = 0;
    std::int32_t area = 0;
    bool all = true;
    for (const std::int32_t slot : NodeSlots(node)) {
      const std::int32_t link = std::abs(slot);
      if (hasBit8(link) && !FCDS.GetBit(link)) {
        ++areaLinks;
        area = areas.GetArea(link);
      } else if (FCDS.GetBit(link)) {
        ++deadEnds;
      } else {
        all = false;
        break;
      }
    }
    if (!all || areaLinks == 0 || deadEnds == 0) continue;
    stack = {node};
    while (!stack.empty()) {
      const std::int32_t at = stack.back();
      stack.pop_back();
      for (const std::int32_t slot : NodeSlots(at)) {
        const std::int32_t link = std::abs(slot);
        if (hasBit8(link)) continue;
        Fattribute[static_cast<std::size_t>(link)] |= Bit(kBitNoDriveThrough);
        areas.Add(link, area);
        stack.push_back(FromNodeOf(link) == at ? ToNodeOf(link) : FromNodeOf(link));
      }
    }
  }

  // 3. Exits: area links at nodes where area links meet other links.
  const auto mixed = [&](std::int32_t node) {
    bool with = false;
    bool without = false;
    for (const std::int32_t slot : NodeSlots(node))
      (hasBit8(std::abs(slot)) ? with : without) = true;
    return with && without;
  };
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    if (LengthOf(link) == 0 || !hasBit8(link)) continue;
    if (mixed(ToNodeOf(link))) areas.SetExit(link, true);
    if (mixed(FromNodeOf(link))) areas.SetExit(link, false);
  }
}

bool TNetwork::NoDriveThroughSet() const {
  CheckOpen();
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    if (AttributeOf(link) & Bit(kBitNoDriveThrough)) return true;
  }
  return false;
}

bool TNetwork::NoDriveThroughCheck(const TRoute& route) const {
  CheckOpen();
  const auto n = route.links.size();
  if (n <= 2) return false;
  const std::int32_t first = FAreaList->GetArea(std::abs(route.links.front()));
  const std::int32_t last = FAreaList->GetArea(std::abs(route.links.back()));
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const std::int32_t c = FAreaList->GetArea(std::abs(route.links[i]));
    if (c != 0 && c != first && c != last) return true;
  }
  return false;
}

bool TNetwork::RoundAboutExit(std::int32_t node, bool countAll) const {
  CheckNode(node);
  const auto slots = NodeSlots(node);
  if (slots.size() <= 2) return false;
  std::int32_t roundabout = 0;
  bool leaving = false;
  for (const std::int32_t slot : slots) {
    if (AttributeOf(std::abs(slot)) & Bit(kBitRoundAbout)) {
      ++roundabout;
    } else if (slot > 0) {
      leaving = true;
    }
  }
  return roundabout == 2 && (countAll || leaving);
}

// ---- limit slots

void TNetwork::CheckLimitID(std::int32_t limitID) const {
  CheckOpen();
  if (limitID < 1 || limitID > FlimitX) throw Exception("Invalid limitID");
}

void TNetwork::OpenLimit(std::int32_t fileNumber, std::int32_t limitID, bool bitpattern) {
  CheckOpen();
  if (limitID < 1 || limitID > kLimitSlots) {
    throw EOutOfRange(Format("LimitID should be from 1 to 9, not %d", limitID));
  }
  if (fileNumber < 0 || fileNumber > 255) {
    throw EOutOfRange(Format("Limit file number should be from 0 to 255, not %d", fileNumber));
  }
  TKVFileStream file(FilePath(("limit" + std::to_string(fileNumber) + ".bin").c_str()),
                     fmOpenRead | fmShareDenyWrite);
  const std::int64_t size = file.Size();
  if (size != FLinkCount) {
    throw EWrongFileSize(Format("Wrong size of limitfile %d, expected %d", size, FLinkCount));
  }
  std::vector<std::uint8_t> values(static_cast<std::size_t>(FLinkCount) + 1, 0);
  file.ReadBuffer(values.data() + 1, size);
  T32Encryption cipher(fEncryptionKey);
  cipher.Apply(std::span<std::uint8_t>(values.data() + 1, static_cast<std::size_t>(size)));
  const auto slot = static_cast<std::size_t>(limitID);
  QTVindex[slot] = static_cast<std::uint8_t>(fileNumber);
  FLimit[slot] = std::move(values);
  FLimitBP[slot] = bitpattern;
  FlimitX = 0;
  while (FlimitX < kLimitSlots && !FLimit[static_cast<std::size_t>(FlimitX) + 1].empty())
    ++FlimitX;
}

void TNetwork::SaveLimit(std::int32_t fileNumber, std::int32_t limitID) const {
  CheckOpen();
  if (limitID < 1 || limitID > kLimitSlots) {
    throw EOutOfRange(Format("LimitID should be from 1 to 9, not %d", limitID));
  }
  if (fileNumber < 0 || fileNumber > 255) {
    throw EOutOfRange(Format("Limit file number should be from 0 to 255, not %d", fileNumber));
  }
  const auto& values = FLimit[static_cast<std::size_t>(limitID)];
  if (values.empty()) throw Exception("Invalid limitID");
  std::vector<std::uint8_t> bytes(values.begin() + 1, values.end());
  T32Encryption cipher(fEncryptionKey);
  cipher.Apply(std::span<std::uint8_t>(bytes));
  WriteFileAtomically(FilePath(("limit" + std::to_string(fileNumber) + ".bin").c_str()),
                      bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

std::uint8_t TNetwork::GetLimit(std::int32_t limitID, std::int32_t link) const {
  CheckLimitID(limitID);
  CheckLink(link);
  return FLimit[static_cast<std::size_t>(limitID)][static_cast<std::size_t>(link)];
}

bool TNetwork::GetLimitBit(std::int32_t limitID, std::int32_t link, int bit) const {
  const std::uint8_t value = GetLimit(limitID, link);
  return bit >= 0 && bit <= 7 && (value >> bit) & 1U;
}

void TNetwork::SetLimit(std::int32_t limitID, std::int32_t link, std::uint8_t value) {
  CheckLimitID(limitID);
  CheckLink(link);
  FLimit[static_cast<std::size_t>(limitID)][static_cast<std::size_t>(link)] = value;
}

void TNetwork::SetLimitBit(std::int32_t limitID, std::int32_t link, int bit, bool value) {
  CheckLimitID(limitID);
  CheckLink(link);
  if (bit < 0 || bit > 7) return;
  std::uint8_t& byte = FLimit[static_cast<std::size_t>(limitID)][static_cast<std::size_t>(link)];
  byte = value ? static_cast<std::uint8_t>(byte | (1U << bit))
               : static_cast<std::uint8_t>(byte & ~(1U << bit));
}

bool TNetwork::LimitIsBitPattern(std::int32_t limitID) const {
  CheckLimitID(limitID);
  return FLimitBP[static_cast<std::size_t>(limitID)];
}

void TNetwork::SelectLimit(TBitArray& ba, std::int32_t limitID, std::uint8_t limitMin,
                           std::uint8_t limitMax) const {
  CheckLimitID(limitID);
  if (limitMax < limitMin) throw Exception("Min need to be smaller than Max");
  ba.SetSize(static_cast<std::int64_t>(FLinkCount) + 1);
  const auto& values = FLimit[static_cast<std::size_t>(limitID)];
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    const std::uint8_t v = values[static_cast<std::size_t>(link)];
    if (LengthOf(link) != 0 && v >= limitMin && v <= limitMax) ba.SetBit2(link, true);
  }
}

void TNetwork::SelectLinksWithLimits(TBitArray& ba, bool includeoneway) const {
  CheckOpen();
  ba.SetSize(static_cast<std::int64_t>(FLinkCount) + 1);
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    if (LengthOf(link) == 0) continue;
    bool selected = includeoneway && (AttributeOf(link) & kAttrOneway) != 0;
    for (std::size_t slot = 1; slot <= FlimitX && !selected; ++slot) {
      selected = FLimit[slot][static_cast<std::size_t>(link)] != 0;
    }
    if (selected) ba.SetBit2(link, true);
  }
}

// ---- one-way twins

std::int32_t TNetwork::FindDuplicateLinks() {
  CheckOpen();
  FDuplicates.clear();
  TBitArray excluded(static_cast<std::int64_t>(FLinkCount) + 1);
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    if (LengthOf(link) != 0 && FromNodeOf(link) == ToNodeOf(link)) excluded.SetBit2(link, true);
  }
  const auto onewayCode = [&](std::int32_t link) { return (AttributeOf(link) >> 9) & 3; };
  TFloatPointArrayEx lineA;
  TFloatPointArrayEx lineB;
  for (std::int32_t node = 1; node <= FNodeCount; ++node) {
    const auto slots = NodeSlots(node);
    if (slots.size() < 2) break;  // nodes are numbered by non-increasing degree
    for (std::size_t j = 0; j + 1 < slots.size(); ++j) {
      const std::int32_t linkA = std::abs(slots[j]);
      const int e = onewayCode(linkA);
      if (excluded.GetBit(linkA) || (e != 1 && e != 2)) continue;
      for (std::size_t k = j + 1; k < slots.size(); ++k) {
        const std::int32_t linkB = std::abs(slots[k]);
        if (excluded.GetBit(linkA) || excluded.GetBit(linkB)) continue;
        const int f = onewayCode(linkB);
        if ((f != 1 && f != 2) || f == e) continue;
        if (FromNodeOf(linkA) + static_cast<std::int64_t>(ToNodeOf(linkA)) !=
                FromNodeOf(linkB) + static_cast<std::int64_t>(ToNodeOf(linkB)) ||
            (FromNodeOf(linkA) != FromNodeOf(linkB) && FromNodeOf(linkA) != ToNodeOf(linkB))) {
          continue;
        }
        if (LengthOf(linkA) != LengthOf(linkB)) continue;
        GetGISSection(linkA, lineA);
        GetGISSection(linkB, lineB);
        if (lineA.Count != lineB.Count ||
            !std::equal(lineA.Pnt.begin(), lineA.Pnt.begin() + lineA.Count, lineB.Pnt.begin())) {
          continue;
        }
        FDuplicates[linkA] = linkB;
        FDuplicates[linkB] = linkA;
        excluded.SetBit2(linkA, true);
        excluded.SetBit2(linkB, true);
      }
    }
  }
  return static_cast<std::int32_t>(FDuplicates.size());
}

std::int32_t TNetwork::GetDuplicateLink(std::int32_t index) const {
  const auto found = FDuplicates.find(index);
  return found == FDuplicates.end() ? 0 : found->second;
}

}  // namespace kvnet
