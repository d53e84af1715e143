// The instrument's physics and memory: dose rate and counting noise, alarms, the history that
// grows while it runs, and the chunks in which it is read.
#include "kestrasim/instrument.h"

#include "instrument_detail.h"

#include "kestrasim/wire.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestra::sim {

using namespace detail;

std::string Instrument::versionText(int part)
{
    switch (part) {
    case 0:
        return "KESTRA-G detector v2.14";
    case 1:
        return "KESTRA-B detector v1.07";
    case 2:
        return "KESTRA boot v1.03";
    default:
        return "KESTRA main v3.21";
    }
}

double Instrument::currentRate(double now) const
{
    if (!m_scenario.empty())
        return m_scenario.rateAt(now - m_scenarioStart);
    return m_doseRate;
}

void Instrument::setDoseRate(double svPerHour)
{
    m_doseRate = std::isfinite(svPerHour) && svPerHour > 0 ? svPerHour : 0.0;
    m_scenario = Scenario();
}

void Instrument::setScenario(Scenario scenario, double now)
{
    m_scenario = std::move(scenario);
    m_scenarioStart = now;
}

double Instrument::countRate() const
{
    return m_doseRate * kCountsPerSvh + m_betaFlux * 0.05;
}

Instrument::Measurement Instrument::measure(double now)
{
    const double rate = currentRate(now);
    double value = 0;
    double countsPerSecond = 0;
    switch (m_settings.mode) {
    case ModeGamma:
        value = rate;
        countsPerSecond = rate * kCountsPerSvh;
        break;
    case ModeBeta2:
        value = m_betaFlux;
        countsPerSecond = m_betaFlux * 0.05 + rate * kCountsPerSvh;
        break;
    case ModeBeta1:
    case ModeSurvey:
    case ModeBackground:
    case ModeSearch:
        value = rate * kCountsPerSvh + m_betaFlux * 0.05;
        countsPerSecond = value;
        break;
    default:
        return { 0.0, 99 };
    }
    const double counts = std::max(countsPerSecond * kAveragingSeconds, 1.0);
    const double sigma = 1.0 / std::sqrt(counts);
    const int precision = std::clamp(static_cast<int>(std::lround(200.0 * sigma)), 1, 99);
    std::normal_distribution<double> noise(0.0, sigma);
    value = std::max(0.0, value * (1.0 + noise(m_rng)));
    return { value, precision };
}

std::string Instrument::infoPayload(double now)
{
    const Measurement m = measure(now);
    std::string payload = "MODE=";
    payload += modeWord(m_settings.mode);
    payload += " alarm=" + hex(alarmWord(), 4);
    const int mode = m_settings.mode;
    const std::string precision = "~" + std::to_string(m.precision) + "%";
    if (mode == ModeGamma) {
        payload += " gm=" + formatE(m.value) + "Sv/hr" + precision;
    } else if (mode == ModeBeta2) {
        payload += " gm=" + formatE(m.value) + "CPM/cm^2" + precision;
    } else if (mode == ModeBeta1 || mode == ModeSurvey || mode == ModeBackground || mode == ModeSearch) {
        payload += " gm=" + formatE(m.value) + "CPS" + precision;
    }
    if (mode >= ModeBeta1 && mode <= ModeSearch && mode != ModeGamma) {
        unsigned status = 0;
        if (m_alarms & AlarmBetaWarning)
            status |= 0x01;
        if (m_alarms & AlarmBetaDanger)
            status |= 0x02;
        payload += " status=" + hex(status, 2);
    }
    return payload;
}

uint16_t Instrument::alarmWord() const
{
    return static_cast<uint16_t>(m_alarms | (m_autocalRunning ? AlarmAutocalibration : 0));
}

std::size_t Instrument::chunkBytes() const
{
    // prefix, number, space, "length=" + up to 4 digits, " end ", data, " CRC=XXXX" CR LF
    const std::size_t overhead = kFramePrefix.size() + m_settings.number.size() + 1 + 11 + 5 + 11;
    std::size_t most = (kMaxReplyBytes - kReplyMargin - overhead) / 2;
    most -= most % 16;
    if (m_chunkBytes == 0 || m_chunkBytes > most)
        return most;
    return m_chunkBytes;
}

std::string Instrument::chunkPayload()
{
    Download& d = *m_download;
    const std::size_t total = d.records.size() * sizeof(RawRecord::bytes);
    const std::size_t length = std::min(chunkBytes(), total - d.offset);
    const bool last = d.offset + length >= total;
    std::vector<uint8_t> data(length);
    for (std::size_t i = 0; i < length; ++i) {
        const std::size_t at = d.offset + i;
        data[i] = d.records[at / 16].bytes[at % 16];
    }
    d.offset += length;
    std::string payload = "length=" + hex(length, 2) + (last ? " end " : " ") + toHex(data.data(), data.size());
    if (last)
        m_download.reset();
    return payload;
}

void Instrument::setHistory(std::vector<RawRecord> records)
{
    if (records.size() > kMaxHistoryRecords)
        records.erase(records.begin(), records.begin() + static_cast<long>(records.size() - kMaxHistoryRecords));
    m_history = std::move(records);
    markDirty();
}

void Instrument::appendHistory(const RawRecord& record)
{
    // A full memory drops its oldest record, as a ring buffer would.
    if (m_history.size() >= kMaxHistoryRecords)
        m_history.erase(m_history.begin());
    m_history.push_back(record);
    markDirty();
}

void Instrument::appendMeasurementRecord(uint32_t time)
{
    const double rate = currentRate(static_cast<double>(time) - static_cast<double>(m_settings.clockOffset));
    switch (m_settings.mode) {
    case ModeGamma: {
        const double counts = std::max(rate * kCountsPerSvh * kAveragingSeconds, 1.0);
        std::normal_distribution<double> noise(0.0, 1.0 / std::sqrt(counts));
        const int precision = std::clamp(static_cast<int>(std::lround(200.0 / std::sqrt(counts))), 1, 99);
        appendHistory(makeRecord('F', time, { std::max(0.0, rate * (1 + noise(m_rng))), m_settings.dose, precision }));
        break;
    }
    case ModeBeta2:
        appendHistory(makeRecord('b', time, { m_betaFlux, countRate(), 20 }));
        break;
    case ModeSearch:
        appendHistory(makeRecord('S', time, { countRate(), 0, 20 }));
        break;
    case ModeBeta1:
    case ModeSurvey:
    case ModeBackground:
        appendHistory(makeRecord('B', time, { countRate(), 0, 20 }));
        break;
    default:
        break;
    }
}

void Instrument::appendAlarmRecords(uint16_t risen, uint32_t time)
{
    const double rate
        = m_scenario.empty() ? m_doseRate : currentRate(static_cast<double>(time) - m_settings.clockOffset);
    const RecordFields gamma { rate, m_settings.dose, 5 };
    if (risen & AlarmGammaWarning)
        appendHistory(makeRecord('G', time, gamma));
    if (risen & AlarmGammaDanger)
        appendHistory(makeRecord('g', time, gamma));
    if (risen & AlarmOverload)
        appendHistory(makeRecord('O', time, gamma));
    if (risen & AlarmDoseThreshold)
        appendHistory(makeRecord('D', time, gamma));
    if (risen & AlarmBetaWarning)
        appendHistory(makeRecord('I', time, { m_betaFlux, 0, 20 }));
    if (risen & AlarmBetaDanger)
        appendHistory(makeRecord('i', time, { m_betaFlux, 0, 20 }));
    if (risen & AlarmSearch)
        appendHistory(makeRecord('J', time, { countRate(), 0, 20 }));
}

void Instrument::tick(double now)
{
    if (m_lastTick < 0)
        m_lastTick = now;
    const double dt = std::clamp(now - m_lastTick, 0.0, 366.0 * 86400.0);
    m_lastTick = now;
    const double rate = currentRate(now);
    if (!m_scenario.empty())
        m_doseRate = rate;
    if (dt > 0) {
        m_settings.dose += rate * dt / 3600.0;
        m_settings.doseTime += dt;
    }
    const uint32_t t = clock(now);

    uint16_t alarms = 0;
    if (rate >= m_settings.derThreshold1)
        alarms |= AlarmGammaWarning;
    if (rate >= m_settings.derThreshold2)
        alarms |= AlarmGammaDanger;
    if (rate >= kOverloadRate)
        alarms |= AlarmOverload;
    if (m_settings.dose >= m_settings.deThreshold)
        alarms |= AlarmDoseThreshold;
    if (m_settings.mode == ModeBeta2 && m_betaFlux >= m_settings.betaThreshold1)
        alarms |= AlarmBetaWarning;
    if (m_settings.mode == ModeBeta2 && m_betaFlux >= m_settings.betaThreshold2)
        alarms |= AlarmBetaDanger;
    if (m_settings.mode == ModeSearch && countRate() >= m_settings.searchBetaThreshold)
        alarms |= AlarmSearch;
    const auto risen = static_cast<uint16_t>(alarms & ~m_alarms);
    m_alarms = alarms;
    if (risen)
        appendAlarmRecords(risen, t);

    if (m_autocalRunning && now - m_autocalStart >= kAutocalSeconds) {
        m_autocalRunning = false;
        std::normal_distribution<double> drift(0.0, 0.01);
        m_settings.kDer *= 1.0 + drift(m_rng);
        appendHistory(makeRecord('C', t,
            { m_settings.kDer, m_settings.autocalRate, m_settings.autocalTolerance, m_settings.autocalPrecision }));
    }

    if (m_download && now - m_download->lastRequest > kDownloadIdleLimit)
        m_download.reset();

    const uint16_t interval = m_settings.historyInterval;
    if (m_liveHistory && interval > 0) {
        if (m_nextRecord < 0)
            m_nextRecord = static_cast<double>(t) + interval;
        int appended = 0;
        while (static_cast<double>(t) >= m_nextRecord && appended < kMaxCatchUpRecords) {
            appendMeasurementRecord(static_cast<uint32_t>(m_nextRecord));
            m_nextRecord += interval;
            ++appended;
        }
        if (static_cast<double>(t) >= m_nextRecord)
            m_nextRecord = static_cast<double>(t) + interval;
    }
}

void Instrument::prefillHistory(int count, int days, double now)
{
    if (count <= 0)
        return;
    count = std::min<int>(count, static_cast<int>(kMaxHistoryRecords));
    days = std::clamp(days, 1, 3650);
    const double end = clock(now);
    const double start = std::max(0.0, end - days * 86400.0);
    const double spacing = (end - start) / count;
    std::vector<RawRecord> records;
    records.reserve(static_cast<std::size_t>(count));
    double dose = 0;
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double background = 1.0e-7;
    // A day of the instrument repeats in cycles of 40 records: switched on, measurements with the
    // occasional beta, search, background, alarm, calibration, dose reset or sound change, switched off.
    // The first cycle has one of each, so even a short history shows every kind of event.
    for (int i = 0; i < count; ++i) {
        const auto t = static_cast<uint32_t>(start + (i + 0.5) * spacing);
        const int cycle = i / 40;
        const int pos = i % 40;
        const double counts = background * kCountsPerSvh * kAveragingSeconds;
        const int precision = static_cast<int>(std::lround(200.0 / std::sqrt(counts)));
        const double rate = std::max(1.0e-9, background * (1.0 + gauss(m_rng) / std::sqrt(counts)));
        dose += rate * spacing / 3600.0;
        RawRecord record;
        if (pos == 0)
            record = makeRecord('1', t);
        else if (pos == 39)
            record = makeRecord('0', t);
        else if (pos == 10)
            record = makeRecord('b', t, { 2.0 + gauss(m_rng) * 0.3, 0.1, 25 });
        else if (pos == 20)
            record = makeRecord('S', t, { 0.5 + std::fabs(gauss(m_rng)) * 0.1, 0, 30 });
        else if (pos == 25)
            record = makeRecord('B', t, { 0.5 + std::fabs(gauss(m_rng)) * 0.1, 0, 30 });
        else if (pos == 15 && cycle % 5 == 0)
            record = makeRecord('G', t, { 4.2e-4, dose, 4 });
        else if (pos == 15 && cycle % 5 == 3)
            record = makeRecord('g', t, { 1.6e-3, dose, 3 });
        else if (pos == 30 && cycle % 7 == 0)
            record = makeRecord('A', t, { m_settings.kDer, 8.0e-5, 2, 50 });
        else if (pos == 31 && cycle % 7 == 0)
            record = makeRecord('C', t, { m_settings.kDer * 1.01, 8.0e-5, 2, 50 });
        else if (pos == 5 && cycle % 6 == 0) {
            dose = 0;
            record = makeRecord('R', t);
        } else if (pos == 35 && cycle % 4 == 0)
            record = makeRecord('s', t, { 0, 0, cycle % 8 == 0 ? 0 : 1, 1 });
        else if (pos == 12 && cycle % 9 == 0)
            record = makeRecord('I', t, { 14.0, 0, 20 });
        else if (pos == 13 && cycle % 11 == 0)
            record = makeRecord('J', t, { 140.0, 0, 15 });
        else
            record = makeRecord('F', t, { rate, dose, precision });
        records.push_back(record);
    }
    setHistory(std::move(records));
}

} // namespace kestra::sim
