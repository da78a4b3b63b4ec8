// The monthly average window ("月平均收支图"), a view of the main window: for a date range, how
// much income (or expense) falls on an average month, as bars (the whole side, then one bar per
// category) and as a pie of the categories. Each chart has a toggle for the other side; the
// toggles' tags are the window's only state. A range ending in an earlier month than it starts
// has no average: no bars and no slices.
#pragma once

#include "chartview.h"

class QChartView;
class QPushButton;

class TfrmChart2 : public TChartWindow {
  Q_OBJECT
 public:
  explicit TfrmChart2(QWidget* parent = nullptr);
  ~TfrmChart2() override;

  // Income bars and income pie of the pickers' range ("刷新显示").
  void btnrefreshClick() override;
  // The other side's bars, respectively pie.
  void btnchart3Click();
  void btnchart4Click();

  const TSideData& Bars() const { return bars_; }
  const TSideData& Pie() const { return pie_; }

 private:
  void BuildBars(TChartSide side);
  void BuildPie(TChartSide side);
  void Arrange(const QSize& area);

  QChartView* chart3_;
  QChartView* chart4_;
  QPushButton* btnchart3_;
  QPushButton* btnchart4_;
  TSideData bars_;
  TSideData pie_;
};
