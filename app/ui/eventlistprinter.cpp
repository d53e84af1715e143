#include "ui/eventlistprinter.h"

#include "history/viewflags.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <algorithm>

namespace {

// The print font is this fraction of the page height, the event lines start this many lines
// down, and this many lines of the page go to the header and footer.
constexpr int fontDivisor = 96;
constexpr int firstBodyLine = 3;
constexpr int headerFooterLines = 4;

// printf's "%-Ns": pad on the right to at least n characters, never cut.
QString field(const QString& text, int width)
{
    return text.leftJustified(width, QLatin1Char(' '), false);
}

} // namespace

EventListPrinter::EventListPrinter(std::vector<ChistoryRec> rowsInViewOrder, bool roentgen, int filterIndex)
    : m_roentgen(roentgen)
{
    if (!rowsInViewOrder.empty())
        m_identifier = rowsInViewOrder.front().hPagerID;
    if (filterIndex == ViewFlags::AlarmsOnly)
        std::erase_if(rowsInViewOrder, [](const ChistoryRec& rec) { return !rec.isAlarm(); });
    // The list is printed from its last row upwards.
    m_rows.assign(std::make_move_iterator(rowsInViewOrder.rbegin()), std::make_move_iterator(rowsInViewOrder.rend()));
}

void EventListPrinter::setInstrument(const QString& identifier, const QString& displayName)
{
    m_identifier = identifier;
    m_displayName = displayName;
}

EventListPrinter::Layout EventListPrinter::layout(const QPaintDevice& device)
{
    Layout result;
    result.pageWidth = device.width();
    result.pageHeight = device.height();
    // "Courier New" of the original layout; Liberation Mono has the same advance widths.
    result.font = QFont(QStringLiteral("Liberation Mono"));
    result.font.setStyleHint(QFont::TypeWriter);
    result.font.setFixedPitch(true);
    result.font.setWeight(QFont::Black);
    result.font.setPixelSize(std::max(1, result.pageHeight / fontDivisor));
    const QFontMetrics metrics(result.font, &device);
    result.ascent = metrics.ascent();
    result.lineHeight = std::max(1, metrics.height() + std::max(0, metrics.leading()));
    result.linesPerPage = std::max(1, result.pageHeight / result.lineHeight - headerFooterLines);
    return result;
}

int EventListPrinter::pageCountFor(int rows, int linesPerPage)
{
    if (rows <= 0)
        return 1;
    return (rows - 1) / std::max(1, linesPerPage) + 1;
}

int EventListPrinter::pageCount(QPrinter& printer) const
{
    return pageCountFor(rowCount(), layout(printer).linesPerPage);
}

QString EventListPrinter::headerText() const
{
    QString name;
    if (!m_displayName.isEmpty() && m_displayName != m_identifier)
        name = QStringLiteral("(%1)").arg(m_displayName);
    return QCoreApplication::translate("EventListPrinter", "KESTRA software. Instrument: %1 %2")
        .arg(m_identifier, name);
}

QString EventListPrinter::lineText(const ChistoryRec& rec) const
{
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(field(rec.dateText(), 9), field(rec.timeText(), 9), field(rec.eventTypeText(), 24),
            field(rec.valueText(m_roentgen), 16), field(rec.alarmText(), 20), field(rec.commentText(), 20));
}

bool EventListPrinter::print(QPrinter& printer) const
{
    const Layout pageLayout = layout(printer);
    const int pages = pageCountFor(rowCount(), pageLayout.linesPerPage);
    int first = 1;
    int last = pages;
    if (printer.printRange() == QPrinter::PageRange) {
        if (printer.fromPage() > 0)
            first = printer.fromPage();
        if (printer.toPage() > 0)
            last = std::min(pages, printer.toPage());
    }
    if (first > last)
        return true; // the chosen range holds no page of this list

    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    for (int page = first; page <= last; ++page) {
        if (page > first && !printer.newPage()) {
            painter.end();
            return false;
        }
        paintPage(painter, pageLayout, page, pages);
    }
    return painter.end();
}

void EventListPrinter::paintPage(QPainter& painter, const Layout& layout, int page, int pages) const
{
    const int lh = layout.lineHeight;
    const int left = firstBodyLine * lh;
    const int ruleOffset = lh * 3 / 2;
    painter.save();
    painter.setFont(layout.font);
    // A rule of about the stroke of the bold face; a one-pixel line vanishes at printer resolution.
    const QPen pen(Qt::black, std::max(1, lh / 12));
    painter.setPen(pen);

    // Texts are placed by the top of their line; QPainter places them by the baseline.
    painter.drawText(left, layout.ascent, headerText());
    painter.drawLine(left, ruleOffset, layout.pageWidth, ruleOffset);

    const int firstRow = (page - 1) * layout.linesPerPage;
    const int endRow = std::min(rowCount(), firstRow + layout.linesPerPage);
    for (int row = firstRow; row < endRow; ++row) {
        const int top = (row - firstRow + firstBodyLine) * lh;
        painter.drawText(left, top + layout.ascent, lineText(m_rows[static_cast<size_t>(row)]));
    }

    const QString footer = QString::asprintf("Page %02d/%02d", page, pages);
    const int footerWidth = painter.fontMetrics().horizontalAdvance(footer);
    painter.drawText(layout.pageWidth - footerWidth, layout.pageHeight - lh + layout.ascent, footer);
    // The foot rule goes 1.5 lines above the page end, unless that crosses the last event line
    // (the page height is rarely a whole number of lines); then just below that line.
    const int bodyEnd = (firstBodyLine + layout.linesPerPage) * lh;
    const int footRule = std::max(layout.pageHeight - ruleOffset, bodyEnd + pen.width());
    painter.drawLine(left, footRule, layout.pageWidth, footRule);
    painter.restore();
}

QString EventListPrinter::preview(EventListPrinter& list, QWidget* parent)
{
    QPrintPreviewDialog dialog(parent);
    QString failed;
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&list, &failed](QPrinter* printer) {
        if (!list.print(*printer))
            failed = target(*printer);
    });
    dialog.exec();
    return failed;
}

QString EventListPrinter::target(const QPrinter& printer)
{
    return printer.outputFileName().isEmpty() ? printer.printerName() : printer.outputFileName();
}
