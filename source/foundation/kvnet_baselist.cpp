#include "foundation/kvnet_baselist.h"

#include "foundation/kvnet_bitarray.h"
#include "foundation/kvnet_unicode.h"

namespace kvnet {

void TIntegerList::RemoveBlanks() {
  for (std::int32_t k = FCount - 1; k >= 0; --k) {
    if (GetItem(k) == 0) Delete(k);
  }
}

void TIntegerList::SetFromBitArray(const TBitArray* ba) {
  if (ba == nullptr) return;
  Clear();
  for (std::int64_t k = 1; k < ba->Size(); ++k) {
    if (ba->GetBit(k)) Add(static_cast<std::int32_t>(k));
  }
}

bool TIntegerList::AllNegative() const {
  return std::none_of(begin(), end(), [](std::int32_t v) { return v > 0; });
}

std::int32_t TKVStringList::MaxLength() const {
  std::int32_t longest = -1;
  for (const TStringItem& item : *this) {
    longest = std::max(longest, static_cast<std::int32_t>(Utf16Length(item.value)));
  }
  return longest;
}

std::int32_t TStepList::Add(const float& item) {
  if (!(item > 0)) throw Exception("Only values >0 are allowed in TStepList");
  const std::int32_t existing = IndexOf(item);
  if (existing >= 0) return existing;
  TBaseListSort<float>::Add(item);
  Sort();
  return IndexOf(item);
}

}  // namespace kvnet
