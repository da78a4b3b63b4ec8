// Shared pieces of the chart windows; see chartview.h.
#include "chartview.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QDateEdit>
#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLinearGradient>
#include <QPieSeries>
#include <QPieSlice>
#include <QPushButton>
#include <QStackedBarSeries>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

#include "globals.h"

namespace {

// Colours given to bars and slices in turn: strong, distinct hues that stay readable on the
// blue end of the background.
const QColor kColours[] = {
    QColor(255, 0, 0),   QColor(0, 170, 0),   QColor(255, 210, 0),   QColor(0, 90, 255),
    QColor(255, 130, 0), QColor(170, 0, 200), QColor(0, 200, 200),   QColor(255, 90, 170),
    QColor(120, 200, 0), QColor(140, 80, 20), QColor(130, 130, 255), QColor(90, 90, 90),
};

QColor Colour(std::size_t i) {
  return kColours[i % (sizeof kColours / sizeof kColours[0])];
}

}  // namespace

void FitLabels(QChart& chart, QBarCategoryAxis& axis, const QStringList& labels) {
  if (labels.isEmpty()) return;
  // Whole labels: slanted where they would not fit beside each other, upright where even
  // slanted ones would be wider than a category (the chart hides a label whose box crosses the
  // plot area's edge or its neighbour's, which took the first and last of a row of dates).
  axis.setTruncateLabels(false);
  const QFontMetrics metrics(axis.labelsFont());
  int widest = 0;
  for (const QString& label : labels)
    widest = std::max(widest, metrics.horizontalAdvance(label));
  const qreal plot =
      chart.plotArea().width() > 0 ? chart.plotArea().width() : chart.size().width() * 0.6;
  const qreal category = plot / labels.size();
  constexpr double kSlant = 40 * M_PI / 180;
  const qreal slantedWidth = widest * std::cos(kSlant) + metrics.height() * std::sin(kSlant);
  if (widest + 8 <= category)
    axis.setLabelsAngle(0);
  else if (slantedWidth + 4 <= category)
    axis.setLabelsAngle(-40);
  else
    axis.setLabelsAngle(-90);
}

TChartTopBar::TChartTopBar(const QString& startName, const QString& endName, QWidget* parent)
    : QWidget(parent) {
  setObjectName("Panel1");
  layout_ = new QHBoxLayout(this);
  layout_->setContentsMargins(8, 4, 8, 4);
  auto picker = [this](const QString& name) {
    auto* edit = new QDateEdit(this);
    edit->setObjectName(name);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat("yyyy-MM-dd");
    return edit;
  };
  layout_->addWidget(new QLabel(QStringLiteral("从"), this));
  start_ = picker(startName);
  layout_->addWidget(start_);
  layout_->addWidget(new QLabel(QStringLiteral("到"), this));
  end_ = picker(endName);
  layout_->addWidget(end_);
  refresh_ = new QPushButton(QStringLiteral("刷新显示"), this);
  refresh_->setObjectName("btnrefresh");
  layout_->addWidget(refresh_);
  layout_->addStretch(1);
}

void TChartTopBar::SetToMonthOf(const QDate& today) {
  start_->setDate(QDate(today.year(), today.month(), 1));
  end_->setDate(today);
}

TChartWindow::TChartWindow(const QString& name, const QString& title, const QString& startName,
                           const QString& endName, QWidget* parent)
    : QWidget(parent) {
  setObjectName(name);
  setWindowTitle(title);
  layout_ = new QVBoxLayout(this);
  layout_->setContentsMargins(0, 0, 0, 0);
  layout_->setSpacing(0);
  top_ = new TChartTopBar(startName, endName, this);
  layout_->addWidget(top_);
  connect(top_->Refresh(), &QPushButton::clicked, this, [this] { btnrefreshClick(); });
}

void TChartWindow::SetRange(const QDate& start, const QDate& end) {
  top_->Start()->setDate(start);
  top_->End()->setDate(end);
}

QDate TChartWindow::Start() const {
  return top_->Start()->date();
}

QDate TChartWindow::End() const {
  return top_->End()->date();
}

void TChartWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  top_->SetToMonthOf(QDate::currentDate());
  btnrefreshClick();
}

void TChartArea::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (arrange) arrange(size());
}

int HalfHeight(int height) {
  return static_cast<int>(std::nearbyint(height / 2.0));
}

QChartView* NewChartView(const QString& name, QWidget* parent) {
  auto* chart = new QChart;
  QLinearGradient background(0, 0, 0, 1);
  background.setCoordinateMode(QGradient::ObjectBoundingMode);
  background.setColorAt(0, Qt::white);
  background.setColorAt(1, QColor(0, 128, 255));
  chart->setBackgroundBrush(background);
  chart->setBackgroundRoundness(0);
  QFont title = chart->titleFont();
  title.setBold(true);
  title.setPointSizeF(title.pointSizeF() * 1.15);
  chart->setTitleFont(title);
  chart->legend()->setAlignment(Qt::AlignRight);
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  auto* view = new QChartView(chart, parent);
  view->setObjectName(name);
  view->setRenderHint(QPainter::Antialiasing);
  view->setRubberBand(QChartView::NoRubberBand);
  return view;
}

QPushButton* NewCornerToggle(const QString& name, QChartView* view) {
  auto* button = new QPushButton(view);
  button->setObjectName(name);
  button->move(4, 4);
  return button;
}

void ClearChart(QChart& chart) {
  chart.removeAllSeries();
  for (QAbstractAxis* axis : chart.axes()) {
    chart.removeAxis(axis);
    delete axis;
  }
}

void ShowColouredBars(QChart& chart, const QString& name, const std::vector<TChartValue>& bars) {
  ClearChart(chart);
  // One set per bar, holding its value at its own place and 0 elsewhere: stacked, each place
  // shows just its own bar, in the set's colour, and the legend has one entry per bar.
  auto* series = new QStackedBarSeries;
  series->setObjectName(name);
  QStringList labels;
  double top = 0;
  double bottom = 0;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    auto* set = new QBarSet(FormatMoney(bars[i].value) + "  " + bars[i].label);
    for (std::size_t j = 0; j < bars.size(); ++j)
      *set << (i == j ? Shown(bars[i].value) : 0.0);
    set->setColor(Colour(i));
    set->setBorderColor(Colour(i).darker(140));
    set->setLabelColor(Qt::black);
    series->append(set);
    labels << bars[i].label;
    top = std::max(top, bars[i].value);
    bottom = std::min(bottom, bars[i].value);
  }
  series->setBarWidth(0.6);
  series->setLabelsVisible(true);
  series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
  series->setLabelsFormat("@value");
  series->setLabelsPrecision(15);
  chart.addSeries(series);
  auto* categories = new QBarCategoryAxis;
  categories->append(labels);
  FitLabels(chart, *categories, labels);
  chart.addAxis(categories, Qt::AlignBottom);
  series->attachAxis(categories);
  auto* values = new QValueAxis;
  values->setRange(bottom, top > 0 ? top * kHeadroom : 1.0);
  values->setLabelFormat("%.0f");
  chart.addAxis(values, Qt::AlignLeft);
  series->attachAxis(values);
  chart.legend()->setVisible(!bars.empty());
}

void ShowSide(QChart& chart, QPushButton& toggle, const TSideData& side) {
  chart.setTitle(side.title);
  toggle.setText(side.toggleCaption);
  toggle.adjustSize();
  toggle.setProperty("tag", side.toggleTag);
}

void ShowPie(QChart& chart, const QString& name, const std::vector<TChartValue>& slices) {
  ClearChart(chart);
  auto* series = new QPieSeries;
  series->setObjectName(name);
  double total = 0;
  for (const TChartValue& s : slices)
    total += s.value;
  bool longArm = false;
  for (std::size_t i = 0; i < slices.size(); ++i) {
    const double percent = total != 0 ? slices[i].value / total * 100 : 0;
    QPieSlice* slice = series->append(
        slices[i].label + " " + QString::number(percent, 'f', 1) + "%", slices[i].value);
    slice->setColor(Colour(i));
    slice->setLabelVisible(true);
    // Neighbouring thin slices would put their labels on top of each other: every second
    // one reaches further out.
    if (percent < 8) {
      slice->setLabelArmLengthFactor(longArm ? 0.4 : 0.15);
      longArm = !longArm;
    } else {
      longArm = false;
    }
  }
  series->setPieSize(0.55);
  // Thin slices come last in a row more often than not: ending at three o'clock their labels
  // point sideways, where there is room, rather than out of the top.
  series->setPieStartAngle(90);
  series->setPieEndAngle(450);
  chart.addSeries(series);
  chart.legend()->setVisible(!slices.empty());
}
