#include "store/kvnet_externid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_io.h"
#include "foundation/kvnet_unicode.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using test::TTempDir;
using test::WriteFileBytes;

template <class T>
void Put(std::string& out, T v) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &v, sizeof(T));  // the test hosts are little-endian
  out.append(bytes, sizeof(T));
}

template <class T>
void Patch(std::string& s, std::size_t at, T v) {
  std::memcpy(s.data() + at, &v, sizeof(T));
}

struct TIndexPair {
  std::string index1;
  std::string index2;
};

// index2.bin for 256 buckets of link numbers, each already in id order.
std::string Index2(const std::vector<std::vector<std::int32_t>>& buckets, bool offsets64) {
  std::string out;
  Put<std::int32_t>(out, 256);
  std::int64_t pos = 4 + 256 * (offsets64 ? 8 : 4);
  for (const auto& bucket : buckets) {
    if (offsets64) {
      Put<std::int64_t>(out, pos);
    } else {
      Put(out, static_cast<std::int32_t>(pos));
    }
    pos += 4 * static_cast<std::int64_t>(bucket.size());
  }
  for (const auto& bucket : buckets) {
    for (const std::int32_t link : bucket)
      Put(out, link);
  }
  return out;
}

// Link k (from 1) has ids[k - 1]; int32 ids unless wide.
TIndexPair IntegerIndex(const std::vector<std::int64_t>& ids, bool wide) {
  TIndexPair pair;
  Put<std::int32_t>(pair.index1, wide ? -1 : 0);
  std::vector<std::vector<std::pair<std::int64_t, std::int32_t>>> sorted(256);
  for (std::size_t k = 0; k < ids.size(); ++k) {
    if (wide) {
      Put(pair.index1, ids[k]);
    } else {
      Put(pair.index1, static_cast<std::int32_t>(ids[k]));
    }
    sorted[static_cast<std::uint64_t>(ids[k]) & 255].emplace_back(ids[k],
                                                                  static_cast<std::int32_t>(k + 1));
  }
  std::vector<std::vector<std::int32_t>> buckets(256);
  for (std::size_t b = 0; b < 256; ++b) {
    std::sort(sorted[b].begin(), sorted[b].end());
    for (const auto& item : sorted[b])
      buckets[b].push_back(item.second);
  }
  pair.index2 = Index2(buckets, false);
  return pair;
}

// Text ids of `width` UTF-16 code units, padded with spaces; bucket by the hash of the unpadded id.
TIndexPair TextIndex(const std::vector<std::u16string>& ids, int width, bool offsets64) {
  TIndexPair pair;
  Put<std::uint8_t>(pair.index1, static_cast<std::uint8_t>(width));
  Put<std::uint8_t>(pair.index1, offsets64 ? 1 : 0);
  Put<std::uint16_t>(pair.index1, 0);
  std::vector<std::vector<std::pair<std::u16string, std::int32_t>>> sorted(256);
  for (std::size_t k = 0; k < ids.size(); ++k) {
    std::u16string padded = ids[k];
    padded.resize(static_cast<std::size_t>(width), u' ');
    for (const char16_t c : padded)
      Put(pair.index1, static_cast<std::uint16_t>(c));
    std::uint32_t h = 0;
    for (const char16_t c : ids[k])
      h = (c + 17 * h) & 255;
    sorted[h].emplace_back(padded, static_cast<std::int32_t>(k + 1));
  }
  std::vector<std::vector<std::int32_t>> buckets(256);
  for (std::size_t b = 0; b < 256; ++b) {
    std::sort(sorted[b].begin(), sorted[b].end());
    for (const auto& item : sorted[b])
      buckets[b].push_back(item.second);
  }
  pair.index2 = Index2(buckets, offsets64);
  return pair;
}

void WriteIndex(const TTempDir& dir, const TIndexPair& pair) {
  WriteFileBytes(dir.File("index1.bin"), pair.index1);
  WriteFileBytes(dir.File("index2.bin"), pair.index2);
}

// A memory stream whose Seek pauses, so that seek-and-read pairs of several threads interleave
// unless they are serialised.
class TPausingStream : public TKVMemoryStream {
 public:
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const std::int64_t result = TKVMemoryStream::Seek(offset, origin);
    if (FPause.count() > 0) std::this_thread::sleep_for(FPause);
    return result;
  }
  void SetPause(std::chrono::microseconds pause) { FPause = pause; }

 private:
  std::chrono::microseconds FPause{0};
};

// Opens an index on files in a fresh folder or on memory streams that start after a few bytes.
class TIndexUnderTest {
 public:
  TIndexUnderTest(const TIndexPair& pair, bool streams, bool cache1, bool cache2) {
    if (streams) {
      for (auto* s : {&FStream1, &FStream2})
        s->WriteBuffer("pre", 3);
      FStream1.WriteBuffer(pair.index1.data(), static_cast<std::int64_t>(pair.index1.size()));
      FStream2.WriteBuffer(pair.index2.data(), static_cast<std::int64_t>(pair.index2.size()));
      FStream1.SetPosition(3);
      FStream2.SetPosition(3);
      FIndex = std::make_unique<TExternalID>(&FStream1, &FStream2);
    } else {
      WriteIndex(FDir, pair);
      FIndex = std::make_unique<TExternalID>();
      FIndex->SetDirectory(FDir.Path().string());
    }
    FIndex->Open(cache1, cache2);
  }
  void SetStreamPause(std::chrono::microseconds pause) {
    FStream1.SetPause(pause);
    FStream2.SetPause(pause);
  }
  TExternalID& operator*() { return *FIndex; }
  TExternalID* operator->() { return FIndex.get(); }

 private:
  TTempDir FDir;
  TPausingStream FStream1;
  TPausingStream FStream2;
  std::unique_ptr<TExternalID> FIndex;
};

struct TMode {
  bool streams;
  bool cache1;
  bool cache2;
};
const TMode kModes[] = {{false, false, false}, {false, true, true},  {false, false, true},
                        {false, true, false},  {true, false, false}, {true, true, true}};

std::string Describe(const TMode& m) {
  return std::string(m.streams ? "streams" : "files") + (m.cache1 ? " cache1" : "") +
         (m.cache2 ? " cache2" : "");
}

std::string Utf8(const std::u16string& s) {
  return Utf16ToUtf8(s);
}

TEST(ExternalID, IntegerIds256And512ShareBucketZero) {
  TIndexPair pair;
  for (const std::int32_t v : {0, 256, 512})
    Put(pair.index1, v);
  Put<std::int32_t>(pair.index2, 256);
  Put<std::int32_t>(pair.index2, 1028);  // bucket 0 holds both links
  for (int b = 1; b < 256; ++b)
    Put<std::int32_t>(pair.index2, 1036);
  Put<std::int32_t>(pair.index2, 1);
  Put<std::int32_t>(pair.index2, 2);

  for (const TMode& mode : kModes) {
    SCOPED_TRACE(Describe(mode));
    TIndexUnderTest index(pair, mode.streams, mode.cache1, mode.cache2);
    EXPECT_EQ(index->Stringlength(), 0);
    EXPECT_EQ(index->MaxIndex(), 2);
    std::int32_t link = -1;
    EXPECT_TRUE(index->FindIndex("512", link));
    EXPECT_EQ(link, 2);
    EXPECT_TRUE(index->FindIndex(" +256 ", link));
    EXPECT_EQ(link, 1);
    EXPECT_FALSE(index->FindIndex("768", link));
    EXPECT_EQ(link, 0);
    EXPECT_EQ(index->FindExternalid(2), "512");
  }
}

TEST(ExternalID, TextIdsOfWidthTwo) {
  TIndexPair pair;
  pair.index1 = std::string(
      "\x02\x00\x00\x00"
      "A\0"
      "1\0"
      "B\0"
      "2\0",
      12);
  Put<std::int32_t>(pair.index2, 256);
  // "A1" hashes to bucket 130, "B2" to bucket 148.
  for (int b = 0; b < 256; ++b)
    Put<std::int32_t>(pair.index2, b <= 130 ? 1028 : b <= 148 ? 1032 : 1036);
  Put<std::int32_t>(pair.index2, 1);
  Put<std::int32_t>(pair.index2, 2);

  for (const TMode& mode : kModes) {
    SCOPED_TRACE(Describe(mode));
    TIndexUnderTest index(pair, mode.streams, mode.cache1, mode.cache2);
    EXPECT_EQ(index->Stringlength(), 2);
    std::int32_t link = -1;
    EXPECT_TRUE(index->FindIndex("B2", link));
    EXPECT_EQ(link, 2);
    EXPECT_TRUE(index->FindIndex(" A1 ", link));
    EXPECT_EQ(link, 1);
    for (const char* absent : {"A", "a1", "A1X", "B3"}) {
      EXPECT_FALSE(index->FindIndex(absent, link)) << absent;
      EXPECT_EQ(link, 0);
    }
    EXPECT_EQ(index->FindExternalid(1), "A1");
    EXPECT_EQ(index->FindExternalid(2), "B2");
  }
}

TEST(ExternalID, LookupsAgreeAcrossIdKindsAndSources) {
  std::vector<std::int64_t> ints = {INT32_MIN, INT32_MAX, -1, 0, 255, 256, 511};
  for (std::int64_t k = 1; k <= 300; ++k)
    ints.push_back(k * 7919 - 1000000);
  std::vector<std::int64_t> wides = {INT64_MIN, INT64_MAX, 1LL << 40, (1LL << 40) + 256, -256};
  for (std::int64_t k = 1; k <= 300; ++k)
    wides.push_back(k * 1000003LL * 999983LL - (1LL << 45));
  std::vector<std::u16string> texts = {
      u"A1", u"ab", u"AB", u"", u"a b", u"\u00e9-12", u"\u65e5\u672c", u"\U0001D11E1", u"ZZ9999"};
  for (int k = 1; k <= 300; ++k)
    texts.push_back(u"R" + Utf8ToUtf16(std::to_string(k)));

  std::vector<std::string> intTexts;
  for (const auto v : ints)
    intTexts.push_back(std::to_string(v));
  std::vector<std::string> wideTexts;
  for (const auto v : wides)
    wideTexts.push_back(std::to_string(v));
  std::vector<std::string> textTexts;
  for (const auto& v : texts)
    textTexts.push_back(Utf8(v));

  const struct {
    const char* name;
    TIndexPair pair;
    std::int32_t stringlength;
    const std::vector<std::string>& ids;
    std::vector<std::string> absent;
  } kinds[] = {
      {"int32", IntegerIndex(ints, false), 0, intTexts, {"1", "-2", "2147483391"}},
      {"int64", IntegerIndex(wides, true), 255, wideTexts, {"5", "4294967296", "-9"}},
      {"text, 64-bit offsets",
       TextIndex(texts, 6, true),
       6,
       textTexts,
       {"A", "Ab", "R301", "ZZ99999", "\u00e9"}},
      {"text, 32-bit offsets", TextIndex(texts, 7, false), 7, textTexts, {"R0", "a  b"}},
  };
  for (const auto& kind : kinds) {
    for (const TMode& mode : kModes) {
      SCOPED_TRACE(std::string(kind.name) + ", " + Describe(mode));
      TIndexUnderTest index(kind.pair, mode.streams, mode.cache1, mode.cache2);
      EXPECT_EQ(index->Stringlength(), kind.stringlength);
      ASSERT_EQ(index->MaxIndex(), static_cast<std::int32_t>(kind.ids.size()));
      for (std::int32_t k = 1; k <= index->MaxIndex(); ++k) {
        const std::string& id = kind.ids[static_cast<std::size_t>(k - 1)];
        std::int32_t link = -1;
        EXPECT_TRUE(index->FindIndex(id, link)) << id;
        EXPECT_EQ(link, k) << id;
        EXPECT_EQ(index->FindExternalid(k), id);
      }
      for (const std::string& id : kind.absent) {
        std::int32_t link = -1;
        EXPECT_FALSE(index->FindIndex(id, link)) << id;
        EXPECT_EQ(link, 0);
      }
    }
  }
}

TEST(ExternalID, ConcurrentUncachedLookupsGiveTheRightLinks) {
  constexpr std::int32_t kLinks = 600;
  std::vector<std::int64_t> ids;
  for (std::int64_t k = 1; k <= kLinks; ++k)
    ids.push_back(k * 31 - 7000);
  const TIndexPair pair = IntegerIndex(ids, false);
  for (const bool streams : {false, true}) {
    SCOPED_TRACE(streams ? "streams" : "files");
    TIndexUnderTest index(pair, streams, false, false);
    index.SetStreamPause(std::chrono::microseconds(5));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (std::int32_t k = 1 + t; k <= kLinks; k += 2) {
          std::int32_t link = 0;
          const std::string id = std::to_string(ids[static_cast<std::size_t>(k - 1)]);
          try {
            if (!index->FindIndex(id, link) || link != k || index->FindExternalid(k) != id) {
              ++wrong;
            }
          } catch (const Exception&) {
            ++wrong;
          }
        }
      });
    }
    for (auto& thread : threads)
      thread.join();
    EXPECT_EQ(wrong.load(), 0);
  }
}

TEST(ExternalID, ArgumentErrors) {
  // Streams read into memory by the first Open must serve a second Open just as well.
  TIndexUnderTest index(IntegerIndex({10, 20}, false), true, true, true);
  const auto message = [](const std::function<void()>& call) {
    try {
      call();
    } catch (const Exception& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  for (const std::int32_t k : {0, -1, 3}) {
    EXPECT_THROW(index->FindExternalid(k), EOutOfRange);
    EXPECT_EQ(message([&] { index->FindExternalid(k); }),
              "Index should be from 1 to 2 (is " + std::to_string(k) + ")");
  }
  std::int32_t link = 0;
  for (const char* text : {"abc", "12x", "", "1.5", "2147483648"}) {
    EXPECT_EQ(message([&] { index->FindIndex(text, link); }),
              std::string("'") + text + "' is not a valid integer value");
  }
  index->Close();
  EXPECT_FALSE(index->IsOpen());
  EXPECT_EQ(message([&] { index->FindIndex("10", link); }), "External ID is not open");
  EXPECT_EQ(message([&] { index->FindExternalid(1); }), "External ID is not open");
  index->Open(false, true);
  EXPECT_TRUE(index->FindIndex("20", link));
  EXPECT_EQ(link, 2);

  EXPECT_THROW(TExternalID(nullptr, nullptr), EInvalidParameter);
}

TEST(ExternalID, MissingFilesRaiseWithTheFullPath) {
  TTempDir dir;
  TExternalID index;
  index.SetDirectory(dir.Path().string());
  const std::string folder = index.Directory();
  for (const char* missing : {"index1.bin", "index2.bin"}) {
    try {
      index.Open(false, false);
      ADD_FAILURE() << "opened without " << missing;
    } catch (const EFileMissing& e) {
      EXPECT_EQ(std::string(e.what()), "File is missing: " + folder + missing);
    }
    WriteFileBytes(folder + missing, IntegerIndex({1}, false).index1);
  }
  EXPECT_FALSE(index.IsOpen());
}

TEST(ExternalID, CorruptFilesRaiseAtOpen) {
  // Base: int32 ids 1..10, link k in bucket k; offsets at byte 4 + 4b, buckets from byte 1028.
  std::vector<std::int64_t> tens;
  for (std::int64_t k = 1; k <= 10; ++k)
    tens.push_back(k);
  const TIndexPair ints = IntegerIndex(tens, false);
  // Text ids of width 2 with 64-bit offsets at byte 4 + 8b.
  const TIndexPair texts = TextIndex({u"A1", u"B2"}, 2, true);

  using TChange = std::function<void(TIndexPair&)>;
  const auto offset = [](int bucket, std::int32_t value) -> TChange {
    return [=](TIndexPair& p) { Patch(p.index2, 4 + 4 * static_cast<std::size_t>(bucket), value); };
  };
  const auto header = [](std::string bytes) -> TChange {
    return [=](TIndexPair& p) { p.index1.replace(0, 4, bytes); };
  };
  const struct {
    const char* name;
    const TIndexPair& base;
    TChange change;
    const char* file;
    std::string message;
  } cases[] = {
      {"index1 empty", ints, [](TIndexPair& p) { p.index1.clear(); }, "index1.bin",
       "the header is cut short"},
      {"index1 header cut", ints, [](TIndexPair& p) { p.index1.resize(2); }, "index1.bin",
       "the header is cut short"},
      {"width 255", ints, header(std::string("\xFF\0\0\0", 4)), "index1.bin",
       "the header FF names no kind of id"},
      {"offset flag 2", ints, header(std::string("\x02\x02\0\0", 4)), "index1.bin",
       "the header 202 names no kind of id"},
      {"high header byte", ints, header(std::string("\0\0\0\x01", 4)), "index1.bin",
       "the header 1000000 names no kind of id"},
      {"partial id", ints, [](TIndexPair& p) { p.index1 += std::string("\1\0", 2); }, "index1.bin",
       "its size does not hold whole ids of 4 bytes"},
      {"index2 header cut", ints, [](TIndexPair& p) { p.index2.resize(3); }, "index2.bin",
       "the bucket count is cut short"},
      {"255 buckets", ints, [](TIndexPair& p) { Patch<std::int32_t>(p.index2, 0, 255); },
       "index2.bin", "it has 255 buckets, expected 256"},
      {"0 buckets", ints, [](TIndexPair& p) { Patch<std::int32_t>(p.index2, 0, 0); }, "index2.bin",
       "it has 0 buckets, expected 256"},
      {"-256 buckets", ints, [](TIndexPair& p) { Patch<std::int32_t>(p.index2, 0, -256); },
       "index2.bin", "it has -256 buckets, expected 256"},
      {"512 buckets", ints, [](TIndexPair& p) { Patch<std::int32_t>(p.index2, 0, 512); },
       "index2.bin", "it has 512 buckets, expected 256"},
      {"offset table cut", ints, [](TIndexPair& p) { p.index2.resize(600); }, "index2.bin",
       "the offset table is cut short"},
      {"64-bit offset table cut", texts, [](TIndexPair& p) { p.index2.resize(1500); }, "index2.bin",
       "the offset table is cut short"},
      {"first bucket late", ints, offset(0, 1032), "index2.bin",
       "bucket 0 starts at 1032, not after the offset table (1028)"},
      {"falling offsets", ints, offset(3, 1028), "index2.bin",
       "bucket 3 starts at 1028, before bucket 2 (1032)"},
      {"negative offset", ints, offset(1, -4), "index2.bin",
       "bucket 1 starts at -4, before bucket 0 (1028)"},
      {"offset beyond the file", ints, offset(255, 1072), "index2.bin",
       "bucket 255 starts at 1072, beyond the end of the file (1068)"},
      {"64-bit offset beyond the file", texts,
       [](TIndexPair& p) { Patch<std::int64_t>(p.index2, 4 + 8 * 255, 1LL << 40); }, "index2.bin",
       "bucket 255 starts at 1099511627776, beyond the end of the file (2060)"},
      {"offset inside a link number", ints, offset(5, 1042), "index2.bin",
       "bucket 5 starts inside a link number"},
      {"partial link number", ints, [](TIndexPair& p) { p.index2 += std::string(2, '\0'); },
       "index2.bin", "the last bucket does not end on a whole link number"},
      {"one id more", ints, [](TIndexPair& p) { Put<std::int32_t>(p.index1, 11); }, "index2.bin",
       "it holds 10 link numbers but "},
      {"one link number more", ints, [](TIndexPair& p) { Put<std::int32_t>(p.index2, 1); },
       "index2.bin", "it holds 11 link numbers but "},
  };
  for (const auto& c : cases) {
    for (const bool cache : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (cache ? ", cached" : ""));
      TIndexPair pair = c.base;
      c.change(pair);
      TTempDir dir;
      WriteIndex(dir, pair);
      TExternalID index;
      index.SetDirectory(dir.Path().string());
      try {
        index.Open(cache, cache);
        ADD_FAILURE() << "corrupt index was opened";
      } catch (const Exception& e) {
        const std::string prefix =
            "External id index " + index.Directory() + c.file + " is corrupt: " + c.message;
        EXPECT_EQ(std::string(e.what()).substr(0, prefix.size()), prefix);
      }
      EXPECT_FALSE(index.IsOpen());
    }
  }
}

TEST(ExternalID, LinkNumbersOutsideTheIndexRaiseWhenRead) {
  std::vector<std::int64_t> tens;
  for (std::int64_t k = 1; k <= 10; ++k)
    tens.push_back(k);
  for (const std::int32_t bad : {0, -3, 11}) {
    SCOPED_TRACE(bad);
    TIndexPair pair = IntegerIndex(tens, false);
    Patch(pair.index2, 1028 + 4 * 4, bad);  // the only link number of bucket 5
    TIndexUnderTest index(pair, false, false, true);
    std::int32_t link = 0;
    try {
      index->FindIndex("5", link);
      ADD_FAILURE() << "link number " << bad << " was used";
    } catch (const Exception& e) {
      EXPECT_NE(std::string(e.what()).find("index2.bin is corrupt: bucket 5 holds link number " +
                                           std::to_string(bad) + ", outside 1..10"),
                std::string::npos)
          << e.what();
    }
    EXPECT_TRUE(index->FindIndex("6", link));
    EXPECT_EQ(link, 6);
  }
}

TEST(ExternalID, CheckAgainstComparesTheLinkCount) {
  TIndexUnderTest index(IntegerIndex({7, 8, 9}, true), true, false, false);
  index->CheckAgainst(3);
  try {
    index->CheckAgainst(4);
    ADD_FAILURE() << "a link count of 4 was accepted";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(),
                 "External id index index1.bin (stream) is corrupt: it holds ids of 3 links, the "
                 "network has 4");
  }
}

}  // namespace
}  // namespace kvnet
