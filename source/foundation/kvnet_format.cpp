#include "foundation/kvnet_format.h"

#include "foundation/kvnet_exceptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace kvnet {

namespace {

// Decimal digits and exponent of a finite, non-zero magnitude: value = d.ddd x 10^exponent,
// with trailing zeros removed from the digits.
struct TDecimal {
  std::string digits;
  int exponent = 0;
};

TDecimal SplitScientific(std::string_view text) {
  // text is "d.dddde-xx" or "de+xx" as std::to_chars writes it.
  TDecimal d;
  const auto e = text.find('e');
  for (const char c : text.substr(0, e)) {
    if (c != '.') d.digits.push_back(c);
  }
  const std::string_view exp = text.substr(e + 1);
  std::from_chars(exp.data() + (exp[0] == '+' ? 1 : 0), exp.data() + exp.size(), d.exponent);
  while (d.digits.size() > 1 && d.digits.back() == '0')
    d.digits.pop_back();
  return d;
}

std::string LayoutGeneral(bool negative, const TDecimal& d, int precision) {
  std::string out = negative ? "-" : "";
  const int count = static_cast<int>(d.digits.size());
  if (d.exponent < -5 || d.exponent >= precision) {
    out += d.digits[0];
    if (count > 1) {
      out += '.';
      out.append(d.digits, 1);
    }
    out += 'E';
    out += std::to_string(d.exponent);
  } else if (d.exponent >= 0) {
    const int intDigits = d.exponent + 1;
    if (count <= intDigits) {
      out += d.digits;
      out.append(static_cast<size_t>(intDigits - count), '0');
    } else {
      out.append(d.digits, 0, static_cast<size_t>(intDigits));
      out += '.';
      out.append(d.digits, static_cast<size_t>(intDigits));
    }
  } else {
    out += "0.";
    out.append(static_cast<size_t>(-d.exponent - 1), '0');
    out += d.digits;
  }
  return out;
}

// NaN, infinities and zeros; returns false for every other value.
bool SpecialText(double value, std::string& out) {
  if (std::isnan(value)) {
    out = "NAN";
  } else if (std::isinf(value)) {
    out = value > 0 ? "INF" : "-INF";
  } else if (value == 0) {
    out = "0";
  } else {
    return false;
  }
  return true;
}

std::string GroupThousands(const std::string& fixed) {
  // fixed is [-]digits[.digits]
  const size_t start = (!fixed.empty() && fixed[0] == '-') ? 1 : 0;
  size_t end = fixed.find('.');
  if (end == std::string::npos) end = fixed.size();
  std::string out = fixed.substr(0, start);
  for (size_t i = start; i < end; ++i) {
    out += fixed[i];
    const size_t left = end - i - 1;
    if (left > 0 && left % 3 == 0) out += ',';
  }
  out.append(fixed, end);
  return out;
}

std::string Pad(std::string text, int width, bool leftJustify) {
  if (width > 0 && static_cast<int>(text.size()) < width) {
    const std::string fill(static_cast<size_t>(width) - text.size(), ' ');
    text = leftJustify ? text + fill : fill + text;
  }
  return text;
}

std::string IntegerText(const TFormatArg& arg, int minDigits) {
  if (arg.GetKind() == TFormatArg::Kind::akText) return arg.AsText();
  if (arg.GetKind() == TFormatArg::Kind::akDouble || arg.GetKind() == TFormatArg::Kind::akSingle) {
    return arg.AsText();
  }
  std::string text = arg.AsText();
  const bool negative = !text.empty() && text[0] == '-';
  std::string digits = negative ? text.substr(1) : text;
  if (minDigits > 0 && static_cast<int>(digits.size()) < minDigits) {
    digits.insert(0, static_cast<size_t>(minDigits) - digits.size(), '0');
  }
  return (negative ? "-" : "") + digits;
}

}  // namespace

std::string FormatGeneral(double value, int precision) {
  std::string special;
  if (SpecialText(value, special)) return special;
  if (precision < 1) precision = 15;
  precision = std::min(precision, 17);
  char buffer[64];
  const auto res = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                 std::chars_format::scientific, precision - 1);
  return LayoutGeneral(value < 0, SplitScientific(std::string_view(buffer, res.ptr - buffer)),
                       precision);
}

std::string FormatGeneral(float value) {
  std::string special;
  if (SpecialText(value, special)) return special;
  char buffer[64];
  const auto res = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                 std::chars_format::scientific);
  return LayoutGeneral(value < 0, SplitScientific(std::string_view(buffer, res.ptr - buffer)), 15);
}

std::string FormatFixed(double value, int decimals) {
  if (!std::isfinite(value)) return FormatGeneral(value);
  if (decimals < 0) decimals = 0;
  char buffer[400];
  const auto res =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  std::string text(buffer, res.ptr);
  // Never print a negative zero such as "-0.00".
  if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return text;
}

std::int64_t TruncNoise(double x) {
  if (!std::isfinite(x) || std::fabs(x) >= 9.2e18) {
    throw EOutOfRange(Format("Value %g can not be converted to an integer", x));
  }
  const double nearest = std::nearbyint(x);
  // Products and differences of values read from text carry a relative error of a few units in
  // the last place; 1e-12 relative is far above that and far below any intended fraction.
  if (std::fabs(x - nearest) <= 1e-12 * std::max(1.0, std::fabs(x))) {
    return static_cast<std::int64_t>(nearest);
  }
  return static_cast<std::int64_t>(std::trunc(x));
}

std::int64_t TFormatArg::AsInt64() const {
  switch (FKind) {
    case Kind::akSigned:
      return FInt;
    case Kind::akUnsigned:
      return static_cast<std::int64_t>(FUInt);
    case Kind::akDouble:
    case Kind::akSingle:
      return std::isfinite(FDouble) && std::fabs(FDouble) < 9.2e18
                 ? static_cast<std::int64_t>(FDouble)
                 : 0;
    default:
      return 0;
  }
}

double TFormatArg::AsDouble() const {
  switch (FKind) {
    case Kind::akSigned:
      return static_cast<double>(FInt);
    case Kind::akUnsigned:
      return static_cast<double>(FUInt);
    case Kind::akDouble:
    case Kind::akSingle:
      return FDouble;
    default:
      return 0;
  }
}

std::string TFormatArg::AsText() const {
  switch (FKind) {
    case Kind::akSigned:
      return std::to_string(FInt);
    case Kind::akUnsigned:
      return std::to_string(FUInt);
    case Kind::akDouble:
      return FormatGeneral(FDouble);
    case Kind::akSingle:
      return FormatGeneral(static_cast<float>(FDouble));
    case Kind::akText:
      return std::string(FText);
    default:
      return {};
  }
}

std::string TFormatArg::AsHex() const {
  std::uint64_t bits = 0;
  if (FKind == Kind::akSigned) {
    bits = static_cast<std::uint64_t>(FInt);
    if (FIntBytes < 8) bits &= (std::uint64_t{1} << (8 * FIntBytes)) - 1;
  } else if (FKind == Kind::akUnsigned) {
    bits = FUInt;
  } else {
    return AsText();
  }
  char buffer[24];
  const auto res = std::to_chars(buffer, buffer + sizeof buffer, bits, 16);
  std::string text(buffer, res.ptr);
  for (char& c : text) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string FormatArgs(std::string_view fmt, std::span<const TFormatArg> args) {
  std::string out;
  out.reserve(fmt.size() + 16 * args.size());
  size_t next = 0;
  size_t i = 0;
  while (i < fmt.size()) {
    const char c = fmt[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    const size_t start = i++;
    if (i < fmt.size() && fmt[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    const bool leftJustify = i < fmt.size() && fmt[i] == '-';
    if (leftJustify) ++i;
    int width = 0;
    while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9' && width < 1000) {
      width = width * 10 + (fmt[i++] - '0');
    }
    int precision = -1;
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      precision = 0;
      while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9' && precision < 1000) {
        precision = precision * 10 + (fmt[i++] - '0');
      }
    }
    if (i >= fmt.size()) {  // a dangling specifier is copied as it stands
      out.append(fmt, start);
      break;
    }
    const char type = static_cast<char>(fmt[i] | 0x20);  // case-insensitive like %D, %S
    ++i;
    if (next >= args.size() || std::string_view("duxfnegs").find(type) == std::string_view::npos) {
      out.append(fmt, start, i - start);
      continue;
    }
    const TFormatArg& arg = args[next++];
    std::string text;
    switch (type) {
      case 'd':
      case 'u':
        text = IntegerText(arg, precision);
        break;
      case 'x':
        text = arg.AsHex();
        if (precision > 0 && static_cast<int>(text.size()) < precision) {
          text.insert(0, static_cast<size_t>(precision) - text.size(), '0');
        }
        break;
      case 'f':
        text = arg.GetKind() == TFormatArg::Kind::akText
                   ? arg.AsText()
                   : FormatFixed(arg.AsDouble(), precision < 0 ? 2 : precision);
        break;
      case 'n':
        text = arg.GetKind() == TFormatArg::Kind::akText
                   ? arg.AsText()
                   : GroupThousands(FormatFixed(arg.AsDouble(), precision < 0 ? 2 : precision));
        break;
      case 'e': {
        if (arg.GetKind() == TFormatArg::Kind::akText || !std::isfinite(arg.AsDouble())) {
          text = arg.AsText();
          break;
        }
        char buffer[64];
        const auto res = std::to_chars(buffer, buffer + sizeof buffer, arg.AsDouble(),
                                       std::chars_format::scientific,
                                       precision < 0 ? 14 : std::min(precision, 40));
        text.assign(buffer, res.ptr);
        for (char& ch : text) {
          if (ch == 'e') ch = 'E';
        }
        break;
      }
      case 'g': {
        // A single without precision keeps its own shortest text (AsText); a double or an
        // explicit precision goes through the general format.
        const auto kind = arg.GetKind();
        const bool general = kind == TFormatArg::Kind::akDouble ||
                             (kind == TFormatArg::Kind::akSingle && precision >= 0);
        text =
            general ? FormatGeneral(arg.AsDouble(), precision <= 0 ? 15 : precision) : arg.AsText();
        break;
      }
      default:  // 's'
        text = arg.AsText();
        if (precision >= 0 && static_cast<int>(text.size()) > precision) {
          text.resize(static_cast<size_t>(precision));
        }
        break;
    }
    out += Pad(std::move(text), width, leftJustify);
  }
  return out;
}

}  // namespace kvnet
