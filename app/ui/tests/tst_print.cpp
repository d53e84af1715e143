// The printed event list, read back from PDF with pdftotext: header, lines, order, footers,
// page count and the alarm filter; the preview dialog on the same pages.
#include "history/viewflags.h"
#include "ui/eventlistprinter.h"

#include <QApplication>
#include <QDateTime>
#include <QFontInfo>
#include <QPageLayout>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString pager = QStringLiteral("123456");

qint64 at(int hour, int minute, int second)
{
    // The tests run with TZ pinned, so the local texts below are fixed.
    return QDateTime(QDate(2026, 12, 8), QTime(hour, minute, second)).toSecsSinceEpoch();
}

ChistoryRec record(
    qint64 time, qint32 type, double value, qint32 alarm = 0, const QString& comment = {}, qint32 precision = -1)
{
    ChistoryRec rec;
    rec.hDateTime = time;
    rec.hType = type;
    rec.hValue = value;
    rec.hAlarm = alarm;
    rec.hComment = comment;
    rec.hPrecision = precision;
    rec.hPagerID = pager;
    rec.hID = ChistoryRec::makeKey(pager, time);
    return rec;
}

// Rows as the list shows them, newest first; the comment names the row by its age, r0000 the oldest.
std::vector<ChistoryRec> numberedRows(int count)
{
    std::vector<ChistoryRec> rows;
    for (int i = count - 1; i >= 0; --i)
        rows.push_back(record(at(8, 0, 0) + i, 3, 100 + i, 0, QStringLiteral("r%1").arg(i, 4, 10, QLatin1Char('0'))));
    return rows;
}

void setUpPdf(QPrinter& printer, const QString& path)
{
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10)));
}

// Prints to a PDF and returns the text of each page, one entry per line with runs of blanks
// made single and empty lines dropped (pdftotext places columns only approximately).
QList<QStringList> printedPages(const EventListPrinter& list, QPrinter& printer)
{
    if (!list.print(printer)) {
        QTest::qFail("print failed", __FILE__, __LINE__);
        return {};
    }
    QProcess pdftotext;
    pdftotext.start(QStringLiteral(PDFTOTEXT), { "-layout", "-enc", "UTF-8", printer.outputFileName(), "-" });
    if (!pdftotext.waitForFinished(120000) || pdftotext.exitCode() != 0) {
        QTest::qFail(qPrintable("pdftotext (poppler-utils) failed: " + pdftotext.errorString()
                         + QString::fromUtf8(pdftotext.readAllStandardError())),
            __FILE__, __LINE__);
        return {};
    }
    QStringList pageTexts = QString::fromUtf8(pdftotext.readAllStandardOutput()).split(QLatin1Char('\f'));
    if (!pageTexts.isEmpty() && pageTexts.last().trimmed().isEmpty())
        pageTexts.removeLast(); // after the last page's form feed
    QList<QStringList> pages;
    for (const QString& text : pageTexts) {
        QStringList lines;
        for (const QString& line : text.split(QLatin1Char('\n'))) {
            if (!line.trimmed().isEmpty())
                lines.append(line.simplified());
        }
        pages.append(lines);
    }
    return pages;
}

QString footer(int page, int pages)
{
    return QString::asprintf("Page %02d/%02d", page, pages);
}

} // namespace

class TestPrint : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    // The page capacity depends on the face: without Liberation Mono another face would give
    // other line heights and another page count than elsewhere.
    void layoutUsesTheInstalledFace()
    {
        QPrinter printer(QPrinter::HighResolution);
        setUpPdf(printer, m_dir.filePath("face.pdf"));
        const auto layout = EventListPrinter::layout(printer);
        QCOMPARE(QFontInfo(layout.font).family(), QStringLiteral("Liberation Mono"));
        QCOMPARE(layout.font.pixelSize(), layout.pageHeight / 96);
        QVERIFY2(
            layout.linesPerPage > 60 && layout.linesPerPage < 100, qPrintable(QString::number(layout.linesPerPage)));
    }

    void pageText_data()
    {
        QTest::addColumn<bool>("roentgen");
        QTest::addColumn<QString>("displayName"); // "-": setInstrument not called
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("gammaValue");
        QTest::newRow("roentgen, named") << true << "Van 3"
                                         << "KESTRA software. Instrument: 123456 (Van 3)"
                                         << "1.50 mR/h";
        QTest::newRow("sievert, name as id") << false << pager << "KESTRA software. Instrument: 123456"
                                             << "15.00 µSv/h";
        QTest::newRow("identifier of the rows") << false << "-"
                                                << "KESTRA software. Instrument: 123456"
                                                << "15.00 µSv/h";
    }

    // A whole page: header, the lines oldest first with their texts, the footer, nothing else.
    void pageText()
    {
        QFETCH(bool, roentgen);
        QFETCH(QString, displayName);
        QFETCH(QString, header);
        QFETCH(QString, gammaValue);
        const std::vector<ChistoryRec> rows {
            record(at(10, 0, 20), 3, 1500, ChistoryRec::GammaWarning, "check\r\nagain"),
            record(at(10, 0, 10), 7, 12.5, 0, {}, 15),
            record(at(10, 0, 0), 9, -1),
        };
        EventListPrinter list(rows, roentgen, ViewFlags::AllEvents);
        if (displayName != "-")
            list.setInstrument(pager, displayName);

        QPrinter printer(QPrinter::HighResolution);
        setUpPdf(printer, m_dir.filePath("page.pdf"));
        QCOMPARE(list.pageCount(printer), 1);
        const auto pages = printedPages(list, printer);
        const QStringList expected {
            header,
            "2026-12-08 10:00:00 Instrument is switched On",
            "2026-12-08 10:00:10 Background 12.50±15% cps",
            "2026-12-08 10:00:20 Measurement gamma " + gammaValue + " Threshold \"Warning\" is exceeded! check again",
            footer(1, 1),
        };
        QCOMPARE(pages.size(), 1);
        QCOMPARE(pages.first(), expected);

        // The exact columns, which pdftotext only approximates.
        QCOMPARE(list.lineText(rows[1]),
            QStringLiteral("2026-12-08 10:00:10  Background               12.50±15% cps    %1 %2")
                .arg(QString(20, QLatin1Char(' ')), QString(20, QLatin1Char(' '))));
    }

    void pagination_data()
    {
        QPrinter printer(QPrinter::HighResolution);
        setUpPdf(printer, m_dir.filePath("probe.pdf"));
        const int p = EventListPrinter::layout(printer).linesPerPage;
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("pages");
        QTest::newRow("empty day") << 0 << 1;
        QTest::newRow("one row") << 1 << 1;
        QTest::newRow("one full page") << p << 1;
        // No empty page after a page filled to its last line.
        QTest::newRow("two full pages") << 2 * p << 2;
        QTest::newRow("one row over") << 2 * p + 1 << 3;
    }

    // Every row printed once, oldest first, across pages that carry their number and the count.
    void pagination()
    {
        QFETCH(int, rows);
        QFETCH(int, pages);
        EventListPrinter list(numberedRows(rows), true, ViewFlags::AllEvents);
        QPrinter printer(QPrinter::HighResolution);
        setUpPdf(printer, m_dir.filePath("pages.pdf"));
        const int perPage = EventListPrinter::layout(printer).linesPerPage;
        QCOMPARE(list.pageCount(printer), pages);

        const auto printed = printedPages(list, printer);
        QCOMPARE(printed.size(), pages);
        const QRegularExpression rowName(QStringLiteral(" (r\\d{4})$"));
        QStringList seen;
        for (int page = 0; page < pages; ++page) {
            const QStringList& lines = printed[page];
            QVERIFY(lines.size() >= 2);
            QCOMPARE(lines.first(), list.headerText().trimmed());
            QCOMPARE(lines.last(), footer(page + 1, pages));
            QVERIFY(lines.size() - 2 <= perPage);
            for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
                const auto match = rowName.match(lines[i]);
                QVERIFY2(match.hasMatch(), qPrintable(lines[i]));
                seen.append(match.captured(1));
            }
        }
        QStringList expected;
        for (int i = 0; i < rows; ++i)
            expected.append(QStringLiteral("r%1").arg(i, 4, 10, QLatin1Char('0')));
        QCOMPARE(seen, expected);
    }

    void alarmFilter_data()
    {
        QTest::addColumn<std::vector<ChistoryRec>>("rows");
        QTest::addColumn<int>("filter");
        QTest::addColumn<QStringList>("body"); // the comments of the printed lines
        const std::vector<ChistoryRec> quiet {
            record(at(9, 0, 2), 3, 30, 0, "c"),
            record(at(9, 0, 1), 3, 20, ChistoryRec::SearchAlarm, "b"), // no alarm text: not an alarm
            record(at(9, 0, 0), 3, 10, 0, "a"),
        };
        const std::vector<ChistoryRec> mixed {
            record(at(9, 0, 3), 3, 40, ChistoryRec::DoseOverload, "d"),
            record(at(9, 0, 2), 3, 30, 0, "c"),
            record(at(9, 0, 1), 3, 20, ChistoryRec::DetectorError, "b"),
            record(at(9, 0, 0), 3, 10, 0, "a"),
        };
        QTest::newRow("alarms only, day without alarms") << quiet << int(ViewFlags::AlarmsOnly) << QStringList {};
        QTest::newRow("alarms only, mixed day") << mixed << int(ViewFlags::AlarmsOnly) << QStringList { "b", "d" };
        QTest::newRow("all events, mixed day")
            << mixed << int(ViewFlags::AllEvents) << QStringList { "a", "b", "c", "d" };
    }

    void alarmFilter()
    {
        QFETCH(std::vector<ChistoryRec>, rows);
        QFETCH(int, filter);
        QFETCH(QStringList, body);
        EventListPrinter list(rows, false, filter);
        QPrinter printer(QPrinter::HighResolution);
        setUpPdf(printer, m_dir.filePath("filter.pdf"));
        QCOMPARE(list.pageCount(printer), 1);
        const auto pages = printedPages(list, printer);
        QCOMPARE(pages.size(), 1);
        const QStringList& lines = pages.first();
        QVERIFY(lines.size() >= 2);
        QCOMPARE(lines.first(), QStringLiteral("KESTRA software. Instrument: 123456"));
        QCOMPARE(lines.last(), footer(1, 1));
        QStringList comments;
        for (qsizetype i = 1; i + 1 < lines.size(); ++i)
            comments.append(lines[i].section(QLatin1Char(' '), -1));
        QCOMPARE(comments, body);
    }

    // A page range chosen in the print dialog prints those pages, numbered as in the whole job.
    void pageRange()
    {
        QPrinter printer(QPrinter::HighResolution);
        setUpPdf(printer, m_dir.filePath("range.pdf"));
        const int perPage = EventListPrinter::layout(printer).linesPerPage;
        EventListPrinter list(numberedRows(2 * perPage + 1), true, ViewFlags::AllEvents);
        printer.setPrintRange(QPrinter::PageRange);
        printer.setFromTo(2, 9);
        const auto pages = printedPages(list, printer);
        QCOMPARE(pages.size(), 2);
        QCOMPARE(pages[0].last(), footer(2, 3));
        QVERIFY(pages[0][1].endsWith(QStringLiteral("r%1").arg(perPage, 4, 10, QLatin1Char('0'))));
        QCOMPARE(pages[1].last(), footer(3, 3));
    }

    // A page too small for the header and footer still gets one line a page; an output that
    // cannot be written is reported.
    void unusablePrinters()
    {
        EventListPrinter list(numberedRows(3), true, ViewFlags::AllEvents);
        QPrinter tiny;
        setUpPdf(tiny, m_dir.filePath("tiny.pdf"));
        tiny.setResolution(72);
        tiny.setPageLayout(QPageLayout(QPageSize(QSizeF(1, 1), QPageSize::Millimeter), QPageLayout::Portrait, {}));
        const auto layout = EventListPrinter::layout(tiny);
        QVERIFY2(layout.pageHeight / layout.lineHeight < 5, "the page is not too small for the header and footer");
        QCOMPARE(layout.linesPerPage, 1);
        QCOMPARE(list.pageCount(tiny), 3);
        QCOMPARE(printedPages(list, tiny).size(), 3);

        QPrinter nowhere(QPrinter::HighResolution);
        setUpPdf(nowhere, m_dir.filePath("missing-folder/list.pdf"));
        QVERIFY(!list.print(nowhere));
    }

    // The preview shows the same pages as the print.
    void preview()
    {
        // Enough rows for more than one page at any resolution.
        EventListPrinter list(numberedRows(200), true, ViewFlags::AllEvents);
        int shown = -1;
        int expected = -1;
        int ticks = 0;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
            auto* widget = dialog ? dialog->findChild<QPrintPreviewWidget*>() : nullptr;
            if (widget && (widget->pageCount() > 0 || ++ticks > 400)) {
                shown = widget->pageCount();
                expected = list.pageCount(*dialog->printer());
                dialog->reject();
            }
        });
        poll.start(10);
        EventListPrinter::preview(list, nullptr);
        QVERIFY(expected >= 2);
        QCOMPARE(shown, expected);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestPrint)
#include "tst_print.moc"
