// A small linear congruential generator whose sequence is part of the library's results: every
// seeded sample (random nodes, random speeds, shuffles) depends on it, so it must never change.
// state := (state * 134775813 + 1) mod 2^32; NextDouble = state / 2^32;
// NextInt(n) = Trunc(state / 2^32 * n), computed in double.
#pragma once

#include <cstdint>

namespace kvnet {

class TRandom {
 public:
  TRandom() = default;

  void SetSeed(std::int64_t value) { fRS = value; }
  std::int64_t Seed() const { return fRS; }
  // Seeds from a process-wide generator that was seeded from the clock.
  void Randomize();

  double NextDouble();
  std::int32_t NextInt(std::int32_t value);

 private:
  void NextState();

  std::int64_t fRS = 0;
};

}  // namespace kvnet
