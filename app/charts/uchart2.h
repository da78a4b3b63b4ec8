// The monthly average window ("月平均收支图"), a view of the main window: for a date range, how
// much income (or expense) falls on an average month, as bars (the whole side, then one bar per
// category) and as a pie of the categories. Each chart has a toggle for the other side; the
// toggles' tags are the window's only state. A range ending in an earlier month than it starts
// has no average: no bars and no slices.
#pragma once

#include <QWidget>

#include "chartdata.h"

class QChartView;
class QPushButton;
class TChartTopBar;

class TfrmChart2 : public QWidget {
  Q_OBJECT
 public:
  explicit TfrmChart2(QWidget* parent = nullptr);
  ~TfrmChart2() override;

  void SetRange(const QDate& start, const QDate& end);
  // Income bars and income pie of the pickers' range ("刷新显示").
  void btnrefreshClick();
  // The other side's bars, respectively pie.
  void btnchart3Click();
  void btnchart4Click();

  const TSideData& Bars() const { return bars_; }
  const TSideData& Pie() const { return pie_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildBars(TChartSide side);
  void BuildPie(TChartSide side);
  void Arrange(const QSize& area);

  TChartQuery query_;
  TChartTopBar* top_;
  QChartView* chart3_;
  QChartView* chart4_;
  QPushButton* btnchart3_;
  QPushButton* btnchart4_;
  TSideData bars_;
  TSideData pie_;
  bool shown_ = false;
};
