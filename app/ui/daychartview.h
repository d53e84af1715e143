#pragma once

#include "charts/daychart.h"

#include <QWidget>

class EventListModel;
class QItemSelectionModel;

// The chart beside the event list: the shown day's rows as series over the day, alarm events
// marked (their alarm text on hover), the thresholds when known. It is built from the list's
// own rows, so the filter of the list is the filter of the chart, and a point and its row are
// selected together: the list's selection rings a point, a click on a point selects its row.
class DayChartView final : public QWidget {
    Q_OBJECT
public:
    // The model and the list's selection are the list's; the chart only reads the one and
    // writes the other.
    DayChartView(EventListModel& model, QItemSelectionModel& selection, QWidget* parent = nullptr);

    // The instrument's thresholds, when known; the chart draws them as lines.
    void setThresholds(const std::optional<CUserParams>& params);

    const DayChart& chart() const;
    const ChartPainter& painter() const;
    // The rectangle the chart is painted in.
    QRect chartArea() const;
    // The point that the selected row shows, if it shows one.
    std::optional<DayChart::Point> selectedPoint() const;
    // The text shown on hover at pos: an alarm's time and text, a point's time and value.
    QString toolTipAt(const QPoint& pos) const;
    // The row of the point or mark at pos; -1 when none is there.
    int rowAt(const QPoint& pos) const;

    QSize sizeHint() const override;

signals:
    // A point was clicked and its row selected.
    void rowChosen(int row);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void invalidate();
    void ensureBuilt() const;
    void selectionChanged();

    EventListModel& m_model;
    QItemSelectionModel& m_selection;
    // Built from the model when first needed after a change: a batch of inserted rows costs
    // one pass, and a paint never sees a chart older than the list.
    mutable DayChart m_chart;
    mutable ChartPainter m_painter;
    mutable bool m_stale = true;
};
