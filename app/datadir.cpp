// Data directory location.
#include "datadir.h"

#include <QCoreApplication>

namespace {
const QString* installed = nullptr;
}

QString DataDirectory() {
  if (installed) return *installed;
  return QCoreApplication::applicationDirPath() + "/data";
}

TDataDirectoryScope::TDataDirectoryScope(const QString& directory)
    : directory_(directory), override_(installed, &directory_) {}
