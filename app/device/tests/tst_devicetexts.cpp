// History conversion, measurement texts, read-back rules and the download spool, without a port.
#include "device/devworker.h"
#include "device/historyconversion.h"
#include "device/historyspool.h"
#include "device/measurementtexts.h"
#include "history/localtime.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(MeasurementTexts::Reading)

namespace {

SYSTEMTIME calendar(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    SYSTEMTIME t {};
    t.wYear = static_cast<uint16_t>(y);
    t.wMonth = static_cast<uint16_t>(mo);
    t.wDay = static_cast<uint16_t>(d);
    t.wHour = static_cast<uint16_t>(h);
    t.wMinute = static_cast<uint16_t>(mi);
    t.wSecond = static_cast<uint16_t>(s);
    return t;
}

ChistoryRec record(qint64 time, double value, const QString& comment = {})
{
    ChistoryRec r;
    r.hDateTime = time;
    r.hValue = value;
    r.hValue2 = value / 2;
    r.hPrecision = 12;
    r.hVariation = -1;
    r.hAlarm = 0x400;
    r.hType = 5;
    r.hComment = comment;
    r.hPagerID = QStringLiteral("KESTRA #4711");
    r.hID = ChistoryRec::makeKey(r.hPagerID, time);
    return r;
}

bool sameRecord(const ChistoryRec& a, const ChistoryRec& b)
{
    return a == b && a.hID == b.hID && a.hValue2 == b.hValue2 && a.hPrecision == b.hPrecision
        && a.hVariation == b.hVariation && a.hComment == b.hComment;
}

} // namespace

class DeviceTexts : public QObject {
    Q_OBJECT

private slots:
    void eventCodes();
    void itemTimes_data();
    void itemTimes();
    void itemBecomesRecord();
    void measurements_data();
    void measurements();
    void readBackRules();
    void spoolRoundTrip();
    void damagedSpoolsAreRefused();
    void pendingSpoolsAreStoredAndKeptOnFailure();
};

void DeviceTexts::eventCodes()
{
    const struct {
        char code;
        qint32 type, alarm;
    } table[] = { { '0', 10, 0 }, { '1', 9, 0 }, { 'A', 12, 0 }, { 'B', 7, 0 }, { 'D', 3, 0x008 }, { 'F', 3, 0 },
        { 'G', 3, 0x001 }, { 'g', 3, 0x002 }, { 'O', 3, 0x004 }, { 'I', 5, 0x400 }, { 'i', 5, 0x800 }, { 'b', 5, 0 },
        { 'J', 8, 0x010 }, { 'S', 8, 0 }, { 'R', 11, 0 }, { 'C', 13, 0 }, { 's', 14, 0 }, { 'X', 0, 0 }, { 'f', 0, 0 },
        { '\0', 0, 0 } };
    for (const auto& row : table) {
        const auto got = HistoryConversion::fromCode(row.code);
        QVERIFY2(got.type == row.type && got.alarm == row.alarm, QByteArray(1, row.code).constData());
    }
}

void DeviceTexts::itemTimes_data()
{
    QTest::addColumn<SYSTEMTIME>("time");
    QTest::addColumn<qint64>("expected");
    // Berlin is pinned for the tests: UTC+1 in winter, UTC+2 in summer.
    QTest::newRow("winter") << calendar(2024, 1, 15, 12, 30, 5) << qint64(1705318205);
    QTest::newRow("summer") << calendar(2024, 7, 1, 0, 0, 0) << qint64(1719784800);
    QTest::newRow("leap day") << calendar(2024, 2, 29, 23, 59, 59) << qint64(1709247599);
    QTest::newRow("before 1900") << calendar(1899, 12, 31, 23, 59, 59) << qint64(0);
    QTest::newRow("year 0") << calendar(0, 0, 0) << qint64(0);
    QTest::newRow("month 13") << calendar(2024, 13, 1) << qint64(0);
    QTest::newRow("month 0") << calendar(2024, 0, 1) << qint64(0);
    QTest::newRow("31 February") << calendar(2024, 2, 31) << qint64(0);
    QTest::newRow("29 February 2023") << calendar(2023, 2, 29) << qint64(0);
    QTest::newRow("hour 24") << calendar(2024, 1, 1, 24) << qint64(0);
    QTest::newRow("second 60") << calendar(2024, 1, 1, 0, 0, 60) << qint64(0);
    QTest::newRow("all ones") << calendar(65535, 65535, 65535, 65535, 65535, 65535) << qint64(0);
}

void DeviceTexts::itemTimes()
{
    QFETCH(SYSTEMTIME, time);
    QFETCH(qint64, expected);
    QCOMPARE(HistoryConversion::itemTime(time), expected);
}

void DeviceTexts::itemBecomesRecord()
{
    KESTRAdrv_EventRecord item {};
    item.type = 'i';
    item.time = calendar(2024, 1, 15, 12, 30, 5);
    item.value1 = 345.5;
    item.value2 = -1.0;
    item.param1 = 17;
    item.param2 = -1;
    ChistoryRec r = HistoryConversion::toRecord(item, QStringLiteral("KESTRA #4711"));
    QCOMPARE(r.hDateTime, qint64(1705318205));
    QCOMPARE(r.hType, 5);
    QCOMPARE(r.hAlarm, 0x800);
    QCOMPARE(r.hValue, 345.5);
    QCOMPARE(r.hValue2, -1.0);
    QCOMPARE(r.hPrecision, 17);
    QCOMPARE(r.hVariation, -1);
    QVERIFY(r.hComment.isEmpty());
    QCOMPARE(r.hPagerID, QStringLiteral("KESTRA #4711"));
    QCOMPARE(r.hID, QStringLiteral("KESTRA #4711|1705318205"));

    // An item dated before 1900 is kept at time 0; a time past 2038 keys by its low 32 bits.
    item.time = calendar(1899, 1, 1);
    QCOMPARE(HistoryConversion::toRecord(item, QStringLiteral("P")).hID, QStringLiteral("P|0"));
    item.time = calendar(2100, 1, 1);
    r = HistoryConversion::toRecord(item, QStringLiteral("P"));
    QCOMPARE(r.hDateTime, qint64(4102441200));
    QCOMPARE(r.hID, QStringLiteral("P|-192526096"));
}

void DeviceTexts::measurements_data()
{
    using R = MeasurementTexts::Reading;
    QTest::addColumn<R>("reading");
    QTest::addColumn<bool>("roentgen");
    QTest::addColumn<QStringList>("texts"); // value, units, mode, status, error, radiation

    QTest::newRow("gamma µR/h truncated")
        << R { 3, 999.9, 7, 0, 0 } << true << QStringList { "999", "µR/h", "Measurement gamma", "", "±07 %", "gamma" };
    QTest::newRow("gamma mR/h") << R { 3, 1000, 12, 0, 0 } << true
                                << QStringList { "1.00", "mR/h", "Measurement gamma", "", "±12 %", "gamma" };
    QTest::newRow("gamma R/h") << R { 3, 2500000, 1, 0, 0 } << true
                               << QStringList { "2.50", "R/h", "Measurement gamma", "", "±01 %", "gamma" };
    QTest::newRow("gamma µSv/h truncated")
        << R { 3, 150.9, 12, 0x002, 0 } << false
        << QStringList { "1.50", "µSv/h", "Measurement gamma", "Threshold \"Danger\" is exceeded!", "±12 %", "gamma" };
    QTest::newRow("gamma mSv/h") << R { 3, 100000, 5, 0, 0 } << false
                                 << QStringList { "1.00", "mSv/h", "Measurement gamma", "", "±05 %", "gamma" };
    QTest::newRow("gamma Sv/h") << R { 3, 350000000, 5, 0, 0 } << false
                                << QStringList { "3.50", "Sv/h", "Measurement gamma", "", "±05 %", "gamma" };
    // A reading beyond any integer must not be cast blindly.
    QTest::newRow("gamma far below zero") << R { 3, -1e30, 5, 0,
        0 } << true << QStringList { "-9000000000000000000", "µR/h", "Measurement gamma", "", "±05 %", "gamma" };
    QTest::newRow("gamma+beta") << R { 4, 12.345, 30, 0x001, 3 } << true
                                << QStringList { "12.35", "cps", "Measurement gamma+beta",
                                       "Threshold \"Warning\" is exceeded!", "±30 %", "gamma+beta" };
    QTest::newRow("beta in process") << R { 5, 42, 99, 0x400, 0 } << true
                                     << QStringList { "42.00", "1/(min*cm²)", "Measurement beta (in process...)",
                                            "Threshold \"Warning\" is exceeded!", "±99 %", "beta" };
    QTest::newRow("beta contaminated") << R { 5, 42, 9, 0x800 | 0x002, 2 } << true
                                       << QStringList { "42.00", "1/(min*cm²)", "Measurement beta (contaminated)",
                                              "Threshold \"Danger\" is exceeded!", "±09 %", "beta" };
    QTest::newRow("survey safe, large") << R { 6, 12345.6, 4, 0x004 | 0x008, 1 } << true
                                        << QStringList { "1.2e+04", "cps", "Survey mode (safe)",
                                               "Accumulated dose threshold is exceeded!", "±04 %", "gamma+beta" };
    QTest::newRow("survey uncertain") << R { 6, 9999.99, 4, 0x004, 7 } << true
                                      << QStringList { "9999.99", "cps", "Survey mode (uncertain result)",
                                             "Dose overload!", "±04 %", "gamma+beta" };
    QTest::newRow("background keeps radiation") << R { 7, 0.5, 60, 0x200 | 0x001,
        0 } << true << QStringList { "0.50", "cps", "Background", "Detector error!", "±60 %", "previous" };
    QTest::newRow("search") << R { 8, 3, 2, 0x010, 0 } << true
                            << QStringList { "3.00", "cps", "Search beta/gamma", "", "±02 %", "gamma+beta" };
    QTest::newRow("no reading") << R { 1, 0, 99, 0x002, 0 } << true
                                << QStringList { "previous", "previous", "", "Threshold \"Danger\" is exceeded!",
                                       "previous", "previous" };
}

void DeviceTexts::measurements()
{
    QFETCH(MeasurementTexts::Reading, reading);
    QFETCH(bool, roentgen);
    QFETCH(QStringList, texts);
    CMeasurements m;
    const QString previous = QStringLiteral("previous");
    m.value = m.units = m.mode = m.status = m.error = m.dose = m.doseTime = m.radiation = m.spare = previous;
    MeasurementTexts::fill(m, reading, roentgen);
    QCOMPARE(m.value, texts[0]);
    QCOMPARE(m.units, texts[1]);
    QCOMPARE(m.mode, texts[2]);
    QCOMPARE(m.status, texts[3]);
    QCOMPARE(m.error, texts[4]);
    QCOMPARE(m.radiation, texts[5]);
    QCOMPARE(m.dose, QStringLiteral("-1"));
    QCOMPARE(m.doseTime, QStringLiteral("00:00:00"));
    QCOMPARE(m.spare, previous);
}

void DeviceTexts::readBackRules()
{
    QVERIFY(ReadBack::closeEnough(100, 101));
    QVERIFY(ReadBack::closeEnough(100, 99));
    QVERIFY(!ReadBack::closeEnough(100, 102));
    QVERIFY(!ReadBack::closeEnough(std::numeric_limits<qint32>::max(), std::numeric_limits<qint32>::min()));

    const struct {
        double written, read;
        bool equal;
    } rows[] = { { 100.0, 100.0, true }, { 0.5, 0.5, true }, { 1.005, 1.005, true }, { 2.675, 2.675000001, true },
        { 0.1234, 0.1234, false }, { 0.123, 0.124, false }, { 1.0, qInf(), false }, { qQNaN(), qQNaN(), false } };
    for (const auto& row : rows)
        QVERIFY2(ReadBack::sameThousandths(row.written, row.read) == row.equal, QByteArray::number(row.written));
}

void DeviceTexts::spoolRoundTrip()
{
    QTemporaryDir dir;
    HistorySpool spool(dir.filePath("Spool"));
    QList<ChistoryRec> records;
    for (int i = 0; i < 500; ++i)
        records.append(record(1700000000 + i * 60, i * 1.5, i % 7 ? QString() : QStringLiteral("line\nbreak ü")));
    QString first, second, error;
    QVERIFY2(spool.write(QStringLiteral("KESTRA #4711"), records, &first, &error), qPrintable(error));
    QVERIFY(spool.write(QStringLiteral("KESTRA #9"), { record(0, -1) }, &second, &error));
    QCOMPARE(spool.pending(), (QStringList { first, second }));
    QVERIFY(!QFile::exists(first + ".tmp"));

    QList<ChistoryRec> loaded;
    QString pagerId;
    QVERIFY2(HistorySpool::load(first, &loaded, &error, &pagerId), qPrintable(error));
    QCOMPARE(pagerId, QStringLiteral("KESTRA #4711"));
    QCOMPARE(loaded.size(), records.size());
    for (qsizetype i = 0; i < records.size(); ++i)
        QVERIFY(sameRecord(loaded[i], records[i]));
    QVERIFY(HistorySpool::remove(first));
    QCOMPARE(spool.pending(), QStringList { second });

    // A folder that cannot be made fails the write and leaves nothing behind.
    QFile blocker(dir.filePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    HistorySpool blocked(dir.filePath("file/Spool"));
    QString path;
    QVERIFY(!blocked.write(QStringLiteral("P"), records, &path, &error));
    QVERIFY(path.isEmpty());
    QVERIFY(!error.isEmpty());
}

void DeviceTexts::damagedSpoolsAreRefused()
{
    QTemporaryDir dir;
    HistorySpool spool(dir.path());
    QString path, error;
    QVERIFY(spool.write(QStringLiteral("P"), { record(1, 1), record(2, 2), record(3, 3) }, &path, &error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    file.close();

    QByteArray hugeCount = good;
    // The count follows the magic and the identifier "P" (4-byte length, one UTF-16 unit).
    const int countAt = 8 + 4 + 2;
    hugeCount[countAt] = '\xff';
    hugeCount[countAt + 1] = '\xff';
    hugeCount[countAt + 2] = '\xff';
    hugeCount[countAt + 3] = '\x7f';
    QByteArray badTrailer = good;
    badTrailer[badTrailer.size() - 4] = 9;
    const QList<QByteArray> damaged = { good.left(good.size() - 1), good.left(5), QByteArray("KSPOOL2\n") + good.mid(8),
        hugeCount, badTrailer, good + "x", QByteArray() };
    for (const auto& bytes : damaged) {
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        QList<ChistoryRec> loaded { record(9, 9) };
        error.clear();
        QVERIFY(!HistorySpool::load(path, &loaded, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(loaded.size(), 1); // untouched
    }
    QVERIFY(!HistorySpool::load(dir.filePath("missing.spool"), nullptr, &error));
}

void DeviceTexts::pendingSpoolsAreStoredAndKeptOnFailure()
{
    QTemporaryDir dir;
    HistorySpool spool(dir.path());
    QString a, b, c, error;
    QVERIFY(spool.write(QStringLiteral("P"), { record(1, 1) }, &a, &error));
    QVERIFY(spool.write(QStringLiteral("P"), { record(2, 2), record(3, 3) }, &b, &error));
    QVERIFY(spool.write(QStringLiteral("P"), { record(4, 4) }, &c, &error));
    QFile broken(c);
    QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.close();
    QFile stale(dir.filePath("history-x.spool.tmp"));
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.close();

    // The store rejects the second spool once: it stays for the next start.
    QList<qint64> stored;
    int calls = 0;
    auto store = [&](const QList<ChistoryRec>& records) {
        if (++calls == 2)
            return false;
        for (const auto& r : records)
            stored.append(r.hDateTime);
        return true;
    };
    QStringList failed;
    QCOMPARE(spool.storePending(store, &failed), 1);
    QCOMPARE(failed, (QStringList { b, c }));
    QCOMPARE(spool.pending(), (QStringList { b, c }));
    QVERIFY(!stale.exists());
    failed.clear();
    QCOMPARE(spool.storePending(store, &failed), 1);
    QCOMPARE(failed, QStringList { c });
    QCOMPARE(stored, (QList<qint64> { 1, 2, 3 }));
}

QTEST_GUILESS_MAIN(DeviceTexts)
#include "tst_devicetexts.moc"
