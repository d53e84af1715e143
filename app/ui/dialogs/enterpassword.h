#pragma once

#include <QDialog>

class QLineEdit;

// The password prompt "Authorization check". On OK it yields the prompt value: the digest of
// the entry, or an empty text when nothing was entered.
class CEnterPassword : public QDialog {
    Q_OBJECT
public:
    explicit CEnterPassword(QWidget* parent = nullptr);

    QString promptValue() const { return m_value; }
    QLineEdit* passwordEdit() const { return m_edit; }

    void accept() override;

private:
    QLineEdit* m_edit;
    QString m_value;
};
