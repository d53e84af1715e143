// The online window against the simulated instrument: the refresh rhythm, the failure rule and
// the chart.
#include "dialogtestkit.h"
#include "history/measurements.h"
#include "simdocument.h"
#include "ui/dialogs/dosechart.h"
#include "ui/dialogs/onlinemode.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QSignalSpy>
#include <QTimer>

using kestra::sim::FaultKind;

namespace {

// The window's part in a document wait: it keeps the event loop turning.
class PumpingHost final : public DocumentHost {
public:
    void setWindowTitle(const QString&) override { }
    std::optional<QString> promptPassword() override { return std::nullopt; }
    bool openProgramSettings() override { return false; }
    void exitApplication() override { }
    void keepAlive() override
    {
        ++pumped;
        DocumentHost::keepAlive();
    }
    int pumped = 0;
};

} // namespace

class OnlineModeTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_env.start({}, &m_messenger); }
    void cleanupTestCase() { m_env.stop(); }
    void init()
    {
        m_env.sim->clearFaults();
        m_env.sim->setMode(kestra::sim::ModeGamma);
        m_messenger.clear();
    }

    // The window shows the reading: title with the instrument, value, unit, mode and error.
    void showsTheReading()
    {
        m_env.sim->setDoseRate(2.5e-6); // 2.5 µSv/h
        COnlineMode window(*m_env.doc);
        window.setRefreshInterval(60000);
        window.show();
        QTRY_VERIFY(window.timer()->isActive());
        QCOMPARE(window.windowTitle(), QStringLiteral("Online Mode (KESTRA #123456)"));
        QCOMPARE(window.unitsLabel()->text(), QStringLiteral("µSv/h"));
        QCOMPARE(window.modeLabel()->text(), QStringLiteral("Measurement gamma"));
        QCOMPARE(window.radiationLabel()->text(), QStringLiteral("gamma"));
        QVERIFY(window.errorLabel()->text().endsWith(QStringLiteral("%")));
        QCOMPARE(window.valueLabel()->font().pixelSize(), 82);
        QCOMPARE(window.modeLabel()->font().pixelSize(), 29);
        QCOMPARE(window.chart()->sampleCount(DoseChart::Quantity::DoseRate), 1);
        const double shown = window.valueLabel()->text().toDouble();
        QCOMPARE(window.chart()->series(DoseChart::Quantity::DoseRate).back().value, shown * 100);
        window.reject();
    }

    // An instrument that fails every other refresh still ends the window at the twelfth
    // failure: successes do not reset the count. Every successful refresh adds one point.
    void twelfthFailureCloses()
    {
        COnlineMode window(*m_env.doc);
        window.setRefreshInterval(5);
        int started = 0;
        connect(&window, &COnlineMode::refreshStarted, this, [&] {
            // Odd refreshes fail: the instrument answers the units request with an error.
            if (started++ % 2 == 0)
                m_env.sim->injectFault(FaultKind::ErrorReply, 1);
        });
        QSignalSpy finished(&window, &COnlineMode::refreshFinished);
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 60000);
        // The opening refresh (failed) does not count; then 12 failures among 24 refreshes.
        QCOMPARE(finished.count(), 25);
        int ok = 0;
        for (const QList<QVariant>& call : finished)
            ok += call.at(0).toBool();
        QCOMPARE(ok, 12);
        QCOMPARE(window.failures(), 12);
        QCOMPARE(window.result(), int(QDialog::Accepted));
        QCOMPARE(window.chart()->sampleCount(), ok);
        QCOMPARE(m_messenger.messages,
            QStringList { QStringLiteral("KESTRA Software|Error during connection to instrument") });
        QVERIFY(!window.timer()->isActive());
    }

    // The next refresh starts a full interval after the previous one has finished, however
    // long the refresh took: the timer does not run during a refresh.
    void intervalCountsFromTheEnd()
    {
        QElapsedTimer clock;
        clock.start();
        COnlineMode window(*m_env.doc);
        window.setClock([&clock] { return clock.elapsed(); });
        const int interval = 100;
        window.setRefreshInterval(interval);
        QList<qint64> starts, ends;
        bool timerRanDuringRefresh = false;
        connect(&window, &COnlineMode::refreshStarted, this, [&] {
            starts << clock.elapsed();
            timerRanDuringRefresh |= window.timer()->isActive();
            // Each reply takes 300 ms, three times the interval.
            m_env.sim->injectFault(FaultKind::Latency, 2, 300);
        });
        connect(&window, &COnlineMode::refreshFinished, this, [&] { ends << clock.elapsed(); });
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(ends.size() >= 4, 30000);
        window.reject();
        QVERIFY(!timerRanDuringRefresh);
        for (int i = 1; i < starts.size(); ++i) {
            QVERIFY2(ends[i - 1] - starts[i - 1] >= 550, "the latency was not applied");
            // Timers may fire a little early; a periodic timer would start at once.
            QVERIFY2(starts[i] - ends[i - 1] >= interval * 9 / 10,
                qPrintable(QStringLiteral("refresh %1 started %2 ms after the previous ended")
                               .arg(i)
                               .arg(starts[i] - ends[i - 1])));
        }
        // The chart's times come from the injected clock.
        const auto& samples = window.chart()->series(DoseChart::Quantity::DoseRate);
        QVERIFY(samples.size() >= 4);
        QVERIFY(samples[1].ms - samples[0].ms >= 550 + interval * 9 / 10);
    }

    // Closing stops the timer and no refresh follows.
    void closingStopsTheTimer()
    {
        COnlineMode window(*m_env.doc);
        window.setRefreshInterval(20);
        QSignalSpy started(&window, &COnlineMode::refreshStarted);
        window.show();
        QTRY_VERIFY(started.count() >= 3);
        window.close();
        QVERIFY(!window.timer()->isActive());
        const int count = started.count();
        QTest::qWait(200);
        QCOMPARE(started.count(), count);
    }

    // A refresh that falls due while a document operation waits for its job (the window kept
    // alive meanwhile) runs after the operation, never inside it.
    void noRefreshInsideADocumentWait()
    {
        PumpingHost host;
        m_env.doc->setHost(&host);
        COnlineMode window(*m_env.doc);
        window.setRefreshInterval(5);
        bool refreshedWhileBusy = false;
        connect(&window, &COnlineMode::refreshStarted, this, [&] { refreshedWhileBusy |= m_env.doc->busy(); });
        QSignalSpy finished(&window, &COnlineMode::refreshFinished);
        window.show();
        QTRY_VERIFY(finished.count() >= 2);
        m_env.sim->injectFault(FaultKind::Latency, 8, 100);
        CUserParams params;
        QVERIFY(m_env.doc->readUserParams(params));
        QVERIFY(!refreshedWhileBusy);
        QVERIFY(host.pumped > 5);
        const int afterRead = finished.count();
        QTRY_VERIFY(finished.count() > afterRead);
        window.reject();
        m_env.doc->setHost(nullptr);
    }

    // The chart reads each reading's quantity from its texts, in instrument units.
    void chartSamples_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("units");
        QTest::addColumn<bool>("charted");
        QTest::addColumn<int>("quantity");
        QTest::addColumn<double>("expected");
        QTest::newRow("µR/h") << "12"
                              << "µR/h" << true << 0 << 12.0;
        QTest::newRow("mR/h") << "1.50"
                              << "mR/h" << true << 0 << 1500.0;
        QTest::newRow("R/h") << "2.00"
                             << "R/h" << true << 0 << 2e6;
        QTest::newRow("µSv/h") << "0.25"
                               << "µSv/h" << true << 0 << 25.0;
        QTest::newRow("mSv/h") << "3.00"
                               << "mSv/h" << true << 0 << 3e5;
        QTest::newRow("beta") << "40.00"
                              << "1/(min*cm²)" << true << 1 << 40.0;
        QTest::newRow("cps exponent") << "1.2e+04"
                                      << "cps" << true << 2 << 12000.0;
        QTest::newRow("no mode") << ""
                                 << "" << false << 0 << 0.0;
        QTest::newRow("unknown unit") << "5"
                                      << "Gy/h" << false << 0 << 0.0;
    }
    void chartSamples()
    {
        QFETCH(QString, value);
        QFETCH(QString, units);
        QFETCH(bool, charted);
        QFETCH(int, quantity);
        QFETCH(double, expected);
        CMeasurements reading;
        reading.value = value;
        reading.units = units;
        DoseChart::Quantity q;
        double v = 0;
        bool roentgen = false;
        QCOMPARE(DoseChart::sampleOf(reading, &q, &v, &roentgen), charted);
        if (charted) {
            QCOMPARE(int(q), quantity);
            QCOMPARE(v, expected);
        }
    }

private:
    SimDocument m_env;
    RecordingMessenger m_messenger;
};

QTEST_MAIN(OnlineModeTest)
#include "tst_onlinemode.moc"
