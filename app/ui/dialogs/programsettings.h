#pragma once

#include "device/portdiscovery.h"

#include <QDialog>
#include <QStringList>

class CKESTRADoc;
class IntervalSpinBox;
class Messenger;
class ProgramConfig;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// "Program Settings": local or remote mode, the instrument's port, the known servers, the
// downloading interval, this computer's server, the language, automatic archiving and the
// password, and the event database (a file below the program folder, or a PostgreSQL address
// that several stations share). Edits the configuration and saves it on OK.
class CProgramSettings : public QDialog {
    Q_OBJECT
public:
    // doc may be null; with it the dialog's "Can't detect COM port" on opening counts as the
    // document's port question of this run. discovery finds the ports (its sysfs root is a
    // parameter, so tests give it a tree of their own). Messages go to the messenger.
    CProgramSettings(ProgramConfig& config, Messenger& messenger, CKESTRADoc* doc,
        const PortDiscovery& discovery = PortDiscovery(), QWidget* parent = nullptr);

    // The checks and actions of the buttons, callable without the nested dialogs.
    // Add server: a text from "Add Server"; false (with the message) when it is refused.
    bool addServer(const QString& text);
    void autoDetect();
    void changePassword();
    void accept() override;

    // The downloading interval as OK reads it: "," read as ".", no-break spaces dropped, the
    // leading integer clamped to 60..30000.
    static int normalisedInterval(const QString& text);
    // The server port as OK reads it: the leading integer, 3133 when that is not a TCP port.
    static int normalisedServerPort(const QString& text);
    // The archiving choices, in list order.
    static QStringList archivingChoices();

    // The controls, for the window's tests.
    QCheckBox* localBox() const { return m_selectLocal; }
    QCheckBox* remoteBox() const { return m_selectRemote; }
    QComboBox* portList() const { return m_portList; }
    QCheckBox* autoDetectBox() const { return m_autoDetect; }
    QCheckBox* serverBox() const { return m_operateServer; }
    QLineEdit* serverPortEdit() const { return m_serverPort; }
    QLineEdit* webServerEdit() const { return m_webServer; }
    QLabel* portAdvice() const { return m_portAdvice; }
    QLabel* serverAdvice() const { return m_serverAdvice; }
    QListWidget* serverList() const { return m_serverList; }
    QLineEdit* selectedServerEdit() const { return m_selectedServer; }
    QPushButton* addButton() const { return m_add; }
    QPushButton* removeButton() const { return m_remove; }
    QPushButton* selectButton() const { return m_select; }
    IntervalSpinBox* intervalEdit() const { return m_interval; }
    QComboBox* languageList() const { return m_language; }
    QComboBox* archivingList() const { return m_archiving; }
    QLineEdit* databaseEdit() const { return m_database; }
    QPushButton* passwordButton() const { return m_changePassword; }
    QPushButton* okButton() const { return m_ok; }

private:
    void buildControls();
    void fillPorts();
    // Selects the entry of a port name, adding one when the list lacks it.
    void selectPort(const QString& portName);
    // Selects the bridge's port; without one, auto detect is switched off for this dialog.
    bool detectBridge(bool tellWhenMissing);
    void setLocalMode(bool local);
    void updateEnabling();
    void updatePortAdvice();
    void updateServerAdvice();
    void onAdd();
    void onRemove();
    void onSelect();

    ProgramConfig& m_config;
    Messenger& m_messenger;
    CKESTRADoc* m_doc;
    PortDiscovery m_discovery;
    bool m_localMode = true;
    bool m_autoDetectAvailable = true;

    QGroupBox* m_localGroup = nullptr;
    QGroupBox* m_remoteGroup = nullptr;
    QCheckBox* m_selectLocal = nullptr;
    QCheckBox* m_selectRemote = nullptr;
    QLabel* m_portLabel = nullptr;
    QComboBox* m_portList = nullptr;
    QCheckBox* m_autoDetect = nullptr;
    QCheckBox* m_operateServer = nullptr;
    QLabel* m_serverPortLabel = nullptr;
    QLineEdit* m_serverPort = nullptr;
    QLabel* m_webServerLabel = nullptr;
    QLineEdit* m_webServer = nullptr;
    QLabel* m_portAdvice = nullptr;
    QLabel* m_serverAdvice = nullptr;
    QListWidget* m_serverList = nullptr;
    QLineEdit* m_selectedServer = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_remove = nullptr;
    QPushButton* m_select = nullptr;
    IntervalSpinBox* m_interval = nullptr;
    QComboBox* m_language = nullptr;
    QComboBox* m_archiving = nullptr;
    QLineEdit* m_database = nullptr;
    QPushButton* m_changePassword = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};
