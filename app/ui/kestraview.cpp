#include "ui/kestraview.h"

#include "document/kestradoc.h"
#include "history/localtime.h"
#include "history/messenger.h"
#include "history/querymode.h"
#include "history/viewflags.h"
#include "models/eventlistmodel.h"
#include "ui/editcomment.h"

#include <QHeaderView>
#include <QResizeEvent>

CKESTRAView::CKESTRAView(CKESTRADoc& doc, QWidget* parent)
    : QTableView(parent)
    , m_doc(doc)
    , m_model(new EventListModel(doc.context().viewFlags(), this))
{
    setModel(m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalHeader()->hide();
    // Rows of one text line; the default section size would leave them twice as tall.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // A row is chosen by a click or by the keyboard, whichever moves the current row.
    connect(this, &QAbstractItemView::clicked, this, &CKESTRAView::rowChosen);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& current) { rowChosen(current); });
    connect(this, &QAbstractItemView::doubleClicked, this, &CKESTRAView::rowDoubleClicked);
    connect(m_model, &QAbstractItemModel::modelReset, this, &CKESTRAView::listRefilled);
    connect(&m_doc, &CKESTRADoc::unitsChanged, m_model, &EventListModel::setUnitsRoentgen);
}

CKESTRAView::~CKESTRAView() = default;

void CKESTRAView::setColumnWidths()
{
    const int width = viewport()->width();
    for (int c = 0; c < EventListModel::ColumnCount; ++c)
        setColumnWidth(c, EventListModel::columnWidth(static_cast<EventListModel::Column>(c), width));
}

void CKESTRAView::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    setColumnWidths();
}

void CKESTRAView::showEvent(QShowEvent* event)
{
    QTableView::showEvent(event);
    setColumnWidths();
}

void CKESTRAView::showDay(const QString& pagerId, const QString& dateText)
{
    m_model->clear();
    if (dateText.isEmpty() || dateText == u"1970-01-01")
        return;
    qint64 day = 0;
    try {
        day = CPager::parseDayText(dateText);
    } catch (const std::exception&) {
        return;
    }
    const CHistoryList* list = m_doc.dayEvents(pagerId, day, QueryMode::AllEvents);
    // The units are what the document knows; the instrument is not asked on this thread.
    m_model->setUnitsRoentgen(m_doc.context().viewFlags().unitsRoentgen());
    if (!list)
        return;
    // The rows are filled in one go; the bar shows for the copy and the sort of a long day.
    Messenger& messenger = m_doc.messenger();
    const qsizetype n = list->size();
    messenger.progressStart(tr("Progress"), static_cast<int>(std::max<qsizetype>(1, n / 10)));
    m_model->showDay(pagerId, day, *list);
    messenger.progressStep();
    messenger.progressStop();
}

bool CKESTRAView::insertEvent(const ChistoryRec& record, int row)
{
    // New events only ever arrive at the top; a row index other than 0 is an insertion into
    // a list that is being filled, which the model does in bulk.
    Q_UNUSED(row);
    return m_model->insertAtTop(record);
}

void CKESTRAView::insertEvents(const std::vector<ChistoryRec>& records)
{
    m_model->insertEvents(records);
}

int CKESTRAView::findRow(const ChistoryRec& record) const
{
    return m_model->findRow(record);
}

void CKESTRAView::refreshEvent(const ChistoryRec& record)
{
    m_model->refreshRow(record);
}

std::vector<ChistoryRec> CKESTRAView::rowsInViewOrder() const
{
    std::vector<ChistoryRec> rows;
    const int n = m_model->rowCount();
    rows.reserve(static_cast<size_t>(n));
    for (int r = 0; r < n; ++r)
        rows.push_back(m_model->recordAt(r));
    return rows;
}

bool CKESTRAView::eventSelected() const
{
    return selectionModel() && selectionModel()->hasSelection();
}

void CKESTRAView::rowChosen(const QModelIndex& index)
{
    if (!m_doc.mainDatabaseShown())
        return;
    m_chosen = index.isValid() ? QPersistentModelIndex(m_model->index(index.row(), 0)) : QPersistentModelIndex();
    emit eventSelectionChanged(eventSelected());
}

void CKESTRAView::chooseRow(int row)
{
    const QModelIndex index = m_model->index(row, 0);
    if (!index.isValid())
        return;
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
    rowChosen(index);
}

void CKESTRAView::rowDoubleClicked(const QModelIndex& index)
{
    if (!m_doc.mainDatabaseShown() || !index.isValid())
        return;
    rowChosen(index);
    editComment();
}

bool CKESTRAView::editComment()
{
    // The comment goes to the store (or the server): not while an operation waits for its job.
    const int row = chosenRow();
    if (row < 0 || !m_doc.mainDatabaseShown() || m_doc.busy())
        return false;
    // The event itself is kept, not its row: events that arrive while the dialog is open push
    // the rows down.
    ChistoryRec record = m_model->recordAt(row);
    CEditComment dialog(record.hComment, this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    record.hComment = dialog.comment();
    // The document stores it, keeps it in its copy and refreshes the row; a comment the store
    // did not take stays off the list too (the document said why).
    return m_doc.updateComment(record);
}

void CKESTRAView::listRefilled()
{
    m_chosen = QPersistentModelIndex();
    emit eventSelectionChanged(false);
}
