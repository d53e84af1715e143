#pragma once

#include "document/appcontext.h"
#include "document/kestradoc.h"
#include "history/historydb.h"
#include "history/historyrec.h"
#include "history/localtime.h"
#include "ui/dialogs/enterpassword.h"
#include "ui/mainframe.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSize>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

// Answers the modal windows that a command opens, in order, as a person would: each handler
// gets the next modal window that appears and must close it. What was shown is kept.
class ModalAnswerer : public QObject {
public:
    using Handler = std::function<void(QWidget*)>;

    ModalAnswerer()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start();
    }

    void then(Handler handler) { m_handlers.push_back(std::move(handler)); }
    // A message box: record its text and press the button of that standard kind.
    void thenBox(QMessageBox::StandardButton button)
    {
        then([this, button](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box) {
                unexpected << w->metaObject()->className();
                w->close();
                return;
            }
            texts << box->text();
            if (QAbstractButton* b = box->button(button))
                b->click();
            else
                box->reject();
        });
    }
    // The password prompt: enter the text and accept, or cancel.
    void thenPassword(const QString& text, bool accept = true)
    {
        then([this, text, accept](QWidget* w) {
            auto* prompt = qobject_cast<CEnterPassword*>(w);
            if (!prompt) {
                unexpected << w->metaObject()->className();
                w->close();
                return;
            }
            texts << prompt->windowTitle();
            prompt->passwordEdit()->setText(text);
            accept ? prompt->accept() : prompt->reject();
        });
    }
    bool done() const { return m_handlers.empty(); }

    QStringList texts; // what the boxes and prompts said
    QStringList unexpected; // modal windows nobody expected (closed)

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == m_last)
            return;
        m_last = modal;
        if (m_handlers.empty()) {
            unexpected << modal->metaObject()->className();
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
            return;
        }
        Handler handler = std::move(m_handlers.front());
        m_handlers.pop_front();
        handler(modal);
    }

    QTimer m_timer;
    std::deque<Handler> m_handlers;
    QPointer<QWidget> m_last;
};

namespace uitest {

inline const QString Id1 = QStringLiteral("KESTRA #100001");
inline const QString Id2 = QStringLiteral("KESTRA #100002");

// A local moment days before today's midnight, plus seconds.
inline qint64 at(int daysAgo, int seconds)
{
    // Noon of today less whole days lies in the wanted day across month ends and summer time.
    const qint64 today = LocalTime::dayKey(std::time(nullptr)).value();
    return LocalTime::dayKey(today + 12 * 3600 - qint64(daysAgo) * 86400).value() + seconds;
}

inline ChistoryRec makeEvent(const QString& id, qint64 t, qint32 alarm = 0, const QString& comment = {})
{
    ChistoryRec r;
    r.hPagerID = id;
    r.hDateTime = t;
    r.hType = 3;
    r.hValue = 1e-6 + double(t % 100) * 1e-8;
    r.hPrecision = 10;
    r.hAlarm = alarm;
    r.hComment = comment;
    r.hID = ChistoryRec::makeKey(id, t);
    return r;
}

// A program of its own in the folder, configured for a window without an instrument: no port
// search, no server, no archiving; the store at the configured path, made now. Null on failure.
inline std::unique_ptr<AppContext> makeContext(const QTemporaryDir& home)
{
    if (!home.isValid())
        return nullptr;
    auto context = std::make_unique<AppContext>(ProgramFolder(home.path()));
    ProgramConfig& c = context->config();
    c.autoDetect = false;
    c.port = home.filePath(QStringLiteral("no-port"));
    c.localMode = true;
    c.operateAsServer = false;
    c.timeSynchronize = false;
    c.archivingInterval = 0;
    c.passwordDigest.clear();
    c.iniPath = home.filePath(QStringLiteral("KESTRA.ini"));
    if (!context->store().open(context->folder().filePath(c.databasePath), HistoryDb::OpenMode::Create))
        return nullptr;
    return context;
}

// The document and window of the context, shown (at size, when one is given) and started as
// the program starts them; then the background work stops and the instrument counts as not
// linked, so that the tests set the link state themselves. False when the window is not shown.
inline bool startWindow(
    AppContext& context, std::unique_ptr<CKESTRADoc>& doc, std::unique_ptr<CMainFrame>& frame, QSize size = {})
{
    doc = std::make_unique<CKESTRADoc>(context);
    frame = std::make_unique<CMainFrame>(*doc);
    if (size.isValid())
        frame->resize(size);
    frame->show();
    if (!QTest::qWaitForWindowExposed(frame.get()))
        return false;
    frame->start();
    doc->stopBackground();
    doc->state().setConnected(false);
    return true;
}

} // namespace uitest
