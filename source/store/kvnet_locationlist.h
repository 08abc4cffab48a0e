// TLocationList: positions on links, each optionally with its coordinate ((0, 0) = none), kept
// in the order link id, then percent. Further operations on it belong to the routing engine.
#pragma once

#include "foundation/kvnet_baselist.h"
#include "foundation/kvnet_types.h"

namespace kvnet {

struct TLocationListItem {
  TLocation loc;
  TFloatPoint P;
};

class TLocationList : public TBaseListSort<TLocationListItem> {
 public:
  bool IsEqual(const TLocationListItem& a, const TLocationListItem& b) const override {
    return a.loc.link == b.loc.link && a.loc.percent == b.loc.percent;
  }
  bool IsLess(const TLocationListItem& a, const TLocationListItem& b) const override {
    return a.loc.link < b.loc.link || (a.loc.link == b.loc.link && a.loc.percent < b.loc.percent);
  }
  bool IsGreater(const TLocationListItem& a, const TLocationListItem& b) const override {
    return IsLess(b, a);
  }

  // A location without a coordinate.
  std::int32_t Add1(const TLocation& item) { return Add(TLocationListItem{item, {}}); }
  std::int32_t Add2(std::int32_t link, double percent) { return Add1(TLocation{link, percent}); }
  using TBaseListSort<TLocationListItem>::Add;
};

}  // namespace kvnet
