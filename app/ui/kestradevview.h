#pragma once

#include <QTreeView>

class CKESTRADoc;
class CKESTRAView;
class CPager;
class InstrumentTreeModel;
class QMenu;

// The instrument tree: one node per instrument and, under it, one per day with events (red
// when the day had alarms). Selecting a node makes its instrument and day current and shows
// the day in the event list; instrument nodes can be renamed in place.
class CKESTRADevView final : public QTreeView {
    Q_OBJECT
public:
    CKESTRADevView(CKESTRADoc& doc, CKESTRAView& list, QWidget* parent = nullptr);
    ~CKESTRADevView() override;

    InstrumentTreeModel& treeModel() const { return *m_model; }

    // Loads the instrument list and rebuilds every node; the event list is cleared. A list
    // that cannot be loaded leaves the tree as it was.
    void rebuild();
    void addInstrumentNode(const CPager& pager);
    void addDayNode(const QString& pagerId, qint64 day);
    // Follows the main/archive state: renaming only on the main database.
    void databaseChanged();

    bool daySelected() const { return m_daySelected; }
    bool instrumentSelected() const { return m_instrumentSelected; }

    // The context menu of a node with its items enabled as they apply; the caller owns it.
    QMenu* contextMenuFor(const QModelIndex& index);
    using QTreeView::edit;
    // Starts renaming the selected instrument node in place.
    void renameSelected();

signals:
    // The selection changed what the event list shows.
    void selectionStateChanged();
    void exportRequested();
    void downloadRequested();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    // No renaming while a document operation waits for its job: the name goes to the store.
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;

private:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void select(const QModelIndex& index);
    bool confirmDuplicate(const QString& identifier, const QString& name);
    void storeName(const QString& identifier, const QString& name);

    CKESTRADoc& m_doc;
    CKESTRAView& m_list;
    InstrumentTreeModel* m_model;
    bool m_rebuilding = false;
    bool m_daySelected = false;
    bool m_instrumentSelected = false;
    int m_selectionSerial = 0; // a deferred selection shows only if no newer one came
};
