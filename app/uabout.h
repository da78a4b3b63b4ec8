// The about dialog "关于...": two pages chosen by flat buttons ("版权声明" with the title, a
// notice about the makers and the forum link; "版本历史" with the version history) and
// "关闭(&C)" below them.
#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QToolButton;
class TantLabel;

class Tfrmabout : public QDialog {
  Q_OBJECT
 public:
  explicit Tfrmabout(QWidget* parent = nullptr);

  // The version history, line by line.
  static const QStringList& HistoryLines();

  // Shows page 0 ("版权声明") or 1 ("版本历史").
  void ShowPage(int page);
  int CurrentPage() const;
  QToolButton* PageButton(int page) const { return pageButtons_[page]; }
  QLabel* Title() const { return title_; }
  TantLabel* ForumLink() const { return link_; }
  QPlainTextEdit* History() const { return history_; }
  QPushButton* CloseButton() const { return close_; }

 private:
  QStackedWidget* pages_;
  QToolButton* pageButtons_[2] = {};
  QLabel* title_;
  TantLabel* link_;
  QPlainTextEdit* history_;
  QPushButton* close_;
};
