#include "foundation/kvnet_random.h"

#include <atomic>
#include <chrono>
#include <cmath>

namespace kvnet {

namespace {

constexpr double kTwoPow32 = 4294967296.0;

// Process-wide source of seeds: a splitmix64 sequence started from the clock.
std::uint64_t NextProcessSeed() {
  static std::atomic<std::uint64_t> state{static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count())};
  std::uint64_t z = state.fetch_add(0x9E3779B97F4A7C15ULL) + 0x9E3779B97F4A7C15ULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

void TRandom::Randomize() {
  fRS = static_cast<std::int64_t>(NextProcessSeed() & 0xFFFFFFFFULL);
}

void TRandom::NextState() {
  // Unsigned arithmetic is the exact mod 2^32 for every seed, negative or wider than 32 bits.
  const std::uint64_t next = static_cast<std::uint64_t>(fRS) * 134775813ULL + 1ULL;
  fRS = static_cast<std::int64_t>(next & 0xFFFFFFFFULL);
}

double TRandom::NextDouble() {
  NextState();
  return static_cast<double>(fRS) / kTwoPow32;
}

std::int32_t TRandom::NextInt(std::int32_t value) {
  NextState();
  return static_cast<std::int32_t>(std::trunc(static_cast<double>(fRS) / kTwoPow32 * value));
}

}  // namespace kvnet
