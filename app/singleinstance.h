// The single-instance rule: a signed-in copy listens on a local socket named "Mintora-" + the
// user id; a second start connects, sends the activate request and exits, and the running
// copy brings its main window to the front. Before sign-in there is no listener, so a copy
// still showing its sign-in dialog does not stop another copy from starting.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

// "Mintora-" + the real user id.
QString InstanceServerName();

// Asks a running signed-in copy to come to the front. True when one answered the connection
// (this copy should then end), false when none is running.
bool ActivateRunningCopy(const QString& serverName);

// Listens for activate requests from later copies. Owned by the main window.
class TInstanceListener : public QObject {
  Q_OBJECT
 public:
  TInstanceListener(const QString& serverName, QObject* parent);
  bool IsListening() const { return server_.isListening(); }

 Q_SIGNALS:
  void ActivateRequested();

 private:
  void Accept();
  QLocalServer server_;
};
