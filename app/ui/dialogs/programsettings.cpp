#include "ui/dialogs/programsettings.h"

#include "config/password.h"
#include "config/programconfig.h"
#include "document/kestradoc.h"
#include "history/messenger.h"
#include "history/storeaddress.h"
#include "remote/remoteprotocol.h"
#include "ui/dialogs/addserver.h"
#include "ui/dialogs/dialogtexts.h"
#include "ui/dialogs/enternewpassword.h"
#include "ui/dialogs/enterpassword.h"
#include "ui/dialogs/intervalspinbox.h"
#include "ui/dialogs/numbertext.h"
#include "web/stationweb.h"

#include <QCheckBox>
#include <QCollator>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int MinInterval = 60;
constexpr int MaxInterval = 30000;
constexpr int PortNameRole = Qt::UserRole;

} // namespace

CProgramSettings::CProgramSettings(
    ProgramConfig& config, Messenger& messenger, CKESTRADoc* doc, const PortDiscovery& discovery, QWidget* parent)
    : QDialog(parent)
    , m_config(config)
    , m_messenger(messenger)
    , m_doc(doc)
    , m_discovery(discovery)
{
    buildControls();

    // The ports, then the configured one selected.
    fillPorts();
    selectPort(m_config.port);
    m_autoDetect->setChecked(m_config.autoDetect);

    m_interval->setValue(m_config.downloadingInterval);

    m_localMode = m_config.localMode;
    m_serverList->addItems(m_config.servers);
    m_selectedServer->setText(m_config.remoteServer);
    m_serverPort->setText(QString::number(m_config.serverPort));
    m_webServer->setText(m_config.webServer);
    m_operateServer->setChecked(m_config.operateAsServer);

    m_language->setCurrentIndex(m_config.language == 1 ? 1 : 0);
    m_archiving->setCurrentIndex(
        m_config.archivingInterval >= 0 && m_config.archivingInterval <= 12 ? m_config.archivingInterval : -1);
    m_database->setText(m_config.databasePath);

    updateEnabling();

    if (m_config.autoDetect) {
        // The document's port question counts: the person hears of a missing port once.
        if (!detectBridge(!m_doc || !m_doc->portQuestionAsked()) && m_doc)
            m_doc->setPortQuestionAsked();
        updateEnabling();
    }
    updatePortAdvice();
    updateServerAdvice();
    m_ok->setFocus();
}

void CProgramSettings::buildControls()
{
    setWindowTitle(tr("Program Settings"));

    // Local mode.
    m_localGroup = new QGroupBox(tr("Local Mode Settings"), this);
    m_selectLocal = new QCheckBox(tr("Select &Local Mode"), this);
    m_portLabel = new QLabel(tr("COM Port:"), this);
    m_portList = new QComboBox(this);
    m_portList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_portList->setMinimumContentsLength(28);
    m_portLabel->setBuddy(m_portList);
    m_autoDetect = new QCheckBox(tr("Auto &detect"), this);
    m_operateServer = new QCheckBox(tr("Operate as server"), this);
    m_serverPortLabel = new QLabel(tr("Port:"), this);
    m_serverPort = new QLineEdit(this);
    m_serverPort->setMaximumWidth(90);
    m_serverPortLabel->setBuddy(m_serverPort);
    m_webServerLabel = new QLabel(tr("&Web page:"), this);
    m_webServer = new QLineEdit(this);
    m_webServer->setMaxLength(64);
    m_webServer->setPlaceholderText(tr("[address:]port; empty: none"));
    m_webServer->setToolTip(tr("A read-only web page, JSON and Prometheus metrics of this station, on this "
                               "computer only unless an address is given"));
    m_webServerLabel->setBuddy(m_webServer);
    m_portAdvice = new QLabel(this);
    m_portAdvice->setWordWrap(true);
    m_portAdvice->setStyleSheet(QStringLiteral("color: #b00000"));
    m_portAdvice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_portAdvice->hide();
    m_serverAdvice = new QLabel(this);
    m_serverAdvice->setWordWrap(true);
    m_serverAdvice->setStyleSheet(QStringLiteral("color: #b00000"));
    m_serverAdvice->hide();

    auto* local = new QGridLayout(m_localGroup);
    local->addWidget(m_selectLocal, 0, 0, 1, 3);
    local->addWidget(m_portLabel, 1, 0);
    local->addWidget(m_portList, 1, 1, 1, 2);
    local->addWidget(m_autoDetect, 2, 1, 1, 2);
    local->addWidget(m_portAdvice, 3, 0, 1, 3);
    local->addWidget(m_operateServer, 4, 0, 1, 3);
    local->addWidget(m_serverPortLabel, 5, 0);
    local->addWidget(m_serverPort, 5, 1);
    local->addWidget(m_webServerLabel, 6, 0);
    local->addWidget(m_webServer, 6, 1, 1, 2);
    local->addWidget(m_serverAdvice, 7, 0, 1, 3);
    local->setColumnStretch(2, 1);
    local->setRowStretch(8, 1);

    // Remote mode.
    m_remoteGroup = new QGroupBox(tr("Remote Mode Settings"), this);
    m_selectRemote = new QCheckBox(tr("Select &Remote Mode"), this);
    m_serverList = new QListWidget(this);
    m_serverList->setSortingEnabled(true);
    m_serverList->setMinimumHeight(80);
    m_add = new QPushButton(tr("&Add Computer"), this);
    m_remove = new QPushButton(tr("&Delete Computer"), this);
    m_select = new QPushButton(tr("&Select Computer"), this);
    m_selectedServer = new QLineEdit(this);
    m_selectedServer->setReadOnly(true);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_add);
    buttons->addWidget(m_remove);
    buttons->addWidget(m_select);
    buttons->addStretch();
    auto* remote = new QGridLayout(m_remoteGroup);
    remote->addWidget(m_selectRemote, 0, 0, 1, 2);
    remote->addWidget(m_serverList, 1, 0);
    remote->addLayout(buttons, 1, 1);
    remote->addWidget(m_selectedServer, 2, 0, 1, 2);

    // Other settings.
    auto* other = new QGroupBox(tr("Other settings"), this);
    m_interval = new IntervalSpinBox(MinInterval, MaxInterval, this);
    m_interval->setMinimumWidth(90);
    m_language = new QComboBox(this);
    m_language->addItems({ tr("English"), tr("Russian") });
    m_archiving = new QComboBox(this);
    m_archiving->addItems(archivingChoices());
    m_changePassword = new QPushButton(tr("Change password"), this);

    auto* others = new QGridLayout(other);
    others->addWidget(new QLabel(tr("History downloading interval"), this), 0, 0);
    others->addWidget(m_interval, 0, 1);
    others->addWidget(new QLabel(tr("(60-30000) ") + tr("sec."), this), 0, 2);
    others->addWidget(new QLabel(tr("Language"), this), 1, 0);
    others->addWidget(m_language, 1, 1, 1, 2);
    others->addWidget(new QLabel(tr("Auto archiving interval"), this), 2, 0);
    others->addWidget(m_archiving, 2, 1, 1, 2);
    m_database = new QLineEdit(this);
    m_database->setPlaceholderText(QStringLiteral("postgresql://user@host:5432/database"));
    m_database->setToolTip(tr("A file below the program folder, or the address of a PostgreSQL database that several "
                              "stations share. The password is not part of the address: it is kept in the PostgreSQL "
                              "password file (~/.pgpass) or in PGPASSWORD."));
    others->addWidget(new QLabel(tr("Event database"), this), 3, 0);
    others->addWidget(m_database, 3, 1, 1, 2);
    others->addWidget(m_changePassword, 4, 0);
    others->setColumnStretch(3, 1);

    m_ok = new QPushButton(tr("OK"), this);
    m_ok->setDefault(true);
    m_cancel = new QPushButton(tr("Cancel"), this);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(m_ok);
    bottom->addWidget(m_cancel);

    auto* groups = new QHBoxLayout;
    groups->addWidget(m_localGroup, 1);
    groups->addWidget(m_remoteGroup, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(groups);
    layout->addWidget(other);
    layout->addLayout(bottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // The mode boxes sit outside their groups' enabling, as each group's own switch.
    connect(m_selectLocal, &QCheckBox::clicked, this, [this] { setLocalMode(true); });
    connect(m_selectRemote, &QCheckBox::clicked, this, [this] { setLocalMode(false); });
    connect(m_autoDetect, &QCheckBox::clicked, this, &CProgramSettings::autoDetect);
    connect(m_operateServer, &QCheckBox::toggled, this, &CProgramSettings::updateServerAdvice);
    connect(m_operateServer, &QCheckBox::clicked, this, &CProgramSettings::updateEnabling);
    connect(m_serverList, &QListWidget::itemSelectionChanged, this, &CProgramSettings::updateEnabling);
    connect(m_selectedServer, &QLineEdit::textChanged, this, &CProgramSettings::updateEnabling);
    connect(m_portList, &QComboBox::currentIndexChanged, this, &CProgramSettings::updatePortAdvice);
    connect(m_add, &QPushButton::clicked, this, &CProgramSettings::onAdd);
    connect(m_remove, &QPushButton::clicked, this, &CProgramSettings::onRemove);
    connect(m_select, &QPushButton::clicked, this, &CProgramSettings::onSelect);
    connect(m_changePassword, &QPushButton::clicked, this, &CProgramSettings::changePassword);
    connect(m_ok, &QPushButton::clicked, this, &CProgramSettings::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CProgramSettings::reject);
}

QStringList CProgramSettings::archivingChoices()
{
    return tr("OFF,1 month,2 months,3 months,4 months,5 months,6 months,7 months,8 months,9 months,10 months,11 "
              "months,12 months")
        .split(u',');
}

void CProgramSettings::fillPorts()
{
    QList<SerialPortInfo> ports;
    if (!m_discovery.listPortInfos(ports))
        return;
    QCollator collator;
    collator.setNumericMode(true);
    std::stable_sort(ports.begin(), ports.end(), [&collator](const SerialPortInfo& a, const SerialPortInfo& b) {
        return collator.compare(a.portName, b.portName) < 0;
    });
    m_portList->clear();
    for (const SerialPortInfo& port : ports) {
        m_portList->addItem(port.description(), port.portName);
        const int row = m_portList->count() - 1;
        if (port.access.access != PortAccess::Allowed)
            m_portList->setItemData(row, port.access.advice, Qt::ToolTipRole);
    }
}

void CProgramSettings::selectPort(const QString& portName)
{
    if (portName.isEmpty())
        return;
    // The port of that very name (/dev/ttyUSB1 is not /dev/ttyUSB10); "COM1" and the like name
    // a device path of their own.
    for (const QString& name : { portName, m_discovery.devicePath(portName) }) {
        const int i = m_portList->findData(name, PortNameRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (i >= 0) {
            m_portList->setCurrentIndex(i);
            return;
        }
    }
    // A port the map does not list (unplugged, or a pseudo-terminal) stays the choice, so that
    // OK does not lose it.
    const PortAccessInfo access = m_discovery.checkAccess(portName);
    QString text = portName;
    if (access.access == PortAccess::Missing)
        text += QLatin1Char(' ') + tr("[not present]");
    else if (access.access == PortAccess::Denied)
        text += QLatin1Char(' ') + tr("[no access]");
    m_portList->addItem(text, portName);
    const int row = m_portList->count() - 1;
    if (!access.advice.isEmpty())
        m_portList->setItemData(row, access.advice, Qt::ToolTipRole);
    m_portList->setCurrentIndex(row);
}

void CProgramSettings::updatePortAdvice()
{
    const QString advice = m_portList->currentData(Qt::ToolTipRole).toString();
    m_portAdvice->setText(advice);
    m_portAdvice->setVisible(!advice.isEmpty());
}

void CProgramSettings::updateServerAdvice()
{
    // Without a password other computers can read the station but change nothing; the person
    // who serves should know it before a colleague's change is refused.
    m_serverAdvice->setText(tr("This computer has no password: other computers can read it, but cannot change the "
                               "instrument's settings or the comments. Set one with \"Change password\"."));
    m_serverAdvice->setVisible(m_operateServer->isChecked() && !Password::isSet(m_config.passwordDigest));
}

void CProgramSettings::setLocalMode(bool local)
{
    m_localMode = local;
    updateEnabling();
}

void CProgramSettings::updateEnabling()
{
    const bool local = m_localMode;
    for (QWidget* w : { static_cast<QWidget*>(m_portLabel), static_cast<QWidget*>(m_portList),
             static_cast<QWidget*>(m_autoDetect), static_cast<QWidget*>(m_operateServer),
             static_cast<QWidget*>(m_serverPortLabel), static_cast<QWidget*>(m_serverPort),
             static_cast<QWidget*>(m_webServerLabel), static_cast<QWidget*>(m_webServer) })
        w->setEnabled(local);
    for (QWidget* w : { static_cast<QWidget*>(m_add), static_cast<QWidget*>(m_remove), static_cast<QWidget*>(m_select),
             static_cast<QWidget*>(m_serverList), static_cast<QWidget*>(m_selectedServer) })
        w->setEnabled(!local);
    m_selectLocal->setChecked(local);
    m_selectRemote->setChecked(!local);
    // Once discovery found no bridge, the box stays off for this opening of the dialog.
    m_autoDetect->setEnabled(local && m_autoDetectAvailable);
    if (local) {
        m_portList->setEnabled(!m_autoDetect->isChecked());
        m_serverPort->setEnabled(m_operateServer->isChecked());
        m_webServer->setEnabled(m_operateServer->isChecked());
        m_ok->setEnabled(true);
    } else {
        const bool selected = !m_serverList->selectedItems().isEmpty();
        m_remove->setEnabled(selected);
        m_select->setEnabled(selected);
        m_ok->setEnabled(!m_selectedServer->text().isEmpty());
    }
}

void CProgramSettings::autoDetect()
{
    if (m_autoDetect->isChecked())
        detectBridge(true);
    m_portList->setEnabled(m_localMode && !m_autoDetect->isChecked());
}

bool CProgramSettings::detectBridge(bool tellWhenMissing)
{
    SerialPortInfo bridge;
    if (m_discovery.findBridgePortInfo(bridge)) {
        selectPort(bridge.portName);
        return true;
    }
    m_autoDetect->setChecked(false);
    m_autoDetectAvailable = false;
    m_autoDetect->setEnabled(false);
    if (tellWhenMissing)
        m_messenger.tell(tr("Attention!"), tr("Can't detect COM port"), Messenger::Icon::Warning);
    return false;
}

bool CProgramSettings::addServer(const QString& text)
{
    QString listed;
    if (!Remote::acceptServerEntry(text, &listed)) {
        m_messenger.tell(applicationName(), tr("Wrong server name or port number!"), Messenger::Icon::Warning);
        return false;
    }
    m_serverList->addItem(listed);
    return true;
}

void CProgramSettings::onAdd()
{
    CAddServer dialog(this);
    if (dialog.exec() == QDialog::Accepted)
        addServer(dialog.text());
}

void CProgramSettings::onRemove()
{
    const QList<QListWidgetItem*> selected = m_serverList->selectedItems();
    if (!selected.isEmpty())
        delete selected.first();
    updateEnabling();
}

void CProgramSettings::onSelect()
{
    const QList<QListWidgetItem*> selected = m_serverList->selectedItems();
    if (!selected.isEmpty())
        m_selectedServer->setText(selected.first()->text());
    updateEnabling();
}

void CProgramSettings::changePassword()
{
    if (Password::isSet(m_config.passwordDigest)) {
        CEnterPassword prompt(this);
        if (prompt.exec() != QDialog::Accepted)
            return;
        if (!Password::matches(prompt.promptValue(), m_config.passwordDigest)) {
            m_messenger.tell(applicationName(), tr("Incorrect password!"), Messenger::Icon::Warning);
            return;
        }
    }
    CEnterNewPassword dialog(m_config, m_messenger, this);
    dialog.exec();
    updateServerAdvice();
}

int CProgramSettings::normalisedInterval(const QString& text)
{
    QString cleaned = text;
    cleaned.replace(u',', u'.');
    cleaned.remove(QChar(0xA0));
    return qBound(MinInterval, NumberText::leadingInt(cleaned), MaxInterval);
}

int CProgramSettings::normalisedServerPort(const QString& text)
{
    const int port = NumberText::leadingInt(text);
    return port >= 1 && port <= 65535 ? port : ProgramConfig::DefaultServerPort;
}

void CProgramSettings::accept()
{
    // A database the program cannot use keeps the dialog open: nothing is saved yet.
    const QString database = m_database->text().trimmed();
    QString databaseError;
    if (!StoreAddress::parse(database, &databaseError)) {
        m_messenger.tell(tr("Error!"), databaseError, Messenger::Icon::Error);
        m_database->setFocus();
        return;
    }
    // So does a web server setting that names no port.
    const QString web = m_webServer->text().trimmed();
    if (!web.isEmpty() && !StationWeb::parseListen(web)) {
        m_messenger.tell(tr("Error!"),
            tr("The web page needs a port (0-65535), or an IP address and a port: 8080, 192.0.2.10:8080, "
               "[2001:db8::5]:8080."),
            Messenger::Icon::Error);
        m_webServer->setFocus();
        return;
    }
    m_config.webServer = web;
    m_config.databasePath = database;

    m_config.localMode = m_selectLocal->isChecked();

    const int interval = normalisedInterval(m_interval->text());
    m_interval->setValue(interval);
    m_config.downloadingInterval = interval;

    m_config.autoDetect = m_autoDetect->isChecked();
    const QString port = m_portList->currentData(PortNameRole).toString();
    if (!port.isEmpty())
        m_config.port = port;

    m_config.servers.clear();
    for (int i = 0; i < m_serverList->count(); ++i)
        m_config.servers << m_serverList->item(i)->text();

    const int language = std::max(0, m_language->currentIndex());
    if (language != m_config.language) {
        m_messenger.tell(applicationName(), tr("Please restart program for language changes to take effect"),
            Messenger::Icon::Information);
        m_config.language = language;
    }

    m_config.operateAsServer = m_operateServer->isChecked();
    m_config.remoteServer = m_selectedServer->text();
    const int serverPort = normalisedServerPort(m_serverPort->text());
    m_serverPort->setText(QString::number(serverPort));
    m_config.serverPort = serverPort;

    m_config.archivingInterval = std::max(0, NumberText::leadingInt(m_archiving->currentText()));

    QString error;
    if (!m_config.save(&error)) {
        // The settings hold for this run; the person learns that they will not survive it.
        m_messenger.tell(tr("Error!"), error, Messenger::Icon::Error);
    }
    QDialog::accept();
}
