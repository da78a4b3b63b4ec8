// The sign-in dialog. For now a dialog that can be accepted or cancelled; the account list,
// password check and remembered passwords come with sign-in proper.
#pragma once

#include <QDialog>

class Tfrmlogin : public QDialog {
  Q_OBJECT
 public:
  explicit Tfrmlogin(QWidget* parent = nullptr);
};
