// Sign-in dialog (shell for now).
#include "ulogin.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>

Tfrmlogin::Tfrmlogin(QWidget* parent) : QDialog(parent) {
  setObjectName("frmlogin");
  setWindowTitle(QStringLiteral("Mintora"));
  auto* buttons = new QDialogButtonBox(this);
  auto* ok = buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
  ok->setObjectName("BitBtn1");
  auto* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
  cancel->setObjectName("BitBtn2");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(buttons);
}
