// Main window (shell for now).
#include "umain.h"

#include <QLabel>

#include "singleinstance.h"

Tfrmmain::Tfrmmain(const QString& instanceServerName, QWidget* parent)
    : QMainWindow(parent), listener_(new TInstanceListener(instanceServerName, this)) {
  setObjectName("frmmain");
  setWindowTitle("Mintora");
  auto* label = new QLabel(this);
  label->setObjectName("lblPlaceholder");
  setCentralWidget(label);
  resize(800, 600);
  connect(listener_, &TInstanceListener::ActivateRequested, this, &Tfrmmain::BringToFront);
}

void Tfrmmain::BringToFront() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
  emit BroughtToFront();
}
