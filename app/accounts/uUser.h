// The user management window, created once at start-up and shown modally on request. For now
// an empty dialog; the account list and its commands come with user management proper.
#pragma once

#include <QDialog>

class TfrmUser : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmUser(QWidget* parent = nullptr);
};
