#pragma once

#include "history/historyrec.h"

#include <deque>
#include <memory>

// The events of one instrument on one day, in insertion order. References to stored records
// stay valid while records are appended.
class CHistoryList {
public:
    using Records = std::deque<ChistoryRec>;
    // Minimum size of a list in the stream form (no records).
    static constexpr qint64 minStreamSize = 8 + 8 + 1 + 1 + 4;

    bool loaded = false;
    qint64 baseTime = 0;
    qint64 latestTime = 0;
    bool hasAlarms = false;
    // Write every record regardless of the filter (a server sending to a client).
    bool writeAll = false;

    CHistoryList() = default;
    CHistoryList(const CHistoryList& other);
    CHistoryList& operator=(const CHistoryList& other);
    CHistoryList(CHistoryList&&) noexcept = default;
    CHistoryList& operator=(CHistoryList&&) noexcept = default;

    const Records& records() const;
    qsizetype size() const { return m_records ? static_cast<qsizetype>(m_records->size()) : 0; }
    bool isEmpty() const { return !m_records || m_records->empty(); }
    const ChistoryRec& at(qsizetype i) const { return (*m_records)[static_cast<size_t>(i)]; }
    ChistoryRec& at(qsizetype i) { return (*m_records)[static_cast<size_t>(i)]; }

    // Appends a copy; keeps latestTime and hasAlarms. Returns the stored record.
    ChistoryRec& addRecord(const ChistoryRec& record);
    // The first equal record, or nullptr.
    const ChistoryRec* findEqual(const ChistoryRec& record) const;
    ChistoryRec* findEqual(const ChistoryRec& record);
    // Adds to target every record later than t, in list order; returns how many.
    int copyNewer(CHistoryList& target, qint64 t) const;
    // Removes the records; flags and times stay.
    void clear()
    {
        if (m_records)
            m_records->clear();
    }
    // Newest first; events of the same second keep their order.
    void sort();
    // Appends without touching latestTime or hasAlarms (the stream form carries them).
    void appendRaw(ChistoryRec record) { stored().push_back(std::move(record)); }

    // Writes the list; with writeAll false and the writer's filter on "Alarms only", records
    // without alarm text are left out.
    void write(StreamWriter& out) const;
    // Replaces the records and fields by the stream's; on a stream error the list is unchanged.
    void read(StreamReader& in);

private:
    Records& stored();

    // Made with the first record: the instrument list holds a list for every day of the
    // store, and most of them are never loaded.
    std::unique_ptr<Records> m_records;
};
