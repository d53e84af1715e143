// The window's Save History As in CSV and JSON Lines and its Dose Report command, through their
// dialogs, on a real store without an instrument.
#include "uitestsupport.h"

#include "document/kestradoc.h"
#include "models/instrumenttreemodel.h"
#include "ui/dosereportdialog.h"
#include "ui/kestradevview.h"
#include "ui/mainframe.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QPushButton>
#include <QTest>

using namespace uitest;
using Command = Commands::Id;

namespace {

ChistoryRec reading(qint64 t, double value, qint32 alarm = 0, const QString& comment = {})
{
    ChistoryRec r = makeEvent(Id1, t, alarm, comment);
    r.hValue = value;
    r.hPrecision = -1;
    return r;
}

QDate dateOf(qint64 t)
{
    const std::tm tm = *LocalTime::toLocal(t);
    return QDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class ReportCommandsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<AppContext> m_context;
    std::unique_ptr<CKESTRADoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;
    ModalAnswerer* m_answerer = nullptr;

    void select(const QString& id, qint64 day)
    {
        InstrumentTreeModel& model = m_frame->treeView().treeModel();
        m_frame->treeView().setCurrentIndex(model.indexOf(id, day));
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

    // Answers the next file dialog: the file type of that suffix, the name typed without it.
    void chooseFile(ModalAnswerer& answerer, const QString& pathWithoutSuffix, const QString& suffix)
    {
        answerer.then([&answerer, pathWithoutSuffix, suffix](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            if (!dialog) {
                answerer.unexpected << w->metaObject()->className();
                w->close();
                return;
            }
            auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            const int index = types ? types->findText(QStringLiteral("(*.%1)").arg(suffix), Qt::MatchEndsWith) : -1;
            if (index < 0) {
                answerer.unexpected << QStringLiteral("no file type ") + suffix;
                dialog->reject();
                return;
            }
            answerer.texts << dialog->nameFilters().join(u';');
            types->setCurrentIndex(index);
            emit types->activated(index); // as a person's choice in the box
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(pathWithoutSuffix);
            static_cast<QDialog*>(dialog)->accept();
        });
    }

private slots:
    void initTestCase()
    {
        m_context = makeContext(m_home);
        QVERIFY(m_context);
        QVERIFY(m_context->store().current()->insertEvents(std::vector {
            reading(at(2, 3600), 150, ChistoryRec::GammaWarning),
            reading(at(2, 7200), 50, 0, QStringLiteral("checked, \"twice\"\nby hand")),
            reading(at(1, 100), 20),
        }));
        QVERIFY(startWindow(*m_context, m_doc, m_frame));
    }

    void cleanupTestCase()
    {
        m_frame.reset();
        m_doc.reset();
        m_context.reset();
    }

    // The three file types of Save History As; the text ones oldest first and under the filter.
    void saveHistoryAsCsvAndJson()
    {
        ModalAnswerer answerer;
        select(Id1, at(2, 0));
        const QString csv = m_home.filePath(QStringLiteral("day"));
        chooseFile(answerer, csv, QStringLiteral("csv"));
        QVERIFY(m_frame->runCommand(Command::SaveHistoryAs));
        QVERIFY(answerer.done());
        QCOMPARE(answerer.unexpected, QStringList());
        QCOMPARE(answerer.texts.value(0),
            QStringLiteral("Excel files (*.xls);CSV files (*.csv);JSON Lines files (*.jsonl)"));
        const QList<QByteArray> lines = fileBytes(csv + QStringLiteral(".csv")).split('\n');
        QCOMPARE(lines.size(), 5); // header, two events (one over two lines), and the end
        QVERIFY(lines[0].startsWith("time,instrument,type_code,"));
        QVERIFY(lines[1].contains(",3,Measurement gamma,1.5,µSv/h,,1,\"Threshold \"\"Warning\"\" is exceeded!\",\r"));
        QVERIFY(lines[2].endsWith(",0,,\"checked, \"\"twice\"\"")); // quoted, line break kept

        m_frame->filterBox().setCurrentIndex(1);
        const QString json = m_home.filePath(QStringLiteral("alarms"));
        chooseFile(answerer, json, QStringLiteral("jsonl"));
        QVERIFY(m_frame->runCommand(Command::SaveHistoryAs));
        m_frame->filterBox().setCurrentIndex(0);
        QVERIFY(answerer.done());
        const QByteArray alarms = fileBytes(json + QStringLiteral(".jsonl"));
        QCOMPARE(alarms.count('\n'), 1);
        QVERIFY(alarms.contains("\"value\":1.5,\"unit\":\"µSv/h\""));
    }

    // The report of two days saved as PDF on Letter, and the preview, through the report dialog.
    void doseReportToPdfAndPreview()
    {
        ModalAnswerer answerer;
        select(Id1, at(1, 0));
        answerer.then([&answerer](QWidget* w) {
            auto* dialog = qobject_cast<CDoseReportDialog*>(w);
            if (!dialog) {
                answerer.unexpected << w->metaObject()->className();
                w->close();
                return;
            }
            answerer.texts << dialog->toEdit()->date().toString(Qt::ISODate);
            dialog->fromEdit()->setDate(dateOf(at(2, 0)));
            dialog->findChild<QComboBox*>()->setCurrentIndex(1); // Letter
            dialog->findChild<QPushButton*>(QStringLiteral("pdf"))->click();
        });
        const QString pdf = m_home.filePath(QStringLiteral("report"));
        answerer.then([&answerer, pdf](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            if (!dialog) {
                answerer.unexpected << w->metaObject()->className();
                w->close();
                return;
            }
            answerer.texts << dialog->selectedFiles().value(0).section(u'/', -1);
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(pdf);
            static_cast<QDialog*>(dialog)->accept();
        });
        QVERIFY(m_frame->runCommand(Command::DoseReport));
        QVERIFY(answerer.done());
        QCOMPARE(answerer.unexpected, QStringList());
        const QString from = dateOf(at(2, 0)).toString(Qt::ISODate);
        const QString to = dateOf(at(1, 0)).toString(Qt::ISODate);
        QCOMPARE(answerer.texts, QStringList({ to, QStringLiteral("%1[%2 %3].pdf").arg(Id1, from, to) }));

        QProcess pdftotext;
        pdftotext.start(QStringLiteral(PDFTOTEXT), { "-layout", "-enc", "UTF-8", pdf + ".pdf", "-" });
        QVERIFY(pdftotext.waitForFinished(60000));
        QStringList lines;
        for (const QString& line : QString::fromUtf8(pdftotext.readAllStandardOutput()).split(u'\n'))
            lines << line.simplified();
        QVERIFY2(lines.contains(QStringLiteral("Instrument: %1").arg(Id1)), qPrintable(lines.join(u'\n')));
        QVERIFY(lines.contains(QStringLiteral("Period: %1 to %2").arg(from, to)));
        QVERIFY(lines.contains(QStringLiteral("%1 1.50 1.00 Warning γ: 1 — — 0").arg(from)));
        QVERIFY(lines.contains(QStringLiteral("%1 0.20 0.20 0 — — 0").arg(to)));

        answerer.then([&answerer](QWidget* w) {
            auto* dialog = qobject_cast<CDoseReportDialog*>(w);
            if (dialog)
                dialog->findChild<QPushButton*>(QStringLiteral("preview"))->click();
            else
                w->close();
        });
        answerer.then([&answerer](QWidget* w) {
            answerer.texts << w->metaObject()->className();
            w->close();
        });
        QVERIFY(m_frame->runCommand(Command::DoseReport));
        QVERIFY(answerer.done());
        QCOMPARE(answerer.texts.last(), QStringLiteral("QPrintPreviewDialog"));
    }
};

QTEST_MAIN(ReportCommandsTest)
#include "tst_reportcommands.moc"
