// Start-up probe: the program's own start-up sequence with a scripted sign-in, reporting on
// stdout what happens, so tests can run real separate copies.
//   --server NAME             instance socket name (keeps tests apart from a real copy)
//   --signin accept|cancel|hold
//   --print-datadir           print the data directory and exit
// Lines printed: "signin-shown", "main-window", "activated", "datadir PATH".
#include <QCoreApplication>
#include <QDialog>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>

#include "datadir.h"
#include "startup.h"
#include "umain.h"

namespace {
void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
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
  hooks.mainWindowCreated = [](Tfrmmain& window) {
    QObject::connect(&window, &Tfrmmain::BroughtToFront, [] { Say("activated"); });
    Say("main-window");
  };
  return mt::app::RunProgram(argc, argv, hooks);
}
