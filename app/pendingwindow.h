// Stand-ins for the views and dialogs of the main window that the program does not have yet:
// a plain window that shows its caption. Each carries the object name its real window will
// have (the class name without the leading T), so the main window and its tests treat it as
// that window; the real class replaces it in the main window's table of views and dialogs.
#pragma once

#include <QDialog>
#include <QWidget>

// A child view of the main window.
class TPendingView : public QWidget {
  Q_OBJECT
 public:
  TPendingView(const QString& className, const QString& caption, QWidget* parent = nullptr);
};

// A modal dialog with a close button.
class TPendingDialog : public QDialog {
  Q_OBJECT
 public:
  TPendingDialog(const QString& className, const QString& caption, QWidget* parent = nullptr);
};
