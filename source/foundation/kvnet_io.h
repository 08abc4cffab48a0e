// Binary streams. Every network file is read and written through this small hierarchy:
// TKVStream (abstract, with typed little-endian access), a stream on an operating-system file
// handle, a file stream that owns its handle, a growable memory stream, a decorator that forwards
// to an inner stream, and a buffered decorator with a 1 MiB buffer.
//
// A stream is used by one thread at a time. Positions and sizes are 64-bit; one Read or Write
// moves at most 2^31 - 1 bytes. Writing past the end of a stream fills the gap with zeros.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kvnet {

enum TSeekOrigin : std::uint8_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// File modes of TKVFileStream. A mode whose high byte is 0xFF creates or truncates the file.
// The sharing bits are accepted for compatibility; POSIX files are not locked.
inline constexpr std::uint16_t fmCreate = 0xFF00;
inline constexpr std::uint16_t fmOpenRead = 0x0000;
inline constexpr std::uint16_t fmOpenWrite = 0x0001;
inline constexpr std::uint16_t fmOpenReadWrite = 0x0002;
inline constexpr std::uint16_t fmShareExclusive = 0x0010;
inline constexpr std::uint16_t fmShareDenyWrite = 0x0020;
inline constexpr std::uint16_t fmShareDenyNone = 0x0040;

class TKVStream {
 public:
  TKVStream() = default;
  TKVStream(const TKVStream&) = delete;
  TKVStream& operator=(const TKVStream&) = delete;
  virtual ~TKVStream() = default;

  // Size by seeking to the end and back; subclasses that know better override it.
  virtual std::int64_t GetSize();
  virtual void SetSize(std::int64_t newSize) = 0;
  // Returns the new position, or -1 when the origin or the resulting position is invalid.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  // Return the number of bytes moved (0 on failure or a negative count).
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;

  std::int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, soBeginning); }
  std::int64_t Size() { return GetSize(); }
  std::int32_t BufferSize() const { return FBufferSize; }
  void SetBufferSize(std::int32_t value) { FBufferSize = value; }

  // Full-read and full-write helpers: call Read (Write) until count bytes have moved; a call that
  // moves nothing raises EReadError "Stream read error" (EWriteError "Stream write error").
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);

  // Typed little-endian access, one Read or Write per value. A read that reaches the end of the
  // stream before the value is complete yields the bytes that arrived followed by zeros.
  void WriteByte(std::uint8_t v) { WriteValue(v); }
  void WriteUInt16(std::uint16_t v) { WriteValue(v); }
  void WriteUInt32(std::uint32_t v) { WriteValue(v); }
  void WriteInt16(std::int16_t v) { WriteValue(v); }
  void WriteInt32(std::int32_t v) { WriteValue(v); }
  void WriteInt64(std::int64_t v) { WriteValue(v); }
  void WriteDouble(double v) { WriteValue(v); }
  void WriteSingle(float v) { WriteValue(v); }
  std::uint8_t ReadByte() { return ReadValue<std::uint8_t>(); }
  std::uint16_t ReadUInt16() { return ReadValue<std::uint16_t>(); }
  std::uint32_t ReadUInt32() { return ReadValue<std::uint32_t>(); }
  std::int16_t ReadInt16() { return ReadValue<std::int16_t>(); }
  std::int32_t ReadInt32() { return ReadValue<std::int32_t>(); }
  std::int64_t ReadInt64() { return ReadValue<std::int64_t>(); }
  double ReadDouble() { return ReadValue<double>(); }
  float ReadSingle() { return ReadValue<float>(); }

  // Reads exactly size bytes (EReadError when the stream ends first) and decodes them with the
  // system's default ANSI code page; zero bytes are kept as characters.
  std::string ReadString(std::int32_t size);

 private:
  template <class T>
  void WriteValue(T v) {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &v, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) ReverseBytes(bytes, sizeof(T));
    Write(bytes, sizeof(T));
  }
  template <class T>
  T ReadValue() {
    unsigned char bytes[sizeof(T)] = {};
    Read(bytes, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) ReverseBytes(bytes, sizeof(T));
    T v;
    std::memcpy(&v, bytes, sizeof(T));
    return v;
  }
  static void ReverseBytes(unsigned char* bytes, std::size_t n);

  std::int32_t FBufferSize = 0;
};

// A stream on an open operating-system file descriptor; it does not close the descriptor.
class TKVHandleStream : public TKVStream {
 public:
  explicit TKVHandleStream(int handle) : FHandle(handle) {}

  int Handle() const { return FHandle; }

  // Seeks to newSize and truncates or extends the file there; raises EOSError on failure.
  void SetSize(std::int64_t newSize) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;

 protected:
  int FHandle;
};

// A file opened or created by name; the descriptor is closed on destruction.
class TKVFileStream : public TKVHandleStream {
 public:
  // Raises EFCreateError "Cannot create file \"%s\". %s" or EFOpenError
  // "Cannot open file \"%s\". %s" with the absolute file name and the system's error text.
  TKVFileStream(const std::string& fileName, std::uint16_t mode);
  TKVFileStream(const std::string& fileName, std::uint16_t mode, std::uint32_t rights);
  ~TKVFileStream() override;

  const std::string& FileName() const { return FFileName; }

 private:
  std::string FFileName;
};

// A growable stream in memory; capacity grows in steps of 8 KiB and stays below 2^31 bytes.
class TKVMemoryStream : public TKVStream {
 public:
  TKVMemoryStream() = default;

  const std::uint8_t* Memory() const { return FMemory.data(); }
  std::uint8_t* Memory() { return FMemory.data(); }
  std::int64_t Capacity() const { return FCapacity; }

  std::int64_t GetSize() override { return FSize; }
  void SetSize(std::int64_t newSize) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;

  void Clear();
  void LoadFromStream(TKVStream& stream);
  void LoadFromFile(const std::string& fileName);
  void SaveToStream(TKVStream& stream);
  // Writes the contents to a new file; a file that cannot be written completely is removed.
  void SaveToFile(const std::string& fileName);

 protected:
  // Sets the capacity (rounded up to 8 KiB unless it equals the size) and returns it.
  virtual std::int64_t Realloc(std::int64_t newCapacity);

 private:
  void SetCapacity(std::int64_t newCapacity);

  std::vector<std::uint8_t> FMemory;  // FCapacity bytes
  std::int64_t FCapacity = 0;
  std::int64_t FSize = 0;
  std::int64_t FPosition = 0;
};

// Forwards every operation to an inner stream, which it may own.
class TKVStreamDecorator : public TKVStream {
 public:
  explicit TKVStreamDecorator(std::unique_ptr<TKVStream> owned);
  explicit TKVStreamDecorator(TKVStream& borrowed);

  bool OwnsStream() const { return FOwned != nullptr; }
  TKVStream* Stream() const { return FStream; }

  std::int64_t GetSize() override;
  void SetSize(std::int64_t newSize) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;

 protected:
  std::unique_ptr<TKVStream> FOwned;
  TKVStream* FStream;
};

// A 1 MiB read and write buffer in front of another stream. Written bytes are visible to reads at
// once; they reach the inner stream on Flush, when the buffer moves, and on destruction (where a
// failure cannot be reported: call Flush first to see it).
class TKVBufferedStream : public TKVStreamDecorator {
 public:
  static constexpr std::int32_t kBufferSize = 1 << 20;

  explicit TKVBufferedStream(std::unique_ptr<TKVStream> owned);
  explicit TKVBufferedStream(TKVStream& borrowed);
  ~TKVBufferedStream() override;

  std::int64_t GetSize() override { return EffectiveSize(); }
  void SetSize(std::int64_t newSize) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;

  // The inner size, or the end of the unflushed bytes when that is larger.
  virtual std::int64_t EffectiveSize();
  // Flushes, then reads up to a full buffer at the current position; false when nothing was read.
  virtual bool FillBuffer();
  // Writes the modified part of the buffer to the inner stream (EWriteError on failure).
  virtual void Flush();

 private:
  std::vector<std::uint8_t> FBuffer;
  std::int32_t FBufferCurrentSize = 0;     // bytes valid in the buffer
  std::int32_t FBufferMaxModifiedPos = 0;  // end of the bytes not yet written to the inner stream
  std::int64_t FBufferStart = 0;           // stream position of buffer byte 0
  std::int64_t FPosition = 0;
};

// Writes fileName through a temporary file beside it: write receives the temporary name and fills
// it; when it succeeds the temporary file is renamed into place. Any failure removes the
// temporary file and raises, so no partial file is ever left under fileName.
void ReplaceFile(const std::string& fileName,
                 const std::function<void(const std::string& temporary)>& write);

}  // namespace kvnet
