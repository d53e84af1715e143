#include "ui/dialogs/enternewpassword.h"

#include "config/password.h"
#include "config/programconfig.h"
#include "history/messenger.h"
#include "ui/dialogs/dialogtexts.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CEnterNewPassword::CEnterNewPassword(ProgramConfig& config, Messenger& messenger, QWidget* parent)
    : QDialog(parent)
    , m_config(config)
    , m_messenger(messenger)
    , m_new(new QLineEdit(this))
    , m_confirm(new QLineEdit(this))
{
    setWindowTitle(tr("New password"));
    m_new->setEchoMode(QLineEdit::Password);
    m_confirm->setEchoMode(QLineEdit::Password);

    auto* form = new QFormLayout;
    form->addRow(new QLabel(tr("Enter new password:"), this), m_new);
    form->addRow(new QLabel(tr("Confirm new password:"), this), m_confirm);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &CEnterNewPassword::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CEnterNewPassword::reject);
    connect(m_new, &QLineEdit::textChanged, this, &CEnterNewPassword::updateOk);
    connect(m_confirm, &QLineEdit::textChanged, this, &CEnterNewPassword::updateOk);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setMinimumWidth(340);
    m_new->setFocus();
}

void CEnterNewPassword::updateOk()
{
    m_ok->setEnabled(Password::newPasswordAcceptable(m_new->text(), m_confirm->text()));
}

void CEnterNewPassword::accept()
{
    // Enter in an edit reaches here even while OK is disabled.
    QString error;
    if (!Password::newPasswordAcceptable(m_new->text(), m_confirm->text())) {
        m_messenger.tell(tr("Error!"), tr("Error: Incorrect password!"), Messenger::Icon::Error);
        reject();
        return;
    }
    if (!Password::storeNewPassword(m_config, m_new->text(), &error)) {
        // The digest is in the configuration but the file could not be written: say so rather
        // than claim success.
        m_messenger.tell(tr("Error!"), error, Messenger::Icon::Error);
        reject();
        return;
    }
    m_messenger.tell(applicationName(), tr("Password has been changed successfully!"), Messenger::Icon::Information);
    QDialog::accept();
}
