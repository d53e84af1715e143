#include "history/archivestream.h"
#include "history/localtime.h"
#include "history/measurements.h"
#include "history/pagerlist.h"
#include "history/userparams.h"
#include "history/viewflags.h"

#include <QBuffer>
#include <QTest>

#include <cstring>

namespace {

ChistoryRec rec(const QString& pager, qint64 t, qint32 alarm, double value)
{
    ChistoryRec r;
    r.hPagerID = pager;
    r.hDateTime = t;
    r.hType = 3;
    r.hAlarm = alarm;
    r.hValue = value;
    r.hValue2 = value / 3;
    r.hPrecision = 12;
    r.hVariation = -7;
    r.hComment = QStringLiteral("Kommentar µ²\nzweite Zeile");
    r.hID = ChistoryRec::makeKey(pager, t);
    return r;
}

template <typename T> QByteArray bytesOf(const T& object, int filter = ViewFlags::AllEvents)
{
    QByteArray out;
    StreamWriter w(&out, filter);
    object.write(w);
    return out;
}

template <typename T> T readBack(const QByteArray& bytes)
{
    T object;
    StreamReader r(bytes);
    object.read(r);
    if (!r.atEnd())
        throw std::runtime_error("bytes left over");
    return object;
}

CPagerList sampleList()
{
    CPagerList list;
    const qint64 t = *LocalTime::fromLocal(2008, 12, 25, 10, 0, 0);
    CPager& a = list.findOrCreate("A1");
    a.setName("Kitchen");
    for (int i = 0; i < 5; ++i)
        a.addEvent(rec("A1", t + i * 50000, i % 2 ? 0x002 : 0, i * 1.5));
    a.markDayLoaded(t);
    list.findOrCreate("B2");
    list.setTableName("A1", "Kitchen");
    list.setTableName("Z", QString(300, QChar(0x416)));
    return list;
}

bool sameLists(const CPagerList& a, const CPagerList& b)
{
    if (a.count() != b.count() || a.nameTable() != b.nameTable())
        return false;
    for (int i = 0; i < a.count(); ++i) {
        const CPager& p = *a.instrumentAt(i);
        const CPager& q = *b.instrumentAt(i);
        if (p.identifier() != q.identifier() || p.name() != q.name() || p.days().size() != q.days().size())
            return false;
        for (auto it = p.days().begin(), jt = q.days().begin(); it != p.days().end(); ++it, ++jt) {
            const CHistoryList& x = it->second;
            const CHistoryList& y = jt->second;
            if (it->first != jt->first || x.size() != y.size() || x.loaded != y.loaded || x.hasAlarms != y.hasAlarms
                || x.latestTime != y.latestTime || x.baseTime != y.baseTime)
                return false;
            for (qsizetype k = 0; k < x.size(); ++k) {
                const ChistoryRec& r = x.at(k);
                const ChistoryRec& s = y.at(k);
                if (!(r == s) || r.hComment != s.hComment || r.hID != s.hID || r.hPrecision != s.hPrecision
                    || r.hVariation != s.hVariation || std::memcmp(&r.hValue2, &s.hValue2, 8) != 0)
                    return false;
            }
        }
    }
    return true;
}

} // namespace

class TestStream : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void goldenTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("prefix");
        QTest::newRow("empty") << QString() << QByteArray::fromHex("FFFEFF00");
        QTest::newRow("A1") << QString("A1") << QByteArray::fromHex("FFFEFF02");
        QTest::newRow("254") << QString(254, 'x') << QByteArray::fromHex("FFFEFFFE");
        QTest::newRow("255") << QString(255, 'x') << QByteArray::fromHex("FFFEFFFFFF00");
        QTest::newRow("300") << QString(300, 'x') << QByteArray::fromHex("FFFEFFFF2C01");
        QTest::newRow("65533") << QString(65533, 'x') << QByteArray::fromHex("FFFEFFFFFDFF");
        QTest::newRow("65534") << QString(65534, 'x') << QByteArray::fromHex("FFFEFFFFFFFFFEFF0000");
        QTest::newRow("70000") << QString(70000, 'x') << QByteArray::fromHex("FFFEFFFFFFFF70110100");
    }
    void goldenTexts()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, prefix);
        QByteArray out;
        StreamWriter(&out).writeText(text);
        QCOMPARE(out.left(prefix.size()).toHex(), prefix.toHex());
        QCOMPARE(out.size(), prefix.size() + text.size() * 2);
        StreamReader r(out);
        QCOMPARE(r.readText(), text);
        QVERIFY(r.atEnd());
    }

    void eightBitTexts_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << QByteArray::fromHex("024131") << QString("A1");
        QTest::newRow("utf-8") << QByteArray("\x02\xC2\xB5", 3) << QString("µ");
        QTest::newRow("not utf-8, kept as latin-1") << QByteArray("\x01\xB5", 2) << QString("µ");
        QTest::newRow("16-bit length") << QByteArray::fromHex("FF0300616263") << QString("abc");
        QTest::newRow("32-bit length") << QByteArray::fromHex("FFFFFF0200000061") + "b" << QString("ab");
        QTest::newRow("wide 32-bit length") << QByteArray::fromHex("FFFEFFFFFFFF010000004100") << QString("A");
    }
    void eightBitTexts()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        StreamReader r(bytes);
        QCOMPARE(r.readText(), text);
        QVERIFY(r.atEnd());
    }

    void primitives()
    {
        QByteArray out;
        StreamWriter w(&out);
        w.writeBool(true);
        w.writeInt32(-2);
        w.writeTime(0x0102030405060708LL);
        w.writeDouble(1.0);
        QCOMPARE(out.toHex(), QByteArray("01feffffff0807060504030201000000000000f03f"));
        QByteArray text;
        StreamWriter(&text).writeText("A1");
        QCOMPARE(text.toHex(), QByteArray("fffeff0241003100"));
        QByteArray in = QByteArray::fromHex("07");
        QVERIFY(StreamReader(in).readBool());
    }

    void emptyDayIs22Bytes()
    {
        CHistoryList day;
        day.baseTime = 0x11;
        day.latestTime = 0x22;
        day.loaded = true;
        QCOMPARE(bytesOf(day).toHex(), QByteArray("11000000000000002200000000000000010000000000"));
    }

    void filterWritesAlarmsOnly()
    {
        CHistoryList day;
        for (int i = 0; i < 5; ++i)
            day.addRecord(rec("A1", 1000 + i, i == 1 || i == 3 ? 0x001 : (i == 4 ? 0x010 : 0), i));
        const QByteArray all = bytesOf(day, ViewFlags::AllEvents);
        const QByteArray alarms = bytesOf(day, ViewFlags::AlarmsOnly);
        QCOMPARE(all.mid(18, 4).toHex(), QByteArray("05000000"));
        QCOMPARE(alarms.mid(18, 4).toHex(), QByteArray("02000000"));
        const CHistoryList back = readBack<CHistoryList>(alarms);
        QCOMPARE(back.size(), 2);
        QCOMPARE(back.at(0).hDateTime, qint64(1001));
        QCOMPARE(back.at(1).hDateTime, qint64(1003));
        // Flags come from the stream, not from the records.
        QVERIFY(back.hasAlarms);
        QCOMPARE(back.latestTime, qint64(1004));
        // A server's list ignores the filter.
        day.writeAll = true;
        QCOMPARE(bytesOf(day, ViewFlags::AlarmsOnly), all);
        // A writer without a filter writes every record.
        day.writeAll = false;
        QByteArray viaDefault;
        StreamWriter w(&viaDefault);
        day.write(w);
        QCOMPARE(viaDefault, all);
    }

    void recordLayout()
    {
        ChistoryRec r;
        r.hPagerID = "A";
        r.hDateTime = 2;
        r.hAlarm = 3;
        r.hValue = 4;
        r.hType = 5;
        r.hID = "A|2";
        r.hValue2 = 6;
        r.hPrecision = -1;
        r.hVariation = 7;
        const QByteArray expected = QByteArray::fromHex("FFFEFF01410002000000000000000300000000000000000010"
                                                        "40FFFEFF0005000000FFFEFF034100"
                                                        "7C003200000000000000184"
                                                        "0FFFFFFFF07000000");
        QCOMPARE(bytesOf(r).toHex(), expected.toHex());
    }

    void roundTrips()
    {
        const CPagerList list = sampleList();
        const QByteArray bytes = bytesOf(list);
        QVERIFY(sameLists(readBack<CPagerList>(bytes), list));
        // The same bytes through a device.
        QBuffer buffer;
        buffer.open(QIODevice::ReadWrite);
        StreamWriter w(&buffer, ViewFlags::AllEvents);
        list.write(w);
        QCOMPARE(buffer.data(), bytes);
        buffer.seek(0);
        StreamReader r(&buffer);
        CPagerList viaDevice;
        viaDevice.read(r);
        QVERIFY(sameLists(viaDevice, list));
        QCOMPARE(viaDevice.instrumentAt(0)->index(), -1);

        CMeasurements m { "12", "µR/h", "Measurement gamma", "", "±05 %", "-1", "00:00:00", "gamma", "spare" };
        QCOMPARE(readBack<CMeasurements>(bytesOf(m)), m);

        CUserParams p;
        p.timeSync = true;
        p.spareFlagB = true;
        p.units = 1;
        p.historyInterval = 90000;
        p.spareInt = -123456789;
        p.betaThreshold2 = 77;
        p.searchBetaThreshold = 0.125;
        p.derThreshold1 = 30;
        p.derThreshold2 = 1200;
        const quint64 payload = 0x7FF8DEADBEEF0001ULL; // a NaN with a payload
        std::memcpy(&p.spareRealA, &payload, 8);
        p.spareRealB = -0.0;
        const QByteArray pb = bytesOf(p);
        QCOMPARE(pb.size(), qsizetype(CUserParams::streamSize));
        QCOMPARE(pb.left(7).toHex(), QByteArray("01000100000100"));
        const CUserParams q = readBack<CUserParams>(pb);
        QCOMPARE(bytesOf(q), pb);
        QCOMPARE(std::memcmp(&q.spareRealA, &payload, 8), 0);
        QVERIFY(std::signbit(q.spareRealB));
        // Any non-zero byte loads as 1.
        QByteArray loose = pb;
        loose[5] = char(0x80);
        QCOMPARE(readBack<CUserParams>(loose).units, quint8(1));
    }

    void pagerReadMergesDays()
    {
        CPager target("old");
        const qint64 keep = *LocalTime::fromLocal(2001, 1, 1);
        target.addEvent(rec("old", keep + 5, 0, 1));
        const CPagerList list = sampleList();
        target.read(*std::make_unique<StreamReader>(bytesOf(*list.instrumentAt(0))));
        QCOMPARE(target.identifier(), QString("A1"));
        QCOMPARE(target.days().size(), size_t(4));
        QCOMPARE(target.dayEventCount(keep), 1);
    }

    // Every prefix of a valid stream, and a set of damaged streams, must end in a codec error
    // and leave the target as it was.
    // A count below 1 means no items: the reader takes none and stops right after the count.
    void negativeCountsReadNone()
    {
        CHistoryList day;
        day.baseTime = 3;
        day.latestTime = 5;
        day.hasAlarms = true;
        const QByteArray tail = bytesOf(rec("A1", 5, 0, 1)); // must stay unread
        const QByteArray minusOne = QByteArray::fromHex("FFFFFFFF");
        const QByteArray dayHead = bytesOf(day).left(18);

        CHistoryList readDay;
        readDay.addRecord(rec("old", 1, 0, 1));
        const QByteArray dayBytes = dayHead + QByteArray::fromHex("00000080") + tail;
        StreamReader d(dayBytes);
        readDay.read(d);
        QCOMPARE(readDay.size(), 0);
        QCOMPARE(readDay.latestTime, qint64(5));
        QVERIFY(readDay.hasAlarms);
        QCOMPARE(d.remaining(), tail.size());

        CPager pager("P");
        pager.ensureDay(LocalTime::dayKey(0).value());
        const QByteArray pagerBytes = bytesOf(CPager("Q")).left(10) + minusOne + tail;
        StreamReader p(pagerBytes);
        pager.read(p);
        QCOMPARE(pager.identifier(), QString("Q"));
        QCOMPARE(pager.days().size(), size_t(1)); // the day it held, nothing read
        QCOMPARE(p.remaining(), tail.size());

        CPagerList list = sampleList();
        const QByteArray listBytes = minusOne + QByteArray::fromHex("FEFFFFFF") + tail;
        StreamReader l(listBytes);
        list.read(l);
        QCOMPARE(list.count(), 0);
        QCOMPARE(l.remaining(), tail.size());
    }

    void badInputLeavesTargetUnchanged()
    {
        const CPagerList original = sampleList();
        const QByteArray good = bytesOf(original);
        for (qsizetype n = 0; n < good.size(); ++n) {
            CPagerList target = sampleList();
            const QByteArray cut = good.left(n);
            StreamReader r(cut);
            QVERIFY_THROWS_EXCEPTION(StreamError, target.read(r));
            QVERIFY2(sameLists(target, original), qPrintable(QString("prefix %1").arg(n)));
        }
        CHistoryList day;
        day.addRecord(rec("A1", 5, 0, 1));
        const QByteArray dayBytes = bytesOf(day);
        struct Case {
            const char* name;
            QByteArray bytes;
            StreamError::Kind kind;
        };
        const Case cases[] = {
            { "count beyond the bytes", dayBytes.left(18) + QByteArray::fromHex("FFFFFF7F"),
                StreamError::Kind::EndOfFile },
            { "text length past the end", dayBytes.left(22) + QByteArray::fromHex("FFFEFFFFFFFFFFFFFF7F"),
                StreamError::Kind::EndOfFile },
            { "64-bit text length",
                dayBytes.left(22) + QByteArray::fromHex("FFFFFFFFFFFFFF0000000000000001") + QByteArray(64, '\0'),
                StreamError::Kind::Format },
            { "repeated tag", dayBytes.left(22) + QByteArray::fromHex("FFFEFFFFFEFF") + QByteArray(64, '\0'),
                StreamError::Kind::Format },
            { "truncated double", dayBytes.left(dayBytes.size() - 13), StreamError::Kind::EndOfFile },
        };
        for (const Case& c : cases) {
            CHistoryList target;
            target.addRecord(rec("keep", 9, 0, 9));
            StreamReader r(c.bytes);
            try {
                target.read(r);
                QFAIL(c.name);
            } catch (const StreamError& e) {
                QVERIFY2(e.kind() == c.kind, c.name);
            }
            QCOMPARE(target.size(), 1);
            QCOMPARE(target.at(0).hPagerID, QString("keep"));
        }
        CUserParams params;
        params.sound = true;
        const QByteArray shortParams = bytesOf(CUserParams()).left(CUserParams::streamSize - 1);
        StreamReader r(shortParams);
        QVERIFY_THROWS_EXCEPTION(StreamError, params.read(r));
        QVERIFY(params.sound);
    }

    void sequentialDeviceDoesNotTrustCounts()
    {
        // A socket-like device that cannot tell how much is left: the huge count and text
        // length must fail on the missing bytes, not on an allocation.
        class Pipe : public QIODevice {
        public:
            explicit Pipe(QByteArray bytes)
                : m_bytes(std::move(bytes))
            {
                open(QIODevice::ReadOnly);
            }
            bool isSequential() const override { return true; }

        protected:
            qint64 readData(char* data, qint64 max) override
            {
                const qint64 n = std::min<qint64>(max, m_bytes.size() - m_at);
                std::memcpy(data, m_bytes.constData() + m_at, size_t(n));
                m_at += n;
                return n;
            }
            qint64 writeData(const char*, qint64) override { return -1; }

        private:
            QByteArray m_bytes;
            qint64 m_at = 0;
        };
        // A count far beyond the bytes, then a text whose length is within bounds but absent.
        const QByteArray bytes = QByteArray(18, '\0') + QByteArray::fromHex("FFFFFF7F")
            + QByteArray::fromHex("FFFEFFFFFFFF0000F000") + QByteArray(1000, 'x');
        Pipe pipe(bytes);
        StreamReader r(&pipe);
        CHistoryList target;
        QVERIFY_THROWS_EXCEPTION(StreamError, target.read(r));
    }
};

QTEST_GUILESS_MAIN(TestStream)
#include "tst_stream.moc"
