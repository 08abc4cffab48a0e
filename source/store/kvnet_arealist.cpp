#include "store/kvnet_arealist.h"

#include <algorithm>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"

namespace kvnet {

void TAreaList::Add(std::int32_t link, std::int32_t areaID) {
  if (link < 1) throw EOutOfRange(Format("Link-ID must be >=1: %d", link));
  if (static_cast<std::size_t>(link) >= FPosOfLink.size()) {
    FPosOfLink.resize(
        std::max<std::size_t>(static_cast<std::size_t>(link) + 1, FPosOfLink.size() * 2), 0);
  }
  std::int32_t& pos = FPosOfLink[static_cast<std::size_t>(link)];
  if (pos > 0) {
    FItems[static_cast<std::size_t>(pos - 1)].areaID = areaID;
  } else {
    FItems.push_back(TAreaListItem{link, areaID, false, false});
    pos = Count();
  }
  FMaxArea = std::max(FMaxArea, areaID);
}

std::int32_t TAreaList::GetArea(std::int32_t link) const {
  if (link < 1 || static_cast<std::size_t>(link) >= FPosOfLink.size()) return 0;
  const std::int32_t pos = FPosOfLink[static_cast<std::size_t>(link)];
  return pos > 0 ? FItems[static_cast<std::size_t>(pos - 1)].areaID : 0;
}

void TAreaList::SetExit(std::int32_t link, bool atToNode) {
  if (link < 1 || static_cast<std::size_t>(link) >= FPosOfLink.size()) return;
  const std::int32_t pos = FPosOfLink[static_cast<std::size_t>(link)];
  if (pos == 0) return;
  TAreaListItem& item = FItems[static_cast<std::size_t>(pos - 1)];
  (atToNode ? item.exitFT : item.exitTF) = true;
}

void TAreaList::GetLinkList(std::int32_t areaID, TIntegerList& il) const {
  il.Clear();
  for (std::size_t link = 1; link < FPosOfLink.size(); ++link) {
    const std::int32_t pos = FPosOfLink[link];
    if (pos > 0 && FItems[static_cast<std::size_t>(pos - 1)].areaID == areaID) {
      il.Add(static_cast<std::int32_t>(link));
    }
  }
}

void TAreaList::Update(TBitArray& bits, std::int32_t area1, std::int32_t area2) const {
  bits.SetAllTrue();
  for (const TAreaListItem& item : FItems) {
    if (item.areaID != area1 && item.areaID != area2 && item.link < bits.Size()) {
      bits.SetBit2(item.link, false);
    }
  }
}

void TAreaList::UpdateExitBits(TBitArray& bitsFT, TBitArray& bitsTF, std::int32_t area) const {
  bitsFT.SetAllTrue();
  bitsTF.SetAllTrue();
  for (const TAreaListItem& item : FItems) {
    if (item.areaID == area) continue;
    if (item.exitFT && item.link < bitsFT.Size()) bitsFT.SetBit2(item.link, false);
    if (item.exitTF && item.link < bitsTF.Size()) bitsTF.SetBit2(item.link, false);
  }
}

void TAreaList::Clear() {
  FItems.clear();
  FPosOfLink.clear();
  FMaxArea = 0;
}

}  // namespace kvnet
