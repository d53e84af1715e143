// The dose report printed to PDF on A4 and on Letter and read back with pdftotext and pdfinfo:
// the heading, each day's figures, the page breaks with their repeated column titles and
// footers, the total, an empty period, and the Russian texts.
#include "history/historydb.h"
#include "history/localtime.h"
#include "ui/dosereportprinter.h"

#include <QApplication>
#include <QPageSize>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

namespace {

qint64 local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return *LocalTime::fromLocal(y, mo, d, h, mi, s);
}

ChistoryRec rec(qint64 t, qint32 type, double value, qint32 alarm = 0)
{
    ChistoryRec r;
    r.hPagerID = QStringLiteral("A1");
    r.hDateTime = t;
    r.hType = type;
    r.hValue = value;
    r.hAlarm = alarm;
    r.hID = ChistoryRec::makeKey(r.hPagerID, t);
    return r;
}

QString run(const char* program, const QStringList& args)
{
    QProcess p;
    p.start(QString::fromUtf8(program), args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        qWarning() << program << "failed:" << p.readAllStandardError();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The text of each page, lines with their blanks made single, empty lines dropped.
QList<QStringList> pagesOf(const QString& pdf)
{
    QList<QStringList> pages;
    QStringList texts = run(PDFTOTEXT, { "-layout", "-enc", "UTF-8", pdf, "-" }).split(u'\f');
    if (!texts.isEmpty() && texts.last().trimmed().isEmpty())
        texts.removeLast();
    for (const QString& text : texts) {
        QStringList lines;
        for (const QString& line : text.split(u'\n')) {
            if (!line.trimmed().isEmpty())
                lines << line.simplified();
        }
        pages << lines;
    }
    return pages;
}

} // namespace

class TestDoseReportPrint : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    HistoryStore m_store;
    std::optional<DoseReport> m_report;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        HistoryDb* db = m_store.open(m_dir.filePath("report.db"), HistoryDb::OpenMode::Create);
        QVERIFY(db);
        // 40 days: the first with alarms, gaps and a cleared dose, then one reading a day.
        std::vector<ChistoryRec> events {
            rec(local(2026, 10, 25, 10, 0), 3, 10),
            rec(local(2026, 10, 25, 10, 10), 3, 50, ChistoryRec::GammaWarning),
            rec(local(2026, 10, 25, 10, 20), 3, 150, ChistoryRec::GammaDanger),
            rec(local(2026, 10, 25, 10, 30), 9, -1, ChistoryRec::DetectorError),
            rec(local(2026, 10, 25, 10, 31), 5, 80, ChistoryRec::BetaWarning),
            rec(local(2026, 10, 25, 11, 30), 3, 20),
            rec(local(2026, 10, 25, 12, 0), 11, -1),
            rec(local(2026, 10, 25, 23, 55), 3, 200),
        };
        for (int i = 1; i < 40; ++i)
            events.push_back(rec(local(2026, 10, 25, 12) + i * 86400LL, 3, 10 + i));
        QVERIFY(db->insertEvents(events));
        CUserParams params;
        params.derThreshold1 = 30;
        params.derThreshold2 = 120;
        params.historyInterval = 600;
        m_report = DoseReport::fromStore(*db, "A1", local(2026, 10, 25), local(2026, 12, 4), false, params);
        m_store.close();
        QCOMPARE(int(m_report->days().size()), 40);
    }

    void pagesOnA4AndLetter_data()
    {
        QTest::addColumn<int>("pageSize");
        QTest::addColumn<QString>("pdfinfoSize");
        QTest::newRow("A4") << int(QPageSize::A4) << "(A4)";
        QTest::newRow("Letter") << int(QPageSize::Letter) << "(letter)";
    }
    void pagesOnA4AndLetter()
    {
        QFETCH(int, pageSize);
        QFETCH(QString, pdfinfoSize);
        DoseReportPrinter printer(*m_report);
        printer.setInstrument("A1", "Van 3");
        const QString pdf = m_dir.filePath(QStringLiteral("report-%1.pdf").arg(QTest::currentDataTag()));
        QVERIFY(printer.savePdf(pdf, pageSize));
        QVERIFY2(run(PDFINFO, { pdf }).contains(pdfinfoSize), qPrintable(run(PDFINFO, { pdf })));

        const QList<QStringList> pages = pagesOf(pdf);
        QCOMPARE(pages.size(), 2);
        const QStringList& first = pages[0];
        QCOMPARE(first.value(0), QString("Dose report"));
        QVERIFY(first.contains("Instrument: A1 (Van 3)"));
        QVERIFY(first.contains("Period: 2026-10-25 to 2026-12-03"));
        QVERIFY(first.contains("Dose rate in µSv/h"));
        QVERIFY(first.contains("Thresholds: Warning 0.30 µSv/h, Danger 1.20 µSv/h"));
        QVERIFY(first.join(u'\n').contains("Dose rate per day, µSv/h"));

        // The first day: highest, mean, alarms by kind on their own lines, time above each
        // threshold, the cleared dose at noon.
        const qsizetype row = first.indexOf(QRegularExpression("^2026-10-25 .*"));
        QVERIFY2(row >= 0, qPrintable(first.join(u'\n')));
        QCOMPARE(first[row], QString("2026-10-25 2.00 0.86 Detector error: 1 0:25 0:15 12:00"));
        QCOMPARE(first.mid(row + 1, 3), QStringList({ "Danger γ: 1", "Warning β: 1", "Warning γ: 1" }));
        QCOMPARE(
            first.filter(QRegularExpression("^2026-10-26 ")), QStringList { "2026-10-26 0.11 0.11 0 0:00 0:00 0" });

        // Every day exactly once, in order, over both pages; column titles and footers on each.
        QStringList dates;
        for (int p = 0; p < pages.size(); ++p) {
            QVERIFY2(pages[p].filter(QRegularExpression("^Date Highest Mean Alarms Above Above Dose$")).size() == 1,
                qPrintable(pages[p].join(u'\n')));
            QCOMPARE(pages[p].last(),
                QString("KESTRA software. Instrument: A1 (Van 3) Page %1/02").arg(p + 1, 2, 10, QLatin1Char('0')));
            for (const QString& line : pages[p]) {
                if (QRegularExpression("^\\d{4}-\\d\\d-\\d\\d ").match(line).hasMatch())
                    dates << line.left(10);
            }
        }
        QCOMPARE(dates.size(), 40);
        QCOMPARE(dates.first(), QString("2026-10-25"));
        QCOMPARE(dates.last(), QString("2026-12-03"));
        QVERIFY(std::is_sorted(dates.begin(), dates.end()));
        // The total: highest of all, the alarms, the time above (twenty later days stand at or
        // above the warning for one interval each), one cleared dose.
        QVERIFY2(pages[1].filter(QRegularExpression("^Total 2.00 ")).size() == 1, qPrintable(pages[1].join(u'\n')));
        QVERIFY2(pages[1].filter(QRegularExpression("^Total 2.00 0.\\d\\d Detector error: 1 3:45 0:15 1$")).size() == 1,
            qPrintable(pages[1].join(u'\n')));
    }

    // No events: one page with the heading and a total of nothing; no thresholds known.
    void emptyPeriodAndRussian()
    {
        DoseReport empty("A1", local(2027, 1, 1), local(2027, 1, 8), true);
        empty.finish();
        DoseReportPrinter printer(empty);
        const QString pdf = m_dir.filePath("empty.pdf");
        QVERIFY(printer.savePdf(pdf, QPageSize::A4));
        const QList<QStringList> pages = pagesOf(pdf);
        QCOMPARE(pages.size(), 1);
        QVERIFY(pages[0].contains("Period: 2027-01-01 to 2027-01-07"));
        QVERIFY(pages[0].contains("Dose rate in µR/h. No events in this period."));
        QVERIFY(pages[0].contains("Thresholds: not known (time above them is not counted)"));
        QVERIFY(pages[0].contains("Total — — 0 — — 0"));

        QTranslator russian;
        QVERIFY(russian.load(QStringLiteral(KESTRA_QM)));
        QCoreApplication::installTranslator(&russian);
        DoseReportPrinter translated(*m_report);
        const QString ru = m_dir.filePath("ru.pdf");
        QVERIFY(translated.savePdf(ru, QPageSize::A4));
        QCoreApplication::removeTranslator(&russian);
        const QString text = pagesOf(ru).value(0).join(u'\n');
        QVERIFY2(text.contains("Отчёт о дозе"), qPrintable(text));
        QVERIFY(text.contains("мкЗв/ч"));
        QVERIFY(text.contains("Опасность γ: 1"));
        QVERIFY(!text.contains("Dose report"));
    }
};

QTEST_MAIN(TestDoseReportPrint)
#include "tst_dosereport.moc"
