// Pieces the three chart windows share: the top bar with its two date pickers and refresh
// button, the area below it that lays the charts out on every resize, chart views with the
// gradient background, the bar and pie series built from chart values, and the toggle button
// in a chart's corner.
#pragma once

#include <QChartView>
#include <QDate>
#include <QWidget>

#include <functional>
#include <vector>

#include "chartdata.h"

class QBarCategoryAxis;
class QDateEdit;
class QHBoxLayout;
class QPushButton;

// The top bar: "从" start picker, "到" end picker, "刷新显示" and room for more.
class TChartTopBar : public QWidget {
  Q_OBJECT
 public:
  TChartTopBar(const QString& startName, const QString& endName, QWidget* parent);
  QDateEdit* Start() const { return start_; }
  QDateEdit* End() const { return end_; }
  QPushButton* Refresh() const { return refresh_; }
  QHBoxLayout* Layout() const { return layout_; }
  // Start = first day of the month of `today`, end = `today`.
  void SetToMonthOf(const QDate& today);

 private:
  QDateEdit* start_;
  QDateEdit* end_;
  QPushButton* refresh_;
  QHBoxLayout* layout_;
};

// The area below the top bar: calls `arrange` with its size after every resize.
class TChartArea : public QWidget {
  Q_OBJECT
 public:
  explicit TChartArea(QWidget* parent) : QWidget(parent) {}
  std::function<void(const QSize&)> arrange;

 protected:
  void resizeEvent(QResizeEvent* event) override;
};

// Half of a height, rounded to the nearest integer with ties to even.
int HalfHeight(int height);

// A chart view named `name` with an empty chart: gradient background ending in RGB(0, 128, 255),
// bold title, legend; not zoomable.
QChartView* NewChartView(const QString& name, QWidget* parent);

// A push button in the top-left corner of a chart view.
QPushButton* NewCornerToggle(const QString& name, QChartView* view);

// Replaces the chart's series by one bar series named `name` in which every bar has a colour of
// its own and its value above it; the legend lists each bar's value and label.
void ShowColouredBars(QChart& chart, const QString& name, const std::vector<TChartValue>& bars);

// Replaces the chart's series by one pie series named `name`, one slice per value, each
// labelled with its label and percentage; no axes.
void ShowPie(QChart& chart, const QString& name, const std::vector<TChartValue>& slices);

// Slants the chart's category labels when they would not fit beside each other.
void FitLabels(QChart& chart, QBarCategoryAxis& axis, const QStringList& labels);

// The value axis reaches this far above the highest bar, leaving room for its value text.
constexpr double kHeadroom = 1.25;

// Removes every series and axis of the chart.
void ClearChart(QChart& chart);
