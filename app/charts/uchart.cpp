// The income/expense comparison window; see uchart.h.
#include "uchart.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

#include "chartview.h"

namespace {

constexpr int kTotalsWidth = 170;

QLabel* BoldCaption(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  return label;
}

QLabel* ValueLine(const QString& name, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

}  // namespace

Tfrmchart::Tfrmchart(QWidget* parent)
    : TChartWindow("frmchart", QStringLiteral("收支对比图"), "DateTimePicker1", "DateTimePicker2",
                   parent) {
  area_ = new TChartArea(this);
  area_->setObjectName("Panel2");
  Layout()->addWidget(area_, 1);

  chart1_ = NewChartView("Chart1", area_);
  chart2_ = NewChartView("Chart2", area_);
  btnSz_ = NewCornerToggle("btnSz", chart2_);
  btnSz_->setProperty("tag", 1);

  totals_ = new QWidget(area_);
  totals_->setObjectName("Panel3");
  totals_->setAutoFillBackground(true);
  auto* panel = new QVBoxLayout(totals_);
  lbltitle_ = new QLabel(totals_);
  lbltitle_->setObjectName("lbltitle");
  lbltitle_->setAlignment(Qt::AlignCenter);
  lbltitle_->setWordWrap(true);
  panel->addWidget(lbltitle_);
  panel->addSpacing(8);
  lblshouru_ = ValueLine("lblshouru", totals_);
  lblzhichu_ = ValueLine("lblzhichu", totals_);
  lblyue_ = ValueLine("lblyue", totals_);
  panel->addWidget(BoldCaption(QStringLiteral("总收入:"), totals_));
  panel->addWidget(lblshouru_);
  panel->addWidget(BoldCaption(QStringLiteral("总支出:"), totals_));
  panel->addWidget(lblzhichu_);
  panel->addWidget(BoldCaption(QStringLiteral("余额:"), totals_));
  panel->addWidget(lblyue_);
  panel->addStretch(1);

  area_->arrange = [this](const QSize& size) { Arrange(size); };
  connect(btnSz_, &QPushButton::clicked, this, &Tfrmchart::btnSzClick);
}

Tfrmchart::~Tfrmchart() = default;

void Tfrmchart::btnrefreshClick() {
  BuildBars();
  BuildPie(TChartSide::Expense);
}

void Tfrmchart::btnSzClick() {
  BuildPie(OtherSide(btnSz_->property("tag").toInt()));
}

void Tfrmchart::BuildBars() {
  QChart& chart = *chart1_->chart();
  ClearChart(chart);
  comparison_ = ComparisonData(Query(), Start(), End());
  const TComparisonData& d = comparison_;
  chart.setTitle(d.title);
  auto* series = new QBarSeries;
  series->setObjectName("Series");
  const struct {
    const char* name;
    QString title;
    QColor colour;
    const std::vector<double>& values;
  } sets[] = {
      {"Series1", QStringLiteral("收入"), QColor(255, 0, 0), d.income},
      {"Series2", QStringLiteral("支出"), QColor(0, 170, 0), d.expense},
      {"Series3", QStringLiteral("余额"), QColor(255, 230, 0), d.balance},
  };
  double top = 0;
  double bottom = 0;
  for (const auto& s : sets) {
    auto* set = new QBarSet(s.title);
    set->setObjectName(s.name);
    set->setColor(s.colour);
    set->setBorderColor(s.colour.darker(150));
    set->setLabelColor(Qt::black);
    for (double v : s.values) {
      *set << Shown(v);
      top = std::max(top, v);
      bottom = std::min(bottom, v);
    }
    series->append(set);
  }
  series->setLabelsVisible(true);
  series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
  series->setLabelsFormat("@value");
  series->setLabelsPrecision(15);
  chart.addSeries(series);
  auto* months = new QBarCategoryAxis;
  months->append(d.months);
  FitLabels(chart, *months, d.months);
  chart.addAxis(months, Qt::AlignBottom);
  series->attachAxis(months);
  auto* values = new QValueAxis;
  // Room above the highest bar (and below the lowest) for the value labels.
  const double span = std::max(top - bottom, 1.0);
  values->setRange(bottom < 0 ? bottom - span * (kHeadroom - 1) : 0, top + span * (kHeadroom - 1));
  values->setLabelFormat("%.0f");
  chart.addAxis(values, Qt::AlignLeft);
  series->attachAxis(values);

  lbltitle_->setText(d.heading);
  lblshouru_->setText(d.incomeText);
  lblzhichu_->setText(d.expenseText);
  lblyue_->setText(d.balanceText);
}

void Tfrmchart::BuildPie(TChartSide side) {
  QChart& chart = *chart2_->chart();
  pie_ = SharePie(Query(), side, Start(), End());
  ShowSide(chart, *btnSz_, pie_);
  ShowPie(chart, "Series4", pie_.values);
}

void Tfrmchart::Arrange(const QSize& area) {
  const int width = area.width();
  const int height = area.height();
  const int barHeight = HalfHeight(height);
  chart1_->setGeometry(5, 5, width - 10, barHeight);
  const int pieTop = chart1_->geometry().bottom() + 1 + 5;
  const int pieHeight = height - pieTop - 2;
  chart2_->setGeometry(5, pieTop, width - kTotalsWidth - 15, pieHeight);
  totals_->setGeometry(chart2_->geometry().right() + 1 + 5, pieTop, kTotalsWidth, pieHeight);
}
