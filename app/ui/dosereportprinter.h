#pragma once

#include "history/dosereport.h"

#include <QFont>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QPagedPaintDevice;
class QPainter;
class QPrinter;
class QRect;
class QWidget;

// Prints a dose report: on the first page the instrument, the period, the unit and the
// thresholds, then the chart of the period; then a table with one row per day (highest and
// mean dose rate, alarms by kind, time at or above each threshold, cleared-dose events) and a
// total row, continued on as many pages as it needs with its header repeated. Every measure is
// a share of the page, so that A4 and Letter, portrait, give the same layout.
class DoseReportPrinter {
public:
    // Draws the chart of the report into the rectangle. The default draws each day's highest
    // and mean dose rate as bars with the threshold lines.
    using ChartPainter = std::function<void(QPainter&, const QRect&, const DoseReport&)>;

    explicit DoseReportPrinter(DoseReport report);

    // The instrument as the header names it; the display name is added when it differs.
    void setInstrument(const QString& identifier, const QString& displayName = {});
    void setChartPainter(ChartPainter painter) { m_chart = std::move(painter); }

    const DoseReport& report() const { return m_report; }
    QString titleText() const;
    QString instrumentText() const;
    QString periodText() const;
    QString thresholdText() const;

    // The cells of one table row, each a list of lines.
    std::vector<QStringList> rowCells(const DoseReport::Day& day, bool total) const;
    static QStringList columnTitles(const QString& unit);
    static QString duration(qint64 seconds); // "h:mm"

    // Pages the report takes on that device.
    int pageCount(QPagedPaintDevice& device) const;
    // Paints every page (on a printer, the chosen page range). False when the device cannot be
    // painted on or a new page cannot be started.
    bool print(QPagedPaintDevice& device) const;

    // Writes the report as a PDF of that page size (QPageSize::PageSizeId).
    bool savePdf(const QString& path, int pageSizeId) const;

    // A modal print preview, from which it can be printed.
    static void preview(const DoseReportPrinter& report, QWidget* parent);

    static void paintDailyChart(QPainter& painter, const QRect& area, const DoseReport& report);

private:
    struct Metrics;
    struct Row {
        std::vector<QStringList> cells;
        int lines = 1;
        bool total = false;
    };
    Metrics metrics(QPagedPaintDevice& device) const;
    std::vector<Row> rows() const;
    // The rows of each page, first to last.
    std::vector<std::pair<size_t, size_t>> paginate(const Metrics& m, const std::vector<Row>& rows) const;
    void paintPage(QPainter& painter, const Metrics& m, const std::vector<Row>& rows, std::pair<size_t, size_t> range,
        int page, int pages) const;

    DoseReport m_report;
    QString m_identifier;
    QString m_displayName;
    ChartPainter m_chart;
};
