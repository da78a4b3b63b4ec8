// The about dialog; see uabout.h.
#include "uabout.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "antLabel.h"
#include "desktop.h"

namespace {

const QString kNotice = QStringLiteral(
    "Mintora 是一个家庭理财小软件，由 Coinhollow 的几位朋友利用业余时间编写，"
    "可以自由使用和传播。\n如果您在使用中发现问题或有好的建议，欢迎到我们的论坛留言。");

}  // namespace

const QStringList& Tfrmabout::HistoryLines() {
  static const QStringList lines{
      QStringLiteral("<版本历史>"),
      QString(40, '='),
      QStringLiteral("1.05  "),
      QStringLiteral("      2004-4-23  修改了每月“收支对比图”,用户可以统计每月的余额"),
      QStringLiteral("                 了"),
      QStringLiteral("      2004-4-22  为\"收支记帐\"添加了统计功能，将收入支出的合计"),
      QStringLiteral("                 显示到状态栏中"),
      QStringLiteral("      2004-4-20  为“收支记帐”添加了排序功能"),
      QStringLiteral(" "),
      QStringLiteral("1.04  "),
      QStringLiteral("      2004-4-15  添加了“某月每日支出对比图”"),
  };
  return lines;
}

Tfrmabout::Tfrmabout(QWidget* parent) : QDialog(parent) {
  setObjectName("frmabout");
  setWindowTitle(QStringLiteral("关于..."));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

  auto* group = new QButtonGroup(this);
  auto* tabs = new QHBoxLayout;
  tabs->setSpacing(2);
  const QString captions[2] = {QStringLiteral("版权声明"), QStringLiteral("版本历史")};
  for (int i = 0; i < 2; ++i) {
    auto* b = new QToolButton(this);
    b->setObjectName(QStringLiteral("SpeedButton%1").arg(i + 1));
    b->setText(captions[i]);
    b->setCheckable(true);
    b->setAutoRaise(true);
    group->addButton(b, i);
    tabs->addWidget(b);
    pageButtons_[i] = b;
  }
  tabs->addStretch(1);

  pages_ = new QStackedWidget(this);
  pages_->setObjectName("Notebook1");
  pages_->setFrameStyle(QFrame::Panel | QFrame::Sunken);

  auto* copyright = new QWidget(pages_);
  title_ = new QLabel(copyright);
  title_->setObjectName("Label1");
  QFont big = title_->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  big.setBold(true);
  title_->setFont(big);
  auto* notice = new QPlainTextEdit(kNotice, copyright);
  notice->setObjectName("Memo1");
  notice->setReadOnly(true);
  notice->setFrameStyle(QFrame::NoFrame);
  notice->viewport()->setAutoFillBackground(false);
  auto* blank = new QLabel(QString(), copyright);
  blank->setObjectName("Label2");
  link_ =
      new TantLabel(QStringLiteral("请访问我们的论坛，Coinhollow ： ") + ForumAddress(), copyright);
  link_->setObjectName("antLabel1");
  connect(link_, &TantLabel::clicked, this, [] { Desktop().OpenUrl(QUrl(ForumAddress())); });
  auto* copyrightLayout = new QVBoxLayout(copyright);
  copyrightLayout->addWidget(title_);
  copyrightLayout->addWidget(notice, 1);
  copyrightLayout->addWidget(blank);
  copyrightLayout->addWidget(link_);
  pages_->addWidget(copyright);

  history_ = new QPlainTextEdit(HistoryLines().join('\n'), pages_);
  history_->setObjectName("Memo2");
  history_->setReadOnly(true);
  history_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QPalette cream = history_->palette();
  cream.setColor(QPalette::Base, QColor(0xFF, 0xFB, 0xF0));
  history_->setPalette(cream);
  pages_->addWidget(history_);

  close_ = new QPushButton(QStringLiteral("关闭(&C)"), this);
  close_->setObjectName("BitBtn1");
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(close_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(tabs);
  layout->addWidget(pages_, 1);
  layout->addLayout(bottom);
  connect(group, &QButtonGroup::idClicked, this, &Tfrmabout::ShowPage);

  title_->setText(QStringLiteral("Mintora 1.05"));
  ShowPage(0);
  setFixedSize(460, 330);
}

void Tfrmabout::ShowPage(int page) {
  pages_->setCurrentIndex(page);
  pageButtons_[page]->setChecked(true);
}

int Tfrmabout::CurrentPage() const {
  return pages_->currentIndex();
}
