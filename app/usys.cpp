// The settings dialog and the autostart entry; see usys.h.
#include "usys.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSaveFile>
#include <QTextStream>
#include <QVBoxLayout>

namespace {

// Exec values quote a path holding blanks or other reserved characters; inside quotes `"`,
// "`", "$" and "\" are escaped with a backslash.
QString QuoteExec(const QString& path) {
  static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
  bool plain = true;
  for (QChar c : path)
    if (reserved.contains(c)) plain = false;
  if (plain) return path;
  QString quoted = QStringLiteral("\"");
  for (QChar c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

QString UnquoteExec(const QString& value) {
  if (!value.startsWith('"')) return value;
  QString path;
  for (qsizetype i = 1; i < value.size(); ++i) {
    const QChar c = value[i];
    if (c == '"') break;
    if (c == '\\' && i + 1 < value.size()) {
      path += value[++i];
      continue;
    }
    path += c;
  }
  return path;
}

}  // namespace

TAutostart::TAutostart(QString programPath) : programPath_(std::move(programPath)) {
  if (programPath_.isEmpty()) programPath_ = QCoreApplication::applicationFilePath();
}

QString TAutostart::EntryFile() {
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (config.isEmpty() || !QDir::isAbsolutePath(config)) config = QDir::homePath() + "/.config";
  return config + "/autostart/Mintora.desktop";
}

QString TAutostart::EntryProgram() {
  QFile file(EntryFile());
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  QTextStream in(&file);
  bool inEntry = false;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.startsWith('[')) {
      inEntry = line == QStringLiteral("[Desktop Entry]");
      continue;
    }
    if (inEntry && line.startsWith(QStringLiteral("Exec=")))
      return UnquoteExec(line.mid(5).trimmed());
  }
  return {};
}

bool TAutostart::IsOn() const {
  const QString program = EntryProgram();
  return !program.isEmpty() && program.compare(programPath_, Qt::CaseInsensitive) == 0;
}

bool TAutostart::SetOn(bool on) const {
  const QString path = EntryFile();
  if (!on) return !QFile::exists(path) || QFile::remove(path);
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return false;
  QTextStream out(&file);
  out << "[Desktop Entry]\n"
      << "Type=Application\n"
      << "Name=Mintora\n"
      << "Exec=" << QuoteExec(programPath_) << "\n";
  out.flush();
  return file.commit();
}

TfrmSys::TfrmSys(QWidget* parent, const TAutostart& autostart)
    : QDialog(parent), autostart_(autostart) {
  setObjectName("frmSys");
  setWindowTitle(QStringLiteral("系统设置"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

  checkBox1_ = new QCheckBox(QStringLiteral("Windows启动时自动启动<<Mintora>>"), this);
  checkBox1_->setObjectName("CheckBox1");
  checkBox1_->setChecked(true);  // as designed, until the entry is read
  bitBtn1_ = new QPushButton(QStringLiteral("确认"), this);
  bitBtn1_->setObjectName("BitBtn1");
  bitBtn1_->setDefault(true);
  bitBtn2_ = new QPushButton(QStringLiteral("取消"), this);
  bitBtn2_->setObjectName("BitBtn2");
  bitBtn2_->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(bitBtn1_);
  buttons->addWidget(bitBtn2_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 16, 16, 12);
  layout->addWidget(checkBox1_);
  layout->addSpacing(16);
  layout->addLayout(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(320, 0)));

  connect(bitBtn1_, &QPushButton::clicked, this, &TfrmSys::BitBtn1Click);
  connect(bitBtn2_, &QPushButton::clicked, this, &QDialog::reject);

  checkBox1_->setChecked(autostart_.IsOn());
}

void TfrmSys::BitBtn1Click() {
  autostart_.SetOn(checkBox1_->isChecked());  // a refused write is not reported
  accept();
}
