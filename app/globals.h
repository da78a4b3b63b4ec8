// Process-wide state of the program (who is signed in, how dates are shown, the date picker's
// hand-off slot) and the small helpers every window uses.
// Only the GUI thread touches these; nothing here is locked.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QPoint>
#include <QString>

struct TGlobalVars {
  QString UserName;    // account name exactly as in the User table
  QString DateFormat;  // the system's short date format, read once at load
  QString PickedDate;  // empty, or a date written "yyyy-mm-dd" by the date picker
};

extern TGlobalVars GlobalVars;

// The mouse position last stored by SaveCursorPos, in screen coordinates.
extern QPoint SavedCursorPos;

// Amount with exactly two decimals, no grouping, the locale's decimal separator ("0.00").
// Rounds half away from zero on the amount's 15-significant-digit decimal form, so amounts
// typed with two decimals and their sums print as people wrote them.
QString FormatMoney(double amount);

int YearOfDate(const QDate& date);
int MonthOfDate(const QDate& date);
int DayOfDate(const QDate& date);
inline int YearOfDate(const QDateTime& dt) {
  return YearOfDate(dt.date());
}
inline int MonthOfDate(const QDateTime& dt) {
  return MonthOfDate(dt.date());
}
inline int DayOfDate(const QDateTime& dt) {
  return DayOfDate(dt.date());
}

// Calendar months from the first value's month to the second's; days are not looked at.
int MonthDiff(const QDate& first, const QDate& second);
inline int MonthDiff(const QDateTime& first, const QDateTime& second) {
  return MonthDiff(first.date(), second.date());
}

// Decimal digits of value left-padded with "0" to width; longer values come back unchanged.
QString ZeroPad(int value, int width);

// Stores the current mouse position in SavedCursorPos.
void SaveCursorPos();
