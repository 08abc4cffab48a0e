#include "foundation/kvnet_codepage.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_unicode.h"

namespace kvnet {
namespace {

std::string Utf8Of(char32_t ch) {
  std::string out;
  AppendUtf8(out, ch);
  return out;
}

std::string AllBytes() {
  std::string bytes;
  for (int byte = 0; byte < 256; ++byte)
    bytes += static_cast<char>(byte);
  return bytes;
}

// The single-byte pages and the name of the same page in glibc's iconv (nullptr: glibc lacks it).
struct TSingleBytePageCase {
  std::uint16_t codePage;
  const char* iconvName;
};

constexpr TSingleBytePageCase kSingleBytePages[] = {
    {437, "CP437"},
    {737, "CP737"},
    {850, "IBM850"},
    {852, "IBM852"},
    {855, "IBM855"},
    {857, "IBM857"},
    {860, "IBM860"},
    {861, "IBM861"},
    {862, "IBM862"},
    {863, "IBM863"},
    {864, "IBM864"},
    {865, "IBM865"},
    {866, "IBM866"},
    {869, "IBM869"},
    {874, "CP874"},
    {1250, "CP1250"},
    {1251, "CP1251"},
    {1252, "CP1252"},
    {1253, "CP1253"},
    {1254, "CP1254"},
    {1255, "CP1255"},
    {1256, "CP1256"},
    {1257, "CP1257"},
    {1258, "CP1258"},
    {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},
    {28593, "ISO-8859-3"},
    {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},
    {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"},
    {10000, "MACINTOSH"},
    {10006, nullptr},
    {10007, "MS-MAC-CYRILLIC"},
    {10029, "MAC-CENTRALEUROPE"},
};

// Bytes where the Windows page, and so our table, knowingly differs from glibc's table.
struct TIconvException {
  std::uint16_t codePage;
  unsigned char byte;
  char32_t windows;
};

constexpr TIconvException kIconvExceptions[] = {
    // glibc's IBM864 has U+066A ARABIC PERCENT SIGN; the Windows page keeps the ASCII '%'.
    {864, 0x25, U'%'},
    // glibc's MACINTOSH reads 0xC6 as U+0394 GREEK CAPITAL LETTER DELTA and the logo at 0xF0 as
    // a private-use character of its own (U+E01E). The page keeps the Mac's own mapping of these
    // two bytes, U+2206 INCREMENT and U+F8FF, as Python's mac_roman has it.
    {10000, 0xC6, U'\u2206'},
    {10000, 0xF0, U'\uF8FF'},
};

// Decodes one byte at a time with glibc, flushing after each, so that converters that combine a
// base letter with a following mark (CP1255, CP1258) give the single character.
class TIconvByteDecoder {
 public:
  explicit TIconvByteDecoder(const char* name) : FHandle(iconv_open("UTF-8", name)) {}
  ~TIconvByteDecoder() {
    if (IsOpen()) iconv_close(FHandle);
  }
  TIconvByteDecoder(const TIconvByteDecoder&) = delete;
  TIconvByteDecoder& operator=(const TIconvByteDecoder&) = delete;

  bool IsOpen() const { return reinterpret_cast<std::intptr_t>(FHandle) != -1; }

  // The UTF-8 text of the byte, or nothing when glibc does not define it.
  std::optional<std::string> Decode(unsigned char byte) {
    iconv(FHandle, nullptr, nullptr, nullptr, nullptr);
    char in = static_cast<char>(byte);
    char* inPtr = &in;
    std::size_t inLeft = 1;
    char out[32];
    char* outPtr = out;
    std::size_t outLeft = sizeof(out);
    if (iconv(FHandle, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
      return std::nullopt;
    }
    if (iconv(FHandle, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
      return std::nullopt;
    }
    return std::string(out, static_cast<std::size_t>(outPtr - out));
  }

 private:
  iconv_t FHandle;
};

TEST(CodePageSingleByte, EveryByteDecodesAndRoundTrips) {
  const std::string bytes = AllBytes();
  for (const auto& page : kSingleBytePages) {
    SCOPED_TRACE(page.codePage);
    EXPECT_TRUE(IsSingleByteCodePage(page.codePage));
    bool decodeReplaced = false;
    const std::string text = CodePageToUtf8(bytes, page.codePage, &decodeReplaced);
    EXPECT_FALSE(decodeReplaced);
    EXPECT_TRUE(IsValidUtf8(text));
    EXPECT_EQ(Utf16Length(text), 256u);
    EXPECT_EQ(text.substr(0, 128), bytes.substr(0, 128));  // ASCII in every page
    bool encodeReplaced = false;
    EXPECT_EQ(Utf8ToCodePage(text, page.codePage, &encodeReplaced), bytes);
    EXPECT_FALSE(encodeReplaced);
  }
}

TEST(CodePageSingleByte, AgreesWithIconv) {
  for (const auto& page : kSingleBytePages) {
    if (!page.iconvName) continue;
    SCOPED_TRACE(page.iconvName);
    TIconvByteDecoder reference(page.iconvName);
    ASSERT_TRUE(reference.IsOpen());
    const TEncoder encoder(page.codePage);
    int compared = 0;
    for (int byte = 0; byte < 256; ++byte) {
      SCOPED_TRACE(byte);
      const std::optional<std::string> expected =
          reference.Decode(static_cast<unsigned char>(byte));
      if (!expected) continue;
      const std::string ours = encoder.Decode(std::string(1, static_cast<char>(byte)));
      const auto exception = std::find_if(
          std::begin(kIconvExceptions), std::end(kIconvExceptions),
          [&](const TIconvException& e) { return e.codePage == page.codePage && e.byte == byte; });
      if (exception != std::end(kIconvExceptions)) {
        EXPECT_EQ(ours, Utf8Of(exception->windows));
        EXPECT_NE(ours, *expected) << "no longer differs from glibc: drop the exception";
      } else {
        EXPECT_EQ(ours, *expected);
      }
      ++compared;
    }
    EXPECT_GE(compared, 128);
  }
}

TEST(CodePageSingleByte, KnownCharacters) {
  struct TCase {
    std::uint16_t codePage;
    unsigned char byte;
    char32_t ch;
  };
  const TCase cases[] = {
      {1252, 0x80, U'\u20AC'},
      {1252, 0xE4, U'\u00E4'},
      {0, 0x80, U'\u20AC'},
      {28595, 0xA4, U'\u0404'},
      {437, 0x8E, U'\u00C4'},
      {866, 0x80, U'\u0410'},
      {1251, 0xC0, U'\u0410'},
      {850, 0xD5, U'\u0131'},
      {28592, 0xA3, U'\u0141'},
      {10000, 0x80, U'\u00C4'},
      {10029, 0x80, U'\u00C4'},
      {10006, 0xA1, U'\u0393'},
      // Pages where Windows differs from the common reference tables.
      {864, 0x25, U'%'},
      {1255, 0xCA, U'\u05BA'},
      {10007, 0xA2, U'\u00A2'},
      {10007, 0xFF, U'\u00A4'},
      // Undefined bytes: a free C1 control, else a private-use character.
      {1252, 0x81, U'\u0081'},
      {874, 0x9F, U'\u009F'},
      {1253, 0xAA, U'\uF7AA'},
      {28596, 0xA1, U'\uF7A1'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.codePage << " byte " << int{c.byte});
    const std::string byte(1, static_cast<char>(c.byte));
    EXPECT_EQ(CodePageToUtf8(byte, c.codePage), Utf8Of(c.ch));
    EXPECT_EQ(Utf8ToCodePage(Utf8Of(c.ch), c.codePage), byte);
  }
}

TEST(CodePageConversion, ReplacesWhatThePageCannotHold) {
  struct TCase {
    std::uint16_t codePage;
    const char* text;
    std::string bytes;
    bool replaced;
  };
  const TCase cases[] = {
      {1252, "Grüß Gott, 5 €", "Gr\xFC\xDF Gott, 5 \x80", false},
      {1252, "αβγ", "???", true},
      {437, "Äpfel", "\x8Epfel", false},
      {437, "5 €", "5 ?", true},
      {1251, "Привет", "\xCF\xF0\xE8\xE2\xE5\xF2", false},
      {28591, "Ā", "?", true},
      // One '?' for a character beyond the BMP, even where its low 16 bits (E4) are in the page.
      {1252, "a\U000200E4b", "a?b", true},
      {864, "\u066A", "?", true},
      {932, "한글", "??", true},
      {936, "a😀b", "a?b", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.codePage << " " << c.text);
    bool replaced = false;
    EXPECT_EQ(Utf8ToCodePage(c.text, c.codePage, &replaced), c.bytes);
    EXPECT_EQ(replaced, c.replaced);
  }
}

TEST(CodePageDoubleByte, SampleTextsRoundTrip) {
  struct TCase {
    std::uint16_t codePage;
    std::string text;
    std::string bytes;
  };
  const TCase cases[] = {
      {932, "日本語のテキスト、ｶﾀｶﾅ",
       "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x65\x83\x4C\x83\x58\x83\x67\x81\x41\xB6\xC0\xB6\xC5"},
      {936, "简体中文测试", "\xBC\xF2\xCC\xE5\xD6\xD0\xCE\xC4\xB2\xE2\xCA\xD4"},
      {950, "繁體中文測試", "\xC1\x63\xC5\xE9\xA4\xA4\xA4\xE5\xB4\xFA\xB8\xD5"},
      {949, "한국어 텍스트", "\xC7\xD1\xB1\xB9\xBE\xEE\x20\xC5\xD8\xBD\xBA\xC6\xAE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codePage);
    EXPECT_FALSE(IsSingleByteCodePage(c.codePage));
    bool replaced = false;
    EXPECT_EQ(Utf8ToCodePage(c.text, c.codePage, &replaced), c.bytes);
    EXPECT_EQ(CodePageToUtf8(c.bytes, c.codePage, &replaced), c.text);
    EXPECT_FALSE(replaced);

    // Longer than the converter's output buffer, with a bad byte in the middle.
    std::string longText;
    std::string longBytes;
    for (int i = 0; i < 200; ++i) {
      longText += c.text;
      longBytes += c.bytes;
    }
    EXPECT_EQ(CodePageToUtf8(longBytes + "\xFF" + longBytes, c.codePage, &replaced),
              longText + "\uFFFD" + longText);
    EXPECT_TRUE(replaced);
  }
}

TEST(CodePageDoubleByte, InvalidBytesAreReplaced) {
  struct TCase {
    std::uint16_t codePage;
    std::string bytes;
    std::string text;
  };
  const TCase cases[] = {
      // Bytes that start no character.
      {932, "\xFFz", "\uFFFDz"},
      {936, "A\xFF", "A\uFFFD"},
      {949, "\xFF\xFF", "\uFFFD\uFFFD"},
      {950, "\xFFz", "\uFFFDz"},
      // A lead byte cut off at the end, and one followed by a byte that cannot trail it.
      {932, "A\x82", "A\uFFFD"},
      {936, "\x81 z", "\uFFFD z"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codePage);
    bool replaced = false;
    EXPECT_EQ(CodePageToUtf8(c.bytes, c.codePage, &replaced), c.text);
    EXPECT_TRUE(replaced);
  }
}

TEST(CodePageConversion, MalformedUtf8IsReplaced) {
  // A stray continuation byte, a cut-off sequence, an encoded surrogate, an overlong '/'.
  const std::string bad = "p\x80q\xC3r\xED\xA0\x80s\xC0\xAF";
  const std::string fffd = "\uFFFD";
  struct TCase {
    std::uint16_t codePage;
    std::string expected;
  };
  const TCase cases[] = {
      {1252, "p?q?r???s??"},
      {932, "p?q?r???s??"},
      {kCodePageUtf8, "p" + fffd + "q" + fffd + "r" + fffd + fffd + fffd + "s" + fffd + fffd},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codePage);
    bool replaced = false;
    EXPECT_EQ(Utf8ToCodePage(bad, c.codePage, &replaced), c.expected);
    EXPECT_TRUE(replaced);
  }
  bool replaced = false;
  EXPECT_EQ(CodePageToUtf8(bad, kCodePageUtf8, &replaced), cases[2].expected);
  EXPECT_TRUE(replaced);
  // Truncated at the very end, and valid text passes unchanged.
  EXPECT_EQ(Utf8ToCodePage("x\xE2\x82", 932), "x??");
  replaced = false;
  EXPECT_EQ(CodePageToUtf8("Grüße 😀", kCodePageUtf8, &replaced), "Grüße 😀");
  EXPECT_FALSE(replaced);
}

TEST(CodePageUtf16, EncodesAndDecodesBothByteOrders) {
  const std::string text = "Aé€😀";
  const std::string le("A\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE", 10);
  const std::string be("\0A\0\xE9\x20\xAC\xD8\x3D\xDE\x00", 10);
  bool replaced = false;
  EXPECT_EQ(Utf8ToCodePage(text, kCodePageUtf16, &replaced), le);
  EXPECT_EQ(Utf8ToCodePage(text, kCodePageUtf16BE, &replaced), be);
  EXPECT_EQ(CodePageToUtf8(le, kCodePageUtf16, &replaced), text);
  EXPECT_EQ(CodePageToUtf8(be, kCodePageUtf16BE, &replaced), text);
  EXPECT_FALSE(replaced);
  // No byte order mark is added or removed.
  EXPECT_EQ(CodePageToUtf8(std::string("\xFF\xFEz\0", 4), kCodePageUtf16), "\uFEFFz");
}

TEST(CodePageUtf16, BadInputIsReplaced) {
  struct TCase {
    std::string bytes;
    std::string text;
  };
  const TCase cases[] = {
      {std::string("A\0B", 3), "A\uFFFD"},                   // odd trailing byte
      {std::string("\x00\xD8z\0", 4), "\uFFFDz"},            // high surrogate, no low
      {std::string("\x00\xDC\x00\xD8", 4), "\uFFFD\uFFFD"},  // low before high
      {std::string("A\0\x3D\xD8", 4), "A\uFFFD"},            // high surrogate at the end
  };
  for (const auto& c : cases) {
    bool replaced = false;
    EXPECT_EQ(CodePageToUtf8(c.bytes, kCodePageUtf16, &replaced), c.text);
    EXPECT_TRUE(replaced);
  }
  bool replaced = false;
  EXPECT_EQ(Utf8ToCodePage("\xFF", kCodePageUtf16BE, &replaced), "\xFF\xFD");
  EXPECT_TRUE(replaced);
}

TEST(CodePageEncoder, AppendsToExistingContent) {
  struct TCase {
    std::uint16_t codePage;
    std::string text;
  };
  const TCase cases[] = {{1252, "é"}, {932, "日本"}, {kCodePageUtf8, "é😀"}, {kCodePageUtf16, "é😀"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codePage);
    const TEncoder encoder(c.codePage);
    bool replaced = false;
    const std::string encoded = encoder.Encode(c.text, &replaced);
    std::string bytes = "head";
    encoder.EncodeAppend(c.text, bytes, &replaced);
    EXPECT_EQ(bytes, "head" + encoded);
    std::string text = "head";
    encoder.DecodeAppend(encoded, text, &replaced);
    EXPECT_EQ(text, "head" + c.text);
    EXPECT_FALSE(replaced);
  }
}

TEST(CodePageSupport, KnownAndUnknownPages) {
  EXPECT_EQ(SystemCodePage(), 1252);
  EXPECT_EQ(ResolveCodePage(0), 1252);
  EXPECT_EQ(ResolveCodePage(437), 437);
  EXPECT_EQ(TEncoder(0).CodePage(), 1252);
  EXPECT_TRUE(IsSingleByteCodePage(0));

  for (const std::uint16_t codePage : {0, 932, 936, 949, 950, 65001, 1200, 1201}) {
    EXPECT_TRUE(CodePageSupported(codePage)) << codePage;
    EXPECT_NO_THROW(TEncoder{codePage});
  }
  for (const std::uint16_t codePage : {932, 65001, 1200, 1201}) {
    EXPECT_FALSE(IsSingleByteCodePage(codePage)) << codePage;
  }
  for (const std::uint16_t codePage : {1, 620, 867, 868, 895, 1249, 12345, 28600, 65000}) {
    SCOPED_TRACE(codePage);
    EXPECT_FALSE(CodePageSupported(codePage));
    EXPECT_FALSE(IsSingleByteCodePage(codePage));
    try {
      TEncoder encoder(codePage);
      ADD_FAILURE() << "no exception";
    } catch (const EEncodingError& e) {
      EXPECT_EQ(std::string(e.what()),
                "Code page " + std::to_string(codePage) + " is not supported");
    }
    EXPECT_THROW(CodePageToUtf8("x", codePage), EEncodingError);
    EXPECT_THROW(Utf8ToCodePage("x", codePage), EEncodingError);
  }
}

TEST(CodePageSupport, TextWidth) {
  const std::string text = "Ä€😀";
  EXPECT_EQ(TextWidth(text, kCodePageUtf8), 9u);
  EXPECT_EQ(TextWidth(text, 1252), 4u);
  EXPECT_EQ(TextWidth(text, 932), 4u);
}

TEST(CodePageConversion, ConcurrentThreadsGetTheSameResults) {
  const std::string japanese = "日本語のテキスト";
  const std::string greek = "Καλημέρα";
  const std::string expectedJapanese = Utf8ToCodePage(japanese, 932);
  const std::string expectedGreek = Utf8ToCodePage(greek, 1253);
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < failures.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        // Run alone, this races the threads to build the reverse tables of 10029 and 869.
        if (Utf8ToCodePage(japanese, 932) != expectedJapanese ||
            CodePageToUtf8(expectedJapanese, 932) != japanese ||
            Utf8ToCodePage(greek, 1253) != expectedGreek ||
            CodePageToUtf8(Utf8ToCodePage("Łódź", 10029), 10029) != "Łódź" ||
            CodePageToUtf8(Utf8ToCodePage("Ωμέγα", 869), 869) != "Ωμέγα") {
          ++failures[t];
        }
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  for (const int count : failures)
    EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace kvnet
