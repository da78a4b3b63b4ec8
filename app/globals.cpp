// Global state and helpers; see globals.h.
#include "globals.h"

#include <QCursor>
#include <QLocale>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

TGlobalVars GlobalVars{QString(), QLocale::system().dateFormat(QLocale::ShortFormat), QString()};
QPoint SavedCursorPos;

namespace {

// Rounds |amount| to two decimals, half away from zero, working on its decimal form with 15
// significant digits. Returns the integer and fraction digits.
std::string TwoDecimalDigits(double magnitude) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", magnitude);  // d.dddddddddddddde±XX
  std::string mantissa;
  for (const char* p = buf; *p && *p != 'e'; ++p)
    if (*p != '.') mantissa += *p;
  const int exponent = std::atoi(std::strchr(buf, 'e') + 1);
  // Digits of the value scaled by 100, as a decimal string with an implied point.
  const int pointAt = exponent + 1 + 2;  // digits before the point of (value * 100)
  std::string whole;
  bool roundUp = false;
  if (pointAt <= 0) {
    whole = "0";
    roundUp = pointAt == 0 && mantissa[0] >= '5';
  } else {
    std::string digits = mantissa;
    while (static_cast<int>(digits.size()) < pointAt)
      digits += '0';
    whole = digits.substr(0, pointAt);
    roundUp = static_cast<int>(digits.size()) > pointAt && digits[pointAt] >= '5';
  }
  if (roundUp) {
    int i = static_cast<int>(whole.size()) - 1;
    while (i >= 0 && whole[i] == '9')
      whole[i--] = '0';
    if (i < 0)
      whole.insert(whole.begin(), '1');
    else
      ++whole[i];
  }
  while (whole.size() < 3)
    whole.insert(whole.begin(), '0');
  return whole;
}

}  // namespace

QString FormatMoney(double amount) {
  if (!std::isfinite(amount)) return QLocale().toString(amount);
  std::string digits = TwoDecimalDigits(std::fabs(amount));
  const bool zero = digits.find_first_not_of('0') == std::string::npos;
  QString text = QString::fromStdString(digits.substr(0, digits.size() - 2)) +
                 QLocale().decimalPoint() +
                 QString::fromStdString(digits.substr(digits.size() - 2));
  return (amount < 0 && !zero) ? QLocale().negativeSign() + text : text;
}

int YearOfDate(const QDate& date) {
  return date.year();
}
int MonthOfDate(const QDate& date) {
  return date.month();
}
int DayOfDate(const QDate& date) {
  return date.day();
}

int MonthDiff(const QDate& first, const QDate& second) {
  return (second.year() - first.year()) * 12 + (second.month() - first.month());
}

QString ZeroPad(int value, int width) {
  return QString::number(value).rightJustified(width, '0');
}

void SaveCursorPos() {
  SavedCursorPos = QCursor::pos();
}
