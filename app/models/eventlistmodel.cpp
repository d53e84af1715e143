#include "models/eventlistmodel.h"

#include "history/localtime.h"
#include "history/viewflags.h"

#include <QColor>

#include <algorithm>
#include <stdexcept>

namespace {

// The alarm bits that decide the alarm text; other bits never change it.
constexpr qint32 alarmTextBits = ChistoryRec::DetectorError | ChistoryRec::DoseThreshold | ChistoryRec::DoseOverload
    | ChistoryRec::BetaDanger | ChistoryRec::GammaDanger | ChistoryRec::BetaWarning | ChistoryRec::GammaWarning;

constexpr quint8 dateValid = 1;
constexpr quint8 valueValid = 2;
constexpr quint8 commentValid = 4;

constexpr double shares[] = { 0.15, 0.2, 0.1, 0.2 };

// Newest first with equal times in their order, then reversed into the oldest-first storage.
void sortIntoStorage(std::vector<ChistoryRec>& records)
{
    // Strictly oldest first is already the storage order (no equal times to keep in order).
    const auto notLater = [](const ChistoryRec& a, const ChistoryRec& b) { return a.hDateTime >= b.hDateTime; };
    if (std::adjacent_find(records.begin(), records.end(), notLater) == records.end())
        return;
    if (!std::is_sorted(records.begin(), records.end(), ChistoryRec::newerThan))
        std::stable_sort(records.begin(), records.end(), ChistoryRec::newerThan);
    std::reverse(records.begin(), records.end());
}

} // namespace

EventListModel::EventListModel(ViewFlags& flags, QObject* parent)
    : QAbstractTableModel(parent)
    , m_flags(flags)
    , m_filter(flags.filterIndex())
    , m_unitsRoentgen(flags.unitsRoentgen())
    , m_alarmBrush(QColor(255, 0, 0))
    , m_oddBrush(QColor(220, 220, 220))
{
    makeTypeTexts();
}

EventListModel::~EventListModel() = default;

double EventListModel::columnShare(Column column)
{
    switch (column) {
    case DateTime:
    case Mode:
    case Value:
    case Alarm:
        return shares[column];
    case Comment:
        return 1.0 - (shares[0] + shares[1] + shares[2] + shares[3]);
    case ColumnCount:
        break;
    }
    return 0;
}

int EventListModel::columnWidth(Column column, int clientWidth)
{
    const double w = clientWidth;
    if (column == Comment)
        return static_cast<int>(w - (shares[0] + shares[1] + shares[2] + shares[3]) * w);
    return static_cast<int>(columnShare(column) * w);
}

void EventListModel::makeTypeTexts()
{
    // Made again at every reset so that a change of language reaches the list.
    for (size_t i = 0; i < m_typeTexts.size(); ++i)
        m_typeTexts[i] = ChistoryRec::eventTypeText(static_cast<qint32>(i));
}

void EventListModel::showDay(const QString& pagerId, qint64 day, const CHistoryList& list)
{
    showDay(pagerId, day, std::vector<ChistoryRec>(list.records().begin(), list.records().end()));
}

void EventListModel::showDay(const QString& pagerId, qint64 day, std::vector<ChistoryRec> records)
{
    beginResetModel();
    m_pagerId = pagerId;
    m_day = 0;
    m_dayEnd = 0;
    m_cache.clear();
    m_alarmTexts.clear();
    makeTypeTexts();
    m_filter = m_flags.filterIndex();
    m_unitsRoentgen = m_flags.unitsRoentgen();
    // 1970-01-01 is what an unset or unreadable date comes out as; it shows nothing.
    const std::optional<qint64> key = day == 0 ? std::nullopt : LocalTime::dayKey(day);
    if (key && LocalTime::format(*key, "%Y-%m-%d") != QLatin1String("1970-01-01")) {
        // 36 hours after midnight is always within the next day, whatever daylight saving does.
        if (const std::optional<qint64> end = LocalTime::dayKey(*key + 36 * 3600)) {
            m_dayEnd = *end;
            m_day = *key;
        }
    }
    if (m_day == 0) {
        m_records.clear();
    } else {
        m_records = std::move(records);
        sortIntoStorage(m_records);
    }
    rebuildVisible();
    endResetModel();
}

void EventListModel::clear()
{
    showDay(m_pagerId, 0, std::vector<ChistoryRec>());
}

bool EventListModel::isOfShownDay(const ChistoryRec& record) const
{
    return m_day != 0 && record.hDateTime >= m_day && record.hDateTime < m_dayEnd && record.hPagerID == m_pagerId;
}

bool EventListModel::filtering() const
{
    return m_filter == ViewFlags::AlarmsOnly;
}

size_t EventListModel::storageIndex(int row) const
{
    const size_t r = static_cast<size_t>(row);
    return filtering() ? m_visible[m_visible.size() - 1 - r] : m_records.size() - 1 - r;
}

int EventListModel::rowOfStorage(size_t index) const
{
    if (!filtering())
        return static_cast<int>(m_records.size() - 1 - index);
    const auto it = std::lower_bound(m_visible.begin(), m_visible.end(), index);
    if (it == m_visible.end() || *it != index)
        return -1;
    return static_cast<int>(m_visible.end() - it - 1);
}

void EventListModel::rebuildVisible()
{
    m_visible.clear();
    if (!filtering())
        return;
    const auto alarms = std::count_if(m_records.begin(), m_records.end(), [](const auto& r) { return r.isAlarm(); });
    m_visible.reserve(static_cast<size_t>(alarms));
    for (size_t i = 0; i < m_records.size(); ++i) {
        if (m_records[i].isAlarm())
            m_visible.push_back(static_cast<quint32>(i));
    }
}

void EventListModel::appendRecord(ChistoryRec&& record)
{
    const bool alarm = record.isAlarm();
    m_records.push_back(std::move(record));
    if (filtering() && alarm)
        m_visible.push_back(static_cast<quint32>(m_records.size() - 1));
}

void EventListModel::backgroundShifted(int first, int count)
{
    const int rows = rowCount();
    if (count % 2 != 0 && first < rows)
        emit dataChanged(index(first, 0), index(rows - 1, ColumnCount - 1), { Qt::BackgroundRole });
}

bool EventListModel::insertAtTop(const ChistoryRec& record)
{
    if (!isOfShownDay(record))
        return false;
    if (filtering() && !record.isAlarm()) {
        appendRecord(ChistoryRec(record));
        return false;
    }
    beginInsertRows({}, 0, 0);
    appendRecord(ChistoryRec(record));
    endInsertRows();
    backgroundShifted(1, 1);
    return true;
}

int EventListModel::insertEvents(std::vector<ChistoryRec> records)
{
    std::erase_if(records, [this](const ChistoryRec& r) { return !isOfShownDay(r); });
    if (records.empty())
        return 0;
    sortIntoStorage(records);
    const int shown = filtering()
        ? static_cast<int>(std::count_if(records.begin(), records.end(), [](const auto& r) { return r.isAlarm(); }))
        : static_cast<int>(records.size());
    if (shown > 0)
        beginInsertRows({}, 0, shown - 1);
    // Growth stays geometric: small batches arrive often (every poll of a server).
    if (const size_t needed = m_records.size() + records.size(); needed > m_records.capacity())
        m_records.reserve(std::max(needed, 2 * m_records.capacity()));
    for (ChistoryRec& r : records)
        appendRecord(std::move(r));
    if (shown > 0) {
        endInsertRows();
        backgroundShifted(shown, shown);
    }
    return shown;
}

int EventListModel::refreshRow(const ChistoryRec& record)
{
    for (size_t i = m_records.size(); i-- > 0;) {
        if (m_records[i] == record) {
            m_records[i] = record;
            CachedTexts& c = cached(i);
            c.valid = 0;
            c.refreshed = true;
            const int row = rowOfStorage(i);
            if (row >= 0)
                emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
            return row;
        }
    }
    return -1;
}

int EventListModel::findRow(const ChistoryRec& record) const
{
    const int rows = rowCount();
    for (int row = 0; row < rows; ++row) {
        if (m_records[storageIndex(row)] == record)
            return row;
    }
    return -1;
}

const ChistoryRec& EventListModel::recordAt(int row) const
{
    if (row < 0 || row >= rowCount())
        throw std::out_of_range("event list row out of range");
    return m_records[storageIndex(row)];
}

void EventListModel::setFilterIndex(int index)
{
    m_flags.setFilterIndex(index);
    if (index == m_filter)
        return;
    beginResetModel();
    m_filter = index;
    // Re-filtering shows the day afresh, so refreshed rows take the list's date form again.
    m_cache.clear();
    rebuildVisible();
    endResetModel();
}

void EventListModel::setUnitsRoentgen(bool roentgen)
{
    m_flags.setUnitsRoentgen(roentgen);
    if (roentgen == m_unitsRoentgen)
        return;
    m_unitsRoentgen = roentgen;
    for (auto& chunk : m_cache) {
        if (chunk) {
            for (CachedTexts& c : *chunk)
                c.valid &= static_cast<quint8>(~valueValid);
        }
    }
    if (const int rows = rowCount(); rows > 0)
        emit dataChanged(index(0, Value), index(rows - 1, Value), { Qt::DisplayRole });
}

int EventListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return static_cast<int>(filtering() ? m_visible.size() : m_records.size());
}

int EventListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

EventListModel::CachedTexts& EventListModel::cached(size_t index) const
{
    const size_t chunk = index / CacheBlock;
    if (m_cache.size() <= chunk)
        m_cache.resize(std::max(chunk + 1, m_records.size() / CacheBlock + 1));
    auto& block = m_cache[chunk];
    if (!block)
        block = std::make_unique<CacheChunk>();
    return (*block)[index % CacheBlock];
}

const QString& EventListModel::alarmTextOf(qint32 alarm) const
{
    const qint32 bits = alarm & alarmTextBits;
    auto it = m_alarmTexts.constFind(bits);
    if (it == m_alarmTexts.cend())
        it = m_alarmTexts.insert(bits, ChistoryRec::alarmText(bits));
    return *it;
}

QString EventListModel::cellText(size_t index, int column) const
{
    const ChistoryRec& r = m_records[index];
    switch (column) {
    case DateTime: {
        CachedTexts& c = cached(index);
        if (!(c.valid & dateValid)) {
            c.dateTime = LocalTime::format(r.hDateTime, c.refreshed ? "%Y-%m-%d %H:%M:%S" : "%H:%M:%S %d-%m-%Y");
            c.valid |= dateValid;
        }
        return c.dateTime;
    }
    case Mode:
        return r.hType >= 0 && static_cast<size_t>(r.hType) < m_typeTexts.size() ? m_typeTexts[r.hType]
                                                                                 : ChistoryRec::eventTypeText(r.hType);
    case Value: {
        CachedTexts& c = cached(index);
        if (!(c.valid & valueValid)) {
            c.value = r.valueText(m_unitsRoentgen);
            c.valid |= valueValid;
        }
        return c.value;
    }
    case Alarm:
        return alarmTextOf(r.hAlarm);
    case Comment: {
        CachedTexts& c = cached(index);
        if (!(c.valid & commentValid)) {
            c.comment = r.commentText();
            c.valid |= commentValid;
        }
        return c.comment;
    }
    default:
        return {};
    }
}

QVariant EventListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.model() != this || index.row() >= rowCount() || index.column() >= ColumnCount)
        return {};
    const size_t i = storageIndex(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return cellText(i, index.column());
    case Qt::ForegroundRole:
        // The whole row of an alarm is red.
        return m_records[i].isAlarm() ? QVariant(m_alarmBrush) : QVariant();
    case Qt::BackgroundRole:
        return index.row() % 2 != 0 ? QVariant(m_oddBrush) : QVariant();
    case KeyRole:
        return m_records[i].key();
    case RecordRole:
        return QVariant::fromValue(m_records[i]);
    default:
        return {};
    }
}

QVariant EventListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
    case DateTime:
        return tr("Date") + tr(" / %1").arg(tr("Time"));
    case Mode:
        return tr("Mode");
    case Value:
        return tr("Value");
    case Alarm:
        return tr("Alarm");
    case Comment:
        return tr("Comment");
    default:
        return {};
    }
}

Qt::ItemFlags EventListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

QHash<int, QByteArray> EventListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractTableModel::roleNames();
    names.insert(KeyRole, "key");
    names.insert(RecordRole, "record");
    return names;
}
