// The income/expense comparison window ("收支对比图"), a view of the main window: for a date
// range, income, expense and balance month by month as bars, the range's totals in a side
// panel, and a pie of how the range's expense (or, toggled, income) splits over categories.
// It reads the ledger when first shown (the current month up to today), on "刷新显示" and on
// the pie's toggle; the pie's side (the toggle's tag) is its only state.
#pragma once

#include "chartview.h"

class QChartView;
class QLabel;
class QPushButton;

class Tfrmchart : public TChartWindow {
  Q_OBJECT
 public:
  explicit Tfrmchart(QWidget* parent = nullptr);
  ~Tfrmchart() override;

  // Bars and totals of the pickers' range, then the expense pie ("刷新显示").
  void btnrefreshClick() override;
  // The pie of the other side.
  void btnSzClick();

  // What the charts and panel show now.
  const TComparisonData& Comparison() const { return comparison_; }
  const TSideData& Pie() const { return pie_; }

 private:
  void BuildBars();
  void BuildPie(TChartSide side);
  void Arrange(const QSize& area);

  TChartArea* area_;
  QChartView* chart1_;
  QChartView* chart2_;
  QPushButton* btnSz_;
  QWidget* totals_;
  QLabel* lbltitle_;
  QLabel* lblshouru_;
  QLabel* lblzhichu_;
  QLabel* lblyue_;
  TComparisonData comparison_;
  TSideData pie_;
};
