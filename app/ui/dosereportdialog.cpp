#include "ui/dosereportdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

CDoseReportDialog::CDoseReportDialog(const QString& instrument, QDate last, bool canReadThresholds, QWidget* parent)
    : QDialog(parent)
    , m_from(new QDateEdit(this))
    , m_to(new QDateEdit(this))
    , m_paper(new QComboBox(this))
    , m_thresholds(new QCheckBox(tr("Read the thresholds from the attached instrument"), this))
{
    setWindowTitle(tr("Dose Report"));
    for (QDateEdit* edit : { m_from, m_to }) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    if (!last.isValid())
        last = QDate::currentDate();
    m_to->setDate(last);
    m_from->setDate(last.addDays(-30));
    // The span cannot be turned round.
    connect(m_from, &QDateEdit::dateChanged, this, [this](QDate d) { m_to->setMinimumDate(d); });
    m_to->setMinimumDate(m_from->date());

    m_paper->addItem(QStringLiteral("A4"), int(QPageSize::A4));
    m_paper->addItem(QStringLiteral("Letter"), int(QPageSize::Letter));
    if (QLocale::system().measurementSystem() == QLocale::ImperialUSSystem)
        m_paper->setCurrentIndex(1);
    m_thresholds->setEnabled(canReadThresholds);
    m_thresholds->setChecked(canReadThresholds);

    auto* form = new QFormLayout;
    form->addRow(tr("Instrument:"), new QLabel(instrument, this));
    form->addRow(tr("From:"), m_from);
    form->addRow(tr("To:"), m_to);
    form->addRow(tr("Paper:"), m_paper);
    form->addRow(m_thresholds);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton* preview = buttons->addButton(tr("Print Pre&view..."), QDialogButtonBox::AcceptRole);
    QPushButton* pdf = buttons->addButton(tr("Save as &PDF..."), QDialogButtonBox::AcceptRole);
    preview->setObjectName(QStringLiteral("preview"));
    pdf->setObjectName(QStringLiteral("pdf"));
    preview->setDefault(true);
    connect(preview, &QPushButton::clicked, this, [this] { finish(Preview); });
    connect(pdf, &QPushButton::clicked, this, [this] { finish(SavePdf); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void CDoseReportDialog::finish(Action action)
{
    m_action = action;
    accept();
}

QDate CDoseReportDialog::from() const
{
    return m_from->date();
}

QDate CDoseReportDialog::to() const
{
    return m_to->date();
}

QPageSize::PageSizeId CDoseReportDialog::pageSize() const
{
    return static_cast<QPageSize::PageSizeId>(m_paper->currentData().toInt());
}

bool CDoseReportDialog::readThresholds() const
{
    return m_thresholds->isEnabled() && m_thresholds->isChecked();
}
