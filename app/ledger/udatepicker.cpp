// The calendar popup; see udatepicker.h.
#include "udatepicker.h"

#include <QCalendarWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "clock.h"
#include "globals.h"

Tfrmdatepicker::Tfrmdatepicker(QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint), calendar_(new QCalendarWidget(this)) {
  setObjectName("frmdatepicker");
  setAttribute(Qt::WA_DeleteOnClose);
  setAutoFillBackground(true);
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);
  setFixedSize(kWidth, kHeight);

  calendar_->setObjectName("MonthCalendar1");
  calendar_->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
  calendar_->setGridVisible(false);
  connect(calendar_, &QCalendarWidget::clicked, this, &Tfrmdatepicker::CalendarClicked);
  connect(calendar_, &QCalendarWidget::currentPageChanged, this, &Tfrmdatepicker::PageChanged);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(calendar_);
}

QPoint Tfrmdatepicker::Position(const QPoint& anchor, const QRect& screen) {
  QPoint at = anchor;
  if (at.x() + kWidth > screen.right() + 1) at.setX(screen.right() + 1 - kWidth);
  return at;
}

void Tfrmdatepicker::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  remembered_ = Today();
  calendar_->setSelectedDate(remembered_);
  calendar_->setCurrentPage(remembered_.year(), remembered_.month());
  calendar_->setFocus();
}

void Tfrmdatepicker::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  HandOver();
}

void Tfrmdatepicker::CalendarClicked(const QDate& day) {
  if (calendar_->selectedDate() != day) calendar_->setSelectedDate(day);
  if (day.month() == remembered_.month()) {
    HandOver();
    close();
  } else {
    remembered_ = day;
  }
}

void Tfrmdatepicker::PageChanged(int year, int month) {
  QDate day = calendar_->selectedDate();
  if (day.year() != year || day.month() != month) {
    const QDate first(year, month, 1);
    day = QDate(year, month, std::min(day.day(), first.daysInMonth()));
    calendar_->setSelectedDate(day);
  }
  // A click on a day of another month moves the page before its click arrives: remembering
  // only after that click keeps the click's own rule (it changed the month: stay open).
  QTimer::singleShot(0, this, [this] { remembered_ = calendar_->selectedDate(); });
}

void Tfrmdatepicker::HandOver() {
  if (handedOver_) return;
  handedOver_ = true;
  GlobalVars.PickedDate = calendar_->selectedDate().toString(QStringLiteral("yyyy-MM-dd"));
  Q_EMIT Picked();
}
