// UTF-8 and UTF-16 helpers. Text is UTF-8 std::string throughout the library; where a rule counts
// characters (widths, lengths, orders) it counts UTF-16 code units, as the file formats do.
// Invalid UTF-8 is read as U+FFFD per bad byte sequence and reported through `replaced`.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kvnet {

// Decodes the next code point of s starting at pos and advances pos; returns U+FFFD and sets
// *invalid for a malformed, overlong, surrogate or truncated sequence (consuming one byte).
char32_t NextCodePoint(std::string_view s, std::size_t& pos, bool* invalid = nullptr);

// Appends the UTF-8 form of a code point (a surrogate or a value above U+10FFFF becomes U+FFFD).
void AppendUtf8(std::string& out, char32_t cp);

std::u16string Utf8ToUtf16(std::string_view text, bool* replaced = nullptr);
std::string Utf16ToUtf8(std::u16string_view text, bool* replaced = nullptr);

// Characters as UTF-16 code units.
std::size_t Utf16Length(std::string_view text);

// Bytes of the UTF-8 form (malformed sequences count as the U+FFFD they read as).
std::size_t Utf8Length(std::string_view text);

// True when text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

}  // namespace kvnet
