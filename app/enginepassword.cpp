// The engine's password dialog; see enginepassword.h.
#include "enginepassword.h"

#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "gbktext.h"

namespace {

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TEnginePasswordDialog::TEnginePasswordDialog(mt::TEngineSession& session, QWidget* parent)
    : QDialog(parent), state_(session) {
  setObjectName("EnginePasswordDialog");
  setWindowTitle(Text(mt::pwdtext::kCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

  auto* group = new QGroupBox(Text(mt::pwdtext::kGroup), this);
  group->setObjectName("GroupBox1");
  edit_ = new QLineEdit(group);
  edit_->setObjectName("Edit");
  edit_->setEchoMode(QLineEdit::Password);
  add_ = new QPushButton(Text(mt::pwdtext::kAdd), group);
  add_->setObjectName("AddButton");
  remove_ = new QPushButton(Text(mt::pwdtext::kRemove), group);
  remove_->setObjectName("RemoveButton");
  removeAll_ = new QPushButton(Text(mt::pwdtext::kRemoveAll), group);
  removeAll_->setObjectName("RemoveAllButton");
  for (QPushButton* b : {add_, remove_, removeAll_})
    b->setAutoDefault(false);
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->addWidget(edit_);
  auto* groupButtons = new QHBoxLayout;
  groupButtons->addWidget(add_);
  groupButtons->addWidget(remove_);
  groupButtons->addWidget(removeAll_);
  groupLayout->addLayout(groupButtons);

  ok_ = new QPushButton(Text(mt::pwdtext::kOk), this);
  ok_->setObjectName("OKButton");
  ok_->setDefault(true);
  cancel_ = new QPushButton(Text(mt::pwdtext::kCancel), this);
  cancel_->setObjectName("CancelButton");
  cancel_->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addLayout(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(300, 0)));
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  connect(edit_, &QLineEdit::textChanged, this, &TEnginePasswordDialog::TextChanged);
  connect(add_, &QPushButton::clicked, this, [this] {
    state_.Add();
    edit_->clear();
    UpdateButtons();
  });
  connect(remove_, &QPushButton::clicked, this, [this] {
    state_.Remove();
    UpdateButtons();
  });
  connect(removeAll_, &QPushButton::clicked, this, [this] {
    state_.RemoveAll();
    UpdateButtons();
  });
  connect(ok_, &QPushButton::clicked, this, [this] {
    state_.Ok();
    accept();
  });
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  UpdateButtons();
}

void TEnginePasswordDialog::TextChanged(const QString& text) {
  state_.SetText(ToGbk(text));
  UpdateButtons();
}

void TEnginePasswordDialog::UpdateButtons() {
  add_->setEnabled(state_.AddEnabled());
  remove_->setEnabled(state_.RemoveEnabled());
  ok_->setEnabled(state_.OkEnabled());
}

void InstallEnginePasswordDialog() {
  mt::SetPasswordDialog([](mt::TEngineSession& session) {
    TEnginePasswordDialog dialog(session, QApplication::activeWindow());
    return dialog.exec() == QDialog::Accepted;
  });
}
