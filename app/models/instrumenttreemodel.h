#pragma once

#include <QAbstractItemModel>
#include <QBrush>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class CPager;
class CPagerList;

// Instruments and, under each, the days on which it has events. The model copies what it
// shows (identifiers, names, day keys, alarm marks) from the document's instrument list, so it
// never points into that list; the document tells it what changed.
class InstrumentTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Role {
        IdentifierRole = Qt::UserRole, // the instrument's identifier, on both kinds of node
        DayRole, // day node: local midnight of the day (qint64)
        DayNumberRole, // day node: year * 10000 + month * 100 + day
        InstrumentIndexRole, // the instrument's position in the document's list
    };

    // Asked before a rename to a name that another instrument already carries; true renames.
    using ConfirmDuplicateName = std::function<bool(const QString& identifier, const QString& name)>;

    // What selecting a node shows in the event list.
    struct Target {
        QString identifier;
        qint64 day = 0; // 0 for an instrument node
    };
    // The identifier of a node whose instrument the document no longer holds.
    static QString errorIdentifier() { return QStringLiteral("<error>"); }

    explicit InstrumentTreeModel(QObject* parent = nullptr);
    ~InstrumentTreeModel() override;

    // Rebuilds every node from the list, in one reset: instruments in list order, each with
    // its days sorted by their "%d-%m-%Y" texts.
    void rebuild(const CPagerList& list);
    void clear();
    // A new instrument as the first node, with the days it already has. Returns its index;
    // an instrument already shown is not added twice.
    QModelIndex addInstrument(const CPager& pager);
    // A new day as the first node under its instrument; nothing when the instrument is not
    // shown. A day already shown is not added twice. Returns the day's index.
    QModelIndex addDay(const QString& identifier, qint64 day, bool hasAlarms = false);
    // Marks a day with alarms (red) or clears the mark.
    void setDayAlarm(const QString& identifier, qint64 day, bool hasAlarms);

    // The node of an instrument, or of one of its days when day is not 0 (any moment of it).
    QModelIndex indexOf(const QString& identifier, qint64 day = 0) const;
    bool isDay(const QModelIndex& index) const;
    // The instrument and day that selecting the node shows. An instrument that the list no
    // longer holds gives errorIdentifier() and no day, so the event list stays empty.
    Target targetOf(const QModelIndex& index, const CPagerList& list) const;

    // Renaming in place (setData on an instrument node) is allowed only while the main
    // database is shown.
    void setRenameAllowed(bool allowed) { m_renameAllowed = allowed; }
    bool renameAllowed() const { return m_renameAllowed; }
    // Without a handler a rename to a name already in use is refused.
    void setConfirmDuplicateName(ConfirmDuplicateName confirm) { m_confirmDuplicate = std::move(confirm); }

    // Day number of a day key; a part that cannot be converted counts 0.
    static int dayNumber(qint64 day);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    // An instrument node was renamed; the document stores the name (instrument, name table,
    // database).
    void instrumentRenamed(const QString& identifier, const QString& name);

private:
    struct DayNode {
        qint64 key = 0;
        QString label; // "%d-%m-%Y"
        int number = 0;
        bool hasAlarms = false;
    };
    struct InstrumentNode {
        QString identifier;
        QString name;
        int listIndex = -1;
        int row = 0;
        std::vector<DayNode> days;
        QString displayName() const { return name.isEmpty() ? identifier : name; }
    };

    static DayNode makeDay(qint64 key, bool hasAlarms);
    static std::unique_ptr<InstrumentNode> makeInstrument(const CPager& pager, int listIndex);
    InstrumentNode* instrumentOf(const QModelIndex& index) const;
    InstrumentNode* findInstrument(const QString& identifier) const;
    void renumber();
    // Whether the name table gives the name to a shown instrument (the renamed one included).
    bool nameInUse(const QString& name) const;

    // Day nodes carry their instrument node as internal pointer; instrument nodes carry none.
    std::vector<std::unique_ptr<InstrumentNode>> m_instruments;
    std::map<QString, QString> m_nameTable;
    bool m_renameAllowed = true;
    ConfirmDuplicateName m_confirmDuplicate;
    QBrush m_alarmBrush;
};
