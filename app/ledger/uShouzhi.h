// The ledger list window TFrmShouzhi: the szzb entries from a start day onward in date order
// with a running balance, opened by the main window as its "收支记账" view.
//
// Loading: the opening balance is the ledger's income minus its expense before the start day
// (0 when every entry is shown); each row adds its income or subtracts its expense (types
// other than "0" and "1" change nothing), and its balance cell shows the result (empty when it
// is exactly 0). The stored balance column is not read. After each load the main window's
// second status panel shows the period's totals, "收入合计:x 支出合计:y".
//
// Periods ("显示选项"): since the first of this month (the first showing), since this week's
// Sunday, since today, everything, or since a day chosen in the calendar popup.
//
// Adding, changing (also a double-click) and deleting rows, and the export, work on the list as
// shown; the entry dialog writes its saved row straight into the list. Reloading keeps the
// query's date order until a header is clicked again.
#pragma once

#include <QDate>
#include <QPointer>
#include <QWidget>

#include "ledger/udatepicker.h"

class QAction;
class QMenu;
class QToolButton;
class TLedgerList;
class Tfrmmain;

class TFrmShouzhi : public QWidget {
  Q_OBJECT
 public:
  // `main` receives the totals in its status bar; it may be null (no status bar).
  explicit TFrmShouzhi(Tfrmmain* main = nullptr, QWidget* parent = nullptr);

  TLedgerList* ListView1() const { return list_; }
  // The "显示选项" menu and the list's context menu.
  QMenu* ShowMenu() const { return showMenu_; }
  QMenu* ContextMenu() const { return contextMenu_; }
  // The start day of the current load ("yyyy-mm-dd"), empty when every entry is shown.
  QString StartDate() const { return startDate_; }
  // The totals text of the last load.
  QString TotalsText() const { return totals_; }

  // The periods; each checks its menu item, sets the start day and reloads.
  void ShowSinceMonth();
  void ShowSinceWeek();
  void ShowSinceToday();
  void ShowAll();
  // Drops the calendar popup under "显示选项" and waits for its day.
  void ShowSinceChosenDay();
  // The open calendar popup, or nullptr.
  Tfrmdatepicker* DatePicker() const { return picker_; }

  // Sunday of the week holding that day.
  static QDate WeekStart(const QDate& day);

  // Reads the list afresh for the current start day.
  void Load();

  // The buttons and menu items.
  void Add();
  void Modify();
  void Delete();
  void Export();
  // Where Export writes (DefaultExportFile() unless set).
  void SetExportFile(const QString& file) { exportFile_ = file; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Choose(QAction* item, const QString& startDate);
  QToolButton* AddButton(const char* name, const QString& caption);
  void Warn(const QString& text);

  QPointer<Tfrmmain> main_;
  TLedgerList* list_;
  QToolButton* btnshow_ = nullptr;
  QMenu* showMenu_ = nullptr;
  QMenu* contextMenu_ = nullptr;
  QAction* sinceMonth_ = nullptr;
  QAction* sinceWeek_ = nullptr;
  QAction* sinceToday_ = nullptr;
  QAction* all_ = nullptr;
  QAction* sinceDay_ = nullptr;
  QPointer<Tfrmdatepicker> picker_;
  QString startDate_;
  QString totals_;
  QString exportFile_;
  bool shown_ = false;
};
