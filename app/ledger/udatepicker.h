// The calendar popup Tfrmdatepicker: a borderless white popup holding a month calendar, from
// which the ledger list window takes the start day of "显示从某天开始以来的记录".
//
// Shown, it sets the calendar to today and remembers that day. A click on a day of the
// remembered month hands that day over; a click that changes the month (a day of the next or
// previous month, the month arrows) remembers the new day and keeps the popup open, so the
// next click in that month picks. Losing the focus (a click elsewhere closes a popup) hands
// over the calendar's day as well. The day is handed over in GlobalVars.PickedDate as
// "yyyy-mm-dd", then Picked() is sent and the popup closes.
#pragma once

#include <QDate>
#include <QWidget>

class QCalendarWidget;

class Tfrmdatepicker : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kWidth = 282;
  static constexpr int kHeight = 160;

  explicit Tfrmdatepicker(QWidget* parent = nullptr);

  QCalendarWidget* MonthCalendar1() const { return calendar_; }
  // The day the month rule compares with.
  QDate Remembered() const { return remembered_; }
  // A click that leaves the calendar on that day.
  void CalendarClicked(const QDate& day);

  // Where the popup goes for a button whose bottom-left corner is at anchor (screen
  // coordinates): there, moved left as far as needed to end at the screen's right edge.
  static QPoint Position(const QPoint& anchor, const QRect& screen);

 Q_SIGNALS:
  void Picked();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void HandOver();
  // The calendar moved to another month without a click on a day of it.
  void PageChanged(int year, int month);

  QCalendarWidget* calendar_;
  QDate remembered_;
  bool handedOver_ = false;
};
