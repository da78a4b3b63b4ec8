// The home page; see umainpage.h.
#include "umainpage.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "antLabel.h"
#include "desktop.h"
#include "globals.h"
#include "sumquery.h"
#include "umain.h"

namespace {

// Links per row inside a group; a long caption takes a row of its own.
constexpr int kLinksPerRow = 5;
constexpr int kLongCaption = 12;

}  // namespace

const std::vector<TfrmMainpage::TLinkGroup>& TfrmMainpage::LinkGroups() {
  static const std::vector<TLinkGroup> groups{
      {QStringLiteral("  帐薄管理  "),
       {{"antLabel1", QStringLiteral("重新登录"), "mnulogin"},
        {"antLabel2", QStringLiteral("密码设置"), "mnuUser"},
        {"antLabel3", QStringLiteral("数据备份"), "N5"},
        {"antLabel4", QStringLiteral("数据恢复"), "N6"}}},
      {QStringLiteral("  收支管理  "),
       {{"antLabel5", QStringLiteral("日常收支记账"), "btnszjz"},
        {"antLabel6", QStringLiteral("收支分类项目"), "mnuitems"},
        {"antLabel7", QStringLiteral("收支对比图"), "mnuSzdb"},
        {"antLabel8", QStringLiteral("月平均收支图"), "mnuYpjsz"},
        {"antLabel13", QStringLiteral("每月支出对比图"), "N14"}}},
      {QStringLiteral("  理财助手  "),
       {{"antLabel9", QStringLiteral("理财日记"), "btnlcrj"},
        {"antLabel10", QStringLiteral("数字计算器"), "N20"},
        {"antLabel11",
         QStringLiteral("欢迎光临Coinhollow：") + ForumAddress() +
             QStringLiteral(",讨论理财、文学、娱乐、摄影、时事等等。"),
         "N22"},
        {"antLabel12", QStringLiteral("事关个人财务安全，请经常备份！"), "N5"}}},
  };
  return groups;
}

QString TfrmMainpage::BalanceText(double allInput, double allOutput) {
  return QStringLiteral("我的余额: ") + FormatMoney(allInput - allOutput);
}

TfrmMainpage::TfrmMainpage(Tfrmmain& mainWindow, QWidget* parent)
    : QWidget(parent), mainWindow_(mainWindow) {
  setObjectName("frmMainpage");
  setWindowTitle(QStringLiteral("我的帐薄"));
  setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 18, 24, 18);
  layout->setSpacing(14);

  label1_ = new QLabel(QStringLiteral("我的余额:"), this);
  label1_->setObjectName("Label1");
  QFont big = label1_->font();
  big.setPointSizeF(big.pointSizeF() * 1.5);
  big.setBold(true);
  label1_->setFont(big);
  layout->addWidget(label1_);

  for (const TLinkGroup& group : LinkGroups()) {
    auto* box = new QGroupBox(group.caption, this);
    auto* rows = new QVBoxLayout(box);
    rows->setSpacing(10);
    QHBoxLayout* row = nullptr;
    int inRow = kLinksPerRow;
    for (const TLink& link : group.links) {
      auto* label = new TantLabel(link.caption, box);
      label->setObjectName(link.name);
      label->SetColor3d(false);
      const bool wide = link.caption.size() > kLongCaption;
      if (wide || inRow >= kLinksPerRow) {
        if (row) row->addStretch(1);
        row = new QHBoxLayout;
        row->setSpacing(28);
        rows->addLayout(row);
        inRow = 0;
      }
      row->addWidget(label);
      inRow = wide ? kLinksPerRow : inRow + 1;
      const QString target = link.target;
      connect(label, &TantLabel::clicked, this, [this, target] { mainWindow_.Choose(target); });
    }
    if (row) row->addStretch(1);
    layout->addWidget(box);
  }
  layout->addStretch(1);
}

void TfrmMainpage::ShowBalance(TSumQuery& query) {
  const double allInput = query.Sum(kIncomeSql, kIncomeColumn);
  const double allOutput = query.Sum(kExpenseSql, kExpenseColumn);
  label1_->setText(BalanceText(allInput, allOutput));
}

QString TfrmMainpage::BalanceLabel() const {
  return label1_->text();
}

TantLabel* TfrmMainpage::Link(const QString& name) const {
  return findChild<TantLabel*>(name);
}

void TfrmMainpage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  if (std::unique_ptr<TSumQuery> query = DataDirectorySumQuery()) ShowBalance(*query);
}
