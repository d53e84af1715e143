// The password prompt and the new-password dialog, through their widgets, and the change of
// password from the program settings.
#include "config/password.h"
#include "config/programconfig.h"
#include "dialogtestkit.h"
#include "ui/dialogs/enternewpassword.h"
#include "ui/dialogs/enterpassword.h"
#include "ui/dialogs/programsettings.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class PasswordsTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_config = ProgramConfig();
        m_config.iniPath = m_dir.filePath(QStringLiteral("KESTRA.ini"));
        QFile::remove(m_config.iniPath);
        m_messenger.clear();
    }

    // The prompt yields the digest of what was typed, or nothing for an empty entry; a
    // password of three characters enters the digest with its first three bytes only.
    void promptValue_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("three characters") << QStringLiteral("abc") << Password::digest(QStringLiteral("abc"));
    }
    void promptValue()
    {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        CEnterPassword prompt;
        QCOMPARE(prompt.windowTitle(), QStringLiteral("Authorization check"));
        QCOMPARE(prompt.passwordEdit()->echoMode(), QLineEdit::Password);
        prompt.passwordEdit()->insert(typed);
        prompt.accept();
        QCOMPARE(prompt.result(), int(QDialog::Accepted));
        QCOMPARE(prompt.promptValue(), expected);
        if (!typed.isEmpty())
            QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(prompt.promptValue()).hasMatch());
    }

    // OK follows the two entries: disabled while they differ by one character or the first
    // is empty.
    void newPasswordOkFollowsTheEntries()
    {
        CEnterNewPassword dialog(m_config, m_messenger);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("New password"));
        QVERIFY(!dialog.okButton()->isEnabled());
        QTest::keyClicks(dialog.newEdit(), QStringLiteral("secret"));
        QVERIFY(!dialog.okButton()->isEnabled());
        QTest::keyClicks(dialog.confirmEdit(), QStringLiteral("secreT"));
        QVERIFY(!dialog.okButton()->isEnabled());
        QTest::keyClick(dialog.confirmEdit(), Qt::Key_Backspace);
        QTest::keyClicks(dialog.confirmEdit(), QStringLiteral("t"));
        QVERIFY(dialog.okButton()->isEnabled());
        QTest::keyClicks(dialog.newEdit(), QStringLiteral("x"));
        QVERIFY(!dialog.okButton()->isEnabled());
        dialog.newEdit()->clear();
        dialog.confirmEdit()->clear();
        QVERIFY(!dialog.okButton()->isEnabled());

        // Enter in an edit reaches OK even while it is disabled: refused, nothing stored.
        QTest::keyClicks(dialog.newEdit(), QStringLiteral("a"));
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(m_config.passwordDigest.isEmpty());
        QCOMPARE(m_messenger.messages, QStringList { QStringLiteral("Error!|Error: Incorrect password!") });
    }

    // A new password is stored as its digest and the configuration file is written.
    void newPasswordIsSaved()
    {
        CEnterNewPassword dialog(m_config, m_messenger);
        QTest::keyClicks(dialog.newEdit(), QStringLiteral("kestra"));
        QTest::keyClicks(dialog.confirmEdit(), QStringLiteral("kestra"));
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(m_messenger.messages,
            QStringList { QStringLiteral("KESTRA Software|Password has been changed successfully!") });
        ProgramConfig reread;
        QVERIFY(reread.load(m_config.iniPath));
        QCOMPARE(reread.passwordDigest, Password::digest(QStringLiteral("kestra")));
    }

    // Change password from the program settings: the current password first when one is set.
    // Two two-letter passwords with the same first letter have the same digest, so each opens
    // the other; a wrong one ends the change with its message.
    void changePasswordAsksForTheCurrentOne()
    {
        m_config.passwordDigest = Password::digest(QStringLiteral("ab"));
        CProgramSettings settings(
            m_config, m_messenger, nullptr, PortDiscovery(m_dir.filePath("nosys"), m_dir.filePath("nodev")));
        m_messenger.clear();

        onNextModal<CEnterPassword>([](CEnterPassword* prompt) {
            QTest::keyClicks(prompt->passwordEdit(), QStringLiteral("ac"));
            prompt->accept();
        });
        bool newDialogShown = false;
        onNextModal<CEnterNewPassword>([&newDialogShown](CEnterNewPassword* dialog) {
            newDialogShown = true;
            QTest::keyClicks(dialog->newEdit(), QStringLiteral("xyz"));
            QTest::keyClicks(dialog->confirmEdit(), QStringLiteral("xyz"));
            QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
        });
        settings.changePassword();
        QVERIFY(newDialogShown);
        QCOMPARE(m_config.passwordDigest, Password::digest(QStringLiteral("xyz")));

        // A wrong current password: the message, and no new-password dialog.
        m_messenger.clear();
        onNextModal<CEnterPassword>([](CEnterPassword* prompt) {
            QTest::keyClicks(prompt->passwordEdit(), QStringLiteral("ab"));
            prompt->accept();
        });
        settings.changePassword();
        QCOMPARE(m_messenger.messages, QStringList { QStringLiteral("KESTRA Software|Incorrect password!") });
        QCOMPARE(m_config.passwordDigest, Password::digest(QStringLiteral("xyz")));

        // Cancel at the prompt changes nothing and says nothing.
        m_messenger.clear();
        onNextModal<CEnterPassword>([](CEnterPassword* prompt) { prompt->reject(); });
        settings.changePassword();
        QVERIFY(m_messenger.messages.isEmpty());
    }

private:
    QTemporaryDir m_dir;
    ProgramConfig m_config;
    RecordingMessenger m_messenger;
};

QTEST_MAIN(PasswordsTest)
#include "tst_passwords.moc"
