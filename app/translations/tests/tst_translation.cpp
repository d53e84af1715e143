// The Russian translation as the program loads it: the window, a dialog, a question and the
// core's texts in each language; the shared code tables all translated; the build's check of
// the .ts source.
#include "uitestsupport.h"

#include "device/measurementtexts.h"
#include "document/kestradoc.h"
#include "history/historyrec.h"
#include "ui/dialogs/programsettings.h"
#include "ui/kestraview.h"
#include "ui/mainframe.h"
#include "ui/startup.h"

#include "kestracommon/texts.h"

#include <QMenuBar>
#include <QProcess>
#include <QTest>
#include <QTranslator>

namespace {

bool hasCyrillic(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0x0400 && c.unicode() <= 0x04FF)
            return true;
    return false;
}

// Runs the build's check on a .ts of the given messages; its exit code.
int checkTs(const QTemporaryDir& dir, const QString& messages, const QStringList& options)
{
    const QString path = dir.filePath(QStringLiteral("probe.ts"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    file.write(QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE TS>\n"
                              "<TS version=\"2.1\" language=\"ru_RU\">\n<context>\n<name>Ctx</name>\n%1\n"
                              "</context>\n</TS>\n")
                   .arg(messages)
                   .toUtf8());
    file.close();
    QProcess check;
    check.start(QStringLiteral(PYTHON), QStringList { QStringLiteral(TS_CHECK) } + options + QStringList { path });
    if (!check.waitForFinished(60000))
        return -1;
    return check.exitStatus() == QProcess::NormalExit ? check.exitCode() : -1;
}

} // namespace

class TranslationTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<AppContext> m_context;

private slots:
    void initTestCase()
    {
        m_context = uitest::makeContext(m_home);
        QVERIFY(m_context);
    }
    void cleanupTestCase() { m_context.reset(); }

    // Language 0 is the built-in English; language 1 loads kestra_ru.qm from beside the program.
    void window_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("English") << 0 << false
                                 << QStringList { "&File", "Program Settings", "Do you want to exit?", "Cancel", "Date",
                                        "Instrument is switched On", "No settings file is set." };
        QTest::newRow("Russian") << 1 << true
                                 << QStringList { "&Файл", "Настройки программы", "Выйти из программы?", "Отмена",
                                        "Дата", "Прибор включён", "Файл настроек не задан." };
        // A language the program does not know keeps English.
        QTest::newRow("unknown") << 7 << false
                                 << QStringList { "&File", "Program Settings", "Do you want to exit?", "Cancel", "Date",
                                        "Instrument is switched On", "No settings file is set." };
    }

    void window()
    {
        QFETCH(int, language);
        QFETCH(bool, loaded);
        QFETCH(QStringList, expected);

        QTranslator translator;
        QCOMPARE(
            Startup::loadTranslation(*QCoreApplication::instance(), language, translator, QStringLiteral(QM_FOLDER)),
            loaded);
        QStringList shown;
        {
            CKESTRADoc doc(*m_context);
            CMainFrame frame(doc);
            frame.show();
            QVERIFY(QTest::qWaitForWindowExposed(&frame));
            const QList<QAction*> menus = frame.menuBar()->actions();
            QVERIFY(!menus.isEmpty());
            shown << menus.first()->text();

            CProgramSettings settings(m_context->config(), m_context->messenger(), nullptr,
                PortDiscovery(m_home.path(), m_home.path()), &frame);
            shown << settings.windowTitle();

            // The exit question, and its button from Qt's own translation.
            ModalAnswerer answerer;
            answerer.then([&shown](QWidget* w) {
                auto* box = qobject_cast<QMessageBox*>(w);
                QAbstractButton* cancel = box ? box->button(QMessageBox::Cancel) : nullptr;
                shown << (box ? box->text() : QString()) << (cancel ? cancel->text() : QString());
                if (cancel)
                    cancel->click();
                else
                    w->close();
            });
            QVERIFY(!frame.close());
            QVERIFY(answerer.done());

            shown << frame.listView().model()->headerData(0, Qt::Horizontal).toString().section(u' ', 0, 0);
            shown << ChistoryRec::eventTypeText(9);
            ProgramConfig unsaved;
            QString error;
            QVERIFY(!unsaved.save(&error));
            shown << error;
        }
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(shown, expected);
    }

    // Every text of the shared event, alarm and verdict tables is translated where it is shown,
    // and the beta and gamma thresholds, alike in English, read apart in Russian.
    void sharedTables()
    {
        QTranslator translator;
        QVERIFY(Startup::loadTranslation(*QCoreApplication::instance(), 1, translator, QStringLiteral(QM_FOLDER)));
        QStringList untranslated;
        for (const kestra::common::CodeText& e : kestra::common::eventTypeTexts()) {
            if (!hasCyrillic(ChistoryRec::eventTypeText(e.code)))
                untranslated << QString::fromUtf8(e.text);
        }
        QSet<QString> alarms;
        for (const kestra::common::CodeText& e : kestra::common::alarmTexts()) {
            const QString history = ChistoryRec::alarmText(e.code);
            const QString live = MeasurementTexts::statusText(static_cast<quint32>(e.code));
            if (!hasCyrillic(history) || !hasCyrillic(live))
                untranslated << QString::fromUtf8(e.text);
            QCOMPARE(live, history);
            alarms.insert(history);
        }
        QCOMPARE(alarms.size(), static_cast<qsizetype>(kestra::common::alarmTexts().size()));
        for (const int state : { 0, 1, 2, 99 }) {
            if (!hasCyrillic(MeasurementTexts::betaVerdict(state)))
                untranslated << QString::number(state);
        }
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(untranslated, QStringList());
    }

    // The build fails on a text without a translation; texts no longer used do not count. The
    // update only lists what is left to translate.
    void buildCheck_data()
    {
        QTest::addColumn<QString>("messages");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        const auto message = [](const char* source, const char* translation) {
            return QStringLiteral("<message><source>%1</source>%2</message>").arg(source, translation);
        };
        const QString translated = message("A", "<translation>Б</translation>");
        const QString unfinished = message("B", "<translation type=\"unfinished\">В</translation>");
        const QStringList none;
        const QStringList todo { QStringLiteral("--todo") };
        QTest::newRow("translated") << translated << none << 0;
        QTest::newRow("unfinished") << translated + unfinished << none << 1;
        QTest::newRow("unfinished, listed to do") << translated + unfinished << todo << 0;
        QTest::newRow("empty") << message("A", "<translation></translation>") << none << 1;
        QTest::newRow("no translation element") << message("A", "") << none << 1;
        QTest::newRow("obsolete and vanished") << message("A", "<translation type=\"obsolete\"></translation>")
                + message("B", "<translation type=\"vanished\">В</translation>")
                                               << none << 0;
        QTest::newRow("plural form missing")
            << message("%n A", "<translation><numerusform>Б</numerusform><numerusform></numerusform></translation>")
            << none << 1;
        QTest::newRow("not XML") << QStringLiteral("<message>") << none << 2;
        QTest::newRow("not XML, to do") << QStringLiteral("<message>") << todo << 2;
    }

    void buildCheck()
    {
        QFETCH(QString, messages);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QCOMPARE(checkTs(dir, messages, options), exitCode);
    }
};

QTEST_MAIN(TranslationTest)
#include "tst_translation.moc"
