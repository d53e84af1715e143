// The chart beside the event list and the range view, in a real window on a real store: the
// series hold the shown day's measurements in the units shown, alarms are marked and named on
// hover, a point and its row are selected together, the filter and new events reach the chart,
// and the range view draws what the store summarises.
#include "uitestsupport.h"

#include "charts/timeticks.h"
#include "document/kestradoc.h"
#include "history/viewflags.h"
#include "models/eventlistmodel.h"
#include "models/instrumenttreemodel.h"
#include "ui/daychartview.h"
#include "ui/kestradevview.h"
#include "ui/kestraview.h"
#include "ui/mainframe.h"
#include "ui/rangeview.h"

#include <QComboBox>
#include <QDateEdit>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTest>

using namespace uitest;

namespace {

ChistoryRec eventOf(const QString& id, qint64 t, qint32 type, double value, qint32 alarm = 0)
{
    ChistoryRec r = makeEvent(id, t, alarm);
    r.hType = type;
    r.hValue = value;
    r.hPrecision = -1;
    return r;
}

bool hasColourOnRow(const QImage& image, int y, const QColor& colour, int from, int to)
{
    for (int x = std::max(0, from); x < std::min(image.width(), to); ++x) {
        if (image.pixelColor(x, y).rgb() == colour.rgb())
            return true;
    }
    return false;
}

} // namespace

class ChartsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<AppContext> m_context;
    std::unique_ptr<CKESTRADoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;
    std::vector<ChistoryRec> m_day; // the events of Id1 two days ago, as stored

    DayChartView& chart() { return m_frame->chartView(); }
    CKESTRAView& list() { return m_frame->listView(); }

    void select(const QString& id, qint64 day)
    {
        CKESTRADevView& tree = m_frame->treeView();
        const QModelIndex index = tree.treeModel().indexOf(id, day);
        QVERIFY(index.isValid());
        tree.setCurrentIndex(index);
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    // The samples a quantity should have: the shown rows' measurements with a value, oldest first.
    std::vector<std::pair<qint64, double>> expectedSamples(DoseQuantity q) const
    {
        std::vector<std::pair<qint64, double>> out;
        const EventListModel& model = m_frame->listView().eventModel();
        for (int row = model.rowCount() - 1; row >= 0; --row) {
            const ChistoryRec& r = model.recordAt(row);
            if (quantityOfType(r.hType) == q && r.hValue >= 0)
                out.emplace_back(r.hDateTime * 1000, r.hValue);
        }
        return out;
    }
    std::vector<std::pair<qint64, double>> chartSamples(DoseQuantity q)
    {
        std::vector<std::pair<qint64, double>> out;
        for (const ChartSample& s : chart().chart().samples(q))
            out.emplace_back(s.ms, s.value);
        return out;
    }
    ChartPainter::Pane paneOf(DoseQuantity q)
    {
        for (const ChartPainter::Pane& pane : chart().painter().layout(chart().chartArea())) {
            if (pane.quantity == q)
                return pane;
        }
        return {};
    }
    QPoint pointOfSample(DoseQuantity q, size_t index)
    {
        const ChartSample& s = chart().chart().samples(q).at(index);
        return chart().painter().pointOf(paneOf(q), s.ms, s.value).toPoint();
    }

private slots:
    void initTestCase()
    {
        m_context = makeContext(m_home);
        QVERIFY(m_context);
        m_context->viewFlags().setUnitsRoentgen(true);
        m_day = {
            eventOf(Id1, at(2, 3600), 3, 120),
            eventOf(Id1, at(2, 4000), 5, 12.5),
            eventOf(Id1, at(2, 5000), 3, 250),
            eventOf(Id1, at(2, 6000), 9, 0, ChistoryRec::DetectorError), // switched on: no value, an alarm
            eventOf(Id1, at(2, 7000), 3, 640, ChistoryRec::GammaWarning),
            eventOf(Id1, at(2, 8000), 7, 40),
            eventOf(Id1, at(2, 9000), 3, 980, ChistoryRec::SearchAlarm), // a mark that is no alarm
            eventOf(Id1, at(2, 9500), 3, -1), // no value
            eventOf(Id1, at(2, 10000), 5, 30),
            eventOf(Id1, at(2, 12000), 3, 300),
        };
        std::vector<ChistoryRec> all = m_day;
        all.push_back(eventOf(Id1, at(1, 100), 3, 5));
        all.push_back(eventOf(Id2, at(2, 3000), 3, 77777));
        QVERIFY(m_context->store().current()->insertEvents(all));

        QVERIFY(startWindow(*m_context, m_doc, m_frame, QSize(1000, 700)));
    }

    void cleanupTestCase()
    {
        m_frame.reset();
        m_doc.reset();
        m_context.reset();
    }

    void init()
    {
        m_frame->filterBox().setCurrentIndex(0);
        list().eventModel().setUnitsRoentgen(true);
        select(Id1, at(2, 0));
    }

    // The series are the day's measurements with a value, by quantity, in the unit the list
    // shows; alarm events are marked, the search mark is not; known thresholds are drawn.
    void seriesMarksAndUnits()
    {
        QCOMPARE(list().model()->rowCount(), int(m_day.size()));
        for (DoseQuantity q : { DoseQuantity::DoseRate, DoseQuantity::BetaFlux, DoseQuantity::CountRate })
            QCOMPARE(chartSamples(q), expectedSamples(q));
        QCOMPARE(chart().chart().samples(DoseQuantity::DoseRate).size(), size_t(5));
        QCOMPARE(chart().chart().samples(DoseQuantity::BetaFlux).size(), size_t(2));

        // Marks: the warning on its gamma value, the detector error (no value) on the floor.
        QStringList marked;
        for (DoseQuantity q : { DoseQuantity::DoseRate, DoseQuantity::BetaFlux, DoseQuantity::CountRate }) {
            const auto& marks = chart().chart().marks(q);
            for (size_t i = 0; i < marks.size(); ++i)
                marked << list().eventModel().recordAt(chart().chart().markRow(q, i)).alarmText();
        }
        marked.sort();
        QCOMPARE(marked,
            QStringList({ QStringLiteral("Detector error!"), QStringLiteral("Threshold \"Warning\" is exceeded!") }));
        const auto& doseMarks = chart().chart().marks(DoseQuantity::DoseRate);
        QCOMPARE(doseMarks.size(), size_t(2));
        QVERIFY(!doseMarks[0].value); // 6000 s: the switch-on
        QCOMPARE(doseMarks[1].value.value_or(-1), 640.0);

        // Roentgens: µR/h as the value column; sieverts: µSv/h, the stored number in hundredths.
        ChartPainter::Pane dose = paneOf(DoseQuantity::DoseRate);
        QCOMPARE(dose.unit, QStringLiteral("µR/h"));
        QCOMPARE(dose.scale, 1.0);
        QCOMPARE(paneOf(DoseQuantity::BetaFlux).unit, QStringLiteral("1/(min*cm²)"));
        list().eventModel().setUnitsRoentgen(false);
        dose = paneOf(DoseQuantity::DoseRate);
        QCOMPARE(dose.unit, QStringLiteral("µSv/h"));
        for (int row = 0; row < list().model()->rowCount(); ++row) {
            const ChistoryRec& r = list().eventModel().recordAt(row);
            if (r.hType == 3 && r.hValue >= 0)
                QVERIFY(r.valueText(false).startsWith(QString::number(r.hValue / dose.scale, 'f', 2)));
        }
        list().eventModel().setUnitsRoentgen(true);

        // Thresholds read from the instrument become dashed lines at their value.
        CUserParams params;
        params.derThreshold1 = 900;
        params.derThreshold2 = 100000; // far above the values: named in the title only
        m_frame->setKnownThresholds(Id1, params);
        dose = paneOf(DoseQuantity::DoseRate);
        const QImage image = chart().grab().toImage();
        const int y = int(chart().painter().pointOf(dose, 0, 900).y());
        QVERIFY(hasColourOnRow(image, y, QColor(230, 140, 0), dose.plot.left(), dose.plot.right()));
        m_frame->setKnownThresholds(Id1, CUserParams {});
        // The marks are painted red where they are.
        const QPoint mark = chart().painter().pointOf(dose, doseMarks[1].ms, 640).toPoint();
        QCOMPARE(chart().grab().toImage().pixelColor(mark).rgb(), QColor(230, 0, 0).rgb());
    }

    // A row chosen in the list rings its point; a point clicked in the chart selects its row
    // (and lets the comment be edited); a mark selects the alarm's row; hover names the alarm.
    void selectionInStepAndHover()
    {
        const int gammaRow = list().findRow(m_day[4]); // the 640 warning
        list().chooseRow(gammaRow);
        auto point = chart().selectedPoint();
        QVERIFY(point);
        QCOMPARE(point->quantity, DoseQuantity::DoseRate);
        QCOMPARE(chart().chart().sampleRow(point->quantity, point->index), gammaRow);

        const QPoint beta = pointOfSample(DoseQuantity::BetaFlux, 1); // the 30 at 10000 s
        QTest::mouseClick(&chart(), Qt::LeftButton, {}, beta);
        const QModelIndexList selected = list().selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(list().eventModel().recordAt(selected.front().row()).hDateTime, at(2, 10000));
        QVERIFY(list().eventSelected());
        QCOMPARE(list().chosenRow(), selected.front().row());
        QVERIFY(m_frame->action(Commands::Id::EditComment)->isEnabled());
        point = chart().selectedPoint();
        QVERIFY(point && point->quantity == DoseQuantity::BetaFlux && point->index == 1);

        // The switch-on's mark: its row has no point of its own.
        const ChartPainter::Pane dose = paneOf(DoseQuantity::DoseRate);
        const QPoint floor = chart().painter().pointOf(dose, at(2, 6000) * 1000, 0).toPoint() + QPoint(0, -3);
        QTest::mouseClick(&chart(), Qt::LeftButton, {}, floor);
        QCOMPARE(list().selectionModel()->selectedRows().front().row(), list().findRow(m_day[3]));
        QVERIFY(!chart().selectedPoint());
        QVERIFY(chart().toolTipAt(floor).contains(QStringLiteral("Detector error!")));
        const QString tip = chart().toolTipAt(pointOfSample(DoseQuantity::DoseRate, 0));
        QVERIFY2(tip.contains(QStringLiteral("120 µR/h")) && !tip.contains(u'!'), qPrintable(tip));
        // Empty space selects nothing and says nothing.
        QCOMPARE(chart().rowAt(QPoint(2, 2)), -1);
        QVERIFY(chart().toolTipAt(QPoint(2, 2)).isEmpty());
    }

    // "Alarms only" narrows the chart as it narrows the list; new events of the shown day,
    // one at the top or a download's batch, join the chart; another day replaces it.
    void filterAndUpdates()
    {
        m_frame->filterBox().setCurrentIndex(1);
        QCOMPARE(list().model()->rowCount(), 2);
        QCOMPARE(chartSamples(DoseQuantity::DoseRate), expectedSamples(DoseQuantity::DoseRate));
        QCOMPARE(chart().chart().samples(DoseQuantity::DoseRate).size(), size_t(1));
        QVERIFY(chart().chart().samples(DoseQuantity::BetaFlux).empty());
        QCOMPARE(chart().chart().marks(DoseQuantity::DoseRate).size(), size_t(2));
        // Row and point stay in step under the filter.
        const int row = list().findRow(m_day[4]);
        QCOMPARE(chart().chart().pointOfRow(row)->index, size_t(0));
        m_frame->filterBox().setCurrentIndex(0);
        QCOMPARE(chart().chart().samples(DoseQuantity::DoseRate).size(), size_t(5));

        const ChistoryRec top = eventOf(Id1, at(2, 20000), 3, 333);
        QVERIFY(m_frame->insertEventAtTop(top));
        QCOMPARE(chart().chart().samples(DoseQuantity::DoseRate).back().value, 333.0);
        QCOMPARE(chart().chart().sampleRow(DoseQuantity::DoseRate, 5), 0);
        m_frame->insertEvents(
            { eventOf(Id1, at(2, 21000), 5, 44), eventOf(Id1, at(2, 22000), 3, 444, ChistoryRec::GammaDanger) });
        QCOMPARE(chartSamples(DoseQuantity::DoseRate), expectedSamples(DoseQuantity::DoseRate));
        QCOMPARE(chartSamples(DoseQuantity::BetaFlux), expectedSamples(DoseQuantity::BetaFlux));
        QCOMPARE(chart().chart().marks(DoseQuantity::DoseRate).size(), size_t(3));
        // Each row still finds its own point.
        for (int r = 0; r < list().model()->rowCount(); ++r) {
            if (const auto p = chart().chart().pointOfRow(r))
                QCOMPARE(chart().chart().sampleRow(p->quantity, p->index), r);
        }

        select(Id1, at(1, 0));
        QCOMPARE(chartSamples(DoseQuantity::DoseRate), expectedSamples(DoseQuantity::DoseRate));
        QCOMPARE(chart().chart().samples(DoseQuantity::DoseRate).size(), size_t(1));
        QCOMPARE(chart().chart().day(), at(1, 0));
    }

    // The time axis labels round local times: across the changes of the clocks a day keeps its
    // labels where the clock has them (none for the skipped hour, one for the repeated hour).
    void axisTicksFollowTheLocalClock()
    {
        auto labels = [](int month, int day, qint64 fit) {
            const qint64 from = *LocalTime::fromLocal(2026, month, day) * 1000;
            const qint64 to = *LocalTime::fromLocal(2026, month, day + 1) * 1000;
            const TimeTicks::Ticks ticks = TimeTicks::ticks(from, to, fit);
            QStringList texts;
            for (const qint64 t : ticks.at)
                texts << TimeTicks::text(t, ticks.step);
            return texts.join(u' ');
        };
        QStringList hours;
        for (int h = 0; h < 24; ++h)
            hours << QStringLiteral("%1:00").arg(h, 2, 10, QLatin1Char('0'));
        QCOMPARE(labels(10, 25, 25), (hours + QStringList { QStringLiteral("00:00") }).join(u' '));
        QCOMPARE(labels(3, 29, 12),
            QStringLiteral("00:00 02:00 04:00 06:00 08:00 10:00 12:00 14:00 16:00 18:00 20:00 22:00 00:00")
                .remove(QStringLiteral("02:00 ")));
        QCOMPARE(labels(6, 15, 4), QStringLiteral("00:00 06:00 12:00 18:00 00:00"));
        // A year: firsts of months, every third.
        const qint64 from = *LocalTime::fromLocal(2025, 1, 1) * 1000;
        const TimeTicks::Ticks year = TimeTicks::ticks(from, *LocalTime::fromLocal(2026, 1, 1) * 1000, 5);
        QStringList texts;
        for (const qint64 t : year.at)
            texts << TimeTicks::text(t, year.step);
        QCOMPARE(texts.join(u' '), QStringLiteral("01.2025 04.2025 07.2025 10.2025 01.2026"));
    }

    // The range view draws what the store summarises for the chosen instrument and span, says
    // how much it holds, and says so when there is nothing to read.
    void rangeView()
    {
        RangeView view(*m_doc, [this] { return m_context->store().current(); }, true, {});
        const QDate day = QDateTime::fromSecsSinceEpoch(at(2, 0)).date();
        view.choose(Id1, RangeView::Dates, day.addDays(1), day);
        QCOMPARE(view.span(), std::make_pair(at(2, 0), at(0, 0)));
        const RangeRequest request { Id1, at(2, 0), at(0, 0), HistoryRange::bucketWidthFor(at(0, 0) - at(2, 0)) };
        const RangeSummary stored = m_context->store().current()->rangeSummary(request);
        const RangeChart& chart = view.chartWidget()->chart();
        for (DoseQuantity q : { DoseQuantity::DoseRate, DoseQuantity::BetaFlux, DoseQuantity::CountRate }) {
            QCOMPARE(chart.bands(q).size(), stored.of(q).size());
            for (size_t i = 0; i < stored.of(q).size(); ++i) {
                QCOMPARE(chart.bands(q)[i].min, stored.of(q)[i].min);
                QCOMPARE(chart.bands(q)[i].max, stored.of(q)[i].max);
                QCOMPARE(chart.bands(q)[i].ms, (request.from + stored.of(q)[i].index * request.bucketSeconds) * 1000);
            }
        }
        QVERIFY(!chart.bands(DoseQuantity::DoseRate).empty());
        QCOMPARE(chart.marks().size(), stored.alarms.size());
        QVERIFY2(view.statusLabel()->text().startsWith(QStringLiteral("Events: %1,").arg(stored.events)),
            qPrintable(view.statusLabel()->text()));
        // A band names its values on hover.
        view.resize(800, 500);
        const ChartPainter::Pane pane = view.chartWidget()->painter().layout(view.chartWidget()->rect()).front();
        const ChartBand& band = chart.bands(DoseQuantity::DoseRate).front();
        const QPoint over
            = view.chartWidget()->painter().pointOf(pane, (band.ms + band.endMs) / 2, band.mean).toPoint();
        QVERIFY(view.chartWidget()->toolTipAt(over).contains(QStringLiteral("lowest")));

        // Week, month and year end on the chosen day.
        view.choose(Id1, RangeView::Week, day);
        QCOMPARE(view.fromEdit()->date(), day.addDays(-6));
        QVERIFY(!view.fromEdit()->isEnabled());
        view.choose(Id1, RangeView::Year, day);
        QCOMPARE(view.fromEdit()->date(), day.addYears(-1).addDays(1));

        RangeView closed(*m_doc, [] { return static_cast<HistoryDb*>(nullptr); }, true, {});
        QVERIFY(!closed.refresh());
        QCOMPARE(closed.statusLabel()->text(), QStringLiteral("No database is open."));
        QVERIFY(closed.chartWidget()->chart().bands(DoseQuantity::DoseRate).empty());
        // In remote mode the window hands it no store: the events are the server's.
        const bool local = m_doc->state().localMode.load();
        m_doc->state().localMode = false;
        QVERIFY(!closed.refresh());
        m_doc->state().localMode = local;
        QVERIFY(closed.statusLabel()->text().startsWith(QStringLiteral("In remote mode the events are on the server")));
    }
};

QTEST_MAIN(ChartsTest)
#include "tst_charts.moc"
