// The library's exception classes. Every failure is raised as one of these with a fixed English
// message (built with kvnet::Format where values are formatted in). All classes derive directly
// from kvnet::Exception, so a caller can catch that one class for any library failure.
#pragma once

#include <stdexcept>
#include <string>

namespace kvnet {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// NOLINTBEGIN(bugprone-macro-parentheses): Name is a class name
#define KVNET_EXCEPTION_CLASS(Name) \
  class Name : public Exception {   \
   public:                          \
    using Exception::Exception;     \
  }
// NOLINTEND(bugprone-macro-parentheses)

KVNET_EXCEPTION_CLASS(ENetworkIsClosed);
KVNET_EXCEPTION_CLASS(EOutOfRange);
KVNET_EXCEPTION_CLASS(EWrongPercent);
KVNET_EXCEPTION_CLASS(ECoordinateCheck);
KVNET_EXCEPTION_CLASS(EFileMissing);
KVNET_EXCEPTION_CLASS(EWrongFileSize);
KVNET_EXCEPTION_CLASS(EWrongVersion);
KVNET_EXCEPTION_CLASS(EConfigFileCheckSumError);
KVNET_EXCEPTION_CLASS(EEncryptedData);
KVNET_EXCEPTION_CLASS(ERoadNameFileNotOpen);
KVNET_EXCEPTION_CLASS(ETooManyLinksAtNode);
KVNET_EXCEPTION_CLASS(EWrongDegree);
KVNET_EXCEPTION_CLASS(ENotConnected);
KVNET_EXCEPTION_CLASS(EParallelLinks);
KVNET_EXCEPTION_CLASS(EFieldNameNotFound);
KVNET_EXCEPTION_CLASS(EInvalidFieldIndex);
KVNET_EXCEPTION_CLASS(EInvalidFieldType);
KVNET_EXCEPTION_CLASS(EDifferentDBFFilesStructure);
KVNET_EXCEPTION_CLASS(EInvalidParameter);
KVNET_EXCEPTION_CLASS(ENoRoute);
KVNET_EXCEPTION_CLASS(EBitArrayError);

// Streams and files.
KVNET_EXCEPTION_CLASS(EReadError);     // a full read that got fewer bytes than asked
KVNET_EXCEPTION_CLASS(EWriteError);    // a full write that moved fewer bytes than asked
KVNET_EXCEPTION_CLASS(EStreamError);   // memory stream limits, buffered stream misuse
KVNET_EXCEPTION_CLASS(EFCreateError);  // a file that cannot be created
KVNET_EXCEPTION_CLASS(EFOpenError);    // a file that cannot be opened
KVNET_EXCEPTION_CLASS(EOSError);       // any other operating-system call that failed

// Text that cannot be converted, or a code page the library does not know.
KVNET_EXCEPTION_CLASS(EEncodingError);

#undef KVNET_EXCEPTION_CLASS

}  // namespace kvnet
