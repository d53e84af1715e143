#pragma once

#include "history/messenger.h"

#include <QObject>
#include <QPointer>

#include <memory>

class AppContext;
class CProgressBar;
class CProgressDialog;
class QMainWindow;
class QMessageBox;

// The messenger of the window: questions and messages in message boxes over the main window,
// progress in the status bar, and the device-settings jobs in their own small window. Calls
// from other threads are handed to the window's thread: a message is queued, a question waits
// for its answer.
class WidgetMessenger final : public QObject, public Messenger {
    Q_OBJECT
public:
    // Becomes the context's messenger while it lives, when a context is given.
    WidgetMessenger(QMainWindow* frame, AppContext* context);
    ~WidgetMessenger() override;

    int ask(const QString& caption, const QString& text, int buttons, Icon icon) override;
    void tell(const QString& caption, const QString& text, Icon icon) override;
    void progressStart(const QString& text, int range, ProgressKind kind = ProgressKind::Bar) override;
    void progressStep() override;
    void progressStop() override;

    // For runs without a person (screenshots, start-up checks): every box closes itself after
    // ms milliseconds with its default button, and its text also goes to the standard error.
    // 0 turns it off.
    void setUnattended(int ms) { m_unattendedMs = ms; }

    bool progressShown() const;
    CProgressBar* progressBar() const;
    CProgressDialog* progressDialog() const;

    // A box as this messenger shows it; Ok or Yes is the default, unless defaultButton is given.
    static int runBox(QWidget* parent, const QString& caption, const QString& text, int buttons, Icon icon,
        int defaultButton = 0, int unattendedMs = 0);

signals:
    // A progress bar or window appeared (true) or went (false).
    void progressChanged(bool shown);

private:
    bool onOtherThread() const;

    QPointer<QMainWindow> m_frame;
    std::unique_ptr<CProgressBar> m_bar;
    std::unique_ptr<CProgressDialog> m_dialog;
    AppContext* m_context;
    Messenger* m_previous = nullptr;
    int m_unattendedMs = 0;
};
