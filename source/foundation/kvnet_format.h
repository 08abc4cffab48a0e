// Locale-free text for numbers and messages. Every number that the library writes into a text
// output (layers, reports, configuration values) and every formatted exception message goes
// through these functions, so the result never depends on the user's locale.
#pragma once

#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kvnet {

// The general number format: the shortest text with at most 15 significant digits, '.' as the
// decimal separator, no thousands separator and no trailing zeros; exponent form ("1E-6",
// "1.5E20": no plus sign, no leading zeros) when the magnitude is below 0.00001 or the value has
// more than 15 integer digits. Zero of either sign is "0"; NaN and infinities are "NAN", "INF"
// and "-INF". A single-precision value is written with the shortest text that reads back as the
// same single-precision value (3.85f gives "3.85", not the digits of its double widening).
std::string FormatGeneral(double value, int precision = 15);
std::string FormatGeneral(float value);

// Fixed-point text with exactly `decimals` digits after the point (none and no point for 0).
std::string FormatFixed(double value, int decimals);

// Trunc(x) for a value computed in floating point, without losing an integer to rounding noise:
// when x lies within a few units in the last place of an integer (0.29 * 100 = 28.999999999999996)
// that integer is taken. Non-finite values and values outside the 64-bit range raise EOutOfRange.
std::int64_t TruncNoise(double x);

// One argument of Format: an integer, a floating-point value or a text.
class TFormatArg {
 public:
  enum class Kind : std::uint8_t { akNone, akSigned, akUnsigned, akDouble, akSingle, akText };

  TFormatArg() = default;
  template <std::signed_integral I>
  TFormatArg(I v) : FKind(Kind::akSigned), FInt(v), FIntBytes(sizeof(I)) {}  // NOLINT
  template <std::unsigned_integral U>
  TFormatArg(U v)  // NOLINT
      : FKind(Kind::akUnsigned), FUInt(v), FIntBytes(sizeof(U)) {}
  TFormatArg(bool v) : FKind(Kind::akSigned), FInt(v ? 1 : 0), FIntBytes(1) {}  // NOLINT
  TFormatArg(double v) : FKind(Kind::akDouble), FDouble(v) {}                   // NOLINT
  TFormatArg(float v) : FKind(Kind::akSingle), FDouble(v) {}                    // NOLINT
  TFormatArg(std::string_view v) : FKind(Kind::akText), FText(v) {}             // NOLINT
  TFormatArg(const std::string& v) : FKind(Kind::akText), FText(v) {}           // NOLINT
  TFormatArg(const char* v) : FKind(Kind::akText), FText(v ? v : "") {}         // NOLINT

  Kind GetKind() const { return FKind; }
  std::int64_t AsInt64() const;
  double AsDouble() const;
  std::string AsText() const;  // the value as %s would print it
  std::string AsHex() const;   // upper-case hexadecimal; negative values in their own width

 private:
  Kind FKind = Kind::akNone;
  std::int64_t FInt = 0;
  std::uint64_t FUInt = 0;
  int FIntBytes = 0;
  double FDouble = 0;
  std::string_view FText;
};

// printf-like formatting of library messages, independent of the locale. Specifiers:
// %d %u (integers; precision = minimum digits), %x (upper-case hexadecimal), %f (fixed, default
// 2 decimals), %n (fixed with ',' thousands separators, default 2 decimals), %e (scientific),
// %g (general number format; precision = significant digits, default 15), %s (text; precision =
// maximum characters), %% (a percent sign). An optional '-' and width pad to the left or right.
// Arguments of another kind are converted (a number for %s, a text for %d prints as text).
// A specifier without an argument is copied unchanged.
std::string FormatArgs(std::string_view fmt, std::span<const TFormatArg> args);

template <class... A>
std::string Format(std::string_view fmt, const A&... args) {
  const TFormatArg list[sizeof...(A) + 1] = {TFormatArg(args)..., TFormatArg()};
  return FormatArgs(fmt, std::span<const TFormatArg>(list, sizeof...(A)));
}

}  // namespace kvnet
