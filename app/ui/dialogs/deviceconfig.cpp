#include "ui/dialogs/deviceconfig.h"

#include "config/programconfig.h"
#include "device/devworker.h"
#include "document/kestradoc.h"
#include "history/messenger.h"
#include "ui/dialogs/dialogtexts.h"
#include "ui/dialogs/numbertext.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

struct IntRule {
    int minimum;
    int maximum;
};

bool intValid(const QLineEdit* edit, IntRule rule)
{
    if (edit->text().isEmpty())
        return false;
    const int value = NumberText::leadingInt(edit->text());
    return value >= rule.minimum && value <= rule.maximum;
}

// A maximum of 0 means none.
bool realValid(const QLineEdit* edit, double minimum, double maximum)
{
    if (edit->text().isEmpty())
        return false;
    const double value = NumberText::leadingReal(edit->text());
    if (value < minimum)
        return false;
    return maximum == 0 || value <= maximum;
}

QString betaUnits()
{
    return DeviceConfig::tr("1/(min*cm²)");
}

} // namespace

DeviceConfig::DeviceConfig(CKESTRADoc& doc, ProgramConfig& config, QWidget* parent)
    : QDialog(parent)
    , m_doc(doc)
    , m_config(config)
{
    buildControls();
}

DeviceConfig::~DeviceConfig()
{
    // Closing the port pauses a second: a job, and after whatever runs now.
    CKESTRADoc& doc = m_doc;
    doc.whenIdle([&doc] { doc.closeDriver(); });
}

void DeviceConfig::buildControls()
{
    setWindowTitle(tr("Instrument settings"));

    auto* settings = new QGroupBox(tr("Instrument Settings"), this);
    m_timeSync = new QCheckBox(tr("Synchronize time with PC"), this);
    m_sound = new QCheckBox(tr("Sound enable"), this);
    m_beep = new QCheckBox(tr("Beep in search mode"), this);
    auto* measure = new QGroupBox(tr("Measurement in"), this);
    m_roentgen = new QRadioButton(tr("Roentgen") + QStringLiteral(", ") + tr("R"), this);
    m_sievert = new QRadioButton(tr("Sivert") + QStringLiteral(", ") + tr("Sv"), this);
    auto* measureLayout = new QVBoxLayout(measure);
    measureLayout->addWidget(m_roentgen);
    measureLayout->addWidget(m_sievert);
    auto* settingsLayout = new QVBoxLayout(settings);
    settingsLayout->addWidget(m_timeSync);
    settingsLayout->addWidget(m_sound);
    settingsLayout->addWidget(m_beep);
    settingsLayout->addWidget(measure);
    settingsLayout->addStretch();

    auto* thresholds = new QGroupBox(tr("Thresholds"), this);
    auto* grid = new QGridLayout(thresholds);
    auto row = [this, grid](QLabel*& label, QLineEdit*& edit, QLabel* units) {
        const int r = grid->rowCount();
        label = new QLabel(this);
        edit = new QLineEdit(this);
        edit->setMaximumWidth(110);
        label->setBuddy(edit);
        grid->addWidget(label, r, 0);
        grid->addWidget(edit, r, 1);
        grid->addWidget(units, r, 2);
    };
    m_der1Units = new QLabel(this);
    m_der2Units = new QLabel(this);
    row(m_der1Label, m_der1, m_der1Units);
    row(m_der2Label, m_der2, m_der2Units);
    row(m_beta1Label, m_beta1, new QLabel(betaUnits(), this));
    row(m_beta2Label, m_beta2, new QLabel(betaUnits(), this));
    row(m_searchLabel, m_search, new QLabel(tr("cps"), this));
    grid->setColumnStretch(2, 1);

    auto* timing = new QGroupBox(tr("Timing"), this);
    m_intervalLabel = new QLabel(this);
    m_interval = new QLineEdit(this);
    m_interval->setMaximumWidth(110);
    m_intervalLabel->setBuddy(m_interval);
    m_clearHistory = new QPushButton(tr("Delete history"), this);
    auto* timingLayout = new QHBoxLayout(timing);
    timingLayout->addWidget(m_intervalLabel);
    timingLayout->addWidget(m_interval);
    timingLayout->addStretch();
    timingLayout->addWidget(m_clearHistory);

    m_write = new QPushButton(tr("Write"), this);
    m_readButton = new QPushButton(tr("Read"), this);
    m_close = new QPushButton(tr("Close"), this);
    m_close->setDefault(true);
    m_waiting = new QLabel(this);
    m_waiting->hide();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_write);
    buttons->addWidget(m_readButton);
    buttons->addStretch();
    buttons->addWidget(m_close);

    auto* top = new QHBoxLayout;
    top->addWidget(settings);
    top->addWidget(thresholds, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(timing);
    layout->addWidget(m_waiting);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Fixed texts: ranges after the labels, default values as tooltips.
    m_beta1Label->setText(QStringLiteral("%1 (6-1000)").arg(tr("Threshold Beta \"Attention\"")));
    m_beta2Label->setText(QStringLiteral("%1 (6-1000)").arg(tr("Threshold Beta \"Danger\"")));
    m_searchLabel->setText(QStringLiteral("%1 (0.1-100000)").arg(tr("Threshold Search")));
    // The instrument keeps the interval in 16 bits, so the range shown is the one it can hold.
    m_intervalLabel->setText(
        QStringLiteral("%1 (60-%2)").arg(tr("History recording interval, sec.")).arg(MaxHistoryInterval));
    const QString defaultValue = tr("Default value = ");
    m_beta1->setToolTip(QStringLiteral("%1 10 %2").arg(defaultValue, betaUnits()));
    m_beta2->setToolTip(QStringLiteral("%1 100 %2").arg(defaultValue, betaUnits()));
    m_search->setToolTip(QStringLiteral("%1 100 %2").arg(defaultValue, tr("cps")));

    m_clearHistory->setEnabled(m_doc.state().localMode);
    if (!m_doc.state().localMode)
        m_clearHistory->setToolTip(tr("Only the computer the instrument is attached to can delete its history."));

    connect(m_roentgen, &QRadioButton::clicked, this, [this] { showUnits(true); });
    connect(m_sievert, &QRadioButton::clicked, this, [this] { showUnits(false); });
    for (QLineEdit* edit : { m_der1, m_der2, m_beta1, m_beta2, m_search, m_interval })
        connect(edit, &QLineEdit::textEdited, this, &DeviceConfig::onEdited);
    connect(m_write, &QPushButton::clicked, this, &DeviceConfig::write);
    connect(m_readButton, &QPushButton::clicked, this, &DeviceConfig::readFromInstrument);
    connect(m_close, &QPushButton::clicked, this, &DeviceConfig::accept);
    connect(m_clearHistory, &QPushButton::clicked, this, &DeviceConfig::deleteHistory);
}

int DeviceConfig::exec()
{
    if (!m_loaded && !readFromInstrument())
        return QDialog::Rejected;
    return QDialog::exec();
}

void DeviceConfig::setButtonsEnabled(bool enabled)
{
    for (QPushButton* button : { m_write, m_readButton, m_close })
        button->setEnabled(enabled);
    m_clearHistory->setEnabled(enabled && m_doc.state().localMode);
}

bool DeviceConfig::waitForDocument(const std::function<void()>& step)
{
    if (!m_doc.busy())
        return false;
    // A download holds the instrument: the step runs once it has ended, not instead of it.
    setButtonsEnabled(false);
    m_close->setEnabled(true);
    m_waiting->setText(tr("Waiting for the history download to end..."));
    m_waiting->show();
    m_doc.whenIdle([self = QPointer<DeviceConfig>(this), step] {
        if (!self)
            return;
        self->m_waiting->hide();
        self->setButtonsEnabled(true);
        step();
    });
    return true;
}

bool DeviceConfig::readFromInstrument()
{
    if (waitForDocument([this] { readFromInstrument(); }))
        return false;
    CUserParams params = m_read;
    // The read waits with the window alive: no second job may start from here meanwhile.
    setButtonsEnabled(false);
    const bool ok = m_doc.readUserParams(params);
    setButtonsEnabled(true);
    if (!ok) {
        m_doc.messenger().tell(tr("Error!"), tr("Error during instrument settings reading!"), Messenger::Icon::Error);
        reject();
        return false;
    }
    m_read = params;
    // The time synchronisation is the program's choice, not the instrument's.
    m_read.timeSync = m_config.timeSynchronize;
    display();
    m_loaded = true;
    validate();
    return true;
}

void DeviceConfig::display()
{
    m_timeSync->setChecked(m_read.timeSync);
    m_sound->setChecked(m_read.sound);
    m_beep->setChecked(m_read.searchBeep);
    m_interval->setText(QString::number(m_read.historyInterval));
    m_beta1->setText(QString::number(m_read.betaThreshold1));
    m_beta2->setText(QString::number(m_read.betaThreshold2));
    m_search->setText(searchText(m_read.searchBetaThreshold));
    showUnits(m_read.units != 0);
}

QString DeviceConfig::searchText(double threshold)
{
    return QString::asprintf("%.1f", threshold);
}

QString DeviceConfig::derText(qint32 instrumentUnits, bool roentgen)
{
    return roentgen ? QString::asprintf("%.3f", instrumentUnits / 1000.0)
                    : QString::asprintf("%.5f", instrumentUnits / 100000.0);
}

qint32 DeviceConfig::derUnits(double value, bool roentgen)
{
    // Validated values lie far inside the range of qint32.
    return static_cast<qint32>(value * (roentgen ? 1000.0 : 100000.0) + 0.5);
}

void DeviceConfig::showUnits(bool roentgen)
{
    // The stored thresholds are instrument units, the same physical value in either scale.
    m_read.units = roentgen ? 1 : 0;
    (roentgen ? m_roentgen : m_sievert)->setChecked(true);
    setUnitsTexts();
    m_der1->setText(derText(m_read.derThreshold1, roentgen));
    m_der2->setText(derText(m_read.derThreshold2, roentgen));
    if (m_loaded)
        validate();
}

void DeviceConfig::setUnitsTexts()
{
    const bool roentgen = m_read.units != 0;
    const QString range = roentgen ? QStringLiteral("(0.01-10000)") : QStringLiteral("(0.0001-100)");
    m_der1Label->setText(tr("Threshold DER \"Attention\"") + QLatin1Char(' ') + range);
    m_der2Label->setText(tr("Threshold DER \"Danger\"") + QLatin1Char(' ') + range);
    const QString units = roentgen ? tr("mR/h") : tr("mSv/h");
    m_der1Units->setText(units);
    m_der2Units->setText(units);
    const QString defaultValue = tr("Default value = ");
    m_der1->setToolTip(
        QStringLiteral("%1 %2 %3").arg(defaultValue, roentgen ? QStringLiteral("30.0") : QStringLiteral("0.3"), units));
    m_der2->setToolTip(QStringLiteral("%1 %2 %3")
                           .arg(defaultValue, roentgen ? QStringLiteral("100.0") : QStringLiteral("1.0"), units));
}

void DeviceConfig::onEdited()
{
    if (m_loaded)
        validate();
}

bool DeviceConfig::validate()
{
    m_wrong.clear();
    if (!intValid(m_interval, { 60, MaxHistoryInterval }))
        m_wrong << m_intervalLabel;
    if (!intValid(m_beta1, { 6, 1000 }))
        m_wrong << m_beta1Label;
    if (!intValid(m_beta2, { 6, 1000 }))
        m_wrong << m_beta2Label;
    // The label shows 100000; the instrument takes up to 1,000,000.
    if (!realValid(m_search, 0.1, 1000000))
        m_wrong << m_searchLabel;
    const bool roentgen = m_roentgen->isChecked();
    const double minimum = roentgen ? 0.01 : 0.0001;
    const double maximum = roentgen ? 10000 : 100;
    if (!realValid(m_der1, minimum, maximum))
        m_wrong << m_der1Label;
    if (!realValid(m_der2, minimum, maximum))
        m_wrong << m_der2Label;
    paintWrongLabels();
    return m_wrong.isEmpty();
}

void DeviceConfig::paintWrongLabels()
{
    for (QLabel* label : { m_der1Label, m_der2Label, m_beta1Label, m_beta2Label, m_searchLabel, m_intervalLabel }) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, m_wrong.contains(label) ? QColor(255, 0, 0) : QColor(0, 0, 0));
        label->setPalette(palette);
    }
}

bool DeviceConfig::write()
{
    if (waitForDocument([this] { write(); }))
        return false;
    if (!validate()) {
        QString text = tr("Some values are wrong!");
        if (m_wrong.contains(m_intervalLabel) && NumberText::leadingInt(m_interval->text()) > MaxHistoryInterval) {
            text += QLatin1Char('\n')
                + tr("The instrument keeps the history recording interval in 16 bits: at most %1 seconds.")
                      .arg(MaxHistoryInterval);
        }
        m_doc.messenger().tell(tr("Attention!"), text, Messenger::Icon::Warning);
        return false;
    }
    const bool roentgen = m_roentgen->isChecked();
    m_toWrite = m_read;
    m_toWrite.timeSync = m_timeSync->isChecked();
    m_toWrite.sound = m_sound->isChecked();
    m_toWrite.searchBeep = m_beep->isChecked();
    m_toWrite.historyInterval = NumberText::leadingInt(m_interval->text());
    m_toWrite.betaThreshold1 = NumberText::leadingInt(m_beta1->text());
    m_toWrite.betaThreshold2 = NumberText::leadingInt(m_beta2->text());
    // An untouched search threshold keeps the instrument's value, not its rounded text.
    m_toWrite.searchBetaThreshold = m_search->text() == searchText(m_read.searchBetaThreshold)
        ? m_read.searchBetaThreshold
        : NumberText::leadingReal(m_search->text());
    m_toWrite.units = roentgen ? 1 : 0;
    m_toWrite.derThreshold1 = derUnits(NumberText::leadingReal(m_der1->text()), roentgen);
    m_toWrite.derThreshold2 = derUnits(NumberText::leadingReal(m_der2->text()), roentgen);

    setButtonsEnabled(false);
    const bool written = m_doc.writeUserParams(m_toWrite);
    setButtonsEnabled(true);
    if (!written) {
        m_doc.messenger().tell(
            tr("Error!"), tr("Can't write instrument settings!") + QLatin1Char('"'), Messenger::Icon::Error);
        return false;
    }
    // The program's own choice is kept with the rest, once the instrument took its values.
    m_config.timeSynchronize = m_toWrite.timeSync;
    QString error;
    if (!m_config.save(&error))
        m_doc.messenger().tell(tr("Error!"), error, Messenger::Icon::Error);
    // The instrument holds these now: a change of the shown units starts from them.
    m_read = m_toWrite;
    m_doc.messenger().tell(applicationName(), tr("Data saved!"), Messenger::Icon::Information);
    return true;
}

void DeviceConfig::deleteHistory()
{
    const int answer
        = m_doc.messenger().ask(tr("Operation confirmation"), tr("Do you want to delete the instrument history?"),
            Messenger::Ok | Messenger::Cancel, Messenger::Icon::Question);
    if (answer != Messenger::Ok)
        return;
    // A download in progress holds the instrument; the deletion waits until it has ended.
    m_doc.whenIdle([self = QPointer<DeviceConfig>(this)] {
        if (self)
            self->clearInstrumentHistory();
    });
}

void DeviceConfig::clearInstrumentHistory()
{
    if (DevWorker::clearHistory(m_doc.context().device()))
        m_doc.messenger().tell(tr("Attention!"), tr("Instrument history is deleted"), Messenger::Icon::Warning);
    else
        m_doc.messenger().tell(tr("Error!"), tr("Error during instrument history deleting!"), Messenger::Icon::Error);
}
