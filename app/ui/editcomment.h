#pragma once

#include <QDialog>

class QLineEdit;

// The comment of one event: one line of at most 80 characters.
class CEditComment final : public QDialog {
    Q_OBJECT
public:
    static constexpr int MaxLength = 80;

    explicit CEditComment(const QString& comment, QWidget* parent = nullptr);

    QString comment() const;
    QLineEdit* editor() const { return m_edit; }

private:
    QLineEdit* m_edit;
};
