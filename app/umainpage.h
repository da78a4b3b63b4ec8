// The home page: the first view of the main window after sign-in. It shows the balance of the
// whole ledger (income entries' sum less expense entries' sum) and link labels, grouped like
// the main menu, each of which chooses one of the main window's menu items or buttons.
// The balance is read once, when the page opens; a page opened afresh reads it again.
#pragma once

#include <QString>
#include <QWidget>

#include <string_view>
#include <vector>

class QLabel;
class TSumQuery;
class Tfrmmain;
class TantLabel;

class TfrmMainpage : public QWidget {
  Q_OBJECT
 public:
  // A link: its label's object name and caption, and the main window's menu item or button it
  // chooses. Grouped under the group captions in this order.
  struct TLink {
    QString name;
    QString caption;
    QString target;
  };
  struct TLinkGroup {
    QString caption;
    std::vector<TLink> links;
  };
  static const std::vector<TLinkGroup>& LinkGroups();

  // The two totals of the balance; rows whose type is neither "0" nor "1" count in neither.
  static constexpr std::string_view kIncomeSql =
      "select sum(input) as allinput from szzb where type='0'";
  static constexpr std::string_view kIncomeColumn = "allinput";
  static constexpr std::string_view kExpenseSql =
      "select sum(output) as alloutput from szzb where type='1'";
  static constexpr std::string_view kExpenseColumn = "alloutput";

  // "我的余额: " and the balance with two decimals.
  static QString BalanceText(double allInput, double allOutput);

  explicit TfrmMainpage(Tfrmmain& mainWindow, QWidget* parent = nullptr);

  // Reads the income total, then the expense total, and shows the balance. A failure of
  // either leaves the label as it was.
  void ShowBalance(TSumQuery& query);
  QString BalanceLabel() const;
  TantLabel* Link(const QString& name) const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  Tfrmmain& mainWindow_;
  QLabel* label1_;
  bool shown_ = false;
};
