#include "foundation/kvnet_unicode.h"

namespace kvnet {

namespace {

constexpr char32_t kReplacementChar = 0xFFFD;

}  // namespace

char32_t NextCodePoint(std::string_view s, std::size_t& pos, bool* invalid) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  int trail = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail = 1;
    cp = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail = 2;
    cp = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail = 3;
    cp = lead & 0x07;
    minimum = 0x10000;
  }
  bool ok = trail > 0 && pos + static_cast<std::size_t>(trail) < s.size();
  for (int k = 1; ok && k <= trail; ++k) {
    const unsigned char b = byte(pos + static_cast<std::size_t>(k));
    if ((b & 0xC0) != 0x80) ok = false;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (ok && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
  if (!ok) {
    ++pos;
    if (invalid) *invalid = true;
    return kReplacementChar;
  }
  pos += static_cast<std::size_t>(trail) + 1;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacementChar;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::u16string Utf8ToUtf16(std::string_view text, bool* replaced) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char32_t cp = NextCodePoint(text, pos, replaced);
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text, bool* replaced) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {  // a lone surrogate
      AppendUtf8(out, kReplacementChar);
      if (replaced) *replaced = true;
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::size_t Utf16Length(std::string_view text) {
  std::size_t count = 0;
  std::size_t pos = 0;
  while (pos < text.size())
    count += NextCodePoint(text, pos) >= 0x10000 ? 2 : 1;
  return count;
}

std::size_t Utf8Length(std::string_view text) {
  std::size_t count = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t before = pos;
    bool invalid = false;
    NextCodePoint(text, pos, &invalid);
    count += invalid ? 3 : pos - before;
  }
  return count;
}

bool IsValidUtf8(std::string_view text) {
  bool invalid = false;
  std::size_t pos = 0;
  while (pos < text.size() && !invalid)
    NextCodePoint(text, pos, &invalid);
  return !invalid;
}

}  // namespace kvnet
