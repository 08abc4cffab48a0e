// Base of every class that owns a folder of files (networks, imports, indexes): a directory, an
// encryption key (0 = files are not enciphered) and an open flag, plus progress and cancel.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/kvnet_progress.h"

namespace kvnet {

class TFileBase : public TProgressCancel {
 public:
  // The directory starts as the current working directory.
  TFileBase();

  const std::string& Directory() const { return fDirectory; }
  // Ignored while open; otherwise stores the folder with a trailing '/' added when missing.
  void SetDirectory(const std::string& value);
  bool IsOpen() const { return fIsOpen; }
  std::int64_t EncryptionKey() const { return fEncryptionKey; }
  void SetEncryptionKey(std::int64_t value) { fEncryptionKey = value; }

  // Raises Exception "Output directory does not exist" or "Output directory is not writeable".
  void CheckDirectory() const;

 protected:
  std::int64_t fEncryptionKey = 0;
  bool fIsOpen = false;
  std::string fDirectory;
};

}  // namespace kvnet
