// The engine's password dialog as a Qt dialog: when a table the program opens is encrypted and
// the session does not know its password, the dataset layer calls the installed dialog
// (dbaccess/passworddialog.h), which shows "Enter password" modally; the engine tries the
// table again when it ends with OK. The buttons' rules and actions are the layer's
// TPasswordDialogState; this file only binds widgets to it.
#pragma once

#include <QDialog>

#include "dbaccess/passworddialog.h"

class QLineEdit;
class QPushButton;

class TEnginePasswordDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TEnginePasswordDialog(mt::TEngineSession& session, QWidget* parent = nullptr);

  QLineEdit* Edit() const { return edit_; }
  QPushButton* AddButton() const { return add_; }
  QPushButton* RemoveButton() const { return remove_; }
  QPushButton* RemoveAllButton() const { return removeAll_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 private:
  void TextChanged(const QString& text);
  void UpdateButtons();

  mt::TPasswordDialogState state_;
  QLineEdit* edit_;
  QPushButton* add_;
  QPushButton* remove_;
  QPushButton* removeAll_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

// Hands the dialog to the dataset layer (done once at start-up, before any table opens).
void InstallEnginePasswordDialog();
