// Stand-in views and dialogs.
#include "pendingwindow.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Names the window after the class it stands for, captions it and shows the caption large and
// centred in its layout, which it returns.
QVBoxLayout* Dress(QWidget& window, const QString& className, const QString& caption) {
  window.setObjectName(className.mid(1));
  window.setWindowTitle(caption);
  auto* layout = new QVBoxLayout(&window);
  auto* label = new QLabel(caption, &window);
  label->setObjectName("lblCaption");
  label->setAlignment(Qt::AlignCenter);
  QFont f = label->font();
  f.setPointSizeF(f.pointSizeF() * 1.6);
  label->setFont(f);
  layout->addWidget(label);
  return layout;
}

}  // namespace

TPendingView::TPendingView(const QString& className, const QString& caption, QWidget* parent)
    : QWidget(parent) {
  Dress(*this, className, caption);
}

TPendingDialog::TPendingDialog(const QString& className, const QString& caption, QWidget* parent)
    : QDialog(parent) {
  QVBoxLayout* layout = Dress(*this, className, caption);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(320, 160);
}
