#include "ui/editcomment.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QVBoxLayout>

CEditComment::CEditComment(const QString& comment, QWidget* parent)
    : QDialog(parent)
    , m_edit(new QLineEdit(this))
{
    setWindowTitle(tr("Edit comment to selected event"));
    m_edit->setMaxLength(MaxLength);
    // A comment stored with line breaks (imported, or from another program) is edited on one line.
    m_edit->setText(QString(comment).replace(u'\r', QString()).replace(u'\n', u' '));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_edit);
    layout->addWidget(buttons);
    setMinimumWidth(420);
    m_edit->setFocus();
    m_edit->selectAll();
}

QString CEditComment::comment() const
{
    return m_edit->text();
}
