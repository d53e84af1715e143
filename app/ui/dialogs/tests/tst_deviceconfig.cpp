// The instrument settings dialog against the simulated instrument: the read on opening, the
// units and their conversions, the refused values, the write and Delete history.
#include "device/devworker.h"
#include "dialogtestkit.h"
#include "simdocument.h"
#include "ui/dialogs/deviceconfig.h"

#include <KESTRAdrv.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>
#include <map>

using kestra::sim::FaultKind;

namespace {

bool isRed(const QLabel* label)
{
    return label->palette().color(QPalette::WindowText) == QColor(255, 0, 0);
}

} // namespace

class DeviceConfigTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_env.start({}, &m_messenger); }
    void cleanupTestCase() { m_env.stop(); }
    void init()
    {
        m_env.sim->clearFaults();
        kestra::sim::Settings defaults;
        defaults.number = m_env.sim->number();
        m_env.sim->setSettings(defaults);
        m_messenger.clear();
        m_messenger.answer = Messenger::Cancel;
    }

    // Opening reads the instrument: sieverts with a stored 30000 show 0.30000 mSv/h; in
    // roentgens the same threshold shows 30.000 mR/h, and 30 typed there is written as 30000.
    void readAndUnits()
    {
        DeviceConfig dialog(*m_env.doc, m_env.context->config());
        QVERIFY(dialog.readFromInstrument());
        QCOMPARE(dialog.parametersAsRead().derThreshold1, 30000);
        QVERIFY(dialog.sievertButton()->isChecked());
        QCOMPARE(dialog.der1Edit()->text(), QStringLiteral("0.30000"));
        QCOMPARE(dialog.der2Edit()->text(), QStringLiteral("1.00000"));
        QCOMPARE(dialog.der1Units()->text(), QStringLiteral("mSv/h"));
        QCOMPARE(dialog.der1Label()->text(), QStringLiteral("Threshold DER \"Attention\" (0.0001-100)"));
        QCOMPARE(dialog.der1Edit()->toolTip(), QStringLiteral("Default value =  0.3 mSv/h"));
        QCOMPARE(dialog.beta1Edit()->toolTip(), QStringLiteral("Default value =  10 1/(min*cm²)"));
        QCOMPARE(dialog.searchEdit()->text(), QStringLiteral("100.0"));
        QCOMPARE(dialog.intervalEdit()->text(), QStringLiteral("600"));
        QVERIFY(dialog.wrongLabels().isEmpty());

        dialog.roentgenButton()->click();
        QCOMPARE(dialog.der1Edit()->text(), QStringLiteral("30.000"));
        QCOMPARE(dialog.der1Units()->text(), QStringLiteral("mR/h"));
        QCOMPARE(dialog.der1Label()->text(), QStringLiteral("Threshold DER \"Attention\" (0.01-10000)"));
        QCOMPARE(dialog.der2Edit()->toolTip(), QStringLiteral("Default value =  100.0 mR/h"));

        dialog.der1Edit()->setText(QStringLiteral("30"));
        dialog.der2Edit()->setText(QStringLiteral("120.5"));
        QVERIFY(dialog.write());
        QCOMPARE(dialog.parametersToWrite().derThreshold1, 30000);
        QCOMPARE(dialog.parametersToWrite().derThreshold2, 120500);
        QCOMPARE(dialog.parametersToWrite().units, quint8(1));
        const kestra::sim::Settings s = m_env.sim->settings();
        QVERIFY(s.roentgen);
        QVERIFY(std::abs(s.derThreshold1 - 3.0e-4) < 1e-9);
        QVERIFY(std::abs(s.derThreshold2 - 1.205e-3) < 1e-9);
        QCOMPARE(m_messenger.messages, QStringList { QStringLiteral("KESTRA Software|Data saved!") });

        // Typed DER values give way to the stored ones when the units change.
        dialog.der1Edit()->setText(QStringLiteral("77"));
        dialog.sievertButton()->click();
        QCOMPARE(dialog.der1Edit()->text(), QStringLiteral("0.30000"));
    }

    // Values outside their ranges put their labels on the wrong list while typing, turn them
    // red and stop the write before anything reaches the instrument.
    void refusedValues_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<bool>("roentgen");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("interval below") << "interval" << false << "59" << false;
        QTest::newRow("interval above 16 bits") << "interval" << false << "70000" << false;
        QTest::newRow("interval 16 bits") << "interval" << false << "65535" << true;
        QTest::newRow("interval empty") << "interval" << false << "" << false;
        QTest::newRow("beta letters") << "beta1" << false << "abc" << false;
        QTest::newRow("beta above") << "beta2" << false << "1001" << false;
        QTest::newRow("beta lowest") << "beta1" << false << "6" << true;
        QTest::newRow("search below") << "search" << false << "0.05" << false;
        QTest::newRow("search beyond its label") << "search" << false << "500000" << true;
        QTest::newRow("search above") << "search" << false << "1000001" << false;
        QTest::newRow("der sievert below") << "der1" << false << "0.00009" << false;
        QTest::newRow("der sievert lowest") << "der1" << false << "0.0001" << true;
        QTest::newRow("der sievert above") << "der2" << false << "100.01" << false;
        QTest::newRow("der roentgen above") << "der1" << true << "10000.001" << false;
        QTest::newRow("der roentgen lowest") << "der2" << true << "0.01" << true;
    }
    void refusedValues()
    {
        QFETCH(QString, edit);
        QFETCH(bool, roentgen);
        QFETCH(QString, text);
        QFETCH(bool, valid);
        DeviceConfig dialog(*m_env.doc, m_env.context->config());
        QVERIFY(dialog.readFromInstrument());
        if (roentgen)
            dialog.roentgenButton()->click();
        const std::map<QString, std::pair<QLineEdit*, QLabel*>> rows {
            { "interval", { dialog.intervalEdit(), dialog.intervalLabel() } },
            { "beta1", { dialog.beta1Edit(), dialog.beta1Label() } },
            { "beta2", { dialog.beta2Edit(), dialog.beta2Label() } },
            { "search", { dialog.searchEdit(), dialog.searchLabel() } },
            { "der1", { dialog.der1Edit(), dialog.der1Label() } },
            { "der2", { dialog.der2Edit(), dialog.der2Label() } },
        };
        const auto [field, label] = rows.at(edit);
        field->selectAll();
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Delete);
        else
            QTest::keyClicks(field, text);
        QCOMPARE(field->text(), text);
        // Typing validated at once: only this row is wrong, in red.
        QCOMPARE(dialog.wrongLabels(), valid ? QList<QLabel*>() : QList<QLabel*> { label });
        QCOMPARE(isRed(label), !valid);

        m_env.sim->clearCommands();
        m_messenger.clear();
        const bool written = dialog.write();
        QCOMPARE(written, valid);
        if (!valid) {
            QVERIFY(m_env.sim->commands().empty());
            QVERIFY(m_messenger.messages.value(0).startsWith(QStringLiteral("Attention!|Some values are wrong!")));
            if (text == QStringLiteral("70000"))
                QVERIFY(m_messenger.messages.value(0).contains(QStringLiteral("16 bits")));
        }
    }

    // Every field written reads back from the instrument in a new dialog; the time
    // synchronisation goes to the configuration file, not the instrument.
    void writeAndReadBack()
    {
        {
            DeviceConfig dialog(*m_env.doc, m_env.context->config());
            QVERIFY(dialog.readFromInstrument());
            dialog.timeSyncBox()->setChecked(true);
            dialog.soundBox()->setChecked(false);
            dialog.beepBox()->setChecked(false);
            dialog.intervalEdit()->setText(QStringLiteral("120"));
            dialog.beta1Edit()->setText(QStringLiteral("20"));
            dialog.beta2Edit()->setText(QStringLiteral("200"));
            dialog.searchEdit()->setText(QStringLiteral("150.5"));
            dialog.der1Edit()->setText(QStringLiteral("0.5"));
            QTest::mouseClick(dialog.writeButton(), Qt::LeftButton);
            QCOMPARE(m_messenger.messages, QStringList { QStringLiteral("KESTRA Software|Data saved!") });
        }
        const kestra::sim::Settings s = m_env.sim->settings();
        QCOMPARE(s.historyInterval, uint16_t(120));
        QCOMPARE(s.betaThreshold1, 20);
        QCOMPARE(s.betaThreshold2, 200);
        QVERIFY(!s.sound);
        QVERIFY(!s.searchBeep);
        QVERIFY(std::abs(s.searchBetaThreshold - 150.5) < 1e-6);
        ProgramConfig saved;
        QVERIFY(saved.load(m_env.context->config().iniPath));
        QVERIFY(saved.timeSynchronize);

        DeviceConfig again(*m_env.doc, m_env.context->config());
        QVERIFY(again.readFromInstrument());
        QCOMPARE(again.parametersAsRead().derThreshold1, 50000);
        QCOMPARE(again.intervalEdit()->text(), QStringLiteral("120"));
        QCOMPARE(again.searchEdit()->text(), QStringLiteral("150.5"));
        QVERIFY(again.timeSyncBox()->isChecked());
        m_env.context->config().timeSynchronize = false;
    }

    // A search threshold the person left alone is written back as the instrument holds it, not
    // as its one-decimal text; the time synchronisation is saved only with a written instrument.
    void untouchedSearchThresholdAndFailedWrite()
    {
        kestra::sim::Settings settings = m_env.sim->settings();
        settings.searchBetaThreshold = 123.45;
        m_env.sim->setSettings(settings);
        {
            DeviceConfig dialog(*m_env.doc, m_env.context->config());
            QVERIFY(dialog.readFromInstrument());
            QCOMPARE(dialog.searchEdit()->text(), QStringLiteral("123.5"));
            dialog.beta1Edit()->setText(QStringLiteral("30"));
            QVERIFY(dialog.write());
        }
        QCOMPARE(m_env.sim->settings().betaThreshold1, 30);
        QVERIFY(std::abs(m_env.sim->settings().searchBetaThreshold - 123.45) < 1e-3);

        DeviceConfig dialog(*m_env.doc, m_env.context->config());
        QVERIFY(dialog.readFromInstrument());
        dialog.timeSyncBox()->setChecked(true);
        m_env.sim->injectFault(FaultKind::ErrorReply, 100);
        QVERIFY(!dialog.write());
        m_env.sim->clearFaults();
        QVERIFY(!m_env.context->config().timeSynchronize);
    }

    // A write the instrument does not take keeps the dialog and the typed values.
    void failedWrite()
    {
        DeviceConfig dialog(*m_env.doc, m_env.context->config());
        QVERIFY(dialog.readFromInstrument());
        dialog.beta1Edit()->setText(QStringLiteral("30"));
        m_env.sim->injectFault(FaultKind::ErrorReply, 100);
        QVERIFY(!dialog.write());
        m_env.sim->clearFaults();
        QCOMPARE(m_messenger.messages, QStringList { QStringLiteral("Error!|Can't write instrument settings!\"") });
        QCOMPARE(dialog.beta1Edit()->text(), QStringLiteral("30"));
    }

    // A failed read tells the person and closes the dialog; the driver is closed when the
    // dialog goes.
    void failedReadAndDriverClosed()
    {
        {
            DeviceConfig dialog(*m_env.doc, m_env.context->config());
            m_env.sim->injectFault(FaultKind::ErrorReply, 100);
            QCOMPARE(dialog.exec(), int(QDialog::Rejected));
            m_env.sim->clearFaults();
            QVERIFY(!dialog.loaded());
            QCOMPARE(m_messenger.messages,
                QStringList { QStringLiteral("Error!|Error during instrument settings reading!") });
        }
        {
            DeviceConfig dialog(*m_env.doc, m_env.context->config());
            QVERIFY(dialog.readFromInstrument());
            QVERIFY(KESTRAdrv_IsDrvInit());
        }
        QVERIFY(!KESTRAdrv_IsDrvInit());
    }

    // Delete history asks first; OK empties the instrument's memory, Cancel keeps it.
    void deleteHistory()
    {
        std::vector<kestra::sim::RawRecord> records;
        for (uint32_t i = 0; i < 5; ++i)
            records.push_back(kestra::sim::makeRecord('F', 757382400u + 600 * i));
        m_env.sim->setHistory(records);
        QVERIFY(DevWorker::initDevice(m_env.context->device(), m_env.context->device().portName(), true));
        DeviceConfig dialog(*m_env.doc, m_env.context->config());

        m_messenger.answer = Messenger::Cancel;
        QTest::mouseClick(dialog.deleteHistoryButton(), Qt::LeftButton);
        QCOMPARE(m_messenger.questions,
            QStringList { QStringLiteral("Operation confirmation|Do you want to delete the instrument history?") });
        QCOMPARE(m_env.sim->history().size(), std::size_t(5));

        m_messenger.answer = Messenger::Ok;
        QTest::mouseClick(dialog.deleteHistoryButton(), Qt::LeftButton);
        QVERIFY(m_env.sim->history().empty());
        QCOMPARE(m_messenger.messages, QStringList { QStringLiteral("Attention!|Instrument history is deleted") });
    }

private:
    SimDocument m_env;
    RecordingMessenger m_messenger;
};

QTEST_MAIN(DeviceConfigTest)
#include "tst_deviceconfig.moc"
