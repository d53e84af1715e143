#include "history/localtime.h"
#include "history/pagerlist.h"
#include "models/instrumenttreemodel.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QSignalSpy>
#include <QTest>

namespace {

qint64 local(int y, int mo, int d, int h = 0)
{
    return *LocalTime::fromLocal(y, mo, d, h);
}

// A1 is named through the name table and has three days, one with alarms; B2 has no name.
void fill(CPagerList& list)
{
    list.setTableName(QStringLiteral("A1"), QStringLiteral("Worker"));
    list.setTableName(QStringLiteral("Z9"), QStringLiteral("Absent")); // not in the list
    CPager& a = list.findOrCreate(QStringLiteral("A1"));
    a.ensureDay(local(2009, 1, 2));
    a.ensureDay(local(2009, 2, 1));
    a.setDayAlarm(local(2008, 12, 31), true);
    list.findOrCreate(QStringLiteral("B2")).ensureDay(local(2009, 3, 3));
}

QStringList texts(const QAbstractItemModel& m, const QModelIndex& parent = {}, int role = Qt::DisplayRole)
{
    QStringList out;
    for (int row = 0; row < m.rowCount(parent); ++row)
        out << m.index(row, 0, parent).data(role).toString();
    return out;
}

} // namespace

class TestInstrumentTreeModel : public QObject {
    Q_OBJECT

    CPagerList m_list;
    std::unique_ptr<InstrumentTreeModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void init()
    {
        m_list = CPagerList();
        fill(m_list);
        m_model = std::make_unique<InstrumentTreeModel>();
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_model.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);
        m_model->rebuild(m_list);
    }

    void cleanup()
    {
        m_tester.reset();
        m_model.reset();
    }

    void rebuildNodes()
    {
        QCOMPARE(texts(*m_model), QStringList({ "Worker", "B2" }));
        QCOMPARE(texts(*m_model, {}, Qt::ToolTipRole), QStringList({ "A1 (Worker)", "B2" }));
        const QModelIndex a = m_model->index(0, 0);
        // Day labels sort as text, so the day of the month decides first.
        QCOMPARE(texts(*m_model, a), QStringList({ "01-02-2009", "02-01-2009", "31-12-2008" }));
        QCOMPARE(texts(*m_model, a, InstrumentTreeModel::IdentifierRole), QStringList({ "A1", "A1", "A1" }));

        const QModelIndex lastDay = m_model->index(2, 0, a);
        QCOMPARE(lastDay.data(InstrumentTreeModel::DayNumberRole).toInt(), 20081231);
        QCOMPARE(lastDay.data(InstrumentTreeModel::DayRole).toLongLong(), local(2008, 12, 31));
        QCOMPARE(lastDay.data(Qt::ForegroundRole).value<QBrush>().color(), QColor(255, 0, 0));
        QVERIFY(!m_model->index(0, 0, a).data(Qt::ForegroundRole).isValid());
        QVERIFY(!(m_model->flags(lastDay) & Qt::ItemIsEditable));
    }

    void additions()
    {
        QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
        const QPersistentModelIndex aDay = m_model->index(2, 0, m_model->index(0, 0));

        CPager& c = m_list.findOrCreate(QStringLiteral("C3"));
        c.ensureDay(local(2009, 4, 4));
        QCOMPARE(m_model->addInstrument(c), m_model->index(0, 0));
        QCOMPARE(m_model->addInstrument(c), m_model->index(0, 0)); // not twice
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(texts(*m_model), QStringList({ "C3", "Worker", "B2" }));
        QCOMPARE(texts(*m_model, m_model->index(0, 0)), QStringList({ "04-04-2009" }));
        // A day node kept across the insertion still finds its own instrument.
        QCOMPARE(aDay.parent().data().toString(), QStringLiteral("Worker"));
        QCOMPARE(aDay.data().toString(), QStringLiteral("31-12-2008"));

        // A new day goes first under its instrument, once; an unknown instrument gets none.
        QCOMPARE(m_model->addDay(QStringLiteral("A1"), local(2009, 5, 5, 13)).row(), 0);
        QVERIFY(m_model->addDay(QStringLiteral("A1"), local(2009, 5, 5, 20)).isValid());
        QVERIFY(!m_model->addDay(QStringLiteral("X"), local(2009, 5, 5)).isValid());
        QCOMPARE(inserted.size(), 2);
        QCOMPARE(texts(*m_model, m_model->index(1, 0)),
            QStringList({ "05-05-2009", "01-02-2009", "02-01-2009", "31-12-2008" }));

        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        m_model->setDayAlarm(QStringLiteral("A1"), local(2009, 5, 5, 8), true);
        QCOMPARE(changed.size(), 1);
        QVERIFY(m_model->index(0, 0, m_model->index(1, 0)).data(Qt::ForegroundRole).isValid());
    }

    void lookupAndTarget()
    {
        const QModelIndex day = m_model->indexOf(QStringLiteral("A1"), local(2008, 12, 31, 15));
        QCOMPARE(day.data().toString(), QStringLiteral("31-12-2008"));
        QCOMPARE(m_model->indexOf(QStringLiteral("B2")), m_model->index(1, 0));
        QVERIFY(!m_model->indexOf(QStringLiteral("B2"), local(2008, 12, 31)).isValid());

        auto target = m_model->targetOf(day, m_list);
        QCOMPARE(target.identifier, QStringLiteral("A1"));
        QCOMPARE(target.day, local(2008, 12, 31));
        target = m_model->targetOf(m_model->index(0, 0), m_list);
        QCOMPARE(target.identifier, QStringLiteral("A1"));
        QCOMPARE(target.day, qint64(0));

        // An instrument the document's list no longer holds selects "<error>" and no day.
        CPagerList other;
        other.findOrCreate(QStringLiteral("B2"));
        for (const QModelIndex& index : { day, m_model->index(0, 0), QModelIndex() }) {
            target = m_model->targetOf(index, other);
            QCOMPARE(target.identifier, QStringLiteral("<error>"));
            QCOMPARE(target.day, qint64(0));
        }
    }

    void rename_data()
    {
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<int>("row"); // -1: A1's first day
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("answer"); // -1: no handler, 0: Cancel, 1: OK
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("renamed");
        QTest::addColumn<QString>("display");
        QTest::newRow("new name") << true << 1 << "Driver" << 1 << false << true << "Driver";
        QTest::newRow("name in use, Cancel") << true << 1 << "Worker" << 0 << true << false << "B2";
        QTest::newRow("name in use, OK") << true << 1 << "Worker" << 1 << true << true << "Worker";
        QTest::newRow("name in use, nobody to ask") << true << 1 << "Worker" << -1 << false << false << "B2";
        QTest::newRow("table name of an absent instrument") << true << 1 << "Absent" << 0 << false << true << "Absent";
        QTest::newRow("same text") << true << 0 << "Worker" << 0 << false << false << "Worker";
        QTest::newRow("empty shows the identifier") << true << 0 << "" << 0 << false << true << "A1";
        QTest::newRow("archive shown") << false << 1 << "Driver" << 1 << false << false << "B2";
        QTest::newRow("day node") << true << -1 << "Driver" << 1 << false << false << "01-02-2009";
    }
    void rename()
    {
        QFETCH(bool, allowed);
        QFETCH(int, row);
        QFETCH(QString, name);
        QFETCH(int, answer);
        QFETCH(bool, asked);
        QFETCH(bool, renamed);
        QFETCH(QString, display);

        m_model->setRenameAllowed(allowed);
        QStringList questions;
        if (answer >= 0) {
            m_model->setConfirmDuplicateName([&](const QString& identifier, const QString& text) {
                questions << identifier + QLatin1Char('|') + text;
                return answer == 1;
            });
        }
        QSignalSpy stored(m_model.get(), &InstrumentTreeModel::instrumentRenamed);
        const QModelIndex index = row < 0 ? m_model->index(0, 0, m_model->index(0, 0)) : m_model->index(row, 0);
        const QString identifier = index.data(InstrumentTreeModel::IdentifierRole).toString();

        const bool result = m_model->setData(index, name);
        QCOMPARE(questions.size(), asked ? 1 : 0);
        if (asked)
            QCOMPARE(questions.first(), identifier + QLatin1Char('|') + name);
        QCOMPARE(stored.size(), renamed ? 1 : 0);
        if (renamed) {
            QVERIFY(result);
            QCOMPARE(stored[0][0].toString(), identifier);
            QCOMPARE(stored[0][1].toString(), name);
        }
        QCOMPARE(index.data().toString(), display);
        QCOMPARE(bool(m_model->flags(m_model->index(0, 0)) & Qt::ItemIsEditable), allowed);
    }

    void renamedNameIsInUse()
    {
        // After a rename the new name counts for the next one.
        int questions = 0;
        m_model->setConfirmDuplicateName([&](const QString&, const QString&) {
            ++questions;
            return false;
        });
        QVERIFY(m_model->setData(m_model->index(1, 0), QStringLiteral("Driver")));
        QVERIFY(!m_model->setData(m_model->index(0, 0), QStringLiteral("Driver")));
        QCOMPARE(questions, 1);
        QCOMPARE(texts(*m_model), QStringList({ "Worker", "Driver" }));
    }
};

QTEST_MAIN(TestInstrumentTreeModel)
#include "tst_instrumenttreemodel.moc"
