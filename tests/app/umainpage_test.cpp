// The home page: the balance text and the two statements behind it; its groups and links,
// each choosing the main window's own action; a link that switches views replaces the page.
#include <QAbstractButton>
#include <QGroupBox>
#include <QMdiArea>
#include <QPointer>
#include <QTest>

#include <stdexcept>

#include "antLabel.h"
#include "apptests.h"
#include "desktop.h"
#include "fixture.h"
#include "sumquery.h"
#include "umain.h"
#include "umainpage.h"

using mt::apptest::RunDeferredDeletes;
using mt::apptest::TMainWindowFixture;
using mt::apptest::TModalAnswerer;

namespace {

// Answers the sum statements with given totals and records what was asked.
class TFakeSums : public TSumQuery {
 public:
  TFakeSums(double income, double expense, bool failExpense = false)
      : income_(income), expense_(expense), failExpense_(failExpense) {}
  double Sum(std::string_view sql, std::string_view column) override {
    asked << QString::fromLatin1(sql.data(), sql.size()) + " | " +
                 QString::fromLatin1(column.data(), column.size());
    if (asked.size() == 1) return income_;
    if (failExpense_) throw std::runtime_error("Engine Error # 11949 SQL error");
    return expense_;
  }
  QStringList asked;

 private:
  double income_;
  double expense_;
  bool failExpense_;
};

}  // namespace

class TMainPageTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TMainWindowFixture> fixture_;

  Tfrmmain& Window() { return fixture_->Window(); }
  TfrmMainpage& Page() {
    auto* page = qobject_cast<TfrmMainpage*>(Window().CurrentView());
    Q_ASSERT(page);
    return *page;
  }

 private Q_SLOTS:
  void init() { fixture_ = std::make_unique<TMainWindowFixture>(); }
  void cleanup() { fixture_.reset(); }

  void balanceText_data() {
    QTest::addColumn<double>("income");
    QTest::addColumn<double>("expense");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty ledger") << 0.0 << 0.0 << "我的余额: 0.00";
    QTest::newRow("only expenses") << 0.0 << 35.0 << "我的余额: -35.00";
    QTest::newRow("no grouping") << 1234.5 << 0.0 << "我的余额: 1234.50";
    QTest::newRow("sums as typed") << 100.1 << 200.2 << "我的余额: -100.10";
    QTest::newRow("all spent") << 0.3 << (0.1 + 0.2) << "我的余额: 0.00";
  }
  void balanceText() {
    QFETCH(double, income);
    QFETCH(double, expense);
    QFETCH(QString, expected);
    QCOMPARE(TfrmMainpage::BalanceText(income, expense), expected);
  }

  void theBalanceComesFromTheTwoStatements() {
    TFakeSums sums(5000, 1234.5);
    Page().ShowBalance(sums);
    QCOMPARE(sums.asked,
             (QStringList{"select sum(input) as allinput from szzb where type='0' | allinput",
                          "select sum(output) as alloutput from szzb where type='1' | alloutput"}));
    QCOMPARE(Page().BalanceLabel(), QString("我的余额: 3765.50"));
  }

  void aFailedStatementLeavesTheLabelAsItWas() {
    const QString before = Page().BalanceLabel();
    TFakeSums sums(5000, 0, true);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, Page().ShowBalance(sums));
    QCOMPARE(Page().BalanceLabel(), before);
  }

  void theOpenedPageShowsTheSampleBalanceOnceStatementsRun() {
    QCOMPARE(Page().BalanceLabel(), TfrmMainpage::BalanceText(fixture_->data.TotalIncome(),
                                                              fixture_->data.TotalExpense()));
  }

  void groupsAndLinksAsDesigned() {
    QStringList groups;
    for (const QGroupBox* box : Page().findChildren<QGroupBox*>())
      groups << box->title();
    QCOMPARE(groups, (QStringList{"  帐薄管理  ", "  收支管理  ", "  理财助手  "}));
    const QStringList captions{
        "重新登录",      "密码设置",     "数据备份",   "数据恢复",
        "日常收支记账",  "收支分类项目", "收支对比图", "月平均收支图",
        "理财日记",      "数字计算器",   "",           "事关个人财务安全，请经常备份！",
        "每月支出对比图"};
    for (int i = 0; i < captions.size(); ++i) {
      TantLabel* link = Page().Link(QString("antLabel%1").arg(i + 1));
      QVERIFY2(link, qPrintable(QString("antLabel%1").arg(i + 1)));
      QVERIFY(!link->Color3d());
      if (!captions[i].isEmpty()) QCOMPARE(link->text(), captions[i]);
    }
    QCOMPARE(Page().Link("antLabel11")->text(),
             "欢迎光临Coinhollow：" + ForumAddress() + ",讨论理财、文学、娱乐、摄影、时事等等。");
  }

  void everyLinkRunsItsMainWindowAction_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("view");     // the view it opens, or empty
    QTest::addColumn<QString>("button");   // the button then pressed
    QTest::addColumn<QString>("dialog");   // the dialog (or file dialog's title) it opens, or empty
    QTest::addColumn<QString>("desktop");  // "url" or "calculator", or empty
    QTest::newRow("重新登录") << "antLabel1"
                              << ""
                              << "btnwdzb"
                              << "frmlogin"
                              << "";
    QTest::newRow("密码设置") << "antLabel2"
                              << ""
                              << "btnwdzb"
                              << "frmUser"
                              << "";
    QTest::newRow("数据备份") << "antLabel3"
                              << ""
                              << "btnwdzb"
                              << "将数据备份到"
                              << "";
    QTest::newRow("数据恢复") << "antLabel4"
                              << ""
                              << "btnwdzb"
                              << "数据恢复"
                              << "";
    QTest::newRow("日常收支记账") << "antLabel5"
                                  << "FrmShouzhi"
                                  << "btnszjz"
                                  << ""
                                  << "";
    QTest::newRow("收支分类项目") << "antLabel6"
                                  << ""
                                  << "btnwdzb"
                                  << "frmItems"
                                  << "";
    QTest::newRow("收支对比图") << "antLabel7"
                                << "frmchart"
                                << "btnhztb"
                                << ""
                                << "";
    QTest::newRow("月平均收支图") << "antLabel8"
                                  << "frmChart2"
                                  << "btnhztb"
                                  << ""
                                  << "";
    QTest::newRow("每月支出对比图") << "antLabel13"
                                    << "frmchart3"
                                    << "btnhztb"
                                    << ""
                                    << "";
    QTest::newRow("理财日记") << "antLabel9"
                              << "frmdiary"
                              << "btnlcrj"
                              << ""
                              << "";
    QTest::newRow("数字计算器") << "antLabel10"
                                << ""
                                << "btnwdzb"
                                << ""
                                << "calculator";
    QTest::newRow("论坛") << "antLabel11"
                          << ""
                          << "btnwdzb"
                          << ""
                          << "url";
    QTest::newRow("请经常备份") << "antLabel12"
                                << ""
                                << "btnwdzb"
                                << "将数据备份到"
                                << "";
  }
  void everyLinkRunsItsMainWindowAction() {
    QFETCH(QString, link);
    QFETCH(QString, view);
    QFETCH(QString, button);
    QFETCH(QString, dialog);
    QFETCH(QString, desktop);
    QDialog users(&Window());
    users.setObjectName("frmUser");
    Window().SetUserWindow(&users);
    // Calculators are looked for on PATH; one that is there is enough to see the call.
    const bool haveCalculator = !FindCalculator().isEmpty();
    QPointer<QWidget> home = Window().CurrentView();
    TModalAnswerer answerer;
    TantLabel* label = Page().Link(link);
    label->show();
    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(2, 2));
    RunDeferredDeletes();

    // File dialogs are answered by the recording prompt (cancelled).
    QCOMPARE(answerer.seen + fixture_->prompt.fileDialogs,
             dialog.isEmpty() ? QStringList() : QStringList{dialog});
    QCOMPARE(Window().PressedButton()->objectName(), button);
    if (view.isEmpty()) {
      QVERIFY(!home.isNull());
      QCOMPARE(Window().CurrentView(), home.data());
    } else {
      // The switch closed the page whose link started it.
      QVERIFY(home.isNull());
      QCOMPARE(Window().CurrentView()->objectName(), view);
      QCOMPARE(Window().MdiArea()->subWindowList().size(), 1);
    }
    QCOMPARE(fixture_->desktop.urls,
             desktop == "url" ? QList<QUrl>{QUrl(ForumAddress())} : QList<QUrl>());
    QCOMPARE(fixture_->desktop.started.size(), desktop == "calculator" && haveCalculator ? 1 : 0);
  }
};

MINTORA_APP_TEST(MainPage, TMainPageTest);
#include "umainpage_test.moc"
