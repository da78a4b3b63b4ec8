// The daily expense window ("每月支出对比图"), a view of the main window: one bar per day with
// expenses in a date range, and the average expense of those days (not of the range's calendar
// days) in a label beside the pickers.
#pragma once

#include "chartview.h"

class QChartView;
class QLabel;

class Tfrmchart3 : public TChartWindow {
  Q_OBJECT
 public:
  explicit Tfrmchart3(QWidget* parent = nullptr);
  ~Tfrmchart3() override;

  // The bars and average of the pickers' range ("刷新显示").
  void btnrefreshClick() override;

  const TDailyData& Daily() const { return daily_; }

 private:
  QLabel* label1_;
  QChartView* chart1_;
  TDailyData daily_;
};
