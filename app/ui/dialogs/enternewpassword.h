#pragma once

#include <QDialog>

class Messenger;
class ProgramConfig;
class QLineEdit;
class QPushButton;

// "New password": the entry and its confirmation. OK is enabled only while the first entry is
// not empty and both agree; on OK the digest is stored in the configuration, which is saved.
class CEnterNewPassword : public QDialog {
    Q_OBJECT
public:
    CEnterNewPassword(ProgramConfig& config, Messenger& messenger, QWidget* parent = nullptr);

    QLineEdit* newEdit() const { return m_new; }
    QLineEdit* confirmEdit() const { return m_confirm; }
    QPushButton* okButton() const { return m_ok; }

    void accept() override;

private:
    void updateOk();

    ProgramConfig& m_config;
    Messenger& m_messenger;
    QLineEdit* m_new;
    QLineEdit* m_confirm;
    QPushButton* m_ok;
};
