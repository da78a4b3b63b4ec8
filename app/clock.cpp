// Today's date; see clock.h.
#include "clock.h"

namespace {
const QDate* fixedToday = nullptr;
}

QDate Today() {
  return fixedToday ? *fixedToday : QDate::currentDate();
}

TTodayScope::TTodayScope(const QDate& day) : day_(day), override_(fixedToday, &day_) {}
