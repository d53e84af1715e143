#include "ui/kestradevview.h"

#include "document/kestradoc.h"
#include "history/historydb.h"
#include "history/localtime.h"
#include "models/instrumenttreemodel.h"
#include "ui/kestraview.h"
#include "ui/widgetmessenger.h"

#include <QContextMenuEvent>
#include <QMenu>

CKESTRADevView::CKESTRADevView(CKESTRADoc& doc, CKESTRAView& list, QWidget* parent)
    : QTreeView(parent)
    , m_doc(doc)
    , m_list(list)
    , m_model(new InstrumentTreeModel(this))
{
    setModel(m_model);
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    m_model->setConfirmDuplicateName(
        [this](const QString& identifier, const QString& name) { return confirmDuplicate(identifier, name); });
    connect(m_model, &InstrumentTreeModel::instrumentRenamed, this, &CKESTRADevView::storeName);
}

CKESTRADevView::~CKESTRADevView() = default;

void CKESTRADevView::rebuild()
{
    m_rebuilding = true;
    const CPagerList* list = m_doc.loadInstrumentList();
    if (!list) {
        m_rebuilding = false;
        return;
    }
    m_model->rebuild(*list);
    m_daySelected = m_instrumentSelected = false;
    m_list.showDay(QString(), QString());
    m_rebuilding = false;
    emit selectionStateChanged();
}

void CKESTRADevView::addInstrumentNode(const CPager& pager)
{
    m_model->addInstrument(pager);
}

void CKESTRADevView::addDayNode(const QString& pagerId, qint64 day)
{
    bool alarms = false;
    if (const CPager* pager = m_doc.pagers().find(pagerId)) {
        if (const auto key = LocalTime::dayKey(day)) {
            if (const auto it = pager->days().find(*key); it != pager->days().end())
                alarms = it->second.hasAlarms;
        }
    }
    m_model->addDay(pagerId, day, alarms);
}

void CKESTRADevView::databaseChanged()
{
    m_model->setRenameAllowed(m_doc.mainDatabaseShown());
}

void CKESTRADevView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTreeView::currentChanged(current, previous);
    if (m_rebuilding || m_model->rowCount() == 0)
        return;
    // A day is loaded with a job of its own; while another operation waits for its job the
    // selection is shown once that one has ended.
    const int serial = ++m_selectionSerial;
    const QPersistentModelIndex index(current);
    m_doc.whenIdle([this, serial, index] {
        if (serial == m_selectionSerial)
            select(index);
    });
}

void CKESTRADevView::select(const QModelIndex& index)
{
    if (!index.isValid()) {
        // Nothing selected (the tree was emptied or the selection taken away).
        m_daySelected = m_instrumentSelected = false;
        m_doc.state().setCurrentInstrument(QString());
        m_doc.state().setCurrentDate(0);
        m_list.showDay(QString(), QString());
        emit selectionStateChanged();
        return;
    }
    const InstrumentTreeModel::Target target = m_model->targetOf(index, m_doc.pagers());
    const QString dateText = target.day != 0 ? LocalTime::format(target.day, "%Y-%m-%d") : QString();
    m_daySelected = m_model->isDay(index);
    m_instrumentSelected = !m_daySelected;
    m_doc.state().setCurrentInstrument(target.identifier);
    m_doc.state().setCurrentDate(target.day);
    m_list.showDay(target.identifier, dateText);
    emit selectionStateChanged();
}

bool CKESTRADevView::confirmDuplicate(const QString&, const QString&)
{
    return WidgetMessenger::runBox(window(), tr("Operation confirmation"),
               tr("This name already exists. Do you want to rename?"), Messenger::Ok | Messenger::Cancel,
               Messenger::Icon::Question, Messenger::Cancel)
        == Messenger::Ok;
}

void CKESTRADevView::storeName(const QString& identifier, const QString& name)
{
    m_doc.renameInstrument(identifier, name);
}

QMenu* CKESTRADevView::contextMenuFor(const QModelIndex& index)
{
    const bool day = m_model->isDay(index);
    const bool main = m_doc.mainDatabaseShown();
    const bool remote = !m_doc.state().localMode.load();
    const bool idle = !m_doc.busy();
    auto* menu = new QMenu(this);
    QAction* rename = menu->addAction(tr("Re&name"), this, &CKESTRADevView::renameSelected);
    rename->setEnabled(main && !day);
    QAction* exportDay = menu->addAction(tr("&Export"), this, &CKESTRADevView::exportRequested);
    exportDay->setEnabled(day && idle);
    QAction* download = menu->addAction(tr("Download"), this, &CKESTRADevView::downloadRequested);
    download->setEnabled(main && remote && day && idle);
    return menu;
}

void CKESTRADevView::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex index = indexAt(event->pos());
    if (!index.isValid() || !visualRect(index).contains(event->pos()))
        return;
    setCurrentIndex(index);
    QMenu* menu = contextMenuFor(index);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->exec(event->globalPos());
}

void CKESTRADevView::renameSelected()
{
    const QModelIndex index = currentIndex();
    if (index.isValid() && !m_model->isDay(index) && m_doc.mainDatabaseShown() && !m_doc.busy())
        edit(index);
}

bool CKESTRADevView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    if (m_doc.busy() && trigger != QAbstractItemView::NoEditTriggers)
        return false;
    return QTreeView::edit(index, trigger, event);
}
