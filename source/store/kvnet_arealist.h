// No-drive-through areas: connected groups of links marked "no drive through", each with an id
// (1, 2, ...), and the links through which an area may be left ("exits") at either end. The
// routing engine uses them to let a route start or end inside an area but not cross a foreign
// one. Lookups by link are constant time.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/kvnet_baselist.h"
#include "foundation/kvnet_bitarray.h"

namespace kvnet {

struct TAreaListItem {
  std::int32_t link = 0;
  std::int32_t areaID = 0;
  bool exitFT = false;  // an exit at the link's to-node
  bool exitTF = false;  // an exit at the link's from-node
};

class TAreaList {
 public:
  std::int32_t Count() const { return static_cast<std::int32_t>(FItems.size()); }
  std::int32_t MaxArea() const { return FMaxArea; }
  const TAreaListItem& Item(std::int32_t index) const {
    return FItems[static_cast<std::size_t>(index)];
  }

  // Gives a link an area (replacing the area of a known link).
  void Add(std::int32_t link, std::int32_t areaID);
  // The area of a link, or 0.
  std::int32_t GetArea(std::int32_t link) const;
  void SetExit(std::int32_t link, bool atToNode);
  // The links of an area in increasing order.
  void GetLinkList(std::int32_t areaID, TIntegerList& il) const;
  // All bits set, then cleared for the links of areas other than area1 and area2.
  void Update(TBitArray& bits, std::int32_t area1, std::int32_t area2) const;
  // All bits of both arrays set, then for every area other than area the FT bit of its exitFT
  // links and the TF bit of its exitTF links cleared.
  void UpdateExitBits(TBitArray& bitsFT, TBitArray& bitsTF, std::int32_t area) const;
  void Clear();

 private:
  std::vector<TAreaListItem> FItems;
  std::vector<std::int32_t> FPosOfLink;  // position + 1 of a link's item, 0 when none
  std::int32_t FMaxArea = 0;
};

}  // namespace kvnet
