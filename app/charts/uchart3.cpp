// The daily expense window; see uchart3.h.
#include "uchart3.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "chartview.h"

Tfrmchart3::Tfrmchart3(QWidget* parent)
    : TChartWindow("frmchart3", QStringLiteral("每月支出对比图"), "DateTimePicker3",
                   "DateTimePicker4", parent) {
  TChartTopBar* top = TopBar();
  label1_ = new QLabel(top);
  label1_->setObjectName("Label1");
  QFont f = label1_->font();
  f.setBold(true);
  label1_->setFont(f);
  // Beside the refresh button, before the stretch.
  top->Layout()->insertSpacing(top->Layout()->count() - 1, 16);
  top->Layout()->insertWidget(top->Layout()->count() - 1, label1_);
  chart1_ = NewChartView("chart1", this);
  Layout()->addWidget(chart1_, 1);
}

Tfrmchart3::~Tfrmchart3() = default;

void Tfrmchart3::btnrefreshClick() {
  QChart& chart = *chart1_->chart();
  daily_ = DailyExpenses(Query(), Start(), End());
  chart.setTitle(daily_.title);
  ShowColouredBars(chart, "BarSeries1", daily_.days);
  label1_->setText(daily_.averageText);
}
