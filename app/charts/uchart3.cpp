// The daily expense window; see uchart3.h.
#include "uchart3.h"

#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "chartview.h"

Tfrmchart3::Tfrmchart3(QWidget* parent) : QWidget(parent) {
  setObjectName("frmchart3");
  setWindowTitle(QStringLiteral("每月支出对比图"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  top_ = new TChartTopBar("DateTimePicker3", "DateTimePicker4", this);
  label1_ = new QLabel(top_);
  label1_->setObjectName("Label1");
  QFont f = label1_->font();
  f.setBold(true);
  label1_->setFont(f);
  // Beside the refresh button, before the stretch.
  top_->Layout()->insertSpacing(top_->Layout()->count() - 1, 16);
  top_->Layout()->insertWidget(top_->Layout()->count() - 1, label1_);
  layout->addWidget(top_);
  chart1_ = NewChartView("chart1", this);
  layout->addWidget(chart1_, 1);
  connect(top_->Refresh(), &QPushButton::clicked, this, &Tfrmchart3::btnrefreshClick);
}

Tfrmchart3::~Tfrmchart3() = default;

void Tfrmchart3::SetRange(const QDate& start, const QDate& end) {
  top_->Start()->setDate(start);
  top_->End()->setDate(end);
}

void Tfrmchart3::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  top_->SetToMonthOf(QDate::currentDate());
  btnrefreshClick();
}

void Tfrmchart3::btnrefreshClick() {
  QChart& chart = *chart1_->chart();
  ClearChart(chart);
  daily_ = DailyExpenses(query_, top_->Start()->date(), top_->End()->date());
  chart.setTitle(daily_.title);
  ShowColouredBars(chart, "BarSeries1", daily_.days);
  label1_->setText(daily_.averageText);
}
