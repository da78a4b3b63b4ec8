// The application object: a QApplication whose event delivery shows any exception that
// escapes an event handler in a critical message box and keeps the program running.
#pragma once

#include <QApplication>

class TMintoraApplication : public QApplication {
  Q_OBJECT
 public:
  TMintoraApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;

  // Shows an error the way the event loop does; for callers outside event delivery.
  static void ShowError(const QString& message);
};
