// The two ciphers of enciphered network files. Both XOR the data with a key stream, so encoding
// and decoding are the same operation. A key of 0 means plain data; negative keys are refused
// (EInvalidParameter).
//
// T32Encryption steps a linear congruential key after every value: each file is enciphered as
// one stream (Restart at the start of every file), values in file order. Bytes, 16-bit and 32-bit
// values use the low bits of the key; 64-bit values and doubles are two 32-bit words, low first.
// When the running key reaches 0 every later value of that file passes unchanged.
//
// T32EncryptionArray enciphers by position (shape points): word p is XORed with
// KeyTable[(key + p) mod 1024], so any point can be read without the ones before it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace kvnet {

// Fixed for all time: enciphered shape-point files depend on every word.
extern const std::array<std::uint32_t, 1024> KeyTable;

class T32Encryption {
 public:
  explicit T32Encryption(std::int64_t startKey);

  // Back to the first key (start of a new file).
  void Restart() { fKey = fKeyOrg; }
  std::int64_t Key() const { return fKey; }

  std::uint8_t Encode(std::uint8_t x) { return static_cast<std::uint8_t>(x ^ NextMask()); }
  std::uint16_t Encode(std::uint16_t x) { return static_cast<std::uint16_t>(x ^ NextMask()); }
  std::uint32_t Encode(std::uint32_t x) { return x ^ NextMask(); }
  std::int64_t Encode(std::int64_t x);
  // The enciphered bit pattern of a single / a double.
  std::uint32_t Encode(float x);
  std::int64_t Encode(double x);
  float Decode(std::uint32_t x) {
    const std::uint32_t bits = Encode(x);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  double Decode(std::int64_t x);

  // Enciphers (or deciphers) consecutive 32-bit words in place.
  void Apply(std::span<std::uint32_t> words);
  void Apply(std::span<std::uint16_t> values);
  void Apply(std::span<std::uint8_t> values);

  // The next key of the sequence: (k * 134775813 + 1) mod 2^32.
  static std::int64_t Step(std::int64_t k) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(k) * 134775813ULL + 1ULL) &
                                     0xFFFFFFFFULL);
  }

 private:
  // The low 32 bits of the current key, then one step; 0 (and no step) when the key is 0.
  std::uint32_t NextMask() {
    if (fKey == 0) return 0;
    const auto mask = static_cast<std::uint32_t>(fKey);
    fKey = Step(fKey);
    return mask;
  }

  std::int64_t fKey = 0;
  std::int64_t fKeyOrg = 0;
};

// Deciphers count consecutive 32-bit words of a buffer in place (nothing for key 0); the buffer
// need not be aligned.
void DecipherWords(void* data, std::size_t count, T32Encryption& cipher);

class T32EncryptionArray {
 public:
  explicit T32EncryptionArray(std::int64_t startKey);

  void Clone(T32EncryptionArray& v) const { v.fKey = fKey; }
  std::int64_t Key() const { return fKey; }

  std::uint32_t Encode(std::uint32_t x, std::int64_t position) const {
    if (fKey == 0) return x;
    return x ^
           KeyTable[static_cast<std::size_t>(
               (static_cast<std::uint64_t>(fKey) + static_cast<std::uint64_t>(position)) & 1023U)];
  }
  // A double at position p is two words: the low one uses p, the high one p + 1.
  std::int64_t Encode(double x, std::int64_t position) const;
  double Decode(std::int64_t x, std::int64_t position) const;

 private:
  std::int64_t fKey = 0;
};

}  // namespace kvnet
