// The dose report command of the main window.
#include "ui/mainframe.h"

#include "charts/rangechart.h"
#include "config/programfolder.h"
#include "document/kestradoc.h"
#include "history/dosereport.h"
#include "history/historydb.h"
#include "history/historyexport.h"
#include "history/historyfiles.h"
#include "history/historyrange.h"
#include "history/localtime.h"
#include "history/messenger.h"
#include "history/querymode.h"
#include "history/viewflags.h"
#include "ui/dosereportdialog.h"
#include "ui/dosereportprinter.h"

#include <QDir>
#include <QFileDialog>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <memory>

namespace {

QDate dateOf(qint64 moment)
{
    const std::optional<std::tm> tm = LocalTime::toLocal(moment);
    return tm ? QDate(tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday) : QDate();
}

} // namespace

DoseReport CMainFrame::buildDoseReport(
    const QString& id, qint64 from, qint64 to, const std::optional<CUserParams>& thresholds)
{
    const bool roentgen = m_doc.context().viewFlags().unitsRoentgen();
    // This computer's store (or an archive viewed here) is read in batches; through a server
    // the days come one at a time as the event list gets them.
    if (HistoryDb* db = shownStore()) {
        // Read in a job: a long span of a large store takes a while.
        std::optional<DoseReport> read;
        std::optional<DbError> failed;
        const bool ran = m_doc.readJob([&] {
            try {
                read = DoseReport::fromStore(*db, id, from, to, roentgen, thresholds);
            } catch (const DbError& e) {
                failed = e;
            }
        });
        if (failed)
            throw *failed;
        if (!ran || !read)
            throw DbError(tr("another operation is in progress"));
        return std::move(*read);
    }
    DoseReport report(id, from, to, roentgen, thresholds);
    std::vector<qint64> days;
    if (const CPager* pager = m_doc.pagers().find(id)) {
        for (const auto& [day, list] : pager->days()) {
            if (day >= from && day < to)
                days.push_back(day);
        }
    }
    for (const qint64 day : days) {
        const CHistoryList* list = m_doc.dayEvents(id, day, QueryMode::AllEvents);
        if (!list)
            continue;
        std::vector<ChistoryRec> records(list->records().begin(), list->records().end());
        std::stable_sort(records.begin(), records.end(),
            [](const ChistoryRec& a, const ChistoryRec& b) { return a.hDateTime < b.hDateTime; });
        for (const ChistoryRec& r : records)
            report.add(r);
    }
    report.finish();
    return report;
}

void CMainFrame::doseReport()
{
    const QString id = m_doc.state().currentInstrument();
    if (id.isEmpty())
        return;
    const CPager* pager = m_doc.pagers().find(id);
    const QString name = pager ? pager->displayName() : QString();
    const qint64 current = m_doc.state().currentDate();
    emit dialogOpened(QStringLiteral("CDoseReportDialog"));
    CDoseReportDialog dialog(name.isEmpty() || name == id ? id : QStringLiteral("%1 (%2)").arg(id, name),
        current != 0 ? dateOf(current) : QDate::currentDate(), m_doc.state().connected(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const auto span = HistoryExport::daySpan(dialog.from().toString(Qt::ISODate), dialog.to().toString(Qt::ISODate));
    if (!span) {
        m_doc.messenger().tell(
            tr("Error!"), tr("The period of the report is not a span of dates."), Messenger::Icon::Error);
        return;
    }
    std::optional<CUserParams> thresholds;
    if (dialog.readThresholds()) {
        CUserParams params;
        if (m_doc.readUserParams(params))
            thresholds = params;
        else
            m_doc.messenger().tell(tr("Attention!"),
                tr("The thresholds could not be read from the instrument; the report is made without them."),
                Messenger::Icon::Warning);
    }
    std::optional<DoseReport> report;
    try {
        report = buildDoseReport(id, span->first, span->second, thresholds);
    } catch (const DbError& e) {
        m_doc.messenger().tell(HistoryDb::errorCaption(), QString::fromUtf8(e.what()), Messenger::Icon::Error);
        return;
    }
    DoseReportPrinter printer(std::move(*report));
    printer.setInstrument(id, name);
    // From this computer's store the chart is the range view's: per bucket the lowest, highest
    // and mean values, read in one query. Through a server the report draws its daily bars.
    if (HistoryDb* db = shownStore()) {
        const RangeRequest request { id, span->first, span->second,
            HistoryRange::bucketWidthFor(span->second - span->first) };
        std::shared_ptr<const RangeSummary> summary;
        m_doc.readJob([&] {
            try {
                summary = std::make_shared<const RangeSummary>(db->rangeSummary(request));
            } catch (const std::exception&) {
                // The daily bars drawn from the report's own figures stand in for it.
            }
        });
        if (summary) {
            const bool roentgen = printer.report().unitsRoentgen();
            printer.setChartPainter(
                [summary, roentgen, thresholds](QPainter& painter, const QRect& area, const DoseReport&) {
                    // The chart is laid out for a screen: it is drawn at 96 units an inch and
                    // scaled onto the page, so that its texts and strokes keep their size.
                    const double scale = std::max(1.0, painter.device()->logicalDpiY() / 96.0);
                    painter.save();
                    painter.translate(area.topLeft());
                    painter.scale(scale, scale);
                    QFont font = painter.font();
                    font.setPixelSize(11);
                    painter.setFont(font);
                    RangeChart::paint(painter, QRect(0, 0, int(area.width() / scale), int(area.height() / scale)),
                        *summary, roentgen, thresholds);
                    painter.restore();
                });
        }
    }
    if (dialog.action() == CDoseReportDialog::Preview) {
        DoseReportPrinter::preview(printer, this);
        return;
    }

    const QString proposed = QStringLiteral("%1[%2 %3].pdf")
                                 .arg(id, dialog.from().toString(Qt::ISODate), dialog.to().toString(Qt::ISODate));
    QFileDialog files(
        this, tr("Save Dose Report"), archivesFolder() + u'/' + proposed, tr("PDF files") + QStringLiteral(" (*.pdf)"));
    files.setAcceptMode(QFileDialog::AcceptSave);
    files.setDefaultSuffix(QStringLiteral("pdf"));
    const bool chosen = files.exec() == QDialog::Accepted && !files.selectedFiles().isEmpty();
    QDir::setCurrent(m_doc.context().folder().path());
    if (!chosen)
        return;
    QString path = files.selectedFiles().constFirst();
    if (!path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
        path += QStringLiteral(".pdf");
    if (!printer.savePdf(path, dialog.pageSize()))
        m_doc.messenger().tell(
            tr("Error!"), tr("The dose report cannot be written to %1.").arg(path), Messenger::Icon::Error);
}
