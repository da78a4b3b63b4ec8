// The desktop services the program asks for: opening a web address in the user's browser and
// starting the desktop's calculator. Windows call Desktop(); tests and the screenshot tour
// install their own TDesktop with TDesktopScope so nothing is started. Failures of the desktop
// are not reported: the program checks no result.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include "scopedoverride.h"

class TDesktop {
 public:
  virtual ~TDesktop() = default;
  // Opens the address with the user's default application for it.
  virtual void OpenUrl(const QUrl& url);
  // Starts a program that lives on after this one.
  virtual void StartDetached(const QString& program);
};

// The desktop in force: the installed one, else the real desktop.
TDesktop& Desktop();

// Installs a desktop for its lifetime and restores the previous one afterwards.
class TDesktopScope {
 public:
  explicit TDesktopScope(TDesktop& desktop);

 private:
  TScopedOverride<TDesktop> override_;
};

// The forum's web address: the main window's menus, the home page, the about dialog and the
// forum page all show and open this one address.
QString ForumAddress();

// The calculators the program looks for, in order of preference.
const QStringList& CalculatorPrograms();
// Full path of the first of them found on PATH, or empty when there is none.
QString FindCalculator();
