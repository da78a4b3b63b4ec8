// Start-up in its fixed order:
//  1-2. a signed-in copy answering on the instance socket is asked to come to the front, and
//       this copy ends with 0 without showing anything;
//  3.   the application object, and the password dialog for encrypted tables;
//  4-6. the sign-in dialog, modal, destroyed whatever happens; anything but OK ends with 0;
//  7.   the application name "Mintora";
//  8-9. the main window (which starts listening for later copies) and the hidden user
//       management window;
//  10.  the message loop until the main window closes.
#include "startup.h"

#include <exception>

#include "accounts/uUser.h"
#include "accounts/ulogin.h"
#include "application.h"
#include "enginepassword.h"
#include "gbktext.h"
#include "singleinstance.h"
#include "umain.h"

namespace mt::app {

int RunProgram(int& argc, char** argv, const TStartupHooks& hooks) {
  // The instance check needs Qt's socket machinery, so the application object comes first;
  // it shows nothing, so a refused copy still ends without a trace.
  TMintoraApplication application(argc, argv);
  const QString serverName =
      hooks.instanceServerName.isEmpty() ? InstanceServerName() : hooks.instanceServerName;
  if (ActivateRunningCopy(serverName)) return 0;
  // An encrypted table asks for its password from the first table the program opens on.
  InstallEnginePasswordDialog();

  int signInResult = QDialog::Rejected;
  try {
    std::unique_ptr<QDialog> signIn =
        hooks.makeSignIn ? hooks.makeSignIn() : std::make_unique<Tfrmlogin>();
    if (hooks.signInCreated) hooks.signInCreated(*signIn);
    signInResult = signIn->exec();
  } catch (const std::exception& e) {
    TMintoraApplication::ShowError(FromGbk(e.what()));
    return 1;
  }
  if (signInResult != QDialog::Accepted) return 0;

  // The application's own name (the desktop's task list and window grouping). Not the
  // display name: Qt appends that to every window title, and captions are shown as designed.
  QGuiApplication::setApplicationName(QStringLiteral("Mintora"));
  Tfrmmain mainWindow(serverName);
  TfrmUser userWindow(&mainWindow);
  mainWindow.SetUserWindow(&userWindow);
  if (hooks.mainWindowCreated) hooks.mainWindowCreated(mainWindow);
  mainWindow.show();
  return application.exec();
}

}  // namespace mt::app
