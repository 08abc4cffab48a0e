#include "store/kvnet_turn.h"

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"

namespace kvnet {

namespace {

const std::vector<std::int32_t> kEmptyBucket;

bool SameLinks(const TIntegerList& a, const TIntegerList& b) {
  if (a.Count() != b.Count()) return false;
  for (std::int32_t i = 0; i < a.Count(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace

TTurnRestrictions::TTurnRestrictions(std::int32_t size)
    : Fsize(size < 0 ? 0 : size), B(Fsize + 1) {}

std::int32_t TTurnRestrictions::Find(const TIntegerList& links, std::size_t& bucketSlot) const {
  if (Fhash.empty()) return -1;
  const auto& bucket = Fhash[static_cast<std::size_t>(links.Last() % kBuckets)];
  for (std::size_t k = 0; k < bucket.size(); ++k) {
    if (SameLinks(FTTR[static_cast<std::size_t>(bucket[k])].links, links)) {
      bucketSlot = k;
      return bucket[k];
    }
  }
  return -1;
}

void TTurnRestrictions::Add(const TTurnRestriction& item) {
  const std::int32_t n = item.links.Count();
  if (n < 2 || n > kMaxLinks) {
    throw EInvalidParameter(Format("A turn restriction needs 2 to %d links, not %d", kMaxLinks, n));
  }
  for (const std::int32_t link : item.links) {
    if (link < 1 || link > Fsize) {
      throw EOutOfRange(Format("Turn restriction link %d must be between 1 and %d", link, Fsize));
    }
  }
  if (n == 2 && item.links[0] == item.links[1]) return;
  const std::int32_t last = item.links.Last();
  std::size_t slot = 0;
  const std::int32_t existing = Find(item.links, slot);
  if (item.value != 0) {
    if (existing >= 0) {
      FTTR[static_cast<std::size_t>(existing)].value = item.value;
      return;
    }
    if (Fhash.empty()) Fhash.resize(kBuckets);
    FTTR.push_back(item);
    Fhash[static_cast<std::size_t>(last % kBuckets)].push_back(Count() - 1);
    B.SetBit2(last, true);
    return;
  }
  if (existing < 0) return;
  auto& bucket = Fhash[static_cast<std::size_t>(last % kBuckets)];
  bucket.erase(bucket.begin() + static_cast<std::ptrdiff_t>(slot));
  bool stillEnds = false;
  for (const std::int32_t pos : bucket)
    stillEnds |= FTTR[static_cast<std::size_t>(pos)].links.Last() == last;
  if (!stillEnds) B.SetBit2(last, false);
}

void TTurnRestrictions::AddSimple(std::int32_t link1, std::int32_t link2, float value) {
  TTurnRestriction item;
  item.links.Add(link1);
  item.links.Add(link2);
  item.value = value;
  Add(item);
}

bool TTurnRestrictions::GetList(std::int32_t link, TIntegerList& list) const {
  if (link < 1 || link > Fsize || !B.GetBit(link)) return false;
  list.Clear();
  for (const std::int32_t pos : Fhash[static_cast<std::size_t>(link % kBuckets)]) {
    if (FTTR[static_cast<std::size_t>(pos)].links.Last() == link) list.Add(pos);
  }
  return true;
}

const TTurnRestriction& TTurnRestrictions::GetTR(std::int32_t id) const {
  if (id < 0 || id >= Count()) {
    throw EOutOfRange(Format("Turn restriction %d must be between 0 and %d", id, Count() - 1));
  }
  return FTTR[static_cast<std::size_t>(id)];
}

const std::vector<std::int32_t>& TTurnRestrictions::Bucket(std::int32_t bucket) const {
  if (Fhash.empty() || bucket < 0 || bucket >= kBuckets) return kEmptyBucket;
  return Fhash[static_cast<std::size_t>(bucket)];
}

void TTurnRestrictions::Clear() {
  FTTR.clear();
  Fhash.clear();
  B.SetAllFalse();
}

void TTurnRestrictions::Clone(TTurnRestrictions& v) const {
  v.Fsize = Fsize;
  v.FTTR = FTTR;
  v.B = B;
  v.Fhash = Fhash;
}

}  // namespace kvnet
