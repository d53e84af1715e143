#pragma once

#include <QAbstractSpinBox>

// An edit with up and down arrows for a number of seconds. Unlike QSpinBox it takes any text,
// so that what the person typed ("90,5", a grouped "1 000") reaches the dialog's own reading
// of it; the arrows step the leading number within the range.
class IntervalSpinBox : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit IntervalSpinBox(int minimum, int maximum, QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    void setValue(int value);

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;

protected:
    StepEnabled stepEnabled() const override;

private:
    int m_minimum;
    int m_maximum;
};
