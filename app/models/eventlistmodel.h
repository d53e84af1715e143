#pragma once

#include "history/historylist.h"

#include <QAbstractTableModel>
#include <QBrush>
#include <QHash>

#include <array>
#include <memory>
#include <vector>

class ViewFlags;

// The events of one instrument on one day, newest first, as the event list shows them. The
// model holds its own copy of the day's records, so nothing here points into the document's
// instrument list; rows are found again by record equality (time, type, alarm, value and
// instrument).
//
// Records are stored oldest first, so that the row at the top is the end of the storage and a
// new top row is an append. Cell texts are made on first use and kept per block of rows.
class EventListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { DateTime, Mode, Value, Alarm, Comment, ColumnCount };
    enum Role {
        KeyRole = Qt::UserRole, // the record key (QString)
        RecordRole, // the record itself (ChistoryRec)
    };

    // Units and filter are read from and written to the program's flags.
    explicit EventListModel(ViewFlags& flags, QObject* parent = nullptr);
    ~EventListModel() override;

    // Share of the client width that a column takes; the comment column takes the rest.
    static double columnShare(Column column);
    // Width of a column for a client width, each product truncated.
    static int columnWidth(Column column, int clientWidth);

    // Shows a copy of the records of one instrument's day, in one reset. Records are ordered
    // newest first (equal times keep their order); the filter and units in effect are taken
    // from the flags. A day of 0, or one whose date is 1970-01-01, leaves the list empty.
    void showDay(const QString& pagerId, qint64 day, std::vector<ChistoryRec> records);
    void showDay(const QString& pagerId, qint64 day, const CHistoryList& list);
    // Empties the list (no day shown).
    void clear();

    const QString& pagerId() const { return m_pagerId; }
    // Local midnight of the shown day; 0 when none is shown.
    qint64 day() const { return m_day; }
    // True when the record is of the shown instrument and day.
    bool isOfShownDay(const ChistoryRec& record) const;

    // A new event of the shown day as the top row. False when the filter hides it (it is kept
    // for a later filter change) or when it is not of the shown day (it is dropped).
    bool insertAtTop(const ChistoryRec& record);
    // New events of the shown day in one insertion at the top, newest first; records of
    // other days are dropped. Returns the number of rows inserted.
    int insertEvents(std::vector<ChistoryRec> records);

    // Replaces the stored record equal to the given one (a changed comment) and updates its
    // row in place. Its date cell shows "%Y-%m-%d %H:%M:%S" until the day is shown again.
    // Returns the row, or -1 when the record is not shown.
    int refreshRow(const ChistoryRec& record);
    // The first row, from the top, showing a record equal to the given one; -1 when none.
    int findRow(const ChistoryRec& record) const;
    const ChistoryRec& recordAt(int row) const;

    // 0 "All events", 1 "Alarms only". A change is written to the flags and re-filters the
    // shown day in one reset.
    int filterIndex() const { return m_filter; }
    void setFilterIndex(int index);
    // The units of the value column; a change is written to the flags and updates the column.
    bool unitsRoentgen() const { return m_unitsRoentgen; }
    void setUnitsRoentgen(bool roentgen);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    struct CachedTexts {
        QString dateTime;
        QString value;
        QString comment;
        quint8 valid = 0; // bits: 1 date, 2 value, 4 comment
        bool refreshed = false;
    };
    static constexpr size_t CacheBlock = 256;
    using CacheChunk = std::array<CachedTexts, CacheBlock>;

    bool filtering() const;
    size_t storageIndex(int row) const;
    int rowOfStorage(size_t index) const;
    void rebuildVisible();
    void appendRecord(ChistoryRec&& record);
    CachedTexts& cached(size_t index) const;
    QString cellText(size_t index, int column) const;
    const QString& alarmTextOf(qint32 alarm) const;
    void makeTypeTexts();
    // After count rows were added or removed at the top, every row below changes parity.
    void backgroundShifted(int first, int count);

    ViewFlags& m_flags;
    QString m_pagerId;
    qint64 m_day = 0;
    qint64 m_dayEnd = 0;
    std::vector<ChistoryRec> m_records; // oldest first: row 0 is the last record
    std::vector<quint32> m_visible; // with the alarm filter: storage indexes of alarm rows, ascending
    int m_filter = 0;
    bool m_unitsRoentgen = false;

    mutable std::vector<std::unique_ptr<CacheChunk>> m_cache;
    mutable QHash<qint32, QString> m_alarmTexts;
    std::array<QString, 15> m_typeTexts;
    QBrush m_alarmBrush;
    QBrush m_oddBrush;
};
