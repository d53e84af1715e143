#include "ui/dialogs/addserver.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

CAddServer::CAddServer(QWidget* parent)
    : QDialog(parent)
    , m_edit(new QLineEdit(this))
{
    setWindowTitle(tr("Add Server"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAddServer::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CAddServer::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Enter server name: <servername>:<port>"), this));
    layout->addWidget(m_edit);
    layout->addWidget(buttons);
    setMinimumWidth(320);
    m_edit->setFocus();
}

QString CAddServer::text() const
{
    return m_edit->text();
}
