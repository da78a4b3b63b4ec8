// Desktop services through Qt, and the switch tests use to replace them.
#include "desktop.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>

namespace {
TDesktop* installed = nullptr;
}

void TDesktop::OpenUrl(const QUrl& url) {
  QDesktopServices::openUrl(url);
}

void TDesktop::StartDetached(const QString& program) {
  QProcess::startDetached(program, {});
}

TDesktop& Desktop() {
  static TDesktop real;
  return installed ? *installed : real;
}

TDesktopScope::TDesktopScope(TDesktop& desktop) : override_(installed, &desktop) {}

QString ForumAddress() {
  return QStringLiteral("https://coinhollow.example.org/");
}

const QStringList& CalculatorPrograms() {
  static const QStringList programs{"gnome-calculator", "kcalc",         "mate-calc",
                                    "galculator",       "qalculate-gtk", "xcalc"};
  return programs;
}

QString FindCalculator() {
  for (const QString& name : CalculatorPrograms()) {
    const QString path = QStandardPaths::findExecutable(name);
    if (!path.isEmpty()) return path;
  }
  return QString();
}
