#pragma once

#include <QDialog>

class ProgramConfig;
class QLineEdit;
class QPushButton;

// "New password": the entry and its confirmation. OK is enabled only while the first entry is
// not empty and both agree; on OK the digest is stored in the configuration, which is saved.
class CEnterNewPassword : public QDialog {
    Q_OBJECT
public:
    explicit CEnterNewPassword(ProgramConfig& config, QWidget* parent = nullptr);

    QLineEdit* newEdit() const { return m_new; }
    QLineEdit* confirmEdit() const { return m_confirm; }
    QPushButton* okButton() const { return m_ok; }

    void accept() override;

private:
    void updateOk();

    ProgramConfig& m_config;
    QLineEdit* m_new;
    QLineEdit* m_confirm;
    QPushButton* m_ok;
};
