// Stand-in views and dialogs.
#include "pendingwindow.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The caption, large and centred.
QLabel* CaptionLabel(const QString& caption, QWidget* parent) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName("lblCaption");
  label->setAlignment(Qt::AlignCenter);
  QFont f = label->font();
  f.setPointSizeF(f.pointSizeF() * 1.6);
  label->setFont(f);
  return label;
}

}  // namespace

TPendingView::TPendingView(const QString& className, const QString& caption, QWidget* parent)
    : QWidget(parent) {
  setObjectName(className.mid(1));
  setWindowTitle(caption);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(CaptionLabel(caption, this));
}

TPendingDialog::TPendingDialog(const QString& className, const QString& caption, QWidget* parent)
    : QDialog(parent) {
  setObjectName(className.mid(1));
  setWindowTitle(caption);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(CaptionLabel(caption, this));
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(320, 160);
}
