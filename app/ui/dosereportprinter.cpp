#include "ui/dosereportprinter.h"

#include "history/localtime.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPageLayout>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("DoseReportPrinter", text);
}

constexpr int Columns = 7;
// Shares of the page width: date, highest, mean, alarms, above warning, above danger, cleared.
constexpr std::array<double, Columns> ColumnShares { 0.13, 0.11, 0.11, 0.23, 0.15, 0.15, 0.12 };
// The body face is this fraction of the page height; the chart takes this share of the first page.
constexpr int FontDivisor = 80;
constexpr double ChartShare = 0.28;
// Cleared-dose times listed in a cell before the rest is counted.
constexpr int ClearedTimesShown = 3;

QString dateText(qint64 day)
{
    return LocalTime::format(day, "%Y-%m-%d");
}

} // namespace

struct DoseReportPrinter::Metrics {
    int width = 0;
    int height = 0;
    QFont body;
    QFont bold;
    QFont title;
    int line = 1; // body line height
    int ascent = 0;
    int pad = 0;
    int firstTop = 0; // where the table starts on the first page
    int chartTop = 0;
    int chartHeight = 0;
    int headerHeight = 0; // the table's column titles
    int bottom = 0; // the table ends above this
    std::array<int, Columns> x {};
    std::array<int, Columns> w {};
};

DoseReportPrinter::DoseReportPrinter(DoseReport report)
    : m_report(std::move(report))
    , m_identifier(m_report.instrument())
    , m_chart(&DoseReportPrinter::paintDailyChart)
{
}

void DoseReportPrinter::setInstrument(const QString& identifier, const QString& displayName)
{
    m_identifier = identifier;
    m_displayName = displayName;
}

QString DoseReportPrinter::titleText() const
{
    return tr("Dose report");
}

QString DoseReportPrinter::instrumentText() const
{
    QString text = tr("Instrument: %1").arg(m_identifier);
    if (!m_displayName.isEmpty() && m_displayName != m_identifier)
        text += QStringLiteral(" (%1)").arg(m_displayName);
    return text;
}

QString DoseReportPrinter::periodText() const
{
    // The span ends before its last moment; the last day is the one holding that moment.
    return tr("Period: %1 to %2").arg(dateText(m_report.from()), dateText(m_report.to() - 1));
}

QString DoseReportPrinter::thresholdText() const
{
    if (!m_report.thresholdsKnown())
        return tr("Thresholds: not known (time above them is not counted)");
    const auto value = [this](double v) {
        return v > 0 ? QString::number(v, 'f', m_report.unitsRoentgen() ? 0 : 2) + u' ' + m_report.unit() : tr("off");
    };
    return tr("Thresholds: Warning %1, Danger %2")
        .arg(value(m_report.warningThreshold()), value(m_report.dangerThreshold()));
}

QStringList DoseReportPrinter::columnTitles(const QString& unit)
{
    return { tr("Date"), tr("Highest\n%1").arg(unit), tr("Mean\n%1").arg(unit), tr("Alarms"), tr("Above\nWarning"),
        tr("Above\nDanger"), tr("Dose\ncleared") };
}

QString DoseReportPrinter::duration(qint64 seconds)
{
    const qint64 minutes = (seconds + 30) / 60;
    return QString::asprintf("%lld:%02lld", static_cast<long long>(minutes / 60), static_cast<long long>(minutes % 60));
}

std::vector<QStringList> DoseReportPrinter::rowCells(const DoseReport::Day& day, bool total) const
{
    const int decimals = m_report.unitsRoentgen() ? 1 : 2;
    const auto rate
        = [&](double v) { return day.measurements > 0 ? QString::number(v, 'f', decimals) : QStringLiteral("—"); };
    QStringList alarms;
    for (int kind = 0; kind < DoseReport::AlarmKinds; ++kind) {
        if (const int n = day.alarms[static_cast<size_t>(kind)]; n > 0)
            alarms << QStringLiteral("%1: %2").arg(DoseReport::kindName(kind)).arg(n);
    }
    if (alarms.isEmpty())
        alarms << QStringLiteral("0");
    const bool known = m_report.thresholdsKnown();
    QStringList cleared;
    if (total || day.doseCleared.empty()) {
        cleared << QString::number(day.doseCleared.size());
    } else {
        for (size_t i = 0; i < day.doseCleared.size() && i < ClearedTimesShown; ++i)
            cleared << LocalTime::format(day.doseCleared[i], "%H:%M");
        if (day.doseCleared.size() > ClearedTimesShown)
            cleared << tr("+%1 more").arg(day.doseCleared.size() - ClearedTimesShown);
    }
    return { { total ? tr("Total") : dateText(day.day) }, { rate(day.highest) }, { rate(day.mean()) }, alarms,
        { known && m_report.warningThreshold() > 0 ? duration(day.aboveWarning) : QStringLiteral("—") },
        { known && m_report.dangerThreshold() > 0 ? duration(day.aboveDanger) : QStringLiteral("—") }, cleared };
}

std::vector<DoseReportPrinter::Row> DoseReportPrinter::rows() const
{
    std::vector<Row> out;
    const auto add = [&](const DoseReport::Day& day, bool total) {
        Row row;
        row.cells = rowCells(day, total);
        row.total = total;
        for (const QStringList& cell : row.cells)
            row.lines = std::max(row.lines, static_cast<int>(cell.size()));
        out.push_back(std::move(row));
    };
    for (const DoseReport::Day& day : m_report.days())
        add(day, false);
    add(m_report.total(), true);
    return out;
}

DoseReportPrinter::Metrics DoseReportPrinter::metrics(QPagedPaintDevice& device) const
{
    Metrics m;
    m.width = device.width();
    m.height = device.height();
    m.body = QFont(QStringLiteral("Liberation Sans"));
    m.body.setStyleHint(QFont::SansSerif);
    m.body.setPixelSize(std::max(1, m.height / FontDivisor));
    m.bold = m.body;
    m.bold.setBold(true);
    m.title = m.bold;
    m.title.setPixelSize(std::max(1, m.height * 8 / (FontDivisor * 5)));
    const QFontMetrics fm(m.body, &device);
    m.line = std::max(1, fm.height() * 5 / 4);
    m.ascent = fm.ascent() + (m.line - fm.height()) / 2;
    m.pad = m.line / 4;
    const QFontMetrics titleMetrics(m.title, &device);
    // Title, then instrument, period, unit and thresholds, then a blank line.
    m.chartTop = titleMetrics.height() * 3 / 2 + 5 * m.line;
    m.chartHeight = static_cast<int>(m.height * ChartShare);
    m.firstTop = m.chartTop + m.chartHeight + m.line;
    m.headerHeight = 2 * m.line + m.pad;
    m.bottom = m.height - 2 * m.line;
    int x = 0;
    for (int c = 0; c < Columns; ++c) {
        m.x[static_cast<size_t>(c)] = x;
        m.w[static_cast<size_t>(c)] = static_cast<int>(m.width * ColumnShares[static_cast<size_t>(c)]);
        x += m.w[static_cast<size_t>(c)];
    }
    m.w[Columns - 1] = m.width - m.x[Columns - 1];
    return m;
}

std::vector<std::pair<size_t, size_t>> DoseReportPrinter::paginate(const Metrics& m, const std::vector<Row>& rows) const
{
    std::vector<std::pair<size_t, size_t>> pages;
    size_t first = 0;
    int top = m.firstTop + m.headerHeight;
    for (size_t i = 0; i < rows.size(); ++i) {
        const int height = rows[i].lines * m.line;
        // A row taller than a whole page still goes on a page of its own rather than nowhere.
        if (top + height > m.bottom && i > first) {
            pages.emplace_back(first, i);
            first = i;
            top = m.headerHeight;
        }
        top += height;
    }
    pages.emplace_back(first, rows.size());
    return pages;
}

int DoseReportPrinter::pageCount(QPagedPaintDevice& device) const
{
    return static_cast<int>(paginate(metrics(device), rows()).size());
}

bool DoseReportPrinter::print(QPagedPaintDevice& device) const
{
    const Metrics m = metrics(device);
    const std::vector<Row> allRows = rows();
    const auto pages = paginate(m, allRows);
    const int count = static_cast<int>(pages.size());
    int first = 1;
    int last = count;
    if (auto* printer = dynamic_cast<QPrinter*>(&device); printer && printer->printRange() == QPrinter::PageRange) {
        first = std::max(1, printer->fromPage());
        if (printer->toPage() > 0)
            last = std::min(count, printer->toPage());
    }
    if (first > last)
        return true;
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    for (int page = first; page <= last; ++page) {
        if (page > first && !device.newPage()) {
            painter.end();
            return false;
        }
        paintPage(painter, m, allRows, pages[static_cast<size_t>(page - 1)], page, count);
    }
    return painter.end();
}

void DoseReportPrinter::paintPage(QPainter& painter, const Metrics& m, const std::vector<Row>& rows,
    std::pair<size_t, size_t> range, int page, int pages) const
{
    painter.save();
    const QPen rule(Qt::black, std::max(1, m.line / 16));
    const QPen thin(Qt::gray, std::max(1, m.line / 32));
    int top = 0;
    if (page == 1) {
        painter.setFont(m.title);
        const QFontMetrics titleMetrics = painter.fontMetrics();
        painter.setPen(Qt::black);
        painter.drawText(0, titleMetrics.ascent(), titleText());
        int y = titleMetrics.height() * 3 / 2;
        painter.setFont(m.body);
        const QString unitLine = tr("Dose rate in %1").arg(m_report.unit())
            + (m_report.days().empty() ? QStringLiteral(". ") + tr("No events in this period.") : QString());
        for (const QString& text : { instrumentText(), periodText(), unitLine, thresholdText() }) {
            painter.drawText(0, y + m.ascent, text);
            y += m.line;
        }
        if (m_chart) {
            painter.save();
            m_chart(painter, QRect(0, m.chartTop, m.width, m.chartHeight), m_report);
            painter.restore();
        }
        top = m.firstTop;
    }

    // Column titles, on every page.
    painter.setFont(m.bold);
    painter.setPen(Qt::black);
    const QStringList titles = columnTitles(m_report.unit());
    for (int c = 0; c < Columns; ++c) {
        const QStringList lines = titles[c].split(u'\n');
        for (int l = 0; l < lines.size(); ++l) {
            const QString text = painter.fontMetrics().elidedText(lines[l], Qt::ElideRight, m.w[size_t(c)] - 2 * m.pad);
            painter.drawText(m.x[size_t(c)] + m.pad, top + l * m.line + m.ascent, text);
        }
    }
    top += m.headerHeight;
    painter.setPen(rule);
    painter.drawLine(0, top - m.pad / 2, m.width, top - m.pad / 2);

    for (size_t r = range.first; r < range.second; ++r) {
        const Row& row = rows[r];
        painter.setFont(row.total ? m.bold : m.body);
        if (row.total) {
            painter.setPen(rule);
            painter.drawLine(0, top, m.width, top);
        }
        painter.setPen(Qt::black);
        const QFontMetrics fm = painter.fontMetrics();
        for (int c = 0; c < Columns; ++c) {
            const QStringList& cell = row.cells[size_t(c)];
            for (int l = 0; l < cell.size(); ++l) {
                const int width = m.w[size_t(c)] - 2 * m.pad;
                const QString text = fm.elidedText(cell[l], Qt::ElideRight, width);
                // Figures line up on the right of their column, texts on the left.
                const bool figure = c != 0 && c != 3;
                const int x = m.x[size_t(c)] + m.pad + (figure ? width - fm.horizontalAdvance(text) : 0);
                painter.drawText(x, top + l * m.line + m.ascent, text);
            }
        }
        top += row.lines * m.line;
        if (!row.total && r + 1 < range.second && !rows[r + 1].total) {
            painter.setPen(thin);
            painter.drawLine(0, top, m.width, top);
        }
    }

    painter.setFont(m.body);
    painter.setPen(rule);
    const int footTop = m.height - m.line - m.pad;
    painter.drawLine(0, footTop, m.width, footTop);
    painter.setPen(Qt::black);
    painter.drawText(0, m.height - m.line + m.ascent, tr("KESTRA software. %1").arg(instrumentText()));
    const QString number = tr("Page %1/%2").arg(page, 2, 10, QLatin1Char('0')).arg(pages, 2, 10, QLatin1Char('0'));
    painter.drawText(m.width - painter.fontMetrics().horizontalAdvance(number), m.height - m.line + m.ascent, number);
    painter.restore();
}

bool DoseReportPrinter::savePdf(const QString& path, int pageSizeId) const
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setPageLayout(QPageLayout(QPageSize(static_cast<QPageSize::PageSizeId>(pageSizeId)), QPageLayout::Portrait,
        QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
    printer.setDocName(titleText());
    return print(printer);
}

void DoseReportPrinter::preview(const DoseReportPrinter& report, QWidget* parent)
{
    QPrintPreviewDialog dialog(parent);
    dialog.setWindowTitle(report.titleText());
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
        [&report](QPrinter* printer) { report.print(*printer); });
    dialog.exec();
}

void DoseReportPrinter::paintDailyChart(QPainter& painter, const QRect& area, const DoseReport& report)
{
    const QFontMetrics fm = painter.fontMetrics();
    const int line = fm.height();
    const int decimals = report.unitsRoentgen() ? 0 : 2;
    double top = std::max({ report.total().highest, report.warningThreshold(), report.dangerThreshold() });
    top = top > 0 ? top * 1.1 : 1;
    const int labelWidth = fm.horizontalAdvance(QString::number(top, 'f', decimals)) + line / 2;
    const QRect plot(
        area.left() + labelWidth, area.top() + line * 3 / 2, area.width() - labelWidth, area.height() - line * 3);
    const auto yOf = [&](double v) { return plot.bottom() - static_cast<int>(std::lround(v / top * plot.height())); };

    painter.setPen(Qt::black);
    const QColor highColour(120, 160, 210);
    const QColor meanColour(30, 70, 140);
    painter.drawText(area.left(), area.top() + fm.ascent(), tr("Dose rate per day, %1").arg(report.unit()));
    // Legend on the right of the title line.
    const QString highText = tr("Highest");
    const QString meanText = tr("Mean");
    int x = area.right() - fm.horizontalAdvance(highText) - fm.horizontalAdvance(meanText) - 3 * line;
    painter.fillRect(x, area.top() + line / 4, line / 2, line / 2, highColour);
    painter.drawText(x + line * 3 / 4, area.top() + fm.ascent(), highText);
    x += fm.horizontalAdvance(highText) + line * 3 / 2;
    painter.fillRect(x, area.top() + line / 4, line / 2, line / 2, meanColour);
    painter.drawText(x + line * 3 / 4, area.top() + fm.ascent(), meanText);

    // Axis with three values.
    painter.setPen(QPen(Qt::black, std::max(1, line / 16)));
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    painter.drawLine(plot.bottomLeft(), plot.topLeft());
    for (const double v : { 0.0, top / 2, top }) {
        const QString text = QString::number(v, 'f', decimals);
        painter.drawText(plot.left() - fm.horizontalAdvance(text) - line / 4, yOf(v) + fm.ascent() / 2, text);
    }

    const auto& days = report.days();
    const int n = std::max<int>(1, static_cast<int>(days.size()));
    const double slot = static_cast<double>(plot.width()) / n;
    const QString sample = QStringLiteral("00-00");
    const int every = std::max(1, static_cast<int>(std::ceil((fm.horizontalAdvance(sample) + line) / slot)));
    for (int i = 0; i < static_cast<int>(days.size()); ++i) {
        const DoseReport::Day& day = days[static_cast<size_t>(i)];
        const int left = plot.left() + static_cast<int>(i * slot + slot * 0.15);
        const int width = std::max(1, static_cast<int>(slot * 0.7));
        if (day.measurements > 0) {
            painter.fillRect(QRect(QPoint(left, yOf(day.highest)), QPoint(left + width, plot.bottom())), highColour);
            const int meanWidth = std::max(1, width / 2);
            painter.fillRect(QRect(QPoint(left + (width - meanWidth) / 2, yOf(day.mean())),
                                 QPoint(left + (width + meanWidth) / 2, plot.bottom())),
                meanColour);
        }
        if (i % every == 0) {
            // Centred under its bar, but not under the value labels left of the axis.
            const QString label = LocalTime::format(day.day, "%m-%d");
            const int labelLeft = std::max(plot.left(), left + width / 2 - fm.horizontalAdvance(label) / 2);
            painter.drawText(labelLeft, plot.bottom() + fm.ascent() + line / 4, label);
        }
    }

    const struct {
        double value;
        QString name;
        QColor colour;
    } lines[] = { { report.warningThreshold(), tr("Warning"), QColor(230, 140, 0) },
        { report.dangerThreshold(), tr("Danger"), QColor(220, 0, 0) } };
    for (const auto& t : lines) {
        if (t.value <= 0)
            continue;
        painter.setPen(QPen(t.colour, std::max(1, line / 10), Qt::DashLine));
        painter.drawLine(plot.left(), yOf(t.value), plot.right(), yOf(t.value));
        // On a white ground, so that the bars do not hide it.
        const QRect label(plot.right() - fm.horizontalAdvance(t.name) - line / 4, yOf(t.value) - line - line / 8,
            fm.horizontalAdvance(t.name) + line / 4, line);
        painter.fillRect(label, Qt::white);
        painter.drawText(label, Qt::AlignCenter, t.name);
    }
}
