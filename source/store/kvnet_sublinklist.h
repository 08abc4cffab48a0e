// Runs of link segments as the spatial index stores them in its leaves. A run (Link, sub1, sub2)
// stands for the segments (sub1, sub1+1) .. (sub2-1, sub2) of the link's polyline, vertex 0 being
// the from-node; a record with sub2 = 0 is no run (the index file uses that form for node ids).
// Plain data: one thread at a time may change a list, any number may read it.
#pragma once

#include <cstdint>

#include "foundation/kvnet_baselist.h"

namespace kvnet {

struct TSubLink {
  std::int32_t Link = 0;
  std::uint16_t sub1 = 0;
  std::uint16_t sub2 = 0;
  friend bool operator==(const TSubLink&, const TSubLink&) = default;
};

class TSubLinkList : public TBaseList<TSubLink> {
 public:
  // Grows the last run by one segment. Raises EOutOfRange on an empty list and when sub2 would
  // pass 65535, the largest vertex index the 16-bit fields hold.
  void incsub2() {
    if (FCount == 0) throw EOutOfRange("TSubLinkList: incsub2 on an empty list");
    TSubLink& last = ItemRef(FCount - 1);
    if (last.sub2 == UINT16_MAX) {
      throw EOutOfRange(Format("Link %d has a vertex index above 65535", last.Link));
    }
    ++last.sub2;
  }

  // Sum of sub2 - sub1 + 1 over the runs (records with sub2 = 0 do not count).
  std::int64_t Vertexcount() const {
    std::int64_t count = 0;
    for (const TSubLink& s : *this) {
      if (s.sub2 != 0) count += static_cast<std::int64_t>(s.sub2) - s.sub1 + 1;
    }
    return count;
  }
};

}  // namespace kvnet
