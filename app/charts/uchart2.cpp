// The monthly average window; see uchart2.h.
#include "uchart2.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "chartview.h"

TfrmChart2::TfrmChart2(QWidget* parent)
    : TChartWindow("frmChart2", QStringLiteral("月平均收支图"), "DateTimePicker3",
                   "DateTimePicker4", parent) {
  auto* area = new TChartArea(this);
  area->setObjectName("Panel2");
  Layout()->addWidget(area, 1);
  chart3_ = NewChartView("Chart3", area);
  chart4_ = NewChartView("Chart4", area);
  btnchart3_ = NewCornerToggle("btnchart3", chart3_);
  btnchart4_ = NewCornerToggle("btnchart4", chart4_);
  area->arrange = [this](const QSize& size) { Arrange(size); };
  connect(btnchart3_, &QPushButton::clicked, this, &TfrmChart2::btnchart3Click);
  connect(btnchart4_, &QPushButton::clicked, this, &TfrmChart2::btnchart4Click);
}

TfrmChart2::~TfrmChart2() = default;

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
  bars_ = AverageBars(Query(), side, Start(), End());
  ShowSide(chart, *btnchart3_, bars_);
  ShowColouredBars(chart, "BarSeries1", bars_.values);
}

void TfrmChart2::BuildPie(TChartSide side) {
  QChart& chart = *chart4_->chart();
  pie_ = AveragePie(Query(), side, Start(), End());
  ShowSide(chart, *btnchart4_, pie_);
  ShowPie(chart, "PieSeries1", pie_.values);
}

void TfrmChart2::Arrange(const QSize& area) {
  const int width = area.width();
  const int barHeight = HalfHeight(area.height());
  chart3_->setGeometry(5, 5, width - 10, barHeight);
  const int pieTop = chart3_->geometry().bottom() + 1 + 5;
  chart4_->setGeometry(5, pieTop, width - 10, area.height() - pieTop - 2);
}
