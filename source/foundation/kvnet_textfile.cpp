#include "foundation/kvnet_textfile.h"

#include <algorithm>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_unicode.h"

namespace kvnet {

namespace {

bool IsWide(std::uint16_t codePage) {
  return codePage == kCodePageUtf16 || codePage == kCodePageUtf16BE;
}

}  // namespace

// ---- TTextFileReader

TTextFileReader::TTextFileReader(const std::string& fileName, std::uint16_t codePage)
    : FFile(fileName, fmOpenRead | fmShareDenyWrite),
      FEncoder(DetectCodePage(FFile, codePage, FBomLength)),
      FRaw(kReadBufferSize) {
  FSize = FFile.Size();
  FFile.Seek(FBomLength, soBeginning);
  ReadAhead();
}

TEncoder TTextFileReader::DetectCodePage(TKVFileStream& file, std::uint16_t codePage,
                                         int& bomLength) {
  codePage = ResolveCodePage(codePage);
  bomLength = 0;
  if (codePage == kCodePageUtf16 || codePage == kCodePageUtf8) {
    unsigned char head[3] = {};
    const std::int32_t got = file.Read(head, 3);
    if (got >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
      codePage = kCodePageUtf8;
      bomLength = 3;
    } else if (got >= 2 && head[0] == 0xFF && head[1] == 0xFE) {
      codePage = kCodePageUtf16;
      bomLength = 2;
    } else if (got >= 2 && head[0] == 0xFE && head[1] == 0xFF) {
      codePage = kCodePageUtf16BE;
      bomLength = 2;
    }
  }
  return TEncoder(codePage);
}

bool TTextFileReader::FillRaw() {
  if (FRawEnd) return false;
  FRawPos = 0;
  FRawCount = FFile.Read(FRaw.data(), kReadBufferSize);
  if (FRawCount <= 0) {
    FRawCount = 0;
    FRawEnd = true;
  }
  return FRawCount > 0;
}

int TTextFileReader::NextByte() {
  if (FRawPos >= FRawCount && !FillRaw()) return -1;
  return static_cast<unsigned char>(FRaw[static_cast<std::size_t>(FRawPos++)]);
}

int TTextFileReader::PeekByte() {
  if (FRawPos >= FRawCount && !FillRaw()) return -1;
  return static_cast<unsigned char>(FRaw[static_cast<std::size_t>(FRawPos)]);
}

bool TTextFileReader::ReadRawLine(std::string& bytes) {
  bytes.clear();
  if (!IsWide(FEncoder.CodePage())) {
    // Byte code pages: CR and LF never occur inside a multi-byte character of the supported pages.
    bool any = false;
    for (;;) {
      if (FRawPos >= FRawCount && !FillRaw()) return any;
      any = true;
      const char* begin = FRaw.data() + FRawPos;
      const char* end = FRaw.data() + FRawCount;
      const char* stop = std::find_if(begin, end, [](char c) { return c == '\r' || c == '\n'; });
      bytes.append(begin, stop);
      FRawPos += static_cast<std::int32_t>(stop - begin);
      if (stop == end) continue;
      const char terminator = *stop;
      ++FRawPos;
      if (terminator == '\r' && PeekByte() == '\n') ++FRawPos;  // may refill the buffer first
      return true;
    }
  }
  // UTF-16: lines end at the units U+000D and U+000A.
  const bool littleEndian = FEncoder.CodePage() == kCodePageUtf16;
  const auto unitOf = [littleEndian](int first, int second) {
    return littleEndian ? first | (second << 8) : (first << 8) | second;
  };
  bool any = false;
  for (;;) {
    const int b0 = NextByte();
    if (b0 < 0) return any;
    any = true;
    const int b1 = NextByte();
    if (b1 < 0) {  // an odd trailing byte: the decoder reports it
      bytes.push_back(static_cast<char>(b0));
      return true;
    }
    const int unit = unitOf(b0, b1);
    if (unit == '\n') return true;
    if (unit == '\r') {
      // Look at the next unit; both of its bytes may lie in the next buffer.
      const int c0 = PeekByte();
      if (c0 < 0) return true;
      ++FRawPos;
      const int c1 = PeekByte();
      if (c1 >= 0 && unitOf(c0, c1) == '\n') {
        ++FRawPos;
      } else if (FRawPos > 0) {
        --FRawPos;  // not LF: put the first byte back (still in the buffer)
      } else {
        // The first byte was the last of the previous buffer; keep it in front of the new one.
        FRaw.insert(FRaw.begin(), static_cast<char>(c0));
        ++FRawCount;
      }
      return true;
    }
    bytes.push_back(static_cast<char>(b0));
    bytes.push_back(static_cast<char>(b1));
  }
}

void TTextFileReader::ReadAhead() {
  std::string bytes;
  FString.clear();
  if (ReadRawLine(bytes)) FEncoder.DecodeAppend(bytes, FString, &FReplaced);
  FAtEnd = FRawPos >= FRawCount && !FillRaw();
}

std::string TTextFileReader::ReadLine() {
  std::string line = std::move(FString);
  FPos += static_cast<std::int64_t>(Utf16Length(line)) + 2;
  ReadAhead();
  return line;
}

// ---- TTextFileWriter

TTextFileWriter::TTextFileWriter(const std::string& fileName, std::uint16_t codePage, bool bom)
    : FFileName(fileName), FCodepage(ResolveCodePage(codePage)), FEncoder(FCodepage) {
  f = std::make_unique<TKVBufferedStream>(
      std::make_unique<TKVFileStream>(fileName, fmCreate | fmShareDenyWrite));
  if (bom && FCodepage == kCodePageUtf8) {
    f->WriteBuffer("\xEF\xBB\xBF", 3);
  } else if (bom && FCodepage == kCodePageUtf16) {
    f->WriteBuffer("\xFF\xFE", 2);
  }
}

TTextFileWriter::~TTextFileWriter() {
  try {
    Close();
  } catch (...) {  // NOLINT(bugprone-empty-catch): Close is the place to see write errors
  }
}

void TTextFileWriter::write(std::string_view s) {
  if (!f) throw EStreamError("Text file is closed: " + FFileName);
  if (s.empty()) return;
  FScratch.clear();
  FEncoder.EncodeAppend(s, FScratch, &FReplaced);
  f->WriteBuffer(FScratch.data(), static_cast<std::int64_t>(FScratch.size()));
}

void TTextFileWriter::writeln(std::string_view s) {
  write(s);
  if (!f) throw EStreamError("Text file is closed: " + FFileName);
  if (FCodepage == kCodePageUtf16) {
    f->WriteBuffer("\r\0\n\0", 4);
  } else {
    f->WriteBuffer("\r\n", 2);
  }
}

void TTextFileWriter::Close() {
  if (!f) return;
  std::unique_ptr<TKVBufferedStream> stream = std::move(f);
  stream->Flush();  // raises EWriteError; the stream is released either way
}

}  // namespace kvnet
