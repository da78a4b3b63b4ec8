// The program's start-up sequence: single-instance check, sign-in, main window, message loop.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

class Tfrmmain;

namespace mt::app {

// Seams for the start-up probe used by tests; the program passes none.
struct TStartupHooks {
  QString instanceServerName;                            // empty: InstanceServerName()
  std::function<std::unique_ptr<QDialog>()> makeSignIn;  // empty: the sign-in dialog
  std::function<void(QDialog&)> signInCreated;           // called before it is shown
  std::function<void(Tfrmmain&)> mainWindowCreated;      // called once the main window exists
};

// Runs the program and returns its exit code.
int RunProgram(int& argc, char** argv, const TStartupHooks& hooks = {});

}  // namespace mt::app
