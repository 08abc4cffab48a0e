#include "foundation/kvnet_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <new>

#include "foundation/kvnet_codepage.h"
#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"

namespace kvnet {

namespace {

constexpr std::int64_t kMemoryStreamLimit = std::int64_t{1} << 31;
constexpr std::int64_t kMemoryDelta = 8192;

std::string SystemErrorText(int error) {
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not live in buffer.
  return std::string(strerror_r(error, buffer, sizeof buffer));
}

std::string ExpandFileName(const std::string& fileName) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(fileName, ec);
  return ec ? fileName : absolute.lexically_normal().string();
}

}  // namespace

// ---- TKVStream

std::int64_t TKVStream::GetSize() {
  const std::int64_t position = Seek(0, soCurrent);
  const std::int64_t size = Seek(0, soEnd);
  Seek(position, soBeginning);
  return size;
}

void TKVStream::ReadBuffer(void* buffer, std::int64_t count) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  while (count > 0) {
    const auto chunk = static_cast<std::int32_t>(std::min<std::int64_t>(count, INT32_MAX));
    const std::int32_t got = Read(bytes, chunk);
    if (got < 1) throw EReadError("Stream read error");
    bytes += got;
    count -= got;
  }
}

void TKVStream::WriteBuffer(const void* buffer, std::int64_t count) {
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  while (count > 0) {
    const auto chunk = static_cast<std::int32_t>(std::min<std::int64_t>(count, INT32_MAX));
    const std::int32_t put = Write(bytes, chunk);
    if (put < 1) throw EWriteError("Stream write error");
    bytes += put;
    count -= put;
  }
}

std::string TKVStream::ReadString(std::int32_t size) {
  if (size <= 0) return {};
  std::string bytes(static_cast<std::size_t>(size), '\0');
  ReadBuffer(bytes.data(), size);
  return CodePageToUtf8(bytes, SystemCodePage());
}

void TKVStream::ReverseBytes(unsigned char* bytes, std::size_t n) {
  std::reverse(bytes, bytes + n);
}

// ---- TKVHandleStream

void TKVHandleStream::SetSize(std::int64_t newSize) {
  if (newSize < 0) throw EStreamError(Format("Invalid stream size: %d", newSize));
  Seek(newSize, soBeginning);
  if (::ftruncate(FHandle, newSize) != 0) {
    const int error = errno;
    throw EOSError(Format("System Error. Code: %d. %s", error, SystemErrorText(error)));
  }
}

std::int64_t TKVHandleStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  int whence = SEEK_SET;
  switch (origin) {
    case soBeginning:
      whence = SEEK_SET;
      break;
    case soCurrent:
      whence = SEEK_CUR;
      break;
    case soEnd:
      whence = SEEK_END;
      break;
    default:
      return -1;
  }
  return ::lseek(FHandle, offset, whence);
}

std::int32_t TKVHandleStream::Read(void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  ssize_t got;
  do {
    got = ::read(FHandle, buffer, static_cast<std::size_t>(count));
  } while (got < 0 && errno == EINTR);
  return got < 0 ? 0 : static_cast<std::int32_t>(got);
}

std::int32_t TKVHandleStream::Write(const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  ssize_t put;
  do {
    put = ::write(FHandle, buffer, static_cast<std::size_t>(count));
  } while (put < 0 && errno == EINTR);
  return put < 0 ? 0 : static_cast<std::int32_t>(put);
}

// ---- TKVFileStream

TKVFileStream::TKVFileStream(const std::string& fileName, std::uint16_t mode)
    : TKVFileStream(fileName, mode, 0666) {}

TKVFileStream::TKVFileStream(const std::string& fileName, std::uint16_t mode, std::uint32_t rights)
    : TKVHandleStream(-1), FFileName(fileName) {
  const bool create = (mode & 0xFF00) == 0xFF00;
  int flags = O_CLOEXEC;
  if (create) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (mode & 0x3) {
      case fmOpenWrite:
        flags |= O_WRONLY;
        break;
      case fmOpenReadWrite:
        flags |= O_RDWR;
        break;
      default:
        flags |= O_RDONLY;
        break;
    }
  }
  do {
    FHandle = ::open(fileName.c_str(), flags, static_cast<mode_t>(rights));
  } while (FHandle < 0 && errno == EINTR);
  if (FHandle < 0) {
    const int error = errno;
    if (create) {
      throw EFCreateError(Format("Cannot create file \"%s\". %s", ExpandFileName(fileName),
                                 SystemErrorText(error)));
    }
    throw EFOpenError(
        Format("Cannot open file \"%s\". %s", ExpandFileName(fileName), SystemErrorText(error)));
  }
  struct stat info {};
  if (::fstat(FHandle, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(FHandle);
    FHandle = -1;
    throw EFOpenError(
        Format("Cannot open file \"%s\". %s", ExpandFileName(fileName), SystemErrorText(EISDIR)));
  }
}

TKVFileStream::~TKVFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

// ---- TKVMemoryStream

std::int64_t TKVMemoryStream::Realloc(std::int64_t newCapacity) {
  if (newCapacity > 0 && newCapacity != FSize) {
    newCapacity = (newCapacity + (kMemoryDelta - 1)) & ~(kMemoryDelta - 1);
  }
  if (newCapacity == FCapacity) return FCapacity;
  if (newCapacity >= kMemoryStreamLimit) {
    throw EStreamError("TKVMemoryStream capacity cannot exceed 2^31 bytes in 32 bit mode");
  }
  if (newCapacity == 0) {
    std::vector<std::uint8_t>().swap(FMemory);
    return 0;
  }
  try {
    // std::vector keeps its own geometric reserve, so byte-by-byte growth stays linear.
    FMemory.resize(static_cast<std::size_t>(newCapacity));
  } catch (const std::bad_alloc&) {
    throw EStreamError("Out of memory while expanding memory stream");
  }
  return newCapacity;
}

void TKVMemoryStream::SetCapacity(std::int64_t newCapacity) {
  FCapacity = Realloc(newCapacity);
}

void TKVMemoryStream::SetSize(std::int64_t newSize) {
  if (newSize < 0) throw EStreamError(Format("Invalid stream size: %d", newSize));
  if (newSize >= kMemoryStreamLimit) {
    throw EStreamError("TKVMemoryStream capacity cannot exceed 2^31 bytes in 32 bit mode");
  }
  const std::int64_t oldSize = FSize;
  SetCapacity(newSize);
  if (newSize > oldSize) {  // bytes left from an earlier, larger size must not reappear
    std::fill(FMemory.begin() + oldSize, FMemory.begin() + newSize, std::uint8_t{0});
  }
  FSize = newSize;
  if (FPosition > newSize) FPosition = newSize;
}

std::int64_t TKVMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case soBeginning:
      FPosition = offset;
      break;
    case soCurrent:
      FPosition += offset;
      break;
    case soEnd:
      FPosition = FSize + offset;
      break;
    default:
      return -1;
  }
  return FPosition;
}

std::int32_t TKVMemoryStream::Read(void* buffer, std::int32_t count) {
  if (FPosition < 0 || count <= 0 || FPosition >= FSize) return 0;
  const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, FSize - FPosition));
  std::memcpy(buffer, FMemory.data() + FPosition, static_cast<std::size_t>(n));
  FPosition += n;
  return n;
}

std::int32_t TKVMemoryStream::Write(const void* buffer, std::int32_t count) {
  if (FPosition < 0 || count < 0) return 0;
  const std::int64_t end = FPosition + count;
  if (end <= 0) return 0;
  if (end > FSize) {
    if (end > FCapacity) SetCapacity(end);
    // A write that starts past the end leaves a gap of zeros, never stale bytes.
    if (FPosition > FSize) {
      std::fill(FMemory.begin() + FSize, FMemory.begin() + FPosition, std::uint8_t{0});
    }
    FSize = end;
  }
  std::memcpy(FMemory.data() + FPosition, buffer, static_cast<std::size_t>(count));
  FPosition = end;
  return count;
}

void TKVMemoryStream::Clear() {
  SetCapacity(0);
  FSize = 0;
  FPosition = 0;
}

void TKVMemoryStream::LoadFromStream(TKVStream& stream) {
  stream.SetPosition(0);
  const std::int64_t count = stream.Size();
  SetSize(count);
  if (count > 0) stream.ReadBuffer(FMemory.data(), count);
}

void TKVMemoryStream::LoadFromFile(const std::string& fileName) {
  TKVFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TKVMemoryStream::SaveToStream(TKVStream& stream) {
  if (FSize > 0) stream.WriteBuffer(FMemory.data(), FSize);
}

void TKVMemoryStream::SaveToFile(const std::string& fileName) {
  try {
    TKVFileStream file(fileName, fmCreate);
    SaveToStream(file);
  } catch (const EFCreateError&) {
    throw;
  } catch (...) {
    std::remove(fileName.c_str());
    throw;
  }
}

// ---- TKVStreamDecorator

TKVStreamDecorator::TKVStreamDecorator(std::unique_ptr<TKVStream> owned)
    : FOwned(std::move(owned)), FStream(FOwned.get()) {}

TKVStreamDecorator::TKVStreamDecorator(TKVStream& borrowed) : FStream(&borrowed) {}

std::int64_t TKVStreamDecorator::GetSize() {
  return FStream ? FStream->Size() : 0;
}

void TKVStreamDecorator::SetSize(std::int64_t newSize) {
  if (FStream) FStream->SetSize(newSize);
}

std::int64_t TKVStreamDecorator::Seek(std::int64_t offset, TSeekOrigin origin) {
  return FStream ? FStream->Seek(offset, origin) : -1;
}

std::int32_t TKVStreamDecorator::Read(void* buffer, std::int32_t count) {
  return FStream ? FStream->Read(buffer, count) : 0;
}

std::int32_t TKVStreamDecorator::Write(const void* buffer, std::int32_t count) {
  return FStream ? FStream->Write(buffer, count) : 0;
}

// ---- TKVBufferedStream

TKVBufferedStream::TKVBufferedStream(std::unique_ptr<TKVStream> owned)
    : TKVStreamDecorator(std::move(owned)) {
  FPosition = std::max<std::int64_t>(0, FStream->Position());
  FillBuffer();
}

TKVBufferedStream::TKVBufferedStream(TKVStream& borrowed) : TKVStreamDecorator(borrowed) {
  FPosition = std::max<std::int64_t>(0, FStream->Position());
  FillBuffer();
}

TKVBufferedStream::~TKVBufferedStream() {
  try {
    Flush();
  } catch (...) {  // NOLINT(bugprone-empty-catch): destructors must not throw; Flush reports
  }
}

std::int64_t TKVBufferedStream::EffectiveSize() {
  return std::max(FStream->Size(), FBufferStart + FBufferMaxModifiedPos);
}

bool TKVBufferedStream::FillBuffer() {
  Flush();
  FBuffer.resize(kBufferSize);
  FBufferStart = FPosition;
  FBufferCurrentSize = 0;
  if (FStream->Seek(FPosition, soBeginning) != FPosition) return false;
  while (FBufferCurrentSize < kBufferSize) {
    const std::int32_t got =
        FStream->Read(FBuffer.data() + FBufferCurrentSize, kBufferSize - FBufferCurrentSize);
    if (got <= 0) break;
    FBufferCurrentSize += got;
  }
  return FBufferCurrentSize > 0;
}

void TKVBufferedStream::Flush() {
  if (FBufferMaxModifiedPos <= 0) return;
  if (FStream->Seek(FBufferStart, soBeginning) != FBufferStart) {
    throw EWriteError("Stream write error");
  }
  FStream->WriteBuffer(FBuffer.data(), FBufferMaxModifiedPos);
  FBufferMaxModifiedPos = 0;
}

std::int32_t TKVBufferedStream::Read(void* buffer, std::int32_t count) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int32_t copied = 0;
  while (copied < count) {
    const std::int64_t bufferEnd = FBufferStart + FBufferCurrentSize;
    if (FPosition >= FBufferStart && FPosition < bufferEnd) {
      const auto n =
          static_cast<std::int32_t>(std::min<std::int64_t>(count - copied, bufferEnd - FPosition));
      std::memcpy(out + copied, FBuffer.data() + (FPosition - FBufferStart),
                  static_cast<std::size_t>(n));
      copied += n;
      FPosition += n;
    } else if (!FillBuffer()) {
      break;
    }
  }
  return copied;
}

std::int32_t TKVBufferedStream::Write(const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  std::int32_t written = 0;
  while (written < count) {
    if (FPosition < FBufferStart || FPosition >= FBufferStart + kBufferSize) FillBuffer();
    const auto offset = static_cast<std::int32_t>(FPosition - FBufferStart);
    if (offset > FBufferCurrentSize) {
      // Writing past the end of the data: the gap becomes zeros in the file.
      std::fill(FBuffer.begin() + FBufferCurrentSize, FBuffer.begin() + offset, std::uint8_t{0});
    }
    const std::int32_t n = std::min(count - written, kBufferSize - offset);
    std::memcpy(FBuffer.data() + offset, in + written, static_cast<std::size_t>(n));
    const std::int32_t end = offset + n;
    FBufferCurrentSize = std::max(FBufferCurrentSize, end);
    FBufferMaxModifiedPos = std::max(FBufferMaxModifiedPos, end);
    written += n;
    FPosition += n;
  }
  return written;
}

std::int64_t TKVBufferedStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t position;
  switch (origin) {
    case soBeginning:
      position = offset;
      break;
    case soCurrent:
      position = FPosition + offset;
      break;
    case soEnd:
      position = EffectiveSize() + offset;
      break;
    default:
      return -1;
  }
  if (position < 0) return -1;
  FPosition = position;
  return position;
}

void TKVBufferedStream::SetSize(std::int64_t newSize) {
  if (newSize < 0) throw EStreamError(Format("Invalid stream size: %d", newSize));
  FStream->SetSize(newSize);
  // The buffer's extents are relative to its start; cut them where the new end falls.
  const auto keep =
      static_cast<std::int32_t>(std::clamp<std::int64_t>(newSize - FBufferStart, 0, kBufferSize));
  FBufferMaxModifiedPos = std::min(FBufferMaxModifiedPos, keep);
  FBufferCurrentSize = std::min(FBufferCurrentSize, keep);
  FPosition = std::max<std::int64_t>(0, FStream->Position());
}

void ReplaceFile(const std::string& fileName,
                 const std::function<void(const std::string& temporary)>& write) {
  const std::string temporary = fileName + ".tmp" + std::to_string(::getpid());
  try {
    write(temporary);
  } catch (...) {
    std::remove(temporary.c_str());
    throw;
  }
  std::error_code ec;
  std::filesystem::rename(temporary, fileName, ec);
  if (ec) {
    std::remove(temporary.c_str());
    throw EWriteError("Cannot write " + fileName + ": " + ec.message());
  }
}

}  // namespace kvnet
