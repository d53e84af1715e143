// The window with the simulated instrument: start-up reads the history into the tree, Read
// History brings new events to the top of the shown day with the status-bar progress, and the
// link state opens the instrument's commands.
#include "uitestsupport.h"

#include "../../document/tests/simhistory.h"

#include "config/applog.h"
#include "config/password.h"
#include "device/driverlock.h"
#include "document/kestradoc.h"
#include "models/eventlistmodel.h"
#include "models/instrumenttreemodel.h"
#include "ui/dialogs/deviceconfig.h"
#include "ui/dialogs/dosechart.h"
#include "ui/dialogs/onlinemode.h"
#include "ui/kestradevview.h"
#include "ui/kestraview.h"
#include "ui/mainframe.h"
#include "ui/progressbar.h"
#include "ui/widgetmessenger.h"

#include "kestrasim/simulator.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

using namespace kestra::sim;
using Command = Commands::Id;

class DownloadTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<Simulator> m_sim;
    std::unique_ptr<AppContext> m_context;
    std::unique_ptr<CKESTRADoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;

private slots:
    void initTestCase()
    {
        m_context = uitest::makeContext(m_home);
        QVERIFY(m_context);
        m_context->device().setDriverLogFolder(m_home.path());
        Options options;
        options.linkPath = m_home.filePath(QStringLiteral("port")).toStdString();
        options.liveHistory = false;
        m_sim = std::make_unique<Simulator>(options);
        std::string error;
        QVERIFY2(m_sim->start(&error), error.c_str());
        m_context->config().port = QString::fromStdString(m_sim->slavePath());
        m_sim->setHistory({ simhistory::record('F', simhistory::at(2, 3600)),
            simhistory::record('F', simhistory::at(1, 3600)), simhistory::record('F', simhistory::at(1, 7200)) });
    }

    void cleanupTestCase()
    {
        m_frame.reset();
        m_doc.reset();
        m_context.reset();
        m_sim.reset();
    }

    // Start-up connects, reads the instrument and shows it with its days.
    void startReadsTheInstrument()
    {
        m_doc = std::make_unique<CKESTRADoc>(*m_context);
        m_frame = std::make_unique<CMainFrame>(*m_doc);
        m_frame->show();
        QStringList progress;
        const auto connection
            = connect(&m_frame->messenger(), &WidgetMessenger::progressChanged, this, [&](bool shown) {
                  if (shown && m_frame->messenger().progressBar())
                      progress << m_frame->messenger().progressBar()->label();
              });
        m_frame->start();
        disconnect(connection);
        QVERIFY(progress.contains(QStringLiteral("History reading")));
        QVERIFY(m_frame->windowTitle().contains(QStringLiteral("Connected to instrument '%1'").arg(simhistory::Id)));
        InstrumentTreeModel& tree = m_frame->treeView().treeModel();
        QCOMPARE(tree.rowCount(), 1);
        QCOMPARE(tree.rowCount(tree.index(0, 0)), 2);
        QVERIFY(m_frame->action(Command::ReadHistory)->isEnabled());
        QVERIFY(m_frame->action(Command::OnlineMode)->isEnabled());
        QVERIFY(m_sim->history().empty());
        QCOMPARE(m_frame->statusBar()->currentMessage(), QStringLiteral("Ready"));
    }

    // Read History: new events of the shown day come in at the top, a new day gets its node.
    void readHistoryShowsNewEvents()
    {
        m_frame->treeView().setCurrentIndex(
            m_frame->treeView().treeModel().indexOf(simhistory::Id, simhistory::at(1, 0)));
        QTRY_COMPARE(m_frame->listView().model()->rowCount(), 2);
        m_sim->setHistory({ simhistory::record('F', simhistory::at(1, 9000)),
            simhistory::record('g', simhistory::at(1, 9600), 2e-3), simhistory::record('F', simhistory::at(0, 60)) });
        QVERIFY(m_frame->runCommand(Command::ReadHistory));
        QTRY_COMPARE(m_frame->listView().model()->rowCount(), 4);
        const EventListModel& list = m_frame->listView().eventModel();
        QCOMPARE(list.recordAt(0).hDateTime, simhistory::at(1, 9600));
        QCOMPARE(list.recordAt(1).hDateTime, simhistory::at(1, 9000));
        QVERIFY(!list.recordAt(0).alarmText().isEmpty());
        InstrumentTreeModel& tree = m_frame->treeView().treeModel();
        QCOMPARE(tree.rowCount(tree.index(0, 0)), 3);
        QVERIFY(tree.indexOf(simhistory::Id, simhistory::at(0, 0)).isValid());
        // The shown day had an alarm arrive: it is red now.
        QVERIFY(tree.indexOf(simhistory::Id, simhistory::at(1, 0)).data(Qt::ForegroundRole).isValid());
        QVERIFY(m_doc->state().pollNow.load());
    }

    // The instrument's units are read off the window's thread when the link comes up; the
    // shown rows follow, and showing a day does not ask the instrument.
    void unitsComeWithTheLink()
    {
        QVERIFY(AppLog::start(m_home.filePath(QStringLiteral("units.log"))));
        const auto unitReads = [&] {
            QFile log(m_home.filePath(QStringLiteral("units.log")));
            return log.open(QIODevice::ReadOnly) ? log.readAll().count("Begin getting measurenment units") : -1;
        };
        Settings settings = m_sim->settings();
        settings.roentgen = true;
        m_sim->setSettings(settings);
        m_doc->state().setConnected(false);
        m_doc->watcherProbe(); // the link comes up again
        QCOMPARE(unitReads(), 1);
        const QModelIndex value = m_frame->listView().model()->index(0, EventListModel::Value);
        QTRY_VERIFY(value.data().toString().endsWith(QStringLiteral("mR/h")));

        CKESTRADevView& tree = m_frame->treeView();
        tree.setCurrentIndex(tree.treeModel().indexOf(simhistory::Id, simhistory::at(2, 0)));
        QTRY_COMPARE(m_frame->listView().model()->rowCount(), 1);
        tree.setCurrentIndex(tree.treeModel().indexOf(simhistory::Id, simhistory::at(1, 0)));
        QTRY_COMPARE(m_frame->listView().model()->rowCount(), 4);
        QCOMPARE(unitReads(), 1);
        AppLog::stop();
    }

    // Instrument Settings' Write and Read pressed while a download holds the instrument wait
    // for it and then run: neither fails for the instrument being busy.
    void settingsDuringADownload()
    {
        m_frame->setUnattended(1);
        DeviceConfig dialog(*m_doc, m_context->config(), m_frame.get());
        QVERIFY(dialog.readFromInstrument());
        dialog.show();
        const auto pressDuringDownload = [&](QPushButton* button) {
            std::vector<RawRecord> records;
            for (int i = 0; i < 50; ++i)
                records.push_back(simhistory::record('F', simhistory::at(1, 20000 + 60 * i)));
            m_sim->setHistory(records);
            bool pressed = false;
            const auto connection
                = connect(&m_frame->messenger(), &WidgetMessenger::progressChanged, this, [&](bool shown) {
                      if (shown && !pressed && m_doc->busy()) {
                          pressed = true;
                          QTest::mouseClick(button, Qt::LeftButton);
                          QVERIFY(!button->isEnabled()); // waiting, not failed
                      }
                  });
            QVERIFY(m_frame->runCommand(Command::ReadHistory));
            disconnect(connection);
            QVERIFY(pressed);
            QVERIFY(m_sim->history().empty());
            QTRY_VERIFY(button->isEnabled());
        };

        dialog.beta1Edit()->setText(QStringLiteral("25"));
        pressDuringDownload(dialog.writeButton());
        QCOMPARE(m_sim->settings().betaThreshold1, 25);

        Settings changed = m_sim->settings();
        changed.betaThreshold2 = 300;
        m_sim->setSettings(changed);
        pressDuringDownload(dialog.readButton());
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.beta2Edit()->text(), QStringLiteral("300"));
        dialog.close();
        m_frame->setUnattended(0);
    }

    // The thresholds Instrument Settings read are the online chart's lines for the instrument
    // on the link, which the document learnt with the link (neither window asks for it).
    void onlineChartHasTheThresholds()
    {
        QCOMPARE(m_doc->state().attachedInstrument(), simhistory::Id);
        Settings settings = m_sim->settings();
        settings.derThreshold1 = 4.0e-4;
        m_sim->setSettings(settings);
        Password::setAuthorised();
        ModalAnswerer answerer;
        answerer.then([](QWidget* w) {
            QVERIFY(qobject_cast<DeviceConfig*>(w));
            static_cast<QDialog*>(w)->accept();
        });
        QVERIFY(m_frame->runCommand(Command::InstrumentSettings));
        std::optional<CUserParams> lines;
        QString title;
        answerer.then([&](QWidget* w) {
            auto* online = qobject_cast<COnlineMode*>(w);
            QVERIFY(online);
            lines = online->chart()->thresholds();
            QTRY_VERIFY(online->windowTitle().contains(simhistory::Id));
            online->reject();
        });
        QVERIFY(m_frame->runCommand(Command::OnlineMode));
        QVERIFY(answerer.done());
        QVERIFY(answerer.unexpected.isEmpty());
        QVERIFY(lines);
        QCOMPARE(lines->derThreshold1, 40000);
    }
};

QTEST_MAIN(DownloadTest)
#include "tst_download.moc"
