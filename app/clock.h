// Today's date as the windows that compute periods from it see it. Tests and the screenshot
// tour fix the day with TTodayScope so periods over sample data do not move with the calendar.
// Only the GUI thread touches the slot.
#pragma once

#include <QDate>

#include "scopedoverride.h"

// The fixed day in force, else the system's date.
QDate Today();

// Fixes Today() to a day for its lifetime; scopes nest.
class TTodayScope {
 public:
  explicit TTodayScope(const QDate& day);

 private:
  QDate day_;
  TScopedOverride<const QDate> override_;
};
