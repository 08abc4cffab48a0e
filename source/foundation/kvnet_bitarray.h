// A resizable set of bits, the link and node selection of the whole library. Selections are sized
// LinkCount + 1 or NodeCount + 1 so that ids index them directly (bit 0 stays clear there).
// Bit i is bit (i mod 32) of word (i div 32); bits at or above Size in the last word are always 0.
// Every index is checked: an index outside 0..Size-1, a negative or too large size and arrays of
// different sizes raise EBitArrayError.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/kvnet_types.h"

namespace kvnet {

class TBitArray {
 public:
  TBitArray() = default;
  explicit TBitArray(std::int64_t size);

  std::int64_t Size() const { return FSize; }
  // New bits are 0; shrinking clears the bits above the new size.
  void SetSize(std::int64_t size);

  bool GetBit(std::int64_t index) const {
    CheckIndex(index);
    return (FBits[static_cast<std::size_t>(index >> 5)] >> (index & 31)) & 1U;
  }
  void SetBit2(std::int64_t index, bool value) {
    CheckIndex(index);
    const std::uint32_t mask = 1U << (index & 31);
    std::uint32_t& word = FBits[static_cast<std::size_t>(index >> 5)];
    word = value ? (word | mask) : (word & ~mask);
  }
  // Grows the array to index + 1 bits first when index is beyond it.
  void SetBit(std::int64_t index, bool value);

  void SetAllFalse() { SetAll(false); }
  void SetAllTrue() { SetAll(true); }
  void SetAll(bool value);

  // Word-wise and / or with an array of the same size; inversion of every bit below Size.
  void P_And(const TBitArray& b);
  void P_Or(const TBitArray& b);
  void P_Not();

  std::int64_t CountTrue() const;
  std::int64_t CountFalse() const { return FSize - CountTrue(); }

  // Position of the first 0 bit at or after the start of the word that holds index; Size when
  // there is none.
  std::int64_t OpenBitOffset(std::int64_t index) const;
  std::int64_t OpenBit() const { return OpenBitOffset(0); }

  // Copies b's bits; the sizes must be equal.
  void Assign(const TBitArray& b);
  // Makes v a copy of this array.
  void Clone(TBitArray& v) const;
  // Size := length of ia; bit 0 clear; bit i set where ia[i] is not 0.
  void SetFromIntegerArray(const TIntegerArray& ia);
  // Sets the bit of the absolute id of every link of the route, growing as needed.
  void SetFromTRoute(const TRoute& route);

  friend bool operator==(const TBitArray&, const TBitArray&) = default;

 private:
  void CheckIndex(std::int64_t index) const {
    if (static_cast<std::uint64_t>(index) >= static_cast<std::uint64_t>(FSize)) RaiseIndex();
  }
  [[noreturn]] static void RaiseIndex();
  void CheckSameSize(const TBitArray& b) const;
  void ClearTail();

  std::int64_t FSize = 0;
  std::vector<std::uint32_t> FBits;
};

}  // namespace kvnet
