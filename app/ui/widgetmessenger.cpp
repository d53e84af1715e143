#include "ui/widgetmessenger.h"

#include "document/appcontext.h"
#include "ui/progressbar.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {

QMessageBox::Icon boxIcon(Messenger::Icon icon)
{
    switch (icon) {
    case Messenger::Icon::Information:
        return QMessageBox::Information;
    case Messenger::Icon::Warning:
        return QMessageBox::Warning;
    case Messenger::Icon::Error:
        return QMessageBox::Critical;
    case Messenger::Icon::Question:
        return QMessageBox::Question;
    case Messenger::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

struct ButtonPair {
    int ours;
    QMessageBox::StandardButton theirs;
};
constexpr ButtonPair Buttons[] = { { Messenger::Ok, QMessageBox::Ok }, { Messenger::Yes, QMessageBox::Yes },
    { Messenger::No, QMessageBox::No }, { Messenger::Cancel, QMessageBox::Cancel } };

} // namespace

WidgetMessenger::WidgetMessenger(QMainWindow* frame, AppContext* context)
    : m_frame(frame)
    , m_context(context)
{
    if (m_context)
        m_previous = m_context->setMessenger(this);
}

WidgetMessenger::~WidgetMessenger()
{
    m_bar.reset();
    m_dialog.reset();
    if (m_context)
        m_context->setMessenger(m_previous == this ? nullptr : m_previous);
}

bool WidgetMessenger::onOtherThread() const
{
    return QThread::currentThread() != thread();
}

int WidgetMessenger::runBox(QWidget* parent, const QString& caption, const QString& text, int buttons, Icon icon,
    int defaultButton, int unattendedMs)
{
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::NoButton, parent);
    QPushButton* first = nullptr;
    QPushButton* chosenDefault = nullptr;
    for (const ButtonPair& b : Buttons) {
        if (!(buttons & b.ours))
            continue;
        QPushButton* button = box.addButton(b.theirs);
        if (!first)
            first = button;
        if (b.ours == defaultButton)
            chosenDefault = button;
    }
    if (!first)
        first = box.addButton(QMessageBox::Ok);
    box.setDefaultButton(chosenDefault ? chosenDefault : first);
    if (unattendedMs > 0) {
        std::fprintf(stderr, "%s: %s\n", caption.toLocal8Bit().constData(), text.toLocal8Bit().constData());
        QPushButton* pressed = chosenDefault ? chosenDefault : first;
        QTimer::singleShot(unattendedMs, &box, [pressed] { pressed->click(); });
    }
    box.exec();
    const auto clicked = box.standardButton(box.clickedButton());
    for (const ButtonPair& b : Buttons) {
        if (b.theirs == clicked)
            return b.ours;
    }
    return (buttons & Cancel) ? Cancel : (buttons & No) ? No : Ok;
}

int WidgetMessenger::ask(const QString& caption, const QString& text, int buttons, Icon icon)
{
    if (onOtherThread()) {
        int answer = Cancel;
        QMetaObject::invokeMethod(
            this, [&] { answer = ask(caption, text, buttons, icon); }, Qt::BlockingQueuedConnection);
        return answer;
    }
    return runBox(m_frame, caption, text, buttons, icon, 0, m_unattendedMs);
}

void WidgetMessenger::tell(const QString& caption, const QString& text, Icon icon)
{
    if (onOtherThread()) {
        QMetaObject::invokeMethod(
            this, [this, caption, text, icon] { tell(caption, text, icon); }, Qt::QueuedConnection);
        return;
    }
    runBox(m_frame, caption, text, Ok, icon, 0, m_unattendedMs);
}

void WidgetMessenger::progressStart(const QString& text, int range, ProgressKind kind)
{
    if (onOtherThread()) {
        QMetaObject::invokeMethod(
            this, [this, text, range, kind] { progressStart(text, range, kind); }, Qt::QueuedConnection);
        return;
    }
    m_bar.reset();
    m_dialog.reset();
    if (kind == ProgressKind::Window) {
        m_dialog = std::make_unique<CProgressDialog>(text, m_frame);
        m_dialog->show();
    } else if (m_frame) {
        m_bar = std::make_unique<CProgressBar>(m_frame->statusBar(), text, range);
    }
    emit progressChanged(true);
}

void WidgetMessenger::progressStep()
{
    if (onOtherThread()) {
        QMetaObject::invokeMethod(
            this, [this] { progressStep(); }, Qt::QueuedConnection);
        return;
    }
    if (m_bar)
        m_bar->stepIt();
    if (m_dialog)
        m_dialog->stepIt();
}

void WidgetMessenger::progressStop()
{
    if (onOtherThread()) {
        QMetaObject::invokeMethod(
            this, [this] { progressStop(); }, Qt::QueuedConnection);
        return;
    }
    const bool was = progressShown();
    m_bar.reset();
    m_dialog.reset();
    if (was)
        emit progressChanged(false);
}

bool WidgetMessenger::progressShown() const
{
    return m_bar || m_dialog;
}

CProgressBar* WidgetMessenger::progressBar() const
{
    return m_bar.get();
}

CProgressDialog* WidgetMessenger::progressDialog() const
{
    return m_dialog.get();
}
