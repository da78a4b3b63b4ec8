// Start-up probe: the program's own start-up sequence with a scripted sign-in, reporting on
// stdout what happens, so tests can run real separate copies.
//   --server NAME             instance socket name (keeps tests apart from a real copy)
//   --signin accept|cancel|hold   a stand-in dialog answered as named (or left open)
//   --signin enter|escape     the program's own sign-in dialog on the data directory beside
//                             the probe, answered by pressing that key where its focus is
//   --print-datadir           print the data directory and exit
// Lines printed: "signin-shown", "main-window", "user NAME" (who signed in), "activated",
// "datadir PATH".
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>

#include "datadir.h"
#include "globals.h"
#include "startup.h"
#include "umain.h"

namespace {
void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// Presses the key in the dialog as a person would: at its focus widget, from where an
// unhandled key goes on to the dialog (Enter to its default button, Esc to cancel).
void PressKey(QDialog& dialog, Qt::Key key) {
  QWidget* target = dialog.focusWidget() ? dialog.focusWidget() : &dialog;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  if (dialog.isVisible()) QApplication::sendEvent(target, &release);
}
}  // namespace

int main(int argc, char** argv) {
  std::string signIn = "accept";
  mt::app::TStartupHooks hooks;
  bool printDataDir = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--server") && i + 1 < argc)
      hooks.instanceServerName = argv[++i];
    else if (!std::strcmp(argv[i], "--signin") && i + 1 < argc)
      signIn = argv[++i];
    else if (!std::strcmp(argv[i], "--print-datadir"))
      printDataDir = true;
  }
  if (printDataDir) {
    QCoreApplication app(argc, argv);
    Say("datadir " + DataDirectory().toStdString());
    return 0;
  }
  if (signIn == "enter" || signIn == "escape") {
    // The start-up's own dialog, pressed once it is up.
    hooks.signInCreated = [signIn](QDialog& dialog) {
      QDialog* d = &dialog;
      QTimer::singleShot(0, d, [d, signIn] {
        Say("signin-shown");
        PressKey(*d, signIn == "enter" ? Qt::Key_Return : Qt::Key_Escape);
      });
    };
  } else {
    hooks.makeSignIn = [signIn] {
      auto dialog = std::make_unique<QDialog>();
      QDialog* d = dialog.get();
      QTimer::singleShot(0, d, [d, signIn] {
        Say("signin-shown");
        if (signIn == "accept")
          d->accept();
        else if (signIn == "cancel")
          d->reject();
      });
      return dialog;
    };
  }
  hooks.mainWindowCreated = [](Tfrmmain& window) {
    QObject::connect(&window, &Tfrmmain::BroughtToFront, [] { Say("activated"); });
    Say("main-window");
    Say("user " + GlobalVars.UserName.toStdString());
  };
  return mt::app::RunProgram(argc, argv, hooks);
}
