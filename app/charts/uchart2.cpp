// The monthly average window; see uchart2.h.
#include "uchart2.h"

#include <QDateEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "chartview.h"

TfrmChart2::TfrmChart2(QWidget* parent) : QWidget(parent) {
  setObjectName("frmChart2");
  setWindowTitle(QStringLiteral("月平均收支图"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  top_ = new TChartTopBar("DateTimePicker3", "DateTimePicker4", this);
  layout->addWidget(top_);
  auto* area = new TChartArea(this);
  area->setObjectName("Panel2");
  layout->addWidget(area, 1);
  chart3_ = NewChartView("Chart3", area);
  chart4_ = NewChartView("Chart4", area);
  btnchart3_ = NewCornerToggle("btnchart3", chart3_);
  btnchart4_ = NewCornerToggle("btnchart4", chart4_);
  area->arrange = [this](const QSize& size) { Arrange(size); };
  connect(top_->Refresh(), &QPushButton::clicked, this, &TfrmChart2::btnrefreshClick);
  connect(btnchart3_, &QPushButton::clicked, this, &TfrmChart2::btnchart3Click);
  connect(btnchart4_, &QPushButton::clicked, this, &TfrmChart2::btnchart4Click);
}

TfrmChart2::~TfrmChart2() = default;

void TfrmChart2::SetRange(const QDate& start, const QDate& end) {
  top_->Start()->setDate(start);
  top_->End()->setDate(end);
}

void TfrmChart2::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  top_->SetToMonthOf(QDate::currentDate());
  btnrefreshClick();
}

void TfrmChart2::btnrefreshClick() {
  BuildBars(TChartSide::Income);
  BuildPie(TChartSide::Income);
}

void TfrmChart2::btnchart3Click() {
  BuildBars(OtherSide(btnchart3_->property("tag").toInt()));
}

void TfrmChart2::btnchart4Click() {
  BuildPie(OtherSide(btnchart4_->property("tag").toInt()));
}

void TfrmChart2::BuildBars(TChartSide side) {
  QChart& chart = *chart3_->chart();
  ClearChart(chart);
  bars_ = AverageBars(query_, side, top_->Start()->date(), top_->End()->date());
  chart.setTitle(bars_.title);
  btnchart3_->setText(bars_.toggleCaption);
  btnchart3_->adjustSize();
  btnchart3_->setProperty("tag", bars_.toggleTag);
  ShowColouredBars(chart, "BarSeries1", bars_.values);
}

void TfrmChart2::BuildPie(TChartSide side) {
  QChart& chart = *chart4_->chart();
  ClearChart(chart);
  pie_ = AveragePie(query_, side, top_->Start()->date(), top_->End()->date());
  chart.setTitle(pie_.title);
  btnchart4_->setText(pie_.toggleCaption);
  btnchart4_->adjustSize();
  btnchart4_->setProperty("tag", pie_.toggleTag);
  ShowPie(chart, "PieSeries1", pie_.values);
}

void TfrmChart2::Arrange(const QSize& area) {
  const int width = area.width();
  const int barHeight = HalfHeight(area.height());
  chart3_->setGeometry(5, 5, width - 10, barHeight);
  const int pieTop = chart3_->geometry().bottom() + 1 + 5;
  chart4_->setGeometry(5, pieTop, width - 10, area.height() - pieTop - 2);
}
