#include "models/instrumenttreemodel.h"

#include "history/localtime.h"
#include "history/pagerlist.h"

#include <QColor>

#include <algorithm>
#include <stdexcept>

InstrumentTreeModel::InstrumentTreeModel(QObject* parent)
    : QAbstractItemModel(parent)
    , m_alarmBrush(QColor(255, 0, 0))
{
}

InstrumentTreeModel::~InstrumentTreeModel() = default;

int InstrumentTreeModel::dayNumber(qint64 day)
{
    const auto tm = LocalTime::toLocal(day);
    if (!tm)
        return 0;
    return (tm->tm_year + 1900) * 10000 + (tm->tm_mon + 1) * 100 + tm->tm_mday;
}

InstrumentTreeModel::DayNode InstrumentTreeModel::makeDay(qint64 key, bool hasAlarms)
{
    return DayNode { key, LocalTime::format(key, "%d-%m-%Y"), dayNumber(key), hasAlarms };
}

std::unique_ptr<InstrumentTreeModel::InstrumentNode> InstrumentTreeModel::makeInstrument(
    const CPager& pager, int listIndex)
{
    auto node = std::make_unique<InstrumentNode>();
    node->identifier = pager.identifier();
    node->name = pager.name();
    node->listIndex = listIndex;
    node->days.reserve(pager.days().size());
    for (const auto& [key, list] : pager.days())
        node->days.push_back(makeDay(key, list.hasAlarms));
    // By text, so the day of the month decides first, as the day labels have always sorted.
    std::stable_sort(
        node->days.begin(), node->days.end(), [](const DayNode& a, const DayNode& b) { return a.label < b.label; });
    return node;
}

void InstrumentTreeModel::rebuild(const CPagerList& list)
{
    beginResetModel();
    m_instruments.clear();
    m_nameTable = list.nameTable();
    m_instruments.reserve(static_cast<size_t>(list.count()));
    for (int i = 0; i < list.count(); ++i)
        m_instruments.push_back(makeInstrument(*list.instrumentAt(i), i));
    renumber();
    endResetModel();
}

void InstrumentTreeModel::clear()
{
    beginResetModel();
    m_instruments.clear();
    m_nameTable.clear();
    endResetModel();
}

void InstrumentTreeModel::renumber()
{
    for (size_t i = 0; i < m_instruments.size(); ++i)
        m_instruments[i]->row = static_cast<int>(i);
}

QModelIndex InstrumentTreeModel::addInstrument(const CPager& pager)
{
    if (InstrumentNode* node = findInstrument(pager.identifier()))
        return createIndex(node->row, 0, nullptr);
    auto node = makeInstrument(pager, pager.index());
    // The name table gives names; an instrument's own name stands for its entry.
    if (!node->name.isEmpty() && node->name != node->identifier)
        m_nameTable[node->identifier] = node->name;
    beginInsertRows({}, 0, 0);
    m_instruments.insert(m_instruments.begin(), std::move(node));
    renumber();
    endInsertRows();
    return createIndex(0, 0, nullptr);
}

QModelIndex InstrumentTreeModel::addDay(const QString& identifier, qint64 day, bool hasAlarms)
{
    InstrumentNode* node = findInstrument(identifier);
    if (!node)
        return {};
    const QModelIndex existing = indexOf(identifier, day);
    if (existing.isValid())
        return existing;
    const std::optional<qint64> key = LocalTime::dayKey(day);
    if (!key)
        return {};
    beginInsertRows(createIndex(node->row, 0, nullptr), 0, 0);
    node->days.insert(node->days.begin(), makeDay(*key, hasAlarms));
    endInsertRows();
    return createIndex(0, 0, node);
}

void InstrumentTreeModel::setDayAlarm(const QString& identifier, qint64 day, bool hasAlarms)
{
    const QModelIndex index = indexOf(identifier, day);
    if (!index.isValid())
        return;
    DayNode& node = instrumentOf(index)->days[static_cast<size_t>(index.row())];
    if (node.hasAlarms == hasAlarms)
        return;
    node.hasAlarms = hasAlarms;
    emit dataChanged(index, index, { Qt::ForegroundRole });
}

InstrumentTreeModel::InstrumentNode* InstrumentTreeModel::findInstrument(const QString& identifier) const
{
    for (const auto& node : m_instruments) {
        if (node->identifier == identifier)
            return node.get();
    }
    return nullptr;
}

QModelIndex InstrumentTreeModel::indexOf(const QString& identifier, qint64 day) const
{
    InstrumentNode* node = findInstrument(identifier);
    if (!node)
        return {};
    if (day == 0)
        return createIndex(node->row, 0, nullptr);
    const int number = dayNumber(day);
    for (size_t i = 0; i < node->days.size(); ++i) {
        if (node->days[i].number == number)
            return createIndex(static_cast<int>(i), 0, node);
    }
    return {};
}

bool InstrumentTreeModel::isDay(const QModelIndex& index) const
{
    return index.isValid() && index.model() == this && index.internalPointer() != nullptr;
}

InstrumentTreeModel::InstrumentNode* InstrumentTreeModel::instrumentOf(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    if (index.internalPointer())
        return static_cast<InstrumentNode*>(index.internalPointer());
    const size_t row = static_cast<size_t>(index.row());
    return row < m_instruments.size() ? m_instruments[row].get() : nullptr;
}

InstrumentTreeModel::Target InstrumentTreeModel::targetOf(const QModelIndex& index, const CPagerList& list) const
{
    const InstrumentNode* node = instrumentOf(index);
    if (!node || !list.contains(node->identifier))
        return { errorIdentifier(), 0 };
    if (!isDay(index))
        return { node->identifier, 0 };
    return { node->identifier, node->days[static_cast<size_t>(index.row())].key };
}

bool InstrumentTreeModel::nameInUse(const QString& name) const
{
    // The first table entry with the name decides, and only when its instrument is shown.
    for (const auto& [identifier, entry] : m_nameTable) {
        if (entry == name)
            return findInstrument(identifier) != nullptr;
    }
    return false;
}

QModelIndex InstrumentTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column != 0)
        return {};
    if (!parent.isValid())
        return static_cast<size_t>(row) < m_instruments.size() ? createIndex(row, 0, nullptr) : QModelIndex();
    if (isDay(parent) || parent.column() != 0)
        return {};
    InstrumentNode* node = instrumentOf(parent);
    if (!node || static_cast<size_t>(row) >= node->days.size())
        return {};
    return createIndex(row, 0, node);
}

QModelIndex InstrumentTreeModel::parent(const QModelIndex& child) const
{
    if (!isDay(child))
        return {};
    return createIndex(static_cast<InstrumentNode*>(child.internalPointer())->row, 0, nullptr);
}

int InstrumentTreeModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return static_cast<int>(m_instruments.size());
    if (parent.column() != 0 || isDay(parent))
        return 0;
    const InstrumentNode* node = instrumentOf(parent);
    return node ? static_cast<int>(node->days.size()) : 0;
}

int InstrumentTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant InstrumentTreeModel::data(const QModelIndex& index, int role) const
{
    const InstrumentNode* node = instrumentOf(index);
    if (!node || index.column() != 0)
        return {};
    const DayNode* day = nullptr;
    if (isDay(index)) {
        if (static_cast<size_t>(index.row()) >= node->days.size())
            return {};
        day = &node->days[static_cast<size_t>(index.row())];
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return day ? day->label : node->displayName();
    case Qt::ToolTipRole: {
        if (day)
            return {};
        const QString display = node->displayName();
        return display == node->identifier ? node->identifier : node->identifier + QStringLiteral(" (%1)").arg(display);
    }
    case Qt::ForegroundRole:
        return day && day->hasAlarms ? QVariant(m_alarmBrush) : QVariant();
    case IdentifierRole:
        return node->identifier;
    case DayRole:
        return day ? QVariant(day->key) : QVariant();
    case DayNumberRole:
        return day ? QVariant(day->number) : QVariant();
    case InstrumentIndexRole:
        return node->listIndex;
    default:
        return {};
    }
}

bool InstrumentTreeModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !m_renameAllowed || isDay(index))
        return false;
    InstrumentNode* node = instrumentOf(index);
    if (!node)
        return false;
    const QString name = value.toString();
    // An edit that changes nothing (Enter on the old text) asks nothing and stores nothing.
    if (name == node->displayName())
        return true;
    if (nameInUse(name) && !(m_confirmDuplicate && m_confirmDuplicate(node->identifier, name)))
        return false;
    node->name = name;
    m_nameTable[node->identifier] = name;
    emit dataChanged(index, index, { Qt::DisplayRole, Qt::EditRole, Qt::ToolTipRole });
    emit instrumentRenamed(node->identifier, name);
    return true;
}

Qt::ItemFlags InstrumentTreeModel::flags(const QModelIndex& index) const
{
    if (!instrumentOf(index))
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (isDay(index))
        f |= Qt::ItemNeverHasChildren;
    else if (m_renameAllowed)
        f |= Qt::ItemIsEditable;
    return f;
}

QHash<int, QByteArray> InstrumentTreeModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractItemModel::roleNames();
    names.insert(IdentifierRole, "identifier");
    names.insert(DayRole, "day");
    names.insert(DayNumberRole, "dayNumber");
    names.insert(InstrumentIndexRole, "instrumentIndex");
    return names;
}
