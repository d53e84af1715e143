// The window on a real store without an instrument: what each command allows in each state,
// the tree and the list, the filter, renaming, the tree's menu, the keys, comments and exit.
#include "uitestsupport.h"

#include "config/password.h"
#include "document/kestradoc.h"
#include "history/historyfiles.h"
#include "history/viewflags.h"
#include "models/eventlistmodel.h"
#include "models/instrumenttreemodel.h"
#include "remote/remoteclient.h"
#include "remote/remoteserver.h"
#include "ui/editcomment.h"
#include "ui/kestradevview.h"
#include "ui/kestraview.h"
#include "ui/mainframe.h"
#include "ui/widgetmessenger.h"
#include "web/stationweb.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

#include <atomic>

#include <thread>

using namespace uitest;
using Command = Commands::Id;

namespace {

QStringList enabledCommands(const CMainFrame& frame)
{
    QStringList names;
    for (int i = 0; i < static_cast<int>(Command::Count); ++i) {
        const auto c = static_cast<Command>(i);
        const bool on = c == Command::Filter ? frame.filterBox().isEnabled() : frame.action(c)->isEnabled();
        if (on)
            names << Commands::name(c);
    }
    return names;
}

// The store's view of a day: the events as they are on file.
CHistoryList storedDay(HistoryStore& store, const QString& id, qint64 day)
{
    CPagerList list;
    store.current()->loadDayEvents(list, id, LocalTime::format(day, "%Y-%m-%d"), 0);
    const CPager* p = list.find(id);
    if (!p || p->days().empty())
        return {};
    return p->days().begin()->second;
}

} // namespace

class MainFrameTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<AppContext> m_context;
    std::unique_ptr<CKESTRADoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;

    CKESTRADevView& tree() { return m_frame->treeView(); }
    CKESTRAView& list() { return m_frame->listView(); }
    InstrumentTreeModel& treeModel() { return tree().treeModel(); }

    void select(const QString& id, qint64 day = 0)
    {
        const QModelIndex index = treeModel().indexOf(id, day);
        QVERIFY(index.isValid());
        tree().setCurrentIndex(index);
        settle();
    }
    // A key of the window's accelerators; the window must be active for them (a closed dialog
    // may have left another one active).
    void pressCtrl(Qt::Key key)
    {
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        QTest::keyClick(m_frame.get(), key, Qt::ControlModifier);
    }
    // Work that the document put off until its operation ended runs from the event loop.
    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    // The state every test starts from: main database, local mode, not connected, no filter.
    void resetState()
    {
        m_doc->setArchivePath(QString());
        tree().databaseChanged();
        m_doc->state().localMode = true;
        m_doc->state().setConnected(false);
        m_frame->filterBox().setCurrentIndex(0);
        tree().setCurrentIndex(QModelIndex());
        settle();
        m_frame->updateCommands();
    }

    // Opens the tree's menu on a node as a right click does and reports its enabled items.
    QStringList menuItemsOn(const QModelIndex& index)
    {
        QStringList enabled;
        bool seen = false;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || seen)
                return;
            seen = true;
            for (QAction* a : menu->actions()) {
                if (a->isEnabled())
                    enabled << a->text();
            }
            menu->close();
        });
        poll.start();
        const QPoint pos = tree().visualRect(index).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, tree().viewport()->mapToGlobal(pos));
        QApplication::sendEvent(tree().viewport(), &event);
        if (!seen)
            enabled << QStringLiteral("<no menu>");
        return enabled;
    }

private slots:
    void initTestCase()
    {
        m_context = makeContext(m_home);
        QVERIFY(m_context);
        m_context->config().operateAsServer = true;
        m_context->config().serverPort = 0; // any free port
        m_context->config().webServer = QStringLiteral("127.0.0.1:0");
        // Id1: two alarm events of five two days ago, three plain ones yesterday. Id2: two
        // yesterday.
        std::vector<ChistoryRec> events { makeEvent(Id1, at(2, 3600)),
            makeEvent(Id1, at(2, 7200), ChistoryRec::GammaWarning), makeEvent(Id1, at(2, 9000)),
            makeEvent(Id1, at(2, 10000), ChistoryRec::DoseThreshold), makeEvent(Id1, at(2, 20000)),
            makeEvent(Id1, at(1, 100)), makeEvent(Id1, at(1, 200)), makeEvent(Id1, at(1, 300)),
            makeEvent(Id2, at(1, 400)), makeEvent(Id2, at(1, 500)) };
        QVERIFY(m_context->store().current()->insertEvents(events));

        m_doc = std::make_unique<CKESTRADoc>(*m_context);
        m_frame = std::make_unique<CMainFrame>(*m_doc);
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        m_frame->start();
        QVERIFY(m_frame->server() && m_frame->server()->listening());
        QVERIFY(m_frame->webServer() && m_frame->webServer()->listening());
        // The watcher would put the link back to "not connected" (there is no instrument);
        // the tests set the link state themselves.
        m_doc->stopBackground();
        QCOMPARE(treeModel().rowCount(), 2);
        QCOMPARE(m_frame->filterBox().count(), 2);
        QCOMPARE(m_frame->filterBox().itemText(0), QStringLiteral("All events"));
        QCOMPARE(m_frame->filterBox().itemText(1), QStringLiteral("Alarms only"));
    }

    void cleanupTestCase()
    {
        m_frame.reset();
        m_doc.reset();
        m_context.reset();
    }

    void init() { resetState(); }

    // Program Settings' server choices take effect at once: the web page off and on again, and
    // no server at all once the computer no longer operates as one.
    void serverSettingsApplyAtOnce()
    {
        ProgramConfig& config = m_context->config();
        config.webServer.clear();
        m_frame->applyServerSettings();
        QVERIFY(!m_frame->webServer());
        QVERIFY(m_frame->server() && m_frame->server()->listening());
        config.webServer = QStringLiteral("127.0.0.1:0");
        m_frame->applyServerSettings();
        QVERIFY(m_frame->webServer() && m_frame->webServer()->listening());
        config.operateAsServer = false;
        m_frame->applyServerSettings();
        QVERIFY(!m_frame->server());
        QVERIFY(!m_frame->webServer());
        config.operateAsServer = true;
        m_frame->applyServerSettings();
        QVERIFY(m_frame->server() && m_frame->server()->listening());
        QVERIFY(m_frame->webServer() && m_frame->webServer()->listening());
    }

    // With a web page set, the window serves its database's instruments to a browser.
    void webPage()
    {
        const quint16 port = m_frame->webServer()->port();
        QByteArray reply;
        std::atomic<bool> done { false };
        std::thread client([&] {
            QTcpSocket socket;
            socket.connectToHost(QStringLiteral("127.0.0.1"), port);
            if (socket.waitForConnected(5000)) {
                socket.write("GET /api/v1/instruments HTTP/1.1\r\nHost: x\r\n\r\n");
                while (socket.waitForReadyRead(10000))
                    reply += socket.readAll();
            }
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 30000);
        client.join();
        QVERIFY2(reply.startsWith("HTTP/1.1 200"), reply.constData());
        QVERIFY(reply.contains("\"instrument\":\"" + Id1.toUtf8() + '"'));
        QVERIFY(reply.contains("\"instrument\":\"" + Id2.toUtf8() + '"'));
    }

    // The tree chooses what the list shows; the filter box narrows it to alarms.
    void selectionAndFilter()
    {
        select(Id1, at(2, 0));
        QCOMPARE(m_doc->state().currentInstrument(), Id1);
        QCOMPARE(m_doc->state().currentDate(), at(2, 0));
        QCOMPARE(list().model()->rowCount(), 5);
        QCOMPARE(list().eventModel().recordAt(0).hDateTime, at(2, 20000)); // newest first
        QVERIFY(tree().daySelected());

        select(Id1);
        QCOMPARE(m_doc->state().currentInstrument(), Id1);
        QCOMPARE(m_doc->state().currentDate(), qint64(0));
        QCOMPARE(list().model()->rowCount(), 0);
        QVERIFY(!tree().daySelected());

        select(Id1, at(2, 0));
        m_frame->filterBox().setCurrentIndex(1);
        QCOMPARE(m_context->viewFlags().filterIndex(), 1);
        QCOMPARE(list().model()->rowCount(), 2);
        QVERIFY(!list().eventModel().recordAt(0).alarmText().isEmpty());
        select(Id1, at(1, 0)); // a day without alarms shows nothing under the filter
        QCOMPARE(list().model()->rowCount(), 0);
        m_frame->filterBox().setCurrentIndex(0);
        QCOMPARE(list().model()->rowCount(), 3);

        // The day with alarms is red in the tree; the other is not.
        QVERIFY(treeModel().indexOf(Id1, at(2, 0)).data(Qt::ForegroundRole).isValid());
        QVERIFY(!treeModel().indexOf(Id1, at(1, 0)).data(Qt::ForegroundRole).isValid());

        // A date of 1970-01-01 shows nothing and loads nothing.
        list().showDay(Id1, QStringLiteral("1970-01-01"));
        QCOMPARE(list().model()->rowCount(), 0);
    }

    void enablement_data()
    {
        QTest::addColumn<bool>("archive");
        QTest::addColumn<bool>("local");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("selected"); // "", "instrument", "day", "row" (a day and a clicked row)
        QTest::addColumn<QString>("expected");
        const QString always = QStringLiteral(" ViewArchive Exit ProgramSettings About RangeView Filter");
        QTest::newRow("main local offline nothing")
            << false << true << false << QString() << "ImportHistory ArchiveDatabase" + always;
        QTest::newRow("main local online instrument")
            << false << true << true << "instrument"
            << "ImportHistory ArchiveDatabase OnlineMode ReadHistory InstrumentSettings" + always;
        QTest::newRow("main local online row")
            << false << true << true << "row"
            << "ImportHistory ExportHistory SaveHistoryAs Print PrintPreview DoseReport "
               "ArchiveDatabase OnlineMode ReadHistory EditComment "
               "InstrumentSettings"
                + always;
        QTest::newRow("main local offline day")
            << false << true << false << "day"
            << "ImportHistory ExportHistory SaveHistoryAs Print PrintPreview DoseReport ArchiveDatabase" + always;
        QTest::newRow("main remote offline day") << false << false << false << "day"
                                                 << "ImportHistory ExportHistory SaveHistoryAs DownloadHistory Print "
                                                    "PrintPreview DoseReport ArchiveDatabase ReadHistory"
                + always;
        QTest::newRow("main remote online instrument")
            << false << false << true << "instrument"
            << "ImportHistory ArchiveDatabase OnlineMode ReadHistory InstrumentSettings" + always;
        QTest::newRow("archive local online row")
            << true << true << true << "row"
            << "ExportHistory SaveHistoryAs Print PrintPreview DoseReport SwitchToMain OnlineMode InstrumentSettings"
                + always;
        QTest::newRow("archive remote offline day")
            << true << false << false << "day"
            << "ExportHistory SaveHistoryAs Print PrintPreview DoseReport SwitchToMain" + always;
    }

    // Every command across the states that decide it, read from the real actions.
    void enablement()
    {
        QFETCH(bool, archive);
        QFETCH(bool, local);
        QFETCH(bool, connected);
        QFETCH(QString, selected);
        QFETCH(QString, expected);

        if (selected == u"instrument")
            select(Id1);
        else if (selected == u"day" || selected == u"row")
            select(Id1, at(2, 0));
        if (archive) {
            m_doc->setArchivePath(m_home.filePath(QStringLiteral("some-archive.db")));
            tree().databaseChanged();
        }
        m_doc->state().localMode = local;
        m_doc->state().setConnected(connected);
        if (selected == u"row") {
            const QRect row = list().visualRect(list().model()->index(1, 0));
            QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, row.center());
            QCOMPARE(list().chosenRow(), archive ? -1 : 1); // clicks are ignored on an archive
        }
        m_frame->updateCommands();

        QStringList want = expected.split(u' ', Qt::SkipEmptyParts);
        QStringList got = enabledCommands(*m_frame);
        want.sort();
        got.sort();
        QCOMPARE(got, want);
    }

    // While an operation waits for its job only Exit and About can run.
    void nothingStartsWhileBusy()
    {
        m_doc->state().setConnected(true);
        select(Id1, at(2, 0)); // rows to edit
        QStringList during;
        bool editedWhileBusy = true;
        bool renamedWhileBusy = true;
        ModalAnswerer answerer; // closes a dialog that should not have opened
        auto connection = connect(&m_frame->messenger(), &WidgetMessenger::progressChanged, this, [&](bool shown) {
            if (shown && during.isEmpty()) {
                during = enabledCommands(*m_frame);
                // Neither a comment nor a name goes to the store meanwhile.
                list().chooseRow(0);
                editedWhileBusy = list().editComment();
                tree().edit(treeModel().indexOf(Id1));
                renamedWhileBusy = tree().viewport()->findChild<QLineEdit*>() != nullptr;
            }
        });
        m_doc->pagers().find(Id2)->days(); // the day of Id2 is not loaded yet: selecting it runs a job
        select(Id2, at(1, 0));
        disconnect(connection);
        QCOMPARE(list().model()->rowCount(), 2);
        QCOMPARE(during, QStringList({ QStringLiteral("Exit"), QStringLiteral("About") }));
        QVERIFY(!editedWhileBusy);
        QVERIFY(!renamedWhileBusy);
        QVERIFY(answerer.unexpected.isEmpty());
        QVERIFY(enabledCommands(*m_frame).contains(QStringLiteral("ReadHistory")));
    }

    void treeMenu_data()
    {
        QTest::addColumn<bool>("local");
        QTest::addColumn<bool>("archive");
        QTest::addColumn<bool>("day");
        QTest::addColumn<QStringList>("enabled");
        QTest::newRow("local day") << true << false << true << QStringList { QStringLiteral("&Export") };
        QTest::newRow("local instrument") << true << false << false << QStringList { QStringLiteral("Re&name") };
        QTest::newRow("remote day") << false << false << true
                                    << QStringList { QStringLiteral("&Export"), QStringLiteral("Download") };
        QTest::newRow("remote instrument") << false << false << false << QStringList { QStringLiteral("Re&name") };
        QTest::newRow("archive remote day") << false << true << true << QStringList { QStringLiteral("&Export") };
        QTest::newRow("archive instrument") << true << true << false << QStringList {};
    }

    // The right button on a node selects it and opens the menu with the items that apply.
    void treeMenu()
    {
        QFETCH(bool, local);
        QFETCH(bool, archive);
        QFETCH(bool, day);
        QFETCH(QStringList, enabled);
        m_doc->state().localMode = local;
        if (archive)
            m_doc->setArchivePath(m_home.filePath(QStringLiteral("some-archive.db")));
        select(Id2);
        const QModelIndex node = treeModel().indexOf(Id1, day ? at(1, 0) : 0);
        QCOMPARE(menuItemsOn(node), enabled);
        QCOMPARE(tree().currentIndex(), node);
        QCOMPARE(m_doc->state().currentInstrument(), Id1);
    }

    // Renaming in place; a name another instrument has asks first, and Cancel keeps the name.
    void rename()
    {
        const QModelIndex node = treeModel().indexOf(Id1);
        auto renameTo = [&](const QString& name) {
            select(Id1);
            tree().renameSelected();
            QPointer<QLineEdit> editor = tree().viewport()->findChild<QLineEdit*>();
            QVERIFY(editor);
            editor->selectAll();
            QTest::keyClicks(editor, name);
            QTest::keyClick(editor, Qt::Key_Return); // the delegate commits from the event loop
            QTRY_VERIFY(!editor); // closed and deleted
        };
        renameTo(QStringLiteral("Alpha"));
        QCOMPARE(node.data().toString(), QStringLiteral("Alpha"));

        ModalAnswerer answerer;
        answerer.thenBox(QMessageBox::Cancel);
        // Id2 carries the name "Beta" in the store and the name table.
        m_doc->pagers().find(Id2)->setName(QStringLiteral("Beta"));
        m_doc->pagers().setTableName(Id2, QStringLiteral("Beta"));
        treeModel().rebuild(m_doc->pagers());
        renameTo(QStringLiteral("Beta"));
        QCOMPARE(answerer.texts, QStringList { QStringLiteral("This name already exists. Do you want to rename?") });
        QCOMPARE(treeModel().indexOf(Id1).data().toString(), QStringLiteral("Alpha"));

        answerer.thenBox(QMessageBox::Ok);
        renameTo(QStringLiteral("Beta"));
        QCOMPARE(treeModel().indexOf(Id1).data().toString(), QStringLiteral("Beta"));
        QVERIFY(answerer.unexpected.isEmpty());
        CPagerList stored;
        QVERIFY(m_context->store().current()->loadInstrumentNames(stored));
        QCOMPARE(stored.tableName(Id1), QStringLiteral("Beta"));

        // No renaming while an archive is shown.
        m_doc->setArchivePath(m_home.filePath(QStringLiteral("some-archive.db")));
        tree().databaseChanged();
        select(Id1);
        tree().renameSelected();
        QVERIFY(
            !tree().viewport()->findChild<QLineEdit*>() || !tree().viewport()->findChild<QLineEdit*>()->isVisible());
    }

    // Ctrl+D is Instrument Settings behind the password, once per run; Ctrl+V does nothing.
    void keys()
    {
        QSignalSpy opened(m_frame.get(), &CMainFrame::dialogOpened);
        select(Id1, at(2, 0));
        pressCtrl(Qt::Key_D); // not connected: nothing
        QCOMPARE(opened.count(), 0);

        m_doc->state().setConnected(true);
        m_context->config().passwordDigest = Password::digest(QStringLiteral("abc"));
        ModalAnswerer answerer;
        answerer.thenPassword(QStringLiteral("xyz"));
        answerer.thenBox(QMessageBox::Ok);
        pressCtrl(Qt::Key_D);
        QCOMPARE(answerer.texts,
            QStringList({ QStringLiteral("Authorization check"), QStringLiteral("Incorrect password!") }));
        QCOMPARE(opened.count(), 0);

        answerer.thenPassword(QString(), false); // Cancel
        pressCtrl(Qt::Key_D);
        QVERIFY(answerer.done());
        QCOMPARE(opened.count(), 0);

        // The dialog opens and reads the instrument, which is not there.
        const QString readFailed = QStringLiteral("Error during instrument settings reading!");
        answerer.thenPassword(QStringLiteral("abc"));
        answerer.thenBox(QMessageBox::Ok);
        pressCtrl(Qt::Key_D);
        QVERIFY(answerer.done());
        QCOMPARE(opened.count(), 1);
        QCOMPARE(opened.at(0).at(0).toString(), QStringLiteral("DeviceConfig"));
        QCOMPARE(answerer.texts.last(), readFailed);
        answerer.thenBox(QMessageBox::Ok);
        pressCtrl(Qt::Key_D); // no second prompt
        QVERIFY(answerer.done());
        QCOMPARE(opened.count(), 2);
        const QString prompt = QStringLiteral("Authorization check");
        QCOMPARE(answerer.texts,
            QStringList({ prompt, QStringLiteral("Incorrect password!"), prompt, prompt, readFailed, readFailed }));

        // Print Preview is enabled (once the port's closing has ended), but its key is taken by
        // an entry without a handler.
        QTRY_VERIFY(m_frame->action(Command::PrintPreview)->isEnabled());
        pressCtrl(Qt::Key_V);
        QCOMPARE(opened.count(), 2);
        QVERIFY(answerer.unexpected.isEmpty());
        m_context->config().passwordDigest.clear();
    }

    // Double-click edits the comment (80 characters at most); the store and the row follow.
    void editComment()
    {
        select(Id1, at(1, 0));
        const QRect row = list().visualRect(list().model()->index(0, 0));
        const ChistoryRec top = list().eventModel().recordAt(0);
        const QString typed = QString(100, u'c');
        ModalAnswerer answerer;
        answerer.then([&](QWidget* w) {
            auto* dialog = qobject_cast<CEditComment*>(w);
            QVERIFY(dialog);
            dialog->editor()->clear();
            QTest::keyClicks(dialog->editor(), typed);
            dialog->accept();
        });
        // The double click as the platform delivers it: press, release, then the double click.
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, row.center());
        QTest::mouseDClick(list().viewport(), Qt::LeftButton, {}, row.center());
        QVERIFY(answerer.done());
        const QString expected(CEditComment::MaxLength, u'c');
        QCOMPARE(list().eventModel().recordAt(0).hComment, expected);
        QCOMPARE(list().model()->index(0, EventListModel::Comment).data().toString(), expected);
        const CHistoryList stored = storedDay(m_context->store(), Id1, at(1, 0));
        const ChistoryRec* mine = stored.findEqual(top);
        QVERIFY(mine);
        QCOMPARE(mine->hComment, expected);

        // Edit Comment on the clicked row, cancelled: nothing changes.
        answerer.then([](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
        pressCtrl(Qt::Key_M);
        QVERIFY(answerer.done());
        QCOMPARE(list().eventModel().recordAt(0).hComment, expected);
    }

    // Edit Comment edits the event the person chose, by mouse or keyboard, even when new
    // events have come in as top rows since.
    void editCommentFollowsTheChosenEvent()
    {
        select(Id1, at(2, 0));
        QVERIFY(list().model()->rowCount() >= 3);
        const auto editTo = [&](const QString& text) {
            ModalAnswerer answerer;
            answerer.then([&](QWidget* w) {
                auto* dialog = qobject_cast<CEditComment*>(w);
                QVERIFY(dialog);
                dialog->editor()->setText(text);
                dialog->accept();
            });
            pressCtrl(Qt::Key_M);
            QVERIFY(answerer.done());
        };
        const auto storedComment = [&](const ChistoryRec& r) {
            const CHistoryList stored = storedDay(m_context->store(), Id1, at(2, 0));
            const ChistoryRec* mine = stored.findEqual(r);
            return mine ? mine->hComment : QStringLiteral("<missing>");
        };

        // Chosen with the mouse, then two events arrive at the top.
        const QRect row = list().visualRect(list().model()->index(1, 0));
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, row.center());
        const ChistoryRec clicked = list().eventModel().recordAt(1);
        list().insertEvents({ makeEvent(Id1, at(2, 23 * 3600)), makeEvent(Id1, at(2, 23 * 3600 + 1)) });
        QCOMPARE(list().chosenRow(), 3);
        editTo(QStringLiteral("chosen by mouse"));
        QCOMPARE(storedComment(clicked), QStringLiteral("chosen by mouse"));
        QCOMPARE(list().eventModel().recordAt(3).hComment, QStringLiteral("chosen by mouse"));
        QVERIFY(list().eventModel().recordAt(1).hComment != QStringLiteral("chosen by mouse"));

        // Chosen with the keyboard alone.
        list().setFocus();
        QTest::keyClick(list().viewport(), Qt::Key_Down);
        QTest::keyClick(list().viewport(), Qt::Key_Down);
        QCOMPARE(list().chosenRow(), 5);
        m_frame->updateCommands();
        QVERIFY(enabledCommands(*m_frame).contains(QStringLiteral("EditComment")));
        const ChistoryRec keyed = list().eventModel().recordAt(5);
        editTo(QStringLiteral("chosen by keyboard"));
        QCOMPARE(storedComment(keyed), QStringLiteral("chosen by keyboard"));
        QCOMPARE(storedComment(clicked), QStringLiteral("chosen by mouse"));
    }

    // A client changes a comment through this station (request 10): the station's row follows.
    void commentFromClient()
    {
        select(Id1, at(2, 0));
        ChistoryRec record = list().eventModel().recordAt(2);
        record.hComment = QStringLiteral("checked by the client");
        bool sent = false;
        bool done = false;
        std::thread client([&] {
            RemoteClient client(QStringLiteral("127.0.0.1"), m_frame->server()->port());
            sent = client.updateComment(record);
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 30000);
        client.join();
        QVERIFY(sent);
        QCOMPARE(list().model()->index(2, EventListModel::Comment).data().toString(), record.hComment);
        QCOMPARE(storedDay(m_context->store(), Id1, at(2, 0)).findEqual(record)->hComment, record.hComment);
    }

    // The file commands through their dialogs: export under the filter, import of an unknown
    // instrument, archive, viewing the archive and back. (Last: archiving removes old events.)
    void fileCommands()
    {
        ModalAnswerer answerer;
        auto chooseFile = [&](const QString& path) {
            answerer.then([this, path, &answerer](QWidget* w) {
                auto* dialog = qobject_cast<QFileDialog*>(w);
                if (!dialog) {
                    answerer.unexpected << w->metaObject()->className();
                    w->close();
                    return;
                }
                answerer.texts << dialog->directory().dirName();
                // Typed as a whole path, as a person may: selecting a file in another folder
                // would race with the dialog's own loading of that folder.
                auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                QVERIFY(name);
                name->setText(path);
                static_cast<QDialog*>(dialog)->accept(); // as the dialog's own button does
            });
        };
        auto countInFile = [](const QString& path) {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                return -1;
            const QByteArray bytes = f.readAll();
            return bytes.size() < 22 ? -1 : qFromLittleEndian<qint32>(bytes.constData() + 18);
        };

        select(Id1, at(2, 0));
        chooseFile(m_home.filePath(QStringLiteral("all.ksexp")));
        pressCtrl(Qt::Key_E);
        QCOMPARE(countInFile(m_home.filePath(QStringLiteral("all.ksexp"))), 5);
        m_frame->filterBox().setCurrentIndex(1);
        chooseFile(m_home.filePath(QStringLiteral("alarms.ksexp")));
        pressCtrl(Qt::Key_E);
        QCOMPARE(countInFile(m_home.filePath(QStringLiteral("alarms.ksexp"))), 2);
        m_frame->filterBox().setCurrentIndex(0);
        QCOMPARE(answerer.texts, QStringList({ QStringLiteral("Archives"), QStringLiteral("Archives") }));

        // An export file of an instrument the store does not know gets its node on import.
        const QString id3 = QStringLiteral("KESTRA #100003");
        CHistoryList foreign;
        foreign.addRecord(makeEvent(id3, at(1, 600)));
        QVERIFY(
            HistoryFiles::exportDay(m_context->messenger(), &foreign, m_home.filePath(QStringLiteral("id3.ksexp")), 0));
        chooseFile(m_home.filePath(QStringLiteral("id3.ksexp")));
        pressCtrl(Qt::Key_I);
        QVERIFY(treeModel().indexOf(id3, at(1, 0)).isValid());

        const QString archive = m_home.filePath(QStringLiteral("Archives/copy.db"));
        chooseFile(archive);
        answerer.thenBox(QMessageBox::Ok);
        pressCtrl(Qt::Key_A);
        QVERIFY(answerer.done());
        QCOMPARE(answerer.texts.last(), QStringLiteral("Database is successfully archived"));
        QVERIFY(QFile::exists(archive));

        chooseFile(archive);
        pressCtrl(Qt::Key_O);
        QVERIFY(answerer.done());
        QCOMPARE(m_doc->archivePath(), archive);
        QVERIFY(!m_frame->action(Command::ImportHistory)->isEnabled());
        QVERIFY(!m_frame->action(Command::ArchiveDatabase)->isEnabled());
        QVERIFY(m_frame->action(Command::SwitchToMain)->isEnabled());
        QCOMPARE(treeModel().rowCount(), 3);
        select(Id1, at(2, 0)); // the archive still holds the old day
        QCOMPARE(list().model()->rowCount(), 5);

        QVERIFY(m_frame->runCommand(Command::SwitchToMain));
        QVERIFY(m_doc->mainDatabaseShown());
        QVERIFY(m_frame->action(Command::ImportHistory)->isEnabled());
        QVERIFY(!treeModel().indexOf(Id1, at(2, 0)).isValid()); // archived away from the main store
        QVERIFY(answerer.unexpected.isEmpty());
        QCOMPARE(QDir::currentPath() + u'/', m_context->folder().path());
    }

    // The print dialog offers the list's pages; a print that cannot be written is reported.
    void printFailureIsReported()
    {
        select(Id1, at(1, 0));
        const QString nowhere = m_home.filePath(QStringLiteral("missing-folder/list.pdf"));
        int maxPage = -1;
        ModalAnswerer answerer;
        answerer.then([&](QWidget* w) {
            auto* dialog = qobject_cast<QPrintDialog*>(w);
            QVERIFY(dialog);
            maxPage = dialog->maxPage();
            dialog->printer()->setOutputFileName(nowhere);
            if (auto* file = dialog->findChild<QLineEdit*>(QStringLiteral("filename")))
                file->setText(nowhere);
            dialog->accept();
        });
        answerer.thenBox(QMessageBox::Ok);
        QVERIFY(m_frame->runCommand(Command::Print));
        QTRY_VERIFY(answerer.done());
        QCOMPARE(maxPage, 1);
        QCOMPARE(answerer.texts, QStringList { QStringLiteral("The list could not be printed to %1.").arg(nowhere) });
        QVERIFY(answerer.unexpected.isEmpty());
    }

    // Refusing the question keeps the window.
    void exitRefused()
    {
        ModalAnswerer answerer;
        answerer.thenBox(QMessageBox::Cancel);
        QVERIFY(!m_frame->close());
        QCOMPARE(answerer.texts, QStringList { QStringLiteral("Do you want to exit?") });
        QVERIFY(m_frame->isVisible());
    }
};

QTEST_MAIN(MainFrameTest)
#include "tst_mainframe.moc"
