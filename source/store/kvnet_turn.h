// Turn-restriction sets. A restriction gives a value to a sequence of 2 to 6 consecutive links:
// -1 forbids driving the sequence, a positive value is an extra cost. A set answers "which
// restrictions end with this link" by one bit test for the common case of none and by one hash
// bucket otherwise. Sets are plain memory: no search may use a set while it is changed.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/kvnet_baselist.h"
#include "foundation/kvnet_bitarray.h"

namespace kvnet {

struct TTurnRestriction {
  TIntegerList links;  // link numbers in driving order
  float value = 0;     // -1 forbidden, > 0 extra cost
};

class TTurnRestrictions {
 public:
  static constexpr std::int32_t kBuckets = 65003;
  static constexpr std::int32_t kMaxLinks = 6;

  // A set for links 1..size.
  explicit TTurnRestrictions(std::int32_t size);

  std::int32_t Count() const { return static_cast<std::int32_t>(FTTR.size()); }
  std::int32_t Size() const { return Fsize; }

  // Stores, replaces (same sequence) or, with value 0, removes a restriction from the lookups.
  // A two-link sequence of one link twice is ignored. Raises EInvalidParameter for fewer than 2
  // or more than 6 links and EOutOfRange for a link outside 1..Size.
  void Add(const TTurnRestriction& item);
  void AddSimple(std::int32_t link1, std::int32_t link2, float value);

  // False when no restriction ends with link; else list holds the positions of those that do.
  bool GetList(std::int32_t link, TIntegerList& list) const;
  // The restriction at a position (0..Count-1).
  const TTurnRestriction& GetTR(std::int32_t id) const;

  void Clear();
  void Clone(TTurnRestrictions& v) const;

  // The positions in one bucket, in bucket order (for exports).
  const std::vector<std::int32_t>& Bucket(std::int32_t bucket) const;

 private:
  // Position of a stored restriction with the same links in the bucket of its last link, or -1.
  std::int32_t Find(const TIntegerList& links, std::size_t& bucketSlot) const;

  std::int32_t Fsize;
  std::vector<TTurnRestriction> FTTR;
  TBitArray B;
  std::vector<std::vector<std::int32_t>> Fhash;  // allocated on the first Add
};

}  // namespace kvnet
