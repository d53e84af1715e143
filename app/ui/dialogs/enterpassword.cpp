#include "ui/dialogs/enterpassword.h"

#include "config/password.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

CEnterPassword::CEnterPassword(QWidget* parent)
    : QDialog(parent)
    , m_edit(new QLineEdit(this))
{
    setWindowTitle(tr("Authorization check"));
    m_edit->setEchoMode(QLineEdit::Password);
    m_edit->setObjectName(QStringLiteral("password"));

    auto* form = new QFormLayout;
    form->addRow(new QLabel(tr("Password:"), this), m_edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CEnterPassword::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CEnterPassword::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setMinimumWidth(280);
    m_edit->setFocus();
}

void CEnterPassword::accept()
{
    m_value = Password::promptValue(m_edit->text());
    QDialog::accept();
}
