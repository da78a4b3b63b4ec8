// The archive component: TZipArchive writes a new ZIP archive from a list of files and, as a
// TUnzipArchive, reads and extracts archives.
//
// Each listed regular file becomes one entry named by its file name alone (GBK), compressed
// with raw deflate at the pack level (6 by default) or stored when compression would not make
// it smaller; the local header of each entry is written first and completed once its data are
// written. Missing and unreadable files, and a second file of an already used name, are left
// out. A write that falls short raises ENotEnoughRoom ("Not enough room to write archive");
// whatever goes wrong, a partly written archive is deleted before the error leaves.
//
// One object serves one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/zipreader.h"

namespace mt {

class TZipArchive : public TUnzipArchive {
 public:
  TZipArchive() = default;

  // Full paths of the files to add; emptied by WriteArchive.
  std::vector<std::string>& FilesList() { return filesList_; }

  // 1 to 9: deflate level; 0 stores every entry without compression.
  int PackLevel() const { return packLevel_; }
  void SetPackLevel(int level) { packLevel_ = level < 0 ? 0 : (level > 9 ? 9 : level); }

  // Writes the archive ZipName() from FilesList() and returns the number of entries written.
  // Does nothing for a blank archive name. The archive must not exist yet: creating it over an
  // existing file raises EFileError, as does any other failure to create it. Afterwards the
  // written entries are the component's directory.
  int WriteArchive();

 protected:
  // The largest archive the format's 32-bit sizes and offsets allow; larger ones raise
  // EArchiveLimit.
  uint64_t maxArchiveSize_ = 0xFFFFFFFFu;

 private:
  std::vector<std::string> filesList_;
  int packLevel_ = 6;
};

}  // namespace mt
