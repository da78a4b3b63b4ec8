// Single-instance listener and the second copy's activate request.
#include "singleinstance.h"

#include <QLocalSocket>
#include <QPointer>

#include <unistd.h>

namespace {
constexpr char kActivateRequest[] = "activate\n";
constexpr int kConnectTimeoutMs = 1000;
}  // namespace

QString InstanceServerName() {
  return QStringLiteral("Mintora-%1").arg(::getuid());
}

bool ActivateRunningCopy(const QString& serverName) {
  QLocalSocket socket;
  socket.connectToServer(serverName);
  if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
  socket.write(kActivateRequest);
  socket.waitForBytesWritten(kConnectTimeoutMs);
  socket.disconnectFromServer();
  return true;
}

TInstanceListener::TInstanceListener(const QString& serverName, QObject* parent) : QObject(parent) {
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, &TInstanceListener::Accept);
  if (server_.listen(serverName)) return;
  if (server_.serverError() != QAbstractSocket::AddressInUseError) return;
  // The name is taken. A copy that answers is alive (two copies signed in at once: both keep
  // running, the first keeps the name); a name nobody answers on is left over from a copy
  // that died, so take it over.
  QLocalSocket probe;
  probe.connectToServer(serverName);
  if (probe.waitForConnected(kConnectTimeoutMs)) return;
  QLocalServer::removeServer(serverName);
  server_.listen(serverName);
}

void TInstanceListener::Accept() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QPointer<QLocalSocket> guard(socket);
    connect(socket, &QLocalSocket::readyRead, this, [this, guard] {
      if (!guard) return;
      if (guard->readAll().contains("activate")) Q_EMIT ActivateRequested();
    });
  }
}
