// The status-bar progress bar, the progress window and the messenger's boxes.
#include "uitestsupport.h"

#include "ui/progressbar.h"
#include "ui/widgetmessenger.h"

#include <QMainWindow>
#include <QStatusBar>
#include <QTest>

#include <thread>

class WidgetsTest : public QObject {
    Q_OBJECT

private slots:
    // The bar wraps to 0 after the top, its timer steps it, and "Ready" comes back.
    void barLifecycle()
    {
        QMainWindow frame;
        frame.resize(600, 400);
        frame.statusBar();
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        {
            CProgressBar bar(frame.statusBar(), QStringLiteral("Data reading"), 3);
            QCOMPARE(frame.statusBar()->currentMessage(), QStringLiteral("Data reading"));
            QVERIFY(bar.isVisible());
            QVERIFY(bar.geometry().left() > 0);
            for (int i = 0; i < 3; ++i)
                bar.stepIt();
            QCOMPARE(bar.value(), 3);
            bar.stepIt();
            QCOMPARE(bar.value(), 0);
            bar.startStepping();
            QTRY_VERIFY(bar.value() > 0);
            bar.stopStepping();
            // The bar follows the status bar's width.
            const int before = bar.width();
            frame.resize(1000, 400);
            QTRY_VERIFY(bar.width() > before);
        }
        QCOMPARE(frame.statusBar()->currentMessage(), QStringLiteral("Ready"));
    }

    // The device-settings job gets the small window, other jobs the status bar; a range of 0
    // still makes a usable bar.
    void messengerProgress()
    {
        QMainWindow frame;
        frame.show();
        QTemporaryDir home;
        AppContext context { ProgramFolder(home.path()) };
        Messenger* const before = &context.messenger();
        auto owned = std::make_unique<WidgetMessenger>(&frame, &context);
        WidgetMessenger& messenger = *owned;
        // The window's messenger is the program's while it lives.
        QCOMPARE(&context.messenger(), static_cast<Messenger*>(&messenger));
        messenger.progressStart(QStringLiteral("Reading instrument settings"), 100, Messenger::ProgressKind::Window);
        QVERIFY(messenger.progressDialog());
        QVERIFY(!messenger.progressBar());
        QCOMPARE(messenger.progressDialog()->windowTitle(), QStringLiteral("Reading instrument settings"));
        QVERIFY(!messenger.progressDialog()->isModal());
        messenger.progressStep();
        QCOMPARE(messenger.progressDialog()->value(), 1);
        messenger.progressDialog()->reject(); // Cancel cannot stop a device exchange
        QVERIFY(messenger.progressDialog()->isVisible());
        messenger.progressStop();
        QVERIFY(!messenger.progressShown());

        messenger.progressStart(QStringLiteral("Progress"), 0);
        QVERIFY(messenger.progressBar());
        messenger.progressStep();
        messenger.progressStop();
        QCOMPARE(frame.statusBar()->currentMessage(), QStringLiteral("Ready"));
        owned.reset();
        QCOMPARE(&context.messenger(), before);
    }

    // Boxes carry caption, text and icon; a question from another thread waits for its answer
    // on the window's thread, and a message from another thread is shown there.
    void boxes()
    {
        QMainWindow frame;
        frame.show();
        WidgetMessenger messenger(&frame, nullptr);
        QStringList seen;
        ModalAnswerer answerer;
        auto record = [&](QMessageBox::StandardButton button) {
            answerer.then([&seen, button](QWidget* w) {
                auto* box = qobject_cast<QMessageBox*>(w);
                QVERIFY(box);
                QVERIFY(box->thread() == qApp->thread());
                seen << box->windowTitle() + u'|' + box->text() + u'|' + QString::number(box->icon());
                box->button(button)->click();
            });
        };
        record(QMessageBox::No);
        QCOMPARE(messenger.ask(QStringLiteral("Attention!"), QStringLiteral("Check settings?"),
                     Messenger::Yes | Messenger::No, Messenger::Icon::Question),
            int(Messenger::No));

        record(QMessageBox::Yes);
        int answer = 0;
        std::thread asker([&] {
            answer = messenger.ask(QStringLiteral("Attention!"), QStringLiteral("From a thread"),
                Messenger::Yes | Messenger::No, Messenger::Icon::Question);
        });
        QTRY_VERIFY(answerer.done());
        asker.join();
        QCOMPARE(answer, int(Messenger::Yes));

        record(QMessageBox::Ok);
        std::thread teller(
            [&] { messenger.tell(QStringLiteral("Error!"), QStringLiteral("Told"), Messenger::Icon::Error); });
        teller.join();
        QTRY_VERIFY(answerer.done());
        QCOMPARE(seen,
            QStringList({ QStringLiteral("Attention!|Check settings?|%1").arg(int(QMessageBox::Question)),
                QStringLiteral("Attention!|From a thread|%1").arg(int(QMessageBox::Question)),
                QStringLiteral("Error!|Told|%1").arg(int(QMessageBox::Critical)) }));
        QVERIFY(answerer.unexpected.isEmpty());
    }
};

QTEST_MAIN(WidgetsTest)
#include "tst_widgets.moc"
