#include "store/kvnet_encryption.h"

#include <gtest/gtest.h>

#include "foundation/kvnet_exceptions.h"

namespace kvnet {
namespace {

constexpr std::uint64_t kMultiplier = 134775813;

std::uint64_t ReferenceStep(std::uint64_t k) {
  return (k * kMultiplier + 1) % (1ULL << 32);
}

TEST(Encryption, KeyTableIsFixedForever) {
  // FNV-1a over the table's little-endian bytes, and a few words.
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (const std::uint32_t word : KeyTable) {
    for (int b = 0; b < 4; ++b) {
      h ^= (word >> (8 * b)) & 0xFF;
      h *= 0x100000001b3ULL;
    }
  }
  EXPECT_EQ(h, 0xfe10bb044495a13fULL);
  EXPECT_EQ(KeyTable[0], 0x935C90E8U);
  EXPECT_EQ(KeyTable[1], 0x3195E055U);
  EXPECT_EQ(KeyTable[1023], 0xED6F694AU);
}

TEST(Encryption, StartKeysAreConditionedAbove2Pow31) {
  EXPECT_EQ(T32Encryption(1).Key(), 3698175007);  // 1 -> 134775814 -> 3698175007
  EXPECT_EQ(T32Encryption(0x90000000LL).Key(), 0x90000000LL);
  EXPECT_EQ(T32Encryption(1LL << 40).Key(), 1LL << 40);
  EXPECT_EQ(T32Encryption(0).Key(), 0);
  EXPECT_THROW(T32Encryption(-1), EInvalidParameter);
  EXPECT_THROW(T32EncryptionArray(-5), EInvalidParameter);
}

TEST(Encryption, StreamCipherXorsTheLowBitsAndSteps) {
  T32Encryption cipher(0x90000000LL);
  std::uint64_t k = 0x90000000ULL;
  const std::uint32_t values[] = {0, 1, 0xFFFFFFFFU, 0x12345678U};
  for (const std::uint32_t v : values) {
    EXPECT_EQ(cipher.Encode(v), v ^ static_cast<std::uint32_t>(k));
    k = ReferenceStep(k);
  }
  EXPECT_EQ(cipher.Encode(std::uint8_t{0xAB}), static_cast<std::uint8_t>(0xAB ^ (k & 0xFF)));
  k = ReferenceStep(k);
  EXPECT_EQ(cipher.Encode(std::uint16_t{0xABCD}),
            static_cast<std::uint16_t>(0xABCD ^ (k & 0xFFFF)));
  // Restart gives the same stream again, and encoding twice is the identity.
  cipher.Restart();
  const std::int64_t word = cipher.Encode(std::int64_t{0x0102030405060708LL});
  const std::uint32_t single = cipher.Encode(2.5f);
  const std::int64_t wide = cipher.Encode(-1.25);
  cipher.Restart();
  EXPECT_EQ(cipher.Encode(word), 0x0102030405060708LL);
  EXPECT_EQ(cipher.Decode(single), 2.5f);
  EXPECT_EQ(cipher.Decode(wide), -1.25);
}

TEST(Encryption, KeyZeroAndAZeroRunningKeyLeaveValuesUnchanged) {
  T32Encryption none(0);
  EXPECT_EQ(none.Encode(0xDEADBEEFU), 0xDEADBEEFU);
  none.Restart();
  EXPECT_EQ(none.Key(), 0);
  // Find a first key >= 2^31 whose sequence reaches 0 after a few steps: walk backwards from 0.
  std::uint64_t inverse = 1;  // inverse of the multiplier mod 2^32 by Newton's iteration
  for (int i = 0; i < 6; ++i)
    inverse = inverse * (2 - kMultiplier * inverse) % (1ULL << 32);
  std::uint64_t key = 0;
  int steps = 0;
  do {
    key = (key + (1ULL << 32) - 1) % (1ULL << 32) * inverse % (1ULL << 32);
    ++steps;
  } while (key < (1ULL << 31));
  T32Encryption cipher(static_cast<std::int64_t>(key));
  ASSERT_EQ(cipher.Key(), static_cast<std::int64_t>(key));
  for (int i = 0; i < steps; ++i)
    cipher.Encode(0U);
  EXPECT_EQ(cipher.Key(), 0);
  EXPECT_EQ(cipher.Encode(0x55AA55AAU), 0x55AA55AAU);
  EXPECT_EQ(cipher.Key(), 0);
}

TEST(Encryption, PositionalCipherUsesTheTableByPosition) {
  const T32EncryptionArray cipher(1000);
  EXPECT_EQ(cipher.Encode(0U, 0), KeyTable[1000]);
  EXPECT_EQ(cipher.Encode(0U, 30), KeyTable[6]);  // (1000 + 30) mod 1024
  const std::int64_t bits = cipher.Encode(3.75, 23);
  EXPECT_EQ(static_cast<std::uint32_t>(bits), 0U ^ KeyTable[1023]);  // 3.75's low word is 0
  EXPECT_EQ(cipher.Decode(bits, 23), 3.75);
  EXPECT_NE(cipher.Decode(bits, 24), 3.75);
  const T32EncryptionArray none(0);
  EXPECT_EQ(none.Encode(0x1234U, 7), 0x1234U);
  T32EncryptionArray copy(5);
  cipher.Clone(copy);
  EXPECT_EQ(copy.Key(), 1000);
}

}  // namespace
}  // namespace kvnet
