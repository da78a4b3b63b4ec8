// Pieces the three chart windows share: the window base with the top bar (two date pickers and
// the refresh button) and the first showing, the area below it that lays the charts out on
// every resize, chart views with the gradient background, the bar and pie series built from
// chart values, and the toggle button in a chart's corner.
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
class QVBoxLayout;

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

// A chart window: the top bar, with whatever the window adds to Layout() below it. Shown for
// the first time, it sets the pickers to the current month up to today and builds its charts;
// "刷新显示" builds them again for the pickers' range.
class TChartWindow : public QWidget {
  Q_OBJECT
 public:
  // Sets the two pickers (the range the next build reads).
  void SetRange(const QDate& start, const QDate& end);
  // Builds the charts of the pickers' range ("刷新显示").
  virtual void btnrefreshClick() = 0;

 protected:
  // `name` and `title` are the window's; the pickers are named `startName` and `endName`.
  TChartWindow(const QString& name, const QString& title, const QString& startName,
               const QString& endName, QWidget* parent);
  void showEvent(QShowEvent* event) override;

  TChartTopBar* TopBar() const { return top_; }
  QVBoxLayout* Layout() const { return layout_; }
  QDate Start() const;
  QDate End() const;
  TChartQuery& Query() { return query_; }

 private:
  TChartQuery query_;
  TChartTopBar* top_;
  QVBoxLayout* layout_;
  bool shown_ = false;
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

// Shows one side's title on the chart and points the toggle at the other side (its caption
// and tag).
void ShowSide(QChart& chart, QPushButton& toggle, const TSideData& side);

// Replaces the chart's series by one pie series named `name`, one slice per value, each
// labelled with its label and percentage; no axes.
void ShowPie(QChart& chart, const QString& name, const std::vector<TChartValue>& slices);

// Slants the chart's category labels when they would not fit beside each other.
void FitLabels(QChart& chart, QBarCategoryAxis& axis, const QStringList& labels);

// The value axis reaches this far above the highest bar, leaving room for its value text.
constexpr double kHeadroom = 1.25;

// Removes every series and axis of the chart.
void ClearChart(QChart& chart);
