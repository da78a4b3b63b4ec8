// The data directory: "data" beside the program file, never the working directory. Tests and
// the screenshot tour put a scratch directory in its place with TDataDirectoryScope; the
// program itself has no setting that moves it.
#pragma once

#include <QString>

#include "scopedoverride.h"

// Full path of the data directory, computed afresh from the program file's location.
QString DataDirectory();

// While it lives, DataDirectory() answers `directory`.
class TDataDirectoryScope {
 public:
  explicit TDataDirectoryScope(const QString& directory);

 private:
  const QString directory_;
  TScopedOverride<const QString> override_;
};
