#pragma once

#include <QDate>
#include <QDialog>
#include <QPageSize>

class QCheckBox;
class QComboBox;
class QDateEdit;

// Asks for the span of a dose report and what to do with it: look at it (and print it from
// the preview) or save it as PDF on A4 or Letter.
class CDoseReportDialog : public QDialog {
    Q_OBJECT
public:
    enum Action { Preview = 1, SavePdf = 2 };

    // canReadThresholds: an instrument answers, so its thresholds can be read for the report.
    CDoseReportDialog(const QString& instrument, QDate last, bool canReadThresholds, QWidget* parent = nullptr);

    QDate from() const;
    QDate to() const;
    QPageSize::PageSizeId pageSize() const;
    bool readThresholds() const;
    // Preview or SavePdf after exec() returned Accepted.
    Action action() const { return m_action; }

    QDateEdit* fromEdit() const { return m_from; }
    QDateEdit* toEdit() const { return m_to; }

private:
    void finish(Action action);

    QDateEdit* m_from;
    QDateEdit* m_to;
    QComboBox* m_paper;
    QCheckBox* m_thresholds;
    Action m_action = Preview;
};
