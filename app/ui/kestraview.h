#pragma once

#include "history/historyrec.h"

#include <QPersistentModelIndex>
#include <QTableView>

#include <vector>

class CKESTRADoc;
class EventListModel;

// The event list: the events of the current instrument's current day, newest first, in five
// columns whose widths keep their shares of the view's width. Rows are filled in bulk from
// the document's day; new events of that day come in as top rows.
class CKESTRAView final : public QTableView {
    Q_OBJECT
public:
    explicit CKESTRAView(CKESTRADoc& doc, QWidget* parent = nullptr);
    ~CKESTRAView() override;

    EventListModel& eventModel() const { return *m_model; }

    // Shows one day of an instrument; an empty date text or "1970-01-01" only clears the list.
    void showDay(const QString& pagerId, const QString& dateText);
    // A new event of the shown day as the top row; false when the filter hides it.
    bool insertEvent(const ChistoryRec& record, int row = 0);
    // New events of the shown day from one download, as one insertion.
    void insertEvents(const std::vector<ChistoryRec>& records);
    int findRow(const ChistoryRec& record) const;
    // A record whose comment changed elsewhere; its row shows the new text.
    void refreshEvent(const ChistoryRec& record);
    // The rows from top to bottom, as printed.
    std::vector<ChistoryRec> rowsInViewOrder() const;

    // The row of the event the person chose (by mouse or keyboard), -1 when none. It follows
    // its event when new events come in as top rows.
    int chosenRow() const { return m_chosen.isValid() ? m_chosen.row() : -1; }
    bool eventSelected() const;
    // Selects a row and shows it, as a click on it does (the chart's points choose rows so).
    void chooseRow(int row);
    // Edits the comment of the chosen event; false when nothing changed.
    bool editComment();

signals:
    // A row was clicked or the list was refilled: whether a row is selected now.
    void eventSelectionChanged(bool selected);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void setColumnWidths();
    void rowChosen(const QModelIndex& index);
    void rowDoubleClicked(const QModelIndex& index);
    void listRefilled();

    CKESTRADoc& m_doc;
    EventListModel* m_model;
    // The chosen event's row, kept by the model across insertions; never a bare row number.
    QPersistentModelIndex m_chosen;
};
