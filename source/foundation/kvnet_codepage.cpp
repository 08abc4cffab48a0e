#include "foundation/kvnet_codepage.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/kvnet_codepage_tables.h"
#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_unicode.h"

namespace kvnet {

namespace {

constexpr std::uint16_t kSystemCodePage = 1252;
constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

[[noreturn]] void RaiseUnsupported(std::uint16_t codePage) {
  throw EEncodingError(Format("Code page %d is not supported", codePage));
}

void Flag(bool* replaced) {
  if (replaced) *replaced = true;
}

// ---- Single-byte pages

// Character -> byte for one page: a two-level table over the BMP. blockOf gives for the high byte
// of a character the block that holds its low byte (block 0 is all empty); an entry is
// kPresent | byte, or 0 when the page has no byte for the character.
struct TReverseTable {
  static constexpr std::uint16_t kPresent = 0x100;
  std::array<std::uint16_t, 256> blockOf{};
  std::vector<std::array<std::uint16_t, 256>> blocks;

  // The byte of a BMP character, or -1.
  int Find(char32_t ch) const {
    const std::uint16_t entry = blocks[blockOf[ch >> 8]][ch & 0xFF];
    return entry ? entry & 0xFF : -1;
  }
};

struct TSingleBytePage {
  const char16_t* toUnicode = nullptr;
  mutable std::once_flag reverseBuilt;
  mutable TReverseTable reverse;

  // Built on the first encoding that meets a non-ASCII character.
  const TReverseTable& Reverse() const {
    std::call_once(reverseBuilt, [this] {
      reverse.blocks.assign(1, {});
      for (int byte = 0; byte < 256; ++byte) {
        const char16_t unit = toUnicode[byte];
        std::uint16_t& block = reverse.blockOf[unit >> 8];
        if (block == 0) {
          block = static_cast<std::uint16_t>(reverse.blocks.size());
          reverse.blocks.emplace_back();
        }
        reverse.blocks[block][unit & 0xFF] =
            static_cast<std::uint16_t>(TReverseTable::kPresent | byte);
      }
    });
    return reverse;
  }
};

const TSingleBytePage* FindSingleBytePage(std::uint16_t codePage) {
  const std::span<const TSingleByteTable> tables = SingleByteTables();
  static const std::unique_ptr<TSingleBytePage[]> pages = [tables] {
    auto result = std::make_unique<TSingleBytePage[]>(tables.size());
    for (std::size_t i = 0; i < tables.size(); ++i)
      result[i].toUnicode = tables[i].toUnicode;
    return result;
  }();
  const auto it = std::lower_bound(
      tables.begin(), tables.end(), codePage,
      [](const TSingleByteTable& table, std::uint16_t cp) { return table.codePage < cp; });
  if (it == tables.end() || it->codePage != codePage) return nullptr;
  return &pages[static_cast<std::size_t>(it - tables.begin())];
}

void DecodeSingleByte(const TSingleBytePage& page, std::string_view bytes, std::string& out) {
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {  // ASCII in every table
      out += c;
    } else {
      AppendUtf8(out, page.toUnicode[byte]);
    }
  }
}

void EncodeSingleByte(const TSingleBytePage& page, std::string_view text, std::string& out,
                      bool* replaced) {
  const TReverseTable* reverse = nullptr;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (static_cast<unsigned char>(c) < 0x80) {
      out += c;
      ++pos;
      continue;
    }
    if (!reverse) reverse = &page.Reverse();
    bool invalid = false;
    const char32_t ch = NextCodePoint(text, pos, &invalid);
    const int byte = invalid || ch > 0xFFFF ? -1 : reverse->Find(ch);
    if (byte < 0) {
      out += '?';
      Flag(replaced);
    } else {
      out += static_cast<char>(byte);
    }
  }
}

// ---- UTF-8 and UTF-16

// Copies UTF-8, replacing each malformed sequence by U+FFFD.
void CopyUtf8(std::string_view text, std::string& out, bool* replaced) {
  std::size_t pos = 0;
  std::size_t runStart = 0;
  while (pos < text.size()) {
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const std::size_t start = pos;
    bool invalid = false;
    NextCodePoint(text, pos, &invalid);
    if (invalid) {
      out.append(text.substr(runStart, start - runStart));
      out.append(kReplacementUtf8);
      Flag(replaced);
      runStart = pos;
    }
  }
  out.append(text.substr(runStart));
}

bool IsHighSurrogate(char32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

void DecodeUtf16(std::string_view bytes, bool bigEndian, std::string& out, bool* replaced) {
  const std::size_t units = bytes.size() / 2;
  const auto unitAt = [&](std::size_t i) -> char32_t {
    const auto first = static_cast<unsigned char>(bytes[2 * i]);
    const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
    return bigEndian ? (char32_t{first} << 8) | second : (char32_t{second} << 8) | first;
  };
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t unit = unitAt(i);
    if (unit < 0x80) {
      out += static_cast<char>(unit);
    } else if (IsHighSurrogate(unit) && i + 1 < units && IsLowSurrogate(unitAt(i + 1))) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      out.append(kReplacementUtf8);
      Flag(replaced);
    } else {
      AppendUtf8(out, unit);
    }
  }
  if (bytes.size() % 2 != 0) {  // an odd trailing byte
    out.append(kReplacementUtf8);
    Flag(replaced);
  }
}

void EncodeUtf16(std::string_view text, bool bigEndian, std::string& out, bool* replaced) {
  const auto appendUnit = [&](char32_t unit) {
    const auto low = static_cast<char>(unit & 0xFF);
    const auto high = static_cast<char>(unit >> 8);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
  };
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char32_t ch = NextCodePoint(text, pos, replaced);
    if (ch >= 0x10000) {
      appendUnit(0xD800 + ((ch - 0x10000) >> 10));
      appendUnit(0xDC00 + ((ch - 0x10000) & 0x3FF));
    } else {
      appendUnit(ch);
    }
  }
}

// ---- Double-byte pages through iconv

constexpr std::array<std::uint16_t, 4> kDoubleBytePages = {932, 936, 949, 950};
constexpr std::array<const char*, 4> kDoubleByteNames = {"CP932", "CP936", "CP949", "CP950"};

int DoubleBytePageIndex(std::uint16_t codePage) {
  const auto it = std::find(kDoubleBytePages.begin(), kDoubleBytePages.end(), codePage);
  return it == kDoubleBytePages.end() ? -1 : static_cast<int>(it - kDoubleBytePages.begin());
}

// iconv_open reports failure as (iconv_t)-1.
bool IsIconvFailure(iconv_t handle) {
  return reinterpret_cast<std::intptr_t>(handle) == -1;
}

// Each thread keeps its own converters (an iconv handle carries state and is not thread-safe),
// opened on first use and closed when the thread ends.
class TIconvCache {
 public:
  TIconvCache() = default;
  ~TIconvCache() {
    for (auto& pair : FHandles) {
      for (iconv_t handle : pair) {
        if (handle) iconv_close(handle);
      }
    }
  }
  TIconvCache(const TIconvCache&) = delete;
  TIconvCache& operator=(const TIconvCache&) = delete;

  // A converter in its initial state; toUtf8 selects page -> UTF-8, else UTF-8 -> page.
  iconv_t Get(int pageIndex, bool toUtf8) {
    const auto index = static_cast<std::size_t>(pageIndex);
    iconv_t& handle = FHandles[index][toUtf8 ? 1 : 0];
    if (handle) {
      iconv(handle, nullptr, nullptr, nullptr, nullptr);
    } else {
      const char* page = kDoubleByteNames[index];
      iconv_t opened = toUtf8 ? iconv_open("UTF-8", page) : iconv_open(page, "UTF-8");
      if (IsIconvFailure(opened)) RaiseUnsupported(kDoubleBytePages[index]);
      handle = opened;
    }
    return handle;
  }

 private:
  std::array<std::array<iconv_t, 2>, kDoubleBytePages.size()> FHandles{};  // nullptr: not open
};

thread_local TIconvCache tIconvCache;

// Runs iconv over the whole input. At a byte sequence it cannot convert, it appends substitute,
// skips skipLength(rest of the input) bytes and goes on.
template <typename TSkipLength>
void ConvertWithIconv(iconv_t handle, std::string_view in, std::string& out,
                      std::string_view substitute, bool* replaced, TSkipLength skipLength) {
  std::array<char, 512> buffer;
  char* inPtr = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t result = iconv(handle, &inPtr, &inLeft, &outPtr, &outLeft);
    const int error = errno;
    out.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
    if (result != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    // EILSEQ (not convertible) or EINVAL (incomplete at the end): replace one character.
    const std::size_t skip =
        std::min(inLeft, std::max<std::size_t>(1, skipLength({inPtr, inLeft})));
    out.append(substitute);
    Flag(replaced);
    inPtr += skip;
    inLeft -= skip;
    iconv(handle, nullptr, nullptr, nullptr, nullptr);
  }
  char* outPtr = buffer.data();
  std::size_t outLeft = buffer.size();
  iconv(handle, nullptr, nullptr, &outPtr, &outLeft);  // any pending output
  out.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
}

void DecodeDoubleByte(int pageIndex, std::string_view bytes, std::string& out, bool* replaced) {
  if (bytes.empty()) return;
  ConvertWithIconv(tIconvCache.Get(pageIndex, true), bytes, out, kReplacementUtf8, replaced,
                   [](std::string_view) { return std::size_t{1}; });
}

void EncodeDoubleByte(int pageIndex, std::string_view text, std::string& out, bool* replaced) {
  if (text.empty()) return;
  // A character the page lacks is skipped whole; malformed UTF-8 one byte at a time.
  ConvertWithIconv(tIconvCache.Get(pageIndex, false), text, out, "?", replaced,
                   [](std::string_view rest) {
                     std::size_t pos = 0;
                     NextCodePoint(rest, pos);
                     return pos;
                   });
}

}  // namespace

std::uint16_t SystemCodePage() {
  return kSystemCodePage;
}

std::uint16_t ResolveCodePage(std::uint16_t codePage) {
  return codePage == 0 ? SystemCodePage() : codePage;
}

bool CodePageSupported(std::uint16_t codePage) {
  codePage = ResolveCodePage(codePage);
  return codePage == kCodePageUtf8 || codePage == kCodePageUtf16 || codePage == kCodePageUtf16BE ||
         DoubleBytePageIndex(codePage) >= 0 || FindSingleBytePage(codePage) != nullptr;
}

bool IsSingleByteCodePage(std::uint16_t codePage) {
  return FindSingleBytePage(ResolveCodePage(codePage)) != nullptr;
}

std::string CodePageToUtf8(std::string_view bytes, std::uint16_t codePage, bool* replaced) {
  return TEncoder(codePage).Decode(bytes, replaced);
}

std::string Utf8ToCodePage(std::string_view text, std::uint16_t codePage, bool* replaced) {
  return TEncoder(codePage).Encode(text, replaced);
}

std::size_t TextWidth(std::string_view text, std::uint16_t codePage) {
  return codePage == kCodePageUtf8 ? Utf8Length(text) : Utf16Length(text);
}

// ---- TEncoder

TEncoder::TEncoder(std::uint16_t codePage)
    : FCodePage(ResolveCodePage(codePage)), FTable(FindSingleBytePage(FCodePage)) {
  if (!FTable && !CodePageSupported(FCodePage)) RaiseUnsupported(codePage);
}

std::string TEncoder::Encode(std::string_view text, bool* replaced) const {
  std::string out;
  EncodeAppend(text, out, replaced);
  return out;
}

std::string TEncoder::Decode(std::string_view bytes, bool* replaced) const {
  std::string out;
  DecodeAppend(bytes, out, replaced);
  return out;
}

void TEncoder::EncodeAppend(std::string_view text, std::string& out, bool* replaced) const {
  if (FTable) {
    out.reserve(out.size() + text.size());
    EncodeSingleByte(*static_cast<const TSingleBytePage*>(FTable), text, out, replaced);
  } else if (FCodePage == kCodePageUtf8) {
    CopyUtf8(text, out, replaced);
  } else if (FCodePage == kCodePageUtf16 || FCodePage == kCodePageUtf16BE) {
    out.reserve(out.size() + 2 * text.size());
    EncodeUtf16(text, FCodePage == kCodePageUtf16BE, out, replaced);
  } else {
    EncodeDoubleByte(DoubleBytePageIndex(FCodePage), text, out, replaced);
  }
}

void TEncoder::EncodeWithin(std::string_view text, std::size_t width, std::string& out,
                            bool* replaced) const {
  const std::size_t start = out.size();
  EncodeAppend(text, out, replaced);
  if (out.size() - start <= width) return;
  if (FTable) {  // one byte per character
    out.resize(start + width);
    return;
  }
  // Drop whole characters from the end of the text until its encoding fits.
  while (out.size() - start > width && !text.empty()) {
    std::size_t cut = text.size() - 1;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
      --cut;
    text = text.substr(0, cut);
    out.resize(start);
    EncodeAppend(text, out, replaced);
  }
}

void TEncoder::DecodeAppend(std::string_view bytes, std::string& out, bool* replaced) const {
  if (FTable) {
    out.reserve(out.size() + bytes.size());
    DecodeSingleByte(*static_cast<const TSingleBytePage*>(FTable), bytes, out);
  } else if (FCodePage == kCodePageUtf8) {
    CopyUtf8(bytes, out, replaced);
  } else if (FCodePage == kCodePageUtf16 || FCodePage == kCodePageUtf16BE) {
    DecodeUtf16(bytes, FCodePage == kCodePageUtf16BE, out, replaced);
  } else {
    DecodeDoubleByte(DoubleBytePageIndex(FCodePage), bytes, out, replaced);
  }
}

}  // namespace kvnet
