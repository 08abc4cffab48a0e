#include "foundation/kvnet_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "foundation/kvnet_exceptions.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;

std::string Bytes(TKVMemoryStream& m) {
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i)
    v[i] = static_cast<std::uint8_t>((i * 131 + seed) >> 3);
  return v;
}

TEST(MemoryStream, TypedValuesAreLittleEndian) {
  TKVMemoryStream m;
  m.WriteByte(0x01);
  m.WriteUInt16(0x0302);
  m.WriteInt32(-2);
  m.WriteInt64(0x0102030405060708LL);
  m.WriteDouble(1.5);
  m.WriteSingle(-2.0f);
  m.WriteInt16(-3);
  m.WriteUInt32(0xA1B2C3D4U);
  EXPECT_EQ(Bytes(m), std::string("\x01\x02\x03\xFE\xFF\xFF\xFF\x08\x07\x06\x05\x04\x03\x02\x01"
                                  "\x00\x00\x00\x00\x00\x00\xF8\x3F\x00\x00\x00\xC0\xFD\xFF"
                                  "\xD4\xC3\xB2\xA1",
                                  33));
  m.SetPosition(0);
  EXPECT_EQ(m.ReadByte(), 0x01);
  EXPECT_EQ(m.ReadUInt16(), 0x0302);
  EXPECT_EQ(m.ReadInt32(), -2);
  EXPECT_EQ(m.ReadInt64(), 0x0102030405060708LL);
  EXPECT_EQ(m.ReadDouble(), 1.5);
  EXPECT_EQ(m.ReadSingle(), -2.0f);
  EXPECT_EQ(m.ReadInt16(), -3);
  EXPECT_EQ(m.ReadUInt32(), 0xA1B2C3D4U);
  // A value cut short by the end of the stream keeps the bytes that arrived, then zeros.
  m.SetPosition(m.Size() - 2);
  EXPECT_EQ(m.ReadUInt32(), 0xA1B2U);
  EXPECT_EQ(m.ReadInt64(), 0);
}

TEST(MemoryStream, CapacityGrowsInSteps8KiB) {
  TKVMemoryStream m;
  EXPECT_EQ(m.Capacity(), 0);
  m.WriteByte(7);
  EXPECT_EQ(m.Capacity(), 8192);
  std::vector<std::uint8_t> block(8192, 1);
  m.WriteBuffer(block.data(), 8192);
  EXPECT_EQ(m.Capacity(), 16384);
  m.SetSize(100);
  EXPECT_EQ(m.Capacity(), 8192);
  EXPECT_EQ(m.Position(), 100);  // moved back from beyond the new end
  m.SetSize(100);                // a capacity equal to the current size is taken exactly
  EXPECT_EQ(m.Capacity(), 100);
  m.Clear();
  EXPECT_EQ(m.Capacity(), 0);
  EXPECT_EQ(m.Size(), 0);
}

TEST(MemoryStream, WritePastTheEndFillsTheGapWithZeros) {
  TKVMemoryStream m;
  std::vector<std::uint8_t> ones(64, 0xFF);
  m.WriteBuffer(ones.data(), 64);
  m.SetSize(4);  // the old bytes stay in the allocation but must not come back
  m.Seek(10, soBeginning);
  m.WriteByte(0xAB);
  EXPECT_EQ(Bytes(m), std::string("\xFF\xFF\xFF\xFF\0\0\0\0\0\0\xAB", 11));
  m.SetSize(16);  // growing with SetSize gives zeros too
  EXPECT_EQ(Bytes(m).substr(11), std::string(5, '\0'));
}

TEST(MemoryStream, ReadsAndSeeksFollowTheStreamRules) {
  TKVMemoryStream m;
  m.WriteBuffer("abcdef", 6);
  char buffer[8] = {};
  EXPECT_EQ(m.Seek(-2, soEnd), 4);
  EXPECT_EQ(m.Read(buffer, 8), 2);
  EXPECT_EQ(std::string(buffer, 2), "ef");
  EXPECT_EQ(m.Seek(100, soCurrent), 106);  // positions are not clamped
  EXPECT_EQ(m.Read(buffer, 8), 0);
  EXPECT_EQ(m.Seek(-200, soBeginning), -200);
  EXPECT_EQ(m.Read(buffer, 1), 0);
  EXPECT_EQ(m.Write("x", 1), 0);
  EXPECT_EQ(m.Read(buffer, -1), 0);
  EXPECT_THROW(m.SetSize(std::int64_t{1} << 31), EStreamError);
  EXPECT_THROW(m.SetSize(-1), EStreamError);
  EXPECT_EQ(m.Size(), 6);
}

TEST(MemoryStream, FullReadAndStringRead) {
  TKVMemoryStream m;
  m.WriteBuffer("A\xE4\0z", 4);
  m.SetPosition(0);
  EXPECT_EQ(m.ReadString(4), std::string("A\xC3\xA4\0z", 5));  // 1252 to UTF-8, zero kept
  m.SetPosition(2);
  char buffer[4];
  EXPECT_THROW(m.ReadBuffer(buffer, 3), EReadError);
  m.SetPosition(2);
  EXPECT_THROW(m.ReadString(3), EReadError);
  try {
    m.SetPosition(4);
    m.ReadBuffer(buffer, 1);
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
}

TEST(MemoryStream, SavesAndLoadsFiles) {
  TTempDir dir;
  TKVMemoryStream m;
  const auto data = Pattern(20000, 3);
  m.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  m.SaveToFile(dir.File("m.bin"));
  TKVMemoryStream loaded;
  loaded.LoadFromFile(dir.File("m.bin"));
  EXPECT_EQ(Bytes(loaded), Bytes(m));
  EXPECT_EQ(loaded.Position(), 0);
}

TEST(FileStream, OpenAndCreateFailuresNameTheFileAndTheReason) {
  TTempDir dir;
  const std::string missing = dir.File("missing.bin");
  try {
    TKVFileStream f(missing, fmOpenRead | fmShareDenyWrite);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + missing + "\". No such file or directory");
  }
  const std::string inMissingFolder = dir.File("no/such/folder.bin");
  try {
    TKVFileStream f(inMissingFolder, fmCreate);
    FAIL() << "created a file in a missing folder";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file \"" + inMissingFolder + "\". No such file or directory");
  }
  EXPECT_THROW(TKVFileStream(dir.Path().string(), fmOpenRead), EFOpenError);
}

TEST(FileStream, CreateTruncatesAndSetSizeCutsOrExtends) {
  TTempDir dir;
  const std::string name = dir.File("f.bin");
  WriteFileBytes(name, "old contents");
  {
    TKVFileStream f(name, fmCreate);
    EXPECT_EQ(f.Size(), 0);
    f.WriteBuffer("0123456789", 10);
    f.SetSize(4);
    EXPECT_EQ(f.Position(), 4);
    f.SetSize(6);
  }
  EXPECT_EQ(ReadFileBytes(name), std::string("0123\0\0", 6));
  TKVFileStream readOnly(name, fmOpenRead);
  EXPECT_EQ(readOnly.Write("x", 1), 0);
  EXPECT_THROW(readOnly.WriteBuffer("x", 1), EWriteError);
}

TEST(BufferedStream, WrittenBytesAreReadableBeforeAnyFlush) {
  TKVMemoryStream inner;
  TKVBufferedStream b(inner);
  b.WriteBuffer("hello world", 11);
  EXPECT_EQ(inner.Size(), 0);  // nothing flushed yet
  EXPECT_EQ(b.Size(), 11);
  EXPECT_EQ(b.Seek(-5, soEnd), 6);
  char buffer[5];
  b.ReadBuffer(buffer, 5);
  EXPECT_EQ(std::string(buffer, 5), "world");
  b.Flush();
  EXPECT_EQ(Bytes(inner), "hello world");
  EXPECT_EQ(b.Seek(-1, soBeginning), -1);
  EXPECT_EQ(b.Position(), 11);
}

TEST(BufferedStream, WritesAcrossBufferBoundariesReachTheFile) {
  TTempDir dir;
  const std::string name = dir.File("big.bin");
  const auto data = Pattern(3 * TKVBufferedStream::kBufferSize + 12345, 7);
  {
    TKVBufferedStream b(std::make_unique<TKVFileStream>(name, fmCreate));
    // Odd-sized pieces so that writes straddle every 1 MiB boundary.
    std::size_t done = 0;
    while (done < data.size()) {
      const std::size_t n = std::min<std::size_t>(99991, data.size() - done);
      b.WriteBuffer(data.data() + done, static_cast<std::int64_t>(n));
      done += n;
    }
    EXPECT_EQ(b.Size(), static_cast<std::int64_t>(data.size()));
    // Overwrite a stretch that spans the first boundary, then read it back through the buffer.
    b.Seek(TKVBufferedStream::kBufferSize - 3, soBeginning);
    b.WriteBuffer("ABCDEF", 6);
    b.Seek(TKVBufferedStream::kBufferSize - 4, soBeginning);
    char buffer[8];
    b.ReadBuffer(buffer, 8);
    EXPECT_EQ(std::string(buffer + 1, 6), "ABCDEF");
  }
  std::string expected(data.begin(), data.end());
  expected.replace(TKVBufferedStream::kBufferSize - 3, 6, "ABCDEF");
  EXPECT_EQ(ReadFileBytes(name), expected);
}

TEST(BufferedStream, WritePastTheEndLeavesZerosInTheGap) {
  TTempDir dir;
  const std::string name = dir.File("gap.bin");
  {
    TKVBufferedStream b(std::make_unique<TKVFileStream>(name, fmCreate));
    b.WriteBuffer("ab", 2);
    b.Seek(2, soCurrent);  // inside the buffer's range, past its data
    b.WriteBuffer("cd", 2);
    b.Seek(std::int64_t{2} * TKVBufferedStream::kBufferSize, soBeginning);  // beyond the buffer
    b.WriteBuffer("e", 1);
  }
  const std::string bytes = ReadFileBytes(name);
  ASSERT_EQ(bytes.size(), 2u * TKVBufferedStream::kBufferSize + 1);
  EXPECT_EQ(bytes.substr(0, 6), std::string("ab\0\0cd", 6));
  EXPECT_EQ(bytes.find_first_not_of('\0', 6), bytes.size() - 1);
}

TEST(BufferedStream, SetSizeCutsUnflushedBytesAtTheAbsoluteEnd) {
  TTempDir dir;
  const std::string name = dir.File("cut.bin");
  const std::int64_t mib = TKVBufferedStream::kBufferSize;
  const auto data = Pattern(static_cast<std::size_t>(mib + 5000), 1);
  {
    TKVBufferedStream b(std::make_unique<TKVFileStream>(name, fmCreate));
    b.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    // The buffer now starts at 1 MiB with 5000 dirty bytes; cut 1000 of them off.
    b.SetSize(mib + 4000);
    EXPECT_EQ(b.Size(), mib + 4000);
  }
  const std::string bytes = ReadFileBytes(name);
  EXPECT_EQ(bytes, std::string(data.begin(), data.begin() + mib + 4000));
}

TEST(BufferedStream, FlushFailureIsReported) {
  TTempDir dir;
  const std::string name = dir.File("ro.bin");
  WriteFileBytes(name, "data");
  TKVBufferedStream b(std::make_unique<TKVFileStream>(name, fmOpenRead));
  b.WriteBuffer("xy", 2);
  EXPECT_THROW(b.Flush(), EWriteError);
}

TEST(StreamDecorator, ForwardsAndOwns) {
  auto inner = std::make_unique<TKVMemoryStream>();
  TKVMemoryStream* raw = inner.get();
  TKVStreamDecorator owning(std::move(inner));
  EXPECT_TRUE(owning.OwnsStream());
  owning.WriteInt32(42);
  EXPECT_EQ(raw->Size(), 4);
  EXPECT_EQ(owning.Seek(0, soBeginning), 0);
  EXPECT_EQ(owning.ReadInt32(), 42);
  TKVStreamDecorator borrowing(*raw);
  EXPECT_FALSE(borrowing.OwnsStream());
  EXPECT_EQ(borrowing.Size(), 4);
}

}  // namespace
}  // namespace kvnet
