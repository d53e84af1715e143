#pragma once

#include <QDialog>

class QLineEdit;

// "Add Server": one edit for "<servername>:<port>". The program settings dialog checks the
// text it yields.
class CAddServer : public QDialog {
    Q_OBJECT
public:
    explicit CAddServer(QWidget* parent = nullptr);

    QString text() const;
    QLineEdit* edit() const { return m_edit; }

private:
    QLineEdit* m_edit;
};
