// Application object with the default error box.
#include "application.h"

#include <exception>

#include "gbktext.h"
#include "prompt.h"

TMintoraApplication::TMintoraApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TMintoraApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowError(FromGbk(e.what()));  // engine texts are GBK
  } catch (...) {
    ShowError(QStringLiteral("Unknown error"));
  }
  return false;
}

void TMintoraApplication::ShowError(const QString& message) {
  Prompt().Message(QApplication::activeWindow(), TPrompt::TIcon::Critical,
                   QStringLiteral("Mintora"), message);
}
