#include "foundation/kvnet_bitarray.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

#include "foundation/kvnet_exceptions.h"

namespace kvnet {

namespace {

// Sizes from here on would overflow the word count of the original 32-bit layout.
constexpr std::int64_t kMaxBits = (std::int64_t{1} << 37) - 31;

std::size_t WordsFor(std::int64_t bits) {
  return static_cast<std::size_t>((bits + 31) / 32);
}

}  // namespace

TBitArray::TBitArray(std::int64_t size) {
  SetSize(size);
}

void TBitArray::RaiseIndex() {
  throw EBitArrayError("TBitArray: Index out of range");
}

void TBitArray::CheckSameSize(const TBitArray& b) const {
  if (b.FSize != FSize) throw EBitArrayError("TBitArray: Not the same size");
}

void TBitArray::ClearTail() {
  if (FSize % 32 != 0) FBits.back() &= (1U << (FSize % 32)) - 1U;
}

void TBitArray::SetSize(std::int64_t size) {
  if (size < 0 || size >= kMaxBits) throw EBitArrayError("TBitArray: Index out of range");
  if (size == FSize) return;
  FBits.resize(WordsFor(size), 0U);
  FSize = size;
  ClearTail();
}

void TBitArray::SetBit(std::int64_t index, bool value) {
  if (index < 0) throw EBitArrayError("TBitArray: Index out of range");
  if (index >= FSize) SetSize(index + 1);
  SetBit2(index, value);
}

void TBitArray::SetAll(bool value) {
  std::fill(FBits.begin(), FBits.end(), value ? 0xFFFFFFFFU : 0U);
  ClearTail();
}

void TBitArray::P_And(const TBitArray& b) {
  CheckSameSize(b);
  for (std::size_t i = 0; i < FBits.size(); ++i)
    FBits[i] &= b.FBits[i];
}

void TBitArray::P_Or(const TBitArray& b) {
  CheckSameSize(b);
  for (std::size_t i = 0; i < FBits.size(); ++i)
    FBits[i] |= b.FBits[i];
}

void TBitArray::P_Not() {
  for (std::uint32_t& word : FBits)
    word = ~word;
  ClearTail();
}

std::int64_t TBitArray::CountTrue() const {
  std::int64_t count = 0;
  for (const std::uint32_t word : FBits)
    count += std::popcount(word);
  return count;
}

std::int64_t TBitArray::OpenBitOffset(std::int64_t index) const {
  if (index < 0) throw EBitArrayError("TBitArray: Index out of range");
  for (std::size_t w = static_cast<std::size_t>(index / 32); w < FBits.size(); ++w) {
    if (FBits[w] != 0xFFFFFFFFU) {
      const std::int64_t bit = static_cast<std::int64_t>(w) * 32 + std::countr_one(FBits[w]);
      return bit < FSize ? bit : FSize;
    }
  }
  return FSize;
}

void TBitArray::Assign(const TBitArray& b) {
  CheckSameSize(b);
  FBits = b.FBits;
}

void TBitArray::Clone(TBitArray& v) const {
  v.FSize = FSize;
  v.FBits = FBits;
}

void TBitArray::SetFromIntegerArray(const TIntegerArray& ia) {
  SetSize(static_cast<std::int64_t>(ia.size()));
  SetAllFalse();
  for (std::size_t i = 1; i < ia.size(); ++i) {
    if (ia[i] != 0) SetBit2(static_cast<std::int64_t>(i), true);
  }
}

void TBitArray::SetFromTRoute(const TRoute& route) {
  for (const std::int32_t link : route.links)
    SetBit(std::llabs(link), true);
}

}  // namespace kvnet
