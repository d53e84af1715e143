#pragma once

#include "history/measurements.h"
#include "history/userparams.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <thread>

class CKESTRADoc;
class DoseChart;
class QLabel;
class QTimer;

// "Online Mode": the instrument's current reading in large type, refreshed every 2 s, and a
// chart of the readings since the window opened. The next refresh is timed from the end of the
// previous one, so a slow instrument is never asked twice at once. The twelfth failed refresh
// of one opening ends the window. The instrument is asked on a thread of its own: the window
// never waits for it.
class COnlineMode : public QDialog {
    Q_OBJECT
public:
    static constexpr int RefreshIntervalMs = 2000;

    explicit COnlineMode(CKESTRADoc& doc, QWidget* parent = nullptr);
    ~COnlineMode() override; // waits for a reading under way

    // Tests shorten the pause between refreshes and give a clock of their own (milliseconds).
    void setRefreshInterval(int ms) { m_intervalMs = ms; }
    int refreshInterval() const { return m_intervalMs; }
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }
    // The instrument's settings, when known, for the chart's threshold lines.
    void setThresholds(const std::optional<CUserParams>& params);

    // One refresh: the units, then the reading, asked off the window's thread; refreshFinished
    // tells when its texts are shown. The texts stay as they were on failure.
    void refresh();
    int failures() const { return m_failures; }
    const CMeasurements& reading() const { return m_reading; }

    QTimer* timer() const { return m_timer; }
    DoseChart* chart() const { return m_chart; }
    QLabel* valueLabel() const { return m_value; }
    QLabel* unitsLabel() const { return m_units; }
    QLabel* modeLabel() const { return m_mode; }
    QLabel* alarmLabel() const { return m_alarm; }
    QLabel* errorLabel() const { return m_percent; }
    QLabel* radiationLabel() const { return m_radiation; }

    void done(int result) override;

signals:
    // Around every refresh, the first included; the timer is stopped between the two.
    void refreshStarted();
    void refreshFinished(bool ok);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void start();
    void onTimer();
    void tick();
    void showReading(bool ok, const CMeasurements& reading);

    CKESTRADoc& m_doc;
    CMeasurements m_reading;
    QTimer* m_timer;
    DoseChart* m_chart;
    QLabel* m_mode;
    QLabel* m_radiation;
    QLabel* m_value;
    QLabel* m_units;
    QLabel* m_percentCaption;
    QLabel* m_percent;
    QLabel* m_alarm;
    int m_intervalMs = RefreshIntervalMs;
    int m_failures = 0;
    bool m_started = false;
    bool m_running = false;
    bool m_opening = false; // the opening refresh, whose failure does not count
    std::thread m_reader;
    std::function<qint64()> m_clock;
    qint64 m_openedMs = 0;
};
