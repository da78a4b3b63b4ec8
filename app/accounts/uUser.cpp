// The user management window; see uUser.h.
#include "uUser.h"

#include <QAbstractItemView>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "accountsdata.h"
#include "gbktext.h"
#include "prompt.h"
#include "uAdduser.h"

using mt::accounts::UseDataDirectory;
using mt::accounts::Warn;

namespace {

constexpr char kAllAccountsSql[] = "select * from User";
// The account's name goes in as a parameter: a name holding a quote deletes that account.
constexpr char kDeleteAccountSql[] = "delete from User where name=:name";
// The unseen password of a row, kept on its first cell.
constexpr int kPasswordRole = Qt::UserRole + 1;

QPointer<TfrmUser>& ApplicationUserWindow() {
  static QPointer<TfrmUser> window;
  return window;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& caption) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setAutoDefault(false);
  return button;
}

}  // namespace

TfrmUser::TfrmUser(QWidget* parent) : QDialog(parent) {
  setObjectName("frmUser");
  setWindowTitle(QStringLiteral("用户管理"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  if (!ApplicationUserWindow()) ApplicationUserWindow() = this;

  ListView1 = new QTableWidget(0, 2, this);
  ListView1->setObjectName("ListView1");
  ListView1->setHorizontalHeaderLabels({QStringLiteral("用户名"), QStringLiteral("说明")});
  ListView1->setShowGrid(true);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView1->setWordWrap(false);
  ListView1->verticalHeader()->setVisible(false);
  ListView1->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  ListView1->horizontalHeader()->setSectionsClickable(false);
  ListView1->horizontalHeader()->setHighlightSections(false);
  ListView1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  ListView1->horizontalHeader()->setStretchLastSection(true);
  ListView1->setColumnWidth(0, 100);
  // The selected row stays marked while another control has the focus.
  QPalette palette = ListView1->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight,
                   palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  ListView1->setPalette(palette);

  QPushButton* add = Button(this, "BitBtn4", QStringLiteral("增加"));
  QPushButton* change = Button(this, "BitBtn2", QStringLiteral("修改"));
  QPushButton* remove = Button(this, "BitBtn3", QStringLiteral("删除"));
  QPushButton* close = Button(this, "BitBtn1", QStringLiteral("关闭"));
  connect(add, &QPushButton::clicked, this, &TfrmUser::BitBtn4Click);
  connect(change, &QPushButton::clicked, this, &TfrmUser::BitBtn2Click);
  connect(remove, &QPushButton::clicked, this, &TfrmUser::BitBtn3Click);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);

  auto* list = new QVBoxLayout;
  list->addWidget(new QLabel(QStringLiteral("用户列表:"), this));
  list->addWidget(ListView1);
  auto* buttons = new QVBoxLayout;
  buttons->addSpacing(fontMetrics().height() + 4);
  buttons->addWidget(add);
  buttons->addWidget(change);
  buttons->addWidget(remove);
  buttons->addStretch();
  buttons->addWidget(close);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(list, 1);
  layout->addLayout(buttons);
  setFixedSize(400, 260);
}

TfrmUser::~TfrmUser() = default;

TfrmUser* TfrmUser::ApplicationWindow() {
  return ApplicationUserWindow().data();
}

void TfrmUser::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FillList();
}

void TfrmUser::FillList() {
  ListView1->setRowCount(0);
  UseDataDirectory(query_);
  query_.SetSQL(kAllAccountsSql);
  query_.Open();
  for (; !query_.Eof(); query_.Next()) {
    const int row = ListView1->rowCount();
    ListView1->insertRow(row);
    auto* name = new QTableWidgetItem(FromGbk(query_.FieldByName("name").AsString()));
    name->setData(kPasswordRole, FromGbk(query_.FieldByName("password").AsString()));
    ListView1->setItem(row, 0, name);
    ListView1->setItem(row, 1,
                       new QTableWidgetItem(FromGbk(query_.FieldByName("fullname").AsString())));
  }
  query_.Close();
}

int TfrmUser::SelectedRow() const {
  const QList<QTableWidgetSelectionRange> ranges = ListView1->selectedRanges();
  return ranges.isEmpty() ? -1 : ranges.first().topRow();
}

void TfrmUser::BitBtn4Click() {
  TfrmAdduser dialog(this);
  dialog.setWindowTitle(QStringLiteral("新增用户"));
  dialog.SetAdding(true);
  dialog.exec();
}

void TfrmUser::BitBtn2Click() {
  const int row = SelectedRow();
  if (row < 0) {
    Warn(this, QStringLiteral("请选中要修改的用户."));
    return;
  }
  TfrmAdduser dialog(this);
  dialog.setWindowTitle(QStringLiteral("用户编辑"));
  dialog.SetAdding(false);
  const QTableWidgetItem* name = ListView1->item(row, 0);
  dialog.Fill(name->text(), ListView1->item(row, 1)->text(), name->data(kPasswordRole).toString());
  dialog.exec();
}

void TfrmUser::BitBtn3Click() {
  const int row = SelectedRow();
  if (row < 0) {
    Warn(this, QStringLiteral("请选中要删除的用户."));
    return;
  }
  if (!Prompt().Confirm(this, QStringLiteral("Mintora"), QStringLiteral("确认要删除吗?"))) return;
  if (ListView1->rowCount() == 1) {
    Warn(this, QStringLiteral("至少要保留一个用户，否则下次无法登录了阿."));
    return;
  }
  UseDataDirectory(query_);
  query_.SetSQL(kDeleteAccountSql);
  query_.ParamByName("name").SetAsString(ToGbk(ListView1->item(row, 0)->text()));
  query_.ExecSQL();

  // The row that moves into the deleted one's place is selected, or the new last row.
  ListView1->removeRow(row);
  const int rows = ListView1->rowCount();
  if (rows > 0) ListView1->selectRow(row < rows ? row : rows - 1);
}
