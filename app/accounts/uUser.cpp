// User management window (shell for now).
#include "uUser.h"

TfrmUser::TfrmUser(QWidget* parent) : QDialog(parent) {
  setObjectName("frmUser");
  setWindowTitle(QStringLiteral("密码设置"));
}
