#include "ui/dialogs/intervalspinbox.h"

#include "ui/dialogs/numbertext.h"

#include <QLineEdit>

#include <algorithm>

IntervalSpinBox::IntervalSpinBox(int minimum, int maximum, QWidget* parent)
    : QAbstractSpinBox(parent)
    , m_minimum(minimum)
    , m_maximum(maximum)
{
}

QString IntervalSpinBox::text() const
{
    return lineEdit()->text();
}

void IntervalSpinBox::setText(const QString& text)
{
    lineEdit()->setText(text);
}

void IntervalSpinBox::setValue(int value)
{
    setText(QString::number(qBound(m_minimum, value, m_maximum)));
}

void IntervalSpinBox::stepBy(int steps)
{
    const qint64 next = qint64(NumberText::leadingInt(text())) + steps;
    setValue(int(std::clamp<qint64>(next, m_minimum, m_maximum)));
}

QValidator::State IntervalSpinBox::validate(QString&, int&) const
{
    return QValidator::Acceptable;
}

QAbstractSpinBox::StepEnabled IntervalSpinBox::stepEnabled() const
{
    const int value = NumberText::leadingInt(text());
    StepEnabled enabled = StepNone;
    if (value < m_maximum)
        enabled |= StepUpEnabled;
    if (value > m_minimum)
        enabled |= StepDownEnabled;
    return enabled;
}
