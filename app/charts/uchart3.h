// The daily expense window ("每月支出对比图"), a view of the main window: one bar per day with
// expenses in a date range, and the average expense of those days (not of the range's calendar
// days) in a label beside the pickers.
#pragma once

#include <QWidget>

#include "chartdata.h"

class QChartView;
class QLabel;
class TChartTopBar;

class Tfrmchart3 : public QWidget {
  Q_OBJECT
 public:
  explicit Tfrmchart3(QWidget* parent = nullptr);
  ~Tfrmchart3() override;

  void SetRange(const QDate& start, const QDate& end);
  // The bars and average of the pickers' range ("刷新显示").
  void btnrefreshClick();

  const TDailyData& Daily() const { return daily_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TChartQuery query_;
  TChartTopBar* top_;
  QLabel* label1_;
  QChartView* chart1_;
  TDailyData daily_;
  bool shown_ = false;
};
