#include "store/kvnet_encryption.h"

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"

namespace kvnet {

namespace {

constexpr std::int64_t kTwoPow31 = std::int64_t{1} << 31;

void CheckKey(std::int64_t key) {
  if (key < 0) throw EInvalidParameter(Format("Encryption key must not be negative: %d", key));
}

std::uint64_t Bits(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, 8);
  return bits;
}

double FromBits(std::uint64_t bits) {
  double x;
  std::memcpy(&x, &bits, 8);
  return x;
}

}  // namespace

T32Encryption::T32Encryption(std::int64_t startKey) {
  CheckKey(startKey);
  std::int64_t k = startKey;
  // The sequence has full period 2^32, so it reaches 2^31 and beyond within a few steps.
  if (k != 0) {
    while (k < kTwoPow31)
      k = Step(k);
  }
  fKeyOrg = k;
  fKey = k;
}

std::int64_t T32Encryption::Encode(std::int64_t x) {
  const auto bits = static_cast<std::uint64_t>(x);
  const std::uint64_t low = Encode(static_cast<std::uint32_t>(bits));
  const std::uint64_t high = Encode(static_cast<std::uint32_t>(bits >> 32));
  return static_cast<std::int64_t>(low | (high << 32));
}

std::uint32_t T32Encryption::Encode(float x) {
  std::uint32_t bits;
  std::memcpy(&bits, &x, 4);
  return Encode(bits);
}

std::int64_t T32Encryption::Encode(double x) {
  return Encode(static_cast<std::int64_t>(Bits(x)));
}

double T32Encryption::Decode(std::int64_t x) {
  return FromBits(static_cast<std::uint64_t>(Encode(x)));
}

void T32Encryption::Apply(std::span<std::uint32_t> words) {
  if (fKey == 0) return;
  for (std::uint32_t& w : words)
    w ^= NextMask();
}

void T32Encryption::Apply(std::span<std::uint16_t> values) {
  if (fKey == 0) return;
  for (std::uint16_t& v : values)
    v = static_cast<std::uint16_t>(v ^ NextMask());
}

void T32Encryption::Apply(std::span<std::uint8_t> values) {
  if (fKey == 0) return;
  for (std::uint8_t& v : values)
    v = static_cast<std::uint8_t>(v ^ NextMask());
}

T32EncryptionArray::T32EncryptionArray(std::int64_t startKey) : fKey(startKey) {
  CheckKey(startKey);
}

std::int64_t T32EncryptionArray::Encode(double x, std::int64_t position) const {
  const std::uint64_t bits = Bits(x);
  const std::uint64_t low = Encode(static_cast<std::uint32_t>(bits), position);
  const std::uint64_t high = Encode(static_cast<std::uint32_t>(bits >> 32), position + 1);
  return static_cast<std::int64_t>(low | (high << 32));
}

double T32EncryptionArray::Decode(std::int64_t x, std::int64_t position) const {
  const auto bits = static_cast<std::uint64_t>(x);
  const std::uint64_t low = Encode(static_cast<std::uint32_t>(bits), position);
  const std::uint64_t high = Encode(static_cast<std::uint32_t>(bits >> 32), position + 1);
  return FromBits(low | (high << 32));
}

void DecipherWords(void* data, std::size_t count, T32Encryption& cipher) {
  if (cipher.Key() == 0) return;
  auto* bytes = static_cast<unsigned char*>(data);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t word;
    std::memcpy(&word, bytes + 4 * i, 4);
    word = cipher.Encode(word);
    std::memcpy(bytes + 4 * i, &word, 4);
  }
}

}  // namespace kvnet
