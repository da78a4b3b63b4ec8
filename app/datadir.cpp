// Data directory location.
#include "datadir.h"

#include <QCoreApplication>

QString DataDirectory() {
  return QCoreApplication::applicationDirPath() + "/data";
}
