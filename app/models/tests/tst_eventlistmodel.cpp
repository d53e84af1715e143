#include "history/localtime.h"
#include "history/viewflags.h"
#include "models/eventlistmodel.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QSignalSpy>
#include <QTest>

namespace {

qint64 local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return *LocalTime::fromLocal(y, mo, d, h, mi, s);
}

const QString pager = QStringLiteral("KESTRA #1");
const qint64 day = local(2008, 12, 25);

ChistoryRec rec(qint64 t, qint32 type = 3, qint32 alarm = 0, double value = 10, const QString& comment = {})
{
    ChistoryRec r;
    r.hPagerID = pager;
    r.hDateTime = t;
    r.hType = type;
    r.hAlarm = alarm;
    r.hValue = value;
    r.hComment = comment;
    r.hID = ChistoryRec::makeKey(pager, t);
    return r;
}

ChistoryRec at(int h, int mi, int s, qint32 alarm = 0, const QString& comment = {})
{
    return rec(local(2008, 12, 25, h, mi, s), 3, alarm, 10, comment);
}

QString cell(const EventListModel& m, int row, int column, int role = Qt::DisplayRole)
{
    return m.data(m.index(row, column), role).toString();
}

QStringList column(const EventListModel& m, int c)
{
    QStringList out;
    for (int row = 0; row < m.rowCount(); ++row)
        out << cell(m, row, c);
    return out;
}

} // namespace

class TestEventListModel : public QObject {
    Q_OBJECT

    ViewFlags m_flags;
    std::unique_ptr<EventListModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void init()
    {
        m_flags.setFilterIndex(ViewFlags::AllEvents);
        m_flags.setUnitsRoentgen(true);
        m_model = std::make_unique<EventListModel>(m_flags);
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_model.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    }

    void cleanup()
    {
        m_tester.reset();
        m_model.reset();
    }

    void headerAndWidths()
    {
        QStringList headers;
        for (int c = 0; c < m_model->columnCount(); ++c)
            headers << m_model->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers, QStringList({ "Date / Time", "Mode", "Value", "Alarm", "Comment" }));

        // Each product truncated; the comment column takes what the others leave.
        const QList<QPair<int, QList<int>>> widths = {
            { 1000, { 150, 200, 100, 200, 350 } },
            { 999, { 149, 199, 99, 199, 349 } },
        };
        for (const auto& [w, expected] : widths) {
            QList<int> got;
            for (int c = 0; c < EventListModel::ColumnCount; ++c)
                got << EventListModel::columnWidth(EventListModel::Column(c), w);
            QCOMPARE(got, expected);
        }
    }

    void cellsColoursAndRoles()
    {
        ChistoryRec survey = rec(local(2008, 12, 25, 9, 0, 0), 7, 0, 12345.6, QStringLiteral("a\r\nb"));
        survey.hPrecision = 7;
        const ChistoryRec danger = rec(local(2008, 12, 25, 10, 0, 5), 3, 0x003, 999.9);
        const ChistoryRec search = rec(local(2008, 12, 25, 8, 0, 0), 8, 0x010, -1);
        m_model->showDay(pager, day, { survey, danger, search });

        QCOMPARE(m_model->rowCount(), 3);
        QCOMPARE(column(*m_model, EventListModel::DateTime),
            QStringList({ "10:00:05 25-12-2008", "09:00:00 25-12-2008", "08:00:00 25-12-2008" }));
        QCOMPARE(column(*m_model, EventListModel::Mode),
            QStringList({ "Measurement gamma", "Background", "Search beta/gamma" }));
        QCOMPARE(column(*m_model, EventListModel::Value), QStringList({ "999 µR/h", "1.2e+04± 7% cps", "" }));
        QCOMPARE(column(*m_model, EventListModel::Alarm), QStringList({ "Threshold \"Danger\" is exceeded!", "", "" }));
        QCOMPARE(column(*m_model, EventListModel::Comment), QStringList({ "", "a b", "" }));

        // The alarm row is red in every column; only the odd row is grey.
        for (int c = 0; c < EventListModel::ColumnCount; ++c) {
            QCOMPARE(
                m_model->data(m_model->index(0, c), Qt::ForegroundRole).value<QBrush>().color(), QColor(255, 0, 0));
            QVERIFY(!m_model->data(m_model->index(1, c), Qt::ForegroundRole).isValid());
            QVERIFY(!m_model->data(m_model->index(2, c), Qt::ForegroundRole).isValid()); // 0x010 is no alarm here
            QVERIFY(!m_model->data(m_model->index(0, c), Qt::BackgroundRole).isValid());
            QCOMPARE(
                m_model->data(m_model->index(1, c), Qt::BackgroundRole).value<QBrush>().color(), QColor(220, 220, 220));
        }
        QCOMPARE(cell(*m_model, 1, 0, EventListModel::KeyRole), survey.hID);
        const auto stored = m_model->data(m_model->index(1, 3), EventListModel::RecordRole).value<ChistoryRec>();
        QCOMPARE(stored.hComment, survey.hComment);
        QVERIFY(stored == survey);

        // A change of units reaches texts already made.
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        m_model->setUnitsRoentgen(false);
        QVERIFY(!m_flags.unitsRoentgen());
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].toModelIndex().column(), int(EventListModel::Value));
        QCOMPARE(cell(*m_model, 0, EventListModel::Value), QStringLiteral("9.99 µSv/h"));
    }

    void orderAndEmptyDays()
    {
        // Newest first; records of one second keep their order.
        m_model->showDay(pager, day,
            { at(10, 0, 1), at(10, 0, 3, 0, "first"), at(10, 0, 5), at(10, 0, 3, 0, "second"), at(10, 0, 0) });
        QCOMPARE(column(*m_model, EventListModel::Comment), QStringList({ "", "first", "second", "", "" }));
        QCOMPARE(column(*m_model, EventListModel::DateTime).first(), QStringLiteral("10:00:05 25-12-2008"));
        QCOMPARE(column(*m_model, EventListModel::DateTime).last(), QStringLiteral("10:00:00 25-12-2008"));

        // No day, and the 1970-01-01 of an unset date, show nothing and take nothing.
        for (const qint64 none : { qint64(0), local(1970, 1, 1) }) {
            QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
            m_model->showDay(pager, none, { rec(none + 60) });
            QCOMPARE(reset.size(), 1);
            QCOMPARE(m_model->rowCount(), 0);
            QVERIFY(!m_model->insertAtTop(rec(none + 120)));
            QCOMPARE(m_model->rowCount(), 0);
        }
    }

    void filter()
    {
        m_flags.setFilterIndex(ViewFlags::AlarmsOnly);
        m_model->showDay(pager, day, { at(9, 0, 0), at(10, 0, 0, 0x001), at(11, 0, 0), at(12, 0, 0, 0x200) });
        QCOMPARE(column(*m_model, EventListModel::Alarm),
            QStringList({ "Detector error!", "Threshold \"Warning\" is exceeded!" }));

        // A hidden event is refused as a row but comes back with the filter.
        QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
        QVERIFY(!m_model->insertAtTop(at(13, 0, 0)));
        QVERIFY(m_model->insertAtTop(at(14, 0, 0, 0x004)));
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(m_model->rowCount(), 3);
        QCOMPARE(m_model->findRow(at(10, 0, 0, 0x001)), 2);
        QCOMPARE(m_model->findRow(at(11, 0, 0)), -1);

        QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
        m_model->setFilterIndex(ViewFlags::AllEvents);
        QCOMPARE(reset.size(), 1);
        QCOMPARE(m_flags.filterIndex(), int(ViewFlags::AllEvents));
        QCOMPARE(m_model->rowCount(), 6);
        QCOMPARE(cell(*m_model, 1, EventListModel::DateTime), QStringLiteral("13:00:00 25-12-2008"));

        // A day without alarms is empty under the filter.
        m_model->setFilterIndex(ViewFlags::AlarmsOnly);
        m_model->showDay(pager, day, { at(9, 0, 0), at(10, 0, 0, ChistoryRec::SearchAlarm) });
        QCOMPARE(m_model->rowCount(), 0);
    }

    void insertions()
    {
        m_model->showDay(pager, day, { at(9, 0, 0), at(10, 0, 0) });
        QSignalSpy aboutToInsert(m_model.get(), &QAbstractItemModel::rowsAboutToBeInserted);
        QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);

        QVERIFY(m_model->insertAtTop(at(11, 0, 0)));
        QCOMPARE(aboutToInsert.size(), 1);
        QCOMPARE(aboutToInsert[0][1].toInt(), 0);
        QCOMPARE(aboutToInsert[0][2].toInt(), 0);
        // The former top row moved to an odd row and turned grey.
        QVERIFY(m_model->data(m_model->index(1, 0), Qt::BackgroundRole).isValid());
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].toModelIndex().row(), 1);
        QCOMPARE(changed[0][1].toModelIndex().row(), 2);
        QCOMPARE(changed[0][2].value<QList<int>>(), QList<int>({ Qt::BackgroundRole }));

        // Another instrument, or another day, is not of the shown day.
        ChistoryRec foreign = at(12, 0, 0);
        foreign.hPagerID = QStringLiteral("KESTRA #2");
        QVERIFY(!m_model->insertAtTop(foreign));
        QVERIFY(!m_model->insertAtTop(rec(local(2008, 12, 26, 0, 0, 0))));
        QCOMPARE(aboutToInsert.size(), 1);

        // A download in one insertion, newest first above the rows already shown.
        aboutToInsert.clear();
        const int added = m_model->insertEvents(
            { at(12, 0, 0), at(14, 0, 0), rec(local(2008, 12, 24, 23, 59, 59)), at(13, 0, 0), foreign });
        QCOMPARE(added, 3);
        QCOMPARE(aboutToInsert.size(), 1);
        QCOMPARE(aboutToInsert[0][1].toInt(), 0);
        QCOMPARE(aboutToInsert[0][2].toInt(), 2);
        QCOMPARE(column(*m_model, EventListModel::DateTime).mid(0, 5),
            QStringList({ "14:00:00 25-12-2008", "13:00:00 25-12-2008", "12:00:00 25-12-2008", "11:00:00 25-12-2008",
                "10:00:00 25-12-2008" }));
        QCOMPARE(reset.size(), 0);
    }

    void refresh()
    {
        m_model->showDay(pager, day, { at(9, 0, 0), at(10, 0, 0), at(11, 0, 0) });
        QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);

        ChistoryRec edited = at(10, 0, 0, 0, QStringLiteral("checked\nby hand"));
        QCOMPARE(m_model->findRow(edited), 1);
        QCOMPARE(cell(*m_model, 1, EventListModel::Comment), QString()); // the text is made and kept
        QCOMPARE(m_model->refreshRow(edited), 1);
        QCOMPARE(reset.size(), 0);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].toModelIndex().row(), 1);
        QCOMPARE(changed[0][1].toModelIndex().row(), 1);
        QCOMPARE(cell(*m_model, 1, EventListModel::Comment), QStringLiteral("checked by hand"));
        QCOMPARE(cell(*m_model, 1, EventListModel::DateTime), QStringLiteral("2008-12-25 10:00:00"));
        QCOMPARE(m_model->recordAt(1).hComment, edited.hComment);
        QCOMPARE(cell(*m_model, 0, EventListModel::DateTime), QStringLiteral("11:00:00 25-12-2008"));

        QCOMPARE(m_model->refreshRow(at(12, 0, 0)), -1);
        QCOMPARE(changed.size(), 1);

        // Showing the day again brings back the list's date form.
        m_model->showDay(pager, day, { m_model->recordAt(1) });
        QCOMPARE(cell(*m_model, 0, EventListModel::DateTime), QStringLiteral("10:00:00 25-12-2008"));
    }
};

QTEST_MAIN(TestEventListModel)
#include "tst_eventlistmodel.moc"
