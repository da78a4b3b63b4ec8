// The main window. For now it carries the single-instance listener and brings itself to the
// front when a later copy of the program asks; its views and menus come with the main window
// proper.
#pragma once

#include <QMainWindow>

class TInstanceListener;

class Tfrmmain : public QMainWindow {
  Q_OBJECT
 public:
  explicit Tfrmmain(const QString& instanceServerName, QWidget* parent = nullptr);

  // Restores, raises and activates the window (the answer to a second start).
  void BringToFront();
  TInstanceListener* InstanceListener() const { return listener_; }

 signals:
  void BroughtToFront();

 private:
  TInstanceListener* listener_;
};
