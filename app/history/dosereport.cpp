#include "history/dosereport.h"

#include "history/historydb.h"
#include "history/historyexport.h"
#include "history/localtime.h"

#include <QCoreApplication>
#include <QDate>

#include <algorithm>
#include <stdexcept>

namespace {

constexpr int GammaDoseRate = 3;
constexpr int DoseCleared = 11;
constexpr int BatchSize = 4096;

constexpr const char* KindNames[DoseReport::AlarmKinds] = {
    QT_TRANSLATE_NOOP("DoseReport", "Detector error"),
    QT_TRANSLATE_NOOP("DoseReport", "Dose threshold"),
    QT_TRANSLATE_NOOP("DoseReport", "Dose overload"),
    QT_TRANSLATE_NOOP("DoseReport", "Danger β"),
    QT_TRANSLATE_NOOP("DoseReport", "Danger γ"),
    QT_TRANSLATE_NOOP("DoseReport", "Warning β"),
    QT_TRANSLATE_NOOP("DoseReport", "Warning γ"),
};

constexpr qint32 KindBits[DoseReport::AlarmKinds]
    = { ChistoryRec::DetectorError, ChistoryRec::DoseThreshold, ChistoryRec::DoseOverload, ChistoryRec::BetaDanger,
          ChistoryRec::GammaDanger, ChistoryRec::BetaWarning, ChistoryRec::GammaWarning };

} // namespace

int DoseReport::alarmKind(qint32 bits)
{
    for (int kind = 0; kind < AlarmKinds; ++kind) {
        if (bits & KindBits[kind])
            return kind;
    }
    return -1;
}

QString DoseReport::kindName(int kind)
{
    return kind >= 0 && kind < AlarmKinds ? QCoreApplication::translate("DoseReport", KindNames[kind]) : QString();
}

int DoseReport::Day::alarmCount() const
{
    int n = 0;
    for (const int count : alarms)
        n += count;
    return n;
}

DoseReport::DoseReport(
    QString instrument, qint64 from, qint64 to, bool unitsRoentgen, std::optional<CUserParams> thresholds)
    : m_instrument(std::move(instrument))
    , m_from(from)
    , m_to(to)
    , m_roentgen(unitsRoentgen)
{
    if (thresholds) {
        m_warning = std::max(0, thresholds->derThreshold1);
        m_danger = std::max(0, thresholds->derThreshold2);
        if (thresholds->historyInterval > 0)
            m_maxGap = thresholds->historyInterval;
    }
}

QString DoseReport::unit() const
{
    return HistoryExport::unitOf(GammaDoseRate, m_roentgen);
}

double DoseReport::toUnit(double instrumentValue) const
{
    ChistoryRec probe;
    probe.hType = GammaDoseRate;
    probe.hValue = instrumentValue;
    return HistoryExport::valueInUnit(probe, m_roentgen).value_or(0);
}

DoseReport::Day* DoseReport::dayOf(qint64 time)
{
    const std::optional<qint64> key = LocalTime::dayKey(time);
    if (!key)
        return nullptr;
    if (m_days.empty() || m_days.back().day != *key) {
        Day day;
        day.day = *key;
        m_days.push_back(day);
    }
    return &m_days.back();
}

void DoseReport::closeMeasurement(qint64 until)
{
    if (!m_pending)
        return;
    const Pending& p = *m_pending;
    const qint64 stood = std::max<qint64>(0, std::min({ until, p.time + m_maxGap, p.dayEnd }) - p.time);
    Day& day = m_days[p.dayIndex];
    if (m_warning > 0 && p.value >= m_warning)
        day.aboveWarning += stood;
    if (m_danger > 0 && p.value >= m_danger)
        day.aboveDanger += stood;
    m_pending.reset();
}

void DoseReport::add(const ChistoryRec& r)
{
    if (r.hPagerID != m_instrument || r.hDateTime < m_from || r.hDateTime >= m_to)
        return;
    Day* day = dayOf(r.hDateTime);
    if (!day)
        return; // a moment without a local day belongs to no day of the report
    if (const int kind = alarmKind(r.hAlarm); kind >= 0)
        ++day->alarms[static_cast<size_t>(kind)];
    if (r.hType == DoseCleared)
        day->doseCleared.push_back(r.hDateTime);
    if (r.hType != GammaDoseRate)
        return;
    const std::optional<double> value = HistoryExport::valueInUnit(r, m_roentgen);
    if (!value)
        return;
    day->highest = day->measurements == 0 ? *value : std::max(day->highest, *value);
    day->sum += *value;
    ++day->measurements;

    closeMeasurement(r.hDateTime);
    const std::optional<std::tm> tm = LocalTime::toLocal(day->day);
    const QDate next = tm ? QDate(tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday).addDays(1) : QDate();
    const std::optional<qint64> dayEnd
        = next.isValid() ? LocalTime::fromLocal(next.year(), next.month(), next.day()) : std::nullopt;
    m_pending = Pending { r.hDateTime, r.hValue, dayEnd.value_or(r.hDateTime), m_days.size() - 1 };
}

void DoseReport::finish()
{
    closeMeasurement(m_to);
}

DoseReport::Day DoseReport::total() const
{
    Day all;
    all.day = m_from;
    for (const Day& d : m_days) {
        if (d.measurements > 0)
            all.highest = all.measurements == 0 ? d.highest : std::max(all.highest, d.highest);
        all.measurements += d.measurements;
        all.sum += d.sum;
        for (int k = 0; k < AlarmKinds; ++k)
            all.alarms[static_cast<size_t>(k)] += d.alarms[static_cast<size_t>(k)];
        all.aboveWarning += d.aboveWarning;
        all.aboveDanger += d.aboveDanger;
        all.doseCleared.insert(all.doseCleared.end(), d.doseCleared.begin(), d.doseCleared.end());
    }
    return all;
}

DoseReport DoseReport::fromStore(HistoryDb& db, const QString& instrument, qint64 from, qint64 to, bool unitsRoentgen,
    std::optional<CUserParams> thresholds)
{
    DoseReport report(instrument, from, to, unitsRoentgen, thresholds);
    if (!instrument.isEmpty()) {
        db.forEachEvent(instrument, from, to, BatchSize, [&report](std::span<const ChistoryRec> batch) {
            for (const ChistoryRec& r : batch)
                report.add(r);
            return true;
        });
    }
    report.finish();
    return report;
}
