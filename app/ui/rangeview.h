#pragma once

#include "charts/rangechart.h"

#include <QDate>
#include <QDialog>

#include <functional>
#include <map>

class CKESTRADoc;
class HistoryDb;
class QComboBox;
class QDateEdit;
class QLabel;

// The painted range chart, with the values of a bucket on hover.
class RangeChartWidget final : public QWidget {
    Q_OBJECT
public:
    explicit RangeChartWidget(QWidget* parent = nullptr);
    void setSummary(const RangeSummary& summary, bool roentgen, const std::optional<CUserParams>& thresholds);
    const RangeChart& chart() const { return m_chart; }
    const ChartPainter& painter() const { return m_painter; }
    QString toolTipAt(const QPoint& pos) const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    RangeChart m_chart;
    ChartPainter m_painter;
};

// "Range View": one instrument over a week, a month, a year or two dates, read from the store
// in aggregate (lowest, highest and mean value per bucket, one query), so that a year draws
// without its events being loaded. The chart follows every change of the choices.
class RangeView final : public QDialog {
    Q_OBJECT
public:
    enum Span { Week, Month, Year, Dates };

    // store: the open event database when asked (nullptr when none); thresholds: those known
    // per instrument identifier. The view reads the store only while the document is idle.
    RangeView(CKESTRADoc& doc, std::function<HistoryDb*()> store, bool roentgen,
        std::map<QString, CUserParams> thresholds, QWidget* parent = nullptr);

    // The instrument, the span and its last day; Dates uses from as well.
    void choose(const QString& pagerId, Span span, const QDate& to, const QDate& from = {});
    // The span in seconds [from, to) of the choices.
    std::pair<qint64, qint64> span() const;
    // Reads the store and draws; false when there is no store or no instrument, or the read
    // failed (the reason is shown above the chart).
    bool refresh();

    QComboBox* instrumentBox() const { return m_instrument; }
    QComboBox* spanBox() const { return m_span; }
    QDateEdit* fromEdit() const { return m_from; }
    QDateEdit* toEdit() const { return m_to; }
    QLabel* statusLabel() const { return m_status; }
    RangeChartWidget* chartWidget() const { return m_chart; }

private:
    void spanChanged();
    void choicesChanged();

    CKESTRADoc& m_doc;
    std::function<HistoryDb*()> m_store;
    bool m_roentgen;
    std::map<QString, CUserParams> m_thresholds;
    QComboBox* m_instrument;
    QComboBox* m_span;
    QDateEdit* m_from;
    QDateEdit* m_to;
    QLabel* m_status;
    RangeChartWidget* m_chart;
    bool m_choosing = false;
    bool m_pending = false;
};
